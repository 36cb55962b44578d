// winsim: kernel32 declarations (last error, interlocked operations, environment,
// debugging output, memory, messages, files, computer name).
#pragma once

#include "winsim/types.h"
#include <cstdarg>

EXTERN_C WINBASEAPI DWORD WINAPI GetLastError(void);
EXTERN_C WINBASEAPI void WINAPI SetLastError(DWORD dwErrCode);

EXTERN_C WINBASEAPI LONG WINAPI InterlockedIncrement(LONG volatile *addend);
EXTERN_C WINBASEAPI LONG WINAPI InterlockedDecrement(LONG volatile *addend);
EXTERN_C WINBASEAPI LONG WINAPI InterlockedExchange(LONG volatile *target, LONG value);
EXTERN_C WINBASEAPI LONG WINAPI InterlockedCompareExchange(LONG volatile *destination, LONG exchange,
                                                          LONG comparand);

EXTERN_C WINBASEAPI DWORD WINAPI GetCurrentProcessId(void);
EXTERN_C WINBASEAPI DWORD WINAPI GetCurrentThreadId(void);
// Milliseconds since the system started; wraps to zero after about 49.7 days.
EXTERN_C WINBASEAPI DWORD WINAPI GetTickCount(void);

// A wait without a time-out.
#define INFINITE 0xFFFFFFFF

#define ZeroMemory RtlZeroMemory
// No thread notifications reach a library here; always TRUE.
EXTERN_C WINBASEAPI BOOL WINAPI DisableThreadLibraryCalls(HMODULE hLibModule);

EXTERN_C WINBASEAPI DWORD WINAPI GetEnvironmentVariableW(LPCWSTR lpName, LPWSTR lpBuffer, DWORD nSize);
EXTERN_C WINBASEAPI BOOL WINAPI SetEnvironmentVariableW(LPCWSTR lpName, LPCWSTR lpValue);
EXTERN_C WINBASEAPI DWORD WINAPI ExpandEnvironmentStringsW(LPCWSTR lpSrc, LPWSTR lpDst, DWORD nSize);

EXTERN_C WINBASEAPI void WINAPI OutputDebugStringW(LPCWSTR lpOutputString);
EXTERN_C WINBASEAPI void WINAPI OutputDebugStringA(LPCSTR lpOutputString);

EXTERN_C WINBASEAPI int WINAPI lstrlenW(LPCWSTR lpString);

#define LMEM_FIXED 0x0000
#define LMEM_MOVEABLE 0x0002
#define LMEM_NOCOMPACT 0x0010
#define LMEM_NODISCARD 0x0020
#define LMEM_ZEROINIT 0x0040
#define LMEM_MODIFY 0x0080
#define LMEM_DISCARDABLE 0x0F00
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)
EXTERN_C WINBASEAPI HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes);
EXTERN_C WINBASEAPI HLOCAL WINAPI LocalFree(HLOCAL hMem);

// Pages of the address space: committed read-write, read-only or inaccessible.
#define PAGE_NOACCESS 0x01
#define PAGE_READONLY 0x02
#define PAGE_READWRITE 0x04
#define MEM_COMMIT 0x00001000
#define MEM_RESERVE 0x00002000
#define MEM_DECOMMIT 0x00004000
#define MEM_RELEASE 0x00008000
EXTERN_C WINBASEAPI LPVOID WINAPI VirtualAlloc(LPVOID lpAddress, SIZE_T dwSize, DWORD flAllocationType,
                                              DWORD flProtect);
EXTERN_C WINBASEAPI BOOL WINAPI VirtualProtect(LPVOID lpAddress, SIZE_T dwSize, DWORD flNewProtect,
                                              PDWORD lpflOldProtect);
EXTERN_C WINBASEAPI BOOL WINAPI VirtualFree(LPVOID lpAddress, SIZE_T dwSize, DWORD dwFreeType);

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FF
EXTERN_C WINBASEAPI DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                                                DWORD dwLanguageId, LPWSTR lpBuffer, DWORD nSize,
                                                va_list *Arguments);

// ---- files (fileapi.h, handleapi.h, processenv.h) ----

#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5

#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2

#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)

#define FILE_FLAG_WRITE_THROUGH 0x80000000
#define FILE_FLAG_OVERLAPPED 0x40000000
#define FILE_FLAG_NO_BUFFERING 0x20000000
#define FILE_FLAG_RANDOM_ACCESS 0x10000000
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000
#define FILE_FLAG_DELETE_ON_CLOSE 0x04000000
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000
#define FILE_FLAG_POSIX_SEMANTICS 0x01000000
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000
#define FILE_FLAG_OPEN_NO_RECALL 0x00100000

