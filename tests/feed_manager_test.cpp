// The feed manager's decisions without a window: reading the fields, the
// checks of Add and Update, change detection and pending copies, the rows'
// way back to their entries after deletions, the row cells, the trial fetch
// and its texts, and what the commit does with the feeds the dialog added.
// The dialog itself is driven under Wine by feed_manager_dialog_test.cpp.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "config/configuration.h"
#include "core/codepage.h"
#include "fetch/feed_crawler.h"
#include "http_test_server.h"
#include "platform/ini.h"
#include "platform/platform.h"
#include "settings/feed_check_run.h"
#include "settings/feed_edits.h"
#include "test_util.h"

using namespace feedlet;

namespace {

std::string Repeat(const std::string& piece, size_t times) {
    std::string out;
    for (size_t i = 0; i < times; ++i) out += piece;
    return out;
}

std::atomic<int> g_notified{0};
void CountNotify(FeedCrawler*) { g_notified.fetch_add(1); }
void InitNotify(FeedCrawler*) {}

const char kGoodFeed[] =
    "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Good</title>"
    "<item><title>one</title></item></channel></rss>";

TEST(FeedFieldsTest, TextsAreCutOnCharacterBoundaries) {
    const std::string a = Cp932(u"あ");  // two bytes
    struct Row {
        const char* what;
        std::string name;
        std::string url;
        size_t name_bytes;
        size_t url_bytes;
    } rows[] = {
        {"short", "News", "http://x/", 4, 9},
        {"ASCII beyond the limits", std::string(300, 'n'), std::string(5000, 'u'), 254, 4095},
        {"double-byte, even", Repeat(a, 200), "u", 254, 1},
        {"double-byte, odd", "x" + Repeat(a, 200), "x" + Repeat(a, 3000), 253, 4095},
        {"URL, double-byte at the edge", "n", Repeat(a, 3000), 1, 4094},
        {"exactly the limits", Repeat(a, 127), std::string(4095, 'u'), 254, 4095},
        {"empty", "", "", 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        FeedFields fields = ReadFeedFields(row.name.c_str(), row.url.c_str(), 1800, false);
        EXPECT_EQ(fields.name.size(), row.name_bytes);
        EXPECT_EQ(fields.url.size(), row.url_bytes);
        EXPECT_EQ(row.name.compare(0, fields.name.size(), fields.name), 0) << "a prefix of the field";
        EXPECT_EQ(row.url.compare(0, fields.url.size(), fields.url), 0);
        // What is kept converts back without a broken character.
        char16_t* back = CodePageToUtf16(platform::kCodePageShiftJis, fields.name.c_str());
        EXPECT_EQ(Cp932(back), fields.name);
        free(back);
    }
    FeedFields none = ReadFeedFields(nullptr, nullptr, 0, true);
    EXPECT_TRUE(none.name.empty());
    EXPECT_TRUE(none.url.empty());
    EXPECT_TRUE(none.sort);
    for (auto row : {std::make_pair(0u, 300u), {299u, 300u}, {300u, 300u}, {86400u, 86400u},
                     {4294967291u, 4294967291u}}) {
        EXPECT_EQ(ReadFeedFields("n", "u", row.first, false).interval, row.second) << row.first;
    }
}

// Three registered feeds as Init reads them, with a display setting on the
// second and third.
class FeedManagerEditTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(host.ok());
        good = host.path() + "good.xml";
        WriteFile(good, kGoodFeed);
        std::string missing = host.path() + "missing.xml";
        WriteFile(FeedListPath(), "[RSS000]\r\nURL=" + missing + "\r\nRSSName=a\r\nInterval=600\r\nFlag=0x1\r\n"
                                  "[RSS001]\r\nURL=" + missing + "\r\nRSSName=B\r\nFlag=0x5\r\n"
                                  "[RSS002]\r\nURL=" + missing + "\r\nRSSName=C\r\nInterval=7777\r\n");
        WriteFile(SettingsPath(), "[Main]\r\nInfoNum=0\r\nItemNum=2\r\n[Item000]\r\nTarget=B\r\n"
                                  "[Item001]\r\nTarget=C\r\n");
        LoadConfiguration(config);
        ASSERT_EQ(config.feeds.Count(), 3u);
        for (FeedEntry* entry : config.feeds.As<FeedEntry>()) entry->crawler->notify = InitNotify;
        ASSERT_TRUE(plugin_lock.Create());
        g_notified = 0;
    }
    void TearDown() override { CrawlerWorkers().WaitIdle(UINT32_MAX); }
    FeedEntry* Entry(int i) { return config.feeds.At<FeedEntry>(i); }
    static FeedFields Fields(const char* name, const std::string& url, uint32_t interval = 1800, bool sort = false) {
        return ReadFeedFields(name, url.c_str(), interval, sort);
    }

