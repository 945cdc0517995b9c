// When a crawler comes back, and what it may send: the rules that make a
// feed reader a good citizen of a publisher's server. A failed fetch is
// tried again soon, then less and less often; a server that asks for a pause
// (429, 503 with Retry-After) gets it; validators of the document shown are
// sent back so that an unchanged feed costs a 304. Pure functions of their
// arguments, so the schedule they make can be tested with simulated seconds.
#pragma once

#include <cstddef>
#include <cstdint>

namespace feedlet {

// The first retry after a failure comes this long after it; each further
// failure doubles the pause, never beyond the feed's own interval.
constexpr uint32_t kFirstRetrySeconds = 60;
// A Retry-After further ahead than this is taken as this.
constexpr uint32_t kMaxRetryAfterSeconds = 86400;

// The pause after a failure: kFirstRetrySeconds after the first one (previous
// 0), twice the previous pause after each further one, and never more than
// interval. A zero interval (never configured) is taken as no bound.
uint32_t NextRetryDelay(uint32_t previous, uint32_t interval);

// The pause a 429 or 503 answer asks for: its Retry-After (delta-seconds or
// an HTTP-date, read against now in seconds since 1970), at most
// kMaxRetryAfterSeconds, and never less than interval. A missing, unreadable
// or past Retry-After means interval.
uint32_t PauseAfterRefusal(const char* retry_after, int64_t now, uint32_t interval);

// Seconds a Retry-After value asks to wait, or -1 when it is neither
// delta-seconds nor an HTTP-date. A date in the past gives 0; values beyond
// kMaxRetryAfterSeconds are cut to it.
int64_t RetryAfterSeconds(const char* value, int64_t now);

// Reads an HTTP-date in any of its three forms ("Sun, 06 Nov 1994 08:49:37
// GMT", "Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994") into
// seconds since 1970. False for anything else, trailing text included.
bool ParseHttpDate(const char* text, int64_t* seconds);

// A validator (ETag or Last-Modified) the crawler keeps and sends back:
// present, at most 1 KiB, and free of control characters. Anything else is
// dropped rather than repaired: the server compares it byte for byte.
bool IsUsableValidator(const char* value);

}  // namespace feedlet
