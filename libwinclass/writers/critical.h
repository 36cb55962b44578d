// The disk tests behind the critical volumes of a disaster-recovery backup (internal):
// which disks a volume lies on, whether a disk is dynamic, whether a volume lies on
// Storage Spaces, and whether a volume may be critical at all.
#pragma once

#include <platform/tvplatform.h>

#include <liblocal/volists.h>

#include <string>

namespace winclass {

// True when disk n carries LDM partitions (MBR type 0x42, or the GPT LDM metadata or
// data type). A disk that does not open or answer is not dynamic.
bool IsDynamicDisk(int disk);

// The distinct numbers of the disks whose MSFT_Disk.BusType is 16 (Storage Spaces), as a
// list of malloc'd uint32_t the caller frees with list_free_1(list, free). Returns the
// WMI HRESULT; on failure *out stays NULL.
HRESULT GetStorageSpacesDiskNumbers(vo_cell **out);

// Sets *onSpaces when some extent of the volume lies on a Storage Spaces disk (and the
// first such disk in *spacesDisk, when given). 1 when the test was made, 0 when it could
// not be (a message says why).
int IsVolumeOnStorageSpaces(const char *guid, bool *onSpaces, DWORD *spacesDisk = nullptr);

// is_volume_allowed_as_critical, with the cause of a refusal in *cause ("on Storage
// Spaces disk 4", "on a clustered disk", ...) for the decision log.
bool VolumeAllowedAsCritical(const char *path, const char *guid, std::string *cause);

} // namespace winclass
