// The plugin settings dialog (resource 101): the numbers of display
// settings of both text functions, the tray icon option, the article menu's
// time zone, and the way to the feed manager. OK writes the Main section of
// Setting.ini at once; the counts take effect at the next Init, the tray
// option and the menu's zone when ShowSetting's follow-up applies them.
#pragma once

#include <windows.h>

#include "config/configuration.h"

namespace feedlet {
namespace ui {

struct PluginSettingsDialogData {
    Configuration* config = nullptr;  // in: the values shown; out: the values OK stored
    bool stored = false;              // out: OK stored them
};

// Runs the dialog modally over parent; returns its end code (0), or -1 when
// it could not be shown.
int ShowPluginSettingsDialog(HWND parent, PluginSettingsDialogData* data);

}  // namespace ui
}  // namespace feedlet
