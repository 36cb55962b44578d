// The host model: reading and checking a JSON host description, the current host.
#include <objbase.h>

#include "../src/internal.h"
#include "winsim/hostmodel.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <set>

namespace winsim {

namespace {

using nlohmann::json;

// GPT partition types that matter to the simulation.
constexpr GUID kGptEfiSystem = {0xc12a7328, 0xf81f, 0x11d2, {0xba, 0x4b, 0x00, 0xa0, 0xc9, 0x3e, 0xc9, 0x3b}};
constexpr GUID kGptReserved = {0xe3c9e316, 0x0b5c, 0x4db8, {0x81, 0x7d, 0xf9, 0x2d, 0xf0, 0x02, 0x15, 0xae}};
constexpr GUID kGptBasicData = {0xebd0a0a2, 0xb9e5, 0x4433, {0x87, 0xc0, 0x68, 0xb6, 0xb7, 0x26, 0x99, 0xc7}};
constexpr GUID kGptRecovery = {0xde94bba4, 0x06d1, 0x4d40, {0xa1, 0x6d, 0xbf, 0xd5, 0x01, 0x79, 0xd6, 0xac}};
constexpr GUID kGptLdmMetadata = {0x5808c8aa, 0x7e8f, 0x42e0, {0x85, 0xd2, 0xe1, 0xe9, 0x04, 0x34, 0xcf, 0xb3}};
constexpr GUID kGptLdmData = {0xaf9b60a0, 0x1431, 0x4f62, {0xbc, 0x68, 0x33, 0x11, 0x71, 0x4a, 0x69, 0xad}};
constexpr GUID kGptClusterMetadata = {0xdb97dba9, 0x0840, 0x4bae, {0x97, 0xf0, 0xff, 0xb9, 0xa3, 0x27, 0xc7, 0xe1}};
constexpr BYTE kMbrLdm = 0x42;

const char *const kReservedSections[] = {"network", "cluster", "writers", "storagePools", "wmi"};

// Where the reader is in the document, for the error text: "volumes[2].extents[0]".
class Reader {
public:
    Reader(const json &node, std::string path) : node_(node), path_(std::move(path)) {}

    const std::string &Path() const { return path_; }
    std::string Field(const std::string &name) const { return path_.empty() ? name : path_ + "." + name; }

    [[noreturn]] void Fail(const std::string &field, const std::string &what) const
    {
        throw HostError(Field(field) + ": " + what);
    }
    [[noreturn]] void FailHere(const std::string &what) const
    {
        throw HostError((path_.empty() ? std::string("host description") : path_) + ": " + what);
    }

    // Refuses fields the format does not know: a misspelt field must not pass silently.
    void AllowOnly(std::initializer_list<const char *> names) const
    {
        if (!node_.is_object())
            FailHere("expected an object");
        for (auto it = node_.begin(); it != node_.end(); ++it) {
            if (std::none_of(names.begin(), names.end(), [&](const char *n) { return it.key() == n; }))
                Fail(it.key(), "unknown field");
        }
    }

    bool Has(const char *name) const { return node_.contains(name) && !node_.at(name).is_null(); }
    const json &At(const char *name) const { return node_.at(name); }

    Reader Child(const char *name) const { return Reader(node_.at(name), Field(name)); }

    std::string String(const char *name, const std::string &fallback, bool required = false) const
    {
        if (!Has(name)) {
            if (required)
                Fail(name, "missing");
            return fallback;
        }
        if (!At(name).is_string())
            Fail(name, "expected a string");
        return At(name).get<std::string>();
    }
    std::u16string Wide(const char *name, const std::u16string &fallback, bool required = false) const
    {
        if (!Has(name)) {
            if (required)
                Fail(name, "missing");
            return fallback;
        }
        return ToWide(name, String(name, ""));
    }
    ULONGLONG Unsigned(const char *name, ULONGLONG fallback, bool required = false,
                       ULONGLONG max = ~0ULL) const
    {
        if (!Has(name)) {
            if (required)
                Fail(name, "missing");
            return fallback;
        }
        const json &v = At(name);
        if (!v.is_number_integer() || (v.is_number_integer() && !v.is_number_unsigned() && v.get<long long>() < 0))
            Fail(name, "expected a non-negative integer");
        const ULONGLONG value = v.get<ULONGLONG>();
        if (value > max)
            Fail(name, "must be at most " + std::to_string(max));
        return value;
    }
    bool Bool(const char *name, bool fallback) const
    {
        if (!Has(name))
            return fallback;
        if (!At(name).is_boolean())
            Fail(name, "expected true or false");
        return At(name).get<bool>();
    }
    const json &Array(const char *name) const
    {
        if (!At(name).is_array())
            Fail(name, "expected an array");
        return At(name);
    }
    std::u16string ToWide(const std::string &field, const std::string &utf8) const
    {
        if (utf8.empty())
            return std::u16string();
        const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), int(utf8.size()), NULL, 0);
        if (units <= 0)
            Fail(field, "not valid UTF-8");
        std::u16string wide(size_t(units), u'\0');
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), int(utf8.size()), &wide[0], units);
        return wide;
    }

