// Pieces shared by the XML parser's source files and nothing else: the
// character classes and scans of the hot loops, a growable array that
// reports allocation failure, the in-place forms of the public text helpers,
// and the content parser itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/item_list.h"
#include "feed/xml_node.h"

namespace feedlet {
namespace xml_detail {

class XmlArena;

// What the parser sets in a node besides its public fields.
struct NodeAccess {
    static void SetArena(XmlNode& node, XmlArena* arena);
};

constexpr size_t kNotFound = SIZE_MAX;

// Classes of the units below U+0100, one bit each; the few white-space
// units above are tested in IsSpaceUnit itself.
enum : uint8_t {
    kSpaceClass = 1,    // 9..13, U+0020, U+00A0: white space (IsXmlSpace)
    kNameEndClass = 2,  // white space, '/' and '>': what ends a tag's name
};
extern const uint8_t kUnitClass[256];

// IsXmlSpace, inline for the parser's loops.
inline bool IsSpaceUnit(char16_t c) {
    if (c < 0x100) return kUnitClass[c] & kSpaceClass;
    if (c == 0x1680 || c == 0x3000) return true;
    if (c < 0x2000 || c > 0x205F) return false;
    return c <= 0x200A || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F;
}

// A tag's name runs up to the first of these; so does the text that a
// closing pattern "</name" has to begin with.
inline bool IsNameEnd(char16_t c) {
    if (c < 0x100) return kUnitClass[c] & kNameEndClass;
    return IsSpaceUnit(c);
}

// The first position in text[from, end) of a unit that ends a name, or end;
// *saw_open (when given) tells whether a '<' came before it. Reads nothing
// outside the range.
inline size_t FindNameEnd(const char16_t* text, size_t from, size_t end, bool* saw_open = nullptr) {
    size_t i = from;
    bool open = false;
#if defined(__SSE2__)
    // Blocks without a unit that may end a name (at most U+0020, '/', '>',
    // from U+00A0 on) or a '<' are passed whole; a unit that may is then
    // looked at alone.
    const __m128i space_top = _mm_set1_epi16(0x20);
    const __m128i ascii_top = _mm_set1_epi16(0x9F);
    const __m128i slash = _mm_set1_epi16(u'/');
    const __m128i gt = _mm_set1_epi16(u'>');
    const __m128i lt = _mm_set1_epi16(u'<');
    const __m128i zero = _mm_setzero_si128();
    while (i + 8 <= end) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        __m128i low = _mm_cmpeq_epi16(_mm_subs_epu16(block, space_top), zero);
        __m128i below_high = _mm_cmpeq_epi16(_mm_subs_epu16(block, ascii_top), zero);
        __m128i marks = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(block, slash), _mm_cmpeq_epi16(block, gt)),
                                     _mm_or_si128(_mm_cmpeq_epi16(block, lt), low));
        unsigned candidates = static_cast<unsigned>(_mm_movemask_epi8(marks)) |
                              (static_cast<unsigned>(_mm_movemask_epi8(below_high)) ^ 0xFFFFu);
        if (!candidates) {
            i += 8;
            continue;
        }
        i += static_cast<size_t>(__builtin_ctz(candidates)) / 2;
        char16_t c = text[i];
        if (IsNameEnd(c)) {
            if (saw_open) *saw_open = open;
            return i;
        }
        if (c == u'<') open = true;
        ++i;
    }
#endif
    for (; i < end; ++i) {
        char16_t c = text[i];
        if (IsNameEnd(c)) break;
        if (c == u'<') open = true;
    }
    if (saw_open) *saw_open = open;
    return i;
}

// The first position of unit in text[from, end), or end. Reads nothing
// outside that range.
inline size_t FindUnit(const char16_t* text, size_t from, size_t end, char16_t unit) {
    size_t i = from;
#if defined(__SSE2__)
    const __m128i wanted = _mm_set1_epi16(static_cast<short>(unit));
    for (; i + 8 <= end; i += 8) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(block, wanted));
        if (mask) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask))) / 2;
    }
