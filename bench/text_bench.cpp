// GetText for typical display settings, measure and fill, over a fetched
// feed: the channel title, the five latest articles, and every article of
// feeds from 500 to 5,000 articles (the cost must grow linearly).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "fetch/feed_crawler.h"
#include "text/display_text.h"

using namespace feedlet;

namespace {

constexpr PluginTime kNow = 1799000000;

// A fetched crawler per article count, built once.
FeedCrawler* FeedWith(int articles) {
    static std::map<int, std::unique_ptr<FeedCrawler>> crawlers;
    auto& slot = crawlers[articles];
    if (slot) return slot.get();
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?><rss version=\"2.0\"><channel>"
                      "<title>\xE9\x89\x84\xE9\x81\x93\xE9\x81\x8B\xE8\xA1\x8C</title>";
    for (int i = 0; i < articles; ++i) {
        char date[64];
        std::snprintf(date, sizeof date, "Mon, %02d Dec 2026 %02d:%02d:00 +0900", 1 + i % 28, i % 24, i % 60);
        xml += "<item><title>\xE8\xA8\x98\xE4\xBA\x8B " + std::to_string(i) +
               " &amp; \xE3\x81\x8A\xE7\x9F\xA5\xE3\x82\x89\xE3\x81\x9B</title><pubDate>" + date +
               "</pubDate></item>";
    }
    xml += "</channel></rss>";
    std::string path = (std::filesystem::temp_directory_path() /
                        ("feedlet-bench-" + std::to_string(articles) + ".xml")).string();
    std::ofstream(path, std::ios::binary) << xml;
    slot.reset(new FeedCrawler);
    Configure(slot.get(), path.c_str(), 300, kCrawlerSortByTime);
    Lock(slot.get());
    CrawlerThread(slot.get());
    Unlock(slot.get());
    std::filesystem::remove(path);
    return slot.get();
}

struct Setting {
    DisplaySetting setting;
    Setting(FeedCrawler* crawler, const char16_t* format, uint8_t condition, uint32_t num) {
        setting.crawler = crawler;
        setting.format.AssignWide(format);
        setting.split.AssignWide(u" / ");
        setting.flag = condition;
        setting.num = num;
    }
};

template <bool fill>
void Run(benchmark::State& state, int function, const DisplaySetting& s) {
    std::vector<char16_t> buffer;
    int needed = GetTextForSetting(function, &s, kNow, nullptr, 0);
    buffer.resize(static_cast<size_t>(needed));
    for (auto _ : state) {
        int n = fill ? GetTextForSetting(function, &s, kNow, buffer.data(), needed)
                     : GetTextForSetting(function, &s, kNow, nullptr, 0);
        benchmark::DoNotOptimize(n);
    }
    state.SetComplexityN(state.range(0));
    state.counters["units"] = needed;
}

template <bool fill>
void ChannelTitle(benchmark::State& state) {
    Setting s(FeedWith(static_cast<int>(state.range(0))), u"%title", 0, 1);
    Run<fill>(state, 1, s.setting);
}

template <bool fill>
void FiveLatest(benchmark::State& state) {
    Setting s(FeedWith(static_cast<int>(state.range(0))), u"%hh:%nn %title", 1, 5);
    Run<fill>(state, 2, s.setting);
}

template <bool fill>
void AllArticles(benchmark::State& state) {
    Setting s(FeedWith(static_cast<int>(state.range(0))), u"%hh:%nn %title (%pa)", 4, 1);
    Run<fill>(state, 2, s.setting);
}

}  // namespace

BENCHMARK_TEMPLATE(ChannelTitle, false)->Name("GetText/ChannelTitle/measure")->Arg(5000);
BENCHMARK_TEMPLATE(ChannelTitle, true)->Name("GetText/ChannelTitle/fill")->Arg(5000);
BENCHMARK_TEMPLATE(FiveLatest, false)->Name("GetText/FiveLatest/measure")->Arg(5000);
BENCHMARK_TEMPLATE(FiveLatest, true)->Name("GetText/FiveLatest/fill")->Arg(5000);
BENCHMARK_TEMPLATE(AllArticles, false)
    ->Name("GetText/AllArticles/measure")
    ->Arg(500)->Arg(1000)->Arg(2000)->Arg(5000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(AllArticles, true)
    ->Name("GetText/AllArticles/fill")
    ->Arg(500)->Arg(1000)->Arg(2000)->Arg(5000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMicrosecond);
