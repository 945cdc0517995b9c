#include "plugin/plugin_info.h"

#include <cstring>

#include "core/ui_text.h"
#include "feedlet_version.h"

namespace feedlet {

namespace {

constexpr int32_t kSettingCountAtLoad = 1000;

// An ASCII text of the build (the version, the publisher) into its field.
template <size_t N, size_t M>
void CopyField(char (&field)[N], const char (&text)[M]) {
    static_assert(M <= N, "text does not fit its field");
    std::memcpy(field, text, M);
}

PluginInfo MakePluginInfo() {
    PluginInfo info;
    std::memset(&info, 0, sizeof info);
    WriteUiText(info.name, u"RSS情報取得プラグイン");
    CopyField(info.version, FEEDLET_VERSION_TEXT);
    WriteUiText(info.description, u"指定URLのRSS情報を取得します。");
    CopyField(info.copyright, FEEDLET_COPYRIGHT);
    CopyField(info.homepage, FEEDLET_HOMEPAGE);
    CopyField(info.email, "feedlet@feedlet.invalid");
    info.function_count = 2;
    info.host_word1 = 1;
    info.host_word2 = 0;
    return info;
}

template <size_t N1, size_t N2>
FuncInfo MakeFuncInfo(const char16_t (&name)[N1], const char16_t (&description)[N2]) {
    FuncInfo info;
    std::memset(&info, 0, sizeof info);
    WriteUiText(info.name, name);
    WriteUiText(info.description, description);
    info.setting_count = kSettingCountAtLoad;
    info.host_word1 = 1;
    info.host_word2 = 0;
    return info;
}

// Made when the library is loaded, before the host can ask for them.
const PluginInfo g_plugin_info = MakePluginInfo();
FuncInfo g_function_info[2] = {MakeFuncInfo(u"RSS基本情報取得", u"RSSの基本情報を取得します。"),
                               MakeFuncInfo(u"RSS記事情報取得", u"RSSの個々の記事情報を取得します。")};

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
