// advapi32: an in-memory registry. Keys and value names compare without regard to case;
// handles carry the access they were opened with, and the calls check it as Windows does.
// Tests fill it through winsim/host.h.
#include "internal.h"
#include "winsim/hostmodel.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace winsim {

namespace {

struct StoredValue {
    wstring16 name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct RegistryKey {
    wstring16 name;
    bool deleted = false;
    std::map<wstring16, std::shared_ptr<RegistryKey>> subkeys;  // by folded name
    std::map<wstring16, StoredValue> values;                  // by folded name; "" is the default value
};

struct OpenKey {
    std::shared_ptr<RegistryKey> key;
    REGSAM access;
};

struct Registry {
    std::mutex lock;
    std::map<ULONG_PTR, std::shared_ptr<RegistryKey>> hives;  // by predefined handle value
    std::unordered_map<ULONG_PTR, OpenKey> handles;
    ULONG_PTR nextHandle = 0x1000;
    unsigned generation = 0;  // of the host whose values were put in
    bool seeding = false;
};

Registry &TheRegistry()
{
    static Registry *registry = new Registry;
    return *registry;
}

ULONG_PTR HandleValue(HKEY key) { return reinterpret_cast<ULONG_PTR>(key); }

const HKEY kHives[] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_USERS, HKEY_CURRENT_CONFIG};

void MarkDeleted(RegistryKey &key)
{
    key.deleted = true;
    for (auto &child : key.subkeys)
        MarkDeleted(*child.second);
}

void SeedFromHost(Registry &registry);

std::shared_ptr<RegistryKey> Hive(Registry &registry, HKEY predefined)
{
    if (!registry.seeding)
        SeedFromHost(registry);
    auto &hive = registry.hives[HandleValue(predefined)];
    if (!hive)
        hive = std::make_shared<RegistryKey>();
    return hive;
}

// Splits a subkey path at backslashes. Windows refuses a leading backslash; empty
// components (a trailing backslash, doubled backslashes) are skipped.
bool SplitPath(const WCHAR *path, std::vector<wstring16> &components)
{
    components.clear();
    if (path == NULL)
        return true;
    if (path[0] == u'\\')
        return false;
    wstring16 current;
    for (const WCHAR *c = path; *c != 0; ++c) {
        if (*c == u'\\') {
            if (!current.empty())
                components.push_back(current);
            current.clear();
        } else {
            current.push_back(*c);
        }
    }
    if (!current.empty())
        components.push_back(current);
    return true;
}

REGSAM EffectiveAccess(REGSAM requested)
{
    REGSAM access = requested & ~REGSAM(KEY_WOW64_64KEY | KEY_WOW64_32KEY);
    if (access & (GENERIC_ALL | MAXIMUM_ALLOWED))
        access |= KEY_ALL_ACCESS;
    if (access & GENERIC_READ)
        access |= KEY_READ;
    if (access & GENERIC_WRITE)
        access |= KEY_WRITE;
    if (access & GENERIC_EXECUTE)
        access |= KEY_EXECUTE;
    return access & ~REGSAM(GENERIC_ALL | GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | MAXIMUM_ALLOWED);
}

// Called with the lock held. HKEY_CLASSES_ROOT is the merged view that Windows builds
// over HKLM\SOFTWARE\Classes; here it is that key.
DWORD Resolve(Registry &registry, HKEY handle, OpenKey &out)
{
    const ULONG_PTR value = HandleValue(handle);
    if (handle == HKEY_CLASSES_ROOT) {
        std::shared_ptr<RegistryKey> key = Hive(registry, HKEY_LOCAL_MACHINE);
        for (const char16_t *name : {u"SOFTWARE", u"Classes"}) {
            auto &child = key->subkeys[FoldUpper(wstring16(name))];
            if (!child) {
                child = std::make_shared<RegistryKey>();
                child->name = name;
            }
            key = child;
        }
        out = OpenKey{key, KEY_ALL_ACCESS};
        return ERROR_SUCCESS;
    }
    for (HKEY hive : kHives) {
        if (handle == hive) {
            out = OpenKey{Hive(registry, hive), KEY_ALL_ACCESS};
            return ERROR_SUCCESS;
        }
    }
    auto found = registry.handles.find(value);
    if (found == registry.handles.end())
        return ERROR_INVALID_HANDLE;
    out = found->second;
    return ERROR_SUCCESS;
}

HKEY NewHandle(Registry &registry, const std::shared_ptr<RegistryKey> &key, REGSAM access)
{
    const ULONG_PTR value = registry.nextHandle;
    registry.nextHandle += 4;
    registry.handles[value] = OpenKey{key, access};
    return reinterpret_cast<HKEY>(value);
}

// Walks (and with create, makes) the path under a key. Called with the lock held.
std::shared_ptr<RegistryKey> Walk(std::shared_ptr<RegistryKey> key, const std::vector<wstring16> &components,
                                  bool create, bool *created)
{
    for (const wstring16 &component : components) {
        auto &child = key->subkeys[FoldUpper(component)];
        if (!child) {
            if (!create) {
                key->subkeys.erase(FoldUpper(component));
                return nullptr;
            }
            child = std::make_shared<RegistryKey>();
            child->name = component;
            if (created != NULL)
                *created = true;
        }
        key = child;
    }
    return key;
}

wstring16 ValueKey(const WCHAR *name) { return name == NULL ? wstring16() : FoldUpper(wstring16(name)); }

DWORD OpenSubKey(HKEY parent, const WCHAR *subKey, REGSAM access, PHKEY result)
{
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    OpenKey base;
    if (DWORD error = Resolve(registry, parent, base))
        return error;
    std::vector<wstring16> components;
    if (!SplitPath(subKey, components))
        return ERROR_BAD_PATHNAME;
    if (base.key->deleted)
        return ERROR_KEY_DELETED;
    std::shared_ptr<RegistryKey> key = Walk(base.key, components, false, NULL);
    if (!key)
        return ERROR_FILE_NOT_FOUND;
    *result = NewHandle(registry, key, EffectiveAccess(access));
    return ERROR_SUCCESS;
}

// Finds the value behind a handle that must have been opened with `needed`.
DWORD ReadValue(HKEY handle, const WCHAR *name, StoredValue &value)
{
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    OpenKey open;
    if (DWORD error = Resolve(registry, handle, open))
        return error;
    if ((open.access & KEY_QUERY_VALUE) == 0)
        return ERROR_ACCESS_DENIED;
    if (open.key->deleted)
        return ERROR_KEY_DELETED;
    auto found = open.key->values.find(ValueKey(name));
    if (found == open.key->values.end())
        return ERROR_FILE_NOT_FOUND;
    value = found->second;
    return ERROR_SUCCESS;
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

DWORD TypeFlag(DWORD type)
{
    switch (type) {
    case REG_NONE: return RRF_RT_REG_NONE;
    case REG_SZ: return RRF_RT_REG_SZ;
    case REG_EXPAND_SZ: return RRF_RT_REG_EXPAND_SZ;
    case REG_BINARY: return RRF_RT_REG_BINARY;
    case REG_DWORD: return RRF_RT_REG_DWORD;
    case REG_MULTI_SZ: return RRF_RT_REG_MULTI_SZ;
    case REG_QWORD: return RRF_RT_REG_QWORD;
    default: return 0;
    }
}

// The value as RegGetValueW hands it out: expanded when asked, strings terminated.
void PrepareForGet(StoredValue &value, DWORD flags)
{
    if (!IsStringType(value.type))
        return;
    wstring16 text(value.data.size() / sizeof(WCHAR), 0);
    memcpy(&text[0], value.data.data(), text.size() * sizeof(WCHAR));
    if (value.type == REG_EXPAND_SZ && (flags & RRF_NOEXPAND) == 0) {
        const size_t end = text.find(WCHAR(0));
        text = ExpandEnvironmentText(text.substr(0, end));
        value.type = REG_SZ;
    }
    if (text.empty() || text.back() != 0)
        text.push_back(0);
    if (value.type == REG_MULTI_SZ && (text.size() < 2 || text[text.size() - 2] != 0))
        text.push_back(0);
    value.data.assign(reinterpret_cast<const BYTE *>(text.data()),
                      reinterpret_cast<const BYTE *>(text.data()) + text.size() * sizeof(WCHAR));
}

DWORD GetValue(HKEY handle, const WCHAR *subKey, const WCHAR *name, DWORD flags, DWORD *type, void *data,
               DWORD *size)
{
    if ((flags & RRF_RT_ANY) == 0 || (data != NULL && size == NULL))
        return ERROR_INVALID_PARAMETER;
    // An expanded string is REG_SZ: asking for REG_EXPAND_SZ alone while expanding is a
    // contradiction; RRF_RT_ANY merely accepts whatever comes.
    if ((flags & RRF_RT_REG_EXPAND_SZ) != 0 && (flags & RRF_NOEXPAND) == 0 && (flags & RRF_RT_ANY) != RRF_RT_ANY)
        return ERROR_INVALID_PARAMETER;

    HKEY opened = NULL;
    if (subKey != NULL && subKey[0] != 0) {
        if (DWORD error = OpenSubKey(handle, subKey, KEY_QUERY_VALUE, &opened))
            return error;
        handle = opened;
    }
    StoredValue value;
    const DWORD readError = ReadValue(handle, name, value);
    if (opened != NULL)
        RegCloseKey(opened);
    if (readError != ERROR_SUCCESS)
        return readError;

    PrepareForGet(value, flags);
    if ((TypeFlag(value.type) & flags) == 0)
        return ERROR_UNSUPPORTED_TYPE;
    if (value.type == REG_BINARY) {
        // RRF_RT_DWORD and RRF_RT_QWORD admit REG_BINARY only of the matching size.
        const bool binaryOk = (flags & RRF_RT_REG_BINARY) != 0 &&
                              (((flags & RRF_RT_ANY) != RRF_RT_DWORD || value.data.size() == 4) &&
                               ((flags & RRF_RT_ANY) != RRF_RT_QWORD || value.data.size() == 8));
        if (!binaryOk)
            return ERROR_DATATYPE_MISMATCH;
    }
    if (type != NULL)
        *type = value.type;
    if (size == NULL)
        return ERROR_SUCCESS;
    const DWORD needed = DWORD(value.data.size());
    if (data == NULL) {
        *size = needed;
        return ERROR_SUCCESS;
    }
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (needed != 0)
        memcpy(data, value.data.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

// Host-side access: the key at root\path, made when create is set.
std::shared_ptr<RegistryKey> HostKey(Registry &registry, HKEY root, const std::u16string &path, bool create)
{
    OpenKey base;
    if (Resolve(registry, root, base) != ERROR_SUCCESS)
        return nullptr;
    std::vector<wstring16> components;
    if (!SplitPath(path.c_str(), components))
        return nullptr;
    return Walk(base.key, components, create, NULL);
}

// Called with the lock held: puts in the current host's values when the host changed. A
// host made current after another replaces every hive.
void SeedFromHost(Registry &registry)
{
    const Host &host = CurrentHost();
    const unsigned generation = HostGeneration();
    if (registry.generation == generation)
        return;
    const bool replaced = registry.generation != 0;
    registry.generation = generation;
    registry.seeding = true;
    if (replaced) {
        for (auto &hive : registry.hives)
            MarkDeleted(*hive.second);
        registry.hives.clear();
    }
    static const std::pair<const char16_t *, HKEY> roots[] = {
        {u"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE}, {u"HKLM", HKEY_LOCAL_MACHINE},
        {u"HKEY_CURRENT_USER", HKEY_CURRENT_USER},   {u"HKCU", HKEY_CURRENT_USER},
        {u"HKEY_USERS", HKEY_USERS},                 {u"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
    };
    for (const winsim::RegistryValue &value : host.registry) {
        const size_t slash = value.key.find(u'\\');
        const wstring16 rootName = value.key.substr(0, slash);
        const wstring16 path = slash == wstring16::npos ? wstring16() : value.key.substr(slash + 1);
        for (const auto &root : roots) {
            if (!EqualNoCase(rootName, root.first))
                continue;
            std::shared_ptr<RegistryKey> key = HostKey(registry, root.second, path, true);
            if (key)
                key->values[FoldUpper(value.name)] = StoredValue{value.name, value.type, value.data};
            break;
        }
    }
    // A cluster node has the cluster database loaded at HKLM\Cluster, and the cluster disk
    // driver lists the disks it owns by MBR signature or GPT disk GUID.
    auto cluster = host.sections.find("cluster");
    if (cluster != host.sections.end()) {
        std::string name;
        try {
            const nlohmann::json section = nlohmann::json::parse(cluster->second);
            name = section.value("name", std::string());
        } catch (const nlohmann::json::exception &) {
        }
        std::shared_ptr<RegistryKey> key = HostKey(registry, HKEY_LOCAL_MACHINE, u"Cluster", true);
        const wstring16 wide = FromUtf8(name);
        const BYTE *bytes = reinterpret_cast<const BYTE *>(wide.c_str());
        key->values[u"CLUSTERNAME"] = StoredValue{u"ClusterName", REG_SZ,
                                                  std::vector<BYTE>(bytes, bytes + (wide.size() + 1) * 2)};
        for (const Disk &disk : host.disks) {
            if (!disk.clustered)
                continue;
            char identity[48];
            if (disk.style == PartitionStyle::Mbr) {
                std::snprintf(identity, sizeof identity, "%08X", disk.signature);
            } else {
                const GUID &id = disk.diskId;
                std::snprintf(identity, sizeof identity, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                              id.Data1, id.Data2, id.Data3, id.Data4[0], id.Data4[1], id.Data4[2], id.Data4[3],
                              id.Data4[4], id.Data4[5], id.Data4[6], id.Data4[7]);
            }
            HostKey(registry, HKEY_LOCAL_MACHINE,
                    u"SYSTEM\\CurrentControlSet\\Services\\ClusDisk\\Parameters\\Signatures\\" +
                        FromUtf8(identity),
                    true);
        }
    }
    registry.seeding = false;
}

} // namespace

void ResetRegistry()
{
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    for (auto &hive : registry.hives)
        MarkDeleted(*hive.second);  // keys still open answer ERROR_KEY_DELETED
    registry.hives.clear();
    CurrentHost();
    registry.generation = HostGeneration();  // stays empty until another host is made current
}

bool SetRegistryValue(HKEY root, const std::u16string &keyPath, const std::u16string &valueName, DWORD type,
                      const std::vector<BYTE> &data)
{
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    std::shared_ptr<RegistryKey> key = HostKey(registry, root, keyPath, true);
    if (!key)
        return false;
    key->values[FoldUpper(valueName)] = StoredValue{valueName, type, data};
    return true;
}

bool SetRegistryString(HKEY root, const std::u16string &keyPath, const std::u16string &valueName,
                       const std::u16string &text, DWORD type)
{
    const BYTE *bytes = reinterpret_cast<const BYTE *>(text.c_str());
    return SetRegistryValue(root, keyPath, valueName, type,
                            std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(WCHAR)));
}

bool SetRegistryMultiString(HKEY root, const std::u16string &keyPath, const std::u16string &valueName,
                            const std::vector<std::u16string> &strings)
{
    std::u16string joined;
    for (const std::u16string &s : strings) {
        joined += s;
        joined.push_back(0);
    }
    if (strings.empty())
        joined.push_back(0);  // an empty list is one terminator, as Windows stores it
    const BYTE *bytes = reinterpret_cast<const BYTE *>(joined.c_str());
    return SetRegistryValue(root, keyPath, valueName, REG_MULTI_SZ,
                            std::vector<BYTE>(bytes, bytes + (joined.size() + 1) * sizeof(WCHAR)));
}

bool SetRegistryDword(HKEY root, const std::u16string &keyPath, const std::u16string &valueName, DWORD value)
{
    const BYTE *bytes = reinterpret_cast<const BYTE *>(&value);
    return SetRegistryValue(root, keyPath, valueName, REG_DWORD, std::vector<BYTE>(bytes, bytes + sizeof value));
}

bool GetRegistryValue(HKEY root, const std::u16string &keyPath, const std::u16string &valueName, DWORD *type,
                      std::vector<BYTE> *data)
{
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    std::shared_ptr<RegistryKey> key = HostKey(registry, root, keyPath, false);
    if (!key)
        return false;
    auto found = key->values.find(FoldUpper(valueName));
    if (found == key->values.end())
        return false;
    if (type != NULL)
        *type = found->second.type;
    if (data != NULL)
        *data = found->second.data;
    return true;
}

bool RegistryKeyExists(HKEY root, const std::u16string &keyPath)
{
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    return HostKey(registry, root, keyPath, false) != nullptr;
}

bool DeleteRegistryValue(HKEY root, const std::u16string &keyPath, const std::u16string &valueName)
{
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    std::shared_ptr<RegistryKey> key = HostKey(registry, root, keyPath, false);
    return key && key->values.erase(FoldUpper(valueName)) == 1;
}

bool DeleteRegistryKey(HKEY root, const std::u16string &keyPath)
{
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    std::vector<wstring16> components;
    if (!SplitPath(keyPath.c_str(), components) || components.empty())
        return false;
    const wstring16 last = components.back();
    components.pop_back();
    std::shared_ptr<RegistryKey> parent = HostKey(registry, root, wstring16(), false);
    if (parent)
        parent = Walk(parent, components, false, NULL);
    if (!parent)
        return false;
    auto found = parent->subkeys.find(FoldUpper(last));
    if (found == parent->subkeys.end())
        return false;
    MarkDeleted(*found->second);
    parent->subkeys.erase(found);
    return true;
}

size_t OpenRegistryKeyCount()
{
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    return registry.handles.size();
}

} // namespace winsim

using namespace winsim;

EXTERN_C LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                      PHKEY phkResult)
{
    DWORD faultError;
    if (winsim::FaultFor("RegOpenKeyExW", lpSubKey, faultError))
        return LSTATUS(faultError);
    (void)ulOptions;  // REG_OPTION_OPEN_LINK: winsim has no symbolic links
    if (phkResult == NULL)
        return ERROR_INVALID_PARAMETER;
    *phkResult = NULL;
    return LSTATUS(OpenSubKey(hKey, lpSubKey, samDesired, phkResult));
}

EXTERN_C LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass,
                                        DWORD dwOptions, REGSAM samDesired,
                                        LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                                        LPDWORD lpdwDisposition)
{
    DWORD faultError;
    if (winsim::FaultFor("RegCreateKeyExW", lpSubKey, faultError))
        return LSTATUS(faultError);
    (void)Reserved;
    (void)lpClass;
    (void)lpSecurityAttributes;
    if (phkResult == NULL || lpSubKey == NULL)
        return ERROR_INVALID_PARAMETER;
    *phkResult = NULL;
    if ((dwOptions & ~DWORD(REG_OPTION_VOLATILE | REG_OPTION_BACKUP_RESTORE)) != 0) {
        if (dwOptions & REG_OPTION_CREATE_LINK)
            LogNotImplemented("RegCreateKeyExW", "REG_OPTION_CREATE_LINK");
        return (dwOptions & REG_OPTION_CREATE_LINK) ? ERROR_CALL_NOT_IMPLEMENTED : ERROR_INVALID_PARAMETER;
    }
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    OpenKey base;
    if (DWORD error = Resolve(registry, hKey, base))
        return LSTATUS(error);
    std::vector<wstring16> components;
    if (!SplitPath(lpSubKey, components))
        return ERROR_BAD_PATHNAME;
    if (base.key->deleted)
        return ERROR_KEY_DELETED;
    // Creating needs KEY_CREATE_SUB_KEY on the parent; opening an existing key does not.
    std::shared_ptr<RegistryKey> existing = Walk(base.key, components, false, NULL);
    if (!existing && (base.access & KEY_CREATE_SUB_KEY) == 0)
        return ERROR_ACCESS_DENIED;
    bool created = false;
    std::shared_ptr<RegistryKey> key = existing ? existing : Walk(base.key, components, true, &created);
    *phkResult = NewHandle(registry, key, EffectiveAccess(samDesired));
    if (lpdwDisposition != NULL)
        *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

EXTERN_C LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                         LPBYTE lpData, LPDWORD lpcbData)
{
    DWORD faultError;
    if (winsim::FaultFor("RegQueryValueExW", lpValueName, faultError))
        return LSTATUS(faultError);
    if (lpReserved != NULL || (lpData != NULL && lpcbData == NULL))
        return ERROR_INVALID_PARAMETER;
    StoredValue value;
    if (DWORD error = ReadValue(hKey, lpValueName, value))
        return LSTATUS(error);
    if (lpType != NULL)
        *lpType = value.type;
    if (lpcbData == NULL)
        return ERROR_SUCCESS;
    const DWORD needed = DWORD(value.data.size());
    if (lpData != NULL) {
        if (*lpcbData < needed) {
            *lpcbData = needed;
            return ERROR_MORE_DATA;  // the buffer's contents are undefined; winsim leaves them
        }
        if (needed != 0)
            memcpy(lpData, value.data.data(), needed);
    }
    *lpcbData = needed;
    return ERROR_SUCCESS;
}

EXTERN_C LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                                       const BYTE *lpData, DWORD cbData)
{
    DWORD faultError;
    if (winsim::FaultFor("RegSetValueExW", lpValueName, faultError))
        return LSTATUS(faultError);
    (void)Reserved;
    if (lpData == NULL && cbData != 0)
        return ERROR_NOACCESS;
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    OpenKey open;
    if (DWORD error = Resolve(registry, hKey, open))
        return LSTATUS(error);
    if ((open.access & KEY_SET_VALUE) == 0)
        return ERROR_ACCESS_DENIED;
    if (open.key->deleted)
        return ERROR_KEY_DELETED;
    // Stored exactly as given: a string's terminator is there only if cbData counted it.
    StoredValue value{lpValueName != NULL ? wstring16(lpValueName) : wstring16(), dwType,
                        std::vector<BYTE>(lpData, lpData + cbData)};
    open.key->values[ValueKey(lpValueName)] = value;
    return ERROR_SUCCESS;
}

