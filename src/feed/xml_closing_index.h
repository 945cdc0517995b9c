// The closing-tag index: for a start tag, where the closing pattern
// "</" + its name first occurs after the tag.
//
// The content parse ends an element at the first occurrence of that pattern
// after its start tag, with no regard to nesting. Searching the text for it
// tag by tag costs time quadratic in the text on hostile documents (every
// unclosed tag rescans the rest), so one pass before the parse lists, for
// every name, the places where its pattern occurs, and the parse looks them
// up.
//
// A name is what follows a '<' up to the first white space, '/' or '>'
// (names may hold '<'), unless that '<' starts a comment or CDATA section:
// those are recognised before tags, so no tag has such a name.
#pragma once

#include <cstddef>
#include <cstdint>

#include "feed/xml_internal.h"

namespace feedlet {
namespace xml_detail {

class ClosingIndex {
public:
    enum class BuildResult {
        kBuilt,
        kNoMemory,      // Find searches the text directly
        kTooManyNames,  // more distinct names than allowed; likewise
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
    // The answer depends on the name alone; opening says which tag asks.
    //
    // The text from `from` on must be as it was at Build: the parse may
    // change what lies behind it. Asking with from never decreasing, as a
    // parse in document order does, costs time linear in the text and the
    // names asked over all calls. A name that follows no '<' of the text but
    // comment and CDATA starts (which the parse never asks about) is
    // searched for directly.
    size_t Find(size_t opening, const char16_t* name, size_t name_length, size_t from,
                size_t end);

    bool built() const { return built_; }

private:
    using Position = uint32_t;

    struct Entry {
        uint64_t hash;
        Position length;  // 0: the slot is free (names are never empty)
        Position id;      // names are numbered densely in order of discovery
    };
    struct Hit {
        Position id;
        Position position;  // of the "</"
    };

    size_t Slot(uint64_t hash, size_t length) const;
    bool Grow();
    BuildResult AddName(uint64_t hash, size_t length, size_t max_names);
    bool AddHits(size_t closing, PodArray<Hit>& hits);
    BuildResult Collect(size_t max_names, PodArray<Hit>& hits);
    bool Group(const PodArray<Hit>& hits);
    size_t FindPlain(const char16_t* name, size_t name_length, size_t from, size_t end) const;

    const char16_t* text_ = nullptr;
    size_t length_ = 0;
    uint64_t base_ = 1;
    bool built_ = false;

    PodArray<Entry> table_;            // the names; open addressing, size a power of two
    size_t used_ = 0;                  // names in the table
    size_t longest_ = 0;               // the longest name's length
    PodArray<Position> group_first_;   // per name: where its patterns start in grouped_
    PodArray<Position> grouped_;       // every pattern's position, by name, ascending within
    PodArray<Position> cursor_;        // per name: Find's place in grouped_
};

}  // namespace xml_detail
}  // namespace feedlet
