// The content parse: turns an element's content into child nodes.
//
// The reading rules are those of a simple recursive reader that copies each
// element's content and finds its closing tag by plain substring search, with
// no regard to nesting. Done literally that costs time quadratic in the input
// on hostile documents (every unclosed tag rescans the rest of the text, every
// level copies its content again) and recursion as deep as the nesting. So:
//
//  - All levels share the caller's text: an element's content is a range of
//    it, ending where the element's closing tag begins.
//  - Closing tags are found before the parse starts (ClosingIndex): a few
//    linear passes give every '<' the first place after its tag where the
//    closing pattern of its name occurs.
//  - Open elements live on an explicit stack of at most kXmlMaxDepth + 1
//    frames; a tag that would open a deeper element is a malformed construct.
//
// Every other scan (text runs, tags, CDATA, comments) moves the cursor past
// what it read, or ends the element whose range it searched, so each unit is
// read a bounded number of times.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/text_field.h"
#include "feed/xml_internal.h"
#include "feed/xml_node.h"

namespace feedlet {
namespace xml_detail {

namespace {

constexpr size_t kNone = SIZE_MAX;

// Positions in the lists below are 32-bit to halve their memory (and cache)
// footprint; a text too long for them (4 GiB) is read without the lists.
using Position = uint32_t;
constexpr size_t kMaxIndexedLength = 0x7FFFFFFF;

// A tag's name runs up to the first of these; so does the text that a closing
// pattern "</name" has to begin with.
inline bool IsNameEnd(char16_t c) {
    return c == u'>' || c == u'/' || IsSpaceUnit(c);
}

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

// --- The length of the text and where every '<' is. ---

#if defined(__SSE2__)
// Finds the terminator 8 units at a time. The loads are 16-byte aligned, so a
// load that reaches past the terminator stays within the terminator's page
// and cannot fault; the address and thread sanitizers, which see only the
// over-read (of bytes that may belong to a freed block), are told to let
// these loads be (as the C library's own strlen does).
__attribute__((no_sanitize_address, no_sanitize_thread)) size_t TextLength(const char16_t* text) {
    const char16_t* p = text;
    while (reinterpret_cast<uintptr_t>(p) & 15) {
        if (*p == 0) return static_cast<size_t>(p - text);
        ++p;
    }
    const __m128i zero = _mm_setzero_si128();
    for (;; p += 8) {
        __m128i block = _mm_load_si128(reinterpret_cast<const __m128i*>(p));
        int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(block, zero));
        if (mask) return static_cast<size_t>(p - text) + static_cast<size_t>(__builtin_ctz(mask)) / 2;
    }
}
#else
size_t TextLength(const char16_t* text) {
    return Utf16Length(text);
}
#endif

// The first position of unit in text[from, end), or end.
size_t FindUnit(const char16_t* text, size_t from, size_t end, char16_t unit) {
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

// Positions of every '<' in text[0, length), ascending.
bool FindOpenings(const char16_t* text, size_t length, PodArray<Position>& out) {
    if (length > kMaxIndexedLength) return false;
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i open = _mm_set1_epi16(u'<');
    for (; i + 8 <= length; i += 8) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(block, open)));
        while (mask) {
            unsigned bit = static_cast<unsigned>(__builtin_ctz(mask));
            if (!out.Push(static_cast<Position>(i + bit / 2))) return false;
            mask &= ~(3u << bit);
        }
    }
#endif
    for (; i < length; ++i)
        if (text[i] == u'<' && !out.Push(static_cast<Position>(i))) return false;
    return true;
}

// --- The closing-tag index. ---

// A polynomial hash sum(unit[k] * base^k) in wrapping 64-bit arithmetic: it
// extends at the end (closing tags, names looked up) and at the front (names
// that share their end). The base is odd and chosen afresh for every parse,
// so nobody can prepare names whose hashes collide; collisions would cost
// time only, since every candidate is checked against the text.
struct NameHash {
    uint64_t value = 0;
    uint64_t power = 1;  // base^length, for the next unit at the end

