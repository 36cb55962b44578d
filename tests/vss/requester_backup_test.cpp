// A backup session of the requester against the simulated VSS service of the default
// host: the writers it reports against the host's description, the snapshot set and its
// devices, the saved document, completion, deletion, and every VSS call failing.
#include <vssrequester/vsscr.h>

#include "vsstest.h"

#include <winsim/host.h>
#include <winsim/shadow.h>
#include <winsim/vss.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {

using vsstest::InjectedFailure;
using vsstest::Narrow;
using vsstest::SameGuid;
using vsstest::WriterNamed;

const wstr kSystemVolumeGuid = W("\\\\?\\Volume{3c5e7a91-b2d4-4f60-8a1c-2e4f6a8b0c13}\\");
const wstr kDataVolumeGuid = W("\\\\?\\Volume{4d6f8b02-c3e5-4a71-9b2d-3f5a7c9e1d37}\\");
const wstr kMountedVolumeGuid = W("\\\\?\\Volume{5e7a9c13-d4f6-4b82-8c3e-4a6b8d0f2e48}\\");

long OpenBackup(CVssCr *requester, const wstr &writerName = wstr())
{
    return requester->InitializeForBackup(VSSCR_OPERATION_DEFAULT, writerName, true, true, VSS_BT_FULL,
                                          VSS_CTX_BACKUP, false, false);
}

void ExpectSameFiles(const std::vector<winsim::VssFileSpec> &described, const CVssWriterFileList &reported,
                     const std::string &where)
{
    ASSERT_EQ(reported.size(), described.size()) << where;
    auto file = reported.begin();
    for (const auto &spec : described) {
        EXPECT_EQ((*file)->GetPath(), spec.path) << where;
        EXPECT_EQ((*file)->GetFileSpec(), spec.filespec) << where;
        EXPECT_EQ((*file)->IsRecursive(), spec.recursive) << where;
        EXPECT_EQ((*file)->GetAlternateLocation(), spec.alternateLocation) << where;
        ++file;
    }
}

class BackupSession : public testing::Test {
protected:
    void SetUp() override
    {
        requester_ = CVssCr::Instance();
        winsim::ClearVssRequests();
        winsim::ClearFaults();
    }
    void TearDown() override
    {
        requester_->UnInitialize();
        winsim::ClearFaults();
        // Every backup-components and metadata object the requester took is given back.
        EXPECT_EQ(winsim::LiveVssObjects(), 0u);
    }

    CVssCr *requester_ = nullptr;
};

