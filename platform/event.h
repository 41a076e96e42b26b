// A Windows event over an eventfd: readable exactly while the event is
// signalled, so that waits are plain poll() calls and any number of events,
// and the ports' own descriptors, can share one wait.
#pragma once

#include <memory>
#include <mutex>

#include "platform/handles.h"
#include "platform/unique_fd.h"

namespace platform {

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

private:
    Event(UniqueFd fd, bool manualReset) : m_fd(std::move(fd)), m_manualReset(manualReset) {}

    // The flag and the descriptor's counter change together under the lock,
    // so a descriptor is readable exactly while the flag is set.
    std::mutex m_mutex;
    bool m_signalled = false;
    UniqueFd m_fd;
    const bool m_manualReset;
};

// Sets the event named by a handle, for completions of overlapped operations;
// a null or stale handle is ignored, as a completion has no caller to tell.
void SignalEventHandle(HANDLE handle);
void ResetEventHandle(HANDLE handle);

} // namespace platform
