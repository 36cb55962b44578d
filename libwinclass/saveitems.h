// libwinclass: save items, what the save program backs up for each writer.
//
//     sow_save_item *items = vsscr_get_writer_list(8);   after vsscr_select_for_backup
//     for each item: item->components, each with its files, database_files,
//                    database_log_files; item->exclude_list; item->metadata_path
//     sow_free_save_item(items, NULL);
//
// The layouts are fixed (64-bit Windows, natural alignment); the checks below hold on
// every platform the library builds for. Texts are NUL-terminated; a text that is absent
// is NULL. Lengths count 16-bit characters.
//
// Two builders make file-descriptor chains, and each chain goes back to the release of its
// builder:
//   - the save side (component file lists, exclude lists, the by-name list functions)
//     allocates with malloc (nodes zeroed, texts duplicated) and stores lengths without the
//     NUL; release with FreeFileDescList, or with the item or component that holds it;
//   - the restore side (the recover program's exclude and alternate-location lists)
//     allocates with the library's new[] and rewrites paths to forms the client can open;
//     lengths include the NUL; release with vsscr_free_filedesc_struct(0, chain).
// A chain released by the wrong release corrupts the heap.
#pragma once

#include <libwinclass/winclassapi.h>

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// One file specification of a writer: a folder, a file name or pattern, and where the
// files go on restore.
struct vsscr_filedesc {
    struct vsscr_filedesc *next;
    uint32_t recursive;          // 1: filespec also applies below path
    uint32_t has_alternate;      // 1: alternate_path is set
    size_t path_length;
    WCHAR *path;                 // folder
    size_t filespec_length;
    WCHAR *filespec;             // file name, or a pattern with * and ?
    size_t alternate_length;
    WCHAR *alternate_path;       // alternate location
};

// The walker's snapshot-backup routine: hands its four arguments to the host runtime's
// nt_do_snap_backup; 1 when that succeeded, else 0.
typedef int (*sow_backup_routine)(void *path, void *save, void *saveContext, void *item);
// The walker's information routine: stores 2 and 47 into the two values; returns 0.
typedef int (*sow_info_routine)(void *unused, uint32_t *first, uint32_t *second);

// The record that the recover program gets for one component of a writer.
struct vsscr_writercomponent {
    uint32_t kind;                  // 2
    uint32_t reserved_4;
    WCHAR *name;                    // NULL when empty
    size_t name_length;             // with the NUL
    WCHAR *caption;                 // NULL when empty
    size_t caption_length;
    WCHAR *logical_path;            // NULL when empty
    size_t logical_path_length;
    uint64_t reserved_56;
    uint32_t reserved_64;
    uint32_t bcd_flag;              // the component cannot be selected on its own (0 or 1)
    uint32_t restore_subcomponent;  // a restore subcomponent of a backed-up component (0 or 1)
    uint32_t reserved_76;
    uint32_t component_type;        // VSS_COMPONENT_TYPE
    uint32_t index;                 // 1-based position among the writer's components
    uint32_t component_flags;       // VSS_COMPONENT_FLAGS
    uint32_t reserved_92;
};

// One component of a save item.
struct sow_component {
    struct sow_component *next;
    uint64_t reserved_8;
    void *walker_state;             // the save walker's; cleared on release
    struct vsscr_writercomponent *component_record;  // NULL from this library
    uint64_t reserved_32;
    char *logical_path;             // UTF-8
    char *name;                     // UTF-8; the key of the by-name list functions
    char *caption;                  // UTF-8; the name when the writer gives no caption
    uint32_t reserved_64;
    uint32_t one_68;                // 1
    uint64_t reserved_72;
    uint64_t two_80;                // 2
    WCHAR *writer_name;             // the owning writer
    uint64_t reserved_96[2];
    uint32_t bcd_flag;              // the component cannot be selected on its own (0 or 1)
    uint32_t reserved_116;
    struct vsscr_filedesc *files;
    struct vsscr_filedesc *database_files;
    struct vsscr_filedesc *database_log_files;
    uint64_t reserved_144[2];
    sow_backup_routine backup_routine;
    sow_info_routine info_routine;
};

