// The restore requester: the session of a restore from a saved backup components
// document. The library holds one restore object with static storage (made after the
// backup object and the shadow-path registration, destroyed first); every exported
// restore function works on it.
#pragma once

#include <libwinclass/backup/errortext.h>
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
    // The session's writer of that name (UTF-8, any letter case); empty when it is
    // unknown or no session was ever opened.
    std::shared_ptr<CVssCrWriter> FindWriter(const char *writerName);
    // Ends the session: path and list cleared, requester and COM released, the
    // shadow-path callbacks unregistered.
    void UnInitRecover();
};

CVssSysReqRestore &RestoreRequester();

namespace winclass {

// Every message of the restore requester carries this code.
const int kCodeRestore = 53000;

inline wstr Wide(const tv_str &text)
{
    const WCHAR *wide = text;
    return wide != nullptr ? wstr(wide) : wstr();
}

// The error text of a failed call, for the message that reports it.
struct ErrorText {
    explicit ErrorText(long code) { CVssSysReqBase::GetErrorText(static_cast<uint32_t>(code), sizeof text, text); }
    char text[kErrorTextMinimum] = {};
};

// Message 115354, for a writer name the session does not know.
struct vo_msg *UnknownWriter(const char *writerName);

} // namespace winclass
