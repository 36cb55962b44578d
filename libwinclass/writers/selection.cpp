// Writer and component selection for the save types that vsscr_select_for_backup
// dispatches, the writer check behind vsscr_is_save_supported, and archive marking of a
// selected component's files. Every component taken or left out is noted in the decision
// log with the reason.
#include <libwinclass/backup/sysreq.h>

#include <libwinclass/backup.h>
#include <libwinclass/explain.h>
#include <libwinclass/backup/trace.h>
#include <libwinclass/writers/filedesc.h>
#include <libwinclass/writers/classify.h>

#include <liblocal/local.h>
#include <libtlv/settings.h>

#include <cstdio>
#include <cstring>
#include <string>

using winclass::TraceDetail;
using winclass::TraceFailures;

namespace {

const WCHAR kAsrWriterName[] = W("ASR Writer");
const char kSystemWriterName[] = "System Writer";
const char kServiceFilesComponent[] = "Win32 Services Files";
const size_t kErrorTextBytes = 1024;
const int kCodeSelection = 53000;
const int kCodeWriterMissing = 55000;

std::string Utf8(const wstr &text) { return tv_str(text.c_str()).get_utf8(); }

std::string Hex(unsigned value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

// The component as the decision log names it: "logical path\name", or the name alone.
std::string ComponentLabel(const CVssWriterComp &component)
{
    if (component.GetLogicalPath().empty())
        return Utf8(component.GetName());
    return Utf8(component.GetLogicalPath()) + "\\" + Utf8(component.GetName());
}

// Equality of two UTF-8 texts ignoring ASCII case.
bool SameIgnoringCase(const char *a, const char *b)
{
    for (; *a != 0 && *b != 0; ++a, ++b) {
        if (winclass::FoldAscii(static_cast<unsigned char>(*a)) != winclass::FoldAscii(static_cast<unsigned char>(*b)))
            return false;
    }
    return *a == *b;
}

const char *PolicyName(const std::list<CPromoteUserDataWriter *> &policies, const GUID &writerId)
{
    return winclass::PolicyName(winclass::PolicyFor(policies, writerId));
}

// Why a component of a non-promoted system-state writer is or is not part of the system
// state, by its flags.
std::string FlagsReason(DWORD flags)
{
    if (flags == 0)
        return "A system-state component (flags 0).";
    if (flags == VSS_CF_NOT_SYSTEM_STATE)
        return "Flags 4 (VSS_CF_NOT_SYSTEM_STATE): the writer says it is not part of the system state.";
    return "Flags " + Hex(flags) + ": only components with flags 0 are system state.";
}

// Selects a component and notes the decision; a component VSS refuses is noted as left
// out with the code.
bool SelectAndNote(CVssSysReqBackup &requester, const CVssCrWriter &writer,
                   const std::shared_ptr<CVssWriterComp> &component, const std::string &volume, std::string reason)
{
    const long result = requester.Checked("SetSelected", component->SetSelected(true));
    CVssSysReqBackup::Decision decision;
    decision.subject = VSSCR_SUBJECT_COMPONENT;
    decision.writer = Utf8(writer.GetName());
    decision.component = ComponentLabel(*component);
    decision.volume = volume;
    decision.taken = result == 0;
    decision.verdict = result == 0 ? "selected" : "left out";
    decision.reason = result == 0 ? std::move(reason)
                                  : "Selecting it failed with " + Hex(static_cast<unsigned>(result)) + " (" +
                                        std::move(reason) + ")";
    requester.Decide(std::move(decision));
    return result == 0;
}

void LeaveOut(CVssSysReqBackup &requester, const CVssCrWriter &writer, const CVssWriterComp &component,
              std::string reason)
{
    CVssSysReqBackup::Decision decision;
    decision.subject = VSSCR_SUBJECT_COMPONENT;
    decision.writer = Utf8(writer.GetName());
    decision.component = ComponentLabel(component);
    decision.verdict = "left out";
    decision.reason = std::move(reason);
    requester.Decide(std::move(decision));
}

void NoteWriter(CVssSysReqBackup &requester, const std::string &writer, bool taken, const char *verdict,
                std::string reason)
{
    CVssSysReqBackup::Decision decision;
    decision.subject = VSSCR_SUBJECT_WRITER;
    decision.writer = writer;
    decision.taken = taken;
    decision.verdict = verdict;
    decision.reason = std::move(reason);
    requester.Decide(std::move(decision));
}

// The map entry for a volume name: the map is ordered by decreasing length, so the walk
// stops at the first entry shorter than the name.
const CVssVolSnapShotMap *FindInMap(const VolSnapMapList &map, const wstr &volume)
{
    const tv_str name(volume.c_str());
    const int length = static_cast<int>(name.length());
    for (const std::shared_ptr<CVssVolSnapShotMap> &entry : map) {
        const int entryLength = static_cast<int>(entry->volume.length());
        if (entryLength < length)
            return nullptr;
        if (entryLength == length && entry->volume == name)
            return entry.get();
    }
    return nullptr;
}

} // namespace

void CVssSysReqBackup::MarkComponentFilesForArchive(const std::shared_ptr<CVssWriterComp> &component)
{
    // A block-based backup reads the volume, not the files: nothing to mark.
    if (bbbBackup || !component || component->writer == nullptr)
        return;
    // The same lists the save program gets by name, so that what is marked is what is saved.
    const wstr &writerName = component->writer->GetName();
    const std::string componentName = Utf8(component->GetName());
    sow_component named = {};
    named.name = const_cast<char *>(componentName.c_str());
    using NamedList = int (*)(const WCHAR *, sow_component *, vsscr_filedesc **);
    for (NamedList list : {vsscr_get_comp_file_group_list, vsscr_get_comp_database_list,
                           vsscr_get_comp_db_logfile_group_list}) {
        vsscr_filedesc *chain = nullptr;
        list(writerName.c_str(), &named, &chain);
        for (const vsscr_filedesc *descriptor = chain; descriptor != nullptr; descriptor = descriptor->next)
            MarkFileForArchive(descriptor);
        FreeFileDescList(chain);
    }
}

struct vo_msg *CVssSysReqBackup::SelectWriterByName(const tv_str &name)
{
    const WCHAR *wide = name;
    wstr writerName = wide != nullptr ? wstr(wide) : wstr();
    std::shared_ptr<CVssCrWriter> writer;
    const long result = cr != nullptr ? Checked("GetWriterByName", cr->GetWriterByName(writerName, writer))
                                      : long(VSS_E_BAD_STATE);
    if (result != 0 || !writer) {
        char errorText[kErrorTextBytes] = {};
        GetErrorText(static_cast<uint32_t>(result), sizeof errorText, errorText);
        NoteWriter(*this, name.get_utf8(), false, "left out", std::string("Not found: ") + errorText);
        return msg_create(134869, kCodeSelection, "Unable to make the selection for writer %s: %s\n", VO_ARG_NAME,
                          name.get_utf8(), VO_ARG_ERRTEXT, errorText);
    }
    const long selected = Checked("SelectWriter", writer->SelectWriter(true));
    NoteWriter(*this, name.get_utf8(), selected == 0, selected == 0 ? "selected" : "left out",
               selected == 0 ? "The save type takes this writer whole, by name."
                             : "Selecting it failed with " + Hex(static_cast<unsigned>(selected)) + ".");
    return nullptr;
}

struct vo_msg *CVssSysReqBackup::SelectForDisasterRecovery()
{
    const CVssCrWriterList writers = GetSystemStateWriters();
    if (writers.empty())
        return nullptr;

