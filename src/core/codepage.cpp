#include "core/codepage.h"

#include <cstdlib>

#include "platform/platform.h"

namespace feedlet {

char16_t* CodePageToUtf16(unsigned code_page, const char* text) {
    if (!text) return nullptr;
    int units = platform::MultiByteToUtf16(code_page, text, -1, nullptr, 0);
    if (units < 0) units = 0;
    auto* result = static_cast<char16_t*>(calloc(static_cast<size_t>(units) + 1, sizeof(char16_t)));
    if (!result) return nullptr;
    if (units > 0) platform::MultiByteToUtf16(code_page, text, -1, result, units);
    return result;
}

char* Utf16ToCodePage(unsigned code_page, const char16_t* text) {
    if (!text) return nullptr;
    int bytes = platform::Utf16ToMultiByte(code_page, text, -1, nullptr, 0);
    if (bytes < 0) bytes = 0;
    auto* result = static_cast<char*>(calloc(static_cast<size_t>(bytes) + 2, 1));
    if (!result) return nullptr;
    if (bytes > 0) platform::Utf16ToMultiByte(code_page, text, -1, result, bytes);
    return result;
}

size_t Cp932Prefix(const char* text, size_t limit) {
    if (!text) return 0;
    size_t i = 0;
    while (text[i] && i < limit) {
        auto byte = static_cast<unsigned char>(text[i]);
        bool lead = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
        size_t width = (lead && text[i + 1]) ? 2 : 1;
        if (i + width > limit) break;
        i += width;
    }
    return i;
}

}  // namespace feedlet
