// The sandbox that holds the simulated host's files, and the mapping of Windows paths
// into it. The root is $WINSIM_ROOT, else ${TMPDIR:-/tmp}/winsim-<uid>-<pid>/<host>-<n>
// (one per process and per host made current, removed when the process ends). Each
// volume of the current host has its directory there; a volume's described files are made
// the first time a path below its root is used, so that work on volumes alone never pays
// for the files.
#include "paths.h"

#include "files.h"
#include "shadowcopies.h"
#include "winsim/hostmodel.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <map>
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
    std::vector<wstring16> spelt;  // the names as described, for making the directories
};

// A described junction: where it is (as a mount folder is) and the full path it leads to.
struct Junction {
    int volume;
    std::vector<wstring16> names;
    wstring16 target;
    std::vector<wstring16> spelt;
};

// Windows gives up on a path after this many reparse points.
const int kMaxReparseDepth = 63;

struct Sandbox {
    // Recursive: making the host's files maps paths, which asks for the current directory.
    std::recursive_mutex lock;
    bool ready = false;
    bool preparing = false;
    unsigned generation = 0;
    bool rootChosen = false;  // WINSIM_ROOT or SetSandboxRoot: used as is for every host
    bool rootKept = false;    // WINSIM_ROOT: what one process changed, the next one finds
    std::string root;
    std::string processRoot;  // the per-process directory to remove at exit
    wstring16 currentDirectory = u"C:\\";
    std::vector<MountFolder> mounts;
    std::vector<Junction> junctions;
    std::vector<bool> volumeMade;  // the volume's described files are there
};

