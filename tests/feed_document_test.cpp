// The feed model and the extraction of RSS 1.0, RSS 2.0 and Atom documents
// from a parsed tree.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cmd_dump.h"
#include "feed/feed_date.h"
#include "feed/feed_document.h"
#include "feed/xml_node.h"
#include "test_util.h"

using namespace feedlet;

namespace {

// Parses body the way the loader does (text after the declaration, under a
// "*" root) and extracts it.
bool Extract(FeedDocument* document, const char16_t* body, bool sort = false) {
    XmlNode root;
    root.Parse(body, u"*", nullptr);
    return ExtractFeedDocument(document, root, sort);
}

std::u16string Text(const FeedArticle* record, int32_t index) {
    const char16_t* text = record ? record->WideText(index) : nullptr;
    return text ? text : u"(null)";
}

// Titles of the articles in list order, joined with '|'.
std::u16string Titles(const FeedDocument& document) {
    std::u16string titles;
    for (uint32_t i = 0; i < document.ArticleCount(); ++i) {
        if (i) titles += u'|';
        titles += Text(document.ArticleAt(static_cast<int32_t>(i)), kMemberTitle);
    }
    return titles;
}

TEST(FeedDocumentTest, RecognisesTheDocumentElement) {
    struct {
        const char16_t* body;
        bool ok;
        FeedKind kind;
    } rows[] = {
        {u"<rss version='2.0'><channel><title>t</title></channel></rss>", true, kFeedRss2},
        {u"<rdf:RDF><channel><title>t</title></channel></rdf:RDF>", true, kFeedRss1},
        {u"<feed><title>t</title></feed>", true, kFeedAtom},
        {u"<feed/>", true, kFeedAtom},
        // Names are exact, case included.
        {u"<RSS><channel><title>t</title></channel></RSS>", false, kFeedNone},
        {u"<Feed><title>t</title></Feed>", false, kFeedNone},
        {u"<rdf:rdf><channel><title>t</title></channel></rdf:rdf>", false, kFeedNone},
        {u"<rss:rss><channel><title>t</title></channel></rss:rss>", false, kFeedNone},
        // The channel element is found ignoring case; without one, RSS fails.
        {u"<rss><Channel><title>t</title></Channel></rss>", true, kFeedRss2},
        {u"<rss><title>t</title></rss>", false, kFeedNone},
        {u"<rdf:RDF><item><title>t</title></item></rdf:RDF>", false, kFeedNone},
        // Things before the document element are passed over; nesting is not.
        {u"<?xml-stylesheet type='text/xsl' href='s.xsl'?><!DOCTYPE rss>stray<rss><channel/></rss>", true, kFeedRss2},
        {u"<!-- c --><feed></feed>", true, kFeedAtom},
        {u"<wrapper><rss><channel><title>t</title></channel></rss></wrapper>", false, kFeedNone},
        // The first document element decides, even when it has no channel.
        {u"<feed/><rss><channel/></rss>", true, kFeedAtom},
        {u"<rss/><feed/>", false, kFeedNone},
        // No document at all.
        {u"", false, kFeedNone},
        {u"just text", false, kFeedNone},
        {u"<html><body>404</body></html>", false, kFeedNone},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.body, row.body + std::char_traits<char16_t>::length(row.body)));
        FeedDocument document;
        EXPECT_EQ(Extract(&document, row.body), row.ok);
        EXPECT_EQ(document.kind, row.kind);
        if (!row.ok) {
            EXPECT_EQ(document.channel.title, nullptr);
            EXPECT_EQ(document.articles, nullptr);
        }
    }
}

TEST(FeedDocumentTest, StartsFromAnEmptyDocumentEveryTime) {
    FeedDocument document;
    ASSERT_TRUE(Extract(&document, u"<rss><channel><title>old</title><item><title>a</title></item></channel></rss>"));
    ASSERT_EQ(document.ArticleCount(), 1u);
    EXPECT_FALSE(Extract(&document, u"<rss><nochannel/></rss>"));
    EXPECT_EQ(document.kind, kFeedNone);
    EXPECT_EQ(document.channel.title, nullptr);
    EXPECT_EQ(document.articles, nullptr);
    ASSERT_TRUE(Extract(&document, u"<feed><entry/></feed>"));
    EXPECT_EQ(document.channel.title, nullptr);
    EXPECT_EQ(document.ArticleCount(), 1u);
}

