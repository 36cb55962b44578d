// The supported writer list: the user's bin\writerlist.txt or the built-in table, and the
// lookups that decide whether a writer may take part.
#include <libwinclass/writers/supported.h>

#include <liblocal/local.h>
#include <backup/messagecheck.h>
#include <support/capture.h>
#include <support/wine.h>
#include <writers/installdir.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using namespace winclass;

const char kRow1[] = "{dd846aaa-a1b6-42a8-aaf8-03dcb6114bfd}";
const char kRow12[] = "{afbab4a2-367d-4d15-a586-71dbb18f8485}";
const char kRow15[] = "{e8132975-6f93-4464-a53e-1050253ae220}";
const char kRow15Upper[] = "{E8132975-6F93-4464-A53E-1050253AE220}";
const char kRow29Lower[] = "{75dfb225-e2e4-4d39-9ac9-ffaff65ddf06}";
const char kRow37[] = "{886c43b1-d455-4428-a37f-4d6b9e43f50f}";

bool Holds(const vo_list *list, const std::string &entry)
{
    return vo_list_find(list, entry.c_str(), nullptr) == 0;
}

using tvtest::Logged;

// A list made the way the requester makes it, released at the end of the test.
class WriterList : public tvtest::InstallDirFixture {
protected:
    void SetUp() override
    {
        InstallDirFixture::SetUp();
        Debug = 9;
    }
    void TearDown() override
    {
        vo_list_destroy(list_);
        Debug = 0;
        InstallDirFixture::TearDown();
    }
    // Fills from the user file written with these bytes.
    bool FillFromFile(const std::string &bytes)
    {
        WriteUserList(bytes);
        UseInstallDir();
        return PopulateSupportedWriters(&list_);
    }

    vo_list *list_ = nullptr;
    tvtest::OutputCapture capture_;
};

TEST_F(WriterList, BuiltInTableWithoutUserFile)
{
    UseInstallDir();
    ASSERT_TRUE(PopulateSupportedWriters(&list_));
    ASSERT_NE(list_, nullptr);
    EXPECT_EQ(vo_list_size(list_), 37u);
    for (const char *writerId : kBuiltInSupportedWriters)
        EXPECT_TRUE(Holds(list_, writerId)) << writerId;
    EXPECT_TRUE(Holds(list_, kRow1));
    EXPECT_TRUE(Holds(list_, kRow37));
    EXPECT_TRUE(Holds(list_, kRow29Lower)) << "the mixed-case row matches without regard to case";
    EXPECT_FALSE(Holds(list_, "ASR Writer"));

    const std::vector<std::string> lines = capture_.debugLines();
    const std::vector<std::string> expected = {
        "PopulateSupportedWriterList() Enter.", "PopulateDefaultSupportedWriterList() Enter.",
        "PopulateDefaultSupportedWriterList() Exit.", "PopulateSupportedWriterList() Exit."};
    ASSERT_EQ(lines.size(), expected.size());
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_NE(lines[i].find(expected[i]), std::string::npos) << lines[i];
}

TEST_F(WriterList, UserFileReplacesTheTable)
{
    ASSERT_TRUE(FillFromFile(std::string(kRow15) + "," + kRow12));
    EXPECT_EQ(vo_list_size(list_), 2u);
    EXPECT_TRUE(IsWriterInSupportedList(list_, kRow15));
    EXPECT_TRUE(IsWriterInSupportedList(list_, kRow12));
    EXPECT_FALSE(IsWriterInSupportedList(list_, kRow1)) << "the table is not merged in";
    EXPECT_TRUE(Logged(capture_, "PopulateUserSupportedWriterList() Enter."));
    EXPECT_FALSE(Logged(capture_, "PopulateDefaultSupportedWriterList() Enter."));
}

// The user file as read: one line, split at commas, each piece an entry as it stands (cut
// to fifty bytes), the text ending at a NUL.
TEST_F(WriterList, UserFileEntriesAreThePiecesOfItsFirstLine)
{
    const std::string sixty(60, 'a'), tenThousand = std::string(kRow15) + std::string(9962, 'x');
    std::string binary = std::string(kRow15) + ",\xff\xfe\x01";
    binary += '\0';
    binary += std::string(",") + kRow12 + "\x80\x81";
    const struct {
        const char *what;
        std::string bytes;
        size_t size;
        std::vector<std::string> held, supported, unsupported;
    } kFiles[] = {
        {"a newline stays on the last entry; the second line is not read",
         std::string(kRow15) + "," + kRow12 + "\n" + kRow1 + "\n", 2, {std::string(kRow12) + "\n"}, {kRow15},
         {kRow12, kRow1}},
        {"text mode turns CR LF into the newline", std::string(kRow15) + "\r\n", 1, {std::string(kRow15) + "\n"}, {}, {}},
        {"empty pieces are entries and nothing is trimmed", std::string(kRow15) + ",," + kRow12 + ", " + kRow1 + ",", 5,
         {"", std::string(" ") + kRow1}, {kRow12}, {kRow1}},
        {"long entries keep their first fifty bytes, and a cut entry is not its prefix",
         sixty + "," + tenThousand + "," + kRow12, 3, {sixty.substr(0, 50), tenThousand.substr(0, 50)}, {kRow12},
         {kRow15, sixty}},
        {"binary bytes end the text at their first NUL", binary, 2, {"\xff\xfe\x01"}, {kRow15}, {kRow12}},
    };
    for (const auto &f : kFiles) {
        SCOPED_TRACE(f.what);
        vo_list_destroy(list_);
        list_ = nullptr;
        ASSERT_TRUE(FillFromFile(f.bytes));
        EXPECT_EQ(vo_list_size(list_), f.size);
        for (const std::string &entry : f.held)
            EXPECT_TRUE(Holds(list_, entry)) << entry;
        for (const std::string &id : f.supported)
            EXPECT_TRUE(IsWriterInSupportedList(list_, id.c_str())) << id;
        for (const std::string &id : f.unsupported)
            EXPECT_FALSE(IsWriterInSupportedList(list_, id.c_str()) || Holds(list_, id)) << id;
    }
}

