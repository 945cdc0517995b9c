// ItemList and TextField through their public operations.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/item_list.h"
#include "core/text_field.h"

using namespace feedlet;

namespace {

struct ReleaseLog {
    std::vector<intptr_t> items;
    std::vector<uint32_t> words;
};
ReleaseLog* g_log = nullptr;

void Record(void* item, uint32_t word1, uint32_t word2) {
    g_log->items.push_back(reinterpret_cast<intptr_t>(item));
    g_log->words.push_back(word1 * 1000 + word2);
}

void* P(intptr_t v) { return reinterpret_cast<void*>(v); }

std::vector<intptr_t> Items(const ItemList& list) {
    std::vector<intptr_t> out;
    for (void* item : list) out.push_back(reinterpret_cast<intptr_t>(item));
    return out;
}

class ItemListTest : public ::testing::Test {
protected:
    void SetUp() override { g_log = &log; }
    void TearDown() override { g_log = nullptr; }
    ReleaseLog log;
};

TEST_F(ItemListTest, LookupsOutOfRangeYieldNull) {
    ItemList list;
    EXPECT_EQ(list.ItemAt(0), nullptr);
    EXPECT_EQ(list.Count(), 0u);
    list.Append(P(1));
    list.Append(P(2));
    EXPECT_EQ(list.ItemAt(-1), nullptr);
    EXPECT_EQ(list.ItemAt(2), nullptr);
    EXPECT_EQ(list.ItemAt(1), P(2));
    EXPECT_EQ(list.Count(), 2u);
}

TEST_F(ItemListTest, NullItemsAreKept) {
    ItemList list;
    list.Append(nullptr);
    list.Append(P(5));
    EXPECT_EQ(list.Count(), 2u);
    EXPECT_EQ(list.ItemAt(0), nullptr);
    EXPECT_EQ(list.IndexOf(P(5)), 1);
}

TEST_F(ItemListTest, RemoveAtHonoursReleaseFlagAndRange) {
    ItemList list(Record, 7, 3);
    for (intptr_t i = 1; i <= 4; ++i) list.Append(P(i));
    list.RemoveAt(4, 1);   // past the end
    list.RemoveAt(-1, 1);  // negative
    EXPECT_EQ(list.Count(), 4u);
    EXPECT_TRUE(log.items.empty());

    list.RemoveAt(1, 0);  // node freed, callback not called
    EXPECT_TRUE(log.items.empty());
    EXPECT_EQ(Items(list), (std::vector<intptr_t>{1, 3, 4}));

    list.RemoveAt(2, 1);  // the last node: Append must still link after the new tail
    EXPECT_EQ(log.items, (std::vector<intptr_t>{4}));
    EXPECT_EQ(log.words, (std::vector<uint32_t>{7003}));
    list.Append(P(9));
    list.RemoveAt(0, 1);
    EXPECT_EQ(Items(list), (std::vector<intptr_t>{3, 9}));
    EXPECT_EQ(list.Count(), 2u);
}

TEST_F(ItemListTest, ClearReleasesEveryItemInOrder) {
    {
        ItemList list(Record, 2, 0);
        list.Append(P(10));
        list.Append(P(20));
        list.Clear();
        EXPECT_EQ(list.Count(), 0u);
        EXPECT_EQ(log.items, (std::vector<intptr_t>{10, 20}));
        list.Append(P(30));  // usable after Clear; released by the destructor
    }
    EXPECT_EQ(log.items, (std::vector<intptr_t>{10, 20, 30}));
}

TEST_F(ItemListTest, ClearWithoutCallbackLeavesItemsAlone) {
    int a = 1, b = 2;
    ItemList list;
    list.Append(&a);
    list.Append(&b);
    list.Clear();
    EXPECT_EQ(a + b, 3);
    EXPECT_TRUE(log.items.empty());
}

struct Keyed {
    int key;
    int order;
};

int32_t ByKey(const void* l, const void* r, uint32_t, uint32_t) {
    return static_cast<const Keyed*>(l)->key > static_cast<const Keyed*>(r)->key ? 1 : 0;
}
int32_t AlwaysEqual(const void*, const void*, uint32_t, uint32_t) { return 0; }
int32_t WordsSeen(const void*, const void*, uint32_t a, uint32_t b) {
    EXPECT_EQ(a, 11u);
    EXPECT_EQ(b, 22u);
    return 0;
}

TEST_F(ItemListTest, SortIsStableForEverySplitSize) {
    // Sizes 0..40 exercise every ceil(n/2) split shape; keys repeat so that
    // stability is visible.
    for (int n = 0; n <= 40; ++n) {
        SCOPED_TRACE(n);
        std::vector<Keyed> records(static_cast<size_t>(n));
        ItemList list;
        for (int i = 0; i < n; ++i) {
            records[static_cast<size_t>(i)] = Keyed{(i * 7) % 5, i};
            list.Append(&records[static_cast<size_t>(i)]);
        }
        list.Sort(ByKey, 0, 0);
        ASSERT_EQ(list.Count(), static_cast<uint32_t>(n));
        const Keyed* previous = nullptr;
        for (Keyed* k : list.As<Keyed>()) {
            if (previous) {
                ASSERT_LE(previous->key, k->key);
                if (previous->key == k->key) {
                    ASSERT_LT(previous->order, k->order);
                }
            }
            previous = k;
        }
        // The tail is right after sorting: appending lands at the end.
        Keyed extra{-1, 99};
        list.Append(&extra);
        EXPECT_EQ(list.At<Keyed>(n), &extra);
    }
}

TEST_F(ItemListTest, SortWithTiesKeepsOrderAndPassesWords) {
    ItemList list;
    for (intptr_t i = 1; i <= 5; ++i) list.Append(P(i));
    list.Sort(AlwaysEqual, 0, 0);
    EXPECT_EQ(Items(list), (std::vector<intptr_t>{1, 2, 3, 4, 5}));
    list.Sort(WordsSeen, 11, 22);
}

TEST(TextFieldTest, EmptyTextsAreStoredAsNone) {
    TextField field;
    EXPECT_EQ(field.AssignNarrow(""), nullptr);
    EXPECT_EQ(field.text, nullptr);
    EXPECT_EQ(field.kind, kTextNarrow);
    EXPECT_EQ(field.Length(), 0u);

    EXPECT_EQ(field.AssignWide(u""), nullptr);
    EXPECT_EQ(field.text, nullptr);
    EXPECT_EQ(field.kind, kTextWide);
    EXPECT_EQ(field.Length(), 0u);

    EXPECT_EQ(field.AssignWide(nullptr), nullptr);
    EXPECT_EQ(field.kind, kTextWide);
    field.Clear();
    EXPECT_EQ(field.kind, kTextNarrow);
}

TEST(TextFieldTest, AssignCopiesAndReplaces) {
    TextField field;
    char source[] = "\x93\x8C\x8B\x9E";  // 東京 in code page 932
    const char* stored = field.AssignNarrow(source);
    ASSERT_NE(stored, nullptr);
    EXPECT_NE(stored, source);
    source[0] = 'x';
    EXPECT_EQ(std::string(field.Narrow()), "\x93\x8C\x8B\x9E");
    EXPECT_EQ(field.Length(), 4u);
    EXPECT_EQ(field.Wide(), nullptr);

    field.AssignWide(u"\u6771\u4EAC!");
    EXPECT_EQ(field.Length(), 3u);
    EXPECT_EQ(std::u16string(field.Wide()), u"\u6771\u4EAC!");
    EXPECT_EQ(field.Narrow(), nullptr);
}

TEST(TextFieldTest, UnknownKindCountsAsEmpty) {
    TextField field;
    field.AssignWide(u"abc");
    void* text = field.text;
    field.kind = 5;  // never stored by the operations; must count as empty
    EXPECT_EQ(field.Length(), 0u);
    field.kind = kTextWide;
    EXPECT_EQ(field.text, text);
}

}  // namespace
