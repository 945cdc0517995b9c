// The plugin's notion of time for display: the current time, a feed date seen
// as a wall clock in some zone, and elapsed seconds written in Japanese units.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/plugin_time.h"

namespace feedlet {

// Elapsed-time unit flags, in the order the units are written.
enum : uint32_t {
    kElapsedYears = 0x40,
    kElapsedMonths = 0x20,
    kElapsedWeeks = 0x10,
    kElapsedDays = 0x08,
    kElapsedHours = 0x04,
    kElapsedMinutes = 0x02,
    kElapsedSeconds = 0x01,
};

enum ZoneMode : int { kZoneOwn = 0, kZoneGiven = 1 };

// The system clock's current UTC time as a plugin time.
PluginTime CurrentTime();

// The date as wall-clock fields: mode kZoneOwn shifts by the date's own
// zone_offset, kZoneGiven by offset_minutes, any other mode not at all.
// False (fields untouched) for a missing date or a negative `when`.
bool ShiftToZone(const FeedTime* date, int mode, int32_t offset_minutes, CalendarFields* fields);

// Longest text ElapsedText can produce, terminator included: seven units of
// at most ten digits and six bytes each.
constexpr size_t kElapsedTextCapacity = 7 * (10 + 6) + 1;

// Writes seconds in the units of flags as code page 932 text ("1日1時間1分1秒")
// into buffer (capacity bytes, always terminated when capacity > 0). Returns
// the length of the text.
size_t ElapsedText(uint32_t seconds, uint32_t flags, char* buffer, size_t capacity);
// The same text restricted to the largest unit that seconds strictly exceeds.
size_t ElapsedTextSingle(uint32_t seconds, char* buffer, size_t capacity);

}  // namespace feedlet
