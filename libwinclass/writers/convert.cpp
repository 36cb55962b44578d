// Restore side of the writer file lists: a writer's files as descriptor chains whose paths
// the client can open, the writer's exclude files with their messages, and the recover
// program's record of one component.
#include <libwinclass/writers/filedesc.h>

#include <libwinclass/backup/errortext.h>
#include <libwinclass/backup/trace.h>
#include <libwinclass/conversions.h>

#include <liblocal/local.h>

#include <new>
#include <string>
#include <vector>

namespace {

constexpr int kCodeExcludeList = 53000;
// A drive-letter boot path is built in a buffer of at least this many characters.
constexpr size_t kBootPathChars = 260;
const HRESULT kNoMemory = HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);

bool StartsWith(const wstr &text, const char *prefix)
{
    size_t i = 0;
    for (; prefix[i] != 0; ++i) {
        if (i >= text.size() || text[i] != WCHAR(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

bool EndsWith(const wstr &text, const wstr &suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A zero-filled text buffer of the library's own allocation; NULL when memory ran out.
WCHAR *NewText(size_t chars) { return new (std::nothrow) WCHAR[chars](); }

// A run of text: where it starts and how many characters it has.
struct Piece {
    const WCHAR *text;
    size_t chars;
};

Piece Whole(const wstr &text) { return {text.data(), text.size()}; }

// head followed by tail in one buffer of at least their length plus the NUL, so that a
// rewritten path costs one allocation.
WCHAR *NewJoined(Piece head, Piece tail, size_t bufferChars = 0)
{
    const size_t chars = head.chars + tail.chars;
    WCHAR *joined = NewText(bufferChars > chars ? bufferChars : chars + 1);
    if (joined == nullptr)
        return nullptr;
    if (head.chars != 0)
        std::char_traits<WCHAR>::copy(joined, head.text, head.chars);
    if (tail.chars != 0)
        std::char_traits<WCHAR>::copy(joined + head.chars, tail.text, tail.chars);
    return joined;
}

WCHAR *NewCopy(const wstr &text) { return NewJoined(Whole(text), {nullptr, 0}); }

void FreeChain(vsscr_filedesc *first)
{
    while (first != nullptr) {
        vsscr_filedesc *next = first->next;
        delete[] first->path;
        delete[] first->filespec;
        delete[] first->alternate_path;
        delete first;
        first = next;
    }
}

// Owns a chain (or a descriptor and what was appended to it) until it is handed on.
struct ChainOwner {
    vsscr_filedesc *first = nullptr;
    ~ChainOwner() { FreeChain(first); }
    vsscr_filedesc *release()
    {
        vsscr_filedesc *chain = first;
        first = nullptr;
        return chain;
    }
};

struct MountEntry {
    wstr device;     // \\?\Volume{...}\ as the mount table gives it
    wstr mountDir;   // C: or C:\Mount\Folder
    std::string fileSystem;
};

// A failed mount-table read as the HRESULT the conversion returns.
HRESULT MountTableError(int code)
{
    if (code < 0)
        return HRESULT(code);
    return HRESULT(0x80070000u | (static_cast<unsigned>(code) & 0xFFFFu));
}

// The mount table, read once per conversion call when a file first needs it.
class MountTable {
public:
    HRESULT Load()
    {
        if (loaded_)
            return S_OK;
        // getfstab answers NULL both for an empty table and for a failure; only a
        // failure leaves an error behind.
        vo_error_set_last(0, VO_ERR_NONE);
        vo_fstab_entry *table = getfstab();
        if (table == nullptr && vo_error_get_last() != 0)
            return MountTableError(vo_error_get_last());
        for (const vo_fstab_entry *entry = table; entry != nullptr; entry = entry->next) {
            entries_.push_back({from_utf8(entry->device != nullptr ? entry->device : ""),
                                from_utf8(entry->mountdir != nullptr ? entry->mountdir : ""),
                                entry->fstype != nullptr ? entry->fstype : ""});
        }
        vo_free_fstab(table);
        loaded_ = true;
        return S_OK;
    }
    const std::vector<MountEntry> &Entries() const { return entries_; }

private:
    bool loaded_ = false;
    std::vector<MountEntry> entries_;
};

// The drive root whose volume GUID path occurs in the path, the first in alphabetical
// order; the GUID path and root are empty when no drive letter's volume does.
void BootDriveOf(const wstr &path, wstr &root, wstr &guidPath)
{
    root.clear();
    guidPath.clear();
    WCHAR drive[] = {'A', ':', '\\', 0};
    for (WCHAR letter = 'A'; letter <= 'Z'; ++letter) {
        drive[0] = letter;
        WCHAR volume[kBootPathChars] = {};
        if (!GetVolumeNameForVolumeMountPointW(drive, volume, DWORD(kBootPathChars)))
            continue;
        if (volume[0] != 0 && path.find(volume) != wstr::npos) {
            root = drive;
            guidPath = volume;
            return;
        }
    }
}

bool IsBootDirectory(const wstr &path)
{
    static const wstr kBoot = W("\\Boot");
    return path.size() >= 6 && path.find(W("\\\\?\\Volume{")) != wstr::npos && EndsWith(path, kBoot);
}

std::string Utf8(const wstr &text) { return to_utf8(text); }

class Converter {
public:
    explicit Converter(const tv_str &writerName)
    {
        const WCHAR *wide = writerName;
        writerName_ = wide != nullptr ? wstr(wide) : wstr();
    }

    // Fills the descriptor (and appends the further ones a rooted path makes). 0 with
    // the descriptor's path NULL means: stop here, keeping the chain so far.
    HRESULT Convert(const CVssWriterFile &file, vsscr_filedesc *descriptor)
    {
        const HRESULT result = ConvertPath(file.GetPath(), descriptor);
        if (result < 0 || descriptor->path == nullptr)
            return result;
        for (vsscr_filedesc *d = descriptor; d != nullptr; d = d->next) {
            d->filespec = NewCopy(file.GetFileSpec());
            if (d->filespec == nullptr)
                return kNoMemory;
            d->filespec_length = file.GetFileSpec().size() + 1;
            d->recursive = file.IsRecursive() ? 1 : 0;
            const wstr &alternate = file.GetAlternateLocation();
            if (alternate.empty())
                continue;
            d->has_alternate = 1;
            d->alternate_path = NewCopy(alternate);
            if (d->alternate_path == nullptr)
                return kNoMemory;
            d->alternate_length = alternate.size() + 1;
        }
        return S_OK;
    }

private:
    static HRESULT SetPath(vsscr_filedesc *descriptor, Piece head, Piece tail, size_t length, size_t bufferChars = 0)
    {
        descriptor->path = NewJoined(head, tail, bufferChars);
        if (descriptor->path == nullptr)
            return kNoMemory;
        descriptor->path_length = length;
        return S_OK;
    }

    // The rules are tested on the path's UTF-8 form in the order below. Their prefixes are
    // ASCII, so they are tested on the wide text: the same characters at the same places,
    // once the one free position of the replication form is known to be ASCII too.
    HRESULT ConvertPath(const wstr &path, vsscr_filedesc *descriptor)
    {
        const size_t n = path.size() + 1;
        if (StartsWith(path, "\\\\?\\") && path.size() > 6 && path[4] < 0x80 && path[5] == '\\' &&
            path[6] == '\\' && writerName_ == W("FRS Writer"))
            return SetPath(descriptor, {path.data() + 4, path.size() - 4}, {nullptr, 0}, path.size() - 4 + 1);
        if (StartsWith(path, "\\\\\\\\GL"))
            return SetPath(descriptor, Whole(path), {nullptr, 0}, n);
        if (StartsWith(path, "\\\\?\\Vo") && IsBootDirectory(path)) {
            wstr root;
            wstr guidPath;
            BootDriveOf(path, root, guidPath);
            if (root.empty())
                return SetPath(descriptor, Whole(path), {nullptr, 0}, n);
            const size_t rest = path.find(guidPath) + guidPath.size();
            const Piece tail = {path.data() + rest, path.size() - rest};
            return SetPath(descriptor, Whole(root), tail, root.size() + tail.chars + 1, kBootPathChars);
        }
        if (StartsWith(path, "\\\\?"))
            return FromMountTable(path, descriptor);
        if (StartsWith(path, "\\\\.")) {
            if (winclass::TraceSetup())
                debugprintf("Info: found raw device [%s] as file path\n", Utf8(path).c_str());
            return S_OK;
        }
        if (StartsWith(path, "\\"))
            return OnEveryLocalVolume(path, descriptor);
        return SetPath(descriptor, Whole(path), {nullptr, 0}, n);
    }

    // A volume GUID path as the directory the volume is mounted at.
    HRESULT FromMountTable(const wstr &path, vsscr_filedesc *descriptor)
    {
        const HRESULT loaded = mounts_.Load();
        if (loaded != S_OK)
            return loaded;
        for (const MountEntry &entry : mounts_.Entries()) {
            if (entry.mountDir.empty() || path.find(entry.device) == wstr::npos)
                continue;
            Piece head = Whole(entry.mountDir);
            if (head.chars > 1 && head.text[head.chars - 1] == '\\')
                --head.chars;
            Piece tail = {nullptr, 0};
            const size_t brace = path.find('}');
            if (brace != wstr::npos && brace + 2 < path.size() && path[brace + 1] == '\\')
                tail = {path.data() + brace + 1, path.size() - brace - 1};
            return SetPath(descriptor, head, tail, head.chars + tail.chars + 1);
        }
        if (winclass::TraceSetup()) {
            const std::string utf8 = Utf8(path);
            debugprintf("No drive letter found corresponding to %s found in vol table\n", utf8.c_str());
            debugprintf("%s file which is under %s will not be added to directives\n", utf8.c_str(),
                        Utf8(writerName_).c_str());
        }
        return S_OK;
    }

    // A path rooted on no drive: once on every local NTFS or FAT32 drive.
    HRESULT OnEveryLocalVolume(const wstr &path, vsscr_filedesc *descriptor)
    {
        const HRESULT loaded = mounts_.Load();
        if (loaded != S_OK)
            return loaded;
        const size_t bufferChars = path.size() + 1 + 3;
        vsscr_filedesc *target = descriptor;
        vsscr_filedesc *last = descriptor;
        for (const MountEntry &entry : mounts_.Entries()) {
            if ((entry.fileSystem != "NTFS" && entry.fileSystem != "FAT32") || entry.mountDir.size() < 2 ||
                entry.mountDir.size() > 3)
                continue;
            if (target == nullptr) {
                target = new (std::nothrow) vsscr_filedesc();
                if (target == nullptr)
                    return kNoMemory;
                last->next = target;
                last = target;
            }
            const HRESULT set = SetPath(target, Whole(entry.mountDir), Whole(path), bufferChars, bufferChars);
            if (set != S_OK)
                return set;
            target = nullptr;
        }
        return S_OK;
    }

    wstr writerName_;
    MountTable mounts_;
};

WCHAR *CopyUnlessEmpty(const wstr &text, size_t &length, bool &failed)
{
    length = 0;
    if (text.empty())
        return nullptr;
    WCHAR *copy = NewCopy(text);
    if (copy == nullptr) {
        failed = true;
        return nullptr;
    }
    length = text.size() + 1;
    return copy;
}

} // namespace

HRESULT ConvertWriterFiles(const tv_str &writerName, const CVssWriterFileList &files, vsscr_filedesc **out)
{
    if (out == nullptr)
        return E_INVALIDARG;
    *out = nullptr;
    Converter converter(writerName);
    ChainOwner chain;
    vsscr_filedesc **tail = &chain.first;
    for (const std::shared_ptr<CVssWriterFile> &file : files) {
        if (!file)
            continue;  // no file object, nothing to describe
        ChainOwner converted;
        converted.first = new (std::nothrow) vsscr_filedesc();
        if (converted.first == nullptr)
            return kNoMemory;
        const HRESULT result = converter.Convert(*file, converted.first);
        if (result < 0)
            return result;
        if (converted.first->path == nullptr) {
            *out = chain.release();
            return result;
        }
        *tail = converted.release();
        while (*tail != nullptr)
            tail = &(*tail)->next;
    }
    *out = chain.release();
    return S_OK;
}

struct vo_msg *GetWriterExcludeFiles(const std::shared_ptr<CVssCrWriter> &writer, vsscr_filedesc **out)
{
    if (out != nullptr)
        *out = nullptr;
    if (!writer || out == nullptr)
        return msg_create(115361, kCodeExcludeList, "Unable to retrieve exclude file list: Invalid Parameters.\n");
    const wstr &name = writer->GetName();
    CVssWriterFileList excludeFiles;
    char errorText[winclass::kErrorTextMinimum] = {};
    const long listed = writer->GetExcludeFile(excludeFiles);
    if (listed != 0) {
        winclass::FormatErrorText(static_cast<uint32_t>(listed), sizeof errorText, errorText);
        return msg_create(115337, kCodeExcludeList, "Unable to retrieve exclude file list for %s:%s\n", VO_ARG_NAME,
                          Utf8(name).c_str(), VO_ARG_ERRTEXT, errorText);
    }
    const HRESULT converted = ConvertWriterFiles(tv_str(name.c_str()), excludeFiles, out);
    if (converted != 0) {
        winclass::FormatErrorText(static_cast<uint32_t>(converted), sizeof errorText, errorText);
        return msg_create(115336, kCodeExcludeList, "Unable to copy exclude file list for %s:%s\n", VO_ARG_NAME,
                          Utf8(name).c_str(), VO_ARG_ERRTEXT, errorText);
    }
    return nullptr;
}

int BuildWriterComponentRecord(const std::shared_ptr<CVssWriterComp> &component, vsscr_writercomponent **out,
                               uint32_t index)
{
    if (out == nullptr)
        return 0;
    *out = nullptr;
    if (!component)
        return 0;
    vsscr_writercomponent *record = new (std::nothrow) vsscr_writercomponent();
    if (record == nullptr)
        return 0;
    record->kind = 2;
    record->bcd_flag = component->notSelectable ? 1 : 0;
    record->restore_subcomponent = component->IsRestoreSubcomponent() ? 1 : 0;
    bool failed = false;
    record->name = CopyUnlessEmpty(component->GetName(), record->name_length, failed);
    record->caption = CopyUnlessEmpty(component->GetCaption(), record->caption_length, failed);
    record->logical_path = CopyUnlessEmpty(component->GetLogicalPath(), record->logical_path_length, failed);
    if (failed) {
        delete[] record->name;
        delete[] record->caption;
        delete[] record->logical_path;
        delete record;
        return 0;
    }
    record->component_type = static_cast<uint32_t>(component->GetComponentType());
    record->index = index;
    record->component_flags = component->componentFlags;
    *out = record;
    return 0;
}

extern "C" void vsscr_free_filedesc_struct(int kind, struct vsscr_filedesc *first)
{
    // Only the restore side's chains (kind 0) are this function's to release.
    if (kind == 0)
        FreeChain(first);
}
