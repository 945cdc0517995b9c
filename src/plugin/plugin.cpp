#include "plugin/plugin.h"

#include "platform/platform.h"
#include "plugin/plugin_info.h"

namespace feedlet {

void PluginAttach(void* /*module*/) {}

void PluginDetach(bool /*process_exiting*/) {}

int PluginInit() {
    platform::SetUserTimeLocale();
    return 0;
}

int PluginFree(bool /*process_exiting*/) { return 1; }

int PluginGetText(int /*number*/, int /*setting*/, char16_t* buffer, int size) {
    if (buffer && size > 0) buffer[0] = 0;
    return 0;
}

int PluginGetFuncSettingName(int /*number*/, int /*setting*/, char* destination, int length) {
    if (destination && length > 0) destination[0] = 0;
    return 0;
}

int PluginShowSetting(int number, int /*setting*/, void* /*parent*/) { return number; }

}  // namespace feedlet
