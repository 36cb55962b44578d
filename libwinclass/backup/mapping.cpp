// The publication of the volume snapshot map's views, and the exported volume list.
#include <libwinclass/backup.h>
#include <libwinclass/backup/shadowpaths.h>
#include <libwinclass/backup/sysreq.h>

#include <liblocal/local.h>

#include <cstring>
#include <new>

void CVssSysReqBackup::PublishVolSnapMap()
{
    if (publishBatches > 0) {
        publishPending = true;
        return;
    }
    publishPending = false;
    winclass::PublishVolSnapMapView(winclass::MakeVolSnapMapView(volSnapMap));
}

CVssSysReqBackup::PublishBatch::PublishBatch(CVssSysReqBackup &requester) : requester_(requester)
{
    ++requester_.publishBatches;
}

CVssSysReqBackup::PublishBatch::~PublishBatch()
{
    if (--requester_.publishBatches == 0 && requester_.publishPending)
        requester_.PublishVolSnapMap();
}

// ---- the volume list ----

namespace {

// Copies made with the library's own array allocation, released by vsscr_free_vol_list.
// NULL for an empty text; false when memory ran out.
bool CopyWide(const tv_str &text, WCHAR *&copy)
{
    copy = NULL;
    if (text.is_empty())
        return true;
    const size_t length = size_t(text.length());
    copy = new (std::nothrow) WCHAR[length + 1];
    if (copy == NULL)
        return false;
    vo_wcslcpy(copy, text, length + 1);
    return true;
}

// The UTF-8 copy gets as many bytes as the wide text has characters (and a terminator),
// so a text with characters outside ASCII is cut, at a character boundary.
bool CopyUtf8(const tv_str &text, char *&copy)
{
    copy = NULL;
    if (text.is_empty())
        return true;
    const size_t size = size_t(text.length()) + 1;
    copy = new (std::nothrow) char[size];
    if (copy == NULL)
        return false;
    vo_strlcpy(copy, text.get_utf8(), size);
    return true;
}

void FreeEntry(vsscr_vol_entry *entry)
{
    delete[] entry->volume;
    delete[] entry->shadow_path;
    delete[] entry->shadow_path_utf8;
    delete[] entry->volume_utf8;
    delete[] entry->volume_guid_name;
    memset(entry->drive_root, 0, sizeof entry->drive_root);
    delete entry;
}

vsscr_vol_entry *NewEntry(const CVssVolSnapShotMap &map)
{
    vsscr_vol_entry *entry = new (std::nothrow) vsscr_vol_entry();
    if (entry == NULL)
        return NULL;
    entry->marked = map.marked ? 1 : 0;
    entry->flags = map.flags;
    const bool copied = CopyWide(map.volume, entry->volume) && CopyUtf8(map.volume, entry->volume_utf8) &&
                        CopyWide(map.volumeGuidName, entry->volume_guid_name) &&
                        CopyWide(map.shadowPath, entry->shadow_path) &&
                        CopyUtf8(map.shadowPath, entry->shadow_path_utf8);
    if (!copied) {
        FreeEntry(entry);
        return NULL;
    }
    if (!map.driveRoot.is_empty()) {
        vo_wcslcpy(entry->drive_root, map.driveRoot, 4);
        vo_strlcpy(entry->drive_root_utf8, map.driveRoot.get_utf8(), 4);
    }
    return entry;
}

} // namespace

extern "C" {

WINCLASS_API vo_msg *vsscr_get_snapshot_volume_list(vsscr_vol_entry **first)
{
    // The list belongs to a session: make sure there is one (a failure shows as an empty
    // map, so it is not reported here).
    msg_free(BackupRequester().Init(1, 0, tv_str()));
    if (first == NULL)
        return msg_create(134870, 55000, "vsscr_return_critical_volume_list: Incorrect input argument.\n");

    *first = NULL;
    const winclass::VolSnapMapReader reader;
    vsscr_vol_entry *head = NULL;
    vsscr_vol_entry **tail = &head;
    for (const VolSnapMapViewEntry &viewEntry : reader.view().entries) {
        vsscr_vol_entry *entry = NewEntry(*viewEntry.entry);
        if (entry == NULL) {
            vsscr_free_vol_list(head);
            return msg_create(134871, 55000, "vsscr_return_critical_volume_list: out of memory.\n");
        }
        *tail = entry;
        tail = &entry->next;
    }
    *first = head;
    return NULL;
}

WINCLASS_API void vsscr_free_vol_list(vsscr_vol_entry *first)
{
    while (first != NULL) {
        vsscr_vol_entry *next = first->next;
        FreeEntry(first);
        first = next;
    }
}

} // extern "C"
