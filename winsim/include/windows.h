// winsim: the umbrella header of the simulated Win32 platform.
#pragma once

// A C program gets the part of the platform the library's C interface names.
#ifndef __cplusplus
#include "winsim/cinterface.h"
#else

#include "winsim/types.h"
#include "winsim/crt.h"
#include "winerror.h"
#include "winnt.h"
#include "winbase.h"
#include "winnls.h"
#include "winsim/wprintf.h"
#include "winreg.h"

#endif // __cplusplus
