// liblocal's operating-system, firmware, mount-table, volume and cluster tests on
// described hosts: the default server, the cluster node, a Windows Server 2008 R2 made
// from the default, and a desktop with a mount folder on a spanned dynamic volume.
#include <host/lasterror.h>
#include <platform/tvplatform.h>
#include <liblocal/vosystem.h>
#include <winioctl.h>
#include <winsim/host.h>
#include <winsim/hostmodel.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

void UseHostFile(const char *name)
{
    winsim::ReplaceHost(winsim::LoadHostFile(std::string(TV_SOURCE_DIR) + "/tests/host/hosts/" + name));
}

void UseEmbeddedHost(const char *name) { winsim::ReplaceHost(winsim::ParseHost(winsim::EmbeddedHostJson(name))); }

// The table as (device, mount directory, file system), in its order.
std::vector<std::vector<std::string>> MountTable()
{
    std::vector<std::vector<std::string>> rows;
    vo_fstab_entry *table = getfstab();
    for (vo_fstab_entry *entry = table; entry != NULL; entry = entry->next)
        rows.push_back({entry->device, entry->mountdir, entry->fstype});
    vo_free_fstab(table);
    return rows;
}

// The operating-system generation, firmware and cluster answers of each kind of host.
TEST(SystemTests, GenerationFirmwareAndClusterFollowTheHost)
{
    const struct {
        const char *host;
        int win8Server, win8Client, win2008, efi, clusterHost;
    } kHosts[] = {
        {"default", 1, 0, 0, 1, 0},
        {"server 2008 R2 on BIOS", 0, 0, 1, 0, 0},
        {"dynamic-mount.json", 0, 1, 0, 0, 0},
        {"cluster-node", 1, 0, 0, 1, 1},
    };
    for (const auto &h : kHosts) {
        if (std::string(h.host) == "server 2008 R2 on BIOS") {
            winsim::Host host = winsim::ParseHost(winsim::EmbeddedHostJson("default"));
            host.os.major = 6;
            host.os.minor = 1;
            host.os.build = 7601;
            host.firmware = winsim::Firmware::Bios;
            winsim::ReplaceHost(std::move(host));
        } else if (std::string(h.host).find(".json") != std::string::npos) {
            UseHostFile(h.host);
        } else {
            UseEmbeddedHost(h.host);
        }
        EXPECT_EQ(is_win8_server_os(), h.win8Server) << h.host;
        EXPECT_EQ(is_win8_client_os(), h.win8Client) << h.host;
        EXPECT_EQ(is_win2008_os(), h.win2008) << h.host;
        EXPECT_EQ(is_efi_system(), h.efi) << h.host;
        EXPECT_EQ(clu_is_cluster_host(), h.clusterHost) << h.host;
    }
    UseEmbeddedHost("default");
    EXPECT_EQ(clu_is_cluster_disk("E:\\"), 0);
}

TEST(SystemTests, DefaultServerMountTableListsLettersThenFolders)
{
    UseEmbeddedHost("default");
    const auto rows = MountTable();
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.front(), (std::vector<std::string>{"\\\\?\\Volume{3c5e7a91-b2d4-4f60-8a1c-2e4f6a8b0c13}\\", "C:",
                                                       "NTFS"}));
    EXPECT_EQ(rows.back(), (std::vector<std::string>{"\\\\?\\Volume{5e7a9c13-d4f6-4b82-8c3e-4a6b8d0f2e48}\\",
                                                      "D:\\Mount\\Archive", "NTFS"}));
    // C D E F G Z and the one folder; the volumes without a path are not mounted.
    EXPECT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows[3][2], "ReFS");
}

TEST(SystemTests, MountPointsAndFileSystemsOnTheDefaultServer)
{
    UseEmbeddedHost("default");
    for (const char *mounted : {"D:\\Mount\\Archive", "d:\\mount\\archive\\", "C:\\", "C:"})
        EXPECT_EQ(is_mount_point(mounted), 1) << mounted;
    for (const char *notMounted : {"D:\\Shares", "Q:\\", (const char *)NULL})
        EXPECT_EQ(is_mount_point(notMounted), 0) << (notMounted ? notMounted : "NULL");
    EXPECT_EQ(isfilesystemtype("F:\\VMs\\web01.vhdx", "refs"), 1);
    EXPECT_EQ(isfilesystemtype("F:\\VMs\\web01.vhdx", "NTFS"), 0);
    EXPECT_EQ(isfilesystemtype("G:\\", "FAT32"), 1);
    EXPECT_EQ(isfilesystemtype("Q:\\x", "NTFS"), 0);
    EXPECT_EQ(isfilesystemtype("C:\\", NULL), 0);
}