#endif
    while (i < end && text[i] != unit) ++i;
    return i;
}

// The first position in text[from, end) whose unit is not unit, or end.
size_t SkipUnit(const char16_t* text, size_t from, size_t end, char16_t unit);

// The length of a terminated text of at most limit units (limit when no
// terminator comes first), reading nothing at or beyond text + limit.
size_t BoundedLength(const char16_t* text, size_t limit);

// A growable array of plain values that reports allocation failure instead
// of throwing. It allocates like the tree does (nothrow new), so one
// failure-injection hook reaches every allocation of a parse.
template <typename T>
class PodArray {
public:
    PodArray() = default;
    ~PodArray() { ::operator delete(data_); }
    PodArray(const PodArray&) = delete;
    PodArray& operator=(const PodArray&) = delete;

    bool Push(const T& value) {
        if (size_ == capacity_ && !Reserve(capacity_ ? capacity_ * 2 : 64)) return false;
        data_[size_++] = value;
        return true;
    }
    bool Reserve(size_t capacity) {
        if (capacity <= capacity_) return true;
        if (capacity > SIZE_MAX / sizeof(T)) return false;
        T* grown = static_cast<T*>(::operator new(capacity * sizeof(T), std::nothrow));
        if (!grown) return false;
        if (size_) std::memcpy(static_cast<void*>(grown), data_, size_ * sizeof(T));
        ::operator delete(data_);
        data_ = grown;
        capacity_ = capacity;
        return true;
    }
    // size zero-filled elements, dropping the old contents.
    bool AssignZeroed(size_t size) {
        size_ = 0;
        if (!Reserve(size)) return false;
        if (size) std::memset(static_cast<void*>(data_), 0, size * sizeof(T));
        size_ = size;
        return true;
    }
    // size elements of value, dropping the old contents.
    bool AssignFilled(size_t size, const T& value) {
        size_ = 0;
        if (!Reserve(size)) return false;
        for (size_t i = 0; i < size; ++i) data_[i] = value;
        size_ = size;
        return true;
    }
    // count more elements at the end, left as they are.
    bool Extend(size_t count) {
        if (count > SIZE_MAX - size_) return false;
        size_t wanted = size_ + count;
        if (wanted > capacity_) {
            size_t capacity = capacity_ ? capacity_ : 64;
            while (capacity < wanted) capacity = capacity > SIZE_MAX / 2 ? wanted : capacity * 2;
            if (!Reserve(capacity)) return false;
        }
        size_ = wanted;
        return true;
    }
    // Gives the memory back.
    void Release() {
        ::operator delete(data_);
        data_ = nullptr;
        size_ = capacity_ = 0;
    }
    void Swap(PodArray& other) {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
    }
    size_t size() const { return size_; }
    T& operator[](size_t i) { return data_[i]; }
    const T& operator[](size_t i) const { return data_[i]; }
    const T* begin() const { return data_; }

private:
    T* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

// ItemList release callbacks for trees and lists built on the heap (by
// hand, or by ParseAttributes): one XmlNode (cleared, then freed) and one
// XmlAttribute (name, value, record).
void ReleaseNode(void* item, uint32_t, uint32_t);
void ReleaseAttribute(void* item, uint32_t, uint32_t);

// DecodeText over text[0, length) in place. Returns the number of units
// kept; writes no terminator.
size_t DecodeRun(char16_t* text, size_t length);

// Narrows [*begin, *end) by dropping IsXmlSpace units at both ends.
template <typename Char>
inline void TrimRange(Char** begin, Char** end) {
    Char* b = *begin;
    Char* e = *end;
    while (e > b && IsSpaceUnit(e[-1])) --e;
    while (b < e && IsSpaceUnit(*b)) ++b;
    *begin = b;
    *end = e;
}

// The attribute scanner: calls add(name, name_length, value, value_length)
// for every attribute of the (not terminated) attribute text [begin, end),
// value null for a bare name. Stops early, returning false, when add does.
// Every name and value lies inside the text; the unit right after each one
// (the '=' or blank after a name, the quote after a value) has been read for
// the last time when add is called, so add may overwrite it.
template <typename Char, typename Add>
bool ScanAttributes(Char* begin, Char* end, Add&& add) {
    enum class State { kName, kAfterName, kBeforeValue, kValue };
    State state = State::kName;
    Char* mark = begin;
    Char* name = begin;
    size_t name_length = 0;
    char16_t quote = 0;
    Char* p = begin;
    while (p < end) {
        char16_t c = *p;
        switch (state) {
        case State::kName:
            if (c == u'=' || IsSpaceUnit(c)) {
                name = mark;
                name_length = static_cast<size_t>(p - mark);
                state = State::kAfterName;
                continue;  // look at the same unit again
            }
            break;
        case State::kAfterName:
            if (c == u'=') {
                state = State::kBeforeValue;
            } else if (!IsSpaceUnit(c)) {
                // A bare name followed by another name: kept without value.
                if (!add(name, name_length, nullptr, 0)) return false;
                mark = p;
                state = State::kName;
                continue;
            }
            break;
        case State::kBeforeValue:
            // Unquoted values are not recognised: the value is the next
            // quoted string.
            if (c == u'"' || c == u'\'') {
                quote = c;
                mark = p + 1;
                state = State::kValue;
            }
            break;
        case State::kValue:
            if (c == quote) {
                if (!add(name, name_length, mark, static_cast<size_t>(p - mark))) return false;
                ++p;
                while (p < end && IsSpaceUnit(*p)) ++p;
                mark = p;
                state = State::kName;
                continue;
            }
            break;
        }
        ++p;
    }
    // A pending name without value is dropped at the end of the text.
    return true;
}

// The attributes of the attribute text [begin, end) as a list in arena,
// in place (see ScanAttributes); null when there are none. Out of memory,
// the attributes read so far.
ItemList* ArenaAttributes(char16_t* begin, char16_t* end, XmlArena& arena);

// How a content parse ended.
enum class ContentResult {
    kParsed,     // the element's own content was read to its end
    kFault,      // a malformed construct (or lack of memory) cut it short
    kTooLarge,   // more nodes and attributes than allowed: nothing is usable
};

struct ContentLimits {
    size_t max_entries = SIZE_MAX;  // nodes and attributes, the root's own excluded
    size_t max_names = SIZE_MAX;    // distinct tag names in the closing-tag index
    // The index is needed for time linear in the text on hostile documents;
    // without it closing tags are found by direct search. When required, a
    // text that cannot be indexed (memory, max_names) is kTooLarge.
    bool require_index = false;
};

struct ContentOutcome {
    ContentResult result = ContentResult::kParsed;
    bool out_of_memory = false;  // some allocation failed (the tree may lack parts)
};

// Parses the content text[0, length) (text[length] is 0) into element's
// children, in place: names and texts of the new nodes point into the text,
// which is changed behind the parse (references decoded, terminators
// written), and every node comes from arena. The element has its name and
// attributes already and no children. Faults in nested elements only cut
// those elements short; kFault says the element's own content was cut.
ContentOutcome ParseContent(XmlNode* element, char16_t* text, size_t length, XmlArena& arena,
                            const ContentLimits& limits);

// Tests only: every parse hashes names with this base (0: a fresh random
// base per parse, the normal case). Base 1 makes every anagram collide, which
// exercises the paths for names with equal hashes.
void ForceHashBaseForTesting(uint64_t base);

// Tests only: arena blocks after the first hold this many bytes (0: the
// normal growing sizes). A small size makes every node and list its own
// allocation, so that a failure can be injected at each of them.
void ForceArenaBlockSizeForTesting(size_t bytes);

}  // namespace xml_detail
}  // namespace feedlet
