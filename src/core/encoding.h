// The text encodings the plugin reads and writes, in one place: code page 932
// lead bytes, the JIS X 0208 <-> Shift_JIS arithmetic, EUC-JP and ISO-2022-JP
// to Shift_JIS (and Shift_JIS to ISO-2022-JP), UTF-8 both ways, UTF-16
// surrogate pairs and ASCII case folding. Pure arithmetic on bytes and units:
// no OS call, no locale, nothing that differs between platforms. What only
// the OS's tables can do (code page 932 <-> UTF-16) is the platform's
// (platform.h); codepage.h puts the two together.
//
// Every engine function here reports a lack of memory by its result and
// throws nothing. The std::string helpers at the end are for the tools and
// tests, which may let std::bad_alloc end them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

namespace feedlet {

// ---------------------------------------------------------------------------
// Code page 932 (Windows-31J)

// The first byte of a double-byte character: 81..9F and E0..FC. (F0..F9 are
// the user-defined rows, FA..FC the IBM extensions.)
constexpr bool IsCp932LeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Length of the longest prefix of a NUL-terminated code page 932 text that
// fits in limit bytes without cutting a double-byte character in two (a lead
// byte 0x81-0x9F or 0xE0-0xFC and the byte after it stay together).
size_t Cp932Prefix(const char* text, size_t limit);

// ---------------------------------------------------------------------------
// JIS X 0208 and Shift_JIS

// The Shift_JIS pair of the JIS X 0208 code j1 j2 (each 21..7E). Other values
// go through the same arithmetic, cut to bytes: ISO-2022-JP text is not
// checked before it is converted.
void JisToShiftJis(unsigned j1, unsigned j2, char out[2]);

// The JIS X 0208 code of the Shift_JIS pair s1 s2, s1 a lead byte of a JIS
// X 0208 row (81..9F, E0..EF).
void ShiftJisToJis(unsigned s1, unsigned s2, char out[2]);

// EUC-JP to Shift_JIS. output must have room for length + 1 bytes: the
// result is never longer than the input, and is NUL-terminated. Returns the
// number of bytes written before the terminator. A pair of bytes A1..FE is a
// JIS X 0208 character; 8E and the byte after it (any byte) a half-width
// katakana; every other byte, 8F included, is copied as it is.
size_t EucJpToShiftJis(char* output, const char* input, size_t length);

// ISO-2022-JP (JIS X 0208 under escape sequences) to Shift_JIS, which maps
// it arithmetically: the characters are then those of code page 932 (the
// fullwidth tilde, not the wave dash), exactly as Windows' code page 50220
// gives them. Understands ESC $ @ and ESC $ B (JIS X 0208), ESC ( B and
// ESC ( J (Roman), ESC ( I and SO/SI (half-width katakana); other bytes,
// zero bytes included, are copied. In JIS X 0208 mode a byte 21..7E takes
// the byte after it, whatever that is. output must have room for length + 1
// bytes (the result is never longer than the input) and is NUL-terminated;
// returns the number of bytes written before the terminator.
size_t Iso2022JpToShiftJis(char* output, const char* input, size_t length);

// Shift_JIS to ISO-2022-JP: JIS X 0208 characters between ESC $ B and ESC ( B,
// each half-width katakana between ESC ( I and ESC ( B, every other byte
// (lead bytes F0..FC, which have no JIS X 0208 row, included) copied. With a
// null output only measures. Returns the number of bytes of the result (no
// terminator is written: a zero byte in the input is copied like any other).
size_t ShiftJisToIso2022Jp(char* output, const char* input, size_t length);

// ---------------------------------------------------------------------------
// UTF-16

constexpr bool IsHighSurrogate(uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool IsLowSurrogate(uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
constexpr bool IsSurrogate(uint32_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

// Writes a code point (at most U+10FFFF) as one unit, or as a surrogate pair
// when it lies beyond U+FFFF. Returns the number of units written.
inline size_t EncodeUtf16(uint32_t code_point, char16_t out[2]) {
    if (code_point <= 0xFFFF) {
        out[0] = static_cast<char16_t>(code_point);
        return 1;
    }
    code_point -= 0x10000;
    out[0] = static_cast<char16_t>(0xD800 + (code_point >> 10));
    out[1] = static_cast<char16_t>(0xDC00 + (code_point & 0x3FF));
    return 2;
}

// The code point at p (p[0] not the terminator) and the number of units it
// takes: 2 for a surrogate pair, else 1. A lone surrogate comes back as
// itself, so the caller decides what it becomes. p[1] is read only after a
// high surrogate, and a terminator there is simply not a low one.
inline size_t NextUtf16(const char16_t* p, uint32_t* code_point) {
    if (IsHighSurrogate(p[0]) && IsLowSurrogate(p[1])) {
        *code_point = 0x10000 + ((static_cast<uint32_t>(p[0]) - 0xD800) << 10) + (p[1] - 0xDC00u);
        return 2;
    }
    *code_point = p[0];
    return 1;
}

// ---------------------------------------------------------------------------
// UTF-8

// UTF-8 bytes up to the first zero byte as a new malloc'd, NUL-terminated
// UTF-16 text (null bytes read as ""). Characters beyond U+FFFF become
// surrogate pairs. A malformed sequence (a stray continuation byte, a
// truncated sequence, an overlong form, an encoded surrogate, anything above
// U+10FFFF, the bytes C0, C1 and F5..FF) becomes one U+FFFD per maximal
// subpart, as the Unicode Standard recommends, and never swallows the byte
// that ends it. Null only when memory runs out.
char16_t* DecodeUtf8(const char* bytes);
// The same, with the number of units of the result (not counting the
// terminator) in *units when units is not null.
char16_t* DecodeUtf8(const char* bytes, size_t* units);

// The UTF-8 bytes of a code point up to U+10FFFF; a surrogate code point is
// written in the three-byte form it would have (callers that must not keep
// lone surrogates replace them first). Returns the number of bytes, 1..4.
inline size_t EncodeUtf8(uint32_t code_point, char out[4]) {
    if (code_point < 0x80) {
        out[0] = static_cast<char>(code_point);
        return 1;
    }
    if (code_point < 0x800) {
        out[0] = static_cast<char>(0xC0 | (code_point >> 6));
        out[1] = static_cast<char>(0x80 | (code_point & 0x3F));
        return 2;
    }
    if (code_point < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (code_point >> 12));
        out[1] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (code_point & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (code_point >> 18));
    out[1] = static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (code_point & 0x3F));
    return 4;
}

// ---------------------------------------------------------------------------
// ASCII case folding: only A..Z fold, as the C run-time's case-insensitive
// functions do in the C locale, which the plugin never leaves for LC_CTYPE.
// Units are compared as unsigned values (char as unsigned char), so a byte
// or unit beyond ASCII only ever equals itself.

template <typename Unit>
constexpr uint32_t AsciiLower(Unit c) {
    uint32_t value = static_cast<typename std::make_unsigned<Unit>::type>(c);
    return (value >= 'A' && value <= 'Z') ? value + ('a' - 'A') : value;
}

// Whole texts (both NUL-terminated): the difference of the first pair of
// folded units that differ, 0 when none does (as _wcsicmp and _stricmp).
template <typename Left, typename Right>
int32_t CompareIgnoringAsciiCase(const Left* left, const Right* right) {
    for (;; ++left, ++right) {
        uint32_t a = AsciiLower(*left), b = AsciiLower(*right);
        if (a != b || a == 0) return static_cast<int32_t>(a) - static_cast<int32_t>(b);
    }
}

// Whether text begins with prefix (both NUL-terminated; the comparison stops
// at text's terminator, which no prefix unit equals).
template <typename Text, typename Prefix>
bool StartsWithIgnoringAsciiCase(const Text* text, const Prefix* prefix) {
    for (; *prefix; ++text, ++prefix)
        if (AsciiLower(*text) != AsciiLower(*prefix)) return false;
    return true;
}

// ---------------------------------------------------------------------------
// For the tools and tests (std::string may throw std::bad_alloc).

void AppendUtf8(std::string& out, uint32_t code_point);

enum class LoneSurrogates {
    kReplace,  // each becomes U+FFFD (text for people)
    kKeep,     // each keeps its three-byte form (text compared exactly)
};
// The first length units of text as UTF-8.
std::string Utf16ToUtf8(const char16_t* text, size_t length, LoneSurrogates lone);

}  // namespace feedlet
