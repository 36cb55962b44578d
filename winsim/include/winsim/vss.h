// winsim: the C++ interface through which tests look at the simulated shadow-copy
// service: the writers it answers with (from the host description's "writers" section),
// the restore requests a requester made, and the snapshots that exist. Linux only.
//
// Faults go through the ordinary fault table (winsim::InjectHresult); the function name is
// "IVssBackupComponents::<Method>" and the argument says what fails:
//   - empty argument: the call itself fails with the HRESULT. Synchronous methods return
//     it; the asynchronous ones (GatherWriterMetadata, GatherWriterStatus,
//     PrepareForBackup, DoSnapshotSet, BackupComplete, PreRestore, PostRestore) hand back
//     an IVssAsync whose Wait returns S_OK and whose QueryStatus reports the HRESULT, and
//     nothing changes. AddComponent, SetSelectedForRestore, SetAdditionalRestores, AddRestoreSubcomponent,
//     SetRestoreOptions, AddAlternativeLocationMapping, SetAuthoritativeRestore,
//     StartSnapshotSet, SaveAsXML, InitializeForBackup, InitializeForRestore, SetContext,
//     SetBackupState, GetSnapshotProperties, DeleteSnapshots and SetBackupSucceeded are
//     synchronous.
//   - a writer's name, with GatherWriterMetadata, PrepareForBackup, DoSnapshotSet,
//     BackupComplete, PreRestore or PostRestore: that writer fails in that phase. The call
//     succeeds; the writer's status becomes VSS_WS_FAILED_AT_IDENTIFY (and it is left out
//     of the metadata), _AT_PREPARE_BACKUP, _AT_FREEZE, _AT_BACKUP_COMPLETE,
//     _AT_PRE_RESTORE or _AT_POST_RESTORE, with the HRESULT as its failure. A host
//     description says the same of a writer with "failsAt" (the method's name) and
//     "failsWith" (the HRESULT; VSS_E_WRITERERROR_NONRETRYABLE when absent).
//   - a volume name as the caller gave it, with AddToSnapshotSet or DoSnapshotSet: adding
//     that volume fails, or the whole snapshot set fails, with the HRESULT.
// Example: InjectHresult("IVssBackupComponents::PrepareForBackup", u"SqlServerWriter",
//          VSS_E_WRITERERROR_RETRYABLE).
#pragma once

#include "winsim/types.h"

#include <string>
#include <vector>

namespace winsim {

// One file specification: a file group's files, a database or log file, an include or
// exclude specification, or an alternate-location mapping (alternateLocation is then the
// destination).
struct VssFileSpec {
    std::u16string path;
    std::u16string filespec;
    bool recursive = false;
    std::u16string alternateLocation;
    DWORD backupTypeMask = 0xf0f;  // VSS_FSBT_ALL_BACKUP_REQUIRED | VSS_FSBT_ALL_SNAPSHOT_REQUIRED
};

struct VssComponentModel {
    int type = 2;  // VSS_COMPONENT_TYPE: 1 database, 2 file group
    std::u16string logicalPath;
    std::u16string name;
    std::u16string caption;
    DWORD flags = 0;  // VSS_COMPONENT_FLAGS
    bool selectable = true;
    bool selectableForRestore = false;
    bool restoreMetadata = false;
    bool notifyOnBackupComplete = false;
    int restoreTarget = 1;  // VSS_RESTORE_TARGET, as the writer sets it at restore
    std::vector<VssFileSpec> files;          // file group files
    std::vector<VssFileSpec> databaseFiles;
    std::vector<VssFileSpec> logFiles;
};

struct VssWriterModel {
    std::u16string name;
    GUID id = {};
    GUID instanceId = {};
    std::u16string instanceName;
    int usage = 0;   // VSS_USAGE_TYPE
    int source = 0;  // VSS_SOURCE_TYPE
    int restoreMethod = 0;  // VSS_RESTOREMETHOD_ENUM
    std::u16string restoreService;
    std::u16string userProcedure;
    int writerRestore = 0;  // VSS_WRITERRESTORE_ENUM
    bool rebootRequired = false;
    DWORD backupSchema = 0;
    std::vector<VssFileSpec> alternateLocations;
    std::vector<VssFileSpec> includeFiles;
    std::vector<VssFileSpec> excludeFiles;
    int state = 1;  // VSS_WRITER_STATE before any session touches it
    HRESULT lastError = 0;
    // The phase in which the writer fails in every session ("PreRestore", "PostRestore",
    // ... as the fault names below), and with what; empty for none.
    std::string failsAt;
    HRESULT failsWith = 0x800423f4;  // VSS_E_WRITERERROR_NONRETRYABLE
    std::vector<VssComponentModel> components;
};

// Parses a "writers" section (the JSON array as text). False, with the first fault named
// in *error ("writers[3].components[0].type: unknown value \"folder\""), when it does not fit.
WINSIM_API bool ParseVssWriters(const std::string &json, std::vector<VssWriterModel> *writers,
                                std::string *error);
// The writers of the current host. A host without a "writers" section has none; a section
// that does not parse gives none, and GatherWriterMetadata then fails with VSS_E_UNEXPECTED.
WINSIM_API std::vector<VssWriterModel> HostVssWriters();

// What a requester asked for on a restore (and AddComponent on a backup), oldest first,
// from every backup-components object of the process.
struct VssRequest {
    std::string operation;  // the IVssBackupComponents method, e.g. "SetSelectedForRestore"
    GUID writerId = {};
    int componentType = 0;
    std::u16string logicalPath;
    std::u16string componentName;
    // Method-specific: SetRestoreOptions: text = the options. AddRestoreSubcomponent: text
    // = subcomponent logical path, text2 = its name, flag = repair.
    // AddAlternativeLocationMapping: text = path, text2 = filespec, text3 = destination,
    // flag = recursive. SetSelectedForRestore / SetAuthoritativeRestore /
    // SetBackupSucceeded / SetAdditionalRestores: flag. PreRestore / PostRestore / InitializeForRestore: nothing
    // but the operation.
    std::u16string text;
    std::u16string text2;
    std::u16string text3;
    bool flag = false;
};
WINSIM_API std::vector<VssRequest> VssRequests();
WINSIM_API void ClearVssRequests();

// The snapshots that exist, oldest first.
struct VssSnapshotInfo {
    GUID snapshotId = {};
    GUID snapshotSetId = {};
    std::u16string originalVolume;  // the volume GUID path, with its trailing backslash
    std::u16string device;          // \\?\GLOBALROOT\Device\HarddiskVolumeShadowCopyN
    LONG context = 0;
};
WINSIM_API std::vector<VssSnapshotInfo> VssSnapshots();

// Backup-components and writer-metadata objects not yet released.
WINSIM_API size_t LiveVssObjects();

} // namespace winsim
