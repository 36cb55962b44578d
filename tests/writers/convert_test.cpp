// The restore side of the writer file lists: every path rule of the conversion, the chain
// it hands out and its release, the exclude-file messages and the component record. Paths
// are built from the volumes of a small described host.
#include <libwinclass/writers/filedesc.h>
#include <libwinclass/conversions.h>

#include <liblocal/local.h>
#include <backup/messagecheck.h>
#include <support/capture.h>

#include <winsim/host.h>
#include <winsim/hostmodel.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Volume 1 has no drive letter (it holds the boot store), 2 is C:, 3 is D:, 4 is mounted
// at C:\Mnt\Logs\, 5 is the ReFS drive R:. C: and D: are the only local NTFS/FAT32 drives.
const char kHost[] = R"({
 "disks": [{"number": 0, "size": 8589934592, "style": "gpt", "partitions": [
   {"number": 1, "offset": 1048576, "size": 1073741824, "type": "basic"},
   {"number": 2, "offset": 1074790400, "size": 1073741824, "type": "basic"},
   {"number": 3, "offset": 2148532224, "size": 1073741824, "type": "basic"},
   {"number": 4, "offset": 3222274048, "size": 1073741824, "type": "basic"},
   {"number": 5, "offset": 4296015872, "size": 1073741824, "type": "basic"}]}],
 "volumes": [
  {"guid": "a0000000-0000-4000-8000-000000000001", "fileSystem": "FAT32", "extents": [{"disk": 0, "offset": 1048576, "length": 1073741824}]},
  {"guid": "a0000000-0000-4000-8000-000000000002", "driveLetter": "C", "fileSystem": "NTFS", "extents": [{"disk": 0, "offset": 1074790400, "length": 1073741824}]},
  {"guid": "a0000000-0000-4000-8000-000000000003", "driveLetter": "D", "fileSystem": "NTFS", "extents": [{"disk": 0, "offset": 2148532224, "length": 1073741824}]},
  {"guid": "a0000000-0000-4000-8000-000000000004", "mountFolders": ["C:\\Mnt\\Logs\\"], "fileSystem": "NTFS", "extents": [{"disk": 0, "offset": 3222274048, "length": 1073741824}]},
  {"guid": "a0000000-0000-4000-8000-000000000005", "driveLetter": "R", "fileSystem": "ReFS", "extents": [{"disk": 0, "offset": 4296015872, "length": 1073741824}]}]
})";

std::string Vol(int n) { return "\\\\?\\Volume{a0000000-0000-4000-8000-00000000000" + std::to_string(n) + "}\\"; }

std::string Utf8(const WCHAR *text) { return text == nullptr ? "(null)" : to_utf8(text); }

struct Chain {
    vsscr_filedesc *first = nullptr;
    ~Chain() { vsscr_free_filedesc_struct(0, first); }
};

CVssWriterFileList Files(const std::vector<std::string> &paths, bool recursive, const std::string &alternate)
{
    CVssWriterFileList files;
    for (const std::string &path : paths) {
        auto file = std::make_shared<CVssWriterFile>();
        file->path = from_utf8(path);
        file->fileSpec = W("*.log");
        file->recursive = recursive;
        file->alternateLocation = from_utf8(alternate);
        files.push_back(file);
    }
    return files;
}

// "path path_length" of each descriptor.
std::vector<std::string> Described(const vsscr_filedesc *d)
{
    std::vector<std::string> described;
    for (; d != nullptr; d = d->next)
        described.push_back(Utf8(d->path) + " " + std::to_string(d->path_length));
    return described;
}

class Conversion : public ::testing::Test {
protected:
    void SetUp() override
    {
        winsim::ReplaceHost(winsim::ParseHost(kHost));
        Debug = 3;
    }
    void TearDown() override
    {
        Debug = 0;
        winsim::ClearFaults();
    }
};

struct RuleCase {
    const char *name;
    const char *writer;
    std::vector<std::string> paths;
    bool recursive;
    std::string alternate;
    std::vector<std::string> described;
    std::string logged;  // a debug line that must be written, when not empty
};

class Rules : public Conversion, public ::testing::WithParamInterface<RuleCase> {};

TEST_P(Rules, RewritesEachPathAndStopsWhereNoPathIsFound)
{
    const RuleCase &c = GetParam();
    tvtest::OutputCapture capture;
    Chain chain;
    ASSERT_EQ(S_OK, ConvertWriterFiles(tv_str(c.writer), Files(c.paths, c.recursive, c.alternate), &chain.first));
    EXPECT_EQ(c.described, Described(chain.first));
    for (const vsscr_filedesc *d = chain.first; d != nullptr; d = d->next) {
        EXPECT_EQ("*.log", Utf8(d->filespec));
        EXPECT_EQ(6u, d->filespec_length);
        EXPECT_EQ(c.recursive ? 1u : 0u, d->recursive);
        EXPECT_EQ(c.alternate.empty() ? 0u : 1u, d->has_alternate);
        EXPECT_EQ(c.alternate.empty() ? "(null)" : c.alternate, Utf8(d->alternate_path));
        EXPECT_EQ(c.alternate.empty() ? 0 : c.alternate.size() + 1, d->alternate_length);
    }
    if (!c.logged.empty()) {
        EXPECT_TRUE(tvtest::Logged(capture, c.logged)) << c.logged;
    }
}

