// winsim: the device I/O controls of volumes and disks (winioctl.h), with the SDK's
// structure layouts for 64-bit Windows.
#pragma once

#include "winsim/types.h"
#include "winbase.h"

#define CTL_CODE(DeviceType, Function, Method, Access) \
    (((DeviceType) << 16) | ((Access) << 14) | ((Function) << 2) | (Method))

#define IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS 0x00560000
#define IOCTL_DISK_GET_DRIVE_LAYOUT_EX 0x00070050

typedef struct _DISK_EXTENT {
    DWORD DiskNumber;
    LARGE_INTEGER StartingOffset;
    LARGE_INTEGER ExtentLength;
} DISK_EXTENT, *PDISK_EXTENT;

typedef struct _VOLUME_DISK_EXTENTS {
    DWORD NumberOfDiskExtents;
    DISK_EXTENT Extents[1];
} VOLUME_DISK_EXTENTS, *PVOLUME_DISK_EXTENTS;

typedef enum _PARTITION_STYLE {
    PARTITION_STYLE_MBR,
    PARTITION_STYLE_GPT,
    PARTITION_STYLE_RAW
} PARTITION_STYLE;

#define PARTITION_LDM 0x42

typedef struct _PARTITION_INFORMATION_MBR {
    BYTE PartitionType;
    BOOLEAN BootIndicator;
    BOOLEAN RecognizedPartition;
    DWORD HiddenSectors;
    GUID PartitionId;
} PARTITION_INFORMATION_MBR, *PPARTITION_INFORMATION_MBR;

typedef struct _PARTITION_INFORMATION_GPT {
    GUID PartitionType;
    GUID PartitionId;
    ULONGLONG Attributes;
    WCHAR Name[36];
} PARTITION_INFORMATION_GPT, *PPARTITION_INFORMATION_GPT;

typedef struct _PARTITION_INFORMATION_EX {
    PARTITION_STYLE PartitionStyle;
    LARGE_INTEGER StartingOffset;
    LARGE_INTEGER PartitionLength;
    DWORD PartitionNumber;
    BOOLEAN RewritePartition;
    BOOLEAN IsServicePartition;
    union {
        PARTITION_INFORMATION_MBR Mbr;
        PARTITION_INFORMATION_GPT Gpt;
    };
} PARTITION_INFORMATION_EX, *PPARTITION_INFORMATION_EX;

typedef struct _DRIVE_LAYOUT_INFORMATION_MBR {
    DWORD Signature;
    DWORD CheckSum;
} DRIVE_LAYOUT_INFORMATION_MBR, *PDRIVE_LAYOUT_INFORMATION_MBR;

typedef struct _DRIVE_LAYOUT_INFORMATION_GPT {
    GUID DiskId;
    LARGE_INTEGER StartingUsableOffset;
    LARGE_INTEGER UsableLength;
    DWORD MaxPartitionCount;
} DRIVE_LAYOUT_INFORMATION_GPT, *PDRIVE_LAYOUT_INFORMATION_GPT;

typedef struct _DRIVE_LAYOUT_INFORMATION_EX {
    DWORD PartitionStyle;
    DWORD PartitionCount;
    union {
        DRIVE_LAYOUT_INFORMATION_MBR Mbr;
        DRIVE_LAYOUT_INFORMATION_GPT Gpt;
    };
    PARTITION_INFORMATION_EX PartitionEntry[1];
} DRIVE_LAYOUT_INFORMATION_EX, *PDRIVE_LAYOUT_INFORMATION_EX;

// The sizes and offsets of the SDK's 64-bit layouts, on which callers size their buffers.
static_assert(sizeof(DISK_EXTENT) == 24, "DISK_EXTENT");
static_assert(sizeof(VOLUME_DISK_EXTENTS) == 32, "VOLUME_DISK_EXTENTS");
static_assert(sizeof(PARTITION_INFORMATION_MBR) == 24, "PARTITION_INFORMATION_MBR");
static_assert(sizeof(PARTITION_INFORMATION_GPT) == 112, "PARTITION_INFORMATION_GPT");
static_assert(sizeof(PARTITION_INFORMATION_EX) == 144, "PARTITION_INFORMATION_EX");
static_assert(offsetof(PARTITION_INFORMATION_EX, Mbr) == 32, "PARTITION_INFORMATION_EX union");
static_assert(sizeof(DRIVE_LAYOUT_INFORMATION_GPT) == 40, "DRIVE_LAYOUT_INFORMATION_GPT");
static_assert(offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) == 48, "DRIVE_LAYOUT_INFORMATION_EX entries");
static_assert(sizeof(DRIVE_LAYOUT_INFORMATION_EX) == 192, "DRIVE_LAYOUT_INFORMATION_EX");

EXTERN_C WINBASEAPI BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                                                DWORD nInBufferSize, LPVOID lpOutBuffer, DWORD nOutBufferSize,
                                                LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped);
