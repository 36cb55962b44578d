// The backup-components object: one backup or one restore session of a requester, with
// the state rules the SDK documents (what may be called once, what must come first).
// Its calls are defined by operation: session.cpp (set-up, state, the calls not
// simulated), writers.cpp (writer metadata, status and components), snapshotset.cpp,
// completion.cpp, document.cpp (the backup-components document) and restore.cpp.
#pragma once

#include "vssinternal.h"

#include <memory>
#include <string>
#include <vector>

namespace winsim {
namespace vss {

// The provider every simulated snapshot comes from (the system's software provider).
extern const GUID kSystemProviderId;

inline text OrEmpty(LPCWSTR value) { return value ? text(value) : text(); }

// A component the requester named: writer, type, logical path, name.
struct ComponentKey {
    GUID writerId = {};
    int type = 0;
    text logicalPath;
    text name;

    bool Matches(const GUID &otherWriter, int otherType, const text &otherPath, const text &otherName) const
    {
        return writerId == otherWriter && type == otherType && logicalPath == otherPath && name == otherName;
    }
};

struct RestoreSubcomponent {
    text logicalPath;
    text name;
    bool repair = false;
};

// A component in the backup document: added for backup, and what a restore asked of it.
struct DocumentComponent {
    ComponentKey key;
    GUID instanceId = {};
    bool backupSucceeded = false;
    text backupOptions;
    bool selectedForRestore = false;
    bool additionalRestores = false;
    text restoreOptions;
    bool authoritative = false;
    std::vector<RestoreSubcomponent> subcomponents;
    std::vector<VssFileSpec> mappings;  // alternateLocation = destination
};

struct DocumentWriter {
    VssWriterModel metadata;
    std::vector<DocumentComponent> components;
};

// The state of one host writer within a session.
struct WriterStatus {
    GUID instanceId = {};
    GUID writerId = {};
    text name;
    VSS_WRITER_STATE state = VSS_WS_STABLE;
    HRESULT failure = S_OK;
    std::string failsAt;  // the phase the host description makes the writer fail in
    HRESULT failsWith = S_OK;
};

// Whether the writer fails in this phase ("IVssBackupComponents::<Method>"): an injected
// fault for its name, or the host description's failsAt.
inline bool WriterFails(const WriterStatus &status, const char *method, HRESULT *hr)
{
    if (SubjectFault(method, status.name, hr))
        return true;
    const std::string phase = method;
    if (status.failsAt.empty() || phase.size() <= status.failsAt.size() ||
        phase.compare(phase.size() - status.failsAt.size(), std::string::npos, status.failsAt) != 0 ||
        phase[phase.size() - status.failsAt.size() - 1] != ':')
        return false;
    *hr = status.failsWith;
    return true;
}

struct PlannedSnapshot {
    GUID snapshotId = {};
    text volumeGuidPath;
    text asGiven;
};

inline bool IsFailedState(VSS_WRITER_STATE state) { return state >= VSS_WS_FAILED_AT_IDENTIFY; }

// The components of one writer in the document, as GetWriterComponents hands them out: the
// caller releases the view through its IUnknown. It holds a copy of the writer's entry, so
// it stays sound whatever the backup-components object does next.
class WriterComponentsView final : public IVssWriterComponentsExt, public RefCounted {
public:
    explicit WriterComponentsView(const DocumentWriter &writer) : writer_(writer) {}

    STDMETHODIMP QueryInterface(REFIID riid, void **object) override
    {
        return AnswerInterface(this, riid, object, {});
    }
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }

    STDMETHODIMP GetComponentCount(UINT *count) override
    {
        if (!count)
            return E_INVALIDARG;
        *count = UINT(writer_.components.size());
        return S_OK;
    }
    STDMETHODIMP GetWriterInfo(VSS_ID *instanceId, VSS_ID *writerId) override
    {
        if (!instanceId || !writerId)
            return E_INVALIDARG;
        *instanceId = writer_.metadata.instanceId;
        *writerId = writer_.metadata.id;
        return S_OK;
    }
    STDMETHODIMP GetComponent(UINT index, IVssComponent **component) override;

private:
    const DocumentWriter writer_;
};

// ---- the backup-components document ----

struct Document {
    LONG context = VSS_CTX_BACKUP;
    bool selectComponents = false;
    bool bootableSystemState = false;
    int backupType = VSS_BT_FULL;
    bool partialFileSupport = false;
    GUID snapshotSetId = {};
    std::vector<DocumentWriter> writers;
    std::vector<VssSnapshotInfo> snapshots;
};

std::string DocumentToXml(const Document &document);
// False when the text is not a backup-components document.
bool DocumentFromXml(const std::string &xmlText, Document *document);

// ---- IVssBackupComponentsEx3 ----

class BackupComponents final : public IVssBackupComponentsEx3, public RefCounted {
public:
    BackupComponents();
    ~BackupComponents() override;

    STDMETHODIMP QueryInterface(REFIID riid, void **object) override
    {
        return AnswerInterface(this, riid, object,
                               {&IID_IVssBackupComponents, &IID_IVssBackupComponentsEx,
                                &IID_IVssBackupComponentsEx2, &IID_IVssBackupComponentsEx3});
    }
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }

