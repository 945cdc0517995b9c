#include "shoot.h"

#include <commctrl.h>

#include <cstdio>
#include <functional>

#include "host_window.h"
#include "screen_capture.h"

namespace qvhost {

namespace {

// Runs work on a thread of its own while this thread sits in a modal loop.
class Watcher {
public:
    explicit Watcher(std::function<void()> work) : work_(std::move(work)) {
        thread_ = CreateThread(nullptr, 0, Main, this, 0, nullptr);
    }
    ~Watcher() {
        if (!thread_) return;
        if (WaitForSingleObject(thread_, 15000) != WAIT_OBJECT_0) TerminateThread(thread_, 1);
        CloseHandle(thread_);
    }
    Watcher(const Watcher&) = delete;
    Watcher& operator=(const Watcher&) = delete;
    bool Done() const { return !thread_ || WaitForSingleObject(thread_, 0) == WAIT_OBJECT_0; }

private:
    static DWORD WINAPI Main(void* self) {
        static_cast<Watcher*>(self)->work_();
        return 0;
    }
    std::function<void()> work_;
    HANDLE thread_ = nullptr;
};

BOOL CALLBACK VisitThreadWindow(HWND window, LPARAM raw) {
    wchar_t name[64];
    if (GetClassNameW(window, name, 64) && lstrcmpW(name, L"#32770") == 0 && !IsWindowVisible(window)) {
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

// Walks an open popup menu with keys, a pause after each so it repaints.
void PressKeys(HWND popup, std::initializer_list<WPARAM> keys) {
    for (WPARAM key : keys) {
        PostMessageW(popup, WM_KEYDOWN, key, 0);
        Sleep(200);
    }
}

void CloseMenus(HWND popup) {
    for (int i = 0; i < 3; ++i) {
        PostMessageW(popup, WM_KEYDOWN, VK_ESCAPE, 0);
        Sleep(100);
    }
}

}  // namespace

// Opens the tray menu the way the shell does (the icon's callback message
// with a right-button release), opens the second feed's submenu, highlights
// its first article and captures both menus with the icon beside them.
int ShootTrayMenu(const Plugin& plugin, double wait_seconds, const std::string& path) {
    plugin.init();
    PumpMessages(wait_seconds);
    HWND window = FindMessageWindow();
    if (!window) {
        std::fprintf(stderr, "qvhost: the plugin has no message window\n");
        plugin.free();
        return 1;
    }
    SetCursorPos(24, 24);  // the menu opens at the cursor
    bool captured = false;
    {
        Watcher watcher([&] {
            HWND popup = WaitForProcessWindow(L"#32768", nullptr, 5000);
            if (!popup) return;
            PressKeys(popup, {VK_DOWN, VK_DOWN, VK_RIGHT, VK_DOWN});
            Sleep(500);  // let both menus paint
            // From the screen's corner, where Wine's stand-in for the
            // notification area shows the icon, to the menus' far edge.
            RECT area = WindowsBounds(L"#32768", 12);
            area.left = area.top = 0;
            captured = CaptureScreen(area, path);
            CloseMenus(popup);
        });
        SendMessageW(window, RegisterWindowMessageA("FEEDLET_NOTIFYICON_MESSAGE By Marlun"), 0, WM_RBUTTONUP);
    }
    plugin.free();
    if (!captured) std::fprintf(stderr, "qvhost: the menu did not appear or could not be captured\n");
    return captured ? 0 : 1;
}

int ShootHostWindow(const Plugin& plugin, double wait_seconds, const std::string& path, bool with_menu) {
    plugin.init();
    PumpMessages(wait_seconds);
    HWND window = CreateHostWindow(plugin, 40, 40);
    if (!window) {
        std::fprintf(stderr, "qvhost: the window could not be created\n");
        plugin.free();
        return 1;
    }
    PumpMessages(1.5);  // a refresh or two
    bool captured = false;
    if (with_menu) {
        Watcher watcher([&] {
            HWND popup = WaitForProcessWindow(L"#32768", nullptr, 5000);
            if (!popup) return;
            // Past the plugin settings entry and the feed-information
            // settings to the article settings, and into their submenu.
            PressKeys(popup, {VK_DOWN, VK_DOWN, VK_DOWN, VK_RIGHT, VK_DOWN});
            Sleep(500);
            RECT area{};
            GetWindowRect(window, &area);
            RECT menus = WindowsBounds(L"#32768", 6);
            UnionRect(&area, &area, &menus);
            captured = CaptureScreen(area, path);
            CloseMenus(popup);
        });
        OpenHostMenu(window);
        DWORD start = GetTickCount();
        while (!watcher.Done() && GetTickCount() - start < 10000) PumpMessages(0.05);
    } else {
        RECT area{};
        GetWindowRect(window, &area);
        captured = CaptureScreen(area, path);
    }
    std::printf("window\t%d lines\n", ShownLines(window));
    DestroyWindow(window);
    PumpMessages(0.1);
    plugin.free();
    if (!captured) std::fprintf(stderr, "qvhost: the window could not be captured\n");
    return captured ? 0 : 1;
}

int ShootWindowEdit(const Plugin& plugin, double wait_seconds, const std::string& path) {
    plugin.init();
    PumpMessages(wait_seconds);
    HWND window = CreateHostWindow(plugin, 40, 40);
    if (!window) {
        std::fprintf(stderr, "qvhost: the window could not be created\n");
        plugin.free();
        return 1;
    }
    PumpMessages(1.2);
    std::printf("before\t%s\n", Utf8(ShownLine(window, 2, 1)).c_str());
    bool edited = false;
    bool captured = false;
    {
        Watcher watcher([&] {
            HWND popup = WaitForProcessWindow(L"#32768", nullptr, 5000);
            if (!popup) return;
            // To the article settings, into their submenu, and choose the
            // first.
            PressKeys(popup, {VK_DOWN, VK_DOWN, VK_DOWN, VK_RIGHT});
            HWND submenu = nullptr;
            for (int i = 0; i < 50 && CountProcessWindows(L"#32768") < 2; ++i) Sleep(50);
            submenu = WaitForProcessWindow(L"#32768", nullptr, 1000);
            PostMessageW(submenu ? submenu : popup, WM_KEYDOWN, VK_RETURN, 0);
            HWND dialog = WaitForProcessWindow(L"#32770", W(u"表示項目設定"), 5000);
            if (!dialog) {
                CloseMenus(popup);
                return;
            }
            SetDlgItemTextW(dialog, 1017, L"edited: %title");  // the format edit
            PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
            for (int i = 0; i < 100 && IsWindow(dialog); ++i) Sleep(50);
            edited = !IsWindow(dialog);
            Sleep(300);  // the window repaints after the dialog
            RECT area{};
            GetWindowRect(window, &area);
            captured = CaptureScreen(area, path);
        });
        OpenHostMenu(window);
        DWORD start = GetTickCount();
        while (!watcher.Done() && GetTickCount() - start < 15000) PumpMessages(0.05);
    }
    std::printf("after\t%s\n", Utf8(ShownLine(window, 2, 1)).c_str());
    DestroyWindow(window);
    PumpMessages(0.1);
    plugin.free();
    if (!edited) std::fprintf(stderr, "qvhost: the display setting dialog did not open from the menu or close with OK\n");
    return edited && captured ? 0 : 1;
}

int ShootSettingDialog(const Plugin& plugin, double wait_seconds, int number, int setting, const std::string& path) {
    plugin.init();
    PumpMessages(wait_seconds);
    const wchar_t* caption = number == 0 ? W(u"プラグイン設定") : W(u"表示項目設定");
    bool captured = false;
    {
        Watcher watcher([&] {
            HWND dialog = WaitForProcessWindow(L"#32770", caption, 5000);
            if (!dialog) return;
            Sleep(600);  // let every control paint
            RECT area{};
            GetWindowRect(dialog, &area);
            captured = CaptureScreen(area, path);
            PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        });
        plugin.show_setting(number, setting, nullptr);
    }
    plugin.free();
    if (!captured) std::fprintf(stderr, "qvhost: the dialog did not appear or could not be captured\n");
    return captured ? 0 : 1;
}

// The feed manager as the host's user reaches it: ShowSetting 0 opens the
// plugin settings dialog, whose button 1064 opens the feed manager. The
// second feed is chosen so that the fields show its values, and the feed
// manager's window is captured.
// The feed manager, opened from the plugin settings dialog with its second
// row selected; with check_url, a check of that URL (a server that never
// answers) is started and the dialog taken while it runs.
int ShootManager(const Plugin& plugin, double wait_seconds, const std::string& check_url, const std::string& path) {
    plugin.init();
    PumpMessages(wait_seconds);
    bool captured = false;
    {
        Watcher watcher([&] {
            HWND settings = WaitForProcessWindow(L"#32770", W(u"プラグイン設定"), 5000);
            if (!settings) return;
            PostMessageW(GetDlgItem(settings, 1064), BM_CLICK, 0, 0);
            HWND manager = WaitForProcessWindow(L"#32770", W(u"RSS管理"), 5000);
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
                    wchar_t before[64] = {};
                    GetWindowTextW(check, before, 64);
                    SendMessageW(GetDlgItem(manager, 1044), WM_SETTEXT, 0,
                                 reinterpret_cast<LPARAM>(std::wstring(check_url.begin(), check_url.end()).c_str()));
                    PostMessageW(check, BM_CLICK, 0, 0);
                    ready = false;
                    for (DWORD waited = 0; !ready && waited < 5000; waited += 20) {
                        wchar_t now[64] = {};
                        GetWindowTextW(check, now, 64);
                        ready = std::wstring(now) != before;
                        if (!ready) Sleep(20);
                    }
                }
                Sleep(500);  // let the dialog paint
                RECT area;
                GetWindowRect(manager, &area);
                captured = ready && CaptureScreen(area, path);
                PostMessageW(manager, WM_COMMAND, IDCANCEL, 0);
                for (DWORD waited = 0; IsWindow(manager) && waited < 5000; waited += 20) Sleep(20);
            }
            PostMessageW(settings, WM_COMMAND, IDCANCEL, 0);
        });
        plugin.show_setting(0, 0, nullptr);
    }
    plugin.free();
    if (!captured) std::fprintf(stderr, "qvhost: the feed manager did not appear or could not be captured\n");
    return captured ? 0 : 1;
}

int ShootFeedManager(const Plugin& plugin, double wait_seconds, const std::string& path) {
    return ShootManager(plugin, wait_seconds, std::string(), path);
}

int ShootFeedManagerCheck(const Plugin& plugin, double wait_seconds, const std::string& url, const std::string& path) {
    return ShootManager(plugin, wait_seconds, url, path);
}

}  // namespace qvhost
