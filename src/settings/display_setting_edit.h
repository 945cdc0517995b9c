// What the display setting dialog decides without a window: which setting
// its opening parameter names, the condition and period lists, which of the
// count and period fields a condition shows, and what OK stores from what
// was typed and chosen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "core/ui_text.h"

namespace feedlet {

// The opening parameter: kind × 65536 + index, the kind 1 (feed
// information, the Info settings) or 2 (articles, the Item settings), the
// index counting from 1 within the kind's list. The dialog keeps it as the
// text of an invisible label.
constexpr int ParameterKind(uint32_t parameter) { return static_cast<int>(parameter >> 16); }
constexpr int ParameterIndex(uint32_t parameter) { return static_cast<int>(parameter & 0xFFFFu); }
// Every kind but 1 edits an article setting.
constexpr bool IsArticleKind(uint32_t parameter) { return ParameterKind(parameter) != 1; }
// "0x%x", and back (base 16, "0x" optional; no digits read as 0).
std::string FormatDialogParameter(uint32_t parameter);
uint32_t ParseDialogParameter(const char16_t* text);
// The setting the parameter names: kind 1 in info_settings, any other kind
// in item_settings, at index - 1; null when there is none.
DisplaySetting* FindEditedSetting(const Configuration& config, uint32_t parameter);

// Edit limits, in characters.
constexpr int kNameCharacters = 256;
constexpr int kSplitCharacters = 16;
constexpr int kFormatCharacters = 1024;
constexpr int kCountCharacters = 2;
constexpr int kMinArticleCount = 1;
constexpr int kMaxArticleCount = 99;

// The condition list, in this order.
struct ConditionChoice {
    UiText text;
    uint8_t value;
};
constexpr size_t kConditionChoiceCount = 4;
extern const ConditionChoice kConditionChoices[kConditionChoiceCount];
// The row of the flag's condition (bits 0-2), or -1 when the value is not
// in the list (3, 5, 6, 7).
int ConditionChoiceIndex(uint8_t flag);

// What shares the place beside the condition list: the count (condition 1),
// the period list (condition 2), or nothing.
enum class AmountField { kNone, kCount, kPeriod };
AmountField AmountFieldFor(int condition);
// The label over that place, code page 932: "記事数(&D)" for the count,
// "期間(&D)" for the period; null for nothing.
const char* AmountLabel(AmountField field);

// The period list: the interval table, and a period missing from it
// appended with its ElapsedText (weeks, days, hours and minutes; in seconds
// when it is a minute or less, which those units would leave empty).
struct PeriodChoice {
    std::string text;  // code page 932
    int32_t seconds;
};
struct PeriodList {
    std::vector<PeriodChoice> choices;
    int selected = -1;
};
PeriodList PeriodChoices(int32_t period);

// The count as typed: 0 (and text that is no number) becomes 1, more than
// 99 becomes 99; a negative number counts as a large unsigned value and so
// becomes 99 too.
uint32_t TypedArticleCount(const char16_t* text);

// What a double click on a row of the token list inserts: "%" and the
// token's name; empty for a row that does not exist.
std::u16string TokenInsertion(int row);

// What OK reads from the dialog's controls.
struct DisplaySettingEdit {
    std::u16string name;
    const void* target = nullptr;  // the chosen target's item data; null when none is selected
    int condition = -1;            // the chosen condition's value; -1 when none is selected
    bool period_chosen = false;
    int32_t period = 0;
    std::u16string count;          // the count edit's text
    std::u16string split;
    std::u16string format;
    const void* zone = nullptr;    // the chosen zone's item data; null for the feed's own zone
};

// OK: stores the edit into the setting the parameter names, marks it dirty
// and writes the dirty settings to Setting.ini. The name is kept to 253
// bytes of code page 932, the separator to 14 and the format to 1022 (what
// the file reads back, dialog_text.h), never splitting a character. The target is the
// chosen feed, or none when the item data names no registered feed
// (nothing selected: the setting had no target, or its feed was deleted
// through Manage). The zone is a listed zone or none. Only an article
// setting takes the condition (merged into bits 0-2 of the flag, the other
// bits kept; with no condition chosen the flag stays as it is), the period
// (when one is chosen), the count and the separator. False, with nothing
// stored, when the parameter names no setting.
bool StoreDisplaySetting(Configuration& config, uint32_t parameter, const DisplaySettingEdit& edit);

}  // namespace feedlet
