// Conversion between the narrow code pages and the UTF-16 of the feed model
// and the host: code page 932 (the INI files, the dialogs, Shift_JIS feeds)
// through the platform's tables, and code page 50220 (ISO-2022-JP feeds)
// arithmetically on top of 932 (encoding.h), the same on every platform.
#pragma once

#include "platform/platform.h"

namespace feedlet {

using platform::kCodePageShiftJis;
// ISO-2022-JP. Windows converts it through its own tables, Wine has none;
// going through 932 gives Windows' characters everywhere.
constexpr unsigned kCodePageIso2022Jp = 50220;

// The whole NUL-terminated text converted into a new calloc'd block that the
// caller frees with free(); code page 932 or 50220. The terminator is
// converted with the text, as MultiByteToWideChar does with a length of -1.
// Null text or a failed allocation gives null; text the platform cannot
// convert, and any other code page, give an empty string.
char16_t* CodePageToUtf16(unsigned code_page, const char* text);
// The mirror image; unmappable characters become the platform's default
// character ('?', see platform::Utf16ToMultiByte).
char* Utf16ToCodePage(unsigned code_page, const char16_t* text);


}  // namespace feedlet
