// libwinclass: the backup requester's exported interface, as the save program drives it.
//
//     vsscr_set_bbb_backup()                      optional, before init: block-based backup
//     vsscr_init_backup(saveType, markArchive)    COM, the common requester, the writer list
//     vsscr_select_for_backup()                   writers by save type
//     vsscr_add_savepath / vsscr_add_volume_EX / vsscr_add_to_volume_table_EX
//     vsscr_process_snap(...)                     the snapshot and its document
//     vsscr_get_mapping / vsscr_translate_to_physical / ...   while files are read
//     vsscr_backup_complete()
//     vsscr_destroy_snapshot_set()                or vsscr_uninit_backup()
//
// Every function that can fail returns a message handle: NULL for success, otherwise a
// message for the caller to print (msg_print_handle) and free (msg_free, both in
// liblocal/messages.h). One thread drives a session; the shadow-path tests may be called
// from any thread while it runs. The session is the process's one backup requester: a
// second vsscr_init_backup before the end of the first keeps the first.
//
// Messages of this interface (by number): 113658 the session is not started, or the
// common requester could not be made (COM, its log); 153921 the supported writer list
// could not be made; 113655 the requester could not start a backup; 134867 a volume could
// not join the volume snapshot map; 159673 the snapshot failed; 159674 the backup
// components document could not be written; 134870 / 134871 a bad argument or no memory
// for the volume list; the selection's 134869, 98265 and 98266 name the writer.
#pragma once

#include <libwinclass/winclassapi.h>

#include <stddef.h>
#include <stdint.h>

struct vo_msg;
struct vo_vallist;

