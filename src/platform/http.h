// HTTP(S) download for the platform layer: one GET of a URL into a growing
// malloc'd block. win32/ uses WinINet with the system's proxy configuration;
// posix/ uses libcurl with the environment's proxy variables. Both send the
// same agent string and request headers (http_common.cpp), ask for the
// compressions their decoder reads (gzip and deflate with libcurl, gzip with
// WinINet) and hand back the decoded body, never answer from a cache, and
// follow up to 30 redirects (301, 302, 303, 307, 308 with a Location), to
// http: and https: only, without a Referer. The status code is reported, not
// judged: an error page, or a redirect without a Location, is a body like
// any other, and the caller decides what a status means.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace feedlet {
namespace platform {

// The agent string of every request.
constexpr char kHttpAgent[] = "URL File Open By Marlun@Hestrovia";

struct HttpLimits {
    // Each of connecting, sending and waiting for data may take this long
    // before the transfer is given up, so a stalled server cannot hold a
    // crawler (and the host's shut-down) forever.
    uint32_t timeout_ms;
    // The whole fetch, redirects included, ends this long after it began,
    // however steadily the server trickles: a byte, a header line or an
    // interim response just inside each time-out would otherwise hold the
    // crawler's lock, the feed manager and the host's shut-down as long as
    // the server liked.
    uint32_t deadline_ms;
    // A longer body fails the fetch instead of eating the 32-bit host's
    // address space.
    size_t max_body_bytes;
    // Response heads (status lines and header lines of every response the
    // fetch sees, redirects and interim responses included) may add up to
    // this many bytes, and at most this many interim (1xx) responses may come
    // before the final one: a header flood or an endless "100 Continue"
    // fails the fetch at once instead of filling memory until the deadline.
    // libcurl counts both exactly. WinINet reads a head whole inside one
    // call and shows neither its size nor its interim responses while it
    // reads; http_win32.cpp says how a head is bounded there.
    size_t max_header_bytes;
    uint32_t max_interim_responses;
};
constexpr HttpLimits kDefaultHttpLimits{30000, 120000, size_t{32} << 20, size_t{256} << 10, 8};

enum class HttpStatus {
    kOk,
    kFailed,     // null or non-http(s) URL, no session, name lookup, connection, TLS,
                 // more than 30 redirects, time-out or deadline before the final
                 // response's head was complete, head beyond its limits
    kTooLarge,   // the decoded body grew beyond limits.max_body_bytes
    kNoMemory,   // the body could not be stored
    kCancelled,  // the request's cancel flag was set while the fetch ran
};

// Header values kept from the final response are at most this long; a
// longer one is reported as absent (a validator cut short would be wrong).
constexpr size_t kHttpMaxFieldBytes = 1024;

// One header value of the final response, without the white space around
// it; empty when the response had none (or one too long to keep).
struct HttpField {
    char text[kHttpMaxFieldBytes + 1] = {};
    bool empty() const { return text[0] == 0; }
    // Keeps value[0..length) without surrounding blanks and tabs; a longer
    // value than kHttpMaxFieldBytes, or one with a NUL, leaves the field
    // empty. Only the first occurrence of a header counts: a later one is
    // ignored once the field holds a value.
    void Set(const char* value, size_t length);
    void Clear() { text[0] = 0; }
};

struct HttpRequest {
    const char* url = nullptr;
    // Sent as If-None-Match and If-Modified-Since when not null and not
    // empty, exactly as given; a value with CR or LF is not sent.
    const char* if_none_match = nullptr;
    const char* if_modified_since = nullptr;
    // Another thread sets it to end the fetch at once; the fetch then fails
    // with kCancelled whatever had arrived. May be null.
    const std::atomic<bool>* cancel = nullptr;
};

// What HttpGet found out beyond the body.
struct HttpResult {
    HttpStatus status = HttpStatus::kFailed;
    // The final response's status code (200, 304, 404, 429 ...); 0 when no
    // head was complete.
    int code = 0;
    HttpField etag;
    HttpField last_modified;
    HttpField retry_after;
    explicit operator bool() const { return status == HttpStatus::kOk; }
};

// GETs request.url. On kOk, *data is a malloc'd block (never null, even for
// an empty body) holding the *length body bytes, decoded when the server
// compressed them, followed by `padding` zero bytes; result.code and the
// fields describe the final response (a redirect's are never reported).
// Once the final response's head is complete, a transfer that breaks off,
// stalls past the time-out or reaches the deadline is not a failure: the
// body is what arrived by then. Before that, each of them fails the fetch.
// A compressed body that does not decode fails the fetch (kFailed).
// On any status but kOk *data is null and *length 0 (result.code may still
// tell what the server answered). Returns no later than the deadline plus
// the time it takes to tear the connection down, and about a second after
// the cancel flag is set; only a name lookup, which neither WinINet nor
// libcurl can interrupt, may take longer (the system resolver bounds it).
HttpResult HttpGet(const HttpRequest& request, const HttpLimits& limits, size_t padding, unsigned char** data,
                   size_t* length);

// The header lines both implementations add to every request: no cached
// copy (Pragma and Cache-Control), and the validators the request carries.
// Each line ends in CRLF. Accept-Encoding is the implementations' own: each
// names only what its decoder reads.
std::string RequestHeaderLines(const HttpRequest& request);

// The redirects that are followed when they carry a Location.
bool IsFollowedRedirect(long status);

}  // namespace platform
}  // namespace feedlet
