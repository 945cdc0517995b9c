// Feed dates in the RFC 822 and W3C forms.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "core/plugin_time.h"
#include "feed/feed_date.h"
#include "test_util.h"

using namespace feedlet;

// The fuzz target, compiled into the tests under this name so that its
// corpus is replayed on every run.
extern "C" int FuzzDateOneInput(const uint8_t* data, size_t size);

namespace {

constexpr PluginTime k20110501_0100 = 1304211600;  // 2011-05-01 01:00:00 UTC
constexpr PluginTime k20110501_0000 = 1304208000;
constexpr PluginTime k20110501_0900 = 1304240400;
constexpr PluginTime k20110501_1000 = 1304244000;
constexpr PluginTime k20110501_1500 = 1304262000;
constexpr PluginTime k20110501_1530 = 1304263800;
constexpr PluginTime k20110101_0000 = 1293840000;
constexpr PluginTime k20110101_1000 = 1293876000;

struct DateRow {
    const char16_t* text;
    PluginTime when;
    int32_t zone_offset;
};

void CheckRows(int format, const DateRow* rows, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const DateRow& row = rows[i];
        SCOPED_TRACE(testing::Message() << "row " << i);
        const FeedTime time = ParseFeedDate(row.text, format);
        EXPECT_EQ(time.when, row.when);
        EXPECT_EQ(time.zone_offset, row.zone_offset);
    }
}

