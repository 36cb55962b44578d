// winclass describe-host: the capture of every described host loads as the same host
// (what the capture reads compared field by field with the loaded original); a call that
// fails leaves its section out, is noted, and the document still loads; an unwritable --to
// and a description of an unknown version are refused in one line.
#include "commandtest.h"
#include "commands.h"
#include "describe.h"
#include "output.h"

#include <winsim/vss.h>
#include <winsim/wmi.h>

#include <comdef.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <functional>
#include <string>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

winsim::Host LoadDescribed(const std::string &nameOrFile)
{
    return nameOrFile.find('/') == std::string::npos ? winsim::ParseHost(winsim::EmbeddedHostJson(nameOrFile))
                                                     : winsim::LoadHostFile(nameOrFile);
}

// describe-host on the current host, into a file; the exit code and the document.
int Capture(const std::string &label, json *doc, const std::vector<std::string> &files = {})
{
    const fs::path folder = commandtest::Fresh("describe-" + label);
    fs::create_directories(folder);
    winclass::Output output(false);
    winclass::DescribeOptions options;
    options.to = (folder / "host.json").string();
    options.files = files;
    const int exitCode = winclass::RunDescribeHost(options, output);
    *doc = json::parse(commandtest::ReadAll(options.to));
    return exitCode;
}

void ExpectSameDisks(const winsim::Host &original, const winsim::Host &captured)
{
    ASSERT_EQ(captured.disks.size(), original.disks.size());
    for (size_t i = 0; i < original.disks.size(); ++i) {
        const winsim::Disk &a = original.disks[i], &b = captured.disks[i];
        SCOPED_TRACE("disk " + std::to_string(a.number));
        EXPECT_EQ(b.number, a.number);
        EXPECT_EQ(b.busType, a.busType);
        EXPECT_EQ(b.size, a.size);
        EXPECT_EQ(b.bytesPerSector, a.bytesPerSector);
        EXPECT_EQ(b.style, a.style);
        EXPECT_TRUE(IsEqualGUID(b.diskId, a.diskId));
        EXPECT_EQ(b.signature, a.signature);
        EXPECT_EQ(b.clustered, a.clustered);
        EXPECT_EQ(b.friendlyName, a.friendlyName);
        ASSERT_EQ(b.partitions.size(), a.partitions.size());
        for (size_t j = 0; j < a.partitions.size(); ++j) {
            const winsim::Partition &p = a.partitions[j], &q = b.partitions[j];
            SCOPED_TRACE("partition " + std::to_string(p.number));
            EXPECT_EQ(q.number, p.number);
            EXPECT_EQ(q.offset, p.offset);
            EXPECT_EQ(q.length, p.length);
            EXPECT_TRUE(IsEqualGUID(q.gptType, p.gptType));
            EXPECT_EQ(q.mbrType, p.mbrType);
            EXPECT_EQ(q.name, p.name);
            EXPECT_EQ(q.bootIndicator, p.bootIndicator);
        }
    }
}

void ExpectSameVolumes(const winsim::Host &original, const winsim::Host &captured)
{
    ASSERT_EQ(captured.volumes.size(), original.volumes.size());
    for (size_t i = 0; i < original.volumes.size(); ++i) {
        const winsim::Volume &a = original.volumes[i], &b = captured.volumes[i];
        SCOPED_TRACE(std::string(a.guidPath.begin(), a.guidPath.end()));
        EXPECT_EQ(b.guidPath, a.guidPath);
        EXPECT_EQ(b.driveLetter, a.driveLetter);
        // An offline volume has no mount paths to read.
        if (!a.offline) {
            EXPECT_EQ(b.mountFolders, a.mountFolders);
        }
        EXPECT_EQ(b.fileSystem, a.fileSystem);
        EXPECT_EQ(b.label, a.label);
        EXPECT_EQ(b.size, a.size);
        if (!a.offline) {
            EXPECT_EQ(b.serialNumber, a.serialNumber);
        }
        EXPECT_EQ(b.kind, a.kind);
        EXPECT_EQ(b.offline, a.offline);
        EXPECT_EQ(b.csv, a.csv);
        ASSERT_EQ(b.extents.size(), a.extents.size());
        for (size_t j = 0; j < a.extents.size(); ++j) {
            EXPECT_EQ(b.extents[j].disk, a.extents[j].disk);
            EXPECT_EQ(b.extents[j].offset, a.extents[j].offset);
            EXPECT_EQ(b.extents[j].length, a.extents[j].length);
        }
    }
}

