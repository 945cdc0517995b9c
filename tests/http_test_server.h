// A small HTTP/1.1 server on 127.0.0.1 for the download tests: each test
// starts one, routes paths to canned replies (including the misbehaving
// kinds a feed server can show) and stops it. Every connection is answered
// once and closed.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace feedlet {
namespace testing_util {

class TestHttpServer {
public:
    struct Reply {
        enum class Kind {
            kBody,       // status, Content-Length and body
            kChunked,    // Transfer-Encoding: chunked, one chunk per piece, pausing between them
            kBrokenOff,  // Content-Length says `announced`, `body` is sent, then the connection closes
            kStall,      // nothing at all until the client gives up
            kStallAfter, // like kBrokenOff, but the connection stays open and silent
            kRedirect,   // 302 to `location`
            kStream,     // a generated body of `announced` bytes
            // The trickles send one unit every `interval_ms`, `count` units in
            // all, and watch for the client hanging up in between; one that
            // runs to its end finishes as an ordinary response.
            kTrickleBody,      // Content-Length `count`, then one body byte (StreamByte) at a time
            kTrickleHeaders,   // the status line, then one header line at a time, then `body`
                               // (or a 302 to `location` when it is set)
            kEndlessContinue,  // one "100 Continue" response at a time, then a 200 with `body`
            // As fast as the client reads: header lines of `line_length`
            // bytes after the status line, `count` bytes in all (one endless
            // line when line_length >= count), then `body`.
            kHeaderFlood,
            // A publisher's feed: `body` with `etag` and `last_modified`
            // (either may be empty); "304 Not Modified" with no body when the
            // request's If-None-Match equals the ETag, or, without an
            // If-None-Match, its If-Modified-Since equals Last-Modified.
            // The body goes out compressed with `encoding` when the request's
            // Accept-Encoding names it (a bare 200 when it does not).
            kPublisher,
            // `announced` zero bytes compressed with `encoding` on the fly,
            // whatever the request accepts, until the client hangs up.
            kBomb,
            kHangUp,     // the connection closes before any answer
        };
        Kind kind = Kind::kBody;
        int status = 200;
        std::string body;
        std::vector<std::string> pieces;
        size_t announced = 0;
        std::string location;
        size_t count = 0;
        uint32_t interval_ms = 0;
        size_t line_length = 0;
        // Header lines added to the head (kBody, kPublisher), each ending in CRLF.
        std::string headers;
        std::string etag;
        std::string last_modified;
        // "gzip", "deflate" (zlib-wrapped, as HTTP has it) or "raw-deflate"
        // (sent as "deflate", the bare stream some servers send).
        std::string encoding;
    };
    static Reply Body(int status, std::string body);
    static Reply Chunked(std::vector<std::string> pieces);
    static Reply BrokenOff(std::string sent, size_t announced);
    static Reply Stall();
    static Reply StallAfter(std::string sent, size_t announced);
    static Reply Redirect(std::string location);
    static Reply Stream(size_t length);
    static Reply TrickleBody(size_t bytes, uint32_t interval_ms);
    static Reply TrickleHeaders(size_t lines, uint32_t interval_ms, std::string location = std::string());
    static Reply EndlessContinue(size_t responses, uint32_t interval_ms);
    static Reply HeaderFlood(size_t bytes, size_t line_length);
    static Reply Publisher(std::string body, std::string etag, std::string last_modified,
                           std::string encoding = std::string());
    // A 429 or 503 with a Retry-After (none when empty).
    static Reply Refusal(int status, std::string retry_after);
    // `body` compressed with `encoding`, whatever the request accepts.
    static Reply Compressed(std::string body, std::string encoding);
    static Reply Bomb(size_t inflated_bytes, std::string encoding);
    static Reply HangUp();
    // The body compressed as a reply with `encoding` sends it.
    static std::string Compress(const std::string& body, const std::string& encoding);
    // An HTTP-date (IMF-fixdate) for seconds since 1970.
    static std::string HttpDate(int64_t seconds);
    // The byte at position i of a kStream body.
    static char StreamByte(size_t i) { return static_cast<char>('a' + i % 26); }

