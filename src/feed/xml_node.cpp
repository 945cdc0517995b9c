// XmlNode: building a node, looking into it, and serializing its content.
#include "feed/xml_node.h"

#include <cstring>
#include <new>

#include "core/text_field.h"
#include "feed/xml_internal.h"

namespace feedlet {

namespace {

// What FindAttribute returns for an attribute written without a value.
const char16_t kNoValue[] = u"";

// Appends the pieces of a serialization to a caller's buffer while counting
// all of them, so that the measuring call and the writing call agree.
class SerialWriter {
public:
    SerialWriter(char16_t* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {
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
        if (text) Append(text, Utf16Length(text));
    }
    size_t Finish() {
        if (buffer_ && capacity_) buffer_[written_] = 0;
        return total_;
    }

private:
    char16_t* buffer_;
    size_t capacity_;
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

namespace xml_detail {

void ReleaseNode(void* item, uint32_t, uint32_t) {
    delete static_cast<XmlNode*>(item);  // the destructor clears
}

}  // namespace xml_detail

XmlNode* XmlNode::Parse(const char16_t* content, const char16_t* element_name,
                        const char16_t* attribute_text) {
    // Built aside and moved in at the end, so that arguments pointing into
    // this node's own strings stay valid while they are read.
    XmlNode built;
    bool ok = true;
    if (!element_name) {
        if (content) {
            built.text = Utf16Duplicate(content, Utf16Length(content));
            ok = built.text != nullptr;
        }
    } else {
        built.name = Utf16Duplicate(element_name, Utf16Length(element_name));
        if (!built.name) {
            ok = false;
        } else {
            if (attribute_text) built.attributes = ParseAttributes(attribute_text);
            if (content && *content)
                ok = xml_detail::ParseContent(&built, content);
        }
    }
    Clear();
    name = built.name;
    attributes = built.attributes;
    if (name) children = built.children;
    else text = built.text;
    built.name = nullptr;
    built.attributes = nullptr;
    built.children = nullptr;
    return ok ? this : nullptr;
}

void XmlNode::Clear() {
    if (name) {
        delete children;  // releases every child through its callback
    } else {
        delete[] text;
    }
    delete[] name;
    delete attributes;
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
    SerialWriter out(buffer, capacity);
    SerializeNode(*this, 0, out);
    return out.Finish();
}

char16_t* XmlNode::ContentText() const {
    size_t length = Serialize(nullptr, 0);
    char16_t* content = new (std::nothrow) char16_t[length + 1];
    if (!content) return nullptr;
    Serialize(content, length + 1);
    return content;
}

}  // namespace feedlet
