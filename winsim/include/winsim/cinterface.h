// winsim: what a C program sees of the simulated platform. The library's exported C
// interface names a few Windows types (wide text, GUIDs, HRESULTs, two restore enums and
// the WMI interface pointers); a C client on Linux gets them from <windows.h>, <vss.h>,
// <vswriter.h> and <wbemidl.h>, which include only this header when compiled as C. The
// C++ headers take the GUID and the two enums from here too, so both see one definition.
#pragma once

#ifndef __cplusplus
#include <stddef.h>
#include <stdint.h>
#include <uchar.h>

// Windows sizes on LP64 Linux, as in winsim/types.h.
typedef char16_t WCHAR;
typedef char CHAR;
typedef unsigned char BYTE;
typedef int BOOL;
typedef int LONG;
typedef unsigned int ULONG;
typedef unsigned int DWORD;
typedef int HRESULT;

#ifndef FALSE
#define FALSE 0
#endif
#ifndef TRUE
#define TRUE 1
#endif
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define MAX_PATH 260

// COM interfaces reach C code as pointers only.
typedef struct IWbemClassObject IWbemClassObject;
typedef struct IWbemLocator IWbemLocator;
typedef struct IWbemServices IWbemServices;
#endif

typedef struct _GUID {
    unsigned int Data1;
    unsigned short Data2;
    unsigned short Data3;
    unsigned char Data4[8];
} GUID;

typedef enum VSS_RESTOREMETHOD_ENUM {
    VSS_RME_UNDEFINED = 0,
    VSS_RME_RESTORE_IF_NOT_THERE = 1,
    VSS_RME_RESTORE_IF_CAN_REPLACE = 2,
    VSS_RME_STOP_RESTORE_START = 3,
    VSS_RME_RESTORE_TO_ALTERNATE_LOCATION = 4,
    VSS_RME_RESTORE_AT_REBOOT = 5,
    VSS_RME_RESTORE_AT_REBOOT_IF_CANNOT_REPLACE = 6,
    VSS_RME_CUSTOM = 7,
    VSS_RME_RESTORE_STOP_START = 8
} VSS_RESTOREMETHOD_ENUM;

typedef enum VSS_WRITERRESTORE_ENUM {
    VSS_WRE_UNDEFINED = 0,
    VSS_WRE_NEVER = 1,
    VSS_WRE_IF_REPLACE_FAILS = 2,
    VSS_WRE_ALWAYS = 3
} VSS_WRITERRESTORE_ENUM;

#ifndef __cplusplus
_Static_assert(sizeof(WCHAR) == 2 && sizeof(LONG) == 4 && sizeof(DWORD) == 4 && sizeof(GUID) == 16,
               "Windows sizes");
#endif
