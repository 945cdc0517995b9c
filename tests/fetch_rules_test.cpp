// When a crawler comes back: the retry pauses, what a Retry-After asks, the
// three forms of an HTTP-date, and which validators are kept.
#include <gtest/gtest.h>

#include <string>

#include "fetch/fetch_rules.h"

using namespace feedlet;

namespace {

// 2026-12-09 12:00:00 UTC, a Wednesday.
constexpr int64_t kNow = 1796817600;

TEST(FetchRulesTest, RetryPausesDoubleUpToTheInterval) {
    struct Row {
        uint32_t previous, interval, expected;
    } rows[] = {
        {0, 1800, 60},      {60, 1800, 120},     {120, 1800, 240},   {240, 1800, 480},
        {480, 1800, 960},   {960, 1800, 1800},   {1800, 1800, 1800}, {0, 300, 60},
        {240, 300, 300},    {300, 300, 300},     {0, 45, 45},        // an interval shorter than a minute bounds it
        {0, 0, 60},         {0xFFFFFFFF, 0, kMaxRetryAfterSeconds},  // never configured: no overflow
        {60000, 86400, 86400},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.previous) + " within " + std::to_string(row.interval));
        EXPECT_EQ(NextRetryDelay(row.previous, row.interval), row.expected);
    }
}

TEST(FetchRulesTest, HttpDatesInAllThreeForms) {
    struct Row {
        const char* text;
        bool ok;
        int64_t seconds;
    } rows[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", true, 784111777},
        {"Sunday, 06-Nov-94 08:49:37 GMT", true, 784111777},
        {"Sun Nov  6 08:49:37 1994", true, 784111777},
        {"Wed, 09 Dec 2026 13:00:00 GMT", true, kNow + 3600},
        {"Wednesday, 09-Dec-26 13:00:00 GMT", true, kNow + 3600},
        {"Wed Dec  9 13:00:00 2026", true, kNow + 3600},
        {"Thu, 31 Dec 1998 23:59:60 GMT", true, 915148800},  // a leap second
        // Not HTTP-dates: another zone, lower case, missing parts, junk after.
        {"Sun, 06 Nov 1994 08:49:37 +0900", false, 0},
        {"sun, 06 nov 1994 08:49:37 gmt", false, 0},
        {"Sun, 06 Nov 1994 08:49 GMT", false, 0},
        {"Sun, 06 Nov 1994 08:49:37 GMT x", false, 0},
        {"Sun, 6 Nov 1994 08:49:37 GMT", false, 0},
        {"Sun, 06 Nov 1994 24:00:00 GMT", false, 0},
        {"Sun, 32 Nov 1994 08:49:37 GMT", false, 0},
        {"Sun, 06 Foo 1994 08:49:37 GMT", false, 0},
        {"", false, 0},
        {"3600", false, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        int64_t seconds = -1;
        EXPECT_EQ(ParseHttpDate(row.text, &seconds), row.ok);
        if (row.ok) {
            EXPECT_EQ(seconds, row.seconds);
        }
    }
    int64_t untouched = 5;
    EXPECT_FALSE(ParseHttpDate(nullptr, &untouched));
}

TEST(FetchRulesTest, RetryAfterAsSecondsOrADateWithinADay) {
    struct Row {
        const char* value;
        int64_t seconds;
    } rows[] = {
        {"3600", 3600},
        {"  120 ", 120},
        {"0", 0},
        {"86400", 86400},
        {"86401", 86400},                         // at most a day
        {"99999999999999999999999999", 86400},    // no overflow
        {"Wed, 09 Dec 2026 13:00:00 GMT", 3600},  // an hour ahead
        {"Wed Dec  9 13:00:00 2026", 3600},
        {"Wed, 09 Dec 2026 11:00:00 GMT", 0},     // in the past: no pause of its own
        {"Fri, 01 Jan 2100 00:00:00 GMT", 86400},
        {"-5", -1},
        {"1.5", -1},
        {"60 seconds", -1},
        {"soon", -1},
        {"", -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.value);
        EXPECT_EQ(RetryAfterSeconds(row.value, kNow), row.seconds);
    }
    EXPECT_EQ(RetryAfterSeconds(nullptr, kNow), -1);
}

TEST(FetchRulesTest, ARefusalPausesAtLeastTheInterval) {
    EXPECT_EQ(PauseAfterRefusal("3600", kNow, 300), 3600u);
    EXPECT_EQ(PauseAfterRefusal("Wed, 09 Dec 2026 13:00:00 GMT", kNow, 300), 3600u);
    EXPECT_EQ(PauseAfterRefusal("60", kNow, 300), 300u);        // never sooner than the interval
    EXPECT_EQ(PauseAfterRefusal("172800", kNow, 300), 86400u);  // never later than a day
    EXPECT_EQ(PauseAfterRefusal("172800", kNow, 86400), 86400u);
    EXPECT_EQ(PauseAfterRefusal("later", kNow, 1800), 1800u);   // unreadable: the interval
    EXPECT_EQ(PauseAfterRefusal(nullptr, kNow, 1800), 1800u);
    EXPECT_EQ(PauseAfterRefusal("", kNow, 1800), 1800u);
}

TEST(FetchRulesTest, ValidatorsAreKeptOnlyWhole) {
    EXPECT_TRUE(IsUsableValidator("\"abc\""));
    EXPECT_TRUE(IsUsableValidator("W/\"abc\""));
    EXPECT_TRUE(IsUsableValidator("Wed, 09 Dec 2026 13:00:00 GMT"));
    EXPECT_TRUE(IsUsableValidator(std::string(1024, 'e').c_str()));
    EXPECT_FALSE(IsUsableValidator(std::string(1025, 'e').c_str()));
    EXPECT_FALSE(IsUsableValidator("\"a\tb\""));
    EXPECT_FALSE(IsUsableValidator("\"a\x7F\""));
    EXPECT_FALSE(IsUsableValidator("\"a\x1B[31m\""));
    EXPECT_FALSE(IsUsableValidator(""));
    EXPECT_FALSE(IsUsableValidator(nullptr));
    // Bytes beyond ASCII are the server's business: kept as they came.
    EXPECT_TRUE(IsUsableValidator("\"\xE6\x97\xA5\""));
}

}  // namespace