TEST_F(BackupSession, WritersAndTheirMetadataAreThoseTheHostDescribes)
{
    const std::vector<winsim::VssWriterModel> described = winsim::HostVssWriters();
    ASSERT_GE(described.size(), 10u) << "the default host describes the writers of a server";
    ASSERT_EQ(OpenBackup(requester_), 0);

    CVssCrWriterList writers;
    ASSERT_EQ(requester_->GetWriters(writers), 0);
    ASSERT_EQ(writers.size(), described.size());
    auto writer = writers.begin();
    for (const auto &model : described) {
        const CVssCrWriter &reported = **writer++;
        const std::string where = Narrow(model.name);
        EXPECT_EQ(reported.GetName(), model.name);
        EXPECT_TRUE(SameGuid(reported.writerId, model.id)) << where;
        EXPECT_TRUE(SameGuid(reported.instanceId, model.instanceId)) << where;
        EXPECT_EQ(reported.instanceName, model.instanceName) << where;
        EXPECT_EQ(int(reported.usageType), model.usage) << where;
        EXPECT_EQ(int(reported.sourceType), model.source) << where;
        EXPECT_TRUE(reported.metadataLoaded) << where;
        EXPECT_NE(reported.metadataXml.find("WRITER_METADATA"), std::string::npos) << where;
        EXPECT_EQ(reported.requester, requester_);
        EXPECT_EQ(int(reported.restoreMethod), model.restoreMethod) << where;
        EXPECT_EQ(reported.restoreService, model.restoreService) << where;
        EXPECT_EQ(reported.restoreUserProcedure, model.userProcedure) << where;
        EXPECT_EQ(int(reported.writerRestore), model.writerRestore) << where;
        EXPECT_EQ(reported.rebootRequired, model.rebootRequired) << where;

        CVssWriterFileList excludes, mappings;
        ASSERT_EQ(reported.GetExcludeFile(excludes), 0);
        ExpectSameFiles(model.excludeFiles, excludes, where + " excludes");
        ASSERT_EQ(reported.GetAlternateLocationMapping(mappings), 0);
        ExpectSameFiles(model.alternateLocations, mappings, where + " mappings");

        CVssWriterCompList components;
        ASSERT_EQ(reported.GetAllComponents(components), 0);
        ASSERT_EQ(components.size(), model.components.size()) << where;
        auto component = components.begin();
        const bool systemState = model.usage == VSS_UT_BOOTABLESYSTEMSTATE || model.usage == VSS_UT_SYSTEMSERVICE;
        for (const auto &part : model.components) {
            const CVssWriterComp &got = **component++;
            const std::string at = where + "\\" + Narrow(part.name);
            EXPECT_EQ(got.GetName(), part.name) << at;
            EXPECT_EQ(got.GetLogicalPath(), part.logicalPath) << at;
            EXPECT_EQ(got.GetCaption(), part.caption) << at;
            EXPECT_EQ(int(got.GetComponentType()), part.type) << at;
            EXPECT_EQ(got.componentFlags, part.flags) << at;
            EXPECT_EQ(got.notSelectable, !part.selectable) << at;
            EXPECT_EQ(got.selectableForRestore, part.selectableForRestore) << at;
            EXPECT_EQ(got.backupClass, systemState ? 1 : 0) << at;
            EXPECT_EQ(got.writer, &reported) << at;
            EXPECT_FALSE(got.IsRestoreSubcomponent()) << at;
            CVssWriterFileList files, databases, logs;
            ASSERT_EQ(got.GetFiles(files), 0);
            ASSERT_EQ(got.GetDatabaseFiles(databases), 0);
            ASSERT_EQ(got.GetDatabaseLogFiles(logs), 0);
            ExpectSameFiles(part.files, files, at + " files");
            ExpectSameFiles(part.databaseFiles, databases, at + " databases");
            ExpectSameFiles(part.logFiles, logs, at + " logs");
        }
    }
}

TEST_F(BackupSession, WritersAreFoundByNameTypeAndFilter)
{
    ASSERT_EQ(OpenBackup(requester_), 0);
    auto system = WriterNamed(requester_, "system writer");  // names compare without regard to case
    ASSERT_NE(system, nullptr);
    EXPECT_EQ(Narrow(requester_->WriterGUIDtoStr(system->writerId)), "{e8132975-6f93-4464-a53e-1050253ae220}");
    std::shared_ptr<CVssWriterComp> component;
    EXPECT_EQ(system->GetCompByName(W("System Files"), component), 0);
    ASSERT_NE(component, nullptr);
    EXPECT_EQ(component->GetName(), W("System Files"));
    std::shared_ptr<CVssWriterComp> none;
    EXPECT_EQ(system->GetCompByName(W("No Such Component"), none), VSS_E_OBJECT_NOT_FOUND);
    EXPECT_EQ(none, nullptr);

    wstr unknown = W("No Such Writer");
    std::shared_ptr<CVssCrWriter> missing;
    EXPECT_EQ(requester_->GetWriterByName(unknown, missing), VSS_E_OBJECT_NOT_FOUND);
    EXPECT_EQ(missing, nullptr);

    std::set<std::string> userData;
    CVssCrWriterList byType;
    ASSERT_EQ(requester_->GetWritersByType(VSS_UT_USERDATA, byType), 0);
    for (const auto &writer : byType) {
        EXPECT_EQ(writer->usageType, VSS_UT_USERDATA);
        userData.insert(Narrow(writer->GetName()));
    }
    std::set<std::string> expected;
    for (const auto &model : winsim::HostVssWriters())
        if (model.usage == VSS_UT_USERDATA)
            expected.insert(Narrow(model.name));
    EXPECT_EQ(userData, expected);
    EXPECT_TRUE(userData.count("SqlServerWriter"));

    // A session opened for one writer keeps only that one.
    ASSERT_EQ(OpenBackup(requester_, W("SqlServerWriter")), 0);
    CVssCrWriterList only;
    ASSERT_EQ(requester_->GetWriters(only), 0);
    ASSERT_EQ(only.size(), 1u);
    EXPECT_EQ(only.front()->GetName(), W("SqlServerWriter"));
    // The writers of the first session no longer reach a session.
    EXPECT_EQ(system->requester, nullptr);
    _VSS_WRITER_STATE state;
    EXPECT_EQ(system->GetStatus(&state, true), VSS_E_BAD_STATE);
}

