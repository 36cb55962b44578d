// winsim: the requester's interfaces (vsbackup.h): writer metadata as a requester
// examines it, the backup-components object for backup and restore, and the functions
// that create them. Names, values and method order are the SDK's.
#pragma once

#include "vss.h"
#include "vswriter.h"

typedef struct _VSS_COMPONENTINFO {
    VSS_COMPONENT_TYPE type;
    BSTR bstrLogicalPath;
    BSTR bstrComponentName;
    BSTR bstrCaption;
    BYTE *pbIcon;
    UINT cbIcon;
    boolean bRestoreMetadata;
    boolean bNotifyOnBackupComplete;
    boolean bSelectable;
    boolean bSelectableForRestore;
    DWORD dwComponentFlags;
    UINT cFileCount;
    UINT cDatabases;
    UINT cLogFiles;
    UINT cDependencies;
} VSS_COMPONENTINFO;
typedef const VSS_COMPONENTINFO *PVSSCOMPONENTINFO;

DEFINE_GUID(IID_IVssWMComponent, 0x00000000, 0x0000, 0x0000, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00);
struct IVssWMComponent : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetComponentInfo(PVSSCOMPONENTINFO *ppInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE FreeComponentInfo(PVSSCOMPONENTINFO pInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFile(UINT iFile, IVssWMFiledesc **ppFiledesc) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDatabaseFile(UINT iDBFile, IVssWMFiledesc **ppFiledesc) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDatabaseLogFile(UINT iDbLogFile, IVssWMFiledesc **ppFiledesc) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDependency(UINT iDependency, IVssWMDependency **ppDependency) = 0;
};
__CRT_UUID_DECL(IVssWMComponent, 0x00000000, 0x0000, 0x0000, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00)

DEFINE_GUID(IID_IVssExamineWriterMetadata, 0x902fcf7f, 0xb7fd, 0x42f8, 0x81, 0xf1, 0xb2, 0xe4, 0x00, 0xb1, 0xe5, 0xbd);
struct IVssExamineWriterMetadata : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetIdentity(VSS_ID *pidInstance, VSS_ID *pidWriter, BSTR *pbstrWriterName, VSS_USAGE_TYPE *pUsage, VSS_SOURCE_TYPE *pSource) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFileCounts(UINT *pcIncludeFiles, UINT *pcExcludeFiles, UINT *pcComponents) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIncludeFile(UINT iFile, IVssWMFiledesc **ppFiledesc) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetExcludeFile(UINT iFile, IVssWMFiledesc **ppFiledesc) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetComponent(UINT iComponent, IVssWMComponent **ppComponent) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRestoreMethod(VSS_RESTOREMETHOD_ENUM *pMethod, BSTR *pbstrService, BSTR *pbstrUserProcedure, VSS_WRITERRESTORE_ENUM *pwriterRestore, boolean *pbRebootRequired, UINT *pcMappings) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAlternateLocationMapping(UINT iMapping, IVssWMFiledesc **ppFiledesc) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBackupSchema(DWORD *pdwSchemaMask) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDocument(IXMLDOMDocument **pDoc) = 0;
    virtual HRESULT STDMETHODCALLTYPE SaveAsXML(BSTR *pbstrXML) = 0;
    virtual HRESULT STDMETHODCALLTYPE LoadFromXML(BSTR bstrXML) = 0;
};
__CRT_UUID_DECL(IVssExamineWriterMetadata, 0x902fcf7f, 0xb7fd, 0x42f8, 0x81, 0xf1, 0xb2, 0xe4, 0x00, 0xb1, 0xe5, 0xbd)

