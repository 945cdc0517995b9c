#include "fetch/document_loader.h"

#include <cstdlib>
#include <cstring>

#include "core/codepage.h"
#include "core/text_field.h"
#include "feed/xml_node.h"
#include "platform/platform.h"

namespace feedlet {

const EncodingName EncodingNameTable[] = {
    {"utf-8", TextEncoding::kUtf8},
    {"Shift_JIS", TextEncoding::kShiftJis},
    {"Shift-JIS", TextEncoding::kShiftJis},
    {"SJIS", TextEncoding::kShiftJis},
    {"ShiftJIS", TextEncoding::kShiftJis},
    {"x-sjis", TextEncoding::kShiftJis},
    {"MS_Kanji", TextEncoding::kShiftJis},
    {"ISO-2022-JP", TextEncoding::kIso2022Jp},
    {"JIS", TextEncoding::kIso2022Jp},
    {"EUC-JP", TextEncoding::kEucJp},
    {nullptr, TextEncoding::kUtf8},
};

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The first length bytes of text equal name's, ASCII case ignored. The
// comparison stops at text's terminator, which never equals a name byte.
bool HasPrefixNoCase(const char* text, const char* name, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (LowerAscii(text[i]) != LowerAscii(name[i])) return false;
    return true;
}

const char16_t* FindUtf16(const char16_t* text, const char16_t* pattern) {
    for (; *text; ++text) {
        size_t i = 0;
        while (pattern[i] && text[i] == pattern[i]) ++i;
        if (!pattern[i]) return text;
    }
    return nullptr;
}

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
    if (value < 0x800 || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    return static_cast<char16_t>(value);
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
                } while (end - p >= 3 && (c = ThreeByteCharacter(p)) != 0);
                continue;
            }
        }
        // The zero byte after the text ends any sequence NextCodePoint reads.
        uint32_t code_point;
        p += NextCodePoint(p, &code_point);
        if (code_point > 0xFFFF) {
            code_point -= 0x10000;
            *out++ = static_cast<char16_t>(0xD800 + (code_point >> 10));
            *out++ = static_cast<char16_t>(0xDC00 + (code_point & 0x3FF));
        } else {
            *out++ = static_cast<char16_t>(code_point);
        }
    }
    return static_cast<size_t>(out - first);
}

char16_t* DecodeEucJp(const char* bytes) {
    size_t length = std::strlen(bytes);
    auto* sjis = static_cast<char*>(calloc(length + 1, 1));
    if (!sjis) return nullptr;
    EucJpToShiftJis(sjis, bytes, length);
    char16_t* text = CodePageToUtf16(platform::kCodePageShiftJis, sjis);
    free(sjis);
    return text;
}

}  // namespace

TextEncoding DeclaredEncoding(const char* text) {
    const char* declaration = std::strstr(text, "<?xml");
    if (!declaration) return TextEncoding::kUtf8;
    const char* end = std::strstr(declaration, "?>");
    if (!end) return TextEncoding::kUtf8;
    static const char kAttribute[] = "encoding=\"";
    const char* attribute = std::strstr(declaration, kAttribute);
    if (!attribute || attribute >= end) return TextEncoding::kUtf8;
    // The closing quote is never looked at: a table name only has to be a
    // prefix of the value ("EUC-JP-MS" is EUC-JP).
    const char* value = attribute + sizeof kAttribute - 1;
    for (const EncodingName* row = EncodingNameTable; row->name; ++row)
        if (HasPrefixNoCase(value, row->name, std::strlen(row->name))) return row->encoding;
    return TextEncoding::kUtf8;
}

char16_t* DecodeUtf8(const char* bytes) {
    return DecodeUtf8(bytes, nullptr);
}

char16_t* DecodeUtf8(const char* bytes, size_t* units_out) {
    auto* input = reinterpret_cast<const unsigned char*>(bytes ? bytes : "");
    size_t length = std::strlen(bytes ? bytes : "");
    // One pass into room for the longest possible result (a unit per byte),
    // then the block is cut to what was written: reading the text twice to
    // size it cost more than the shrink does.
    auto* text = static_cast<char16_t*>(malloc((length + 1) * sizeof(char16_t)));
    if (!text) return nullptr;
    size_t units = DecodeUtf8Into(input, length, text);
    text[units] = 0;
    if (units < length) {
        // A failed shrink leaves the larger block, still valid.
        if (auto* fitted = static_cast<char16_t*>(realloc(text, (units + 1) * sizeof(char16_t)))) text = fitted;
    }
    if (units_out) *units_out = units;
    return text;
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
        unsigned j1 = first & 0x7F;
        unsigned j2 = in[i + 1] & 0x7F;
        unsigned s1 = (j1 + 1) / 2 + (j1 <= 0x5E ? 0x70 : 0xB0);
        unsigned s2;
        if (j1 & 1)
            s2 = j2 + (j2 < 0x60 ? 0x1F : 0x20);
        else
            s2 = j2 + 0x7E;
        output[written++] = static_cast<char>(s1);
        output[written++] = static_cast<char>(s2);
        i += 2;
    }
    output[written] = 0;
    return written;
}

