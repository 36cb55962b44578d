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
    kExitWarnings = 4,       // the backup is complete, but the writers were not told, a
                             // snapshot set was not deleted or a CSV was not returned
};

struct BackupOptions {
    std::vector<std::string> paths;  // what to save: folders or files on the host
    std::string destination;         // a folder of the machine running the command
    bool force = false;              // write into a destination that is not empty
    int saveType = 3;                // 0-2 and 4 back up writers' save items; 3 the paths alone
    std::string writer;              // when not empty, this writer's save item alone
    bool archiveMark = false;        // the selection marks transacted-database files for archive
    bool dryRun = false;             // the plan only: no snapshot, nothing written
    // A snapshot that fails for a cause VSS calls transient (another snapshot set being
    // made, a writer's retryable error) is tried again this many times, after the wait.
    int retries = 3;
    int retryWaitSeconds = 600;
};

struct RestoreOptions {
    std::string folder;                   // what winclass backup --to wrote
    std::vector<std::string> components;  // WRITER\COMPONENT; empty: everything the backup holds
    bool authoritative = false;           // an authoritative restore of the selected writers
    std::string target;                   // a host folder (X:\Folder) instead of the original places
    bool dryRun = false;                  // the plan only: nothing selected, nothing written
};

struct CsvOptions {
    std::string action;  // list, move, maintenance, check
    std::string name;    // the CSV: its path, such as C:\ClusterStorage\Volume1
    std::string node;    // move: the target node
    std::string mode;    // maintenance: on or off
};

// The Cluster Shared Volumes a backup moved to this node, returned to their coordinators
// at its end whatever happened in between.
class CsvHold {
public:
    CsvHold() = default;
    CsvHold(const CsvHold &) = delete;
    CsvHold &operator=(const CsvHold &) = delete;
    // Those still held go home also when an out-of-memory error from the library unwinds
    // the backup before ReturnAll.
    ~CsvHold();
    // Moves the CSV holding volume (a volume root) here when it is one; false (with the
    // error said) when the move failed. A CSV whose coordinator was read is held even then.
    bool Take(const std::string &volume, Output &output);
    // Returns every held CSV; the lines (or warnings) and the document say where each is.
    // false when one stayed away from its coordinator.
    bool ReturnAll(Output &output);

private:
    struct Held {
        std::string name, coordinator;
    };
    std::vector<Held> held_;
};

struct SysinfoOptions {
    std::string to;  // a folder of the host for OSSR_Sysinfo.xml; empty: the library's scratch folder
};

struct WritersOptions {
    int saveType = -1;  // the save type to plan for; -1: classify only
};

struct DescribeOptions {
    std::string to;  // a file of the machine running the command; empty: standard output
    std::vector<std::string> files;  // host folders whose listings are described (--files)
    bool redact = false;             // names, addresses and serial numbers replaced (--redact)
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
// csv list|move NAME NODE|maintenance NAME on|off|check NAME.
int RunCsv(const CsvOptions &options, Output &output);
// The host's inventory for a bare-metal recovery, written by the library (OSSR_Sysinfo.xml)
// and read back.
int RunSysinfo(const SysinfoOptions &options, Output &output);
// The host description of this machine (docs/host-description.md), read through the calls
// the library makes; sections whose calls failed are left out and listed in captureNotes.
int RunDescribeHost(const DescribeOptions &options, Output &output);

} // namespace winclass