DEFINE_GUID(IID_IVssExamineWriterMetadataEx, 0x0c0e5ec0, 0xca44, 0x472b, 0xb7, 0x02, 0xe6, 0x52, 0xdb, 0x1c, 0x04, 0x51);
struct IVssExamineWriterMetadataEx : public IVssExamineWriterMetadata {
    virtual HRESULT STDMETHODCALLTYPE GetIdentityEx(VSS_ID *pidInstance, VSS_ID *pidWriter, BSTR *pbstrWriterName, BSTR *pbstrInstanceName, VSS_USAGE_TYPE *pUsage, VSS_SOURCE_TYPE *pSource) = 0;
};
__CRT_UUID_DECL(IVssExamineWriterMetadataEx, 0x0c0e5ec0, 0xca44, 0x472b, 0xb7, 0x02, 0xe6, 0x52, 0xdb, 0x1c, 0x04, 0x51)

DEFINE_GUID(IID_IVssExamineWriterMetadataEx2, 0xce115780, 0xa611, 0x431b, 0xb5, 0x7f, 0xc3, 0x83, 0x03, 0xab, 0x6a, 0xee);
struct IVssExamineWriterMetadataEx2 : public IVssExamineWriterMetadataEx {
    virtual HRESULT STDMETHODCALLTYPE GetVersion(DWORD *pdwMajorVersion, DWORD *pdwMinorVersion) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetExcludeFromSnapshotCount(UINT *pcExcludedFromSnapshot) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetExcludeFromSnapshotFile(UINT iFile, IVssWMFiledesc **ppFiledesc) = 0;
};
__CRT_UUID_DECL(IVssExamineWriterMetadataEx2, 0xce115780, 0xa611, 0x431b, 0xb5, 0x7f, 0xc3, 0x83, 0x03, 0xab, 0x6a, 0xee)

DEFINE_GUID(IID_IVssWriterComponentsExt, 0x00000000, 0x0000, 0x0000, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00);
// As the SDK declares it: the writer's components, then an IUnknown through which the
// requester releases the object.
struct IVssWriterComponentsExt : public IVssWriterComponents, public IUnknown {
};
__CRT_UUID_DECL(IVssWriterComponentsExt, 0x00000000, 0x0000, 0x0000, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00)

