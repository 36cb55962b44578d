// The exported shadow-path lookups and the volume list. Each call takes the current view
// of the volume snapshot map once and answers from it alone, so a change made meanwhile
// by the session's thread is never seen half done. The three vsscr_is_snapshot_* tests
// are the callbacks the host runtime calls for every path it meets, on any thread.
#include <libwinclass/backup.h>
#include <libwinclass/backup/shadowpaths.h>
#include <libwinclass/backup/sysreq.h>

std::shared_ptr<const VolSnapMapView> CVssSysReqBackup::SnapshotOfVolSnapMap()
{
    return winclass::CurrentVolSnapMapView();
}

void CVssSysReqBackup::PublishVolSnapMap()
{
    winclass::PublishVolSnapMapView(winclass::MakeVolSnapMapView(volSnapMap));
}

extern "C" {

WINCLASS_API int vsscr_get_mapping(const WCHAR *path, WCHAR *volume, size_t volumeSize, WCHAR *shadow,
                                   size_t shadowSize, WCHAR *driveRoot, size_t driveRootSize)
{
    const std::shared_ptr<const VolSnapMapView> view = CVssSysReqBackup::SnapshotOfVolSnapMap();
    return winclass::GetMapping(*view, path, volume, volumeSize, shadow, shadowSize, driveRoot, driveRootSize);
}

WINCLASS_API int vsscr_get_shadowcopy_rootpath(const WCHAR *path, WCHAR *buffer, size_t size)
{
    const std::shared_ptr<const VolSnapMapView> view = CVssSysReqBackup::SnapshotOfVolSnapMap();
    return winclass::GetShadowCopyRootPath(*view, path, buffer, size);
}

WINCLASS_API int vsscr_is_snapshot_path(const char *path)
{
    const std::shared_ptr<const VolSnapMapView> view = CVssSysReqBackup::SnapshotOfVolSnapMap();
    return winclass::IsSnapshotPath(*view, path);
}

WINCLASS_API int vsscr_is_snapshot_root(const char *path, char *buffer, size_t size)
{
    const std::shared_ptr<const VolSnapMapView> view = CVssSysReqBackup::SnapshotOfVolSnapMap();
    return winclass::IsSnapshotRoot(*view, path, buffer, size);
}

WINCLASS_API int vsscr_is_snapshot_mountpoint_root(const char *path, char *buffer, size_t size)
{
    const std::shared_ptr<const VolSnapMapView> view = CVssSysReqBackup::SnapshotOfVolSnapMap();
    return winclass::IsSnapshotMountpointRoot(*view, path, buffer, size);
}

WINCLASS_API void vsscr_translate_to_physical(const char *path, char *buffer, size_t size)
{
    const std::shared_ptr<const VolSnapMapView> view = CVssSysReqBackup::SnapshotOfVolSnapMap();
    winclass::TranslateToPhysical(*view, path, buffer, size);
}

} // extern "C"
