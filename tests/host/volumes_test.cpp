// kernel32's volumes, devices and listings on the default host, against what Windows
// documents for them.
#include <host/lasterror.h>
#include <platform/tvplatform.h>
#include <winioctl.h>
#include <winsim/host.h>
#include <winsim/hostmodel.h>

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace {

const wstr kDataVolume = W("\\\\?\\Volume{4d6f8b02-c3e5-4a71-9b2d-3f5a7c9e1d37}\\");
const wstr kArchiveVolume = W("\\\\?\\Volume{5e7a9c13-d4f6-4b82-8c3e-4a6b8d0f2e48}\\");
const wstr kSpannedVolume = W("\\\\?\\Volume{6f8b0d24-e507-4c93-9d4f-5b7c9e1a3f59}\\");  // E:, disks 2 and 3

wstr VolumeRootOf(const wstr &path)
{
    WCHAR root[MAX_PATH] = {};
    EXPECT_TRUE(GetVolumePathNameW(path.c_str(), root, MAX_PATH)) << GetLastError();
    return root;
}

wstr GuidOf(const wstr &mountPoint)
{
    WCHAR name[64] = {};
    EXPECT_TRUE(GetVolumeNameForVolumeMountPointW(mountPoint.c_str(), name, 64)) << GetLastError();
    return name;
}

class Volumes : public testing::Test {
protected:
    void TearDown() override { winsim::ClearFaults(); }
};

TEST_F(Volumes, PathsResolveToTheVolumeThatHoldsThemOrFailForAShortBufferOrAnAbsentVolume)
{
    EXPECT_EQ(VolumeRootOf(W("C:\\Windows\\System32")), W("C:\\"));
    EXPECT_EQ(VolumeRootOf(W("d:\\shares\\finance\\ledger.csv")), W("D:\\"));
    // Below a mount folder the root is the folder; the path need not exist.
    EXPECT_EQ(VolumeRootOf(W("D:\\Mount\\Archive\\2025\\missing.txt")), W("D:\\Mount\\Archive\\"));
    EXPECT_EQ(VolumeRootOf(W("D:\\mount\\archive")), W("D:\\mount\\archive\\"));
    EXPECT_EQ(VolumeRootOf(kArchiveVolume + W("2025")), kArchiveVolume);
    WCHAR root[8];
    EXPECT_FAILS_WITH(GetVolumePathNameW(W("D:\\Mount\\Archive\\2025"), root, 8), ERROR_FILENAME_EXCED_RANGE);
    EXPECT_FAILS_WITH(GetVolumePathNameW(W("Q:\\data"), root, 8), ERROR_FILE_NOT_FOUND);
}

TEST_F(Volumes, OneGuidForAVolumeWhereverItAppears)
{
    EXPECT_EQ(GuidOf(W("D:\\")), kDataVolume);
    EXPECT_EQ(GuidOf(W("D:\\Mount\\Archive\\")), kArchiveVolume);
    EXPECT_EQ(GuidOf(kArchiveVolume), kArchiveVolume);

    // The enumeration lists every described volume once, each with its trailing backslash.
    std::set<wstr> listed;
    WCHAR name[64];
    HANDLE search = FindFirstVolumeW(name, 64);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    do
        listed.insert(name);
    while (FindNextVolumeW(search, name, 64));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindVolumeClose(search));
    EXPECT_EQ(listed.size(), winsim::CurrentHost().volumes.size());
    EXPECT_TRUE(listed.count(kDataVolume) && listed.count(kArchiveVolume) && listed.count(GuidOf(W("C:\\"))));

    // The paths of the archive volume lead back to it.
    WCHAR paths[64];
    DWORD needed = 0;
    ASSERT_TRUE(GetVolumePathNamesForVolumeNameW(kArchiveVolume.c_str(), paths, 64, &needed));
    EXPECT_EQ(wstr(paths), W("D:\\Mount\\Archive\\"));
    EXPECT_EQ(needed, DWORD(wstr(paths).size() + 2));
}