TEST(FeedDocumentTest, Rss2ChannelAndItems) {
    FeedDocument document;
    ASSERT_TRUE(Extract(&document,
        u"<rss version='2.0'><channel>"
        u"<TITLE>Site</TITLE><title>second title</title>"
        u"<link>http://example.com/?a=1&amp;b=2</link>"
        u"<description>About &lt;b&gt;us&lt;/b&gt;</description>"
        u"<copyright>(c) 2011</copyright>"
        u"<pubDate>Sun, 01 May 2011 09:00:00 GMT</pubDate>"
        u"<lastBuildDate>Sun, 01 May 2011 10:00:00 +0900</lastBuildDate>"
        u"<item><title>One</title><link>http://example.com/1</link><description>first</description>"
        u"<pubDate>Sun, 01 May 2011 10:00:00 GMT</pubDate><copyright>not read</copyright></item>"
        u"<Item><title>capitalised, not collected</title></Item>"
        u"<group><item><title>nested, not seen</title></item></group>"
        u"<item><title>Two</title><dc:date>2011-05-01T10:00:00Z</dc:date></item>"
        u"<item/>"
        u"</channel><item><title>outside the channel</title></item></rss>"));
    EXPECT_EQ(document.kind, kFeedRss2);
    const FeedArticle& channel = document.channel;
    EXPECT_EQ(Text(&channel, kMemberTitle), u"Site");  // the first, ignoring case
    EXPECT_EQ(Text(&channel, kMemberLink), u"http://example.com/?a=1&b=2");
    EXPECT_EQ(Text(&channel, kMemberDescription), u"About <b>us</b>");
    EXPECT_EQ(Text(&channel, kMemberCopyright), u"(c) 2011");
    ASSERT_NE(channel.time, nullptr);  // lastBuildDate, not pubDate
    EXPECT_EQ(channel.time->when, 1304211600);
    EXPECT_EQ(channel.time->zone_offset, 540);

    ASSERT_EQ(document.ArticleCount(), 3u);
    EXPECT_EQ(Titles(document), u"One|Two|(null)");
    const FeedArticle* one = document.ArticleAt(0);
    EXPECT_EQ(Text(one, kMemberLink), u"http://example.com/1");
    EXPECT_EQ(Text(one, kMemberDescription), u"first");
    EXPECT_EQ(one->copyright, nullptr);
    ASSERT_NE(one->time, nullptr);
    EXPECT_EQ(one->time->when, 1304244000);
    EXPECT_EQ(document.ArticleAt(1)->time, nullptr);  // dc:date is not read in RSS 2.0
    const FeedArticle* empty = document.ArticleAt(2);
    for (int32_t i = 0; i <= kMemberTime; ++i) EXPECT_EQ(empty->Member(i), nullptr) << i;
}

TEST(FeedDocumentTest, Rss2ChannelWithPubDateOnlyHasNoTime) {
    FeedDocument document;
    ASSERT_TRUE(Extract(&document, u"<rss><channel><pubDate>Sun, 01 May 2011 10:00:00 GMT</pubDate></channel></rss>"));
    EXPECT_EQ(document.channel.time, nullptr);
    EXPECT_EQ(document.articles, nullptr);
}