    void Append(char16_t c, uint64_t base) {
        value += c * power;
        power *= base;
    }
    void Prepend(char16_t c, uint64_t base) {  // leaves power behind
        value = c + value * base;
    }
};

std::atomic<uint64_t> g_forced_base{0};

uint64_t FreshBase(const void* salt) {
    if (uint64_t forced = g_forced_base.load(std::memory_order_relaxed)) return forced;
    static std::atomic<uint32_t> counter{0};
    uint64_t x = reinterpret_cast<uintptr_t>(salt) ^
                 (static_cast<uint64_t>(counter.fetch_add(1, std::memory_order_relaxed)) << 32);
    // splitmix64's finalizer
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    return x | 1;
}

// Where each tag's closing pattern "</" + name first occurs after the tag.
//
// A pattern occurs at q when the text after the "</" at q begins with the
// name, which is then a prefix of the run of name units there. So: hash the
// name after every '<' into a table of names; pass over every "</" and the
// prefixes of its run, keeping those that are names (hits); then sweep the
// text backwards, remembering for each name the nearest hit seen, which for
// each '<' is the answer for its tag. Every pass reads each unit a bounded
// number of times (runs after "</" hold no '/', so they do not overlap), and
// the parse itself then needs no look-up at all.
class ClosingIndex {
public:
    // False when memory ran out or there is no list of '<' (null); Find then
    // searches the text directly.
    bool Build(const char16_t* text, size_t length, const PodArray<Position>* openings);
    // For the tag whose '<' is openings[opening] and whose name is
    // name[0, name_length): the first q >= from (from being just after the
    // tag's '>') with "</" + name at q and ending by end, or kNone.
    size_t Find(size_t opening, const char16_t* name, size_t name_length, size_t from,
                size_t end) const;

private:
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
        Position where;  // the opening's index, or the position of the "</"
    };

    size_t HomeSlot(uint64_t hash, size_t length) const;
    size_t Slot(uint64_t hash, size_t length) const;
    size_t FilterBit(uint64_t hash, size_t length) const;
    void Prefetch(const Pending* batch, size_t count) const;
    bool InsertNames(const Pending* batch, size_t count);
    bool Grow();
    bool CollectNames(const PodArray<Position>& openings);
    bool BuildFilter();
    bool RecordHits(const Pending* batch, size_t count, PodArray<Hit>& hits);
    bool CollectClosings(const PodArray<Position>& openings);
    bool AnswerTags(const PodArray<Position>& openings);
    size_t FindPlain(const char16_t* name, size_t name_length, size_t from, size_t end) const;

    const char16_t* text_ = nullptr;
    size_t length_ = 0;
    uint64_t base_ = 1;
    bool built_ = false;
    PodArray<Entry> table_;  // open addressing; size a power of two
    size_t used_ = 0;
    size_t longest_ = 0;            // longest name
    PodArray<uint8_t> has_length_;  // [n] != 0: some name is n units long
    // One bit per name, set at a spot its hash picks: most prefixes of
    // closing tags are no name, and a clear bit says so without touching the
    // (much larger) table.
    PodArray<uint64_t> filter_;
    PodArray<Hit> hits_;                 // ascending position
    PodArray<Position> opening_name_;    // per '<': the id of its name, or kNoPosition
    PodArray<Position> next_closing_;    // per '<': the answer for its tag, or kNoPosition
    PodArray<Position> group_first_;     // per name id: where its hits start in grouped_
    PodArray<Position> grouped_;         // hit positions grouped by name, ascending within
};

inline uint64_t MixKey(uint64_t hash, size_t length) {
    return (hash ^ (hash >> 29) ^ (static_cast<uint64_t>(length) * 0x9E3779B97F4A7C15ull)) *
           0xFF51AFD7ED558CCDull;
}

size_t ClosingIndex::HomeSlot(uint64_t hash, size_t length) const {
    return static_cast<size_t>(MixKey(hash, length) >> 32) & (table_.size() - 1);
}

