// OSSR_Sysinfo.xml: the document frame, the Host line, the writing of lines with their
// indentation, the failure reports and the freeing of the records.
#include "sysinfo_internal.h"

#include <algorithm>

#include <libwinclass/hostinfo.h>
#include <libwinclass/wmi.h>

#include <liblocal/local.h>

#include <comdef.h>
#include <comutil.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

const int kMessageCode = 182000;
const int kSeverity = 26;
const char kRootElement[] = "OSSR_SYSINFO";

// Made when the library is loaded; every document starts and ends at depth zero.
sysinfo_indent indent = {tv_str(W("")), tv_str(W("   "))};

bool TraceCalls() { return Debug >= 5 || (VoTrace & 0x10) != 0; }

void LogNullList(const char *routine)
{
    if (sysinfo_log_failures())
        debugprintf("%s: NULL pointer passed to %s()\n", SYSINFO_SOURCE_NAME, routine);
}

// Deletes every cell of a list with its record.
template <typename Record>
void FreeList(vo_cell *list, const char *routine)
{
    if (list == NULL) {
        LogNullList(routine);
        return;
    }
    while (list != NULL) {
        vo_cell *next = list->next;
        delete static_cast<Record *>(list->data);
        delete list;
        list = next;
    }
}

// An empty path means the per-process directory is unknown: reported as a directory that
// cannot be found.
int sysinfo_create_file(sysinfo_ctx *ctx)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD error = ERROR_PATH_NOT_FOUND;
    if (!ctx->path.is_empty()) {
        file = CreateFileW(ctx->path, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           NULL);
        error = GetLastError();
    }
    if (file == INVALID_HANDLE_VALUE) {
        if (sysinfo_log_failures())
            debugprintf("Unable to create the OSSR_Sysinfo.xml file, error: %x.\n", unsigned(error));
        msg_print(98426, kMessageCode, kSeverity, "Unable to create the OSSR_Sysinfo.xml, error: %d.\n", VO_ARG_INT,
                  inttostr(int(error)));
        return 0;
    }
    ctx->file = file;
    return 1;
}

void sysinfo_close_file(sysinfo_ctx *ctx)
{
    if (ctx->file != NULL) {
        CloseHandle(ctx->file);
        ctx->file = NULL;
        ctx->path = tv_str();
    }
}

