// kernel32 files over the sandbox: CreateFileW and the calls on its handles, attributes,
// directories. Windows attributes (the archive bit included) are kept in a side table
// beside the files; sharing modes are checked between the handles of this process.
#include "files.h"

#include "handles.h"
#include "shadowcopies.h"
#include "volumes.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <ftw.h>
#include <list>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace winsim {

namespace {

const DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

struct OpenMode {
    DWORD access;
    DWORD share;
};

struct FileState {
    std::mutex lock;
    std::map<std::string, DWORD> attributes;  // by host path; absent means the default
    std::map<FileIdentity, std::list<OpenMode>> opens;
    std::map<FileIdentity, int> streams;  // CRT streams open on each file
};

FileState &TheState()
{
    static FileState *state = new FileState;
    return *state;
}

const DWORD kReadAccess = FILE_READ_DATA | FILE_EXECUTE;
const DWORD kWriteAccess = FILE_WRITE_DATA | FILE_APPEND_DATA;
// Every right that changes a file or its metadata: what a read-only volume refuses.
const DWORD kModifyAccess =
    kWriteAccess | FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA | DELETE | WRITE_DAC | WRITE_OWNER;

// Whether a new open conflicts with one already there, as the I/O manager decides it.
bool Conflicts(const OpenMode &existing, const OpenMode &wanted)
{
    auto denies = [](const OpenMode &holder, DWORD access) {
        return ((access & kReadAccess) && !(holder.share & FILE_SHARE_READ)) ||
               ((access & kWriteAccess) && !(holder.share & FILE_SHARE_WRITE)) ||
               ((access & DELETE) && !(holder.share & FILE_SHARE_DELETE));
    };
    return denies(existing, wanted.access) || denies(wanted, existing.access);
}

DWORD MapGenericAccess(DWORD access)
{
    if (access & (GENERIC_ALL | MAXIMUM_ALLOWED))
        access |= FILE_ALL_ACCESS;
    if (access & GENERIC_READ)
        access |= FILE_GENERIC_READ;
    if (access & GENERIC_WRITE)
        access |= FILE_GENERIC_WRITE;
    if (access & GENERIC_EXECUTE)
        access |= FILE_GENERIC_EXECUTE;
    return access & ~DWORD(GENERIC_ALL | GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | MAXIMUM_ALLOWED);
}

} // namespace

DWORD ErrnoToWin32(int error)
{
    switch (error) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENOSPC: return ERROR_DISK_FULL;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EROFS: return ERROR_WRITE_PROTECT;
    default: return ERROR_INVALID_FUNCTION;
    }
}

namespace {

class FileObject : public KernelObject {
public:
    FileObject(int fd, DWORD access, DWORD share, std::string hostPath, FileIdentity identity, bool deleteOnClose)
        : fd_(fd), access_(access), share_(share), hostPath_(std::move(hostPath)), identity_(identity),
          deleteOnClose_(deleteOnClose)
    {
    }
    ~FileObject() override
    {
        {
            FileState &state = TheState();
            std::lock_guard<std::mutex> guard(state.lock);
            auto &list = state.opens[identity_];
            for (auto it = list.begin(); it != list.end(); ++it) {
                if (it->access == access_ && it->share == share_) {
                    list.erase(it);
                    break;
                }
            }
            if (list.empty())
                state.opens.erase(identity_);
        }
        close(fd_);
        if (deleteOnClose_) {
            unlink(hostPath_.c_str());
            ForgetAttributes(hostPath_);
        }
    }
    FileObject(const FileObject &) = delete;
    FileObject &operator=(const FileObject &) = delete;

    int fd() const { return fd_; }
    DWORD access() const { return access_; }
    const std::string &hostPath() const { return hostPath_; }
    std::mutex &lock() { return lock_; }

private:
    int fd_;
    DWORD access_;
    DWORD share_;
    std::string hostPath_;
    FileIdentity identity_;
    bool deleteOnClose_;
    std::mutex lock_;  // keeps a seek and its read or write together
};

DWORD CreateFileInternal(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, DWORD disposition,
                         DWORD flagsAndAttributes, HANDLE &result, bool &existed)
{
    result = INVALID_HANDLE_VALUE;
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING)
        return ERROR_INVALID_PARAMETER;
    // Truncating asks for the GENERIC_WRITE bit itself; FILE_GENERIC_WRITE does not do.
    if (disposition == TRUNCATE_EXISTING && !(desiredAccess & GENERIC_WRITE))
        return ERROR_INVALID_PARAMETER;
    const DWORD access = MapGenericAccess(desiredAccess);
    if (flagsAndAttributes & FILE_FLAG_OVERLAPPED) {
        LogNotImplemented("CreateFileW", "FILE_FLAG_OVERLAPPED");
        return ERROR_CALL_NOT_IMPLEMENTED;
    }

