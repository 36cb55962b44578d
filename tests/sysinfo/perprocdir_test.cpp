// The per-process scratch directory.
#include <libwinclass/hostinfo.h>

#include <liblocal/local.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// The text form of UuidToStringW: 8-4-4-4-12 lower-case hexadecimal digits, no braces.
bool IsUuidText(const std::string &text)
{
    const std::string shape = "........-....-....-....-............";
    if (text.size() != shape.size())
        return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (shape[i] == '-' ? text[i] != '-' : std::strchr("0123456789abcdef", text[i]) == nullptr || text[i] == 0)
            return false;
    return true;
}

TEST(PerProcessDir, NullBaseIsTheTemporaryDirectoryAndTheAnswerNeverChanges)
{
    const char *first = get_unique_per_process_dir_path(nullptr);
    ASSERT_NE(first, nullptr);
    const std::string path = first;
    std::string base = vo_get_tmpdir();
    if (base.back() != '\\')
        base += '\\';
    ASSERT_EQ(path.compare(0, base.size(), base), 0) << path;
    EXPECT_TRUE(IsUuidText(path.substr(base.size()))) << path;

    EXPECT_EQ(get_unique_per_process_dir_path(nullptr), first) << "the same buffer";
    EXPECT_EQ(get_unique_per_process_dir_path("D:\\elsewhere"), first);
    EXPECT_EQ(std::string(first), path) << "a later base changes nothing";
}

// With or without its separator, the base gets exactly one backslash before the UUID.
class PerProcessDirBase : public testing::TestWithParam<const char *> {};

TEST_P(PerProcessDirBase, GetsOneBackslash)
{
    const char *first = get_unique_per_process_dir_path(GetParam());
    ASSERT_NE(first, nullptr);
    const std::string path = first;
    ASSERT_EQ(path.compare(0, 11, "C:\\scratch\\"), 0) << path;
    EXPECT_TRUE(IsUuidText(path.substr(11))) << "not doubled: " << path;
    EXPECT_STREQ(get_unique_per_process_dir_path("C:\\other"), first);
}

INSTANTIATE_TEST_SUITE_P(Bases, PerProcessDirBase, testing::Values("C:\\scratch\\", "C:\\scratch"),
                         [](const testing::TestParamInfo<const char *> &info) {
                             return std::string(info.index == 0 ? "WithSeparator" : "WithoutSeparator");
                         });

TEST(PerProcessDir, ABaseWithoutRoomForTheWholeUuidGivesNoPathAndKeepsNothing)
{
    // 260 bytes hold a 222-byte base, its separator, the 36-byte UUID and the terminator.
    const std::string base222 = "C:\\" + std::string(219, 'b');
    const std::string tooLong[] = {base222 + "b", base222 + "b\\", "C:\\" + std::string(256, 'b'),
                                   "C:\\" + std::string(257, 'b'), "C:\\" + std::string(400, 'b')};
    for (const std::string &base : tooLong)
        EXPECT_EQ(get_unique_per_process_dir_path(base.c_str()), nullptr) << base.size() << " bytes";

    // Nothing was kept: the next call makes the path, here from a base that fits exactly.
    const std::string fits = base222 + "\\";
    const char *path = get_unique_per_process_dir_path(fits.c_str());
    ASSERT_NE(path, nullptr);
    const std::string text = path;
    EXPECT_EQ(text.size(), 259u) << "260 bytes with the terminator";
    EXPECT_EQ(text.compare(0, fits.size(), fits), 0) << text;
    EXPECT_TRUE(IsUuidText(text.substr(fits.size()))) << text;
}

} // namespace
