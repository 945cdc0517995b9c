// The whole way from a feed's bytes to a sorted FeedDocument, beside pugixml
// and libxml2 parsing the same bytes, and the memory a build needs on the
// way, relative to the size of its input.
//
// The feeds are generated: RSS 2.0 documents in Japanese UTF-8 with entity
// references, CDATA sections and RFC 822 dates, much like the feeds of
// Japanese news sites: a typical one of 50 KiB (61 items), and large ones of
// 4 MiB (5,000 items) and 16 MiB (20,000 items).
//
// Besides the benchmarks, two modes for scripts/bench:
//   feedlet-bench --peak-rss READER BYTES   one build (READER feedlet) or
//       parse (pugixml, libxml2) of the generated feed of BYTES in a fresh
//       process with the C library's default heap settings; prints the input
//       size, the resident size just before and the peak resident size
//       during it (Linux: VmRSS and VmHWM, the peak reset before).
//   feedlet-bench --build-times N BYTES   N full-path builds, nothing else
//       (for perf stat and callgrind).
#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <malloc.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <pugixml.hpp>
#include <string>

#include "feed/feed_document.h"
#include "fetch/feed_builder.h"
#include "feed/xml_node.h"
#include "fetch/document_loader.h"
#include "fetch/download.h"

// ---------------------------------------------------------------------------
// Heap accounting. The benchmark binary supplies malloc and friends on top of
// glibc's own, so that every allocation of the engine, pugixml and libxml2 is
// seen while a measurement runs (operator new goes through malloc too).
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void __libc_free(void* block);
}

namespace {

std::atomic<bool> g_counting{false};
std::atomic<int64_t> g_live{0};
std::atomic<int64_t> g_peak{0};

void Count(int64_t delta) {
    const int64_t live = g_live.fetch_add(delta, std::memory_order_relaxed) + delta;
    int64_t peak = g_peak.load(std::memory_order_relaxed);
    while (live > peak && !g_peak.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
    }
}

int64_t UsableSize(void* block) { return block ? static_cast<int64_t>(malloc_usable_size(block)) : 0; }

// Counts the heap from zero until Stop; blocks freed in between that were
// allocated before are not expected (the measured code owns what it frees).
struct HeapMeter {
    HeapMeter() {
        g_live = 0;
        g_peak = 0;
        g_counting = true;
    }
    ~HeapMeter() { g_counting = false; }
    int64_t Live() const { return g_live.load(); }
    int64_t Peak() const { return g_peak.load(); }
};

}  // namespace

extern "C" {
void* malloc(size_t size) {
    void* block = __libc_malloc(size);
    if (g_counting.load(std::memory_order_relaxed)) Count(UsableSize(block));
    return block;
}
void* calloc(size_t count, size_t size) {
    void* block = __libc_calloc(count, size);
    if (g_counting.load(std::memory_order_relaxed)) Count(UsableSize(block));
    return block;
}
void* realloc(void* block, size_t size) {
    const bool counting = g_counting.load(std::memory_order_relaxed);
    const int64_t before = counting ? UsableSize(block) : 0;
    void* moved = __libc_realloc(block, size);
    if (counting && (moved || size == 0)) Count(UsableSize(moved) - before);
    return moved;
}
void free(void* block) {
    if (block && g_counting.load(std::memory_order_relaxed)) Count(-UsableSize(block));
    __libc_free(block);
}
}