    // No shadow copy is made between the file getting bytes of its own and its opening.
    auto sandboxGuard = LockSandbox();
    MappedPath path;
    if (DWORD error = MapWindowsPath(fileName, path))
        return error;
    existed = path.exists;
    if (path.isDirectory) {
        if (disposition == CREATE_NEW)
            return ERROR_FILE_EXISTS;
        if (!(flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) || disposition == CREATE_ALWAYS ||
            disposition == TRUNCATE_EXISTING)
            return ERROR_ACCESS_DENIED;
        LogNotImplemented("CreateFileW", "directory handles");
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    // A read-only volume (a shadow copy) answers the name lookup first, then refuses any
    // change as write-protected media do.
    if (!path.exists) {
        if (!path.parentExists)
            return ERROR_PATH_NOT_FOUND;
        if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING)
            return ERROR_FILE_NOT_FOUND;
        if (path.readOnly)
            return ERROR_WRITE_PROTECT;
    } else {
        if (disposition == CREATE_NEW)
            return ERROR_FILE_EXISTS;
        if (path.readOnly && ((access & kModifyAccess) || disposition == CREATE_ALWAYS ||
                              disposition == TRUNCATE_EXISTING || (flagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE)))
            return ERROR_WRITE_PROTECT;
        const DWORD current = AttributesOf(path);
        const bool overwrites = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
        if ((current & FILE_ATTRIBUTE_READONLY) && ((access & (kWriteAccess | DELETE)) || overwrites))
            return ERROR_ACCESS_DENIED;
        // Overwriting a hidden or system file must name those attributes again.
        if (disposition == CREATE_ALWAYS &&
            (current & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) & ~flagsAndAttributes)
            return ERROR_ACCESS_DENIED;
    }

    if (path.exists && !path.readOnly) {
        if (DWORD error = DetachFromShadowCopies(path.hostPath))
            return error;
    }
    int flags = O_CLOEXEC;
    flags |= (access & kWriteAccess) ? ((access & kReadAccess) ? O_RDWR : O_WRONLY) : O_RDONLY;
    if ((access & FILE_APPEND_DATA) && !(access & FILE_WRITE_DATA))
        flags |= O_APPEND;  // an append-only handle writes at the end, whatever its pointer
    if (!path.exists)
        flags |= O_CREAT | O_EXCL;
    const int fd = open(path.hostPath.c_str(), flags, 0666);
    if (fd < 0)
        return errno == EEXIST ? ERROR_FILE_EXISTS : ErrnoToWin32(errno);
    // The caching hints: the cache reads ahead of a sequential scan, not of random access.
    if (flagsAndAttributes & FILE_FLAG_SEQUENTIAL_SCAN)
        posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    else if (flagsAndAttributes & FILE_FLAG_RANDOM_ACCESS)
        posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
    struct stat status;
    fstat(fd, &status);
    const FileIdentity identity{status.st_dev, status.st_ino};
    const OpenMode mode{access, shareMode & (FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)};
    {
        FileState &state = TheState();
        std::lock_guard<std::mutex> guard(state.lock);
        for (const OpenMode &other : state.opens[identity]) {
            if (Conflicts(other, mode)) {
                close(fd);
                if (!path.exists)
                    unlink(path.hostPath.c_str());
                return ERROR_SHARING_VIOLATION;
            }
        }
        state.opens[identity].push_back(mode);
    }
    const bool overwrite = path.exists && (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING);
    if (overwrite && ftruncate(fd, 0) != 0) {
        const int error = errno;
        FileObject cleanup(fd, mode.access, mode.share, path.hostPath, identity, false);
        return ErrnoToWin32(error);
    }
    if (!path.exists || disposition == CREATE_ALWAYS) {
        // A new or overwritten file gets the attributes asked for, and the archive bit.
        const DWORD kept = path.exists ? AttributesOf(path) & kSettableAttributes : 0;
        StoreAttributes(path.hostPath, kept | (flagsAndAttributes & kSettableAttributes) | FILE_ATTRIBUTE_ARCHIVE);
    } else if (overwrite) {
        MarkArchive(path.hostPath);
    }
    result = InsertHandle(std::make_shared<FileObject>(fd, mode.access, mode.share, path.hostPath, identity,
                                                       (flagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE) != 0));
    return ERROR_SUCCESS;
}