TEST(FeedDocumentTest, Rss1ItemsStandBesideTheChannel) {
    FeedDocument document;
    ASSERT_TRUE(Extract(&document,
        u"<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
        u"<channel rdf:about='x'><title>R1</title><link>http://example.jp/</link>"
        u"<dc:date>2011-05-01T10:00:00+09:00</dc:date>"
        u"<items><rdf:Seq><rdf:li rdf:resource='http://example.jp/1'/></rdf:Seq></items>"
        u"<item><title>inside the channel, not seen</title></item></channel>"
        u"<item rdf:about='http://example.jp/1'><title>A</title><link>http://example.jp/1</link>"
        u"<description>d</description><DC:DATE>2011-05-01T12:00:00Z</DC:DATE>"
        u"<pubDate>Sun, 01 May 2011 10:00:00 GMT</pubDate></item>"
        u"<item><title>B</title><pubDate>Sun, 01 May 2011 10:00:00 GMT</pubDate></item>"
        u"</rdf:RDF>"));
    EXPECT_EQ(document.kind, kFeedRss1);
    EXPECT_EQ(Text(&document.channel, kMemberTitle), u"R1");
    ASSERT_NE(document.channel.time, nullptr);
    EXPECT_EQ(document.channel.time->when, 1304211600);
    EXPECT_EQ(Titles(document), u"A|B");
    ASSERT_NE(document.ArticleAt(0)->time, nullptr);
    EXPECT_EQ(document.ArticleAt(0)->time->when, 1304251200);
    EXPECT_EQ(document.ArticleAt(1)->time, nullptr);
}

TEST(FeedDocumentTest, AtomFeedAndEntries) {
    FeedDocument document;
    ASSERT_TRUE(Extract(&document,
        u"<feed xmlns='http://www.w3.org/2005/Atom'>"
        u"<title type='text'>Atom site</title><subtitle>not read</subtitle><rights>not read</rights>"
        u"<link rel='self' href='http://example.org/feed.atom'/>"
        u"<link href='http://example.org/'/>"
        u"<updated>2011-05-01T10:00:00-05:00</updated>"
        u"<entry><title>E1</title><link rel='alternate' href='http://example.org/1?x=1&amp;y=2'/>"
        u"<summary>not read</summary><content>not read</content>"
        u"<updated>2011-05-01T10:00:00Z</updated><published>2010-01-01T00:00:00Z</published></entry>"
        u"<entry><title>E2</title><description>read after all</description></entry>"
        u"<Entry><title>not collected</title></Entry>"
        u"</feed>"));
    EXPECT_EQ(document.kind, kFeedAtom);
    EXPECT_EQ(Text(&document.channel, kMemberTitle), u"Atom site");
    EXPECT_EQ(Text(&document.channel, kMemberLink), u"http://example.org/");
    EXPECT_EQ(document.channel.description, nullptr);
    EXPECT_EQ(document.channel.copyright, nullptr);
    ASSERT_NE(document.channel.time, nullptr);
    EXPECT_EQ(document.channel.time->when, 1304262000);
    EXPECT_EQ(document.channel.time->zone_offset, -300);

    EXPECT_EQ(Titles(document), u"E1|E2");
    const FeedArticle* e1 = document.ArticleAt(0);
    EXPECT_EQ(Text(e1, kMemberLink), u"http://example.org/1?x=1&amp;y=2");  // as written
    EXPECT_EQ(e1->description, nullptr);
    ASSERT_NE(e1->time, nullptr);
    EXPECT_EQ(e1->time->when, 1304244000);
    EXPECT_EQ(Text(document.ArticleAt(1), kMemberDescription), u"read after all");
}

