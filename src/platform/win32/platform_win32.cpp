// Win32 implementation of the platform layer: the APIs the plugin uses on the
// users' machines. May contain only OS plumbing; wchar_t stops here.
#include "platform/platform.h"
#include "platform/memory.h"
#include "platform/time_format.h"

#include <windows.h>
#include <process.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <new>
#include <string>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected on Windows");

namespace feedlet {
namespace platform {

// ---------------------------------------------------------------------------
// Code pages

// Only code page 932: code page 50220 is converted on top of it by the core
// (codepage.h), as Wine has no 50220 tables.
int MultiByteToUtf16(unsigned code_page, const char* source, int source_length,
                     char16_t* destination, int capacity) {
    if (code_page != kCodePageShiftJis || !source || capacity < 0 || source_length < -1) return 0;
    return MultiByteToWideChar(code_page, 0, source, source_length,
                               reinterpret_cast<wchar_t*>(destination), capacity);
}

int Utf16ToMultiByte(unsigned code_page, const char16_t* source, int source_length,
                     char* destination, int capacity) {
    if (code_page != kCodePageShiftJis || !source || capacity < 0 || source_length < -1) return 0;
    return WideCharToMultiByte(code_page, 0, reinterpret_cast<const wchar_t*>(source), source_length,
                               destination, capacity, nullptr, nullptr);
}

// ---------------------------------------------------------------------------
// Clock

CalendarFields SystemTimeUtc() {
    SYSTEMTIME now;
    GetSystemTime(&now);
    return CalendarFields{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

uint32_t TickCount() { return GetTickCount(); }

void SleepMilliseconds(uint32_t milliseconds) { Sleep(milliseconds); }

int64_t WallClockSeconds() { return static_cast<int64_t>(time(nullptr)); }

void SetUserTimeLocale() { setlocale(LC_TIME, ""); }

size_t FormatTime(char16_t* buffer, size_t capacity, const char16_t* format, const CalendarFields& fields) {
    if (!buffer || capacity == 0) return 0;
    buffer[0] = 0;
    // The locale's names (午後, 月曜日) are stored in the locale's code page.
    // msvcrt's strftime gives them right; Wine's wcsftime widens them byte by
    // byte. So the narrow function formats, and the text is converted with
    // the code page the CRT locale uses (the ANSI code page for "").
    char pattern[256];
    if (!CopyPattern(format, pattern)) return 0;
    char narrow[1024];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"  // the patterns are our own
    const struct tm broken = TmFromFields(fields);
    size_t n = strftime(narrow, sizeof narrow, pattern, &broken);
#pragma GCC diagnostic pop
    if (n == 0) return 0;
    int units = MultiByteToWideChar(CP_ACP, 0, narrow, static_cast<int>(n), nullptr, 0);
    if (units <= 0 || static_cast<size_t>(units) + 1 > capacity) return 0;
    MultiByteToWideChar(CP_ACP, 0, narrow, static_cast<int>(n), reinterpret_cast<wchar_t*>(buffer), units);
    buffer[units] = 0;
    return static_cast<size_t>(units);
}

// ---------------------------------------------------------------------------
// Mutex: an unnamed kernel mutex. A critical section would be lighter, but
// one whose owner the system ended at process exit stays held for ever (or
// ends the process when entered during its shutdown), and deleting one that
// a thread waits on is undefined; the kernel mutex is handed on as abandoned
// instead. Without a name the handle is the only way to it, so no other
// process can reach it.

Mutex::~Mutex() { Close(); }

bool Mutex::Create() {
    if (handle_) return true;
    handle_ = CreateMutexW(nullptr, FALSE, nullptr);
    return handle_ != nullptr;
}

bool Mutex::Lock() {
    if (!handle_) return false;
    DWORD rc = WaitForSingleObject(handle_, INFINITE);
    // An abandoned mutex is owned by the caller all the same.
    return rc == WAIT_OBJECT_0 || rc == WAIT_ABANDONED;
}

bool Mutex::TryLock() {
    if (!handle_) return false;
    DWORD rc = WaitForSingleObject(handle_, 0);
    return rc == WAIT_OBJECT_0 || rc == WAIT_ABANDONED;
}

void Mutex::Unlock() {
    if (handle_) ReleaseMutex(handle_);
}

bool Mutex::Close() {
    if (!handle_) return false;
    // The caller's hold ends with every level of it, as on POSIX.
    // ReleaseMutex fails once the caller holds no level any more (or never
    // held it).
    while (ReleaseMutex(handle_)) {
    }
    CloseHandle(handle_);
    handle_ = nullptr;
    return true;
}

// ---------------------------------------------------------------------------
// Event

Event::Event() : impl_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
Event::~Event() {
    if (impl_) CloseHandle(impl_);
}
void Event::Set() { SetEvent(impl_); }
void Event::Reset() { ResetEvent(impl_); }
bool Event::Wait(uint32_t timeout_ms) { return WaitForSingleObject(impl_, timeout_ms) == WAIT_OBJECT_0; }

// ---------------------------------------------------------------------------
// Worker threads

namespace {

struct GroupImpl {
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE idle = CONDITION_VARIABLE_INIT;
    LONG live = 0;
};

struct ThreadStart {
    GroupImpl* group;
    WorkerGroup::Entry entry;
    void* argument;
    HMODULE module;  // a reference to the module holding this code
};

// A reference to the module that contains this code (the plugin DLL, or the
// program when linked into one), or null.
HMODULE ReferenceOwnModule() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&ReferenceOwnModule), &module))
        return nullptr;
    return module;
}

// Once the live count drops, the owner's wait ends and the host may unload
// the plugin at once, while this thread still has instructions of the
// plugin to run. So every thread holds a reference to the module and leaves
// through FreeLibraryAndExitThread, which drops it without returning here.
unsigned __stdcall ThreadMain(void* raw) {
    ThreadStart start = *static_cast<ThreadStart*>(raw);
    delete static_cast<ThreadStart*>(raw);
    try {
        start.entry(start.argument);
    } catch (...) {
        // The entry points catch what they can; nothing may leave a thread.
    }
    AcquireSRWLockExclusive(&start.group->lock);
    --start.group->live;
    ReleaseSRWLockExclusive(&start.group->lock);
    WakeAllConditionVariable(&start.group->idle);
    if (start.module) FreeLibraryAndExitThread(start.module, 0);
    return 0;
}

}  // namespace

