#include "soak/feed_mix.h"

#include <cstdio>
#include <cstdlib>

#include "core/encoding.h"
#include "core/plugin_time.h"
#include "test_util.h"

namespace feedlet {
namespace soak {

namespace {

// 2026-12-07 12:00 UTC: the articles' dates count back from here.
constexpr int64_t kEpoch = 1796644800;

struct KindInfo {
    FeedKind kind;
    const char* label;
    uint32_t interval;  // seconds; the plugin's least is 300
};

// The twenty feeds in RSS.ini order. Intervals differ so that the feeds
// fall due at different walks, as on a desktop, and not all at once.
constexpr KindInfo kMix[FeedMix::kFeeds] = {
    {FeedKind::kNews, "news", 300},         {FeedKind::kNews, "news", 420},
    {FeedKind::kNews, "news", 540},         {FeedKind::kNews, "news", 300},
    {FeedKind::kNews, "news", 360},         {FeedKind::kNews, "news", 480},
    {FeedKind::kCompressed, "gzip", 300},   {FeedKind::kCompressed, "gzip", 390},
    {FeedKind::kCompressed, "gzip", 450},   {FeedKind::kAtom, "atom", 300},
    {FeedKind::kAtom, "atom", 510},         {FeedKind::kShiftJis, "時刻表", 330},
    {FeedKind::kPublisher, "etag", 300},    {FeedKind::kPublisher, "etag", 600},
    {FeedKind::kPublisher, "etag", 300},    {FeedKind::kPublisher, "etag", 450},
    {FeedKind::kFlaky, "flaky", 300},       {FeedKind::kFlaky, "flaky", 420},
    {FeedKind::kRefusing, "refusing", 300}, {FeedKind::kBroken, "broken", 300},
};

// A publisher's document changes every this many steps.
constexpr uint64_t kPublisherSteps = 40;
// The version of the reference documents (ServeReference), which no step
// reaches in a run.
constexpr int kReferenceVersion = 999999;

std::string Number(size_t value, int width) {
    char text[24];
    std::snprintf(text, sizeof text, "%0*u", width, static_cast<unsigned>(value));
    return text;
}

// UTF-8 text in code page 932, as the INI files and the Shift_JIS feed hold it.
std::string Cp932FromUtf8(const std::string& utf8) {
    char16_t* wide = DecodeUtf8(utf8.c_str());
    std::string bytes = wide ? testing_util::Cp932(wide) : std::string();
    std::free(wide);
    return bytes;
}

std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else out += c;
    }
    return out;
}

}  // namespace

FeedMix::FeedMix(TestHttpServer& server) : server_(server) {
    for (size_t i = 0; i < kFeeds; ++i) {
        Feed feed;
        feed.name = std::string(kMix[i].label) + Number(i, 2);
        feed.path = "/feed" + Number(i, 2) + ".xml";
        feed.kind = kMix[i].kind;
        feed.interval = kMix[i].interval;
        feeds_.push_back(feed);
    }
}

int FeedMix::Articles(size_t feed, int version) {
    return 3 + static_cast<int>((static_cast<size_t>(version) * 7 + feed * 3) % 10);
}

std::string FeedMix::Title(size_t feed, int version) const {
    return feeds_[feed].name + " 第" + std::to_string(version) + "版";
}

std::string FeedMix::Document(size_t feed, int version) const {
    const Feed& f = feeds_[feed];
    std::string home = "http://example.com/" + f.name + "/";
    std::string title = Escaped(Title(feed, version));
    int articles = Articles(feed, version);
    std::string xml;
    if (f.kind == FeedKind::kAtom) {
        xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?><feed xmlns=\"http://www.w3.org/2005/Atom\"><title>" + title +
              "</title><link href=\"" + home + "\"/><updated>2026-12-07T12:00:00Z</updated>";
        for (int k = 0; k < articles; ++k) {
            std::string id = std::to_string(version) + "-" + std::to_string(k);
            int64_t when = kEpoch - k * 5400 - int64_t{version} * 60;
            CalendarFields at = FieldsFromEpochSeconds(when);
            char stamp[32];
            std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02dZ", at.year, at.month, at.day, at.hour,
                          at.minute, at.second);
            xml += "<entry><title>記事 " + id + " &amp; 続報</title><link href=\"" + home + id + "\"/><updated>" +
                   stamp + "</updated><summary>本文 " + id + "</summary></entry>";
        }
        return xml + "</feed>";
    }
    bool shift_jis = f.kind == FeedKind::kShiftJis;
    xml = std::string("<?xml version=\"1.0\" encoding=\"") + (shift_jis ? "Shift_JIS" : "utf-8") +
          "\"?><rss version=\"2.0\"><channel><title>" + title + "</title><link>" + home +
          "</link><description>第" + std::to_string(version) + "版のお知らせ</description>";
    for (int k = 0; k < articles; ++k) {
        std::string id = std::to_string(version) + "-" + std::to_string(k);
        xml += "<item><title>記事 " + id + " &amp; 続報</title><link>" + home + id + "</link><pubDate>" +
               testing_util::RssDate(kEpoch - k * 5400 - int64_t{version} * 60) + "</pubDate><description>本文 " + id +
               "</description></item>";
    }
    xml += "</channel></rss>";
    return shift_jis ? Cp932FromUtf8(xml) : xml;
}

