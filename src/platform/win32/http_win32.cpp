// Win32 implementation of HttpGet with WinINet: the system's proxy
// configuration, WinINet's cookies, never its cache, gzip decoded by
// WinINet, and the body read in 4095-byte pieces. May contain only OS
// plumbing.
//
// The request is opened in steps (connection, request, send) rather than
// with InternetOpenUrlA so that the time-outs can be set on the request
// handle before anything is sent (Wine's WinINet ignores send and receive
// time-outs set on the session handle), and redirects are followed here,
// with a bound, instead of by WinINet (Wine's follows a redirect loop
// forever and does not follow 308).
//
// The deadline and cancelling. WinINet's time-outs are per operation, and it
// reads a response head whole inside HttpSendRequest, so a server that
// trickles keeps that call going as long as it likes. Each fetch therefore
// has a watchdog thread, joined before HttpGet returns, which at the
// deadline, or when the request's cancel flag is set, ends the call under
// way: it closes the request handle, which is how Windows documents
// cancelling a blocking WinINet call from another thread, and the fetch then
// fails (or, at the deadline in the body, ends with what arrived). The
// handle lives in the watch, and whoever takes it from there closes it,
// once. The watchdog takes it only while the fetching thread has been
// inside a call on it for kCloseAfterMs, so that thread never makes a call
// with a handle value that is already closed (and may have been handed to
// another fetch). Under Wine, which does not end a call when its handle is
// closed, http_wine.h adds what does.
//
// Compression. WinINet decodes gzip and deflate once INTERNET_OPTION_HTTP_
// DECODING is on, but the request must name them itself. Only gzip is
// named: servers send "deflate" zlib-wrapped, as the HTTP standard says,
// Wine's WinINet reads it only as a bare deflate stream (measured, and so
// its source has it), and Windows does not document which form it reads.
// gzip has one form, which every decoder reads alike.
//
// The head. WinINet shows neither the size of a head nor its interim
// responses while it reads, so max_header_bytes and max_interim_responses
// cannot be counted here; http_wine.h says how a head is bounded under
// Wine, and on Windows WinINet bounds a head itself.
#include "platform/http.h"
#include "platform/http_body.h"
#include "platform/win32/http_wine.h"

#include <windows.h>
#include <wininet.h>
#include <process.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace feedlet {
namespace platform {

namespace {

// Closes a WinINet handle at scope end.
class InternetHandle {
public:
    explicit InternetHandle(HINTERNET handle = nullptr) : handle_(handle) {}
    ~InternetHandle() { Reset(nullptr); }
    void Reset(HINTERNET handle) {
        if (handle_) InternetCloseHandle(handle_);
        handle_ = handle;
    }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    HINTERNET get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    HINTERNET handle_;
};

constexpr DWORD kReadSize = 4095;
// ERROR_INTERNET_DECODING_FAILED, which mingw-w64's wininet.h lacks: a
// compressed body that does not decode.
constexpr DWORD kErrorDecodingFailed = 12175;
// How often the watchdog looks at the cancel flag (and, under Wine, at the
// cost of a head).
constexpr DWORD kWatchPollMs = WineTransfer::kHeadPollMs;
// The watchdog closes a request only when the fetching thread has been in a
// call on it this long: by then it is surely inside WinINet, holding the
// handle, and not about to pass a value that is already closed.
constexpr DWORD kCloseAfterMs = 500;

// ---------------------------------------------------------------------------
// What a fetch shares with its watchdog and with WinINet's status callback.
// It outlives every WinINet handle of the fetch, since those carry a pointer
// to it as their context.
class Watch {
public:
    Watch(uint32_t deadline_ms, const std::atomic<bool>* cancel)
        : start_(GetTickCount()), deadline_ms_(deadline_ms), cancel_(cancel) {
        InitializeCriticalSection(&lock_);
    }
    ~Watch() {
        StopWatchdog();
        CloseRequest();
        DeleteCriticalSection(&lock_);
    }
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

