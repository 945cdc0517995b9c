// Texts typed into the settings dialogs, kept to what Setting.ini holds.
// The dialogs edit UTF-16 text, but the INI file stores code page 932 bytes
// and reads each value back into a fixed buffer: a text longer than that
// would come back cut after the next load, perhaps in the middle of a
// double-byte character. So a text is cut here, once, where the file would
// cut it, and always between characters.
#pragma once

#include <cstddef>
#include <string>

namespace feedlet {

// Room for a text in Setting.ini, terminator excluded: the buffers the
// reading uses (Name 255, Split 16 and Format 1024 bytes) minus one.
constexpr size_t kNameBytes = 254;
constexpr size_t kSplitBytes = 15;
constexpr size_t kFormatBytes = 1023;

// text (null: empty) in code page 932, at most max_bytes long, cut before
// the first character that would not fit in full.
std::string Cp932Prefix(const char16_t* text, size_t max_bytes);

// The longest prefix of text (null: empty) whose code page 932 form takes at
// most max_bytes; a surrogate pair is kept or dropped whole.
std::u16string FitToCp932(const char16_t* text, size_t max_bytes);

// A number typed into an edit, read as the C library's atoi reads it:
// leading blanks, an optional sign, then decimal digits up to the first
// other character; no digits give 0. Unlike atoi it never overflows: the
// magnitude stops growing beyond 10^12, which every caller treats as "too
// large".
long long ReadTypedNumber(const char16_t* text);

}  // namespace feedlet