// The group record is never freed: a finishing worker may still touch it
// after its owner stopped waiting, and there is one group per plugin.
WorkerGroup::WorkerGroup() : impl_(new (std::nothrow) GroupImpl) {}
WorkerGroup::~WorkerGroup() {}

bool WorkerGroup::Start(Entry entry, void* argument) {
    auto* group = static_cast<GroupImpl*>(impl_);
    if (!group) return false;
    auto* start = new (std::nothrow) ThreadStart{group, entry, argument, ReferenceOwnModule()};
    if (!start) return false;
    AcquireSRWLockExclusive(&group->lock);
    ++group->live;
    ReleaseSRWLockExclusive(&group->lock);
    // msvcrt.dll frees its per-thread data at thread detach, so the thread
    // may end in FreeLibraryAndExitThread instead of returning to the
    // run-time's thread start.
    uintptr_t handle = _beginthreadex(nullptr, 0, ThreadMain, start, 0, nullptr);
    if (handle == 0) {
        if (start->module) FreeLibrary(start->module);
        delete start;
        AcquireSRWLockExclusive(&group->lock);
        --group->live;
        ReleaseSRWLockExclusive(&group->lock);
        WakeAllConditionVariable(&group->idle);
        return false;
    }
    CloseHandle(reinterpret_cast<HANDLE>(handle));
    return true;
}

uint32_t WorkerGroup::Live() const {
    auto* group = static_cast<GroupImpl*>(impl_);
    if (!group) return 0;
    AcquireSRWLockShared(&group->lock);
    LONG live = group->live;
    ReleaseSRWLockShared(&group->lock);
    return static_cast<uint32_t>(live);
}

