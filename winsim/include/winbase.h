// winsim: kernel32 declarations (last error, interlocked operations, environment,
// debugging output, files).
#pragma once

#include "winsim/types.h"
#include <cstdarg>

EXTERN_C WINBASEAPI DWORD WINAPI GetLastError(void);
EXTERN_C WINBASEAPI void WINAPI SetLastError(DWORD dwErrCode);

EXTERN_C WINBASEAPI LONG WINAPI InterlockedIncrement(LONG volatile *addend);
EXTERN_C WINBASEAPI LONG WINAPI InterlockedDecrement(LONG volatile *addend);
EXTERN_C WINBASEAPI LONG WINAPI InterlockedExchange(LONG volatile *target, LONG value);
EXTERN_C WINBASEAPI LONG WINAPI InterlockedCompareExchange(LONG volatile *destination, LONG exchange,
                                                          LONG comparand);

EXTERN_C WINBASEAPI DWORD WINAPI GetCurrentProcessId(void);
EXTERN_C WINBASEAPI DWORD WINAPI GetCurrentThreadId(void);

EXTERN_C WINBASEAPI DWORD WINAPI GetEnvironmentVariableW(LPCWSTR lpName, LPWSTR lpBuffer, DWORD nSize);
EXTERN_C WINBASEAPI BOOL WINAPI SetEnvironmentVariableW(LPCWSTR lpName, LPCWSTR lpValue);
EXTERN_C WINBASEAPI DWORD WINAPI ExpandEnvironmentStringsW(LPCWSTR lpSrc, LPWSTR lpDst, DWORD nSize);

EXTERN_C WINBASEAPI void WINAPI OutputDebugStringW(LPCWSTR lpOutputString);
EXTERN_C WINBASEAPI void WINAPI OutputDebugStringA(LPCSTR lpOutputString);

EXTERN_C WINBASEAPI int WINAPI lstrlenW(LPCWSTR lpString);

#define LMEM_FIXED 0x0000
#define LMEM_MOVEABLE 0x0002
#define LMEM_NOCOMPACT 0x0010
#define LMEM_NODISCARD 0x0020
#define LMEM_ZEROINIT 0x0040
#define LMEM_MODIFY 0x0080
#define LMEM_DISCARDABLE 0x0F00
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)
EXTERN_C WINBASEAPI HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes);
EXTERN_C WINBASEAPI HLOCAL WINAPI LocalFree(HLOCAL hMem);

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FF
EXTERN_C WINBASEAPI DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                                                DWORD dwLanguageId, LPWSTR lpBuffer, DWORD nSize,
                                                va_list *Arguments);
