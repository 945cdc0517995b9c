#include "xml_check.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/encoding.h"
#include "core/item_list.h"
#include "feed/xml_closing_index.h"
#include "feed/xml_internal.h"

namespace feedlet {
namespace xml_check {

// Lone surrogates keep their own three-byte form: a tree that holds one
// must not render like a tree that holds U+FFFD.
std::string ToUtf8(const std::u16string& text) {
    return Utf16ToUtf8(text.data(), text.size(), LoneSurrogates::kKeep);
}

namespace {

std::string Quoted(const char16_t* text) {
    return "\"" + ToUtf8(text ? std::u16string(text) : std::u16string()) + "\"";
}

void RenderInto(const XmlNode& node, std::string& out) {
    if (node.IsText()) {
        out += Quoted(node.text);
        return;
    }
    out += ToUtf8(node.name);
    if (node.attributes) {
        out += "(";
        bool first = true;
        for (XmlAttribute* a : node.attributes->As<XmlAttribute>()) {
            if (!first) out += ",";
            first = false;
            out += ToUtf8(a->name);
            if (a->value) out += "=" + Quoted(a->value);
        }
        out += ")";
    }
    if (node.children) {
        out += "{";
        bool first = true;
        for (XmlNode* child : node.children->As<XmlNode>()) {
            if (!first) out += ",";
            first = false;
            RenderInto(*child, out);
        }
        out += "}";
    }
}

// --- The reference reader: the reading rules done the obvious way. ---

struct RefNode {
    bool is_text = false;
    std::u16string name;  // or the text
    std::string attributes;  // rendered
    std::vector<RefNode> children;
};

std::u16string Decoded(std::u16string run) {
    std::vector<char16_t> buffer(run.begin(), run.end());
    buffer.push_back(0);
    DecodeText(buffer.data());
    TrimText(buffer.data());
    return std::u16string(buffer.data());
}

std::u16string StripSpaceSlash(const std::u16string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == u' ' || s[b] == u'/')) ++b;
    while (e > b && (s[e - 1] == u' ' || s[e - 1] == u'/')) --e;
    size_t bb = b, ee = e;
    while (ee > bb && IsXmlSpace(s[ee - 1])) --ee;
    while (bb < ee && IsXmlSpace(s[bb])) ++bb;
    return s.substr(bb, ee - bb);
}

bool RefParse(RefNode& node, const std::u16string& content, int depth) {
    size_t c = 0;
    const size_t n = content.size();
    while (c < n) {
        if (content.compare(c, 9, u"<![CDATA[") == 0) {
            size_t close = content.find(u"]]>", c + 9);
            if (close == std::u16string::npos) return false;
            if (close > c + 9) {
                RefNode text;
                text.is_text = true;
                text.name = content.substr(c + 9, close - c - 9);
                node.children.push_back(text);
            }
            c = close + 2;
        } else if (content.compare(c, 4, u"<!--") == 0) {
            size_t close = content.find(u"-->", c);
            if (close == std::u16string::npos) return false;
            c = close + 2;
        } else if (content[c] == u'<') {
            if (depth >= kXmlMaxDepth) return false;
            size_t gt = content.find(u'>', c + 1);
            if (gt == std::u16string::npos || gt == c + 1) return false;
            size_t name_end = c + 1;
            while (name_end < gt && content[name_end] != u'/' && !IsXmlSpace(content[name_end]))
                ++name_end;
            if (name_end == c + 1) return false;
            RefNode child;
            child.name = content.substr(c + 1, name_end - c - 1);
            std::u16string attribute_text =
                StripSpaceSlash(content.substr(name_end, gt - name_end));
            XmlNode holder;
            holder.Parse(nullptr, u"x", attribute_text.c_str());
            std::string rendered = Render(holder);
            child.attributes = rendered.substr(1);
            if (content[gt - 1] == u'/') {
                node.children.push_back(child);
                c = gt;
                continue;
            }
            std::u16string pattern = u"</" + child.name;
            size_t occurrence = content.find(pattern, gt + 1);
            if (occurrence == std::u16string::npos) {
                node.children.push_back(child);
                c = gt;
                continue;
            }
            size_t after = occurrence + pattern.size();
            char16_t next = after < n ? content[after] : 0;
            if ((next == u'>' || (next && IsXmlSpace(next))) && occurrence > gt + 1)
                RefParse(child, content.substr(gt + 1, occurrence - gt - 1), depth + 1);
            node.children.push_back(child);
            c = after < n ? after + 1 : n;
        } else {
            if (content[c] == u'>') ++c;
            size_t stop = content.find(u'<', c);
            if (stop == std::u16string::npos) stop = n;
            std::u16string text = Decoded(content.substr(c, stop - c));
            if (!text.empty()) {
                RefNode node_text;
                node_text.is_text = true;
                node_text.name = text;
                node.children.push_back(node_text);
            }
            c = stop;
        }
    }
    return true;
}

void RenderRef(const RefNode& node, std::string& out) {
    if (node.is_text) {
        out += Quoted(node.name.c_str());
        return;
    }
    out += ToUtf8(node.name) + node.attributes;
    if (!node.children.empty()) {
        out += "{";
        for (size_t i = 0; i < node.children.size(); ++i) {
            if (i) out += ",";
            RenderRef(node.children[i], out);
        }
        out += "}";
    }
}

std::string CheckNode(const XmlNode& node, int depth) {
    if (node.IsText()) {
        if (!node.text || !node.text[0]) return "empty text node";
        if (node.attributes) return "text node with attributes";
        return "";
    }
    if (!node.name[0]) return "element with empty name";
    if (node.attributes && node.attributes->Count() == 0) return "empty attribute list kept";
    if (node.children && node.children->Count() == 0) return "empty child list kept";
    if (node.attributes)
        for (XmlAttribute* a : node.attributes->As<XmlAttribute>())
            if (!a || !a->name) return "attribute without name";

    size_t measured = node.Serialize(nullptr, 0);
    std::vector<char16_t> full(measured + 1, u'#');
    size_t written = node.Serialize(full.data(), full.size());
    if (written != measured) return "Serialize: measuring and writing disagree";
    if (full[measured] != 0) return "Serialize: not terminated at the measured length";
    for (size_t i = 0; i < measured; ++i)
        if (full[i] == 0) return "Serialize: terminator inside the text";
    // A short buffer gets a terminated prefix and the same count (checked
    // near the top only: every level below repeats the same code).
    for (size_t capacity : {size_t(1), measured / 2 + 1, measured}) {
        if (capacity == 0 || depth > 1) continue;
        std::vector<char16_t> part(capacity + 1, u'#');
        if (node.Serialize(part.data(), capacity) != measured) return "Serialize: count changes";
        size_t kept = capacity - 1 < measured ? capacity - 1 : measured;
        if (part[kept] != 0 || part[capacity] != u'#') return "Serialize: bad truncation";
        if (std::u16string(part.data(), kept) != std::u16string(full.data(), kept))
            return "Serialize: truncated text is not a prefix";
    }
    if (node.children)
        for (XmlNode* child : node.children->As<XmlNode>()) {
            std::string fault = CheckNode(*child, depth + 1);
            if (!fault.empty()) return fault;
        }
    return "";
}

// One question the parse may ask the closing-tag index: the tag at opening,
// its name, and where its content starts.
struct Tag {
    size_t opening;
    size_t name_end;
    size_t from;
};

std::vector<Tag> TagsOf(const std::u16string& text) {
    std::vector<Tag> tags;
    for (size_t k = 0; k < text.size(); ++k) {
        if (text[k] != u'<') continue;
        size_t name_end = k + 1;
        while (name_end < text.size() && !xml_detail::IsNameEnd(text[name_end])) ++name_end;
        size_t gt = text.find(u'>', k + 1);
        if (name_end > k + 1 && gt != std::u16string::npos) tags.push_back(Tag{k, name_end, gt + 1});
    }
    return tags;
}

size_t PlainSearch(const std::u16string& text, const Tag& tag, size_t end) {
    std::u16string pattern = u"</" + text.substr(tag.opening + 1, tag.name_end - tag.opening - 1);
    size_t q = text.find(pattern, tag.from);
    return q == std::u16string::npos || q + pattern.size() > end ? xml_detail::kNotFound : q;
}

}  // namespace

