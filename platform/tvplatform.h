// The one header that knows which platform it is on.
//
// Windows: the SDK headers of the compiler. Linux: winsim, the project's simulated
// Win32 platform, which declares the same names. Everything else in the tree is
// written once, against the names this header settles.
//
// The header compiles as C as well, for the exported headers whose interface is plain C:
// a C program sees the Windows types and the export macros; the wide string alias and the
// size checks are C++ only (winsim's C types check their own sizes).
#pragma once

#include <windows.h>
#ifdef __cplusplus
#include <string>
#endif

#ifdef _WIN32
#define W(text) L##text
#define TV_SYMBOL_EXPORT __declspec(dllexport)
#define TV_SYMBOL_IMPORT __declspec(dllimport)
// A thread-local variable of the library read on a hot path. The DLL's thread-local
// storage needs nothing more.
#define TV_TLS_HOT
#else
#define W(text) u##text
#define TV_SYMBOL_EXPORT __attribute__((visibility("default")))
#define TV_SYMBOL_IMPORT __attribute__((visibility("default")))
// The shared object's thread-local variables are otherwise reached through a call into the
// dynamic loader on every read; the library is loaded with the program, so its few bytes
// fit the static block (initial-exec) and a read is one load.
#define TV_TLS_HOT __attribute__((tls_model("initial-exec")))
#endif

#ifdef __cplusplus
// Wide text is 16-bit on both platforms.
using wstr = std::basic_string<WCHAR>;

static_assert(sizeof(WCHAR) == 2, "WCHAR is a 16-bit unit");
static_assert(sizeof(LONG) == 4 && sizeof(ULONG) == 4, "LONG and ULONG are 32 bits");
static_assert(sizeof(DWORD) == 4 && sizeof(HRESULT) == 4, "DWORD and HRESULT are 32 bits");
static_assert(sizeof(GUID) == 16, "GUID is 16 bytes");
#endif
