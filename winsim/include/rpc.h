// winsim: the UUID calls of rpcrt4, as the SDK's rpc.h and rpcdce.h declare them.
// RPC_WSTR is unsigned short * there; callers cast to and from WCHAR *.
#pragma once

#include "winsim/types.h"
#include "winerror.h"

typedef LONG RPC_STATUS;
typedef unsigned short *RPC_WSTR;
typedef unsigned char *RPC_CSTR;

#define RPC_S_INVALID_ARG ERROR_INVALID_PARAMETER

typedef void *RPC_AUTH_IDENTITY_HANDLE;

#define RPC_C_AUTHN_LEVEL_DEFAULT 0
#define RPC_C_AUTHN_LEVEL_NONE 1
#define RPC_C_AUTHN_LEVEL_CONNECT 2
#define RPC_C_AUTHN_LEVEL_CALL 3
#define RPC_C_AUTHN_LEVEL_PKT 4
#define RPC_C_AUTHN_LEVEL_PKT_INTEGRITY 5
#define RPC_C_AUTHN_LEVEL_PKT_PRIVACY 6

#define RPC_C_IMP_LEVEL_DEFAULT 0
#define RPC_C_IMP_LEVEL_ANONYMOUS 1
#define RPC_C_IMP_LEVEL_IDENTIFY 2
#define RPC_C_IMP_LEVEL_IMPERSONATE 3
#define RPC_C_IMP_LEVEL_DELEGATE 4

#define RPC_C_AUTHN_NONE 0
#define RPC_C_AUTHN_WINNT 10
#define RPC_C_AUTHN_GSS_NEGOTIATE 9
#define RPC_C_AUTHN_GSS_KERBEROS 16
#define RPC_C_AUTHN_DEFAULT 0xFFFFFFFFL
#define RPC_C_AUTHZ_NONE 0
#define RPC_C_AUTHZ_NAME 1
#define RPC_C_AUTHZ_DEFAULT 0xffffffff

// A random (version 4) UUID.
EXTERN_C WINSIM_API RPC_STATUS RPC_ENTRY UuidCreate(UUID *Uuid);
EXTERN_C WINSIM_API RPC_STATUS RPC_ENTRY UuidCreateNil(UUID *NilUuid);
// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" in lower case, without braces, freed with
// RpcStringFreeW; a NULL Uuid gives the nil UUID.
EXTERN_C WINSIM_API RPC_STATUS RPC_ENTRY UuidToStringW(UUID *Uuid, RPC_WSTR *StringUuid);
// Parses that form (either case); NULL gives the nil UUID; RPC_S_INVALID_STRING_UUID when
// malformed.
EXTERN_C WINSIM_API RPC_STATUS RPC_ENTRY UuidFromStringW(RPC_WSTR StringUuid, UUID *Uuid);
EXTERN_C WINSIM_API RPC_STATUS RPC_ENTRY RpcStringFreeW(RPC_WSTR *String);