    HostFolder host;
    std::string good;
    Configuration config;
    platform::Mutex plugin_lock;
};

TEST_F(FeedManagerEditTest, ChecksComeInOrderWithTheirMessages) {
    struct Row {
        const char* name;
        const char* url;
        FeedFieldProblem expected;
    } rows[] = {
        {"", "", FeedFieldProblem::kNoName},
        {"", "http://x/", FeedFieldProblem::kNoName},
        {"B", "", FeedFieldProblem::kNoUrl},  // an empty URL is heard of before the name in use
        {"B", "http://x/", FeedFieldProblem::kNameInUse},
        {"new", "http://x/", FeedFieldProblem::kNone},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(CheckFeedFields(config.feeds, Fields(row.name, row.url), nullptr), row.expected);
    }
    DialogMessage no_name = FeedFieldMessage(FeedFieldProblem::kNoName);
    EXPECT_EQ(no_name.text, u"RSS名を入力して下さい。");
    EXPECT_EQ(std::u16string(no_name.caption), u"RSS名未入力");
    DialogMessage no_url = FeedFieldMessage(FeedFieldProblem::kNoUrl);
    EXPECT_EQ(no_url.text, u"URLを入力して下さい。");
    EXPECT_EQ(std::u16string(no_url.caption), u"URL未入力");
    DialogMessage in_use = FeedFieldMessage(FeedFieldProblem::kNameInUse);
    EXPECT_EQ(in_use.text, u"入力されたRSS名は、既に使用されています。");
    EXPECT_EQ(std::u16string(in_use.caption), u"RSS名入力エラー");
}

TEST_F(FeedManagerEditTest, NamesAreUniqueAmongTheFeedsStillShown) {
    // Letter case counts.
    EXPECT_EQ(CheckFeedFields(config.feeds, Fields("A", good), nullptr), FeedFieldProblem::kNone);
    EXPECT_EQ(CheckFeedFields(config.feeds, Fields("b", good), nullptr), FeedFieldProblem::kNone);
    // A feed deleted in this session gives its name free.
    MarkFeedDeleted(*Entry(0));
    EXPECT_EQ(CheckFeedFields(config.feeds, Fields("a", good), nullptr), FeedFieldProblem::kNone);
    // A renamed feed holds its new name and frees its old one.
    ASSERT_TRUE(UpdateFeed(*Entry(1), Fields("Bee", FieldsOf(*Entry(1)).url)));
    EXPECT_EQ(CheckFeedFields(config.feeds, Fields("Bee", good), nullptr), FeedFieldProblem::kNameInUse);
    EXPECT_EQ(CheckFeedFields(config.feeds, Fields("B", good), nullptr), FeedFieldProblem::kNone);
    // Update may keep the entry's own name, never take another's.
    EXPECT_EQ(CheckFeedFields(config.feeds, Fields("Bee", good), Entry(1)), FeedFieldProblem::kNone);
    EXPECT_EQ(CheckFeedFields(config.feeds, Fields("C", good), Entry(1)), FeedFieldProblem::kNameInUse);
    // A feed added in this session is taken like any other.
    ASSERT_GE(AddFeed(config.feeds, plugin_lock, Fields("D", good)), 0);
    EXPECT_EQ(CheckFeedFields(config.feeds, Fields("D", good), nullptr), FeedFieldProblem::kNameInUse);
}

