#include "plugin/plugin_info.h"

#include <cstring>

#include "feedlet_version.h"

namespace feedlet {

namespace {

// Texts are code page 932 bytes, written out so they do not depend on the
// compiler's execution character set.
constexpr char kPluginName[] =
    "RSS\x8F\xEE\x95\xF1\x8E\xE6\x93\xBE\x83v\x83\x89\x83O\x83" "C\x83\x93";  // RSS情報取得プラグイン
constexpr char kPluginDescription[] =
    "\x8Ew\x92\xE8URL\x82\xCCRSS\x8F\xEE\x95\xF1\x82\xF0\x8E\xE6\x93\xBE\x82\xB5\x82\xDC\x82\xB7\x81" "B";  // 指定URLのRSS情報を取得します。
constexpr char kInfoName[] = "RSS\x8A\xEE\x96{\x8F\xEE\x95\xF1\x8E\xE6\x93\xBE";  // RSS基本情報取得
constexpr char kInfoDescription[] =
    "RSS\x82\xCC\x8A\xEE\x96{\x8F\xEE\x95\xF1\x82\xF0\x8E\xE6\x93\xBE\x82\xB5\x82\xDC\x82\xB7\x81" "B";  // RSSの基本情報を取得します。
constexpr char kItemName[] = "RSS\x8BL\x8E\x96\x8F\xEE\x95\xF1\x8E\xE6\x93\xBE";  // RSS記事情報取得
constexpr char kItemDescription[] =
    "RSS\x82\xCC\x8C\xC2\x81X\x82\xCC\x8BL\x8E\x96\x8F\xEE\x95\xF1\x82\xF0\x8E\xE6\x93\xBE\x82\xB5\x82\xDC\x82\xB7\x81" "B";  // RSSの個々の記事情報を取得します。

constexpr int32_t kSettingCountAtLoad = 1000;

template <size_t N, size_t M>
void CopyField(char (&field)[N], const char (&text)[M]) {
    static_assert(M <= N, "text does not fit its field");
    std::memset(field, 0, N);
    std::memcpy(field, text, M);
}

PluginInfo MakePluginInfo() {
    PluginInfo info;
    std::memset(&info, 0, sizeof info);
    CopyField(info.name, kPluginName);
    CopyField(info.version, FEEDLET_VERSION_TEXT);
    CopyField(info.description, kPluginDescription);
    CopyField(info.copyright, FEEDLET_COPYRIGHT);
    CopyField(info.homepage, FEEDLET_HOMEPAGE);
    CopyField(info.email, "feedlet@feedlet.invalid");
    info.function_count = 2;
    info.host_word1 = 1;
    info.host_word2 = 0;
    return info;
}

template <size_t N1, size_t N2>
FuncInfo MakeFuncInfo(const char (&name)[N1], const char (&description)[N2]) {
    FuncInfo info;
    std::memset(&info, 0, sizeof info);
    CopyField(info.name, name);
    CopyField(info.description, description);
    info.setting_count = kSettingCountAtLoad;
    info.host_word1 = 1;
    info.host_word2 = 0;
    return info;
}

const PluginInfo g_plugin_info = MakePluginInfo();
FuncInfo g_function_info[2] = {MakeFuncInfo(kInfoName, kInfoDescription),
                               MakeFuncInfo(kItemName, kItemDescription)};

}  // namespace

const PluginInfo& CurrentPluginInfo() { return g_plugin_info; }

FuncInfo* FunctionInfo(int number) {
    if (number != kFunctionInfo && number != kFunctionItem) return nullptr;
    return &g_function_info[number - 1];
}

void ResetFunctionInfo() {
    g_function_info[0].setting_count = kSettingCountAtLoad;
    g_function_info[1].setting_count = kSettingCountAtLoad;
}

}  // namespace feedlet
