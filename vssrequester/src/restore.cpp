// A restore session: the saved backup-components document, the writers' saved metadata,
// and the pre- and post-restore events.
#include "internal.h"

using vsscr::ComPtr;
using vsscr::LogLine;
using vsscr::LogResult;

long CVssCr::InitializeForRestore(wstr &bcdPath, _VSS_RESTORE_TYPE restoreType)
{
    LogLine("InitializeForRestore: %s, restore type %d", vsscr::ToUtf8(bcdPath).c_str(), static_cast<int>(restoreType));
    // A document that cannot be read is refused before the session changes.
    vsscr::Bstr document;
    HRESULT hr = vsscr::ReadXmlDocument(bcdPath, &document);
    LogResult("read backup components document", hr);
    if (FAILED(hr))
        return hr;

    // The new session is built beside the old one, which stays until the new one is
    // complete: a document that VSS refuses changes nothing.
    ComPtr<IVssBackupComponents> components;
    hr = CreateVssBackupComponents(components.put());
    LogResult("CreateVssBackupComponents", hr);
    if (SUCCEEDED(hr) && !components)
        hr = E_POINTER;
    if (FAILED(hr))
        return hr;
    hr = components->InitializeForRestore(document.get());
    LogResult("InitializeForRestore", hr);
    if (FAILED(hr))
        return hr;
    hr = components->SetRestoreState(restoreType);
    LogResult("SetRestoreState", hr);
    if (FAILED(hr))
        return hr;

    std::vector<vsscr::DocumentComponent> listed;
    hr = vsscr::ReadDocumentComponents(components.get(), &listed);
    if (FAILED(hr))
        return hr;

    // VSS wants the writers gathered before PreRestore. Their live metadata is not what
    // the backup saw, so only their identity is kept until LoadFromXML brings the saved one.
    hr = vsscr::RunAsync("GatherWriterMetadata", [&](IVssAsync **async) { return components->GatherWriterMetadata(async); });
    if (FAILED(hr))
        return hr;
    CVssCrWriterList writers;
    hr = vsscr::GatherWriters(components.get(), true, wstr(), this, &writers);
    if (FAILED(hr))
        return hr;
    LogLine("InitializeForRestore: %u components in the document, %u writers gathered",
            static_cast<unsigned>(listed.size()), static_cast<unsigned>(writers.size()));

    UnInitialize();
    session->kind = Session::Kind::Restore;
    session->components = std::move(components);
    session->writers = std::move(writers);
    session->document = std::move(listed);
    backupComponents = session->components.get();
    return S_OK;
}

long CVssCr::LoadFromXML(wstr &path, std::shared_ptr<CVssCrWriter> &out, bool replace)
{
    std::string pathText = vsscr::ToUtf8(path);
    if (session->kind == Session::Kind::None) {
        LogLine("LoadFromXML %s: no session", pathText.c_str());
        return VSS_E_BAD_STATE;
    }
    vsscr::Bstr document;
    HRESULT hr = vsscr::ReadXmlDocument(path, &document);
    if (FAILED(hr)) {
        LogResult(("LoadFromXML read " + pathText).c_str(), hr);
        return hr;
    }
    ComPtr<IVssExamineWriterMetadata> metadata;
    hr = CreateVssExamineWriterMetadata(document.get(), metadata.put());
    if (SUCCEEDED(hr) && !metadata)
        hr = E_POINTER;
    LogResult(("CreateVssExamineWriterMetadata " + pathText).c_str(), hr);
    if (FAILED(hr))
        return hr;
    std::shared_ptr<CVssCrWriter> writer;
    hr = vsscr::BuildWriter(metadata.get(), false, &writer);
    if (FAILED(hr))
        return hr;
    vsscr::MarkDocumentComponents(*writer, session->document);

    auto known = session->writers.begin();
    while (known != session->writers.end() && !IsEqualGUID((*known)->writerId, writer->writerId))
        ++known;
    if (known != session->writers.end() && !replace) {
        LogLine("LoadFromXML %s: writer %s is already known", pathText.c_str(),
                vsscr::GuidTextUtf8(writer->writerId).c_str());
        return VSS_E_OBJECT_ALREADY_EXISTS;
    }
    writer->requester = this;
    if (known != session->writers.end()) {
        (*known)->requester = nullptr;
        *known = writer;
    } else {
        session->writers.push_back(writer);
    }
    LogLine("LoadFromXML %s: writer \"%s\" loaded", pathText.c_str(), vsscr::ToUtf8(writer->name).c_str());
    out = std::move(writer);
    return S_OK;
}

long CVssCr::PreRestore()
{
    if (session->kind != Session::Kind::Restore)
        return VSS_E_BAD_STATE;
    IVssBackupComponents *components = session->components.get();
    HRESULT hr = vsscr::RunAsync("PreRestore", [&](IVssAsync **async) { return components->PreRestore(async); });
    if (FAILED(hr))
        return hr;
    // The writers have now said where each component goes; the loaded writers learn it.
    std::vector<vsscr::DocumentComponent> listed;
    if (SUCCEEDED(vsscr::ReadDocumentComponents(components, &listed))) {
        session->document = std::move(listed);
        for (auto &writer : session->writers)
            vsscr::MarkDocumentComponents(*writer, session->document);
    }
    return S_OK;
}

long CVssCr::PostRestore()
{
    if (session->kind != Session::Kind::Restore)
        return VSS_E_BAD_STATE;
    IVssBackupComponents *components = session->components.get();
    return vsscr::RunAsync("PostRestore", [&](IVssAsync **async) { return components->PostRestore(async); });
}
