// Events, waits and critical sections.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <vector>

#include "platform/errors.h"
#include "platform/event.h"
#include "platform/faults.h"
#include "platform/winbase.h"

namespace platform {

std::shared_ptr<Event> Event::Create(bool manualReset, bool initialState)
{
    UniqueFd fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!fd) {
        FailWithErrno(errno);
        return nullptr;
    }
    std::shared_ptr<Event> event(new Event(std::move(fd), manualReset));
    if (initialState && !event->Set())
        return nullptr;
    return event;
}

bool Event::Set()
{
    // Set again, as every completion of a read that completes at once sets
    // its event: nothing to do, and no lock to take for it.
    if (m_signalled.load(std::memory_order_acquire))
        return true;
    std::lock_guard lock(m_mutex);
    if (m_signalled)
        return true;
    const std::uint64_t one = 1;
    for (;;) {
        if (::write(m_fd.get(), &one, sizeof one) == sizeof one)
            break;
        if (errno != EINTR)
            return FailWithErrno(errno);
    }
    m_signalled = true;
    return true;
}

bool Event::Reset()
{
    std::lock_guard lock(m_mutex);
    if (!m_signalled)
        return true;
    std::uint64_t count;
    for (;;) {
        if (::read(m_fd.get(), &count, sizeof count) == sizeof count || errno == EAGAIN)
            break;
        if (errno != EINTR)
            return FailWithErrno(errno);
    }
    m_signalled = false;
    return true;
}

bool Event::IsSignalled()
{
    std::lock_guard lock(m_mutex);
    return m_signalled;
}

bool Event::TryConsume()
{
    std::lock_guard lock(m_mutex);
    if (!m_signalled)
        return false;
    std::uint64_t count;
    while (::read(m_fd.get(), &count, sizeof count) != sizeof count && errno == EINTR) {
    }
    m_signalled = false;
    return true;
}

void Event::SetDriver(std::weak_ptr<Driver> driver)
{
    std::lock_guard lock(m_mutex);
    m_driver = std::move(driver);
}

std::shared_ptr<Driver> Event::driver()
{
    std::lock_guard lock(m_mutex);
    return m_driver.lock();
}

int ThreadWakeFd()
{
    thread_local UniqueFd wake;
    if (!wake)
        wake.reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    return wake.get();
}

void DrainWakeFd(int fd)
{
    std::uint64_t count;
    while (::read(fd, &count, sizeof count) < 0 && errno == EINTR) {
    }
}

void SignalEventHandle(HANDLE handle)
{
    // A reader's completions name the same event over and over.
    thread_local LastHandle<Event> t_event;
    if (Event* event = t_event.Find(handle))
        event->Set();
}

void ResetEventHandle(HANDLE handle)
{
    if (auto event = LookupHandleAs<Event>(handle))
        event->Reset();
}

void PrepareEventHandle(HANDLE handle, std::weak_ptr<Driver> driver)
{
    if (auto event = LookupHandleAs<Event>(handle)) {
        event->Reset();
        event->SetDriver(std::move(driver));
    }
}

} // namespace platform

