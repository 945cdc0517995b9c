// libFuzzer target for the XML parser: any input becomes a UTF-16 text (see
// xml_check::TextOfInput), which is parsed as a document body; every element
// is serialized (measuring and writing must agree), the tree invariants are
// checked, and small texts must read exactly as the literal reference reader
// reads them. DecodeText, TrimText and ParseAttributes get the raw text too.
// Small texts are also read with a name hash under which anagrams collide,
// so that the paths for names with equal hashes are fuzzed as well.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "feed/xml_internal.h"
#include "xml_check.h"

namespace {

void Check(const std::u16string& text, const char* how) {
    std::string fault = feedlet::xml_check::CheckText(text);
    if (!fault.empty()) {
        std::fprintf(stderr, "fuzz-xml (%s): %s\n", how, fault.c_str());
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string text = feedlet::xml_check::TextOfInput(data, size);
    Check(text, "random hash base");
    if (text.size() <= 512) {
        feedlet::xml_detail::ForceHashBaseForTesting(1);
        Check(text, "colliding hashes");
        feedlet::xml_detail::ForceHashBaseForTesting(0);
    }
    return 0;
}
