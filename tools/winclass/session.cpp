#include "session.h"

#include "paths.h"

#include <libwinclass/backup.h>
#include <libwinclass/explain.h>
#include <libwinclass/conversions.h>
#include <liblocal/local.h>

#include <vsserror.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace winclass {

namespace {

const size_t kPathUnits = 13312;

// The library's message when the supported writer list cannot be made.
const int kWriterListMessage = 153921;

const WCHAR kClientKey[] = W("SOFTWARE\\Tolvane\\Backup Client");
const WCHAR kInstallDirValue[] = W("InstallDir");

struct VallistFree {
    void operator()(vo_vallist *list) const { vallist_free(list); }
};

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};

// "what: cause", or what alone when there is no cause to give.
std::string WithCause(const std::string &what, const std::string &cause)
{
    return cause.empty() ? what : what + ": " + cause;
}

std::string Text(const WCHAR *text) { return text ? Shown(text) : std::string(); }

// Why the supported writer list could not be made: the client's key, its installation
// directory, or the writer list file under it.
std::string WriterListCause()
{
    const std::string keyName = "HKEY_LOCAL_MACHINE\\" + Shown(kClientKey);
    HKEY opened = NULL;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kClientKey, 0, KEY_READ | KEY_WOW64_64KEY, &opened);
    if (status != ERROR_SUCCESS)
        return "the client's registry key " + keyName + " cannot be opened: " + ErrorText(DWORD(status));
    std::unique_ptr<HKEY__, KeyCloser> key(opened);
    DWORD type = 0, size = 0;
    status = RegQueryValueExW(key.get(), kInstallDirValue, NULL, &type, NULL, &size);
    if (status != ERROR_SUCCESS)
        return "the client's registry key " + keyName + " has no value InstallDir: " + ErrorText(DWORD(status));
    std::vector<WCHAR> directory(size / sizeof(WCHAR) + 1, 0);
    status = RegQueryValueExW(key.get(), kInstallDirValue, NULL, &type, reinterpret_cast<BYTE *>(directory.data()),
                              &size);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || directory[0] == 0)
        return "the value InstallDir of " + keyName + " is not a folder name";
    const wstr list = wstr(directory.data()) + W("\\bin\\writerlist.txt");
    // A missing list means the built-in one; only a list that is there and unreadable fails.
    return "the writer list " + Shown(list) + " cannot be read (it holds writer IDs separated by commas)";
}

} // namespace

BackupSession::~BackupSession()
{
    if (started_)
        vsscr_destroy_snapshot_set();
}

std::string BackupSession::LastFailure(std::initializer_list<const char *> operations) const
{
    char operation[64] = "";
    WCHAR volume[MAX_PATH + 1] = {};
    const uint32_t result = vsscr_get_last_failure(operation, sizeof operation, volume, MAX_PATH + 1);
    if (result == 0 || std::none_of(operations.begin(), operations.end(),
                                    [&](const char *name) { return std::strcmp(operation, name) == 0; }))
        return std::string();
    std::string cause = std::string(operation) + " failed";
    if (volume[0] != 0)
        cause += " for " + Shown(volume);
    return cause + ": " + HresultText(long(int32_t(result)));
}

std::string BackupSession::TransientFailure() const
{
    char operation[64] = "";
    WCHAR volume[MAX_PATH + 1] = {};
    const uint32_t result = vsscr_get_last_failure(operation, sizeof operation, volume, MAX_PATH + 1);
    return IsTransientVssError(long(int32_t(result))) ? LastFailure({"AddVolToSnapset", "DoSnapshot"}) : std::string();
}

bool BackupSession::Open(int saveType, bool archiveMark)
{
    started_ = true;
    if (struct vo_msg *failure = vsscr_init_backup(saveType, archiveMark ? 1 : 0)) {
        std::string cause =
            msg_number(failure) == kWriterListMessage ? WriterListCause() : LastFailure({"InitializeForBackup"});
        output_.LibraryMessage(failure, WithCause("starting the backup session", cause));
        return false;
    }
    return true;
}

bool BackupSession::Select()
{
    if (struct vo_msg *failure = vsscr_select_for_backup()) {
        output_.LibraryMessage(failure, "selecting the writers");
        return false;
    }
    return true;
}

bool BackupSession::Start(int saveType)
{
    return Open(saveType) && Select();
}

bool BackupSession::AddSavePath(const wstr &path, const wstr &volume)
{
    std::string utf8;
    if (!WideToUtf8(path, &utf8)) {
        output_.Error(Shown(path) + ": the name holds a lone UTF-16 surrogate, which has no UTF-8 form");
        return false;
    }
    if (struct vo_msg *failure = vsscr_add_savepath(utf8.c_str())) {
        output_.LibraryMessage(failure,
                               WithCause("adding " + utf8 + " to the snapshot set", LastFailure({"AddVolToSnapset"})));
        return false;
    }
    std::vector<VolumeInSet> volumes;
    if (!Volumes(&volumes))
        return false;
    for (const VolumeInSet &member : volumes)
        if (member.volume.size() == volume.size() &&
            std::equal(volume.begin(), volume.end(), member.volume.begin(), [](WCHAR a, WCHAR b) {
                return (a >= 'a' && a <= 'z' ? a - 32 : a) == (b >= 'a' && b <= 'z' ? b - 32 : b);
            }))
            return true;
    const std::string cause = LastFailure({"AddVolToSnapset"});
    output_.Error(WithCause(utf8 + ": its volume " + Shown(volume) + " could not join the snapshot set", cause));
    return false;
}

