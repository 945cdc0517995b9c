// Display text end to end below the export: feeds written to real files,
// fetched by real crawlers, rendered through display settings.
#include <gtest/gtest.h>

#include <climits>

#include <cstring>
#include <ctime>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "core/plugin_time.h"
#include "fetch/feed_crawler.h"
#include "platform/platform.h"
#include "test_util.h"
#include "text/display_text.h"

using namespace feedlet;

namespace {

// 2011-03-05 09:04:03 UTC, a Saturday.
constexpr PluginTime kSaturday = 1299315843;

std::string Rss(const std::vector<std::pair<std::string, std::string>>& items,
                const std::string& channel_extra = "") {
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?><rss version=\"2.0\"><channel>"
                      "<title>Channel</title><description>About</description>"
                      "<copyright>(c) Feedlet</copyright>" + channel_extra;
    for (const auto& item : items) {
        xml += "<item><title>" + item.first + "</title>";
        if (!item.second.empty()) xml += "<pubDate>" + item.second + "</pubDate>";
        xml += "</item>";
    }
    return xml + "</channel></rss>";
}

class DisplayTextTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (FeedCrawler* c : crawlers) DestroyAndFree(c);
    }

    // A crawler that has fetched xml from a real file.
    FeedCrawler* Fetched(const std::string& xml, uint8_t flags = 0) {
        std::string path = dir.path() + "feed" + std::to_string(crawlers.size()) + ".xml";
        WriteFile(path, xml);
        auto* crawler = new FeedCrawler;
        crawlers.push_back(crawler);
        Configure(crawler, path.c_str(), 300, flags);
        Start(crawler);
        EXPECT_TRUE(CrawlerWorkers().WaitIdle(kWaitMs)) << "the fetch of " << path << " did not end";
        EXPECT_NE(crawler->document, nullptr);
        return crawler;
    }

    DisplaySetting* Setting(FeedCrawler* crawler, const char16_t* format, uint8_t flag = 4,
                            const char16_t* split = u"") {
        settings.emplace_back(new DisplaySetting);
        DisplaySetting* s = settings.back().get();
        s->crawler = crawler;
        s->format.AssignWide(format);
        s->split.AssignWide(split);
        s->flag = flag;
        return s;
    }

    // Fill mode with a generous buffer; also checks that measuring agrees.
    std::u16string Text(int number, const DisplaySetting* s, PluginTime now = kSaturday) {
        int needed = GetTextForSetting(number, s, now, nullptr, 0);
        std::vector<char16_t> buffer(4096, u'#');
        int n = GetTextForSetting(number, s, now, buffer.data(), static_cast<int>(buffer.size()));
        std::u16string text(buffer.data());
        EXPECT_EQ(static_cast<size_t>(n), text.size());
        if (n > 0 || needed > 1) {
            EXPECT_EQ(needed, n + 1) << "measure and fill disagree";
        }
        return text;
    }

    std::u16string Strftime(const char16_t* pattern, int y, int mo, int d, int h, int mi, int sec, int wday) {
        char16_t buffer[256];
        platform::FormatTime(buffer, 256, pattern, CalendarFields{y, mo, d, h, mi, sec, wday, 0});
        return buffer;
    }

    TempDir dir;
    std::vector<FeedCrawler*> crawlers;
    std::vector<std::unique_ptr<DisplaySetting>> settings;
};

TEST_F(DisplayTextTest, TokenSyntax) {
    FeedCrawler* feed = Fetched(Rss({{"Hello", ""}}));
    struct {
        const char16_t* format;
        const char16_t* expected;
    } rows[] = {
        {u"%title", u"Hello"},
        {u"%TITLE|%Title", u"Hello|Hello"},
        {u"%%title", u"%title"},
        {u"%x", u"x"},
        {u"end%", u"end"},
        {u"%d", u"d"},
        {u"%description", u""},  // articles have no description here
        {u"%copyright", u""},    // never filled for articles
        {u"%hh12", u"12"},        // no date: the token is empty, the literal stays
        {u"a%%%%b", u"a%%b"},
        {u"", u""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.format, row.format + std::char_traits<char16_t>::length(row.format)));
        EXPECT_EQ(Text(2, Setting(feed, row.format)), row.expected);
    }
    EXPECT_EQ(GetTextForSetting(2, Setting(feed, u"%title"), kSaturday, nullptr, 0), 6);
    EXPECT_EQ(GetTextForSetting(2, Setting(feed, u"%%title"), kSaturday, nullptr, 0), 7);
}

