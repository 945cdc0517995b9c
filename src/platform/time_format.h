// What both FormatTime implementations hand to the strftime family: the C
// library's broken-down time of the calendar fields, and the pattern in the
// function's own character type. Internal to the platform layer.
#pragma once

#include <cstddef>
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

// Copies an ASCII pattern into pattern (terminated); false for a null
// pattern, a unit beyond ASCII, or one that does not fit.
template <typename Unit, size_t N>
bool CopyPattern(const char16_t* format, Unit (&pattern)[N]) {
    if (!format) return false;
    size_t i = 0;
    for (; format[i]; ++i) {
        if (format[i] > 0x7F || i + 1 >= N) return false;
        pattern[i] = static_cast<Unit>(format[i]);
    }
    pattern[i] = 0;
    return true;
}

}  // namespace platform
}  // namespace feedlet