size_t ClosingIndex::Slot(uint64_t hash, size_t length) const {
    size_t mask = table_.size() - 1;
    size_t slot = HomeSlot(hash, length);
    while (table_[slot].length != 0 && (table_[slot].hash != hash || table_[slot].length != length))
        slot = (slot + 1) & mask;
    return slot;
}

size_t ClosingIndex::FilterBit(uint64_t hash, size_t length) const {
    return static_cast<size_t>(MixKey(hash, length)) & (filter_.size() * 64 - 1);
}

void ClosingIndex::Prefetch(const Pending* batch, size_t count) const {
    for (size_t i = 0; i < count; ++i)
        __builtin_prefetch(&table_[HomeSlot(batch[i].hash, batch[i].length)]);
}

bool ClosingIndex::Grow() {
    PodArray<Entry> previous;
    previous.Swap(table_);
    if (!table_.AssignZeroed(previous.size() ? previous.size() * 2 : 64)) return false;
    for (size_t i = 0; i < previous.size(); ++i)
        if (previous[i].length != 0) table_[Slot(previous[i].hash, previous[i].length)] = previous[i];
    return true;
}

bool ClosingIndex::InsertNames(const Pending* batch, size_t count) {
    while ((used_ + count) * 2 > table_.size())
        if (!Grow()) return false;
    Prefetch(batch, count);
    for (size_t i = 0; i < count; ++i) {
        Entry& entry = table_[Slot(batch[i].hash, batch[i].length)];
        if (entry.length == 0) {
            entry = Entry{batch[i].hash, batch[i].length, static_cast<Position>(used_++)};
            if (batch[i].length > longest_) longest_ = batch[i].length;
        }
        opening_name_[batch[i].where] = entry.id;
    }
    return true;
}

// Every '<' is taken as a possible start tag. Names can contain '<'
// ("<a<b>" is one tag named "a<b"), so several names may end at the same
// place: one backward pass over such a stretch hashes all of them.
bool ClosingIndex::CollectNames(const PodArray<Position>& openings) {
    if (!opening_name_.AssignZeroed(openings.size())) return false;
    for (size_t o = 0; o < openings.size(); ++o) opening_name_[o] = kNoPosition;
    const char16_t* t = text_;
    Pending batch[kBatch];
    size_t pending = 0;
    for (size_t o = 0; o < openings.size();) {
        size_t i = openings[o];
        size_t end = i + 1;
        while (end < length_ && !IsNameEnd(t[end])) ++end;
        size_t last = o;  // the openings of this stretch are o..last
        while (last + 1 < openings.size() && openings[last + 1] < end) ++last;
        size_t current = last;
        NameHash hash;
        for (size_t k = end; k-- > i;) {
            if (t[k] == u'<') {
                if (k + 1 < end) {
                    batch[pending++] = Pending{hash.value, static_cast<Position>(end - k - 1),
                                               static_cast<Position>(current)};
                    if (pending == kBatch) {
                        if (!InsertNames(batch, pending)) return false;
                        pending = 0;
                    }
                }
                --current;
            }
            hash.Prepend(t[k], base_);
        }
        o = last + 1;
    }
    return InsertNames(batch, pending);
}

bool ClosingIndex::BuildFilter() {
    size_t words = 64;  // about 16 bits per name, a power of two
    while (words * 4 < used_) words *= 2;
    if (!has_length_.AssignZeroed(longest_ + 1) || !filter_.AssignZeroed(words)) return false;
    for (size_t s = 0; s < table_.size(); ++s) {
        const Entry& entry = table_[s];
        if (entry.length == 0) continue;
        has_length_[entry.length] = 1;
        size_t bit = FilterBit(entry.hash, entry.length);
        filter_[bit / 64] |= uint64_t{1} << (bit % 64);
    }
    return true;
}

