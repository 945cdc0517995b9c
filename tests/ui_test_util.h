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

#include "test_util.h"
#include "ui/tray_icon.h"

namespace feedlet {
namespace testing_util {

// Dispatches this thread's messages until done() holds or timeout_ms passed;
// false on time-out.
bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms);
// Dispatches whatever is queued now.
void PumpPending();
// Dispatches this thread's messages until no crawler of the plugin's feeds
// is fetching and the tray menu, if any, has caught up with the updates the
// fetches posted; false on time-out.
bool PumpUntilFetchesEnd(DWORD timeout_ms);
// Polls (without pumping: for watcher threads) until done() holds or
// timeout_ms passed; false on time-out.
bool WaitUntil(const std::function<bool()>& done, DWORD timeout_ms);

// Visible top-level windows of this process with this class, in z-order.
std::vector<HWND> ProcessWindows(const wchar_t* window_class);
// The first of them with this caption (any, when caption is null), or null.
HWND FindProcessWindow(const wchar_t* window_class, const wchar_t* caption = nullptr);
// Waits (polling, for watcher threads) for such a window.
HWND WaitForWindow(const wchar_t* window_class, const wchar_t* caption, DWORD timeout_ms);
// Visible top-level windows of this process with this class.
int CountProcessWindows(const wchar_t* window_class);

std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& utf8);
// UTF-8 text in code page 932 (through test_util's Cp932 of its UTF-16).
std::string Cp932(const std::string& utf8);
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

// Dialogs and message boxes, for watcher threads. Presses are posted, as
// the user's click arrives, so the watcher never waits for what the press
// sets off (a message box's modal loop, a fetch); ClickAndWait sends it and
// returns once the handler is done (false when it did not finish within
// timeout_ms, for instance because it opened a message box).
void Click(HWND button);
void ClickDialogButton(HWND dialog, int id);
bool ClickAndWait(HWND button, DWORD timeout_ms);
// Changes a control's text (as typing would: the control tells its parent).
void SetControlText(HWND dialog, int id, const std::string& utf8);
std::string ControlText(HWND dialog, int id);
// True when window is gone or hidden within timeout_ms.
bool WaitUntilGone(HWND window, DWORD timeout_ms);

// A message box as its user sees it.
struct MessageBoxView {
    HWND window = nullptr;
    std::string caption;       // UTF-8
    std::string text;          // UTF-8
    std::string icon;          // "warning", "question", "information", "error", "" (none) or "other"
    std::vector<int> buttons;  // the command ids of its buttons, ascending (IDOK, IDYES, IDNO, ...)
};
// A visible dialog-class window of this process owned by owner (a message
// box over a dialog), or null.
HWND FindOwnedDialog(HWND owner);
// Waits for one and reads it; window stays null when none came in time.
MessageBoxView WaitForMessageBox(HWND owner, DWORD timeout_ms);
MessageBoxView ReadMessageBox(HWND box);
// Presses the box's button (IDYES, IDNO, IDOK...) and waits for the box to
// go; false when it stayed.
bool Answer(const MessageBoxView& box, int button, DWORD timeout_ms);

// Posts Cancel to every visible dialog and message box of this process
// (under Wine a message box ends on any of its commands).
void CancelProcessDialogs();

// Bounds a modal loop run on this thread: once timeout_ms have passed, a
// thread timer (dispatched by any modal loop) cancels every visible dialog
// and message box of this process, again and again until the loop has
// returned. fired() says whether it had to.
class ModalDeadline {
public:
    explicit ModalDeadline(DWORD timeout_ms);
    ~ModalDeadline();
    ModalDeadline(const ModalDeadline&) = delete;
    ModalDeadline& operator=(const ModalDeadline&) = delete;
    bool fired() const;

private:
    UINT_PTR timer_ = 0;
};

// The plugin as the host runs it in these tests: a host folder (host(),
// ending in a separator) holding Plugins\Feedlet\, the plugin attached to
// this program (whose resources are linked in) with the Windows user
// interface installed, and the tray icon's shell calls going to notify.
// Destruction detaches the plugin (running Free when a test did not), takes
// the user interface out and restores the plugin directory.
class PluginHost {
public:
    explicit PluginHost(ui::TrayIcon::NotifyFn notify);
    ~PluginHost();
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;
    const std::string& host() const { return host_.path(); }
    const std::string& plugin_dir() const { return plugin_dir_; }
    std::string FeedsPath() const { return plugin_dir_ + "Feedlet\\RSS.ini"; }
    std::string SettingsPath() const { return plugin_dir_ + "Feedlet\\Setting.ini"; }
    // Writes a file into the host folder; its path.
    std::string File(const std::string& name, const std::string& bytes) const;

private:
    TempDir host_;
    std::string plugin_dir_;
    std::string saved_dir_;
};

// A dialog's controls, read and driven from a watcher thread while the
// dialog's own thread sits in its modal loop (messages sent across threads
// are handled there, between its other messages).
// Types the text character by character (WM_CHAR), as the keyboard would:
// an edit's length limit applies.
void TypeText(HWND dialog, int id, const std::string& utf8);
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
