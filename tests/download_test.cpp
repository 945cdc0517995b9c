// Downloads from files and from a real HTTP server on 127.0.0.1: the same
// cases run natively (libcurl) and under Wine (WinINet).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fetch/download.h"
#include "platform/memory.h"
#include "platform/platform.h"
#include "http_test_server.h"
#include "test_util.h"

#ifdef _WIN32
#include <windows.h>  // to hold a file open, and to fill WinINet's cache as another program would
#include <wininet.h>
#endif

using namespace feedlet;

namespace {

using Reply = TestHttpServer::Reply;

// Short limits so a stalled server costs a second, not half a minute.
constexpr platform::HttpLimits kQuickLimits{1000, 10000, 4096, 64 << 10, 4};

std::string Contents(const DownloadBuffer& buffer) {
    return buffer.data ? std::string(reinterpret_cast<const char*>(buffer.data), buffer.length) : std::string();
}

// The data is followed by three zero bytes that length does not count.
void ExpectTerminated(const DownloadBuffer& buffer) {
    ASSERT_NE(buffer.data, nullptr);
    for (size_t i = 0; i < kDownloadTerminator; ++i) EXPECT_EQ(buffer.data[buffer.length + i], 0) << i;
}

void ExpectEmpty(const DownloadBuffer& buffer) {
    EXPECT_EQ(buffer.length, 0u);
    EXPECT_EQ(buffer.data, nullptr);
}

// A buffer that holds something, to show that every fetch starts afresh.
void Prefill(DownloadBuffer& buffer) {
    auto* block = static_cast<unsigned char*>(calloc(8, 1));
    std::memcpy(block, "stale", 5);
    buffer.Adopt(block, 5);
}

class DownloadHttpTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server_.Start()); }
    void TearDown() override { server_.Stop(); }
    TestHttpServer server_;
};

TEST(DownloadFileTest, ReadsWholeFilesAndFailsOnMissingOnes) {
    TempDir dir;
    const std::string binary("<rss>\0\xFF\xFE</rss>", 13);
    WriteFile(dir.path() + "feed.xml", binary);
    WriteFile(dir.path() + "empty.xml", "");

    DownloadBuffer buffer;
    Prefill(buffer);
    ASSERT_TRUE(ReadLocalFile(buffer, (dir.path() + "feed.xml").c_str()));
    EXPECT_EQ(Contents(buffer), binary);
    ExpectTerminated(buffer);

    // Empty: success, no data bytes, but a block holding the terminator.
    ASSERT_TRUE(FetchLocation(buffer, (dir.path() + "empty.xml").c_str()));
    EXPECT_EQ(buffer.length, 0u);
    ExpectTerminated(buffer);

    Prefill(buffer);
    EXPECT_FALSE(FetchLocation(buffer, (dir.path() + "missing.xml").c_str()));
    ExpectEmpty(buffer);
    Prefill(buffer);
    EXPECT_FALSE(FetchLocation(buffer, nullptr));
    ExpectEmpty(buffer);
    EXPECT_FALSE(FetchLocation(buffer, ""));
    EXPECT_FALSE(FetchLocation(buffer, dir.path().c_str()));  // a folder
    ExpectEmpty(buffer);
}

TEST(DownloadFileTest, FilesAboveTheSizeLimitFail) {
    TempDir dir;
    std::string path = dir.path() + "huge.xml";
    WriteFile(path, std::string(kMaxDocumentBytes + 1, 'x'));
    DownloadBuffer buffer;
    EXPECT_FALSE(ReadLocalFile(buffer, path.c_str()));
    ExpectEmpty(buffer);
    WriteFile(path, std::string(kMaxDocumentBytes, 'x'));
    ASSERT_TRUE(ReadLocalFile(buffer, path.c_str()));
    EXPECT_EQ(buffer.length, kMaxDocumentBytes);
    ExpectTerminated(buffer);
}

