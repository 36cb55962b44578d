// winclass describe-host [--to FILE] [--files DIR...] [--redact]: the host description
// (docs/host-description.md) of the machine the command runs on, so that support can
// answer a question about a server offline with the same commands.
//
// Everything is read through the calls the library itself makes: kernel32's volume calls,
// the drive-layout and disk-extent control codes, WMI in ROOT\CIMV2, the storage namespace
// and ROOT\MSCLUSTER, the writers' metadata through the common requester, the SQL Server
// instances the database policy asks, and the registry values the library reads. A call
// that fails leaves its section (or the one disk, volume or file) out and is recorded in
// the document's captureNotes with its HRESULT, and said on standard error; what was read
// is still written, and loads. No file's content is read. With --redact the finished
// document goes through describe_redact.cpp before it is written.
#include "commands.h"
#include "describe.h"
#include "paths.h"
#include "platform.h"

#include <libwinclass/wmi.h>
#include <libwinclass/wmi/comref.h>
#include <libtlv/settings.h>
#include <vssrequester/vsscr.h>
#include <liblocal/vostrings.h>
#include <liblocal/vosystem.h>

#include <comdef.h>
#include <comutil.h>
#include <winioctl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace winclass {

namespace {

using Document = nlohmann::ordered_json;

// The format version this command writes; winsim's loader refuses a version it does not know.
const unsigned kFormatVersion = 1;

// The environment variables the library and the client's runtime read, directly or through
// the %NAME% of a writer's file specification. TLV_LOGSDIR is left out: this command sets
// it for itself.
const WCHAR *const kEnvironmentNames[] = {
    W("SystemDrive"),  W("SystemRoot"),   W("windir"),       W("ProgramData"),          W("ProgramFiles"),
    W("ProgramFiles(x86)"), W("CommonProgramFiles"), W("ALLUSERSPROFILE"), W("TEMP"), W("TMP"),
    W("COMPUTERNAME"), W("USERDOMAIN"),   W("USERNAME"),     W("TLV_INITIALIZE_DIRECTIVE"), W("TLV_MAST"),
};

// The values of the client's key that libtlv reads.
const char *const kSettingNames[] = {TLV_VALUE_INSTALL_DIR, TLV_VALUE_DISABLED_WRITERS,
                                     TLV_VALUE_LIST_CRITICAL_VOLUMES, TLV_VALUE_SAVE_OPTIONS};

struct GuidName {
    GUID type;
    const char *name;
};
// The GPT partition types the description names; any other is written as its GUID.
const GuidName kGptTypes[] = {
    {{0xc12a7328, 0xf81f, 0x11d2, {0xba, 0x4b, 0x00, 0xa0, 0xc9, 0x3e, 0xc9, 0x3b}}, "efi"},
    {{0xe3c9e316, 0x0b5c, 0x4db8, {0x81, 0x7d, 0xf9, 0x2d, 0xf0, 0x02, 0x15, 0xae}}, "msr"},
    {{0xebd0a0a2, 0xb9e5, 0x4433, {0x87, 0xc0, 0x68, 0xb6, 0xb7, 0x26, 0x99, 0xc7}}, "basic"},
    {{0xde94bba4, 0x06d1, 0x4d40, {0xa1, 0x6d, 0xbf, 0xd5, 0x01, 0x79, 0xd6, 0xac}}, "recovery"},
    {{0x5808c8aa, 0x7e8f, 0x42e0, {0x85, 0xd2, 0xe1, 0xe9, 0x04, 0x34, 0xcf, 0xb3}}, "ldm-metadata"},
    {{0xaf9b60a0, 0x1431, 0x4f62, {0xbc, 0x68, 0x33, 0x11, 0x71, 0x4a, 0x69, 0xad}}, "ldm-data"},
    {{0xdb97dba9, 0x0840, 0x4bae, {0x97, 0xf0, 0xff, 0xb9, 0xa3, 0x27, 0xc7, 0xe1}}, "cluster-metadata"},
};

std::string HexCode(unsigned long code)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lx", code & 0xFFFFFFFFul);
    return text;
}

