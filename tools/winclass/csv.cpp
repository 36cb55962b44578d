// winclass csv list|move|maintenance|check: the Cluster Shared Volumes of this cluster
// through the library's CSV functions; and the hold a backup keeps on a CSV it moved here.
#include "commands.h"
#include "paths.h"

#include <libwinclass/csv.h>
#include <libwinclass/tv_str.h>
#include <libwinclass/wmi.h>
#include <libwinclass/wmi/comref.h>
#include <liblocal/local.h>

#include <comdef.h>
#include <comutil.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace winclass {

namespace {

std::string LocalNode()
{
    char local[256] = {};
    vo_gethostname(local, sizeof local);
    return local;
}

// A context closed on every return.
class OpenCsv {
public:
    OpenCsv() : context_() {}
    ~OpenCsv() { Cleanup(&context_); }
    OpenCsv(const OpenCsv &) = delete;
    OpenCsv &operator=(const OpenCsv &) = delete;
    CSVContext *get() { return &context_; }

private:
    CSVContext context_;
};

struct CsvState {
    std::string name, coordinator;
    unsigned int faultState = 0;
    bool known = false;  // coordinator and fault state were read
};

nlohmann::json StateJson(const CsvState &csv)
{
    return {{"name", csv.name},
            {"coordinator", csv.coordinator},
            {"faultState", csv.faultState},
            {"maintenance", csv.faultState == CSV_FAULT_STATE_MAINTENANCE}};
}

std::string StateLine(const CsvState &csv)
{
    return csv.name + "  coordinator " + csv.coordinator + "  fault state " + std::to_string(csv.faultState) +
           (csv.faultState == CSV_FAULT_STATE_MAINTENANCE ? "  (maintenance mode)" : "");
}

// Reads the coordinator and fault state of a CSV that InitCSV found.
bool ReadState(CSVContext *context, const std::string &name, CsvState *state)
{
    state->name = name;
    char *node = NULL;
    if (!GetCSVCoordinatorNode(context, name.c_str(), &node) ||
        !GetCSVFaultState(context, name.c_str(), &state->faultState)) {
        std::free(node);
        return false;
    }
    state->coordinator = node;
    std::free(node);
    state->known = true;
    return true;
}

bool CsvNames(Output &output, std::vector<std::string> *names);

// The host must be a node and the CSV one of its cluster; otherwise bad input (2), or a
// step failure (1) when WMI could not be asked.
int FindCsv(Output &output, OpenCsv &csv, const std::string &name)
{
    if (!clu_is_cluster_host()) {
        // The library answers only yes or no; a key that could not be read is no answer.
        HKEY key = NULL;
        const LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, W("Cluster"), 0, KEY_READ, &key);
        if (status == ERROR_SUCCESS)
            RegCloseKey(key);
        if (status == ERROR_FILE_NOT_FOUND) {
            output.Error("this host is not a node of a failover cluster: it has no Cluster Shared Volumes");
            return kExitBadInput;
        }
        output.Error("whether this host is a cluster node could not be read from HKLM\\Cluster" +
                     (status == ERROR_SUCCESS ? std::string(" (it reads now: run again)") : ": " + ErrorText(status)));
        return kExitStepFailed;
    }
    if (!InitCSV(csv.get(), name.c_str())) {
        output.Error("the cluster's WMI namespace ROOT\\MSCLUSTER could not be opened (the debug log says why)");
        return kExitStepFailed;
    }
    if (!csv.get()->found) {
        // The library also finds nothing when WMI failed to answer (its message says so):
        // the list, asked again, tells a wrong name from a failed lookup.
        std::vector<std::string> names;
        if (!CsvNames(output, &names))
            return kExitStepFailed;
        for (const std::string &listed : names)
            if (vo_strcasecmp(listed.c_str(), name.c_str()) == 0) {
                output.Error(name + ": the Cluster Shared Volume could not be looked up through WMI (the message "
                                    "above says why), though the cluster lists it");
                return kExitStepFailed;
            }
        output.Error(name + ": no Cluster Shared Volume has this name (winclass csv list shows them)");
        return kExitBadInput;
    }
    return kExitSuccess;
}

