// kernel32: the handle table and CloseHandle.
#include "handles.h"

#include <mutex>
#include <unordered_map>

namespace winsim {

namespace {

struct HandleTable {
    std::mutex lock;
    std::unordered_map<ULONG_PTR, std::shared_ptr<KernelObject>> objects;
    ULONG_PTR next = 0x100;
};

HandleTable &TheTable()
{
    static HandleTable *table = new HandleTable;
    return *table;
}

// GetCurrentProcess() and GetCurrentThread(): closing them is allowed and does nothing.
const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(LONG_PTR(-1));
const HANDLE kCurrentThread = reinterpret_cast<HANDLE>(LONG_PTR(-2));

} // namespace

HANDLE InsertHandle(std::shared_ptr<KernelObject> object)
{
    HandleTable &table = TheTable();
    std::lock_guard<std::mutex> guard(table.lock);
    const ULONG_PTR value = table.next;
    table.next += 4;
    table.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle)
{
    HandleTable &table = TheTable();
    std::lock_guard<std::mutex> guard(table.lock);
    auto found = table.objects.find(reinterpret_cast<ULONG_PTR>(handle));
    return found == table.objects.end() ? nullptr : found->second;
}

size_t OpenHandleCount()
{
    HandleTable &table = TheTable();
    std::lock_guard<std::mutex> guard(table.lock);
    return table.objects.size();
}

} // namespace winsim

EXTERN_C BOOL WINAPI CloseHandle(HANDLE hObject)
{
    if (hObject == winsim::kCurrentProcess || hObject == winsim::kCurrentThread)
        return TRUE;
    std::shared_ptr<winsim::KernelObject> closing;
    {
        winsim::HandleTable &table = winsim::TheTable();
        std::lock_guard<std::mutex> guard(table.lock);
        auto found = table.objects.find(reinterpret_cast<ULONG_PTR>(hObject));
        if (found == table.objects.end())
            return winsim::Fail(ERROR_INVALID_HANDLE, FALSE);
        closing = std::move(found->second);
        table.objects.erase(found);
    }
    return TRUE;  // the object goes when the last call using it returns
}