namespace {

// ---------------------------------------------------------------------------
// The generated feeds.

constexpr size_t kTypicalBytes = 50u << 10;
constexpr size_t kLargeBytes = 4u << 20;
constexpr size_t kHugeBytes = 16u << 20;
// Items of the same size in every feed: 5,000 in 4 MiB.
constexpr size_t kItemsPerLargeFeed = 5000;

size_t ItemsOf(size_t bytes) {
    size_t items = static_cast<size_t>(static_cast<double>(bytes) * kItemsPerLargeFeed / kLargeBytes);
    return items ? items : 1;
}

const char* const kTitles[] = {
    "東京で桜が開花、平年より五日早く", "新型車両の試運転始まる &amp; 乗車体験会も",
    "市場の動き：円相場と株価の見通し", "週末の天気「晴れのち雨」に注意",
    "図書館の開館時間を延長します", "地域の祭り、今年は三年ぶりに開催へ",
};
const char* const kBody =
    "本日、関係者によりますと、計画は予定どおり進んでおり、来月には最初の成果が公表される見込みです。"
    "詳しい内容は記者会見で説明されます。";
const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kZones[] = {"+0900", "GMT", "-0500", "+0000", "JST", "EST"};

std::string GenerateFeed(size_t bytes) {
    const size_t items = ItemsOf(bytes);
    std::string head =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<rss version=\"2.0\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n<channel>\n"
        "<title>ベンチマーク・ニュース</title>\n<link>http://news.example.jp/</link>\n"
        "<description>毎日のニュースをお届けします &amp; 速報も</description>\n"
        "<copyright>&#169; 2011 Example News</copyright>\n"
        "<lastBuildDate>Sun, 01 May 2011 10:00:00 +0900</lastBuildDate>\n";
    const std::string tail = "</channel>\n</rss>\n";
    const size_t per_item = (kLargeBytes - head.size() - tail.size()) / kItemsPerLargeFeed;
    std::string feed = head;
    feed.reserve(items * per_item + head.size() + tail.size() + 4096);
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 8) & 0xFFFFFF; };
    char line[512];
    for (size_t i = 0; i < items; ++i) {
        std::string item;
        std::snprintf(line, sizeof line, "<item>\n<title>%s（%zu）</title>\n", kTitles[i % 6], i);
        item += line;
        std::snprintf(line, sizeof line, "<link>http://news.example.jp/articles/%zu?ref=rss&amp;lang=ja</link>\n", i);
        item += line;
        const uint32_t r = next();
        std::snprintf(line, sizeof line, "<pubDate>%s, %02u May 2011 %02u:%02u:%02u %s</pubDate>\n",
                      kDays[r % 7], 1 + r % 28, r / 7 % 24, r / 11 % 60, r / 13 % 60, kZones[r % 6]);
        std::string date = line;
        std::snprintf(line, sizeof line, "<guid isPermaLink=\"false\">news-%zu</guid>\n<category>社会</category>\n", i);
        std::string rest = std::string(line) + date + "</item>\n";
        // Half the descriptions are CDATA with raw markup, half escaped HTML.
        const bool cdata = i % 2 == 0;
        std::string open = cdata ? "<description><![CDATA[<p>" : "<description>&lt;p&gt;";
        std::string close = cdata ? "</p>]]></description>\n" : "&lt;/p&gt;</description>\n";
        std::string body;
        const size_t fixed = item.size() + rest.size() + open.size() + close.size();
        while (fixed + body.size() + std::strlen(kBody) <= per_item) body += kBody;
        while (fixed + body.size() < per_item) body += ' ';
        feed += item + open + body + close + rest;
    }
    feed += tail;
    return feed;
}

const std::string& Feed(size_t bytes) {
    static const std::string typical = GenerateFeed(kTypicalBytes);
    static const std::string large = GenerateFeed(kLargeBytes);
    static const std::string huge = GenerateFeed(kHugeBytes);
    if (bytes == kTypicalBytes) return typical;
    return bytes == kHugeBytes ? huge : large;
}

// ---------------------------------------------------------------------------
// The three readers.

// Bytes as they come from a download, decoded, parsed, extracted and sorted,
// exactly as a crawler builds its document; the parse tree and the decoded
// text are gone when it returns.
bool BuildFromBytes(feedlet::FeedDocument* document, const std::string& bytes) {
    using namespace feedlet;
    unsigned char* block = static_cast<unsigned char*>(std::malloc(bytes.size() + kDownloadTerminator));
    if (!block) return false;
    std::memcpy(block, bytes.data(), bytes.size());
    std::memset(block + bytes.size(), 0, kDownloadTerminator);
    DownloadBuffer buffer;
    buffer.Adopt(block, static_cast<uint32_t>(bytes.size()));
    return BuildFeedDocumentFromBuffer(document, buffer, true);
}

bool ParsePugixml(const std::string& bytes) {
    pugi::xml_document document;
    bool ok = document.load_buffer(bytes.data(), bytes.size());
    benchmark::DoNotOptimize(document.first_child());
    return ok;
}

bool ParseLibxml2(const std::string& bytes) {
    xmlDocPtr document =
        xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "feed.xml", nullptr, XML_PARSE_NONET);
    if (!document) return false;
    xmlFreeDoc(document);
    return true;
}

void SetBytes(benchmark::State& state, size_t bytes) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

void BM_FeedletFullPath(benchmark::State& state) {
    const std::string& bytes = Feed(static_cast<size_t>(state.range(0)));
    const uint32_t items = static_cast<uint32_t>(ItemsOf(static_cast<size_t>(state.range(0))));
    for (auto _ : state) {
        feedlet::FeedDocument document;
        if (!BuildFromBytes(&document, bytes) || document.ArticleCount() != items) {
            state.SkipWithError("feed not built");
            break;
        }
        benchmark::DoNotOptimize(document.articles);
    }
    SetBytes(state, bytes.size());
}

void BM_PugixmlParse(benchmark::State& state) {
    const std::string& bytes = Feed(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        if (!ParsePugixml(bytes)) {
            state.SkipWithError("pugixml failed");
            break;
        }
    }
    SetBytes(state, bytes.size());
}

