// Conversions between code pages 932 / 50220 and UTF-16. The same expectations
// hold natively (iconv) and under Wine (the Windows conversion tables).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "core/codepage.h"
#include "core/encoding.h"
#include "core/ui_text.h"
#include "platform/memory.h"
#include "platform/platform.h"

using namespace feedlet;

namespace {

std::u16string ToUtf16(unsigned cp, const char* text) {
    char16_t* converted = CodePageToUtf16(cp, text);
    EXPECT_NE(converted, nullptr);
    std::u16string out = converted ? converted : u"";
    free(converted);
    return out;
}

std::string FromUtf16(unsigned cp, const char16_t* text) {
    char* converted = Utf16ToCodePage(cp, text);
    EXPECT_NE(converted, nullptr);
    std::string out = converted ? converted : "";
    free(converted);
    return out;
}

// The expectation of the platform under test, where the system's tables and
// iconv's legitimately differ.
template <typename Text>
Text OnThisPlatform(Text windows, Text posix) {
#ifdef _WIN32
    (void)posix;
    return windows;
#else
    (void)windows;
    return posix;
#endif
}

struct Row {
    const char* bytes;
    const char16_t* text;
};

// Code page 932 is Windows-31J: NEC and IBM extensions, and the Microsoft
// choices for the characters Shift_JIS tables disagree on.
const Row kShiftJisRows[] = {
    {"", u""},
    {"plain ASCII 123", u"plain ASCII 123"},
    {"\x93\x8C\x8B\x9E", u"\u6771\u4EAC"},                // 東京
    {"\x83J\x83^\x83J\x83i", u"\u30AB\u30BF\u30AB\u30CA"},  // カタカナ
    {"\xB6\xC0\xB6\xC5", u"\uFF76\uFF80\uFF76\uFF85"},    // half-width ｶﾀｶﾅ
    {"\x81\x60", u"\uFF5E"},                              // fullwidth tilde, not wave dash
    {"\x81\x7C", u"\uFF0D"},                              // fullwidth hyphen-minus
    {"\x87\x40", u"\u2460"},                              // ① (NEC row 13)
    {"\xFA\x40", u"\u2170"},                              // ⅰ (IBM extension)
    {"\x87\x54", u"\u2160"},                              // Ⅰ (NEC row 13)
    {"\x87\x8A", u"\u3231"},                              // ㈱
    {"\xFB\xFC", u"\u9AD9"},                              // 髙 (IBM extension)
    {"\x81\x61", u"\u2225"},                              // ∥ (Shift_JIS tables say U+2016)
    {"\x81\xCA", u"\uFFE2"},                              // ￢ (Shift_JIS tables say U+00AC)
    {"\x5C", u"\\"},                                      // 0x5C stays a backslash
    {"\x95\x5C", u"\u8868"},                              // 表: 0x5C as a trail byte
};

TEST(CodePageTest, ShiftJisBothWays) {
    for (const Row& row : kShiftJisRows) {
        SCOPED_TRACE(row.bytes);
        EXPECT_EQ(ToUtf16(platform::kCodePageShiftJis, row.bytes), row.text);
        EXPECT_EQ(FromUtf16(platform::kCodePageShiftJis, row.text), row.bytes);
    }
}

// Bytes that decode to a character whose own encoding is another code: the
// NEC-selected rows duplicate IBM extensions and symbols of row 2.
TEST(CodePageTest, DuplicateCodesDecodeToTheSameCharacter) {
    EXPECT_EQ(ToUtf16(932, "\xED\x40"), u"\u7E8A");  // 纊, encoded back as FA 5C
    EXPECT_EQ(FromUtf16(932, u"\u7E8A"), "\xFA\x5C");
    EXPECT_EQ(ToUtf16(932, "\x87\x90"), u"\u2252");  // ≒, encoded back as 81 E0
    EXPECT_EQ(FromUtf16(932, u"\u2252"), "\x81\xE0");
    EXPECT_EQ(ToUtf16(932, "\xEE\xF9"), u"\uFFE2");  // ￢ of the NEC-selected rows
}

// The plain Shift_JIS characters of the codes Windows-31J maps elsewhere.
TEST(CodePageTest, PlainShiftJisCharacters) {
    // Windows has no code for three of them and writes '?'; iconv's CP932
    // writes the code of the Windows-31J look-alike. Only text typed into a
    // separator or format reaches this direction, so the difference stays.
    struct {
        const char16_t* text;
        const char* windows;
        const char* posix;
    } rows[] = {
        {u"\u301C", "?", "\x81\x60"},          // 〜 wave dash
        {u"\u2212", "?", "\x81\x7C"},          // − minus sign
        {u"\u2016", "?", "\x81\x61"},          // ‖ double vertical line
        {u"\u00AC", "\x81\xCA", "\x81\xCA"},  // ¬ not sign: best fit on Windows
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.posix);
        EXPECT_EQ(FromUtf16(932, row.text), OnThisPlatform(row.windows, row.posix));
    }
}

