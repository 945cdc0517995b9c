// The plugin's lifetime through its portable entry points, from a real
// plugin folder: what the host sees through the exports.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

#include "config/configuration.h"
#include "core/encoding.h"
#include "core/text_field.h"
#include "fetch/feed_crawler.h"
#include "http_test_server.h"
#include "platform/platform.h"
#include "plugin/plugin.h"
#include "plugin/plugin_info.h"
#include "plugin/plugin_state.h"
#include "test_util.h"

using namespace feedlet;

namespace {

class PluginTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(host.ok()); }
    void TearDown() override {
        PluginDetach(false);  // runs Free when a test did not
        ResetFunctionInfo();
    }
    void WriteSettings(const std::string& text) {
        WriteFile(SettingsPath(), text);
    }
    void WriteFeeds(const std::string& text) {
        WriteFile(FeedListPath(), text);
    }
    std::string Name(int number, int setting, int length = 256) {
        std::string buffer(300, '#');
        int n = PluginGetFuncSettingName(number, setting, &buffer[0], length);
        EXPECT_EQ(static_cast<size_t>(n), std::strlen(buffer.c_str()));
        return buffer.c_str();
    }

    HostFolder host;
};

TEST_F(PluginTest, InitPublishesTheCountsAndNamesTheSettings) {
    WriteSettings("[Main]\r\nInfoNum=10\r\nItemNum=2\r\n[Info000]\r\nName=Headline\r\n");
    EXPECT_EQ(FunctionInfo(1)->setting_count, 1000);  // before Init
    EXPECT_EQ(PluginInit(), 0);
    EXPECT_EQ(FunctionInfo(1)->setting_count, 10);
    EXPECT_EQ(FunctionInfo(2)->setting_count, 2);

    EXPECT_EQ(Name(1, 1), "Headline");
    EXPECT_EQ(Name(1, 2), Cp932(u"設定002"));
    EXPECT_EQ(Name(1, 0), "");
    EXPECT_EQ(Name(1, 11), "");
    EXPECT_EQ(Name(2, 3), "");
    EXPECT_EQ(Name(3, 1), "");
    // Always terminated inside the caller's buffer, never half a character.
    EXPECT_EQ(Name(1, 1, 5), "Head");
    EXPECT_EQ(Name(1, 2, 4), Cp932(u"設"));
    EXPECT_EQ(Name(1, 2, 3), Cp932(u"設"));
    EXPECT_EQ(Name(1, 1, 1), "");
    char untouched = '#';
    EXPECT_EQ(PluginGetFuncSettingName(1, 1, &untouched, 0), 0);
    EXPECT_EQ(untouched, '#');

    // The settings dialog may store a new count; the host keeps seeing the
    // count of this Init.
    Plugin().info_count = 5;
    EXPECT_EQ(FunctionInfo(1)->setting_count, 10);
    EXPECT_NE(PluginFree(false), 0);
}

TEST_F(PluginTest, ShowSettingChecksTheRange) {
    WriteSettings("[Main]\r\nInfoNum=2\r\nItemNum=0\r\n");
    PluginInit();
    EXPECT_EQ(PluginShowSetting(1, 0, nullptr), 1);
    EXPECT_EQ(PluginShowSetting(1, 3, nullptr), 1);
    EXPECT_EQ(PluginShowSetting(2, 1, nullptr), 2);
    EXPECT_EQ(PluginShowSetting(7, 1, nullptr), 7);
    EXPECT_EQ(PluginShowSetting(-1, 1, nullptr), -1);
    PluginFree(false);
}

TEST_F(PluginTest, FreeStopsEverythingAndDetachDoesNotFreeTwice) {
    WriteFile(host.path() + "feed.xml", "<rss><channel><title>T</title><item><title>I</title></item></channel></rss>");
    WriteFeeds("[RSS000]\r\nURL=" + host.path() + "feed.xml\r\nRSSName=Local\r\n");
    WriteSettings("[Main]\r\nInfoNum=1\r\nItemNum=0\r\n[Info000]\r\nTarget=Local\r\nFormat=%title\r\n");
    PluginInit();
    EXPECT_EQ(Plugin().feeds.Count(), 1u);
    EXPECT_NE(PluginFree(false), 0);
    EXPECT_EQ(Plugin().feeds.Count(), 0u);
    EXPECT_EQ(CrawlerWorkers().Live(), 0u);
    EXPECT_FALSE(Plugin().plugin_lock.IsCreated());
    PluginDetach(false);  // Free already ran: nothing more to stop
    EXPECT_EQ(Plugin().info_settings.Count(), 0u);
}

