// The feed manager's trial fetch, on a worker thread of its own, so that the
// dialog keeps painting and answering while a slow server takes its time.
// The dialog starts a run, is told when it ends (a callback on the worker,
// which only posts to the dialog's thread), and takes the result there.
// Cancelling ends the download at once and detaches the dialog: the worker
// then calls nobody and lets go of the run's state by itself, so the dialog
// never waits for it.
#pragma once

#include <atomic>
#include <string>

#include "settings/feed_edits.h"

namespace feedlet {

class FeedCheckRun {
public:
    // Called on the worker thread when the check has ended, unless the run
    // was cancelled or destroyed first. It must not block: it posts.
    using DoneFn = void (*)(void* context);

    FeedCheckRun() = default;
    // Cancels a check still running (see Cancel).
    ~FeedCheckRun();
    FeedCheckRun(const FeedCheckRun&) = delete;
    FeedCheckRun& operator=(const FeedCheckRun&) = delete;

    // Starts a check of location (copied). False, with nothing started,
    // while a check runs or when no thread could be started.
    bool Start(const char* location, DoneFn done, void* context);
    // True from Start until the result is taken or the run cancelled.
    bool Running() const { return state_ != nullptr; }
    // After done: the check's result, and the run is over. A run that has
    // not ended yet gives an unrecognised check and goes on.
    FeedCheck Take();
    // Ends the download at once and forgets the run: done is not called.
    void Cancel();

private:
    struct State;
    State* state_ = nullptr;
};

// The trial fetch itself (what a run does), ended at once and failed when
// *cancel is set meanwhile.
FeedCheck CheckFeedLocation(const char* location, const std::atomic<bool>* cancel);

}  // namespace feedlet
