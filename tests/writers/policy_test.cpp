// Writer classification and selection through the exported interface, on the default
// simulated host and variants of it: which list each writer lands in and why, which
// components each save type takes, the writer check of a save type, and archive marking.
// What the session decided is read back from vsscr_get_decisions; what it asked VSS to
// back up, from the simulated service. Every test runs in its own process.
#include <libwinclass/backup.h>
#include <libwinclass/explain.h>

#include <liblocal/local.h>
#include <backup/messagecheck.h>
#include <support/capture.h>
#include <writers/installdir.h>

#include <winsim/host.h>
#include <winsim/hostmodel.h>
#include <winsim/vss.h>

#include <nlohmann/json.hpp>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using nlohmann::json;
using Verdicts = std::map<std::string, std::string>;
using HostEdit = std::function<void(json &)>;

struct Noted {
    int subject;
    bool taken;
    std::string writer, component, volume, verdict, reason;
};

std::vector<Noted> Decisions()
{
    std::vector<Noted> all;
    vsscr_get_decisions(
        [](const vsscr_decision *d, void *context) {
            static_cast<std::vector<Noted> *>(context)->push_back(
                {d->subject, d->taken != 0, d->writer, d->component, d->volume, d->verdict, d->reason});
        },
        &all);
    return all;
}

// "writer" or "writer|component" to the verdicts noted for it, in order, joined by ','.
Verdicts VerdictsOf(int subject)
{
    Verdicts verdicts;
    for (const Noted &d : Decisions()) {
        if (d.subject != subject)
            continue;
        std::string &joined = verdicts[subject == VSSCR_SUBJECT_WRITER ? d.writer : d.writer + "|" + d.component];
        joined += (joined.empty() ? "" : ",") + d.verdict;
    }
    return verdicts;
}

std::string ReasonOf(const std::string &writer, const std::string &component = "")
{
    for (const Noted &d : Decisions())
        if (d.writer == writer && d.component == component)
            return d.reason;
    return "(none)";
}

json &WriterNamed(json &host, const std::string &name)
{
    for (json &writer : host["writers"])
        if (writer["name"] == name)
            return writer;
    throw std::runtime_error("no writer " + name);
}

void RemoveWriter(json &host, const std::string &name)
{
    json &writers = host["writers"];
    for (size_t i = 0; i < writers.size(); ++i)
        if (writers[i]["name"] == name)
            writers.erase(i--);
}

const HostEdit kNoEdit = [](json &) {};
const HostEdit kNoSystemWriter = [](json &h) { RemoveWriter(h, "System Writer"); };
const HostEdit kNoDfsr = [](json &h) { RemoveWriter(h, "DFS Replication service writer"); };
const HostEdit kFrsInsteadOfDfsr = [](json &h) {
    RemoveWriter(h, "DFS Replication service writer");
    h["writers"].push_back({{"name", "FRS Writer"}, {"id", "d76f5a28-3092-4589-ba48-2958fb88ce29"},
                            {"instanceId", "0f0e0d0c-0b0a-4909-8807-060504030201"}, {"usage", "VSS_UT_SYSTEMSERVICE"}});
};
// No component names a file, and the ASR writer has no boot store: nothing is critical.
const HostEdit kNoFiles = [](json &h) {
    for (json &writer : h["writers"]) {
        json kept = json::array();
        for (json &component : writer["components"]) {
            component.erase("files");
            if (component["name"] != "BCD")
                kept.push_back(component);
        }
        writer["components"] = kept;
    }
};

const char kSystemWriterId[] = "{e8132975-6f93-4464-a53e-1050253ae220}";
const char kFrsId[] = "{d76f5a28-3092-4589-ba48-2958fb88ce29}";

template <class Case> std::string CaseName(const ::testing::TestParamInfo<Case> &info) { return info.param.name; }

class Policy : public tvtest::InstallDirFixture {
protected:
    void SetUp() override
    {
        InstallDirFixture::SetUp();
        Debug = 5;
        UseInstallDir();
        winsim::ClearVssRequests();
    }
    void TearDown() override
    {
        vsscr_uninit_backup();
        Debug = 0;
        InstallDirFixture::TearDown();
    }

