// The backup-components object: one backup or one restore session of a requester, with
// the state rules the SDK documents (what may be called once, what must come first).
#include "vssinternal.h"

#include "../src/internal.h"
#include "winsim/hostmodel.h"
#include "winsim/shadow.h"

#include <algorithm>
#include <chrono>

namespace winsim {
namespace vss {

namespace {

// The provider every simulated snapshot comes from (the system's software provider).
const GUID kSystemProviderId = {0xb5946137, 0x7b9f, 0x4925, {0xaf, 0x80, 0x51, 0xab, 0xd6, 0x0b, 0x20, 0xd5}};

const LONG kKnownContexts[] = {VSS_CTX_BACKUP,       VSS_CTX_FILE_SHARE_BACKUP, VSS_CTX_NAS_ROLLBACK,
                               VSS_CTX_APP_ROLLBACK, VSS_CTX_CLIENT_ACCESSIBLE, VSS_CTX_CLIENT_ACCESSIBLE_WRITERS};

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

namespace {

text OrEmpty(LPCWSTR value) { return value ? text(value) : text(); }

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
};

struct PlannedSnapshot {
    GUID snapshotId = {};
    text volumeGuidPath;
    text asGiven;
};

bool IsFailedState(VSS_WRITER_STATE state) { return state >= VSS_WS_FAILED_AT_IDENTIFY; }

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
    STDMETHODIMP GetAdditionalRestores(boolean *additional) override { return PutFlag(false, additional); }
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

// The components of one writer in the document. Owned by the backup-components object
// (IVssWriterComponents has no reference count): valid until that object is released.
class WriterComponentsView final : public IVssWriterComponentsExt {
public:
    explicit WriterComponentsView(const DocumentWriter &writer) : writer_(writer) {}

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
    STDMETHODIMP GetComponent(UINT index, IVssComponent **component) override
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

private:
    const DocumentWriter &writer_;
};

// ---- the backup-components document ----

const char kDocumentRoot[] = "BACKUP_COMPONENTS";

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

void PutSpec(pugi::xml_node node, const VssFileSpec &file)
{
    node.append_attribute("path") = Narrow(file.path).c_str();
    node.append_attribute("filespec") = Narrow(file.filespec).c_str();
    node.append_attribute("recursive") = file.recursive;
    node.append_attribute("destination") = Narrow(file.alternateLocation).c_str();
}

std::string DocumentToXml(const Document &document)
{
    pugi::xml_document xml;
    pugi::xml_node root = xml.append_child(kDocumentRoot);
    root.append_attribute("context") = long(document.context);
    root.append_attribute("selectComponents") = document.selectComponents;
    root.append_attribute("bootableSystemState") = document.bootableSystemState;
    root.append_attribute("backupType") = document.backupType;
    root.append_attribute("partialFileSupport") = document.partialFileSupport;
    root.append_attribute("snapshotSetId") = Narrow(GuidText(document.snapshotSetId)).c_str();
    for (const DocumentWriter &writer : document.writers) {
        pugi::xml_node node = root.append_child("WRITER_COMPONENTS");
        PutWriter(node.append_child("WRITER_METADATA"), writer.metadata);
        for (const DocumentComponent &component : writer.components) {
            pugi::xml_node entry = node.append_child("COMPONENT");
            entry.append_attribute("type") = component.key.type;
            entry.append_attribute("logicalPath") = Narrow(component.key.logicalPath).c_str();
            entry.append_attribute("name") = Narrow(component.key.name).c_str();
            entry.append_attribute("backupSucceeded") = component.backupSucceeded;
            entry.append_attribute("backupOptions") = Narrow(component.backupOptions).c_str();
            entry.append_attribute("selectedForRestore") = component.selectedForRestore;
            entry.append_attribute("restoreOptions") = Narrow(component.restoreOptions).c_str();
            entry.append_attribute("authoritative") = component.authoritative;
            for (const RestoreSubcomponent &sub : component.subcomponents) {
                pugi::xml_node subNode = entry.append_child("RESTORE_SUBCOMPONENT");
                subNode.append_attribute("logicalPath") = Narrow(sub.logicalPath).c_str();
                subNode.append_attribute("name") = Narrow(sub.name).c_str();
                subNode.append_attribute("repair") = sub.repair;
            }
            for (const VssFileSpec &mapping : component.mappings)
                PutSpec(entry.append_child("ALTERNATE_LOCATION_MAPPING"), mapping);
        }
    }
    for (const VssSnapshotInfo &snapshot : document.snapshots) {
        pugi::xml_node node = root.append_child("SNAPSHOT");
        node.append_attribute("snapshotId") = Narrow(GuidText(snapshot.snapshotId)).c_str();
        node.append_attribute("originalVolume") = Narrow(snapshot.originalVolume).c_str();
        node.append_attribute("device") = Narrow(snapshot.device).c_str();
    }
    struct Out : pugi::xml_writer {
        std::string text;
        void write(const void *data, size_t size) override { text.append(static_cast<const char *>(data), size); }
    } out;
    xml.save(out, "", pugi::format_raw);
    return out.text;
}

bool ReadBool(pugi::xml_node node, const char *name, bool *value)
{
    const std::string textValue = node.attribute(name).value();
    if (textValue != "true" && textValue != "false")
        return false;
    *value = textValue == "true";
    return true;
}

bool ReadInt(pugi::xml_node node, const char *name, long low, long high, long *value)
{
    const std::string digits = node.attribute(name).value();
    char *end = nullptr;
    const long parsed = std::strtol(digits.c_str(), &end, 10);
    if (digits.empty() || *end != 0 || parsed < low || parsed > high)
        return false;
    *value = parsed;
    return true;
}

bool ReadGuid(pugi::xml_node node, const char *name, GUID *id)
{
    return ParseGuid(Widen(node.attribute(name).value()), id);
}

bool DocumentFromXml(const std::string &xmlText, Document *document)
{
    pugi::xml_document xml;
    if (!xml.load_buffer(xmlText.data(), xmlText.size()))
        return false;
    pugi::xml_node root = xml.child(kDocumentRoot);
    if (!root || !SingleRoot(xml))
        return false;
    Document loaded;
    long number = 0;
    if (!ReadInt(root, "context", -2147483647L - 1, 2147483647L, &number))
        return false;
    loaded.context = LONG(number);
    if (!ReadInt(root, "backupType", 0, VSS_BT_OTHER, &number))
        return false;
    loaded.backupType = int(number);
    if (!ReadBool(root, "selectComponents", &loaded.selectComponents) ||
        !ReadBool(root, "bootableSystemState", &loaded.bootableSystemState) ||
        !ReadBool(root, "partialFileSupport", &loaded.partialFileSupport) ||
        !ReadGuid(root, "snapshotSetId", &loaded.snapshotSetId))
        return false;
    for (pugi::xml_node node : root.children("WRITER_COMPONENTS")) {
        DocumentWriter writer;
        pugi::xml_node metadata = node.child("WRITER_METADATA");
        if (!metadata || !GetWriter(metadata, &writer.metadata))
            return false;
        for (pugi::xml_node entry : node.children("COMPONENT")) {
            DocumentComponent component;
            component.key.writerId = writer.metadata.id;
            component.instanceId = writer.metadata.instanceId;
            if (!ReadInt(entry, "type", 1, 2, &number))
                return false;
            component.key.type = int(number);
            if (!entry.attribute("name") || !entry.attribute("logicalPath"))
                return false;
            component.key.logicalPath = Widen(entry.attribute("logicalPath").value());
            component.key.name = Widen(entry.attribute("name").value());
            component.backupOptions = Widen(entry.attribute("backupOptions").value());
            component.restoreOptions = Widen(entry.attribute("restoreOptions").value());
            if (!ReadBool(entry, "backupSucceeded", &component.backupSucceeded) ||
                !ReadBool(entry, "selectedForRestore", &component.selectedForRestore) ||
                !ReadBool(entry, "authoritative", &component.authoritative))
                return false;
            for (pugi::xml_node subNode : entry.children("RESTORE_SUBCOMPONENT")) {
                RestoreSubcomponent sub;
                sub.logicalPath = Widen(subNode.attribute("logicalPath").value());
                sub.name = Widen(subNode.attribute("name").value());
                if (sub.name.empty() || !ReadBool(subNode, "repair", &sub.repair))
                    return false;
                component.subcomponents.push_back(sub);
            }
            for (pugi::xml_node mapNode : entry.children("ALTERNATE_LOCATION_MAPPING")) {
                VssFileSpec mapping;
                mapping.path = Widen(mapNode.attribute("path").value());
                mapping.filespec = Widen(mapNode.attribute("filespec").value());
                mapping.alternateLocation = Widen(mapNode.attribute("destination").value());
                if (!ReadBool(mapNode, "recursive", &mapping.recursive))
                    return false;
                component.mappings.push_back(mapping);
            }
            writer.components.push_back(component);
        }
        loaded.writers.push_back(std::move(writer));
    }
    for (pugi::xml_node node : root.children("SNAPSHOT")) {
        VssSnapshotInfo snapshot;
        if (!ReadGuid(node, "snapshotId", &snapshot.snapshotId))
            return false;
        snapshot.snapshotSetId = loaded.snapshotSetId;
        snapshot.originalVolume = Widen(node.attribute("originalVolume").value());
        snapshot.device = Widen(node.attribute("device").value());
        snapshot.context = loaded.context;
        loaded.snapshots.push_back(snapshot);
    }
    *document = std::move(loaded);
    return true;
}

// ---- IVssBackupComponentsEx3 ----

class BackupComponents final : public IVssBackupComponentsEx3, public RefCounted {
public:
    ~BackupComponents() override
    {
        // Snapshots of a context without VSS_VOLSNAP_ATTR_NO_AUTO_RELEASE live only as
        // long as the object that made them.
        if (snapshotsMade_ && !(document_.context & VSS_VOLSNAP_ATTR_NO_AUTO_RELEASE))
            RemoveSnapshots(document_.snapshotSetId, true);
    }

