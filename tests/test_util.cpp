#include "test_util.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "core/codepage.h"
#include "core/plugin_time.h"
#include "fetch/feed_crawler.h"
#include "platform/platform.h"

namespace feedlet {
namespace testing_util {

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device seed;
    std::filesystem::path base = std::filesystem::temp_directory_path();
    std::filesystem::path dir;
    do {
        dir = base / ("feedlet-test-" + std::to_string(seed()) + "-" + std::to_string(counter++));
    } while (!std::filesystem::create_directory(dir));
    path_ = dir.string() + platform::kPathSeparator;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

HostFolder::HostFolder(bool with_feedlet_folder)
    : plugin_dir_(host_.path() + "Plugins" + platform::kPathSeparator), saved_(platform::PluginDirectory()) {
    ok_ = platform::CreateFolder(plugin_dir_.c_str()) &&
          (!with_feedlet_folder || platform::CreateFolder((plugin_dir_ + "Feedlet").c_str()));
    platform::SetPluginDirectory(plugin_dir_.c_str());
}

HostFolder::~HostFolder() { platform::SetPluginDirectory(saved_.c_str()); }

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

FetchInProgress::FetchInProgress(FeedCrawler* crawler) : crawler_(crawler) {
    thread_.Start(
        [](void* raw) {
            auto* self = static_cast<FetchInProgress*>(raw);
            Lock(self->crawler_);
            self->locked_.Set();
            self->release_.Wait(UINT32_MAX);
            Unlock(self->crawler_);
        },
        this);
    EXPECT_TRUE(locked_.Wait(kWaitMs)) << "the stand-in fetch never got the crawler's lock";
}

void FetchInProgress::Release() {
    release_.Set();
    EXPECT_TRUE(thread_.WaitIdle(kWaitMs)) << "the stand-in fetch did not let go of the crawler";
}

::testing::AssertionResult WaitUntil(const std::function<bool()>& done, uint32_t timeout_ms,
                                     const std::string& what) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        if (done()) return ::testing::AssertionSuccess();
        if (Clock::now() >= deadline)
            return ::testing::AssertionFailure() << "gave up after " << timeout_ms << " ms waiting for " << what;
        platform::SleepMilliseconds(1);
    }
}

::testing::AssertionResult FetchesEnded(FeedCrawler* crawler, uint32_t timeout_ms) {
    return WaitUntil([crawler] { return crawler->workers.load() == 0; }, timeout_ms,
                     "the fetches of " + std::string(crawler->url.Narrow() ? crawler->url.Narrow() : "?") + " to end");
}

std::string RssDate(int64_t when) {
    CalendarFields f = FieldsFromEpochSeconds(when);
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[64];
    std::snprintf(text, sizeof text, "%02d %s %04d %02d:%02d:%02d GMT", f.day, months[f.month - 1], f.year, f.hour,
                  f.minute, f.second);
    return text;
}

std::u16string Repeat(const std::u16string& piece, size_t times) {
    std::u16string out;
    for (size_t i = 0; i < times; ++i) out += piece;
    return out;
}

std::string Cp932(const char16_t* text) {
    // A failed conversion gives an empty text, which no expectation equals.
    char* bytes = Utf16ToCodePage(platform::kCodePageShiftJis, text);
    std::string result = bytes ? bytes : "";
    free(bytes);
    return result;
}

std::string UnitsOf(const std::u16string& text) {
    std::string out;
    char hex[8];
    for (char16_t unit : text) {
        std::snprintf(hex, sizeof hex, "%04X ", static_cast<unsigned>(unit));
        out += hex;
    }
    return out;
}

}  // namespace testing_util
}  // namespace feedlet
