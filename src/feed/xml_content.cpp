// The content parse: turns an element's content into child nodes.
//
// The reading rules are those of a simple recursive reader that copies each
// element's content and finds its closing tag by plain substring search, with
// no regard to nesting. Done literally that costs time quadratic in the input
// on hostile documents (every unclosed tag rescans the rest of the text, every
// level copies its content again), recursion as deep as the nesting, and a
// heap block for every name and text. So:
//
//  - All levels share one text, parsed in place: an element's content is a
//    range of it, ending where the element's closing tag begins; names and
//    texts are pieces of it, ended by terminators written over the unit
//    that follows them, and references are decoded where they stand.
//  - Closing tags are found before the parse starts (ClosingIndex).
//  - Open elements live on an explicit stack of at most kXmlMaxDepth + 1
//    frames; a tag that would open a deeper element is a malformed construct.
//  - Nodes, attributes and lists come from the tree's arena.
//
// Writing into the text is safe because the parse moves through it in
// document order: an element's content is read right after its start tag
// (its parent resumes after the closing tag), so everything the parse
// writes lies behind the cursor, or on the '<' of a closing tag already
// consumed, while the closing-tag lookups only read what lies ahead. The one
// unit written ahead is the '<' right after a text run, which ends that
// text: the parse knows it is a '<' and does not read it again.
//
// Every other scan (text runs, tags, CDATA, comments) moves the cursor past
// what it read, or ends the element whose range it searched, so each unit is
// read a bounded number of times.
#include <cstdint>
#include <cstring>
#include <new>

#include "core/item_list.h"
#include "feed/xml_arena.h"
#include "feed/xml_closing_index.h"
#include "feed/xml_internal.h"
#include "feed/xml_node.h"

namespace feedlet {
namespace xml_detail {

// The records of a tree, each carved from the arena in one piece with the
// list link that holds it.
struct NodeSlot {
    ItemNode link;
    XmlNode node;
};
struct AttributeSlot {
    ItemNode link;
    XmlAttribute attribute;
};

void NodeAccess::SetArena(XmlNode& node, XmlArena* arena) {
    node.arena_ = arena;
}

namespace {

// Links the attributes of [begin, end) into *list (made with the first one),
// in place, with records from arena; allow() is asked before each. False
// when allow refused or memory ran out (*out_of_memory set).
template <typename Allow>
bool LinkAttributes(char16_t* begin, char16_t* end, XmlArena& arena, ItemList** list, Allow&& allow,
                    bool* out_of_memory) {
    return ScanAttributes(begin, end, [&](char16_t* name, size_t name_length, char16_t* value,
                                          size_t value_length) {
        if (!allow()) return false;
        AttributeSlot* slot = arena.New<AttributeSlot>();
        if (!slot || (!*list && !(*list = arena.New<ItemList>()))) {
            *out_of_memory = true;
            return false;
        }
        name[name_length] = 0;
        slot->attribute.name = name;
        if (value) {
            value[value_length] = 0;
            slot->attribute.value = value;
        }
        slot->link.item = &slot->attribute;
        (*list)->Link(&slot->link);
        return true;
    });
}

// One open element: the node, where its content ends and how far it is read.
struct Frame {
    XmlNode* node;
    size_t cursor;
    size_t end;
};

enum class Step {
    kEnd,    // the content is read
    kFault,  // a malformed construct or lack of memory cut it short
    kOpen,   // a child element with content is to be read first
    kAbort,  // over the bound of entries: the parse ends
};

class ContentParser {
public:
    ContentParser(char16_t* text, size_t length, XmlArena& arena, const ContentLimits& limits)
        : text_(text), length_(length), arena_(arena), limits_(limits) {}
    ContentParser(const ContentParser&) = delete;
    ContentParser& operator=(const ContentParser&) = delete;

    ContentOutcome Run(XmlNode* element);

private:
    Step ReadContent(Frame& frame, int32_t depth, Frame* opened);
    bool Matches(size_t at, size_t end, const char16_t* pattern, size_t length) const;
    size_t Search(size_t from, size_t end, const char16_t* pattern) const;
    Step Failed() const { return too_large_ ? Step::kAbort : Step::kFault; }
    bool CountEntry();
    ItemList* NewList();
    XmlNode* AddChild(XmlNode* parent);
    Step AddTextRun(XmlNode* parent, size_t begin, size_t end);
    XmlNode* AddElement(XmlNode* parent, size_t opening, size_t name_end, size_t tag_end);
    bool AddAttributes(XmlNode* element, char16_t* first, char16_t* last);

