// A crawler's life against a publisher's server, walk by walk with
// simulated seconds: the retries after failures, the validators sent back
// and the 304s that follow, the pauses a 429 or 503 asks for, two crawlers
// on one file, and two months of the schedule thread itself across a
// tick-count wrap and wall-clock changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <atomic>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/item_list.h"
#include "feed/feed_document.h"
#include "fetch/feed_crawler.h"
#include "fetch/fetch_rules.h"
#include "fetch/schedule.h"
#include "http_test_server.h"
#include "platform/platform.h"
#include "test_util.h"

using namespace feedlet;

namespace {

using Reply = TestHttpServer::Reply;

FeedCrawler* Self(void* item) { return static_cast<FeedCrawler*>(item); }

std::atomic<int> g_updates{0};
void CountUpdate(FeedCrawler*) { g_updates.fetch_add(1); }

std::string Feed(const std::string& title) {
    return "<rss><channel><title>" + title + "</title><item><title>" + title + " item</title></item></channel></rss>";
}

std::string TitleOf(FeedCrawler* crawler) {
    if (!crawler->document) return "(none)";
    const char16_t* title = crawler->document->channel.WideText(kMemberTitle);
    std::string narrow;
    for (; title && *title; ++title) narrow += static_cast<char>(*title);
    return narrow;
}

class CrawlerScheduleTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_updates = 0;
        ASSERT_TRUE(server_.Start());
    }
    void TearDown() override {
        feeds_.release = nullptr;
        for (void* item : feeds_) DestroyAndFree(Self(item));
        feeds_.Clear();
        server_.Stop();
    }

    FeedCrawler* AddCrawler(const std::string& location, uint32_t interval) {
        auto* crawler = new FeedCrawler;
        Configure(crawler, location.c_str(), interval, 0);
        crawler->notify = CountUpdate;
        feeds_.Append(crawler);
        return crawler;
    }
    // Every fetch started so far has ended.
    void Settle() {
        for (void* item : feeds_) {
            FeedCrawler* crawler = Self(item);
            ASSERT_TRUE(FetchesEnded(crawler));
        }
    }
    // The start-up fetch, at simulated second 0.
    void StartUp(FeedCrawler* crawler) {
        Start(crawler);
        Settle();
    }
    // One schedule walk, 30 s after the last one, and its fetches.
    void Walk() {
        now_ += 30;
        ScheduleWalk(feeds_, Self, 30);
        Settle();
    }
    // Walks until `seconds` have passed, noting when path was asked for.
    void WalkFor(int seconds, const std::string& path, std::vector<int>* times) {
        for (int end = now_ + seconds; now_ < end;) {
            int before = server_.RequestCount(path);
            Walk();
            if (times && server_.RequestCount(path) != before) times->push_back(now_);
        }
    }

    TestHttpServer server_;
    ItemList feeds_;
    int now_ = 0;  // simulated seconds since start-up
};

std::vector<int> Gaps(const std::vector<int>& times) {
    std::vector<int> gaps;
    for (size_t i = 1; i < times.size(); ++i) gaps.push_back(times[i] - times[i - 1]);
    return gaps;
}

