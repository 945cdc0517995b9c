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
//  - Closing tags are looked up in an index built in one pass before parsing
//    (ClosingIndex): for every name that follows some '<', the sorted
//    positions of the "</" whose following text begins with that name.
//  - Open elements live on an explicit stack of at most kXmlMaxDepth + 1
//    frames; a tag that would open a deeper element is a malformed construct.
//
// Every other scan (text runs, tags, CDATA, comments) moves the cursor past
// what it read, or ends the element whose range it searched, so each unit is
// read a bounded number of times.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/text_field.h"
#include "feed/xml_internal.h"
#include "feed/xml_node.h"

namespace feedlet {
namespace xml_detail {

namespace {

constexpr size_t kNone = SIZE_MAX;

// A tag's name runs up to the first of these; so does the text that a closing
// pattern "</name" has to begin with.
inline bool IsNameEnd(char16_t c) {
    return c == u'>' || c == u'/' || IsXmlSpace(c);
}

// A growable array of plain values that reports allocation failure instead
// of throwing.
template <typename T>
class PodArray {
public:
    PodArray() = default;
    ~PodArray() { std::free(data_); }
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
        T* grown = static_cast<T*>(std::realloc(data_, capacity * sizeof(T)));
        if (!grown) return false;
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

// Two polynomial hashes modulo the Mersenne prime 2^31 - 1, in 32-bit
// arithmetic with 64-bit products so that the 32-bit build needs no 128-bit
// multiply. A hash is sum(unit[k] * base^k): it can be extended at the end
// (closing tags, names looked up) and at the front (the backward pass over
// names that share their end).
constexpr uint32_t kPrime = 0x7FFFFFFFu;
constexpr uint32_t kBase1 = 0x2545F491u;
constexpr uint32_t kBase2 = 0x5BD1E995u & kPrime;

inline uint32_t Reduce(uint64_t x) {
    x = (x & kPrime) + (x >> 31);
    x = (x & kPrime) + (x >> 31);
    return static_cast<uint32_t>(x >= kPrime ? x - kPrime : x);
}

struct NameHash {
    uint32_t h1 = 0, h2 = 0;
    uint32_t p1 = 1, p2 = 1;  // base powers for the next unit at the end

    uint64_t Key() const { return (static_cast<uint64_t>(h1) << 32) | h2; }
    void Append(char16_t c) {
        h1 = Reduce(h1 + static_cast<uint64_t>(c) * p1);
        h2 = Reduce(h2 + static_cast<uint64_t>(c) * p2);
        p1 = Reduce(static_cast<uint64_t>(p1) * kBase1);
        p2 = Reduce(static_cast<uint64_t>(p2) * kBase2);
    }
    // Only for hashes that are never appended to afterwards.
    void Prepend(char16_t c) {
        h1 = Reduce(c + static_cast<uint64_t>(h1) * kBase1);
        h2 = Reduce(c + static_cast<uint64_t>(h2) * kBase2);
    }
};

// Where the closing pattern "</" + name occurs, for every name that follows
// some '<' in the text. A pattern occurs at q when the text after the "</" at
// q begins with the name, which is then a prefix of the run of name units
// there; so one pass over every "</" and the prefixes of its run, keeping those
// that are names, finds every occurrence. Both passes read each unit a bounded
// number of times (runs after "</" hold no '/', so they do not overlap).
class ClosingIndex {
public:
    // False when memory ran out; Find then searches the text directly.
    bool Build(const char16_t* text, size_t length);
    // The first q >= from with "</" + name at q and ending by end, or kNone.
    // name[0, name_length) must be a tag name read from the same text.
    size_t Find(const char16_t* name, size_t name_length, size_t from, size_t end) const;

private:
    struct Entry {
        uint64_t key;
        size_t length;  // 0: the slot is free (names are never empty)
        size_t count;   // closing positions of this name
        size_t first;   // index of the first one in positions_
    };
    struct Hit {
        size_t entry;
        size_t position;
    };

    size_t Slot(uint64_t key, size_t length) const;
    bool Insert(uint64_t key, size_t length);
    bool Grow();
    bool CollectNames();
    bool CollectClosings();
    size_t FindPlain(const char16_t* name, size_t name_length, size_t from, size_t end) const;

