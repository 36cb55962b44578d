// The snapshot set: save paths and volumes become members of the common requester's
// snapshot set and entries of the volume snapshot map; vsscr_process_snap takes the
// snapshot, writes the backup components document and records every volume's shadow-copy
// device in the map.
//
// The map is changed on the session's thread only, and every change is published as a new
// view for the shadow-path lookups (volsnapmap.h): an entry already published is replaced
// by a changed copy, never changed in place.
#include <libwinclass/backup.h>
#include <libwinclass/backup/sysreq.h>
#include <libwinclass/hostinfo.h>

#include <liblocal/local.h>

#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

// Path buffers of the client hold this many characters (wide) or bytes (UTF-8).
const size_t kPathChars = 13312;
// Windows volume calls answer into buffers of this many characters.
const size_t kVolumePathChars = 260;
// Shadow paths given by callers are kept to this many characters (and a backslash).
const int kShadowPathChars = 260;
// Error texts are made in buffers of this size.
const size_t kErrorTextBytes = 1024;

const DWORD kNoMemory = 8; // ERROR_NOT_ENOUGH_MEMORY
const DWORD kFileNotFound = 2;

bool TraceFailures() { return Debug >= 1 || (VoTrace & 0x1) != 0; }
bool TraceSetup() { return Debug >= 3 || (VoTrace & 0x4) != 0; }
bool TraceDetail() { return Debug >= 5 || (VoTrace & 0x10) != 0; }

vo_msg *NotInitialized() { return msg_create(113658, 53000, "VSS common requester is not initialized.\n"); }
vo_msg *SnapshotFailed() { return msg_create(159673, 55000, "Unable to create the VSS snapshot.\n"); }
vo_msg *DocumentFailed()
{
    return msg_create(159674, 55000, "Unable to create the Backup Components Document file.\n");
}

size_t WideLength(const WCHAR *text)
{
    size_t length = 0;
    while (text[length] != 0)
        ++length;
    return length;
}

// _wcsicmp in the "C" locale: A-Z fold, nothing else does.
bool WideEqualIgnoringCase(const WCHAR *a, const WCHAR *b)
{
    for (;; ++a, ++b) {
        WCHAR x = *a, y = *b;
        if (x >= 'A' && x <= 'Z')
            x = WCHAR(x + ('a' - 'A'));
        if (y >= 'A' && y <= 'Z')
            y = WCHAR(y + ('a' - 'A'));
        if (x != y)
            return false;
        if (x == 0)
            return true;
    }
}

// The text with a backslash at its end (added when missing; an empty text stays empty).
tv_str WithTrailingBackslash(const tv_str &text)
{
    tv_str result = text;
    if (!result.is_empty() && !result.has_trailing_dirsep())
        result.set_trailing_dirsep();
    return result;
}

// A shadow path as the map keeps it: at most 260 characters, then a backslash.
tv_str StoredShadowPath(const tv_str &shadowPath)
{
    tv_str result = shadowPath;
    if (result.length() > kShadowPathChars)
        result.truncate(result.length() - kShadowPathChars);
    return WithTrailingBackslash(result);
}

// The drive root (X:\) of a volume named by its GUID path, when it has a letter whose
// file system answers, as the mount table lists them; else empty. Only this volume's
// names are asked for: a walk of the whole table per entry made a map of n volumes
// cost n squared volume calls.
tv_str DriveRootOf(const WCHAR *volumeGuidName)
{
    std::vector<WCHAR> names(kVolumePathChars);
    DWORD needed = 0;
    while (!GetVolumePathNamesForVolumeNameW(volumeGuidName, names.data(), DWORD(names.size()), &needed)) {
        if (GetLastError() != ERROR_MORE_DATA || needed <= names.size())
            return tv_str();
        names.resize(needed);
    }
    for (const WCHAR *path = names.data(); *path != 0; path += WideLength(path) + 1) {
        WCHAR fileSystem[kVolumePathChars + 1];
        if (WideLength(path) == 3 && path[1] == ':' &&
            GetVolumeInformationW(path, NULL, 0, NULL, NULL, NULL, fileSystem, DWORD(kVolumePathChars + 1)))
            return tv_str(path);
    }
    return tv_str();
}

std::string Utf8Of(const WCHAR *text)
{
    tv_str converted(text);
    return converted.get_utf8();
}

} // namespace

// ---- the map ----