// The host closing while servers trickle: Free cancels every running fetch
// at once and returns while the trickles are far from their end.
TEST_F(PluginTest, FreeCancelsTricklingFetchesInsteadOfWaitingForThem) {
    using End = TestHttpServer::TrickleEnd;
    TestHttpServer server;
    ASSERT_TRUE(server.Start());
    std::string feeds;
    for (int i = 0; i < 3; ++i) {
        std::string path = "/slow" + std::to_string(i);
        server.Route(path, TestHttpServer::TrickleBody(400, 100));
        feeds += "[RSS00" + std::to_string(i) + "]\r\nURL=" + server.Url(path) + "\r\nRSSName=s" + std::to_string(i) +
                 "\r\n";
    }
    WriteFeeds(feeds);
    WriteSettings("[Main]\r\nInfoNum=1\r\nItemNum=0\r\n[Info000]\r\nTarget=s0\r\nFormat=%title\r\n");
    PluginInit();
    for (int i = 0; i < 3; ++i) {
        std::string path = "/slow" + std::to_string(i);
        ASSERT_TRUE(WaitUntil([&] { return server.TrickleSent(path) >= 2; }, kWaitMs, "the trickles to begin"));
    }
    EXPECT_NE(PluginFree(false), 0);
    EXPECT_EQ(CrawlerWorkers().Live(), 0u);
    for (int i = 0; i < 3; ++i) {
        std::string path = "/slow" + std::to_string(i);
        SCOPED_TRACE(path);
        EXPECT_EQ(server.WaitForTrickleEnd(path, kWaitMs), End::kClientLeft);
        EXPECT_LT(server.TrickleSent(path), 400u) << "Free waited for the trickle";
    }
    server.Stop();
}

TEST_F(PluginTest, StartUpFetchesEveryFeedOnce) {
    WriteFile(host.path() + "feed.xml",
              "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Local news</title>"
              "<item><title>First</title></item></channel></rss>");
    WriteFeeds("[RSS000]\r\nURL=" + host.path() + "feed.xml\r\nRSSName=Local\r\n");
    WriteSettings("[Main]\r\nInfoNum=1\r\nItemNum=1\r\n[Info000]\r\nTarget=Local\r\nFormat=%title\r\n"
                  "[Item000]\r\nTarget=Local\r\nFormat=\"* %title\"\r\n");
    PluginInit();
    // The start-up fetch ends; the schedule thread keeps running until Free.
    FeedCrawler* crawler = Plugin().feeds.At<FeedEntry>(0)->crawler;
    ASSERT_TRUE(FetchesEnded(crawler)) << "the start-up fetch";
    char16_t buffer[64];
    EXPECT_EQ(PluginGetText(1, 1, nullptr, 0), 11);
    EXPECT_EQ(PluginGetText(1, 1, buffer, 64), 10);
    EXPECT_EQ(std::u16string(buffer), u"Local news");
    EXPECT_EQ(PluginGetText(2, 1, buffer, 64), 7);
    EXPECT_EQ(std::u16string(buffer), u"* First");
    EXPECT_NE(PluginFree(false), 0);
}

