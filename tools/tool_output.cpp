#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/codepage.h"
#include "core/encoding.h"
#include "core/text_field.h"
#include "tool.h"

namespace feedlet {
namespace tool {

std::string Utf8(const char16_t* text) {
    return text ? Utf16ToUtf8(text, Utf16Length(text), LoneSurrogates::kReplace) : std::string();
}

std::string JsonString(const char16_t* text) {
    std::string out = "\"";
    for (const char16_t* p = text; p && *p;) {
        uint32_t code_point;
        p += NextUtf16(p, &code_point);
        switch (code_point) {
            case '"': out += "\\\""; continue;
            case '\\': out += "\\\\"; continue;
            case '\n': out += "\\n"; continue;
            case '\r': out += "\\r"; continue;
            case '\t': out += "\\t"; continue;
            default: break;
        }
        // Lone surrogates too are escaped, so nothing is lost.
        if (code_point < 0x20 || IsSurrogate(code_point)) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(code_point));
            out += escape;
        } else {
            AppendUtf8(out, code_point);
        }
    }
    out += "\"";
    return out;
}

std::string JsonStringOrNull(const char16_t* text) { return text ? JsonString(text) : "null"; }

std::u16string FromCommandLine(const char* argument) {
    if (!argument) return std::u16string();
#ifdef _WIN32
    char16_t* text = CodePageToUtf16(kCodePageShiftJis, argument);
#else
    char16_t* text = DecodeUtf8(argument);
#endif
    std::u16string out = text ? text : u"";
    free(text);
    return out;
}

void Print(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

}  // namespace tool
}  // namespace feedlet
