// winsim: the WMI client interfaces (wbemcli). Method order in every interface follows the
// SDK, so that code written against the real headers calls the same slots here.
#pragma once

#include "objbase.h"
#include "oaidl.h"

struct IWbemClassObject;
struct IWbemQualifierSet;
struct IWbemLocator;
struct IWbemObjectSink;
struct IEnumWbemClassObject;
struct IWbemContext;
struct IWbemCallResult;
struct IWbemServices;

typedef LONG CIMTYPE;

typedef enum tag_CIMTYPE_ENUMERATION {
    CIM_ILLEGAL = 0xfff,
    CIM_EMPTY = 0,
    CIM_SINT8 = 16,
    CIM_UINT8 = 17,
    CIM_SINT16 = 2,
    CIM_UINT16 = 18,
    CIM_SINT32 = 3,
    CIM_UINT32 = 19,
    CIM_SINT64 = 20,
    CIM_UINT64 = 21,
    CIM_REAL32 = 4,
    CIM_REAL64 = 5,
    CIM_BOOLEAN = 11,
    CIM_STRING = 8,
    CIM_DATETIME = 101,
    CIM_REFERENCE = 102,
    CIM_CHAR16 = 103,
    CIM_OBJECT = 13,
    CIM_FLAG_ARRAY = 0x2000
} CIMTYPE_ENUMERATION;

typedef enum tag_WBEM_GENUS_TYPE { WBEM_GENUS_CLASS = 1, WBEM_GENUS_INSTANCE = 2 } WBEM_GENUS_TYPE;

typedef enum tag_WBEM_CHANGE_FLAG_TYPE {
    WBEM_FLAG_CREATE_OR_UPDATE = 0,
    WBEM_FLAG_UPDATE_ONLY = 0x1,
    WBEM_FLAG_CREATE_ONLY = 0x2,
    WBEM_FLAG_UPDATE_COMPATIBLE = 0x0,
    WBEM_FLAG_UPDATE_SAFE_MODE = 0x20,
    WBEM_FLAG_UPDATE_FORCE_MODE = 0x40,
    WBEM_MASK_UPDATE_MODE = 0x60,
    WBEM_FLAG_ADVISORY = 0x10000
} WBEM_CHANGE_FLAG_TYPE;

typedef enum tag_WBEM_GENERIC_FLAG_TYPE {
    WBEM_FLAG_RETURN_IMMEDIATELY = 0x10,
    WBEM_FLAG_RETURN_WBEM_COMPLETE = 0,
    WBEM_FLAG_BIDIRECTIONAL = 0,
    WBEM_FLAG_FORWARD_ONLY = 0x20,
    WBEM_FLAG_NO_ERROR_OBJECT = 0x40,
    WBEM_FLAG_RETURN_ERROR_OBJECT = 0,
    WBEM_FLAG_SEND_STATUS = 0x80,
    WBEM_FLAG_DONT_SEND_STATUS = 0,
    WBEM_FLAG_ENSURE_LOCATABLE = 0x100,
    WBEM_FLAG_DIRECT_READ = 0x200,
    WBEM_FLAG_SEND_ONLY_SELECTED = 0,
    WBEM_RETURN_WHEN_COMPLETE = 0,
    WBEM_RETURN_IMMEDIATELY = 0x10,
    WBEM_MASK_RESERVED_FLAGS = 0x1f000,
    WBEM_FLAG_USE_AMENDED_QUALIFIERS = 0x20000,
    WBEM_FLAG_STRONG_VALIDATION = 0x100000
} WBEM_GENERIC_FLAG_TYPE;

typedef enum tag_WBEM_TIMEOUT_TYPE { WBEM_NO_WAIT = 0, WBEM_INFINITE = (LONG)0xffffffff } WBEM_TIMEOUT_TYPE;

