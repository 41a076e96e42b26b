// The table behind HANDLE values: each names a live kernel object, and a
// closed or made-up value is refused instead of followed.
#pragma once

#include <cstdint>
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

// How many handles have left the table so far: while it stays the same, a
// handle found in the table is still there.
std::uint64_t HandleRemovals();

// A thread's memory of the object of the handle it used last, for calls made
// over and over on one handle (a read per received byte): it is asked again
// only after some handle was closed. Holding the object keeps it alive, as
// a lookup's result does; a closed object refuses work itself.
template <class T>
class LastHandle {
public:
    T* Find(HANDLE handle)
    {
        const std::uint64_t removals = HandleRemovals();
        if (handle != m_handle || removals != m_removals || !m_object) {
            m_object = LookupHandleAs<T>(handle);
            m_handle = handle;
            m_removals = removals;
        }
        return m_object.get();
    }

private:
    HANDLE m_handle = nullptr;
    std::uint64_t m_removals = 0;
    std::shared_ptr<T> m_object;
};

} // namespace platform
