// XmlNode: building a node, looking into it, and serializing its content.
#include "feed/xml_node.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "core/text_field.h"
#include "feed/xml_arena.h"
#include "feed/xml_internal.h"

namespace feedlet {

namespace {

// What FindAttribute returns for an attribute written without a value.
const char16_t kNoValue[] = u"";

// The length of a piece of a tree: measured in the tree's arena when it has
// one (which can scan the document text quickly), else unit by unit.
size_t PieceLength(const xml_detail::XmlArena* arena, const char16_t* piece) {
    return arena ? arena->LengthOf(piece) : Utf16Length(piece);
}

// Appends the pieces of a serialization to a caller's buffer while counting
// all of them, so that the measuring call and the writing call agree.
class SerialWriter {
public:
    SerialWriter(char16_t* buffer, size_t capacity, const xml_detail::XmlArena* arena)
        : buffer_(buffer), capacity_(capacity), arena_(arena) {
        if (buffer_ && capacity_) buffer_[0] = 0;
    }
    void Append(const char16_t* piece, size_t length) {
        total_ += length;
        if (!buffer_ || capacity_ == 0) return;
        size_t room = capacity_ - 1 - written_;
        size_t n = length < room ? length : room;
        if (n) std::memcpy(buffer_ + written_, piece, n * sizeof(char16_t));
        written_ += n;
    }
    void Append(const char16_t* text) {
        if (text) Append(text, PieceLength(arena_, text));
    }
    size_t Finish() {
        if (buffer_ && capacity_) buffer_[written_] = 0;
        return total_;
    }

private:
    char16_t* buffer_;
    size_t capacity_;
    const xml_detail::XmlArena* arena_;
    size_t written_ = 0;
    size_t total_ = 0;
};

// The recursion follows the tree, whose depth the parser bounds.
void SerializeNode(const XmlNode& node, int32_t depth, SerialWriter& out) {
    if (node.IsText()) {
        out.Append(node.text);
        return;
    }
    if (depth > 0) {
        out.Append(u"<", 1);
        out.Append(node.name);
        if (node.attributes) {
            for (XmlAttribute* attribute : node.attributes->As<XmlAttribute>()) {
                out.Append(u" ", 1);
                out.Append(attribute->name);
                if (attribute->value) {
                    out.Append(u" = \"", 4);
                    out.Append(attribute->value);
                    out.Append(u"\"", 1);
                }
            }
        }
        if (!node.children) {
            out.Append(u" />", 3);
            return;
        }
        out.Append(u">", 1);
    }
    if (node.children)
        for (XmlNode* child : node.children->As<XmlNode>()) SerializeNode(*child, depth + 1, out);
    if (depth > 0) {
        out.Append(u"</", 2);
        out.Append(node.name);
        out.Append(u">", 1);
    }
}

}  // namespace

XmlNode* XmlNode::Parse(const char16_t* content, const char16_t* element_name,
                        const char16_t* attribute_text) {
    using xml_detail::XmlArena;
    // A node inside a tree builds in the tree's arena; any other starts an
    // arena of its own. What the node held goes only at the end, since the
    // arguments may point into it.
    XmlArena* tree = arena_ && arena_->owner != this ? arena_ : nullptr;
    if (!element_name) {
        char16_t* copy = nullptr;
        if (content) {
            size_t length = Utf16Length(content);
            copy = tree ? tree->Copy(content, length) : Utf16Duplicate(content, length);
        }
        Clear();
        text = copy;
        return !content || copy ? this : nullptr;
    }

    size_t name_length = Utf16Length(element_name);
    size_t attribute_length = attribute_text ? Utf16Length(attribute_text) : 0;
    size_t content_length = content ? Utf16Length(content) : 0;
    // Room for the three copies, each rounded up in the arena.
    size_t room = (name_length + attribute_length + content_length + 3) * sizeof(char16_t) + 3 * 16;
    XmlArena* arena = tree ? tree : XmlArena::Create(room);
    if (!arena) {
        Clear();
        return nullptr;
    }
    XmlNode built;
    xml_detail::NodeAccess::SetArena(built, arena);
    bool ok = (built.name = arena->Copy(element_name, name_length)) != nullptr;
    if (ok && attribute_text) {
        if (char16_t* attributes_copy = arena->Copy(attribute_text, attribute_length))
            built.attributes = xml_detail::ArenaAttributes(attributes_copy, attributes_copy + attribute_length, *arena);
    }
    if (ok && content_length) {
        char16_t* content_copy = arena->Copy(content, content_length);
        if (content_copy && !tree) arena->SetText(content_copy, content_length);
        ok = content_copy && xml_detail::ParseContent(&built, content_copy, content_length, *arena,
                                                      xml_detail::ContentLimits{})
                                     .result == xml_detail::ContentResult::kParsed;
    }
    if (!tree) Clear();
    name = built.name;
    attributes = built.attributes;
    children = built.children;
    arena_ = arena;
    if (!tree) arena->owner = this;
    built.name = nullptr;
    built.attributes = nullptr;
    built.children = nullptr;
    xml_detail::NodeAccess::SetArena(built, nullptr);
    return ok ? this : nullptr;
}

XmlDocumentResult XmlNode::ParseDocument(void* block, char16_t* document, size_t length,
                                         size_t max_entries) {
    using xml_detail::XmlArena;
    Clear();
    if (arena_) {  // a node inside a tree: its arena is not its own to give a document
        std::free(block);
        return XmlDocumentResult::kNoMemory;
    }
    XmlArena* arena = XmlArena::Create(2 * sizeof(char16_t));
    if (!arena) {
        std::free(block);
        return XmlDocumentResult::kNoMemory;
    }
    if (document) arena->Adopt(block);
    else std::free(block);
    name = arena->Copy(u"*", 1);  // fits the first block
    arena_ = arena;
    arena->owner = this;
    if (!document || !length) return XmlDocumentResult::kParsed;
    xml_detail::ContentLimits limits;
    const size_t limit = XmlDocumentEntryLimit(length);
    limits.max_entries = max_entries < limit ? max_entries : limit;
    limits.max_names = kXmlMaxDocumentNames;
    limits.require_index = true;
    arena->SetText(document, length);
    xml_detail::ContentOutcome outcome = xml_detail::ParseContent(this, document, length, *arena, limits);
    if (outcome.out_of_memory || outcome.result == xml_detail::ContentResult::kTooLarge) {
        XmlDocumentResult result =
            outcome.out_of_memory ? XmlDocumentResult::kNoMemory : XmlDocumentResult::kTooLarge;
        Clear();
        return result;
    }
    return XmlDocumentResult::kParsed;
}

size_t XmlNode::DocumentLength() const {
    return arena_ && arena_->owner == this ? arena_->TextLength() : 0;
}

void* XmlNode::DetachText() {
    return arena_ && arena_->owner == this ? arena_->Detach() : nullptr;
}

void XmlNode::Clear() {
    if (arena_) {
        if (arena_->owner == this) {
            xml_detail::XmlArena::Release(arena_);
            arena_ = nullptr;
        }
        // A node inside a tree: what it pointed to stays with the tree.
    } else if (name) {
        delete children;  // releases every child through its callback
        delete[] name;
        delete attributes;
    } else {
        delete[] text;
        delete attributes;
    }
    name = nullptr;
    attributes = nullptr;
    children = nullptr;
}

XmlNode* XmlNode::ChildAt(int32_t index) const {
    if (IsText() || !children) return nullptr;
    return children->At<XmlNode>(index);
}

XmlNode* XmlNode::FindChild(const char16_t* child_name) const {
    if (IsText() || !children || !child_name) return nullptr;
    for (XmlNode* child : children->As<XmlNode>())
        if (!child->IsText() && CompareIgnoreCase(child->name, child_name) == 0) return child;
    return nullptr;
}

XmlAttribute* XmlNode::AttributeAt(int32_t index) const {
    return attributes ? attributes->At<XmlAttribute>(index) : nullptr;
}

const char16_t* XmlNode::FindAttribute(const char16_t* attribute_name) const {
    if (!attributes || !attribute_name) return nullptr;
    for (XmlAttribute* attribute : attributes->As<XmlAttribute>())
        if (CompareIgnoreCase(attribute->name, attribute_name) == 0)
            return attribute->value ? attribute->value : kNoValue;
    return nullptr;
}

size_t XmlNode::Serialize(char16_t* buffer, size_t capacity) const {
    SerialWriter out(buffer, capacity, arena_);
    SerializeNode(*this, 0, out);
    return out.Finish();
}

char16_t* XmlNode::ContentText() const {
    // Nearly every feed element holds one text node, whose text is the whole
    // serialization: that is copied in one pass instead of being serialized
    // twice (once to measure, once to fill).
    if (!IsText() && children && children->Count() == 1) {
        const XmlNode* only = children->At<XmlNode>(0);
        if (only && only->IsText() && only->text)
            return Utf16Duplicate(only->text, PieceLength(arena_, only->text));
    }
    size_t length = Serialize(nullptr, 0);
    char16_t* content = new (std::nothrow) char16_t[length + 1];
    if (!content) return nullptr;
    Serialize(content, length + 1);
    return content;
}

}  // namespace feedlet
