// INI access through the system's private-profile functions, with the
// contract of ini.h. May contain only OS plumbing.
#include <windows.h>

#include <cstring>

#include "platform/ini.h"

namespace feedlet {
namespace platform {

size_t IniReadString(const char* file, const char* section, const char* key,
                     const char* default_value, char* buffer, size_t size) {
    if (!buffer || size == 0) return 0;
    const char* fallback = default_value ? default_value : "";
    // With a null name the system lists the sections or keys, and with a
    // null file it reads win.ini: neither is a value.
    if (!file || !section || !key) {
        size_t n = std::strlen(fallback) < size - 1 ? std::strlen(fallback) : size - 1;
        std::memcpy(buffer, fallback, n);
        buffer[n] = 0;
        return n;
    }
    DWORD n = GetPrivateProfileStringA(section, key, fallback, buffer, static_cast<DWORD>(size), file);
    buffer[n < size ? n : size - 1] = 0;
    return n;
}

bool IniWriteString(const char* file, const char* section, const char* key, const char* value) {
    if (!file || !section) return false;  // a null file would be win.ini
    return WritePrivateProfileStringA(section, key, value, file) != FALSE;
}

}  // namespace platform
}  // namespace feedlet
