// The settings dialogs' window-free decisions, on real INI files in a plugin
// folder: the zone lists' texts, the opening parameter, the condition and
// period lists, typed counts, and what OK stores and writes.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "config/configuration.h"
#include "core/codepage.h"
#include "fetch/feed_crawler.h"
#include "platform/ini.h"
#include "platform/platform.h"
#include "settings/dialog_text.h"
#include "settings/display_setting_edit.h"
#include "settings/intervals.h"
#include "settings/plugin_settings.h"
#include "settings/zone_choices.h"
#include "test_util.h"

using namespace feedlet;

namespace {

class SettingsDialogsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(host.ok());
        WriteFile(host.path() + "QVL_Data.ini",
                  "[TimeZone001]\r\nSName=TYO\r\nName=" + Cp932(u"東京") + "\r\nHour=9\r\n"
                  "[TimeZone002]\r\nSName=IND\r\nName=" + Cp932(u"インド") + "\r\nHour=5\r\nMinute=30\r\nMinus=1\r\n"
                  "[TimeZone003]\r\nSName=NYC\r\nName=NY\r\nHour=5\r\nMinus=1\r\n");
        WriteFile(FeedListPath(), "[RSS000]\r\nRSSName=A\r\nURL=a.xml\r\n[RSS001]\r\nRSSName=" + Cp932(u"鉄道") +
                                      "\r\nURL=b.xml\r\n");
    }
    void WriteSettings(const std::string& text) { WriteFile(SettingsPath(), text); }
    std::string Ini(const char* section, const char* key) {
        char buffer[2048];
        platform::IniReadString(SettingsPath().c_str(), section, key, "<missing>", buffer, sizeof buffer);
        return buffer;
    }
    FeedCrawler* CrawlerOf(const Configuration& c, int i) { return c.feeds.At<FeedEntry>(i)->crawler; }
    TimeZoneEntry* Zone(const Configuration& c, int i) { return c.time_zones.At<TimeZoneEntry>(i); }

    HostFolder host;
};

constexpr uint32_t Parameter(int kind, int index) { return static_cast<uint32_t>(kind) * 65536u + static_cast<uint32_t>(index); }

// ---------------------------------------------------------------------------
// The zone lists

