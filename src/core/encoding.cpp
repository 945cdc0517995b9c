#include "core/encoding.h"

#include <cstdlib>
#include <cstring>

#include "platform/memory.h"

namespace feedlet {

// ---------------------------------------------------------------------------
// JIS X 0208, EUC-JP, ISO-2022-JP and Shift_JIS

void JisToShiftJis(unsigned j1, unsigned j2, char out[2]) {
    out[0] = static_cast<char>((j1 + 1) / 2 + (j1 <= 0x5E ? 0x70 : 0xB0));
    if (j1 & 1)
        out[1] = static_cast<char>(j2 + (j2 < 0x60 ? 0x1F : 0x20));
    else
        out[1] = static_cast<char>(j2 + 0x7E);
}

void ShiftJisToJis(unsigned s1, unsigned s2, char out[2]) {
    unsigned j1 = (s1 - (s1 <= 0x9F ? 0x70 : 0xB0)) * 2 - 1;
    unsigned j2;
    if (s2 >= 0x9F) {
        j1 += 1;
        j2 = s2 - 0x7E;
    } else {
        j2 = s2 - (s2 >= 0x80 ? 0x20 : 0x1F);
    }
    out[0] = static_cast<char>(j1);
    out[1] = static_cast<char>(j2);
}

size_t EucJpToShiftJis(char* output, const char* input, size_t length) {
    auto* in = reinterpret_cast<const unsigned char*>(input);
    auto in_pair_range = [](unsigned byte) { return byte >= 0xA1 && byte <= 0xFE; };
    size_t written = 0;
    size_t i = 0;
    while (i < length) {
        unsigned first = in[i];
        bool last = i + 1 >= length;
        if (first == 0x8E && !last) {
            // Single shift 2: a half-width katakana is the same byte in Shift_JIS.
            output[written++] = static_cast<char>(in[i + 1]);
            i += 2;
            continue;
        }
        if (last || !in_pair_range(first) || !in_pair_range(in[i + 1])) {
            output[written++] = static_cast<char>(first);
            ++i;
            continue;
        }
        JisToShiftJis(first & 0x7F, in[i + 1] & 0x7Fu, output + written);
        written += 2;
        i += 2;
    }
    output[written] = 0;
    return written;
}

size_t Iso2022JpToShiftJis(char* output, const char* input, size_t length) {
    auto* in = reinterpret_cast<const unsigned char*>(input);
    enum Mode { kRoman, kKanji, kKatakana } mode = kRoman;
    size_t written = 0;
    for (size_t i = 0; i < length;) {
        unsigned c = in[i];
        if (c == 0x1B && i + 2 < length) {
            unsigned a = in[i + 1], b = in[i + 2];
            if (a == '$' && (b == '@' || b == 'B')) { mode = kKanji; i += 3; continue; }
            if (a == '(' && (b == 'B' || b == 'J')) { mode = kRoman; i += 3; continue; }
            if (a == '(' && b == 'I') { mode = kKatakana; i += 3; continue; }
        }
        if (c == 0x0E) { mode = kKatakana; ++i; continue; }
        if (c == 0x0F) { mode = kRoman; ++i; continue; }
        if (mode == kKanji && c >= 0x21 && c <= 0x7E && i + 1 < length) {
            JisToShiftJis(c, in[i + 1], output + written);
            written += 2;
            i += 2;
            continue;
        }
        if (mode == kKatakana && c >= 0x21 && c <= 0x5F) {
            output[written++] = static_cast<char>(c + 0x80);
            ++i;
            continue;
        }
        output[written++] = static_cast<char>(c);
        ++i;
    }
    output[written] = 0;
    return written;
}

namespace {

// Lead bytes whose characters have a JIS X 0208 code; F0..FC do not.
bool HasJisX0208Row(unsigned char byte) { return IsCp932LeadByte(byte) && byte <= 0xEF; }

// Writes into output, or only counts when it is null.
struct ByteSink {
    char* output;
    size_t count = 0;
    void Put(char c) {
        if (output) output[count] = c;
        ++count;
    }
    void Put(const char* text) {
        while (*text) Put(*text++);
    }
};

}  // namespace

size_t ShiftJisToIso2022Jp(char* output, const char* input, size_t length) {
    auto* in = reinterpret_cast<const unsigned char*>(input);
    ByteSink sink{output};
    bool kanji = false;
    for (size_t i = 0; i < length;) {
        unsigned char c = in[i];
        if (HasJisX0208Row(c) && i + 1 < length) {
            if (!kanji) sink.Put("\x1B$B");
            kanji = true;
            char pair[2];
            ShiftJisToJis(c, in[i + 1], pair);
            sink.Put(pair[0]);
            sink.Put(pair[1]);
            i += 2;
            continue;
        }
        if (kanji) sink.Put("\x1B(B");
        kanji = false;
        if (c >= 0xA1 && c <= 0xDF) {
            sink.Put("\x1B(I");
            sink.Put(static_cast<char>(c - 0x80));
            sink.Put("\x1B(B");
        } else {
            sink.Put(static_cast<char>(c));
        }
        ++i;
    }
    if (kanji) sink.Put("\x1B(B");
    return sink.count;
}

// ---------------------------------------------------------------------------
// UTF-8

namespace {

// One UTF-8 sequence at p (p[0] != 0): its code point, or U+FFFD for the
// maximal subpart of a malformed one, and how many bytes it takes. The byte
// that makes a sequence malformed is never taken, so the terminator stops it.
size_t NextCodePoint(const unsigned char* p, uint32_t* code_point) {
    unsigned lead = p[0];
    if (lead < 0x80) {
        *code_point = lead;
        return 1;
    }
    int trailing;
    uint32_t value;
    // The second byte's range excludes overlong forms (E0, F0), encoded
    // surrogates (ED) and code points above U+10FFFF (F4).
    unsigned low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        trailing = 1;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        trailing = 2;
        value = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        trailing = 3;
        value = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        // 80..BF cannot start a sequence; C0, C1 and F5..FF never occur.
        *code_point = 0xFFFD;
        return 1;
    }
    size_t taken = 1;
    for (; trailing > 0; --trailing, ++taken) {
        unsigned next = p[taken];
        if (next < low || next > high) {
            *code_point = 0xFFFD;
            return taken;
        }
        value = (value << 6) | (next & 0x3F);
        low = 0x80;
        high = 0xBF;
    }
    *code_point = value;
    return taken;
}

// Bytes of an 8-byte block whose high bit is set: any of them ends an ASCII run.
constexpr uint64_t kHighBits = 0x8080808080808080u;

uint64_t LoadBlock(const unsigned char* p) {
    uint64_t block;
    std::memcpy(&block, p, sizeof block);
    return block;
}

// The three bytes at p form a well-formed sequence of three (a lead E0..EF
// and two continuations, neither overlong nor a surrogate): its code point,
// or 0, which no such sequence encodes.
char16_t ThreeByteCharacter(const unsigned char* p) {
    if ((p[0] & 0xF0) != 0xE0 || (p[1] & 0xC0) != 0x80 || (p[2] & 0xC0) != 0x80) return 0;
    unsigned value = ((p[0] & 0x0Fu) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
    if (value < 0x800 || IsSurrogate(value)) return 0;
    return static_cast<char16_t>(value);
}

uint64_t LoadLittleEndian(const unsigned char* p) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    return LoadBlock(p);
#else
    uint64_t block = 0;
    for (int i = 7; i >= 0; --i) block = block << 8 | p[i];
    return block;
#endif
}

// The six bytes at p (eight readable) form two well-formed sequences of
// three: both code points into pair, or false.
bool TwoThreeByteCharacters(const unsigned char* p, char16_t* pair) {
    const uint64_t block = LoadLittleEndian(p);
    if ((block & 0x0000C0C0F0C0C0F0u) != 0x00008080E08080E0u) return false;
    unsigned first = static_cast<unsigned>((block & 0x0F) << 12 | (block >> 8 & 0x3F) << 6 | (block >> 16 & 0x3F));
    unsigned second =
        static_cast<unsigned>((block >> 24 & 0x0F) << 12 | (block >> 32 & 0x3F) << 6 | (block >> 40 & 0x3F));
    if (first < 0x800 || IsSurrogate(first) || second < 0x800 || IsSurrogate(second)) return false;
    pair[0] = static_cast<char16_t>(first);
    pair[1] = static_cast<char16_t>(second);
    return true;
}

// Decodes the length bytes at bytes (followed by a zero byte) into out, which
// has room for length units: no sequence yields more units than it has
// bytes. Returns the number of units written.
//
// Feeds are mostly ASCII markup around runs of three-byte Japanese text, so
// both get a loop of their own; everything else, and every sequence that
// might be malformed, goes through NextCodePoint, which alone decides what
// a malformed sequence becomes.
size_t DecodeUtf8Into(const unsigned char* bytes, size_t length, char16_t* out) {
    const unsigned char* p = bytes;
    const unsigned char* const end = bytes + length;
    char16_t* const first = out;
    while (p < end) {
        if (*p < 0x80) {
            // Whole blocks while every byte is ASCII; the byte that stops a
            // block is then reached one at a time.
            while (end - p >= 8 && !(LoadBlock(p) & kHighBits)) {
                for (int i = 0; i < 8; ++i) out[i] = p[i];
                p += 8;
                out += 8;
            }
            while (p < end && *p < 0x80) *out++ = *p++;
            continue;
        }
        if (end - p >= 3) {
            char16_t c = ThreeByteCharacter(p);
            if (c) {
                do {
                    *out++ = c;
                    p += 3;
                    // Two at a time while both are well formed.
                    while (end - p >= 8 && TwoThreeByteCharacters(p, out)) {
                        out += 2;
                        p += 6;
                    }
                } while (end - p >= 3 && (c = ThreeByteCharacter(p)) != 0);
                continue;
            }
        }
        // The zero byte after the text ends any sequence NextCodePoint reads.
        uint32_t code_point;
        p += NextCodePoint(p, &code_point);
        out += EncodeUtf16(code_point, out);
    }
    return static_cast<size_t>(out - first);
}

}  // namespace