    for (const std::shared_ptr<CVssCrWriter> &writer : writers) {
        CVssWriterCompList components;
        writer->GetAllComponents(components);
        for (const std::shared_ptr<CVssWriterComp> &component : components) {
            bool selected = false;
            if (writer->usageType == VSS_UT_USERDATA) {
                const char *policy = PolicyName(promotePolicies, writer->writerId);
                if (IsComponentSupported(writer, component))
                    selected = SelectAndNote(*this, *writer, component, "",
                                             std::string("A promoted writer: ") + policy + " takes this component.");
                else
                    LeaveOut(*this, *writer, *component,
                             std::string("A promoted writer: ") + policy + " does not take this component.");
            } else if (component->componentFlags == 0) {
                selected = SelectAndNote(*this, *writer, component, "", FlagsReason(0));
            } else {
                LeaveOut(*this, *writer, *component,
                         FlagsReason(component->componentFlags) +
                             (saveType == 0 ? " The system-state pass looks at it again." : ""));
            }
            if (selected && writer->sourceType == VSS_ST_TRANSACTEDDB && markFilesForArchive != 0)
                MarkComponentFilesForArchive(component);
        }
    }

    CriticalVolumeList critical;
    if (struct vo_msg *failure = GetCriticalVolumes(critical))
        return failure;
    if (critical.empty()) {
        NoteWriter(*this, Utf8(kAsrWriterName), false, "left out",
                   "No volume is critical, so no ASR component is needed.");
        return nullptr;
    }

