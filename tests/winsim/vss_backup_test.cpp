// The simulated shadow-copy service on a backup: writers as the host describes them, the
// order the calls must come in, the snapshot set's rules, snapshots and their devices, and
// injected faults. Linux only.
#include "vsstest.h"

#include <winsim/shadow.h>

#include <nlohmann/json.hpp>

#include <algorithm>

using vsstest::Bstr;
using vsstest::ComPtr;
using vsstest::VssTest;

namespace {

const std::u16string kSystemVolume = u"\\\\?\\Volume{3c5e7a91-b2d4-4f60-8a1c-2e4f6a8b0c13}\\";
const std::u16string kEfiVolume = u"\\\\?\\Volume{7e1a3c5d-9f2b-4d4e-8c6a-0b2d4f6e8a15}\\";
const std::u16string kDataVolume = u"\\\\?\\Volume{4d6f8b02-c3e5-4a71-9b2d-3f5a7c9e1d37}\\";
const std::u16string kArchiveVolume = u"\\\\?\\Volume{5e7a9c13-d4f6-4b82-8c3e-4a6b8d0f2e48}\\";

HRESULT Add(IVssBackupComponents *backup, const std::u16string &volume, VSS_ID *id = nullptr)
{
    VSS_ID ignored;
    std::u16string copy = volume;
    return backup->AddToSnapshotSet(&copy[0], GUID_NULL, id ? id : &ignored);
}

// Starts a set of one volume and prepares it, then takes the snapshot unless told not to.
void TakeSet(IVssBackupComponents *backup, const std::u16string &volume, bool snapshot = true, VSS_ID *id = nullptr)
{
    VSS_ID set;
    ASSERT_EQ(backup->StartSnapshotSet(&set), S_OK);
    ASSERT_EQ(Add(backup, volume, id), S_OK);
    ASSERT_EQ(VSS_RUN(backup, PrepareForBackup), VSS_S_ASYNC_FINISHED);
    if (snapshot)
        ASSERT_EQ(VSS_RUN(backup, DoSnapshotSet), VSS_S_ASYNC_FINISHED);
}

const winsim::VssComponentModel *ComponentNamed(const winsim::VssWriterModel &writer, const std::u16string &name)
{
    for (const winsim::VssComponentModel &component : writer.components)
        if (component.name == name)
            return &component;
    return nullptr;
}

} // namespace

// ---- writers ----

TEST_F(VssTest, EveryWriterOfTheHostIsGatheredWithAllItsMetadata)
{
    const std::vector<winsim::VssWriterModel> described = winsim::HostVssWriters();
    ASSERT_EQ(described.size(), 13u);
    ComPtr<IVssBackupComponents> backup = GatheredBackup();
    UINT count = 0;
    ASSERT_EQ(backup->GetWriterMetadataCount(&count), S_OK);
    ASSERT_EQ(count, described.size());
    for (UINT i = 0; i < count; ++i) {
        VSS_ID instance;
        ComPtr<IVssExamineWriterMetadata> metadata;
        ASSERT_EQ(backup->GetWriterMetadata(i, &instance, metadata.Put()), S_OK);
        EXPECT_TRUE(instance == described[i].instanceId);
        vsstest::ExpectSameWriter(described[i], vsstest::ReadWriter(metadata.Get()));
    }
    VSS_ID instance;
    ComPtr<IVssExamineWriterMetadata> beyond;
    EXPECT_EQ(backup->GetWriterMetadata(count, &instance, beyond.Put()), E_INVALIDARG);
    EXPECT_FALSE(beyond);
}

TEST_F(VssTest, TheDefaultHostHasTheSystemStateWritersAServerCarries)
{
    ComPtr<IVssBackupComponents> backup = GatheredBackup();
    winsim::VssWriterModel system, registry, optimization;
    ASSERT_TRUE(WriterNamed(backup.Get(), u"System Writer", &system));
    EXPECT_EQ(system.usage, VSS_UT_BOOTABLESYSTEMSTATE);
    ASSERT_TRUE(ComponentNamed(system, u"System Files"));
    EXPECT_EQ(ComponentNamed(system, u"System Files")->flags, 0u);
    ASSERT_TRUE(ComponentNamed(system, u"Win32 Services Files"));
    EXPECT_EQ(ComponentNamed(system, u"Win32 Services Files")->flags, DWORD(VSS_CF_NOT_SYSTEM_STATE));
    ASSERT_TRUE(WriterNamed(backup.Get(), u"Registry Writer", &registry));
    ASSERT_TRUE(ComponentNamed(registry, u"Registry"));
    // The optimization writer names only what a snapshot need not keep.
    ASSERT_TRUE(WriterNamed(backup.Get(), u"Shadow Copy Optimization Writer", &optimization));
    EXPECT_TRUE(optimization.components.empty());
    EXPECT_FALSE(optimization.excludeFiles.empty());
    EXPECT_EQ(optimization.restoreMethod, VSS_RME_UNDEFINED);
    for (const char16_t *name : {u"COM+ REGDB Writer", u"WMI Writer", u"Task Scheduler Writer",
                                 u"VSS Metadata Store Writer", u"Performance Counters Writer",
                                 u"DFS Replication service writer"}) {
        winsim::VssWriterModel writer;
        EXPECT_TRUE(WriterNamed(backup.Get(), name, &writer)) << vsstest::Describe(name);
        EXPECT_EQ(writer.components.size(), 1u) << vsstest::Describe(name);
    }
}