// 36 characters, lower case, without braces: as the description writes a GUID.
std::string GuidText(const GUID &guid)
{
    char text[40];
    std::snprintf(text, sizeof text, "%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", (unsigned long)guid.Data1,
                  unsigned(guid.Data2), unsigned(guid.Data3), guid.Data4[0], guid.Data4[1], guid.Data4[2],
                  guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

std::string GptTypeName(const GUID &type)
{
    for (const GuidName &known : kGptTypes)
        if (IsEqualGUID(known.type, type))
            return known.name;
    return GuidText(type);
}

std::string MbrTypeName(unsigned type)
{
    switch (type) {
    case 0x07: return "ntfs";
    case 0x0C: return "fat32";
    case 0x42: return "ldm";
    case 0x27: return "recovery";
    default: break;
    }
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", type & 0xFF);
    return text;
}

// A wide buffer's text up to its terminator.
std::string Utf8Of(const WCHAR *text) { return Shown(wstr(text)); }

class HostCapture {
public:
    explicit HostCapture(Output &output) : output_(output) {}

    Document Run(const std::vector<std::string> &filePaths);

private:
    // A call that failed: said on standard error and recorded; its section stays out.
    void Note(const std::string &section, const std::string &call, HRESULT hr, const std::string &what);
    void NoteWin32(const std::string &section, const std::string &call, DWORD error, const std::string &what)
    {
        Note(section, call, HRESULT_FROM_WIN32(error), what);
    }
    // A value the description cannot carry: recorded without an HRESULT.
    void NoteValue(const std::string &section, const std::string &call, const std::string &what);

    // Each object a WQL query answers; false (noted) when the namespace or query failed.
    using Row = std::function<void(IWbemServices *, IWbemClassObject *)>;
    bool Query(const std::string &section, const WCHAR *wmiNamespace, const WCHAR *wql, const Row &each);

    void ReadSystem(Document &doc);
    void ReadEnvironment(Document &doc);
    void ReadRegistry(Document &doc);
    void ReadDisks(Document &doc);
    bool ReadLayout(DWORD number, Document &disk);
    void ReadVolumes(Document &doc);
    bool ReadExtents(const wstr &volumeName, Document &volume);
    void ReadComputerSystem(Document &doc);
    void ReadNetwork(Document &doc);
    void ReadStoragePools(Document &doc);
    void ReadCluster(Document &doc);
    void ReadWriters(Document &doc);
    void ReadWriterVariables(Document &doc);
    void ReadSqlServer(Document &doc, const std::vector<wstr> &instances);
    void ReadFiles(Document &doc, const std::vector<std::string> &paths);
    void ListFolder(const wstr &folder, Document &files, std::vector<wstr> &seen);

    std::vector<wstr> sqlInstances_;  // the database writer's instances, by logical path

    Output &output_;
    Document notes_ = Document::array();
    std::vector<DWORD> diskNumbers_;  // the disks written, which extents may name
};

void HostCapture::Note(const std::string &section, const std::string &call, HRESULT hr, const std::string &what)
{
    const std::string text = HresultText(long(hr));
    output_.Warning(what + ": " + call + " failed: " + text + " (left out, noted under " + section + ")");
    notes_.push_back({{"call", call}, {"section", section}, {"hresult", HexCode((unsigned long)hr)}, {"text", text}});
}

void HostCapture::NoteValue(const std::string &section, const std::string &call, const std::string &what)
{
    output_.Warning(what + " (left out, noted under " + section + ")");
    notes_.push_back({{"call", call}, {"section", section}, {"text", what}});
}

bool HostCapture::Query(const std::string &section, const WCHAR *wmiNamespace, const WCHAR *wql, const Row &each)
{
    WbemSession session;
    HRESULT hr = initialize_wbem(&session.services, &session.locator, wmiNamespace);
    if (FAILED(hr)) {
        Note(section, "ConnectServer " + Utf8Of(wmiNamespace), hr, "WMI");
        return false;
    }
    ComRef<IEnumWbemClassObject> enumerator;
    hr = session.services->ExecQuery(_bstr_t(W("WQL")), _bstr_t(wql),
                                     WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, NULL, enumerator.out());
    // Every object is read before any is used: a query that fails half-way leaves its
    // section out rather than cut.
    std::vector<std::unique_ptr<ComRef<IWbemClassObject>>> objects;
    while (SUCCEEDED(hr)) {
        objects.emplace_back(new ComRef<IWbemClassObject>);
        ULONG returned = 0;
        hr = enumerator->Next(WBEM_INFINITE, 1, objects.back()->out(), &returned);
        if (SUCCEEDED(hr) && returned == 0) {
            objects.pop_back();
            break;
        }
    }
    if (FAILED(hr)) {
        Note(section, "ExecQuery " + Utf8Of(wql), hr, "WMI");
        return false;
    }
    for (const auto &object : objects)
        each(session.services, object->get());
    return true;
}

// A property as text: a string, or a number WMI handed over in any integer form.
bool PropertyText(IWbemClassObject *object, const WCHAR *name, std::string *text)
{
    ScopedVariant value;
    if (FAILED(object->Get(name, 0, value.get(), NULL, NULL)) || value.get()->vt != VT_BSTR)
        return false;
    *text = Utf8Of(value.text());
    return true;
}

bool PropertyNumber(IWbemClassObject *object, const WCHAR *name, unsigned long long *number)
{
    ScopedVariant value;
    if (FAILED(object->Get(name, 0, value.get(), NULL, NULL)))
        return false;
    const VARIANT *v = value.get();
    switch (V_VT(v)) {
    case VT_I4: *number = (unsigned long long)(unsigned long)V_I4(v); return V_I4(v) >= 0;
    case VT_UI4: *number = V_UI4(v); return true;
    case VT_I2: *number = (unsigned long long)(unsigned short)V_I2(v); return true;
    case VT_UI2: *number = V_UI2(v); return true;
    case VT_UI1: *number = V_UI1(v); return true;
    case VT_BSTR: {
        // 64-bit integers come as decimal text.
        const std::string digits = Utf8Of(value.text());
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 20)
            return false;
        *number = std::stoull(digits);
        return true;
    }
    default: return false;
    }
}

bool PropertyBool(IWbemClassObject *object, const WCHAR *name, bool *flag)
{
    ScopedVariant value;
    if (FAILED(object->Get(name, 0, value.get(), NULL, NULL)) || V_VT(value.get()) != VT_BOOL)
        return false;
    *flag = V_BOOL(value.get()) != VARIANT_FALSE;
    return true;
}

// A string array property (VT_ARRAY | VT_BSTR); false when it is null or of another type.
bool PropertyStrings(IWbemClassObject *object, const WCHAR *name, Document *list)
{
    ScopedVariant value;
    if (FAILED(object->Get(name, 0, value.get(), NULL, NULL)) || V_VT(value.get()) != (VT_ARRAY | VT_BSTR))
        return false;
    SAFEARRAY *array = V_ARRAY(value.get());
    LONG lower = 0, upper = -1;
    if (FAILED(SafeArrayGetLBound(array, 1, &lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper)))
        return false;
    *list = Document::array();
    for (LONG i = lower; i <= upper; ++i) {
        BSTR item = NULL;
        if (FAILED(SafeArrayGetElement(array, &i, &item)))
            return false;
        const _bstr_t owned(item, false);  // the element's copy, freed here
        list->push_back(Utf8Of(item != NULL ? static_cast<const WCHAR *>(item) : W("")));
    }
    return true;
}

// The object an association's reference names.
bool Follow(IWbemServices *services, IWbemClassObject *association, const WCHAR *reference,
            ComRef<IWbemClassObject> &target)
{
    ScopedVariant path;
    if (FAILED(association->Get(reference, 0, path.get(), NULL, NULL)) || V_VT(path.get()) != VT_BSTR)
        return false;
    return SUCCEEDED(services->GetObject(_bstr_t(path.text()), 0, NULL, target.out(), NULL)) && target;
}

void HostCapture::ReadSystem(Document &doc)
{
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW *>(&version))) {
        doc["os"] = {{"version", std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion)},
                     {"build", version.dwBuildNumber},
                     {"server", version.wProductType != VER_NT_WORKSTATION}};
    } else {
        NoteWin32("os", "GetVersionExW", GetLastError(), "the Windows version");
    }

    // As the runtime tells it (GetFirmwareEnvironmentVariableW): GetFirmwareType is missing
    // before Windows 8 and under Wine, and a program importing it does not start there.
    doc["firmware"] = is_efi_system() ? "uefi" : "bios";

    // The DNS host name keeps the name's case; the NetBIOS name (upper case, cut at 15)
    // stands in for a longer one, since the description's name is a NetBIOS name.
    auto name = [&](COMPUTER_NAME_FORMAT format, std::string *text) {
        DWORD size = 0;
        GetComputerNameExW(format, NULL, &size);
        std::vector<WCHAR> buffer(size_t(size) + 1, 0);
        size = DWORD(buffer.size());
        if (!GetComputerNameExW(format, buffer.data(), &size)) {
            NoteWin32(format == ComputerNameDnsDomain ? "domain" : "hostName", "GetComputerNameExW", GetLastError(),
                      "the computer's name");
            return false;
        }
        *text = Utf8Of(buffer.data());
        return true;
    };
    std::string hostName, domain;
    if (name(ComputerNameDnsHostname, &hostName)) {
        wstr wide;
        if (!Utf8ToWide(hostName, &wide) || wide.empty() || wide.size() > 15) {
            hostName.clear();
            name(ComputerNameNetBIOS, &hostName);
        }
        if (!hostName.empty())
            doc["hostName"] = hostName;
    }
    if (name(ComputerNameDnsDomain, &domain))
        doc["domain"] = domain;

    const UINT codePage = GetACP();
    if (codePage == 1252 || codePage == 28591 || codePage == 20127)
        doc["ansiCodePage"] = codePage;
    else
        NoteValue("ansiCodePage", "GetACP", "the ANSI code page " + std::to_string(codePage) +
                                                " is not one a described host has (1252, 28591, 20127)");
}

void HostCapture::ReadEnvironment(Document &doc)
{
    Document environment = Document::object();
    for (const WCHAR *variable : kEnvironmentNames) {
        std::vector<WCHAR> value(256, 0);
        DWORD length = GetEnvironmentVariableW(variable, value.data(), DWORD(value.size()));
        if (length >= value.size()) {
            value.assign(size_t(length) + 1, 0);
            length = GetEnvironmentVariableW(variable, value.data(), DWORD(value.size()));
        }
        if (length == 0 || length >= value.size())
            continue;  // not set (ERROR_ENVVAR_NOT_FOUND), or empty: the host has nothing to say
        environment[Utf8Of(variable)] = Utf8Of(value.data());
    }
    doc["environment"] = environment;
}

// The entries of REG_MULTI_SZ data: each ends with a terminator, the list with one more.
// Empty entries in the middle are kept; false when the data is not so terminated.
bool MultiStrings(const std::vector<BYTE> &data, Document *list)
{
    std::vector<WCHAR> units(data.size() / sizeof(WCHAR));
    if (!units.empty())
        std::memcpy(units.data(), data.data(), units.size() * sizeof(WCHAR));
    if (units.empty() || units.back() != 0)
        return false;
    units.pop_back();  // the list's terminator
    *list = Document::array();
    size_t start = 0;
    for (size_t i = 0; i < units.size(); ++i) {
        if (units[i] == 0) {
            list->push_back(Shown(wstr(units.data() + start, i - start)));
            start = i + 1;
        }
    }
    return start == units.size();
}

