// Writer metadata copied once into plain objects, and the components a saved
// backup-components document lists.
#include "internal.h"

namespace vsscr {

namespace {

// IVssExamineWriterMetadataEx, asked for only to read the writer's instance name.
const IID kExamineWriterMetadataExId = {0x0c0e5ec0, 0xca44, 0x472b, {0xb7, 0x02, 0xe6, 0x52, 0xdb, 0x1c, 0x04, 0x51}};

HRESULT CopyFiledesc(IVssWMFiledesc *filedesc, std::shared_ptr<CVssWriterFile> *out)
{
    auto file = std::make_shared<CVssWriterFile>();
    Bstr path, spec, alternate;
    HRESULT hr = filedesc->GetPath(path.put());
    if (SUCCEEDED(hr))
        hr = filedesc->GetFilespec(spec.put());
    boolean recursive = 0;
    if (SUCCEEDED(hr))
        hr = filedesc->GetRecursive(&recursive);
    if (SUCCEEDED(hr))
        hr = filedesc->GetAlternateLocation(alternate.put());
    if (FAILED(hr))
        return hr;
    file->path = path.str();
    file->fileSpec = spec.str();
    file->recursive = recursive != 0;
    file->alternateLocation = alternate.str();
    *out = std::move(file);
    return S_OK;
}

// Reads count file descriptions through get(i, &filedesc) into a list.
template <typename Get>
HRESULT CopyFiledescs(UINT count, Get get, CVssWriterFileList *out)
{
    for (UINT i = 0; i < count; ++i) {
        ComPtr<IVssWMFiledesc> filedesc;
        HRESULT hr = get(i, filedesc.put());
        if (FAILED(hr))
            return hr;
        if (!filedesc)
            return E_POINTER;
        std::shared_ptr<CVssWriterFile> file;
        hr = CopyFiledesc(filedesc.get(), &file);
        if (FAILED(hr))
            return hr;
        out->push_back(std::move(file));
    }
    return S_OK;
}

HRESULT CopyComponent(IVssWMComponent *source, CVssCrWriter *writer, std::shared_ptr<CVssWriterComp> *out)
{
    ComponentInfo info(source);
    HRESULT hr = info.Fetch();
    if (FAILED(hr))
        return hr;
    if (!info)
        return E_POINTER;
    auto component = std::make_shared<CVssWriterComp>();
    component->name = info->bstrComponentName ? wstr(info->bstrComponentName) : wstr();
    component->logicalPath = info->bstrLogicalPath ? wstr(info->bstrLogicalPath) : wstr();
    component->caption = info->bstrCaption ? wstr(info->bstrCaption) : wstr();
    component->componentType = info->type;
    component->componentFlags = info->dwComponentFlags;
    component->notSelectable = !info->bSelectable;
    component->selectableForRestore = info->bSelectableForRestore != 0;
    component->restoreTarget = VSS_RT_ORIGINAL;
    component->backupClass =
        (writer->usageType == VSS_UT_BOOTABLESYSTEMSTATE || writer->usageType == VSS_UT_SYSTEMSERVICE) ? 1 : 0;
    component->writer = writer;

    hr = CopyFiledescs(info->cFileCount, [&](UINT i, IVssWMFiledesc **f) { return source->GetFile(i, f); },
                       &component->files);
    if (SUCCEEDED(hr))
        hr = CopyFiledescs(info->cDatabases, [&](UINT i, IVssWMFiledesc **f) { return source->GetDatabaseFile(i, f); },
                           &component->databaseFiles);
    if (SUCCEEDED(hr))
        hr = CopyFiledescs(info->cLogFiles,
                           [&](UINT i, IVssWMFiledesc **f) { return source->GetDatabaseLogFile(i, f); },
                           &component->databaseLogFiles);
    if (FAILED(hr))
        return hr;
    *out = std::move(component);
    return S_OK;
}

} // namespace

HRESULT BuildWriter(IVssExamineWriterMetadata *metadata, bool identityOnly, std::shared_ptr<CVssCrWriter> *out)
{
    auto writer = std::make_shared<CVssCrWriter>();
    Bstr name;
    VSS_USAGE_TYPE usage = VSS_UT_UNDEFINED;
    VSS_SOURCE_TYPE source = VSS_ST_UNDEFINED;
    HRESULT hr = metadata->GetIdentity(&writer->instanceId, &writer->writerId, name.put(), &usage, &source);
    if (FAILED(hr)) {
        LogResult("GetIdentity", hr);
        return hr;
    }
    writer->name = name.str();
    writer->usageType = usage;
    writer->sourceType = source;

    ComPtr<IVssExamineWriterMetadataEx> extended;
    if (SUCCEEDED(metadata->QueryInterface(kExamineWriterMetadataExId, reinterpret_cast<void **>(extended.put()))) &&
        extended) {
        Bstr instanceName, ignoredName;
        VSS_ID ignoredInstance, ignoredWriter;
        if (SUCCEEDED(extended->GetIdentityEx(&ignoredInstance, &ignoredWriter, ignoredName.put(), instanceName.put(),
                                              &usage, &source)))
            writer->instanceName = instanceName.str();
    }

    if (identityOnly) {
        *out = std::move(writer);
        return S_OK;
    }

    UINT includeCount = 0, excludeCount = 0, componentCount = 0;
    hr = metadata->GetFileCounts(&includeCount, &excludeCount, &componentCount);
    if (FAILED(hr)) {
        LogResult("GetFileCounts", hr);
        return hr;
    }
    hr = CopyFiledescs(excludeCount, [&](UINT i, IVssWMFiledesc **f) { return metadata->GetExcludeFile(i, f); },
                       &writer->excludeFiles);
    if (FAILED(hr)) {
        LogResult("GetExcludeFile", hr);
        return hr;
    }
    for (UINT i = 0; i < componentCount; ++i) {
        ComPtr<IVssWMComponent> source;
        hr = metadata->GetComponent(i, source.put());
        if (SUCCEEDED(hr) && !source)
            hr = E_POINTER;
        std::shared_ptr<CVssWriterComp> component;
        if (SUCCEEDED(hr))
            hr = CopyComponent(source.get(), writer.get(), &component);
        if (FAILED(hr)) {
            LogResult("GetComponent", hr);
            return hr;
        }
        writer->components.push_back(std::move(component));
    }

    Bstr service, userProcedure;
    boolean rebootRequired = 0;
    UINT mappingCount = 0;
    hr = metadata->GetRestoreMethod(&writer->restoreMethod, service.put(), userProcedure.put(), &writer->writerRestore,
                                    &rebootRequired, &mappingCount);
    if (FAILED(hr)) {
        LogResult("GetRestoreMethod", hr);
        return hr;
    }
    // S_FALSE: the writer gave no restore method; the defaults stand.
    writer->restoreService = service.str();
    writer->restoreUserProcedure = userProcedure.str();
    writer->rebootRequired = rebootRequired != 0;
    hr = CopyFiledescs(mappingCount,
                       [&](UINT i, IVssWMFiledesc **f) { return metadata->GetAlternateLocationMapping(i, f); },
                       &writer->alternateLocationMappings);
    if (FAILED(hr)) {
        LogResult("GetAlternateLocationMapping", hr);
        return hr;
    }
    // A component restores to its original place unless the writer maps it elsewhere.
    if (writer->restoreMethod == VSS_RME_RESTORE_TO_ALTERNATE_LOCATION) {
        for (auto &component : writer->components)
            component->restoreTarget = VSS_RT_ALTERNATE;
    }

    Bstr document;
    hr = metadata->SaveAsXML(document.put());
    if (FAILED(hr)) {
        LogResult("SaveAsXML (writer metadata)", hr);
        return hr;
    }
    writer->metadataXml = ToUtf8(document.str());
    writer->metadataLoaded = true;
    if (LogLevel() >= 3) {
        LogLine("writer \"%s\" %s: %u components, %u excludes", ToUtf8(writer->name).c_str(),
                GuidTextUtf8(writer->writerId).c_str(), componentCount, excludeCount);
    }
    *out = std::move(writer);
    return S_OK;
}

HRESULT ReadDocumentComponents(IVssBackupComponents *components, std::vector<DocumentComponent> *out)
{
    std::vector<DocumentComponent> listed;
    UINT writerCount = 0;
    HRESULT hr = components->GetWriterComponentsCount(&writerCount);
    if (FAILED(hr)) {
        LogResult("GetWriterComponentsCount", hr);
        return hr;
    }
    for (UINT w = 0; w < writerCount; ++w) {
        ComPtr<IVssWriterComponentsExt> writerComponents;
        hr = components->GetWriterComponents(w, writerComponents.put());
        if (SUCCEEDED(hr) && !writerComponents)
            hr = E_POINTER;
        VSS_ID instanceId = GUID_NULL, writerId = GUID_NULL;
        if (SUCCEEDED(hr))
            hr = writerComponents->GetWriterInfo(&instanceId, &writerId);
        UINT componentCount = 0;
        if (SUCCEEDED(hr))
            hr = writerComponents->GetComponentCount(&componentCount);
        if (FAILED(hr)) {
            LogResult("GetWriterComponents", hr);
            return hr;
        }
        for (UINT c = 0; c < componentCount; ++c) {
            ComPtr<IVssComponent> component;
            hr = writerComponents->GetComponent(c, component.put());
            if (SUCCEEDED(hr) && !component)
                hr = E_POINTER;
            DocumentComponent entry;
            entry.writerId = writerId;
            entry.instanceId = instanceId;
            Bstr logicalPath, name;
            if (SUCCEEDED(hr))
                hr = component->GetLogicalPath(logicalPath.put());
            if (SUCCEEDED(hr))
                hr = component->GetComponentName(name.put());
            if (SUCCEEDED(hr))
                hr = component->GetComponentType(&entry.type);
            // The writer sets the target at PreRestore; before that there may be none.
            if (SUCCEEDED(hr) && FAILED(component->GetRestoreTarget(&entry.restoreTarget)))
                entry.restoreTarget = VSS_RT_UNDEFINED;
            if (FAILED(hr)) {
                LogResult("GetComponent (document)", hr);
                return hr;
            }
            entry.logicalPath = logicalPath.str();
            entry.name = name.str();
            listed.push_back(std::move(entry));
        }
    }
    *out = std::move(listed);
    return S_OK;
}

namespace {

// logicalPath\name, or name alone: the path under which a component's children live.
wstr FullPathOf(const wstr &logicalPath, const wstr &name)
{
    return logicalPath.empty() ? name : logicalPath + W("\\") + name;
}

// True when childLogicalPath is the holder's full path or lies below it.
bool LiesUnder(const wstr &childLogicalPath, const wstr &holderFullPath)
{
    if (holderFullPath.empty() || childLogicalPath.size() < holderFullPath.size())
        return false;
    if (!SameTextIgnoringCase(childLogicalPath.substr(0, holderFullPath.size()), holderFullPath))
        return false;
    return childLogicalPath.size() == holderFullPath.size() || childLogicalPath[holderFullPath.size()] == '\\';
}

} // namespace

void MarkDocumentComponents(CVssCrWriter &writer, const std::vector<DocumentComponent> &document)
{
    for (auto &component : writer.components) {
        component->inBackupDocument = false;
        component->restoreSubcomponent = false;
        for (const auto &entry : document) {
            if (!IsEqualGUID(entry.writerId, writer.writerId))
                continue;
            if (SameTextIgnoringCase(entry.logicalPath, component->logicalPath) &&
                SameTextIgnoringCase(entry.name, component->name)) {
                component->inBackupDocument = true;
                if (entry.restoreTarget != VSS_RT_UNDEFINED)
                    component->restoreTarget = entry.restoreTarget;
                break;
            }
        }
    }
    // A component backed up only because a listed component holds it can be restored on
    // its own when its writer allows that: VSS calls it a restore subcomponent.
    for (auto &component : writer.components) {
        if (component->inBackupDocument || !component->selectableForRestore)
            continue;
        for (const auto &entry : document) {
            if (!IsEqualGUID(entry.writerId, writer.writerId))
                continue;
            if (LiesUnder(component->logicalPath, FullPathOf(entry.logicalPath, entry.name))) {
                component->restoreSubcomponent = true;
                component->parentComponentType = entry.type;
                component->parentLogicalPath = entry.logicalPath;
                component->parentName = entry.name;
                break;
            }
        }
    }
}

HRESULT GatherWriters(IVssBackupComponents *components, bool identityOnly, const wstr &writerName,
                      CVssCr *requester, CVssCrWriterList *out)
{
    GatheredMetadata gathered(components);
    UINT writerCount = 0;
    HRESULT hr = components->GetWriterMetadataCount(&writerCount);
    LogResult("GetWriterMetadataCount", hr);
    if (FAILED(hr))
        return hr;
    for (UINT i = 0; i < writerCount; ++i) {
        VSS_ID instanceId = GUID_NULL;
        ComPtr<IVssExamineWriterMetadata> metadata;
        hr = components->GetWriterMetadata(i, &instanceId, metadata.put());
        if (SUCCEEDED(hr) && !metadata)
            hr = E_POINTER;
        if (FAILED(hr)) {
            LogResult("GetWriterMetadata", hr);
            return hr;
        }
        std::shared_ptr<CVssCrWriter> writer;
        hr = BuildWriter(metadata.get(), identityOnly, &writer);
        if (FAILED(hr))
            return hr;
        if (!writerName.empty() && !SameTextIgnoringCase(writer->name, writerName))
            continue;
        writer->requester = requester;
        out->push_back(std::move(writer));
    }
    return S_OK;
}

} // namespace vsscr