TEST_F(VssTest, TheAsrWriterHasAComponentPerFixedVolumeAndDiskAndASelectableBcd)
{
    ComPtr<IVssBackupComponents> backup = GatheredBackup();
    winsim::VssWriterModel asr;
    ASSERT_TRUE(WriterNamed(backup.Get(), u"ASR Writer", &asr));
    std::vector<std::u16string> volumes, disks;
    for (const winsim::VssComponentModel &component : asr.components) {
        if (component.logicalPath == u"Volumes")
            volumes.push_back(component.name);
        if (component.logicalPath == u"Disks")
            disks.push_back(component.name);
    }
    // The removable stick and the optical drive are not the machine's own.
    size_t fixedVolumes = 0;
    for (const winsim::Volume &volume : winsim::CurrentHost().volumes)
        if (volume.kind == winsim::DriveKind::Fixed && !volume.extents.empty()) {
            ++fixedVolumes;
            const std::u16string name = volume.guidPath.substr(4, volume.guidPath.size() - 5);
            EXPECT_NE(std::find(volumes.begin(), volumes.end(), name), volumes.end()) << vsstest::Describe(name);
        }
    EXPECT_EQ(volumes.size(), fixedVolumes);
    EXPECT_EQ(disks, (std::vector<std::u16string>{u"harddisk0", u"harddisk1", u"harddisk2", u"harddisk3", u"harddisk4"}));
    const winsim::VssComponentModel *bcd = ComponentNamed(asr, u"BCD");
    ASSERT_TRUE(bcd);
    EXPECT_EQ(bcd->logicalPath, u"BCD");
    EXPECT_TRUE(bcd->selectable);
    ASSERT_EQ(bcd->files.size(), 1u);
    EXPECT_EQ(bcd->files[0].path, kEfiVolume + u"EFI\\Microsoft\\Boot\\");
    EXPECT_EQ(bcd->files[0].filespec, u"*.*");
    ASSERT_TRUE(ComponentNamed(asr, u"ASR"));
    EXPECT_EQ(ComponentNamed(asr, u"ASR")->logicalPath, u"ASR");
}

TEST_F(VssTest, UserDataWritersCarryDatabasesVirtualMachinesAndAnAgentOfTheirOwn)
{
    ComPtr<IVssBackupComponents> backup = GatheredBackup();
    winsim::VssWriterModel sql, hyperv, agent;
    ASSERT_TRUE(WriterNamed(backup.Get(), u"SqlServerWriter", &sql));
    EXPECT_EQ(sql.usage, VSS_UT_USERDATA);
    EXPECT_EQ(sql.source, VSS_ST_TRANSACTEDDB);
    ASSERT_EQ(sql.components.size(), 4u);
    for (const winsim::VssComponentModel &database : sql.components) {
        EXPECT_EQ(database.type, VSS_CT_DATABASE);
        EXPECT_EQ(database.logicalPath, u"TVSRV01");  // the default instance is named by the host
        EXPECT_EQ(database.databaseFiles.size(), 1u);
        EXPECT_EQ(database.logFiles.size(), 1u);
    }
    const winsim::VssComponentModel *sales = ComponentNamed(sql, u"Sales");
    ASSERT_TRUE(sales);
    EXPECT_EQ(sales->databaseFiles[0].path.substr(0, 3), u"D:\\");

    ASSERT_TRUE(WriterNamed(backup.Get(), u"Microsoft Hyper-V VSS Writer", &hyperv));
    ASSERT_EQ(hyperv.components.size(), 2u);
    EXPECT_EQ(hyperv.components[0].name, u"Host Component");
    GUID vmId;
    EXPECT_EQ(CLSIDFromString((u"{" + hyperv.components[1].name + u"}").c_str(), &vmId), S_OK);
    EXPECT_EQ(hyperv.components[1].caption, u"Online\\web01");

    // The one writer no supported list knows: a made-up agent, user data, with a restore
    // method that stops its service and an alternate location.
    ASSERT_TRUE(WriterNamed(backup.Get(), u"Quillfeather Catalog Agent Writer", &agent));
    EXPECT_TRUE(agent.id == vsstest::kAgentWriterId);
    EXPECT_EQ(agent.usage, VSS_UT_USERDATA);
    EXPECT_EQ(agent.restoreMethod, VSS_RME_STOP_RESTORE_START);
    EXPECT_EQ(agent.restoreService, u"QuillfeatherAgent");
    EXPECT_EQ(agent.writerRestore, VSS_WRE_IF_REPLACE_FAILS);
    ASSERT_EQ(agent.alternateLocations.size(), 1u);
    EXPECT_EQ(agent.alternateLocations[0].alternateLocation, u"C:\\ProgramData\\Quillfeather\\Restored\\");
}

TEST_F(VssTest, ComponentInformationComesInTheSdkRecordAndIsGivenBack)
{
    ComPtr<IVssBackupComponents> backup = GatheredBackup();
    ComPtr<IVssExamineWriterMetadata> metadata =
        vsstest::MetadataNamed(backup.Get(), u"Quillfeather Catalog Agent Writer");
    ASSERT_TRUE(metadata) << "the agent's writer was not gathered";
    ComPtr<IVssWMComponent> journal;
    ASSERT_EQ(metadata->GetComponent(1, journal.Put()), S_OK);
    PVSSCOMPONENTINFO info = nullptr;
    ASSERT_EQ(journal->GetComponentInfo(&info), S_OK);
    EXPECT_EQ(std::u16string(info->bstrLogicalPath), u"Catalog");
    EXPECT_EQ(std::u16string(info->bstrComponentName), u"Journal");
    EXPECT_FALSE(info->bSelectable);
    EXPECT_TRUE(info->bSelectableForRestore);
    EXPECT_EQ(info->cFileCount, 1u);
    EXPECT_EQ(info->cDatabases, 0u);
    EXPECT_EQ(journal->FreeComponentInfo(info), S_OK);
    ComPtr<IVssWMFiledesc> file;
    EXPECT_EQ(journal->GetFile(1, file.Put()), E_INVALIDARG);
    EXPECT_EQ(journal->GetDatabaseFile(0, file.Put()), E_INVALIDARG);
    ComPtr<IVssWMComponent> none;
    EXPECT_EQ(metadata->GetComponent(2, none.Put()), E_INVALIDARG);
}

