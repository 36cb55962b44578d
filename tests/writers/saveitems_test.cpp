// Save items on simulated hosts: which writers and components each list type hands out,
// every item, component and descriptor checked against the host's writer metadata, the
// SQL writer's name on Windows Server 2008, a metadata document that cannot be written,
// the by-name lists, and the releases. Every test runs in its own process.
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

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using nlohmann::json;
using HostEdit = std::function<void(json &)>;

std::string Narrow(const std::u16string &text) { return std::string(text.begin(), text.end()); }  // ASCII names
std::string Narrow(const WCHAR *text) { return text == nullptr ? "(null)" : Narrow(std::u16string(text)); }
std::string Text(const char *text) { return text == nullptr ? "(null)" : text; }
wstr Wide(const std::string &ascii) { return wstr(ascii.begin(), ascii.end()); }

size_t Length(const vsscr_filedesc *chain)
{
    size_t n = 0;
    for (; chain != nullptr; chain = chain->next)
        ++n;
    return n;
}

// The chain is the specification list, field by field, lengths without the NUL.
void ExpectChain(const vsscr_filedesc *chain, const std::vector<winsim::VssFileSpec> &specs, const std::string &what)
{
    EXPECT_EQ(Length(chain), specs.size()) << what;
    for (const winsim::VssFileSpec &spec : specs) {
        if (chain == nullptr)
            return;
        EXPECT_EQ(Narrow(chain->path), spec.path.empty() ? "(null)" : Narrow(spec.path)) << what;
        EXPECT_EQ(chain->path_length, spec.path.size()) << what;
        EXPECT_EQ(Narrow(chain->filespec), Narrow(spec.filespec)) << what;
        EXPECT_EQ(chain->filespec_length, spec.filespec.size()) << what;
        EXPECT_EQ(chain->recursive, spec.recursive ? 1u : 0u) << what;
        EXPECT_EQ(chain->has_alternate, spec.alternateLocation.empty() ? 0u : 1u) << what;
        EXPECT_EQ(chain->alternate_length, spec.alternateLocation.size()) << what;
        chain = chain->next;
    }
}

const winsim::VssWriterModel *ModelOf(const std::string &name)
{
    static std::vector<winsim::VssWriterModel> writers;
    writers = winsim::HostVssWriters();
    for (const winsim::VssWriterModel &writer : writers)
        if (Narrow(writer.name) == name)
            return &writer;
    return nullptr;
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

    void UseHost(const std::string &name, const HostEdit &edit = [](json &) {})
    {
        json host = json::parse(winsim::EmbeddedHostJson(name));
        edit(host);
        InstallDirFixture::TearDown();
        winsim::ReplaceHost(winsim::ParseHost(host.dump()));
        InstallDirFixture::SetUp();
        UseInstallDir();
    }

    // "writer: component|component" per item, in chain order.
    std::vector<std::string> Summary() const
    {
        std::vector<std::string> lines;
        for (const sow_save_item *item = items_; item != nullptr; item = item->next) {
            std::string line = Text(item->name) + ":";
            for (const sow_component *c = item->components; c != nullptr; c = c->next)
                line += (c == item->components ? " " : "|") + Text(c->name);
            lines.push_back(line);
        }
        return lines;
    }

    sow_save_item *items_ = nullptr;
    tvtest::OutputCapture capture_;
};

// ---- the lists ----

struct ListCase {
    const char *name;
    const char *host;
    int listType;
    std::vector<std::string> expected;  // Summary()
};

class WriterList : public SaveItems, public ::testing::WithParamInterface<ListCase> {};

const char kSqlDefault[] = "SqlServerWriter: master|model|msdb|Sales";
const char kHyperVDefault[] = "Microsoft Hyper-V VSS Writer: Host Component|5B3F2C1A-8D4E-4A6F-9B0C-1D2E3F4A5B6C";
const std::vector<std::string> kBootable = {
    "System Writer: System Files|Win32 Services Files", "Registry Writer: Registry", "COM+ REGDB Writer: COM+ REGDB",
    "WMI Writer: WMI", "Performance Counters Writer: PerformanceCounters", "Shadow Copy Optimization Writer:"};