typedef enum tag_WBEM_CONDITION_FLAG_TYPE {
    WBEM_FLAG_ALWAYS = 0,
    WBEM_FLAG_ONLY_IF_TRUE = 0x1,
    WBEM_FLAG_ONLY_IF_FALSE = 0x2,
    WBEM_FLAG_ONLY_IF_IDENTICAL = 0x3,
    WBEM_MASK_PRIMARY_CONDITION = 0x3,
    WBEM_FLAG_KEYS_ONLY = 0x4,
    WBEM_FLAG_REFS_ONLY = 0x8,
    WBEM_FLAG_LOCAL_ONLY = 0x10,
    WBEM_FLAG_PROPAGATED_ONLY = 0x20,
    WBEM_FLAG_SYSTEM_ONLY = 0x30,
    WBEM_FLAG_NONSYSTEM_ONLY = 0x40,
    WBEM_MASK_CONDITION_ORIGIN = 0x70,
    WBEM_FLAG_CLASS_OVERRIDES_ONLY = 0x100,
    WBEM_FLAG_CLASS_LOCAL_AND_OVERRIDES = 0x200,
    WBEM_MASK_CLASS_CONDITION = 0x300
} WBEM_CONDITION_FLAG_TYPE;

typedef enum tag_WBEM_FLAVOR_TYPE {
    WBEM_FLAVOR_DONT_PROPAGATE = 0,
    WBEM_FLAVOR_FLAG_PROPAGATE_TO_INSTANCE = 0x1,
    WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS = 0x2,
    WBEM_FLAVOR_MASK_PROPAGATION = 0xf,
    WBEM_FLAVOR_OVERRIDABLE = 0,
    WBEM_FLAVOR_NOT_OVERRIDABLE = 0x10,
    WBEM_FLAVOR_MASK_PERMISSIONS = 0x10,
    WBEM_FLAVOR_ORIGIN_LOCAL = 0,
    WBEM_FLAVOR_ORIGIN_PROPAGATED = 0x20,
    WBEM_FLAVOR_ORIGIN_SYSTEM = 0x40,
    WBEM_FLAVOR_MASK_ORIGIN = 0x60,
    WBEM_FLAVOR_NOT_AMENDED = 0,
    WBEM_FLAVOR_AMENDED = 0x80,
    WBEM_FLAVOR_MASK_AMENDED = 0x80
} WBEM_FLAVOR_TYPE;

typedef enum tag_WBEM_CONNECT_OPTIONS {
    WBEM_FLAG_CONNECT_REPOSITORY_ONLY = 0x40,
    WBEM_FLAG_CONNECT_USE_MAX_WAIT = 0x80,
    WBEM_FLAG_CONNECT_PROVIDERS = 0x100
} WBEM_CONNECT_OPTIONS;

