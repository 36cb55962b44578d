// liblocal: the client's portable runtime. One include for all of it.
#pragma once

#include <liblocal/localapi.h>
#include <liblocal/numbers.h>
