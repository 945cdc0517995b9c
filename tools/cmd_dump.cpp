// feedlet-tool dump LOCATION [--sort] [--count]: a feed as the engine builds
// it, as one line of JSON.
#include "cmd_dump.h"

#include <cstdio>
#include <cstring>

#include "tool.h"

namespace feedlet {
namespace tool {

namespace {

void AppendTime(std::string& out, const FeedTime* time) {
    if (!time) {
        out += "null";
        return;
    }
    char text[64];
    std::snprintf(text, sizeof text, "{\"when\":%ld,\"zone_offset\":%ld}", static_cast<long>(time->when),
                  static_cast<long>(time->zone_offset));
    out += text;
}

void AppendRecord(std::string& out, const FeedArticle& record) {
    out += "{\"title\":" + JsonStringOrNull(record.WideText(kMemberTitle));
    out += ",\"description\":" + JsonStringOrNull(record.WideText(kMemberDescription));
    out += ",\"link\":" + JsonStringOrNull(record.WideText(kMemberLink));
    out += ",\"copyright\":" + JsonStringOrNull(record.WideText(kMemberCopyright));
    out += ",\"time\":";
    AppendTime(out, record.Time());
    out += "}";
}

}  // namespace

std::string FeedDocumentJson(const FeedDocument& document) {
    std::string out = "{\"kind\":" + std::to_string(document.kind) + ",\"channel\":";
    AppendRecord(out, document.channel);
    out += ",\"articles\":";
    if (!document.articles) {
        out += "null}";
        return out;
    }
    out += "[";
    bool first = true;
    for (const FeedArticle* article : document.articles->As<FeedArticle>()) {
        if (!first) out += ",";
        first = false;
        AppendRecord(out, *article);
    }
    out += "]}";
    return out;
}

std::string FeedDocumentCountJson(const FeedDocument& document) {
    return "{\"kind\":" + std::to_string(document.kind) + ",\"articles\":" +
           std::to_string(document.ArticleCount()) + "}";
}

int RunDump(int argc, char** argv) {
    const char* location = nullptr;
    bool sort = false;
    bool count = false;
    int locations = 0;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--sort") == 0) sort = true;
        else if (std::strcmp(argv[i], "--count") == 0) count = true;
        else location = argv[i], ++locations;
    }
    if (locations != 1) {
        std::fprintf(stderr, "usage: feedlet-tool dump LOCATION [--sort] [--count]\n");
        return 2;
    }
    // The location goes to the engine unchanged: on Windows the arguments are
    // already in the ANSI code page the engine expects.
    FeedDocument document;
    if (!BuildFeedDocument(&document, location, sort)) {
        Print("{\"ok\":false}\n");
        return 1;
    }
    Print((count ? FeedDocumentCountJson(document) : FeedDocumentJson(document)) + "\n");
    return 0;
}

}  // namespace tool
}  // namespace feedlet