TEST(ZoneChoicesTest, EntriesAreWordedFromOffsetNameAndShortName) {
    struct Row {
        int32_t offset;
        const char16_t* name;
        const char* short_name;
        const char16_t* expected;
    } rows[] = {
        {540, u"東京", "TYO", u"GMT+09:00 : 東京(TYO)"},
        {0, u"協定世界時", "UTC", u"GMT+00:00 : 協定世界時(UTC)"},
        {-330, u"インド西", "IW", u"GMT-05:30 : インド西(IW)"},
        {345, u"ネパール", "NPT", u"GMT+05:45 : ネパール(NPT)"},
        {-1, u"x", "M1", u"GMT-00:01 : x(M1)"},
        {600 * 60 + 7, u"far", "F", u"GMT+600:07 : far(F)"},
        {60, u"", "CET", u"GMT+01:00 : (CET)"},
        // The data file's arithmetic wraps; every offset is still worded.
        {INT32_MIN, u"min", "L", u"GMT-35791394:08 : min(L)"},
        {INT32_MAX, u"max", "H", u"GMT+35791394:07 : max(H)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.offset);
        TimeZoneEntry zone;
        zone.offset = row.offset;
        zone.name.AssignNarrow(Cp932(row.name).c_str());
        std::snprintf(zone.short_name, sizeof zone.short_name, "%s", row.short_name);
        EXPECT_EQ(ZoneChoiceText(zone), Cp932(row.expected));
    }
    EXPECT_EQ(std::string(kFollowFeedZoneText.Narrow()), Cp932(u"RSSのタイムゾーンに従う"));
}

TEST_F(SettingsDialogsTest, ZonesFromTheHostDataFileAndOnlyListedZonesAreStored) {
    Configuration c;
    LoadConfiguration(c);
    ASSERT_EQ(c.time_zones.Count(), 3u);
    EXPECT_EQ(ZoneChoiceText(*Zone(c, 0)), Cp932(u"GMT+09:00 : 東京(TYO)"));
    EXPECT_EQ(ZoneChoiceText(*Zone(c, 1)), Cp932(u"GMT-05:30 : インド(IND)"));
    EXPECT_EQ(ZoneChoiceText(*Zone(c, 2)), Cp932(u"GMT-05:00 : NY(NYC)"));

    TimeZoneEntry foreign;
    EXPECT_EQ(ListedZone(c.time_zones, Zone(c, 1)), Zone(c, 1));
    EXPECT_EQ(ListedZone(c.time_zones, &foreign), nullptr);
    EXPECT_EQ(ListedZone(c.time_zones, nullptr), nullptr);
    // A list's error value read as item data is no zone either.
    EXPECT_EQ(ListedZone(c.time_zones, reinterpret_cast<const void*>(static_cast<intptr_t>(-1))), nullptr);
}

// ---------------------------------------------------------------------------
// The plugin settings dialog

TEST(PluginSettingsTest, TypedCountsAreKeptWithinTheUpDownRange) {
    struct Row {
        const char16_t* text;
        int16_t count;
    } rows[] = {
        {u"10", 10}, {u"1", 1}, {u"999", 999}, {u"  7", 7}, {u"+5", 5}, {u"12abc", 12},
        // atoi reads these as 0 or less: no count can be below 1.
        {u"0", 1}, {u"", 1}, {u"abc", 1}, {u"-3", 1}, {u"-", 1},
        // Not typeable in three characters, but pasted or set: within 999.
        {u"1000", 999}, {u"65537", 999}, {u"99999999999999999999999", 999}, {u"-99999999999999999999", 1},
        {u"\xFF11", 1},  // a full-width digit is no digit for atoi
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(Cp932(row.text)));
        EXPECT_EQ(TypedSettingCount(row.text), row.count);
    }
    EXPECT_EQ(TypedSettingCount(nullptr), 1);
}

TEST_F(SettingsDialogsTest, PluginSettingsOkWritesTheMainSectionAndNothingElse) {
    WriteSettings("[Main]\r\nInfoNum=3\r\nItemNum=5\r\nFlag=0xFF\r\nMenuTimeZone=NYC\r\n"
                  "[Info000]\r\nName=kept\r\n");
    Configuration c;
    LoadConfiguration(c);
    PluginSettingsValues values = CurrentPluginSettings(c);
    EXPECT_EQ(values.info_count, 3);
    EXPECT_EQ(values.item_count, 5);
    EXPECT_TRUE(values.tray);
    EXPECT_EQ(values.menu_zone, Zone(c, 2));

    // Unchanged: both counts and the zone as they were, the flags reduced
    // to bit 0.
    StorePluginSettings(c, values);
    EXPECT_EQ(Ini("Main", "InfoNum"), "3");
    EXPECT_EQ(Ini("Main", "ItemNum"), "5");
    EXPECT_EQ(Ini("Main", "Flag"), "0x1");
    EXPECT_EQ(Ini("Main", "MenuTimeZone"), "NYC");
    EXPECT_EQ(c.options, 1);
    EXPECT_EQ(Ini("Info000", "Name"), "kept");
    EXPECT_EQ(Ini("Info000", "Format"), "<missing>") << "display settings are not written";

    // The feed's own zone, the tray off, counts out of range.
    values.menu_zone = nullptr;
    values.tray = false;
    values.info_count = 0;
    values.item_count = 1000;
    StorePluginSettings(c, values);
    EXPECT_EQ(Ini("Main", "MenuTimeZone"), "");
    EXPECT_EQ(Ini("Main", "Flag"), "0x0");
    EXPECT_EQ(Ini("Main", "InfoNum"), "1");
    EXPECT_EQ(Ini("Main", "ItemNum"), "999");
    EXPECT_EQ(c.menu_time_zone, nullptr);

    // A zone that is not in the list is no zone.
    TimeZoneEntry foreign;
    values.menu_zone = &foreign;
    StorePluginSettings(c, values);
    EXPECT_EQ(c.menu_time_zone, nullptr);
    EXPECT_EQ(Ini("Main", "MenuTimeZone"), "");

    // The running configuration keeps its settings; the next load has the
    // new counts.
    values.info_count = 2;
    values.item_count = 7;
    StorePluginSettings(c, values);
    EXPECT_EQ(c.info_settings.Count(), 3u);
    EXPECT_EQ(c.item_settings.Count(), 5u);
    Configuration next;
    LoadConfiguration(next);
    EXPECT_EQ(next.info_settings.Count(), 2u);
    EXPECT_EQ(next.item_settings.Count(), 7u);
    EXPECT_EQ(next.options, 0);
}

