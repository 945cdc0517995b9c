// Every operator new of the test program asks the platform's allocation
// countdown first (platform/memory.h), so a test that arms it reaches the
// standard library's allocations as well as the engine's C blocks: the
// throwing forms then throw std::bad_alloc, the nothrow forms give null.
// Blocks come from malloc and go back to free, which the sanitizers track
// like any other. Threads nobody armed allocate as usual.
#include <cstdlib>
#include <new>

#include "platform/memory.h"

namespace {

void* Allocate(std::size_t size) noexcept {
    if (!feedlet::platform::AllocationAllowed()) return nullptr;
    return std::malloc(size ? size : 1);
}

void* AllocateOrThrow(std::size_t size) {
    if (!feedlet::platform::AllocationAllowed()) throw std::bad_alloc();
    for (;;) {
        if (void* block = std::malloc(size ? size : 1)) return block;
        // A real shortage asks the new-handler, as the standard's operator
        // new does.
        std::new_handler handler = std::get_new_handler();
        if (!handler) throw std::bad_alloc();
        handler();
    }
}

}  // namespace

void* operator new(std::size_t size) { return AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