void HostCapture::ReadRegistry(Document &doc)
{
    const std::string keyName = std::string("HKEY_LOCAL_MACHINE\\") + TLV_SETTINGS_KEY;
    wstr keyPath;
    Utf8ToWide(TLV_SETTINGS_KEY, &keyPath);
    HKEY opened = NULL;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &opened);
    if (status == ERROR_FILE_NOT_FOUND)
        return;  // the client is not installed: nothing to describe
    if (status != ERROR_SUCCESS) {
        NoteWin32("registry", "RegOpenKeyExW " + keyName, DWORD(status), "the client's settings");
        return;
    }
    std::unique_ptr<HKEY__, LONG (WINAPI *)(HKEY)> key(opened, RegCloseKey);
    Document values = Document::array();
    for (const char *setting : kSettingNames) {
        wstr name;
        Utf8ToWide(setting, &name);
        DWORD type = REG_NONE, size = 0;
        status = RegQueryValueExW(key.get(), name.c_str(), NULL, &type, NULL, &size);
        std::vector<BYTE> data;
        while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
            data.assign(size_t(size), 0);
            status = RegQueryValueExW(key.get(), name.c_str(), NULL, &type, data.empty() ? NULL : data.data(), &size);
            if (status == ERROR_SUCCESS) {
                data.resize(size);
                break;
            }
        }
        if (status == ERROR_FILE_NOT_FOUND)
            continue;
        if (status != ERROR_SUCCESS) {
            NoteWin32("registry", "RegQueryValueExW " + keyName + "\\" + setting, DWORD(status),
                      "the client's setting " + std::string(setting));
            continue;
        }
        Document value = {{"key", keyName}, {"name", setting}};
        auto number = [&](size_t bytes) {
            unsigned long long n = 0;
            for (size_t b = 0; b < bytes; ++b)
                n |= (unsigned long long)data[b] << (8 * b);
            return n;
        };
        if (type == REG_SZ || type == REG_EXPAND_SZ) {
            std::vector<WCHAR> units(data.size() / sizeof(WCHAR) + 1, 0);
            if (!data.empty())
                std::memcpy(units.data(), data.data(), data.size() / sizeof(WCHAR) * sizeof(WCHAR));
            value["type"] = type == REG_SZ ? "REG_SZ" : "REG_EXPAND_SZ";
            value["value"] = Utf8Of(units.data());
        } else if (type == REG_MULTI_SZ) {
            Document list;
            if (!MultiStrings(data, &list)) {
                NoteValue("registry", "RegQueryValueExW", "the REG_MULTI_SZ value " + std::string(setting) +
                                                              " does not end with its terminators");
                continue;
            }
            value["type"] = "REG_MULTI_SZ";
            value["value"] = list;
        } else if ((type == REG_DWORD && data.size() == 4) || (type == REG_QWORD && data.size() == 8)) {
            value["type"] = type == REG_DWORD ? "REG_DWORD" : "REG_QWORD";
            value["value"] = number(data.size());
        } else if (type == REG_BINARY) {
            value["type"] = "REG_BINARY";
            value["value"] = data;
        } else {
            NoteValue("registry", "RegQueryValueExW", "the value " + std::string(setting) + " has the type " +
                                                          std::to_string(type) + " of " + std::to_string(data.size()) +
                                                          " bytes, which a description does not carry");
            continue;
        }
        values.push_back(value);
    }
    doc["registry"] = values;
}

// The partitions of one disk, from the drive layout the library reads.
bool HostCapture::ReadLayout(DWORD number, Document &disk)
{
    const wstr device = W("\\\\.\\PhysicalDrive") + [&] {
        wstr digits;
        Utf8ToWide(std::to_string(number), &digits);
        return digits;
    }();
    const std::string what = "disk " + std::to_string(number);
    FileHandle drive(CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL));
    if (drive.get() == INVALID_HANDLE_VALUE) {
        drive.release();
        NoteWin32("disks[" + std::to_string(number) + "]", "CreateFileW " + Shown(device), GetLastError(), what);
        return false;
    }
    std::vector<BYTE> buffer(sizeof(DRIVE_LAYOUT_INFORMATION_EX) + 16 * sizeof(PARTITION_INFORMATION_EX));
    DWORD returned = 0;
    while (!DeviceIoControl(drive.get(), IOCTL_DISK_GET_DRIVE_LAYOUT_EX, NULL, 0, buffer.data(), DWORD(buffer.size()),
                            &returned, NULL)) {
        const DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER || buffer.size() > (1u << 20)) {
            NoteWin32("disks[" + std::to_string(number) + "]", "DeviceIoControl IOCTL_DISK_GET_DRIVE_LAYOUT_EX", error,
                      what);
            return false;
        }
        buffer.resize(buffer.size() * 2);
    }
    const DRIVE_LAYOUT_INFORMATION_EX *layout = reinterpret_cast<const DRIVE_LAYOUT_INFORMATION_EX *>(buffer.data());
    switch (layout->PartitionStyle) {
    case PARTITION_STYLE_GPT:
        disk["style"] = "gpt";
        disk["id"] = GuidText(layout->Gpt.DiskId);
        break;
    case PARTITION_STYLE_MBR:
        disk["style"] = "mbr";
        disk["signature"] = (unsigned long)layout->Mbr.Signature;
        break;
    default:
        disk["style"] = "raw";
        return true;
    }
    Document partitions = Document::array();
    for (DWORD i = 0; i < layout->PartitionCount; ++i) {
        const PARTITION_INFORMATION_EX &entry = layout->PartitionEntry[i];
        // An MBR table comes in fours: its unused entries have no number and no type.
        if (entry.PartitionNumber == 0 || entry.PartitionLength.QuadPart <= 0)
            continue;
        Document partition = {{"number", (unsigned long)entry.PartitionNumber},
                              {"offset", (unsigned long long)entry.StartingOffset.QuadPart},
                              {"size", (unsigned long long)entry.PartitionLength.QuadPart}};
        if (entry.PartitionStyle == PARTITION_STYLE_GPT) {
            partition["type"] = GptTypeName(entry.Gpt.PartitionType);
            WCHAR name[37] = {};
            std::memcpy(name, entry.Gpt.Name, sizeof entry.Gpt.Name);
            if (name[0] != 0)
                partition["name"] = Utf8Of(name);
        } else {
            partition["type"] = MbrTypeName(entry.Mbr.PartitionType);
            if (entry.Mbr.BootIndicator)
                partition["boot"] = true;
        }
        partitions.push_back(partition);
    }
    if (!partitions.empty())
        disk["partitions"] = partitions;
    return true;
}

void HostCapture::ReadDisks(Document &doc)
{
    // The storage namespace lists the disks Windows shows, with what the drive layout does
    // not say (bus, size, sector size, name, whether the cluster owns the disk).
    Document disks = Document::array();
    const bool listed = Query("disks", W("ROOT\\Microsoft\\Windows\\Storage"),
                              W("SELECT Number, BusType, Size, FriendlyName, IsClustered, LogicalSectorSize FROM "
                                "MSFT_Disk"),
                              [&](IWbemServices *, IWbemClassObject *object) {
                                  unsigned long long number = 0, bus = 0, size = 0, sector = 0;
                                  if (!PropertyNumber(object, W("Number"), &number) ||
                                      !PropertyNumber(object, W("Size"), &size) || number > 0xFFFF) {
                                      NoteValue("disks", "MSFT_Disk", "a disk without a number or size");
                                      return;
                                  }
                                  Document disk = {{"number", number}};
                                  if (PropertyNumber(object, W("BusType"), &bus) && bus <= 0x7F)
                                      disk["busType"] = bus;
                                  disk["size"] = size;
                                  if (PropertyNumber(object, W("LogicalSectorSize"), &sector) &&
                                      (sector == 512 || sector == 4096))
                                      disk["bytesPerSector"] = sector;
                                  std::string friendlyName;
                                  if (PropertyText(object, W("FriendlyName"), &friendlyName))
                                      disk["friendlyName"] = friendlyName;
                                  bool clustered = false;
                                  if (PropertyBool(object, W("IsClustered"), &clustered) && clustered)
                                      disk["clustered"] = true;
                                  disks.push_back(disk);
                              });
    if (!listed)
        return;
    Document described = Document::array();
    for (Document &disk : disks) {
        const DWORD number = DWORD(disk["number"].get<unsigned long long>());
        if (!ReadLayout(number, disk))
            continue;
        diskNumbers_.push_back(number);
        described.push_back(disk);
    }
    doc["disks"] = described;
}