    DWORD Remaining() const {
        DWORD spent = GetTickCount() - start_;
        return spent >= deadline_ms_ ? 0 : deadline_ms_ - spent;
    }
    bool Aborted() const { return InterlockedCompareExchange(&aborted_, 0, 0) != 0; }
    bool Cancelled() const { return cancel_ && cancel_->load(); }
    // True once the fetch must stop: the watchdog cut it off, it was
    // cancelled, or the deadline passed (also without a watchdog).
    bool Over() const { return Aborted() || Cancelled() || Remaining() == 0; }

    // Starts the watchdog; without one the fetch still stops between calls.
    void StartWatchdog() {
        stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!stop_) return;
        uintptr_t thread = _beginthreadex(nullptr, 0, WatchdogMain, this, 0, nullptr);
        watchdog_ = reinterpret_cast<HANDLE>(thread);
    }
    // Ends and joins the watchdog; afterwards nothing is closed or shut down
    // behind the fetching thread.
    void StopWatchdog() {
        if (watchdog_) {
            SetEvent(stop_);
            WaitForSingleObject(watchdog_, INFINITE);
            CloseHandle(watchdog_);
            watchdog_ = nullptr;
        }
        if (stop_) CloseHandle(stop_);
        stop_ = nullptr;
    }

    // A hop (the first request or a redirect's next): the last hop's
    // request is closed.
    void BeginHop(INTERNET_PORT port) {
        CloseRequest();
        wine_.BeginHop(port);
    }
    void EndSend() { wine_.EndSend(); }
    void SetRequest(HINTERNET request) {
        EnterCriticalSection(&lock_);
        request_ = request;
        LeaveCriticalSection(&lock_);
    }
    // The fetching thread, between calls.
    void CloseRequest() {
        EnterCriticalSection(&lock_);
        HINTERNET request = request_;
        request_ = nullptr;
        LeaveCriticalSection(&lock_);
        if (request) InternetCloseHandle(request);
    }

    // Runs operation(request) unless the fetch is over. FALSE when it did
    // not run, or when the watchdog closed the request meanwhile; otherwise
    // what the operation returned.
    template <typename Operation>
    BOOL Call(Operation operation) {
        EnterCriticalSection(&lock_);
        HINTERNET request = Over() ? nullptr : request_;
        if (request) {
            in_call_ = true;
            call_start_ = GetTickCount();
        }
        LeaveCriticalSection(&lock_);
        if (!request) return FALSE;
        BOOL result = operation(request);
        EnterCriticalSection(&lock_);
        in_call_ = false;
        bool closed = request_ == nullptr;
        LeaveCriticalSection(&lock_);
        return closed ? FALSE : result;
    }

    static void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID, DWORD) {
        auto* watch = reinterpret_cast<Watch*>(context);
        if (watch) watch->wine_.OnStatus(status, watch->Remaining());
    }

private:
    // Sleeps until the deadline or the cancel flag, looking every
    // kWatchPollMs; then cuts the fetch off and, once the call under way has
    // run kCloseAfterMs, closes its request.
    static unsigned __stdcall WatchdogMain(void* argument) {
        auto* watch = static_cast<Watch*>(argument);
        for (;;) {
            DWORD wait = std::min(watch->Remaining(), kWatchPollMs);
            if (WaitForSingleObject(watch->stop_, wait) == WAIT_OBJECT_0) return 0;
            if (watch->Remaining() == 0 || watch->Cancelled() || watch->wine_.HeadFlooded()) break;
        }
        InterlockedExchange(&watch->aborted_, 1);
        watch->wine_.Abort();
        for (;;) {
            if (HINTERNET request = watch->TakeStuckRequest()) {
                InternetCloseHandle(request);
                return 0;
            }
            if (WaitForSingleObject(watch->stop_, kWatchPollMs) == WAIT_OBJECT_0) return 0;
        }
    }

    // The request, taken out of the watch, when the fetching thread has been
    // inside a call on it long enough to be sure it is in WinINet by now.
    HINTERNET TakeStuckRequest() {
        EnterCriticalSection(&lock_);
        HINTERNET request = nullptr;
        if (in_call_ && request_ && GetTickCount() - call_start_ >= kCloseAfterMs) {
            request = request_;
            request_ = nullptr;
        }
        LeaveCriticalSection(&lock_);
        return request;
    }

