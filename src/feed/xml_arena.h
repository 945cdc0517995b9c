// The memory of one parsed XML tree: nodes, attributes, lists and copied
// texts are carved from a few large blocks and released all at once, with the
// document text the tree points into. A feed tree holds tens of thousands of
// small records; as separate heap blocks they cost a header each, their
// allocation and release were a large part of a feed's build, and releasing
// millions of them (a hostile document) took minutes on the host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

namespace feedlet {

class XmlNode;

namespace xml_detail {

class XmlArena {
public:
    // A new arena whose first block also has room for first_bytes more (the
    // copies XmlNode::Parse makes), so a small tree needs one allocation.
    // Null when out of memory.
    static XmlArena* Create(size_t first_bytes);
    // Frees every block and the adopted text; null is ignored.
    static void Release(XmlArena* arena);

    XmlArena(const XmlArena&) = delete;
    XmlArena& operator=(const XmlArena&) = delete;

    // size bytes aligned for any of the tree's records; null when out of
    // memory. Never freed one by one.
    void* Allocate(size_t size) {
        size = (size + kAlignment - 1) & ~(kAlignment - 1);
        if (size <= static_cast<size_t>(end_ - next_)) {
            void* block = next_;
            next_ += size;
            return block;
        }
        return AllocateInNewBlock(size);
    }
    template <typename T>
    T* New() {
        void* memory = Allocate(sizeof(T));
        return memory ? new (memory) T() : nullptr;
    }
    // A terminated copy of text[0, length); null when out of memory.
    char16_t* Copy(const char16_t* text, size_t length);

    // Takes over a block from malloc (the document text), freed with the
    // arena.
    void Adopt(void* block) { adopted_ = block; }
    // Gives the adopted block back (null when there is none).
    void* Detach() {
        void* block = adopted_;
        adopted_ = nullptr;
        return block;
    }

    // The text the tree was parsed from, text[length] being its terminator:
    // the names and texts inside it are measured without reading past it.
    void SetText(const char16_t* text, size_t length) {
        text_ = text;
        text_end_ = text + length + 1;
    }
    size_t TextLength() const { return text_ ? static_cast<size_t>(text_end_ - text_) - 1 : 0; }
    // The length of a terminated piece of the tree (a name, text or value).
    size_t LengthOf(const char16_t* piece) const;

    // The node whose Clear releases the arena (the tree's root); the tree's
    // other nodes only point to it.
    XmlNode* owner = nullptr;

private:
    struct Block {
        Block* previous;
    };
    static constexpr size_t kAlignment = alignof(void*) > 8 ? alignof(void*) : 8;

    XmlArena() = default;
    ~XmlArena() = default;
    void* AllocateInNewBlock(size_t size);

    Block* last_ = nullptr;  // the chain of blocks, newest first; the first holds this
    char* next_ = nullptr;   // free room in the newest block
    char* end_ = nullptr;
    size_t grown_ = 0;       // bytes of the blocks after the first
    void* adopted_ = nullptr;
    const char16_t* text_ = nullptr;
    const char16_t* text_end_ = nullptr;
};

}  // namespace xml_detail
}  // namespace feedlet
