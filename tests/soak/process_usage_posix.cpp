// The process's figures on Linux: /proc/self for descriptors and resident
// anonymous memory, the allocator for live heap bytes.
#include "soak/process_usage.h"

#include <dirent.h>
#include <malloc.h>

#include <cstdio>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define FEEDLET_SANITIZER_ALLOCATOR 1
// The sanitizers' runtime has it; GCC ships no header for it
// (<sanitizer/allocator_interface.h> comes with clang).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif
#ifdef __SANITIZE_ADDRESS__
// LeakSanitizer's, in ASan's runtime (<sanitizer/lsan_interface.h>).
extern "C" int __lsan_do_recoverable_leak_check();
#endif

namespace feedlet {
namespace soak {

namespace {

int64_t OpenDescriptors() {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return -1;
    int64_t count = 0;
    while (dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.') ++count;
    closedir(dir);
    return count - 1;  // the listing's own descriptor
}

// Resident anonymous memory: what the process itself has written, neither
// file mappings nor shared memory.
int64_t ResidentAnonymousKib() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (!status) return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "RssAnon: %ld kB", &kib) == 1) break;
    std::fclose(status);
    return kib;
}

int64_t LiveHeapKib() {
#ifdef FEEDLET_SANITIZER_ALLOCATOR
    return static_cast<int64_t>(__sanitizer_get_current_allocated_bytes() / 1024);
#else
    return static_cast<int64_t>(mallinfo2().uordblks / 1024);
#endif
}

}  // namespace

Usage ReadUsage() {
    Usage usage;
    usage.handles = OpenDescriptors();
    usage.private_kib = ResidentAnonymousKib();
    usage.heap_kib = LiveHeapKib();
    return usage;
}

std::string UsageSources() {
    return "handles: open descriptors (/proc/self/fd)\n"
           "USER, GDI: none on this platform\n"
           "private: resident anonymous memory (RssAnon, /proc/self/status)\n"
#ifdef FEEDLET_SANITIZER_ALLOCATOR
           "heap: live bytes by the sanitizer's allocator (__sanitizer_get_current_allocated_bytes)\n";
#else
           "heap: live bytes by glibc's allocator (mallinfo2)\n";
#endif
}

std::string CheckForLeaks(bool* leaked) {
    *leaked = false;
#ifdef __SANITIZE_ADDRESS__
    *leaked = __lsan_do_recoverable_leak_check() != 0;
    return *leaked ? "LeakSanitizer: LEAKS (reported above)" : "LeakSanitizer: no leak";
#else
    return "";
#endif
}

bool PrivateMemoryIsMeaningful() {
#ifdef FEEDLET_SANITIZER_ALLOCATOR
    return false;
#else
    return true;
#endif
}

}  // namespace soak
}  // namespace feedlet