DWORD CVssSysReqBackup::NewVolSnapShotMap(const tv_str &volume, bool mark, uint32_t flags,
                                          const tv_str &shadowPath, bool bcdFlag,
                                          std::shared_ptr<CVssVolSnapShotMap> &entry)
{
    tv_str volumeGuidName;
    tv_str driveRoot;
    // The boot store's volume of the ASR writer's BCD component has no GUID name to ask for.
    if (!((flags & VOLSNAP_BCD) != 0 && bcdFlag)) {
        WCHAR guidName[100] = {};
        if (!GetVolumeNameForVolumeMountPointW(volume, guidName, 100)) {
            const DWORD error = GetLastError();
            if (error != 0)
                return error;
        } else {
            volumeGuidName = guidName;
            driveRoot = DriveRootOf(guidName);
        }
    }

    entry = std::make_shared<CVssVolSnapShotMap>();
    entry->marked = mark;
    entry->flags = flags;
    entry->volume = WithTrailingBackslash(volume);
    entry->volumeGuidName = volumeGuidName;
    if (!shadowPath.is_empty())
        entry->shadowPath = StoredShadowPath(shadowPath);
    entry->driveRoot = driveRoot;
    return 0;
}

DWORD CVssSysReqBackup::AddToSnapShotMap(const tv_str &volumeAsGiven, bool mark, uint32_t flags,
                                         const tv_str &shadowPath, uint32_t *alreadyPresent,
                                         const tv_str & /*originatingPath*/, bool bcdFlag)
{
    // Entries are keyed with their trailing backslash; a volume named without one is the
    // same volume.
    const tv_str volume = WithTrailingBackslash(volumeAsGiven);
    const int length = volume.length();

    const wstr key(static_cast<const WCHAR *>(volume));
    const auto known = volSnapIndex.find(key);
    if (known != volSnapIndex.end()) {
        const VolSnapMapList::iterator position = known->second;
        const CVssVolSnapShotMap &entry = **position;
        // Known: the change goes into a copy, as published views may hold the entry. A
        // volume named again with nothing new keeps its entry and publishes nothing.
        const bool markChanges = mark && !bcdFlag && !entry.marked;
        // A parent volume named again for another mount point keeps its shadow path.
        const bool shadowChanges = !shadowPath.is_empty() && (flags & VOLSNAP_MOUNT_PARENT) == 0 &&
                                   StoredShadowPath(shadowPath) != entry.shadowPath;
        if (markChanges || shadowChanges || (entry.flags | flags) != entry.flags) {
            auto changed = std::make_shared<CVssVolSnapShotMap>(entry);
            changed->marked = changed->marked || markChanges;
            changed->flags |= flags;
            if (shadowChanges)
                changed->shadowPath = StoredShadowPath(shadowPath);
            *position = changed;
            PublishVolSnapMap();
        }
        if (TraceDetail())
            debugprintf("Found %s volume in the volume snapshot map.\n", volume.get_utf8());
        if (alreadyPresent != NULL)
            *alreadyPresent = 1;
        return 0;
    }

    std::shared_ptr<CVssVolSnapShotMap> entry;
    const DWORD code = NewVolSnapShotMap(volume, mark, flags, shadowPath, bcdFlag, entry);
    if (alreadyPresent != NULL)
        *alreadyPresent = 0;
    if (code != 0)
        return code;
    if (TraceDetail())
        debugprintf("Adding %s volume in the volume snapshot map.\n", volume.get_utf8());
    // Before the first shorter name: deeper mount points before the volumes holding them,
    // and among equal lengths the newest last.
    const auto shorter = volSnapFirstOfLength.upper_bound(length);
    const VolSnapMapList::iterator added =
        volSnapMap.insert(shorter == volSnapFirstOfLength.end() ? volSnapMap.end() : shorter->second, entry);
    volSnapFirstOfLength.emplace(length, added);  // kept when the length has entries already
    volSnapIndex.emplace(key, added);
    PublishVolSnapMap();
    return 0;
}

// ---- volumes ----

