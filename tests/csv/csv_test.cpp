// Cluster Shared Volumes on the simulated cluster hosts: every exported function, the
// edge cases of the contract, and a WMI fault at each step leaving the cluster as it was.
// Each test checks that no WMI object leaks and that COM is balanced.
#include <platform/tvplatform.h>

#include <libwinclass/csv.h>
#include <liblocal/local.h>

#include <winsim/host.h>
#include <winsim/hostmodel.h>
#include <winsim/wmi.h>

#include <gtest/gtest.h>
#include <support/capture.h>

#include <stdlib.h>
#include <string>
#include <vector>

using tvtest::OutputCapture;

namespace {

const char kVolume1[] = "C:\\ClusterStorage\\Volume1";
const char kVolume2[] = "C:\\ClusterStorage\\Volume2";  // cluster-three: in maintenance

class Csv : public ::testing::Test {
protected:
    void UseHost(const char *name)
    {
        winsim::ReplaceHost(winsim::ParseHost(winsim::EmbeddedHostJson(name)));
        winsim::ResetWmi();
        winsim::ResetComSecurity();
    }
    void SetUp() override { UseHost("cluster-node"); }
    void TearDown() override
    {
        Debug = 0;
        winsim::ResetWmi();
        EXPECT_EQ(winsim::ComInitCount(), ULONG(0)) << "COM left initialised";
        EXPECT_EQ(winsim::LiveWmiObjects(), size_t(0)) << "WMI objects leaked";
    }
    // The CSV as the cluster has it now: "OWNER/faultState".
    static std::string State(const char *csv)
    {
        for (const auto &v : winsim::WmiSharedVolumes())
            if (v.name == std::u16string(csv, csv + strlen(csv)))
                return std::string(v.owner.begin(), v.owner.end()) + "/" + std::to_string(v.faultState);
        return "missing";
    }
    static std::vector<int> Numbers(const OutputCapture &capture)
    {
        std::vector<int> numbers;
        for (const auto &m : capture.messages())
            numbers.push_back(m.code == 52000 ? -m.number : m.number);  // warnings negative
        return numbers;
    }
    static std::string Take(char *node)
    {
        std::string text = node != NULL ? node : "(none)";
        free(node);
        return text;
    }
};

// On both cluster hosts: find (without regard to case), coordinator, fault state,
// move to a node named fully qualified, the local-node shortcut, maintenance on and off.
TEST_F(Csv, OperationsOnBothClusterHosts)
{
    struct Case {
        const char *host, *given, *csv, *owner, *local, *fqdnLocal;
        unsigned fault;
    } cases[] = {
        {"cluster-node", "c:\\clusterstorage\\volume1", kVolume1, "TVNODE2", "TVNODE1", "tvnode1.corp.example.com", 0},
        {"cluster-three", "C:\\CLUSTERSTORAGE\\VOLUME2", kVolume2, "TVNODE3B", "TVNODE3A", "TVNODE3A.corp.example.com", 4},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.host);
        UseHost(c.host);
        auto at = [](const char *owner, unsigned fault) { return std::string(owner) + "/" + std::to_string(fault); };
        OutputCapture capture;
        CSVContext context = {};
        ASSERT_EQ(InitCSV(&context, c.given), 1);
        ASSERT_TRUE(context.found == 1 && context.csvObject != nullptr);
        char *node = NULL;
        EXPECT_EQ(GetCSVCoordinatorNode(&context, c.given, &node), 1);
        EXPECT_EQ(Take(node), c.owner);
        unsigned int faultState = 99;
        EXPECT_EQ(GetCSVFaultState(&context, c.given, &faultState), 1);
        EXPECT_EQ(faultState, c.fault);
        EXPECT_EQ(MoveCSVToLocalNode(&context, c.given, c.local), 1);  // owned here: no move, no message
        EXPECT_EQ(State(c.csv), at(c.owner, c.fault));
        EXPECT_EQ(MoveCSVToSpecifiedNode(&context, c.given, c.fqdnLocal), 1);
        EXPECT_EQ(State(c.csv), at(c.local, c.fault));
        EXPECT_EQ(MoveCSVToLocalNode(&context, c.given, c.owner), 1);  // owned elsewhere: moved here
        ASSERT_EQ(Numbers(capture), (std::vector<int>{103493, 103493}));
        EXPECT_EQ(capture.messages()[0].code, 51000);
        EXPECT_EQ(capture.messages()[0].text, "Cluster Shared Volume " + std::string(c.given) +
                                                  " has been moved to cluster node " + c.fqdnLocal + ".\n");
        EXPECT_EQ(ToggleCSVMaintModeState(&context, c.given, 0), 1);
        EXPECT_EQ(State(c.csv), at(c.local, 0));
        EXPECT_EQ(ToggleCSVMaintModeState(&context, c.given, 2), 1);  // any non-zero means on
        EXPECT_EQ(State(c.csv), at(c.local, 4));
        Cleanup(&context);
        Cleanup(&context);  // twice: nothing left to release
    }
}

