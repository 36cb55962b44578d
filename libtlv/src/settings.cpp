// Product settings from the client's registry key.
#include <libtlv/settings.h>

#include <liblocal/debuglog.h>
#include <liblocal/vostrings.h>
#include <liblocal/xalloc.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

// An open registry key, closed once.
class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey()
    {
        if (key_ != nullptr)
            RegCloseKey(key_);
    }
    RegistryKey(const RegistryKey &) = delete;
    RegistryKey &operator=(const RegistryKey &) = delete;
    HKEY get() const { return key_; }
    HKEY *put() { return &key_; }

private:
    HKEY key_ = nullptr;
};

struct RegistryValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

wstr Widen(const char *utf8)
{
    const int length = vo_utf8s_to_wcs(nullptr, utf8, 0);
    if (length <= 0)
        return wstr();
    wstr wide(size_t(length) + 1, WCHAR(0));
    vo_utf8s_to_wcs(&wide[0], utf8, wide.size());
    wide.resize(size_t(length));
    return wide;
}

std::string Narrow(const wstr &wide)
{
    const int length = vo_wcs_to_utf8s(nullptr, wide.c_str(), 0, 0);
    if (length <= 0)
        return std::string();
    std::string narrow(size_t(length) + 1, '\0');
    vo_wcs_to_utf8s(&narrow[0], wide.c_str(), narrow.size(), 0);
    narrow.resize(size_t(length));
    return narrow;
}

void LogFailure(const char *what, const char *value, LONG status)
{
    if (Debug >= 3 || (VoTrace & 0x4))
        debugprintf("libtlv: %s %s\\%s: error %ld\n", what, TLV_SETTINGS_KEY, value, static_cast<long>(status));
}

// Reads one value of the settings key; false when the key or value is absent.
bool ReadSetting(const char *valueName, RegistryValue &value)
{
    RegistryKey key;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, Widen(TLV_SETTINGS_KEY).c_str(), 0,
                                KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put());
    if (status != ERROR_SUCCESS) {
        if (status != ERROR_FILE_NOT_FOUND)
            LogFailure("cannot open", valueName, status);
        return false;
    }
    const wstr name = Widen(valueName);
    DWORD bytes = 0;
    status = RegQueryValueExW(key.get(), name.c_str(), nullptr, &value.type, nullptr, &bytes);
    // The value may grow between the two calls; ask again until it fits.
    while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
        value.data.assign(size_t(bytes) + sizeof(WCHAR), 0);
        DWORD got = bytes;
        status = RegQueryValueExW(key.get(), name.c_str(), nullptr, &value.type, value.data.data(), &got);
        if (status == ERROR_SUCCESS) {
            value.data.resize(got);
            return true;
        }
        bytes = got;
    }
    if (status != ERROR_FILE_NOT_FOUND)
        LogFailure("cannot read", valueName, status);
    return false;
}

// The wide characters of string data, which the registry does not promise to terminate.
wstr WideData(const RegistryValue &value)
{
    wstr text(value.data.size() / sizeof(WCHAR), WCHAR(0));
    if (!text.empty())
        std::memcpy(&text[0], value.data.data(), text.size() * sizeof(WCHAR));
    return text;
}

// The entries of a REG_MULTI_SZ (or the one text of a REG_SZ), as UTF-8, each without
// white space around it; empty entries left out.
std::vector<std::string> TextEntries(const RegistryValue &value)
{
    std::vector<std::string> entries;
    if (value.type != REG_MULTI_SZ && value.type != REG_SZ && value.type != REG_EXPAND_SZ)
        return entries;
    const wstr data = WideData(value);
    size_t start = 0;
    while (start < data.size()) {
        size_t end = data.find(WCHAR(0), start);
        if (end == wstr::npos)
            end = data.size();
        std::string entry = Narrow(data.substr(start, end - start));
        const size_t first = entry.find_first_not_of(" \t");
        const size_t last = entry.find_last_not_of(" \t");
        if (first != std::string::npos)
            entries.push_back(entry.substr(first, last - first + 1));
        if (value.type != REG_MULTI_SZ)
            break;
        start = end + 1;
    }
    return entries;
}

bool ListHolds(const char *valueName, const char *wanted)
{
    RegistryValue value;
    if (!ReadSetting(valueName, value))
        return false;
    for (const std::string &entry : TextEntries(value)) {
        if (vo_strcasecmp(entry.c_str(), wanted) == 0)
            return true;
    }
    return false;
}

// ExpandEnvironmentStringsW of text; the text itself when that fails.
wstr Expanded(const wstr &text)
{
    const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    if (needed == 0)
        return text;
    wstr expanded(needed, WCHAR(0));
    const DWORD written = ExpandEnvironmentStringsW(text.c_str(), &expanded[0], needed);
    if (written == 0 || written > needed)
        return text;
    expanded.resize(written - 1);
    return expanded;
}

} // namespace

char *find_tlvdir_from_install_key_in_registry(void)
{
    try {
        RegistryValue value;
        if (!ReadSetting(TLV_VALUE_INSTALL_DIR, value) || (value.type != REG_SZ && value.type != REG_EXPAND_SZ))
            return nullptr;
        wstr directory = WideData(value);
        directory.resize(std::char_traits<WCHAR>::length(directory.c_str()));
        if (value.type == REG_EXPAND_SZ)
            directory = Expanded(directory);
        if (directory.empty())
            return nullptr;
        return xstrdup(Narrow(directory).c_str());
    } catch (const std::bad_alloc &) {
        vo_out_of_memory(0);
    }
}

int is_writer_disabled(const char *name)
{
    if (name == nullptr || *name == '\0')
        return 0;
    try {
        return ListHolds(TLV_VALUE_DISABLED_WRITERS, name) ? 1 : 0;
    } catch (const std::bad_alloc &) {
        vo_out_of_memory(0);
    }
}

int list_critical_volumes(void)
{
    try {
        RegistryValue value;
        if (!ReadSetting(TLV_VALUE_LIST_CRITICAL_VOLUMES, value) || value.type != REG_DWORD ||
            value.data.size() != sizeof(DWORD))
            return 0;
        DWORD flag = 0;
        std::memcpy(&flag, value.data.data(), sizeof flag);
        return flag != 0 ? 1 : 0;
    } catch (const std::bad_alloc &) {
        vo_out_of_memory(0);
    }
}

int syswriter_win32_sys_sercomp_userdef(void)
{
    try {
        return ListHolds(TLV_VALUE_SAVE_OPTIONS, TLV_OPTION_SYS_WRITER_SERVCOMP_USER) ? 1 : 0;
    } catch (const std::bad_alloc &) {
        vo_out_of_memory(0);
    }
}
