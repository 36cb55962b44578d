// The critical volumes of a disaster-recovery backup on simulated hosts: the disk tests
// (disk numbers, dynamic disks, Storage Spaces over WMI, clustered disks and CSVFS), the
// computation with its mount-point parents, dynamic pack and boot store volume, what it
// prints and logs, its decisions, and the answers of a second call and of a new session.
#include <libwinclass/backup.h>
#include <libwinclass/explain.h>
#include <libwinclass/tv_str.h>

#include <backup/messagecheck.h>
#include <liblocal/local.h>
#include <support/capture.h>

#include <winsim/host.h>
#include <winsim/hostmodel.h>
#include <winsim/wmi.h>

#include <wbemidl.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>
#include <map>
#include <string>
#include <vector>

using nlohmann::json;
using tvtest::OutputCapture;

namespace {

std::string Guid(int n) { return "\\\\?\\Volume{a0000000-0000-4000-8000-0000000000" + std::string(n < 10 ? "0" : "") + std::to_string(n) + "}\\"; }

// Disks: 0 basic (system reserved, C:), 1 MBR dynamic, 2 GPT dynamic (the LDM partitions
// after `basic` others), 3 basic (D:, a volume at D:\Data\Logs\), 4 Storage Spaces (F:),
// 5 basic (G:, and K: whose second extent lies on disk 1).
const char kPackHost[] = R"({
 "disks": [
  {"number": 0, "size": 34359738368, "style": "mbr", "signature": 1, "partitions": [
    {"number": 1, "offset": 1048576, "size": 524288000, "type": "ntfs"}, {"number": 2, "offset": 525336576, "size": 10737418240, "type": "ntfs"}]},
  {"number": 1, "size": 34359738368, "style": "mbr", "signature": 2, "partitions": [{"number": 1, "offset": 32256, "size": 34359705600, "type": "ldm"}]},
  {"number": 2, "size": 34359738368, "style": "gpt", "partitions": []},
  {"number": 3, "size": 34359738368, "style": "mbr", "signature": 3, "partitions": [
    {"number": 1, "offset": 1048576, "size": 10737418240, "type": "ntfs"}, {"number": 2, "offset": 10738466816, "size": 10737418240, "type": "ntfs"}]},
  {"number": 4, "size": 34359738368, "style": "gpt", "busType": "spaces", "partitions": [{"number": 1, "offset": 1048576, "size": 10737418240, "type": "basic"}]},
  {"number": 5, "size": 34359738368, "style": "mbr", "signature": 5, "partitions": [
    {"number": 1, "offset": 1048576, "size": 1073741824, "type": "ntfs"}, {"number": 2, "offset": 1074790400, "size": 1073741824, "type": "ntfs"}]}],
 "volumes": [
  {"guid": "a0000000-0000-4000-8000-000000000001", "extents": [{"disk": 0, "offset": 1048576, "length": 524288000}]},
  {"guid": "a0000000-0000-4000-8000-000000000002", "driveLetter": "C", "extents": [{"disk": 0, "offset": 525336576, "length": 10737418240}]},
  {"guid": "a0000000-0000-4000-8000-000000000003", "mountFolders": ["C:\\Mount\\Dyn\\"],
   "extents": [{"disk": 1, "offset": 1048576, "length": 1073741824}, {"disk": 2, "offset": 41943040, "length": 1073741824}]},
  {"guid": "a0000000-0000-4000-8000-000000000004", "driveLetter": "E", "extents": [{"disk": 2, "offset": 1115684864, "length": 1073741824}]},
  {"guid": "a0000000-0000-4000-8000-000000000005", "driveLetter": "H", "extents": [{"disk": 1, "offset": 1074790400, "length": 1073741824}]},
  {"guid": "a0000000-0000-4000-8000-000000000006", "driveLetter": "D", "extents": [{"disk": 3, "offset": 1048576, "length": 10737418240}]},
  {"guid": "a0000000-0000-4000-8000-000000000007", "mountFolders": ["D:\\Data\\Logs\\"], "extents": [{"disk": 3, "offset": 10738466816, "length": 10737418240}]},
  {"guid": "a0000000-0000-4000-8000-000000000008", "driveLetter": "F", "fileSystem": "ReFS", "extents": [{"disk": 4, "offset": 1048576, "length": 10737418240}]},
  {"guid": "a0000000-0000-4000-8000-000000000009", "driveLetter": "G", "extents": [{"disk": 5, "offset": 1048576, "length": 1073741824}]},
  {"guid": "a0000000-0000-4000-8000-000000000010", "driveLetter": "K",
   "extents": [{"disk": 5, "offset": 1074790400, "length": 1073741824}, {"disk": 1, "offset": 2148532224, "length": 1073741824}]}],
 "components": {
  "System Writer": [{"type": "VSS_CT_FILEGROUP", "name": "System Files", "files": [{"path": "C:\\Windows\\System32\\", "filespec": "*.dll"}]},
                    {"type": "VSS_CT_FILEGROUP", "name": "Win32 Services Files", "flags": 4, "files": [{"path": "G:\\Services\\", "filespec": "*.exe"}]}],
  "ASR Writer": [{"type": "VSS_CT_FILEGROUP", "logicalPath": "BCD", "name": "BCD",
                  "files": [{"path": "\\\\?\\Volume{a0000000-0000-4000-8000-000000000001}\\Boot\\", "filespec": "*.*"}]}],
  "Registry Writer": [{"type": "VSS_CT_FILEGROUP", "name": "Registry",
                       "files": [{"path": "C:\\Mount\\Dyn\\Config\\", "filespec": "SYSTEM"}, {"path": "D:\\Data\\Logs\\", "filespec": "*.log"}]}],
  "Task Scheduler Writer": [{"type": "VSS_CT_FILEGROUP", "name": "TasksStore", "files": [{"path": "F:\\Tasks\\", "filespec": "*"}]}]}
})";

