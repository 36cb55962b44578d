// Where winsim keeps the files of the simulated Windows host. MapWindowsPath is the one
// place that knows the layout of the sandbox: the volume work replaces it and nothing else.
#pragma once

#include "internal.h"

namespace winsim {

struct MappedPath {
    wstring16 windowsPath;      // the full, normalised Windows path: "C:\dir\file"
    std::string hostPath;       // where the sandbox keeps it
    bool parentExists = false;  // the directory that holds it exists
    bool exists = false;
    bool isDirectory = false;
    bool isDriveRoot = false;
};

// The full Windows path of a path as Win32 reads it: "/" as "\", "\\?\" stripped, relative
// paths against the current directory, "." and ".." resolved, trailing dots and spaces of
// names dropped. ERROR_INVALID_NAME for characters Windows forbids, ERROR_BAD_NETPATH for
// UNC paths, ERROR_PATH_NOT_FOUND for an empty path; device and volume paths fail loudly
// with ERROR_CALL_NOT_IMPLEMENTED.
DWORD FullWindowsPath(const WCHAR *path, wstring16 &full);

// Maps a Windows path into the sandbox: drive X: is the directory <root>/X, and each name
// matches an existing entry without regard to case (names not found keep their case).
DWORD MapWindowsPath(const WCHAR *path, MappedPath &out);

// The current directory of the process, a full Windows path.
wstring16 CurrentDirectory();
void SetCurrentDirectoryPath(const wstring16 &full);

// Forgets every recorded attribute (files.cpp), when the sandbox moves.
void ClearFileAttributes();

} // namespace winsim
