// Export and import of liblocal's symbols.
#pragma once

#include <platform/tvplatform.h>

#ifdef LIBLOCAL_BUILD
#define LOCAL_API TV_SYMBOL_EXPORT
#else
#define LOCAL_API TV_SYMBOL_IMPORT
#endif

// Lets the compiler check the arguments of the runtime's printf-style functions. Their
// formatting is the C99 one on both platforms (MinGW's own printf family, not the older
// system one), hence gnu_printf.
#if defined(__GNUC__)
#define VO_PRINTF_FORMAT(format_index, first_arg) \
    __attribute__((format(gnu_printf, format_index, first_arg)))
#else
#define VO_PRINTF_FORMAT(format_index, first_arg)
#endif

// A function that does not return.
#if defined(__cplusplus)
#define VO_NORETURN [[noreturn]]
#elif defined(__GNUC__)
#define VO_NORETURN __attribute__((noreturn))
#else
#define VO_NORETURN
#endif
