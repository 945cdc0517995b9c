// POSIX implementation of HttpGet with libcurl: the same agent, redirects
// and time-outs as the WinINet version, proxies from the environment
// (http_proxy, https_proxy, no_proxy), which libcurl reads by itself.
// May contain only OS plumbing.
#include "platform/http.h"
#include "platform/http_body.h"
#include "platform/posix/ascii_case.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace feedlet {
namespace platform {

namespace {

// Which response the transfer is in: libcurl reports the headers of every
// response on the way through redirects, but gives only the final body.
using Clock = std::chrono::steady_clock;

struct Transfer {
    HttpBody body;
    HttpStatus abort_reason = HttpStatus::kOk;
    long status = 0;
    bool location = false;
    bool final_response = false;  // the headers of the response we read are complete
    Clock::duration idle_limit;
    Clock::time_point last_activity = Clock::now();
    size_t header_bytes_left;     // of every head together
    uint32_t interim_left;        // 1xx responses still allowed

    explicit Transfer(const HttpLimits& limits, size_t padding)
        : body(limits.max_body_bytes, padding),
          idle_limit(std::chrono::milliseconds(limits.timeout_ms)),
          header_bytes_left(limits.max_header_bytes),
          interim_left(limits.max_interim_responses) {}
};

bool StartsWithNoCase(const char* text, size_t length, const char* prefix) {
    size_t n = std::strlen(prefix);
    return length >= n && EqualIgnoringAsciiCase(text, prefix, n);
}

bool IsFollowedRedirect(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Returning anything but length makes libcurl abort the transfer.
size_t OnHeader(char* line, size_t size, size_t count, void* context) {
    auto* transfer = static_cast<Transfer*>(context);
    size_t length = size * count;
    transfer->last_activity = Clock::now();
    // A flood of header lines, or of interim responses, fails at the limit
    // instead of running (and filling memory) until the deadline. libcurl
    // itself refuses a single line longer than CURL_MAX_HTTP_HEADER before
    // it gets here.
    if (length > transfer->header_bytes_left) {
        transfer->abort_reason = HttpStatus::kFailed;
        return 0;
    }
    transfer->header_bytes_left -= length;
    if (StartsWithNoCase(line, length, "http/")) {
        const char* space = static_cast<const char*>(std::memchr(line, ' ', length));
        transfer->status = space ? std::strtol(space + 1, nullptr, 10) : 0;
        if (transfer->status >= 100 && transfer->status < 200 && transfer->interim_left-- == 0) {
            transfer->abort_reason = HttpStatus::kFailed;
            return 0;
        }
        transfer->location = false;
        transfer->final_response = false;
    } else if (StartsWithNoCase(line, length, "location:")) {
        transfer->location = true;
    } else if (length <= 2 && (line[0] == '\r' || line[0] == '\n')) {
        transfer->final_response = transfer->status >= 200 &&
                                   !(transfer->location && IsFollowedRedirect(transfer->status));
    }
    return length;
}

size_t OnBody(char* bytes, size_t size, size_t count, void* context) {
    auto* transfer = static_cast<Transfer*>(context);
    size_t length = size * count;
    transfer->last_activity = Clock::now();
    HttpStatus status = transfer->body.Append(bytes, length);
    if (status != HttpStatus::kOk) {
        transfer->abort_reason = status;
        return 0;  // any other count makes libcurl abort the transfer
    }
    return length;
}

// WinINet's receive time-out: give up when nothing has arrived for that
// long. libcurl calls this at least once a second while it waits.
int OnProgress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* transfer = static_cast<Transfer*>(context);
    return Clock::now() - transfer->last_activity > transfer->idle_limit ? 1 : 0;
}

bool GlobalInit() {
    // curl_global_init is not safe to race with other threads' first use.
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] { ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ok;
}

}  // namespace

HttpStatus HttpGet(const char* url, const HttpLimits& limits, size_t padding,
                   unsigned char** data, size_t* length) {
    *data = nullptr;
    *length = 0;
    if (!url || !GlobalInit()) return HttpStatus::kFailed;
    CURL* curl = curl_easy_init();
    if (!curl) return HttpStatus::kFailed;

    Transfer transfer(limits, padding);

    curl_easy_setopt(curl, CURLOPT_URL, url);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kHttpAgent);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 30L);
    curl_easy_setopt(curl, CURLOPT_AUTOREFERER, 1L);
    // Several crawler threads fetch at once: no signals for time-outs.
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.timeout_ms));
    // The whole transfer, redirects included (0 would mean none at all).
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.deadline_ms ? limits.deadline_ms : 1));
    // libcurl's low-speed check averages over seconds of history, so a
    // stall after a burst would go unnoticed for longer: time silence instead.
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    // Through a proxy tunnel, its "200 Connection established" is not our response.
    curl_easy_setopt(curl, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    // A Content-Length beyond the limit fails at once instead of after 32 MiB.
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.max_body_bytes));

    CURLcode rc = curl_easy_perform(curl);
    curl_easy_cleanup(curl);

    if (transfer.abort_reason != HttpStatus::kOk) return transfer.abort_reason;
    if (rc == CURLE_FILESIZE_EXCEEDED) return HttpStatus::kTooLarge;
    // A body that breaks off, stalls or reaches the deadline keeps what
    // arrived, as WinINet's reads simply end; failing before the final
    // response is a failure.
    if (rc != CURLE_OK && !transfer.final_response) return HttpStatus::kFailed;
    return transfer.body.Release(data, length);
}

}  // namespace platform
}  // namespace feedlet