// The default host's registry and writers (the four above, in its order: System, ASR,
// Registry, Task Scheduler) on the pack host's disks and volumes.
json PackHost(bool server = true, int gptPartitions = 2)
{
    json host = json::parse(winsim::EmbeddedHostJson("default"));
    const json pack = json::parse(kPackHost);
    host["os"]["server"] = server;
    host["disks"] = pack["disks"];
    host["volumes"] = pack["volumes"];
    host["files"] = json::array();
    for (int i = 1; i <= gptPartitions; ++i)
        host["disks"][2]["partitions"].push_back(
            {{"number", i}, {"offset", 1048576LL * i}, {"size", i == gptPartitions ? 30000000000LL : 1048576},
             {"type", i + 2 <= gptPartitions ? "basic" : (i + 1 == gptPartitions ? "ldm-metadata" : "ldm-data")}});
    json writers = json::array();
    for (json writer : host["writers"])
        if (pack["components"].contains(writer["name"].get<std::string>())) {
            writer["components"] = pack["components"][writer["name"].get<std::string>()];
            writers.push_back(writer);
        }
    host["writers"] = writers;
    return host;
}

void UseHost(const json &host)
{
    winsim::ReplaceHost(winsim::ParseHost(host.dump()));
    winsim::ResetWmi();
}

// "volume flags" of every map entry, with " marked" when it is.
std::vector<std::string> MapEntries()
{
    vsscr_vol_entry *first = nullptr;
    tvtest::Message message(vsscr_get_snapshot_volume_list(&first));
    std::vector<std::string> entries;
    for (const vsscr_vol_entry *e = first; e != nullptr; e = e->next)
        entries.push_back(std::string(e->volume_utf8) + " " + std::to_string(e->flags) + (e->marked ? " marked" : ""));
    vsscr_free_vol_list(first);
    return entries;
}

std::vector<std::string> CriticalList()
{
    vo_vallist *list = nullptr;
    EXPECT_EQ(1, vsscr_get_dr_critical_volumes(&list));
    std::vector<std::string> names;
    for (const vo_vallist *item = list; item != nullptr; item = item->next)
        names.push_back(item->value);
    vallist_free(list);
    return names;
}

// "verdict volume [writer]" of every volume decision.
std::vector<std::string> VolumeDecisions()
{
    std::vector<std::string> said;
    vsscr_get_decisions(
        [](const vsscr_decision *d, void *context) {
            if (d->subject == VSSCR_SUBJECT_VOLUME)
                static_cast<std::vector<std::string> *>(context)->push_back(
                    std::string(d->verdict) + " " + d->volume + (d->writer[0] ? std::string(" [") + d->writer + "]" : "") +
                    (d->taken || std::string(d->reason).find("Storage Spaces disk 4") == std::string::npos ? "" : " spaces4"));
        },
        &said);
    return said;
}