TEST_F(VssTest, AHostWithoutWritersHasNoneAndAWrongSectionFailsTheGathering)
{
    nlohmann::json host = nlohmann::json::parse(winsim::EmbeddedHostJson("default"));
    host.erase("writers");
    UseHost(host.dump());
    EXPECT_TRUE(winsim::HostVssWriters().empty());
    {
        ComPtr<IVssBackupComponents> backup = GatheredBackup();
        UINT count = 7;
        EXPECT_EQ(backup->GetWriterMetadataCount(&count), S_OK);
        EXPECT_EQ(count, 0u);
    }
    host["writers"] = nlohmann::json::parse(R"([{"name": "Broken", "id": "not-a-guid", "instanceId": "x"}])");
    UseHost(host.dump());
    ComPtr<IVssBackupComponents> backup;
    ASSERT_EQ(CreateVssBackupComponents(backup.Put()), S_OK);
    ASSERT_EQ(backup->InitializeForBackup(nullptr), S_OK);
    EXPECT_EQ(VSS_RUN(backup, GatherWriterMetadata), VSS_E_UNEXPECTED);
}

TEST(VssWriterSection, FaultsAreNamedByTheirPlaceInTheSection)
{
    // The identity every writer needs: what follows it is the case.
    const std::string ids = R"("id": "e8132975-6f93-4464-a53e-1050253ae220", )"
                            R"("instanceId": "e8132975-6f93-4464-a53e-1050253ae221")";
    const std::string w = R"([{"name": "W", )" + ids;
    struct Case {
        std::string json;
        const char *error;
    } cases[] = {
        {R"({"name": "W"})", "writers: not an array"},
        {"[{" + ids + "}]", "writers[0].name: missing"},
        {R"([{"name": "W", "id": "e8132975", "instanceId": "e8132975-6f93-4464-a53e-1050253ae221"}])",
         "writers[0].id: not a GUID"},
        {w + R"(, "usage": "VSS_UT_SOMETIMES"}])", "writers[0].usage: unknown value \"VSS_UT_SOMETIMES\""},
        {w + R"(, "components": [{"type": "VSS_CT_FILEGROUP", "name": "A", "files": [{"path": "C:\\"}]}]}])",
         "writers[0].components[0].files[0].filespec: missing"},
        {w + R"(, "components": [{"type": "VSS_CT_FILEGROUP", "name": "A"}, {"type": "VSS_CT_DATABASE", "name": "A"}]}])",
         "writers[0].components[1].name: a second component with this logical path and name"},
        {w + R"(}, {"name": "V", )" + ids + "}]", "writers[1].instanceId: the same as writers[0]"},
        {w + R"(, "lastError": "0x8004zz"}])", "writers[0].lastError: not a number"},
    };
    for (const Case &fault : cases) {
        std::string error;
        std::vector<winsim::VssWriterModel> writers;
        EXPECT_FALSE(winsim::ParseVssWriters(fault.json, &writers, &error)) << fault.json;
        EXPECT_EQ(error, fault.error);
    }
    std::string error;
    std::vector<winsim::VssWriterModel> writers;
    ASSERT_TRUE(winsim::ParseVssWriters(
        R"([{"name": "W", "id": "{E8132975-6F93-4464-A53E-1050253AE220}", "instanceId": "e8132975-6f93-4464-a53e-1050253ae221",
             "state": "VSS_WS_FAILED_AT_FREEZE", "lastError": "0x800423f3"}])",
        &writers, &error))
        << error;
    EXPECT_EQ(writers[0].state, VSS_WS_FAILED_AT_FREEZE);
    EXPECT_EQ(writers[0].lastError, VSS_E_WRITERERROR_RETRYABLE);
}

TEST_F(VssTest, AWriterDescribedAsFailedReportsItsStateAndOneThatNeverIdentifiedHasNoMetadata)
{
    nlohmann::json host = nlohmann::json::parse(winsim::EmbeddedHostJson("default"));
    host["writers"][0]["state"] = "VSS_WS_FAILED_AT_IDENTIFY";
    host["writers"][0]["lastError"] = "0x800423f4";
    host["writers"][2]["state"] = "VSS_WS_FAILED_AT_FREEZE";
    host["writers"][2]["lastError"] = "0x800423f2";
    UseHost(host.dump());
    ComPtr<IVssBackupComponents> backup = GatheredBackup();
    winsim::VssWriterModel writer;
    EXPECT_FALSE(WriterNamed(backup.Get(), u"System Writer", &writer));
    EXPECT_TRUE(WriterNamed(backup.Get(), u"Registry Writer", &writer));
    const Status system = StatusOf(backup.Get(), u"System Writer");
    EXPECT_TRUE(system.found);
    EXPECT_EQ(system.state, VSS_WS_FAILED_AT_IDENTIFY);
    EXPECT_EQ(system.failure, VSS_E_WRITERERROR_NONRETRYABLE);
    const Status registry = StatusOf(backup.Get(), u"Registry Writer");
    EXPECT_EQ(registry.state, VSS_WS_FAILED_AT_FREEZE);
    EXPECT_EQ(registry.failure, VSS_E_WRITERERROR_TIMEOUT);
}

// ---- the order of calls ----

