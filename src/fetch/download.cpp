#include "fetch/download.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/platform.h"

namespace feedlet {

void DownloadBuffer::Clear() {
    free(data);
    data = nullptr;
    length = 0;
}

void DownloadBuffer::Adopt(unsigned char* block, uint32_t block_length) {
    Clear();
    data = block;
    length = block ? block_length : 0;
}

bool FetchLocation(DownloadBuffer& buffer, const char* location) {
    return FetchLocation(buffer, location, FetchOptions{}, nullptr);
}

bool FetchLocation(DownloadBuffer& buffer, const char* location, const FetchOptions& options,
                   platform::HttpResult* result) {
    if (result) *result = platform::HttpResult{};
    // Only the exact lower-case bytes count; there is no other
    // classification of locations.
    try {
        if (location && std::strncmp(location, "http", 4) == 0)
            return FetchHttp(buffer, location, FetchLimits(), options, result);
        return ReadLocalFile(buffer, location);
    } catch (const std::bad_alloc&) {
        // The platform's HTTP code keeps its strings in the standard
        // library's containers: out of memory there is a failed download.
        buffer.Clear();
        return false;
    }
}

bool ReadLocalFile(DownloadBuffer& buffer, const char* path) {
    buffer.Clear();
    if (!path) return false;
    unsigned char* block = nullptr;
    size_t size = 0;
    platform::FileStatus status =
        platform::ReadWholeFile(path, kMaxDocumentBytes, kDownloadTerminator, &block, &size);
    if (status != platform::FileStatus::kOk) return false;
    buffer.Adopt(block, static_cast<uint32_t>(size));
    return true;
}

namespace {

// Crawler threads read the limits while a test may be setting them.
std::mutex limits_lock;
platform::HttpLimits fetch_limits = platform::kDefaultHttpLimits;

}  // namespace

platform::HttpLimits FetchLimits() {
    std::lock_guard<std::mutex> hold(limits_lock);
    return fetch_limits;
}

void SetFetchLimits(const platform::HttpLimits& limits) {
    std::lock_guard<std::mutex> hold(limits_lock);
    fetch_limits = limits;
}

bool FetchHttp(DownloadBuffer& buffer, const char* url) { return FetchHttp(buffer, url, FetchLimits()); }

bool FetchHttp(DownloadBuffer& buffer, const char* url, const platform::HttpLimits& limits) {
    return FetchHttp(buffer, url, limits, FetchOptions{}, nullptr);
}

bool FetchHttp(DownloadBuffer& buffer, const char* url, const platform::HttpLimits& limits,
               const FetchOptions& options, platform::HttpResult* result) {
    buffer.Clear();
    // length is 32 bits wide: a limit beyond that could not be reported.
    platform::HttpLimits bounded = limits;
    if (bounded.max_body_bytes > UINT32_MAX) bounded.max_body_bytes = UINT32_MAX;
    platform::HttpRequest request;
    request.url = url;
    request.if_none_match = options.if_none_match;
    request.if_modified_since = options.if_modified_since;
    request.cancel = options.cancel;
    unsigned char* block = nullptr;
    size_t size = 0;
    platform::HttpResult answer = platform::HttpGet(request, bounded, kDownloadTerminator, &block, &size);
    if (result) *result = answer;
    if (!answer) return false;
    buffer.Adopt(block, static_cast<uint32_t>(size));
    return true;
}

}  // namespace feedlet
