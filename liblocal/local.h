// liblocal: the client's portable runtime. One include for all of it.
#pragma once

#include <liblocal/localapi.h>
#include <liblocal/numbers.h>
#include <liblocal/output.h>
#include <liblocal/messages.h>
#include <liblocal/debuglog.h>
#include <liblocal/vostrings.h>
#include <liblocal/xalloc.h>
#include <liblocal/voerror.h>
#include <liblocal/vofiles.h>
#include <liblocal/vohost.h>
#include <liblocal/volists.h>
#include <liblocal/voshadow.h>
#include <liblocal/vosystem.h>
