// The snapshot set and the shadow paths through the exported interface, in a backup
// session on simulated hosts: save paths and volumes into the map (parents of mount
// points, Cluster Shared Volumes under the system drive, drive-letter paths, offline
// volumes, the order of the map), the snapshot with its document, files read through the
// shadow paths while the live files change, teardown, and lookups on other threads while
// the map changes. Every test runs in its own process with a freshly loaded library.
#include <libwinclass/backup.h>
#include <libwinclass/hostinfo.h>

#include <liblocal/local.h>
#include <backup/messagecheck.h>
#include <support/capture.h>

#include <winsim/host.h>
#include <winsim/hostmodel.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string kDevice = "\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy";

using tvtest::ExpectMessage;
using tvtest::Message;

std::string Utf8(const WCHAR *text)
{
    if (text == nullptr)
        return "(null)";
    char buffer[4096];
    vo_wcs_to_utf8s(buffer, text, sizeof buffer, 0);
    return buffer;
}

wstr Wide(const std::string &utf8)
{
    std::vector<WCHAR> buffer(utf8.size() + 1);
    vo_utf8s_to_wcs(buffer.data(), utf8.c_str(), buffer.size());
    return wstr(buffer.data());
}

// The map as vsscr_get_snapshot_volume_list hands it out, copied into plain values.
struct Volume {
    std::string volume, volumeUtf8, guidName, shadowPath, shadowPathUtf8, driveRoot, driveRootUtf8;
    uint32_t marked = 0, flags = 0;
};

std::vector<Volume> VolumeList()
{
    vsscr_vol_entry *first = reinterpret_cast<vsscr_vol_entry *>(0x1);
    Message message(vsscr_get_snapshot_volume_list(&first));
    EXPECT_EQ(nullptr, message.handle) << msg_text(message.handle);
    std::vector<Volume> volumes;
    for (const vsscr_vol_entry *entry = first; entry != nullptr; entry = entry->next) {
        Volume volume;
        volume.volume = Utf8(entry->volume);
        volume.volumeUtf8 = entry->volume_utf8 ? entry->volume_utf8 : "(null)";
        volume.guidName = entry->volume_guid_name ? Utf8(entry->volume_guid_name) : "";
        volume.shadowPath = entry->shadow_path ? Utf8(entry->shadow_path) : "";
        volume.shadowPathUtf8 = entry->shadow_path_utf8 ? entry->shadow_path_utf8 : "";
        volume.driveRoot = Utf8(entry->drive_root);
        volume.driveRootUtf8 = std::string(entry->drive_root_utf8, strnlen(entry->drive_root_utf8, 4));
        volume.marked = entry->marked;
        volume.flags = entry->flags;
        EXPECT_EQ(0u, entry->padding);
        EXPECT_EQ(0u, entry->reserved);
        volumes.push_back(volume);
    }
    vsscr_free_vol_list(first);
    return volumes;
}

std::vector<std::string> VolumeNames()
{
    std::vector<std::string> names;
    for (const Volume &volume : VolumeList())
        names.push_back(volume.volume);
    return names;
}

std::string GuidPathOf(WCHAR driveLetter)
{
    for (const winsim::Volume &volume : winsim::CurrentHost().volumes)
        if (volume.driveLetter == driveLetter)
            return Utf8(reinterpret_cast<const WCHAR *>(volume.guidPath.c_str()));
    return "";
}

bool ReadWholeFile(const wstr &path, std::string *content)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    content->clear();
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        content->append(buffer, got);
    CloseHandle(file);
    return true;
}

bool WriteWholeFile(const wstr &path, const std::string &content)
{
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL); // the archived quarter is read-only
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, content.data(), DWORD(content.size()), &written, nullptr) &&
                    written == content.size();
    CloseHandle(file);
    return ok;
}

// The shadow-copy form of a live path: what vsscr_get_mapping gives, joined as its
// callers join it.
std::string ShadowFormOf(const std::string &livePath)
{
    WCHAR volume[300] = {}, shadow[300] = {}, driveRoot[8] = {};
    EXPECT_EQ(0, vsscr_get_mapping(Wide(livePath).c_str(), volume, 300, shadow, 300, driveRoot, 8));
    const std::string volumeText = Utf8(volume);
    if (shadow[0] == 0 || livePath.compare(0, volumeText.size(), volumeText) != 0)
        return "";
    return Utf8(shadow) + livePath.substr(volumeText.size());
}