    // A new host brings its own registry and files: the installation folder is made again.
    void UseHost(const HostEdit &edit)
    {
        json host = json::parse(winsim::EmbeddedHostJson("default"));
        edit(host);
        InstallDirFixture::TearDown();
        winsim::ReplaceHost(winsim::ParseHost(host.dump()));
        InstallDirFixture::SetUp();
        UseInstallDir();
    }

    void SetMulti(const WCHAR *value, const std::vector<const WCHAR *> &entries)
    {
        wstr data;
        for (const WCHAR *entry : entries)
            data += wstr(entry) + WCHAR(0);
        data += WCHAR(0);
        ASSERT_EQ(RegSetValueExW(key_, value, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE *>(data.data()),
                                 DWORD(data.size() * sizeof(WCHAR))),
                  ERROR_SUCCESS);
    }

    // "writer|component" of every component the session asked VSS to back up.
    static std::set<std::string> AddedComponents()
    {
        const std::vector<winsim::VssWriterModel> writers = winsim::HostVssWriters();
        std::set<std::string> added;
        for (const winsim::VssRequest &request : winsim::VssRequests()) {
            if (request.operation != "AddComponent")
                continue;
            std::string writer = "(unknown writer)";
            for (const winsim::VssWriterModel &model : writers)
                if (std::memcmp(&model.id, &request.writerId, sizeof(GUID)) == 0)
                    writer = Utf8(model.name);
            added.insert(writer + "|" + (request.logicalPath.empty() ? "" : Utf8(request.logicalPath) + "\\") +
                         Utf8(request.componentName));
        }
        return added;
    }

    // The names here are ASCII.
    static std::string Utf8(const std::u16string &text) { return std::string(text.begin(), text.end()); }

    tvtest::OutputCapture capture_;
};

// ---- classification ----

const Verdicts kDefaultClasses = {
    {"System Writer", "system state"}, {"ASR Writer", "ASR"}, {"Registry Writer", "system state"},
    {"COM+ REGDB Writer", "system state"}, {"WMI Writer", "system state"}, {"Task Scheduler Writer", "system state"},
    {"VSS Metadata Store Writer", "system state"}, {"Performance Counters Writer", "system state"},
    {"Shadow Copy Optimization Writer", "system state"}, {"SqlServerWriter", "system state,user data"},
    {"Microsoft Hyper-V VSS Writer", "system state,user data"}, {"DFS Replication service writer", "system state"},
    {"Quillfeather Catalog Agent Writer", "unsupported"}};

struct ClassCase {
    const char *name;
    const char *userList;  // bin\writerlist.txt; nullptr: the built-in list
    std::vector<const WCHAR *> disabled;
    Verdicts changed;      // over kDefaultClasses
    std::map<std::string, std::string> reasonHas;
};

class Classification : public Policy, public ::testing::WithParamInterface<ClassCase> {};

