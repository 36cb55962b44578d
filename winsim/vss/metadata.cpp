// Writer metadata as a requester examines it: the metadata document (XML), the
// examine-metadata object, its components and file descriptions, and finished
// asynchronous operations.
#include "vssinternal.h"

#include "../src/internal.h"

#include <pugixml.hpp>

#include <cstdlib>
#include <sstream>

namespace winsim {
namespace vss {

namespace {

const char kWriterRoot[] = "WRITER_METADATA";

void PutFile(pugi::xml_node parent, const char *element, const VssFileSpec &file)
{
    pugi::xml_node node = parent.append_child(element);
    node.append_attribute("path") = Narrow(file.path).c_str();
    node.append_attribute("filespec") = Narrow(file.filespec).c_str();
    node.append_attribute("recursive") = file.recursive;
    node.append_attribute("alternateLocation") = Narrow(file.alternateLocation).c_str();
    node.append_attribute("backupTypeMask") = unsigned(file.backupTypeMask);
}

// Attribute readers that refuse what is missing or malformed, so a damaged document is
// refused whole instead of loading with holes.
struct Strict {
    bool ok = true;

    std::string Text(pugi::xml_node node, const char *name)
    {
        pugi::xml_attribute attribute = node.attribute(name);
        if (!attribute)
            ok = false;
        return attribute.value();
    }
    text Wide(pugi::xml_node node, const char *name) { return Widen(Text(node, name)); }
    unsigned long Number(pugi::xml_node node, const char *name, unsigned long limit)
    {
        const std::string digits = Text(node, name);
        char *end = nullptr;
        const unsigned long value = std::strtoul(digits.c_str(), &end, 10);
        if (digits.empty() || *end != 0 || value > limit)
            ok = false;
        return value;
    }
    bool Flag(pugi::xml_node node, const char *name)
    {
        const std::string value = Text(node, name);
        if (value != "true" && value != "false")
            ok = false;
        return value == "true";
    }
    GUID Guid(pugi::xml_node node, const char *name)
    {
        GUID id = {};
        if (!ParseGuid(Wide(node, name), &id))
            ok = false;
        return id;
    }
};

std::vector<VssFileSpec> GetFiles(Strict &in, pugi::xml_node parent, const char *element)
{
    std::vector<VssFileSpec> files;
    for (pugi::xml_node node : parent.children(element)) {
        VssFileSpec file;
        file.path = in.Wide(node, "path");
        file.filespec = in.Wide(node, "filespec");
        file.recursive = in.Flag(node, "recursive");
        file.alternateLocation = in.Wide(node, "alternateLocation");
        file.backupTypeMask = DWORD(in.Number(node, "backupTypeMask", 0xffffffffUL));
        files.push_back(file);
    }
    return files;
}

class StringWriter : public pugi::xml_writer {
public:
    void write(const void *data, size_t size) override { out.append(static_cast<const char *>(data), size); }
    std::string out;
};

} // namespace

void PutWriter(pugi::xml_node root, const VssWriterModel &writer)
{
    root.append_attribute("name") = Narrow(writer.name).c_str();
    root.append_attribute("writerId") = Narrow(GuidText(writer.id)).c_str();
    root.append_attribute("instanceId") = Narrow(GuidText(writer.instanceId)).c_str();
    root.append_attribute("instanceName") = Narrow(writer.instanceName).c_str();
    root.append_attribute("usage") = writer.usage;
    root.append_attribute("source") = writer.source;
    root.append_attribute("backupSchema") = unsigned(writer.backupSchema);
    pugi::xml_node method = root.append_child("RESTORE_METHOD");
    method.append_attribute("method") = writer.restoreMethod;
    method.append_attribute("service") = Narrow(writer.restoreService).c_str();
    method.append_attribute("userProcedure") = Narrow(writer.userProcedure).c_str();
    method.append_attribute("writerRestore") = writer.writerRestore;
    method.append_attribute("rebootRequired") = writer.rebootRequired;
    for (const VssFileSpec &file : writer.alternateLocations)
        PutFile(method, "ALTERNATE_LOCATION_MAPPING", file);
    for (const VssFileSpec &file : writer.includeFiles)
        PutFile(root, "INCLUDE_FILES", file);
    for (const VssFileSpec &file : writer.excludeFiles)
        PutFile(root, "EXCLUDE_FILES", file);
    for (const VssComponentModel &component : writer.components) {
        pugi::xml_node node = root.append_child("COMPONENT");
        node.append_attribute("type") = component.type;
        node.append_attribute("logicalPath") = Narrow(component.logicalPath).c_str();
        node.append_attribute("name") = Narrow(component.name).c_str();
        node.append_attribute("caption") = Narrow(component.caption).c_str();
        node.append_attribute("flags") = unsigned(component.flags);
        node.append_attribute("selectable") = component.selectable;
        node.append_attribute("selectableForRestore") = component.selectableForRestore;
        node.append_attribute("restoreMetadata") = component.restoreMetadata;
        node.append_attribute("notifyOnBackupComplete") = component.notifyOnBackupComplete;
        node.append_attribute("restoreTarget") = component.restoreTarget;
        for (const VssFileSpec &file : component.files)
            PutFile(node, "FILE_GROUP_FILES", file);
        for (const VssFileSpec &file : component.databaseFiles)
            PutFile(node, "DATABASE_FILES", file);
        for (const VssFileSpec &file : component.logFiles)
            PutFile(node, "DATABASE_LOGFILES", file);
    }
}

bool GetWriter(pugi::xml_node root, VssWriterModel *writer)
{
    Strict in;
    VssWriterModel loaded;
    loaded.name = in.Wide(root, "name");
    loaded.id = in.Guid(root, "writerId");
    loaded.instanceId = in.Guid(root, "instanceId");
    loaded.instanceName = in.Wide(root, "instanceName");
    loaded.usage = int(in.Number(root, "usage", 4));
    loaded.source = int(in.Number(root, "source", 3));
    loaded.backupSchema = DWORD(in.Number(root, "backupSchema", 0xffffffffUL));
    pugi::xml_node method = root.child("RESTORE_METHOD");
    if (!method)
        return false;
    loaded.restoreMethod = int(in.Number(method, "method", 8));
    loaded.restoreService = in.Wide(method, "service");
    loaded.userProcedure = in.Wide(method, "userProcedure");
    loaded.writerRestore = int(in.Number(method, "writerRestore", 3));
    loaded.rebootRequired = in.Flag(method, "rebootRequired");
    loaded.alternateLocations = GetFiles(in, method, "ALTERNATE_LOCATION_MAPPING");
    loaded.includeFiles = GetFiles(in, root, "INCLUDE_FILES");
    loaded.excludeFiles = GetFiles(in, root, "EXCLUDE_FILES");
    for (pugi::xml_node node : root.children("COMPONENT")) {
        VssComponentModel component;
        component.type = int(in.Number(node, "type", 2));
        if (component.type < 1)
            in.ok = false;
        component.logicalPath = in.Wide(node, "logicalPath");
        component.name = in.Wide(node, "name");
        component.caption = in.Wide(node, "caption");
        component.flags = DWORD(in.Number(node, "flags", 0xffffffffUL));
        component.selectable = in.Flag(node, "selectable");
        component.selectableForRestore = in.Flag(node, "selectableForRestore");
        component.restoreMetadata = in.Flag(node, "restoreMetadata");
        component.notifyOnBackupComplete = in.Flag(node, "notifyOnBackupComplete");
        component.restoreTarget = int(in.Number(node, "restoreTarget", 4));
        component.files = GetFiles(in, node, "FILE_GROUP_FILES");
        component.databaseFiles = GetFiles(in, node, "DATABASE_FILES");
        component.logFiles = GetFiles(in, node, "DATABASE_LOGFILES");
        loaded.components.push_back(component);
    }
    if (!in.ok || loaded.name.empty())
        return false;
    *writer = std::move(loaded);
    return true;
}

bool SingleRoot(const pugi::xml_document &document)
{
    int elements = 0;
    for (pugi::xml_node node : document.children())
        elements += node.type() == pugi::node_element;
    return elements == 1;
}

std::string WriterToXml(const VssWriterModel &writer)
{
    pugi::xml_document document;
    PutWriter(document.append_child(kWriterRoot), writer);
    StringWriter out;
    document.save(out, "", pugi::format_raw);
    return out.out;
}

bool WriterFromXml(const std::string &xml, VssWriterModel *writer)
{
    pugi::xml_document document;
    if (!document.load_buffer(xml.data(), xml.size()))
        return false;
    pugi::xml_node root = document.child(kWriterRoot);
    if (!root || !SingleRoot(document))
        return false;
    return GetWriter(root, writer);
}

namespace {

// ---- IVssWMFiledesc ----

class FileDescription final : public IVssWMFiledesc, public RefCounted {
public:
    explicit FileDescription(const VssFileSpec &file) : file_(file) {}

