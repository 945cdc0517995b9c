#include "text/time_utils.h"

#include <cstdio>
#include <cstring>

#include "core/ui_text.h"
#include "platform/platform.h"

namespace feedlet {

namespace {

struct ElapsedUnit {
    uint32_t flag;
    uint32_t seconds;
    UiText word;
};

// Years and months are fixed lengths (365 and 30 days), not calendar spans.
const ElapsedUnit kUnits[] = {
    {kElapsedYears, 31536000u, UiText(u"年")},
    {kElapsedMonths, 2592000u, UiText(u"ヶ月")},
    {kElapsedWeeks, 604800u, UiText(u"週間")},
    {kElapsedDays, 86400u, UiText(u"日")},
    {kElapsedHours, 3600u, UiText(u"時間")},
    {kElapsedMinutes, 60u, UiText(u"分")},
    {kElapsedSeconds, 1u, UiText(u"秒")},
};

// Appends the number and the unit word when both fit (with the terminator);
// a piece is never cut, so no double-byte character is split.
void AppendAmount(char* buffer, size_t capacity, size_t* used, uint32_t amount, const char* word) {
    char piece[24];
    int n = std::snprintf(piece, sizeof piece, "%u%s", amount, word);
    if (n <= 0) return;
    size_t length = static_cast<size_t>(n);
    if (*used + length + 1 > capacity) return;
    std::memcpy(buffer + *used, piece, length);
    *used += length;
    buffer[*used] = 0;
}

}  // namespace

PluginTime CurrentTime() {
    return PluginTimeFromFields(platform::SystemTimeUtc());
}

bool ShiftToZone(const FeedTime* date, int mode, int32_t offset_minutes, CalendarFields* fields) {
    if (!date || date->when < 0) return false;
    int64_t shift = 0;
    if (mode == kZoneOwn) shift = date->zone_offset;
    else if (mode == kZoneGiven) shift = offset_minutes;
    // Adding minutes to the seconds count is the same as adding them to the
    // minute field and normalising.
    *fields = FieldsFromEpochSeconds(static_cast<int64_t>(date->when) + shift * 60);
    return true;
}

size_t ElapsedText(uint32_t seconds, uint32_t flags, char* buffer, size_t capacity) {
    if (!buffer || capacity == 0) return 0;
    buffer[0] = 0;
    size_t used = 0;
    uint32_t rest = seconds;
    for (const ElapsedUnit& unit : kUnits) {
        if (unit.flag == kElapsedSeconds) break;
        // Strictly greater: a value equal to a unit is written in the next one.
        if ((flags & unit.flag) && rest > unit.seconds) {
            AppendAmount(buffer, capacity, &used, rest / unit.seconds, unit.word.Narrow());
            rest %= unit.seconds;
        }
    }
    if (flags & kElapsedSeconds) AppendAmount(buffer, capacity, &used, rest, kUnits[6].word.Narrow());
    return used;
}

size_t ElapsedTextSingle(uint32_t seconds, char* buffer, size_t capacity) {
    uint32_t flag = kElapsedSeconds;
    for (const ElapsedUnit& unit : kUnits) {
        if (seconds > unit.seconds && unit.flag != kElapsedSeconds) {
            flag = unit.flag;
            break;
        }
    }
    return ElapsedText(seconds, flag, buffer, capacity);
}

}  // namespace feedlet
