#include "settings/feed_check_run.h"

#include <atomic>
#include <mutex>
#include <new>

#include "feed/feed_document.h"
#include "fetch/feed_builder.h"
#include "fetch/feed_crawler.h"

namespace feedlet {

// Shared by the dialog's run and its worker; the last of the two to let go
// frees it.
struct FeedCheckRun::State {
    std::atomic<int> holders{2};
    std::atomic<bool> cancel{false};
    std::string location;
    std::mutex lock;  // guards the fields below
    DoneFn done = nullptr;
    void* context = nullptr;
    bool ended = false;
    FeedCheck result;

    void Release() {
        if (holders.fetch_sub(1) == 1) delete this;
    }
    static void Run(void* argument) {
        auto* state = static_cast<State*>(argument);
        FeedCheck result;
        try {
            result = CheckFeedLocation(state->location.c_str(), &state->cancel);
        } catch (...) {
            // Out of memory: the check found nothing.
        }
        {
            std::lock_guard<std::mutex> hold(state->lock);
            state->ended = true;
            state->result = std::move(result);
            if (state->done) state->done(state->context);
        }
        state->Release();
    }
};

FeedCheck CheckFeedLocation(const char* location, const std::atomic<bool>* cancel) {
    FeedCheck check;
    FeedDocument document;  // the check's own; released on return
    if (!BuildFeedDocument(&document, location, false, cancel)) return check;
    check.recognised = true;
    check.kind = document.kind;
    if (const char16_t* title = document.channel.WideText(kMemberTitle)) check.title = title;
    return check;
}

FeedCheckRun::~FeedCheckRun() { Cancel(); }

bool FeedCheckRun::Start(const char* location, DoneFn done, void* context) {
    if (state_) return false;
    auto* state = new (std::nothrow) State;
    if (!state) return false;
    try {
        state->location = location ? location : "";
    } catch (...) {
        delete state;
        return false;
    }
    state->done = done;
    state->context = context;
    // The plugin's own workers: Free waits for them like for any fetch.
    if (!CrawlerWorkers().Start(&State::Run, state)) {
        delete state;
        return false;
    }
    state_ = state;
    return true;
}

FeedCheck FeedCheckRun::Take() {
    FeedCheck result;
    if (!state_) return result;
    {
        std::lock_guard<std::mutex> hold(state_->lock);
        if (!state_->ended) return result;
        result = std::move(state_->result);
    }
    state_->Release();
    state_ = nullptr;
    return result;
}

void FeedCheckRun::Cancel() {
    if (!state_) return;
    {
        std::lock_guard<std::mutex> hold(state_->lock);
        state_->done = nullptr;
    }
    state_->cancel.store(true);
    state_->Release();
    state_ = nullptr;
}

}  // namespace feedlet
