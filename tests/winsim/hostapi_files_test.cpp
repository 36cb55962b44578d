// The sandbox behind winsim's files, as tests see it through winsim/host.h. Linux only.
#include <platform/tvplatform.h>

#include <winsim/host.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string ReadHostFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

// Each test gets a fresh sandbox of its own.
class Sandbox : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/winsim-sandbox-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        winsim::SetSandboxRoot(root_);
    }
    void TearDown() override { ASSERT_EQ(system(("rm -rf '" + root_ + "'").c_str()), 0); }

    std::string root_;
};

TEST_F(Sandbox, DriveCIsADirectoryOfTheRootAndOtherDrivesExistWhenTheirDirectoryDoes)
{
    EXPECT_EQ(winsim::SandboxRoot(), root_);
    struct stat status;
    EXPECT_EQ(stat((root_ + "/C/Windows/Temp").c_str(), &status), 0);
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    EXPECT_EQ(GetFileAttributesW(W("c:\\windows\\TEMP")) & FILE_ATTRIBUTE_DIRECTORY, DWORD(FILE_ATTRIBUTE_DIRECTORY));
    // Other drives exist only when their directory does.
    SetLastError(0);
    EXPECT_FALSE(CreateDirectoryW(W("X:\\Data"), NULL));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    ASSERT_EQ(mkdir((root_ + "/X").c_str(), 0777), 0);
    EXPECT_TRUE(CreateDirectoryW(W("x:\\Data"), NULL));
    EXPECT_EQ(stat((root_ + "/X/Data").c_str(), &status), 0);
}

TEST_F(Sandbox, FilesWrittenThroughKernel32LandUnderTheirDriveAndHandlesAreCounted)
{
    HANDLE file = CreateFileW(W("C:\\report.txt"), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, "hello", 5, &written, NULL));
    ASSERT_TRUE(CloseHandle(file));
    EXPECT_EQ(ReadHostFile(root_ + "/C/report.txt"), "hello");
    const size_t before = winsim::OpenHandleCount();
    file = CreateFileW(W("C:\\count.txt"), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(winsim::OpenHandleCount(), before + 1);
    CloseHandle(file);
    EXPECT_EQ(winsim::OpenHandleCount(), before);
}

TEST_F(Sandbox, SetFileTimeNeedsAttributeAccessAndLeavesTimesNotGiven)
{
    HANDLE file = CreateFileW(W("C:\\timed.txt"), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    WIN32_FILE_ATTRIBUTE_DATA before;
    ASSERT_TRUE(GetFileAttributesExW(W("C:\\timed.txt"), GetFileExInfoStandard, &before));
    const FILETIME written = {0x5f8c1200, 0x01d9a3b4};  // 2023, on a whole second
    ASSERT_TRUE(SetFileTime(file, NULL, NULL, &written));
    ASSERT_TRUE(CloseHandle(file));
    WIN32_FILE_ATTRIBUTE_DATA after;
    ASSERT_TRUE(GetFileAttributesExW(W("C:\\timed.txt"), GetFileExInfoStandard, &after));
    EXPECT_EQ(after.ftLastWriteTime.dwHighDateTime, written.dwHighDateTime);
    EXPECT_EQ(after.ftLastWriteTime.dwLowDateTime, written.dwLowDateTime);
    EXPECT_EQ(after.ftLastAccessTime.dwLowDateTime, before.ftLastAccessTime.dwLowDateTime);

    file = CreateFileW(W("C:\\timed.txt"), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    SetLastError(0);
    EXPECT_FALSE(SetFileTime(file, NULL, NULL, &before.ftLastWriteTime));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    CloseHandle(file);
    EXPECT_FALSE(SetFileTime(INVALID_HANDLE_VALUE, NULL, NULL, &written));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST_F(Sandbox, NamesResolveToTheCaseOnDiskAndNetworkAndDevicePathsAreRefused)
{
    ASSERT_EQ(mkdir((root_ + "/C/Shared Files").c_str(), 0777), 0);
    std::ofstream(root_ + "/C/Shared Files/Tolvane.ini") << "x";
    std::string host;
    ASSERT_TRUE(winsim::HostPathOf(u"c:\\SHARED FILES\\tolvane.INI", &host));
    EXPECT_EQ(host, root_ + "/C/Shared Files/Tolvane.ini");
    // Names not on disk keep the case they were given.
    ASSERT_TRUE(winsim::HostPathOf(u"C:\\shared files\\New\\Thing.txt", &host));
    EXPECT_EQ(host, root_ + "/C/Shared Files/New/Thing.txt");
    EXPECT_FALSE(winsim::HostPathOf(u"\\\\server\\share\\file", &host));
    SetLastError(0);
    EXPECT_EQ(GetFileAttributesW(W("\\\\server\\share\\file")), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_BAD_NETPATH));

    testing::internal::CaptureStderr();
    EXPECT_EQ(GetFileAttributesW(W("\\\\.\\PhysicalDrive0")), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CALL_NOT_IMPLEMENTED));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("not implemented"), std::string::npos);
    testing::internal::CaptureStderr();
    HANDLE directory = CreateFileW(W("C:\\Windows"), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, NULL);
    EXPECT_EQ(directory, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CALL_NOT_IMPLEMENTED));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("directory handles"), std::string::npos);
}

