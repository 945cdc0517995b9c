// INI access through the system's private-profile functions.
#include <windows.h>

#include "platform/ini.h"

namespace feedlet {
namespace platform {

size_t IniReadString(const char* file, const char* section, const char* key,
                     const char* default_value, char* buffer, size_t size) {
    if (!buffer || size == 0) return 0;
    DWORD n = GetPrivateProfileStringA(section, key, default_value ? default_value : "", buffer,
                                       static_cast<DWORD>(size), file);
    buffer[n < size ? n : size - 1] = 0;
    return n;
}

bool IniWriteString(const char* file, const char* section, const char* key, const char* value) {
    return WritePrivateProfileStringA(section, key, value, file) != FALSE;
}

}  // namespace platform
}  // namespace feedlet