TEST_F(SettingsDialogsTest, NegativeCountsReadFromTheFileAreStoredAsOne) {
    WriteSettings("[Main]\r\nInfoNum=-5\r\nItemNum=70000\r\n");
    Configuration c;
    LoadConfiguration(c);
    StorePluginSettings(c, CurrentPluginSettings(c));
    EXPECT_EQ(Ini("Main", "InfoNum"), "1");
    EXPECT_EQ(Ini("Main", "ItemNum"), "999");
}

// ---------------------------------------------------------------------------
// The display setting dialog

TEST_F(SettingsDialogsTest, TheParameterNamesTheSettingAndSurvivesItsLabel) {
    WriteSettings("[Main]\r\nInfoNum=2\r\nItemNum=3\r\n");
    Configuration c;
    LoadConfiguration(c);
    struct Row {
        uint32_t parameter;
        const char* text;
        const DisplaySetting* setting;
    } rows[] = {
        {Parameter(1, 1), "0x10001", c.info_settings.At<DisplaySetting>(0)},
        {Parameter(1, 2), "0x10002", c.info_settings.At<DisplaySetting>(1)},
        {Parameter(2, 3), "0x20003", c.item_settings.At<DisplaySetting>(2)},
        {Parameter(3, 1), "0x30001", c.item_settings.At<DisplaySetting>(0)},  // any kind but 1: articles
        {Parameter(0, 2), "0x2", c.item_settings.At<DisplaySetting>(1)},
        {Parameter(1, 0), "0x10000", nullptr},
        {Parameter(1, 3), "0x10003", nullptr},
        {Parameter(2, 0xFFFF), "0x2ffff", nullptr},
        {0xFFFFFFFFu, "0xffffffff", nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(FormatDialogParameter(row.parameter), row.text);
        std::u16string label(row.text, row.text + std::strlen(row.text));
        EXPECT_EQ(ParseDialogParameter(label.c_str()), row.parameter);
        EXPECT_EQ(FindEditedSetting(c, row.parameter), row.setting);
    }
    EXPECT_TRUE(IsArticleKind(Parameter(2, 1)));
    EXPECT_FALSE(IsArticleKind(Parameter(1, 1)));
    for (const char16_t* junk : {u"", u"zz", u"0x", u"0x123456789", static_cast<const char16_t*>(nullptr)})
        EXPECT_EQ(ParseDialogParameter(junk), 0u);
    EXPECT_EQ(ParseDialogParameter(u"20003"), 0x20003u);
}

TEST(DisplaySettingChoicesTest, ConditionsAndWhatEachShows) {
    const char16_t* texts[] = {u"最新のみ", u"指定記事数のみ", u"指定時間内のみ", u"全ての記事"};
    const uint8_t values[] = {0, 1, 2, 4};
    for (size_t i = 0; i < kConditionChoiceCount; ++i) {
        EXPECT_EQ(std::string(kConditionChoices[i].text.Narrow()), Cp932(texts[i]));
        EXPECT_EQ(kConditionChoices[i].value, values[i]);
    }
    struct Row {
        uint8_t flag;
        int index;
        AmountField shown;
    } rows[] = {
        {0, 0, AmountField::kNone}, {1, 1, AmountField::kCount},  {2, 2, AmountField::kPeriod},
        {4, 3, AmountField::kNone}, {3, -1, AmountField::kNone},  {5, -1, AmountField::kNone},
        {7, -1, AmountField::kNone}, {0xF9, 1, AmountField::kCount}, {0x0A, 2, AmountField::kPeriod},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.flag);
        EXPECT_EQ(ConditionChoiceIndex(row.flag), row.index);
        EXPECT_EQ(AmountFieldFor(row.flag & 7), row.shown);
    }
    EXPECT_EQ(std::string(AmountLabel(AmountField::kCount)), Cp932(u"記事数(&D)"));
    EXPECT_EQ(std::string(AmountLabel(AmountField::kPeriod)), Cp932(u"期間(&D)"));
    EXPECT_EQ(AmountLabel(AmountField::kNone), nullptr);
}

