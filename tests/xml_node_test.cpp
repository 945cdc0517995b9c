// The XML parser through its public operations: the tree it builds for
// ordinary and malformed documents, the text helpers, lookups, serialization,
// hostile shapes, and agreement with a literal reference reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#ifdef _WIN32
#include <wchar.h>
#include <wctype.h>
#endif

#include "feed/xml_internal.h"
#include "feed/xml_node.h"
#include "test_util.h"
#include "xml_check.h"

using namespace feedlet;
using xml_check::Render;
using xml_check::ToUtf8;

namespace {

// Parses a document body the way the loader does and renders the tree.
std::string Parsed(const std::u16string& body, bool* ok = nullptr) {
    XmlNode root;
    XmlNode* result = root.Parse(body.c_str(), u"*", nullptr);
    if (ok) *ok = result == &root;
    std::string fault = xml_check::CheckTree(root);
    EXPECT_EQ(fault, "");
    return Render(root);
}

std::u16string Decoded(const std::u16string& text) {
    std::vector<char16_t> buffer(text.begin(), text.end());
    buffer.push_back(0);
    DecodeText(buffer.data());
    return std::u16string(buffer.data());
}

std::u16string Number(size_t n) {
    std::string digits = std::to_string(n);
    return std::u16string(digits.begin(), digits.end());
}

struct TreeRow {
    const char16_t* input;
    const char* tree;
    bool ok;
};

TEST(XmlParse, BuildsTheTreeOfOrdinaryAndMalformedInput) {
    const TreeRow rows[] = {
        // Empty elements, however written.
        {u"<a/>", "*{a}", true},
        {u"<a />", "*{a}", true},
        {u"<a></a>", "*{a}", true},
        {u"<a>   </a>", "*{a}", true},
        {u"<a/ >", "*{a}", true},  // not self-closing, but never closed either
        {u"", "*", true},
        // Text: one level of decoding, trimmed per run, white space folded.
        {u"<a>x &amp; y</a>", "*{a{\"x & y\"}}", true},
        {u"<a>&amp;lt;</a>", "*{a{\"&lt;\"}}", true},
        {u"<a>\r\n  two\r\n  lines\r\n</a>", "*{a{\"two lines\"}}", true},
        {u"<a>two\r\nlines</a>", "*{a{\"twolines\"}}", true},
        {u"<a> one  two </a>", "*{a{\"one two\"}}", true},
        {u"<a>\u3000全角\u3000</a>", "*{a{\"全角\"}}", true},
        {u"<a>&#x3042;&#12356;</a>", "*{a{\"あい\"}}", true},
        // CDATA exactly as written; comments vanish.
        {u"<a><![CDATA[ <b>&amp; ]]></a>", "*{a{\" <b>&amp; \"}}", true},
        {u"<a><![CDATA[]]></a>", "*{a}", true},
        {u"<a>x<!-- note -->y</a>", "*{a{\"x\",\"y\"}}", true},
        {u"<!-->x", "*{\"x\"}", true},
        {u"<!---->x", "*{\"x\"}", true},
        {u"<a>x<![CDATA[y]]>z</a>", "*{a{\"x\",\"y\",\"z\"}}", true},
        // Closing tags: found without regard to nesting, case-sensitively.
        {u"<a>x</a ><b/>", "*{a{\"x\"},b}", true},
        {u"<a>x</a\t>", "*{a{\"x\"}}", true},
        {u"<a>x</a\u3000>", "*{a{\"x\"}}", true},
        {u"<a>1</ab>2</a>", "*{a,\"2\"}", false},
        {u"<ab>1</a>2</ab>", "*{ab{\"1\"}}", true},
        {u"<a>1</a/>2", "*{a,\"2\"}", true},
        {u"<a>1</a", "*{a}", true},
        {u"<a><a>x</a></a>", "*{a{a,\"x\"}}", false},
        {u"<a>x</A>", "*{a,\"x\"}", false},
        {u"<p>Hello<br>World</p>", "*{p{\"Hello\",br,\"World\"}}", true},
        {u"<a><b>1</b><b>2</b></a>", "*{a{b{\"1\"},b{\"2\"}}}", true},
        {u"<a>b", "*{a,\"b\"}", true},
        {u"<dc:date>2024</dc:date>", "*{dc:date{\"2024\"}}", true},
        {u"<a<b>x</a<b>", "*{a<b{\"x\"}}", true},
        {u"<d><![CDATA[x</d>y]]></d>", "*{d,\"y]]>\"}", false},
        // Tags and their attribute texts.
        {u"<x a='1' b='2'/>", "*{x(a=\"1\",b=\"2\")}", true},
        {u"<x a=b c='d'>", "*{x(a=\"d\")}", true},
        {u"<x a b='c'>", "*{x(a,b=\"c\")}", true},
        {u"<x b='c' a>", "*{x(b=\"c\")}", true},
        {u"<x href='a?b=1&amp;c=2'>", "*{x(href=\"a?b=1&amp;c=2\")}", true},
        {u"<x title='1>2'>", "*{x,\"2'>\"}", true},
        {u"<a href='x/y'/>", "*{a(href=\"x/y\")}", true},
        {u"<a\tb='1'\t/>", "*{a(b=\"1\")}", true},
        {u"<a/>>x", "*{a,\">x\"}", true},
        {u"<?xml-stylesheet type='text/xsl' href='s.xsl'?>",
         "*{?xml-stylesheet(type=\"text/xsl\",href=\"s.xsl\")}", true},
        {u"<!DOCTYPE rss><rss/>", "*{!DOCTYPE,rss}", true},
        // Malformed constructs cut the content of their element short.
        {u"x</y>z", "*{\"x\"}", false},
        {u"< x>", "*", false},
        {u"<>", "*", false},
        {u"x<", "*{\"x\"}", false},
        {u"<a", "*", false},
        {u"<!-- open", "*", false},
        {u"<![CDATA[ open", "*", false},
        {u"<a><b>1</b></>2</a><c/>", "*{a{b{\"1\"}},c}", true},
        {u"<a><!-- x</a><b/>", "*{a,b}", true},
        {u"<a>x<</a>y", "*{a{\"x\"},\"y\"}", true},
    };
    for (const TreeRow& row : rows) {
        SCOPED_TRACE(ToUtf8(row.input));
        bool ok = false;
        EXPECT_EQ(Parsed(row.input, &ok), row.tree);
        EXPECT_EQ(ok, row.ok);
    }
}

// Nested elements with distinct names "n0." .. "n<levels-1>." around "x"; the
// dots keep one name from being the beginning of another.
std::u16string Nested(size_t levels, const std::u16string& inner = u"x") {
    std::u16string body, closers;
    for (size_t i = 0; i < levels; ++i) body += u"<n" + Number(i) + u".>";
    for (size_t i = levels; i-- > 0;) closers += u"</n" + Number(i) + u".>";
    return body + inner + closers;
}

TEST(XmlParse, NestingBeyondTheBoundIsCutLikeAMalformedConstruct) {
    struct Row {
        size_t levels;
        int32_t built_depth;  // depth of the deepest element built
        bool text_kept;
    };
    const Row rows[] = {
        {kXmlMaxDepth - 1, kXmlMaxDepth - 1, true},
        {kXmlMaxDepth, kXmlMaxDepth, true},
        {kXmlMaxDepth + 1, kXmlMaxDepth, false},
        {100000, kXmlMaxDepth, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.levels);
        std::u16string body = Nested(row.levels) + u"<after/>";
        XmlNode root;
        ASSERT_EQ(root.Parse(body.c_str(), u"*", nullptr), &root);
        int32_t depth = 0;
        const XmlNode* node = &root;
        while (node->ChildAt(0) && !node->ChildAt(0)->IsText()) {
            node = node->ChildAt(0);
            ++depth;
        }
        EXPECT_EQ(depth, row.built_depth);
        EXPECT_EQ(node->ChildAt(0) != nullptr, row.text_kept);
        // The cut ends only the innermost element: the rest is read.
        ASSERT_NE(root.FindChild(u"after"), nullptr);
        EXPECT_EQ(root.children->Count(), 2u);
    }
}

TEST(XmlParse, SurvivesHostileShapesWithTheUsualResult) {
    const size_t n = 100000;
    {
        SCOPED_TRACE("unclosed <p>, with and without text");
        XmlNode root;
        std::u16string body = Repeat(u"<p>", n) + Repeat(u"<p>x", n);
        ASSERT_EQ(root.Parse(body.c_str(), u"*", nullptr), &root);
        ASSERT_EQ(root.children->Count(), 3 * n);
        EXPECT_EQ(Render(*root.ChildAt(0)), "p");
        EXPECT_EQ(Render(*root.ChildAt(static_cast<int32_t>(3 * n - 1))), "\"x\"");
    }
    {
        SCOPED_TRACE("distinct unclosed names, the last two closed");
        std::u16string body;
        for (size_t i = 0; i < n; ++i) body += u"<n" + Number(i) + u".>";
        body += u"x</n" + Number(n - 1) + u".></n" + Number(n - 2) + u".>";
        XmlNode root;
        ASSERT_EQ(root.Parse(body.c_str(), u"*", nullptr), &root);
        ASSERT_EQ(root.children->Count(), n - 1);
        EXPECT_EQ(Render(*root.ChildAt(0)), "n0.");
        EXPECT_EQ(Render(*root.ChildAt(static_cast<int32_t>(n - 2))),
                  "n" + std::to_string(n - 2) + ".{n" + std::to_string(n - 1) + ".{\"x\"}}");
    }
    {
        SCOPED_TRACE("names that begin other names");
        // "</n1" first occurs as the beginning of "</n10": n1 gets no
        // content, and reading goes on inside that closing tag.
        XmlNode root;
        std::u16string body = u"<n1><n10>x</n10>y</n1>";
        EXPECT_EQ(root.Parse(body.c_str(), u"*", nullptr), nullptr);
        EXPECT_EQ(Render(root), "*{n1,\"y\"}");
    }
    {
        SCOPED_TRACE("distinct nested names");
        XmlNode root;
        std::u16string body = Nested(n);
        ASSERT_EQ(root.Parse(body.c_str(), u"*", nullptr), &root);
        int32_t depth = 0;
        for (const XmlNode* node = &root; node->ChildAt(0); node = node->ChildAt(0)) ++depth;
        EXPECT_EQ(depth, kXmlMaxDepth);
        EXPECT_EQ(root.children->Count(), 1u);
    }
    {
        SCOPED_TRACE("a megabyte of attribute text");
        std::u16string value(1 << 20, u'v');
        XmlNode root;
        std::u16string body = u"<a x=\"" + value + u"\"/>";
        ASSERT_EQ(root.Parse(body.c_str(), u"*", nullptr), &root);
        ASSERT_NE(root.ChildAt(0)->FindAttribute(u"x"), nullptr);
        EXPECT_EQ(std::u16string(root.ChildAt(0)->FindAttribute(u"x")), value);

        body = u"<a " + Repeat(u"b ", 1 << 19) + u"c='1'/>";
        ASSERT_EQ(root.Parse(body.c_str(), u"*", nullptr), &root);
        EXPECT_EQ(root.ChildAt(0)->attributes->Count(), (1u << 19) + 1);

        body = u"<a " + Repeat(u"b='1' ", 1 << 17);  // no '>'
        EXPECT_EQ(root.Parse(body.c_str(), u"*", nullptr), nullptr);
        EXPECT_EQ(root.children, nullptr);
    }
    {
        SCOPED_TRACE("runs of '&'");
        for (const std::u16string& piece : {std::u16string(u"&"), std::u16string(u"&;"),
                                            std::u16string(u"&&&&&&&;"), std::u16string(u"&#")}) {
            std::u16string run = Repeat(piece, (1 << 20) / piece.size());
            XmlNode root;
            std::u16string body = u"<a>" + run + u"</a>";
            ASSERT_EQ(root.Parse(body.c_str(), u"*", nullptr), &root);
            EXPECT_TRUE(std::u16string(root.ChildAt(0)->ChildAt(0)->text) == run);
        }
    }
    {
        SCOPED_TRACE("CDATA sections and comments without end");
        for (const std::u16string& open : {std::u16string(u"<![CDATA["), std::u16string(u"<!--")}) {
            XmlNode root;
            std::u16string body = Repeat(open, n);
            EXPECT_EQ(root.Parse(body.c_str(), u"*", nullptr), nullptr);
            EXPECT_EQ(root.children, nullptr);
            body = Repeat(u"<a>" + open + u"</a>", n);
            ASSERT_EQ(root.Parse(body.c_str(), u"*", nullptr), &root);
            EXPECT_EQ(root.children->Count(), n);
        }
    }
    {
        SCOPED_TRACE("one name opened and closed many times");
        XmlNode root;
        std::u16string body = Repeat(u"<a>", n / 2) + Repeat(u"</a>", n / 2);
        EXPECT_EQ(root.Parse(body.c_str(), u"*", nullptr), nullptr);
        ASSERT_EQ(root.children->Count(), 1u);
        EXPECT_EQ(root.ChildAt(0)->children->Count(), n / 2 - 1);
    }
}

// The parser must read every input exactly like the obvious recursive
// reader; random documents over a small vocabulary of the constructs (and
// their broken forms) exercise the closing-tag index and the shared ranges.
// The second round hashes names so that anagrams collide ("ab", "ba").
class XmlParseRandom : public ::testing::TestWithParam<uint64_t> {
protected:
    void SetUp() override { xml_detail::ForceHashBaseForTesting(GetParam()); }
    void TearDown() override { xml_detail::ForceHashBaseForTesting(0); }
};
INSTANTIATE_TEST_SUITE_P(HashBase, XmlParseRandom, ::testing::Values(0u, 1u));

TEST_P(XmlParseRandom, AgreesWithTheReferenceReader) {
    const std::u16string pieces[] = {
        u"<a>", u"</a>", u"<ab>", u"</ab>", u"</a", u"<b x='1'>", u"</b>", u"<a/>",
        u"<![CDATA[", u"]]>", u"<!--", u"-->", u"&amp;", u"&#x41;", u" ", u"\t",
        u"x", u"<", u">", u"/", u"'", u"=", u"</", u"<a<b>", u"</a<b>", u"\u3000",
        u"<?pi?>", u"</ b>", u"</b ", u"<c>", u"</c>", u"<ba>", u"</ba>", u"</ba",
    };
    std::mt19937 random(20240229);
    std::uniform_int_distribution<size_t> pick(0, sizeof(pieces) / sizeof(pieces[0]) - 1);
    std::uniform_int_distribution<int> length(0, 40);
    for (int i = 0; i < 4000; ++i) {
        std::u16string body;
        for (int k = length(random); k > 0; --k) body += pieces[pick(random)];
        SCOPED_TRACE(ToUtf8(body));
        bool ok = false, reference_ok = false;
        std::string tree = Parsed(body, &ok);
        ASSERT_EQ(tree, xml_check::ReferenceParse(body, &reference_ok));
        ASSERT_EQ(ok, reference_ok);
    }
    // Deep documents near the bound, with siblings at every level.
    for (size_t levels : {kXmlMaxDepth - 1, kXmlMaxDepth, kXmlMaxDepth + 2}) {
        std::u16string body = Nested(levels, u"t<i/><j>") + u"u";
        bool ok = false, reference_ok = false;
        EXPECT_EQ(Parsed(body, &ok), xml_check::ReferenceParse(body, &reference_ok));
        EXPECT_EQ(ok, reference_ok);
    }
}

TEST(XmlNodeParse, MakesTextNodesElementsAndKeepsPartialResults) {
    XmlNode node;
    EXPECT_EQ(node.Parse(u"a &amp; b", nullptr, nullptr), &node);
    EXPECT_TRUE(node.IsText());
    EXPECT_EQ(std::u16string(node.text), u"a &amp; b");  // a text node is copied as is

    EXPECT_EQ(node.Parse(u"<b/>", u"a", u"x='1'"), &node);
    EXPECT_EQ(Render(node), "a(x=\"1\"){b}");
    EXPECT_EQ(node.Parse(nullptr, u"c", nullptr), &node);
    EXPECT_EQ(Render(node), "c");
    EXPECT_EQ(node.Parse(u"", u"c", u""), &node);
    EXPECT_EQ(Render(node), "c");

    // A fault keeps the name, the attributes and what was built before it.
    EXPECT_EQ(node.Parse(u"<a/>x</y>z", u"*", u"k"), nullptr);
    EXPECT_EQ(Render(node), "*{a,\"x\"}");

    // Arguments may point into the node being parsed again.
    ASSERT_EQ(node.Parse(u"<b>&lt;c/&gt;</b>", u"a", nullptr), &node);
    const char16_t* inner = node.ChildAt(0)->ChildAt(0)->text;
    EXPECT_EQ(node.Parse(inner, node.name, nullptr), &node);
    EXPECT_EQ(Render(node), "a{c}");

    node.Clear();
    EXPECT_EQ(node.name, nullptr);
    EXPECT_EQ(node.attributes, nullptr);
    EXPECT_EQ(node.children, nullptr);
}

// A malloc'd copy of text with its terminator, as the loader hands over.
char16_t* Block(const std::u16string& text) {
    auto* block = static_cast<char16_t*>(std::malloc((text.size() + 1) * sizeof(char16_t)));
    std::memcpy(block, text.c_str(), (text.size() + 1) * sizeof(char16_t));
    return block;
}

// Nodes and attributes below the root, as a document's bound counts them.
size_t Entries(const XmlNode& node) {
    size_t entries = node.attributes ? node.attributes->Count() : 0;
    if (!node.IsText() && node.children)
        for (XmlNode* child : node.children->As<XmlNode>()) entries += 1 + Entries(*child);
    return entries;
}

TEST(XmlParseDocument, ReadsInPlaceAsParseReadsACopyAndIsWholeOrNothing) {
    const std::u16string rows[] = {
        u"<rss version='2.0'><channel><title>A &amp; B</title><item a b='c'><title>x</title>"
        u"<description><![CDATA[<p>y</p>]]></description></item></channel></rss>",
        u"<a>1</ab>2</a>",
        u"<p>Hello<br>World</p>  <x title='1>2'> <a<b>x</a<b>",
        u"<d><![CDATA[x</d>y]]></d><!-- open",
        u"<a>&#x1F600; &lt;&gt;\r\n  z</a>",
    };
    for (const std::u16string& body : rows) {
        SCOPED_TRACE(ToUtf8(body));
        XmlNode copied;
        copied.Parse(body.c_str(), u"*", nullptr);
        const size_t entries = Entries(copied);

        XmlNode root;
        root.Parse(u"stale", u"old", u"a='1'");  // replaced
        ASSERT_EQ(root.ParseDocument(Block(body), nullptr, 0), XmlDocumentResult::kParsed);
        EXPECT_EQ(Render(root), "*");  // no text: a bare root (and the block is freed)
        char16_t* block = Block(body);
        ASSERT_EQ(root.ParseDocument(block, block, body.size(), entries), XmlDocumentResult::kParsed);
        EXPECT_EQ(Render(root), Render(copied));
        EXPECT_EQ(xml_check::CheckTree(root), "");
        if (entries == 0) continue;
        block = Block(body);
        EXPECT_EQ(root.ParseDocument(block, block, body.size(), entries - 1), XmlDocumentResult::kTooLarge);
        EXPECT_EQ(root.name, nullptr);
        EXPECT_EQ(root.children, nullptr);
    }
}

TEST(XmlParseDocument, TooManyTagNamesIsTooLarge) {
    std::u16string body;
    for (size_t i = 0; i <= kXmlMaxDocumentNames; ++i) body += u"<n" + Number(i) + u">";
    XmlNode root;
    char16_t* block = Block(body);
    EXPECT_EQ(root.ParseDocument(block, block, body.size()), XmlDocumentResult::kTooLarge);
    EXPECT_EQ(root.name, nullptr);
    // Parse has no such bound: it finds closing tags by search instead.
    EXPECT_EQ(root.Parse(body.c_str(), u"*", nullptr), &root);
    EXPECT_EQ(root.children->Count(), kXmlMaxDocumentNames + 1);
}

TEST(XmlNodeLifetime, ATreeOwnsItsNodesAndText) {
    // A node inside a tree parsed again builds in the tree's arena; what it
    // held stays readable until the root goes.
    XmlNode root;
    root.Parse(u"<a><b>x</b><c/></a><d/>", u"*", nullptr);
    XmlNode* a = root.ChildAt(0);
    const char16_t* old_name = a->ChildAt(0)->name;
    EXPECT_EQ(a->Parse(u"<f>y &amp; z</f>", u"e", u"k='v'"), a);
    EXPECT_EQ(Render(root), "*{e(k=\"v\"){f{\"y & z\"}},d}");
    EXPECT_EQ(std::u16string(old_name), u"b");
    EXPECT_EQ(a->Parse(u"text", nullptr, nullptr), a);
    EXPECT_EQ(Render(root), "*{\"text\",d}");
    a->Clear();  // empties the node only
    EXPECT_EQ(a->text, nullptr);
    EXPECT_EQ(Render(*root.ChildAt(1)), "d");

    // The text a document was parsed from can outlive its tree: the tree's
    // texts lie in it, decoded in place.
    std::u16string body = u"<a>x &amp; y</a>";
    char16_t* block = Block(body);
    ASSERT_EQ(root.ParseDocument(block, block, body.size()), XmlDocumentResult::kParsed);
    const char16_t* text = root.ChildAt(0)->ChildAt(0)->text;
    EXPECT_GE(text, block);
    EXPECT_LT(text, block + body.size());
    void* detached = root.DetachText();
    EXPECT_EQ(detached, block);
    root.Clear();
    EXPECT_EQ(std::u16string(text), u"x & y");
    std::free(detached);
    // A copied text belongs to the tree alone.
    root.Parse(body.c_str(), u"*", nullptr);
    EXPECT_EQ(root.DetachText(), nullptr);
    EXPECT_EQ(root.ChildAt(0)->DetachText(), nullptr);
}

TEST(XmlNodeLookup, FindsChildrenAndAttributesIgnoringAsciiCase) {
    XmlNode root;
    root.Parse(u"<item>text<dc:date/><title>1</title><TITLE>2</TITLE>"
               u"<x a='1' B bare c='' />text</item><item/>",
               u"*", nullptr);
    const XmlNode* item = root.FindChild(u"ITEM");
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item, root.ChildAt(0));
    EXPECT_EQ(item->FindChild(u"DC:DATE"), item->ChildAt(1));
    EXPECT_EQ(Render(*item->FindChild(u"title")), "title{\"1\"}");
    EXPECT_EQ(item->FindChild(u"text"), nullptr);  // text nodes never match
    EXPECT_EQ(item->FindChild(u"titl"), nullptr);  // whole names only
    EXPECT_EQ(item->ChildAt(0)->FindChild(u"x"), nullptr);
    EXPECT_EQ(item->ChildAt(0)->ChildAt(0), nullptr);
    EXPECT_EQ(item->ChildAt(-1), nullptr);
    EXPECT_EQ(item->ChildAt(6), nullptr);
    ASSERT_NE(item->ChildAt(5), nullptr);

