// The critical volumes of a disaster-recovery backup: the volumes of the system-state
// writers' components that a recovery can restore, the volumes that hold their mount
// points, every volume of the dynamic-disk pack when one of them lies on a dynamic disk,
// and the boot configuration store's volume. Each is entered in volSnapMap with the flag
// bits that say why, and noted in the decision log with its reason.
#include <libwinclass/backup.h>
#include <libwinclass/explain.h>

#include <libwinclass/backup/sysreq.h>
#include <libwinclass/backup/trace.h>
#include <libwinclass/writers/critical.h>

#include <liblocal/local.h>
#include <libtlv/settings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <unordered_map>
#include <unordered_set>

using winclass::TraceFailures;

namespace {

// Buffers of the volume texts, as Windows volume calls answer them.
const size_t kVolumeBytes = 260;
// The disk number text of one volume ("1,2").
const size_t kDiskNumbersBytes = 120;

const uint32_t kCriticalFlags = VOLSNAP_CRITICAL;
const uint32_t kDynamicPackFlags = VOLSNAP_CRITICAL | VOLSNAP_DYNAMIC_PACK;
const uint32_t kBcdFlags = VOLSNAP_CRITICAL | VOLSNAP_BCD;

std::string Utf8(const wstr &text) { return tv_str(text.c_str()).get_utf8(); }

// The UTF-8 text cut to the volume buffer, as the log lines show it.
std::string Bounded(const wstr &text)
{
    char buffer[kVolumeBytes];
    vo_wcs_to_utf8s(buffer, text.c_str(), sizeof buffer, 0);
    return buffer;
}

std::string ComponentName(const CVssWriterComp &component)
{
    if (component.GetLogicalPath().empty())
        return Utf8(component.GetName());
    return Utf8(component.GetLogicalPath()) + "\\" + Utf8(component.GetName());
}

// The disk number text of an entry, or false when its extents could not be read.
bool DiskNumbersOf(const CVssVolSnapShotMap &entry, char *buffer)
{
    std::string guid = entry.volumeGuidName.get_utf8();
    guid.push_back(0);
    return getDiskNumbersForVolume(&guid[0], entry.volume.get_utf8(), buffer, kDiskNumbersBytes) == 1;
}

// The first disk of a disk number text, read as atoi reads it.
int FirstDisk(const char *diskNumbers) { return std::atoi(diskNumbers); }

// One line per entry with the flag bit, to standard output.
void PrintEntries(const VolSnapMapList &entries, uint32_t bit)
{
    for (const auto &entry : entries) {
        if ((entry->flags & bit) == 0)
            continue;
        char disks[kDiskNumbersBytes];
        if (DiskNumbersOf(*entry, disks))
            vo_fprintf(stdout, "%s (disk num %s)\n", entry->volume.get_utf8(), disks);
        else
            vo_fprintf(stdout, "%s\n", entry->volume.get_utf8());
    }
}

void LogCriticalEntries(const char *afterCall, const VolSnapMapList &entries)
{
    debugprintf("add_associated_critical_volumes: print out of critical volume list after call to %s.\n", afterCall);
    for (const auto &entry : entries) {
        if ((entry->flags & VOLSNAP_CRITICAL) != 0)
            debugprintf("critical volume = [%s].\n", entry->volume.get_utf8());
    }
}

// The flags of every entry of a copy by its volume, to tell what a call added.
std::unordered_map<wstr, uint32_t> FlagsByVolume(const VolSnapMapList &copy)
{
    std::unordered_map<wstr, uint32_t> flags;
    for (const auto &entry : copy)
        flags.emplace(wstr(static_cast<const WCHAR *>(entry->volume)), entry->flags);
    return flags;
}

uint32_t FlagsOf(const std::unordered_map<wstr, uint32_t> &flags, const tv_str &volume)
{
    const auto found = flags.find(wstr(static_cast<const WCHAR *>(volume)));
    return found == flags.end() ? 0 : found->second;
}

// Notes the drive root that holds a mount folder, once per session, when AddVolume has
// entered it as the mount point's parent (bit 4).
void NoteMountParent(CVssSysReqBackup &requester, const tv_str &mountFolder)
{
    const int separator = mountFolder.ffind(WCHAR('\\'));
    if (separator < 0 || separator + 1 >= mountFolder.length())
        return;  // a drive root holds itself
    tv_str driveRoot = mountFolder;
    driveRoot.truncate(driveRoot.length() - (separator + 1));
    const std::string root = driveRoot.get_utf8();
    const char *const verdict = "parent of mount point";
    for (const auto &decision : requester.decisions) {
        if (decision.subject == VSSCR_SUBJECT_VOLUME && decision.volume == root && decision.verdict == verdict)
            return;
    }
    const auto entry = requester.volSnapIndex.find(wstr(static_cast<const WCHAR *>(driveRoot)));
    if (entry != requester.volSnapIndex.end() && ((*entry->second)->flags & VOLSNAP_MOUNT_PARENT) != 0)
        requester.Decide(CVssSysReqBackup::Decision{
            VSSCR_SUBJECT_VOLUME, true, "", "", root, verdict,
            std::string("It holds the mount point ") + mountFolder.get_utf8() + " of a critical volume."});
}

// The writer and component that first named each volume of the collected map.
struct Origin {
    std::string writer, component;
};

} // namespace