TEST_F(Volumes, FindVolumeHandlesAnswerOnlyWhileOpen)
{
    WCHAR name[64];
    SetLastError(0);
    EXPECT_EQ(FindFirstVolumeW(name, 10), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILENAME_EXCED_RANGE));
    HANDLE search = FindFirstVolumeW(name, 64);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(FindVolumeClose(search));
    EXPECT_FAILS_WITH(FindNextVolumeW(search, name, 64), ERROR_INVALID_HANDLE);
    EXPECT_FAILS_WITH(FindVolumeClose(search), ERROR_INVALID_HANDLE);

    char narrow[64];
    HANDLE ansi = FindFirstVolumeA(narrow, 64);
    ASSERT_NE(ansi, INVALID_HANDLE_VALUE);
    EXPECT_EQ(std::string(narrow).rfind("\\\\?\\Volume{", 0), 0u);
    EXPECT_TRUE(FindVolumeClose(ansi));
}

TEST_F(Volumes, MountPointNamesNeedTheirBackslashAndAMountPoint)
{
    WCHAR name[64];
    EXPECT_FAILS_WITH(GetVolumeNameForVolumeMountPointW(W("D:\\Mount\\Archive"), name, 64), ERROR_INVALID_NAME);
    EXPECT_FAILS_WITH(GetVolumeNameForVolumeMountPointW(W("D:\\Shares\\"), name, 64), ERROR_NOT_A_REPARSE_POINT);
    EXPECT_FAILS_WITH(GetVolumeNameForVolumeMountPointW(W("D:\\"), name, 20), ERROR_FILENAME_EXCED_RANGE);
    EXPECT_FAILS_WITH(GetVolumePathNamesForVolumeNameW(kArchiveVolume.substr(0, 48).c_str(), name, 64, NULL),
                      ERROR_INVALID_NAME);
    DWORD needed = 0;
    EXPECT_FAILS_WITH(GetVolumePathNamesForVolumeNameW(kArchiveVolume.c_str(), name, 5, &needed), ERROR_MORE_DATA);
    EXPECT_EQ(needed, DWORD(19));  // "D:\Mount\Archive\" (17), its terminator, the list's
}

