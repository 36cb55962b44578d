// winsim: the WMI client interfaces, as <wbemidl.h> brings them in.
#pragma once

#include "wbemcli.h"
