// libwinclass: what the host says about itself.
#pragma once

#include <libwinclass/winclassapi.h>
#ifdef __cplusplus
#include <libwinclass/tv_str.h>
#endif

struct vo_msg;

#ifdef __cplusplus
extern "C" {

// The maker and model of the computer from Win32_ComputerSystem in \\.\Root\CIMV2.
// NULL on success (both outputs set); otherwise message 101575 for the caller to print and
// free with msg_free. The outputs are set one after the other: a failure leaves what was
// not yet read unchanged. C++ only, as tv_str is.
WINCLASS_API struct vo_msg *get_system_manufacturer_info(tv_str &manufacturer, tv_str &model);
#endif

// The scratch directory of this process: baseDir (or the client's temporary directory for
// NULL), a backslash and a new UUID in lower-case text. Made once per process: later calls
// return the same path whatever baseDir they pass. The directory itself is not created.
// The text is the library's and lives as long as the process. NULL when no UUID could be
// made, or when the base leaves no room for the whole path in 260 bytes (UTF-8, with the
// terminator); nothing is kept then, and the next call tries again.
WINCLASS_API const char *get_unique_per_process_dir_path(const char *baseDir);

// Writes OSSR_Sysinfo.xml, the inventory a bare-metal recovery rebuilds the machine from
// (host, network adapters with their addresses, disks and partitions, fixed volumes with
// their layout and mount points, Storage Spaces pools), into the directory that
// get_unique_per_process_dir_path names; an existing file there is replaced. The directory
// must exist. Returns 1 when the document was written completely, and also on an operating
// system older than Windows 8 / Server 2012, where no document is written; 0 on any failure
// (the messages say which), leaving the part already written in the file.
WINCLASS_API int write_ossr_sysinfo(void);

#ifdef __cplusplus
} // extern "C"
#endif
