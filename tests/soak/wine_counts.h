// What a process holds, for where the documented counters do not answer or
// Wine's own DLLs would be counted as the plugin's: Wine 8's
// GetProcessHandleCount gives 0, its GetGuiResources fails
// (ERROR_CALL_NOT_IMPLEMENTED), and its WinINet keeps the record of every
// connection it closed (96 bytes in a 32-bit process: HTTPREQ_Destroy never
// frees a connection that was closed rather than kept alive), in a heap of
// Wine's own. On Windows both counters answer, WinINet frees everything with its
// handles, and nothing here runs. Each count is -1 when it cannot be made.
#pragma once

#include <windows.h>

#include <cstdint>

namespace feedlet {
namespace soak {

// The process's entries in the system's handle list (Windows keeps the same
// list; GetProcessHandleCount reads its count directly).
int64_t WineHandleCount();
// Windows of the process (top-level, their children and message-only
// windows) plus its live menus. Icons and cursors are left out: each holds
// bitmaps, which the GDI count sees. Windows counts every USER object of
// the process in GR_USEROBJECTS.
int64_t WineUserObjectCount();
// Live GDI objects of the process. Windows counts them in GR_GDIOBJECTS.
int64_t WineGdiObjectCount();

// The heap Wine's own DLLs allocate from: they are built against Wine's
// ucrtbase, whose heap is a private one under Wine, while this program's C
// runtime (msvcrt) has another. On Windows ucrtbase allocates from the
// process heap, like WinINet and every other system DLL. Null when not
// under Wine or when that heap is not a separate one.
HANDLE WineDllHeap();

}  // namespace soak
}  // namespace feedlet