// A CSV that is not there: the session is open, and every call that needs the object says
// so. No node associated, or bad arguments: 0, no message, nothing touched.
TEST_F(Csv, UnknownNameLeavesTheObjectNullAndEachCallSaysSo)
{
    OutputCapture capture;
    CSVContext context = {};
    ASSERT_EQ(InitCSV(&context, "C:\\ClusterStorage\\Volume9"), 1);
    EXPECT_TRUE(context.found == 0 && context.csvObject == nullptr);
    unsigned int faultState = 7;
    EXPECT_EQ(GetCSVFaultState(&context, "V9", &faultState) + MoveCSVToSpecifiedNode(&context, "V9", "TVNODE1") +
                  MoveCSVToLocalNode(&context, "V9", "TVNODE2") + ToggleCSVMaintModeState(&context, "V9", 1),
              0);
    EXPECT_EQ(faultState, 7u);
    EXPECT_EQ(Numbers(capture), (std::vector<int>{103497, 103492, 103494, 103489}));
    Cleanup(&context);

    capture.clear();
    winsim::HideWmiInstances(u"ROOT\\MSCLUSTER", u"MSCluster_Node");
    ASSERT_EQ(InitCSV(&context, kVolume1), 1);
    char *node = reinterpret_cast<char *>(&context);
    EXPECT_EQ(GetCSVCoordinatorNode(&context, kVolume1, &node) + GetCSVCoordinatorNode(&context, NULL, &node) +
                  GetCSVCoordinatorNode(NULL, kVolume1, &node) + InitCSV(NULL, kVolume1),
              0);
    EXPECT_EQ(node, nullptr);
    Cleanup(&context);
    Cleanup(NULL);
    EXPECT_EQ(InitCSV(&context, NULL), 0);
    EXPECT_TRUE(capture.messages().empty());
}

// A fault at each WMI step of a backup's move (or of a maintenance change): the step's
// message, then the check's, and the CSV stays where it was. The saved coordinator is
// handed back once it was read.
TEST_F(Csv, FaultAtEachWmiStepLeavesTheClusterAsItWas)
{
    using P = winsim::WmiFaultPoint;
    struct Case {
        P point;
        const char16_t *match;
        std::vector<int> numbers;
        const char *saved;  // nullptr: a maintenance change instead of a move
    } cases[] = {
        {P::Connect, u"", {108258}, "(none)"},
        {P::Query, u"MSCluster_ClusterSharedVolume", {103477, 108258}, "(none)"},
        {P::Next, u"MSCluster_ClusterSharedVolume", {103478, 108258}, "(none)"},
        {P::Get, u"MSCluster_ClusterSharedVolume.Name", {103479, 108258}, "(none)"},
        {P::Query, u"MSCluster_Node", {103480, 108259}, "(none)"},
        {P::Next, u"MSCluster_Node", {103481, 108259}, "(none)"},
        {P::Get, u"MSCluster_Node.Name", {103482, 108259}, "(none)"},
        {P::Get, u"MSCluster_ClusterSharedVolume.FaultState", {103498}, "TVNODE2"},
        {P::GetMethod, u"MoveToNewHost", {95440, 103485, 108261}, "TVNODE2"},
        {P::SpawnInstance, u"", {95441, 103485, 108261}, "TVNODE2"},
        {P::Put, u"HostName", {103486, 108261}, "TVNODE2"},
        {P::Get, u"__PATH", {103487, 108261}, "TVNODE2"},
        {P::ExecMethod, u"MoveToNewHost", {103488, 108261}, "TVNODE2"},
        {P::Get, u"__PATH", {103490}, nullptr},
        {P::ExecMethod, u"TurnOnMaintenance", {}, nullptr},  // a debug line only
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.numbers));
        winsim::ResetWmi();
        winsim::InjectWmiFault({c.point, c.match, E_ACCESSDENIED});
        Debug = 1;
        OutputCapture capture;
        if (c.saved != nullptr) {
            char *saved = NULL;
            EXPECT_EQ(move_csv_to_backup_cluster_node(kVolume1, "TVNODE1", &saved), 0);
            EXPECT_EQ(Take(saved), c.saved);
        } else {
            CSVContext context = {};
            EXPECT_EQ(InitCSV(&context, kVolume1) + ToggleCSVMaintModeState(&context, kVolume1, 1), 1);
            Cleanup(&context);
        }
        EXPECT_EQ(Numbers(capture), c.numbers);
        EXPECT_EQ(State(kVolume1), "TVNODE2/0");
    }
    // The texts of a failed method, with the HRESULT in hexadecimal.
    winsim::ResetWmi();
    winsim::InjectWmiFault({P::ExecMethod, u"", E_ACCESSDENIED});
    OutputCapture capture;
    char *saved = NULL;
    EXPECT_EQ(move_csv_to_backup_cluster_node(kVolume1, "TVNODE1", &saved), 0);
    free(saved);
    CSVContext context = {};
    EXPECT_EQ(InitCSV(&context, kVolume1) + ToggleCSVMaintModeState(&context, kVolume1, 1), 1);
    Cleanup(&context);
    EXPECT_EQ(capture.messages().at(0).text,
              "Could not move Cluster Shared Volume C:\\ClusterStorage\\Volume1 to target node TVNODE1. Unable to "
              "execute method MoveToNewHost of class MSCluster_ClusterSharedVolume. HRESULT = 0x80070005.\n");
    EXPECT_EQ(capture.debugLines().back(), "Could not change maintenance mode state for Cluster Shared Volume "
                                           "C:\\ClusterStorage\\Volume1. Failed to execute method with error 0x80070005.\n");
}

