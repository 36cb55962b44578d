// The subcommands of winclass. Each returns the process exit code (below).
#pragma once

#include "output.h"

#include <string>
#include <vector>

namespace winclass {

// Exit codes, as --help and the README list them.
enum ExitCode {
    kExitSuccess = 0,
    kExitStepFailed = 1,     // a step failed: VSS, reading the shadow copy, writing the copies;
                             // a restored writer that is not stable
    kExitBadInput = 2,       // the command line, a path, the destination or the backup folder
                             // is wrong
    kExitHostNotLoaded = 3,  // the host description (--host, WINSIM_HOST) does not load
    kExitWarnings = 4,       // the backup is complete, but the writers were not told or a
                             // snapshot set was not deleted
};

struct BackupOptions {
    std::vector<std::string> paths;  // what to save: folders or files on the host
    std::string destination;         // a folder of the machine running the command
    bool force = false;              // write into a destination that is not empty
    int saveType = 3;                // 0-2 and 4 back up writers' save items; 3 the paths alone
    std::string writer;              // when not empty, this writer's save item alone
    bool archiveMark = false;        // the selection marks transacted-database files for archive
    bool dryRun = false;             // the plan only: no snapshot, nothing written
};

struct RestoreOptions {
    std::string folder;                   // what winclass backup --to wrote
    std::vector<std::string> components;  // WRITER\COMPONENT; empty: everything the backup holds
    bool authoritative = false;           // an authoritative restore of the selected writers
    std::string target;                   // a host folder (X:\Folder) instead of the original places
    bool dryRun = false;                  // the plan only: nothing selected, nothing written
};

struct WritersOptions {
    int saveType = -1;  // the save type to plan for; -1: classify only
};

int RunBackup(const BackupOptions &options, Output &output);
// Puts a backup back: the folder checked, the library's restore session, the files
// written, the writers' states read.
int RunRestore(const RestoreOptions &options, Output &output);
int RunMap(const std::string &path, Output &output);
int RunVolumes(Output &output);
int RunWriters(const WritersOptions &options, Output &output);
// The critical volumes of a disaster-recovery backup, with their reasons; no snapshot.
int RunCriticalVolumes(Output &output);

} // namespace winclass