const char kNoLetter[] = "No drive letter found corresponding to ";
const char kTaskWriter[] = "Task Scheduler Writer";

INSTANTIATE_TEST_SUITE_P(
    Paths, Rules,
    ::testing::Values(
        RuleCase{"DrivePath", kTaskWriter, {"C:\\data"}, false, "", {"C:\\data 8"}, ""},
        RuleCase{"RelativePath", kTaskWriter, {"Windows\\Tasks"}, true, "", {"Windows\\Tasks 14"}, ""},
        RuleCase{"ReplicationForm", "FRS Writer", {"\\\\?\\D\\\\SYSVOL"}, false, "", {"D\\\\SYSVOL 10"}, ""},
        // The same form from another writer (the name is compared exactly) is no volume path.
        RuleCase{"ReplicationFormOfAnotherWriter", "frs writer", {"\\\\?\\D\\\\SYSVOL", "C:\\data"}, false, "", {},
                 "\\\\?\\D\\\\SYSVOL file which is under frs writer will not be added to directives"},
        RuleCase{"GlobalRootDevice", kTaskWriter, {"\\\\\\\\GLOBALROOT\\Device\\HarddiskVolume3\\Tasks"}, false, "",
                 {"\\\\\\\\GLOBALROOT\\Device\\HarddiskVolume3\\Tasks 44"}, ""},
        RuleCase{"BootOnVolumeWithoutLetter", "ASR Writer", {Vol(1) + "Boot"}, false, "", {Vol(1) + "Boot 54"}, ""},
        RuleCase{"BootOnDriveVolume", "ASR Writer", {Vol(3) + "Boot"}, true, "C:\\Restore", {"D:\\Boot 8"}, ""},
        // Only "\Boot" at the very end, in that case, makes a boot directory.
        RuleCase{"BootFolderWithSeparator", "ASR Writer", {Vol(2) + "EFI\\Boot\\"}, false, "", {"C:\\EFI\\Boot\\ 13"},
                 ""},
        RuleCase{"LowerCaseBootWithoutLetter", "ASR Writer", {Vol(1) + "boot"}, false, "", {},
                 kNoLetter + Vol(1) + "boot found in vol table"},
        RuleCase{"VolumeGuidPath", kTaskWriter, {Vol(3) + "Data\\Sql"}, false, "", {"D:\\Data\\Sql 12"}, ""},
        RuleCase{"VolumeGuidRoot", kTaskWriter, {Vol(3)}, false, "", {"D: 3"}, ""},
        RuleCase{"VolumeInMountFolder", kTaskWriter, {Vol(4) + "App"}, false, "", {"C:\\Mnt\\Logs\\App 16"}, ""},
        RuleCase{"UnknownVolume", kTaskWriter, {"C:\\a", "\\\\?\\Volume{b0000000-0000-4000-8000-000000000009}\\x"},
                 false, "", {"C:\\a 5"}, kNoLetter},
        RuleCase{"RawDeviceEndsTheChain", kTaskWriter, {"C:\\a", "\\\\.\\PhysicalDrive0", "C:\\b"}, false, "",
                 {"C:\\a 5"}, "Info: found raw device [\\\\.\\PhysicalDrive0] as file path"},
        RuleCase{"RootedPathOnEveryLocalDrive", kTaskWriter, {"\\Windows"}, true, "E:\\Alt",
                 {"C:\\Windows 12", "D:\\Windows 12"}, ""},
        RuleCase{"RootedPathThenDrivePath", kTaskWriter, {"\\Windows", "C:\\data"}, false, "",
                 {"C:\\Windows 12", "D:\\Windows 12", "C:\\data 8"}, ""}),
    [](const ::testing::TestParamInfo<RuleCase> &info) { return std::string(info.param.name); });

