#include "platform/handles.h"

#include <atomic>
#include <mutex>
#include <unordered_map>

#include "platform/errors.h"
#include "platform/winbase.h"

namespace platform {
namespace {

std::mutex g_mutex;
std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> g_objects;
// Multiples of four from 0x100, as Windows hands them out; never 0 and never
// INVALID_HANDLE_VALUE.
std::uintptr_t g_next = 0x100;
// Counted up, under the mutex, before an object leaves the table: whoever
// sees the old count saw the object still in it.
std::atomic<std::uint64_t> g_removals{0};

} // namespace

HANDLE InsertHandle(std::shared_ptr<KernelObject> object)
{
    std::lock_guard lock(g_mutex);
    const std::uintptr_t value = g_next;
    g_next += 4;
    g_objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle)
{
    std::lock_guard lock(g_mutex);
    auto it = g_objects.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == g_objects.end() ? nullptr : it->second;
}

std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle)
{
    std::shared_ptr<KernelObject> object;
    std::lock_guard lock(g_mutex);
    auto it = g_objects.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it != g_objects.end()) {
        g_removals.fetch_add(1, std::memory_order_release);
        object = std::move(it->second);
        g_objects.erase(it);
    }
    return object;
}

std::uint64_t HandleRemovals()
{
    return g_removals.load(std::memory_order_acquire);
}

} // namespace platform

BOOL CloseHandle(HANDLE hObject)
{
    std::shared_ptr<platform::KernelObject> object = platform::RemoveHandle(hObject);
    if (!object)
        return platform::Fail(ERROR_INVALID_HANDLE);
    object->Close();
    return TRUE;
}