private:
    const json &node_;
    std::string path_;
};

std::string Indexed(const std::string &base, size_t i) { return base + "[" + std::to_string(i) + "]"; }

bool ParseGuid(const std::string &text, GUID &guid)
{
    std::u16string wide;
    for (char c : text)
        wide.push_back(char16_t(static_cast<unsigned char>(c)));
    if (wide.size() == 36)
        wide = u"{" + wide + u"}";
    return SUCCEEDED(CLSIDFromString(wide.c_str(), &guid));
}

std::u16string LowerGuidText(const GUID &guid)
{
    WCHAR text[39];
    StringFromGUID2(guid, text, 39);
    std::u16string s(text);
    for (char16_t &c : s) {
        if (c >= u'A' && c <= u'F')
            c = char16_t(c - u'A' + u'a');
    }
    return s;
}

GUID GptTypeByName(const Reader &r, const std::string &field, const std::string &name)
{
    if (name == "efi")
        return kGptEfiSystem;
    if (name == "msr")
        return kGptReserved;
    if (name == "basic")
        return kGptBasicData;
    if (name == "recovery")
        return kGptRecovery;
    if (name == "ldm-metadata")
        return kGptLdmMetadata;
    if (name == "ldm-data")
        return kGptLdmData;
    if (name == "cluster-metadata")
        return kGptClusterMetadata;
    GUID guid;
    if (!ParseGuid(name, guid))
        r.Fail(field, "unknown GPT partition type '" + name +
                          "' (efi, msr, basic, recovery, ldm-metadata, ldm-data, cluster-metadata or a GUID)");
    return guid;
}

BYTE MbrTypeByName(const Reader &r, const std::string &field, const std::string &name)
{
    if (name == "basic" || name == "ntfs")
        return 0x07;
    if (name == "fat32")
        return 0x0C;
    if (name == "ldm")
        return kMbrLdm;
    if (name == "recovery")
        return 0x27;
    char *end = nullptr;
    const unsigned long value = std::strtoul(name.c_str(), &end, 16);
    if (name.size() < 3 || name.compare(0, 2, "0x") != 0 || *end != '\0' || value == 0 || value > 0xFF)
        r.Fail(field, "unknown MBR partition type '" + name + "' (basic, ntfs, fat32, ldm, recovery or 0x01-0xff)");
    return BYTE(value);
}

int BusTypeByName(const Reader &r, const char *field)
{
    if (!r.Has(field))
        return BusSas;
    const json &v = r.At(field);
    if (v.is_number_unsigned() && v.get<unsigned>() <= 0x7F)
        return int(v.get<unsigned>());
    static const std::pair<const char *, int> names[] = {
        {"scsi", BusScsi}, {"atapi", BusAtapi}, {"ata", BusAta},   {"usb", BusUsb},     {"raid", BusRaid},
        {"iscsi", BusIscsi}, {"sas", BusSas}, {"sata", BusSata}, {"sd", BusSd},       {"virtual", BusVirtual},
        {"vhd", BusFileBackedVirtual}, {"spaces", BusSpaces}, {"nvme", BusNvme},
    };
    if (v.is_string()) {
        for (const auto &n : names) {
            if (v.get<std::string>() == n.first)
                return n.second;
        }
    }
    r.Fail(field, "unknown bus type (scsi, atapi, ata, usb, raid, iscsi, sas, sata, sd, virtual, vhd, spaces, nvme "
                  "or a number)");
}

void ReadOs(const Reader &r, OsVersion &os)
{
    r.AllowOnly({"version", "build", "server", "productName"});
    const std::string version = r.String("version", "10.0");
    unsigned major = 0, minor = 0;
    char tail = 0;
    if (std::sscanf(version.c_str(), "%u.%u%c", &major, &minor, &tail) != 2)
        r.Fail("version", "expected major.minor, e.g. 10.0");
    os.major = major;
    os.minor = minor;
    os.build = DWORD(r.Unsigned("build", os.build, false, 0xFFFFFFFF));
    os.server = r.Bool("server", os.server);
    os.productName = r.String("productName", os.server ? "Windows Server" : "Windows");
}

void ReadEnvironment(const Reader &r, Host &host)
{
    const json &env = r.At("environment");
    for (auto it = env.begin(); it != env.end(); ++it) {
        if (!it.value().is_string())
            r.Fail("environment." + it.key(), "expected a string");
        host.environment.emplace_back(r.ToWide("environment." + it.key(), it.key()),
                                      r.ToWide("environment." + it.key(), it.value().get<std::string>()));
    }
}

