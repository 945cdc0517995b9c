// A small HTTP/1.1 server on 127.0.0.1 for the download tests: each test
// starts one, routes paths to canned replies (including the misbehaving
// kinds a feed server can show) and stops it. Every connection is answered
// once and closed.
#pragma once

#include <atomic>
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
        };
        Kind kind = Kind::kBody;
        int status = 200;
        std::string body;
        std::vector<std::string> pieces;
        size_t announced = 0;
        std::string location;
    };
    static Reply Body(int status, std::string body);
    static Reply Chunked(std::vector<std::string> pieces);
    static Reply BrokenOff(std::string sent, size_t announced);
    static Reply Stall();
    static Reply StallAfter(std::string sent, size_t announced);
    static Reply Redirect(std::string location);
    static Reply Stream(size_t length);
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

private:
    void AcceptLoop();
    void Serve(uintptr_t connection);
    bool SendAll(uintptr_t connection, const char* bytes, size_t length);
    void WaitForClose(uintptr_t connection);

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
};

}  // namespace testing_util
}  // namespace feedlet

using feedlet::testing_util::TestHttpServer;
