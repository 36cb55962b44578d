// The shadow-path lookups, each answered from one view of the volume snapshot map. The
// exported functions take the current view and call these; the arguments and results are
// theirs (libwinclass/backup.h).
#pragma once

#include <libwinclass/backup/volsnapmap.h>

namespace winclass {

int GetMapping(const VolSnapMapView &view, const WCHAR *path, WCHAR *volume, size_t volumeSize, WCHAR *shadow,
               size_t shadowSize, WCHAR *driveRoot, size_t driveRootSize);
int GetShadowCopyRootPath(const VolSnapMapView &view, const WCHAR *path, WCHAR *buffer, size_t size);
int IsSnapshotPath(const VolSnapMapView &view, const char *path);
int IsSnapshotRoot(const VolSnapMapView &view, const char *path, char *buffer, size_t size);
int IsSnapshotMountpointRoot(const VolSnapMapView &view, const char *path, char *buffer, size_t size);
void TranslateToPhysical(const VolSnapMapView &view, const char *path, char *buffer, size_t size);

} // namespace winclass
