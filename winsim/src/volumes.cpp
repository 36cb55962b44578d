// kernel32 volumes and drives over the current host: volume paths and GUID names, the
// volume enumeration, volume information and drive types, the firmware and the version.
#include "files.h"
#include "handles.h"
#include "volumes.h"
#include "winsim/hostmodel.h"

#include <algorithm>

namespace winsim {

namespace {

// Copies text with its terminator; false when the buffer (in characters) is too small.
template <typename Char>
bool CopyText(const std::basic_string<Char> &text, Char *buffer, DWORD capacity)
{
    if (buffer == NULL || capacity < text.size() + 1)
        return false;
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = 0;
    return true;
}

bool EndsWithBackslash(const wstring16 &text) { return !text.empty() && text.back() == u'\\'; }

// A find-volume handle: the index of the next volume to hand out.
class VolumeSearch : public KernelObject {
public:
    size_t next = 1;
};

// The file-system flags GetVolumeInformationW reports for a file system.
DWORD FileSystemFlags(const wstring16 &fileSystem)
{
    const DWORD common = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
    if (EqualNoCase(fileSystem, u"NTFS"))
        return common | FILE_CASE_SENSITIVE_SEARCH | FILE_PERSISTENT_ACLS | FILE_FILE_COMPRESSION |
               FILE_VOLUME_QUOTAS | FILE_SUPPORTS_SPARSE_FILES | FILE_SUPPORTS_REPARSE_POINTS |
               FILE_SUPPORTS_OBJECT_IDS | FILE_SUPPORTS_ENCRYPTION | FILE_NAMED_STREAMS;
    if (EqualNoCase(fileSystem, u"ReFS") || EqualNoCase(fileSystem, u"CSVFS"))
        return common | FILE_CASE_SENSITIVE_SEARCH | FILE_PERSISTENT_ACLS | FILE_SUPPORTS_SPARSE_FILES |
               FILE_SUPPORTS_REPARSE_POINTS | FILE_NAMED_STREAMS;
    if (EqualNoCase(fileSystem, u"CDFS"))
        return common | FILE_READ_ONLY_VOLUME;
    return common;  // FAT, FAT32, exFAT
}

wstring16 Widen(LPCSTR text) { return text == NULL ? wstring16() : FromUtf8(text); }

} // namespace

int VolumeIndexOfName(const wstring16 &volumeName)
{
    const Host &host = CurrentHost();
    const Volume *volume = host.FindVolumeByGuidPath(volumeName);
    return volume == NULL ? -1 : int(volume - host.volumes.data());
}

} // namespace winsim

using namespace winsim;

EXTERN_C BOOL WINAPI GetVolumePathNameW(LPCWSTR lpszFileName, LPWSTR lpszVolumePathName, DWORD cchBufferLength)
{
    DWORD error;
    if (winsim::FaultFor("GetVolumePathNameW", lpszFileName, error))
        return Fail(error, FALSE);
    if (lpszFileName == NULL || lpszFileName[0] == 0 || lpszVolumePathName == NULL)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    MappedPath mapped;
    error = MapWindowsPath(lpszFileName, mapped);
    // A path need not exist, but its volume must: an absent or offline one is not found.
    if (error == ERROR_PATH_NOT_FOUND || (error == ERROR_SUCCESS && mapped.volume < 0))
        return Fail(ERROR_FILE_NOT_FOUND, FALSE);
    if (error != ERROR_SUCCESS)
        return Fail(error, FALSE);
    if (!CopyText(mapped.volumeRoot, lpszVolumePathName, cchBufferLength))
        return Fail(ERROR_FILENAME_EXCED_RANGE, FALSE);
    return TRUE;
}