Sandbox &TheSandbox()
{
    static Sandbox *sandbox = new Sandbox;
    return *sandbox;
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

void MaterializeLocked(Sandbox &sandbox, const Host &host, int volume);

// The volume and the names below its root that a full Windows path leads to, following
// mount folders and junctions. Fills the mapping fields of out.
DWORD Walk(Sandbox &sandbox, const Host &host, const wstring16 &full, MappedPath &out, int depth = 0)
{
    size_t at;
    std::string hostPath;
    bool live = true;  // a live volume's directory, whose described files may still be due
    if (const size_t deviceLength = ShadowDeviceLength(full)) {
        // \\?\GLOBALROOT\Device\HarddiskVolumeShadowCopyN\...: the copy's frozen files.
        ShadowCopyLocation copy;
        if (!FindShadowCopy(full.substr(0, deviceLength), &copy))
            return ERROR_PATH_NOT_FOUND;
        out.volumeRoot = full.substr(0, deviceLength) + u"\\";
        out.volume = copy.volume;
        out.readOnly = true;
        live = false;
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
        if (live && out.volume >= 0)
            MaterializeLocked(sandbox, host, out.volume);  // a name below the root is looked up
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
                    live = true;
                    out.volumeRoot = full.substr(0, end) + u"\\";
                    out.isMountFolder = last;
                    hostPath = VolumeDirectoryLocked(sandbox, host, out.volume);
                    names.clear();
                    mounted = true;
                    break;
                }
            }
            for (const Junction &junction : sandbox.junctions) {
                if (mounted || junction.volume != out.volume || junction.names != names)
                    continue;
                // A junction leads to its target path, also from inside a shadow copy; the
                // junction itself is what the last name of a path names.
                if (depth >= kMaxReparseDepth)
                    return ERROR_CANT_RESOLVE_FILENAME;
                const bool parentExists = out.parentExists;
                std::string own;
                if (!directoryExists || !FindEntry(hostPath, name, own))
                    own = ToUtf8(name);
                own = hostPath + "/" + own;
                const wstring16 rest = last ? wstring16() : full.substr(end);
                wstring16 target = junction.target;
                if (!rest.empty() && !target.empty() && target.back() == u'\\')
                    target.pop_back();
                out = MappedPath();
                if (const DWORD error = Walk(sandbox, host, target + rest, out, depth + 1))
                    return error;
                if (last) {
                    out.parentExists = parentExists;
                    out.exists = true;
                    out.isDirectory = true;
                    out.isDriveRoot = false;
                    out.isJunction = true;
                    out.junctionHostPath = own;
                }
                return ERROR_SUCCESS;
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
    return ERROR_SUCCESS;
}

DWORD MapLocked(Sandbox &sandbox, const Host &host, const WCHAR *path, MappedPath &out)
{
    out = MappedPath();
    wstring16 full;
    if (DWORD error = FullWindowsPath(path, full))
        return error;
    const DWORD error = Walk(sandbox, host, full, out);
    out.windowsPath = full;
    if (error == ERROR_PATH_NOT_FOUND) {
        // A device named alone is the leaf the object manager did not find.
        const wstring16 named(path);
        if (ShadowDeviceLength(named) == named.size())
            return ERROR_FILE_NOT_FOUND;
    }
    return error;
}

// Where a described path lies, from its text alone: the volume (following the mount
// folders found so far) and the names below its root, as spelt. False for a path on no
// online volume.
bool Locate(const Sandbox &sandbox, const Host &host, const wstring16 &path, int &volume,
            std::vector<wstring16> &names)
{
    wstring16 full;
    if (FullWindowsPath(path.c_str(), full) != ERROR_SUCCESS || ShadowDeviceLength(full) != 0)
        return false;
    size_t at;
    if (full[0] == u'\\') {
        const size_t close = full.find(u'}');
        volume = VolumeIndexByGuidPath(host, full.substr(0, close + 1) + u"\\");
        at = close + 2;
    } else {
        volume = VolumeIndexByLetter(host, full[0]);
        at = 3;
    }
    if (volume < 0 || host.volumes[size_t(volume)].offline)
        return false;
    names.clear();
    std::vector<wstring16> upper;
    while (at < full.size()) {
        size_t end = full.find(u'\\', at);
        if (end == wstring16::npos)
            end = full.size();
        names.push_back(full.substr(at, end - at));
        upper.push_back(FoldUpper(names.back()));
        at = end + 1;
        for (const MountFolder &mount : sandbox.mounts) {
            if (mount.parentVolume == volume && mount.names == upper) {
                volume = mount.volume;
                names.clear();
                upper.clear();
                break;
            }
        }
    }
    return true;
}

// In a kept sandbox, the record that a volume's described files were made, and by which
// process: <root>/.winsim-made/<host>.<volume folder>, beside the volumes' folders.
std::string MadeRecord(const Sandbox &sandbox, const Host &host, const std::string &volumeDirectory)
{
    return sandbox.root + "/.winsim-made/" + ToUtf8(host.hostName) + "." +
           volumeDirectory.substr(volumeDirectory.rfind('/') + 1);
}

// True when an earlier process made this volume's files in the kept sandbox: they stay
// as that process (or whoever edited the sandbox since) left them. The same process
// making a host current again makes its files again, as an unkept sandbox does.
bool MadeByEarlierProcess(const std::string &record)
{
    long maker = 0;
    std::ifstream in(record);
    return bool(in >> maker) && maker != long(getpid());
}

// Makes the described files of one live volume, once: each directory with one mkdir,
// each file written (generated contents in chunks), with its attributes.
void MaterializeLocked(Sandbox &sandbox, const Host &host, int volume)
{
    if (size_t(volume) >= sandbox.volumeMade.size() || sandbox.volumeMade[size_t(volume)])
        return;
    sandbox.volumeMade[size_t(volume)] = true;
    const std::string volumeDirectory = VolumeDirectoryLocked(sandbox, host, volume);
    const std::string record = sandbox.rootKept ? MadeRecord(sandbox, host, volumeDirectory) : std::string();
    const bool keepFiles = !record.empty() && MadeByEarlierProcess(record);
    std::map<wstring16, std::string> made;  // upper-case names below the root -> directory
    auto directoryOf = [&](const std::vector<wstring16> &names, size_t count) {
        std::string directory = volumeDirectory;
        wstring16 key;
        for (size_t i = 0; i < count; ++i) {
            key += u"\\" + FoldUpper(names[i]);
            auto found = made.find(key);
            if (found == made.end()) {
                // One look and at most one mkdir per directory; a name there in another
                // case is the same directory.
                std::string actual;
                if (!FindEntry(directory, names[i], actual)) {
                    actual = ToUtf8(names[i]);
                    if (mkdir((directory + "/" + actual).c_str(), 0777) != 0 && errno != EEXIST)
                        ReportUnmade(directory + "/" + actual, errno);
                }
                found = made.emplace(key, directory + "/" + actual).first;
            }
            directory = found->second;
        }
        return directory;
    };
    // Mount folders and junctions are directories of this volume.
    for (const MountFolder &mount : sandbox.mounts) {
        if (mount.parentVolume == volume)
            directoryOf(mount.spelt, mount.spelt.size());
    }
    for (const Junction &junction : sandbox.junctions) {
        if (junction.volume == volume)
            directoryOf(junction.spelt, junction.spelt.size());
    }
    int fileVolume;
    std::vector<wstring16> names;
    for (const FileEntry &file : host.files) {
        if (!Locate(sandbox, host, file.path, fileVolume, names) || fileVolume != volume || names.empty())
            continue;
        const std::string hostPath = file.directory ? directoryOf(names, names.size())
                                                    : directoryOf(names, names.size() - 1) + "/" +
                                                          ToUtf8(names.back());
        struct stat status;
        if (keepFiles && lstat(hostPath.c_str(), &status) != 0)
            continue;  // deleted since it was made
        if (!file.directory && !keepFiles)
            WriteDescribedFile(hostPath, file);
        // The description already gave a file without the field its archive bit; an empty
        // list is a file the last backup took, which reads as FILE_ATTRIBUTE_NORMAL.
        StoreAttributes(hostPath, file.attributes);
    }
    // Last-write times once every file is made: making a file changes its folder's.
    for (const FileEntry &file : host.files) {
        if (keepFiles || file.lastWrite == 0 ||
            !Locate(sandbox, host, file.path, fileVolume, names) || fileVolume != volume || names.empty())
            continue;
        const std::string hostPath = file.directory ? directoryOf(names, names.size())
                                                    : directoryOf(names, names.size() - 1) + "/" +
                                                          ToUtf8(names.back());
        // From 1601 to the host's 1970, in whole seconds and the 100-ns rest (a time before
        // 1970 counts back).
        const long long ticks = (long long)file.lastWrite - 116444736000000000LL;
        long long seconds = ticks / 10000000LL, rest = ticks % 10000000LL;
        if (rest < 0) {
            --seconds;
            rest += 10000000LL;
        }
        const struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(seconds), long(rest * 100)}};
        if (utimensat(AT_FDCWD, hostPath.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
            ReportUnmade(hostPath, errno);
    }
    if (!record.empty() && !keepFiles) {
        MakeDirectories(sandbox.root + "/.winsim-made");
        std::ofstream(record) << getpid() << "\n";
    }
}

// Records where the host's mount folders and junctions are and makes the volumes' own
// directories; their files wait for first use. Called with the lock held.
void Describe(Sandbox &sandbox, const Host &host)
{
    ClearFileAttributes();
    sandbox.mounts.clear();
    sandbox.junctions.clear();
    sandbox.volumeMade.assign(host.volumes.size(), false);
    for (size_t i = 0; i < host.volumes.size(); ++i) {
        const std::string directory = VolumeDirectoryLocked(sandbox, host, int(i));
        if (mkdir(directory.c_str(), 0777) != 0 && errno != EEXIST)
            ReportUnmade(directory, errno);
    }
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
        int volume;
        std::vector<wstring16> names;
        if (!Locate(sandbox, host, folder.first, volume, names) || names.empty())
            continue;  // the description was checked; a folder on an absent volume stays unreachable
        std::vector<wstring16> upper;
        for (const wstring16 &name : names)
            upper.push_back(FoldUpper(name));
        sandbox.mounts.push_back(MountFolder{volume, upper, folder.second, names});
    }
    for (const FileEntry &file : host.files) {
        int volume;
        std::vector<wstring16> names;
        wstring16 target;
        if (file.junction.empty() || !Locate(sandbox, host, file.path, volume, names) || names.empty() ||
            FullWindowsPath(file.junction.c_str(), target) != ERROR_SUCCESS)
            continue;
        std::vector<wstring16> upper;
        for (const wstring16 &name : names)
            upper.push_back(FoldUpper(name));
        sandbox.junctions.push_back(Junction{volume, upper, target, names});
    }
    // GetTempPathW's folder, there from the start whatever the host describes on C:.
    MakeDirectories(sandbox.root + "/C/Windows/Temp");
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
            sandbox.rootKept = true;
        } else {
            if (sandbox.processRoot.empty())
                sandbox.processRoot = MakeProcessSandbox();
            sandbox.root = sandbox.processRoot + "/" + ToUtf8(host.hostName) + "-" + std::to_string(generation);
        }
    }
    while (sandbox.root.size() > 1 && sandbox.root.back() == '/')
        sandbox.root.pop_back();
    MakeDirectories(sandbox.root);
    sandbox.generation = generation;
    sandbox.ready = true;
    sandbox.currentDirectory = u"C:\\";
    Describe(sandbox, host);
    sandbox.preparing = false;
}

} // namespace

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

