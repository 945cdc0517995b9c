// Display text: a display setting rendered into the UTF-16 line the host
// paints. Format strings hold tokens such as %title, %hh:%nn or %pass.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/plugin_time.h"
#include "feed/feed_document.h"

namespace feedlet {

struct TimeZoneEntry;
struct DisplaySetting;
struct Configuration;

// Article conditions: bits 0-2 of a display setting's flag. 3, 5, 6 and 7
// select every article, like kConditionAll.
enum ArticleCondition : uint8_t {
    kConditionLatest = 0,   // only the first article of the list
    kConditionCount = 1,    // the first `num` articles
    kConditionRecent = 2,   // articles at most `time` seconds old
    kConditionAll = 4,      // every article
};

// What a format token produces: the id TokenValue takes. Ids are not the
// rows of the matching order ("dd" is id 8 but is tried after "aaa").
enum TokenId : int {
    kTokenTitle = 0,
    kTokenDescription = 1,
    kTokenCopyright = 2,
    kTokenDate = 3,                  // the locale's date and time
    kTokenShortDate = 4,             // year, month/day or hour:minute by age
    kTokenYear = 5,
    kTokenYearShort = 6,
    kTokenMonth = 7,
    kTokenDay = 8,
    kTokenWeekday = 9,
    kTokenWeekdayShort = 10,
    kTokenWeekdayJapanese = 11,      // 土曜日
    kTokenWeekdayJapaneseShort = 12, // 土
    kTokenHour = 13,
    kTokenHour12 = 14,
    kTokenAmPm = 15,
    kTokenMinute = 16,
    kTokenSecond = 17,
    kTokenElapsed = 18,              // weeks down to seconds
    kTokenElapsedShort = 19,         // the largest unit only
};

struct FormatToken {
    const char16_t* name;     // matched ignoring ASCII case
    TokenId id;
    FeedMember member;        // the record member the value is made from
    const char16_t* pattern;  // wcsftime pattern of the value; null when it is made otherwise
    const char16_t* description;  // listed by the display setting dialog and the guide
};
constexpr size_t kFormatTokenCount = 20;
// The tokens in matching order (the first match wins).
extern const FormatToken kFormatTokens[kFormatTokenCount];

// The text of function 1 (feed information) or 2 (article information) for
// the 1-based setting. size 0 measures: the result then includes the
// terminator. Otherwise buffer (size units) is zero-filled, at most size - 1
// units of text are stored, and the number stored is returned. A negative
// size writes nothing and gives 0.
int GetText(const Configuration& config, int number, int setting, char16_t* buffer, int size);
// The same with the current time given (tests, tools).
int GetTextAt(const Configuration& config, int number, int setting, char16_t* buffer, int size,
              PluginTime now);

// The same for a given setting (the feedlet-tool and tests path): function
// 1 expands the channel once, function 2 the selected articles.
int GetTextForSetting(int number, const DisplaySetting* setting, PluginTime now, char16_t* buffer,
                      int size);

// Expands format for one record. room counts the units left in out including
// the terminator's; room 0 (out unused) only measures and returns the full
// length. In fill mode the result is the number of units stored.
size_t ExpandFormat(const FeedArticle* record, const char16_t* format, const TimeZoneEntry* zone,
                    PluginTime now, char16_t* out, size_t room);

// The value of one token: copied into out as far as room allows (room as
// above); returns the full length when measuring, the stored length when
// filling.
size_t TokenValue(const FeedArticle* record, int id, const TimeZoneEntry* zone, PluginTime now,
                  char16_t* out, size_t room);

}  // namespace feedlet
