// Shadow-copy devices as the path layer sees them: which paths name a device, where a
// device keeps its frozen files, and the handle CreateFileW gives for the bare device.
#pragma once

#include "internal.h"

namespace winsim {

// The characters of the path that name a shadow-copy device:
// \\?\GLOBALROOT\Device\HarddiskVolumeShadowCopyN (or \\.\...), the prefix in any letter
// case, N decimal digits, followed by the end of the path or a backslash. 0 for any other
// path. The device need not exist.
size_t ShadowDeviceLength(const wstring16 &path);

struct ShadowCopyLocation {
    int volume = -1;        // the copied volume, an index in CurrentHost().volumes
    std::string directory;  // where the frozen files are kept
};

// The copy a device name (exactly the name, any letter case) stands for; false when no
// such device exists now.
bool FindShadowCopy(const wstring16 &device, ShadowCopyLocation *location);

// CreateFileW of a bare device name (no trailing backslash): the device itself rather than
// its root directory, as with a volume. False when the name is not one; otherwise error is
// ERROR_SUCCESS with the new handle, or why it failed.
bool OpenShadowDevice(const wstring16 &name, DWORD desiredAccess, HANDLE &handle, DWORD &error);
bool IsShadowDeviceHandle(HANDLE handle);

} // namespace winsim
