// The feed builder: a location (or bytes already fetched) to a FeedDocument,
// through the download, the encoding detection and the parse.
#include "fetch/feed_builder.h"

#include "feed/feed_document.h"
#include "feed/xml_node.h"
#include "fetch/document_loader.h"

namespace feedlet {

bool BuildFeedDocument(FeedDocument* document, const char* location, bool sort_by_time) {
    return BuildFeedDocument(document, location, sort_by_time, nullptr);
}

bool BuildFeedDocument(FeedDocument* document, const char* location, bool sort_by_time,
                       const std::atomic<bool>* cancel) {
    // A failed download leaves the caller's document untouched: a crawler
    // keeps showing the last good one.
    if (!document) return false;
    FetchOptions options;
    options.cancel = cancel;
    XmlNode root;
    if (!LoadDocument(root, location, options)) return false;
    return ExtractFeedDocumentAndRelease(document, root, sort_by_time);
}

bool BuildFeedDocumentFromBuffer(FeedDocument* document, DownloadBuffer& buffer, bool sort_by_time) {
    if (!document) return false;
    XmlNode root;
    if (!LoadDocumentFromBuffer(root, buffer)) return false;
    return ExtractFeedDocumentAndRelease(document, root, sort_by_time);
}

}  // namespace feedlet