TEST_F(Volumes, TheMountFolderIsADirectoryReparsePointOnItsParent)
{
    EXPECT_EQ(GetFileAttributesW(W("D:\\Mount\\Archive")), DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    EXPECT_EQ(GetFileAttributesW(W("D:\\Mount")), DWORD(FILE_ATTRIBUTE_DIRECTORY));
    // The file below it lives on the archive volume, reachable by either name.
    EXPECT_EQ(GetFileAttributesW(W("D:\\Mount\\Archive\\2025\\q4.txt")), DWORD(FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(GetFileAttributesW((kArchiveVolume + W("2025\\Q4.TXT")).c_str()), DWORD(FILE_ATTRIBUTE_READONLY));
    SetLastError(0);
    EXPECT_EQ(GetFileAttributesW(W("D:\\2025\\q4.txt")), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
}

TEST_F(Volumes, InformationAndDriveTypesComeFromTheHost)
{
    WCHAR label[32], fileSystem[16];
    DWORD serial = 0, flags = 0;
    ASSERT_TRUE(GetVolumeInformationW(W("F:\\"), label, 32, &serial, NULL, &flags, fileSystem, 16));
    EXPECT_EQ(wstr(label), W("Pool01"));
    EXPECT_EQ(wstr(fileSystem), W("ReFS"));
    ASSERT_TRUE(GetVolumeInformationW(W("D:\\Mount\\Archive\\"), label, 32, NULL, NULL, NULL, fileSystem, 16));
    EXPECT_EQ(wstr(label), W("Archive"));
    EXPECT_FAILS_WITH(GetVolumeInformationW(W("C:\\Windows\\"), NULL, 0, NULL, NULL, NULL, fileSystem, 16),
                      ERROR_DIR_NOT_ROOT);
    EXPECT_FAILS_WITH(GetVolumeInformationW(W("C:"), NULL, 0, NULL, NULL, NULL, fileSystem, 16), ERROR_INVALID_NAME);
    const struct {
        const WCHAR *root;
        UINT type;
    } kDrives[] = {{W("C:\\"), DRIVE_FIXED},      {W("G:\\"), DRIVE_REMOVABLE},          {W("Z:\\"), DRIVE_CDROM},
                   {W("Q:\\"), DRIVE_NO_ROOT_DIR}, {W("C:\\Windows\\"), DRIVE_NO_ROOT_DIR}};
    for (const auto &drive : kDrives)
        EXPECT_EQ(GetDriveTypeW(drive.root), drive.type) << drive.type;
}

TEST_F(Volumes, ExtentsOfASpannedVolumeAskForMoreRoom)
{
    wstr device = kSpannedVolume;
    device.pop_back();
    HANDLE volume = CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(volume, INVALID_HANDLE_VALUE);
    VOLUME_DISK_EXTENTS one;
    DWORD returned = 0;
    EXPECT_FAILS_WITH(DeviceIoControl(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, NULL, 0, &one, sizeof one,
                                      &returned, NULL),
                      ERROR_MORE_DATA);
    ASSERT_EQ(one.NumberOfDiskExtents, DWORD(2));  // the header is filled all the same
    EXPECT_EQ(one.Extents[0].DiskNumber, DWORD(2));

    std::vector<BYTE> room(sizeof(VOLUME_DISK_EXTENTS) + sizeof(DISK_EXTENT));
    ASSERT_TRUE(DeviceIoControl(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, NULL, 0, room.data(), DWORD(room.size()),
                                &returned, NULL));
    const VOLUME_DISK_EXTENTS *all = reinterpret_cast<const VOLUME_DISK_EXTENTS *>(room.data());
    EXPECT_EQ(all->Extents[1].DiskNumber, DWORD(3));
    EXPECT_EQ(all->Extents[1].ExtentLength.QuadPart, 32212254720LL);
    EXPECT_EQ(returned, DWORD(8 + 2 * sizeof(DISK_EXTENT)));
    EXPECT_TRUE(CloseHandle(volume));
    EXPECT_FAILS_WITH(DeviceIoControl(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, NULL, 0, room.data(),
                                      DWORD(room.size()), &returned, NULL),
                      ERROR_INVALID_HANDLE);

    // The volume root with its backslash is a directory, not the device; \\.\E: is.
    HANDLE letter = CreateFileW(W("\\\\.\\E:"), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(letter, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(DeviceIoControl(letter, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, NULL, 0, room.data(),
                                DWORD(room.size()), &returned, NULL));
    CloseHandle(letter);
}

TEST_F(Volumes, DriveLayoutGrowsUntilEveryPartitionFits)
{
    HANDLE drive = CreateFileW(W("\\\\.\\PhysicalDrive2"), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                               OPEN_EXISTING, 0, NULL);
    ASSERT_NE(drive, INVALID_HANDLE_VALUE);
    // Room for one entry: too small for three; room for four is enough.
    std::vector<BYTE> buffer(sizeof(DRIVE_LAYOUT_INFORMATION_EX));
    DWORD returned = 0;
    EXPECT_FAILS_WITH(DeviceIoControl(drive, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, NULL, 0, buffer.data(),
                                      DWORD(buffer.size()), &returned, NULL),
                      ERROR_INSUFFICIENT_BUFFER);
    buffer.resize(sizeof(DRIVE_LAYOUT_INFORMATION_EX) + 3 * sizeof(PARTITION_INFORMATION_EX));
    ASSERT_TRUE(DeviceIoControl(drive, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, NULL, 0, buffer.data(), DWORD(buffer.size()),
                                &returned, NULL));
    const DRIVE_LAYOUT_INFORMATION_EX *layout = reinterpret_cast<const DRIVE_LAYOUT_INFORMATION_EX *>(buffer.data());
    EXPECT_EQ(layout->PartitionStyle, DWORD(PARTITION_STYLE_GPT));
    ASSERT_EQ(layout->PartitionCount, DWORD(3));
    // The LDM data partition type {AF9B60A0-1431-4F62-BC68-3311714A69AD}.
    EXPECT_EQ(layout->PartitionEntry[2].Gpt.PartitionType.Data1, 0xAF9B60A0u);
    EXPECT_EQ(layout->PartitionEntry[2].StartingOffset.QuadPart, 18874368LL);
    EXPECT_EQ(returned, DWORD(48 + 3 * sizeof(PARTITION_INFORMATION_EX)));
    CloseHandle(drive);

    SetLastError(0);
    EXPECT_EQ(CreateFileW(W("\\\\.\\PhysicalDrive9"), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST_F(Volumes, ListingsMatchStarAndQuestionMarkWithoutCase)
{
    WIN32_FIND_DATAW found;
    std::set<wstr> names;
    HANDLE search = FindFirstFileW(W("d:\\SHARES\\finance\\*"), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    do
        names.insert(found.cFileName);
    while (FindNextFileW(search, &found));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(search));
    EXPECT_EQ(names, (std::set<wstr>{W("."), W(".."), W("ledger.csv"), W("old")}));

    search = FindFirstFileW(W("D:\\Shares\\Finance\\LEDGER.c?v"), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(wstr(found.cFileName), W("ledger.csv"));
    EXPECT_EQ(found.nFileSizeLow, DWORD(33));
    EXPECT_FALSE(FindNextFileW(search, &found));
    FindClose(search);
    EXPECT_FAILS_WITH(FindClose(search), ERROR_INVALID_HANDLE);

    // The mount folder is listed on its parent as a reparse point.
    search = FindFirstFileW(W("D:\\Mount\\*"), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    bool sawArchive = false;
    do
        sawArchive = sawArchive || (wstr(found.cFileName) == W("Archive") &&
                                    (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT));
    while (FindNextFileW(search, &found));
    FindClose(search);
    EXPECT_TRUE(sawArchive);
    EXPECT_EQ(FindFirstFileW(W("D:\\Shares\\*.none"), &found), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST_F(Volumes, InjectedFaultsFailTheNamedCallOnceOrAlways)
{
    WCHAR root[MAX_PATH];
    winsim::InjectError("GetVolumePathNameW", u"E:\\Projects", ERROR_NOT_READY);
    EXPECT_TRUE(GetVolumePathNameW(W("E:\\Other"), root, MAX_PATH));  // another argument
    EXPECT_FAILS_WITH(GetVolumePathNameW(W("e:\\projects"), root, MAX_PATH), ERROR_NOT_READY);
    EXPECT_TRUE(GetVolumePathNameW(W("E:\\Projects"), root, MAX_PATH));  // used up

    winsim::InjectHresult("GetFirmwareType", u"", HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), false);
    FIRMWARE_TYPE firmware;
    EXPECT_FAILS_WITH(GetFirmwareType(&firmware), ERROR_ACCESS_DENIED);
    EXPECT_FAILS_WITH(GetFirmwareType(&firmware), ERROR_ACCESS_DENIED);
    winsim::ClearFaults();
    ASSERT_TRUE(GetFirmwareType(&firmware));
    EXPECT_EQ(firmware, FirmwareTypeUefi);
}

TEST_F(Volumes, VersionIsTheHostsForAnExtendedOrPlainQuery)
{
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExW(reinterpret_cast<OSVERSIONINFOW *>(&info)));
    EXPECT_EQ(info.dwMajorVersion, DWORD(10));
    EXPECT_EQ(info.dwBuildNumber, DWORD(17763));
    EXPECT_EQ(info.wProductType, BYTE(VER_NT_SERVER));
    info.dwOSVersionInfoSize = 12;
    EXPECT_FAILS_WITH(GetVersionExW(reinterpret_cast<OSVERSIONINFOW *>(&info)), ERROR_INSUFFICIENT_BUFFER);
}

} // namespace
