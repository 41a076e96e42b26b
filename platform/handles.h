// The table behind HANDLE values: each names a live kernel object, and a
// closed or made-up value is refused instead of followed.
#pragma once

#include <memory>

#include "platform/wintypes.h"

namespace platform {

class KernelObject {
public:
    virtual ~KernelObject() = default;
    // Called by CloseHandle once the handle is out of the table.
    virtual void Close() {}
};

// Numbers are never reused, so a stale handle cannot reach a newer object.
HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);
// The object leaves the table; the caller holds the last reference the table
// had, so that the object is destroyed outside the table's lock.
std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle);

template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle)
{
    return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

} // namespace platform
