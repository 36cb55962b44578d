// The backup-components object as a session: its making and end, its set-up and state,
// the calls the simulation does not make, and the service entry that creates it.
#include "backupcomponents.h"

#include "../src/internal.h"

#include <algorithm>
#include <chrono>

namespace winsim {
namespace vss {

namespace {

const LONG kKnownContexts[] = {VSS_CTX_BACKUP,       VSS_CTX_FILE_SHARE_BACKUP, VSS_CTX_NAS_ROLLBACK,
                               VSS_CTX_APP_ROLLBACK, VSS_CTX_CLIENT_ACCESSIBLE, VSS_CTX_CLIENT_ACCESSIBLE_WRITERS};

} // namespace

BackupComponents::BackupComponents()
{
    UuidCreate(&sessionId_);
    // 100-nanosecond intervals since 1601, as FILETIME counts.
    const auto sinceUnixEpoch = std::chrono::system_clock::now().time_since_epoch();
    createdAt_ = std::chrono::duration_cast<std::chrono::microseconds>(sinceUnixEpoch).count() * 10 +
                 11644473600LL * 10000000LL;
}

BackupComponents::~BackupComponents()
{
    // Snapshots of a context without VSS_VOLSNAP_ATTR_NO_AUTO_RELEASE live only as
    // long as the object that made them.
    if (snapshotsMade_ && !(document_.context & VSS_VOLSNAP_ATTR_NO_AUTO_RELEASE))
        RemoveSnapshots(document_.snapshotSetId, true);
}

STDMETHODIMP BackupComponents::InitializeForBackup(BSTR xml)
{
    HRESULT hr;
    if (OperationFault("IVssBackupComponents::InitializeForBackup", &hr))
        return hr;
    if (mode_ != Mode::None)
        return VSS_E_BAD_STATE;
    if (xml) {
        // Only the import of transportable snapshots passes a document here.
        LogNotImplemented("IVssBackupComponents::InitializeForBackup", "a document (transportable snapshots)");
        return E_NOTIMPL;
    }
    mode_ = Mode::Backup;
    return S_OK;
}

STDMETHODIMP BackupComponents::InitializeForRestore(BSTR xml)
{
    HRESULT hr;
    if (OperationFault("IVssBackupComponents::InitializeForRestore", &hr))
        return hr;
    if (mode_ != Mode::None)
        return VSS_E_BAD_STATE;
    if (!xml)
        return E_INVALIDARG;
    Document loaded;
    if (!DocumentFromXml(Narrow(text(xml, SysStringLen(xml))), &loaded))
        return VSS_E_INVALID_XML_DOCUMENT;
    document_ = std::move(loaded);
    mode_ = Mode::Restore;
    Record("InitializeForRestore", ComponentKey());
    return S_OK;
}

STDMETHODIMP BackupComponents::SetContext(LONG context)
{
    HRESULT hr;
    if (OperationFault("IVssBackupComponents::SetContext", &hr))
        return hr;
    if (mode_ != Mode::Backup || setStarted_ || contextSet_)
        return VSS_E_BAD_STATE;
    // The known contexts, optionally made transportable.
    const LONG base = context & ~LONG(VSS_VOLSNAP_ATTR_TRANSPORTABLE);
    if (std::find(std::begin(kKnownContexts), std::end(kKnownContexts), base) == std::end(kKnownContexts))
        return E_INVALIDARG;
    document_.context = context;
    contextSet_ = true;
    return S_OK;
}

STDMETHODIMP BackupComponents::SetBackupState(boolean selectComponents, boolean bootableSystemState,
                                              VSS_BACKUP_TYPE backupType, boolean partialFileSupport)
{
    HRESULT hr;
    if (OperationFault("IVssBackupComponents::SetBackupState", &hr))
        return hr;
    if (mode_ != Mode::Backup || prepared_)
        return VSS_E_BAD_STATE;
    if (backupType < VSS_BT_FULL || backupType > VSS_BT_OTHER)
        return E_INVALIDARG;
    document_.selectComponents = selectComponents;
    document_.bootableSystemState = bootableSystemState;
    document_.backupType = backupType;
    document_.partialFileSupport = partialFileSupport;
    return S_OK;
}

STDMETHODIMP BackupComponents::SetRestoreState(VSS_RESTORE_TYPE restoreType)
{
    HRESULT faultHr;
    if (OperationFault("IVssBackupComponents::SetRestoreState", &faultHr))
        return faultHr;
    if (mode_ != Mode::Restore)
        return VSS_E_BAD_STATE;
    if (restoreType < VSS_RTYPE_BY_COPY || restoreType > VSS_RTYPE_OTHER)
        return E_INVALIDARG;
    restoreType_ = restoreType;
    return S_OK;
}

STDMETHODIMP BackupComponents::GetSessionId(VSS_ID *sessionId)
{
    if (!sessionId)
        return E_INVALIDARG;
    *sessionId = sessionId_;
    return S_OK;
}

HRESULT BackupComponents::NotImplemented(const char *method)
{
    LogNotImplemented(method, "this call");
    return E_NOTIMPL;
}

HRESULT BackupComponents::Finish(HRESULT result, IVssAsync **async)
{
    *async = NewFinishedAsync(result);
    return S_OK;
}

void BackupComponents::Record(const char *operation, const ComponentKey &key, const text &text1, const text &text2,
                              const text &text3, bool flag)
{
    VssRequest request;
    request.operation = operation;
    request.writerId = key.writerId;
    request.componentType = key.type;
    request.logicalPath = key.logicalPath;
    request.componentName = key.name;
    request.text = text1;
    request.text2 = text2;
    request.text3 = text3;
    request.flag = flag;
    RecordRequest(request);
}

STDMETHODIMP BackupComponents::ImportSnapshots(IVssAsync **async)
{
    if (async)
        *async = nullptr;
    return NotImplemented("IVssBackupComponents::ImportSnapshots");
}

STDMETHODIMP BackupComponents::Query(VSS_ID, VSS_OBJECT_TYPE, VSS_OBJECT_TYPE, IVssEnumObject **enumerator)
{
    if (enumerator)
        *enumerator = nullptr;
    return NotImplemented("IVssBackupComponents::Query");
}

STDMETHODIMP BackupComponents::DisableWriterClasses(const VSS_ID *, UINT)
{
    return NotImplemented("IVssBackupComponents::DisableWriterClasses");
}

STDMETHODIMP BackupComponents::EnableWriterClasses(const VSS_ID *, UINT)
{
    return NotImplemented("IVssBackupComponents::EnableWriterClasses");
}

STDMETHODIMP BackupComponents::DisableWriterInstances(const VSS_ID *, UINT)
{
    return NotImplemented("IVssBackupComponents::DisableWriterInstances");
}

STDMETHODIMP BackupComponents::ExposeSnapshot(VSS_ID, VSS_PWSZ, LONG, VSS_PWSZ, VSS_PWSZ *exposed)
{
    if (exposed)
        *exposed = nullptr;
    return NotImplemented("IVssBackupComponents::ExposeSnapshot");
}

STDMETHODIMP BackupComponents::RevertToSnapshot(VSS_ID, WINBOOL)
{
    return NotImplemented("IVssBackupComponents::RevertToSnapshot");
}

STDMETHODIMP BackupComponents::QueryRevertStatus(VSS_PWSZ, IVssAsync **async)
{
    if (async)
        *async = nullptr;
    return NotImplemented("IVssBackupComponents::QueryRevertStatus");
}

STDMETHODIMP BackupComponents::SetRollForward(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, VSS_ROLLFORWARD_TYPE,
                                              LPCWSTR)
{
    return NotImplemented("IVssBackupComponentsEx2::SetRollForward");
}

STDMETHODIMP BackupComponents::SetRestoreName(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR)
{
    return NotImplemented("IVssBackupComponentsEx2::SetRestoreName");
}

STDMETHODIMP BackupComponents::BreakSnapshotSetEx(VSS_ID, DWORD, IVssAsync **async)
{
    if (async)
        *async = nullptr;
    return NotImplemented("IVssBackupComponentsEx2::BreakSnapshotSetEx");
}

STDMETHODIMP BackupComponents::PreFastRecovery(VSS_ID, DWORD, IVssAsync **async)
{
    if (async)
        *async = nullptr;
    return NotImplemented("IVssBackupComponentsEx2::PreFastRecovery");
}

STDMETHODIMP BackupComponents::FastRecovery(VSS_ID, DWORD, IVssAsync **async)
{
    if (async)
        *async = nullptr;
    return NotImplemented("IVssBackupComponentsEx2::FastRecovery");
}

STDMETHODIMP BackupComponents::AddSnapshotToRecoverySet(VSS_ID, DWORD, VSS_PWSZ)
{
    return NotImplemented("IVssBackupComponentsEx3::AddSnapshotToRecoverySet");
}

STDMETHODIMP BackupComponents::RecoverSet(DWORD, IVssAsync **async)
{
    if (async)
        *async = nullptr;
    return NotImplemented("IVssBackupComponentsEx3::RecoverSet");
}

} // namespace vss
} // namespace winsim

EXTERN_C HRESULT CreateVssBackupComponentsInternal(IVssBackupComponents **ppBackup)
{
    if (!ppBackup)
        return E_INVALIDARG;
    *ppBackup = nullptr;
    HRESULT hr;
    if (winsim::vss::OperationFault("CreateVssBackupComponents", &hr))
        return hr;
    *ppBackup = new winsim::vss::BackupComponents;
    return S_OK;
}