    char16_t* const text_;
    const size_t length_;
    XmlArena& arena_;
    const ContentLimits limits_;
    size_t entries_ = 0;
    bool out_of_memory_ = false;
    bool too_large_ = false;
    ClosingIndex closings_;
};

bool ContentParser::Matches(size_t at, size_t end, const char16_t* pattern, size_t length) const {
    if (end - at < length) return false;
    return std::memcmp(text_ + at, pattern, length * sizeof(char16_t)) == 0;
}

// First position of a three-unit pattern in [from, end), or kNotFound.
size_t ContentParser::Search(size_t from, size_t end, const char16_t* pattern) const {
    const char16_t* t = text_;
    if (end < from || end - from < 3) return kNotFound;
    for (size_t i = from;; ++i) {
        i = FindUnit(t, i, end - 2, pattern[0]);
        if (i >= end - 2) return kNotFound;
        if (t[i + 1] == pattern[1] && t[i + 2] == pattern[2]) return i;
    }
}

bool ContentParser::CountEntry() {
    if (entries_ >= limits_.max_entries) {
        too_large_ = true;
        return false;
    }
    ++entries_;
    return true;
}

ItemList* ContentParser::NewList() {
    ItemList* list = arena_.New<ItemList>();  // no release callback: the arena owns the items
    if (!list) out_of_memory_ = true;
    return list;
}

// A new empty node (a text node until given a name) as parent's last child.
XmlNode* ContentParser::AddChild(XmlNode* parent) {
    if (!CountEntry()) return nullptr;
    NodeSlot* slot = arena_.New<NodeSlot>();
    if (!slot) {
        out_of_memory_ = true;
        return nullptr;
    }
    // The list is made with its first child, so that an empty list is never
    // kept.
    if (!parent->children && !(parent->children = NewList())) return nullptr;
    NodeAccess::SetArena(slot->node, &arena_);
    slot->link.item = &slot->node;
    parent->children->Link(&slot->link);
    return &slot->node;
}

// Decoded and trimmed in place. White space at the ends of the raw run can
// only decode to white space or nothing, and cannot be part of a reference,
// so it is dropped first: runs between tags then cost nothing at all.
Step ContentParser::AddTextRun(XmlNode* parent, size_t begin, size_t end) {
    char16_t* first = text_ + begin;
    char16_t* last = text_ + end;
    TrimRange(&first, &last);
    if (first == last) return Step::kEnd;
    char16_t* kept = first;
    char16_t* kept_end = first + DecodeRun(first, static_cast<size_t>(last - first));
    TrimRange(&kept, &kept_end);  // references may have made white space
    if (kept == kept_end) return Step::kEnd;
    XmlNode* node = AddChild(parent);
    if (!node) return Failed();
    *kept_end = 0;  // at most the '<' after the run
    node->text = kept;
    return Step::kEnd;
}

// The attributes of [first, last), a tag's trimmed attribute text.
bool ContentParser::AddAttributes(XmlNode* element, char16_t* first, char16_t* last) {
    ItemList* list = nullptr;
    LinkAttributes(first, last, arena_, &list, [this] { return CountEntry(); }, &out_of_memory_);
    element->attributes = list;
    return !too_large_;  // out of memory, the attributes read so far stay
}

// The element of the tag whose '<' is at opening, whose name ends at
// name_end and whose '>' is at tag_end, with its attributes, as parent's
// last child.
XmlNode* ContentParser::AddElement(XmlNode* parent, size_t opening, size_t name_end, size_t tag_end) {
    XmlNode* element = AddChild(parent);
    if (!element) return nullptr;
    // The attribute text loses spaces and '/' at both ends (so that "<a />"
    // and "<a/>" read alike), then any other white space. The unit that ends
    // the name is always among what goes, so it can take the name's
    // terminator once the text is found.
    char16_t* first = text_ + name_end;
    char16_t* last = text_ + tag_end;
    while (first < last && (*first == u' ' || *first == u'/')) ++first;
    while (last > first && (last[-1] == u' ' || last[-1] == u'/')) --last;
    TrimRange(&first, &last);
    element->name = text_ + opening + 1;
    text_[name_end] = 0;
    if (first < last && !AddAttributes(element, first, last)) return nullptr;
    return element;
}

// Reads the frame's content from its cursor until the content ends
// (kEnd), a malformed construct stops it (kFault), or a child element with
// content has to be read first (kOpen, the child's frame in *opened; the
// cursor is then already past the child's closing tag).
Step ContentParser::ReadContent(Frame& frame, int32_t depth, Frame* opened) {
    char16_t* const t = text_;
    const size_t end = frame.end;
    size_t c = frame.cursor;
    // c follows the '>' that ended a tag, CDATA section or comment, which
    // has been passed over already (it may hold a terminator now).
    bool after_markup = false;
    while (c < end) {
        if (after_markup || t[c] != u'<') {
            // A text run. A '>' at its start ends the markup before it and
            // is passed over.
            size_t begin = !after_markup && t[c] == u'>' ? c + 1 : c;
            after_markup = false;
            size_t stop = FindUnit(t, begin, end, u'<');
            Step step = AddTextRun(frame.node, begin, stop);
            if (step != Step::kEnd) return step;
            c = stop;
            if (c == end) break;
        }
        // Markup at c, whose '<' is not read again: the text before may have
        // put its terminator there.
        const bool bang = c + 1 < end && t[c + 1] == u'!';
        if (bang && Matches(c + 2, end, u"[CDATA[", 7)) {
            size_t close = Search(c + 9, end, u"]]>");
            if (close == kNotFound) return Step::kFault;
            if (close > c + 9) {
                XmlNode* node = AddChild(frame.node);
                if (!node) return Failed();
                t[close] = 0;
                node->text = t + c + 9;  // exactly as written
            }
            c = close + 3;
            after_markup = true;
            continue;
        }
        if (bang && Matches(c + 2, end, u"--", 2)) {
            // Searched from the '!' itself, so "<!-->" is a whole comment.
            size_t close = Search(c + 2, end, u"-->");
            if (close == kNotFound) return Step::kFault;
            c = close + 3;
            after_markup = true;
            continue;
        }
        // Any other '<' starts a tag, "<!DOCTYPE" and "<?pi" included. One
        // that would open an element deeper than the bound is malformed.
        if (depth >= kXmlMaxDepth) return Step::kFault;
        size_t tag_end = FindUnit(t, c + 1, end, u'>');
        if (tag_end >= end || tag_end == c + 1) return Step::kFault;
        size_t name = c + 1;
        size_t name_end = FindNameEnd(t, name, tag_end);  // the '>' ends it at the latest
        // An empty name: a stray closing tag, or "< x>".
        if (name_end == name) return Step::kFault;
        size_t name_length = name_end - name;
        bool self_closing = t[tag_end - 1] == u'/';
        // Looked up while the name is still unterminated: the index is asked
        // in document order, and reads only what follows the tag.
        size_t closing =
            self_closing ? kNotFound : closings_.Find(c, t + name, name_length, tag_end + 1, end);
        XmlNode* child = AddElement(frame.node, c, name_end, tag_end);
        if (!child) return Failed();
        if (closing == kNotFound) {
            // Self-closing, or unclosed: empty, and what would have been the
            // content of an unclosed one is read as its following siblings.
            c = tag_end + 1;
            after_markup = true;
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
            return Step::kOpen;
        }
    }
    frame.cursor = c;
    return Step::kEnd;
}

ContentOutcome ContentParser::Run(XmlNode* element) {
    // Without the index (no memory for it) closing tags are found by direct
    // search: slower on hostile input, the same tree.
    ClosingIndex::BuildResult index = closings_.Build(text_, length_, limits_.max_names);
    if (index != ClosingIndex::BuildResult::kBuilt && limits_.require_index)
        return ContentOutcome{ContentResult::kTooLarge, index == ClosingIndex::BuildResult::kNoMemory};
    Frame stack[kXmlMaxDepth + 1];
    int32_t top = 0;
    stack[0] = Frame{element, 0, length_};
    bool ok = true;
    while (top >= 0) {
        Frame opened;
        switch (ReadContent(stack[top], top, &opened)) {
        case Step::kOpen:
            stack[++top] = opened;
            break;
        case Step::kFault:
            // Cuts short this element only; its parent goes on after the
            // closing tag located before this content was read.
            if (top == 0) ok = false;
            --top;
            break;
        case Step::kEnd:
            --top;
            break;
        case Step::kAbort:
            return ContentOutcome{ContentResult::kTooLarge, out_of_memory_};
        }
    }
    return ContentOutcome{ok ? ContentResult::kParsed : ContentResult::kFault, out_of_memory_};
}

}  // namespace

ItemList* ArenaAttributes(char16_t* begin, char16_t* end, XmlArena& arena) {
    ItemList* list = nullptr;
    bool out_of_memory = false;
    LinkAttributes(begin, end, arena, &list, [] { return true; }, &out_of_memory);
    return list;
}

ContentOutcome ParseContent(XmlNode* element, char16_t* text, size_t length, XmlArena& arena,
                            const ContentLimits& limits) {
    ContentParser parser(text, length, arena, limits);
    return parser.Run(element);
}

}  // namespace xml_detail
}  // namespace feedlet
