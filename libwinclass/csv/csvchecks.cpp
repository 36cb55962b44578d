// The CSV checks and moves the save and recover programs make around a backup or restore.
// Each call opens its own context and closes it before it returns.
#include <libwinclass/csv.h>

#include <liblocal/local.h>

#include <stdlib.h>
#include <string.h>

namespace {

const int kCodeCsvError = 55000;
const int kCodeCsvWarning = 52000;

bool LogFailures() { return Debug >= 1 || (VoTrace & 0x1) != 0; }
bool LogSetup() { return Debug >= 3 || (VoTrace & 0x4) != 0; }

const char *Text(const char *value) { return value != NULL ? value : "(null)"; }

// A context closed on every return.
class ScopedCSV {
public:
    ScopedCSV() : context_() {}
    ~ScopedCSV() { Cleanup(&context_); }
    ScopedCSV(const ScopedCSV &) = delete;
    ScopedCSV &operator=(const ScopedCSV &) = delete;
    CSVContext *get() { return &context_; }
    // The session is open and the CSV was found.
    bool Open(const char *csvName) { return InitCSV(&context_, csvName) != 0 && context_.found != 0; }

private:
    CSVContext context_;
};

// A node name owned until the scope ends.
class NodeName {
public:
    NodeName() = default;
    ~NodeName() { free(name_); }
    NodeName(const NodeName &) = delete;
    NodeName &operator=(const NodeName &) = delete;
    char **out() { return &name_; }
    const char *get() const { return name_; }

private:
    char *name_ = NULL;
};

void PrintTwo(int number, int code, const char *format, const char *first, const char *second)
{
    msg_print(number, code, VO_SEV_ERROR, format, VO_ARG_TEXT, Text(first), VO_ARG_TEXT, Text(second));
}

void PrintReturnFailed(const char *csvName, const char *savedCoordinator)
{
    PrintTwo(108264, kCodeCsvError,
             "Could not move Cluster Shared Volume '%s' back to the original server '%s' from the backup server.\n",
             csvName, savedCoordinator);
}

} // namespace

