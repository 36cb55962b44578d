// FindFirstFileW and FindNextFileW: the entries of one directory whose names match a
// pattern, with their Windows attributes, sizes and times.
#include "files.h"
#include "handles.h"

#include <dirent.h>
#include <sys/stat.h>
#include <vector>

namespace winsim {

namespace {

class FileSearch : public KernelObject {
public:
    std::vector<WIN32_FIND_DATAW> entries;
    size_t next = 1;
};

bool Matches(const WCHAR *pattern, const WCHAR *name)
{
    if (*pattern == 0)
        return *name == 0;
    if (*pattern == u'*') {
        for (const WCHAR *rest = name;; ++rest) {
            if (Matches(pattern + 1, rest))
                return true;
            if (*rest == 0)
                return false;
        }
    }
    if (*name == 0)
        return false;
    if (*pattern != u'?' && FoldUpper(*pattern) != FoldUpper(*name))
        return false;
    return Matches(pattern + 1, name + 1);
}

} // namespace

} // namespace winsim

using namespace winsim;

EXTERN_C HANDLE WINAPI FindFirstFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData)
{
    Fault fault;
    if (TakeFault("FindFirstFileW", lpFileName == NULL ? wstring16() : wstring16(lpFileName), &fault))
        return Fail(fault.error, INVALID_HANDLE_VALUE);
    if (lpFileName == NULL || lpFindFileData == NULL || lpFileName[0] == 0)
        return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    // The directory, then the pattern for the names in it.
    const wstring16 text(lpFileName);
    const size_t separator = text.find_last_of(u"\\/");
    wstring16 directory;
    wstring16 pattern;
    if (separator == wstring16::npos) {
        const bool drive = text.size() >= 2 && text[1] == u':';
        directory = drive ? text.substr(0, 2) : wstring16(u".");
        pattern = drive ? text.substr(2) : text;
    } else {
        directory = text.substr(0, separator);
        if (directory.empty() || directory.back() == u':' || directory.back() == u'\\' || directory.back() == u'/')
            directory = text.substr(0, separator + 1);
        pattern = text.substr(separator + 1);
    }
    if (pattern.empty())
        return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    if (pattern == u"*.*")
        pattern = u"*";
    MappedPath mapped;
    if (DWORD error = MapWindowsPath(directory.c_str(), mapped))  // the directory is never the leaf
        return Fail(error == ERROR_FILE_NOT_FOUND ? DWORD(ERROR_PATH_NOT_FOUND) : error, INVALID_HANDLE_VALUE);
    if (!mapped.exists || !mapped.isDirectory)
        return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
    if (!mapped.readOnly && mapped.volume >= 0)
        MaterializeVolume(mapped.volume);  // a volume's root is listed before any name below it is used
    const wstring16 base = mapped.windowsPath.back() == u'\\' ? mapped.windowsPath : mapped.windowsPath + u"\\";

    auto search = std::make_shared<FileSearch>();
    DIR *listing = opendir(mapped.hostPath.c_str());
    if (listing == NULL)
        return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    const bool root = mapped.isDriveRoot || mapped.isMountFolder;
    while (struct dirent *entry = readdir(listing)) {
        const wstring16 name = FromUtf8(entry->d_name);
        if (root && (name == u"." || name == u".."))
            continue;  // a volume's root lists neither
        if (name.size() >= MAX_PATH || !Matches(pattern.c_str(), name.c_str()))
            continue;
        WIN32_FIND_DATAW data = {};
        MappedPath item;
        struct stat status;
        if (name == u"." || name == u"..") {
            item = mapped;
            item.isMountFolder = false;
            item.isJunction = false;
        } else if (MapWindowsPath((base + name).c_str(), item) != ERROR_SUCCESS || !item.exists) {
            continue;
        }
        if (stat(item.hostPath.c_str(), &status) != 0)
            continue;
        data.dwFileAttributes = AttributesOf(item);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            data.dwReserved0 = IO_REPARSE_TAG_MOUNT_POINT;  // mount folders and junctions alike
        data.ftCreationTime = FileTimeOf(status.st_ctim);
        data.ftLastAccessTime = FileTimeOf(status.st_atim);
        data.ftLastWriteTime = FileTimeOf(status.st_mtim);
        if (!item.isDirectory) {
            data.nFileSizeHigh = DWORD(ULONGLONG(status.st_size) >> 32);
            data.nFileSizeLow = DWORD(status.st_size);
        }
        std::copy(name.begin(), name.end(), data.cFileName);
        search->entries.push_back(data);
    }
    closedir(listing);
    if (search->entries.empty())
        return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    *lpFindFileData = search->entries[0];
    SetLastError(ERROR_SUCCESS);
    return InsertHandle(search);
}

EXTERN_C BOOL WINAPI FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData)
{
    DWORD faultError;
    if (winsim::FaultFor("FindNextFileW", NULL, faultError))
        return Fail(faultError, FALSE);
    std::shared_ptr<FileSearch> search = LookupHandleAs<FileSearch>(hFindFile);
    if (!search)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (lpFindFileData == NULL)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (search->next >= search->entries.size())
        return Fail(ERROR_NO_MORE_FILES, FALSE);
    *lpFindFileData = search->entries[search->next++];
    return TRUE;
}

EXTERN_C BOOL WINAPI FindClose(HANDLE hFindFile)
{
    if (!LookupHandleAs<FileSearch>(hFindFile))
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    return CloseHandle(hFindFile);
}
