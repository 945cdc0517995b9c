// The information records are the host's ABI: exact bytes matter.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "plugin/plugin_info.h"

using namespace feedlet;

namespace {

// Every byte after the text up to the field's end must be zero.
void ExpectField(const char* field, size_t width, const std::string& text) {
    ASSERT_LT(text.size(), width);
    EXPECT_EQ(std::string(field, text.size()), text);
    for (size_t i = text.size(); i < width; ++i) ASSERT_EQ(field[i], 0) << "byte " << i;
}

TEST(PluginInfoTest, PluginRecord) {
    const PluginInfo& info = CurrentPluginInfo();
    ExpectField(info.name, 32, "RSS\x8F\xEE\x95\xF1\x8E\xE6\x93\xBE\x83v\x83\x89\x83O\x83" "C\x83\x93");
    ExpectField(info.version, 16, "1.0.1");
    ExpectField(info.description, 256,
                "\x8Ew\x92\xE8URL\x82\xCCRSS\x8F\xEE\x95\xF1\x82\xF0\x8E\xE6\x93\xBE\x82\xB5\x82\xDC\x82\xB7\x81" "B");
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&info);
    int32_t words[3];
    std::memcpy(words, bytes + 944, sizeof words);
    EXPECT_EQ(words[0], 2);
    EXPECT_EQ(words[1], 1);
    EXPECT_EQ(words[2], 0);
}

TEST(PluginInfoTest, FunctionRecords) {
    EXPECT_EQ(FunctionInfo(0), nullptr);
    EXPECT_EQ(FunctionInfo(3), nullptr);
    const FuncInfo* info = FunctionInfo(1);
    ASSERT_NE(info, nullptr);
    ExpectField(info->name, 32, "RSS\x8A\xEE\x96{\x8F\xEE\x95\xF1\x8E\xE6\x93\xBE");
    ExpectField(info->description, 256,
                "RSS\x82\xCC\x8A\xEE\x96{\x8F\xEE\x95\xF1\x82\xF0\x8E\xE6\x93\xBE\x82\xB5\x82\xDC\x82\xB7\x81" "B");
    const FuncInfo* item = FunctionInfo(2);
    ExpectField(item->name, 32, "RSS\x8BL\x8E\x96\x8F\xEE\x95\xF1\x8E\xE6\x93\xBE");
    ExpectField(item->description, 256,
                "RSS\x82\xCC\x8C\xC2\x81X\x82\xCC\x8BL\x8E\x96\x8F\xEE\x95\xF1\x82\xF0\x8E\xE6\x93\xBE\x82\xB5"
                "\x82\xDC\x82\xB7\x81" "B");
    for (const FuncInfo* f : {info, item}) {
        int32_t words[3];
        std::memcpy(words, reinterpret_cast<const unsigned char*>(f) + 288, sizeof words);
        EXPECT_EQ(words[0], 1000);
        EXPECT_EQ(words[1], 1);
        EXPECT_EQ(words[2], 0);
    }
}

}  // namespace
