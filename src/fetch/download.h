// Feed download: a location string becomes the raw bytes of a document.
// A location beginning with the four bytes "http" is fetched over HTTP(S);
// anything else is a file path, read whole. No state is kept between calls
// and nothing is retried: what the server answered (status, validators,
// Retry-After) is reported, and the caller (a crawler) decides what to keep
// and when to come back.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/http.h"

namespace feedlet {

// Zero bytes kept after the data: the block reads as a NUL-terminated byte
// string, and what follows a two-byte byte-order mark as a NUL-terminated
// UTF-16 string whatever the parity of the length.
constexpr size_t kDownloadTerminator = 3;
// Neither a response body nor a feed file may be larger than this.
constexpr size_t kMaxDocumentBytes = platform::kDefaultHttpLimits.max_body_bytes;

// The bytes of one fetched document. data comes from malloc and is followed
// by kDownloadTerminator zero bytes whenever it is not null; an empty buffer
// has length 0 and data null.
struct DownloadBuffer {
    uint32_t length = 0;
    unsigned char* data = nullptr;

    DownloadBuffer() = default;
    ~DownloadBuffer() { Clear(); }
    DownloadBuffer(const DownloadBuffer&) = delete;
    DownloadBuffer& operator=(const DownloadBuffer&) = delete;

    void Clear();
    // Takes over a malloc'd block of length bytes already followed by the
    // terminator (the in-memory path of tests and fuzzers uses it too).
    void Adopt(unsigned char* block, uint32_t block_length);
};

// What a crawler adds to a fetch: the validators of the document it shows,
// sent back so that an unchanged feed is answered "304 Not Modified", and a
// flag that ends the fetch at once. Files ignore the validators.
struct FetchOptions {
    const char* if_none_match = nullptr;
    const char* if_modified_since = nullptr;
    const std::atomic<bool>* cancel = nullptr;
};

// Every fetch starts by clearing the buffer, and leaves it empty when it
// returns false.
//
// "http" in the first four bytes (case-sensitive) means a URL: "https://..."
// goes to the network, "HTTP://..." is opened as a file. A null location
// fails like a missing file.
bool FetchLocation(DownloadBuffer& buffer, const char* location);
// The same with options; *result (when not null) receives what the server
// answered: its status code, validators and Retry-After (for a file, or when
// no response head came, code 0 and no fields). A 304 is a success with an
// empty body: the caller tells it apart by its code.
bool FetchLocation(DownloadBuffer& buffer, const char* location, const FetchOptions& options,
                   platform::HttpResult* result);
// The whole file. Fails when it is missing, held open by another process,
// unreadable or larger than kMaxDocumentBytes.
bool ReadLocalFile(DownloadBuffer& buffer, const char* path);
// The whole response body, whatever the status code; a transfer that breaks
// off, stalls or reaches the fetch's deadline once the body has begun keeps
// what arrived. Fails when no complete response head comes (bad URL, no
// connection, a server that stays silent past the time-out or trickles past
// the deadline, a head beyond its limits), when the body is larger than
// kMaxDocumentBytes, or when memory runs out. Even an empty body leaves data
// non-null. Uses FetchLimits().
bool FetchHttp(DownloadBuffer& buffer, const char* url);
// The same with other limits.
bool FetchHttp(DownloadBuffer& buffer, const char* url, const platform::HttpLimits& limits);
// The same with options, reporting the answer (see FetchLocation).
bool FetchHttp(DownloadBuffer& buffer, const char* url, const platform::HttpLimits& limits,
               const FetchOptions& options, platform::HttpResult* result);

// The limits every fetch of a location uses: platform::kDefaultHttpLimits
// unless SetFetchLimits chose others. Tests shorten the time-outs and the
// deadline this way so that a crawler meets a misbehaving server in seconds;
// the plugin never changes them.
platform::HttpLimits FetchLimits();
void SetFetchLimits(const platform::HttpLimits& limits);

}  // namespace feedlet
