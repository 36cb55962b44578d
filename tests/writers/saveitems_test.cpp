// Save items on simulated hosts: the writers and components of each list type, every
// record checked against the host's writer metadata, the SQL writer on Windows Server
// 2008, an unwritable metadata document, the by-name lists, and the releases (under
// AddressSanitizer a leak or a double release fails them). Each test runs in its own process.
#include <libwinclass/backup.h>
#include <libwinclass/explain.h>
#include <libwinclass/saveitems.h>

#include <backup/messagecheck.h>
#include <liblocal/local.h>
#include <support/capture.h>
#include <writers/installdir.h>

#include <winsim/host.h>
#include <winsim/hostmodel.h>
#include <winsim/vss.h>

#include <nlohmann/json.hpp>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using nlohmann::json;
using Specs = std::vector<winsim::VssFileSpec>;

// The names on these hosts are ASCII.
std::string Narrow(const std::u16string &text) { return std::string(text.begin(), text.end()); }
std::string Narrow(const WCHAR *text) { return text == nullptr ? "(null)" : Narrow(std::u16string(text)); }
std::string Text(const char *text) { return text == nullptr ? "(null)" : text; }

size_t Length(const vsscr_filedesc *chain) { return chain == nullptr ? 0 : 1 + Length(chain->next); }

// Field by field, lengths without the NUL; an empty text is a NULL pointer.
void ExpectChain(const vsscr_filedesc *d, const Specs &specs, const std::string &what)
{
    ASSERT_EQ(Length(d), specs.size()) << what;
    for (const winsim::VssFileSpec &spec : specs) {
        const auto text = [](const std::u16string &s) { return s.empty() ? std::string("(null)") : Narrow(s); };
        EXPECT_EQ(Narrow(d->path) + "|" + Narrow(d->filespec) + "|" + Narrow(d->alternate_path),
                  text(spec.path) + "|" + Narrow(spec.filespec) + "|" + text(spec.alternateLocation)) << what;
        EXPECT_EQ(std::vector<size_t>(
                      {d->path_length, d->filespec_length, d->alternate_length, d->recursive, d->has_alternate}),
                  std::vector<size_t>({spec.path.size(), spec.filespec.size(), spec.alternateLocation.size(),
                                       spec.recursive ? 1u : 0u, spec.alternateLocation.empty() ? 0u : 1u})) << what;
        d = d->next;
    }
}

// The WMI Writer's file names no folder, only where its files go on restore.
void AlternateWithoutPath(json &host)
{
    for (json &writer : host["writers"])
        if (writer["name"] == "WMI Writer")
            writer["components"][0]["files"].push_back(
                {{"path", ""}, {"filespec", "repo.dat"}, {"alternateLocation", "D:\\Alt\\"}, {"recursive", true}});
}

// On Windows Server 2008 the SQL writer is the internal database's.
void Server2008(json &host)
{
    AlternateWithoutPath(host);
    host["os"] = {{"version", "6.1"}, {"build", 7601}, {"server", true}};
}

class SaveItems : public tvtest::InstallDirFixture {
protected:
    void SetUp() override
    {
        InstallDirFixture::SetUp();
        Debug = 1;
        UseInstallDir();
    }
    void TearDown() override
    {
        sow_free_save_item(items_, nullptr);
        vsscr_uninit_backup();
        winsim::ClearFaults();
        Debug = 0;
        InstallDirFixture::TearDown();
    }

    void UseHost(const std::string &name, void (*edit)(json &))
    {
        json host = json::parse(winsim::EmbeddedHostJson(name));
        edit(host);
        InstallDirFixture::TearDown();
        winsim::ReplaceHost(winsim::ParseHost(host.dump()));
        InstallDirFixture::SetUp();
        UseInstallDir();
    }

    sow_save_item *items_ = nullptr;
    tvtest::OutputCapture capture_;
};

// ---- the lists ----

struct ListCase {
    const char *name;
    const char *host;
    void (*edit)(json &);
    int listType;
    std::vector<std::string> expected;  // per item "writer: component|component"
};

class WriterList : public SaveItems, public ::testing::WithParamInterface<ListCase> {};