// The interval list of the feed manager and the period list of the display
// setting dialog.
TEST(DisplaySettingChoicesTest, IntervalTableInListOrder) {
    const struct {
        const char16_t* text;
        uint32_t seconds;
    } rows[] = {
        {u"5分", 300},       {u"15分", 900},       {u"30分", 1800},
        {u"1時間", 3600},    {u"2時間", 7200},     {u"3時間", 10800},
        {u"5時間", 18000},   {u"10時間", 36000},   {u"24時間", 86400},
    };
    ASSERT_EQ(std::size(rows), kIntervalCount);
    for (size_t i = 0; i < kIntervalCount; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(std::string(kIntervalTable[i].text.Narrow()), Cp932(rows[i].text));
        EXPECT_EQ(kIntervalTable[i].seconds, rows[i].seconds);
        EXPECT_EQ(IntervalIndex(rows[i].seconds), static_cast<int>(i));
    }
    EXPECT_EQ(IntervalIndex(0), -1);
    EXPECT_EQ(IntervalIndex(5400), -1);
}

TEST(DisplaySettingChoicesTest, APeriodMissingFromTheTableIsAppendedAndSelected) {
    PeriodList listed = PeriodChoices(1800);
    ASSERT_EQ(listed.choices.size(), kIntervalCount);
    EXPECT_EQ(listed.selected, 2);
    for (size_t i = 0; i < kIntervalCount; ++i) {
        EXPECT_EQ(listed.choices[i].text, kIntervalTable[i].text.Narrow());
        EXPECT_EQ(listed.choices[i].seconds, static_cast<int32_t>(kIntervalTable[i].seconds));
    }
    EXPECT_EQ(PeriodChoices(300).selected, 0);
    EXPECT_EQ(PeriodChoices(86400).selected, 8);

    struct Row {
        int32_t period;
        const char16_t* text;
    } rows[] = {
        {5400, u"1時間30分"},
        {31536000, u"52週間24時間"},
        {601, u"10分"},  // the seconds are not shown, but kept
        {61, u"1分"},
        // A minute or less has no words in those units: shown in seconds.
        {60, u"60秒"},
        {30, u"30秒"},
        {0, u"0秒"},
        {-5, u"7101週間3日6時間28分"},  // read as unsigned, as the elapsed-time words are
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.period);
        PeriodList list = PeriodChoices(row.period);
        ASSERT_EQ(list.choices.size(), kIntervalCount + 1);
        EXPECT_EQ(list.selected, static_cast<int>(kIntervalCount));
        EXPECT_EQ(list.choices.back().text, Cp932(row.text));
        EXPECT_EQ(list.choices.back().seconds, row.period);
    }
}

