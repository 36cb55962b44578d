// Every embedded host taken through a whole plan: the save paths, the selection of save
// types 0, 1 and 2, and the critical volumes. The expected components, volumes and flags
// were worked out by hand from the host files; a change in any of the host, winsim, the
// common requester or the policy shows up here as a difference in what a backup takes.
// Each test runs in its own process, so every plan starts from a freshly loaded library.
#include <libwinclass/backup.h>
#include <libwinclass/explain.h>

#include <liblocal/local.h>
#include <support/capture.h>
#include <vssrequester/vsscr.h>

#include <winsim/hostmodel.h>

#include <gtest/gtest.h>

#include <ostream>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Names = std::set<std::string>;

std::string Narrow(const wstr &text)
{
    return std::string(text.begin(), text.end());  // every name on these hosts is ASCII
}

Names Join(Names a, const Names &b)
{
    a.insert(b.begin(), b.end());
    return a;
}

// The flag-0 components of the system writers every host has, all on C:.
const Names kSystem = {
    "System Writer: System Files",      "Registry Writer: Registry",
    "COM+ REGDB Writer: COM+ REGDB",    "WMI Writer: WMI",
    "Task Scheduler Writer: TasksStore", "VSS Metadata Store Writer: WriterMetadataStore",
    "Performance Counters Writer: PerformanceCounters",
};
const char kServices[] = "System Writer: Win32 Services Files";
const char kHostComponent[] = "Microsoft Hyper-V VSS Writer: Host Component";

// What the disaster-recovery selection takes of the ASR writer: its own two components,
// every disk, and the "Volumes" components of the critical volumes (BCD volume excepted).
Names Asr(const std::vector<std::string> &criticalGuids, int disks)
{
    Names names = {"ASR Writer: ASR\\ASR", "ASR Writer: BCD\\BCD"};
    for (const std::string &guid : criticalGuids)
        names.insert("ASR Writer: Volumes\\Volume{" + guid + "}");
    for (int disk = 0; disk < disks; ++disk)
        names.insert("ASR Writer: Disks\\harddisk" + std::to_string(disk));
    return names;
}

struct Critical {
    std::string volume;  // as vsscr_get_dr_critical_volumes hands it back
    uint32_t flags;      // its flags in the volume snapshot map
};

struct Plan {
    std::string host;
    std::vector<std::string> savePaths;  // added before the selection
    Names disasterRecovery;              // save type 1; type 0 adds "Win32 Services Files"
    Names systemState;                   // save type 2
    std::vector<Critical> critical;      // in the order handed back
    Names refused;                       // critical volumes a disaster recovery cannot restore
};

const std::string kDfsDefault = "DFS Replication service writer: SYSVOL\\8E0E4D2A-6C1B-4F3A-9D5E-7B2C4A6E8F10-"
                                "2C4E6A8B-0D1F-4A3C-8E5B-9F1A3C5E7B92";
const std::string kDfsSpaces = "DFS Replication service writer: SYSVOL\\4C66F998-05F9-4E89-9165-35DA38BFDA64-"
                               "8E4F34BE-F8AE-48CF-996D-D283DA15638B";
const std::string kDfsPack = "DFS Replication service writer: SYSVOL\\882DD9A4-456E-470A-B03E-2F8B2853A5A6-"
                             "2DFA5893-0A23-4D16-8E62-2EB03C106C4A";
const std::string kWid = "SqlServerWriter: HVHOST01\\MICROSOFT##WID\\";

