// Injected faults: the calls of the simulated host that tests make fail on purpose.
#include "internal.h"

#include <vsserror.h>
#include <wbemcli.h>

#include <atomic>
#include <cstring>
#include <list>
#include <mutex>

namespace winsim {

namespace {

struct FaultTable {
    std::mutex lock;
    std::list<Fault> faults;
    bool sweeping = false;
    size_t failAt = 0;  // the call of the sweep that fails; 0: none
    FaultSweepCount count;
};

void Rearm(const FaultTable &table) { gFaultsArmed.store(table.sweeping || !table.faults.empty(), std::memory_order_release); }

bool StartsWith(const char *text, const char *prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

// COM calls answer an HRESULT; the rest are Win32 calls that set the last error.
bool IsComCall(const char *function)
{
    return std::strstr(function, "::") != NULL || StartsWith(function, "Co") || StartsWith(function, "Sys") ||
           StartsWith(function, "SafeArray") || StartsWith(function, "Variant");
}

// The failure a sweep gives a call: one its documentation lists. Out of memory wherever a
// call allocates (which nearly all do); the interface's own catch-all where it has one.
Fault SweepFault(const char *function)
{
    static const struct {
        const char *prefix;
        DWORD error;
        HRESULT hresult;
    } kFailures[] = {
        {"IVss", 0, VSS_E_UNEXPECTED},
        {"IWbemClassObject", 0, WBEM_E_OUT_OF_MEMORY},
        {"IEnumWbemClassObject", 0, WBEM_E_OUT_OF_MEMORY},
        {"IWbem", 0, WBEM_E_FAILED},
        {"Recordset", 0, E_FAIL},
        {"Connection", 0, E_FAIL},
        {"DeviceIoControl", ERROR_IO_DEVICE, 0},
        {"CreateFile", ERROR_ACCESS_DENIED, 0},
        {"FindFirstFile", ERROR_ACCESS_DENIED, 0},
        {"FindNextFile", ERROR_IO_DEVICE, 0},
        {"ReadFile", ERROR_IO_DEVICE, 0},
        {"WriteFile", ERROR_DISK_FULL, 0},
        {"GetVolume", ERROR_NOT_READY, 0},
        {"Reg", ERROR_ACCESS_DENIED, 0},
        {"UuidCreate", RPC_S_UUID_NO_ADDRESS, 0},
    };
    Fault fault;
    fault.function = function;
    fault.error = ERROR_NOT_ENOUGH_MEMORY;
    fault.hresult = IsComCall(function) ? E_OUTOFMEMORY : HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);
    for (const auto &failure : kFailures)
        if (StartsWith(function, failure.prefix)) {
            if (failure.error != 0) {
                fault.error = failure.error;
                fault.hresult = HRESULT_FROM_WIN32(failure.error);
            } else {
                fault.hresult = failure.hresult;
                fault.error = HRESULT_FACILITY(failure.hresult) == FACILITY_WIN32 ? DWORD(HRESULT_CODE(failure.hresult))
                                                                                 : DWORD(failure.hresult);
            }
            break;
        }
    return fault;
}

FaultTable &TheFaults()
{
    static FaultTable *table = new FaultTable;
    return *table;
}

} // namespace

// Set under the table's lock by whatever arms a fault or starts or stops a sweep. Every
// faultable call reads it first, so that the common case of nothing to fail takes neither
// the lock nor a copy of the argument. Constant-initialised: no guard to test.
std::atomic<bool> gFaultsArmed{false};

void InjectFault(const Fault &fault)
{
    FaultTable &table = TheFaults();
    std::lock_guard<std::mutex> guard(table.lock);
    table.faults.push_back(fault);
    Rearm(table);
}

void InjectError(const std::string &function, const std::u16string &argument, DWORD error, bool once)
{
    Fault fault;
    fault.function = function;
    fault.argument = argument;
    fault.error = error;
    fault.hresult = HRESULT_FROM_WIN32(error);
    fault.once = once;
    InjectFault(fault);
}

void InjectHresult(const std::string &function, const std::u16string &argument, HRESULT hresult, bool once)
{
    Fault fault;
    fault.function = function;
    fault.argument = argument;
    fault.hresult = hresult;
    // A Win32 call given an HRESULT fault fails with the code inside a FACILITY_WIN32 one.
    fault.error = HRESULT_FACILITY(hresult) == FACILITY_WIN32 ? DWORD(HRESULT_CODE(hresult)) : DWORD(hresult);
    fault.once = once;
    InjectFault(fault);
}

void ClearFaults()
{
    FaultTable &table = TheFaults();
    std::lock_guard<std::mutex> guard(table.lock);
    table.faults.clear();
    Rearm(table);
}

bool TakeFault(const char *function, const std::u16string &argument, Fault *fault)
{
    FaultTable &table = TheFaults();
    if (!gFaultsArmed.load(std::memory_order_acquire))
        return false;
    std::lock_guard<std::mutex> guard(table.lock);
    if (table.sweeping) {
        ++table.count.calls;
        if (table.failAt == 0)
            table.count.names.push_back(function);
    }
    if (table.sweeping && table.count.calls == table.failAt) {
        const Fault swept = SweepFault(function);
        table.count.failed = function;
        table.count.error = IsComCall(function) ? DWORD(swept.hresult) : swept.error;
        if (fault != NULL)
            *fault = swept;
        return true;
    }
    for (auto at = table.faults.begin(); at != table.faults.end(); ++at) {
        if (at->function != function)
            continue;
        if (!at->argument.empty() && !EqualNoCase(at->argument, argument))
            continue;
        if (fault != NULL)
            *fault = *at;
        if (at->once) {
            table.faults.erase(at);
            Rearm(table);
        }
        return true;
    }
    return false;
}

bool ArmedFaultFor(const char *function, const WCHAR *argument, DWORD &error)
{
    Fault fault;
    if (!TakeFault(function, argument == NULL ? std::u16string() : std::u16string(argument), &fault))
        return false;
    error = fault.error;
    return true;
}

bool ArmedFaultFor(const char *function, HRESULT &hr)
{
    Fault fault;
    if (!TakeFault(function, std::u16string(), &fault))
        return false;
    hr = fault.hresult;
    return true;
}

void StartFaultSweep(size_t failAt)
{
    FaultTable &table = TheFaults();
    std::lock_guard<std::mutex> guard(table.lock);
    table.sweeping = true;
    table.failAt = failAt;
    table.count = FaultSweepCount();
    Rearm(table);
}

FaultSweepCount FaultableCalls()
{
    FaultTable &table = TheFaults();
    std::lock_guard<std::mutex> guard(table.lock);
    return table.count;
}

void StopFaultSweep()
{
    FaultTable &table = TheFaults();
    std::lock_guard<std::mutex> guard(table.lock);
    table.sweeping = false;
    table.failAt = 0;
    Rearm(table);
}

} // namespace winsim
