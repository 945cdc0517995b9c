// The C library's broken-down time for calendar fields, which both
// FormatTime implementations hand to the strftime family. Internal to the
// platform layer.
#pragma once

#include <cstring>
#include <ctime>

#include "platform/platform.h"

namespace feedlet {
namespace platform {

inline struct tm TmFromFields(const CalendarFields& fields) {
    struct tm broken;
    std::memset(&broken, 0, sizeof broken);  // no daylight saving, no zone
    broken.tm_year = fields.year - 1900;
    broken.tm_mon = fields.month - 1;
    broken.tm_mday = fields.day;
    broken.tm_hour = fields.hour;
    broken.tm_min = fields.minute;
    broken.tm_sec = fields.second;
    broken.tm_wday = fields.weekday;
    broken.tm_yday = fields.yearday;
    return broken;
}

}  // namespace platform
}  // namespace feedlet