TEST_F(VssTest, EachSetUpCallHasItsPlace)
{
    ComPtr<IVssBackupComponents> backup;
    ASSERT_EQ(CreateVssBackupComponents(backup.Put()), S_OK);
    UINT count = 0;
    EXPECT_EQ(backup->GetWriterMetadataCount(&count), VSS_E_BAD_STATE);
    EXPECT_EQ(backup->SetContext(VSS_CTX_BACKUP), VSS_E_BAD_STATE);
    EXPECT_EQ(VSS_RUN(backup, GatherWriterMetadata), VSS_E_BAD_STATE);
    ASSERT_EQ(backup->InitializeForBackup(nullptr), S_OK);
    // Once per object.
    EXPECT_EQ(backup->InitializeForBackup(nullptr), VSS_E_BAD_STATE);
    Bstr document(u"<BACKUP_COMPONENTS/>");
    EXPECT_EQ(backup->InitializeForRestore(document.Get()), VSS_E_BAD_STATE);
    EXPECT_EQ(backup->SetContext(0x12345), E_INVALIDARG);
    EXPECT_EQ(backup->SetContext(VSS_CTX_APP_ROLLBACK), S_OK);
    EXPECT_EQ(backup->SetContext(VSS_CTX_BACKUP), VSS_E_BAD_STATE);
    EXPECT_EQ(backup->SetBackupState(true, true, VSS_BACKUP_TYPE(9), false), E_INVALIDARG);
    EXPECT_EQ(backup->SetBackupState(true, true, VSS_BT_FULL, false), S_OK);
    EXPECT_EQ(VSS_RUN(backup, PrepareForBackup), VSS_E_BAD_STATE);  // before the writers are known
    VSS_ID set;
    EXPECT_EQ(backup->StartSnapshotSet(&set), VSS_E_BAD_STATE);
    EXPECT_EQ(VSS_RUN(backup, GatherWriterMetadata), VSS_S_ASYNC_FINISHED);
    EXPECT_EQ(VSS_RUN(backup, GatherWriterMetadata), VSS_E_BAD_STATE);  // once per object
    EXPECT_EQ(backup->StartSnapshotSet(&set), S_OK);
    VSS_ID another;
    EXPECT_EQ(backup->StartSnapshotSet(&another), VSS_E_SNAPSHOT_SET_IN_PROGRESS);
    EXPECT_EQ(VSS_RUN(backup, DoSnapshotSet), VSS_E_BAD_STATE);  // no volume yet
    EXPECT_EQ(Add(backup.Get(), u"C:\\"), S_OK);
    EXPECT_EQ(VSS_RUN(backup, DoSnapshotSet), VSS_E_BAD_STATE);  // not prepared
    EXPECT_EQ(VSS_RUN(backup, BackupComplete), VSS_E_BAD_STATE);
    EXPECT_EQ(VSS_RUN(backup, PrepareForBackup), VSS_S_ASYNC_FINISHED);
    EXPECT_EQ(VSS_RUN(backup, PrepareForBackup), VSS_E_BAD_STATE);
    EXPECT_EQ(VSS_RUN(backup, DoSnapshotSet), VSS_S_ASYNC_FINISHED);
    EXPECT_EQ(Add(backup.Get(), u"D:\\"), VSS_E_BAD_STATE);
    EXPECT_EQ(VSS_RUN(backup, DoSnapshotSet), VSS_E_BAD_STATE);
    EXPECT_EQ(VSS_RUN(backup, BackupComplete), VSS_S_ASYNC_FINISHED);
    EXPECT_EQ(VSS_RUN(backup, BackupComplete), VSS_E_BAD_STATE);
}

TEST_F(VssTest, AddComponentTakesOnlyGatheredSelectableComponentsOnce)
{
    ComPtr<IVssBackupComponents> backup = GatheredBackup();
    winsim::VssWriterModel sql;
    ASSERT_TRUE(WriterNamed(backup.Get(), u"SqlServerWriter", &sql));
    EXPECT_EQ(backup->AddComponent(sql.instanceId, sql.id, VSS_CT_DATABASE, u"TVSRV01", u"Sales"), S_OK);
    EXPECT_EQ(backup->AddComponent(sql.instanceId, sql.id, VSS_CT_DATABASE, u"TVSRV01", u"Sales"),
              VSS_E_OBJECT_ALREADY_EXISTS);
    EXPECT_EQ(backup->AddComponent(sql.instanceId, sql.id, VSS_CT_DATABASE, u"TVSRV01", u"Payroll"),
              VSS_E_OBJECT_NOT_FOUND);
    EXPECT_EQ(backup->AddComponent(sql.instanceId, sql.id, VSS_CT_FILEGROUP, u"TVSRV01", u"model"),
              VSS_E_OBJECT_NOT_FOUND);  // the type is part of the component's identity
    EXPECT_EQ(backup->AddComponent(sql.id, sql.id, VSS_CT_DATABASE, u"TVSRV01", u"model"), VSS_E_OBJECT_NOT_FOUND);
    EXPECT_EQ(backup->AddComponent(sql.instanceId, sql.id, VSS_CT_DATABASE, u"TVSRV01", nullptr), E_INVALIDARG);

    winsim::VssWriterModel agent;
    ASSERT_TRUE(WriterNamed(backup.Get(), u"Quillfeather Catalog Agent Writer", &agent));
    EXPECT_EQ(backup->AddComponent(agent.instanceId, agent.id, VSS_CT_FILEGROUP, u"Catalog", u"Journal"),
              E_INVALIDARG);  // goes with its writer, cannot be named
    EXPECT_EQ(backup->AddComponent(agent.instanceId, agent.id, VSS_CT_FILEGROUP, nullptr, u"Catalog"), S_OK);

    const std::vector<winsim::VssRequest> requests = winsim::VssRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].operation, "AddComponent");
    EXPECT_TRUE(requests[0].writerId == vsstest::kSqlWriterId);
    EXPECT_EQ(requests[0].componentType, VSS_CT_DATABASE);
    EXPECT_EQ(requests[0].logicalPath, u"TVSRV01");
    EXPECT_EQ(requests[0].componentName, u"Sales");
    EXPECT_EQ(requests[1].logicalPath, u"");
}

