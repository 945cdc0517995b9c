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
    // RSS/記事のタイトル
    {u"title", kTokenTitle, kMemberTitle, nullptr,
     "RSS/\x8BL\x8E\x96\x82\xCC\x83^\x83" "C\x83g\x83\x8B"},
    // RSS/記事の説明
    {u"description", kTokenDescription, kMemberDescription, nullptr,
     "RSS/\x8BL\x8E\x96\x82\xCC\x90\xE0\x96\xBE"},
    // RSS/記事の著作権情報
    {u"copyright", kTokenCopyright, kMemberCopyright, nullptr,
     "RSS/\x8BL\x8E\x96\x82\xCC\x92\x98\x8D\xEC\x8C\xA0\x8F\xEE\x95\xF1"},
    // RSS/記事の日付情報(システム)
    {u"date", kTokenDate, kMemberTime, u"%c",
     "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(\x83V\x83X\x83" "e\x83\x80)"},
    // RSS/記事の日付情報(短縮)
    {u"dt", kTokenShortDate, kMemberTime, nullptr,
     "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(\x92Z\x8Fk)"},
    // RSS/記事の日付情報(4桁年)
    {u"yyyy", kTokenYear, kMemberTime, u"%Y",
     "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(4\x8C\x85\x94N)"},
    // RSS/記事の日付情報(2桁年)
    {u"yy", kTokenYearShort, kMemberTime, u"%y",
     "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(2\x8C\x85\x94N)"},
    // RSS/記事の日付情報(月)
    {u"m", kTokenMonth, kMemberTime, u"%m",
     "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(\x8C\x8E)"},
    // RSS/記事の日付情報(曜日の英語)
    {u"dddd", kTokenWeekday, kMemberTime, u"%A",
     "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(\x97j\x93\xFA\x82\xCC\x89p\x8C\xEA)"},
    // RSS/記事の日付情報(曜日の英語短縮)
    {u"ddd", kTokenWeekdayShort, kMemberTime, u"%a",
     "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(\x97j\x93\xFA\x82\xCC\x89p\x8C\xEA\x92Z\x8Fk)"},
    // RSS/記事の日付情報(曜日の日本語)
    {u"aaaa", kTokenWeekdayJapanese, kMemberTime, nullptr,
     "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(\x97j\x93\xFA\x82\xCC\x93\xFA\x96{\x8C\xEA)"},
    // RSS/記事の日付情報(曜日の日本語短縮)
    {u"aaa", kTokenWeekdayJapaneseShort, kMemberTime, nullptr,
     "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(\x97j\x93\xFA\x82\xCC\x93\xFA\x96{\x8C\xEA\x92Z\x8Fk)"},
    // RSS/記事の日付情報(日)
    {u"dd", kTokenDay, kMemberTime, u"%d",
     "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(\x93\xFA)"},
    // RSS/記事の日付情報(24時間表記時)
    {u"hh", kTokenHour, kMemberTime, u"%H",
     "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(24\x8E\x9E\x8A\xD4\x95\x5C\x8BL\x8E\x9E)"},
    // RSS/記事の日付情報(12時間表記時)
    {u"h12", kTokenHour12, kMemberTime, u"%I",
     "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(12\x8E\x9E\x8A\xD4\x95\x5C\x8BL\x8E\x9E)"},
    // RSS/記事の日付情報(AM/PM)
    {u"AMPM", kTokenAmPm, kMemberTime, u"%p",
     "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(AM/PM)"},
    // RSS/記事の日付情報(分)
    {u"nn", kTokenMinute, kMemberTime, u"%M",
     "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(\x95\xAA)"},
    // RSS/記事の日付情報(秒)
    {u"ss", kTokenSecond, kMemberTime, u"%S",
     "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(\x95" "b)"},
    // RSS/記事の日付情報(経過時間詳細)
    {u"pass", kTokenElapsed, kMemberTime, nullptr,
     "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(\x8Co\x89\xDF\x8E\x9E\x8A\xD4\x8F\xDA\x8D\xD7)"},
    // RSS/記事の日付情報(経過時間簡易)
    {u"pa", kTokenElapsedShort, kMemberTime, nullptr,
     "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(\x8Co\x89\xDF\x8E\x9E\x8A\xD4\x8A\xC8\x88\xD5)"},
};

namespace {

constexpr size_t kValueCapacity = 1024;  // units: the longest value a token produces

constexpr char16_t kJapaneseWeekdays[7] = {u'\u65E5', u'\u6708', u'\u706B', u'\u6C34',
                                           u'\u6728', u'\u91D1', u'\u571F'};  // 日月火水木金土
constexpr char16_t kWeekdaySuffix[] = u"\u66DC\u65E5";                       // 曜日

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
