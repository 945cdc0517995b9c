#include "fetch/feed_crawler.h"

#include <cstring>

namespace feedlet {

platform::WorkerGroup& CrawlerWorkers() {
    // Never destroyed: a worker may finish after static destruction began.
    static platform::WorkerGroup* workers = new platform::WorkerGroup;
    return *workers;
}

void Configure(FeedCrawler* crawler, const char* location, uint32_t interval, uint8_t flags) {
    if (!crawler) return;
    // The lock is the process's own: a name made from the crawler's address
    // would be the same in a second host, which would then share it.
    if (!crawler->mutex.IsCreated()) crawler->mutex.Create();  // on failure the crawler runs unguarded
    Lock(crawler);
    const char* old = crawler->url.Narrow();
    if (!old || !location || std::strcmp(old, location) != 0) {
        ForgetValidators(crawler);
        crawler->retry_delay = 0;
        crawler->wait.store(0);
    }
    crawler->url.AssignNarrow(location);
    crawler->flags = flags;
    crawler->interval = interval;
    Unlock(crawler);
}

bool AddElapsed(FeedCrawler* crawler, uint32_t seconds) {
    crawler->elapsed += seconds;  // unsigned: a clock set back wraps and falls due
    uint32_t wait = crawler->wait.load();
    if (crawler->elapsed < (wait != 0 ? wait : crawler->interval)) return false;
    crawler->elapsed = 0;
    return true;
}

bool IsBusy(FeedCrawler* crawler) {
    if (!crawler || !crawler->mutex.IsCreated()) return false;
    if (!crawler->mutex.TryLock()) return true;
    crawler->mutex.Unlock();
    return false;
}

namespace {

void WorkerMain(void* argument) {
    auto* crawler = static_cast<FeedCrawler*>(argument);
    if (!crawler) return;
    Lock(crawler);
    // A crawler being destroyed is not fetched: the worker only lets go.
    try {
        if (crawler->retiring.load() == 0) CrawlerThread(crawler);
    } catch (...) {
        // A fetch that runs out of memory fails like any failed fetch: the
        // old document stays, and the lock and the count are let go below.
    }
    Unlock(crawler);
    // The last touch of the crawler: Destroy may free it right after.
    crawler->workers.fetch_sub(1);
}

}  // namespace

void Start(FeedCrawler* crawler) {
    if (!crawler || IsBusy(crawler)) return;
    crawler->workers.fetch_add(1);
    if (!CrawlerWorkers().Start(WorkerMain, crawler)) crawler->workers.fetch_sub(1);
}

void Lock(FeedCrawler* crawler) {
    if (crawler) crawler->mutex.Lock();
}

void LockCancellingFetch(FeedCrawler* crawler) {
    if (!crawler) return;
    crawler->cancel.store(true);
    Lock(crawler);
    // Only the host's thread cancels, and it holds the lock now: the next
    // fetch, which can only begin after Unlock, sees the flag down.
    crawler->cancel.store(false);
}

bool TryLock(FeedCrawler* crawler) {
    if (!crawler) return false;
    if (!crawler->mutex.IsCreated()) return true;
    return crawler->mutex.TryLock();
}

void Unlock(FeedCrawler* crawler) {
    if (crawler) crawler->mutex.Unlock();
}

void Destroy(FeedCrawler* crawler) {
    if (!crawler) return;
    // Workers waiting for the lock give up; a running fetch is cut short.
    crawler->retiring.store(1);
    crawler->cancel.store(true);
    while (crawler->workers.load() != 0) platform::SleepMilliseconds(1);
    Lock(crawler);
    ReleaseCrawlerDocument(crawler->document);
    crawler->document = nullptr;
    crawler->url.Clear();
    ForgetValidators(crawler);
    crawler->mutex.Close();
    crawler->elapsed = 0;
    crawler->interval = 0;
}

void ForgetValidators(FeedCrawler* crawler) {
    crawler->etag.Clear();
    crawler->last_modified.Clear();
}

void DestroyAndFree(FeedCrawler* crawler) {
    if (!crawler) return;
    Destroy(crawler);
    delete crawler;
}

}  // namespace feedlet
