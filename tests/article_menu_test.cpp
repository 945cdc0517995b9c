// The article menu's model: the tree a tray popup shows, built from real
// feeds fetched by real crawlers, its labels and time prefixes, the way back
// from a command, and the rules that keep it safe while workers replace
// documents. Runs natively (ASan, TSan) and under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <deque>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "core/encoding.h"
#include "feed/feed_document.h"
#include "fetch/feed_crawler.h"
#include "menu/article_menu.h"
#include "platform/platform.h"
#include "test_util.h"
#include "text/time_utils.h"

using namespace feedlet;

namespace {

// 2026-12-07 12:00:00 UTC, a Monday.
constexpr PluginTime kNow = 1796644800;

std::string Utf8Of(const char16_t* text) {
    return text ? Utf16ToUtf8(text, Utf16Length(text), LoneSurrogates::kKeep) : std::string();
}

// One line per entry of a submenu: its kind and its label.
std::vector<std::string> Entries(const MenuNode& feed) {
    std::vector<std::string> lines;
    for (const MenuNode* node : feed.children.As<MenuNode>()) {
        switch (node->kind) {
            case MenuNodeKind::kItem: lines.push_back("item " + Utf8Of(node->label.Wide())); break;
            case MenuNodeKind::kDisabled: lines.push_back("grayed " + Utf8Of(node->label.Wide())); break;
            case MenuNodeKind::kSeparator: lines.push_back("----"); break;
            default: lines.push_back("?"); break;
        }
    }
    return lines;
}

std::string RssDate(PluginTime when) {
    CalendarFields f = FieldsFromEpochSeconds(when);
    static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", days[f.weekday], f.day,
                  months[f.month - 1], f.year, f.hour, f.minute, f.second);
    return text;
}

struct Item {
    std::string title;
    std::string link;
    std::string date;
};

std::string Rss(const std::string& channel, const std::vector<Item>& items, bool with_items = true) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?><rss version=\"2.0\"><channel>" + channel;
    if (with_items) {
        for (const Item& item : items) {
            xml += "<item>";
            if (!item.title.empty()) xml += "<title>" + item.title + "</title>";
            if (!item.link.empty()) xml += "<link>" + item.link + "</link>";
            if (!item.date.empty()) xml += "<pubDate>" + item.date + "</pubDate>";
            xml += "</item>";
        }
    }
    return xml + "</channel></rss>";
}

class ArticleMenuModelTest : public ::testing::Test {
protected:
    ~ArticleMenuModelTest() override { feeds.Clear(); }

    // A registered feed whose crawler has fetched xml from a real file (or
    // failed to, for an empty xml).
    FeedEntry* AddFeed(const std::string& name, const std::string& xml) {
        auto* entry = new FeedEntry;
        std::snprintf(entry->name, sizeof entry->name, "%s", name.c_str());
        entry->crawler = new FeedCrawler;
        std::string path = dir.path() + "feed" + std::to_string(feeds.Count()) + ".xml";
        if (!xml.empty()) WriteFile(path, xml);
        Configure(entry->crawler, path.c_str(), 300, 0);
        feeds.Append(entry);
        Fetch(entry);
        return entry;
    }
    void Fetch(FeedEntry* entry) {
        Start(entry->crawler);
        CrawlerWorkers().WaitIdle(UINT32_MAX);
    }
    const MenuNode& FeedNode(size_t index) { return *model.root().children.At<MenuNode>(static_cast<int32_t>(index)); }

    TempDir dir;
    ItemList feeds{ReleaseConfigItem, kReleaseFeedEntry};
    ArticleMenuModel model;
};