    // ---- set-up ----

    STDMETHODIMP InitializeForBackup(BSTR xml) override;
    STDMETHODIMP InitializeForRestore(BSTR xml) override;
    STDMETHODIMP SetContext(LONG context) override;
    STDMETHODIMP SetBackupState(boolean selectComponents, boolean bootableSystemState, VSS_BACKUP_TYPE backupType,
                                boolean partialFileSupport) override;
    STDMETHODIMP SetRestoreState(VSS_RESTORE_TYPE restoreType) override;

    // ---- writers ----

    STDMETHODIMP GatherWriterMetadata(IVssAsync **async) override;
    STDMETHODIMP GetWriterMetadataCount(UINT *count) override;
    STDMETHODIMP GetWriterMetadata(UINT index, VSS_ID *instanceId, IVssExamineWriterMetadata **metadata) override;
    STDMETHODIMP GetWriterMetadataEx(UINT index, VSS_ID *instanceId, IVssExamineWriterMetadataEx **metadata) override;
    STDMETHODIMP FreeWriterMetadata() override;
    STDMETHODIMP GatherWriterStatus(IVssAsync **async) override;
    STDMETHODIMP GetWriterStatusCount(UINT *count) override;
    STDMETHODIMP FreeWriterStatus() override;
    STDMETHODIMP GetWriterStatus(UINT index, VSS_ID *instanceId, VSS_ID *writerId, BSTR *name,
                                 VSS_WRITER_STATE *state, HRESULT *failure) override;
    STDMETHODIMP GetWriterStatusEx(UINT index, VSS_ID *instanceId, VSS_ID *writerId, BSTR *name,
                                   VSS_WRITER_STATE *state, HRESULT *failure, HRESULT *application,
                                   BSTR *applicationMessage) override;

    // ---- components for backup ----

    STDMETHODIMP AddComponent(VSS_ID instanceId, VSS_ID writerId, VSS_COMPONENT_TYPE type, LPCWSTR logicalPath,
                              LPCWSTR name) override;
    STDMETHODIMP SetBackupSucceeded(VSS_ID instanceId, VSS_ID writerId, VSS_COMPONENT_TYPE type,
                                    LPCWSTR logicalPath, LPCWSTR name, boolean succeeded) override;
    STDMETHODIMP SetBackupOptions(VSS_ID writerId, VSS_COMPONENT_TYPE type, LPCWSTR logicalPath, LPCWSTR name,
                                  LPCWSTR options) override;
    STDMETHODIMP SetPreviousBackupStamp(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR) override;

    // ---- the snapshot set ----

    STDMETHODIMP StartSnapshotSet(VSS_ID *snapshotSetId) override;
    STDMETHODIMP AddToSnapshotSet(VSS_PWSZ volumeName, VSS_ID providerId, VSS_ID *snapshotId) override;
    STDMETHODIMP PrepareForBackup(IVssAsync **async) override;
    STDMETHODIMP DoSnapshotSet(IVssAsync **async) override;
    STDMETHODIMP GetSnapshotProperties(VSS_ID snapshotId, VSS_SNAPSHOT_PROP *prop) override;
    STDMETHODIMP BackupComplete(IVssAsync **async) override;
    STDMETHODIMP AbortBackup() override;
    STDMETHODIMP DeleteSnapshots(VSS_ID sourceId, VSS_OBJECT_TYPE type, WINBOOL, LONG *deleted,
                                 VSS_ID *nondeleted) override;
    STDMETHODIMP SaveAsXML(BSTR *xml) override;

    // ---- restore ----

    STDMETHODIMP GetWriterComponentsCount(UINT *count) override;
    STDMETHODIMP GetWriterComponents(UINT index, IVssWriterComponentsExt **writer) override;
    STDMETHODIMP SetSelectedForRestore(VSS_ID writerId, VSS_COMPONENT_TYPE type, LPCWSTR logicalPath, LPCWSTR name,
                                       boolean selected) override;
    STDMETHODIMP SetSelectedForRestoreEx(VSS_ID writerId, VSS_COMPONENT_TYPE type, LPCWSTR logicalPath,
                                         LPCWSTR name, boolean selected, VSS_ID instanceId) override;
    STDMETHODIMP SetRestoreOptions(VSS_ID writerId, VSS_COMPONENT_TYPE type, LPCWSTR logicalPath, LPCWSTR name,
                                   LPCWSTR options) override;
    STDMETHODIMP SetAdditionalRestores(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, boolean) override;
    STDMETHODIMP AddAlternativeLocationMapping(VSS_ID writerId, VSS_COMPONENT_TYPE type, LPCWSTR logicalPath,
                                               LPCWSTR name, LPCWSTR path, LPCWSTR filespec, boolean recursive,
                                               LPCWSTR destination) override;
    STDMETHODIMP AddRestoreSubcomponent(VSS_ID writerId, VSS_COMPONENT_TYPE type, LPCWSTR logicalPath,
                                        LPCWSTR name, LPCWSTR subLogicalPath, LPCWSTR subName,
                                        boolean repair) override;
    STDMETHODIMP SetFileRestoreStatus(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, VSS_FILE_RESTORE_STATUS) override;
    STDMETHODIMP AddNewTarget(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, boolean,
                              LPCWSTR) override;
    STDMETHODIMP SetRangesFilePath(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, UINT, LPCWSTR) override;
    STDMETHODIMP SetAuthoritativeRestore(VSS_ID writerId, VSS_COMPONENT_TYPE type, LPCWSTR logicalPath,
                                         LPCWSTR name, boolean authoritative) override;
    STDMETHODIMP PreRestore(IVssAsync **async) override;
    STDMETHODIMP PostRestore(IVssAsync **async) override;

