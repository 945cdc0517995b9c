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
    // Units (bytes, lines or responses) that trickle sent.
    size_t TrickleSent(const std::string& path) const;

private:
    void AcceptLoop();
    void Serve(uintptr_t connection);
    bool SendAll(uintptr_t connection, const char* bytes, size_t length);
    void WaitForClose(uintptr_t connection);
    // Sleeps interval_ms; false as soon as the client hangs up (or the
    // server stops).
    bool PauseUnlessClientLeaves(uintptr_t connection, uint32_t interval_ms);
    void Trickle(uintptr_t connection, const std::string& path, const Reply& reply);
    void Flood(uintptr_t connection, const std::string& path, const Reply& reply);
    void NoteTrickle(const std::string& path, TrickleEnd end, size_t sent);

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
    std::vector<std::thread> workers_;
    std::map<std::string, Reply> routes_;
    std::map<std::string, int> counts_;
    std::map<std::string, std::string> requests_;
    std::map<std::string, TrickleState> trickles_;
    mutable std::condition_variable trickle_changed_;
};

}  // namespace testing_util
}  // namespace feedlet

using feedlet::testing_util::TestHttpServer;
