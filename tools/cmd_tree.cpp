// feedlet-tool tree LOCATION: loads a location as the plugin does
// (LoadDocument) and prints the XML tree as JSON. An element is
// {"name":N,"attributes":[[name,value-or-null],...],"children":[...]}, a text
// node a JSON string.
#include <cstdio>
#include <string>

#include "feed/xml_node.h"
#include "fetch/document_loader.h"
#include "tool.h"

namespace feedlet {
namespace tool {

namespace {

// The parser caps nesting (kXmlMaxDepth), which bounds this recursion.
void AppendNode(std::string& out, const XmlNode& node) {
    if (node.IsText()) {
        out += JsonString(node.text);
        return;
    }
    out += "{\"name\":";
    out += JsonString(node.name);
    out += ",\"attributes\":[";
    if (node.attributes) {
        bool first = true;
        for (XmlAttribute* attribute : node.attributes->As<XmlAttribute>()) {
            if (!first) out += ',';
            first = false;
            out += '[';
            out += JsonString(attribute->name);
            out += ',';
            out += JsonStringOrNull(attribute->value);
            out += ']';
        }
    }
    out += "],\"children\":[";
    if (node.children) {
        bool first = true;
        for (XmlNode* child : node.children->As<XmlNode>()) {
            if (!first) out += ',';
            first = false;
            AppendNode(out, *child);
        }
    }
    out += "]}";
}

}  // namespace

int RunTree(int argc, char** argv) {
    if (argc != 1) {
        std::fprintf(stderr, "usage: feedlet-tool tree LOCATION\n");
        return 2;
    }
    XmlNode root;
    if (!LoadDocument(root, argv[0])) {
        Print("{\"ok\":false}\n");
        return 1;
    }
    std::string out;
    AppendNode(out, root);
    out += '\n';
    Print(out);
    return 0;
}

}  // namespace tool
}  // namespace feedlet