EXTERN_C BOOL WINAPI GetVolumeNameForVolumeMountPointW(LPCWSTR lpszVolumeMountPoint, LPWSTR lpszVolumeName,
                                                       DWORD cchBufferLength)
{
    DWORD error;
    if (winsim::FaultFor("GetVolumeNameForVolumeMountPointW", lpszVolumeMountPoint, error))
        return Fail(error, FALSE);
    if (lpszVolumeMountPoint == NULL || lpszVolumeName == NULL)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    // The mount point is named with its trailing backslash ("C:\", "D:\Mount\Data\").
    if (!EndsWithBackslash(lpszVolumeMountPoint))
        return Fail(ERROR_INVALID_NAME, FALSE);
    MappedPath mapped;
    if ((error = MapWindowsPath(lpszVolumeMountPoint, mapped)) != ERROR_SUCCESS)
        return Fail(error == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : error, FALSE);
    if (mapped.volume < 0 || !mapped.exists)
        return Fail(mapped.volume < 0 ? ERROR_FILE_NOT_FOUND : MissingError(mapped), FALSE);
    if (!mapped.isDriveRoot && !mapped.isMountFolder)
        return Fail(mapped.isDirectory ? ERROR_NOT_A_REPARSE_POINT : ERROR_INVALID_PARAMETER, FALSE);
    // A shadow copy's device has no volume GUID name of its own: the mount manager does not
    // know it (its root must not be taken for the live volume).
    if (mapped.readOnly)
        return Fail(ERROR_FILE_NOT_FOUND, FALSE);
    const Volume &volume = CurrentHost().volumes[size_t(mapped.volume)];
    if (!CopyText(volume.guidPath, lpszVolumeName, cchBufferLength))
        return Fail(ERROR_FILENAME_EXCED_RANGE, FALSE);
    return TRUE;
}

EXTERN_C BOOL WINAPI GetVolumePathNamesForVolumeNameW(LPCWSTR lpszVolumeName, LPWSTR lpszVolumePathNames,
                                                      DWORD cchBufferLength, PDWORD lpcchReturnLength)
{
    DWORD error;
    if (winsim::FaultFor("GetVolumePathNamesForVolumeNameW", lpszVolumeName, error))
        return Fail(error, FALSE);
    if (lpszVolumeName == NULL)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    const wstring16 name(lpszVolumeName);
    if (!EndsWithBackslash(name))
        return Fail(ERROR_INVALID_NAME, FALSE);
    const int index = VolumeIndexOfName(name);
    if (index < 0)
        return Fail(ERROR_FILE_NOT_FOUND, FALSE);
    const Volume &volume = CurrentHost().volumes[size_t(index)];
    // Each path with its terminator, then one more terminator.
    wstring16 list;
    if (!volume.offline) {
        for (const wstring16 &path : volume.RootPaths()) {
            list += path;
            list.push_back(0);
        }
    }
    list.push_back(0);
    if (list.size() == 1)
        list.push_back(0);
    if (lpcchReturnLength != NULL)
        *lpcchReturnLength = DWORD(list.size());
    if (lpszVolumePathNames == NULL || cchBufferLength < list.size())
        return Fail(ERROR_MORE_DATA, FALSE);
    std::copy(list.begin(), list.end(), lpszVolumePathNames);
    return TRUE;
}

EXTERN_C BOOL WINAPI GetVolumePathNamesForVolumeNameA(LPCSTR lpszVolumeName, LPSTR lpszVolumePathNames,
                                                      DWORD cchBufferLength, PDWORD lpcchReturnLength)
{
    const wstring16 name = Widen(lpszVolumeName);
    DWORD needed = 0;
    if (!GetVolumePathNamesForVolumeNameW(lpszVolumeName == NULL ? NULL : name.c_str(), NULL, 0, &needed) &&
        GetLastError() != ERROR_MORE_DATA)
        return FALSE;
    wstring16 wide(needed, 0);
    if (!GetVolumePathNamesForVolumeNameW(name.c_str(), &wide[0], needed, &needed))
        return FALSE;
    // Each path in the ANSI code page (the paths are ASCII in practice: letters, GUIDs).
    std::string narrow;
    for (size_t at = 0; at < wide.size();) {
        const size_t end = wide.find(char16_t(0), at);
        narrow += ToUtf8(wide.substr(at, end - at));
        narrow.push_back(0);
        at = end + 1;
    }
    if (lpcchReturnLength != NULL)
        *lpcchReturnLength = DWORD(narrow.size());
    if (lpszVolumePathNames == NULL || cchBufferLength < narrow.size())
        return Fail(ERROR_MORE_DATA, FALSE);
    std::copy(narrow.begin(), narrow.end(), lpszVolumePathNames);
    return TRUE;
}