bool ClosingIndex::RecordHits(const Pending* batch, size_t count, PodArray<Hit>& hits) {
    Prefetch(batch, count);
    for (size_t i = 0; i < count; ++i) {
        const Entry& entry = table_[Slot(batch[i].hash, batch[i].length)];
        if (entry.length != 0 && !hits.Push(Hit{entry.id, batch[i].where})) return false;
    }
    return true;
}

bool ClosingIndex::CollectClosings(const PodArray<Position>& openings) {
    const char16_t* t = text_;
    Pending batch[kBatch];
    size_t pending = 0;
    for (size_t o = 0; o < openings.size(); ++o) {
        size_t q = openings[o];
        if (q + 1 >= length_ || t[q + 1] != u'/') continue;
        NameHash hash;
        for (size_t n = 1; n <= longest_ && q + 1 + n < length_; ++n) {
            char16_t c = t[q + 1 + n];
            if (IsNameEnd(c)) break;
            hash.Append(c, base_);
            if (!has_length_[n]) continue;
            size_t bit = FilterBit(hash.value, n);
            if (!(filter_[bit / 64] & (uint64_t{1} << (bit % 64)))) continue;
            batch[pending++] = Pending{hash.value, static_cast<Position>(n), static_cast<Position>(q)};
            if (pending == kBatch) {
                if (!RecordHits(batch, pending, hits_)) return false;
                pending = 0;
            }
        }
    }
    if (!RecordHits(batch, pending, hits_)) return false;

    // Each name's hits in one group, for the rare tag whose first candidate
    // is another name with the same hash.
    if (!group_first_.AssignZeroed(used_ + 1) || !grouped_.AssignZeroed(hits_.size())) return false;
    for (size_t h = 0; h < hits_.size(); ++h) ++group_first_[hits_[h].id + 1];
    for (size_t id = 0; id < used_; ++id) group_first_[id + 1] += group_first_[id];
    PodArray<Position> filled;
    if (!filled.AssignZeroed(used_)) return false;
    for (size_t h = 0; h < hits_.size(); ++h) {  // ascending positions stay ascending
        Position id = hits_[h].id;
        grouped_[group_first_[id] + filled[id]++] = hits_[h].position;
    }
    return true;
}

// A tag's answer is the first hit of its name at or after the unit that
// follows the tag's '>' (a "</" inside the tag itself does not count). Going
// backwards, "the nearest hit of each name so far" is one number per name.
bool ClosingIndex::AnswerTags(const PodArray<Position>& openings) {
    PodArray<Position> nearest;
    if (!next_closing_.AssignZeroed(openings.size()) || !nearest.AssignZeroed(used_)) return false;
    for (size_t id = 0; id < used_; ++id) nearest[id] = kNoPosition;
    size_t h = hits_.size();
    size_t tag_end = kNone;  // the first '>' after the opening at hand
    for (size_t o = openings.size(); o-- > 0;) {
        size_t limit = o + 1 < openings.size() ? openings[o + 1] : length_;
        size_t gt = FindUnit(text_, openings[o] + 1, limit, u'>');
        if (gt < limit) tag_end = gt;  // else it is the next opening's
        if (tag_end == kNone || opening_name_[o] == kNoPosition) {
            next_closing_[o] = kNoPosition;  // an unfinished tag is never looked up
            continue;
        }
        while (h > 0 && hits_[h - 1].position > tag_end) {
            --h;
            nearest[hits_[h].id] = hits_[h].position;
        }
        next_closing_[o] = nearest[opening_name_[o]];
    }
    return true;
}

bool ClosingIndex::Build(const char16_t* text, size_t length, const PodArray<Position>* openings) {
    text_ = text;
    length_ = length;
    base_ = FreshBase(this);
    built_ = openings && table_.AssignZeroed(64) && CollectNames(*openings) && BuildFilter() &&
             CollectClosings(*openings) && AnswerTags(*openings);
    return built_;
}

