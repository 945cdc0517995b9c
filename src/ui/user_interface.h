// The plugin's Windows user interface: the tray icon with its hidden
// message window and article menu, and (through ShowSetting) the settings
// dialogs. The DLL's composition root installs UserInterface() into the
// plugin core, whose Init, Free, notify callback and ShowSetting call it.
//
// Everything here runs on the thread that called Init (the host's
// user-interface thread), except FeedUpdated, which a crawler's worker calls
// and which only posts a message to that thread.
#pragma once

#include <windows.h>

#include <atomic>

#include "plugin/plugin_state.h"
#include "ui/article_menu_view.h"
#include "ui/tray_icon.h"

namespace feedlet {
namespace ui {

// The table the composition root hands to SetPluginUi.
const PluginUi& UserInterface();

// Private messages and timers of the message window.
constexpr UINT kFeedUpdatedMessage = WM_APP + 1;  // lParam: the FeedCrawler whose document was replaced
constexpr UINT_PTR kRetryTimer = 1;                // rebuilds submenus whose fetch held the lock
constexpr UINT kRetryMilliseconds = 250;
// Adds the tray icon again after the shell did not take it (at logon the
// notification area may not be ready yet when the clock starts): every 3 s,
// at most 100 times (five minutes), until the option is turned off or Free.
constexpr UINT_PTR kTrayAddTimer = 2;
constexpr UINT kTrayAddMilliseconds = 3000;
constexpr int kTrayAddTries = 100;

struct UiState {
    UINT taskbar_created_message = 0;
    // Read by workers (they post to it), written only by this thread.
    std::atomic<HWND> message_window{nullptr};
    HICON icon = nullptr;                 // owned: the small icon's size, destroyed by Free
    ArticleMenu* article_menu = nullptr;  // exists while the tray option is on
    int busy = 0;                         // the icon's callback is being handled
    int tray_add_tries = 0;               // adds of the icon the retry timer may still make
};
UiState& State();
// The process-wide tray icon record, constructed when the library loads.
TrayIcon& Tray();

// After the plugin settings dialog closed with dialog_result: applies a
// change of the tray option and the menu's zone (was_on and previous_zone
// are what they were before the dialog). The option newly on, or still on
// with another zone: the menu is created if missing, built, and the icon
// added; the add's success is returned. Turned off: the menu is destroyed
// and the icon removed; the remove's success is returned. Otherwise
// dialog_result.
int ApplyTrayOption(bool was_on, const TimeZoneEntry* previous_zone, int dialog_result);
// Builds an existing article menu anew from the feed list (after the feed
// manager committed its edits, so that no entry refers to a destroyed
// crawler). Nothing when the menu does not exist.
void RebuildArticleMenu();

// Opens a chosen entry's link: the link in the form EncodeLinkForShell
// gives (menu/article_menu.h) goes to the opener, ShellExecuteW or what a
// test puts there; a link that form refuses goes nowhere.
void OpenLink(const char16_t* link);
using LinkOpener = void (*)(const wchar_t* link);
void SetLinkOpener(LinkOpener opener);

// The message window's procedure (exposed for tests that drive it).
INT_PTR CALLBACK MessageWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace ui
}  // namespace feedlet