// The error of a file call on a handle that is not a file: a shadow-copy device's raw
// contents are not simulated (said loudly); anything else is not a handle for the call.
DWORD DeviceReadError(const char *function, HANDLE handle)
{
    if (!IsShadowDeviceHandle(handle))
        return ERROR_INVALID_HANDLE;
    LogNotImplemented(function, "raw reads of a shadow-copy device");
    return ERROR_CALL_NOT_IMPLEMENTED;
}

// Positions a handle for a call with an OVERLAPPED offset (synchronous handles only).
bool SeekForOverlapped(int fd, LPOVERLAPPED overlapped)
{
    if (overlapped == NULL)
        return true;
    const off_t offset = off_t((ULONGLONG(overlapped->OffsetHigh) << 32) | overlapped->Offset);
    return lseek(fd, offset, SEEK_SET) >= 0;
}

} // namespace

DWORD AttributesOf(const MappedPath &path)
{
    FileState &state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    auto found = state.attributes.find(path.isJunction ? path.junctionHostPath : path.hostPath);
    DWORD attributes;
    if (path.isMountFolder)
        return FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    if (path.isJunction)
        return FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT |
               (found != state.attributes.end() ? found->second : 0);
    if (found != state.attributes.end())
        attributes = found->second;
    else
        attributes = path.isDirectory ? 0 : FILE_ATTRIBUTE_ARCHIVE;  // what Windows gives a new file
    if (path.isDirectory)
        return attributes | FILE_ATTRIBUTE_DIRECTORY;
    return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

void StoreAttributes(const std::string &hostPath, DWORD attributes)
{
    FileState &state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    state.attributes[hostPath] = attributes & kSettableAttributes;
}

void ForgetAttributes(const std::string &hostPath)
{
    FileState &state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    state.attributes.erase(hostPath);
}

bool RecordedAttributes(const std::string &hostPath, DWORD *attributes)
{
    FileState &state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    auto found = state.attributes.find(hostPath);
    if (found == state.attributes.end())
        return false;
    *attributes = found->second;
    return true;
}

void ForgetAttributesUnder(const std::string &directory)
{
    FileState &state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    state.attributes.erase(directory);
    const std::string below = directory + "/";
    for (auto it = state.attributes.lower_bound(below);
         it != state.attributes.end() && it->first.compare(0, below.size(), below) == 0;)
        it = state.attributes.erase(it);
}

void MarkArchive(const std::string &hostPath)
{
    FileState &state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    auto found = state.attributes.find(hostPath);
    if (found != state.attributes.end())
        found->second |= FILE_ATTRIBUTE_ARCHIVE;
}

FILETIME FileTimeOf(const struct timespec &time)
{
    const ULONGLONG ticks = (ULONGLONG(time.tv_sec) + 11644473600ULL) * 10000000ULL + ULONGLONG(time.tv_nsec) / 100;
    return FILETIME{DWORD(ticks), DWORD(ticks >> 32)};
}

DWORD MissingError(const MappedPath &path) { return path.parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND; }

bool DeleteBlockedByOpenHandle(const std::string &hostPath)
{
    struct stat status;
    // A live file that still shares its bytes with a copy is open only through the copy:
    // live opens give it bytes of its own first.
    if (stat(hostPath.c_str(), &status) != 0 || status.st_nlink > 1)
        return false;
    FileState &state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    auto found = state.opens.find(FileIdentity{status.st_dev, status.st_ino});
    if (found == state.opens.end())
        return false;
    for (const OpenMode &mode : found->second) {
        if (!(mode.share & FILE_SHARE_DELETE))
            return true;
    }
    return false;
}

void NoteStreamOpen(const FileIdentity &file)
{
    FileState &state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    ++state.streams[file];
}

void NoteStreamClosed(const FileIdentity &file)
{
    FileState &state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    auto found = state.streams.find(file);
    if (found != state.streams.end() && --found->second == 0)
        state.streams.erase(found);
}

bool IsOpenFile(const FileIdentity &file)
{
    FileState &state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.opens.count(file) != 0 || state.streams.count(file) != 0;
}

DWORD CopyFileBytes(const std::string &from, const std::string &to)
{
    const int source = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (source < 0)
        return ErrnoToWin32(errno);
    const int target = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (target < 0) {
        const int error = errno;
        close(source);
        return ErrnoToWin32(error);
    }
    std::vector<char> buffer(1 << 20);
    off_t size = 0;
    DWORD result = ERROR_SUCCESS;
    for (;;) {
        const ssize_t got = read(source, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (got < 0)
                result = ErrnoToWin32(errno);
            break;
        }
        size += got;
        if (std::all_of(buffer.begin(), buffer.begin() + got, [](char c) { return c == 0; })) {
            lseek(target, got, SEEK_CUR);  // a run of zeros stays a hole
            continue;
        }
        ssize_t done = 0;
        while (done < got && result == ERROR_SUCCESS) {
            const ssize_t put = write(target, buffer.data() + done, size_t(got - done));
            if (put < 0 && errno != EINTR)
                result = ErrnoToWin32(errno);
            else if (put > 0)
                done += put;
        }
        if (result != ERROR_SUCCESS)
            break;
    }
    if (result == ERROR_SUCCESS && ftruncate(target, size) != 0)
        result = ErrnoToWin32(errno);
    struct stat status;
    if (result == ERROR_SUCCESS && fstat(source, &status) == 0) {
        const struct timespec times[2] = {status.st_atim, status.st_mtim};
        futimens(target, times);
    }
    close(source);
    close(target);
    return result;
}

namespace {

DWORD g_detachError;  // the first failure of a walk below a directory (the sandbox lock is held)

int DetachEntry(const char *path, const struct stat *, int kind, struct FTW *)
{
    if (kind == FTW_F && g_detachError == ERROR_SUCCESS)
        g_detachError = DetachFromShadowCopies(path);
    return 0;
}

} // namespace

DWORD DetachFromShadowCopies(const std::string &hostPath, bool below)
{
    struct stat status;
    if (lstat(hostPath.c_str(), &status) != 0)
        return ERROR_SUCCESS;
    if (S_ISDIR(status.st_mode)) {
        if (!below)
            return ERROR_SUCCESS;
        g_detachError = ERROR_SUCCESS;
        nftw(hostPath.c_str(), DetachEntry, 16, FTW_PHYS);
        return g_detachError;
    }
    if (!S_ISREG(status.st_mode) || status.st_nlink < 2)
        return ERROR_SUCCESS;
    // A private copy beside the file, renamed over it: the copies keep the old bytes.
    static unsigned counter = 0;
    const std::string temporary = hostPath + ".winsim-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    DWORD error = CopyFileBytes(hostPath, temporary);
    if (error == ERROR_SUCCESS && rename(temporary.c_str(), hostPath.c_str()) != 0)
        error = ErrnoToWin32(errno);
    if (error != ERROR_SUCCESS)
        unlink(temporary.c_str());
    return error;
}

void ClearFileAttributes()
{
    FileState &state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    state.attributes.clear();
}

} // namespace winsim

