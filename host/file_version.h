// qvhost version: a file's version resource as Explorer's Properties read
// it (GetFileVersionInfoW, VerQueryValueW).
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace qvhost {

using VersionFields = std::vector<std::pair<std::string, std::string>>;

// The fixed part (fixed.file and fixed.product as four dotted numbers,
// fixed.flags, fixed.os, fixed.type) and, for every translation listed, a
// "translation" field "LANG CODEPAGE" (hexadecimal language, decimal code
// page) followed by each standard string present, under its own name, in
// UTF-8. path is in the ANSI code page. False, with *error saying why, when
// the file has no readable version resource.
bool ReadFileVersion(const std::string& path, VersionFields* fields, std::string* error);

}  // namespace qvhost
