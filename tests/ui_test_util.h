// Helpers for driving the plugin's real windows under Wine: the shared Win32
// helpers of testlib/ (bounded waits, the watcher thread, finding windows,
// message boxes, modal runs) brought into the tests' namespace, and what
// only the tests need: the plugin attached as the host runs it, waiting for
// its fetches, and reading menus and controls back as UTF-8 text. Every wait
// is bounded: a window that never appears fails the test instead of hanging
// it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "bounded_waits.h"
#include "modal_windows.h"
#include "process_windows.h"
#include "test_util.h"
#include "ui/tray_icon.h"

namespace feedlet {
namespace testing_util {

// The Win32 helpers the screenshot robot uses too (testlib/): bounded
// waits, the watcher thread, finding and working the process's windows,
// message boxes and modal runs.
using win32_testing::PumpPending;
using win32_testing::PumpUntil;
using win32_testing::WaitUntil;
using win32_testing::WaitUntilAnswering;
using win32_testing::Watcher;
using win32_testing::ProcessWindows;
using win32_testing::FindProcessWindow;
using win32_testing::WaitForWindow;
using win32_testing::CountProcessWindows;
using win32_testing::WaitUntilGone;
using win32_testing::Utf8;
using win32_testing::Wide;
using win32_testing::WindowText;
using win32_testing::Click;
using win32_testing::ClickDialogButton;
using win32_testing::ClickAndWait;
using win32_testing::SetControlText;
using win32_testing::ControlText;
using win32_testing::WaitForHighlight;
using win32_testing::MenuKey;
using win32_testing::WalkPopup;
using win32_testing::PopupMenuOf;
using win32_testing::MessageBoxView;
using win32_testing::FindOwnedDialog;
using win32_testing::WaitForMessageBox;
using win32_testing::ReadMessageBox;
using win32_testing::Answer;
using win32_testing::CancelProcessDialogs;
using win32_testing::ModalDeadline;
using win32_testing::ModalRun;
using win32_testing::RunModal;

// Dispatches this thread's messages until no crawler of the plugin's feeds
// is fetching and the tray menu, if any, has caught up with the updates the
// fetches posted; false on time-out.
bool PumpUntilFetchesEnd(DWORD timeout_ms);

// UTF-8 text in code page 932 (through test_util's Cp932 of its UTF-16).
std::string Cp932(const std::string& utf8);

// One line per entry of a menu: "item LABEL", "grayed LABEL", "popup LABEL"
// or "----".
std::vector<std::string> MenuLines(HMENU menu);

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

}  // namespace testing_util
}  // namespace feedlet
