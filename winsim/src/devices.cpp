// Device handles on the host's volumes and disks, and the two I/O controls that tell
// which disks a volume lies on and how a disk is partitioned.
#include "handles.h"
#include "volumes.h"
#include "winsim/hostmodel.h"

#include <winioctl.h>

#include <algorithm>

namespace winsim {

namespace {

// An open volume (volume >= 0) or disk (disk >= 0).
class DeviceObject : public KernelObject {
public:
    DeviceObject(const wstring16 &name, int volume, int disk) : name(name), volume(volume), disk(disk) {}
    const wstring16 name;
    const int volume;
    const int disk;
};

bool StartsWithNoCase(const wstring16 &text, const wstring16 &prefix)
{
    return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

DWORD VolumeExtents(const Volume &volume, VOLUME_DISK_EXTENTS *out, DWORD outSize, DWORD &returned)
{
    returned = 0;
    if (volume.extents.empty())
        return ERROR_INVALID_FUNCTION;  // a CD-ROM has no disk extents
    if (out == NULL || outSize < sizeof(VOLUME_DISK_EXTENTS))
        return ERROR_INSUFFICIENT_BUFFER;
    const size_t count = volume.extents.size();
    const size_t needed = offsetof(VOLUME_DISK_EXTENTS, Extents) + count * sizeof(DISK_EXTENT);
    const size_t fits = outSize >= needed ? count : 1;
    out->NumberOfDiskExtents = DWORD(count);
    for (size_t i = 0; i < fits; ++i) {
        out->Extents[i].DiskNumber = volume.extents[i].disk;
        out->Extents[i].StartingOffset.QuadPart = LONGLONG(volume.extents[i].offset);
        out->Extents[i].ExtentLength.QuadPart = LONGLONG(volume.extents[i].length);
    }
    // With more extents than room, the header (the count) and the first extent are there.
    returned = DWORD(fits == count ? needed : sizeof(VOLUME_DISK_EXTENTS));
    return fits == count ? ERROR_SUCCESS : ERROR_MORE_DATA;
}

DWORD DriveLayout(const Disk &disk, BYTE *out, DWORD outSize, DWORD &returned)
{
    returned = 0;
    size_t entries = disk.partitions.size();
    // An MBR layout comes in whole tables of four entries, unused ones of type 0.
    if (disk.style == PartitionStyle::Mbr)
        entries = std::max<size_t>(4, (entries + 3) / 4 * 4);
    const size_t needed = offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) +
                          std::max<size_t>(entries, 1) * sizeof(PARTITION_INFORMATION_EX);
    if (out == NULL || outSize < needed)
        return ERROR_INSUFFICIENT_BUFFER;
    std::fill(out, out + needed, BYTE(0));
    DRIVE_LAYOUT_INFORMATION_EX *layout = reinterpret_cast<DRIVE_LAYOUT_INFORMATION_EX *>(out);
    layout->PartitionCount = DWORD(entries);
    switch (disk.style) {
    case PartitionStyle::Raw:
        layout->PartitionStyle = PARTITION_STYLE_RAW;
        layout->PartitionCount = 0;
        break;
    case PartitionStyle::Mbr:
        layout->PartitionStyle = PARTITION_STYLE_MBR;
        layout->Mbr.Signature = disk.signature;
        break;
    case PartitionStyle::Gpt:
        layout->PartitionStyle = PARTITION_STYLE_GPT;
        layout->Gpt.DiskId = disk.diskId;
        layout->Gpt.StartingUsableOffset.QuadPart = 34 * LONGLONG(disk.bytesPerSector);
        layout->Gpt.UsableLength.QuadPart = LONGLONG(disk.size) - 67 * LONGLONG(disk.bytesPerSector);
        layout->Gpt.MaxPartitionCount = 128;
        break;
    }
    for (size_t i = 0; i < disk.partitions.size() && disk.style != PartitionStyle::Raw; ++i) {
        const Partition &partition = disk.partitions[i];
        PARTITION_INFORMATION_EX &entry = layout->PartitionEntry[i];
        entry.StartingOffset.QuadPart = LONGLONG(partition.offset);
        entry.PartitionLength.QuadPart = LONGLONG(partition.length);
        entry.PartitionNumber = partition.number;
        if (disk.style == PartitionStyle::Gpt) {
            entry.PartitionStyle = PARTITION_STYLE_GPT;
            entry.Gpt.PartitionType = partition.gptType;
            const size_t length = std::min<size_t>(partition.name.size(), 35);
            std::copy(partition.name.begin(), partition.name.begin() + long(length), entry.Gpt.Name);
        } else {
            entry.PartitionStyle = PARTITION_STYLE_MBR;
            entry.Mbr.PartitionType = partition.mbrType;
            entry.Mbr.BootIndicator = partition.bootIndicator;
            entry.Mbr.RecognizedPartition = partition.mbrType != 0;
            entry.Mbr.HiddenSectors = DWORD(partition.offset / disk.bytesPerSector);
        }
    }
    returned = DWORD(needed);
    return ERROR_SUCCESS;
}

} // namespace

bool OpenDevice(const wstring16 &name, HANDLE &handle, DWORD &error)
{
    handle = INVALID_HANDLE_VALUE;
    if (name.size() < 4 || name[0] != u'\\' || name[1] != u'\\' || (name[2] != u'?' && name[2] != u'.') ||
        name[3] != u'\\')
        return false;
    const wstring16 rest = name.substr(4);
    const Host &host = CurrentHost();
    int volume = -1;
    int disk = -1;
    if (StartsWithNoCase(rest, u"Volume{") && rest.size() == 44) {
        volume = VolumeIndexOfName(u"\\\\?\\" + rest + u"\\");
    } else if (name[2] == u'.' && rest.size() == 2 && rest[1] == u':') {
        for (size_t i = 0; i < host.volumes.size(); ++i) {
            if (host.volumes[i].driveLetter != 0 && FoldUpper(host.volumes[i].driveLetter) == FoldUpper(rest[0]))
                volume = int(i);
        }
    } else if (name[2] == u'.' && StartsWithNoCase(rest, u"PhysicalDrive") && rest.size() > 13) {
        DWORD number = 0;
        bool digits = rest.size() - 13 <= 9;
        for (size_t i = 13; i < rest.size() && digits; ++i) {
            digits = rest[i] >= u'0' && rest[i] <= u'9';
            number = number * 10 + DWORD(rest[i] - u'0');
        }
        if (digits && host.FindDisk(number) != NULL)
            disk = int(number);
    } else {
        return false;  // a path below a volume, or another device winsim does not have
    }
    if (volume < 0 && disk < 0) {
        error = ERROR_FILE_NOT_FOUND;
        return true;
    }
    handle = InsertHandle(std::make_shared<DeviceObject>(name, volume, disk));
    error = ERROR_SUCCESS;
    return true;
}

} // namespace winsim

