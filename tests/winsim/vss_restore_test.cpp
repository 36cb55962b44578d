// The simulated shadow-copy service on a restore: the backup-components document a backup
// saved, what a restore may ask of its components, and the requests recorded for tests.
// Linux only.
#include "vsstest.h"

#include <nlohmann/json.hpp>

using vsstest::Bstr;
using vsstest::ComPtr;
using vsstest::VssTest;
using vsstest::kAgentWriterId;
using vsstest::kSqlWriterId;

namespace {

class VssRestore : public VssTest {
protected:
    // A backup of two SQL databases and the agent's catalog on C: and D:, its document
    // saved after the snapshot; Sales backed up, master marked failed.
    std::u16string BackupDocument()
    {
        ComPtr<IVssBackupComponents> backup = GatheredBackup();
        EXPECT_EQ(backup->SetBackupState(true, false, VSS_BT_FULL, false), S_OK);
        winsim::VssWriterModel sql, agent;
        EXPECT_TRUE(WriterNamed(backup.Get(), u"SqlServerWriter", &sql));
        EXPECT_TRUE(WriterNamed(backup.Get(), u"Quillfeather Catalog Agent Writer", &agent));
        EXPECT_EQ(backup->AddComponent(sql.instanceId, sql.id, VSS_CT_DATABASE, u"TVSRV01", u"Sales"), S_OK);
        EXPECT_EQ(backup->AddComponent(sql.instanceId, sql.id, VSS_CT_DATABASE, u"TVSRV01", u"master"), S_OK);
        EXPECT_EQ(backup->AddComponent(agent.instanceId, agent.id, VSS_CT_FILEGROUP, u"", u"Catalog"), S_OK);
        VSS_ID set, snapshot;
        EXPECT_EQ(backup->StartSnapshotSet(&set), S_OK);
        std::u16string c = u"C:\\", d = u"D:\\";
        EXPECT_EQ(backup->AddToSnapshotSet(&c[0], GUID_NULL, &snapshot), S_OK);
        EXPECT_EQ(backup->AddToSnapshotSet(&d[0], GUID_NULL, &snapshot), S_OK);
        EXPECT_EQ(VSS_RUN(backup, PrepareForBackup), VSS_S_ASYNC_FINISHED);
        EXPECT_EQ(VSS_RUN(backup, DoSnapshotSet), VSS_S_ASYNC_FINISHED);
        EXPECT_EQ(backup->SetBackupSucceeded(sql.instanceId, sql.id, VSS_CT_DATABASE, u"TVSRV01", u"Sales", true), S_OK);
        EXPECT_EQ(backup->SetBackupSucceeded(sql.instanceId, sql.id, VSS_CT_DATABASE, u"TVSRV01", u"master", false),
                  S_OK);
        EXPECT_EQ(backup->SetBackupSucceeded(sql.instanceId, sql.id, VSS_CT_DATABASE, u"TVSRV01", u"msdb", true),
                  VSS_E_OBJECT_NOT_FOUND);
        EXPECT_EQ(VSS_RUN(backup, BackupComplete), VSS_S_ASYNC_FINISHED);
        Bstr document;
        EXPECT_EQ(backup->SaveAsXML(document.Put()), S_OK);
        winsim::ClearVssRequests();
        return document.Text();
    }

    ComPtr<IVssBackupComponents> Restore(const std::u16string &document)
    {
        ComPtr<IVssBackupComponents> restore;
        EXPECT_EQ(CreateVssBackupComponents(restore.Put()), S_OK);
        Bstr xml(document);
        EXPECT_EQ(restore->InitializeForRestore(xml.Get()), S_OK);
        return restore;
    }

    struct SavedComponent {
        std::u16string logicalPath, name;
        bool backupSucceeded = false;
        bool selectedForRestore = false;
        std::u16string restoreOptions;
        UINT subcomponents = 0;
        UINT mappings = 0;
        bool authoritative = false;
        VSS_RESTORE_TARGET target = VSS_RT_UNDEFINED;
    };