typedef enum tag_WBEMSTATUS {
    WBEM_NO_ERROR = 0,
    WBEM_S_NO_ERROR = 0,
    WBEM_S_SAME = 0,
    WBEM_S_FALSE = 1,
    WBEM_S_ALREADY_EXISTS = 0x40001,
    WBEM_S_RESET_TO_DEFAULT = 0x40002,
    WBEM_S_DIFFERENT = 0x40003,
    WBEM_S_TIMEDOUT = 0x40004,
    WBEM_S_NO_MORE_DATA = 0x40005,
    WBEM_S_OPERATION_CANCELLED = 0x40006,
    WBEM_S_PENDING = 0x40007,
    WBEM_S_DUPLICATE_OBJECTS = 0x40008,
    WBEM_S_ACCESS_DENIED = 0x40009,
    WBEM_S_PARTIAL_RESULTS = 0x40010,
    WBEM_E_FAILED = (LONG)0x80041001,
    WBEM_E_NOT_FOUND = (LONG)0x80041002,
    WBEM_E_ACCESS_DENIED = (LONG)0x80041003,
    WBEM_E_PROVIDER_FAILURE = (LONG)0x80041004,
    WBEM_E_TYPE_MISMATCH = (LONG)0x80041005,
    WBEM_E_OUT_OF_MEMORY = (LONG)0x80041006,
    WBEM_E_INVALID_CONTEXT = (LONG)0x80041007,
    WBEM_E_INVALID_PARAMETER = (LONG)0x80041008,
    WBEM_E_NOT_AVAILABLE = (LONG)0x80041009,
    WBEM_E_CRITICAL_ERROR = (LONG)0x8004100a,
    WBEM_E_INVALID_STREAM = (LONG)0x8004100b,
    WBEM_E_NOT_SUPPORTED = (LONG)0x8004100c,
    WBEM_E_INVALID_SUPERCLASS = (LONG)0x8004100d,
    WBEM_E_INVALID_NAMESPACE = (LONG)0x8004100e,
    WBEM_E_INVALID_OBJECT = (LONG)0x8004100f,
    WBEM_E_INVALID_CLASS = (LONG)0x80041010,
    WBEM_E_PROVIDER_NOT_FOUND = (LONG)0x80041011,
    WBEM_E_INVALID_PROVIDER_REGISTRATION = (LONG)0x80041012,
    WBEM_E_PROVIDER_LOAD_FAILURE = (LONG)0x80041013,
    WBEM_E_INITIALIZATION_FAILURE = (LONG)0x80041014,
    WBEM_E_TRANSPORT_FAILURE = (LONG)0x80041015,
    WBEM_E_INVALID_OPERATION = (LONG)0x80041016,
    WBEM_E_INVALID_QUERY = (LONG)0x80041017,
    WBEM_E_INVALID_QUERY_TYPE = (LONG)0x80041018,
    WBEM_E_ALREADY_EXISTS = (LONG)0x80041019,
    WBEM_E_OVERRIDE_NOT_ALLOWED = (LONG)0x8004101a,
    WBEM_E_PROPAGATED_QUALIFIER = (LONG)0x8004101b,
    WBEM_E_PROPAGATED_PROPERTY = (LONG)0x8004101c,
    WBEM_E_UNEXPECTED = (LONG)0x8004101d,
    WBEM_E_ILLEGAL_OPERATION = (LONG)0x8004101e,
    WBEM_E_CANNOT_BE_KEY = (LONG)0x8004101f,
    WBEM_E_INCOMPLETE_CLASS = (LONG)0x80041020,
    WBEM_E_INVALID_SYNTAX = (LONG)0x80041021,
    WBEM_E_NONDECORATED_OBJECT = (LONG)0x80041022,
    WBEM_E_READ_ONLY = (LONG)0x80041023,
    WBEM_E_PROVIDER_NOT_CAPABLE = (LONG)0x80041024,
    WBEM_E_CLASS_HAS_CHILDREN = (LONG)0x80041025,
    WBEM_E_CLASS_HAS_INSTANCES = (LONG)0x80041026,
    WBEM_E_QUERY_NOT_IMPLEMENTED = (LONG)0x80041027,
    WBEM_E_ILLEGAL_NULL = (LONG)0x80041028,
    WBEM_E_INVALID_QUALIFIER_TYPE = (LONG)0x80041029,
    WBEM_E_INVALID_PROPERTY_TYPE = (LONG)0x8004102a,
    WBEM_E_VALUE_OUT_OF_RANGE = (LONG)0x8004102b,
    WBEM_E_CANNOT_BE_SINGLETON = (LONG)0x8004102c,
    WBEM_E_INVALID_CIM_TYPE = (LONG)0x8004102d,
    WBEM_E_INVALID_METHOD = (LONG)0x8004102e,
    WBEM_E_INVALID_METHOD_PARAMETERS = (LONG)0x8004102f,
    WBEM_E_SYSTEM_PROPERTY = (LONG)0x80041030,
    WBEM_E_INVALID_PROPERTY = (LONG)0x80041031,
    WBEM_E_CALL_CANCELLED = (LONG)0x80041032,
    WBEM_E_SHUTTING_DOWN = (LONG)0x80041033,
    WBEM_E_PROPAGATED_METHOD = (LONG)0x80041034,
    WBEM_E_UNSUPPORTED_PARAMETER = (LONG)0x80041035,
    WBEM_E_MISSING_PARAMETER_ID = (LONG)0x80041036,
    WBEM_E_INVALID_PARAMETER_ID = (LONG)0x80041037,
    WBEM_E_NONCONSECUTIVE_PARAMETER_IDS = (LONG)0x80041038,
    WBEM_E_PARAMETER_ID_ON_RETVAL = (LONG)0x80041039,
    WBEM_E_INVALID_OBJECT_PATH = (LONG)0x8004103a,
    WBEM_E_OUT_OF_DISK_SPACE = (LONG)0x8004103b,
    WBEM_E_BUFFER_TOO_SMALL = (LONG)0x8004103c,
    WBEM_E_UNSUPPORTED_PUT_EXTENSION = (LONG)0x8004103d,
    WBEM_E_UNKNOWN_OBJECT_TYPE = (LONG)0x8004103e,
    WBEM_E_UNKNOWN_PACKET_TYPE = (LONG)0x8004103f,
    WBEM_E_MARSHAL_VERSION_MISMATCH = (LONG)0x80041040,
    WBEM_E_MARSHAL_INVALID_SIGNATURE = (LONG)0x80041041,
    WBEM_E_INVALID_QUALIFIER = (LONG)0x80041042,
    WBEM_E_INVALID_DUPLICATE_PARAMETER = (LONG)0x80041043,
    WBEM_E_TOO_MUCH_DATA = (LONG)0x80041044,
    WBEM_E_SERVER_TOO_BUSY = (LONG)0x80041045,
    WBEM_E_INVALID_FLAVOR = (LONG)0x80041046,
    WBEM_E_CIRCULAR_REFERENCE = (LONG)0x80041047,
    WBEM_E_UNSUPPORTED_CLASS_UPDATE = (LONG)0x80041048,
    WBEM_E_CANNOT_CHANGE_KEY_INHERITANCE = (LONG)0x80041049,
    WBEM_E_CANNOT_CHANGE_INDEX_INHERITANCE = (LONG)0x80041050,
    WBEM_E_TOO_MANY_PROPERTIES = (LONG)0x80041051,
    WBEM_E_UPDATE_TYPE_MISMATCH = (LONG)0x80041052,
    WBEM_E_UPDATE_OVERRIDE_NOT_ALLOWED = (LONG)0x80041053,
    WBEM_E_UPDATE_PROPAGATED_METHOD = (LONG)0x80041054,
    WBEM_E_METHOD_NOT_IMPLEMENTED = (LONG)0x80041055,
    WBEM_E_METHOD_DISABLED = (LONG)0x80041056
} WBEMSTATUS;

