#include "core/item_list.h"

#include <new>

namespace feedlet {

ItemNode* ItemList::Append(void* item) {
    ItemNode* node = new (std::nothrow) ItemNode{item, nullptr};
    if (!node) return nullptr;
    if (last_) last_->next = node;
    else first_ = node;
    last_ = node;
    ++count_;
    return node;
}

void ItemList::RemoveAt(int32_t index, int release_item) {
    if (index < 0 || static_cast<uint32_t>(index) >= count_) return;
    ItemNode* previous = nullptr;
    ItemNode* node = first_;
    for (int32_t i = 0; i < index; ++i) {
        previous = node;
        node = node->next;
    }
    if (previous) previous->next = node->next;
    else first_ = node->next;
    if (node == last_) last_ = previous;
    --count_;
    if (release_item && release) release(node->item, context1, context2);
    delete node;
}

void ItemList::Clear() {
    // Detach the chain first so a release callback that looks at this list
    // sees it empty rather than half torn down.
    ItemNode* node = first_;
    first_ = last_ = nullptr;
    count_ = 0;
    while (node) {
        ItemNode* next = node->next;
        if (release) release(node->item, context1, context2);
        delete node;
        node = next;
    }
}

void* ItemList::ItemAt(int32_t index) const {
    if (index < 0 || static_cast<uint32_t>(index) >= count_) return nullptr;
    const ItemNode* node = first_;
    for (int32_t i = 0; i < index; ++i) node = node->next;
    return node->item;
}

int32_t ItemList::IndexOf(const void* item) const {
    int32_t index = 0;
    for (const ItemNode* node = first_; node; node = node->next, ++index)
        if (node->item == item) return index;
    return -1;
}

namespace {

struct SortContext {
    ItemCompareFn compare;
    uint32_t word_a;
    uint32_t word_b;
};

ItemNode* Merge(ItemNode* first, ItemNode* second, const SortContext& ctx) {
    ItemNode head{nullptr, nullptr};
    ItemNode* tail = &head;
    while (first && second) {
        // Ties take the first part's node: that is what makes the sort stable.
        if (ctx.compare(first->item, second->item, ctx.word_a, ctx.word_b) > 0) {
            tail->next = second;
            second = second->next;
        } else {
            tail->next = first;
            first = first->next;
        }
        tail = tail->next;
    }
    tail->next = first ? first : second;
    return head.next;
}

// Recursion depth is about log2(n): each level halves the chain.
ItemNode* MergeSort(ItemNode* chain, const SortContext& ctx) {
    if (!chain || !chain->next) return chain;
    // Slow/fast split gives the first part ceil(n/2) nodes.
    ItemNode* slow = chain;
    ItemNode* fast = chain->next;
    while (fast && fast->next) {
        slow = slow->next;
        fast = fast->next->next;
    }
    ItemNode* second = slow->next;
    slow->next = nullptr;
    second = MergeSort(second, ctx);
    ItemNode* first = MergeSort(chain, ctx);
    return Merge(first, second, ctx);
}

}  // namespace

void ItemList::Sort(ItemCompareFn compare, uint32_t word_a, uint32_t word_b) {
    if (!compare) return;
    first_ = MergeSort(first_, SortContext{compare, word_a, word_b});
    last_ = first_;
    while (last_ && last_->next) last_ = last_->next;
}

}  // namespace feedlet
