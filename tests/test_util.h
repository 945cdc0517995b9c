// Small helpers shared by the tests: temporary folders and files.
#pragma once

#include <string>

#include "fetch/download.h"
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

// Sets the limits every fetch of a location uses, and puts the previous ones
// back at scope end.
class FetchLimitsFor {
public:
    explicit FetchLimitsFor(const platform::HttpLimits& limits) : saved_(FetchLimits()) { SetFetchLimits(limits); }
    ~FetchLimitsFor() { SetFetchLimits(saved_); }
    FetchLimitsFor(const FetchLimitsFor&) = delete;
    FetchLimitsFor& operator=(const FetchLimitsFor&) = delete;
private:
    platform::HttpLimits saved_;
};

}  // namespace testing_util
}  // namespace feedlet

using feedlet::testing_util::TempDir;
using feedlet::testing_util::WriteFile;
using feedlet::testing_util::ReadFile;
using feedlet::testing_util::FetchInProgress;
using feedlet::testing_util::FetchLimitsFor;
