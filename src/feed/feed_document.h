// The feed model: a fetched feed as its kind, the channel information and
// the articles, and their extraction from a parsed tree, which recognises
// RSS 1.0, RSS 2.0 or Atom in it. fetch/feed_builder.h builds one from a
// location.
//
// Readers (display text, article menu, feed manager) address the members of
// the channel and of each article by index through FeedArticle::Member. A
// published document carries no lock of its own: whoever reads one holds the
// mutex of the crawler that owns it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/item_list.h"
#include "core/plugin_time.h"
#include "core/text_field.h"

namespace feedlet {

class XmlNode;

// What a document was recognised as; stored as a 32-bit signed integer.
enum FeedKind : int32_t {
    kFeedNone = 0,  // nothing recognised (yet)
    kFeedRss1 = 1,  // document element "rdf:RDF"
    kFeedRss2 = 2,  // document element "rss"
    kFeedAtom = 3,  // document element "feed"
};

// Member indexes of FeedArticle::Member.
enum FeedMember : int32_t {
    kMemberTitle = 0,
    kMemberDescription = 1,
    kMemberLink = 2,
    kMemberCopyright = 3,  // channel only
    kMemberTime = 4,
};

// The most articles a document may hold; a feed with more is not built
// (the crawler keeps its last document). A document holds at most
// kMaxFeedArticles, and one read from a text of more than
// kMinFeedArticleLimit * kUnitsPerFeedArticle units at most one for every
// kUnitsPerFeedArticle units. Each article costs the document its records,
// several times what "<item/>" takes to write, so without them 32 MiB of it
// would be 4.8 million articles and a few megabytes fourteen times their
// size. No real feed comes near either: an item with no more than a title,
// a link and a date takes over 128 bytes, so 2^18 of them do not fit in a
// download, and even "<item><title>a</title></item>" is 29 units.
constexpr uint32_t kMaxFeedArticles = 1u << 18;
constexpr uint32_t kMinFeedArticleLimit = 4096;
constexpr uint32_t kUnitsPerFeedArticle = 32;
// The article limit of a tree read from a text of length units; a tree
// that knows no text (length 0) has only kMaxFeedArticles.
constexpr uint32_t FeedArticleLimit(size_t length) {
    if (length == 0 || length / kUnitsPerFeedArticle >= kMaxFeedArticles) return kMaxFeedArticles;
    uint32_t limit = static_cast<uint32_t>(length / kUnitsPerFeedArticle);
    return limit < kMinFeedArticleLimit ? kMinFeedArticleLimit : limit;
}

// One article, and also the shape of the channel information. Every member is
// owned and null when absent; a text member never holds an empty text.
struct FeedArticle {
    TextField* title = nullptr;
    TextField* description = nullptr;
    TextField* link = nullptr;
    TextField* copyright = nullptr;
    FeedTime* time = nullptr;

    FeedArticle() = default;
    ~FeedArticle() { Clear(); }
    FeedArticle(const FeedArticle&) = delete;
    FeedArticle& operator=(const FeedArticle&) = delete;

    // The member at index (a TextField for 0 to 3, a FeedTime for 4), or null
    // when it is absent or index is out of 0..4.
    const void* Member(int32_t index) const;
    // Typed views of the same: the text member at 0..3, the time.
    const TextField* Text(int32_t index) const;
    const char16_t* WideText(int32_t index) const;
    const FeedTime* Time() const { return time; }

    // For index 0..3 replaces the text member with a copy of text; a null or
    // empty text, or any other index, changes nothing.
    // False only when memory ran out (nothing changed then either); SetDate
    // and AdoptText alike.
    bool SetText(int32_t index, const char16_t* text);
    // Replaces the time with the date in text, read in the form the feed kind
    // uses (W3C for RSS 1.0 and Atom, RFC 822 for RSS 2.0). A null or empty
    // text, or a kind other than those three, changes nothing.
    bool SetDate(int32_t kind, const char16_t* text);
    // Releases all five members.
    void Clear();

    // Takes ownership of text (new[]-allocated UTF-16) as member index 0..3;
    // an empty text is released and changes nothing. Saves the copy SetText
    // makes when the text was produced for this member alone.
    bool AdoptText(int32_t index, char16_t* text);
};

// The article list's release callback: clears and frees one article; null is
// ignored.
void ReleaseArticle(void* article, uint32_t context1, uint32_t context2);

// The article sort's comparator: newer first (-1 when a is newer than b, +1
// when older, 0 when equal); an article without a time comes after every
// dated one, and two undated ones compare equal.
int32_t CompareArticlesByTime(const void* a, const void* b, uint32_t word_a, uint32_t word_b);

// One parsed feed. A default-constructed document is empty (kind 0, every
// member null, no article list).
struct FeedDocument {
    FeedKind kind = kFeedNone;
    FeedArticle channel;
    // FeedArticle items in document order (or sorted); created at the first
    // article, with ReleaseArticle as its release callback; null when the
    // feed has no articles.
    ItemList* articles = nullptr;

    FeedDocument() = default;
    ~FeedDocument() { Clear(); }
    FeedDocument(const FeedDocument&) = delete;
    FeedDocument& operator=(const FeedDocument&) = delete;

    // Back to empty: kind 0, channel cleared, articles released.
    void Clear();
    // Clears and frees a document made with new; null is ignored.
    static void Release(FeedDocument* document);

    uint32_t ArticleCount() const { return articles ? articles->Count() : 0; }
    const FeedArticle* ArticleAt(int32_t index) const {
        return articles ? articles->At<FeedArticle>(index) : nullptr;
    }
};

// Fills document from a parsed tree (root: the "*" element whose children are
// the top-level nodes) and sorts the articles newest first when sort_by_time
// is set. The document is cleared first. False when no document element is
// recognised, an RSS one has no channel, or there are more articles than
// FeedArticleLimit(root.DocumentLength()), or when memory runs out on the
// way (no document is ever kept with articles or texts missing); the
// document is then empty. The tree is only read.
bool ExtractFeedDocument(FeedDocument* document, const XmlNode& root, bool sort_by_time);
// The same, releasing the tree (and the text it keeps) once the document has
// its copies, before the sort: what the builders do, so that a build needs
// the tree and the document at once only while they are copied.
bool ExtractFeedDocumentAndRelease(FeedDocument* document, XmlNode& root, bool sort_by_time);

}  // namespace feedlet