void BM_Libxml2Parse(benchmark::State& state) {
    const std::string& bytes = Feed(static_cast<size_t>(state.range(0)));
    xmlInitParser();
    for (auto _ : state) {
        if (!ParseLibxml2(bytes)) {
            state.SkipWithError("libxml2 failed");
            break;
        }
    }
    SetBytes(state, bytes.size());
}

void FeedSizes(benchmark::internal::Benchmark* benchmark) {
    benchmark->Arg(kTypicalBytes)->Arg(kLargeBytes)->Arg(kHugeBytes);
}
BENCHMARK(BM_FeedletFullPath)->Name("FullPath/Feedlet")->Apply(FeedSizes)->Unit(benchmark::kMillisecond)->MinWarmUpTime(0.3);
BENCHMARK(BM_PugixmlParse)->Name("FullPath/pugixml")->Apply(FeedSizes)->Unit(benchmark::kMillisecond)->MinWarmUpTime(0.3);
BENCHMARK(BM_Libxml2Parse)->Name("FullPath/libxml2")->Apply(FeedSizes)->Unit(benchmark::kMillisecond)->MinWarmUpTime(0.3);

// The same path in its stages on the 4 MiB feed, to show where the time
// goes: decoding the bytes to UTF-16, parsing the text into a tree (in
// place, as the loader does), and extracting the sorted document from the
// tree, with and without the release of the tree.
feedlet::DownloadBuffer* NewDownload(const std::string& bytes) {
    unsigned char* block = static_cast<unsigned char*>(std::malloc(bytes.size() + feedlet::kDownloadTerminator));
    std::memcpy(block, bytes.data(), bytes.size());
    std::memset(block + bytes.size(), 0, feedlet::kDownloadTerminator);
    auto* buffer = new feedlet::DownloadBuffer;
    buffer->Adopt(block, static_cast<uint32_t>(bytes.size()));
    return buffer;
}

void BM_StageDecode(benchmark::State& state) {
    const std::string& bytes = Feed(kLargeBytes);
    for (auto _ : state) {
        feedlet::DownloadBuffer* buffer = NewDownload(bytes);
        feedlet::DocumentText text;
        feedlet::DecodeDocument(*buffer, text);
        benchmark::DoNotOptimize(text.text());
        delete buffer;
    }
    SetBytes(state, bytes.size());
}
BENCHMARK(BM_StageDecode)->Name("FullPathStage/Decode")->Unit(benchmark::kMillisecond)->MinWarmUpTime(0.3);

// A decoded copy of the feed's text after the declaration, in a block the
// tree may take over.
char16_t* DecodedCopy(size_t* length) {
    static const std::u16string text = [] {
        feedlet::DownloadBuffer* buffer = NewDownload(Feed(kLargeBytes));
        feedlet::DocumentText decoded;
        feedlet::DecodeDocument(*buffer, decoded);
        std::u16string body(feedlet::SkipDeclaration(decoded.text()));
        delete buffer;
        return body;
    }();
    auto* block = static_cast<char16_t*>(std::malloc((text.size() + 1) * sizeof(char16_t)));
    std::memcpy(block, text.c_str(), (text.size() + 1) * sizeof(char16_t));
    *length = text.size();
    return block;
}

void BM_StageParse(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        size_t length;
        char16_t* text = DecodedCopy(&length);
        state.ResumeTiming();
        feedlet::XmlNode root;
        root.ParseDocument(text, text, length);
        benchmark::DoNotOptimize(root.children);
    }
    SetBytes(state, Feed(kLargeBytes).size());
}
BENCHMARK(BM_StageParse)->Name("FullPathStage/Parse")->Unit(benchmark::kMillisecond)->MinWarmUpTime(0.3);

void StageExtract(benchmark::State& state, bool time_tree_release) {
    for (auto _ : state) {
        state.PauseTiming();
        size_t length;
        char16_t* text = DecodedCopy(&length);
        feedlet::XmlNode root;
        root.ParseDocument(text, text, length);
        state.ResumeTiming();
        feedlet::FeedDocument document;
        if (time_tree_release) {
            feedlet::ExtractFeedDocumentAndRelease(&document, root, true);
        } else {
            feedlet::ExtractFeedDocument(&document, root, true);
            state.PauseTiming();
            root.Clear();
            state.ResumeTiming();
        }
        benchmark::DoNotOptimize(document.articles);
    }
    SetBytes(state, Feed(kLargeBytes).size());
}
void BM_StageExtractAndFreeTree(benchmark::State& state) { StageExtract(state, true); }
void BM_StageExtractOnly(benchmark::State& state) { StageExtract(state, false); }
BENCHMARK(BM_StageExtractAndFreeTree)->Name("FullPathStage/ExtractAndFreeTree")->Unit(benchmark::kMillisecond)->MinWarmUpTime(0.3);
BENCHMARK(BM_StageExtractOnly)->Name("FullPathStage/ExtractOnly")->Unit(benchmark::kMillisecond)->MinWarmUpTime(0.3);

