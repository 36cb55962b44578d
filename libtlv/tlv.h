// libtlv: the client's product settings. One include for all of it.
#pragma once

#include <libtlv/tlvapi.h>
#include <libtlv/settings.h>