TEST(FeedDocumentTest, AtomLinkRule) {
    struct {
        const char16_t* links;
        const char16_t* expected;
    } rows[] = {
        {u"<link rel='alternate' href='a'/><link href='b'/>", u"b"},  // the last qualifying wins
        {u"<link href='a'/><link rel='alternate' href='b'/>", u"b"},
        {u"<link href='a'/><link rel='self' href='b'/>", u"a"},
        {u"<link rel='self' href='a'/>", u"(null)"},
        {u"<link rel='Alternate' href='a'/>", u"(null)"},      // exact value
        {u"<link rel='' href='a'/>", u"(null)"},
        {u"<link rel href='a'/>", u"(null)"},                  // rel without value
        {u"<link REL='self' href='a'/>", u"(null)"},           // attribute names ignore case
        {u"<link HREF='a'/>", u"a"},
        {u"<link href='a'/><link href=''/>", u"a"},             // an empty href changes nothing
        {u"<link href='a'/><link/>", u"a"},
        {u"<Link href='a'/>", u"(null)"},                      // element name is exact
        {u"<link>http://text.example/</link>", u"(null)"},     // Atom reads href only
        {u"<x><link href='a'/></x>", u"(null)"},               // direct children only
        {u"<link href='a&amp;b &lt; c'/>", u"a&amp;b &lt; c"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.links, row.links + std::char_traits<char16_t>::length(row.links)));
        FeedDocument document;
        const std::u16string feed = std::u16string(u"<feed>") + row.links + u"<entry>" + row.links + u"</entry></feed>";
        ASSERT_TRUE(Extract(&document, feed.c_str()));
        EXPECT_EQ(Text(&document.channel, kMemberLink), row.expected);
        EXPECT_EQ(Text(document.ArticleAt(0), kMemberLink), row.expected);
    }
}

TEST(FeedDocumentTest, TextsComeFromTheSerialisedContent) {
    struct {
        const char16_t* title;
        const char16_t* expected;
    } rows[] = {
        {u"A <b>bold</b> move", u"A<b>bold</b>move"},
        {u"<![CDATA[ <b>&amp; kept</b> ]]>", u" <b>&amp; kept</b> "},
        {u"  spaced\r\n  out  ", u"spaced out"},
        {u"&lt;p&gt;escaped &amp;amp; once&lt;/p&gt;", u"<p>escaped &amp; once</p>"},
        {u"&#12354;&#x3044;", u"\u3042\u3044"},
        {u"   ", u"(null)"},  // nothing left: no member at all
        {u"", u"(null)"},
        {u"<img src='i.png'/>", u"<img src = \"i.png\" />"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.title, row.title + std::char_traits<char16_t>::length(row.title)));
        FeedDocument document;
        const std::u16string feed = std::u16string(u"<rss><channel><item><title>") + row.title +
                                    u"</title></item></channel></rss>";
        ASSERT_TRUE(Extract(&document, feed.c_str()));
        EXPECT_EQ(Text(document.ArticleAt(0), kMemberTitle), row.expected);
    }
}

TEST(FeedDocumentTest, LongDateTextsAreReadWhole) {
    const std::u16string tail(200, u'x');
    FeedDocument document;
    ASSERT_TRUE(Extract(&document, (u"<rss><channel><item><pubDate>Sun, 01 May 2011 10:00:00 GMT " + tail +
                                    u"</pubDate></item></channel></rss>").c_str()));
    ASSERT_NE(document.ArticleAt(0)->time, nullptr);
    EXPECT_EQ(document.ArticleAt(0)->time->when, 1304244000);
    ASSERT_TRUE(Extract(&document, (u"<feed><entry><updated>2011-05-01T10:00:00." + std::u16string(200, u'0') +
                                    u"+09:00</updated></entry></feed>").c_str()));
    ASSERT_NE(document.ArticleAt(0)->time, nullptr);
    EXPECT_EQ(document.ArticleAt(0)->time->when, 1304211600);
    EXPECT_EQ(document.ArticleAt(0)->time->zone_offset, 540);
}

TEST(FeedDocumentTest, FeedWithoutItemsHasNoList) {
    for (bool sort : {false, true}) {
        FeedDocument document;
        EXPECT_TRUE(Extract(&document, u"<rss><channel></channel></rss>", sort));
        EXPECT_EQ(document.articles, nullptr);
        EXPECT_EQ(document.channel.title, nullptr);
    }
}

