// The one header that knows which platform it is on.
//
// Windows: the SDK headers of the compiler. Linux: winsim, the project's simulated
// Win32 platform, which declares the same names. Everything else in the tree is
// written once, against the names this header settles.
#pragma once

#include <windows.h>
#include <string>

#ifdef _WIN32
#define W(text) L##text
#define TV_SYMBOL_EXPORT __declspec(dllexport)
#define TV_SYMBOL_IMPORT __declspec(dllimport)
#else
#define W(text) u##text
#define TV_SYMBOL_EXPORT __attribute__((visibility("default")))
#define TV_SYMBOL_IMPORT __attribute__((visibility("default")))
#endif

// Wide text is 16-bit on both platforms.
using wstr = std::basic_string<WCHAR>;

static_assert(sizeof(WCHAR) == 2, "WCHAR is a 16-bit unit");
static_assert(sizeof(LONG) == 4 && sizeof(ULONG) == 4, "LONG and ULONG are 32 bits");
static_assert(sizeof(DWORD) == 4 && sizeof(HRESULT) == 4, "DWORD and HRESULT are 32 bits");
static_assert(sizeof(GUID) == 16, "GUID is 16 bytes");