size_t ClosingIndex::FindPlain(const char16_t* name, size_t name_length, size_t from,
                               size_t end) const {
    const char16_t* t = text_;
    for (size_t q = from; q + 2 + name_length <= end; ++q)
        if (t[q] == u'<' && t[q + 1] == u'/' &&
            std::memcmp(t + q + 2, name, name_length * sizeof(char16_t)) == 0)
            return q;
    return kNone;
}

size_t ClosingIndex::Find(size_t opening, const char16_t* name, size_t name_length, size_t from,
                          size_t end) const {
    if (!built_ || opening >= next_closing_.size() || opening_name_[opening] == kNoPosition)
        return FindPlain(name, name_length, from, end);
    size_t q = next_closing_[opening];
    if (q == kNoPosition || q + 2 + name_length > end) return kNone;
    if (q >= from && std::memcmp(text_ + q + 2, name, name_length * sizeof(char16_t)) == 0)
        return q;
    // Another name with the same hash: check the rest of the group.
    Position id = opening_name_[opening];
    const Position* first = grouped_.begin() + group_first_[id];
    const Position* last = grouped_.begin() + group_first_[id + 1];
    for (const Position* p = std::lower_bound(first, last, from); p != last; ++p) {
        q = *p;
        if (q + 2 + name_length > end) return kNone;
        if (std::memcmp(text_ + q + 2, name, name_length * sizeof(char16_t)) == 0) return q;
    }
    return kNone;
}

// --- The parse. ---

// One open element: the node, where its content ends and how far it is read.
struct Frame {
    XmlNode* node;
    size_t cursor;
    size_t end;
};

enum class StepResult { kEnd, kFault, kOpen };

class ContentParser {
public:
    explicit ContentParser(const char16_t* text) : text_(text), length_(TextLength(text)) {}
    ContentParser(const ContentParser&) = delete;
    ContentParser& operator=(const ContentParser&) = delete;

    bool Run(XmlNode* element);

private:
    StepResult ReadContent(Frame& frame, int32_t depth, Frame* opened);
    size_t NextOpening(size_t from, size_t end);
    size_t OpeningIndex(size_t at);
    bool Matches(size_t at, size_t end, const char16_t* pattern, size_t length) const;
    size_t Search(size_t from, size_t end, const char16_t* pattern) const;
    static bool AppendChild(XmlNode* parent, XmlNode* child);
    static bool AppendText(XmlNode* parent, char16_t* text);
    bool AppendTextRun(XmlNode* parent, size_t begin, size_t end);
    XmlNode* NewElement(size_t name, size_t name_length, size_t tag_end);

    const char16_t* text_;
    size_t length_;
    PodArray<Position> openings_;  // every '<', ascending
    bool have_openings_ = false;
    size_t next_opening_ = 0;      // index into openings_ of the last answer
    ClosingIndex closings_;
};

// The first '<' in [from, end), or end. Text runs are read in document order,
// so the answers move forward and the search resumes where it stopped.
size_t ContentParser::NextOpening(size_t from, size_t end) {
    if (!have_openings_) return FindUnit(text_, from, end, u'<');
    const Position* all = openings_.begin();
    size_t k = next_opening_;
    if (k > 0 && all[k - 1] >= from)  // asked out of order: start over
        k = static_cast<size_t>(std::lower_bound(all, all + k, from) - all);
    while (k < openings_.size() && all[k] < from) ++k;
    next_opening_ = k;
    if (k == openings_.size() || openings_[k] > end) return end;
    return openings_[k];
}

// The index in openings_ of the '<' at position at (SIZE_MAX without the
// list).
size_t ContentParser::OpeningIndex(size_t at) {
    if (!have_openings_) return kNone;
    NextOpening(at, at + 1);
    return next_opening_;
}

bool ContentParser::Matches(size_t at, size_t end, const char16_t* pattern,
                            size_t length) const {
    if (end - at < length) return false;
    return std::memcmp(text_ + at, pattern, length * sizeof(char16_t)) == 0;
}

