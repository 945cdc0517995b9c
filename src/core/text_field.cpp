#include "core/text_field.h"

#include <cstring>
#include <new>

namespace feedlet {

size_t Utf16Length(const char16_t* text) {
    size_t n = 0;
    if (text)
        while (text[n]) ++n;
    return n;
}

char16_t* Utf16Duplicate(const char16_t* text, size_t length) {
    char16_t* copy = new (std::nothrow) char16_t[length + 1];
    if (!copy) return nullptr;
    if (length) std::memcpy(copy, text, length * sizeof(char16_t));
    copy[length] = 0;
    return copy;
}

void TextField::Clear() {
    if (kind == kTextNarrow) delete[] static_cast<char*>(text);
    else if (kind == kTextWide) delete[] static_cast<char16_t*>(text);
    text = nullptr;
    kind = kTextNarrow;
}

uint32_t TextField::Length() const {
    if (!text) return 0;
    if (kind == kTextNarrow) return static_cast<uint32_t>(std::strlen(static_cast<const char*>(text)));
    if (kind == kTextWide) return static_cast<uint32_t>(Utf16Length(static_cast<const char16_t*>(text)));
    return 0;
}

const char* TextField::AssignNarrow(const char* source) {
    Clear();
    if (source && *source) {
        size_t length = std::strlen(source);
        char* copy = new (std::nothrow) char[length + 1];
        if (copy) std::memcpy(copy, source, length + 1);
        text = copy;
    }
    kind = kTextNarrow;
    return static_cast<const char*>(text);
}

const char16_t* TextField::AssignWide(const char16_t* source) {
    Clear();
    if (source && *source) text = Utf16Duplicate(source, Utf16Length(source));
    kind = kTextWide;
    return static_cast<const char16_t*>(text);
}

}  // namespace feedlet
