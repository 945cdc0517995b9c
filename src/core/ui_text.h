// The plugin's own Japanese texts (the host's records, the INI defaults, the
// tray tip, the dialogs' lists and labels) are written once, readably, as
// UTF-16 literals in UTF-8 source files, never as hand-escaped code page 932
// bytes. Where one is needed narrow, in code page 932, it is converted here
// by the platform's 932 conversion, never by the compiler's execution
// character set.
//
// The conversion runs once per text, while the library (or program) is
// loaded: each of the plugin's UiTexts is a namespace-scope object that
// converts when it is constructed, and a record made at load writes its
// fields with WriteUiText. So it is done before the host or a test calls
// anything, before any thread of the plugin exists and before a test arms
// the allocation countdown (platform/memory.h); afterwards the text is only
// read, from any thread. The narrow form lives in the object itself: no heap
// block is kept. In the DLL this runs in its attach, under the loader lock,
// where WideCharToMultiByte loads nothing, allocates nothing of ours and
// waits for no other thread; the POSIX iconv converter is opened and closed
// within the conversion.
//
// A UiText must not be read by another file's static initialisation, whose
// order against this one's is unspecified: a record made at load from these
// texts is made in the same file, after them, or converts its literals
// itself with WriteUiText.
#pragma once

#include <cstddef>

namespace feedlet {

// The most code page 932 bytes a UTF-16 literal of `units` units
// (terminator included) can take, terminator included: a unit is one or two
// bytes, and a character outside the BMP, which code page 932 cannot hold,
// becomes "??" (one '?' per unit).
constexpr size_t Cp932Capacity(size_t units) { return 2 * units - 1; }

// text's code page 932 form, terminated, in out (capacity bytes); returns
// its length. When the platform cannot convert (a POSIX system without
// iconv's CP932, which these fixed texts never meet elsewhere) or the form
// does not fit, out is all zero and 0 is returned: an empty text, never a
// part of one or wrong bytes. The tests compare every text's bytes, so such
// a platform fails them.
size_t ConvertUiText(const char16_t* text, char* out, size_t capacity) noexcept;

// A fixed text into a fixed field of a record; the field must hold the
// longest form the literal can take. Bytes after the terminator are left as
// they are (a record zeroes its fields first).
template <size_t N, size_t M>
size_t WriteUiText(char (&field)[N], const char16_t (&text)[M]) noexcept {
    static_assert(Cp932Capacity(M) <= N, "the text may not fit its field");
    return ConvertUiText(text, field, N);
}

class UiText {
public:
    static constexpr size_t kCapacity = 64;  // bytes, terminator included

    template <size_t M>
    explicit UiText(const char16_t (&text)[M]) noexcept {
        static_assert(Cp932Capacity(M) <= kCapacity, "the text is too long for a UiText");
        ConvertUiText(text, narrow_, kCapacity);
    }
    UiText(const UiText&) = delete;
    UiText& operator=(const UiText&) = delete;

    // The code page 932 form, terminated.
    const char* Narrow() const { return narrow_; }

private:
    char narrow_[kCapacity] = {};
};

}  // namespace feedlet