vo_msg *CVssSysReqBackup::GetCriticalVolumes(CriticalVolumeList &out)
{
    const auto appendCritical = [&]() {
        for (const auto &entry : volSnapMap) {
            if ((entry->flags & VOLSNAP_CRITICAL) != 0)
                out.push_back(entry);
        }
    };
    if (criticalVolumesDone) {
        appendCritical();
        return NULL;
    }
    const CVssCrWriterList writers = GetSystemStateWriters();
    if (writers.empty())
        return NULL;
    out.clear();
    // No file is read through the map before the snapshot: one view at the end will do.
    PublishBatch batch(*this);

    CVssMountPointMap collected;
    std::map<wstr, Origin> origins;
    for (const auto &writer : writers) {
        CVssWriterCompList components;
        writer->GetAllComponents(components);
        for (const auto &component : components) {
            const bool taken = writer->usageType != VSS_UT_USERDATA ? component->componentFlags != VSS_CF_NOT_SYSTEM_STATE
                                                                    : IsComponentSupported(writer, component);
            if (!taken)
                continue;
            CVssMountPointMap volumes;
            const long result = component->GetVolumeMap(volumes);
            if (result != 0) {
                // Without all the volumes of a system-state component no set is the right one.
                if (TraceFailures())
                    debugprintf("Critical Volumes: the volumes of component %s of %s could not be read: 0x%x.\n",
                                ComponentName(*component).c_str(), Utf8(writer->GetName()).c_str(), unsigned(result));
                char code[16];
                std::snprintf(code, sizeof code, "0x%08x", unsigned(result));
                Decide(Decision{VSSCR_SUBJECT_VOLUME, false, Utf8(writer->GetName()), ComponentName(*component), "",
                                "left out",
                                std::string("The volumes of this component could not be read (") + code +
                                    "), so no critical volume was computed."});
                return NULL;
            }
            for (const auto &volume : volumes) {
                if (collected.insert(volume).second)
                    origins[volume.first] = Origin{Utf8(writer->GetName()), ComponentName(*component)};
            }
        }
    }

    for (const auto &volume : collected) {
        const CVssMountPoint &mountPoint = *volume.second;
        const std::string path = Bounded(mountPoint.volumePath);
        const std::string guid = Bounded(mountPoint.GetVolumeGuid());
        if (TraceFailures())
            debugprintf("Critical Volumes: char_mount_vol:%s  char_mount_GUID:%s \n", path.c_str(), guid.c_str());
        // The checks see the path as the 260-byte text the client's helpers take (only its
        // drive letter and volume matter to them); the map takes the whole path.
        const tv_str whole(mountPoint.volumePath.c_str());
        const Origin &origin = origins[volume.first];
        std::string cause;
        if (winclass::VolumeAllowedAsCritical(path.c_str(), guid.c_str(), &cause)) {
            uint32_t present = 0;
            if (vo_msg *message = AddVolume(whole, true, kCriticalFlags, tv_str(), &present, whole, false))
                return message;
            Decide(Decision{VSSCR_SUBJECT_VOLUME, true, origin.writer, origin.component, whole.get_utf8(), "critical",
                            "Component " + origin.component + " of " + origin.writer + " has files on it."});
            NoteMountParent(*this, whole);
        } else {
            if (TraceFailures())
                debugprintf("Volume %s with GUID %s can't be treated as a critical volume due to failure in check "
                            "criteria like cluster csv etc. \n",
                            path.c_str(), guid.c_str());
            Decide(Decision{VSSCR_SUBJECT_VOLUME, false, origin.writer, origin.component, whole.get_utf8(), "refused",
                            "Component " + origin.component + " of " + origin.writer + " has files on it, but it is " +
                                cause + ", which a disaster recovery cannot restore."});
        }
    }

    if (vo_msg *message = add_associated_critical_volumes(true))
        return message;

    std::shared_ptr<CVssCrWriter> asrWriter;
    std::shared_ptr<CVssWriterComp> bcd;
    bool bcdFlag = false;
    msg_free(GetAsrBcdComponent(asrWriter, bcd, bcdFlag));
    // Without the ASR writer or its "BCD" component the boot store's volume is not known:
    // the volumes found so far are still the answer, and the log says what is missing.
    if (!bcd) {
        if (TraceFailures())
            debugprintf("Critical Volumes: the %s has no BCD component; no boot configuration volume is added.\n",
                        asrWriter ? "ASR Writer" : "ASR Writer is absent and");
        Decide(Decision{VSSCR_SUBJECT_VOLUME, false, "ASR Writer", "BCD", "", "left out",
                        asrWriter ? "The ASR Writer has no BCD component, so no boot configuration volume was added."
                                  : "The ASR Writer is absent, so no boot configuration volume was added."});
    } else {
        CVssMountPointMap volumes;
        bcd->GetVolumeMap(volumes);
        for (const auto &volume : volumes) {
            const tv_str path(volume.second->volumePath.c_str());
            uint32_t present = 0;
            if (vo_msg *message = AddVolume(path, false, kBcdFlags, tv_str(), &present, path, bcdFlag))
                return message;
            Decide(Decision{VSSCR_SUBJECT_VOLUME, true, "ASR Writer", "BCD", path.get_utf8(), "BCD",
                            "It holds the boot configuration store (component BCD of the ASR Writer)."});
        }
    }

    appendCritical();
    criticalVolumesDone = true;
    return NULL;
}

