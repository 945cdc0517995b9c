// POSIX implementation of the platform layer: iconv for code page 932 and
// for wcsftime's UTF-32, time and clock_gettime for the clock, std::mutex
// with Win32 mutex semantics and std::thread for detached workers. May
// contain only OS plumbing.
#include "platform/platform.h"
#include "platform/memory.h"
#include "platform/time_format.h"

#include <cerrno>
#include <climits>
#include <clocale>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <iconv.h>
#include <atomic>
#include <memory>
#include <mutex>
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
    // A converter is memory too: refused like any allocation, it fails the
    // conversion.
    Iconv(const char* to, const char* from)
        : cd_(AllocationAllowed() ? iconv_open(to, from) : reinterpret_cast<iconv_t>(-1)) {}
    ~Iconv() { if (ok()) iconv_close(cd_); }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }
    void Reset() { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }
private:
    iconv_t cd_;
};

// Where converted bytes go: counted always, stored while they fit when there
// is a destination. Nothing is allocated, so no conversion can throw.
struct Output {
    char* destination;  // null: only count
    size_t capacity;    // bytes
    size_t used = 0;
    bool overflow = false;
    void Put(const void* bytes, size_t n) {
        if (destination) {
            if (used + n > capacity) overflow = true;
            else std::memcpy(destination + used, bytes, n);
        }
        used += n;
    }
};

// Runs iconv over in[0, length) into out. At each byte (or unit) iconv
// rejects, recover(in, left) is asked how many bytes to pass over, and the
// replacement of that many bytes is stored.
template <typename Recover>
void Convert(Iconv& cd, const char* in, size_t length, Output& out, Recover recover) {
    char chunk[4096];
    while (length > 0) {
        char* in_ptr = const_cast<char*>(in);  // iconv never writes its input
        char* out_ptr = chunk;
        size_t out_left = sizeof chunk;
        size_t rc = iconv(cd.get(), &in_ptr, &length, &out_ptr, &out_left);
        out.Put(chunk, static_cast<size_t>(out_ptr - chunk));
        in = in_ptr;
        if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
            size_t skip = recover(in, length, out);
            if (skip > length) skip = length;
            in += skip;
            length -= skip;
            cd.Reset();
        }
    }
}

// Whether iconv reads byte alone as the start of an unfinished character:
// the lead bytes are the ones the system's 932 tables say they are.
bool IsLeadByte(Iconv& cd, char byte) {
    cd.Reset();
    char* in_ptr = &byte;
    size_t in_left = 1;
    char unit[8];
    char* out_ptr = unit;
    size_t out_left = sizeof unit;
    bool lead = iconv(cd.get(), &in_ptr, &in_left, &out_ptr, &out_left) == static_cast<size_t>(-1) &&
                errno == EINVAL;
    cd.Reset();
    return lead;
}

// Code page 932 to UTF-16 as Windows reads it: a byte that is no character
// becomes U+30FB, and a lead byte followed by a byte of the trail range
// (40..FC) that makes no character becomes one U+30FB with it.
bool DecodeShiftJis(const char* in, size_t length, Output& out) {
    Iconv cd("UTF-16LE", "CP932");
    if (!cd.ok()) return false;
    Convert(cd, in, length, out, [&cd](const char* at, size_t left, Output& o) -> size_t {
        o.Put(&kUndecodable, sizeof kUndecodable);
        bool pair = left >= 2 && static_cast<unsigned char>(at[1]) >= 0x40 && IsLeadByte(cd, at[0]);
        return pair ? 2 : 1;
    });
    return true;
}

// UTF-16 to code page 932. An unmappable character becomes one '?' per
// UTF-16 unit, as Windows writes a character outside the BMP as "??".
bool EncodeShiftJis(const char16_t* in, size_t length, Output& out) {
    Iconv cd("CP932", "UTF-16LE");
    if (!cd.ok()) return false;
    Convert(cd, reinterpret_cast<const char*>(in), length * sizeof(char16_t), out,
            [](const char*, size_t, Output& o) -> size_t {
                o.Put("?", 1);
                return sizeof(char16_t);
            });
    return true;
}

// The contract of both conversions: capacity 0 measures; otherwise the
// result must fit. A count beyond int's range is a failure.
int Result(const Output& out, size_t unit_size, int capacity) {
    size_t units = out.used / unit_size;
    if (units > static_cast<size_t>(INT_MAX)) return 0;
    if (capacity > 0 && out.overflow) return 0;
    return static_cast<int>(units);
}

}  // namespace

int MultiByteToUtf16(unsigned code_page, const char* source, int source_length,
                     char16_t* destination, int capacity) {
    if (code_page != kCodePageShiftJis || !source || capacity < 0 || source_length < -1) return 0;
    if (capacity > 0 && !destination) return 0;
    size_t length = source_length == -1 ? std::strlen(source) + 1 : static_cast<size_t>(source_length);
    if (length == 0) return 0;
    Output out{capacity > 0 ? reinterpret_cast<char*>(destination) : nullptr,
               static_cast<size_t>(capacity) * sizeof(char16_t)};
    if (!DecodeShiftJis(source, length, out)) return 0;
    return Result(out, sizeof(char16_t), capacity);
}

