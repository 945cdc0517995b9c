#include "load_check.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/encoding.h"
#include "feed/xml_node.h"
#include "fetch/document_loader.h"
#include "xml_check.h"

namespace feedlet {
namespace load_check {

namespace {

// An independent reading of the Unicode Standard's well-formed UTF-8 byte
// sequences (its table 3-7), one row per shape: at each position the
// longest prefix of some row is one character when it is the whole row,
// else one U+FFFD (a maximal subpart; at least one byte).
std::u16string ReferenceUtf8(const unsigned char* p) {
    struct Range {
        unsigned char low, high;
    };
    static const Range kRows[][4] = {
        {{0x00, 0x7F}},
        {{0xC2, 0xDF}, {0x80, 0xBF}},
        {{0xE0, 0xE0}, {0xA0, 0xBF}, {0x80, 0xBF}},
        {{0xE1, 0xEC}, {0x80, 0xBF}, {0x80, 0xBF}},
        {{0xED, 0xED}, {0x80, 0x9F}, {0x80, 0xBF}},
        {{0xEE, 0xEF}, {0x80, 0xBF}, {0x80, 0xBF}},
        {{0xF0, 0xF0}, {0x90, 0xBF}, {0x80, 0xBF}, {0x80, 0xBF}},
        {{0xF1, 0xF3}, {0x80, 0xBF}, {0x80, 0xBF}, {0x80, 0xBF}},
        {{0xF4, 0xF4}, {0x80, 0x8F}, {0x80, 0xBF}, {0x80, 0xBF}},
    };
    static const size_t kLengths[] = {1, 2, 3, 3, 3, 3, 4, 4, 4};
    std::u16string out;
    while (*p) {
        size_t best = 0;
        bool whole = false;
        for (size_t row = 0; row < 9; ++row) {
            size_t n = 0;
            while (n < kLengths[row] && p[n] >= kRows[row][n].low && p[n] <= kRows[row][n].high) ++n;
            if (n > best) {
                best = n;
                whole = n == kLengths[row];
            }
        }
        if (!whole) {
            out += u'\uFFFD';
            p += best ? best : 1;
            continue;
        }
        static const unsigned kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
        uint32_t cp = p[0] & kLeadMask[best];
        for (size_t k = 1; k < best; ++k) cp = (cp << 6) | (p[k] & 0x3F);
        char16_t units[2];
        out.append(units, EncodeUtf16(cp, units));
        p += best;
    }
    return out;
}

std::string CheckUtf8(const char* bytes) {
    char16_t* text = DecodeUtf8(bytes);
    if (!text) return "DecodeUtf8 gave null";
    if (ReferenceUtf8(reinterpret_cast<const unsigned char*>(bytes)) != text) {
        free(text);
        return "DecodeUtf8 differs from the reference reading";
    }
    std::string encoded;
    bool replaced = false;
    size_t ascii_out = 0;
    std::string fault;
    for (const char16_t* p = text; *p && fault.empty();) {
        uint32_t cp;
        p += NextUtf16(p, &cp);
        if (cp < 0x80) ++ascii_out;
        if (cp == 0xFFFD) replaced = true;
        if (IsHighSurrogate(cp)) fault = "DecodeUtf8: lone high surrogate";
        else if (IsLowSurrogate(cp)) fault = "DecodeUtf8: lone low surrogate";
        else AppendUtf8(encoded, cp);
    }
    free(text);
    if (!fault.empty()) return fault;
    size_t ascii_in = 0;
    for (const char* p = bytes; *p; ++p) ascii_in += static_cast<unsigned char>(*p) < 0x80;
    if (ascii_in != ascii_out) return "DecodeUtf8: ASCII bytes lost or invented";
    // Without a replacement the input was valid and must read back exactly;
    // a valid input decoded with a replacement would show up here too,
    // unless it contained U+FFFD itself.
    if (!replaced && encoded != bytes) return "DecodeUtf8: valid input not read back";
    return "";
}

std::string CheckEucJp(const char* bytes, size_t size) {
    std::vector<char> out(size + 1, '\x55');
    size_t n = EucJpToShiftJis(out.data(), bytes, size);
    if (n > size) return "EucJpToShiftJis: longer than its input";
    if (out[n] != 0) return "EucJpToShiftJis: not terminated";
    return "";
}

}  // namespace

std::string CheckBytes(const unsigned char* data, size_t size) {
    if (size > UINT32_MAX - kDownloadTerminator) return "";
    auto* block = static_cast<unsigned char*>(calloc(size + kDownloadTerminator, 1));
    if (!block) return "";
    if (size) std::memcpy(block, data, size);

    const char* bytes = reinterpret_cast<const char*>(block);
    std::string fault = CheckUtf8(bytes);
    if (fault.empty()) fault = CheckEucJp(bytes, size);
    if (!fault.empty()) {
        free(block);
        return fault;
    }

    DownloadBuffer buffer;
    buffer.Adopt(block, static_cast<uint32_t>(size));
    XmlNode root;
    root.Parse(u"stale", u"old", u"a='1'");  // a load always starts afresh
    if (!LoadDocumentFromBuffer(root, buffer)) return "LoadDocumentFromBuffer failed";
    if (!root.name || std::u16string(root.name) != u"*" || root.attributes) return "root is not a bare \"*\"";
    return xml_check::CheckTree(root);
}

}  // namespace load_check
}  // namespace feedlet
