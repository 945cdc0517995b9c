// Reading and writing the configuration files from a real plugin folder.
#include <gtest/gtest.h>

#include <string>

#include "config/configuration.h"
#include "fetch/feed_crawler.h"
#include "platform/ini.h"
#include "platform/platform.h"
#include "test_util.h"

using namespace feedlet;

namespace {

// The defaults' code page 932 bytes, made from UTF-16 here rather than
// copied from the code.
const std::string kTokyo = Cp932(u"東京");
const std::string kSetting001 = Cp932(u"設定001");
const std::string kSetting002 = Cp932(u"設定002");

// A host folder with the plugin folder inside it, as the host lays it out.
class ConfigTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(host.ok()); }

    void MakeFeedletFolder() { platform::CreateFolder((host.plugin_dir() + "Feedlet").c_str()); }
    void WriteHostData(const std::string& text) { WriteFile(host.path() + "QVL_Data.ini", text); }
    void WriteFeeds(const std::string& text) {
        MakeFeedletFolder();
        WriteFile(FeedListPath(), text);
    }
    void WriteSettings(const std::string& text) {
        MakeFeedletFolder();
        WriteFile(SettingsPath(), text);
    }
    std::string Ini(const std::string& file, const char* section, const char* key) {
        char buffer[1024];
        platform::IniReadString(file.c_str(), section, key, "<missing>", buffer, sizeof buffer);
        return buffer;
    }
    const FeedEntry* Feed(const Configuration& c, int i) { return c.feeds.At<FeedEntry>(i); }

    HostFolder host{false};  // the tests make (or expect) the Feedlet folder
};

TEST_F(ConfigTest, FileLocations) {
    char s = platform::kPathSeparator;
    EXPECT_EQ(HostDataFilePath(), host.path() + "QVL_Data.ini");
    EXPECT_EQ(FeedListPath(), host.plugin_dir() + "Feedlet" + s + "RSS.ini");
    EXPECT_EQ(SettingsPath(), host.plugin_dir() + "Feedlet" + s + "Setting.ini");
}

TEST_F(ConfigTest, NothingOnDiskGivesTheDefaults) {
    Configuration c;
    LoadConfiguration(c);
    ASSERT_EQ(c.time_zones.Count(), 1u);
    auto* zone = c.time_zones.At<TimeZoneEntry>(0);
    EXPECT_STREQ(zone->short_name, "TYO");
    EXPECT_EQ(std::string(zone->name.Narrow()), kTokyo);
    EXPECT_EQ(zone->offset, 540);
    EXPECT_EQ(c.feeds.Count(), 0u);
    EXPECT_EQ(c.info_count, 10);
    EXPECT_EQ(c.item_count, 10);
    EXPECT_EQ(c.options, 1);
    EXPECT_EQ(c.menu_time_zone, nullptr);
    ASSERT_EQ(c.info_settings.Count(), 10u);
    auto* first = c.info_settings.At<DisplaySetting>(0);
    EXPECT_EQ(std::string(first->name), kSetting001);
    EXPECT_EQ(first->num, 3u);
    EXPECT_EQ(first->time, 300);
    EXPECT_EQ(first->crawler, nullptr);
    EXPECT_TRUE(first->format.IsEmpty());
    EXPECT_FALSE(platform::DirectoryHasEntry(host.plugin_dir().c_str(), "Feedlet"));  // reading creates nothing
}