TEST_F(WriterList, EmptyUserFileGivesOneEmptyEntry)
{
    // The file's size plus one is a one-byte buffer: fgets stores the terminator and
    // reads nothing.
    TV_SKIP_UNDER_WINE("fgets with a one-byte buffer at end of file answers NULL");
    ASSERT_TRUE(FillFromFile(""));
    EXPECT_EQ(vo_list_size(list_), 1u);
    EXPECT_TRUE(Holds(list_, ""));
    EXPECT_FALSE(IsWriterInSupportedList(list_, kRow1));
}

TEST_F(WriterList, MissingInstallDirFailsOnceThenTheEmptyListStands)
{
    ASSERT_FALSE(PopulateSupportedWriters(&list_));
    ASSERT_NE(list_, nullptr) << "the list made before the failure stays";
    EXPECT_EQ(vo_list_size(list_), 0u);
    EXPECT_TRUE(Logged(capture_, "Unable to find Tolvane install directory."));

    // A later attempt answers from what is there, even with the directory now known.
    UseInstallDir();
    capture_.clear();
    EXPECT_TRUE(PopulateSupportedWriters(&list_));
    EXPECT_TRUE(Logged(capture_, "Supported writer list is already populated."));
    EXPECT_EQ(vo_list_size(list_), 0u);
    EXPECT_FALSE(IsWriterInSupportedList(list_, kRow15));
}

TEST_F(WriterList, FilledOnceWhateverTheFileBecomes)
{
    ASSERT_TRUE(FillFromFile(kRow12));
    WriteUserList(kRow15);
    EXPECT_TRUE(PopulateSupportedWriters(&list_));
    EXPECT_EQ(vo_list_size(list_), 1u);
    EXPECT_TRUE(IsWriterInSupportedList(list_, kRow12));
    EXPECT_FALSE(IsWriterInSupportedList(list_, kRow15));
}

TEST_F(WriterList, UnopenableUserFileFails)
{
    // The name exists (so it is not the table's turn) but is a folder.
    ASSERT_TRUE(CreateDirectoryW(UserListPath().c_str(), nullptr));
    UseInstallDir();
    EXPECT_FALSE(PopulateSupportedWriters(&list_));
    RemoveDirectoryW(UserListPath().c_str());
    EXPECT_EQ(vo_list_size(list_), 0u);
    EXPECT_TRUE(Logged(capture_, "Unable to get open file " + UserListPathUtf8()));
}

TEST_F(WriterList, UserFileWithoutAPath)
{
    list_ = vo_list_new(free, nullptr, _stricmp, nullptr, 0);
    EXPECT_FALSE(PopulateUserSupportedWriters(list_, nullptr));
    EXPECT_TRUE(Logged(capture_, "Writer list filename is empty."));
    EXPECT_FALSE(PopulateUserSupportedWriters(list_, "C:\\tvtest\\no such folder\\writerlist.txt"));
    EXPECT_TRUE(Logged(capture_, "Unable to get open file C:\\tvtest\\no such folder\\writerlist.txt"));
}

TEST_F(WriterList, LookupsIgnoreCaseAndSayWhatTheyFound)
{
    UseInstallDir();
    ASSERT_TRUE(PopulateSupportedWriters(&list_));
    capture_.clear();
    EXPECT_TRUE(IsWriterInSupportedList(list_, kRow15Upper));
    EXPECT_TRUE(Logged(capture_, std::string("VSS Writer ") + kRow15Upper + " is supported"));
    EXPECT_FALSE(IsWriterInSupportedList(list_, "{00000000-0000-0000-0000-000000000000}"));
    EXPECT_TRUE(Logged(capture_, "VSS Writer {00000000-0000-0000-0000-000000000000} is not supported"));
    EXPECT_FALSE(IsWriterInSupportedList(list_, (kRow15 + std::string(" ")).c_str())) << "whole entries only";
    EXPECT_FALSE(IsWriterInSupportedList(list_, nullptr));
}

TEST_F(WriterList, LookupBeforeAnyListSaysNothingOfTheWriter)
{
    Debug = 5;
    EXPECT_FALSE(IsWriterInSupportedList(nullptr, kRow15));
    vo_list *empty = vo_list_new(free, nullptr, _stricmp, nullptr, 0);
    EXPECT_FALSE(IsWriterInSupportedList(empty, kRow15));
    vo_list_destroy(empty);
    EXPECT_TRUE(capture_.debugLines().empty());
}

} // namespace
