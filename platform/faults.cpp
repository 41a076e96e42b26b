#include "platform/faults.h"

#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include "platform/errors.h"

namespace platform::faults {
namespace {

struct Planned {
    DWORD error;
    int times;
};

std::mutex g_mutex;
std::map<std::string, Planned, std::less<>> g_planned;
// Lets the calls skip the lock on every byte while no test injects anything.
std::atomic<bool> g_any{false};
std::atomic<std::uint64_t> g_wakeups{0};

} // namespace

void Inject(const char* call, DWORD error, int times)
{
    std::lock_guard lock(g_mutex);
    if (times == 0)
        g_planned.erase(std::string(call));
    else
        g_planned[call] = Planned{error, times};
    g_any = !g_planned.empty();
}

void ClearAll()
{
    std::lock_guard lock(g_mutex);
    g_planned.clear();
    g_any = false;
}

bool Due(const char* call)
{
    if (!g_any.load(std::memory_order_relaxed))
        return false;
    std::lock_guard lock(g_mutex);
    auto it = g_planned.find(call);
    if (it == g_planned.end())
        return false;
    const DWORD error = it->second.error;
    if (it->second.times > 0 && --it->second.times == 0) {
        g_planned.erase(it);
        g_any = !g_planned.empty();
    }
    platform::Fail(error);
    return true;
}

std::uint64_t PortWakeups()
{
    return g_wakeups.load();
}

void CountPortWakeup()
{
    g_wakeups.fetch_add(1, std::memory_order_relaxed);
}

} // namespace platform::faults
