// An owned kernel handle, and the two device controls that say which disks a volume lies
// on and how a disk is partitioned, with their buffer-size rules. Inline, so that the
// runtime and the libraries over it share them without another export.
#pragma once

#include <platform/tvplatform.h>

#include <winioctl.h>

#include <cstddef>
#include <cstdio>
#include <vector>

namespace vo {

// A kernel handle closed when it goes. Empty is INVALID_HANDLE_VALUE, as CreateFileW fails.
class DeviceHandle {
public:
    explicit DeviceHandle(HANDLE handle) : handle_(handle) {}
    ~DeviceHandle()
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
    }
    DeviceHandle(const DeviceHandle &) = delete;
    DeviceHandle &operator=(const DeviceHandle &) = delete;
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

// \\.\PhysicalDriveN for reading its layout.
inline HANDLE OpenPhysicalDrive(DWORD disk)
{
    char name[40];
    std::snprintf(name, sizeof name, "\\\\.\\PhysicalDrive%lu", static_cast<unsigned long>(disk));
    WCHAR wide[40] = {};
    for (size_t i = 0; name[i] != 0; ++i)
        wide[i] = WCHAR(name[i]);
    return CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
}

// The disk of each extent of an open volume, in extent order. Room for one extent is
// offered first; a volume on more says how many with ERROR_MORE_DATA. False when the
// control fails (GetLastError says why).
inline bool ReadVolumeDiskNumbers(HANDLE volume, std::vector<DWORD> &disks)
{
    std::vector<BYTE> buffer(sizeof(VOLUME_DISK_EXTENTS));
    DWORD returned = 0;
    if (!DeviceIoControl(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, NULL, 0, buffer.data(), DWORD(buffer.size()),
                         &returned, NULL)) {
        if (GetLastError() != ERROR_MORE_DATA)
            return false;
        const DWORD count = reinterpret_cast<VOLUME_DISK_EXTENTS *>(buffer.data())->NumberOfDiskExtents;
        buffer.assign(offsetof(VOLUME_DISK_EXTENTS, Extents) + size_t(count) * sizeof(DISK_EXTENT), 0);
        if (!DeviceIoControl(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, NULL, 0, buffer.data(),
                             DWORD(buffer.size()), &returned, NULL))
            return false;
    }
    const VOLUME_DISK_EXTENTS *extents = reinterpret_cast<const VOLUME_DISK_EXTENTS *>(buffer.data());
    for (DWORD i = 0; i < extents->NumberOfDiskExtents; ++i)
        disks.push_back(extents->Extents[i].DiskNumber);
    return true;
}

// The layout of an open disk in buffer (a DRIVE_LAYOUT_INFORMATION_EX). Room for four
// partitions is offered first and doubled while the disk has more; false on any other
// failure, or past 4096 entries, which no disk has.
inline bool ReadDriveLayout(HANDLE drive, std::vector<BYTE> &buffer)
{
    size_t entries = 4;
    for (;;) {
        buffer.assign(offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) + entries * sizeof(PARTITION_INFORMATION_EX),
                      0);
        DWORD returned = 0;
        if (DeviceIoControl(drive, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, NULL, 0, buffer.data(), DWORD(buffer.size()),
                            &returned, NULL))
            return true;
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || entries >= 4096)
            return false;
        entries *= 2;
    }
}

} // namespace vo
