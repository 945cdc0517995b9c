// The feed reader's own XML parser: a small, lenient, non-validating reader
// that turns a decoded UTF-16 document into a tree of XmlNode records
// (elements with their attributes, and text nodes), and the serializer that
// turns an element's content back into one text.
//
// It knows nothing of namespaces (a prefix such as "dc:" is part of the
// name), document type declarations or validation, and never reports an
// error: a malformed construct cuts short the content of the element in
// which it stands and the rest of the document is still read.
//
// Unlike a naive reader it runs in time linear in its input on hostile
// documents (unclosed tags, deep nesting, huge attribute texts) and never
// recurses: nesting deeper than kXmlMaxDepth elements is cut short like a
// malformed construct.
//
// Lifetimes. A parsed tree lives in one arena that belongs to the node Parse
// (or ParseDocument) was called on, its root: every node below it, every
// attribute, list, name and text, and the document text itself, which the
// tree's names and texts point into. All of it stays valid until the root is
// cleared, parsed again or destroyed, and goes then at once; nothing in a
// parsed tree may be freed, relinked or taken over on its own (its lists have
// no release callback). Clear on a node inside a tree only empties that node,
// and Parse on one builds the new content in the same arena. A node whose
// fields a caller sets by hand (new[] strings, heap lists such as
// ParseAttributes returns) owns them, and Clear releases them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/item_list.h"

namespace feedlet {

namespace xml_detail {
class XmlArena;
struct NodeAccess;
}  // namespace xml_detail

// Elements nested deeper than this below the document root ("*" is depth 0,
// the document element depth 1) are treated as a malformed construct.
constexpr int32_t kXmlMaxDepth = 256;

// The most nodes and attributes (together) that ParseDocument lets a document
// have. A document holds at most kXmlMaxDocumentEntries, and one of more
// than kXmlMinDocumentEntries at most one for every kXmlUnitsPerEntry units
// of its text: each costs the tree a record of its own, several times the
// units it takes to write one as densely as a hostile document can ("<p>"
// is three, a bare attribute two), so that without the second bound a few
// megabytes of such text would cost fifteen times their size. No real feed
// comes near either: feed elements hold names and texts (the generated
// 16 MiB benchmark feed of 20,000 items has about 300,000 entries, one per
// 20 units), and even "<a>b</a>" throughout would be one per four.
constexpr size_t kXmlMaxDocumentEntries = size_t{1} << 21;
constexpr size_t kXmlMinDocumentEntries = 4096;
constexpr size_t kXmlUnitsPerEntry = 5;
// The entry limit of a document of length units.
constexpr size_t XmlDocumentEntryLimit(size_t length) {
    size_t limit = length / kXmlUnitsPerEntry;
    if (limit < kXmlMinDocumentEntries) limit = kXmlMinDocumentEntries;
    return limit < kXmlMaxDocumentEntries ? limit : kXmlMaxDocumentEntries;
}
// The most distinct tag names ParseDocument indexes. A feed uses a few
// dozen; only text made to look like a forest of tags has more.
constexpr size_t kXmlMaxDocumentNames = size_t{1} << 16;

// How ParseDocument ended.
enum class XmlDocumentResult : uint8_t {
    kParsed,    // the tree is what the text yields (malformed parts cut as Parse cuts them)
    kTooLarge,  // beyond its entry limit or kXmlMaxDocumentNames: the root is left empty
    kNoMemory,  // the root is left empty
};

// One attribute of a start tag, in the order written.
struct XmlAttribute {
    char16_t* name = nullptr;   // never null in a parsed tree
    char16_t* value = nullptr;  // null for an attribute written without a value
};

// One node of the tree. The name says what the node is: an element (name
// set) or a text node (name null). The destructor clears (see Lifetimes
// above for who owns what).
class XmlNode {
public:
    // The element's name as written, prefix included ("rdf:RDF", "dc:date");
    // null for a text node.
    char16_t* name = nullptr;
    // The element's attributes (XmlAttribute*) in the order written; null when
    // there are none (an empty list is never kept).
    ItemList* attributes = nullptr;
    // One field: an element's child nodes (XmlNode*) in document order, null
    // when it has none; or a text node's text, never empty in a parsed tree.
    // Read the member that `name` selects.
    union {
        ItemList* children = nullptr;
        char16_t* text;
    };

    XmlNode() = default;
    ~XmlNode() { Clear(); }
    XmlNode(const XmlNode&) = delete;
    XmlNode& operator=(const XmlNode&) = delete;

    bool IsText() const { return name == nullptr; }

