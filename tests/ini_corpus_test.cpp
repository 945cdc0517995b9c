// Replays the INI fuzz corpus (fuzz/corpus/ini) with the fuzz target's own
// checks, so every configuration that once found a fault stays fixed in the
// ordinary test run: natively against our INI reader and writer, under Wine
// against the system's private-profile functions.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "ini_check.h"

namespace {

TEST(IniCorpus, EveryInputPassesTheFuzzChecks) {
    namespace fs = std::filesystem;
    size_t inputs = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(fs::u8path(FEEDLET_INI_CORPUS))) {
        if (!entry.is_regular_file()) continue;
        SCOPED_TRACE(entry.path().filename().u8string());
        std::ifstream file(entry.path(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        EXPECT_EQ(feedlet::ini_check::CheckInput(reinterpret_cast<const unsigned char*>(bytes.data()),
                                                  bytes.size()),
                  "");
        ++inputs;
    }
    EXPECT_GE(inputs, 10u);
}

}  // namespace