std::vector<std::string> Plus(std::vector<std::string> a, const std::vector<std::string> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_P(WriterList, HandsOutTheListsWritersWithTheirComponentsAndFiles)
{
    const ListCase &c = GetParam();
    UseHost(c.host);
    EXPECT_SUCCESS(vsscr_init_backup(2, 0));
    items_ = vsscr_get_writer_list(c.listType);
    EXPECT_EQ(Summary(), c.expected);

    for (const sow_save_item *item = items_; item != nullptr; item = item->next) {
        const std::string name = Narrow(item->writer_name);
        const winsim::VssWriterModel *model = ModelOf(name);
        ASSERT_NE(model, nullptr) << name;
        EXPECT_EQ(Text(item->display_name), Text(item->name));
        EXPECT_NE(item->display_name, item->name) << "separate copies";
        EXPECT_EQ(item->one_68, 1u);
        EXPECT_EQ(item->keep_exclude_list, 0u);
        ExpectChain(item->exclude_list, model->excludeFiles, name + " excludes");
        const std::string metadata = Text(item->metadata_path);
        EXPECT_NE(metadata.find("\\" + name + ".xml"), std::string::npos) << metadata;
        EXPECT_NE(GetFileAttributesW(Wide(metadata).c_str()), INVALID_FILE_ATTRIBUTES) << metadata << " was written";
        EXPECT_EQ(tvtest::Logged(capture_, "No components found for writer=" + name), item->component_count == 0);

        uint32_t count = 0;
        for (const sow_component *component = item->components; component != nullptr; component = component->next) {
            ++count;
            const std::string what = name + "|" + Text(component->name);
            const winsim::VssComponentModel *found = nullptr;
            for (const winsim::VssComponentModel &m : model->components)
                if (Narrow(m.name) == Text(component->name) && Narrow(m.logicalPath) == Text(component->logical_path))
                    found = &m;
            ASSERT_NE(found, nullptr) << what;
            EXPECT_EQ(Text(component->caption), Narrow(found->caption.empty() ? found->name : found->caption)) << what;
            EXPECT_EQ(Narrow(component->writer_name), name) << what;
            EXPECT_EQ(component->bcd_flag, found->selectable ? 0u : 1u) << what;
            EXPECT_EQ(component->one_68, 1u);
            EXPECT_EQ(component->two_80, 2u);
            EXPECT_EQ(component->component_record, nullptr);
            ExpectChain(component->files, found->files, what + " files");
            ExpectChain(component->database_files, found->databaseFiles, what + " databases");
            ExpectChain(component->database_log_files, found->logFiles, what + " logs");
        }
        EXPECT_EQ(item->component_count, count) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, WriterList,
    ::testing::Values(
        ListCase{"DefaultUserData", "default", 3, {kSqlDefault, kHyperVDefault}},
        ListCase{"DefaultUnsupported", "default", 4, {"Quillfeather Catalog Agent Writer: Catalog|Journal"}},
        // The promoted user-data writers come last and keep none of their data components.
        ListCase{"DefaultSystemState", "default", 8,
                 Plus(kBootable, {"Task Scheduler Writer: TasksStore", "VSS Metadata Store Writer: WriterMetadataStore",
                                  "DFS Replication service writer: 8E0E4D2A-6C1B-4F3A-9D5E-7B2C4A6E8F10-2C4E6A8B-0D1F-"
                                  "4A3C-8E5B-9F1A3C5E7B92",
                                  "SqlServerWriter:", "Microsoft Hyper-V VSS Writer:"})},
        ListCase{"HyperVUserData",
                 "hyperv-host",
                 3,
                 {"SqlServerWriter: master|SUSDB|master|msdb|Inventory|ReportServer",
                  "Microsoft Hyper-V VSS Writer: Host Component|Initial Store|0E6A2B1C-5D3F-4A7B-8C9D-1E2F3A4B5C6D|"
                  "7C1D9E2F-3A4B-4C5D-9E6F-7A8B9C0D1E2F|A3B4C5D6-E7F8-4901-8A2B-3C4D5E6F7A8B"}},
        ListCase{"HyperVNoUnsupportedWriter", "hyperv-host", 4, {}},
        ListCase{"HyperVSystemState", "hyperv-host", 8,
                 Plus(kBootable, {"Task Scheduler Writer: TasksStore", "VSS Metadata Store Writer: WriterMetadataStore",
                                  "SqlServerWriter:", "Microsoft Hyper-V VSS Writer:"})}),
    [](const ::testing::TestParamInfo<ListCase> &info) { return std::string(info.param.name); });

TEST_F(SaveItems, AnotherListTypeOrNoSessionGivesNullWithoutAskingTheRequester)
{
    EXPECT_EQ(vsscr_get_writer_list(8), nullptr) << "no session";
    EXPECT_SUCCESS(vsscr_init_backup(2, 0));
    size_t decided = 0;
    const auto count = [](const vsscr_decision *, void *n) { ++*static_cast<size_t *>(n); };
    for (int listType : {5, 0, -1, 9}) {
        EXPECT_EQ(vsscr_get_writer_list(listType), nullptr) << listType;
        vsscr_get_decisions(count, &decided);
        EXPECT_EQ(decided, 0u) << "list type " << listType << " sorted the writers";
    }
}

// On Windows Server 2008 the SQL writer is the internal database's; its wide name stays.
TEST_F(SaveItems, SqlWriterIsTheInternalDatabaseOnServer2008Only)
{
    for (const auto &os : {std::make_pair(json{{"version", "6.1"}, {"build", 7601}, {"server", true}},
                                          "Windows Internal Database"),
                           std::make_pair(json{{"version", "6.1"}, {"build", 7601}, {"server", false}}, "SqlServerWriter"),
                           std::make_pair(json{{"version", "6.2"}, {"build", 9200}, {"server", true}}, "SqlServerWriter")}) {
        UseHost("default", [&](json &h) { h["os"] = os.first; });
        EXPECT_SUCCESS(vsscr_init_backup(3, 0));
        items_ = vsscr_get_writer_list(3);
        ASSERT_NE(items_, nullptr) << os.first.dump();
        EXPECT_EQ(Text(items_->name), os.second) << os.first.dump();
        EXPECT_EQ(Text(items_->display_name), os.second);
        EXPECT_EQ(Narrow(items_->writer_name), "SqlServerWriter");
        sow_free_save_item(items_, nullptr);
        items_ = nullptr;
        vsscr_uninit_backup();
    }
}

// Save type 1 needs every writer's document; other save types go on without one.
TEST_F(SaveItems, AMetadataDocumentThatCannotBeWrittenDropsTheListOnlyForSaveType1)
{
    for (const auto &saveType : {std::make_pair(1, false), std::make_pair(3, true)}) {
        EXPECT_SUCCESS(vsscr_init_backup(saveType.first, 0));
        items_ = vsscr_get_writer_list(3);
        ASSERT_NE(items_, nullptr);
        const std::string path = Text(items_->next->metadata_path);
        sow_free_save_item(items_, nullptr);
        winsim::InjectError("CreateFileW", std::u16string(path.begin(), path.end()), ERROR_ACCESS_DENIED, false);
        items_ = vsscr_get_writer_list(3);
        EXPECT_EQ(items_ != nullptr, saveType.second) << "save type " << saveType.first;
        sow_free_save_item(items_, nullptr);
        items_ = nullptr;
        winsim::ClearFaults();
        vsscr_uninit_backup();
    }
}

// ---- by name ----

using NamedList = int (*)(const WCHAR *, sow_component *, vsscr_filedesc **);

struct ByNameCase {
    const char *name;
    NamedList list;
    const WCHAR *writer;
    const char *component;
    long expected;  // descriptors; -1: out untouched
};

class ByName : public SaveItems, public ::testing::WithParamInterface<ByNameCase> {};

TEST_P(ByName, GivesTheComponentsListOrTheDocumentedOutValue)
{
    const ByNameCase &c = GetParam();
    EXPECT_SUCCESS(vsscr_init_backup(3, 0));
    sow_component component = {};
    component.name = const_cast<char *>(c.component);
    vsscr_filedesc marker = {};
    vsscr_filedesc *out = &marker;
    EXPECT_EQ(c.list(c.writer, &component, &out), 0);
    if (c.expected < 0) {
        EXPECT_EQ(out, &marker);
        return;
    }
    EXPECT_EQ(Length(out), size_t(c.expected));
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
                      ByNameCase{"NullNameDatabases", vsscr_get_comp_database_list, kSql, nullptr, -1}),
    [](const ::testing::TestParamInfo<ByNameCase> &info) { return std::string(info.param.name); });

TEST_F(SaveItems, ExcludeListAndMetadataDocumentByWriterName)
{
    EXPECT_SUCCESS(vsscr_init_backup(3, 0));
    vsscr_filedesc marker = {};
    vsscr_filedesc *out = &marker;
    EXPECT_EQ(vsscr_get_exclude_list(nullptr, &out), 0);
    EXPECT_EQ(out, &marker);
    EXPECT_EQ(vsscr_get_exclude_list(W("No Writer"), &out), 0);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(vsscr_get_exclude_list(W("Shadow Copy Optimization Writer"), &out), 0);
    ExpectChain(out, ModelOf("Shadow Copy Optimization Writer")->excludeFiles, "excludes");
    FreeFileDescList(out);

    CreateDirectoryW(W("C:\\tvtest"), nullptr);
    const WCHAR *document = W("C:\\tvtest\\wmi-writer.xml");
    DeleteFileW(document);
    EXPECT_EQ(vsscr_save_writer_to_xml(W("No Writer"), nullptr, document), 0);
    EXPECT_EQ(vsscr_save_writer_to_xml(nullptr, nullptr, document), 0);
    EXPECT_EQ(GetFileAttributesW(document), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(vsscr_save_writer_to_xml(W("WMI Writer"), nullptr, document), 0);
    EXPECT_NE(GetFileAttributesW(document), INVALID_FILE_ATTRIBUTES);
}

// ---- records and releases ----

vsscr_filedesc *Descriptors(int n)
{
    vsscr_filedesc *first = nullptr;
    for (int i = 0; i < n; ++i) {
        auto *d = static_cast<vsscr_filedesc *>(std::calloc(1, sizeof(vsscr_filedesc)));
        d->path = _wcsdup(W("C:\\data"));
        d->filespec = _wcsdup(W("*"));
        d->next = first;
        first = d;
    }
    return first;
}

// Everything a chain of three items holds is released (AddressSanitizer finds a leak or a
// double release); an item that keeps its exclude list leaves it to the caller.
TEST_F(SaveItems, ReleasesAThreeItemChainAndLeavesAKeptExcludeList)
{
    std::vector<vsscr_filedesc *> kept;
    sow_save_item *first = nullptr;
    for (int i = 0; i < 3; ++i) {
        sow_save_item *item = sow_init_walker_item();
        ASSERT_NE(item, nullptr);
        item->name = xstrdup("w");
        item->display_name = xstrdup("w");
        item->writer_name = _wcsdup(W("w"));
        item->metadata_path = xstrdup("C:\\w.xml");
        item->exclude_list = Descriptors(2);
        item->keep_exclude_list = i == 1 ? 1 : 0;
        if (i == 1)
            kept.push_back(item->exclude_list);
        for (int j = 0; j < 2; ++j) {
            sow_component *component = sow_init_component();
            ASSERT_NE(component, nullptr);
            component->name = xstrdup("c");
            component->caption = xstrdup("c");
            component->logical_path = xstrdup("");
            component->writer_name = _wcsdup(W("w"));
            component->files = Descriptors(1);
            component->database_files = Descriptors(2);
            component->database_log_files = Descriptors(3);
            component->next = item->components;
            item->components = component;
        }
        item->next = first;
        first = item;
    }
    EXPECT_EQ(sow_free_save_item(first, nullptr), 0);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(Length(kept[0]), 2u);
    EXPECT_EQ(Narrow(kept[0]->path), "C:\\data");
    FreeFileDescList(kept[0]);
    EXPECT_EQ(sow_free_save_item(nullptr, nullptr), 0);
    EXPECT_EQ(sow_free_save_components(nullptr, nullptr), 0);
    FreeFileDescList(nullptr);
}

TEST_F(SaveItems, RoutinesOfItemsAndComponents)
{
    sow_save_item *item = sow_init_walker_item();
    sow_component *component = sow_init_component();
    ASSERT_TRUE(item != nullptr && component != nullptr);
    for (sow_info_routine info : {item->info_routine, component->info_routine}) {
        uint32_t first = 0, second = 0;
        EXPECT_EQ(info(nullptr, &first, &second), 0);
        EXPECT_EQ(first, 2u);
        EXPECT_EQ(second, 47u);
    }
    // No path: the runtime refuses it, and the routine answers 0.
    for (sow_backup_routine backup : {item->backup_routine, component->backup_routine}) {
        SetLastError(0);
        EXPECT_EQ(backup(nullptr, nullptr, nullptr, item), 0);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    }
    sow_free_save_components(component, nullptr);
    sow_free_save_item(item, nullptr);
}

} // namespace