    TestHttpServer() = default;
    ~TestHttpServer() { Stop(); }
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    // Listens on 127.0.0.1 at a free port. False when that is impossible.
    bool Start();
    // Closes every connection (a stalled one too) and waits for the threads.
    void Stop();

    void Route(const std::string& path, Reply reply);
    // "http://127.0.0.1:PORT" + path
    std::string Url(const std::string& path) const;
    // How often path was asked for, and the last request's head for it.
    int RequestCount(const std::string& path) const;
    std::string LastRequest(const std::string& path) const;

    // Every request the server read, in the order they came.
    struct Request {
        std::string method;
        std::string path;
        std::string head;  // the request line and header lines, as sent
        // The value of the first header line with this name (ASCII case
        // ignored), without the blanks around it; "" when there is none.
        std::string Header(const std::string& name) const;
        bool HasHeader(const std::string& name) const;
    };
    std::vector<Request> Requests(const std::string& path) const;
    // Empties that list (the counts and each path's last request stay), so
    // that a long run's server holds no more than its latest requests.
    void ForgetRequests();
    // Bytes of a kBomb's compressed stream sent on path before the client
    // hung up (or the end).
    size_t BombSent(const std::string& path) const;
    // Waits until every connection's thread has finished and been joined,
    // so that a count of the process's threads and handles taken next holds
    // none of the server's; false when one is still running after
    // timeout_ms.
    bool WaitUntilQuiet(uint32_t timeout_ms);
    // Connections accepted so far, HTTP or not.
    int ConnectionCount() const { return connections_; }

    // How the last trickle or flood on a path went, as the server saw it.
    enum class TrickleEnd {
        kNotAsked,    // no request for the path came
        kRunning,     // still sending
        kClientLeft,  // the client hung up before the last unit
        kCompleted,   // every unit went out and the response was finished
    };
    // Waits up to timeout_ms for the path's trickle to end and says how it
    // ended (kRunning or kNotAsked when the time ran out first).
    TrickleEnd WaitForTrickleEnd(const std::string& path, uint32_t timeout_ms) const;
    // Units (bytes, lines or responses) that trickle has sent so far.
    size_t TrickleSent(const std::string& path) const;

private:
    void AcceptLoop();
    // Joins the connection threads that have finished, so that a long run
    // keeps neither their records nor (on Windows) their thread handles.
    void JoinFinishedWorkers();
    void Serve(uintptr_t connection);
    bool SendAll(uintptr_t connection, const char* bytes, size_t length);
    void WaitForClose(uintptr_t connection);
    // Sleeps interval_ms; false as soon as the client hangs up (or the
    // server stops).
    bool PauseUnlessClientLeaves(uintptr_t connection, uint32_t interval_ms);
    void Trickle(uintptr_t connection, const std::string& path, const Reply& reply);
    void Flood(uintptr_t connection, const std::string& path, const Reply& reply);
    void NoteTrickle(const std::string& path, TrickleEnd end, size_t sent);
    void Publish(uintptr_t connection, const Request& request, const Reply& reply);
    void SendBomb(uintptr_t connection, const std::string& path, const Reply& reply);

    struct TrickleState {
        TrickleEnd end = TrickleEnd::kNotAsked;
        size_t sent = 0;
    };

    uintptr_t listener_ = ~uintptr_t{0};
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::thread acceptor_;
    mutable std::mutex mutex_;
    // Connection threads by serial number; a thread puts its serial in
    // finished_ as its last act.
    std::map<uint64_t, std::thread> workers_;
    std::vector<uint64_t> finished_;
    uint64_t next_worker_ = 0;
    std::map<std::string, Reply> routes_;
    std::map<std::string, int> counts_;
    std::map<std::string, std::string> requests_;
    std::vector<Request> log_;
    std::map<std::string, size_t> bomb_sent_;
    std::map<std::string, TrickleState> trickles_;
    mutable std::condition_variable trickle_changed_;
};

}  // namespace testing_util
}  // namespace feedlet

using feedlet::testing_util::TestHttpServer;