// Bytes that are no character. The two platforms' tables legitimately
// differ on some of them; both are pinned here so neither changes unseen.
TEST(CodePageTest, BytesThatAreNoCharacter) {
    struct {
        const char* bytes;
        const char16_t* windows;
        const char16_t* posix;
    } rows[] = {
        {"\x85\x40", u"\u30FB", u"\u30FB"},        // unassigned pair: one for both bytes
        {"a\x81", u"a\u30FB", u"a\u30FB"},          // lead byte at the end
        {"\xEB\x40z", u"\u30FB" "z", u"\u30FB" "z"},
        {"\xF0\x40", u"\uE000", u"\uE000"},        // user-defined row: private use
        {"\x80", u"\u0080", u"\u30FB"},
        {"\xA0", u"\uF8F0", u"\u30FB"},
        {"\xFD\xFE\xFF", u"\uF8F1\uF8F2\uF8F3", u"\u30FB\u30FB\u30FB"},
        {"\x81 x", u"\u30FB" "x", u"\u30FB x"},      // a byte below 40 after a lead
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.bytes);
        EXPECT_EQ(ToUtf16(932, row.bytes), OnThisPlatform(row.windows, row.posix));
    }
}

TEST(CodePageTest, NullAndUnmappable) {
    EXPECT_EQ(CodePageToUtf16(932, nullptr), nullptr);
    EXPECT_EQ(Utf16ToCodePage(932, nullptr), nullptr);
    // A character code page 932 cannot hold becomes the default character,
    // one per UTF-16 unit. Windows first tries its best-fit table (é -> e);
    // iconv has none.
    EXPECT_EQ(FromUtf16(932, u"x\U0001F600y"), "x??y");
#ifdef _WIN32
    EXPECT_EQ(FromUtf16(932, u"a\u00E9b"), "aeb");
#else
    EXPECT_EQ(FromUtf16(932, u"a\u00E9b"), "a?b");
#endif
}

TEST(CodePageTest, Iso2022JpDecodesToTheSameCharactersAs932) {
    // こんにちは、世界 with an ASCII tail.
    EXPECT_EQ(ToUtf16(kCodePageIso2022Jp,
                      "\x1B$B$3$s$K$A$O!\"@$3&\x1B(B ok"),
              u"\u3053\u3093\u306B\u3061\u306F\u3001\u4E16\u754C ok");
    // JIS 0x2141 is the fullwidth tilde on Windows as well.
    EXPECT_EQ(ToUtf16(kCodePageIso2022Jp, "\x1B$B!A\x1B(B"), u"\uFF5E");
}

// Writing ISO-2022-JP goes through 932 and back by the same arithmetic.
TEST(CodePageTest, Iso2022JpBothWays) {
    const char16_t* text = u"\u3053\u3093\u306B\u3061\u306F\u3001\uFF76\uFF85 ok";  // こんにちは、ｶﾅ
    const char* jis = "\x1B$B$3$s$K$A$O!\"\x1B(B\x1B(I6\x1B(B\x1B(IE\x1B(B ok";
    EXPECT_EQ(FromUtf16(kCodePageIso2022Jp, text), jis);
    EXPECT_EQ(ToUtf16(kCodePageIso2022Jp, jis), text);
    EXPECT_EQ(FromUtf16(kCodePageIso2022Jp, u""), "");
    EXPECT_EQ(CodePageToUtf16(kCodePageIso2022Jp, nullptr), nullptr);
    // Other code pages are not converted, on any platform.
    EXPECT_EQ(ToUtf16(65001, "abc"), u"");
    EXPECT_EQ(FromUtf16(65001, u"abc"), "");
}

