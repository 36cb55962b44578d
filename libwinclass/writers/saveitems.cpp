// Save items: what the save program backs up for each writer of a backup session, as plain
// malloc'd records (one item per writer, its components, their file-descriptor chains),
// the by-name file lists, and the releases of all of them.
#include <libwinclass/saveitems.h>

#include <libwinclass/backup.h>
#include <libwinclass/backup/sysreq.h>
#include <libwinclass/backup/trace.h>
#include <libwinclass/writers/filedesc.h>

#include <liblocal/local.h>

#include <platform/tvplatform.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// createxmlpath writes into a buffer of this many characters.
constexpr size_t kPathChars = 13312;
// Windows Server 2008 calls its internal database's writer so; the save program shows it
// under the database's own name.
const char kSqlWriterName[] = "SqlServerWriter";
const char kInternalDatabaseName[] = "Windows Internal Database";
// What the information routine reports to the save walker.
constexpr uint32_t kInfoFirst = 2;
constexpr uint32_t kInfoSecond = 47;

// Which components of a writer its save item takes.
enum class ComponentFilter { DataClass, SystemClass, All };

int SnapBackupRoutine(void *path, void *save, void *saveContext, void *item)
{
    const vo_snap_save routine = reinterpret_cast<vo_snap_save>(save);
    return nt_do_snap_backup(static_cast<const char *>(path), routine, saveContext, item) != 0 ? 1 : 0;
}

int InfoRoutine(void *, uint32_t *first, uint32_t *second)
{
    *first = kInfoFirst;
    *second = kInfoSecond;
    return 0;
}

// A wide copy that FreeFileDescList and the item releases give back with free.
WCHAR *DuplicateWide(const wstr &text) { return _wcsdup(text.c_str()); }

char *Utf8Copy(const wstr &text) { return vo_alloc_wcs_to_utf8s(text.c_str()); }

bool IsSqlWriterName(const char *utf8) { return vo_strcasecmp(utf8, kSqlWriterName) == 0; }

bool Keeps(ComponentFilter filter, const CVssWriterComp &component)
{
    switch (filter) {
    case ComponentFilter::DataClass:
        return component.backupClass == 0;
    case ComponentFilter::SystemClass:
        return component.backupClass == 1;
    case ComponentFilter::All:
        return true;
    }
    return false;
}

void FreeText(void *text) { std::free(text); }

// One component of the save chain; NULL when its wide writer name cannot be copied.
sow_component *BuildComponent(const CVssCrWriter &writer, const CVssWriterComp &component)
{
    sow_component *record = sow_init_component();
    if (record == nullptr)
        return nullptr;
    record->logical_path = Utf8Copy(component.GetLogicalPath());
    record->name = Utf8Copy(component.GetName());
    record->caption = Utf8Copy(component.GetCaption().empty() ? component.GetName() : component.GetCaption());
    record->bcd_flag = component.notSelectable ? 1 : 0;
    record->writer_name = DuplicateWide(writer.GetName());
    if (record->writer_name == nullptr) {
        sow_free_save_components(record, nullptr);
        return nullptr;
    }
    CVssWriterFileList files;
    if (component.GetFiles(files) == 0)
        record->files = winclass::BuildSaveFileChain(files);
    files.clear();
    if (component.GetDatabaseFiles(files) == 0)
        record->database_files = winclass::BuildSaveFileChain(files);
    files.clear();
    if (component.GetDatabaseLogFiles(files) == 0)
        record->database_log_files = winclass::BuildSaveFileChain(files);
    return record;
}

// The writer's kept components, chained in list order; all or none.
void BuildComponents(const CVssCrWriter &writer, ComponentFilter filter, sow_save_item &item)
{
    CVssWriterCompList components;
    writer.GetAllComponents(components);
    sow_component *first = nullptr, *last = nullptr;
    uint32_t count = 0;
    for (const std::shared_ptr<CVssWriterComp> &component : components) {
        if (!component || !Keeps(filter, *component))
            continue;
        sow_component *record = BuildComponent(writer, *component);
        if (record == nullptr) {
            sow_free_save_components(first, nullptr);
            return;
        }
        (last == nullptr ? first : last->next) = record;
        last = record;
        ++count;
    }
    item.components = first;
    item.component_count = count;
}