int sysinfo_write_header(sysinfo_ctx *ctx)
{
    if (!sysinfo_write_line(ctx, __LINE__, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"))
        return 0;
    return sysinfo_write_line(ctx, __LINE__, "<%s Version=\"%s\">\n", kRootElement, "1.0");
}

int sysinfo_write_host(sysinfo_ctx *ctx)
{
    const char *firmware = is_efi_system() ? "UEFI" : "BIOS";
    char hostName[256] = {};
    vo_getlocalhost(hostName, sizeof hostName);
    tv_str manufacturer;
    tv_str model;
    if (vo_msg *failure = get_system_manufacturer_info(manufacturer, model)) {
        msg_print(0, 2, kSeverity,
                  "Could not get the Host's manufacturer and model while writing the OSSR_sysinfo XML file: "
                  "error %s\n",
                  VO_ARG_TEXT, msg_text(failure));
        msg_free(failure);
    }
    const char *systemRoot = vo_getenv("SystemRoot");
    const char *systemDrive = vo_getenv("SystemDrive");
    return sysinfo_write_line(ctx, __LINE__,
                              "<%sHost Model=\"%s\" Manufacturer=\"%s\" FirmwareType=\"%s\" HostName=\"%s\" "
                              "SystemDrive=\"%s\" SystemRoot=\"%s\"/>\n",
                              sysinfo_indentation(), model.get_utf8(), manufacturer.get_utf8(), firmware, hostName,
                              systemDrive, systemRoot);
}

int sysinfo_write_footer(sysinfo_ctx *ctx)
{
    return sysinfo_write_line(ctx, __LINE__, "</%s>\n", kRootElement);
}

int sysinfo_write_document(sysinfo_ctx *ctx)
{
    if (!is_win8_client_os() && !is_win8_server_os())
        return 1;
    // A failed document may have stopped below depth zero.
    indent.current = W("");
    int result = sysinfo_create_file(ctx) && sysinfo_write_header(ctx) && sysinfo_write_host(ctx);
    if (result) {
        sysinfo_indent_push();
        result = sysinfo_write_network(ctx) && sysinfo_write_storage(ctx) == 1;
        sysinfo_indent_pop();
        if (result)
            result = sysinfo_write_footer(ctx);
    }
    sysinfo_close_file(ctx);
    return result;
}

} // namespace

bool sysinfo_log_failures() { return Debug >= 1 || (VoTrace & 0x1) != 0; }

void sysinfo_indent_push() { indent.current += indent.unit; }

void sysinfo_indent_pop()
{
    const int length = indent.current.length();
    if (length > 3)
        indent.current.truncate(3);
    else if (length == 3)
        indent.current = W("");
}

const char *sysinfo_indentation() { return indent.current.get_utf8(); }

int sysinfo_write_line(sysinfo_ctx *ctx, int sourceLine, const char *format, ...)
{
    // As tv_str::format_utf8 formats: a line that does not fit is written empty.
    const int kLineSize = 65536;
    tv_str line;
    {
        std::unique_ptr<char[]> buffer(new char[kLineSize]);
        va_list args;
        va_start(args, format);
        const int length = vsnprintf(buffer.get(), kLineSize, format, args);
        va_end(args);
        if (length >= 0 && length < kLineSize)
            line.set_utf8(buffer.get());
    }
    DWORD written = 0;
    if (WriteFile(ctx->file, line.get_utf8(), DWORD(line.bytelength()), &written, NULL))
        return 1;
    sysinfo_report_write_error(sourceLine, GetLastError());
    return 0;
}

int sysinfo_write_start(sysinfo_ctx *ctx, int sourceLine, const char *name)
{
    return sysinfo_write_line(ctx, sourceLine, "%s<%s>\n", sysinfo_indentation(), name);
}

int sysinfo_write_end(sysinfo_ctx *ctx, int sourceLine, const char *name)
{
    return sysinfo_write_line(ctx, sourceLine, "%s</%s>\n", sysinfo_indentation(), name);
}

void sysinfo_report_write_error(int sourceLine, DWORD error)
{
    msg_print(98425, kMessageCode, kSeverity, "Unable to write data to OSSR_Sysinfo.xml, error: %d.\n", VO_ARG_INT,
              inttostr(int(error)));
    if (sysinfo_log_failures())
        debugprintf("%s:%d: XMI file write error=0x%x.\n", SYSINFO_SOURCE_NAME, sourceLine, unsigned(error));
}

void sysinfo_report_wmi_error(int sourceLine, HRESULT hr)
{
    std::unique_ptr<char[]> text(new char[WMI_SYSTEM_TEXT_SIZE]);
    format_system_message_utf8(DWORD(hr), text.get(), WMI_SYSTEM_TEXT_SIZE);
    msg_print(98424, kMessageCode, kSeverity, "Unable to retrieve WMI data for OSSR_Sysinfo.xml, error=0x%x: %s.\n",
              VO_ARG_INT, inttostr(int(hr)), VO_ARG_TEXT, text.get());
    if (sysinfo_log_failures()) {
        format_system_message_utf8(DWORD(hr), text.get(), WMI_SYSTEM_TEXT_SIZE);
        debugprintf("%s:%d -- WMI error=0x%x, '%s'.\n", SYSINFO_SOURCE_NAME, sourceLine, unsigned(hr), text.get());
    }
}

void sysinfo_report_not_string(int sourceLine)
{
    if (sysinfo_log_failures())
        debugprintf("%s: CIM_STRING was not returned at %d\n", SYSINFO_SOURCE_NAME, sourceLine);
}

vo_cell *sysinfo_batch::make_cell()
{
    if (cells_.size() == cells_.capacity())
        cells_.reserve(cells_.size() * 2 + 16);
    vo_cell *cell = new vo_cell;
    cell->next = NULL;
    cell->data = NULL;
    return cell;
}

sysinfo_batch::~sysinfo_batch()
{
    std::stable_sort(cells_.begin(), cells_.end(),
                     [this](const vo_cell *a, const vo_cell *b) { return compare_(a->data, b->data) < 0; });
    vo_cell *last = *head_;
    while (last != NULL && last->next != NULL)
        last = last->next;
    for (vo_cell *cell : cells_) {
        // Behind the last cell the rest of the list is empty: a sorted list of its own.
        vo_cell **from = last != NULL && compare_(cell->data, last->data) > 0 ? &last->next : head_;
        vo_cell *rejected = NULL;
        list_addelem(cell, from, &rejected, compare_);
        if (rejected != NULL)
            free_list_(rejected);
        else if (cell->next == NULL)
            last = cell;
    }
}

namespace {

const sysinfo_partition_index &PartitionIndex(sysinfo_ctx *ctx)
{
    if (!ctx->partition_index) {
        ctx->partition_index.reset(new sysinfo_partition_index());
        for (const vo_cell *cell = ctx->partitions; cell != NULL; cell = cell->next) {
            const sysinfo_partition *partition = static_cast<const sysinfo_partition *>(cell->data);
            ctx->partition_index->by_disk[partition->disk_number].push_back(partition);
            if (!partition->volume_guid.is_empty())
                ctx->partition_index->by_volume[partition->volume_guid.get_utf8()].push_back(partition);
        }
    }
    return *ctx->partition_index;
}

const std::vector<const sysinfo_partition *> kNoPartitions;

template <typename Map, typename Key>
const std::vector<const sysinfo_partition *> &Lookup(const Map &map, const Key &key)
{
    auto found = map.find(key);
    return found == map.end() ? kNoPartitions : found->second;
}

} // namespace

const std::vector<const sysinfo_partition *> &sysinfo_partitions_of_disk(sysinfo_ctx *ctx, int disk)
{
    return Lookup(PartitionIndex(ctx).by_disk, disk);
}

const std::vector<const sysinfo_partition *> &sysinfo_partitions_of_volume(sysinfo_ctx *ctx, const tv_str &key)
{
    return Lookup(PartitionIndex(ctx).by_volume, std::string(key.get_utf8()));
}

void disk_free_list(vo_cell *list) { FreeList<sysinfo_disk>(list, "disk_free_list"); }
void pool_free_list(vo_cell *list) { FreeList<sysinfo_pool>(list, "pool_free_list"); }
void volume_free_list(vo_cell *list) { FreeList<sysinfo_volume>(list, "volume_free_list"); }
void partition_free_list(vo_cell *list) { FreeList<sysinfo_partition>(list, "partition_free_list"); }
void adapter_free_list(vo_cell *list) { FreeList<sysinfo_adapter>(list, "adapter_free_list"); }

bool sysinfo_query::open(const WCHAR *wmiNamespace, int sourceLine)
{
    const HRESULT hr = initialize_wbem(&session_.services, &session_.locator, wmiNamespace);
    if (FAILED(hr)) {
        sysinfo_report_wmi_error(sourceLine, hr);
        return false;
    }
    return true;
}

bool sysinfo_query::run(const WCHAR *wql, int sourceLine)
{
    const HRESULT hr = session_.services->ExecQuery(_bstr_t(W("WQL")), _bstr_t(wql),
                                                    WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, NULL,
                                                    rows_.out());
    if (FAILED(hr)) {
        sysinfo_report_wmi_error(sourceLine, hr);
        return false;
    }
    return true;
}

bool sysinfo_query::next(int sourceLine, bool *failed)
{
    *failed = false;
    ULONG returned = 0;
    const HRESULT hr = rows_->Next(WBEM_INFINITE, 1, row_.out(), &returned);
    if (FAILED(hr)) {
        sysinfo_report_wmi_error(sourceLine, hr);
        *failed = true;
        return false;
    }
    return returned != 0 && row_;
}

bool sysinfo_get(IWbemClassObject *object, const WCHAR *name, winclass::ScopedVariant &value, int sourceLine)
{
    value.clear();
    const HRESULT hr = object->Get(name, 0, value.get(), NULL, NULL);
    if (FAILED(hr)) {
        sysinfo_report_wmi_error(sourceLine, hr);
        return false;
    }
    return true;
}

bool sysinfo_get_string(IWbemClassObject *object, const WCHAR *name, tv_str &out, int sourceLine)
{
    winclass::ScopedVariant value;
    if (!sysinfo_get(object, name, value, sourceLine))
        return false;
    if (value.get()->vt != VT_BSTR) {
        sysinfo_report_not_string(sourceLine);
        return false;
    }
    out = value.text();
    return true;
}

bool sysinfo_get_int(IWbemClassObject *object, const WCHAR *name, int &out, int sourceLine)
{
    winclass::ScopedVariant value;
    if (!sysinfo_get(object, name, value, sourceLine))
        return false;
    out = value.get()->iVal;
    return true;
}

bool sysinfo_get_size(IWbemClassObject *object, const WCHAR *name, __int64 &out, int sourceLine)
{
    tv_str text;
    if (!sysinfo_get_string(object, name, text, sourceLine))
        return false;
    out = _strtoi64(text.get_utf8(), NULL, 10);
    return true;
}

extern "C" int write_ossr_sysinfo(void)
{
    if (TraceCalls())
        debugprintf("write_ossr_sysinfo(): ENTER\n");
    sysinfo_ctx ctx = {NULL, NULL, NULL, NULL, NULL, tv_str(), NULL, NULL};
    // The file closed and the lists freed also when a string's out-of-memory error leaves
    // through here: an open file would refuse the next document.
    struct ctx_release {
        sysinfo_ctx &ctx;
        ~ctx_release()
        {
            sysinfo_close_file(&ctx);
            disk_free_list(ctx.disks);
            pool_free_list(ctx.pools);
            volume_free_list(ctx.volumes);
            partition_free_list(ctx.partitions);
            adapter_free_list(ctx.adapters);
        }
    } release{ctx};
    if (const char *directory = get_unique_per_process_dir_path(NULL))
        ctx.path.format_utf8("%s%c%s", directory, 92, "OSSR_Sysinfo.xml");
    const int result = sysinfo_write_document(&ctx);
    if (TraceCalls())
        debugprintf("write_ossr_sysinfo(): EXIT: rc=%d\n", result);
    return result;
}