using namespace winsim;

EXTERN_C HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile)
{
    (void)lpSecurityAttributes;
    (void)hTemplateFile;
    HANDLE handle;
    Fault fault;
    if (TakeFault("CreateFileW", lpFileName == NULL ? wstring16() : wstring16(lpFileName), &fault))
        return Fail(fault.error, INVALID_HANDLE_VALUE);
    DWORD deviceError;
    if (lpFileName != NULL && OpenShadowDevice(lpFileName, dwDesiredAccess, handle, deviceError)) {
        if (deviceError != ERROR_SUCCESS)
            return Fail(deviceError, INVALID_HANDLE_VALUE);
        SetLastError(ERROR_SUCCESS);
        return handle;
    }
    if (lpFileName != NULL && OpenDevice(lpFileName, handle, deviceError)) {
        if (deviceError != ERROR_SUCCESS)
            return Fail(deviceError, INVALID_HANDLE_VALUE);
        SetLastError(ERROR_SUCCESS);
        return handle;
    }
    bool existed = false;
    const DWORD error = CreateFileInternal(lpFileName, dwDesiredAccess, dwShareMode, dwCreationDisposition,
                                           dwFlagsAndAttributes, handle, existed);
    if (error != ERROR_SUCCESS)
        return Fail(error, INVALID_HANDLE_VALUE);
    const bool reportExisting =
        existed && (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS);
    SetLastError(reportExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

EXTERN_C BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                              LPOVERLAPPED lpOverlapped)
{
    DWORD faultError;
    if (winsim::FaultFor("ReadFile", NULL, faultError))
        return Fail(faultError, FALSE);
    if (lpNumberOfBytesRead != NULL)
        *lpNumberOfBytesRead = 0;
    std::shared_ptr<FileObject> file = LookupHandleAs<FileObject>(hFile);
    if (!file)
        return Fail(DeviceReadError("ReadFile", hFile), FALSE);
    if (!(file->access() & FILE_READ_DATA))
        return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (lpBuffer == NULL && nNumberOfBytesToRead != 0)
        return Fail(ERROR_NOACCESS, FALSE);
    std::lock_guard<std::mutex> guard(file->lock());
    if (!SeekForOverlapped(file->fd(), lpOverlapped))
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    size_t total = 0;
    while (total < nNumberOfBytesToRead) {
        const ssize_t got = read(file->fd(), static_cast<char *>(lpBuffer) + total, nNumberOfBytesToRead - total);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return Fail(ErrnoToWin32(errno), FALSE);
        }
        if (got == 0)
            break;  // end of file: success with fewer bytes (zero at the end)
        total += size_t(got);
    }
    if (lpNumberOfBytesRead != NULL)
        *lpNumberOfBytesRead = DWORD(total);
    if (lpOverlapped != NULL)
        lpOverlapped->InternalHigh = total;
    return TRUE;
}

