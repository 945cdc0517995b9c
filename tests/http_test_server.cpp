#include "http_test_server.h"

#include "core/plugin_time.h"

#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cctype>
#include <cstring>

// The one place the tests touch sockets: Winsock under Wine, BSD sockets
// natively. Sockets travel as uintptr_t so the header stays neutral.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
using NativeSocket = SOCKET;
constexpr int kSendFlags = 0;
static void CloseSocket(NativeSocket s) { closesocket(s); }
static void ShutdownWrite(NativeSocket s) { shutdown(s, SD_SEND); }
static void SetNonBlocking(NativeSocket s) {
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
}
static bool WouldBlock() { return WSAGetLastError() == WSAEWOULDBLOCK; }
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
using NativeSocket = int;
constexpr int kSendFlags = MSG_NOSIGNAL;  // a client that hung up must not kill the tests
static void CloseSocket(NativeSocket s) { close(s); }
static void ShutdownWrite(NativeSocket s) { shutdown(s, SHUT_WR); }
static void SetNonBlocking(NativeSocket s) { fcntl(s, F_SETFL, fcntl(s, F_GETFL) | O_NONBLOCK); }
static bool WouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK; }
#endif

namespace feedlet {
namespace testing_util {

namespace {

NativeSocket Native(uintptr_t s) { return static_cast<NativeSocket>(s); }

// Waits up to timeout_ms for s to become readable.
bool Readable(NativeSocket s, int timeout_ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{0, timeout_ms * 1000};
    return select(static_cast<int>(s) + 1, &set, nullptr, nullptr, &tv) > 0;
}

bool Writable(NativeSocket s, int timeout_ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{0, timeout_ms * 1000};
    return select(static_cast<int>(s) + 1, nullptr, &set, nullptr, &tv) > 0;
}

using Clock = std::chrono::steady_clock;

const char* Reason(int status) {
    switch (status) {
        case 200: return "OK";
        case 302: return "Found";
        case 304: return "Not Modified";
        case 404: return "Not Found";
        case 429: return "Too Many Requests";
        case 500: return "Internal Server Error";
        case 503: return "Service Unavailable";
        default: return "Status";
    }
}

std::string Head(int status, const std::string& fields) {
    char line[64];
    std::snprintf(line, sizeof line, "HTTP/1.1 %d %s\r\n", status, Reason(status));
    return line + fields + "Connection: close\r\n\r\n";
}

std::string LengthField(size_t length) { return "Content-Length: " + std::to_string(length) + "\r\n"; }

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// zlib's window bits for each encoding a reply can use.
int WindowBits(const std::string& encoding) {
    if (encoding == "gzip") return 16 + MAX_WBITS;
    if (encoding == "raw-deflate") return -MAX_WBITS;
    return MAX_WBITS;  // "deflate": zlib-wrapped
}

// The Content-Encoding a reply with this encoding carries.
std::string EncodingName(const std::string& encoding) { return encoding == "raw-deflate" ? "deflate" : encoding; }

// Whether an Accept-Encoding value names the encoding (a token of the list).
bool Accepts(const std::string& accept, const std::string& encoding) {
    std::string name = EncodingName(encoding);
    size_t start = 0;
    while (start <= accept.size()) {
        size_t end = accept.find(',', start);
        if (end == std::string::npos) end = accept.size();
        std::string token = accept.substr(start, end - start);
        size_t first = token.find_first_not_of(" \t");
        size_t last = token.find_last_not_of(" \t;q=0123456789.");
        if (first != std::string::npos && last != std::string::npos &&
            EqualNoCase(token.substr(first, last - first + 1), name))
            return true;
        start = end + 1;
    }
    return false;
}

// A proxy named in the environment (http_proxy, which libcurl and Wine's
// WinINet both read) would take the tests' requests to 127.0.0.1 elsewhere:
// keep loopback direct, as Windows' own WinINet always does.
void BypassProxyForLoopback() {
    std::string value;
    if (const char* current = std::getenv("no_proxy")) value = current;
    if (value.find("127.0.0.1") != std::string::npos) return;
    // A blank separates entries for both readers (Wine splits on ';' or
    // blanks only, libcurl on commas or blanks).
    value += value.empty() ? "127.0.0.1" : " 127.0.0.1";
#ifdef _WIN32
    _putenv_s("no_proxy", value.c_str());
    SetEnvironmentVariableA("no_proxy", value.c_str());
#else
    setenv("no_proxy", value.c_str(), 1);
#endif
}

}  // namespace

TestHttpServer::Reply TestHttpServer::Body(int status, std::string body) {
    Reply r;
    r.status = status;
    r.body = std::move(body);
    return r;
}

TestHttpServer::Reply TestHttpServer::Chunked(std::vector<std::string> pieces) {
    Reply r;
    r.kind = Reply::Kind::kChunked;
    r.pieces = std::move(pieces);
    return r;
}

TestHttpServer::Reply TestHttpServer::BrokenOff(std::string sent, size_t announced) {
    Reply r;
    r.kind = Reply::Kind::kBrokenOff;
    r.body = std::move(sent);
    r.announced = announced;
    return r;
}

TestHttpServer::Reply TestHttpServer::Stall() {
    Reply r;
    r.kind = Reply::Kind::kStall;
    return r;
}

TestHttpServer::Reply TestHttpServer::StallAfter(std::string sent, size_t announced) {
    Reply r = BrokenOff(std::move(sent), announced);
    r.kind = Reply::Kind::kStallAfter;
    return r;
}

TestHttpServer::Reply TestHttpServer::Redirect(std::string location) {
    Reply r;
    r.kind = Reply::Kind::kRedirect;
    r.status = 302;
    r.location = std::move(location);
    return r;
}

TestHttpServer::Reply TestHttpServer::Stream(size_t length) {
    Reply r;
    r.kind = Reply::Kind::kStream;
    r.announced = length;
    return r;
}

TestHttpServer::Reply TestHttpServer::TrickleBody(size_t bytes, uint32_t interval_ms) {
    Reply r;
    r.kind = Reply::Kind::kTrickleBody;
    r.count = bytes;
    r.interval_ms = interval_ms;
    return r;
}

TestHttpServer::Reply TestHttpServer::TrickleHeaders(size_t lines, uint32_t interval_ms, std::string location) {
    Reply r;
    r.kind = Reply::Kind::kTrickleHeaders;
    r.count = lines;
    r.interval_ms = interval_ms;
    r.location = std::move(location);
    r.body = "<rss/>";
    return r;
}

TestHttpServer::Reply TestHttpServer::EndlessContinue(size_t responses, uint32_t interval_ms) {
    Reply r;
    r.kind = Reply::Kind::kEndlessContinue;
    r.count = responses;
    r.interval_ms = interval_ms;
    r.body = "<rss/>";
    return r;
}

TestHttpServer::Reply TestHttpServer::HeaderFlood(size_t bytes, size_t line_length) {
    Reply r;
    r.kind = Reply::Kind::kHeaderFlood;
    r.count = bytes;
    r.line_length = line_length < 24 ? 24 : line_length;
    r.body = "<rss/>";
    return r;
}

TestHttpServer::Reply TestHttpServer::Publisher(std::string body, std::string etag, std::string last_modified,
                                                std::string encoding) {
    Reply r;
    r.kind = Reply::Kind::kPublisher;
    r.body = std::move(body);
    r.etag = std::move(etag);
    r.last_modified = std::move(last_modified);
    r.encoding = std::move(encoding);
    return r;
}

TestHttpServer::Reply TestHttpServer::Refusal(int status, std::string retry_after) {
    Reply r = Body(status, "<html><body>come back later</body></html>");
    if (!retry_after.empty()) r.headers = "Retry-After: " + retry_after + "\r\n";
    return r;
}

TestHttpServer::Reply TestHttpServer::Compressed(std::string body, std::string encoding) {
    Reply r = Body(200, Compress(body, encoding));
    r.headers = "Content-Encoding: " + EncodingName(encoding) + "\r\n";
    return r;
}

TestHttpServer::Reply TestHttpServer::Bomb(size_t inflated_bytes, std::string encoding) {
    Reply r;
    r.kind = Reply::Kind::kBomb;
    r.announced = inflated_bytes;
    r.encoding = std::move(encoding);
    return r;
}

TestHttpServer::Reply TestHttpServer::HangUp() {
    Reply r;
    r.kind = Reply::Kind::kHangUp;
    return r;
}

std::string TestHttpServer::Compress(const std::string& body, const std::string& encoding) {
    z_stream z{};
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, WindowBits(encoding), 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return std::string();
    std::string out(deflateBound(&z, static_cast<uLong>(body.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
    z.avail_in = static_cast<uInt>(body.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string TestHttpServer::HttpDate(int64_t seconds) {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    CalendarFields f = FieldsFromEpochSeconds(seconds);
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", days[f.weekday], f.day,
                  months[f.month - 1], f.year, f.hour, f.minute, f.second);
    return text;
}

namespace {

// The first header line of a request's head with this name (ASCII case
// ignored): its value, without the blanks around it, in *value.
bool FindHeader(const std::string& head, const std::string& name, std::string* value) {
    size_t start = head.find("\r\n");
    while (start != std::string::npos && start + 2 < head.size()) {
        start += 2;
        size_t end = head.find("\r\n", start);
        std::string line = head.substr(start, end == std::string::npos ? std::string::npos : end - start);
        size_t colon = line.find(':');
        if (colon != std::string::npos && EqualNoCase(line.substr(0, colon), name)) {
            size_t first = line.find_first_not_of(" \t", colon + 1);
            size_t last = line.find_last_not_of(" \t");
            *value = first == std::string::npos ? std::string() : line.substr(first, last - first + 1);
            return true;
        }
        start = end;
    }
    return false;
}

}  // namespace

std::string TestHttpServer::Request::Header(const std::string& name) const {
    std::string value;
    FindHeader(head, name, &value);
    return value;
}

bool TestHttpServer::Request::HasHeader(const std::string& name) const {
    std::string value;
    return FindHeader(head, name, &value);
}

bool TestHttpServer::Start() {
    BypassProxyForLoopback();
#ifdef _WIN32
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return false;
#endif
    NativeSocket s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
#ifdef _WIN32
    if (s == INVALID_SOCKET) return false;
#else
    if (s < 0) return false;
#endif
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t size = sizeof address;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(s, 16) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        CloseSocket(s);
        return false;
    }
    port_ = ntohs(address.sin_port);
    listener_ = static_cast<uintptr_t>(s);
    stopping_ = false;
    acceptor_ = std::thread([this] { AcceptLoop(); });
    return true;
}

void TestHttpServer::Stop() {
    if (!acceptor_.joinable()) return;
    stopping_ = true;
    acceptor_.join();
    CloseSocket(Native(listener_));
    listener_ = ~uintptr_t{0};
    std::map<uint64_t, std::thread> workers;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        workers.swap(workers_);
        finished_.clear();
    }
    for (auto& worker : workers) worker.second.join();
#ifdef _WIN32
    WSACleanup();
#endif
}

void TestHttpServer::Route(const std::string& path, Reply reply) {
    std::lock_guard<std::mutex> hold(mutex_);
    routes_[path] = std::move(reply);
}

std::string TestHttpServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

int TestHttpServer::RequestCount(const std::string& path) const {
    std::lock_guard<std::mutex> hold(mutex_);
    auto it = counts_.find(path);
    return it == counts_.end() ? 0 : it->second;
}

std::string TestHttpServer::LastRequest(const std::string& path) const {
    std::lock_guard<std::mutex> hold(mutex_);
    auto it = requests_.find(path);
    return it == requests_.end() ? std::string() : it->second;
}

TestHttpServer::TrickleEnd TestHttpServer::WaitForTrickleEnd(const std::string& path, uint32_t timeout_ms) const {
    std::unique_lock<std::mutex> hold(mutex_);
    auto ended = [&] {
        auto it = trickles_.find(path);
        return it != trickles_.end() && it->second.end != TrickleEnd::kRunning;
    };
    trickle_changed_.wait_for(hold, std::chrono::milliseconds(timeout_ms), ended);
    auto it = trickles_.find(path);
    return it == trickles_.end() ? TrickleEnd::kNotAsked : it->second.end;
}

std::vector<TestHttpServer::Request> TestHttpServer::Requests(const std::string& path) const {
    std::lock_guard<std::mutex> hold(mutex_);
    std::vector<Request> found;
    for (const Request& request : log_)
        if (request.path == path) found.push_back(request);
    return found;
}

bool TestHttpServer::WaitUntilQuiet(uint32_t timeout_ms) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        JoinFinishedWorkers();
        {
            std::lock_guard<std::mutex> hold(mutex_);
            if (workers_.empty()) return true;
        }
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void TestHttpServer::ForgetRequests() {
    std::lock_guard<std::mutex> hold(mutex_);
    log_.clear();
}

size_t TestHttpServer::BombSent(const std::string& path) const {
    std::lock_guard<std::mutex> hold(mutex_);
    auto it = bomb_sent_.find(path);
    return it == bomb_sent_.end() ? 0 : it->second;
}

size_t TestHttpServer::TrickleSent(const std::string& path) const {
    std::lock_guard<std::mutex> hold(mutex_);
    auto it = trickles_.find(path);
    return it == trickles_.end() ? 0 : it->second.sent;
}

void TestHttpServer::NoteTrickle(const std::string& path, TrickleEnd end, size_t sent) {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        trickles_[path] = TrickleState{end, sent};
    }
    trickle_changed_.notify_all();
}

void TestHttpServer::AcceptLoop() {
    NativeSocket listener = Native(listener_);
    while (!stopping_) {
        if (!Readable(listener, 20)) continue;
        NativeSocket connection = accept(listener, nullptr, nullptr);
#ifdef _WIN32
        if (connection == INVALID_SOCKET) continue;
#else
        if (connection < 0) continue;
#endif
        ++connections_;
        JoinFinishedWorkers();
        std::lock_guard<std::mutex> hold(mutex_);
        uint64_t serial = next_worker_++;
        workers_.emplace(serial, std::thread([this, connection, serial] {
                             Serve(static_cast<uintptr_t>(connection));
                             std::lock_guard<std::mutex> done(mutex_);
                             finished_.push_back(serial);
                         }));
    }
}

void TestHttpServer::JoinFinishedWorkers() {
    std::vector<std::thread> finished;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        for (uint64_t serial : finished_) {
            auto it = workers_.find(serial);
            if (it == workers_.end()) continue;
            finished.push_back(std::move(it->second));
            workers_.erase(it);
        }
        finished_.clear();
    }
    // Each has only its return left to make.
    for (std::thread& t : finished) t.join();
}

bool TestHttpServer::SendAll(uintptr_t connection, const char* bytes, size_t length) {
    while (length > 0 && !stopping_) {
        int chunk = static_cast<int>(length > 65536 ? 65536 : length);
        int sent = static_cast<int>(send(Native(connection), bytes, chunk, kSendFlags));
        if (sent <= 0) return false;
        bytes += sent;
        length -= static_cast<size_t>(sent);
    }
    return length == 0;
}

bool TestHttpServer::PauseUnlessClientLeaves(uintptr_t connection, uint32_t interval_ms) {
    NativeSocket s = Native(connection);
    auto until = Clock::now() + std::chrono::milliseconds(interval_ms);
    char scratch[512];
    while (!stopping_) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0) return true;
        // A client that hangs up (or resets) makes the socket readable with
        // nothing, or an error, to read.
        if (Readable(s, static_cast<int>(left < 20 ? left : 20)) && recv(s, scratch, sizeof scratch, 0) <= 0)
            return false;
    }
    return false;
}