typedef struct _OVERLAPPED {
    ULONG_PTR Internal;
    ULONG_PTR InternalHigh;
    union {
        struct {
            DWORD Offset;
            DWORD OffsetHigh;
        };
        PVOID Pointer;
    };
    HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;

EXTERN_C WINBASEAPI HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                              LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                                              DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
EXTERN_C WINBASEAPI BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                                         LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped);
EXTERN_C WINBASEAPI BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                                          LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
EXTERN_C WINBASEAPI BOOL WINAPI CloseHandle(HANDLE hObject);
EXTERN_C WINBASEAPI BOOL WINAPI GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize);
EXTERN_C WINBASEAPI BOOL WINAPI SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove,
                                                 PLARGE_INTEGER lpNewFilePointer, DWORD dwMoveMethod);
EXTERN_C WINBASEAPI BOOL WINAPI SetEndOfFile(HANDLE hFile);
EXTERN_C WINBASEAPI BOOL WINAPI FlushFileBuffers(HANDLE hFile);
EXTERN_C WINBASEAPI BOOL WINAPI SetFileTime(HANDLE hFile, const FILETIME *lpCreationTime,
                                            const FILETIME *lpLastAccessTime, const FILETIME *lpLastWriteTime);
EXTERN_C WINBASEAPI DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName);
EXTERN_C WINBASEAPI BOOL WINAPI SetFileAttributesW(LPCWSTR lpFileName, DWORD dwFileAttributes);
EXTERN_C WINBASEAPI BOOL WINAPI CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);
EXTERN_C WINBASEAPI BOOL WINAPI RemoveDirectoryW(LPCWSTR lpPathName);
EXTERN_C WINBASEAPI BOOL WINAPI DeleteFileW(LPCWSTR lpFileName);
EXTERN_C WINBASEAPI DWORD WINAPI GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer);
EXTERN_C WINBASEAPI DWORD WINAPI GetCurrentDirectoryW(DWORD nBufferLength, LPWSTR lpBuffer);
EXTERN_C WINBASEAPI BOOL WINAPI SetCurrentDirectoryW(LPCWSTR lpPathName);
EXTERN_C WINBASEAPI DWORD WINAPI GetFullPathNameW(LPCWSTR lpFileName, DWORD nBufferLength, LPWSTR lpBuffer,
                                                  LPWSTR *lpFilePart);

// ---- computer name (sysinfoapi.h) ----

typedef enum _COMPUTER_NAME_FORMAT {
    ComputerNameNetBIOS,
    ComputerNameDnsHostname,
    ComputerNameDnsDomain,
    ComputerNameDnsFullyQualified,
    ComputerNamePhysicalNetBIOS,
    ComputerNamePhysicalDnsHostname,
    ComputerNamePhysicalDnsDomain,
    ComputerNamePhysicalDnsFullyQualified,
    ComputerNameMax
} COMPUTER_NAME_FORMAT;

#define MAX_COMPUTERNAME_LENGTH 15

EXTERN_C WINBASEAPI BOOL WINAPI GetComputerNameExW(COMPUTER_NAME_FORMAT NameType, LPWSTR lpBuffer, LPDWORD nSize);
EXTERN_C WINBASEAPI BOOL WINAPI GetComputerNameW(LPWSTR lpBuffer, LPDWORD nSize);

// ---- volumes and drives (fileapi.h) ----

#define DRIVE_UNKNOWN 0
#define DRIVE_NO_ROOT_DIR 1
#define DRIVE_REMOVABLE 2
#define DRIVE_FIXED 3
#define DRIVE_REMOTE 4
#define DRIVE_CDROM 5
#define DRIVE_RAMDISK 6

#define FILE_CASE_SENSITIVE_SEARCH 0x00000001
#define FILE_CASE_PRESERVED_NAMES 0x00000002
#define FILE_UNICODE_ON_DISK 0x00000004
#define FILE_PERSISTENT_ACLS 0x00000008
#define FILE_FILE_COMPRESSION 0x00000010
#define FILE_VOLUME_QUOTAS 0x00000020
#define FILE_SUPPORTS_SPARSE_FILES 0x00000040
#define FILE_SUPPORTS_REPARSE_POINTS 0x00000080
#define FILE_VOLUME_IS_COMPRESSED 0x00008000
#define FILE_SUPPORTS_OBJECT_IDS 0x00010000
#define FILE_SUPPORTS_ENCRYPTION 0x00020000
#define FILE_NAMED_STREAMS 0x00040000
#define FILE_READ_ONLY_VOLUME 0x00080000

EXTERN_C WINBASEAPI BOOL WINAPI GetVolumePathNameW(LPCWSTR lpszFileName, LPWSTR lpszVolumePathName,
                                                   DWORD cchBufferLength);
EXTERN_C WINBASEAPI BOOL WINAPI GetVolumeNameForVolumeMountPointW(LPCWSTR lpszVolumeMountPoint,
                                                                  LPWSTR lpszVolumeName, DWORD cchBufferLength);
EXTERN_C WINBASEAPI BOOL WINAPI GetVolumePathNamesForVolumeNameW(LPCWSTR lpszVolumeName, LPWSTR lpszVolumePathNames,
                                                                 DWORD cchBufferLength, PDWORD lpcchReturnLength);