    STDMETHODIMP QueryInterface(REFIID riid, void **object) override
    {
        return AnswerInterface(this, riid, object, {&IID_IVssWMFiledesc});
    }
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }

    STDMETHODIMP GetPath(BSTR *path) override { return PutBstr(file_.path, path); }
    STDMETHODIMP GetFilespec(BSTR *filespec) override { return PutBstr(file_.filespec, filespec); }
    STDMETHODIMP GetRecursive(boolean *recursive) override
    {
        if (!recursive)
            return E_INVALIDARG;
        *recursive = file_.recursive;
        return S_OK;
    }
    STDMETHODIMP GetAlternateLocation(BSTR *location) override { return PutBstr(file_.alternateLocation, location); }
    STDMETHODIMP GetBackupTypeMask(DWORD *mask) override
    {
        if (!mask)
            return E_INVALIDARG;
        *mask = file_.backupTypeMask;
        return S_OK;
    }

private:
    VssFileSpec file_;
};

HRESULT HandOutFile(const std::vector<VssFileSpec> &files, UINT index, IVssWMFiledesc **out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    if (index >= files.size())
        return E_INVALIDARG;
    *out = new FileDescription(files[index]);
    return S_OK;
}

// ---- IVssWMComponent ----

class WriterComponent final : public IVssWMComponent, public RefCounted {
public:
    explicit WriterComponent(const VssComponentModel &component) : component_(component) {}