void ExpectSameSpecs(const std::vector<winsim::VssFileSpec> &a, const std::vector<winsim::VssFileSpec> &b)
{
    ASSERT_EQ(b.size(), a.size());
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(b[i].path, a[i].path);
        EXPECT_EQ(b[i].filespec, a[i].filespec);
        EXPECT_EQ(b[i].recursive, a[i].recursive);
        EXPECT_EQ(b[i].alternateLocation, a[i].alternateLocation);
    }
}

// The writers VSS reports (those not failed at identification), as the host describes them.
void ExpectSameWriters(const winsim::Host &original, const winsim::Host &captured)
{
    std::vector<winsim::VssWriterModel> a, b;
    std::string error;
    const auto section = [](const winsim::Host &host) {
        const auto found = host.sections.find("writers");
        return found == host.sections.end() ? std::string("[]") : found->second;
    };
    ASSERT_TRUE(winsim::ParseVssWriters(section(original), &a, &error)) << error;
    ASSERT_TRUE(winsim::ParseVssWriters(section(captured), &b, &error)) << error;
    a.erase(std::remove_if(a.begin(), a.end(), [](const auto &w) { return w.state == 6; }), a.end());
    ASSERT_EQ(b.size(), a.size());
    for (size_t i = 0; i < a.size(); ++i) {
        SCOPED_TRACE(std::string(a[i].name.begin(), a[i].name.end()));
        EXPECT_EQ(b[i].name, a[i].name);
        EXPECT_TRUE(IsEqualGUID(b[i].id, a[i].id) && IsEqualGUID(b[i].instanceId, a[i].instanceId));
        EXPECT_EQ(b[i].instanceName, a[i].instanceName);
        EXPECT_EQ(b[i].usage, a[i].usage);
        EXPECT_EQ(b[i].source, a[i].source);
        EXPECT_EQ(b[i].restoreMethod, a[i].restoreMethod);
        EXPECT_EQ(b[i].restoreService, a[i].restoreService);
        EXPECT_EQ(b[i].userProcedure, a[i].userProcedure);
        EXPECT_EQ(b[i].writerRestore, a[i].writerRestore);
        EXPECT_EQ(b[i].rebootRequired, a[i].rebootRequired);
        ExpectSameSpecs(a[i].alternateLocations, b[i].alternateLocations);
        ExpectSameSpecs(a[i].excludeFiles, b[i].excludeFiles);
        ASSERT_EQ(b[i].components.size(), a[i].components.size());
        for (size_t j = 0; j < a[i].components.size(); ++j) {
            const winsim::VssComponentModel &p = a[i].components[j], &q = b[i].components[j];
            SCOPED_TRACE(std::string(p.name.begin(), p.name.end()));
            EXPECT_EQ(q.type, p.type);
            EXPECT_EQ(q.logicalPath, p.logicalPath);
            EXPECT_EQ(q.name, p.name);
            EXPECT_EQ(q.caption, p.caption);
            EXPECT_EQ(q.flags, p.flags);
            EXPECT_EQ(q.selectable, p.selectable);
            EXPECT_EQ(q.selectableForRestore, p.selectableForRestore);
            ExpectSameSpecs(p.files, q.files);
            ExpectSameSpecs(p.databaseFiles, q.databaseFiles);
            ExpectSameSpecs(p.logFiles, q.logFiles);
        }
    }
}

