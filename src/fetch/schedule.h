// The schedule: one thread that, every tick (30 s), adds the wall-clock
// seconds that passed to every crawler (WallStep) and starts those that fall
// due, walking the feed list under plugin_lock.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/item_list.h"
#include "platform/platform.h"

namespace feedlet {

struct FeedCrawler;

// How the walk finds the crawler of a feed list item (null: none).
using CrawlerOfFn = FeedCrawler* (*)(void* item);

// The clocks the schedule thread reads and the way it sleeps: the
// platform's, or a test's simulated ones (which let weeks of the schedule,
// clock changes and a tick-count wrap pass in seconds).
struct ScheduleClock {
    uint32_t (*tick_count)() = platform::TickCount;
    int64_t (*wall_seconds)() = platform::WallClockSeconds;
    // Sleeps up to milliseconds, or until the schedule's wake event is set.
    void (*sleep)(platform::Event& wake, uint32_t milliseconds) = nullptr;  // null: wake.Wait
};

struct Schedule {
    ItemList* feeds = nullptr;
    CrawlerOfFn crawler_of = nullptr;
    platform::Mutex* plugin_lock = nullptr;
    uint32_t tick_ms = 30000;  // tests shorten it
    ScheduleClock clock;

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

// The seconds a walk adds, from the wall clock's readings before and after
// its tick. Forward, the clock's own step, however long (a machine that
// slept a night wakes with every feed due). Set back, the tick's length:
// the clock went back (corrected, or set by hand), not time, so no
// accumulator wraps into a fetch at once and none loses what it had
// gathered, which would delay its feed by as long as the clock went back.
int32_t WallStep(int64_t previous, int64_t now, uint32_t tick_ms);

// Starts the schedule thread. False when it could not be started.
bool StartSchedule(Schedule* schedule);
// The stop handshake: asks the thread to end and waits until it has, without
// waiting when it never ran or when the process is exiting (the system has
// already ended it).
void StopSchedule(Schedule* schedule, bool process_exiting);

}  // namespace feedlet