// The numbers of the messages of the critical-volume code that were printed, in order.
std::vector<int> OwnMessages(const OutputCapture &capture)
{
    static const std::map<int, std::pair<int, int>> kOwn = {
        {90513, {55000, 2}}, {90514, {55000, 2}}, {94892, {52000, 18}}, {94035, {52000, 18}},
        {99127, {52000, 18}}, {99128, {52000, 18}}, {94738, {53000, 2}}, {94739, {53000, 2}},
        {94741, {55000, 2}}, {94740, {55000, 2}}, {94735, {55000, 2}}, {94736, {55000, 2}},
        {94737, {55000, 2}}, {134867, {53000, 2}}};
    std::vector<int> numbers;
    for (const tvtest::CapturedMessage &m : capture.messages()) {
        const auto own = kOwn.find(m.number);
        if (own == kOwn.end())
            continue;
        EXPECT_EQ(own->second, std::make_pair(m.code, m.severity)) << m.number;
        numbers.push_back(m.number);
    }
    return numbers;
}

class Critical : public ::testing::Test {
protected:
    void SetUp() override { UseHost(PackHost()); }
    void TearDown() override
    {
        vsscr_uninit_backup();
        winsim::ClearFaults();
        Debug = 0;
    }
};

// C:\ also takes bit 8: AddVolume gives a mount folder's drive root the folder's flags.
const std::vector<std::string> kPack = {Guid(1) + " 34",        "C:\\Mount\\Dyn\\ 10 marked", "D:\\Data\\Logs\\ 2 marked",
                                        "C:\\ 14 marked", "D:\\ 6 marked", "E:\\ 10 marked", "H:\\ 10 marked"};

} // namespace

TEST_F(Critical, DiskNumbersOfAVolumeInExtentOrderWithinTheBuffer)
{
    const struct {
        const char *name;
        const char *guid;  // nullptr: NULL
        size_t size;       // 0: a NULL buffer
        int result;
        const char *text;
        int message;
        DWORD ioctlFault;
    } cases[] = {
        {"spanning disks 1 and 2", "\\\\?\\Volume{a0000000-0000-4000-8000-000000000003}\\", 120, 1, "1,2", 0, 0},
        {"no number fits in 3 bytes", "\\\\?\\Volume{a0000000-0000-4000-8000-000000000003}", 3, 1, "", 0, 0},
        {"the second number does not fit", "\\\\?\\Volume{a0000000-0000-4000-8000-000000000010}\\", 4, 1, "5,", 0, 0},
        {"a volume that is not there", "\\\\?\\Volume{a0000000-0000-4000-8000-000000000099}\\", 120, 0, "", 0, 0},
        {"no GUID", "", 120, 0, "#", 90513, 0},
        {"NULL GUID", nullptr, 120, 0, "#", 90513, 0},
        {"no buffer", "\\\\?\\Volume{a0000000-0000-4000-8000-000000000002}\\", 0, 0, "#", 90514, 0},
        {"the extents cannot be read", "\\\\?\\Volume{a0000000-0000-4000-8000-000000000002}\\", 120, 0, "", 0, ERROR_NOT_READY},
    };
    Debug = 3;
    for (const auto &c : cases) {
        OutputCapture capture;
        std::string guid = c.guid ? c.guid : "";
        char buffer[120] = "#";
        if (c.ioctlFault)
            winsim::InjectError("DeviceIoControl", u"", c.ioctlFault);
        EXPECT_EQ(c.result, getDiskNumbersForVolume(c.guid ? &guid[0] : nullptr, "VOL", c.size ? buffer : nullptr, c.size))
            << c.name;
        EXPECT_STREQ(c.text, buffer) << c.name;
        EXPECT_EQ(c.message ? std::vector<int>{c.message} : std::vector<int>{}, OwnMessages(capture)) << c.name;
        if (c.size != 0 && !guid.empty()) {
            EXPECT_NE('\\', guid.c_str()[strlen(guid.c_str()) - 1]) << c.name << ": the caller's backslash goes";
        }
        EXPECT_EQ(std::string(c.name) == "a volume that is not there",
                  tvtest::Logged(capture, "Unable to create file while trying to obtain the disk numbers for volume: "
                                          "VOL with error: "))
            << c.name;
        EXPECT_EQ(0u, winsim::OpenHandleCount()) << c.name;
    }
}

