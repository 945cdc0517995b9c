#include "core/codepage.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/encoding.h"
#include "platform/memory.h"

namespace feedlet {

namespace {

// Code page 932 bytes (length of them, terminator included when it is part
// of the text) as a new calloc'd UTF-16 block with room for one more unit.
char16_t* Cp932ToUtf16(const char* bytes, int length) {
    int units = platform::MultiByteToUtf16(kCodePageShiftJis, bytes, length, nullptr, 0);
    if (units < 0) units = 0;
    auto* result = static_cast<char16_t*>(platform::AllocateZeroed(static_cast<size_t>(units) + 1, sizeof(char16_t)));
    if (!result) return nullptr;
    if (units > 0) platform::MultiByteToUtf16(kCodePageShiftJis, bytes, length, result, units);
    return result;
}

// The code page 932 bytes of text, terminator included, as a new calloc'd
// block with `extra` zero bytes after them; *length gets their count (0 when
// the platform cannot convert the text).
char* Utf16ToCp932(const char16_t* text, size_t extra, int* length) {
    int bytes = platform::Utf16ToMultiByte(kCodePageShiftJis, text, -1, nullptr, 0);
    if (bytes < 0) bytes = 0;
    auto* result = static_cast<char*>(platform::AllocateZeroed(static_cast<size_t>(bytes) + extra, 1));
    if (!result) return nullptr;
    if (bytes > 0) platform::Utf16ToMultiByte(kCodePageShiftJis, text, -1, result, bytes);
    *length = bytes;
    return result;
}

char16_t* Iso2022JpToUtf16(const char* text) {
    // The terminator goes through the arithmetic with the text (see
    // CodePageToUtf16), so a lone JIS X 0208 byte at the end pairs with it;
    // the calloc'd result ends in a zero unit all the same.
    size_t length = std::strlen(text) + 1;
    if (length > INT32_MAX) return nullptr;
    auto* sjis = static_cast<char*>(platform::Allocate(length + 1));
    if (!sjis) return nullptr;
    size_t converted = Iso2022JpToShiftJis(sjis, text, length);
    char16_t* result = Cp932ToUtf16(sjis, static_cast<int>(converted));
    free(sjis);
    return result;
}

char* Utf16ToIso2022Jp(const char16_t* text) {
    int length = 0;
    char* sjis = Utf16ToCp932(text, 0, &length);
    if (!sjis) return nullptr;
    size_t bytes = ShiftJisToIso2022Jp(nullptr, sjis, static_cast<size_t>(length));
    auto* result = static_cast<char*>(platform::AllocateZeroed(bytes + 2, 1));
    if (result) ShiftJisToIso2022Jp(result, sjis, static_cast<size_t>(length));
    free(sjis);
    return result;
}

}  // namespace

char16_t* CodePageToUtf16(unsigned code_page, const char* text) {
    if (!text) return nullptr;
    if (code_page == kCodePageIso2022Jp) return Iso2022JpToUtf16(text);
    if (code_page != kCodePageShiftJis) return static_cast<char16_t*>(platform::AllocateZeroed(1, sizeof(char16_t)));
    return Cp932ToUtf16(text, -1);
}

char* Utf16ToCodePage(unsigned code_page, const char16_t* text) {
    if (!text) return nullptr;
    if (code_page == kCodePageIso2022Jp) return Utf16ToIso2022Jp(text);
    if (code_page != kCodePageShiftJis) return static_cast<char*>(platform::AllocateZeroed(2, 1));
    int length = 0;
    return Utf16ToCp932(text, 2, &length);
}


}  // namespace feedlet