TEST_F(FeedManagerEditTest, UpdateMarksOnlyRealChanges) {
    FeedEntry* c = Entry(2);
    const FeedFields current = FieldsOf(*c);
    EXPECT_STREQ(current.name.c_str(), "C");
    EXPECT_EQ(current.interval, 7777u);
    EXPECT_FALSE(current.sort);

    struct Row {
        const char* what;
        FeedFields fields;
        bool changed;
    } rows[] = {
        {"unchanged", current, false},
        {"name", Fields("C2", current.url, 7777), true},
        {"name in another case", Fields("c", current.url, 7777), true},
        {"URL", Fields("C", current.url + "x", 7777), true},
        {"interval", Fields("C", current.url, 1800), true},
        {"sort", Fields("C", current.url, 7777, true), true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(UpdateFeed(*c, row.fields), row.changed);
        EXPECT_EQ(c->edit_mark, row.changed ? kEditModified : kEditNone);
        if (row.changed) {
            ASSERT_NE(c->pending, nullptr);
            EXPECT_EQ(FieldsOf(*c).name, row.fields.name);
            EXPECT_EQ(c->pending->crawler->url.Narrow(), row.fields.url);
            EXPECT_EQ(c->pending->crawler->interval, row.fields.interval);
            EXPECT_EQ(c->pending->crawler->flags, row.fields.sort ? 1 : 0);
            EXPECT_EQ(c->pending->crawler->workers.load(), 0u) << "a pending crawler is never started";
        } else {
            EXPECT_EQ(c->pending, nullptr);
        }
        // The live feed is untouched until the commit.
        EXPECT_STREQ(c->name, "C");
        EXPECT_EQ(c->crawler->interval, 7777u);
        // Back to no edit for the next row.
        CommitFeedEdits(config, plugin_lock, 0);
    }

    // Once marked, the pending copy is what is compared: its own values again
    // change nothing, the entry's original values are a change.
    ASSERT_TRUE(UpdateFeed(*c, Fields("C2", current.url, 900)));
    FeedEntry* first = c->pending;
    EXPECT_FALSE(UpdateFeed(*c, Fields("C2", current.url, 900)));
    EXPECT_EQ(c->pending, first);
    EXPECT_TRUE(UpdateFeed(*c, current));
    EXPECT_NE(c->pending, nullptr);
    EXPECT_STREQ(c->pending->name, "C");

    // A flags byte with bits beyond the sort bit is not what the check box
    // says, so keeping the box as it is still rewrites the byte.
    FeedEntry* b = Entry(1);
    ASSERT_EQ(b->crawler->flags, 5);
    EXPECT_TRUE(FieldsOf(*b).sort);
    EXPECT_TRUE(UpdateFeed(*b, FieldsOf(*b)));
    EXPECT_EQ(b->pending->crawler->flags, 1);
}

TEST_F(FeedManagerEditTest, AnUpdateWithoutChangesCommitsNothing) {
    // (B's flags byte holds more than the sort bit: see above.)
    for (int i : {0, 2}) EXPECT_FALSE(UpdateFeed(*Entry(i), FieldsOf(*Entry(i)))) << i;
    EXPECT_EQ(CommitFeedEdits(config, plugin_lock, 1, CountNotify), 0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Entry(i)->crawler->workers.load(), 0u) << "nothing refetched";
}

TEST_F(FeedManagerEditTest, RowsFindTheirEntriesAfterDeletions) {
    // The dialog's rows and their stored indexes.
    std::vector<intptr_t> rows = {0, 1, 2};
    MarkFeedDeleted(*EntryOfRow(config.feeds, rows[0]));
    rows.erase(rows.begin());
    // Row 1 is now the feed C: giving it its own name again is no clash,
    // and nothing changed.
    FeedEntry* c = EntryOfRow(config.feeds, rows[1]);
    ASSERT_EQ(c, Entry(2));
    FeedFields same = FieldsOf(*c);
    EXPECT_EQ(CheckFeedFields(config.feeds, same, c), FeedFieldProblem::kNone);
    EXPECT_FALSE(UpdateFeed(*c, same));
    // B's name on C's row is B's, not C's.
    EXPECT_EQ(CheckFeedFields(config.feeds, Fields("B", same.url), c), FeedFieldProblem::kNameInUse);

    EXPECT_EQ(EntryOfRow(config.feeds, 0), nullptr) << "a deleted entry has no row";
    EXPECT_EQ(EntryOfRow(config.feeds, -1), nullptr);
    EXPECT_EQ(EntryOfRow(config.feeds, 3), nullptr);
    int32_t added = AddFeed(config.feeds, plugin_lock, Fields("D", good));
    EXPECT_EQ(added, 3);
    EXPECT_EQ(EntryOfRow(config.feeds, added), Entry(3));
}

TEST_F(FeedManagerEditTest, RowCellsShowWhatTheEntryShows) {
    FeedRowCells a = FeedRow(*Entry(0));
    EXPECT_EQ(a.name, "a");
    EXPECT_EQ(a.interval, Cp932(u"10分"));
    EXPECT_EQ(a.url, host.path() + "missing.xml");
    EXPECT_EQ(a.sort, Cp932(u"■"));
    EXPECT_EQ(FeedRow(*Entry(2)).sort, Cp932(u"□"));
    // A modified entry shows its pending values.
    ASSERT_TRUE(UpdateFeed(*Entry(2), Fields("C2", good, 86400, true)));
    FeedRowCells c = FeedRow(*Entry(2));
    EXPECT_EQ(c.name, "C2");
    EXPECT_EQ(c.interval, Cp932(u"24時間"));
    EXPECT_EQ(c.url, good);
    EXPECT_EQ(c.sort, Cp932(u"■"));

    struct {
        uint32_t seconds;
        const char16_t* text;
    } intervals[] = {
        {300, u"5分"},       {1800, u"30分"},         {3600, u"60分"},  {5400, u"1時間30分"},
        {86400, u"24時間"}, {90000, u"1日60分"},   {604800, u"7日"}, {1209600, u"2週間"},
        {7777, u"2時間9分"},
    };
    for (const auto& row : intervals) EXPECT_EQ(IntervalText(row.seconds), Cp932(row.text)) << row.seconds;
}

TEST_F(FeedManagerEditTest, AddAppendsAnIdleConfiguredEntry) {
    int32_t index = AddFeed(config.feeds, plugin_lock, Fields("D", good, 299, true));
    ASSERT_EQ(index, 3);
    FeedEntry* d = Entry(3);
    EXPECT_STREQ(d->name, "D");
    EXPECT_EQ(d->edit_mark, kEditAdded);
    EXPECT_EQ(d->pending, nullptr);
    ASSERT_NE(d->crawler, nullptr);
    EXPECT_EQ(d->crawler->url.Narrow(), good);
    EXPECT_EQ(d->crawler->interval, 300u);
    EXPECT_EQ(d->crawler->flags, 1);
    EXPECT_TRUE(d->crawler->mutex.IsCreated());
    EXPECT_EQ(d->crawler->notify, nullptr);
    EXPECT_EQ(d->crawler->workers.load(), 0u);
    EXPECT_EQ(d->crawler->document, nullptr);
}

// A feed added in the dialog is fetched at once when OK commits it, and its
// fetches reach the notify callback like every other feed's.
TEST_F(FeedManagerEditTest, CommittingFetchesAndNotifiesAddedFeeds) {
    ASSERT_EQ(AddFeed(config.feeds, plugin_lock, Fields("D", good)), 3);
    // Added, then changed in the same session: marked modified, still new.
    ASSERT_EQ(AddFeed(config.feeds, plugin_lock, Fields("E", host.path() + "missing.xml")), 4);
    // A file of its own: the two fetches run at once, and on Windows a feed
    // file is opened without sharing.
    std::string other = host.path() + "other.xml";
    WriteFile(other, kGoodFeed);
    ASSERT_TRUE(UpdateFeed(*Entry(4), Fields("E", other)));
    EXPECT_EQ(CommitFeedEdits(config, plugin_lock, 1, CountNotify), 1);
    for (int i : {3, 4}) {
        SCOPED_TRACE(i);
        FeedCrawler* crawler = Entry(i)->crawler;
        EXPECT_EQ(crawler->notify, CountNotify);
        ASSERT_TRUE(FetchesEnded(crawler));
        ASSERT_NE(crawler->document, nullptr) << "fetched at once";
        EXPECT_EQ(Entry(i)->edit_mark, kEditNone);
    }
    EXPECT_EQ(g_notified.load(), 2);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Entry(i)->crawler->notify, InitNotify) << "Init's callback stays";

    SaveFeeds(config);
    char name[64];
    platform::IniReadString(FeedListPath().c_str(), "RSS004", "RSSName", "", name, sizeof name);
    EXPECT_STREQ(name, "E");
}

