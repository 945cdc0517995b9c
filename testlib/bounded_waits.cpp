#include "bounded_waits.h"

#include <cstdio>
#include <cstdlib>

namespace feedlet {
namespace win32_testing {

namespace {

// How long a watcher may still run when its owner goes out of scope: beyond
// every bounded wait a watcher's work is made of.
constexpr DWORD kWatcherLimitMs = 90000;

}  // namespace

void PumpPending() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    for (;;) {
        PumpPending();
        if (done()) return true;
        if (GetTickCount() - start >= timeout_ms) return false;
        // Wakes at once when a message comes; the time-out only paces the
        // checks of a condition no message announces.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

bool WaitUntil(const std::function<bool()>& done, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= timeout_ms) return false;
        Sleep(5);
    }
    return true;
}

bool WaitUntilAnswering(HWND window, DWORD timeout_ms) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, timeout_ms, &result) != 0;
}

Watcher::Watcher(std::function<void()> work) : work_(std::move(work)) {
    thread_ = CreateThread(nullptr, 0, Main, this, 0, nullptr);
}

Watcher::~Watcher() {
    if (!thread_) return;
    // Its work refers to its owner's locals: it must end before they go.
    if (!Join(kWatcherLimitMs)) {
        std::fprintf(stderr, "a watcher thread did not end within %lu ms (a wait in it is not bounded)\n",
                     static_cast<unsigned long>(kWatcherLimitMs));
        std::fflush(stderr);
        std::abort();
    }
    CloseHandle(thread_);
}

DWORD WINAPI Watcher::Main(void* self) {
    static_cast<Watcher*>(self)->work_();
    return 0;
}

bool Watcher::Join(DWORD timeout_ms) {
    if (!thread_) return false;
    DWORD start = GetTickCount();
    for (;;) {
        PumpPending();
        if (WaitForSingleObject(thread_, 0) == WAIT_OBJECT_0) return true;
        DWORD spent = GetTickCount() - start;
        if (spent >= timeout_ms) return false;
        // Wakes when the thread ends, or when a message (one the watcher
        // sends here, say) needs dispatching.
        MsgWaitForMultipleObjects(1, &thread_, FALSE, timeout_ms - spent, QS_ALLINPUT);
    }
}

}  // namespace win32_testing
}  // namespace feedlet