DWORD CVssSysReqBackup::GetVolumeRootPath(const WCHAR *path, WCHAR *buffer, size_t size)
{
    // Room for a drive root at least ("E:" gives "E:\\").
    if (path == NULL || buffer == NULL || size < 4)
        return ERROR_INVALID_PARAMETER;
    std::unique_ptr<WCHAR[]> expanded(new (std::nothrow) WCHAR[kPathChars]);
    if (!expanded) {
        if (TraceSetup())
            debugprintf("VSS .. unable to allocate memory for wszExpandedPath.\n");
        return kNoMemory;
    }
    std::unique_ptr<char[]> utf8(new (std::nothrow) char[kPathChars]);
    if (!utf8) {
        if (TraceSetup())
            debugprintf("VSS .. unable to allocate memory for utf8_str.\n");
        return kNoMemory;
    }

    const DWORD expandedChars = ExpandEnvironmentStringsW(path, expanded.get(), DWORD(kPathChars));
    if (expandedChars == 0 || expandedChars > kPathChars) {
        const DWORD error = expandedChars == 0 ? GetLastError() : DWORD(ERROR_INSUFFICIENT_BUFFER);
        if (TraceSetup())
            debugprintf("VSS ..AddVolToBackup -- ExpandEnvironmentStrings of %s failed with %d\n",
                        Utf8Of(path).c_str(), int(error));
        return error;
    }
    vo_wcs_to_utf8s(utf8.get(), expanded.get(), kPathChars, 0);

    const size_t expandedLength = WideLength(expanded.get());
    if (expandedLength < 3) {
        // "E:" is its own drive root; Windows is not asked.
        vo_wcslcpy(buffer, expanded.get(), size);
        adddirsepw(buffer, '\\');
    } else if (!GetVolumePathNameW(expanded.get(), buffer, DWORD(size < kPathChars ? size : kPathChars))) {
        const DWORD error = GetLastError();
        if (TraceSetup())
            debugprintf("VSS .. GetVolumeMountPoint failed for %s -- %d \n", utf8.get(), int(error));
        if (error != kFileNotFound)
            return error;
        // The volume is offline or absent. A backup of everything stops here; a backup
        // for directive processing only (TLV_INITIALIZE_DIRECTIVE other than TRUE) goes on.
        WCHAR directive[6] = {};
        const DWORD directiveChars = GetEnvironmentVariableW(W("TLV_INITIALIZE_DIRECTIVE"), directive, 6);
        const bool unset = directiveChars == 0;
        const bool isTrue = directiveChars == 4 && WideLength(directive) == 4 && directive[0] == 'T' &&
                            directive[1] == 'R' && directive[2] == 'U' && directive[3] == 'E';
        if (unset || isTrue) {
            msg_print(88224, 2, 2,
                      "The base volume for the path [%s] is unavailable or offline.  Please ensure all volumes "
                      "are online for backup operations.\n",
                      VO_ARG_PATH, utf8.get());
            return error;
        }
        if (TraceSetup())
            debugprintf("The base volume for the path %s is unavailable/offline for directive processing, but "
                        "file system backup is continuing.\n",
                        utf8.get());
        memset(buffer, 0, size * sizeof(WCHAR));
        return 0;
    } else if (buffer[0] != 0 && buffer[1] == ':' && WideLength(buffer) > 3) {
        // A mount folder below a drive letter: named in the letter case it has on disk.
        vo_wcs_to_utf8s(utf8.get(), buffer, kPathChars, 0);
        std::unique_ptr<char[]> corrected(new (std::nothrow) char[kPathChars]);
        if (corrected && vo_correct_path_case(utf8.get(), corrected.get(), kPathChars) == 1)
            vo_utf8s_to_wcs(buffer, corrected.get(), size);
    }

    if (buffer[0] >= 'a' && buffer[0] <= 'z')
        buffer[0] = WCHAR(buffer[0] - ('a' - 'A'));
    return 0;
}

bool CVssSysReqBackup::NeedsParentVolume(const WCHAR *volumeRoot, const WCHAR *driveRoot)
{
    if (volumeRoot == NULL || driveRoot == NULL) {
        if (TraceSetup())
            debugprintf("Invalid input argument found while processing a volume for parent volume inclusion in "
                        "the backup.\n");
        return false;
    }
    if (WideEqualIgnoringCase(volumeRoot, driveRoot))
        return false; // the volume is the drive root itself
    if (!is_win8_server_os())
        return true;

    // Filled once per process, never refreshed.
    static WCHAR systemDrive[32];
    if (systemDrive[0] == 0) {
        const DWORD chars = ExpandEnvironmentStringsW(W("%SystemDrive%\\"), systemDrive, 32);
        if (chars == 0 || chars > 32) {
            const DWORD error = chars == 0 ? GetLastError() : DWORD(ERROR_INSUFFICIENT_BUFFER);
            systemDrive[0] = 0;
            if (TraceSetup())
                debugprintf("The SystemDrive environment variable did not expand. The error is 0x%x.\n",
                            unsigned(error));
            return false;
        }
    }

    std::string rootUtf8 = Utf8Of(volumeRoot);
    if (rootUtf8.empty() || rootUtf8.back() != '\\')
        rootUtf8 += '\\';
    if (!isfilesystemtype(rootUtf8.c_str(), "CSVFS"))
        return true;
    // A Cluster Shared Volume mounted under the system drive does not pull the system
    // drive into the snapshot set.
    return !WideEqualIgnoringCase(driveRoot, systemDrive);
}