    wstr asrName = kAsrWriterName;
    std::shared_ptr<CVssCrWriter> asr;
    if (Checked("GetWriterByName", cr->GetWriterByName(asrName, asr)) != 0 || !asr) {
        // Nothing of the recovery set can be described without it; the rest still goes on.
        NoteWriter(*this, Utf8(kAsrWriterName), false, "left out",
                   "The host has no ASR writer: the disk and volume layout is not part of this backup.");
    } else {
        std::shared_ptr<CVssWriterComp> bcd, asrComponent;
        if (asr->GetCompByName(wstr(W("BCD")), bcd) == 0 && bcd) {
            if (!bcd->notSelectable)
                SelectAndNote(*this, *asr, bcd, "", "The boot configuration store, needed to start the recovered host.");
            else
                LeaveOut(*this, *asr, *bcd,
                         "Its volume has no GUID name; the writer backs the boot store up with itself.");
        }
        if (asr->GetCompByName(wstr(W("ASR")), asrComponent) == 0 && asrComponent)
            SelectAndNote(*this, *asr, asrComponent, "", "The recovery description of the host, always taken.");

        CVssWriterCompList asrComponents;
        asr->GetAllComponents(asrComponents);
        for (const std::shared_ptr<CVssWriterComp> &component : asrComponents) {
            if (component->GetLogicalPath() == W("Disks")) {
                SelectAndNote(*this, *asr, component, "", "Every disk's layout is taken for the recovery.");
                continue;
            }
            if (component->GetLogicalPath() != W("Volumes"))
                continue;
            const tv_str guid(component->GetName().c_str());
            bool selected = false, onlyBootStore = false;
            for (const std::shared_ptr<CVssVolSnapShotMap> &entry : critical) {
                const bool holds = entry->volumeGuidName.contains(guid);
                if ((entry->flags & VOLSNAP_BCD) != 0) {
                    onlyBootStore = onlyBootStore || holds;
                    continue;
                }
                if ((entry->flags & VOLSNAP_CRITICAL) != 0 && holds) {
                    selected = SelectAndNote(*this, *asr, component, entry->volume.get_utf8(),
                                             std::string("Its volume ") + entry->volume.get_utf8() + " is critical.") ||
                               selected;
                }
            }
            if (!selected)
                LeaveOut(*this, *asr, *component,
                         onlyBootStore ? "Its volume is in the set only as the boot store's volume, not as critical."
                                       : "Its volume is not critical.");
        }
    }

    if (saveType == 0)
        msg_free(SelectSystemState());

    // Parents of mount points and the rest of a dynamic pack join the snapshot set.
    const VolSnapMapList copy = volSnapMap;
    for (const std::shared_ptr<CVssVolSnapShotMap> &entry : copy) {
        if ((entry->flags & (VOLSNAP_DYNAMIC_PACK | VOLSNAP_MOUNT_PARENT)) == 0)
            continue;
        const WCHAR *volume = entry->volume;
        wstr name = volume != nullptr ? wstr(volume) : wstr();
        Checked("AddVolToSnapset", cr->AddVolToSnapset(name), name);
    }
    return nullptr;
}

struct vo_msg *CVssSysReqBackup::SelectSystemState()
{
    if (cr == nullptr)
        return nullptr;
    if (cr->snapshotMountPoints.empty()) {
        if (TraceDetail())
            debugprintf("VSS .. no volume in the snapshot set; no system-state component is selected.\n");
        return nullptr;
    }
    const CVssCrWriterList writers = GetSystemStateWriters();
    if (writers.empty())
        return nullptr;
    const bool servicesFilesUserDefined = syswriter_win32_sys_sercomp_userdef() != 0;

