// The backup-components object at the end of a backup: completion, abort, and the
// deletion of snapshots.
#include "backupcomponents.h"

namespace winsim {
namespace vss {

STDMETHODIMP BackupComponents::BackupComplete(IVssAsync **async)
{
    if (!async)
        return E_INVALIDARG;
    *async = nullptr;
    if (mode_ != Mode::Backup || !snapshotsMade_ || completed_)
        return VSS_E_BAD_STATE;
    HRESULT hr;
    if (OperationFault("IVssBackupComponents::BackupComplete", &hr))
        return Finish(hr, async);
    completed_ = true;
    if (!(document_.context & VSS_VOLSNAP_ATTR_NO_WRITERS))
        WritersEnter("IVssBackupComponents::BackupComplete", VSS_WS_FAILED_AT_BACKUP_COMPLETE, VSS_WS_STABLE);
    return Finish(S_OK, async);
}

STDMETHODIMP BackupComponents::AbortBackup()
{
    if (mode_ != Mode::Backup)
        return VSS_E_BAD_STATE;
    if (snapshotsMade_)
        RemoveSnapshots(document_.snapshotSetId, true);
    snapshotsMade_ = false;
    setStarted_ = false;
    planned_.clear();
    for (WriterStatus &status : statuses_)
        if (!IsFailedState(status.state))
            status.state = VSS_WS_STABLE;
    return S_OK;
}

STDMETHODIMP BackupComponents::DeleteSnapshots(VSS_ID sourceId, VSS_OBJECT_TYPE type, WINBOOL, LONG *deleted,
                                               VSS_ID *nondeleted)
{
    HRESULT hr;
    if (OperationFault("IVssBackupComponents::DeleteSnapshots", &hr))
        return hr;
    if (!deleted || !nondeleted)
        return E_INVALIDARG;
    *deleted = 0;
    *nondeleted = GUID_NULL;
    if (mode_ == Mode::None)
        return VSS_E_BAD_STATE;
    if (type != VSS_OBJECT_SNAPSHOT_SET && type != VSS_OBJECT_SNAPSHOT)
        return E_INVALIDARG;
    const LONG count = RemoveSnapshots(sourceId, type == VSS_OBJECT_SNAPSHOT_SET);
    if (count == 0)
        return VSS_E_OBJECT_NOT_FOUND;
    *deleted = count;
    return S_OK;
}

} // namespace vss
} // namespace winsim
