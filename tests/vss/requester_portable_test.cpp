// The requester without a session, with bad input, and opening a session on the
// platform's VSS: winsim's on Linux, Wine's stub on the Windows build.
#include <vssrequester/vsscr.h>

#include "support/wine.h"
#include "vsstest.h"

#include <gtest/gtest.h>

namespace {

using vsstest::ReadFileBytes;
using vsstest::WriteFileBytes;

const GUID kSystemWriterId = {0xe8132975, 0x6f93, 0x4464, {0xa5, 0x3e, 0x10, 0x50, 0x25, 0x3a, 0xe2, 0x20}};

bool SessionOpen(CVssCr *requester)
{
    CVssCrWriterList writers;
    return requester->GetWriters(writers) == 0;
}

TEST(RequesterObject, IsOneObjectForTheProcessAndWritesWriterIdsBracedInLowerCase)
{
    CVssCr *first = CVssCr::Instance();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(CVssCr::Instance(), first);
    CVssCr *requester = CVssCr::Instance();
    EXPECT_EQ(vsstest::Narrow(requester->WriterGUIDtoStr(kSystemWriterId)), "{e8132975-6f93-4464-a53e-1050253ae220}");
    const GUID allBits = {0xffffffff, 0xffff, 0xffff, {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}};
    EXPECT_EQ(vsstest::Narrow(requester->WriterGUIDtoStr(allBits)), "{ffffffff-ffff-ffff-ffff-ffffffffffff}");
    EXPECT_EQ(requester->WriterGUIDtoStr(GUID_NULL).size(), 38u);
    // Bytes of Data4 keep their order: a swapped pair would break comparisons with lists.
    const GUID ordered = {0x01020304, 0x0506, 0x0708, {0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f, 0x10}};
    EXPECT_EQ(vsstest::Narrow(requester->WriterGUIDtoStr(ordered)), "{01020304-0506-0708-090a-0b0c0d0e0f10}");
}

TEST(RequesterWithoutSession, EveryCallAnswersBadState)
{
    CVssCr *requester = CVssCr::Instance();
    vsstest::ScratchDirectory scratch;
    ASSERT_TRUE(scratch.created());
    CVssCrWriterList writers;
    std::shared_ptr<CVssCrWriter> writer;
    wstr name = W("System Writer");
    wstr volume = W("C:\\");
    wstr document = scratch.Path(W("components.xml"));
    wstr metadata = scratch.Path(W("writer.xml"));
    ASSERT_TRUE(WriteFileBytes(metadata, "<WRITER_METADATA/>"));

    EXPECT_EQ(requester->GetWriters(writers), VSS_E_BAD_STATE);
    EXPECT_EQ(requester->GetWritersByType(VSS_UT_BOOTABLESYSTEMSTATE, writers), VSS_E_BAD_STATE);
    EXPECT_EQ(requester->GetWriterByName(name, writer), VSS_E_BAD_STATE);
    EXPECT_TRUE(writers.empty());
    EXPECT_EQ(writer, nullptr);
    EXPECT_EQ(requester->AddVolToSnapset(volume), VSS_E_BAD_STATE);
    EXPECT_TRUE(requester->snapshotMountPoints.empty());
    EXPECT_EQ(requester->DoSnapshot(), VSS_E_BAD_STATE);
    EXPECT_EQ(requester->SaveBcdAsXML(document), VSS_E_BAD_STATE);
    EXPECT_FALSE(vsstest::FileExists(document));
    EXPECT_EQ(requester->BackupComplete(true), VSS_E_BAD_STATE);
    EXPECT_EQ(requester->DeleteSnapshotSet(), VSS_E_BAD_STATE);
    EXPECT_EQ(requester->PreRestore(), VSS_E_BAD_STATE);
    EXPECT_EQ(requester->PostRestore(), VSS_E_BAD_STATE);
    EXPECT_EQ(requester->LoadFromXML(metadata, writer, true), VSS_E_BAD_STATE);
    EXPECT_EQ(writer, nullptr);
    EXPECT_EQ(requester->backupComponents, nullptr);
    // Closing what is not open is harmless.
    requester->UnInitialize();
    requester->UnInitialize();
}

TEST(RequesterWithoutSession, WriterObjectsOfNoSessionRefuseVssCalls)
{
    // A writer object that no session made (or whose session ended) must not reach VSS.
    CVssCrWriter writer;
    auto component = std::make_shared<CVssWriterComp>();
    component->name = W("Data");
    component->writer = &writer;
    writer.components.push_back(component);
    _VSS_WRITER_STATE state = VSS_WS_STABLE;
    EXPECT_EQ(writer.GetStatus(&state, true), VSS_E_BAD_STATE);
    EXPECT_EQ(state, VSS_WS_STABLE);
    EXPECT_EQ(writer.SelectWriter(true), VSS_E_BAD_STATE);
    EXPECT_EQ(component->SetSelected(true), VSS_E_BAD_STATE);
    EXPECT_FALSE(component->selected);
    EXPECT_EQ(component->SelectForRestore(true), VSS_E_BAD_STATE);
    EXPECT_EQ(component->AddAsRestoreSubcomponent(), VSS_E_BAD_STATE);
    EXPECT_EQ(component->SetRestoreOptions(W("options")), VSS_E_BAD_STATE);
    // Without loaded metadata there is nothing to save or to describe.
    vsstest::ScratchDirectory scratch;
    ASSERT_TRUE(scratch.created());
    wstr path = scratch.Path(W("writer.xml"));
    EXPECT_EQ(writer.SaveAsXML(path), VSS_E_BAD_STATE);
    EXPECT_FALSE(vsstest::FileExists(path));
    CComBSTR service, procedure;
    EXPECT_NE(writer.GetRestoreMethod(nullptr, service, procedure, nullptr, nullptr, nullptr), 0);
}

TEST(RequesterLog, WritesOnlyWhenEnabledAndAppendsWhenAsked)
{
    CVssCr *requester = CVssCr::Instance();
    vsstest::ScratchDirectory scratch;
    ASSERT_TRUE(scratch.created());
    wstr log = scratch.Path(W("vsscr.log"));

    EXPECT_FALSE(requester->InitLogging(false, 3, &log[0], false));
    EXPECT_FALSE(vsstest::FileExists(log));
    EXPECT_FALSE(requester->InitLogging(true, 3, nullptr, false));

    ASSERT_TRUE(requester->InitLogging(true, 3, &log[0], false));
    wstr volume = W("C:\\");
    requester->AddVolToSnapset(volume);
    std::string first;
    ASSERT_TRUE(ReadFileBytes(log, &first));
    EXPECT_NE(first.find("AddVolToSnapset"), std::string::npos) << first;

    // Appending keeps what is there; starting afresh drops it.
    ASSERT_TRUE(requester->InitLogging(true, 3, &log[0], true));
    std::string appended;
    ASSERT_TRUE(ReadFileBytes(log, &appended));
    EXPECT_EQ(appended.compare(0, first.size(), first), 0);
    EXPECT_GT(appended.size(), first.size());
    ASSERT_TRUE(requester->InitLogging(true, 3, &log[0], false));
    std::string fresh;
    ASSERT_TRUE(ReadFileBytes(log, &fresh));
    EXPECT_EQ(fresh.find("AddVolToSnapset"), std::string::npos) << fresh;

    // A folder that does not exist: no log, and the old one is closed.
    wstr nowhere = scratch.Path(W("missing\\vsscr.log"));
    EXPECT_FALSE(requester->InitLogging(true, 3, &nowhere[0], false));
    requester->AddVolToSnapset(volume);
    std::string after;
    ASSERT_TRUE(ReadFileBytes(log, &after));
    EXPECT_EQ(after, fresh);
    EXPECT_FALSE(requester->InitLogging(false, 0, &log[0], false));
}

TEST(RequesterBadInput, UnreadableDocumentsOpenNoRestoreSession)
{
    CVssCr *requester = CVssCr::Instance();
    vsstest::ScratchDirectory scratch;
    ASSERT_TRUE(scratch.created());
    const struct {
        const WCHAR *name;
        const char *bytes;  // nullptr: no such file
        HRESULT hresult;
    } kDocuments[] = {
        {W("missing.xml"), nullptr, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
        {W("empty.xml"), "", VSS_E_INVALID_XML_DOCUMENT},
        {W("blank.xml"), " \r\n\t", VSS_E_INVALID_XML_DOCUMENT},
        {W("latin1.xml"), "<BACKUP_COMPONENTS name=\"caf\xE9\"/>", HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION)},
    };
    for (const auto &d : kDocuments) {
        wstr path = scratch.Path(d.name);
        ASSERT_TRUE(d.bytes == nullptr || WriteFileBytes(path, d.bytes));
        EXPECT_EQ(requester->InitializeForRestore(path, VSS_RTYPE_BY_COPY), d.hresult) << vsstest::Narrow(path);
        EXPECT_FALSE(SessionOpen(requester));
    }
    EXPECT_EQ(requester->backupComponents, nullptr);
}

TEST(RequesterOnPlatformVss, BackupSessionOpensOrFailsCleanly)
{
    CVssCr *requester = CVssCr::Instance();
    const long hr = requester->InitializeForBackup(VSSCR_OPERATION_DEFAULT, wstr(), true, true, VSS_BT_FULL,
                                                   VSS_CTX_BACKUP, false, false);
    if (tvtest::UnderWine()) {
        // Wine's VSS makes no backup-components object: the failure comes back as a code.
        EXPECT_NE(hr, 0);
        EXPECT_FALSE(SessionOpen(requester));
        EXPECT_EQ(requester->backupComponents, nullptr);
        wstr volume = W("C:\\");
        EXPECT_EQ(requester->AddVolToSnapset(volume), VSS_E_BAD_STATE);
    } else {
        ASSERT_EQ(hr, 0);
        EXPECT_TRUE(SessionOpen(requester));
        EXPECT_NE(requester->backupComponents, nullptr);
        requester->UnInitialize();
        EXPECT_FALSE(SessionOpen(requester));
        EXPECT_EQ(requester->backupComponents, nullptr);
    }
    // An operation the requester does not know is refused before VSS is asked.
    EXPECT_EQ(requester->InitializeForBackup(static_cast<OperationType>(7), wstr(), true, true, VSS_BT_FULL,
                                             VSS_CTX_BACKUP, false, false),
              E_INVALIDARG);
    EXPECT_FALSE(SessionOpen(requester));
}

} // namespace