using platform::Event;
using platform::Fail;

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                    LPCSTR lpName)
{
    if (platform::faults::Due("CreateEventA"))
        return nullptr;
    // Security attributes and names only matter between processes.
    if (lpEventAttributes || lpName) {
        Fail(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    std::shared_ptr<Event> event = Event::Create(bManualReset, bInitialState);
    if (!event)
        return nullptr;
    return platform::InsertHandle(std::move(event));
}

BOOL SetEvent(HANDLE hEvent)
{
    if (platform::faults::Due("SetEvent"))
        return FALSE;
    auto event = platform::LookupHandleAs<Event>(hEvent);
    if (!event)
        return Fail(ERROR_INVALID_HANDLE);
    return event->Set();
}

BOOL ResetEvent(HANDLE hEvent)
{
    auto event = platform::LookupHandleAs<Event>(hEvent);
    if (!event)
        return Fail(ERROR_INVALID_HANDLE);
    return event->Reset();
}

namespace {

using EventRefs = std::vector<std::shared_ptr<Event>>;
using DriverRefs = std::vector<std::shared_ptr<platform::Driver>>;

// The index of the first signalled event, consuming an auto-reset one;
// WAIT_TIMEOUT when none is.
DWORD FirstSignalled(const EventRefs& events)
{
    for (size_t i = 0; i < events.size(); ++i)
        if (events[i]->manualReset() ? events[i]->IsSignalled() : events[i]->TryConsume())
            return WAIT_OBJECT_0 + static_cast<DWORD>(i);
    return WAIT_TIMEOUT;
}

// The drivers whose operations will set these events, each once.
DriverRefs DriversOf(const EventRefs& events)
{
    DriverRefs drivers;
    for (const auto& event : events)
        if (auto driver = event->driver(); driver && std::find(drivers.begin(), drivers.end(), driver) == drivers.end())
            drivers.push_back(std::move(driver));
    return drivers;
}

// Sleeps in poll() on the events, the thread's wake descriptor (wake >= 0)
// and what the drivers watch, doing the drivers' work after each pass, until
// an event is signalled or the time is up.
DWORD PollUntilSignalled(const EventRefs& events, const DriverRefs& drivers, int wake, DWORD dwMilliseconds)
{
    using Clock = std::chrono::steady_clock;
    const bool forever = dwMilliseconds == INFINITE;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : dwMilliseconds);
    std::vector<pollfd> fds;
    std::vector<size_t> watched(drivers.size());
    for (;;) {
        fds.clear();
        for (const auto& event : events)
            fds.push_back(pollfd{event->fd(), POLLIN, 0});
        if (wake >= 0)
            fds.push_back(pollfd{wake, POLLIN, 0});
        for (size_t k = 0; k < drivers.size(); ++k)
            watched[k] = drivers[k]->Watch(fds, wake);
        int timeout = -1;
        if (!forever) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            timeout = left > 0 ? static_cast<int>(left) : 0;
        }
        const int ready = ::poll(fds.data(), fds.size(), timeout);
        const int error = errno;
        for (size_t k = 0, at = events.size() + (wake >= 0); k < drivers.size(); at += watched[k++])
            drivers[k]->Serve(fds.data() + at, watched[k], wake);
        if (ready < 0) {
            if (error == EINTR)
                continue;
            platform::FailWithErrno(error);
            return WAIT_FAILED;
        }
        if (wake >= 0 && (fds[events.size()].revents & POLLIN))
            platform::DrainWakeFd(wake);
        // A reset can come between poll() and here; the event decides.
        if (const DWORD result = FirstSignalled(events); result != WAIT_TIMEOUT)
            return result;
        // A pass that could not wait any longer is the last.
        if (ready == 0 || timeout == 0)
            return WAIT_TIMEOUT;
    }
}

} // namespace

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds)
{
    if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || !lpHandles) {
        Fail(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    if (bWaitAll) {
        Fail(ERROR_NOT_SUPPORTED);
        return WAIT_FAILED;
    }
    // The references keep each event (and driver) alive for the wait even if
    // another thread closes its handle meanwhile.
    EventRefs events(nCount);
    for (DWORD i = 0; i < nCount; ++i) {
        events[i] = platform::LookupHandleAs<Event>(lpHandles[i]);
        if (!events[i]) {
            Fail(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
    }

    // An event already signalled needs no system call: a zero-time wait is
    // how a worker asks "stop?" between two small pieces of work.
    if (const DWORD ready = FirstSignalled(events); ready != WAIT_TIMEOUT)
        return ready;

    // The drivers whose operations will set these events do their work from
    // this wait, on this thread. A zero-time wait too does the work that is
    // ready, in one poll() that does not block: an operation the device could
    // complete by now completes, as it would on its own on Windows.
    const DriverRefs drivers = DriversOf(events);
    if (drivers.empty() && dwMilliseconds == 0)
        return WAIT_TIMEOUT;
    const int wake = drivers.empty() ? -1 : platform::ThreadWakeFd();
    if (!drivers.empty() && wake < 0) {
        platform::FailWithErrno(errno);
        return WAIT_FAILED;
    }
    return PollUntilSignalled(events, drivers, wake, dwMilliseconds);
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    return WaitForMultipleObjects(1, &hHandle, FALSE, dwMilliseconds);
}

// A recursive pthread mutex: a Windows critical section may be taken again by
// its holder. Initialising and taking a mutex of this kind cannot fail on
// Linux other than by misuse, and these calls have no way to report it.
void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&lpCriticalSection->Mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    pthread_mutex_lock(&lpCriticalSection->Mutex);
}

void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    pthread_mutex_unlock(&lpCriticalSection->Mutex);
}

void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    pthread_mutex_destroy(&lpCriticalSection->Mutex);
}