void TestHttpServer::Trickle(uintptr_t connection, const std::string& path, const Reply& reply) {
    const std::string no_store = "Cache-Control: no-store\r\n";
    std::string start;
    if (reply.kind == Reply::Kind::kTrickleBody)
        start = Head(200, no_store + LengthField(reply.count));
    else if (reply.kind == Reply::Kind::kTrickleHeaders)
        start = reply.location.empty() ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 302 Found\r\n";
    NoteTrickle(path, TrickleEnd::kRunning, 0);
    if (!start.empty() && !SendAll(connection, start.data(), start.size())) {
        NoteTrickle(path, TrickleEnd::kClientLeft, 0);
        return;
    }
    for (size_t i = 0; i < reply.count; ++i) {
        std::string unit;
        switch (reply.kind) {
            case Reply::Kind::kTrickleBody: unit = std::string(1, StreamByte(i)); break;
            case Reply::Kind::kTrickleHeaders: unit = "X-Trickle-" + std::to_string(i) + ": " + std::to_string(i) + "\r\n"; break;
            default: unit = "HTTP/1.1 100 Continue\r\n\r\n"; break;
        }
        if ((i > 0 && !PauseUnlessClientLeaves(connection, reply.interval_ms)) ||
            !SendAll(connection, unit.data(), unit.size())) {
            NoteTrickle(path, TrickleEnd::kClientLeft, i);
            return;
        }
        NoteTrickle(path, TrickleEnd::kRunning, i + 1);
    }
    std::string end;
    if (reply.kind == Reply::Kind::kTrickleHeaders && !reply.location.empty())
        end = "Location: " + reply.location + "\r\n" + LengthField(0) + "Connection: close\r\n\r\n";
    else if (reply.kind == Reply::Kind::kTrickleHeaders)
        end = no_store + LengthField(reply.body.size()) + "Connection: close\r\n\r\n" + reply.body;
    else if (reply.kind == Reply::Kind::kEndlessContinue)
        end = Head(200, no_store + LengthField(reply.body.size())) + reply.body;
    bool finished = SendAll(connection, end.data(), end.size());
    NoteTrickle(path, finished ? TrickleEnd::kCompleted : TrickleEnd::kClientLeft, reply.count);
}

