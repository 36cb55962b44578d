// Operating-system, firmware, volume and cluster tests of the runtime, and the table of
// mounted file systems.
//
// DECLARED ONLY: these arrive with the simulated host model, which gives them something
// true to answer from. They are not defined yet, so a program that calls one does not
// link; none of them may be given a stand-in answer meanwhile.
#pragma once

#include <liblocal/localapi.h>

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Operating-system generations: 1 when the host runs Windows Server 2008 (6.0/6.1 server);
// Windows 8 or later client; Windows Server 2012 or later. Else 0.
LOCAL_API int is_win2008_os(void);
LOCAL_API int is_win8_client_os(void);
LOCAL_API int is_win8_server_os(void);

// 1 when the host boots from UEFI firmware, else 0.
LOCAL_API int is_efi_system(void);

// One mounted file system: the volume device (its GUID path "\\?\Volume{...}\") and the
// directory it is mounted at ("C:" for a drive letter, "C:\mnt\data" for a mount folder).
typedef struct vo_fstab_entry {
    struct vo_fstab_entry *next;
    char *device;    // UTF-8
    char *mountdir;  // UTF-8
    char *fstype;    // "NTFS", "ReFS", "CSVFS", ...
} vo_fstab_entry;

// The table of mounted file systems, drive letters first, as a new list the caller frees
// with vo_free_fstab. NULL when the table cannot be read (the last error says why).
LOCAL_API vo_fstab_entry *getfstab(void);
LOCAL_API void vo_free_fstab(vo_fstab_entry *table);

// 1 when the path (UTF-8) is a volume mount point (a mount folder or a drive root), else 0.
LOCAL_API int is_mount_point(const char *path);

// 1 when the file system of the volume holding path is named type ("NTFS", "CSVFS"),
// compared without regard to case; else 0.
LOCAL_API int isfilesystemtype(const char *path, const char *type);

// 1 when the volume is a disk of the failover cluster; 1 when this host is a cluster node.
LOCAL_API int clu_is_cluster_disk(const char *volume);
LOCAL_API int clu_is_cluster_host(void);

// The path with the letter case found on disk, in buffer (bounded by size). 1 on success,
// 0 when the path does not exist or does not fit.
LOCAL_API int vo_correct_path_case(const char *path, char *buffer, size_t size);

#ifdef __cplusplus
}
#endif
