#include "shoot.h"

#include <commctrl.h>

#include <cstdio>
#include <vector>

#include "bounded_waits.h"
#include "host_window.h"
#include "process_windows.h"
#include "screen_capture.h"

namespace qvshoot {

using namespace feedlet::win32_testing;
using qvhost::W;

namespace {

// How long a window may take to appear, answer, go or settle on the
// screen, and how long a whole shot may take: far beyond what a loaded
// machine under Wine needs, so only a fault reaches them.
constexpr DWORD kWindowMs = 5000;
constexpr DWORD kShotMs = 30000;

const wchar_t kMenuClass[] = L"#32768";
const wchar_t kDialogClass[] = L"#32770";

// Init, then the start-up fetches: until every display setting shows a
// text, at most wait_seconds. What the fetches posted meanwhile is handled.
void StartPlugin(const Plugin& plugin, double wait_seconds) {
    plugin.init();
    PumpUntil([&] { return qvhost::EverySettingShown(plugin); }, static_cast<DWORD>(wait_seconds * 1000));
    PumpPending();
}

// StartPlugin, then the clock window, which reads every line when it is
// made; null (the plugin freed again) when it could not be made.
HWND StartWithWindow(const Plugin& plugin, double wait_seconds) {
    StartPlugin(plugin, wait_seconds);
    HWND window = qvhost::CreateHostWindow(plugin, 40, 40);
    if (!window) {
        std::fprintf(stderr, "qvshoot: the window could not be created\n");
        plugin.free();
    }
    return window;
}

BOOL CALLBACK VisitThreadWindow(HWND window, LPARAM raw) {
    wchar_t name[64];
    if (GetClassNameW(window, name, 64) && lstrcmpW(name, kDialogClass) == 0 && !IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(raw) = window;
        return FALSE;
    }
    return TRUE;
}

// The plugin's hidden message window: the one invisible dialog of this thread.
HWND FindMessageWindow() {
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), VisitThreadWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

// Escape, once for each open menu level, each waited for; true when every
// popup menu of this process has closed.
bool CloseMenus() {
    for (int open = CountProcessWindows(kMenuClass); open > 0; open = CountProcessWindows(kMenuClass)) {
        std::vector<HWND> popups = ProcessWindows(kMenuClass);
        if (popups.empty()) break;
        PostMessageW(popups.front(), WM_KEYDOWN, VK_ESCAPE, 0);
        if (!WaitUntil([&] { return CountProcessWindows(kMenuClass) < open; }, kWindowMs)) return false;
    }
    return true;
}

RECT WindowRect(HWND window) {
    RECT area{};
    GetWindowRect(window, &area);
    return area;
}

// The outcome of one opening of the tray menu.
enum class MenuShot { kCaptured, kNotReady, kFailed };

MenuShot OpenAndShootTrayMenu(HWND window, const std::string& path) {
    MenuShot shot = MenuShot::kFailed;
    Watcher watcher([&] {
        HWND popup = WaitForWindow(kMenuClass, nullptr, kWindowMs);
        if (!popup) return;
        HMENU top = PopupMenuOf(popup);
        HMENU feed = GetSubMenu(top, 1);
        // The second feed's submenu shows its home page, a separator and
        // the articles; without articles, an update is still to come.
        if (GetMenuItemCount(feed) < 3) {
            shot = MenuShot::kNotReady;
        } else if (WalkPopup(popup, {{VK_DOWN, top, 0}, {VK_DOWN, top, 1}, {VK_RIGHT, feed, 0}, {VK_DOWN, feed, 2}},
                              kWindowMs)) {
            // From the screen's corner, where Wine's stand-in for the
            // notification area shows the icon, to the menus' far edge.
            RECT area = WindowsBounds(kMenuClass, 12);
            area.left = area.top = 0;
            if (CaptureWhenPainted(ProcessWindows(kMenuClass), area, path, kWindowMs)) shot = MenuShot::kCaptured;
        }
        if (!CloseMenus()) shot = MenuShot::kFailed;
    });
    // As the shell reports a right click on the icon.
    SendMessageW(window, RegisterWindowMessageA("FEEDLET_NOTIFYICON_MESSAGE By Marlun"), 0, WM_RBUTTONUP);
    return watcher.Join(kShotMs) ? shot : MenuShot::kFailed;
}

}  // namespace

// Opens the tray menu the way the shell does (the icon's callback message
// with a right-button release), opens the second feed's submenu, highlights
// its first article and captures both menus with the icon beside them.
int ShootTrayMenu(const Plugin& plugin, double wait_seconds, const std::string& path) {
    StartPlugin(plugin, wait_seconds);
    HWND window = FindMessageWindow();
    if (!window) {
        std::fprintf(stderr, "qvshoot: the plugin has no message window\n");
        plugin.free();
        return 1;
    }
    SetCursorPos(24, 24);  // the menu opens at the cursor
    // An update handled while its feed was still locked is taken up when
    // the popup closes: the second opening shows it.
    MenuShot shot = OpenAndShootTrayMenu(window, path);
    for (int again = 0; shot == MenuShot::kNotReady && again < 2; ++again) {
        PumpPending();
        shot = OpenAndShootTrayMenu(window, path);
    }
    plugin.free();
    if (shot != MenuShot::kCaptured)
        std::fprintf(stderr, "qvshoot: the menu did not appear or could not be captured\n");
    return shot == MenuShot::kCaptured ? 0 : 1;
}

int ShootHostWindow(const Plugin& plugin, double wait_seconds, const std::string& path, bool with_menu) {
    HWND window = StartWithWindow(plugin, wait_seconds);
    if (!window) return 1;
    bool captured = false;
    if (with_menu) {
        Watcher watcher([&] {
            HWND popup = WaitForWindow(kMenuClass, nullptr, kWindowMs);
            if (!popup) return;
            HMENU top = PopupMenuOf(popup);
            HMENU articles = GetSubMenu(top, 3);
            // Past the plugin settings entry and the feed-information
            // settings to the article settings, and into their submenu.
            bool walked = WalkPopup(popup, {{VK_DOWN, top, 0}, {VK_DOWN, top, 2}, {VK_DOWN, top, 3},
                                            {VK_RIGHT, articles, 0}, {VK_DOWN, articles, 1}},
                                    kWindowMs);
            if (walked) {
                RECT area = WindowRect(window);
                RECT menus = WindowsBounds(kMenuClass, 6);
                UnionRect(&area, &area, &menus);
                std::vector<HWND> shown = ProcessWindows(kMenuClass);
                shown.push_back(window);
                captured = CaptureWhenPainted(shown, area, path, kWindowMs);
            }
            captured = CloseMenus() && captured;
        });
        qvhost::OpenHostMenu(window);
        if (!watcher.Join(kShotMs)) captured = false;
    } else {
        captured = CaptureWhenPainted({window}, WindowRect(window), path, kWindowMs);
    }
    std::printf("window\t%d lines\n", qvhost::ShownLines(window));
    DestroyWindow(window);
    PumpPending();
    plugin.free();
    if (!captured) std::fprintf(stderr, "qvshoot: the window could not be captured\n");
    return captured ? 0 : 1;
}

int ShootWindowEdit(const Plugin& plugin, double wait_seconds, const std::string& path) {
    HWND window = StartWithWindow(plugin, wait_seconds);
    if (!window) return 1;
    std::printf("before\t%s\n", qvhost::Utf8(qvhost::ShownLine(window, 2, 1)).c_str());
    bool edited = false;
    bool captured = false;
    {
        Watcher watcher([&] {
            HWND popup = WaitForWindow(kMenuClass, nullptr, kWindowMs);
            if (!popup) return;
            HMENU top = PopupMenuOf(popup);
            HMENU articles = GetSubMenu(top, 3);
            // To the article settings, into their submenu, and choose the
            // first.
            if (!WalkPopup(popup, {{VK_DOWN, top, 0}, {VK_DOWN, top, 2}, {VK_DOWN, top, 3}, {VK_RIGHT, articles, 0}},
                           kWindowMs)) {
                CloseMenus();
                return;
            }
            PostMessageW(popup, WM_KEYDOWN, VK_RETURN, 0);
            HWND dialog = WaitForWindow(kDialogClass, W(u"表示項目設定"), kWindowMs);
            if (!dialog) {
                CloseMenus();
                return;
            }
            SetDlgItemTextW(dialog, 1017, L"edited: %title");  // the format edit
            PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
            edited = WaitUntil([&] { return !IsWindow(dialog); }, kWindowMs);
            // The window reads its lines again once the dialog has
            // returned: done when its thread answers again.
            if (edited && WaitUntilAnswering(window, kWindowMs))
                captured = CaptureWhenPainted({window}, WindowRect(window), path, kWindowMs);
        });
        qvhost::OpenHostMenu(window);
        if (!watcher.Join(kShotMs)) edited = captured = false;
    }
    std::printf("after\t%s\n", qvhost::Utf8(qvhost::ShownLine(window, 2, 1)).c_str());
    DestroyWindow(window);
    PumpPending();
    plugin.free();
    if (!edited)
        std::fprintf(stderr, "qvshoot: the display setting dialog did not open from the menu or close with OK\n");
    return edited && captured ? 0 : 1;
}

int ShootSettingDialog(const Plugin& plugin, double wait_seconds, int number, int setting, const std::string& path) {
    StartPlugin(plugin, wait_seconds);
    const wchar_t* caption = number == 0 ? W(u"プラグイン設定") : W(u"表示項目設定");
    bool captured = false;
    {
        Watcher watcher([&] {
            HWND dialog = WaitForWindow(kDialogClass, caption, kWindowMs);
            if (!dialog) return;
            captured = CaptureWhenPainted({dialog}, WindowRect(dialog), path, kWindowMs);
            PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        });
        plugin.show_setting(number, setting, nullptr);
        if (!watcher.Join(kShotMs)) captured = false;
    }
    plugin.free();
    if (!captured) std::fprintf(stderr, "qvshoot: the dialog did not appear or could not be captured\n");
    return captured ? 0 : 1;
}

// The feed manager as the host's user reaches it: ShowSetting 0 opens the
// plugin settings dialog, whose button 1064 opens the feed manager. The
// second row is selected so that the fields show its feed; with check_url,
// a check of that URL (a server that never answers) is started and the
// dialog taken while it runs.
int ShootFeedManager(const Plugin& plugin, double wait_seconds, const std::string& check_url, const std::string& path) {
    StartPlugin(plugin, wait_seconds);
    bool captured = false;
    {
        Watcher watcher([&] {
            HWND settings = WaitForWindow(kDialogClass, W(u"プラグイン設定"), kWindowMs);
            if (!settings) return;
            ClickDialogButton(settings, 1064);
            HWND manager = WaitForWindow(kDialogClass, W(u"RSS管理"), kWindowMs);
            if (manager) {
                LVITEMW item{};
                item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
                item.state = LVIS_SELECTED | LVIS_FOCUSED;
                SendMessageW(GetDlgItem(manager, 1046), LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&item));
                bool ready = true;
                if (!check_url.empty()) {
                    // The URL field (1044), then Check (1050), whose text
                    // changes once the check runs.
                    HWND check = GetDlgItem(manager, 1050);
                    std::string before = WindowText(check);
                    SetControlText(manager, 1044, check_url);
                    Click(check);
                    ready = WaitUntil([&] { return WindowText(check) != before; }, kWindowMs);
                }
                captured = ready && CaptureWhenPainted({manager}, WindowRect(manager), path, kWindowMs);
                PostMessageW(manager, WM_COMMAND, IDCANCEL, 0);
                WaitUntil([&] { return !IsWindow(manager); }, kWindowMs);
            }
            PostMessageW(settings, WM_COMMAND, IDCANCEL, 0);
        });
        plugin.show_setting(0, 0, nullptr);
        if (!watcher.Join(kShotMs)) captured = false;
    }
    plugin.free();
    if (!captured) std::fprintf(stderr, "qvshoot: the feed manager did not appear or could not be captured\n");
    return captured ? 0 : 1;
}

}  // namespace qvshoot
