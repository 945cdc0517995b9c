// Pieces shared by the XML parser's source files and nothing else: range
// forms of the public text helpers (the content parser works on one buffer
// and never copies a piece just to terminate it), the release callbacks of
// the tree's lists, and the content parser itself.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/item_list.h"
#include "feed/xml_node.h"

namespace feedlet {
namespace xml_detail {

// IsXmlSpace, inline for the parser's loops.
inline bool IsSpaceUnit(char16_t c) {
    if (c <= 0x20) return c == 0x20 || (c >= 0x09 && c <= 0x0D);
    if (c < 0xA0) return false;
    if (c == 0xA0 || c == 0x1680 || c == 0x3000) return true;
    if (c < 0x2000 || c > 0x205F) return false;
    return c <= 0x200A || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F;
}

// ItemList release callbacks: one XmlNode (cleared, then freed) and one
// XmlAttribute (name, value, record).
void ReleaseNode(void* item, uint32_t, uint32_t);
void ReleaseAttribute(void* item, uint32_t, uint32_t);

// DecodeText over [source, source + length) into destination, which may be
// source itself (the output never runs ahead of the input). Returns the number
// of units written; writes no terminator.
size_t DecodeRun(const char16_t* source, size_t length, char16_t* destination);

// Narrows [*begin, *end) by dropping IsXmlSpace units at both ends.
void TrimRange(const char16_t** begin, const char16_t** end);

// ParseAttributes over an attribute text that is not terminated.
ItemList* ParseAttributeRange(const char16_t* begin, const char16_t* end);

// Parses the terminated, non-empty content into element's children (the
// element has its name and attributes already and no children). False when
// a malformed construct or lack of memory stopped the parse of the element's
// own content; faults in nested elements only cut those elements short.
bool ParseContent(XmlNode* element, const char16_t* content);

// Tests only: every parse hashes names with this base (0: a fresh random
// base per parse, the normal case). Base 1 makes every anagram collide, which
// exercises the paths for names with equal hashes.
void ForceHashBaseForTesting(uint64_t base);

}  // namespace xml_detail
}  // namespace feedlet
