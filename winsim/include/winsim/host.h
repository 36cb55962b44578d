// winsim: the C++ interface through which tests and tools set up and observe the
// simulated host. Linux only; portable code never includes it.
#pragma once

#include "winsim/types.h"

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

} // namespace winsim
