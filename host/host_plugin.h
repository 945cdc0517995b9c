// The plugin as the host sees it: loaded with LoadLibrary and reached only
// through its eight exports, with the host's own declaration of the records
// (written from the ABI, not from the plugin's headers, so that a layout
// slip in either shows up), and the texts it hands over. Shared by qvhost
// and the screenshot robot qvshoot, with the command-line options they
// both read.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace qvhost {

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

// Loads the plugin and resolves every export; false (with a message on
// stderr) when the file does not load or an export is missing.
bool LoadPlugin(const std::string& path, Plugin* plugin);

// Function 1 or 2's record (zero-filled for any other number).
FuncInfo FunctionInfo(const Plugin& plugin, int number);
// A display setting's text as the host gets it: measured, then filled.
std::wstring SettingText(const Plugin& plugin, int number, int setting);
// A display setting's name (code page 932 from the plugin) as UTF-16.
std::wstring SettingName(const Plugin& plugin, int number, int setting);

// The plugin's narrow texts are code page 932 whatever the system locale.
std::wstring Cp932ToWide(const char* text, size_t max_bytes);
std::string WideToUtf8(const wchar_t* text, size_t length);
std::string Cp932ToUtf8(const char* text, size_t max_bytes);
inline std::string Utf8(const std::wstring& text) { return WideToUtf8(text.data(), text.size()); }
// A UTF-16 literal as the wchar_t the Win32 API takes.
inline const wchar_t* W(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

// True when every display setting of both functions has a text: the
// start-up fetches have brought what they could.
bool EverySettingShown(const Plugin& plugin);

// Runs this thread's message loop for the given time, as the host's UI
// thread would while the start-up fetches run.
void PumpMessages(double seconds);

// What qvhost and qvshoot read before their command:
//   [--plugin PATH] [--wait SECONDS] [--until-shown]
// The plugin is Feedlet.qvlp beside the program unless PATH is given; the
// wait is default_wait_seconds unless given; a negative, absurd or
// unreadable wait is no wait.
struct HostOptions {
    std::string plugin_path;
    double wait_seconds = 0;
    bool until_shown = false;
    int next = 1;  // the index in argv of the command's first word
};
HostOptions ReadHostOptions(int argc, char** argv, double default_wait_seconds);
// A number from the command line: decimal, kept within int (what atoi does
// with a number beyond it is undefined); anything else gives fallback.
int Number(const char* text, int fallback);

}  // namespace qvhost
