// Operating-system, firmware, volume and cluster tests, and the table of mounted file
// systems, asked of Windows through kernel32 and the registry.
#include <liblocal/vosystem.h>
#include <liblocal/xalloc.h>

#include "internal.h"

#include <liblocal/vodevices.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// The running version. GetVersionExW answers a program without a Windows 10 manifest
// with 6.2 from Windows 8.1 on; every test here asks "6.0/6.1" or "6.2 or later", which
// that answer still decides rightly.
bool RunningVersion(OSVERSIONINFOEXW &info)
{
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    return GetVersionExW(reinterpret_cast<OSVERSIONINFOW *>(&info)) != FALSE;
}

bool Win8GenerationOrLater(const OSVERSIONINFOEXW &info)
{
    return info.dwMajorVersion > 6 || (info.dwMajorVersion == 6 && info.dwMinorVersion >= 2);
}

bool EqualNoCase(const wstr &a, const wstr &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (vo::FoldCase(char32_t(a[i])) != vo::FoldCase(char32_t(b[i])))
            return false;
    }
    return true;
}

wstr WithBackslash(wstr path)
{
    if (path.empty() || path.back() != W('\\'))
        path.push_back(W('\\'));
    return path;
}

// The root of the volume that holds a path ("C:\", "D:\Mount\Data\", "\\?\Volume{...}\").
bool VolumeRootOf(const wstr &path, wstr &root)
{
    WCHAR buffer[MAX_PATH + 1] = {};
    if (!GetVolumePathNameW(path.c_str(), buffer, MAX_PATH + 1))
        return false;
    root = buffer;
    return true;
}

bool VolumeGuidPathOf(const wstr &root, wstr &guidPath)
{
    WCHAR buffer[64] = {};
    if (!GetVolumeNameForVolumeMountPointW(WithBackslash(root).c_str(), buffer, 64))
        return false;
    guidPath = buffer;
    return true;
}

// The paths a volume is mounted at, each with its trailing backslash.
std::vector<wstr> MountPathsOf(const wstr &guidPath)
{
    std::vector<WCHAR> buffer(MAX_PATH);
    DWORD needed = 0;
    while (!GetVolumePathNamesForVolumeNameW(guidPath.c_str(), buffer.data(), DWORD(buffer.size()), &needed)) {
        if (GetLastError() != ERROR_MORE_DATA || needed <= buffer.size())
            return {};
        buffer.resize(needed);
    }
    std::vector<wstr> paths;
    for (const WCHAR *at = buffer.data(); *at != 0; at += wstr(at).size() + 1)
        paths.emplace_back(at);
    return paths;
}

// The disks a volume lies on, in the order of its extents.
bool DiskNumbersOf(const wstr &guidPath, std::vector<DWORD> &disks)
{
    wstr device = guidPath;
    if (!device.empty() && device.back() == W('\\'))
        device.pop_back();  // the volume device, not its root directory
    vo::FileHandle volume(CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                      0, NULL));
    return volume.valid() && vo::ReadVolumeDiskNumbers(volume.get(), disks);
}

// The identity the cluster disk driver knows a disk by: its MBR signature as eight hex
// digits, or its GPT disk GUID in braces.
bool DiskIdentityOf(DWORD disk, wstr &identity)
{
    vo::FileHandle drive(vo::OpenPhysicalDrive(disk));
    std::vector<BYTE> buffer;
    if (!drive.valid() || !vo::ReadDriveLayout(drive.get(), buffer))
        return false;
    const DRIVE_LAYOUT_INFORMATION_EX *layout = reinterpret_cast<DRIVE_LAYOUT_INFORMATION_EX *>(buffer.data());
    if (layout->PartitionStyle == PARTITION_STYLE_MBR) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%08lX", static_cast<unsigned long>(layout->Mbr.Signature));
        identity = vo::Widen(hex);
        return true;
    }
    if (layout->PartitionStyle == PARTITION_STYLE_GPT) {
        const GUID &id = layout->Gpt.DiskId;
        char text[40];
        std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                      static_cast<unsigned long>(id.Data1), id.Data2, id.Data3, id.Data4[0], id.Data4[1],
                      id.Data4[2], id.Data4[3], id.Data4[4], id.Data4[5], id.Data4[6], id.Data4[7]);
        identity = vo::Widen(text);
        return true;
    }
    return false;
}

bool RegistryKeyExists(const wstr &path)
{
    HKEY key = NULL;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

vo_fstab_entry *NewEntry(const wstr &device, const wstr &mountDir, const wstr &fileSystem)
{
    vo_fstab_entry *entry = static_cast<vo_fstab_entry *>(xcalloc(1, sizeof(vo_fstab_entry)));
    entry->device = vo::MallocCopy(vo::Narrow(device));
    entry->mountdir = vo::MallocCopy(vo::Narrow(mountDir));
    entry->fstype = vo::MallocCopy(vo::Narrow(fileSystem));
    return entry;
}

} // namespace