TEST_F(DisplayTextTest, ChannelInformation) {
    FeedCrawler* feed = Fetched(Rss({}, "<lastBuildDate>Sat, 05 Mar 2011 09:04:03 GMT</lastBuildDate>"));
    EXPECT_EQ(Text(1, Setting(feed, u"%title: %description %copyright")), u"Channel: About (c) Feedlet");
    EXPECT_EQ(Text(1, Setting(feed, u"%yyyy/%m/%dd %hh:%nn:%ss")), u"2011/03/05 09:04:03");
    EXPECT_EQ(Text(1, Setting(feed, u"")), u"");
    EXPECT_EQ(GetTextForSetting(1, Setting(feed, u""), kSaturday, nullptr, 0), 1);
}

// The whole token table, row by row in matching order: each name selects its
// own row (no earlier row shadows it), its id gives the same value through
// TokenValue, and its description is the dialog's text in code page 932.
TEST_F(DisplayTextTest, EveryTokenOfTheTable) {
    FeedCrawler* feed = Fetched(Rss({}, "<lastBuildDate>Sat, 05 Mar 2011 09:04:03 GMT</lastBuildDate>"));
    ASSERT_NE(feed->document, nullptr);
    const PluginTime now = kSaturday + 90061;  // a day, an hour, a minute and a second later
    struct Row {
        const char16_t* name;
        int id;
        const char16_t* pattern;  // the value is wcsftime's for this pattern
        const char16_t* value;    // or exactly this
        const char16_t* description;
    };
    const Row rows[] = {
        {u"title", 0, nullptr, u"Channel", u"RSS/記事のタイトル"},
        {u"description", 1, nullptr, u"About", u"RSS/記事の説明"},
        {u"copyright", 2, nullptr, u"(c) Feedlet", u"RSS/記事の著作権情報"},
        {u"date", 3, u"%c", nullptr, u"RSS/記事の日付情報(システム)"},
        {u"dt", 4, nullptr, u"03/05", u"RSS/記事の日付情報(短縮)"},
        {u"yyyy", 5, u"%Y", nullptr, u"RSS/記事の日付情報(4桁年)"},
        {u"yy", 6, u"%y", nullptr, u"RSS/記事の日付情報(2桁年)"},
        {u"m", 7, u"%m", nullptr, u"RSS/記事の日付情報(月)"},
        {u"dddd", 9, u"%A", nullptr, u"RSS/記事の日付情報(曜日の英語)"},
        {u"ddd", 10, u"%a", nullptr, u"RSS/記事の日付情報(曜日の英語短縮)"},
        {u"aaaa", 11, nullptr, u"土曜日", u"RSS/記事の日付情報(曜日の日本語)"},
        {u"aaa", 12, nullptr, u"土", u"RSS/記事の日付情報(曜日の日本語短縮)"},
        {u"dd", 8, u"%d", nullptr, u"RSS/記事の日付情報(日)"},
        {u"hh", 13, u"%H", nullptr, u"RSS/記事の日付情報(24時間表記時)"},
        {u"h12", 14, u"%I", nullptr, u"RSS/記事の日付情報(12時間表記時)"},
        {u"AMPM", 15, u"%p", nullptr, u"RSS/記事の日付情報(AM/PM)"},
        {u"nn", 16, u"%M", nullptr, u"RSS/記事の日付情報(分)"},
        {u"ss", 17, u"%S", nullptr, u"RSS/記事の日付情報(秒)"},
        {u"pass", 18, nullptr, u"1日1時間1分1秒", u"RSS/記事の日付情報(経過時間詳細)"},
        {u"pa", 19, nullptr, u"1日", u"RSS/記事の日付情報(経過時間簡易)"},
    };
    ASSERT_EQ(std::size(rows), kFormatTokenCount);
    const FeedArticle* channel = &feed->document->channel;
    for (size_t i = 0; i < kFormatTokenCount; ++i) {
        const Row& row = rows[i];
        const FormatToken& token = kFormatTokens[i];
        std::u16string name = row.name;
        SCOPED_TRACE(std::string(name.begin(), name.end()));
        EXPECT_EQ(std::u16string(token.name), name);
        EXPECT_EQ(token.id, row.id);
        EXPECT_EQ(std::u16string(token.description), std::u16string(row.description));

        std::u16string expected = row.pattern ? Strftime(row.pattern, 2011, 3, 5, 9, 4, 3, 6) : row.value;
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(Text(1, Setting(feed, (u"%" + name).c_str()), now), expected);
        char16_t value[256];
        EXPECT_EQ(TokenValue(channel, row.id, nullptr, now, nullptr, 0), expected.size());
        ASSERT_EQ(TokenValue(channel, row.id, nullptr, now, value, 256), expected.size());
        EXPECT_EQ(std::u16string(value, expected.size()), expected);
    }
    // Ids no token has give nothing.
    char16_t value[8];
    for (int id : {-1, 20, 1000}) EXPECT_EQ(TokenValue(channel, id, nullptr, now, value, 8), 0u) << id;
}