EXTERN_C BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped)
{
    DWORD faultError;
    if (winsim::FaultFor("WriteFile", NULL, faultError))
        return Fail(faultError, FALSE);
    if (lpNumberOfBytesWritten != NULL)
        *lpNumberOfBytesWritten = 0;
    std::shared_ptr<FileObject> file = LookupHandleAs<FileObject>(hFile);
    if (!file)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (!(file->access() & kWriteAccess))
        return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (lpBuffer == NULL && nNumberOfBytesToWrite != 0)
        return Fail(ERROR_NOACCESS, FALSE);
    if (nNumberOfBytesToWrite == 0)
        return TRUE;  // a null write changes nothing
    std::lock_guard<std::mutex> guard(file->lock());
    if (!SeekForOverlapped(file->fd(), lpOverlapped))
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    size_t total = 0;
    while (total < nNumberOfBytesToWrite) {
        const ssize_t put =
            write(file->fd(), static_cast<const char *>(lpBuffer) + total, nNumberOfBytesToWrite - total);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return Fail(ErrnoToWin32(errno), FALSE);
        }
        total += size_t(put);
    }
    MarkArchive(file->hostPath());
    if (lpNumberOfBytesWritten != NULL)
        *lpNumberOfBytesWritten = DWORD(total);
    if (lpOverlapped != NULL)
        lpOverlapped->InternalHigh = total;
    return TRUE;
}

EXTERN_C BOOL WINAPI GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize)
{
    DWORD faultError;
    if (winsim::FaultFor("GetFileSizeEx", NULL, faultError))
        return Fail(faultError, FALSE);
    std::shared_ptr<FileObject> file = LookupHandleAs<FileObject>(hFile);
    if (!file)
        return Fail(DeviceReadError("GetFileSizeEx", hFile), FALSE);
    if (lpFileSize == NULL)
        return Fail(ERROR_NOACCESS, FALSE);
    struct stat status;
    if (fstat(file->fd(), &status) != 0)
        return Fail(ErrnoToWin32(errno), FALSE);
    lpFileSize->QuadPart = status.st_size;
    return TRUE;
}