char16_t* DecodeUtf8(const char* bytes) { return DecodeUtf8(bytes, nullptr); }

char16_t* DecodeUtf8(const char* bytes, size_t* units_out) {
    auto* input = reinterpret_cast<const unsigned char*>(bytes ? bytes : "");
    size_t length = std::strlen(bytes ? bytes : "");
    // One pass into room for the longest possible result (a unit per byte),
    // then the block is cut to what was written: reading the text twice to
    // size it cost more than the shrink does.
    auto* text = static_cast<char16_t*>(platform::Allocate((length + 1) * sizeof(char16_t)));
    if (!text) return nullptr;
    size_t units = DecodeUtf8Into(input, length, text);
    text[units] = 0;
    if (units < length) {
        // A failed shrink leaves the larger block, still valid.
        if (auto* fitted = static_cast<char16_t*>(platform::Reallocate(text, (units + 1) * sizeof(char16_t)))) text = fitted;
    }
    if (units_out) *units_out = units;
    return text;
}

void AppendUtf8(std::string& out, uint32_t code_point) {
    char bytes[4];
    out.append(bytes, EncodeUtf8(code_point, bytes));
}

std::string Utf16ToUtf8(const char16_t* text, size_t length, LoneSurrogates lone) {
    std::string out;
    out.reserve(length);
    for (size_t i = 0; i < length;) {
        uint32_t code_point = text[i];
        // A pair never reaches past length.
        i += i + 1 < length ? NextUtf16(text + i, &code_point) : 1;
        if (IsSurrogate(code_point) && lone == LoneSurrogates::kReplace) code_point = 0xFFFD;
        AppendUtf8(out, code_point);
    }
    return out;
}

size_t Cp932Prefix(const char* text, size_t limit) {
    if (!text) return 0;
    size_t i = 0;
    while (text[i] && i < limit) {
        size_t width = (IsCp932LeadByte(static_cast<unsigned char>(text[i])) && text[i + 1]) ? 2 : 1;
        if (i + width > limit) break;
        i += width;
    }
    return i;
}

}  // namespace feedlet