class SnapshotSet : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetEnvironmentVariableW(W("TLV_INITIALIZE_DIRECTIVE"), nullptr);
        SetEnvironmentVariableW(W("TLV_MAST"), nullptr);
    }
    void TearDown() override
    {
        vsscr_uninit_backup();
        Debug = 0;
    }
    void Init() { EXPECT_SUCCESS(vsscr_init_backup(1, 0)); }
};

// ---- before a session ----

TEST_F(SnapshotSet, BeforeASessionEveryStepSaysTheRequesterIsNotInitialized)
{
    const std::string text = "VSS common requester is not initialized.\n";
    uint32_t present = 7;
    ExpectMessage(vsscr_add_savepath("C:\\Windows"), 113658, 53000, text);
    ExpectMessage(vsscr_add_volume_EX(W("C:\\"), 1), 113658, 53000, text);
    ExpectMessage(vsscr_add_to_volume_table_EX(W("C:\\"), 1, nullptr, &present, 1, W("")), 113658, 53000, text);
    EXPECT_EQ(7u, present);
    WCHAR document[300] = {'#', 0};
    GUID id = {0x11111111, 0, 0, {0}};
    ExpectMessage(vsscr_process_snap(300, document, &id), 113658, 53000, text);
    EXPECT_EQ(WCHAR('#'), document[0]);
    EXPECT_EQ(0x11111111u, id.Data1);

    // Arguments that leave nothing to do are no error, with or without a session.
    EXPECT_SUCCESS(vsscr_add_savepath(nullptr));
    EXPECT_SUCCESS(vsscr_add_volume_EX(nullptr, 1));
    EXPECT_SUCCESS(vsscr_add_to_volume_table_EX(nullptr, 1, nullptr, &present, 1, W("")));
    EXPECT_SUCCESS(vsscr_add_to_volume_table_EX(W("C:\\"), 1, nullptr, nullptr, 1, W("")));
    EXPECT_SUCCESS(vsscr_add_to_volume_table_EX(W("C:\\"), 1, nullptr, &present, 1, nullptr));
    EXPECT_EQ(7u, present);

    // And after a teardown the session is gone again.
    Init();
    EXPECT_SUCCESS(vsscr_add_volume_EX(W("C:\\"), 1));
    vsscr_uninit_backup();
    ExpectMessage(vsscr_add_volume_EX(W("D:\\"), 1), 113658, 53000, text);
}

// ---- the map ----

TEST_F(SnapshotSet, SameVolumeTwiceIsOneEntryAndTheIndicatorSaysSo)
{
    Init();
    uint32_t present = 7;
    EXPECT_SUCCESS(vsscr_add_to_volume_table_EX(W("C:\\"), 1, nullptr, &present, 2, W("")));
    EXPECT_EQ(0u, present);
    EXPECT_SUCCESS(vsscr_add_to_volume_table_EX(W("C:\\"), 0, nullptr, &present, 8, W("")));
    EXPECT_EQ(1u, present);
    // A NULL shadow path does nothing, the indicator included.
    present = 7;
    EXPECT_SUCCESS(vsscr_add_to_volume_table_EX(W("C:\\"), 1, nullptr, &present, 1, nullptr));
    EXPECT_EQ(7u, present);

    const std::vector<Volume> volumes = VolumeList();
    ASSERT_EQ(1u, volumes.size());
    EXPECT_EQ("C:\\", volumes[0].volume);
    EXPECT_EQ("C:\\", volumes[0].volumeUtf8);
    EXPECT_EQ(1u, volumes[0].marked) << "a mark once set stays";
    EXPECT_EQ(0xAu, volumes[0].flags) << "the flags of both calls";
    EXPECT_EQ(GuidPathOf('C'), volumes[0].guidName);
    EXPECT_EQ("C:\\", volumes[0].driveRoot);
    EXPECT_EQ("C:\\", volumes[0].driveRootUtf8);
    EXPECT_EQ("", volumes[0].shadowPath) << "no shadow path before the snapshot";
}

