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
    // A longer body fails the fetch instead of eating the 32-bit host's
    // address space.
    size_t max_body_bytes;
};
constexpr HttpLimits kDefaultHttpLimits{30000, size_t{32} << 20};

enum class HttpStatus {
    kOk,
    kFailed,     // null or non-http(s) URL, no session, name lookup, connection, TLS,
                 // more than 30 redirects, time-out before the final response
    kTooLarge,   // the body grew beyond limits.max_body_bytes
    kNoMemory,   // the body could not be stored
};

// GETs url. On kOk, *data is a malloc'd block (never null, even for an empty
// body) holding the *length body bytes followed by `padding` zero bytes.
// A transfer that breaks off, or stalls, after the response has begun is not
// a failure: the body is what arrived. On any other status *data is null and
// *length 0.
HttpStatus HttpGet(const char* url, const HttpLimits& limits, size_t padding,
                   unsigned char** data, size_t* length);

}  // namespace platform
}  // namespace feedlet