TEST(FeedDocumentTest, SortPutsNewestFirstAndUndatedLast) {
    const char16_t* feed =
        u"<rss><channel>"
        u"<item><title>A</title><pubDate>Sun, 01 May 2011 10:00:00 GMT</pubDate></item>"
        u"<item><title>B</title></item>"
        u"<item><title>C</title><pubDate>Sun, 01 May 2011 12:00:00 GMT</pubDate></item>"
        u"<item><title>D</title><pubDate>Sun, 01 May 2011 19:00:00 +0900</pubDate></item>"
        u"<item><title>E</title><pubDate>Sun, 01 May 1960 10:00:00 GMT</pubDate></item>"
        u"<item><title>F</title><pubDate></pubDate></item>"
        u"<item><title>G</title><pubDate>Tue, 19 Jan 2038 03:14:07 GMT</pubDate></item>"
        u"</channel></rss>";
    FeedDocument document;
    ASSERT_TRUE(Extract(&document, feed, true));
    // D is 10:00 UTC too, and keeps its place after A; E (before 1970, -1)
    // comes after every dated one but before the undated B and F.
    EXPECT_EQ(Titles(document), u"G|C|A|D|E|B|F");
    ASSERT_TRUE(Extract(&document, feed, false));
    EXPECT_EQ(Titles(document), u"A|B|C|D|E|F|G");
}

TEST(FeedDocumentTest, SortOfManyEqualTimesIsStable) {
    std::u16string feed = u"<feed>";
    for (int i = 0; i < 300; ++i) {
        feed += u"<entry><title>" + std::u16string(1, static_cast<char16_t>(u'\u4e00' + i)) + u"</title>";
        if (i % 3 != 2) feed += i % 3 ? u"<updated>2011-05-01T10:00:00Z</updated>" : u"<updated>2012-05-01</updated>";
        feed += u"</entry>";
    }
    feed += u"</feed>";
    FeedDocument document;
    ASSERT_TRUE(Extract(&document, feed.c_str(), true));
    ASSERT_EQ(document.ArticleCount(), 300u);
    // Three runs, each in document order: the 2012 ones, the 2011 ones, the undated.
    std::u16string expected;
    for (int group : {0, 1, 2})
        for (int i = group; i < 300; i += 3) {
            if (!expected.empty()) expected += u'|';
            expected += static_cast<char16_t>(u'\u4e00' + i);
        }
    EXPECT_EQ(Titles(document), expected);
}

TEST(FeedDocumentTest, CompareArticlesByTime) {
    FeedArticle undated, early, late, invalid;
    early.SetDate(kFeedAtom, u"2011-05-01T10:00:00Z");
    late.SetDate(kFeedAtom, u"2011-05-01T12:00:00Z");
    invalid.SetDate(kFeedAtom, u"1900-01-01");
    struct {
        const FeedArticle* a;
        const FeedArticle* b;
        int32_t expected;
    } rows[] = {
        {&undated, &undated, 0}, {&undated, &early, 1},  {&early, &undated, -1}, {&late, &early, -1},
        {&early, &late, 1},      {&early, &early, 0},    {&invalid, &early, 1},  {&invalid, &undated, -1},
        {nullptr, &early, 1},    {nullptr, nullptr, 0},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(CompareArticlesByTime(rows[i].a, rows[i].b, 0, 0), rows[i].expected);
    }
}

