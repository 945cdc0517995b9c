// Crawlers and the schedule: due times, busy crawlers, clock changes, the
// stop handshake, and the lifetime of fetches against their crawler.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "core/item_list.h"
#include "feed/feed_document.h"
#include "fetch/feed_crawler.h"
#include "fetch/download.h"
#include "fetch/schedule.h"
#include "http_test_server.h"
#include "platform/platform.h"
#include "test_util.h"

using namespace feedlet;

namespace {

FeedCrawler* Self(void* item) { return static_cast<FeedCrawler*>(item); }

std::atomic<int> g_updates{0};
void CountUpdate(FeedCrawler*) { g_updates.fetch_add(1); }

class CrawlerTest : public ::testing::Test {
protected:
    void SetUp() override { g_updates = 0; }
    void TearDown() override {
        feeds.release = nullptr;
        for (void* item : feeds) DestroyAndFree(Self(item));
        feeds.Clear();
    }
    FeedCrawler* AddFeed(const std::string& xml, uint32_t interval) {
        std::string path = dir.path() + "feed" + std::to_string(feeds.Count()) + ".xml";
        WriteFile(path, xml);
        auto* crawler = new FeedCrawler;
        Configure(crawler, path.c_str(), interval, 0);
        crawler->notify = CountUpdate;
        feeds.Append(crawler);
        paths.push_back(path);
        return crawler;
    }
    static std::string Feed(const char* title) {
        return std::string("<rss><channel><title>") + title + "</title></channel></rss>";
    }

    TempDir dir;
    ItemList feeds;
    std::vector<std::string> paths;
};

TEST_F(CrawlerTest, ASteadyTickFetchesAtTheTenthWalk) {
    FeedCrawler* crawler = AddFeed(Feed("A"), 300);
    for (int walk = 1; walk <= 9; ++walk) {
        ScheduleWalk(feeds, Self, 30);
        ASSERT_TRUE(FetchesEnded(crawler));
        ASSERT_EQ(g_updates.load(), 0) << "walk " << walk;
    }
    EXPECT_EQ(crawler->elapsed, 270u);
    ScheduleWalk(feeds, Self, 30);
    ASSERT_TRUE(FetchesEnded(crawler));
    EXPECT_EQ(g_updates.load(), 1);
    EXPECT_EQ(crawler->elapsed, 0u);
    ASSERT_NE(crawler->document, nullptr);
    EXPECT_EQ(std::u16string(crawler->document->channel.WideText(kMemberTitle)), u"A");
}

TEST_F(CrawlerTest, ClockChangesAreAddedModulo32Bits) {
    FeedCrawler* back = AddFeed(Feed("B"), 1800);
    FeedCrawler* forward = AddFeed(Feed("F"), 600);
    ScheduleWalk(feeds, Self, 30);
    // Set back by an hour: the step is negative, the accumulator wraps to a
    // huge value and both crawlers fall due at once.
    ScheduleWalk(feeds, Self, -3600);
    ASSERT_TRUE(FetchesEnded(back));
    ASSERT_TRUE(FetchesEnded(forward));
    EXPECT_EQ(g_updates.load(), 2);
    EXPECT_EQ(back->elapsed, 0u);
    // Set forward a day: every interval is covered at the same walk.
    ScheduleWalk(feeds, Self, 86400);
    ASSERT_TRUE(FetchesEnded(back));
    ASSERT_TRUE(FetchesEnded(forward));
    EXPECT_EQ(g_updates.load(), 4);
}

TEST_F(CrawlerTest, ABusyCrawlerIsSkippedAndStartsCountingAgain) {
    FeedCrawler* crawler = AddFeed(Feed("A"), 300);
    ScheduleWalk(feeds, Self, 270);
    FetchInProgress fetch(crawler);
    EXPECT_TRUE(IsBusy(crawler));
    ScheduleWalk(feeds, Self, 30);
    EXPECT_EQ(crawler->elapsed, 0u);
    EXPECT_EQ(crawler->workers.load(), 0u);  // not started
    fetch.Release();
    EXPECT_FALSE(IsBusy(crawler));
    EXPECT_EQ(g_updates.load(), 0);
}

TEST_F(CrawlerTest, AFailedFetchKeepsTheLastGoodDocument) {
    FeedCrawler* crawler = AddFeed(Feed("Good"), 300);
    Start(crawler);
    ASSERT_TRUE(FetchesEnded(crawler));
    ASSERT_NE(crawler->document, nullptr);
    WriteFile(paths[0], "<html><body>not a feed</body></html>");
    Start(crawler);
    ASSERT_TRUE(FetchesEnded(crawler));
    ASSERT_NE(crawler->document, nullptr);
    EXPECT_EQ(std::u16string(crawler->document->channel.WideText(kMemberTitle)), u"Good");
    EXPECT_EQ(g_updates.load(), 1);
}

TEST_F(CrawlerTest, ConfigureKeepsTheAccumulatorAndCopiesTheLocation) {
    FeedCrawler crawler;
    EXPECT_FALSE(IsBusy(&crawler));  // no lock yet: never busy
    crawler.elapsed = 42;
    std::string location = "http://example.invalid/a";
    Configure(&crawler, location.c_str(), 900, 0x81);
    location[0] = 'X';
    EXPECT_STREQ(crawler.url.Narrow(), "http://example.invalid/a");
    EXPECT_EQ(crawler.interval, 900u);
    EXPECT_EQ(crawler.flags, 0x81);
    EXPECT_EQ(crawler.elapsed, 42u);
    Configure(&crawler, "", 300, 0);
    EXPECT_EQ(crawler.url.text, nullptr);
    Destroy(&crawler);
    EXPECT_FALSE(crawler.mutex.IsCreated());
    EXPECT_EQ(crawler.interval, 0u);
}

TEST_F(CrawlerTest, DestroyDuringPendingWorkersNeverLeavesOneBehind) {
    // Workers started on a crawler whose lock is held are still waiting when
    // Destroy comes: they must let go without fetching, before the crawler
    // is freed. Once Destroy has returned, no worker of that crawler may
    // still fetch or notify (ASan reports a touch of the freed record; the
    // count shows a late notification).
    WriteFile(dir.path() + "r.xml", Feed("R"));
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        auto* crawler = new FeedCrawler;
        Configure(crawler, (dir.path() + "r.xml").c_str(), 300, 0);
        crawler->notify = CountUpdate;
        Start(crawler);
        Start(crawler);
        DestroyAndFree(crawler);
        int at_destroy = g_updates.load();
        ASSERT_TRUE(CrawlerWorkers().WaitIdle(kWaitMs)) << "a worker outlived its crawler's Destroy";
        EXPECT_EQ(g_updates.load(), at_destroy) << "a worker notified after Destroy returned";
    }
}

