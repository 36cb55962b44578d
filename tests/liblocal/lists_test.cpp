// Sorted cell lists, value lists and keyed lists.
#include <liblocal/local.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Disk {
    unsigned number;
    const char *name;
};

int CompareDiskNumbers(const void *a, const void *b)
{
    const unsigned first = static_cast<const Disk *>(a)->number;
    const unsigned second = static_cast<const Disk *>(b)->number;
    return first < second ? -1 : first > second ? 1 : 0;
}

vo_cell *NewCell(Disk *disk)
{
    vo_cell *cell = static_cast<vo_cell *>(xcalloc(1, sizeof(vo_cell)));
    cell->data = disk;
    return cell;
}

std::vector<unsigned> Numbers(const vo_cell *list)
{
    std::vector<unsigned> numbers;
    for (; list != nullptr; list = list->next)
        numbers.push_back(static_cast<const Disk *>(list->data)->number);
    return numbers;
}

TEST(SortedList, KeepsAscendingOrderHandsBackDuplicatesAndIgnoresBadArguments)
{
    Disk disks[] = {{3, "c"}, {1, "a"}, {2, "b"}, {5, "e"}, {2, "b again"}};
    vo_cell *head = nullptr;
    vo_cell *marker = reinterpret_cast<vo_cell *>(&disks[0]);
    for (int i = 0; i < 4; ++i) {
        vo_cell *rejected = marker;
        EXPECT_EQ(list_addelem(NewCell(&disks[i]), &head, &rejected, CompareDiskNumbers), 1);
        EXPECT_EQ(rejected, nullptr) << "cleared when the cell is linked";
    }
    EXPECT_EQ(Numbers(head), (std::vector<unsigned>{1, 2, 3, 5}));

    vo_cell *duplicate = NewCell(&disks[4]);
    vo_cell *rejected = nullptr;
    EXPECT_EQ(list_addelem(duplicate, &head, &rejected, CompareDiskNumbers), 0);
    EXPECT_EQ(rejected, duplicate) << "the new cell comes back; the one in the list stays";
    EXPECT_EQ(Numbers(head), (std::vector<unsigned>{1, 2, 3, 5}));
    EXPECT_STREQ(static_cast<Disk *>(head->next->data)->name, "b");
    std::free(rejected);

    list_free_1(head, nullptr);
    {
        Disk disk{1, "a"};
        vo_cell *cell = NewCell(&disk);
        vo_cell *head = nullptr;
        vo_cell *rejected = nullptr;
        EXPECT_EQ(list_addelem(nullptr, &head, &rejected, CompareDiskNumbers), -1);
        EXPECT_EQ(list_addelem(cell, nullptr, &rejected, CompareDiskNumbers), -1);
        EXPECT_EQ(list_addelem(cell, &head, &rejected, nullptr), -1);
        EXPECT_EQ(head, nullptr);
        EXPECT_EQ(list_addelem(cell, &head, nullptr, CompareDiskNumbers), 1) << "no rejected slot is allowed";
        list_free_1(head, nullptr);
        list_free_1(nullptr, std::free);
    }
}

int g_freedRecords = 0;
void FreeRecord(void *record)
{
    ++g_freedRecords;
    std::free(record);
}

TEST(SortedList, FreeingReleasesEveryRecord)
{
    vo_cell *head = nullptr;
    for (unsigned number : {4u, 8u, 6u}) {
        Disk *disk = static_cast<Disk *>(xcalloc(1, sizeof(Disk)));
        disk->number = number;
        list_addelem(NewCell(disk), &head, nullptr, CompareDiskNumbers);
    }
    g_freedRecords = 0;
    list_free_1(head, FreeRecord);
    EXPECT_EQ(g_freedRecords, 3);
}