    // The components the document holds for one writer.
    static std::vector<ComPtr<IVssComponent>> ComponentsOf(IVssBackupComponents *restore, const GUID &writerId)
    {
        std::vector<ComPtr<IVssComponent>> found;
        UINT writers = 0;
        EXPECT_EQ(restore->GetWriterComponentsCount(&writers), S_OK);
        for (UINT w = 0; w < writers; ++w) {
            ComPtr<IVssWriterComponentsExt> components;  // released through its IUnknown
            EXPECT_EQ(restore->GetWriterComponents(w, components.Put()), S_OK);
            VSS_ID instance, writer;
            EXPECT_EQ(components->GetWriterInfo(&instance, &writer), S_OK);
            UINT count = 0;
            if (writer == writerId) {
                EXPECT_EQ(components->GetComponentCount(&count), S_OK);
            }
            for (UINT c = 0; c < count; ++c) {
                found.emplace_back();
                EXPECT_EQ(components->GetComponent(c, found.back().Put()), S_OK);
            }
        }
        return found;
    }

    // The same, as IVssComponent reports them.
    static std::vector<SavedComponent> SavedComponents(IVssBackupComponents *restore, const GUID &writerId)
    {
        std::vector<SavedComponent> found;
        for (const ComPtr<IVssComponent> &component : ComponentsOf(restore, writerId)) {
            SavedComponent saved;
            Bstr path, name, options;
            boolean flag = 0;
            EXPECT_EQ(component->GetLogicalPath(path.Put()), S_OK);
            EXPECT_EQ(component->GetComponentName(name.Put()), S_OK);
            EXPECT_EQ(component->GetBackupSucceeded(&flag), S_OK);
            saved.backupSucceeded = flag;
            EXPECT_EQ(component->IsSelectedForRestore(&flag), S_OK);
            saved.selectedForRestore = flag;
            EXPECT_EQ(component->GetRestoreOptions(options.Put()), S_OK);
            EXPECT_EQ(component->GetRestoreSubcomponentCount(&saved.subcomponents), S_OK);
            EXPECT_EQ(component->GetAlternateLocationMappingCount(&saved.mappings), S_OK);
            EXPECT_EQ(component->GetRestoreTarget(&saved.target), S_OK);
            ComPtr<IVssComponentEx> extended;
            EXPECT_EQ(component->QueryInterface(IID_IVssComponentEx, reinterpret_cast<void **>(extended.Put())), S_OK);
            EXPECT_EQ(extended->GetAuthoritativeRestore(&flag), S_OK);
            saved.authoritative = flag;
            saved.logicalPath = path.Text();
            saved.name = name.Text();
            saved.restoreOptions = options.Text();
            found.push_back(saved);
        }
        return found;
    }
};

} // namespace

TEST_F(VssRestore, TheBackupDocumentHoldsTheBackedUpComponentsOfEachWriter)
{
    ComPtr<IVssBackupComponents> restore = Restore(BackupDocument());
    UINT writers = 0;
    ASSERT_EQ(restore->GetWriterComponentsCount(&writers), S_OK);
    EXPECT_EQ(writers, 2u);
    const std::vector<SavedComponent> sql = SavedComponents(restore.Get(), kSqlWriterId);
    ASSERT_EQ(sql.size(), 2u);
    EXPECT_EQ(sql[0].logicalPath, u"TVSRV01");
    EXPECT_EQ(sql[0].name, u"Sales");
    EXPECT_TRUE(sql[0].backupSucceeded);
    EXPECT_EQ(sql[1].name, u"master");
    EXPECT_FALSE(sql[1].backupSucceeded);
    EXPECT_FALSE(sql[0].selectedForRestore);
    EXPECT_EQ(sql[0].target, VSS_RT_ORIGINAL);
    const std::vector<SavedComponent> agent = SavedComponents(restore.Get(), kAgentWriterId);
    ASSERT_EQ(agent.size(), 1u);
    EXPECT_EQ(agent[0].name, u"Catalog");
    IVssWriterComponentsExt *beyond = nullptr;
    EXPECT_EQ(restore->GetWriterComponents(writers, &beyond), E_INVALIDARG);
    EXPECT_EQ(winsim::VssRequests().size(), 1u);
    EXPECT_EQ(winsim::VssRequests()[0].operation, "InitializeForRestore");
}

