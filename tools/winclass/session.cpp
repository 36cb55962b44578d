#include "session.h"

#include <libwinclass/backup.h>
#include <libwinclass/conversions.h>

#include <algorithm>

namespace winclass {

namespace {

const size_t kPathUnits = 13312;

std::string Utf8OrEmpty(const char *text)
{
    return text ? std::string(text) : std::string();
}

} // namespace

wstr WindowsPath(const std::string &path)
{
    wstr wide = from_utf8(path);
    std::replace(wide.begin(), wide.end(), WCHAR('/'), WCHAR('\\'));
    return wide;
}

BackupSession::~BackupSession()
{
    if (started_)
        vsscr_destroy_snapshot_set();
}

bool BackupSession::Start(int saveType)
{
    started_ = true;
    if (struct vo_msg *failure = vsscr_init_backup(saveType, 0)) {
        output_.LibraryMessage(failure);
        return false;
    }
    if (struct vo_msg *failure = vsscr_select_for_backup()) {
        output_.LibraryMessage(failure);
        return false;
    }
    return true;
}

bool BackupSession::AddSavePath(const std::string &path)
{
    if (struct vo_msg *failure = vsscr_add_savepath(to_utf8(WindowsPath(path)).c_str())) {
        output_.LibraryMessage(failure);
        return false;
    }
    return true;
}

bool BackupSession::TakeSnapshot()
{
    std::vector<WCHAR> document(kPathUnits, 0);
    GUID setId = {};
    if (struct vo_msg *failure = vsscr_process_snap(document.size(), document.data(), &setId)) {
        output_.LibraryMessage(failure);
        return false;
    }
    documentPath_ = to_utf8(document.data());
    snapshotSetId_ = "{" + to_utf8(guid2str(setId)) + "}";
    std::transform(snapshotSetId_.begin(), snapshotSetId_.end(), snapshotSetId_.begin(),
                   [](char c) { return char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    return true;
}

bool BackupSession::Volumes(std::vector<VolumeInSet> *volumes)
{
    struct vsscr_vol_entry *first = NULL;
    if (struct vo_msg *failure = vsscr_get_snapshot_volume_list(&first)) {
        output_.LibraryMessage(failure);
        return false;
    }
    for (const vsscr_vol_entry *entry = first; entry; entry = entry->next) {
        VolumeInSet volume;
        volume.volume = Utf8OrEmpty(entry->volume_utf8);
        volume.guidName = entry->volume_guid_name ? to_utf8(entry->volume_guid_name) : std::string();
        volume.shadowPath = Utf8OrEmpty(entry->shadow_path_utf8);
        volume.driveRoot = std::string(entry->drive_root_utf8, strnlen(entry->drive_root_utf8, 4));
        volume.flags = entry->flags;
        volume.marked = entry->marked != 0;
        volumes->push_back(volume);
    }
    vsscr_free_vol_list(first);
    return true;
}

bool BackupSession::Map(const wstr &livePath, Mapping *mapping) const
{
    std::vector<WCHAR> volume(kPathUnits, 0), shadow(kPathUnits, 0), driveRoot(8, 0);
    vsscr_get_mapping(livePath.c_str(), volume.data(), volume.size(), shadow.data(), shadow.size(),
                      driveRoot.data(), driveRoot.size());
    mapping->volume = volume.data();
    mapping->shadowRoot = shadow.data();
    mapping->driveRoot = driveRoot.data();
    if (mapping->volume.empty() || mapping->shadowRoot.empty())
        return false;
    // The library hands out the pieces; the caller joins them.
    mapping->shadowPath = mapping->shadowRoot + livePath.substr(std::min(livePath.size(), mapping->volume.size()));
    return true;
}

void BackupSession::Complete()
{
    if (struct vo_msg *report = vsscr_backup_complete())
        output_.LibraryMessage(report);
    vsscr_destroy_snapshot_set();
    started_ = false;
}

} // namespace winclass