TEST(ValueList, AppendsCopiesInOrder)
{
    vo_vallist *list = nullptr;
    char text[16] = "C:\\";
    vo_vallist *first = vallist_add(&list, text);
    ASSERT_NE(first, nullptr);
    std::strcpy(text, "changed");
    vallist_add(&list, "D:\\Mount\\Archive");
    vallist_add(&list, "");
    EXPECT_EQ(vallist_add(&list, nullptr), nullptr);
    EXPECT_EQ(vallist_add(nullptr, "x"), nullptr);
    std::vector<std::string> values;
    for (const vo_vallist *element = list; element != nullptr; element = element->next)
        values.push_back(element->value);
    EXPECT_EQ(values, (std::vector<std::string>{"C:\\", "D:\\Mount\\Archive", ""}));
    EXPECT_EQ(list, first);
    vallist_free(list);
    vallist_free(nullptr);
}

TEST(KeyedList, FindsKeysWithTheGivenOrExactComparison)
{
    vo_list *list = vo_list_new(std::free, nullptr, _stricmp, nullptr, 0);
    ASSERT_NE(list, nullptr);
    for (const char *id : {"{e8132975-6f93-4464-a53e-1050253ae220}", "{AFBAB4A2-367D-4D15-A586-71DBB18F8485}"}) {
        char *entry = static_cast<char *>(xcalloc(51, 1));
        vo_strlcpy(entry, id, 51);
        EXPECT_EQ(vo_list_append(list, entry, entry), 0);
    }
    EXPECT_EQ(vo_list_size(list), 2u);
    void *found = nullptr;
    EXPECT_EQ(vo_list_find(list, "{afbab4a2-367d-4d15-a586-71dbb18f8485}", &found), 0);
    ASSERT_NE(found, nullptr);
    EXPECT_STREQ(static_cast<char *>(found), "{AFBAB4A2-367D-4D15-A586-71DBB18F8485}");
    void *untouched = &found;
    EXPECT_EQ(vo_list_find(list, "{00000000-0000-0000-0000-000000000000}", &untouched), 1);
    EXPECT_EQ(untouched, &found);
    EXPECT_EQ(vo_list_find(list, "{E8132975-6F93-4464-A53E-1050253AE220}", nullptr), 0);
    // Key and value are one allocation: destroying frees it once (a sanitizer build
    // would see a second free).
    vo_list_destroy(list);
    {
        vo_list *list = vo_list_new(std::free, std::free, nullptr, nullptr, 0);
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(vo_list_append(list, xstrdup("Key"), xstrdup("first")), 0);
        EXPECT_EQ(vo_list_append(list, xstrdup("Key"), xstrdup("second")), 0) << "duplicates allowed by default";
        void *value = nullptr;
        EXPECT_EQ(vo_list_find(list, "key", &value), 1);
        EXPECT_EQ(vo_list_find(list, "Key", &value), 0);
        EXPECT_STREQ(static_cast<char *>(value), "first");
        EXPECT_EQ(vo_list_size(list), 2u);
        vo_list_destroy(list);
    }
    {
        EXPECT_EQ(vo_list_new(std::free, nullptr, _stricmp, reinterpret_cast<void *>(1), 0), nullptr);
        EXPECT_EQ(vo_list_new(std::free, nullptr, _stricmp, nullptr, 0x10), nullptr);
        vo_list *list = vo_list_new(nullptr, nullptr, _stricmp, nullptr, VO_LIST_UNIQUE_KEYS);
        ASSERT_NE(list, nullptr);
        static char value[] = "v";
        EXPECT_EQ(vo_list_append(list, "A", value), 0);
        EXPECT_EQ(vo_list_append(list, "a", value), 1);
        EXPECT_EQ(vo_list_append(list, nullptr, value), -1);
        EXPECT_EQ(vo_list_append(nullptr, "b", value), -1);
        EXPECT_EQ(vo_list_find(list, nullptr, nullptr), -1);
        EXPECT_EQ(vo_list_find(nullptr, "A", nullptr), -1);
        EXPECT_EQ(vo_list_size(list), 1u);
        EXPECT_EQ(vo_list_size(nullptr), 0u);
        vo_list_destroy(list);
        vo_list_destroy(nullptr);
    }
}

} // namespace
