#include "feed/feed_date.h"

#include <climits>
#include <cstddef>
#include <cstdint>

#include "core/encoding.h"
#include "feed/xml_internal.h"

namespace feedlet {

namespace {

// White space as the C run-time's iswspace sees it on Windows, where token
// splitting and number reading come from (so a full-width space separates
// RFC 822 fields too); the XML reader uses the same notion.
bool IsSpace(char16_t c) { return xml_detail::IsSpaceUnit(c); }  // IsXmlSpace, inline
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// The leading number of a text the way _wtoi reads it: white space, an
// optional sign, decimal digits; 0 when there are none. Beyond the int range
// it saturates, as the Windows C library does, so a hostile run of digits
// cannot overflow anything downstream.
int32_t LeadingNumber(const char16_t* p) {
    while (IsSpace(*p)) ++p;
    bool negative = false;
    if (*p == u'+' || *p == u'-') negative = *p++ == u'-';
    int64_t value = 0;
    for (; IsDigit(*p); ++p) {
        value = value * 10 + (*p - u'0');
        if (value > static_cast<int64_t>(INT32_MAX) + 1) value = static_cast<int64_t>(INT32_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    return static_cast<int32_t>(value);
}

const char16_t* FindChar(const char16_t* p, char16_t c) {
    for (; *p; ++p)
        if (*p == c) return p;
    return nullptr;
}

int64_t Clamp32(int64_t value) {
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return value;
}

// The instant of UTC-converted calendar fields. The zone is taken off the
// minutes, exactly as if it had been subtracted from the minute field before
// normalising, but in 64 bits so that no combination of saturated fields can
// overflow; the range cut is that of every plugin time.
FeedTime MakeFeedTime(CalendarFields fields, int64_t zone_offset) {
    FeedTime result;
    result.zone_offset = static_cast<int32_t>(Clamp32(zone_offset));
    const int64_t seconds = EpochSecondsFromFields(fields) - static_cast<int64_t>(result.zone_offset) * 60;
    result.when = (seconds < 0 || seconds > INT32_MAX) ? -1 : static_cast<PluginTime>(seconds);
    return result;
}

// ---------------------------------------------------------------------------
// RFC 822: [weekday ","] day month year time zone

// Month names, matched against the whole token: "May" matches, "Sept" and
// "March" do not.
constexpr const char* kMonthNames[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                       "jul", "aug", "sep", "oct", "nov", "dec"};

struct ZoneName {
    const char* name;  // lower case
    int hours;
};
// The zones RFC 822 names, military ones included.
constexpr ZoneName kZoneNames[] = {
    {"ut", 0},   {"gmt", 0},  {"est", -5}, {"edt", -4}, {"cst", -6}, {"cdt", -5}, {"mst", -7},
    {"mdt", -6}, {"pst", -8}, {"pdt", -7}, {"a", -1},   {"m", -12},  {"n", 1},    {"y", 12},
};

// One white-space-separated token, at most 9 characters.
constexpr size_t kTokenCapacity = 10;
struct Token {
    char16_t text[kTokenCapacity] = {};
    size_t length = 0;
};

// Reads the next token at *cursor. A longer token keeps its first 9
// characters and the rest of it is skipped, so it cannot spill over into the
// next field (a time such as "10:00:00.000" still reads as 10:00:00).
Token NextToken(const char16_t** cursor) {
    const char16_t* p = *cursor;
    while (IsSpace(*p)) ++p;
    Token token;
    for (; *p && !IsSpace(*p); ++p)
        if (token.length < kTokenCapacity - 1) token.text[token.length++] = *p;
    *cursor = p;
    return token;
}

// The number written by at most two characters of token from position from
// (characters beyond the token's end are absent).
int32_t TwoCharacterNumber(const Token& token, size_t from) {
    char16_t pair[3] = {};
    for (size_t i = 0; i < 2 && from + i < token.length; ++i) pair[i] = token.text[from + i];
    return LeadingNumber(pair);
}

int64_t Rfc822ZoneOffset(const Token& zone) {
    for (const ZoneName& entry : kZoneNames)
        if (CompareIgnoringAsciiCase(zone.text, entry.name) == 0) return entry.hours * 60;
    if (zone.text[0] != u'+' && zone.text[0] != u'-') return 0;  // "JST", "Z", nothing
    const int64_t minutes = static_cast<int64_t>(TwoCharacterNumber(zone, 1)) * 60 + TwoCharacterNumber(zone, 3);
    return zone.text[0] == u'-' ? -minutes : minutes;
}

FeedTime ParseRfc822(const char16_t* text) {
    // The weekday, when written, ends at the first comma; it is never checked.
    if (const char16_t* comma = FindChar(text, u',')) text = comma + 1;
    const Token day = NextToken(&text);
    const Token month = NextToken(&text);
    const Token year = NextToken(&text);
    const Token time = NextToken(&text);
    const Token zone = NextToken(&text);

    CalendarFields fields;
    fields.day = LeadingNumber(day.text);
    fields.month = 1;  // an unknown month name means January
    for (int i = 0; i < 12; ++i)
        if (CompareIgnoringAsciiCase(month.text, kMonthNames[i]) == 0) {
            fields.month = i + 1;
            break;
        }
    fields.year = LeadingNumber(year.text);
    if (fields.year < 70) fields.year += 2000;
    else if (fields.year < 100) fields.year += 1900;
    fields.hour = LeadingNumber(time.text);
    fields.minute = 0;
    fields.second = 0;
    if (const char16_t* colon = FindChar(time.text, u':')) {
        fields.minute = LeadingNumber(colon + 1);
        if (const char16_t* second_colon = FindChar(colon + 1, u':')) fields.second = LeadingNumber(second_colon + 1);
    }
    return MakeFeedTime(fields, Rfc822ZoneOffset(zone));
}

// ---------------------------------------------------------------------------
// W3C date-time: YYYY[-MM[-DD]][Thh[:mm[:ss[.fff]]]][Z|(+|-)hh:mm]

// Whether text holds at least count characters (stopping at the terminator,
// so a short text is never read past its end).
bool HasLength(const char16_t* text, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (!text[i]) return false;
    return true;
}

int64_t W3cZoneOffset(const char16_t* from) {
    if (FindChar(from, u'Z')) return 0;
    const char16_t* sign = FindChar(from, u'+');
    if (!sign) sign = FindChar(from, u'-');
    if (!sign) return 0;
    // Without a ':' the zone is not in the W3C shape (+0900): read as UTC.
    const char16_t* colon = FindChar(sign + 1, u':');
    if (!colon) return 0;
    const int64_t minutes = static_cast<int64_t>(LeadingNumber(sign + 1)) * 60 + LeadingNumber(colon + 1);
    return *sign == u'-' ? -minutes : minutes;
}

FeedTime ParseW3c(const char16_t* text) {
    CalendarFields fields;
    fields.year = LeadingNumber(text);
    fields.month = 1;
    fields.day = 1;
    fields.hour = fields.minute = fields.second = 0;

    const char16_t* search = text;
    if (const char16_t* dash = FindChar(text, u'-')) {
        fields.month = LeadingNumber(dash + 1);
        if (const char16_t* second_dash = FindChar(dash + 1, u'-')) {
            fields.day = LeadingNumber(second_dash + 1);
            search = second_dash + 1;
        }
    }
    const char16_t* t = FindChar(search, u'T');
    if (!t) return MakeFeedTime(fields, 0);

    // Minutes and seconds are read only at the positions of a two-digit
    // hour and two-digit minutes; a one-digit hour leaves both at 0.
    const char16_t* last_read = t + 1;
    fields.hour = LeadingNumber(t + 1);
    if (HasLength(t, 4) && t[3] == u':') {
        last_read = t + 4;
        fields.minute = LeadingNumber(t + 4);
        if (HasLength(t, 7) && t[6] == u':') {
            last_read = t + 7;
            fields.second = LeadingNumber(t + 7);
        }
    }
    return MakeFeedTime(fields, W3cZoneOffset(last_read));
}

}  // namespace

FeedTime ParseFeedDate(const char16_t* text, int format) {
    if (!text) text = u"";
    return format == kDateW3c ? ParseW3c(text) : ParseRfc822(text);
}

}  // namespace feedlet