    const XmlNode* x = item->FindChild(u"x");
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(std::u16string(x->FindAttribute(u"A")), u"1");
    // A bare name survives when another attribute follows it; its value is
    // the shared empty string, as opposed to an empty value written out.
    ASSERT_NE(x->FindAttribute(u"b"), nullptr);
    EXPECT_EQ(x->FindAttribute(u"b")[0], 0);
    EXPECT_EQ(x->FindAttribute(u"b"), x->FindAttribute(u"BARE"));
    EXPECT_EQ(x->FindAttribute(u"c")[0], 0);
    EXPECT_NE(x->FindAttribute(u"c"), x->FindAttribute(u"b"));
    EXPECT_EQ(x->FindAttribute(u"d"), nullptr);
    EXPECT_EQ(x->AttributeAt(3)->name, std::u16string(u"c"));
    EXPECT_EQ(x->AttributeAt(4), nullptr);
    EXPECT_EQ(x->AttributeAt(-1), nullptr);
    EXPECT_EQ(root.ChildAt(1)->AttributeAt(0), nullptr);
    EXPECT_EQ(root.ChildAt(1)->FindAttribute(u"a"), nullptr);
}

TEST(XmlSerialize, GivesTheContentAsOneText) {
    struct Row {
        const char16_t* element;
        const char16_t* content;
    };
    const Row rows[] = {
        {u"<t>Hello <b>world</b> again</t>", u"Hello<b>world</b>again"},
        {u"<t><img src='i.png'/></t>", u"<img src = \"i.png\" />"},
        {u"<t><x a b='1'/></t>", u"<x a b = \"1\" />"},
        {u"<t><a><b>x&lt;</b></a></t>", u"<a><b>x<</b></a>"},
        {u"<t><![CDATA[<p>&amp;</p>]]></t>", u"<p>&amp;</p>"},
        {u"<t/>", u""},
        {u"<t>日本語</t>", u"日本語"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(ToUtf8(row.element));
        XmlNode root;
        root.Parse(row.element, u"*", nullptr);
        char16_t* text = root.ChildAt(0)->ContentText();
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(std::u16string(text), row.content);
        delete[] text;
    }
    XmlNode text_node;
    text_node.Parse(u"plain", nullptr, nullptr);
    EXPECT_EQ(text_node.Serialize(nullptr, 0), 5u);
}

TEST(XmlSerialize, NeverWritesPastTheCapacity) {
    XmlNode root;
    root.Parse(u"<t>ab<c/>de</t>", u"*", nullptr);
    const XmlNode& t = *root.ChildAt(0);
    const std::u16string full = u"ab<c />de";
    for (size_t capacity = 0; capacity <= full.size() + 2; ++capacity) {
        SCOPED_TRACE(capacity);
        std::u16string buffer(capacity + 1, u'#');
        EXPECT_EQ(t.Serialize(&buffer[0], capacity), full.size());
        size_t kept = capacity ? std::min(capacity - 1, full.size()) : 0;
        EXPECT_EQ(buffer.substr(0, kept), full.substr(0, kept));
        EXPECT_EQ(buffer[kept], capacity ? 0 : u'#');  // capacity 0: untouched
        EXPECT_EQ(buffer[capacity], u'#');
    }
}

TEST(XmlText, DecodeTextDecodesReferencesAndFoldsSpaces) {
    struct Row {
        const char16_t* input;
        const char16_t* output;
    };
    const Row rows[] = {
        {u"a\r\n  b", u"a b"},
        {u"a \n b", u"a  b"},
        {u"  a  ", u" a "},
        {u"\u3000\u00A0x", u"\u3000\u00A0x"},
        {u"&lt;&gt;&amp;&quot;&apos;", u"<>&\"'"},
        {u"&amp;lt;", u"&lt;"},
        {u"&AMP;", u"&AMP;"},
        {u"&amp", u"&amp"},
        {u"AT&T", u"AT&T"},
        {u"AT&T;", u"AT&T;"},
        {u"&verylongname;", u"&verylongname;"},
        {u"&a&amp;", u"&a&"},
        {u"&;", u"&;"},
        {u"&#;", u"&#;"},
        {u"&#x;", u"&#x;"},
        {u"&#12a;", u"&#12a;"},
        {u"&#-65;", u"&#-65;"},
        {u"&#12354;", u"\u3042"},
        {u"&#x3042;&#X3044;", u"\u3042\u3044"},
        {u"&#65;BC", u"ABC"},
        {u"&#0000065;", u"A"},
        {u"&#00000065;", u"&#00000065;"},  // nine units between '&' and ';'
        {u"&#128512;", u"\U0001F600"},
        {u"&#x1F600;", u"\U0001F600"},
        {u"&#65601;", u"\U00010041"},
        {u"&#x10FFFF;", u"\U0010FFFF"},
        {u"&#0;", u"\uFFFD"},
        {u"&#x0;", u"\uFFFD"},
        {u"&#xD800;", u"\uFFFD"},
        {u"&#57343;", u"\uFFFD"},
        {u"&#x110000;", u"\uFFFD"},
        {u"&#9;&#10;", u"\t\n"},
        {u"&#32; x", u"  x"},
        {u"&nbsp;&copy;&reg;&trade;&hellip;&mdash;", u"\u00A0\u00A9\u00AE\u2122\u2026\u2014"},
        {u"&ndash;&laquo;&raquo;&middot;&yen;", u"\u2013\u00AB\u00BB\u00B7\u00A5"},
        {u"&euro;&Nbsp;", u"&euro;&Nbsp;"},
        {u"&&&&&&&&&&;", u"&&&&&&&&&&;"},
        {u"", u""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(ToUtf8(row.input));
        EXPECT_EQ(Decoded(row.input), row.output);
    }
    DecodeText(nullptr);
}

TEST(XmlText, TrimTextRemovesRunTimeWhiteSpaceAtBothEnds) {
    struct Row {
        const char16_t* input;
        const char16_t* output;
    };
    const Row rows[] = {
        {u"  a b  ", u"a b"},
        {u"\t\r\n\v\fa\u3000\u00A0\u2028", u"a"},
        {u"\u0085a\u200B", u"\u0085a\u200B"},  // not white space to the run-time
        {u"   ", u""},
        {u"", u""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(ToUtf8(row.input));
        std::u16string buffer = row.input;
        buffer.push_back(0);
        TrimText(&buffer[0]);
        EXPECT_EQ(std::u16string(buffer.c_str()), row.output);
    }
    TrimText(nullptr);
}

TEST(XmlText, WhiteSpaceIsTheRunTimeSet) {
    std::vector<uint32_t> spaces;
    for (uint32_t c = 0; c <= 0xFFFF; ++c) {
        if (IsXmlSpace(static_cast<char16_t>(c))) spaces.push_back(c);
#ifdef _WIN32
        // Where the run-time exists, the table must agree with it.
        EXPECT_EQ(IsXmlSpace(static_cast<char16_t>(c)), iswspace(static_cast<wint_t>(c)) != 0)
            << std::hex << c;
#endif
    }
    const std::vector<uint32_t> expected = {
        0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0xA0,   0x1680, 0x2000, 0x2001, 0x2002, 0x2003,
        0x2004, 0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000,
    };
    EXPECT_EQ(spaces, expected);
}

TEST(XmlText, CompareIgnoreCaseFoldsAsciiLettersOnly) {
    struct Row {
        const char16_t* left;
        const char16_t* right;
        int sign;
    };
    const Row rows[] = {
        {u"dc:date", u"DC:DATE", 0}, {u"abc", u"abd", -1}, {u"abc", u"ab", 1},
        {u"\u00C4", u"\u00E4", -1},  {u"_", u"a", -1},      {u"Z", u"_", 1},
        {u"", u"", 0},               {nullptr, u"", -1},    {u"", nullptr, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(ToUtf8(row.left ? row.left : u"(null)") + " / " +
                     ToUtf8(row.right ? row.right : u"(null)"));
        int32_t result = CompareIgnoreCase(row.left, row.right);
        EXPECT_EQ((result > 0) - (result < 0), row.sign);
#ifdef _WIN32
        if (row.left && row.right) {
            int expected = _wcsicmp(reinterpret_cast<const wchar_t*>(row.left),
                                    reinterpret_cast<const wchar_t*>(row.right));
            EXPECT_EQ((result > 0) - (result < 0), (expected > 0) - (expected < 0));
        }
#endif
    }
}

TEST(XmlText, ParseAttributesScansNamesAndQuotedValues) {
    struct Row {
        const char16_t* text;
        const char* attributes;  // rendered on an element "e"
    };
    const Row rows[] = {
        {u"a='1' b='2'", "e(a=\"1\",b=\"2\")"},
        {u"a=\"x'y\" b='x\"y'", "e(a=\"x'y\",b=\"x\"y\")"},
        {u"a = '1'", "e(a=\"1\")"},
        {u"a='1'b='2'", "e(a=\"1\",b=\"2\")"},
        {u"a=b c='d'", "e(a=\"d\")"},
        {u"a b='c'", "e(a,b=\"c\")"},
        {u"b='c' a", "e(b=\"c\")"},
        {u"a b c", "e(a,b)"},
        {u"a", "e"},
        {u"", "e"},
        {u"a='1", "e"},
        {u"a=''", "e(a=\"\")"},
        {u"a\u3000=\u3000'1'", "e(a=\"1\")"},
        {u"a='1' ='2'", "e(a=\"1\",=\"2\")"},
        {u"v='&amp;&#65;'", "e(v=\"&amp;&#65;\")"},
        {u"rdf:about='x' xml:lang=\"ja\"", "e(rdf:about=\"x\",xml:lang=\"ja\")"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(ToUtf8(row.text));
        XmlNode element;
        element.name = new char16_t[2]{u'e', 0};
        element.attributes = ParseAttributes(row.text);
        EXPECT_EQ(Render(element), row.attributes);
    }
    EXPECT_EQ(ParseAttributes(nullptr), nullptr);
}

}  // namespace
