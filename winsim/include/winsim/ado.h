// winsim: the C++ interface through which tests look at the simulated ADO objects. Linux
// only. The answers come from the host's SQL Server instances (winsim/hostmodel.h); the
// fault "Recordset::Open" with the instance named in Data Source (HOST or HOST\INSTANCE, a
// host "." or "(local)" already read as the host name; empty for any) makes Open return
// the fault's HRESULT before it connects.
#pragma once

#include "winsim/types.h"

#include <cstddef>

namespace winsim {

// Recordsets, field collections and fields not yet released.
WINSIM_API size_t LiveAdoObjects();

// The Recordset class is registered with CoCreateInstance (in-process server) when
// libwinsim loads; a test that unregistered it registers it again here.
WINSIM_API void RegisterAdoRecordset();

} // namespace winsim