    for (const std::shared_ptr<CVssCrWriter> &writer : writers) {
        const std::string writerName = Utf8(writer->GetName());
        CVssWriterCompList components;
        writer->GetAllComponents(components);
        for (const std::shared_ptr<CVssWriterComp> &component : components) {
            if (writer->usageType != VSS_UT_USERDATA) {
                if (servicesFilesUserDefined && SameIgnoringCase(writerName.c_str(), kSystemWriterName) &&
                    SameIgnoringCase(Utf8(component->GetName()).c_str(), kServiceFilesComponent)) {
                    if (TraceDetail())
                        debugprintf("The Save Operations option VSS:TLV_SYS_WRITER_WIN32_SERVCOMP_USER=yes is set and "
                                    "will be honored on this OS platform.\n");
                    LeaveOut(*this, *writer, *component,
                             "The save option VSS:TLV_SYS_WRITER_WIN32_SERVCOMP_USER=yes leaves the service files "
                             "to the user's own save set.");
                    continue;
                }
                // Flags-0 components of a recovery backup were taken by the recovery pass.
                if (saveType == 0 && component->componentFlags == 0)
                    continue;
                if (saveType != 0 && saveType != 2) {
                    LeaveOut(*this, *writer, *component,
                             "Save type " + std::to_string(saveType) + " takes no system-state component here.");
                    continue;
                }
            } else if (!IsComponentSupported(writer, component)) {
                LeaveOut(*this, *writer, *component,
                         std::string("A promoted writer: ") + PolicyName(promotePolicies, writer->writerId) +
                             " does not take this component.");
                continue;
            }

            CVssMountPointList volumes;
            const long listed = Checked("GetVolumeList", component->GetVolumeList(volumes));
            std::string searched;
            bool selected = false;
            for (const std::shared_ptr<CVssMountPoint> &volume : volumes) {
                if (!volume)
                    continue;
                if (FindInMap(volSnapMap, volume->volumePath) != nullptr) {
                    const std::string name = Utf8(volume->volumePath);
                    selected = true;
                    std::string why = "Its volume " + name + " is in the snapshot set";
                    if (writer->usageType == VSS_UT_USERDATA)
                        why += std::string(", and ") + PolicyName(promotePolicies, writer->writerId) +
                               " takes this component.";
                    else if (saveType == 2)
                        why += ", and a system-state backup takes every component of a system-state writer there "
                               "(flags " + Hex(component->componentFlags) + ").";
                    else
                        why += ", and the recovery backup takes the components with flags other than 0 there (flags " +
                               Hex(component->componentFlags) + ").";
                    if (SelectAndNote(*this, *writer, component, name, why)) {
                        if (writer->sourceType == VSS_ST_TRANSACTEDDB && markFilesForArchive != 0)
                            MarkComponentFilesForArchive(component);
                    }
                    break;
                }
                searched += (searched.empty() ? "" : ", ") + Utf8(volume->volumePath);
            }
            if (selected)
                continue;
            if (listed != 0)
                LeaveOut(*this, *writer, *component,
                         "Its volumes could not be found (" + Hex(static_cast<unsigned>(listed)) + ").");
            else if (searched.empty())
                LeaveOut(*this, *writer, *component, "It names no volume.");
            else
                LeaveOut(*this, *writer, *component, "None of its volumes (" + searched + ") is in the snapshot set.");
        }
    }
    return nullptr;
}

// ---- the writer check ----

bool CVssSysReqBackup::IsWriterPresentAndSupported(const tv_str &name)
{
    msg_free(Init(1, 0, tv_str()));
    if (cr == nullptr)
        return false;
    const WCHAR *wide = name;
    wstr writerName = wide != nullptr ? wstr(wide) : wstr();
    std::shared_ptr<CVssCrWriter> writer;
    if (cr->GetWriterByName(writerName, writer) != 0 || !writer)
        return false;
    const tv_str id(cr->WriterGUIDtoStr(writer->writerId).c_str());
    return IsWriterSupported(static_cast<const char *>(id));
}

extern "C" int vsscr_is_save_supported(int saveType)
{
    CVssSysReqBackup &requester = BackupRequester();
    msg_free(requester.Init(1, 0, tv_str()));
    struct vo_msg *missing = nullptr;
    if (saveType == 4) {
        if (!requester.IsWriterPresentAndSupported(tv_str(W("DFS Replication service writer"))) &&
            !requester.IsWriterPresentAndSupported(tv_str(W("FRS Writer"))))
            missing = msg_create(98265, kCodeWriterMissing,
                                 "The VSS DFSR or FSR Writer is not found on this system. The backup in progress "
                                 "requires one of these VSS Writers so the backup will not continue. Have a system "
                                 "administrator check the VSS infrastructure for DFRS or FRS configuration "
                                 "problems.\n");
    } else if (saveType == 0 || saveType == 1) {
        if (!requester.IsWriterPresentAndSupported(tv_str(W("System Writer"))))
            missing = msg_create(98266, kCodeWriterMissing,
                                 "The VSS System Writer is not found on this system.  The backup is stopping because "
                                 "the System Writer is required for a successful system state backup.  Have the "
                                 "system administrator check the VSS infrastructure and fix the issue.\n");
    }
    if (missing == nullptr)
        return 1;
    // The answer is the caller's only signal; the text goes to the debug log.
    if (TraceFailures())
        debugprintf("%s", msg_text(missing));
    msg_free(missing);
    return 0;
}