EXTERN_C BOOL WINAPI SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove, PLARGE_INTEGER lpNewFilePointer,
                                      DWORD dwMoveMethod)
{
    DWORD faultError;
    if (winsim::FaultFor("SetFilePointerEx", NULL, faultError))
        return Fail(faultError, FALSE);
    std::shared_ptr<FileObject> file = LookupHandleAs<FileObject>(hFile);
    if (!file)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    std::lock_guard<std::mutex> guard(file->lock());
    LONGLONG base;
    switch (dwMoveMethod) {
    case FILE_BEGIN:
        base = 0;
        break;
    case FILE_CURRENT:
        base = lseek(file->fd(), 0, SEEK_CUR);
        break;
    case FILE_END: {
        struct stat status;
        fstat(file->fd(), &status);
        base = status.st_size;
        break;
    }
    default:
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    const LONGLONG target = base + liDistanceToMove.QuadPart;
    if (target < 0)
        return Fail(ERROR_NEGATIVE_SEEK, FALSE);
    if (lseek(file->fd(), off_t(target), SEEK_SET) < 0)
        return Fail(ErrnoToWin32(errno), FALSE);
    if (lpNewFilePointer != NULL)
        lpNewFilePointer->QuadPart = target;
    return TRUE;
}

EXTERN_C BOOL WINAPI SetEndOfFile(HANDLE hFile)
{
    DWORD faultError;
    if (winsim::FaultFor("SetEndOfFile", NULL, faultError))
        return Fail(faultError, FALSE);
    std::shared_ptr<FileObject> file = LookupHandleAs<FileObject>(hFile);
    if (!file)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (!(file->access() & FILE_WRITE_DATA))
        return Fail(ERROR_ACCESS_DENIED, FALSE);
    std::lock_guard<std::mutex> guard(file->lock());
    const off_t position = lseek(file->fd(), 0, SEEK_CUR);
    if (ftruncate(file->fd(), position) != 0)
        return Fail(ErrnoToWin32(errno), FALSE);
    MarkArchive(file->hostPath());
    return TRUE;
}

// Last-write and last-access times go onto the sandbox file, where GetFileAttributesExW
// and the find calls read them; a NULL time, or one of all ones bits, leaves that time as it
// is. The sandbox's file system keeps no creation time, so a new one is accepted and lost.
EXTERN_C BOOL WINAPI SetFileTime(HANDLE hFile, const FILETIME *lpCreationTime, const FILETIME *lpLastAccessTime,
                                 const FILETIME *lpLastWriteTime)
{
    DWORD faultError;
    if (winsim::FaultFor("SetFileTime", NULL, faultError))
        return Fail(faultError, FALSE);
    (void)lpCreationTime;
    std::shared_ptr<FileObject> file = LookupHandleAs<FileObject>(hFile);
    if (!file)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (!(file->access() & FILE_WRITE_ATTRIBUTES))
        return Fail(ERROR_ACCESS_DENIED, FALSE);
    auto toTimespec = [](const FILETIME *time) {
        struct timespec out = {0, UTIME_OMIT};
        if (time == NULL || (time->dwLowDateTime == 0xffffffff && time->dwHighDateTime == 0xffffffff))
            return out;
        const ULONGLONG ticks = (ULONGLONG(time->dwHighDateTime) << 32) | time->dwLowDateTime;
        out.tv_sec = time_t(LONGLONG(ticks / 10000000ULL) - 11644473600LL);
        out.tv_nsec = long(ticks % 10000000ULL) * 100;
        return out;
    };
    const struct timespec times[2] = {toTimespec(lpLastAccessTime), toTimespec(lpLastWriteTime)};
    if (futimens(file->fd(), times) != 0)
        return Fail(ErrnoToWin32(errno), FALSE);
    return TRUE;
}

EXTERN_C BOOL WINAPI FlushFileBuffers(HANDLE hFile)
{
    DWORD faultError;
    if (winsim::FaultFor("FlushFileBuffers", NULL, faultError))
        return Fail(faultError, FALSE);
    std::shared_ptr<FileObject> file = LookupHandleAs<FileObject>(hFile);
    if (!file)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (!(file->access() & kWriteAccess))
        return Fail(ERROR_ACCESS_DENIED, FALSE);
    fsync(file->fd());
    return TRUE;
}

EXTERN_C DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName)
{
    DWORD faultError;
    if (winsim::FaultFor("GetFileAttributesW", lpFileName, faultError))
        return Fail(faultError, INVALID_FILE_ATTRIBUTES);
    MappedPath path;
    if (DWORD error = MapWindowsPath(lpFileName, path))
        return Fail(error, INVALID_FILE_ATTRIBUTES);
    if (!path.exists)
        return Fail(MissingError(path), INVALID_FILE_ATTRIBUTES);
    return AttributesOf(path);
}