// A feed server that starts trickling its head holds the crawler's lock only
// until the deadline; then the fetch fails, the last good document stays
// and nobody is notified.
TEST_F(CrawlerTest, ATricklingServerKeepsTheOldDocumentAndLetsGoAtTheDeadline) {
    platform::HttpLimits limits = platform::kDefaultHttpLimits;
    limits.timeout_ms = 10000;
    limits.deadline_ms = 2000;
    FetchLimitsFor quick(limits);
    TestHttpServer server;
    ASSERT_TRUE(server.Start());
    server.Route("/feed", TestHttpServer::Body(200, Feed("Old")));
    auto* crawler = new FeedCrawler;
    feeds.Append(crawler);
    Configure(crawler, server.Url("/feed").c_str(), 300, 0);
    crawler->notify = CountUpdate;
    Start(crawler);
    ASSERT_TRUE(FetchesEnded(crawler, 20000)) << "the first fetch did not end";
    ASSERT_NE(crawler->document, nullptr);

    // A header line every 250 ms for 100 s: only the deadline can end it.
    server.Route("/feed", TestHttpServer::TrickleHeaders(400, 250));
    Start(crawler);
    ASSERT_TRUE(FetchesEnded(crawler, 20000)) << "the trickling fetch still holds the crawler";
    EXPECT_EQ(server.WaitForTrickleEnd("/feed", 5000), TestHttpServer::TrickleEnd::kClientLeft);
    EXPECT_FALSE(IsBusy(crawler));
    ASSERT_NE(crawler->document, nullptr);
    EXPECT_EQ(std::u16string(crawler->document->channel.WideText(kMemberTitle)), u"Old");
    EXPECT_EQ(g_updates.load(), 1);
}

struct ScheduleRun {
    ItemList feeds;
    platform::Mutex lock;
    Schedule schedule;
};

TEST_F(CrawlerTest, ScheduleThreadsWalkAndStopPromptly) {
    FeedCrawler* crawler = AddFeed(Feed("S"), 0);  // due at every walk
    ScheduleRun run;
    ASSERT_TRUE(run.lock.Create());
    run.schedule.feeds = &feeds;
    run.schedule.crawler_of = Self;
    run.schedule.plugin_lock = &run.lock;
    run.schedule.tick_ms = 5;
    ASSERT_TRUE(StartSchedule(&run.schedule));
    EXPECT_TRUE(WaitUntil([] { return g_updates.load() >= 3; }, kWaitMs, "three scheduled fetches"));
    StopSchedule(&run.schedule, false);
    EXPECT_EQ(run.schedule.schedule_ended.load(), 1);
    ASSERT_TRUE(FetchesEnded(crawler));
    int after = g_updates.load();
    // The schedule thread is one of the crawler workers: once every worker
    // has returned, nothing is left that could walk again.
    ASSERT_TRUE(CrawlerWorkers().WaitIdle(kWaitMs)) << "the schedule thread outlived its stop";
    EXPECT_EQ(g_updates.load(), after);  // no walk after the stop
}

// Nothing ever ends a schedule that was never started, so a stop that
// waited for its end would never return: the stop runs on a thread of its
// own, and is let go if it waits.
TEST_F(CrawlerTest, StoppingAScheduleThatNeverRanDoesNotWait) {
    Schedule schedule;
    std::atomic<bool> returned{false};
    std::thread stop([&] {
        StopSchedule(&schedule, false);
        returned = true;
    });
    ::testing::AssertionResult prompt =
        WaitUntil([&] { return returned.load(); }, kWaitMs, "the stop to return");
    EXPECT_TRUE(prompt) << "the stop waited for a schedule thread that never ran";
    if (!prompt) schedule.schedule_ended.store(1);  // what the waiting stop polls for
    stop.join();
    EXPECT_EQ(schedule.stop_requested.load(), 1);
    EXPECT_FALSE(schedule.running.load());
}

}  // namespace