// One writer's save item.
struct sow_save_item {
    struct sow_save_item *next;
    struct sow_component *components;
    uint64_t reserved_16;
    void *walker_state;             // the save walker's; cleared on release
    char *name;                     // UTF-8 (on Windows Server 2008 the SQL writer is
                                    // "Windows Internal Database")
    char *display_name;             // the same text, a separate copy
    uint32_t reserved_48;
    uint32_t reserved_52;
    uint64_t reserved_56;
    uint32_t keep_exclude_list;     // 0: releasing the item releases exclude_list too
    uint32_t one_68;                // 1
    uint32_t reserved_72;
    uint32_t component_count;
    uint32_t reserved_80;
    uint32_t reserved_84;
    WCHAR *writer_name;
    char *metadata_path;            // UTF-8: the writer's saved metadata document
    struct vsscr_filedesc *exclude_list;
    uint64_t reserved_112[3];
    sow_backup_routine backup_routine;
    uint64_t reserved_144;
    sow_info_routine info_routine;
};

// The save items of one writer list, after the selection of a backup session:
//   3  the user-data writers, their components of backup class 0
//   4  the unsupported writers, all their components
//   8  the system-state writers, their components of backup class 1
// NULL for another list type, an empty list, or when one writer's item cannot be made
// (all or none). Release with sow_free_save_item.
WINCLASS_API struct sow_save_item *vsscr_get_writer_list(int listType);

// A component's file-group, database and log-file specifications, and a writer's exclude
// files, as save-side chains (release with FreeFileDescList). *out is NULL when the writer
// or the component is not known. Always 0; nothing is written with a NULL argument.
WINCLASS_API int vsscr_get_comp_file_group_list(const WCHAR *writerName, struct sow_component *component,
                                                struct vsscr_filedesc **out);
WINCLASS_API int vsscr_get_comp_database_list(const WCHAR *writerName, struct sow_component *component,
                                              struct vsscr_filedesc **out);
WINCLASS_API int vsscr_get_comp_db_logfile_group_list(const WCHAR *writerName, struct sow_component *component,
                                                      struct vsscr_filedesc **out);
WINCLASS_API int vsscr_get_exclude_list(const WCHAR *writerName, struct vsscr_filedesc **out);
// Writes the writer's metadata document to path; always 0 (a failure is in the log).
WINCLASS_API int vsscr_save_writer_to_xml(const WCHAR *writerName, void *unused, const WCHAR *path);

// New zero-filled records with their routines set; NULL when memory runs out.
WINCLASS_API struct sow_save_item *sow_init_walker_item(void);
WINCLASS_API struct sow_component *sow_init_component(void);
// Release a chain and everything it holds; 0, or -1 when a release down the chain failed.
WINCLASS_API int sow_free_save_item(struct sow_save_item *first, void *unused);
WINCLASS_API int sow_free_save_components(struct sow_component *first, void *unused);
// Release a restore-side chain (kind 0); any other kind leaves the chain alone.
WINCLASS_API void vsscr_free_filedesc_struct(int kind, struct vsscr_filedesc *first);
// Release a save-side chain.
WINCLASS_API void FreeFileDescList(struct vsscr_filedesc *first);

#ifdef __cplusplus
}
#endif

WINCLASS_LAYOUT(sizeof(struct vsscr_filedesc) == 64, "vsscr_filedesc is 64 bytes");
WINCLASS_LAYOUT(offsetof(struct vsscr_filedesc, recursive) == 8, "vsscr_filedesc layout");
WINCLASS_LAYOUT(offsetof(struct vsscr_filedesc, has_alternate) == 12, "vsscr_filedesc layout");
WINCLASS_LAYOUT(offsetof(struct vsscr_filedesc, path_length) == 16, "vsscr_filedesc layout");
WINCLASS_LAYOUT(offsetof(struct vsscr_filedesc, path) == 24, "vsscr_filedesc layout");
WINCLASS_LAYOUT(offsetof(struct vsscr_filedesc, filespec_length) == 32, "vsscr_filedesc layout");
WINCLASS_LAYOUT(offsetof(struct vsscr_filedesc, filespec) == 40, "vsscr_filedesc layout");
WINCLASS_LAYOUT(offsetof(struct vsscr_filedesc, alternate_length) == 48, "vsscr_filedesc layout");
WINCLASS_LAYOUT(offsetof(struct vsscr_filedesc, alternate_path) == 56, "vsscr_filedesc layout");