#ifdef __cplusplus
extern "C" {
#endif

// One volume of the snapshot set, as handed out by vsscr_get_snapshot_volume_list.
// The layout is fixed (80 bytes); free the chain with vsscr_free_vol_list.
struct vsscr_vol_entry {
    struct vsscr_vol_entry *next;
    uint32_t marked;            // the caller marked the volume (0 or 1)
    uint32_t flags;             // why the volume is in the set (1 save path, 2 critical, 4 parent ...)
    WCHAR *volume;              // root or mount folder with a trailing backslash; NULL when empty
    char *volume_utf8;
    WCHAR *volume_guid_name;    // \\?\Volume{guid}\ ; NULL when not looked up
    WCHAR *shadow_path;         // shadow-copy device path with a trailing backslash; NULL before the snapshot
    char *shadow_path_utf8;
    WCHAR drive_root[4];        // X:\ when the volume also has a drive letter; zeros otherwise
    char drive_root_utf8[4];
    uint32_t padding;
    uint64_t reserved;
};

// Session.
// Before vsscr_init_backup: the next session is a block-based backup.
WINCLASS_API void vsscr_set_bbb_backup(void);
// Changes the save type of the open session (the selection and the snapshot read it).
WINCLASS_API void vsscr_set_snapshot_save_type(int saveType);
// Starts the backup session: COM, the common requester, its log, the supported writer
// list and the writers' metadata. saveType: 0 disaster recovery then system state, 1
// disaster recovery, 2 system state, 3 file system (no writer), 4 replicated folders.
// markFilesForArchive non-zero: the backup clears the files' archive bits. A call while a
// session is open changes nothing and returns NULL. NULL, or 113658, 153921, 113655
// (vsscr_get_last_failure names "InitializeForBackup").
WINCLASS_API struct vo_msg *vsscr_init_backup(int saveType, int markFilesForArchive);
// Selects the writers and components the save type takes (nothing for save type 3). NULL,
// or the selection's message naming the writer (134869; 98265 / 98266 for a writer the
// save type needs that the host lacks).
WINCLASS_API struct vo_msg *vsscr_select_for_backup(void);
// Tells the writers the backup is complete. Always NULL: a failure is kept for
// vsscr_get_last_failure ("BackupComplete").
WINCLASS_API struct vo_msg *vsscr_backup_complete(void);
// Deletes the snapshot set, unregisters the shadow-path callbacks and ends the session. A
// failed deletion is kept for vsscr_get_last_failure ("DeleteSnapshotSet").
WINCLASS_API void vsscr_destroy_snapshot_set(void);
// Ends the session (the requester deletes its snapshot set) and unregisters the
// shadow-path callbacks. Harmless without a session.
WINCLASS_API void vsscr_uninit_backup(void);
// Kept for callers of the older interface: does nothing (component records need no release).
WINCLASS_API void vsscr_free_writercomponent_struct(void *record);
// The last call of the common requester that failed since vsscr_init_backup (also one
// whose failure no message reports: a save path's volume left out of the set, the
// completion, the deletion of the snapshot set): its name and the volume it concerned,
// each cut to its buffer, and its HRESULT as the result; 0 and empty texts when none
// failed.
WINCLASS_API uint32_t vsscr_get_last_failure(char *operation, size_t operationSize, WCHAR *volume,
                                             size_t volumeSize);

// Writer policy and disaster recovery.
// 1 when the writers that the save type needs are present and supported, else 0.
WINCLASS_API int vsscr_is_save_supported(int saveType);
// Adds the critical volumes of a disaster-recovery backup to the caller's list (a drive
// root keeps its backslash, a mount folder loses it); always 1.
WINCLASS_API int vsscr_get_dr_critical_volumes(struct vo_vallist **list);
// The disk numbers of the volume's extents as "1,2" into buffer (size bytes); 1 when the
// extents were read. Removes one trailing backslash from guidPath in place.
WINCLASS_API int getDiskNumbersForVolume(char *guidPath, const char *name, char *buffer, size_t size);
// 1 when the volume may be a critical volume (not on Storage Spaces, a clustered disk or
// a Cluster Shared Volume).
WINCLASS_API int is_volume_allowed_as_critical(const char *path, const char *guid);
// 1 when the path names a volume by its device or volume GUID path.
WINCLASS_API int is_bcd_partition(const char *path);

// The snapshot set.
// Adds the volume of a save path (UTF-8) to the snapshot set and the volume snapshot map
// (flag 1), with the drive that holds it when the volume is mounted in a folder. A volume
// that VSS refuses is left out without a message: vsscr_get_last_failure names it
// ("AddVolToSnapset"), and vsscr_get_snapshot_volume_list does not list it. NULL (also for
// NULL or ""), 113658 without a session, 134867 when the map refuses the volume.
WINCLASS_API struct vo_msg *vsscr_add_savepath(const char *savePath);
// Adds a volume (root or mount folder, trailing backslash) to the volume snapshot map with
// the given flags, marked. NULL (also for NULL), 113658, 134867.
WINCLASS_API struct vo_msg *vsscr_add_volume_EX(const WCHAR *volume, uint32_t flags);
// Adds a volume to the map with its mark, flags and (possibly empty) shadow path;
// *alreadyPresent is 1 when it was there already. NULL (also when volume, alreadyPresent
// or shadowPath is NULL), 113658, 134867.
WINCLASS_API struct vo_msg *vsscr_add_to_volume_table_EX(const WCHAR *volume, int mark, const WCHAR *unused,
                                                         uint32_t *alreadyPresent, uint32_t flags,
                                                         const WCHAR *shadowPath);
// Takes the snapshot of the set (save type 0 selects the system state first), writes the
// backup components document into the library's per-process directory, and gives each
// volume of the map its shadow-copy device. Writes the document's path into documentPath
// (size units, cut to fit) and the snapshot set's ID into *snapshotSetId; the recover
// program opens the document with vsscr_init_recover. NULL, 113658, 159673 (the snapshot
// failed, or snapshotSetId is NULL), 159674 (the document could not be written, or
// documentPath is NULL or size below 2); vsscr_get_last_failure names the VSS call.
WINCLASS_API struct vo_msg *vsscr_process_snap(size_t size, WCHAR *documentPath, GUID *snapshotSetId);

// Shadow paths. Each lookup answers from one consistent view of the volume snapshot map;
// paths are compared without regard to ASCII case, and a shadow path is the device with
// its trailing backslash (\\?\GLOBALROOT\Device\HarddiskVolumeShadowCopyN\).
//
// The volume of a live path (its volume root or mount folder, with the backslash) into
// volume when the map holds it; its shadow path and drive root into shadow and driveRoot
// once it has a shadow copy (driveRoot may be NULL); each cut to its buffer's units. What
// is not found is left untouched (clear the buffers first). Always 0; the caller joins the
// shadow path and the rest of the live path.
WINCLASS_API int vsscr_get_mapping(const WCHAR *path, WCHAR *volume, size_t volumeSize, WCHAR *shadow,
                                   size_t shadowSize, WCHAR *driveRoot, size_t driveRootSize);
// 1 when the path lies inside a shadow path of the map: the device (the shadow path
// without its backslash) into buffer (size units, zero-filled first); else 0.
WINCLASS_API int vsscr_get_shadowcopy_rootpath(const WCHAR *path, WCHAR *buffer, size_t size);
// 1 when the path (UTF-8) lies inside a shadow path of the map, else 0 (also for NULL).
// A callback of the host runtime: called for every path, from any thread.
WINCLASS_API int vsscr_is_snapshot_path(const char *path);
// 1 when the path is a shadow path of the map itself: its live volume into buffer (size
// bytes, cut to fit); else 0 and the buffer untouched.
WINCLASS_API int vsscr_is_snapshot_root(const char *path, char *buffer, size_t size);
// 1 when the path is a shadow path of the map: into buffer, where the volume's mount
// folder lies inside the shadow copy of the drive that holds it (or the live mount folder
// when that drive has no shadow copy; a drive root's live root); else 0.
WINCLASS_API int vsscr_is_snapshot_mountpoint_root(const char *path, char *buffer, size_t size);
// A path inside a shadow path back to its live form: the volume followed by the rest of
// the path, into buffer (size bytes, cut to fit). A path in no shadow path leaves the
// buffer untouched. A callback of the host runtime, from any thread.
WINCLASS_API void vsscr_translate_to_physical(const char *path, char *buffer, size_t size);
// The volumes of the snapshot set (the volume snapshot map), in a new chain in *first
// (NULL when empty) that the caller frees with vsscr_free_vol_list. Starts a session
// when none is open. NULL, 134870 (first is NULL), 134871 (no memory; nothing is kept).
WINCLASS_API struct vo_msg *vsscr_get_snapshot_volume_list(struct vsscr_vol_entry **first);
// Frees a chain of vsscr_get_snapshot_volume_list with its texts; NULL is harmless.
WINCLASS_API void vsscr_free_vol_list(struct vsscr_vol_entry *first);

#ifdef __cplusplus
} // extern "C"
#endif

