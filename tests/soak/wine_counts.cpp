// Wine only (see wine_counts.h). Wine's USER and GDI handles carry their
// table index in the low 16 bits and take a handle whose high word is 0 as
// the entry's own whatever its generation, so every live object of a kind
// is found by asking about each of the 65,536 values. Windows gives no such
// guarantee, which is why this runs only where GetGuiResources fails.
#include "soak/wine_counts.h"

#include <windows.h>
#include <malloc.h>

#include <vector>

#include "platform/win32/http_wine.h"

namespace feedlet {
namespace soak {

namespace {

// USER handle values are even, from 0x20 (Wine's first user handle).
constexpr ULONG_PTR kFirstUserHandle = 0x20;
constexpr ULONG_PTR kHandleValues = 0x10000;

bool OfThisProcess(HWND window) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process == GetCurrentProcessId();
}

BOOL CALLBACK CountChild(HWND window, LPARAM count) {
    if (OfThisProcess(window)) ++*reinterpret_cast<int64_t*>(count);
    return TRUE;
}

// A window of this process and every window below it (EnumChildWindows
// walks all descendants).
void CountTree(HWND window, int64_t& count) {
    ++count;
    EnumChildWindows(window, CountChild, reinterpret_cast<LPARAM>(&count));
}

BOOL CALLBACK CountTopLevel(HWND window, LPARAM count) {
    if (OfThisProcess(window)) CountTree(window, *reinterpret_cast<int64_t*>(count));
    return TRUE;
}

}  // namespace

int64_t WineHandleCount() {
    std::vector<ULONG_PTR> handles;
    if (!platform::ProcessHandles(handles)) return -1;
    return static_cast<int64_t>(handles.size());
}

int64_t WineUserObjectCount() {
    int64_t count = 0;
    // EnumWindows lists hidden top-level windows too, not message-only ones.
    EnumWindows(CountTopLevel, reinterpret_cast<LPARAM>(&count));
    for (HWND window = nullptr; (window = FindWindowExW(HWND_MESSAGE, window, nullptr, nullptr)) != nullptr;)
        if (OfThisProcess(window)) CountTree(window, count);
    // IsMenu answers only for this process's menus.
    for (ULONG_PTR value = kFirstUserHandle; value < kHandleValues; value += 2)
        if (IsMenu(reinterpret_cast<HMENU>(value))) ++count;
    return count;
}

HANDLE WineDllHeap() {
    if (!platform::WineTransfer::Needed()) return nullptr;
    HMODULE ucrtbase = GetModuleHandleW(L"ucrtbase.dll");
    auto heap_of = ucrtbase ? reinterpret_cast<intptr_t(__cdecl*)()>(
                                  reinterpret_cast<void*>(GetProcAddress(ucrtbase, "_get_heap_handle")))
                            : nullptr;
    HANDLE heap = heap_of ? reinterpret_cast<HANDLE>(heap_of()) : nullptr;
    if (!heap || heap == GetProcessHeap() || heap == reinterpret_cast<HANDLE>(_get_heap_handle())) return nullptr;
    return heap;
}

int64_t WineGdiObjectCount() {
    int64_t count = 0;
    for (ULONG_PTR value = 1; value < kHandleValues; ++value)
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(value)) != 0) ++count;
    return count;
}

}  // namespace soak
}  // namespace feedlet
