// ItemList: the singly linked list of untyped item pointers that carries the
// configuration lists, the feed model, the XML tree and the article menu.
//
// The owner picks a release callback and two context words; one callback can
// serve several lists and tell them apart by the words. The list keeps its
// tail and its length, so Append and Count are O(1), and it can be iterated
// (range-for) without walking from the head again for every index.
#pragma once

#include <cstdint>

namespace feedlet {

using ItemReleaseFn = void (*)(void* item, uint32_t context1, uint32_t context2);
// Returns > 0 when left must come after right.
using ItemCompareFn = int32_t (*)(const void* left, const void* right, uint32_t word_a,
                                  uint32_t word_b);

struct ItemNode {
    void* item;
    ItemNode* next;
};

class ItemList {
public:
    ItemReleaseFn release = nullptr;
    uint32_t context1 = 0;
    uint32_t context2 = 0;

    ItemList() = default;
    ItemList(ItemReleaseFn fn, uint32_t word1, uint32_t word2 = 0)
        : release(fn), context1(word1), context2(word2) {}
    ~ItemList() { Clear(); }
    ItemList(const ItemList&) = delete;
    ItemList& operator=(const ItemList&) = delete;

    // Links a new node holding item after the last one. Returns the node, or
    // null when no node could be allocated (the item is then not in the list).
    ItemNode* Append(void* item);
    // Links a node whose storage the caller provides (holding its item)
    // after the last one. For lists that live in an arena together with
    // their nodes (the XML tree): such a list is dropped with its storage,
    // never cleared, destroyed or shortened, which would free the nodes.
    void Link(ItemNode* node) {
        node->next = nullptr;
        if (last_) last_->next = node;
        else first_ = node;
        last_ = node;
        ++count_;
    }
    // Unlinks the node at index (nothing for an index out of range); when
    // release is nonzero the item goes to the release callback, if one is set.
    void RemoveAt(int32_t index, int release_item);
    // Releases every item (when a callback is set) and frees every node.
    void Clear();
    // The item at index, or null when there is none.
    void* ItemAt(int32_t index) const;
    uint32_t Count() const { return count_; }
    bool Empty() const { return first_ == nullptr; }
    // Stable top-down merge sort of the nodes themselves; allocates nothing.
    void Sort(ItemCompareFn compare, uint32_t word_a, uint32_t word_b);

    // Index of the first node holding item, or -1.
    int32_t IndexOf(const void* item) const;

    template <typename T>
    T* At(int32_t index) const { return static_cast<T*>(ItemAt(index)); }

    // Range-for over the items: for (void* p : list) ...
    class Iterator {
    public:
        explicit Iterator(const ItemNode* node) : node_(node) {}
        void* operator*() const { return node_->item; }
        Iterator& operator++() { node_ = node_->next; return *this; }
        bool operator!=(const Iterator& other) const { return node_ != other.node_; }
    private:
        const ItemNode* node_;
    };
    Iterator begin() const { return Iterator(first_); }
    Iterator end() const { return Iterator(nullptr); }

    // Typed view for range-for: for (FeedEntry* e : list.As<FeedEntry>()) ...
    template <typename T>
    struct TypedView {
        const ItemList& list;
        struct It {
            const ItemNode* node;
            T* operator*() const { return static_cast<T*>(node->item); }
            It& operator++() { node = node->next; return *this; }
            bool operator!=(const It& other) const { return node != other.node; }
        };
        It begin() const { return It{list.first_}; }
        It end() const { return It{nullptr}; }
    };
    template <typename T>
    TypedView<T> As() const { return TypedView<T>{*this}; }

private:
    ItemNode* first_ = nullptr;
    ItemNode* last_ = nullptr;
    uint32_t count_ = 0;
};

}  // namespace feedlet