#ifdef _WIN32
// Readers share a file; a writer that holds it keeps every reader out, so a
// file being written is never read half-done.
TEST(DownloadFileTest, ReadersShareAFileAndAWriterKeepsThemOut) {
    TempDir dir;
    std::string path = dir.path() + "busy.xml";
    WriteFile(path, "<rss/>");
    DownloadBuffer buffer;
    {
        HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(reader, INVALID_HANDLE_VALUE);
        EXPECT_TRUE(ReadLocalFile(buffer, path.c_str()));
        EXPECT_EQ(Contents(buffer), "<rss/>");
        CloseHandle(reader);
    }
    for (DWORD share : {DWORD{0}, DWORD{FILE_SHARE_READ}, DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE}}) {
        SCOPED_TRACE(share);
        HANDLE writer =
            CreateFileA(path.c_str(), GENERIC_WRITE, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(writer, INVALID_HANDLE_VALUE);
        Prefill(buffer);
        EXPECT_FALSE(ReadLocalFile(buffer, path.c_str()));
        ExpectEmpty(buffer);
        CloseHandle(writer);
    }
    EXPECT_TRUE(ReadLocalFile(buffer, path.c_str()));
}
#endif

// Only the exact bytes "http" at the start mean a URL: a relative file
// name in other cases is a file, and "http..." is never one.
TEST_F(DownloadHttpTest, OnlyLowerCaseHttpPrefixMeansUrl) {
    // The server's port keeps the names apart from other runs.
    const std::string tag = server_.Url("").substr(server_.Url("").rfind(':') + 1);
    struct Row {
        std::string name;
        bool is_file;
    } rows[] = {
        {"HTTP_feedlet_" + tag + ".xml", true},
        {"Http_feedlet_" + tag + ".xml", true},
        {"htt_feedlet_" + tag + ".xml", true},
        {"http_feedlet_" + tag + ".xml", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WriteFile(row.name, "<rss/>");  // in the working directory: a relative path
        DownloadBuffer buffer;
        EXPECT_EQ(FetchLocation(buffer, row.name.c_str()), row.is_file);
        std::remove(row.name.c_str());
    }

    // The server sees nothing of an upper-case URL: it is a file name.
    server_.Route("/feed", TestHttpServer::Body(200, "<rss/>"));
    std::string url = server_.Url("/feed");
    std::string upper = "HTTP" + url.substr(4);
    DownloadBuffer buffer;
    EXPECT_FALSE(FetchLocation(buffer, upper.c_str()));
    EXPECT_EQ(server_.ConnectionCount(), 0);
    ASSERT_TRUE(FetchLocation(buffer, url.c_str()));
    EXPECT_EQ(Contents(buffer), "<rss/>");

    // "https" goes to the network (and fails against a plain-HTTP server).
    std::string secure = "https" + url.substr(4);
    EXPECT_FALSE(FetchLocation(buffer, secure.c_str()));
    ExpectEmpty(buffer);
    EXPECT_GE(server_.ConnectionCount(), 2);
}

TEST_F(DownloadHttpTest, BodiesComeBackWhateverTheStatus) {
    std::string long_body;
    for (int i = 0; long_body.size() < 100000; ++i) long_body += "<item>" + std::to_string(i) + "</item>\n";
    const std::string piece(5000, 'p');
    struct Row {
        const char* name;
        Reply reply;
        std::string expected;
    } rows[] = {
        {"plain", TestHttpServer::Body(200, "<rss>feed</rss>"), "<rss>feed</rss>"},
        {"empty", TestHttpServer::Body(200, ""), ""},
        {"not found", TestHttpServer::Body(404, "<html>missing</html>"), "<html>missing</html>"},
        {"server error", TestHttpServer::Body(500, "oops"), "oops"},
        {"zero bytes inside", TestHttpServer::Body(200, std::string("a\0b\0", 4)), std::string("a\0b\0", 4)},
        {"many reads", TestHttpServer::Body(200, long_body), long_body},
        // A read shorter than a full chunk does not end the transfer.
        {"chunked", TestHttpServer::Chunked({"<rss>", piece, "x", "</rss>"}), "<rss>" + piece + "x</rss>"},
        {"broken off", TestHttpServer::BrokenOff("<rss><item>first</item>", 5000), "<rss><item>first</item>"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string path = std::string("/") + row.name;
        for (char& c : path) c = c == ' ' ? '-' : c;
        server_.Route(path, row.reply);
        DownloadBuffer buffer;
        Prefill(buffer);
        ASSERT_TRUE(FetchLocation(buffer, server_.Url(path).c_str()));
        EXPECT_EQ(buffer.length, row.expected.size());
        EXPECT_TRUE(Contents(buffer) == row.expected);
        ExpectTerminated(buffer);  // an empty body too
        EXPECT_EQ(server_.RequestCount(path), 1);  // asked once, never repeated
    }
}

TEST_F(DownloadHttpTest, SendsTheAgentAndFollowsRedirects) {
    server_.Route("/old", TestHttpServer::Redirect(server_.Url("/moved/once")));
    server_.Route("/moved/once", TestHttpServer::Redirect("/new"));  // relative
    server_.Route("/new", TestHttpServer::Body(200, "<feed/>"));
    DownloadBuffer buffer;
    ASSERT_TRUE(FetchHttp(buffer, server_.Url("/old").c_str()));
    EXPECT_EQ(Contents(buffer), "<feed/>");
    EXPECT_NE(server_.LastRequest("/old").find("User-Agent: URL File Open By Marlun@Hestrovia\r\n"),
              std::string::npos)
        << server_.LastRequest("/old");
    EXPECT_NE(server_.LastRequest("/new").find("GET /new "), std::string::npos);
}

TEST_F(DownloadHttpTest, FailuresLeaveTheBufferEmpty) {
    // A port nobody listens on: take one from a server that has stopped.
    std::string closed;
    {
        TestHttpServer gone;
        ASSERT_TRUE(gone.Start());
        closed = gone.Url("/feed");
    }
    server_.Route("/silent", TestHttpServer::Stall());
    server_.Route("/loop", TestHttpServer::Redirect("/loop"));
    struct Row {
        const char* name;
        std::string url;
    } rows[] = {
        {"nothing listening", closed},
        {"silent server", server_.Url("/silent")},
        {"redirect loop", server_.Url("/loop")},
        {"no host", "http://"},
        {"not a URL", "httpfeed"},
        {"unknown scheme", "httpx://127.0.0.1/"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DownloadBuffer buffer;
        Prefill(buffer);

        EXPECT_FALSE(FetchHttp(buffer, row.url.c_str(), kQuickLimits));
        ExpectEmpty(buffer);
    }
}

// A server that stops talking mid-body is treated like one that hangs up:
// the fetch ends after the time-out with what had arrived.
TEST_F(DownloadHttpTest, StallMidBodyKeepsWhatArrived) {
    const std::string sent = "<rss><item>";
    server_.Route("/half", TestHttpServer::StallAfter(sent, 400));
    DownloadBuffer buffer;
    ASSERT_TRUE(FetchHttp(buffer, server_.Url("/half").c_str(), kQuickLimits));
    ExpectTerminated(buffer);
    EXPECT_EQ(Contents(buffer), sent);
}

// A server that keeps every unit well inside the time-out: only the
// deadline, or a limit on the head, can end the fetch. Interim responses are
// not counted unless a test asks.
constexpr uint32_t kTrickleMs = 250;
platform::HttpLimits TrickleLimits(uint32_t deadline_ms, uint32_t max_interim = 100000) {
    return platform::HttpLimits{10000, deadline_ms, 4096, 64 << 10, max_interim};
}

struct FetchRun {
    FetchRun(std::string path, std::string address, const platform::HttpLimits& with)
        : name(std::move(path)), url(std::move(address)), limits(with) {}
    std::string name;
    std::string url;
    platform::HttpLimits limits;
    bool ok = false;
    std::string body;
};

// Runs the fetches at once, one thread each, and waits at most wait_ms for
// all of them. A fetch still running then is a failure; the server is
// stopped so that it lets go, and the threads are joined either way.
void FetchAllWithin(TestHttpServer& server, std::vector<FetchRun>& runs, uint32_t wait_ms) {
    std::mutex lock;
    std::condition_variable changed;
    size_t finished = 0;
    std::vector<std::thread> threads;
    for (FetchRun& run : runs) {
        threads.emplace_back([&run, &lock, &changed, &finished] {
            DownloadBuffer buffer;
            bool ok = FetchHttp(buffer, run.url.c_str(), run.limits);
            std::lock_guard<std::mutex> hold(lock);
            run.ok = ok;
            run.body = Contents(buffer);
            ++finished;
            changed.notify_all();
        });
    }
    {
        std::unique_lock<std::mutex> hold(lock);
        if (!changed.wait_for(hold, std::chrono::milliseconds(wait_ms), [&] { return finished == runs.size(); })) {
            ADD_FAILURE() << runs.size() - finished << " fetches still running after " << wait_ms << " ms";
            hold.unlock();
            server.Stop();
        }
    }
    for (std::thread& t : threads) t.join();
}

// Trickles that would go on for a hundred seconds end at the deadline, and
// the server sees the client hang up while it still had units to send. A
// head that never completes fails; a body that had begun keeps what arrived.
TEST_F(DownloadHttpTest, ThreadsTricklesEndAtTheDeadline) {
    using End = TestHttpServer::TrickleEnd;
    server_.Route("/body", TestHttpServer::TrickleBody(400, kTrickleMs));
    server_.Route("/headers", TestHttpServer::TrickleHeaders(400, kTrickleMs));
    server_.Route("/continue", TestHttpServer::EndlessContinue(400, kTrickleMs));
    // Each hop alone takes 1.25 s, well inside the deadline; together they
    // do not.
    server_.Route("/hop1", TestHttpServer::TrickleHeaders(6, kTrickleMs, "/hop2"));
    server_.Route("/hop2", TestHttpServer::TrickleHeaders(6, kTrickleMs));
    std::vector<FetchRun> runs;
    for (const char* path : {"/body", "/headers", "/continue", "/hop1"})
        runs.emplace_back(path, server_.Url(path), TrickleLimits(2000));
    FetchAllWithin(server_, runs, 20000);

    for (const FetchRun& run : runs) {
        SCOPED_TRACE(run.name);
        EXPECT_EQ(run.ok, run.name == "/body");
        std::string trickled = run.name == "/hop1" ? "/hop2" : run.name;
        EXPECT_EQ(server_.WaitForTrickleEnd(trickled, 5000), End::kClientLeft);
    }
    EXPECT_EQ(server_.WaitForTrickleEnd("/hop1", 0), End::kCompleted);
    const std::string& body = runs[0].body;
    EXPECT_FALSE(body.empty());
    EXPECT_LE(body.size(), server_.TrickleSent("/body"));
    for (size_t i = 0; i < body.size(); ++i) ASSERT_EQ(body[i], TestHttpServer::StreamByte(i)) << i;
}

// Floods of head bytes fail long before a distant deadline, whether they
// come as many header lines or as one line without end. libcurl also counts
// interim responses; WinINet answers them itself and never shows them, so
// there only the deadline ends them (above).
TEST_F(DownloadHttpTest, ThreadsHeadFloodsFailAtTheirLimit) {
    using End = TestHttpServer::TrickleEnd;
    const size_t flood = size_t{1} << 30;
    server_.Route("/lines", TestHttpServer::HeaderFlood(flood, 64));
    server_.Route("/one-line", TestHttpServer::HeaderFlood(flood, flood));
    std::vector<FetchRun> runs;
    runs.emplace_back("/lines", server_.Url("/lines"), TrickleLimits(60000));
    runs.emplace_back("/one-line", server_.Url("/one-line"), TrickleLimits(60000));
#ifndef _WIN32
    server_.Route("/continue", TestHttpServer::EndlessContinue(400, 20));
    runs.emplace_back("/continue", server_.Url("/continue"), TrickleLimits(60000, 4));
#endif
    FetchAllWithin(server_, runs, 20000);
    for (const FetchRun& run : runs) {
        SCOPED_TRACE(run.name);
        EXPECT_FALSE(run.ok);
        EXPECT_EQ(server_.WaitForTrickleEnd(run.name, 5000), End::kClientLeft);
    }
}

// Heads inside the limits are read as usual. libcurl holds them to the byte
// and the count; WinINet cannot see either while it reads a head, so a head
// just beyond them still passes there.
TEST_F(DownloadHttpTest, HeadsInsideTheLimitsPass) {
    const platform::HttpLimits limits = TrickleLimits(10000, 4);
    const size_t inside = limits.max_header_bytes - 200;  // room for the status line and the rest
#ifdef _WIN32
    const bool exact = false;
#else
    const bool exact = true;
#endif
    struct Row {
        const char* path;
        Reply reply;
        bool ok;
    } rows[] = {
        {"/near-limit", TestHttpServer::HeaderFlood(inside, 64), true},
        {"/over-limit", TestHttpServer::HeaderFlood(limits.max_header_bytes + 1, 64), !exact},
        {"/few-interim", TestHttpServer::EndlessContinue(limits.max_interim_responses, 10), true},
        {"/many-interim", TestHttpServer::EndlessContinue(limits.max_interim_responses + 1, 10), !exact},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        server_.Route(row.path, row.reply);
        DownloadBuffer buffer;
        EXPECT_EQ(FetchHttp(buffer, server_.Url(row.path).c_str(), limits), row.ok);
        if (row.ok) {
            EXPECT_EQ(Contents(buffer), "<rss/>");
        }
    }
}

TEST_F(DownloadHttpTest, BodiesAboveTheLimitFail) {
    const size_t cap = kQuickLimits.max_body_bytes;
    std::string at_cap(cap, 'c');
    server_.Route("/at-cap", TestHttpServer::Body(200, at_cap));
    server_.Route("/over-cap", TestHttpServer::Stream(cap + 1));
    // Without a length announced, the limit is found while reading.
    server_.Route("/over-cap-chunked", TestHttpServer::Chunked({std::string(cap, 'c'), "c"}));

    DownloadBuffer buffer;
    ASSERT_TRUE(FetchHttp(buffer, server_.Url("/at-cap").c_str(), kQuickLimits));
    EXPECT_EQ(buffer.length, cap);
    for (const char* path : {"/over-cap", "/over-cap-chunked"}) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(FetchHttp(buffer, server_.Url(path).c_str(), kQuickLimits));
        ExpectEmpty(buffer);
    }
}

// The real limit, 32 MiB: the body is not kept, whatever the server sends.
TEST_F(DownloadHttpTest, DefaultLimitIs32MiB) {
    server_.Route("/huge", TestHttpServer::Stream(kMaxDocumentBytes + 1));
    server_.Route("/largest", TestHttpServer::Stream(kMaxDocumentBytes));
    DownloadBuffer buffer;
    EXPECT_FALSE(FetchLocation(buffer, server_.Url("/huge").c_str()));
    ExpectEmpty(buffer);
    ASSERT_TRUE(FetchLocation(buffer, server_.Url("/largest").c_str()));
    ASSERT_EQ(buffer.length, kMaxDocumentBytes);
    for (size_t i : {size_t{0}, size_t{12345}, kMaxDocumentBytes - 1})
        EXPECT_EQ(static_cast<char>(buffer.data[i]), TestHttpServer::StreamByte(i)) << i;
    ExpectTerminated(buffer);
}

// Several crawlers fetch at the same time, each with its own buffer.
TEST_F(DownloadHttpTest, ConcurrencyParallelFetchesKeepTheirOwnBodies) {
    constexpr int kThreads = 6;
    for (int i = 0; i < kThreads; ++i)
        server_.Route("/feed" + std::to_string(i), TestHttpServer::Body(200, std::string(3000 + i, 'a' + i)));
    std::vector<int> ok(kThreads, 0);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([this, i, &ok] {
            DownloadBuffer buffer;
            bool fetched = FetchLocation(buffer, server_.Url("/feed" + std::to_string(i)).c_str());
            ok[i] = fetched && Contents(buffer) == std::string(3000 + i, 'a' + i);
        });
    }
    for (std::thread& t : threads) t.join();
    for (int i = 0; i < kThreads; ++i) EXPECT_EQ(ok[i], 1) << i;
}

// ---------------------------------------------------------------------------
// What the server answered, and what every request says.

constexpr char kFeedBody[] = "<rss><channel><title>T</title><item><title>I</title></item></channel></rss>";

TEST_F(DownloadHttpTest, TheFinalResponsesStatusAndFieldsAreReported) {
    const std::string etag = "W/\"v1 \xE6\x97\xA5\"";
    const std::string modified = "Wed, 09 Dec 2026 10:00:00 GMT";
    server_.Route("/feed", TestHttpServer::Publisher(kFeedBody, etag, modified));
    server_.Route("/moved", TestHttpServer::Redirect("/feed"));
    server_.Route("/busy", TestHttpServer::Refusal(429, "3600"));
    server_.Route("/down", TestHttpServer::Refusal(503, ""));
    TestHttpServer::Reply long_tag = TestHttpServer::Body(200, "<rss/>");
    long_tag.headers = "ETag: \"" + std::string(2000, 'x') + "\"\r\nLast-Modified: " + modified + "\r\n";
    server_.Route("/long-tag", long_tag);

    struct Row {
        const char* path;
        int code;
        std::string etag, modified, retry_after, body;
    } rows[] = {
        {"/feed", 200, etag, modified, "", kFeedBody},
        // A redirect's own fields are never the answer's.
        {"/moved", 200, etag, modified, "", kFeedBody},
        {"/busy", 429, "", "", "3600", "<html><body>come back later</body></html>"},
        {"/down", 503, "", "", "", "<html><body>come back later</body></html>"},
        {"/missing", 404, "", "", "", "<html><body>no such page</body></html>"},
        // Too long to keep whole: absent, never cut short.
        {"/long-tag", 200, "", modified, "", "<rss/>"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        DownloadBuffer buffer;
        platform::HttpResult result;
        ASSERT_TRUE(FetchLocation(buffer, server_.Url(row.path).c_str(), FetchOptions{}, &result));
        EXPECT_EQ(result.code, row.code);
        EXPECT_EQ(std::string(result.etag.text), row.etag);
        EXPECT_EQ(std::string(result.last_modified.text), row.modified);
        EXPECT_EQ(std::string(result.retry_after.text), row.retry_after);
        EXPECT_EQ(Contents(buffer), row.body);
    }

    // Sent back, the validators are answered with a 304 and no body.
    FetchOptions conditional;
    conditional.if_none_match = etag.c_str();
    conditional.if_modified_since = modified.c_str();
    DownloadBuffer buffer;
    platform::HttpResult result;
    ASSERT_TRUE(FetchLocation(buffer, server_.Url("/feed").c_str(), conditional, &result));
    EXPECT_EQ(result.code, 304);
    EXPECT_EQ(buffer.length, 0u);
    EXPECT_EQ(std::string(result.etag.text), etag);

    // No answer at all: no code, and a file has none either.
    ASSERT_FALSE(FetchLocation(buffer, "http://127.0.0.1:1/", FetchOptions{}, &result));
    EXPECT_EQ(result.code, 0);
    TempDir dir;
    WriteFile(dir.path() + "feed.xml", kFeedBody);
    ASSERT_TRUE(FetchLocation(buffer, (dir.path() + "feed.xml").c_str(), conditional, &result));
    EXPECT_EQ(result.code, 0);
    EXPECT_TRUE(result.etag.empty());
}

// Every request asks past any cache, sends back exactly the validators it
// was given (and none that would break its head), and never tells a server
// where a redirect came from.
TEST_F(DownloadHttpTest, RequestsAskPastCachesAndCarryTheValidatorsExactly) {
    server_.Route("/feed", TestHttpServer::Body(200, kFeedBody));
    server_.Route("/hop", TestHttpServer::Redirect("/feed"));
    const std::string etag = "\"33a64df5\xC3\xA9\"";
    FetchOptions options;
    options.if_none_match = etag.c_str();
    options.if_modified_since = "Wed, 09 Dec 2026 10:00:00 GMT";
    DownloadBuffer buffer;
    ASSERT_TRUE(FetchLocation(buffer, server_.Url("/hop").c_str(), options, nullptr));
    ASSERT_EQ(server_.Requests("/hop").size(), 1u);
    ASSERT_EQ(server_.Requests("/feed").size(), 1u);
    for (const TestHttpServer::Request& request : {server_.Requests("/hop")[0], server_.Requests("/feed")[0]}) {
        SCOPED_TRACE(request.path);
        EXPECT_EQ(request.method, "GET");
        EXPECT_EQ(request.Header("User-Agent"), platform::kHttpAgent);
        EXPECT_EQ(request.Header("If-None-Match"), etag);
        EXPECT_EQ(request.Header("If-Modified-Since"), "Wed, 09 Dec 2026 10:00:00 GMT");
        EXPECT_EQ(request.Header("Pragma"), "no-cache");
        EXPECT_EQ(request.Header("Cache-Control"), "no-cache");
        EXPECT_NE(request.Header("Accept-Encoding").find("gzip"), std::string::npos);
        EXPECT_FALSE(request.HasHeader("Referer"));
    }

    // A value that would end its line early is not sent at all.
    FetchOptions injected;
    injected.if_none_match = "\"a\"\r\nX-Injected: 1";
    ASSERT_TRUE(FetchLocation(buffer, server_.Url("/feed").c_str(), injected, nullptr));
    const TestHttpServer::Request last = server_.Requests("/feed").back();
    EXPECT_FALSE(last.HasHeader("If-None-Match"));
    EXPECT_FALSE(last.HasHeader("X-Injected"));
    // Without options nothing conditional goes out.
    ASSERT_TRUE(FetchLocation(buffer, server_.Url("/feed").c_str()));
    EXPECT_FALSE(server_.Requests("/feed").back().HasHeader("If-None-Match"));
    EXPECT_FALSE(server_.Requests("/feed").back().HasHeader("If-Modified-Since"));
}

// A compressed body arrives decoded, the same bytes as the plain one. What
// each platform asks for: libcurl decodes gzip and deflate (zlib-wrapped or
// bare), WinINet's decoder is asked for gzip only, as it reads "deflate" as
// the bare stream alone. A body that does not decode fails.
TEST_F(DownloadHttpTest, CompressedBodiesArriveDecoded) {
    std::string feed;
    for (int i = 0; i < 200; ++i) feed += "<item><title>記事 " + std::to_string(i) + "</title></item>";
    feed = "<rss><channel>" + feed + "</channel></rss>";
#ifdef _WIN32
    const bool zlib_deflate = false;
    const std::string accepted = "gzip";
#else
    const bool zlib_deflate = true;
    const std::string accepted = "gzip, deflate";
#endif
    std::string corrupt = TestHttpServer::Compress(feed, "gzip");
    corrupt[corrupt.size() / 2] ^= 0x55;
    TestHttpServer::Reply broken = TestHttpServer::Body(200, corrupt);
    broken.headers = "Content-Encoding: gzip\r\n";
    struct Row {
        const char* path;
        TestHttpServer::Reply reply;
        bool ok;
    } rows[] = {
        {"/plain", TestHttpServer::Body(200, feed), true},
        {"/gzip-if-asked", TestHttpServer::Publisher(feed, "", "", "gzip"), true},
        {"/deflate-if-asked", TestHttpServer::Publisher(feed, "", "", "deflate"), true},
        {"/gzip", TestHttpServer::Compressed(feed, "gzip"), true},
        {"/raw-deflate", TestHttpServer::Compressed(feed, "raw-deflate"), true},
        {"/deflate", TestHttpServer::Compressed(feed, "deflate"), zlib_deflate},
        {"/corrupt", broken, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        server_.Route(row.path, row.reply);
        DownloadBuffer buffer;
        EXPECT_EQ(FetchLocation(buffer, server_.Url(row.path).c_str()), row.ok);
        if (row.ok) {
            EXPECT_EQ(Contents(buffer), feed);
        } else {
            ExpectEmpty(buffer);
        }
    }
    EXPECT_EQ(server_.Requests("/plain")[0].Header("Accept-Encoding"), accepted);
}

// A small body that inflates to 1 GiB fails at the decoded limit: the
// client stops reading long before the server is through, and no block
// beyond the limit is ever asked for.
TEST_F(DownloadHttpTest, ABodyThatInflatesPastTheLimitFailsEarly) {
    for (const char* encoding : {"gzip", "raw-deflate"}) {
        SCOPED_TRACE(encoding);
        const std::string path = std::string("/bomb-") + encoding;
        server_.Route(path, TestHttpServer::Bomb(size_t{1} << 30, encoding));
        platform::LargestBlockForTesting(true);
        DownloadBuffer buffer;
        platform::HttpResult result;
        EXPECT_FALSE(FetchLocation(buffer, server_.Url(path).c_str(), FetchOptions{}, &result));
        EXPECT_EQ(result.status, platform::HttpStatus::kTooLarge);
        ExpectEmpty(buffer);
        EXPECT_LE(platform::LargestBlockForTesting(true), kMaxDocumentBytes + kDownloadTerminator);
        // 1 GiB of zeros costs the server about a megabyte compressed; the
        // client has hung up after a few dozen kilobytes of it.
        ASSERT_TRUE(WaitUntil([&] { return server_.BombSent(path) != 0; }, kWaitMs, "the bomb to end"));
        EXPECT_LT(server_.BombSent(path), size_t{512} << 10);
    }
}

// Cancelled from another thread, a fetch ends at once and fails whatever had
// arrived: in a trickling body, in a trickling head, and against silence.
TEST_F(DownloadHttpTest, ThreadsACancelledFetchEndsAndFails) {
    using End = TestHttpServer::TrickleEnd;
    server_.Route("/body", TestHttpServer::TrickleBody(4000, kTrickleMs));
    server_.Route("/headers", TestHttpServer::TrickleHeaders(4000, kTrickleMs));
    server_.Route("/silent", TestHttpServer::Stall());
    for (const char* path : {"/body", "/headers", "/silent"}) {
        SCOPED_TRACE(path);
        std::atomic<bool> cancel{false};
        std::atomic<bool> done{false};
        platform::HttpResult result;
        bool fetched = true;
        std::thread fetch([&] {
            FetchOptions options;
            options.cancel = &cancel;
            DownloadBuffer buffer;
            platform::HttpLimits limits = TrickleLimits(600000);
            limits.timeout_ms = 600000;
            fetched = FetchHttp(buffer, server_.Url(path).c_str(), limits, options, &result);
            done = true;
        });
        if (std::string(path) != "/silent")
            EXPECT_TRUE(WaitUntil([&] { return server_.TrickleSent(path) >= 3; }, kWaitMs, "a few units"));
        else
            EXPECT_TRUE(WaitUntil([&] { return server_.RequestCount(path) == 1; }, kWaitMs, "the request"));
        cancel = true;
        bool ended = WaitUntil([&] { return done.load(); }, kWaitMs, "the cancelled fetch to end");
        EXPECT_TRUE(ended);
        if (!ended) server_.Stop();
        fetch.join();
        EXPECT_FALSE(fetched);
        EXPECT_EQ(result.status, platform::HttpStatus::kCancelled);
        if (std::string(path) != "/silent") {
            EXPECT_EQ(server_.WaitForTrickleEnd(path, kWaitMs), End::kClientLeft);
        }
    }
}

#ifdef _WIN32
// Another WinINet program fetched the feed with the system's defaults, and
// the server let it keep the answer for a day. Feedlet still asks the
// server, and sees what the server has now.
TEST_F(DownloadHttpTest, AnAnswerCachedByAnotherProgramIsNeverServed) {
    TestHttpServer::Reply old_feed = TestHttpServer::Body(200, "<rss><channel><title>old</title></channel></rss>");
    old_feed.headers = "Cache-Control: max-age=86400\r\nLast-Modified: Wed, 09 Dec 2026 10:00:00 GMT\r\n";
    server_.Route("/cached", old_feed);
    const std::string url = server_.Url("/cached");
    HINTERNET session = InternetOpenA("another program", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    ASSERT_NE(session, nullptr);
    HINTERNET answer = InternetOpenUrlA(session, url.c_str(), nullptr, 0, 0, 0);
    ASSERT_NE(answer, nullptr);
    char scratch[4096];
    DWORD got = 0;
    std::string body;
    while (InternetReadFile(answer, scratch, sizeof scratch, &got) && got > 0) body.append(scratch, got);
    InternetCloseHandle(answer);
    InternetCloseHandle(session);
    ASSERT_NE(body.find("old"), std::string::npos);

    server_.Route("/cached", TestHttpServer::Body(200, "<rss><channel><title>new</title></channel></rss>"));
    DownloadBuffer buffer;
    ASSERT_TRUE(FetchLocation(buffer, url.c_str()));
    EXPECT_NE(Contents(buffer).find("new"), std::string::npos) << Contents(buffer);
    EXPECT_EQ(server_.RequestCount("/cached"), 2);
}
#endif

// A server that falls silent is left after the time-out every fetch of a
// location uses (FetchLimits: 30 s in the plugin, a second here), long
// before the whole fetch's deadline (kept at its 120 s), whether it never
// answers or stops halfway through its head: a fetch that only the
// deadline ended would outlast the wait. The silent server's fetch fails
// and keeps nothing; the server left halfway sees the client hang up.
TEST_F(DownloadHttpTest, DefaultTimeoutEndsAStall) {
    using End = TestHttpServer::TrickleEnd;
    platform::HttpLimits limits = FetchLimits();
    limits.timeout_ms = 1000;
    FetchLimitsFor quick(limits);
    server_.Route("/silent", TestHttpServer::Stall());
    // The status line and one header line, then ten minutes of silence.
    server_.Route("/stalled-head", TestHttpServer::TrickleHeaders(2, 600000));
    for (const char* path : {"/silent", "/stalled-head"}) {
        SCOPED_TRACE(path);
        std::atomic<bool> done{false};
        bool fetched = true;
        bool kept_nothing = false;
        platform::HttpResult result;
        std::thread fetch([&] {
            DownloadBuffer buffer;
            Prefill(buffer);
            fetched = FetchLocation(buffer, server_.Url(path).c_str(), FetchOptions{}, &result);
            kept_nothing = buffer.data == nullptr && buffer.length == 0;
            done = true;
        });
        ::testing::AssertionResult ended =
            WaitUntil([&] { return done.load(); }, kWaitMs, "the time-out to end the fetch");
        EXPECT_TRUE(ended);
        if (!ended) server_.Stop();  // lets the fetch go
        fetch.join();
        if (std::string(path) == "/silent") {
            EXPECT_FALSE(fetched);
            EXPECT_EQ(result.status, platform::HttpStatus::kFailed);
            EXPECT_TRUE(kept_nothing);
        }
    }
    EXPECT_EQ(server_.WaitForTrickleEnd("/stalled-head", kWaitMs), End::kClientLeft);
    EXPECT_EQ(server_.TrickleSent("/stalled-head"), 1u) << "the silence came after the first header line";
}

}  // namespace