// A day with a 300 s interval and a server that fails for its first hour:
// the retries come after 60, 120 and 240 s and then every 300 s, and once
// the server is back the feed is asked for twelve times an hour.
TEST_F(CrawlerScheduleTest, RetriesDoubleUpToTheIntervalThenTheIntervalHolds) {
    server_.Route("/feed", TestHttpServer::HangUp());
    FeedCrawler* crawler = AddCrawler(server_.Url("/feed"), 300);
    std::vector<int> times{0};
    StartUp(crawler);
    EXPECT_EQ(crawler->document, nullptr);
    WalkFor(3600, "/feed", &times);
    server_.Route("/feed", TestHttpServer::Publisher(Feed("Back"), "\"1\"", ""));
    WalkFor(86400 - 3600, "/feed", &times);

    std::vector<int> gaps = Gaps(times);
    ASSERT_GE(gaps.size(), 5u);
    EXPECT_EQ(gaps[0], 60);
    EXPECT_EQ(gaps[1], 120);
    EXPECT_EQ(gaps[2], 240);
    for (size_t i = 3; i < gaps.size(); ++i) EXPECT_EQ(gaps[i], 300) << "gap " << i;
    EXPECT_EQ(TitleOf(crawler), "Back");
    // Once back, twelve requests an hour, every hour.
    for (int hour = 2; hour < 24; ++hour) {
        auto in_hour = std::count_if(times.begin(), times.end(),
                                     [hour](int t) { return t >= hour * 3600 && t < (hour + 1) * 3600; });
        EXPECT_NEAR(in_hour, 12, 1) << "hour " << hour;
    }
    std::printf("a day at 300 s, failing for the first hour: %zu requests (%zu in the first hour)\n", times.size(),
                static_cast<size_t>(std::count_if(times.begin(), times.end(), [](int t) { return t < 3600; })));
}

// The default interval: a failing feed costs a handful of extra requests in
// its first half hour, then one per interval, never a burst.
TEST_F(CrawlerScheduleTest, AFeedThatKeepsFailingCostsAHandfulOfRequests) {
    server_.Route("/feed", TestHttpServer::Body(500, "<html>down</html>"));
    FeedCrawler* crawler = AddCrawler(server_.Url("/feed"), 1800);
    std::vector<int> times{0};
    StartUp(crawler);
    WalkFor(86400, "/feed", &times);
    std::vector<int> gaps = Gaps(times);
    std::vector<int> expected{60, 120, 240, 480, 960};
    ASSERT_GE(gaps.size(), expected.size());
    for (size_t i = 0; i < gaps.size(); ++i) EXPECT_EQ(gaps[i], i < expected.size() ? expected[i] : 1800) << i;
    // Without retries it would be 1 + 48; with them a few more, no more.
    EXPECT_LE(times.size(), 1u + 48u + 5u);
    std::printf("a day at 1800 s, failing throughout: %zu requests\n", times.size());
}

// At start-up the network is not there yet; the server answers 90 s later.
// The feed is read at the first retry after that, and meanwhile a good
// document stays visible through every failure.
TEST_F(CrawlerScheduleTest, AFeedThatFailsAtStartUpIsReadAtTheFirstRetryAfterItsServerReturns) {
    server_.Route("/feed", TestHttpServer::HangUp());
    FeedCrawler* crawler = AddCrawler(server_.Url("/feed"), 1800);
    StartUp(crawler);
    EXPECT_EQ(crawler->document, nullptr);
    while (now_ < 90) Walk();
    EXPECT_EQ(crawler->document, nullptr);
    server_.Route("/feed", TestHttpServer::Publisher(Feed("Up"), "", ""));
    // Retries at 60 and 180 s: the second one reads it.
    int shown_at = -1;
    while (now_ < 600 && shown_at < 0) {
        Walk();
        if (crawler->document) shown_at = now_;
    }
    EXPECT_EQ(shown_at, 180);
    EXPECT_EQ(g_updates.load(), 1);

    // A server that fails after that leaves the document in place, and
    // retries at 60 s again.
    server_.Route("/feed", TestHttpServer::HangUp());
    std::vector<int> times;
    WalkFor(1800 + 30, "/feed", &times);
    ASSERT_FALSE(times.empty());
    server_.Route("/feed", TestHttpServer::Publisher(Feed("Again"), "", ""));
    WalkFor(60, "/feed", &times);
    EXPECT_EQ(TitleOf(crawler), "Again");
    EXPECT_EQ(Gaps(times).at(0), 60);
}

