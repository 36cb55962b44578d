// winsim: the writer-side types a requester reads (vswriter.h): usage and source types,
// restore methods and targets, component types and flags, and the file-description,
// dependency and backup-document component interfaces. Names, values and method order
// are the SDK's.
#pragma once

#ifndef __cplusplus
#include "winsim/cinterface.h"
#else

#include "vss.h"
#include "winsim/cinterface.h"

struct IVssExamineWriterMetadata;
struct IXMLDOMDocument;

typedef enum VSS_USAGE_TYPE {
    VSS_UT_UNDEFINED = 0,
    VSS_UT_BOOTABLESYSTEMSTATE = 1,
    VSS_UT_SYSTEMSERVICE = 2,
    VSS_UT_USERDATA = 3,
    VSS_UT_OTHER = 4
} VSS_USAGE_TYPE;

typedef enum VSS_SOURCE_TYPE {
    VSS_ST_UNDEFINED = 0,
    VSS_ST_TRANSACTEDDB = 1,
    VSS_ST_NONTRANSACTEDDB = 2,
    VSS_ST_OTHER = 3
} VSS_SOURCE_TYPE;

// VSS_RESTOREMETHOD_ENUM and VSS_WRITERRESTORE_ENUM are in winsim/cinterface.h.

typedef enum VSS_COMPONENT_TYPE {
    VSS_CT_UNDEFINED = 0,
    VSS_CT_DATABASE = 1,
    VSS_CT_FILEGROUP = 2
} VSS_COMPONENT_TYPE;

typedef enum VSS_ALTERNATE_WRITER_STATE {
    VSS_AWS_UNDEFINED = 0,
    VSS_AWS_NO_ALTERNATE_WRITER = 1,
    VSS_AWS_ALTERNATE_WRITER_EXISTS = 2,
    VSS_AWS_THIS_IS_ALTERNATE_WRITER = 3
} VSS_ALTERNATE_WRITER_STATE;

typedef enum VSS_SUBSCRIBE_MASK {
    VSS_SM_POST_SNAPSHOT_FLAG = 0x1,
    VSS_SM_BACKUP_EVENTS_FLAG = 0x2,
    VSS_SM_RESTORE_EVENTS_FLAG = 0x4,
    VSS_SM_IO_THROTTLING_FLAG = 0x8,
    VSS_SM_ALL_FLAGS = 0xffffffff
} VSS_SUBSCRIBE_MASK;

typedef enum VSS_RESTORE_TARGET {
    VSS_RT_UNDEFINED = 0,
    VSS_RT_ORIGINAL = 1,
    VSS_RT_ALTERNATE = 2,
    VSS_RT_DIRECTED = 3,
    VSS_RT_ORIGINAL_LOCATION = 4
} VSS_RESTORE_TARGET;

typedef enum VSS_FILE_RESTORE_STATUS {
    VSS_RS_UNDEFINED = 0,
    VSS_RS_NONE = 1,
    VSS_RS_ALL = 2,
    VSS_RS_FAILED = 3
} VSS_FILE_RESTORE_STATUS;

typedef enum VSS_COMPONENT_FLAGS {
    VSS_CF_BACKUP_RECOVERY = 0x1,
    VSS_CF_APP_ROLLBACK_RECOVERY = 0x2,
    VSS_CF_NOT_SYSTEM_STATE = 0x4
} VSS_COMPONENT_FLAGS;

DEFINE_GUID(IID_IVssWMFiledesc, 0x00000000, 0x0000, 0x0000, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00);
struct IVssWMFiledesc : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetPath(BSTR *pbstrPath) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFilespec(BSTR *pbstrFilespec) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRecursive(boolean *pbRecursive) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAlternateLocation(BSTR *pbstrAlternateLocation) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBackupTypeMask(DWORD *pdwTypeMask) = 0;
};
__CRT_UUID_DECL(IVssWMFiledesc, 0x00000000, 0x0000, 0x0000, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00)

DEFINE_GUID(IID_IVssWMDependency, 0x00000000, 0x0000, 0x0000, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00);
struct IVssWMDependency : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetWriterId(VSS_ID *pWriterId) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetLogicalPath(BSTR *pbstrLogicalPath) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetComponentName(BSTR *pbstrComponentName) = 0;
};
__CRT_UUID_DECL(IVssWMDependency, 0x00000000, 0x0000, 0x0000, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00)

