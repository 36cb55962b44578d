// The CRT's wide file functions over the same sandbox and attributes as kernel32. Files
// open in text mode unless the mode says "b", as in the Microsoft CRT: "\n" is written as
// "\r\n", and reading turns "\r\n" back into "\n" and stops at Ctrl-Z.
#include "files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace winsim {

namespace {

struct OpenRequest {
    int flags = 0;
    bool text = true;
    bool writes = false;
    std::string stdioMode;  // what fdopen is given
};

// Parses "r", "w", "a", then "+", "b", "t" and the Microsoft extras (c, n, N, S, R, T).
bool ParseMode(const WCHAR *mode, OpenRequest &request)
{
    if (mode == NULL || mode[0] == 0)
        return false;
    switch (mode[0]) {
    case u'r': request.flags = O_RDONLY; break;
    case u'w': request.flags = O_WRONLY | O_CREAT | O_TRUNC; break;
    case u'a': request.flags = O_WRONLY | O_CREAT | O_APPEND; break;
    default: return false;
    }
    bool plus = false;
    for (const WCHAR *c = mode + 1; *c != 0; ++c) {
        switch (*c) {
        case u'+': plus = true; break;
        case u'b': request.text = false; break;
        case u't': request.text = true; break;
        case u'c': case u'n': case u'N': case u'S': case u'R': case u'T': case u' ': break;
        case u'D':
            LogNotImplemented("_wfopen", "mode D (delete on close)");
            return false;
        case u',':
            LogNotImplemented("_wfopen", "ccs= encodings");
            return false;
        default: return false;
        }
    }
    if (plus)
        request.flags = (request.flags & ~(O_WRONLY | O_RDONLY)) | O_RDWR;
    request.writes = (request.flags & (O_WRONLY | O_RDWR)) != 0;
    request.stdioMode.assign(1, char(mode[0]));
    if (plus)
        request.stdioMode += "+";
    return true;
}

// Every stream is a cookie stream, so that its closing is seen: an open stream keeps a
// shadow copy from sharing the file's bytes.
struct CrtStream {
    int fd;
    FileIdentity file;
    int pending = -1;  // a byte read ahead after a '\r'
    bool atCtrlZ = false;
};

ssize_t BinaryRead(void *cookie, char *buffer, size_t size)
{
    for (;;) {
        const ssize_t got = read(static_cast<CrtStream *>(cookie)->fd, buffer, size);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

ssize_t WriteAll(int fd, const char *data, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t put = write(fd, data + done, size - done);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        done += size_t(put);
    }
    return ssize_t(size);
}

ssize_t BinaryWrite(void *cookie, const char *buffer, size_t size)
{
    return WriteAll(static_cast<CrtStream *>(cookie)->fd, buffer, size);
}

ssize_t TextRead(void *cookie, char *buffer, size_t size)
{
    CrtStream &stream = *static_cast<CrtStream *>(cookie);
    size_t out = 0;
    while (out < size && !stream.atCtrlZ) {
        int byte;
        if (stream.pending >= 0) {
            byte = stream.pending;
            stream.pending = -1;
        } else {
            unsigned char raw;
            const ssize_t got = read(stream.fd, &raw, 1);
            if (got < 0)
                return out > 0 ? ssize_t(out) : -1;
            if (got == 0)
                break;
            byte = raw;
        }
        if (byte == 0x1A) {
            stream.atCtrlZ = true;
            break;
        }
        if (byte == '\r') {
            unsigned char next;
            const ssize_t got = read(stream.fd, &next, 1);
            if (got == 1 && next == '\n') {
                byte = '\n';
            } else if (got == 1) {
                stream.pending = next;
            }
        }
        buffer[out++] = char(byte);
        if (byte == '\n')
            break;  // hand lines over promptly
    }
    return ssize_t(out);
}

ssize_t TextWrite(void *cookie, const char *buffer, size_t size)
{
    CrtStream &stream = *static_cast<CrtStream *>(cookie);
    std::string translated;
    translated.reserve(size + size / 8);
    for (size_t i = 0; i < size; ++i) {
        if (buffer[i] == '\n')
            translated.push_back('\r');
        translated.push_back(buffer[i]);
    }
    return WriteAll(stream.fd, translated.data(), translated.size()) < 0 ? -1 : ssize_t(size);
}

int TextSeek(void *cookie, off64_t *offset, int whence)
{
    // Positions are those of the file's bytes, as ftell reports them in text mode.
    CrtStream &stream = *static_cast<CrtStream *>(cookie);
    const off64_t result = lseek64(stream.fd, *offset, whence);
    if (result < 0)
        return -1;
    stream.pending = -1;
    stream.atCtrlZ = false;
    *offset = result;
    return 0;
}

int TextClose(void *cookie)
{
    CrtStream *stream = static_cast<CrtStream *>(cookie);
    NoteStreamClosed(stream->file);
    const int result = close(stream->fd);
    delete stream;
    return result;
}

int Failure(int error)
{
    errno = error;
    return -1;
}

bool IsExecutableName(const std::string &hostPath)
{
    const size_t dot = hostPath.rfind('.');
    if (dot == std::string::npos || hostPath.find('/', dot) != std::string::npos)
        return false;
    const wstring16 extension = FoldUpper(FromUtf8(hostPath.substr(dot)));
    return extension == u".EXE" || extension == u".COM" || extension == u".BAT" || extension == u".CMD";
}

// errno for a path that does not exist or could not be mapped.
int MissingErrno(DWORD mapError) { return mapError == ERROR_INVALID_NAME ? EINVAL : ENOENT; }

} // namespace

} // namespace winsim

using namespace winsim;