EXTERN_C BOOL WINAPI GetFileAttributesExW(LPCWSTR lpFileName, GET_FILEEX_INFO_LEVELS fInfoLevelId,
                                          LPVOID lpFileInformation)
{
    DWORD faultError;
    if (winsim::FaultFor("GetFileAttributesExW", lpFileName, faultError))
        return Fail(faultError, FALSE);
    if (fInfoLevelId != GetFileExInfoStandard)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (lpFileInformation == NULL)
        return Fail(ERROR_NOACCESS, FALSE);
    MappedPath path;
    if (DWORD error = MapWindowsPath(lpFileName, path))
        return Fail(error, FALSE);
    struct stat status;
    if (!path.exists || stat(path.hostPath.c_str(), &status) != 0)
        return Fail(MissingError(path), FALSE);
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    data.dwFileAttributes = AttributesOf(path);
    data.ftCreationTime = FileTimeOf(status.st_ctim);
    data.ftLastAccessTime = FileTimeOf(status.st_atim);
    data.ftLastWriteTime = FileTimeOf(status.st_mtim);
    if (!path.isDirectory) {
        data.nFileSizeHigh = DWORD(ULONGLONG(status.st_size) >> 32);
        data.nFileSizeLow = DWORD(status.st_size);
    }
    *static_cast<WIN32_FILE_ATTRIBUTE_DATA *>(lpFileInformation) = data;
    return TRUE;
}

EXTERN_C BOOL WINAPI SetFileAttributesW(LPCWSTR lpFileName, DWORD dwFileAttributes)
{
    DWORD faultError;
    if (winsim::FaultFor("SetFileAttributesW", lpFileName, faultError))
        return Fail(faultError, FALSE);
    MappedPath path;
    if (DWORD error = MapWindowsPath(lpFileName, path))
        return Fail(error, FALSE);
    if (!path.exists)
        return Fail(MissingError(path), FALSE);
    if (path.readOnly)
        return Fail(ERROR_WRITE_PROTECT, FALSE);
    // FILE_ATTRIBUTE_NORMAL alone clears everything; bits that cannot be set are ignored.
    StoreAttributes(path.hostPath, dwFileAttributes & kSettableAttributes);
    return TRUE;
}

EXTERN_C BOOL WINAPI CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes)
{
    DWORD faultError;
    if (winsim::FaultFor("CreateDirectoryW", lpPathName, faultError))
        return Fail(faultError, FALSE);
    (void)lpSecurityAttributes;
    MappedPath path;
    if (DWORD error = MapWindowsPath(lpPathName, path))
        return Fail(error, FALSE);
    if (path.exists)
        return Fail(ERROR_ALREADY_EXISTS, FALSE);
    if (!path.parentExists)
        return Fail(ERROR_PATH_NOT_FOUND, FALSE);
    if (path.readOnly)
        return Fail(ERROR_WRITE_PROTECT, FALSE);
    if (mkdir(path.hostPath.c_str(), 0777) != 0)
        return Fail(ErrnoToWin32(errno), FALSE);
    ForgetAttributes(path.hostPath);
    return TRUE;
}

EXTERN_C BOOL WINAPI RemoveDirectoryW(LPCWSTR lpPathName)
{
    DWORD faultError;
    if (winsim::FaultFor("RemoveDirectoryW", lpPathName, faultError))
        return Fail(faultError, FALSE);
    MappedPath path;
    if (DWORD error = MapWindowsPath(lpPathName, path))
        return Fail(error, FALSE);
    if (!path.exists)
        return Fail(MissingError(path), FALSE);
    if (!path.isDirectory)
        return Fail(ERROR_DIRECTORY, FALSE);
    if (path.readOnly)
        return Fail(ERROR_WRITE_PROTECT, FALSE);
    if (path.isJunction) {
        // hostPath is the target's: removing the junction alone is not simulated.
        LogNotImplemented("RemoveDirectoryW", "removing a junction");
        return Fail(ERROR_CALL_NOT_IMPLEMENTED, FALSE);
    }
    if (path.isDriveRoot || (AttributesOf(path) & FILE_ATTRIBUTE_READONLY))
        return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (rmdir(path.hostPath.c_str()) != 0)
        return Fail(ErrnoToWin32(errno), FALSE);
    ForgetAttributes(path.hostPath);
    return TRUE;
}

