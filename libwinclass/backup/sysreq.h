// The requester classes: the session state of a backup (and the frame that the restore
// requester shares). The library holds one backup and one restore object with static
// storage; every exported backup function works on the backup object.
#pragma once

#include <libwinclass/tv_str.h>
#include <libwinclass/backup/volsnapmap.h>
#include <vssrequester/vsscr.h>

#include <liblocal/local.h>

#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class CPromoteUserDataWriter;

class CVssSysReqBase {
public:
    CVssSysReqBase();
    // Base set-up: COM, process security, the common requester and its log.
    virtual struct vo_msg *Init();
    virtual ~CVssSysReqBase() = 0;
    // Ends the common requester's session and releases COM if this object took it; cr
    // stays known, so a later session skips the COM and security set-up.
    void UnInit();
    // The text of an HRESULT or Windows code for a message, into a buffer of at least
    // 1024 bytes.
    static void GetErrorText(uint32_t code, size_t size, char *buffer);

    bool comInitialized;
    bool securityInitialized;
    // The restore side's session: its backup components document (empty when no session
    // is open) and the writers whose saved metadata it loaded. The backup side leaves
    // both alone.
    tv_str bcdPath;
    std::list<std::shared_ptr<CVssCrWriter>> writerRecoveryList;
    CVssCr *cr;                               // the common requester; not owned
};

class CVssSysReqBackup : public CVssSysReqBase {
public:
    CVssSysReqBackup();
    ~CVssSysReqBackup() override;

    using CVssSysReqBase::Init;
    struct vo_msg *Init(int saveType, int markFilesForArchive, const tv_str &writerName);
    void Reset();

    // The supported writer list.
    bool PopulateSupportedWriterList();
    bool PopulateUserSupportedWriterList(const char *path);
    void PopulateDefaultSupportedWriterList();
    bool IsWriterSupported(const char *writerId);

    // The snapshot set.
    struct vo_msg *AddSavePath(const tv_str &path);
    struct vo_msg *AddVolume(const tv_str &volume, bool mark, uint32_t flags, const tv_str &shadowPath,
                             uint32_t *alreadyPresent, const tv_str &originatingPath, bool bcdFlag);
    DWORD AddToSnapShotMap(const tv_str &volume, bool mark, uint32_t flags, const tv_str &shadowPath,
                           uint32_t *alreadyPresent, const tv_str &originatingPath, bool bcdFlag);
    DWORD NewVolSnapShotMap(const tv_str &volume, bool mark, uint32_t flags, const tv_str &shadowPath,
                            bool bcdFlag, std::shared_ptr<CVssVolSnapShotMap> &entry);
    static DWORD GetVolumeRootPath(const WCHAR *path, WCHAR *buffer, size_t size);
    static bool NeedsParentVolume(const WCHAR *volumeRoot, const WCHAR *driveRoot);
    struct vo_msg *TakeSnapshot(const tv_str &documentPath, GUID *snapshotSetId);

    // The last call of the common requester that failed in this session, for callers that
    // want the cause behind a message (or behind a step that reports none). Kept across
    // Reset, so that it can be asked after teardown; cleared when a session starts.
    struct FailedCall {
        const char *operation = nullptr;
        long result = 0;
        wstr volume;
    };
    FailedCall lastFailure;
    // Records result when it is a failure; gives result back.
    long Checked(const char *operation, long result, const wstr &volume = wstr());

    // Writer classification and selection.
    CVssCrWriterList GetUserDataWriters();
    CVssCrWriterList GetSystemStateWriters();
    CVssCrWriterList GetUnsupportedWriters();
    bool NeedsPromotion(const std::shared_ptr<CVssCrWriter> &writer);
    bool IsComponentSupported(const std::shared_ptr<CVssCrWriter> &writer,
                              const std::shared_ptr<CVssWriterComp> &component);
    bool IsWriterPresentAndSupported(const tv_str &name);
    struct vo_msg *SelectForDisasterRecovery();
    struct vo_msg *SelectSystemState();
    struct vo_msg *SelectWriterByName(const tv_str &name);
    void MarkComponentFilesForArchive(const std::shared_ptr<CVssWriterComp> &component);

    // Critical volumes for disaster recovery.
    using CriticalVolumeList = std::list<std::shared_ptr<CVssVolSnapShotMap>>;
    struct vo_msg *GetCriticalVolumes(CriticalVolumeList &out);
    struct vo_msg *add_associated_critical_volumes(bool mark);
    struct vo_msg *add_associated_mount_points(const VolSnapMapList &copy, bool mark);
    struct vo_msg *add_associated_dynamic_disk_volumes(const VolSnapMapList &copy, bool mark);
    struct vo_msg *GetAsrBcdComponent(std::shared_ptr<CVssCrWriter> &writer,
                                      std::shared_ptr<CVssWriterComp> &component, bool &bcdFlag);

    // What the session decided and why (see libwinclass/explain.h). Cleared when a
    // session starts, kept across Reset so that it can be read after teardown.
    struct Decision {
        int subject = 0;  // vsscr_subject
        bool taken = false;
        std::string writer, component, volume, verdict, reason;
    };
    std::vector<Decision> decisions;
    void Decide(Decision decision) { decisions.push_back(std::move(decision)); }

    // Publishes volSnapMap as it stands, for the lookups (winclass::VolSnapMapReader).
    // Every change of volSnapMap is followed by this call (Reset too, after emptying it),
    // and an entry is never changed in place once published: a change replaces it with a
    // changed copy.
    void PublishVolSnapMap();
    // While one lives, PublishVolSnapMap only notes a change and the batch publishes once
    // at its end: an operation that enters thousands of volumes before any file is read
    // (the critical volumes) would otherwise build a view of n entries per change.
    class PublishBatch {
    public:
        explicit PublishBatch(CVssSysReqBackup &requester);
        ~PublishBatch();
        PublishBatch(const PublishBatch &) = delete;
        PublishBatch &operator=(const PublishBatch &) = delete;

    private:
        CVssSysReqBackup &requester_;
    };
    int publishBatches = 0;
    bool publishPending = false;

    std::list<CPromoteUserDataWriter *> promotePolicies;
    VolSnapMapList volSnapMap;
    // volSnapMap by volume, and where each name length begins (longest first): finding an
    // entry or the place of a new one walks nothing. Kept by AddToSnapShotMap and Reset,
    // the only places that add or remove entries.
    std::unordered_map<wstr, VolSnapMapList::iterator> volSnapIndex;
    std::map<int, VolSnapMapList::iterator, std::greater<int>> volSnapFirstOfLength;
    int32_t saveType;
    int32_t markFilesForArchive;
    bool bbbBackup;
    bool initialized;
    bool criticalVolumesDone;
    bool systemStateWritersFilled;
    bool userDataWritersFilled;
    bool unsupportedWritersFilled;
    CVssCrWriterList systemStateWriters;
    CVssCrWriterList userDataWriters;
    CVssCrWriterList unsupportedWriters;
    vo_list *supportedWriters;
};

// The one backup requester of the process (the restore one: restore/sysrestore.h).
CVssSysReqBackup &BackupRequester();

// The per-process directory joined with name and ".xml", into a wide buffer of size
// characters.
void createxmlpath(WCHAR *buffer, size_t size, const WCHAR *name);
