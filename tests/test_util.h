// Small helpers shared by the tests: temporary folders and files, a crawler
// held busy, readable UTF-16.
#pragma once

#include <string>

#include "platform/platform.h"

namespace feedlet {
struct FeedCrawler;
}

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

// Holds a crawler's lock on another thread, as a running fetch does, from
// construction until Release() or destruction.
class FetchInProgress {
public:
    explicit FetchInProgress(FeedCrawler* crawler);
    ~FetchInProgress() { Release(); }
    FetchInProgress(const FetchInProgress&) = delete;
    FetchInProgress& operator=(const FetchInProgress&) = delete;
    void Release();
private:
    FeedCrawler* crawler_;
    platform::Event locked_;
    platform::Event release_;
    platform::WorkerGroup thread_;
};
std::string ReadFile(const std::string& path);

// A UTF-16 text as hexadecimal units ("65E5 FFFD "), for failure messages.
std::string UnitsOf(const std::u16string& text);

}  // namespace testing_util
}  // namespace feedlet

using feedlet::testing_util::TempDir;
using feedlet::testing_util::WriteFile;
using feedlet::testing_util::ReadFile;
using feedlet::testing_util::FetchInProgress;
using feedlet::testing_util::UnitsOf;