TEST_F(VssTest, FreedMetadataIsGoneButWhatWasAddedStays)
{
    ComPtr<IVssBackupComponents> backup = GatheredBackup();
    winsim::VssWriterModel sql;
    ASSERT_TRUE(WriterNamed(backup.Get(), u"SqlServerWriter", &sql));
    ASSERT_EQ(backup->AddComponent(sql.instanceId, sql.id, VSS_CT_DATABASE, u"TVSRV01", u"msdb"), S_OK);
    ASSERT_EQ(backup->FreeWriterMetadata(), S_OK);
    UINT count = 9;
    EXPECT_EQ(backup->GetWriterMetadataCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
    VSS_ID instance;
    ComPtr<IVssExamineWriterMetadata> metadata;
    EXPECT_EQ(backup->GetWriterMetadata(0, &instance, metadata.Put()), E_INVALIDARG);
    EXPECT_EQ(backup->SetBackupSucceeded(sql.instanceId, sql.id, VSS_CT_DATABASE, u"TVSRV01", u"msdb", true), S_OK);
    Bstr document;
    ASSERT_EQ(backup->SaveAsXML(document.Put()), S_OK);
    EXPECT_NE(document.Text().find(u"name=\"msdb\""), std::u16string::npos);
}

TEST_F(VssTest, StatusIsReadOnlyAfterItWasGatheredAndKeepsItsSnapshotUntilGatheredAgain)
{
    ComPtr<IVssBackupComponents> backup = GatheredBackup();
    UINT count = 0;
    EXPECT_EQ(backup->GetWriterStatusCount(&count), VSS_E_BAD_STATE);
    ASSERT_EQ(VSS_RUN(backup, GatherWriterStatus), VSS_S_ASYNC_FINISHED);
    ASSERT_EQ(backup->GetWriterStatusCount(&count), S_OK);
    EXPECT_EQ(count, winsim::HostVssWriters().size());
    ASSERT_NO_FATAL_FAILURE(TakeSet(backup.Get(), u"C:\\"));
    ComPtr<IVssBackupComponentsEx3> extended;
    ASSERT_EQ(backup->QueryInterface(IID_IVssBackupComponentsEx3, reinterpret_cast<void **>(extended.Put())), S_OK);
    VSS_ID instance, writer;
    Bstr name, message;
    VSS_WRITER_STATE state;
    HRESULT failure, application = E_FAIL;
    ASSERT_EQ(extended->GetWriterStatusEx(0, &instance, &writer, name.Put(), &state, &failure, &application,
                                          message.Put()),
              S_OK);
    EXPECT_EQ(state, VSS_WS_STABLE);  // as gathered before the snapshot
    EXPECT_EQ(application, S_OK);
    EXPECT_EQ(extended->GetWriterStatusEx(count, &instance, &writer, name.Put(), &state, &failure, &application,
                                          message.Put()),
              E_INVALIDARG);
    ASSERT_EQ(VSS_RUN(backup, GatherWriterStatus), VSS_S_ASYNC_FINISHED);
    ASSERT_EQ(backup->GetWriterStatus(0, &instance, &writer, name.Put(), &state, &failure), S_OK);
    EXPECT_EQ(state, VSS_WS_WAITING_FOR_BACKUP_COMPLETE);
    ASSERT_EQ(backup->FreeWriterStatus(), S_OK);
    EXPECT_EQ(backup->GetWriterStatusCount(&count), VSS_E_BAD_STATE);
}

// ---- the snapshot set ----

TEST_F(VssTest, OnlyTheRootsOfOnlineVolumesThatCanBeCopiedJoinTheSet)
{
    nlohmann::json host = nlohmann::json::parse(winsim::EmbeddedHostJson("default"));
    host["volumes"][5]["offline"] = true;  // E:
    UseHost(host.dump());
    ComPtr<IVssBackupComponents> backup = GatheredBackup();
    VSS_ID set;
    EXPECT_EQ(Add(backup.Get(), u"C:\\"), VSS_E_BAD_STATE);  // no set started
    ASSERT_EQ(backup->StartSnapshotSet(&set), S_OK);
    VSS_ID system = GUID_NULL;
    EXPECT_EQ(Add(backup.Get(), u"c:\\", &system), S_OK);
    EXPECT_TRUE(system != GUID_NULL);
    EXPECT_EQ(Add(backup.Get(), u"C:\\"), VSS_E_OBJECT_ALREADY_EXISTS);
    EXPECT_EQ(Add(backup.Get(), kSystemVolume), VSS_E_OBJECT_ALREADY_EXISTS);  // the same volume by GUID
    EXPECT_EQ(Add(backup.Get(), u"C:\\Windows\\"), VSS_E_OBJECT_NOT_FOUND);   // not a volume root
    EXPECT_EQ(Add(backup.Get(), u"C:"), VSS_E_OBJECT_NOT_FOUND);              // roots end in a backslash
    EXPECT_EQ(Add(backup.Get(), u"Q:\\"), VSS_E_OBJECT_NOT_FOUND);
    EXPECT_EQ(Add(backup.Get(), u"E:\\"), VSS_E_OBJECT_NOT_FOUND);            // offline
    EXPECT_EQ(Add(backup.Get(), u"D:\\Mount\\Archive\\"), S_OK);              // a mount folder names its volume
    EXPECT_EQ(Add(backup.Get(), kArchiveVolume), VSS_E_OBJECT_ALREADY_EXISTS);
    EXPECT_EQ(Add(backup.Get(), kEfiVolume), VSS_E_VOLUME_NOT_SUPPORTED);     // FAT32
    EXPECT_EQ(Add(backup.Get(), u"G:\\"), VSS_E_VOLUME_NOT_SUPPORTED);        // removable
    EXPECT_EQ(Add(backup.Get(), u"F:\\"), S_OK);                              // ReFS
    VSS_ID id;
    std::u16string data = u"D:\\";
    const GUID someProvider = {0x12345678, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8}};
    EXPECT_EQ(backup->AddToSnapshotSet(&data[0], someProvider, &id), VSS_E_PROVIDER_NOT_REGISTERED);
    EXPECT_EQ(backup->AddToSnapshotSet(nullptr, GUID_NULL, &id), E_INVALIDARG);
}

