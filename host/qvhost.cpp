// qvhost: a console stand-in for the Quorvel host. It loads the plugin the way
// the host does (LoadLibrary, GetProcAddress of the eight exports) and drives
// it from the command line, printing UTF-8.
//
//   qvhost [--plugin PATH] info
//   qvhost [--plugin PATH] [--wait SECONDS] print
//   qvhost [--plugin PATH] setting F S
//   qvhost [--plugin PATH] [--wait SECONDS] exit       Init, wait, ExitProcess without Free
//   qvhost [--plugin PATH] [--wait SECONDS] reload N   N times: load, Init, wait, Free, unload
//   qvhost [--plugin PATH] [--wait SECONDS] shoot menu FILE.bmp
//                                   Init, wait, open the tray menu as the shell would, capture it
//   qvhost [--plugin PATH] [--wait SECONDS] shoot manager FILE.bmp
//                                   Init, wait, open the feed manager through ShowSetting 0, capture it
#include <windows.h>

#include <commctrl.h>

#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "screen_capture.h"

namespace {

// The host's own declaration of the records, written from the ABI and not
// from the plugin's headers, so that a layout slip in either shows up here.
#pragma pack(push, 1)
struct PluginInfo {
    char name[32];
    char version[16];
    char description[256];
    char copyright[128];
    char homepage[256];
    char email[256];
    int32_t function_count;
    int32_t host_word1;
    int32_t host_word2;
};
struct FuncInfo {
    char name[32];
    char description[256];
    int32_t setting_count;
    int32_t host_word1;
    int32_t host_word2;
};
#pragma pack(pop)
static_assert(sizeof(PluginInfo) == 956, "host ABI");
static_assert(sizeof(FuncInfo) == 300, "host ABI");

using InitFn = int(__stdcall*)();
using FreeFn = int(__stdcall*)();
using GetTextFn = int(__stdcall*)(int, int, intptr_t, wchar_t*, int, intptr_t);
using GetInfoFn = void(__stdcall*)(PluginInfo*);
using GetFuncInfoFn = void(__stdcall*)(int, FuncInfo*);
using GetFuncSettingNameFn = int(__stdcall*)(int, int, char*, int);
using ShowAboutFn = void(__stdcall*)(HWND);
using ShowSettingFn = int(__stdcall*)(int, int, HWND);

struct Plugin {
    HMODULE module = nullptr;
    InitFn init = nullptr;
    FreeFn free = nullptr;
    GetTextFn get_text = nullptr;
    GetInfoFn get_info = nullptr;
    GetFuncInfoFn get_func_info = nullptr;
    GetFuncSettingNameFn get_func_setting_name = nullptr;
    ShowAboutFn show_about = nullptr;
    ShowSettingFn show_setting = nullptr;
};

template <typename Fn>
bool Resolve(HMODULE module, const char* name, Fn* fn) {
    *fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (!*fn) std::fprintf(stderr, "qvhost: export %s missing\n", name);
    return *fn != nullptr;
}

bool LoadPlugin(const std::string& path, Plugin* plugin) {
    plugin->module = LoadLibraryA(path.c_str());
    if (!plugin->module) {
        std::fprintf(stderr, "qvhost: cannot load %s (error %lu)\n", path.c_str(), GetLastError());
        return false;
    }
    HMODULE m = plugin->module;
    return Resolve(m, "Init", &plugin->init) & Resolve(m, "Free", &plugin->free) &
           Resolve(m, "GetText", &plugin->get_text) & Resolve(m, "GetInfo", &plugin->get_info) &
           Resolve(m, "GetFuncInfo", &plugin->get_func_info) &
           Resolve(m, "GetFuncSettingName", &plugin->get_func_setting_name) &
           Resolve(m, "ShowAbout", &plugin->show_about) &
           Resolve(m, "ShowSetting", &plugin->show_setting);
}

std::string WideToUtf8(const wchar_t* text, int length) {
    if (length <= 0) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, &out[0], n, nullptr, nullptr);
    return out;
}

