// Snapshot (shadow copy) paths. The library that takes the snapshots registers three
// functions with the runtime; the runtime's path code asks them whether a path lies in a
// snapshot and what its live form is. Every path here is UTF-8.
#pragma once

#include <liblocal/localapi.h>

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// 1 when the path lies in a snapshot, else 0.
typedef int (*vo_snapshot_path_test)(const char *path);

// 1 when the path is the root of a snapshot, else 0. When buffer and size are given, a
// hit writes a live form of the path into them: the live volume for the root test, the
// mount-point form for the mount-point root test.
typedef int (*vo_snapshot_root_test)(const char *path, char *buffer, size_t size);

// Registers the path test, the root test and the mount-point root test, in that order.
// Three NULLs clear them (as does any NULL: the three are kept only together).
LOCAL_API void set_shadow_callbacks(vo_snapshot_path_test path_test, vo_snapshot_root_test root_test,
                                    vo_snapshot_root_test mountpoint_root_test);

// The registered tests, each answering 0 when nothing is registered or for a NULL path.
LOCAL_API int vo_is_snapshot_path(const char *path);
LOCAL_API int vo_is_snapshot_root(const char *path, char *buffer, size_t size);
LOCAL_API int vo_is_snapshot_mountpoint_root(const char *path, char *buffer, size_t size);

// The live form of a path in a snapshot: the live volume of the snapshot root the path
// starts with (found by asking the root test about each leading part of the path that
// ends in a backslash, shortest first), followed by the rest of the path. Returns 1 and
// writes the live path into buffer (bounded by size, always terminated) when the path is
// in a snapshot; 0 otherwise, or when the live path does not fit, with buffer untouched.
LOCAL_API int vo_snapshot_to_live(const char *path, char *buffer, size_t size);

// What nt_do_snap_backup hands to the save program for the path it backs up: the path to
// read (in the snapshot), its live form (for the save program's records), and the file's
// Windows attributes. A non-zero result means the save program saved it.
typedef int (*vo_snap_save)(void *save_context, void *item, const char *read_path,
                            const char *live_path, unsigned int attributes);

// Backs up one path from a snapshot: the save routine of the save items and components
// ends here. `path` is a path in a snapshot (as the save program's walker meets it); it is
// checked with the registered path test, turned into its live form (vo_snapshot_to_live),
// and its attributes are read; then save(save_context, item, path, live, attributes) is
// called. `item` is the save item or component the save program works on, passed through
// untouched. Returns 1 when save returned non-zero, else 0 with the last error set: a NULL
// path or save routine gives ERROR_INVALID_PARAMETER, a path in no registered snapshot
// (or no snapshot registered) ERROR_PATH_NOT_FOUND, a path that cannot be read the code of
// GetFileAttributesW; a save routine that fails leaves the last error to it.
LOCAL_API int nt_do_snap_backup(const char *path, vo_snap_save save, void *save_context, void *item);

#ifdef __cplusplus
}
#endif