// Flags: 1 save path, 2 critical, 4 parent of a mount point, 8 dynamic pack, 0x20 BCD.
const std::vector<Plan> kPlans = {
    // C: (system writers, Hyper-V host) and D: (DFS-R) are critical; the SQL instance is
    // not described, so no database is promoted; the EFI partition holds the BCD store.
    {"default",
     {"C:\\Users", "D:\\Mount\\Archive\\2025\\q4.txt"},
     Join(Join(kSystem, {kDfsDefault, kHostComponent}),
          Asr({"3c5e7a91-b2d4-4f60-8a1c-2e4f6a8b0c13", "4d6f8b02-c3e5-4a71-9b2d-3f5a7c9e1d37"}, 5)),
     Join(kSystem, {kServices, kDfsDefault, kHostComponent}),
     {{"\\\\?\\Volume{7e1a3c5d-9f2b-4d4e-8c6a-0b2d4f6e8a15}", 0x22}, {"C:\\", 3}, {"D:\\", 7}},
     {}},
    // The clustered disks hold no system-state component: nothing is refused.
    {"cluster-node",
     {"C:\\"},
     Join(Join(kSystem, {"Cluster Database: Cluster Database", kDfsDefault, kHostComponent}),
          Asr({"3c5e7a91-b2d4-4f60-8a1c-2e4f6a8b0c13", "4d6f8b02-c3e5-4a71-9b2d-3f5a7c9e1d37"}, 5)),
     Join(kSystem, {kServices, "Cluster Database: Cluster Database", kHostComponent}),
     {{"\\\\?\\Volume{7e1a3c5d-9f2b-4d4e-8c6a-0b2d4f6e8a15}", 0x22}, {"C:\\", 3}, {"D:\\", 2}},
     {}},
    // The Windows Internal Database is promoted (W: becomes critical through SUSDB), the
    // Standard and the unreachable instances are not; of Hyper-V only the host's own two
    // components. Win32 Services Files lie on D:, which is not critical.
    {"hyperv-host",
     {"C:\\", "D:\\Program Files\\Tolvane"},
     Join(Join(kSystem, {kHostComponent, "Microsoft Hyper-V VSS Writer: Initial Store", kWid + "master", kWid + "SUSDB"}),
          Asr({"f150e2bc-3a90-4d26-ac22-337ac7852b1c", "5a367e2e-e62f-4396-af40-e58d5c70d9b9"}, 3)),
     Join(kSystem, {kServices, kHostComponent, "Microsoft Hyper-V VSS Writer: Initial Store", kWid + "master"}),
     {{"\\\\?\\Volume{0bbe43d7-1dd8-4ee2-b788-2d25f0336589}", 0x22}, {"C:\\", 3}, {"W:\\", 2}},
     {}},
    // C: lies on a Storage Spaces disk and is refused; D: (DFS-R) stays critical.
    {"spaces-boot",
     {"C:\\", "D:\\Shares"},
     Join(Join(kSystem, {kDfsSpaces}), Asr({"43a58573-e80b-471c-9dec-0317453e55bd"}, 4)),
     Join(kSystem, {kServices, kDfsSpaces}),
     {{"\\\\?\\Volume{93175fc9-7e5e-42c0-8dbb-925dc7556b0a}", 0x22}, {"D:\\", 3}},
     {"C:\\"}},
    // The DFS-R folder lies on the innermost mounted volume, on the dynamic pack: C: is its
    // parent, and every volume of the pack (D:, L:, both mounted folders) comes along.
    // Scratch (E:) is on a basic disk; System Reserved holds the BCD store.
    {"dynamic-pack",
     {"C:\\Mounts\\Archive\\2025\\Reports"},
     Join(Join(kSystem, {kDfsPack}),
          Asr({"33b32af4-1a41-4aad-8f9a-8d7e85b3d93c", "13c1fb1a-e74f-4425-86d2-a9a245e5ff8e",
               "be78251c-3894-425e-b01b-28f3cd7d56bf", "d38aba5b-76df-42fe-b0bc-d4acba99bc3f",
               "738713c5-8565-4108-9df4-3832f8b58d4b"},
              5)),
     Join(kSystem, {kServices, kDfsPack}),
     {{"\\\\?\\Volume{3b35c71d-8911-4107-8a72-e8f5a921249e}", 0x22},
      {"C:\\Mounts\\Archive\\2025", 0xB},
      {"C:\\Mounts\\Archive", 0xA},
      {"C:\\", 0xF},
      {"D:\\", 0xA},
      {"L:\\", 0xA}},
     {}},
};

// Test names and failure lines name the host, not the bytes of the row.
void PrintTo(const Plan &plan, std::ostream *out)
{
    *out << plan.host;
}

void UseHost(const std::string &name)
{
    winsim::ReplaceHost(winsim::ParseHost(winsim::EmbeddedHostJson(name)));
}

// "Writer: logical path\name" of every component the common requester holds as selected.
Names SelectedComponents()
{
    Names names;
    CVssCrWriterList writers;
    EXPECT_EQ(CVssCr::Instance()->GetWriters(writers), 0);
    for (const auto &writer : writers) {
        CVssWriterCompList components;
        EXPECT_EQ(writer->GetAllComponents(components), 0);
        for (const auto &component : components) {
            if (component->selected) {
                const wstr &path = component->GetLogicalPath();
                names.insert(Narrow(writer->GetName()) + ": " + Narrow(path.empty() ? path : path + W("\\")) +
                             Narrow(component->GetName()));
            }
        }
    }
    return names;
}

