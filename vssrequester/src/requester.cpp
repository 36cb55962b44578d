// The requester object: its log, opening and closing a backup session, and the writers
// the session found.
#include "internal.h"

using vsscr::ComPtr;
using vsscr::LogLine;
using vsscr::LogResult;

CVssCr::CVssCr() : session(new Session()) {}
CVssCr::~CVssCr() = default;

CVssCr *CVssCr::Instance()
{
    // Constructed on first use and never destroyed: the client's callbacks may still
    // reach the requester while DLLs unload.
    static CVssCr *const instance = new CVssCr();
    return instance;
}

bool CVssCr::InitLogging(bool enable, unsigned int level, WCHAR *logPath, bool append)
{
    if (!enable || logPath == nullptr || logPath[0] == 0) {
        vsscr::CloseLog();
        return false;
    }
    if (!vsscr::OpenLog(wstr(logPath), level, append))
        return false;
    LogLine("logging started, level %u", level);
    return true;
}

namespace {

// Holds a half-made session until it is complete: on any failure it is released, so
// no session is left half open.
struct NewSession {
    ComPtr<IVssBackupComponents> components;
    CVssCrWriterList writers;
};

} // namespace

long CVssCr::InitializeForBackup(OperationType operation, const wstr &writerName, bool selectComponents,
                                 bool backupBootableSystemState, _VSS_BACKUP_TYPE backupType,
                                 _VSS_SNAPSHOT_CONTEXT context, bool partialFileSupport, bool persistent)
{
    LogLine("InitializeForBackup: operation %d, writer \"%s\", select components %d, bootable system state %d, "
            "backup type %d, context 0x%x, partial files %d, persistent %d",
            static_cast<int>(operation), vsscr::ToUtf8(writerName).c_str(), selectComponents,
            backupBootableSystemState, static_cast<int>(backupType), static_cast<unsigned>(context),
            partialFileSupport, persistent);
    if (operation != VSSCR_OPERATION_DEFAULT) {
        LogResult("InitializeForBackup (unknown operation)", E_INVALIDARG);
        return E_INVALIDARG;
    }

    // VSS lets one backup-components object run a snapshot set at a time: the old
    // session ends before the new one starts.
    UnInitialize();
    NewSession made;
    HRESULT hr = CreateVssBackupComponents(made.components.put());
    LogResult("CreateVssBackupComponents", hr);
    if (SUCCEEDED(hr) && !made.components)
        hr = E_POINTER;
    if (FAILED(hr))
        return hr;

    hr = made.components->InitializeForBackup(nullptr);
    LogResult("InitializeForBackup", hr);
    if (FAILED(hr))
        return hr;

    LONG contextValue = static_cast<LONG>(context);
    if (persistent && context != VSS_CTX_BACKUP)
        contextValue |= VSS_VOLSNAP_ATTR_PERSISTENT | VSS_VOLSNAP_ATTR_NO_AUTO_RELEASE;
    hr = made.components->SetContext(contextValue);
    LogResult("SetContext", hr);
    if (FAILED(hr))
        return hr;

    hr = made.components->SetBackupState(selectComponents, backupBootableSystemState, backupType, partialFileSupport);
    LogResult("SetBackupState", hr);
    if (FAILED(hr))
        return hr;

    hr = vsscr::RunAsync("GatherWriterMetadata",
                         [&](IVssAsync **async) { return made.components->GatherWriterMetadata(async); });
    if (FAILED(hr))
        return hr;
    hr = vsscr::GatherWriters(made.components.get(), false, writerName, this, &made.writers);
    if (FAILED(hr))
        return hr;
    LogLine("InitializeForBackup: %u writers kept", static_cast<unsigned>(made.writers.size()));

    session->kind = Session::Kind::Backup;
    session->components = std::move(made.components);
    session->writers = std::move(made.writers);
    backupComponents = session->components.get();
    return S_OK;
}

void CVssCr::UnInitialize()
{
    if (session->kind != Session::Kind::None)
        LogLine("UnInitialize");
    // Writers may be held by callers after the session ends; they must not reach it.
    for (auto &writer : session->writers)
        writer->requester = nullptr;
    session->writers.clear();
    session->document.clear();
    session->snapshotSetStarted = false;
    session->snapshotTaken = false;
    session->pendingSnapshotSetId = GUID_NULL;
    snapshotMountPoints.clear();
    snapshotSetId = GUID_NULL;
    backupComponents = nullptr;
    session->components.reset();
    session->kind = Session::Kind::None;
}

long CVssCr::GetWriters(CVssCrWriterList &out)
{
    if (session->kind == Session::Kind::None)
        return VSS_E_BAD_STATE;
    out.insert(out.end(), session->writers.begin(), session->writers.end());
    return S_OK;
}

long CVssCr::GetWritersByType(VSS_USAGE_TYPE usageType, CVssCrWriterList &out)
{
    if (session->kind == Session::Kind::None)
        return VSS_E_BAD_STATE;
    for (const auto &writer : session->writers) {
        if (writer->usageType == usageType)
            out.push_back(writer);
    }
    return S_OK;
}

long CVssCr::GetWriterByName(wstr &writerName, std::shared_ptr<CVssCrWriter> &out)
{
    if (session->kind == Session::Kind::None)
        return VSS_E_BAD_STATE;
    for (const auto &writer : session->writers) {
        if (vsscr::SameTextIgnoringCase(writer->name, writerName)) {
            out = writer;
            return S_OK;
        }
    }
    LogLine("GetWriterByName: no writer \"%s\"", vsscr::ToUtf8(writerName).c_str());
    return VSS_E_OBJECT_NOT_FOUND;
}

wstr CVssCr::WriterGUIDtoStr(_GUID writerId)
{
    return vsscr::GuidText(writerId);
}
