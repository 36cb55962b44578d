// winsim internals shared between its source files.
#pragma once

#include <windows.h>

#include "winsim/host.h"

#include <atomic>
#include <cstring>
#include <string>

namespace winsim {

using wstring16 = std::basic_string<WCHAR>;

// The length of a zero-terminated wide string (0 for NULL).
size_t WideLength(const WCHAR *text);

// Upper case as Windows compares names (environment, registry, file names): the simple
// one-to-one mapping of the Latin, Greek and Cyrillic letters.
WCHAR FoldUpper(WCHAR unit);
wstring16 FoldUpper(const wstring16 &text);
bool EqualNoCase(const wstring16 &a, const wstring16 &b);

std::string ToUtf8(const wstring16 &text);
wstring16 FromUtf8(const std::string &text);

// A call or an argument winsim does not implement: one line on stderr, so that the gap is
// seen rather than taken for a success. The caller then fails with E_NOTIMPL or
// ERROR_CALL_NOT_IMPLEMENTED.
void LogNotImplemented(const char *function, const char *what);

// The simulated environment (environment.cpp): a variable's value, and a text with its
// %name% references expanded as ExpandEnvironmentStringsW does.
bool LookupEnvironmentVariable(const wstring16 &name, wstring16 &value);
wstring16 ExpandEnvironmentText(const wstring16 &source);

// Sets the last error and passes the result through: return Fail(ERROR_X, FALSE).
template <typename T>
inline T Fail(DWORD error, T result)
{
    SetLastError(error);
    return result;
}

// Whether a fault is armed or a sweep runs (faults.cpp keeps it): while it is not, a
// faultable call goes on at this one read, inline.
extern std::atomic<bool> gFaultsArmed;
bool ArmedFaultFor(const char *function, const WCHAR *argument, DWORD &error);
bool ArmedFaultFor(const char *function, HRESULT &hr);

// The fault injected for (or swept onto) this call, through TakeFault: true with the
// Win32 error, or the HRESULT of a COM call, to fail with.
inline bool FaultFor(const char *function, const WCHAR *argument, DWORD &error)
{
    return gFaultsArmed.load(std::memory_order_acquire) && ArmedFaultFor(function, argument, error);
}
inline bool FaultFor(const char *function, HRESULT &hr)
{
    return gFaultsArmed.load(std::memory_order_acquire) && ArmedFaultFor(function, hr);
}

} // namespace winsim