// Sends as fast as the client reads, without ever blocking for long, so
// that a client which stops reading cannot hold up Stop().
void TestHttpServer::Flood(uintptr_t connection, const std::string& path, const Reply& reply) {
    NativeSocket s = Native(connection);
    SetNonBlocking(s);
    auto send_polled = [&](const char* bytes, size_t length) {
        while (length > 0) {
            if (stopping_) return false;
            if (!Writable(s, 20)) continue;
            int chunk = static_cast<int>(length > 16384 ? 16384 : length);
            int sent = static_cast<int>(send(s, bytes, chunk, kSendFlags));
            if (sent < 0 && WouldBlock()) continue;
            if (sent <= 0) return false;
            bytes += sent;
            length -= static_cast<size_t>(sent);
        }
        return true;
    };
    NoteTrickle(path, TrickleEnd::kRunning, 0);
    std::string block = "HTTP/1.1 200 OK\r\n";
    bool one_line = reply.line_length >= reply.count;
    if (one_line) block += "X-Flood: ";
    size_t sent = 0;
    for (size_t line = 0; sent < reply.count;) {
        // About 64 KiB of header lines (or of one line's value) per send.
        while (block.size() < 65536 && sent + block.size() < reply.count) {
            if (one_line) {
                block.append(65536 - block.size(), 'v');
                continue;
            }
            char name[32];
            std::snprintf(name, sizeof name, "X-Flood-%08zu: ", line++);
            std::string text = name;
            text.append(reply.line_length - text.size() - 2, 'v');
            block += text + "\r\n";
        }
        if (sent + block.size() > reply.count) block.resize(reply.count - sent);
        if (!send_polled(block.data(), block.size())) {
            NoteTrickle(path, TrickleEnd::kClientLeft, sent);
            return;
        }
        sent += block.size();
        block.clear();
    }
    std::string end = (one_line ? "\r\n" : "") + std::string("Cache-Control: no-store\r\n") +
                      LengthField(reply.body.size()) + "Connection: close\r\n\r\n" + reply.body;
    bool finished = send_polled(end.data(), end.size());
    NoteTrickle(path, finished ? TrickleEnd::kCompleted : TrickleEnd::kClientLeft, sent);
}

