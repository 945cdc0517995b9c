#include "settings/dialog_text.h"

#include "core/text_field.h"
#include "platform/platform.h"

namespace feedlet {

namespace {

// Bytes of the code page 932 form of length units of text.
size_t Cp932Length(const char16_t* text, size_t length) {
    if (length == 0) return 0;
    int n = platform::Utf16ToMultiByte(platform::kCodePageShiftJis, text, static_cast<int>(length), nullptr, 0);
    return n > 0 ? static_cast<size_t>(n) : 0;
}

bool IsCp932LeadByte(unsigned char byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

std::string Cp932Prefix(const char16_t* text, size_t max_bytes) {
    size_t length = text ? Utf16Length(text) : 0;
    size_t bytes = Cp932Length(text, length);
    if (bytes == 0) return std::string();
    std::string narrow(bytes, '\0');
    int n = platform::Utf16ToMultiByte(platform::kCodePageShiftJis, text, static_cast<int>(length), &narrow[0],
                                       static_cast<int>(bytes));
    narrow.resize(n > 0 ? static_cast<size_t>(n) : 0);
    size_t kept = 0;
    while (kept < narrow.size()) {
        size_t width = IsCp932LeadByte(static_cast<unsigned char>(narrow[kept])) ? 2 : 1;
        if (kept + width > max_bytes) break;
        kept += width;
    }
    narrow.resize(kept < narrow.size() ? kept : narrow.size());
    return narrow;
}

std::u16string FitToCp932(const char16_t* text, size_t max_bytes) {
    size_t length = text ? Utf16Length(text) : 0;
    if (Cp932Length(text, length) <= max_bytes) return std::u16string(text ? text : u"", length);
    // Too long: character by character (code page 932 has no shift state,
    // so the parts add up to the whole).
    size_t units = 0;
    size_t bytes = 0;
    while (units < length) {
        size_t width = (IsHighSurrogate(text[units]) && units + 1 < length && IsLowSurrogate(text[units + 1])) ? 2 : 1;
        size_t needed = Cp932Length(text + units, width);
        if (bytes + needed > max_bytes) break;
        bytes += needed;
        units += width;
    }
    return std::u16string(text, units);
}

long long ReadTypedNumber(const char16_t* text) {
    constexpr long long kCeiling = 1000000000000LL;
    if (!text) return 0;
    const char16_t* p = text;
    while (*p == u' ' || (*p >= u'\t' && *p <= u'\r')) ++p;
    bool negative = false;
    if (*p == u'+' || *p == u'-') negative = *p++ == u'-';
    long long value = 0;
    for (; *p >= u'0' && *p <= u'9'; ++p)
        if (value < kCeiling) value = value * 10 + (*p - u'0');
    return negative ? -value : value;
}

}  // namespace feedlet