std::vector<BYTE> WideBytes(const std::u16string &text, bool terminated)
{
    std::vector<BYTE> bytes;
    for (char16_t c : text) {
        bytes.push_back(BYTE(c & 0xFF));
        bytes.push_back(BYTE(c >> 8));
    }
    if (terminated) {
        bytes.push_back(0);
        bytes.push_back(0);
    }
    return bytes;
}

void ReadRegistry(const Reader &r, Host &host)
{
    const json &list = r.Array("registry");
    for (size_t i = 0; i < list.size(); ++i) {
        const Reader e(list[i], Indexed("registry", i));
        e.AllowOnly({"key", "name", "type", "value"});
        RegistryValue value;
        value.key = e.Wide("key", u"", true);
        value.name = e.Wide("name", u"");
        const std::string type = e.String("type", "REG_SZ");
        if (!e.Has("value"))
            e.Fail("value", "missing");
        const json &v = e.At("value");
        if (type == "REG_SZ" || type == "REG_EXPAND_SZ") {
            value.type = type == "REG_SZ" ? REG_SZ : REG_EXPAND_SZ;
            value.data = WideBytes(e.Wide("value", u""), true);
        } else if (type == "REG_MULTI_SZ") {
            value.type = REG_MULTI_SZ;
            if (!v.is_array())
                e.Fail("value", "expected an array of strings for REG_MULTI_SZ");
            for (size_t j = 0; j < v.size(); ++j) {
                if (!v[j].is_string())
                    e.Fail(Indexed("value", j), "expected a string");
                const std::vector<BYTE> one = WideBytes(e.ToWide(Indexed("value", j), v[j].get<std::string>()), true);
                value.data.insert(value.data.end(), one.begin(), one.end());
            }
            value.data.push_back(0);
            value.data.push_back(0);
        } else if (type == "REG_DWORD" || type == "REG_QWORD") {
            const bool qword = type == "REG_QWORD";
            value.type = qword ? REG_QWORD : REG_DWORD;
            const ULONGLONG number = e.Unsigned("value", 0, true, qword ? ~0ULL : 0xFFFFFFFFULL);
            for (int b = 0; b < (qword ? 8 : 4); ++b)
                value.data.push_back(BYTE(number >> (8 * b)));
        } else if (type == "REG_BINARY") {
            value.type = REG_BINARY;
            if (!v.is_array())
                e.Fail("value", "expected an array of byte values for REG_BINARY");
            for (size_t j = 0; j < v.size(); ++j) {
                if (!v[j].is_number_unsigned() || v[j].get<unsigned>() > 0xFF)
                    e.Fail(Indexed("value", j), "expected a byte value 0-255");
                value.data.push_back(BYTE(v[j].get<unsigned>()));
            }
        } else {
            e.Fail("type", "unknown registry type '" + type +
                               "' (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, REG_BINARY)");
        }
        host.registry.push_back(std::move(value));
    }
}

