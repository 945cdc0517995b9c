#include "platform/memory.h"

#include <cstdint>
#include <cstdlib>

namespace feedlet {
namespace platform {

namespace {

// Per thread, so that a test arming its own thread never disturbs the
// threads other tests leave running. Disarmed: negative.
thread_local long t_allowed_before_failure = -1;
thread_local bool t_every_later = false;
thread_local bool t_refused = false;
thread_local size_t t_largest = 0;

void NoteSize(size_t size) {
    if (size > t_largest) t_largest = size;
}

}  // namespace

bool AllocationAllowed() {
    if (t_allowed_before_failure < 0) return true;
    if (t_allowed_before_failure > 0) {
        --t_allowed_before_failure;
        return true;
    }
    t_refused = true;
    if (!t_every_later) t_allowed_before_failure = -1;
    return false;
}

void FailAllocationsForTesting(long succeeding, bool every_later) {
    t_allowed_before_failure = succeeding < 0 ? 0 : succeeding;
    t_every_later = every_later;
    t_refused = false;
}

bool StopFailingAllocationsForTesting() {
    t_allowed_before_failure = -1;
    t_every_later = false;
    bool refused = t_refused;
    t_refused = false;
    return refused;
}

size_t LargestBlockForTesting(bool reset) {
    size_t largest = t_largest;
    if (reset) t_largest = 0;
    return largest;
}

void* Allocate(size_t size) {
    NoteSize(size);
    return AllocationAllowed() ? std::malloc(size) : nullptr;
}

void* AllocateZeroed(size_t count, size_t size) {
    NoteSize(size != 0 && count > SIZE_MAX / size ? SIZE_MAX : count * size);
    return AllocationAllowed() ? std::calloc(count, size) : nullptr;
}

void* Reallocate(void* block, size_t size) {
    NoteSize(size);
    return AllocationAllowed() ? std::realloc(block, size) : nullptr;
}

}  // namespace platform
}  // namespace feedlet