DEFINE_GUID(IID_IVssBackupComponents, 0x665c1d5f, 0xc218, 0x414d, 0xa0, 0x5d, 0x7f, 0xef, 0x5f, 0x9d, 0x5c, 0x86);
struct IVssBackupComponents : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetWriterComponentsCount(UINT *pcComponents) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetWriterComponents(UINT iWriter, IVssWriterComponentsExt **ppWriter) = 0;
    virtual HRESULT STDMETHODCALLTYPE InitializeForBackup(BSTR bstrXML = 0) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetBackupState(boolean bSelectComponents, boolean bBackupBootableSystemState, VSS_BACKUP_TYPE backupType, boolean bPartialFileSupport = 0) = 0;
    virtual HRESULT STDMETHODCALLTYPE InitializeForRestore(BSTR bstrXML) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetRestoreState(VSS_RESTORE_TYPE restoreType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GatherWriterMetadata(IVssAsync **pAsync) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetWriterMetadataCount(UINT *pcWriters) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetWriterMetadata(UINT iWriter, VSS_ID *pidInstance, IVssExamineWriterMetadata **ppMetadata) = 0;
    virtual HRESULT STDMETHODCALLTYPE FreeWriterMetadata() = 0;
    virtual HRESULT STDMETHODCALLTYPE AddComponent(VSS_ID instanceId, VSS_ID writerId, VSS_COMPONENT_TYPE ct, LPCWSTR wszLogicalPath, LPCWSTR wszComponentName) = 0;
    virtual HRESULT STDMETHODCALLTYPE PrepareForBackup(IVssAsync **ppAsync) = 0;
    virtual HRESULT STDMETHODCALLTYPE AbortBackup() = 0;
    virtual HRESULT STDMETHODCALLTYPE GatherWriterStatus(IVssAsync **pAsync) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetWriterStatusCount(UINT *pcWriters) = 0;
    virtual HRESULT STDMETHODCALLTYPE FreeWriterStatus() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetWriterStatus(UINT iWriter, VSS_ID *pidInstance, VSS_ID *pidWriter, BSTR *pbstrWriter, VSS_WRITER_STATE *pnStatus, HRESULT *phResultFailure) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetBackupSucceeded(VSS_ID instanceId, VSS_ID writerId, VSS_COMPONENT_TYPE ct, LPCWSTR wszLogicalPath, LPCWSTR wszComponentName, boolean bSucceded) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetBackupOptions(VSS_ID writerId, VSS_COMPONENT_TYPE ct, LPCWSTR wszLogicalPath, LPCWSTR wszComponentName, LPCWSTR wszBackupOptions) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSelectedForRestore(VSS_ID writerId, VSS_COMPONENT_TYPE ct, LPCWSTR wszLogicalPath, LPCWSTR wszComponentName, boolean bSelectedForRestore) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetRestoreOptions(VSS_ID writerId, VSS_COMPONENT_TYPE ct, LPCWSTR wszLogicalPath, LPCWSTR wszComponentName, LPCWSTR wszRestoreOptions) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetAdditionalRestores(VSS_ID writerId, VSS_COMPONENT_TYPE ct, LPCWSTR wszLogicalPath, LPCWSTR wszComponentName, boolean bAdditionalRestores) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPreviousBackupStamp(VSS_ID writerId, VSS_COMPONENT_TYPE ct, LPCWSTR wszLogicalPath, LPCWSTR wszComponentName, LPCWSTR wszPreviousBackupStamp) = 0;
    virtual HRESULT STDMETHODCALLTYPE SaveAsXML(BSTR *pbstrXML) = 0;
    virtual HRESULT STDMETHODCALLTYPE BackupComplete(IVssAsync **ppAsync) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddAlternativeLocationMapping(VSS_ID writerId, VSS_COMPONENT_TYPE componentType, LPCWSTR wszLogicalPath, LPCWSTR wszComponentName, LPCWSTR wszPath, LPCWSTR wszFilespec, boolean bRecursive, LPCWSTR wszDestination) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddRestoreSubcomponent(VSS_ID writerId, VSS_COMPONENT_TYPE componentType, LPCWSTR wszLogicalPath, LPCWSTR wszComponentName, LPCWSTR wszSubComponentLogicalPath, LPCWSTR wszSubComponentName, boolean bRepair) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetFileRestoreStatus(VSS_ID writerId, VSS_COMPONENT_TYPE ct, LPCWSTR wszLogicalPath, LPCWSTR wszComponentName, VSS_FILE_RESTORE_STATUS status) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddNewTarget(VSS_ID writerId, VSS_COMPONENT_TYPE ct, LPCWSTR wszLogicalPath, LPCWSTR wszComponentName, LPCWSTR wszPath, LPCWSTR wszFileName, boolean bRecursive, LPCWSTR wszAlternatePath) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetRangesFilePath(VSS_ID writerId, VSS_COMPONENT_TYPE ct, LPCWSTR wszLogicalPath, LPCWSTR wszComponentName, UINT iPartialFile, LPCWSTR wszRangesFile) = 0;
    virtual HRESULT STDMETHODCALLTYPE PreRestore(IVssAsync **ppAsync) = 0;
    virtual HRESULT STDMETHODCALLTYPE PostRestore(IVssAsync **ppAsync) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetContext(LONG lContext) = 0;
    virtual HRESULT STDMETHODCALLTYPE StartSnapshotSet(VSS_ID *pSnapshotSetId) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddToSnapshotSet(VSS_PWSZ pwszVolumeName, VSS_ID ProviderId, VSS_ID *pidSnapshot) = 0;
    virtual HRESULT STDMETHODCALLTYPE DoSnapshotSet(IVssAsync **ppAsync) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteSnapshots(VSS_ID SourceObjectId, VSS_OBJECT_TYPE eSourceObjectType, WINBOOL bForceDelete, LONG *plDeletedSnapshots, VSS_ID *pNondeletedSnapshotID) = 0;
    virtual HRESULT STDMETHODCALLTYPE ImportSnapshots(IVssAsync **ppAsync) = 0;
    virtual HRESULT STDMETHODCALLTYPE BreakSnapshotSet(VSS_ID SnapshotSetId) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSnapshotProperties(VSS_ID SnapshotId, VSS_SNAPSHOT_PROP *pProp) = 0;
    virtual HRESULT STDMETHODCALLTYPE Query(VSS_ID QueriedObjectId, VSS_OBJECT_TYPE eQueriedObjectType, VSS_OBJECT_TYPE eReturnedObjectsType, IVssEnumObject **ppEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsVolumeSupported(VSS_ID ProviderId, VSS_PWSZ pwszVolumeName, WINBOOL *pbSupportedByThisProvider) = 0;
    virtual HRESULT STDMETHODCALLTYPE DisableWriterClasses(const VSS_ID *rgWriterClassId, UINT cClassId) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnableWriterClasses(const VSS_ID *rgWriterClassId, UINT cClassId) = 0;
    virtual HRESULT STDMETHODCALLTYPE DisableWriterInstances(const VSS_ID *rgWriterInstanceId, UINT cInstanceId) = 0;
    virtual HRESULT STDMETHODCALLTYPE ExposeSnapshot(VSS_ID SnapshotId, VSS_PWSZ wszPathFromRoot, LONG lAttributes, VSS_PWSZ wszExpose, VSS_PWSZ *pwszExposed) = 0;
    virtual HRESULT STDMETHODCALLTYPE RevertToSnapshot(VSS_ID SnapshotId, WINBOOL bForceDismount) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryRevertStatus(VSS_PWSZ pwszVolume, IVssAsync **ppAsync) = 0;
};
__CRT_UUID_DECL(IVssBackupComponents, 0x665c1d5f, 0xc218, 0x414d, 0xa0, 0x5d, 0x7f, 0xef, 0x5f, 0x9d, 0x5c, 0x86)

DEFINE_GUID(IID_IVssBackupComponentsEx, 0x963f03ad, 0x9e4c, 0x4a34, 0xac, 0x15, 0xe4, 0xb6, 0x17, 0x4e, 0x50, 0x36);
struct IVssBackupComponentsEx : public IVssBackupComponents {
    virtual HRESULT STDMETHODCALLTYPE GetWriterMetadataEx(UINT iWriter, VSS_ID *pidInstance, IVssExamineWriterMetadataEx **ppMetadata) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSelectedForRestoreEx(VSS_ID writerId, VSS_COMPONENT_TYPE ct, LPCWSTR wszLogicalPath, LPCWSTR wszComponentName, boolean bSelectedForRestore, VSS_ID instanceId) = 0;
};
__CRT_UUID_DECL(IVssBackupComponentsEx, 0x963f03ad, 0x9e4c, 0x4a34, 0xac, 0x15, 0xe4, 0xb6, 0x17, 0x4e, 0x50, 0x36)

DEFINE_GUID(IID_IVssBackupComponentsEx2, 0xacfe2b3a, 0x22c9, 0x4ef8, 0xbd, 0x03, 0x2f, 0x9c, 0xa2, 0x30, 0x08, 0x4e);
struct IVssBackupComponentsEx2 : public IVssBackupComponentsEx {
    virtual HRESULT STDMETHODCALLTYPE UnexposeSnapshot(VSS_ID snapshotId) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetAuthoritativeRestore(VSS_ID writerId, VSS_COMPONENT_TYPE ct, LPCWSTR wszLogicalPath, LPCWSTR wszComponentName, boolean bAuth) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetRollForward(VSS_ID writerId, VSS_COMPONENT_TYPE ct, LPCWSTR wszLogicalPath, LPCWSTR wszComponentName, VSS_ROLLFORWARD_TYPE rollType, LPCWSTR wszRollForwardPoint) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetRestoreName(VSS_ID writerId, VSS_COMPONENT_TYPE ct, LPCWSTR wszLogicalPath, LPCWSTR wszComponentName, LPCWSTR wszRestoreName) = 0;
    virtual HRESULT STDMETHODCALLTYPE BreakSnapshotSetEx(VSS_ID SnapshotSetID, DWORD dwBreakFlags, IVssAsync **ppAsync) = 0;
    virtual HRESULT STDMETHODCALLTYPE PreFastRecovery(VSS_ID SnapshotSetID, DWORD dwPreFastRecoveryFlags, IVssAsync **ppAsync) = 0;
    virtual HRESULT STDMETHODCALLTYPE FastRecovery(VSS_ID SnapshotSetID, DWORD dwFastRecoveryFlags, IVssAsync **ppAsync) = 0;
};
__CRT_UUID_DECL(IVssBackupComponentsEx2, 0xacfe2b3a, 0x22c9, 0x4ef8, 0xbd, 0x03, 0x2f, 0x9c, 0xa2, 0x30, 0x08, 0x4e)

DEFINE_GUID(IID_IVssBackupComponentsEx3, 0xc191bfbc, 0xb602, 0x4675, 0x8b, 0xd1, 0x67, 0xd6, 0x42, 0xf5, 0x29, 0xd5);
struct IVssBackupComponentsEx3 : public IVssBackupComponentsEx2 {
    virtual HRESULT STDMETHODCALLTYPE GetWriterStatusEx(UINT iWriter, VSS_ID *pidInstance, VSS_ID *pidWriter, BSTR *pbstrWriter, VSS_WRITER_STATE *pnStatus, HRESULT *phrFailureWriter, HRESULT *phrApplication = 0, BSTR *pbstrApplicationMessage = 0) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddSnapshotToRecoverySet(VSS_ID snapshotId, DWORD dwFlags, VSS_PWSZ pwszDestinationVolume = 0) = 0;
    virtual HRESULT STDMETHODCALLTYPE RecoverSet(DWORD dwFlags, IVssAsync **ppAsync) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSessionId(VSS_ID *idSession) = 0;
};
__CRT_UUID_DECL(IVssBackupComponentsEx3, 0xc191bfbc, 0xb602, 0x4675, 0x8b, 0xd1, 0x67, 0xd6, 0x42, 0xf5, 0x29, 0xd5)

// The exported entry points; the SDK's inline wrappers below are what callers use.
STDAPI CreateVssBackupComponentsInternal(IVssBackupComponents **ppBackup);
STDAPI CreateVssExamineWriterMetadataInternal(BSTR bstrXML, IVssExamineWriterMetadata **ppMetadata);
STDAPI IsVolumeSnapshottedInternal(VSS_PWSZ pwszVolumeName, WINBOOL *pbSnapshotsPresent, LONG *plSnapshotCapability);
STDAPI_(void) VssFreeSnapshotPropertiesInternal(VSS_SNAPSHOT_PROP *pProp);

static inline HRESULT CreateVssBackupComponents(IVssBackupComponents **ppBackup)
{
    return CreateVssBackupComponentsInternal(ppBackup);
}
static inline HRESULT CreateVssExamineWriterMetadata(BSTR bstrXML, IVssExamineWriterMetadata **ppMetadata)
{
    return CreateVssExamineWriterMetadataInternal(bstrXML, ppMetadata);
}
static inline HRESULT IsVolumeSnapshotted(VSS_PWSZ pwszVolumeName, WINBOOL *pbSnapshotsPresent, LONG *plSnapshotCapability)
{
    return IsVolumeSnapshottedInternal(pwszVolumeName, pbSnapshotsPresent, plSnapshotCapability);
}
static inline void VssFreeSnapshotProperties(VSS_SNAPSHOT_PROP *pProp)
{
    VssFreeSnapshotPropertiesInternal(pProp);
}
