// The fetch itself: what a crawler's worker thread does with the lock held.
#include <memory>
#include <new>

#include "feed/feed_document.h"
#include "fetch/feed_builder.h"
#include "fetch/feed_crawler.h"

namespace feedlet {

void ReleaseCrawlerDocument(FeedDocument* document) { FeedDocument::Release(document); }

namespace {

struct ReleaseDocument {
    void operator()(FeedDocument* document) const { FeedDocument::Release(document); }
};

}  // namespace

void CrawlerThread(FeedCrawler* crawler) {
    bool sort = (crawler->flags & kCrawlerSortByTime) != 0;
    // Released on every way out, an exception's included.
    std::unique_ptr<FeedDocument, ReleaseDocument> document(new (std::nothrow) FeedDocument);
    if (!document) return;
    // On failure readers keep seeing the last good document.
    if (!BuildFeedDocument(document.get(), crawler->url.Narrow(), sort)) return;
    FeedDocument::Release(crawler->document);
    crawler->document = document.release();
    if (crawler->notify) crawler->notify(crawler);
}

}  // namespace feedlet
