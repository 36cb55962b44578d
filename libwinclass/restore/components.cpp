// What the recover program asks of each saved writer (restore method, usage type, ID,
// exclude files, components and their files, alternate locations) and the selection it
// makes before the pre-restore event: whole writers or single components, authoritative
// or not, and alternate location mappings.
#include <libwinclass/restore.h>

#include <libwinclass/backup/trace.h>
#include <libwinclass/restore/sysrestore.h>
#include <libwinclass/wmi/comref.h>
#include <libwinclass/writers/filedesc.h>

#include <liblocal/local.h>

#include <cstring>
#include <new>

using winclass::ErrorText;
using winclass::kCodeRestore;
using winclass::UnknownWriter;

namespace {

// Both words quoted and joined by '=', no spaces: the form writers parse.
const WCHAR kAuthoritativeOptions[] = W("\"Authoritative\"=\"All\"");
// This writer's authoritative restore goes through SetAuthoritativeRestore; options text
// is not what it reads.
const char kClusterDatabaseWriter[] = "Cluster Database";
const IID kBackupComponentsEx2Id = {0xacfe2b3a, 0x22c9, 0x4ef8, {0xbd, 0x03, 0x2f, 0x9c, 0xa2, 0x30, 0x08, 0x4e}};

std::string Utf8(const wstr &text) { return tv_str(text.c_str()).get_utf8(); }

// A message with a name and the error text of code.
vo_msg *NameError(int number, const char *format, const std::string &name, long code)
{
    const ErrorText error(code);
    return msg_create(number, kCodeRestore, format, VO_ARG_NAME, name.c_str(), VO_ARG_ERRTEXT, error.text);
}

std::shared_ptr<CVssCrWriter> FindWriter(const char *writerName)
{
    return RestoreRequester().FindWriter(writerName);
}

// The session's VSS object, or null when no session is open.
IVssBackupComponents *SessionComponents()
{
    CVssCr *cr = RestoreRequester().cr;
    return cr != nullptr ? cr->backupComponents : nullptr;
}

// One component's node of vsscr_get_comp_info: its record and its three file lists.
// Failures name the caller's writer name.
vo_msg *FillComponentNode(const char *writerName, const tv_str &writerText,
                          const std::shared_ptr<CVssWriterComp> &component, uint32_t index, vsscr_compinfo *node)
{
    BuildWriterComponentRecord(component, &node->component, index);
    if (node->component == nullptr)
        return NameError(115364, "Unable to get copy %s component information:%s\n", writerName, E_OUTOFMEMORY);
    struct FileList {
        long (CVssWriterComp::*get)(CVssWriterFileList &) const;
        vsscr_filedesc **out;
        int readNumber;
        const char *readFormat;
        int copyNumber;
        const char *copyFormat;
    };
    const FileList lists[] = {
        {&CVssWriterComp::GetFiles, &node->files, 115365, "Unable to retrieve %s component file list:%s\n", 115366,
         "Unable to copy %s component file list:%s\n"},
        {&CVssWriterComp::GetDatabaseFiles, &node->database_files, 115367,
         "Unable to retrieve %s component database file list:%s\n", 115368,
         "Unable to copy %s component database file list:%s\n"},
        {&CVssWriterComp::GetDatabaseLogFiles, &node->database_log_files, 115369,
         "Unable to retrieve %s component database log file list:%s\n", 115370,
         "Unable to copy %s component database log file list:%s\n"},
    };
    for (const FileList &list : lists) {
        CVssWriterFileList files;
        const long listed = ((*component).*list.get)(files);
        if (listed != 0)
            return NameError(list.readNumber, list.readFormat, writerName, listed);
        const HRESULT converted = ConvertWriterFiles(writerText, files, list.out);
        if (converted != 0)
            return NameError(list.copyNumber, list.copyFormat, writerName, converted);
    }
    return nullptr;
}

// Every component of the writer for restore; authoritative as the cluster database
// writer understands it, or by options text for the others. The first failure ends the
// walk; what was selected before it stays.
vo_msg *SelectWholeWriter(const char *writerName, bool authoritative)
{
    std::shared_ptr<CVssCrWriter> writer = FindWriter(writerName);
    if (!writer)
        return UnknownWriter(writerName);
    const std::string name = Utf8(writer->GetName());
    CVssWriterCompList components;
    const long listed = writer->GetAllComponents(components);
    if (listed != 0)
        return NameError(115362, "Unable to get components of %s:%s\n", name, listed);
    const bool clusterDatabase = vo_strcasecmp(writerName, kClusterDatabaseWriter) == 0;
    for (const std::shared_ptr<CVssWriterComp> &component : components) {
        component->SetSelected(true);
        long selected = 0;
        if (component->CanSelectForRestore(false))
            selected = component->SelectForRestore(true);
        else if (component->IsRestoreSubcomponent())
            selected = component->AddAsRestoreSubcomponent();
        if (selected != 0) {
            const ErrorText error(selected);
            return msg_create(115994, kCodeRestore, "Unable to select %s component from %s for restore:%s\n",
                              VO_ARG_NAME, Utf8(component->GetName()).c_str(), VO_ARG_NAME, name.c_str(),
                              VO_ARG_ERRTEXT, error.text);
        }
        if (!authoritative)
            continue;
        if (!clusterDatabase) {
            const long optioned = component->SetRestoreOptions(kAuthoritativeOptions);
            if (optioned != 0)
                return NameError(115996, "Unable to set component restore options for %s:%s\n", name, optioned);
        } else {
            winclass::ComRef<IVssBackupComponentsEx2> extended;
            IVssBackupComponents *session = SessionComponents();
            HRESULT hr = session != nullptr ? session->QueryInterface(kBackupComponentsEx2Id,
                                                                      reinterpret_cast<void **>(extended.out()))
                                            : VSS_E_BAD_STATE;
            if (SUCCEEDED(hr)) {
                const wstr &logicalPath = component->GetLogicalPath();
                hr = extended->SetAuthoritativeRestore(writer->writerId, component->GetComponentType(),
                                                       logicalPath.empty() ? nullptr : logicalPath.c_str(),
                                                       component->GetName().c_str(), true);
            }
            if (hr != 0)
                return NameError(115995, "Unable to set authoritative restore for components of %s:%s\n", name, hr);
        }
        writer->SelectWriter(true);
    }
    return nullptr;
}

// One component, named by the record; its options are set but not judged.
vo_msg *SelectComponent(const char *writerName, const vsscr_writercomponent &record, bool authoritative)
{
    std::shared_ptr<CVssCrWriter> writer = FindWriter(writerName);
    if (!writer)
        return UnknownWriter(writerName);
    const wstr componentName = record.name != nullptr ? wstr(record.name) : wstr();
    std::shared_ptr<CVssWriterComp> component;
    const long found = writer->GetCompByName(componentName, component);
    if (found != 0 || !component) {
        const ErrorText error(found != 0 ? found : VSS_E_OBJECT_NOT_FOUND);
        return msg_create(115373, kCodeRestore, "Unable to get component %s for %s:%s\n", VO_ARG_NAME,
                          Utf8(componentName).c_str(), VO_ARG_NAME, writerName, VO_ARG_ERRTEXT, error.text);
    }
    component->SetSelected(true);
    if (authoritative)
        component->SetRestoreOptions(kAuthoritativeOptions);
    writer->SelectWriter(true);
    return nullptr;
}

} // namespace

