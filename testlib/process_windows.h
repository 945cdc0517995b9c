// This process's windows as a person finds and works them: visible top-level
// windows by class and caption, their texts, presses of their buttons, and
// an open popup menu walked with the keyboard. The waits poll (they are for
// watcher threads) and are bounded.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace feedlet {
namespace win32_testing {

// Visible top-level windows of this process with this class, in z-order.
std::vector<HWND> ProcessWindows(const wchar_t* window_class);
// The first of them with this caption (any, when caption is null), or null.
HWND FindProcessWindow(const wchar_t* window_class, const wchar_t* caption = nullptr);
// Waits for such a window; null when none came within timeout_ms.
HWND WaitForWindow(const wchar_t* window_class, const wchar_t* caption, DWORD timeout_ms);
// Visible top-level windows of this process with this class.
int CountProcessWindows(const wchar_t* window_class);
// The rectangle around every visible top-level window of this process with
// this class, grown by margin pixels and kept on the screen; empty when
// there is none.
RECT WindowsBounds(const wchar_t* window_class, int margin);
// True once window is gone or hidden, false when it stayed for timeout_ms.
bool WaitUntilGone(HWND window, DWORD timeout_ms);

std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& utf8);
// A window's text as UTF-8.
std::string WindowText(HWND window);

// Presses are posted, as the user's click arrives, so the caller never
// waits for what the press sets off (a message box's modal loop, a fetch).
// ClickAndWait sends it and returns once the handler is done (false when it
// did not finish within timeout_ms, for instance because it opened a
// message box).
void Click(HWND button);
void ClickDialogButton(HWND dialog, int id);
bool ClickAndWait(HWND button, DWORD timeout_ms);
// Changes a control's text (as typing would: the control tells its parent).
void SetControlText(HWND dialog, int id, const std::string& utf8);
std::string ControlText(HWND dialog, int id);

// Waits until the entry at position of menu is highlighted, as the open
// popup's keyboard handling shows it.
bool WaitForHighlight(HMENU menu, int position, DWORD timeout_ms);
// Walks an open popup menu with the keyboard: key presses posted to the
// popup window, each followed by a wait for its effect (the highlighted
// entry of the given menu), so nothing depends on how fast the menu loop
// runs. Returns false when an effect did not show within timeout_ms.
struct MenuKey {
    WPARAM key;
    HMENU menu;    // whose entry must then be highlighted (null: no check)
    int position;
};
bool WalkPopup(HWND popup, const std::vector<MenuKey>& keys, DWORD timeout_ms);
// The menu an open popup window shows.
HMENU PopupMenuOf(HWND popup);

}  // namespace win32_testing
}  // namespace feedlet