bool HostCapture::ReadExtents(const wstr &volumeName, Document &volume)
{
    // The volume's device is its GUID path without the closing backslash.
    const wstr device = volumeName.substr(0, volumeName.size() - 1);
    FileHandle handle(CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL));
    if (handle.get() == INVALID_HANDLE_VALUE) {
        handle.release();
        NoteWin32("volumes", "CreateFileW " + Shown(device), GetLastError(), Shown(volumeName));
        return false;
    }
    std::vector<BYTE> buffer(sizeof(VOLUME_DISK_EXTENTS) + 8 * sizeof(DISK_EXTENT));
    DWORD returned = 0;
    while (!DeviceIoControl(handle.get(), IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, NULL, 0, buffer.data(),
                            DWORD(buffer.size()), &returned, NULL)) {
        const DWORD error = GetLastError();
        if (error == ERROR_INVALID_FUNCTION)
            return true;  // a volume on no disk, such as an optical drive
        if ((error != ERROR_MORE_DATA && error != ERROR_INSUFFICIENT_BUFFER) || buffer.size() > (1u << 20)) {
            NoteWin32("volumes", "DeviceIoControl IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS", error, Shown(volumeName));
            return false;
        }
        buffer.resize(buffer.size() * 2);
    }
    const VOLUME_DISK_EXTENTS *extents = reinterpret_cast<const VOLUME_DISK_EXTENTS *>(buffer.data());
    Document list = Document::array();
    for (DWORD i = 0; i < extents->NumberOfDiskExtents; ++i) {
        const DISK_EXTENT &extent = extents->Extents[i];
        if (std::find(diskNumbers_.begin(), diskNumbers_.end(), extent.DiskNumber) == diskNumbers_.end()) {
            NoteValue("volumes", "IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS",
                      Shown(volumeName) + " lies on disk " + std::to_string(extent.DiskNumber) +
                          ", which is not described");
            return false;
        }
        list.push_back({{"disk", (unsigned long)extent.DiskNumber},
                        {"offset", (unsigned long long)extent.StartingOffset.QuadPart},
                        {"length", (unsigned long long)extent.ExtentLength.QuadPart}});
    }
    if (!list.empty())
        volume["extents"] = list;
    return true;
}

void HostCapture::ReadVolumes(Document &doc)
{
    // What kernel32 does not say of a volume it cannot open (one that is offline): its
    // file system, label, size and kind, by GUID path, from the storage namespace.
    struct Stored {
        std::string fileSystem, label;
        unsigned long long size = 0, driveType = 0, letter = 0;
    };
    std::vector<std::pair<std::string, Stored>> stored;
    Query("volumes", W("ROOT\\Microsoft\\Windows\\Storage"),
          W("SELECT Path, DriveLetter, FileSystem, FileSystemLabel, Size, DriveType FROM MSFT_Volume"),
          [&](IWbemServices *, IWbemClassObject *object) {
              std::string path;
              Stored one;
              if (!PropertyText(object, W("Path"), &path))
                  return;
              PropertyText(object, W("FileSystem"), &one.fileSystem);
              PropertyText(object, W("FileSystemLabel"), &one.label);
              PropertyNumber(object, W("Size"), &one.size);
              PropertyNumber(object, W("DriveType"), &one.driveType);
              PropertyNumber(object, W("DriveLetter"), &one.letter);
              stored.emplace_back(path, one);
          });
    auto storedOf = [&](const std::string &path) -> const Stored * {
        for (const auto &entry : stored)
            if (vo_strcasecmp(entry.first.c_str(), path.c_str()) == 0)
                return &entry.second;
        return nullptr;
    };

    WCHAR volumeName[MAX_PATH + 1] = {};
    HANDLE search = FindFirstVolumeW(volumeName, MAX_PATH + 1);
    if (search == INVALID_HANDLE_VALUE) {
        NoteWin32("volumes", "FindFirstVolumeW", GetLastError(), "the volumes");
        return;
    }
    std::unique_ptr<void, BOOL (WINAPI *)(HANDLE)> searching(search, FindVolumeClose);
    Document volumes = Document::array();
    do {
        const wstr name = volumeName;
        const std::string shown = Shown(name);
        const size_t open = name.find(W('{')), close = name.find(W('}'));
        if (open == wstr::npos || close == wstr::npos || close < open) {
            NoteValue("volumes", "FindNextVolumeW", shown + " is not a volume GUID path");
            continue;
        }
        Document volume = {{"guid", Shown(name.substr(open + 1, close - open - 1))}};

        // Drive letter and mount folders, as the mount manager lists them.
        std::vector<WCHAR> paths(MAX_PATH + 1, 0);
        DWORD needed = 0;
        BOOL listed = GetVolumePathNamesForVolumeNameW(name.c_str(), paths.data(), DWORD(paths.size()), &needed);
        if (!listed && GetLastError() == ERROR_MORE_DATA) {
            paths.assign(needed, 0);
            listed = GetVolumePathNamesForVolumeNameW(name.c_str(), paths.data(), DWORD(paths.size()), &needed);
        }
        if (!listed) {
            NoteWin32("volumes", "GetVolumePathNamesForVolumeNameW", GetLastError(), shown);
            continue;
        }
        Document folders = Document::array();
        for (const WCHAR *path = paths.data(); *path; path += wstr(path).size() + 1) {
            const wstr one = path;
            if (one.size() == 3 && one[1] == W(':') && one[2] == W('\\'))
                volume["driveLetter"] = Shown(one.substr(0, 1));
            else
                folders.push_back(Shown(one));
        }
        if (!folders.empty())
            volume["mountFolders"] = folders;

        WCHAR label[MAX_PATH + 1] = {}, fileSystem[MAX_PATH + 1] = {};
        DWORD serial = 0;
        const Stored *known = storedOf(shown);
        if (GetVolumeInformationW(name.c_str(), label, MAX_PATH + 1, &serial, NULL, NULL, fileSystem, MAX_PATH + 1)) {
            volume["fileSystem"] = Utf8Of(fileSystem);
            volume["label"] = Utf8Of(label);
            volume["serialNumber"] = (unsigned long)serial;
        } else if (known != nullptr) {
            // Not ready: the volume is offline, and the mount manager lists no path for it;
            // the storage namespace still knows it, and its drive letter.
            if (known->letter >= 'A' && known->letter <= 'Z' && !volume.contains("driveLetter"))
                volume["driveLetter"] = std::string(1, char(known->letter));
            volume["fileSystem"] = known->fileSystem;
            volume["label"] = known->label;
            volume["offline"] = true;
        } else {
            NoteWin32("volumes", "GetVolumeInformationW", GetLastError(), shown);
            continue;
        }
        if (known != nullptr && known->size != 0)
            volume["size"] = known->size;

        UINT driveType = GetDriveTypeW(name.c_str());
        if (driveType == DRIVE_NO_ROOT_DIR && known != nullptr)
            driveType = known->driveType == 2 ? DRIVE_REMOVABLE : known->driveType == 5 ? DRIVE_CDROM : DRIVE_FIXED;
        if (driveType == DRIVE_REMOVABLE)
            volume["driveType"] = "removable";
        else if (driveType == DRIVE_CDROM)
            volume["driveType"] = "cdrom";
        if (volume["fileSystem"] == "CSVFS")
            volume["csv"] = true;
        if (!ReadExtents(name, volume))
            continue;
        if (!volume.contains("extents") && driveType != DRIVE_REMOVABLE && driveType != DRIVE_CDROM) {
            NoteValue("volumes", "IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS", shown + " is a fixed volume on no disk");
            continue;
        }
        volumes.push_back(volume);
    } while (FindNextVolumeW(search, volumeName, MAX_PATH + 1));
    const DWORD ended = GetLastError();
    if (ended != ERROR_NO_MORE_FILES) {
        // A list that stops short would describe a host with fewer volumes than it has.
        NoteWin32("volumes", "FindNextVolumeW", ended, "the volumes");
        return;
    }
    // A mount folder lies on a volume that has a drive letter; one whose volume was left
    // out is dropped with a note, so that the document still loads.
    for (Document &volume : volumes) {
        if (!volume.contains("mountFolders"))
            continue;
        Document kept = Document::array();
        for (const auto &folder : volume["mountFolders"]) {
            const std::string letter = folder.get<std::string>().substr(0, 1);
            const bool found = std::any_of(volumes.begin(), volumes.end(), [&](const Document &other) {
                return other.contains("driveLetter") &&
                       vo_strcasecmp(other["driveLetter"].get<std::string>().c_str(), letter.c_str()) == 0;
            });
            if (found)
                kept.push_back(folder);
            else
                NoteValue("volumes", "GetVolumePathNamesForVolumeNameW",
                          "the mount folder " + folder.get<std::string>() + " lies on a volume left out");
        }
        volume["mountFolders"] = kept;
    }
    doc["volumes"] = volumes;
}

