#include "fetch/fetch_rules.h"

#include <cstring>

#include "core/plugin_time.h"
#include "platform/http.h"

namespace feedlet {

uint32_t NextRetryDelay(uint32_t previous, uint32_t interval) {
    uint64_t delay = previous == 0 ? kFirstRetrySeconds : uint64_t{previous} * 2;
    if (interval != 0 && delay > interval) delay = interval;
    // A pause longer than any interval the plugin configures is never needed.
    if (delay > kMaxRetryAfterSeconds) delay = kMaxRetryAfterSeconds;
    return static_cast<uint32_t>(delay);
}

uint32_t PauseAfterRefusal(const char* retry_after, int64_t now, uint32_t interval) {
    int64_t asked = retry_after ? RetryAfterSeconds(retry_after, now) : -1;
    if (asked <= static_cast<int64_t>(interval)) return interval;
    return static_cast<uint32_t>(asked);
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The next `count` characters are digits: their value in *value.
bool ReadDigits(const char*& cursor, int count, int* value) {
    int result = 0;
    for (int i = 0; i < count; ++i) {
        if (!IsDigit(cursor[i])) return false;
        result = result * 10 + (cursor[i] - '0');
    }
    cursor += count;
    *value = result;
    return true;
}

// One or two digits (asctime pads a one-digit day with a blank instead).
bool ReadDay(const char*& cursor, int* day) {
    if (*cursor == ' ') ++cursor;
    if (IsDigit(cursor[0]) && IsDigit(cursor[1])) return ReadDigits(cursor, 2, day);
    return ReadDigits(cursor, 1, day);
}

bool Expect(const char*& cursor, const char* literal) {
    size_t n = std::strlen(literal);
    if (std::strncmp(cursor, literal, n) != 0) return false;
    cursor += n;
    return true;
}

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kShortDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
const char* const kLongDays[] = {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};

// One name of the table at the cursor (exact case, as the grammar has it).
template <size_t N>
bool ReadName(const char*& cursor, const char* const (&names)[N], int* index) {
    for (size_t i = 0; i < N; ++i)
        if (Expect(cursor, names[i])) {
            *index = static_cast<int>(i);
            return true;
        }
    return false;
}

bool ReadClock(const char*& cursor, CalendarFields& fields) {
    return ReadDigits(cursor, 2, &fields.hour) && Expect(cursor, ":") && ReadDigits(cursor, 2, &fields.minute) &&
           Expect(cursor, ":") && ReadDigits(cursor, 2, &fields.second);
}

bool InRange(const CalendarFields& f) {
    // Second 60 is a leap second, which the grammar allows.
    return f.month >= 1 && f.month <= 12 && f.day >= 1 && f.day <= 31 && f.hour <= 23 && f.minute <= 59 &&
           f.second <= 60;
}

// "Sun, 06 Nov 1994 08:49:37 GMT"
bool ReadImfFixdate(const char* cursor, CalendarFields& f) {
    int ignored = 0;
    return ReadName(cursor, kShortDays, &ignored) && Expect(cursor, ", ") && ReadDigits(cursor, 2, &f.day) &&
           Expect(cursor, " ") && ReadName(cursor, kMonths, &f.month) && Expect(cursor, " ") &&
           ReadDigits(cursor, 4, &f.year) && Expect(cursor, " ") && ReadClock(cursor, f) &&
           Expect(cursor, " GMT") && *cursor == 0;
}

// "Sunday, 06-Nov-94 08:49:37 GMT": a two-digit year that looks more than
// 50 years ahead is in the past century.
bool ReadRfc850(const char* cursor, CalendarFields& f, int current_year) {
    int ignored = 0;
    if (!(ReadName(cursor, kLongDays, &ignored) && Expect(cursor, ", ") && ReadDigits(cursor, 2, &f.day) &&
          Expect(cursor, "-") && ReadName(cursor, kMonths, &f.month) && Expect(cursor, "-") &&
          ReadDigits(cursor, 2, &f.year) && Expect(cursor, " ") && ReadClock(cursor, f) &&
          Expect(cursor, " GMT") && *cursor == 0))
        return false;
    int century = current_year / 100 * 100;
    f.year += century;
    if (f.year > current_year + 50) f.year -= 100;
    return true;
}

// "Sun Nov  6 08:49:37 1994"
bool ReadAsctime(const char* cursor, CalendarFields& f) {
    int ignored = 0;
    return ReadName(cursor, kShortDays, &ignored) && Expect(cursor, " ") && ReadName(cursor, kMonths, &f.month) &&
           Expect(cursor, " ") && ReadDay(cursor, &f.day) && Expect(cursor, " ") && ReadClock(cursor, f) &&
           Expect(cursor, " ") && ReadDigits(cursor, 4, &f.year) && *cursor == 0;
}

// The year of now (seconds since 1970), which places a two-digit year.
int YearOf(int64_t now) { return now < 0 ? 1970 : FieldsFromEpochSeconds(now).year; }

bool ParseHttpDateAt(const char* text, int current_year, int64_t* seconds) {
    CalendarFields f;
    bool read = ReadImfFixdate(text, f);
    if (!read) f = CalendarFields{}, read = ReadRfc850(text, f, current_year);
    if (!read) f = CalendarFields{}, read = ReadAsctime(text, f);
    if (!read) return false;
    f.month += 1;  // the table index
    if (!InRange(f)) return false;
    *seconds = EpochSecondsFromFields(f);
    return true;
}

}  // namespace

bool ParseHttpDate(const char* text, int64_t* seconds) {
    if (!text) return false;
    return ParseHttpDateAt(text, YearOf(platform::WallClockSeconds()), seconds);
}

int64_t RetryAfterSeconds(const char* value, int64_t now) {
    if (!value) return -1;
    while (*value == ' ' || *value == '\t') ++value;
    if (IsDigit(*value)) {
        int64_t delay = 0;
        for (; IsDigit(*value); ++value)
            if (delay <= kMaxRetryAfterSeconds) delay = delay * 10 + (*value - '0');
        while (*value == ' ' || *value == '\t') ++value;
        if (*value) return -1;
        return delay > kMaxRetryAfterSeconds ? kMaxRetryAfterSeconds : delay;
    }
    int64_t when = 0;
    if (!ParseHttpDateAt(value, YearOf(now), &when)) return -1;
    if (when <= now) return 0;
    int64_t delay = when - now;
    return delay > kMaxRetryAfterSeconds ? kMaxRetryAfterSeconds : delay;
}

bool IsUsableValidator(const char* value) {
    if (!value || !*value) return false;
    size_t length = 0;
    for (const char* c = value; *c; ++c, ++length) {
        auto byte = static_cast<unsigned char>(*c);
        if (byte < 0x20 || byte == 0x7F || length >= platform::kHttpMaxFieldBytes) return false;
    }
    return true;
}

}  // namespace feedlet