void TestHttpServer::Publish(uintptr_t connection, const Request& request, const Reply& reply) {
    std::string validators;
    if (!reply.etag.empty()) validators += "ETag: " + reply.etag + "\r\n";
    if (!reply.last_modified.empty()) validators += "Last-Modified: " + reply.last_modified + "\r\n";
    bool unchanged = request.HasHeader("If-None-Match")
                         ? !reply.etag.empty() && request.Header("If-None-Match") == reply.etag
                         : !reply.last_modified.empty() && request.Header("If-Modified-Since") == reply.last_modified;
    if (unchanged) {
        std::string out = Head(304, validators + reply.headers);
        SendAll(connection, out.data(), out.size());
        return;
    }
    std::string body = reply.body;
    std::string fields = validators + reply.headers;
    if (!reply.encoding.empty() && Accepts(request.Header("Accept-Encoding"), reply.encoding)) {
        body = Compress(body, reply.encoding);
        fields += "Content-Encoding: " + EncodingName(reply.encoding) + "\r\n";
    }
    std::string out = Head(200, fields + LengthField(body.size())) + body;
    SendAll(connection, out.data(), out.size());
}

// Compresses zeros as they go out, so that a client that stops early costs
// the server no more than it read.
void TestHttpServer::SendBomb(uintptr_t connection, const std::string& path, const Reply& reply) {
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, WindowBits(reply.encoding), 8, Z_DEFAULT_STRATEGY) != Z_OK) return;
    std::string head = Head(200, "Content-Encoding: " + EncodingName(reply.encoding) + "\r\n");
    size_t sent = 0;
    if (SendAll(connection, head.data(), head.size())) {
        const std::string zeros(1 << 16, '\0');
        std::string out(1 << 16, '\0');
        for (size_t fed = 0;;) {
            size_t n = reply.announced - fed < zeros.size() ? reply.announced - fed : zeros.size();
            fed += n;
            bool last = fed == reply.announced;
            z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
            z.avail_in = static_cast<uInt>(n);
            bool ok = true;
            do {
                z.next_out = reinterpret_cast<Bytef*>(&out[0]);
                z.avail_out = static_cast<uInt>(out.size());
                deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
                size_t produced = out.size() - z.avail_out;
                ok = SendAll(connection, out.data(), produced);
                if (ok) sent += produced;
            } while (ok && z.avail_out == 0);
            if (!ok || last) break;
        }
    }
    deflateEnd(&z);
    std::lock_guard<std::mutex> hold(mutex_);
    bomb_sent_[path] = sent;
}

