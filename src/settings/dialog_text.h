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

// Room for a text in Setting.ini: the buffers the reading uses (Name 255,
// Split 16 and Format 1024 bytes) less the terminator and one byte more,
// because a value written between quotes (Split and Format always are, a
// name with blanks at its ends too) has its opening quote in the reader's
// buffer when the value is cut: the Windows profile functions keep only
// size - 2 bytes of it.
constexpr size_t kNameBytes = 253;
constexpr size_t kSplitBytes = 14;
constexpr size_t kFormatBytes = 1022;

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
