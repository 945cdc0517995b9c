// Plugin time arithmetic and the time utilities.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>

#include "core/plugin_time.h"
#include "platform/platform.h"
#include "test_util.h"
#include "text/time_utils.h"

using namespace feedlet;

namespace {

CalendarFields Fields(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    CalendarFields f;
    f.year = y;
    f.month = mo;
    f.day = d;
    f.hour = h;
    f.minute = mi;
    f.second = s;
    return f;
}

TEST(PluginTimeTest, KnownInstantsAndRange) {
    struct {
        CalendarFields fields;
        PluginTime expected;
    } rows[] = {
        {Fields(1970, 1, 1), 0},
        {Fields(2011, 5, 1, 1, 0, 0), 1304211600},
        {Fields(2000, 2, 29, 12), 951825600},
        {Fields(2038, 1, 19, 3, 14, 7), INT32_MAX},
        {Fields(2038, 1, 19, 3, 14, 8), -1},  // beyond 32 bits
        {Fields(1969, 12, 31, 23, 59, 59), -1},
        {Fields(2069, 5, 1), -1},
        // Normalisation as mktime does it.
        {Fields(2011, 5, 1, 10, -540, 0), 1304211600},   // zone subtracted from minutes
        {Fields(2011, 4, 31, 1), 1304211600},            // 31 April is 1 May
        {Fields(2011, 5, 0, 1), 1304211600 - 86400},     // day 0: 30 April
        {Fields(2010, 17, 1, 1), 1304211600},            // month 17 of 2010
        {Fields(2012, -7, 1, 1), 1304211600},            // month -7 of 2012
        {Fields(2011, 5, 1, 0, 60, 0), 1304211600},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.expected);
        EXPECT_EQ(PluginTimeFromFields(row.fields), row.expected);
    }
}

TEST(PluginTimeTest, RoundTripsAgainstTheCLibrary) {
    // gmtime is the reference for the inverse conversion; every 9973 hours
    // from 1970 to 2038 hits all weekdays, leap days and month ends.
    for (int64_t t = 0; t <= INT32_MAX; t += 9973 * 3600 + 17) {
        time_t tt = static_cast<time_t>(t);
        struct tm reference;
#ifdef _WIN32
        gmtime_s(&reference, &tt);
#else
        gmtime_r(&tt, &reference);
#endif
        CalendarFields f = FieldsFromEpochSeconds(t);
        ASSERT_EQ(f.year, reference.tm_year + 1900) << t;
        ASSERT_EQ(f.month, reference.tm_mon + 1) << t;
        ASSERT_EQ(f.day, reference.tm_mday) << t;
        ASSERT_EQ(f.hour, reference.tm_hour) << t;
        ASSERT_EQ(f.minute, reference.tm_min) << t;
        ASSERT_EQ(f.second, reference.tm_sec) << t;
        ASSERT_EQ(f.weekday, reference.tm_wday) << t;
        ASSERT_EQ(f.yearday, reference.tm_yday) << t;
        ASSERT_EQ(PluginTimeFromFields(f), t);
    }
}

TEST(TimeUtilsTest, CurrentTimeMatchesTheWallClockWhateverTheZone) {
    // Plugin time is UTC arithmetic: it equals time() whatever TZ says, so
    // it lies between two wall-clock readings taken around it (an order,
    // not a duration: no machine is too slow for it).
    int64_t before = platform::WallClockSeconds();
    PluginTime now = CurrentTime();
    int64_t after = platform::WallClockSeconds();
    EXPECT_LE(before, now);
    EXPECT_LE(now, after);
}

TEST(TimeUtilsTest, ShiftToZone) {
    FeedTime date;
    date.when = PluginTimeFromFields(Fields(2011, 12, 31, 20, 0, 0));
    date.zone_offset = -300;
    CalendarFields f;
    ASSERT_TRUE(ShiftToZone(&date, kZoneGiven, 540, &f));
    EXPECT_EQ(f.year, 2012);
    EXPECT_EQ(f.month, 1);
    EXPECT_EQ(f.day, 1);
    EXPECT_EQ(f.hour, 5);
    EXPECT_EQ(f.weekday, 0);  // Sunday

    ASSERT_TRUE(ShiftToZone(&date, kZoneOwn, 540, &f));  // the date's own -300
    EXPECT_EQ(f.day, 31);
    EXPECT_EQ(f.hour, 15);

    ASSERT_TRUE(ShiftToZone(&date, 7, 540, &f));  // unknown mode: UTC
    EXPECT_EQ(f.hour, 20);

    FeedTime undated;  // when -1
    EXPECT_FALSE(ShiftToZone(&undated, kZoneOwn, 0, &f));
    EXPECT_FALSE(ShiftToZone(nullptr, kZoneOwn, 0, &f));
}

std::string Elapsed(uint32_t seconds, uint32_t flags) {
    char buffer[kElapsedTextCapacity];
    size_t n = ElapsedText(seconds, flags, buffer, sizeof buffer);
    EXPECT_EQ(n, std::strlen(buffer));
    return buffer;
}

std::string Single(uint32_t seconds) {
    char buffer[kElapsedTextCapacity];
    ElapsedTextSingle(seconds, buffer, sizeof buffer);
    return buffer;
}

TEST(TimeUtilsTest, ElapsedTextUnits) {
    struct {
        uint32_t seconds, flags;
        const char16_t* expected;  // the unit words are code page 932
    } rows[] = {
        {90061, 0x1F, u"1日1時間1分1秒"},
        {59, 0x1F, u"59秒"},
        {0, 0x1F, u"0秒"},
        {30, 0x1E, u""},
        {1800, 0x1E, u"30分"},
        {7200, 0x1E, u"2時間"},
        {5400, 0x1E, u"1時間30分"},
        {60, 0x03, u"60秒"},              // equal to a unit: the next smaller one
        {3600, 0x07, u"60分0秒"},
        {86400, 0x1E, u"24時間"},
        {1209601, 0x7F, u"2週間1秒"},
        {UINT32_MAX, 0x7F, u"136年2ヶ月1週間3日6時間28分15秒"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.seconds);
        EXPECT_EQ(Elapsed(row.seconds, row.flags), Cp932(row.expected));
    }
}

TEST(TimeUtilsTest, ElapsedTextSingleUnit) {
    EXPECT_EQ(Single(90061), Cp932(u"1日"));
    EXPECT_EQ(Single(60), Cp932(u"60秒"));
    EXPECT_EQ(Single(61), Cp932(u"1分"));
    EXPECT_EQ(Single(3600), Cp932(u"60分"));
    EXPECT_EQ(Single(3601), Cp932(u"1時間"));
    EXPECT_EQ(Single(31536001), Cp932(u"1年"));
    EXPECT_EQ(Single(2592001), Cp932(u"1ヶ月"));
    EXPECT_EQ(Single(604801), Cp932(u"1週間"));
}

TEST(TimeUtilsTest, ElapsedTextStaysInsideSmallBuffers) {
    char buffer[6];
    std::memset(buffer, 'x', sizeof buffer);
    // A piece that does not fit is left out whole, so a double-byte word is
    // never cut in half.
    size_t n = ElapsedText(90061, 0x1F, buffer, 5);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(std::string(buffer), Cp932(u"1日"));
    EXPECT_EQ(buffer[5], 'x');
    EXPECT_EQ(ElapsedText(90061, 0x1F, buffer, 0), 0u);
}

}  // namespace