TEST_F(ConfigTest, TimeZonesFromTheHostDataFile) {
    WriteHostData("[TimeZone001]\r\nSName=IND\r\nName=India\r\nHour=5\r\nMinute=30\r\nMinus=1\r\n"
                  "[TimeZone002]\r\nSName=TYO\r\nName=" + kTokyo + "\r\nHour=9\r\n"
                  "[TimeZone003]\r\nSName=UTC\r\n"
                  "[TimeZone005]\r\nSName=LOST\r\n");  // after the gap: not read
    Configuration c;
    LoadConfiguration(c);
    ASSERT_EQ(c.time_zones.Count(), 3u);
    EXPECT_EQ(c.time_zones.At<TimeZoneEntry>(0)->offset, -330);
    EXPECT_EQ(c.time_zones.At<TimeZoneEntry>(1)->offset, 540);
    EXPECT_EQ(std::string(c.time_zones.At<TimeZoneEntry>(1)->name.Narrow()), kTokyo);
    EXPECT_EQ(c.time_zones.At<TimeZoneEntry>(2)->offset, 0);
    EXPECT_EQ(c.time_zones.At<TimeZoneEntry>(2)->name.text, nullptr);
}

TEST_F(ConfigTest, FeedsStopAtTheFirstEmptyUrl) {
    WriteFeeds("[RSS000]\r\nURL=http://a.example/rss\r\nRSSName=A\r\nInterval=60\r\nFlag=0x5\r\n"
               "[RSS001]\r\nURL=C:\\feeds\\b.xml\r\nInterval=299\r\nFlag=0x1FF\r\n"
               "[RSS002]\r\nURL=\r\nRSSName=Gap\r\n"
               "[RSS003]\r\nURL=http://c.example/\r\n");
    Configuration c;
    LoadConfiguration(c);
    ASSERT_EQ(c.feeds.Count(), 2u);
    EXPECT_STREQ(Feed(c, 0)->name, "A");
    EXPECT_STREQ(Feed(c, 1)->name, "RSS002");  // default name counts from 1
    FeedCrawler* a = Feed(c, 0)->crawler;
    ASSERT_NE(a, nullptr);
    EXPECT_STREQ(a->url.Narrow(), "http://a.example/rss");
    EXPECT_EQ(a->interval, 300u);
    EXPECT_EQ(a->flags, 5);
    EXPECT_TRUE(a->mutex.IsCreated());
    EXPECT_EQ(a->document, nullptr);  // configured, not started
    EXPECT_EQ(Feed(c, 1)->crawler->interval, 300u);
    EXPECT_EQ(Feed(c, 1)->crawler->flags, 0xFF);
}

TEST_F(ConfigTest, IntervalFloorComparesUnsigned) {
    WriteFeeds("[RSS000]\r\nURL=a\r\nInterval=300\r\n[RSS001]\r\nURL=b\r\n"
               "[RSS002]\r\nURL=c\r\nInterval=-5\r\n[RSS003]\r\nURL=d\r\nInterval=junk\r\n");
    Configuration c;
    LoadConfiguration(c);
    ASSERT_EQ(c.feeds.Count(), 4u);
    EXPECT_EQ(Feed(c, 0)->crawler->interval, 300u);
    EXPECT_EQ(Feed(c, 1)->crawler->interval, 1800u);
    EXPECT_EQ(Feed(c, 2)->crawler->interval, 4294967291u);
    EXPECT_EQ(Feed(c, 3)->crawler->interval, 300u);  // no digits read as 0
}

TEST_F(ConfigTest, MainSectionCountsAndZones) {
    WriteHostData("[TimeZone001]\r\nSName=TYO\r\nHour=9\r\n[TimeZone002]\r\nSName=NYC\r\nHour=5\r\nMinus=1\r\n");
    struct {
        const char* info;
        const char* item;
        int16_t info_count, item_count;
    } rows[] = {
        {"5000", "3", 1000, 3},
        {"-1", "0", 0, 0},      // a negative count means no settings
        {"70000", "65537", 1000, 1},  // counts are 16-bit
        {"0x10", "", 16, 10},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.info);
        WriteSettings(std::string("[Main]\r\nInfoNum=") + row.info + "\r\nItemNum=" + row.item +
                      "\r\nMenuTimeZone=NYC\r\nFlag=0x0\r\n");
        Configuration c;
        LoadConfiguration(c);
        EXPECT_EQ(c.info_count, row.info_count);
        EXPECT_EQ(c.item_count, row.item_count);
        EXPECT_EQ(c.info_settings.Count(), static_cast<uint32_t>(row.info_count));
        EXPECT_EQ(c.item_settings.Count(), static_cast<uint32_t>(row.item_count));
        ASSERT_NE(c.menu_time_zone, nullptr);
        EXPECT_EQ(c.menu_time_zone->offset, -300);
        EXPECT_EQ(c.options, 0);
    }
    WriteSettings("[Main]\r\nMenuTimeZone=nyc\r\n");  // byte for byte: no match
    Configuration c;
    LoadConfiguration(c);
    EXPECT_EQ(c.menu_time_zone, nullptr);
}

