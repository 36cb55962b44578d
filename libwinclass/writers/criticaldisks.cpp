// The disk tests of the critical volumes: the disks of a volume, dynamic disks, Storage
// Spaces disks (over WMI), and whether a volume may be critical at all.
#include <libwinclass/backup.h>
#include <libwinclass/wmi.h>

#include <libwinclass/backup/trace.h>
#include <libwinclass/backup/volsnapmap.h>
#include <libwinclass/wmi/comref.h>
#include <libwinclass/writers/critical.h>

#include <liblocal/local.h>
#include <liblocal/vodevices.h>

#include <comdef.h>
#include <comutil.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace winclass {

namespace {

// Windows volume calls take names of this many characters.
const size_t kVolumeChars = 260;
const size_t kErrorTextBytes = 1024;
const int kStorageSpacesBusType = 16;

// The partition types of the logical disk manager: its metadata and its data.
const GUID kLdmMetadataPartition = {0x5808C8AA, 0x7E8F, 0x42E0, {0x85, 0xD2, 0xE1, 0xE9, 0x04, 0x34, 0xCF, 0xB3}};
const GUID kLdmDataPartition = {0xAF9B60A0, 0x1431, 0x4F62, {0xBC, 0x68, 0x33, 0x11, 0x71, 0x4A, 0x69, 0xAD}};
const BYTE kLdmMbrType = 0x42;

bool SameGuid(const GUID &a, const GUID &b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

// The volume device itself (a GUID path without its trailing backslash), for the controls.
HANDLE OpenVolumeDevice(const char *guidPath)
{
    WCHAR wide[kVolumeChars] = {};
    vo_utf8s_to_wcs(wide, guidPath, kVolumeChars);
    return CreateFileW(wide, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
}

// A message of the Storage Spaces query: "..., error=0x%x: %s.\n" with the code's text.
void PrintWmiFailure(int number, const char *format, HRESULT hr)
{
    std::vector<char> text(WMI_SYSTEM_TEXT_SIZE);
    format_system_message_utf8(DWORD(hr), text.data(), int(text.size()));
    msg_print(number, 55000, 2, format, VO_ARG_INT, inttostr(hr), VO_ARG_TEXT, text.data());
}

// The whole number a WMI property holds (the integer types come as VT_I4 and kin).
bool IntegerOf(const VARIANT *value, int64_t *number)
{
    switch (V_VT(value)) {
    case VT_I1: *number = V_I1(value); return true;
    case VT_UI1: *number = V_UI1(value); return true;
    case VT_I2: *number = V_I2(value); return true;
    case VT_UI2: *number = V_UI2(value); return true;
    case VT_I4: *number = V_I4(value); return true;
    case VT_UI4: *number = V_UI4(value); return true;
    case VT_INT: *number = V_INT(value); return true;
    case VT_UINT: *number = V_UINT(value); return true;
    default: return false;
    }
}

int CompareDiskNumbers(const void *a, const void *b)
{
    const uint32_t x = *static_cast<const uint32_t *>(a);
    const uint32_t y = *static_cast<const uint32_t *>(b);
    return x < y ? -1 : (x > y ? 1 : 0);
}

void AddDiskNumber(vo_cell **list, uint32_t disk)
{
    vo_cell *cell = static_cast<vo_cell *>(xcalloc(1, sizeof(vo_cell)));
    uint32_t *number = static_cast<uint32_t *>(xmalloc(sizeof(uint32_t)));
    *number = disk;
    cell->data = number;
    vo_cell *rejected = NULL;
    list_addelem(cell, list, &rejected, CompareDiskNumbers);
    if (rejected != NULL) {
        std::free(rejected->data);
        std::free(rejected);
    }
}

// Every MSFT_Disk the enumerator gives whose bus is Storage Spaces, into list.
HRESULT CollectStorageSpacesDisks(IEnumWbemClassObject *disks, vo_cell **list)
{
    for (;;) {
        ComRef<IWbemClassObject> disk;
        ULONG returned = 0;
        HRESULT hr = disks->Next(WBEM_INFINITE, 1, disk.out(), &returned);
        if (FAILED(hr)) {
            PrintWmiFailure(94736, "Storage Spaces: Unable to read the next WMI object, error=0x%x: %s.\n", hr);
            return hr;
        }
        if (returned == 0 || !disk)
            return S_OK;
        ScopedVariant busType;
        ScopedVariant number;
        int64_t bus = 0;
        int64_t diskNumber = 0;
        if (FAILED(hr = disk->Get(W("BusType"), 0, busType.get(), NULL, NULL)) ||
            (IntegerOf(busType.get(), &bus) && bus == kStorageSpacesBusType &&
             FAILED(hr = disk->Get(W("Number"), 0, number.get(), NULL, NULL)))) {
            PrintWmiFailure(94737, "Storage Spaces: Unable to read the property of MSFT_Disk WMI class, error=0x%x: %s.\n",
                            hr);
            return hr;
        }
        if (bus == kStorageSpacesBusType && IntegerOf(number.get(), &diskNumber) && diskNumber >= 0)
            AddDiskNumber(list, uint32_t(diskNumber));
    }
}

} // namespace

bool IsDynamicDisk(int disk)
{
    if (disk < 0)
        return false;
    vo::DeviceHandle drive(vo::OpenPhysicalDrive(DWORD(disk)));
    std::vector<BYTE> buffer;
    if (!drive.valid() || !vo::ReadDriveLayout(drive.get(), buffer))
        return false;
    const DRIVE_LAYOUT_INFORMATION_EX *layout = reinterpret_cast<const DRIVE_LAYOUT_INFORMATION_EX *>(buffer.data());
    for (DWORD i = 0; i < layout->PartitionCount; ++i) {
        const PARTITION_INFORMATION_EX &entry = layout->PartitionEntry[i];
        if (entry.PartitionStyle == PARTITION_STYLE_MBR && entry.Mbr.PartitionType == kLdmMbrType)
            return true;
        if (entry.PartitionStyle == PARTITION_STYLE_GPT &&
            (SameGuid(entry.Gpt.PartitionType, kLdmMetadataPartition) ||
             SameGuid(entry.Gpt.PartitionType, kLdmDataPartition)))
            return true;
    }
    return false;
}

HRESULT GetStorageSpacesDiskNumbers(vo_cell **out)
{
    if (out == NULL)
        return E_POINTER;
    *out = NULL;
    vo_cell *list = NULL;
    HRESULT hr;
    {
        WbemSession session;
        ComRef<IEnumWbemClassObject> disks;  // released before the session closes
        hr = initialize_wbem(&session.services, &session.locator, W("\\\\.\\Root\\Microsoft\\Windows\\Storage"));
        if (SUCCEEDED(hr)) {
            hr = session.services->ExecQuery(_bstr_t(W("WQL")), _bstr_t(W("SELECT Number, BusType FROM MSFT_Disk")),
                                             WBEM_FLAG_RETURN_IMMEDIATELY | WBEM_FLAG_FORWARD_ONLY, NULL, disks.out());
            if (FAILED(hr))
                PrintWmiFailure(94735, "Storage Spaces: Unable to query MSFT_Disk WMI class, error=0x%x: %s.\n", hr);
            else
                hr = CollectStorageSpacesDisks(disks.get(), &list);
        }
    }
    if (FAILED(hr)) {
        list_free_1(list, std::free);
        return hr;
    }
    *out = list;
    return hr;
}

int IsVolumeOnStorageSpaces(const char *guid, bool *onSpaces, DWORD *spacesDisk)
{
    if (guid == NULL || guid[0] == 0) {
        msg_print(94738, 53000, 2,
                  "Storage Spaces: Unable to get the disk numbers for the volume: the volume GUID is missing.\n");
        return 0;
    }
    if (onSpaces == NULL) {
        msg_print(94739, 53000, 2,
                  "Storage Spaces: Unable to get the disk numbers for the volume: Output variables is pointing to "
                  "NULL.\n");
        return 0;
    }
    std::vector<char> device(guid, guid + strlen(guid) + 1);
    rmdirsep(device.data(), '\\');
    *onSpaces = false;
    vo::DeviceHandle volume(OpenVolumeDevice(device.data()));
    if (!volume.valid()) {
        msg_print(94741, 55000, 2,
                  "Storage Spaces: Unable to create file '%s' while trying to obtain the disk numbers for volume: %s\n",
                  VO_ARG_TEXT, device.data(), VO_ARG_ERRTEXT, nt_syserror());
        return 0;
    }
    std::vector<DWORD> disks;
    if (!vo::ReadVolumeDiskNumbers(volume.get(), disks))
        return 0;
    vo_cell *spaces = NULL;
    const HRESULT hr = GetStorageSpacesDiskNumbers(&spaces);
    if (FAILED(hr)) {
        std::vector<char> text(WMI_SYSTEM_TEXT_SIZE);
        format_system_message_utf8(DWORD(hr), text.data(), int(text.size()));
        msg_print(94740, 55000, 2, "Storage Spaces: Unable to get Storage Spaces virtual disks information, error=0x%x: %s.\n",
                  VO_ARG_INT, inttostr(hr), VO_ARG_TEXT, text.data());
        return 0;
    }
    for (DWORD disk : disks) {
        for (const vo_cell *cell = spaces; cell != NULL && !*onSpaces; cell = cell->next) {
            if (*static_cast<const uint32_t *>(cell->data) == disk) {
                *onSpaces = true;
                if (spacesDisk != NULL)
                    *spacesDisk = disk;
            }
        }
    }
    list_free_1(spaces, std::free);
    return 1;
}

bool VolumeAllowedAsCritical(const char *path, const char *guid, std::string *cause)
{
    // Only drive-letter volumes (and folders on them) are tested.
    if (path == NULL || path[0] == 0 || path[1] != ':')
        return true;
    if (is_win8_server_os()) {
        bool onSpaces = false;
        DWORD spacesDisk = 0;
        if (guid == NULL || guid[0] == 0) {
            msg_print(94892, 52000, 18,
                      "Disaster Recovery: The GUID of the critical volume %s is NULL. Skipping the Storage Spaces "
                      "validation for this volume.\n",
                      VO_ARG_TEXT, path);
        } else if (IsVolumeOnStorageSpaces(guid, &onSpaces, &spacesDisk) && onSpaces) {
            msg_print(94035, 52000, 18,
                      "Disaster Recovery: critical volume %s identified for disaster recovery backup has been created "
                      "on storage spaces. Backups of critical volumes on storage spaces is not supported.\n",
                      VO_ARG_TEXT, path);
            if (cause != NULL)
                *cause = "on Storage Spaces disk " + std::to_string(spacesDisk);
            return false;
        }
    }
    bool allowed = true;
    std::string causes;
    if (clu_is_cluster_disk(path)) {
        msg_print(99127, 52000, 18,
                  "Disaster Recovery: critical volume %s identified for disaster recovery backup has been created on a "
                  "clustered volume. Backup of critical volume on clustered volume is not supported.\n",
                  VO_ARG_TEXT, path);
        allowed = false;
        causes = "on a clustered disk";
    }
    if (isfilesystemtype(path, "CSVFS")) {
        msg_print(99128, 52000, 18,
                  "Disaster Recovery: critical volume %s identified for disaster recovery backup has been created on a "
                  "CSV volume. Backup of critical volume on CSV volume is not supported.\n",
                  VO_ARG_TEXT, path);
        allowed = false;
        causes += causes.empty() ? "on a Cluster Shared Volume (CSVFS)" : " and a Cluster Shared Volume (CSVFS)";
    }
    if (cause != NULL)
        *cause = causes;
    return allowed;
}

} // namespace winclass

extern "C" {

int getDiskNumbersForVolume(char *guidPath, const char *name, char *buffer, size_t size)
{
    if (guidPath == NULL || guidPath[0] == 0) {
        msg_print(90513, 55000, 2, "Unable to get the disk numbers for the volume: the volume GUID is missing.\n");
        return 0;
    }
    if (buffer == NULL) {
        msg_print(90514, 55000, 2,
                  "Unable to get the disk numbers for the volume: the buffer for the disk numbers is missing.\n");
        return 0;
    }
    std::memset(buffer, 0, size);
    // The caller's own text loses its trailing backslash: the volume device, not its root.
    const size_t length = strlen(guidPath);
    if (guidPath[length - 1] == '\\')
        guidPath[length - 1] = 0;
    vo::DeviceHandle volume(winclass::OpenVolumeDevice(guidPath));
    if (!volume.valid()) {
        vo_error_set_last(int(GetLastError()), VO_ERR_WIN32);
        char errorText[winclass::kErrorTextBytes];
        vo_error_get_message(errorText, sizeof errorText);
        if (winclass::TraceSetup())
            debugprintf("Unable to create file while trying to obtain the disk numbers for volume: %s with error: %s.\n",
                        name != NULL ? name : "", errorText);
        return 0;
    }
    std::vector<DWORD> disks;
    if (!vo::ReadVolumeDiskNumbers(volume.get(), disks))
        return 0;
    // Numbers that do not fit are left out; the text stays terminated.
    size_t used = 0;
    for (size_t i = 0; i < disks.size(); ++i) {
        char number[16];
        const int digits = vo_snprintf(number, sizeof number, "%lu", static_cast<unsigned long>(disks[i]));
        if (used + size_t(digits) + 2 >= size)
            continue;
        std::memcpy(buffer + used, number, size_t(digits));
        used += size_t(digits);
        if (i + 1 < disks.size())
            buffer[used++] = ',';
        buffer[used] = 0;
    }
    return 1;
}

int is_volume_allowed_as_critical(const char *path, const char *guid)
{
    // No path names no volume, and so no critical one; inside the library every volume
    // tested has a path.
    if (path == NULL)
        return 0;
    return winclass::VolumeAllowedAsCritical(path, guid, nullptr) ? 1 : 0;
}

int is_bcd_partition(const char *path)
{
    static const char kDevicePrefix[] = "\\\\?\\GLOBALROOT\\Device\\HarddiskVolume";
    static const char kGuidPrefix[] = "\\\\?\\Volume{";
    if (path == NULL)
        return 0;
    const size_t length = strlen(path);
    const auto startsWith = [&](const char *prefix, size_t prefixLength) {
        return length >= prefixLength && winclass::EqualIgnoringCase(path, prefix, prefixLength);
    };
    return startsWith(kDevicePrefix, sizeof kDevicePrefix - 1) || startsWith(kGuidPrefix, sizeof kGuidPrefix - 1) ? 1
                                                                                                                  : 0;
}

} // extern "C"