// The moves around a backup on the three-node cluster: down and unknown nodes,
// maintenance mode, a target that owns the CSV already, and the way back.
TEST_F(Csv, BackupMovesAndReturns)
{
    UseHost("cluster-three");
    struct Case {
        const char *csv, *target;
        int result;
        std::string saved, after;
        std::vector<int> numbers;
    } cases[] = {
        {kVolume1, "TVNODE3A", 1, "TVNODE3B", "TVNODE3A/0", {103493}},
        {kVolume1, "TVNODE3A", 1, "TVNODE3A", "TVNODE3A/0", {}},                // owns it already
        {kVolume1, "TVNODE3C", 0, "TVNODE3A", "TVNODE3A/0", {103488, 108261}},  // node down
        {kVolume1, "NOSUCHNODE", 0, "TVNODE3A", "TVNODE3A/0", {103488, 108261}},
        {kVolume2, "TVNODE3A", 0, "TVNODE3B", "TVNODE3B/4", {108260}},  // maintenance: never moved
        {kVolume1, "", 0, "(none)", "TVNODE3A/0", {108257}},
        {"C:\\ClusterStorage\\Volume9", "TVNODE3A", 0, "(none)", "missing", {108258}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.csv) + " -> " + c.target);
        OutputCapture capture;
        char *saved = NULL;
        EXPECT_EQ(move_csv_to_backup_cluster_node(c.csv, c.target, &saved), c.result);
        EXPECT_EQ(Take(saved), c.saved);
        EXPECT_EQ(State(c.csv), c.after);
        EXPECT_EQ(Numbers(capture), c.numbers);
    }
    // Home again: Volume1 from this node; Volume2 even in maintenance mode.
    CSVContext context = {};
    ASSERT_EQ(InitCSV(&context, kVolume2) + MoveCSVToSpecifiedNode(&context, kVolume2, "TVNODE3A"), 2);
    Cleanup(&context);
    OutputCapture capture;
    EXPECT_EQ(return_csv_to_saved_coordinator_node(kVolume1, "TVNODE3B") +
                  return_csv_to_saved_coordinator_node(kVolume2, "tvnode3b.corp.example.com") +
                  return_csv_to_saved_coordinator_node(kVolume2, "TVNODE3B"),  // home: no move
              3);
    EXPECT_EQ(State(kVolume1) + " " + State(kVolume2), "TVNODE3B/0 TVNODE3B/4");
    winsim::InjectWmiFault({winsim::WmiFaultPoint::Next, u"MSCluster_Node", E_FAIL, 0, 1});
    EXPECT_EQ(return_csv_to_saved_coordinator_node(kVolume1, "TVNODE3A") +
                  return_csv_to_saved_coordinator_node("C:\\ClusterStorage\\Volume9", "TVNODE3B") +
                  return_csv_to_saved_coordinator_node(kVolume1, "TVNODE3C"),
              0);
    EXPECT_EQ(Numbers(capture), (std::vector<int>{103493, 103493, 103481, -108263, 108262, 103488, 108264}));
    EXPECT_EQ(capture.messages()[6].text, "Could not move Cluster Shared Volume 'C:\\ClusterStorage\\Volume1' back to "
                                          "the original server 'TVNODE3C' from the backup server.\n");
}

