// winsim: the C++ interface through which tests and tools set up and observe the
// simulated host. Linux only; portable code never includes it.
#pragma once

#include "winsim/types.h"
#include "objbase.h"
#include "winreg.h"

#include <functional>

#include <string>
#include <utility>
#include <vector>

namespace winsim {

// ---- code pages ----

// The ANSI code page that CP_ACP stands for (1252 unless a host says otherwise).
WINSIM_API UINT AnsiCodePage();
// Selects the ANSI code page; false for a page winsim does not know or for UTF-8.
WINSIM_API bool SetAnsiCodePage(UINT codePage);

// ---- environment ----

// Empties the simulated environment. With seedFromProcess it is filled again on next use
// from the real process environment plus the Windows defaults (SystemDrive, SystemRoot,
// windir, ProgramData, ProgramFiles, TEMP, TMP, COMPUTERNAME, USERNAME); without, it holds
// only those defaults.
WINSIM_API void ResetEnvironment(bool seedFromProcess = true);
// Every variable as (name, value), names in the case they were first set.
WINSIM_API std::vector<std::pair<std::u16string, std::u16string>> EnvironmentVariables();

// ---- debugging output ----

// What OutputDebugStringA/W received, oldest first (UTF-8; the most recent 512 texts).
WINSIM_API std::vector<std::string> DebugOutput();
WINSIM_API void ClearDebugOutput();

// ---- memory ----

// Blocks from LocalAlloc not yet given to LocalFree.
WINSIM_API size_t LiveLocalAllocations();

// ---- registry ----
// Paths are relative to a predefined root (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, ...),
// without a leading backslash; missing keys are made. Value name u"" is the default value.

// Empties every hive. Keys still open stay valid handles but answer ERROR_KEY_DELETED.
WINSIM_API void ResetRegistry();
// Stores the bytes as given (a string's terminator only if included).
WINSIM_API bool SetRegistryValue(HKEY root, const std::u16string &keyPath, const std::u16string &valueName,
                                 DWORD type, const std::vector<BYTE> &data);
// REG_SZ or REG_EXPAND_SZ, stored with its terminator as RegSetValueExW callers do.
WINSIM_API bool SetRegistryString(HKEY root, const std::u16string &keyPath, const std::u16string &valueName,
                                  const std::u16string &text, DWORD type = REG_SZ);
// REG_MULTI_SZ: each string terminated, and one more terminator after the last.
WINSIM_API bool SetRegistryMultiString(HKEY root, const std::u16string &keyPath, const std::u16string &valueName,
                                       const std::vector<std::u16string> &strings);
WINSIM_API bool SetRegistryDword(HKEY root, const std::u16string &keyPath, const std::u16string &valueName,
                                 DWORD value);
// False when the key or value does not exist.
WINSIM_API bool GetRegistryValue(HKEY root, const std::u16string &keyPath, const std::u16string &valueName,
                                 DWORD *type, std::vector<BYTE> *data);
WINSIM_API bool RegistryKeyExists(HKEY root, const std::u16string &keyPath);
WINSIM_API bool DeleteRegistryValue(HKEY root, const std::u16string &keyPath, const std::u16string &valueName);
// Removes the key with everything under it; handles open on them answer ERROR_KEY_DELETED.
WINSIM_API bool DeleteRegistryKey(HKEY root, const std::u16string &keyPath);
// Handles from RegOpenKeyExW/RegCreateKeyExW not yet closed (predefined keys not counted).
WINSIM_API size_t OpenRegistryKeyCount();

// ---- files ----
// The simulated host's files live under a sandbox root: $WINSIM_ROOT, else
// ${TMPDIR:-/tmp}/winsim-<uid>; drive X: is the directory <root>/X (C: is made on first
// use, with C:\Windows\Temp). Windows attributes are kept by winsim beside the files.

WINSIM_API std::string SandboxRoot();
// Moves the sandbox (made if missing), resets the current directory to C:\ and forgets
// the attributes recorded so far.
WINSIM_API void SetSandboxRoot(const std::string &root);
// Where a Windows path lives in the sandbox (names matched without regard to case);
// false for paths winsim cannot map (UNC, devices, bad names). The caller may read and
// write there: the volume's described files are made first, and no live file below the
// path shares its bytes with a shadow copy any more.
WINSIM_API bool HostPathOf(const std::u16string &windowsPath, std::string *hostPath);
// Kernel handles (files...) not yet given to CloseHandle.
WINSIM_API size_t OpenHandleCount();

// ---- computer name ----
// The names GetComputerNameExW answers; until set, the host name is COMPUTERNAME of the
// simulated environment and the DNS domain is empty.
WINSIM_API void SetComputerName(const std::u16string &hostName, const std::u16string &dnsDomain = u"");

// ---- COM ----

enum class ComApartment { None, SingleThreaded, MultiThreaded };
// The calling thread's apartment (None when it made no CoInitialize(Ex) of its own) and
// its outstanding CoInitialize(Ex) calls.
WINSIM_API ComApartment CurrentComApartment();
WINSIM_API ULONG ComInitCount();

struct ComSecurity {
    bool initialized = false;
    DWORD authnLevel = 0;
    DWORD impLevel = 0;
    DWORD capabilities = 0;
};
// What CoInitializeSecurity set for the process; ResetComSecurity lets it be called again.
WINSIM_API ComSecurity ComProcessSecurity();
WINSIM_API void ResetComSecurity();

// Makes a class creatable with CoCreateInstance in the given contexts. The factory gets
// the outer unknown and the interface asked for; it answers as a class object's
// CreateInstance would (CLASS_E_NOAGGREGATION, E_NOINTERFACE, ...). Registering a CLSID
// again replaces its factory.
using ComClassFactory = std::function<HRESULT(IUnknown *outer, REFIID riid, void **object)>;
WINSIM_API void RegisterComClass(REFCLSID clsid, ComClassFactory factory,
                                 DWORD contexts = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER);
WINSIM_API bool UnregisterComClass(REFCLSID clsid);

// The last CoSetProxyBlanket made on a proxy.
struct ProxyBlanket {
    DWORD authnSvc;
    DWORD authzSvc;
    DWORD authnLevel;
    DWORD impLevel;
    DWORD capabilities;
};
WINSIM_API bool ProxyBlanketOf(const IUnknown *proxy, ProxyBlanket *blanket);

// ---- fault injection ----
// A fault makes a simulated call fail as Windows would: "GetVolumeInformationW with the
// argument E:\ fails with ERROR_NOT_READY". The function is the Win32 name; the argument
// is the call's first text argument (a path, a volume name), compared without regard to
// case, and an empty argument matches every call. Win32 calls fail with the error (and
// set it as the last error); COM calls return the HRESULT. A fault given once is used up
// by the first call it matches; otherwise it stays until ClearFaults.

struct Fault {
    std::string function;
    std::u16string argument;
    DWORD error = 0;
    HRESULT hresult = S_OK;
    bool once = true;
};

WINSIM_API void InjectFault(const Fault &fault);
WINSIM_API void InjectError(const std::string &function, const std::u16string &argument, DWORD error,
                            bool once = true);
WINSIM_API void InjectHresult(const std::string &function, const std::u16string &argument, HRESULT hresult,
                              bool once = true);
WINSIM_API void ClearFaults();
// For winsim's own calls (and its WMI and VSS layers): the fault that applies to this call,
// consumed when given once. False when the call should go on normally.
// Every faultable call of winsim passes here, and a fault sweep counts it.
WINSIM_API bool TakeFault(const char *function, const std::u16string &argument, Fault *fault);

// ---- fault sweep ----
// Counts the faultable calls (Win32, COM, VSS, WMI, ADO, allocations) made from now on;
// with failAt k > 0 the k-th of them fails with an error Windows documents for that call
// (ERROR_NOT_ENOUGH_MEMORY, E_OUTOFMEMORY, VSS_E_UNEXPECTED, WBEM_E_FAILED ...), once.
WINSIM_API void StartFaultSweep(size_t failAt = 0);
struct FaultSweepCount {
    size_t calls = 0;     // faultable calls counted since StartFaultSweep
    std::string failed;   // the call that was failed ("CreateFileW"); empty when none was
    DWORD error = 0;      // what it failed with: the Win32 error, or the HRESULT of a COM call
    std::vector<std::string> names;  // when nothing fails: each counted call's name, in order
};
WINSIM_API FaultSweepCount FaultableCalls();
// Stops counting; calls go on normally.
WINSIM_API void StopFaultSweep();

} // namespace winsim
