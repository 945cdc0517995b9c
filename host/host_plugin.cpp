#include "host_plugin.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace qvhost {

namespace {

template <typename Fn>
bool Resolve(HMODULE module, const char* name, Fn* fn) {
    *fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (!*fn) std::fprintf(stderr, "qvhost: export %s missing\n", name);
    return *fn != nullptr;
}

std::string PluginBesideProgram() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    char* slash = std::strrchr(path, '\\');
    if (slash) slash[1] = 0;
    return std::string(path) + "Feedlet.qvlp";
}

}  // namespace

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

FuncInfo FunctionInfo(const Plugin& plugin, int number) {
    FuncInfo info;
    std::memset(&info, 0, sizeof info);
    plugin.get_func_info(number, &info);
    return info;
}

std::wstring SettingText(const Plugin& plugin, int number, int setting) {
    int needed = plugin.get_text(number, setting, 0, nullptr, 0, 0);
    if (needed <= 0) return std::wstring();
    std::vector<wchar_t> buffer(static_cast<size_t>(needed) + 1, L'\0');
    int written = plugin.get_text(number, setting, 0, buffer.data(), needed, 0);
    if (written < 0) written = 0;
    if (written > needed) written = needed;
    return std::wstring(buffer.data(), static_cast<size_t>(written));
}

std::wstring SettingName(const Plugin& plugin, int number, int setting) {
    char name[256] = {};
    plugin.get_func_setting_name(number, setting, name, sizeof name);
    return Cp932ToWide(name, sizeof name);
}

std::wstring Cp932ToWide(const char* text, size_t max_bytes) {
    size_t length = strnlen(text, max_bytes);
    if (length == 0) return std::wstring();
    int n = MultiByteToWideChar(932, 0, text, static_cast<int>(length), nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(932, 0, text, static_cast<int>(length), &wide[0], n);
    return wide;
}

std::string WideToUtf8(const wchar_t* text, size_t length) {
    if (length == 0) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &out[0], n, nullptr, nullptr);
    return out;
}

std::string Cp932ToUtf8(const char* text, size_t max_bytes) { return Utf8(Cp932ToWide(text, max_bytes)); }

bool EverySettingShown(const Plugin& plugin) {
    for (int number = 1; number <= 2; ++number) {
        int count = FunctionInfo(plugin, number).setting_count;
        for (int setting = 1; setting <= count; ++setting)
            if (SettingText(plugin, number, setting).empty()) return false;
    }
    return true;
}

void PumpMessages(double seconds) {
    DWORD end = GetTickCount() + static_cast<DWORD>(seconds * 1000);
    do {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    } while (static_cast<int32_t>(end - GetTickCount()) > 0);
}

HostOptions ReadHostOptions(int argc, char** argv, double default_wait_seconds) {
    HostOptions options;
    options.plugin_path = PluginBesideProgram();
    options.wait_seconds = default_wait_seconds;
    int& i = options.next;
    for (; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--plugin" && i + 1 < argc) options.plugin_path = argv[++i];
        else if (arg == "--wait" && i + 1 < argc) options.wait_seconds = std::atof(argv[++i]);
        else if (arg == "--until-shown") options.until_shown = true;
        else break;
    }
    if (!(options.wait_seconds >= 0 && options.wait_seconds <= 3600)) options.wait_seconds = 0;
    return options;
}

int Number(const char* text, int fallback) {
    errno = 0;
    char* end = nullptr;
    long long value = std::strtoll(text, &end, 10);
    if (end == text) return fallback;
    if (value > INT_MAX || (errno == ERANGE && value > 0)) return INT_MAX;
    if (value < INT_MIN || (errno == ERANGE && value < 0)) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace qvhost
