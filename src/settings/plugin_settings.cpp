#include "settings/plugin_settings.h"

#include "settings/dialog_text.h"
#include "settings/zone_choices.h"

namespace feedlet {

namespace {

int16_t KeptCount(long long count) {
    if (count < kMinTypedSettingCount) return kMinTypedSettingCount;
    if (count > kMaxTypedSettingCount) return kMaxTypedSettingCount;
    return static_cast<int16_t>(count);
}

}  // namespace

PluginSettingsValues CurrentPluginSettings(const Configuration& config) {
    PluginSettingsValues values;
    values.info_count = config.info_count;
    values.item_count = config.item_count;
    values.tray = (config.options & 1) != 0;
    values.menu_zone = config.menu_time_zone;
    return values;
}

int16_t TypedSettingCount(const char16_t* text) { return KeptCount(ReadTypedNumber(text)); }

void StorePluginSettings(Configuration& config, const PluginSettingsValues& values) {
    config.info_count = KeptCount(values.info_count);
    config.item_count = KeptCount(values.item_count);
    config.options = values.tray ? 1 : 0;
    config.menu_time_zone = ListedZone(config.time_zones, values.menu_zone);
    SaveMainSettings(config);
}

}  // namespace feedlet
