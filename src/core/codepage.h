// Conversion between the narrow code pages (932 in the INI files and dialogs,
// 50220 for ISO-2022-JP feeds) and the UTF-16 of the feed model and the host.
#pragma once

namespace feedlet {

// The whole NUL-terminated text converted into a new calloc'd block that the
// caller frees with free(). Null text or a failed allocation gives null; text
// the platform cannot convert gives an empty string.
char16_t* CodePageToUtf16(unsigned code_page, const char* text);
// The mirror image; unmappable characters become the platform's default ('?').
char* Utf16ToCodePage(unsigned code_page, const char16_t* text);

}  // namespace feedlet
