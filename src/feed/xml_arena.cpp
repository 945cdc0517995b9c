// XmlArena: the blocks of one tree.
#include "feed/xml_arena.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "feed/xml_internal.h"

namespace feedlet {
namespace xml_detail {

namespace {

// Blocks grow with the tree, so a small feed needs a few and a large one
// little more than it uses; the cap keeps the unused end of the newest block
// small beside the tree. (Pages of a block not yet carved are not even
// touched: the address space is what they cost.)
constexpr size_t kFirstRoom = 4096;
constexpr size_t kLargestBlock = size_t{1} << 20;

std::atomic<size_t> g_forced_block_size{0};

}  // namespace

void ForceArenaBlockSizeForTesting(size_t bytes) {
    g_forced_block_size.store(bytes, std::memory_order_relaxed);
}

XmlArena* XmlArena::Create(size_t first_bytes) {
    size_t forced = g_forced_block_size.load(std::memory_order_relaxed);
    size_t room = forced ? forced : kFirstRoom;
    size_t head = (sizeof(Block) + sizeof(XmlArena) + kAlignment - 1) & ~(kAlignment - 1);
    if (first_bytes > SIZE_MAX - head - room - kAlignment) return nullptr;
    size_t size = head + ((first_bytes + kAlignment - 1) & ~(kAlignment - 1)) + room;
    char* memory = static_cast<char*>(::operator new(size, std::nothrow));
    if (!memory) return nullptr;
    Block* block = new (memory) Block{nullptr};
    XmlArena* arena = new (memory + sizeof(Block)) XmlArena;
    arena->last_ = block;
    arena->next_ = memory + head;
    arena->end_ = memory + size;
    return arena;
}

void XmlArena::Release(XmlArena* arena) {
    if (!arena) return;
    std::free(arena->adopted_);
    Block* block = arena->last_;
    arena->~XmlArena();  // the first block, freed last, holds the arena itself
    while (block) {
        Block* previous = block->previous;
        ::operator delete(static_cast<void*>(block));
        block = previous;
    }
}

void* XmlArena::AllocateInNewBlock(size_t size) {
    size_t forced = g_forced_block_size.load(std::memory_order_relaxed);
    size_t room = forced;
    if (!room) {
        room = grown_ < kFirstRoom ? kFirstRoom : grown_;  // about doubling the arena
        if (room > kLargestBlock) room = kLargestBlock;
    }
    if (room < size) room = size;
    constexpr size_t head = (sizeof(Block) + kAlignment - 1) & ~(kAlignment - 1);
    if (room > SIZE_MAX - head) return nullptr;
    char* memory = static_cast<char*>(::operator new(head + room, std::nothrow));
    if (!memory) return nullptr;
    last_ = new (memory) Block{last_};
    grown_ += head + room;
    next_ = memory + head + size;
    end_ = memory + head + room;
    return memory + head;
}

size_t XmlArena::LengthOf(const char16_t* piece) const {
    // Inside the text a scan may read ahead in blocks: the text's terminator
    // bounds it. Anything else (the root's own copies) is short.
    uintptr_t at = reinterpret_cast<uintptr_t>(piece);
    if (at >= reinterpret_cast<uintptr_t>(text_) && at < reinterpret_cast<uintptr_t>(text_end_))
        return BoundedLength(piece, static_cast<size_t>(text_end_ - piece));
    size_t n = 0;
    while (piece[n]) ++n;
    return n;
}

char16_t* XmlArena::Copy(const char16_t* text, size_t length) {
    if (length > (SIZE_MAX - kAlignment) / sizeof(char16_t) - 1) return nullptr;
    char16_t* copy = static_cast<char16_t*>(Allocate((length + 1) * sizeof(char16_t)));
    if (!copy) return nullptr;
    if (length) std::memcpy(copy, text, length * sizeof(char16_t));
    copy[length] = 0;
    return copy;
}

}  // namespace xml_detail
}  // namespace feedlet
