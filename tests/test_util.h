// Small helpers shared by the tests: temporary folders and files.
#pragma once

#include <string>

namespace feedlet {
namespace testing_util {

// A fresh folder, removed with its contents at scope end. path() ends with
// the platform's separator.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
private:
    std::string path_;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);

}  // namespace testing_util
}  // namespace feedlet

using feedlet::testing_util::TempDir;
using feedlet::testing_util::WriteFile;
using feedlet::testing_util::ReadFile;