void HostCapture::ReadComputerSystem(Document &doc)
{
    Document system = Document::object();
    const bool read = Query("wmi", W("ROOT\\CIMV2"), W("SELECT Manufacturer, Model FROM Win32_ComputerSystem"),
                            [&](IWbemServices *, IWbemClassObject *object) {
                                std::string text;
                                if (PropertyText(object, W("Manufacturer"), &text))
                                    system["manufacturer"] = text;
                                if (PropertyText(object, W("Model"), &text))
                                    system["model"] = text;
                            });
    if (read)
        doc["wmi"] = {{"computerSystem", system}};
}

void HostCapture::ReadNetwork(Document &doc)
{
    // Every adapter, physical or not, then each one's configuration by its index.
    Document adapters = Document::array();
    bool read = Query("network", W("ROOT\\CIMV2"),
                      W("SELECT Index, PhysicalAdapter, AdapterType, MACAddress, ProductName FROM Win32_NetworkAdapter"),
                      [&](IWbemServices *, IWbemClassObject *object) {
                          unsigned long long index = 0;
                          if (!PropertyNumber(object, W("Index"), &index)) {
                              NoteValue("network", "Win32_NetworkAdapter", "an adapter without an index");
                              return;
                          }
                          Document adapter = {{"deviceId", index}};
                          bool physical = true;
                          if (PropertyBool(object, W("PhysicalAdapter"), &physical))
                              adapter["physical"] = physical;
                          std::string text;
                          if (PropertyText(object, W("AdapterType"), &text))
                              adapter["adapterType"] = text;
                          if (PropertyText(object, W("MACAddress"), &text))
                              adapter["macAddress"] = text;
                          if (PropertyText(object, W("ProductName"), &text))
                              adapter["productName"] = text;
                          adapters.push_back(adapter);
                      });
    read = read && Query("network", W("ROOT\\CIMV2"),
                         W("SELECT Index, DHCPEnabled, DHCPServer, IPAddress, IPSubnet, DefaultIPGateway FROM "
                           "Win32_NetworkAdapterConfiguration"),
                         [&](IWbemServices *, IWbemClassObject *object) {
                             unsigned long long index = 0;
                             if (!PropertyNumber(object, W("Index"), &index))
                                 return;
                             for (Document &adapter : adapters) {
                                 if (adapter["deviceId"].get<unsigned long long>() != index)
                                     continue;
                                 bool dhcp = false;
                                 if (PropertyBool(object, W("DHCPEnabled"), &dhcp))
                                     adapter["dhcpEnabled"] = dhcp;
                                 std::string server;
                                 if (PropertyText(object, W("DHCPServer"), &server))
                                     adapter["dhcpServer"] = server;
                                 Document list;
                                 if (PropertyStrings(object, W("IPAddress"), &list))
                                     adapter["ipAddress"] = list;
                                 if (PropertyStrings(object, W("IPSubnet"), &list))
                                     adapter["ipSubnet"] = list;
                                 if (PropertyStrings(object, W("DefaultIPGateway"), &list))
                                     adapter["defaultIPGateway"] = list;
                             }
                         });
    if (read)
        doc["network"] = {{"adapters", adapters}};
}

void HostCapture::ReadStoragePools(Document &doc)
{
    const WCHAR *const storage = W("ROOT\\Microsoft\\Windows\\Storage");
    struct Pool {
        std::string objectId;
        Document described;
    };
    std::vector<Pool> pools;
    bool read = Query("storagePools", storage, W("SELECT ObjectId, FriendlyName, IsPrimordial FROM MSFT_StoragePool"),
                      [&](IWbemServices *, IWbemClassObject *object) {
                          bool primordial = false;
                          Pool pool;
                          if (!PropertyBool(object, W("IsPrimordial"), &primordial) || primordial ||
                              !PropertyText(object, W("ObjectId"), &pool.objectId))
                              return;  // the primordial pool is made from the disks
                          std::string name;
                          pool.described = {{"friendlyName", PropertyText(object, W("FriendlyName"), &name)
                                                                 ? name
                                                                 : std::string("Pool")},
                                            {"physicalDisks", Document::array()},
                                            {"virtualDisks", Document::array()}};
                          pools.push_back(pool);
                      });
    // Each association names a pool and a disk; the disk is followed to read it.
    bool broken = false;
    auto poolOf = [&](IWbemServices *services, IWbemClassObject *link) -> Pool * {
        ComRef<IWbemClassObject> target;
        std::string objectId;
        if (!Follow(services, link, W("StoragePool"), target) || !PropertyText(target.get(), W("ObjectId"), &objectId)) {
            broken = true;
            return nullptr;
        }
        for (Pool &pool : pools)
            if (pool.objectId == objectId)
                return &pool;
        return nullptr;  // the primordial pool
    };
    read = read && Query("storagePools", storage, W("SELECT * FROM MSFT_StoragePoolToPhysicalDisk"),
                         [&](IWbemServices *services, IWbemClassObject *link) {
                             Pool *pool = poolOf(services, link);
                             ComRef<IWbemClassObject> disk;
                             std::string deviceId, name;
                             unsigned long long bus = 10, size = 0;
                             if (pool == nullptr)
                                 return;
                             if (!Follow(services, link, W("PhysicalDisk"), disk) ||
                                 !PropertyText(disk.get(), W("DeviceId"), &deviceId) ||
                                 deviceId.find_first_not_of("0123456789") != std::string::npos || deviceId.empty() ||
                                 deviceId.size() > 9) {
                                 broken = true;
                                 return;
                             }
                             const unsigned long number = std::stoul(deviceId);
                             // A disk Windows lists is named by its number; one only the pool
                             // holds is described whole.
                             if (std::find(diskNumbers_.begin(), diskNumbers_.end(), number) != diskNumbers_.end()) {
                                 pool->described["physicalDisks"].push_back(number);
                                 return;
                             }
                             Document described = {{"deviceId", number}};
                             if (PropertyText(disk.get(), W("FriendlyName"), &name))
                                 described["friendlyName"] = name;
                             if (PropertyNumber(disk.get(), W("BusType"), &bus))
                                 described["busType"] = bus;
                             if (PropertyNumber(disk.get(), W("Size"), &size))
                                 described["size"] = size;
                             pool->described["physicalDisks"].push_back(described);
                         });
    read = read && Query("storagePools", storage, W("SELECT * FROM MSFT_StoragePoolToVirtualDisk"),
                         [&](IWbemServices *services, IWbemClassObject *link) {
                             Pool *pool = poolOf(services, link);
                             ComRef<IWbemClassObject> disk;
                             if (pool == nullptr)
                                 return;
                             if (!Follow(services, link, W("VirtualDisk"), disk)) {
                                 broken = true;
                                 return;
                             }
                             Document described = Document::object();
                             std::string text;
                             unsigned long long provisioning = 0, size = 0;
                             if (PropertyText(disk.get(), W("FriendlyName"), &text))
                                 described["friendlyName"] = text;
                             if (PropertyText(disk.get(), W("ResiliencySettingName"), &text))
                                 described["resiliency"] = text;
                             if (PropertyNumber(disk.get(), W("ProvisioningType"), &provisioning))
                                 described["provisioning"] = provisioning == 1 ? "thin" : "fixed";
                             if (PropertyNumber(disk.get(), W("Size"), &size))
                                 described["size"] = size;
                             pool->described["virtualDisks"].push_back(described);
                         });
    if (broken) {
        NoteValue("storagePools", "IWbemServices::GetObject",
                  "a storage pool's disk could not be followed from its association");
        return;
    }
    if (!read)
        return;
    Document described = Document::array();
    for (const Pool &pool : pools)
        described.push_back(pool.described);
    doc["storagePools"] = described;
}

