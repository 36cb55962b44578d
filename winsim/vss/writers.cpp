// The backup-components object and its writers: gathering metadata and status, the
// components a backup names, and the writer states each step moves them through.
#include "backupcomponents.h"

namespace winsim {
namespace vss {

STDMETHODIMP BackupComponents::GatherWriterMetadata(IVssAsync **async)
{
    if (!async)
        return E_INVALIDARG;
    *async = nullptr;
    // The SDK allows one gathering per object.
    if (mode_ == Mode::None || gathered_)
        return VSS_E_BAD_STATE;
    HRESULT hr;
    if (OperationFault("IVssBackupComponents::GatherWriterMetadata", &hr))
        return Finish(hr, async);
    std::vector<VssWriterModel> writers;
    if (!CurrentWriters(&writers))
        return Finish(VSS_E_UNEXPECTED, async);
    gathered_ = true;
    statuses_.clear();
    metadata_.clear();
    for (const VssWriterModel &writer : writers) {
        WriterStatus status;
        status.instanceId = writer.instanceId;
        status.writerId = writer.id;
        status.name = writer.name;
        status.state = VSS_WRITER_STATE(writer.state);
        status.failure = writer.lastError;
        status.failsAt = writer.failsAt;
        status.failsWith = writer.failsWith;
        if (WriterFails(status, "IVssBackupComponents::GatherWriterMetadata", &hr)) {
            status.state = VSS_WS_FAILED_AT_IDENTIFY;
            status.failure = hr;
        }
        // A writer that failed to identify itself has no metadata to give.
        if (status.state != VSS_WS_FAILED_AT_IDENTIFY)
            metadata_.push_back(writer);
        statuses_.push_back(status);
    }
    return Finish(S_OK, async);
}

STDMETHODIMP BackupComponents::GetWriterMetadataCount(UINT *count)
{
    HRESULT faultHr;
    if (OperationFault("IVssBackupComponents::GetWriterMetadataCount", &faultHr))
        return faultHr;
    if (!count)
        return E_INVALIDARG;
    if (!gathered_)
        return VSS_E_BAD_STATE;
    *count = metadataFreed_ ? 0 : UINT(metadata_.size());
    return S_OK;
}

STDMETHODIMP BackupComponents::GetWriterMetadata(UINT index, VSS_ID *instanceId, IVssExamineWriterMetadata **metadata)
{
    // One object answers both interfaces; the extended call does the work.
    if (!instanceId || !metadata)
        return E_INVALIDARG;
    IVssExamineWriterMetadataEx *extended = nullptr;
    const HRESULT hr = GetWriterMetadataEx(index, instanceId, &extended);
    *metadata = extended;
    return hr;
}

STDMETHODIMP BackupComponents::GetWriterMetadataEx(UINT index, VSS_ID *instanceId,
                                                   IVssExamineWriterMetadataEx **metadata)
{
    HRESULT faultHr;
    if (OperationFault("IVssBackupComponents::GetWriterMetadataEx", &faultHr))
        return faultHr;
    if (!instanceId || !metadata)
        return E_INVALIDARG;
    *metadata = nullptr;
    if (!gathered_)
        return VSS_E_BAD_STATE;
    if (metadataFreed_ || index >= metadata_.size())
        return E_INVALIDARG;
    *instanceId = metadata_[index].instanceId;
    *metadata = NewExamineWriterMetadata(metadata_[index]);
    return S_OK;
}

STDMETHODIMP BackupComponents::FreeWriterMetadata()
{
    if (!gathered_)
        return VSS_E_BAD_STATE;
    // The components added so far keep what they need; only the copies go.
    metadataFreed_ = true;
    return S_OK;
}

STDMETHODIMP BackupComponents::GatherWriterStatus(IVssAsync **async)
{
    if (!async)
        return E_INVALIDARG;
    *async = nullptr;
    if (!gathered_)
        return VSS_E_BAD_STATE;
    HRESULT hr;
    if (OperationFault("IVssBackupComponents::GatherWriterStatus", &hr))
        return Finish(hr, async);
    reportedStatuses_ = statuses_;
    statusGathered_ = true;
    return Finish(S_OK, async);
}

STDMETHODIMP BackupComponents::GetWriterStatusCount(UINT *count)
{
    HRESULT faultHr;
    if (OperationFault("IVssBackupComponents::GetWriterStatusCount", &faultHr))
        return faultHr;
    if (!count)
        return E_INVALIDARG;
    if (!statusGathered_)
        return VSS_E_BAD_STATE;
    *count = UINT(reportedStatuses_.size());
    return S_OK;
}

STDMETHODIMP BackupComponents::FreeWriterStatus()
{
    reportedStatuses_.clear();
    statusGathered_ = false;
    return S_OK;
}

STDMETHODIMP BackupComponents::GetWriterStatus(UINT index, VSS_ID *instanceId, VSS_ID *writerId, BSTR *name,
                                               VSS_WRITER_STATE *state, HRESULT *failure)
{
    HRESULT faultHr;
    if (OperationFault("IVssBackupComponents::GetWriterStatus", &faultHr))
        return faultHr;
    if (!instanceId || !writerId || !name || !state || !failure)
        return E_INVALIDARG;
    if (!statusGathered_)
        return VSS_E_BAD_STATE;
    if (index >= reportedStatuses_.size())
        return E_INVALIDARG;
    const WriterStatus &status = reportedStatuses_[index];
    *instanceId = status.instanceId;
    *writerId = status.writerId;
    *state = status.state;
    *failure = status.failure;
    return PutBstr(status.name, name);
}

STDMETHODIMP BackupComponents::GetWriterStatusEx(UINT index, VSS_ID *instanceId, VSS_ID *writerId, BSTR *name,
                                                 VSS_WRITER_STATE *state, HRESULT *failure, HRESULT *application,
                                                 BSTR *applicationMessage)
{
    const HRESULT hr = GetWriterStatus(index, instanceId, writerId, name, state, failure);
    if (FAILED(hr))
        return hr;
    if (application)
        *application = S_OK;
    if (applicationMessage)
        return PutBstr(u"", applicationMessage);
    return S_OK;
}

STDMETHODIMP BackupComponents::AddComponent(VSS_ID instanceId, VSS_ID writerId, VSS_COMPONENT_TYPE type,
                                            LPCWSTR logicalPath, LPCWSTR name)
{
    HRESULT hr;
    if (OperationFault("IVssBackupComponents::AddComponent", &hr))
        return hr;
    if (!name || !*name)
        return E_INVALIDARG;
    if (mode_ != Mode::Backup || !gathered_ || prepared_)
        return VSS_E_BAD_STATE;
    const ComponentKey key{writerId, int(type), OrEmpty(logicalPath), name};
    const VssWriterModel *writer = nullptr;
    for (const VssWriterModel &candidate : metadata_)
        if (candidate.instanceId == instanceId && candidate.id == writerId)
            writer = &candidate;
    if (!writer)
        return VSS_E_OBJECT_NOT_FOUND;
    const VssComponentModel *described = nullptr;
    for (const VssComponentModel &component : writer->components)
        if (key.Matches(writer->id, component.type, component.logicalPath, component.name))
            described = &component;
    if (!described)
        return VSS_E_OBJECT_NOT_FOUND;
    // A component that is not selectable goes with its writer; it cannot be named.
    if (!described->selectable)
        return E_INVALIDARG;
    DocumentWriter &entry = DocumentWriterFor(*writer);
    for (const DocumentComponent &added : entry.components)
        if (added.key.Matches(writerId, key.type, key.logicalPath, key.name))
            return VSS_E_OBJECT_ALREADY_EXISTS;
    DocumentComponent component;
    component.key = key;
    component.instanceId = instanceId;
    entry.components.push_back(component);
    Record("AddComponent", key);
    return S_OK;
}

STDMETHODIMP BackupComponents::SetBackupSucceeded(VSS_ID instanceId, VSS_ID writerId, VSS_COMPONENT_TYPE type,
                                                  LPCWSTR logicalPath, LPCWSTR name, boolean succeeded)
{
    HRESULT hr;
    if (OperationFault("IVssBackupComponents::SetBackupSucceeded", &hr))
        return hr;
    if (!name)
        return E_INVALIDARG;
    if (mode_ != Mode::Backup)
        return VSS_E_BAD_STATE;
    const ComponentKey key{writerId, int(type), OrEmpty(logicalPath), name};
    DocumentComponent *component = FindDocumentComponent(key);
    if (!component || component->instanceId != instanceId)
        return VSS_E_OBJECT_NOT_FOUND;
    component->backupSucceeded = succeeded;
    Record("SetBackupSucceeded", key, u"", u"", u"", succeeded);
    return S_OK;
}

STDMETHODIMP BackupComponents::SetBackupOptions(VSS_ID writerId, VSS_COMPONENT_TYPE type, LPCWSTR logicalPath,
                                                LPCWSTR name, LPCWSTR options)
{
    HRESULT faultHr;
    if (OperationFault("IVssBackupComponents::SetBackupOptions", &faultHr))
        return faultHr;
    if (!name || !options)
        return E_INVALIDARG;
    if (mode_ != Mode::Backup)
        return VSS_E_BAD_STATE;
    DocumentComponent *component = FindDocumentComponent({writerId, int(type), OrEmpty(logicalPath), name});
    if (!component)
        return VSS_E_OBJECT_NOT_FOUND;
    component->backupOptions = options;
    return S_OK;
}

STDMETHODIMP BackupComponents::SetPreviousBackupStamp(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR)
{
    return NotImplemented("IVssBackupComponents::SetPreviousBackupStamp");
}

void BackupComponents::WritersEnter(const char *method, VSS_WRITER_STATE failedState, VSS_WRITER_STATE next)
{
    for (WriterStatus &status : statuses_) {
        if (IsFailedState(status.state))
            continue;
        HRESULT hr;
        if (WriterFails(status, method, &hr)) {
            status.state = failedState;
            status.failure = hr;
        } else {
            status.state = next;
        }
    }
}

DocumentWriter &BackupComponents::DocumentWriterFor(const VssWriterModel &writer)
{
    for (DocumentWriter &entry : document_.writers)
        if (entry.metadata.instanceId == writer.instanceId)
            return entry;
    document_.writers.push_back({writer, {}});
    return document_.writers.back();
}

DocumentComponent *BackupComponents::FindDocumentComponent(const ComponentKey &key)
{
    for (DocumentWriter &writer : document_.writers)
        for (DocumentComponent &component : writer.components)
            if (component.key.Matches(key.writerId, key.type, key.logicalPath, key.name))
                return &component;
    return nullptr;
}

} // namespace vss
} // namespace winsim
