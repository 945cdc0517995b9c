// Encoding detection and conversion of fetched documents: byte-order marks,
// the declared encoding, the choice of decoder, and real Japanese documents
// in every supported encoding (tests/fixtures/documents, written by
// make_fixtures.py there). The decoders themselves: encoding_test.cpp.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "feed/xml_node.h"
#include "fetch/document_loader.h"
#include "xml_check.h"
#include "http_test_server.h"
#include "test_util.h"

using namespace feedlet;

namespace {

// The bytes of a literal, zero bytes included.
template <size_t N>
std::string Bytes(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

std::string Fixture(const char* name) { return std::string(FEEDLET_FIXTURES) + "/documents/" + name; }

// A buffer holding bytes as a fetch leaves them: three zero bytes after.
void Fill(DownloadBuffer& buffer, const std::string& bytes) {
    auto* block = static_cast<unsigned char*>(calloc(bytes.size() + kDownloadTerminator, 1));
    std::memcpy(block, bytes.data(), bytes.size());
    buffer.Adopt(block, static_cast<uint32_t>(bytes.size()));
}

std::u16string Decoded(const std::string& bytes, TextEncoding* encoding = nullptr) {
    DownloadBuffer buffer;
    Fill(buffer, bytes);
    DocumentText text;
    EXPECT_TRUE(DecodeDocument(buffer, text));
    if (encoding) *encoding = text.encoding();
    return text.text() ? std::u16string(text.text()) : std::u16string();
}

TEST(DeclaredEncodingTest, FindsTheDeclaredNameByPrefix) {
    const auto kUtf8 = TextEncoding::kUtf8, kSjis = TextEncoding::kShiftJis,
               kJis = TextEncoding::kIso2022Jp, kEuc = TextEncoding::kEucJp;
    struct Row {
        const char* text;
        TextEncoding expected;
    } rows[] = {
        {"<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><rss/>", kSjis},
        {"<?xml version=\"1.0\" encoding=\"euc-jp\"?>", kEuc},
        {"<?xml version=\"1.0\" encoding=\"ISO-2022-JP\"?>", kJis},
        {"<?xml encoding=\"UTF-8\"?>", kUtf8},
        {"<?xml encoding=\"Shift-JIS\"?>", kSjis},
        {"<?xml encoding=\"ShiftJIS\"?>", kSjis},
        {"<?xml encoding=\"x-sjis\"?>", kSjis},
        {"<?xml encoding=\"MS_KANJI\"?>", kSjis},
        // A table name only has to begin the value.
        {"<?xml encoding=\"EUC-JP-MS\"?>", kEuc},
        {"<?xml encoding=\"sjis\"?>", kSjis},
        {"<?xml encoding=\"JISX\"?>", kJis},
        {"<?xml encoding=\"EUC\"?>", kUtf8},
        {"<?xml encoding=\"UTF-16\"?>", kUtf8},
        {"<?xml encoding=\"Windows-31J\"?>", kUtf8},
        {"<?xml encoding=\"US-ASCII\"?>", kUtf8},
        {"<?xml encoding=\"\"?>", kUtf8},
        // Only the exact form is recognised.
        {"<?xml version=\"1.0\" encoding='Shift_JIS'?>", kUtf8},
        {"<?xml version=\"1.0\" encoding = \"Shift_JIS\"?>", kUtf8},
        {"<?xml version=\"1.0\" ENCODING=\"Shift_JIS\"?>", kUtf8},
        {"<?XML version=\"1.0\" encoding=\"Shift_JIS\"?>", kUtf8},
        {"<rss/>", kUtf8},
        {"", kUtf8},
        // Without "?>" there is no declaration.
        {"<?xml version=\"1.0\" encoding=\"Shift_JIS\"", kUtf8},
        // An encoding= after the declaration's end does not count.
        {"<?xml version=\"1.0\"?><rss encoding=\"Shift_JIS\"/>", kUtf8},
        {"<?xml version=\"1.0\"?><?xml-stylesheet encoding=\"EUC-JP\"?>", kUtf8},
        // Any instruction whose target starts with xml is taken for it.
        {"<?xml-stylesheet href=\"a.xsl\" encoding=\"EUC-JP\"?><rss/>", kEuc},
        {"\r\n  <?xml version=\"1.0\" encoding=\"SJIS\"?>", kSjis},
        {"<!-- <?xml encoding=\"SJIS\"?> --><rss/>", kSjis},
        // Every search ends at the first zero byte.
        {"\0<?xml encoding=\"SJIS\"?>", kUtf8},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(DeclaredEncoding(row.text), row.expected);
    }
    EXPECT_EQ(DeclaredEncoding(Bytes("<?xml encoding=\"SJ\0S\"?>").c_str()), kUtf8);
}

TEST(SwapByteOrderTest, SwapsPairsIncludingTheTerminatorForOddLengths) {
    unsigned char even[] = {1, 2, 3, 4, 0};
    SwapByteOrder(even, 4);
    EXPECT_EQ(std::memcmp(even, "\x02\x01\x04\x03\x00", 5), 0);
    unsigned char odd[] = {1, 2, 3, 0, 0, 0};
    SwapByteOrder(odd, 3);
    EXPECT_EQ(std::memcmp(odd, "\x02\x01\x00\x03\x00\x00", 6), 0);
}

TEST(DecodeDocumentTest, ByteOrderMarksWinOverTheDeclaration) {
    TextEncoding encoding;
    // Big-endian is turned around in place; the declaration is not read.
    EXPECT_EQ(Decoded(Bytes("\xFE\xFF\0<\0?\0x\0m\0l\0?\0>\0a"), &encoding), u"<?xml?>a");
    EXPECT_EQ(encoding, TextEncoding::kUtf16LittleEndian);
    EXPECT_EQ(Decoded(Bytes("\xFF\xFE<\0r\0\x3B\x6C"), &encoding), u"<r\u6C3B");
    EXPECT_EQ(encoding, TextEncoding::kUtf16LittleEndian);
    // An odd length: the last byte pairs with the terminator.
    EXPECT_EQ(Decoded(Bytes("\xFE\xFF\0<\x30")), u"<\u3000");
    EXPECT_EQ(Decoded(Bytes("\xFF\xFE<\0\x30")), u"<\u0030");
    EXPECT_EQ(Decoded(Bytes("\xFF\xFE")), u"");
    std::string declared("\xFF\xFE<\0?\0x\0m\0l\0 \0e\0n\0c\0o\0d\0i\0n\0g\0=\0\"\0S\0J\0I\0S\0\"\0?\0>\0", 48);
    EXPECT_EQ(Decoded(declared, &encoding), u"<?xml encoding=\"SJIS\"?>");
    EXPECT_EQ(encoding, TextEncoding::kUtf16LittleEndian);
    // One byte is not a mark.
    EXPECT_EQ(Decoded("\xFF", &encoding), u"\uFFFD");
    EXPECT_EQ(encoding, TextEncoding::kUtf8);
}

TEST(DecodeDocumentTest, DeclarationChoosesTheConversion) {
    // 日本 in Shift_JIS: read as declared, or as (broken) UTF-8 when the
    // declaration is not in the recognised form.
    const std::string sjis = "\x93\xFA\x96\x7B";
    TextEncoding encoding;
    EXPECT_EQ(Decoded("<?xml encoding=\"Shift_JIS\"?>" + sjis, &encoding),
              u"<?xml encoding=\"Shift_JIS\"?>\u65E5\u672C");
    EXPECT_EQ(encoding, TextEncoding::kShiftJis);
    std::u16string quoted = Decoded("<?xml encoding='Shift_JIS'?>" + sjis, &encoding);
    EXPECT_EQ(encoding, TextEncoding::kUtf8);
    EXPECT_EQ(quoted.find(u'\u65E5'), std::u16string::npos);
    EXPECT_NE(quoted.find(u'\uFFFD'), std::u16string::npos);

    EXPECT_EQ(Decoded("<?xml encoding=\"euc-jp\"?>\xA4\xA2\x8E\xB1", &encoding),
              u"<?xml encoding=\"euc-jp\"?>\u3042\uFF71");
    EXPECT_EQ(encoding, TextEncoding::kEucJp);
    EXPECT_EQ(Decoded("<?xml encoding=\"JIS\"?>\x1B$BF|\x1B(B!", &encoding), u"<?xml encoding=\"JIS\"?>\u65E5!");
    EXPECT_EQ(encoding, TextEncoding::kIso2022Jp);

    // UTF-16 without a mark: the first zero byte ends the text.
    EXPECT_EQ(Decoded(Bytes("<\0r\0s\0s\0"), &encoding), u"<");
    EXPECT_EQ(encoding, TextEncoding::kUtf8);
}

TEST(SkipDeclarationTest, ParsingStartsAfterTheFirstDeclaration) {
    struct Row {
        const char16_t* text;
        const char16_t* rest;  // null: nothing to parse
    } rows[] = {
        {u"<?xml version=\"1.0\"?>\n<rss/>", u"\n<rss/>"},
        {u"<rss/>", u"<rss/>"},
        {u"", u""},
        {u"\uFEFF<?xml?><rss/>", u"<rss/>"},
        {u"<?xml-stylesheet href=\"a\"?><rss/>", u"<rss/>"},
        {u"<?xml version=\"1.0\"?><?xml-stylesheet?><rss/>", u"<?xml-stylesheet?><rss/>"},
        {u"<?xml version=\"1.0\" <rss/>", nullptr},
        {u"<?xml", nullptr},
        {u"<rss>?></rss>", u"<rss>?></rss>"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::PrintToString(std::u16string(row.text)));
        const char16_t* rest = SkipDeclaration(row.text);
        if (!row.rest) {
            EXPECT_EQ(rest, nullptr);
        } else {
            ASSERT_NE(rest, nullptr);
            EXPECT_EQ(std::u16string(rest), row.rest);
        }
    }
}

// Feeds as Japanese sites write them, vendor characters of code page 932
// included (NEC row 13, NEC-selected and IBM extensions).
TEST(DecodeDocumentTest, JapaneseDocumentsInEveryEncoding) {
    const std::u16string item = u"<item><title>記事「テスト」</title></item></channel></rss>\n";
    const std::u16string head = u"\n<rss version=\"2.0\"><channel><title>日本語のフィード ";
    struct Row {
        const char* file;
        TextEncoding encoding;
        std::u16string title;
    } rows[] = {
        {"shift_jis.xml", TextEncoding::kShiftJis, u"①㈱Ⅲ纊髙～￢ｶﾅ"},
        {"euc_jp.xml", TextEncoding::kEucJp, u"①㈱Ⅲ纊～ｶﾅ"},
        {"iso_2022_jp.xml", TextEncoding::kIso2022Jp, u"①㈱Ⅲ纊～ｶﾅ"},
        {"utf16_be.xml", TextEncoding::kUtf16LittleEndian, u"①㈱Ⅲ纊髙～𠀋"},
        {"utf16_le.xml", TextEncoding::kUtf16LittleEndian, u"①㈱Ⅲ纊髙～𠀋"},
        {"utf8_bom.xml", TextEncoding::kUtf8, u"①㈱Ⅲ纊髙～𠀋"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        DownloadBuffer buffer;
        ASSERT_TRUE(FetchLocation(buffer, Fixture(row.file).c_str()));
        DocumentText text;
        ASSERT_TRUE(DecodeDocument(buffer, text));
        EXPECT_EQ(text.encoding(), row.encoding);
        const char16_t* rest = SkipDeclaration(text.text());
        ASSERT_NE(rest, nullptr);
        std::u16string expected = head + row.title + u"</title>" + item;
        EXPECT_EQ(std::u16string(rest), expected) << UnitsOf(rest);
    }
}

}  // namespace

namespace {

using xml_check::Render;

std::string Loaded(const std::string& bytes, bool* ok = nullptr) {
    DownloadBuffer buffer;
    Fill(buffer, bytes);
    XmlNode root;
    bool loaded = LoadDocumentFromBuffer(root, buffer);
    if (ok) *ok = loaded;
    EXPECT_EQ(xml_check::CheckTree(root), "");
    return Render(root);
}

TEST(LoadDocumentTest, ParsesFromWhereTheDeclarationEnds) {
    struct Row {
        const char* name;
        std::string bytes;
        const char* tree;
    } rows[] = {
        {"no declaration: all of it", "<rss><a>x</a></rss>", "*{rss{a{\"x\"}}}"},
        {"declaration skipped", "<?xml version=\"1.0\"?>\n<rss><a>x</a></rss>", "*{rss{a{\"x\"}}}"},
        {"later instructions stay", "<?xml version=\"1.0\"?><?xml-stylesheet?><rss/>", "*{?xml-stylesheet?,rss}"},
        {"UTF-8 mark before the declaration", "\xEF\xBB\xBF<?xml version=\"1.0\"?><rss/>", "*{rss}"},
        // A declaration without its end leaves nothing to parse.
        {"declaration without end", "<?xml version=\"1.0\" encoding=\"utf-8\"<rss><a>x</a></rss>", "*"},
        // A stylesheet instruction is taken for the declaration: its
        // encoding counts and the parse starts after it.
        {"stylesheet as declaration", "<?xml-stylesheet href=\"s.xsl\" encoding=\"EUC-JP\"?><rss>\xA4\xA2</rss>",
         "*{rss{\"\xE3\x81\x82\"}}"},
        // UTF-16 without a mark: the first zero byte ends the text.
        {"UTF-16 without mark", Bytes("<\0r\0s\0s\0/\0>\0"), "*"},
        {"big-endian UTF-16", Bytes("\xFE\xFF\0<\0?\0x\0m\0l\0?\0>\0<\0a\0>\x65\xE5\0<\0/\0a\0>"),
         "*{a{\"\xE6\x97\xA5\"}}"},
        {"Shift_JIS", "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><a>\x93\xFA</a>", "*{a{\"\xE6\x97\xA5\"}}"},
        {"single-quoted Shift_JIS is UTF-8", "<?xml version=\"1.0\" encoding='Shift_JIS'?><a>\x93\xFA</a>",
         "*{a{\"\xEF\xBF\xBD\xEF\xBF\xBD\"}}"},
        {"empty", "", "*"},
        {"not XML", "plain text", "*{\"plain text\"}"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        bool ok = false;
        EXPECT_EQ(Loaded(row.bytes, &ok), row.tree);
        EXPECT_TRUE(ok);
    }
}

TEST(LoadDocumentTest, JapaneseFeedsLoadIntoTheirText) {
    struct Row {
        const char* file;
        const char* title;
    } rows[] = {
        {"shift_jis.xml", "①㈱Ⅲ纊髙～￢ｶﾅ"},
        {"euc_jp.xml", "①㈱Ⅲ纊～ｶﾅ"},
        {"iso_2022_jp.xml", "①㈱Ⅲ纊～ｶﾅ"},
        {"utf16_be.xml", "①㈱Ⅲ纊髙～𠀋"},
        {"utf16_le.xml", "①㈱Ⅲ纊髙～𠀋"},
        {"utf8_bom.xml", "①㈱Ⅲ纊髙～𠀋"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        XmlNode root;
        ASSERT_TRUE(LoadDocument(root, Fixture(row.file).c_str()));
        EXPECT_EQ(Render(root), std::string("*{rss(version=\"2.0\"){channel{title{\"日本語のフィード ") + row.title +
                                    "\"},item{title{\"記事「テスト」\"}}}}}");
    }
}

TEST(LoadDocumentTest, OnlyAFailedDownloadFails) {
    TempDir dir;
    XmlNode root;
    ASSERT_TRUE(LoadDocument(root, Fixture("shift_jis.xml").c_str()));
    ASSERT_NE(root.children, nullptr);
    // The root is emptied whatever happens.
    EXPECT_FALSE(LoadDocument(root, (dir.path() + "missing.xml").c_str()));
    EXPECT_EQ(root.name, nullptr);
    EXPECT_EQ(root.children, nullptr);
    EXPECT_EQ(root.attributes, nullptr);
    EXPECT_FALSE(LoadDocument(root, nullptr));
    EXPECT_EQ(root.name, nullptr);

    WriteFile(dir.path() + "empty.xml", "");
    ASSERT_TRUE(LoadDocument(root, (dir.path() + "empty.xml").c_str()));
    EXPECT_EQ(Render(root), "*");
}

TEST(LoadDocumentTest, TheTreeKeepsTheTextAndTheBytesGo) {
    // A converted text: the bytes are released once it is decoded.
    DownloadBuffer buffer;
    Fill(buffer, "<?xml version=\"1.0\"?><a>x &amp; y</a>");
    XmlNode root;
    ASSERT_TRUE(LoadDocumentFromBuffer(root, buffer));
    EXPECT_EQ(buffer.data, nullptr);
    EXPECT_EQ(buffer.length, 0u);
    EXPECT_EQ(Render(root), "*{a{\"x & y\"}}");
    // A UTF-16 text is parsed where it lies, in the block the tree takes.
    Fill(buffer, Bytes("\xFF\xFE<\0a\0>\0z\0<\0/\0a\0>\0"));
    const unsigned char* block = buffer.data;
    ASSERT_TRUE(LoadDocumentFromBuffer(root, buffer));
    EXPECT_EQ(buffer.data, nullptr);
    EXPECT_EQ(Render(root), "*{a{\"z\"}}");
    const auto* text = reinterpret_cast<const unsigned char*>(root.ChildAt(0)->ChildAt(0)->text);
    EXPECT_TRUE(text > block && text < block + 16);
}

TEST(LoadDocumentTest, ADocumentTooLargeToHoldFails) {
    // As many nodes as a document may hold load; one more fails, leaving
    // the root empty, so the crawler keeps its last document. (Five units
    // a node: written more densely, the text would hold too many nodes for
    // its length before their number does.)
    for (size_t nodes : {kXmlMaxDocumentEntries, kXmlMaxDocumentEntries + 1}) {
        SCOPED_TRACE(nodes);
        std::string bytes = "<?xml version=\"1.0\"?>";
        bytes.reserve(bytes.size() + 5 * nodes);
        for (size_t i = 0; i < nodes; ++i) bytes += "<a/>\n";
        DownloadBuffer buffer;
        Fill(buffer, bytes);
        XmlNode root;
        bool loaded = LoadDocumentFromBuffer(root, buffer);
        EXPECT_EQ(loaded, nodes == kXmlMaxDocumentEntries);
        if (loaded) {
            EXPECT_EQ(root.children->Count(), nodes);
        } else {
            EXPECT_EQ(root.name, nullptr);
            EXPECT_EQ(root.children, nullptr);
        }
    }
}

TEST(LoadDocumentTest, ATextDenserInNodesThanAnyFeedFails) {
    // Beyond a few thousand nodes a document may hold one for every five
    // units of its text (each costs the tree far more than that), whatever
    // shape the nodes take; white space between tags makes no node.
    struct Row {
        const char* piece;
        size_t count;
        bool loads;
    } rows[] = {
        {"<a/>", 10000, false},     // four units a node
        {"<a/>\n", 10000, true},   // five
        {"<p>", 10000, false},      // never closed: siblings
        {"<p>x", 6000, false},      // an element and a text
        {"<a b c d/>", 3000, false},  // an element and three attributes
        {"<a/>", 4095, true},       // small documents may be denser (with <root>, 4,096 nodes)
        {"<b>t</b>\n  ", 10000, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.piece) + " x" + std::to_string(row.count));
        std::string bytes = "<root>";
        for (size_t i = 0; i < row.count; ++i) bytes += row.piece;
        DownloadBuffer buffer;
        Fill(buffer, bytes);
        XmlNode root;
        EXPECT_EQ(LoadDocumentFromBuffer(root, buffer), row.loads);
        EXPECT_EQ(root.name != nullptr, row.loads);
    }
}

TEST(LoadDocumentTest, LoadsOverHttpWhateverTheStatus) {
    TestHttpServer server;
    ASSERT_TRUE(server.Start());
    std::string sjis = ReadFile(Fixture("shift_jis.xml"));
    server.Route("/feed.xml", TestHttpServer::Chunked({sjis.substr(0, 60), sjis.substr(60)}));
    server.Route("/moved", TestHttpServer::Redirect("/feed.xml"));
    XmlNode root;
    ASSERT_TRUE(LoadDocument(root, server.Url("/moved").c_str()));
    EXPECT_EQ(Render(root), "*{rss(version=\"2.0\"){channel{title{\"日本語のフィード ①㈱Ⅲ纊髙～￢ｶﾅ\"},"
                            "item{title{\"記事「テスト」\"}}}}}");
    // An error page is a document too; the feed builder rejects it later.
    ASSERT_TRUE(LoadDocument(root, server.Url("/missing").c_str()));
    EXPECT_EQ(Render(root), "*{html{body{\"no such page\"}}}");
    server.Stop();
    EXPECT_FALSE(LoadDocument(root, server.Url("/feed.xml").c_str()));
    EXPECT_EQ(root.name, nullptr);
}

}  // namespace