void ReadDisks(const Reader &r, Host &host)
{
    const json &list = r.Array("disks");
    std::set<DWORD> numbers;
    for (size_t i = 0; i < list.size(); ++i) {
        const Reader d(list[i], Indexed("disks", i));
        d.AllowOnly({"number", "busType", "size", "bytesPerSector", "style", "id", "signature", "removable",
                     "clustered", "friendlyName", "partitions"});
        Disk disk;
        disk.number = DWORD(d.Unsigned("number", 0, true, 0xFFFF));
        if (!numbers.insert(disk.number).second)
            d.Fail("number", "disk " + std::to_string(disk.number) + " is described twice");
        disk.busType = BusTypeByName(d, "busType");
        disk.size = d.Unsigned("size", 0, true);
        disk.bytesPerSector = DWORD(d.Unsigned("bytesPerSector", 512, false, 65536));
        if (disk.bytesPerSector != 512 && disk.bytesPerSector != 4096)
            d.Fail("bytesPerSector", "must be 512 or 4096");
        const std::string style = d.String("style", "gpt");
        if (style == "gpt")
            disk.style = PartitionStyle::Gpt;
        else if (style == "mbr")
            disk.style = PartitionStyle::Mbr;
        else if (style == "raw")
            disk.style = PartitionStyle::Raw;
        else
            d.Fail("style", "expected gpt, mbr or raw");
        if (d.Has("id")) {
            if (disk.style != PartitionStyle::Gpt)
                d.Fail("id", "only a GPT disk has a disk GUID (an MBR disk has a signature)");
            if (!ParseGuid(d.String("id", ""), disk.diskId))
                d.Fail("id", "not a GUID");
        }
        if (d.Has("signature")) {
            if (disk.style != PartitionStyle::Mbr)
                d.Fail("signature", "only an MBR disk has a signature");
            disk.signature = DWORD(d.Unsigned("signature", 0, false, 0xFFFFFFFF));
        }
        disk.removable = d.Bool("removable", false);
        disk.clustered = d.Bool("clustered", false);
        disk.friendlyName = d.Wide("friendlyName", u"Simulated Disk " + std::u16string(1, char16_t(u'0' + disk.number % 10)));

        if (d.Has("partitions")) {
            if (disk.style == PartitionStyle::Raw)
                d.Fail("partitions", "a raw disk has no partitions");
            const json &parts = d.Array("partitions");
            std::set<DWORD> partNumbers;
            for (size_t j = 0; j < parts.size(); ++j) {
                const Reader p(parts[j], d.Field(Indexed("partitions", j)));
                p.AllowOnly({"number", "offset", "size", "type", "name", "boot"});
                Partition part;
                part.number = DWORD(p.Unsigned("number", j + 1, false, 128));
                if (part.number == 0 || !partNumbers.insert(part.number).second)
                    p.Fail("number", "partition numbers start at 1 and are unique on a disk");
                part.offset = p.Unsigned("offset", 0, true);
                part.length = p.Unsigned("size", 0, true);
                if (part.length == 0)
                    p.Fail("size", "a partition is not empty");
                if (part.offset % disk.bytesPerSector != 0 || part.length % disk.bytesPerSector != 0)
                    p.FailHere("offset and size must be whole sectors");
                if (part.offset > disk.size || part.length > disk.size - part.offset)
                    p.FailHere("lies beyond the end of disk " + std::to_string(disk.number));
                const std::string type = p.String("type", "basic");
                if (disk.style == PartitionStyle::Gpt)
                    part.gptType = GptTypeByName(p, "type", type);
                else
                    part.mbrType = MbrTypeByName(p, "type", type);
                part.name = p.Wide("name", u"");
                part.bootIndicator = p.Bool("boot", false);
                if (part.bootIndicator && disk.style != PartitionStyle::Mbr)
                    p.Fail("boot", "only MBR partitions carry the boot indicator");
                for (const Partition &other : disk.partitions) {
                    if (part.offset < other.offset + other.length && other.offset < part.offset + part.length)
                        p.FailHere("overlaps partition " + std::to_string(other.number));
                }
                disk.partitions.push_back(part);
            }
        }
        host.disks.push_back(std::move(disk));
    }
}

