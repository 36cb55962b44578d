// The host's name and host-name comparison.
#include <liblocal/vofiles.h>
#include <liblocal/vohost.h>
#include <liblocal/vostrings.h>
#include <liblocal/xalloc.h>

#include "internal.h"

#include <new>

namespace {

// The computer's name in the given form; empty when the system cannot say.
std::string ComputerName(COMPUTER_NAME_FORMAT format)
{
    DWORD size = 0;
    GetComputerNameExW(format, nullptr, &size);
    if (size == 0)
        return std::string();
    wstr name(size, WCHAR(0));
    if (!GetComputerNameExW(format, &name[0], &size))
        return std::string();
    name.resize(size);
    return vo::Narrow(name);
}

int HostName(COMPUTER_NAME_FORMAT format, char *buf, size_t size)
{
    if (buf == nullptr || size == 0)
        return -1;
    vo::PreservedErrorState preserved;
    try {
        std::string name = ComputerName(format);
        if (name.empty()) {
            const char *fromEnvironment = vo_getenv("COMPUTERNAME");
            name = fromEnvironment ? fromEnvironment : "";
        }
        if (name.empty() || name.size() >= size) {
            buf[0] = '\0';
            return -1;
        }
        vo_strlcpy(buf, name.c_str(), size);
        return 0;
    } catch (const std::bad_alloc &) {
        vo_out_of_memory(0);
    }
}

// A host name without its trailing dot ("host.corp." is "host.corp").
std::string WithoutTrailingDot(const char *name)
{
    std::string text(name);
    if (!text.empty() && text.back() == '.')
        text.pop_back();
    return text;
}

// Whether shortName is the first label of fullName.
bool IsFirstLabelOf(const std::string &shortName, const std::string &fullName)
{
    const size_t dot = fullName.find('.');
    return shortName.find('.') == std::string::npos && dot != std::string::npos &&
           vo_strcasecmp(fullName.substr(0, dot).c_str(), shortName.c_str()) == 0;
}

// An IPv4 or IPv6 literal, which must match exactly.
bool IsAddressLiteral(const std::string &name)
{
    if (name.find(':') != std::string::npos)
        return true;
    return !name.empty() && name.find_first_not_of("0123456789.") == std::string::npos;
}

} // namespace

int vo_gethostname(char *buf, size_t size) { return HostName(ComputerNameDnsHostname, buf, size); }

int vo_getlocalhost(char *buf, size_t size) { return HostName(ComputerNameDnsFullyQualified, buf, size); }

int vo_inet_hostcmp(const char *a, const char *b)
{
    const bool hasA = a != nullptr && *a != '\0';
    const bool hasB = b != nullptr && *b != '\0';
    if (!hasA || !hasB)
        return hasA ? 1 : -1;
    try {
        const std::string first = WithoutTrailingDot(a);
        const std::string second = WithoutTrailingDot(b);
        const int order = vo_strcasecmp(first.c_str(), second.c_str());
        if (order == 0)
            return 0;
        if (!IsAddressLiteral(first) && !IsAddressLiteral(second) &&
            (IsFirstLabelOf(first, second) || IsFirstLabelOf(second, first)))
            return 0;
        return order;
    } catch (const std::bad_alloc &) {
        vo_out_of_memory(0);
    }
}
