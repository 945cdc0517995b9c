// The plugin's lifetime and the portable halves of the exports. The Windows
// exports (exports.cpp) are thin shims over these, and native tests and tools
// call them directly.
#pragma once

#include <cstdint>

namespace feedlet {

// Library attach: records the module handle (opaque here).
void PluginAttach(void* module);
// Library detach: runs PluginFree when the host did not. process_exiting:
// the other threads were already ended by the system.
void PluginDetach(bool process_exiting);

int PluginInit();
int PluginFree(bool process_exiting);
int PluginGetText(int number, int setting, char16_t* buffer, int size);
int PluginGetFuncSettingName(int number, int setting, char* destination, int length);
// parent is the host's window handle (opaque here).
int PluginShowSetting(int number, int setting, void* parent);

}  // namespace feedlet