DEFINE_GUID(CLSID_WbemLocator, 0x4590f811, 0x1d3a, 0x11d0, 0x89, 0x1f, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24);
DEFINE_GUID(IID_IWbemClassObject, 0xdc12a681, 0x737f, 0x11cf, 0x88, 0x4d, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24);
DEFINE_GUID(IID_IWbemQualifierSet, 0xdc12a680, 0x737f, 0x11cf, 0x88, 0x4d, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24);
DEFINE_GUID(IID_IWbemLocator, 0xdc12a687, 0x737f, 0x11cf, 0x88, 0x4d, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24);
DEFINE_GUID(IID_IWbemObjectSink, 0x7c857801, 0x7381, 0x11cf, 0x88, 0x4d, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24);
DEFINE_GUID(IID_IEnumWbemClassObject, 0x027947e1, 0xd731, 0x11ce, 0xa3, 0x57, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01);
DEFINE_GUID(IID_IWbemContext, 0x44aca674, 0xe8fc, 0x11d0, 0xa0, 0x7c, 0x00, 0xc0, 0x4f, 0xb6, 0x88, 0x20);
DEFINE_GUID(IID_IWbemCallResult, 0x44aca675, 0xe8fc, 0x11d0, 0xa0, 0x7c, 0x00, 0xc0, 0x4f, 0xb6, 0x88, 0x20);
DEFINE_GUID(IID_IWbemServices, 0x9556dc99, 0x828c, 0x11cf, 0xa3, 0x7e, 0x00, 0xaa, 0x00, 0x32, 0x40, 0xc7);