EXTERN_C BOOL WINAPI DeleteFileW(LPCWSTR lpFileName)
{
    DWORD faultError;
    if (winsim::FaultFor("DeleteFileW", lpFileName, faultError))
        return Fail(faultError, FALSE);
    MappedPath path;
    if (DWORD error = MapWindowsPath(lpFileName, path))
        return Fail(error, FALSE);
    if (!path.exists)
        return Fail(MissingError(path), FALSE);
    if (path.readOnly && !path.isDirectory)
        return Fail(ERROR_WRITE_PROTECT, FALSE);
    if (path.isDirectory || (AttributesOf(path) & FILE_ATTRIBUTE_READONLY))
        return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (DeleteBlockedByOpenHandle(path.hostPath))
        return Fail(ERROR_SHARING_VIOLATION, FALSE);
    if (unlink(path.hostPath.c_str()) != 0)
        return Fail(ErrnoToWin32(errno), FALSE);
    ForgetAttributes(path.hostPath);
    return TRUE;
}

namespace {

// The copy-out rule of the path getters: the length without the terminator when it fits,
// else the size needed with the terminator.
DWORD CopyPathOut(const wstring16 &text, DWORD capacity, LPWSTR buffer)
{
    if (buffer == NULL || text.size() + 1 > capacity)
        return DWORD(text.size() + 1);
    text.copy(buffer, text.size());
    buffer[text.size()] = 0;
    return DWORD(text.size());
}

} // namespace

EXTERN_C DWORD WINAPI GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer)
{
    DWORD faultError;
    if (winsim::FaultFor("GetTempPathW", NULL, faultError))
        return Fail(faultError, DWORD(0));
    // The first of TMP, TEMP, USERPROFILE, else the Windows directory; always with a
    // trailing backslash, and not checked for existence.
    wstring16 directory;
    if (!LookupEnvironmentVariable(u"TMP", directory) && !LookupEnvironmentVariable(u"TEMP", directory) &&
        !LookupEnvironmentVariable(u"USERPROFILE", directory))
        directory = u"C:\\Windows";
    wstring16 full;
    if (FullWindowsPath(directory.c_str(), full) != ERROR_SUCCESS)
        full = directory;
    if (full.empty() || full.back() != u'\\')
        full += u"\\";
    return CopyPathOut(full, nBufferLength, lpBuffer);
}

EXTERN_C DWORD WINAPI GetCurrentDirectoryW(DWORD nBufferLength, LPWSTR lpBuffer)
{
    return CopyPathOut(CurrentDirectory(), nBufferLength, lpBuffer);
}

EXTERN_C BOOL WINAPI SetCurrentDirectoryW(LPCWSTR lpPathName)
{
    MappedPath path;
    if (DWORD error = MapWindowsPath(lpPathName, path))
        return Fail(error, FALSE);
    if (!path.exists)
        return Fail(MissingError(path), FALSE);
    if (!path.isDirectory)
        return Fail(ERROR_DIRECTORY, FALSE);
    SetCurrentDirectoryPath(path.windowsPath);
    return TRUE;
}

EXTERN_C DWORD WINAPI GetFullPathNameW(LPCWSTR lpFileName, DWORD nBufferLength, LPWSTR lpBuffer,
                                       LPWSTR *lpFilePart)
{
    DWORD faultError;
    if (winsim::FaultFor("GetFullPathNameW", lpFileName, faultError))
        return Fail(faultError, DWORD(0));
    wstring16 full;
    if (DWORD error = FullWindowsPath(lpFileName, full))
        return Fail(error, DWORD(0));
    // A trailing separator in the input stays, as GetFullPathNameW keeps it.
    const size_t length = WideLength(lpFileName);
    if (length > 0 && (lpFileName[length - 1] == u'\\' || lpFileName[length - 1] == u'/') && full.back() != u'\\')
        full += u"\\";
    const DWORD result = CopyPathOut(full, nBufferLength, lpBuffer);
    if (lpFilePart != NULL && result < nBufferLength && lpBuffer != NULL) {
        const size_t slash = full.rfind(u'\\');
        *lpFilePart = (slash == full.size() - 1) ? NULL : lpBuffer + slash + 1;
    }
    return result;
}
