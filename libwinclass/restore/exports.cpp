// The exported functions of the restore session. Each works on the process's one restore
// requester object.
#include <libwinclass/restore.h>

#include <libwinclass/restore/sysrestore.h>

#include <liblocal/local.h>

extern "C" {

struct vo_msg *vsscr_init_recover(const char *bcdPath)
{
    if (bcdPath == nullptr)
        return msg_create(115347, 53000, "Unable initialize VSS recovery: Invalid Parameters.\n");
    CVssSysReqRestore &requester = RestoreRequester();
    requester.bcdPath = tv_str(bcdPath, tv_str::TCS_CP_UTF8);
    return requester.Init();
}

struct vo_msg *vsscr_load_writer_xml(const char *path) { return RestoreRequester().LoadWriterXml(path); }

struct vo_msg *vsscr_pre_restore(void) { return RestoreRequester().PreRestore(); }

struct vo_msg *vsscr_post_restore(void) { return RestoreRequester().PostRestore(); }

struct vo_msg *vsscr_post_restore_writer_status(const char *writerName)
{
    return RestoreRequester().PostRestoreWriterStatus(writerName);
}

struct vo_msg *vsscr_set_restore_options(const char *, const char *, const char *) { return nullptr; }

void vsscr_uninit_recover(void) { RestoreRequester().UnInitRecover(); }

} // extern "C"
