// Every embedded host taken through a whole plan: the save paths, the selection of save
// types 0, 1 and 2, and the critical volumes. The expected components, volumes and flags
// were worked out by hand from the host files; a change in any of the host, winsim, the
// common requester or the policy shows up here as a difference in what a backup takes.
// Each test runs in its own process, so every plan starts from a freshly loaded library.
#include <libwinclass/backup.h>
#include <libwinclass/explain.h>
#include <libwinclass/wmi.h>

#include <liblocal/local.h>
#include <liblocal/vodevices.h>
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

wstr Wide(const std::string &text)
{
    return wstr(text.begin(), text.end());
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

// What winsim answers on these hosts for the calls the computation makes, checked against
// the host files: each volume's GUID name and the disks of its extents, the disks whose
// layout carries LDM partitions, the disks MSFT_Disk reports on Storage Spaces (BusType
// 16), and which volumes liblocal finds on clustered disks.
struct Volume {
    std::string path;
    std::string guid;
    std::vector<DWORD> disks;
};

struct Facts {
    std::string host;
    std::vector<Volume> volumes;
    std::set<DWORD> dynamicDisks;
    std::set<DWORD> spacesDisks;
    Names clustered;
};

const std::vector<Facts> kFacts = {
    {"cluster-node",
     {{"C:\\", "3c5e7a91-b2d4-4f60-8a1c-2e4f6a8b0c13", {0}},
      {"E:\\", "6f8b0d24-e507-4c93-9d4f-5b7c9e1a3f59", {2, 3}},
      {"S:\\", "3e507293-bfd1-4d4e-8a6c-ab2d4f6a8ca5", {7}},
      {"C:\\ClusterStorage\\Volume1\\", "2d4f6182-aec0-4c3d-9f5b-9a1c3e5f7b94", {6}}},
     {2, 3},
     {4},
     {"S:\\", "C:\\ClusterStorage\\Volume1\\"}},
    {"hyperv-host",
     {{"C:\\", "f150e2bc-3a90-4d26-ac22-337ac7852b1c", {0}},
      {"W:\\", "5a367e2e-e62f-4396-af40-e58d5c70d9b9", {0}},
      {"V:\\", "a70aa0a2-a76d-4769-9f92-6d8671adef58", {1}}},
     {},
     {},
     {}},
    {"spaces-boot",
     {{"C:\\", "9d6750d5-8605-47ad-b238-229856e4a3ed", {1}},
      {"D:\\", "43a58573-e80b-471c-9dec-0317453e55bd", {2}},
      {"E:\\", "ed93831e-23f6-44a9-bc94-4d850aa435ec", {3}}},
     {},
     {1, 3},
     {}},
    {"dynamic-pack",
     {{"C:\\", "33b32af4-1a41-4aad-8f9a-8d7e85b3d93c", {0}},
      {"D:\\", "13c1fb1a-e74f-4425-86d2-a9a245e5ff8e", {1, 2}},
      {"C:\\Mounts\\Archive\\", "be78251c-3894-425e-b01b-28f3cd7d56bf", {3}},
      {"C:\\Mounts\\Archive\\2025\\", "d38aba5b-76df-42fe-b0bc-d4acba99bc3f", {3, 1}},
      {"E:\\", "9d89959d-e8bf-4a21-bf22-21021d08d1e0", {4}}},
     {1, 2, 3},
     {},
     {}},
};

std::vector<DWORD> ExtentDisks(const wstr &guidPath)
{
    std::vector<DWORD> disks;
    const wstr device = guidPath.substr(0, guidPath.size() - 1);
    vo::DeviceHandle volume(
        CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL));
    EXPECT_TRUE(volume.valid() && vo::ReadVolumeDiskNumbers(volume.get(), disks)) << GetLastError();
    return disks;
}