EXTERN_C HANDLE WINAPI FindFirstVolumeW(LPWSTR lpszVolumeName, DWORD cchBufferLength)
{
    DWORD error;
    if (winsim::FaultFor("FindFirstVolumeW", NULL, error))
        return Fail(error, INVALID_HANDLE_VALUE);
    const Host &host = CurrentHost();
    if (host.volumes.empty())
        return Fail(ERROR_NO_MORE_FILES, INVALID_HANDLE_VALUE);
    if (!CopyText(host.volumes[0].guidPath, lpszVolumeName, cchBufferLength))
        return Fail(ERROR_FILENAME_EXCED_RANGE, INVALID_HANDLE_VALUE);
    return InsertHandle(std::make_shared<VolumeSearch>());
}

EXTERN_C BOOL WINAPI FindNextVolumeW(HANDLE hFindVolume, LPWSTR lpszVolumeName, DWORD cchBufferLength)
{
    DWORD faultError;
    if (winsim::FaultFor("FindNextVolumeW", NULL, faultError))
        return Fail(faultError, FALSE);
    std::shared_ptr<VolumeSearch> search = LookupHandleAs<VolumeSearch>(hFindVolume);
    if (!search)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    const Host &host = CurrentHost();
    if (search->next >= host.volumes.size())
        return Fail(ERROR_NO_MORE_FILES, FALSE);
    if (!CopyText(host.volumes[search->next].guidPath, lpszVolumeName, cchBufferLength))
        return Fail(ERROR_FILENAME_EXCED_RANGE, FALSE);  // the same volume comes again
    ++search->next;
    return TRUE;
}

EXTERN_C HANDLE WINAPI FindFirstVolumeA(LPSTR lpszVolumeName, DWORD cchBufferLength)
{
    WCHAR wide[64];
    HANDLE search = FindFirstVolumeW(wide, 64);
    if (search == INVALID_HANDLE_VALUE)
        return search;
    if (!CopyText(ToUtf8(wide), lpszVolumeName, cchBufferLength)) {
        CloseHandle(search);
        return Fail(ERROR_FILENAME_EXCED_RANGE, INVALID_HANDLE_VALUE);
    }
    return search;
}

EXTERN_C BOOL WINAPI FindNextVolumeA(HANDLE hFindVolume, LPSTR lpszVolumeName, DWORD cchBufferLength)
{
    std::shared_ptr<VolumeSearch> search = LookupHandleAs<VolumeSearch>(hFindVolume);
    if (!search)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    const Host &host = CurrentHost();
    if (search->next >= host.volumes.size())
        return Fail(ERROR_NO_MORE_FILES, FALSE);
    if (!CopyText(ToUtf8(host.volumes[search->next].guidPath), lpszVolumeName, cchBufferLength))
        return Fail(ERROR_FILENAME_EXCED_RANGE, FALSE);
    ++search->next;
    return TRUE;
}

EXTERN_C BOOL WINAPI FindVolumeClose(HANDLE hFindVolume)
{
    if (!LookupHandleAs<VolumeSearch>(hFindVolume))
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    return CloseHandle(hFindVolume);
}

EXTERN_C BOOL WINAPI GetVolumeInformationW(LPCWSTR lpRootPathName, LPWSTR lpVolumeNameBuffer, DWORD nVolumeNameSize,
                                           LPDWORD lpVolumeSerialNumber, LPDWORD lpMaximumComponentLength,
                                           LPDWORD lpFileSystemFlags, LPWSTR lpFileSystemNameBuffer,
                                           DWORD nFileSystemNameSize)
{
    DWORD error;
    if (winsim::FaultFor("GetVolumeInformationW", lpRootPathName, error))
        return Fail(error, FALSE);
    const wstring16 root = lpRootPathName != NULL ? wstring16(lpRootPathName) : CurrentDirectory().substr(0, 3);
    if (!EndsWithBackslash(root))
        return Fail(ERROR_INVALID_NAME, FALSE);
    MappedPath mapped;
    if ((error = MapWindowsPath(root.c_str(), mapped)) != ERROR_SUCCESS)
        return Fail(error, FALSE);
    if (mapped.volume < 0 || !mapped.exists)
        return Fail(mapped.volume < 0 ? ERROR_PATH_NOT_FOUND : MissingError(mapped), FALSE);
    if (!mapped.isDriveRoot && !mapped.isMountFolder)
        return Fail(ERROR_DIR_NOT_ROOT, FALSE);
    const Volume &volume = CurrentHost().volumes[size_t(mapped.volume)];
    if (lpVolumeNameBuffer != NULL && !CopyText(volume.label, lpVolumeNameBuffer, nVolumeNameSize))
        return Fail(ERROR_BAD_LENGTH, FALSE);
    if (lpFileSystemNameBuffer != NULL && !CopyText(volume.fileSystem, lpFileSystemNameBuffer, nFileSystemNameSize))
        return Fail(ERROR_BAD_LENGTH, FALSE);
    if (lpVolumeSerialNumber != NULL)
        *lpVolumeSerialNumber = volume.serialNumber;
    if (lpMaximumComponentLength != NULL)
        *lpMaximumComponentLength = 255;
    if (lpFileSystemFlags != NULL)
        *lpFileSystemFlags = FileSystemFlags(volume.fileSystem) | (mapped.readOnly ? FILE_READ_ONLY_VOLUME : 0);
    return TRUE;
}

