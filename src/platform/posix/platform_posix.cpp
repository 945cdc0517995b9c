// POSIX implementation of the platform layer: iconv for the code pages,
// clock_gettime for the clock, pthread mutexes with Win32 mutex semantics and
// std::thread for detached workers. May contain only OS plumbing.
#include "platform/platform.h"

#include <cerrno>
#include <climits>
#include <clocale>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <iconv.h>
#include <memory>
#include <mutex>
#include <atomic>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <fcntl.h>

namespace feedlet {
namespace platform {

// ---------------------------------------------------------------------------
// Code pages

namespace {

constexpr char16_t kUndecodable = 0x30FB;  // what Windows gives for bad 932 bytes

class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv() { if (ok()) iconv_close(cd_); }
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }
private:
    iconv_t cd_;
};

// Decodes CP932 bytes to UTF-16, replacing what iconv rejects one byte at a time.
bool DecodeShiftJis(const char* in, size_t in_len, std::u16string& out) {
    Iconv cd("UTF-16LE", "CP932");
    if (!cd.ok()) return false;
    out.clear();
    char buffer[4096];
    while (in_len > 0) {
        char* in_ptr = const_cast<char*>(in);
        char* out_ptr = buffer;
        size_t out_left = sizeof buffer;
        size_t rc = iconv(cd.get(), &in_ptr, &in_len, &out_ptr, &out_left);
        size_t produced = static_cast<size_t>(out_ptr - buffer) / 2;
        for (size_t i = 0; i < produced; ++i) {
            char16_t unit;
            std::memcpy(&unit, buffer + 2 * i, 2);
            out.push_back(unit);
        }
        in = in_ptr;
        if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
            // A lead byte with a bad trail byte is consumed with it, like Windows.
            unsigned char lead = static_cast<unsigned char>(*in);
            size_t skip = 1;
            bool is_lead = (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC);
            if (is_lead && in_len >= 2 && static_cast<unsigned char>(in[1]) >= 0x40) skip = 2;
            out.push_back(kUndecodable);
            in += skip;
            in_len -= skip;
            iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
        }
    }
    return true;
}

bool EncodeShiftJis(const char16_t* in, size_t in_len, std::string& out) {
    Iconv cd("CP932", "UTF-16LE");
    if (!cd.ok()) return false;
    out.clear();
    std::string bytes(reinterpret_cast<const char*>(in), in_len * 2);
    char* in_ptr = bytes.data();
    size_t in_left = bytes.size();
    char buffer[4096];
    while (in_left > 0) {
        char* out_ptr = buffer;
        size_t out_left = sizeof buffer;
        size_t rc = iconv(cd.get(), &in_ptr, &in_left, &out_ptr, &out_left);
        out.append(buffer, static_cast<size_t>(out_ptr - buffer));
        if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
            // Unmappable character: one '?' per UTF-16 unit, as Windows
            // writes a character outside the BMP as "??".
            size_t skip = 2;
            out.push_back('?');
            in_ptr += skip;
            in_left = in_left >= skip ? in_left - skip : 0;
            iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
        }
    }
    return true;
}

template <typename Unit>
int CopyOut(const std::basic_string<Unit>& result, Unit* destination, int capacity) {
    if (result.size() > static_cast<size_t>(INT_MAX)) return 0;
    int needed = static_cast<int>(result.size());
    if (capacity == 0) return needed;
    if (!destination || capacity < needed) return 0;
    std::memcpy(destination, result.data(), result.size() * sizeof(Unit));
    return needed;
}

}  // namespace

int MultiByteToUtf16(unsigned code_page, const char* source, int source_length,
                     char16_t* destination, int capacity) {
    if (!source || capacity < 0 || source_length < -1) return 0;
    size_t length = source_length == -1 ? std::strlen(source) + 1 : static_cast<size_t>(source_length);
    if (length == 0) return 0;
    std::u16string result;
    if (code_page != kCodePageShiftJis || !DecodeShiftJis(source, length, result)) return 0;
    return CopyOut(result, destination, capacity);
}

int Utf16ToMultiByte(unsigned code_page, const char16_t* source, int source_length,
                     char* destination, int capacity) {
    if (!source || capacity < 0 || source_length < -1) return 0;
    size_t length = 0;
    if (source_length == -1) {
        while (source[length]) ++length;
        ++length;
    } else {
        length = static_cast<size_t>(source_length);
    }
    if (length == 0) return 0;
    std::string result;
    if (code_page != kCodePageShiftJis || !EncodeShiftJis(source, length, result)) return 0;
    return CopyOut(result, destination, capacity);
}

