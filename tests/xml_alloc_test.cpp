// The XML parser when memory runs out: the Nth allocation fails, for every N.
// Every run must end cleanly (no crash, no leak, the tree invariants intact),
// and a failure inside the parser's own look-up structures must not change
// the tree at all, only the way closing tags are found.
//
// The countdown is the platform's (platform/memory.h), which this test
// program's operator new consults too (alloc_hook.cpp); it fails only on the
// thread of a test that has armed it, so threads other tests leave running
// are never disturbed.
// A small tree fits in one arena block, so every test runs twice: with the
// arena's own block sizes, and with blocks so small that every node, list
// and attribute is an allocation of its own and can fail.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include "feed/xml_internal.h"
#include "feed/xml_node.h"
#include "fetch/document_loader.h"
#include "platform/memory.h"
#include "xml_check.h"

namespace {

bool g_failed = false;

// Fails the allocation that comes after `succeeding` more of them.
void FailAfter(long succeeding) {
    feedlet::platform::FailAllocationsForTesting(succeeding, false);
}
void Disarm() {
    g_failed = feedlet::platform::StopFailingAllocationsForTesting();
}

}  // namespace

namespace {

using feedlet::XmlNode;

const char16_t kDocument[] =
    u"<?xml-stylesheet href='s.xsl'?><rss version='2.0'><channel><title>T &amp; U</title>"
    u"<item><title>一</title><link>http://x/1?a=1&amp;b=2</link><br>"
    u"<description><![CDATA[<p>本文</p>]]></description></item>"
    u"<item a b='c'><title>二</title><dc:date>2024</dc:date></item></channel></rss>";

// The parameter: the arena's block size (0: its own sizes).
class XmlAllocation : public ::testing::TestWithParam<size_t> {
protected:
    void SetUp() override { feedlet::xml_detail::ForceArenaBlockSizeForTesting(GetParam()); }
    void TearDown() override { feedlet::xml_detail::ForceArenaBlockSizeForTesting(0); }
};
INSTANTIATE_TEST_SUITE_P(ArenaBlocks, XmlAllocation, ::testing::Values(size_t{0}, size_t{1}));

TEST_P(XmlAllocation, EveryFailureEndsCleanly) {
    XmlNode whole;
    ASSERT_EQ(whole.Parse(kDocument, u"*", nullptr), &whole);
    const std::string expected = feedlet::xml_check::Render(whole);
    long n = 0;
    for (;; ++n) {
        SCOPED_TRACE(n);
        XmlNode root;
        FailAfter(n);
        XmlNode* result = root.Parse(kDocument, u"*", nullptr);
        Disarm();
        if (!g_failed) {
            EXPECT_EQ(result, &root);
            EXPECT_EQ(feedlet::xml_check::Render(root), expected);
            break;
        }
        if (root.name) EXPECT_EQ(feedlet::xml_check::CheckTree(root), "");
        else EXPECT_EQ(result, nullptr);  // not even the name could be kept
        char16_t* text = root.ContentText();
        delete[] text;
    }
    // The closing-tag index alone allocates more than five times.
    EXPECT_GT(n, GetParam() ? 40 : 5);
}

TEST_P(XmlAllocation, LookupStructuresAreOptional) {
    // The allocations after the root's name: the list of '<', then the
    // closing-tag index (table, name lengths, hits, positions).
    XmlNode whole;
    whole.Parse(kDocument, u"*", nullptr);
    const std::string expected = feedlet::xml_check::Render(whole);
    for (long n = 1; n <= 5; ++n) {
        SCOPED_TRACE(n);
        XmlNode root;
        FailAfter(n);
        XmlNode* result = root.Parse(kDocument, u"*", nullptr);
        Disarm();
        EXPECT_TRUE(g_failed);
        EXPECT_EQ(result, &root);
        EXPECT_EQ(feedlet::xml_check::Render(root), expected);
    }
}

// A document loaded for a feed is whole or nothing: when memory runs out
// anywhere in its parse (the closing-tag index included) the load fails and
// leaves the root empty, so a crawler keeps its last document instead of
// installing one that lacks articles.
TEST_P(XmlAllocation, ALoadedDocumentIsWholeOrNothing) {
    const std::string bytes =
        "<?xml version=\"1.0\"?>" + feedlet::xml_check::ToUtf8(std::u16string(kDocument));
    auto load = [&bytes](XmlNode& root) {
        auto* block = static_cast<unsigned char*>(std::calloc(bytes.size() + feedlet::kDownloadTerminator, 1));
        std::memcpy(block, bytes.data(), bytes.size());
        feedlet::DownloadBuffer buffer;
        buffer.Adopt(block, static_cast<uint32_t>(bytes.size()));
        return feedlet::LoadDocumentFromBuffer(root, buffer);
    };
    XmlNode whole;
    ASSERT_TRUE(load(whole));
    const std::string expected = feedlet::xml_check::Render(whole);
    long n = 0;
    for (;; ++n) {
        SCOPED_TRACE(n);
        XmlNode root;
        FailAfter(n);
        bool loaded = load(root);
        Disarm();
        if (!g_failed) {
            EXPECT_TRUE(loaded);
            EXPECT_EQ(feedlet::xml_check::Render(root), expected);
            break;
        }
        // A refusal the load can do without (a shrink it skips) leaves it
        // whole; any other leaves it empty.
        if (loaded) {
            EXPECT_EQ(feedlet::xml_check::Render(root), expected);
        } else {
            EXPECT_EQ(root.name, nullptr);
            EXPECT_EQ(root.children, nullptr);
        }
    }
    EXPECT_GT(n, GetParam() ? 40 : 5);
}

TEST_P(XmlAllocation, AttributesAndTextHelpers) {
    for (long n = 0; n < 12; ++n) {
        SCOPED_TRACE(n);
        FailAfter(n);
        feedlet::ItemList* attributes = feedlet::ParseAttributes(u"a='1' b c='3'");
        XmlNode text;
        text.Parse(u"t", nullptr, nullptr);
        Disarm();
        if (attributes) {
            EXPECT_GT(attributes->Count(), 0u);  // never an empty list
            delete attributes;
        }
    }
}

}  // namespace
