// Shadow-copy devices: a frozen copy of a volume's files, read through
// \\?\GLOBALROOT\Device\HarddiskVolumeShadowCopyN. A copy is the volume's directory tree
// made again beside the volumes under the sandbox root, each file a hard link to the live
// one, with the attributes winsim records carried over: no bytes are copied. A live file
// gets bytes of its own before anything opens it (DetachFromShadowCopies), so the copy
// keeps the old ones; a file open at the time of the copy is copied instead, as writes
// through that handle must not reach the copy.
#include "shadowcopies.h"

#include "files.h"
#include "handles.h"
#include "paths.h"
#include "winsim/hostmodel.h"
#include "winsim/shadow.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace winsim {

namespace {

const char16_t kDevicePrefix[] = u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy";
const size_t kDevicePrefixLength = sizeof kDevicePrefix / sizeof kDevicePrefix[0] - 1;

struct ShadowCopy {
    wstring16 device;  // \\?\GLOBALROOT\Device\HarddiskVolumeShadowCopyN
    int volume;
    std::string directory;
};

struct ShadowRegistry {
    std::mutex lock;
    std::vector<ShadowCopy> copies;  // oldest first
    unsigned nextNumber = 1;
    unsigned generation = 0;  // the host the copies belong to
};

ShadowRegistry &TheRegistry()
{
    static ShadowRegistry *registry = new ShadowRegistry;
    return *registry;
}

// The bare device opened with CreateFileW. Raw reads of the device are not simulated.
class ShadowDeviceObject : public KernelObject {
public:
    explicit ShadowDeviceObject(wstring16 device) : device(std::move(device)) {}
    const wstring16 device;
};

// Compares device names from after the \\?\ or \\.\ that starts them, without regard to case.
bool SameDevice(const wstring16 &a, const wstring16 &b)
{
    return a.size() == b.size() && a.size() > 4 && EqualNoCase(a.substr(4), b.substr(4));
}

struct DirCloser {
    void operator()(DIR *listing) const { closedir(listing); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

void CopyTimes(const struct stat &status, const std::string &to)
{
    const struct timespec times[2] = {status.st_atim, status.st_mtim};
    utimensat(AT_FDCWD, to.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

void CopyAttributes(const std::string &from, const std::string &to)
{
    DWORD attributes;
    if (RecordedAttributes(from, &attributes))
        StoreAttributes(to, attributes);
}

// A file of the frozen tree: a link to the live file, or a copy when the file is open or
// cannot be linked (another file system, too many links).
DWORD FreezeFile(const std::string &from, const std::string &to, const struct stat &item)
{
    if (!IsOpenFile(FileIdentity{item.st_dev, item.st_ino}) && link(from.c_str(), to.c_str()) == 0)
        return ERROR_SUCCESS;
    return CopyFileBytes(from, to);
}

// Makes a directory's tree again with everything below it, times and recorded attributes
// included. Called with the sandbox lock held.
DWORD CopyTree(const std::string &from, const std::string &to)
{
    struct stat status;
    if (stat(from.c_str(), &status) != 0 || mkdir(to.c_str(), 0777) != 0)
        return ErrnoToWin32(errno);
    CopyAttributes(from, to);
    DirHandle listing(opendir(from.c_str()));
    if (!listing)
        return ErrnoToWin32(errno);
    while (struct dirent *entry = readdir(listing.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string source = from + "/" + name;
        const std::string target = to + "/" + name;
        struct stat item;
        if (lstat(source.c_str(), &item) != 0)
            continue;  // gone while copying: the copy shows the volume without it
        DWORD error = ERROR_SUCCESS;
        if (S_ISDIR(item.st_mode)) {
            error = CopyTree(source, target);
        } else if (S_ISREG(item.st_mode)) {
            error = FreezeFile(source, target, item);
            if (error == ERROR_SUCCESS)
                CopyAttributes(source, target);
        }
        if (error != ERROR_SUCCESS)
            return error;
    }
    CopyTimes(status, to);  // last, as adding the entries changed it
    return ERROR_SUCCESS;
}

int RemoveEntry(const char *path, const struct stat *, int, struct FTW *)
{
    remove(path);
    return 0;
}

void RemoveTree(const std::string &directory)
{
    nftw(directory.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    ForgetAttributesUnder(directory);
}

// Another host became current: its predecessor's copies go, and numbering starts again.
void ForgetAllCopies()
{
    std::vector<ShadowCopy> gone;
    {
        ShadowRegistry &registry = TheRegistry();
        std::lock_guard<std::mutex> guard(registry.lock);
        gone.swap(registry.copies);
        registry.nextNumber = 1;
        registry.generation = HostGeneration();
    }
    for (const ShadowCopy &copy : gone)
        RemoveTree(copy.directory);
}

void ListenForHostChanges()
{
    static std::once_flag registered;
    std::call_once(registered, [] { AddHostListener(ForgetAllCopies); });
}

} // namespace

size_t ShadowDeviceLength(const wstring16 &path)
{
    if (path.size() < kDevicePrefixLength || path[0] != u'\\' || path[1] != u'\\' ||
        (path[2] != u'?' && path[2] != u'.') || path[3] != u'\\')
        return 0;
    if (!EqualNoCase(path.substr(4, kDevicePrefixLength - 4), wstring16(kDevicePrefix + 4)))
        return 0;
    // The whole object name, whatever follows the prefix: a name such as ...ShadowCopy1x
    // is simply a device that does not exist.
    const size_t end = path.find(u'\\', kDevicePrefixLength);
    return end == wstring16::npos ? path.size() : end;
}

bool FindShadowCopy(const wstring16 &device, ShadowCopyLocation *location)
{
    ShadowRegistry &registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    if (registry.generation != HostGeneration())
        return false;
    for (const ShadowCopy &copy : registry.copies) {
        if (SameDevice(copy.device, device)) {
            if (location != NULL) {
                location->volume = copy.volume;
                location->directory = copy.directory;
            }
            return true;
        }
    }
    return false;
}

bool OpenShadowDevice(const wstring16 &name, DWORD desiredAccess, HANDLE &handle, DWORD &error)
{
    handle = INVALID_HANDLE_VALUE;
    if (name.empty() || ShadowDeviceLength(name) != name.size())
        return false;
    if (!FindShadowCopy(name, NULL)) {
        error = ERROR_FILE_NOT_FOUND;
        return true;
    }
    // A read-only device: opening it to write is refused as for write-protected media.
    if (desiredAccess & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA)) {
        error = ERROR_WRITE_PROTECT;
        return true;
    }
    handle = InsertHandle(std::make_shared<ShadowDeviceObject>(name));
    error = ERROR_SUCCESS;
    return true;
}

bool IsShadowDeviceHandle(HANDLE handle) { return LookupHandleAs<ShadowDeviceObject>(handle) != nullptr; }

DWORD CreateShadowCopy(const std::u16string &volumeGuidPath, std::u16string *device)
{
    if (device == NULL)
        return ERROR_INVALID_PARAMETER;
    Fault fault;
    if (TakeFault("CreateShadowCopy", volumeGuidPath, &fault))
        return fault.error;
    ListenForHostChanges();
    const Host &host = CurrentHost();
    wstring16 name = volumeGuidPath;
    if (name.empty() || name.back() != u'\\')
        name += u"\\";
    const Volume *volume = host.FindVolumeByGuidPath(name);
    if (volume == NULL)
        return ERROR_FILE_NOT_FOUND;
    if (volume->offline)
        return ERROR_NOT_READY;
    const int volumeIndex = int(volume - host.volumes.data());
    // The path layer's lock first, then this registry's; held until the copy is made, so
    // that no live file is opened while its link is being made.
    auto sandboxGuard = LockSandbox();
    MaterializeVolume(volumeIndex);
    const std::string source = VolumeDirectory(volumeIndex);
    const std::string root = SandboxRoot();

    unsigned number;
    {
        ShadowRegistry &registry = TheRegistry();
        std::lock_guard<std::mutex> guard(registry.lock);
        if (registry.generation != HostGeneration()) {
            // Copies of an earlier host that no listener removed (the first host is loaded
            // lazily, without listeners): they cannot be reached any more.
            for (const ShadowCopy &stale : registry.copies)
                RemoveTree(stale.directory);
            registry.copies.clear();
            registry.nextNumber = 1;
            registry.generation = HostGeneration();
        }
        number = registry.nextNumber++;  // never given again, even when this copy fails
    }
    ShadowCopy copy;
    copy.device = kDevicePrefix + FromUtf8(std::to_string(number));
    copy.volume = volumeIndex;
    copy.directory = root + "/HarddiskVolumeShadowCopy" + std::to_string(number);
    RemoveTree(copy.directory);  // left by an earlier process in a fixed sandbox
    if (const DWORD error = CopyTree(source, copy.directory)) {
        RemoveTree(copy.directory);
        return error;
    }
    {
        ShadowRegistry &registry = TheRegistry();
        std::lock_guard<std::mutex> guard(registry.lock);
        registry.copies.push_back(copy);
    }
    *device = copy.device;
    return ERROR_SUCCESS;
}

DWORD DeleteShadowCopy(const std::u16string &device)
{
    if (device.empty() || ShadowDeviceLength(device) != device.size())
        return ERROR_FILE_NOT_FOUND;
    std::string directory;
    {
        ShadowRegistry &registry = TheRegistry();
        std::lock_guard<std::mutex> guard(registry.lock);
        if (registry.generation != HostGeneration())
            return ERROR_FILE_NOT_FOUND;
        auto found = registry.copies.begin();
        while (found != registry.copies.end() && !SameDevice(found->device, device))
            ++found;
        if (found == registry.copies.end())
            return ERROR_FILE_NOT_FOUND;
        directory = found->directory;
        registry.copies.erase(found);
    }
    RemoveTree(directory);
    return ERROR_SUCCESS;
}

std::vector<std::u16string> ShadowCopyDevices()
{
    std::vector<std::u16string> devices;
    ShadowRegistry &registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    if (registry.generation != HostGeneration())
        return devices;
    for (const ShadowCopy &copy : registry.copies)
        devices.push_back(copy.device);
    return devices;
}

} // namespace winsim