// Holds the connection open and silent until the client closes it (or the
// server stops).
void TestHttpServer::WaitForClose(uintptr_t connection) {
    char scratch[512];
    while (!stopping_) {
        if (!Readable(Native(connection), 20)) continue;
        if (recv(Native(connection), scratch, sizeof scratch, 0) <= 0) return;
    }
}

void TestHttpServer::Serve(uintptr_t connection) {
    NativeSocket s = Native(connection);
    std::string request;
    char scratch[4096];
    while (!stopping_ && request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        if (!Readable(s, 20)) continue;
        int got = static_cast<int>(recv(s, scratch, sizeof scratch, 0));
        if (got <= 0) break;
        request.append(scratch, static_cast<size_t>(got));
        // Not HTTP (a TLS hello, say): hang up at once instead of waiting
        // for a blank line that never comes.
        if (request[0] < 'A' || request[0] > 'Z') break;
    }
    size_t path_start = request.find(' ');
    size_t path_end = path_start == std::string::npos ? path_start : request.find(' ', path_start + 1);
    if (path_end == std::string::npos) {
        CloseSocket(s);
        return;
    }
    std::string path = request.substr(path_start + 1, path_end - path_start - 1);
    Request seen;
    seen.method = request.substr(0, path_start);
    seen.path = path;
    seen.head = request.substr(0, request.find("\r\n\r\n"));
    Reply reply = Body(404, "<html><body>no such page</body></html>");
    {
        std::lock_guard<std::mutex> hold(mutex_);
        ++counts_[path];
        requests_[path] = request;
        log_.push_back(seen);
        auto it = routes_.find(path);
        if (it != routes_.end()) reply = it->second;
    }

    const std::string no_store = "Cache-Control: no-store\r\n";
    switch (reply.kind) {
        case Reply::Kind::kBody: {
            // A reply that says how long it may be cached says so instead.
            std::string cache = Request{"", "", "\r\n" + reply.headers}.HasHeader("Cache-Control") ? "" : no_store;
            std::string out = Head(reply.status, cache + reply.headers + LengthField(reply.body.size())) + reply.body;
            SendAll(connection, out.data(), out.size());
            break;
        }
        case Reply::Kind::kPublisher:
            Publish(connection, seen, reply);
            break;
        case Reply::Kind::kBomb:
            SendBomb(connection, path, reply);
            break;
        case Reply::Kind::kHangUp:
            CloseSocket(s);
            return;
        case Reply::Kind::kChunked: {
            std::string head = Head(200, no_store + "Transfer-Encoding: chunked\r\n");
            if (!SendAll(connection, head.data(), head.size())) break;
            bool ok = true;
            for (const std::string& piece : reply.pieces) {
                char size_line[32];
                std::snprintf(size_line, sizeof size_line, "%zx\r\n", piece.size());
                std::string chunk = size_line + piece + "\r\n";
                ok = SendAll(connection, chunk.data(), chunk.size());
                if (!ok) break;
                // Separate pieces arrive as separate, short reads.
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
            }
            if (ok) SendAll(connection, "0\r\n\r\n", 5);
            break;
        }
        case Reply::Kind::kBrokenOff:
        case Reply::Kind::kStallAfter: {
            std::string out = Head(200, no_store + LengthField(reply.announced)) + reply.body;
            if (!SendAll(connection, out.data(), out.size())) break;
            if (reply.kind == Reply::Kind::kStallAfter) WaitForClose(connection);
            break;
        }
        case Reply::Kind::kStall:
            WaitForClose(connection);
            break;
        case Reply::Kind::kRedirect: {
            std::string out = Head(302, "Location: " + reply.location + "\r\n" + LengthField(0));
            SendAll(connection, out.data(), out.size());
            break;
        }
        case Reply::Kind::kTrickleBody:
        case Reply::Kind::kTrickleHeaders:
        case Reply::Kind::kEndlessContinue:
            Trickle(connection, path, reply);
            break;
        case Reply::Kind::kHeaderFlood:
            Flood(connection, path, reply);
            break;
        case Reply::Kind::kStream: {
            std::string head = Head(200, no_store + LengthField(reply.announced));
            if (!SendAll(connection, head.data(), head.size())) break;
            std::string block(65536, '\0');
            for (size_t sent = 0; sent < reply.announced;) {
                size_t n = reply.announced - sent < block.size() ? reply.announced - sent : block.size();
                for (size_t i = 0; i < n; ++i) block[i] = StreamByte(sent + i);
                if (!SendAll(connection, block.data(), n)) break;
                sent += n;
            }
            break;
        }
    }
    // A clean end of stream: the client reads everything sent, then EOF.
    ShutdownWrite(s);
    WaitForClose(connection);
    CloseSocket(s);
}

}  // namespace testing_util
}  // namespace feedlet