// The plugin's narrow texts are code page 932 whatever the system locale.
std::string Cp932ToUtf8(const char* text, size_t max_bytes) {
    size_t length = strnlen(text, max_bytes);
    if (length == 0) return std::string();
    int n = MultiByteToWideChar(932, 0, text, static_cast<int>(length), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(932, 0, text, static_cast<int>(length), &wide[0], n);
    return WideToUtf8(wide.data(), n);
}

void Write(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

// Line breaks and tabs inside a text would break the one-line-per-setting
// format, so they are written as escapes.
std::string EscapeLine(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\t') out += "\\t";
        else out += c;
    }
    return out;
}

void Field(const std::string& key, const std::string& value) { Write(key + "\t" + value + "\n"); }

int CommandInfo(const Plugin& plugin) {
    PluginInfo info;
    std::memset(&info, 0xCC, sizeof info);
    plugin.get_info(&info);
    Field("plugin.name", Cp932ToUtf8(info.name, sizeof info.name));
    Field("plugin.version", Cp932ToUtf8(info.version, sizeof info.version));
    Field("plugin.description", Cp932ToUtf8(info.description, sizeof info.description));
    Field("plugin.copyright", Cp932ToUtf8(info.copyright, sizeof info.copyright));
    Field("plugin.url", Cp932ToUtf8(info.homepage, sizeof info.homepage));
    Field("plugin.mail", Cp932ToUtf8(info.email, sizeof info.email));
    Field("plugin.functions", std::to_string(info.function_count));
    Field("plugin.word1", std::to_string(info.host_word1));
    Field("plugin.word2", std::to_string(info.host_word2));
    for (int number = 1; number <= 2; ++number) {
        FuncInfo func;
        std::memset(&func, 0, sizeof func);
        plugin.get_func_info(number, &func);
        std::string prefix = "func" + std::to_string(number) + ".";
        Field(prefix + "name", Cp932ToUtf8(func.name, sizeof func.name));
        Field(prefix + "description", Cp932ToUtf8(func.description, sizeof func.description));
        Field(prefix + "settings", std::to_string(func.setting_count));
        Field(prefix + "word1", std::to_string(func.host_word1));
        Field(prefix + "word2", std::to_string(func.host_word2));
    }
    return 0;
}

// Runs the message loop for the given time, as the host's UI thread would
// while the start-up fetches run.
void PumpMessages(double seconds) {
    DWORD end = GetTickCount() + static_cast<DWORD>(seconds * 1000);
    while (static_cast<int32_t>(end - GetTickCount()) > 0) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

int CommandPrint(const Plugin& plugin, double wait_seconds) {
    plugin.init();
    PumpMessages(wait_seconds);
    for (int number = 1; number <= 2; ++number) {
        FuncInfo func;
        std::memset(&func, 0, sizeof func);
        plugin.get_func_info(number, &func);
        for (int setting = 1; setting <= func.setting_count; ++setting) {
            char name[256] = {};
            plugin.get_func_setting_name(number, setting, name, sizeof name);
            int needed = plugin.get_text(number, setting, 0, nullptr, 0, 0);
            std::vector<wchar_t> buffer(static_cast<size_t>(needed > 0 ? needed : 0) + 1, L'\0');
            int written = needed > 0 ? plugin.get_text(number, setting, 0, buffer.data(), needed, 0) : 0;
            std::printf("%d\t%d\t", number, setting);
            Write(EscapeLine(Cp932ToUtf8(name, sizeof name)));
            Write("\t" + EscapeLine(WideToUtf8(buffer.data(), written)) + "\n");
        }
    }
    std::fflush(stdout);
    plugin.free();
    return 0;
}

// A host that ends while fetches run and never calls Free: the system ends
// the other threads, then the plugin's detach runs.
int CommandExit(const Plugin& plugin, double wait_seconds) {
    plugin.init();
    PumpMessages(wait_seconds);
    std::printf("exiting without Free\n");
    std::fflush(stdout);
    ExitProcess(0);
}

// Free and unload right after the start-up burst of fetches, again and again:
// no plugin thread may still be running the plugin's code once it is gone.
int CommandReload(const std::string& path, double wait_seconds, int times) {
    for (int i = 0; i < times; ++i) {
        Plugin plugin;
        if (!LoadPlugin(path, &plugin)) return 1;
        plugin.init();
        if (wait_seconds > 0) PumpMessages(wait_seconds);
        plugin.free();
        FreeLibrary(plugin.module);
        // The plugin's threads let go of the module as they end; once they
        // have, it must really be gone, or the next load would find the old
        // instance with its state already freed.
        DWORD start = GetTickCount();
        while (GetModuleHandleA(path.c_str())) {
            if (GetTickCount() - start > 5000) {
                std::fprintf(stderr, "qvhost: the plugin stayed loaded after cycle %d\n", i + 1);
                return 1;
            }
            Sleep(1);
        }
    }
    std::printf("reloaded %d times\n", times);
    return 0;
}

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

// Opens the tray menu the way the shell does (the icon's callback message
// with a right-button release), opens the second feed's submenu, highlights
// its first article and captures both menus with the icon beside them.
int CommandShootMenu(const Plugin& plugin, double wait_seconds, const std::string& path) {
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
            HWND popup = qvhost::WaitForProcessWindow(L"#32768", nullptr, 5000);
            if (!popup) return;
            for (WPARAM key : {VK_DOWN, VK_DOWN, VK_RIGHT, VK_DOWN}) {
                PostMessageW(popup, WM_KEYDOWN, key, 0);
                Sleep(200);
            }
            Sleep(500);  // let both menus paint
            // From the screen's corner, where Wine's stand-in for the
            // notification area shows the icon, to the menus' far edge.
            RECT area = qvhost::WindowsBounds(L"#32768", 12);
            area.left = area.top = 0;
            captured = qvhost::CaptureScreen(area, path);
            for (int i = 0; i < 3; ++i) {
                PostMessageW(popup, WM_KEYDOWN, VK_ESCAPE, 0);
                Sleep(100);
            }
        });
        SendMessageW(window, RegisterWindowMessageA("FEEDLET_NOTIFYICON_MESSAGE By Marlun"), 0, WM_RBUTTONUP);
    }
    plugin.free();
    if (!captured) std::fprintf(stderr, "qvhost: the menu did not appear or could not be captured\n");
    return captured ? 0 : 1;
}