TEST_F(VssRestore, ADamagedBackupDocumentIsRefusedAndTheObjectStaysFresh)
{
    const std::u16string good = BackupDocument();
    ComPtr<IVssBackupComponents> restore;
    ASSERT_EQ(CreateVssBackupComponents(restore.Put()), S_OK);
    const std::u16string damaged[] = {
        u"", u"<", good.substr(0, good.size() / 3), good.substr(0, good.size() - 2), u"<WRITER_METADATA/>",
        u"<BACKUP_COMPONENTS context=\"0\"/>",  // attributes missing
        good + u"<BACKUP_COMPONENTS/>",          // two roots
    };
    for (const std::u16string &text : damaged) {
        Bstr xml(text);
        EXPECT_EQ(restore->InitializeForRestore(xml.Get()), VSS_E_INVALID_XML_DOCUMENT)
            << vsstest::Describe(text.substr(0, 120));
        UINT writers = 0;
        EXPECT_EQ(restore->GetWriterComponentsCount(&writers), VSS_E_BAD_STATE);
    }
    EXPECT_EQ(restore->InitializeForRestore(nullptr), E_INVALIDARG);
    EXPECT_TRUE(winsim::VssRequests().empty());
    Bstr xml(good);
    EXPECT_EQ(restore->InitializeForRestore(xml.Get()), S_OK);
    EXPECT_EQ(restore->InitializeForRestore(xml.Get()), VSS_E_BAD_STATE);  // once per object
    EXPECT_EQ(restore->InitializeForBackup(nullptr), VSS_E_BAD_STATE);
}