using namespace winsim;

EXTERN_C BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                                     LPOVERLAPPED lpOverlapped)
{
    (void)lpInBuffer;
    (void)nInBufferSize;
    std::shared_ptr<KernelObject> object = LookupHandle(hDevice);
    if (!object)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    std::shared_ptr<DeviceObject> device = std::dynamic_pointer_cast<DeviceObject>(object);
    if (!device)
        return Fail(ERROR_INVALID_FUNCTION, FALSE);  // a file handle answers neither control
    if (lpOverlapped != NULL) {
        LogNotImplemented("DeviceIoControl", "overlapped requests");
        return Fail(ERROR_CALL_NOT_IMPLEMENTED, FALSE);
    }
    Fault fault;
    if (TakeFault("DeviceIoControl", device->name, &fault))
        return Fail(fault.error, FALSE);
    const Host &host = CurrentHost();
    DWORD returned = 0;
    DWORD error = ERROR_INVALID_FUNCTION;
    switch (dwIoControlCode) {
    case IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS:
        if (device->volume >= 0 && size_t(device->volume) < host.volumes.size())
            error = VolumeExtents(host.volumes[size_t(device->volume)],
                                  static_cast<VOLUME_DISK_EXTENTS *>(lpOutBuffer), nOutBufferSize, returned);
        break;
    case IOCTL_DISK_GET_DRIVE_LAYOUT_EX:
        if (device->disk >= 0) {
            const Disk *disk = host.FindDisk(DWORD(device->disk));
            error = disk == NULL ? DWORD(ERROR_FILE_NOT_FOUND)
                                 : DriveLayout(*disk, static_cast<BYTE *>(lpOutBuffer), nOutBufferSize, returned);
        }
        break;
    default:
        LogNotImplemented("DeviceIoControl", ("control code " + std::to_string(dwIoControlCode)).c_str());
        error = ERROR_INVALID_FUNCTION;
        break;
    }
    if (lpBytesReturned != NULL)
        *lpBytesReturned = returned;
    if (error != ERROR_SUCCESS)
        return Fail(error, FALSE);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