// The plugin's dialogs as the host's user reaches them: ShowSetting 0 opens
// the plugin settings dialog, whose button 1064 opens the feed manager (a
// build without that dialog opens the feed manager straight away). The
// second feed is chosen so that the fields show its values, and the feed
// manager's window is captured.
int CommandShootManager(const Plugin& plugin, double wait_seconds, const std::string& path) {
    plugin.init();
    PumpMessages(wait_seconds);
    bool captured = false;
    {
        Watcher watcher([&] {
            HWND settings = nullptr;
            HWND manager = nullptr;
            DWORD start = GetTickCount();
            while (!manager && GetTickCount() - start < 5000) {
                manager = qvhost::WaitForProcessWindow(L"#32770", L"RSS管理", 100);
                if (!manager && !settings) {
                    settings = qvhost::WaitForProcessWindow(L"#32770", L"プラグイン設定", 100);
                    if (settings) PostMessageW(GetDlgItem(settings, 1064), BM_CLICK, 0, 0);
                }
            }
            if (!manager) return;
            LVITEMW item{};
            item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
            item.state = LVIS_SELECTED | LVIS_FOCUSED;
            SendMessageW(GetDlgItem(manager, 1046), LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&item));
            Sleep(500);  // let the dialog paint
            RECT area;
            GetWindowRect(manager, &area);
            captured = qvhost::CaptureScreen(area, path);
            PostMessageW(manager, WM_COMMAND, IDCANCEL, 0);
            if (!settings) return;
            for (DWORD waited = 0; IsWindow(manager) && waited < 5000; waited += 20) Sleep(20);
            PostMessageW(settings, WM_COMMAND, IDCANCEL, 0);
        });
        plugin.show_setting(0, 0, nullptr);
    }
    plugin.free();
    if (!captured) std::fprintf(stderr, "qvhost: the feed manager did not appear or could not be captured\n");
    return captured ? 0 : 1;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: qvhost [--plugin PATH] [--wait SECONDS] info|print|setting F S|exit|reload N|shoot menu|manager FILE\n");
    return 2;
}

std::string DefaultPluginPath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    char* slash = std::strrchr(path, '\\');
    if (slash) slash[1] = 0;
    return std::string(path) + "Feedlet.qvlp";
}

}  // namespace

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);  // UTF-8 lines with plain LF ends
    std::string plugin_path = DefaultPluginPath();
    double wait_seconds = 3;
    int i = 1;
    for (; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--plugin" && i + 1 < argc) plugin_path = argv[++i];
        else if (arg == "--wait" && i + 1 < argc) wait_seconds = std::atof(argv[++i]);
        else break;
    }
    if (i >= argc) return Usage();
    std::string command = argv[i];
    if (command == "reload" && i + 1 < argc) return CommandReload(plugin_path, wait_seconds, std::atoi(argv[i + 1]));

    Plugin plugin;
    if (!LoadPlugin(plugin_path, &plugin)) return 1;
    int rc;
    if (command == "info") {
        rc = CommandInfo(plugin);
    } else if (command == "print") {
        rc = CommandPrint(plugin, wait_seconds);
    } else if (command == "exit") {
        rc = CommandExit(plugin, wait_seconds);
    } else if (command == "shoot" && i + 2 < argc && std::string(argv[i + 1]) == "menu") {
        rc = CommandShootMenu(plugin, wait_seconds, argv[i + 2]);
    } else if (command == "shoot" && i + 2 < argc && std::string(argv[i + 1]) == "manager") {
        rc = CommandShootManager(plugin, wait_seconds, argv[i + 2]);
    } else if (command == "setting" && i + 2 < argc) {
        plugin.init();
        std::printf("%d\n", plugin.show_setting(std::atoi(argv[i + 1]), std::atoi(argv[i + 2]), nullptr));
        plugin.free();
        rc = 0;
    } else {
        rc = Usage();
    }
    std::fflush(stdout);
    FreeLibrary(plugin.module);
    return rc;
}
