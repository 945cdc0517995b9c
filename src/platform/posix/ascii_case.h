// ASCII case-insensitive byte comparison for the POSIX implementations (INI
// names, HTTP header names). The platform layer lies below the core and
// cannot use its encoding module; this is the one copy here.
#pragma once

#include <cstddef>

namespace feedlet {
namespace platform {

// The n bytes at a and at b are equal with A..Z folded to a..z.
inline bool EqualIgnoringAsciiCase(const char* a, const char* b, size_t n) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    for (size_t i = 0; i < n; ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

}  // namespace platform
}  // namespace feedlet