DEFINE_GUID(IID_IVssComponent, 0xd2c72c96, 0xc121, 0x4518, 0xb6, 0x27, 0xe5, 0xa9, 0x3d, 0x01, 0x0e, 0xad);
struct IVssComponent : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetLogicalPath(BSTR *pbstrPath) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetComponentType(VSS_COMPONENT_TYPE *pct) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetComponentName(BSTR *pbstrName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBackupSucceeded(boolean *pbSucceeded) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAlternateLocationMappingCount(UINT *pcMappings) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAlternateLocationMapping(UINT iMapping, IVssWMFiledesc **ppFiledesc) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetBackupMetadata(LPCWSTR wszData) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBackupMetadata(BSTR *pbstrData) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddPartialFile(LPCWSTR wszPath, LPCWSTR wszFilename, LPCWSTR wszRanges, LPCWSTR wszMetadata) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPartialFileCount(UINT *pcPartialFiles) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPartialFile(UINT iPartialFile, BSTR *pbstrPath, BSTR *pbstrFilename, BSTR *pbstrRange, BSTR *pbstrMetadata) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsSelectedForRestore(boolean *pbSelectedForRestore) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAdditionalRestores(boolean *pbAdditionalRestores) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNewTargetCount(UINT *pcNewTarget) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNewTarget(UINT iNewTarget, IVssWMFiledesc **ppFiledesc) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddDirectedTarget(LPCWSTR wszSourcePath, LPCWSTR wszSourceFilename, LPCWSTR wszSourceRangeList, LPCWSTR wszDestinationPath, LPCWSTR wszDestinationFilename, LPCWSTR wszDestinationRangeList) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDirectedTargetCount(UINT *pcDirectedTarget) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDirectedTarget(UINT iDirectedTarget, BSTR *pbstrSourcePath, BSTR *pbstrSourceFileName, BSTR *pbstrSourceRangeList, BSTR *pbstrDestinationPath, BSTR *pbstrDestinationFilename, BSTR *pbstrDestinationRangeList) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetRestoreMetadata(LPCWSTR wszRestoreMetadata) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRestoreMetadata(BSTR *pbstrRestoreMetadata) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetRestoreTarget(VSS_RESTORE_TARGET target) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRestoreTarget(VSS_RESTORE_TARGET *pTarget) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPreRestoreFailureMsg(LPCWSTR wszPreRestoreFailureMsg) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPreRestoreFailureMsg(BSTR *pbstrPreRestoreFailureMsg) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPostRestoreFailureMsg(LPCWSTR wszPostRestoreFailureMsg) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPostRestoreFailureMsg(BSTR *pbstrPostRestoreFailureMsg) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetBackupStamp(LPCWSTR wszBackupStamp) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBackupStamp(BSTR *pbstrBackupStamp) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPreviousBackupStamp(BSTR *pbstrBackupStamp) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBackupOptions(BSTR *pbstrBackupOptions) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRestoreOptions(BSTR *pbstrRestoreOptions) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRestoreSubcomponentCount(UINT *pcRestoreSubcomponent) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRestoreSubcomponent(UINT iComponent, BSTR *pbstrLogicalPath, BSTR *pbstrComponentName, boolean *pbRepair) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFileRestoreStatus(VSS_FILE_RESTORE_STATUS *pStatus) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddDifferencedFilesByLastModifyTime(LPCWSTR wszPath, LPCWSTR wszFilespec, WINBOOL bRecursive, FILETIME ftLastModifyTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddDifferencedFilesByLastModifyLSN(LPCWSTR wszPath, LPCWSTR wszFilespec, WINBOOL bRecursive, BSTR bstrLsnString) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDifferencedFilesCount(UINT *pcDifferencedFiles) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDifferencedFile(UINT iDifferencedFile, BSTR *pbstrPath, BSTR *pbstrFilespec, WINBOOL *pbRecursive, BSTR *pbstrLsnString, FILETIME *pftLastModifyTime) = 0;
};
__CRT_UUID_DECL(IVssComponent, 0xd2c72c96, 0xc121, 0x4518, 0xb6, 0x27, 0xe5, 0xa9, 0x3d, 0x01, 0x0e, 0xad)

DEFINE_GUID(IID_IVssWriterComponents, 0x00000000, 0x0000, 0x0000, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00);
// Not a COM object in the SDK either: it has no IUnknown.
struct IVssWriterComponents {
    virtual HRESULT STDMETHODCALLTYPE GetComponentCount(UINT *pcComponents) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetWriterInfo(VSS_ID *pidInstance, VSS_ID *pidWriter) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetComponent(UINT iComponent, IVssComponent **ppComponent) = 0;
};
__CRT_UUID_DECL(IVssWriterComponents, 0x00000000, 0x0000, 0x0000, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00)

DEFINE_GUID(IID_IVssComponentEx, 0x156c8b5e, 0xf131, 0x4bd7, 0x9c, 0x97, 0xd1, 0x92, 0x3b, 0xe7, 0xe1, 0xfa);
struct IVssComponentEx : public IVssComponent {
    virtual HRESULT STDMETHODCALLTYPE SetPrepareForBackupFailureMsg(LPCWSTR wszFailureMsg) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPostSnapshotFailureMsg(LPCWSTR wszFailureMsg) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPrepareForBackupFailureMsg(BSTR *pbstrFailureMsg) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPostSnapshotFailureMsg(BSTR *pbstrFailureMsg) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAuthoritativeRestore(boolean *pbAuth) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRollForward(VSS_ROLLFORWARD_TYPE *pRollType, BSTR *pbstrPoint) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRestoreName(BSTR *pbstrName) = 0;
};
__CRT_UUID_DECL(IVssComponentEx, 0x156c8b5e, 0xf131, 0x4bd7, 0x9c, 0x97, 0xd1, 0x92, 0x3b, 0xe7, 0xe1, 0xfa)

DEFINE_GUID(IID_IVssComponentEx2, 0x3b5be0f2, 0x07a9, 0x4e4b, 0xbd, 0xd3, 0xcf, 0xdc, 0x8e, 0x2c, 0x0d, 0x2d);
struct IVssComponentEx2 : public IVssComponentEx {
    virtual HRESULT STDMETHODCALLTYPE SetFailure(HRESULT hr, HRESULT hrApplication, LPCWSTR wszApplicationMessage, DWORD dwReserved) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFailure(HRESULT *phr, HRESULT *phrApplication, BSTR *pbstrApplicationMessage, DWORD *pdwReserved) = 0;
};
__CRT_UUID_DECL(IVssComponentEx2, 0x3b5be0f2, 0x07a9, 0x4e4b, 0xbd, 0xd3, 0xcf, 0xdc, 0x8e, 0x2c, 0x0d, 0x2d)

#endif // __cplusplus
