// Shadow-copy devices of the simulated host: frozen files read through
// \\?\GLOBALROOT\Device\HarddiskVolumeShadowCopyN with the ordinary file calls, refused
// changes, the device's names and volume answers, and the copies' lifetime.
#include <host/lasterror.h>
#include <platform/tvplatform.h>
#include <winsim/crt.h>
#include <winsim/host.h>
#include <winsim/hostmodel.h>
#include <winsim/shadow.h>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

const wstr kSystemVolume = W("\\\\?\\Volume{3c5e7a91-b2d4-4f60-8a1c-2e4f6a8b0c13}\\");   // C:
const wstr kDataVolume = W("\\\\?\\Volume{4d6f8b02-c3e5-4a71-9b2d-3f5a7c9e1d37}\\");     // D:
const wstr kArchiveVolume = W("\\\\?\\Volume{5e7a9c13-d4f6-4b82-8c3e-4a6b8d0f2e48}\\");  // D:\Mount\Archive
const wstr kProjectsVolume = W("\\\\?\\Volume{6f8b0d24-e507-4c93-9d4f-5b7c9e1a3f59}\\"); // E:
const wstr kDevicePrefix = W("\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy");

const char kLedger[] = "date,amount\r\n2026-11-30,1200.00\r\n";

// ASCII text both ways (device numbers, file names of the default host).
wstr Wide(const std::string &text) { return wstr(text.begin(), text.end()); }
std::string Narrow(const wstr &text) { return std::string(text.begin(), text.end()); }

wstr Device(int number) { return kDevicePrefix + Wide(std::to_string(number)); }

// The whole file read through CreateFileW and ReadFile, or "<error N>" with the last error.
std::string ReadAll(const wstr &path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return "<error " + std::to_string(GetLastError()) + ">";
    std::string contents;
    char buffer[7];  // small, so that a read spans several calls
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, NULL) && got > 0)
        contents.append(buffer, got);
    CloseHandle(file);
    return contents;
}

// Writes a new file, or rewrites one in place (same file, not a new one) as an
// application updating it does.
void Write(const wstr &path, const std::string &text, DWORD disposition)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, disposition, 0, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, text.data(), DWORD(text.size()), &written, NULL));
    ASSERT_TRUE(SetEndOfFile(file));
    CloseHandle(file);
}
void Rewrite(const wstr &path, const std::string &text) { Write(path, text, OPEN_EXISTING); }
void Create(const wstr &path, const std::string &text) { Write(path, text, CREATE_NEW); }

// The error GetFileAttributesW gives for a path (0 when it exists).
DWORD AttributesError(const wstr &path)
{
    SetLastError(0);
    return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES ? GetLastError() : 0;
}

