#include "paths.h"

#include "output.h"

#include <algorithm>
#include <memory>

namespace winclass {

namespace {

bool IsDriveRoot(const wstr &path) { return path.size() == 3 && path[1] == ':' && path[2] == '\\'; }

bool StartsWith(const wstr &text, const wstr &prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

std::string Failure(const std::string &given, const std::string &why) { return given + ": " + why; }

// A Win32 call that answers a path into a buffer of the caller's size.
template <typename Call>
bool PathAnswer(Call call, wstr *answer)
{
    std::vector<WCHAR> buffer(MAX_PATH + 1, 0);
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD length = call(buffer.data(), DWORD(buffer.size()));
        if (length == 0)
            return false;
        if (length < buffer.size()) {
            answer->assign(buffer.data(), length);
            return true;
        }
        buffer.assign(length + 1, 0);
    }
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
}

// \\?\Volume{guid}\rest: the same path under the volume's first mount point, a drive
// letter before a folder.
bool ThroughMountPoint(const std::string &given, const wstr &path, wstr *resolved, std::string *error)
{
    const size_t close = path.find('}');
    if (close == wstr::npos) {
        *error = Failure(given, ErrorText(ERROR_INVALID_NAME));
        return false;
    }
    const wstr volumeName = W("\\\\?\\") + path.substr(0, close + 1) + W("\\");
    const wstr rest = close + 2 < path.size() ? path.substr(close + 2) : wstr();
    std::vector<WCHAR> names(MAX_PATH + 1, 0);
    DWORD needed = 0;
    if (!GetVolumePathNamesForVolumeNameW(volumeName.c_str(), names.data(), DWORD(names.size()), &needed)) {
        DWORD failure = GetLastError();
        if (failure == ERROR_MORE_DATA) {
            names.assign(needed, 0);
            if (GetVolumePathNamesForVolumeNameW(volumeName.c_str(), names.data(), DWORD(names.size()), &needed))
                failure = 0;
            else
                failure = GetLastError();
        }
        if (failure != 0) {
            *error = Failure(given, "no such volume: " + ErrorText(failure));
            return false;
        }
    }
    wstr chosen;
    for (const WCHAR *name = names.data(); *name; name += wstr(name).size() + 1)
        if (chosen.empty() || IsDriveRoot(name))
            chosen = name;
    if (chosen.empty()) {
        *error = Failure(given, "the volume has no drive letter or mount folder to read it through");
        return false;
    }
    *resolved = chosen + rest;
    return true;
}

// What the user wrote, as an absolute drive-letter path; Windows' own rules apply.
bool AbsolutePath(const std::string &given, wstr *absolute, std::string *error)
{
    wstr path;
    if (!Utf8ToWide(given, &path)) {
        *error = Failure(given, "not valid UTF-8 text");
        return false;
    }
    std::replace(path.begin(), path.end(), WCHAR('/'), WCHAR('\\'));
    if (path.empty()) {
        *error = "an empty path";
        return false;
    }
    if (StartsWith(path, W("\\\\?\\")) || StartsWith(path, W("\\\\.\\"))) {
        wstr rest = path.substr(4);
        if (StartsWith(rest, W("Volume{")) && path[2] == '?') {
            if (!ThroughMountPoint(given, rest, &path, error))
                return false;
        } else if (rest.size() >= 2 && rest[1] == ':' && path[2] == '?') {
            path = rest;
        } else {
            *error = Failure(given, "a device or network path; give a folder or file on a local volume");
            return false;
        }
    } else if (StartsWith(path, W("\\\\"))) {
        *error = Failure(given, "a network path; only local volumes can be snapshotted");
        return false;
    }
    if (path.find_first_of(W("*?\"<>|")) != wstr::npos) {
        *error = Failure(given, "a path names one folder or file: the characters * ? \" < > | are not allowed");
        return false;
    }
    if (!PathAnswer([&](WCHAR *buffer, DWORD size) { return GetFullPathNameW(path.c_str(), size, buffer, NULL); },
                    absolute)) {
        *error = Failure(given, ErrorText(GetLastError()));
        return false;
    }
    if (absolute->size() < 3 || (*absolute)[1] != ':' || (*absolute)[2] != '\\') {
        *error = Failure(given, "not on a local volume with a drive letter");
        return false;
    }
    if ((*absolute)[0] >= 'a' && (*absolute)[0] <= 'z')
        (*absolute)[0] = WCHAR((*absolute)[0] - 'a' + 'A');
    while (absolute->size() > 3 && absolute->back() == '\\')
        absolute->pop_back();
    return true;
}

// The volume's own check: it exists, and VSS can take a snapshot of it.
bool SnapshottableVolume(const std::string &given, const wstr &volume, std::string *error)
{
    const std::string shown = Shown(volume);
    const char *why = nullptr;
    switch (GetDriveTypeW(volume.c_str())) {
    case DRIVE_FIXED:
        break;
    case DRIVE_NO_ROOT_DIR:
    case DRIVE_UNKNOWN:
        *error = Failure(given, "no such volume " + shown);
        return false;
    case DRIVE_REMOVABLE:
        why = " is removable media; VSS takes snapshots of fixed volumes only";
        break;
    case DRIVE_CDROM:
        why = " is an optical drive; VSS takes snapshots of fixed volumes only";
        break;
    default:
        why = " is not a local fixed volume; VSS cannot take a snapshot of it";
        break;
    }
    if (why != nullptr) {
        *error = Failure(given, "the volume " + shown + why);
        return false;
    }
    if (!GetVolumeInformationW(volume.c_str(), NULL, 0, NULL, NULL, NULL, NULL, 0)) {
        *error = Failure(given, "the volume " + shown + " cannot be read: " + ErrorText(GetLastError()));
        return false;
    }
    return true;
}

} // namespace

bool WideToUtf8(const wstr &text, std::string *utf8)
{
    utf8->clear();
    if (text.empty())
        return true;
    int size = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), int(text.size()), NULL, 0, NULL, NULL);
    if (size <= 0)
        return false;
    utf8->resize(size_t(size));
    return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), int(text.size()), &(*utf8)[0], size, NULL,
                               NULL) == size;
}