TEST_F(ConfigTest, DisplaySettingsAreReadAndClamped) {
    WriteFeeds("[RSS000]\r\nURL=u0\r\nRSSName=News\r\n[RSS001]\r\nURL=u1\r\nRSSName=" + kTokyo + "\r\n");
    WriteSettings("[Main]\r\nInfoNum=1\r\nItemNum=3\r\n"
                  "[Info000]\r\nName=Headline\r\nTarget=News\r\nFormat=%title\r\n"
                  "[Item000]\r\nTarget=" + kTokyo + "\r\nFlag=0x21\r\nNum=0\r\nTime=-60\r\n"
                  "Split=\" \"\r\nFormat=\"  %hh:%nn " + kTokyo + " \"\r\nTimeZone=TYO\r\n"
                  "[Item001]\r\nTarget=news\r\nNum=150\r\nTimeZone=XXX\r\n"
                  "[Item002]\r\nNum=99\r\n");
    Configuration c;
    LoadConfiguration(c);
    auto* info = c.info_settings.At<DisplaySetting>(0);
    EXPECT_STREQ(info->name, "Headline");
    EXPECT_EQ(info->crawler, Feed(c, 0)->crawler);
    EXPECT_EQ(std::u16string(info->format.Wide()), u"%title");

    auto* item = c.item_settings.At<DisplaySetting>(0);
    EXPECT_EQ(std::string(item->name), kSetting001);
    EXPECT_EQ(item->crawler, Feed(c, 1)->crawler);
    EXPECT_EQ(item->flag, 0x21);  // bits beyond the condition are kept
    EXPECT_EQ(item->num, 1u);
    EXPECT_EQ(item->time, -60);
    EXPECT_EQ(std::u16string(item->split.Wide()), u" ");
    EXPECT_EQ(std::u16string(item->format.Wide()), u"  %hh:%nn 東京 ");
    ASSERT_NE(item->zone, nullptr);
    EXPECT_STREQ(item->zone->short_name, "TYO");

    auto* second = c.item_settings.At<DisplaySetting>(1);
    EXPECT_EQ(std::string(second->name), kSetting002);
    EXPECT_EQ(second->crawler, nullptr);  // target names match byte for byte
    EXPECT_EQ(second->num, 99u);
    EXPECT_EQ(second->zone, nullptr);
    EXPECT_EQ(c.item_settings.At<DisplaySetting>(2)->num, 99u);
}

TEST_F(ConfigTest, MangledFilesGiveSafeValues) {
    std::string junk("\0\xFF\xFE[\r\n=\x81\r\n[Main\r\nInfoNum=\xFF\xFF\r\n[RSS000]\r\nURL", 40);
    WriteHostData(junk);
    WriteFeeds(junk + "\r\n[RSS000]\r\nURL=x\r\n");
    WriteSettings(junk);
    Configuration c;
    LoadConfiguration(c);
    EXPECT_GE(c.time_zones.Count(), 1u);
    EXPECT_LE(c.feeds.Count(), 1u);
    EXPECT_GE(c.info_count, 0);
    EXPECT_LE(c.info_count, 1000);
}