// One writer's save item, or NULL when the writer yields none. pathBuffer holds kPathChars
// characters and is reused from writer to writer.
sow_save_item *BuildSaveItem(const CVssCrWriter &writer, ComponentFilter filter, int saveType,
                             std::vector<WCHAR> &pathBuffer)
{
    const wstr &name = writer.GetName();
    sow_save_item *item = sow_init_walker_item();
    if (item == nullptr)
        return nullptr;
    char *utf8Name = Utf8Copy(name);
    const bool internalDatabase = is_win2008_os() != 0 && IsSqlWriterName(utf8Name);
    if (internalDatabase) {
        FreeText(utf8Name);
        utf8Name = xstrdup(kInternalDatabaseName);
    }
    item->name = utf8Name;
    item->display_name = xstrdup(utf8Name);
    item->writer_name = DuplicateWide(name);

    pathBuffer[0] = 0;
    createxmlpath(pathBuffer.data(), pathBuffer.size(), name.c_str());
    item->metadata_path = pathBuffer[0] != 0 ? vo_alloc_wcs_to_utf8s(pathBuffer.data()) : nullptr;
    long saved = E_FAIL;
    if (item->metadata_path != nullptr)
        saved = writer.SaveAsXML(wstr(pathBuffer.data()));
    if (item->writer_name == nullptr || (saveType == 1 && saved != 0)) {
        if (winclass::TraceFailures())
            debugprintf("VSS .. no save item for writer %s: %s.\n", item->name,
                        item->writer_name == nullptr ? "out of memory" : "its metadata document was not written");
        sow_free_save_item(item, nullptr);
        return nullptr;
    }

    BuildComponents(writer, filter, *item);
    if (item->component_count == 0 && winclass::TraceFailures())
        debugprintf("No components found for writer=%s", tv_str(name.c_str()).get_utf8());

    CVssWriterFileList excludes;
    if (writer.GetExcludeFile(excludes) == 0)
        item->exclude_list = winclass::BuildSaveFileChain(excludes);
    return item;
}

// Releases one descriptor chain of the save side.
void FreeChain(vsscr_filedesc *&chain)
{
    FreeFileDescList(chain);
    chain = nullptr;
}

int FreeOneComponent(sow_component *component)
{
    component->walker_state = nullptr;
    FreeText(component->writer_name);
    FreeText(component->logical_path);
    FreeText(component->name);
    FreeText(component->caption);
    component->writer_name = nullptr;
    component->logical_path = component->name = component->caption = nullptr;
    vsscr_free_writercomponent_struct(component->component_record);
    component->component_record = nullptr;
    FreeChain(component->files);
    FreeChain(component->database_files);
    FreeChain(component->database_log_files);
    std::free(component);
    return 0;
}

int FreeOneItem(sow_save_item *item)
{
    item->walker_state = nullptr;
    FreeText(item->writer_name);
    FreeText(item->name);
    FreeText(item->display_name);
    FreeText(item->metadata_path);
    item->writer_name = nullptr;
    item->name = item->display_name = item->metadata_path = nullptr;
    // A failed component release keeps the item, so that nothing it still points to is lost.
    if (sow_free_save_components(item->components, nullptr) == -1)
        return -1;
    item->components = nullptr;
    if (item->keep_exclude_list == 0)
        FreeChain(item->exclude_list);
    std::free(item);
    return 0;
}

// The writer of a by-name request, or NULL when the name is missing or not known.
std::shared_ptr<CVssCrWriter> WriterNamed(const WCHAR *writerName)
{
    std::shared_ptr<CVssCrWriter> writer;
    if (writerName == nullptr)
        return writer;
    wstr name(writerName);
    if (CVssCr::Instance()->GetWriterByName(name, writer) != 0)
        writer.reset();
    return writer;
}

using ComponentList = long (CVssWriterComp::*)(CVssWriterFileList &) const;

// One of a component's three file lists, for a writer and a component named by the caller.
void ComponentChain(const WCHAR *writerName, const sow_component *component, vsscr_filedesc **out,
                    ComponentList list)
{
    *out = nullptr;
    const std::shared_ptr<CVssCrWriter> writer = WriterNamed(writerName);
    if (!writer || component == nullptr || component->name == nullptr)
        return;
    const tv_str wideName(component->name, tv_str::TCS_CP_UTF8);
    const WCHAR *wide = wideName;
    std::shared_ptr<CVssWriterComp> found;
    if (writer->GetCompByName(wide != nullptr ? wstr(wide) : wstr(), found) != 0 || !found)
        return;
    CVssWriterFileList files;
    if (((*found).*list)(files) == 0)
        *out = winclass::BuildSaveFileChain(files);
}

} // namespace

namespace winclass {

vsscr_filedesc *BuildSaveFileChain(const CVssWriterFileList &files)
{
    vsscr_filedesc *first = nullptr, *last = nullptr;
    for (const std::shared_ptr<CVssWriterFile> &file : files) {
        if (!file)
            continue;
        auto *descriptor = static_cast<vsscr_filedesc *>(xcalloc(1, sizeof(vsscr_filedesc)));
        (last == nullptr ? first : last->next) = descriptor;
        last = descriptor;
        descriptor->recursive = file->IsRecursive() ? 1 : 0;
        descriptor->filespec = DuplicateWide(file->GetFileSpec());
        descriptor->filespec_length = file->GetFileSpec().size();
        bool complete = descriptor->filespec != nullptr;
        const wstr &alternate = file->GetAlternateLocation();
        if (!alternate.empty()) {
            descriptor->has_alternate = 1;
            descriptor->alternate_path = DuplicateWide(alternate);
            descriptor->alternate_length = alternate.size();
            complete = complete && descriptor->alternate_path != nullptr;
        }
        const wstr &path = file->GetPath();
        if (!path.empty()) {
            descriptor->path = DuplicateWide(path);
            descriptor->path_length = path.size();
            complete = complete && descriptor->path != nullptr;
        }
        if (!complete) {
            FreeFileDescList(first);
            return nullptr;
        }
    }
    return first;
}

} // namespace winclass