EXTERN_C FILE *__cdecl _wfopen(const WCHAR *_Filename, const WCHAR *_Mode)
{
    OpenRequest request;
    if (_Filename == NULL || !ParseMode(_Mode, request)) {
        errno = EINVAL;
        return NULL;
    }
    // No shadow copy is made between the file getting bytes of its own and its opening.
    auto sandboxGuard = LockSandbox();
    MappedPath path;
    if (DWORD error = MapWindowsPath(_Filename, path)) {
        errno = MissingErrno(error);
        return NULL;
    }
    if (path.isDirectory) {
        errno = EACCES;
        return NULL;
    }
    if (!path.exists && (!request.writes || !(request.flags & O_CREAT) || !path.parentExists)) {
        errno = ENOENT;
        return NULL;
    }
    if (request.writes && path.readOnly) {
        errno = EACCES;  // the CRT's errno for a write-protected volume
        return NULL;
    }
    if (path.exists && request.writes && (AttributesOf(path) & FILE_ATTRIBUTE_READONLY)) {
        errno = EACCES;
        return NULL;
    }
    if (path.exists && !path.readOnly && DetachFromShadowCopies(path.hostPath) != ERROR_SUCCESS) {
        errno = EIO;
        return NULL;
    }
    const int fd = open(path.hostPath.c_str(), request.flags | O_CLOEXEC, 0666);
    if (fd < 0)
        return NULL;
    if (!path.exists)
        StoreAttributes(path.hostPath, FILE_ATTRIBUTE_ARCHIVE);
    else if (request.writes)
        MarkArchive(path.hostPath);

    struct stat status;
    fstat(fd, &status);
    CrtStream *stream = new CrtStream{fd, FileIdentity{status.st_dev, status.st_ino}};
    NoteStreamOpen(stream->file);
    cookie_io_functions_t functions = {TextRead, TextWrite, TextSeek, TextClose};
    if (!request.text) {
        functions.read = BinaryRead;
        functions.write = BinaryWrite;
    }
    FILE *file = fopencookie(stream, request.stdioMode.c_str(), functions);
    if (file == NULL)
        TextClose(stream);
    return file;
}

EXTERN_C int __cdecl _wstat64(const WCHAR *_Name, struct _stat64 *_Stat)
{
    if (_Name == NULL || _Stat == NULL)
        return Failure(EINVAL);
    // msvcrt refuses a trailing separator except on a drive root.
    const size_t length = WideLength(_Name);
    const bool trailing = length > 0 && (_Name[length - 1] == u'\\' || _Name[length - 1] == u'/');
    MappedPath path;
    if (DWORD error = MapWindowsPath(_Name, path))
        return Failure(MissingErrno(error));
    if (!path.exists || (trailing && !path.isDriveRoot))
        return Failure(ENOENT);
    struct stat status;
    if (stat(path.hostPath.c_str(), &status) != 0)
        return Failure(ENOENT);

    const DWORD attributes = AttributesOf(path);
    unsigned short mode = _S_IREAD;
    if (!(attributes & FILE_ATTRIBUTE_READONLY))
        mode |= _S_IWRITE;
    if (path.isDirectory || IsExecutableName(path.hostPath))
        mode |= _S_IEXEC;
    mode |= (mode & 0700) >> 3;
    mode |= (mode & 0700) >> 6;
    mode |= path.isDirectory ? _S_IFDIR : _S_IFREG;

    memset(_Stat, 0, sizeof *_Stat);
    _Stat->st_dev = _Stat->st_rdev = _dev_t(path.windowsPath[0] - u'A');
    _Stat->st_mode = mode;
    _Stat->st_nlink = 1;
    _Stat->st_size = path.isDirectory ? 0 : __int64(status.st_size);
    _Stat->st_atime = status.st_atim.tv_sec;
    _Stat->st_mtime = status.st_mtim.tv_sec;
    _Stat->st_ctime = status.st_ctim.tv_sec;
    return 0;
}

EXTERN_C int __cdecl _wmkdir(const WCHAR *_Path)
{
    if (_Path == NULL)
        return Failure(EINVAL);
    MappedPath path;
    if (DWORD error = MapWindowsPath(_Path, path))
        return Failure(MissingErrno(error));
    if (path.exists)
        return Failure(EEXIST);
    if (!path.parentExists)
        return Failure(ENOENT);
    if (path.readOnly)
        return Failure(EACCES);
    if (mkdir(path.hostPath.c_str(), 0777) != 0)
        return -1;
    ForgetAttributes(path.hostPath);
    return 0;
}

EXTERN_C int __cdecl _wunlink(const WCHAR *_Filename)
{
    if (_Filename == NULL)
        return Failure(EINVAL);
    MappedPath path;
    if (DWORD error = MapWindowsPath(_Filename, path))
        return Failure(MissingErrno(error));
    if (!path.exists)
        return Failure(ENOENT);
    if (path.readOnly || path.isDirectory || (AttributesOf(path) & FILE_ATTRIBUTE_READONLY) ||
        DeleteBlockedByOpenHandle(path.hostPath))
        return Failure(EACCES);
    if (unlink(path.hostPath.c_str()) != 0)
        return -1;
    ForgetAttributes(path.hostPath);
    return 0;
}

EXTERN_C int __cdecl _wremove(const WCHAR *_Filename) { return _wunlink(_Filename); }

EXTERN_C int __cdecl _waccess(const WCHAR *_Filename, int _AccessMode)
{
    if (_Filename == NULL || (_AccessMode & ~6) != 0)
        return Failure(EINVAL);
    MappedPath path;
    if (DWORD error = MapWindowsPath(_Filename, path))
        return Failure(MissingErrno(error));
    if (!path.exists)
        return Failure(ENOENT);
    if ((_AccessMode & 2) && (AttributesOf(path) & FILE_ATTRIBUTE_READONLY))
        return Failure(EACCES);
    return 0;
}