TEST_F(VssTest, ASnapshotSetGivesEachVolumeADeviceWithItsFilesAsTheyWere)
{
    ComPtr<IVssBackupComponents> backup = GatheredBackup();
    ASSERT_EQ(backup->SetBackupState(true, true, VSS_BT_FULL, false), S_OK);
    VSS_ID set, systemSnapshot, dataSnapshot;
    ASSERT_EQ(backup->StartSnapshotSet(&set), S_OK);
    ASSERT_EQ(Add(backup.Get(), u"C:\\", &systemSnapshot), S_OK);
    ASSERT_EQ(Add(backup.Get(), u"D:\\", &dataSnapshot), S_OK);
    ASSERT_EQ(VSS_RUN(backup, PrepareForBackup), VSS_S_ASYNC_FINISHED);
    EXPECT_EQ(StatusOf(backup.Get(), u"System Writer").state, VSS_WS_STABLE);
    ASSERT_EQ(VSS_RUN(backup, DoSnapshotSet), VSS_S_ASYNC_FINISHED);
    EXPECT_EQ(StatusOf(backup.Get(), u"System Writer").state, VSS_WS_WAITING_FOR_BACKUP_COMPLETE);

    const std::vector<std::u16string> devices = winsim::ShadowCopyDevices();
    ASSERT_EQ(devices.size(), 2u);
    VSS_SNAPSHOT_PROP prop;
    ASSERT_EQ(backup->GetSnapshotProperties(dataSnapshot, &prop), S_OK);
    EXPECT_TRUE(prop.m_SnapshotId == dataSnapshot);
    EXPECT_TRUE(prop.m_SnapshotSetId == set);
    EXPECT_EQ(prop.m_lSnapshotsCount, 2);
    EXPECT_EQ(std::u16string(prop.m_pwszOriginalVolumeName), kDataVolume);
    const std::u16string device = prop.m_pwszSnapshotDeviceObject;
    EXPECT_EQ(device, devices[1]);
    EXPECT_EQ(device.rfind(u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy", 0), 0u);
    EXPECT_EQ(std::u16string(prop.m_pwszOriginatingMachine), u"TVSRV01.corp.example.com");
    EXPECT_EQ(prop.m_pwszExposedName, nullptr);
    EXPECT_EQ(prop.m_eStatus, VSS_SS_CREATED);
    VssFreeSnapshotProperties(&prop);
    EXPECT_EQ(prop.m_pwszSnapshotDeviceObject, nullptr);

    // The copy keeps the file when the live one goes.
    ASSERT_TRUE(DeleteFileW(W("D:\\Shares\\Finance\\ledger.csv")));
    EXPECT_NE(GetFileAttributesW((device + u"\\Shares\\Finance\\ledger.csv").c_str()), INVALID_FILE_ATTRIBUTES);

    ASSERT_EQ(VSS_RUN(backup, BackupComplete), VSS_S_ASYNC_FINISHED);
    EXPECT_EQ(StatusOf(backup.Get(), u"System Writer").state, VSS_WS_STABLE);
    LONG deleted = 0;
    VSS_ID failed;
    EXPECT_EQ(backup->DeleteSnapshots(set, VSS_OBJECT_SNAPSHOT_SET, TRUE, &deleted, &failed), S_OK);
    EXPECT_EQ(deleted, 2);
    EXPECT_TRUE(winsim::ShadowCopyDevices().empty());
    EXPECT_EQ(backup->DeleteSnapshots(set, VSS_OBJECT_SNAPSHOT_SET, TRUE, &deleted, &failed), VSS_E_OBJECT_NOT_FOUND);
    EXPECT_EQ(backup->GetSnapshotProperties(dataSnapshot, &prop), VSS_E_OBJECT_NOT_FOUND);
}

TEST_F(VssTest, BackupSnapshotsGoWithTheirObjectButRollbackSnapshotsStay)
{
    VSS_ID snapshot;
    {
        ComPtr<IVssBackupComponents> backup = GatheredBackup();
        ASSERT_NO_FATAL_FAILURE(TakeSet(backup.Get(), u"D:\\"));
        EXPECT_EQ(winsim::VssSnapshots().size(), 1u);
    }
    EXPECT_TRUE(winsim::VssSnapshots().empty());
    EXPECT_TRUE(winsim::ShadowCopyDevices().empty());
    {
        ComPtr<IVssBackupComponents> backup;
        ASSERT_EQ(CreateVssBackupComponents(backup.Put()), S_OK);
        ASSERT_EQ(backup->InitializeForBackup(nullptr), S_OK);
        ASSERT_EQ(backup->SetContext(VSS_CTX_APP_ROLLBACK), S_OK);
        ASSERT_EQ(VSS_RUN(backup, GatherWriterMetadata), VSS_S_ASYNC_FINISHED);
        ASSERT_NO_FATAL_FAILURE(TakeSet(backup.Get(), u"D:\\", true, &snapshot));
    }
    ASSERT_EQ(winsim::VssSnapshots().size(), 1u);
    // Another object finds it and deletes it.
    ComPtr<IVssBackupComponents> other = GatheredBackup();
    VSS_SNAPSHOT_PROP prop;
    ASSERT_EQ(other->GetSnapshotProperties(snapshot, &prop), S_OK);
    EXPECT_EQ(prop.m_lSnapshotAttributes & VSS_CTX_APP_ROLLBACK, LONG(VSS_CTX_APP_ROLLBACK));
    VssFreeSnapshotProperties(&prop);
    LONG deleted = 0;
    VSS_ID failed;
    EXPECT_EQ(other->DeleteSnapshots(snapshot, VSS_OBJECT_SNAPSHOT, TRUE, &deleted, &failed), S_OK);
    EXPECT_EQ(deleted, 1);
    EXPECT_TRUE(winsim::ShadowCopyDevices().empty());
    EXPECT_EQ(other->DeleteSnapshots(snapshot, VSS_OBJECT_PROVIDER, TRUE, &deleted, &failed), E_INVALIDARG);
}

TEST_F(VssTest, EveryObjectHandedOutIsReleasedWithItsLastReference)
{
    const size_t before = winsim::LiveVssObjects();
    {
        ComPtr<IVssBackupComponents> backup = GatheredBackup();
        ComPtr<IVssBackupComponentsEx2> extended;
        ASSERT_EQ(backup->QueryInterface(IID_IVssBackupComponentsEx2, reinterpret_cast<void **>(extended.Put())), S_OK);
        ComPtr<IUnknown> unknown;
        ASSERT_EQ(backup->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(unknown.Put())), S_OK);
        EXPECT_EQ(static_cast<void *>(unknown.Get()), static_cast<void *>(backup.Get()));
        ComPtr<IVssAsync> wrong;
        EXPECT_EQ(backup->QueryInterface(IID_IVssAsync, reinterpret_cast<void **>(wrong.Put())), E_NOINTERFACE);
        VSS_ID instance;
        ComPtr<IVssExamineWriterMetadata> metadata;
        ASSERT_EQ(backup->GetWriterMetadata(0, &instance, metadata.Put()), S_OK);
        ComPtr<IVssWMComponent> component;
        ASSERT_EQ(metadata->GetComponent(0, component.Put()), S_OK);
        EXPECT_GT(winsim::LiveVssObjects(), before);
    }
    EXPECT_EQ(winsim::LiveVssObjects(), before);
}

// ---- faults ----

TEST_F(VssTest, AFailedOperationReportsThroughItsAsyncAndChangesNothing)
{
    ComPtr<IVssBackupComponents> backup = GatheredBackup();
    ASSERT_NO_FATAL_FAILURE(TakeSet(backup.Get(), u"C:\\", false));
    winsim::InjectHresult("IVssBackupComponents::DoSnapshotSet", u"", VSS_E_INSUFFICIENT_STORAGE);
    IVssAsync *async = nullptr;
    ASSERT_EQ(backup->DoSnapshotSet(&async), S_OK);
    ComPtr<IVssAsync> owner(async);
    EXPECT_EQ(async->Wait(0xffffffff), S_OK);
    HRESULT result = S_OK;
    EXPECT_EQ(async->QueryStatus(&result, nullptr), S_OK);
    EXPECT_EQ(result, VSS_E_INSUFFICIENT_STORAGE);
    EXPECT_TRUE(winsim::ShadowCopyDevices().empty());
    // The fault was given once: the set can be taken now.
    EXPECT_EQ(VSS_RUN(backup, DoSnapshotSet), VSS_S_ASYNC_FINISHED);
    EXPECT_EQ(winsim::ShadowCopyDevices().size(), 1u);
}

TEST_F(VssTest, AVolumeFaultFailsItsAdditionOrTheWholeSet)
{
    ComPtr<IVssBackupComponents> backup = GatheredBackup();
    VSS_ID set;
    ASSERT_EQ(backup->StartSnapshotSet(&set), S_OK);
    winsim::InjectHresult("IVssBackupComponents::AddToSnapshotSet", u"f:\\", VSS_E_MAXIMUM_NUMBER_OF_SNAPSHOTS_REACHED);
    EXPECT_EQ(Add(backup.Get(), u"F:\\"), VSS_E_MAXIMUM_NUMBER_OF_SNAPSHOTS_REACHED);
    EXPECT_EQ(Add(backup.Get(), u"C:\\"), S_OK);
    EXPECT_EQ(Add(backup.Get(), u"D:\\"), S_OK);
    ASSERT_EQ(VSS_RUN(backup, PrepareForBackup), VSS_S_ASYNC_FINISHED);
    winsim::InjectHresult("IVssBackupComponents::DoSnapshotSet", u"D:\\", VSS_E_FLUSH_WRITES_TIMEOUT);
    EXPECT_EQ(VSS_RUN(backup, DoSnapshotSet), VSS_E_FLUSH_WRITES_TIMEOUT);
    EXPECT_TRUE(winsim::ShadowCopyDevices().empty());  // none of the set, not even C:
}

TEST_F(VssTest, AWriterFaultFailsThatWriterInItsPhaseOnly)
{
    winsim::InjectHresult("IVssBackupComponents::GatherWriterMetadata", u"WMI Writer", VSS_E_WRITERERROR_OUTOFRESOURCES);
    ComPtr<IVssBackupComponents> backup = GatheredBackup();
    winsim::VssWriterModel writer;
    EXPECT_FALSE(WriterNamed(backup.Get(), u"WMI Writer", &writer));
    const Status wmi = StatusOf(backup.Get(), u"WMI Writer");
    EXPECT_EQ(wmi.state, VSS_WS_FAILED_AT_IDENTIFY);
    EXPECT_EQ(wmi.failure, VSS_E_WRITERERROR_OUTOFRESOURCES);

    winsim::InjectHresult("IVssBackupComponents::PrepareForBackup", u"SqlServerWriter", VSS_E_WRITERERROR_RETRYABLE);
    winsim::InjectHresult("IVssBackupComponents::DoSnapshotSet", u"Registry Writer", VSS_E_WRITERERROR_TIMEOUT);
    winsim::InjectHresult("IVssBackupComponents::BackupComplete", u"System Writer", VSS_E_WRITERERROR_NONRETRYABLE);
    ASSERT_NO_FATAL_FAILURE(TakeSet(backup.Get(), u"C:\\", false));
    EXPECT_EQ(StatusOf(backup.Get(), u"SqlServerWriter").state, VSS_WS_FAILED_AT_PREPARE_BACKUP);
    EXPECT_EQ(StatusOf(backup.Get(), u"SqlServerWriter").failure, VSS_E_WRITERERROR_RETRYABLE);
    ASSERT_EQ(VSS_RUN(backup, DoSnapshotSet), VSS_S_ASYNC_FINISHED);
    EXPECT_EQ(StatusOf(backup.Get(), u"Registry Writer").state, VSS_WS_FAILED_AT_FREEZE);
    EXPECT_EQ(StatusOf(backup.Get(), u"SqlServerWriter").state, VSS_WS_FAILED_AT_PREPARE_BACKUP);
    ASSERT_EQ(VSS_RUN(backup, BackupComplete), VSS_S_ASYNC_FINISHED);
    EXPECT_EQ(StatusOf(backup.Get(), u"System Writer").state, VSS_WS_FAILED_AT_BACKUP_COMPLETE);
    EXPECT_EQ(StatusOf(backup.Get(), u"Task Scheduler Writer").state, VSS_WS_STABLE);
    EXPECT_EQ(StatusOf(backup.Get(), u"Task Scheduler Writer").failure, S_OK);
}

TEST_F(VssTest, SynchronousCallsReturnTheirFault)
{
    winsim::InjectHresult("CreateVssBackupComponents", u"", E_ACCESSDENIED);
    ComPtr<IVssBackupComponents> backup;
    EXPECT_EQ(CreateVssBackupComponents(backup.Put()), E_ACCESSDENIED);
    EXPECT_FALSE(backup);
    backup = GatheredBackup();
    winsim::InjectHresult("IVssBackupComponents::StartSnapshotSet", u"", VSS_E_SNAPSHOT_SET_IN_PROGRESS);
    VSS_ID set;
    EXPECT_EQ(backup->StartSnapshotSet(&set), VSS_E_SNAPSHOT_SET_IN_PROGRESS);
    EXPECT_EQ(backup->StartSnapshotSet(&set), S_OK);
    winsim::InjectHresult("IVssBackupComponents::SaveAsXML", u"", E_OUTOFMEMORY);
    Bstr document;
    EXPECT_EQ(backup->SaveAsXML(document.Put()), E_OUTOFMEMORY);
    EXPECT_EQ(document.Get(), nullptr);
}

// ---- the hosts' files ----

TEST_F(VssTest, EveryFileTheDefaultWritersNameOneByOneExistsOnTheHost)
{
    size_t checked = 0;
    for (const winsim::VssWriterModel &writer : winsim::HostVssWriters())
        for (const winsim::VssComponentModel &component : writer.components)
            for (const auto *files : {&component.files, &component.databaseFiles, &component.logFiles})
                for (const winsim::VssFileSpec &file : *files) {
                    if (file.filespec.find_first_of(u"*?") != std::u16string::npos)
                        continue;
                    ++checked;
                    const std::u16string path = file.path + file.filespec;
                    EXPECT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES) << vsstest::Describe(path);
                }
    EXPECT_GE(checked, 10u);
}

