// libwinclass: what the host says about itself.
#pragma once

#include <libwinclass/winclassapi.h>
#include <libwinclass/tv_str.h>

struct vo_msg;

extern "C" {

// The maker and model of the computer from Win32_ComputerSystem in \\.\Root\CIMV2.
// NULL on success (both outputs set); otherwise message 101575 for the caller to print and
// free with msg_free. The outputs are set one after the other: a failure leaves what was
// not yet read unchanged.
WINCLASS_API struct vo_msg *get_system_manufacturer_info(tv_str &manufacturer, tv_str &model);

} // extern "C"