void ReadVolumes(const Reader &r, Host &host)
{
    const json &list = r.Array("volumes");
    for (size_t i = 0; i < list.size(); ++i) {
        const Reader v(list[i], Indexed("volumes", i));
        v.AllowOnly({"guid", "driveLetter", "mountFolders", "fileSystem", "label", "size", "serialNumber",
                     "driveType", "extents", "offline", "csv"});
        Volume vol;
        GUID guid;
        if (!ParseGuid(v.String("guid", "", true), guid))
            v.Fail("guid", "not a GUID");
        vol.guidPath = u"\\\\?\\Volume" + LowerGuidText(guid) + u"\\";
        if (host.FindVolumeByGuidPath(vol.guidPath) != nullptr)
            v.Fail("guid", "two volumes have this GUID");

        const std::string letter = v.String("driveLetter", "");
        if (!letter.empty()) {
            const char c = char(std::toupper(static_cast<unsigned char>(letter[0])));
            if (letter.size() > 2 || c < 'A' || c > 'Z' || (letter.size() == 2 && letter[1] != ':'))
                v.Fail("driveLetter", "expected one letter A-Z");
            vol.driveLetter = WCHAR(c);
            for (const Volume &other : host.volumes) {
                if (other.driveLetter == vol.driveLetter)
                    v.Fail("driveLetter", std::string(1, c) + ": belongs to another volume");
            }
        }
        if (v.Has("mountFolders")) {
            const json &folders = v.Array("mountFolders");
            for (size_t j = 0; j < folders.size(); ++j) {
                if (!folders[j].is_string())
                    v.Fail(Indexed("mountFolders", j), "expected a string");
                std::u16string folder = v.ToWide(Indexed("mountFolders", j), folders[j].get<std::string>());
                if (folder.size() < 4 || folder[1] != u':' || folder[2] != u'\\')
                    v.Fail(Indexed("mountFolders", j), "expected a folder path such as D:\\Mount\\Data\\");
                if (folder.back() != u'\\')
                    folder.push_back(u'\\');
                vol.mountFolders.push_back(folder);
            }
        }
        vol.fileSystem = v.Wide("fileSystem", u"NTFS");
        vol.label = v.Wide("label", u"");
        vol.size = v.Unsigned("size", 0);
        vol.serialNumber = DWORD(v.Unsigned("serialNumber", 0x5A000000u + i, false, 0xFFFFFFFF));
        const std::string kind = v.String("driveType", "fixed");
        if (kind == "fixed")
            vol.kind = DriveKind::Fixed;
        else if (kind == "removable")
            vol.kind = DriveKind::Removable;
        else if (kind == "cdrom")
            vol.kind = DriveKind::CdRom;
        else
            v.Fail("driveType", "expected fixed, removable or cdrom");
        vol.offline = v.Bool("offline", false);
        vol.csv = v.Bool("csv", false);
        if (vol.csv && vol.fileSystem != u"CSVFS")
            v.Fail("fileSystem", "a Cluster Shared Volume has the file system CSVFS");

        if (v.Has("extents")) {
            const json &extents = v.Array("extents");
            for (size_t j = 0; j < extents.size(); ++j) {
                const Reader e(extents[j], v.Field(Indexed("extents", j)));
                e.AllowOnly({"disk", "offset", "length"});
                Extent extent;
                extent.disk = DWORD(e.Unsigned("disk", 0, true, 0xFFFF));
                extent.offset = e.Unsigned("offset", 0, true);
                extent.length = e.Unsigned("length", 0, true);
                const Disk *disk = host.FindDisk(extent.disk);
                if (disk == nullptr)
                    e.Fail("disk", "no disk " + std::to_string(extent.disk) + " is described");
                if (extent.length == 0 || extent.offset > disk->size || extent.length > disk->size - extent.offset)
                    e.FailHere("must lie within disk " + std::to_string(extent.disk));
                vol.extents.push_back(extent);
            }
        }
        if (vol.extents.empty() && vol.kind == DriveKind::Fixed)
            v.Fail("extents", "a fixed volume lies on at least one disk extent");
        if (vol.size == 0) {
            for (const Extent &e : vol.extents)
                vol.size += e.length;
        }
        host.volumes.push_back(std::move(vol));
    }

    // Mount folders lie on another volume of the host, named by its drive letter.
    for (size_t i = 0; i < host.volumes.size(); ++i) {
        for (size_t j = 0; j < host.volumes[i].mountFolders.size(); ++j) {
            const char16_t letter = FoldUpper(host.volumes[i].mountFolders[j][0]);
            const bool found = std::any_of(host.volumes.begin(), host.volumes.end(), [&](const Volume &other) {
                return &other != &host.volumes[i] && other.driveLetter == letter;
            });
            if (!found)
                throw HostError(Indexed(Indexed("volumes", i) + ".mountFolders", j) + ": no other volume has the drive letter " +
                                std::string(1, char(letter)) + ":");
        }
    }
}

// The volume that holds a path given by drive letter or mount folder (the longest match).
const Volume *VolumeOfPath(const Host &host, const std::u16string &path)
{
    const Volume *best = nullptr;
    size_t bestLength = 0;
    for (const Volume &vol : host.volumes) {
        const size_t n = vol.guidPath.size();
        if (path.size() >= n && EqualNoCase(path.substr(0, n), vol.guidPath))
            return &vol;
        for (const std::u16string &root : vol.RootPaths()) {
            const size_t n = root.size();
            const bool within = path.size() >= n - 1 && EqualNoCase(path.substr(0, n - 1), root.substr(0, n - 1)) &&
                                (path.size() == n - 1 || path[n - 1] == u'\\');
            if (within && n > bestLength) {
                best = &vol;
                bestLength = n;
            }
        }
    }
    return best;
}

// Standard base64 (RFC 4648), padding optional, white space between groups ignored. False
// at the first character that does not belong, with its position.
bool DecodeBase64(const std::string &text, std::string &bytes, size_t &bad)
{
    unsigned buffer = 0;
    int bits = 0;
    bool padded = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        int value;
        if (c >= 'A' && c <= 'Z')
            value = c - 'A';
        else if (c >= 'a' && c <= 'z')
            value = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            value = c - '0' + 52;
        else if (c == '+')
            value = 62;
        else if (c == '/')
            value = 63;
        else if (c == ' ' || c == '\n' || c == '\r' || c == '\t')
            continue;
        else if (c == '=') {
            padded = true;
            continue;
        } else {
            bad = i;
            return false;
        }
        if (padded) {
            bad = i;  // data after the padding
            return false;
        }
        buffer = (buffer << 6) | unsigned(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(char((buffer >> bits) & 0xff));
        }
    }
    bad = text.size();
    return bits < 6;  // six bits left over cannot end a valid encoding
}

