// libwinclass: the restore requester's exported interface, as the recover program drives
// it, from one thread and in this order:
//
//     vsscr_init_recover(bcdPath)               the restore session on the saved document
//     vsscr_load_writer_xml(path)               once per saved writer metadata document
//     vsscr_get_writer_restore_method_info(...) how each writer wants to be restored
//     vsscr_get_comp_info(...)                  its components and their files
//     vsscr_add_snapcomponent_for_restore(...)  the whole writer or single components
//     vsscr_add_alternate_location(...)         files that go somewhere else
//     vsscr_pre_restore()
//     ... the caller restores the files ...
//     vsscr_post_restore()
//     vsscr_post_restore_writer_status(name)    for each writer restored
//     vsscr_uninit_recover()
//
// Paths and names are UTF-8. Every function that can fail returns a message handle: NULL
// for success, otherwise a message (code 53000) for the caller to print and free
// (msg_free). One restore session at a time per process.
#pragma once

#include <libwinclass/saveitems.h>
#include <libwinclass/winclassapi.h>

#include <vss.h>
#include <vswriter.h>

struct vo_msg;

#ifdef __cplusplus
extern "C" {
#endif

// One component of a writer, as vsscr_get_comp_info hands it out. The nodes, the
// component records and the three chains belong to the caller: release each chain with
// vsscr_free_filedesc_struct(0, ...); the nodes and records are the library's new'd
// objects and have no release of their own.
struct vsscr_compinfo {
    struct vsscr_writercomponent *component;    // index: 1-based position in the writer
    struct vsscr_filedesc *files;               // file-group files; may be NULL
    struct vsscr_filedesc *database_files;      // may be NULL
    struct vsscr_filedesc *database_log_files;  // may be NULL
    struct vsscr_compinfo *next;                // NULL on the last
};

// Opens the restore session on the backup components document that vsscr_process_snap
// wrote (UTF-8 path): COM, the common requester, a restore by copy. NULL, or 115347
// (NULL path), 113658 (no common requester), 115351 (empty path), 115350 (the requester
// refused the document; the message gives the system's text of its code).
WINCLASS_API struct vo_msg *vsscr_init_recover(const char *bcdPath);
// Loads one saved writer metadata document into the session. NULL, 115348 (NULL path),
// 113658 (no session), 115352 (the document does not load; path and reason). A writer
// that the requester rebuilt stays in the session even when the load reports a failure.
WINCLASS_API struct vo_msg *vsscr_load_writer_xml(const char *path);
// The PreRestore event to the writers of the selection. NULL, or 113298 with the VSS
// error's text (also without a session: VSS_E_BAD_STATE).
WINCLASS_API struct vo_msg *vsscr_pre_restore(void);
// The PostRestore event, after the files are written back. NULL, or 115374 with the VSS
// error's text (also without a session).
WINCLASS_API struct vo_msg *vsscr_post_restore(void);
// Fails only when the writer is unknown (115354) or its state cannot be read (115375; 115349
// for a NULL name); the state itself is not judged.
WINCLASS_API struct vo_msg *vsscr_post_restore_writer_status(const char *writerName);
// Restore options are set per component (see the component selection); this one is kept
// for callers of the older interface (writer, component, options): it ignores its
// arguments and returns NULL.
WINCLASS_API struct vo_msg *vsscr_set_restore_options(const char *writerName, const char *componentName,
                                                      const char *options);
// Ends the restore session and forgets the loaded writers. Also unregisters the
// shadow-path callbacks, as the end of a backup does.
WINCLASS_API void vsscr_uninit_recover(void);

// ---- components, restore methods and alternate locations ----

// The first node of the chain that vsscr_get_comp_info anchored in head.
static inline struct vsscr_compinfo *vsscr_compinfo_first(const struct vsscr_compinfo *head)
{
    return (struct vsscr_compinfo *)(void *)head->component;
}
// Every writer name is looked up among the writers of the session; an unknown one gives
// message 115354 unless a function says otherwise.

// The writer's restore method, service, user procedure, writer-restore and reboot flag.
// The texts are written (UTF-8, bounded by their sizes) only on success; the reboot flag
// (0 or 1) always.
WINCLASS_API struct vo_msg *vsscr_get_writer_restore_method_info(const char *writerName,
                                                                 VSS_RESTOREMETHOD_ENUM *method,
                                                                 size_t serviceSize, char *service,
                                                                 size_t userProcedureSize, char *userProcedure,
                                                                 VSS_WRITERRESTORE_ENUM *writerRestore,
                                                                 unsigned int *rebootRequired);
// The writer's usage type (VSS_USAGE_TYPE) into *usageType. NULL, 115346 / 115356 for bad
// arguments, 115354.
WINCLASS_API struct vo_msg *vsscr_get_writer_usage_type(const char *writerName, unsigned int *usageType);
// NULL for an unknown writer too, with *writerId untouched.
WINCLASS_API struct vo_msg *vsscr_get_writer_id(const char *writerName, GUID *writerId);
// Mode 0: the writer's exclude files as a restore-side chain. Other modes do nothing.
// Reports bad arguments only.
WINCLASS_API struct vo_msg *vsscr_get_writer_exclude_list(int mode, const char *writerName,
                                                          struct vsscr_filedesc **out);
// One node per component, in the writer's order. *head is only the anchor: it is cleared,
// then its first field holds the first node (read it with vsscr_compinfo_first), and
// each node's next the following one. On a failure part-way the nodes made so far stay
// chained and *componentCount keeps the full number. *method is changed only to
// VSS_RME_RESTORE_TO_ALTERNATE_LOCATION, when a component's restore target is alternate:
// pass in the method vsscr_get_writer_restore_method_info gave.
WINCLASS_API struct vo_msg *vsscr_get_comp_info(const char *writerName, unsigned int *componentCount,
                                                struct vsscr_compinfo *head, VSS_RESTOREMETHOD_ENUM *method);
// The writer's alternate location mappings as a restore-side chain (NULL when none).
WINCLASS_API struct vo_msg *vsscr_get_alternate_location_map(const char *writerName, struct vsscr_filedesc **out);
// wholeWriter non-zero: every component of the writer (component may be NULL); else the
// one component the record names. authoritative non-zero: an authoritative restore.
WINCLASS_API struct vo_msg *vsscr_add_snapcomponent_for_restore(const char *writerName,
                                                                struct vsscr_writercomponent *component,
                                                                int wholeWriter, int authoritative);
// Maps the first descriptor of the chain (path, filespec, recursive) to its alternate_path.
WINCLASS_API struct vo_msg *vsscr_add_alternate_location(const char *writerName,
                                                         struct vsscr_writercomponent *component,
                                                         struct vsscr_filedesc *descriptor);
// Kept for callers of the older interface: they ignore their arguments and return NULL.
WINCLASS_API struct vo_msg *vsscr_get_writer_restore_target(const char *writerName, const char *componentName,
                                                            void *target);
WINCLASS_API struct vo_msg *vsscr_get_comp_restore_metadata_flag(const char *writerName,
                                                                 const char *componentName, void *flag);

#ifdef __cplusplus
} // extern "C"
#endif
