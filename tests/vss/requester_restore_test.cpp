// A restore session of the requester against the simulated VSS service: a document and
// writer metadata saved by a backup session, the writers rebuilt from them, the restore
// requests the service recorded, bad documents, and every VSS call of the path failing.
#include <vssrequester/vsscr.h>

#include "vsstest.h"

#include <winsim/host.h>
#include <winsim/hostmodel.h>
#include <winsim/vss.h>

#include <gtest/gtest.h>

namespace {

using vsstest::ComponentNamed;
using vsstest::InjectedFailure;
using vsstest::Narrow;
using vsstest::SameGuid;
using vsstest::WriterNamed;

std::vector<winsim::VssRequest> RequestsOf(const std::string &operation)
{
    std::vector<winsim::VssRequest> found;
    for (const auto &request : winsim::VssRequests())
        if (request.operation == operation)
            found.push_back(request);
    return found;
}

class RestoreSession : public testing::Test {
protected:
    void SetUp() override
    {
        requester_ = CVssCr::Instance();
        winsim::ClearFaults();
        // Made here, after any host a derived fixture makes current.
        scratch_.reset(new vsstest::ScratchDirectory());
        ASSERT_TRUE(scratch_->created());
        document_ = scratch_->Path(W("components.xml"));
        sqlMetadata_ = scratch_->Path(W("SqlServerWriter.xml"));
        catalogMetadata_ = scratch_->Path(W("Catalog.xml"));
        SaveBackup();
        winsim::ClearVssRequests();
    }
    void TearDown() override
    {
        requester_->UnInitialize();
        winsim::ClearFaults();
        EXPECT_EQ(winsim::LiveVssObjects(), 0u);
    }

    // A full backup of the SQL writer and the catalog agent, with its document and the two
    // writers' metadata saved as the client saves them.
    void SaveBackup()
    {
        ASSERT_EQ(requester_->InitializeForBackup(VSSCR_OPERATION_DEFAULT, wstr(), true, true, VSS_BT_FULL,
                                                  VSS_CTX_BACKUP, false, false),
                  0);
        auto sql = WriterNamed(requester_, "SqlServerWriter");
        auto catalog = WriterNamed(requester_, "Quillfeather Catalog Agent Writer");
        ASSERT_TRUE(sql && catalog);
        ASSERT_EQ(sql->SelectWriter(true), 0);
        ASSERT_EQ(catalog->SelectWriter(true), 0);
        wstr volume = W("C:\\");
        ASSERT_EQ(requester_->AddVolToSnapset(volume), 0);
        ASSERT_EQ(requester_->DoSnapshot(), 0);
        ASSERT_EQ(requester_->SaveBcdAsXML(document_), 0);
        ASSERT_EQ(sql->SaveAsXML(sqlMetadata_), 0);
        ASSERT_EQ(catalog->SaveAsXML(catalogMetadata_), 0);
        sqlBackedUp_ = *sql;
        ASSERT_EQ(requester_->BackupComplete(true), 0);
        ASSERT_EQ(requester_->DeleteSnapshotSet(), 0);
        requester_->UnInitialize();
    }

    long OpenRestore() { return requester_->InitializeForRestore(document_, VSS_RTYPE_BY_COPY); }

