// ISO-2022-JP is JIS X 0208 under escape sequences and maps arithmetically
// onto Shift_JIS. Both platforms convert code page 50220 by going through
// code page 932, so feeds decode to the same characters everywhere (Wine has
// no 50220 tables of its own).
#pragma once

#include <cstddef>
#include <string>

namespace feedlet {
namespace platform {

// Understands ESC $ @, ESC $ B (JIS X 0208), ESC ( B, ESC ( J (Roman),
// ESC ( I and SO/SI (half-width katakana). Other bytes pass through.
std::string Iso2022JpToShiftJis(const char* in, size_t length);
std::string ShiftJisToIso2022Jp(const std::string& in);

}  // namespace platform
}  // namespace feedlet