TEST_F(BackupSession, RunsFromInitialisationToDeletion)
{
    vsstest::ScratchDirectory scratch;
    ASSERT_TRUE(scratch.created());
    ASSERT_EQ(OpenBackup(requester_), 0);
    ASSERT_NE(requester_->backupComponents, nullptr);

    auto sql = WriterNamed(requester_, "SqlServerWriter");
    ASSERT_NE(sql, nullptr);
    ASSERT_EQ(sql->SelectWriter(true), 0);

    wstr data = W("D:\\"), mounted = W("D:\\Mount\\Archive\\");
    // C: gets its trailing backslash; D:\ a second time is taken once.
    for (wstr volume : {wstr(W("C:")), data, mounted, data})
        ASSERT_EQ(requester_->AddVolToSnapset(volume), 0) << Narrow(volume);
    ASSERT_EQ(requester_->snapshotMountPoints.size(), 3u);
    EXPECT_EQ(requester_->snapshotMountPoints.count(W("C:\\")), 1u);
    EXPECT_EQ(requester_->snapshotMountPoints.at(W("C:\\"))->GetVolumeGuid(), kSystemVolumeGuid);
    EXPECT_EQ(requester_->snapshotMountPoints.at(W("D:\\"))->GetVolumeGuid(), kDataVolumeGuid);
    EXPECT_EQ(requester_->snapshotMountPoints.at(mounted)->GetVolumeGuid(), kMountedVolumeGuid);
    EXPECT_TRUE(requester_->snapshotMountPoints.at(W("C:\\"))->GetShadowCopyDeviceObject().empty());
    EXPECT_TRUE(winsim::VssSnapshots().empty());

    ASSERT_EQ(requester_->DoSnapshot(), 0);
    const auto snapshots = winsim::VssSnapshots();
    ASSERT_EQ(snapshots.size(), 3u);
    const auto devices = winsim::ShadowCopyDevices();
    for (const auto &entry : requester_->snapshotMountPoints) {
        const CVssMountPoint &mountPoint = *entry.second;
        EXPECT_EQ(mountPoint.volumePath, entry.first);
        const wstr &device = mountPoint.GetShadowCopyDeviceObject();
        ASSERT_FALSE(device.empty()) << Narrow(entry.first);
        EXPECT_NE(device.back(), '\\') << Narrow(device);
        EXPECT_EQ(device.rfind(W("\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy"), 0), 0u) << Narrow(device);
        EXPECT_NE(std::find(devices.begin(), devices.end(), device), devices.end()) << Narrow(device);
        auto snapshot = std::find_if(snapshots.begin(), snapshots.end(),
                                     [&](const winsim::VssSnapshotInfo &s) { return SameGuid(s.snapshotId, mountPoint.shadowCopyId); });
        ASSERT_NE(snapshot, snapshots.end()) << Narrow(entry.first);
        EXPECT_EQ(snapshot->device, device);
        EXPECT_TRUE(SameGuid(snapshot->snapshotSetId, requester_->snapshotSetId));
        EXPECT_TRUE(vsstest::Wide(Narrow(snapshot->originalVolume)) == mountPoint.volumeGuid);
    }
    EXPECT_FALSE(SameGuid(requester_->snapshotSetId, GUID_NULL));
    // The shadow copy reads as the volume did: its root is there.
    wstr shadowRoot = requester_->snapshotMountPoints.at(W("C:\\"))->GetShadowCopyDeviceObject() + W("\\");
    EXPECT_NE(GetFileAttributesW(shadowRoot.c_str()), INVALID_FILE_ATTRIBUTES);
    // No volume joins a set that has been taken.
    wstr late = W("E:\\");
    EXPECT_EQ(requester_->AddVolToSnapset(late), VSS_E_BAD_STATE);
    EXPECT_EQ(requester_->DoSnapshot(), VSS_E_BAD_STATE);

    wstr document = scratch.Path(W("backup components.xml"));
    ASSERT_EQ(requester_->SaveBcdAsXML(document), 0);
    std::string saved;
    ASSERT_TRUE(vsstest::ReadFileBytes(document, &saved));
    EXPECT_NE(saved.find("BACKUP_COMPONENTS"), std::string::npos);
    EXPECT_EQ(saved.find('\0'), std::string::npos) << "the document is UTF-8, not UTF-16";
    EXPECT_NE(saved.find("master"), std::string::npos) << "the selected components are in the document";

    ASSERT_EQ(requester_->BackupComplete(true), 0);
    std::vector<std::string> succeeded;
    for (const auto &request : winsim::VssRequests()) {
        if (request.operation == "SetBackupSucceeded") {
            EXPECT_TRUE(request.flag);
            EXPECT_TRUE(SameGuid(request.writerId, sql->writerId));
            succeeded.push_back(Narrow(request.componentName));
        }
    }
    std::sort(succeeded.begin(), succeeded.end());
    EXPECT_EQ(succeeded, (std::vector<std::string>{"Sales", "master", "model", "msdb"}));

    ASSERT_EQ(requester_->DeleteSnapshotSet(), 0);
    EXPECT_TRUE(winsim::VssSnapshots().empty());
    for (const auto &snapshot : snapshots) {
        const auto left = winsim::ShadowCopyDevices();
        EXPECT_EQ(std::find(left.begin(), left.end(), snapshot.device), left.end()) << Narrow(snapshot.device);
    }
    EXPECT_TRUE(requester_->snapshotMountPoints.empty());
    EXPECT_TRUE(SameGuid(requester_->snapshotSetId, GUID_NULL));

    requester_->UnInitialize();
    EXPECT_EQ(requester_->backupComponents, nullptr);
    EXPECT_EQ(winsim::LiveVssObjects(), 0u);
    // The object opens again after being closed.
    ASSERT_EQ(OpenBackup(requester_), 0);
    ASSERT_EQ(requester_->AddVolToSnapset(data), 0);
}

