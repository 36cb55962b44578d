// libwinclass: the restore requester's exported interface, as the recover program drives
// it, from one thread and in this order:
//
//     vsscr_init_recover(bcdPath)               the restore session on the saved document
//     vsscr_load_writer_xml(path)               once per saved writer metadata document
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

#include <libwinclass/winclassapi.h>

struct vo_msg;

extern "C" {

WINCLASS_API struct vo_msg *vsscr_init_recover(const char *bcdPath);
// A writer that the requester rebuilt stays in the session even when the load reports a
// failure.
WINCLASS_API struct vo_msg *vsscr_load_writer_xml(const char *path);
WINCLASS_API struct vo_msg *vsscr_pre_restore(void);
WINCLASS_API struct vo_msg *vsscr_post_restore(void);
// Fails only when the writer is unknown or its state cannot be read; the state itself is
// not judged.
WINCLASS_API struct vo_msg *vsscr_post_restore_writer_status(const char *writerName);
// Restore options are set per component (see the component selection); this one is kept
// for callers of the older interface (writer, component, options): it ignores its
// arguments and returns NULL.
WINCLASS_API struct vo_msg *vsscr_set_restore_options(const char *writerName, const char *componentName,
                                                      const char *options);
// Also unregisters the shadow-path callbacks, as the end of a backup does.
WINCLASS_API void vsscr_uninit_recover(void);

} // extern "C"