TEST(CodePageTest, MeasureThenConvertContract) {
    const char* text = "\x93\x8C\x8B\x9E!";
    int units = platform::MultiByteToUtf16(932, text, -1, nullptr, 0);
    EXPECT_EQ(units, 4);  // three characters and the terminator
    char16_t small[2];
    EXPECT_EQ(platform::MultiByteToUtf16(932, text, -1, small, 2), 0);
    char16_t exact[4];
    EXPECT_EQ(platform::MultiByteToUtf16(932, text, -1, exact, 4), 4);
    EXPECT_EQ(std::u16string(exact), u"\u6771\u4EAC!");
    // An explicit length converts no terminator.
    EXPECT_EQ(platform::MultiByteToUtf16(932, text, 2, exact, 4), 1);
    EXPECT_EQ(platform::Utf16ToMultiByte(932, u"\u6771!", -1, nullptr, 0), 4);
}

// Cutting a text to a byte limit keeps double-byte characters whole.
TEST(CodePageTest, PrefixesNeverSplitADoubleByteCharacter) {
    struct {
        const char* text;
        size_t limit;
        size_t expected;
    } rows[] = {
        {"abc", 5, 3},
        {"abc", 2, 2},
        {"\x93\x8C\x8B\x9E", 4, 4},   // 東京 whole
        {"\x93\x8C\x8B\x9E", 3, 2},   // the second character does not fit
        {"a\x93\x8C", 2, 1},          // a lead byte at the limit goes with its trail
        {"\x83\x5C" "x", 2, 2},       // ソ: the trail byte 0x5C is no separator of its own
        {"\xB1\xB2", 1, 1},           // half-width katakana are single bytes
        {"ab\x82", 3, 3},             // a lead byte at the very end stands alone
        {"\xFD\xFE", 1, 1},           // bytes beyond the lead ranges are single
        {"", 10, 0},
        {nullptr, 10, 0},
        {"abc", 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text ? row.text : "(null)");
        EXPECT_EQ(Cp932Prefix(row.text, row.limit), row.expected);
    }
}

// The plugin's fixed texts are converted whole or not at all: a field never
// holds part of a text, which the host would show as a wrong name.
TEST(UiTextTest, ConvertsWholeTextsOrNothing) {
    char out[8];
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(ConvertUiText(u"東京!", out, sizeof out), 5u);
    EXPECT_EQ(std::string(out), "\x93\x8C\x8B\x9E!");
    EXPECT_EQ(std::string(out + 6, 2), "xx") << "nothing is written after the terminator";

    char small[5];
    for (const char16_t* text : {u"東京!", static_cast<const char16_t*>(nullptr)}) {
        std::memset(small, 'x', sizeof small);
        EXPECT_EQ(ConvertUiText(text, small, sizeof small), 0u);
        EXPECT_EQ(std::string(small, sizeof small), std::string(sizeof small, '\0'));
    }
    EXPECT_EQ(ConvertUiText(u"", small, sizeof small), 0u);
    EXPECT_EQ(small[0], 0);
    EXPECT_EQ(ConvertUiText(u"a", nullptr, 4), 0u);
    EXPECT_EQ(ConvertUiText(u"a", small, 0), 0u);
}

// A field sized by Cp932Capacity holds the longest form a literal can take:
// two bytes for every unit, as for a character outside code page 932.
TEST(UiTextTest, FieldsHoldTheLongestForm) {
    char exact[Cp932Capacity(3)];
    EXPECT_EQ(WriteUiText(exact, u"東京"), 4u);
    EXPECT_EQ(std::string(exact, sizeof exact), std::string("\x93\x8C\x8B\x9E", 5));
    char outside[Cp932Capacity(3)] = {};
    EXPECT_EQ(WriteUiText(outside, u"\U0001F600"), 2u);
    EXPECT_STREQ(outside, "??");
    char ascii[Cp932Capacity(4)] = {};
    EXPECT_EQ(WriteUiText(ascii, u"RSS"), 3u);
    EXPECT_EQ(std::string(ascii, sizeof ascii), std::string("RSS\0\0\0\0", 7));

    const UiText label(u"記事数(&D)");
    EXPECT_EQ(std::string(label.Narrow()), "\x8BL\x8E\x96\x90\x94(&D)");
}

// Why the texts are made when the library loads: converted while this
// thread's allocations fail, a text comes out empty where the conversion
// needs memory (iconv's converter), never wrong. Windows needs none.
TEST(UiTextTest, AConversionWithoutMemoryGivesAnEmptyText) {
    platform::FailAllocationsForTesting(0, true);
    const UiText text(u"東京");
    platform::StopFailingAllocationsForTesting();
    EXPECT_EQ(std::string(text.Narrow()), OnThisPlatform<std::string>("\x93\x8C\x8B\x9E", ""));
}

}  // namespace
