// Where winsim keeps the files of the simulated Windows host. MapWindowsPath is the one
// place that knows the layout of the sandbox: the volume work replaces it and nothing else.
#pragma once

#include "internal.h"

namespace winsim {

struct MappedPath {
    wstring16 windowsPath;      // the full, normalised Windows path: "C:\dir\file"
                                // or "\\?\Volume{guid}\dir\file"
    std::string hostPath;       // where the sandbox keeps it
    bool parentExists = false;  // the directory that holds it exists
    bool exists = false;
    bool isDirectory = false;
    bool isDriveRoot = false;   // the root of the volume the path names it by
    int volume = -1;            // index in CurrentHost().volumes; -1 for a letter no volume has
    wstring16 volumeRoot;       // the path's volume root as named: "C:\", "D:\Mount\Archive\"
    bool isMountFolder = false; // the path is a mount folder (a reparse point on its parent)
    bool readOnly = false;      // inside a shadow copy: every change is refused
};

// The full Windows path of a path as Win32 reads it: "/" as "\", "\\?\" stripped, relative
// paths against the current directory, "." and ".." resolved, trailing dots and spaces of
// names dropped. ERROR_INVALID_NAME for characters Windows forbids, ERROR_BAD_NETPATH for
// UNC paths, ERROR_PATH_NOT_FOUND for an empty path. \\?\Volume{guid}\ and shadow-copy
// device paths (\\?\GLOBALROOT\Device\HarddiskVolumeShadowCopyN\...) keep their names
// literally; other device paths fail loudly with ERROR_CALL_NOT_IMPLEMENTED.
DWORD FullWindowsPath(const WCHAR *path, wstring16 &full);

// Maps a Windows path into the sandbox. Each volume of the current host has a directory
// under the root (<root>/X for a volume with a letter, <root>/Volume{guid} otherwise);
// drive letters, \\?\Volume{guid}\ roots and mount folders lead to the right one, and
// each name matches an existing entry without regard to case (names not found keep their
// case). A letter no online volume has maps to <root>/X, which does not exist.
// ERROR_PATH_NOT_FOUND for a volume GUID the host does not have or an offline volume.
// Shadow-copy device paths lead to the device's frozen files (readOnly); a device that does
// not exist is ERROR_FILE_NOT_FOUND when named alone, ERROR_PATH_NOT_FOUND with more after
// it, as the object manager answers for a missing leaf and a missing directory.
DWORD MapWindowsPath(const WCHAR *path, MappedPath &out);

// The current directory of the process, a full Windows path.
wstring16 CurrentDirectory();
void SetCurrentDirectoryPath(const wstring16 &full);

// The directory that keeps a volume's files.
std::string VolumeDirectory(int volume);

// Forgets every recorded attribute (files.cpp), when the sandbox moves.
void ClearFileAttributes();

} // namespace winsim
