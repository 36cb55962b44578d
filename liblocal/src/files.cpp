// C runtime file access by UTF-8 path.
#include <liblocal/voerror.h>
#include <liblocal/vofiles.h>
#include <liblocal/xalloc.h>

#include "internal.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstring>
#include <new>
#include <sys/stat.h>
#include <sys/types.h>

namespace {

int FailWithErrno(int code)
{
    errno = code;
    vo_error_set_last(code, VO_ERR_ERRNO);
    return -1;
}

// fopen modes: r, w or a, then any of the C runtime's modifiers. Checked here because the
// Windows runtime treats a bad mode as a program error rather than an EINVAL.
bool IsValidMode(const char *mode)
{
    if (mode[0] != 'r' && mode[0] != 'w' && mode[0] != 'a')
        return false;
    for (const char *p = mode + 1; *p != '\0'; ++p) {
        if (std::strchr("+btxcnNSRTD", *p) == nullptr)
            return false;
    }
    return true;
}

// The directory part of a path ("" when it has none).
std::string ParentOf(const char *path)
{
    const char *lastSeparator = nullptr;
    for (const char *p = path; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '/')
            lastSeparator = p;
    }
    return lastSeparator ? std::string(path, size_t(lastSeparator - path)) : std::string();
}

} // namespace

FILE *vo_fopen(const char *path, const char *mode, int flags)
{
    if (path == nullptr || mode == nullptr || (flags & ~VO_FOPEN_MKDIRS) != 0 || !IsValidMode(mode)) {
        FailWithErrno(EINVAL);
        return nullptr;
    }
    try {
        if (flags & VO_FOPEN_MKDIRS) {
            const std::string parent = ParentOf(path);
            if (!parent.empty() && vo_mkdirpath(parent.c_str(), 0777) != 1) {
                FailWithErrno(vo_error_to_errno(vo_error_get_last(), VO_ERR_WIN32));
                return nullptr;
            }
        }
        const wstr widePath = vo::Widen(path);
        const wstr wideMode = vo::Widen(mode);
        errno = 0;
        FILE *file = _wfopen(widePath.c_str(), wideMode.c_str());
        if (file == nullptr)
            FailWithErrno(errno != 0 ? errno : EIO);
        return file;
    } catch (const std::bad_alloc &) {
        vo_out_of_memory(0);
    }
}

char *vo_fgets(char *buffer, int size, FILE *file)
{
    if (buffer == nullptr || file == nullptr || size < 1)
        return nullptr;
    return std::fgets(buffer, size, file);
}

int vo_fclose(FILE *file) { return file ? std::fclose(file) : EOF; }

long long vo_lseek(FILE *file, long long offset, int whence)
{
    if (file == nullptr || whence < SEEK_SET || whence > SEEK_END || offset > LONG_MAX || offset < LONG_MIN)
        return FailWithErrno(EINVAL);
    if (std::fseek(file, long(offset), whence) != 0)
        return FailWithErrno(errno != 0 ? errno : EIO);
    const long position = std::ftell(file);
    if (position < 0)
        return FailWithErrno(errno != 0 ? errno : EIO);
    return position;
}

int vo_fprintf(FILE *file, const char *format, ...)
{
    if (file == nullptr || format == nullptr)
        return -1;
    va_list args;
    va_start(args, format);
    const int length = std::vfprintf(file, format, args);
    va_end(args);
    return length;
}

int vo_stat(const char *path, struct vo_statbuf *info)
{
    if (path == nullptr)
        return FailWithErrno(EINVAL);
    struct _stat64 status;
    try {
        const wstr widePath = vo::Widen(path);
        errno = 0;
        if (_wstat64(widePath.c_str(), &status) != 0)
            return FailWithErrno(errno != 0 ? errno : ENOENT);
    } catch (const std::bad_alloc &) {
        vo_out_of_memory(0);
    }
    if (info != nullptr) {
        info->size = static_cast<unsigned long long>(status.st_size);
        info->modified = status.st_mtime;
        info->accessed = status.st_atime;
        info->created = status.st_ctime;
        const unsigned int type = status.st_mode & _S_IFMT;
        info->type = type == _S_IFDIR ? VO_STAT_DIRECTORY : type == _S_IFREG ? VO_STAT_REGULAR : 0;
        info->mode = status.st_mode;
    }
    return 0;
}