// Cancel keeps added feeds registered (they are in the list from the
// moment they are added); they are not fetched, but they notify like every
// other feed, so whatever menu is built from the list later follows them.
TEST_F(FeedManagerEditTest, DiscardingKeepsAddedFeedsAsOrdinaryFeeds) {
    ASSERT_EQ(AddFeed(config.feeds, plugin_lock, Fields("D", good)), 3);
    ASSERT_EQ(AddFeed(config.feeds, plugin_lock, Fields("E", good)), 4);
    MarkFeedDeleted(*Entry(4));
    MarkFeedDeleted(*Entry(1));
    EXPECT_EQ(CommitFeedEdits(config, plugin_lock, 0, CountNotify), 1) << "an added feed needs saving";
    ASSERT_EQ(config.feeds.Count(), 5u);
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Entry(i)->edit_mark, kEditNone);
        EXPECT_EQ(Entry(i)->pending, nullptr);
        EXPECT_EQ(Entry(i)->crawler->workers.load(), 0u) << "nothing fetched";
    }
    EXPECT_EQ(Entry(3)->crawler->notify, CountNotify);
    EXPECT_EQ(Entry(4)->crawler->notify, CountNotify);
    EXPECT_EQ(Entry(1)->crawler->notify, InitNotify);
    EXPECT_EQ(config.item_settings.At<DisplaySetting>(0)->crawler, Entry(1)->crawler) << "B keeps its setting";

    // Its next fetch, from the schedule, notifies.
    Start(Entry(3)->crawler);
    ASSERT_TRUE(FetchesEnded(Entry(3)->crawler));
    EXPECT_EQ(g_notified.load(), 1);
}

