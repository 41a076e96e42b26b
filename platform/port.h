// One open communications device: the terminal descriptor, the input queue
// the layer keeps for it, and the outstanding overlapped operations. The port
// has no thread: the device is read and written, and deadlines are kept, by
// the thread that waits for one of its operations (WaitForMultipleObjects on
// an operation's event, GetOverlappedResult), from that thread's own poll();
// ClearCommError, ReadFile and WaitCommEvent take in what the device holds.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <termios.h>
#include <vector>

#include "platform/commlogic.h"
#include "platform/event.h"
#include "platform/handles.h"
#include "platform/unique_fd.h"
#include "platform/winbase.h"

namespace platform {

class Port final : public KernelObject, public Driver, public std::enable_shared_from_this<Port> {
public:
    // nullptr with the last error set when the device cannot be had.
    static std::shared_ptr<Port> Open(const char* path);
    ~Port() override;
    void Close() override;

    // The calls of winbase.h, for this port; each sets the last error on failure.
    BOOL SetTimeouts(const COMMTIMEOUTS& timeouts);
    BOOL SetMask(DWORD mask);
    BOOL GetMask(LPDWORD mask);
    BOOL GetState(LPDCB dcb);
    BOOL SetState(const DCB& dcb);
    BOOL WaitEvent(LPDWORD events, LPOVERLAPPED ov);
    BOOL ClearError(LPDWORD errors, LPCOMSTAT stat);
    BOOL Read(LPVOID buffer, DWORD length, LPDWORD done, LPOVERLAPPED ov);
    BOOL Write(LPCVOID buffer, DWORD length, LPDWORD done, LPOVERLAPPED ov);
    BOOL Result(LPOVERLAPPED ov, LPDWORD transferred, BOOL wait);
    BOOL Purge(DWORD flags);

    size_t Watch(std::vector<pollfd>& fds, int wake) override;
    void Serve(const pollfd* fds, size_t count, int wake) override;

private:
    using Clock = std::chrono::steady_clock;

    struct PendingWait {
        LPDWORD events;
        LPOVERLAPPED ov;
    };
    struct PendingTransfer {
        BYTE* data;
        DWORD length;
        DWORD done;
        LPOVERLAPPED ov;
        std::optional<Clock::time_point> total;    // the whole operation's limit
        DWORD interval;                            // ms between bytes, 0: none
        std::optional<Clock::time_point> nextByte; // interval limit once a byte came
        bool anyByte;                              // complete as soon as a byte is there
    };

    Port(UniqueFd tty, UniqueFd timer, bool hasLine, const DCB& dcb);
    size_t WatchLocked(std::vector<pollfd>& fds, int wake);
    void ServeLocked(const pollfd* fds, size_t count, int wake);
    // Takes in what the device holds, as far as the queue has room.
    void TakeIn();
    void ReadDevice(short revents);
    void ContinueWrite();
    void ExpireDeadlines();
    void ArmTimer();
    // The descriptors to wait for changed: threads in poll() for this port,
    // other than the calling one, look again.
    void WakeWaiters();
    // An operation went pending: its event, once set, is this port's doing.
    void Pending(LPOVERLAPPED ov);
    void FeedPendingRead();
    void RaiseEvents(const CommSnapshot& before);
    void MarkGone(DWORD error);
    // Ends an outstanding operation: takes it out of its slot, then completes.
    void Finish(std::optional<PendingTransfer>& slot, DWORD error);
    void FinishWait(DWORD error, DWORD events);
    void Complete(LPOVERLAPPED ov, DWORD error, DWORD count);
    CommSnapshot Snapshot() const;
    BOOL Usable() const;
    // Takes queued bytes, the read-ahead's first, and fills the read-ahead
    // again for the reads that follow.
    size_t Pop(BYTE* out, size_t count);
    size_t PopRing(BYTE* out, size_t count);
    // The read-ahead (any thread, with the lock or without): takes up to
    // `count` of its bytes (with `whole`, `count` or none); how many it holds.
    size_t TakeAhead(BYTE* out, size_t count, bool whole);
    size_t AheadCount() const;
    // With the lock: moves the ring's first bytes into an empty read-ahead;
    // drops what it holds (a purge, the close).
    void RefillAhead();
    void DiscardAhead();
    // A read that the read-ahead can serve at once, without the lock.
    bool ReadAhead(BYTE* data, DWORD length, LPDWORD done, LPOVERLAPPED ov);
    // A system call on the device failed with `error` (errno).
    BOOL DeviceFailed(int error);

    static constexpr size_t kQueueSize = 64 * 1024;

    std::mutex m_mutex;
    UniqueFd m_tty;
    UniqueFd m_timer;
    const bool m_hasLine;
    // The wake-up descriptors of the threads now in poll() for this port.
    std::vector<int> m_waiters;
    bool m_closing = false;
    bool m_gone = false;
    DWORD m_goneError = ERROR_DEVICE_NOT_CONNECTED;

    // The input queue, a ring.
    std::vector<BYTE> m_ring;
    size_t m_head = 0;
    size_t m_size = 0;

    // The queue's first bytes, moved out of the ring a few hundred at a time
    // under the lock and handed out without it: a reader that reads a flood
    // one byte per call takes no lock per byte. Its state packs a generation
    // (counted up by every refill and discard, so that a reader that saw an
    // older state fails to take from it) with the range [head, end) of the
    // bytes still held. Readers take by compare-and-swap; only a holder of
    // the lock refills (when it is empty) or discards. The bytes are atomics
    // because a reader may look at them while a refill writes them; it then
    // fails to take them.
    static constexpr size_t kAheadSize = 256;
    std::atomic<std::uint64_t> m_aheadState{0};
    std::atomic<BYTE> m_ahead[kAheadSize] = {};

    CommSnapshot m_seen;
    DWORD m_mask = 0;
    DWORD m_history = 0; // events since the last wait, waiting for the next
    DCB m_dcb;           // what was last set, for what the device cannot hold
    COMMTIMEOUTS m_timeouts{};
    std::optional<PendingWait> m_wait;
    std::optional<PendingTransfer> m_read;
    std::optional<PendingTransfer> m_write;
    std::optional<Clock::time_point> m_armed;
};

} // namespace platform