TEST_F(SnapshotSet, ShadowPathsGivenByTheCaller)
{
    Init();
    uint32_t present = 0;
    // Without its trailing backslash: the map adds it, so paths below it match.
    EXPECT_SUCCESS(vsscr_add_to_volume_table_EX(W("E:\\"), 1, nullptr, &present, 1,
                                                Wide(kDevice + "41").c_str()));
    // Named again as the parent of a mount point (bit 4): the shadow path stays.
    EXPECT_SUCCESS(vsscr_add_to_volume_table_EX(W("E:\\"), 1, nullptr, &present, 4,
                                                Wide(kDevice + "42\\").c_str()));
    EXPECT_EQ(1u, present);
    std::vector<Volume> volumes = VolumeList();
    ASSERT_EQ(1u, volumes.size());
    EXPECT_EQ(kDevice + "41\\", volumes[0].shadowPath);
    EXPECT_EQ(kDevice + "41\\", volumes[0].shadowPathUtf8);
    EXPECT_EQ(5u, volumes[0].flags);
    EXPECT_EQ(1, vsscr_is_snapshot_path((kDevice + "41\\Projects\\plan.txt").c_str()));
    EXPECT_EQ(0, vsscr_is_snapshot_path((kDevice + "42\\Projects\\plan.txt").c_str()));

    // Without bit 4 a new shadow path replaces the old one.
    EXPECT_SUCCESS(vsscr_add_to_volume_table_EX(W("E:\\"), 1, nullptr, &present, 1,
                                                Wide(kDevice + "43\\").c_str()));
    volumes = VolumeList();
    ASSERT_EQ(1u, volumes.size());
    EXPECT_EQ(kDevice + "43\\", volumes[0].shadowPath);
    char live[300] = "untouched";
    vsscr_translate_to_physical((kDevice + "43\\Projects\\plan.txt").c_str(), live, sizeof live);
    EXPECT_STREQ("E:\\Projects\\plan.txt", live);
}

TEST_F(SnapshotSet, MapIsOrderedByDecreasingLengthNewestLastAmongEquals)
{
    Init();
    uint32_t present = 0;
    EXPECT_SUCCESS(vsscr_add_to_volume_table_EX(W("E:\\"), 1, nullptr, &present, 1, W("")));
    EXPECT_SUCCESS(vsscr_add_to_volume_table_EX(W("C:\\"), 1, nullptr, &present, 1, W("")));
    EXPECT_SUCCESS(vsscr_add_volume_EX(W("D:\\Mount\\Archive\\"), 2));
    EXPECT_SUCCESS(vsscr_add_to_volume_table_EX(W("F:\\"), 1, nullptr, &present, 1, W("")));
    const std::vector<std::string> expected = {"D:\\Mount\\Archive\\", "E:\\", "C:\\", "D:\\", "F:\\"};
    EXPECT_EQ(expected, VolumeNames());
}

TEST_F(SnapshotSet, SavePathOnAMountFolderBringsItsParentVolume)
{
    Init();
    EXPECT_SUCCESS(vsscr_add_savepath("D:\\Mount\\Archive\\2025\\q4.txt"));
    const std::vector<Volume> volumes = VolumeList();
    ASSERT_EQ(2u, volumes.size());
    EXPECT_EQ("D:\\Mount\\Archive\\", volumes[0].volume);
    EXPECT_EQ(1u, volumes[0].flags);
    EXPECT_EQ("", volumes[0].driveRoot) << "the archive volume has no drive letter";
    EXPECT_EQ("D:\\", volumes[1].volume);
    EXPECT_EQ(5u, volumes[1].flags) << "a parent of a mount point";
    EXPECT_EQ(GuidPathOf('D'), volumes[1].guidName);
    EXPECT_EQ("D:\\", volumes[1].driveRoot);
    // Both joined the snapshot set: both get shadow copies.
    WCHAR document[1024];
    GUID id = {};
    EXPECT_SUCCESS(vsscr_process_snap(1024, document, &id));
    for (const Volume &volume : VolumeList())
        EXPECT_EQ(0u, volume.shadowPath.rfind(kDevice, 0)) << volume.volume << " has no shadow copy";
}

