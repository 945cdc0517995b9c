#include <cstdint>
#include <cstdio>
#include <string>

#include "core/utf8.h"
#include "platform/platform.h"
#include "tool.h"

namespace feedlet {
namespace tool {

namespace {

bool IsHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Walks a UTF-16 text by code point; lone surrogates go to on_lone.
template <typename OnCodePoint, typename OnLone>
void Walk(const char16_t* text, OnCodePoint on_code_point, OnLone on_lone) {
    for (const char16_t* p = text; *p; ++p) {
        if (IsHigh(p[0]) && IsLow(p[1])) {
            on_code_point(0x10000 + ((static_cast<uint32_t>(p[0]) - 0xD800) << 10) + (p[1] - 0xDC00));
            ++p;
        } else if (IsHigh(*p) || IsLow(*p)) {
            on_lone(*p);
        } else {
            on_code_point(*p);
        }
    }
}

}  // namespace

std::string Utf8(const char16_t* text) {
    std::string out;
    if (!text) return out;
    Walk(text, [&](uint32_t cp) { AppendUtf8(out, cp); }, [&](char16_t) { AppendUtf8(out, 0xFFFD); });
    return out;
}

std::string JsonString(const char16_t* text) {
    std::string out = "\"";
    char escape[8];
    auto on_code_point = [&](uint32_t cp) {
        switch (cp) {
            case '"': out += "\\\""; return;
            case '\\': out += "\\\\"; return;
            case '\n': out += "\\n"; return;
            case '\r': out += "\\r"; return;
            case '\t': out += "\\t"; return;
            default: break;
        }
        if (cp < 0x20) {
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(cp));
            out += escape;
        } else {
            AppendUtf8(out, cp);
        }
    };
    auto on_lone = [&](char16_t unit) {
        std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(unit));
        out += escape;
    };
    if (text) Walk(text, on_code_point, on_lone);
    out += "\"";
    return out;
}

std::string JsonStringOrNull(const char16_t* text) { return text ? JsonString(text) : "null"; }

std::u16string FromCommandLine(const char* argument) {
    std::u16string out;
    if (!argument) return out;
#ifdef _WIN32
    int units = platform::MultiByteToUtf16(platform::kCodePageShiftJis, argument, -1, nullptr, 0);
    if (units <= 0) return out;
    out.resize(static_cast<size_t>(units));
    platform::MultiByteToUtf16(platform::kCodePageShiftJis, argument, -1, &out[0], units);
    out.resize(static_cast<size_t>(units) - 1);
#else
    // UTF-8; an invalid byte becomes U+FFFD.
    const auto* p = reinterpret_cast<const unsigned char*>(argument);
    while (*p) {
        uint32_t cp = 0xFFFD;
        int extra = 0;
        if (*p < 0x80) cp = *p;
        else if ((*p & 0xE0) == 0xC0) { cp = *p & 0x1F; extra = 1; }
        else if ((*p & 0xF0) == 0xE0) { cp = *p & 0x0F; extra = 2; }
        else if ((*p & 0xF8) == 0xF0) { cp = *p & 0x07; extra = 3; }
        ++p;
        for (int i = 0; i < extra; ++i) {
            if ((*p & 0xC0) != 0x80) { cp = 0xFFFD; break; }
            cp = (cp << 6) | (*p++ & 0x3F);
        }
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp > 0x10FFFF ? 0xFFFD : cp);
        }
    }
#endif
    return out;
}

void Print(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

}  // namespace tool
}  // namespace feedlet
