// Plugin time: a signed 32-bit count of seconds since 1970-01-01 00:00:00 UTC,
// computed from UTC calendar fields by our own civil-date arithmetic. It never
// consults the machine's time zone or mktime, so it is thread-safe and the
// difference of two plugin times is always the true number of seconds.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace feedlet {

using PluginTime = int32_t;

// The calendar record is the platform's (the clock fills it, FormatTime
// writes it); the engine calls it CalendarFields too. The conversions below
// normalise out-of-range input the way mktime does (minute 75 is 1:15
// later, day 0 is the last day of the previous month, month 13 is January of
// the next year) and fill weekday and yearday on output.
using platform::CalendarFields;

// A feed date: the instant as a plugin time, and the offset (minutes east of
// UTC) of the zone the date was written in.
struct FeedTime {
    PluginTime when = -1;
    int32_t zone_offset = 0;
};

// Seconds since the epoch of the normalised fields, in 64 bits (no range cut).
int64_t EpochSecondsFromFields(const CalendarFields& fields);
// The plugin time of the fields, or -1 when the instant lies before 1970 or
// beyond the signed 32-bit range (19 January 2038).
PluginTime PluginTimeFromFields(const CalendarFields& fields);
// The UTC calendar fields (with weekday and day of the year) of a time.
CalendarFields FieldsFromEpochSeconds(int64_t seconds);

}  // namespace feedlet