TEST_F(DisplayTextTest, DateTokens) {
    FeedCrawler* feed = Fetched(Rss({{"A", "Sat, 05 Mar 2011 09:04:03 +0000"}}));
    EXPECT_EQ(Text(2, Setting(feed, u"%yyyy/%m/%dd %hh:%nn:%ss")), u"2011/03/05 09:04:03");
    EXPECT_EQ(Text(2, Setting(feed, u"%yy|%h12|%mm|%minute|%hh12")), u"11|09|03m|03inute|0912");
    EXPECT_EQ(Text(2, Setting(feed, u"%aaaa %aaa")), u"土曜日 土");
    // Locale texts come from the platform's own wcsftime.
    EXPECT_EQ(Text(2, Setting(feed, u"%dddd|%ddd|%dd")),
              Strftime(u"%A|%a|", 2011, 3, 5, 9, 4, 3, 6) + u"05");
    EXPECT_EQ(Text(2, Setting(feed, u"%AMPM %ampm")), Strftime(u"%p %p", 2011, 3, 5, 9, 4, 3, 6));
    EXPECT_EQ(Text(2, Setting(feed, u"%date")), Strftime(u"%c", 2011, 3, 5, 9, 4, 3, 6));
}

TEST_F(DisplayTextTest, ShortDateByAge) {
    FeedCrawler* feed = Fetched(Rss({{"A", "Sat, 05 Mar 2011 09:04:03 +0000"}}));
    DisplaySetting* s = Setting(feed, u"%dt");
    EXPECT_EQ(Text(2, s, kSaturday + 2 * 3600), u"09:04");
    EXPECT_EQ(Text(2, s, kSaturday + 86400), u"09:04");  // exactly a day: still the time
    EXPECT_EQ(Text(2, s, kSaturday + 2 * 86400), u"03/05");
    EXPECT_EQ(Text(2, s, kSaturday + 400 * 86400), u"2011.");
    EXPECT_EQ(Text(2, s, kSaturday - 2 * 86400), u"03/05");  // future dates by distance too
}

TEST_F(DisplayTextTest, ElapsedTime) {
    FeedCrawler* feed = Fetched(Rss({{"A", "Sat, 05 Mar 2011 09:04:03 +0000"}}));
    EXPECT_EQ(Text(2, Setting(feed, u"%pass"), kSaturday + 90061), u"1日1時間1分1秒");
    EXPECT_EQ(Text(2, Setting(feed, u"%pa"), kSaturday + 90061), u"1日");
    EXPECT_EQ(Text(2, Setting(feed, u"%pa"), kSaturday - 30), u"-30秒");
    EXPECT_EQ(Text(2, Setting(feed, u"%pass"), kSaturday), u"0秒");
}