TEST_F(ArticleMenuModelTest, EntriesFollowTheDocument) {
    std::string fifty(50, 'x');
    std::string fiftyone(51, 'y');
    AddFeed("ニュース", Rss("<title>町だより</title><link>http://example.com/</link>",
                           {{"朝市", "http://example.com/1", RssDate(kNow - 3600)},
                            {"", "http://example.com/2", RssDate(kNow - 7200)},
                            {"リンクなし", "", RssDate(kNow - 2 * 86400)},
                            {"日付なし", "http://example.com/4", ""},
                            {fifty, "http://example.com/5", RssDate(kNow - 400 * 86400)},
                            {fiftyone, "http://example.com/6", ""}}));
    model.Build(feeds, nullptr, kNow);
    ASSERT_EQ(model.root().children.Count(), 1u);
    const MenuNode& feed = FeedNode(0);
    EXPECT_EQ(feed.kind, MenuNodeKind::kSubmenu);
    EXPECT_STREQ(feed.label.Narrow(), "ニュース");
    EXPECT_EQ(Entries(feed), (std::vector<std::string>{
                                 "item 町だより",
                                 "----",
                                 "item 11:00 朝市",
                                 "item Item002",
                                 "grayed 12/05 リンクなし",
                                 "item ----- 日付なし",
                                 "item 2025. " + fifty,
                                 "item ----- " + std::string(47, 'y') + "...",
                             }));
    // Every entry keeps its own copy of what it opens.
    const MenuNode* first = feed.children.At<MenuNode>(2);
    EXPECT_EQ(Utf8Of(first->link.Wide()), "http://example.com/1");
    EXPECT_EQ(model.Find(first->command), first);
}

TEST_F(ArticleMenuModelTest, HomePageEntryAndTheSeparator) {
    // No channel title: the home page's own label; no link: grayed. No
    // article list at all: no separator either.
    AddFeed("a", Rss("<description>d</description>", {}, false));
    // An empty article list still gets its separator.
    FeedEntry* empty = AddFeed("b", Rss("<title>T</title><link>http://b/</link>", {}, false));
    {
        Lock(empty->crawler);
        empty->crawler->document->articles = new ItemList(ReleaseArticle, 0);
        Unlock(empty->crawler);
    }
    // A feed whose first fetch has not succeeded shows nothing.
    AddFeed("c", "");
    model.Build(feeds, nullptr, kNow);
    EXPECT_EQ(Entries(FeedNode(0)), (std::vector<std::string>{"grayed ホームページ(&H)"}));
    EXPECT_EQ(Entries(FeedNode(1)), (std::vector<std::string>{"item T", "----"}));
    EXPECT_TRUE(Entries(FeedNode(2)).empty());
    EXPECT_EQ(Utf8Of(model.root().label.Wide()), "_root");
}

TEST(ArticleMenuLabelTest, TimePrefixByAgeAndZone) {
    TimeZoneEntry tokyo;
    tokyo.offset = 540;
    struct Row {
        int64_t age;  // seconds before now (negative: after)
        int32_t own_zone;
        const TimeZoneEntry* menu_zone;
        const char* expected;
    } rows[] = {
        {0, 0, nullptr, "12:00 "},
        {86400, 0, nullptr, "12:00 "},           // exactly one day: still the hour
        {-86400, 0, nullptr, "12:00 "},
        {86401, 0, nullptr, "12/06 "},           // a second more: the day
        {-86401, 0, nullptr, "12/08 "},
        {31536000, 0, nullptr, "12/07 "},        // 365 days: still the day
        {31536001, 0, nullptr, "2025. "},        // a second more: the year
        {-31536001, 0, nullptr, "2027. "},
        {3600, -300, nullptr, "06:00 "},         // the date's own zone, UTC-5
        {3600, -300, &tokyo, "20:00 "},          // the menu's zone wins
        {13 * 3600, 0, &tokyo, "08:00 "},        // crossing midnight keeps the hour form
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.expected);
        FeedTime time{static_cast<PluginTime>(kNow - row.age), row.own_zone};
        char16_t prefix[8];
        EXPECT_EQ(MenuTimePrefix(&time, row.menu_zone, kNow, prefix), 6u);
        EXPECT_EQ(Utf8Of(prefix), row.expected);
    }
    char16_t prefix[8];
    EXPECT_EQ(MenuTimePrefix(nullptr, nullptr, kNow, prefix), 6u);
    EXPECT_EQ(Utf8Of(prefix), "----- ");
    FeedTime unparsed{-1, 0};
    MenuTimePrefix(&unparsed, &tokyo, kNow, prefix);
    EXPECT_EQ(Utf8Of(prefix), "----- ");
}

