// The OSSR_Sysinfo.xml writer: the state of one document, its records and the routines
// its sections share (internal).
#pragma once

#include <libwinclass/tv_str.h>
#include <libwinclass/wmi/comref.h>

#include <liblocal/volists.h>

#include <oleauto.h>

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

struct sysinfo_partition;

// The partitions of each disk (by number) and of each volume (by volume_guid), in list
// order: made once the partition list is complete, so that writing a disk, a volume or a
// virtual disk does not walk every partition of the host.
struct sysinfo_partition_index {
    std::unordered_map<int, std::vector<const sysinfo_partition *>> by_disk;
    std::unordered_map<std::string, std::vector<const sysinfo_partition *>> by_volume;
};

// The name the debug lines give as their source file.
#define SYSINFO_SOURCE_NAME "libwinclass/ossr_sysinfo_xml"

// The state of one document, on the stack of write_ossr_sysinfo. The lists carry records
// allocated with new and are owned by the cells, which are allocated with new as well.
struct sysinfo_ctx {
    vo_cell *disks;       // sysinfo_disk, by number
    vo_cell *pools;       // sysinfo_pool, by friendly_name
    vo_cell *volumes;     // sysinfo_volume, by object_id
    vo_cell *partitions;  // sysinfo_partition, by disk_number then partition_number
    vo_cell *adapters;    // sysinfo_adapter, by index
    tv_str path;          // the output file
    HANDLE file;          // NULL when closed
    std::unique_ptr<sysinfo_partition_index> partition_index;  // made at its first use
};

// A disk from MSFT_Disk or MSFT_PhysicalDisk.
struct sysinfo_disk {
    __int64 size;
    int bus_type;
    int number;
    int partition_style;
    tv_str friendly_name;
    tv_str object_id;
    tv_str key;  // MSFT_Disk: the lower-case ObjectID's braced GUID; MSFT_PhysicalDisk: the ObjectID
};

struct sysinfo_partition {
    int disk_number;
    int partition_number;
    __int64 size;
    tv_str type;         // "MBR" or "GPT"
    tv_str drive_root;   // "X:\" when there is one
    tv_str volume_guid;  // the braced GUID of the volume path; empty without one
    std::vector<tv_str> mount_paths;
};

// A fixed volume.
struct sysinfo_volume {
    int drive_letter;  // up to 32: no letter
    int drive_type;
    __int64 size;
    tv_str file_system;
    tv_str label;
    tv_str object_id;
    tv_str key;  // the braced GUID of the ObjectID
};

struct sysinfo_pool {
    tv_str object_id;
    int is_primordial;  // VARIANT_BOOL
    __int64 size;
    tv_str friendly_name;
};

// A physical network adapter with its configuration.
struct sysinfo_adapter {
    int index;
    int dhcp_enabled;  // VARIANT_BOOL
    tv_str adapter_type;
    tv_str product_name;
    tv_str mac_address;
    tv_str dhcp_server;
    std::vector<tv_str> subnets;
    std::vector<tv_str> addresses;
    std::vector<tv_str> gateways;
};

// The indentation of the next line: process-wide, at depth zero between documents.
struct sysinfo_indent {
    tv_str current;
    tv_str unit;
};

void sysinfo_indent_push();
void sysinfo_indent_pop();
// The indentation text for the "%s" that starts every element line.
const char *sysinfo_indentation();

// Formats one line and writes it with one WriteFile; 1 when written. On failure reports
// the write error with sourceLine and returns 0.
int sysinfo_write_line(sysinfo_ctx *ctx, int sourceLine, const char *format, ...) TV_STR_PRINTF_FORMAT(3, 4);
// "<name>" and "</name>" at the current indentation.
int sysinfo_write_start(sysinfo_ctx *ctx, int sourceLine, const char *name);
int sysinfo_write_end(sysinfo_ctx *ctx, int sourceLine, const char *name);