// First position of a three-unit pattern in [from, end), or kNone.
size_t ContentParser::Search(size_t from, size_t end, const char16_t* pattern) const {
    const char16_t* t = text_;
    if (end - from < 3) return kNone;
    for (size_t i = from;; ++i) {
        i = FindUnit(t, i, end - 2, pattern[0]);
        if (i >= end - 2) return kNone;
        if (t[i + 1] == pattern[1] && t[i + 2] == pattern[2]) return i;
    }
}

bool ContentParser::AppendChild(XmlNode* parent, XmlNode* child) {
    if (!parent->children) {
        parent->children = new (std::nothrow) ItemList(ReleaseNode, 0, 0);
        if (!parent->children) {
            delete child;
            return false;
        }
    }
    if (!parent->children->Append(child)) {
        delete child;
        if (parent->children->Empty()) {  // an empty list is never kept
            delete parent->children;
            parent->children = nullptr;
        }
        return false;
    }
    return true;
}

// Takes ownership of text (new[]).
bool ContentParser::AppendText(XmlNode* parent, char16_t* text) {
    XmlNode* node = new (std::nothrow) XmlNode;
    if (!node) {
        delete[] text;
        return false;
    }
    node->text = text;
    return AppendChild(parent, node);
}

// Decoded and trimmed. White space at the ends of the raw run can only
// decode to white space or nothing, and cannot be part of a reference, so it
// is dropped first: runs between tags then cost no allocation at all.
bool ContentParser::AppendTextRun(XmlNode* parent, size_t begin, size_t end) {
    const char16_t* first = text_ + begin;
    const char16_t* last = text_ + end;
    TrimRange(&first, &last);
    size_t length = static_cast<size_t>(last - first);
    if (length == 0) return true;
    char16_t* text = new (std::nothrow) char16_t[length + 1];
    if (!text) return false;
    size_t decoded = DecodeRun(first, length, text);
    const char16_t* kept = text;
    const char16_t* kept_end = text + decoded;
    TrimRange(&kept, &kept_end);  // references may have made white space
    size_t kept_length = static_cast<size_t>(kept_end - kept);
    if (kept_length == 0) {
        delete[] text;
        return true;
    }
    if (kept_length < length / 2) {
        // Mostly references or folded space: do not keep the slack.
        char16_t* exact = Utf16Duplicate(kept, kept_length);
        delete[] text;
        if (!exact) return false;
        return AppendText(parent, exact);
    }
    if (kept != text) std::memmove(text, kept, kept_length * sizeof(char16_t));
    text[kept_length] = 0;
    return AppendText(parent, text);
}

// The element of the tag whose name is at [name, name + name_length) and whose
// '>' is at tag_end, with its attributes and no children.
XmlNode* ContentParser::NewElement(size_t name, size_t name_length, size_t tag_end) {
    XmlNode* element = new (std::nothrow) XmlNode;
    if (!element) return nullptr;
    element->name = Utf16Duplicate(text_ + name, name_length);
    if (!element->name) {
        delete element;
        return nullptr;
    }
    // The attribute text loses spaces and '/' at both ends (so that "<a />"
    // and "<a/>" read alike), then any other white space.
    const char16_t* first = text_ + name + name_length;
    const char16_t* last = text_ + tag_end;
    while (first < last && (*first == u' ' || *first == u'/')) ++first;
    while (last > first && (last[-1] == u' ' || last[-1] == u'/')) --last;
    TrimRange(&first, &last);
    if (first < last) element->attributes = ParseAttributeRange(first, last);
    return element;
}

