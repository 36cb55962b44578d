// winsim: the Microsoft C runtime extras that Windows code takes for granted. On Windows
// they come from <string.h>, <stdlib.h>, <wchar.h>, <stdio.h>, <sys/stat.h>, <io.h> and
// <direct.h>; here <windows.h> pulls them in, and <io.h> and <direct.h> exist as well.
// The wide functions take WCHAR (char16_t) where the SDK has wchar_t.
#pragma once

#include "winsim/types.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <sys/stat.h>  // before struct _stat64, which follows its st_atime macros

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
// ---- wide file functions of the CRT, over winsim's file system ----

#define _S_IFMT 0xF000
#define _S_IFDIR 0x4000
#define _S_IFCHR 0x2000
#define _S_IFREG 0x8000
#define _S_IREAD 0x0100
#define _S_IWRITE 0x0080
#define _S_IEXEC 0x0040

typedef unsigned int _dev_t;
typedef unsigned short _ino_t;
typedef long long __time64_t;

// The layout of the Windows CRT. <sys/stat.h> of glibc makes st_atime and friends macros
// for st_atim.tv_sec; the struct follows suit so that both spellings reach the field.
struct _stat64 {
    _dev_t st_dev;
    _ino_t st_ino;
    unsigned short st_mode;
    short st_nlink;
    short st_uid;
    short st_gid;
    _dev_t st_rdev;
    __int64 st_size;
#ifdef st_atime
    struct { __time64_t tv_sec; } st_atim;
    struct { __time64_t tv_sec; } st_mtim;
    struct { __time64_t tv_sec; } st_ctim;
#else
    __time64_t st_atime;
    __time64_t st_mtime;
    __time64_t st_ctime;
#endif
};

EXTERN_C WINSIM_API FILE *__cdecl _wfopen(const WCHAR *_Filename, const WCHAR *_Mode);
EXTERN_C WINSIM_API int __cdecl _wstat64(const WCHAR *_Name, struct _stat64 *_Stat);
EXTERN_C WINSIM_API int __cdecl _wmkdir(const WCHAR *_Path);
EXTERN_C WINSIM_API int __cdecl _wremove(const WCHAR *_Filename);
EXTERN_C WINSIM_API int __cdecl _wunlink(const WCHAR *_Filename);
EXTERN_C WINSIM_API int __cdecl _waccess(const WCHAR *_Filename, int _AccessMode);
