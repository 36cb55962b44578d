// Writers and their components: the copied metadata, and the selection calls that reach
// the session's backup-components object.
#include "internal.h"

using vsscr::LogLine;
using vsscr::LogResult;

// ---- CVssCrWriter ----

long CVssCrWriter::GetAllComponents(CVssWriterCompList &out) const
{
    out.insert(out.end(), components.begin(), components.end());
    return S_OK;
}

long CVssCrWriter::GetCompByName(const wstr &componentName, std::shared_ptr<CVssWriterComp> &out) const
{
    for (const auto &component : components) {
        if (vsscr::SameTextIgnoringCase(component->name, componentName)) {
            out = component;
            return S_OK;
        }
    }
    return VSS_E_OBJECT_NOT_FOUND;
}

long CVssCrWriter::GetExcludeFile(CVssWriterFileList &out) const
{
    out.insert(out.end(), excludeFiles.begin(), excludeFiles.end());
    return S_OK;
}

long CVssCrWriter::GetAlternateLocationMapping(CVssWriterFileList &out) const
{
    out.insert(out.end(), alternateLocationMappings.begin(), alternateLocationMappings.end());
    return S_OK;
}

long CVssCrWriter::GetRestoreMethod(VSS_RESTOREMETHOD_ENUM *method, CComBSTR &service, CComBSTR &userProcedure,
                                    VSS_WRITERRESTORE_ENUM *writerRestoreOut, bool *rebootRequiredOut,
                                    unsigned int *mappingCount) const
{
    if (!metadataLoaded)
        return VSS_E_BAD_STATE;
    if (method != nullptr)
        *method = restoreMethod;
    if (writerRestoreOut != nullptr)
        *writerRestoreOut = writerRestore;
    if (rebootRequiredOut != nullptr)
        *rebootRequiredOut = rebootRequired;
    if (mappingCount != nullptr)
        *mappingCount = static_cast<unsigned int>(alternateLocationMappings.size());
    service.Empty();
    userProcedure.Empty();
    if (!restoreService.empty())
        service.Attach(SysAllocStringLen(restoreService.data(), static_cast<UINT>(restoreService.size())));
    if (!restoreUserProcedure.empty())
        userProcedure.Attach(SysAllocStringLen(restoreUserProcedure.data(), static_cast<UINT>(restoreUserProcedure.size())));
    return S_OK;
}

long CVssCrWriter::GetStatus(_VSS_WRITER_STATE *state, bool refresh)
{
    if (requester == nullptr || requester->session->kind == CVssCr::Session::Kind::None)
        return VSS_E_BAD_STATE;
    IVssBackupComponents *components = requester->session->components.get();
    if (refresh) {
        HRESULT hr =
            vsscr::RunAsync("GatherWriterStatus", [&](IVssAsync **async) { return components->GatherWriterStatus(async); });
        if (FAILED(hr))
            return hr;
    }
    vsscr::GatheredStatus gathered(components);
    UINT count = 0;
    HRESULT hr = components->GetWriterStatusCount(&count);
    LogResult("GetWriterStatusCount", hr);
    if (FAILED(hr))
        return hr;
    for (UINT i = 0; i < count; ++i) {
        VSS_ID foundInstance = GUID_NULL, foundWriter = GUID_NULL;
        vsscr::Bstr foundName;
        VSS_WRITER_STATE foundState = VSS_WS_UNKNOWN;
        HRESULT failure = S_OK;
        hr = components->GetWriterStatus(i, &foundInstance, &foundWriter, foundName.put(), &foundState, &failure);
        if (FAILED(hr)) {
            LogResult("GetWriterStatus", hr);
            return hr;
        }
        if (!IsEqualGUID(foundWriter, writerId))
            continue;
        if (!IsEqualGUID(instanceId, GUID_NULL) && !IsEqualGUID(foundInstance, instanceId))
            continue;
        if (state != nullptr)
            *state = foundState;
        LogLine("writer \"%s\": state %d, failure 0x%08x", vsscr::ToUtf8(name).c_str(), static_cast<int>(foundState),
                static_cast<unsigned>(failure));
        if (foundState >= VSS_WS_FAILED_AT_IDENTIFY && foundState < VSS_WS_COUNT)
            return FAILED(failure) ? failure : VSS_E_WRITERERROR_NONRETRYABLE;
        return S_OK;
    }
    LogLine("writer \"%s\": no status", vsscr::ToUtf8(name).c_str());
    return VSS_E_OBJECT_NOT_FOUND;
}

namespace {

wstr FullPathOf(const CVssWriterComp &component)
{
    return component.logicalPath.empty() ? component.name : component.logicalPath + W("\\") + component.name;
}

// True when another component of the writer holds this one (its logical path lies at
// or below the other's full path).
bool HasHolder(const CVssCrWriter &writer, const CVssWriterComp &component)
{
    for (const auto &other : writer.components) {
        if (other.get() == &component)
            continue;
        wstr holder = FullPathOf(*other);
        const wstr &path = component.logicalPath;
        if (path.size() < holder.size() || !vsscr::SameTextIgnoringCase(path.substr(0, holder.size()), holder))
            continue;
        if (path.size() == holder.size() || path[holder.size()] == '\\')
            return true;
    }
    return false;
}

} // namespace

