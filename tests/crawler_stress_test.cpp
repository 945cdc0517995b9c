// The plugin's threads together: fifty feeds served by a local HTTP server
// with slow, failing and broken replies, a schedule walking fast, the host's
// thread reading every setting through the zero-wait probe and committing
// feed edits, and a shutdown while fetches run. Run under TSan and ASan.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "fetch/feed_crawler.h"
#include "fetch/schedule.h"
#include "http_test_server.h"
#include "platform/platform.h"
#include "test_util.h"
#include "text/display_text.h"

using namespace feedlet;

namespace {

constexpr int kFeeds = 50;

FeedCrawler* CrawlerOfEntry(void* item) { return static_cast<FeedEntry*>(item)->crawler; }

std::string FeedXml(int i) {
    std::string xml = "<rss version=\"2.0\"><channel><title>Feed " + std::to_string(i) + "</title>";
    for (int a = 0; a < 5; ++a)
        xml += "<item><title>Article " + std::to_string(a) +
               "</title><pubDate>Sat, 05 Mar 2011 09:0" + std::to_string(a) + ":00 GMT</pubDate></item>";
    return xml + "</channel></rss>";
}

int Rounds() {
    const char* value = std::getenv("FEEDLET_STRESS_ROUNDS");
    int rounds = value ? std::atoi(value) : 0;
    return rounds > 0 ? rounds : 150;
}

FeedEntry* NewEntry(const std::string& name, const std::string& url) {
    auto* entry = new FeedEntry;
    std::snprintf(entry->name, sizeof entry->name, "%s", name.c_str());
    entry->crawler = new FeedCrawler;
    Configure(entry->crawler, url.c_str(), 0, (name.size() & 1) ? kCrawlerSortByTime : 0);
    return entry;
}

TEST(CrawlerStressTest, FetchesReadsEditsAndShutdownTogether) {
    TestHttpServer server;
    ASSERT_TRUE(server.Start());
    std::mt19937 random(20261207);
    for (int i = 0; i < kFeeds; ++i) {
        std::string path = "/feed/" + std::to_string(i);
        std::string xml = FeedXml(i);
        switch (i % 5) {
            case 0:  // slow: the body comes in pieces with pauses
                server.Route(path, TestHttpServer::Chunked({xml.substr(0, 40), xml.substr(40)}));
                break;
            case 1:
                server.Route(path, TestHttpServer::Body(404, "<html>gone</html>"));
                break;
            case 2:
                server.Route(path, TestHttpServer::BrokenOff(xml.substr(0, xml.size() / 2), xml.size()));
                break;
            default:
                server.Route(path, TestHttpServer::Body(200, xml));
                break;
        }
    }

    Configuration config;
    platform::Mutex plugin_lock;
    ASSERT_TRUE(plugin_lock.Create());
    for (int i = 0; i < kFeeds; ++i) {
        config.feeds.Append(NewEntry("feed" + std::to_string(i), server.Url("/feed/" + std::to_string(i))));
        auto* setting = new DisplaySetting;
        setting->crawler = config.feeds.At<FeedEntry>(i)->crawler;
        setting->format.AssignWide(u"%title %hh:%nn %pa");
        setting->split.AssignWide(u" / ");
        setting->flag = static_cast<uint8_t>(i % 5);
        config.item_settings.Append(setting);
    }
    for (FeedEntry* entry : config.feeds.As<FeedEntry>()) Start(entry->crawler);

    Schedule schedule;
    schedule.feeds = &config.feeds;
    schedule.crawler_of = CrawlerOfEntry;
    schedule.plugin_lock = &plugin_lock;
    schedule.tick_ms = 2;
    ASSERT_TRUE(StartSchedule(&schedule));

    // The host's thread: reads every setting, now and then commits an edit.
    char16_t buffer[512];
    int reads = 0, texts = 0, commits = 0;
    int added = 0;
    const int rounds = Rounds();
    for (int round = 0; round < rounds; ++round) {
        int n = static_cast<int>(config.item_settings.Count());
        for (int s = 1; s <= n; ++s) {
            int needed = GetTextAt(config, 2, s, nullptr, 0, 1299316000);
            int stored = GetTextAt(config, 2, s, buffer, 512, 1299316000);
            ++reads;
            if (stored > 0) ++texts;
            ASSERT_LE(stored, 511);
            (void)needed;
        }
        if (round % 10 != 9) continue;
        int count = static_cast<int>(config.feeds.Count());
        auto pick = [&] { return static_cast<int32_t>(random() % static_cast<unsigned>(count)); };
        // Reconfigure one feed (a new location), delete another, add one.
        auto* modified = config.feeds.At<FeedEntry>(pick());
        modified->pending = NewEntry(std::string(modified->name) + "x", server.Url("/feed/" + std::to_string(pick())));
        modified->edit_mark = kEditModified;
        auto* deleted = config.feeds.At<FeedEntry>(pick());
        if (deleted != modified) deleted->edit_mark = kEditDeleted;
        {
            platform::MutexLock hold(plugin_lock);
            FeedEntry* entry = NewEntry("added" + std::to_string(added++), server.Url("/feed/3"));
            entry->edit_mark = kEditAdded;
            config.feeds.Append(entry);
        }
        EXPECT_EQ(CommitFeedEdits(config, plugin_lock, 1), 1);
        ++commits;
    }

    // Shutdown while fetches run: the schedule stops, then every crawler is
    // destroyed after its fetch, then every worker has returned.
    StopSchedule(&schedule, false);
    config.info_settings.Clear();
    config.item_settings.Clear();
    config.feeds.Clear();
    EXPECT_TRUE(CrawlerWorkers().WaitIdle(kWaitMs)) << "a worker outlived the shutdown";
    EXPECT_EQ(CrawlerWorkers().Live(), 0u);
    server.Stop();
    std::printf("stress: %d rounds, %d reads (%d with text), %d commits, %d requests\n", rounds, reads, texts,
                commits, server.ConnectionCount());
    EXPECT_GT(texts, 0);
}

}  // namespace
