// The sandbox that holds the simulated host's files, and the mapping of Windows paths
// into it. The root is $WINSIM_ROOT, else ${TMPDIR:-/tmp}/winsim-<uid>-<pid>/<host>-<n>
// (one per process and per host made current, removed when the process ends). Each
// volume of the current host has its directory there; the host's files are made when the
// host becomes current.
#include "paths.h"

#include "files.h"
#include "shadowcopies.h"
#include "winsim/hostmodel.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <ftw.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace winsim {

namespace {

// A mount folder: the names (upper case) below the root of its parent volume.
struct MountFolder {
    int parentVolume;
    std::vector<wstring16> names;
    int volume;
};

struct Sandbox {
    // Recursive: making the host's files maps paths, which asks for the current directory.
    std::recursive_mutex lock;
    bool ready = false;
    bool preparing = false;
    unsigned generation = 0;
    bool rootChosen = false;  // WINSIM_ROOT or SetSandboxRoot: used as is for every host
    std::string root;
    std::string processRoot;  // the per-process directory to remove at exit
    wstring16 currentDirectory = u"C:\\";
    std::vector<MountFolder> mounts;
};

Sandbox &TheSandbox()
{
    static Sandbox *sandbox = new Sandbox;
    return *sandbox;
}

void MakeDirectories(const std::string &path)
{
    std::string partial;
    for (size_t at = 0; at <= path.size(); ++at) {
        if (at == path.size() || (path[at] == '/' && at != 0)) {
            partial = path.substr(0, at);
            mkdir(partial.c_str(), 0777);
        }
    }
}

bool IsSeparator(WCHAR c) { return c == u'\\' || c == u'/'; }

bool IsDriveLetter(WCHAR c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

bool ValidName(const wstring16 &name)
{
    for (WCHAR c : name) {
        if (c < 0x20 || c == u'<' || c == u'>' || c == u':' || c == u'"' || c == u'|' || c == u'?' || c == u'*')
            return false;
    }
    return true;
}

bool StartsWith(const wstring16 &text, const char16_t *prefix)
{
    const wstring16 p(prefix);
    return text.size() >= p.size() && EqualNoCase(text.substr(0, p.size()), p);
}

// The entry of a directory whose name matches without regard to case; exact matches first.
bool FindEntry(const std::string &directory, const wstring16 &name, std::string &actual)
{
    const std::string exact = ToUtf8(name);
    struct stat status;
    if (lstat((directory + "/" + exact).c_str(), &status) == 0) {
        actual = exact;
        return true;
    }
    DIR *listing = opendir(directory.c_str());
    if (listing == NULL)
        return false;
    bool found = false;
    while (struct dirent *entry = readdir(listing)) {
        if (EqualNoCase(FromUtf8(entry->d_name), name)) {
            actual = entry->d_name;
            found = true;
            break;
        }
    }
    closedir(listing);
    return found;
}

int RemoveEntry(const char *path, const struct stat *, int, struct FTW *)
{
    remove(path);
    return 0;
}

void RemoveProcessRoot()
{
    const std::string root = TheSandbox().processRoot;
    if (!root.empty())
        nftw(root.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

int VolumeIndexByLetter(const Host &host, WCHAR letter)
{
    for (size_t i = 0; i < host.volumes.size(); ++i) {
        if (host.volumes[i].driveLetter != 0 && FoldUpper(host.volumes[i].driveLetter) == FoldUpper(letter) &&
            !host.volumes[i].offline)
            return int(i);
    }
    return -1;
}

int VolumeIndexByGuidPath(const Host &host, const wstring16 &guidPath)
{
    const Volume *volume = host.FindVolumeByGuidPath(guidPath);
    return volume == NULL ? -1 : int(volume - host.volumes.data());
}

std::string VolumeDirectoryLocked(Sandbox &sandbox, const Host &host, int volume)
{
    const Volume &v = host.volumes[size_t(volume)];
    if (v.driveLetter != 0)
        return sandbox.root + "/" + char(FoldUpper(v.driveLetter));
    // \\?\Volume{guid}\ -> Volume{guid}
    return sandbox.root + "/" + ToUtf8(v.guidPath.substr(4, v.guidPath.size() - 5));
}

// The volume and the names below its root that a full Windows path leads to, following
// mount folders. Fills the mapping fields of out; rel gets the upper-case names below the
// final volume's root.
DWORD Walk(Sandbox &sandbox, const Host &host, const wstring16 &full, MappedPath &out,
           std::vector<wstring16> *relative)
{
    size_t at;
    std::string hostPath;
    if (const size_t deviceLength = ShadowDeviceLength(full)) {
        // \\?\GLOBALROOT\Device\HarddiskVolumeShadowCopyN\...: the copy's frozen files.
        ShadowCopyLocation copy;
        if (!FindShadowCopy(full.substr(0, deviceLength), &copy))
            return ERROR_PATH_NOT_FOUND;
        out.volumeRoot = full.substr(0, deviceLength) + u"\\";
        out.volume = copy.volume;
        out.readOnly = true;
        hostPath = copy.directory;
        at = deviceLength + 1;
    } else if (full.size() >= 4 && full[0] == u'\\') {
        // \\?\Volume{guid}\...
        const size_t close = full.find(u'}');
        out.volumeRoot = full.substr(0, close + 1) + u"\\";
        out.volume = VolumeIndexByGuidPath(host, out.volumeRoot);
        if (out.volume < 0 || host.volumes[size_t(out.volume)].offline)
            return ERROR_PATH_NOT_FOUND;
        at = close + 2;
        hostPath = VolumeDirectoryLocked(sandbox, host, out.volume);
    } else {
        out.volumeRoot = full.substr(0, 2) + u"\\";
        out.volume = VolumeIndexByLetter(host, full[0]);
        at = 3;
        if (out.volume >= 0)
            hostPath = VolumeDirectoryLocked(sandbox, host, out.volume);
        else
            hostPath = sandbox.root + "/" + char(full[0]);
    }
    struct stat status;
    bool directoryExists = stat(hostPath.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
    out.isDriveRoot = at >= full.size();
    out.parentExists = directoryExists;  // a root's "parent" is the volume itself

    std::vector<wstring16> names;  // below the current volume's root
    while (at < full.size()) {
        size_t end = full.find(u'\\', at);
        if (end == wstring16::npos)
            end = full.size();
        const wstring16 name = full.substr(at, end - at);
        const bool last = end == full.size();
        at = end + 1;
        names.push_back(FoldUpper(name));
        if (last)
            out.parentExists = directoryExists;
        bool mounted = false;
        if (out.volume >= 0) {
            for (const MountFolder &mount : sandbox.mounts) {
                if (mount.parentVolume == out.volume && mount.names == names) {
                    // A mount folder names the live volume, also inside a shadow copy:
                    // the copy froze the folder, not the volume mounted there.
                    out.volume = mount.volume;
                    out.readOnly = false;
                    out.volumeRoot = full.substr(0, end) + u"\\";
                    out.isMountFolder = last;
                    hostPath = VolumeDirectoryLocked(sandbox, host, out.volume);
                    names.clear();
                    mounted = true;
                    break;
                }
            }
        }
        if (!mounted) {
            std::string actual;
            if (!directoryExists || !FindEntry(hostPath, name, actual))
                actual = ToUtf8(name);
            hostPath += "/" + actual;
        }
        if (!last)
            directoryExists = directoryExists && stat(hostPath.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
    }
    out.hostPath = hostPath;
    if (stat(hostPath.c_str(), &status) == 0) {
        out.exists = true;
        out.isDirectory = S_ISDIR(status.st_mode);
    }
    if (relative != NULL)
        *relative = names;
    return ERROR_SUCCESS;
}

DWORD MapLocked(Sandbox &sandbox, const Host &host, const WCHAR *path, MappedPath &out,
                std::vector<wstring16> *relative = NULL)
{
    out = MappedPath();
    if (DWORD error = FullWindowsPath(path, out.windowsPath))
        return error;
    const DWORD error = Walk(sandbox, host, out.windowsPath, out, relative);
    if (error == ERROR_PATH_NOT_FOUND) {
        // A device named alone is the leaf the object manager did not find.
        const wstring16 named(path);
        if (ShadowDeviceLength(named) == named.size())
            return ERROR_FILE_NOT_FOUND;
    }
    return error;
}

// Makes the directories of the host's volumes, its mount folders and its files. Called
// with the lock held.
void Materialize(Sandbox &sandbox, const Host &host)
{
    ClearFileAttributes();
    sandbox.mounts.clear();
    for (size_t i = 0; i < host.volumes.size(); ++i)
        MakeDirectories(VolumeDirectoryLocked(sandbox, host, int(i)));
    // Mount folders, outer ones first, so that one inside another finds its parent.
    std::vector<std::pair<wstring16, int>> folders;
    for (size_t i = 0; i < host.volumes.size(); ++i) {
        if (host.volumes[i].offline)
            continue;
        for (const wstring16 &folder : host.volumes[i].mountFolders)
            folders.emplace_back(folder, int(i));
    }
    std::sort(folders.begin(), folders.end(),
              [](const std::pair<wstring16, int> &a, const std::pair<wstring16, int> &b) {
                  return a.first.size() < b.first.size();
              });
    for (const auto &folder : folders) {
        MappedPath mapped;
        std::vector<wstring16> names;
        if (MapLocked(sandbox, host, folder.first.c_str(), mapped, &names) != ERROR_SUCCESS || mapped.volume < 0 ||
            names.empty())
            continue;  // the description was checked; a folder on an absent volume stays unreachable
        MakeDirectories(mapped.hostPath);
        sandbox.mounts.push_back(MountFolder{mapped.volume, names, folder.second});
    }
    MakeDirectories(sandbox.root + "/C/Windows/Temp");
    for (const FileEntry &file : host.files) {
        MappedPath mapped;
        if (MapLocked(sandbox, host, file.path.c_str(), mapped) != ERROR_SUCCESS || mapped.volume < 0)
            continue;
        if (file.directory) {
            MakeDirectories(mapped.hostPath);
        } else {
            MakeDirectories(mapped.hostPath.substr(0, mapped.hostPath.rfind('/')));
            std::ofstream(mapped.hostPath, std::ios::binary | std::ios::trunc) << file.content;
        }
        StoreAttributes(mapped.hostPath, file.directory ? file.attributes
                                                        : (file.attributes == 0 ? FILE_ATTRIBUTE_ARCHIVE
                                                                                : file.attributes));
    }
}

// Called with the lock held: (re)builds the sandbox when the host changed.
void Prepare(Sandbox &sandbox)
{
    const Host &host = CurrentHost();
    const unsigned generation = HostGeneration();
    if ((sandbox.ready && sandbox.generation == generation) || sandbox.preparing)
        return;
    sandbox.preparing = true;
    if (!sandbox.rootChosen) {
        const char *configured = getenv("WINSIM_ROOT");
        if (configured != NULL && configured[0] != 0) {
            sandbox.root = configured;
            sandbox.rootChosen = true;
        } else {
            if (sandbox.processRoot.empty()) {
                const char *tmp = getenv("TMPDIR");
                sandbox.processRoot = std::string(tmp != NULL && tmp[0] != 0 ? tmp : "/tmp") + "/winsim-" +
                                      std::to_string(getuid()) + "-" + std::to_string(getpid());
                atexit(RemoveProcessRoot);
            }
            sandbox.root = sandbox.processRoot + "/" + ToUtf8(host.hostName) + "-" + std::to_string(generation);
        }
    }
    while (sandbox.root.size() > 1 && sandbox.root.back() == '/')
        sandbox.root.pop_back();
    MakeDirectories(sandbox.root);
    sandbox.generation = generation;
    sandbox.ready = true;
    sandbox.currentDirectory = u"C:\\";
    Materialize(sandbox, host);
    sandbox.preparing = false;
}

} // namespace

std::string SandboxRoot()
{
    Sandbox &sandbox = TheSandbox();
    std::lock_guard<std::recursive_mutex> guard(sandbox.lock);
    Prepare(sandbox);
    return sandbox.root;
}

void SetSandboxRoot(const std::string &root)
{
    Sandbox &sandbox = TheSandbox();
    std::lock_guard<std::recursive_mutex> guard(sandbox.lock);
    sandbox.root = root;
    sandbox.rootChosen = true;
    sandbox.ready = false;
    Prepare(sandbox);
}

wstring16 CurrentDirectory()
{
    Sandbox &sandbox = TheSandbox();
    std::lock_guard<std::recursive_mutex> guard(sandbox.lock);
    return sandbox.currentDirectory;
}

void SetCurrentDirectoryPath(const wstring16 &full)
{
    Sandbox &sandbox = TheSandbox();
    std::lock_guard<std::recursive_mutex> guard(sandbox.lock);
    sandbox.currentDirectory = full;
}

DWORD FullWindowsPath(const WCHAR *path, wstring16 &full)
{
    if (path == NULL || path[0] == 0)
        return ERROR_PATH_NOT_FOUND;
    wstring16 text(path);
    bool literal = false;
    if (text.size() >= 4 && IsSeparator(text[0]) && IsSeparator(text[1]) && (text[2] == u'?' || text[2] == u'.') &&
        IsSeparator(text[3])) {
        const bool device = text[2] == u'.';
        text = text.substr(4);
        literal = !device;
        if (StartsWith(text, u"UNC\\"))
            return ERROR_BAD_NETPATH;
        if (const size_t deviceLength = ShadowDeviceLength(wstring16(path))) {
            // A shadow-copy device and the names below its root, taken literally; "." and
            // ".." are not names a file system accepts there.
            full = u"\\\\?\\" + wstring16(path).substr(4, deviceLength - 4);
            const wstring16 whole(path);
            size_t at = deviceLength + 1;
            bool named = false;
            while (at < whole.size()) {
                size_t end = whole.find(u'\\', at);
                if (end == wstring16::npos)
                    end = whole.size();
                const wstring16 name = whole.substr(at, end - at);
                at = end + 1;
                if (name.empty())
                    continue;
                if (!ValidName(name) || name == u"." || name == u"..")
                    return ERROR_INVALID_NAME;
                full += u"\\" + name;
                named = true;
            }
            if (!named)
                full += u"\\";
            return ERROR_SUCCESS;
        }
        if (!device && StartsWith(text, u"Volume{") && text.size() >= 44 && text[43] == u'}' &&
            (text.size() == 44 || IsSeparator(text[44]))) {
            // \\?\Volume{guid}\...: the names below the volume's root, taken literally.
            full = u"\\\\?\\" + text.substr(0, 44);
            size_t at = 45;
            while (at < text.size()) {
                size_t end = at;
                while (end < text.size() && !IsSeparator(text[end]))
                    ++end;
                const wstring16 name = text.substr(at, end - at);
                at = end + 1;
                if (name.empty())
                    continue;
                if (!ValidName(name))
                    return ERROR_INVALID_NAME;
                full += u"\\" + name;
            }
            if (full.size() == 48)
                full += u"\\";
            return ERROR_SUCCESS;
        }
        if (device || !(text.size() >= 2 && IsDriveLetter(text[0]) && text[1] == u':')) {
            // Devices (\\.\C:, \\.\PhysicalDrive0) and volume names (\\?\Volume{...},
            // \\?\GLOBALROOT\...) belong to the simulated volumes, not built yet.
            LogNotImplemented("path mapping", ToUtf8(wstring16(path)).c_str());
            return ERROR_CALL_NOT_IMPLEMENTED;
        }
    } else if (text.size() >= 2 && IsSeparator(text[0]) && IsSeparator(text[1])) {
        return ERROR_BAD_NETPATH;  // \\server\share: the simulated host has no network
    }

    const wstring16 current = CurrentDirectory();
    WCHAR drive;
    wstring16 rest;
    if (text.size() >= 2 && IsDriveLetter(text[0]) && text[1] == u':') {
        drive = FoldUpper(text[0]);
        rest = text.substr(2);
        if (rest.empty() || !IsSeparator(rest[0])) {
            // "X:name" is relative to the current directory when that is on X:.
            rest = (FoldUpper(current[0]) == drive ? current.substr(2) : wstring16(u"\\")) + u"\\" + rest;
        }
    } else if (IsSeparator(text[0])) {
        drive = FoldUpper(current[0]);
        rest = text;
    } else {
        drive = FoldUpper(current[0]);
        rest = current.substr(2) + u"\\" + text;
    }

    std::vector<wstring16> names;
    size_t at = 0;
    while (at <= rest.size()) {
        size_t end = at;
        while (end < rest.size() && !IsSeparator(rest[end]))
            ++end;
        wstring16 name = rest.substr(at, end - at);
        at = end + 1;
        if (!literal) {
            if (name == u".")
                continue;
            if (name == u"..") {
                if (!names.empty())
                    names.pop_back();
                continue;
            }
            // Win32 drops trailing dots and spaces from names ("file." is "file").
            while (!name.empty() && (name.back() == u'.' || name.back() == u' '))
                name.pop_back();
        }
        if (name.empty())
            continue;
        if (!ValidName(name))
            return ERROR_INVALID_NAME;
        names.push_back(name);
    }
    full.assign(1, drive);
    full += u":";
    for (const wstring16 &name : names)
        full += u"\\" + name;
    if (names.empty())
        full += u"\\";
    return ERROR_SUCCESS;
}

DWORD MapWindowsPath(const WCHAR *path, MappedPath &out)
{
    Sandbox &sandbox = TheSandbox();
    std::lock_guard<std::recursive_mutex> guard(sandbox.lock);
    Prepare(sandbox);
    return MapLocked(sandbox, CurrentHost(), path, out);
}

std::string VolumeDirectory(int volume)
{
    Sandbox &sandbox = TheSandbox();
    std::lock_guard<std::recursive_mutex> guard(sandbox.lock);
    Prepare(sandbox);
    return VolumeDirectoryLocked(sandbox, CurrentHost(), volume);
}

bool HostPathOf(const std::u16string &windowsPath, std::string *hostPath)
{
    MappedPath mapped;
    if (MapWindowsPath(windowsPath.c_str(), mapped) != ERROR_SUCCESS)
        return false;
    if (hostPath != NULL)
        *hostPath = mapped.hostPath;
    return true;
}

} // namespace winsim