TEST_P(WriterList, HandsOutTheListsWritersWithTheirComponentsAndFiles)
{
    const ListCase &c = GetParam();
    UseHost(c.host, c.edit);
    EXPECT_SUCCESS(vsscr_init_backup(2, 0));
    items_ = vsscr_get_writer_list(c.listType);
    const std::vector<winsim::VssWriterModel> models = winsim::HostVssWriters();
    std::vector<std::string> summary;
    for (const sow_save_item *item = items_; item != nullptr; item = item->next) {
        const std::string name = Narrow(item->writer_name);
        summary.push_back(Text(item->name) + ":");
        const winsim::VssWriterModel *model = nullptr;
        for (const winsim::VssWriterModel &m : models)
            model = Narrow(m.name) == name ? &m : model;
        ASSERT_NE(model, nullptr) << name;
        EXPECT_TRUE(Text(item->display_name) == Text(item->name) && item->display_name != item->name) << name;
        EXPECT_EQ(item->one_68 * 10 + item->keep_exclude_list, 10u) << name;
        ExpectChain(item->exclude_list, model->excludeFiles, name + " excludes");
        const std::string metadata = Text(item->metadata_path);
        EXPECT_NE(metadata.find("\\" + name + ".xml"), std::string::npos) << metadata;
        EXPECT_NE(GetFileAttributesW(wstr(metadata.begin(), metadata.end()).c_str()), INVALID_FILE_ATTRIBUTES)
            << metadata;
        EXPECT_EQ(tvtest::Logged(capture_, "No components found for writer=" + name), item->component_count == 0);

        uint32_t count = 0;
        for (const sow_component *component = item->components; component != nullptr; component = component->next) {
            summary.back() += (count++ == 0 ? " " : "|") + Text(component->name);
            const std::string what = name + "|" + Text(component->name);
            const winsim::VssComponentModel *m = nullptr;
            for (const winsim::VssComponentModel &candidate : model->components)
                if (Narrow(candidate.name) == Text(component->name) &&
                    Narrow(candidate.logicalPath) == Text(component->logical_path))
                    m = &candidate;
            ASSERT_NE(m, nullptr) << what;
            EXPECT_EQ(Text(component->caption), Narrow(m->caption.empty() ? m->name : m->caption)) << what;
            EXPECT_EQ(Narrow(component->writer_name), name) << what;
            EXPECT_EQ(component->bcd_flag, m->selectable ? 0u : 1u) << what;
            EXPECT_TRUE(component->one_68 == 1 && component->two_80 == 2 && component->component_record == nullptr);
            ExpectChain(component->files, m->files, what + " files");
            ExpectChain(component->database_files, m->databaseFiles, what + " databases");
            ExpectChain(component->database_log_files, m->logFiles, what + " logs");
        }
        EXPECT_EQ(item->component_count, count) << name;
    }
    EXPECT_EQ(summary, c.expected);
}

const std::vector<std::string> kSystemState = {
    "System Writer: System Files|Win32 Services Files", "Registry Writer: Registry", "COM+ REGDB Writer: COM+ REGDB",
    "WMI Writer: WMI", "Performance Counters Writer: PerformanceCounters", "Shadow Copy Optimization Writer:",
    "Task Scheduler Writer: TasksStore", "VSS Metadata Store Writer: WriterMetadataStore"};
const char kDfs[] =
    "DFS Replication service writer: 8E0E4D2A-6C1B-4F3A-9D5E-7B2C4A6E8F10-2C4E6A8B-0D1F-4A3C-8E5B-9F1A3C5E7B92";