void ReadFileContent(const Reader &f, FileEntry &file)
{
    const int given = int(f.Has("content")) + int(f.Has("base64")) + int(f.Has("size"));
    if (given > 1)
        f.FailHere("give at most one of content, base64 and size");
    if (f.Has("seed") && !f.Has("size"))
        f.Fail("seed", "a seeded file needs its size");
    if (given == 0)
        return;
    if (file.directory)
        f.FailHere("a directory or junction has no content");
    if (f.Has("content")) {
        file.content = f.String("content", "");
    } else if (f.Has("base64")) {
        size_t bad = 0;
        if (!DecodeBase64(f.String("base64", ""), file.content, bad))
            f.Fail("base64", "not valid base64 at character " + std::to_string(bad));
    } else {
        file.size = f.Unsigned("size", 0);
        file.fill = FileFill::Zeros;
        if (f.Has("seed")) {
            file.fill = FileFill::Seeded;
            file.seed = f.Unsigned("seed", 0);
        }
    }
}

// A UTC time written YYYY-MM-DDTHH:MM:SS, with up to seven digits of a second after a dot,
// and Z, as 100-nanosecond intervals since 1601-01-01 (a FILETIME); 0 if it is not one.
ULONGLONG FileTimeFromText(const std::string &text)
{
    unsigned year, month, day, hour, minute, second;
    int used = 0;
    if (sscanf(text.c_str(), "%4u-%2u-%2uT%2u:%2u:%2u%n", &year, &month, &day, &hour, &minute, &second, &used) != 6 ||
        used != 19 || year < 1601 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
        second > 59)
        return 0;
    ULONGLONG fraction = 0;
    size_t at = 19, digits = 0;
    if (at < text.size() && text[at] == '.') {
        for (++at; at < text.size() && isdigit(static_cast<unsigned char>(text[at])) && digits < 7; ++at, ++digits)
            fraction = fraction * 10 + ULONGLONG(text[at] - '0');
        if (digits == 0)
            return 0;
        for (size_t d = digits; d < 7; ++d)
            fraction *= 10;
    }
    if (at + 1 != text.size() || text[at] != 'Z')
        return 0;
    // Days since 1601-01-01 of the civil date (March-based years, so February ends a year).
    const unsigned y = month <= 2 ? year - 1 : year;
    const unsigned era = y / 400, yearOfEra = y % 400;
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const ULONGLONG days = ULONGLONG(era) * 146097 + dayOfEra - 584694;  // 1601-01-01 is day 584694
    static const unsigned monthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    if (day > monthDays[month - 1] || (month == 2 && day == 29 && !leap))
        return 0;
    return ((days * 24 + hour) * 60 + minute) * 60 * 10000000ULL + ULONGLONG(second) * 10000000ULL + fraction;
}

void ReadFiles(const Reader &r, Host &host)
{
    const json &list = r.Array("files");
    for (size_t i = 0; i < list.size(); ++i) {
        const Reader f(list[i], Indexed("files", i));
        f.AllowOnly({"path", "directory", "attributes", "content", "base64", "size", "seed", "junction", "lastWrite"});
        FileEntry file;
        file.path = f.Wide("path", u"", true);
        if (VolumeOfPath(host, file.path) == nullptr)
            f.Fail("path", "lies on no volume of the host (expected a path under a drive letter or mount folder)");
        file.directory = f.Bool("directory", false);
        if (f.Has("junction")) {
            if (f.Has("directory") && !file.directory)
                f.Fail("directory", "a junction is a directory");
            file.directory = true;
            file.junction = f.Wide("junction", u"");
            if (VolumeOfPath(host, file.junction) == nullptr)
                f.Fail("junction", "leads to no volume of the host (expected a full path under a drive letter, "
                                   "mount folder or \\\\?\\Volume{guid}\\)");
        }
        if (f.Has("attributes")) {
            const json &attrs = f.Array("attributes");
            for (size_t j = 0; j < attrs.size(); ++j) {
                static const std::pair<const char *, DWORD> names[] = {
                    {"readonly", 0x1}, {"hidden", 0x2}, {"system", 0x4}, {"archive", 0x20},
                    {"temporary", 0x100}, {"offline", 0x1000}, {"notindexed", 0x2000},
                };
                const auto it = std::find_if(std::begin(names), std::end(names), [&](const auto &n) {
                    return attrs[j].is_string() && attrs[j].template get<std::string>() == n.first;
                });
                if (it == std::end(names))
                    f.Fail(Indexed("attributes", j),
                           "unknown attribute (readonly, hidden, system, archive, temporary, offline, notindexed)");
                file.attributes |= it->second;
            }
        } else if (!file.directory) {
            file.attributes = 0x20;  // a file that was written since the last backup
        }
        ReadFileContent(f, file);
        if (f.Has("lastWrite")) {
            file.lastWrite = FileTimeFromText(f.String("lastWrite", ""));
            if (file.lastWrite == 0)
                f.Fail("lastWrite", "expected a UTC time such as 2026-12-08T09:30:00Z (seconds may have up to "
                                    "seven digits after a dot)");
        }
        host.files.push_back(std::move(file));
    }
}