void HostCapture::ReadCluster(Document &doc)
{
    // A node has the cluster database loaded at HKLM\Cluster, as the library tests it.
    HKEY opened = NULL;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, W("Cluster"), 0, KEY_QUERY_VALUE, &opened);
    if (status == ERROR_FILE_NOT_FOUND)
        return;  // not a cluster node
    if (status != ERROR_SUCCESS) {
        NoteWin32("cluster", "RegOpenKeyExW HKEY_LOCAL_MACHINE\\Cluster", DWORD(status), "the cluster");
        return;
    }
    std::unique_ptr<HKEY__, LONG (WINAPI *)(HKEY)> key(opened, RegCloseKey);
    Document cluster = Document::object();
    std::vector<WCHAR> name(256, 0);
    DWORD type = REG_NONE, size = DWORD(name.size() * sizeof(WCHAR));
    status = RegQueryValueExW(key.get(), W("ClusterName"), NULL, &type, reinterpret_cast<BYTE *>(name.data()), &size);
    if (status == ERROR_SUCCESS && type == REG_SZ)
        cluster["name"] = Utf8Of(name.data());
    else if (status != ERROR_FILE_NOT_FOUND)
        NoteWin32("cluster.name", "RegQueryValueExW HKEY_LOCAL_MACHINE\\Cluster\\ClusterName",
                  DWORD(status == ERROR_SUCCESS ? ERROR_INVALID_DATA : status), "the cluster's name");

    static const char *const kStates[] = {"unknown", "up", "down", "paused", "joining"};
    Document nodes = Document::array();
    const WCHAR *const clusterNamespace = W("ROOT\\MSCLUSTER");
    bool read = Query("cluster", clusterNamespace, W("SELECT Name, State FROM MSCluster_Node"),
                      [&](IWbemServices *, IWbemClassObject *object) {
                          std::string node;
                          unsigned long long state = 0;
                          if (!PropertyText(object, W("Name"), &node))
                              return;
                          ScopedVariant raw;
                          // State is -1 (unknown) to 3 (joining).
                          if (SUCCEEDED(object->Get(W("State"), 0, raw.get(), NULL, NULL)) && V_VT(raw.get()) == VT_I4 &&
                              V_I4(raw.get()) >= -1 && V_I4(raw.get()) <= 3)
                              state = (unsigned long long)(V_I4(raw.get()) + 1);
                          nodes.push_back({{"name", node}, {"state", kStates[state]}});
                      });
    Document volumes = Document::array();
    std::vector<std::string> csvNames;
    read = read && Query("cluster", clusterNamespace,
                         W("SELECT Name, VolumeName, FaultState FROM MSCluster_ClusterSharedVolume"),
                         [&](IWbemServices *, IWbemClassObject *object) {
                             std::string csvName, volumeName;
                             unsigned long long faultState = 0;
                             if (!PropertyText(object, W("Name"), &csvName))
                                 return;
                             Document csv = {{"name", csvName}};
                             // The volume by its GUID: the volume name given, or the volume
                             // mounted at the folder given.
                             wstr wide, guidPath;
                             if (PropertyText(object, W("VolumeName"), &volumeName) && Utf8ToWide(volumeName, &wide)) {
                                 if (!wide.empty() && wide.back() != W('\\'))
                                     wide.push_back(W('\\'));
                                 WCHAR found[MAX_PATH + 1] = {};
                                 if (wide.find(W("\\\\?\\Volume{")) == 0)
                                     guidPath = wide;
                                 else if (GetVolumeNameForVolumeMountPointW(wide.c_str(), found, MAX_PATH + 1))
                                     guidPath = found;
                             }
                             const size_t open = guidPath.find(W('{')), close = guidPath.find(W('}'));
                             if (open != wstr::npos && close != wstr::npos && close > open) {
                                 std::string guid = Shown(guidPath.substr(open + 1, close - open - 1));
                                 for (char &c : guid)
                                     c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
                                 csv["volume"] = guid;
                             }
                             if (PropertyNumber(object, W("FaultState"), &faultState))
                                 csv["faultState"] = faultState;
                             volumes.push_back(csv);
                             csvNames.push_back(csvName);
                         });
    // The coordinator of each, as the library asks for it.
    for (size_t i = 0; read && i < csvNames.size(); ++i) {
        wstr query;
        Utf8ToWide("ASSOCIATORS OF {MSCluster_ClusterSharedVolume.Name='" + csvNames[i] +
                       "'} WHERE ResultClass = MSCluster_Node",
                   &query);
        read = Query("cluster", clusterNamespace, query.c_str(), [&](IWbemServices *, IWbemClassObject *object) {
            std::string owner;
            if (!volumes[i].contains("owner") && PropertyText(object, W("Name"), &owner))
                volumes[i]["owner"] = owner;
        });
    }
    if (!read)
        return;
    cluster["nodes"] = nodes;
    cluster["sharedVolumes"] = volumes;
    doc["cluster"] = cluster;
}

struct EnumName {
    int value;
    const char *name;
};
const EnumName kUsageTypes[] = {{VSS_UT_BOOTABLESYSTEMSTATE, "VSS_UT_BOOTABLESYSTEMSTATE"},
                                {VSS_UT_SYSTEMSERVICE, "VSS_UT_SYSTEMSERVICE"},
                                {VSS_UT_USERDATA, "VSS_UT_USERDATA"},
                                {VSS_UT_OTHER, "VSS_UT_OTHER"}};
const EnumName kSourceTypes[] = {{VSS_ST_TRANSACTEDDB, "VSS_ST_TRANSACTEDDB"},
                                 {VSS_ST_NONTRANSACTEDDB, "VSS_ST_NONTRANSACTEDDB"},
                                 {VSS_ST_OTHER, "VSS_ST_OTHER"}};
const EnumName kRestoreMethods[] = {{VSS_RME_RESTORE_IF_NOT_THERE, "VSS_RME_RESTORE_IF_NOT_THERE"},
                                    {VSS_RME_RESTORE_IF_CAN_REPLACE, "VSS_RME_RESTORE_IF_CAN_REPLACE"},
                                    {VSS_RME_STOP_RESTORE_START, "VSS_RME_STOP_RESTORE_START"},
                                    {VSS_RME_RESTORE_TO_ALTERNATE_LOCATION, "VSS_RME_RESTORE_TO_ALTERNATE_LOCATION"},
                                    {VSS_RME_RESTORE_AT_REBOOT, "VSS_RME_RESTORE_AT_REBOOT"},
                                    {VSS_RME_RESTORE_AT_REBOOT_IF_CANNOT_REPLACE,
                                     "VSS_RME_RESTORE_AT_REBOOT_IF_CANNOT_REPLACE"},
                                    {VSS_RME_CUSTOM, "VSS_RME_CUSTOM"},
                                    {VSS_RME_RESTORE_STOP_START, "VSS_RME_RESTORE_STOP_START"}};
const EnumName kWriterRestores[] = {{VSS_WRE_NEVER, "VSS_WRE_NEVER"},
                                    {VSS_WRE_IF_REPLACE_FAILS, "VSS_WRE_IF_REPLACE_FAILS"},
                                    {VSS_WRE_ALWAYS, "VSS_WRE_ALWAYS"}};
const EnumName kComponentTypes[] = {{VSS_CT_DATABASE, "VSS_CT_DATABASE"}, {VSS_CT_FILEGROUP, "VSS_CT_FILEGROUP"}};

template <size_t N>
const char *EnumText(const EnumName (&names)[N], int value)
{
    for (const EnumName &entry : names)
        if (entry.value == value)
            return entry.name;
    return nullptr;
}


Document FileList(const CVssWriterFileList &files, const char *alternateField)
{
    Document list = Document::array();
    for (const auto &file : files) {
        Document one = {{"path", Shown(file->path)}, {"filespec", Shown(file->fileSpec)}};
        if (file->recursive)
            one["recursive"] = true;
        if (!file->alternateLocation.empty())
            one[alternateField] = Shown(file->alternateLocation);
        list.push_back(one);
    }
    return list;
}