// A host may call Init again after Free without unloading (or load the
// library again while a worker still holds it): every cycle must start from
// nothing, and give the same texts as the first. The display settings of a
// cycle refer to its crawlers, which its Free destroys.
TEST_F(PluginTest, InitAfterFreeStartsFromNothing) {
    WriteFile(host.path() + "QVL_Data.ini",
              "[TimeZone001]\r\nSName=UTC\r\nName=UTC\r\n[TimeZone002]\r\nSName=IST\r\nName=India\r\n"
              "Hour=5\r\nMinute=30\r\n");
    std::string rss = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>News</title>"
                      "<item><title>one</title><pubDate>Mon, 07 Dec 2026 10:00:00 GMT</pubDate></item>"
                      "<item><title>two</title><pubDate>Sun, 06 Dec 2026 09:15:00 GMT</pubDate></item>"
                      "</channel></rss>";
    WriteFile(host.path() + "a.xml", rss);
    WriteFile(host.path() + "b.xml",
              "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>Blog</title><entry><title>post</title></entry></feed>");
    WriteFeeds("[RSS000]\r\nURL=" + host.path() + "a.xml\r\nRSSName=A\r\n[RSS001]\r\nURL=" + host.path() +
               "b.xml\r\nRSSName=B\r\n");
    WriteSettings("[Main]\r\nInfoNum=2\r\nItemNum=2\r\nMenuTimeZone=IST\r\n"
                  "[Info000]\r\nName=a\r\nTarget=A\r\nFormat=%title\r\n"
                  "[Info001]\r\nName=b\r\nTarget=B\r\nFormat=%title\r\n"
                  "[Item000]\r\nName=all\r\nTarget=A\r\nFlag=0x4\r\nFormat=\"%hh:%nn %title\"\r\n"
                  "Split=\" / \"\r\nTimeZone=IST\r\n"
                  "[Item001]\r\nName=post\r\nTarget=B\r\nFormat=%title\r\n");
    auto texts = [this] {
        std::string all;
        for (int number = 1; number <= 2; ++number) {
            for (int setting = 1; setting <= FunctionInfo(number)->setting_count; ++setting) {
                char16_t buffer[256] = {};
                PluginGetText(number, setting, buffer, 256);
                all += Name(number, setting) + "=" + Utf16ToUtf8(buffer, Utf16Length(buffer), LoneSurrogates::kKeep) + "\n";
            }
        }
        return all;
    };
    auto fetched = [] {
        for (FeedEntry* entry : Plugin().feeds.As<FeedEntry>())
            if (entry->crawler->workers.load() != 0 || !entry->crawler->document) return false;
        return true;
    };
    std::string first;
    for (int cycle = 0; cycle < 50; ++cycle) {
        SCOPED_TRACE(cycle);
        EXPECT_EQ(PluginInit(), 0);
        ASSERT_EQ(Plugin().feeds.Count(), 2u);
        ASSERT_EQ(Plugin().time_zones.Count(), 2u);
        ASSERT_EQ(Plugin().info_settings.Count(), 2u);
        ASSERT_EQ(Plugin().item_settings.Count(), 2u);
        ASSERT_TRUE(WaitUntil(fetched, kWaitMs, "the start-up fetches"));
        std::string now = texts();
        if (cycle == 0) {
            first = now;
            EXPECT_EQ(first, "a=News\nb=Blog\nall=15:30 one / 14:45 two\npost=post\n");
        }
        EXPECT_EQ(now, first);
        // A second Init without Free replaces the first instead of adding to it.
        if (cycle == 1) {
            EXPECT_EQ(PluginInit(), 0);
            EXPECT_EQ(Plugin().feeds.Count(), 2u);
            EXPECT_EQ(Plugin().item_settings.Count(), 2u);
            ASSERT_TRUE(WaitUntil(fetched, kWaitMs, "the start-up fetches"));
            EXPECT_EQ(texts(), first);
        }
        EXPECT_NE(PluginFree(false), 0);

        // Nothing of the cycle is left for the next, or for a late GetText.
        PluginState& state = Plugin();
        EXPECT_EQ(state.feeds.Count() + state.time_zones.Count(), 0u);
        EXPECT_EQ(state.info_settings.Count() + state.item_settings.Count(), 0u);
        EXPECT_EQ(state.info_count + state.item_count + state.options, 0);
        EXPECT_EQ(state.menu_time_zone, nullptr);
        EXPECT_EQ(FunctionInfo(1)->setting_count, 1000);
        EXPECT_EQ(FunctionInfo(2)->setting_count, 1000);
        char16_t buffer[16] = {u'#'};
        EXPECT_EQ(PluginGetText(2, 1, buffer, 16), 0);
        EXPECT_EQ(Name(1, 1), "");
        EXPECT_EQ(CrawlerWorkers().Live(), 0u);
    }
    PluginDetach(false);  // after a Free: nothing more to do
    EXPECT_EQ(Plugin().feeds.Count(), 0u);
}

