// The requester classes' set-up and teardown, and the process's requester objects.
#include <libwinclass/backup/sysreq.h>

#include <libwinclass/backup.h>
#include <libwinclass/backup/errortext.h>
#include <libwinclass/backup/trace.h>
#include <libwinclass/restore/sysrestore.h>
#include <libwinclass/writers/promote.h>
#include <libwinclass/writers/supported.h>

#include <liblocal/local.h>

#include <objbase.h>

#include <cstdlib>

using winclass::TraceDetail;
using winclass::TraceSetup;

namespace {

// The writers whose components join the system state, and how.
const GUID kWriterDefaultPromotedA = {0xdd846aaa, 0xa1b6, 0x42a8, {0xaa, 0xf8, 0x03, 0xdc, 0xb6, 0x11, 0x4b, 0xfd}};
const GUID kWriterDefaultPromotedB = {0x7e47b561, 0x971a, 0x46e6, {0x96, 0xb9, 0x69, 0x6e, 0xea, 0xa5, 0x3b, 0x2a}};
const GUID kWriterDefaultPromotedC = {0x8d5194e1, 0xe455, 0x434a, {0xb2, 0xe5, 0x51, 0x29, 0x6c, 0xce, 0x67, 0xdf}};
const GUID kWriterVirtualizationHost = {0x66841cd4, 0x6ded, 0x4f4b, {0x8f, 0x17, 0xfd, 0x23, 0xf8, 0xdd, 0xc3, 0xde}};
const GUID kWriterDatabase = {0xa65faa63, 0x5ea8, 0x4ebc, {0x9d, 0xbd, 0xa0, 0xc4, 0xdb, 0x26, 0x91, 0x2a}};

const int kCodeSetup = 53000;

struct MallocFree {
    void operator()(void *block) const { free(block); }
};

} // namespace

// ---- CVssSysReqBase ----

CVssSysReqBase::CVssSysReqBase() : comInitialized(false), securityInitialized(false), cr(nullptr) {}

CVssSysReqBase::~CVssSysReqBase()
{
    if (comInitialized) {
        CoUninitialize();
        comInitialized = false;
    }
}

struct vo_msg *CVssSysReqBase::Init()
{
    // COM and process security once; after that the requester object stays known, also
    // across a Reset, and a new session starts at the log.
    if (cr == nullptr) {
        const HRESULT comResult = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (comResult != S_OK && comResult != S_FALSE)
            return msg_create(157592, kCodeSetup, "Unable to initialize COM library for VSS requester\n");
        if (TraceSetup())
            debugprintf("VSS .. COM library initialized.");
        comInitialized = true;

        const HRESULT securityResult =
            CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_CONNECT,
                                 RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_STATIC_CLOAKING, nullptr);
        // RPC_E_TOO_LATE: the host program set the process's security first; that stands.
        if (FAILED(securityResult) && securityResult != RPC_E_TOO_LATE)
            return msg_create(157593, kCodeSetup,
                              "Unable to set the default security values while initalizing VSS requester.\n");
        if (TraceSetup())
            debugprintf("VSS .. CoInitializeSecurity succeeded .. \n");
        securityInitialized = true;

        cr = CVssCr::Instance();
    }
    if (cr == nullptr)
        return msg_create(113658, kCodeSetup, "VSS common requester is not initialized.\n");

    std::unique_ptr<char, MallocFree> logPathUtf8(path_concat(vo_get_logsdir(), "vsscr.log"));
    const tv_str logPath(logPathUtf8.get(), tv_str::TCS_CP_UTF8);
    wstr logPathWide = static_cast<const WCHAR *>(logPath) != nullptr ? wstr(logPath) : wstr();
    if (!cr->InitLogging(Debug > 0, static_cast<unsigned int>(Debug), &logPathWide[0], false))
        return msg_create(113657, kCodeSetup, "Unable to initialize logging for VSS common requester.\n");
    cr->loggingReady = 1;
    return nullptr;
}

// ---- CVssSysReqBackup ----

CVssSysReqBackup::CVssSysReqBackup()
{
    promotePolicies.push_back(new CPromoteDefaultUserDataWriter(kWriterDefaultPromotedA));
    promotePolicies.push_back(new CPromoteDefaultUserDataWriter(kWriterDefaultPromotedB));
    promotePolicies.push_back(new CPromoteDefaultUserDataWriter(kWriterDefaultPromotedC));
    promotePolicies.push_back(new CPromoteUserHyperVWriter(kWriterVirtualizationHost));
    promotePolicies.push_back(new CPromoteUserSQLWriter(kWriterDatabase));
    bbbBackup = false;
    initialized = false;
    criticalVolumesDone = false;
    systemStateWritersFilled = false;
    userDataWritersFilled = false;
    unsupportedWritersFilled = false;
    supportedWriters = nullptr;
    // saveType and markFilesForArchive are left as they are: the process's object has
    // static storage and starts with both at zero.
}