TEST_F(ConfigTest, NulBytesInValuesGiveTheDefaults) {
    // A NUL byte ends a value: a name that starts with one is empty and gets
    // the default, and a URL that starts with one ends the feed list.
    const char feeds[] = "[RSS000]\r\nURL=a.xml\r\nRSSName=\"\0\0B  \"\r\n[RSS001]\r\nURL=\0b.xml\r\n"
                         "[RSS002]\r\nURL=c.xml\r\n";
    const char settings[] = "[Main]\r\nInfoNum=1\r\nItemNum=0\r\n[Info000]\r\nName=\0x\r\nTarget=RSS\0" "001\r\n";
    WriteFeeds(std::string(feeds, sizeof feeds - 1));
    WriteSettings(std::string(settings, sizeof settings - 1));
    Configuration c;
    LoadConfiguration(c);
    ASSERT_EQ(c.feeds.Count(), 1u);
    EXPECT_STREQ(Feed(c, 0)->name, "\"");  // the value ends at the NUL: one quote, no pair
    EXPECT_STREQ(Feed(c, 0)->crawler->url.Narrow(), "a.xml");
    auto* info = c.info_settings.At<DisplaySetting>(0);
    EXPECT_EQ(std::string(info->name), kSetting001);
    EXPECT_EQ(info->crawler, nullptr);  // "RSS" names no feed
}

TEST_F(ConfigTest, SavedSettingsReadBackTheSame) {
    WriteFeeds("[RSS000]\r\nURL=u0\r\nRSSName=News\r\n");
    Configuration c;
    LoadConfiguration(c);  // creates nothing; the folder exists for the feeds
    c.info_count = 2;
    c.item_count = 1;
    c.options = 0;
    c.menu_time_zone = c.time_zones.At<TimeZoneEntry>(0);
    SaveMainSettings(c);
    auto* item = c.item_settings.At<DisplaySetting>(0);
    item->crawler = Feed(c, 0)->crawler;
    item->flag = 1;
    item->num = 7;
    item->time = -3;
    item->split.AssignWide(u" ");
    item->format.AssignWide(u" %title 東京");
    item->zone = c.time_zones.At<TimeZoneEntry>(0);
    item->dirty = 1;
    SaveDisplaySettings(c);
    EXPECT_EQ(item->dirty, 0);

    std::string settings = SettingsPath();
    EXPECT_EQ(Ini(settings, "Main", "Flag"), "0x0");
    EXPECT_EQ(Ini(settings, "Item000", "Target"), "News");
    EXPECT_EQ(Ini(settings, "Info000", "Name"), "<missing>");  // not dirty: not written
    std::string raw = ReadFile(settings);
    EXPECT_NE(raw.find("Split=\" \"\r\n"), std::string::npos);

    Configuration again;
    LoadConfiguration(again);
    EXPECT_EQ(again.info_count, 2);
    EXPECT_EQ(again.item_count, 1);
    EXPECT_EQ(again.options, 0);
    ASSERT_NE(again.menu_time_zone, nullptr);
    auto* read = again.item_settings.At<DisplaySetting>(0);
    EXPECT_EQ(read->crawler, Feed(again, 0)->crawler);
    EXPECT_EQ(read->flag, 1);
    EXPECT_EQ(read->num, 7u);
    EXPECT_EQ(read->time, -3);
    EXPECT_EQ(std::u16string(read->split.Wide()), u" ");
    EXPECT_EQ(std::u16string(read->format.Wide()), u" %title 東京");
    EXPECT_NE(read->zone, nullptr);
}

TEST_F(ConfigTest, SavingCreatesTheFolder) {
    Configuration c;
    LoadConfiguration(c);
    EXPECT_FALSE(platform::DirectoryHasEntry(host.plugin_dir().c_str(), "Feedlet"));
    SaveMainSettings(c);
    EXPECT_TRUE(platform::DirectoryHasEntry(host.plugin_dir().c_str(), "Feedlet"));
    EXPECT_EQ(Ini(SettingsPath(), "Main", "InfoNum"), "10");
}

