// winsim WMI: the namespaces and classes of the simulated host. Instances are made from
// the host model at each query, so that disk numbers, volume GUIDs and sizes agree with
// what kernel32 answers; the host description's "wmi", "network", "storagePools" and
// "cluster" sections add what the model itself does not carry:
//
//   "wmi": {"computerSystem": {"manufacturer": "...", "model": "..."},
//           "instances": [{"namespace": "ROOT\\CIMV2", "class": "...", "properties": {...}}],
//           "overrides": [{"namespace": "...", "class": "...", "property": "...", "value": ...}]}
//     (raw values: a JSON string is VT_BSTR, an integer VT_I4, a boolean VT_BOOL, null
//     VT_NULL, an array of strings VT_ARRAY|VT_BSTR: so a host can give a property the
//     wrong type)
//   "network": {"adapters": [{"deviceId": 7, "physical": true, "adapterType": "Ethernet 802.3",
//       "macAddress": "...", "productName": "...", "dhcpEnabled": false, "dhcpServer": "...",
//       "ipAddress": [...], "ipSubnet": [...], "defaultIPGateway": [...]}]}
//   "storagePools": [{"friendlyName": "Pool01", "physicalDisks": [2, {"deviceId": 6,
//       "friendlyName": "...", "busType": 10, "size": 123}],
//       "virtualDisks": [{"friendlyName": "...", "resiliency": "Mirror",
//                         "provisioning": "thin"|"fixed", "size": 123}]}]
//     (a physical disk is a disk of the host by number, or one the pool alone holds:
//     Windows hides pooled disks from the disk list, so kernel32 never sees those)
//   "cluster": {"name": "...", "nodes": ["A", {"name": "B", "state": "down"}],
//       "sharedVolumes": [{"name": "C:\\ClusterStorage\\Volume1", "volume": "<volume guid>",
//                          "owner": "B", "faultState": 0, "maintenance": false}]}
//     (a node's state: "up" (the default), "down", "paused", "joining" or "unknown";
//     maintenance adds 4, the maintenance bit, to the fault state; in a sandbox kept across
//     processes (WINSIM_ROOT) the owners and fault states the methods changed are kept in
//     <root>/.winsim-cluster/<host>.json for the next process)
//
// Absent sections give a default: "Winsim Systems" / "Simulated Server", one physical
// Ethernet adapter, only the primordial pool, no cluster (ROOT\MSCLUSTER then does not exist).
#include "wmiinternal.h"

#include "winsim/hostmodel.h"

#include "../src/paths.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <map>
#include <fstream>
#include <mutex>

