// Path text, wildcard matching, directory creation, the client's directories and the
// environment.
#include <liblocal/local.h>

#include <gtest/gtest.h>

#include "testing.h"
#include <host/lasterror.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

std::string WithSeparator(const char *text, char sep = '\\')
{
    char buffer[64];
    vo_strlcpy(buffer, text, sizeof buffer);
    return adddirsep(buffer, sep);
}

std::string WithoutSeparator(const char *text, char sep = '\\')
{
    char buffer[64];
    vo_strlcpy(buffer, text, sizeof buffer);
    return rmdirsep(buffer, sep);
}

std::string Joined(const char *dir, const char *name)
{
    std::unique_ptr<char, decltype(&std::free)> joined(path_concat(dir, name), &std::free);
    EXPECT_NE(joined, nullptr);
    return joined ? joined.get() : "";
}

TEST(Separators, AddedOnlyWhenMissingOneRemovedAndExactlyOneWhenJoining)
{
    EXPECT_EQ(WithSeparator("C:"), "C:\\");
    EXPECT_EQ(WithSeparator("C:\\"), "C:\\");
    EXPECT_EQ(WithSeparator("C:\\dir/"), "C:\\dir/") << "either Windows separator counts";
    EXPECT_EQ(WithSeparator(""), "");
    EXPECT_EQ(WithSeparator("logs", '/'), "logs/");
    EXPECT_EQ(WithSeparator("a:", ':'), "a:");
    EXPECT_EQ(adddirsep(nullptr, '\\'), nullptr);

    WCHAR wide[16] = {'C', ':', 0};
    EXPECT_EQ(wstr(adddirsepw(wide, '\\')), W("C:\\"));
    EXPECT_EQ(wstr(adddirsepw(wide, '\\')), W("C:\\"));
    EXPECT_EQ(adddirsepw(nullptr, '\\'), nullptr);
    EXPECT_EQ(WithoutSeparator("\\\\?\\Volume{1b2c3d4e-0000-0000-0000-100000000000}\\"),
              "\\\\?\\Volume{1b2c3d4e-0000-0000-0000-100000000000}");
    EXPECT_EQ(WithoutSeparator("C:\\"), "C:");
    EXPECT_EQ(WithoutSeparator("C:\\dir"), "C:\\dir");
    EXPECT_EQ(WithoutSeparator("dir\\\\"), "dir\\");
    EXPECT_EQ(WithoutSeparator("\\"), "\\") << "a lone separator stays";
    EXPECT_EQ(WithoutSeparator("dir/", '/'), "dir");
    EXPECT_EQ(WithoutSeparator(""), "");
    EXPECT_EQ(rmdirsep(nullptr, '\\'), nullptr);
    EXPECT_EQ(Joined("C:\\Program Files\\Tolvane", "bin\\writerlist.txt"),
              "C:\\Program Files\\Tolvane\\bin\\writerlist.txt");
    EXPECT_EQ(Joined("C:\\logs\\", "vsscr.log"), "C:\\logs\\vsscr.log");
    EXPECT_EQ(Joined("C:\\logs", "\\vsscr.log"), "C:\\logs\\vsscr.log");
    EXPECT_EQ(Joined("C:\\logs\\", "\\\\vsscr.log"), "C:\\logs\\vsscr.log");
    EXPECT_EQ(Joined("C:\\", "x"), "C:\\x");
    EXPECT_EQ(Joined("", "name"), "name");
    EXPECT_EQ(Joined(nullptr, "name"), "name");
    EXPECT_EQ(Joined("dir", nullptr), "dir");
    EXPECT_EQ(Joined("dir", ""), "dir");
    EXPECT_EQ(path_concat(nullptr, nullptr), nullptr);
}

TEST(WildcardMatch, StarAndQuestionMarkIgnoringCaseByCharacter)
{
    EXPECT_EQ(fmatch("*.mdf", "master.mdf"), 1);
    EXPECT_EQ(fmatch("*.mdf", "master.mdf.bak"), 0);
    EXPECT_EQ(fmatch("*", ""), 1);
    EXPECT_EQ(fmatch("", ""), 1);
    EXPECT_EQ(fmatch("", "a"), 0);
    EXPECT_EQ(fmatch("?", ""), 0);
    EXPECT_EQ(fmatch("???.log", "abc.log"), 1);
    EXPECT_EQ(fmatch("???.log", "ab.log"), 0);
    EXPECT_EQ(fmatch("a*b*c", "aXbYbZc"), 1);
    EXPECT_EQ(fmatch("a*b*c", "aXbYbZ"), 0);
    EXPECT_EQ(fmatch("*edb*.log", "edb00001.log"), 1);
    EXPECT_EQ(fmatch("**x", "abx"), 1);
    EXPECT_EQ(fmatch("data.mdf", "data.mdf"), 1);
    EXPECT_EQ(fmatch(nullptr, "a"), 0);
    EXPECT_EQ(fmatch("*", nullptr), 0);
    EXPECT_EQ(fmatch("*.MDF", "Master.mdf"), 1);
    EXPECT_EQ(fmatch("\xC3\xA9t\xC3\xA9*", "\xC3\x89T\xC3\x89-2024.txt"), 1);
    EXPECT_EQ(fmatch("?.txt", "\xC3\xA9.txt"), 1) << "one ? for one two-byte character";
    EXPECT_EQ(fmatch("??.txt", "\xC3\xA9.txt"), 0);
    EXPECT_EQ(fmatch("\xD0\xB0\xD1\x80\xD1\x85\xD0\xB8\xD0\xB2*", "\xD0\x90\xD0\xA0\xD0\xA5\xD0\x98\xD0\x92.zip"), 1);
}

