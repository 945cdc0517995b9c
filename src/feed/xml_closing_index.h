// The closing-tag index: for every start tag of a text, where the closing
// pattern "</" + its name first occurs after the tag.
//
// The content parse ends an element at the first occurrence of that pattern
// after its start tag, with no regard to nesting. Searching the text for it
// tag by tag costs time quadratic in the text on hostile documents (every
// unclosed tag rescans the rest), so the answers are worked out before the
// parse, in a few linear passes, and the parse only looks them up.
//
// The index answers for the '<' of every tag the parse may have to close: a
// non-empty name, a '>' later in the text and no '/' just before it, and not
// the start of a comment or CDATA section. For any other '<' (which the
// parse never asks about) Find searches the text directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "feed/xml_internal.h"

namespace feedlet {
namespace xml_detail {

class ClosingIndex {
public:
    enum class BuildResult {
        kBuilt,
        kNoMemory,      // Find searches the text directly
        kTooManyNames,  // more distinct tag names than allowed; likewise
    };

    ClosingIndex() = default;
    ClosingIndex(const ClosingIndex&) = delete;
    ClosingIndex& operator=(const ClosingIndex&) = delete;

    // Indexes text[0, length), reading nothing outside it. A text longer
    // than 2^31 - 1 units is not indexed (kNoMemory).
    BuildResult Build(const char16_t* text, size_t length, size_t max_names = SIZE_MAX);

    // For the tag whose '<' is at opening and whose name is
    // name[0, name_length): the first q >= from (from being just after the
    // tag's '>') where "</" + name begins and ends by end, or kNotFound.
    //
    // The text from `from` on must be as it was at Build: the parse may
    // change what lies behind it. Asking in increasing order of opening, as
    // a parse in document order does, costs time linear in the text over
    // all calls.
    size_t Find(size_t opening, const char16_t* name, size_t name_length, size_t from,
                size_t end);

    bool built() const { return built_; }

private:
    using Position = uint32_t;
    static constexpr Position kNoPosition = UINT32_MAX;

    struct Entry {
        uint64_t hash;
        Position length;  // 0: the slot is free (names are never empty)
        Position id;      // names are numbered densely in order of discovery
    };
    struct Hit {
        Position id;
        Position position;
    };
    // Table accesses land at random. They are made in batches whose slots
    // are fetched ahead first, so that their cache misses overlap instead of
    // following one another: on texts with many distinct names the table
    // outgrows the caches, and the misses are what the index costs.
    static constexpr size_t kBatch = 16;
    struct Pending {
        uint64_t hash;
        Position length;
        Position where;  // the answer slot of an opening, or the position of a "</"
        char16_t first;  // a name's first unit
        const char16_t* at;  // a name's text
    };
    // Feeds repeat a few names thousands of times. The last name, and the
    // last run after "</", seen with each first unit and length are
    // remembered with their answers, so that a repetition costs a compare
    // instead of hashing and table look-ups.
    struct Memo {
        const char16_t* at = nullptr;
        Position length = 0;  // 0: empty
        Position count = 0;   // ids that follow: a name's one, or a run's hits
        Position ids[2] = {};
    };
    static constexpr size_t kMemoSlots = 64;
    static size_t MemoSlot(char16_t first, size_t length) { return (first * 31u + length) % kMemoSlots; }
    bool Remembered(const Memo& memo, const char16_t* at, size_t length) const {
        return memo.length == length && std::memcmp(memo.at, at, length * sizeof(char16_t)) == 0;
    }
    // Up to this many names the table stays in the caches, and the runs
    // after "</" are looked up at once (and remembered) instead of in
    // batches.
    static constexpr size_t kDirectNames = 4096;

    uint64_t HashOf(const char16_t* name, size_t length) const;
    size_t HomeSlot(uint64_t hash, size_t length) const;
    size_t Slot(uint64_t hash, size_t length) const;
    size_t FilterBit(uint64_t hash, size_t length) const;
    void Prefetch(const Pending* batch, size_t count) const;
    bool Grow();
    BuildResult InsertNames(const Pending* batch, size_t count, size_t max_names);
    BuildResult CollectNames(size_t max_names);
    bool BuildFilter();
    bool RecordHits(const Pending* batch, size_t count);
    bool CollectClosings();
    bool CollectClosingsDirectly();
    bool AnswerTags();
    bool GroupHits();
    bool IsIndexed(size_t position) const;
    size_t Rank(size_t position);
    size_t FindPlain(const char16_t* name, size_t name_length, size_t from, size_t end) const;

    const char16_t* text_ = nullptr;
    size_t length_ = 0;
    uint64_t base_ = 1;
    bool built_ = false;

    // Kept for the parse:
    PodArray<uint64_t> indexed_;    // one bit per unit: a '<' the index answers for
    PodArray<Position> answers_;    // per indexed '<' in order: its answer, or kNoPosition
    PodArray<Entry> table_;         // the names; open addressing, size a power of two
    size_t used_ = 0;               // names in the table
    PodArray<Position> group_first_;  // per name: where its hits start in grouped_
    PodArray<Position> grouped_;      // every hit's position, grouped by name, ascending within
    size_t rank_position_ = 0;      // Rank's cursor: indexed '<' before this position...
    size_t rank_count_ = 0;         // ...number this many

    // Only while building:
    PodArray<Position> names_;      // per indexed '<': the id of its name
    PodArray<Position> closings_;   // every "</", ascending
    PodArray<Hit> hits_;            // "</" + a name, ascending position
    size_t longest_ = 0;            // longest name
    PodArray<uint8_t> has_length_;  // [n] != 0: some name is n units long
    // [u % 64] bit n - 1: some name of n <= 64 units begins with a unit like u.
    uint64_t short_lengths_[64] = {};
    Memo name_memo_[kMemoSlots];
    Memo closing_memo_[kMemoSlots];
    // One bit per name, set at a spot its hash picks: most prefixes of
    // closing tags are no name, and a clear bit says so without touching the
    // (much larger) table.
    PodArray<uint64_t> filter_;
};

}  // namespace xml_detail
}  // namespace feedlet
