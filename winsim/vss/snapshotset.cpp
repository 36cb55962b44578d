// The backup-components object and its snapshot set: the volumes VSS accepts, the set
// made whole or not at all, and the properties of what was made.
#include "backupcomponents.h"

#include "winsim/shadow.h"

namespace winsim {
namespace vss {

// The provider every simulated snapshot comes from (the system's software provider).
extern const GUID kSystemProviderId = {0xb5946137, 0x7b9f, 0x4925, {0xaf, 0x80, 0x51, 0xab, 0xd6, 0x0b, 0x20, 0xd5}};

namespace {

text HostMachineName()
{
    const Host &host = CurrentHost();
    return host.domain.empty() ? host.hostName : host.hostName + u"." + host.domain;
}

} // namespace

const Volume *FindVolumeRoot(const text &name)
{
    for (const Volume &volume : CurrentHost().volumes) {
        if (SameText(volume.guidPath, name))
            return &volume;
        for (const text &root : volume.RootPaths())
            if (SameText(root, name))
                return &volume;
    }
    return nullptr;
}

bool ShadowCopiesSupported(const Volume &volume)
{
    return volume.kind == DriveKind::Fixed &&
           (SameText(volume.fileSystem, u"NTFS") || SameText(volume.fileSystem, u"ReFS") ||
            SameText(volume.fileSystem, u"CSVFS"));
}

STDMETHODIMP BackupComponents::StartSnapshotSet(VSS_ID *snapshotSetId)
{
    HRESULT hr;
    if (OperationFault("IVssBackupComponents::StartSnapshotSet", &hr))
        return hr;
    if (!snapshotSetId)
        return E_INVALIDARG;
    if (mode_ != Mode::Backup)
        return VSS_E_BAD_STATE;
    if (setStarted_ && !snapshotsMade_)
        return VSS_E_SNAPSHOT_SET_IN_PROGRESS;
    if (snapshotsMade_)
        return VSS_E_BAD_STATE;
    // Contexts with writers need their metadata first.
    if (!(document_.context & VSS_VOLSNAP_ATTR_NO_WRITERS) && !gathered_)
        return VSS_E_BAD_STATE;
    UuidCreate(&document_.snapshotSetId);
    setStarted_ = true;
    *snapshotSetId = document_.snapshotSetId;
    return S_OK;
}

STDMETHODIMP BackupComponents::AddToSnapshotSet(VSS_PWSZ volumeName, VSS_ID providerId, VSS_ID *snapshotId)
{
    if (!volumeName || !snapshotId)
        return E_INVALIDARG;
    *snapshotId = GUID_NULL;
    if (!setStarted_ || snapshotsMade_)
        return VSS_E_BAD_STATE;
    const text asGiven = volumeName;
    HRESULT hr;
    if (OperationFault("IVssBackupComponents::AddToSnapshotSet", &hr) ||
        SubjectFault("IVssBackupComponents::AddToSnapshotSet", asGiven, &hr))
        return hr;
    if (providerId != GUID_NULL && providerId != kSystemProviderId)
        return VSS_E_PROVIDER_NOT_REGISTERED;
    const Volume *volume = FindVolumeRoot(asGiven);
    // A path that is not a volume root, or a volume that is offline, is no volume VSS knows.
    if (!volume || volume->offline)
        return VSS_E_OBJECT_NOT_FOUND;
    if (!ShadowCopiesSupported(*volume))
        return VSS_E_VOLUME_NOT_SUPPORTED;
    for (const PlannedSnapshot &planned : planned_)
        if (SameText(planned.volumeGuidPath, volume->guidPath))
            return VSS_E_OBJECT_ALREADY_EXISTS;
    if (planned_.size() >= 64)
        return VSS_E_MAXIMUM_NUMBER_OF_VOLUMES_REACHED;
    PlannedSnapshot planned;
    UuidCreate(&planned.snapshotId);
    planned.volumeGuidPath = volume->guidPath;
    planned.asGiven = asGiven;
    planned_.push_back(planned);
    *snapshotId = planned.snapshotId;
    return S_OK;
}

STDMETHODIMP BackupComponents::PrepareForBackup(IVssAsync **async)
{
    if (!async)
        return E_INVALIDARG;
    *async = nullptr;
    if (mode_ != Mode::Backup || !gathered_ || prepared_)
        return VSS_E_BAD_STATE;
    HRESULT hr;
    if (OperationFault("IVssBackupComponents::PrepareForBackup", &hr))
        return Finish(hr, async);
    prepared_ = true;
    WritersEnter("IVssBackupComponents::PrepareForBackup", VSS_WS_FAILED_AT_PREPARE_BACKUP, VSS_WS_STABLE);
    return Finish(S_OK, async);
}

STDMETHODIMP BackupComponents::DoSnapshotSet(IVssAsync **async)
{
    if (!async)
        return E_INVALIDARG;
    *async = nullptr;
    const bool withWriters = !(document_.context & VSS_VOLSNAP_ATTR_NO_WRITERS);
    if (!setStarted_ || snapshotsMade_ || planned_.empty() || (withWriters && !prepared_))
        return VSS_E_BAD_STATE;
    HRESULT hr;
    if (OperationFault("IVssBackupComponents::DoSnapshotSet", &hr))
        return Finish(hr, async);
    for (const PlannedSnapshot &planned : planned_)
        if (SubjectFault("IVssBackupComponents::DoSnapshotSet", planned.asGiven, &hr))
            return Finish(hr, async);
    std::vector<VssSnapshotInfo> made;
    for (const PlannedSnapshot &planned : planned_) {
        VssSnapshotInfo snapshot;
        snapshot.snapshotId = planned.snapshotId;
        snapshot.snapshotSetId = document_.snapshotSetId;
        snapshot.originalVolume = planned.volumeGuidPath;
        snapshot.context = document_.context;
        const DWORD error = CreateShadowCopy(planned.volumeGuidPath, &snapshot.device);
        if (error != ERROR_SUCCESS) {
            // The set is made whole or not at all.
            for (const VssSnapshotInfo &undo : made)
                DeleteShadowCopy(undo.device);
            return Finish(error == ERROR_NOT_READY ? VSS_E_OBJECT_NOT_FOUND : VSS_E_UNEXPECTED_PROVIDER_ERROR,
                          async);
        }
        made.push_back(snapshot);
    }
    for (const VssSnapshotInfo &snapshot : made)
        AddSnapshot(snapshot);
    document_.snapshots = made;
    snapshotsMade_ = true;
    if (withWriters)
        WritersEnter("IVssBackupComponents::DoSnapshotSet", VSS_WS_FAILED_AT_FREEZE,
                     VSS_WS_WAITING_FOR_BACKUP_COMPLETE);
    return Finish(S_OK, async);
}

STDMETHODIMP BackupComponents::GetSnapshotProperties(VSS_ID snapshotId, VSS_SNAPSHOT_PROP *prop)
{
    HRESULT hr;
    if (OperationFault("IVssBackupComponents::GetSnapshotProperties", &hr))
        return hr;
    if (!prop)
        return E_INVALIDARG;
    if (mode_ == Mode::None)
        return VSS_E_BAD_STATE;
    VssSnapshotInfo snapshot;
    if (!FindSnapshot(snapshotId, &snapshot))
        return VSS_E_OBJECT_NOT_FOUND;
    *prop = VSS_SNAPSHOT_PROP{};
    prop->m_SnapshotId = snapshot.snapshotId;
    prop->m_SnapshotSetId = snapshot.snapshotSetId;
    LONG inSet = 0;
    for (const VssSnapshotInfo &other : VssSnapshots())
        inSet += other.snapshotSetId == snapshot.snapshotSetId;
    prop->m_lSnapshotsCount = inSet;
    prop->m_pwszSnapshotDeviceObject = TaskMemCopy(snapshot.device);
    prop->m_pwszOriginalVolumeName = TaskMemCopy(snapshot.originalVolume);
    prop->m_pwszOriginatingMachine = TaskMemCopy(HostMachineName());
    prop->m_pwszServiceMachine = TaskMemCopy(HostMachineName());
    if (!prop->m_pwszSnapshotDeviceObject || !prop->m_pwszOriginalVolumeName || !prop->m_pwszOriginatingMachine ||
        !prop->m_pwszServiceMachine) {
        VssFreeSnapshotProperties(prop);
        return E_OUTOFMEMORY;
    }
    prop->m_ProviderId = kSystemProviderId;
    prop->m_lSnapshotAttributes = snapshot.context | VSS_VOLSNAP_ATTR_DIFFERENTIAL;
    prop->m_tsCreationTimestamp = createdAt_;
    prop->m_eStatus = VSS_SS_CREATED;
    return S_OK;
}

STDMETHODIMP BackupComponents::IsVolumeSupported(VSS_ID providerId, VSS_PWSZ volumeName, WINBOOL *supported)
{
    HRESULT faultHr;
    if (OperationFault("IVssBackupComponents::IsVolumeSupported", &faultHr))
        return faultHr;
    if (!volumeName || !supported)
        return E_INVALIDARG;
    *supported = FALSE;
    if (providerId != GUID_NULL && providerId != kSystemProviderId)
        return VSS_E_PROVIDER_NOT_REGISTERED;
    const Volume *volume = FindVolumeRoot(volumeName);
    if (!volume || volume->offline)
        return VSS_E_OBJECT_NOT_FOUND;
    *supported = ShadowCopiesSupported(*volume);
    return S_OK;
}

} // namespace vss
} // namespace winsim
