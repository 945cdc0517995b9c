// The thin OS layer: every service the engine needs from the operating system,
// declared once. win32/ implements it with the Win32 APIs the plugin uses on
// users' machines; posix/ with Linux equivalents so the portable core can be
// built and tested natively. No engine logic lives behind this header, and
// nothing above it sees an OS error code or wchar_t.
#pragma once

#include <cstddef>
#include <cstdint>

namespace feedlet {
namespace platform {

// ---------------------------------------------------------------------------
// Code page 932 (Windows-31J), the one code page whose tables only the OS
// has. Other code pages give 0 on every platform; ISO-2022-JP is converted
// on top of this by the core (core/codepage.h).
constexpr unsigned kCodePageShiftJis = 932;

// Converts source bytes to UTF-16 with MultiByteToWideChar's contract:
// source_length -1 means "up to and including the terminator". With
// capacity 0 only measures. Returns the number of units produced (terminator
// included when it was part of the input). 0 on failure: another code page,
// a null source, source_length 0 or below -1, a negative capacity, a null
// destination with a capacity, a result that does not fit in capacity (what
// was written is then unspecified, never beyond capacity), or no converter.
// A lead byte with a byte of the trail range (40..FC) that makes no
// character becomes one U+30FB for both. Where the tables differ: the single
// bytes 80, A0 and FD..FF are U+0080 and U+F8F0..U+F8F3 on Windows and
// U+30FB here, and a lead byte before a byte below 40 takes that byte with
// it into its U+30FB under Wine but not here.
int MultiByteToUtf16(unsigned code_page, const char* source, int source_length,
                     char16_t* destination, int capacity);
// The mirror image (WideCharToMultiByte), with the same failures. A
// character code page 932 cannot hold becomes '?', one per UTF-16 unit;
// Windows first tries its best-fit table (é is written e), iconv has none.
int Utf16ToMultiByte(unsigned code_page, const char16_t* source, int source_length,
                     char* destination, int capacity);

// ---------------------------------------------------------------------------
// Clock and calendar.

// The calendar fields of a date and time, the one calendar record of the
// plugin: the clock gives them, the core's civil-date arithmetic
// (core/plugin_time.h) turns them into plugin times and back, and
// FormatTime writes them. As input, out-of-range values are allowed and are
// normalised by that arithmetic the way mktime does.
struct CalendarFields {
    int year = 1970;
    int month = 1;    // 1..12
    int day = 1;      // 1..31
    int hour = 0;     // 0..23
    int minute = 0;   // 0..59
    int second = 0;   // 0..59
    int weekday = 4;  // 0 = Sunday; derived, output only
    int yearday = 0;  // 0 = 1 January; derived, output only
};

// The system clock's current UTC date and time, milliseconds dropped: year
// to second. weekday and yearday keep their defaults (the core derives them
// where it needs them). Cannot fail.
CalendarFields SystemTimeUtc();
// Milliseconds since an arbitrary start; wraps modulo 2^32. Cannot fail.
uint32_t TickCount();
void SleepMilliseconds(uint32_t milliseconds);
// Seconds since 1970-01-01 UTC as the C library's time() gives them; -1 when
// the clock cannot be read.
int64_t WallClockSeconds();

// Sets the C library's time-formatting locale (LC_TIME) to the user's
// default; if that cannot be set the locale stays as it was.
void SetUserTimeLocale();
// strftime-style formatting of fields (weekday and yearday included, as the
// core's conversions derive them) into UTF-16, under the current LC_TIME
// locale: its names (午後, 月曜日) come out as real characters on every
// platform. The pattern must be ASCII and shorter than 256 units. Returns
// the number of units written without the terminator; 0, with buffer[0] = 0,
// for a null pattern, a pattern that is not ASCII or too long, an empty
// result, or one that does not fit in capacity - 1 units (or in the
// implementations' scratch space, which holds at least 511 characters).
// Nothing is written when buffer is null or capacity 0.
size_t FormatTime(char16_t* buffer, size_t capacity, const char16_t* format, const CalendarFields& fields);

// ---------------------------------------------------------------------------
// Mutex with the semantics of a Win32 mutex: recursive for its owner, a
// blocking take and a zero-wait probe. Every Mutex is its own lock, private
// to the process: nothing names it, so no other process (another copy of the
// plugin in a second host, or any program) can open, hold or wait on it. On
// Windows it is an unnamed kernel mutex, which keeps the kernel's rules: a
// thread that ends while holding it (the system ends every other thread at
// process exit) hands it on as abandoned, so the next taker gets it instead
// of waiting for ever. On POSIX a thread must not end while it holds one: it
// would stay held for ever.
class Mutex {
public:
    Mutex() = default;
    // Closes the mutex (see Close).
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    // Creates the mutex, not owned. True at once when it exists already;
    // false when it could not be created.
    bool Create();
    bool IsCreated() const { return handle_ != nullptr; }
    // Waits without time-out. False when the mutex does not exist (or the
    // wait itself fails); the caller then does not hold it.
    bool Lock();
    // Takes the mutex only if that needs no waiting (always for its owner).
    // False when another thread holds it or it does not exist.
    bool TryLock();
    // Gives up one level of the caller's hold. Does nothing when the caller
    // does not hold the mutex or it does not exist.
    void Unlock();
    // Ends the calling thread's hold, every level of it, and closes the
    // mutex; never waits. No other thread may be using this object
    // meanwhile. Lock and TryLock then fail until the next Create. True when
    // a mutex was closed, false when there was none.
    bool Close();

private:
    void* handle_ = nullptr;
};

// Holds a Mutex for a scope.
class MutexLock {
public:
    explicit MutexLock(Mutex& mutex) : mutex_(mutex), held_(mutex.Lock()) {}
    ~MutexLock() { if (held_) mutex_.Unlock(); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;
    bool held() const { return held_; }
private:
    Mutex& mutex_;
    bool held_;
};

// A wake-up signal: one thread waits (with a time-out), another sets it. It
// stays set until Reset. An event the system could not create (no memory,
// no handles) is never set: Set and Reset do nothing, Wait fails at once.
class Event {
public:
    Event();
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    void Set();
    void Reset();
    // True when the event is or becomes set within timeout_ms (UINT32_MAX:
    // no limit).
    bool Wait(uint32_t timeout_ms);
private:
    void* impl_;
};

// ---------------------------------------------------------------------------
// Detached worker threads, counted so that an owner can wait until every
// thread it started has returned from its function. A group whose record
// could not be allocated starts nothing (Start fails), counts 0 and is
// always idle.
class WorkerGroup {
public:
    WorkerGroup();
    ~WorkerGroup();
    WorkerGroup(const WorkerGroup&) = delete;
    WorkerGroup& operator=(const WorkerGroup&) = delete;