TEST_F(BackupSession, SelectingAWriterAddsItsTopLevelComponentsOnly)
{
    ASSERT_EQ(OpenBackup(requester_), 0);
    auto catalog = WriterNamed(requester_, "Quillfeather Catalog Agent Writer");
    ASSERT_NE(catalog, nullptr);
    ASSERT_EQ(catalog->SelectWriter(true), 0);
    std::vector<std::string> added;
    for (const auto &request : winsim::VssRequests())
        if (request.operation == "AddComponent")
            added.push_back(Narrow(request.logicalPath) + "|" + Narrow(request.componentName));
    // "Catalog\Journal" lies under "Catalog": VSS brings it along.
    EXPECT_EQ(added, (std::vector<std::string>{"|Catalog"}));
    std::shared_ptr<CVssWriterComp> journal, top;
    ASSERT_EQ(catalog->GetCompByName(W("Journal"), journal), 0);
    ASSERT_EQ(catalog->GetCompByName(W("Catalog"), top), 0);
    EXPECT_TRUE(top->selected);
    EXPECT_FALSE(journal->selected);
    EXPECT_TRUE(journal->notSelectable);
    // Selecting again asks nothing more; a component in the document cannot leave it.
    ASSERT_EQ(top->SetSelected(true), 0);
    EXPECT_EQ(top->SetSelected(false), VSS_E_BAD_STATE);
    EXPECT_TRUE(top->selected);
    size_t adds = 0;
    for (const auto &request : winsim::VssRequests())
        adds += request.operation == "AddComponent";
    EXPECT_EQ(adds, 1u);
}