EXTERN_C WINBASEAPI BOOL WINAPI GetVolumePathNamesForVolumeNameA(LPCSTR lpszVolumeName, LPSTR lpszVolumePathNames,
                                                                 DWORD cchBufferLength, PDWORD lpcchReturnLength);
EXTERN_C WINBASEAPI HANDLE WINAPI FindFirstVolumeW(LPWSTR lpszVolumeName, DWORD cchBufferLength);
EXTERN_C WINBASEAPI BOOL WINAPI FindNextVolumeW(HANDLE hFindVolume, LPWSTR lpszVolumeName, DWORD cchBufferLength);
EXTERN_C WINBASEAPI HANDLE WINAPI FindFirstVolumeA(LPSTR lpszVolumeName, DWORD cchBufferLength);
EXTERN_C WINBASEAPI BOOL WINAPI FindNextVolumeA(HANDLE hFindVolume, LPSTR lpszVolumeName, DWORD cchBufferLength);
EXTERN_C WINBASEAPI BOOL WINAPI FindVolumeClose(HANDLE hFindVolume);
EXTERN_C WINBASEAPI BOOL WINAPI GetVolumeInformationW(LPCWSTR lpRootPathName, LPWSTR lpVolumeNameBuffer,
                                                      DWORD nVolumeNameSize, LPDWORD lpVolumeSerialNumber,
                                                      LPDWORD lpMaximumComponentLength, LPDWORD lpFileSystemFlags,
                                                      LPWSTR lpFileSystemNameBuffer, DWORD nFileSystemNameSize);
EXTERN_C WINBASEAPI UINT WINAPI GetDriveTypeW(LPCWSTR lpRootPathName);

// ---- firmware and version (winbase.h, sysinfoapi.h) ----

typedef enum _FIRMWARE_TYPE {
    FirmwareTypeUnknown,
    FirmwareTypeBios,
    FirmwareTypeUefi,
    FirmwareTypeMax
} FIRMWARE_TYPE, *PFIRMWARE_TYPE;

EXTERN_C WINBASEAPI BOOL WINAPI GetFirmwareType(PFIRMWARE_TYPE FirmwareType);
// No firmware variables are simulated: a legacy BIOS fails every call with
// ERROR_INVALID_FUNCTION, UEFI firmware with ERROR_ENVVAR_NOT_FOUND.
EXTERN_C WINBASEAPI DWORD WINAPI GetFirmwareEnvironmentVariableW(LPCWSTR lpName, LPCWSTR lpGuid, PVOID pBuffer,
                                                                 DWORD nSize);

#define VER_NT_WORKSTATION 0x0000001
#define VER_NT_DOMAIN_CONTROLLER 0x0000002
#define VER_NT_SERVER 0x0000003

typedef struct _OSVERSIONINFOEXW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
    WORD wServicePackMajor;
    WORD wServicePackMinor;
    WORD wSuiteMask;
    BYTE wProductType;
    BYTE wReserved;
} OSVERSIONINFOEXW, *POSVERSIONINFOEXW, *LPOSVERSIONINFOEXW;

typedef struct _OSVERSIONINFOW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
} OSVERSIONINFOW, *POSVERSIONINFOW, *LPOSVERSIONINFOW;

#define VER_PLATFORM_WIN32_NT 2

// Answers for a program that declares itself for Windows 10 in its manifest: the host's
// true version (Windows gives an unmanifested program 6.2 from Windows 8.1 on).
EXTERN_C WINBASEAPI BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW lpVersionInformation);

// ---- directory listings (fileapi.h, minwinbase.h) ----

typedef struct _WIN32_FIND_DATAW {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    WCHAR cFileName[MAX_PATH];
    WCHAR cAlternateFileName[14];
} WIN32_FIND_DATAW, *PWIN32_FIND_DATAW, *LPWIN32_FIND_DATAW;

// Patterns take * (any run of characters) and ? (one character), without regard to case.
EXTERN_C WINBASEAPI HANDLE WINAPI FindFirstFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData);
EXTERN_C WINBASEAPI BOOL WINAPI FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData);
EXTERN_C WINBASEAPI BOOL WINAPI FindClose(HANDLE hFindFile);

typedef enum _GET_FILEEX_INFO_LEVELS { GetFileExInfoStandard, GetFileExMaxInfoLevel } GET_FILEEX_INFO_LEVELS;

typedef struct _WIN32_FILE_ATTRIBUTE_DATA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
} WIN32_FILE_ATTRIBUTE_DATA, *LPWIN32_FILE_ATTRIBUTE_DATA;

// GetFileExInfoStandard only; the data of a directory has size 0.
EXTERN_C WINBASEAPI BOOL WINAPI GetFileAttributesExW(LPCWSTR lpFileName, GET_FILEEX_INFO_LEVELS fInfoLevelId,
                                                     LPVOID lpFileInformation);
