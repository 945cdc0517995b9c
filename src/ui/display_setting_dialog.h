// The display setting dialog (resource 105): one feed-information or
// article setting's name, target feed, article condition with its count or
// period, separator, format (with a list of the format tokens to insert)
// and time zone. OK stores the setting and writes it to Setting.ini at once;
// the next GetText uses it. Manage opens the feed manager on the current
// target.
#pragma once

#include <windows.h>

#include <cstdint>

#include "config/configuration.h"

namespace feedlet {
namespace ui {

struct DisplaySettingDialogData {
    Configuration* config = nullptr;  // the setting edited, the feeds and zones listed
    uint32_t parameter = 0;           // kind × 65536 + index (from 1)
    bool stored = false;              // out: OK stored the setting
};

// Runs the dialog modally over parent; returns its end code (0), or -1 when
// it could not be shown. A parameter that names no setting opens nothing
// and gives 0.
int ShowDisplaySettingDialog(HWND parent, DisplaySettingDialogData* data);

}  // namespace ui
}  // namespace feedlet