TEST_F(DisplayTextTest, ZoneOfTheSettingOrOfTheFeed) {
    FeedCrawler* feed = Fetched(Rss({{"A", "Fri, 04 Mar 2011 18:30:00 -0500"}}));  // 23:30 UTC
    DisplaySetting* own = Setting(feed, u"%m/%dd %hh:%nn");
    EXPECT_EQ(Text(2, own), u"03/04 18:30");
    TimeZoneEntry tokyo;
    tokyo.offset = 540;
    DisplaySetting* zoned = Setting(feed, u"%m/%dd %hh:%nn");
    zoned->zone = &tokyo;
    EXPECT_EQ(Text(2, zoned), u"03/05 08:30");
}

TEST_F(DisplayTextTest, ArticleConditionsAndSeparators) {
    FeedCrawler* feed = Fetched(Rss({{"A", "Sat, 05 Mar 2011 09:04:00 +0000"},
                                     {"B", "Sat, 05 Mar 2011 09:00:00 +0000"},
                                     {"C", ""},
                                     {"D", "Sat, 05 Mar 2011 08:00:00 +0000"},
                                     {"E", "Sat, 05 Mar 2011 09:10:00 +0000"}}));
    struct {
        uint8_t flag;
        const char16_t* expected;
    } rows[] = {
        {0, u"A"},
        {1, u"A, B, C"},
        {2, u"A, B, E"},  // at most 300 s old; undated skipped; the future included
        {4, u"A, B, C, D, E"},
        {3, u"A, B, C, D, E"},
        {7, u"A, B, C, D, E"},
        {0x21, u"A, B, C"},  // bits above the condition are ignored
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.flag);
        DisplaySetting* s = Setting(feed, u"%title", row.flag, u", ");
        s->num = 3;
        s->time = 300;
        EXPECT_EQ(Text(2, s), row.expected);
    }
}

TEST_F(DisplayTextTest, SeparatorsOnlyBetweenProducedPieces) {
    FeedCrawler* two = Fetched(Rss({{"A", ""}, {"B", ""}}));
    DisplaySetting* s = Setting(two, u"%title", 4, u" / ");
    EXPECT_EQ(Text(2, s), u"A / B");
    EXPECT_EQ(GetTextForSetting(2, s, kSaturday, nullptr, 0), 6);

    // The first article expands to nothing: no separator before the second.
    FeedCrawler* dated = Fetched(Rss({{"X", ""}, {"Y", "Sat, 05 Mar 2011 09:00:00 +0000"}}));
    EXPECT_EQ(Text(2, Setting(dated, u"%hh", 4, u" / ")), u"09");
}

TEST_F(DisplayTextTest, SortedFeedsShowTheNewestFirst) {
    FeedCrawler* feed = Fetched(Rss({{"old", "Sat, 05 Mar 2011 08:00:00 +0000"},
                                     {"undated", ""},
                                     {"new", "Sat, 05 Mar 2011 09:00:00 +0000"}}),
                                kCrawlerSortByTime);
    EXPECT_EQ(Text(2, Setting(feed, u"%title", 4, u",")), u"new,old,undated");
}

