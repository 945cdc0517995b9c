// Checking XML trees, shared by the unit tests, the corpus replay and the
// fuzz target: a compact rendering of a tree for comparisons, the tree
// invariants, the serializer's measure-equals-write rule, and a literal
// reference reader (copy per level, plain substring search, recursion) that
// the real parser must agree with on every input small enough for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "feed/xml_node.h"

namespace feedlet {
namespace xml_check {

std::string ToUtf8(const std::u16string& text);

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

// Builds the closing-tag index over text (at most max_names names) and asks
// it about every '<' that has a name and a '>' after it, with the whole text
// and with an end cut short, in document order or backwards: every answer
// must be what a plain search for "</" + name gives. "" or the first
// disagreement.
std::string CheckClosingIndex(const std::u16string& text, bool backwards = false,
                              size_t max_names = SIZE_MAX);

// The text a fuzz input stands for. An even first byte: every byte is one
// unit (bytes from 0x80 stand for white space, surrogates and other units
// worth trying), so plain XML files are inputs as they are. An odd first
// byte: the bytes after it are UTF-16LE units.
std::u16string TextOfInput(const unsigned char* data, size_t size);

// Everything the fuzz target checks for one text: the parse (tree
// invariants, serializer), agreement with the reference reader when the text
// is small enough for it, and the text helpers. "" or the first fault found.
std::string CheckText(const std::u16string& text);

}  // namespace xml_check
}  // namespace feedlet
