// POSIX implementation of HttpGet with libcurl: the same agent, request
// headers, redirects and time-outs as the WinINet version, gzip and deflate
// decoded by libcurl, proxies from the environment (http_proxy, https_proxy,
// no_proxy), which libcurl reads by itself. libcurl keeps no cache. May
// contain only OS plumbing.
#include "platform/http.h"
#include "platform/http_body.h"
#include "platform/posix/ascii_case.h"

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

namespace feedlet {
namespace platform {

namespace {

// Which response the transfer is in: libcurl reports the headers of every
// response on the way through redirects, but gives only the final body.
using Clock = std::chrono::steady_clock;

struct Transfer {
    HttpBody body;
    HttpStatus abort_reason = HttpStatus::kOk;
    const std::atomic<bool>* cancel;
    long status = 0;
    // The fields of the response whose head is being read (the final one
    // once final_response is set).
    HttpField etag, last_modified, retry_after;
    bool location = false;
    bool final_response = false;  // the headers of the response we read are complete
    Clock::duration idle_limit;
    Clock::time_point last_activity = Clock::now();
    size_t header_bytes_left;     // of every head together
    uint32_t interim_left;        // 1xx responses still allowed

    Transfer(const HttpLimits& limits, size_t padding, const std::atomic<bool>* cancel_flag)
        : body(limits.max_body_bytes, padding),
          cancel(cancel_flag),
          idle_limit(std::chrono::milliseconds(limits.timeout_ms)),
          header_bytes_left(limits.max_header_bytes),
          interim_left(limits.max_interim_responses) {}
};

bool StartsWithNoCase(const char* text, size_t length, const char* prefix) {
    size_t n = std::strlen(prefix);
    return length >= n && EqualIgnoringAsciiCase(text, prefix, n);
}

// Keeps the value of a "name:" header line in field.
bool TakeField(const char* line, size_t length, const char* name, HttpField& field) {
    if (!StartsWithNoCase(line, length, name)) return false;
    size_t skip = std::strlen(name);
    field.Set(line + skip, length - skip);
    return true;
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
        transfer->etag.Clear();
        transfer->last_modified.Clear();
        transfer->retry_after.Clear();
    } else if (StartsWithNoCase(line, length, "location:")) {
        transfer->location = true;
    } else if (TakeField(line, length, "etag:", transfer->etag) ||
               TakeField(line, length, "last-modified:", transfer->last_modified) ||
               TakeField(line, length, "retry-after:", transfer->retry_after)) {
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
// long; and the cancel flag. libcurl calls this at least once a second
// while it waits.
int OnProgress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* transfer = static_cast<Transfer*>(context);
    if (transfer->cancel && transfer->cancel->load()) {
        transfer->abort_reason = HttpStatus::kCancelled;
        return 1;
    }
    return Clock::now() - transfer->last_activity > transfer->idle_limit ? 1 : 0;
}

// RequestHeaderLines as libcurl's list, one entry per line without its CRLF.
curl_slist* HeaderList(const HttpRequest& request) {
    std::string lines = RequestHeaderLines(request);
    curl_slist* list = nullptr;
    // Each line is cut off in place at its CR: no allocation between the
    // appends, so nothing can throw while the list is held here.
    for (size_t start = 0;;) {
        size_t end = lines.find("\r\n", start);
        if (end == std::string::npos) break;
        lines[end] = '\0';
        curl_slist* longer = curl_slist_append(list, lines.c_str() + start);
        if (!longer) {
            curl_slist_free_all(list);
            return nullptr;
        }
        list = longer;
        start = end + 2;
    }
    return list;
}

bool GlobalInit() {
    // curl_global_init is not safe to race with other threads' first use.
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] { ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ok;
}

}  // namespace

HttpResult HttpGet(const HttpRequest& request, const HttpLimits& limits, size_t padding, unsigned char** data,
                   size_t* length) {
    *data = nullptr;
    *length = 0;
    HttpResult result;
    if (!request.url || !GlobalInit()) return result;
    // Released on every way out: the header list is built with the standard
    // library, which throws when memory runs out.
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(), curl_easy_cleanup);
    if (!handle) return result;
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> header_list(HeaderList(request), curl_slist_free_all);
    if (!header_list) return result;
    CURL* curl = handle.get();
    curl_slist* headers = header_list.get();

    Transfer transfer(limits, padding, request.cancel);

    curl_easy_setopt(curl, CURLOPT_URL, request.url);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kHttpAgent);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    // libcurl decodes these itself and hands the body on decoded, so the
    // size limit below counts what the body becomes, not what it costs.
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 30L);
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
    // A Content-Length beyond the limit fails at once instead of after 32
    // MiB. With compression it is the encoded length, which a decoded body
    // within the limit does not exceed in practice (deflate grows what it
    // cannot shrink by a few bytes in thousands).
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.max_body_bytes));

    CURLcode rc = curl_easy_perform(curl);
    handle.reset();
    header_list.reset();

    if (transfer.final_response) {
        result.code = static_cast<int>(transfer.status);
        result.etag = transfer.etag;
        result.last_modified = transfer.last_modified;
        result.retry_after = transfer.retry_after;
    }
    if (transfer.abort_reason != HttpStatus::kOk) {
        result.status = transfer.abort_reason;
        return result;
    }
    if (rc == CURLE_FILESIZE_EXCEEDED) {
        result.status = HttpStatus::kTooLarge;
        return result;
    }
    // A body that breaks off, stalls or reaches the deadline keeps what
    // arrived, as WinINet's reads simply end; failing before the final
    // response is a failure, and so is a body that does not decode.
    if (rc == CURLE_BAD_CONTENT_ENCODING) return result;
    if (rc != CURLE_OK && !transfer.final_response) return result;
    result.status = transfer.body.Release(data, length);
    return result;
}

}  // namespace platform
}  // namespace feedlet
