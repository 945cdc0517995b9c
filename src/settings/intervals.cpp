#include "settings/intervals.h"

namespace feedlet {

const IntervalChoice kIntervalTable[kIntervalCount] = {
    {"5\x95\xAA", 300},  // 5分
    {"15\x95\xAA", 900},  // 15分
    {"30\x95\xAA", 1800},  // 30分
    {"1\x8E\x9E\x8A\xD4", 3600},  // 1時間
    {"2\x8E\x9E\x8A\xD4", 7200},  // 2時間
    {"3\x8E\x9E\x8A\xD4", 10800},  // 3時間
    {"5\x8E\x9E\x8A\xD4", 18000},  // 5時間
    {"10\x8E\x9E\x8A\xD4", 36000},  // 10時間
    {"24\x8E\x9E\x8A\xD4", 86400},  // 24時間
};

int IntervalIndex(uint32_t seconds) {
    for (size_t i = 0; i < kIntervalCount; ++i)
        if (kIntervalTable[i].seconds == seconds) return static_cast<int>(i);
    return -1;
}

}  // namespace feedlet
