// The plugin's own schedule thread on simulated clocks, moved on one tick
// at a time by the soak's main thread. Every walk is the product's: the
// accumulators, the retry pauses after failures, the pauses a 429 or 503
// asks for and the tick count's wrap all run as they do on a desktop, only
// a day passes in seconds. Between two ticks nothing is fetched unless the
// soak starts it, so the soak knows when the fetches a walk started have
// ended and the menu and texts can be checked against what was served.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "fetch/schedule.h"

namespace feedlet {
namespace soak {

class ScheduleDriver {
public:
    // Puts the simulated clocks into schedule, whose thread Init starts
    // (the clocks stay through Free and Init). One driver at a time.
    explicit ScheduleDriver(Schedule& schedule);
    ~ScheduleDriver();
    ScheduleDriver(const ScheduleDriver&) = delete;
    ScheduleDriver& operator=(const ScheduleDriver&) = delete;

    // Lets the schedule thread sleep out one tick and waits until its walk
    // has ended (the fetches the walk started may still be running). False
    // when the thread did not come to wait for the tick, or did not finish
    // the walk, within timeout_ms. Any thread may call it.
    bool Tick(uint32_t timeout_ms);
    // Simulated seconds since the driver was made.
    int64_t SimulatedSeconds() const;

private:
    static uint32_t TickCount();
    static int64_t WallSeconds();
    static void Sleep(platform::Event& wake, uint32_t milliseconds);

    static ScheduleDriver* current_;
    Schedule& schedule_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    // The tick count starts ten simulated hours before its wrap, so every
    // long run goes across it.
    uint32_t tick_ = 0xFFFFFFFFu - 10u * 3600u * 1000u;
    int64_t wall_ = 1796644800;  // 2026-12-07 12:00 UTC
    uint32_t wall_ms_ = 0;
    int64_t simulated_ms_ = 0;
    int granted_ = 0;       // ticks the main thread allowed and the thread has not slept out
    uint64_t sleeps_ = 0;   // times the thread came to sleep: one more after each walk
    bool waiting_ = false;  // the thread is in Sleep, waiting for a tick
};

}  // namespace soak
}  // namespace feedlet
