// winsim: the C runtime's counted wide formatting, for WCHAR text. On Windows these come
// from <stdio.h> and <wchar.h>; glibc has no formatter for 16-bit text.
//
// The format strings follow Microsoft's conventions for the wide functions:
//   %s and %c take wide text, %S and %C narrow text; %ls, %ws, %lc take wide text and
//   %hs, %hc narrow text whatever the function (the portable spelling).
//   Sizes as on 64-bit Windows: no prefix, h, hh, l and I32 are 32 bits or less (long is
//   32 bits), ll and I64 are 64 bits, I, z, t and j are pointer-sized.
//   %p prints the pointer as 16 upper-case hexadecimal digits.
//   %e, %E, %g and %G print at least three exponent digits, as msvcrt.dll does.
//   %n is refused (the runtime disables it), as are unknown conversions: -1, errno EINVAL.
//   Narrow text is widened byte for byte, as in the "C" locale.
#pragma once

#include "winsim/types.h"

#include <cstdarg>
#include <cstddef>

// Writes at most count units. Returns the number of units written without the terminator;
// the terminator is written only when fewer than count units were produced. When the output
// needs more than count units, count units are written, nothing is terminated and -1 is
// returned. With buffer NULL and count 0, returns the number of units the output needs.
EXTERN_C WINSIM_API int __cdecl _vsnwprintf(WCHAR *buffer, size_t count, const WCHAR *format, va_list argptr);
EXTERN_C WINSIM_API int __cdecl _snwprintf(WCHAR *buffer, size_t count, const WCHAR *format, ...);
