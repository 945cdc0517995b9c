// Checking XML trees, shared by the unit tests, the corpus replay and the
// fuzz target: a compact rendering of a tree for comparisons, the tree
// invariants, the serializer's measure-equals-write rule, and a literal
// reference reader (copy per level, plain substring search, recursion) that
// the real parser must agree with on every input small enough for it.
#pragma once

#include <cstddef>
#include <string>

#include "feed/xml_node.h"

namespace feedlet {
namespace xml_check {

std::string ToUtf8(const std::u16string& text);
std::u16string FromUtf8(const std::string& text);

// One line per tree: element  name(attr="v",bare){child,child}, text "t".
std::string Render(const XmlNode& node);

// Parses text as a document body (root "*") with the reference reader and
// renders the result; *ok gets the root's parse result.
std::string ReferenceParse(const std::u16string& text, bool* ok);

// Walks the tree: empty text nodes, empty or missing element names, empty
// attribute lists, and every element's Serialize (measuring vs writing, and
// truncated writes being prefixes). Returns "" or a description of the first
// fault found.
std::string CheckTree(const XmlNode& root);

}  // namespace xml_check
}  // namespace feedlet