// The names a pattern lists, sorted.
std::vector<std::string> List(const wstr &pattern)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(pattern.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
        return {"<error " + std::to_string(GetLastError()) + ">"};
    do
        names.push_back(Narrow(data.cFileName));
    while (FindNextFileW(search, &data));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

wstr VolumeRootOf(const wstr &path)
{
    WCHAR root[MAX_PATH] = {};
    if (!GetVolumePathNameW(path.c_str(), root, MAX_PATH))
        return W("<error ") + Wide(std::to_string(GetLastError())) + W(">");
    return root;
}

bool HostDirectoryExists(const std::string &path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// Every test starts on a freshly made default host: its own sandbox, no copies, and the
// device numbers starting again at 1.
class ShadowCopies : public testing::Test {
protected:
    void SetUp() override { winsim::ReplaceHost(winsim::ParseHost(winsim::EmbeddedHostJson("default"))); }
    void TearDown() override { winsim::ClearFaults(); }

    wstr Copy(const wstr &volume)
    {
        std::u16string device;
        const DWORD error = winsim::CreateShadowCopy(volume, &device);
        EXPECT_EQ(error, DWORD(ERROR_SUCCESS));
        return device;
    }
};

TEST_F(ShadowCopies, ACopyKeepsTheVolumeAsItWasWhateverHappensToTheLiveFiles)
{
    const wstr device = Copy(kDataVolume);
    ASSERT_EQ(device, Device(1));
    const wstr shadow = device + W("\\");

    Rewrite(W("D:\\Shares\\Finance\\ledger.csv"), "rewritten");
    ASSERT_TRUE(DeleteFileW(W("D:\\Shares\\Finance\\ledger.csv")));
    ASSERT_TRUE(RemoveDirectoryW(W("D:\\Shares\\Finance\\old")));
    Create(W("D:\\Shares\\added.txt"), "new");
    ASSERT_EQ(AttributesError(W("D:\\Shares\\Finance\\ledger.csv")), DWORD(ERROR_FILE_NOT_FOUND));

    EXPECT_EQ(ReadAll(shadow + W("Shares\\Finance\\ledger.csv")), kLedger);
    EXPECT_EQ(GetFileAttributesW((shadow + W("Shares\\Finance\\old")).c_str()), DWORD(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(AttributesError(shadow + W("Shares\\added.txt")), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(AttributesError(shadow + W("Shares\\Missing\\added.txt")), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(List(shadow + W("Shares\\Finance\\*")), (std::vector<std::string>{".", "..", "ledger.csv", "old"}));

    HANDLE file = CreateFileW((shadow + W("shares\\FINANCE\\Ledger.CSV")).c_str(), GENERIC_READ, FILE_SHARE_READ,
                              NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "names inside the copy match without regard to case";
    LARGE_INTEGER size = {};
    EXPECT_TRUE(GetFileSizeEx(file, &size));
    EXPECT_EQ(size.QuadPart, LONGLONG(sizeof kLedger - 1));
    CloseHandle(file);
}

// A copy shares the live files' bytes until the live file is written, by any route.
TEST_F(ShadowCopies, NoWayOfWritingALiveFileReachesTheCopy)
{
    const wstr ledger = W("D:\\Shares\\Finance\\ledger.csv");
    HANDLE handle = INVALID_HANDLE_VALUE;
    FILE *stream = NULL;
    struct Case {
        const char *what;
        std::function<void()> beforeCopy, afterCopy;
    };
    auto crtWrite = [&](const WCHAR *mode) {
        return [&, mode] {
            FILE *file = _wfopen(ledger.c_str(), mode);
            ASSERT_NE(file, nullptr);
            fputs("changed", file);
            fclose(file);
        };
    };
    const Case cases[] = {
        {"CreateFileW", [] {}, [&] { Rewrite(ledger, "changed"); }},
        {"_wfopen w", [] {}, crtWrite(W("w"))},
        {"_wfopen ab", [] {}, crtWrite(W("ab"))},
        {"_wfopen r+b", [] {}, crtWrite(W("r+b"))},
        {"std::ofstream through HostPathOf", [] {},
         [&] {
             std::string hostPath;
             ASSERT_TRUE(winsim::HostPathOf(ledger, &hostPath));
             std::ofstream(hostPath, std::ios::binary | std::ios::trunc) << "changed";
         }},
        {"a handle open before the copy",
         [&] { handle = CreateFileW(ledger.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL); },
         [&] {
             DWORD written = 0;
             ASSERT_TRUE(WriteFile(handle, "changed", 7, &written, NULL));
             CloseHandle(handle);
         }},
        {"a stream open before the copy", [&] { stream = _wfopen(ledger.c_str(), W("r+b")); },
         [&] {
             fputs("changed", stream);
             fclose(stream);
         }},
        {"DeleteFileW", [] {}, [&] { ASSERT_TRUE(DeleteFileW(ledger.c_str())); }},
    };
    for (const Case &c : cases) {
        SetUp();
        c.beforeCopy();
        const wstr frozen = Copy(kDataVolume) + W("\\Shares\\Finance\\ledger.csv");
        c.afterCopy();
        EXPECT_EQ(ReadAll(frozen), kLedger) << c.what;
        EXPECT_NE(ReadAll(ledger), kLedger) << c.what;
    }

    // No bytes are copied for a file nobody opened: the copy's file is the live one's.
    SetUp();
    const wstr shadow = Copy(kDataVolume);
    std::string frozenPath;
    ASSERT_TRUE(winsim::HostPathOf(shadow + W("\\Shares\\Finance\\ledger.csv"), &frozenPath));
    struct stat status;
    ASSERT_EQ(stat(frozenPath.c_str(), &status), 0);
    EXPECT_EQ(status.st_nlink, 2u);
}

TEST_F(ShadowCopies, AttributesAndTimesAreThoseOfTheMomentOfTheCopy)
{
    WIN32_FILE_ATTRIBUTE_DATA live = {};
    ASSERT_TRUE(GetFileAttributesExW(W("C:\\Windows\\System32\\config\\SYSTEM"), GetFileExInfoStandard, &live));
    const wstr shadow = Copy(kSystemVolume) + W("\\");

    ASSERT_TRUE(SetFileAttributesW(W("C:\\pagefile.sys"), FILE_ATTRIBUTE_NORMAL));
    Rewrite(W("C:\\Windows\\System32\\config\\SYSTEM"), "regf and more");

    EXPECT_EQ(GetFileAttributesW((shadow + W("pagefile.sys")).c_str()),
              DWORD(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE));
    WIN32_FILE_ATTRIBUTE_DATA frozen = {};
    ASSERT_TRUE(GetFileAttributesExW((shadow + W("Windows\\System32\\config\\SYSTEM")).c_str(),
                                     GetFileExInfoStandard, &frozen));
    EXPECT_EQ(frozen.dwFileAttributes, DWORD(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_SYSTEM));
    EXPECT_EQ(frozen.nFileSizeLow, 4u);
    EXPECT_EQ(frozen.nFileSizeHigh, 0u);
    EXPECT_EQ(frozen.ftLastWriteTime.dwLowDateTime, live.ftLastWriteTime.dwLowDateTime);
    EXPECT_EQ(frozen.ftLastWriteTime.dwHighDateTime, live.ftLastWriteTime.dwHighDateTime);

    // The listing of the copy's root: no "." or "..", as for any volume root.
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW((shadow + W("page*")).c_str(), &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(wstr(data.cFileName), W("pagefile.sys"));
    EXPECT_EQ(data.dwFileAttributes, DWORD(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE));
    FindClose(search);
    const std::vector<std::string> root = List(shadow + W("*"));
    EXPECT_EQ(std::count(root.begin(), root.end(), "."), 0);
    EXPECT_EQ(std::count(root.begin(), root.end(), "Windows"), 1);
}

TEST_F(ShadowCopies, TwoCopiesOfOneVolumeShowItAtTheirOwnMoments)
{
    const wstr first = Copy(kProjectsVolume);
    Rewrite(W("E:\\Projects\\plan.txt"), "second plan");
    Create(W("E:\\Projects\\budget.txt"), "money");
    const wstr second = Copy(kProjectsVolume);
    Rewrite(W("E:\\Projects\\plan.txt"), "third plan");

    EXPECT_EQ(first, Device(1));
    EXPECT_EQ(second, Device(2));
    EXPECT_EQ(winsim::ShadowCopyDevices(), (std::vector<std::u16string>{first, second}));
    EXPECT_EQ(ReadAll(first + W("\\Projects\\plan.txt")), "milestones\r\n");
    EXPECT_EQ(ReadAll(second + W("\\Projects\\plan.txt")), "second plan");
    EXPECT_EQ(ReadAll(W("E:\\Projects\\plan.txt")), "third plan");
    EXPECT_EQ(AttributesError(first + W("\\Projects\\budget.txt")), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(ReadAll(second + W("\\Projects\\budget.txt")), "money");
}

TEST_F(ShadowCopies, ShadowCopy1IsNotAPrefixOfShadowCopy12)
{
    for (int number = 1; number <= 12; ++number) {
        Rewrite(W("E:\\Projects\\plan.txt"), "plan " + std::to_string(number));
        ASSERT_EQ(Copy(kProjectsVolume), Device(number));
    }
    EXPECT_EQ(ReadAll(Device(1) + W("\\Projects\\plan.txt")), "plan 1");
    EXPECT_EQ(ReadAll(Device(12) + W("\\Projects\\plan.txt")), "plan 12");
    EXPECT_EQ(ReadAll(Device(2) + W("\\Projects\\plan.txt")), "plan 2");

    ASSERT_EQ(winsim::DeleteShadowCopy(Device(1)), DWORD(ERROR_SUCCESS));
    EXPECT_EQ(ReadAll(Device(1) + W("\\Projects\\plan.txt")), "<error 3>") << "ERROR_PATH_NOT_FOUND";
    EXPECT_EQ(ReadAll(Device(12) + W("\\Projects\\plan.txt")), "plan 12");
    EXPECT_EQ(ReadAll(Device(11) + W("\\Projects\\plan.txt")), "plan 11");
    // Object names are text: ...Copy012 is not ...Copy12.
    EXPECT_EQ(AttributesError(kDevicePrefix + W("012\\Projects")), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(AttributesError(kDevicePrefix + W("12x\\Projects")), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(winsim::DeleteShadowCopy(Device(1)), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(winsim::ShadowCopyDevices().size(), 11u);
    EXPECT_EQ(winsim::ShadowCopyDevices().front(), Device(2));
}

TEST_F(ShadowCopies, EveryChangeIsRefusedAsOnWriteProtectedMedia)
{
    const wstr shadow = Copy(kDataVolume) + W("\\");
    const wstr ledger = shadow + W("Shares\\Finance\\ledger.csv");
    struct Open {
        const char *what;
        wstr path;
        DWORD access, disposition, flags, error;
    };
    const Open opens[] = {
        {"write an existing file", ledger, GENERIC_WRITE, OPEN_EXISTING, 0, ERROR_WRITE_PROTECT},
        {"append to it", ledger, FILE_APPEND_DATA, OPEN_EXISTING, 0, ERROR_WRITE_PROTECT},
        {"open it for delete", ledger, DELETE, OPEN_EXISTING, 0, ERROR_WRITE_PROTECT},
        {"change its attributes", ledger, FILE_WRITE_ATTRIBUTES, OPEN_EXISTING, 0, ERROR_WRITE_PROTECT},
        {"overwrite it", ledger, GENERIC_READ, CREATE_ALWAYS, 0, ERROR_WRITE_PROTECT},
        {"truncate it", ledger, GENERIC_READ | GENERIC_WRITE, TRUNCATE_EXISTING, 0, ERROR_WRITE_PROTECT},
        {"delete it on close", ledger, GENERIC_READ, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, ERROR_WRITE_PROTECT},
        {"create a file", shadow + W("Shares\\new.txt"), GENERIC_WRITE, CREATE_NEW, 0, ERROR_WRITE_PROTECT},
        {"create one by opening", shadow + W("Shares\\new.txt"), GENERIC_READ, OPEN_ALWAYS, 0, ERROR_WRITE_PROTECT},
        {"create an existing file anew", ledger, GENERIC_WRITE, CREATE_NEW, 0, ERROR_FILE_EXISTS},
        {"write a missing file", shadow + W("Shares\\none.txt"), GENERIC_WRITE, OPEN_EXISTING, 0,
         ERROR_FILE_NOT_FOUND},
        {"create in a missing folder", shadow + W("Nowhere\\new.txt"), GENERIC_WRITE, CREATE_NEW, 0,
         ERROR_PATH_NOT_FOUND},
    };
    for (const Open &open : opens) {
        SetLastError(0);
        HANDLE file = CreateFileW(open.path.c_str(), open.access, 0, NULL, open.disposition, open.flags, NULL);
        EXPECT_EQ(file, INVALID_HANDLE_VALUE) << open.what;
        EXPECT_EQ(GetLastError(), open.error) << open.what;
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }

    EXPECT_FAILS_WITH(DeleteFileW(ledger.c_str()), ERROR_WRITE_PROTECT);
    EXPECT_FAILS_WITH(SetFileAttributesW(ledger.c_str(), FILE_ATTRIBUTE_HIDDEN), ERROR_WRITE_PROTECT);
    EXPECT_FAILS_WITH(CreateDirectoryW((shadow + W("Shares\\Fresh")).c_str(), NULL), ERROR_WRITE_PROTECT);
    EXPECT_FAILS_WITH(CreateDirectoryW((shadow + W("Shares")).c_str(), NULL), ERROR_ALREADY_EXISTS);
    EXPECT_FAILS_WITH(RemoveDirectoryW((shadow + W("Shares\\Finance\\old")).c_str()), ERROR_WRITE_PROTECT);

    // The C runtime gives EACCES, its errno for a write-protected volume.
    const std::function<bool()> crtChanges[] = {
        [&] { return _wfopen(ledger.c_str(), W("w")) == nullptr; },
        [&] { return _wfopen(ledger.c_str(), W("a")) == nullptr; },
        [&] { return _wfopen(ledger.c_str(), W("r+")) == nullptr; },
        [&] { return _wunlink(ledger.c_str()) == -1; },
        [&] { return _wmkdir((shadow + W("Fresh")).c_str()) == -1; },
    };
    for (size_t i = 0; i < std::size(crtChanges); ++i) {
        errno = 0;
        EXPECT_TRUE(crtChanges[i]()) << "change " << i;
        EXPECT_EQ(errno, EACCES) << "change " << i;
    }

    // Nothing changed in the copy; reading stays allowed, and the live volume stays writable.
    EXPECT_EQ(ReadAll(ledger), kLedger);
    EXPECT_EQ(GetFileAttributesW(ledger.c_str()), DWORD(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(AttributesError(shadow + W("Shares\\new.txt")), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(GetFileAttributesW((shadow + W("Shares\\Finance\\old")).c_str()), DWORD(FILE_ATTRIBUTE_DIRECTORY));
    FILE *read = _wfopen(ledger.c_str(), W("rb"));
    ASSERT_NE(read, nullptr);
    fclose(read);
    Rewrite(W("D:\\Shares\\Finance\\ledger.csv"), "live");
    EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

TEST_F(ShadowCopies, TheDeviceIsNamedInAnyCaseOpensAsADeviceAndAMissingOneIsNotFound)
{
    const wstr device = Copy(kDataVolume);
    EXPECT_EQ(ReadAll(W("\\\\?\\globalroot\\device\\harddiskvolumeshadowcopy1\\Shares\\Finance\\ledger.csv")),
              kLedger);
    EXPECT_EQ(ReadAll(W("\\\\.\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy1\\Shares\\Finance\\ledger.csv")),
              kLedger);

    // The root, with or without its backslash, is a directory.
    EXPECT_EQ(GetFileAttributesW((device + W("\\")).c_str()) & FILE_ATTRIBUTE_DIRECTORY,
              DWORD(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(GetFileAttributesW(device.c_str()) & FILE_ATTRIBUTE_DIRECTORY, DWORD(FILE_ATTRIBUTE_DIRECTORY));

    // A missing device: named alone it is the missing leaf, with more after it the missing path.
    EXPECT_EQ(AttributesError(Device(2)), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(AttributesError(Device(2) + W("\\")), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(AttributesError(Device(2) + W("\\Shares")), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(ReadAll(Device(2)), "<error 2>") << "ERROR_FILE_NOT_FOUND";
    EXPECT_EQ(List(Device(2) + W("\\*")), (std::vector<std::string>{"<error 3>"})) << "ERROR_PATH_NOT_FOUND";
    std::string hostPath;
    EXPECT_FALSE(winsim::HostPathOf(Device(2) + W("\\Shares"), &hostPath));

    // Names below the root are literal: no climbing out of the copy.
    EXPECT_EQ(AttributesError(device + W("\\..\\D\\Shares")), DWORD(ERROR_INVALID_NAME));
    EXPECT_EQ(AttributesError(device + W("\\Shares\\.\\Finance")), DWORD(ERROR_INVALID_NAME));
    EXPECT_EQ(AttributesError(device + W("\\Shares\\a:b")), DWORD(ERROR_INVALID_NAME));

    // The bare device opens as a device, not as its root.
    HANDLE volume = CreateFileW(device.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                OPEN_EXISTING, 0, NULL);
    ASSERT_NE(volume, INVALID_HANDLE_VALUE) << GetLastError();
    char sector[512];
    DWORD got = 1;
    EXPECT_FAILS_WITH(ReadFile(volume, sector, sizeof sector, &got, NULL), ERROR_CALL_NOT_IMPLEMENTED);
    EXPECT_EQ(got, 0u);
    EXPECT_TRUE(CloseHandle(volume));

    SetLastError(0);
    EXPECT_EQ(CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_WRITE_PROTECT));
    EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

TEST_F(ShadowCopies, VolumeCallsAnswerForTheCopy)
{
    const wstr device = Copy(kDataVolume);
    const wstr root = device + W("\\");
    EXPECT_EQ(VolumeRootOf(root + W("Shares\\Finance\\ledger.csv")), root);
    EXPECT_EQ(VolumeRootOf(root + W("Shares\\not\\there.txt")), root);
    EXPECT_EQ(VolumeRootOf(device), root);
    EXPECT_EQ(VolumeRootOf(W("\\\\?\\GLOBALROOT\\DEVICE\\harddiskvolumeshadowcopy1\\Shares")),
              W("\\\\?\\GLOBALROOT\\DEVICE\\harddiskvolumeshadowcopy1\\"))
        << "the root as the path names it";
    EXPECT_EQ(VolumeRootOf(Device(5) + W("\\Shares")), W("<error 2>"));

    WCHAR label[32] = {}, fileSystem[16] = {};
    DWORD serial = 0, flags = 0, liveSerial = 0, liveFlags = 0;
    ASSERT_TRUE(GetVolumeInformationW(root.c_str(), label, 32, &serial, NULL, &flags, fileSystem, 16));
    ASSERT_TRUE(GetVolumeInformationW(W("D:\\"), NULL, 0, &liveSerial, NULL, &liveFlags, NULL, 0));
    EXPECT_EQ(wstr(label), W("Data"));
    EXPECT_EQ(wstr(fileSystem), W("NTFS"));
    EXPECT_EQ(serial, liveSerial);
    EXPECT_EQ(flags, liveFlags | FILE_READ_ONLY_VOLUME);
    EXPECT_EQ(liveFlags & FILE_READ_ONLY_VOLUME, 0u);

    // The device has no volume GUID name: its root is not taken for the live volume's.
    WCHAR name[64] = {};
    EXPECT_FAILS_WITH(GetVolumeNameForVolumeMountPointW(root.c_str(), name, 64), ERROR_FILE_NOT_FOUND);
}

TEST_F(ShadowCopies, AMountFolderInTheCopyStillLeadsToTheLiveMountedVolume)
{
    const wstr root = Copy(kDataVolume) + W("\\");
    Create(W("D:\\Mount\\Archive\\2026.txt"), "after the copy");

    EXPECT_EQ(GetFileAttributesW((root + W("Mount\\Archive")).c_str()),
              DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    EXPECT_EQ(VolumeRootOf(root + W("Mount\\Archive\\2025\\q4.txt")), root + W("Mount\\Archive\\"));
    EXPECT_EQ(ReadAll(root + W("Mount\\Archive\\2026.txt")), "after the copy");
    EXPECT_EQ(ReadAll(root + W("Mount\\Archive\\2025\\q4.txt")), "closed quarter\r\n");
    // The mounted volume is frozen only by a copy of its own.
    const wstr archive = Copy(kArchiveVolume);
    ASSERT_TRUE(SetFileAttributesW(W("D:\\Mount\\Archive\\2026.txt"), FILE_ATTRIBUTE_NORMAL));
    ASSERT_TRUE(DeleteFileW(W("D:\\Mount\\Archive\\2026.txt")));
    EXPECT_EQ(ReadAll(archive + W("\\2026.txt")), "after the copy");
    EXPECT_EQ(AttributesError(root + W("Mount\\Archive\\2026.txt")), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST_F(ShadowCopies, HostPathOfLeadsIntoTheCopyAndDeletingItRemovesItsFilesButNotItsNumber)
{
    const wstr device = Copy(kDataVolume);
    std::string copied, live, directory;
    ASSERT_TRUE(winsim::HostPathOf(device + W("\\shares\\finance\\LEDGER.csv"), &copied));
    ASSERT_TRUE(winsim::HostPathOf(W("D:\\Shares\\Finance\\ledger.csv"), &live));
    EXPECT_NE(copied, live);
    EXPECT_EQ(copied.substr(copied.size() - 26), "/Shares/Finance/ledger.csv") << "the case on disk";
    struct stat status;
    EXPECT_EQ(stat(copied.c_str(), &status), 0);
    ASSERT_TRUE(winsim::HostPathOf(device + W("\\"), &directory));
    ASSERT_TRUE(HostDirectoryExists(directory));

    EXPECT_EQ(winsim::DeleteShadowCopy(W("\\\\?\\globalroot\\device\\HARDDISKVOLUMESHADOWCOPY1")),
              DWORD(ERROR_SUCCESS));
    EXPECT_FALSE(HostDirectoryExists(directory));
    EXPECT_TRUE(winsim::ShadowCopyDevices().empty());
    EXPECT_EQ(AttributesError(device + W("\\Shares")), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(winsim::DeleteShadowCopy(device), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(winsim::DeleteShadowCopy(W("D:\\")), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(winsim::DeleteShadowCopy(W("")), DWORD(ERROR_FILE_NOT_FOUND));

    EXPECT_EQ(Copy(kDataVolume), Device(2));
    EXPECT_EQ(ReadAll(W("D:\\Shares\\Finance\\ledger.csv")), kLedger) << "the live volume is untouched";
}

TEST_F(ShadowCopies, AnotherHostTakesTheCopiesAwayAndNumbersStartAgain)
{
    Copy(kDataVolume);
    const wstr device = Copy(kSystemVolume);
    std::string directory;
    ASSERT_TRUE(winsim::HostPathOf(device + W("\\"), &directory));

    winsim::ReplaceHost(winsim::ParseHost(winsim::EmbeddedHostJson("default")));
    EXPECT_TRUE(winsim::ShadowCopyDevices().empty());
    EXPECT_FALSE(HostDirectoryExists(directory));
    EXPECT_EQ(AttributesError(device + W("\\Windows")), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(Copy(kSystemVolume), Device(1));
}

TEST_F(ShadowCopies, OnlyAnOnlineVolumeOfTheHostCanBeCopied)
{
    std::u16string device = W("untouched");
    EXPECT_EQ(winsim::CreateShadowCopy(W("\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\"), &device),
              DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(winsim::CreateShadowCopy(W("D:\\"), &device), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(winsim::CreateShadowCopy(W(""), &device), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(winsim::CreateShadowCopy(kDataVolume, nullptr), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(device, W("untouched"));
    EXPECT_TRUE(winsim::ShadowCopyDevices().empty());

    // Any letter case, with or without the trailing backslash.
    wstr upper = W("\\\\?\\VOLUME{4D6F8B02-C3E5-4A71-9B2D-3F5A7C9E1D37}");
    ASSERT_EQ(winsim::CreateShadowCopy(upper, &device), DWORD(ERROR_SUCCESS));
    EXPECT_EQ(ReadAll(device + W("\\Shares\\Finance\\ledger.csv")), kLedger);

    winsim::InjectError("CreateShadowCopy", kProjectsVolume, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(winsim::CreateShadowCopy(kProjectsVolume, &device), DWORD(ERROR_NOT_ENOUGH_MEMORY));

    nlohmann::json description = nlohmann::json::parse(winsim::EmbeddedHostJson("default"));
    for (auto &volume : description["volumes"])
        if (volume.value("driveLetter", "") == "E")
            volume["offline"] = true;
    winsim::ReplaceHost(winsim::ParseHost(description.dump()));
    EXPECT_EQ(winsim::CreateShadowCopy(kProjectsVolume, &device), DWORD(ERROR_NOT_READY));
    EXPECT_TRUE(winsim::ShadowCopyDevices().empty());
}

} // namespace