struct IWbemClassObject : public IUnknown {
    STDMETHOD(GetQualifierSet)(IWbemQualifierSet **ppQualSet) PURE;
    STDMETHOD(Get)(LPCWSTR wszName, LONG lFlags, VARIANT *pVal, CIMTYPE *pType, LONG *plFlavor) PURE;
    STDMETHOD(Put)(LPCWSTR wszName, LONG lFlags, VARIANT *pVal, CIMTYPE Type) PURE;
    STDMETHOD(Delete)(LPCWSTR wszName) PURE;
    STDMETHOD(GetNames)(LPCWSTR wszQualifierName, LONG lFlags, VARIANT *pQualifierVal, SAFEARRAY **pNames) PURE;
    STDMETHOD(BeginEnumeration)(LONG lEnumFlags) PURE;
    STDMETHOD(Next)(LONG lFlags, BSTR *strName, VARIANT *pVal, CIMTYPE *pType, LONG *plFlavor) PURE;
    STDMETHOD(EndEnumeration)(void) PURE;
    STDMETHOD(GetPropertyQualifierSet)(LPCWSTR wszProperty, IWbemQualifierSet **ppQualSet) PURE;
    STDMETHOD(Clone)(IWbemClassObject **ppCopy) PURE;
    STDMETHOD(GetObjectText)(LONG lFlags, BSTR *pstrObjectText) PURE;
    STDMETHOD(SpawnDerivedClass)(LONG lFlags, IWbemClassObject **ppNewClass) PURE;
    STDMETHOD(SpawnInstance)(LONG lFlags, IWbemClassObject **ppNewInstance) PURE;
    STDMETHOD(CompareTo)(LONG lFlags, IWbemClassObject *pCompareTo) PURE;
    STDMETHOD(GetPropertyOrigin)(LPCWSTR wszName, BSTR *pstrClassName) PURE;
    STDMETHOD(InheritsFrom)(LPCWSTR strAncestor) PURE;
    STDMETHOD(GetMethod)(LPCWSTR wszName, LONG lFlags, IWbemClassObject **ppInSignature,
                         IWbemClassObject **ppOutSignature) PURE;
    STDMETHOD(PutMethod)(LPCWSTR wszName, LONG lFlags, IWbemClassObject *pInSignature,
                         IWbemClassObject *pOutSignature) PURE;
    STDMETHOD(DeleteMethod)(LPCWSTR wszName) PURE;
    STDMETHOD(BeginMethodEnumeration)(LONG lEnumFlags) PURE;
    STDMETHOD(NextMethod)(LONG lFlags, BSTR *pstrName, IWbemClassObject **ppInSignature,
                          IWbemClassObject **ppOutSignature) PURE;
    STDMETHOD(EndMethodEnumeration)(void) PURE;
    STDMETHOD(GetMethodQualifierSet)(LPCWSTR wszMethod, IWbemQualifierSet **ppQualSet) PURE;
    STDMETHOD(GetMethodOrigin)(LPCWSTR wszMethodName, BSTR *pstrClassName) PURE;
};
__CRT_UUID_DECL(IWbemClassObject, 0xdc12a681, 0x737f, 0x11cf, 0x88, 0x4d, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24)

struct IWbemLocator : public IUnknown {
    STDMETHOD(ConnectServer)(const BSTR strNetworkResource, const BSTR strUser, const BSTR strPassword,
                             const BSTR strLocale, LONG lSecurityFlags, const BSTR strAuthority, IWbemContext *pCtx,
                             IWbemServices **ppNamespace) PURE;
};
__CRT_UUID_DECL(IWbemLocator, 0xdc12a687, 0x737f, 0x11cf, 0x88, 0x4d, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24)

struct IEnumWbemClassObject : public IUnknown {
    STDMETHOD(Reset)(void) PURE;
    STDMETHOD(Next)(LONG lTimeout, ULONG uCount, IWbemClassObject **apObjects, ULONG *puReturned) PURE;
    STDMETHOD(NextAsync)(ULONG uCount, IWbemObjectSink *pSink) PURE;
    STDMETHOD(Clone)(IEnumWbemClassObject **ppEnum) PURE;
    STDMETHOD(Skip)(LONG lTimeout, ULONG nCount) PURE;
};
__CRT_UUID_DECL(IEnumWbemClassObject, 0x027947e1, 0xd731, 0x11ce, 0xa3, 0x57, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01)