TEST_F(SnapshotSet, CsvUnderTheSystemDriveDoesNotBringTheSystemDrive)
{
    winsim::ReplaceHost(winsim::ParseHost(winsim::EmbeddedHostJson("cluster-node")));
    Init();
    EXPECT_SUCCESS(vsscr_add_volume_EX(W("C:\\ClusterStorage\\Volume1\\"), 2));
    EXPECT_EQ(std::vector<std::string>{"C:\\ClusterStorage\\Volume1\\"}, VolumeNames());
    WCHAR document[1024];
    GUID setId;
    EXPECT_SUCCESS(vsscr_add_savepath("C:\\ClusterStorage\\Volume1"));
    EXPECT_SUCCESS(vsscr_process_snap(1024, document, &setId));
    const std::vector<Volume> volumes = VolumeList();
    ASSERT_EQ(1u, volumes.size()) << "C:\\ is neither in the map nor in the snapshot set";
    EXPECT_NE("", volumes[0].shadowPath);
}

TEST_F(SnapshotSet, DriveLetterPathsAndPathsThatAreNoVolume)
{
    Init();
    // "E:" is its own drive root: Windows is not asked (and would fail here).
    winsim::InjectError("GetVolumePathNameW", u"E:", ERROR_ACCESS_DENIED, false);
    EXPECT_SUCCESS(vsscr_add_volume_EX(W("E:"), 1));
    winsim::ClearFaults();
    EXPECT_EQ(std::vector<std::string>{"E:\\"}, VolumeNames());

    // A folder that is neither a volume root nor a mount point has no volume GUID path.
    ExpectMessage(vsscr_add_volume_EX(W("C:\\Windows\\"), 1), 134867, 53000,
                  "Unable to add volume C:\\Windows\\ to snapshot map table.\n");
    // Paths longer than Windows' 260 and than the client's 13312 characters.
    wstr longPath = W("C:\\");
    longPath.append(300, WCHAR('x'));
    Message longMessage(vsscr_add_volume_EX(longPath.c_str(), 1));
    EXPECT_EQ(134867, msg_number(longMessage.handle));
    wstr veryLong = W("C:\\");
    veryLong.append(14000, WCHAR('y'));
    Message veryLongMessage(vsscr_add_volume_EX(veryLong.c_str(), 1));
    EXPECT_EQ(134867, msg_number(veryLongMessage.handle));
    EXPECT_SUCCESS(vsscr_add_savepath(std::string("C:\\" + std::string(14000, 'z')).c_str()));
    EXPECT_EQ((std::vector<std::string>{"E:\\", "C:\\"}), VolumeNames());
}

class OfflineVolume : public SnapshotSet {
protected:
    void SetUp() override
    {
        SnapshotSet::SetUp();
        winsim::Host host = winsim::CurrentHost();
        for (winsim::Volume &volume : host.volumes)
            if (volume.driveLetter == 'E')
                volume.offline = true;
        winsim::ReplaceHost(host);
        Init();
    }

    size_t OfflineMessagesPrinted() const
    {
        const auto messages = capture_.messages();
        return size_t(std::count_if(messages.begin(), messages.end(), [](const tvtest::CapturedMessage &m) {
            return m.number == 88224 &&
                   m.text == "The base volume for the path [E:\\Projects] is unavailable or offline.  Please ensure "
                             "all volumes are online for backup operations.\n";
        }));
    }

    tvtest::OutputCapture capture_;
};

TEST_F(OfflineVolume, WithoutTheDirectiveVariableTheBackupStops)
{
    ExpectMessage(vsscr_add_volume_EX(W("E:\\Projects"), 1), 134867, 53000,
                  "Unable to add volume E:\\Projects to snapshot map table.\n");
    EXPECT_EQ(1u, OfflineMessagesPrinted());
    SetEnvironmentVariableW(W("TLV_INITIALIZE_DIRECTIVE"), W("TRUE"));
    ExpectMessage(vsscr_add_volume_EX(W("E:\\Projects"), 1), 134867, 53000,
                  "Unable to add volume E:\\Projects to snapshot map table.\n");
    EXPECT_EQ(2u, OfflineMessagesPrinted());
    EXPECT_TRUE(VolumeNames().empty());
}

