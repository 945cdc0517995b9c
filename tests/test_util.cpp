#include "test_util.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

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
    locked_.Wait(UINT32_MAX);
}

void FetchInProgress::Release() {
    release_.Set();
    thread_.WaitIdle(UINT32_MAX);
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
