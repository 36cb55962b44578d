// A backup session over libwinclass's exported interface, in the order the client's save
// program drives it. Whatever happens, the snapshot set is deleted and the session reset
// when the object goes away.
#pragma once

#include "output.h"

#include <platform/tvplatform.h>

#include <cstdint>
#include <string>
#include <vector>

namespace winclass {

// The save type of a plain file-system backup: no writer is selected.
const int kFileSystemSaveType = 3;

struct VolumeInSet {
    std::string volume;     // root or mount folder, trailing backslash
    std::string guidName;   // \\?\Volume{guid}\ ; empty when not looked up
    std::string shadowPath; // shadow-copy device path, trailing backslash
    std::string driveRoot;  // X:\ when the volume has a drive letter too
    uint32_t flags = 0;
    bool marked = false;
};

struct Mapping {
    wstr volume;     // the live volume that holds the path
    wstr shadowRoot; // the same volume's shadow copy, trailing backslash
    wstr driveRoot;
    wstr shadowPath; // the path inside the shadow copy
};

class BackupSession {
public:
    explicit BackupSession(Output &output) : output_(output) {}
    ~BackupSession();
    BackupSession(const BackupSession &) = delete;
    BackupSession &operator=(const BackupSession &) = delete;

    // vsscr_init_backup and vsscr_select_for_backup.
    bool Start(int saveType);
    bool AddSavePath(const std::string &path);
    // vsscr_process_snap: the snapshot and its backup components document.
    bool TakeSnapshot();
    bool Volumes(std::vector<VolumeInSet> *volumes);
    // Where a live path reads from during the snapshot; false when its volume has no
    // shadow copy.
    bool Map(const wstr &livePath, Mapping *mapping) const;
    // vsscr_backup_complete, then the snapshot set is deleted.
    void Complete();

    const std::string &SnapshotSetId() const { return snapshotSetId_; }
    const std::string &DocumentPath() const { return documentPath_; }

private:
    Output &output_;
    bool started_ = false;
    std::string snapshotSetId_;
    std::string documentPath_;
};

// Drive-letter paths as the save program takes them: C:\Data, with '/' accepted.
wstr WindowsPath(const std::string &path);

} // namespace winclass