extern "C" {

int is_csv(const char *volumeName, unsigned int *isCsv)
{
    if (isCsv == NULL)
        return 0;
    *isCsv = 0;
    if (!clu_is_cluster_host())
        return 1;
    // Closed also when out of memory leaves through here.
    ScopedCSV context;
    const int opened = InitCSV(context.get(), volumeName);
    if (!opened)
        msg_print(108265, kCodeCsvWarning, VO_SEV_ERROR,
                  "Could not perform initialization to determine whether volume '%s' is a Cluster Shared Volume.\n",
                  VO_ARG_TEXT, Text(volumeName));
    else if (context.get()->found)
        *isCsv = 1;
    return opened ? 1 : 0;
}

int is_csv_mountpoint_dir(const char *path)
{
    if (path == NULL)
        return 0;  // outside the contract; answered rather than measured
    const char *systemDrive = vo_getenv("SystemDrive");
    if (systemDrive == NULL) {
        msg_print(103496, kCodeCsvError, VO_SEV_ERROR,
                  "Unable to get system drive, Cannot determine if volume path is a Cluster Shared Volume.\n");
        return 0;
    }
    char directory[260] = {};
    vo_strlcpy(directory, systemDrive, sizeof directory - 1);  // room for the separator
    adddirsep(directory, '\\');
    vo_strlcat(directory, "ClusterStorage", sizeof directory);
    // A leading part of the directory counts too: the drive root, "C:\Cluster", "".
    return _strnicmp(directory, path, strlen(path)) == 0 ? 1 : 0;
}

int is_online_csv(const char *volumePath)
{
    if (volumePath == NULL) {
        if (LogFailures())
            debugprintf("is_csvfs_object(): Null volume path passed as parameter");
        return 0;
    }
    if (is_mount_point(volumePath) && isfilesystemtype(volumePath, "CSVFS")) {
        if (LogFailures())
            debugprintf("is_csvfs_object(): CSV mount point detected: '%s'", volumePath);
        return 1;
    }
    return 0;
}

vo_msg *check_for_CSV_type_and_state(const char *saveSet)
{
    if (!clu_is_cluster_host())
        return NULL;
    ScopedCSV csv;
    if (!InitCSV(csv.get(), saveSet)) {
        if (LogSetup())
            debugprintf("Could not check to see if saveset '%s' is a Cluster Shared Volume.\n", Text(saveSet));
        return NULL;
    }
    if (!csv.get()->found)
        return NULL;
    unsigned int faultState = 0;
    if (!GetCSVFaultState(csv.get(), saveSet, &faultState)) {
        msg_print(108254, kCodeCsvWarning, VO_SEV_ERROR,
                  "Could not get fault state for CSV '%s'. Unable to validate CSV saveset for restore.\n",
                  VO_ARG_TEXT, Text(saveSet));
        return NULL;
    }
    if (faultState != CSV_FAULT_STATE_MAINTENANCE)
        return NULL;
    char local[256] = {};
    vo_gethostname(local, sizeof local);
    NodeName coordinator;
    if (!GetCSVCoordinatorNode(csv.get(), saveSet, coordinator.out())) {
        msg_print(108255, kCodeCsvWarning, VO_SEV_ERROR,
                  "Could not find coordinator node for CSV '%s'. Unable to check for and validate CSV saveset.\n",
                  VO_ARG_TEXT, Text(saveSet));
        return NULL;
    }
    if (vo_inet_hostcmp(coordinator.get(), local) != 0)
        return msg_create(108256, kCodeCsvError,
                          "CSV '%s' is in maintenance mode and is not owned by this cluster node. The restore must be "
                          "performed on the owning node.\n",
                          VO_ARG_TEXT, Text(saveSet));
    return NULL;
}

int move_csv_to_backup_cluster_node(const char *csvName, const char *targetNode, char **savedCoordinator)
{
    if (targetNode == NULL || targetNode[0] == 0) {
        msg_print(108257, kCodeCsvError, VO_SEV_ERROR,
                  "Target cluster node was not specified. Tolvane was not able to move Cluster Shared Volume '%s'.\n",
                  VO_ARG_TEXT, Text(csvName));
        return 0;
    }
    ScopedCSV csv;
    if (!csv.Open(csvName)) {
        PrintTwo(108258, kCodeCsvError,
                 "Could not perform initialization to move Cluster Shared Volume %s to specified backup server "
                 "'%s'.\n",
                 csvName, targetNode);
        return 0;
    }
    if (savedCoordinator == NULL || !GetCSVCoordinatorNode(csv.get(), csvName, savedCoordinator)) {
        PrintTwo(108259, kCodeCsvError,
                 "Could not find original coordinator node before moving Cluster Shared Volume '%s' to specified "
                 "backup server '%s'.\n",
                 csvName, targetNode);
        return 0;
    }
    if (vo_inet_hostcmp(*savedCoordinator, targetNode) == 0)
        return 1;  // the target owns it already
    unsigned int faultState = 0;
    if (!GetCSVFaultState(csv.get(), csvName, &faultState))
        return 0;
    if (faultState == CSV_FAULT_STATE_MAINTENANCE) {
        PrintTwo(108260, kCodeCsvError,
                 "Unable to move Cluster Shared Volume '%s' to cluster node '%s', because it is in maintenance "
                 "mode.\n",
                 csvName, targetNode);
        return 0;
    }
    if (MoveCSVToSpecifiedNode(csv.get(), csvName, targetNode))
        return 1;
    msg_print(108261, kCodeCsvError, VO_SEV_ERROR,
              "Could not move Cluster Shared Volume '%s' from cluster node '%s' to specified backup server '%s'.\n",
              VO_ARG_TEXT, Text(csvName), VO_ARG_TEXT, Text(*savedCoordinator), VO_ARG_TEXT, targetNode);
    return 0;
}

int return_csv_to_saved_coordinator_node(const char *csvName, const char *savedCoordinator)
{
    // Without a saved coordinator there is no node to return to; the cluster is not asked
    // to move the CSV to a host without a name.
    if (savedCoordinator == NULL) {
        PrintReturnFailed(csvName, savedCoordinator);
        return 0;
    }
    ScopedCSV csv;
    if (!csv.Open(csvName)) {
        PrintTwo(108262, kCodeCsvError,
                 "Could not perform initialization to move Cluster Shared Volume '%s' to original server '%s' "
                 "following backup.\n",
                 csvName, savedCoordinator);
        return 0;
    }
    NodeName current;
    if (!GetCSVCoordinatorNode(csv.get(), csvName, current.out())) {
        PrintTwo(108263, kCodeCsvWarning,
                 "Could not find current coordinator node before moving Cluster Shared Volume '%s' to saved "
                 "coordinator node '%s'.\n",
                 csvName, savedCoordinator);
        return 0;
    }
    if (vo_inet_hostcmp(current.get(), savedCoordinator) == 0)
        return 1;
    // No fault-state test on the way back: a CSV in maintenance mode goes home too.
    if (MoveCSVToSpecifiedNode(csv.get(), csvName, savedCoordinator))
        return 1;
    PrintReturnFailed(csvName, savedCoordinator);
    return 0;
}

} // extern "C"