TEST(SystemTests, CorrectPathCaseSpellsNamesAsOnDisk)
{
    UseEmbeddedHost("default");
    char buffer[260];
    ASSERT_EQ(vo_correct_path_case("c:\\users\\ADMINISTRATOR\\documents\\REPORT.TXT", buffer, sizeof buffer), 1);
    EXPECT_STREQ(buffer, "C:\\Users\\Administrator\\Documents\\report.txt");
    ASSERT_EQ(vo_correct_path_case("d:\\mount\\archive\\2025", buffer, sizeof buffer), 1);
    EXPECT_STREQ(buffer, "D:\\Mount\\Archive\\2025");
}

TEST(SystemTests, ClusterNodeKnowsItsClusterDisks)
{
    UseEmbeddedHost("cluster-node");
    const winsim::Host &host = winsim::CurrentHost();
    // Every lettered volume is a cluster disk exactly when its disk is described as clustered.
    int clustered = 0;
    for (const winsim::Volume &volume : host.volumes) {
        if (volume.driveLetter == 0 || volume.extents.empty() || volume.offline)
            continue;
        const std::string root = std::string(1, char(volume.driveLetter)) + ":\\";
        const bool expected = host.FindDisk(volume.extents[0].disk)->clustered;
        EXPECT_EQ(clu_is_cluster_disk(root.c_str()), expected ? 1 : 0) << root;
        clustered += expected;
    }
    EXPECT_GT(clustered, 0);
}

TEST(SystemTests, DesktopWithAMountFolderOnASpannedDynamicVolume)
{
    UseHostFile("dynamic-mount.json");
    EXPECT_EQ(is_mount_point("C:\\Media\\Spanned"), 1);
    EXPECT_EQ(is_mount_point("C:\\Media"), 0);
    EXPECT_EQ(isfilesystemtype("C:\\Media\\Spanned\\Photos", "NTFS"), 1);
    // The offline R: is neither mounted nor listed.
    EXPECT_EQ(is_mount_point("R:\\"), 0);
    const auto rows = MountTable();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][1], "C:");
    EXPECT_EQ(rows[1], (std::vector<std::string>{"\\\\?\\Volume{11111111-2222-4333-8444-555555555503}\\",
                                                  "C:\\Media\\Spanned", "NTFS"}));
    char buffer[260];
    ASSERT_EQ(vo_correct_path_case("c:\\media\\spanned\\photos\\summer\\img_0001.jpg", buffer, sizeof buffer), 1);
    EXPECT_STREQ(buffer, "C:\\Media\\Spanned\\Photos\\Summer\\IMG_0001.JPG");

    // The mount folder's volume lies on both dynamic disks, disk 1 twice.
    WCHAR name[64];
    ASSERT_TRUE(GetVolumeNameForVolumeMountPointW(W("C:\\Media\\Spanned\\"), name, 64));
    wstr device(name);
    device.pop_back();
    HANDLE volume = CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(volume, INVALID_HANDLE_VALUE);
    BYTE room[8 + 3 * 24];
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, NULL, 0, room, sizeof room, &returned, NULL));
    EXPECT_EQ(reinterpret_cast<DWORD *>(room)[0], DWORD(3));
    CloseHandle(volume);
    WCHAR root[MAX_PATH];
    EXPECT_FAILS_WITH(GetVolumePathNameW(W("R:\\data"), root, MAX_PATH), ERROR_FILE_NOT_FOUND);
}

TEST(SystemTests, ReplacingTheHostReseedsNamesEnvironmentAndRegistry)
{
    UseEmbeddedHost("cluster-node");
    UseHostFile("dynamic-mount.json");
    WCHAR text[64];
    DWORD size = 64;
    ASSERT_TRUE(GetComputerNameExW(ComputerNameDnsHostname, text, &size));
    EXPECT_EQ(wstr(text), W("TVDESK07"));
    ASSERT_GT(GetEnvironmentVariableW(W("COMPUTERNAME"), text, 64), DWORD(0));
    EXPECT_EQ(wstr(text), W("TVDESK07"));
    EXPECT_EQ(clu_is_cluster_host(), 0);  // the cluster node's keys went with it
    EXPECT_EQ(GetFileAttributesW(W("D:\\Shares")), INVALID_FILE_ATTRIBUTES);
}

} // namespace