bool HasLdmPartition(DWORD disk)
{
    vo::DeviceHandle drive(vo::OpenPhysicalDrive(disk));
    std::vector<BYTE> buffer;
    if (!drive.valid() || !vo::ReadDriveLayout(drive.get(), buffer))
        return false;
    const GUID ldmMetadata = {0x5808C8AA, 0x7E8F, 0x42E0, {0x85, 0xD2, 0xE1, 0xE9, 0x04, 0x34, 0xCF, 0xB3}};
    const GUID ldmData = {0xAF9B60A0, 0x1431, 0x4F62, {0xBC, 0x68, 0x33, 0x11, 0x71, 0x4A, 0x69, 0xAD}};
    const auto *layout = reinterpret_cast<const DRIVE_LAYOUT_INFORMATION_EX *>(buffer.data());
    for (DWORD i = 0; i < layout->PartitionCount; ++i) {
        const PARTITION_INFORMATION_EX &part = layout->PartitionEntry[i];
        if (part.PartitionStyle == PARTITION_STYLE_MBR ? part.Mbr.PartitionType == 0x42
                                                       : part.Gpt.PartitionType == ldmMetadata ||
                                                             part.Gpt.PartitionType == ldmData)
            return true;
    }
    return false;
}

std::set<DWORD> StorageSpacesDisks()
{
    std::set<DWORD> disks;
    IWbemServices *services = nullptr;
    IWbemLocator *locator = nullptr;
    IEnumWbemClassObject *objects = nullptr;
    BSTR language = SysAllocString(W("WQL")), query = SysAllocString(W("SELECT Number, BusType FROM MSFT_Disk"));
    if (SUCCEEDED(initialize_wbem(&services, &locator, W("\\\\.\\Root\\Microsoft\\Windows\\Storage"))) &&
        SUCCEEDED(services->ExecQuery(language, query, 48, NULL, &objects))) {
        IWbemClassObject *object = nullptr;
        ULONG count = 0;
        while (objects->Next(WBEM_INFINITE, 1, &object, &count) == S_OK && count == 1) {
            VARIANT number, bus;
            VariantInit(&number);
            VariantInit(&bus);
            if (SUCCEEDED(object->Get(W("BusType"), 0, &bus, NULL, NULL)) && V_I4(&bus) == 16 &&
                SUCCEEDED(object->Get(W("Number"), 0, &number, NULL, NULL)))
                disks.insert(DWORD(V_I4(&number)));
            object->Release();
        }
        objects->Release();
    }
    SysFreeString(language);
    SysFreeString(query);
    cleanup_wbem(&services, &locator);
    return disks;
}

void PrintTo(const Facts &facts, std::ostream *out)
{
    *out << facts.host;
}

class HostFacts : public ::testing::TestWithParam<Facts> {};

TEST_P(HostFacts, WinsimAnswersWhatTheHostFileDescribes)
{
    const Facts &facts = GetParam();
    UseHost(facts.host);
    Names clustered;
    for (const Volume &volume : facts.volumes) {
        WCHAR guidPath[MAX_PATH] = {0};
        ASSERT_TRUE(GetVolumeNameForVolumeMountPointW(Wide(volume.path).c_str(), guidPath, MAX_PATH)) << volume.path;
        EXPECT_EQ(Narrow(guidPath), "\\\\?\\Volume{" + volume.guid + "}\\") << volume.path;
        EXPECT_EQ(ExtentDisks(guidPath), volume.disks) << volume.path;
        if (clu_is_cluster_disk(volume.path.c_str()))
            clustered.insert(volume.path);
    }
    std::set<DWORD> dynamic;
    for (DWORD disk = 0; disk < 8; ++disk) {
        if (HasLdmPartition(disk))
            dynamic.insert(disk);
    }
    EXPECT_EQ(dynamic, facts.dynamicDisks);
    EXPECT_EQ(StorageSpacesDisks(), facts.spacesDisks);
    EXPECT_EQ(clustered, facts.clustered);
}

std::string FactsName(const ::testing::TestParamInfo<Facts> &info)
{
    std::string name = info.param.host;
    for (char &c : name)
        c = c == '-' ? '_' : c;
    return name;
}

INSTANTIATE_TEST_SUITE_P(EmbeddedHosts, HostFacts, ::testing::ValuesIn(kFacts), FactsName);

} // namespace