    // Clears the node, then: with a null name makes it a text node holding a
    // copy of content; with a name makes it an element named so, with the
    // attributes of attribute_text (when given) and the parsed content (when
    // given and not empty) as children. Returns this node, or null when a
    // malformed construct (or lack of memory) stopped the content parse; the
    // node then keeps its name, attributes and the children built before.
    //
    // With the text after the XML declaration as content, the name u"*" and
    // no attributes this reads a document as ParseDocument does, from a copy.
    // The arguments are copied (into the tree's arena) and may point into
    // this node's current tree.
    XmlNode* Parse(const char16_t* content, const char16_t* name,
                   const char16_t* attribute_text);

    // Parses a whole document without copying it: this node (a root, not a
    // node inside a tree) becomes the element "*" whose children are the
    // top-level nodes of text[0, length), as Parse(text, u"*", nullptr)
    // would make them. text lies in block, from malloc, and text[length] is
    // 0; the tree takes the block over in every case (freed with the tree,
    // or at once when it fails) and changes the text in place. A null text
    // leaves a bare "*". Beyond XmlDocumentEntryLimit(length) nodes and
    // attributes (or max_entries, when fewer), or kXmlMaxDocumentNames tag
    // names, and when memory runs out anywhere, the node is left empty: a
    // partial tree is no document.
    XmlDocumentResult ParseDocument(void* block, char16_t* text, size_t length,
                                    size_t max_entries = kXmlMaxDocumentEntries);

    // For a root, the length of the text its tree was read from (what
    // ParseDocument or Parse was given as content); 0 for any other node.
    size_t DocumentLength() const;

    // Hands back the document text that ParseDocument took over (a block to
    // be freed with free), so that it can outlive the tree: the tree's names
    // and texts still point into it, and stay valid until it is freed. Null
    // when this node is no root holding such a text.
    void* DetachText();

    // Releases name, attributes and children (recursively) or text, and sets
    // all three to null; for a root, its whole arena.
    void Clear();

    // The child at the 0-based index; null for a text node, or when there are
    // not index + 1 children.
    XmlNode* ChildAt(int32_t index) const;
    // The first child element whose whole name equals name, ASCII letters
    // compared without case (as _wcsicmp in the C locale); text children never
    // match. Null when there is none or this is a text node.
    XmlNode* FindChild(const char16_t* name) const;
    // The attribute at the 0-based index, or null.
    XmlAttribute* AttributeAt(int32_t index) const;
    // The value of the first attribute whose name equals name (compared as in
    // FindChild): the shared empty string u"" for an attribute written without
    // a value, null when there is no such attribute. The text belongs to the
    // node (the empty string to nobody: never release it).
    const char16_t* FindAttribute(const char16_t* name) const;

    // Serializes this node's content: a text node gives its text, an element
    // the serialization of its children (child elements as tags, attributes as
    //  name = "value", texts as stored, nothing escaped). Returns the length of
    // the complete serialization without terminator, whether or not a buffer
    // is given. With a buffer (and capacity > 0) writes as much as fits in
    // capacity units including the terminator, always terminated.
    size_t Serialize(char16_t* buffer, size_t capacity) const;

    // The serialized content as a new string (new[], released with delete[]
    // by the caller); null when no memory could be had.
    char16_t* ContentText() const;

private:
    friend struct xml_detail::NodeAccess;

    // The arena of the tree this node is in (the root's own when it is the
    // arena's owner); null for a node that owns its fields itself.
    xml_detail::XmlArena* arena_ = nullptr;
};

// The attributes of a start tag's attribute text (the text after the name,
// already trimmed) as a new ItemList of XmlAttribute (released with delete,
// which releases every attribute); null when the text yields none. Values are
// kept exactly as written: references in them are not decoded.
ItemList* ParseAttributes(const char16_t* attribute_text);

// Decodes character and entity references and normalizes white space in
// place: control characters are dropped, runs of U+0020 shrink to one. The
// result is never longer than the input. Null is left alone.
void DecodeText(char16_t* text);

// Removes white space (IsXmlSpace) from both ends in place. Null and empty
// texts are left alone.
void TrimText(char16_t* text);

// The parser's notion of white space: exactly the UTF-16 units for which the
// Windows C run-time's iswspace is true, independent of any locale, so that
// every platform reads a document the same way.
bool IsXmlSpace(char16_t c);

// Whole-string comparison ignoring the case of ASCII letters only, as
// _wcsicmp does in the C locale: < 0, 0 or > 0. Null sorts before any text.
int32_t CompareIgnoreCase(const char16_t* left, const char16_t* right);

}  // namespace feedlet
