// The fetch itself: what a crawler's worker thread does with the lock held,
// and what its outcome means for the crawler's schedule and validators.
#include <memory>
#include <new>

#include "feed/feed_document.h"
#include "fetch/download.h"
#include "fetch/feed_builder.h"
#include "fetch/feed_crawler.h"
#include "fetch/fetch_rules.h"

namespace feedlet {

void ReleaseCrawlerDocument(FeedDocument* document) { FeedDocument::Release(document); }

namespace {

struct ReleaseDocument {
    void operator()(FeedDocument* document) const { FeedDocument::Release(document); }
};

constexpr int kStatusOk = 200;
constexpr int kStatusNotModified = 304;
constexpr int kStatusTooManyRequests = 429;
constexpr int kStatusUnavailable = 503;

void Succeeded(FeedCrawler* crawler) {
    crawler->retry_delay = 0;
    crawler->wait.store(0);
}

void Failed(FeedCrawler* crawler) {
    crawler->retry_delay = NextRetryDelay(crawler->retry_delay, crawler->interval);
    crawler->wait.store(crawler->retry_delay);
}

// A 429 or 503: the server asked for a pause, counted from the answer. The
// walk counts from the one that started this fetch, so the fetch's own
// duration is added.
void Refused(FeedCrawler* crawler, const platform::HttpResult& answer, uint32_t started) {
    uint64_t pause = PauseAfterRefusal(answer.retry_after.text, platform::WallClockSeconds(), crawler->interval);
    if (pause == crawler->interval) {
        crawler->wait.store(0);
        return;
    }
    pause += (platform::TickCount() - started + 999) / 1000;
    crawler->wait.store(static_cast<uint32_t>(pause > UINT32_MAX ? UINT32_MAX : pause));
}

// The validators of the response a document was just built from: kept only
// when they came with a 200 (any other status's body is no representation a
// later 304 could stand for).
void KeepValidators(FeedCrawler* crawler, const platform::HttpResult& answer) {
    ForgetValidators(crawler);
    if (answer.code != kStatusOk) return;
    // Out of memory for a copy just means the next request is unconditional.
    if (IsUsableValidator(answer.etag.text)) crawler->etag.AssignNarrow(answer.etag.text);
    if (IsUsableValidator(answer.last_modified.text)) crawler->last_modified.AssignNarrow(answer.last_modified.text);
}

}  // namespace

void CrawlerThread(FeedCrawler* crawler) {
    bool sort = (crawler->flags & kCrawlerSortByTime) != 0;
    uint32_t started = platform::TickCount();
    FetchOptions options;
    options.if_none_match = crawler->etag.Narrow();
    options.if_modified_since = crawler->last_modified.Narrow();
    options.cancel = &crawler->cancel;
    bool conditional = options.if_none_match || options.if_modified_since;

    DownloadBuffer buffer;
    platform::HttpResult answer;
    bool fetched = FetchLocation(buffer, crawler->url.Narrow(), options, &answer);
    if (answer.status == platform::HttpStatus::kCancelled) return;
    if (!fetched) {
        // No answer, or none whole: what the server last sent still stands.
        Failed(crawler);
        return;
    }
    if (answer.code == kStatusNotModified) {
        // Unchanged, as asked; a 304 to an unconditional request answers
        // nothing and is a failure.
        if (conditional) Succeeded(crawler);
        else Failed(crawler);
        return;
    }
    if (answer.code == kStatusTooManyRequests || answer.code == kStatusUnavailable) {
        Refused(crawler, answer, started);
        return;
    }

    // Released on every way out, an exception's included.
    std::unique_ptr<FeedDocument, ReleaseDocument> document(new (std::nothrow) FeedDocument);
    if (!document) {
        Failed(crawler);
        return;
    }
    // On failure readers keep seeing the last good document. A 200 that
    // builds nothing means the validators no longer stand for what is shown.
    if (!BuildFeedDocumentFromBuffer(document.get(), buffer, sort)) {
        if (answer.code == kStatusOk) ForgetValidators(crawler);
        Failed(crawler);
        return;
    }
    FeedDocument::Release(crawler->document);
    crawler->document = document.release();
    KeepValidators(crawler, answer);
    Succeeded(crawler);
    if (crawler->notify) crawler->notify(crawler);
}

}  // namespace feedlet
