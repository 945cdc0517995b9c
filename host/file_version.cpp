#include "file_version.h"

#include <cstdio>
#include <cwchar>

#include "host_plugin.h"

namespace qvhost {

namespace {

// The string names of a version resource, the standard ones in the order
// Explorer's Properties list them.
const wchar_t* const kStringNames[] = {
    L"FileDescription", L"FileVersion",      L"ProductName",    L"ProductVersion", L"LegalCopyright",
    L"CompanyName",     L"OriginalFilename", L"InternalName",   L"Comments",       L"LegalTrademarks",
    L"PrivateBuild",    L"SpecialBuild",
};

std::string Dotted(DWORD high, DWORD low) {
    return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." + std::to_string(HIWORD(low)) +
           "." + std::to_string(LOWORD(low));
}

}  // namespace

bool ReadFileVersion(const std::string& path, VersionFields* fields, std::string* error) {
    auto Field = [fields](const std::string& key, const std::string& value) { fields->emplace_back(key, value); };
    // The path arrives in the ANSI code page, as LoadLibraryA would take it.
    int length = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
    std::wstring wide(length > 0 ? length : 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wide[0], length);
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(wide.c_str(), &ignored);
    if (size == 0) {
        *error = path + " has no version resource (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    std::vector<unsigned char> block(size);
    if (!GetFileVersionInfoW(wide.c_str(), 0, size, block.data())) {
        *error = "the version resource of " + path + " cannot be read";
        return false;
    }

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixed_size = 0;
    if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixed_size) ||
        fixed_size < sizeof *fixed || fixed->dwSignature != 0xFEEF04BD) {
        *error = "the version resource of " + path + " has no fixed part";
        return false;
    }
    char number[16];
    Field("fixed.file", Dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS));
    Field("fixed.product", Dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS));
    std::snprintf(number, sizeof number, "0x%lx", fixed->dwFileFlags & fixed->dwFileFlagsMask);
    Field("fixed.flags", number);
    std::snprintf(number, sizeof number, "0x%lx", fixed->dwFileOS);
    Field("fixed.os", number);
    Field("fixed.type", std::to_string(fixed->dwFileType));

    // Every translation the resource lists, and the strings of each.
    WORD* translations = nullptr;
    UINT translations_size = 0;
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                        &translations_size))
        translations_size = 0;
    for (UINT i = 0; i + 1 < translations_size / sizeof(WORD); i += 2) {
        wchar_t table[9];
        std::swprintf(table, 9, L"%04x%04x", translations[i], translations[i + 1]);
        std::snprintf(number, sizeof number, "%04x %u", translations[i], translations[i + 1]);
        Field("translation", number);
        for (const wchar_t* name : kStringNames) {
            std::wstring query = std::wstring(L"\\StringFileInfo\\") + table + L"\\" + name;
            wchar_t* value = nullptr;
            UINT value_length = 0;
            if (!VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &value_length) ||
                !value)
                continue;
            Field(WideToUtf8(name, wcslen(name)), WideToUtf8(value, wcslen(value)));
        }
    }
    return true;
}

}  // namespace qvhost