std::vector<Critical> CriticalVolumes()
{
    std::vector<std::string> handed;
    vo_vallist *list = nullptr;
    EXPECT_EQ(vsscr_get_dr_critical_volumes(&list), 1);
    for (vo_vallist *at = list; at != nullptr; at = at->next)
        handed.push_back(at->value);
    vallist_free(list);

    std::vector<Critical> critical;
    vsscr_vol_entry *first = nullptr;
    EXPECT_EQ(vsscr_get_snapshot_volume_list(&first), nullptr);
    for (const std::string &volume : handed) {
        uint32_t flags = 0;
        for (vsscr_vol_entry *entry = first; entry != nullptr; entry = entry->next) {
            std::string name = entry->volume_utf8 != nullptr ? entry->volume_utf8 : "";
            if (name.size() > 3 && name.back() == '\\')
                name.pop_back();
            if (name == volume)
                flags = entry->flags;
        }
        critical.push_back({volume, flags});
    }
    vsscr_free_vol_list(first);
    return critical;
}

// The volumes named by the refusal messages (Storage Spaces, clustered disk, CSV).
Names RefusedVolumes(const tvtest::OutputCapture &capture)
{
    Names refused;
    for (const tvtest::CapturedMessage &message : capture.messages()) {
        if (message.number != 94035 && message.number != 99127 && message.number != 99128)
            continue;
        const std::string lead = "critical volume ";
        const size_t from = message.text.find(lead) + lead.size();
        refused.insert(message.text.substr(from, message.text.find(" identified", from) - from));
    }
    return refused;
}

Names VolumesLeftOutInTheDecisions()
{
    Names volumes;
    vsscr_get_decisions(
        [](const vsscr_decision *decision, void *context) {
            if (decision->subject == VSSCR_SUBJECT_VOLUME && !decision->taken)
                static_cast<Names *>(context)->insert(decision->volume);
        },
        &volumes);
    return volumes;
}

class HostPlan : public ::testing::TestWithParam<std::tuple<Plan, int>> {
protected:
    void TearDown() override { vsscr_uninit_backup(); }
};

TEST_P(HostPlan, SelectsTheComponentsAndCriticalVolumesWorkedOutByHand)
{
    const Plan &plan = std::get<0>(GetParam());
    const int saveType = std::get<1>(GetParam());
    UseHost(plan.host);
    tvtest::OutputCapture capture;

    ASSERT_EQ(vsscr_init_backup(saveType, 0), nullptr);
    for (const std::string &path : plan.savePaths)
        ASSERT_EQ(vsscr_add_savepath(path.c_str()), nullptr) << path;
    ASSERT_EQ(vsscr_select_for_backup(), nullptr);

    const Names expected = saveType == 2   ? plan.systemState
                           : saveType == 1 ? plan.disasterRecovery
                                           : Join(plan.disasterRecovery, {kServices});
    const Names selected = SelectedComponents();
    for (const std::string &name : expected)
        EXPECT_EQ(selected.count(name), 1u) << "not selected: " << name;
    for (const std::string &name : selected)
        EXPECT_EQ(expected.count(name), 1u) << "selected too: " << name;

    const std::vector<Critical> critical = CriticalVolumes();
    ASSERT_EQ(critical.size(), plan.critical.size());
    for (size_t i = 0; i < critical.size(); ++i) {
        EXPECT_EQ(critical[i].volume, plan.critical[i].volume) << "critical volume " << i;
        EXPECT_EQ(critical[i].flags, plan.critical[i].flags) << plan.critical[i].volume;
    }
    EXPECT_EQ(RefusedVolumes(capture), plan.refused);
    EXPECT_EQ(VolumesLeftOutInTheDecisions(), plan.refused);
}

std::string PlanName(const ::testing::TestParamInfo<std::tuple<Plan, int>> &info)
{
    std::string name = std::get<0>(info.param).host + "_type" + std::to_string(std::get<1>(info.param));
    for (char &c : name)
        c = c == '-' ? '_' : c;
    return name;
}

INSTANTIATE_TEST_SUITE_P(EmbeddedHosts, HostPlan, ::testing::Combine(::testing::ValuesIn(kPlans), ::testing::Values(0, 1, 2)),
                         PlanName);

} // namespace