// COM for the requester's session, balanced on every path.
class ComApartment {
public:
    ComApartment() : result_(CoInitializeEx(NULL, COINIT_MULTITHREADED)) {}
    ~ComApartment()
    {
        if (SUCCEEDED(result_))
            CoUninitialize();
    }
    ComApartment(const ComApartment &) = delete;
    ComApartment &operator=(const ComApartment &) = delete;
    HRESULT Result() const { return result_; }

private:
    HRESULT result_;
};

// The database writer, whose instances the library's promotion policy asks for their version.
const GUID kDatabaseWriter = {0xa65faa63, 0x5ea8, 0x4ebc, {0x9d, 0xbd, 0xa0, 0xc4, 0xdb, 0x26, 0x91, 0x2a}};

void HostCapture::ReadWriters(Document &doc)
{
    // The writers' metadata through the common requester, in a backup session opened as
    // the library opens it; no snapshot is made.
    ComApartment apartment;
    if (FAILED(apartment.Result()) && apartment.Result() != RPC_E_CHANGED_MODE) {
        Note("writers", "CoInitializeEx", apartment.Result(), "the VSS writers");
        return;
    }
    const HRESULT security = CoInitializeSecurity(NULL, -1, NULL, NULL, RPC_C_AUTHN_LEVEL_CONNECT,
                                                  RPC_C_IMP_LEVEL_IMPERSONATE, NULL, EOAC_STATIC_CLOAKING, NULL);
    if (FAILED(security) && security != RPC_E_TOO_LATE) {
        Note("writers", "CoInitializeSecurity", security, "the VSS writers");
        return;
    }
    CVssCr *requester = CVssCr::Instance();
    struct Ending {
        CVssCr *requester;
        ~Ending() { requester->UnInitialize(); }
    } ending{requester};
    HRESULT hr = HRESULT(requester->InitializeForBackup(VSSCR_OPERATION_DEFAULT, wstr(), true, true, VSS_BT_FULL,
                                                         VSS_CTX_BACKUP, false, false));
    if (FAILED(hr)) {
        Note("writers", "InitializeForBackup", hr, "the VSS writers");
        return;
    }
    CVssCrWriterList writers;
    hr = HRESULT(requester->GetWriters(writers));
    if (FAILED(hr)) {
        Note("writers", "GetWriters", hr, "the VSS writers");
        return;
    }
    Document list = Document::array();
    for (const auto &writer : writers) {
        Document one = {{"name", Shown(writer->name)},
                        {"id", GuidText(writer->writerId)},
                        {"instanceId", GuidText(writer->instanceId)}};
        if (!writer->instanceName.empty())
            one["instanceName"] = Shown(writer->instanceName);
        if (const char *usage = EnumText(kUsageTypes, writer->usageType))
            one["usage"] = usage;
        if (const char *source = EnumText(kSourceTypes, writer->sourceType))
            one["source"] = source;
        if (const char *method = EnumText(kRestoreMethods, writer->restoreMethod))
            one["restoreMethod"] = method;
        if (!writer->restoreService.empty())
            one["restoreService"] = Shown(writer->restoreService);
        if (!writer->restoreUserProcedure.empty())
            one["userProcedure"] = Shown(writer->restoreUserProcedure);
        if (const char *restore = EnumText(kWriterRestores, writer->writerRestore))
            one["writerRestore"] = restore;
        if (writer->rebootRequired)
            one["rebootRequired"] = true;
        if (!writer->alternateLocationMappings.empty())
            one["alternateLocations"] = FileList(writer->alternateLocationMappings, "destination");
        if (!writer->excludeFiles.empty())
            one["excludeFiles"] = FileList(writer->excludeFiles, "alternateLocation");
        Document components = Document::array();
        bool complete = true;
        for (const auto &component : writer->components) {
            const char *type = EnumText(kComponentTypes, component->componentType);
            if (type == nullptr) {
                complete = false;
                break;
            }
            Document c = {{"type", type}};
            if (!component->logicalPath.empty())
                c["logicalPath"] = Shown(component->logicalPath);
            c["name"] = Shown(component->name);
            if (!component->caption.empty())
                c["caption"] = Shown(component->caption);
            if (component->componentFlags != 0)
                c["flags"] = (unsigned long)component->componentFlags;
            if (component->notSelectable)
                c["selectable"] = false;
            if (component->selectableForRestore)
                c["selectableForRestore"] = true;
            if (!component->files.empty())
                c["files"] = FileList(component->files, "alternateLocation");
            if (!component->databaseFiles.empty())
                c["databaseFiles"] = FileList(component->databaseFiles, "alternateLocation");
            if (!component->databaseLogFiles.empty())
                c["logFiles"] = FileList(component->databaseLogFiles, "alternateLocation");
            components.push_back(c);
        }
        if (!complete) {
            NoteValue("writers", "GetWriters", "the writer " + Shown(writer->name) +
                                                   " has a component of an unknown type");
            continue;
        }
        if (!components.empty())
            one["components"] = components;
        list.push_back(one);
        // The database writer's components name their instances: the policy asks each.
        if (IsEqualGUID(writer->writerId, kDatabaseWriter)) {
            for (const auto &component : writer->components)
                if (!component->logicalPath.empty() &&
                    std::find(sqlInstances_.begin(), sqlInstances_.end(), component->logicalPath) == sqlInstances_.end())
                    sqlInstances_.push_back(component->logicalPath);
        }
    }
    doc["writers"] = list;
}

void HostCapture::ReadSqlServer(Document &doc, const std::vector<wstr> &instances)
{
    if (instances.empty())
        return;
    ComApartment apartment;
    Document list = Document::array();
    for (const wstr &instance : instances) {
        std::string version;
        const HRESULT hr = SqlInstanceVersion(instance, &version);
        if (hr == E_FAIL)
            continue;  // no such server: the policy finds none either
        if (FAILED(hr) && hr != kSqlLoginRefused) {
            Note("sqlServer", "Recordset::Open SELECT @@VERSION", hr, Shown(instance));
            continue;
        }
        Document one = {{"name", Shown(instance)}, {"version", version}};
        if (hr == kSqlLoginRefused)
            one["reachable"] = false;
        list.push_back(one);
    }
    doc["sqlServer"] = {{"instances", list}};
}

// The variables the writers' file specifications name (%NAME%), which the library expands.
void HostCapture::ReadWriterVariables(Document &doc)
{
    if (!doc.contains("writers"))
        return;
    std::vector<std::string> names;
    std::function<void(const Document &)> scan = [&](const Document &node) {
        if (node.is_object() || node.is_array()) {
            for (const auto &child : node)
                scan(child);
            return;
        }
        if (!node.is_string())
            return;
        const std::string text = node.get<std::string>();
        for (size_t open = text.find('%'); open != std::string::npos;) {
            const size_t close = text.find('%', open + 1);
            if (close == std::string::npos)
                break;
            if (close > open + 1)
                names.push_back(text.substr(open + 1, close - open - 1));
            open = text.find('%', close + 1);
        }
    };
    scan(doc["writers"]);
    Document &environment = doc["environment"];
    for (const std::string &name : names) {
        bool known = false;
        for (const auto &entry : environment.items())
            known = known || vo_strcasecmp(entry.key().c_str(), name.c_str()) == 0;
        wstr wide;
        if (known || !Utf8ToWide(name, &wide))
            continue;
        std::vector<WCHAR> value(32768, 0);
        const DWORD length = GetEnvironmentVariableW(wide.c_str(), value.data(), DWORD(value.size()));
        if (length > 0 && length < value.size())
            environment[name] = Utf8Of(value.data());
    }
}

struct AttributeName {
    DWORD bit;
    const char *name;
};
const AttributeName kAttributes[] = {
    {FILE_ATTRIBUTE_READONLY, "readonly"},   {FILE_ATTRIBUTE_HIDDEN, "hidden"},   {FILE_ATTRIBUTE_SYSTEM, "system"},
    {FILE_ATTRIBUTE_ARCHIVE, "archive"},     {FILE_ATTRIBUTE_TEMPORARY, "temporary"},
    {FILE_ATTRIBUTE_OFFLINE, "offline"},     {FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, "notindexed"},
};

