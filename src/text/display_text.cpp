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

const FormatToken kFormatTokens[20] = {
    // RSS/記事のタイトル
    {u"title", 0, "RSS/\x8BL\x8E\x96\x82\xCC\x83^\x83" "C\x83g\x83\x8B"},
    // RSS/記事の説明
    {u"description", 1, "RSS/\x8BL\x8E\x96\x82\xCC\x90\xE0\x96\xBE"},
    // RSS/記事の著作権情報
    {u"copyright", 2, "RSS/\x8BL\x8E\x96\x82\xCC\x92\x98\x8D\xEC\x8C\xA0\x8F\xEE\x95\xF1"},
    // RSS/記事の日付情報(システム)
    {u"date", 3, "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(\x83V\x83X\x83" "e\x83\x80)"},
    // RSS/記事の日付情報(短縮)
    {u"dt", 4, "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(\x92Z\x8Fk)"},
    // RSS/記事の日付情報(4桁年)
    {u"yyyy", 5, "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(4\x8C\x85\x94N)"},
    // RSS/記事の日付情報(2桁年)
    {u"yy", 6, "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(2\x8C\x85\x94N)"},
    // RSS/記事の日付情報(月)
    {u"m", 7, "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(\x8C\x8E)"},
    // RSS/記事の日付情報(曜日の英語)
    {u"dddd", 9, "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(\x97j\x93\xFA\x82\xCC\x89p\x8C\xEA)"},
    // RSS/記事の日付情報(曜日の英語短縮)
    {u"ddd", 10, "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(\x97j\x93\xFA\x82\xCC\x89p\x8C\xEA\x92Z\x8Fk)"},
    // RSS/記事の日付情報(曜日の日本語)
    {u"aaaa", 11, "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(\x97j\x93\xFA\x82\xCC\x93\xFA\x96{\x8C\xEA)"},
    // RSS/記事の日付情報(曜日の日本語短縮)
    {u"aaa", 12, "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(\x97j\x93\xFA\x82\xCC\x93\xFA\x96{\x8C\xEA\x92Z\x8Fk)"},
    // RSS/記事の日付情報(日)
    {u"dd", 8, "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(\x93\xFA)"},
    // RSS/記事の日付情報(24時間表記時)
    {u"hh", 13, "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(24\x8E\x9E\x8A\xD4\x95\x5C\x8BL\x8E\x9E)"},
    // RSS/記事の日付情報(12時間表記時)
    {u"h12", 14, "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(12\x8E\x9E\x8A\xD4\x95\x5C\x8BL\x8E\x9E)"},
    // RSS/記事の日付情報(AM/PM)
    {u"AMPM", 15, "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(AM/PM)"},
    // RSS/記事の日付情報(分)
    {u"nn", 16, "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(\x95\xAA)"},
    // RSS/記事の日付情報(秒)
    {u"ss", 17, "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(\x95" "b)"},
    // RSS/記事の日付情報(経過時間詳細)
    {u"pass", 18, "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(\x8Co\x89\xDF\x8E\x9E\x8A\xD4\x8F\xDA\x8D\xD7)"},
    // RSS/記事の日付情報(経過時間簡易)
    {u"pa", 19, "RSS/\x8BL\x8E\x96\x82\xCC\x93\xFA\x95t\x8F\xEE\x95\xF1(\x8Co\x89\xDF\x8E\x9E\x8A\xD4\x8A\xC8\x88\xD5)"},
};

namespace {

enum TokenId {
    kIdTitle = 0,
    kIdDescription = 1,
    kIdCopyright = 2,
    kIdDate = 3,
    kIdShortDate = 4,
    kIdWeekdayJapanese = 11,
    kIdWeekdayJapaneseShort = 12,
    kIdPass = 18,
    kIdPa = 19,
};

constexpr size_t kValueCapacity = 1024;  // units, as the token buffer always was

// wcsftime patterns of the date tokens by id (null: not a pattern token).
const char16_t* PatternOf(int id) {
    switch (id) {
        case 3: return u"%c";
        case 5: return u"%Y";
        case 6: return u"%y";
        case 7: return u"%m";
        case 8: return u"%d";
        case 9: return u"%A";
        case 10: return u"%a";
        case 13: return u"%H";
        case 14: return u"%I";
        case 15: return u"%p";
        case 16: return u"%M";
        case 17: return u"%S";
        default: return nullptr;
    }
}

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

const TextField* TextMember(const FeedArticle* record, int index) {
    return static_cast<const TextField*>(record->Member(index));
}

const FeedTime* TimeMember(const FeedArticle* record) {
    return static_cast<const FeedTime*>(record->Member(4));
}

size_t ElapsedValue(const FeedTime* time, int id, PluginTime now, char16_t* out, size_t room) {
    int64_t difference = static_cast<int64_t>(now) - time->when;
    bool future = difference < 0;
    auto seconds = static_cast<uint32_t>(future ? -difference : difference);
    char narrow[kElapsedTextCapacity + 1];
    char* text = narrow;
    if (future) *text++ = '-';
    size_t capacity = sizeof narrow - static_cast<size_t>(text - narrow);
    if (id == kIdPass)
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

size_t DateValue(const FeedTime* time, int id, const TimeZoneEntry* zone, PluginTime now, char16_t* out,
                 size_t room) {
    CalendarFields fields;
    bool shifted = zone ? ShiftToZone(time, kZoneGiven, zone->offset, &fields)
                        : ShiftToZone(time, kZoneOwn, 0, &fields);
    if (!shifted) return 0;
    if (id == kIdWeekdayJapanese || id == kIdWeekdayJapaneseShort) {
        char16_t value[3] = {kJapaneseWeekdays[fields.weekday % 7], kWeekdaySuffix[0], kWeekdaySuffix[1]};
        return Emit(value, id == kIdWeekdayJapanese ? 3 : 1, out, room);
    }
    const char16_t* pattern = PatternOf(id);
    if (id == kIdShortDate) {
        int64_t age = static_cast<int64_t>(time->when) - now;
        if (age < 0) age = -age;
        pattern = age > 31536000 ? u"%Y." : age > 86400 ? u"%m/%d" : u"%H:%M";
    }
    if (!pattern) return 0;
    char16_t value[kValueCapacity];
    size_t length = platform::FormatTime(value, kValueCapacity, pattern, fields);
    return Emit(value, length, out, room);
}

}  // namespace

size_t TokenValue(const FeedArticle* record, int id, const TimeZoneEntry* zone, PluginTime now,
                  char16_t* out, size_t room) {
    if (!record) return 0;
    if (id >= kIdTitle && id <= kIdCopyright) {
        const TextField* field = TextMember(record, id == kIdTitle ? 0 : id == kIdDescription ? 1 : 3);
        const char16_t* text = field ? field->Wide() : nullptr;
        return text ? Emit(text, Utf16Length(text), out, room) : 0;
    }
    const FeedTime* time = TimeMember(record);
    if (!time || id < kIdDate || id > kIdPa) return 0;
    if (id == kIdPass || id == kIdPa) return ElapsedValue(time, id, now, out, room);
    return DateValue(time, id, zone, now, out, room);
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
            count += TokenValue(record, token.id, zone, now, filling ? out + count : nullptr,
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
    const FeedTime* time = TimeMember(article);
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
