// winclass restore on simulated hosts: a backup, live files changed and deleted, the
// restore; every restored file must equal its copy, VSS must have been asked for the
// selections, and bad input must leave every live file as it was.
#include "commandtest.h"
#include "commands.h"
#include "output.h"
#include "paths.h"
#include "sha256.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <winsim/host.h>
#include <winsim/hostmodel.h>
#include <winsim/vss.h>

#include <vsserror.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

namespace fs = std::filesystem;
using nlohmann::json;
using commandtest::Fresh;
using commandtest::ReadAll;
using commandtest::UseHost;

namespace {

// A live file of the host, read or changed behind the command's back.
fs::path Live(const std::string &windowsPath)
{
    std::u16string wide;
    std::string host;
    EXPECT_TRUE(winclass::Utf8ToWide(windowsPath, &wide) && winsim::HostPathOf(wide, &host)) << windowsPath;
    return host;
}

// Every file the manifest lists, and its live bytes now ("" when gone).
std::map<std::string, std::string> LiveFiles(const json &manifest)
{
    std::map<std::string, std::string> files;
    for (const json &file : manifest["files"])
        if (file["kind"] == "file")
            files[file["path"]] = fs::exists(Live(file["path"])) ? ReadAll(Live(file["path"])) : "";
    return files;
}

// Changes one file in two and deletes the others.
void Damage(const json &manifest)
{
    int n = 0;
    for (const json &file : manifest["files"])
        if (file["kind"] == "file") {
            if (++n % 2)
                std::ofstream(Live(file["path"]), std::ios::trunc) << "damaged";
            else
                fs::remove(Live(file["path"]));
        }
}

int Backup(const fs::path &folder, int saveType, std::vector<std::string> paths, json *manifest)
{
    winclass::BackupOptions options;
    options.saveType = saveType;
    options.paths = std::move(paths);
    options.destination = folder.string();
    winclass::Output output(true);
    const int code = winclass::RunBackup(options, output);
    *manifest = code == 0 ? json::parse(ReadAll(folder / "manifest.json")) : output.Document();
    return code;
}

int Restore(winclass::RestoreOptions options, json *document)
{
    winclass::Output output(true);
    const int code = winclass::RunRestore(options, output);
    *document = output.Document();
    return code;
}

winclass::RestoreOptions Options(const fs::path &folder) { return {folder.string(), {}, false, "", false}; }

std::string NameOf(const GUID &writerId)
{
    for (const winsim::VssWriterModel &writer : winsim::HostVssWriters())
        if (writer.id == writerId)
            return winclass::Shown(writer.name);
    return "?";
}

// What VSS was asked: "writer|logical path\name", then " text" and " -> text3" when set.
std::multiset<std::string> Requests(const std::string &operation)
{
    std::multiset<std::string> asked;
    for (const winsim::VssRequest &request : winsim::VssRequests())
        if (request.operation == operation)
            asked.insert(NameOf(request.writerId) + "|" + winclass::Shown(request.logicalPath) + "\\" +
                         winclass::Shown(request.componentName) +
                         (request.text.empty() ? "" : " " + winclass::Shown(request.text)) +
                         (request.text3.empty() ? "" : " -> " + winclass::Shown(request.text3)));
    return asked;
}

// The components the backup took, as Requests names them; suffix added to each.
std::multiset<std::string> TakenComponents(const json &manifest, const std::string &suffix = "")
{
    std::multiset<std::string> taken;
    for (const json &writer : manifest["writers"])
        for (const json &component : writer["components"])
            taken.insert(writer["name"].get<std::string>() + "|" + component["logicalPath"].get<std::string>() + "\\" +
                         component["name"].get<std::string>() + suffix);
    return taken;
}

} // namespace

class WinclassRoundTrip : public testing::TestWithParam<const char *> {};

// Backup of the system state and a folder, every live file changed or deleted, restore:
// each is its copy again, and VSS saw every component selected, then both events.
TEST_P(WinclassRoundTrip, EveryFileIsItsCopyAgainAndEveryComponentWasSelected)
{
    UseHost(GetParam());
    const fs::path folder = Fresh("round-trip");
    json manifest, document;
    const std::string saved = std::string(GetParam()) == "default" ? "D:\\Shares" : "V:\\Hyper-V\\dc01";
    ASSERT_EQ(Backup(folder, 2, {saved}, &manifest), 0) << manifest.dump(2);
    const std::map<std::string, std::string> before = LiveFiles(manifest);
    ASSERT_GT(before.size(), 10u);
    Damage(manifest);
    winsim::ClearVssRequests();
    ASSERT_EQ(Restore(Options(folder), &document), 0) << document.dump(2);
    EXPECT_EQ(LiveFiles(manifest), before);
    EXPECT_EQ(Requests("SetSelectedForRestore"), TakenComponents(manifest));
    EXPECT_EQ(Requests("PreRestore").size(), 1u);
    EXPECT_EQ(Requests("PostRestore").size(), 1u);
    for (const json &writer : document["writers"])
        EXPECT_EQ(writer["state"], "VSS_WS_STABLE") << writer.dump();
}