TEST_F(Critical, VolumeAllowedUnlessOnStorageSpacesAClusteredDiskOrCsvfs)
{
    const std::u16string storage = u"\\\\.\\Root\\Microsoft\\Windows\\Storage";
    const struct {
        const char *name;
        const char *host;  // "server", "client", "cluster"
        const char *path;
        int guid;          // the pack volume; 0: empty; -1: NULL; -2: the path's own volume
        std::function<void()> fault;
        int result;
        std::vector<int> messages;
    } cases[] = {
        {"Storage Spaces", "server", "F:\\", 8, nullptr, 0, {94035}},
        {"no GUID: no Storage Spaces test", "server", "F:\\", 0, nullptr, 1, {94892}},
        {"NULL GUID", "server", "F:\\", -1, nullptr, 1, {94892}},
        {"a client makes no Storage Spaces test", "client", "F:\\", 8, nullptr, 1, {}},
        {"a folder on a drive is tested", "server", "F:\\VMs\\", 8, nullptr, 0, {94035}},
        {"no drive letter: not tested", "server", "\\\\?\\Volume{a0000000-0000-4000-8000-000000000008}\\", 8, nullptr, 1, {}},
        {"clustered and CSVFS", "cluster", "C:\\ClusterStorage\\Volume1\\", -2, nullptr, 0, {99127, 99128}},
        {"clustered", "cluster", "S:\\", -2, nullptr, 0, {99127}},
        {"the volume does not open", "server", "F:\\", 8,
         [] { winsim::InjectError("CreateFileW", u"\\\\?\\Volume{a0000000-0000-4000-8000-000000000008}", ERROR_ACCESS_DENIED); },
         1, {94741}},
        {"WMI does not connect", "server", "F:\\", 8,
         [&] { winsim::InjectWmiFault({winsim::WmiFaultPoint::Connect, storage, WBEM_E_ACCESS_DENIED}); }, 1, {94740}},
        {"the query fails", "server", "F:\\", 8,
         [] { winsim::InjectWmiFault({winsim::WmiFaultPoint::Query, u"MSFT_Disk", WBEM_E_INVALID_QUERY}); }, 1, {94735, 94740}},
        {"Next fails", "server", "F:\\", 8,
         [] { winsim::InjectWmiFault({winsim::WmiFaultPoint::Next, u"MSFT_Disk", WBEM_E_FAILED, 2}); }, 1, {94736, 94740}},
        {"a property cannot be read", "server", "F:\\", 8,
         [] { winsim::InjectWmiFault({winsim::WmiFaultPoint::Get, u"MSFT_Disk.BusType", WBEM_E_NOT_FOUND}); }, 1, {94737, 94740}},
    };
    for (const auto &c : cases) {
        if (std::string(c.host) == "cluster")
            UseHost(json::parse(winsim::EmbeddedHostJson("cluster-node")));
        else
            UseHost(PackHost(std::string(c.host) == "server"));
        if (c.fault)
            c.fault();
        std::string guid = c.guid > 0 ? Guid(c.guid) : "";
        if (c.guid == -2) {
            WCHAR name[64] = {};
            ASSERT_TRUE(GetVolumeNameForVolumeMountPointW(tv_str(c.path, tv_str::TCS_CP_UTF8), name, 64)) << c.name;
            guid = tv_str(name).get_utf8();
        }
        OutputCapture capture;
        EXPECT_EQ(c.result, is_volume_allowed_as_critical(c.path, c.guid == -1 ? nullptr : guid.c_str())) << c.name;
        EXPECT_EQ(c.messages, OwnMessages(capture)) << c.name;
        EXPECT_EQ(winsim::LiveWmiObjects(), 0u) << c.name;
        EXPECT_EQ(winsim::ComInitCount(), 0u) << c.name;
    }
}