bool WorkerGroup::WaitIdle(uint32_t timeout_ms) {
    auto* group = static_cast<GroupImpl*>(impl_);
    if (!group) return true;
    DWORD start = GetTickCount();
    AcquireSRWLockExclusive(&group->lock);
    while (group->live > 0) {
        DWORD wait = INFINITE;
        if (timeout_ms != UINT32_MAX) {
            DWORD spent = GetTickCount() - start;
            if (spent >= timeout_ms) break;
            wait = timeout_ms - spent;
        }
        SleepConditionVariableSRW(&group->idle, &group->lock, wait, 0);
    }
    bool idle = group->live == 0;
    ReleaseSRWLockExclusive(&group->lock);
    return idle;
}

// ---------------------------------------------------------------------------
// Files and folders

FileStatus ReadWholeFile(const char* path, size_t max_bytes, size_t padding,
                         unsigned char** data, size_t* length) {
    *data = nullptr;
    *length = 0;
    if (!path) return FileStatus::kError;
    // Shared with other readers (two feeds on one file, a check while a
    // crawler reads it), never with a writer: a file that another program
    // is writing is not read half-done, and the open fails instead.
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                   ? FileStatus::kNotFound
                   : FileStatus::kError;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart < 0) {
        CloseHandle(file);
        return FileStatus::kError;
    }
    if (static_cast<unsigned long long>(size.QuadPart) > max_bytes) {
        CloseHandle(file);
        return FileStatus::kTooLarge;
    }
    size_t total = static_cast<size_t>(size.QuadPart);
    auto* block = static_cast<unsigned char*>(platform::AllocateZeroed(total + padding, 1));
    if (!block) {
        CloseHandle(file);
        return FileStatus::kNoMemory;
    }
    size_t done = 0;
    while (done < total) {
        DWORD chunk = static_cast<DWORD>(total - done > 0x10000000 ? 0x10000000 : total - done);
        DWORD got = 0;
        if (!ReadFile(file, block + done, chunk, &got, nullptr) || got == 0) break;
        done += got;
    }
    CloseHandle(file);
    if (done != total) {
        free(block);
        return FileStatus::kError;
    }
    *data = block;
    *length = total;
    return FileStatus::kOk;
}

bool DirectoryHasEntry(const char* directory, const char* name) {
    if (!directory || !name) return false;
    char found[MAX_PATH];
    return SearchPathA(directory, name, nullptr, MAX_PATH, found, nullptr) != 0;
}

bool CreateFolder(const char* path) {
    if (!path) return false;
    return CreateDirectoryA(path, nullptr) != FALSE || GetLastError() == ERROR_ALREADY_EXISTS;
}

const char kPathSeparator = '\\';

namespace {

std::string& OverrideStorage() {
    static std::string directory;
    return directory;
}

// The folder of the module that contains this code (the plugin DLL, or the
// executable when linked statically into a tool or a test).
std::string ModuleDirectory() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ModuleDirectory), &module);
    char path[MAX_PATH + 1] = {};
    DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return std::string();
    const char* slash = LastPathSeparator(path);
    if (!slash) return std::string();
    return std::string(path, static_cast<size_t>(slash - path) + 1);
}

}  // namespace

const char* LastPathSeparator(const char* path) {
    if (!path) return nullptr;
    const char* slash = nullptr;
    for (const char* p = path; *p; ++p) {
        if (*p == '\\') slash = p;
        else if (IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(*p)) && p[1]) ++p;
    }
    return slash;
}

const char* PluginDirectory() {
    std::string& stored = OverrideStorage();
    if (stored.empty()) stored = ModuleDirectory();
    return stored.c_str();
}

void SetPluginDirectory(const char* directory) {
    std::string& stored = OverrideStorage();
    stored = directory ? directory : "";
    if (!stored.empty() && stored.back() != '\\' && stored.back() != '/') stored.push_back('\\');
}

}  // namespace platform
}  // namespace feedlet