TEST_F(VssRestore, EveryRestoreChoiceIsRecordedAndKeptInTheDocument)
{
    ComPtr<IVssBackupComponents> restore = Restore(BackupDocument());
    ASSERT_EQ(restore->SetSelectedForRestore(kSqlWriterId, VSS_CT_DATABASE, u"TVSRV01", u"Sales", true), S_OK);
    ASSERT_EQ(restore->SetRestoreOptions(kSqlWriterId, VSS_CT_DATABASE, u"TVSRV01", u"Sales", u"NORECOVERY"), S_OK);
    ASSERT_EQ(restore->SetSelectedForRestore(kAgentWriterId, VSS_CT_FILEGROUP, nullptr, u"Catalog", true), S_OK);
    ASSERT_EQ(restore->AddRestoreSubcomponent(kAgentWriterId, VSS_CT_FILEGROUP, nullptr, u"Catalog", u"Catalog",
                                              u"Journal", false),
              S_OK);
    ASSERT_EQ(restore->AddAlternativeLocationMapping(kAgentWriterId, VSS_CT_FILEGROUP, nullptr, u"Catalog",
                                                     u"C:\\ProgramData\\Quillfeather\\Catalog\\", u"*.qcat", true,
                                                     u"E:\\Restored\\"),
              S_OK);
    ComPtr<IVssBackupComponentsEx2> extended;
    ASSERT_EQ(restore->QueryInterface(IID_IVssBackupComponentsEx2, reinterpret_cast<void **>(extended.Put())), S_OK);
    ASSERT_EQ(extended->SetAuthoritativeRestore(kAgentWriterId, VSS_CT_FILEGROUP, nullptr, u"Catalog", true), S_OK);
    EXPECT_EQ(VSS_RUN(restore, PreRestore), VSS_S_ASYNC_FINISHED);
    EXPECT_EQ(VSS_RUN(restore, PostRestore), VSS_S_ASYNC_FINISHED);

    const std::vector<winsim::VssRequest> requests = winsim::VssRequests();
    std::vector<std::string> operations;
    for (const winsim::VssRequest &request : requests)
        operations.push_back(request.operation);
    EXPECT_EQ(operations, (std::vector<std::string>{"InitializeForRestore", "SetSelectedForRestore",
                                                    "SetRestoreOptions", "SetSelectedForRestore",
                                                    "AddRestoreSubcomponent", "AddAlternativeLocationMapping",
                                                    "SetAuthoritativeRestore", "PreRestore", "PostRestore"}));
    ASSERT_EQ(requests.size(), 9u);
    EXPECT_TRUE(requests[1].writerId == kSqlWriterId);
    EXPECT_EQ(requests[1].componentType, VSS_CT_DATABASE);
    EXPECT_EQ(requests[1].logicalPath, u"TVSRV01");
    EXPECT_EQ(requests[1].componentName, u"Sales");
    EXPECT_TRUE(requests[1].flag);
    EXPECT_EQ(requests[2].text, u"NORECOVERY");
    EXPECT_EQ(requests[4].text, u"Catalog");
    EXPECT_EQ(requests[4].text2, u"Journal");
    EXPECT_FALSE(requests[4].flag);
    EXPECT_EQ(requests[5].text, u"C:\\ProgramData\\Quillfeather\\Catalog\\");
    EXPECT_EQ(requests[5].text2, u"*.qcat");
    EXPECT_EQ(requests[5].text3, u"E:\\Restored\\");
    EXPECT_TRUE(requests[5].flag);
    EXPECT_TRUE(requests[6].flag);

    // The choices are part of the document the restore object saves.
    Bstr saved;
    ASSERT_EQ(restore->SaveAsXML(saved.Put()), S_OK);
    ComPtr<IVssBackupComponents> again = Restore(saved.Text());
    const std::vector<SavedComponent> sql = SavedComponents(again.Get(), kSqlWriterId);
    ASSERT_EQ(sql.size(), 2u);
    EXPECT_TRUE(sql[0].selectedForRestore);
    EXPECT_EQ(sql[0].restoreOptions, u"NORECOVERY");
    EXPECT_FALSE(sql[1].selectedForRestore);
    const std::vector<SavedComponent> agent = SavedComponents(again.Get(), kAgentWriterId);
    ASSERT_EQ(agent.size(), 1u);
    EXPECT_EQ(agent[0].subcomponents, 1u);
    EXPECT_EQ(agent[0].mappings, 1u);
    EXPECT_TRUE(agent[0].authoritative);

    // The mapping itself, as the writer reads it.
    const std::vector<ComPtr<IVssComponent>> agentComponents = ComponentsOf(again.Get(), kAgentWriterId);
    ASSERT_EQ(agentComponents.size(), 1u);
    IVssComponent *catalog = agentComponents[0].Get();
    ComPtr<IVssWMFiledesc> mapping;
    ASSERT_EQ(catalog->GetAlternateLocationMapping(0, mapping.Put()), S_OK);
    Bstr destination;
    ASSERT_EQ(mapping->GetAlternateLocation(destination.Put()), S_OK);
    EXPECT_EQ(destination.Text(), u"E:\\Restored\\");
    boolean recursive = 0;
    ASSERT_EQ(mapping->GetRecursive(&recursive), S_OK);
    EXPECT_TRUE(recursive);
    BSTR subPath = nullptr, subName = nullptr;
    boolean repair = 1;
    ASSERT_EQ(catalog->GetRestoreSubcomponent(0, &subPath, &subName, &repair), S_OK);
    EXPECT_EQ(std::u16string(subName), u"Journal");
    EXPECT_FALSE(repair);
    SysFreeString(subPath);
    SysFreeString(subName);
    EXPECT_EQ(catalog->GetAlternateLocationMapping(1, mapping.Put()), E_INVALIDARG);
}