std::string SandboxRoot()
{
    Sandbox &sandbox = TheSandbox();
    std::lock_guard<std::recursive_mutex> guard(sandbox.lock);
    Prepare(sandbox);
    return sandbox.root;
}

std::string KeptSandboxRoot()
{
    Sandbox &sandbox = TheSandbox();
    std::lock_guard<std::recursive_mutex> guard(sandbox.lock);
    Prepare(sandbox);
    return sandbox.rootKept ? sandbox.root : std::string();
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

void MaterializeVolume(int volume)
{
    Sandbox &sandbox = TheSandbox();
    std::lock_guard<std::recursive_mutex> guard(sandbox.lock);
    Prepare(sandbox);
    MaterializeLocked(sandbox, CurrentHost(), volume);
}

std::unique_lock<std::recursive_mutex> LockSandbox()
{
    return std::unique_lock<std::recursive_mutex>(TheSandbox().lock);
}

bool HostPathOf(const std::u16string &windowsPath, std::string *hostPath)
{
    auto guard = LockSandbox();
    MappedPath mapped;
    if (MapWindowsPath(windowsPath.c_str(), mapped) != ERROR_SUCCESS)
        return false;
    if (!mapped.readOnly && mapped.volume >= 0) {
        // The caller reads and writes there with its own file calls: the volume's files
        // are made, and none of them below the path still shares its bytes with a copy.
        MaterializeVolume(mapped.volume);
        DetachFromShadowCopies(mapped.hostPath, true);
    }
    if (hostPath != NULL)
        *hostPath = mapped.hostPath;
    return true;
}

} // namespace winsim