// One unconditional request, then the validators byte for byte; a 304
// leaves the document (the very same object) and calls nobody.
TEST_F(CrawlerScheduleTest, ValidatorsComeBackAndA304ChangesNothing) {
    const std::string etag = "W/\"5e-\xE6\x97\xA5\"";
    const std::string modified = "Wed, 09 Dec 2026 10:00:00 GMT";
    server_.Route("/feed", TestHttpServer::Publisher(Feed("One"), etag, modified));
    FeedCrawler* crawler = AddCrawler(server_.Url("/feed"), 300);
    StartUp(crawler);
    ASSERT_EQ(TitleOf(crawler), "One");
    const FeedDocument* first = crawler->document;
    WalkFor(3000, "/feed", nullptr);
    std::vector<TestHttpServer::Request> requests = server_.Requests("/feed");
    ASSERT_EQ(requests.size(), 11u);
    EXPECT_FALSE(requests[0].HasHeader("If-None-Match"));
    EXPECT_FALSE(requests[0].HasHeader("If-Modified-Since"));
    for (size_t i = 1; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].Header("If-None-Match"), etag) << i;
        EXPECT_EQ(requests[i].Header("If-Modified-Since"), modified) << i;
    }
    EXPECT_EQ(crawler->document, first);
    EXPECT_EQ(g_updates.load(), 1);

    // New content: the next answer is a 200, and its validators are sent
    // from then on.
    server_.Route("/feed", TestHttpServer::Publisher(Feed("Two"), "\"2\"", ""));
    WalkFor(600, "/feed", nullptr);
    EXPECT_EQ(TitleOf(crawler), "Two");
    EXPECT_EQ(g_updates.load(), 2);
    requests = server_.Requests("/feed");
    EXPECT_EQ(requests.back().Header("If-None-Match"), "\"2\"");
    EXPECT_FALSE(requests.back().HasHeader("If-Modified-Since"));

    // Another location starts without a validator; its own come back.
    server_.Route("/other", TestHttpServer::Publisher(Feed("Other"), "\"o\"", ""));
    Configure(crawler, server_.Url("/other").c_str(), 300, 0);
    Start(crawler);
    Settle();
    WalkFor(300, "/other", nullptr);
    requests = server_.Requests("/other");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_FALSE(requests[0].HasHeader("If-None-Match"));
    EXPECT_EQ(requests[1].Header("If-None-Match"), "\"o\"");
    EXPECT_EQ(TitleOf(crawler), "Other");
}

// A 200 that builds nothing drops the validators (a 304 could not stand for
// it), another status keeps them; a 304 to a request without validators
// answers nothing and is a failure.
TEST_F(CrawlerScheduleTest, ValidatorsGoWithABrokenFeedAndA304NeedsThem) {
    server_.Route("/feed", TestHttpServer::Publisher(Feed("One"), "\"1\"", ""));
    FeedCrawler* crawler = AddCrawler(server_.Url("/feed"), 300);
    StartUp(crawler);
    TestHttpServer::Reply error = TestHttpServer::Body(500, "<html>oops</html>");
    error.headers = "ETag: \"e\"\r\n";
    server_.Route("/feed", error);
    WalkFor(300, "/feed", nullptr);
    server_.Route("/feed", TestHttpServer::Publisher(Feed("One"), "\"1\"", ""));
    WalkFor(60, "/feed", nullptr);
    std::vector<TestHttpServer::Request> requests = server_.Requests("/feed");
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[2].Header("If-None-Match"), "\"1\"");  // the 500 changed nothing
    EXPECT_EQ(TitleOf(crawler), "One");

    TestHttpServer::Reply broken = TestHttpServer::Body(200, "<html><body>not a feed</body></html>");
    broken.headers = "ETag: \"b\"\r\n";
    server_.Route("/feed", broken);
    WalkFor(300, "/feed", nullptr);
    EXPECT_EQ(TitleOf(crawler), "One");  // still shown
    server_.Route("/feed", TestHttpServer::Body(304, ""));
    WalkFor(60, "/feed", nullptr);
    requests = server_.Requests("/feed");
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_FALSE(requests[4].HasHeader("If-None-Match"));
    // That unasked-for 304 failed: the retry comes 120 s later.
    std::vector<int> times;
    WalkFor(300, "/feed", &times);
    ASSERT_FALSE(times.empty());
    EXPECT_EQ(times[0], now_ - 300 + 120);
    EXPECT_EQ(TitleOf(crawler), "One");
}

