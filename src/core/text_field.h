// TextField: an owned text that is either narrow (code page 932 bytes, kind 0)
// or wide (UTF-16 units, kind 1). An empty text is always stored as none.
#pragma once

#include <cstddef>
#include <cstdint>

namespace feedlet {

enum : int32_t { kTextNarrow = 0, kTextWide = 1 };

struct TextField {
    void* text = nullptr;
    int32_t kind = kTextNarrow;

    TextField() = default;
    ~TextField() { Clear(); }
    TextField(const TextField&) = delete;
    TextField& operator=(const TextField&) = delete;

    void Clear();
    uint32_t Length() const;
    // Store a private copy of source (none for a null or empty source) and
    // set the kind; returns the stored text.
    const char* AssignNarrow(const char* source);
    const char16_t* AssignWide(const char16_t* source);

    const char* Narrow() const { return kind == kTextNarrow ? static_cast<const char*>(text) : nullptr; }
    const char16_t* Wide() const {
        return kind == kTextWide ? static_cast<const char16_t*>(text) : nullptr;
    }
    bool IsEmpty() const { return Length() == 0; }
};

// Length of a NUL-terminated UTF-16 string.
size_t Utf16Length(const char16_t* text);
// A new[]-allocated copy of the first length units plus a terminator, or null
// when allocation fails.
char16_t* Utf16Duplicate(const char16_t* text, size_t length);

}  // namespace feedlet
