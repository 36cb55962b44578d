// winsim: Win32 base types with Windows sizes on LP64 Linux.
#pragma once

#include <cstddef>
#include <cstdint>

#define WINAPI
#define WINAPIV
#define APIENTRY
#define CALLBACK
#define STDMETHODCALLTYPE
#define STDMETHODVCALLTYPE
#define STDAPICALLTYPE
#define RPC_ENTRY
#define __stdcall
#define __cdecl

#define CONST const
#define VOID void
#define IN
#define OUT
#define OPTIONAL

#ifndef NULL
#define NULL nullptr
#endif
#ifndef FALSE
#define FALSE 0
#endif
#ifndef TRUE
#define TRUE 1
#endif

#ifdef __cplusplus
#define EXTERN_C extern "C"
#else
#define EXTERN_C extern
#endif

// winsim's own functions are exported from libwinsim.so.
#define WINSIM_API __attribute__((visibility("default")))
#define WINBASEAPI WINSIM_API
#define WINADVAPI WINSIM_API
#define WINOLEAPI_(type) EXTERN_C WINSIM_API type
#define WINOLEAPI WINOLEAPI_(HRESULT)
#define WINOLEAUTAPI_(type) EXTERN_C WINSIM_API type
#define WINOLEAUTAPI WINOLEAUTAPI_(HRESULT)
#define STDAPI_(type) EXTERN_C WINSIM_API type
#define STDAPI STDAPI_(HRESULT)

typedef char CHAR;
typedef unsigned char UCHAR;
typedef unsigned char BYTE;
typedef unsigned char BOOLEAN;
typedef short SHORT;
typedef unsigned short USHORT;
typedef unsigned short WORD;
typedef int INT;
typedef unsigned int UINT;
typedef int BOOL;
typedef int LONG;
typedef unsigned int ULONG;
typedef unsigned int DWORD;
typedef int HRESULT;
typedef long long LONGLONG;
typedef unsigned long long ULONGLONG;
typedef long long __int64;
typedef unsigned long long DWORD64;
typedef unsigned long long UINT64;
typedef long long INT64;
typedef int INT32;
typedef unsigned int UINT32;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef size_t SIZE_T;
typedef intptr_t SSIZE_T;
typedef float FLOAT;
typedef double DOUBLE;

typedef char16_t WCHAR;
typedef WCHAR OLECHAR;
typedef WCHAR *LPWSTR, *PWSTR, *LPOLESTR, *PWCHAR;
typedef const WCHAR *LPCWSTR, *PCWSTR, *LPCOLESTR;
typedef CHAR *LPSTR, *PSTR, *PCHAR;
typedef const CHAR *LPCSTR, *PCSTR;
typedef OLECHAR *BSTR;

typedef void *LPVOID, *PVOID;
typedef const void *LPCVOID;
typedef BOOL *LPBOOL, *PBOOL;
typedef BYTE *LPBYTE, *PBYTE;
typedef DWORD *LPDWORD, *PDWORD;
typedef LONG *LPLONG, *PLONG;
typedef ULONG *PULONG;
typedef WORD *LPWORD;

typedef void *HANDLE;
typedef HANDLE *PHANDLE, *LPHANDLE;
struct HINSTANCE__;
typedef HINSTANCE__ *HINSTANCE;
typedef HINSTANCE HMODULE;
struct HKEY__;
typedef HKEY__ *HKEY;
typedef HKEY *PHKEY;
typedef HANDLE HLOCAL;
typedef HANDLE HGLOBAL;
typedef DWORD LCID;
typedef WORD LANGID;
typedef LONG LSTATUS;
typedef short VARIANT_BOOL;
typedef double DATE;
typedef unsigned short VARTYPE;
typedef LONG SCODE;
typedef DWORD ACCESS_MASK;
typedef ACCESS_MASK REGSAM;

typedef union _LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    };
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

typedef union _ULARGE_INTEGER {
    struct {
        DWORD LowPart;
        DWORD HighPart;
    };
    struct {
        DWORD LowPart;
        DWORD HighPart;
    } u;
    ULONGLONG QuadPart;
} ULARGE_INTEGER, *PULARGE_INTEGER;

#include "winsim/cinterface.h"  // GUID
typedef GUID IID;
typedef GUID CLSID;
typedef GUID UUID;
typedef GUID *LPGUID, *LPIID, *LPCLSID;
typedef const GUID *LPCGUID;
#define REFGUID const GUID &
#define REFIID const IID &
#define REFCLSID const CLSID &

inline bool IsEqualGUID(REFGUID a, REFGUID b)
{
    return __builtin_memcmp(&a, &b, sizeof(GUID)) == 0;
}
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }
inline bool operator!=(REFGUID a, REFGUID b) { return !IsEqualGUID(a, b); }

// GUIDs are defined once, in winsim's guids.cpp; headers only declare them.
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    EXTERN_C WINSIM_API const GUID name
EXTERN_C WINSIM_API const GUID GUID_NULL;
#define IID_NULL GUID_NULL
#define CLSID_NULL GUID_NULL

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME, *PFILETIME, *LPFILETIME;

typedef struct _SYSTEMTIME {
    WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
} SYSTEMTIME, *PSYSTEMTIME, *LPSYSTEMTIME;

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *PSECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

#define MAKEWORD(a, b) ((WORD)(((BYTE)(a)) | ((WORD)((BYTE)(b))) << 8))
#define MAKELONG(a, b) ((LONG)(((WORD)(a)) | ((DWORD)((WORD)(b))) << 16))
#define LOWORD(l) ((WORD)((DWORD_PTR)(l) & 0xffff))
#define HIWORD(l) ((WORD)((DWORD_PTR)(l) >> 16))
#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))
#define LANG_NEUTRAL 0x00
#define LANG_ENGLISH 0x09
#define SUBLANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define SUBLANG_SYS_DEFAULT 0x02
#define SUBLANG_ENGLISH_US 0x01
#define LANG_SYSTEM_DEFAULT MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT)
#define LANG_USER_DEFAULT MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT)

#define MAX_PATH 260
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)

#define UNREFERENCED_PARAMETER(p) (void)(p)
#define ARRAYSIZE(a) (sizeof(a) / sizeof((a)[0]))
#define _countof(a) (sizeof(a) / sizeof((a)[0]))
#define __LONG32 int
#define __MINGW_EXTENSION

static_assert(sizeof(LONG) == 4 && sizeof(ULONG) == 4 && sizeof(DWORD) == 4, "32-bit LONG");
static_assert(sizeof(HRESULT) == 4, "32-bit HRESULT");
static_assert(sizeof(WCHAR) == 2, "16-bit WCHAR");
static_assert(sizeof(GUID) == 16, "16-byte GUID");
