// A Windows event over an eventfd: readable exactly while the event is
// signalled, so that waits are plain poll() calls and any number of events,
// and the ports' own descriptors, can share one wait.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <poll.h>
#include <vector>

#include "platform/handles.h"
#include "platform/unique_fd.h"

namespace platform {

// What completes overlapped operations by setting their events: a port. It
// has no thread of its own; a thread that waits for one of its events (or in
// GetOverlappedResult) does its work from that thread's own poll(), so a
// completion wakes the waiting thread alone.
class Driver {
public:
    virtual ~Driver() = default;
    // Appends the descriptors the driver's outstanding work waits for and
    // returns how many; `wake` (the waiting thread's, see ThreadWakeFd) is
    // written when that set changes while the thread is in poll().
    virtual size_t Watch(std::vector<pollfd>& fds, int wake) = 0;
    // After poll(): does the work the returned events of those descriptors
    // ask for, completing operations. Called once for every Watch.
    virtual void Serve(const pollfd* fds, size_t count, int wake) = 0;
};

// The calling thread's wake-up descriptor for the waits above (an eventfd,
// made on first use and closed when the thread ends); -1 with errno set when
// none can be made.
int ThreadWakeFd();
// Empties a wake-up descriptor that poll() found readable.
void DrainWakeFd(int fd);

class Event final : public KernelObject {
public:
    // nullptr with the last error set when no descriptor can be had.
    static std::shared_ptr<Event> Create(bool manualReset, bool initialState);

    bool Set();
    bool Reset();
    bool IsSignalled();
    // Auto-reset events: takes the signal if it is still there.
    bool TryConsume();

    bool manualReset() const { return m_manualReset; }
    int fd() const { return m_fd.get(); }

    // The driver whose operation will set this event, as the operation's
    // start names it; nullptr when there is none or it is gone.
    void SetDriver(std::weak_ptr<Driver> driver);
    std::shared_ptr<Driver> driver();

private:
    Event(UniqueFd fd, bool manualReset) : m_fd(std::move(fd)), m_manualReset(manualReset) {}

    // The flag and the descriptor's counter change together under the lock,
    // so a descriptor is readable exactly while the flag is set; the flag is
    // read without it where a set flag means there is nothing to do.
    std::mutex m_mutex;
    std::atomic<bool> m_signalled{false};
    std::weak_ptr<Driver> m_driver;
    UniqueFd m_fd;
    const bool m_manualReset;
};

// Sets the event named by a handle, for completions of overlapped operations;
// a null or stale handle is ignored, as a completion has no caller to tell.
void SignalEventHandle(HANDLE handle);
void ResetEventHandle(HANDLE handle);
// Resets the event an operation going pending will set, and names its driver.
void PrepareEventHandle(HANDLE handle, std::weak_ptr<Driver> driver);

} // namespace platform
