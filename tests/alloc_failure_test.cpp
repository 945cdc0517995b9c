// The load path, the extraction and the configuration reader when memory
// runs out: the Nth allocation fails, for every N, once (the allocations
// after it succeed) or for good (every one from the Nth on fails, the
// clean-up's included). The countdown is the platform's (platform/memory.h):
// it reaches the engine's C blocks, the platform's own (file contents, HTTP
// bodies, converters) and, through this program's operator new
// (alloc_hook.cpp), every allocation of the standard library.
//
// Each run must end with the whole result or the documented failure, and the
// sanitizers check that nothing leaks and nothing is touched after release.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cmd_dump.h"
#include "config/configuration.h"
#include "feed/feed_document.h"
#include "feed/xml_internal.h"
#include "fetch/feed_builder.h"
#include "fetch/feed_crawler.h"
#include "http_test_server.h"
#include "platform/memory.h"
#include "platform/platform.h"
#include "test_util.h"

namespace feedlet {
namespace {

using testing_util::Cp932;
using testing_util::ReadFile;
using testing_util::TempDir;
using testing_util::WriteFile;

// Far more allocations than any run below needs: a run that never gets
// through means a loop that retries forever.
constexpr long kMaxRuns = 200000;

// Calls run(n, every_later) for N = 0, 1, ..., first with the Nth allocation
// failing once, then with every allocation from the Nth on failing, until a
// run meets no refusal. run arms the countdown itself, after its own set-up,
// disarms it before it checks anything, and returns whether it was refused.
template <typename Run>
void ForEveryAllocation(Run run) {
    for (bool every_later : {false, true}) {
        long n = 0;
        for (; n < kMaxRuns; ++n) {
            SCOPED_TRACE(testing::Message() << "allocation " << n << " failing"
                                            << (every_later ? " from then on" : " once"));
            if (!run(n, every_later) || testing::Test::HasFailure()) break;
        }
        EXPECT_LT(n, kMaxRuns) << "never got through";
        // Every case below makes far more than a few allocations.
        EXPECT_GT(n, 3);
    }
}

// ---------------------------------------------------------------------------
// Loading and extraction

const std::string kFeeds = std::string(FEEDLET_FIXTURES) + "/feeds/";

std::string Json(const FeedDocument& document) { return tool::FeedDocumentJson(document); }

// The caller's document before each build: another feed, so that a build
// that changed it is told from one that left it alone.
void FillPrevious(FeedDocument& document) {
    ASSERT_TRUE(BuildFeedDocument(&document, (kFeeds + "rss092.xml").c_str(), false));
}

struct BuildOutcome {
    bool built;
    std::string json;  // made after the countdown is disarmed
};

// A build that met a refusal either succeeded all the same with the whole
// document (a look-up structure it can do without, a shrink it can skip) or
// failed with the caller's document as it was (the download or the parse
// failed) or empty (the extraction did): never a document with something
// missing reported as success.
void ExpectWholeOrFailed(const BuildOutcome& outcome, bool refused, const std::string& whole,
                         const std::string& previous, const std::string& empty) {
    if (!refused) {
        EXPECT_TRUE(outcome.built);
        EXPECT_EQ(outcome.json, whole);
    } else if (outcome.built) {
        EXPECT_EQ(outcome.json, whole) << "a build that ran out of memory reported another document";
    } else if (outcome.json != previous) {
        EXPECT_EQ(outcome.json, empty) << "a failed build changed the document";
    }
}

class LoadPathAllocation : public ::testing::TestWithParam<const char*> {};

// Builds from location for every N, the caller's document made before the
// countdown is armed.
void BuildForEveryAllocation(const std::string& location) {
    const std::string empty = Json(FeedDocument());
    FeedDocument reference;
    const bool recognised = BuildFeedDocument(&reference, location.c_str(), true);
    const std::string whole = Json(reference);
    FeedDocument before;
    FillPrevious(before);
    const std::string previous = Json(before);
    ForEveryAllocation([&](long n, bool every_later) {
        FeedDocument document;
        FillPrevious(document);
        platform::FailAllocationsForTesting(n, every_later);
        bool built = BuildFeedDocument(&document, location.c_str(), true);
        bool refused = platform::StopFailingAllocationsForTesting();
        if (!recognised && !refused) {
            // A file that holds no feed (or a damaged one) fails as itself.
            EXPECT_FALSE(built);
            EXPECT_EQ(Json(document), empty);
        } else {
            ExpectWholeOrFailed({built, Json(document)}, refused, whole, previous, empty);
        }
        return refused;
    });
}

TEST_P(LoadPathAllocation, EveryFailureGivesTheWholeDocumentOrAFailedBuild) {
    BuildForEveryAllocation(kFeeds + GetParam());
    // Again with arena blocks so small that every node, list and attribute
    // of the tree is an allocation of its own.
    xml_detail::ForceArenaBlockSizeForTesting(1);
    BuildForEveryAllocation(kFeeds + GetParam());
    xml_detail::ForceArenaBlockSizeForTesting(0);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, LoadPathAllocation,
                         ::testing::Values("rss10.xml", "rss20.xml", "atom10.xml", "ja-shiftjis.xml",
                                           "ja-eucjp.xml", "ja-iso2022jp.xml", "ja-utf16le.xml",
                                           "ja-utf8-bom.xml", "damaged.xml", "no-items.xml"),
                         [](const auto& fixture) {
                             std::string name = fixture.param;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

// Over HTTP the platform's download code allocates too (the body, and on
// Windows the strings of the URL and the redirects).
TEST(LoadPathAllocationHttp, EveryFailureGivesTheWholeDocumentOrAFailedBuild) {
    TestHttpServer server;
    ASSERT_TRUE(server.Start());
    server.Route("/feed", TestHttpServer::Body(200, ReadFile(kFeeds + "ja-utf8.xml")));
    BuildForEveryAllocation(server.Url("/feed"));
}

// The worker's fetch: out of memory anywhere, the crawler keeps its last
// document (and nothing is told); otherwise it installs the whole new one.
TEST(CrawlerAllocation, AFetchThatRunsOutOfMemoryKeepsTheLastDocument) {
    const std::string location = kFeeds + "atom10.xml";
    FeedDocument reference;
    ASSERT_TRUE(BuildFeedDocument(&reference, location.c_str(), false));
    const std::string whole = Json(reference);
    static int updates;
    ForEveryAllocation([&](long n, bool every_later) {
        FeedCrawler crawler;
        Configure(&crawler, location.c_str(), 1800, 0);
        crawler.document = new FeedDocument;
        FillPrevious(*crawler.document);
        const std::string previous = Json(*crawler.document);
        crawler.notify = [](FeedCrawler*) { ++updates; };
        updates = 0;
        Lock(&crawler);
        platform::FailAllocationsForTesting(n, every_later);
        CrawlerThread(&crawler);
        bool refused = platform::StopFailingAllocationsForTesting();
        Unlock(&crawler);
        std::string now = Json(*crawler.document);
        if (updates == 1) EXPECT_EQ(now, whole);
        else EXPECT_EQ(now, previous) << "the last document changed without an update";
        if (!refused) {
            EXPECT_EQ(updates, 1);
        }
        EXPECT_TRUE(TryLock(&crawler));
        Unlock(&crawler);
        Destroy(&crawler);
        return refused;
    });
}

// ---------------------------------------------------------------------------
// The configuration reader

// A host folder as the host lays it out, with every kind of record: zones,
// feeds, settings of both functions with texts, targets and zones.
class ConfigurationAllocation : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(host_.ok());
        WriteFile(HostDataFilePath(),
                  "[TimeZone001]\r\nSName=TYO\r\nName=" + Cp932(u"東京") +
                      "\r\nHour=9\r\n[TimeZone002]\r\nSName=NYC\r\nName=" + Cp932(u"ニューヨーク") +
                      "\r\nHour=5\r\nMinus=1\r\n");
        WriteFile(FeedListPath(), "[RSS000]\r\nRSSName=" + Cp932(u"日本語の表") +
                                      "\r\nURL=http://127.0.0.1:1/a.rdf\r\nInterval=600\r\nFlag=1\r\n"
                                      "[RSS001]\r\nRSSName=B\r\nURL=C:\\feeds\\b.xml\r\n");
        WriteFile(SettingsPath(), "[Main]\r\nInfoNum=2\r\nItemNum=1\r\nMenuTimeZone=NYC\r\nFlag=0\r\n"
                                  "[Info000]\r\nName=" + Cp932(u"表示") + "\r\nTarget=B\r\nFormat=" +
                                      Cp932(u"%title：%pass") + "\r\nSplit=\" / \"\r\nTimeZone=TYO\r\n"
                                  "[Info001]\r\nTarget=missing\r\nNum=7\r\n"
                                  "[Item000]\r\nTarget=" + Cp932(u"日本語の表") + "\r\nTimeZone=NYC\r\n");
    }
    std::string Files() const {
        return ReadFile(HostDataFilePath()) + "|" + ReadFile(FeedListPath()) + "|" + ReadFile(SettingsPath());
    }

    HostFolder host_;
};

std::string Narrow(const TextField& field) { return field.Narrow() ? field.Narrow() : ""; }
std::string Wide(const TextField& field) {
    return field.Wide() ? testing_util::UnitsOf(field.Wide()) : "";
}

// One line per record, list by list, references written as what they point
// to; a reference that points outside its list is a fault of its own.
std::vector<std::vector<std::string>> Records(const Configuration& c, std::string* fault) {
    auto zone_of = [&](const TimeZoneEntry* zone) -> std::string {
        if (!zone) return "-";
        for (const TimeZoneEntry* z : c.time_zones.As<TimeZoneEntry>())
            if (z == zone) return z->short_name;
        *fault = "a zone reference outside the zones";
        return "?";
    };
    auto feed_of = [&](const FeedCrawler* crawler) -> std::string {
        if (!crawler) return "-";
        for (const FeedEntry* e : c.feeds.As<FeedEntry>())
            if (e->crawler == crawler) return e->name;
        *fault = "a target outside the feeds";
        return "?";
    };
    std::vector<std::vector<std::string>> lists(4);
    for (const TimeZoneEntry* z : c.time_zones.As<TimeZoneEntry>())
        lists[0].push_back(std::string(z->short_name) + " " + Narrow(z->name) + " " + std::to_string(z->offset));
    for (const FeedEntry* e : c.feeds.As<FeedEntry>())
        lists[1].push_back(std::string(e->name) + " " + Narrow(e->crawler->url) + " " +
                           std::to_string(e->crawler->interval) + " " + std::to_string(e->crawler->flags) +
                           (e->crawler->mutex.IsCreated() ? "" : " unguarded"));
    int i = 2;
    for (const ItemList* list : {&c.info_settings, &c.item_settings}) {
        for (const DisplaySetting* s : list->As<DisplaySetting>())
            lists[i].push_back(std::string(s->name) + " " + feed_of(s->crawler) + " " + std::to_string(s->flag) +
                               " " + std::to_string(s->num) + " " + std::to_string(s->time) + " " +
                               Wide(s->split) + "/" + Wide(s->format) + " " + zone_of(s->zone));
        ++i;
    }
    zone_of(c.menu_time_zone);
    return lists;
}

TEST_F(ConfigurationAllocation, ReadingStopsWithTheRecordsReadWhole) {
    std::string fault;
    std::vector<std::vector<std::string>> whole;
    {
        Configuration reference;
        LoadConfiguration(reference);
        whole = Records(reference, &fault);
        ASSERT_EQ(fault, "");
        ASSERT_EQ(whole[0].size(), 2u);
        ASSERT_EQ(whole[1].size(), 2u);
        ASSERT_EQ(whole[2].size(), 2u);
        ASSERT_EQ(whole[3].size(), 1u);
    }
    const std::string files = Files();
    ForEveryAllocation([&](long n, bool every_later) {
        Configuration config;
        platform::FailAllocationsForTesting(n, every_later);
        LoadConfiguration(config);
        bool refused = platform::StopFailingAllocationsForTesting();
        std::string reference_fault;
        auto got = Records(config, &reference_fault);
        EXPECT_EQ(reference_fault, "");
        // Each list holds the first records of the whole reading, and a list
        // is read only when the one before it was read whole.
        bool stopped = false;
        for (size_t list = 0; list < got.size(); ++list) {
            SCOPED_TRACE(testing::Message() << "list " << list);
            if (stopped) {
                EXPECT_TRUE(got[list].empty()) << "records read after the reading stopped";
                continue;
            }
            EXPECT_LE(got[list].size(), whole[list].size());
            for (size_t r = 0; r < got[list].size() && r < whole[list].size(); ++r)
                EXPECT_EQ(got[list][r], whole[list][r]);
            stopped = got[list].size() < whole[list].size();
        }
        if (!refused) {
            EXPECT_FALSE(stopped);
        }
        EXPECT_EQ(Files(), files) << "reading changed a file";
        return refused;
    });
}

}  // namespace
}  // namespace feedlet
