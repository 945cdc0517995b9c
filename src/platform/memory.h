// The heap blocks the engine and the platform layer allocate with the C
// allocator. Each fails as malloc does (null) and also where a test has asked
// the calling thread to fail its allocations, so that the allocation-failure
// tests reach every block of the load path and the configuration reader with
// one countdown. A test program that wants its operator new counted too asks
// AllocationAllowed from its replacement. Blocks are released with free().
#pragma once

#include <cstddef>

namespace feedlet {
namespace platform {

void* Allocate(size_t size);
void* AllocateZeroed(size_t count, size_t size);
// As realloc: null when refused, and the block is then left as it was.
void* Reallocate(void* block, size_t size);

// Counts one allocation on the calling thread: false when it must fail.
bool AllocationAllowed();

// Test hook. Arms the calling thread: after `succeeding` more allocations
// have been allowed, the next one is refused, and with every_later each one
// after it as well. Other threads are never affected.
void FailAllocationsForTesting(long succeeding, bool every_later);
// Disarms the calling thread; true when it refused an allocation since it
// was armed.
bool StopFailingAllocationsForTesting();
// Test hook. The largest block the calling thread has asked for through
// these functions since the last reset (so a test can show that a download
// never reserves more than its limit); reset starts counting afresh.
size_t LargestBlockForTesting(bool reset);

}  // namespace platform
}  // namespace feedlet