vo_msg *CVssSysReqBackup::add_associated_critical_volumes(bool mark)
{
    const bool listOption = list_critical_volumes() != 0;
    VolSnapMapList copy = volSnapMap;
    if (copy.empty())
        return NULL;
    const bool logLists = Debug >= 3 && !listOption;
    if (listOption) {
        vo_fprintf(stdout, "\n\n");
        vo_fprintf(stdout, "The following volumes are determined as critical by the system state writers:\n");
        PrintEntries(copy, VOLSNAP_CRITICAL);
        vo_fprintf(stdout, "\n");
    }
    if (logLists)
        LogCriticalEntries("add_associated_critical_volumes", copy);

    if (vo_msg *message = add_associated_mount_points(copy, mark))
        return message;
    copy = volSnapMap;
    if (logLists)
        LogCriticalEntries("add_associated_mount_points", copy);

    if (vo_msg *message = add_associated_dynamic_disk_volumes(copy, mark))
        return message;
    copy = volSnapMap;
    if (logLists)
        LogCriticalEntries("add_associated_dynamic_disk_volumes", copy);

    // Mount points among the volumes of the dynamic pack.
    if (vo_msg *message = add_associated_mount_points(copy, mark))
        return message;
    copy = volSnapMap;

    if (listOption) {
        vo_fprintf(stdout, "The following volumes are critical because they are parents for one or more mounted "
                           "critical volumes:\n");
        PrintEntries(copy, VOLSNAP_MOUNT_PARENT);
        vo_fprintf(stdout, "\n");
        vo_fprintf(stdout, "The following volumes are critical because they are in the same dynamic disk pack with "
                           "one or more critical volumes:\n");
        PrintEntries(copy, VOLSNAP_DYNAMIC_PACK);
        vo_fprintf(stdout, "\n");
    } else {
        if (Debug >= 3)
            LogCriticalEntries("add_associated_mount_points", copy);
        OutputDebugStringW(W("Processing completed for disaster recover backup.\n"));
    }
    return NULL;
}

vo_msg *CVssSysReqBackup::add_associated_mount_points(const VolSnapMapList &copy, bool mark)
{
    // The walk goes on past a failure, so that every other mount point still brings its
    // parent; the first failure is the answer (a later success must not hide it) and the
    // later ones are printed, so that none is lost.
    vo_msg *firstFailure = NULL;
    for (const auto &entry : copy) {
        if ((entry->flags & VOLSNAP_CRITICAL) == 0 || !is_mount_point(entry->volume.get_utf8()))
            continue;
        uint32_t present = 0;
        vo_msg *message = AddVolume(entry->volume, mark, kCriticalFlags, tv_str(), &present, entry->volume, false);
        if (message != NULL) {
            if (firstFailure == NULL) {
                firstFailure = message;
            } else {
                msg_print_handle(message, VO_SEV_ERROR);
                msg_free(message);
            }
            continue;
        }
        NoteMountParent(*this, entry->volume);
    }
    return firstFailure;
}

