// winclass csv and the backup of a path on a Cluster Shared Volume, in-process on the
// simulated cluster hosts: each command's exit code, document and effect on the cluster,
// and a CSV a backup moved here going back to its coordinator whatever happened between.
#include "commandtest.h"
#include "commands.h"
#include "output.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <winsim/host.h>
#include <winsim/hostmodel.h>
#include <winsim/vss.h>
#include <winsim/wmi.h>

#include <vsserror.h>
#include <wbemcli.h>

#include <filesystem>
#include <string>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

const char kVolume1[] = "C:\\ClusterStorage\\Volume1";
const char kVolume2[] = "C:\\ClusterStorage\\Volume2";

void UseHost(const char *name)
{
    commandtest::UseHost(name);
    winsim::ResetWmi();
    winsim::ClearFaults();
}

// "OWNER/faultState" of each CSV, in the cluster's order.
std::string Cluster()
{
    std::string state;
    for (const auto &v : winsim::WmiSharedVolumes())
        state += (state.empty() ? "" : " ") + std::string(v.owner.begin(), v.owner.end()) + "/" +
                 std::to_string(v.faultState);
    return state;
}

int Csv(const char *action, const char *name, const char *argument, json *document)
{
    winclass::CsvOptions options;
    options.action = action;
    options.name = name;
    options.node = options.mode = argument;
    winclass::Output output(true);
    const int code = winclass::RunCsv(options, output);
    *document = output.Document();
    return code;
}

TEST(WinclassCsv, EachActionAnswersItsCodeAndChangesOnlyWhatItSays)
{
    const struct {
        const char *host, *action, *name, *argument;
        int exitCode;
        const char *cluster;  // afterwards
        const char *said;     // in the document's error, or in its clusterSharedVolume / check
    } cases[] = {
        {"cluster-three", "list", "", "", 0, "TVNODE3B/0 TVNODE3B/4", "\"maintenance\":true"},
        {"cluster-three", "move", kVolume1, "tvnode3a.corp.example.com", 0, "TVNODE3A/0 TVNODE3B/4",
         "\"coordinator\":\"TVNODE3A\""},
        {"cluster-three", "move", kVolume1, "TVNODE3C", 1, "TVNODE3B/0 TVNODE3B/4", "the move to node TVNODE3C failed"},
        {"cluster-three", "move", kVolume1, "", 2, "TVNODE3B/0 TVNODE3B/4", "the target node is empty"},
        {"cluster-three", "move", "C:\\ClusterStorage\\Volume9", "TVNODE3A", 2, "TVNODE3B/0 TVNODE3B/4",
         "no Cluster Shared Volume has this name"},
        {"cluster-three", "maintenance", kVolume2, "off", 0, "TVNODE3B/0 TVNODE3B/0", "\"faultState\":0"},
        {"cluster-three", "maintenance", kVolume1, "on", 0, "TVNODE3B/4 TVNODE3B/4", "\"maintenance\":true"},
        {"cluster-three", "maintenance", kVolume1, "maybe", 2, "TVNODE3B/0 TVNODE3B/4", "takes on or off"},
        {"cluster-three", "check", kVolume2, "", 1, "TVNODE3B/0 TVNODE3B/4", "\"restoreAllowed\":false"},
        {"cluster-three", "check", kVolume1, "", 0, "TVNODE3B/0 TVNODE3B/4", "\"restoreAllowed\":true"},
        {"cluster-node", "check", "D:\\", "", 0, "TVNODE2/0", "\"isCsv\":false"},
        {"default", "list", "", "", 2, "", "not a node of a failover cluster"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.host) + " " + c.action + " " + c.name + " " + c.argument);
        UseHost(c.host);
        json document;
        EXPECT_EQ(Csv(c.action, c.name, c.argument, &document), c.exitCode);
        EXPECT_EQ(Cluster(), c.cluster);
        const std::string said = c.exitCode == 0 || document.contains("restoreAllowed")
                                     ? document.dump()
                                     : document.value("error", std::string());
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
    }
    // WMI failing to answer is a failed step, not a name the cluster does not know.
    for (const auto &fault : {std::make_pair(1, "could not be looked up through WMI"),
                              std::make_pair(-1, "listing the Cluster Shared Volumes in ROOT\\MSCLUSTER failed: 0x80041001")}) {
        UseHost("cluster-three");
        winsim::InjectWmiFault({winsim::WmiFaultPoint::Query, u"MSCluster_ClusterSharedVolume", WBEM_E_FAILED, 0,
                                fault.first});
        json document;
        EXPECT_EQ(Csv("move", kVolume1, "TVNODE3A", &document), 1);
        EXPECT_NE(document.value("error", std::string()).find(fault.second), std::string::npos) << document.dump();
        EXPECT_EQ(Cluster(), "TVNODE3B/0 TVNODE3B/4");
        winsim::ResetWmi();
    }
}

