// liblocal's system tests where any Windows host will do: they hold for the simulated
// default host and for the machine Wine simulates.
#include "testing.h"

#include <liblocal/vosystem.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(SystemGenerations, AtMostOneFamilyAnswers)
{
    EXPECT_LE(is_win8_client_os() + is_win8_server_os() + is_win2008_os(), 1);
    // is_efi_system is left to the host suites: Wine's kernel32 has no GetFirmwareType.
}

TEST(MountTable, EveryEntryNamesAVolumeAndWhereItIsMounted)
{
    vo_fstab_entry *table = getfstab();
    ASSERT_NE(table, nullptr);
    bool systemDrive = false, folders = false;
    for (vo_fstab_entry *entry = table; entry != NULL; entry = entry->next) {
        EXPECT_EQ(std::strncmp(entry->device, "\\\\?\\Volume{", 11), 0) << entry->device;
        EXPECT_EQ(entry->device[std::strlen(entry->device) - 1], '\\') << entry->device;
        ASSERT_GE(std::strlen(entry->mountdir), 2u);
        EXPECT_EQ(entry->mountdir[1], ':');
        EXPECT_NE(entry->mountdir[std::strlen(entry->mountdir) - 1], '\\') << entry->mountdir;
        EXPECT_NE(entry->fstype[0], 0);
        // Drive letters come before mount folders.
        if (std::strlen(entry->mountdir) > 2)
            folders = true;
        else
            EXPECT_FALSE(folders) << entry->mountdir;
        systemDrive = systemDrive || std::strcmp(entry->mountdir, "C:") == 0;
    }
    EXPECT_TRUE(systemDrive);
    vo_free_fstab(table);
    vo_free_fstab(NULL);
}

TEST(VolumeTests, DriveRootsAreMountPointsWithTheFileSystemOfTheirMountTableEntry)
{
    EXPECT_EQ(is_mount_point("C:\\"), 1);
    EXPECT_EQ(is_mount_point("C:"), 1);
    EXPECT_EQ(is_mount_point("C:\\Windows"), 0);
    EXPECT_EQ(is_mount_point(""), 0);
    EXPECT_EQ(is_mount_point(NULL), 0);
    EXPECT_EQ(isfilesystemtype(NULL, "NTFS"), 0);
    EXPECT_EQ(isfilesystemtype("C:\\Windows", "no such file system"), 0);
    EXPECT_EQ(clu_is_cluster_disk(NULL), 0);
    EXPECT_EQ(clu_is_cluster_disk(""), 0);
    vo_fstab_entry *table = getfstab();
    ASSERT_NE(table, nullptr);
    std::string fileSystem;
    for (vo_fstab_entry *entry = table; entry != NULL; entry = entry->next)
        if (std::strcmp(entry->mountdir, "C:") == 0)
            fileSystem = entry->fstype;
    vo_free_fstab(table);
    ASSERT_FALSE(fileSystem.empty());
    EXPECT_EQ(isfilesystemtype("C:\\Windows\\", fileSystem.c_str()), 1);
    for (char &c : fileSystem)
        c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    EXPECT_EQ(isfilesystemtype("c:\\windows", fileSystem.c_str()), 1);  // either case
}

TEST(PathCase, NamesComeBackAsCreated)
{
    const std::string directory = tvtest::UniqueDirectory("PathCase");
    ASSERT_TRUE(CreateDirectoryW(tvtest::Wide("C:\\tvtest").c_str(), NULL) || GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(CreateDirectoryW(tvtest::Wide("C:\\tvtest\\liblocal").c_str(), NULL) ||
                GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(CreateDirectoryW(tvtest::Wide(directory).c_str(), NULL));
    ASSERT_TRUE(tvtest::WriteWholeFile(directory + "\\MixedCase.Txt", "x"));

    std::string asked = directory + "\\mixedcase.TXT";
    for (char &c : asked)
        c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    char buffer[300];
    ASSERT_EQ(vo_correct_path_case(asked.c_str(), buffer, sizeof buffer), 1);
    EXPECT_EQ(std::string(buffer), directory + "\\MixedCase.Txt");
    // Too small a buffer, a missing name, a pattern: no answer.
    EXPECT_EQ(vo_correct_path_case(asked.c_str(), buffer, asked.size()), 0);
    EXPECT_EQ(vo_correct_path_case((directory + "\\Absent.txt").c_str(), buffer, sizeof buffer), 0);
    EXPECT_EQ(vo_correct_path_case((directory + "\\*.txt").c_str(), buffer, sizeof buffer), 0);
    EXPECT_EQ(vo_correct_path_case(NULL, buffer, sizeof buffer), 0);

    DeleteFileW(tvtest::Wide(directory + "\\MixedCase.Txt").c_str());
    RemoveDirectoryW(tvtest::Wide(directory).c_str());
}

} // namespace