void SwapByteOrder(unsigned char* block, size_t length) {
    for (size_t i = 0; i < length; i += 2) {
        unsigned char first = block[i];
        block[i] = block[i + 1];
        block[i + 1] = first;
    }
}

void DocumentText::Reset() {
    free(owned_);
    owned_ = nullptr;
    text_ = nullptr;
    length_ = SIZE_MAX;
    encoding_ = TextEncoding::kUtf8;
}

char16_t* DocumentText::Release(DownloadBuffer& buffer, void** block, size_t* length) {
    if (!text_) return nullptr;
    char16_t* text;
    if (owned_) {
        text = owned_;
        *block = owned_;
        buffer.Clear();
    } else {
        // The text is inside the buffer's block (after the byte-order mark).
        text = reinterpret_cast<char16_t*>(buffer.data + 2);
        *block = buffer.data;
        buffer.data = nullptr;
        buffer.length = 0;
    }
    *length = length_ != SIZE_MAX ? length_ : Utf16Length(text);
    owned_ = nullptr;
    text_ = nullptr;
    length_ = SIZE_MAX;
    return text;
}

bool DecodeDocument(DownloadBuffer& buffer, DocumentText& text) {
    text.Reset();
    unsigned char* data = buffer.data;
    if (buffer.length >= 2 && ((data[0] == 0xFE && data[1] == 0xFF) || (data[0] == 0xFF && data[1] == 0xFE))) {
        // UTF-16 is used where it lies; big-endian is first turned around.
        // The terminator keeps the text ended whatever the length's parity.
        if (data[0] == 0xFE) SwapByteOrder(data, buffer.length);
        text.encoding_ = TextEncoding::kUtf16LittleEndian;
        text.text_ = reinterpret_cast<const char16_t*>(data + 2);
        return true;
    }
    const char* bytes = data ? reinterpret_cast<const char*>(data) : "";
    text.encoding_ = DeclaredEncoding(bytes);
    switch (text.encoding_) {
        case TextEncoding::kShiftJis:
            text.owned_ = CodePageToUtf16(platform::kCodePageShiftJis, bytes);
            break;
        case TextEncoding::kIso2022Jp:
            text.owned_ = CodePageToUtf16(platform::kCodePageIso2022Jp, bytes);
            break;
        case TextEncoding::kEucJp:
            text.owned_ = DecodeEucJp(bytes);
            break;
        case TextEncoding::kUtf8:
        case TextEncoding::kUtf16LittleEndian:
            text.owned_ = DecodeUtf8(bytes, &text.length_);
            break;
    }
    text.text_ = text.owned_;
    return text.owned_ != nullptr;
}

const char16_t* SkipDeclaration(const char16_t* text) {
    const char16_t* declaration = FindUtf16(text, u"<?xml");
    if (!declaration) return text;
    const char16_t* end = FindUtf16(declaration, u"?>");
    return end ? end + 2 : nullptr;
}

bool LoadDocumentFromBuffer(XmlNode& root, DownloadBuffer& buffer) {
    root.Clear();
    DocumentText text;
    if (!DecodeDocument(buffer, text)) return false;
    // The tree keeps the text (its names and texts point into it), and the
    // bytes go before it is built. A malformed document is still a document:
    // whatever the parse made of it, a text that yields nothing leaves a
    // bare root; only one too large to hold, or a lack of memory, fails.
    void* block = nullptr;
    size_t length = 0;
    char16_t* whole = text.Release(buffer, &block, &length);
    const char16_t* content = SkipDeclaration(whole);
    if (!content) length = 0;
    else length -= static_cast<size_t>(content - whole);
    return root.ParseDocument(block, const_cast<char16_t*>(content), length) == XmlDocumentResult::kParsed;
}

bool LoadDocument(XmlNode& root, const char* location) {
    root.Clear();
    DownloadBuffer buffer;
    if (!FetchLocation(buffer, location)) return false;
    return LoadDocumentFromBuffer(root, buffer);
}

}  // namespace feedlet
