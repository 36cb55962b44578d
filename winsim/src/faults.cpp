// Injected faults: the calls of the simulated host that tests make fail on purpose.
#include "internal.h"

#include <list>
#include <mutex>

namespace winsim {

namespace {

struct FaultTable {
    std::mutex lock;
    std::list<Fault> faults;
};

FaultTable &TheFaults()
{
    static FaultTable *table = new FaultTable;
    return *table;
}

} // namespace

void InjectFault(const Fault &fault)
{
    FaultTable &table = TheFaults();
    std::lock_guard<std::mutex> guard(table.lock);
    table.faults.push_back(fault);
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
}

bool TakeFault(const char *function, const std::u16string &argument, Fault *fault)
{
    FaultTable &table = TheFaults();
    std::lock_guard<std::mutex> guard(table.lock);
    for (auto at = table.faults.begin(); at != table.faults.end(); ++at) {
        if (at->function != function)
            continue;
        if (!at->argument.empty() && !EqualNoCase(at->argument, argument))
            continue;
        if (fault != NULL)
            *fault = *at;
        if (at->once)
            table.faults.erase(at);
        return true;
    }
    return false;
}

} // namespace winsim