TEST_F(BackupSession, ComponentVolumesAreThoseItsFilesLiveOnDevicePathsIncludedMissingOnesRefused)
{
    ASSERT_EQ(OpenBackup(requester_), 0);
    auto asr = WriterNamed(requester_, "ASR Writer");
    ASSERT_NE(asr, nullptr);
    std::shared_ptr<CVssWriterComp> bcd;
    ASSERT_EQ(asr->GetCompByName(W("BCD"), bcd), 0);
    CVssMountPointMap volumes;
    ASSERT_EQ(bcd->GetVolumeMap(volumes), 0);
    // The boot store lies on the EFI system partition, which has no drive letter.
    const wstr efiVolume = W("\\\\?\\Volume{7e1a3c5d-9f2b-4d4e-8c6a-0b2d4f6e8a15}\\");
    ASSERT_EQ(volumes.size(), 1u);
    EXPECT_EQ(volumes.begin()->first, efiVolume);
    EXPECT_EQ(volumes.begin()->second->GetVolumeGuid(), efiVolume);
    CVssMountPointList list;
    ASSERT_EQ(bcd->GetVolumeList(list), 0);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list.front()->volumePath, efiVolume);

    // Every system-state component's files resolve to volumes of the host, keyed in order.
    CVssCrWriterList systemState;
    ASSERT_EQ(requester_->GetWritersByType(VSS_UT_BOOTABLESYSTEMSTATE, systemState), 0);
    for (const auto &writer : systemState) {
        for (const auto &component : writer->components) {
            CVssMountPointMap map;
            CVssMountPointList ordered;
            ASSERT_EQ(component->GetVolumeMap(map), 0) << Narrow(writer->GetName()) << "\\" << Narrow(component->GetName());
            ASSERT_EQ(component->GetVolumeList(ordered), 0);
            ASSERT_EQ(map.size(), ordered.size());
            auto next = ordered.begin();
            for (const auto &entry : map) {
                EXPECT_EQ(entry.second->volumePath, (*next++)->volumePath);
                EXPECT_EQ(entry.second->volumePath, entry.first);
                EXPECT_EQ(entry.first.back(), '\\');
                EXPECT_EQ(entry.second->GetVolumeGuid().rfind(W("\\\\?\\Volume{"), 0), 0u) << Narrow(entry.first);
            }
        }
    }
    auto system = WriterNamed(requester_, "System Writer");
    std::shared_ptr<CVssWriterComp> systemFiles;
    ASSERT_EQ(system->GetCompByName(W("System Files"), systemFiles), 0);
    CVssMountPointMap systemVolumes;
    ASSERT_EQ(systemFiles->GetVolumeMap(systemVolumes), 0);
    ASSERT_EQ(systemVolumes.count(W("C:\\")), 1u);
    EXPECT_EQ(systemVolumes.at(W("C:\\"))->GetVolumeGuid(), kSystemVolumeGuid);
    {
        auto file = [](const wstr &path, const wstr &fileSpec) {
            auto made = std::make_shared<CVssWriterFile>();
            made->path = path;
            made->fileSpec = fileSpec;
            return made;
        };
        CVssWriterComp component;
        component.files = {file(W("\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\Boot\\"), W("*.*")),
                           file(W("%SystemRoot%\\System32\\config"), W("SAM"))};
        CVssMountPointMap volumes;
        ASSERT_EQ(component.GetVolumeMap(volumes), 0);
        ASSERT_EQ(volumes.size(), 2u);
        const wstr device = W("\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\");
        ASSERT_EQ(volumes.count(device), 1u);
        EXPECT_EQ(volumes.at(device)->GetVolumeGuid(), device);
        ASSERT_EQ(volumes.count(W("C:\\")), 1u);

        // A file on a volume the host does not have: an error, and the caller's map untouched.
        component.databaseLogFiles = {file(W("Q:\\Data\\"), W("*"))};
        CVssMountPointMap untouched;
        EXPECT_NE(component.GetVolumeMap(untouched), 0);
        EXPECT_TRUE(untouched.empty());
        CVssMountPointList none;
        EXPECT_NE(component.GetVolumeList(none), 0);
        EXPECT_TRUE(none.empty());
    }
}

