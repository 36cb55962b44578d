// winsim: the UUID calls of rpcrt4, as the SDK's rpc.h and rpcdce.h declare them.
// RPC_WSTR is unsigned short * there; callers cast to and from WCHAR *.
#pragma once

#include "winsim/types.h"
#include "winerror.h"

typedef LONG RPC_STATUS;
typedef unsigned short *RPC_WSTR;
typedef unsigned char *RPC_CSTR;

#define RPC_S_INVALID_ARG ERROR_INVALID_PARAMETER

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
