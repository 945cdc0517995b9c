#include "settings/intervals.h"

namespace feedlet {

const IntervalChoice kIntervalTable[kIntervalCount] = {
    {UiText(u"5分"), 300},
    {UiText(u"15分"), 900},
    {UiText(u"30分"), 1800},
    {UiText(u"1時間"), 3600},
    {UiText(u"2時間"), 7200},
    {UiText(u"3時間"), 10800},
    {UiText(u"5時間"), 18000},
    {UiText(u"10時間"), 36000},
    {UiText(u"24時間"), 86400},
};

int IntervalIndex(uint32_t seconds) {
    for (size_t i = 0; i < kIntervalCount; ++i)
        if (kIntervalTable[i].seconds == seconds) return static_cast<int>(i);
    return -1;
}

}  // namespace feedlet
