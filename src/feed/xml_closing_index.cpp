// ClosingIndex: where each name's closing pattern "</" + name occurs.
//
// The pattern of a name occurs at q when the text after the "</" at q begins
// with the name: the name is then a prefix of the run of name units there.
// So one pass over the text enters the name after every '<' into a table,
// and at every "</" looks up each prefix of its run, recording a hit for
// every prefix that is a name seen so far (a tag after q does not care about
// q). The hits, grouped by name, are what Find searches. Runs after "</" hold
// no '/', so they do not overlap, and the pass reads each unit a bounded
// number of times.
#include "feed/xml_closing_index.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace feedlet {
namespace xml_detail {

namespace {

// Positions are 32-bit to halve the index's memory (and cache) footprint.
constexpr size_t kMaxIndexedLength = 0x7FFFFFFF;

// Names are keyed by a polynomial hash sum(unit[k] * base^k) in wrapping
// 64-bit arithmetic, which extends at the end (the prefixes of a run after
// "</") and at the front in constant time. The front matters because names
// can hold '<' ("<a<b>" is a tag named "a<b" and one named "b"): the names
// ending at the same place are suffixes of one another, and keying each by
// its text would cost time quadratic in "<<<<...<a>".
//
// Names with equal hashes share a table entry, and Find tells them apart by
// comparing with the text, so a collision costs time: each question for
// one name passes over the other's hits. With a fixed base anybody could
// write thousands of short names with one hash ("Aa" and "BB" under 31)
// and make a parse quadratic; the base is odd and chosen afresh for every
// parse instead. (Modulo 2^64 some strings still collide under every odd
// base: Thue-Morse words of 1,024 units and their complements. Names that
// long are few in any text, so the cost stays bounded, but not small: a
// crafted text of 16 Mi units takes about two seconds to parse.)
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

uint64_t HashOf(const char16_t* name, size_t length, uint64_t base) {
    NameHash hash;
    for (size_t i = 0; i < length; ++i) hash.Append(name[i], base);
    return hash.value;
}

bool StartsWith(const char16_t* text, size_t at, size_t length, const char16_t* pattern,
                size_t pattern_length) {
    return length - at >= pattern_length &&
           std::memcmp(text + at, pattern, pattern_length * sizeof(char16_t)) == 0;
}

// Whether the '<' at `at`, followed by a name, starts a comment or CDATA
// section instead of a tag.
bool StartsMarkup(const char16_t* text, size_t at, size_t length) {
    return text[at + 1] == u'!' &&
           (StartsWith(text, at, length, u"<!--", 4) || StartsWith(text, at, length, u"<![CDATA[", 9));
}

}  // namespace

void ForceHashBaseForTesting(uint64_t base) {
    g_forced_base.store(base, std::memory_order_relaxed);
}

// The slot of the name with this hash and length, or the free slot where it
// would go. The low bits of a polynomial hash are poor, so the slot comes
// from a mix of all of them.
size_t ClosingIndex::Slot(uint64_t hash, size_t length) const {
    uint64_t mixed = (hash ^ (hash >> 29) ^ (static_cast<uint64_t>(length) * 0x9E3779B97F4A7C15ull)) *
                     0xFF51AFD7ED558CCDull;
    size_t mask = table_.size() - 1;
    size_t slot = static_cast<size_t>(mixed >> 32) & mask;
    while (table_[slot].length != 0 && (table_[slot].hash != hash || table_[slot].length != length))
        slot = (slot + 1) & mask;
    return slot;
}

bool ClosingIndex::Grow() {
    PodArray<Entry> previous;
    previous.Swap(table_);
    if (!table_.AssignZeroed(previous.size() * 2)) return false;
    for (size_t i = 0; i < previous.size(); ++i)
        if (previous[i].length != 0) table_[Slot(previous[i].hash, previous[i].length)] = previous[i];
    return true;
}

ClosingIndex::BuildResult ClosingIndex::AddName(uint64_t hash, size_t length, size_t max_names) {
    if ((used_ + 1) * 2 > table_.size() && !Grow()) return BuildResult::kNoMemory;
    Entry& entry = table_[Slot(hash, length)];
    if (entry.length != 0) return BuildResult::kBuilt;
    if (used_ >= max_names) return BuildResult::kTooManyNames;
    entry = Entry{hash, static_cast<Position>(length), static_cast<Position>(used_++)};
    longest_ = std::max(longest_, length);
    return BuildResult::kBuilt;
}

// The names that are prefixes of the run after the "</" at closing.
bool ClosingIndex::AddHits(size_t closing, PodArray<Hit>& hits) {
    size_t run = closing + 2;
    size_t run_end = FindNameEnd(text_, run, std::min(length_, run + longest_));
    NameHash hash;
    for (size_t k = run; k < run_end; ++k) {
        hash.Append(text_[k], base_);
        const Entry& entry = table_[Slot(hash.value, k + 1 - run)];
        if (entry.length != 0 && !hits.Push(Hit{entry.id, static_cast<Position>(closing)}))
            return false;
    }
    return true;
}

// Every '<' up to the end of its name is taken as a possible start tag.
// Names can hold '<', so several names may end at the same place: one
// backward pass over such a stretch hashes them all, down to the first '<'
// that starts a name (a CDATA section of Japanese text runs long without a
// unit that ends a name). A "</" can only end a stretch (its '/' ends the
// names).
ClosingIndex::BuildResult ClosingIndex::Collect(size_t max_names, PodArray<Hit>& hits) {
    const char16_t* t = text_;
    const size_t n = length_;
    for (size_t i = FindUnit(t, 0, n, u'<'); i < n; i = FindUnit(t, i, n, u'<')) {
        size_t e = FindNameEnd(t, i + 1, n);
        auto starts_name = [&](size_t k) { return k + 1 < e && !StartsMarkup(t, k, n); };
        size_t first = i;
        while (first < e && !starts_name(first)) first = FindUnit(t, first + 1, e, u'<');
        NameHash hash;
        for (size_t k = e; k-- > first;) {
            if (t[k] == u'<' && starts_name(k)) {
                BuildResult result = AddName(hash.value, e - k - 1, max_names);
                if (result != BuildResult::kBuilt) return result;
            }
            hash.Prepend(t[k], base_);
        }
        if (t[e - 1] == u'<' && e < n && t[e] == u'/' && !AddHits(e - 1, hits))
            return BuildResult::kNoMemory;
        i = e;
    }
    return BuildResult::kBuilt;
}

// The hits by name (a counting sort, which keeps each name's ascending),
// and every name's cursor at the start of its group.
bool ClosingIndex::Group(const PodArray<Hit>& hits) {
    PodArray<Position> filled;  // per name: its hits placed so far
    if (!group_first_.AssignZeroed(used_ + 1) || !grouped_.AssignZeroed(hits.size()) ||
        !filled.AssignZeroed(used_) || !cursor_.AssignZeroed(used_))
        return false;
    for (size_t h = 0; h < hits.size(); ++h) ++group_first_[hits[h].id + 1];
    for (size_t id = 0; id < used_; ++id) group_first_[id + 1] += group_first_[id];
    for (size_t h = 0; h < hits.size(); ++h) {
        Position id = hits[h].id;
        grouped_[group_first_[id] + filled[id]++] = hits[h].position;
    }
    for (size_t id = 0; id < used_; ++id) cursor_[id] = group_first_[id];
    return true;
}

ClosingIndex::BuildResult ClosingIndex::Build(const char16_t* text, size_t length, size_t max_names) {
    text_ = text;
    length_ = length;
    base_ = FreshBase(this);
    used_ = 0;
    longest_ = 0;
    BuildResult result = BuildResult::kNoMemory;
    PodArray<Hit> hits;
    if (length <= kMaxIndexedLength && table_.AssignZeroed(64)) {
        result = Collect(max_names, hits);
        if (result == BuildResult::kBuilt && !Group(hits)) result = BuildResult::kNoMemory;
    }
    built_ = result == BuildResult::kBuilt;
    if (!built_) {
        table_.Release();
        group_first_.Release();
        grouped_.Release();
        cursor_.Release();
    }
    return result;
}

size_t ClosingIndex::FindPlain(const char16_t* name, size_t name_length, size_t from,
                               size_t end) const {
    const char16_t* t = text_;
    for (size_t q = from; q + 2 + name_length <= end; ++q)
        if (t[q] == u'<' && t[q + 1] == u'/' &&
            std::memcmp(t + q + 2, name, name_length * sizeof(char16_t)) == 0)
            return q;
    return kNotFound;
}

size_t ClosingIndex::Find(size_t, const char16_t* name, size_t name_length, size_t from,
                          size_t end) {
    if (!built_) return FindPlain(name, name_length, from, end);
    const Entry& entry = table_[Slot(HashOf(name, name_length, base_), name_length)];
    if (entry.length == 0) return FindPlain(name, name_length, from, end);
    // The name's cursor moves on to the first hit at or after from; asked
    // out of order, it starts again from the group's start.
    size_t first = group_first_[entry.id];
    size_t last = group_first_[entry.id + 1];
    Position& h = cursor_[entry.id];
    if (h > first && grouped_[h - 1] >= from) h = first;
    while (h < last && grouped_[h] < from) ++h;
    // Past the names with the same hash, if any.
    for (size_t k = h; k < last && grouped_[k] + 2 + name_length <= end; ++k)
        if (std::memcmp(text_ + grouped_[k] + 2, name, name_length * sizeof(char16_t)) == 0)
            return grouped_[k];
    return kNotFound;
}

}  // namespace xml_detail
}  // namespace feedlet