TEST(DirectoryCreation, CreatesEveryMissingParentOrFailsWithTheReason)
{
    const std::string base = tvtest::UniqueDirectory("mkdir");
    const std::string deep = base + "\\a\\b\\c";
    ASSERT_FALSE(tvtest::IsDirectory(base));
    EXPECT_EQ(vo_mkdirpath(deep.c_str(), 1023), 1);
    EXPECT_TRUE(tvtest::IsDirectory(base + "\\a"));
    EXPECT_TRUE(tvtest::IsDirectory(deep));
    EXPECT_EQ(vo_mkdirpath(deep.c_str(), 1023), 1) << "an existing directory is success";
    EXPECT_EQ(vo_mkdirpath((base + "/x/y/").c_str(), 1023), 1) << "forward slashes and a trailing separator";
    EXPECT_TRUE(tvtest::IsDirectory(base + "\\x\\y"));
    EXPECT_EQ(vo_mkdirpath((base + "\\d\\\\e").c_str(), 1023), 1);
    EXPECT_TRUE(tvtest::IsDirectory(base + "\\d\\e"));
    EXPECT_EQ(vo_mkdirpath("C:\\", 1023), 1);
    const std::string unicode = base + "\\\xD0\x94\xD0\xB0\xD0\xBD\xD0\xBD\xD1\x8B\xD0\xB5";
    EXPECT_EQ(vo_mkdirpath(unicode.c_str(), 1023), 1);
    EXPECT_TRUE(tvtest::IsDirectory(unicode));
    // A file in the way fails with the reason; so do NULL and empty paths.
    ASSERT_TRUE(tvtest::WriteWholeFile(base + "\\plain", "x"));
    EXPECT_FAILS_WITH(vo_mkdirpath((base + "\\plain\\sub").c_str(), 1023), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(vo_error_get_last(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(vo_error_get_last_kind(), VO_ERR_WIN32);
    EXPECT_EQ(vo_mkdirpath((base + "\\plain").c_str(), 1023), 0);
    EXPECT_FAILS_WITH(vo_mkdirpath(nullptr, 1023), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(vo_mkdirpath("", 1023), 0);
    EXPECT_EQ(vo_error_get_last(), ERROR_INVALID_PARAMETER);
}

TEST(ClientDirectories, EnvironmentOverridesAreCreatedOnFirstUse)
{
    const std::string logs = tvtest::UniqueDirectory("own-logs") + "\\nested";
    const std::string tmp = tvtest::UniqueDirectory("own-tmp");
    tvtest::SetEnvironment("TLV_LOGSDIR", logs.c_str());
    tvtest::SetEnvironment("TLV_TMPDIR", tmp.c_str());
    EXPECT_STREQ(vo_get_logsdir(), logs.c_str());
    EXPECT_STREQ(vo_get_tmpdir(), tmp.c_str());
    EXPECT_TRUE(tvtest::IsDirectory(logs) && tvtest::IsDirectory(tmp));
    const char *first = vo_get_logsdir();
    EXPECT_EQ(vo_get_logsdir(), first) << "the same text while the setting stays";
}

TEST(ClientDirectories, DefaultsAreUnderProgramData)
{
    const std::string programData = tvtest::UniqueDirectory("programdata");
    tvtest::SetEnvironment("TLV_LOGSDIR", nullptr);
    tvtest::SetEnvironment("TLV_TMPDIR", "");
    tvtest::SetEnvironment("ProgramData", programData.c_str());
    EXPECT_EQ(std::string(vo_get_logsdir()), programData + "\\Tolvane\\logs");
    EXPECT_EQ(std::string(vo_get_tmpdir()), programData + "\\Tolvane\\tmp") << "an empty override is no override";
    EXPECT_TRUE(tvtest::IsDirectory(programData + "\\Tolvane\\logs") && tvtest::IsDirectory(programData + "\\Tolvane\\tmp"));
}

TEST(Environment, ValuesAsUtf8OwnedByTheRuntimeAndNullWhenUnset)
{
    tvtest::SetEnvironment("TVTEST_VALUE", "C:\\Donn\xC3\xA9" "es");
    const char *value = vo_getenv("TVTEST_VALUE");
    ASSERT_NE(value, nullptr);
    EXPECT_STREQ(value, "C:\\Donn\xC3\xA9" "es");
    tvtest::SetEnvironment("TVTEST_VALUE", "changed");
    EXPECT_STREQ(value, "C:\\Donn\xC3\xA9" "es") << "an earlier result stays valid";
    EXPECT_STREQ(vo_getenv("TVTEST_VALUE"), "changed");
    const std::string longValue(5000, 'v');
    tvtest::SetEnvironment("TVTEST_VALUE", longValue.c_str());
    EXPECT_EQ(std::string(vo_getenv("TVTEST_VALUE")), longValue);
    tvtest::SetEnvironment("TVTEST_UNSET", nullptr);
    SetLastError(ERROR_SHARING_VIOLATION);
    const char *unset = vo_getenv("TVTEST_UNSET");
    const DWORD error = GetLastError();
    EXPECT_EQ(unset, nullptr);
    EXPECT_EQ(error, DWORD(ERROR_SHARING_VIOLATION)) << "the caller's error stays";
    EXPECT_EQ(vo_getenv(nullptr), nullptr);
}

} // namespace