INSTANTIATE_TEST_SUITE_P(Hosts, WinclassRoundTrip, testing::Values("default", "hyperv-host"));

// The cluster database is restored authoritatively through VSS's own call; every other
// writer through its components' restore options.
TEST(WinclassRestore, AuthoritativeOnAClusterNode)
{
    UseHost("cluster-node");
    const fs::path folder = Fresh("authoritative");
    json manifest, document;
    ASSERT_EQ(Backup(folder, 2, {}, &manifest), 0) << manifest.dump(2);
    winclass::RestoreOptions options = Options(folder);
    options.authoritative = true;
    ASSERT_EQ(Restore(options, &document), 0) << document.dump(2);
    std::multiset<std::string> authoritative, others;
    for (const std::string &taken : TakenComponents(manifest)) {
        const bool cluster = taken.rfind("Cluster Database|", 0) == 0;
        (cluster ? authoritative : others).insert(taken + (cluster ? "" : " \"Authoritative\"=\"All\""));
    }
    ASSERT_FALSE(authoritative.empty());
    EXPECT_EQ(Requests("SetAuthoritativeRestore"), authoritative);
    EXPECT_EQ(Requests("SetRestoreOptions"), others);
}

// A writer that fails at post-restore fails the command by name, after the files are back.
TEST(WinclassRestore, AWriterFailingPostRestoreFailsTheCommandByName)
{
    UseHost("default");
    const fs::path folder = Fresh("post-restore");
    json manifest, document;
    ASSERT_EQ(Backup(folder, 2, {}, &manifest), 0) << manifest.dump(2);
    const auto before = LiveFiles(manifest);
    Damage(manifest);
    winsim::InjectHresult("IVssBackupComponents::PostRestore", u"Registry Writer", VSS_E_WRITERERROR_RETRYABLE);
    EXPECT_EQ(Restore(Options(folder), &document), 1);
    EXPECT_EQ(LiveFiles(manifest), before);
    EXPECT_NE(document.value("error", "").find("Registry Writer is not in a stable state"), std::string::npos)
        << document.dump(2);
    for (const json &writer : document["writers"])
        EXPECT_EQ(writer["stable"], writer["name"] != "Registry Writer") << writer.dump();
}

// --to: the selected component's files land under the host folder, VSS is told each
// mapping, the live files stay as they are.
TEST(WinclassRestore, OneComponentToAnAlternateFolder)
{
    UseHost("default");
    const fs::path folder = Fresh("alternate");
    json manifest, document;
    ASSERT_EQ(Backup(folder, 2, {"D:\\Shares"}, &manifest), 0) << manifest.dump(2);
    Damage(manifest);
    const auto damaged = LiveFiles(manifest);
    winclass::RestoreOptions options = Options(folder);
    options.components = {"Registry Writer\\Registry"};
    options.target = "E:\\Restored";
    winsim::ClearVssRequests();
    ASSERT_EQ(Restore(options, &document), 0) << document.dump(2);
    EXPECT_EQ(LiveFiles(manifest), damaged);
    EXPECT_EQ(Requests("SetSelectedForRestore").size(), 1u);
    std::set<std::string> registry;
    for (const json &writer : manifest["writers"])
        for (const json &component : writer["components"])
            for (const json &file : component["files"])
                if (writer["name"] == "Registry Writer")
                    registry.insert(file["path"].get<std::string>());
    ASSERT_FALSE(registry.empty());
    for (const json &file : manifest["files"]) {
        const std::string path = file["path"], restored = "E:\\Restored\\" + path.substr(0, 1) + path.substr(2);
        EXPECT_EQ(fs::exists(Live(restored)), registry.count(path) == 1) << path;
        if (registry.count(path)) {
            EXPECT_EQ(ReadAll(Live(restored)), ReadAll(file["copiedTo"].get<std::string>())) << path;
        }
    }
    const auto mappings = Requests("AddAlternativeLocationMapping");
    ASSERT_FALSE(mappings.empty());
    for (const std::string &mapping : mappings)
        EXPECT_NE(mapping.find(" -> E:\\Restored\\C\\"), std::string::npos) << mapping;
}