TestHttpServer::Reply FeedMix::GoodReply(size_t feed, int version) const {
    const Feed& f = feeds_[feed];
    switch (f.kind) {
        case FeedKind::kCompressed:
            return TestHttpServer::Compressed(Document(feed, version), "gzip");
        case FeedKind::kPublisher: {
            std::string etag = "\"" + f.name + "-" + std::to_string(version) + "\"";
            std::string modified = TestHttpServer::HttpDate(kEpoch + int64_t{version} * 3600);
            // Every other publisher compresses when asked to.
            return TestHttpServer::Publisher(Document(feed, version), etag, modified, feed % 2 ? "gzip" : "");
        }
        default:
            return TestHttpServer::Body(200, Document(feed, version));
    }
}

void FeedMix::Serve(uint64_t step) {
    for (size_t i = 0; i < kFeeds; ++i) {
        Feed& f = feeds_[i];
        f.good = false;
        f.version = static_cast<int>(f.kind == FeedKind::kPublisher ? step / kPublisherSteps : step);
        // Spells of trouble start at different steps for different feeds.
        uint64_t spell = step + i * 7;
        TestHttpServer::Reply reply;
        if (f.kind == FeedKind::kFlaky && spell / 25 % 4 == 1) {
            reply = TestHttpServer::HangUp();
        } else if (f.kind == FeedKind::kFlaky && spell / 25 % 4 == 2) {
            reply = TestHttpServer::Body(500, "<html><body>server error</body></html>");
        } else if (f.kind == FeedKind::kRefusing && spell / 30 % 3 == 1) {
            reply = TestHttpServer::Refusal(503, "600");
        } else if (f.kind == FeedKind::kRefusing && spell / 30 % 3 == 2) {
            reply = TestHttpServer::Refusal(429, "");
        } else if (f.kind == FeedKind::kBroken && spell / 20 % 4 == 1) {
            reply = TestHttpServer::Body(200, "this is no feed");
        } else if (f.kind == FeedKind::kBroken && spell / 20 % 4 == 2) {
            reply = TestHttpServer::Body(404, "<html><body>not found</body></html>");
        } else if (f.kind == FeedKind::kBroken && spell / 20 % 4 == 3) {
            std::string document = Document(i, f.version);
            reply = TestHttpServer::BrokenOff(document.substr(0, document.size() / 2), document.size());
        } else {
            reply = GoodReply(i, f.version);
            f.good = true;
        }
        server_.Route(f.path, reply);
    }
}

void FeedMix::ServeReference() {
    for (size_t i = 0; i < kFeeds; ++i) {
        Feed& f = feeds_[i];
        f.good = true;
        f.version = kReferenceVersion;
        server_.Route(f.path, GoodReply(i, f.version));
    }
}

void FeedMix::NoteAnswers(bool fresh) {
    for (Feed& f : feeds_) {
        if (fresh) f.shown = -1;
        int count = server_.RequestCount(f.path);
        if (count == f.requests) continue;
        f.requests = count;
        // A failed answer leaves the document shown before.
        if (f.good) f.shown = f.version;
    }
    // The soak asks nothing of the log; a long run keeps none of it.
    server_.ForgetRequests();
}

uint64_t FeedMix::Fetches() const {
    uint64_t total = 0;
    for (const Feed& f : feeds_) total += static_cast<uint64_t>(server_.RequestCount(f.path));
    return total;
}

std::string FeedMix::ShownTitle(size_t feed) const {
    int shown = feeds_[feed].shown;
    return shown < 0 ? std::string() : Title(feed, shown);
}

int FeedMix::ShownMenuEntries(size_t feed) const {
    int shown = feeds_[feed].shown;
    return shown < 0 ? 0 : 2 + Articles(feed, shown);
}

std::string FeedMix::FeedsIni() const {
    std::string ini;
    for (size_t i = 0; i < kFeeds; ++i) {
        const Feed& f = feeds_[i];
        ini += "[RSS" + Number(i, 3) + "]\r\nRSSName=" + f.name + "\r\nURL=" + server_.Url(f.path) +
               "\r\nInterval=" + std::to_string(f.interval) + "\r\nFlag=0x" + (i % 3 ? "1" : "0") + "\r\n";
    }
    return Cp932FromUtf8(ini);
}

std::string FeedMix::SettingsIni() const {
    // The formats cover the tokens a clock shows: titles, dates in several
    // forms, elapsed times, several articles joined.
    static const char* const kInfoFormats[] = {
        "%title", "%title ― %description (%yyyy/%m/%dd %hh:%nn)", "%title 最終更新 %m/%dd(%aaa) %hh:%nn",
        "%title / %copyright / %dt"};
    static const char* const kItemFormats[] = {"[%hh:%nn] %title", "%dt %title",
                                               "%m/%dd %AMPM %h12:%nn %title", "%title (%pass前)",
                                               "%yyyy-%m-%dd %aaaa %title (%pa前)"};
    static const int kItemFlags[] = {0, 1, 2, 4};
    std::string ini = "[Main]\r\nInfoNum=" + std::to_string(kFeeds) + "\r\nItemNum=" + std::to_string(kFeeds) +
                      "\r\nFlag=0x1\r\n";
    for (size_t i = 0; i < kFeeds; ++i) {
        ini += "[Info" + Number(i, 3) + "]\r\nName=情報" + Number(i, 2) + "\r\nTarget=" + feeds_[i].name +
               "\r\nFormat=\"" + kInfoFormats[i % 4] + "\"\r\n";
        ini += "[Item" + Number(i, 3) + "]\r\nName=記事" + Number(i, 2) + "\r\nTarget=" + feeds_[i].name +
               "\r\nFlag=" + std::to_string(kItemFlags[i % 4]) + "\r\nNum=" + std::to_string(3 + i % 3) +
               "\r\nTime=86400\r\nSplit=\" | \"\r\nFormat=\"" + kItemFormats[i % 5] + "\"\r\n";
    }
    return Cp932FromUtf8(ini);
}

}  // namespace soak
}  // namespace feedlet