WINCLASS_LAYOUT(sizeof(struct vsscr_writercomponent) == 96, "vsscr_writercomponent is 96 bytes");
WINCLASS_LAYOUT(offsetof(struct vsscr_writercomponent, name) == 8, "vsscr_writercomponent layout");
WINCLASS_LAYOUT(offsetof(struct vsscr_writercomponent, name_length) == 16, "vsscr_writercomponent layout");
WINCLASS_LAYOUT(offsetof(struct vsscr_writercomponent, caption) == 24, "vsscr_writercomponent layout");
WINCLASS_LAYOUT(offsetof(struct vsscr_writercomponent, caption_length) == 32, "vsscr_writercomponent layout");
WINCLASS_LAYOUT(offsetof(struct vsscr_writercomponent, logical_path) == 40, "vsscr_writercomponent layout");
WINCLASS_LAYOUT(offsetof(struct vsscr_writercomponent, logical_path_length) == 48, "vsscr_writercomponent layout");
WINCLASS_LAYOUT(offsetof(struct vsscr_writercomponent, bcd_flag) == 68, "vsscr_writercomponent layout");
WINCLASS_LAYOUT(offsetof(struct vsscr_writercomponent, restore_subcomponent) == 72, "vsscr_writercomponent layout");
WINCLASS_LAYOUT(offsetof(struct vsscr_writercomponent, component_type) == 80, "vsscr_writercomponent layout");
WINCLASS_LAYOUT(offsetof(struct vsscr_writercomponent, index) == 84, "vsscr_writercomponent layout");
WINCLASS_LAYOUT(offsetof(struct vsscr_writercomponent, component_flags) == 88, "vsscr_writercomponent layout");

WINCLASS_LAYOUT(sizeof(struct sow_component) == 176, "sow_component is 176 bytes");
WINCLASS_LAYOUT(offsetof(struct sow_component, walker_state) == 16, "sow_component layout");
WINCLASS_LAYOUT(offsetof(struct sow_component, component_record) == 24, "sow_component layout");
WINCLASS_LAYOUT(offsetof(struct sow_component, logical_path) == 40, "sow_component layout");
WINCLASS_LAYOUT(offsetof(struct sow_component, name) == 48, "sow_component layout");
WINCLASS_LAYOUT(offsetof(struct sow_component, caption) == 56, "sow_component layout");
WINCLASS_LAYOUT(offsetof(struct sow_component, one_68) == 68, "sow_component layout");
WINCLASS_LAYOUT(offsetof(struct sow_component, two_80) == 80, "sow_component layout");
WINCLASS_LAYOUT(offsetof(struct sow_component, writer_name) == 88, "sow_component layout");
WINCLASS_LAYOUT(offsetof(struct sow_component, bcd_flag) == 112, "sow_component layout");
WINCLASS_LAYOUT(offsetof(struct sow_component, files) == 120, "sow_component layout");
WINCLASS_LAYOUT(offsetof(struct sow_component, database_files) == 128, "sow_component layout");
WINCLASS_LAYOUT(offsetof(struct sow_component, database_log_files) == 136, "sow_component layout");
WINCLASS_LAYOUT(offsetof(struct sow_component, backup_routine) == 160, "sow_component layout");
WINCLASS_LAYOUT(offsetof(struct sow_component, info_routine) == 168, "sow_component layout");

WINCLASS_LAYOUT(sizeof(struct sow_save_item) == 160, "sow_save_item is 160 bytes");
WINCLASS_LAYOUT(offsetof(struct sow_save_item, components) == 8, "sow_save_item layout");
WINCLASS_LAYOUT(offsetof(struct sow_save_item, walker_state) == 24, "sow_save_item layout");
WINCLASS_LAYOUT(offsetof(struct sow_save_item, name) == 32, "sow_save_item layout");
WINCLASS_LAYOUT(offsetof(struct sow_save_item, display_name) == 40, "sow_save_item layout");
WINCLASS_LAYOUT(offsetof(struct sow_save_item, keep_exclude_list) == 64, "sow_save_item layout");
WINCLASS_LAYOUT(offsetof(struct sow_save_item, one_68) == 68, "sow_save_item layout");
WINCLASS_LAYOUT(offsetof(struct sow_save_item, component_count) == 76, "sow_save_item layout");
WINCLASS_LAYOUT(offsetof(struct sow_save_item, writer_name) == 88, "sow_save_item layout");
WINCLASS_LAYOUT(offsetof(struct sow_save_item, metadata_path) == 96, "sow_save_item layout");
WINCLASS_LAYOUT(offsetof(struct sow_save_item, exclude_list) == 104, "sow_save_item layout");
WINCLASS_LAYOUT(offsetof(struct sow_save_item, backup_routine) == 136, "sow_save_item layout");
WINCLASS_LAYOUT(offsetof(struct sow_save_item, info_routine) == 152, "sow_save_item layout");
