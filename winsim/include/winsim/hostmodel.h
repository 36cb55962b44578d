// winsim: the model of a simulated Windows host, read from a JSON host description.
//
// The model is plain data. The kernel32, registry, WMI and VSS layers of winsim answer
// from it, so that one volume GUID, one disk number or one host name is the same in
// every answer. docs/host-description.md describes the JSON format.
#pragma once

#include "winsim/types.h"

#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace winsim {

// A host description that cannot be loaded. what() names the field and the fault,
// e.g. "volumes[2].extents[0].disk: no disk 7 is described".
class WINSIM_API HostError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class Firmware { Bios, Uefi };
enum class PartitionStyle { Raw, Mbr, Gpt };
enum class DriveKind { Fixed, Removable, CdRom };

// Bus types as MSFT_Disk and STORAGE_BUS_TYPE number them.
enum BusType : int {
    BusUnknown = 0,
    BusScsi = 1,
    BusAtapi = 2,
    BusAta = 3,
    BusUsb = 7,
    BusRaid = 8,
    BusIscsi = 9,
    BusSas = 10,
    BusSata = 11,
    BusSd = 12,
    BusVirtual = 14,
    BusFileBackedVirtual = 15,
    BusSpaces = 16,
    BusNvme = 17,
};

struct OsVersion {
    DWORD major = 10;
    DWORD minor = 0;
    DWORD build = 17763;
    bool server = true;
    std::string productName = "Windows Server 2019 Datacenter";
};

struct Partition {
    DWORD number = 0;
    ULONGLONG offset = 0;
    ULONGLONG length = 0;
    // GPT: the partition type GUID. MBR: the type byte in mbrType.
    GUID gptType = {};
    BYTE mbrType = 0;
    bool bootIndicator = false;
    std::u16string name;
};

struct WINSIM_API Disk {
    DWORD number = 0;
    int busType = BusSas;
    ULONGLONG size = 0;
    DWORD bytesPerSector = 512;
    PartitionStyle style = PartitionStyle::Gpt;
    GUID diskId = {};       // GPT disk GUID
    DWORD signature = 0;    // MBR disk signature
    bool removable = false;
    bool clustered = false;
    std::u16string friendlyName;
    std::vector<Partition> partitions;

    // A dynamic disk carries LDM partitions (MBR type 0x42 or the GPT LDM types).
    bool IsDynamic() const;
};

struct Extent {
    DWORD disk = 0;
    ULONGLONG offset = 0;
    ULONGLONG length = 0;
};

struct WINSIM_API Volume {
    // \\?\Volume{guid}\ with lower-case digits and the trailing backslash.
    std::u16string guidPath;
    WCHAR driveLetter = 0;                   // 0 when the volume has no letter
    std::vector<std::u16string> mountFolders;  // e.g. D:\Mount\Data\ (trailing backslash)
    std::u16string fileSystem;               // NTFS, ReFS, FAT32, CSVFS, CDFS...
    std::u16string label;
    ULONGLONG size = 0;
    DWORD serialNumber = 0;
    DriveKind kind = DriveKind::Fixed;
    std::vector<Extent> extents;
    bool offline = false;
    bool csv = false;

    // Every path that names the volume's root: the drive root, then the mount folders.
    std::vector<std::u16string> RootPaths() const;
};

struct RegistryValue {
    std::u16string key;   // full path, e.g. HKEY_LOCAL_MACHINE\SOFTWARE\Tolvane\Backup Client
    std::u16string name;
    DWORD type = 0;       // REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, REG_BINARY
    std::vector<BYTE> data;  // exactly the bytes RegQueryValueExW hands back
};

// A SQL Server instance the host runs, as a client reaches it over SQLOLEDB.
struct SqlServerInstance {
    std::u16string name;     // as a client writes Data Source: HOST, or HOST\INSTANCE for a named one
    std::u16string version;  // what SELECT @@VERSION answers
    bool reachable = true;   // false: the instance refuses the Windows-authenticated login
};

// What a described file holds: bytes spelt out, or a size with bytes made when the file
// is first used (zeros, kept sparse, or a stream generated from a seed).
enum class FileFill { Bytes, Zeros, Seeded };

struct FileEntry {
    std::u16string path;  // a Windows path on one of the host's volumes
    bool directory = false;
    DWORD attributes = 0;  // FILE_ATTRIBUTE_* bits besides the directory bit
    FileFill fill = FileFill::Bytes;
    std::string content;   // the file's bytes (FileFill::Bytes)
    ULONGLONG size = 0;    // the file's length (Zeros, Seeded)
    ULONGLONG seed = 0;    // Seeded
    std::u16string junction;  // a junction (a directory reparse point): the full path it leads to
    ULONGLONG lastWrite = 0;  // its last-write time as a FILETIME counts it; 0: when it is made

    ULONGLONG Length() const { return fill == FileFill::Bytes ? content.size() : size; }
};

// The bytes of a seeded file from offset on: the same seed always gives the same stream,
// and any part of it can be made without the parts before it.
WINSIM_API void GenerateFileBytes(ULONGLONG seed, ULONGLONG offset, void *buffer, size_t length);

struct WINSIM_API Host {
    OsVersion os;
    Firmware firmware = Firmware::Uefi;
    std::u16string hostName = u"WINSIM-HOST";
    std::u16string domain;
    UINT ansiCodePage = 1252;
    // Environment of the host's processes, in the order described.
    std::vector<std::pair<std::u16string, std::u16string>> environment;
    std::vector<RegistryValue> registry;
    std::vector<Disk> disks;
    std::vector<Volume> volumes;
    std::vector<FileEntry> files;
    std::vector<SqlServerInstance> sqlServerInstances;
    // Sections that later layers read (network, cluster, writers, storage pools, WMI
    // overrides), kept as their JSON text until then.
    std::map<std::string, std::string> sections;

    const Disk *FindDisk(DWORD number) const;
    const Volume *FindVolumeByGuidPath(const std::u16string &guidPath) const;  // any letter case
};

// The version of the description format this loader reads. A description without
// "formatVersion" (a hand-written one) is read as this version; any other is refused.
constexpr unsigned kHostFormatVersion = 1;

// Reads a host description. Throws HostError naming the first field that is wrong; a
// description either loads whole or not at all.
WINSIM_API Host ParseHost(const std::string &json);
WINSIM_API Host LoadHostFile(const std::string &path);

// The embedded hosts: "default" (a Windows Server 2019 on UEFI) and "cluster-node" (the
// same server as a failover cluster node with a clustered disk and a Cluster Shared
// Volume). Throws HostError for another name.
WINSIM_API std::string EmbeddedHostJson(const std::string &name);

// The host the process runs on: on first use the file named by WINSIM_HOST (or, when
// WINSIM_HOST names an embedded host, that one), else the default host. A WINSIM_HOST
// that does not load ends the process with the HostError's text: nothing half-loaded.
WINSIM_API const Host &CurrentHost();
// Makes another host current (tests and tools). The listeners run after the swap, on
// the caller's thread, without winsim's host lock held.
WINSIM_API void ReplaceHost(Host host);

// How many hosts have been made current so far (0 before the first is loaded). Layers that
// keep state derived from the host compare it to know when to rebuild.
WINSIM_API unsigned HostGeneration();
// Called after each ReplaceHost (not for the first, lazily loaded host).
WINSIM_API void AddHostListener(std::function<void()> listener);

} // namespace winsim
