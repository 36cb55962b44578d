// The backup-components object in a restore: the document's components as the writers
// see them, what the requester selects and maps, and the restore steps.
#include "backupcomponents.h"

#include "../src/internal.h"

namespace winsim {
namespace vss {

namespace {

// ---- IVssComponent over a document component (restore side) ----

class RestoreComponent final : public IVssComponentEx2, public RefCounted {
public:
    explicit RestoreComponent(const DocumentComponent &component, int restoreTarget)
        : component_(component), restoreTarget_(restoreTarget)
    {
    }

    STDMETHODIMP QueryInterface(REFIID riid, void **object) override
    {
        return AnswerInterface(this, riid, object, {&IID_IVssComponent, &IID_IVssComponentEx, &IID_IVssComponentEx2});
    }
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }

    STDMETHODIMP GetLogicalPath(BSTR *path) override { return PutBstr(component_.key.logicalPath, path); }
    STDMETHODIMP GetComponentType(VSS_COMPONENT_TYPE *type) override
    {
        if (!type)
            return E_INVALIDARG;
        *type = VSS_COMPONENT_TYPE(component_.key.type);
        return S_OK;
    }
    STDMETHODIMP GetComponentName(BSTR *name) override { return PutBstr(component_.key.name, name); }
    STDMETHODIMP GetBackupSucceeded(boolean *succeeded) override { return PutFlag(component_.backupSucceeded, succeeded); }
    STDMETHODIMP GetAlternateLocationMappingCount(UINT *count) override
    {
        return PutCount(component_.mappings.size(), count);
    }
    STDMETHODIMP GetAlternateLocationMapping(UINT index, IVssWMFiledesc **file) override
    {
        if (!file)
            return E_INVALIDARG;
        *file = nullptr;
        if (index >= component_.mappings.size())
            return E_INVALIDARG;
        *file = NewFileDescription(component_.mappings[index]);
        return S_OK;
    }
    STDMETHODIMP SetBackupMetadata(LPCWSTR) override { return NotHere("IVssComponent::SetBackupMetadata"); }
    STDMETHODIMP GetBackupMetadata(BSTR *data) override { return PutBstr(u"", data); }
    STDMETHODIMP AddPartialFile(LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR) override
    {
        return NotHere("IVssComponent::AddPartialFile");
    }
    STDMETHODIMP GetPartialFileCount(UINT *count) override { return PutCount(0, count); }
    STDMETHODIMP GetPartialFile(UINT, BSTR *, BSTR *, BSTR *, BSTR *) override { return E_INVALIDARG; }
    STDMETHODIMP IsSelectedForRestore(boolean *selected) override
    {
        return PutFlag(component_.selectedForRestore, selected);
    }
    STDMETHODIMP GetAdditionalRestores(boolean *additional) override
    {
        return PutFlag(component_.additionalRestores, additional);
    }
    STDMETHODIMP GetNewTargetCount(UINT *count) override { return PutCount(0, count); }
    STDMETHODIMP GetNewTarget(UINT, IVssWMFiledesc **) override { return E_INVALIDARG; }
    STDMETHODIMP AddDirectedTarget(LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR) override
    {
        return NotHere("IVssComponent::AddDirectedTarget");
    }
    STDMETHODIMP GetDirectedTargetCount(UINT *count) override { return PutCount(0, count); }
    STDMETHODIMP GetDirectedTarget(UINT, BSTR *, BSTR *, BSTR *, BSTR *, BSTR *, BSTR *) override
    {
        return E_INVALIDARG;
    }
    STDMETHODIMP SetRestoreMetadata(LPCWSTR) override { return NotHere("IVssComponent::SetRestoreMetadata"); }
    STDMETHODIMP GetRestoreMetadata(BSTR *data) override { return PutBstr(u"", data); }
    STDMETHODIMP SetRestoreTarget(VSS_RESTORE_TARGET) override { return NotHere("IVssComponent::SetRestoreTarget"); }
    STDMETHODIMP GetRestoreTarget(VSS_RESTORE_TARGET *target) override
    {
        if (!target)
            return E_INVALIDARG;
        *target = VSS_RESTORE_TARGET(restoreTarget_);
        return S_OK;
    }
    STDMETHODIMP SetPreRestoreFailureMsg(LPCWSTR) override { return NotHere("IVssComponent::SetPreRestoreFailureMsg"); }
    STDMETHODIMP GetPreRestoreFailureMsg(BSTR *message) override { return PutBstr(u"", message); }
    STDMETHODIMP SetPostRestoreFailureMsg(LPCWSTR) override
    {
        return NotHere("IVssComponent::SetPostRestoreFailureMsg");
    }
    STDMETHODIMP GetPostRestoreFailureMsg(BSTR *message) override { return PutBstr(u"", message); }
    STDMETHODIMP SetBackupStamp(LPCWSTR) override { return NotHere("IVssComponent::SetBackupStamp"); }
    STDMETHODIMP GetBackupStamp(BSTR *stamp) override { return PutBstr(u"", stamp); }
    STDMETHODIMP GetPreviousBackupStamp(BSTR *stamp) override { return PutBstr(u"", stamp); }
    STDMETHODIMP GetBackupOptions(BSTR *options) override { return PutBstr(component_.backupOptions, options); }
    STDMETHODIMP GetRestoreOptions(BSTR *options) override { return PutBstr(component_.restoreOptions, options); }
    STDMETHODIMP GetRestoreSubcomponentCount(UINT *count) override
    {
        return PutCount(component_.subcomponents.size(), count);
    }
    STDMETHODIMP GetRestoreSubcomponent(UINT index, BSTR *logicalPath, BSTR *name, boolean *repair) override
    {
        if (!logicalPath || !name || !repair || index >= component_.subcomponents.size())
            return E_INVALIDARG;
        const RestoreSubcomponent &sub = component_.subcomponents[index];
        *repair = sub.repair;
        const HRESULT hr = PutBstr(sub.logicalPath, logicalPath);
        return FAILED(hr) ? hr : PutBstr(sub.name, name);
    }
    STDMETHODIMP GetFileRestoreStatus(VSS_FILE_RESTORE_STATUS *status) override
    {
        if (!status)
            return E_INVALIDARG;
        *status = VSS_RS_UNDEFINED;
        return S_OK;
    }
    STDMETHODIMP AddDifferencedFilesByLastModifyTime(LPCWSTR, LPCWSTR, WINBOOL, FILETIME) override
    {
        return NotHere("IVssComponent::AddDifferencedFilesByLastModifyTime");
    }
    STDMETHODIMP AddDifferencedFilesByLastModifyLSN(LPCWSTR, LPCWSTR, WINBOOL, BSTR) override
    {
        return NotHere("IVssComponent::AddDifferencedFilesByLastModifyLSN");
    }
    STDMETHODIMP GetDifferencedFilesCount(UINT *count) override { return PutCount(0, count); }
    STDMETHODIMP GetDifferencedFile(UINT, BSTR *, BSTR *, WINBOOL *, BSTR *, FILETIME *) override
    {
        return E_INVALIDARG;
    }
    STDMETHODIMP SetPrepareForBackupFailureMsg(LPCWSTR) override
    {
        return NotHere("IVssComponentEx::SetPrepareForBackupFailureMsg");
    }
    STDMETHODIMP SetPostSnapshotFailureMsg(LPCWSTR) override
    {
        return NotHere("IVssComponentEx::SetPostSnapshotFailureMsg");
    }
    STDMETHODIMP GetPrepareForBackupFailureMsg(BSTR *message) override { return PutBstr(u"", message); }
    STDMETHODIMP GetPostSnapshotFailureMsg(BSTR *message) override { return PutBstr(u"", message); }
    STDMETHODIMP GetAuthoritativeRestore(boolean *authoritative) override
    {
        return PutFlag(component_.authoritative, authoritative);
    }
    STDMETHODIMP GetRollForward(VSS_ROLLFORWARD_TYPE *, BSTR *) override
    {
        return NotHere("IVssComponentEx::GetRollForward");
    }
    STDMETHODIMP GetRestoreName(BSTR *name) override { return PutBstr(u"", name); }
    STDMETHODIMP SetFailure(HRESULT, HRESULT, LPCWSTR, DWORD) override { return NotHere("IVssComponentEx2::SetFailure"); }
    STDMETHODIMP GetFailure(HRESULT *hr, HRESULT *application, BSTR *message, DWORD *reserved) override
    {
        if (!hr || !application || !message || !reserved)
            return E_INVALIDARG;
        *hr = S_OK;
        *application = S_OK;
        *reserved = 0;
        return PutBstr(u"", message);
    }

private:
    static HRESULT PutFlag(bool value, boolean *out)
    {
        if (!out)
            return E_INVALIDARG;
        *out = value;
        return S_OK;
    }
    static HRESULT PutCount(size_t value, UINT *out)
    {
        if (!out)
            return E_INVALIDARG;
        *out = UINT(value);
        return S_OK;
    }
    // Writer-side or rarely used calls: said plainly rather than answered with a success.
    static HRESULT NotHere(const char *method)
    {
        LogNotImplemented(method, "this call");
        return E_NOTIMPL;
    }

