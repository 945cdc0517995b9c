// The schedule: one thread that, every tick (30 s), adds the wall-clock
// seconds that passed to every crawler and starts those whose interval has
// elapsed, walking the feed list under plugin_lock.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/item_list.h"
#include "platform/platform.h"

namespace feedlet {

struct FeedCrawler;

// How the walk finds the crawler of a feed list item (null: none).
using CrawlerOfFn = FeedCrawler* (*)(void* item);

struct Schedule {
    ItemList* feeds = nullptr;
    CrawlerOfFn crawler_of = nullptr;
    platform::Mutex* plugin_lock = nullptr;
    uint32_t tick_ms = 30000;  // tests shorten it

    // Set by Stop, polled by the thread; set by the thread just before it ends.
    std::atomic<int32_t> stop_requested{0};
    std::atomic<int32_t> schedule_ended{0};
    std::atomic<bool> running{false};
    platform::Event wake;  // set by Stop so the thread does not sleep out its tick
};

// One walk: adds elapsed_seconds (a wall-clock difference, so it may be
// negative and is added modulo 2^32) to every crawler and starts those that
// fall due. The caller holds plugin_lock.
void ScheduleWalk(const ItemList& feeds, CrawlerOfFn crawler_of, int32_t elapsed_seconds);

// Starts the schedule thread. False when it could not be started.
bool StartSchedule(Schedule* schedule);
// The stop handshake: asks the thread to end and waits until it has, without
// waiting when it never ran or when the process is exiting (the system has
// already ended it).
void StopSchedule(Schedule* schedule, bool process_exiting);

}  // namespace feedlet