bool Utf8ToWide(const std::string &text, wstr *wide)
{
    wide->clear();
    if (text.empty())
        return true;
    int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), NULL, 0);
    if (size <= 0)
        return false;
    wide->resize(size_t(size));
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), &(*wide)[0], size) ==
           size;
}

std::string Shown(const wstr &text)
{
    std::string utf8;
    if (text.empty() || WideToUtf8(text, &utf8))
        return utf8;
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), NULL, 0, NULL, NULL);
    if (size <= 0)
        return "?";
    utf8.resize(size_t(size));
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &utf8[0], size, NULL, NULL);
    return utf8;
}

bool CanonicalSavePath(const std::string &given, SavePath *savePath, std::string *error)
{
    wstr absolute;
    if (!AbsolutePath(given, &absolute, error))
        return false;
    if (!SnapshottableVolume(given, absolute.substr(0, 3), error))
        return false;

    // Each name as the directory holds it: the backup records the file's own name.
    wstr spelled = absolute.substr(0, 3);
    DWORD attributes = FILE_ATTRIBUTE_DIRECTORY;
    size_t at = 3;
    while (at < absolute.size()) {
        size_t end = absolute.find('\\', at);
        if (end == wstr::npos)
            end = absolute.size();
        const wstr candidate = (IsDriveRoot(spelled) ? spelled : spelled + W("\\")) + absolute.substr(at, end - at);
        WIN32_FIND_DATAW found;
        FindHandle search(FindFirstFileW(candidate.c_str(), &found));
        if (search.get() == INVALID_HANDLE_VALUE) {
            search.release();
            *error = Failure(given, ErrorText(GetLastError()) + " (" + Shown(candidate) + ")");
            return false;
        }
        spelled = (IsDriveRoot(spelled) ? spelled : spelled + W("\\")) + found.cFileName;
        attributes = found.dwFileAttributes;
        at = end + 1;
    }

    // The volume path is never longer than the path and a backslash.
    std::vector<WCHAR> root(std::max<size_t>(spelled.size() + 2, MAX_PATH + 1), 0);
    if (!GetVolumePathNameW(spelled.c_str(), root.data(), DWORD(root.size()))) {
        *error = Failure(given, "cannot find its volume: " + ErrorText(GetLastError()));
        return false;
    }
    const wstr volume = root.data();
    if (volume != absolute.substr(0, 3) && !SnapshottableVolume(given, volume, error))
        return false;
    savePath->given = given;
    savePath->path = spelled;
    savePath->volume = volume;
    savePath->folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return true;
}

namespace {

// Where the names of a live path begin, after its volume's own part (X:\ or
// \\?\Volume{g}\), and that part's folder name in a backup (X or Volume{g}).
size_t NamesStart(const wstr &livePath, wstr *volumeName)
{
    if (StartsWith(livePath, W("\\\\?\\"))) {
        const size_t end = std::min(livePath.find('\\', 4), livePath.size());
        *volumeName = livePath.substr(4, end - 4);
        return end + 1;
    }
    *volumeName = livePath.substr(0, 1);
    return 3;
}

} // namespace

bool CopyLocation(const std::filesystem::path &folder, const wstr &livePath, std::filesystem::path *copy,
                  std::string *error)
{
    wstr volumeName;
    size_t at = NamesStart(livePath, &volumeName);
    *copy = folder / Shown(volumeName);
    while (at < livePath.size()) {
        const size_t end = std::min(livePath.find('\\', at), livePath.size());
        std::string name;
        if (!WideToUtf8(livePath.substr(at, end - at), &name)) {
            *error = Shown(livePath) + ": the name holds a lone UTF-16 surrogate, which has no UTF-8 form to store "
                                       "it under";
            return false;
        }
        *copy /= std::filesystem::u8path(name);
        at = end + 1;
    }
    return true;
}

wstr HostLocation(const wstr &folder, const wstr &livePath)
{
    wstr volumeName;
    const size_t at = NamesStart(livePath, &volumeName);
    wstr located = folder;
    if (located.empty() || located.back() != '\\')
        located += W("\\");
    located += volumeName;
    return at < livePath.size() ? located + W("\\") + livePath.substr(at) : located;
}

std::vector<SavePath> MergeOverlaps(std::vector<SavePath> paths)
{
    std::sort(paths.begin(), paths.end(), [](const SavePath &a, const SavePath &b) { return a.path < b.path; });
    std::vector<SavePath> kept;
    for (SavePath &candidate : paths) {
        bool covered = false;
        for (const SavePath &outer : kept) {
            const wstr prefix = IsDriveRoot(outer.path) ? outer.path : outer.path + W("\\");
            if (candidate.path == outer.path ||
                (outer.folder && StartsWith(candidate.path, prefix) && candidate.volume == outer.volume))
                covered = true;
        }
        if (!covered)
            kept.push_back(std::move(candidate));
    }
    return kept;
}

} // namespace winclass
