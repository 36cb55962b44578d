// The host model: the embedded hosts, and descriptions that must not load.
#include <windows.h>
#include <winsim/hostmodel.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>

namespace {

using nlohmann::json;
using winsim::HostError;

// The error a description gets, or "" when it loads.
std::string LoadError(const json &doc)
{
    try {
        winsim::ParseHost(doc.dump());
        return "";
    } catch (const HostError &e) {
        return e.what();
    }
}

json DefaultDoc() { return json::parse(winsim::EmbeddedHostJson("default")); }

TEST(EmbeddedHosts, TheDefaultServerHasEveryKindOfVolumeTheBackupMeets)
{
    const winsim::Host host = winsim::ParseHost(winsim::EmbeddedHostJson("default"));
    EXPECT_EQ(host.os.major, 10u);
    EXPECT_EQ(host.os.build, 17763u);
    EXPECT_TRUE(host.os.server);
    EXPECT_EQ(host.firmware, winsim::Firmware::Uefi);

    std::set<std::u16string> guids;
    std::map<std::string, int> kinds;  // of each kind of volume the backup meets, one
    for (const winsim::Volume &v : host.volumes) {
        EXPECT_EQ(v.guidPath.substr(0, 11), u"\\\\?\\Volume{");
        EXPECT_EQ(v.guidPath.back(), u'\\');
        EXPECT_TRUE(std::none_of(v.guidPath.begin(), v.guidPath.end(), [](char16_t c) { return c >= u'A' && c <= u'F'; }))
            << "volume GUID paths are lower-case";
        EXPECT_TRUE(guids.insert(v.guidPath).second);
        kinds["efi"] += v.fileSystem == u"FAT32" && v.driveLetter == 0;
        kinds["folder-mounted"] += !v.mountFolders.empty();
        kinds["spanned"] += v.extents.size() > 1;
        kinds["removable"] += v.kind == winsim::DriveKind::Removable;
        kinds["optical"] += v.kind == winsim::DriveKind::CdRom;
        for (const winsim::Extent &e : v.extents)
            kinds["storage spaces"] += host.FindDisk(e.disk)->busType == winsim::BusSpaces;
    }
    EXPECT_EQ(kinds, (std::map<std::string, int>{{"efi", 1}, {"folder-mounted", 1}, {"optical", 1}, {"removable", 1},
                                                  {"spanned", 1}, {"storage spaces", 1}}));

    // The spanned volume lies on the two dynamic disks and nowhere else.
    const auto dynamicDisks = std::count_if(host.disks.begin(), host.disks.end(), [](const winsim::Disk &d) { return d.IsDynamic(); });
    EXPECT_EQ(dynamicDisks, 2);
    for (const winsim::Volume &v : host.volumes)
        for (const winsim::Extent &e : v.extents)
            EXPECT_TRUE(v.extents.size() == 1 || host.FindDisk(e.disk)->IsDynamic());
}

TEST(EmbeddedHosts, TheClusterNodeAddsAClusteredDiskAndASharedVolume)
{
    const winsim::Host host = winsim::ParseHost(winsim::EmbeddedHostJson("cluster-node"));
    const auto csv = std::find_if(host.volumes.begin(), host.volumes.end(), [](const winsim::Volume &v) { return v.csv; });
    ASSERT_NE(csv, host.volumes.end());
    EXPECT_EQ(csv->fileSystem, u"CSVFS");
    EXPECT_EQ(csv->driveLetter, 0);
    ASSERT_EQ(csv->mountFolders.size(), 1u);
    EXPECT_EQ(csv->mountFolders[0], u"C:\\ClusterStorage\\Volume1\\");
    EXPECT_TRUE(host.FindDisk(csv->extents[0].disk)->clustered);
    EXPECT_EQ(host.sections.count("cluster"), 1u);

    EXPECT_THROW(winsim::EmbeddedHostJson("no-such-host"), HostError);
}

TEST(EmbeddedHosts, RegistryValuesHoldTheBytesWindowsHandsBack)
{
    json doc = DefaultDoc();
    doc["registry"] = json::array({
        {{"key", "HKEY_LOCAL_MACHINE\\SOFTWARE\\T"}, {"name", "List"}, {"type", "REG_MULTI_SZ"}, {"value", {"ab", "c"}}},
        {{"key", "HKEY_LOCAL_MACHINE\\SOFTWARE\\T"}, {"name", "Count"}, {"type", "REG_DWORD"}, {"value", 258}},
    });
    const winsim::Host host = winsim::ParseHost(doc.dump());
    ASSERT_EQ(host.registry.size(), 2u);
    // "ab\0c\0\0" in 16-bit units.
    const std::vector<BYTE> multi = {'a', 0, 'b', 0, 0, 0, 'c', 0, 0, 0, 0, 0};
    EXPECT_EQ(host.registry[0].data, multi);
    EXPECT_EQ(host.registry[0].type, DWORD(REG_MULTI_SZ));
    EXPECT_EQ(host.registry[1].data, (std::vector<BYTE>{2, 1, 0, 0}));
}

TEST(EmbeddedHosts, TheDocumentedExampleLoadsWithItsDynamicDiskMountPoint)
{
    std::ifstream doc(std::string(TV_SOURCE_DIR) + "/docs/host-description.md");
    ASSERT_TRUE(doc) << "docs/host-description.md is where the format is documented";
    std::string text((std::istreambuf_iterator<char>(doc)), std::istreambuf_iterator<char>());
    const size_t start = text.find("```json\n");
    ASSERT_NE(start, std::string::npos);
    const size_t end = text.find("```", start + 8);
    const winsim::Host host = winsim::ParseHost(text.substr(start + 8, end - start - 8));

    EXPECT_EQ(host.firmware, winsim::Firmware::Bios);
    ASSERT_EQ(host.volumes.size(), 3u);
    const winsim::Volume &mounted = host.volumes[2];
    ASSERT_EQ(mounted.mountFolders.size(), 1u);
    EXPECT_EQ(mounted.mountFolders[0], u"C:\\Shares\\Dyn\\");
    EXPECT_TRUE(host.FindDisk(mounted.extents[0].disk)->IsDynamic());
    EXPECT_FALSE(host.FindDisk(0)->IsDynamic());
}

TEST(InvalidDescriptions, NameTheFieldAndTheFault)
{
    struct Case {
        const char *what;
        std::function<void(json &)> spoil;
        const char *expected;
    };
    const Case cases[] = {
        {"misspelt field", [](json &d) { d["volumes"][0]["driveLeter"] = "C"; },
         "volumes[0].driveLeter: unknown field"},
        {"unknown top-level field", [](json &d) { d["disk"] = json::array(); }, "disk: unknown field"},
        {"extent on a disk not described", [](json &d) { d["volumes"][3]["extents"][0]["disk"] = 7; },
         "volumes[3].extents[0].disk: no disk 7 is described"},
        {"extent beyond the disk", [](json &d) { d["volumes"][3]["extents"][0]["length"] = 1ULL << 50; },
         "volumes[3].extents[0]: must lie within disk 1"},
        {"overlapping partitions", [](json &d) { d["disks"][0]["partitions"][1]["offset"] = 2 * 1048576; },
         "disks[0].partitions[1]: overlaps partition 1"},
        {"drive letter twice", [](json &d) { d["volumes"][3]["driveLetter"] = "c"; },
         "volumes[3].driveLetter: C: belongs to another volume"},
        {"mount folder on no volume", [](json &d) { d["volumes"][4]["mountFolders"][0] = "Q:\\Mount\\"; },
         "volumes[4].mountFolders[0]: no other volume has the drive letter Q:"},
        {"negative size", [](json &d) { d["disks"][1]["size"] = -5; }, "disks[1].size: expected a non-negative integer"},
        {"string for a number", [](json &d) { d["disks"][1]["number"] = "1"; },
         "disks[1].number: expected a non-negative integer"},
        {"disk twice", [](json &d) { d["disks"][1]["number"] = 0; }, "disks[1].number: disk 0 is described twice"},
        {"bad partition type", [](json &d) { d["disks"][0]["partitions"][0]["type"] = "swap"; },
         "disks[0].partitions[0].type: unknown GPT partition type 'swap'"},
        {"file on no volume", [](json &d) { d["files"][0]["path"] = "Q:\\x"; },
         "files[0].path: lies on no volume of the host"},
        {"content and size", [](json &d) { d["files"][1]["size"] = 5; },
         "files[1]: give at most one of content, base64 and size"},
        {"seed without size", [](json &d) { d["files"][4]["seed"] = 5; },
         "files[4].seed: a seeded file needs its size"},
        {"bytes for a directory", [](json &d) { d["files"][0]["size"] = 5; },
         "files[0]: a directory or junction has no content"},
        {"bad base64", [](json &d) { d["files"][4]["base64"] = "QUJD!"; },
         "files[4].base64: not valid base64 at character 4"},
        {"data after the padding", [](json &d) { d["files"][4]["base64"] = "QQ==QQ"; },
         "files[4].base64: not valid base64 at character 4"},
        {"junction to no volume", [](json &d) { d["files"][0]["junction"] = "Q:\\x"; },
         "files[0].junction: leads to no volume of the host"},
        {"junction that is not a directory", [](json &d) { d["files"][4]["junction"] = "C:\\"; d["files"][4]["directory"] = false; },
         "files[4].directory: a junction is a directory"},
        {"last write not a date", [](json &d) { d["files"][4]["lastWrite"] = "2026-02-30T00:00:00Z"; },
         "files[4].lastWrite: expected a UTC time"},
        {"last write before 1601", [](json &d) { d["files"][4]["lastWrite"] = "1600-12-31T23:59:59Z"; },
         "files[4].lastWrite: expected a UTC time"},
        {"last write without its zone", [](json &d) { d["files"][4]["lastWrite"] = "2026-12-08T09:30:00"; },
         "files[4].lastWrite: expected a UTC time"},
        {"last write of eight digits", [](json &d) { d["files"][4]["lastWrite"] = "2026-12-08T09:30:00.12345678Z"; },
         "files[4].lastWrite: expected a UTC time"},
        {"CSV without CSVFS", [](json &d) { d["volumes"][3]["csv"] = true; },
         "volumes[3].fileSystem: a Cluster Shared Volume has the file system CSVFS"},
        {"fixed volume without extents", [](json &d) { d["volumes"][3].erase("extents"); },
         "volumes[3].extents: a fixed volume lies on at least one disk extent"},
        {"unknown registry type", [](json &d) { d["registry"][0]["type"] = "REG_LINK"; },
         "registry[0].type: unknown registry type 'REG_LINK'"},
        {"DWORD out of range", [](json &d) { d["registry"][3]["value"] = 1ULL << 32; },
         "registry[3].value: must be at most 4294967295"},
        {"long host name", [](json &d) { d["hostName"] = "A-NAME-LONGER-THAN-15"; }, "hostName: a NetBIOS host name"},
        {"bad firmware", [](json &d) { d["firmware"] = "efi"; }, "firmware: expected uefi or bios"},
        {"bad volume GUID", [](json &d) { d["volumes"][0]["guid"] = "not-a-guid"; }, "volumes[0].guid: not a GUID"},
        {"newer format", [](json &d) { d["formatVersion"] = 2; },
         "formatVersion: unknown version 2 (this loader reads version 1, or a description without the field)"},
        {"format version as text", [](json &d) { d["formatVersion"] = "1"; }, "formatVersion: unknown version \"1\""},
        {"format version 0", [](json &d) { d["formatVersion"] = 0; }, "formatVersion: unknown version 0"},
        {"capture note without its call", [](json &d) { d["captureNotes"] = json::array({{{"hresult", "0x1"}}}); },
         "captureNotes[0].call: missing"},
        {"capture note with a stray field", [](json &d) {
             d["captureNotes"] = json::array({{{"call", "x"}, {"hresult", "0x1"}, {"hr", 1}}});
         }, "captureNotes[0].hr: unknown field"},
    };
    for (const Case &c : cases) {
        json doc = DefaultDoc();
        c.spoil(doc);
        const std::string error = LoadError(doc);
        EXPECT_EQ(error.rfind(c.expected, 0), 0u) << c.what << ": got \"" << error << "\"";
    }
}

TEST(EmbeddedHosts, TheKnownFormatVersionAndCaptureNotesLoad)
{
    json doc = DefaultDoc();
    doc["formatVersion"] = winsim::kHostFormatVersion;
    doc["captureNotes"] = json::array({{{"call", "ConnectServer"}, {"section", "cluster"},
                                        {"hresult", "0x8004100e"}, {"text", "Invalid namespace"}}});
    const winsim::Host host = winsim::ParseHost(doc.dump());
    EXPECT_EQ(host.volumes.size(), winsim::ParseHost(DefaultDoc().dump()).volumes.size());
}

TEST(InvalidDescriptions, MalformedJsonSaysSo)
{
    EXPECT_THROW(winsim::ParseHost("{\"disks\": [}"), HostError);
    EXPECT_THROW(winsim::ParseHost("{\"ansiCodePage\": 1e400}"), HostError) << "a number out of range";
    try {
        winsim::ParseHost("[1, 2]");
        FAIL() << "an array is not a host";
    } catch (const HostError &e) {
        EXPECT_STREQ(e.what(), "host description: expected a JSON object");
    }
}

TEST(CurrentHost, AHostFileThatDoesNotLoadEndsTheProcessWithItsError)
{
    const std::string path = ::testing::TempDir() + "broken-host.json";
    std::ofstream(path) << R"({"disks": [{"number": 0}]})";
    EXPECT_EXIT(
        {
            setenv("WINSIM_HOST", path.c_str(), 1);
            winsim::CurrentHost();
        },
        ::testing::ExitedWithCode(3), "disks\\[0\\].size: missing");
}

TEST(CurrentHost, WinsimHostNamesAnEmbeddedHostOrAFile)
{
    setenv("WINSIM_HOST", "cluster-node", 1);
    EXPECT_EQ(winsim::CurrentHost().hostName, u"TVNODE1");

    json doc = DefaultDoc();
    doc["hostName"] = "FROMFILE";
    winsim::ReplaceHost(winsim::ParseHost(doc.dump()));
    EXPECT_EQ(winsim::CurrentHost().hostName, u"FROMFILE");
}

} // namespace
