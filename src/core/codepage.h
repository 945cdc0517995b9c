// Conversion between the narrow code pages (932 in the INI files and dialogs,
// 50220 for ISO-2022-JP feeds) and the UTF-16 of the feed model and the host.
#pragma once

#include <cstddef>

namespace feedlet {

// The whole NUL-terminated text converted into a new calloc'd block that the
// caller frees with free(). Null text or a failed allocation gives null; text
// the platform cannot convert gives an empty string.
char16_t* CodePageToUtf16(unsigned code_page, const char* text);
// The mirror image; unmappable characters become the platform's default ('?').
char* Utf16ToCodePage(unsigned code_page, const char16_t* text);

// Length of the longest prefix of a NUL-terminated code page 932 text that
// fits in limit bytes without cutting a double-byte character in two (a lead
// byte 0x81-0x9F or 0xE0-0xFC and the byte after it stay together).
size_t Cp932Prefix(const char* text, size_t limit);

}  // namespace feedlet