// Instance names go into a connection string's quoted Data Source, so they keep to what
// SQL Server allows there: a host name, optionally a backslash and an instance name.
void ReadSqlServer(const Reader &r, Host &host)
{
    r.AllowOnly({"instances"});
    if (!r.Has("instances"))
        r.Fail("instances", "missing");
    const json &list = r.Array("instances");
    for (size_t i = 0; i < list.size(); ++i) {
        const Reader s(list[i], Indexed(r.Field("instances"), i));
        s.AllowOnly({"name", "version", "reachable"});
        SqlServerInstance instance;
        instance.name = s.Wide("name", u"", true);
        const size_t slash = instance.name.find(u'\\');
        const bool wellFormed =
            !instance.name.empty() && slash != 0 && slash + 1 != instance.name.size() &&
            (slash == std::u16string::npos || instance.name.find(u'\\', slash + 1) == std::u16string::npos) &&
            instance.name.find_first_of(u"\";'=") == std::u16string::npos;
        if (!wellFormed)
            s.Fail("name", "expected HOST or HOST\\INSTANCE (no quotes, ';' or '=')");
        for (const SqlServerInstance &other : host.sqlServerInstances) {
            if (EqualNoCase(other.name, instance.name))
                s.Fail("name", "the instance is described twice (names compare without regard to case)");
        }
        instance.version = s.Wide("version", u"", true);
        instance.reachable = s.Bool("reachable", true);
        host.sqlServerInstances.push_back(std::move(instance));
    }
}

// What a capture could not read (the call, the section it left out, the HRESULT when the
// call failed, and why): kept for the reader of the document, checked for form only.
void ReadCaptureNotes(const Reader &r)
{
    const json &notes = r.Array("captureNotes");
    for (size_t i = 0; i < notes.size(); ++i) {
        const Reader n(notes[i], Indexed("captureNotes", i));
        n.AllowOnly({"call", "section", "hresult", "text"});
        n.String("call", "", true);
        n.String("section", "");
        n.String("hresult", "");
        n.String("text", "");
    }
}

} // namespace

bool Disk::IsDynamic() const
{
    return std::any_of(partitions.begin(), partitions.end(), [&](const Partition &p) {
        return style == PartitionStyle::Mbr ? p.mbrType == kMbrLdm
                                            : (p.gptType == kGptLdmMetadata || p.gptType == kGptLdmData);
    });
}

std::vector<std::u16string> Volume::RootPaths() const
{
    std::vector<std::u16string> roots;
    if (driveLetter != 0)
        roots.push_back(std::u16string(1, driveLetter) + u":\\");
    roots.insert(roots.end(), mountFolders.begin(), mountFolders.end());
    return roots;
}

const Disk *Host::FindDisk(DWORD number) const
{
    for (const Disk &d : disks) {
        if (d.number == number)
            return &d;
    }
    return nullptr;
}

const Volume *Host::FindVolumeByGuidPath(const std::u16string &guidPath) const
{
    for (const Volume &v : volumes) {
        if (EqualNoCase(v.guidPath, guidPath))
            return &v;
    }
    return nullptr;
}

Host ParseHost(const std::string &text)
{
    json doc;
    try {
        doc = json::parse(text);
    } catch (const json::exception &e) {
        // Not only syntax: a number out of range (1e400) is refused by the parser too.
        throw HostError(std::string("host description: not valid JSON: ") + e.what());
    }
    const Reader r(doc, "");
    std::vector<const char *> known = {"formatVersion", "captureNotes", "os", "firmware", "hostName", "domain", "ansiCodePage", "environment",
                                       "registry", "disks", "volumes", "files", "sqlServer"};
    known.insert(known.end(), std::begin(kReservedSections), std::end(kReservedSections));
    if (!doc.is_object())
        r.FailHere("expected a JSON object");
    for (auto it = doc.begin(); it != doc.end(); ++it) {
        if (std::find_if(known.begin(), known.end(), [&](const char *k) { return it.key() == k; }) == known.end())
            r.Fail(it.key(), "unknown field");
    }

    // The version first: a description of another version is refused as a whole, before
    // any of its fields is taken for one this loader knows.
    if (r.Has("formatVersion")) {
        const json &version = r.At("formatVersion");
        if (!version.is_number_unsigned() || version.get<unsigned long long>() != kHostFormatVersion)
            r.Fail("formatVersion", "unknown version " + version.dump() + " (this loader reads version " +
                                        std::to_string(kHostFormatVersion) + ", or a description without the field)");
    }
    if (r.Has("captureNotes"))
        ReadCaptureNotes(r);

    Host host;
    if (r.Has("os"))
        ReadOs(r.Child("os"), host.os);
    const std::string firmware = r.String("firmware", "uefi");
    if (firmware == "uefi")
        host.firmware = Firmware::Uefi;
    else if (firmware == "bios")
        host.firmware = Firmware::Bios;
    else
        r.Fail("firmware", "expected uefi or bios");
    host.hostName = r.Wide("hostName", host.hostName);
    if (host.hostName.empty() || host.hostName.size() > 15)
        r.Fail("hostName", "a NetBIOS host name has 1 to 15 characters");
    host.domain = r.Wide("domain", u"");
    host.ansiCodePage = UINT(r.Unsigned("ansiCodePage", 1252, false, 65535));
    if (host.ansiCodePage != 1252 && host.ansiCodePage != 28591 && host.ansiCodePage != 20127)
        r.Fail("ansiCodePage", "winsim knows the code pages 1252, 28591 and 20127");
    if (r.Has("environment")) {
        if (!r.At("environment").is_object())
            r.Fail("environment", "expected an object of name: value");
        ReadEnvironment(r, host);
    }
    if (r.Has("registry"))
        ReadRegistry(r, host);
    if (r.Has("disks"))
        ReadDisks(r, host);
    if (r.Has("volumes"))
        ReadVolumes(r, host);
    if (r.Has("files"))
        ReadFiles(r, host);
    if (r.Has("sqlServer"))
        ReadSqlServer(r.Child("sqlServer"), host);
    for (const char *section : kReservedSections) {
        if (r.Has(section))
            host.sections[section] = r.At(section).dump();
    }
    return host;
}

