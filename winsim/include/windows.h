// winsim: the umbrella header of the simulated Win32 platform.
#pragma once

#include "winsim/types.h"
#include "winsim/crt.h"
#include "winerror.h"
#include "winnt.h"
#include "winbase.h"
#include "winnls.h"
#include "winsim/wprintf.h"
#include "winreg.h"