class FeedEditTest : public ConfigTest {
protected:
    void SetUp() override {
        ConfigTest::SetUp();
        // Locations that do not exist: a started crawler fails fast and keeps
        // no document.
        std::string missing = host.path() + "missing-";
        WriteFeeds("[RSS000]\r\nURL=" + missing + "a.xml\r\nRSSName=A\r\nInterval=600\r\nFlag=0x1\r\n"
                   "[RSS001]\r\nURL=" + missing + "b.xml\r\nRSSName=B\r\n"
                   "[RSS002]\r\nURL=" + missing + "c.xml\r\nRSSName=C\r\n");
        WriteSettings("[Main]\r\nInfoNum=1\r\nItemNum=2\r\n[Info000]\r\nTarget=B\r\n"
                      "[Item000]\r\nTarget=B\r\n[Item001]\r\nTarget=C\r\n");
        LoadConfiguration(config);
        ASSERT_TRUE(plugin_lock.Create());
    }
    void TearDown() override {
        EXPECT_TRUE(CrawlerWorkers().WaitIdle(kWaitMs)) << "a started fetch did not end";
        ConfigTest::TearDown();
    }
    Configuration config;
    platform::Mutex plugin_lock;
};

TEST_F(FeedEditTest, DeletingTheMiddleFeedRewritesTheList) {
    FeedCrawler* b = Feed(config, 1)->crawler;
    config.feeds.At<FeedEntry>(1)->edit_mark = kEditDeleted;
    EXPECT_EQ(CommitFeedEdits(config, plugin_lock, 1), 1);
    ASSERT_EQ(config.feeds.Count(), 2u);
    EXPECT_STREQ(Feed(config, 1)->name, "C");
    auto* info = config.info_settings.At<DisplaySetting>(0);
    EXPECT_EQ(info->crawler, nullptr);
    EXPECT_EQ(info->dirty, 1);
    EXPECT_EQ(config.item_settings.At<DisplaySetting>(1)->dirty, 0);
    (void)b;

    SaveFeeds(config);
    std::string feeds = FeedListPath();
    EXPECT_EQ(Ini(feeds, "RSS000", "RSSName"), "A");
    EXPECT_EQ(Ini(feeds, "RSS000", "Interval"), "600");
    EXPECT_EQ(Ini(feeds, "RSS000", "Flag"), "0x1");
    EXPECT_EQ(Ini(feeds, "RSS001", "RSSName"), "C");
    EXPECT_EQ(Ini(feeds, "RSS002", "URL"), "");
    EXPECT_EQ(Ini(feeds, "RSS002", "RSSName"), "");
    EXPECT_EQ(Ini(SettingsPath(), "Info000", "Target"), "");  // the dirty settings were saved too

    Configuration again;
    LoadConfiguration(again);
    ASSERT_EQ(again.feeds.Count(), 2u);
    EXPECT_STREQ(Feed(again, 0)->name, "A");
    EXPECT_STREQ(Feed(again, 1)->name, "C");
    EXPECT_EQ(again.info_settings.At<DisplaySetting>(0)->crawler, nullptr);
    EXPECT_EQ(again.item_settings.At<DisplaySetting>(1)->crawler, Feed(again, 1)->crawler);
}

TEST_F(FeedEditTest, DiscardingKeepsEverything) {
    config.feeds.At<FeedEntry>(1)->edit_mark = kEditDeleted;
    EXPECT_EQ(CommitFeedEdits(config, plugin_lock, 0), 0);
    ASSERT_EQ(config.feeds.Count(), 3u);
    EXPECT_EQ(Feed(config, 1)->edit_mark, kEditNone);
    EXPECT_EQ(config.info_settings.At<DisplaySetting>(0)->crawler, Feed(config, 1)->crawler);

    // The same deletion committed for real.
    config.feeds.At<FeedEntry>(1)->edit_mark = kEditDeleted;
    EXPECT_EQ(CommitFeedEdits(config, plugin_lock, 1), 1);
    EXPECT_EQ(config.feeds.Count(), 2u);
    EXPECT_EQ(config.info_settings.At<DisplaySetting>(0)->crawler, nullptr);
}