TEST(WinclassDescribeHost, TheCaptureLoadsAsTheSameHost)
{
    const std::string tests = std::string(TV_SOURCE_DIR) + "/tests/";
    for (const std::string &host :
         {std::string("default"), std::string("cluster-node"), std::string("cluster-three"), std::string("hyperv-host"),
          std::string("spaces-boot"), std::string("dynamic-pack"), tests + "host/hosts/dynamic-mount.json",
          tests + "tools/hosts/desktop-with-client.json"}) {
        SCOPED_TRACE(host);
        const winsim::Host original = LoadDescribed(host);
        winsim::ReplaceHost(LoadDescribed(host));
        json doc;
        ASSERT_EQ(Capture("same", &doc), winclass::kExitSuccess) << doc.value("captureNotes", json()).dump();
        EXPECT_EQ(doc["formatVersion"], winsim::kHostFormatVersion);
        const winsim::Host captured = winsim::ParseHost(doc.dump());

        EXPECT_EQ(captured.os.major, original.os.major);
        EXPECT_EQ(captured.os.minor, original.os.minor);
        EXPECT_EQ(captured.os.build, original.os.build);
        EXPECT_EQ(captured.os.server, original.os.server);
        EXPECT_EQ(captured.firmware, original.firmware);
        EXPECT_EQ(captured.hostName, original.hostName);
        EXPECT_EQ(captured.domain, original.domain);
        EXPECT_EQ(captured.ansiCodePage, original.ansiCodePage);
        // The client's settings, each with its type and bytes.
        ASSERT_EQ(captured.registry.size(), original.registry.size());
        for (const winsim::RegistryValue &value : original.registry) {
            const auto found = std::find_if(captured.registry.begin(), captured.registry.end(), [&](const auto &v) {
                return v.key == value.key && v.name == value.name;
            });
            ASSERT_NE(found, captured.registry.end()) << std::string(value.name.begin(), value.name.end());
            EXPECT_EQ(found->type, value.type);
            EXPECT_EQ(found->data, value.data);
        }
        for (const auto &variable : original.environment) {
            const auto found = std::find(captured.environment.begin(), captured.environment.end(), variable);
            EXPECT_NE(found, captured.environment.end()) << std::string(variable.first.begin(), variable.first.end());
        }
        ExpectSameDisks(original, captured);
        ExpectSameVolumes(original, captured);
        EXPECT_EQ(captured.sections.count("cluster"), original.sections.count("cluster"));
        ExpectSameWriters(original, captured);
        // The instances the database writer names; a refused login tells no version.
        ASSERT_EQ(captured.sqlServerInstances.size(), original.sqlServerInstances.size());
        for (size_t i = 0; i < original.sqlServerInstances.size(); ++i) {
            const winsim::SqlServerInstance &a = original.sqlServerInstances[i], &b = captured.sqlServerInstances[i];
            EXPECT_EQ(b.name, a.name);
            EXPECT_EQ(b.reachable, a.reachable);
            EXPECT_EQ(b.version, a.reachable ? a.version : u"");
        }
    }
}