TEST(CriticalPaths, BcdPartitionsAreNamedByDeviceOrGuidPath)
{
    const struct {
        const char *path;
        int result;
    } cases[] = {{"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1", 1}, {"\\\\?\\globalroot\\device\\harddiskvolume12\\EFI", 1},
                 {"\\\\?\\volume{7e1a3c5d-9f2b-4d4e-8c6a-0b2d4f6e8a15}\\", 1}, {"\\\\?\\Volume{", 1}, {"\\\\?\\Volume", 0},
                 {"\\\\?\\GLOBALROOT\\Device\\Harddisk0", 0}, {"C:\\", 0}, {"", 0}, {nullptr, 0}};
    for (const auto &c : cases)
        EXPECT_EQ(c.result, is_bcd_partition(c.path)) << (c.path ? c.path : "NULL");
}

TEST_F(Critical, MountParentsDynamicPackAndBootStoreWithTheirReasons)
{
    OutputCapture capture;
    EXPECT_EQ((std::vector<std::string>{"\\\\?\\Volume{a0000000-0000-4000-8000-000000000001}", "C:\\Mount\\Dyn",
                                        "D:\\Data\\Logs", "C:\\", "D:\\", "E:\\", "H:\\"}),
              CriticalList());
    EXPECT_EQ(kPack, MapEntries());
    EXPECT_EQ((std::vector<std::string>{"critical C:\\ [System Writer]", "critical C:\\Mount\\Dyn\\ [Registry Writer]",
                                        "parent of mount point C:\\", "critical D:\\Data\\Logs\\ [Registry Writer]",
                                        "parent of mount point D:\\", "refused F:\\ [Task Scheduler Writer] spaces4",
                                        "dynamic pack C:\\Mount\\Dyn\\", "dynamic pack C:\\", "dynamic pack E:\\",
                                        "dynamic pack H:\\",
                                        "BCD " + Guid(1) + " [ASR Writer]"}),
              VolumeDecisions());
    ASSERT_EQ(1u, capture.messages().size());
    EXPECT_EQ("Disaster Recovery: critical volume F:\\ identified for disaster recovery backup has been created on "
              "storage spaces. Backups of critical volumes on storage spaces is not supported.\n",
              capture.messages()[0].text);
    const std::vector<std::string> debug = winsim::DebugOutput();
    EXPECT_EQ(1, std::count(debug.begin(), debug.end(), "Processing completed for disaster recover backup.\n"));

    // Answered from the map: a volume entered since with bit 2 is in, nothing is decided again.
    EXPECT_SUCCESS(vsscr_add_volume_EX(W("G:\\"), 2));
    EXPECT_EQ(8u, CriticalList().size());
    EXPECT_EQ(11u, VolumeDecisions().size());
    // A new session computes again.
    vsscr_uninit_backup();
    EXPECT_EQ(7u, CriticalList().size());
    EXPECT_EQ(11u, VolumeDecisions().size());
}

TEST_F(Critical, ListsOnStandardOutputOrInTheDebugLog)
{
    const struct {
        int listOption, debug;
        bool listed, logged, toDebugger;
    } cases[] = {{1, 0, true, false, false}, {1, 3, true, false, false}, {0, 3, false, true, true}, {0, 2, false, false, true}};
    for (const auto &c : cases) {
        json host = PackHost();
        for (json &value : host["registry"])
            if (value["name"] == "ListCriticalVolumes")
                value["value"] = c.listOption;
        UseHost(host);
        winsim::ClearDebugOutput();
        Debug = c.debug;
        OutputCapture capture;
        testing::internal::CaptureStdout();
        CriticalList();
        std::fflush(stdout);
        const std::string out = testing::internal::GetCapturedStdout();
        const std::string listed =
            "\n\nThe following volumes are determined as critical by the system state writers:\n"
            "C:\\Mount\\Dyn\\ (disk num 1,2)\nD:\\Data\\Logs\\ (disk num 3)\nC:\\ (disk num 0)\nD:\\ (disk num 3)\n\n"
            "The following volumes are critical because they are parents for one or more mounted critical volumes:\n"
            "C:\\ (disk num 0)\nD:\\ (disk num 3)\n\n"
            "The following volumes are critical because they are in the same dynamic disk pack with one or more "
            "critical volumes:\nC:\\Mount\\Dyn\\ (disk num 1,2)\nC:\\ (disk num 0)\nE:\\ (disk num 2)\nH:\\ (disk num 1)\n\n";
        EXPECT_EQ(c.listed ? listed : "", out) << c.listOption << c.debug;
        EXPECT_EQ(c.logged, tvtest::Logged(capture, "add_associated_critical_volumes: print out of critical volume "
                                                    "list after call to add_associated_dynamic_disk_volumes.\n"));
        EXPECT_EQ(c.logged, tvtest::Logged(capture, "critical volume = [H:\\].\n"));
        EXPECT_EQ(c.toDebugger, !winsim::DebugOutput().empty());
        vsscr_uninit_backup();
    }
}

