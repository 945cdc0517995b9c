// Replays the XML fuzz corpus (fuzz/corpus/xml) with the fuzz target's own
// checks, so that every input that once found a fault stays fixed in the
// ordinary test run, natively and on Windows.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "xml_check.h"

namespace {

TEST(XmlCorpus, EveryInputPassesTheFuzzChecks) {
    namespace fs = std::filesystem;
    const fs::path corpus = fs::u8path(FEEDLET_XML_CORPUS);
    size_t inputs = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(corpus)) {
        if (!entry.is_regular_file()) continue;
        SCOPED_TRACE(entry.path().filename().u8string());
        std::ifstream file(entry.path(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        std::u16string text = feedlet::xml_check::TextOfInput(
            reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
        EXPECT_EQ(feedlet::xml_check::CheckText(text), "");
        ++inputs;
    }
    EXPECT_GE(inputs, 10u);
}

}  // namespace
