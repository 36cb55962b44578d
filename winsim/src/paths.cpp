// The sandbox that holds the simulated host's files, and the mapping of Windows paths
// into it. The root is $WINSIM_ROOT, else ${TMPDIR:-/tmp}/winsim-<uid>; drive X: is the
// directory <root>/X, made for C: on first use.
#include "paths.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace winsim {

namespace {

struct Sandbox {
    std::mutex lock;
    bool ready = false;
    std::string root;
    wstring16 currentDirectory = u"C:\\";
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

// Called with the lock held.
void Prepare(Sandbox &sandbox)
{
    if (sandbox.ready)
        return;
    if (sandbox.root.empty()) {
        const char *configured = getenv("WINSIM_ROOT");
        if (configured != NULL && configured[0] != 0) {
            sandbox.root = configured;
        } else {
            const char *tmp = getenv("TMPDIR");
            sandbox.root = std::string(tmp != NULL && tmp[0] != 0 ? tmp : "/tmp") + "/winsim-" +
                           std::to_string(getuid());
        }
    }
    while (sandbox.root.size() > 1 && sandbox.root.back() == '/')
        sandbox.root.pop_back();
    // The system drive and the directory that TEMP names.
    MakeDirectories(sandbox.root + "/C/Windows/Temp");
    sandbox.ready = true;
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

} // namespace

std::string SandboxRoot()
{
    Sandbox &sandbox = TheSandbox();
    std::lock_guard<std::mutex> guard(sandbox.lock);
    Prepare(sandbox);
    return sandbox.root;
}

void SetSandboxRoot(const std::string &root)
{
    Sandbox &sandbox = TheSandbox();
    std::lock_guard<std::mutex> guard(sandbox.lock);
    sandbox.root = root;
    sandbox.ready = false;
    sandbox.currentDirectory = u"C:\\";
    Prepare(sandbox);
    ClearFileAttributes();
}

wstring16 CurrentDirectory()
{
    Sandbox &sandbox = TheSandbox();
    std::lock_guard<std::mutex> guard(sandbox.lock);
    return sandbox.currentDirectory;
}

void SetCurrentDirectoryPath(const wstring16 &full)
{
    Sandbox &sandbox = TheSandbox();
    std::lock_guard<std::mutex> guard(sandbox.lock);
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
    out = MappedPath();
    if (DWORD error = FullWindowsPath(path, out.windowsPath))
        return error;
    const wstring16 &full = out.windowsPath;
    std::string host = SandboxRoot();
    host += "/";
    host.push_back(char(full[0]));
    struct stat status;
    bool directoryExists = stat(host.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
    out.isDriveRoot = full.size() == 3;
    out.parentExists = directoryExists;  // a drive root's "parent" is the drive itself

    size_t at = 3;
    while (at < full.size()) {
        size_t end = full.find(u'\\', at);
        if (end == wstring16::npos)
            end = full.size();
        const wstring16 name = full.substr(at, end - at);
        const bool last = end == full.size();
        std::string actual;
        if (!directoryExists || !FindEntry(host, name, actual))
            actual = ToUtf8(name);
        host += "/" + actual;
        if (last)
            out.parentExists = directoryExists;
        else
            directoryExists = directoryExists && stat(host.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
        at = end + 1;
    }
    out.hostPath = host;
    if (stat(host.c_str(), &status) == 0) {
        out.exists = true;
        out.isDirectory = S_ISDIR(status.st_mode);
    }
    return ERROR_SUCCESS;
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
