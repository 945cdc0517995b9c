// What the plugin settings dialog decides without a window: the values it
// shows, and what OK stores from what was typed and chosen.
#pragma once

#include <cstdint>

#include "config/configuration.h"

namespace feedlet {

// The counts the up-down controls offer; a typed count is kept within them.
constexpr int kMinTypedSettingCount = 1;
constexpr int kMaxTypedSettingCount = 999;
// The count edits take three characters.
constexpr int kSettingCountCharacters = 3;

struct PluginSettingsValues {
    int16_t info_count = 0;
    int16_t item_count = 0;
    bool tray = false;                   // options bit 0
    const void* menu_zone = nullptr;     // a TimeZoneEntry of time_zones, or none
};

PluginSettingsValues CurrentPluginSettings(const Configuration& config);

// A count as typed (atoi's reading; text that is no number reads as 0),
// kept within 1..999: the up-down's range, and a count of settings that
// cannot be 0 or negative.
int16_t TypedSettingCount(const char16_t* text);

// OK: stores the counts (kept within 1..999; the running plugin keeps its
// settings until the next Init), options reduced to bit 0 (the tray option;
// other bits read from Setting.ini are dropped) and the menu zone (none
// unless it is one of time_zones), then writes the Main section.
void StorePluginSettings(Configuration& config, const PluginSettingsValues& values);

}  // namespace feedlet