// A failed call: its section is left out and noted with the call and HRESULT; the rest is
// written, and the document loads.
TEST(WinclassDescribeHost, AFailedCallLeavesItsSectionOutAndTheDocumentLoads)
{
    const struct {
        const char *what;
        const char *host;
        std::function<void()> inject;
        std::vector<const char *> absent;  // JSON pointers
        const char *call;                  // how the note begins
        const char *hresult;
    } cases[] = {
        {"version", "default", [] { winsim::InjectError("GetVersionExW", u"", ERROR_ACCESS_DENIED); }, {"/os"},
         "GetVersionExW", "0x80070005"},
        {"names", "default", [] { winsim::InjectError("GetComputerNameExW", u"", ERROR_ACCESS_DENIED, false); },
         {"/hostName", "/domain"}, "GetComputerNameExW", "0x80070005"},
        {"storage namespace", "spaces-boot",
         [] {
             winsim::InjectWmiFault({winsim::WmiFaultPoint::Connect, u"ROOT\\Microsoft\\Windows\\Storage",
                                     HRESULT(0x8004100E)});
         },
         {"/disks", "/volumes", "/storagePools"}, "ConnectServer ROOT\\Microsoft\\Windows\\Storage", "0x8004100e"},
        {"one disk's layout", "default",
         [] { winsim::InjectError("DeviceIoControl", u"\\\\.\\PhysicalDrive1", ERROR_ACCESS_DENIED, false); },
         {"/disks/5"}, "DeviceIoControl IOCTL_DISK_GET_DRIVE_LAYOUT_EX", "0x80070005"},
        {"the volume list", "default", [] { winsim::InjectError("FindFirstVolumeW", u"", ERROR_ACCESS_DENIED); },
         {"/volumes"}, "FindFirstVolumeW", "0x80070005"},
        {"the cluster's nodes", "cluster-node",
         [] { winsim::InjectWmiFault({winsim::WmiFaultPoint::Query, u"MSCluster_Node", HRESULT(0x80041010)}); },
         {"/cluster"}, "ExecQuery SELECT Name, State FROM MSCluster_Node", "0x80041010"},
        {"VSS", "default",
         [] { winsim::InjectHresult("IVssBackupComponents::InitializeForBackup", u"", E_ACCESSDENIED); },
         {"/writers"}, "InitializeForBackup", "0x80070005"},
        {"the adapters' configurations", "default",
         [] {
             winsim::InjectWmiFault({winsim::WmiFaultPoint::Query, u"Win32_NetworkAdapterConfiguration",
                                     HRESULT(0x80041003)});
         },
         {"/network"}, "ExecQuery SELECT Index, DHCPEnabled", "0x80041003"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        commandtest::UseHost(c.host);
        winsim::ClearFaults();
        c.inject();
        json doc;
        const int exitCode = Capture("fault", &doc);
        winsim::ClearFaults();
        winsim::ResetWmi();
        EXPECT_EQ(exitCode, winclass::kExitWarnings);
        for (const char *pointer : c.absent)
            EXPECT_FALSE(doc.contains(json::json_pointer(pointer))) << pointer;
        EXPECT_TRUE(doc.contains("firmware") && doc.contains("environment")) << "the rest is still written";
        ASSERT_TRUE(doc.contains("captureNotes"));
        const json &note = doc["captureNotes"][0];
        EXPECT_EQ(note["call"].get<std::string>().rfind(c.call, 0), 0u) << note.dump();
        EXPECT_EQ(note["hresult"], std::string(c.hresult)) << note.dump();
        EXPECT_NO_THROW(winsim::ParseHost(doc.dump()));
    }
}

// Each faultable call of a capture failed in turn, once: never a crash, exit 0 or 4, and
// the document loads. Out of memory may end the capture, as the library's strings raise it.
// Four shards, each failing every fourth call, so that they run side by side.
class DescribeSweep : public testing::TestWithParam<size_t> {};
const size_t kSweepShards = 4;
INSTANTIATE_TEST_SUITE_P(Shards, DescribeSweep, testing::Range<size_t>(0, kSweepShards));

TEST_P(DescribeSweep, EachCallFailedInTurnStillGivesADocumentThatLoads)
{
    commandtest::UseHost("cluster-node");
    json doc;
    winsim::StartFaultSweep();
    const std::vector<std::string> files = {"C:\\Windows", "D:\\"};
    ASSERT_EQ(Capture("sweep", &doc, files), winclass::kExitSuccess);
    const size_t calls = winsim::FaultableCalls().calls;
    winsim::StopFaultSweep();
    ASSERT_GT(calls, 100u);
    for (size_t k = 1 + GetParam(); k <= calls; k += kSweepShards) {
        commandtest::UseHost("cluster-node");
        winsim::ResetWmi();
        winsim::StartFaultSweep(k);
        int exitCode = -1;
        try {
            exitCode = Capture("sweep", &doc, files);
        } catch (const _com_error &error) {
            exitCode = error.Error() == E_OUTOFMEMORY ? -2 : -1;
        } catch (const std::bad_alloc &) {
            exitCode = -2;
        }
        const winsim::FaultSweepCount sweep = winsim::FaultableCalls();
        winsim::StopFaultSweep();
        SCOPED_TRACE("call " + std::to_string(k) + ": " + sweep.failed + " failed with " + std::to_string(sweep.error));
        if (exitCode == -2)
            continue;
        ASSERT_TRUE(exitCode == winclass::kExitSuccess || exitCode == winclass::kExitWarnings) << exitCode;
        EXPECT_NO_THROW(winsim::ParseHost(doc.dump()));
    }
}

// A disk whose layout cannot be read takes the volumes on it along, with their files, and
// a mount folder on a volume left out is dropped: what is written still loads.
TEST(WinclassDescribeHost, VolumesOnADiskLeftOutGoWithIt)
{
    commandtest::UseHost("default");
    winsim::InjectError("DeviceIoControl", u"\\\\.\\PhysicalDrive1", ERROR_ACCESS_DENIED, false);
    json doc;
    Capture("disk-left-out", &doc, {"D:\\", "C:\\Windows"});
    winsim::ClearFaults();
    const winsim::Host captured = winsim::ParseHost(doc.dump());
    EXPECT_EQ(captured.FindDisk(1), nullptr);
    EXPECT_NE(captured.FindDisk(2), nullptr);
    for (const winsim::Volume &volume : captured.volumes) {
        for (const winsim::Extent &extent : volume.extents)
            EXPECT_NE(extent.disk, 1u);
        EXPECT_NE(volume.driveLetter, u'D');
    }
    EXPECT_FALSE(captured.files.empty());
    for (const winsim::FileEntry &file : captured.files)
        EXPECT_EQ(file.path.rfind(u"C:\\Windows\\", 0), 0u);
    EXPECT_NE(doc["captureNotes"].dump().find("D:\\\\ lies on a volume that is not described"), std::string::npos);
}

// --files: each file's attributes, size and last-write time, never its bytes; a mount
// folder and a junction are not entered, and the junction is noted.
TEST(WinclassDescribeHost, FilesKeepTheirAttributesSizesAndTimes)
{
    json host = json::parse(commandtest::ReadAll(std::string(TV_SOURCE_DIR) + "/tests/host/hosts/dynamic-mount.json"));
    host["files"] = json::parse(R"([
        {"path": "C:\\Data\\plain.txt", "content": "twelve bytes", "lastWrite": "2024-02-29T23:59:59.1234567Z"},
        {"path": "C:\\Data\\Hidden Ünïcode ✓.bin", "size": 70000, "seed": 3, "attributes": ["readonly", "hidden"],
         "lastWrite": "1969-07-20T20:17:40Z"},
        {"path": "C:\\Data\\normal.dat", "content": "x", "attributes": []},
        {"path": "C:\\Data\\Empty", "directory": true, "attributes": ["system"], "lastWrite": "1980-01-01T00:00:00.5Z"},
        {"path": "C:\\Data\\Link", "junction": "C:\\Data\\Empty"}])");
    winsim::ReplaceHost(winsim::ParseHost(host.dump()));
    const fs::path folder = commandtest::Fresh("describe-files");
    fs::create_directories(folder);
    winclass::Output output(false);
    winclass::DescribeOptions options;
    options.to = (folder / "host.json").string();
    options.files = {"C:\\Data"};
    EXPECT_EQ(winclass::RunDescribeHost(options, output), winclass::kExitWarnings);
    const json doc = json::parse(commandtest::ReadAll(options.to));
    const struct {
        const char *path;
        json attributes;
        unsigned long long size;
        const char *lastWrite; // NULL: the time the file was made
    } expected[] = {
        {"C:\\Data\\plain.txt", json::array({"archive"}), 12, "2024-02-29T23:59:59.1234567Z"},
        {"C:\\Data\\Hidden Ünïcode ✓.bin", json::array({"readonly", "hidden"}), 70000, "1969-07-20T20:17:40Z"},
        {"C:\\Data\\normal.dat", json::array(), 1, NULL},
        {"C:\\Data\\Empty", json::array({"system"}), 0, "1980-01-01T00:00:00.5000000Z"},
    };
    ASSERT_EQ(doc["files"].size(), std::size(expected)) << doc["files"].dump(1);
    for (const auto &e : expected) {
        const auto found = std::find_if(doc["files"].begin(), doc["files"].end(),
                                        [&](const json &f) { return f["path"] == e.path; });
        ASSERT_NE(found, doc["files"].end()) << e.path;
        EXPECT_EQ((*found)["attributes"], e.attributes) << e.path;
        EXPECT_EQ(found->value("size", 0ULL), e.size) << e.path;
        EXPECT_TRUE(found->contains("lastWrite")) << e.path;
        if (e.lastWrite != NULL)
            EXPECT_EQ((*found)["lastWrite"], e.lastWrite) << e.path;
        EXPECT_FALSE(found->contains("content") || found->contains("base64")) << "no file's bytes are read";
    }
    ASSERT_TRUE(doc.contains("captureNotes"));
    EXPECT_EQ(doc["captureNotes"][0]["text"], "C:\\Data\\Link is a junction or link, whose target is not read");
    EXPECT_NO_THROW(winsim::ParseHost(doc.dump()));
}

