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
// UTF-8 text as code page 932 bytes (INI files, the plugin's narrow texts).
std::string Cp932(const std::string& utf8);
std::string WindowText(HWND window);

// One line per entry of a menu: "item LABEL", "grayed LABEL", "popup LABEL"
// or "----".
std::vector<std::string> MenuLines(HMENU menu);

// A dialog's controls, read and driven from a watcher thread while the
// dialog's own thread sits in its modal loop (messages sent across threads
// are handled there, between its other messages).
std::string ControlText(HWND dialog, int id);
// Sets the text as a program would (WM_SETTEXT: no length limit applies).
void SetControlText(HWND dialog, int id, const std::string& utf8);
// Types the text character by character (WM_CHAR), as the keyboard would:
// an edit's length limit applies.
void TypeText(HWND dialog, int id, const std::string& utf8);
// Clicks a button (BM_CLICK, posted: it returns at once, also when the click
// opens a modal window of its own).
void ClickButton(HWND dialog, int id);
bool IsControlShown(HWND dialog, int id);
// A drop-down list's item texts, its selection (-1: none), and choosing an
// item as the user does (the selection, then CBN_SELCHANGE to the dialog).
std::vector<std::string> ComboItems(HWND dialog, int id);
int ComboSelection(HWND dialog, int id);
void ChooseComboItem(HWND dialog, int id, int index);
// A list view's cell text and its column titles.
std::string ListViewText(HWND list, int row, int column);
std::vector<std::string> ListViewColumns(HWND list);
// The window that has the keyboard focus on window's thread.
HWND FocusOf(HWND window);
// The owner of a top-level window.
inline HWND OwnerOf(HWND window) { return GetWindow(window, GW_OWNER); }

// Runs show on this thread while act runs on a watcher thread with the
// visible window of this class and caption (a modal dialog show opens), once
// it appears. Whatever act leaves open is closed (WM_CLOSE) so that show
// always returns; every wait is bounded by timeout_ms.
struct ModalRun {
    bool appeared = false;  // the window appeared and act ran
    bool closed = false;    // it was gone once act had finished, without help
    int result = 0;         // what show returned
};
ModalRun RunModal(const wchar_t* window_class, const wchar_t* caption, const std::function<int()>& show,
                  const std::function<void(HWND)>& act, DWORD timeout_ms);

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