// The names of every CSV, read as FindCSVByName reads them.
bool CsvNames(Output &output, std::vector<std::string> *names)
{
    winclass::WbemSession session;
    HRESULT hr = initialize_wbem(&session.services, &session.locator, W("ROOT\\MSCLUSTER"));
    ComRef<IEnumWbemClassObject> enumerator;
    if (SUCCEEDED(hr))
        hr = session.services->ExecQuery(_bstr_t(W("WQL")), _bstr_t(W("SELECT Name FROM MSCluster_ClusterSharedVolume")),
                                         WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, NULL,
                                         enumerator.out());
    while (SUCCEEDED(hr)) {
        ComRef<IWbemClassObject> object;
        ULONG returned = 0;
        hr = enumerator->Next(WBEM_INFINITE, 1, object.out(), &returned);
        if (FAILED(hr) || returned == 0)
            break;
        winclass::ScopedVariant name;
        hr = object->Get(W("Name"), 0, name.get(), NULL, NULL);
        if (SUCCEEDED(hr))
            names->push_back(tv_str(name.text()).get_utf8());
    }
    if (FAILED(hr)) {
        output.Error("listing the Cluster Shared Volumes in ROOT\\MSCLUSTER failed: " + HresultText(hr));
        return false;
    }
    return true;
}

int List(Output &output)
{
    if (!clu_is_cluster_host()) {
        output.Error("this host is not a node of a failover cluster: it has no Cluster Shared Volumes");
        return output.Finish(kExitBadInput);
    }
    std::vector<std::string> names;
    if (!CsvNames(output, &names))
        return output.Finish(kExitStepFailed);
    nlohmann::json list = nlohmann::json::array();
    for (const std::string &name : names) {
        OpenCsv csv;
        CsvState state;
        if (FindCsv(output, csv, name) != kExitSuccess || !ReadState(csv.get(), name, &state))
            return output.Finish(kExitStepFailed);
        output.Line(StateLine(state));
        list.push_back(StateJson(state));
    }
    if (names.empty())
        output.Notice("the cluster has no Cluster Shared Volume");
    output.Document()["localNode"] = LocalNode();
    output.Document()["clusterSharedVolumes"] = list;
    return output.Finish(kExitSuccess);
}

// After a change: the CSV as the cluster now has it, in a line and the document.
int Report(Output &output, OpenCsv &csv, const std::string &name)
{
    Cleanup(csv.get());
    OpenCsv again;
    CsvState state;
    if (FindCsv(output, again, name) != kExitSuccess)
        return output.Finish(kExitStepFailed);
    if (!ReadState(again.get(), name, &state)) {
        output.Error(name + ": its state could not be read from the cluster's WMI namespace (the debug log says why)");
        return output.Finish(kExitStepFailed);
    }
    output.Line(StateLine(state));
    output.Document()["clusterSharedVolume"] = StateJson(state);
    return output.Finish(kExitSuccess);
}

int Move(Output &output, const std::string &name, const std::string &node)
{
    if (node.empty()) {
        output.Error("the target node is empty; name a node of the cluster");
        return output.Finish(kExitBadInput);
    }
    OpenCsv csv;
    if (int exitCode = FindCsv(output, csv, name))
        return output.Finish(exitCode);
    if (!MoveCSVToSpecifiedNode(csv.get(), name.c_str(), node.c_str())) {
        output.Error(name + ": the move to node " + node + " failed (the message above says why); the CSV stays where "
                                                           "it was");
        return output.Finish(kExitStepFailed);
    }
    return Report(output, csv, name);
}

int Maintenance(Output &output, const std::string &name, const std::string &mode)
{
    if (mode != "on" && mode != "off") {
        output.Error("maintenance takes on or off, not '" + mode + "'");
        return output.Finish(kExitBadInput);
    }
    OpenCsv csv;
    if (int exitCode = FindCsv(output, csv, name))
        return output.Finish(exitCode);
    if (!ToggleCSVMaintModeState(csv.get(), name.c_str(), mode == "on")) {
        output.Error(name + ": turning maintenance mode " + mode + " failed (the debug log has the HRESULT)");
        return output.Finish(kExitStepFailed);
    }
    return Report(output, csv, name);
}

