// The soak's twenty feeds on the test server, and what the plugin must show
// for each. Every kind of answer a feed server gives over weeks comes up:
// documents that change at every fetch (plain, compressed, RSS 2.0 in UTF-8
// and Shift_JIS, Atom), publishers that mostly answer 304 to the validators
// the plugin sends back, and servers that hang up, fail with 500 and 404,
// send something that is no feed, break off mid-body, or refuse with 429
// and 503. Replies change only between two steps of the soak, while no
// fetch runs, so the soak knows which one each fetch was given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "http_test_server.h"

namespace feedlet {
namespace soak {

enum class FeedKind : uint8_t {
    kNews,        // RSS 2.0 in UTF-8, new at every step
    kCompressed,  // the same, always sent gzip-compressed
    kAtom,        // Atom in UTF-8, new at every step
    kShiftJis,    // RSS 2.0 in Shift_JIS, new at every step
    kPublisher,   // ETag and Last-Modified, new every 40 steps: mostly 304s
    kFlaky,       // hangs up, or answers 500, for spells between good ones
    kRefusing,    // 503 with Retry-After, or 429 without, for spells
    kBroken,      // no feed, a 404, or a body cut short, for spells
};

class FeedMix {
public:
    static constexpr size_t kFeeds = 20;

    explicit FeedMix(TestHttpServer& server);

    // Routes every feed's reply for this step.
    void Serve(uint64_t step);
    // Routes the reference documents: the same every time and good for
    // every feed, so that a sample taken once each feed shows its reference
    // compares like with like (the same documents, the same menu).
    void ServeReference();
    // Notes, after a step's fetches have ended, which document each feed
    // that was asked for now shows (the reply's, or the old one when the
    // reply failed). fresh: the plugin was just initialised, so every feed
    // shows nothing until a reply builds a document.
    void NoteAnswers(bool fresh);
    // Requests the server answered on the feeds' paths.
    uint64_t Fetches() const;

    // RSS.ini and Setting.ini (code page 932): one feed-information and one
    // article setting per feed, the tray option on.
    std::string FeedsIni() const;
    std::string SettingsIni() const;

    const std::string& Name(size_t feed) const { return feeds_[feed].name; }
    // What the plugin must show for a feed: the title its feed-information
    // setting starts with, and the entries of its submenu in the tray menu
    // (the home page, a separator and the articles; none before the first
    // document). Empty title and 0 entries: no document yet.
    std::string ShownTitle(size_t feed) const;
    int ShownMenuEntries(size_t feed) const;

private:
    struct Feed {
        std::string name;
        std::string path;
        FeedKind kind;
        uint32_t interval;
        int requests = 0;      // the server's count when last noted
        bool good = false;     // the current reply builds a document
        int version = -1;      // the current reply's document
        int shown = -1;        // the version the plugin shows (-1: none)
    };

    // The reply that sends a feed's document at a version, as its kind
    // sends it when all is well.
    TestHttpServer::Reply GoodReply(size_t feed, int version) const;
    // The document of a feed at a version, as its kind sends it.
    std::string Document(size_t feed, int version) const;
    static int Articles(size_t feed, int version);
    std::string Title(size_t feed, int version) const;

    TestHttpServer& server_;
    std::vector<Feed> feeds_;
};

}  // namespace soak
}  // namespace feedlet
