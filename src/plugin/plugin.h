// The plugin's lifetime and the portable halves of the exports. The Windows
// exports (exports.cpp) are thin shims over these, and native tests and tools
// call them directly.
#pragma once

#include <cstdint>

namespace feedlet {

// Library attach: records the module handle (opaque here).
void PluginAttach(void* module);
// Library detach: frees what the host did not, without sending anything to
// another process (it runs under the loader lock). process_exiting: the
// other threads were already ended by the system, and nothing is waited for.
void PluginDetach(bool process_exiting);

// Builds the whole state; an Init while initialised frees the first one.
int PluginInit();
// Tears the state down to what it was at load (lists empty, counts 1000), so
// that a later Init in the same loaded copy works as the first.
// process_exiting: as for PluginDetach.
int PluginFree(bool process_exiting);
int PluginGetText(int number, int setting, char16_t* buffer, int size);
int PluginGetFuncSettingName(int number, int setting, char* destination, int length);
// parent is the host's window handle (opaque here).
int PluginShowSetting(int number, int setting, void* parent);

}  // namespace feedlet
