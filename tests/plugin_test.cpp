// The plugin's lifetime through its portable entry points, from a real
// plugin folder: what the host sees through the exports.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config/configuration.h"
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
    ASSERT_TRUE(WaitUntil([crawler] { return crawler->workers.load() == 0; }, kWaitMs, "the start-up fetch"));
    char16_t buffer[64];
    EXPECT_EQ(PluginGetText(1, 1, nullptr, 0), 11);
    EXPECT_EQ(PluginGetText(1, 1, buffer, 64), 10);
    EXPECT_EQ(std::u16string(buffer), u"Local news");
    EXPECT_EQ(PluginGetText(2, 1, buffer, 64), 7);
    EXPECT_EQ(std::u16string(buffer), u"* First");
    EXPECT_NE(PluginFree(false), 0);
}

}  // namespace
