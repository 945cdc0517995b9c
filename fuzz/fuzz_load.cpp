// libFuzzer target for the whole load path: raw bytes as a download leaves
// them, through the byte-order mark and declaration sniffing, every decoder
// (UTF-8, UTF-16 both ways, code pages 932 and 50220, EUC-JP) and the XML
// parse, with the checks of tests/load_check.h.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "load_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string fault = feedlet::load_check::CheckBytes(data, size);
    if (!fault.empty()) {
        std::fprintf(stderr, "fuzz-load: %s\n", fault.c_str());
        std::abort();
    }
    return 0;
}