TEST_F(OfflineVolume, ForDirectiveProcessingTheVolumeGoesOnAsGiven)
{
    for (const WCHAR *value : {W("FALSE"), W("true"), W("TRUEST")}) {
        SetEnvironmentVariableW(W("TLV_INITIALIZE_DIRECTIVE"), value);
        Debug = 3;
        tvtest::OutputCapture lines;
        // On to the map step as given, where the offline volume has no GUID path either.
        Message message(vsscr_add_volume_EX(W("E:\\Projects"), 1));
        EXPECT_EQ(134867, msg_number(message.handle));
        EXPECT_EQ(0u, OfflineMessagesPrinted()) << Utf8(value);
        const auto debug = lines.debugLines();
        EXPECT_TRUE(std::any_of(debug.begin(), debug.end(), [](const std::string &line) {
            return line.find("unavailable/offline for directive processing") != std::string::npos;
        })) << Utf8(value);
    }
}

// ---- the volume list ----

TEST_F(SnapshotSet, VolumeListOfAnEmptyMapAndWithoutAnOutPointer)
{
    // No session yet: the list makes one.
    vsscr_vol_entry *first = reinterpret_cast<vsscr_vol_entry *>(0x1);
    EXPECT_SUCCESS(vsscr_get_snapshot_volume_list(&first));
    EXPECT_EQ(nullptr, first);
    ExpectMessage(vsscr_get_snapshot_volume_list(nullptr), 134870, 55000,
                  "vsscr_return_critical_volume_list: Incorrect input argument.\n");
    vsscr_free_vol_list(nullptr);
    // The session it made is a session: volumes can be added.
    EXPECT_SUCCESS(vsscr_add_volume_EX(W("C:\\"), 1));
    EXPECT_EQ(std::vector<std::string>{"C:\\"}, VolumeNames());
}

// ---- the snapshot, end to end ----