TEST(DisplaySettingChoicesTest, TypedArticleCountsAreClamped) {
    struct Row {
        const char16_t* text;
        uint32_t count;
    } rows[] = {
        {u"0", 1},   {u"1", 1},    {u"99", 99},  {u"3", 3},    {u" 7", 7},  {u"+3", 3},  {u"5x", 5},
        {u"", 1},    {u"abc", 1},  {u"-0", 1},
        {u"100", 99}, {u"-1", 99},  {u"-99", 99}, {u"4294967297", 99}, {u"99999999999999999999", 99},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(Cp932(row.text));
        EXPECT_EQ(TypedArticleCount(row.text), row.count);
    }
}

TEST(DisplaySettingChoicesTest, ADoubleClickInsertsPercentAndTheTokenName) {
    EXPECT_EQ(TokenInsertion(0), u"%title");
    EXPECT_EQ(TokenInsertion(12), u"%dd");
    EXPECT_EQ(TokenInsertion(15), u"%AMPM");
    EXPECT_EQ(TokenInsertion(19), u"%pa");
    EXPECT_EQ(TokenInsertion(-1), u"");
    EXPECT_EQ(TokenInsertion(20), u"");
}

TEST(DialogTextTest, TextsAreCutWhereSettingIniCutsThemAndBetweenCharacters) {
    std::u16string ascii = Repeat(u"a", 300);
    EXPECT_EQ(Cp932Prefix(ascii.c_str(), kNameBytes), std::string(253, 'a'));
    std::u16string kana = Repeat(u"あ", 200);
    EXPECT_EQ(Cp932Prefix(kana.c_str(), kNameBytes), Cp932(Repeat(u"あ", 126).c_str()));
    // A double-byte character that would need bytes 253 and 254 is dropped.
    std::u16string even = u"ab" + kana;
    EXPECT_EQ(Cp932Prefix(even.c_str(), kNameBytes), Cp932((u"ab" + Repeat(u"あ", 125)).c_str()));
    EXPECT_EQ(Cp932Prefix(u"", kNameBytes), "");
    EXPECT_EQ(Cp932Prefix(nullptr, kNameBytes), "");

    EXPECT_EQ(FitToCp932(u"0123456789abcdefg", kSplitBytes), u"0123456789abcd");
    EXPECT_EQ(FitToCp932(u"あいうえおかきくけこ", kSplitBytes), u"あいうえおかき");
    EXPECT_EQ(FitToCp932(u"a/あいうえおかき", kSplitBytes), u"a/あいうえおか");
    EXPECT_EQ(FitToCp932(u"aあいうえおかき", kSplitBytes), u"aあいうえおか");
    EXPECT_EQ(FitToCp932(u" ／ ", kSplitBytes), u" ／ ");
    EXPECT_EQ(FitToCp932(nullptr, kSplitBytes), u"");
    // A character beyond the basic plane is kept or dropped whole.
    std::u16string emoji = u"1234567890123\U0001F600";
    std::u16string fitted = FitToCp932(emoji.c_str(), kSplitBytes);
    EXPECT_TRUE(fitted == emoji || fitted == u"1234567890123") << fitted.size();
}