    const DWORD start_;
    const DWORD deadline_ms_;
    const std::atomic<bool>* const cancel_;
    HANDLE stop_ = nullptr;
    HANDLE watchdog_ = nullptr;
    mutable LONG aborted_ = 0;
    WineTransfer wine_;
    // Shared with the watchdog, under lock_.
    CRITICAL_SECTION lock_;
    HINTERNET request_ = nullptr;
    bool in_call_ = false;
    DWORD call_start_ = 0;
};

// The watchdog runs while the fetch's handles are open and is joined before
// any of them closes.
class WatchdogRunning {
public:
    explicit WatchdogRunning(Watch& watch) : watch_(watch) { watch_.StartWatchdog(); }
    ~WatchdogRunning() { watch_.StopWatchdog(); }
    WatchdogRunning(const WatchdogRunning&) = delete;
    WatchdogRunning& operator=(const WatchdogRunning&) = delete;

private:
    Watch& watch_;
};

// ---------------------------------------------------------------------------
// Requests

void SetTimeouts(HINTERNET handle, DWORD timeout_ms) {
    InternetSetOptionA(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout_ms, sizeof timeout_ms);
    InternetSetOptionA(handle, INTERNET_OPTION_SEND_TIMEOUT, &timeout_ms, sizeof timeout_ms);
    InternetSetOptionA(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout_ms, sizeof timeout_ms);
}

// The parts of an http: or https: URL that the request needs.
struct UrlParts {
    std::string host, user, password, object;
    INTERNET_PORT port = 0;
    bool secure = false;
};

bool CrackUrl(const char* url, UrlParts& parts) {
    size_t room = std::strlen(url) + 1;  // no part is longer than the URL
    std::string scheme(room, '\0'), host(room, '\0'), user(room, '\0'), password(room, '\0'),
        path(room, '\0'), extra(room, '\0');
    URL_COMPONENTSA c{};
    c.dwStructSize = sizeof c;
    c.lpszScheme = &scheme[0];
    c.dwSchemeLength = static_cast<DWORD>(room);
    c.lpszHostName = &host[0];
    c.dwHostNameLength = static_cast<DWORD>(room);
    c.lpszUserName = &user[0];
    c.dwUserNameLength = static_cast<DWORD>(room);
    c.lpszPassword = &password[0];
    c.dwPasswordLength = static_cast<DWORD>(room);
    c.lpszUrlPath = &path[0];
    c.dwUrlPathLength = static_cast<DWORD>(room);
    c.lpszExtraInfo = &extra[0];
    c.dwExtraInfoLength = static_cast<DWORD>(room);
    if (room > 0xFFFFFFFFu || !InternetCrackUrlA(url, 0, 0, &c)) return false;
    if (c.nScheme != INTERNET_SCHEME_HTTP && c.nScheme != INTERNET_SCHEME_HTTPS) return false;
    if (c.dwHostNameLength == 0) return false;
    parts.host.assign(host.c_str(), c.dwHostNameLength);
    parts.user.assign(user.c_str(), c.dwUserNameLength);
    parts.password.assign(password.c_str(), c.dwPasswordLength);
    parts.object.assign(path.c_str(), c.dwUrlPathLength);
    parts.object.append(extra.c_str(), c.dwExtraInfoLength);
    if (parts.object.empty()) parts.object = "/";
    parts.port = c.nPort;
    parts.secure = c.nScheme == INTERNET_SCHEME_HTTPS;
    return true;
}

constexpr int kMaxRedirects = 30;

// Every request's flags. Never an answer from the cache, WinINet's or a
// proxy's (RELOAD, PRAGMA_NOCACHE), and nothing written to it (Wine's
// WinINet builds a cache entry's header text by repeated concatenation,
// which took minutes of CPU for a flood of a few megabytes of header
// lines); never a dialog (cookies, authentication) from a worker thread;
// redirects are this file's.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_AUTO_REDIRECT;