// K:\ is in no pack: only the first extent of a volume decides.
TEST_F(Critical, WhatEndsNarrowsOrWidensTheComputation)
{
    const struct {
        const char *name;
        std::function<void(json &)> change;
        std::vector<std::string> volumes;
        std::string decision;
    } cases[] = {
        {"no system-state writer", [](json &h) { h["writers"] = json::array(); }, {}, ""},
        {"no ASR writer: the rest stands", [](json &h) { h["writers"].erase(1); },
         {"C:\\Mount\\Dyn", "D:\\Data\\Logs", "C:\\", "D:\\", "E:\\", "H:\\"}, "left out  [ASR Writer]"},
        {"a component with no volumes adds none", [](json &h) { h["writers"][2]["components"][0]["files"] = json::array(); },
         {Guid(1).substr(0, 48), "C:\\"}, "BCD " + Guid(1) + " [ASR Writer]"},
        {"a component whose volume cannot be found ends it",
         [](json &h) { h["writers"][3]["components"][0]["files"][0]["path"] = "Q:\\Tasks\\"; }, {},
         "left out  [Task Scheduler Writer]"},
        {"a component below a mount folder over 260 bytes ends it",
         [](json &h) {
             const std::string folder = "C:\\" + std::string(200, 'x') + "\\" + std::string(100, 'y') + "\\";
             h["volumes"][2]["mountFolders"][0] = folder;
             h["writers"][2]["components"][0]["files"][0]["path"] = folder + "Config\\";
         },
         {}, "left out  [Registry Writer]"},
        {"a layout larger than the first buffer", [](json &h) { h = PackHost(true, 9); },
         {Guid(1).substr(0, 48), "C:\\Mount\\Dyn", "D:\\Data\\Logs", "C:\\", "D:\\", "E:\\", "H:\\"}, "BCD " + Guid(1) + " [ASR Writer]"},
        {"a dynamic disk that does not open is not dynamic",
         [](json &) { winsim::InjectError("CreateFileW", u"\\\\.\\PhysicalDrive1", ERROR_ACCESS_DENIED, false); },
         {Guid(1).substr(0, 48), "C:\\Mount\\Dyn", "D:\\Data\\Logs", "C:\\", "D:\\"}, "BCD " + Guid(1) + " [ASR Writer]"},
    };
    for (const auto &c : cases) {
        json host = PackHost();
        c.change(host);
        UseHost(host);
        EXPECT_EQ(c.volumes, CriticalList()) << c.name;
        const std::vector<std::string> decisions = VolumeDecisions();
        EXPECT_EQ(c.decision, decisions.empty() ? "" : decisions.back()) << c.name;
        vsscr_uninit_backup();
        winsim::ClearFaults();
    }
}

TEST_F(Critical, AFailedMountPointIsReportedAndTheLaterOnesPrinted)
{
    json host = PackHost();
    host["writers"].erase(2);  // no component names the mount folders
    UseHost(host);
    EXPECT_SUCCESS(vsscr_init_backup(1, 0));
    EXPECT_SUCCESS(vsscr_add_volume_EX(W("C:\\Mount\\Dyn\\"), 2));
    EXPECT_SUCCESS(vsscr_add_volume_EX(W("D:\\Data\\Logs\\"), 2));
    winsim::InjectError("GetVolumePathNameW", u"C:\\Mount\\Dyn\\", ERROR_ACCESS_DENIED, false);
    winsim::InjectError("GetVolumePathNameW", u"D:\\Data\\Logs\\", ERROR_ACCESS_DENIED, false);
    OutputCapture capture;
    EXPECT_EQ(std::vector<std::string>{}, CriticalList()) << "the first failure ends the computation";
    ASSERT_EQ((std::vector<int>{94035, 134867}), OwnMessages(capture));
    EXPECT_EQ("Unable to add volume D:\\Data\\Logs\\ to snapshot map table.\n", capture.messages().back().text);
    winsim::ClearFaults();
    EXPECT_EQ(7u, CriticalList().size()) << "not computed yet: the next call computes";
}