    using Entry = void (*)(void* argument);
    // Starts entry(argument) on a new detached thread. False when the thread
    // could not be created (entry is then never called).
    bool Start(Entry entry, void* argument);
    // Threads started and not yet returned.
    uint32_t Live() const;
    // Waits until Live() is 0 or timeout_ms passed (UINT32_MAX: no limit).
    // True when no worker is live.
    bool WaitIdle(uint32_t timeout_ms);

private:
    void* impl_;
};

// ---------------------------------------------------------------------------
// Files and folders. Paths are code page 932 on Windows, UTF-8 bytes here.
enum class FileStatus {
    kOk,
    kNotFound,  // no such file, or a folder on the way is missing
    kTooLarge,  // larger than max_bytes
    kNoMemory,  // no block for the contents
    kError,     // anything else: a folder, no access, held open for writing by
                // another program (Windows), a read that failed, a null path
};
// Reads a whole file into a malloc'd block followed by `padding` zero bytes.
// On Windows the file is opened for reading shared with other readers only,
// so two readers never fail each other, and a file that another program
// holds open for writing is not read half-done (kError). On any status but
// kOk, *data is null and *length 0.
FileStatus ReadWholeFile(const char* path, size_t max_bytes, size_t padding,
                         unsigned char** data, size_t* length);
// True when directory (ending in a separator) contains an entry named name,
// file or folder; false otherwise and for null arguments.
bool DirectoryHasEntry(const char* directory, const char* name);
// Creates one folder (not its parents). True when it was created or the name
// exists already; false when it could not be created and for a null path.
bool CreateFolder(const char* path);

// The separator between path components ('\\' on Windows, '/' elsewhere).
extern const char kPathSeparator;
// The last separator character of path, or null when it has none (or path is
// null). On Windows the path is walked character by character in the ANSI
// code page, because the trail byte of a double-byte character (ソ is 83 5C
// in code page 932) can be the separator's byte.
const char* LastPathSeparator(const char* path);
// The plugin's directory with a trailing separator: on Windows the folder of
// the module holding this code (the DLL, or the program it is linked into),
// "" when the system cannot say; elsewhere whatever SetPluginDirectory last
// stored ("" before).
const char* PluginDirectory();
// Overrides the plugin directory (tests and tools; required on POSIX). A
// missing trailing separator is added; null or "" clears the override (on
// Windows the module's folder is then used again).
void SetPluginDirectory(const char* directory);

// ---------------------------------------------------------------------------
// Private-profile (INI) access: ini.h. HTTP(S) download: http.h.

}  // namespace platform
}  // namespace feedlet
