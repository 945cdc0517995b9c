// The DLL's composition root: the eight exports the host calls and the DLL
// entry point, which installs the Windows user interface into the plugin
// core. The only place that sees both the plugin core and the user
// interface. Each export is a thin __stdcall shim over the portable plugin
// functions; no exception may cross this boundary, so each has a catch-all
// that maps to a safe result. The names are exported undecorated by
// Feedlet.def alone (dllexport would add the decorated Init@0 forms on
// 32-bit).
#include <windows.h>

#include <cstdint>

#include "plugin/plugin.h"
#include "plugin/plugin_info.h"
#include "plugin/plugin_state.h"
#include "ui/user_interface.h"

using namespace feedlet;

extern "C" {

int __stdcall Init() {
    try {
        return PluginInit();
    } catch (...) {
        return 0;
    }
}

int __stdcall Free() {
    try {
        return PluginFree(false);
    } catch (...) {
        return 0;
    }
}

int __stdcall GetText(int number, int setting, intptr_t /*reserved*/,
                                            wchar_t* buffer, int size, intptr_t /*reserved*/) {
    try {
        return PluginGetText(number, setting, reinterpret_cast<char16_t*>(buffer), size);
    } catch (...) {
        return 0;
    }
}

void __stdcall GetInfo(PluginInfo* destination) {
    if (destination) *destination = CurrentPluginInfo();
}

void __stdcall GetFuncInfo(int number, FuncInfo* destination) {
    const FuncInfo* info = FunctionInfo(number);
    if (info && destination) *destination = *info;
}

int __stdcall GetFuncSettingName(int number, int setting, char* destination,
                                                       int length) {
    try {
        return PluginGetFuncSettingName(number, setting, destination, length);
    } catch (...) {
        return 0;
    }
}

void __stdcall ShowAbout(HWND /*parent*/) {}

int __stdcall ShowSetting(int number, int setting, HWND parent) {
    try {
        return PluginShowSetting(number, setting, parent);
    } catch (...) {
        return number;
    }
}

// Runs under the loader lock: neither attach nor detach sends anything to
// another process or waits for another thread (the static TrayIcon's
// construction and destruction only register names and atoms).
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    try {
        if (reason == DLL_PROCESS_ATTACH) {
            DisableThreadLibraryCalls(instance);
            PluginAttach(instance);
            SetPluginUi(&ui::UserInterface());
        } else if (reason == DLL_PROCESS_DETACH) {
            // reserved is non-null when the process is exiting: the other
            // threads are already gone and nothing is sent or waited for.
            // Otherwise the library was unloaded, which needs every plugin
            // thread gone (each holds a reference to it), so what the host
            // did not free is freed without waiting, and without the tray
            // icon's removal, a message to Explorer.
            PluginDetach(reserved != nullptr);
        }
    } catch (...) {
    }
    return TRUE;
}

}  // extern "C"