// Input the restore cannot honour: one line naming the path and the cause, exit 2, no live
// file changed, nothing asked of VSS past the session. A dry run changes nothing either.
TEST(WinclassRestore, BadInputAndDryRunChangeNoLiveFile)
{
    UseHost("default");
    const fs::path good = Fresh("good"), paths = Fresh("paths");
    json manifest, other;
    ASSERT_EQ(Backup(good, 2, {"D:\\Shares"}, &manifest), 0) << manifest.dump(2);
    ASSERT_EQ(Backup(paths, 3, {"E:\\Projects"}, &other), 0) << other.dump(2);
    Damage(manifest);
    const auto damaged = LiveFiles(manifest);
    const std::string registry = "writers/Registry Writer.xml", system = "writers/System Writer.xml";
    const auto edit = [](const fs::path &manifestPath, const std::function<void(json &)> &change) {
        json edited = json::parse(ReadAll(manifestPath));
        change(edited);
        std::ofstream(manifestPath, std::ios::trunc) << edited.dump();
    };
    const struct {
        const char *what;
        std::function<void(const fs::path &)> damage;  // on a copy of the good backup
        std::vector<std::string> components;
        std::string target;
        int exitCode;
        std::string said;
    } kCases[] = {
        {"missing", [](const fs::path &f) { fs::remove_all(f); }, {}, "", 2, "no such backup folder"},
        {"truncated", [](const fs::path &f) { fs::resize_file(f / "manifest.json", 100); }, {}, "", 2,
         "manifest.json: truncated or damaged"},
        {"changed copy", [&](const fs::path &f) { std::ofstream(f / "D/Shares/Finance/ledger.csv") << "x"; }, {}, "",
         2, "does not match its SHA-256"},
        {"corrupt metadata", [&](const fs::path &f) { std::ofstream(f / registry, std::ios::trunc) << "<WRITER"; },
         {}, "", 2, "Registry Writer.xml: the metadata document of writer Registry Writer does not load"},
        {"another writer's", [&](const fs::path &f) { fs::copy_file(f / system, f / registry, fs::copy_options::overwrite_existing); },
         {}, "", 2, "not the metadata document of writer Registry Writer"},
        {"a field of the wrong type", [&](const fs::path &f) { edit(f / "manifest.json", [](json &m) { m["files"][0]["path"] = 7; }); },
         {}, "", 2, "manifest.json: damaged: "},
        {"another host", [&](const fs::path &f) { edit(f / "manifest.json", [](json &m) { m["hostName"] = "OTHER01"; }); },
         {}, "", 2, "a backup of host OTHER01, not of this host TVSRV01"},
        {"unknown writer", [](const fs::path &) {}, {"No Such Writer\\X"}, "", 2, "the backup holds no writer No Such"},
        {"unknown component", [](const fs::path &) {}, {"Registry Writer\\Nope"}, "", 2,
         "writer Registry Writer has no component Nope"},
        {"removable --to", [](const fs::path &) {}, {}, "G:\\Out", 2, "G:\\ is not a fixed local volume"},
        {"dry run", [](const fs::path &) {}, {}, "", 0, ""},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.what);
        const fs::path folder = Fresh(std::string("case-") + c.what);
        fs::copy(good, folder, fs::copy_options::recursive);
        c.damage(folder);
        winclass::RestoreOptions options = Options(folder);
        options.components = c.components;
        options.target = c.target;
        options.dryRun = c.exitCode == 0;
        winsim::ClearVssRequests();
        json document;
        EXPECT_EQ(Restore(options, &document), c.exitCode) << document.dump(2);
        EXPECT_NE(document.value("error", "").find(c.said), std::string::npos) << document.value("error", "");
        EXPECT_EQ(LiveFiles(manifest), damaged);
        EXPECT_TRUE(Requests("SetSelectedForRestore").empty() && Requests("PreRestore").empty());
    }
    // A writer document this backup did not save: the file-system backup names a writer.
    fs::create_directories(paths / "writers");
    fs::copy_file(good / system, paths / system);
    json document;
    edit(paths / "manifest.json", [](json &m) {
        m["writers"] = json::array({{{"name", "System Writer"}, {"taken", true}, {"metadata", "writers/System Writer.xml"},
                                     {"components", json::array()}}});
    });
    EXPECT_EQ(Restore(Options(paths), &document), 2);
    EXPECT_NE(document.value("error", "").find("was not saved by this backup"), std::string::npos)
        << document.value("error", "");
}

TEST(WinclassRestore, ManifestTimesReadBack)
{
    for (const char *text : {"1601-01-01T00:00:00Z", "1970-01-01T00:00:00Z", "2024-02-29T23:59:59Z",
                             "2025-03-01T12:00:00Z", "2100-12-31T01:02:03Z"}) {
        FILETIME time = {};
        ASSERT_TRUE(winclass::TimeFromText(text, &time)) << text;
        EXPECT_EQ(winclass::TimeText(time), text);
    }
    FILETIME time = {};
    for (const char *bad : {"", "2025-13-01T00:00:00Z", "2025-03-01 12:00:00Z", "2025-03-01T12:00:00", "1600-01-01T00:00:00Z"})
        EXPECT_FALSE(winclass::TimeFromText(bad, &time)) << bad;
}