    STDMETHODIMP QueryInterface(REFIID riid, void **object) override
    {
        return AnswerInterface(this, riid, object, {&IID_IVssWMComponent});
    }
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }

    STDMETHODIMP GetComponentInfo(PVSSCOMPONENTINFO *info) override
    {
        if (!info)
            return E_INVALIDARG;
        auto *made = new VSS_COMPONENTINFO{};
        made->type = VSS_COMPONENT_TYPE(component_.type);
        made->bstrLogicalPath = component_.logicalPath.empty() ? nullptr : SysAllocString(component_.logicalPath.c_str());
        made->bstrComponentName = SysAllocString(component_.name.c_str());
        made->bstrCaption = component_.caption.empty() ? nullptr : SysAllocString(component_.caption.c_str());
        made->bRestoreMetadata = component_.restoreMetadata;
        made->bNotifyOnBackupComplete = component_.notifyOnBackupComplete;
        made->bSelectable = component_.selectable;
        made->bSelectableForRestore = component_.selectableForRestore;
        made->dwComponentFlags = component_.flags;
        made->cFileCount = UINT(component_.files.size());
        made->cDatabases = UINT(component_.databaseFiles.size());
        made->cLogFiles = UINT(component_.logFiles.size());
        made->cDependencies = 0;
        if (!made->bstrComponentName || (!component_.logicalPath.empty() && !made->bstrLogicalPath) ||
            (!component_.caption.empty() && !made->bstrCaption)) {
            FreeComponentInfo(made);
            return E_OUTOFMEMORY;
        }
        *info = made;
        return S_OK;
    }
    STDMETHODIMP FreeComponentInfo(PVSSCOMPONENTINFO info) override
    {
        if (!info)
            return S_OK;
        SysFreeString(info->bstrLogicalPath);
        SysFreeString(info->bstrComponentName);
        SysFreeString(info->bstrCaption);
        delete info;
        return S_OK;
    }
    STDMETHODIMP GetFile(UINT index, IVssWMFiledesc **file) override
    {
        return HandOutFile(component_.files, index, file);
    }
    STDMETHODIMP GetDatabaseFile(UINT index, IVssWMFiledesc **file) override
    {
        return HandOutFile(component_.databaseFiles, index, file);
    }
    STDMETHODIMP GetDatabaseLogFile(UINT index, IVssWMFiledesc **file) override
    {
        return HandOutFile(component_.logFiles, index, file);
    }
    STDMETHODIMP GetDependency(UINT, IVssWMDependency **dependency) override
    {
        // No described component has dependencies (cDependencies is 0).
        if (dependency)
            *dependency = nullptr;
        return E_INVALIDARG;
    }

private:
    VssComponentModel component_;
};

// ---- IVssExamineWriterMetadataEx2 ----

class ExamineWriterMetadata final : public IVssExamineWriterMetadataEx2, public RefCounted {
public:
    explicit ExamineWriterMetadata(const VssWriterModel &writer) : writer_(writer) {}

