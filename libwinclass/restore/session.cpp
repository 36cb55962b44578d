// The restore requester's session: the restore by copy opened on a saved backup
// components document, the writers' saved metadata, the pre- and post-restore events and
// a writer's state afterwards.
#include <libwinclass/restore/sysrestore.h>

#include <libwinclass/backup/errortext.h>
#include <libwinclass/backup/trace.h>

#include <liblocal/local.h>

using winclass::ErrorText;
using winclass::kCodeRestore;
using winclass::Wide;

namespace {

// This writer's metadata is loaded ahead of every other writer's in the recovery list.
const GUID kWriterRecoveredFirst = {0xafbab4a2, 0x367d, 0x4d15, {0xa5, 0x86, 0x71, 0xdb, 0xb1, 0x8f, 0x84, 0x85}};

} // namespace

struct vo_msg *winclass::UnknownWriter(const char *writerName)
{
    return msg_create(115354, kCodeRestore, "Unable to find %s in the writer recovery list.\n", VO_ARG_NAME, writerName);
}

std::shared_ptr<CVssCrWriter> CVssSysReqRestore::FindWriter(const char *writerName)
{
    std::shared_ptr<CVssCrWriter> writer;
    if (cr != nullptr && writerName != nullptr) {
        wstr name = Wide(tv_str(writerName, tv_str::TCS_CP_UTF8));
        cr->GetWriterByName(name, writer);
    }
    return writer;
}

CVssSysReqRestore::CVssSysReqRestore()
{
    bcdPath = tv_str(W(""));
    writerRecoveryList.clear();
}

CVssSysReqRestore::~CVssSysReqRestore() { writerRecoveryList.clear(); }

struct vo_msg *CVssSysReqRestore::Init()
{
    // Only a missing requester stops the restore here; the base's own message does not.
    msg_free(CVssSysReqBase::Init());
    if (cr == nullptr)
        return msg_create(113658, kCodeRestore, "VSS common requester is not initialized.\n");
    wstr path = Wide(bcdPath);
    if (path.empty())
        return msg_create(115351, kCodeRestore, "Backup components document path is not set.\n");
    const long result = cr->InitializeForRestore(path, VSS_RTYPE_BY_COPY);
    if (result != 0) {
        const ErrorText error(result);
        return msg_create(115350, kCodeRestore, "Unable to set VSS restore options: %s\n", VO_ARG_ERRTEXT,
                          error.text);
    }
    if (winclass::TraceSetup())
        debugprintf("CVssSysReqRestore::Init(): restore session opened on %s\n", bcdPath.get_utf8());
    return nullptr;
}

struct vo_msg *CVssSysReqRestore::LoadWriterXml(const char *path)
{
    if (path == nullptr)
        return msg_create(115348, kCodeRestore, "Unable load writer XML: Invalid Parameters.\n");
    if (cr == nullptr)
        return msg_create(113658, kCodeRestore, "VSS common requester is not initialized.\n");
    wstr widePath = Wide(tv_str(path, tv_str::TCS_CP_UTF8));
    std::shared_ptr<CVssCrWriter> writer;
    const long result = cr->LoadFromXML(widePath, writer, true);
    vo_msg *message = nullptr;
    if (result != 0) {
        const ErrorText error(result);
        message = msg_create(115352, kCodeRestore, "Unable to load %s writer xml file: %s\n", VO_ARG_PATH, path,
                             VO_ARG_ERRTEXT, error.text);
    }
    // A writer the requester built is the session's even when the call then failed.
    if (writer) {
        if (IsEqualGUID(writer->writerId, kWriterRecoveredFirst))
            writerRecoveryList.push_front(writer);
        else
            writerRecoveryList.push_back(writer);
    }
    return message;
}

// Before any session the common requester is not reached: it would answer that its
// session is not open, and so does this.
struct vo_msg *CVssSysReqRestore::PreRestore()
{
    const long result = cr != nullptr ? cr->PreRestore() : VSS_E_BAD_STATE;
    if (result == 0)
        return nullptr;
    const ErrorText error(result);
    return msg_create(113298, kCodeRestore, "Unable to generate VSS PreRestore event %s\n", VO_ARG_ERRTEXT, error.text);
}

struct vo_msg *CVssSysReqRestore::PostRestore()
{
    const long result = cr != nullptr ? cr->PostRestore() : VSS_E_BAD_STATE;
    if (result == 0)
        return nullptr;
    const ErrorText error(result);
    return msg_create(115374, kCodeRestore, "Unable to generate VSS Postrestore event %s\n", VO_ARG_ERRTEXT,
                      error.text);
}

struct vo_msg *CVssSysReqRestore::PostRestoreWriterStatus(const char *writerName)
{
    if (writerName == nullptr)
        return msg_create(115349, kCodeRestore, "Unable to get post restore writer status: Invalid Parameters.\n");
    std::shared_ptr<CVssCrWriter> writer = FindWriter(writerName);
    if (!writer)
        return winclass::UnknownWriter(writerName);
    // The state itself is the caller's business; only a failed query is reported.
    _VSS_WRITER_STATE state = VSS_WS_UNKNOWN;
    const long result = writer->GetStatus(&state, true);
    if (result < 0) {
        const ErrorText error(result);
        return msg_create(115375, kCodeRestore, "%s is not in a stable state:%s\n", VO_ARG_NAME, writerName,
                          VO_ARG_ERRTEXT, error.text);
    }
    return nullptr;
}

void CVssSysReqRestore::UnInitRecover()
{
    bcdPath = tv_str(W(""));
    writerRecoveryList.clear();
    UnInit();
    // The same unregistration that ends a backup: a backup in this process loses them too.
    set_shadow_callbacks(nullptr, nullptr, nullptr);
}