// A 429 or 503 is a request to wait: its Retry-After (seconds or a date),
// never less than the interval, and no quick retry after it.
TEST_F(CrawlerScheduleTest, ARefusalWaitsForItsRetryAfter) {
    struct Row {
        const char* name;
        int status;
        std::string retry_after;  // "date" for an HTTP-date an hour ahead
        int earliest, latest;     // seconds after the refusal
    } rows[] = {
        {"429 in seconds", 429, "3600", 3600, 3630},
        {"429 as a date", 429, "date", 3599, 3630},
        {"503 in seconds", 503, "7200", 7200, 7230},
        {"503 without", 503, "", 300, 300},
        {"429 sooner than the interval", 429, "60", 300, 300},
        {"429 unreadable", 429, "tomorrow", 300, 300},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = std::string("/") + std::to_string(row.status) + "/" + row.name;
        std::string path_escaped;
        for (char c : path) path_escaped += c == ' ' ? '-' : c;
        server_.Route(path_escaped, TestHttpServer::Publisher(Feed("Fine"), "", ""));
        FeedCrawler* crawler = AddCrawler(server_.Url(path_escaped), 300);
        StartUp(crawler);
        ASSERT_EQ(TitleOf(crawler), "Fine");
        std::string retry_after = row.retry_after;
        if (retry_after == "date") retry_after = TestHttpServer::HttpDate(platform::WallClockSeconds() + 3600);
        server_.Route(path_escaped, TestHttpServer::Refusal(row.status, retry_after));
        std::vector<int> times;
        WalkFor(300, path_escaped, &times);
        ASSERT_EQ(times.size(), 1u);
        int refused_at = times[0];
        server_.Route(path_escaped, TestHttpServer::Publisher(Feed("Later"), "", ""));
        times.clear();
        WalkFor(row.latest + 30, path_escaped, &times);
        ASSERT_FALSE(times.empty());
        EXPECT_GE(times[0] - refused_at, row.earliest);
        EXPECT_LE(times[0] - refused_at, row.latest);
        EXPECT_EQ(TitleOf(crawler), "Later");
        // The document stayed and nobody heard of the refusal.
        EXPECT_EQ(g_updates.load(), 2);
        g_updates = 0;
        feeds_.release = nullptr;
        feeds_.Clear();
        DestroyAndFree(crawler);
    }
}

// Two feeds on one file, fetched at the same moment, both read it: readers
// share a file. A hundred rounds, each file written anew.
TEST_F(CrawlerScheduleTest, TwoCrawlersOnOneFileBothReadIt) {
    TempDir dir;
    const std::string path = dir.path() + "shared.xml";
    FeedCrawler* first = AddCrawler(path, 300);
    FeedCrawler* second = AddCrawler(path, 300);
    int both = 0;
    for (int round = 0; round < 100; ++round) {
        const std::string title = "Round " + std::to_string(round);
        WriteFile(path, Feed(title));
        Start(first);
        Start(second);
        Settle();
        if (TitleOf(first) == title && TitleOf(second) == title) ++both;
    }
    EXPECT_EQ(both, 100);
}

// What a walk adds for the wall clock's step over its 30 s tick.
TEST(WallStepTest, ForwardAsMeasuredBackAsOneTick) {
    struct Row {
        int64_t previous, now;
        int32_t step;
    } rows[] = {
        {1000, 1030, 30},                      // a steady tick
        {1000, 1000, 0},
        {1000, 1000 + 8 * 3600, 8 * 3600},     // a night asleep
        {1000, 1000 + 86400, 86400},           // set forward a day
        {1000, 1000 - 3600, 30},               // set back an hour
        {1000, -5, 30},                        // a clock that could not be read
        {0, int64_t{1} << 40, INT32_MAX},      // beyond 32 bits
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.previous) + " -> " + std::to_string(row.now));
        EXPECT_EQ(WallStep(row.previous, row.now, 30000), row.step);
    }
}