int Utf16ToMultiByte(unsigned code_page, const char16_t* source, int source_length,
                     char* destination, int capacity) {
    if (code_page != kCodePageShiftJis || !source || capacity < 0 || source_length < -1) return 0;
    if (capacity > 0 && !destination) return 0;
    size_t length = 0;
    if (source_length == -1) {
        while (source[length]) ++length;
        ++length;
    } else {
        length = static_cast<size_t>(source_length);
    }
    if (length == 0) return 0;
    Output out{capacity > 0 ? destination : nullptr, static_cast<size_t>(capacity)};
    if (!EncodeShiftJis(source, length, out)) return 0;
    return Result(out, 1, capacity);
}

// ---------------------------------------------------------------------------
// Clock

CalendarFields SystemTimeUtc() {
    time_t now = time(nullptr);
    struct tm broken;
    gmtime_r(&now, &broken);
    return CalendarFields{broken.tm_year + 1900, broken.tm_mon + 1, broken.tm_mday,
                          broken.tm_hour, broken.tm_min, broken.tm_sec};
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

size_t FormatTime(char16_t* buffer, size_t capacity, const char16_t* format, const CalendarFields& fields) {
    if (!buffer || capacity == 0) return 0;
    buffer[0] = 0;
    // wchar_t is UTF-32 here: widen the pattern, format, and let iconv turn
    // the result into UTF-16.
    wchar_t pattern[256];
    if (!CopyPattern(format, pattern)) return 0;
    wchar_t wide[512];
    const struct tm broken = TmFromFields(fields);
    size_t n = wcsftime(wide, sizeof wide / sizeof wide[0], pattern, &broken);
    if (n == 0) return 0;
    Iconv cd("UTF-16LE", "WCHAR_T");
    if (!cd.ok()) return 0;
    Output out{reinterpret_cast<char*>(buffer), (capacity - 1) * sizeof(char16_t)};
    bool failed = false;
    Convert(cd, reinterpret_cast<const char*>(wide), n * sizeof(wchar_t), out,
            [&failed](const char*, size_t left, Output&) -> size_t {
                failed = true;
                return left;
            });
    if (failed || out.overflow) {
        buffer[0] = 0;
        return 0;
    }
    size_t units = out.used / sizeof(char16_t);
    buffer[units] = 0;
    return units;
}

// ---------------------------------------------------------------------------
// Mutex: recursive like a Win32 mutex. The owner and depth are tracked here
// so that Close can end its caller's hold (as shutdown needs) before the
// mutex is destroyed.

namespace {
struct MutexImpl {
    std::mutex mutex;
    std::atomic<std::thread::id> owner{};
    unsigned depth = 0;  // touched only by the owner
};
}  // namespace

Mutex::~Mutex() { Close(); }

bool Mutex::Create() {
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

Event::Event() : impl_(new (std::nothrow) EventImpl) {}
Event::~Event() { delete static_cast<EventImpl*>(impl_); }

void Event::Set() {
    auto* e = static_cast<EventImpl*>(impl_);
    if (!e) return;
    std::lock_guard<std::mutex> hold(e->mutex);
    e->set = true;
    e->cv.notify_all();
}

void Event::Reset() {
    auto* e = static_cast<EventImpl*>(impl_);
    if (!e) return;
    std::lock_guard<std::mutex> hold(e->mutex);
    e->set = false;
}

bool Event::Wait(uint32_t timeout_ms) {
    auto* e = static_cast<EventImpl*>(impl_);
    if (!e) return false;
    std::unique_lock<std::mutex> hold(e->mutex);
    auto is_set = [e] { return e->set; };
    if (timeout_ms == UINT32_MAX) {
        e->cv.wait(hold, is_set);
        return true;
    }
    return e->cv.wait_for(hold, std::chrono::milliseconds(timeout_ms), is_set);
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

namespace {
GroupRef* NewGroup() {
    try {
        return new GroupRef(std::make_shared<GroupImpl>());
    } catch (...) {
        return nullptr;
    }
}
}  // namespace

WorkerGroup::WorkerGroup() : impl_(NewGroup()) {}
WorkerGroup::~WorkerGroup() { delete static_cast<GroupRef*>(impl_); }

bool WorkerGroup::Start(Entry entry, void* argument) {
    if (!impl_) return false;
    GroupRef group = *static_cast<GroupRef*>(impl_);
    {
        std::lock_guard<std::mutex> hold(group->mutex);
        ++group->live;
    }
    try {
        // The thread keeps the counter alive even if the group goes first.
        std::thread([group, entry, argument] {
            try {
                entry(argument);
            } catch (...) {
                // The entry points catch what they can; nothing may leave a thread.
            }
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
    if (!impl_) return 0;
    GroupImpl& group = **static_cast<GroupRef*>(impl_);
    std::lock_guard<std::mutex> hold(group.mutex);
    return group.live;
}

bool WorkerGroup::WaitIdle(uint32_t timeout_ms) {
    if (!impl_) return true;
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
    if (!path) return FileStatus::kError;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    // ENOTDIR: a file where a folder of the path should be, which Windows
    // reports as a missing path.
    if (fd < 0) return (errno == ENOENT || errno == ENOTDIR) ? FileStatus::kNotFound : FileStatus::kError;
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
    auto* block = static_cast<unsigned char*>(platform::AllocateZeroed(size + padding, 1));
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
    if (!directory || !name) return false;
    std::string path = std::string(directory) + name;
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

bool CreateFolder(const char* path) { return path && (mkdir(path, 0777) == 0 || errno == EEXIST); }

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