    STDMETHODIMP QueryInterface(REFIID riid, void **object) override
    {
        return AnswerInterface(this, riid, object,
                               {&IID_IVssBackupComponents, &IID_IVssBackupComponentsEx,
                                &IID_IVssBackupComponentsEx2, &IID_IVssBackupComponentsEx3});
    }
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }

    // ---- set-up ----

    STDMETHODIMP InitializeForBackup(BSTR xml) override
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

    STDMETHODIMP InitializeForRestore(BSTR xml) override
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

    STDMETHODIMP SetContext(LONG context) override
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

    STDMETHODIMP SetBackupState(boolean selectComponents, boolean bootableSystemState, VSS_BACKUP_TYPE backupType,
                                boolean partialFileSupport) override
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

    STDMETHODIMP SetRestoreState(VSS_RESTORE_TYPE restoreType) override
    {
        if (mode_ != Mode::Restore)
            return VSS_E_BAD_STATE;
        if (restoreType < VSS_RTYPE_BY_COPY || restoreType > VSS_RTYPE_OTHER)
            return E_INVALIDARG;
        restoreType_ = restoreType;
        return S_OK;
    }

    // ---- writers ----

    STDMETHODIMP GatherWriterMetadata(IVssAsync **async) override
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
            if (SubjectFault("IVssBackupComponents::GatherWriterMetadata", writer.name, &hr)) {
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

    STDMETHODIMP GetWriterMetadataCount(UINT *count) override
    {
        if (!count)
            return E_INVALIDARG;
        if (!gathered_)
            return VSS_E_BAD_STATE;
        *count = metadataFreed_ ? 0 : UINT(metadata_.size());
        return S_OK;
    }

    STDMETHODIMP GetWriterMetadata(UINT index, VSS_ID *instanceId, IVssExamineWriterMetadata **metadata) override
    {
        // One object answers both interfaces; the extended call does the work.
        if (!instanceId || !metadata)
            return E_INVALIDARG;
        IVssExamineWriterMetadataEx *extended = nullptr;
        const HRESULT hr = GetWriterMetadataEx(index, instanceId, &extended);
        *metadata = extended;
        return hr;
    }

    STDMETHODIMP GetWriterMetadataEx(UINT index, VSS_ID *instanceId, IVssExamineWriterMetadataEx **metadata) override
    {
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

    STDMETHODIMP FreeWriterMetadata() override
    {
        if (!gathered_)
            return VSS_E_BAD_STATE;
        // The components added so far keep what they need; only the copies go.
        metadataFreed_ = true;
        return S_OK;
    }

    STDMETHODIMP GatherWriterStatus(IVssAsync **async) override
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

    STDMETHODIMP GetWriterStatusCount(UINT *count) override
    {
        if (!count)
            return E_INVALIDARG;
        if (!statusGathered_)
            return VSS_E_BAD_STATE;
        *count = UINT(reportedStatuses_.size());
        return S_OK;
    }

    STDMETHODIMP FreeWriterStatus() override
    {
        reportedStatuses_.clear();
        statusGathered_ = false;
        return S_OK;
    }

    STDMETHODIMP GetWriterStatus(UINT index, VSS_ID *instanceId, VSS_ID *writerId, BSTR *name,
                                 VSS_WRITER_STATE *state, HRESULT *failure) override
    {
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

    STDMETHODIMP GetWriterStatusEx(UINT index, VSS_ID *instanceId, VSS_ID *writerId, BSTR *name,
                                   VSS_WRITER_STATE *state, HRESULT *failure, HRESULT *application,
                                   BSTR *applicationMessage) override
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

    // ---- components for backup ----

    STDMETHODIMP AddComponent(VSS_ID instanceId, VSS_ID writerId, VSS_COMPONENT_TYPE type, LPCWSTR logicalPath,
                              LPCWSTR name) override
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

    STDMETHODIMP SetBackupSucceeded(VSS_ID instanceId, VSS_ID writerId, VSS_COMPONENT_TYPE type,
                                    LPCWSTR logicalPath, LPCWSTR name, boolean succeeded) override
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

    STDMETHODIMP SetBackupOptions(VSS_ID writerId, VSS_COMPONENT_TYPE type, LPCWSTR logicalPath, LPCWSTR name,
                                  LPCWSTR options) override
    {
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

    STDMETHODIMP SetPreviousBackupStamp(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR) override
    {
        return NotImplemented("IVssBackupComponents::SetPreviousBackupStamp");
    }

    // ---- the snapshot set ----

    STDMETHODIMP StartSnapshotSet(VSS_ID *snapshotSetId) override
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

    STDMETHODIMP AddToSnapshotSet(VSS_PWSZ volumeName, VSS_ID providerId, VSS_ID *snapshotId) override
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

    STDMETHODIMP PrepareForBackup(IVssAsync **async) override
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

    STDMETHODIMP DoSnapshotSet(IVssAsync **async) override
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

    STDMETHODIMP GetSnapshotProperties(VSS_ID snapshotId, VSS_SNAPSHOT_PROP *prop) override
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
        prop->m_ProviderId = kSystemProviderId;
        prop->m_lSnapshotAttributes = snapshot.context | VSS_VOLSNAP_ATTR_DIFFERENTIAL;
        prop->m_tsCreationTimestamp = createdAt_;
        prop->m_eStatus = VSS_SS_CREATED;
        return S_OK;
    }

    STDMETHODIMP BackupComplete(IVssAsync **async) override
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

    STDMETHODIMP AbortBackup() override
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

    STDMETHODIMP DeleteSnapshots(VSS_ID sourceId, VSS_OBJECT_TYPE type, WINBOOL, LONG *deleted,
                                 VSS_ID *nondeleted) override
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

    STDMETHODIMP SaveAsXML(BSTR *xml) override
    {
        HRESULT hr;
        if (OperationFault("IVssBackupComponents::SaveAsXML", &hr))
            return hr;
        if (!xml)
            return E_INVALIDARG;
        *xml = nullptr;
        if (mode_ == Mode::None)
            return VSS_E_BAD_STATE;
        return PutBstr(Widen(DocumentToXml(document_)), xml);
    }

    // ---- restore ----

    STDMETHODIMP GetWriterComponentsCount(UINT *count) override
    {
        if (!count)
            return E_INVALIDARG;
        if (mode_ == Mode::None)
            return VSS_E_BAD_STATE;
        *count = UINT(document_.writers.size());
        return S_OK;
    }

    STDMETHODIMP GetWriterComponents(UINT index, IVssWriterComponentsExt **writer) override
    {
        if (!writer)
            return E_INVALIDARG;
        *writer = nullptr;
        if (mode_ == Mode::None)
            return VSS_E_BAD_STATE;
        if (index >= document_.writers.size())
            return E_INVALIDARG;
        views_.emplace_back(new WriterComponentsView(document_.writers[index]));
        *writer = views_.back().get();
        return S_OK;
    }

    STDMETHODIMP SetSelectedForRestore(VSS_ID writerId, VSS_COMPONENT_TYPE type, LPCWSTR logicalPath, LPCWSTR name,
                                       boolean selected) override
    {
        return SelectForRestore("SetSelectedForRestore", writerId, type, logicalPath, name, selected, nullptr);
    }

    STDMETHODIMP SetSelectedForRestoreEx(VSS_ID writerId, VSS_COMPONENT_TYPE type, LPCWSTR logicalPath,
                                         LPCWSTR name, boolean selected, VSS_ID instanceId) override
    {
        return SelectForRestore("SetSelectedForRestoreEx", writerId, type, logicalPath, name, selected, &instanceId);
    }

    STDMETHODIMP SetRestoreOptions(VSS_ID writerId, VSS_COMPONENT_TYPE type, LPCWSTR logicalPath, LPCWSTR name,
                                   LPCWSTR options) override
    {
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

    STDMETHODIMP SetAdditionalRestores(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, boolean) override
    {
        return NotImplemented("IVssBackupComponents::SetAdditionalRestores");
    }

    STDMETHODIMP AddAlternativeLocationMapping(VSS_ID writerId, VSS_COMPONENT_TYPE type, LPCWSTR logicalPath,
                                               LPCWSTR name, LPCWSTR path, LPCWSTR filespec, boolean recursive,
                                               LPCWSTR destination) override
    {
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

    STDMETHODIMP AddRestoreSubcomponent(VSS_ID writerId, VSS_COMPONENT_TYPE type, LPCWSTR logicalPath,
                                        LPCWSTR name, LPCWSTR subLogicalPath, LPCWSTR subName,
                                        boolean repair) override
    {
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

    STDMETHODIMP SetFileRestoreStatus(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, VSS_FILE_RESTORE_STATUS) override
    {
        return NotImplemented("IVssBackupComponents::SetFileRestoreStatus");
    }

    STDMETHODIMP AddNewTarget(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, boolean,
                              LPCWSTR) override
    {
        return NotImplemented("IVssBackupComponents::AddNewTarget");
    }

    STDMETHODIMP SetRangesFilePath(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, UINT, LPCWSTR) override
    {
        return NotImplemented("IVssBackupComponents::SetRangesFilePath");
    }

    STDMETHODIMP SetAuthoritativeRestore(VSS_ID writerId, VSS_COMPONENT_TYPE type, LPCWSTR logicalPath,
                                         LPCWSTR name, boolean authoritative) override
    {
        DocumentComponent *component = nullptr;
        const HRESULT hr = RestoreTarget("SetAuthoritativeRestore", writerId, type, logicalPath, name, &component);
        if (FAILED(hr))
            return hr;
        component->authoritative = authoritative;
        Record("SetAuthoritativeRestore", component->key, u"", u"", u"", authoritative);
        return S_OK;
    }

    STDMETHODIMP PreRestore(IVssAsync **async) override
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

    STDMETHODIMP PostRestore(IVssAsync **async) override
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

    // ---- not simulated ----

    STDMETHODIMP ImportSnapshots(IVssAsync **async) override
    {
        if (async)
            *async = nullptr;
        return NotImplemented("IVssBackupComponents::ImportSnapshots");
    }
    STDMETHODIMP BreakSnapshotSet(VSS_ID) override { return NotImplemented("IVssBackupComponents::BreakSnapshotSet"); }
    STDMETHODIMP Query(VSS_ID, VSS_OBJECT_TYPE, VSS_OBJECT_TYPE, IVssEnumObject **enumerator) override
    {
        if (enumerator)
            *enumerator = nullptr;
        return NotImplemented("IVssBackupComponents::Query");
    }
    STDMETHODIMP IsVolumeSupported(VSS_ID providerId, VSS_PWSZ volumeName, WINBOOL *supported) override
    {
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
    STDMETHODIMP DisableWriterClasses(const VSS_ID *, UINT) override
    {
        return NotImplemented("IVssBackupComponents::DisableWriterClasses");
    }
    STDMETHODIMP EnableWriterClasses(const VSS_ID *, UINT) override
    {
        return NotImplemented("IVssBackupComponents::EnableWriterClasses");
    }
    STDMETHODIMP DisableWriterInstances(const VSS_ID *, UINT) override
    {
        return NotImplemented("IVssBackupComponents::DisableWriterInstances");
    }
    STDMETHODIMP ExposeSnapshot(VSS_ID, VSS_PWSZ, LONG, VSS_PWSZ, VSS_PWSZ *exposed) override
    {
        if (exposed)
            *exposed = nullptr;
        return NotImplemented("IVssBackupComponents::ExposeSnapshot");
    }
    STDMETHODIMP RevertToSnapshot(VSS_ID, WINBOOL) override
    {
        return NotImplemented("IVssBackupComponents::RevertToSnapshot");
    }
    STDMETHODIMP QueryRevertStatus(VSS_PWSZ, IVssAsync **async) override
    {
        if (async)
            *async = nullptr;
        return NotImplemented("IVssBackupComponents::QueryRevertStatus");
    }
    STDMETHODIMP UnexposeSnapshot(VSS_ID) override { return NotImplemented("IVssBackupComponentsEx2::UnexposeSnapshot"); }
    STDMETHODIMP SetRollForward(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, VSS_ROLLFORWARD_TYPE, LPCWSTR) override
    {
        return NotImplemented("IVssBackupComponentsEx2::SetRollForward");
    }
    STDMETHODIMP SetRestoreName(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR) override
    {
        return NotImplemented("IVssBackupComponentsEx2::SetRestoreName");
    }
    STDMETHODIMP BreakSnapshotSetEx(VSS_ID, DWORD, IVssAsync **async) override
    {
        if (async)
            *async = nullptr;
        return NotImplemented("IVssBackupComponentsEx2::BreakSnapshotSetEx");
    }
    STDMETHODIMP PreFastRecovery(VSS_ID, DWORD, IVssAsync **async) override
    {
        if (async)
            *async = nullptr;
        return NotImplemented("IVssBackupComponentsEx2::PreFastRecovery");
    }
    STDMETHODIMP FastRecovery(VSS_ID, DWORD, IVssAsync **async) override
    {
        if (async)
            *async = nullptr;
        return NotImplemented("IVssBackupComponentsEx2::FastRecovery");
    }
    STDMETHODIMP AddSnapshotToRecoverySet(VSS_ID, DWORD, VSS_PWSZ) override
    {
        return NotImplemented("IVssBackupComponentsEx3::AddSnapshotToRecoverySet");
    }
    STDMETHODIMP RecoverSet(DWORD, IVssAsync **async) override
    {
        if (async)
            *async = nullptr;
        return NotImplemented("IVssBackupComponentsEx3::RecoverSet");
    }
    STDMETHODIMP GetSessionId(VSS_ID *sessionId) override
    {
        if (!sessionId)
            return E_INVALIDARG;
        *sessionId = sessionId_;
        return S_OK;
    }

    BackupComponents()
    {
        UuidCreate(&sessionId_);
        // 100-nanosecond intervals since 1601, as FILETIME counts.
        const auto sinceUnixEpoch = std::chrono::system_clock::now().time_since_epoch();
        createdAt_ = std::chrono::duration_cast<std::chrono::microseconds>(sinceUnixEpoch).count() * 10 +
                     11644473600LL * 10000000LL;
    }

private:
    enum class Mode { None, Backup, Restore };

    static HRESULT NotImplemented(const char *method)
    {
        LogNotImplemented(method, "this call");
        return E_NOTIMPL;
    }

    static HRESULT Finish(HRESULT result, IVssAsync **async)
    {
        *async = NewFinishedAsync(result);
        return S_OK;
    }

    void Record(const char *operation, const ComponentKey &key, const text &text1 = u"", const text &text2 = u"",
                const text &text3 = u"", bool flag = false)
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

    // Every writer that has not failed enters `next`, except one named in a fault for
    // `method`, which fails with `failedState`.
    void WritersEnter(const char *method, VSS_WRITER_STATE failedState, VSS_WRITER_STATE next)
    {
        for (WriterStatus &status : statuses_) {
            if (IsFailedState(status.state))
                continue;
            HRESULT hr;
            if (SubjectFault(method, status.name, &hr)) {
                status.state = failedState;
                status.failure = hr;
            } else {
                status.state = next;
            }
        }
    }

    // On a restore only the writers of the document take part; their status is what the
    // session gathered, or a stable one when it did not gather.
    void RestoreWritersEnter(const char *method, VSS_WRITER_STATE failedState)
    {
        for (const DocumentWriter &writer : document_.writers) {
            WriterStatus *status = nullptr;
            for (WriterStatus &known : statuses_)
                if (known.writerId == writer.metadata.id)
                    status = &known;
            if (!status) {
                statuses_.push_back({writer.metadata.instanceId, writer.metadata.id, writer.metadata.name,
                                     VSS_WS_STABLE, S_OK});
                status = &statuses_.back();
            }
            HRESULT hr;
            if (!IsFailedState(status->state) && SubjectFault(method, status->name, &hr)) {
                status->state = failedState;
                status->failure = hr;
            }
        }
    }

    DocumentWriter &DocumentWriterFor(const VssWriterModel &writer)
    {
        for (DocumentWriter &entry : document_.writers)
            if (entry.metadata.instanceId == writer.instanceId)
                return entry;
        document_.writers.push_back({writer, {}});
        return document_.writers.back();
    }

    DocumentComponent *FindDocumentComponent(const ComponentKey &key)
    {
        for (DocumentWriter &writer : document_.writers)
            for (DocumentComponent &component : writer.components)
                if (component.key.Matches(key.writerId, key.type, key.logicalPath, key.name))
                    return &component;
        return nullptr;
    }

    // The document component a restore call names: only a component that was backed up.
    HRESULT RestoreTarget(const char *method, VSS_ID writerId, VSS_COMPONENT_TYPE type, LPCWSTR logicalPath,
                          LPCWSTR name, DocumentComponent **component)
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

    HRESULT SelectForRestore(const char *method, VSS_ID writerId, VSS_COMPONENT_TYPE type, LPCWSTR logicalPath,
                             LPCWSTR name, boolean selected, const VSS_ID *instanceId)
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
    std::vector<std::unique_ptr<WriterComponentsView>> views_;
    GUID sessionId_ = {};
    VSS_TIMESTAMP createdAt_ = 0;
};

} // namespace

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