// ---------------------------------------------------------------------------
// Clock

CalendarTime SystemTimeUtc() {
    time_t now = time(nullptr);
    struct tm fields;
    gmtime_r(&now, &fields);
    return CalendarTime{fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday,
                        fields.tm_hour, fields.tm_min, fields.tm_sec};
}

uint32_t TickCount() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

void SleepMilliseconds(uint32_t milliseconds) {
    struct timespec ts;
    ts.tv_sec = milliseconds / 1000;
    ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) == -1 && errno == EINTR) {
    }
}

int64_t WallClockSeconds() { return static_cast<int64_t>(time(nullptr)); }

void SetUserTimeLocale() { setlocale(LC_TIME, ""); }

size_t FormatTime(char16_t* buffer, size_t capacity, const char16_t* format, const void* tm_fields) {
    if (!buffer || capacity == 0 || !format || !tm_fields) return 0;
    // wchar_t is UTF-32 here: widen the format, format, then narrow to UTF-16.
    std::wstring wide_format;
    for (const char16_t* p = format; *p; ++p) wide_format.push_back(static_cast<wchar_t>(*p));
    wchar_t scratch[512];
    size_t n = wcsftime(scratch, sizeof scratch / sizeof scratch[0], wide_format.c_str(),
                        static_cast<const struct tm*>(tm_fields));
    size_t used = 0;
    for (size_t i = 0; i < n; ++i) {
        uint32_t cp = static_cast<uint32_t>(scratch[i]);
        size_t need = cp > 0xFFFF ? 2 : 1;
        if (used + need + 1 > capacity) { buffer[0] = 0; return 0; }
        if (cp > 0xFFFF) {
            cp -= 0x10000;
            buffer[used++] = static_cast<char16_t>(0xD800 + (cp >> 10));
            buffer[used++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            buffer[used++] = static_cast<char16_t>(cp);
        }
    }
    buffer[used] = 0;
    return used;
}

// ---------------------------------------------------------------------------
// Mutex: recursive like a Win32 mutex. The owner and depth are tracked here
// so that closing a mutex its owner still holds (as shutdown does) releases
// it properly before it is destroyed.

namespace {
struct MutexImpl {
    std::mutex mutex;
    std::atomic<std::thread::id> owner{};
    unsigned depth = 0;  // touched only by the owner
};
}  // namespace

Mutex::~Mutex() { Close(); }

bool Mutex::Create(const char* /*name: only Windows mutexes are named*/) {
    if (handle_) return true;
    handle_ = new (std::nothrow) MutexImpl;
    return handle_ != nullptr;
}

bool Mutex::Lock() {
    auto* m = static_cast<MutexImpl*>(handle_);
    if (!m) return false;
    if (m->owner.load() == std::this_thread::get_id()) {
        ++m->depth;
        return true;
    }
    m->mutex.lock();
    m->owner.store(std::this_thread::get_id());
    m->depth = 1;
    return true;
}

bool Mutex::TryLock() {
    auto* m = static_cast<MutexImpl*>(handle_);
    if (!m) return false;
    if (m->owner.load() == std::this_thread::get_id()) {
        ++m->depth;
        return true;
    }
    if (!m->mutex.try_lock()) return false;
    m->owner.store(std::this_thread::get_id());
    m->depth = 1;
    return true;
}

void Mutex::Unlock() {
    auto* m = static_cast<MutexImpl*>(handle_);
    // Like ReleaseMutex, releasing a mutex one does not own does nothing.
    if (!m || m->owner.load() != std::this_thread::get_id()) return;
    if (--m->depth == 0) {
        m->owner.store(std::thread::id());
        m->mutex.unlock();
    }
}

bool Mutex::Close() {
    auto* m = static_cast<MutexImpl*>(handle_);
    if (!m) return false;
    if (m->owner.load() == std::this_thread::get_id()) {
        m->depth = 0;
        m->owner.store(std::thread::id());
        m->mutex.unlock();
    }
    delete m;
    handle_ = nullptr;
    return true;
}

// ---------------------------------------------------------------------------
// Event

namespace {
struct EventImpl {
    std::mutex mutex;
    std::condition_variable cv;
    bool set = false;
};
}  // namespace

Event::Event() : impl_(new EventImpl) {}
Event::~Event() { delete static_cast<EventImpl*>(impl_); }

void Event::Set() {
    auto* e = static_cast<EventImpl*>(impl_);
    std::lock_guard<std::mutex> hold(e->mutex);
    e->set = true;
    e->cv.notify_all();
}

void Event::Reset() {
    auto* e = static_cast<EventImpl*>(impl_);
    std::lock_guard<std::mutex> hold(e->mutex);
    e->set = false;
}

bool Event::Wait(uint32_t timeout_ms) {
    auto* e = static_cast<EventImpl*>(impl_);
    std::unique_lock<std::mutex> hold(e->mutex);
    return e->cv.wait_for(hold, std::chrono::milliseconds(timeout_ms), [e] { return e->set; });
}

// ---------------------------------------------------------------------------
// Worker threads

namespace {
struct GroupImpl {
    std::mutex mutex;
    std::condition_variable idle;
    uint32_t live = 0;
};
using GroupRef = std::shared_ptr<GroupImpl>;
}  // namespace

WorkerGroup::WorkerGroup() : impl_(new GroupRef(std::make_shared<GroupImpl>())) {}
WorkerGroup::~WorkerGroup() { delete static_cast<GroupRef*>(impl_); }

bool WorkerGroup::Start(Entry entry, void* argument) {
    GroupRef group = *static_cast<GroupRef*>(impl_);
    {
        std::lock_guard<std::mutex> hold(group->mutex);
        ++group->live;
    }
    try {
        // The thread keeps the counter alive even if the group goes first.
        std::thread([group, entry, argument] {
            entry(argument);
            std::lock_guard<std::mutex> hold(group->mutex);
            --group->live;
            group->idle.notify_all();
        }).detach();
        return true;
    } catch (...) {
        std::lock_guard<std::mutex> hold(group->mutex);
        --group->live;
        group->idle.notify_all();
        return false;
    }
}

uint32_t WorkerGroup::Live() const {
    GroupImpl& group = **static_cast<GroupRef*>(impl_);
    std::lock_guard<std::mutex> hold(group.mutex);
    return group.live;
}

bool WorkerGroup::WaitIdle(uint32_t timeout_ms) {
    GroupImpl& group = **static_cast<GroupRef*>(impl_);
    std::unique_lock<std::mutex> hold(group.mutex);
    auto idle = [&group] { return group.live == 0; };
    if (timeout_ms == UINT32_MAX) {
        group.idle.wait(hold, idle);
        return true;
    }
    return group.idle.wait_for(hold, std::chrono::milliseconds(timeout_ms), idle);
}

// ---------------------------------------------------------------------------
// Files and folders

FileStatus ReadWholeFile(const char* path, size_t max_bytes, size_t padding,
                         unsigned char** data, size_t* length) {
    *data = nullptr;
    *length = 0;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? FileStatus::kNotFound : FileStatus::kError;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return FileStatus::kError;
    }
    size_t size = static_cast<size_t>(info.st_size);
    if (size > max_bytes) {
        close(fd);
        return FileStatus::kTooLarge;
    }
    auto* block = static_cast<unsigned char*>(calloc(size + padding, 1));
    if (!block) {
        close(fd);
        return FileStatus::kNoMemory;
    }
    size_t done = 0;
    while (done < size) {
        ssize_t n = read(fd, block + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    close(fd);
    if (done != size) {
        free(block);
        return FileStatus::kError;
    }
    *data = block;
    *length = size;
    return FileStatus::kOk;
}

bool DirectoryHasEntry(const char* directory, const char* name) {
    std::string path = std::string(directory) + name;
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

bool CreateFolder(const char* path) { return mkdir(path, 0777) == 0 || errno == EEXIST; }

const char kPathSeparator = '/';

const char* LastPathSeparator(const char* path) { return path ? std::strrchr(path, '/') : nullptr; }

namespace {
std::string& PluginDirectoryStorage() {
    static std::string directory;
    return directory;
}
}  // namespace

const char* PluginDirectory() { return PluginDirectoryStorage().c_str(); }

void SetPluginDirectory(const char* directory) {
    std::string& stored = PluginDirectoryStorage();
    stored = directory ? directory : "";
    if (!stored.empty() && stored.back() != kPathSeparator) stored.push_back(kPathSeparator);
}

}  // namespace platform
}  // namespace feedlet
