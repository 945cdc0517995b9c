// libFuzzer target for the XML parser: any input becomes a UTF-16 text (see
// xml_check::TextOfInput), which is parsed as a document body; every element
// is serialized (measuring and writing must agree), the tree invariants are
// checked, and small texts must read exactly as the literal reference reader
// reads them. DecodeText, TrimText and ParseAttributes get the raw text too.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "xml_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string text = feedlet::xml_check::TextOfInput(data, size);
    std::string fault = feedlet::xml_check::CheckText(text);
    if (!fault.empty()) {
        std::fprintf(stderr, "fuzz-xml: %s\n", fault.c_str());
        std::abort();
    }
    return 0;
}