EXTERN_C UINT WINAPI GetDriveTypeW(LPCWSTR lpRootPathName)
{
    const wstring16 root = lpRootPathName != NULL ? wstring16(lpRootPathName) : CurrentDirectory().substr(0, 3);
    // "C:" is taken as "C:\"; any other name must be a root with its backslash.
    const wstring16 named = root.size() == 2 && root[1] == u':' ? root + u"\\" : root;
    MappedPath mapped;
    if (!EndsWithBackslash(named) || MapWindowsPath(named.c_str(), mapped) != ERROR_SUCCESS || mapped.volume < 0 ||
        !(mapped.isDriveRoot || mapped.isMountFolder))
        return DRIVE_NO_ROOT_DIR;
    switch (CurrentHost().volumes[size_t(mapped.volume)].kind) {
    case DriveKind::Removable: return DRIVE_REMOVABLE;
    case DriveKind::CdRom: return DRIVE_CDROM;
    case DriveKind::Fixed: break;
    }
    return DRIVE_FIXED;
}

EXTERN_C BOOL WINAPI GetFirmwareType(PFIRMWARE_TYPE FirmwareType)
{
    DWORD error;
    if (winsim::FaultFor("GetFirmwareType", NULL, error))
        return Fail(error, FALSE);
    if (FirmwareType == NULL)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    *FirmwareType = CurrentHost().firmware == Firmware::Uefi ? FirmwareTypeUefi : FirmwareTypeBios;
    return TRUE;
}

EXTERN_C DWORD WINAPI GetFirmwareEnvironmentVariableW(LPCWSTR lpName, LPCWSTR lpGuid, PVOID, DWORD)
{
    DWORD error;
    if (winsim::FaultFor("GetFirmwareEnvironmentVariableW", NULL, error))
        return Fail(error, DWORD(0));
    if (CurrentHost().firmware != Firmware::Uefi)
        return Fail(ERROR_INVALID_FUNCTION, DWORD(0));
    if (lpName == NULL || lpGuid == NULL)
        return Fail(ERROR_INVALID_PARAMETER, DWORD(0));
    return Fail(ERROR_ENVVAR_NOT_FOUND, DWORD(0));
}

EXTERN_C BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW lpVersionInformation)
{
    DWORD error;
    if (winsim::FaultFor("GetVersionExW", NULL, error))
        return Fail(error, FALSE);
    if (lpVersionInformation == NULL)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    const DWORD size = lpVersionInformation->dwOSVersionInfoSize;
    if (size != sizeof(OSVERSIONINFOW) && size != sizeof(OSVERSIONINFOEXW))
        return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    const OsVersion &os = CurrentHost().os;
    lpVersionInformation->dwMajorVersion = os.major;
    lpVersionInformation->dwMinorVersion = os.minor;
    lpVersionInformation->dwBuildNumber = os.build;
    lpVersionInformation->dwPlatformId = VER_PLATFORM_WIN32_NT;
    std::fill(lpVersionInformation->szCSDVersion, lpVersionInformation->szCSDVersion + 128, WCHAR(0));
    if (size == sizeof(OSVERSIONINFOEXW)) {
        OSVERSIONINFOEXW *extended = reinterpret_cast<OSVERSIONINFOEXW *>(lpVersionInformation);
        extended->wServicePackMajor = 0;
        extended->wServicePackMinor = 0;
        extended->wSuiteMask = 0;
        extended->wProductType = os.server ? VER_NT_SERVER : VER_NT_WORKSTATION;
        extended->wReserved = 0;
    }
    return TRUE;
}