TEST(ArticleMenuLabelTest, TitlesAreCutAfter47Units) {
    char16_t out[kMenuTitleLimit + 1];
    std::u16string fifty(50, u'あ');
    EXPECT_EQ(MenuTitle(fifty.c_str(), out), 50u);
    EXPECT_EQ(std::u16string(out), fifty);
    std::u16string fiftyone(51, u'い');
    EXPECT_EQ(MenuTitle(fiftyone.c_str(), out), 50u);
    EXPECT_EQ(std::u16string(out), std::u16string(47, u'い') + u"...");
    // The 47th unit would be the first half of 😀: the pair stays whole.
    std::u16string emoji = std::u16string(46, u'a') + u"😀" + std::u16string(10, u'b');
    EXPECT_EQ(MenuTitle(emoji.c_str(), out), 49u);
    EXPECT_EQ(std::u16string(out), std::u16string(46, u'a') + u"...");
    EXPECT_EQ(MenuTitle(u"", out), 0u);
}

TEST(ArticleMenuLabelTest, OnlyWebLinksAreOpened) {
    struct Row {
        const char16_t* link;
        bool openable;
    } rows[] = {
        {u"http://example.com/", true},
        {u"https://example.com/a?b", true},
        {u"HTTP://EXAMPLE.COM/", true},
        {u"hTtPs://x", true},
        {u"http:/x", false},
        {u"https:", false},
        {u" http://x", false},
        {u"javascript:alert(1)", false},
        {u"file:///C:/Windows/notepad.exe", false},
        {u"mailto:a@b", false},
        {u"\\\\server\\share\\run.exe", false},
        {u"C:\\Windows\\System32\\calc.exe", false},
        {u"calc.exe", false},
        {u"ｈｔｔｐ://x", false},  // full-width letters are not ASCII
        {u"", false},
        {nullptr, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.link ? Utf8Of(row.link) : "(null)");
        EXPECT_EQ(IsOpenableLink(row.link), row.openable);
    }
}

