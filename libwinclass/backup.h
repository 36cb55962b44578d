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
// message for the caller to print (msg_print_handle) and free (msg_free). One thread
// drives a session; the shadow-path tests may be called from any thread while it runs.
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
WINCLASS_API void vsscr_set_bbb_backup(void);
WINCLASS_API void vsscr_set_snapshot_save_type(int saveType);
WINCLASS_API struct vo_msg *vsscr_init_backup(int saveType, int markFilesForArchive);
WINCLASS_API struct vo_msg *vsscr_select_for_backup(void);
WINCLASS_API struct vo_msg *vsscr_backup_complete(void);
WINCLASS_API void vsscr_destroy_snapshot_set(void);
WINCLASS_API void vsscr_uninit_backup(void);
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
WINCLASS_API struct vo_msg *vsscr_add_savepath(const char *savePath);
WINCLASS_API struct vo_msg *vsscr_add_volume_EX(const WCHAR *volume, uint32_t flags);
WINCLASS_API struct vo_msg *vsscr_add_to_volume_table_EX(const WCHAR *volume, int mark, const WCHAR *unused,
                                                         uint32_t *alreadyPresent, uint32_t flags,
                                                         const WCHAR *shadowPath);
WINCLASS_API struct vo_msg *vsscr_process_snap(size_t size, WCHAR *documentPath, GUID *snapshotSetId);

// Shadow paths.
WINCLASS_API int vsscr_get_mapping(const WCHAR *path, WCHAR *volume, size_t volumeSize, WCHAR *shadow,
                                   size_t shadowSize, WCHAR *driveRoot, size_t driveRootSize);
WINCLASS_API int vsscr_get_shadowcopy_rootpath(const WCHAR *path, WCHAR *buffer, size_t size);
WINCLASS_API int vsscr_is_snapshot_path(const char *path);
WINCLASS_API int vsscr_is_snapshot_root(const char *path, char *buffer, size_t size);
WINCLASS_API int vsscr_is_snapshot_mountpoint_root(const char *path, char *buffer, size_t size);
WINCLASS_API void vsscr_translate_to_physical(const char *path, char *buffer, size_t size);
WINCLASS_API struct vo_msg *vsscr_get_snapshot_volume_list(struct vsscr_vol_entry **first);
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