EXTERN_C LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName)
{
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    OpenKey open;
    if (DWORD error = Resolve(registry, hKey, open))
        return LSTATUS(error);
    if ((open.access & KEY_SET_VALUE) == 0)
        return ERROR_ACCESS_DENIED;
    if (open.key->deleted)
        return ERROR_KEY_DELETED;
    return open.key->values.erase(ValueKey(lpValueName)) == 1 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

EXTERN_C LSTATUS WINAPI RegCloseKey(HKEY hKey)
{
    if (hKey == HKEY_CLASSES_ROOT)
        return ERROR_SUCCESS;
    for (HKEY hive : kHives) {
        if (hKey == hive)
            return ERROR_SUCCESS;  // closing a predefined key is allowed and changes nothing
    }
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    return registry.handles.erase(HandleValue(hKey)) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

namespace {

// Finds parent\subKey's parent key and the folded name of its last component. Called
// with the lock held.
DWORD LocateForDelete(Registry &registry, HKEY hKey, LPCWSTR lpSubKey, std::shared_ptr<RegistryKey> &parent,
                      wstring16 &foldedName)
{
    OpenKey base;
    if (DWORD error = Resolve(registry, hKey, base))
        return error;
    std::vector<wstring16> components;
    if (!SplitPath(lpSubKey, components))
        return ERROR_BAD_PATHNAME;
    if (base.key->deleted)
        return ERROR_KEY_DELETED;
    if (components.empty())
        return ERROR_ACCESS_DENIED;  // a key cannot delete itself through its own handle
    foldedName = FoldUpper(components.back());
    components.pop_back();
    parent = Walk(base.key, components, false, NULL);
    if (!parent || parent->subkeys.count(foldedName) == 0)
        return ERROR_FILE_NOT_FOUND;
    return ERROR_SUCCESS;
}

} // namespace

EXTERN_C LSTATUS WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey)
{
    if (lpSubKey == NULL)
        return ERROR_INVALID_PARAMETER;
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    std::shared_ptr<RegistryKey> parent;
    wstring16 name;
    if (DWORD error = LocateForDelete(registry, hKey, lpSubKey, parent, name))
        return LSTATUS(error);
    auto found = parent->subkeys.find(name);
    if (!found->second->subkeys.empty())
        return ERROR_ACCESS_DENIED;
    MarkDeleted(*found->second);
    parent->subkeys.erase(found);
    return ERROR_SUCCESS;
}

EXTERN_C LSTATUS WINAPI RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey)
{
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    if (lpSubKey == NULL || lpSubKey[0] == 0) {
        OpenKey open;
        if (DWORD error = Resolve(registry, hKey, open))
            return LSTATUS(error);
        if (open.key->deleted)
            return ERROR_KEY_DELETED;
        for (auto &child : open.key->subkeys)
            MarkDeleted(*child.second);
        open.key->subkeys.clear();
        open.key->values.clear();
        return ERROR_SUCCESS;
    }
    std::shared_ptr<RegistryKey> parent;
    wstring16 name;
    if (DWORD error = LocateForDelete(registry, hKey, lpSubKey, parent, name))
        return LSTATUS(error);
    MarkDeleted(*parent->subkeys[name]);
    parent->subkeys.erase(name);
    return ERROR_SUCCESS;
}

EXTERN_C LSTATUS WINAPI RegGetValueW(HKEY hkey, LPCWSTR lpSubKey, LPCWSTR lpValue, DWORD dwFlags, LPDWORD pdwType,
                                     PVOID pvData, LPDWORD pcbData)
{
    DWORD faultError;
    if (winsim::FaultFor("RegGetValueW", lpValue, faultError))
        return LSTATUS(faultError);
    const DWORD offered = pcbData != NULL ? *pcbData : 0;
    const DWORD error = GetValue(hkey, lpSubKey, lpValue, dwFlags, pdwType, pvData, pcbData);
    if (error != ERROR_SUCCESS && (dwFlags & RRF_ZEROONFAILURE) != 0 && pvData != NULL && offered != 0)
        memset(pvData, 0, offered);
    return LSTATUS(error);
}