long CVssCrWriter::SelectWriter(bool selectedValue)
{
    if (requester == nullptr || requester->session->kind == CVssCr::Session::Kind::None)
        return VSS_E_BAD_STATE;
    if (requester->session->kind == CVssCr::Session::Kind::Backup) {
        // VSS brings every component below an added one with it; adding those too is an error.
        for (const auto &component : components) {
            if (HasHolder(*this, *component))
                continue;
            long hr = component->SetSelected(selectedValue);
            if (FAILED(hr))
                return hr;
        }
        return S_OK;
    }
    bool anyMarked = false;
    for (const auto &component : components)
        anyMarked = anyMarked || component->selected;
    for (const auto &component : components) {
        if (anyMarked ? !component->selected : !component->inBackupDocument)
            continue;
        long hr = S_OK;
        if (component->CanSelectForRestore(false)) {
            if (component->selectedForRestore != selectedValue)
                hr = component->SelectForRestore(selectedValue);
        } else if (component->IsRestoreSubcomponent() && selectedValue && !component->addedAsRestoreSubcomponent) {
            hr = component->AddAsRestoreSubcomponent();
        }
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

long CVssCrWriter::SaveAsXML(const wstr &path) const
{
    if (!metadataLoaded || metadataXml.empty())
        return VSS_E_BAD_STATE;
    if (path.empty())
        return E_INVALIDARG;
    HRESULT hr = vsscr::WriteWholeFile(path, metadataXml);
    LogResult(("writer SaveAsXML " + vsscr::ToUtf8(path)).c_str(), hr);
    return hr;
}

// ---- CVssWriterComp ----

long CVssWriterComp::GetFiles(CVssWriterFileList &out) const
{
    out.insert(out.end(), files.begin(), files.end());
    return S_OK;
}

long CVssWriterComp::GetDatabaseFiles(CVssWriterFileList &out) const
{
    out.insert(out.end(), databaseFiles.begin(), databaseFiles.end());
    return S_OK;
}

long CVssWriterComp::GetDatabaseLogFiles(CVssWriterFileList &out) const
{
    out.insert(out.end(), databaseLogFiles.begin(), databaseLogFiles.end());
    return S_OK;
}

long CVssWriterComp::SetSelected(bool selectedValue)
{
    CVssCr *requester = writer ? writer->requester : nullptr;
    if (requester == nullptr || requester->session->kind == CVssCr::Session::Kind::None)
        return VSS_E_BAD_STATE;
    if (requester->session->kind == CVssCr::Session::Kind::Restore) {
        selected = selectedValue;
        return S_OK;
    }
    if (selected == selectedValue)
        return S_OK;
    if (!selectedValue) {
        LogLine("SetSelected: \"%s\" is in the backup document already", vsscr::ToUtf8(name).c_str());
        return VSS_E_BAD_STATE;
    }
    HRESULT hr = requester->session->components->AddComponent(writer->instanceId, writer->writerId, componentType,
                                                                 vsscr::NullIfEmpty(logicalPath), name.c_str());
    LogResult(("AddComponent " + vsscr::ToUtf8(FullPathOf(*this))).c_str(), hr);
    if (FAILED(hr))
        return hr;
    selected = true;
    return S_OK;
}

bool CVssWriterComp::CanSelectForRestore(bool mustHaveBeenBackedUp) const
{
    if (inBackupDocument)
        return true;
    return !mustHaveBeenBackedUp && selectableForRestore && !restoreSubcomponent;
}

long CVssWriterComp::SelectForRestore(bool selectedValue)
{
    CVssCr *requester = writer ? writer->requester : nullptr;
    if (requester == nullptr || requester->session->kind != CVssCr::Session::Kind::Restore)
        return VSS_E_BAD_STATE;
    HRESULT hr = requester->session->components->SetSelectedForRestore(
        writer->writerId, componentType, vsscr::NullIfEmpty(logicalPath), name.c_str(), selectedValue);
    LogResult(("SetSelectedForRestore " + vsscr::ToUtf8(FullPathOf(*this))).c_str(), hr);
    if (FAILED(hr))
        return hr;
    selectedForRestore = selectedValue;
    return S_OK;
}

long CVssWriterComp::AddAsRestoreSubcomponent()
{
    CVssCr *requester = writer ? writer->requester : nullptr;
    if (requester == nullptr || requester->session->kind != CVssCr::Session::Kind::Restore)
        return VSS_E_BAD_STATE;
    if (!restoreSubcomponent)
        return VSS_E_OBJECT_NOT_FOUND;
    HRESULT hr = requester->session->components->AddRestoreSubcomponent(
        writer->writerId, parentComponentType, vsscr::NullIfEmpty(parentLogicalPath), parentName.c_str(),
        logicalPath.c_str(), name.c_str(), false);
    LogResult(("AddRestoreSubcomponent " + vsscr::ToUtf8(FullPathOf(*this))).c_str(), hr);
    if (FAILED(hr))
        return hr;
    addedAsRestoreSubcomponent = true;
    return S_OK;
}

long CVssWriterComp::SetRestoreOptions(const wstr &options)
{
    CVssCr *requester = writer ? writer->requester : nullptr;
    if (requester == nullptr || requester->session->kind != CVssCr::Session::Kind::Restore)
        return VSS_E_BAD_STATE;
    HRESULT hr = requester->session->components->SetRestoreOptions(writer->writerId, componentType,
                                                                     vsscr::NullIfEmpty(logicalPath), name.c_str(),
                                                                     options.c_str());
    LogResult(("SetRestoreOptions " + vsscr::ToUtf8(FullPathOf(*this))).c_str(), hr);
    return hr;
}