// is_csv and check_for_CSV_type_and_state on a plain host and both cluster hosts.
TEST_F(Csv, RestoreChecksAndIsCsv)
{
    struct Case {
        const char *host, *name;
        int result;
        unsigned flag;
        int check;  // the message number check_for_CSV_type_and_state returns, 0 for NULL
    } cases[] = {
        {"default", kVolume1, 1, 0, 0},
        {"cluster-node", kVolume1, 1, 1, 0},
        {"cluster-node", "D:\\", 1, 0, 0},
        {"cluster-three", kVolume1, 1, 1, 0},
        {"cluster-three", kVolume2, 1, 1, 108256},  // maintenance, owned by TVNODE3B
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.host) + " " + c.name);
        UseHost(c.host);
        unsigned int flag = 9;
        EXPECT_EQ(is_csv(c.name, &flag), c.result);
        EXPECT_EQ(flag, c.flag);
        vo_msg *message = check_for_CSV_type_and_state(c.name);
        EXPECT_EQ(std::to_string(msg_number(message)) + "/" + std::to_string(msg_code(message)),
                  c.check == 0 ? "0/0" : std::to_string(c.check) + "/55000");
        msg_free(message);
    }
    // Owned by this node, or a fault state that is more than maintenance: the restore goes on.
    CSVContext context = {};
    ASSERT_EQ(InitCSV(&context, kVolume2) + MoveCSVToLocalNode(&context, kVolume2, "TVNODE3B"), 2);
    Cleanup(&context);
    EXPECT_EQ(check_for_CSV_type_and_state(kVolume2), nullptr);
    UseHost("cluster-three");
    VARIANT five;
    VariantInit(&five);
    V_VT(&five) = VT_I4;
    V_I4(&five) = 5;
    winsim::OverrideWmiProperty(u"ROOT\\MSCLUSTER", u"MSCluster_ClusterSharedVolume", u"FaultState", five);
    EXPECT_EQ(check_for_CSV_type_and_state(kVolume2), nullptr);

    // Failing to find out lets the restore go on, with a message; is_csv cannot answer.
    OutputCapture capture;
    winsim::ResetWmi();
    using P = winsim::WmiFaultPoint;
    for (P point : {P::Get, P::Next}) {
        winsim::InjectWmiFault({point, point == P::Get ? u"FaultState" : u"MSCluster_Node", E_FAIL, 0, 1});
        EXPECT_EQ(check_for_CSV_type_and_state(kVolume2), nullptr);
    }
    winsim::InjectWmiFault({P::Connect, u"", E_FAIL, 0, 1});
    unsigned int flag = 9;
    EXPECT_EQ(is_csv(kVolume2, &flag) + is_csv(kVolume2, NULL), 0);
    EXPECT_EQ(flag, 0u);
    EXPECT_EQ(Numbers(capture), (std::vector<int>{103498, -108254, 103481, -108255, -108265}));
}

TEST_F(Csv, ClusterStorageDirectoryAndOnlineCsv)
{
    struct Case {
        const char *path;
        int mountpointDir, online;
    } cases[] = {
        {"c:\\clusterstorage", 1, 0}, {"C:\\ClusterStorage", 1, 0}, {"C:\\", 1, 0}, {"C:\\Cluster", 1, 0},
        {"", 1, 0}, {"C:\\ClusterStorage\\Volume1", 0, 1}, {"C:\\ClusterStorage\\Volume1\\", 0, 1},
        {"C:\\ClusterStorage\\", 0, 0}, {"D:\\Mount\\Archive\\", 0, 0}, {"C:\\Windows", 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(is_csv_mountpoint_dir(c.path), c.mountpointDir);
        EXPECT_EQ(is_online_csv(c.path), c.online);
    }
    Debug = 1;
    OutputCapture capture;
    EXPECT_EQ(is_online_csv(NULL), 0);
    ASSERT_TRUE(SetEnvironmentVariableW(W("SystemDrive"), NULL));
    EXPECT_EQ(is_csv_mountpoint_dir("C:\\"), 0);
    EXPECT_EQ(Numbers(capture), std::vector<int>{103496});
    EXPECT_EQ(capture.debugLines(), std::vector<std::string>{"is_csvfs_object(): Null volume path passed as parameter"});
}

} // namespace
