// The snapshot set of a backup session: its volumes, the shadow copies, the saved
// backup-components document, completion and deletion.
#include "internal.h"

using vsscr::LogLine;
using vsscr::LogResult;

namespace {

HRESULT LastErrorResult()
{
    DWORD error = GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

} // namespace

long CVssCr::AddVolToSnapset(wstr &volume)
{
    std::string volumeText = vsscr::ToUtf8(volume);
    if (session->kind != Session::Kind::Backup) {
        LogLine("AddVolToSnapset %s: no backup session", volumeText.c_str());
        return VSS_E_BAD_STATE;
    }
    if (session->snapshotTaken) {
        LogLine("AddVolToSnapset %s: the snapshot set is already taken", volumeText.c_str());
        return VSS_E_BAD_STATE;
    }
    if (volume.empty())
        return E_INVALIDARG;
    wstr volumePath = volume;
    if (volumePath.back() != '\\')
        volumePath += '\\';
    if (snapshotMountPoints.count(volumePath) != 0)
        return S_OK;

    WCHAR guidName[MAX_PATH] = {0};
    if (!GetVolumeNameForVolumeMountPointW(volumePath.c_str(), guidName, MAX_PATH)) {
        HRESULT hr = LastErrorResult();
        LogResult(("GetVolumeNameForVolumeMountPointW " + volumeText).c_str(), hr);
        return hr;
    }

    if (!session->snapshotSetStarted) {
        VSS_ID setId = GUID_NULL;
        HRESULT hr = session->components->StartSnapshotSet(&setId);
        LogResult("StartSnapshotSet", hr);
        if (FAILED(hr))
            return hr;
        session->snapshotSetStarted = true;
        session->pendingSnapshotSetId = setId;
    }

    auto mountPoint = std::make_shared<CVssMountPoint>();
    mountPoint->volumePath = volumePath;
    mountPoint->volumeGuid = guidName;
    HRESULT hr = session->components->AddToSnapshotSet(&volumePath[0], GUID_NULL, &mountPoint->shadowCopyId);
    LogResult(("AddToSnapshotSet " + volumeText).c_str(), hr);
    if (FAILED(hr))
        return hr;
    snapshotMountPoints[volumePath] = std::move(mountPoint);
    return S_OK;
}

long CVssCr::DoSnapshot()
{
    if (session->kind != Session::Kind::Backup || !session->snapshotSetStarted || snapshotMountPoints.empty()) {
        LogLine("DoSnapshot: no backup session with volumes in a snapshot set");
        return VSS_E_BAD_STATE;
    }
    if (session->snapshotTaken)
        return VSS_E_BAD_STATE;
    IVssBackupComponents *components = session->components.get();
    HRESULT hr = vsscr::RunAsync("PrepareForBackup", [&](IVssAsync **async) { return components->PrepareForBackup(async); });
    if (SUCCEEDED(hr))
        hr = vsscr::RunAsync("DoSnapshotSet", [&](IVssAsync **async) { return components->DoSnapshotSet(async); });
    if (FAILED(hr)) {
        // The writers are told that this backup will not happen.
        LogResult("AbortBackup", components->AbortBackup());
        return hr;
    }
    session->snapshotTaken = true;

    // Each volume's device, as VSS names it (no trailing backslash).
    for (auto &entry : snapshotMountPoints) {
        vsscr::SnapshotProperties properties;
        hr = properties.Fetch(components, entry.second->shadowCopyId);
        LogResult(("GetSnapshotProperties " + vsscr::ToUtf8(entry.first)).c_str(), hr);
        if (FAILED(hr))
            return hr;
        const WCHAR *device = properties.get().m_pwszSnapshotDeviceObject;
        entry.second->shadowCopyDevice = device ? wstr(device) : wstr();
        LogLine("  %s -> %s", vsscr::ToUtf8(entry.first).c_str(), vsscr::ToUtf8(entry.second->shadowCopyDevice).c_str());
    }
    snapshotSetId = session->pendingSnapshotSetId;
    LogLine("DoSnapshot: snapshot set %s", vsscr::GuidTextUtf8(snapshotSetId).c_str());
    return S_OK;
}

long CVssCr::SaveBcdAsXML(wstr &path)
{
    if (session->kind == Session::Kind::None)
        return VSS_E_BAD_STATE;
    if (path.empty())
        return E_INVALIDARG;
    vsscr::Bstr document;
    HRESULT hr = session->components->SaveAsXML(document.put());
    LogResult("SaveAsXML", hr);
    if (FAILED(hr))
        return hr;
    hr = vsscr::WriteWholeFile(path, vsscr::ToUtf8(document.str()));
    LogResult(("SaveBcdAsXML " + vsscr::ToUtf8(path)).c_str(), hr);
    return hr;
}

long CVssCr::BackupComplete(bool succeeded)
{
    if (session->kind != Session::Kind::Backup)
        return VSS_E_BAD_STATE;
    IVssBackupComponents *components = session->components.get();
    for (const auto &writer : session->writers) {
        for (const auto &component : writer->components) {
            if (!component->selected)
                continue;
            HRESULT hr = components->SetBackupSucceeded(writer->instanceId, writer->writerId, component->componentType,
                                                        vsscr::NullIfEmpty(component->logicalPath),
                                                        component->name.c_str(), succeeded);
            if (FAILED(hr)) {
                LogResult(("SetBackupSucceeded " + vsscr::ToUtf8(component->name)).c_str(), hr);
                return hr;
            }
        }
    }
    return vsscr::RunAsync("BackupComplete", [&](IVssAsync **async) { return components->BackupComplete(async); });
}

long CVssCr::DeleteSnapshotSet()
{
    if (session->kind != Session::Kind::Backup)
        return VSS_E_BAD_STATE;
    if (!session->snapshotTaken) {
        LogLine("DeleteSnapshotSet: no shadow copies were made");
        return S_OK;
    }
    LONG deleted = 0;
    VSS_ID notDeleted = GUID_NULL;
    HRESULT hr = session->components->DeleteSnapshots(session->pendingSnapshotSetId, VSS_OBJECT_SNAPSHOT_SET, TRUE,
                                                      &deleted, &notDeleted);
    LogResult("DeleteSnapshots", hr);
    if (FAILED(hr)) {
        LogLine("DeleteSnapshots: %d deleted, %s not", static_cast<int>(deleted), vsscr::GuidTextUtf8(notDeleted).c_str());
        return hr;
    }
    LogLine("DeleteSnapshots: %d shadow copies deleted", static_cast<int>(deleted));
    // The map no longer names shadow copies that exist.
    session->snapshotSetStarted = false;
    session->snapshotTaken = false;
    session->pendingSnapshotSetId = GUID_NULL;
    snapshotMountPoints.clear();
    snapshotSetId = GUID_NULL;
    return S_OK;
}
