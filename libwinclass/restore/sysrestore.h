// The restore requester: the session of a restore from a saved backup components
// document. The library holds one restore object with static storage (made after the
// backup object and the shadow-path registration, destroyed first); every exported
// restore function works on it.
#pragma once

#include <libwinclass/backup/sysreq.h>

class CVssSysReqRestore : public CVssSysReqBase {
public:
    CVssSysReqRestore();
    // The base set-up, then the common requester's restore session by copy on bcdPath.
    struct vo_msg *Init() override;
    ~CVssSysReqRestore() override;

    // One writer's saved metadata; the writer joins writerRecoveryList even when the
    // requester reports a failure after building it.
    struct vo_msg *LoadWriterXml(const char *path);
    struct vo_msg *PreRestore();
    struct vo_msg *PostRestore();
    struct vo_msg *PostRestoreWriterStatus(const char *writerName);
    // Ends the session: path and list cleared, requester and COM released, the
    // shadow-path callbacks unregistered.
    void UnInitRecover();
};

CVssSysReqRestore &RestoreRequester();
