// The process's figures on Windows: the documented counters, with Wine's
// missing ones made up by wine_counts.cpp.
#include "soak/process_usage.h"

#include <windows.h>
#include <psapi.h>

#include "soak/wine_counts.h"

namespace feedlet {
namespace soak {

namespace {

struct Sources {
    const char* handles = "";
    const char* user = "";
    const char* gdi = "";
    const char* private_memory = "";
};
Sources g_sources;

int64_t HandleCount() {
    DWORD count = 0;
    // A process has handles from its first instruction: 0 means the count
    // was not answered.
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0) {
        g_sources.handles = "GetProcessHandleCount";
        return count;
    }
    g_sources.handles = "the process's entries in the system's handle list (GetProcessHandleCount answers 0)";
    return WineHandleCount();
}

int64_t GuiResources(DWORD kind, int64_t (*instead)(), const char** source, const char* documented,
                     const char* counted) {
    DWORD count = GetGuiResources(GetCurrentProcess(), kind);
    if (count != 0) {
        *source = documented;
        return count;
    }
    *source = counted;
    return instead();
}

// The commit charge. Windows gives it as PrivateUsage and, the same figure,
// as PagefileUsage; Wine 8 leaves PrivateUsage 0 and gives the process's
// resident anonymous memory as PagefileUsage.
int64_t PrivateKib() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (!K32GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                 sizeof counters))
        return -1;
    if (counters.PrivateUsage != 0) {
        g_sources.private_memory = "PrivateUsage (K32GetProcessMemoryInfo)";
        return static_cast<int64_t>(counters.PrivateUsage / 1024);
    }
    g_sources.private_memory = "PagefileUsage (K32GetProcessMemoryInfo; PrivateUsage is 0)";
    return static_cast<int64_t>(counters.PagefileUsage / 1024);
}

// A heap's busy bytes, and the memory it has committed (what it adds to
// the private memory, its free blocks and overhead included).
struct HeapBytes {
    uint64_t busy = 0;
    uint64_t committed = 0;
};
HeapBytes Walk(HANDLE heap) {
    HeapBytes bytes;
    if (!HeapLock(heap)) return bytes;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heap, &entry)) {
        if (entry.wFlags & PROCESS_HEAP_REGION) bytes.committed += entry.Region.dwCommittedSize;
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) bytes.busy += entry.cbData;
    }
    HeapUnlock(heap);
    return bytes;
}

// Bytes in the busy blocks of every heap of the process (the C runtime's,
// which every malloc and new of the plugin uses, included), Wine's own
// heap apart: of that one, the memory it has committed, which is what it
// adds to the private memory (its leaked records lie between free blocks,
// so it grows faster than its busy bytes). Wine's HeapWalk leaves out
// blocks too large for the heap's arenas, which it maps on their own.
void HeapKib(Usage& usage) {
    HANDLE heaps[64];
    DWORD count = GetProcessHeaps(64, heaps);
    if (count == 0 || count > 64) return;
    HANDLE wine = WineDllHeap();
    uint64_t busy = 0;
    for (DWORD i = 0; i < count; ++i) {
        HeapBytes heap = Walk(heaps[i]);
        if (heaps[i] == wine) usage.wine_heap_kib = static_cast<int64_t>(heap.committed / 1024);
        else busy += heap.busy;
    }
    usage.heap_kib = static_cast<int64_t>(busy / 1024);
}

}  // namespace

Usage ReadUsage() {
    Usage usage;
    usage.handles = HandleCount();
    usage.user = GuiResources(GR_USEROBJECTS, WineUserObjectCount, &g_sources.user, "GetGuiResources(GR_USEROBJECTS)",
                              "windows and menus of the process, counted (GetGuiResources fails)");
    usage.gdi = GuiResources(GR_GDIOBJECTS, WineGdiObjectCount, &g_sources.gdi, "GetGuiResources(GR_GDIOBJECTS)",
                             "GDI objects of the process, counted (GetGuiResources fails)");
    usage.private_kib = PrivateKib();
    HeapKib(usage);
    return usage;
}

std::string UsageSources() {
    return std::string("handles: ") + g_sources.handles + "\nUSER: " + g_sources.user + "\nGDI: " + g_sources.gdi +
           "\nprivate: " + g_sources.private_memory + "\nheap: live bytes in every heap (HeapWalk)" +
           (WineDllHeap() ? ", but the heap of Wine's own DLLs (ucrtbase's), which is the Wine column\n" : "\n");
}

bool PrivateMemoryIsMeaningful() { return true; }

std::string CheckForLeaks(bool* leaked) {
    *leaked = false;
    return "";
}

}  // namespace soak
}  // namespace feedlet