namespace winsim {
namespace wmi {

namespace {

using json = nlohmann::json;

const text kCimv2 = u"ROOT\\CIMV2";
const text kStorage = u"ROOT\\MICROSOFT\\WINDOWS\\STORAGE";
const text kCluster = u"ROOT\\MSCLUSTER";

// A section of the host description, or an empty object when it is absent or unreadable.
json Section(const char *name)
{
    const auto &sections = CurrentHost().sections;
    auto found = sections.find(name);
    if (found == sections.end())
        return json::object();
    json parsed = json::parse(found->second, nullptr, false);
    return parsed.is_object() ? parsed : json::object();
}

text Field(const json &object, const char *name, const char *fallback)
{
    if (object.is_object() && object.contains(name) && object[name].is_string())
        return Widen(object[name].get<std::string>());
    return Widen(fallback);
}

// A whole number of the section; the fallback when it is absent or not one (never a throw).
unsigned long long Number(const json &object, const char *name, unsigned long long fallback)
{
    if (object.is_object() && object.contains(name) && object[name].is_number_unsigned())
        return object[name].get<unsigned long long>();
    return fallback;
}

bool Flag(const json &object, const char *name, bool fallback)
{
    if (object.is_object() && object.contains(name) && object[name].is_boolean())
        return object[name].get<bool>();
    return fallback;
}

// An array of the section; empty when it is absent or not an array.
json Items(const json &object, const char *name)
{
    if (object.is_object() && object.contains(name) && object[name].is_array())
        return object[name];
    return json::array();
}

std::vector<text> Strings(const json &object, const char *name)
{
    std::vector<text> items;
    if (object.is_object() && object.contains(name) && object[name].is_array())
        for (const auto &item : object[name])
            if (item.is_string())
                items.push_back(Widen(item.get<std::string>()));
    return items;
}

text GuidText(const GUID &guid)
{
    char buffer[64];
    snprintf(buffer, sizeof buffer, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", unsigned(guid.Data1),
             unsigned(guid.Data2), unsigned(guid.Data3), guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3],
             guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return Widen(buffer);
}

text Decimal(unsigned long long n)
{
    char buffer[32];
    snprintf(buffer, sizeof buffer, "%llu", n);
    return Widen(buffer);
}

// The storage provider's object identifiers, as a real host forms them.
const char16_t kProviderPrefix[] = u"{1}\\\\";
text ProviderId(const text &kind, const text &tail)
{
    return kProviderPrefix + CurrentHost().hostName + u"\\root/Microsoft/Windows/Storage/Providers_v2\\WSP_" + kind +
           u".ObjectId=\"{8c2f1e40-5b7a-11e9-a3f1-806e6f6e6963}:" + tail + u"\"";
}

// The GUID of the n-th virtual disk (from 0) of the described pools, in their order. Windows
// names the disk it shows for a virtual disk by that GUID too: the n-th Storage Spaces disk
// of the host carries it in its ObjectId, which is how a client links the two.
text VirtualDiskGuid(size_t n)
{
    char buffer[64];
    snprintf(buffer, sizeof buffer, "{5d2a9e1c-7b40-4c6e-9a13-%012llx}", static_cast<unsigned long long>(n + 1));
    return Widen(buffer);
}

text DiskObjectId(const Disk &disk)
{
    if (disk.busType == BusSpaces) {
        size_t n = 0;
        for (const auto &other : CurrentHost().disks)
            if (other.busType == BusSpaces && other.number < disk.number)
                ++n;
        return ProviderId(u"Disk", u"DI:" + VirtualDiskGuid(n));
    }
    return ProviderId(u"Disk", u"DI:\\\\?\\scsi#disk&ven_winsim&prod_disk" + Decimal(disk.number) +
                                   u"#5&1f2e3d4c&0&00000" + Decimal(disk.number) +
                                   u"#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
}

text PhysicalDiskObjectId(DWORD deviceId)
{
    return ProviderId(u"PhysicalDisk", u"PD:{" + Decimal(deviceId) + u"}");
}

// The volumes made of a single extent, by the disk and offset of the partition the extent
// is (the first volume when two claim one): one lookup per partition, not a walk over every
// volume, so a query of every partition does not grow with partitions times volumes.
std::map<std::pair<DWORD, ULONGLONG>, const Volume *> VolumesOnPartitions()
{
    std::map<std::pair<DWORD, ULONGLONG>, const Volume *> volumes;
    for (const auto &volume : CurrentHost().volumes)
        if (volume.extents.size() == 1)
            volumes.emplace(std::make_pair(volume.extents[0].disk, volume.extents[0].offset), &volume);
    return volumes;
}

// ---- CIMV2 ----

std::vector<ObjectData> ComputerSystems(const ClassDef &def)
{
    const Host &host = CurrentHost();
    const json system = Section("wmi").value("computerSystem", json::object());
    return {MakeInstance(def, {
                                  {u"Name", Value::String(host.hostName)},
                                  {u"Manufacturer", Value::String(Field(system, "manufacturer", "Winsim Systems"))},
                                  {u"Model", Value::String(Field(system, "model", "Simulated Server"))},
                                  {u"Domain", Value::String(host.domain.empty() ? u"WORKGROUP" : host.domain)},
                                  {u"PartOfDomain", Value::Bool(!host.domain.empty())},
                              })};
}

json Adapters()
{
    const json network = Section("network");
    if (network.contains("adapters") && network["adapters"].is_array())
        return network["adapters"];
    // A host that describes no network has one physical Ethernet adapter.
    return json::parse(R"([{"deviceId": 1, "physical": true, "adapterType": "Ethernet 802.3",
        "macAddress": "00:15:5D:0A:0B:0C", "productName": "Winsim Ethernet Adapter",
        "dhcpEnabled": false, "ipAddress": ["192.168.10.21", "fe80::1c4e:2a3b:9d0f:1a2b"],
        "ipSubnet": ["255.255.255.0", "64"], "defaultIPGateway": ["192.168.10.1"]}])");
}

Value OptionalString(const json &object, const char *name)
{
    if (object.contains(name) && object[name].is_string())
        return Value::String(Widen(object[name].get<std::string>()));
    return Value::Null();
}

Value OptionalStrings(const json &object, const char *name)
{
    if (object.contains(name) && object[name].is_array())
        return Value::Strings(Strings(object, name));
    return Value::Null();
}

std::vector<ObjectData> NetworkAdapters(const ClassDef &def)
{
    std::vector<ObjectData> out;
    for (const auto &a : Adapters()) {
        const unsigned index = unsigned(Number(a, "deviceId", 0));
        out.push_back(MakeInstance(def, {
                                            {u"DeviceID", Value::String(Decimal(index))},
                                            {u"Index", Value::Int32(LONG(index))},
                                            {u"PhysicalAdapter", Value::Bool(Flag(a, "physical", true))},
                                            {u"AdapterType", OptionalString(a, "adapterType")},
                                            {u"MACAddress", OptionalString(a, "macAddress")},
                                            {u"ProductName", OptionalString(a, "productName")},
                                            {u"Name", OptionalString(a, "productName")},
                                        }));
    }
    return out;
}

std::vector<ObjectData> AdapterConfigurations(const ClassDef &def)
{
    std::vector<ObjectData> out;
    for (const auto &a : Adapters()) {
        const bool dhcp = Flag(a, "dhcpEnabled", false);
        out.push_back(MakeInstance(def, {
                                            {u"Index", Value::Int32(LONG(Number(a, "deviceId", 0)))},
                                            {u"IPEnabled", Value::Bool(a.is_object() && a.contains("ipAddress"))},
                                            {u"DHCPEnabled", Value::Bool(dhcp)},
                                            {u"DHCPServer", OptionalString(a, "dhcpServer")},
                                            {u"IPAddress", OptionalStrings(a, "ipAddress")},
                                            {u"IPSubnet", OptionalStrings(a, "ipSubnet")},
                                            {u"DefaultIPGateway", OptionalStrings(a, "defaultIPGateway")},
                                            {u"MACAddress", OptionalString(a, "macAddress")},
                                        }));
    }
    return out;
}

// ---- Storage ----

std::vector<ObjectData> StorageDisks(const ClassDef &def)
{
    std::vector<ObjectData> out;
    for (const auto &disk : CurrentHost().disks) {
        const LONG style = disk.style == PartitionStyle::Mbr ? 1 : disk.style == PartitionStyle::Gpt ? 2 : 0;
        out.push_back(MakeInstance(
            def, {
                     {u"ObjectId", Value::String(DiskObjectId(disk))},
                     {u"Number", Value::Int32(LONG(disk.number))},
                     {u"BusType", Value::Int32(disk.busType)},
                     {u"PartitionStyle", Value::Int32(style)},
                     {u"Size", Value::UInt64(disk.size)},
                     {u"FriendlyName", Value::String(disk.friendlyName)},
                     {u"Guid", disk.style == PartitionStyle::Gpt ? Value::String(GuidText(disk.diskId)) : Value::Null()},
                     {u"Signature", disk.style == PartitionStyle::Mbr ? Value::Int32(LONG(disk.signature)) : Value::Null()},
                     {u"IsClustered", Value::Bool(disk.clustered)},
                     {u"LogicalSectorSize", Value::Int32(LONG(disk.bytesPerSector))},
                     {u"NumberOfPartitions", Value::Int32(LONG(disk.partitions.size()))},
                 }));
    }
    return out;
}

std::vector<ObjectData> Partitions(const ClassDef &def)
{
    std::vector<ObjectData> out;
    const auto volumes = VolumesOnPartitions();
    for (const auto &disk : CurrentHost().disks) {
        for (const auto &partition : disk.partitions) {
            Value accessPaths = Value::Null();
            WCHAR letter = 0;
            const auto found = volumes.find(std::make_pair(disk.number, partition.offset));
            if (found != volumes.end()) {
                const Volume *volume = found->second;
                std::vector<text> paths = volume->RootPaths();
                paths.push_back(volume->guidPath);
                accessPaths = Value::Strings(paths);
                letter = volume->driveLetter;
            }
            const bool gpt = disk.style == PartitionStyle::Gpt;
            out.push_back(MakeInstance(
                def, {
                         {u"ObjectId", Value::String(ProviderId(u"Partition", u"PR:{" + Decimal(disk.number) + u"}\\" +
                                                                                  Decimal(partition.number)))},
                         {u"DiskNumber", Value::Int32(LONG(disk.number))},
                         {u"PartitionNumber", Value::Int32(LONG(partition.number))},
                         {u"Offset", Value::UInt64(partition.offset)},
                         {u"Size", Value::UInt64(partition.length)},
                         {u"GptType", gpt ? Value::String(GuidText(partition.gptType)) : Value::Null()},
                         {u"MbrType", gpt ? Value::Null() : Value::Int32(partition.mbrType)},
                         {u"DriveLetter", Value::Int16(SHORT(letter))},
                         {u"AccessPaths", accessPaths},
                         {u"IsActive", Value::Bool(partition.bootIndicator)},
                     }));
        }
    }
    return out;
}

std::vector<ObjectData> StorageVolumes(const ClassDef &def)
{
    std::vector<ObjectData> out;
    for (const auto &volume : CurrentHost().volumes) {
        const LONG driveType = volume.kind == DriveKind::Removable ? 2 : volume.kind == DriveKind::CdRom ? 5 : 3;
        out.push_back(MakeInstance(def, {
                                            {u"ObjectId", Value::String(ProviderId(u"Volume", u"VO:" + volume.guidPath))},
                                            {u"Path", Value::String(volume.guidPath)},
                                            {u"UniqueId", Value::String(volume.guidPath)},
                                            {u"DriveLetter", Value::Int16(SHORT(volume.driveLetter))},
                                            {u"DriveType", Value::Int32(driveType)},
                                            {u"FileSystem", Value::String(volume.fileSystem)},
                                            {u"FileSystemLabel", Value::String(volume.label)},
                                            {u"Size", Value::UInt64(volume.size)},
                                        }));
    }
    return out;
}

// A physical disk as MSFT_PhysicalDisk answers it.
struct PhysicalDiskModel {
    DWORD deviceId;
    text name;
    int busType;
    unsigned long long size;
    bool canPool;
};

// Storage pools: the primordial pool holds every physical disk of the host; described
// pools ("storagePools", see the top of this file) add theirs.
struct PoolModel {
    text objectId;
    text name;
    bool primordial;
    unsigned long long size;
    std::vector<PhysicalDiskModel> disks;
    json virtualDisks;
    size_t firstVirtualDisk;  // the number of virtual disks of the pools before this one
};

PhysicalDiskModel HostPhysicalDisk(const Disk &disk)
{
    return {disk.number, disk.friendlyName, disk.busType, disk.size, !disk.clustered && disk.partitions.empty()};
}

std::vector<PoolModel> Pools()
{
    std::vector<PoolModel> pools;
    PoolModel primordial{ProviderId(u"StoragePool", u"SP:{primordial}"), u"Primordial", true, 0, {}, json::array(), 0};
    for (const auto &disk : CurrentHost().disks)
        if (disk.busType != BusSpaces) {  // a Storage Spaces disk is a virtual disk, not a physical one
            primordial.disks.push_back(HostPhysicalDisk(disk));
            primordial.size += disk.size;
        }
    pools.push_back(primordial);
    json described = Items(Section("wmi"), "storagePools");
    const auto &sections = CurrentHost().sections;
    auto top = sections.find("storagePools");
    if (top != sections.end()) {
        json parsed = json::parse(top->second, nullptr, false);
        if (parsed.is_array())
            described = parsed;
    }
    int n = 0;
    size_t virtualDisks = 0;
    for (const auto &p : described) {
        if (!p.is_object())
            continue;
        PoolModel pool{ProviderId(u"StoragePool", u"SP:{pool" + Decimal(unsigned(++n)) + u"}"),
                       Field(p, "friendlyName", "Pool"), false, 0, {}, Items(p, "virtualDisks"), virtualDisks};
        virtualDisks += pool.virtualDisks.size();
        for (const auto &d : Items(p, "physicalDisks")) {
            if (d.is_number_unsigned()) {
                if (const Disk *disk = CurrentHost().FindDisk(d.get<DWORD>()))
                    pool.disks.push_back(HostPhysicalDisk(*disk));
            } else if (d.is_object() && d.contains("deviceId") && d["deviceId"].is_number_unsigned()) {
                pool.disks.push_back({DWORD(Number(d, "deviceId", 0)), Field(d, "friendlyName", "PhysicalDisk"),
                                      int(Number(d, "busType", BusSas)), Number(d, "size", 0), false});
            }
        }
        for (const auto &disk : pool.disks)
            pool.size += disk.size;
        pools.push_back(pool);
    }
    return pools;
}

// Every physical disk once: the host's, then those only a pool holds.
std::vector<ObjectData> PhysicalDisks(const ClassDef &def)
{
    std::vector<ObjectData> out;
    std::vector<DWORD> listed;
    for (const auto &pool : Pools())
        for (const auto &disk : pool.disks) {
            if (std::find(listed.begin(), listed.end(), disk.deviceId) != listed.end())
                continue;
            listed.push_back(disk.deviceId);
            out.push_back(MakeInstance(def, {
                                                {u"ObjectId", Value::String(PhysicalDiskObjectId(disk.deviceId))},
                                                {u"DeviceId", Value::String(Decimal(disk.deviceId))},
                                                {u"BusType", Value::Int32(disk.busType)},
                                                {u"FriendlyName", Value::String(disk.name)},
                                                {u"Size", Value::UInt64(disk.size)},
                                                {u"CanPool", Value::Bool(disk.canPool)},
                                            }));
        }
    return out;
}

text VirtualDiskId(const PoolModel &pool, size_t index)
{
    return ProviderId(u"VirtualDisk", u"VD:" + pool.name + u"\\" + VirtualDiskGuid(pool.firstVirtualDisk + index));
}

std::vector<ObjectData> StoragePools(const ClassDef &def)
{
    std::vector<ObjectData> out;
    for (const auto &pool : Pools())
        out.push_back(MakeInstance(def, {
                                            {u"ObjectId", Value::String(pool.objectId)},
                                            {u"FriendlyName", Value::String(pool.name)},
                                            {u"IsPrimordial", Value::Bool(pool.primordial)},
                                            {u"Size", Value::UInt64(pool.size)},
                                        }));
    return out;
}

std::vector<ObjectData> VirtualDisks(const ClassDef &def)
{
    std::vector<ObjectData> out;
    for (const auto &pool : Pools())
        for (size_t i = 0; i < pool.virtualDisks.size(); ++i) {
            const json &vd = pool.virtualDisks[i];
            out.push_back(MakeInstance(
                def, {
                         {u"ObjectId", Value::String(VirtualDiskId(pool, i))},
                         {u"FriendlyName", Value::String(Field(vd, "friendlyName", "VirtualDisk"))},
                         {u"ResiliencySettingName", Value::String(Field(vd, "resiliency", "Simple"))},
                         {u"ProvisioningType", Value::Int32(Field(vd, "provisioning", "fixed") == u"thin" ? 1 : 2)},
                         {u"Size", Value::UInt64(Number(vd, "size", 0))},
                     }));
        }
    return out;
}

text Reference(const text &className, const text &objectId)
{
    text escaped;
    for (char16_t c : objectId) {
        if (c == u'\\' || c == u'"')
            escaped += u'\\';
        escaped += c;
    }
    return u"\\\\" + CurrentHost().hostName + u"\\" + kStorage + u":" + className + u".ObjectId=\"" + escaped + u"\"";
}

std::vector<ObjectData> PoolToPhysicalDisk(const ClassDef &def)
{
    std::vector<ObjectData> out;
    for (const auto &pool : Pools())
        for (const auto &disk : pool.disks)
            out.push_back(MakeInstance(
                def, {
                         {u"StoragePool", Value::String(Reference(u"MSFT_StoragePool", pool.objectId))},
                         {u"PhysicalDisk",
                          Value::String(Reference(u"MSFT_PhysicalDisk", PhysicalDiskObjectId(disk.deviceId)))},
                     }));
    return out;
}

std::vector<ObjectData> PoolToVirtualDisk(const ClassDef &def)
{
    std::vector<ObjectData> out;
    for (const auto &pool : Pools())
        for (size_t i = 0; i < pool.virtualDisks.size(); ++i)
            out.push_back(MakeInstance(
                def, {
                         {u"StoragePool", Value::String(Reference(u"MSFT_StoragePool", pool.objectId))},
                         {u"VirtualDisk", Value::String(Reference(u"MSFT_VirtualDisk", VirtualDiskId(pool, i)))},
                     }));
    return out;
}

// ---- cluster ----

struct ClusterHolder {
    std::mutex lock;
    bool loaded = false;
    std::string source;
    ClusterState state;
    std::string keptFile;  // in a kept sandbox: the cluster as the last process left it
};

ClusterHolder &TheCluster()
{
    static ClusterHolder *holder = new ClusterHolder;
    return *holder;
}

const DWORD kInMaintenance = 4;  // the maintenance bit of a CSV's FaultState

// CLUSTER_NODE_STATE of a described state; an unknown word reads as ClusterNodeStateUnknown.
LONG NodeStateOf(const std::string &word)
{
    static const char *const names[] = {"up", "down", "paused", "joining"};
    for (LONG i = 0; i < 4; ++i)
        if (word == names[i])
            return i;
    return -1;
}

// The owners and fault states of the CSVs, as a kept sandbox keeps them.
std::string KeptText(const ClusterState &state)
{
    json volumes = json::array();
    for (const auto &v : state.volumes)
        volumes.push_back({{"name", Narrow(v.name)}, {"owner", Narrow(v.owner)}, {"faultState", v.faultState}});
    return json{{"sharedVolumes", volumes}}.dump(2);
}

// A kept sandbox is one cluster for every process: what a move or maintenance change left
// is read back over the description.
void ApplyKept(ClusterHolder &holder)
{
    std::ifstream in(holder.keptFile);
    const json kept = in ? json::parse(in, nullptr, false) : json();
    for (const auto &v : Items(kept, "sharedVolumes"))
        for (auto &volume : holder.state.volumes)
            if (SameName(volume.name, Field(v, "name", ""))) {
                volume.owner = Field(v, "owner", Narrow(volume.owner).c_str());
                volume.faultState = DWORD(Number(v, "faultState", volume.faultState));
            }
}

void Keep(const ClusterHolder &holder)
{
    const std::string folder = holder.keptFile.substr(0, holder.keptFile.rfind('/'));
    MakeDirectories(folder);
    const std::string aside = holder.keptFile + ".new";
    std::ofstream(aside) << KeptText(holder.state) << "\n";
    std::rename(aside.c_str(), holder.keptFile.c_str());
}

void LoadCluster(ClusterHolder &holder)
{
    const auto &sections = CurrentHost().sections;
    auto found = sections.find("cluster");
    holder.source = found == sections.end() ? std::string() : found->second;
    holder.state = ClusterState();
    holder.loaded = true;
    if (holder.source.empty())
        return;
    json cluster = json::parse(holder.source, nullptr, false);
    if (!cluster.is_object())
        return;
    holder.state.present = true;
    holder.state.name = Field(cluster, "name", "CLUSTER");
    for (const auto &n : Items(cluster, "nodes")) {
        ClusterNodeState node;
        node.name = n.is_string() ? Widen(n.get<std::string>()) : Field(n, "name", "");
        node.state = NodeStateOf(Narrow(Field(n, "state", "up")));
        if (!node.name.empty())
            holder.state.nodes.push_back(node);
    }
    for (const auto &v : Items(cluster, "sharedVolumes")) {
        ClusterVolumeState volume;
        volume.name = Field(v, "name", "");
        volume.volumeGuid = Field(v, "volume", "");
        volume.owner = Field(v, "owner", "");
        if (volume.owner.empty() && !holder.state.nodes.empty())
            volume.owner = holder.state.nodes.front().name;
        volume.faultState = unsigned(Number(v, "faultState", 0));
        if (Flag(v, "maintenance", false))
            volume.faultState |= kInMaintenance;
        holder.state.volumes.push_back(volume);
    }
    if (!holder.keptFile.empty())
        ApplyKept(holder);
}

text CsvPathOf(const ClusterVolumeState &csv)
{
    for (const auto &volume : CurrentHost().volumes)
        if (!csv.volumeGuid.empty() && volume.guidPath.find(csv.volumeGuid) != text::npos)
            return volume.mountFolders.empty() ? volume.guidPath : volume.mountFolders.front();
    return text();
}

std::vector<ObjectData> SharedVolumes(const ClassDef &def)
{
    std::vector<ObjectData> out;
    WithCluster([&](ClusterState &cluster) {
        for (const auto &csv : cluster.volumes)
            out.push_back(MakeInstance(def, {
                                                {u"Name", Value::String(csv.name)},
                                                {u"VolumeName", Value::String(CsvPathOf(csv))},
                                                {u"FaultState", Value::Int32(LONG(csv.faultState))},
                                                {u"BackupState", Value::Int32(0)},
                                            }));
    });
    return out;
}

std::vector<ObjectData> ClusterNodes(const ClassDef &def)
{
    std::vector<ObjectData> out;
    WithCluster([&](ClusterState &cluster) {
        for (const auto &node : cluster.nodes)
            out.push_back(MakeInstance(def, {{u"Name", Value::String(node.name)}, {u"State", Value::Int32(node.state)}}));
    });
    return out;
}

// Links each shared volume with its coordinator node (reachable through ASSOCIATORS OF).
std::vector<ObjectData> SharedVolumeOwners(const ClassDef &def)
{
    std::vector<ObjectData> out;
    WithCluster([&](ClusterState &cluster) {
        for (const auto &csv : cluster.volumes) {
            ObjectData link = MakeInstance(def, {});
            link.Set(u"Volume", Value::String(u"MSCluster_ClusterSharedVolume.Name=\"" + EscapeKey(csv.name) + u"\""));
            link.Set(u"Node", Value::String(u"MSCluster_Node.Name=\"" + EscapeKey(csv.owner) + u"\""));
            out.push_back(link);
        }
    });
    return out;
}

text InputString(const ObjectData *in, const char16_t *name)
{
    text value;
    if (in != nullptr)
        if (const Property *p = in->Find(name))
            if (p->value.raw().vt == VT_BSTR)
                p->value.AsText(&value);
    return value;
}

// The CSV an instance method was called on.
ClusterVolumeState *CsvOf(ClusterState &cluster, const ObjectData *instance)
{
    const Property *name = instance ? instance->Find(u"Name") : nullptr;
    text wanted;
    if (name == nullptr || !name->value.AsText(&wanted))
        return nullptr;
    for (auto &csv : cluster.volumes)
        if (SameName(csv.name, wanted))
            return &csv;
    return nullptr;
}

const HRESULT kNodeNotFound = HRESULT_FROM_WIN32(5042);      // ERROR_CLUSTER_NODE_NOT_FOUND
const HRESULT kNoSuchResource = HRESULT_FROM_WIN32(5007);    // ERROR_RESOURCE_NOT_FOUND
// The cluster refuses to move a group to a node that is not up (down, paused, joining or
// of unknown state) with ERROR_HOST_NODE_NOT_AVAILABLE; the provider hands the code on.
const HRESULT kNodeNotAvailable = HRESULT_FROM_WIN32(5005);

HRESULT MoveToNewHost(const ObjectData *instance, const ObjectData *in, LONG *returnValue)
{
    const text target = InputString(in, u"HostName");
    if (target.empty())
        return WBEM_E_INVALID_METHOD_PARAMETERS;
    HRESULT hr = WBEM_S_NO_ERROR;
    WithCluster([&](ClusterState &cluster) {
        ClusterVolumeState *csv = CsvOf(cluster, instance);
        if (csv == nullptr) {
            hr = kNoSuchResource;
            return;
        }
        for (const auto &node : cluster.nodes)
            if (SameName(node.name, target)) {
                if (node.state != 0) {
                    hr = kNodeNotAvailable;
                    return;
                }
                csv->owner = node.name;
                *returnValue = 0;
                return;
            }
        hr = kNodeNotFound;
    });
    return hr;
}

HRESULT SetMaintenance(const ObjectData *instance, bool on)
{
    HRESULT hr = WBEM_S_NO_ERROR;
    WithCluster([&](ClusterState &cluster) {
        ClusterVolumeState *csv = CsvOf(cluster, instance);
        if (csv == nullptr) {
            hr = kNoSuchResource;
            return;
        }
        csv->faultState = on ? (csv->faultState | kInMaintenance) : (csv->faultState & ~kInMaintenance);
    });
    return hr;
}

// ---- the schema ----

std::vector<ClassDef> BuildClasses()
{
    std::vector<ClassDef> classes;
    auto add = [&](const text &ns, const text &name, std::vector<text> keys, std::vector<PropertyDef> properties,
                   InstanceSource source) -> ClassDef & {
        ClassDef def;
        def.ns = ns;
        def.name = name;
        def.keys = std::move(keys);
        def.properties = std::move(properties);
        def.instances = std::move(source);
        classes.push_back(std::move(def));
        return classes.back();
    };
    const CIMTYPE S = CIM_STRING, U8 = CIM_UINT8, U16 = CIM_UINT16, U32 = CIM_UINT32, U64 = CIM_UINT64,
                  B = CIM_BOOLEAN, C16 = CIM_CHAR16, SA = CIM_STRING | CIM_FLAG_ARRAY, REF = CIM_REFERENCE;
    (void)U8;

    ClassDef &system = add(kCimv2, u"Win32_ComputerSystem", {u"Name"},
                           {{u"Name", S}, {u"Manufacturer", S}, {u"Model", S}, {u"Domain", S}, {u"PartOfDomain", B}},
                           ComputerSystems);
    MethodDef rename;
    rename.name = u"Rename";
    rename.hasInput = true;
    rename.in = {{u"Name", S}, {u"Password", S}, {u"UserName", S}};
    rename.body = [](const ObjectData *, const ObjectData *in, LONG *returnValue) -> HRESULT {
        // Renaming is not simulated: an empty name is refused as Windows does (87).
        *returnValue = InputString(in, u"Name").empty() ? 87 : 0;
        return WBEM_S_NO_ERROR;
    };
    system.methods.push_back(rename);

    add(kCimv2, u"Win32_NetworkAdapter", {u"DeviceID"},
        {{u"DeviceID", S}, {u"Index", U32}, {u"PhysicalAdapter", B}, {u"AdapterType", S}, {u"MACAddress", S},
         {u"ProductName", S}, {u"Name", S}},
        NetworkAdapters);
    add(kCimv2, u"Win32_NetworkAdapterConfiguration", {u"Index"},
        {{u"Index", U32}, {u"IPEnabled", B}, {u"DHCPEnabled", B}, {u"DHCPServer", S}, {u"IPAddress", SA},
         {u"IPSubnet", SA}, {u"DefaultIPGateway", SA}, {u"MACAddress", S}},
        AdapterConfigurations);

    add(kStorage, u"MSFT_Disk", {u"ObjectId"},
        {{u"ObjectId", S}, {u"Number", U32}, {u"BusType", U16}, {u"PartitionStyle", U16}, {u"Size", U64},
         {u"FriendlyName", S}, {u"Guid", S}, {u"Signature", U32}, {u"IsClustered", B}, {u"LogicalSectorSize", U32},
         {u"NumberOfPartitions", U32}},
        StorageDisks);
    add(kStorage, u"MSFT_PhysicalDisk", {u"ObjectId"},
        {{u"ObjectId", S}, {u"DeviceId", S}, {u"BusType", U16}, {u"FriendlyName", S}, {u"Size", U64},
         {u"CanPool", B}},
        PhysicalDisks);
    add(kStorage, u"MSFT_Partition", {u"ObjectId"},
        {{u"ObjectId", S}, {u"DiskNumber", U32}, {u"PartitionNumber", U32}, {u"Offset", U64}, {u"Size", U64},
         {u"GptType", S}, {u"MbrType", U16}, {u"DriveLetter", C16}, {u"AccessPaths", SA}, {u"IsActive", B}},
        Partitions);
    add(kStorage, u"MSFT_Volume", {u"ObjectId"},
        {{u"ObjectId", S}, {u"Path", S}, {u"UniqueId", S}, {u"DriveLetter", C16}, {u"DriveType", U32},
         {u"FileSystem", S}, {u"FileSystemLabel", S}, {u"Size", U64}},
        StorageVolumes);
    add(kStorage, u"MSFT_StoragePool", {u"ObjectId"},
        {{u"ObjectId", S}, {u"FriendlyName", S}, {u"IsPrimordial", B}, {u"Size", U64}}, StoragePools);
    add(kStorage, u"MSFT_VirtualDisk", {u"ObjectId"},
        {{u"ObjectId", S}, {u"FriendlyName", S}, {u"ResiliencySettingName", S}, {u"ProvisioningType", U16},
         {u"Size", U64}},
        VirtualDisks);
    add(kStorage, u"MSFT_StoragePoolToPhysicalDisk", {u"StoragePool", u"PhysicalDisk"},
        {{u"StoragePool", REF}, {u"PhysicalDisk", REF}}, PoolToPhysicalDisk)
        .association = true;
    add(kStorage, u"MSFT_StoragePoolToVirtualDisk", {u"StoragePool", u"VirtualDisk"},
        {{u"StoragePool", REF}, {u"VirtualDisk", REF}}, PoolToVirtualDisk)
        .association = true;

    ClassDef &csv = add(kCluster, u"MSCluster_ClusterSharedVolume", {u"Name"},
                        {{u"Name", S}, {u"VolumeName", S}, {u"FaultState", U32}, {u"BackupState", U32}},
                        SharedVolumes);
    MethodDef move;
    move.name = u"MoveToNewHost";
    move.hasInput = true;
    move.in = {{u"HostName", S}};
    move.body = MoveToNewHost;
    MethodDef on;
    on.name = u"TurnOnMaintenance";
    on.body = [](const ObjectData *instance, const ObjectData *, LONG *) { return SetMaintenance(instance, true); };
    MethodDef off;
    off.name = u"TurnOffMaintenance";
    off.body = [](const ObjectData *instance, const ObjectData *, LONG *) { return SetMaintenance(instance, false); };
    csv.methods = {move, on, off};
    add(kCluster, u"MSCluster_Node", {u"Name"}, {{u"Name", S}, {u"State", U32}}, ClusterNodes);
    ClassDef &owners = add(kCluster, u"MSCluster_ClusterSharedVolumeToNode", {u"Volume", u"Node"},
                           {{u"Volume", REF}, {u"Node", REF}}, SharedVolumeOwners);
    owners.association = true;
    owners.hidden = true;
    return classes;
}

} // namespace

namespace {

std::string KeptClusterFile()
{
    const std::string root = KeptSandboxRoot();
    return root.empty() ? std::string() : root + "/.winsim-cluster/" + Narrow(CurrentHost().hostName) + ".json";
}

} // namespace

void WithCluster(const std::function<void(ClusterState &)> &work)
{
    const std::string keptFile = KeptClusterFile();  // before the lock: it takes the sandbox's
    ClusterHolder &holder = TheCluster();
    std::lock_guard<std::mutex> guard(holder.lock);
    const auto &sections = CurrentHost().sections;
    auto found = sections.find("cluster");
    const std::string current = found == sections.end() ? std::string() : found->second;
    if (!holder.loaded || current != holder.source || keptFile != holder.keptFile) {
        holder.keptFile = keptFile;
        LoadCluster(holder);
    }
    const std::string before = holder.keptFile.empty() ? std::string() : KeptText(holder.state);
    work(holder.state);
    if (!holder.keptFile.empty() && holder.state.present && KeptText(holder.state) != before)
        Keep(holder);
}

void ReloadCluster()
{
    const std::string keptFile = KeptClusterFile();
    ClusterHolder &holder = TheCluster();
    std::lock_guard<std::mutex> guard(holder.lock);
    holder.keptFile = keptFile;
    LoadCluster(holder);
}

const std::vector<ClassDef> &Classes()
{
    static const std::vector<ClassDef> *classes = new std::vector<ClassDef>(BuildClasses());
    return *classes;
}

const ClassDef *FindClass(const text &ns, const text &name)
{
    if (!NamespaceExists(ns))
        return nullptr;
    for (const auto &def : Classes())
        if (SameName(def.ns, ns) && SameName(def.name, name))
            return &def;
    return nullptr;
}

bool NamespaceExists(const text &ns)
{
    const text upper = Upper(ns);
    if (upper == kCluster) {
        bool present = false;
        WithCluster([&](ClusterState &cluster) { present = cluster.present; });
        return present;
    }
    return upper == u"ROOT" || upper == u"ROOT\\DEFAULT" || upper == kCimv2 || upper == u"ROOT\\MICROSOFT" ||
           upper == u"ROOT\\MICROSOFT\\WINDOWS" || upper == kStorage;
}

namespace {

Value RawValue(const json &value)
{
    if (value.is_string())
        return Value::String(Widen(value.get<std::string>()));
    if (value.is_boolean())
        return Value::Bool(value.get<bool>());
    if (value.is_number_integer())
        return Value::Int32(LONG(value.get<long long>()));
    if (value.is_array()) {
        std::vector<text> items;
        for (const auto &item : value)
            if (item.is_string())
                items.push_back(Widen(item.get<std::string>()));
        return Value::Strings(items);
    }
    return Value::Null();
}

bool DescribedFor(const json &entry, const ClassDef &def)
{
    text ns = Upper(Field(entry, "namespace", ""));
    for (auto &c : ns)
        if (c == u'/')
            c = u'\\';
    if (ns.compare(0, 4, u"\\\\.\\") == 0)
        ns = ns.substr(4);
    return SameName(ns, def.ns) && SameName(Field(entry, "class", ""), def.name);
}

// The raw instances and values the host description's "wmi" section adds.
void ApplyDescribedValues(const ClassDef &def, std::vector<ObjectData> &instances)
{
    const json wmiSection = Section("wmi");
    for (const auto &entry : Items(wmiSection, "instances")) {
        if (!entry.is_object() || !DescribedFor(entry, def))
            continue;
        std::vector<std::pair<text, Value>> values;
        const json properties = entry.value("properties", json::object());
        if (!properties.is_object())
            continue;
        for (const auto &p : properties.items())
            values.emplace_back(Widen(p.key()), RawValue(p.value()));
        instances.push_back(MakeInstance(def, values));
    }
    for (const auto &entry : Items(wmiSection, "overrides")) {
        if (!entry.is_object() || !DescribedFor(entry, def) || !entry.contains("value"))
            continue;
        for (auto &instance : instances)
            instance.Set(Field(entry, "property", ""), RawValue(entry["value"]));
    }
}

} // namespace

std::vector<ObjectData> InstancesOf(const ClassDef &def)
{
    std::vector<ObjectData> instances = def.instances ? def.instances(def) : std::vector<ObjectData>();
    ApplyDescribedValues(def, instances);
    for (auto &instance : instances)
        instance.ns = def.ns;
    ApplyOverrides(def, instances);
    return instances;
}

} // namespace wmi

std::vector<WmiSharedVolume> WmiSharedVolumes()
{
    std::vector<WmiSharedVolume> out;
    wmi::WithCluster([&](wmi::ClusterState &cluster) {
        for (const auto &csv : cluster.volumes)
            out.push_back(WmiSharedVolume{csv.name, csv.owner, csv.faultState});
    });
    return out;
}

} // namespace winsim
