#include "core/plugin_time.h"

namespace feedlet {

namespace {

// Floor division, for normalising negative fields.
int64_t FloorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

// Days from 1970-01-01 to year-month-01 in the proleptic Gregorian calendar
// (Howard Hinnant's days_from_civil). month is 1..12.
int64_t DaysFromCivil(int64_t year, int64_t month) {
    year -= month <= 2;
    const int64_t era = FloorDiv(year, 400);
    const int64_t year_of_era = year - era * 400;
    const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5;
    const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

}  // namespace

int64_t EpochSecondsFromFields(const CalendarFields& f) {
    int64_t month0 = static_cast<int64_t>(f.month) - 1;
    int64_t year = static_cast<int64_t>(f.year) + FloorDiv(month0, 12);
    month0 -= FloorDiv(month0, 12) * 12;
    int64_t days = DaysFromCivil(year, month0 + 1) + (static_cast<int64_t>(f.day) - 1);
    return days * 86400 + static_cast<int64_t>(f.hour) * 3600 + static_cast<int64_t>(f.minute) * 60 +
           static_cast<int64_t>(f.second);
}

PluginTime PluginTimeFromFields(const CalendarFields& fields) {
    int64_t seconds = EpochSecondsFromFields(fields);
    if (seconds < 0 || seconds > INT32_MAX) return -1;
    return static_cast<PluginTime>(seconds);
}

CalendarFields FieldsFromEpochSeconds(int64_t seconds) {
    int64_t days = FloorDiv(seconds, 86400);
    int64_t rest = seconds - days * 86400;
    CalendarFields f;
    f.hour = static_cast<int>(rest / 3600);
    f.minute = static_cast<int>(rest % 3600 / 60);
    f.second = static_cast<int>(rest % 60);
    f.weekday = static_cast<int>(FloorDiv(days + 4, 7) * -7 + days + 4);  // 1970-01-01 was a Thursday
    // civil_from_days
    int64_t z = days + 719468;
    const int64_t era = FloorDiv(z, 146097);
    const int64_t day_of_era = z - era * 146097;
    const int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const int64_t mp = (5 * day_of_year + 2) / 153;
    const int64_t day = day_of_year - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = year_of_era + era * 400 + (month <= 2);
    f.year = static_cast<int>(year);
    f.month = static_cast<int>(month);
    f.day = static_cast<int>(day);
    f.yearday = static_cast<int>(days - DaysFromCivil(year, 1));
    return f;
}

}  // namespace feedlet
