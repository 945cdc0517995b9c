#include "settings/zone_choices.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace feedlet {

const UiText kFollowFeedZoneText(u"RSSのタイムゾーンに従う");

std::string ZoneChoiceText(const TimeZoneEntry& zone) {
    // In unsigned arithmetic the magnitude of the lowest offset is exact.
    bool negative = zone.offset < 0;
    uint32_t magnitude = negative ? 0u - static_cast<uint32_t>(zone.offset) : static_cast<uint32_t>(zone.offset);
    char offset[32];
    std::snprintf(offset, sizeof offset, "GMT%c%02u:%02u : ", negative ? '-' : '+',
                  static_cast<unsigned>(magnitude / 60), static_cast<unsigned>(magnitude % 60));
    const char* name = zone.name.Narrow();
    std::string short_name(zone.short_name, strnlen(zone.short_name, sizeof zone.short_name));
    return std::string(offset) + (name ? name : "") + "(" + short_name + ")";
}

TimeZoneEntry* ListedZone(const ItemList& time_zones, const void* candidate) {
    if (!candidate) return nullptr;
    for (TimeZoneEntry* zone : time_zones.As<TimeZoneEntry>())
        if (zone == candidate) return zone;
    return nullptr;
}

}  // namespace feedlet