WINCLASS_LAYOUT(sizeof(struct vsscr_vol_entry) == 80, "vsscr_vol_entry is 80 bytes");
WINCLASS_LAYOUT(offsetof(struct vsscr_vol_entry, marked) == 8, "vsscr_vol_entry layout");
WINCLASS_LAYOUT(offsetof(struct vsscr_vol_entry, volume) == 16, "vsscr_vol_entry layout");
WINCLASS_LAYOUT(offsetof(struct vsscr_vol_entry, volume_utf8) == 24, "vsscr_vol_entry layout");
WINCLASS_LAYOUT(offsetof(struct vsscr_vol_entry, volume_guid_name) == 32, "vsscr_vol_entry layout");
WINCLASS_LAYOUT(offsetof(struct vsscr_vol_entry, shadow_path) == 40, "vsscr_vol_entry layout");
WINCLASS_LAYOUT(offsetof(struct vsscr_vol_entry, shadow_path_utf8) == 48, "vsscr_vol_entry layout");
WINCLASS_LAYOUT(offsetof(struct vsscr_vol_entry, drive_root) == 56, "vsscr_vol_entry layout");
WINCLASS_LAYOUT(offsetof(struct vsscr_vol_entry, drive_root_utf8) == 64, "vsscr_vol_entry layout");
WINCLASS_LAYOUT(offsetof(struct vsscr_vol_entry, reserved) == 72, "vsscr_vol_entry layout");