vo_msg *CVssSysReqBackup::AddVolume(const tv_str &volume, bool mark, uint32_t flags, const tv_str &shadowPath,
                                    uint32_t *alreadyPresent, const tv_str &originatingPath, bool bcdFlag)
{
    if (volume.is_empty())
        return NULL;

    std::unique_ptr<WCHAR[]> root(new (std::nothrow) WCHAR[kPathChars]);
    DWORD code = kNoMemory;
    if (root) {
        root[0] = 0;
        code = GetVolumeRootPath(volume, root.get(), kPathChars);
    }

    if (code == 0 && root[0] != 0 && root[1] == ':') {
        // The drive root that holds the volume: the volume's text up to its first backslash.
        tv_str driveRoot = volume;
        const int separator = volume.ffind(WCHAR('\\'));
        if (separator >= 0) {
            driveRoot.truncate(driveRoot.length() - (separator + 1));
            if (NeedsParentVolume(root.get(), driveRoot)) {
                DWORD parentCode = AddToSnapShotMap(driveRoot, mark, flags | VOLSNAP_MOUNT_PARENT, shadowPath,
                                                    alreadyPresent, originatingPath, bcdFlag);
                if (TraceDetail()) {
                    if (parentCode == 0)
                        debugprintf("VSS .. adding extra vol %s to snap set for mountpoint.\n", volume.get_utf8());
                    else
                        debugprintf("VSS .. adding extra vol %s to snap set for mountpoint returned error 0x%x.\n",
                                    volume.get_utf8(), unsigned(parentCode));
                }
                if (cr != NULL) {
                    wstr parent(static_cast<const WCHAR *>(driveRoot));
                    parentCode = DWORD(Checked("AddVolToSnapset", cr->AddVolToSnapset(parent), parent));
                    if (TraceDetail()) {
                        if (parentCode == 0)
                            debugprintf("Added parent volume %s to snapshot set.\n", volume.get_utf8());
                        else
                            debugprintf("Unable to add parent volume %s tp snapshot set.\n", volume.get_utf8());
                    }
                }
                // Without its parent in the set the mount point could not be read in it.
                if (parentCode != 0)
                    return NULL;
            }
        }
    }

    if (code == 0) {
        code = AddToSnapShotMap(volume, mark, flags, shadowPath, alreadyPresent, originatingPath, bcdFlag);
        if (code == 0)
            return NULL;
    }

    char errorText[kErrorTextBytes] = {};
    GetErrorText(code, sizeof errorText, errorText);
    if (TraceFailures())
        debugprintf("VSS .. volume %s not added to the volume snapshot map: %s\n", volume.get_utf8(), errorText);
    return msg_create(134867, 53000, "Unable to add volume %s to snapshot map table.\n", VO_ARG_NAME,
                      volume.get_utf8());
}

vo_msg *CVssSysReqBackup::AddSavePath(const tv_str &path)
{
    if (path.is_empty())
        return NULL;
    WCHAR root[kVolumePathChars] = {};
    GetVolumePathNameW(path, root, DWORD(kVolumePathChars));
    wstr volume(root);
    // A save path whose volume cannot join the snapshot set adds nothing.
    if (cr == NULL || Checked("AddVolToSnapset", cr->AddVolToSnapset(volume), volume) != 0)
        return NULL;
    return AddVolume(tv_str(root), true, VOLSNAP_SAVE_PATH, tv_str(), NULL, path, false);
}

// ---- the snapshot ----

vo_msg *CVssSysReqBackup::TakeSnapshot(const tv_str &documentPath, GUID *snapshotSetId)
{
    if (saveType == 0)
        msg_free(SelectSystemState());

    if (Checked("DoSnapshot", cr->DoSnapshot()) != 0)
        return SnapshotFailed();
    if (snapshotSetId != NULL)
        *snapshotSetId = cr->snapshotSetId;

    wstr document(static_cast<const WCHAR *>(documentPath) != NULL ? static_cast<const WCHAR *>(documentPath)
                                                                    : W(""));
    if (Checked("SaveBcdAsXML", cr->SaveBcdAsXML(document)) != 0)
        return DocumentFailed();

    // Every volume of the set learns its shadow-copy device.
    const CVssMountPointMap mountPoints = cr->snapshotMountPoints;
    for (const auto &volumeAndMountPoint : mountPoints) {
        const std::shared_ptr<CVssMountPoint> &mountPoint = volumeAndMountPoint.second;
        if (!mountPoint)
            continue;
        const tv_str volume(mountPoint->volumePath.c_str());
        const tv_str shadowPath(mountPoint->GetShadowCopyDeviceObject().c_str());
        if (TraceDetail())
            debugprintf("VSS .. volume %s has the shadow copy %s.\n", volume.get_utf8(), shadowPath.get_utf8());
        if (AddToSnapShotMap(volume, true, VOLSNAP_SAVE_PATH, shadowPath, NULL, volume, false) != 0)
            break;
    }
    return NULL;
}

