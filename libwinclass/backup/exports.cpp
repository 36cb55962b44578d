// The exported functions of the backup session. Each works on the process's one backup
// requester object.
#include <libwinclass/backup.h>

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
        requester.cr->BackupComplete(false);
    return nullptr;
}

void vsscr_destroy_snapshot_set(void)
{
    CVssSysReqBackup &requester = BackupRequester();
    if (requester.cr != nullptr)
        requester.cr->DeleteSnapshotSet();
    set_shadow_callbacks(nullptr, nullptr, nullptr);
    requester.Reset();
}

void vsscr_uninit_backup(void)
{
    BackupRequester().Reset();
    set_shadow_callbacks(nullptr, nullptr, nullptr);
}

void vsscr_free_writercomponent_struct(void *) {}

} // extern "C"
