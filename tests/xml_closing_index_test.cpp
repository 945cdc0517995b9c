// The closing-tag index on its own: for every start tag, Find must give what
// a plain search for "</" + name after the tag gives, whatever the text
// (names that contain '<', names that begin other names, equal hashes, long
// names, bounds cut short), in document order and out of it, built or not.
#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "feed/xml_closing_index.h"
#include "feed/xml_internal.h"
#include "xml_check.h"

using feedlet::xml_check::CheckClosingIndex;
using feedlet::xml_detail::ClosingIndex;
using feedlet::xml_detail::ForceHashBaseForTesting;

namespace {

// Hash bases: a fresh one per build, and one under which anagrams collide.
class ClosingIndexTest : public ::testing::TestWithParam<uint64_t> {
protected:
    void SetUp() override { ForceHashBaseForTesting(GetParam()); }
    void TearDown() override { ForceHashBaseForTesting(0); }
};
INSTANTIATE_TEST_SUITE_P(HashBase, ClosingIndexTest, ::testing::Values(0u, 1u));

TEST_P(ClosingIndexTest, AnswersAsAPlainSearchWould) {
    const std::u16string long_name(70, u'n');
    const std::u16string rows[] = {
        u"<a>x</a>",
        u"<a><a>x</a></a>",
        u"<a>1</ab>2</a>",           // "</ab" holds the pattern of "a"
        u"<ab>1</a>2</ab>",
        u"<ab><ba></ba></ab>",       // anagrams: equal hashes under base 1
        u"<a<b>x</a<b></b>",         // one stretch, two names ending together
        u"<<<a>x</<a></a>",
        u"<a/><a />x</a>",           // self-closing: asked anyway, answered by search
        u"<a x='</a>'>y</a>",        // a "</" inside the tag does not count
        u"<!--<a>--></a><![CDATA[<b>]]></b>",
        u"<a\u3000b='1'>x</a\u3000><a\tb>y</a\t>",
        u"<\u65e5\u672c>x</\u65e5\u672c>",
        u"<" + long_name + u">x</" + long_name + u"></" + long_name.substr(1) + u">",
        u"<a>x</a",                  // a pattern right at the end
        u"<a>",
        u"</a><a>",
        u"",
    };
    for (const std::u16string& text : rows) {
        SCOPED_TRACE(feedlet::xml_check::ToUtf8(text));
        ClosingIndex index;
        EXPECT_EQ(index.Build(text.data(), text.size()), ClosingIndex::BuildResult::kBuilt);
        EXPECT_EQ(CheckClosingIndex(text, false), "");
        EXPECT_EQ(CheckClosingIndex(text, true), "");
    }
}

TEST_P(ClosingIndexTest, AnswersAroundCommentAndCdataStarts) {
    // A comment or CDATA start gives no name: a stretch of names that begins
    // with one is hashed from its first name on, and a question about the
    // start itself is answered by search.
    const std::u16string rows[] = {
        u"<![CDATA[<a>x</a>",
        u"<!--x<a<b>y</a<b></b>",
        u"<![CDATA[\u65e5\u672c<br>x</br>]]></![CDATA[\u65e5\u672c<br>",
        u"<!--a>x</!--a>",
        u"<<!--a>x</<!--a></!--a>",
        u"<!-->x</!-->",
    };
    for (const std::u16string& text : rows) {
        SCOPED_TRACE(feedlet::xml_check::ToUtf8(text));
        EXPECT_EQ(CheckClosingIndex(text, false), "");
        EXPECT_EQ(CheckClosingIndex(text, true), "");
    }
}

TEST_P(ClosingIndexTest, AgreesOnRandomTexts) {
    const char16_t* const pieces[] = {
        u"<a>", u"</a>", u"<ab>", u"</ab", u"<ba>", u"</ba>", u"<a/>", u"<", u">", u"/",
        u"</", u"<a<b>", u"</a<b>", u"x", u" ", u"\u3000", u"<!--", u"-->", u"<![CDATA[",
        u"<c d='</c>'>", u"</c>", u"<bb>", u"</bb ", u"<<", u"</ a>",
    };
    std::mt19937 random(20241208);
    std::uniform_int_distribution<size_t> pick(0, std::size(pieces) - 1);
    std::uniform_int_distribution<int> length(0, 60);
    for (int i = 0; i < 3000; ++i) {
        std::u16string text;
        for (int k = length(random); k > 0; --k) text += pieces[pick(random)];
        SCOPED_TRACE(feedlet::xml_check::ToUtf8(text));
        ASSERT_EQ(CheckClosingIndex(text, i % 2 == 1), "");
    }
}

TEST_P(ClosingIndexTest, AgreesWithMoreNamesThanTheCachesHold) {
    // Thousands of names: the table grows many times during the pass, and
    // the prefixes of the runs after "</" are looked up among all of them.
    std::mt19937 random(7);
    std::uniform_int_distribution<int> kind(0, 9);
    std::u16string text;
    for (int i = 0; i < 5000; ++i) {
        std::string digits = std::to_string(i * 7919 % 10007);
        std::u16string id(digits.begin(), digits.end());
        switch (kind(random)) {
        case 0: text += u"<n" + id + u">"; break;               // never closed
        case 1: text += u"</n" + id.substr(0, 2) + u"<n" + id + u">"; break;  // a prefix of names
        default: text += u"<n" + id + u">x</n" + id + u">"; break;
        }
    }
    EXPECT_EQ(CheckClosingIndex(text), "");
}

TEST_P(ClosingIndexTest, TooManyNamesFallsBackToSearching) {
    std::u16string text;
    for (int i = 0; i < 40; ++i) text += u"<n" + std::u16string(1, static_cast<char16_t>(u'A' + i)) + u">";
    text += u"x</nA></nB>";
    ClosingIndex index;
    EXPECT_EQ(index.Build(text.data(), text.size(), 39), ClosingIndex::BuildResult::kTooManyNames);
    EXPECT_FALSE(index.built());
    EXPECT_EQ(index.Build(text.data(), text.size(), 40), ClosingIndex::BuildResult::kBuilt);
    EXPECT_EQ(CheckClosingIndex(text, false, 39), "");
    EXPECT_EQ(CheckClosingIndex(text, true, 40), "");
}

TEST_P(ClosingIndexTest, ReadsNothingBeyondTheText) {
    // The text ends inside a name, and inside a closing pattern; the check
    // builds the index over exactly the text's units, so with the sanitizers
    // on a read past its end is a fault.
    EXPECT_EQ(CheckClosingIndex(u"<abcdefghijklmnopqrstuvwxyz"), "");
    EXPECT_EQ(CheckClosingIndex(u"<a>x</abcdefghijklmnopqrstuvwxyz"), "");
    EXPECT_EQ(CheckClosingIndex(u"<abcdefgh>x</abcdefgh"), "");
}

}  // namespace