void sysinfo_report_write_error(int sourceLine, DWORD error);
void sysinfo_report_wmi_error(int sourceLine, HRESULT hr);
void sysinfo_report_not_string(int sourceLine);
bool sysinfo_log_failures();

void disk_free_list(vo_cell *list);
void pool_free_list(vo_cell *list);
void volume_free_list(vo_cell *list);
void partition_free_list(vo_cell *list);
void adapter_free_list(vo_cell *list);

// The records one query reads, on their way into a list. Each gets a cell that goes to
// list_addelem when the batch ends; a record equal to one already there is handed back by
// the list and freed with free_list (cell and record). A sorted singly linked list costs a
// walk per insert, and WMI promises no order; so the batch puts its records in list order
// first (stably: of equal records the first read is kept, as inserting them one by one
// would keep it) and links each behind the one before, where the list needs no walk.
class sysinfo_batch {
public:
    sysinfo_batch(vo_cell **head, vo_cell_compare compare, void (*free_list)(vo_cell *))
        : head_(head), compare_(compare), free_list_(free_list)
    {
    }
    ~sysinfo_batch();
    sysinfo_batch(const sysinfo_batch &) = delete;
    sysinfo_batch &operator=(const sysinfo_batch &) = delete;

    // The batch owns the record once the call returns; when out of memory ends the call,
    // the record is freed with it. The cell is made here, not when the batch ends: a
    // destructor must not throw.
    template <typename Record>
    void add(std::unique_ptr<Record> record)
    {
        vo_cell *cell = make_cell();
        cell->data = record.release();
        cells_.push_back(cell);  // room was made for it
    }

private:
    // A cell, with room for it in cells_; takes nothing when it throws.
    vo_cell *make_cell();

    vo_cell **head_;
    vo_cell_compare compare_;
    void (*free_list_)(vo_cell *);
    std::vector<vo_cell *> cells_;
};

// The partitions on one disk and on one volume (by its key), in list order.
const std::vector<const sysinfo_partition *> &sysinfo_partitions_of_disk(sysinfo_ctx *ctx, int disk);
const std::vector<const sysinfo_partition *> &sysinfo_partitions_of_volume(sysinfo_ctx *ctx, const tv_str &key);

int sysinfo_write_network(sysinfo_ctx *ctx);
int sysinfo_write_storage(sysinfo_ctx *ctx);

// Values: the braced GUID of a text (in place), the capacity text of a size, a string array.
void sysinfo_guid_key(tv_str &text);
tv_str sysinfo_format_capacity(__int64 size);
std::vector<tv_str> sysinfo_string_array(const VARIANT &value);

// One WQL query on one namespace, its objects read one at a time. Every failure is reported
// (message and debug line) with the source line given; the session closes when it goes.
class sysinfo_query {
public:
    // Opens the session and runs the query; false after a reported failure.
    bool open(const WCHAR *wmiNamespace, int sourceLine);
    bool run(const WCHAR *wql, int sourceLine);
    // The next object into row(); false at the end (*failed false) or after a reported
    // failure (*failed true).
    bool next(int sourceLine, bool *failed);
    IWbemClassObject *row() const { return row_.get(); }
    IWbemServices *services() const { return session_.services; }

private:
    winclass::WbemSession session_;
    winclass::ComRef<IEnumWbemClassObject> rows_;
    winclass::ComRef<IWbemClassObject> row_;
};

// Property reads of an object. All report their failure and return false.
// A string property: VT_BSTR only (another type gives the CIM_STRING line).
bool sysinfo_get_string(IWbemClassObject *object, const WCHAR *name, tv_str &out, int sourceLine);
// A property of any type, into value.
bool sysinfo_get(IWbemClassObject *object, const WCHAR *name, winclass::ScopedVariant &value, int sourceLine);
// An integer property: its 16-bit value, sign-extended.
bool sysinfo_get_int(IWbemClassObject *object, const WCHAR *name, int &out, int sourceLine);
// A 64-bit size sent as a decimal string.
bool sysinfo_get_size(IWbemClassObject *object, const WCHAR *name, __int64 &out, int sourceLine);