TEST_F(VssTest, TheClusterNodeAddsTheClusterWritersAndKeepsClusteredStorageOutOfAsr)
{
    UseHost(winsim::EmbeddedHostJson("cluster-node"));
    ComPtr<IVssBackupComponents> backup = GatheredBackup();
    winsim::VssWriterModel database, csv, asr, sql;
    EXPECT_TRUE(WriterNamed(backup.Get(), u"Cluster Database", &database));
    EXPECT_EQ(database.usage, VSS_UT_BOOTABLESYSTEMSTATE);
    EXPECT_TRUE(WriterNamed(backup.Get(), u"Cluster Shared Volume VSS Writer", &csv));
    ASSERT_TRUE(WriterNamed(backup.Get(), u"ASR Writer", &asr));
    for (const winsim::VssComponentModel &component : asr.components) {
        EXPECT_NE(component.name, u"Volume{2d4f6182-aec0-4c3d-9f5b-9a1c3e5f7b94}");  // the CSV
        EXPECT_NE(component.name, u"harddisk6");                                      // clustered disks
        EXPECT_NE(component.name, u"harddisk7");
    }
    // Databases are named by the node's own host name.
    ASSERT_TRUE(WriterNamed(backup.Get(), u"SqlServerWriter", &sql));
    EXPECT_EQ(sql.components[0].logicalPath, u"TVNODE1");
}

