// Plugin time: a signed 32-bit count of seconds since 1970-01-01 00:00:00 UTC,
// computed from UTC calendar fields by our own civil-date arithmetic. It never
// consults the machine's time zone or mktime, so it is thread-safe and the
// difference of two plugin times is always the true number of seconds.
#pragma once

#include <cstdint>

namespace feedlet {

using PluginTime = int32_t;

// Calendar fields. Out-of-range values are allowed as input and are normalised
// the way mktime does (minute 75 is 1:15 later, day 0 is the last day of the
// previous month, month 13 is January of the next year).
struct CalendarFields {
    int year = 1970;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int weekday = 4;  // 0 = Sunday; output only
    int yearday = 0;  // 0 = 1 January; output only
};

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