// OK never waits on a slow server: a feed whose fetch trickles is changed
// and another deleted, and the commit returns while the trickles are still
// far from their end (the server sees the client leave), the changed feed
// fetched again from its new location at once.
TEST_F(FeedManagerEditTest, CommittingCancelsFetchesInsteadOfWaitingForThem) {
    using End = TestHttpServer::TrickleEnd;
    TestHttpServer server;
    ASSERT_TRUE(server.Start());
    server.Route("/slow-a", TestHttpServer::TrickleBody(400, 100));
    server.Route("/slow-c", TestHttpServer::TrickleBody(400, 100));
    Configure(Entry(0)->crawler, server.Url("/slow-a").c_str(), 600, 0);
    Configure(Entry(2)->crawler, server.Url("/slow-c").c_str(), 600, 0);
    Start(Entry(0)->crawler);
    Start(Entry(2)->crawler);
    for (const char* path : {"/slow-a", "/slow-c"})
        ASSERT_TRUE(WaitUntil([&] { return server.TrickleSent(path) >= 2; }, kWaitMs, "the trickles to begin"));
    ASSERT_TRUE(UpdateFeed(*Entry(0), Fields("a", good, 600, true)));
    MarkFeedDeleted(*Entry(2));
    EXPECT_EQ(CommitFeedEdits(config, plugin_lock, 1, CountNotify), 1);
    for (const char* path : {"/slow-a", "/slow-c"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(server.WaitForTrickleEnd(path, kWaitMs), End::kClientLeft);
        EXPECT_LT(server.TrickleSent(path), 400u) << "the commit waited for the trickle";
    }
    ASSERT_EQ(config.feeds.Count(), 2u);
    ASSERT_TRUE(FetchesEnded(Entry(0)->crawler));
    ASSERT_NE(Entry(0)->crawler->document, nullptr) << "the new location, fetched at once";
    server.Stop();
}

// A check on its own worker: the callback comes from that thread when the
// check has ended, the result is taken once; cancelled, the download ends at
// once, nobody is called and nothing waits for the worker.
TEST(FeedCheckRunTest, ThreadsChecksRunAsideAndCancelAtOnce) {
    using End = TestHttpServer::TrickleEnd;
    TestHttpServer server;
    ASSERT_TRUE(server.Start());
    server.Route("/feed", TestHttpServer::Body(200, kGoodFeed));
    server.Route("/slow", TestHttpServer::TrickleBody(400, 100));
    static std::atomic<int> ended{0};
    ended = 0;
    auto count = [](void*) { ended.fetch_add(1); };
    {
        FeedCheckRun run;
        EXPECT_FALSE(run.Running());
        ASSERT_TRUE(run.Start(server.Url("/feed").c_str(), count, nullptr));
        EXPECT_TRUE(run.Running());
        EXPECT_FALSE(run.Start(server.Url("/feed").c_str(), count, nullptr)) << "one check at a time";
        ASSERT_TRUE(WaitUntil([] { return ended.load() == 1; }, kWaitMs, "the check to end"));
        FeedCheck check = run.Take();
        EXPECT_TRUE(check.recognised);
        EXPECT_EQ(check.title, u"Good");
        EXPECT_FALSE(run.Running());
        EXPECT_FALSE(run.Take().recognised) << "taken once";
    }
    {
        FeedCheckRun run;
        ASSERT_TRUE(run.Start(server.Url("/slow").c_str(), count, nullptr));
        ASSERT_TRUE(WaitUntil([&] { return server.TrickleSent("/slow") >= 2; }, kWaitMs, "the trickle"));
        EXPECT_FALSE(run.Take().recognised) << "not ended yet";
        EXPECT_TRUE(run.Running());
        run.Cancel();
        EXPECT_FALSE(run.Running());
        EXPECT_EQ(server.WaitForTrickleEnd("/slow", kWaitMs), End::kClientLeft);
        EXPECT_LT(server.TrickleSent("/slow"), 400u);
    }
    {
        // Destroyed while running: the same.
        FeedCheckRun run;
        ASSERT_TRUE(run.Start(server.Url("/slow").c_str(), count, nullptr));
        ASSERT_TRUE(WaitUntil([&] { return server.RequestCount("/slow") == 2; }, kWaitMs, "the request"));
    }
    EXPECT_TRUE(CrawlerWorkers().WaitIdle(kWaitMs));
    EXPECT_EQ(ended.load(), 1) << "a cancelled check calls nobody";
    server.Stop();
}

TEST(FeedCheckTest, TrialFetchesAndTheirMessages) {
    TempDir dir;
    std::string rss2 = dir.path() + "rss2.xml";
    WriteFile(rss2, "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><rss version=\"2.0\"><channel><title>" +
                        Cp932(u"町だより") + "</title></channel></rss>");
    std::string atom = dir.path() + "atom.xml";
    WriteFile(atom, "<feed xmlns=\"http://www.w3.org/2005/Atom\"><entry><title>x</title></entry></feed>");
    std::string html = dir.path() + "page.html";
    WriteFile(html, "<html><body>not a feed</body></html>");
    TestHttpServer server;
    ASSERT_TRUE(server.Start());
    server.Route("/rdf", TestHttpServer::Body(200, "<rdf:RDF><channel><title>RDF</title></channel></rdf:RDF>"));
    server.Route("/missing", TestHttpServer::Body(404, "<html>Not Found</html>"));

    const std::u16string failure = u"RSSが認識できません。\r\n存在しないURLか、プラグインで理解できない形式です。";
    struct Row {
        const char* what;
        std::string location;
        std::u16string message;
    } rows[] = {
        {"RSS 2.0 file", rss2, u"RSSが正常に認識されました。\r\nタイトル：町だより\r\n種別：RSS2.0"},
        {"Atom without a feed title", atom, u"RSSが正常に認識されました。\r\n種別：ATOM"},
        {"RSS 1.0 over HTTP", server.Url("/rdf"), u"RSSが正常に認識されました。\r\nタイトル：RDF\r\n種別：RSS1.0"},
        {"empty location", "", failure},
        {"missing file", dir.path() + "none.xml", failure},
        {"not a feed", html, failure},
        {"an error page", server.Url("/missing"), failure},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        DialogMessage message = FeedCheckMessage(CheckFeedLocation(row.location.c_str()));
        EXPECT_EQ(message.text, row.message);
        EXPECT_EQ(std::u16string(message.caption), u"チェック");
    }
    EXPECT_FALSE(CheckFeedLocation(nullptr).recognised);

    const int32_t kinds[] = {kFeedNone, kFeedRss1, kFeedRss2, kFeedAtom, 4, -1};
    const char16_t* names[] = {u"不明", u"RSS1.0", u"RSS2.0", u"ATOM", u"不明", u"不明"};
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(std::u16string(FeedKindName(kinds[i])), names[i]) << kinds[i];
}

// The check waits on the dialog's thread, so the fetch's own limits bound
// it: a silent server ends at the time-out, a body beyond the size limit
// fails, and a huge title reaches the message box cut.
TEST(FeedCheckTest, HostileFeedsGiveBoundedResults) {
    platform::HttpLimits limits = platform::kDefaultHttpLimits;
    limits.timeout_ms = 1000;
    limits.deadline_ms = 5000;
    limits.max_body_bytes = 64 << 10;
    FetchLimitsFor quick(limits);
    TestHttpServer server;
    ASSERT_TRUE(server.Start());
    server.Route("/silent", TestHttpServer::Stall());
    std::string big = "<rss><channel><title>" + std::string(70 << 10, 't') + "</title></channel></rss>";
    server.Route("/big", TestHttpServer::Body(200, big));
    EXPECT_FALSE(CheckFeedLocation(server.Url("/silent").c_str()).recognised);
    EXPECT_FALSE(CheckFeedLocation(server.Url("/big").c_str()).recognised);

    TempDir dir;
    std::string path = dir.path() + "long.xml";
    // A surrogate pair straddles the cut: it goes whole.
    std::string title = std::string(kCheckTitleUnits - 1, 'x') + "\xF0\x9F\x98\x80" + std::string(100000, 'y');
    WriteFile(path, "<?xml version=\"1.0\" encoding=\"utf-8\"?><rss><channel><title>" + title +
                        "</title></channel></rss>");
    FeedCheck check = CheckFeedLocation(path.c_str());
    ASSERT_TRUE(check.recognised);
    EXPECT_EQ(check.title.size(), kCheckTitleUnits + 1 + 100000);
    std::u16string expected =
        u"RSSが正常に認識されました。\r\nタイトル：" + std::u16string(kCheckTitleUnits - 1, u'x') + u"...\r\n種別：RSS2.0";
    EXPECT_EQ(FeedCheckMessage(check).text, expected);
    check.title = std::u16string(kCheckTitleUnits, u'z');
    EXPECT_EQ(FeedCheckMessage(check).text.find(u"..."), std::u16string::npos) << "a title at the limit is whole";
}

TEST(FeedQuestionTest, QuestionsNameTheFeed) {
    DialogMessage deletion = DeleteQuestion(Cp932(u"町だより").c_str());
    EXPECT_EQ(deletion.text, u"\"町だより\"\r\nこの設定を削除しますか？");
    EXPECT_EQ(std::u16string(deletion.caption), u"削除確認");
    DialogMessage leave = LeaveQuestion();
    EXPECT_EQ(leave.text, u"入力したデータを追加・更新せずに終了しますか？");
    EXPECT_EQ(std::u16string(leave.caption), u"終了確認");
}

// Add changes the shape of the list while the schedule thread walks it;
// both hold plugin_lock.
TEST(FeedManagerThreadsTest, AddingWhileTheScheduleWalks) {
    Configuration config;
    platform::Mutex plugin_lock;
    ASSERT_TRUE(plugin_lock.Create());
    std::atomic<bool> stop{false};
    std::atomic<uint32_t> walks{0};
    std::thread schedule([&] {
        while (!stop.load()) {
            platform::MutexLock hold(plugin_lock);
            uint32_t seen = 0;
            for (FeedEntry* entry : config.feeds.As<FeedEntry>()) seen += entry->crawler->interval > 0;
            EXPECT_EQ(seen, config.feeds.Count());
            walks.fetch_add(1);
        }
    });
    // The walks are running before the first append.
    EXPECT_TRUE(WaitUntil([&] { return walks.load() > 0; }, 5000, "the first walk"));
    EXPECT_GT(walks.load(), 0u) << "the walking thread never ran";
    for (int i = 0; i < 200; ++i) {
        std::string name = "feed" + std::to_string(i);
        EXPECT_EQ(AddFeed(config.feeds, plugin_lock, ReadFeedFields(name.c_str(), "u", 300, false)), i);
    }
    stop = true;
    schedule.join();
    EXPECT_EQ(config.feeds.Count(), 200u);
}

}  // namespace
