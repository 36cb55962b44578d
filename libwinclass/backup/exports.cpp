// The exported functions of the backup session. Each works on the process's one backup
// requester object.
#include <libwinclass/backup.h>
#include <libwinclass/explain.h>

#include <libwinclass/backup/sysreq.h>

#include <liblocal/local.h>

namespace {

// Save types as the save program passes them.
constexpr int kSaveTypeDisasterRecovery = 0;
constexpr int kSaveTypeDisasterRecoveryAlt = 1;
constexpr int kSaveTypeSystemState = 2;
constexpr int kSaveTypeReplicatedFolders = 4;

} // namespace

extern "C" {

void vsscr_set_bbb_backup(void) { BackupRequester().bbbBackup = true; }

void vsscr_set_snapshot_save_type(int saveType) { BackupRequester().saveType = saveType; }

struct vo_msg *vsscr_init_backup(int saveType, int markFilesForArchive)
{
    return BackupRequester().Init(saveType, markFilesForArchive, tv_str());
}

struct vo_msg *vsscr_select_for_backup(void)
{
    CVssSysReqBackup &requester = BackupRequester();
    switch (requester.saveType) {
    case kSaveTypeDisasterRecovery:
    case kSaveTypeDisasterRecoveryAlt:
        return requester.SelectForDisasterRecovery();
    case kSaveTypeSystemState:
        return requester.SelectSystemState();
    case kSaveTypeReplicatedFolders: {
        // The replication service's writer where it runs, else the older one's; the
        // first failure is not the caller's concern.
        vo_msg *first = requester.SelectWriterByName(tv_str(W("DFS Replication service writer")));
        if (first == nullptr)
            return nullptr;
        msg_free(first);
        return requester.SelectWriterByName(tv_str(W("FRS Writer")));
    }
    default:
        return nullptr;
    }
}

struct vo_msg *vsscr_backup_complete(void)
{
    CVssSysReqBackup &requester = BackupRequester();
    if (requester.cr != nullptr)
        requester.Checked("BackupComplete", requester.cr->BackupComplete(false));
    return nullptr;
}

void vsscr_destroy_snapshot_set(void)
{
    CVssSysReqBackup &requester = BackupRequester();
    if (requester.cr != nullptr)
        requester.Checked("DeleteSnapshotSet", requester.cr->DeleteSnapshotSet());
    set_shadow_callbacks(nullptr, nullptr, nullptr);
    requester.Reset();
}

void vsscr_uninit_backup(void)
{
    BackupRequester().Reset();
    set_shadow_callbacks(nullptr, nullptr, nullptr);
}

void vsscr_free_writercomponent_struct(void *) {}

uint32_t vsscr_get_last_failure(char *operation, size_t operationSize, WCHAR *volume, size_t volumeSize)
{
    const CVssSysReqBackup::FailedCall &failure = BackupRequester().lastFailure;
    if (operation != nullptr && operationSize != 0)
        vo_strlcpy(operation, failure.operation != nullptr ? failure.operation : "", operationSize);
    if (volume != nullptr && volumeSize != 0)
        vo_wcslcpy(volume, failure.volume.c_str(), volumeSize);
    return static_cast<uint32_t>(failure.result);
}

void vsscr_get_decisions(vsscr_decision_callback callback, void *context)
{
    if (callback == nullptr)
        return;
    // A copy: the callback may start another session, which clears the list.
    const std::vector<CVssSysReqBackup::Decision> decisions = BackupRequester().decisions;
    for (const CVssSysReqBackup::Decision &decision : decisions) {
        const vsscr_decision out = {decision.subject,           decision.taken ? 1 : 0,
                                    decision.writer.c_str(),    decision.component.c_str(),
                                    decision.volume.c_str(),    decision.verdict.c_str(),
                                    decision.reason.c_str()};
        callback(&out, context);
    }
}

} // extern "C"