// A FILETIME as the description writes it: UTC, YYYY-MM-DDTHH:MM:SS, the 100-ns rest of the
// second (when there is one) after a dot, and Z.
std::string FileTimeText(const FILETIME &time)
{
    const unsigned long long ticks = ((unsigned long long)time.dwHighDateTime << 32) | time.dwLowDateTime;
    const unsigned long long seconds = ticks / 10000000ULL, rest = ticks % 10000000ULL;
    // The civil date of a day counted from 0000-03-01 (years begin in March, so that
    // February, with its leap day, ends one); 1601-01-01 is day 584694.
    const unsigned long long day = seconds / 86400 + 584694;
    const unsigned long long era = day / 146097, dayOfEra = day % 146097;
    const unsigned long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned long long monthFromMarch = (5 * dayOfYear + 2) / 153;
    const unsigned dayOfMonth = unsigned(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
    const unsigned month = unsigned(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
    const unsigned year = unsigned(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
    const unsigned secondOfDay = unsigned(seconds % 86400);
    char text[40];
    snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u", year, month, dayOfMonth, secondOfDay / 3600,
             secondOfDay / 60 % 60, secondOfDay % 60);
    std::string result = text;
    if (rest != 0) {
        snprintf(text, sizeof text, ".%07llu", rest);
        result += text;
    }
    return result + "Z";
}

// One folder's entries, then each subfolder's, as FindFirstFileW lists them. A file is
// described by its name, attributes, size and last-write time, with generated bytes of
// that size; its own bytes are never read. A mount folder is not entered (its volume is
// described, and named on its own with --files), nor a junction, whose target no call of
// the library reads.
void HostCapture::ListFolder(const wstr &folder, Document &files, std::vector<wstr> &seen)
{
    WIN32_FIND_DATAW found = {};
    const wstr pattern = folder + W("*");
    FindHandle search(FindFirstFileW(pattern.c_str(), &found));
    if (search.get() == INVALID_HANDLE_VALUE) {
        search.release();
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_NO_MORE_FILES)
            NoteWin32("files", "FindFirstFileW " + Shown(pattern), error, Shown(folder));
        return;
    }
    std::vector<wstr> folders;
    do {
        const wstr name = found.cFileName;
        if (name == W(".") || name == W(".."))
            continue;
        const wstr path = folder + name;
        const bool directory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            WCHAR volume[MAX_PATH + 1] = {};
            if (!GetVolumeNameForVolumeMountPointW((path + W("\\")).c_str(), volume, MAX_PATH + 1))
                NoteValue("files", "FindFirstFileW", Shown(path) + " is a junction or link, whose target is not read");
            continue;
        }
        Document entry = {{"path", Shown(path)}};
        if (directory)
            entry["directory"] = true;
        Document attributes = Document::array();
        for (const AttributeName &attribute : kAttributes)
            if ((found.dwFileAttributes & attribute.bit) != 0)
                attributes.push_back(attribute.name);
        // A file without the field would read as archived; an empty list is a normal file.
        if (!directory || !attributes.empty())
            entry["attributes"] = attributes;
        const unsigned long long size = ((unsigned long long)found.nFileSizeHigh << 32) | found.nFileSizeLow;
        if (!directory && size > 0) {
            entry["size"] = size;
            entry["seed"] = (unsigned long long)files.size();
        }
        if (found.ftLastWriteTime.dwHighDateTime != 0 || found.ftLastWriteTime.dwLowDateTime != 0)
            entry["lastWrite"] = FileTimeText(found.ftLastWriteTime);
        files.push_back(entry);
        if (directory)
            folders.push_back(path + W("\\"));
    } while (FindNextFileW(search.get(), &found));
    const DWORD ended = GetLastError();
    if (ended != ERROR_NO_MORE_FILES)
        NoteWin32("files", "FindNextFileW", ended, Shown(folder));
    search.reset();
    for (const wstr &sub : folders) {
        if (std::find(seen.begin(), seen.end(), sub) != seen.end())
            continue;
        seen.push_back(sub);
        ListFolder(sub, files, seen);
    }
}

void HostCapture::ReadFiles(Document &doc, const std::vector<std::string> &paths)
{
    if (paths.empty())
        return;
    Document files = Document::array();
    std::vector<wstr> seen;
    for (const std::string &given : paths) {
        wstr folder;
        if (!Utf8ToWide(given, &folder) || folder.empty()) {
            NoteValue("files", "--files", "'" + given + "' is not a path");
            continue;
        }
        if (folder.back() != W('\\'))
            folder.push_back(W('\\'));
        const DWORD attributes = GetFileAttributesW(folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            NoteWin32("files", "GetFileAttributesW", attributes == INVALID_FILE_ATTRIBUTES ? GetLastError()
                                                                                           : DWORD(ERROR_DIRECTORY),
                      given);
            continue;
        }
        if (std::find(seen.begin(), seen.end(), folder) != seen.end())
            continue;
        // A file lies on a described volume, or the document would not load.
        WCHAR root[MAX_PATH + 1] = {}, volume[MAX_PATH + 1] = {};
        if (!GetVolumePathNameW(folder.c_str(), root, MAX_PATH + 1) ||
            !GetVolumeNameForVolumeMountPointW(root, volume, MAX_PATH + 1)) {
            NoteWin32("files", "GetVolumeNameForVolumeMountPointW", GetLastError(), given);
            continue;
        }
        const wstr volumeName = volume;
        const size_t open = volumeName.find(W('{')), close = volumeName.find(W('}'));
        const std::string guid =
            open != wstr::npos && close != wstr::npos && close > open ? Shown(volumeName.substr(open + 1, close - open - 1))
                                                                      : std::string();
        const bool described = doc.contains("volumes") &&
                               std::any_of(doc["volumes"].begin(), doc["volumes"].end(), [&](const Document &v) {
                                   return vo_strcasecmp(v["guid"].get<std::string>().c_str(), guid.c_str()) == 0;
                               });
        if (!described) {
            NoteValue("files", "GetVolumeNameForVolumeMountPointW", given + " lies on a volume that is not described");
            continue;
        }
        seen.push_back(folder);
        ListFolder(folder, files, seen);
    }
    doc["files"] = files;
}

Document HostCapture::Run(const std::vector<std::string> &filePaths)
{
    Document doc = Document::object();
    doc["formatVersion"] = kFormatVersion;
    ReadSystem(doc);
    ReadEnvironment(doc);
    ReadRegistry(doc);
    ReadDisks(doc);
    if (doc.contains("disks"))
        ReadVolumes(doc);
    else
        NoteValue("volumes", "MSFT_Disk", "the volumes lie on disks that could not be described");
    ReadComputerSystem(doc);
    ReadNetwork(doc);
    if (doc.contains("disks"))
        ReadStoragePools(doc);
    ReadCluster(doc);
    ReadWriters(doc);
    ReadWriterVariables(doc);
    ReadSqlServer(doc, sqlInstances_);
    ReadFiles(doc, filePaths);
    if (!notes_.empty())
        doc["captureNotes"] = notes_;
    return doc;
}

} // namespace

int RunDescribeHost(const DescribeOptions &options, Output &output)
{
    HostCapture capture(output);
    Document doc = capture.Run(options.files);
    if (options.redact)
        RedactHostDescription(doc);
    // A name that is not UTF-8 (a lone surrogate) shows as U+FFFD rather than ending the command.
    const std::string text = doc.dump(2, ' ', false, Document::error_handler_t::replace) + "\n";
    if (options.to.empty()) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    } else {
        PlainFile file;
        std::string error;
        if (!file.Create(std::filesystem::u8path(options.to), &error) || !file.Write(text.data(), text.size(), &error) ||
            !file.Close(&error)) {
            output.Error(options.to + ": the host description cannot be written: " + error);
            return output.Finish(kExitBadInput);
        }
    }
    return output.Finish(doc.contains("captureNotes") ? kExitWarnings : kExitSuccess);
}

} // namespace winclass