TEST_F(DisplayTextTest, BuffersAreNeverOverrun) {
    FeedCrawler* feed = Fetched(Rss({{"Hello", ""}, {"World", ""}}));
    DisplaySetting* s = Setting(feed, u"<%title>", 4, u" / ");
    const std::u16string full = u"<Hello> / <World>";
    for (int size = 1; size <= static_cast<int>(full.size()) + 2; ++size) {
        SCOPED_TRACE(size);
        std::vector<char16_t> buffer(static_cast<size_t>(size) + 4, u'#');
        int n = GetTextForSetting(2, s, kSaturday, buffer.data(), size);
        size_t stored = std::min(full.size(), static_cast<size_t>(size) - 1);
        EXPECT_EQ(std::u16string(buffer.data()), full.substr(0, stored));
        EXPECT_GE(static_cast<size_t>(n), stored);
        for (int i = size; i < size + 4; ++i) ASSERT_EQ(buffer[static_cast<size_t>(i)], u'#');
    }
    char16_t untouched[2] = {u'#', u'#'};
    EXPECT_EQ(GetTextForSetting(2, s, kSaturday, untouched, -5), 0);
    EXPECT_EQ(untouched[0], u'#');
}

TEST_F(DisplayTextTest, MissingFeedsAndBusyFeeds) {
    DisplaySetting* orphan1 = Setting(nullptr, u"%title");
    EXPECT_EQ(GetTextForSetting(1, orphan1, kSaturday, nullptr, 0), 1);
    EXPECT_EQ(GetTextForSetting(2, orphan1, kSaturday, nullptr, 0), 0);

    // Configured but never fetched: no document yet.
    auto* unfetched = new FeedCrawler;
    crawlers.push_back(unfetched);
    Configure(unfetched, "nowhere", 300, 0);
    EXPECT_EQ(GetTextForSetting(1, Setting(unfetched, u"%title"), kSaturday, nullptr, 0), 1);
    EXPECT_EQ(GetTextForSetting(2, Setting(unfetched, u"%title"), kSaturday, nullptr, 0), 1);

    // Busy: another thread holds the crawler's lock as a fetch does.
    FeedCrawler* feed = Fetched(Rss({{"Hello", ""}}));
    FetchInProgress fetch(feed);
    char16_t buffer[16] = {u'#'};
    EXPECT_EQ(GetTextForSetting(1, Setting(feed, u"%title"), kSaturday, nullptr, 0), 1);
    EXPECT_EQ(GetTextForSetting(2, Setting(feed, u"%title"), kSaturday, nullptr, 0), 0);
    EXPECT_EQ(GetTextForSetting(1, Setting(feed, u"%title"), kSaturday, buffer, 16), 0);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(GetTextForSetting(2, Setting(feed, u"%title"), kSaturday, buffer, 16), 0);
    fetch.Release();
    EXPECT_EQ(Text(2, Setting(feed, u"%title")), u"Hello");
}

TEST_F(DisplayTextTest, SettingNumbersThroughTheConfiguration) {
    FeedCrawler* feed = Fetched(Rss({{"Hello", ""}}));
    Configuration config;
    auto* setting = new DisplaySetting;
    setting->crawler = feed;
    setting->format.AssignWide(u"%title");
    config.item_settings.Append(setting);
    char16_t buffer[8];
    EXPECT_EQ(GetTextAt(config, 2, 1, nullptr, 0, kSaturday), 6);
    EXPECT_EQ(GetTextAt(config, 2, 1, buffer, 8, kSaturday), 5);
    EXPECT_EQ(GetTextAt(config, 2, 2, nullptr, 0, kSaturday), 0);  // no such setting
    EXPECT_EQ(GetTextAt(config, 2, 0, buffer, 8, kSaturday), 0);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(GetTextAt(config, 1, 1, nullptr, 0, kSaturday), 0);
    EXPECT_EQ(GetTextAt(config, 3, 1, nullptr, 0, kSaturday), 1);  // other functions
    EXPECT_EQ(GetTextAt(config, 0, 1, buffer, 8, kSaturday), 0);
    // The extremes a host may pass: no overflow, nothing found.
    for (int number : {INT_MIN, INT_MIN + 1, -1, INT_MAX}) {
        SCOPED_TRACE(number);
        EXPECT_EQ(GetTextAt(config, 2, number, nullptr, 0, kSaturday), 0);
        EXPECT_EQ(GetTextAt(config, 2, number, buffer, 8, kSaturday), 0);
    }
}

}  // namespace
