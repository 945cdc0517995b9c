// Integer reading shared by both INI implementations: the text is read with
// IniReadString and parsed here, so that "0x5", "-12" and " +7" read the
// same everywhere.
#include <cstdint>

#include "platform/ini.h"

namespace feedlet {
namespace platform {

namespace {

int32_t ParseIniInteger(const char* text) {
    const char* p = text;
    while (*p == ' ' || *p == '\t') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    uint32_t value = 0;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        for (p += 2;; ++p) {
            unsigned digit;
            if (*p >= '0' && *p <= '9') digit = static_cast<unsigned>(*p - '0');
            else if (*p >= 'a' && *p <= 'f') digit = static_cast<unsigned>(*p - 'a' + 10);
            else if (*p >= 'A' && *p <= 'F') digit = static_cast<unsigned>(*p - 'A' + 10);
            else break;
            value = value * 16u + digit;
        }
    } else {
        for (; *p >= '0' && *p <= '9'; ++p) value = value * 10u + static_cast<unsigned>(*p - '0');
    }
    if (negative) value = 0u - value;
    return static_cast<int32_t>(value);
}

}  // namespace

int32_t IniReadInt(const char* file, const char* section, const char* key, int32_t default_value) {
    char text[64];
    if (IniReadString(file, section, key, "", text, sizeof text) == 0) return default_value;
    return ParseIniInteger(text);
}

}  // namespace platform
}  // namespace feedlet
