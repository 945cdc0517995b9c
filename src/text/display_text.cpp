#include "text/display_text.h"

#include <cstring>

#include "config/configuration.h"
#include "core/encoding.h"
#include "core/text_field.h"
#include "feed/feed_document.h"
#include "fetch/feed_crawler.h"
#include "platform/platform.h"
#include "text/time_utils.h"

namespace feedlet {

// The date tokens without a pattern are made in code: "dt" picks its pattern
// by the article's age, "aaaa" and "aaa" are Japanese weekday characters,
// "pass" and "pa" elapsed-time texts.
const FormatToken kFormatTokens[kFormatTokenCount] = {
    {u"title", kTokenTitle, kMemberTitle, nullptr, u"RSS/記事のタイトル"},
    {u"description", kTokenDescription, kMemberDescription, nullptr, u"RSS/記事の説明"},
    {u"copyright", kTokenCopyright, kMemberCopyright, nullptr, u"RSS/記事の著作権情報"},
    {u"date", kTokenDate, kMemberTime, u"%c", u"RSS/記事の日付情報(システム)"},
    {u"dt", kTokenShortDate, kMemberTime, nullptr, u"RSS/記事の日付情報(短縮)"},
    {u"yyyy", kTokenYear, kMemberTime, u"%Y", u"RSS/記事の日付情報(4桁年)"},
    {u"yy", kTokenYearShort, kMemberTime, u"%y", u"RSS/記事の日付情報(2桁年)"},
    {u"m", kTokenMonth, kMemberTime, u"%m", u"RSS/記事の日付情報(月)"},
    {u"dddd", kTokenWeekday, kMemberTime, u"%A", u"RSS/記事の日付情報(曜日の英語)"},
    {u"ddd", kTokenWeekdayShort, kMemberTime, u"%a", u"RSS/記事の日付情報(曜日の英語短縮)"},
    {u"aaaa", kTokenWeekdayJapanese, kMemberTime, nullptr, u"RSS/記事の日付情報(曜日の日本語)"},
    {u"aaa", kTokenWeekdayJapaneseShort, kMemberTime, nullptr, u"RSS/記事の日付情報(曜日の日本語短縮)"},
    {u"dd", kTokenDay, kMemberTime, u"%d", u"RSS/記事の日付情報(日)"},
    {u"hh", kTokenHour, kMemberTime, u"%H", u"RSS/記事の日付情報(24時間表記時)"},
    {u"h12", kTokenHour12, kMemberTime, u"%I", u"RSS/記事の日付情報(12時間表記時)"},
    {u"AMPM", kTokenAmPm, kMemberTime, u"%p", u"RSS/記事の日付情報(AM/PM)"},
    {u"nn", kTokenMinute, kMemberTime, u"%M", u"RSS/記事の日付情報(分)"},
    {u"ss", kTokenSecond, kMemberTime, u"%S", u"RSS/記事の日付情報(秒)"},
    {u"pass", kTokenElapsed, kMemberTime, nullptr, u"RSS/記事の日付情報(経過時間詳細)"},
    {u"pa", kTokenElapsedShort, kMemberTime, nullptr, u"RSS/記事の日付情報(経過時間簡易)"},
};

namespace {

constexpr size_t kValueCapacity = 1024;  // units: the longest value a token produces

constexpr char16_t kJapaneseWeekdays[] = u"日月火水木金土";
constexpr char16_t kWeekdaySuffix[] = u"曜日";

// Length of the token name at p (ASCII case ignored), or 0 when it does not
// stand there in full.
size_t MatchToken(const char16_t* p, const char16_t* name) {
    size_t i = 0;
    for (; name[i]; ++i)
        if (AsciiLower(p[i]) != AsciiLower(name[i])) return 0;  // the terminator never matches
    return i;
}

// Copies value (length units) as far as room allows, keeping the last unit
// of room for the terminator. Returns what the caller counts: the full length
// when measuring, the stored length when filling.
size_t Emit(const char16_t* value, size_t length, char16_t* out, size_t room) {
    if (room == 0 || !out) return length;
    size_t n = length < room - 1 ? length : room - 1;
    if (n) std::memcpy(out, value, n * sizeof(char16_t));
    return n;
}

// The row of an id, or null for an id no token has.
const FormatToken* TokenOfId(int id) {
    for (const FormatToken& token : kFormatTokens)
        if (token.id == id) return &token;
    return nullptr;
}

// "dt": the year for dates more than a year away (either way), the day for
// those more than a day away, else the time of day.
const char16_t* ShortDatePattern(const FeedTime* time, PluginTime now) {
    constexpr int64_t kYearSeconds = 365 * 86400;
    constexpr int64_t kDaySeconds = 86400;
    int64_t age = static_cast<int64_t>(time->when) - now;
    if (age < 0) age = -age;
    return age > kYearSeconds ? u"%Y." : age > kDaySeconds ? u"%m/%d" : u"%H:%M";
}

size_t ElapsedValue(const FeedTime* time, int id, PluginTime now, char16_t* out, size_t room) {
    int64_t difference = static_cast<int64_t>(now) - time->when;
    bool future = difference < 0;
    auto seconds = static_cast<uint32_t>(future ? -difference : difference);
    char narrow[kElapsedTextCapacity + 1];
    char* text = narrow;
    if (future) *text++ = '-';
    size_t capacity = sizeof narrow - static_cast<size_t>(text - narrow);
    if (id == kTokenElapsed)
        ElapsedText(seconds, kElapsedWeeks | kElapsedDays | kElapsedHours | kElapsedMinutes | kElapsedSeconds,
                    text, capacity);
    else
        ElapsedTextSingle(seconds, text, capacity);
    // The unit words are code page 932 whatever the system's ANSI code page.
    char16_t wide[kElapsedTextCapacity + 2];
    int units = platform::MultiByteToUtf16(platform::kCodePageShiftJis, narrow,
                                           static_cast<int>(std::strlen(narrow)), wide,
                                           static_cast<int>(sizeof wide / sizeof wide[0]));
    return Emit(wide, units > 0 ? static_cast<size_t>(units) : 0, out, room);
}

size_t DateValue(const FeedTime* time, const FormatToken& token, const TimeZoneEntry* zone, PluginTime now,
                 char16_t* out, size_t room) {
    CalendarFields fields;
    bool shifted = zone ? ShiftToZone(time, kZoneGiven, zone->offset, &fields)
                        : ShiftToZone(time, kZoneOwn, 0, &fields);
    if (!shifted) return 0;
    if (token.id == kTokenWeekdayJapanese || token.id == kTokenWeekdayJapaneseShort) {
        char16_t value[3] = {kJapaneseWeekdays[fields.weekday % 7], kWeekdaySuffix[0], kWeekdaySuffix[1]};
        return Emit(value, token.id == kTokenWeekdayJapanese ? 3 : 1, out, room);
    }
    const char16_t* pattern = token.id == kTokenShortDate ? ShortDatePattern(time, now) : token.pattern;
    if (!pattern) return 0;
    char16_t value[kValueCapacity];
    size_t length = platform::FormatTime(value, kValueCapacity, pattern, fields);
    return Emit(value, length, out, room);
}

// The value of one row's token for record.
size_t RowValue(const FeedArticle* record, const FormatToken& token, const TimeZoneEntry* zone, PluginTime now,
                char16_t* out, size_t room) {
    if (token.member != kMemberTime) {
        const char16_t* text = record->WideText(token.member);
        return text ? Emit(text, Utf16Length(text), out, room) : 0;
    }
    const FeedTime* time = record->Time();
    if (!time) return 0;
    if (token.id == kTokenElapsed || token.id == kTokenElapsedShort)
        return ElapsedValue(time, token.id, now, out, room);
    return DateValue(time, token, zone, now, out, room);
}

}  // namespace

size_t TokenValue(const FeedArticle* record, int id, const TimeZoneEntry* zone, PluginTime now,
                  char16_t* out, size_t room) {
    const FormatToken* token = TokenOfId(id);
    if (!record || !token) return 0;
    return RowValue(record, *token, zone, now, out, room);
}

size_t ExpandFormat(const FeedArticle* record, const char16_t* format, const TimeZoneEntry* zone,
                    PluginTime now, char16_t* out, size_t room) {
    if (!format || !*format) return 0;
    bool filling = room > 0 && out;
    size_t count = 0;
    const char16_t* p = format;
    while (*p) {
        if (filling && count >= room - 1) break;
        if (*p != u'%') {
            if (filling) out[count] = *p;
            ++count;
            ++p;
            continue;
        }
        if (p[1] == u'%') {
            if (filling) out[count] = u'%';
            ++count;
            p += 2;
            continue;
        }
        ++p;  // past the '%'
        for (const FormatToken& token : kFormatTokens) {
            size_t length = MatchToken(p, token.name);
            if (!length) continue;
            p += length;
            if (record)
                count += RowValue(record, token, zone, now, filling ? out + count : nullptr,
                                  filling ? room - count : 0);
            break;
        }
        // No token matched: the '%' is dropped and what follows is ordinary text.
    }
    return count;
}

namespace {

bool Selected(const DisplaySetting* s, const FeedArticle* article, PluginTime now) {
    if ((s->flag & 7) != kConditionRecent) return true;
    const FeedTime* time = article->Time();
    // Future dates (negative age) are included.
    return time && static_cast<int64_t>(now) - time->when <= s->time;
}

int ArticleText(const DisplaySetting* s, const FeedDocument* document, PluginTime now, char16_t* buffer,
                size_t size) {
    if (!document || !document->articles) return 0;
    const char16_t* split = s->split.Wide();
    size_t split_length = Utf16Length(split);
    uint8_t condition = s->flag & 7;
    size_t count = 0;
    int32_t index = 0;
    for (const FeedArticle* article : document->articles->As<FeedArticle>()) {
        int32_t i = index++;
        if (condition == kConditionLatest && i == 1) break;
        if (condition == kConditionCount && static_cast<uint32_t>(i) >= s->num) break;
        if (!article || !Selected(s, article, now)) continue;
        if (count > 0)  // separators only between produced pieces
            count += size ? Emit(split, split_length, buffer + count, size - count) : split_length;
        count += size ? ExpandFormat(article, s->format.Wide(), s->zone, now, buffer + count, size - count)
                      : ExpandFormat(article, s->format.Wide(), s->zone, now, nullptr, 0);
        if (size && count >= size - 1) break;  // full: nothing more can be stored
    }
    return static_cast<int>(count);
}

// Results for "no text": measure mode answers with just the terminator.
int Nothing(int size, int measured) { return size == 0 ? measured : 0; }

}  // namespace

int GetTextForSetting(int number, const DisplaySetting* s, PluginTime now, char16_t* buffer, int size) {
    if (size < 0 || (size > 0 && !buffer)) return 0;
    if (size > 0) std::memset(buffer, 0, static_cast<size_t>(size) * sizeof(char16_t));
    if (!s || (number != 1 && number != 2)) return Nothing(size, number == 1 || number == 2 ? 0 : 1);
    FeedCrawler* crawler = s->crawler;
    int busy_result = number == 1 ? 1 : 0;
    if (!crawler) return Nothing(size, busy_result);
    // Never wait for a fetch: a busy feed simply shows nothing this time.
    if (crawler->mutex.IsCreated() && !crawler->mutex.TryLock()) return Nothing(size, busy_result);
    int count;
    auto room = static_cast<size_t>(size);
    if (number == 1) {
        if (!crawler->document) {
            Unlock(crawler);
            return Nothing(size, 1);
        }
        count = static_cast<int>(ExpandFormat(&crawler->document->channel, s->format.Wide(), s->zone, now,
                                              size ? buffer : nullptr, room));
    } else {
        count = ArticleText(s, crawler->document, now, buffer, room);
    }
    Unlock(crawler);
    return size == 0 ? count + 1 : count;
}

int GetText(const Configuration& config, int number, int setting, char16_t* buffer, int size) {
    return GetTextAt(config, number, setting, buffer, size, CurrentTime());
}

int GetTextAt(const Configuration& config, int number, int setting, char16_t* buffer, int size,
              PluginTime now) {
    if (size < 0 || (size > 0 && !buffer)) return 0;
    const ItemList* list = config.SettingsOf(number);
    // Checked before the index is formed: setting - 1 overflows for the
    // lowest int.
    const auto* s = (list && setting >= 1) ? list->At<DisplaySetting>(setting - 1) : nullptr;
    if (!s) {
        if (size > 0) std::memset(buffer, 0, static_cast<size_t>(size) * sizeof(char16_t));
        return (!list && size == 0) ? 1 : 0;
    }
    return GetTextForSetting(number, s, now, buffer, size);
}

}  // namespace feedlet
