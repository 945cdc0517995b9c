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

namespace {

// Waits out one tick measured with the tick count; true when a stop was
// requested meanwhile. The event wakes the wait at once on Stop, so an idle
// plugin does not poll.
bool WaitTick(Schedule* schedule) {
    uint32_t start = platform::TickCount();
    for (;;) {
        if (schedule->stop_requested.load()) return true;
        uint32_t spent = platform::TickCount() - start;
        if (spent >= schedule->tick_ms) return false;
        schedule->wake.Wait(schedule->tick_ms - spent);
    }
}

void ScheduleMain(void* argument) {
    auto* schedule = static_cast<Schedule*>(argument);
    int64_t previous = platform::WallClockSeconds();
    while (!WaitTick(schedule)) {
        int64_t now = platform::WallClockSeconds();
        // Truncated to 32 bits: a clock set back gives a negative step.
        auto elapsed = static_cast<int32_t>(now - previous);
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