std::vector<std::string> Plus(std::vector<std::string> a, const std::vector<std::string> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The promoted user-data writers come last in list 8 and keep none of their data components.
INSTANTIATE_TEST_SUITE_P(
    Hosts, WriterList,
    ::testing::Values(
        ListCase{"DefaultUserData", "default", AlternateWithoutPath, 3, {"SqlServerWriter: master|model|msdb|Sales",
                  "Microsoft Hyper-V VSS Writer: Host Component|5B3F2C1A-8D4E-4A6F-9B0C-1D2E3F4A5B6C"}},
        ListCase{"Server2008UserData", "default", Server2008, 3, {"Windows Internal Database: master|model|msdb|Sales",
                  "Microsoft Hyper-V VSS Writer: Host Component|5B3F2C1A-8D4E-4A6F-9B0C-1D2E3F4A5B6C"}},
        ListCase{"DefaultUnsupported", "default", AlternateWithoutPath, 4,
                 {"Quillfeather Catalog Agent Writer: Catalog|Journal"}},
        ListCase{"DefaultSystemState", "default", AlternateWithoutPath, 8,
                 Plus(kSystemState, {kDfs, "SqlServerWriter:", "Microsoft Hyper-V VSS Writer:"})},
        ListCase{"HyperVUserData", "hyperv-host", AlternateWithoutPath, 3,
                 {"SqlServerWriter: master|SUSDB|master|msdb|Inventory|ReportServer",
                  "Microsoft Hyper-V VSS Writer: Host Component|Initial Store|0E6A2B1C-5D3F-4A7B-8C9D-1E2F3A4B5C6D|"
                  "7C1D9E2F-3A4B-4C5D-9E6F-7A8B9C0D1E2F|A3B4C5D6-E7F8-4901-8A2B-3C4D5E6F7A8B"}},
        ListCase{"HyperVNoUnsupportedWriter", "hyperv-host", AlternateWithoutPath, 4, {}},
        ListCase{"HyperVSystemState", "hyperv-host", AlternateWithoutPath, 8,
                 Plus(kSystemState, {"SqlServerWriter:", "Microsoft Hyper-V VSS Writer:"})}),
    [](const ::testing::TestParamInfo<ListCase> &info) { return std::string(info.param.name); });

TEST_F(SaveItems, AnotherListTypeOrNoSessionGivesNullWithoutAskingTheRequester)
{
    EXPECT_EQ(vsscr_get_writer_list(8), nullptr) << "no session";
    EXPECT_SUCCESS(vsscr_init_backup(2, 0));
    size_t decided = 0;
    for (int listType : {5, 0, -1, 9})
        EXPECT_EQ(vsscr_get_writer_list(listType), nullptr) << listType;
    vsscr_get_decisions([](const vsscr_decision *, void *n) { ++*static_cast<size_t *>(n); }, &decided);
    EXPECT_EQ(decided, 0u) << "the writers were sorted";
}

// Save type 1 needs every writer's document; the other save types go on without one.
TEST_F(SaveItems, AMetadataDocumentThatCannotBeWrittenDropsTheListOnlyForSaveType1)
{
    for (int saveType : {1, 3}) {
        EXPECT_SUCCESS(vsscr_init_backup(saveType, 0));
        sow_save_item *items = vsscr_get_writer_list(3);
        ASSERT_NE(items, nullptr);
        const std::string path = Text(items->next->metadata_path);
        sow_free_save_item(items, nullptr);
        winsim::InjectError("CreateFileW", std::u16string(path.begin(), path.end()), ERROR_ACCESS_DENIED, false);
        items = vsscr_get_writer_list(3);
        EXPECT_EQ(items != nullptr, saveType != 1) << "save type " << saveType;
        sow_free_save_item(items, nullptr);
        winsim::ClearFaults();
        vsscr_uninit_backup();
    }
}

// ---- by name ----

using NamedList = int (*)(const WCHAR *, sow_component *, vsscr_filedesc **);

struct ByNameCase {
    const char *name;
    NamedList list;  // nullptr: the writer's exclude list
    const WCHAR *writer;
    const char *component;
    long expected;  // descriptors; -1: out untouched
};

class ByName : public SaveItems, public ::testing::WithParamInterface<ByNameCase> {};

TEST_P(ByName, GivesTheListOrTheDocumentedOutValue)
{
    const ByNameCase &c = GetParam();
    EXPECT_SUCCESS(vsscr_init_backup(3, 0));
    sow_component component = {};
    component.name = const_cast<char *>(c.component);
    vsscr_filedesc marker = {};
    vsscr_filedesc *out = &marker;
    EXPECT_EQ(c.list != nullptr ? c.list(c.writer, &component, &out) : vsscr_get_exclude_list(c.writer, &out), 0);
    EXPECT_EQ(out == &marker ? -1 : long(Length(out)), c.expected);
    if (out != &marker)
        FreeFileDescList(out);
}

const WCHAR kSql[] = W("sqlserverwriter");
INSTANTIATE_TEST_SUITE_P(
    Lists, ByName,
    ::testing::Values(ByNameCase{"Databases", vsscr_get_comp_database_list, kSql, "Sales", 1},
                      ByNameCase{"Logs", vsscr_get_comp_db_logfile_group_list, kSql, "MSDB", 1},
                      ByNameCase{"NoFileGroup", vsscr_get_comp_file_group_list, kSql, "master", 0},
                      ByNameCase{"FileGroup", vsscr_get_comp_file_group_list, W("System Writer"), "System Files", 3},
                      ByNameCase{"UnknownComponent", vsscr_get_comp_database_list, kSql, "Nothing", 0},
                      ByNameCase{"UnknownWriter", vsscr_get_comp_file_group_list, W("No Writer"), "System Files", 0},
                      ByNameCase{"NullWriter", vsscr_get_comp_db_logfile_group_list, nullptr, "master", -1},
                      ByNameCase{"NullNameFileGroup", vsscr_get_comp_file_group_list, W("System Writer"), nullptr, 0},
                      ByNameCase{"NullNameLogs", vsscr_get_comp_db_logfile_group_list, kSql, nullptr, 0},
                      ByNameCase{"NullNameDatabases", vsscr_get_comp_database_list, kSql, nullptr, -1},
                      ByNameCase{"Excludes", nullptr, W("Shadow Copy Optimization Writer"), nullptr, 4},
                      ByNameCase{"ExcludesUnknownWriter", nullptr, W("No Writer"), nullptr, 0},
                      ByNameCase{"ExcludesNullWriter", nullptr, nullptr, nullptr, -1}),
    [](const ::testing::TestParamInfo<ByNameCase> &info) { return std::string(info.param.name); });

TEST_F(SaveItems, MetadataDocumentByWriterName)
{
    EXPECT_SUCCESS(vsscr_init_backup(3, 0));
    CreateDirectoryW(W("C:\\tvtest"), nullptr);
    const WCHAR *document = W("C:\\tvtest\\wmi-writer.xml");
    DeleteFileW(document);
    EXPECT_EQ(vsscr_save_writer_to_xml(W("No Writer"), nullptr, document), 0);
    EXPECT_EQ(vsscr_save_writer_to_xml(nullptr, nullptr, document), 0);
    EXPECT_EQ(GetFileAttributesW(document), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(vsscr_save_writer_to_xml(W("WMI Writer"), nullptr, document), 0);
    EXPECT_NE(GetFileAttributesW(document), INVALID_FILE_ATTRIBUTES);
}

// ---- releases and routines ----

// Three items with everything they hold; the exclude list of a kept one stays the caller's.
TEST_F(SaveItems, ReleasesAThreeItemChainAndLeavesAKeptExcludeList)
{
    EXPECT_SUCCESS(vsscr_init_backup(2, 0));
    sow_save_item *items = vsscr_get_writer_list(8), *keeper = items;
    ASSERT_NE(items, nullptr);
    while (keeper != nullptr && Text(keeper->name) != "Shadow Copy Optimization Writer")
        keeper = keeper->next;
    ASSERT_NE(keeper, nullptr);
    keeper->keep_exclude_list = 1;
    vsscr_filedesc *kept = keeper->exclude_list;
    sow_save_item *rest = items->next->next->next;
    items->next->next->next = nullptr;
    EXPECT_EQ(sow_free_save_item(items, nullptr), 0);
    EXPECT_EQ(sow_free_save_item(rest, nullptr), 0);
    EXPECT_EQ(Length(kept), 4u);
    FreeFileDescList(kept);
    EXPECT_EQ(sow_free_save_item(nullptr, nullptr) + sow_free_save_components(nullptr, nullptr), 0);
    FreeFileDescList(nullptr);
}

// The information routine reports 2 and 47; the backup routine passes a refused path's 0 on.
TEST_F(SaveItems, RoutinesOfItemsAndComponents)
{
    sow_save_item *item = sow_init_walker_item();
    sow_component *component = sow_init_component();
    ASSERT_TRUE(item != nullptr && component != nullptr);
    uint32_t first = 0, second = 0;
    EXPECT_EQ(item->info_routine(nullptr, &first, &second) + component->info_routine(nullptr, &second, &first), 0);
    EXPECT_EQ(first * 100 + second, 4702u);
    SetLastError(0);
    EXPECT_EQ(item->backup_routine(nullptr, nullptr, nullptr, item), 0);
    EXPECT_EQ(component->backup_routine(nullptr, nullptr, nullptr, component), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(sow_free_save_components(component, nullptr) + sow_free_save_item(item, nullptr), 0);
}

} // namespace