std::string CheckClosingIndex(const std::u16string& text, bool backwards, size_t max_names) {
    // The index gets a copy of exactly the text's units, so that a read past
    // its end is a fault under the sanitizers.
    std::vector<char16_t> exact(text.begin(), text.end());
    xml_detail::ClosingIndex index;
    index.Build(exact.data(), exact.size(), max_names);
    std::vector<Tag> tags = TagsOf(text);
    if (backwards) std::reverse(tags.begin(), tags.end());
    for (const Tag& tag : tags) {
        for (size_t end : {text.size(), (tag.from + text.size()) / 2}) {
            size_t expected = PlainSearch(text, tag, end);
            size_t found = index.Find(tag.opening, text.data() + tag.opening + 1,
                                      tag.name_end - tag.opening - 1, tag.from, end);
            if (found != expected)
                return "closing-tag index: tag at " + std::to_string(tag.opening) + ", end " +
                       std::to_string(end) + ": " + std::to_string(found) + " instead of " +
                       std::to_string(expected);
        }
    }
    return "";
}

std::string Render(const XmlNode& node) {
    std::string out;
    RenderInto(node, out);
    return out;
}

std::string ReferenceParse(const std::u16string& text, bool* ok) {
    RefNode root;
    root.name = u"*";
    size_t end = text.find(u'\0');  // the parser reads up to the terminator
    bool result = true;
    std::u16string content = text.substr(0, end);
    if (!content.empty()) result = RefParse(root, content, 0);
    if (ok) *ok = result;
    std::string out;
    RenderRef(root, out);
    return out;
}