#ifdef _WIN32
// The lock names the plugin used to give its mutexes: the same in every
// process that loads it at the same address, as a second clock does.
std::string OldLockName(const char* prefix, const void* address) {
    char name[100];
    std::snprintf(name, sizeof name, "%s%p", prefix, address);
    return name;
}

// Another process (this program, started with --hold-mutexes) creates and
// holds mutexes under the names the plugin's locks used to have. The locks
// are the process's own now: the fetch and Free go on as if it were not
// there. Free runs on a thread of its own, so that a hang would show as a
// failure instead of holding the test.
TEST_F(PluginTest, AnotherProcessHoldingTheOldLockNamesDelaysNothing) {
    std::string feed = host.path() + "feed.xml";
    WriteFile(feed, "<rss><channel><title>before</title></channel></rss>");
    WriteFeeds("[RSS000]\r\nURL=" + feed + "\r\nRSSName=Local\r\n");
    WriteSettings("[Main]\r\nInfoNum=1\r\nItemNum=0\r\n[Info000]\r\nTarget=Local\r\nFormat=%title\r\n");
    PluginInit();
    FeedCrawler* crawler = Plugin().feeds.At<FeedEntry>(0)->crawler;
    ASSERT_TRUE(FetchesEnded(crawler)) << "the start-up fetch";
    auto title = [] {
        char16_t buffer[32] = {};
        PluginGetText(1, 1, buffer, 32);
        return std::u16string(buffer);
    };
    ASSERT_EQ(title(), u"before");

    std::string tag = std::to_string(GetCurrentProcessId());
    std::string ready_name = "feedlet-test-ready-" + tag;
    std::string release_name = "feedlet-test-release-" + tag;
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, ready_name.c_str());
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, release_name.c_str());
    ASSERT_TRUE(ready && release);
    char program[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    std::string command = "\"" + std::string(program) + "\" --hold-mutexes " + ready_name + " " + release_name + " " +
                          OldLockName("QVLP_Feedlet_", Plugin().module) + " " +
                          OldLockName("Brantworks_RSS_Crawl_", crawler);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child));
    EXPECT_EQ(WaitForSingleObject(ready, kWaitMs), WAIT_OBJECT_0) << "the other process did not take the names";

    WriteFile(feed, "<rss><channel><title>after</title></channel></rss>");
    Start(crawler);
    bool fetched = WaitUntil([&] { return title() == u"after"; }, 20000, "the fetch");
    std::atomic<int> freed{0};
    platform::WorkerGroup freeing;
    freeing.Start([](void* result) { static_cast<std::atomic<int>*>(result)->store(PluginFree(false) ? 1 : 2); },
                  &freed);
    bool free_returned = WaitUntil([&] { return freed.load() != 0; }, 20000, "Free");

    SetEvent(release);
    DWORD exit_code = 9;
    EXPECT_EQ(WaitForSingleObject(child.hProcess, kWaitMs), WAIT_OBJECT_0);
    GetExitCodeProcess(child.hProcess, &exit_code);
    EXPECT_TRUE(freeing.WaitIdle(kWaitMs));
    EXPECT_TRUE(fetched) << "a fetch waited for the other process";
    EXPECT_TRUE(free_returned) << "Free waited for the other process";
    EXPECT_EQ(freed.load(), 1);
    EXPECT_EQ(exit_code, 0u) << "the other process could not hold every name";
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    CloseHandle(ready);
    CloseHandle(release);
}
#endif

}  // namespace

#ifdef _WIN32
// The other process of the test above: takes a mutex under each name, as a
// second copy of the plugin would, says so through the ready event, and
// holds them until the release event (its exit lets them go).
int feedlet::testing_util::HoldNamedMutexes(int count, char** arguments) {
    if (count < 2) return 2;
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, arguments[0]);
    HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, arguments[1]);
    if (!ready || !release) return 2;
    int held = 0;
    for (int i = 2; i < count; ++i) {
        HANDLE mutex = CreateMutexA(nullptr, FALSE, arguments[i]);
        if (mutex && WaitForSingleObject(mutex, 10000) != WAIT_TIMEOUT) ++held;
    }
    SetEvent(ready);
    WaitForSingleObject(release, 120000);
    return held == count - 2 ? 0 : 3;
}
#endif
