// ISO-2022-JP (code page 50220) <-> Shift_JIS (code page 932), shared by both
// platform implementations. Pure byte arithmetic, no OS calls.
#include "platform/iso2022jp.h"

namespace feedlet {
namespace platform {

// ISO-2022-JP is JIS X 0208 under escape sequences; it maps arithmetically
// onto Shift_JIS, so we go through CP932 and get the same characters (wave
// dash, fullwidth tilde...) as Windows' code page 50220.
std::string Iso2022JpToShiftJis(const char* in, size_t len) {
    enum Mode { kAscii, kKanji, kKatakana } mode = kAscii;
    std::string out;
    out.reserve(len);
    for (size_t i = 0; i < len;) {
        unsigned char c = static_cast<unsigned char>(in[i]);
        if (c == 0x1B && i + 2 < len) {
            char a = in[i + 1], b = in[i + 2];
            if (a == '$' && (b == '@' || b == 'B')) { mode = kKanji; i += 3; continue; }
            if (a == '(' && (b == 'B' || b == 'J')) { mode = kAscii; i += 3; continue; }
            if (a == '(' && b == 'I') { mode = kKatakana; i += 3; continue; }
        }
        if (c == 0x0E) { mode = kKatakana; ++i; continue; }
        if (c == 0x0F) { mode = kAscii; ++i; continue; }
        if (mode == kKanji && c >= 0x21 && c <= 0x7E && i + 1 < len) {
            unsigned j1 = c, j2 = static_cast<unsigned char>(in[i + 1]);
            unsigned s1 = ((j1 + 1) >> 1) + (j1 <= 0x5E ? 0x70 : 0xB0);
            unsigned s2 = j2 + ((j1 & 1) ? (j2 >= 0x60 ? 0x20 : 0x1F) : 0x7E);
            out.push_back(static_cast<char>(s1));
            out.push_back(static_cast<char>(s2));
            i += 2;
            continue;
        }
        if (mode == kKatakana && c >= 0x21 && c <= 0x5F) {
            out.push_back(static_cast<char>(c + 0x80));
            ++i;
            continue;
        }
        out.push_back(static_cast<char>(c));
        ++i;
    }
    return out;
}

std::string ShiftJisToIso2022Jp(const std::string& in) {
    std::string out;
    bool kanji = false;
    for (size_t i = 0; i < in.size();) {
        unsigned char c = static_cast<unsigned char>(in[i]);
        bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xEF);
        if (lead && i + 1 < in.size()) {
            if (!kanji) { out += "\x1B$B"; kanji = true; }
            unsigned s1 = c, s2 = static_cast<unsigned char>(in[i + 1]);
            unsigned j1 = (s1 - (s1 <= 0x9F ? 0x70 : 0xB0)) * 2 - 1;
            unsigned j2;
            if (s2 >= 0x9F) { j1 += 1; j2 = s2 - 0x7E; }
            else j2 = s2 - (s2 >= 0x80 ? 0x20 : 0x1F);
            out.push_back(static_cast<char>(j1));
            out.push_back(static_cast<char>(j2));
            i += 2;
            continue;
        }
        if (kanji) { out += "\x1B(B"; kanji = false; }
        if (c >= 0xA1 && c <= 0xDF) {
            out += "\x1B(I";
            out.push_back(static_cast<char>(c - 0x80));
            out += "\x1B(B";
        } else {
            out.push_back(static_cast<char>(c));
        }
        ++i;
    }
    if (kanji) out += "\x1B(B";
    return out;
}

}  // namespace platform
}  // namespace feedlet
