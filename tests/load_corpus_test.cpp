// Replays the load fuzz corpus (fuzz/corpus/load) with the fuzz target's
// own checks, so every input that once found a fault stays fixed in the
// ordinary test run, natively and on Windows.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "load_check.h"

namespace {

TEST(LoadCorpus, EveryInputPassesTheFuzzChecks) {
    namespace fs = std::filesystem;
    size_t inputs = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(fs::u8path(FEEDLET_LOAD_CORPUS))) {
        if (!entry.is_regular_file()) continue;
        SCOPED_TRACE(entry.path().filename().u8string());
        std::ifstream file(entry.path(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        EXPECT_EQ(feedlet::load_check::CheckBytes(reinterpret_cast<const unsigned char*>(bytes.data()),
                                                   bytes.size()),
                  "");
        ++inputs;
    }
    EXPECT_GE(inputs, 10u);
}

}  // namespace