// A backup of a path on the CSV: moved here for the snapshot, and home again at the end,
// also when the snapshot failed after the move; the document says where it is.
TEST(WinclassCsv, ABackupMovesTheCsvHereAndAlwaysReturnsIt)
{
    const struct {
        const char *host, *path;
        const char *vssFault;       // fails the backup after the move
        int returnFaultSkip;        // MoveToNewHost calls let through before the return fails; -1: none
        int exitCode;
        const char *cluster;        // afterwards
        const char *node;           // where the document says the CSV is
    } cases[] = {
        {"cluster-node", "C:\\ClusterStorage\\Volume1\\VMs", nullptr, -1, 0, "TVNODE2/0", "TVNODE2"},
        {"cluster-node", "C:\\ClusterStorage\\Volume1\\VMs", "IVssBackupComponents::DoSnapshotSet", -1, 1,
         "TVNODE2/0", "TVNODE2"},
        {"cluster-node", "C:\\ClusterStorage\\Volume1", nullptr, 1, 4, "TVNODE1/0", "TVNODE1"},
        {"cluster-three", "C:\\ClusterStorage\\Volume2\\Archive", nullptr, -1, 1, "TVNODE3B/0 TVNODE3B/4",
         "TVNODE3B"},  // in maintenance mode: not moved, no snapshot
    };
    int run = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.host) + " " + c.path + " " + std::to_string(c.exitCode));
        UseHost(c.host);
        if (c.vssFault != nullptr)
            winsim::InjectHresult(c.vssFault, u"", VSS_E_PROVIDER_VETO);
        if (c.returnFaultSkip >= 0)
            winsim::InjectWmiFault({winsim::WmiFaultPoint::ExecMethod, u"MoveToNewHost", E_ACCESSDENIED,
                                    c.returnFaultSkip, 1});
        winclass::BackupOptions options;
        options.paths = {c.path};
        options.destination = commandtest::Fresh("csv-backup-" + std::to_string(++run)).string();
        winclass::Output output(true);
        EXPECT_EQ(winclass::RunBackup(options, output), c.exitCode);
        const json &document = output.Document();
        EXPECT_EQ(Cluster(), c.cluster);
        ASSERT_TRUE(document.contains("clusterSharedVolumes")) << document.dump();
        EXPECT_EQ(document["clusterSharedVolumes"][0]["node"], c.node);
        EXPECT_EQ(document["clusterSharedVolumes"][0]["returned"], c.exitCode != 4);
        fs::remove_all(options.destination);
    }
    winsim::ClearFaults();
}

// A restore onto a CSV in maintenance mode runs only on the node that owns it: refused
// before anything is selected while another node owns it, let through once this one does.
TEST(WinclassCsv, ARestoreOntoACsvInMaintenanceRunsOnlyOnItsOwner)
{
    UseHost("cluster-three");
    winclass::BackupOptions backup;
    backup.paths = {std::string(kVolume1) + "\\VMs"};
    backup.destination = commandtest::Fresh("csv-restore").string();
    winclass::Output backupOutput(true);
    ASSERT_EQ(winclass::RunBackup(backup, backupOutput), 0) << backupOutput.Document().dump();
    json document;
    ASSERT_EQ(Csv("maintenance", kVolume1, "on", &document), 0);
    winsim::ClearVssRequests();

    const struct {
        const char *owner;
        int exitCode;
    } cases[] = {{"TVNODE3B", 1}, {"TVNODE3A", 0}};  // TVNODE3A is this node
    for (const auto &c : cases) {
        SCOPED_TRACE(c.owner);
        ASSERT_EQ(Csv("move", kVolume1, c.owner, &document), 0);
        ASSERT_EQ(Csv("maintenance", kVolume1, "on", &document), 0);  // a move may take it out
        winclass::RestoreOptions options;
        options.folder = backup.destination;
        winclass::Output output(true);
        EXPECT_EQ(winclass::RunRestore(options, output), c.exitCode) << output.Document().dump();
        if (c.exitCode != 0) {
            EXPECT_EQ(output.Document().value("failedStep", ""), "check Cluster Shared Volumes");
            EXPECT_NE(output.Document().dump().find("must run on the node that owns it"), std::string::npos);
            for (const winsim::VssRequest &request : winsim::VssRequests())  // nothing past opening the session
                EXPECT_EQ(request.operation, "InitializeForRestore");
        }
    }
    fs::remove_all(backup.destination);
}

// A kept sandbox (WINSIM_ROOT) is one cluster for every run: the next command sees what
// the last one moved or changed.
TEST(WinclassCsv, AKeptSandboxShowsTheNextRunTheCluster)
{
    const fs::path folder = commandtest::Fresh("csv-sandbox");
    const std::string environment = "WINSIM_ROOT='" + (folder / "root").string() + "'";
    const auto run = [&](const std::string &arguments) {
        return commandtest::RunProgram("--host cluster-three " + arguments, folder, environment);
    };
    EXPECT_EQ(run("csv move 'C:\\ClusterStorage\\Volume1' TVNODE3A").exitCode, 0);
    EXPECT_EQ(run("csv maintenance 'C:\\ClusterStorage\\Volume2' off").exitCode, 0);
    const commandtest::ProgramRun list = run("csv list --json");
    EXPECT_EQ(list.exitCode, 0) << list.err;
    const json document = json::parse(list.out, nullptr, false);
    EXPECT_EQ(document["clusterSharedVolumes"][0]["coordinator"], "TVNODE3A") << list.out;
    EXPECT_EQ(document["clusterSharedVolumes"][1]["faultState"], 0) << list.out;
    fs::remove_all(folder);
}

} // namespace