// ---------------------------------------------------------------------------
// Two months of the schedule thread itself, with simulated clocks: the tick
// count wraps (every 49.7 days, once here) and the wall clock is set back an
// hour on day 20 and forward a day on day 40. No feed is starved, and none
// is fetched more often than its rules allow.

struct Simulation {
    static constexpr uint64_t kDayMs = 86400000;
    static constexpr uint64_t kLengthMs = 60 * kDayMs;
    // A tick just outside one full step of 30 s: the walk itself takes time.
    static constexpr uint32_t kWalkMs = 17;

    struct Feed {
        Feed(std::string feed_path, uint32_t feed_interval) : path(std::move(feed_path)), interval(feed_interval) {}
        std::string path;
        uint32_t interval;
        int requests = 0;
        std::vector<int64_t> times;  // true simulated seconds of each request
    };

    TestHttpServer* server = nullptr;
    Schedule* schedule = nullptr;
    std::vector<Feed> feeds;
    uint64_t true_ms = 0;
    uint32_t tick = 0xFFFFFFFFu - static_cast<uint32_t>(2 * kDayMs);  // wraps on day 2
    int tick_wraps = 0;
    int64_t wall = 1796817600;
    uint64_t wall_ms = 0;
    bool set_back = false, set_forward = false;
    std::vector<int64_t> clock_changes;  // true seconds: the set-back, then the jump forward
    std::function<void(uint64_t)> on_time;  // the server's moods, by true milliseconds
    std::function<bool()> idle;

    static Simulation* current;
    static uint32_t Tick() { return current->tick; }
    static int64_t Wall() { return current->wall; }
    static void Sleep(platform::Event&, uint32_t milliseconds) { current->Advance(milliseconds + kWalkMs); }

    void Advance(uint32_t milliseconds) {
        // Whatever the last walk started has ended before time moves on.
        EXPECT_TRUE(WaitUntil(idle, kWaitMs, "the walk's fetches to end"));
        for (Feed& feed : feeds) {
            int count = server->RequestCount(feed.path);
            if (count != feed.requests) feed.times.push_back(static_cast<int64_t>(true_ms / 1000));
            feed.requests = count;
        }
        true_ms += milliseconds;
        uint32_t before = tick;
        tick += milliseconds;
        if (tick < before) ++tick_wraps;
        wall_ms += milliseconds;
        wall += static_cast<int64_t>(wall_ms / 1000);
        wall_ms %= 1000;
        if (!set_back && true_ms >= 20 * kDayMs) {
            set_back = true;
            wall -= 3600;
            clock_changes.push_back(static_cast<int64_t>(true_ms / 1000));
        }
        if (!set_forward && true_ms >= 40 * kDayMs) {
            set_forward = true;
            wall += 86400;
            clock_changes.push_back(static_cast<int64_t>(true_ms / 1000));
        }
        if (on_time) on_time(true_ms);
        if (true_ms >= kLengthMs) schedule->stop_requested.store(1);
    }
    // The walk that first saw the clock jump a day forward starts every feed
    // at once: a day has passed, as far as anything can tell (a machine that
    // slept looks the same). The clock set back starts nothing early and
    // holds nothing back.
    bool AfterJumpForward(int64_t when) const {
        return clock_changes.size() == 2 && when >= clock_changes[1] && when <= clock_changes[1] + 31;
    }
};
Simulation* Simulation::current = nullptr;

