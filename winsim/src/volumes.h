// Volumes and disks of the current host, shared by the volume calls (volumes.cpp), the
// device handles (devices.cpp) and CreateFileW (files.cpp).
#pragma once

#include "internal.h"

namespace winsim {

// The index in CurrentHost().volumes of a volume named "\\?\Volume{guid}\"; -1 if none.
int VolumeIndexOfName(const wstring16 &volumeName);

// CreateFileW of a device name: \\?\Volume{guid} or \\.\Volume{guid} (no trailing
// backslash), \\.\X: and \\.\PhysicalDriveN. False when the name is not a device name;
// otherwise error is ERROR_SUCCESS with the new handle, or why it failed.
bool OpenDevice(const wstring16 &name, HANDLE &handle, DWORD &error);

} // namespace winsim