TEST(FeedDocumentTest, MembersByIndex) {
    FeedArticle article;
    for (int32_t i = -1; i <= 5; ++i) EXPECT_EQ(article.Member(i), nullptr) << i;

    article.SetText(kMemberTitle, u"T");
    article.SetText(kMemberCopyright, u"C");
    article.SetText(kMemberTime, u"ignored");
    article.SetText(7, u"ignored");
    article.SetText(-1, u"ignored");
    article.SetDate(kFeedRss2, u"Sun, 01 May 2011 10:00:00 GMT");
    EXPECT_EQ(article.Member(kMemberTitle), article.title);
    EXPECT_EQ(Text(&article, kMemberTitle), u"T");
    EXPECT_EQ(Text(&article, kMemberCopyright), u"C");
    EXPECT_EQ(article.Member(kMemberDescription), nullptr);
    EXPECT_EQ(article.Member(kMemberTime), article.time);
    EXPECT_EQ(article.Member(5), nullptr);
    EXPECT_EQ(article.title->kind, kTextWide);

    // Null and empty texts leave the member as it was; a new text replaces it.
    article.SetText(kMemberTitle, nullptr);
    article.SetText(kMemberTitle, u"");
    EXPECT_EQ(Text(&article, kMemberTitle), u"T");
    article.SetText(kMemberTitle, u"T2");
    EXPECT_EQ(Text(&article, kMemberTitle), u"T2");

    // The kind picks the date form; unknown kinds and empty texts do nothing.
    const PluginTime rfc_when = article.time->when;
    EXPECT_EQ(rfc_when, 1304244000);
    article.SetDate(kFeedNone, u"2011-05-01T12:00:00Z");
    article.SetDate(4, u"2011-05-01T12:00:00Z");
    article.SetDate(kFeedAtom, u"");
    article.SetDate(kFeedAtom, nullptr);
    EXPECT_EQ(article.time->when, rfc_when);
    article.SetDate(kFeedRss1, u"2011-05-01T12:00:00Z");
    EXPECT_EQ(article.time->when, rfc_when + 7200);
    article.SetDate(kFeedRss2, u"2011-05-01T12:00:00Z");  // RFC 822 reading of a W3C text
    EXPECT_NE(article.time->when, rfc_when + 7200);

    article.Clear();
    for (int32_t i = 0; i <= kMemberTime; ++i) EXPECT_EQ(article.Member(i), nullptr) << i;
}

TEST(FeedDocumentTest, ClearAndRelease) {
    FeedDocument* document = new FeedDocument;
    ASSERT_TRUE(Extract(document, u"<rss><channel><title>t</title><item/><item/></channel></rss>"));
    document->Clear();
    EXPECT_EQ(document->kind, kFeedNone);
    EXPECT_EQ(document->channel.title, nullptr);
    EXPECT_EQ(document->articles, nullptr);
    ASSERT_TRUE(Extract(document, u"<rss><channel><title>t</title><item/><item/></channel></rss>"));
    FeedDocument::Release(document);  // ASan reports anything left behind
    FeedDocument::Release(nullptr);
    ReleaseArticle(nullptr, 0, 0);
}

TEST(FeedDocumentTest, ReleasingTheTreeOnTheWayGivesTheSameDocument) {
    // Texts that are one text node, markup written back, CDATA, Atom hrefs,
    // dates short and long, empty members: read from a tree that is only
    // read, one released as soon as its parts are copied, and one whose text
    // lives in a block of its own (as a loaded document's does).
    const std::u16string feeds[] = {
        u"<rss><channel><title>A &amp; B</title><link>http://a/?x=1&amp;y=2</link>"
        u"<description>x <b>bold</b> y</description><copyright>&#169;</copyright>"
        u"<lastBuildDate>Sun, 01 May 2011 10:00:00 +0900</lastBuildDate>"
        u"<item><title><![CDATA[ <p>kept</p> ]]></title><pubDate>" + std::u16string(100, u'9') +
            u"</pubDate></item><item><title>  </title><description/></item>"
        u"<item><title>2</title><pubDate>Mon, 02 May 2011 10:00:00 GMT</pubDate></item></channel></rss>",
        u"<feed><title>F</title><link href='a&amp;b'/><entry><title>E</title>"
        u"<link rel='alternate' href='x'/><link href=''/><updated>2011-05-01T10:00:00Z</updated></entry></feed>",
    };
    for (const std::u16string& feed : feeds) {
        FeedDocument read;
        ASSERT_TRUE(Extract(&read, feed.c_str(), true));
        const std::string expected = tool::FeedDocumentJson(read);

        XmlNode copied;
        copied.Parse(feed.c_str(), u"*", nullptr);
        FeedDocument released;
        ASSERT_TRUE(ExtractFeedDocumentAndRelease(&released, copied, true));
        EXPECT_EQ(copied.name, nullptr);
        EXPECT_EQ(tool::FeedDocumentJson(released), expected);

        XmlNode loaded;
        auto* block = static_cast<char16_t*>(std::malloc((feed.size() + 1) * sizeof(char16_t)));
        std::memcpy(block, feed.c_str(), (feed.size() + 1) * sizeof(char16_t));
        ASSERT_EQ(loaded.ParseDocument(block, block, feed.size()), XmlDocumentResult::kParsed);
        FeedDocument apart;
        ASSERT_TRUE(ExtractFeedDocumentAndRelease(&apart, loaded, true));
        EXPECT_EQ(loaded.name, nullptr);
        EXPECT_EQ(tool::FeedDocumentJson(apart), expected);
    }
    XmlNode root;
    root.Parse(u"<html/>", u"*", nullptr);
    FeedDocument none;
    EXPECT_FALSE(ExtractFeedDocumentAndRelease(&none, root, false));
    EXPECT_EQ(root.name, nullptr);  // released whatever the result
}

