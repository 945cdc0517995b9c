// The information records are the host's ABI: exact bytes matter. The
// expected texts are UTF-16 literals converted to code page 932 here, so a
// slip in the records' hand-written bytes cannot hide behind a copy of them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "plugin/plugin_info.h"
#include "test_util.h"

using namespace feedlet;

namespace {

// Every byte after the text up to the field's end must be zero.
void ExpectField(const char* field, size_t width, const std::string& text) {
    ASSERT_FALSE(text.empty());
    ASSERT_LT(text.size(), width);
    EXPECT_EQ(std::string(field, text.size()), text);
    for (size_t i = text.size(); i < width; ++i) ASSERT_EQ(field[i], 0) << "byte " << i;
}

TEST(PluginInfoTest, PluginRecord) {
    const PluginInfo& info = CurrentPluginInfo();
    ExpectField(info.name, 32, Cp932(u"RSS情報取得プラグイン"));
    ExpectField(info.version, 16, "1.0.1");
    ExpectField(info.description, 256, Cp932(u"指定URLのRSS情報を取得します。"));
    // Who publishes the plugin (the version resource says the same); the
    // host reads these as terminated, zero-padded fields too.
    ExpectField(info.copyright, 128, "Copyright (C) 2026 The Feedlet developers");
    ExpectField(info.homepage, 256, "https://feedlet.invalid/");
    ExpectField(info.email, 256, "feedlet@feedlet.invalid");
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
    ExpectField(info->name, 32, Cp932(u"RSS基本情報取得"));
    ExpectField(info->description, 256, Cp932(u"RSSの基本情報を取得します。"));
    const FuncInfo* item = FunctionInfo(2);
    ASSERT_NE(item, nullptr);
    ExpectField(item->name, 32, Cp932(u"RSS記事情報取得"));
    ExpectField(item->description, 256, Cp932(u"RSSの個々の記事情報を取得します。"));
    for (const FuncInfo* f : {info, item}) {
        int32_t words[3];
        std::memcpy(words, reinterpret_cast<const unsigned char*>(f) + 288, sizeof words);
        EXPECT_EQ(words[0], 1000);
        EXPECT_EQ(words[1], 1);
        EXPECT_EQ(words[2], 0);
    }
}

}  // namespace
