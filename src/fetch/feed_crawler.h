// FeedCrawler: one registered feed's location, refresh interval, lock and
// last good document, fetched on short-lived worker threads.
//
// Lock rules kept everywhere: plugin_lock is taken before a crawler's lock,
// never while one is held; a crawler's document is read only under its lock.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/text_field.h"
#include "platform/platform.h"

namespace feedlet {

struct FeedDocument;
struct FeedCrawler;

using CrawlerNotifyFn = void (*)(FeedCrawler* crawler);

struct FeedCrawler {
    FeedDocument* document = nullptr;  // last document the builder accepted
    platform::Mutex mutex;             // created by the first Configure
    CrawlerNotifyFn notify = nullptr;  // called after each successful update, lock held
    TextField url;                     // narrow (code page 932) location
    uint32_t interval = 0;             // seconds between scheduled fetches
    uint8_t flags = 0;                 // bit 0: sort articles by date
    uint32_t elapsed = 0;              // seconds accumulated since last due
    // Workers started on this crawler and not yet finished with it, and the
    // flag that tells a worker still waiting for the lock that the crawler is
    // going away. Destroy waits for the count to reach 0 so that no worker
    // outlives its crawler.
    std::atomic<uint32_t> workers{0};
    std::atomic<uint32_t> retiring{0};

    FeedCrawler() = default;
    FeedCrawler(const FeedCrawler&) = delete;
    FeedCrawler& operator=(const FeedCrawler&) = delete;
};

enum : uint8_t { kCrawlerSortByTime = 0x01 };

// Creates the lock on first use, then under it copies location and stores
// interval and flags. A Configure during a fetch waits for the fetch.
void Configure(FeedCrawler* crawler, const char* location, uint32_t interval, uint8_t flags);
// Adds seconds (modulo 2^32); true, with the accumulator reset, once it
// reaches the interval. Only the schedule walk calls it, under plugin_lock.
bool AddElapsed(FeedCrawler* crawler, uint32_t seconds);
// True while a fetch holds the crawler's lock (zero-wait probe).
bool IsBusy(FeedCrawler* crawler);
// Starts a fetch on a worker thread unless one is running.
void Start(FeedCrawler* crawler);
void Lock(FeedCrawler* crawler);
// Takes the lock only if that needs no waiting: false while a fetch holds
// it. A crawler whose lock could not be created runs unguarded, so that
// "takes" it at once.
bool TryLock(FeedCrawler* crawler);
void Unlock(FeedCrawler* crawler);
// Waits for a running fetch, then releases the document, the location and the
// lock. The owner frees the record afterwards.
void Destroy(FeedCrawler* crawler);
// Destroy followed by freeing the record; null is ignored.
void DestroyAndFree(FeedCrawler* crawler);

// The fetch a worker thread runs, with the crawler's lock held: build a
// fresh document from the location, install it on success (notifying), keep
// the old one on failure.
void CrawlerThread(FeedCrawler* crawler);
// Releases a document the crawler held (null is ignored).
void ReleaseCrawlerDocument(FeedDocument* document);

// Every crawler worker thread of the process. Shutdown waits on it so that no
// worker outlives its crawler.
platform::WorkerGroup& CrawlerWorkers();

}  // namespace feedlet
