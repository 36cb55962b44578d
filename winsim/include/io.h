// winsim: <io.h> of the Windows CRT (_waccess, _wunlink); see winsim/crt.h.
#pragma once

#include "winsim/crt.h"