std::u16string Widen(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

TEST(FeedDateTest, Rfc822) {
    const DateRow rows[] = {
        {u"Sun, 01 May 2011 10:00:00 +0900", k20110501_0100, 540},
        {u"01 May 2011 10:00:00 +0900", k20110501_0100, 540},
        {u"Sun, 01 May 11 10:00 EST", k20110501_1500, -300},
        {u"Sun,01 May 2011 10:00:00 GMT", k20110501_1000, 0},
        {u"  Sun ,\t01\r\nMay  2011\n10:00:00\tGMT  ", k20110501_1000, 0},
        {u"Sun,\u300001\u3000May\u00a02011\u200210:00:00\u3000+0900", k20110501_0100, 540},
        // Two-digit years pivot at 70.
        {u"Thu, 01 Jan 70 00:00:00 GMT", 0, 0},
        {u"Fri, 01 Jan 99 00:00:00 GMT", 915148800, 0},
        {u"Wed, 01 May 69 10:00:00 GMT", -1, 0},
        {u"Sun, 01 May 0 10:00:00 GMT", 957175200, 0},  // 2000-05-01
        // Zones: named ones in any case, numeric ones, and the unknown as UTC.
        {u"Sun, 01 May 2011 10:00:00 JST", k20110501_1000, 0},
        {u"Sun, 01 May 2011 10:00:00 Z", k20110501_1000, 0},
        {u"Sun, 01 May 2011 10:00:00 gmt", k20110501_1000, 0},
        {u"Sun, 01 May 2011 10:00:00 Ut", k20110501_1000, 0},
        {u"Sun, 01 May 2011 10:00:00 PDT", k20110501_1000 + 7 * 3600, -420},
        {u"Sun, 01 May 2011 10:00:00 CST", k20110501_1000 + 6 * 3600, -360},
        {u"Sun, 01 May 2011 10:00:00 a", k20110501_1000 + 3600, -60},
        {u"Sun, 01 May 2011 10:00:00 M", k20110501_1000 + 12 * 3600, -720},
        {u"Sun, 01 May 2011 10:00:00 N", k20110501_1000 - 3600, 60},
        {u"Sun, 01 May 2011 10:00:00 Y", k20110501_1000 - 12 * 3600, 720},
        {u"Sun, 01 May 2011 10:00:00 -0530", k20110501_1530, -330},
        {u"Sun, 01 May 2011 10:00:00 +09", k20110501_0100, 540},
        {u"Sun, 01 May 2011 10:00:00 +9", k20110501_0100, 540},
        {u"Sun, 01 May 2011 10:00:00 +09:00", k20110501_0100, 540},
        {u"Sun, 01 May 2011 10:00:00 +", k20110501_1000, 0},
        {u"Sun, 01 May 2011 10:00:00 ESTX", k20110501_1000, 0},
        {u"Sun, 01 May 2011 10:00:00", k20110501_1000, 0},
        // Months: whole three-letter names only; anything else is January.
        {u"Sun, 01 Sept 2011 10:00:00 GMT", k20110101_1000, 0},
        {u"Sun, 01 march 2011 10:00:00 GMT", k20110101_1000, 0},
        {u"Sun, 01 MAY 2011 10:00:00 GMT", k20110501_1000, 0},
        {u"Sun, 01 dec 2011 10:00:00 GMT", 1322733600, 0},
        // Times with fewer parts.
        {u"01 May 2011 10:30 GMT", k20110501_1000 + 1800, 0},
        {u"01 May 2011 10 GMT", k20110501_1000, 0},
        {u"01 May 2011", k20110501_0000, 0},
        {u"01 May 2011 9:5:7 GMT", k20110501_0900 + 307, 0},
        // Out-of-range fields carry over as in the calendar.
        {u"31 Apr 2011 10:00:00 GMT", k20110501_1000, 0},
        {u"-5 May 2011 10:00:00 GMT", k20110501_1000 - 6 * 86400, 0},
        {u"01 May 2011 10:75:00 GMT", k20110501_1000 + 75 * 60, 0},
        // The edges of the representable range, the zone included.
        {u"Tue, 19 Jan 2038 03:14:07 GMT", INT32_MAX, 0},
        {u"Tue, 19 Jan 2038 03:14:08 GMT", -1, 0},
        {u"Tue, 19 Jan 2038 12:14:07 +0900", INT32_MAX, 540},
        {u"Thu, 01 Jan 1970 00:00:00 +0100", -1, 60},
        {u"Wed, 31 Dec 1969 23:00:00 -0100", 0, -60},
        // Nothing to read: day 0 of January 2000.
        {u"", 946598400, 0},
        {u"no date here", 946598400, 0},
        {u",,,,", 946598400, 0},
    };
    CheckRows(kDateRfc822, rows, std::size(rows));
}

TEST(FeedDateTest, Rfc822LongTokensAreCutAndNeverSpillOver) {
    const DateRow rows[] = {
        // A long time token keeps its first nine characters.
        {u"Sun, 01 May 2011 10:00:00.000 GMT", k20110501_1000, 0},
        // "September" fills the buffer exactly and is still no month name.
        {u"Sun, 01 September 2011 10:00:00 +0900", k20110101_1000 - 9 * 3600, 540},
        // The rest of an over-long token does not become the next field.
        {u"Sun, 01 Mayyyyyyyyyyyyyyyyyyyyyy 2011 10:00:00 +0900", k20110101_1000 - 9 * 3600, 540},
        {u"Sun, 01 May 2011 10:00:00 +0900000000000000000000", k20110501_0100, 540},
        // Huge numbers are cut to nine digits and land outside the range.
        {u"Sun, 99999999999999999999 May 2011 10:00:00 GMT", -1, 0},
        {u"Sun, 01 May 99999999999999999999 10:00:00 GMT", -1, 0},
        {u"Sun, 01 May 2011 99999999999999999999:00:00 GMT", -1, 0},
        {u"Sun, 01 May 2011 10:999999999999999:00 GMT", k20110501_1000 + 999999 * 60, 0},  // 10:999999
    };
    CheckRows(kDateRfc822, rows, std::size(rows));

    // A text of megabytes without separators is one token.
    std::u16string huge(1 << 20, u'7');
    FeedTime time = ParseFeedDate(huge.c_str(), kDateRfc822);
    EXPECT_EQ(time.when, -1);
    huge.assign(1 << 20, u'x');
    time = ParseFeedDate(huge.c_str(), kDateRfc822);
    EXPECT_EQ(time.when, 946598400);
}

TEST(FeedDateTest, W3c) {
    const DateRow rows[] = {
        {u"2011-05-01T10:00:00+09:00", k20110501_0100, 540},
        {u"2011-05-01T10:00:00.25-05:00", k20110501_1500, -300},
        {u"2011-05-01T10:00Z", k20110501_1000, 0},
        {u"2011-05-01T10:00:00-05:30", k20110501_1530, -330},
        {u"2011-05-01T10:00:00 +09:00", k20110501_0100, 540},
        {u"\u3000 2011-05-01T10:\u300030:00Z", k20110501_1000 + 1800, 0},  // numbers skip leading blanks
        {u"2011-05-01T10+09:00", k20110501_0100, 540},
        // Dates without a time, and partial dates.
        {u"2011-05-01", k20110501_0000, 0},
        {u"2011-05", k20110501_0000, 0},
        {u"2011", k20110101_0000, 0},
        {u"2011-05-01t10:00:00", k20110501_0000, 0},  // only 'T' starts a time
        // Zones the W3C way only: no ':' reads as UTC, a 'Z' wins.
        {u"2011-05-01T10:00:00+0900", k20110501_1000, 0},
        {u"2011-05-01T10:00:00+09", k20110501_1000, 0},
        {u"2011-05-01T10:00:00Z+09:00", k20110501_1000, 0},
        {u"2011-05-01T10:00:00", k20110501_1000, 0},
        // Minutes and seconds are read only after a two-digit hour and
        // two-digit minutes.
        {u"2011-05-01T9:30:00Z", k20110501_0900, 0},
        {u"2011-05-01T10:5:30Z", k20110501_1000 + 300, 0},
        {u"2011-05-01T10:30", k20110501_1000 + 1800, 0},
        {u"2011-05-01T10:", k20110501_1000, 0},
        {u"2011-05-01T1", k20110501_0000 + 3600, 0},
        {u"2011-05-01T", k20110501_0000, 0},
        // Without date dashes the first '-' (here the zone's) is the month.
        {u"2011T10:00:00-05:00", k20110501_1500, -300},
        // Calendar carries.
        {u"2011-13-01", 1325376000, 0},
        {u"2011-00-10", 1291939200, 0},
        {u"2011-02-29", 1298937600, 0},
        {u"2011-05-01T24:00:00Z", k20110501_0000 + 86400, 0},
        // Range edges.
        {u"1970-01-01T00:00:00Z", 0, 0},
        {u"1969-12-31T23:59:59Z", -1, 0},
        {u"1970-01-01T09:00:00+09:00", 0, 540},
        {u"2038-01-19T03:14:07Z", INT32_MAX, 0},
        {u"2038-01-19T03:14:08Z", -1, 0},
        {u"2038-01-19T12:14:07+09:00", INT32_MAX, 540},
        // Nothing or junk: year 0.
        {u"", -1, 0},
        {u"T", -1, 0},
        {u"--T::+:", -1, 0},
        {u"\u5e73\u621023\u5e74", -1, 0},
    };
    CheckRows(kDateW3c, rows, std::size(rows));
}

TEST(FeedDateTest, W3cHugeNumbersSaturate) {
    const DateRow rows[] = {
        {u"99999999999999999999-05-01T10:00:00Z", -1, 0},
        {u"2011-99999999999999999999-01", -1, 0},
        {u"2011-05-99999999999999999999T10:00:00Z", -1, 0},
        {u"2011-05-01T99999999999999999999Z", -1, 0},
        {u"2011-05-01T10:00:00+99999999999999999999:00", -1, INT32_MAX},
        {u"2011-05-01T10:00:00-99999999999999999999:00", -1, INT32_MIN},
        {u"2011-05-01T10:00:00-24:00", k20110501_1000 + 86400, -1440},
    };
    CheckRows(kDateW3c, rows, std::size(rows));
}

TEST(FeedDateTest, NullTextAndUnknownFormat) {
    EXPECT_EQ(ParseFeedDate(nullptr, kDateRfc822).when, 946598400);
    EXPECT_EQ(ParseFeedDate(nullptr, kDateW3c).when, -1);
    EXPECT_EQ(ParseFeedDate(u"01 May 2011 10:00:00 GMT", 7).when, k20110501_1000);
}

TEST(FeedDateTest, EveryInstantRoundTripsThroughBothForms) {
    // Writes instants across the whole range in both forms, in a zone that
    // varies with the instant, and reads them back.
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    int checked = 0;
    for (int64_t t = 86400; t < INT32_MAX - 86400; t += 35729, ++checked) {
        const int zone = static_cast<int>(t % 25 - 12) * 60 + static_cast<int>(t % 2) * 30;
        const CalendarFields f = FieldsFromEpochSeconds(t + zone * 60);
        char rfc[64], w3c[64];
        std::snprintf(rfc, sizeof rfc, "%s, %02d %s %04d %02d:%02d:%02d %c%02d%02d", kDays[f.weekday], f.day,
                      kMonths[f.month - 1], f.year, f.hour, f.minute, f.second, zone < 0 ? '-' : '+',
                      (zone < 0 ? -zone : zone) / 60, (zone < 0 ? -zone : zone) % 60);
        std::snprintf(w3c, sizeof w3c, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", f.year, f.month, f.day,
                      f.hour, f.minute, f.second, zone < 0 ? '-' : '+', (zone < 0 ? -zone : zone) / 60,
                      (zone < 0 ? -zone : zone) % 60);
        for (const char* text : {rfc, w3c}) {
            const FeedTime time = ParseFeedDate(Widen(text).c_str(), text == rfc ? kDateRfc822 : kDateW3c);
            ASSERT_EQ(time.when, t) << text;
            ASSERT_EQ(time.zone_offset, zone) << text;
        }
    }
    EXPECT_GT(checked, 50000);
}

TEST(FeedDateTest, FuzzCorpusReplays) {
    const std::filesystem::path corpus = std::filesystem::path(FEEDLET_FUZZ_CORPUS) / "date";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        const std::string bytes = ReadFile(entry.path().string());
        SCOPED_TRACE(entry.path().filename().string());
        EXPECT_EQ(FuzzDateOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0);
        ++files;
    }
    EXPECT_GT(files, 10);
}

}  // namespace