// Reads the frame's content from its cursor until the content ends
// (kEnd), a malformed construct stops it (kFault), or a child element with
// content has to be read first (kOpen, the child's frame in *opened; the
// cursor is then already past the child's closing tag).
StepResult ContentParser::ReadContent(Frame& frame, int32_t depth, Frame* opened) {
    const char16_t* t = text_;
    const size_t end = frame.end;
    size_t c = frame.cursor;
    while (c < end) {
        if (t[c] != u'<') {
            // A text run. A '>' here ends a tag, CDATA section or comment
            // just read, and is passed over.
            size_t begin = t[c] == u'>' ? c + 1 : c;
            size_t stop = NextOpening(begin, end);
            if (!AppendTextRun(frame.node, begin, stop)) return StepResult::kFault;
            c = stop;
            continue;
        }
        if (Matches(c, end, u"<![CDATA[", 9)) {
            size_t close = Search(c + 9, end, u"]]>");
            if (close == kNone) return StepResult::kFault;
            if (close > c + 9) {
                char16_t* text = Utf16Duplicate(t + c + 9, close - c - 9);
                if (!text || !AppendText(frame.node, text)) return StepResult::kFault;
            }
            c = close + 2;
            continue;
        }
        if (Matches(c, end, u"<!--", 4)) {
            // Searched from the '<' itself, so "<!-->" is a whole comment.
            size_t close = Search(c + 2, end, u"-->");
            if (close == kNone) return StepResult::kFault;
            c = close + 2;
            continue;
        }
        // Any other '<' starts a tag, "<!DOCTYPE" and "<?pi" included. One
        // that would open an element deeper than the bound is malformed.
        if (depth >= kXmlMaxDepth) return StepResult::kFault;
        size_t tag_end = FindUnit(t, c + 1, end, u'>');
        if (tag_end >= end || tag_end == c + 1) return StepResult::kFault;
        size_t name = c + 1;
        size_t name_end = name;
        while (name_end < tag_end && t[name_end] != u'/' && !IsSpaceUnit(t[name_end])) ++name_end;
        // An empty name: a stray closing tag, or "< x>".
        if (name_end == name) return StepResult::kFault;
        size_t name_length = name_end - name;
        XmlNode* child = NewElement(name, name_length, tag_end);
        if (!child || !AppendChild(frame.node, child)) return StepResult::kFault;
        if (t[tag_end - 1] == u'/') {  // self-closing
            c = tag_end;
            continue;
        }
        size_t closing = closings_.Find(OpeningIndex(c), t + name, name_length, tag_end + 1, end);
        if (closing == kNone) {
            // Unclosed: empty, and what would have been its content is read
            // as its following siblings.
            c = tag_end;
            continue;
        }
        // "</a>" or "</a " closes a; "</ab" leaves a without content. Either
        // way the unit after the pattern is consumed too.
        size_t after = closing + 2 + name_length;
        bool closes = after < end && (t[after] == u'>' || IsSpaceUnit(t[after]));
        c = after < end ? after + 1 : end;
        if (closes && closing > tag_end + 1) {
            frame.cursor = c;
            *opened = Frame{child, tag_end + 1, closing};
            return StepResult::kOpen;
        }
    }
    frame.cursor = c;
    return StepResult::kEnd;
}

bool ContentParser::Run(XmlNode* element) {
    // Without memory for the '<' list or the index, '<' and closing tags are
    // found by direct search: slower on hostile input, the same tree.
    have_openings_ = FindOpenings(text_, length_, openings_);
    (void)closings_.Build(text_, length_, have_openings_ ? &openings_ : nullptr);
    Frame stack[kXmlMaxDepth + 1];
    int32_t top = 0;
    stack[0] = Frame{element, 0, length_};
    bool ok = true;
    while (top >= 0) {
        Frame opened;
        switch (ReadContent(stack[top], top, &opened)) {
        case StepResult::kOpen:
            stack[++top] = opened;
            break;
        case StepResult::kFault:
            // Cuts short this element only; its parent goes on after the
            // closing tag located before this content was read.
            if (top == 0) ok = false;
            --top;
            break;
        case StepResult::kEnd:
            --top;
            break;
        }
    }
    return ok;
}

}  // namespace

void ForceHashBaseForTesting(uint64_t base) {
    g_forced_base.store(base, std::memory_order_relaxed);
}

bool ParseContent(XmlNode* element, const char16_t* content) {
    ContentParser parser(content);
    return parser.Run(element);
}

}  // namespace xml_detail
}  // namespace feedlet