// Heap figures, as multiples of the input size: what the built document
// keeps, and the most the heap held at once on the way there (input copy,
// decoded text and parse tree included). pugixml's and libxml2's trees are
// given for scale.
void BM_FeedDocumentMemory(benchmark::State& state) {
    const std::string& bytes = Feed(static_cast<size_t>(state.range(0)));
    xmlInitParser();  // its one-time tables are not part of a tree
    int64_t kept = 0, peak = 0, left = 0, pugixml_tree = 0, pugixml_peak = 0, libxml2_tree = 0, libxml2_peak = 0;
    bool ok = true;
    // Nothing but the measured code may allocate while a meter runs, so the
    // figures go to the counters only afterwards.
    for (auto _ : state) {
        {
            HeapMeter meter;
            feedlet::FeedDocument* document = new feedlet::FeedDocument;
            ok = BuildFromBytes(document, bytes) && document->ArticleCount() > 0;
            kept = meter.Live();
            peak = meter.Peak();
            feedlet::FeedDocument::Release(document);
            left = meter.Live();
        }
        {
            HeapMeter meter;
            {
                pugi::xml_document document;
                document.load_buffer(bytes.data(), bytes.size());
                pugixml_tree = meter.Live();
            }
            pugixml_peak = meter.Peak();
        }
        {
            HeapMeter meter;
            xmlDocPtr document =
                xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "feed.xml", nullptr, XML_PARSE_NONET);
            libxml2_tree = meter.Live();
            xmlFreeDoc(document);
            libxml2_peak = meter.Peak();
        }
    }
    if (!ok) {
        state.SkipWithError("feed not built");
        return;
    }
    const double input = static_cast<double>(bytes.size());
    state.counters["input_MiB"] = input / (1 << 20);
    state.counters["kept_x_input"] = static_cast<double>(kept) / input;
    state.counters["peak_x_input"] = static_cast<double>(peak) / input;
    state.counters["left_after_release"] = static_cast<double>(left);
    state.counters["pugixml_tree_x_input"] = static_cast<double>(pugixml_tree) / input;
    state.counters["pugixml_peak_x_input"] = static_cast<double>(pugixml_peak) / input;
    state.counters["libxml2_tree_x_input"] = static_cast<double>(libxml2_tree) / input;
    state.counters["libxml2_peak_x_input"] = static_cast<double>(libxml2_peak) / input;
}
BENCHMARK(BM_FeedDocumentMemory)->Name("Memory/Feedlet")->Apply(FeedSizes)->Iterations(1)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------
// The modes of scripts/bench.

long StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t length = std::strlen(field);
    while (std::getline(status, line))
        if (line.compare(0, length, field) == 0) return std::strtol(line.c_str() + length, nullptr, 10);
    return -1;
}

int PeakResident(const std::string& reader, size_t size) {
    const std::string bytes = GenerateFeed(size);
    xmlInitParser();
    const long before = StatusKiB("VmRSS:");
    std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts from here
    bool ok = false;
    feedlet::FeedDocument* document = nullptr;
    if (reader == "feedlet") {
        document = new feedlet::FeedDocument;  // kept to the end: it is what the build is for
        ok = BuildFromBytes(document, bytes);
    } else if (reader == "pugixml") {
        ok = ParsePugixml(bytes);
    } else if (reader == "libxml2") {
        ok = ParseLibxml2(bytes);
    }
    const long peak = StatusKiB("VmHWM:");
    feedlet::FeedDocument::Release(document);
    if (!ok) return 1;
    std::printf("{\"input\":%zu,\"before_kib\":%ld,\"peak_kib\":%ld}\n", bytes.size(), before, peak);
    return 0;
}

int BuildTimes(long times, size_t size) {
    const std::string bytes = GenerateFeed(size);
    for (long i = 0; i < times; ++i) {
        feedlet::FeedDocument document;
        if (!BuildFromBytes(&document, bytes)) return 1;
    }
    return 0;
}

}  // namespace

// Called first by the benchmark program's main: a mode's exit status, or -1.
int RunFeedBenchMode(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--peak-rss")
        return PeakResident(argv[2], std::strtoul(argv[3], nullptr, 10));
    if (argc == 4 && std::string(argv[1]) == "--build-times")
        return BuildTimes(std::strtol(argv[2], nullptr, 10), std::strtoul(argv[3], nullptr, 10));
    return -1;
}