    DocumentComponent component_;
    int restoreTarget_;
};

} // namespace

STDMETHODIMP WriterComponentsView::GetComponent(UINT index, IVssComponent **component)
{
    if (!component)
        return E_INVALIDARG;
    *component = nullptr;
    if (index >= writer_.components.size())
        return E_INVALIDARG;
    const DocumentComponent &entry = writer_.components[index];
    int restoreTarget = VSS_RT_ORIGINAL;
    for (const VssComponentModel &described : writer_.metadata.components)
        if (described.logicalPath == entry.key.logicalPath && described.name == entry.key.name)
            restoreTarget = described.restoreTarget;
    *component = new RestoreComponent(entry, restoreTarget);
    return S_OK;
}

STDMETHODIMP BackupComponents::GetWriterComponentsCount(UINT *count)
{
    HRESULT faultHr;
    if (OperationFault("IVssBackupComponents::GetWriterComponentsCount", &faultHr))
        return faultHr;
    if (!count)
        return E_INVALIDARG;
    if (mode_ == Mode::None)
        return VSS_E_BAD_STATE;
    *count = UINT(document_.writers.size());
    return S_OK;
}

STDMETHODIMP BackupComponents::GetWriterComponents(UINT index, IVssWriterComponentsExt **writer)
{
    HRESULT faultHr;
    if (OperationFault("IVssBackupComponents::GetWriterComponents", &faultHr))
        return faultHr;
    if (!writer)
        return E_INVALIDARG;
    *writer = nullptr;
    if (mode_ == Mode::None)
        return VSS_E_BAD_STATE;
    if (index >= document_.writers.size())
        return E_INVALIDARG;
    *writer = new WriterComponentsView(document_.writers[index]);
    return S_OK;
}

STDMETHODIMP BackupComponents::SetSelectedForRestore(VSS_ID writerId, VSS_COMPONENT_TYPE type, LPCWSTR logicalPath,
                                                     LPCWSTR name, boolean selected)
{
    HRESULT faultHr;
    if (OperationFault("IVssBackupComponents::SetSelectedForRestore", &faultHr))
        return faultHr;
    return SelectForRestore("SetSelectedForRestore", writerId, type, logicalPath, name, selected, nullptr);
}

STDMETHODIMP BackupComponents::SetSelectedForRestoreEx(VSS_ID writerId, VSS_COMPONENT_TYPE type, LPCWSTR logicalPath,
                                                       LPCWSTR name, boolean selected, VSS_ID instanceId)
{
    HRESULT faultHr;
    if (OperationFault("IVssBackupComponents::SetSelectedForRestoreEx", &faultHr))
        return faultHr;
    return SelectForRestore("SetSelectedForRestoreEx", writerId, type, logicalPath, name, selected, &instanceId);
}

STDMETHODIMP BackupComponents::SetRestoreOptions(VSS_ID writerId, VSS_COMPONENT_TYPE type, LPCWSTR logicalPath,
                                                 LPCWSTR name, LPCWSTR options)
{
    HRESULT faultHr;
    if (OperationFault("IVssBackupComponents::SetRestoreOptions", &faultHr))
        return faultHr;
    DocumentComponent *component = nullptr;
    const HRESULT hr = RestoreTarget("SetRestoreOptions", writerId, type, logicalPath, name, &component);
    if (FAILED(hr))
        return hr;
    if (!options)
        return E_INVALIDARG;
    component->restoreOptions = options;
    Record("SetRestoreOptions", component->key, options);
    return S_OK;
}

// Whether later restores (an incremental or differential after this full one) will
// follow for the component; the writer waits for the last before it recovers.
STDMETHODIMP BackupComponents::SetAdditionalRestores(VSS_ID writerId, VSS_COMPONENT_TYPE type, LPCWSTR logicalPath,
                                                     LPCWSTR name, boolean additionalResync)
{
    HRESULT faultHr;
    if (OperationFault("IVssBackupComponents::SetAdditionalRestores", &faultHr))
        return faultHr;
    DocumentComponent *component = nullptr;
    const HRESULT hr = RestoreTarget("SetAdditionalRestores", writerId, type, logicalPath, name, &component);
    if (FAILED(hr))
        return hr;
    component->additionalRestores = additionalResync;
    Record("SetAdditionalRestores", component->key, u"", u"", u"", additionalResync);
    return S_OK;
}

STDMETHODIMP BackupComponents::AddAlternativeLocationMapping(VSS_ID writerId, VSS_COMPONENT_TYPE type,
                                                             LPCWSTR logicalPath, LPCWSTR name, LPCWSTR path,
                                                             LPCWSTR filespec, boolean recursive, LPCWSTR destination)
{
    HRESULT faultHr;
    if (OperationFault("IVssBackupComponents::AddAlternativeLocationMapping", &faultHr))
        return faultHr;
    DocumentComponent *component = nullptr;
    const HRESULT hr =
        RestoreTarget("AddAlternativeLocationMapping", writerId, type, logicalPath, name, &component);
    if (FAILED(hr))
        return hr;
    if (!path || !filespec || !destination)
        return E_INVALIDARG;
    VssFileSpec mapping;
    mapping.path = path;
    mapping.filespec = filespec;
    mapping.recursive = recursive;
    mapping.alternateLocation = destination;
    component->mappings.push_back(mapping);
    Record("AddAlternativeLocationMapping", component->key, path, filespec, destination, recursive);
    return S_OK;
}

STDMETHODIMP BackupComponents::AddRestoreSubcomponent(VSS_ID writerId, VSS_COMPONENT_TYPE type, LPCWSTR logicalPath,
                                                      LPCWSTR name, LPCWSTR subLogicalPath, LPCWSTR subName,
                                                      boolean repair)
{
    HRESULT faultHr;
    if (OperationFault("IVssBackupComponents::AddRestoreSubcomponent", &faultHr))
        return faultHr;
    DocumentComponent *component = nullptr;
    const HRESULT hr = RestoreTarget("AddRestoreSubcomponent", writerId, type, logicalPath, name, &component);
    if (FAILED(hr))
        return hr;
    if (!subName || !*subName)
        return E_INVALIDARG;
    RestoreSubcomponent sub{OrEmpty(subLogicalPath), subName, bool(repair)};
    component->subcomponents.push_back(sub);
    Record("AddRestoreSubcomponent", component->key, sub.logicalPath, sub.name, u"", repair);
    return S_OK;
}

STDMETHODIMP BackupComponents::SetFileRestoreStatus(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                                    VSS_FILE_RESTORE_STATUS)
{
    return NotImplemented("IVssBackupComponents::SetFileRestoreStatus");
}

STDMETHODIMP BackupComponents::AddNewTarget(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, boolean,
                                            LPCWSTR)
{
    return NotImplemented("IVssBackupComponents::AddNewTarget");
}

STDMETHODIMP BackupComponents::SetRangesFilePath(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, UINT, LPCWSTR)
{
    return NotImplemented("IVssBackupComponents::SetRangesFilePath");
}

STDMETHODIMP BackupComponents::SetAuthoritativeRestore(VSS_ID writerId, VSS_COMPONENT_TYPE type, LPCWSTR logicalPath,
                                                       LPCWSTR name, boolean authoritative)
{
    HRESULT faultHr;
    if (OperationFault("IVssBackupComponents::SetAuthoritativeRestore", &faultHr))
        return faultHr;
    DocumentComponent *component = nullptr;
    const HRESULT hr = RestoreTarget("SetAuthoritativeRestore", writerId, type, logicalPath, name, &component);
    if (FAILED(hr))
        return hr;
    component->authoritative = authoritative;
    Record("SetAuthoritativeRestore", component->key, u"", u"", u"", authoritative);
    return S_OK;
}

STDMETHODIMP BackupComponents::PreRestore(IVssAsync **async)
{
    if (!async)
        return E_INVALIDARG;
    *async = nullptr;
    if (mode_ != Mode::Restore || preRestored_)
        return VSS_E_BAD_STATE;
    HRESULT hr;
    if (OperationFault("IVssBackupComponents::PreRestore", &hr))
        return Finish(hr, async);
    preRestored_ = true;
    RestoreWritersEnter("IVssBackupComponents::PreRestore", VSS_WS_FAILED_AT_PRE_RESTORE);
    Record("PreRestore", ComponentKey());
    return Finish(S_OK, async);
}

STDMETHODIMP BackupComponents::PostRestore(IVssAsync **async)
{
    if (!async)
        return E_INVALIDARG;
    *async = nullptr;
    if (mode_ != Mode::Restore || !preRestored_ || postRestored_)
        return VSS_E_BAD_STATE;
    HRESULT hr;
    if (OperationFault("IVssBackupComponents::PostRestore", &hr))
        return Finish(hr, async);
    postRestored_ = true;
    RestoreWritersEnter("IVssBackupComponents::PostRestore", VSS_WS_FAILED_AT_POST_RESTORE);
    Record("PostRestore", ComponentKey());
    return Finish(S_OK, async);
}

void BackupComponents::RestoreWritersEnter(const char *method, VSS_WRITER_STATE failedState)
{
    for (const DocumentWriter &writer : document_.writers) {
        WriterStatus *status = nullptr;
        for (WriterStatus &known : statuses_)
            if (known.writerId == writer.metadata.id)
                status = &known;
        if (!status) {
            statuses_.push_back({writer.metadata.instanceId, writer.metadata.id, writer.metadata.name,
                                 VSS_WS_STABLE, S_OK, writer.metadata.failsAt, writer.metadata.failsWith});
            status = &statuses_.back();
        }
        HRESULT hr;
        if (!IsFailedState(status->state) && WriterFails(*status, method, &hr)) {
            status->state = failedState;
            status->failure = hr;
        }
    }
}

HRESULT BackupComponents::RestoreTarget(const char *method, VSS_ID writerId, VSS_COMPONENT_TYPE type,
                                        LPCWSTR logicalPath, LPCWSTR name, DocumentComponent **component)
{
    HRESULT hr;
    if (OperationFault((std::string("IVssBackupComponents::") + method).c_str(), &hr))
        return hr;
    if (!name)
        return E_INVALIDARG;
    if (mode_ != Mode::Restore || preRestored_)
        return VSS_E_BAD_STATE;
    *component = FindDocumentComponent({writerId, int(type), OrEmpty(logicalPath), name});
    return *component ? S_OK : VSS_E_OBJECT_NOT_FOUND;
}

HRESULT BackupComponents::SelectForRestore(const char *method, VSS_ID writerId, VSS_COMPONENT_TYPE type,
                                           LPCWSTR logicalPath, LPCWSTR name, boolean selected,
                                           const VSS_ID *instanceId)
{
    DocumentComponent *component = nullptr;
    const HRESULT hr = RestoreTarget(method, writerId, type, logicalPath, name, &component);
    if (FAILED(hr))
        return hr;
    if (instanceId && *instanceId != GUID_NULL && component->instanceId != *instanceId)
        return VSS_E_OBJECT_NOT_FOUND;
    component->selectedForRestore = selected;
    Record("SetSelectedForRestore", component->key, u"", u"", u"", selected);
    return S_OK;
}

} // namespace vss
} // namespace winsim