TEST_F(BackupSession, VolumesTheHostLacksStayOutOfTheSet)
{
    ASSERT_EQ(OpenBackup(requester_), 0);
    for (wstr volume : {wstr(W("Q:\\")), wstr(W("C:\\Windows\\")), wstr()})
        EXPECT_NE(requester_->AddVolToSnapset(volume), 0) << Narrow(volume);
    EXPECT_TRUE(requester_->snapshotMountPoints.empty());
    // With nothing in the set there is nothing to snapshot or delete.
    EXPECT_EQ(requester_->DoSnapshot(), VSS_E_BAD_STATE);
    EXPECT_EQ(requester_->DeleteSnapshotSet(), 0);
    EXPECT_TRUE(winsim::VssSnapshots().empty());
}

TEST_F(BackupSession, WriterStatusIsReadAndAFailedWriterAnswersItsFailure)
{
    ASSERT_EQ(OpenBackup(requester_), 0);
    auto sql = WriterNamed(requester_, "SqlServerWriter");
    auto system = WriterNamed(requester_, "System Writer");
    ASSERT_TRUE(sql && system);
    _VSS_WRITER_STATE state = VSS_WS_UNKNOWN;
    ASSERT_EQ(sql->GetStatus(&state, true), 0);
    EXPECT_EQ(state, VSS_WS_STABLE);

    winsim::InjectHresult("IVssBackupComponents::PrepareForBackup", u"SqlServerWriter", VSS_E_WRITERERROR_RETRYABLE);
    wstr volume = W("C:\\");
    ASSERT_EQ(requester_->AddVolToSnapset(volume), 0);
    requester_->DoSnapshot();
    state = VSS_WS_UNKNOWN;
    EXPECT_EQ(sql->GetStatus(&state, true), VSS_E_WRITERERROR_RETRYABLE);
    EXPECT_EQ(state, VSS_WS_FAILED_AT_PREPARE_BACKUP);
    state = VSS_WS_UNKNOWN;
    EXPECT_EQ(system->GetStatus(&state, true), 0);
    EXPECT_NE(state, VSS_WS_UNKNOWN);
}

TEST_F(BackupSession, AWriterFailingToIdentifyIsLeftOut)
{
    winsim::InjectHresult("IVssBackupComponents::GatherWriterMetadata", u"WMI Writer", VSS_E_WRITERERROR_TIMEOUT);
    ASSERT_EQ(OpenBackup(requester_), 0);
    wstr wmi = W("WMI Writer");
    std::shared_ptr<CVssCrWriter> writer;
    EXPECT_EQ(requester_->GetWriterByName(wmi, writer), VSS_E_OBJECT_NOT_FOUND);
    CVssCrWriterList writers;
    ASSERT_EQ(requester_->GetWriters(writers), 0);
    EXPECT_EQ(writers.size() + 1, winsim::HostVssWriters().size());
}

// ---- every VSS call of the backup path failing ----

class BackupCallFailing : public BackupSession, public testing::WithParamInterface<InjectedFailure> {
protected:
    void Inject()
    {
        winsim::InjectHresult(std::string("IVssBackupComponents::") + GetParam().method, GetParam().argument,
                              GetParam().hresult);
    }
};

// Opening the session: each step's failure is the session's result, and no session (nor
// any VSS object) is left behind.
class OpeningFails : public BackupCallFailing {};

