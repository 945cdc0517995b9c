// HTTP(S) download for the platform layer: one GET of a URL into a growing
// malloc'd block. win32/ uses WinINet with the system's proxy configuration;
// posix/ uses libcurl with the environment's proxy variables. Both send the
// same agent string and follow up to 30 redirects (301, 302, 303, 307, 308
// with a Location), to http: and https: only. The status code is not looked
// at: an error page, or a redirect without a Location, is a body like any
// other.
#pragma once

#include <cstddef>
#include <cstdint>

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
    kTooLarge,   // the body grew beyond limits.max_body_bytes
    kNoMemory,   // the body could not be stored
};

// GETs url. On kOk, *data is a malloc'd block (never null, even for an empty
// body) holding the *length body bytes followed by `padding` zero bytes.
// Once the final response's head is complete, a transfer that breaks off,
// stalls past the time-out or reaches the deadline is not a failure: the
// body is what arrived by then. Before that, each of them fails the fetch.
// On any status but kOk *data is null and *length 0. Returns no later than
// the deadline plus the time it takes to tear the connection down; only a
// name lookup, which neither WinINet nor libcurl can interrupt, may take
// longer (the system resolver bounds it).
HttpStatus HttpGet(const char* url, const HttpLimits& limits, size_t padding,
                   unsigned char** data, size_t* length);

}  // namespace platform
}  // namespace feedlet