extern "C" {

int is_win2008_os(void)
{
    OSVERSIONINFOEXW info;
    return RunningVersion(info) && info.dwMajorVersion == 6 && info.dwMinorVersion <= 1 &&
                   info.wProductType != VER_NT_WORKSTATION
               ? 1
               : 0;
}

int is_win8_client_os(void)
{
    OSVERSIONINFOEXW info;
    return RunningVersion(info) && Win8GenerationOrLater(info) && info.wProductType == VER_NT_WORKSTATION ? 1 : 0;
}

int is_win8_server_os(void)
{
    OSVERSIONINFOEXW info;
    return RunningVersion(info) && Win8GenerationOrLater(info) && info.wProductType != VER_NT_WORKSTATION ? 1 : 0;
}

int is_efi_system(void)
{
    // Not GetFirmwareType: it arrived with Windows 8, and a DLL importing it does not load
    // on older systems (nor runs under Wine, whose kernel32 lacks it). Reading a variable
    // of the empty namespace answers everywhere: legacy BIOS fails it with
    // ERROR_INVALID_FUNCTION, UEFI with another error (no such variable, no privilege).
    if (GetFirmwareEnvironmentVariableW(W(""), W("{00000000-0000-0000-0000-000000000000}"), NULL, 0) != 0)
        return 1;
    return GetLastError() != ERROR_INVALID_FUNCTION ? 1 : 0;
}

vo_fstab_entry *getfstab(void)
{
    WCHAR name[64] = {};
    HANDLE search = FindFirstVolumeW(name, 64);
    if (search == INVALID_HANDLE_VALUE) {
        vo::SetWin32Error(GetLastError());
        return NULL;
    }
    std::vector<vo_fstab_entry *> letters;
    std::vector<vo_fstab_entry *> folders;
    do {
        const wstr guidPath(name);
        for (const wstr &path : MountPathsOf(guidPath)) {
            WCHAR fileSystem[MAX_PATH + 1] = {};
            if (!GetVolumeInformationW(path.c_str(), NULL, 0, NULL, NULL, NULL, fileSystem, MAX_PATH + 1))
                continue;  // no medium in the drive: nothing is mounted there
            const wstr mountDir = path.substr(0, path.size() - 1);
            (mountDir.size() == 2 ? letters : folders).push_back(NewEntry(guidPath, mountDir, fileSystem));
        }
    } while (FindNextVolumeW(search, name, 64));
    const DWORD error = GetLastError();
    FindVolumeClose(search);
    letters.insert(letters.end(), folders.begin(), folders.end());
    if (error != ERROR_NO_MORE_FILES) {
        for (vo_fstab_entry *entry : letters)
            entry->next = NULL, vo_free_fstab(entry);
        vo::SetWin32Error(error);
        return NULL;
    }
    for (size_t i = 0; i + 1 < letters.size(); ++i)
        letters[i]->next = letters[i + 1];
    return letters.empty() ? NULL : letters.front();
}

void vo_free_fstab(vo_fstab_entry *table)
{
    while (table != NULL) {
        vo_fstab_entry *next = table->next;
        std::free(table->device);
        std::free(table->mountdir);
        std::free(table->fstype);
        std::free(table);
        table = next;
    }
}

int is_mount_point(const char *path)
{
    if (path == NULL || path[0] == 0)
        return 0;
    wstr guidPath;
    return VolumeGuidPathOf(vo::Widen(path), guidPath) ? 1 : 0;
}

int isfilesystemtype(const char *path, const char *type)
{
    if (path == NULL || path[0] == 0 || type == NULL)
        return 0;
    wstr root;
    if (!VolumeRootOf(vo::Widen(path), root))
        return 0;
    WCHAR fileSystem[MAX_PATH + 1] = {};
    if (!GetVolumeInformationW(root.c_str(), NULL, 0, NULL, NULL, NULL, fileSystem, MAX_PATH + 1))
        return 0;
    return EqualNoCase(fileSystem, vo::Widen(type)) ? 1 : 0;
}

int clu_is_cluster_host(void)
{
    // The cluster service loads the cluster database at HKLM\Cluster on every node.
    return RegistryKeyExists(W("Cluster")) ? 1 : 0;
}

int clu_is_cluster_disk(const char *volume)
{
    if (volume == NULL || volume[0] == 0 || !clu_is_cluster_host())
        return 0;
    wstr root;
    wstr guidPath;
    std::vector<DWORD> disks;
    if (!VolumeRootOf(vo::Widen(volume), root) || !VolumeGuidPathOf(root, guidPath) ||
        !DiskNumbersOf(guidPath, disks))
        return 0;
    // The cluster disk driver keeps the disks it owns under its Signatures key.
    for (DWORD disk : disks) {
        wstr identity;
        if (DiskIdentityOf(disk, identity) &&
            RegistryKeyExists(W("SYSTEM\\CurrentControlSet\\Services\\ClusDisk\\Parameters\\Signatures\\") + identity))
            return 1;
    }
    return 0;
}

int vo_correct_path_case(const char *path, char *buffer, size_t size)
{
    if (path == NULL || buffer == NULL || size == 0)
        return 0;
    // Each name as the directory listing spells it, found with FindFirstFileW.
    const wstr wide = vo::Widen(path);
    if (wide.find_first_of(W("*?")) != wstr::npos)
        return 0;  // a pattern names no one path
    wstr corrected;
    size_t at = 0;
    if (wide.size() >= 2 && wide[1] == W(':')) {
        corrected.push_back(WCHAR(wide[0] >= W('a') && wide[0] <= W('z') ? wide[0] - W('a') + W('A') : wide[0]));
        corrected.push_back(W(':'));
        at = 2;
    }
    while (at < wide.size()) {
        if (wide[at] == W('\\') || wide[at] == W('/')) {
            corrected.push_back(W('\\'));
            ++at;
            continue;
        }
        size_t end = at;
        while (end < wide.size() && wide[end] != W('\\') && wide[end] != W('/'))
            ++end;
        const wstr probe = corrected + wide.substr(at, end - at);
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(probe.c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return 0;
        FindClose(search);
        corrected += found.cFileName;
        at = end;
    }
    const std::string narrow = vo::Narrow(corrected);
    if (narrow.size() + 1 > size)
        return 0;
    std::memcpy(buffer, narrow.c_str(), narrow.size() + 1);
    return 1;
}

} // extern "C"
