#include "fetch/schedule.h"

#include "fetch/feed_crawler.h"

namespace feedlet {

void ScheduleWalk(const ItemList& feeds, CrawlerOfFn crawler_of, int32_t elapsed_seconds) {
    for (void* item : feeds) {
        FeedCrawler* crawler = item ? crawler_of(item) : nullptr;
        // A busy crawler that falls due is skipped; its accumulator restarts.
        if (crawler && AddElapsed(crawler, static_cast<uint32_t>(elapsed_seconds))) Start(crawler);
    }
}

int32_t WallStep(int64_t previous, int64_t now, uint32_t tick_ms) {
    int64_t step = now - previous;
    if (step < 0) return static_cast<int32_t>(tick_ms / 1000);
    return step > INT32_MAX ? INT32_MAX : static_cast<int32_t>(step);
}

namespace {

// Waits out one tick measured with the tick count; true when a stop was
// requested meanwhile. The event wakes the wait at once on Stop, so an idle
// plugin does not poll.
bool WaitTick(Schedule* schedule) {
    const ScheduleClock& clock = schedule->clock;
    uint32_t start = clock.tick_count();
    for (;;) {
        if (schedule->stop_requested.load()) return true;
        // Unsigned: the count wraps every 49.7 days, and the difference is
        // right across the wrap.
        uint32_t spent = clock.tick_count() - start;
        if (spent >= schedule->tick_ms) return false;
        if (clock.sleep) clock.sleep(schedule->wake, schedule->tick_ms - spent);
        else schedule->wake.Wait(schedule->tick_ms - spent);
    }
}

void ScheduleMain(void* argument) {
    auto* schedule = static_cast<Schedule*>(argument);
    int64_t previous = schedule->clock.wall_seconds();
    while (!WaitTick(schedule)) {
        int64_t now = schedule->clock.wall_seconds();
        int32_t elapsed = WallStep(previous, now, schedule->tick_ms);
        try {
            platform::MutexLock hold(*schedule->plugin_lock);
            ScheduleWalk(*schedule->feeds, schedule->crawler_of, elapsed);
        } catch (...) {
            // A walk that failed halfway is taken up again at the next tick.
        }
        previous = now;
    }
    // Set on every way out: Free waits for it.
    schedule->schedule_ended.store(1);
}

}  // namespace

bool StartSchedule(Schedule* schedule) {
    schedule->stop_requested.store(0);
    schedule->schedule_ended.store(0);
    schedule->wake.Reset();
    bool started = CrawlerWorkers().Start(ScheduleMain, schedule);
    schedule->running.store(started);
    return started;
}

void StopSchedule(Schedule* schedule, bool process_exiting) {
    bool ended = schedule->schedule_ended.load() != 0;
    schedule->stop_requested.store(1);
    schedule->wake.Set();
    if (ended || process_exiting || !schedule->running.load()) return;
    while (!schedule->schedule_ended.load()) platform::SleepMilliseconds(1);
    schedule->running.store(false);
}

}  // namespace feedlet