struct IWbemServices : public IUnknown {
    STDMETHOD(OpenNamespace)(const BSTR strNamespace, LONG lFlags, IWbemContext *pCtx,
                             IWbemServices **ppWorkingNamespace, IWbemCallResult **ppResult) PURE;
    STDMETHOD(CancelAsyncCall)(IWbemObjectSink *pSink) PURE;
    STDMETHOD(QueryObjectSink)(LONG lFlags, IWbemObjectSink **ppResponseHandler) PURE;
    STDMETHOD(GetObject)(const BSTR strObjectPath, LONG lFlags, IWbemContext *pCtx, IWbemClassObject **ppObject,
                         IWbemCallResult **ppCallResult) PURE;
    STDMETHOD(GetObjectAsync)(const BSTR strObjectPath, LONG lFlags, IWbemContext *pCtx,
                              IWbemObjectSink *pResponseHandler) PURE;
    STDMETHOD(PutClass)(IWbemClassObject *pObject, LONG lFlags, IWbemContext *pCtx,
                        IWbemCallResult **ppCallResult) PURE;
    STDMETHOD(PutClassAsync)(IWbemClassObject *pObject, LONG lFlags, IWbemContext *pCtx,
                             IWbemObjectSink *pResponseHandler) PURE;
    STDMETHOD(DeleteClass)(const BSTR strClass, LONG lFlags, IWbemContext *pCtx, IWbemCallResult **ppCallResult) PURE;
    STDMETHOD(DeleteClassAsync)(const BSTR strClass, LONG lFlags, IWbemContext *pCtx,
                                IWbemObjectSink *pResponseHandler) PURE;
    STDMETHOD(CreateClassEnum)(const BSTR strSuperclass, LONG lFlags, IWbemContext *pCtx,
                               IEnumWbemClassObject **ppEnum) PURE;
    STDMETHOD(CreateClassEnumAsync)(const BSTR strSuperclass, LONG lFlags, IWbemContext *pCtx,
                                    IWbemObjectSink *pResponseHandler) PURE;
    STDMETHOD(PutInstance)(IWbemClassObject *pInst, LONG lFlags, IWbemContext *pCtx,
                           IWbemCallResult **ppCallResult) PURE;
    STDMETHOD(PutInstanceAsync)(IWbemClassObject *pInst, LONG lFlags, IWbemContext *pCtx,
                                IWbemObjectSink *pResponseHandler) PURE;
    STDMETHOD(DeleteInstance)(const BSTR strObjectPath, LONG lFlags, IWbemContext *pCtx,
                              IWbemCallResult **ppCallResult) PURE;
    STDMETHOD(DeleteInstanceAsync)(const BSTR strObjectPath, LONG lFlags, IWbemContext *pCtx,
                                   IWbemObjectSink *pResponseHandler) PURE;
    STDMETHOD(CreateInstanceEnum)(const BSTR strFilter, LONG lFlags, IWbemContext *pCtx,
                                  IEnumWbemClassObject **ppEnum) PURE;
    STDMETHOD(CreateInstanceEnumAsync)(const BSTR strFilter, LONG lFlags, IWbemContext *pCtx,
                                       IWbemObjectSink *pResponseHandler) PURE;
    STDMETHOD(ExecQuery)(const BSTR strQueryLanguage, const BSTR strQuery, LONG lFlags, IWbemContext *pCtx,
                         IEnumWbemClassObject **ppEnum) PURE;
    STDMETHOD(ExecQueryAsync)(const BSTR strQueryLanguage, const BSTR strQuery, LONG lFlags, IWbemContext *pCtx,
                              IWbemObjectSink *pResponseHandler) PURE;
    STDMETHOD(ExecNotificationQuery)(const BSTR strQueryLanguage, const BSTR strQuery, LONG lFlags,
                                     IWbemContext *pCtx, IEnumWbemClassObject **ppEnum) PURE;
    STDMETHOD(ExecNotificationQueryAsync)(const BSTR strQueryLanguage, const BSTR strQuery, LONG lFlags,
                                          IWbemContext *pCtx, IWbemObjectSink *pResponseHandler) PURE;
    STDMETHOD(ExecMethod)(const BSTR strObjectPath, const BSTR strMethodName, LONG lFlags, IWbemContext *pCtx,
                          IWbemClassObject *pInParams, IWbemClassObject **ppOutParams,
                          IWbemCallResult **ppCallResult) PURE;
    STDMETHOD(ExecMethodAsync)(const BSTR strObjectPath, const BSTR strMethodName, LONG lFlags, IWbemContext *pCtx,
                               IWbemClassObject *pInParams, IWbemObjectSink *pResponseHandler) PURE;
};
__CRT_UUID_DECL(IWbemServices, 0x9556dc99, 0x828c, 0x11cf, 0xa3, 0x7e, 0x00, 0xaa, 0x00, 0x32, 0x40, 0xc7)