TEST_F(SnapshotSet, FileSystemBackupFromStartToEnd)
{
    const std::string report = "C:\\Users\\Administrator\\Documents\\report.txt";
    const std::string archived = "D:\\Mount\\Archive\\2025\\q4.txt";
    const std::string ledger = "D:\\Shares\\Finance\\ledger.csv";
    std::string reportBefore, archivedBefore, ledgerBefore;
    ASSERT_TRUE(ReadWholeFile(Wide(report), &reportBefore));
    ASSERT_TRUE(ReadWholeFile(Wide(archived), &archivedBefore));
    ASSERT_TRUE(ReadWholeFile(Wide(ledger), &ledgerBefore));

    // A file-system backup: its selection takes no writer and adds no critical volume.
    EXPECT_SUCCESS(vsscr_init_backup(3, 0));
    EXPECT_SUCCESS(vsscr_select_for_backup());
    EXPECT_SUCCESS(vsscr_add_savepath(report.c_str()));
    EXPECT_SUCCESS(vsscr_add_savepath(archived.c_str()));
    EXPECT_SUCCESS(vsscr_add_savepath(ledger.c_str()));

    WCHAR document[1024];
    std::fill(std::begin(document), std::end(document), WCHAR('#'));
    GUID id = {};
    EXPECT_SUCCESS(vsscr_process_snap(1024, document, &id));
    const char *directory = get_unique_per_process_dir_path(nullptr);
    ASSERT_NE(nullptr, directory);
    EXPECT_EQ(std::string(directory) + "\\backcomp.xml", Utf8(document));
    std::string documentText;
    EXPECT_TRUE(ReadWholeFile(document, &documentText));
    EXPECT_NE(std::string::npos, documentText.find("<")) << "the backup components document";
    EXPECT_NE(0, memcmp(&id, &GUID_NULL, sizeof id)) << "the snapshot set ID";

    // The live files change after the snapshot.
    ASSERT_TRUE(WriteWholeFile(Wide(report), "changed after the snapshot"));
    ASSERT_TRUE(WriteWholeFile(Wide(archived), "changed too"));
    ASSERT_TRUE(WriteWholeFile(Wide(ledger), ""));

    std::vector<std::string> shadowForms;
    for (const auto &[live, before] : {std::pair<std::string, std::string>{report, reportBefore},
                                      {archived, archivedBefore}, {ledger, ledgerBefore}}) {
        const std::string shadowForm = ShadowFormOf(live);
        ASSERT_EQ(0u, shadowForm.rfind(kDevice, 0)) << live << " maps to '" << shadowForm << "'";
        std::string content;
        ASSERT_TRUE(ReadWholeFile(Wide(shadowForm), &content)) << shadowForm;
        EXPECT_EQ(before, content) << live << " read through " << shadowForm;

        // The runtime's path code and the library's own answers agree.
        EXPECT_EQ(1, vsscr_is_snapshot_path(shadowForm.c_str()));
        EXPECT_EQ(1, vo_is_snapshot_path(shadowForm.c_str()));
        char translated[600] = {};
        vsscr_translate_to_physical(shadowForm.c_str(), translated, sizeof translated);
        EXPECT_EQ(live, translated);
        char viaRuntime[600] = {};
        EXPECT_EQ(1, vo_snapshot_to_live(shadowForm.c_str(), viaRuntime, sizeof viaRuntime));
        EXPECT_EQ(live, viaRuntime);
        shadowForms.push_back(shadowForm);
    }
    // The archive volume and its parent D:\ have copies of their own.
    const std::vector<Volume> volumes = VolumeList();
    ASSERT_EQ(3u, volumes.size());
    EXPECT_EQ("D:\\Mount\\Archive\\", volumes[0].volume);
    EXPECT_NE(volumes[0].shadowPath, volumes[1].shadowPath);
    EXPECT_NE(volumes[1].shadowPath, volumes[2].shadowPath);
    const auto systemDrive = std::find_if(volumes.begin(), volumes.end(),
                                          [](const Volume &volume) { return volume.volume == "C:\\"; });
    ASSERT_NE(volumes.end(), systemDrive);
    WCHAR root[300];
    EXPECT_EQ(1, vsscr_get_shadowcopy_rootpath(Wide(shadowForms[0]).c_str(), root, 300));
    EXPECT_EQ(systemDrive->shadowPath.substr(0, systemDrive->shadowPath.size() - 1), Utf8(root));
    char liveRoot[300] = {};
    EXPECT_EQ(1, vsscr_is_snapshot_root(volumes[0].shadowPathUtf8.c_str(), liveRoot, sizeof liveRoot));
    EXPECT_STREQ("D:\\Mount\\Archive\\", liveRoot);

    // A second snapshot of the same set is refused and changes nothing.
    Message second(vsscr_process_snap(1024, document, &id));
    EXPECT_NE(nullptr, second.handle);
    EXPECT_EQ(3u, VolumeList().size());
    EXPECT_EQ(shadowForms[0], ShadowFormOf(report));

    EXPECT_SUCCESS(vsscr_backup_complete());
    vsscr_destroy_snapshot_set();
    for (const std::string &shadowForm : shadowForms) {
        EXPECT_EQ(0, vsscr_is_snapshot_path(shadowForm.c_str())) << shadowForm;
        EXPECT_EQ(0, vo_is_snapshot_path(shadowForm.c_str())) << shadowForm;
        char untouched[16] = "untouched";
        vsscr_translate_to_physical(shadowForm.c_str(), untouched, sizeof untouched);
        EXPECT_STREQ("untouched", untouched);
    }
    EXPECT_EQ("", ShadowFormOf(report));
    EXPECT_TRUE(VolumeNames().empty());
}

