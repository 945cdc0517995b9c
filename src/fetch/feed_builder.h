// The feed builder: fetches, decodes and parses a feed and extracts its
// document (feed/feed_document.h) from the tree.
#pragma once

#include <atomic>

namespace feedlet {

struct DownloadBuffer;
struct FeedDocument;

// Fetches, decodes and parses the feed at location (a URL or a file path in
// code page 932; null fails) and fills document as ExtractFeedDocument does.
// False when the download fails or the document is too large to hold
// (document left as it was), or no feed was recognised (document empty).
bool BuildFeedDocument(FeedDocument* document, const char* location, bool sort_by_time);
// The same, ended at once (and failed) when *cancel is set from another
// thread meanwhile.
bool BuildFeedDocument(FeedDocument* document, const char* location, bool sort_by_time,
                       const std::atomic<bool>* cancel);
// The same for bytes already in memory (fuzzing, benchmarks): buffer holds
// them as a download would and may be changed in place.
bool BuildFeedDocumentFromBuffer(FeedDocument* document, DownloadBuffer& buffer, bool sort_by_time);

}  // namespace feedlet