TEST_F(Sandbox, AttributesAreKeptPerFileAndAHiddenFileMustBeNamedSo)
{
    std::ofstream(root_ + "/C/made-on-linux.txt") << "x";
    // A file winsim did not make looks as a fresh Windows file does.
    EXPECT_EQ(GetFileAttributesW(W("C:\\made-on-linux.txt")), DWORD(FILE_ATTRIBUTE_ARCHIVE));
    ASSERT_TRUE(SetFileAttributesW(W("C:\\made-on-linux.txt"), FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(GetFileAttributesW(W("C:\\MADE-ON-LINUX.TXT")), DWORD(FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(DeleteFileW(W("C:\\made-on-linux.txt")));
    std::ofstream(root_ + "/C/made-on-linux.txt") << "again";
    EXPECT_EQ(GetFileAttributesW(W("C:\\made-on-linux.txt")), DWORD(FILE_ATTRIBUTE_ARCHIVE));
    HANDLE file = CreateFileW(W("C:\\hidden.txt"), GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_EQ(GetFileAttributesW(W("C:\\hidden.txt")), DWORD(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    SetLastError(0);
    EXPECT_EQ(CreateFileW(W("C:\\hidden.txt"), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    file = CreateFileW(W("C:\\hidden.txt"), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN, NULL);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
}

TEST_F(Sandbox, MovingTheSandboxResetsTheCurrentDirectory)
{
    ASSERT_TRUE(SetCurrentDirectoryW(W("C:\\Windows")));
    winsim::SetSandboxRoot(root_);
    WCHAR current[MAX_PATH];
    ASSERT_EQ(GetCurrentDirectoryW(MAX_PATH, current), DWORD(3));
    EXPECT_EQ(wstr(current), W("C:\\"));
}

TEST(SandboxRoot, ComesFromWinsimRootWhenSet)
{
    char pattern[] = "/tmp/winsim-env-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    ASSERT_EQ(setenv("WINSIM_ROOT", pattern, 1), 0);
    EXPECT_EQ(winsim::SandboxRoot(), std::string(pattern));  // first use in this process
    struct stat status;
    EXPECT_EQ(stat((std::string(pattern) + "/C").c_str(), &status), 0);
    ASSERT_EQ(system((std::string("rm -rf '") + pattern + "'").c_str()), 0);
}

TEST(ComputerName, DefaultsToTheHostDescriptionAndFollowsTheHostSettings)
{
    // The environment does not rename the machine; the default host is TVSRV01.
    ASSERT_TRUE(SetEnvironmentVariableW(W("COMPUTERNAME"), W("FROM-ENV")));
    WCHAR name[64];
    DWORD size = 64;
    ASSERT_TRUE(GetComputerNameExW(ComputerNameDnsHostname, name, &size));
    EXPECT_EQ(wstr(name), W("TVSRV01"));
    size = 64;
    ASSERT_TRUE(GetComputerNameExW(ComputerNameDnsDomain, name, &size));
    EXPECT_EQ(wstr(name), W("corp.example.com"));
    winsim::SetComputerName(u"BackupServer01-Long-Name", u"corp.example");
    size = 64;
    ASSERT_TRUE(GetComputerNameExW(ComputerNameDnsFullyQualified, name, &size));
    EXPECT_EQ(wstr(name), W("BackupServer01-Long-Name.corp.example"));
    size = 64;
    ASSERT_TRUE(GetComputerNameExW(ComputerNameNetBIOS, name, &size));
    EXPECT_EQ(wstr(name), W("BACKUPSERVER01-"));
    size = 64;
    ASSERT_TRUE(GetComputerNameExW(ComputerNameDnsDomain, name, &size));
    EXPECT_EQ(wstr(name), W("corp.example"));
    EXPECT_EQ(size, DWORD(12));
}

} // namespace