TEST_P(Classification, EveryWriterLandsInItsListsWithTheReason)
{
    const ClassCase &c = GetParam();
    if (c.userList != nullptr)
        WriteUserList(c.userList);
    if (!c.disabled.empty())
        SetMulti(W("DisabledWriters"), c.disabled);
    EXPECT_EQ(vsscr_classify_writers(), -1) << "no session yet";
    EXPECT_SUCCESS(vsscr_init_backup(3, 0));
    EXPECT_EQ(vsscr_classify_writers(), int(kDefaultClasses.size()));
    Verdicts expected = kDefaultClasses;
    for (const auto &change : c.changed)
        expected[change.first] = change.second;
    EXPECT_EQ(VerdictsOf(VSSCR_SUBJECT_WRITER), expected);
    for (const auto &reason : c.reasonHas)
        EXPECT_NE(ReasonOf(reason.first).find(reason.second), std::string::npos) << reason.first << ": " << ReasonOf(reason.first);

    // Served from the lists for the rest of the session; a new session sorts again, but
    // the promotion policies went with the first session's teardown.
    const size_t noted = Decisions().size();
    EXPECT_EQ(vsscr_classify_writers(), int(kDefaultClasses.size()));
    EXPECT_EQ(Decisions().size(), noted);
    vsscr_uninit_backup();
    EXPECT_EQ(vsscr_classify_writers(), -1);
    EXPECT_SUCCESS(vsscr_init_backup(3, 0));
    EXPECT_EQ(vsscr_classify_writers(), int(kDefaultClasses.size()));
    for (auto &verdict : expected)
        if (verdict.second == "system state,user data")
            verdict.second = "user data";
    EXPECT_EQ(VerdictsOf(VSSCR_SUBJECT_WRITER), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, Classification,
    ::testing::Values(
        ClassCase{"BuiltIn", nullptr, {W("No Such Writer")}, {},
                  {{"SqlServerWriter", "database policy"}, {"Microsoft Hyper-V VSS Writer", "virtualization host"},
                   {"System Writer", "built-in supported list"}, {"Quillfeather Catalog Agent Writer", "not in the built-in"},
                   {"ASR Writer", "Never counted unsupported"}}},
        ClassCase{"DisabledSupportedWritersOnlyUnsupported",
                  nullptr,
                  {W("registry writer"), W("  SqlServerWriter "), W("ASR Writer")},
                  {{"Registry Writer", "unsupported"}, {"SqlServerWriter", "unsupported"}},
                  {{"Registry Writer", "The user disabled it"}}},
        ClassCase{"UserFile",
                  "{e8132975-6f93-4464-a53e-1050253ae220},{66841CD4-6DED-4F4B-8F17-FD23F8DDC3DE},{00000000-0000-0000-0000-000000000000}",
                  {W("Microsoft Hyper-V VSS Writer")},
                  {{"Registry Writer", "unsupported"}, {"COM+ REGDB Writer", "unsupported"}, {"WMI Writer", "unsupported"},
                   {"Task Scheduler Writer", "unsupported"}, {"VSS Metadata Store Writer", "unsupported"},
                   {"Performance Counters Writer", "unsupported"}, {"Shadow Copy Optimization Writer", "unsupported"},
                   {"SqlServerWriter", "unsupported"}, {"Microsoft Hyper-V VSS Writer", "unsupported"},
                   {"DFS Replication service writer", "unsupported"}},
                  {{"Registry Writer", "not in the user's writer list file"},
                   {"Microsoft Hyper-V VSS Writer", "The user disabled it"}}}),
    CaseName<ClassCase>);

TEST_F(Policy, AFailedListingLeavesTheSystemStateListEmptyForTheSession)
{
    // The session does not open, and a selection run then finds the requester with no
    // session: listing the writers by type fails.
    winsim::InjectHresult("IVssBackupComponents::InitializeForBackup", u"", E_FAIL);
    tvtest::ExpectMessage(vsscr_init_backup(2, 0), 113655, 53000, "Unable to initialize VSS common requester for backup.\n");
    EXPECT_SUCCESS(vsscr_select_for_backup());
    EXPECT_SUCCESS(vsscr_init_backup(2, 0));
    EXPECT_EQ(vsscr_classify_writers(), int(kDefaultClasses.size()));
    Verdicts expected = kDefaultClasses;
    for (auto &verdict : expected)
        if (verdict.second == "system state" || verdict.second == "system state,user data")
            verdict.second = verdict.second == "system state" ? "" : "user data";
    for (auto it = expected.begin(); it != expected.end();)
        it = it->second.empty() ? expected.erase(it) : std::next(it);
    EXPECT_EQ(VerdictsOf(VSSCR_SUBJECT_WRITER), expected);
}

// ---- the writer check of a save type ----

struct SaveCase {
    const char *name;
    int saveType;
    HostEdit edit;
    const char *userList;
    std::vector<const WCHAR *> disabled;
    int expected;
    const char *logged;  // the message text in the debug log; "" when none
};

class SaveSupported : public Policy, public ::testing::WithParamInterface<SaveCase> {};

TEST_P(SaveSupported, AnswersWhetherTheNeededWriterIsPresentAndSupported)
{
    const SaveCase &c = GetParam();
    UseHost(c.edit);
    if (c.userList != nullptr)
        WriteUserList(c.userList);
    if (!c.disabled.empty())
        SetMulti(W("DisabledWriters"), c.disabled);
    EXPECT_EQ(vsscr_is_save_supported(c.saveType), c.expected);
    EXPECT_EQ(tvtest::Logged(capture_, "is not found on this system"), c.expected == 0);
    if (*c.logged != 0) {
        EXPECT_TRUE(tvtest::Logged(capture_, c.logged));
    }
}

INSTANTIATE_TEST_SUITE_P(
    SaveTypes, SaveSupported,
    ::testing::Values(
        SaveCase{"Recovery0", 0, kNoEdit, nullptr, {}, 1, ""},
        SaveCase{"Recovery1NoSystemWriter", 1, kNoSystemWriter, nullptr, {}, 0, "The VSS System Writer is not found"},
        SaveCase{"Recovery0SystemWriterUnsupported", 0, kNoEdit, kFrsId, {}, 0, "The VSS System Writer is not found"},
        SaveCase{"Recovery1SystemWriterDisabledStillCounts", 1, kNoEdit, nullptr, {W("System Writer")}, 1, ""},
        SaveCase{"SystemStateNeedsNoWriter", 2, kNoSystemWriter, nullptr, {}, 1, ""},
        SaveCase{"FileSystemNeedsNoWriter", 3, kNoSystemWriter, nullptr, {}, 1, ""},
        SaveCase{"Replication", 4, kNoEdit, nullptr, {}, 1, ""},
        SaveCase{"ReplicationOlderWriter", 4, kFrsInsteadOfDfsr, kFrsId, {}, 1, ""},
        SaveCase{"ReplicationNeither", 4, kNoDfsr, nullptr, {}, 0, "The VSS DFSR or FSR Writer is not found"},
        SaveCase{"ReplicationUnsupported", 4, kNoEdit, kSystemWriterId, {}, 0, "The VSS DFSR or FSR Writer"}),
    CaseName<SaveCase>);

// ---- selection ----

struct SelectCase {
    const char *name;
    int saveType;
    HostEdit edit;
    std::vector<const char *> savePaths;
    std::vector<std::pair<const WCHAR *, uint32_t>> critical;  // volumes entered as the critical-volume step does
    bool servicesFilesOption;
    Verdicts expected;        // "writer|component" to verdicts
    std::set<std::string> asrVolumes;  // ASR "Volumes" components selected (the rest left out)
};

const std::string kSql = "SqlServerWriter|TVSRV01\\";
const std::string kVm = "Microsoft Hyper-V VSS Writer|5B3F2C1A-8D4E-4A6F-9B0C-1D2E3F4A5B6C";
const std::string kSysvol =
    "DFS Replication service writer|SYSVOL\\8E0E4D2A-6C1B-4F3A-9D5E-7B2C4A6E8F10-2C4E6A8B-0D1F-4A3C-8E5B-9F1A3C5E7B92";

// The components on C: of the system-state writers, with one verdict for all.
Verdicts OnSystemDrive(const std::string &verdict, const std::string &servicesFiles)
{
    Verdicts v = {{"System Writer|System Files", verdict}, {"System Writer|Win32 Services Files", servicesFiles},
                  {"Registry Writer|Registry", verdict}, {"COM+ REGDB Writer|COM+ REGDB", verdict},
                  {"WMI Writer|WMI", verdict}, {"Task Scheduler Writer|TasksStore", verdict},
                  {"VSS Metadata Store Writer|WriterMetadataStore", verdict},
                  {"Performance Counters Writer|PerformanceCounters", verdict},
                  {"Microsoft Hyper-V VSS Writer|Host Component", verdict}, {kVm, "left out"}};
    for (const char *database : {"master", "model", "msdb", "Sales"})
        v[kSql + database] = "left out";
    return v;
}

Verdicts With(Verdicts base, const Verdicts &changes)
{
    for (const auto &change : changes)
        base[change.first] = change.second;
    return base;
}

class Selection : public Policy, public ::testing::WithParamInterface<SelectCase> {};

TEST_P(Selection, TakesAndLeavesOutComponentsForTheSaveType)
{
    const SelectCase &c = GetParam();
    UseHost(c.edit);
    if (c.servicesFilesOption)
        SetMulti(W("SaveOptions"), {W("VSS:TLV_SYS_WRITER_WIN32_SERVCOMP_USER=yes")});
    EXPECT_SUCCESS(vsscr_init_backup(c.saveType, 0));
    for (const char *path : c.savePaths)
        EXPECT_SUCCESS(vsscr_add_savepath(path));
    for (const auto &volume : c.critical)
        EXPECT_SUCCESS(vsscr_add_volume_EX(volume.first, volume.second));
    EXPECT_SUCCESS(vsscr_select_for_backup());

    Verdicts expected = c.expected;
    if (c.saveType <= 1 && !c.critical.empty()) {
        for (const winsim::VssWriterModel &writer : winsim::HostVssWriters()) {
            if (writer.name != u"ASR Writer")
                continue;
            for (const winsim::VssComponentModel &component : writer.components) {
                const std::string path = Utf8(component.logicalPath), name = Utf8(component.name);
                const bool taken = path != "Volumes" || c.asrVolumes.count(name) != 0;
                expected["ASR Writer|" + path + "\\" + name] = taken ? "selected" : "left out";
            }
        }
    }
    const Verdicts actual = VerdictsOf(VSSCR_SUBJECT_COMPONENT);
    EXPECT_EQ(actual, expected);

    // What the log calls selected is what VSS was asked for, and nothing else.
    std::set<std::string> selected;
    for (const Noted &d : Decisions())
        if (d.subject == VSSCR_SUBJECT_COMPONENT && d.taken)
            selected.insert(d.writer + "|" + d.component);
    EXPECT_EQ(AddedComponents(), selected);
    if (c.saveType <= 1 && c.critical.empty()) {
        EXPECT_EQ(VerdictsOf(VSSCR_SUBJECT_WRITER)["ASR Writer"], "left out") << "no critical volume: no ASR";
    }
    if (c.servicesFilesOption) {
        EXPECT_TRUE(tvtest::Logged(capture_, "VSS:TLV_SYS_WRITER_WIN32_SERVCOMP_USER=yes is set and will be honored"));
    }
}

// Step one of a recovery backup: flags-0 components of system-state writers, and what
// the promotion policies take.
const Verdicts kNoFilesRecovery = With(OnSystemDrive("selected", "left out"), {{kSysvol, "selected"}});

const std::vector<std::pair<const WCHAR *, uint32_t>> kCriticalCAndD = {
    {W("C:\\"), 2}, {W("D:\\"), 2}, {W("\\\\?\\Volume{7e1a3c5d-9f2b-4d4e-8c6a-0b2d4f6e8a15}\\"), 0x22}};

INSTANTIATE_TEST_SUITE_P(
    SaveTypes, Selection,
    ::testing::Values(
        SelectCase{"SystemStateOnC", 2, kNoEdit, {"C:\\"}, {}, false,
                   With(OnSystemDrive("selected", "selected"), {{kSysvol, "left out"}}), {}},
        SelectCase{"SystemStateOnD", 2, kNoEdit, {"D:\\Shares"}, {}, false,
                   With(OnSystemDrive("left out", "left out"), {{kSysvol, "selected"}}), {}},
        SelectCase{"SystemStateServiceFilesOption", 2, kNoEdit, {"C:\\Windows"}, {}, true,
                   With(OnSystemDrive("selected", "left out"), {{kSysvol, "left out"}}), {}},
        SelectCase{"SystemStateNoVolumeInTheSet", 2, kNoEdit, {}, {}, false, {}, {}},
        SelectCase{"RecoveryNoCriticalVolume", 1, kNoFiles, {}, {}, false, kNoFilesRecovery, {}},
        SelectCase{"RecoveryCriticalVolumes", 1, kNoEdit, {}, kCriticalCAndD, false,
                   kNoFilesRecovery,
                   {"Volume{3c5e7a91-b2d4-4f60-8a1c-2e4f6a8b0c13}", "Volume{4d6f8b02-c3e5-4a71-9b2d-3f5a7c9e1d37}"}},
        SelectCase{"RecoveryWithSystemStatePass", 0, kNoEdit, {"C:\\", "D:\\"}, kCriticalCAndD, false,
                   With(kNoFilesRecovery, {{"System Writer|Win32 Services Files", "left out,selected"},
                                           {"Microsoft Hyper-V VSS Writer|Host Component", "selected,selected"},
                                           {kVm, "left out,left out"},
                                           {kSql + "master", "left out,left out"}, {kSql + "model", "left out,left out"},
                                           {kSql + "msdb", "left out,left out"}, {kSql + "Sales", "left out,left out"}}),
                   {"Volume{3c5e7a91-b2d4-4f60-8a1c-2e4f6a8b0c13}", "Volume{4d6f8b02-c3e5-4a71-9b2d-3f5a7c9e1d37}"}}),
    CaseName<SelectCase>);

TEST_F(Policy, ReplicationSelectsTheWriterByNameOrSaysWhyNot)
{
    UseHost(kNoDfsr);
    EXPECT_SUCCESS(vsscr_init_backup(4, 0));
    tvtest::Message message(vsscr_select_for_backup());
    ASSERT_NE(message.handle, nullptr);
    EXPECT_EQ(msg_number(message.handle), 134869);
    EXPECT_EQ(std::string(msg_text(message.handle)).rfind("Unable to make the selection for writer FRS Writer: ", 0), 0u)
        << msg_text(message.handle);
    vsscr_uninit_backup();

    UseHost(kNoEdit);
    EXPECT_SUCCESS(vsscr_init_backup(4, 0));
    EXPECT_SUCCESS(vsscr_select_for_backup());
    EXPECT_EQ(AddedComponents(), std::set<std::string>{kSysvol});
}

// ---- archive marking ----

struct MarkCase {
    const char *name;
    int markFilesForArchive;
    bool blockBased;
    bool marks;
};

class ArchiveMarking : public Policy, public ::testing::WithParamInterface<MarkCase> {};

TEST_P(ArchiveMarking, MarksTheFilesOfSelectedDatabaseComponents)
{
    const MarkCase &c = GetParam();
    // path, and whether the component's file entries name it
    const std::vector<std::pair<const char *, bool>> files = {
        {"C:\\Db\\a.mdf", true},          {"C:\\Db\\a.ldf", false},         {"C:\\Db\\sub\\b.mdf", false},
        {"C:\\Logs\\x.ldf", true},        {"C:\\Logs\\deep\\y.LDF", true},  {"C:\\Logs\\deep\\y.mdf", false},
        {"C:\\One\\exact.dat", true},     {"C:\\One\\other.dat", false},       {"C:\\Db\\Data\\s.ndf", true},
        {"C:\\Db\\Log\\s.log", true},      {"C:\\Db\\Log\\s.txt", false},      {"C:\\Plain\\p.dat", false}};
    UseHost([&](json &h) {
        json &writer = WriterNamed(h, "Registry Writer");
        writer["source"] = "VSS_ST_TRANSACTEDDB";
        writer["components"][0]["files"] = {{{"path", "C:\\Db\\"}, {"filespec", "*.mdf"}},
                                            {{"path", "C:\\Logs"}, {"filespec", "*.ldf"}, {"recursive", true}},
                                            {{"path", "%SystemDrive%\\One\\"}, {"filespec", "exact.dat"}}};
        writer["components"][0]["databaseFiles"] = {{{"path", "C:\\Db\\Data"}, {"filespec", "s.ndf"}}};
        writer["components"][0]["logFiles"] = {{{"path", "C:\\Db\\Log\\"}, {"filespec", "*.log"}}};
        // A writer that is not a transacted database keeps its files as they are.
        WriterNamed(h, "COM+ REGDB Writer")["components"][0]["files"].push_back({{"path", "C:\\Plain"}, {"filespec", "*"}});
        for (const auto &file : files)
            h["files"].push_back({{"path", file.first}, {"content", "x"}, {"attributes", {"notindexed"}}});
    });
    if (c.blockBased)
        vsscr_set_bbb_backup();
    EXPECT_SUCCESS(vsscr_init_backup(1, c.markFilesForArchive));
    EXPECT_SUCCESS(vsscr_select_for_backup());
    for (const auto &file : files) {
        const std::string path = file.first;
        const DWORD attributes = GetFileAttributesW(wstr(path.begin(), path.end()).c_str());
        ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << file.first;
        EXPECT_EQ((attributes & FILE_ATTRIBUTE_ARCHIVE) != 0, c.marks && file.second) << file.first;
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, ArchiveMarking,
                         ::testing::Values(MarkCase{"Marked", 1, false, true}, MarkCase{"NotAsked", 0, false, false},
                                           MarkCase{"BlockBased", 1, true, false}),
                         CaseName<MarkCase>);

} // namespace
