// Win32 implementation of HttpGet with WinINet, as the plugin has always
// fetched feeds: the system's proxy configuration, WinINet's defaults for
// the cache and cookies, and the body read in 4095-byte pieces.
// May contain only OS plumbing.
//
// The request is opened in steps (connection, request, send) rather than
// with InternetOpenUrlA so that the time-outs can be set on the request
// handle before anything is sent: Wine's WinINet ignores send and receive
// time-outs set on the session handle, and InternetOpenUrlA has already
// waited for the answer when it returns. For the same reason of Wine's,
// redirects are followed here, with a bound, instead of by WinINet.
#include "platform/http.h"
#include "platform/http_body.h"

#include <windows.h>
#include <wininet.h>

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

// Opens a connection and a request for url and sends the request. The
// request follows no redirect by itself (see HttpGet).
bool OpenRequest(HINTERNET session, const char* url, DWORD timeout_ms, InternetHandle& connection,
                 InternetHandle& request) {
    request.Reset(nullptr);
    connection.Reset(nullptr);
    UrlParts parts;
    if (!CrackUrl(url, parts)) return false;
    connection.Reset(InternetConnectA(session, parts.host.c_str(), parts.port,
                                      parts.user.empty() ? nullptr : parts.user.c_str(),
                                      parts.password.empty() ? nullptr : parts.password.c_str(),
                                      INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection) return false;
    SetTimeouts(connection.get(), timeout_ms);
    // Otherwise WinINet's defaults, as for a URL opened whole: the cache
    // and cookies.
    const char* accept[] = {"*/*", nullptr};
    DWORD flags = INTERNET_FLAG_NO_AUTO_REDIRECT | (parts.secure ? INTERNET_FLAG_SECURE : 0);
    request.Reset(HttpOpenRequestA(connection.get(), "GET", parts.object.c_str(), nullptr, nullptr, accept, flags, 0));
    if (!request) return false;
    SetTimeouts(request.get(), timeout_ms);
    // The request goes out once.
    return HttpSendRequestA(request.get(), nullptr, 0, nullptr, 0) != FALSE;
}

bool IsRedirect(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
        return false;
    if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308) return false;
    // Without a Location the redirect's own body is the answer.
    char probe[1];
    size = 0;
    return HttpQueryInfoA(request, HTTP_QUERY_LOCATION, probe, &size, nullptr) ||
           GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

// The absolute URL the response's Location points to, resolved against the
// URL it answered.
bool RedirectTarget(HINTERNET request, std::string& location) {
    DWORD size = 0;
    HttpQueryInfoA(request, HTTP_QUERY_LOCATION, nullptr, &size, nullptr);
    if (size == 0) return false;
    std::string relative(size + 1, '\0');
    if (!HttpQueryInfoA(request, HTTP_QUERY_LOCATION, &relative[0], &size, nullptr)) return false;
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

}  // namespace

HttpStatus HttpGet(const char* url, const HttpLimits& limits, size_t padding,
                   unsigned char** data, size_t* length) {
    *data = nullptr;
    *length = 0;
    if (!url) return HttpStatus::kFailed;
    InternetHandle session(InternetOpenA(kHttpAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session) return HttpStatus::kFailed;
    // WinINet's own defaults would let a server that accepts and then says
    // nothing hold the fetch for as long as it likes. Every level gets them.
    SetTimeouts(session.get(), limits.timeout_ms);

    std::string location = url;
    InternetHandle connection, request;
    for (int hops = 0;; ++hops) {
        if (!OpenRequest(session.get(), location.c_str(), limits.timeout_ms, connection, request))
            return HttpStatus::kFailed;
        if (!IsRedirect(request.get())) break;
        // Wine's WinINet follows a redirect loop forever, so this code
        // follows redirects itself, with the bound libcurl has on POSIX.
        if (hops == kMaxRedirects || !RedirectTarget(request.get(), location)) return HttpStatus::kFailed;
    }

    HttpBody body(limits.max_body_bytes, padding);
    char chunk[kReadSize + 1];
    for (;;) {
        // Wait for data first and read only what is there: a read that times
        // out part-filled would drop the bytes it had (Wine's does).
        DWORD available = 0;
        if (!InternetQueryDataAvailable(request.get(), &available, 0, 0) || available == 0) break;
        DWORD got = 0;
        // A failed read (connection reset, time-out) ends the body like its
        // end does, keeping what arrived.
        if (!InternetReadFile(request.get(), chunk, available < kReadSize ? available : kReadSize, &got)) got = 0;
        if (got == 0) break;
        HttpStatus status = body.Append(chunk, got);
        if (status != HttpStatus::kOk) return status;
    }
    return body.Release(data, length);
}

}  // namespace platform
}  // namespace feedlet