void GenerateFileBytes(ULONGLONG seed, ULONGLONG offset, void *buffer, size_t length)
{
    // Each 8-byte word is a mix of the seed and the word's index (splitmix64's finaliser),
    // little-endian, so that any range is made on its own.
    BYTE *out = static_cast<BYTE *>(buffer);
    ULONGLONG word = offset / 8;
    size_t skip = size_t(offset % 8);
    while (length > 0) {
        ULONGLONG z = seed * 0xD1B54A32D192ED03ULL + word * 0x9E3779B97F4A7C15ULL + 0x9E3779B97F4A7C15ULL;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        z ^= z >> 31;
        for (size_t b = skip; b < 8 && length > 0; ++b, --length)
            *out++ = BYTE(z >> (8 * b));
        skip = 0;
        ++word;
    }
}

Host LoadHostFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        throw HostError(path + ": cannot be read");
    // Read once into one string: a description is held in memory once as text.
    std::string text(size_t(in.tellg()), '\0');
    in.seekg(0);
    in.read(&text[0], std::streamsize(text.size()));
    if (!in)
        throw HostError(path + ": cannot be read");
    try {
        return ParseHost(text);
    } catch (const HostError &e) {
        throw HostError(path + ": " + e.what());
    }
}

namespace {

std::mutex g_hostLock;
std::unique_ptr<Host> g_host;
unsigned g_generation = 0;
struct Listeners {
    std::mutex lock;
    std::vector<std::function<void()>> all;
};

Listeners &TheListeners()
{
    static Listeners *listeners = new Listeners;
    return *listeners;
}

Host LoadInitialHost()
{
    const char *chosen = std::getenv("WINSIM_HOST");
    if (chosen == nullptr || *chosen == '\0')
        return ParseHost(EmbeddedHostJson("default"));
    const std::string name(chosen);
    if (name.find('/') == std::string::npos && name.find('.') == std::string::npos)
        return ParseHost(EmbeddedHostJson(name));
    return LoadHostFile(name);
}

} // namespace

const Host &CurrentHost()
{
    std::lock_guard<std::mutex> hold(g_hostLock);
    if (!g_host) {
        try {
            g_host.reset(new Host(LoadInitialHost()));
            ++g_generation;
            SetAnsiCodePage(g_host->ansiCodePage);
        } catch (const HostError &e) {
            std::fprintf(stderr, "winsim: the host description does not load: %s\n", e.what());
            std::exit(3);
        }
    }
    return *g_host;
}

void ReplaceHost(Host host)
{
    {
        std::lock_guard<std::mutex> hold(g_hostLock);
        g_host.reset(new Host(std::move(host)));
        ++g_generation;
        SetAnsiCodePage(g_host->ansiCodePage);
    }
    std::vector<std::function<void()>> listeners;
    {
        std::lock_guard<std::mutex> hold(TheListeners().lock);
        listeners = TheListeners().all;
    }
    for (const auto &listener : listeners)
        listener();
}

unsigned HostGeneration()
{
    std::lock_guard<std::mutex> hold(g_hostLock);
    return g_generation;
}

void AddHostListener(std::function<void()> listener)
{
    std::lock_guard<std::mutex> hold(TheListeners().lock);
    TheListeners().all.push_back(std::move(listener));
}

} // namespace winsim