    const char16_t* text_ = nullptr;
    size_t length_ = 0;
    bool built_ = false;
    PodArray<Entry> table_;  // open addressing; size a power of two
    size_t used_ = 0;
    size_t longest_ = 0;             // longest name
    PodArray<uint8_t> has_length_;   // [n] != 0: some name is n units long
    PodArray<size_t> positions_;     // grouped by entry, ascending within
};

inline size_t HashSlot(uint64_t key, size_t length, size_t mask) {
    uint64_t mixed = (key ^ (static_cast<uint64_t>(length) * 0x9E3779B97F4A7C15ull)) *
                     0xFF51AFD7ED558CCDull;
    return static_cast<size_t>(mixed >> 40) & mask;
}

size_t ClosingIndex::Slot(uint64_t key, size_t length) const {
    size_t mask = table_.size() - 1;
    size_t slot = HashSlot(key, length, mask);
    while (table_[slot].length != 0 &&
           (table_[slot].key != key || table_[slot].length != length))
        slot = (slot + 1) & mask;
    return slot;
}

bool ClosingIndex::Grow() {
    PodArray<Entry> previous;
    previous.Swap(table_);
    if (!table_.AssignZeroed(previous.size() ? previous.size() * 2 : 64)) return false;
    for (size_t i = 0; i < previous.size(); ++i)
        if (previous[i].length != 0) table_[Slot(previous[i].key, previous[i].length)] = previous[i];
    return true;
}

bool ClosingIndex::Insert(uint64_t key, size_t length) {
    if ((used_ + 1) * 2 > table_.size() && !Grow()) return false;
    size_t slot = Slot(key, length);
    if (table_[slot].length != 0) return true;
    table_[slot] = Entry{key, length, 0, 0};
    ++used_;
    if (length > longest_) longest_ = length;
    return true;
}

// Every '<' is taken as a possible start tag. Names can contain '<'
// ("<a<b>" is one tag named "a<b"), so several names may end at the same
// place: one backward pass over such a stretch hashes all of them.
bool ClosingIndex::CollectNames() {
    const char16_t* t = text_;
    size_t i = 0;
    while (i < length_) {
        if (t[i] != u'<') {
            ++i;
            continue;
        }
        size_t end = i + 1;
        while (end < length_ && !IsNameEnd(t[end])) ++end;
        NameHash hash;
        for (size_t k = end; k-- > i;) {
            if (t[k] == u'<' && k + 1 < end && !Insert(hash.Key(), end - k - 1)) return false;
            hash.Prepend(t[k]);
        }
        i = end;
    }
    if (!has_length_.AssignZeroed(longest_ + 1)) return false;
    for (size_t s = 0; s < table_.size(); ++s)
        if (table_[s].length != 0) has_length_[table_[s].length] = 1;
    return true;
}

bool ClosingIndex::CollectClosings() {
    const char16_t* t = text_;
    PodArray<Hit> hits;
    for (size_t q = 0; q + 1 < length_; ++q) {
        if (t[q] != u'<' || t[q + 1] != u'/') continue;
        NameHash hash;
        for (size_t n = 1; n <= longest_ && q + 1 + n < length_; ++n) {
            char16_t c = t[q + 1 + n];
            if (IsNameEnd(c)) break;
            hash.Append(c);
            if (!has_length_[n]) continue;
            size_t slot = Slot(hash.Key(), n);
            if (table_[slot].length == 0) continue;
            if (!hits.Push(Hit{slot, q})) return false;
            ++table_[slot].count;
        }
    }
    size_t next = 0;
    for (size_t s = 0; s < table_.size(); ++s) {
        table_[s].first = next;
        next += table_[s].count;
        table_[s].count = 0;
    }
    if (!positions_.AssignZeroed(next)) return false;
    // Hits come in ascending position, so each name's group ends up sorted.
    for (size_t h = 0; h < hits.size(); ++h) {
        Entry& entry = table_[hits[h].entry];
        positions_[entry.first + entry.count++] = hits[h].position;
    }
    return true;
}

bool ClosingIndex::Build(const char16_t* text, size_t length) {
    text_ = text;
    length_ = length;
    built_ = table_.AssignZeroed(64) && CollectNames() && CollectClosings();
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

size_t ClosingIndex::Find(const char16_t* name, size_t name_length, size_t from,
                          size_t end) const {
    if (!built_) return FindPlain(name, name_length, from, end);
    if (name_length > longest_) return kNone;
    NameHash hash;
    for (size_t i = 0; i < name_length; ++i) hash.Append(name[i]);
    size_t slot = Slot(hash.Key(), name_length);
    const Entry& entry = table_[slot];
    if (entry.length == 0) return FindPlain(name, name_length, from, end);  // not read from this text
    const size_t* first = positions_.begin() + entry.first;
    const size_t* last = first + entry.count;
    // Equal hashes of different names share a group: check the text.
    for (const size_t* p = std::lower_bound(first, last, from); p != last; ++p) {
        size_t q = *p;
        if (q + 2 + name_length > end) return kNone;
        if (std::memcmp(text_ + q + 2, name, name_length * sizeof(char16_t)) == 0) return q;
    }
    return kNone;
}

// One open element: the node, where its content ends and how far it is read.
struct Frame {
    XmlNode* node;
    size_t cursor;
    size_t end;
};

enum class StepResult { kEnd, kFault, kOpen };

class ContentParser {
public:
    ContentParser(const char16_t* text, size_t length) : text_(text), length_(length) {}
    ~ContentParser() { std::free(scratch_); }
    ContentParser(const ContentParser&) = delete;
    ContentParser& operator=(const ContentParser&) = delete;

    bool Run(XmlNode* element);

private:
    StepResult ReadContent(Frame& frame, int32_t depth, Frame* opened);
    bool Matches(size_t at, size_t end, const char16_t* pattern, size_t length) const;
    size_t Search(size_t from, size_t end, const char16_t* pattern) const;
    static bool AppendChild(XmlNode* parent, XmlNode* child);
    bool AppendText(XmlNode* parent, const char16_t* text, size_t length);
    bool AppendTextRun(XmlNode* parent, size_t begin, size_t end);
    XmlNode* NewElement(size_t name, size_t name_length, size_t tag_end);

    const char16_t* text_;
    size_t length_;
    ClosingIndex closings_;
    char16_t* scratch_ = nullptr;  // decoded text runs
    size_t scratch_size_ = 0;
};

bool ContentParser::Matches(size_t at, size_t end, const char16_t* pattern,
                            size_t length) const {
    if (end - at < length) return false;
    return std::memcmp(text_ + at, pattern, length * sizeof(char16_t)) == 0;
}

// First position of a three-unit pattern in [from, end), or kNone.
size_t ContentParser::Search(size_t from, size_t end, const char16_t* pattern) const {
    const char16_t* t = text_;
    for (size_t i = from; i + 3 <= end; ++i)
        if (t[i] == pattern[0] && t[i + 1] == pattern[1] && t[i + 2] == pattern[2]) return i;
    return kNone;
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
        return false;
    }
    return true;
}

bool ContentParser::AppendText(XmlNode* parent, const char16_t* text, size_t length) {
    XmlNode* node = new (std::nothrow) XmlNode;
    if (!node) return false;
    node->text = Utf16Duplicate(text, length);
    if (!node->text) {
        delete node;
        return false;
    }
    return AppendChild(parent, node);
}

// Decoded and trimmed; white space between tags gives no node and costs no
// allocation.
bool ContentParser::AppendTextRun(XmlNode* parent, size_t begin, size_t end) {
    size_t length = end - begin;
    if (length == 0) return true;
    if (length > scratch_size_) {
        std::free(scratch_);
        scratch_size_ = 0;
        scratch_ = static_cast<char16_t*>(std::malloc(length * sizeof(char16_t)));
        if (!scratch_) return false;
        scratch_size_ = length;
    }
    const char16_t* first = scratch_;
    const char16_t* last = scratch_ + DecodeRun(text_ + begin, length, scratch_);
    TrimRange(&first, &last);
    if (first == last) return true;
    return AppendText(parent, first, static_cast<size_t>(last - first));
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
            size_t stop = begin;
            while (stop < end && t[stop] != u'<') ++stop;
            if (!AppendTextRun(frame.node, begin, stop)) return StepResult::kFault;
            c = stop;
            continue;
        }
        if (Matches(c, end, u"<![CDATA[", 9)) {
            size_t close = Search(c + 9, end, u"]]>");
            if (close == kNone) return StepResult::kFault;
            if (close > c + 9 && !AppendText(frame.node, t + c + 9, close - c - 9))
                return StepResult::kFault;
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
        size_t tag_end = c + 1;
        while (tag_end < end && t[tag_end] != u'>') ++tag_end;
        if (tag_end >= end || tag_end == c + 1) return StepResult::kFault;
        size_t name = c + 1;
        size_t name_end = name;
        while (name_end < tag_end && t[name_end] != u'/' && !IsXmlSpace(t[name_end])) ++name_end;
        // An empty name: a stray closing tag, or "< x>".
        if (name_end == name) return StepResult::kFault;
        size_t name_length = name_end - name;
        XmlNode* child = NewElement(name, name_length, tag_end);
        if (!child || !AppendChild(frame.node, child)) return StepResult::kFault;
        if (t[tag_end - 1] == u'/') {  // self-closing
            c = tag_end;
            continue;
        }
        size_t closing = closings_.Find(t + name, name_length, tag_end + 1, end);
        if (closing == kNone) {
            // Unclosed: empty, and what would have been its content is read
            // as its following siblings.
            c = tag_end;
            continue;
        }
        // "</a>" or "</a " closes a; "</ab" leaves a without content. Either
        // way the unit after the pattern is consumed too.
        size_t after = closing + 2 + name_length;
        bool closes = after < end && (t[after] == u'>' || IsXmlSpace(t[after]));
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
    // Without its index (no memory) the closing tags are found by direct
    // search: slower on hostile input, but the tree is the same.
    (void)closings_.Build(text_, length_);
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

bool ParseContent(XmlNode* element, const char16_t* content, size_t length) {
    ContentParser parser(content, length);
    return parser.Run(element);
}

}  // namespace xml_detail
}  // namespace feedlet