TEST_P(OpeningFails, ComesBackAndLeavesNoSession)
{
    Inject();
    EXPECT_EQ(OpenBackup(requester_), GetParam().hresult);
    CVssCrWriterList writers;
    EXPECT_EQ(requester_->GetWriters(writers), VSS_E_BAD_STATE);
    EXPECT_EQ(requester_->backupComponents, nullptr);
    EXPECT_EQ(winsim::LiveVssObjects(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Requester, OpeningFails,
    testing::Values(InjectedFailure {"InitializeForBackup", u"", E_ACCESSDENIED},
                    InjectedFailure {"SetContext", u"", VSS_E_UNSUPPORTED_CONTEXT},
                    InjectedFailure {"SetBackupState", u"", E_INVALIDARG},
                    InjectedFailure {"GatherWriterMetadata", u"", VSS_E_WRITER_INFRASTRUCTURE}),
    vsstest::FailureName);

// The snapshot set: each failing call is the requester call's result.
class SnapshotStepFails : public BackupCallFailing {};

TEST_P(SnapshotStepFails, ComesBackNonZero)
{
    vsstest::ScratchDirectory scratch;
    ASSERT_TRUE(scratch.created());
    ASSERT_EQ(OpenBackup(requester_), 0);
    auto sql = WriterNamed(requester_, "SqlServerWriter");
    ASSERT_NE(sql, nullptr);
    Inject();
    const std::string method = GetParam().method;
    const long selected = sql->SelectWriter(true);
    if (method == "AddComponent") {
        EXPECT_EQ(selected, GetParam().hresult);
        return;
    }
    ASSERT_EQ(selected, 0);
    wstr volume = W("C:\\");
    const long added = requester_->AddVolToSnapset(volume);
    if (method == "StartSnapshotSet" || method == "AddToSnapshotSet") {
        EXPECT_EQ(added, GetParam().hresult);
        EXPECT_TRUE(requester_->snapshotMountPoints.empty());
        return;
    }
    ASSERT_EQ(added, 0);
    const long snapped = requester_->DoSnapshot();
    if (method == "PrepareForBackup" || method == "DoSnapshotSet" || method == "GetSnapshotProperties") {
        EXPECT_EQ(snapped, GetParam().hresult);
        if (method != "GetSnapshotProperties") {
            EXPECT_TRUE(winsim::VssSnapshots().empty());
            EXPECT_TRUE(SameGuid(requester_->snapshotSetId, GUID_NULL));
        }
        return;
    }
    ASSERT_EQ(snapped, 0);
    wstr document = scratch.Path(W("components.xml"));
    const long saved = requester_->SaveBcdAsXML(document);
    if (method == "SaveAsXML") {
        EXPECT_EQ(saved, GetParam().hresult);
        EXPECT_FALSE(vsstest::FileExists(document));
        return;
    }
    ASSERT_EQ(saved, 0);
    const long completed = requester_->BackupComplete(true);
    if (method == "SetBackupSucceeded" || method == "BackupComplete") {
        EXPECT_EQ(completed, GetParam().hresult);
        return;
    }
    ASSERT_EQ(completed, 0);
    const size_t devices = winsim::VssSnapshots().size();
    EXPECT_EQ(requester_->DeleteSnapshotSet(), GetParam().hresult);
    // The set is still there, and still named.
    EXPECT_EQ(winsim::VssSnapshots().size(), devices);
    EXPECT_EQ(requester_->snapshotMountPoints.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Requester, SnapshotStepFails,
    testing::Values(InjectedFailure {"AddComponent", u"", VSS_E_OBJECT_NOT_FOUND},
                    InjectedFailure {"StartSnapshotSet", u"", VSS_E_SNAPSHOT_SET_IN_PROGRESS},
                    InjectedFailure {"AddToSnapshotSet", u"C:\\", VSS_E_VOLUME_NOT_SUPPORTED},
                    InjectedFailure {"PrepareForBackup", u"", VSS_E_BAD_STATE},
                    InjectedFailure {"DoSnapshotSet", u"", VSS_E_INSUFFICIENT_STORAGE},
                    InjectedFailure {"GetSnapshotProperties", u"", VSS_E_OBJECT_NOT_FOUND},
                    InjectedFailure {"SaveAsXML", u"", E_OUTOFMEMORY},
                    InjectedFailure {"SetBackupSucceeded", u"", VSS_E_OBJECT_NOT_FOUND},
                    InjectedFailure {"BackupComplete", u"", VSS_E_UNEXPECTED},
                    InjectedFailure {"DeleteSnapshots", u"", VSS_E_PROVIDER_VETO}),
    vsstest::FailureName);

} // namespace
