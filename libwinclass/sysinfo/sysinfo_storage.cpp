// OSSR_Sysinfo.xml: the Storage section, disks with their partitions, fixed volumes with
// their layout and mount points, and Storage Spaces pools.
#include "sysinfo_internal.h"

#include <liblocal/local.h>

#include <comdef.h>

#include <cstdlib>

using winclass::ComRef;
using winclass::ScopedVariant;

namespace {

const WCHAR kStorage[] = W("\\\\.\\Root\\Microsoft\\Windows\\Storage");

const char *const kBusTypes[] = {"Unknown", "SCSI", "Atapi", "Ata",  "1394", "SSA",     "Fibre",           "Usb",
                                 "RAID",    "iSCSI", "SAS",  "SATA", "SD",   "MMC",     "Virtual", "FileBackVirtual",
                                 "StorageSpaces"};

const char *BusTypeName(int code)
{
    return code >= 0 && code < int(sizeof kBusTypes / sizeof kBusTypes[0]) ? kBusTypes[code] : kBusTypes[0];
}

const char *ProvisioningName(int code) { return code == 1 ? "Thin" : code == 2 ? "Fixed" : "Unknown"; }

int Order(int a, int b) { return a < b ? -1 : a > b ? 1 : 0; }

int disk_compare(const void *a, const void *b)
{
    return Order(static_cast<const sysinfo_disk *>(a)->number, static_cast<const sysinfo_disk *>(b)->number);
}

int partition_compare(const void *a, const void *b)
{
    const sysinfo_partition *first = static_cast<const sysinfo_partition *>(a);
    const sysinfo_partition *second = static_cast<const sysinfo_partition *>(b);
    const int disks = Order(first->disk_number, second->disk_number);
    return disks != 0 ? disks : Order(first->partition_number, second->partition_number);
}

int volume_compare(const void *a, const void *b)
{
    return vo_strcmp(static_cast<const sysinfo_volume *>(a)->object_id.get_utf8(),
                     static_cast<const sysinfo_volume *>(b)->object_id.get_utf8());
}

int pool_compare(const void *a, const void *b)
{
    return vo_strcmp(static_cast<const sysinfo_pool *>(a)->friendly_name.get_utf8(),
                     static_cast<const sysinfo_pool *>(b)->friendly_name.get_utf8());
}

template <typename Record>
Record &At(const vo_cell *cell)
{
    return *static_cast<Record *>(cell->data);
}

bool SameText(const tv_str &a, const tv_str &b) { return vo_strcmp(a.get_utf8(), b.get_utf8()) == 0; }

// --- Disks -------------------------------------------------------------------------------

bool sysinfo_read_disk(IWbemClassObject *object, sysinfo_disk &disk)
{
    if (!sysinfo_get_int(object, W("Number"), disk.number, __LINE__) ||
        !sysinfo_get_int(object, W("PartitionStyle"), disk.partition_style, __LINE__) ||
        !sysinfo_get_string(object, W("FriendlyName"), disk.friendly_name, __LINE__) ||
        !sysinfo_get_size(object, W("Size"), disk.size, __LINE__) ||
        !sysinfo_get_string(object, W("ObjectID"), disk.object_id, __LINE__))
        return false;
    disk.key = disk.object_id.lower();
    sysinfo_guid_key(disk.key);
    return sysinfo_get_int(object, W("BusType"), disk.bus_type, __LINE__);
}

bool sysinfo_read_physical_disk(IWbemClassObject *object, sysinfo_disk &disk)
{
    tv_str deviceId;
    if (!sysinfo_get_string(object, W("DeviceID"), deviceId, __LINE__))
        return false;
    disk.number = atoi(deviceId.get_utf8());
    if (!sysinfo_get_string(object, W("FriendlyName"), disk.friendly_name, __LINE__) ||
        !sysinfo_get_size(object, W("Size"), disk.size, __LINE__) ||
        !sysinfo_get_string(object, W("ObjectID"), disk.object_id, __LINE__))
        return false;
    disk.key = disk.object_id;
    return sysinfo_get_int(object, W("BusType"), disk.bus_type, __LINE__);
}

// Runs a disk query into the disks list: 1 when the walk ends normally, 0 on any failure.
int sysinfo_collect_disks(sysinfo_ctx *ctx, const WCHAR *wql, bool (*read)(IWbemClassObject *, sysinfo_disk &))
{
    sysinfo_query query;
    if (!query.open(kStorage, __LINE__) || !query.run(wql, __LINE__))
        return 0;
    sysinfo_batch disks(&ctx->disks, disk_compare, disk_free_list);
    bool failed = false;
    while (query.next(__LINE__, &failed)) {
        std::unique_ptr<sysinfo_disk> disk(new sysinfo_disk());
        if (!read(query.row(), *disk)) {
            return 0;
        }
        disks.add(std::move(disk));
    }
    return failed ? 0 : 1;
}

int sysinfo_query_disks(sysinfo_ctx *ctx)
{
    return sysinfo_collect_disks(
        ctx, W("SELECT BusType, FriendlyName, Number, ObjectID, PartitionStyle, Size FROM MSFT_Disk"),
        sysinfo_read_disk);
}

int sysinfo_query_physical_disks(sysinfo_ctx *ctx)
{
    return sysinfo_collect_disks(ctx, W("SELECT BusType, DeviceID, FriendlyName, ObjectID, Size FROM MSFT_PhysicalDisk"),
                                 sysinfo_read_physical_disk);
}

bool sysinfo_read_partition(IWbemClassObject *object, sysinfo_partition &partition)
{
    ScopedVariant value;
    if (!sysinfo_get_int(object, W("DiskNumber"), partition.disk_number, __LINE__) ||
        !sysinfo_get_int(object, W("PartitionNumber"), partition.partition_number, __LINE__) ||
        !sysinfo_get_size(object, W("Size"), partition.size, __LINE__) ||
        !sysinfo_get(object, W("GptType"), value, __LINE__))
        return false;
    partition.type = value.get()->vt == VT_NULL ? W("MBR") : W("GPT");
    if (!sysinfo_get(object, W("AccessPaths"), value, __LINE__))
        return false;
    if (value.get()->vt != (VT_ARRAY | VT_BSTR))
        return true;
    std::vector<tv_str> paths;
    try {
        paths = sysinfo_string_array(*value.get());
    } catch (const _com_error &error) {
        sysinfo_report_wmi_error(__LINE__, error.Error());
        return false;
    }
    for (tv_str &path : paths) {
        if (path.length() == 3) {
            partition.drive_root = path;
        } else if (path.has_char('?')) {
            sysinfo_guid_key(path);
            partition.volume_guid = path;
        } else {
            partition.mount_paths.push_back(path);
        }
    }
    return true;
}

int sysinfo_query_partitions(sysinfo_ctx *ctx)
{
    sysinfo_query query;
    if (!query.open(kStorage, __LINE__) || !query.run(W("SELECT * FROM MSFT_Partition"), __LINE__))
        return 0;
    sysinfo_batch partitions(&ctx->partitions, partition_compare, partition_free_list);
    bool failed = false;
    while (query.next(__LINE__, &failed)) {
        std::unique_ptr<sysinfo_partition> partition(new sysinfo_partition());
        if (!sysinfo_read_partition(query.row(), *partition)) {
            return 0;
        }
        partitions.add(std::move(partition));
    }
    return failed ? 0 : 1;
}

int sysinfo_write_partitions(sysinfo_ctx *ctx, int disk)
{
    int result = 1;
    bool started = false;
    for (const sysinfo_partition *onDisk : sysinfo_partitions_of_disk(ctx, disk)) {
        const sysinfo_partition &partition = *onDisk;
        if (!started) {
            started = true;
            if (!sysinfo_write_line(ctx, __LINE__, "%s<%s Type=\"%s\">\n", sysinfo_indentation(), "Partitions",
                                    partition.type.get_utf8())) {
                result = 0;
                break;
            }
        }
        sysinfo_indent_push();
        if (!sysinfo_write_line(ctx, __LINE__, "%s<%s Number=\"%u\" Capacity=\"%s\"/>\n", sysinfo_indentation(),
                                "Partition", unsigned(partition.partition_number),
                                sysinfo_format_capacity(partition.size).get_utf8()))
            result = 0;
        sysinfo_indent_pop();
    }
    if (started && !sysinfo_write_end(ctx, __LINE__, "Partitions"))
        result = 0;
    return result;
}

int sysinfo_write_disk_elements(sysinfo_ctx *ctx)
{
    if (!sysinfo_query_partitions(ctx))
        return 0;
    int result = 1;
    for (const vo_cell *cell = ctx->disks; cell != NULL; cell = cell->next) {
        const sysinfo_disk &disk = At<sysinfo_disk>(cell);
        if (!sysinfo_write_line(ctx, __LINE__, "%s<%s BusType=\"%s\" Capacity=\"%s\" Index=\"%u\">\n",
                                sysinfo_indentation(), "Disk", BusTypeName(disk.bus_type),
                                sysinfo_format_capacity(disk.size).get_utf8(), unsigned(disk.number)))
            return 0;
        sysinfo_indent_push();
        // A failed write leaves the depth as it is; the next document starts at zero again.
        if (!sysinfo_write_partitions(ctx, disk.number))
            return 0;
        sysinfo_indent_pop();
        if (!sysinfo_write_end(ctx, __LINE__, "Disk"))
            result = 0;
    }
    return result;
}

int sysinfo_write_disks(sysinfo_ctx *ctx)
{
    if (!sysinfo_write_start(ctx, __LINE__, "Disks"))
        return 0;
    int result = sysinfo_query_disks(ctx) && sysinfo_query_physical_disks(ctx) ? 1 : 0;
    if (result) {
        sysinfo_indent_push();
        sysinfo_write_disk_elements(ctx);
        sysinfo_indent_pop();
    }
    if (!sysinfo_write_end(ctx, __LINE__, "Disks"))
        result = 0;
    return result;
}

// --- Volumes -----------------------------------------------------------------------------

bool sysinfo_read_volume(IWbemClassObject *object, sysinfo_volume &volume)
{
    if (!sysinfo_get_int(object, W("DriveLetter"), volume.drive_letter, __LINE__) ||
        !sysinfo_get_string(object, W("FileSystem"), volume.file_system, __LINE__) ||
        !sysinfo_get_string(object, W("FileSystemLabel"), volume.label, __LINE__) ||
        !sysinfo_get_string(object, W("ObjectID"), volume.object_id, __LINE__))
        return false;
    volume.key = volume.object_id;
    sysinfo_guid_key(volume.key);
    return sysinfo_get_size(object, W("Size"), volume.size, __LINE__);
}

int sysinfo_write_disk_layout(sysinfo_ctx *ctx, const tv_str &key)
{
    if (!sysinfo_write_start(ctx, __LINE__, "DiskLayout"))
        return 0;
    int result = 1;
    for (const sysinfo_partition *partition : sysinfo_partitions_of_volume(ctx, key)) {
        sysinfo_indent_push();
        const int written = sysinfo_write_line(ctx, __LINE__, "%s<%s Index=\"%u\" Partition=\"%u\"/>\n",
                                               sysinfo_indentation(), "Disk", unsigned(partition->disk_number),
                                               unsigned(partition->partition_number));
        sysinfo_indent_pop();
        if (!written) {
            result = 0;
            break;
        }
    }
    if (!sysinfo_write_end(ctx, __LINE__, "DiskLayout"))
        result = 0;
    return result;
}

int sysinfo_write_mountpoints(sysinfo_ctx *ctx, const tv_str &key)
{
    int result = 1;
    for (const sysinfo_partition *partition : sysinfo_partitions_of_volume(ctx, key)) {
        if (partition->mount_paths.empty())
            continue;
        if (!sysinfo_write_start(ctx, __LINE__, "Mountpoints"))
            return 0;
        sysinfo_indent_push();
        for (const tv_str &path : partition->mount_paths) {
            if (!sysinfo_write_line(ctx, __LINE__, "%s<%s Path=\"%s\"/>\n", sysinfo_indentation(), "Mountpoint",
                                    path.get_utf8())) {
                result = 0;
                break;
            }
        }
        sysinfo_indent_pop();
        if (!sysinfo_write_end(ctx, __LINE__, "Mountpoints"))
            return 0;
    }
    return result;
}

int sysinfo_write_volume_elements(sysinfo_ctx *ctx)
{
    int result = 1;
    for (const vo_cell *cell = ctx->volumes; cell != NULL; cell = cell->next) {
        const sysinfo_volume &volume = At<sysinfo_volume>(cell);
        char letter[8] = "";
        if (volume.drive_letter > 32)
            vo_sprintf(letter, "%c:", volume.drive_letter);
        if (!sysinfo_write_line(ctx, __LINE__,
                                "%s<%s Label=\"%s\" DriveLetter=\"%s\" Guid=\"%s\" Capacity=\"%s\">\n",
                                sysinfo_indentation(), "Volume", volume.label.get_utf8(), letter,
                                volume.key.get_utf8(), sysinfo_format_capacity(volume.size).get_utf8()))
            return 0;
        sysinfo_indent_push();
        const int written = sysinfo_write_disk_layout(ctx, volume.key) && sysinfo_write_mountpoints(ctx, volume.key);
        sysinfo_indent_pop();
        if (!written)
            return 0;
        result = sysinfo_write_end(ctx, __LINE__, "Volume");
    }
    return result;
}

int sysinfo_write_volumes(sysinfo_ctx *ctx)
{
    if (!sysinfo_write_start(ctx, __LINE__, "Volumes"))
        return 0;
    {
        sysinfo_query query;
        if (!query.open(kStorage, __LINE__) || !query.run(W("SELECT * FROM MSFT_Volume"), __LINE__))
            return 0;
        // A failure during the walk keeps the volumes collected so far.
        sysinfo_batch volumes(&ctx->volumes, volume_compare, volume_free_list);
        bool failed = false;
        while (query.next(__LINE__, &failed)) {
            int driveType = 0;
            if (!sysinfo_get_int(query.row(), W("DriveType"), driveType, __LINE__))
                break;
            if (driveType != 3)
                continue;
            std::unique_ptr<sysinfo_volume> volume(new sysinfo_volume());
            volume->drive_type = driveType;
            if (!sysinfo_read_volume(query.row(), *volume)) {
                break;
            }
            volumes.add(std::move(volume));
        }
    }
    sysinfo_indent_push();
    int result = sysinfo_write_volume_elements(ctx);
    sysinfo_indent_pop();
    if (!sysinfo_write_end(ctx, __LINE__, "Volumes"))
        result = 0;
    return result;
}

// --- Storage Spaces ----------------------------------------------------------------------

// The object a reference property of an association names; false after a reported failure.
bool sysinfo_follow(const sysinfo_query &query, IWbemClassObject *association, const WCHAR *reference,
                    ComRef<IWbemClassObject> &target, int sourceLine)
{
    tv_str path;
    if (!sysinfo_get_string(association, reference, path, sourceLine))
        return false;
    const HRESULT hr = query.services()->GetObject(_bstr_t(static_cast<const WCHAR *>(path)), 0, NULL, target.out(), NULL);
    if (FAILED(hr)) {
        sysinfo_report_wmi_error(sourceLine, hr);
        return false;
    }
    return true;
}

// Whether the association's StoragePool is this pool; *failed after a reported failure.
bool sysinfo_of_pool(const sysinfo_query &query, const sysinfo_pool &pool, bool *failed)
{
    ComRef<IWbemClassObject> target;
    tv_str objectId;
    *failed = !sysinfo_follow(query, query.row(), W("StoragePool"), target, __LINE__) ||
              !sysinfo_get_string(target.get(), W("ObjectID"), objectId, __LINE__);
    return !*failed && SameText(objectId, pool.object_id);
}

// Moves to the next association object whose StoragePool is this pool; false at the end or
// after a reported failure (*failed).
bool sysinfo_next_of_pool(sysinfo_query &query, const sysinfo_pool &pool, bool *failed)
{
    while (query.next(__LINE__, failed)) {
        if (sysinfo_of_pool(query, pool, failed))
            return true;
        if (*failed)
            return false;
    }
    return false;
}

int sysinfo_write_pool_disk_list(sysinfo_ctx *ctx, const sysinfo_pool &pool)
{
    sysinfo_query query;
    if (!query.open(kStorage, __LINE__) || !query.run(W("SELECT * FROM MSFT_StoragePoolToPhysicalDisk"), __LINE__))
        return 0;
    bool failed = false;
    while (sysinfo_next_of_pool(query, pool, &failed)) {
        ComRef<IWbemClassObject> disk;
        tv_str deviceId;
        if (!sysinfo_follow(query, query.row(), W("PhysicalDisk"), disk, __LINE__) ||
            !sysinfo_get_string(disk.get(), W("DeviceID"), deviceId, __LINE__) ||
            !sysinfo_write_line(ctx, __LINE__, "%s<%s Index=\"%s\"/>\n", sysinfo_indentation(), "PhysicalDisk",
                                deviceId.get_utf8()))
            return 0;
    }
    return failed ? 0 : 1;
}

int sysinfo_write_pool_physical_disks(sysinfo_ctx *ctx, const sysinfo_pool &pool)
{
    if (!sysinfo_write_start(ctx, __LINE__, "PhysicalDisks"))
        return 0;
    sysinfo_indent_push();
    sysinfo_write_pool_disk_list(ctx, pool);
    sysinfo_indent_pop();
    return sysinfo_write_end(ctx, __LINE__, "PhysicalDisks");
}

int sysinfo_write_virtual_volumes(sysinfo_ctx *ctx, const tv_str &objectId)
{
    tv_str key = objectId;
    sysinfo_guid_key(key);
    for (const vo_cell *diskCell = ctx->disks; diskCell != NULL; diskCell = diskCell->next) {
        const sysinfo_disk &disk = At<sysinfo_disk>(diskCell);
        if (!SameText(disk.key, key))
            continue;
        for (const sysinfo_partition *partition : sysinfo_partitions_of_disk(ctx, disk.number)) {
            if (partition->volume_guid.is_empty())
                continue;
            if (!sysinfo_write_line(ctx, __LINE__, "%s<%s GUID=\"%s\"/>\n", sysinfo_indentation(), "VirtualVolume",
                                    partition->volume_guid.get_utf8()))
                return 0;
        }
    }
    return 1;
}

int sysinfo_write_virtual_disks(sysinfo_ctx *ctx, const sysinfo_pool &pool)
{
    sysinfo_query query;
    if (!query.open(kStorage, __LINE__) || !query.run(W("SELECT * FROM MSFT_StoragePoolToVirtualDisk"), __LINE__))
        return 0;
    bool failed = false;
    while (sysinfo_next_of_pool(query, pool, &failed)) {
        ComRef<IWbemClassObject> disk;
        tv_str objectId, name, layout;
        int provisioning = 0;
        __int64 size = 0;
        if (!sysinfo_follow(query, query.row(), W("VirtualDisk"), disk, __LINE__) ||
            !sysinfo_get_string(disk.get(), W("ObjectID"), objectId, __LINE__) ||
            !sysinfo_get_string(disk.get(), W("FriendlyName"), name, __LINE__) ||
            !sysinfo_get_string(disk.get(), W("ResiliencySettingName"), layout, __LINE__) ||
            !sysinfo_get_int(disk.get(), W("ProvisioningType"), provisioning, __LINE__) ||
            !sysinfo_get_size(disk.get(), W("Size"), size, __LINE__))
            return 0;
        if (!sysinfo_write_line(ctx, __LINE__,
                                "%s<%s Capacity=\"%s\" Provisioning=\"%s\" Layout=\"%s\" Name=\"%s\">\n",
                                sysinfo_indentation(), "VirtualDisk", sysinfo_format_capacity(size).get_utf8(),
                                ProvisioningName(provisioning), layout.get_utf8(), name.get_utf8()))
            return 0;
        sysinfo_indent_push();
        const int written = sysinfo_write_virtual_volumes(ctx, objectId);
        sysinfo_indent_pop();
        if (!written || !sysinfo_write_end(ctx, __LINE__, "VirtualDisk"))
            return 0;
    }
    return failed ? 0 : 1;
}

int sysinfo_write_pools(sysinfo_ctx *ctx)
{
    for (const vo_cell *cell = ctx->pools; cell != NULL; cell = cell->next) {
        const sysinfo_pool &pool = At<sysinfo_pool>(cell);
        if (pool.is_primordial != 0)
            continue;
        if (!sysinfo_write_line(ctx, __LINE__, "%s<%s Capacity=\"%s\" Name=\"%s\">\n", sysinfo_indentation(),
                                "StoragePool", sysinfo_format_capacity(pool.size).get_utf8(),
                                pool.friendly_name.get_utf8()))
            return 0;
        sysinfo_indent_push();
        sysinfo_write_pool_physical_disks(ctx, pool);
        sysinfo_write_virtual_disks(ctx, pool);
        sysinfo_indent_pop();
        if (!sysinfo_write_end(ctx, __LINE__, "StoragePool"))
            return 0;
    }
    return 1;
}

bool sysinfo_read_pool(IWbemClassObject *object, sysinfo_pool &pool)
{
    return sysinfo_get_int(object, W("IsPrimordial"), pool.is_primordial, __LINE__) &&
           sysinfo_get_string(object, W("FriendlyName"), pool.friendly_name, __LINE__) &&
           sysinfo_get_string(object, W("ObjectID"), pool.object_id, __LINE__) &&
           sysinfo_get_size(object, W("Size"), pool.size, __LINE__);
}

int sysinfo_write_storage_spaces(sysinfo_ctx *ctx)
{
    if (!sysinfo_write_start(ctx, __LINE__, "StorageSpaces"))
        return 0;
    int result = 1;
    {
        sysinfo_query query;
        if (!query.open(kStorage, __LINE__) ||
            !query.run(W("SELECT ObjectID, IsPrimordial, FriendlyName, Size FROM MSFT_StoragePool"), __LINE__))
            return 0;
        sysinfo_batch pools(&ctx->pools, pool_compare, pool_free_list);
        bool failed = false;
        while (query.next(__LINE__, &failed)) {
            std::unique_ptr<sysinfo_pool> pool(new sysinfo_pool());
            if (!sysinfo_read_pool(query.row(), *pool)) {
                failed = true;
                break;
            }
            pools.add(std::move(pool));
        }
        if (failed)
            result = 0;
    }
    sysinfo_indent_push();
    sysinfo_write_pools(ctx);
    sysinfo_indent_pop();
    if (!sysinfo_write_end(ctx, __LINE__, "StorageSpaces"))
        result = 0;
    return result;
}

} // namespace

int sysinfo_write_storage(sysinfo_ctx *ctx)
{
    if (!sysinfo_write_start(ctx, __LINE__, "Storage"))
        return 0;
    sysinfo_indent_push();
    int result = sysinfo_write_disks(ctx);
    if (result == 1)
        result = sysinfo_write_volumes(ctx);
    if (result == 1)
        result = sysinfo_write_storage_spaces(ctx);
    sysinfo_indent_pop();
    if (!sysinfo_write_end(ctx, __LINE__, "Storage"))
        result = 0;
    return result;
}
