// The time-zone lists of both settings dialogs (the article menu's zone in
// the plugin settings, a display setting's zone): first an entry standing
// for no zone, so that each feed's dates keep the feed's own zone, then one
// entry per zone of the host's data file, in the file's order. One function
// words the entries for both lists.
#pragma once

#include <string>

#include "config/configuration.h"
#include "core/ui_text.h"

namespace feedlet {

// "RSSのタイムゾーンに従う": the first entry, no zone.
extern const UiText kFollowFeedZoneText;

// A zone's entry, code page 932: "GMT", "-" for a negative offset and "+"
// otherwise, the absolute offset as hours and minutes ("%02d:%02d"), " : ",
// the display name, "(", the short name, ")". The default zone reads
// "GMT+09:00 : 東京(TYO)". Any offset the data file can produce is worded
// without overflow.
std::string ZoneChoiceText(const TimeZoneEntry& zone);

// candidate (an entry's item data) when it is one of time_zones, else null:
// what a dialog stores as a zone is always a listed zone or none.
TimeZoneEntry* ListedZone(const ItemList& time_zones, const void* candidate);

}  // namespace feedlet
