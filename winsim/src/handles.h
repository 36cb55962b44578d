// The kernel handle table: every HANDLE that kernel32 hands out (files now; later tasks
// add volumes, devices and events) names a KernelObject here.
#pragma once

#include "internal.h"

#include <memory>

namespace winsim {

class KernelObject {
public:
    virtual ~KernelObject() = default;
};

// A new handle (a multiple of 4, never NULL nor INVALID_HANDLE_VALUE) for the object.
HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
// The object behind a handle, or null when the handle is not open.
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);
template <typename T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle)
{
    return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

} // namespace winsim
