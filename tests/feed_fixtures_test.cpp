// Whole feeds from files, through download, decoding, parsing and extraction,
// compared with the JSON that feedlet-tool dump must print for them. The
// fixtures and their expected output are written by
// fixtures/feeds/generate.py.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "cmd_dump.h"
#include "feed/feed_document.h"
#include "fetch/feed_builder.h"
#include "test_util.h"

using namespace feedlet;

// The feed fuzz target, compiled into the tests under this name.
extern "C" int FuzzFeedOneInput(const uint8_t* data, size_t size);

namespace {

const std::string kFeeds = std::string(FEEDLET_FIXTURES) + "/feeds/";

std::string Expected(const std::string& name) {
    std::string text = ReadFile(kFeeds + name);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

TEST(FeedFixturesTest, DumpsMatchTheExpectedJson) {
    const char* const kFixtures[] = {
        "rss091", "rss092", "rss20", "rss10", "atom10",
        "ja-utf8", "ja-utf8-bom", "ja-utf16le", "ja-utf16be", "ja-shiftjis", "ja-eucjp", "ja-iso2022jp",
        "damaged",
    };
    for (const char* name : kFixtures) {
        for (bool sort : {false, true}) {
            SCOPED_TRACE(std::string(name) + (sort ? " sorted" : ""));
            FeedDocument document;
            ASSERT_TRUE(BuildFeedDocument(&document, (kFeeds + name + ".xml").c_str(), sort));
            EXPECT_EQ(tool::FeedDocumentJson(document), Expected(std::string(name) + (sort ? ".sorted.json" : ".json")));
        }
    }
}

TEST(FeedFixturesTest, FeedWithoutItems) {
    FeedDocument document;
    ASSERT_TRUE(BuildFeedDocument(&document, (kFeeds + "no-items.xml").c_str(), true));
    EXPECT_EQ(tool::FeedDocumentJson(document), Expected("no-items.json"));
    EXPECT_EQ(tool::FeedDocumentCountJson(document), "{\"kind\":2,\"articles\":0}");
}

TEST(FeedFixturesTest, Counts) {
    FeedDocument document;
    ASSERT_TRUE(BuildFeedDocument(&document, (kFeeds + "rss20.xml").c_str(), false));
    EXPECT_EQ(tool::FeedDocumentCountJson(document), "{\"kind\":2,\"articles\":7}");
    ASSERT_TRUE(BuildFeedDocument(&document, (kFeeds + "atom10.xml").c_str(), true));
    EXPECT_EQ(tool::FeedDocumentCountJson(document), "{\"kind\":3,\"articles\":4}");
}

TEST(FeedFixturesTest, FailuresLeaveAnEmptyDocument) {
    TempDir dir;
    WriteFile(dir.path() + "page.html", "<html><head><title>404</title></head></html>");
    WriteFile(dir.path() + "nochannel.xml", "<?xml version=\"1.0\"?><rss><item/></rss>");
    WriteFile(dir.path() + "nodecl-end.xml", "<?xml version=\"1.0\"<rss><channel/></rss>");
    WriteFile(dir.path() + "empty.xml", "");
    // UTF-16 without a byte-order mark is read as UTF-8 up to its first zero.
    WriteFile(dir.path() + "utf16-nobom.xml", std::string("<\0r\0s\0s\0>\0", 10));
    for (const char* name : {"page.html", "nochannel.xml", "nodecl-end.xml", "empty.xml", "utf16-nobom.xml",
                             "missing.xml"}) {
        SCOPED_TRACE(name);
        FeedDocument document;
        EXPECT_FALSE(BuildFeedDocument(&document, (dir.path() + name).c_str(), true));
        EXPECT_EQ(tool::FeedDocumentJson(document),
                  "{\"kind\":0,\"channel\":{\"title\":null,\"description\":null,\"link\":null,"
                  "\"copyright\":null,\"time\":null},\"articles\":null}");
    }
    FeedDocument document;
    EXPECT_FALSE(BuildFeedDocument(&document, nullptr, false));
    EXPECT_FALSE(BuildFeedDocument(nullptr, (kFeeds + "rss20.xml").c_str(), false));
}

TEST(FeedFixturesTest, FailedDownloadLeavesTheDocumentAsItWas) {
    FeedDocument document;
    ASSERT_TRUE(BuildFeedDocument(&document, (kFeeds + "rss20.xml").c_str(), false));
    EXPECT_FALSE(BuildFeedDocument(&document, (kFeeds + "does-not-exist.xml").c_str(), false));
    EXPECT_EQ(document.kind, kFeedRss2);
    EXPECT_EQ(document.ArticleCount(), 7u);
}

TEST(FeedFixturesTest, FuzzCorpusReplays) {
    const std::filesystem::path corpus = std::filesystem::path(FEEDLET_FUZZ_CORPUS) / "feed";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        const std::string bytes = ReadFile(entry.path().string());
        SCOPED_TRACE(entry.path().filename().string());
        EXPECT_EQ(FuzzFeedOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0);
        ++files;
    }
    EXPECT_GT(files, 10);
}

}  // namespace
