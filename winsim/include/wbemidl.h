// winsim: the WMI client interfaces, as <wbemidl.h> brings them in.
#pragma once

// A C program gets the part of the platform the library's C interface names.
#ifndef __cplusplus
#include "winsim/cinterface.h"
#else

#include "wbemcli.h"

#endif // __cplusplus