// What reaches the shell, which puts it on the browser's command line: only
// characters that stand in a URL as they are, escapes kept, and nothing at
// all for a link that could split a line.
TEST(ArticleMenuLabelTest, LinksAreEncodedForTheShell) {
    struct Row {
        std::u16string link;
        const char16_t* shell;  // null: refused
    } rows[] = {
        {u"http://example.com/a?b=1&c=2#top", u"http://example.com/a?b=1&c=2#top"},
        {u"https://[::1]:8080/~user/p;x=1,2+3*'()!$@", u"https://[::1]:8080/~user/p;x=1,2+3*'()!$@"},
        {u"http://x/a b", u"http://x/a%20b"},
        {u"http://x/\" --flag", u"http://x/%22%20--flag"},
        {u"http://x/\"&calc", u"http://x/%22&calc"},
        {u"http://x/<script>`^{|}\\", u"http://x/%3Cscript%3E%60%5E%7B%7C%7D%5C"},
        {u"http://x/%41%7e%", u"http://x/%41%7e%25"},
        {u"http://x/%4", u"http://x/%254"},
        {u"http://x/%zz%4g", u"http://x/%25zz%254g"},
        {u"http://x/\t\x01\x1f\x7f", u"http://x/%09%01%1F%7F"},
        {u"http://x/caf\u00e9", u"http://x/caf%C3%A9"},
        {u"http://例え.jp/記事?q=日本", u"http://%E4%BE%8B%E3%81%88.jp/%E8%A8%98%E4%BA%8B?q=%E6%97%A5%E6%9C%AC"},
        {u"http://x/😀", u"http://x/%F0%9F%98%80"},
        {u"http://x/\u0085\u3000", u"http://x/%C2%85%E3%80%80"},
        {std::u16string(u"http://x/") + char16_t(0xD800) + u"a", u"http://x/%EF%BF%BDa"},
        {std::u16string(u"http://x/") + char16_t(0xDC00), u"http://x/%EF%BF%BD"},
        {u"HTTPS://X/", u"HTTPS://X/"},
        {u"http://x/a\rb", nullptr},
        {u"http://x/a\nSet-Cookie: x", nullptr},
        {u"http://x/\r\n", nullptr},
        {std::u16string(u"http://x/a\0b", 12), nullptr},
        {u"javascript:alert(1)", nullptr},
        {u"file:///C:/Windows/notepad.exe", nullptr},
        {u" http://x/", nullptr},
        {u"", nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(Utf8Of(row.link.c_str()));
        std::u16string out = u"junk";
        bool ok = EncodeLinkForShell(row.link.c_str(), row.link.size(), out);
        if (row.shell) {
            EXPECT_TRUE(ok);
            EXPECT_EQ(Utf8Of(out.c_str()), Utf8Of(row.shell));
            // Encoding what the shell gets changes nothing more.
            std::u16string again;
            EXPECT_TRUE(EncodeLinkForShell(out.c_str(), out.size(), again));
            EXPECT_EQ(again, out);
        } else {
            EXPECT_FALSE(ok);
            EXPECT_TRUE(out.empty());
        }
    }
    std::u16string out;
    EXPECT_FALSE(EncodeLinkForShell(nullptr, 0, out));
}

TEST_F(ArticleMenuModelTest, RebuildingOneFeedLeavesTheOthers) {
    FeedEntry* one = AddFeed("one", Rss("<title>1</title>", {{"a", "http://1/a", ""}}));
    AddFeed("two", Rss("<title>2</title>", {{"b", "http://2/b", ""}}));
    model.Build(feeds, nullptr, kNow);
    const MenuNode& two = FeedNode(1);
    std::vector<uint32_t> two_commands;
    for (const MenuNode* node : two.children.As<MenuNode>()) two_commands.push_back(node->command);
    uint32_t old_article = FeedNode(0).children.At<MenuNode>(2)->command;

    WriteFile(dir.path() + "feed0.xml", Rss("<title>1</title>", {{"c", "http://1/c", ""}, {"d", "", ""}}));
    Fetch(one);
    MenuNode* rebuilt = nullptr;
    EXPECT_EQ(model.RebuildFeed(one->crawler, nullptr, kNow, &rebuilt), ArticleMenuModel::Refresh::kRebuilt);
    EXPECT_EQ(rebuilt, &FeedNode(0));
    EXPECT_EQ(Entries(FeedNode(0)), (std::vector<std::string>{"grayed 1", "----", "item ----- c", "grayed ----- d"}));
    EXPECT_EQ(model.Find(old_article), nullptr) << "a rebuilt entry's command must lead nowhere";
    std::vector<uint32_t> after;
    for (const MenuNode* node : FeedNode(1).children.As<MenuNode>()) after.push_back(node->command);
    EXPECT_EQ(after, two_commands);
    EXPECT_STREQ(FeedNode(0).label.Narrow(), "one");

    EXPECT_EQ(model.RebuildFeed(nullptr, nullptr, kNow), ArticleMenuModel::Refresh::kNotListed);
    FeedCrawler stranger;
    EXPECT_EQ(model.RebuildFeed(&stranger, nullptr, kNow), ArticleMenuModel::Refresh::kNotListed);
}

TEST_F(ArticleMenuModelTest, ABusyFeedIsNeverWaitedFor) {
    FeedEntry* feed = AddFeed("f", Rss("<title>T</title>", {{"old", "http://x/old", ""}}));
    model.Build(feeds, nullptr, kNow);
    WriteFile(dir.path() + "feed0.xml", Rss("<title>T</title>", {{"new", "http://x/new", ""}}));
    Fetch(feed);
    {
        FetchInProgress fetch(feed->crawler);
        // The lock is held elsewhere: the rebuild returns at once and the
        // submenu keeps what it showed.
        EXPECT_EQ(model.RebuildFeed(feed->crawler, nullptr, kNow), ArticleMenuModel::Refresh::kBusy);
        EXPECT_TRUE(FeedNode(0).stale);
        EXPECT_EQ(Entries(FeedNode(0))[2], "item ----- old");
        EXPECT_FALSE(model.RebuildStale(nullptr, kNow));
        model.Build(feeds, nullptr, kNow);
        EXPECT_TRUE(FeedNode(0).stale);
        EXPECT_TRUE(Entries(FeedNode(0)).empty());
    }
    EXPECT_TRUE(model.RebuildStale(nullptr, kNow));
    EXPECT_FALSE(FeedNode(0).stale);
    EXPECT_EQ(Entries(FeedNode(0))[2], "item ----- new");
    model.MarkStale(feed->crawler);
    EXPECT_TRUE(FeedNode(0).stale);
}

TEST_F(ArticleMenuModelTest, CommandsAreUniqueAndNeverZero) {
    std::vector<Item> items;
    for (int i = 0; i < 200; ++i) items.push_back({"t" + std::to_string(i), "http://x/" + std::to_string(i), ""});
    AddFeed("a", Rss("<title>A</title>", items));
    AddFeed("b", Rss("<title>B</title>", items));
    std::vector<uint32_t> seen;
    for (int round = 0; round < 3; ++round) {
        model.Build(feeds, nullptr, kNow);
        EXPECT_EQ(model.NodeCount(), 1u + 2u * (1u + 2u + 200u));
        for (const MenuNode* feed : model.root().children.As<MenuNode>()) {
            seen.push_back(feed->command);
            for (const MenuNode* node : feed->children.As<MenuNode>()) {
                EXPECT_EQ(model.Find(node->command), node);
                seen.push_back(node->command);
            }
        }
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end()) << "a command was given out twice";
    EXPECT_EQ(seen.front() == 0, false);
    EXPECT_EQ(model.Find(0), nullptr);
}

// Every command of a live node, checked: within 1..0xFFFF, found again,
// given to no other live node.
void ExpectCommandsLive(const ArticleMenuModel& model, const MenuNode& node, std::vector<bool>& used) {
    ASSERT_GE(node.command, 1u);
    ASSERT_LE(node.command, 0xFFFFu);
    ASSERT_FALSE(used[node.command]) << "command " << node.command << " given to two live nodes";
    used[node.command] = true;
    ASSERT_EQ(model.Find(node.command), &node);
    for (const MenuNode* child : node.children.As<MenuNode>()) ExpectCommandsLive(model, *child, used);
}

void ExpectCommandsLive(const ArticleMenuModel& model) {
    std::vector<bool> used(0x10000, false);
    ExpectCommandsLive(model, model.root(), used);
    EXPECT_EQ(std::count(used.begin(), used.end(), true), static_cast<long>(model.NodeCount()));
}

// Menu item identifiers are 16-bit: a 20-article feed refetched every five
// minutes for a month of rebuilds goes round the commands several times,
// reusing those of entries that are gone and never one that is shown.
TEST_F(ArticleMenuModelTest, CommandsStayWithin16BitsOverTenThousandRebuilds) {
    std::vector<Item> items;
    for (int i = 0; i < 20; ++i) items.push_back({"t" + std::to_string(i), "http://x/" + std::to_string(i), ""});
    FeedEntry* feed = AddFeed("f", Rss("<title>T</title><link>http://x/</link>", items));
    AddFeed("g", Rss("<title>G</title>", {{"g", "http://g/", ""}}));
    model.Build(feeds, nullptr, kNow);
    const MenuNode& other = FeedNode(1);
    uint32_t other_command = other.children.At<MenuNode>(2)->command;
    uint32_t highest = 0;
    int wraps = 0;
    for (int round = 0; round < 10000; ++round) {
        uint32_t gone = FeedNode(0).children.At<MenuNode>(5)->command;
        ASSERT_EQ(model.RebuildFeed(feed->crawler, nullptr, kNow), ArticleMenuModel::Refresh::kRebuilt);
        const MenuNode& rebuilt = FeedNode(0);
        ASSERT_EQ(rebuilt.children.Count(), 22u);
        const MenuNode* article = rebuilt.children.At<MenuNode>(5);
        if (article->command < highest) ++wraps;
        highest = article->command;
        // A command whose entry is gone leads nowhere until it comes round.
        ASSERT_EQ(model.Find(gone), nullptr);
        if (round % 97 == 0) ExpectCommandsLive(model);
        EXPECT_EQ(Utf8Of(model.Find(article->command)->link.Wide()), "http://x/3");
    }
    ExpectCommandsLive(model);
    EXPECT_GE(wraps, 3) << "10,000 rebuilds of 22 entries go round 0xFFFF commands three times";
    EXPECT_EQ(other.children.At<MenuNode>(2)->command, other_command) << "another feed's entry kept its command";
    EXPECT_EQ(model.Find(other_command), other.children.At<MenuNode>(2));
}

// No real feed comes near 0xFFFF entries, but a hostile one may: the nodes
// beyond the last free command are left out, the build ends, and the
// commands come back once those nodes are gone.
TEST_F(ArticleMenuModelTest, MoreNodesThanCommandsLeavesTheRestOut) {
    std::string xml = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>big</title>";
    for (int i = 0; i < 70000; ++i) xml += "<item><title>t" + std::to_string(i) + "</title><link>http://x/</link></item>";
    xml += "</channel></rss>";
    AddFeed("big", xml);
    AddFeed("small", Rss("<title>S</title>", {{"s", "http://s/", ""}}));
    ASSERT_EQ(feeds.At<FeedEntry>(0)->crawler->document->articles->Count(), 70000u);

    model.Build(feeds, nullptr, kNow);
    EXPECT_EQ(model.NodeCount(), 0xFFFFu);
    ASSERT_EQ(model.root().children.Count(), 1u) << "no command was left for the second feed";
    // Root, the feed, its home page and separator, and the first articles.
    EXPECT_EQ(FeedNode(0).children.Count(), 0xFFFFu - 2);
    EXPECT_EQ(Entries(FeedNode(0)).back(), "item ----- t" + std::to_string(0xFFFF - 5));
    ExpectCommandsLive(model);
    EXPECT_EQ(model.RebuildFeed(feeds.At<FeedEntry>(0)->crawler, nullptr, kNow), ArticleMenuModel::Refresh::kRebuilt);
    EXPECT_EQ(model.NodeCount(), 0xFFFFu);
    ExpectCommandsLive(model);

    // Without the big feed every command is free again.
    feeds.RemoveAt(0, 1);
    model.Build(feeds, nullptr, kNow);
    EXPECT_EQ(model.NodeCount(), 1u + 1u + 3u);
    EXPECT_EQ(Entries(FeedNode(0)), (std::vector<std::string>{"grayed S", "----", "item ----- s"}));
    ExpectCommandsLive(model);
}

TEST_F(ArticleMenuModelTest, AfterCommittedEditsNoSubmenuShowsADestroyedCrawler) {
    Configuration config;
    platform::Mutex plugin_lock;
    plugin_lock.Create();
    for (const char* name : {"keep", "drop", "also"}) {
        FeedEntry* entry = AddFeed(name, Rss("<title>T</title>", {{"x", "http://x/", ""}}));
        feeds.RemoveAt(static_cast<int32_t>(feeds.Count()) - 1, 0);
        config.feeds.Append(entry);
    }
    model.Build(config.feeds, nullptr, kNow);
    ASSERT_EQ(model.root().children.Count(), 3u);
    config.feeds.At<FeedEntry>(1)->edit_mark = kEditDeleted;
    EXPECT_EQ(CommitFeedEdits(config, plugin_lock, 1), 1);
    model.Build(config.feeds, nullptr, kNow);
    ASSERT_EQ(model.root().children.Count(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(FeedNode(i).crawler, config.feeds.At<FeedEntry>(i)->crawler);
        EXPECT_EQ(Entries(FeedNode(i)).size(), 3u);
    }
    EXPECT_STREQ(FeedNode(1).label.Narrow(), "also");
}

// Workers replace documents over and over while this thread, as the menu's
// owner does, rebuilds submenus from the updates they post, rebuilds the
// whole tree now and then, and resolves commands and reads their links. The
// workers only queue an update; nothing here waits for a fetch.
TEST_F(ArticleMenuModelTest, ThreadsStressUpdatesRebuildsAndChoices) {
    static std::mutex queue_lock;
    static std::deque<FeedCrawler*> queue;
    static std::atomic<int> updates{0};
    {
        std::lock_guard<std::mutex> hold(queue_lock);
        queue.clear();
    }
    updates = 0;
    const int kFeeds = 6;
    std::vector<Item> items;
    for (int i = 0; i < 30; ++i) items.push_back({"t" + std::to_string(i), "http://x/" + std::to_string(i), ""});
    for (int i = 0; i < kFeeds; ++i) {
        FeedEntry* entry = AddFeed("f" + std::to_string(i), Rss("<title>T</title><link>http://x/</link>", items));
        entry->crawler->notify = [](FeedCrawler* crawler) {
            std::lock_guard<std::mutex> hold(queue_lock);
            queue.push_back(crawler);
            ++updates;
        };
    }
    model.Build(feeds, nullptr, kNow);
    std::mt19937 random(7);
    size_t links_read = 0;
    int rebuilt = 0;
    int busy = 0;
    for (int round = 0; round < 400; ++round) {
        for (FeedEntry* entry : feeds.As<FeedEntry>()) Start(entry->crawler);
        std::deque<FeedCrawler*> pending;
        {
            std::lock_guard<std::mutex> hold(queue_lock);
            pending.swap(queue);
        }
        for (FeedCrawler* crawler : pending) {
            auto result = model.RebuildFeed(crawler, nullptr, kNow);
            if (result == ArticleMenuModel::Refresh::kRebuilt) ++rebuilt;
            if (result == ArticleMenuModel::Refresh::kBusy) ++busy;
        }
        model.RebuildStale(nullptr, kNow);
        if (round % 50 == 49) model.Build(feeds, nullptr, kNow);
        // Choose entries as a user would: any command that was shown.
        for (int pick = 0; pick < 20; ++pick) {
            auto feed_index = static_cast<int32_t>(random() % kFeeds);
            const MenuNode* feed = model.root().children.At<MenuNode>(feed_index);
            if (!feed || feed->children.Empty()) continue;
            auto index = static_cast<int32_t>(random() % feed->children.Count());
            const MenuNode* node = model.Find(feed->children.At<MenuNode>(index)->command);
            ASSERT_NE(node, nullptr);
            if (const char16_t* link = node->link.Wide()) links_read += Utf16Length(link);
        }
    }
    CrawlerWorkers().WaitIdle(UINT32_MAX);
    {
        std::lock_guard<std::mutex> hold(queue_lock);
        queue.clear();
    }
    EXPECT_TRUE(model.RebuildStale(nullptr, kNow));
    EXPECT_GT(updates.load(), kFeeds) << "the workers' fetches never replaced a document";
    EXPECT_GT(rebuilt, 0);
    EXPECT_GT(links_read, 0u);
    for (FeedEntry* entry : feeds.As<FeedEntry>()) entry->crawler->notify = nullptr;
    RecordProperty("busy", busy);
}

}  // namespace
