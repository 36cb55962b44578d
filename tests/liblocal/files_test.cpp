// File access by UTF-8 path.
#include <liblocal/local.h>

#include <gtest/gtest.h>

#include "testing.h"

#include <cerrno>
#include <string>

namespace {

class FileAccess : public ::testing::Test {
protected:
    void SetUp() override { directory_ = tvtest::UniqueDirectory("files"); }
    std::string Path(const std::string &name) const { return directory_ + "\\" + name; }
    std::string directory_;
};

TEST_F(FileAccess, WriteThenReadTheFirstLineAndSizeAndRefuseBadSeeks)
{
    const std::string path = Path("bin\\writerlist.txt");
    FILE *out = vo_fopen(path.c_str(), "wb", VO_FOPEN_MKDIRS);
    ASSERT_NE(out, nullptr) << "the missing directories are made first";
    EXPECT_EQ(vo_fprintf(out, "%s,%s\n%s\n", "System Writer", "Registry Writer", "second line"), 42);
    EXPECT_EQ(vo_fclose(out), 0);

    FILE *in = vo_fopen(path.c_str(), "rb", 0);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(vo_lseek(in, 0, 2), 42);
    EXPECT_EQ(vo_lseek(in, 0, 0), 0);
    char line[100];
    ASSERT_EQ(vo_fgets(line, sizeof line, in), line);
    EXPECT_STREQ(line, "System Writer,Registry Writer\n") << "the newline stays, as with fgets";
    EXPECT_EQ(vo_lseek(in, -3, 1), 27);
    char small[3];
    ASSERT_EQ(vo_fgets(small, sizeof small, in), small);
    EXPECT_STREQ(small, "er");
    EXPECT_EQ(vo_fclose(in), 0);
    FILE *file = vo_fopen(Path("seek.txt").c_str(), "w+", VO_FOPEN_MKDIRS);
    ASSERT_NE(file, nullptr);
    vo_fprintf(file, "0123456789");
    errno = 0;
    EXPECT_EQ(vo_lseek(file, 0, 7), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(vo_lseek(file, -20, 0), -1);
    EXPECT_EQ(vo_lseek(file, 4, 0), 4) << "the file is still usable";
    vo_fclose(file);
}

TEST_F(FileAccess, StatReportsSizeAndTypeOfAnyPathAndMissingFilesFail)
{
    ASSERT_EQ(vo_mkdirpath(directory_.c_str(), 1023), 1);
    ASSERT_TRUE(tvtest::WriteWholeFile(Path("data.bin"), std::string(1234, 'd')));
    vo_statbuf info{};
    ASSERT_EQ(vo_stat(Path("data.bin").c_str(), &info), 0);
    EXPECT_EQ(info.size, 1234u);
    EXPECT_EQ(info.type, unsigned(VO_STAT_REGULAR));
    EXPECT_GT(info.modified, 1500000000) << "a time after 2017";
    ASSERT_EQ(vo_stat(directory_.c_str(), &info), 0);
    EXPECT_EQ(info.type, unsigned(VO_STAT_DIRECTORY));
    EXPECT_EQ(vo_stat(Path("data.bin").c_str(), nullptr), 0) << "a test of existence only";
    {
        const std::string path = Path("na\xC3\xAFve-\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB-\xE2\x82\xAC.txt");
        FILE *out = vo_fopen(path.c_str(), "w", VO_FOPEN_MKDIRS);
        ASSERT_NE(out, nullptr);
        vo_fprintf(out, "content");
        vo_fclose(out);
        EXPECT_EQ(tvtest::ReadWholeFile(path), "content") << "the same file through the wide Windows calls";
        vo_statbuf info{};
        EXPECT_EQ(vo_stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.size, 7u);
    }
    errno = 0;
    EXPECT_EQ(vo_stat(Path("missing.txt").c_str(), nullptr), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(vo_error_get_last(), ENOENT);
    EXPECT_EQ(vo_error_get_last_kind(), VO_ERR_ERRNO);
    errno = 0;
    EXPECT_EQ(vo_fopen(Path("missing.txt").c_str(), "r", 0), nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(vo_fopen(Path("no\\such\\dir\\file.txt").c_str(), "w", 0), nullptr)
        << "without VO_FOPEN_MKDIRS the directories are not made";
}

TEST(FileArguments, BadArgumentsGiveEinvalNotACrash)
{
    errno = 0;
    EXPECT_EQ(vo_fopen(nullptr, "r", 0), nullptr);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(vo_fopen("C:\\x.txt", nullptr, 0), nullptr);
    errno = 0;
    EXPECT_EQ(vo_fopen("C:\\x.txt", "q", 0), nullptr);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(vo_fopen("C:\\x.txt", "rz", 0), nullptr);
    EXPECT_EQ(vo_fopen("C:\\x.txt", "r", 0x80), nullptr) << "an unknown flag";
    EXPECT_EQ(vo_error_get_last(), EINVAL);
    EXPECT_EQ(vo_stat(nullptr, nullptr), -1);

    char line[4];
    EXPECT_EQ(vo_fgets(line, sizeof line, nullptr), nullptr);
    EXPECT_EQ(vo_fgets(nullptr, 4, stdin), nullptr);
    EXPECT_EQ(vo_fgets(line, 0, stdin), nullptr);
    EXPECT_EQ(vo_fclose(nullptr), EOF);
    EXPECT_EQ(vo_lseek(nullptr, 0, 0), -1);
    EXPECT_EQ(vo_fprintf(nullptr, "x"), -1);
    const char *noFormat = nullptr;
    EXPECT_EQ(vo_fprintf(stderr, noFormat), -1);
}

} // namespace