    STDMETHODIMP QueryInterface(REFIID riid, void **object) override
    {
        return AnswerInterface(this, riid, object,
                               {&IID_IVssExamineWriterMetadata, &IID_IVssExamineWriterMetadataEx,
                                &IID_IVssExamineWriterMetadataEx2});
    }
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }

    STDMETHODIMP GetIdentity(VSS_ID *instanceId, VSS_ID *writerId, BSTR *name, VSS_USAGE_TYPE *usage,
                             VSS_SOURCE_TYPE *source) override
    {
        if (!instanceId || !writerId || !name || !usage || !source)
            return E_INVALIDARG;
        *instanceId = writer_.instanceId;
        *writerId = writer_.id;
        *usage = VSS_USAGE_TYPE(writer_.usage);
        *source = VSS_SOURCE_TYPE(writer_.source);
        return PutBstr(writer_.name, name);
    }
    STDMETHODIMP GetFileCounts(UINT *includes, UINT *excludes, UINT *components) override
    {
        if (!includes || !excludes || !components)
            return E_INVALIDARG;
        *includes = UINT(writer_.includeFiles.size());
        *excludes = UINT(writer_.excludeFiles.size());
        *components = UINT(writer_.components.size());
        return S_OK;
    }
    STDMETHODIMP GetIncludeFile(UINT index, IVssWMFiledesc **file) override
    {
        return HandOutFile(writer_.includeFiles, index, file);
    }
    STDMETHODIMP GetExcludeFile(UINT index, IVssWMFiledesc **file) override
    {
        return HandOutFile(writer_.excludeFiles, index, file);
    }
    STDMETHODIMP GetComponent(UINT index, IVssWMComponent **component) override
    {
        if (!component)
            return E_INVALIDARG;
        *component = nullptr;
        if (index >= writer_.components.size())
            return E_INVALIDARG;
        *component = new WriterComponent(writer_.components[index]);
        return S_OK;
    }
    STDMETHODIMP GetRestoreMethod(VSS_RESTOREMETHOD_ENUM *method, BSTR *service, BSTR *userProcedure,
                                  VSS_WRITERRESTORE_ENUM *writerRestore, boolean *rebootRequired,
                                  UINT *mappings) override
    {
        if (!method || !service || !userProcedure || !writerRestore || !rebootRequired || !mappings)
            return E_INVALIDARG;
        *service = nullptr;
        *userProcedure = nullptr;
        *method = VSS_RESTOREMETHOD_ENUM(writer_.restoreMethod);
        *writerRestore = VSS_WRITERRESTORE_ENUM(writer_.writerRestore);
        *rebootRequired = writer_.rebootRequired;
        *mappings = UINT(writer_.alternateLocations.size());
        // A writer that declares no restore method answers S_FALSE, as the SDK documents.
        if (writer_.restoreMethod == VSS_RME_UNDEFINED)
            return S_FALSE;
        HRESULT hr = PutBstr(writer_.restoreService, service);
        if (SUCCEEDED(hr))
            hr = PutBstr(writer_.userProcedure, userProcedure);
        return hr;
    }
    STDMETHODIMP GetAlternateLocationMapping(UINT index, IVssWMFiledesc **file) override
    {
        return HandOutFile(writer_.alternateLocations, index, file);
    }
    STDMETHODIMP GetBackupSchema(DWORD *schema) override
    {
        if (!schema)
            return E_INVALIDARG;
        *schema = writer_.backupSchema;
        return S_OK;
    }
    STDMETHODIMP GetDocument(IXMLDOMDocument **document) override
    {
        if (document)
            *document = nullptr;
        LogNotImplemented("IVssExamineWriterMetadata::GetDocument", "XML DOM documents");
        return E_NOTIMPL;
    }
    STDMETHODIMP SaveAsXML(BSTR *xml) override { return PutBstr(Widen(WriterToXml(writer_)), xml); }
    STDMETHODIMP LoadFromXML(BSTR xml) override
    {
        VssWriterModel loaded;
        if (!xml || !WriterFromXml(Narrow(text(xml, SysStringLen(xml))), &loaded))
            return VSS_E_INVALID_XML_DOCUMENT;
        writer_ = std::move(loaded);
        return S_OK;
    }