TEST_F(VssTest, AVolumeIsSnapshottedWhileACopyOfItExists)
{
    WINBOOL present = TRUE;
    LONG capability = -1;
    std::u16string data = u"D:\\", efi = kEfiVolume, nowhere = u"D:\\Shares\\";
    EXPECT_EQ(IsVolumeSnapshotted(&data[0], &present, &capability), S_OK);
    EXPECT_FALSE(present);
    EXPECT_EQ(IsVolumeSnapshotted(&efi[0], &present, &capability), VSS_E_VOLUME_NOT_SUPPORTED);
    EXPECT_EQ(IsVolumeSnapshotted(&nowhere[0], &present, &capability), VSS_E_OBJECT_NOT_FOUND);
    EXPECT_EQ(IsVolumeSnapshotted(nullptr, &present, &capability), E_INVALIDARG);
    ComPtr<IVssBackupComponents> backup = GatheredBackup();
    ASSERT_NO_FATAL_FAILURE(TakeSet(backup.Get(), kDataVolume));
    EXPECT_EQ(IsVolumeSnapshotted(&data[0], &present, &capability), S_OK);
    EXPECT_TRUE(present);
    backup.Reset();  // a backup's copies go with the object
    EXPECT_EQ(IsVolumeSnapshotted(&data[0], &present, &capability), S_OK);
    EXPECT_FALSE(present);
}