bool BackupSession::TakeSnapshot()
{
    std::vector<WCHAR> document(kPathUnits, 0);
    GUID setId = {};
    if (struct vo_msg *failure = vsscr_process_snap(document.size(), document.data(), &setId)) {
        output_.LibraryMessage(failure, WithCause("taking the snapshot", LastFailure({"DoSnapshot", "SaveBcdAsXML"})));
        return false;
    }
    snapshotTaken_ = true;
    documentPath_ = document.data();
    snapshotSetId_ = "{" + Shown(guid2str(setId)) + "}";
    std::transform(snapshotSetId_.begin(), snapshotSetId_.end(), snapshotSetId_.begin(),
                   [](char c) { return char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    return true;
}

bool BackupSession::Volumes(std::vector<VolumeInSet> *volumes)
{
    volumes->clear();
    struct vsscr_vol_entry *first = NULL;
    if (struct vo_msg *failure = vsscr_get_snapshot_volume_list(&first)) {
        output_.LibraryMessage(failure);
        return false;
    }
    // The wide fields, converted whole: the UTF-8 ones are cut to the wide length.
    for (const vsscr_vol_entry *entry = first; entry; entry = entry->next) {
        VolumeInSet volume;
        volume.volume = entry->volume ? wstr(entry->volume) : wstr();
        volume.shown = Shown(volume.volume);
        volume.guidName = Text(entry->volume_guid_name);
        volume.shadowPath = Text(entry->shadow_path);
        WCHAR driveRoot[5] = {};
        std::copy(entry->drive_root, entry->drive_root + 4, driveRoot);
        volume.driveRoot = Text(driveRoot);
        volume.flags = entry->flags;
        volume.marked = entry->marked != 0;
        volumes->push_back(volume);
    }
    vsscr_free_vol_list(first);
    return true;
}

bool BackupSession::Map(const wstr &livePath, Mapping *mapping) const
{
    std::vector<WCHAR> volume(kPathUnits, 0), shadow(kPathUnits, 0), driveRoot(8, 0);
    vsscr_get_mapping(livePath.c_str(), volume.data(), volume.size(), shadow.data(), shadow.size(),
                      driveRoot.data(), driveRoot.size());
    mapping->volume = volume.data();
    mapping->shadowRoot = shadow.data();
    mapping->driveRoot = driveRoot.data();
    if (mapping->volume.empty() || mapping->shadowRoot.empty())
        return false;
    // The library hands out the pieces; the caller joins them.
    mapping->shadowPath = mapping->shadowRoot + livePath.substr(std::min(livePath.size(), mapping->volume.size()));
    return true;
}

bool BackupSession::End(bool succeeded)
{
    bool clean = true;
    if (succeeded && snapshotTaken_) {
        if (struct vo_msg *report = vsscr_backup_complete())
            output_.LibraryMessage(report);
        const std::string cause = LastFailure({"BackupComplete"});
        if (!cause.empty()) {
            output_.Warning("the writers were not told that the backup completed: " + cause);
            clean = false;
        }
    }
    vsscr_destroy_snapshot_set();
    started_ = false;
    // Without a snapshot there is nothing to delete, whatever the deletion answers.
    const std::string cause = snapshotTaken_ ? LastFailure({"DeleteSnapshotSet"}) : std::string();
    if (!cause.empty()) {
        output_.Warning("the snapshot set " + snapshotSetId_ + " could not be deleted: " + cause);
        clean = false;
    }
    return clean;
}

bool IsTransientVssError(long hr)
{
    switch (HRESULT(hr)) {
    case VSS_E_SNAPSHOT_SET_IN_PROGRESS:
    case VSS_E_FLUSH_WRITES_TIMEOUT:
    case VSS_E_HOLD_WRITES_TIMEOUT:
    case VSS_E_WRITERERROR_RETRYABLE:
    case VSS_E_WRITERERROR_TIMEOUT:
    case VSS_E_WRITERERROR_OUTOFRESOURCES:
        return true;
    default:
        return false;
    }
}

std::vector<std::pair<std::string, std::string>> SystemStateVolumes()
{
    std::vector<std::pair<std::string, std::string>> volumes;
    vo_vallist *critical = nullptr;
    vsscr_get_dr_critical_volumes(&critical);
    std::unique_ptr<vo_vallist, VallistFree> owner(critical);
    for (const vo_vallist *entry = critical; entry != nullptr; entry = entry->next)
        volumes.emplace_back(entry->value, "critical: a system-state component lives on it");
    if (volumes.empty()) {
        WCHAR drive[MAX_PATH + 1] = {};
        const DWORD length = GetEnvironmentVariableW(W("SystemDrive"), drive, MAX_PATH + 1);
        const std::string root = length > 0 && length <= MAX_PATH ? Shown(drive) + "\\" : std::string("C:\\");
        volumes.emplace_back(root, "the system drive: no volume is critical, and the system state is on it");
    }
    return volumes;
}

std::string HostName()
{
    WCHAR name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(name, &size) ? Shown(wstr(name, size)) : std::string();
}

std::vector<Decision> ReadDecisions(int subject)
{
    struct Reading {
        int subject;
        std::vector<Decision> decisions;
    } reading{subject, {}};
    vsscr_get_decisions(
        [](const vsscr_decision *d, void *context) {
            Reading &r = *static_cast<Reading *>(context);
            if (r.subject == 0 || d->subject == r.subject)
                r.decisions.push_back({d->subject, d->taken != 0, d->writer, d->component, d->volume, d->verdict,
                                       d->reason});
        },
        &reading);
    return reading.decisions;
}

} // namespace winclass