    // ---- not simulated ----

    STDMETHODIMP ImportSnapshots(IVssAsync **async) override;
    STDMETHODIMP BreakSnapshotSet(VSS_ID) override { return NotImplemented("IVssBackupComponents::BreakSnapshotSet"); }
    STDMETHODIMP Query(VSS_ID, VSS_OBJECT_TYPE, VSS_OBJECT_TYPE, IVssEnumObject **enumerator) override;
    STDMETHODIMP IsVolumeSupported(VSS_ID providerId, VSS_PWSZ volumeName, WINBOOL *supported) override;
    STDMETHODIMP DisableWriterClasses(const VSS_ID *, UINT) override;
    STDMETHODIMP EnableWriterClasses(const VSS_ID *, UINT) override;
    STDMETHODIMP DisableWriterInstances(const VSS_ID *, UINT) override;
    STDMETHODIMP ExposeSnapshot(VSS_ID, VSS_PWSZ, LONG, VSS_PWSZ, VSS_PWSZ *exposed) override;
    STDMETHODIMP RevertToSnapshot(VSS_ID, WINBOOL) override;
    STDMETHODIMP QueryRevertStatus(VSS_PWSZ, IVssAsync **async) override;
    STDMETHODIMP UnexposeSnapshot(VSS_ID) override { return NotImplemented("IVssBackupComponentsEx2::UnexposeSnapshot"); }
    STDMETHODIMP SetRollForward(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, VSS_ROLLFORWARD_TYPE, LPCWSTR) override;
    STDMETHODIMP SetRestoreName(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR) override;
    STDMETHODIMP BreakSnapshotSetEx(VSS_ID, DWORD, IVssAsync **async) override;
    STDMETHODIMP PreFastRecovery(VSS_ID, DWORD, IVssAsync **async) override;
    STDMETHODIMP FastRecovery(VSS_ID, DWORD, IVssAsync **async) override;
    STDMETHODIMP AddSnapshotToRecoverySet(VSS_ID, DWORD, VSS_PWSZ) override;
    STDMETHODIMP RecoverSet(DWORD, IVssAsync **async) override;
    STDMETHODIMP GetSessionId(VSS_ID *sessionId) override;


private:
    enum class Mode { None, Backup, Restore };

    static HRESULT NotImplemented(const char *method);
    static HRESULT Finish(HRESULT result, IVssAsync **async);
    void Record(const char *operation, const ComponentKey &key, const text &text1 = u"", const text &text2 = u"",
                const text &text3 = u"", bool flag = false);
    // Every writer that has not failed enters `next`, except one named in a fault for
    // `method`, which fails with `failedState`.
    void WritersEnter(const char *method, VSS_WRITER_STATE failedState, VSS_WRITER_STATE next);
    // On a restore only the writers of the document take part; their status is what the
    // session gathered, or a stable one when it did not gather.
    void RestoreWritersEnter(const char *method, VSS_WRITER_STATE failedState);
    DocumentWriter &DocumentWriterFor(const VssWriterModel &writer);
    DocumentComponent *FindDocumentComponent(const ComponentKey &key);
    // The document component a restore call names: only a component that was backed up.
    HRESULT RestoreTarget(const char *method, VSS_ID writerId, VSS_COMPONENT_TYPE type, LPCWSTR logicalPath,
                          LPCWSTR name, DocumentComponent **component);
    HRESULT SelectForRestore(const char *method, VSS_ID writerId, VSS_COMPONENT_TYPE type, LPCWSTR logicalPath,
                             LPCWSTR name, boolean selected, const VSS_ID *instanceId);

    Mode mode_ = Mode::None;
    Document document_;
    bool contextSet_ = false;
    VSS_RESTORE_TYPE restoreType_ = VSS_RTYPE_BY_COPY;
    bool gathered_ = false;
    bool metadataFreed_ = false;
    std::vector<VssWriterModel> metadata_;
    std::vector<WriterStatus> statuses_;
    std::vector<WriterStatus> reportedStatuses_;
    bool statusGathered_ = false;
    bool prepared_ = false;
    bool setStarted_ = false;
    bool snapshotsMade_ = false;
    bool completed_ = false;
    bool preRestored_ = false;
    bool postRestored_ = false;
    std::vector<PlannedSnapshot> planned_;
    GUID sessionId_ = {};
    VSS_TIMESTAMP createdAt_ = 0;
};

} // namespace vss
} // namespace winsim
