// libFuzzer target for the configuration files: hostile RSS.ini, Setting.ini
// and host QVL_Data.ini bytes through LoadConfiguration, natively, in a
// plugin folder of its own, with the checks of tests/ini_check.h (counts,
// terminated names, targets and zones that exist, the defaults, and a save
// and second reading that lose nothing). Leaks are LeakSanitizer's.
//
// Input layout: RSS.ini 0x1E Setting.ini 0x1E QVL_Data.ini (a missing part
// is a missing file; see tests/ini_check.h).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ini_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string fault = feedlet::ini_check::CheckInput(data, size);
    if (!fault.empty()) {
        std::fprintf(stderr, "fuzz-ini: %s\n", fault.c_str());
        std::abort();
    }
    return 0;
}