TEST_F(FeedEditTest, RenamingRewritesEveryTarget) {
    auto* entry = config.feeds.At<FeedEntry>(1);
    FeedCrawler* own = entry->crawler;
    auto* pending = new FeedEntry;
    std::snprintf(pending->name, sizeof pending->name, "%s", "Renamed");
    pending->crawler = new FeedCrawler;
    std::string new_url = host.path() + "missing-renamed.xml";
    Configure(pending->crawler, new_url.c_str(), 900, 0);
    entry->pending = pending;
    entry->edit_mark = kEditModified;

    EXPECT_EQ(CommitFeedEdits(config, plugin_lock, 1), 1);
    EXPECT_STREQ(entry->name, "Renamed");
    EXPECT_EQ(entry->crawler, own);  // an edited feed keeps its crawler
    EXPECT_EQ(entry->pending, nullptr);
    EXPECT_EQ(std::string(own->url.Narrow()), new_url);
    EXPECT_EQ(own->interval, 900u);
    EXPECT_EQ(config.info_settings.At<DisplaySetting>(0)->dirty, 1);
    EXPECT_EQ(config.item_settings.At<DisplaySetting>(0)->dirty, 1);

    SaveFeeds(config);
    EXPECT_EQ(Ini(SettingsPath(), "Info000", "Target"), "Renamed");
    EXPECT_EQ(Ini(SettingsPath(), "Item000", "Target"), "Renamed");
    EXPECT_EQ(Ini(FeedListPath(), "RSS001", "RSSName"), "Renamed");
    EXPECT_EQ(Ini(FeedListPath(), "RSS001", "Interval"), "900");
}

TEST_F(FeedEditTest, DiscardingAModificationReleasesThePendingCopy) {
    auto* entry = config.feeds.At<FeedEntry>(0);
    entry->pending = new FeedEntry;
    entry->pending->crawler = new FeedCrawler;
    Configure(entry->pending->crawler, "elsewhere", 300, 0);
    entry->edit_mark = kEditModified;
    EXPECT_EQ(CommitFeedEdits(config, plugin_lock, 0), 0);
    EXPECT_EQ(entry->pending, nullptr);
    EXPECT_STREQ(entry->name, "A");
    EXPECT_EQ(entry->edit_mark, kEditNone);
}

}  // namespace

