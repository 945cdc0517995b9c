// The fetch itself: what a crawler's worker thread does with the lock held.
#include <new>

#include "feed/feed_document.h"
#include "fetch/feed_builder.h"
#include "fetch/feed_crawler.h"

namespace feedlet {

void ReleaseCrawlerDocument(FeedDocument* document) { FeedDocument::Release(document); }

void CrawlerThread(FeedCrawler* crawler) {
    bool sort = (crawler->flags & kCrawlerSortByTime) != 0;
    auto* document = new (std::nothrow) FeedDocument;
    if (!document) return;
    if (!BuildFeedDocument(document, crawler->url.Narrow(), sort)) {
        // Readers keep seeing the last good document.
        FeedDocument::Release(document);
        return;
    }
    FeedDocument::Release(crawler->document);
    crawler->document = document;
    if (crawler->notify) crawler->notify(crawler);
}

}  // namespace feedlet