// Opens a connection and a request for url and sends the request, within
// what is left of the deadline. The request goes into the watch and follows
// no redirect by itself (see Fetch).
bool OpenRequest(HINTERNET session, const char* url, const std::string& headers, DWORD timeout_ms, Watch& watch,
                 InternetHandle& connection) {
    UrlParts parts;
    bool cracked = CrackUrl(url, parts);
    watch.BeginHop(parts.port);
    connection.Reset(nullptr);
    if (!cracked) return false;
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&watch);
    connection.Reset(InternetConnectA(session, parts.host.c_str(), parts.port,
                                      parts.user.empty() ? nullptr : parts.user.c_str(),
                                      parts.password.empty() ? nullptr : parts.password.c_str(),
                                      INTERNET_SERVICE_HTTP, 0, context));
    if (!connection) return false;
    DWORD remaining = watch.Remaining();
    if (remaining == 0) return false;
    // A call the watchdog cannot end still gives up by the deadline.
    DWORD timeout = std::min(timeout_ms, remaining);
    SetTimeouts(connection.get(), timeout);
    const char* accept[] = {"*/*", nullptr};
    DWORD flags = kRequestFlags | (parts.secure ? INTERNET_FLAG_SECURE : 0);
    // No referrer: a feed's server is not told where a redirect came from.
    HINTERNET request =
        HttpOpenRequestA(connection.get(), "GET", parts.object.c_str(), nullptr, nullptr, accept, flags, context);
    if (!request) return false;
    watch.SetRequest(request);
    SetTimeouts(request, timeout);
    BOOL decode = TRUE;
    InternetSetOptionA(request, INTERNET_OPTION_HTTP_DECODING, &decode, sizeof decode);
    BOOL sent = watch.Call([&](HINTERNET r) {
        return HttpSendRequestA(r, headers.c_str(), static_cast<DWORD>(headers.size()), nullptr, 0);
    });
    watch.EndSend();
    // Cut off by the watch, WinINet may still report success with half a head.
    return sent != FALSE && !watch.Over();
}

int StatusCode(Watch& watch) {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!watch.Call([&](HINTERNET r) {
            return HttpQueryInfoA(r, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
        }))
        return 0;
    return static_cast<int>(status);
}

// The first value of a response header, or an empty field.
void ReadField(Watch& watch, DWORD query, HttpField& field) {
    char value[kHttpMaxFieldBytes + 2];
    DWORD size = sizeof value;
    DWORD index = 0;
    if (watch.Call([&](HINTERNET r) { return HttpQueryInfoA(r, query, value, &size, &index); }) &&
        size < sizeof value)
        field.Set(value, size);
}

bool HasLocation(Watch& watch) {
    char probe[1];
    DWORD size = 0;
    return watch.Call([&](HINTERNET r) {
        return HttpQueryInfoA(r, HTTP_QUERY_LOCATION, probe, &size, nullptr) ||
               GetLastError() == ERROR_INSUFFICIENT_BUFFER;
    }) != FALSE;
}

// The absolute URL the response's Location points to, resolved against the
// URL it answered.
bool RedirectTarget(Watch& watch, std::string& location) {
    DWORD size = 0;
    watch.Call([&](HINTERNET r) { return HttpQueryInfoA(r, HTTP_QUERY_LOCATION, nullptr, &size, nullptr); });
    if (size == 0) return false;
    std::string relative(size + 1, '\0');
    if (!watch.Call([&](HINTERNET r) { return HttpQueryInfoA(r, HTTP_QUERY_LOCATION, &relative[0], &size, nullptr); }))
        return false;
    relative.resize(size);
    DWORD combined_size = 0;
    InternetCombineUrlA(location.c_str(), relative.c_str(), nullptr, &combined_size, ICU_NO_ENCODE);
    if (combined_size == 0) return false;
    std::string combined(combined_size + 1, '\0');
    if (!InternetCombineUrlA(location.c_str(), relative.c_str(), &combined[0], &combined_size, ICU_NO_ENCODE))
        return false;
    combined.resize(std::strlen(combined.c_str()));
    location = combined;
    return true;
}

// Closes the watch's request before the connection and session close.
class RequestClosed {
public:
    explicit RequestClosed(Watch& watch) : watch_(watch) {}
    ~RequestClosed() { watch_.CloseRequest(); }
    RequestClosed(const RequestClosed&) = delete;
    RequestClosed& operator=(const RequestClosed&) = delete;

private:
    Watch& watch_;
};