namespace {

// Everything a reading gives, in one comparable text.
std::string Describe(const Configuration& c) {
    std::string out = "info=" + std::to_string(c.info_count) + " item=" + std::to_string(c.item_count) +
                      " options=" + std::to_string(c.options) + " menu=" +
                      (c.menu_time_zone ? c.menu_time_zone->short_name : "-") + "\n";
    for (FeedEntry* e : c.feeds.As<FeedEntry>())
        out += std::string("feed ") + e->name + "|" + (e->crawler->url.Narrow() ? e->crawler->url.Narrow() : "") +
               "|" + std::to_string(e->crawler->interval) + "|" + std::to_string(e->crawler->flags) + "\n";
    for (const ItemList* list : {&c.info_settings, &c.item_settings}) {
        for (DisplaySetting* s : list->As<DisplaySetting>()) {
            const char* target = "-";
            for (FeedEntry* e : c.feeds.As<FeedEntry>())
                if (e->crawler == s->crawler) target = e->name;
            auto wide = [](const TextField& f) {
                std::string bytes;
                for (const char16_t* p = f.Wide(); p && *p; ++p) bytes += std::to_string(*p) + ",";
                return bytes;
            };
            out += std::string("setting ") + s->name + "|" + target + "|" + std::to_string(s->flag) + "|" +
                   std::to_string(s->num) + "|" + std::to_string(s->time) + "|" + wide(s->split) + "|" +
                   wide(s->format) + "|" + (s->zone ? s->zone->short_name : "-") + "\n";
        }
    }
    return out;
}

TEST_F(ConfigTest, SavingEverythingLosesNothing) {
    WriteHostData("[TimeZone001]\r\nSName=TYO\r\nName=" + kTokyo + "\r\nHour=9\r\n"
                  "[TimeZone002]\r\nSName=NYC\r\nHour=5\r\nMinus=1\r\n");
    // Written by hand: odd spacing, quotes, Japanese names and formats.
    WriteFeeds("[RSS000]\r\n  URL =  http://a.example/rss?x=1&y=2  \r\nRSSName= " + kTokyo + " news\r\n"
               "Interval=  900\r\nFlag=1\r\n"
               "[rss001]\r\nurl='C:\\feeds\\b.xml'\r\nrssname=\"B  \"\r\n");
    WriteSettings("[main]\r\nInfoNum = 2\r\nItemNum=2\r\nFlag=0x0\r\nMenuTimeZone=NYC\r\n"
                  "[Info000]\r\nName=  " + kTokyo + "  \r\nTarget=" + kTokyo + " news\r\nFormat='%title '\r\n"
                  "[Info001]\r\nTarget=B  \r\n"
                  "[Item000]\r\nTarget=B  \r\nFlag=2\r\nNum=42\r\nTime=-7\r\nSplit=\"  \"\r\n"
                  "Format=\" %hh:%nn " + kTokyo + " \"\r\nTimeZone=TYO\r\n"
                  "[Item001]\r\nName=\"\"\r\nSplit=\"\"\r\nFormat=x\"y\"z\r\n");
    Configuration first;
    LoadConfiguration(first);
    std::string before = Describe(first);

    for (const ItemList* list : {&first.info_settings, &first.item_settings})
        for (DisplaySetting* s : list->As<DisplaySetting>()) s->dirty = 1;
    SaveMainSettings(first);
    SaveFeeds(first);

    Configuration second;
    LoadConfiguration(second);
    EXPECT_EQ(Describe(second), before);
    EXPECT_NE(before.find("feed " + kTokyo + " news|http://a.example/rss?x=1&y=2|900|1"), std::string::npos);
}

TEST_F(ConfigTest, ZoneShortNamesWithBlanksSurviveSaving) {
    // A short name read between quotes keeps its blanks; the menu zone and a
    // setting's zone refer to it by that name, so saving must quote it too.
    WriteHostData("[TimeZone001]\r\nSName=TYO\r\nHour=9\r\n[TimeZone002]\r\nSName=\" A \"\r\nHour=1\r\n");
    WriteSettings("[Main]\r\nInfoNum=0\r\nItemNum=1\r\nMenuTimeZone=\" A \"\r\n"
                  "[Item000]\r\nTimeZone=' A '\r\n");
    Configuration first;
    LoadConfiguration(first);
    ASSERT_NE(first.menu_time_zone, nullptr);
    EXPECT_STREQ(first.menu_time_zone->short_name, " A ");
    ASSERT_EQ(first.item_settings.At<DisplaySetting>(0)->zone, first.menu_time_zone);

    first.item_settings.At<DisplaySetting>(0)->dirty = 1;
    SaveMainSettings(first);
    SaveDisplaySettings(first);
    Configuration second;
    LoadConfiguration(second);
    EXPECT_EQ(Describe(second), Describe(first));
    ASSERT_NE(second.menu_time_zone, nullptr);
    EXPECT_STREQ(second.menu_time_zone->short_name, " A ");
}

}  // namespace
