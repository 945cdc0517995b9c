// ClosingIndex: where each tag's closing pattern "</" + name first occurs
// after the tag.
//
// A pattern occurs at q when the text after the "</" at q begins with the
// name, which is then a prefix of the run of name units there. So: hash the
// name after every '<' into a table of names; pass over every "</" and the
// prefixes of its run, keeping those that are names (hits); then go through
// the tags backwards, remembering for each name the nearest hit seen, which
// for each tag is its answer. Every pass reads each unit a bounded number of
// times (runs after "</" hold no '/', so they do not overlap), and the parse
// then needs no search at all.
#include "feed/xml_closing_index.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace feedlet {
namespace xml_detail {

namespace {

// Positions are 32-bit to halve the index's memory (and cache) footprint.
constexpr size_t kMaxIndexedLength = 0x7FFFFFFF;

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

inline uint64_t MixKey(uint64_t hash, size_t length) {
    return (hash ^ (hash >> 29) ^ (static_cast<uint64_t>(length) * 0x9E3779B97F4A7C15ull)) *
           0xFF51AFD7ED558CCDull;
}

// The number of set bits (without relying on a POPCNT instruction, which
// the 32-bit product is not built for).
inline size_t CountBits(uint64_t bits) {
    bits = bits - ((bits >> 1) & 0x5555555555555555ull);
    bits = (bits & 0x3333333333333333ull) + ((bits >> 2) & 0x3333333333333333ull);
    bits = (bits + (bits >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return static_cast<size_t>((bits * 0x0101010101010101ull) >> 56);
}

bool StartsWith(const char16_t* text, size_t at, size_t length, const char16_t* pattern,
                size_t pattern_length) {
    return length - at >= pattern_length &&
           std::memcmp(text + at, pattern, pattern_length * sizeof(char16_t)) == 0;
}

}  // namespace

void ForceHashBaseForTesting(uint64_t base) {
    g_forced_base.store(base, std::memory_order_relaxed);
}

uint64_t ClosingIndex::HashOf(const char16_t* name, size_t length) const {
    NameHash hash;
    for (size_t i = 0; i < length; ++i) hash.Append(name[i], base_);
    return hash.value;
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

ClosingIndex::BuildResult ClosingIndex::InsertNames(const Pending* batch, size_t count,
                                                    size_t max_names) {
    while ((used_ + count) * 2 > table_.size())
        if (!Grow()) return BuildResult::kNoMemory;
    Prefetch(batch, count);
    for (size_t i = 0; i < count; ++i) {
        Entry& entry = table_[Slot(batch[i].hash, batch[i].length)];
        if (entry.length == 0) {
            if (used_ >= max_names) return BuildResult::kTooManyNames;
            entry = Entry{batch[i].hash, batch[i].length, static_cast<Position>(used_++)};
            if (batch[i].length > longest_) longest_ = batch[i].length;
        }
        // Per name, not per entry: names with equal hashes share one.
        if (batch[i].length <= 64) short_lengths_[batch[i].first % 64] |= uint64_t{1} << (batch[i].length - 1);
        names_[batch[i].where] = entry.id;
        Memo& memo = name_memo_[MemoSlot(batch[i].first, batch[i].length)];
        memo.at = batch[i].at;
        memo.length = batch[i].length;
        memo.count = 1;
        memo.ids[0] = entry.id;
    }
    return BuildResult::kBuilt;
}

// Every '<' is taken as a possible start tag. Names can contain '<'
// ("<a<b>" is one tag named "a<b"), so several names may end at the same
// place: one backward pass over such a stretch hashes all of them. Names hold
// no '>', so one '>' ends the tags of the whole stretch.
ClosingIndex::BuildResult ClosingIndex::CollectNames(size_t max_names) {
    const char16_t* t = text_;
    const size_t n = length_;
    // Comments and CDATA sections are recognised before tags, and where one
    // is cut short by the end of an element's content no '>' follows it there.
    auto indexable = [t, n](size_t k, size_t name_end) {
        return k + 1 < name_end &&
               (t[k + 1] != u'!' || (!StartsWith(t, k, n, u"<!--", 4) && !StartsWith(t, k, n, u"<![CDATA[", 9)));
    };
    Pending batch[kBatch];
    size_t pending = 0;
    size_t gt = n;            // the first '>' at or after the last stretch's end
    bool gt_known = false;
    for (size_t i = FindUnit(t, 0, n, u'<'); i < n;) {
        bool inner = false;  // another '<' within the names
        size_t e = FindNameEnd(t, i + 1, n, &inner);  // where the names of this stretch end
        if (!gt_known || gt < e) {
            gt = FindUnit(t, e, n, u'>');
            gt_known = true;
        }
        if (gt < n && t[gt - 1] != u'/') {  // neither unfinished nor self-closing
            size_t count = 0;
            if (!inner) count = indexable(i, e) ? 1 : 0;
            else
                for (size_t k = i; k < e; k = FindUnit(t, k + 1, e, u'<'))
                    if (indexable(k, e)) ++count;
            size_t slot = answers_.size();
            if (count && (!answers_.Extend(count) || !names_.Extend(count))) return BuildResult::kNoMemory;
            const Memo& memo = name_memo_[MemoSlot(t[i + 1], e - i - 1)];
            if (!inner && count && Remembered(memo, t + i + 1, e - i - 1)) {
                indexed_[i / 64] |= uint64_t{1} << (i % 64);
                answers_[slot] = static_cast<Position>(gt);
                names_[slot] = memo.ids[0];
                count = 0;
            }
            slot += count;
            NameHash hash;
            for (size_t k = e; count && k-- > i;) {
                if (t[k] == u'<' && indexable(k, e)) {
                    --slot;
                    --count;
                    indexed_[k / 64] |= uint64_t{1} << (k % 64);
                    answers_[slot] = static_cast<Position>(gt);  // until AnswerTags
                    batch[pending++] = Pending{hash.value, static_cast<Position>(e - k - 1),
                                               static_cast<Position>(slot), t[k + 1], t + k + 1};
                    if (pending == kBatch) {
                        BuildResult result = InsertNames(batch, pending, max_names);
                        if (result != BuildResult::kBuilt) return result;
                        pending = 0;
                    }
                }
                hash.Prepend(t[k], base_);
            }
        }
        // A "</" can only end a stretch (its '/' ends the names).
        if (t[e - 1] == u'<' && e < n && t[e] == u'/' && !closings_.Push(static_cast<Position>(e - 1)))
            return BuildResult::kNoMemory;
        i = FindUnit(t, e, n, u'<');
    }
    return InsertNames(batch, pending, max_names);
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

bool ClosingIndex::RecordHits(const Pending* batch, size_t count) {
    Prefetch(batch, count);
    for (size_t i = 0; i < count; ++i) {
        const Entry& entry = table_[Slot(batch[i].hash, batch[i].length)];
        if (entry.length != 0 && !hits_.Push(Hit{entry.id, batch[i].where})) return false;
    }
    return true;
}

bool ClosingIndex::CollectClosings() {
    const char16_t* t = text_;
    const size_t n = length_;
    Pending batch[kBatch];
    size_t pending = 0;
    for (size_t i = 0; i < closings_.size(); ++i) {
        size_t q = closings_[i];
        if (q + 2 >= n) continue;
        // Only prefixes as long as a name beginning with the same unit can
        // be one.
        uint64_t lengths = short_lengths_[t[q + 2] % 64];
        size_t run_end = q + 2 + longest_ < n ? q + 2 + longest_ : n;
        size_t run = FindNameEnd(t, q + 2, run_end) - (q + 2);
        NameHash hash;
        for (size_t k = 1; k <= run; ++k) {
            hash.Append(t[q + 1 + k], base_);
            if (k <= 64 ? !((lengths >> (k - 1)) & 1) : !has_length_[k]) continue;
            size_t bit = FilterBit(hash.value, k);
            if (!(filter_[bit / 64] & (uint64_t{1} << (bit % 64)))) continue;
            batch[pending++] = Pending{hash.value, static_cast<Position>(k), static_cast<Position>(q), 0, nullptr};
            if (pending == kBatch) {
                if (!RecordHits(batch, pending)) return false;
                pending = 0;
            }
        }
    }
    return RecordHits(batch, pending);
}

// The same for a table that stays in the caches: each run's prefixes are
// looked up at once, and a run seen before is answered by its memo.
bool ClosingIndex::CollectClosingsDirectly() {
    const char16_t* t = text_;
    const size_t n = length_;
    for (size_t i = 0; i < closings_.size(); ++i) {
        size_t q = closings_[i];
        if (q + 2 >= n) continue;
        size_t run_end = q + 2 + longest_ < n ? q + 2 + longest_ : n;
        size_t run = FindNameEnd(t, q + 2, run_end) - (q + 2);
        if (run == 0) continue;
        Memo& memo = closing_memo_[MemoSlot(t[q + 2], run)];
        if (Remembered(memo, t + q + 2, run)) {
            for (Position k = 0; k < memo.count; ++k)
                if (!hits_.Push(Hit{memo.ids[k], static_cast<Position>(q)})) return false;
            continue;
        }
        uint64_t lengths = short_lengths_[t[q + 2] % 64];
        Position found[2];
        size_t hits = 0;
        NameHash hash;
        for (size_t k = 1; k <= run; ++k) {
            hash.Append(t[q + 1 + k], base_);
            if (k <= 64 ? !((lengths >> (k - 1)) & 1) : !has_length_[k]) continue;
            size_t bit = FilterBit(hash.value, k);
            if (!(filter_[bit / 64] & (uint64_t{1} << (bit % 64)))) continue;
            const Entry& entry = table_[Slot(hash.value, k)];
            if (entry.length == 0) continue;
            if (!hits_.Push(Hit{entry.id, static_cast<Position>(q)})) return false;
            if (hits < 2) found[hits] = entry.id;
            ++hits;
        }
        if (hits <= 2) {
            memo.at = t + q + 2;
            memo.length = static_cast<Position>(run);
            memo.count = static_cast<Position>(hits);
            for (size_t k = 0; k < hits; ++k) memo.ids[k] = found[k];
        }
    }
    return true;
}

// A tag's answer is the first hit of its name after the tag's '>' (a "</"
// inside the tag itself does not count). Going backwards, "the nearest hit
// of each name so far" is one number per name, and the tags' '>' never move
// forward.
bool ClosingIndex::AnswerTags() {
    PodArray<Position> nearest;
    if (!nearest.AssignFilled(used_, kNoPosition)) return false;
    size_t h = hits_.size();
    for (size_t o = answers_.size(); o-- > 0;) {
        Position tag_end = answers_[o];
        while (h > 0 && hits_[h - 1].position > tag_end) {
            --h;
            nearest[hits_[h].id] = hits_[h].position;
        }
        answers_[o] = nearest[names_[o]];
    }
    return true;
}

// Each name's hits in one group, for the rare tag whose first candidate is
// another name with the same hash.
bool ClosingIndex::GroupHits() {
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

ClosingIndex::BuildResult ClosingIndex::Build(const char16_t* text, size_t length, size_t max_names) {
    text_ = text;
    length_ = length;
    base_ = FreshBase(this);
    built_ = false;
    used_ = 0;
    longest_ = 0;
    for (uint64_t& lengths : short_lengths_) lengths = 0;
    for (Memo& memo : name_memo_) memo = Memo();
    for (Memo& memo : closing_memo_) memo = Memo();
    rank_position_ = 0;
    rank_count_ = 0;
    answers_.Release();
    names_.Release();
    closings_.Release();
    hits_.Release();
    BuildResult result = BuildResult::kNoMemory;
    if (length <= kMaxIndexedLength && indexed_.AssignZeroed(length / 64 + 1) &&
        table_.AssignZeroed(64)) {
        result = CollectNames(max_names);
        if (result == BuildResult::kBuilt &&
            !(BuildFilter() && (used_ <= kDirectNames ? CollectClosingsDirectly() : CollectClosings()) &&
              AnswerTags() && GroupHits()))
            result = BuildResult::kNoMemory;
    }
    names_.Release();
    closings_.Release();
    hits_.Release();
    has_length_.Release();
    filter_.Release();
    built_ = result == BuildResult::kBuilt;
    if (!built_) {
        indexed_.Release();
        answers_.Release();
        table_.Release();
        group_first_.Release();
        grouped_.Release();
    }
    return result;
}

bool ClosingIndex::IsIndexed(size_t position) const {
    return (indexed_[position / 64] >> (position % 64)) & 1;
}

// The number of indexed '<' before position, counted on from the last
// answer when the parse moves forward.
size_t ClosingIndex::Rank(size_t position) {
    if (position < rank_position_) {
        rank_position_ = 0;
        rank_count_ = 0;
    }
    size_t at = rank_position_;
    while (at < position) {
        size_t bit = at % 64;
        size_t take = std::min<size_t>(64 - bit, position - at);
        uint64_t bits = indexed_[at / 64] >> bit;
        if (take < 64) bits &= (uint64_t{1} << take) - 1;
        if (bits) rank_count_ += CountBits(bits);
        at += take;
    }
    rank_position_ = position;
    return rank_count_;
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

size_t ClosingIndex::Find(size_t opening, const char16_t* name, size_t name_length, size_t from,
                          size_t end) {
    if (!built_ || opening >= length_ || !IsIndexed(opening))
        return FindPlain(name, name_length, from, end);
    size_t q = answers_[Rank(opening)];
    if (q == kNoPosition || q + 2 + name_length > end) return kNotFound;
    if (q >= from && std::memcmp(text_ + q + 2, name, name_length * sizeof(char16_t)) == 0) return q;
    // Another name with the same hash: the rest of their common group.
    const Entry& entry = table_[Slot(HashOf(name, name_length), name_length)];
    if (entry.length == 0) return FindPlain(name, name_length, from, end);  // not a name of the text
    const Position* first = grouped_.begin() + group_first_[entry.id];
    const Position* last = grouped_.begin() + group_first_[entry.id + 1];
    for (const Position* p = std::lower_bound(first, last, static_cast<Position>(from)); p != last; ++p) {
        q = *p;
        if (q + 2 + name_length > end) return kNotFound;
        if (std::memcmp(text_ + q + 2, name, name_length * sizeof(char16_t)) == 0) return q;
    }
    return kNotFound;
}

}  // namespace xml_detail
}  // namespace feedlet