CVssSysReqBackup::~CVssSysReqBackup()
{
    for (CPromoteUserDataWriter *policy : promotePolicies)
        delete policy;
    promotePolicies.clear();
    if (supportedWriters != nullptr) {
        vo_list_destroy(supportedWriters);
        supportedWriters = nullptr;
    }
}

struct vo_msg *CVssSysReqBackup::Init(int newSaveType, int newMarkFilesForArchive, const tv_str &writerName)
{
    if (initialized)
        return nullptr;
    // A new session: what an earlier one failed at or decided is no longer the story.
    lastFailure = FailedCall();
    decisions.clear();

    // The base's own message is not the caller's: only a missing requester fails here.
    msg_free(CVssSysReqBase::Init());
    if (cr == nullptr)
        return msg_create(113658, kCodeSetup, "VSS common requester is not initialized.\n");

    if (!PopulateSupportedWriterList())
        return msg_create(153921, kCodeSetup, "Unable to Populate Windows VSS supported writer list\n");
    if (TraceSetup())
        debugprintf("CVssSysReqBackup::Init(): Successfully updated writer list.\n");

    const _VSS_SNAPSHOT_CONTEXT context = bbbBackup ? VSS_CTX_APP_ROLLBACK : VSS_CTX_BACKUP;
    if (TraceDetail())
        debugprintf(bbbBackup ? "VSS .. Setting context to VSS_CTX_APP_ROLLBACK .. "
                              : "VSS .. Setting context to VSS_CTX_BACKUP .. ");

    const WCHAR *name = writerName;
    const wstr writerNameWide = name != nullptr ? wstr(name) : wstr();
    if (Checked("InitializeForBackup",
                cr->InitializeForBackup(VSSCR_OPERATION_DEFAULT, writerNameWide, true, true, VSS_BT_FULL, context,
                                        false, false)) != 0)
        return msg_create(113655, kCodeSetup, "Unable to initialize VSS common requester for backup.\n");

    saveType = newSaveType;
    markFilesForArchive = newMarkFilesForArchive;
    initialized = true;
    return nullptr;
}

void CVssSysReqBase::UnInit()
{
    if (cr != nullptr)
        cr->UnInitialize();
    if (comInitialized) {
        CoUninitialize();
        comInitialized = false;
    }
}

void CVssSysReqBackup::Reset()
{
    // The policies go for good: no writer is promoted again in this process.
    for (CPromoteUserDataWriter *policy : promotePolicies)
        delete policy;
    promotePolicies.clear();
    volSnapMap.clear();
    volSnapIndex.clear();
    volSnapFirstOfLength.clear();
    PublishVolSnapMap();
    systemStateWriters.clear();
    userDataWriters.clear();
    unsupportedWriters.clear();
    bbbBackup = false;
    initialized = false;
    criticalVolumesDone = false;
    systemStateWritersFilled = false;
    userDataWritersFilled = false;
    unsupportedWritersFilled = false;
    UnInit();
}

long CVssSysReqBackup::Checked(const char *operation, long result, const wstr &volume)
{
    if (result < 0) {
        lastFailure.operation = operation;
        lastFailure.result = result;
        lastFailure.volume = volume;
    }
    return result;
}

void CVssSysReqBase::GetErrorText(uint32_t code, size_t size, char *buffer)
{
    winclass::FormatErrorText(code, size, buffer);
}

bool CVssSysReqBackup::PopulateSupportedWriterList() { return winclass::PopulateSupportedWriters(&supportedWriters); }

bool CVssSysReqBackup::PopulateUserSupportedWriterList(const char *path)
{
    return winclass::PopulateUserSupportedWriters(supportedWriters, path);
}

void CVssSysReqBackup::PopulateDefaultSupportedWriterList()
{
    winclass::PopulateDefaultSupportedWriters(supportedWriters);
}

bool CVssSysReqBackup::IsWriterSupported(const char *writerId)
{
    return winclass::IsWriterInSupportedList(supportedWriters, writerId);
}

// ---- the process's objects ----
// Made at load in this order and destroyed at unload in the reverse: the backup object,
// the shadow-path tests registered with the runtime, the restore object.

namespace {

class ShadowCallbackRegistration {
public:
    ShadowCallbackRegistration()
    {
        set_shadow_callbacks(vsscr_is_snapshot_path, vsscr_is_snapshot_root, vsscr_is_snapshot_mountpoint_root);
    }
    ~ShadowCallbackRegistration() { set_shadow_callbacks(nullptr, nullptr, nullptr); }
    ShadowCallbackRegistration(const ShadowCallbackRegistration &) = delete;
    ShadowCallbackRegistration &operator=(const ShadowCallbackRegistration &) = delete;
};


CVssSysReqBackup backupRequester;
ShadowCallbackRegistration shadowCallbacks;
CVssSysReqRestore restoreRequester;

} // namespace

CVssSysReqBackup &BackupRequester() { return backupRequester; }

CVssSysReqRestore &RestoreRequester() { return restoreRequester; }
