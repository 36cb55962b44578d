// winsim: shadow-copy devices of the simulated host. Linux only; portable code never
// includes it.
//
// A shadow copy freezes a volume's files as they are when it is made. Its files are read
// through the device path \\?\GLOBALROOT\Device\HarddiskVolumeShadowCopyN\... with the
// ordinary kernel32 file calls; the copy is read-only. Copies live until deleted or until
// another host is made current.
#pragma once

#include "winsim/types.h"

#include <string>
#include <vector>

namespace winsim {

// Freezes the files of the volume (a \\?\Volume{guid}\ path, any letter case, with or
// without the trailing backslash) as they are now; returns ERROR_SUCCESS and the device
// name \\?\GLOBALROOT\Device\HarddiskVolumeShadowCopyN (N counts up from 1 per process
// host, never reused while the host lives). Unknown volume: ERROR_FILE_NOT_FOUND;
// offline volume: ERROR_NOT_READY.
WINSIM_API DWORD CreateShadowCopy(const std::u16string &volumeGuidPath, std::u16string *device);
// Removes a device and its files; ERROR_FILE_NOT_FOUND when there is none.
WINSIM_API DWORD DeleteShadowCopy(const std::u16string &device);
// The devices that exist now, oldest first.
WINSIM_API std::vector<std::u16string> ShadowCopyDevices();

} // namespace winsim
