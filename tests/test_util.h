// Small helpers shared by the tests: temporary folders and files, bounded
// waits for what other threads do, a crawler held busy, code page 932 text
// made from UTF-16, readable UTF-16.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
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

// A fresh host folder laid out as the host has it: "Plugins" inside it and,
// unless told otherwise, "Plugins/Feedlet". For the object's life the plugin
// directory is its "Plugins"; the previous one is put back at scope end.
class HostFolder {
public:
    explicit HostFolder(bool with_feedlet_folder = true);
    ~HostFolder();
    HostFolder(const HostFolder&) = delete;
    HostFolder& operator=(const HostFolder&) = delete;
    // Both end with the platform's separator.
    const std::string& path() const { return host_.path(); }
    const std::string& plugin_dir() const { return plugin_dir_; }
    // False when a folder could not be made.
    bool ok() const { return ok_; }
private:
    TempDir host_;
    std::string plugin_dir_;
    std::string saved_;
    bool ok_ = false;
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

// How long a test waits for another thread before it fails: far beyond what
// a loaded machine, Wine or a sanitizer needs, so only a hang reaches it,
// and it then becomes a failure that says what never happened.
constexpr uint32_t kWaitMs = 60000;

// Polls done() every millisecond until it holds. Fails, naming what, when it
// still does not hold after timeout_ms (measured with the standard library's
// steady clock, not with the clock under test).
::testing::AssertionResult WaitUntil(const std::function<bool()>& done, uint32_t timeout_ms,
                                     const std::string& what);

// Waits until every fetch started on crawler has ended (its workers are
// none); fails, naming the feed, after timeout_ms.
::testing::AssertionResult FetchesEnded(FeedCrawler* crawler, uint32_t timeout_ms = kWaitMs);

// text in code page 932, through the project's own conversion (the platform's
// code page 932 tables underneath), so that tests can compare the bytes the
// code holds with text written as UTF-16 literals.
std::string Cp932(const char16_t* text);

// when as an RSS 2.0 date ("07 Dec 2026 18:00:00 GMT").
std::string RssDate(int64_t when);

// piece written times times over.
std::u16string Repeat(const std::u16string& piece, size_t times);

// A UTF-16 text as hexadecimal units ("65E5 FFFD "), for failure messages.
std::string UnitsOf(const std::u16string& text);

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

#ifdef _WIN32
// The child process mode of this program (--hold-mutexes READY RELEASE
// NAME...): holds named mutexes for a test in another process. Returns the
// exit status.
int HoldNamedMutexes(int count, char** arguments);
#endif

}  // namespace testing_util
}  // namespace feedlet

using feedlet::testing_util::TempDir;
using feedlet::testing_util::HostFolder;
using feedlet::testing_util::WriteFile;
using feedlet::testing_util::ReadFile;
using feedlet::testing_util::FetchInProgress;
using feedlet::testing_util::kWaitMs;
using feedlet::testing_util::WaitUntil;
using feedlet::testing_util::FetchesEnded;
using feedlet::testing_util::Cp932;
using feedlet::testing_util::UnitsOf;
using feedlet::testing_util::Repeat;
using feedlet::testing_util::FetchLimitsFor;
