// Helpers for driving the plugin's real windows under Wine: bounded waits
// that keep this thread's messages flowing, finding the process's windows by
// class and caption, a watcher thread that acts while this thread sits in a
// modal loop (a popup menu, a dialog, a message box), and reading menus and
// controls back as UTF-8 text. Every wait is bounded: a window that never
// appears fails the test instead of hanging it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace feedlet {
namespace testing_util {

// Dispatches this thread's messages until done() holds or timeout_ms passed;
// false on time-out.
bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms);
// Dispatches whatever is queued now.
void PumpPending();
// Polls (without pumping: for watcher threads) until done() holds or
// timeout_ms passed; false on time-out.
bool WaitUntil(const std::function<bool()>& done, DWORD timeout_ms);

// A visible top-level window of this process with this class (and caption,
// when given), or null.
HWND FindProcessWindow(const wchar_t* window_class, const wchar_t* caption = nullptr);
// Waits (polling, for watcher threads) for such a window.
HWND WaitForWindow(const wchar_t* window_class, const wchar_t* caption, DWORD timeout_ms);
// Visible top-level windows of this process with this class.
int CountProcessWindows(const wchar_t* window_class);

std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& utf8);
std::string WindowText(HWND window);

// One line per entry of a menu: "item LABEL", "grayed LABEL", "popup LABEL"
// or "----".
std::vector<std::string> MenuLines(HMENU menu);

// Waits (polling, for watcher threads) until the entry at position of menu
// is highlighted, as the open popup's keyboard handling shows it.
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

// Runs a function on its own thread, for acting on windows while this
// thread is in a modal loop. Join waits (pumping this thread's messages) at
// most timeout_ms; false when the function did not finish.
class Watcher {
public:
    explicit Watcher(std::function<void()> work);
    ~Watcher();
    Watcher(const Watcher&) = delete;
    Watcher& operator=(const Watcher&) = delete;
    bool Join(DWORD timeout_ms);

private:
    static DWORD WINAPI Main(void* self);
    std::function<void()> work_;
    HANDLE thread_ = nullptr;
};

}  // namespace testing_util
}  // namespace feedlet
