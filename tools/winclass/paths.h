// Paths as the command takes them in and hands them out: text conversions through the
// platform's UTF-8 conversion, and save paths made absolute and canonical the way Windows
// resolves them, spelled as the file system spells them.
#pragma once

#include <platform/tvplatform.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace winclass {

// A FindFirstFileW search, closed with FindClose. Release it (not close) when the search
// answered INVALID_HANDLE_VALUE.
struct FindCloser {
    void operator()(HANDLE handle) const { FindClose(handle); }
};
using FindHandle = std::unique_ptr<void, FindCloser>;

// A CreateFileW handle, closed with CloseHandle; the same rule for INVALID_HANDLE_VALUE.
struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using FileHandle = std::unique_ptr<void, HandleCloser>;

// Strict conversions: false for a lone surrogate (wide) or ill-formed UTF-8 (narrow).
bool WideToUtf8(const wstr &text, std::string *utf8);
bool Utf8ToWide(const std::string &text, wstr *wide);
// For messages only: a unit that cannot be converted shows as U+FFFD.
std::string Shown(const wstr &text);

// Where a backup folder keeps the copy of a live file: C:\Data\a.txt at
// FOLDER/C/Data/a.txt, \\?\Volume{g}\EFI at FOLDER/Volume{g}/EFI. False (with *error)
// for a name without a UTF-8 form.
bool CopyLocation(const std::filesystem::path &folder, const wstr &livePath, std::filesystem::path *copy,
                  std::string *error);
// The same layout on the host, under a Windows folder: C:\Data\a.txt under D:\Put at
// D:\Put\C\Data\a.txt.
wstr HostLocation(const wstr &folder, const wstr &livePath);

struct SavePath {
    std::string given;  // as the user wrote it
    wstr path;          // X:\Folder\File, each name as the file system spells it
    wstr volume;        // the volume that holds it: X:\ or a mount folder, trailing backslash
    bool folder = false;
};

// Makes a path the user gave absolute and canonical: relative paths against the current
// directory, "." and "..", repeated separators and '/', the prefixes \\?\ and
// \\?\Volume{...} too; then checks that it exists on a volume that can be snapshotted.
// On failure *error says what is wrong, naming the path.
bool CanonicalSavePath(const std::string &given, SavePath *savePath, std::string *error);

// Save paths without overlaps: a path inside another one of the same volume goes, as
// does a path named twice. A path below a mount folder stays, since a folder's copy does
// not cross into the volume mounted in it. Order is by path.
std::vector<SavePath> MergeOverlaps(std::vector<SavePath> paths);

} // namespace winclass