HttpStatus Fetch(const HttpRequest& request, const HttpLimits& limits, size_t padding, Watch& watch,
                 HttpResult& result, unsigned char** data, size_t* length) {
    InternetHandle session(InternetOpenA(kHttpAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session) return HttpStatus::kFailed;
    // WinINet's own defaults would let a server that accepts and then says
    // nothing hold the fetch for as long as it likes. Every level gets them.
    SetTimeouts(session.get(), limits.timeout_ms);
    // Inherited by the connection and request handles, which carry the watch.
    InternetSetStatusCallbackA(session.get(), &Watch::OnStatus);

    // The request goes out once, on a connection of its own: one kept alive
    // would let a later fetch reuse it without connecting, unseen by its
    // watch.
    const std::string headers =
        "Accept-Encoding: gzip\r\nConnection: close\r\n" + RequestHeaderLines(request);
    std::string location = request.url;
    InternetHandle connection;
    // Destroyed in the reverse order: the watchdog is joined, then the
    // request, the connection and the session close.
    RequestClosed request_closed(watch);
    WatchdogRunning watchdog(watch);
    for (int hops = 0;; ++hops) {
        if (watch.Over() ||
            !OpenRequest(session.get(), location.c_str(), headers, limits.timeout_ms, watch, connection))
            return HttpStatus::kFailed;
        int code = StatusCode(watch);
        // Cut off right after the head: whether it was a redirect's is not
        // known.
        if (watch.Over()) return HttpStatus::kFailed;
        // Without a Location a redirect's own body is the answer.
        if (!IsFollowedRedirect(code) || !HasLocation(watch)) {
            result.code = code;
            ReadField(watch, HTTP_QUERY_ETAG, result.etag);
            ReadField(watch, HTTP_QUERY_LAST_MODIFIED, result.last_modified);
            ReadField(watch, HTTP_QUERY_RETRY_AFTER, result.retry_after);
            break;
        }
        // Wine's WinINet follows a redirect loop forever, so this code
        // follows redirects itself, with the bound libcurl has on POSIX.
        if (hops == kMaxRedirects || !RedirectTarget(watch, location)) return HttpStatus::kFailed;
    }
    // The head is complete: from here the deadline, like a stall, ends the
    // body with what arrived.
    HttpBody body(limits.max_body_bytes, padding);
    char chunk[kReadSize + 1];
    while (!watch.Over()) {
        // Wait for data first and read only what is there: a read that times
        // out part-filled would drop the bytes it had (Wine's does).
        DWORD available = 0;
        if (!watch.Call([&](HINTERNET r) { return InternetQueryDataAvailable(r, &available, 0, 0); })) {
            if (GetLastError() == kErrorDecodingFailed) return HttpStatus::kFailed;
            break;
        }
        if (available == 0) break;
        DWORD got = 0;
        // A failed read (connection reset, time-out, the watchdog) ends the
        // body like its end does, keeping what arrived; a body that stops
        // decoding is no body at all.
        if (!watch.Call([&](HINTERNET r) {
                return InternetReadFile(r, chunk, available < kReadSize ? available : kReadSize, &got);
            })) {
            if (GetLastError() == kErrorDecodingFailed) return HttpStatus::kFailed;
            got = 0;
        }
        if (got == 0) break;
        HttpStatus status = body.Append(chunk, got);
        if (status != HttpStatus::kOk) return status;
    }
    if (watch.Cancelled()) return HttpStatus::kCancelled;
    return body.Release(data, length);
}

}  // namespace

HttpResult HttpGet(const HttpRequest& request, const HttpLimits& limits, size_t padding, unsigned char** data,
                   size_t* length) {
    *data = nullptr;
    *length = 0;
    HttpResult result;
    if (!request.url) return result;
    // Declared before the handles Fetch opens, so that it outlives them and
    // their last callbacks.
    Watch watch(limits.deadline_ms, request.cancel);
    result.status = Fetch(request, limits, padding, watch, result, data, length);
    if (result.status == HttpStatus::kFailed && watch.Cancelled()) result.status = HttpStatus::kCancelled;
    return result;
}

}  // namespace platform
}  // namespace feedlet
