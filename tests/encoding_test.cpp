// The encoding module (core/encoding.h): code page 932 lead bytes, the JIS
// X 0208 arithmetic, EUC-JP and ISO-2022-JP, UTF-8 both ways, surrogate
// pairs and ASCII case folding. Pure arithmetic, so every expectation holds
// natively and under Wine alike; the lead-byte rows are also checked
// against the platform's own code page 932 tables.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/encoding.h"
#include "platform/platform.h"
#include "test_util.h"

using namespace feedlet;

namespace {

std::u16string DecodedUtf8(const std::string& bytes) {
    char16_t* text = DecodeUtf8(bytes.c_str());
    std::u16string result = text ? text : u"";
    free(text);
    return result;
}

// The byte-string results of the converters that write a terminator.
using Converter = size_t (*)(char* output, const char* input, size_t length);
std::string Converted(Converter convert, const std::string& input) {
    std::string out(input.size() + 1, '\x55');
    size_t n = convert(&out[0], input.data(), input.size());
    EXPECT_LE(n, input.size());
    EXPECT_EQ(out[n], '\0') << "not terminated";
    return out.substr(0, n);
}

TEST(Cp932Test, LeadBytesAreThoseOfThePlatformTables) {
    // A lead byte and 'A' are one character (or one replacement), any other
    // byte and 'A' are two, in the system's own 932 conversion.
    for (unsigned byte = 0x80; byte <= 0xFF; ++byte) {
        SCOPED_TRACE(byte);
        const char pair[2] = {static_cast<char>(byte), 'A'};
        int units = platform::MultiByteToUtf16(platform::kCodePageShiftJis, pair, 2, nullptr, 0);
        EXPECT_EQ(units, IsCp932LeadByte(static_cast<unsigned char>(byte)) ? 1 : 2);
    }
    for (unsigned byte = 0; byte < 0x80; ++byte) EXPECT_FALSE(IsCp932LeadByte(static_cast<unsigned char>(byte)));
}

TEST(JisTest, EveryJisX0208CodeMapsToShiftJisAndBack) {
    for (unsigned j1 = 0x21; j1 <= 0x7E; ++j1) {
        for (unsigned j2 = 0x21; j2 <= 0x7E; ++j2) {
            char sjis[2], jis[2];
            JisToShiftJis(j1, j2, sjis);
            const auto s1 = static_cast<unsigned char>(sjis[0]), s2 = static_cast<unsigned char>(sjis[1]);
            // A lead byte of a JIS X 0208 row, and a trail byte 40..FC other than 7F.
            ASSERT_TRUE(IsCp932LeadByte(s1) && s1 <= 0xEF) << j1 << " " << j2;
            ASSERT_TRUE(s2 >= 0x40 && s2 <= 0xFC && s2 != 0x7F) << j1 << " " << j2;
            ShiftJisToJis(s1, s2, jis);
            ASSERT_EQ(static_cast<unsigned char>(jis[0]), j1);
            ASSERT_EQ(static_cast<unsigned char>(jis[1]), j2);
        }
    }
    char sjis[2];
    JisToShiftJis(0x30, 0x21, sjis);  // 亜
    EXPECT_EQ(std::string(sjis, 2), "\x88\x9F");
    JisToShiftJis(0x7E, 0x7E, sjis);  // the last code
    EXPECT_EQ(std::string(sjis, 2), "\xEF\xFC");
}

// Malformed input becomes one U+FFFD per maximal subpart (as ICU and
// Python decode it), and never takes a byte that could start something.
TEST(DecodeUtf8Test, DecodesEveryCharacterAndReplacesMalformedSequences) {
    struct Row {
        const char* name;
        std::string bytes;
        std::u16string expected;
    } rows[] = {
        {"ascii", "<rss>", u"<rss>"},
        {"empty", "", u""},
        {"two bytes", "\xC3\xA9", u"\u00E9"},
        {"three bytes", "\xE6\x97\xA5", u"\u65E5"},
        {"byte-order mark stays", "\xEF\xBB\xBF<", u"\uFEFF<"},
        {"four bytes", "\xF0\x9F\x98\x80!", u"\U0001F600!"},
        {"highest", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
        {"U+FFFF", "\xEF\xBF\xBF", u"\uFFFF"},
        {"lone FF keeps the letters", "\xFF" "ab", u"\uFFFD" "ab"},
        {"stray continuation", "a\x80" "b", u"a\uFFFD" "b"},
        {"two stray continuations", "\x80\xBF", u"\uFFFD\uFFFD"},
        {"truncated by ASCII", "\xE6\x97" "a", u"\uFFFD" "a"},
        {"truncated by a lead byte", "\xE6\x97\xE6\x97\xA5", u"\uFFFD\u65E5"},
        {"truncated at the end", "x\xF0\x9F\x98", u"x\uFFFD"},
        {"lead at the end", "\xC2", u"\uFFFD"},
        {"overlong two", "\xC0\x80", u"\uFFFD\uFFFD"},
        {"overlong slash", "\xC1\xAF", u"\uFFFD\uFFFD"},
        {"overlong three", "\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"overlong four", "\xF0\x8F\xBF\xBF", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"F5", "\xF5\x80", u"\uFFFD\uFFFD"},
        {"last before surrogates", "\xED\x9F\xBF", u"\uD7FF"},
        // The example of the Unicode Standard (U+FFFD substitution of
        // maximal subparts).
        {"standard example", "a\xF1\x80\x80\xE1\x80\xC2" "b\x80" "c\x80\xBF" "d",
         u"a\uFFFD\uFFFD\uFFFD" "b\uFFFD" "c\uFFFD\uFFFD" "d"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::u16string got = DecodedUtf8(row.bytes);
        EXPECT_EQ(got, row.expected) << UnitsOf(got);
    }
    char16_t* none = DecodeUtf8(nullptr);
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none[0], 0);
    free(none);
}

// The decoder takes ASCII in 8-byte blocks and runs of three-byte
// characters in a loop of their own. Every sequence, well-formed or not, is
// placed at each offset around two block ends after an ASCII run, and
// followed by each kind of thing that can come next, so a fault at a block
// or run boundary (a byte taken twice or lost, a read past the end, a
// malformed sequence let through) shows in the result.
TEST(DecodeUtf8Test, SequencesAtEveryOffsetAroundBlockEnds) {
    struct Piece {
        const char* name;
        std::string bytes;
        std::u16string expected;
    } pieces[] = {
        {"two bytes", "\xC3\xA9", u"\u00E9"},
        {"three bytes", "\xE6\x97\xA5", u"\u65E5"},
        {"three-byte run", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", u"\u65E5\u672C\u8A9E"},
        {"lowest three bytes", "\xE0\xA0\x80", u"\u0800"},
        {"highest three bytes", "\xEF\xBF\xBF", u"\uFFFF"},
        {"four bytes", "\xF0\x9F\x98\x80", u"\U0001F600"},
        {"run then truncated", "\xE6\x97\xA5\xE6\x97", u"\u65E5\uFFFD"},
        {"run then surrogate", "\xE6\x97\xA5\xED\xA0\x80", u"\u65E5\uFFFD\uFFFD\uFFFD"},
        {"run then stray continuation", "\xE6\x97\xA5\x80", u"\u65E5\uFFFD"},
        // Runs are read two characters at a time: a bad one at either place.
        {"run of five", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xEF\xBF\xBF\xE0\xA0\x80",
         u"\u65E5\u672C\u8A9E\uFFFF\u0800"},
        {"run then overlong", "\xE6\x97\xA5\xE0\x80\x80\xE6\x97\xA5", u"\u65E5\uFFFD\uFFFD\uFFFD\u65E5"},
        {"pair then surrogate", "\xE6\x97\xA5\xE6\x9C\xAC\xED\xA0\x80\xE6\x97\xA5",
         u"\u65E5\u672C\uFFFD\uFFFD\uFFFD\u65E5"},
        {"pair then ASCII as third byte", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x41\xE6\x97\xA5",
         u"\u65E5\u672C\uFFFD\u0041\u65E5"},
        {"run then four bytes", "\xE6\x97\xA5\xE6\x9C\xAC\xF0\x9F\x98\x80", u"\u65E5\u672C\U0001F600"},
        {"truncated three", "\xE6\x97", u"\uFFFD"},
        {"truncated four", "\xF0\x9F\x98", u"\uFFFD"},
        {"stray continuation", "\x80", u"\uFFFD"},
        {"lone FF", "\xFF", u"\uFFFD"},
        {"lone lead", "\xE6", u"\uFFFD"},
        {"overlong three", "\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"overlong two", "\xC0\xAF", u"\uFFFD\uFFFD"},
        {"surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"last before surrogates", "\xED\x9F\xBF", u"\uD7FF"},
        {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"continuation as third byte missing", "\xE6\x97\x41", u"\uFFFD\u0041"},
    };
    // What may follow: nothing (the text ends), ASCII, a lead byte that
    // starts a good sequence, a long ASCII run, another three-byte character.
    struct Follower {
        const char* name;
        std::string bytes;
        std::u16string expected;
    } followers[] = {
        {"end", "", u""},
        {"ascii", "z", u"z"},
        {"two-byte lead", "\xC3\xA9", u"\u00E9"},
        {"three-byte lead", "\xE6\x97\xA5", u"\u65E5"},
        {"four-byte lead", "\xF0\x9F\x98\x80", u"\U0001F600"},
        {"ascii run", "0123456789abcdefg", u"0123456789abcdefg"},
    };
    for (const Piece& piece : pieces) {
        for (const Follower& follower : followers) {
            for (size_t offset = 0; offset <= 18; ++offset) {
                SCOPED_TRACE(std::string(piece.name) + " then " + follower.name + " at " + std::to_string(offset));
                std::string bytes = std::string(offset, 'a') + piece.bytes + follower.bytes;
                std::u16string expected = std::u16string(offset, u'a') + piece.expected + follower.expected;
                std::u16string got = DecodedUtf8(bytes);
                EXPECT_EQ(got, expected) << UnitsOf(got);
            }
        }
    }
}

TEST(EucJpToShiftJisTest, ConvertsPairsAndCopiesTheRest) {
    struct Row {
        const char* name;
        std::string euc;
        std::string sjis;
    } rows[] = {
        {"hiragana a", "\xA4\xA2", "\x82\xA0"},
        {"half-width katakana", "\x8E\xB1", "\xB1"},
        {"ascii", "<rss>", "<rss>"},
        {"kanji", "\xC6\xFC\xCB\xDC", "\x93\xFA\x96\x7B"},           // 日本
        {"row above 0x5E", "\xE0\xA1", "\xE0\x9F"},
        {"NEC row 13", "\xAD\xA1", "\x87\x40"},                       // circled 1
        {"NEC-selected IBM", "\xF9\xA1", "\xED\x40"},
        {"last row", "\xFE\xFE", "\xEF\xFC"},
        {"lone lead at the end", "a\xA4", "a\xA4"},
        {"lead with ASCII after", "\xA4" "a", "\xA4" "a"},
        {"single shift at the end", "\x8E", "\x8E"},
        {"single shift takes any byte", "\x8E" "A", "A"},
        {"0x8F is a plain byte", "\x8F\xB0\xA1", "\x8F\x88\x9F"},
        {"out of range bytes", "\x80\xA0\xFF", "\x80\xA0\xFF"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Converted(EucJpToShiftJis, row.euc), row.sjis);
    }
}

TEST(Iso2022JpTest, EscapesSelectTheCharacterSet) {
    struct Row {
        const char* name;
        std::string jis;
        std::string sjis;
    } rows[] = {
        {"ascii", "<rss>", "<rss>"},
        {"kanji", "\x1B$B$3$s\x1B(B ok", "\x82\xB1\x82\xF1 ok"},          // こん
        {"old JIS escape", "\x1B$@F|\x1B(J!", "\x93\xFA!"},                 // 日
        {"row above 0x5E", "\x1B$B`!", "\xE0\x9F"},
        {"odd row, high cell", "\x1B$B!`", "\x81\x80"},
        {"katakana escape", "\x1B(I1\x1B(B1", "\xB1" "1"},
        {"shift out and in", "\x0E" "1\x0F" "1", "\xB1" "1"},
        {"katakana mode passes other bytes", "\x1B(I`", "`"},
        {"kanji mode passes controls", "\x1B$B\n\x1B(B", "\n"},
        {"unknown escape is copied", "\x1B$A!", "\x1B$A!"},
        {"escape cut by the end", "a\x1B(", "a\x1B("},
        {"lone kanji byte at the end", "\x1B$B$", "$"},
        // The byte after a kanji byte is taken whatever it is, a zero byte too.
        {"kanji byte takes a zero", std::string("\x1B$B$\0", 5), "\x82\x7E"},
        {"zero bytes are copied", std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Converted(Iso2022JpToShiftJis, row.jis), row.sjis);
    }
}

TEST(Iso2022JpTest, ShiftJisIsWrittenBetweenEscapes) {
    struct Row {
        const char* name;
        std::string sjis;
        std::string jis;
    } rows[] = {
        {"ascii", "ok", "ok"},
        {"kanji then ascii", "\x82\xB1\x82\xF1 ok", "\x1B$B$3$s\x1B(B ok"},
        {"kanji at the end is closed", "\x93\xFA", "\x1B$BF|\x1B(B"},
        {"half-width katakana", "\xB1", "\x1B(I1\x1B(B"},
        {"kanji then katakana", "\x82\xA0\xB1", "\x1B$B$\"\x1B(B\x1B(I1\x1B(B"},
        {"no JIS X 0208 row: copied", "\xFA\x40", "\xFA\x40"},
        {"lone lead at the end", "a\x82", "a\x82"},
        {"zero byte after kanji", std::string("\x93\xFA\0", 3), std::string("\x1B$BF|\x1B(B\0", 9)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        size_t measured = ShiftJisToIso2022Jp(nullptr, row.sjis.data(), row.sjis.size());
        std::string out(measured + 1, '\x55');
        EXPECT_EQ(ShiftJisToIso2022Jp(&out[0], row.sjis.data(), row.sjis.size()), measured);
        EXPECT_EQ(out.substr(0, measured), row.jis);
        EXPECT_EQ(out[measured], '\x55') << "wrote past the measured length";
        // And back.
        EXPECT_EQ(Converted(Iso2022JpToShiftJis, row.jis), row.sjis);
    }
}

TEST(Utf16Test, SurrogatePairs) {
    struct Row {
        uint32_t code_point;
        std::u16string units;
    } rows[] = {
        {0x41, u"A"},
        {0xFFFF, u"\uFFFF"},
        {0x10000, u"\U00010000"},
        {0x1F600, u"\U0001F600"},
        {0x10FFFF, u"\U0010FFFF"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.code_point);
        char16_t out[2];
        EXPECT_EQ(std::u16string(out, EncodeUtf16(row.code_point, out)), row.units);
        uint32_t back = 0;
        EXPECT_EQ(NextUtf16(row.units.c_str(), &back), row.units.size());
        EXPECT_EQ(back, row.code_point);
    }
    // Lone surrogates come back as themselves, one unit each.
    struct Lone {
        std::u16string text;
        uint32_t first;
    } lone[] = {
        {u"\xD83D", 0xD83D},            // high before the terminator
        {u"\xD83D" u"a", 0xD83D},       // high before an ordinary unit
        {u"\xD83D\xD83D", 0xD83D},      // high before a high
        {u"\xDE00\xD83D", 0xDE00},      // low first: not a pair backwards
    };
    for (const Lone& row : lone) {
        uint32_t cp = 0;
        EXPECT_EQ(NextUtf16(row.text.c_str(), &cp), 1u);
        EXPECT_EQ(cp, row.first);
    }
}

// Every code point through EncodeUtf8, DecodeUtf8 and EncodeUtf16 at once:
// the decoder must give back exactly what the encoders wrote.
TEST(Utf8Test, EveryCodePointRoundTrips) {
    std::string bytes;
    std::u16string expected;
    for (uint32_t cp = 1; cp <= 0x10FFFF; ++cp) {
        if (IsSurrogate(cp)) continue;
        char utf8[4];
        size_t n = EncodeUtf8(cp, utf8);
        ASSERT_EQ(n, cp < 0x80 ? 1u : cp < 0x800 ? 2u : cp < 0x10000 ? 3u : 4u) << cp;
        bytes.append(utf8, n);
        char16_t utf16[2];
        expected.append(utf16, EncodeUtf16(cp, utf16));
    }
    EXPECT_TRUE(DecodedUtf8(bytes) == expected);
    EXPECT_TRUE(Utf16ToUtf8(expected.data(), expected.size(), LoneSurrogates::kReplace) == bytes);
}

TEST(Utf8Test, Utf16ToUtf8KeepsOrReplacesLoneSurrogates) {
    const std::u16string text = u"a\xD800" u"b\U0001F600\xDC00";
    EXPECT_EQ(Utf16ToUtf8(text.data(), text.size(), LoneSurrogates::kReplace),
              "a\xEF\xBF\xBD" "b\xF0\x9F\x98\x80\xEF\xBF\xBD");
    EXPECT_EQ(Utf16ToUtf8(text.data(), text.size(), LoneSurrogates::kKeep),
              "a\xED\xA0\x80" "b\xF0\x9F\x98\x80\xED\xB0\x80");
    // A pair cut by the length is two lone halves, never read past it.
    const std::u16string pair = u"\U0001F600";
    EXPECT_EQ(Utf16ToUtf8(pair.data(), 1, LoneSurrogates::kKeep), "\xED\xA0\xBD");
}

TEST(AsciiCaseTest, OnlyAsciiLettersFold) {
    EXPECT_EQ(CompareIgnoringAsciiCase(u"Item", u"iTEM"), 0);
    EXPECT_EQ(CompareIgnoringAsciiCase(u"a", u"B"), 'a' - 'b');
    // Folding is to lower case, as _wcsicmp does: '[' sorts before 'a'.
    EXPECT_EQ(CompareIgnoringAsciiCase(u"[", u"A"), '[' - 'a');
    EXPECT_EQ(CompareIgnoringAsciiCase(u"ab", u"a"), 'b');
    EXPECT_EQ(CompareIgnoringAsciiCase(u"", u""), 0);
    EXPECT_NE(CompareIgnoringAsciiCase(u"\u00C4", u"\u00E4"), 0);  // Ä, ä
    EXPECT_NE(CompareIgnoringAsciiCase(u"\uFF21", u"\uFF41"), 0);  // Ａ, ａ
    // Bytes compare as unsigned values, so narrow and wide texts can meet.
    EXPECT_EQ(CompareIgnoringAsciiCase("\xC4x", u"\u00C4X"), 0);
    EXPECT_GT(CompareIgnoringAsciiCase("\xC4", "a"), 0);
    EXPECT_EQ(CompareIgnoringAsciiCase(u"GMT", "gmt"), 0);

    EXPECT_TRUE(StartsWithIgnoringAsciiCase("EUC-JP-MS\"", "euc-jp"));
    EXPECT_TRUE(StartsWithIgnoringAsciiCase(u"%Title", u"%tITLE"));
    EXPECT_TRUE(StartsWithIgnoringAsciiCase("x", ""));
    EXPECT_FALSE(StartsWithIgnoringAsciiCase("EU", "euc"));  // the terminator ends the text
    EXPECT_FALSE(StartsWithIgnoringAsciiCase("SJ\xC9S", "sjis"));
}

}  // namespace