TEST_F(VssRestore, OnlyBackedUpComponentsCanBeRestoredAndOnlyBeforePreRestore)
{
    ComPtr<IVssBackupComponents> restore = Restore(BackupDocument());
    EXPECT_EQ(restore->SetSelectedForRestore(kSqlWriterId, VSS_CT_DATABASE, u"TVSRV01", u"msdb", true),
              VSS_E_OBJECT_NOT_FOUND);  // described, but not in this backup
    EXPECT_EQ(restore->SetSelectedForRestore(kSqlWriterId, VSS_CT_FILEGROUP, u"TVSRV01", u"Sales", true),
              VSS_E_OBJECT_NOT_FOUND);
    EXPECT_EQ(restore->SetRestoreOptions(kSqlWriterId, VSS_CT_DATABASE, u"TVSRV01", u"Sales", nullptr), E_INVALIDARG);
    EXPECT_EQ(VSS_RUN(restore, PostRestore), VSS_E_BAD_STATE);  // the pre-restore event comes first
    EXPECT_EQ(VSS_RUN(restore, PreRestore), VSS_S_ASYNC_FINISHED);
    EXPECT_EQ(restore->SetSelectedForRestore(kSqlWriterId, VSS_CT_DATABASE, u"TVSRV01", u"Sales", true),
              VSS_E_BAD_STATE);
    EXPECT_EQ(VSS_RUN(restore, PreRestore), VSS_E_BAD_STATE);
    EXPECT_EQ(VSS_RUN(restore, PostRestore), VSS_S_ASYNC_FINISHED);
    // A backup object knows no restore calls.
    ComPtr<IVssBackupComponents> backup = GatheredBackup();
    EXPECT_EQ(backup->SetSelectedForRestore(kSqlWriterId, VSS_CT_DATABASE, u"TVSRV01", u"Sales", true),
              VSS_E_BAD_STATE);
    EXPECT_EQ(VSS_RUN(backup, PreRestore), VSS_E_BAD_STATE);
}

TEST_F(VssRestore, RestoreFaultsFailTheEventOrOneWriter)
{
    ComPtr<IVssBackupComponents> restore = Restore(BackupDocument());
    ASSERT_EQ(VSS_RUN(restore, GatherWriterMetadata), VSS_S_ASYNC_FINISHED);
    winsim::InjectHresult("IVssBackupComponents::SetSelectedForRestore", u"", E_UNEXPECTED);
    EXPECT_EQ(restore->SetSelectedForRestore(kSqlWriterId, VSS_CT_DATABASE, u"TVSRV01", u"Sales", true), E_UNEXPECTED);
    winsim::InjectHresult("IVssBackupComponents::PreRestore", u"", VSS_E_UNEXPECTED_WRITER_ERROR);
    EXPECT_EQ(VSS_RUN(restore, PreRestore), VSS_E_UNEXPECTED_WRITER_ERROR);
    winsim::InjectHresult("IVssBackupComponents::PreRestore", u"SqlServerWriter", VSS_E_WRITERERROR_NONRETRYABLE);
    EXPECT_EQ(VSS_RUN(restore, PreRestore), VSS_S_ASYNC_FINISHED);
    const Status sql = StatusOf(restore.Get(), u"SqlServerWriter");
    EXPECT_EQ(sql.state, VSS_WS_FAILED_AT_PRE_RESTORE);
    EXPECT_EQ(sql.failure, VSS_E_WRITERERROR_NONRETRYABLE);
    winsim::InjectHresult("IVssBackupComponents::PostRestore", u"Quillfeather Catalog Agent Writer",
                          VSS_E_WRITERERROR_RETRYABLE);
    EXPECT_EQ(VSS_RUN(restore, PostRestore), VSS_S_ASYNC_FINISHED);
    EXPECT_EQ(StatusOf(restore.Get(), u"Quillfeather Catalog Agent Writer").state, VSS_WS_FAILED_AT_POST_RESTORE);
    EXPECT_EQ(StatusOf(restore.Get(), u"SqlServerWriter").state, VSS_WS_FAILED_AT_PRE_RESTORE);
    // Writers outside the backup take no part.
    EXPECT_EQ(StatusOf(restore.Get(), u"System Writer").state, VSS_WS_STABLE);
}