// --redact on one document that names its host, domain, cluster, users, instance and adapter
// in many places: each value has one placeholder everywhere, given in the order of first
// appearance; a name stands only as a whole name; a placeholder the document already uses
// is passed over; what the library's answers depend on (writer and component names, the
// writers DisabledWriters names, well-known names, drive letters, subnets) is kept.
TEST(WinclassDescribeHost, RedactGivesEachValueOnePlaceholderEverywhere)
{
    nlohmann::ordered_json doc = nlohmann::ordered_json::parse(R"({
      "hostName": "SRV-A", "domain": "acme.example.org",
      "environment": {"COMPUTERNAME": "srv-a", "USERDOMAIN": "ACME", "USERNAME": "SRV-A$",
                      "TEMP": "C:\\Users\\jdoe\\AppData\\Local\\Temp", "TMP": "C:\\Users\\Public\\Temp"},
      "registry": [{"key": "K", "name": "DisabledWriters", "type": "REG_MULTI_SZ", "value": ["SRV-A Writer"]},
                   {"key": "K", "name": "InstallDir", "type": "REG_SZ", "value": "\\\\SRV-B\\share\\JDoe"}],
      "volumes": [{"guid": "g1", "serialNumber": 2}, {"guid": "g2", "serialNumber": 7},
                  {"guid": "g3", "serialNumber": 2}, {"guid": "g4", "serialNumber": 1}],
      "network": {"adapters": [{"deviceId": 1, "adapterType": "Ethernet 802.3", "productName": "Ethernet",
        "macAddress": "00:15:5d:0a:0b:0c", "dhcpServer": "192.168.1.1",
        "ipAddress": ["192.168.1.5", "fe80::1c4e", "2a01:4f8::5"], "ipSubnet": ["255.255.255.0", "64"],
        "defaultIPGateway": ["192.168.1.1", "0.0.0.0"]}]},
      "cluster": {"name": "ACMECL", "nodes": ["SRV-A", {"name": "SRV-B"}], "sharedVolumes": [{"owner": "srv-b"}]},
      "writers": [
        {"name": "SqlServerWriter", "id": "a65faa63-5ea8-4ebc-9dbd-a0c4db26912a", "components": [
          {"logicalPath": "SRV-A\\SALES", "name": "SRV-A"}, {"logicalPath": "SRV-A\\MICROSOFT##WID", "name": "m"}]},
        {"name": "SRV-A Writer", "id": "00000000-0000-0000-0000-000000000001", "components": [
          {"logicalPath": "SALES\\SRV-A", "name": "c",
           "files": [{"path": "C:\\SRV-AB\\srv-a.log", "filespec": "*"}, {"path": "C:\\HOST01", "filespec": "*"}]}]}],
      "sqlServer": {"instances": [{"name": "SRV-A\\SALES", "version": "15.0.2000.5"}]},
      "captureNotes": [{"call": "x", "text": "\\\\?\\Volume{g}\\ on SRV-A failed"}]
    })");
    winclass::RedactHostDescription(doc);
    const struct {
        const char *pointer;
        nlohmann::ordered_json expected;
    } cases[] = {
        {"/hostName", "HOST02"},  // HOST01 names a folder of the document
        {"/domain", "domain01.example"},
        {"/environment/COMPUTERNAME", "HOST02"},
        {"/environment/USERDOMAIN", "DOMAIN01"},
        {"/environment/USERNAME", "HOST02$"},
        {"/environment/TEMP", "C:\\Users\\user01\\AppData\\Local\\Temp"},
        {"/environment/TMP", "C:\\Users\\Public\\Temp"},
        {"/registry/0/value/0", "SRV-A Writer"},
        {"/registry/1/value", "\\\\NODE01\\share\\user01"},
        {"/volumes/0/serialNumber", 3},  // 1 and 2 are other volumes' serial numbers
        {"/volumes/1/serialNumber", 4},
        {"/volumes/2/serialNumber", 3},
        {"/volumes/3/serialNumber", 5},
        {"/network/adapters/0/adapterType", "Ethernet 802.3"},
        {"/network/adapters/0/productName", "adapter01"},
        {"/network/adapters/0/macAddress", "02:00:00:00:00:01"},
        {"/network/adapters/0/dhcpServer", "10.0.0.1"},
        {"/network/adapters/0/ipAddress", {"10.0.0.2", "fe80::1", "2001:db8::2"}},
        {"/network/adapters/0/ipSubnet", {"255.255.255.0", "64"}},
        {"/network/adapters/0/defaultIPGateway", {"10.0.0.1", "0.0.0.0"}},
        {"/cluster/name", "CLUSTER01"},
        {"/cluster/nodes", {"HOST02", {{"name", "NODE01"}}}},
        {"/cluster/sharedVolumes/0/owner", "NODE01"},
        {"/writers/0/components/0/logicalPath", "HOST02\\INSTANCE01"},
        {"/writers/0/components/0/name", "SRV-A"},
        {"/writers/0/components/1/logicalPath", "HOST02\\MICROSOFT##WID"},
        {"/writers/1/name", "SRV-A Writer"},
        {"/writers/1/components/0/logicalPath", "INSTANCE01\\HOST02"},
        {"/writers/1/components/0/files/0/path", "C:\\SRV-AB\\HOST02.log"},
        {"/writers/1/components/0/files/1/path", "C:\\HOST01"},
        {"/sqlServer/instances/0", {{"name", "HOST02\\INSTANCE01"}, {"version", "15.0.2000.5"}}},
        {"/captureNotes/0/text", "\\\\?\\Volume{g}\\ on HOST02 failed"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(doc.at(nlohmann::ordered_json::json_pointer(c.pointer)), c.expected) << c.pointer;
}

// A one-letter host name leaves the drive letters alone.
TEST(WinclassDescribeHost, RedactKeepsDriveLettersOfAOneLetterHost)
{
    nlohmann::ordered_json doc = nlohmann::ordered_json::parse(
        R"({"hostName": "C", "environment": {"SystemDrive": "C:", "SystemRoot": "C:\\Windows", "X": "C\\Y"}})");
    winclass::RedactHostDescription(doc);
    EXPECT_EQ(doc["hostName"], "HOST01");
    EXPECT_EQ(doc["environment"]["SystemDrive"], "C:");
    EXPECT_EQ(doc["environment"]["SystemRoot"], "C:\\Windows");
    EXPECT_EQ(doc["environment"]["X"], "HOST01\\Y");
}

// The program end to end: what is refused, in one line, with its exit code.
TEST(WinclassDescribeHost, RefusalsAreOneLineWithTheirExitCode)
{
    const fs::path folder = commandtest::Fresh("describe-refusals");
    fs::create_directories(folder);
    json newer = json::parse(winsim::EmbeddedHostJson("default"));
    newer["formatVersion"] = 2;
    std::ofstream(folder / "newer.json") << newer.dump();
    const struct {
        std::string arguments;
        int exitCode;
        const char *error;
    } cases[] = {
        {"--host " + (folder / "newer.json").string() + " volumes", winclass::kExitHostNotLoaded,
         "formatVersion: unknown version 2 (this loader reads version 1, or a description without the field)"},
        {"--host default describe-host --to no/such/folder/host.json", winclass::kExitBadInput,
         "no/such/folder/host.json: the host description cannot be written: "},
        {"--host default --json describe-host --to written.json", winclass::kExitSuccess, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments);
        const commandtest::ProgramRun run = commandtest::RunProgram(c.arguments, folder / "run");
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        if (c.exitCode == winclass::kExitSuccess) {
            EXPECT_EQ(run.out, "") << "--json adds no second document";
            EXPECT_NO_THROW(winsim::LoadHostFile((folder / "run" / "written.json").string()));
            continue;
        }
        EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
}

} // namespace