TEST_F(Conversion, NoListNoChainAndNoOutNoCall)
{
    vsscr_filedesc marker = {};
    vsscr_filedesc *out = &marker;
    EXPECT_EQ(S_OK, ConvertWriterFiles(tv_str("W"), CVssWriterFileList(), &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(E_INVALIDARG, ConvertWriterFiles(tv_str("W"), Files({"C:\\data"}, false, ""), nullptr));
}

// The mount table is read only for a path that needs it; its failure is the result, and
// what was converted before is released rather than handed out.
TEST_F(Conversion, MountTableFailureIsTheResult)
{
    const struct {
        std::string path;
        DWORD error;
        HRESULT expected;
    } cases[] = {{Vol(3) + "x", ERROR_ACCESS_DENIED, HRESULT(0x80070005)},
                 {"\\Windows", ERROR_NOT_READY, HRESULT(0x80070015)},
                 {"\\Windows", 0x8007001F, HRESULT(0x8007001F)},
                 {"C:\\data", ERROR_ACCESS_DENIED, S_OK}};
    for (const auto &c : cases) {
        winsim::InjectError("FindFirstVolumeW", u"", c.error, false);
        vsscr_filedesc *out = nullptr;
        EXPECT_EQ(c.expected, ConvertWriterFiles(tv_str("W"), Files({"C:\\first", c.path}, false, ""), &out)) << c.path;
        EXPECT_EQ(c.expected == S_OK, out != nullptr) << c.path;
        vsscr_free_filedesc_struct(0, out);
        winsim::ClearFaults();
    }
}

// Kind 1 must leave the chain alone (AddressSanitizer reports a later use otherwise); kind 0
// releases it (LeakSanitizer reports it otherwise).
TEST_F(Conversion, OnlyKindZeroReleases)
{
    vsscr_filedesc *out = nullptr;
    ASSERT_EQ(S_OK, ConvertWriterFiles(tv_str("W"), Files({"\\Windows"}, false, "E:\\Alt"), &out));
    vsscr_free_filedesc_struct(1, out);
    EXPECT_EQ((std::vector<std::string>{"C:\\Windows 12", "D:\\Windows 12"}), Described(out));
    vsscr_free_filedesc_struct(0, out);
    vsscr_free_filedesc_struct(0, nullptr);
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TV_TEST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TV_TEST_ASAN 1
#endif

// The two builders allocate differently: a converted chain given to the save side's release
// is a defect that AddressSanitizer must be able to see.
TEST_F(Conversion, SaveSideReleaseOfAConvertedChainIsReported)
{
#ifndef TV_TEST_ASAN
    GTEST_SKIP() << "needs AddressSanitizer";
#else
    vsscr_filedesc *out = nullptr;
    ASSERT_EQ(S_OK, ConvertWriterFiles(tv_str("W"), Files({"C:\\data"}, false, ""), &out));
    EXPECT_DEATH(FreeFileDescList(out), "alloc-dealloc-mismatch");
    vsscr_free_filedesc_struct(0, out);
#endif
}

TEST_F(Conversion, ExcludeFilesWithTheirMessages)
{
    auto writer = std::make_shared<CVssCrWriter>();
    writer->name = W("Test Writer");
    writer->excludeFiles = Files({Vol(3) + "Temp", "\\pagefile.sys"}, false, "");
    Chain chain;
    EXPECT_SUCCESS(GetWriterExcludeFiles(writer, &chain.first));
    EXPECT_EQ((std::vector<std::string>{"D:\\Temp 8", "C:\\pagefile.sys 17", "D:\\pagefile.sys 17"}),
              Described(chain.first));

    tvtest::ExpectMessage(GetWriterExcludeFiles(writer, nullptr), 115361, 53000,
                          "Unable to retrieve exclude file list: Invalid Parameters.\n");
    winsim::InjectError("FindFirstVolumeW", u"", ERROR_ACCESS_DENIED);
    vsscr_filedesc *out = nullptr;
    tvtest::ExpectMessage(GetWriterExcludeFiles(writer, &out), 115336, 53000,
                          "Unable to copy exclude file list for Test Writer:Access is denied.\n");
    EXPECT_EQ(nullptr, out);
}

// Texts that are empty stay NULL with length 0; the other bytes of the record are zero.
TEST_F(Conversion, ComponentRecordCopiesOnlyTextsThatAreSet)
{
    const struct {
        const char *name, *caption, *logicalPath;
        bool notSelectable, restoreSubcomponent;
        DWORD flags;
        const char *expected;
    } cases[] = {{"Registry", "", "", true, true, 4, "Registry/9 (null)/0 (null)/0 1 1 2 3 4 0"},
                 {"Tasks", "Task store", "System", false, false, 0, "Tasks/6 Task store/11 System/7 0 0 2 3 0 0"}};
    for (const auto &c : cases) {
        auto component = std::make_shared<CVssWriterComp>();
        component->name = from_utf8(c.name);
        component->caption = from_utf8(c.caption);
        component->logicalPath = from_utf8(c.logicalPath);
        component->componentType = VSS_CT_FILEGROUP;
        component->componentFlags = c.flags;
        component->notSelectable = c.notSelectable;
        component->restoreSubcomponent = c.restoreSubcomponent;
        vsscr_writercomponent *r = nullptr;
        ASSERT_EQ(0, BuildWriterComponentRecord(component, &r, 3));
        ASSERT_NE(nullptr, r);
        const unsigned long long reserved = r->reserved_4 | r->reserved_56 | r->reserved_64 | r->reserved_76 |
                                            r->reserved_92 | (r->kind ^ 2u);
        EXPECT_EQ(c.expected, Utf8(r->name) + "/" + std::to_string(r->name_length) + " " + Utf8(r->caption) + "/" +
                                  std::to_string(r->caption_length) + " " + Utf8(r->logical_path) + "/" +
                                  std::to_string(r->logical_path_length) + " " + std::to_string(r->bcd_flag) + " " +
                                  std::to_string(r->restore_subcomponent) + " " + std::to_string(r->component_type) +
                                  " " + std::to_string(r->index) + " " + std::to_string(r->component_flags) + " " +
                                  std::to_string(reserved));
        delete[] r->name;
        delete[] r->caption;
        delete[] r->logical_path;
        delete r;
    }
}

} // namespace
