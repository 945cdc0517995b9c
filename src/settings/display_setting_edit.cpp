#include "settings/display_setting_edit.h"

#include <cstdio>
#include <cstring>

#include "settings/dialog_text.h"
#include "settings/intervals.h"
#include "settings/zone_choices.h"
#include "text/display_text.h"
#include "text/time_utils.h"

namespace feedlet {

const ConditionChoice kConditionChoices[kConditionChoiceCount] = {
    {UiText(u"最新のみ"), kConditionLatest},
    {UiText(u"指定記事数のみ"), kConditionCount},
    {UiText(u"指定時間内のみ"), kConditionRecent},
    {UiText(u"全ての記事"), kConditionAll},
};

namespace {

const UiText kCountLabel(u"記事数(&D)");
const UiText kPeriodLabel(u"期間(&D)");

// The crawler of a registered feed, or null: a list's item data is only
// trusted when it still names one.
FeedCrawler* RegisteredCrawler(const ItemList& feeds, const void* candidate) {
    if (!candidate) return nullptr;
    for (FeedEntry* entry : feeds.As<FeedEntry>())
        if (entry && entry->crawler == candidate) return entry->crawler;
    return nullptr;
}

void StoreText(TextField& field, const std::u16string& text) { field.AssignWide(text.c_str()); }

}  // namespace

std::string FormatDialogParameter(uint32_t parameter) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(parameter));
    return text;
}

uint32_t ParseDialogParameter(const char16_t* text) {
    if (!text) return 0;
    const char16_t* p = text;
    if (p[0] == u'0' && (p[1] == u'x' || p[1] == u'X')) p += 2;
    uint64_t value = 0;
    for (;; ++p) {
        int digit = (*p >= u'0' && *p <= u'9')   ? *p - u'0'
                    : (*p >= u'a' && *p <= u'f') ? *p - u'a' + 10
                    : (*p >= u'A' && *p <= u'F') ? *p - u'A' + 10
                                                 : -1;
        if (digit < 0) break;
        value = value * 16 + static_cast<uint64_t>(digit);
        if (value > 0xFFFFFFFFu) return 0;  // not a parameter this dialog ever wrote
    }
    return static_cast<uint32_t>(value);
}

DisplaySetting* FindEditedSetting(const Configuration& config, uint32_t parameter) {
    const ItemList& list = IsArticleKind(parameter) ? config.item_settings : config.info_settings;
    return list.At<DisplaySetting>(ParameterIndex(parameter) - 1);
}

int ConditionChoiceIndex(uint8_t flag) {
    for (size_t i = 0; i < kConditionChoiceCount; ++i)
        if (kConditionChoices[i].value == (flag & 7)) return static_cast<int>(i);
    return -1;
}

AmountField AmountFieldFor(int condition) {
    if (condition == kConditionCount) return AmountField::kCount;
    if (condition == kConditionRecent) return AmountField::kPeriod;
    return AmountField::kNone;
}

const char* AmountLabel(AmountField field) {
    switch (field) {
        case AmountField::kCount: return kCountLabel.Narrow();
        case AmountField::kPeriod: return kPeriodLabel.Narrow();
        default: return nullptr;
    }
}

PeriodList PeriodChoices(int32_t period) {
    PeriodList list;
    for (size_t i = 0; i < kIntervalCount; ++i)
        list.choices.push_back({kIntervalTable[i].text.Narrow(), static_cast<int32_t>(kIntervalTable[i].seconds)});
    for (size_t i = 0; i < list.choices.size(); ++i)
        if (list.choices[i].seconds == period) list.selected = static_cast<int>(i);
    if (list.selected >= 0) return list;
    char text[kElapsedTextCapacity];
    auto seconds = static_cast<uint32_t>(period);
    if (ElapsedText(seconds, kElapsedWeeks | kElapsedDays | kElapsedHours | kElapsedMinutes, text, sizeof text) == 0)
        ElapsedText(seconds, kElapsedSeconds, text, sizeof text);
    list.choices.push_back({text, period});
    list.selected = static_cast<int>(list.choices.size()) - 1;
    return list;
}

uint32_t TypedArticleCount(const char16_t* text) {
    long long count = ReadTypedNumber(text);
    if (count < 0 || count > kMaxArticleCount) return kMaxArticleCount;
    if (count == 0) return kMinArticleCount;
    return static_cast<uint32_t>(count);
}

std::u16string TokenInsertion(int row) {
    constexpr int kRows = static_cast<int>(sizeof kFormatTokens / sizeof kFormatTokens[0]);
    if (row < 0 || row >= kRows) return std::u16string();
    return u"%" + std::u16string(kFormatTokens[row].name);
}

bool StoreDisplaySetting(Configuration& config, uint32_t parameter, const DisplaySettingEdit& edit) {
    DisplaySetting* setting = FindEditedSetting(config, parameter);
    if (!setting) return false;
    std::string name = Cp932Prefix(edit.name.c_str(), kNameBytes);
    std::memcpy(setting->name, name.c_str(), name.size() + 1);
    setting->crawler = RegisteredCrawler(config.feeds, edit.target);
    if (IsArticleKind(parameter)) {
        if (edit.condition >= 0)
            setting->flag = static_cast<uint8_t>((setting->flag & ~7u) | (static_cast<unsigned>(edit.condition) & 7u));
        if (edit.period_chosen) setting->time = edit.period;
        setting->num = TypedArticleCount(edit.count.c_str());
        StoreText(setting->split, FitToCp932(edit.split.c_str(), kSplitBytes));
    }
    StoreText(setting->format, FitToCp932(edit.format.c_str(), kFormatBytes));
    setting->zone = ListedZone(config.time_zones, edit.zone);
    setting->dirty = 1;
    SaveDisplaySettings(config);
    return true;
}

}  // namespace feedlet
