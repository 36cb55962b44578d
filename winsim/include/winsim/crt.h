// winsim: the Microsoft C runtime extras that Windows code takes for granted. On Windows
// they come from <string.h>, <stdlib.h>, <wchar.h>, <stdio.h>, <sys/stat.h>, <io.h> and
// <direct.h>; here <windows.h> pulls them in, and <io.h> and <direct.h> exist as well.
// The wide functions take WCHAR (char16_t) where the SDK has wchar_t.
#pragma once

#include "winsim/types.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <sys/stat.h>

typedef int errno_t;
typedef size_t rsize_t;
#define _TRUNCATE ((size_t)-1)
#ifndef STRUNCATE
#define STRUNCATE 80
#endif
// What the comparison functions return for a NULL argument.
#define _NLSCMPERROR 2147483647

// Case-insensitive comparisons as in the "C" locale: only A-Z and a-z fold, to lower case.
EXTERN_C WINSIM_API int __cdecl _stricmp(const char *_Str1, const char *_Str2);
EXTERN_C WINSIM_API int __cdecl _strnicmp(const char *_Str1, const char *_Str2, size_t _MaxCount);
EXTERN_C WINSIM_API int __cdecl _wcsicmp(const WCHAR *_Str1, const WCHAR *_Str2);
EXTERN_C WINSIM_API int __cdecl _wcsnicmp(const WCHAR *_Str1, const WCHAR *_Str2, size_t _MaxCount);

EXTERN_C WINSIM_API errno_t __cdecl strncpy_s(char *_Dst, size_t _DstSizeInChars, const char *_Src,
                                              size_t _MaxCount);
EXTERN_C WINSIM_API errno_t __cdecl strncat_s(char *_Dst, size_t _DstSizeInChars, const char *_Src,
                                              size_t _MaxCount);

// A malloc'd copy (free it with free()); NULL for NULL.
EXTERN_C WINSIM_API WCHAR *__cdecl _wcsdup(const WCHAR *_Str);
EXTERN_C WINSIM_API __int64 __cdecl _strtoi64(const char *_String, char **_EndPtr, int _Radix);
