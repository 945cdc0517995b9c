// Our own private-profile reader and writer, following the observable rules
// of the Windows functions (see ini.h). Files are small: each call reads the
// whole file, and each write rewrites it.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "platform/ini.h"
#include "platform/platform.h"
#include "platform/posix/ascii_case.h"

namespace feedlet {
namespace platform {

namespace {

// Far beyond any configuration file; a larger one reads as unreadable.
constexpr size_t kMaxFileBytes = size_t{1} << 30;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

bool SameName(const std::string& a, const char* b) {
    return a.size() == std::strlen(b) && EqualIgnoringAsciiCase(a.data(), b, a.size());
}

// The file's lines, without their line ends. Read through ReadWholeFile, so
// that running out of memory is told from a file that cannot be read: the
// first throws std::bad_alloc, the second reads as no file.
std::vector<std::string> ReadLines(const char* file, bool* exists) {
    unsigned char* data = nullptr;
    size_t length = 0;
    FileStatus status = ReadWholeFile(file, kMaxFileBytes, 0, &data, &length);
    if (status == FileStatus::kNoMemory) throw std::bad_alloc();
    *exists = status == FileStatus::kOk;
    std::unique_ptr<unsigned char, decltype(&free)> owned(data, &free);
    std::vector<std::string> lines;
    const char* p = reinterpret_cast<const char*>(data);
    const char* end = p + length;
    while (p < end) {
        const char* newline = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        const char* stop = newline ? newline : end;
        const char* line_end = stop > p && stop[-1] == '\r' ? stop - 1 : stop;
        lines.emplace_back(p, line_end);
        p = newline ? newline + 1 : end;
    }
    return lines;
}

// The name of a section header line, or false when the line is not one.
bool SectionName(const std::string& line, std::string* name) {
    size_t start = 0;
    while (start < line.size() && IsBlank(line[start])) ++start;
    if (start >= line.size() || line[start] != '[') return false;
    size_t close = line.find(']', start + 1);
    *name = line.substr(start + 1, close == std::string::npos ? std::string::npos : close - start - 1);
    return true;
}

// Splits a key line at its first '='; false for lines without one.
bool KeyValue(const std::string& line, std::string* key, std::string* value) {
    size_t equals = line.find('=');
    if (equals == std::string::npos) return false;
    *key = Trim(line.substr(0, equals));
    *value = Trim(line.substr(equals + 1));
    return true;
}

struct Location {
    long section = -1;    // header line of the first matching section
    long section_end = -1;  // first line after it (next header or end)
    long last_entry = -1;   // last non-blank line of the section
    long key = -1;        // line of the first matching key in that section
};

Location Find(const std::vector<std::string>& lines, const char* section, const char* key) {
    Location at;
    std::string name;
    for (size_t i = 0; i < lines.size(); ++i) {
        bool header = SectionName(lines[i], &name);
        if (at.section >= 0) {
            if (header) {
                at.section_end = static_cast<long>(i);
                return at;
            }
            if (!Trim(lines[i]).empty()) at.last_entry = static_cast<long>(i);
            std::string k, v;
            if (at.key < 0 && key && KeyValue(lines[i], &k, &v) && SameName(k, key))
                at.key = static_cast<long>(i);
        } else if (header && SameName(name, section)) {
            at.section = static_cast<long>(i);
            at.last_entry = static_cast<long>(i);
        }
    }
    if (at.section >= 0) at.section_end = static_cast<long>(lines.size());
    return at;
}

// What a deletion with nothing to delete answers, as the system's function
// does: success without writing anything, unless the file's folder is
// missing.
bool NothingToDelete(const char* file, bool exists) {
    if (exists) return true;
    const char* slash = std::strrchr(file, '/');
    std::string folder = slash ? std::string(file, static_cast<size_t>(slash - file) + 1) : std::string(".");
    struct stat info;
    return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool WriteLines(const char* file, const std::vector<std::string>& lines) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    for (const std::string& line : lines) out << line << "\r\n";
    return static_cast<bool>(out.flush());
}

}  // namespace

size_t IniReadString(const char* file, const char* section, const char* key,
                     const char* default_value, char* buffer, size_t size) {
    if (!buffer || size == 0) return 0;
    std::string value = default_value ? default_value : "";
    bool exists = false;
    if (file && section && key) {
        std::vector<std::string> lines = ReadLines(file, &exists);
        Location at = Find(lines, section, key);
        std::string k;
        if (at.key >= 0 && KeyValue(lines[static_cast<size_t>(at.key)], &k, &value)) {
            // The system's functions hand a value out as a C string: a NUL
            // byte in the file ends it, before the quotes are looked at.
            value.resize(std::min(value.size(), value.find('\0')));
            // One pair of enclosing quotation marks is removed.
            if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
                value = value.substr(1, value.size() - 2);
        }
    }
    size_t n = value.size() < size - 1 ? value.size() : size - 1;
    std::memcpy(buffer, value.data(), n);
    buffer[n] = 0;
    return n;
}

bool IniWriteString(const char* file, const char* section, const char* key, const char* value) {
    if (!file || !section) return false;
    bool exists = false;
    std::vector<std::string> lines = ReadLines(file, &exists);
    Location at = Find(lines, section, key);
    if (!key) {
        // A null key deletes the whole section.
        if (at.section < 0) return NothingToDelete(file, exists);
        lines.erase(lines.begin() + at.section, lines.begin() + at.section_end);
        return WriteLines(file, lines);
    }
    std::string entry = std::string(key) + "=" + (value ? value : "");
    if (at.key >= 0) {
        if (value) lines[static_cast<size_t>(at.key)] = entry;
        else lines.erase(lines.begin() + at.key);
    } else if (!value) {
        return NothingToDelete(file, exists);
    } else if (at.section >= 0) {
        lines.insert(lines.begin() + at.last_entry + 1, entry);
    } else {
        lines.push_back("[" + std::string(section) + "]");
        lines.push_back(entry);
    }
    return WriteLines(file, lines);
}

}  // namespace platform
}  // namespace feedlet