TEST(DialogTextTest, TypedNumbersReadLikeAtoiWithoutOverflow) {
    struct Row {
        const char16_t* text;
        long long value;
    } rows[] = {
        {u"42", 42}, {u"\t\n 42", 42}, {u"-42x", -42}, {u"+0", 0}, {u"x42", 0}, {u"- 4", 0},
        {u"", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(Cp932(row.text));
        EXPECT_EQ(ReadTypedNumber(row.text), row.value);
    }
    // Far beyond any count: large, of the right sign, and no overflow.
    EXPECT_GE(ReadTypedNumber(u"99999999999999999999999999"), 1000000000000LL);
    EXPECT_LE(ReadTypedNumber(u"-99999999999999999999999999"), -1000000000000LL);
}

TEST_F(SettingsDialogsTest, OkStoresTheEditAndWritesItsSection) {
    WriteSettings("[Main]\r\nInfoNum=1\r\nItemNum=2\r\n"
                  "[Item000]\r\nName=first\r\n"
                  "[Item001]\r\nName=old\r\nTarget=A\r\nFlag=169\r\nNum=3\r\nTime=1800\r\nSplit=\",\"\r\n"
                  "Format=\"%title\"\r\nTimeZone=TYO\r\n");
    Configuration c;
    LoadConfiguration(c);
    DisplaySetting* setting = c.item_settings.At<DisplaySetting>(1);
    ASSERT_EQ(setting->flag, 0xA9);  // condition 1 and bits 3, 5, 7

    DisplaySettingEdit edit;
    edit.name = u"新しい名前";
    edit.target = CrawlerOf(c, 1);
    edit.condition = 2;
    edit.period_chosen = true;
    edit.period = 5400;
    edit.count = u"0";
    edit.split = u" / ";
    edit.format = u"%hh:%nn %title";
    edit.zone = Zone(c, 2);
    ASSERT_TRUE(StoreDisplaySetting(c, Parameter(2, 2), edit));

    EXPECT_EQ(std::string(setting->name), Cp932(u"新しい名前"));
    EXPECT_EQ(setting->crawler, CrawlerOf(c, 1));
    EXPECT_EQ(setting->flag, 0xAA) << "the condition replaces bits 0-2 only";
    EXPECT_EQ(setting->time, 5400);
    EXPECT_EQ(setting->num, 1u);
    EXPECT_EQ(std::u16string(setting->split.Wide()), u" / ");
    EXPECT_EQ(std::u16string(setting->format.Wide()), u"%hh:%nn %title");
    EXPECT_EQ(setting->zone, Zone(c, 2));
    EXPECT_EQ(setting->dirty, 0) << "written and clean again";

    EXPECT_EQ(Ini("Item001", "Name"), Cp932(u"新しい名前"));
    EXPECT_EQ(Ini("Item001", "Target"), Cp932(u"鉄道"));
    EXPECT_EQ(Ini("Item001", "Flag"), "170");
    EXPECT_EQ(Ini("Item001", "Num"), "1");
    EXPECT_EQ(Ini("Item001", "Time"), "5400");
    EXPECT_EQ(Ini("Item001", "Split"), " / ");
    EXPECT_EQ(Ini("Item001", "Format"), "%hh:%nn %title");
    EXPECT_EQ(Ini("Item001", "TimeZone"), "NYC");
    EXPECT_EQ(Ini("Item000", "Num"), "<missing>") << "only the edited setting is written";

    // No condition chosen (the setting's is not in the list): the flag stays;
    // no target or zone chosen: none is stored.
    setting->flag = 0x85;
    DisplaySettingEdit bare;
    bare.count = u"99";
    ASSERT_TRUE(StoreDisplaySetting(c, Parameter(2, 2), bare));
    EXPECT_EQ(setting->flag, 0x85);
    EXPECT_EQ(setting->time, 5400) << "no period chosen: the period stays";
    EXPECT_EQ(setting->num, 99u);
    EXPECT_EQ(setting->crawler, nullptr);
    EXPECT_EQ(setting->zone, nullptr);
    EXPECT_TRUE(setting->split.IsEmpty());
    EXPECT_EQ(Ini("Item001", "Target"), "");
    EXPECT_EQ(Ini("Item001", "TimeZone"), "");
    EXPECT_EQ(Ini("Item001", "Flag"), "133");
    EXPECT_EQ(Ini("Item001", "Split"), "");

    // Item data that names no registered feed or zone stores none.
    FeedCrawler stray;
    TimeZoneEntry foreign;
    edit.target = &stray;
    edit.zone = &foreign;
    ASSERT_TRUE(StoreDisplaySetting(c, Parameter(2, 2), edit));
    EXPECT_EQ(setting->crawler, nullptr);
    EXPECT_EQ(setting->zone, nullptr);

    // A parameter that names no setting stores nothing.
    std::string before = ReadFile(SettingsPath());
    EXPECT_FALSE(StoreDisplaySetting(c, Parameter(2, 3), edit));
    EXPECT_FALSE(StoreDisplaySetting(c, Parameter(1, 0), edit));
    EXPECT_EQ(ReadFile(SettingsPath()), before);
}

TEST_F(SettingsDialogsTest, AFeedInformationSettingKeepsConditionCountPeriodAndSeparator) {
    WriteSettings("[Main]\r\nInfoNum=1\r\nItemNum=0\r\n"
                  "[Info000]\r\nName=info\r\nFlag=0x2\r\nNum=7\r\nTime=600\r\nSplit=\"|\"\r\n");
    Configuration c;
    LoadConfiguration(c);
    DisplaySettingEdit edit;
    edit.name = u"channel";
    edit.target = CrawlerOf(c, 0);
    edit.condition = 4;
    edit.period_chosen = true;
    edit.period = 86400;
    edit.count = u"50";
    edit.split = u"--";
    edit.format = u"%title (%dt)";
    edit.zone = Zone(c, 0);
    ASSERT_TRUE(StoreDisplaySetting(c, Parameter(1, 1), edit));
    const DisplaySetting* setting = c.info_settings.At<DisplaySetting>(0);
    EXPECT_EQ(setting->flag, 2);
    EXPECT_EQ(setting->num, 7u);
    EXPECT_EQ(setting->time, 600);
    EXPECT_EQ(std::u16string(setting->split.Wide()), u"|");
    EXPECT_STREQ(setting->name, "channel");
    EXPECT_EQ(setting->crawler, CrawlerOf(c, 0));
    EXPECT_EQ(std::u16string(setting->format.Wide()), u"%title (%dt)");
    EXPECT_EQ(setting->zone, Zone(c, 0));
    EXPECT_EQ(Ini("Info000", "Target"), "A");
    EXPECT_EQ(Ini("Info000", "TimeZone"), "TYO");
}

// What OK stores is what the next load reads back, even for texts longer
// than Setting.ini's buffers.
TEST_F(SettingsDialogsTest, StoredTextsReadBackUnchangedAfterTheNextLoad) {
    WriteSettings("[Main]\r\nInfoNum=0\r\nItemNum=1\r\n");
    Configuration c;
    LoadConfiguration(c);
    struct Row {
        std::u16string name, split, format;
    } rows[] = {
        {Repeat(u"名", 200), u"0123456789abcdefgh", Repeat(u"%title ", 200)},
        {Repeat(u"n", 300), u"／／／／／／／／／", Repeat(u"記事", 600)},
        {u"a" + Repeat(u"名", 200), u"a／／／／／／／", u"x" + Repeat(u"あ", 600)},
        {u" " + Repeat(u"名", 200), u" ", u"xy" + Repeat(u"あ", 600)},
        {u" " + Repeat(u"n", 300), u"0123456789abcd", Repeat(u"n", 1022)},
        {u" padded ", u" \"q\" ", u"\"quoted\""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.split.size());
        DisplaySettingEdit edit;
        edit.name = row.name;
        edit.split = row.split;
        edit.format = row.format;
        edit.count = u"3";
        ASSERT_TRUE(StoreDisplaySetting(c, Parameter(2, 1), edit));
        const DisplaySetting* stored = c.item_settings.At<DisplaySetting>(0);
        Configuration next;
        LoadConfiguration(next);
        const DisplaySetting* loaded = next.item_settings.At<DisplaySetting>(0);
        ASSERT_NE(loaded, nullptr);
        EXPECT_STREQ(loaded->name, stored->name);
        EXPECT_EQ(std::u16string(loaded->split.Wide() ? loaded->split.Wide() : u""),
                  std::u16string(stored->split.Wide() ? stored->split.Wide() : u""));
        EXPECT_EQ(std::u16string(loaded->format.Wide()), std::u16string(stored->format.Wide()));
        EXPECT_LE(Cp932(stored->format.Wide()).size(), kFormatBytes);
    }
}

}  // namespace
