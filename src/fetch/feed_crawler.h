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
    // Seconds from the walk that started the last fetch to the next due
    // one, as that fetch's outcome set it: 0 for the interval (after a
    // success), a retry pause after a failure, a longer one after a 429 or
    // 503. Written by the worker under the lock, read by the schedule walk.
    std::atomic<uint32_t> wait{0};
    // The pause after the last failure, doubled by the next (0 after a
    // success). Under the lock.
    uint32_t retry_delay = 0;
    // The validators of the 200 response the document was built from, sent
    // back with every later fetch of the same location. Under the lock.
    TextField etag;
    TextField last_modified;
    // Set by the host's thread to end a running fetch at once; the fetch
    // then fails and the document stays.
    std::atomic<bool> cancel{false};
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
// interval and flags. A Configure during a fetch waits for the fetch. A new
// location starts afresh: its validators and any retry pause are dropped.
void Configure(FeedCrawler* crawler, const char* location, uint32_t interval, uint8_t flags);
// Adds seconds (modulo 2^32); true, with the accumulator reset, once it
// reaches the crawler's wait (its interval unless the last fetch set another
// pause). Only the schedule walk calls it, under plugin_lock.
bool AddElapsed(FeedCrawler* crawler, uint32_t seconds);
// True while a fetch holds the crawler's lock (zero-wait probe).
bool IsBusy(FeedCrawler* crawler);
// Starts a fetch on a worker thread unless one is running.
void Start(FeedCrawler* crawler);
void Lock(FeedCrawler* crawler);
// Lock for the host's thread, which must never wait on the network: a
// running fetch is cancelled (its download ends at once and fails, the
// document stays) instead of waited out. A fetch that starts after the lock
// is let go runs normally.
void LockCancellingFetch(FeedCrawler* crawler);
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

// The fetch a worker thread runs, with the crawler's lock held: fetch the
// location, sending back the validators of the document shown, and:
// - 304 to a request with validators: nothing changed; no notify;
// - 429 or 503: the document stays; the next fetch waits for Retry-After
//   (at most a day) and at least the interval;
// - anything else: build a fresh document from the body, install it on
//   success (notifying), keep the old one on failure.
// A failure (no answer, a body that builds nothing, a 304 nobody asked for)
// brings the crawler back after a short pause that doubles with each
// further failure, up to its interval; a success returns it to its
// interval. Only a 200 whose body built a document leaves validators behind.
// A cancelled fetch changes nothing.
void CrawlerThread(FeedCrawler* crawler);
// Drops the validators the crawler sends back (under its lock).
void ForgetValidators(FeedCrawler* crawler);
// Releases a document the crawler held (null is ignored).
void ReleaseCrawlerDocument(FeedDocument* document);

// Every crawler worker thread of the process. Shutdown waits on it so that no
// worker outlives its crawler.
platform::WorkerGroup& CrawlerWorkers();

}  // namespace feedlet