    STDMETHODIMP GetIdentityEx(VSS_ID *instanceId, VSS_ID *writerId, BSTR *name, BSTR *instanceName,
                               VSS_USAGE_TYPE *usage, VSS_SOURCE_TYPE *source) override
    {
        if (!instanceName)
            return E_INVALIDARG;
        const HRESULT hr = GetIdentity(instanceId, writerId, name, usage, source);
        if (FAILED(hr))
            return hr;
        return PutBstr(writer_.instanceName, instanceName);
    }

    STDMETHODIMP GetVersion(DWORD *major, DWORD *minor) override
    {
        if (!major || !minor)
            return E_INVALIDARG;
        *major = 1;
        *minor = 0;
        return S_OK;
    }
    STDMETHODIMP GetExcludeFromSnapshotCount(UINT *count) override
    {
        if (!count)
            return E_INVALIDARG;
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetExcludeFromSnapshotFile(UINT, IVssWMFiledesc **file) override
    {
        if (file)
            *file = nullptr;
        return E_INVALIDARG;
    }

private:
    VssWriterModel writer_;
};

// ---- IVssAsync ----

class FinishedAsync final : public IVssAsync, public RefCounted {
public:
    explicit FinishedAsync(HRESULT result) : result_(result) {}

    STDMETHODIMP QueryInterface(REFIID riid, void **object) override
    {
        return AnswerInterface(this, riid, object, {&IID_IVssAsync});
    }
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }

    // The work was done when the operation was started; there is nothing to cancel.
    STDMETHODIMP Cancel() override { return VSS_S_ASYNC_FINISHED; }
    STDMETHODIMP Wait(DWORD) override { return S_OK; }
    STDMETHODIMP QueryStatus(HRESULT *result, INT *) override
    {
        if (!result)
            return E_INVALIDARG;
        *result = SUCCEEDED(result_) ? VSS_S_ASYNC_FINISHED : result_;
        return S_OK;
    }

private:
    HRESULT result_;
};

} // namespace

IVssExamineWriterMetadataEx2 *NewExamineWriterMetadata(const VssWriterModel &writer)
{
    return new ExamineWriterMetadata(writer);
}

IVssAsync *NewFinishedAsync(HRESULT result) { return new FinishedAsync(result); }

IVssWMFiledesc *NewFileDescription(const VssFileSpec &file) { return new FileDescription(file); }

} // namespace vss
} // namespace winsim

EXTERN_C HRESULT CreateVssExamineWriterMetadataInternal(BSTR bstrXML, IVssExamineWriterMetadata **ppMetadata)
{
    using namespace winsim::vss;
    if (!ppMetadata)
        return E_INVALIDARG;
    *ppMetadata = nullptr;
    winsim::VssWriterModel writer;
    if (!bstrXML || !WriterFromXml(Narrow(text(bstrXML, SysStringLen(bstrXML))), &writer))
        return VSS_E_INVALID_XML_DOCUMENT;
    *ppMetadata = NewExamineWriterMetadata(writer);
    return S_OK;
}
