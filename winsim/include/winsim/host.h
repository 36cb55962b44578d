// winsim: the C++ interface through which tests and tools set up the simulated host.
#pragma once

#include "winsim/types.h"

namespace winsim {

// The ANSI code page that CP_ACP stands for (1252 unless a host says otherwise).
WINSIM_API UINT AnsiCodePage();
// Selects the ANSI code page; false for a page winsim does not know or for UTF-8.
WINSIM_API bool SetAnsiCodePage(UINT codePage);

} // namespace winsim