int Check(Output &output, const std::string &name)
{
    unsigned int isCsv = 0;
    if (!is_csv(name.c_str(), &isCsv))
        return output.Finish(kExitStepFailed);
    vo_msg *refusal = check_for_CSV_type_and_state(name.c_str());
    output.Document()["name"] = name;
    output.Document()["isCsv"] = isCsv != 0;
    output.Document()["restoreAllowed"] = refusal == NULL;
    if (refusal != NULL) {
        output.LibraryMessage(refusal, "a restore of " + name + " must run on the node that owns it");
        return output.Finish(kExitStepFailed);
    }
    output.Line(name + (isCsv ? ": a Cluster Shared Volume; a restore may run on this node (" + LocalNode() + ")"
                              : ": not a Cluster Shared Volume of this host; a restore is not held back"));
    return output.Finish(kExitSuccess);
}

} // namespace

int RunCsv(const CsvOptions &options, Output &output)
{
    if (options.action == "list")
        return List(output);
    if (options.action == "move")
        return Move(output, options.name, options.node);
    if (options.action == "maintenance")
        return Maintenance(output, options.name, options.mode);
    return Check(output, options.name);
}

bool CsvHold::Take(const std::string &volume, Output &output)
{
    // The CSV's name is its path, without the volume root's backslash.
    std::string name = volume;
    if (name.size() > 3 && name.back() == '\\')
        name.pop_back();
    unsigned int isCsv = 0;
    if (!clu_is_cluster_host() || !is_csv(name.c_str(), &isCsv) || isCsv == 0)
        return true;
    for (const Held &held : held_)
        if (held.name == name)
            return true;
    const std::string local = LocalNode();
    char *saved = NULL;
    int moved = 0;
    try {
        moved = move_csv_to_backup_cluster_node(name.c_str(), local.c_str(), &saved);
    } catch (...) {
        // Out of memory after the coordinator was read: it is ours to free, and the CSV
        // may have moved, so it is held for the way home.
        if (saved != NULL)
            held_.push_back(Held{name, saved});
        std::free(saved);
        throw;
    }
    if (saved != NULL) {
        // Once the coordinator is known the CSV goes back to it, even after a failed move.
        held_.push_back(Held{name, saved});
        std::free(saved);
    }
    if (!moved) {
        output.Error(name + ": the Cluster Shared Volume could not be moved to this node (" + local + ")");
        return false;
    }
    output.Line("Cluster Shared Volume " + name + " is on this node (" + local + ") for the backup; its coordinator "
                "was " + held_.back().coordinator);
    return true;
}

CsvHold::~CsvHold()
{
    for (const Held &held : held_) {
        try {
            return_csv_to_saved_coordinator_node(held.name.c_str(), held.coordinator.c_str());
        } catch (...) {
            // Out of memory again: nothing more can be done from a destructor.
        }
    }
}

bool CsvHold::ReturnAll(Output &output)
{
    bool allHome = true;
    nlohmann::json list = nlohmann::json::array();
    for (const Held &held : held_) {
        const bool home = return_csv_to_saved_coordinator_node(held.name.c_str(), held.coordinator.c_str()) != 0;
        std::string now = held.coordinator;
        if (!home) {
            OpenCsv csv;
            char *node = NULL;
            now = InitCSV(csv.get(), held.name.c_str()) && GetCSVCoordinatorNode(csv.get(), held.name.c_str(), &node)
                      ? node
                      : "unknown";
            std::free(node);
            allHome = false;
            output.Warning("Cluster Shared Volume " + held.name + " could not be returned to " + held.coordinator +
                           "; it is on node " + now);
        } else {
            output.Line("Cluster Shared Volume " + held.name + " is back on its coordinator " + held.coordinator);
        }
        list.push_back({{"name", held.name}, {"coordinator", held.coordinator}, {"returned", home}, {"node", now}});
    }
    if (!held_.empty())
        output.Document()["clusterSharedVolumes"] = list;
    held_.clear();
    return allHome;
}

} // namespace winclass