void createxmlpath(WCHAR *buffer, size_t size, const WCHAR *name)
{
    if (buffer == NULL || size == 0)
        return;
    std::unique_ptr<char[]> directory(new (std::nothrow) char[kPathChars]);
    if (!directory) {
        buffer[0] = 0;
        return;
    }
    vo_strlcpy(directory.get(), get_unique_per_process_dir_path(NULL), kPathChars);
    if (vo_mkdirpath(directory.get(), 1023) != 1 && Debug >= 0)
        debugprintf("Unable to create the PATH variable in the createxmlpath function. Error code: %d.\n",
                    int(GetLastError()));
    // adddirsep needs one byte beyond the text for the separator.
    if (strlen(directory.get()) + 2 <= kPathChars)
        adddirsep(directory.get(), '\\');
    vo_utf8s_to_wcs(buffer, directory.get(), size);
    vo_wcslcat(buffer, name, size);
    vo_wcslcat(buffer, W(".xml"), size);
}

// ---- exported ----

extern "C" {

WINCLASS_API vo_msg *vsscr_add_savepath(const char *savePath)
{
    if (savePath == NULL || savePath[0] == 0)
        return NULL;
    CVssSysReqBackup &requester = BackupRequester();
    if (!requester.initialized || requester.cr == NULL)
        return NotInitialized();
    tv_str path;
    path.set_utf8(savePath);
    return requester.AddSavePath(path);
}

WINCLASS_API vo_msg *vsscr_add_volume_EX(const WCHAR *volume, uint32_t flags)
{
    if (volume == NULL)
        return NULL;
    CVssSysReqBackup &requester = BackupRequester();
    if (!requester.initialized || requester.cr == NULL)
        return NotInitialized();
    const tv_str volumeText(volume);
    return requester.AddVolume(volumeText, true, flags, tv_str(), NULL, volumeText, false);
}

WINCLASS_API vo_msg *vsscr_add_to_volume_table_EX(const WCHAR *volume, int mark, const WCHAR * /*unused*/,
                                                  uint32_t *alreadyPresent, uint32_t flags,
                                                  const WCHAR *shadowPath)
{
    if (volume == NULL || alreadyPresent == NULL || shadowPath == NULL)
        return NULL;
    CVssSysReqBackup &requester = BackupRequester();
    if (!requester.initialized || requester.cr == NULL)
        return NotInitialized();
    const tv_str volumeText(volume);
    *alreadyPresent = 0;
    return requester.AddVolume(volumeText, mark != 0, flags, tv_str(shadowPath), alreadyPresent, volumeText,
                               false);
}

WINCLASS_API vo_msg *vsscr_process_snap(size_t size, WCHAR *documentPath, GUID *snapshotSetId)
{
    CVssSysReqBackup &requester = BackupRequester();
    if (!requester.initialized || requester.cr == NULL)
        return NotInitialized();
    // Refused before the snapshot is taken: the caller could not learn the set's ID or
    // where its document went, so the snapshot would be left behind unknown.
    if (snapshotSetId == NULL)
        return SnapshotFailed();
    if (documentPath == NULL || size < 2)
        return DocumentFailed();

    // The document goes where its whole path says, whatever part of it the caller's
    // buffer can take.
    std::unique_ptr<WCHAR[]> path(new (std::nothrow) WCHAR[kPathChars]);
    if (!path)
        return DocumentFailed();
    createxmlpath(path.get(), kPathChars, W("backcomp"));
    const tv_str document(path.get());
    if (TraceDetail())
        debugprintf("UTF8 string for BCDPath is '%s'.\n", document.get_utf8());
    vo_wcslcpy(documentPath, path.get(), size);

    GUID setId = {};
    vo_msg *result = requester.TakeSnapshot(document, &setId);
    if (result == NULL)
        *snapshotSetId = setId;
    return result;
}

} // extern "C"
