// winsim: <direct.h> of the Windows CRT (_wmkdir); see winsim/crt.h.
#pragma once

#include "winsim/crt.h"
