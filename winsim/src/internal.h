// winsim internals shared between its source files.
#pragma once

#include <windows.h>

#include "winsim/host.h"

#include <cstring>
