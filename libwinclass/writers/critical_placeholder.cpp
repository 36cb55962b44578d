// Stand-in for the critical-volume computation until it lands: answers the volumes of
// the snapshot map that are already marked critical, as the computation does once it has
// run. It computes nothing itself.
#include <libwinclass/backup/sysreq.h>

#include <libwinclass/backup.h>

#include <liblocal/local.h>

#include <string>

struct vo_msg *CVssSysReqBackup::GetCriticalVolumes(CriticalVolumeList &out)
{
    for (const std::shared_ptr<CVssVolSnapShotMap> &entry : volSnapMap) {
        if ((entry->flags & VOLSNAP_CRITICAL) != 0)
            out.push_back(entry);
    }
    return nullptr;
}

// The export over it, as the save program calls it: drive roots keep their backslash,
// mount folders lose it.
extern "C" int vsscr_get_dr_critical_volumes(struct vo_vallist **list)
{
    CVssSysReqBackup::CriticalVolumeList critical;
    msg_free(BackupRequester().GetCriticalVolumes(critical));
    for (const std::shared_ptr<CVssVolSnapShotMap> &entry : critical) {
        std::string text = entry->volume.get_utf8();
        if (text.size() > 260)
            text.resize(260);
        if (text.size() > 3 && text.back() == '\\')
            text.pop_back();
        vallist_add(list, text.c_str());
    }
    return 1;
}
