#include "soak/schedule_driver.h"

#include <chrono>

namespace feedlet {
namespace soak {

ScheduleDriver* ScheduleDriver::current_ = nullptr;

ScheduleDriver::ScheduleDriver(Schedule& schedule) : schedule_(schedule) {
    current_ = this;
    schedule_.clock.tick_count = TickCount;
    schedule_.clock.wall_seconds = WallSeconds;
    schedule_.clock.sleep = Sleep;
}

ScheduleDriver::~ScheduleDriver() {
    schedule_.clock = ScheduleClock();
    current_ = nullptr;
}

uint32_t ScheduleDriver::TickCount() {
    std::lock_guard<std::mutex> hold(current_->mutex_);
    return current_->tick_;
}

int64_t ScheduleDriver::WallSeconds() {
    std::lock_guard<std::mutex> hold(current_->mutex_);
    return current_->wall_;
}

int64_t ScheduleDriver::SimulatedSeconds() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return simulated_ms_ / 1000;
}

// The schedule thread's sleep. It returns when the main thread grants a
// tick (the clocks then move on by the time asked for) or when Stop sets
// the schedule's event (stop_requested is set before that, so a reset of
// the event here never hides a stop).
void ScheduleDriver::Sleep(platform::Event& wake, uint32_t milliseconds) {
    ScheduleDriver& self = *current_;
    std::unique_lock<std::mutex> hold(self.mutex_);
    ++self.sleeps_;
    self.waiting_ = true;
    self.changed_.notify_all();
    for (;;) {
        if (self.granted_ > 0) {
            --self.granted_;
            self.tick_ += milliseconds;
            self.simulated_ms_ += milliseconds;
            self.wall_ms_ += milliseconds;
            self.wall_ += self.wall_ms_ / 1000;
            self.wall_ms_ %= 1000;
            break;
        }
        if (self.schedule_.stop_requested.load()) break;
        hold.unlock();
        // Tick sets the event after granting; bounded all the same, so a
        // lost wake-up could only slow the run, never hang it.
        wake.Wait(1000);
        wake.Reset();
        hold.lock();
    }
    self.waiting_ = false;
}

bool ScheduleDriver::Tick(uint32_t timeout_ms) {
    std::unique_lock<std::mutex> hold(mutex_);
    auto limit = std::chrono::milliseconds(timeout_ms);
    // Right after Init the thread may not have come to its first sleep yet.
    if (!changed_.wait_for(hold, limit, [&] { return waiting_ && granted_ == 0; })) return false;
    uint64_t before = sleeps_;
    ++granted_;
    hold.unlock();
    schedule_.wake.Set();
    hold.lock();
    // The thread sleeps again once its walk is over.
    return changed_.wait_for(hold, limit, [&] { return sleeps_ > before; });
}

}  // namespace soak
}  // namespace feedlet