extern "C" {

sow_save_item *sow_init_walker_item(void)
{
    auto *item = static_cast<sow_save_item *>(std::calloc(1, sizeof(sow_save_item)));
    if (item == nullptr)
        return nullptr;
    item->one_68 = 1;
    item->backup_routine = SnapBackupRoutine;
    item->info_routine = InfoRoutine;
    return item;
}

sow_component *sow_init_component(void)
{
    auto *component = static_cast<sow_component *>(std::calloc(1, sizeof(sow_component)));
    if (component == nullptr)
        return nullptr;
    component->one_68 = 1;
    component->two_80 = 2;
    component->backup_routine = SnapBackupRoutine;
    component->info_routine = InfoRoutine;
    return component;
}

// Each item is detached and released on its own; the rest of the chain is released even
// when one item could not be, and the result says so.
int sow_free_save_item(sow_save_item *first, void *)
{
    int result = 0;
    while (first != nullptr) {
        sow_save_item *next = first->next;
        first->next = nullptr;
        if (FreeOneItem(first) == -1)
            result = -1;
        first = next;
    }
    return result;
}

int sow_free_save_components(sow_component *first, void *)
{
    int result = 0;
    while (first != nullptr) {
        sow_component *next = first->next;
        first->next = nullptr;
        if (FreeOneComponent(first) == -1)
            result = -1;
        first = next;
    }
    return result;
}

void FreeFileDescList(vsscr_filedesc *first)
{
    while (first != nullptr) {
        vsscr_filedesc *next = first->next;
        FreeText(first->path);
        FreeText(first->filespec);
        FreeText(first->alternate_path);
        first->path = first->filespec = first->alternate_path = nullptr;
        std::free(first);
        first = next;
    }
}

sow_save_item *vsscr_get_writer_list(int listType)
{
    CVssSysReqBackup &requester = BackupRequester();
    CVssCrWriterList writers;
    ComponentFilter filter;
    switch (listType) {
    case 3:
        writers = requester.GetUserDataWriters();
        filter = ComponentFilter::DataClass;
        break;
    case 4:
        writers = requester.GetUnsupportedWriters();
        filter = ComponentFilter::All;
        break;
    case 8:
        writers = requester.GetSystemStateWriters();
        filter = ComponentFilter::SystemClass;
        break;
    default:
        return nullptr;
    }
    std::vector<WCHAR> pathBuffer(kPathChars, 0);
    sow_save_item *first = nullptr, *last = nullptr;
    for (const std::shared_ptr<CVssCrWriter> &writer : writers) {
        sow_save_item *item = writer ? BuildSaveItem(*writer, filter, requester.saveType, pathBuffer) : nullptr;
        if (item == nullptr) {
            // All writers or none: the save program cannot back up half a list.
            sow_free_save_item(first, nullptr);
            return nullptr;
        }
        (last == nullptr ? first : last->next) = item;
        last = item;
    }
    return first;
}

int vsscr_get_comp_file_group_list(const WCHAR *writerName, sow_component *component, vsscr_filedesc **out)
{
    if (writerName != nullptr && out != nullptr)
        ComponentChain(writerName, component, out, &CVssWriterComp::GetFiles);
    return 0;
}

int vsscr_get_comp_database_list(const WCHAR *writerName, sow_component *component, vsscr_filedesc **out)
{
    if (writerName != nullptr && out != nullptr && component != nullptr && component->name != nullptr)
        ComponentChain(writerName, component, out, &CVssWriterComp::GetDatabaseFiles);
    return 0;
}

int vsscr_get_comp_db_logfile_group_list(const WCHAR *writerName, sow_component *component, vsscr_filedesc **out)
{
    if (writerName != nullptr && out != nullptr)
        ComponentChain(writerName, component, out, &CVssWriterComp::GetDatabaseLogFiles);
    return 0;
}

int vsscr_get_exclude_list(const WCHAR *writerName, vsscr_filedesc **out)
{
    if (writerName == nullptr || out == nullptr)
        return 0;
    *out = nullptr;
    const std::shared_ptr<CVssCrWriter> writer = WriterNamed(writerName);
    CVssWriterFileList files;
    if (writer && writer->GetExcludeFile(files) == 0)
        *out = winclass::BuildSaveFileChain(files);
    return 0;
}

int vsscr_save_writer_to_xml(const WCHAR *writerName, void *, const WCHAR *path)
{
    const std::shared_ptr<CVssCrWriter> writer = WriterNamed(writerName);
    if (writer && path != nullptr)
        writer->SaveAsXML(wstr(path));
    return 0;
}

} // extern "C"
