// Bounded waits for a program that drives windows: each ends as soon as the
// condition it waits for holds, or fails once its time is up, so a window
// that never comes (or never goes) costs a bounded time instead of a hang.
// A thread that owns windows waits with PumpUntil, which keeps its messages
// flowing; a watcher thread, which owns none, polls with WaitUntil.
#pragma once

#include <windows.h>

#include <functional>

namespace feedlet {
namespace win32_testing {

// Dispatches whatever is queued for this thread now.
void PumpPending();
// Dispatches this thread's messages until done() holds or timeout_ms passed;
// false on time-out.
bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms);
// Polls (without pumping: for watcher threads) until done() holds or
// timeout_ms passed; false on time-out.
bool WaitUntil(const std::function<bool()>& done, DWORD timeout_ms);
// Waits until the thread of window (another thread's) has handled a message
// sent to it now: it is back in a message loop, done with whatever it was
// handling (a button's command, the end of a nested dialog). False when it
// did not get there within timeout_ms.
bool WaitUntilAnswering(HWND window, DWORD timeout_ms);

// Runs work on a thread of its own, for acting on windows while this thread
// sits in a modal loop (a popup menu, a dialog, a message box). Join waits
// for it, pumping this thread's messages so that what work sends here is
// answered. Every wait inside work must be bounded: a watcher always ends.
// It is never terminated (that would leave its locks and heap in any
// state); the destructor joins it, and one still running after a minute and
// a half ends the program with a message instead of hanging it.
class Watcher {
public:
    explicit Watcher(std::function<void()> work);
    ~Watcher();
    Watcher(const Watcher&) = delete;
    Watcher& operator=(const Watcher&) = delete;
    // False when work has not finished within timeout_ms (or never started).
    bool Join(DWORD timeout_ms);

private:
    static DWORD WINAPI Main(void* self);
    std::function<void()> work_;
    HANDLE thread_ = nullptr;
};

}  // namespace win32_testing
}  // namespace feedlet
