#include "ui/user_interface.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <string>

#include "core/text_field.h"
#include "core/ui_text.h"
#include "ui/display_setting_dialog.h"
#include "ui/plugin_settings_dialog.h"
#include "ui/resource.h"

namespace feedlet {
namespace ui {

namespace {

// tray_icon exists from library load to unload.
TrayIcon g_tray_icon;
const UiText kTrayTip(u"Quorvel - RSS情報取得プラグイン");
UiState g_state;

// ShellExecuteW may hand the link to a COM server (a browser registered as
// one), so COM must be initialised on the calling thread, as the function's
// documentation requires. The host's thread may have it already: S_FALSE is
// balanced like S_OK, and a thread in the other mode (RPC_E_CHANGED_MODE)
// is left as it is.
void OpenWithShell(const wchar_t* link) {
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    ShellExecuteW(nullptr, nullptr, link, nullptr, nullptr, SW_SHOW);
    if (SUCCEEDED(com)) CoUninitialize();
}
LinkOpener g_open_link = OpenWithShell;

HINSTANCE Module() { return static_cast<HINSTANCE>(Plugin().module); }

// Submenus whose crawler was busy are tried again shortly.
void ArmRetryIfStale() {
    UiState& s = g_state;
    HWND window = s.message_window.load();
    if (window && s.article_menu && s.article_menu->HasStale()) SetTimer(window, kRetryTimer, kRetryMilliseconds, nullptr);
}

void BuildArticleMenu() {
    UiState& s = g_state;
    if (!s.article_menu) s.article_menu = new ArticleMenu;
    s.article_menu->BuildMenu(&Plugin().feeds, Plugin().menu_time_zone);
    ArmRetryIfStale();
}

void DestroyArticleMenu() {
    delete g_state.article_menu;
    g_state.article_menu = nullptr;
}

void StopTrayRetry() {
    UiState& s = g_state;
    s.tray_add_tries = 0;
    if (HWND window = s.message_window.load()) KillTimer(window, kTrayAddTimer);
}

// Adds the icon. When the shell does not take it, the timer tries again a
// bounded number of times: at logon the clock may start before the
// notification area is ready, and TaskbarCreated may have come before.
bool ShowTrayIcon() {
    UiState& s = g_state;
    if (g_tray_icon.Add()) {
        StopTrayRetry();
        return true;
    }
    HWND window = s.message_window.load();
    if (window && SetTimer(window, kTrayAddTimer, kTrayAddMilliseconds, nullptr)) s.tray_add_tries = kTrayAddTries;
    return false;
}

void OnTrayAddTimer() {
    UiState& s = g_state;
    // Turned off meanwhile (no menu, no icon wanted), or the tries are spent.
    if (!s.article_menu || s.tray_add_tries <= 0) {
        StopTrayRetry();
        return;
    }
    --s.tray_add_tries;
    // An add the shell reported as failed (timed out while it was busy) may
    // have been done all the same; a modify then finds the icon there.
    if (g_tray_icon.Modify() || g_tray_icon.Add() || s.tray_add_tries == 0) StopTrayRetry();
}

// ---------------------------------------------------------------------------
// The message window's messages.

void OnTrayNotify(HWND window, LPARAM mouse_message) {
    UiState& s = g_state;
    // The popup's modal loop dispatches a second notification while the
    // first is still being handled; that one returns at once.
    if (s.busy) return;
    s.busy = 1;
    if (mouse_message == WM_RBUTTONUP && s.article_menu) {
        UINT command = s.article_menu->ShowPopup(window);
        // The entry's own copy: the menu may change while the shell works.
        std::u16string link;
        if (command && s.article_menu) {
            if (const char16_t* chosen = s.article_menu->OpenableLink(command)) link = chosen;
        }
        // Still busy: the shell may run a message loop of its own meanwhile.
        if (!link.empty()) OpenLink(link.c_str());
    }
    s.busy = 0;
    // Updates that came while the popup was open were only noted.
    if (s.article_menu) s.article_menu->RetryStale(Plugin().menu_time_zone);
    ArmRetryIfStale();
}

void OnFeedReplaced(FeedCrawler* crawler) {
    UiState& s = g_state;
    if (!s.article_menu) return;
    // While the popup is open its entries stay as they are.
    if (s.busy) {
        s.article_menu->MarkStale(crawler);
        return;
    }
    s.article_menu->RebuildFeedMenu(crawler, Plugin().menu_time_zone);
    ArmRetryIfStale();
}

void OnRetryTimer(HWND window) {
    UiState& s = g_state;
    if (s.busy) return;
    if (!s.article_menu || s.article_menu->RetryStale(Plugin().menu_time_zone)) KillTimer(window, kRetryTimer);
}

// ---------------------------------------------------------------------------
// The plugin core's hooks.

void UiInit() {
    UiState& s = g_state;
    // Nothing of an earlier Init in this loaded copy is left (Free).
    s.busy = 0;
    s.tray_add_tries = 0;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    s.taskbar_created_message = RegisterWindowMessageA("TaskbarCreated");
    HWND window = CreateDialogParamW(Module(), MAKEINTRESOURCEW(IDD_MESSAGE_WINDOW), nullptr, MessageWindowProc, 0);
    s.message_window.store(window);
    g_tray_icon.SetWindow(window);
    g_tray_icon.SetTip(kTrayTip.Narrow());
    // The notification area shows small icons (SM_CXSMICON: 16 px at 100 %,
    // 20, 24 and 32 px at 125 to 200 %); the resource holds each of those
    // sizes, so the one loaded is drawn without stretching. A shared icon
    // would be cached at the first size ever asked for, so this one is
    // private and Free destroys it.
    s.icon = static_cast<HICON>(LoadImageW(Module(), MAKEINTRESOURCEW(IDI_FEEDLET), IMAGE_ICON,
                                           GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                           LR_DEFAULTCOLOR));
    g_tray_icon.SetIcon(s.icon);
    if (Plugin().options & 1) {
        BuildArticleMenu();
        ShowTrayIcon();
    }
}

// Under the loader lock (an unload without Free) nothing goes to Explorer:
// Shell_NotifyIcon sends to another process. At process exit nothing is
// done at all; the system reclaims the handles.
void UiFreeIcon(Teardown how) {
    UiState& s = g_state;
    if (how == Teardown::kProcessExit) {
        s.icon = nullptr;
        return;
    }
    StopTrayRetry();
    if (how == Teardown::kFree) g_tray_icon.Remove();
    g_tray_icon.SetIcon(nullptr);
    if (s.icon) DestroyIcon(s.icon);
    s.icon = nullptr;
}

void UiFreeWindows(Teardown how) {
    UiState& s = g_state;
    HWND window = s.message_window.exchange(nullptr);
    g_tray_icon.SetWindow(nullptr);
    if (how == Teardown::kProcessExit) {
        s.article_menu = nullptr;  // the system reclaims it with the process
        return;
    }
    // The window's procedure lives in this module: it must not outlive it.
    if (window) DestroyWindow(window);
    DestroyArticleMenu();
}

// A worker thread, with the crawler's lock held: only a post, never a send.
void UiFeedUpdated(FeedCrawler* crawler) {
    if (HWND window = g_state.message_window.load())
        PostMessageW(window, kFeedUpdatedMessage, 0, reinterpret_cast<LPARAM>(crawler));
}

// ShowSetting 0: the plugin settings dialog, then the tray option and the
// menu's zone as the dialog left them.
int UiShowPluginSettings(void* parent) {
    PluginState& state = Plugin();
    bool was_on = (state.options & 1) != 0;
    const TimeZoneEntry* previous_zone = state.menu_time_zone;
    PluginSettingsDialogData data;
    data.config = &state;
    int result = ShowPluginSettingsDialog(static_cast<HWND>(parent), &data);
    return ApplyTrayOption(was_on, previous_zone, result);
}

// ShowSetting 1 and 2: the display setting dialog for the parameter.
int UiShowDisplaySetting(void* parent, uint32_t parameter) {
    DisplaySettingDialogData data;
    data.config = &Plugin();
    data.parameter = parameter;
    return ShowDisplaySettingDialog(static_cast<HWND>(parent), &data);
}

const PluginUi kUserInterface = {
    UiInit,
    UiFreeIcon,
    UiFreeWindows,
    UiFeedUpdated,
    UiShowPluginSettings,
    UiShowDisplaySetting,
};

}  // namespace

const PluginUi& UserInterface() { return kUserInterface; }
UiState& State() { return g_state; }
TrayIcon& Tray() { return g_tray_icon; }

void OpenLink(const char16_t* link) {
    std::u16string encoded;
    if (!link || !EncodeLinkForShell(link, Utf16Length(link), encoded)) return;
    g_open_link(reinterpret_cast<const wchar_t*>(encoded.c_str()));
}

void SetLinkOpener(LinkOpener opener) { g_open_link = opener ? opener : OpenWithShell; }

INT_PTR CALLBACK MessageWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    try {
        UiState& s = g_state;
        // The two registered messages have numbers known only at run time.
        if (message != 0 && message == g_tray_icon.callback_message()) {
            OnTrayNotify(window, lparam);
        } else if (message != 0 && message == s.taskbar_created_message) {
            // Explorer restarted with an empty notification area. An icon
            // without a menu would do nothing, so it comes back only while
            // the tray option is on.
            if (s.article_menu) ShowTrayIcon();
        } else {
            switch (message) {
                case kFeedUpdatedMessage:
                    OnFeedReplaced(reinterpret_cast<FeedCrawler*>(lparam));
                    break;
                case WM_TIMER:
                    if (wparam == kRetryTimer) OnRetryTimer(window);
                    if (wparam == kTrayAddTimer) OnTrayAddTimer();
                    break;
                default:
                    break;
            }
        }
    } catch (...) {
        // Nothing may leave a window procedure; the message is dropped.
    }
    return 0;
}

int ApplyTrayOption(bool was_on, const TimeZoneEntry* previous_zone, int dialog_result) {
    bool on = (Plugin().options & 1) != 0;
    if (on) {
        if (was_on && previous_zone == Plugin().menu_time_zone) return dialog_result;
        BuildArticleMenu();
        return ShowTrayIcon() ? 1 : 0;
    }
    if (!was_on) return dialog_result;
    StopTrayRetry();
    DestroyArticleMenu();
    return g_tray_icon.Remove() ? 1 : 0;
}

void RebuildArticleMenu() {
    if (g_state.article_menu) BuildArticleMenu();
}

}  // namespace ui
}  // namespace feedlet