extern "C" {

struct vo_msg *vsscr_get_writer_restore_method_info(const char *writerName, VSS_RESTOREMETHOD_ENUM *method,
                                                    size_t serviceSize, char *service, size_t userProcedureSize,
                                                    char *userProcedure, VSS_WRITERRESTORE_ENUM *writerRestore,
                                                    unsigned int *rebootRequired)
{
    if (writerName == nullptr || method == nullptr || service == nullptr || userProcedure == nullptr ||
        writerRestore == nullptr || rebootRequired == nullptr)
        return msg_create(115355, kCodeRestore,
                          "Unable to retrieve writer restore method information: Invalid Parameters.\n");
    std::shared_ptr<CVssCrWriter> writer = FindWriter(writerName);
    if (!writer)
        return UnknownWriter(writerName);
    CComBSTR serviceText, userProcedureText;
    bool reboot = false;
    unsigned int mappingCount = 0;
    const long result =
        writer->GetRestoreMethod(method, serviceText, userProcedureText, writerRestore, &reboot, &mappingCount);
    // The flag is the caller's whatever the result; the texts only on success.
    *rebootRequired = reboot ? 1 : 0;
    if (result != 0)
        return NameError(115353, "Unable to retrieve %s restore information:%s\n", writerName, result);
    const wstr serviceWide = serviceText.m_str != nullptr ? wstr(serviceText.m_str) : wstr();
    const wstr userProcedureWide = userProcedureText.m_str != nullptr ? wstr(userProcedureText.m_str) : wstr();
    vo_wcs_to_utf8s(service, serviceWide.c_str(), serviceSize, 0);
    vo_wcs_to_utf8s(userProcedure, userProcedureWide.c_str(), userProcedureSize, 0);
    return nullptr;
}

struct vo_msg *vsscr_get_writer_usage_type(const char *writerName, unsigned int *usageType)
{
    if (writerName == nullptr)
        return msg_create(115346, kCodeRestore, "Unable to retrieve VSS writer usage type: Invalid Parameters.\n");
    if (usageType == nullptr)
        return msg_create(115356, kCodeRestore, "Unable to retrieve writer usage type: Invalid Parameters.\n");
    std::shared_ptr<CVssCrWriter> writer = FindWriter(writerName);
    if (!writer)
        return UnknownWriter(writerName);
    *usageType = static_cast<unsigned int>(writer->usageType);
    return nullptr;
}

struct vo_msg *vsscr_get_writer_id(const char *writerName, GUID *writerId)
{
    if (writerName == nullptr || writerId == nullptr)
        return msg_create(115344, kCodeRestore, "Unable to get writer ID: Invalid Parameters.\n");
    // An unknown writer is no failure here: the ID is simply left as it was.
    if (std::shared_ptr<CVssCrWriter> writer = FindWriter(writerName))
        std::memcpy(writerId, &writer->writerId, sizeof *writerId);
    return nullptr;
}

struct vo_msg *vsscr_get_writer_exclude_list(int mode, const char *writerName, struct vsscr_filedesc **out)
{
    if (writerName == nullptr || out == nullptr)
        return msg_create(115343, kCodeRestore, "Unable to get writer exclude list: Invalid Parameters.\n");
    if (mode != 0)
        return nullptr;
    // Only bad arguments are reported: a missing writer or list is an empty exclude list.
    if (std::shared_ptr<CVssCrWriter> writer = FindWriter(writerName))
        msg_free(GetWriterExcludeFiles(writer, out));
    return nullptr;
}

struct vo_msg *vsscr_get_comp_info(const char *writerName, unsigned int *componentCount,
                                   struct vsscr_compinfo *head, VSS_RESTOREMETHOD_ENUM *method)
{
    if (writerName == nullptr || componentCount == nullptr || head == nullptr || method == nullptr)
        return msg_create(115342, kCodeRestore, "Unable to get component information: Invalid Parameters.\n");
    *head = vsscr_compinfo();
    std::shared_ptr<CVssCrWriter> writer = FindWriter(writerName);
    if (!writer)
        return UnknownWriter(writerName);
    CVssWriterCompList components;
    const long listed = writer->GetAllComponents(components);
    if (listed != 0)
        return NameError(115362, "Unable to get components of %s:%s\n", writerName, listed);
    *componentCount = static_cast<unsigned int>(components.size());
    const tv_str writerText(writer->GetName().c_str());
    vsscr_compinfo *last = nullptr;
    uint32_t index = 0;
    for (const std::shared_ptr<CVssWriterComp> &component : components) {
        vsscr_compinfo *node = new (std::nothrow) vsscr_compinfo();
        if (node == nullptr)
            return msg_create(115363, kCodeRestore, "Unable to allocate memory for %s component node.\n", VO_ARG_NAME,
                              writerName);
        // The head's first field anchors the chain; each node's next continues it.
        if (last == nullptr)
            head->component = reinterpret_cast<vsscr_writercomponent *>(node);
        else
            last->next = node;
        last = node;
        if (vo_msg *failed = FillComponentNode(writerName, writerText, component, ++index, node))
            return failed;
        if (component->GetRestoreTarget() == VSS_RT_ALTERNATE) {
            *method = VSS_RME_RESTORE_TO_ALTERNATE_LOCATION;
            if (winclass::TraceSetup()) {
                debugprintf("Restore target for `%s' component is to an alternate mapping location.\n",
                            Utf8(component->GetName()).c_str());
                debugprintf("Changing the restore method for %s to alternate location.\n", writerName);
            }
        }
    }
    return nullptr;
}

struct vo_msg *vsscr_get_alternate_location_map(const char *writerName, struct vsscr_filedesc **out)
{
    if (writerName == nullptr || out == nullptr)
        return msg_create(115360, kCodeRestore, "Unable to retrieve alternate location mapping: Invalid Parameters.\n");
    std::shared_ptr<CVssCrWriter> writer = FindWriter(writerName);
    if (!writer)
        return UnknownWriter(writerName);
    if (!writer->metadataLoaded)
        return msg_create(115359, kCodeRestore, "%s metadata is not loaded.\n", VO_ARG_NAME, writerName);
    const std::string name = Utf8(writer->GetName());
    CVssWriterFileList mappings;
    const long listed = writer->GetAlternateLocationMapping(mappings);
    if (listed != 0)
        return NameError(115358, "Unable to retrieve alternate file location mapping for %s:%s\n", name, listed);
    const HRESULT converted = ConvertWriterFiles(tv_str(writer->GetName().c_str()), mappings, out);
    if (converted != 0)
        return NameError(115357, "Unable to copy alternate location file list for %s:%s\n", name, converted);
    return nullptr;
}

struct vo_msg *vsscr_add_snapcomponent_for_restore(const char *writerName, struct vsscr_writercomponent *component,
                                                   int wholeWriter, int authoritative)
{
    if (writerName == nullptr || (wholeWriter == 0 && component == nullptr))
        return msg_create(115340, kCodeRestore, "Unable to add component for restore: Invalid Parameters.\n");
    if (wholeWriter != 0)
        return SelectWholeWriter(writerName, authoritative != 0);
    return SelectComponent(writerName, *component, authoritative != 0);
}

struct vo_msg *vsscr_add_alternate_location(const char *writerName, struct vsscr_writercomponent *component,
                                            struct vsscr_filedesc *descriptor)
{
    if (writerName == nullptr || component == nullptr || descriptor == nullptr)
        return msg_create(115339, kCodeRestore, "Unable to add alternate location for restore: Invalid Parameters.\n");
    std::shared_ptr<CVssCrWriter> writer = FindWriter(writerName);
    if (!writer)
        return UnknownWriter(writerName);
    // Only the first descriptor: a chain's others are the caller's to add one by one.
    IVssBackupComponents *session = SessionComponents();
    const HRESULT hr = session != nullptr
                           ? session->AddAlternativeLocationMapping(
                                 writer->writerId, static_cast<VSS_COMPONENT_TYPE>(component->component_type),
                                 component->logical_path, component->name, descriptor->path, descriptor->filespec,
                                 descriptor->recursive != 0, descriptor->alternate_path)
                           : VSS_E_BAD_STATE;
    if (FAILED(hr))
        return NameError(115376, "Unable to add alternate location map for %s:%s\n", writerName, hr);
    return nullptr;
}

struct vo_msg *vsscr_get_writer_restore_target(const char *, const char *, void *) { return nullptr; }

struct vo_msg *vsscr_get_comp_restore_metadata_flag(const char *, const char *, void *) { return nullptr; }

} // extern "C"
