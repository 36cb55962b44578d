// A backup session over libwinclass's exported interface, in the order the client's save
// program drives it. Whatever happens, the snapshot set is deleted and the session reset
// when the object goes away.
#pragma once

#include "output.h"

#include <platform/tvplatform.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace winclass {

// The save type of a plain file-system backup: no writer is selected.
const int kFileSystemSaveType = 3;

struct VolumeInSet {
    wstr volume;            // root or mount folder, trailing backslash
    std::string shown;      // the same, as UTF-8
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

// One decision of the session's library, as vsscr_get_decisions reports it.
struct Decision {
    int subject;  // vsscr_subject
    bool taken;
    std::string writer, component, volume, verdict, reason;
};

// The volumes a system-state or recovery backup reads, with the reason for each: the
// critical volumes, which are where the system-state writers' components live; when there
// are none, the system drive, which always holds the system state. Opens the session
// (save type 1) when none is open.
std::vector<std::pair<std::string, std::string>> SystemStateVolumes();

// The decisions made since the session began, in order; with subject non-zero, only
// those about that subject.
std::vector<Decision> ReadDecisions(int subject = 0);

// The host's NetBIOS name, as a backup records it; empty when it cannot be read.
std::string HostName();

// A VSS error that Microsoft documents as transient: another snapshot set being made,
// writes that could not be flushed or held in time, a writer's retryable, time-out or
// out-of-resources error. The same operation made again may succeed.
bool IsTransientVssError(long hr);

class BackupSession {
public:
    explicit BackupSession(Output &output) : output_(output) {}
    ~BackupSession();
    BackupSession(const BackupSession &) = delete;
    BackupSession &operator=(const BackupSession &) = delete;

    // vsscr_init_backup alone: the session, with no writer selected. With archiveMark the
    // selection gives the files of the transacted-database components it takes the
    // archive attribute.
    bool Open(int saveType, bool archiveMark = false);
    // vsscr_select_for_backup.
    bool Select();
    // Open, then Select.
    bool Start(int saveType);
    // vsscr_add_savepath, then a check that the path's volume joined the snapshot set:
    // the library leaves out a volume that cannot join, and says nothing.
    bool AddSavePath(const wstr &path, const wstr &volume);
    // vsscr_process_snap: the snapshot and its backup components document.
    bool TakeSnapshot();
    // The volumes of the set as they are now (replacing *volumes).
    bool Volumes(std::vector<VolumeInSet> *volumes);
    // Where a live path reads from during the snapshot; false when its volume has no
    // shadow copy.
    bool Map(const wstr &livePath, Mapping *mapping) const;
    // With succeeded, vsscr_backup_complete; then the snapshot set is deleted. A failure
    // of either is a warning (the copies stand); true when there was none.
    bool End(bool succeeded);

    // The session's last failed call ("DoSnapshot failed: 0x80042316 ...") when its error
    // is transient and it was adding a volume or taking the snapshot; empty otherwise.
    std::string TransientFailure() const;

    bool Snapshot() const { return snapshotTaken_; }
    const std::string &SnapshotSetId() const { return snapshotSetId_; }
    const wstr &DocumentPath() const { return documentPath_; }

private:
    // The cause behind a failed library step: the common requester's failing call, its
    // volume and HRESULT, when it was one of operations; empty otherwise.
    std::string LastFailure(std::initializer_list<const char *> operations) const;

    Output &output_;
    bool started_ = false;
    bool snapshotTaken_ = false;
    std::string snapshotSetId_;
    wstr documentPath_;
};

} // namespace winclass