vo_msg *CVssSysReqBackup::add_associated_dynamic_disk_volumes(const VolSnapMapList &copy, bool mark)
{
    char disks[kDiskNumbersBytes];
    const CVssVolSnapShotMap *onDynamicDisk = NULL;
    int packDisk = -1;
    for (const auto &entry : copy) {
        if ((entry->flags & VOLSNAP_CRITICAL) != 0 && DiskNumbersOf(*entry, disks) &&
            winclass::IsDynamicDisk(FirstDisk(disks))) {
            onDynamicDisk = entry.get();
            packDisk = FirstDisk(disks);
            break;
        }
    }
    if (onDynamicDisk == NULL)
        return NULL;

    char name[kVolumeBytes] = {};
    HANDLE search = FindFirstVolumeA(name, DWORD(sizeof name));
    if (search == INVALID_HANDLE_VALUE)
        return NULL;
    const std::unordered_map<wstr, uint32_t> flagsBefore = FlagsByVolume(copy);
    std::unordered_set<std::string> rootsNoted;
    vo_msg *result = NULL;
    do {
        char paths[kVolumeBytes] = {};
        DWORD length = 0;
        GetVolumePathNamesForVolumeNameA(name, paths, DWORD(sizeof paths), &length);
        if (paths[0] == 0 || getDiskNumbersForVolume(name, paths, disks, sizeof disks) != 1 ||
            !winclass::IsDynamicDisk(FirstDisk(disks)))
            continue;
        const tv_str path(paths, tv_str::TCS_CP_UTF8);
        uint32_t present = 0;
        result = AddVolume(path, mark, kDynamicPackFlags, tv_str(), &present, path, false);
        if (result != NULL)
            break;
        if ((FlagsOf(flagsBefore, path) & VOLSNAP_DYNAMIC_PACK) == 0)
            Decide(Decision{VSSCR_SUBJECT_VOLUME, true, "", "", path.get_utf8(), "dynamic pack",
                            "It lies on dynamic disk " + std::to_string(FirstDisk(disks)) +
                                ", in the pack of critical volume " + onDynamicDisk->volume.get_utf8() +
                                " (dynamic disk " + std::to_string(packDisk) + ")."});
        // A mount folder brings its drive root in with the same flags: say so, or the
        // root's pack flag would stand without a reason.
        const int separator = path.ffind(WCHAR('\\'));
        if (separator >= 0 && separator + 1 < path.length()) {
            tv_str root = path;
            root.truncate(root.length() - (separator + 1));
            const auto entry = volSnapIndex.find(wstr(static_cast<const WCHAR *>(root)));
            if ((FlagsOf(flagsBefore, root) & VOLSNAP_DYNAMIC_PACK) == 0 && entry != volSnapIndex.end() &&
                ((*entry->second)->flags & VOLSNAP_DYNAMIC_PACK) != 0 && rootsNoted.insert(root.get_utf8()).second)
                Decide(Decision{VSSCR_SUBJECT_VOLUME, true, "", "", root.get_utf8(), "dynamic pack",
                                std::string("It holds the mount folder ") + path.get_utf8() +
                                    " of the dynamic pack, and a drive root takes the flags of a mount folder it "
                                    "holds."});
        }
    } while (FindNextVolumeA(search, name, DWORD(sizeof name)));
    FindVolumeClose(search);
    return result;
}

vo_msg *CVssSysReqBackup::GetAsrBcdComponent(std::shared_ptr<CVssCrWriter> &writer,
                                             std::shared_ptr<CVssWriterComp> &component, bool &bcdFlag)
{
    writer.reset();
    component.reset();
    bcdFlag = false;
    wstr writerName(W("ASR Writer"));
    if (cr == NULL || cr->GetWriterByName(writerName, writer) != 0 || !writer) {
        writer.reset();
        return NULL;
    }
    if (writer->GetCompByName(W("BCD"), component) != 0 || !component) {
        component.reset();
        return NULL;
    }
    bcdFlag = component->notSelectable;
    return NULL;
}

extern "C" int vsscr_get_dr_critical_volumes(vo_vallist **list)
{
    CVssSysReqBackup &requester = BackupRequester();
    msg_free(requester.Init(1, 0, tv_str()));
    CVssSysReqBackup::CriticalVolumeList volumes;
    msg_free(requester.GetCriticalVolumes(volumes));
    for (const auto &entry : volumes) {
        // The client takes volume names of at most 260 bytes. A drive root keeps its
        // backslash, a mount folder loses it.
        const WCHAR *volume = entry->volume;
        std::string text = Bounded(volume != nullptr ? wstr(volume) : wstr());
        if (text.size() > 3 && text.back() == '\\')
            text.pop_back();
        vallist_add(list, text.c_str());
    }
    return 1;
}
