// XML parser benchmarks.
//
// Feed/*: a generated 4 MiB RSS 2.0 document (5,000 items with Japanese
// titles and descriptions, entity references and CDATA sections). Feedlet
// parses the UTF-16 text the loader would hand it (decoded here, outside the
// timing); pugixml and libxml2 parse the same UTF-8 bytes. Each iteration
// builds and frees one whole tree. Bytes processed are the UTF-8 bytes for
// all three, so their MB/s compare directly.
//
// Hostile/*: shapes that cost a naive reader quadratic time or unbounded
// recursion, at 1 Mi and 4 Mi characters (argument = characters).
#include <benchmark/benchmark.h>

#include <libxml/parser.h>
#include <libxml/tree.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "core/encoding.h"
#include "feed/xml_node.h"

namespace {

using feedlet::XmlNode;

// The loader's own decoder, outside the timing.
std::u16string Utf16Of(const std::string& bytes) {
    char16_t* text = feedlet::DecodeUtf8(bytes.c_str());
    std::u16string out = text ? text : u"";
    free(text);
    return out;
}

const char* const kSentences[] = {
    "本日の東京は晴れ、最高気温は二十五度の見込みです。",
    "新しい駅ビルが来月開業し、多くの店舗が入居します。",
    "専門家によると、今年の桜の開花は例年より早まる見通しです。",
    "市役所では窓口の受付時間を延長する取り組みを始めました。",
    "週末には各地で祭りが開かれ、多くの人出が予想されます。",
};

struct Feed {
    std::string bytes;       // the document as fetched (UTF-8, with declaration)
    std::u16string body;     // what the loader hands the parser: after "?>"
};

const Feed& GeneratedFeed() {
    static const Feed feed = [] {
        const size_t kItems = 5000;
        const size_t kTarget = 4u << 20;
        std::string out =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<rss version=\"2.0\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n<channel>\n"
            "  <title>ニュース速報 &amp; 天気</title>\n"
            "  <link>http://example.jp/</link>\n"
            "  <description>地域のニュースをお届けします</description>\n";
        const size_t per_item = (kTarget - out.size() - 32) / kItems;
        for (size_t i = 0; i < kItems; ++i) {
            std::string n = std::to_string(i);
            std::string item =
                "  <item>\n"
                "    <title>記事" + n + "：" + kSentences[i % 5] + " &amp; 続報 &#x3042;</title>\n"
                "    <link>http://example.jp/news/" + n + "?cat=1&amp;page=2</link>\n"
                "    <guid isPermaLink=\"false\">tag:example.jp,2024:" + n + "</guid>\n"
                "    <pubDate>Tue, 10 Jun 2003 04:00:00 +0900</pubDate>\n"
                "    <dc:creator>編集部</dc:creator>\n"
                "    <category>地域</category>\n"
                "    <description><![CDATA[<p>";
            const std::string tail = "</p>]]> 詳しくは&lt;本文&gt;をご覧ください。</description>\n  </item>\n";
            for (size_t k = i; item.size() + tail.size() + 60 < per_item; ++k) item += kSentences[k % 5];
            out += item + tail;
        }
        out += "</channel>\n</rss>\n";
        Feed result;
        result.bytes = out;
        std::u16string text = Utf16Of(out);
        result.body = text.substr(text.find(u"?>") + 2);
        return result;
    }();
    return feed;
}

bool CheckFeedTree(const XmlNode& root) {
    const XmlNode* rss = root.FindChild(u"rss");
    const XmlNode* channel = rss ? rss->FindChild(u"channel") : nullptr;
    if (!channel || !channel->children) return false;
    size_t items = 0;
    for (XmlNode* child : channel->children->As<XmlNode>())
        if (!child->IsText() && feedlet::CompareIgnoreCase(child->name, u"item") == 0) ++items;
    return items == 5000;
}

void FeedFeedlet(benchmark::State& state) {
    const Feed& feed = GeneratedFeed();
    {
        XmlNode root;
        if (!root.Parse(feed.body.c_str(), u"*", nullptr) || !CheckFeedTree(root)) {
            state.SkipWithError("the generated feed does not parse as expected");
            return;
        }
    }
    for (auto _ : state) {
        XmlNode root;
        benchmark::DoNotOptimize(root.Parse(feed.body.c_str(), u"*", nullptr));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(feed.bytes.size()));
}

void FeedPugixml(benchmark::State& state) {
    const Feed& feed = GeneratedFeed();
    for (auto _ : state) {
        pugi::xml_document document;
        pugi::xml_parse_result result = document.load_buffer(
            feed.bytes.data(), feed.bytes.size(), pugi::parse_default, pugi::encoding_utf8);
        if (!result) state.SkipWithError(result.description());
        benchmark::DoNotOptimize(document.first_child());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(feed.bytes.size()));
}

void FeedLibxml2(benchmark::State& state) {
    const Feed& feed = GeneratedFeed();
    xmlInitParser();
    for (auto _ : state) {
        xmlDocPtr document = xmlReadMemory(feed.bytes.data(), static_cast<int>(feed.bytes.size()),
                                           "feed.xml", "UTF-8", XML_PARSE_NONET);
        if (!document) state.SkipWithError("libxml2 failed");
        xmlFreeDoc(document);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(feed.bytes.size()));
}

// --- Hostile shapes ---

std::u16string Ascii(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

// Repeats make(i) until the text holds size characters (cut there).
template <typename Make>
std::u16string Fill(size_t size, Make make) {
    std::string out;
    out.reserve(size + 64);
    for (size_t i = 0; out.size() < size; ++i) out += make(i);
    out.resize(size);
    return Ascii(out);
}

std::u16string Shape(const std::string& name, size_t size) {
    if (name == "UnclosedP") return Fill(size, [](size_t) { return std::string("<p>"); });
    if (name == "DistinctUnclosed")
        return Fill(size, [](size_t i) { return "<n" + std::to_string(i) + ">"; });
    if (name == "DistinctNested") {
        // Half opening tags, half their closing tags in reverse order.
        std::string open;
        std::vector<std::string> closers;
        size_t closing = 0;
        for (size_t i = 0; open.size() + closing < size; ++i) {
            std::string n = std::to_string(i);
            open += "<n" + n + ".>";
            closers.push_back("</n" + n + ".>");
            closing += closers.back().size();
        }
        open += "x";
        for (size_t i = closers.size(); i-- > 0;) open += closers[i];
        return Ascii(open);
    }
    if (name == "CrossedClosers") {
        // Distinct names closed in the order they were opened.
        std::string open, close;
        for (size_t i = 0; open.size() + close.size() < size; ++i) {
            std::string n = std::to_string(i);
            open += "<n" + n + ".>";
            close += "</n" + n + ".>";
        }
        return Ascii(open + close);
    }
    if (name == "SameNameNested") {
        std::string out;
        for (size_t i = 0; i < size / 7; ++i) out += "<a>";
        for (size_t i = 0; i < size / 7; ++i) out += "</a>";
        return Ascii(out);
    }
    if (name == "AttributeValue")
        return Ascii("<a x=\"" + std::string(size - 10, 'v') + "\"/>");
    if (name == "AttributeNames") {
        std::string out = "<a ";
        while (out.size() + 4 < size) out += "b ";
        return Ascii(out + "/>");
    }
    if (name == "AmpersandRun") return Ascii("<a>" + std::string(size - 7, '&') + "</a>");
    if (name == "AmpersandSemicolon")
        return Fill(size, [](size_t) { return std::string("&&&&&&&;&;"); });
    if (name == "CdataOpen") return Ascii("<![CDATA[" + std::string(size - 9, 'x'));
    if (name == "CommentOpen") return Ascii("<!--" + std::string(size - 4, 'x'));
    if (name == "CdataOpenInElements")
        return Fill(size, [](size_t) { return std::string("<a><![CDATA[x</a>"); });
    std::fprintf(stderr, "unknown shape %s\n", name.c_str());
    std::abort();
}

void Hostile(benchmark::State& state, const std::string& name) {
    const std::u16string text = Shape(name, static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        XmlNode root;
        benchmark::DoNotOptimize(root.Parse(text.c_str(), u"*", nullptr));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(text.size() * sizeof(char16_t)));
}

const char* const kShapes[] = {
    "UnclosedP",      "DistinctUnclosed", "DistinctNested",     "CrossedClosers",
    "SameNameNested", "AttributeValue",   "AttributeNames",     "AmpersandRun",
    "AmpersandSemicolon", "CdataOpen",    "CommentOpen",        "CdataOpenInElements",
};

void RegisterAll() {
    // The warm-up lets the heap grow to its working size first, so that no
    // run pays for the first touch of fresh pages (one iteration at 4 Mi
    // would otherwise be mostly page faults).
    const double warm_up = 0.3;
    benchmark::RegisterBenchmark("Feed/Feedlet", FeedFeedlet)
        ->Unit(benchmark::kMillisecond)
        ->MinWarmUpTime(warm_up);
    benchmark::RegisterBenchmark("Feed/pugixml", FeedPugixml)
        ->Unit(benchmark::kMillisecond)
        ->MinWarmUpTime(warm_up);
    benchmark::RegisterBenchmark("Feed/libxml2", FeedLibxml2)
        ->Unit(benchmark::kMillisecond)
        ->MinWarmUpTime(warm_up);
    for (const char* shape : kShapes) {
        std::string name = shape;
        benchmark::RegisterBenchmark(("Hostile/" + name).c_str(),
                                     [name](benchmark::State& state) { Hostile(state, name); })
            ->Arg(1 << 20)
            ->Arg(4 << 20)
            ->Unit(benchmark::kMillisecond)
            ->MinWarmUpTime(warm_up);
    }
}

// feedlet-bench --parse-once SHAPE CHARACTERS: one parse of one hostile
// shape (or of the generated 4 MiB feed, SHAPE "Feed", CHARACTERS ignored)
// and nothing else, for counting its instructions under callgrind
// (scripts/bench with FEEDLET_BENCH_INSTRUCTIONS=1): a measure of the work
// done that other load on the machine cannot disturb.
int ParseOnce(const std::string& shape, size_t size) {
    const std::u16string text = shape == "Feed" ? GeneratedFeed().body : Shape(shape, size);
    XmlNode root;
    root.Parse(text.c_str(), u"*", nullptr);
    return 0;
}

}  // namespace

int RunFeedBenchMode(int argc, char** argv);  // bench_feed.cpp

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--parse-once")
        return ParseOnce(argv[2], std::strtoul(argv[3], nullptr, 10));
    // Before the heap settings below: a peak resident size is measured with
    // the C library's defaults, as the plugin runs.
    int mode = RunFeedBenchMode(argc, argv);
    if (mode >= 0) return mode;
#if defined(__GLIBC__)
    // Keep freed memory in the process, as a long-running host does, instead
    // of handing it back after every iteration: otherwise the hostile shapes
    // (a million nodes and more) measure the kernel's page faults, not the
    // parsers. The same for all three parsers.
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
#endif
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RegisterAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
