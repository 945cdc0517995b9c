// The whole way from a feed's bytes to a sorted FeedDocument, beside pugixml
// and libxml2 parsing the same bytes, and the memory a built document keeps
// and needs on the way, relative to the size of its input.
//
// The feed is generated: a 4 MiB RSS 2.0 document of 5,000 items in Japanese
// UTF-8 with entity references, CDATA sections and RFC 822 dates, much like
// the larger feeds of Japanese news sites.
#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <malloc.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
// The generated feed.

constexpr int kItems = 5000;
constexpr size_t kFeedBytes = 4u << 20;

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

std::string GenerateFeed() {
    std::string head =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<rss version=\"2.0\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n<channel>\n"
        "<title>ベンチマーク・ニュース</title>\n<link>http://news.example.jp/</link>\n"
        "<description>毎日のニュースをお届けします &amp; 速報も</description>\n"
        "<copyright>&#169; 2011 Example News</copyright>\n"
        "<lastBuildDate>Sun, 01 May 2011 10:00:00 +0900</lastBuildDate>\n";
    const std::string tail = "</channel>\n</rss>\n";
    const size_t per_item = (kFeedBytes - head.size() - tail.size()) / kItems;
    std::string feed = head;
    feed.reserve(kFeedBytes + 4096);
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 8) & 0xFFFFFF; };
    char line[512];
    for (int i = 0; i < kItems; ++i) {
        std::string item;
        std::snprintf(line, sizeof line, "<item>\n<title>%s（%d）</title>\n", kTitles[i % 6], i);
        item += line;
        std::snprintf(line, sizeof line, "<link>http://news.example.jp/articles/%d?ref=rss&amp;lang=ja</link>\n", i);
        item += line;
        const uint32_t r = next();
        std::snprintf(line, sizeof line, "<pubDate>%s, %02u May 2011 %02u:%02u:%02u %s</pubDate>\n",
                      kDays[r % 7], 1 + r % 28, r / 7 % 24, r / 11 % 60, r / 13 % 60, kZones[r % 6]);
        std::string date = line;
        std::snprintf(line, sizeof line, "<guid isPermaLink=\"false\">news-%d</guid>\n<category>社会</category>\n", i);
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

const std::string& Feed() {
    static const std::string feed = GenerateFeed();
    return feed;
}

// ---------------------------------------------------------------------------
// The three readers.

// Bytes as they come from a download, decoded, parsed, extracted and sorted,
// exactly as a crawler builds its document; the parse tree is gone when it
// returns.
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

void BM_FeedletBytesToSortedDocument(benchmark::State& state) {
    const std::string& bytes = Feed();
    for (auto _ : state) {
        feedlet::FeedDocument document;
        if (!BuildFromBytes(&document, bytes) || document.ArticleCount() != kItems) {
            state.SkipWithError("feed not built");
            break;
        }
        benchmark::DoNotOptimize(document.articles);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_FeedletBytesToSortedDocument)->Name("FullPath/Feedlet")->Unit(benchmark::kMillisecond)->MinWarmUpTime(0.3);

// The same path in its three stages, to show where the time goes: decoding
// the bytes to UTF-16, parsing the text into a tree, and extracting the
// sorted document from the tree (including the tree's release).
void BM_StageDecode(benchmark::State& state) {
    const std::string& bytes = Feed();
    for (auto _ : state) {
        unsigned char* block = static_cast<unsigned char*>(std::malloc(bytes.size() + feedlet::kDownloadTerminator));
        std::memcpy(block, bytes.data(), bytes.size());
        std::memset(block + bytes.size(), 0, feedlet::kDownloadTerminator);
        feedlet::DownloadBuffer buffer;
        buffer.Adopt(block, static_cast<uint32_t>(bytes.size()));
        feedlet::DocumentText text;
        feedlet::DecodeDocument(buffer, text);
        benchmark::DoNotOptimize(text.text());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_StageDecode)->Name("FullPathStage/Decode")->Unit(benchmark::kMillisecond)->MinWarmUpTime(0.3);

const std::u16string& DecodedFeed() {
    static const std::u16string text = [] {
        const std::string& bytes = Feed();
        unsigned char* block = static_cast<unsigned char*>(std::malloc(bytes.size() + feedlet::kDownloadTerminator));
        std::memcpy(block, bytes.data(), bytes.size());
        std::memset(block + bytes.size(), 0, feedlet::kDownloadTerminator);
        feedlet::DownloadBuffer buffer;
        buffer.Adopt(block, static_cast<uint32_t>(bytes.size()));
        feedlet::DocumentText decoded;
        feedlet::DecodeDocument(buffer, decoded);
        return std::u16string(feedlet::SkipDeclaration(decoded.text()));
    }();
    return text;
}

void BM_StageParse(benchmark::State& state) {
    const std::u16string& text = DecodedFeed();
    for (auto _ : state) {
        feedlet::XmlNode root;
        root.Parse(text.c_str(), u"*", nullptr);
        benchmark::DoNotOptimize(root.children);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(Feed().size()));
}
BENCHMARK(BM_StageParse)->Name("FullPathStage/Parse")->Unit(benchmark::kMillisecond)->MinWarmUpTime(0.3);

// Extraction and sort from a parsed tree, with or without the release of
// the tree that a build ends with.
void StageExtract(benchmark::State& state, bool time_tree_release) {
    const std::u16string& text = DecodedFeed();
    for (auto _ : state) {
        state.PauseTiming();
        feedlet::XmlNode* root = new feedlet::XmlNode;
        root->Parse(text.c_str(), u"*", nullptr);
        state.ResumeTiming();
        feedlet::FeedDocument document;
        feedlet::ExtractFeedDocument(&document, *root, true);
        if (!time_tree_release) state.PauseTiming();
        delete root;
        if (!time_tree_release) state.ResumeTiming();
        benchmark::DoNotOptimize(document.articles);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(Feed().size()));
}
void BM_StageExtractAndFreeTree(benchmark::State& state) { StageExtract(state, true); }
void BM_StageExtractOnly(benchmark::State& state) { StageExtract(state, false); }
BENCHMARK(BM_StageExtractAndFreeTree)->Name("FullPathStage/ExtractAndFreeTree")->Unit(benchmark::kMillisecond)->MinWarmUpTime(0.3);
BENCHMARK(BM_StageExtractOnly)->Name("FullPathStage/ExtractOnly")->Unit(benchmark::kMillisecond)->MinWarmUpTime(0.3);

void BM_PugixmlParse(benchmark::State& state) {
    const std::string& bytes = Feed();
    for (auto _ : state) {
        pugi::xml_document document;
        if (!document.load_buffer(bytes.data(), bytes.size())) {
            state.SkipWithError("pugixml failed");
            break;
        }
        benchmark::DoNotOptimize(document.first_child());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_PugixmlParse)->Name("FullPath/pugixml")->Unit(benchmark::kMillisecond)->MinWarmUpTime(0.3);

void BM_Libxml2Parse(benchmark::State& state) {
    const std::string& bytes = Feed();
    for (auto _ : state) {
        xmlDocPtr document = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "feed.xml", nullptr,
                                           XML_PARSE_NONET);
        if (!document) {
            state.SkipWithError("libxml2 failed");
            break;
        }
        xmlFreeDoc(document);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_Libxml2Parse)->Name("FullPath/libxml2")->Unit(benchmark::kMillisecond)->MinWarmUpTime(0.3);

// Heap figures, as multiples of the input size: what the built document
// keeps, and the most the heap held at once on the way there (input copy,
// decoded text and parse tree included). pugixml's and libxml2's trees are
// given for scale.
void BM_FeedDocumentMemory(benchmark::State& state) {
    const std::string& bytes = Feed();
    xmlInitParser();  // its one-time tables are not part of a tree
    int64_t kept = 0, peak = 0, left = 0, pugixml_tree = 0, pugixml_peak = 0, libxml2_tree = 0, libxml2_peak = 0;
    bool ok = true;
    // Nothing but the measured code may allocate while a meter runs, so the
    // figures go to the counters only afterwards.
    for (auto _ : state) {
        {
            HeapMeter meter;
            feedlet::FeedDocument* document = new feedlet::FeedDocument;
            ok = BuildFromBytes(document, bytes) && document->ArticleCount() == kItems;
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
BENCHMARK(BM_FeedDocumentMemory)->Name("Memory/Feedlet")->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