    CVssCr *requester_ = nullptr;
    std::unique_ptr<vsstest::ScratchDirectory> scratch_;
    wstr document_, sqlMetadata_, catalogMetadata_;
    CVssCrWriter sqlBackedUp_;
};

TEST_F(RestoreSession, WritersAreRebuiltFromTheirSavedMetadata)
{
    ASSERT_EQ(OpenRestore(), 0);
    ASSERT_NE(requester_->backupComponents, nullptr);
    // Until their saved metadata is loaded, gathered writers carry only their identity.
    auto gathered = WriterNamed(requester_, "SqlServerWriter");
    ASSERT_NE(gathered, nullptr);
    EXPECT_FALSE(gathered->metadataLoaded);
    EXPECT_TRUE(gathered->components.empty());
    EXPECT_TRUE(SameGuid(gathered->writerId, sqlBackedUp_.writerId));
    CVssCrWriterList before;
    ASSERT_EQ(requester_->GetWriters(before), 0);

    std::shared_ptr<CVssCrWriter> loaded;
    ASSERT_EQ(requester_->LoadFromXML(sqlMetadata_, loaded, true), 0);
    ASSERT_NE(loaded, nullptr);
    EXPECT_TRUE(loaded->metadataLoaded);
    EXPECT_EQ(loaded->GetName(), sqlBackedUp_.GetName());
    EXPECT_TRUE(SameGuid(loaded->writerId, sqlBackedUp_.writerId));
    EXPECT_EQ(loaded->usageType, sqlBackedUp_.usageType);
    EXPECT_EQ(loaded->sourceType, VSS_ST_TRANSACTEDDB);
    EXPECT_EQ(loaded->restoreMethod, sqlBackedUp_.restoreMethod);
    ASSERT_EQ(loaded->components.size(), sqlBackedUp_.components.size());
    auto original = sqlBackedUp_.components.begin();
    for (const auto &component : loaded->components) {
        const CVssWriterComp &saved = **original++;
        EXPECT_EQ(component->GetName(), saved.GetName());
        EXPECT_EQ(component->GetLogicalPath(), saved.GetLogicalPath());
        EXPECT_EQ(component->GetComponentType(), saved.GetComponentType());
        EXPECT_EQ(component->databaseFiles.size(), saved.databaseFiles.size());
        EXPECT_EQ(component->databaseLogFiles.size(), saved.databaseLogFiles.size());
        EXPECT_TRUE(component->CanSelectForRestore(true)) << "backed up: " << Narrow(component->GetName());
        EXPECT_FALSE(component->IsRestoreSubcomponent());
        EXPECT_EQ(component->writer, loaded.get());
    }
    // The loaded writer takes the gathered one's place.
    CVssCrWriterList after;
    ASSERT_EQ(requester_->GetWriters(after), 0);
    EXPECT_EQ(after.size(), before.size());
    EXPECT_EQ(WriterNamed(requester_, "SqlServerWriter"), loaded);
    EXPECT_EQ(gathered->requester, nullptr);

    // Without replace, a known writer stays.
    std::shared_ptr<CVssCrWriter> again;
    EXPECT_EQ(requester_->LoadFromXML(sqlMetadata_, again, false), VSS_E_OBJECT_ALREADY_EXISTS);
    EXPECT_EQ(again, nullptr);
    EXPECT_EQ(WriterNamed(requester_, "SqlServerWriter"), loaded);

    // The saved metadata round-trips: written again, it loads to the same writer.
    wstr copy = scratch_->Path(W("copy.xml"));
    ASSERT_EQ(loaded->SaveAsXML(copy), 0);
    std::shared_ptr<CVssCrWriter> reloaded;
    ASSERT_EQ(requester_->LoadFromXML(copy, reloaded, true), 0);
    EXPECT_EQ(reloaded->components.size(), loaded->components.size());
    CComBSTR service, procedure;
    VSS_RESTOREMETHOD_ENUM method = VSS_RME_UNDEFINED;
    VSS_WRITERRESTORE_ENUM writerRestore = VSS_WRE_UNDEFINED;
    bool reboot = true;
    unsigned int mappings = 99;
    ASSERT_EQ(reloaded->GetRestoreMethod(&method, service, procedure, &writerRestore, &reboot, &mappings), 0);
    EXPECT_EQ(method, sqlBackedUp_.restoreMethod);
    EXPECT_EQ(writerRestore, sqlBackedUp_.writerRestore);
    EXPECT_EQ(reboot, sqlBackedUp_.rebootRequired);
    EXPECT_EQ(mappings, sqlBackedUp_.alternateLocationMappings.size());
}

TEST_F(RestoreSession, ComponentRequestsReachVss)
{
    ASSERT_EQ(OpenRestore(), 0);
    std::shared_ptr<CVssCrWriter> sql, catalog;
    ASSERT_EQ(requester_->LoadFromXML(sqlMetadata_, sql, true), 0);
    ASSERT_EQ(requester_->LoadFromXML(catalogMetadata_, catalog, true), 0);

    auto master = ComponentNamed(sql, "master");
    ASSERT_EQ(master->SelectForRestore(true), 0);
    EXPECT_TRUE(master->selectedForRestore);
    ASSERT_EQ(master->SetRestoreOptions(W("RESTORE_OPTION=1")), 0);

    // The journal was backed up inside the catalog component: a restore subcomponent.
    auto journal = ComponentNamed(catalog, "Journal");
    auto top = ComponentNamed(catalog, "Catalog");
    EXPECT_TRUE(top->CanSelectForRestore(true));
    EXPECT_TRUE(journal->IsRestoreSubcomponent());
    EXPECT_FALSE(journal->CanSelectForRestore(false));
    EXPECT_FALSE(journal->CanSelectForRestore(true));
    ASSERT_EQ(journal->AddAsRestoreSubcomponent(), 0);
    // A component that is no restore subcomponent is refused.
    EXPECT_EQ(top->AddAsRestoreSubcomponent(), VSS_E_OBJECT_NOT_FOUND);

    ASSERT_EQ(requester_->PreRestore(), 0);
    ASSERT_EQ(requester_->PostRestore(), 0);

    auto selected = RequestsOf("SetSelectedForRestore");
    ASSERT_EQ(selected.size(), 1u);
    EXPECT_TRUE(SameGuid(selected[0].writerId, sql->writerId));
    EXPECT_EQ(Narrow(selected[0].componentName), "master");
    EXPECT_EQ(selected[0].logicalPath, master->GetLogicalPath());
    EXPECT_TRUE(selected[0].flag);
    auto options = RequestsOf("SetRestoreOptions");
    ASSERT_EQ(options.size(), 1u);
    EXPECT_EQ(Narrow(options[0].text), "RESTORE_OPTION=1");
    auto subcomponents = RequestsOf("AddRestoreSubcomponent");
    ASSERT_EQ(subcomponents.size(), 1u);
    EXPECT_EQ(Narrow(subcomponents[0].componentName), "Catalog");
    EXPECT_EQ(Narrow(subcomponents[0].text), "Catalog");
    EXPECT_EQ(Narrow(subcomponents[0].text2), "Journal");
    EXPECT_FALSE(subcomponents[0].flag);
    EXPECT_EQ(RequestsOf("PreRestore").size(), 1u);
    EXPECT_EQ(RequestsOf("PostRestore").size(), 1u);

    // The writers' state after the restore.
    _VSS_WRITER_STATE state = VSS_WS_UNKNOWN;
    EXPECT_EQ(sql->GetStatus(&state, true), 0);
    EXPECT_EQ(state, VSS_WS_STABLE);
}

TEST_F(RestoreSession, SelectingAWriterSelectsTheMarkedComponentsOrAllItsBackedUpOnes)
{
    ASSERT_EQ(OpenRestore(), 0);
    std::shared_ptr<CVssCrWriter> sql;
    ASSERT_EQ(requester_->LoadFromXML(sqlMetadata_, sql, true), 0);
    // In a restore session SetSelected only marks; SelectWriter hands the marks to VSS.
    auto sales = ComponentNamed(sql, "Sales");
    ASSERT_EQ(sales->SetSelected(true), 0);
    EXPECT_TRUE(RequestsOf("SetSelectedForRestore").empty());
    EXPECT_TRUE(RequestsOf("AddComponent").empty());
    ASSERT_EQ(sql->SelectWriter(true), 0);
    auto selected = RequestsOf("SetSelectedForRestore");
    ASSERT_EQ(selected.size(), 1u);
    EXPECT_EQ(Narrow(selected[0].componentName), "Sales");

    winsim::ClearVssRequests();
    ASSERT_EQ(sales->SetSelected(false), 0);
    ASSERT_EQ(sql->SelectWriter(true), 0);
    // Nothing marked: every backed-up component (Sales already is).
    EXPECT_EQ(RequestsOf("SetSelectedForRestore").size(), sql->components.size() - 1);
    for (const auto &component : sql->components)
        EXPECT_TRUE(component->selectedForRestore) << Narrow(component->GetName());
}

TEST_F(RestoreSession, DamagedDocumentsChangeNothing)
{
    ASSERT_EQ(OpenRestore(), 0);
    std::shared_ptr<CVssCrWriter> sql;
    ASSERT_EQ(requester_->LoadFromXML(sqlMetadata_, sql, true), 0);
    IVssBackupComponents *open = requester_->backupComponents;

    std::string whole;
    ASSERT_TRUE(vsstest::ReadFileBytes(document_, &whole));
    wstr truncated = scratch_->Path(W("truncated.xml")), notXml = scratch_->Path(W("notxml.xml")),
         wrongRoot = scratch_->Path(W("wrongroot.xml"));
    ASSERT_TRUE(vsstest::WriteFileBytes(truncated, whole.substr(0, whole.size() / 2)));
    ASSERT_TRUE(vsstest::WriteFileBytes(notXml, "this is not a document"));
    std::string writerDocument;
    ASSERT_TRUE(vsstest::ReadFileBytes(sqlMetadata_, &writerDocument));
    ASSERT_TRUE(vsstest::WriteFileBytes(wrongRoot, writerDocument));
    wstr missing = scratch_->Path(W("missing.xml"));

    for (wstr *bad : {&truncated, &notXml, &wrongRoot, &missing}) {
        EXPECT_NE(requester_->InitializeForRestore(*bad, VSS_RTYPE_BY_COPY), 0) << Narrow(*bad);
        // The open session is the same one, with the writer it had.
        EXPECT_EQ(requester_->backupComponents, open);
        EXPECT_EQ(WriterNamed(requester_, "SqlServerWriter"), sql);
    }

    std::string catalogDocument;
    ASSERT_TRUE(vsstest::ReadFileBytes(catalogMetadata_, &catalogDocument));
    wstr truncatedWriter = scratch_->Path(W("truncated-writer.xml"));
    ASSERT_TRUE(vsstest::WriteFileBytes(truncatedWriter, catalogDocument.substr(0, catalogDocument.size() - 20)));
    CVssCrWriterList before;
    ASSERT_EQ(requester_->GetWriters(before), 0);
    for (wstr *bad : {&truncatedWriter, &notXml, &document_, &missing}) {
        std::shared_ptr<CVssCrWriter> writer;
        EXPECT_NE(requester_->LoadFromXML(*bad, writer, true), 0) << Narrow(*bad);
        EXPECT_EQ(writer, nullptr);
    }
    CVssCrWriterList after;
    ASSERT_EQ(requester_->GetWriters(after), 0);
    EXPECT_EQ(after, before);
    EXPECT_FALSE(WriterNamed(requester_, "Quillfeather Catalog Agent Writer")->metadataLoaded);
}

TEST_F(RestoreSession, BackupCallsAreRefusedInARestoreAndRestoreCallsInABackup)
{
    ASSERT_EQ(OpenRestore(), 0);
    wstr volume = W("C:\\");
    EXPECT_EQ(requester_->AddVolToSnapset(volume), VSS_E_BAD_STATE);
    EXPECT_EQ(requester_->DoSnapshot(), VSS_E_BAD_STATE);
    EXPECT_EQ(requester_->BackupComplete(true), VSS_E_BAD_STATE);
    EXPECT_EQ(requester_->DeleteSnapshotSet(), VSS_E_BAD_STATE);

    ASSERT_EQ(requester_->InitializeForBackup(VSSCR_OPERATION_DEFAULT, wstr(), true, true, VSS_BT_FULL,
                                              VSS_CTX_BACKUP, false, false),
              0);
    EXPECT_EQ(requester_->PreRestore(), VSS_E_BAD_STATE);
    EXPECT_EQ(requester_->PostRestore(), VSS_E_BAD_STATE);
    auto sql = WriterNamed(requester_, "SqlServerWriter");
    auto master = ComponentNamed(sql, "master");
    EXPECT_EQ(master->SelectForRestore(true), VSS_E_BAD_STATE);
    EXPECT_EQ(master->SetRestoreOptions(W("x")), VSS_E_BAD_STATE);
    EXPECT_FALSE(master->CanSelectForRestore(true));
    EXPECT_TRUE(RequestsOf("SetSelectedForRestore").empty());
}

// The default host, with a writer that sends its "Sales" database elsewhere on restore.
class RestoreToAlternateTarget : public RestoreSession {
protected:
    void SetUp() override
    {
        std::string json = winsim::EmbeddedHostJson("default");
        const std::string sales = "\"name\": \"Sales\",";
        const size_t at = json.find(sales);
        ASSERT_NE(at, std::string::npos);
        json.insert(at + sales.size(), " \"restoreTarget\": \"VSS_RT_ALTERNATE\",");
        winsim::ReplaceHost(winsim::ParseHost(json));
        RestoreSession::SetUp();
    }
};

TEST_F(RestoreToAlternateTarget, ComponentsLearnTheirTargetAtPreRestore)
{
    ASSERT_EQ(OpenRestore(), 0);
    std::shared_ptr<CVssCrWriter> sql;
    ASSERT_EQ(requester_->LoadFromXML(sqlMetadata_, sql, true), 0);
    auto sales = ComponentNamed(sql, "Sales");
    auto master = ComponentNamed(sql, "master");
    ASSERT_EQ(requester_->PreRestore(), 0);
    EXPECT_EQ(sales->GetRestoreTarget(), VSS_RT_ALTERNATE);
    EXPECT_EQ(master->GetRestoreTarget(), VSS_RT_ORIGINAL);
}

// ---- every VSS call of the restore path failing ----

class RestoreCallFails : public RestoreSession, public testing::WithParamInterface<InjectedFailure> {};

TEST_P(RestoreCallFails, ComesBackNonZero)
{
    winsim::InjectHresult(std::string("IVssBackupComponents::") + GetParam().method, GetParam().argument,
                          GetParam().hresult);
    const std::string method = GetParam().method;
    const long opened = OpenRestore();
    if (method == "InitializeForRestore" || method == "GatherWriterMetadata") {
        EXPECT_EQ(opened, GetParam().hresult);
        EXPECT_EQ(requester_->backupComponents, nullptr);
        EXPECT_EQ(winsim::LiveVssObjects(), 0u);
        return;
    }
    ASSERT_EQ(opened, 0);
    std::shared_ptr<CVssCrWriter> sql, catalog;
    ASSERT_EQ(requester_->LoadFromXML(sqlMetadata_, sql, true), 0);
    ASSERT_EQ(requester_->LoadFromXML(catalogMetadata_, catalog, true), 0);
    auto master = ComponentNamed(sql, "master");
    long result = 0;
    if (method == "SetSelectedForRestore") {
        result = master->SelectForRestore(true);
        EXPECT_FALSE(master->selectedForRestore);
    } else if (method == "SetRestoreOptions") {
        result = master->SetRestoreOptions(W("x"));
    } else if (method == "AddRestoreSubcomponent") {
        result = ComponentNamed(catalog, "Journal")->AddAsRestoreSubcomponent();
    } else if (method == "PreRestore") {
        result = requester_->PreRestore();
    } else if (method == "PostRestore") {
        ASSERT_EQ(requester_->PreRestore(), 0);
        result = requester_->PostRestore();
    } else if (method == "SaveAsXML") {
        wstr path = scratch_->Path(W("restore-document.xml"));
        result = requester_->SaveBcdAsXML(path);
    }
    EXPECT_EQ(result, GetParam().hresult);
}

INSTANTIATE_TEST_SUITE_P(
    Requester, RestoreCallFails,
    testing::Values(InjectedFailure {"InitializeForRestore", u"", VSS_E_INVALID_XML_DOCUMENT},
                    InjectedFailure {"GatherWriterMetadata", u"", VSS_E_WRITER_INFRASTRUCTURE},
                    InjectedFailure {"SetSelectedForRestore", u"", VSS_E_OBJECT_NOT_FOUND},
                    InjectedFailure {"SetRestoreOptions", u"", E_INVALIDARG},
                    InjectedFailure {"AddRestoreSubcomponent", u"", VSS_E_OBJECT_NOT_FOUND},
                    InjectedFailure {"PreRestore", u"", VSS_E_UNEXPECTED},
                    InjectedFailure {"PostRestore", u"", VSS_E_UNEXPECTED},
                    InjectedFailure {"SaveAsXML", u"", E_OUTOFMEMORY}),
    vsstest::FailureName);

TEST_F(RestoreSession, AWriterFailingItsPostRestoreIsNotStable)
{
    winsim::InjectHresult("IVssBackupComponents::PostRestore", u"SqlServerWriter", VSS_E_WRITERERROR_NONRETRYABLE);
    ASSERT_EQ(OpenRestore(), 0);
    std::shared_ptr<CVssCrWriter> sql;
    ASSERT_EQ(requester_->LoadFromXML(sqlMetadata_, sql, true), 0);
    ASSERT_EQ(requester_->PreRestore(), 0);
    ASSERT_EQ(requester_->PostRestore(), 0);
    _VSS_WRITER_STATE state = VSS_WS_UNKNOWN;
    EXPECT_LT(sql->GetStatus(&state, true), 0);
    EXPECT_EQ(state, VSS_WS_FAILED_AT_POST_RESTORE);
}

} // namespace
