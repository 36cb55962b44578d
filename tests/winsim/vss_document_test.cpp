// Writer metadata documents of the simulated shadow-copy service: what a writer saves is
// what comes back, and a damaged document is refused whole. Linux only.
#include "vsstest.h"

#include <nlohmann/json.hpp>

using vsstest::Bstr;
using vsstest::ComPtr;
using vsstest::VssTest;

namespace {

std::u16string SavedDocument(IVssExamineWriterMetadata *metadata)
{
    Bstr xml;
    EXPECT_EQ(metadata->SaveAsXML(xml.Put()), S_OK);
    return xml.Text();
}

} // namespace

TEST_F(VssTest, EveryWriterComesBackWholeFromItsSavedDocument)
{
    ComPtr<IVssBackupComponents> backup = GatheredBackup();
    UINT count = 0;
    ASSERT_EQ(backup->GetWriterMetadataCount(&count), S_OK);
    ASSERT_GT(count, 0u);
    for (UINT i = 0; i < count; ++i) {
        VSS_ID instance;
        ComPtr<IVssExamineWriterMetadata> metadata;
        ASSERT_EQ(backup->GetWriterMetadata(i, &instance, metadata.Put()), S_OK);
        const winsim::VssWriterModel original = vsstest::ReadWriter(metadata.Get());
        Bstr document(SavedDocument(metadata.Get()));
        ComPtr<IVssExamineWriterMetadata> rebuilt;
        ASSERT_EQ(CreateVssExamineWriterMetadata(document.Get(), rebuilt.Put()), S_OK);
        vsstest::ExpectSameWriter(original, vsstest::ReadWriter(rebuilt.Get()));
        // Saved again, it is the same document.
        EXPECT_EQ(SavedDocument(rebuilt.Get()), document.Text());
    }
}

TEST_F(VssTest, NamesOutsideAsciiAndMarkupCharactersSurviveTheDocument)
{
    nlohmann::json host = nlohmann::json::parse(winsim::EmbeddedHostJson("default"));
    host["writers"] = nlohmann::json::parse(u8R"([{
        "name": "Überwachung <Journal> & \"Archiv\"",
        "id": "0d9c8b7a-6f5e-4d3c-2b1a-0f9e8d7c6b5a", "instanceId": "1e0d9c8b-7a6f-4e5d-8c2b-1a0f9e8d7c6b",
        "instanceName": "Données", "usage": "VSS_UT_USERDATA", "source": "VSS_ST_NONTRANSACTEDDB",
        "restoreMethod": "VSS_RME_RESTORE_TO_ALTERNATE_LOCATION", "userProcedure": "Prüfen, dann starten",
        "writerRestore": "VSS_WRE_ALWAYS", "rebootRequired": true, "backupSchema": 4,
        "includeFiles": [{"path": "C:\\Daten\\", "filespec": "*.dat", "recursive": true, "backupTypeMask": 1}],
        "components": [{"type": "VSS_CT_DATABASE", "logicalPath": "Größe\\Ebene", "name": "Σύνολο",
                        "caption": "日本語", "flags": 3, "selectable": false, "selectableForRestore": true,
                        "restoreMetadata": true, "notifyOnBackupComplete": true,
                        "databaseFiles": [{"path": "D:\\Ö\\", "filespec": "a&b.mdf", "alternateLocation": "E:\\Ö\\"}]}]
    }])");
    UseHost(host.dump());
    const std::vector<winsim::VssWriterModel> described = winsim::HostVssWriters();
    ASSERT_EQ(described.size(), 1u);
    EXPECT_EQ(described[0].components[0].name, u"Σύνολο");
    ComPtr<IVssBackupComponents> backup = GatheredBackup();
    VSS_ID instance;
    ComPtr<IVssExamineWriterMetadata> metadata;
    ASSERT_EQ(backup->GetWriterMetadata(0, &instance, metadata.Put()), S_OK);
    vsstest::ExpectSameWriter(described[0], vsstest::ReadWriter(metadata.Get()));
    Bstr document(SavedDocument(metadata.Get()));
    ComPtr<IVssExamineWriterMetadata> rebuilt;
    ASSERT_EQ(CreateVssExamineWriterMetadata(document.Get(), rebuilt.Put()), S_OK);
    vsstest::ExpectSameWriter(described[0], vsstest::ReadWriter(rebuilt.Get()));
}

TEST_F(VssTest, ADamagedWriterDocumentIsRefusedAndChangesNothing)
{
    ComPtr<IVssBackupComponents> backup = GatheredBackup();
    VSS_ID instance;
    ComPtr<IVssExamineWriterMetadata> metadata;
    ASSERT_EQ(backup->GetWriterMetadata(0, &instance, metadata.Put()), S_OK);
    const std::u16string good = SavedDocument(metadata.Get());

    auto replaced = [&](const std::u16string &from, const std::u16string &to) {
        std::u16string changed = good;
        const size_t at = changed.find(from);
        EXPECT_NE(at, std::u16string::npos) << vsstest::Describe(from);
        if (at != std::u16string::npos)
            changed.replace(at, from.size(), to);
        return changed;
    };
    const std::u16string damaged[] = {
        u"",
        u"not a document",
        good.substr(0, good.size() / 2),                 // cut short
        good.substr(0, good.size() - 1),                 // the last '>' missing
        u"<OTHER_DOCUMENT/>",
        good + u"<WRITER_METADATA/>",                   // two roots
        replaced(u"writerId=\"", u"writerId=\"zz"),      // not a GUID
        replaced(u" usage=\"", u" usage=\"9"),           // out of range
        replaced(u"recursive=\"", u"recursive=\"maybe"), // not a flag
        replaced(u"<RESTORE_METHOD", u"<NO_RESTORE_METHOD"),
    };
    for (size_t i = 0; i < std::size(damaged); ++i) {
        SCOPED_TRACE("damaged document " + std::to_string(i));
        const std::u16string &text = damaged[i];
        Bstr document(text);
        ComPtr<IVssExamineWriterMetadata> rebuilt;
        EXPECT_EQ(CreateVssExamineWriterMetadata(document.Get(), rebuilt.Put()), VSS_E_INVALID_XML_DOCUMENT)
            << vsstest::Describe(text.substr(0, 200));
        EXPECT_FALSE(rebuilt);
        EXPECT_EQ(metadata->LoadFromXML(document.Get()), VSS_E_INVALID_XML_DOCUMENT);
        EXPECT_EQ(SavedDocument(metadata.Get()), good);
    }
    ComPtr<IVssExamineWriterMetadata> none;
    EXPECT_EQ(CreateVssExamineWriterMetadata(nullptr, none.Put()), VSS_E_INVALID_XML_DOCUMENT);
    Bstr document(good);
    EXPECT_EQ(CreateVssExamineWriterMetadata(document.Get(), nullptr), E_INVALIDARG);
}

TEST_F(VssTest, LoadingADocumentReplacesTheWriterTheObjectHolds)
{
    ComPtr<IVssBackupComponents> backup = GatheredBackup();
    VSS_ID instance;
    ComPtr<IVssExamineWriterMetadata> first, second;
    ASSERT_EQ(backup->GetWriterMetadata(0, &instance, first.Put()), S_OK);
    ASSERT_EQ(backup->GetWriterMetadata(1, &instance, second.Put()), S_OK);
    const winsim::VssWriterModel secondWriter = vsstest::ReadWriter(second.Get());
    Bstr document(SavedDocument(second.Get()));
    ASSERT_EQ(first->LoadFromXML(document.Get()), S_OK);
    vsstest::ExpectSameWriter(secondWriter, vsstest::ReadWriter(first.Get()));
}
