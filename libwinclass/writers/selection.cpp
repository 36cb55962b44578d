// Writer selection for the save types that vsscr_select_for_backup dispatches. Choosing
// writers and components comes with writer discovery; until then each selection chooses
// nothing and reports success.
#include <libwinclass/backup/sysreq.h>

struct vo_msg *CVssSysReqBackup::SelectForDisasterRecovery() { return nullptr; }

struct vo_msg *CVssSysReqBackup::SelectSystemState() { return nullptr; }

struct vo_msg *CVssSysReqBackup::SelectWriterByName(const tv_str &) { return nullptr; }
