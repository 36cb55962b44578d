// libwinclass: Cluster Shared Volumes (CSV) through the cluster's WMI provider
// (ROOT\MSCLUSTER): find a CSV by name, read its coordinator and fault state, move it
// between nodes, switch its maintenance mode; and the checks the save and recover programs
// make around a backup or restore of a CSV.
//
// A CSV is named by the "Name" of its MSCluster_ClusterSharedVolume object: its path, such
// as C:\ClusterStorage\Volume1. Node names are host names in UTF-8. Results are 1 for
// success and 0 for failure unless stated; failures print their message at once.
//
//     CSVContext context = {};          // cleared, on the caller's stack
//     if (InitCSV(&context, name) && context.found)
//         ... GetCSVCoordinatorNode, MoveCSVToSpecifiedNode, ToggleCSVMaintModeState ...
//     Cleanup(&context);                // also after a failed InitCSV
#pragma once

#include <libwinclass/winclassapi.h>

#include <wbemidl.h>

#include <stddef.h>

struct vo_msg;

// The WMI session and CSV object of one caller, from InitCSV until Cleanup.
typedef struct CSVContext {
    int found;                    // 1 when InitCSV found the CSV by name
    IWbemServices *services;      // the session on ROOT\MSCLUSTER
    IWbemLocator *locator;
    IWbemClassObject *csvObject;  // the MSCluster_ClusterSharedVolume, or NULL
} CSVContext;
WINCLASS_LAYOUT(offsetof(struct CSVContext, found) == 0, "CSVContext layout");
WINCLASS_LAYOUT(offsetof(struct CSVContext, services) == sizeof(void *), "CSVContext layout");
WINCLASS_LAYOUT(offsetof(struct CSVContext, locator) == 2 * sizeof(void *), "CSVContext layout");
WINCLASS_LAYOUT(offsetof(struct CSVContext, csvObject) == 3 * sizeof(void *), "CSVContext layout");
WINCLASS_LAYOUT(sizeof(struct CSVContext) == 4 * sizeof(void *), "CSVContext layout");

// The maintenance-mode fault state of a CSV (compared for equality, not as a bit).
#define CSV_FAULT_STATE_MAINTENANCE 4

#ifdef __cplusplus
extern "C" {
#endif

// Opens the session and looks the CSV up (name in the ANSI code page, matched without
// regard to case). 1 when the session is open, found or not; 0 when it could not be
// opened (or for a NULL context or name).
WINCLASS_API int InitCSV(CSVContext *context, const char *csvName);

// Releases the CSV object and closes the session; harmless on a cleared context and twice.
WINCLASS_API void Cleanup(CSVContext *context);

// The coordinator (owning node) of the CSV, queried by name on the open session, in a new
// buffer the caller frees with free. 0 with *node NULL when there is none.
WINCLASS_API int GetCSVCoordinatorNode(CSVContext *context, const char *csvName, char **node);

// The CSV's "FaultState" (4: maintenance mode). Needs the CSV object of InitCSV.
WINCLASS_API int GetCSVFaultState(CSVContext *context, const char *csvName, unsigned int *faultState);

// Moves the CSV to this node unless owner already names it (then 1 without a move).
WINCLASS_API int MoveCSVToLocalNode(CSVContext *context, const char *csvName, const char *owner);

// Moves the CSV to the target node (a fully qualified name is cut to its host name).
WINCLASS_API int MoveCSVToSpecifiedNode(CSVContext *context, const char *csvName, const char *targetNode);

// Turns maintenance mode on (non-zero) or off; 1 when the method ran.
WINCLASS_API int ToggleCSVMaintModeState(CSVContext *context, const char *csvName, int on);

// *isCsv = 1 when the volume (save set) is a CSV of this cluster. 1 when that could be
// answered (a host that is not a cluster node answers 0 without asking WMI), else 0.
WINCLASS_API int is_csv(const char *volumeName, unsigned int *isCsv);

// 1 when the path is the cluster storage directory (%SystemDrive%\ClusterStorage) or a
// leading part of it, compared without regard to case; else 0.
WINCLASS_API int is_csv_mountpoint_dir(const char *path);

// 1 when the path is a mount point of a CSVFS volume; else 0.
WINCLASS_API int is_online_csv(const char *volumePath);

// Whether a restore of the save set may run on this node: NULL to go on, or message 108256
// (the CSV is in maintenance mode and another node owns it) for the caller to print and free.
WINCLASS_API struct vo_msg *check_for_CSV_type_and_state(const char *saveSet);

// Before a backup: records the CSV's coordinator in *savedCoordinator (a new buffer the
// caller frees with free, set whenever it was found, also when a later step fails) and
// moves the CSV to the target node. 1 when the target owns the CSV afterwards. A CSV in
// maintenance mode is never moved.
WINCLASS_API int move_csv_to_backup_cluster_node(const char *csvName, const char *targetNode,
                                                 char **savedCoordinator);

// After a backup: moves the CSV back to the saved coordinator unless it is there already.
// 1 when the saved coordinator owns the CSV afterwards.
WINCLASS_API int return_csv_to_saved_coordinator_node(const char *csvName, const char *savedCoordinator);

#ifdef __cplusplus
} // extern "C"
#endif
