// stringlist: storage made on first need, the shared empty strings, copies and appends,
// searches and the joined image.
#include "strings/strings_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using tvtest::Utf8;
using tvtest::Wide;

namespace {

stringlist ListOf(std::initializer_list<const WCHAR *> items)
{
    stringlist list;
    for (const WCHAR *item : items)
        list.push_back(tv_str(item));
    return list;
}

std::vector<std::string> Items(const stringlist &list)
{
    std::vector<std::string> items;
    for (int i = 0; i < list.size(); ++i)
        items.push_back(Utf8(list[size_t(i)]));
    return items;
}

using Texts = std::vector<std::string>;

} // namespace

TEST(StringListEmpty, ListWithoutStorageAndSharedEmptyStringsReadAsEmpty)
{
    stringlist list;
    EXPECT_EQ(list.get_data(), nullptr);
    EXPECT_EQ(list.size(), 0);
    EXPECT_TRUE(list.isempty());
    EXPECT_TRUE(list.image(',').is_empty());
    tv_str a(W("a"));
    EXPECT_FALSE(list.contains(a));
    EXPECT_FALSE(list.icontains(a));
    EXPECT_TRUE(list.front().is_empty());
    EXPECT_TRUE(list.back().is_empty());
    EXPECT_TRUE(list[0].is_empty());
    list.pop_back();
    list.clear();
    EXPECT_EQ(list.get_data(), nullptr);
    // Shared empty strings come back empty.
    list[3] = W("scribbled");
    list.front() += W("x");
    EXPECT_TRUE(list[3].is_empty());
    EXPECT_TRUE(list.front().is_empty());
    list.push_back(tv_str(W("only")));
    EXPECT_TRUE(list[1].is_empty());  // past the end
    EXPECT_EQ(Wide(list[0]), wstr(W("only")));
    list.pop_back();
    EXPECT_TRUE(list.front().is_empty());  // storage without elements
    EXPECT_TRUE(list.back().is_empty());
    list.pop_back();
    EXPECT_EQ(list.size(), 0);
}

TEST(StringListCopy, CopiesAreIndependentAndShareTheTexts)
{
    const stringlist empty;
    stringlist emptyCopy(empty);
    EXPECT_NE(emptyCopy.get_data(), nullptr) << "a copy of an empty list has storage";
    EXPECT_EQ(emptyCopy.size(), 0);
    stringlist original = ListOf({W("a"), W("b")});
    stringlist copy(original);
    EXPECT_EQ(static_cast<const WCHAR *>(copy[0]), static_cast<const WCHAR *>(original[0]));
    copy.push_back(tv_str(W("c")));
    copy[0] = W("changed");
    EXPECT_EQ(Items(original), (Texts{"a", "b"}));
    EXPECT_EQ(Items(copy), (Texts{"changed", "b", "c"}));

    stringlist assigned = ListOf({W("x")});
    assigned = original;
    EXPECT_EQ(Items(assigned), (Texts{"a", "b"}));
    stringlistimpl *before = assigned.get_data();
    const stringlist &self = assigned;
    assigned = self;
    EXPECT_EQ(assigned.get_data(), before);
    EXPECT_EQ(Items(assigned), (Texts{"a", "b"}));
}

TEST(StringListGrowth, AppendPushInsertAndClear)
{
    stringlist list = ListOf({W("a"), W("b"), W("c")});
    list += list;
    EXPECT_EQ(Items(list), (Texts{"a", "b", "c", "a", "b", "c"}));
    stringlist none;
    list += none;
    EXPECT_EQ(list.size(), 6);
    none += stringlist();
    EXPECT_EQ(none.get_data(), nullptr);
    none += list;
    EXPECT_EQ(none.size(), 6);
    // Pushing an element of the same list survives its growth.
    stringlist grown;
    grown.push_back(tv_str(W("a text long enough for a heap mirror")));
    for (int i = 0; i < 100; ++i)
        grown.push_back(grown[0]);
    EXPECT_EQ(grown.size(), 101);
    EXPECT_STREQ(grown.back().get_utf8(), "a text long enough for a heap mirror");
    grown.insert(50, grown.back());
    EXPECT_EQ(grown.size(), 102);
    EXPECT_STREQ(grown[50].get_utf8(), "a text long enough for a heap mirror");
    stringlist ordered;
    ordered.insert(0, tv_str(W("b")));
    EXPECT_EQ(Items(ordered), (Texts{"b"}));
    ordered.insert(0, tv_str(W("a")));
    ordered.insert(unsigned(ordered.size()), tv_str(W("d")));
    ordered.insert(2, tv_str(W("c")));
    EXPECT_EQ(Items(ordered), (Texts{"a", "b", "c", "d"}));
    ordered.insert(9, tv_str(W("x")));
    EXPECT_EQ(ordered.size(), 4);
    EXPECT_EQ(Wide(ordered.front()), wstr(W("a")));
    EXPECT_EQ(Wide(ordered.back()), wstr(W("d")));

    stringlist noStorage;
    noStorage.insert(1, tv_str(W("x")));
    EXPECT_EQ(noStorage.get_data(), nullptr);
    // Clear keeps the storage.
    ordered = ListOf({W("a"), W("b")});
    stringlistimpl *storage = ordered.get_data();
    ordered.clear();
    EXPECT_EQ(ordered.get_data(), storage);
    EXPECT_EQ(ordered.size(), 0);
    EXPECT_TRUE(ordered.isempty());
    ordered.push_back(tv_str(W("c")));
    EXPECT_EQ(Items(ordered), (Texts{"c"}));
}

TEST(StringListSearch, ContainsIcontainsAndTheJoinedImage)
{
    stringlist list = ListOf({W("System Writer"), W("Caf\u00E9")});
    tv_str upper(W("SYSTEM WRITER"));
    tv_str exact(W("System Writer"));
    EXPECT_FALSE(list.contains(upper));
    EXPECT_TRUE(list.icontains(upper));
    EXPECT_TRUE(list.contains(exact));
    tv_str accented(W("CAF\u00E9"));
    tv_str accentedUpper(W("CAF\u00C9"));
    EXPECT_TRUE(list.icontains(accented));
    EXPECT_FALSE(list.icontains(accentedUpper));  // only ASCII letters fold
    tv_str prefix(W("System"));
    EXPECT_FALSE(list.icontains(prefix));
    tv_str empty;
    EXPECT_FALSE(list.contains(empty));
    list.push_back(tv_str(W("")));
    EXPECT_TRUE(list.contains(empty));
    EXPECT_EQ(Wide(ListOf({W("a"), W(""), W("b")}).image(',')), wstr(W("a,,b")));
    EXPECT_EQ(Wide(ListOf({W("only")}).image(',')), wstr(W("only")));
    EXPECT_EQ(Wide(ListOf({W("caf\u00E9"), W("\u20AC")}).image(';')), wstr(W("caf\u00E9;\u20AC")));
    EXPECT_EQ(Wide(ListOf({W(""), W("")}).image('|')), wstr(W("|")));
    stringlist cleared = ListOf({W("a")});
    cleared.clear();
    EXPECT_TRUE(cleared.image(',').is_empty());
}