TEST(FeedDocumentTest, MoreArticlesThanADocumentMayHoldAreNoDocument) {
    // Items of 32 units: written more densely, the text would hold too many
    // for its length before their number does.
    const std::u16string item = u"<item>                   </item>";
    ASSERT_EQ(item.size(), kUnitsPerFeedArticle);
    for (uint32_t items : {kMaxFeedArticles, kMaxFeedArticles + 1}) {
        SCOPED_TRACE(items);
        std::u16string feed = u"<rss><channel><title>t</title>";
        feed.reserve(feed.size() + item.size() * items + 32);
        for (uint32_t i = 0; i < items; ++i) feed += item;
        feed += u"</channel></rss>";
        FeedDocument document;
        bool built = Extract(&document, feed.c_str());
        EXPECT_EQ(built, items == kMaxFeedArticles);
        EXPECT_EQ(document.ArticleCount(), built ? items : 0u);
        EXPECT_EQ(document.channel.title != nullptr, built);
    }
}

TEST(FeedDocumentTest, ATextDenserInArticlesThanAnyFeedIsNoDocument) {
    // Beyond a few thousand articles a document may hold one for every 32
    // units of the text its tree was read from.
    struct Row {
        const char16_t* item;
        uint32_t count;
        bool built;
    } rows[] = {
        {u"<item/>", 5000, false},
        {u"<item/>", kMinFeedArticleLimit, true},
        {u"<item><title>a</title>   </item>", 5000, true},  // 32 units
        {u"<item><title>a</title></item>", 5000, false},    // 29
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(std::char_traits<char16_t>::length(row.item)) + " units x" +
                     std::to_string(row.count));
        std::u16string feed = u"<rss><channel>" + Repeat(row.item, row.count) + u"</channel></rss>";
        FeedDocument document;
        EXPECT_EQ(Extract(&document, feed.c_str()), row.built);
        EXPECT_EQ(document.ArticleCount(), row.built ? row.count : 0u);
    }
}

TEST(FeedDocumentTest, HostileTreesStaySafe) {
    // Many items, deep nesting around and inside them, unclosed elements.
    std::u16string feed = u"<rss><channel>";
    for (int i = 0; i < 2000; ++i) feed += u"<item><title>x</title><pubDate>junk</pubDate></item>";
    for (int i = 0; i < 1000; ++i) feed += u"<item><div>";
    feed += u"</channel></rss>";
    FeedDocument document;
    ASSERT_TRUE(Extract(&document, feed.c_str(), true));
    EXPECT_GE(document.ArticleCount(), 2000u);
    // Unclosed elements are empty and their would-be content follows them:
    // an unclosed "rss" leaves its channel outside, unclosed items are empty.
    EXPECT_FALSE(Extract(&document, u"<rss><channel><item><title>a<item><title>b</channel>", true));
    ASSERT_TRUE(Extract(&document, u"<rss><channel><item><title>a<item><title>b</channel></rss>", true));
    EXPECT_EQ(Titles(document), u"(null)|(null)");
    EXPECT_EQ(document.channel.title, nullptr);
}

}  // namespace
