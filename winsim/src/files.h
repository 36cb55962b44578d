// The file system over the sandbox, shared by kernel32 (files.cpp) and the CRT's wide
// file functions (crtfiles.cpp): Windows attributes kept beside the files, and the checks
// both kinds of callers make before touching a file.
#pragma once

#include "paths.h"

#include <ctime>
#include <sys/types.h>

namespace winsim {

// The attributes GetFileAttributesW reports for an existing path.
DWORD AttributesOf(const MappedPath &path);
// Records the attributes (DIRECTORY is implied by the file system and not stored).
void StoreAttributes(const std::string &hostPath, DWORD attributes);
void ForgetAttributes(const std::string &hostPath);
// The attributes recorded for a path, if any (shadow copies carry them over).
bool RecordedAttributes(const std::string &hostPath, DWORD *attributes);
// Forgets the attributes of a directory and of everything below it.
void ForgetAttributesUnder(const std::string &directory);
// Sets FILE_ATTRIBUTE_ARCHIVE, as NTFS does when a file's data changes.
void MarkArchive(const std::string &hostPath);

// A file time (100-nanosecond intervals since 1601-01-01) from a host file time.
FILETIME FileTimeOf(const struct timespec &time);

// Win32 error for an existing path that is missing: FILE_NOT_FOUND, or PATH_NOT_FOUND when
// even the directory that would hold it is missing.
DWORD MissingError(const MappedPath &path);

// Whether some open handle keeps the file from being deleted (no FILE_SHARE_DELETE).
bool DeleteBlockedByOpenHandle(const std::string &hostPath);

// A file of the host file system, as open handles are counted.
struct FileIdentity {
    dev_t device;
    ino_t inode;
    bool operator<(const FileIdentity &other) const
    {
        return device != other.device ? device < other.device : inode < other.inode;
    }
};

// CRT streams count as open files too (kernel32 handles are counted by CreateFileW).
void NoteStreamOpen(const FileIdentity &file);
void NoteStreamClosed(const FileIdentity &file);
// Whether a handle or stream of this process has the file open.
bool IsOpenFile(const FileIdentity &file);

// A shadow copy shares the bytes of the live files it froze (hard links). Before a live
// file is opened or handed to a caller's own file calls it gets bytes of its own, so that
// the copy stays as it was; with below, every file under a directory does. Call with
// LockSandbox() held.
DWORD DetachFromShadowCopies(const std::string &hostPath, bool below = false);

// Copies a file's bytes into a new file (holes of zeros stay holes), then its times.
DWORD CopyFileBytes(const std::string &from, const std::string &to);

DWORD ErrnoToWin32(int error);

} // namespace winsim