std::string CheckTree(const XmlNode& root) {
    return CheckNode(root, 0);
}

std::u16string TextOfInput(const unsigned char* data, size_t size) {
    static const char16_t kHighUnits[] = {
        0x3000, 0x00A0, 0x2028, 0x0085, 0xFFFD, 0xD800, 0xDC00, 0x3042,
        0xFEFF, 0x200B, 0x1680, 0x205F, 0x2029, 0x202F, 0x00C4, 0x00E4,
    };
    std::u16string text;
    if (size == 0) return text;
    if ((data[0] & 1) == 0) {
        text.reserve(size);
        for (size_t i = 0; i < size; ++i) {
            unsigned char b = data[i];
            if (b < 0x80) text += static_cast<char16_t>(b);
            else if (b < 0x90) text += kHighUnits[b - 0x80];
            else text += static_cast<char16_t>(0x3000 + b);
        }
    } else {
        for (size_t i = 1; i + 1 < size; i += 2)
            text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    }
    return text;
}

std::string CheckText(const std::u16string& text) {
    XmlNode root;
    XmlNode* result = root.Parse(text.c_str(), u"*", nullptr);
    if (result && result != &root) return "Parse returned another node";
    std::string fault = CheckTree(root);
    if (!fault.empty()) return fault;
    if (text.size() <= 2048) {  // the reference reader is quadratic
        bool reference_ok = false;
        std::string expected = ReferenceParse(text, &reference_ok);
        if (Render(root) != expected) return "tree differs from the reference reader: " + expected;
        if (reference_ok != (result != nullptr)) return "parse result differs from the reference";
        std::string index_fault = CheckClosingIndex(text.substr(0, text.find(u'\0')));
        if (!index_fault.empty()) return index_fault;
    }

    std::u16string plain = text.substr(0, text.find(u'\0'));
    std::vector<char16_t> buffer(plain.begin(), plain.end());
    buffer.push_back(0);
    DecodeText(buffer.data());
    std::u16string decoded(buffer.data());
    if (decoded.size() > plain.size()) return "DecodeText lengthened the text";
    // References only ever produce whole surrogate pairs.
    for (size_t i = 0; i < decoded.size(); ++i) {
        char16_t c = decoded[i];
        bool high = IsHighSurrogate(c), low = IsLowSurrogate(c);
        bool paired = (high && i + 1 < decoded.size() && IsLowSurrogate(decoded[i + 1])) ||
                      (low && i > 0 && IsHighSurrogate(decoded[i - 1]));
        if ((high || low) && !paired && plain.find(c) == std::u16string::npos)
            return "DecodeText made a lone surrogate";
    }
    TrimText(buffer.data());
    std::u16string trimmed(buffer.data());
    if (!trimmed.empty() && (IsXmlSpace(trimmed.front()) || IsXmlSpace(trimmed.back())))
        return "TrimText left white space at an end";
    if (decoded.find(trimmed) == std::u16string::npos) return "TrimText changed the text";

    ItemList* attributes = ParseAttributes(plain.c_str());
    if (attributes) {
        std::string attribute_fault;
        if (attributes->Count() == 0) attribute_fault = "ParseAttributes kept an empty list";
        for (XmlAttribute* a : attributes->As<XmlAttribute>())
            if (!a->name) attribute_fault = "ParseAttributes made an attribute without name";
        delete attributes;
        if (!attribute_fault.empty()) return attribute_fault;
    }
    return "";
}

}  // namespace xml_check
}  // namespace feedlet