namespace {

TEST_F(VssRestore, AHostDescribedWriterFailsInItsPhaseAndAdditionalRestoresAreKept)
{
    std::string host = winsim::EmbeddedHostJson("default");
    const std::string agent = "\"name\": \"Quillfeather Catalog Agent Writer\",";
    ASSERT_NE(host.find(agent), std::string::npos);
    host.replace(host.find(agent), agent.size(), agent + " \"failsAt\": \"PostRestore\", \"failsWith\": \"0x800423f3\",");
    UseHost(host);
    ComPtr<IVssBackupComponents> restore = Restore(BackupDocument());
    ASSERT_EQ(VSS_RUN(restore, GatherWriterMetadata), VSS_S_ASYNC_FINISHED);
    winsim::ClearVssRequests();
    ASSERT_EQ(restore->SetAdditionalRestores(kSqlWriterId, VSS_CT_DATABASE, u"TVSRV01", u"Sales", true), S_OK);
    EXPECT_EQ(restore->SetAdditionalRestores(kSqlWriterId, VSS_CT_DATABASE, u"TVSRV01", u"msdb", true),
              VSS_E_OBJECT_NOT_FOUND);
    const std::vector<winsim::VssRequest> requests = winsim::VssRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].operation, "SetAdditionalRestores");
    EXPECT_EQ(requests[0].componentName, u"Sales");
    EXPECT_TRUE(requests[0].flag);

    // The writer passes the backup and the pre-restore event, and fails after the files.
    EXPECT_EQ(VSS_RUN(restore, PreRestore), VSS_S_ASYNC_FINISHED);
    EXPECT_EQ(StatusOf(restore.Get(), u"Quillfeather Catalog Agent Writer").state, VSS_WS_STABLE);
    EXPECT_EQ(VSS_RUN(restore, PostRestore), VSS_S_ASYNC_FINISHED);
    const Status failed = StatusOf(restore.Get(), u"Quillfeather Catalog Agent Writer");
    EXPECT_EQ(failed.state, VSS_WS_FAILED_AT_POST_RESTORE);
    EXPECT_EQ(failed.failure, VSS_E_WRITERERROR_RETRYABLE);
    EXPECT_EQ(StatusOf(restore.Get(), u"SqlServerWriter").state, VSS_WS_STABLE);

    // The saved document tells the writer that more restores follow.
    Bstr saved;
    ASSERT_EQ(restore->SaveAsXML(saved.Put()), S_OK);
    ComPtr<IVssBackupComponents> again = Restore(saved.Text());
    ASSERT_EQ(VSS_RUN(again, GatherWriterMetadata), VSS_S_ASYNC_FINISHED);
    const std::vector<ComPtr<IVssComponent>> sql = ComponentsOf(again.Get(), kSqlWriterId);
    ASSERT_FALSE(sql.empty());
    boolean additional = false;
    ASSERT_EQ(sql[0]->GetAdditionalRestores(&additional), S_OK);  // Sales
    EXPECT_TRUE(additional);

    host.replace(host.find("\"PostRestore\""), 13, "\"AfterLunch\"");
    std::vector<winsim::VssWriterModel> parsed;
    std::string error;
    EXPECT_FALSE(winsim::ParseVssWriters(nlohmann::json::parse(host)["writers"].dump(), &parsed, &error));
    EXPECT_NE(error.find("failsAt: unknown value \"AfterLunch\""), std::string::npos) << error;
}

} // namespace
