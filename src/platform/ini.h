// Private-profile (INI) files, the plugin's only persisted state. On Windows
// these are the system's private-profile functions; elsewhere our own reader
// and writer with the same observable rules:
//  - section and key names match ignoring ASCII case; the first matching
//    section, and the first matching key in it, win;
//  - a value is returned without the blanks around it, up to its first NUL
//    byte, and without one pair of enclosing quotation marks (" or '), cut
//    to the buffer size minus one;
//  - writing creates the file, the section and the key as needed (never the
//    folder); a null value deletes the key, a null key the whole section;
//    files use CRLF line ends;
//  - bytes (code page 932 text) pass through untouched.
// Out of memory, the system's functions give what they give (the default,
// as for an unreadable file); ours throw std::bad_alloc, which the
// configuration reader stops at.
#pragma once

#include <cstddef>
#include <cstdint>

namespace feedlet {
namespace platform {

// Reads a value into buffer (size bytes, always terminated when size > 0).
// A missing key, section or file, an unreadable file and a null file,
// section or key give default_value (null means ""). Returns the number of
// bytes stored without the terminator; 0 (nothing stored) for a null buffer
// or size 0.
size_t IniReadString(const char* file, const char* section, const char* key,
                     const char* default_value, char* buffer, size_t size);

// Reads an integer: optional blanks and sign, then decimal digits or "0x" and
// hexadecimal digits, up to the first other character; wraps modulo 2^32.
// A missing or empty value gives default_value; no digits give 0. The text
// is read and parsed the same way on every platform (the system's
// GetPrivateProfileIntA treats signs and "0x" differently between versions).
int32_t IniReadInt(const char* file, const char* section, const char* key, int32_t default_value);

// Writes key=value; a null value deletes the key, a null key the section.
// Deleting what is not there writes nothing and succeeds. False when the
// file could not be written (its folder missing, no access), and for a null
// file or section.
bool IniWriteString(const char* file, const char* section, const char* key, const char* value);

}  // namespace platform
}  // namespace feedlet
