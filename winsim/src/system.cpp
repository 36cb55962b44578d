// kernel32: the computer's names and the time since it started. The host name comes from
// winsim::SetComputerName, else from COMPUTERNAME in the simulated environment.
#include "internal.h"
#include "winsim/hostmodel.h"

#include <mutex>

#include <time.h>

namespace winsim {

namespace {

struct ComputerNames {
    std::mutex lock;
    bool set = false;
    unsigned generation = 0;  // of the host current when the names were set
    wstring16 hostName;
    wstring16 dnsDomain;
};

ComputerNames &TheNames()
{
    static ComputerNames *names = new ComputerNames;
    return *names;
}

void CurrentNames(wstring16 &hostName, wstring16 &dnsDomain)
{
    ComputerNames &names = TheNames();
    {
        std::lock_guard<std::mutex> guard(names.lock);
        if (names.set && names.generation == HostGeneration()) {
            hostName = names.hostName;
            dnsDomain = names.dnsDomain;
            return;
        }
    }
    const Host &host = CurrentHost();
    hostName = host.hostName;
    dnsDomain = host.domain;
}

// NetBIOS names are upper case and at most 15 characters.
wstring16 NetBiosName(const wstring16 &hostName)
{
    return FoldUpper(hostName.substr(0, MAX_COMPUTERNAME_LENGTH));
}

} // namespace

void SetComputerName(const std::u16string &hostName, const std::u16string &dnsDomain)
{
    ComputerNames &names = TheNames();
    std::lock_guard<std::mutex> guard(names.lock);
    CurrentHost();
    names.set = true;
    names.generation = HostGeneration();
    names.hostName = hostName;
    names.dnsDomain = dnsDomain;
}

} // namespace winsim

using namespace winsim;

EXTERN_C BOOL WINAPI GetComputerNameExW(COMPUTER_NAME_FORMAT NameType, LPWSTR lpBuffer, LPDWORD nSize)
{
    DWORD faultError;
    if (winsim::FaultFor("GetComputerNameExW", NULL, faultError))
        return Fail(faultError, FALSE);
    if (nSize == NULL)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    wstring16 hostName, dnsDomain, answer;
    CurrentNames(hostName, dnsDomain);
    switch (NameType) {
    case ComputerNameNetBIOS:
    case ComputerNamePhysicalNetBIOS:
        answer = NetBiosName(hostName);
        break;
    case ComputerNameDnsHostname:
    case ComputerNamePhysicalDnsHostname:
        answer = hostName;
        break;
    case ComputerNameDnsDomain:
    case ComputerNamePhysicalDnsDomain:
        answer = dnsDomain;
        break;
    case ComputerNameDnsFullyQualified:
    case ComputerNamePhysicalDnsFullyQualified:
        answer = dnsDomain.empty() ? hostName : hostName + u"." + dnsDomain;
        break;
    default:
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    if (lpBuffer == NULL || answer.size() + 1 > *nSize) {
        *nSize = DWORD(answer.size() + 1);
        return Fail(ERROR_MORE_DATA, FALSE);
    }
    answer.copy(lpBuffer, answer.size());
    lpBuffer[answer.size()] = 0;
    *nSize = DWORD(answer.size());
    return TRUE;
}

EXTERN_C BOOL WINAPI GetComputerNameW(LPWSTR lpBuffer, LPDWORD nSize)
{
    DWORD faultError;
    if (winsim::FaultFor("GetComputerNameW", NULL, faultError))
        return Fail(faultError, FALSE);
    if (nSize == NULL)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    wstring16 hostName, dnsDomain;
    CurrentNames(hostName, dnsDomain);
    const wstring16 answer = NetBiosName(hostName);
    if (lpBuffer == NULL || answer.size() + 1 > *nSize) {
        *nSize = DWORD(answer.size() + 1);
        return Fail(ERROR_BUFFER_OVERFLOW, FALSE);
    }
    answer.copy(lpBuffer, answer.size());
    lpBuffer[answer.size()] = 0;
    *nSize = DWORD(answer.size());
    return TRUE;
}

EXTERN_C BOOL WINAPI DisableThreadLibraryCalls(HMODULE) { return TRUE; }

EXTERN_C DWORD WINAPI GetTickCount(void)
{
    // The boot-time clock counts suspended time too, as the tick count does.
    timespec now = {};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const unsigned long long milliseconds =
        static_cast<unsigned long long>(now.tv_sec) * 1000ULL + static_cast<unsigned long long>(now.tv_nsec) / 1000000ULL;
    return DWORD(milliseconds);  // the low 32 bits: the count wraps
}