TEST_F(CrawlerScheduleTest, TwoMonthsOfTheScheduleThread) {
    Simulation sim;
    sim.server = &server_;
    sim.feeds = {{"/hourly", 3600}, {"/unchanged", 7200}, {"/flaky", 3600}, {"/busy", 1800}, {"/daily", 86400}};
    server_.Route("/hourly", TestHttpServer::Publisher(Feed("Hourly"), "", ""));
    server_.Route("/unchanged", TestHttpServer::Publisher(Feed("Unchanged"), "\"u\"", ""));
    server_.Route("/flaky", TestHttpServer::Publisher(Feed("Flaky"), "", ""));
    server_.Route("/busy", TestHttpServer::Refusal(429, "14400"));
    server_.Route("/daily", TestHttpServer::Publisher(Feed("Daily"), "", ""));
    for (const Simulation::Feed& feed : sim.feeds) AddCrawler(server_.Url(feed.path), feed.interval);
    // The flaky server is down on days 10 and 11.
    sim.on_time = [this](uint64_t ms) {
        static bool down = false;
        bool should_be_down = ms >= 10 * Simulation::kDayMs && ms < 12 * Simulation::kDayMs;
        if (should_be_down == down) return;
        down = should_be_down;
        server_.Route("/flaky", down ? TestHttpServer::HangUp() : TestHttpServer::Publisher(Feed("Flaky"), "", ""));
    };
    sim.idle = [this] {
        for (void* item : feeds_)
            if (Self(item)->workers.load() != 0) return false;
        return true;
    };

    platform::Mutex plugin_lock;
    ASSERT_TRUE(plugin_lock.Create());
    Schedule schedule;
    schedule.feeds = &feeds_;
    schedule.crawler_of = Self;
    schedule.plugin_lock = &plugin_lock;
    schedule.clock.tick_count = Simulation::Tick;
    schedule.clock.wall_seconds = Simulation::Wall;
    schedule.clock.sleep = Simulation::Sleep;
    sim.schedule = &schedule;
    Simulation::current = &sim;
    ASSERT_TRUE(StartSchedule(&schedule));
    ASSERT_TRUE(WaitUntil([&] { return schedule.schedule_ended.load() != 0; }, 20 * kWaitMs, "two months to pass"));
    StopSchedule(&schedule, false);
    Simulation::current = nullptr;

    ASSERT_EQ(sim.clock_changes.size(), 2u);
    EXPECT_EQ(sim.tick_wraps, 2);  // on day 2, and 49.7 days later
    for (const Simulation::Feed& feed : sim.feeds) {
        SCOPED_TRACE(feed.path);
        ASSERT_GE(feed.times.size(), 2u);
        // What a feed's rules allow between two requests: its interval,
        // the retries of a failure, the pause a refusal asks for.
        uint32_t pause = feed.path == "/busy" ? 14400 : feed.interval;
        size_t early = 0;
        for (size_t i = 1; i < feed.times.size(); ++i) {
            int64_t gap = feed.times[i] - feed.times[i - 1];
            bool failing = feed.path == "/flaky" && feed.times[i] >= 10 * 86400 && feed.times[i - 1] < 12 * 86400 + 3600;
            if (sim.AfterJumpForward(feed.times[i])) {
                ++early;
                continue;
            }
            // Never sooner than allowed, and never starved.
            EXPECT_GE(gap, failing ? 60 : pause) << "request " << i << " at " << feed.times[i];
            EXPECT_LE(gap, pause + 32) << "request " << i << " at " << feed.times[i];
        }
        EXPECT_LE(early, 1u);
        // The last request is recent: nothing starved at the end either.
        EXPECT_GE(feed.times.back(), 60 * 86400 - static_cast<int64_t>(pause) - 32);
        std::printf("%-10s interval %5u: %zu requests in 60 days\n", feed.path.c_str(), feed.interval,
                    feed.times.size());
    }
    // The unchanged feed was answered with 304s, every one of them asked with
    // its validator; the flaky one was read again after its outage.
    std::vector<TestHttpServer::Request> unchanged = server_.Requests("/unchanged");
    for (size_t i = 1; i < unchanged.size(); ++i) ASSERT_EQ(unchanged[i].Header("If-None-Match"), "\"u\"") << i;
    EXPECT_EQ(TitleOf(Self(feeds_.ItemAt(2))), "Flaky");
}

}  // namespace
