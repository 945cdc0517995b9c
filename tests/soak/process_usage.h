// What a long life of the plugin could leak, read from the process's own
// counters: kernel handles, USER and GDI objects, private memory and the
// bytes in live heap blocks. A figure the platform does not give is -1.
#pragma once

#include <cstdint>
#include <string>

namespace feedlet {
namespace soak {

struct Usage {
    int64_t handles = -1;      // kernel handles (Windows), open descriptors (POSIX)
    int64_t user = -1;         // USER objects (Windows)
    int64_t gdi = -1;          // GDI objects (Windows)
    int64_t private_kib = -1;  // private memory in use
    int64_t heap_kib = -1;     // bytes in live heap blocks (Wine's own heap left out)
    // Under Wine only: the memory committed by the heap Wine's own DLLs
    // allocate from, which the plugin's code never does (wine_counts.h).
    // Part of the private memory.
    int64_t wine_heap_kib = -1;
};

// Reads every figure now. Call it from a quiet moment (no fetch running):
// it walks the heaps and, under Wine, the handle tables.
Usage ReadUsage();

// Where each figure of the last ReadUsage came from on this platform, one
// line each ("handles: GetProcessHandleCount").
std::string UsageSources();

// False where the private memory figure says nothing about leaks: under a
// sanitizer, whose allocator keeps freed blocks in quarantine and whose
// shadow memory grows with every address touched. The heap figure is the
// allocator's own count of live bytes there.
bool PrivateMemoryIsMeaningful();

// Where this build has a leak checker (LeakSanitizer, with ASan), looks for
// blocks nothing refers to any more, now, and returns its verdict, the
// leaks it found reported above it; *leaked says whether there were any.
// Call it once everything was freed. "" where there is no checker.
std::string CheckForLeaks(bool* leaked);

}  // namespace soak
}  // namespace feedlet