TEST_F(SnapshotSet, FailedSnapshotLeavesTheMapWithoutShadowPaths)
{
    Init();
    EXPECT_SUCCESS(vsscr_add_savepath("C:\\Windows"));
    winsim::InjectHresult("IVssBackupComponents::DoSnapshotSet", u"", E_FAIL);
    WCHAR document[1024];
    GUID id = {0x22222222, 0, 0, {0}};
    ExpectMessage(vsscr_process_snap(1024, document, &id), 159673, 55000, "Unable to create the VSS snapshot.\n");
    EXPECT_EQ(0x22222222u, id.Data1) << "the set ID is written only on success";
    const std::vector<Volume> volumes = VolumeList();
    ASSERT_EQ(1u, volumes.size());
    EXPECT_EQ("", volumes[0].shadowPath);
}

TEST_F(SnapshotSet, DocumentThatCannotBeWrittenIsReported)
{
    Init();
    EXPECT_SUCCESS(vsscr_add_savepath("C:\\Windows"));
    winsim::InjectHresult("IVssBackupComponents::SaveAsXML", u"", E_OUTOFMEMORY);
    WCHAR document[1024];
    GUID id = {0x33333333, 0, 0, {0}};
    ExpectMessage(vsscr_process_snap(1024, document, &id), 159674, 55000,
                  "Unable to create the Backup Components Document file.\n");
    EXPECT_EQ(0x33333333u, id.Data1);
    // The snapshot exists, but the map has no shadow paths yet.
    EXPECT_EQ("", VolumeList().at(0).shadowPath);
}

TEST_F(SnapshotSet, DocumentPathIsCutToTheCallersBuffer)
{
    Init();
    EXPECT_SUCCESS(vsscr_add_savepath("C:\\Windows"));
    WCHAR document[12];
    std::fill(std::begin(document), std::end(document), WCHAR('#'));
    GUID setId;
    EXPECT_SUCCESS(vsscr_process_snap(8, document, &setId));
    EXPECT_EQ(std::string(get_unique_per_process_dir_path(nullptr)).substr(0, 7), Utf8(document));
    EXPECT_EQ(WCHAR('#'), document[8]);
    EXPECT_NE("", VolumeList().at(0).shadowPath);
}

// ---- lookups on other threads ----

TEST_F(SnapshotSet, LookupsOnOtherThreadsSeeWholeStatesWhileTheMapChanges)
{
    Init();
    const std::string shadowA = kDevice + "71\\";
    const std::string shadowB = kDevice + "72\\";
    uint32_t present = 0;
    EXPECT_SUCCESS(vsscr_add_to_volume_table_EX(W("C:\\"), 1, nullptr, &present, 1, Wide(shadowA).c_str()));

    std::atomic<bool> stop{false};
    std::atomic<long> checks{0}, bad{0};
    auto reader = [&] {
        const std::string pathA = shadowA + "Windows\\System32";
        while (!stop.load()) {
            char live[64];
            memset(live, '#', sizeof live);
            live[63] = 0;
            vsscr_translate_to_physical(pathA.c_str(), live, sizeof live);
            const std::string text = live;
            if (text != std::string(63, '#') && text != "C:\\Windows\\System32")
                ++bad;
            char root[64] = "";
            const int isRoot = vsscr_is_snapshot_root(shadowA.c_str(), root, sizeof root);
            if (isRoot == 1 && std::string(root) != "C:\\")
                ++bad;
            ++checks;
        }
    };
    std::thread first(reader), second(reader);
    // The session's thread switches C:\ between two shadow paths and adds volumes, and
    // goes on until the readers have looked often enough: on a loaded machine they may
    // not have been scheduled at all within the first rounds.
    const WCHAR *others[] = {W("D:\\"), W("E:\\"), W("F:\\"), W("D:\\Mount\\Archive\\")};
    for (int round = 0; round < 400 || checks.load() < 200; ++round) {
        const std::string &next = (round % 2) ? shadowA : shadowB;
        EXPECT_SUCCESS(vsscr_add_to_volume_table_EX(W("C:\\"), 1, nullptr, &present, 1, Wide(next).c_str()));
        EXPECT_SUCCESS(vsscr_add_to_volume_table_EX(others[round % 4], 1, nullptr, &present, 1,
                                                    Wide(kDevice + std::to_string(1000 + round)).c_str()));
    }
    stop = true;
    first.join();
    second.join();
    EXPECT_GT(checks.load(), 0);
    EXPECT_EQ(0, bad.load());
}

} // namespace
