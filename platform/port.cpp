#include "platform/port.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/timerfd.h>
#include <thread>

#include "platform/errors.h"
#include "platform/event.h"
#include "platform/faults.h"

namespace platform {
namespace {

int OpenRetrying(const char* path)
{
    for (;;) {
        const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0 || errno != EINTR)
            return fd;
    }
}

int SetAttrRetrying(int fd, const termios& t)
{
    for (;;) {
        const int result = ::tcsetattr(fd, TCSANOW, &t);
        if (result == 0 || errno != EINTR)
            return result;
    }
}

} // namespace

std::shared_ptr<Port> Port::Open(const char* path)
{
    UniqueFd tty(OpenRetrying(path));
    if (!tty) {
        FailWithErrno(errno);
        return nullptr;
    }
    termios current;
    if (::tcgetattr(tty.get(), &current) != 0) {
        FailWithErrno(errno);
        return nullptr;
    }
    // Exclusive, as a Windows port is: flock stops a second open by us or any
    // program that locks, even as root; TIOCEXCL stops those that do not lock
    // (except root's).
    int locked;
    while ((locked = ::flock(tty.get(), LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (locked != 0) {
        // Held by another open: EBUSY is the reason to tell (a lock that
        // would block says "try again" otherwise).
        FailWithErrno(errno == EWOULDBLOCK ? EBUSY : errno);
        return nullptr;
    }
    if (::ioctl(tty.get(), TIOCEXCL) != 0) {
        FailWithErrno(errno);
        return nullptr;
    }
    // A device without modem lines has no line at all (a pseudo-terminal).
    int lines;
    bool hasLine = true;
    if (::ioctl(tty.get(), TIOCMGET, &lines) != 0) {
        if (errno != ENOTTY && errno != EINVAL) {
            FailWithErrno(errno);
            return nullptr;
        }
        hasLine = false;
    }
    // A port carries raw bytes from the start: a terminal left in canonical
    // mode would otherwise hold input back, or read an end-of-file character
    // as a hang-up.
    DCB dcb = InitialDcb(current);
    termios raw;
    if (const DWORD error = TermiosFromDcb(dcb, hasLine, current, &raw)) {
        Fail(error);
        return nullptr;
    }
    if (SetAttrRetrying(tty.get(), raw) != 0 || ::tcgetattr(tty.get(), &current) != 0) {
        FailWithErrno(errno);
        return nullptr;
    }
    DcbFromTermios(current, hasLine, &dcb);

    UniqueFd timer(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC));
    if (!timer) {
        FailWithErrno(errno);
        return nullptr;
    }
    return std::shared_ptr<Port>(new Port(std::move(tty), std::move(timer), hasLine, dcb));
}

Port::Port(UniqueFd tty, UniqueFd timer, bool hasLine, const DCB& dcb)
    : m_tty(std::move(tty)), m_timer(std::move(timer)), m_hasLine(hasLine), m_ring(kQueueSize), m_dcb(dcb)
{
}

Port::~Port()
{
    Close();
}

void Port::Close()
{
    UniqueFd tty;
    DWORD drainMs = 0;
    {
        std::lock_guard lock(m_mutex);
        if (m_closing)
            return;
        m_closing = true;
        const bool writeAborted = m_write.has_value();
        if (m_wait)
            FinishWait(ERROR_OPERATION_ABORTED, 0);
        if (m_read)
            Finish(m_read, ERROR_OPERATION_ABORTED);
        if (m_write)
            Finish(m_write, ERROR_OPERATION_ABORTED);
        DiscardAhead();
        // A thread in poll() holds the device open until it returns: send it
        // back, so that the line is let go now. From here on the descriptor
        // is this call's alone: every other use of it looks at m_closing.
        WakeWaiters();
        tty = std::move(m_tty);
        // Output of completed writes may still be in the driver's buffer (a
        // UART's completed write is only handed over): it gets the time the
        // line needs for it, bounded. An aborted write says the device may
        // not be taking output: its rest goes at once, with what is queued.
        int queued = 0;
        termios t;
        if (tty && !writeAborted && !m_gone && ::ioctl(tty.get(), TIOCOUTQ, &queued) == 0 && queued > 0
            && ::tcgetattr(tty.get(), &t) == 0)
            drainMs = CloseDrainMs(t, static_cast<std::uint64_t>(queued));
    }
    if (!tty)
        return;
    if (drainMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(drainMs));
    // What the device has still not taken goes, as an aborted write's rest
    // went: close() would otherwise wait for a device that does not read (up
    // to the driver's closing wait, half a minute on a UART) before it lets go
    // of the line. Exclusivity outlives the descriptor on some terminals; give
    // it back. The device may be gone, so failure of either is expected and
    // harmless. The descriptor's end releases the flock too.
    ::tcflush(tty.get(), TCOFLUSH);
    ::ioctl(tty.get(), TIOCNXCL);
}

size_t Port::Watch(std::vector<pollfd>& fds, int wake)
{
    std::lock_guard lock(m_mutex);
    return WatchLocked(fds, wake);
}

size_t Port::WatchLocked(std::vector<pollfd>& fds, int wake)
{
    if (m_closing)
        return 0;
    m_waiters.push_back(wake);
    const size_t before = fds.size();
    if (m_armed)
        fds.push_back(pollfd{m_timer.get(), POLLIN, 0});
    // A descriptor with nothing asked of it is left out altogether: a
    // hung-up terminal would otherwise report POLLHUP on every call. With the
    // queue full the device is not read until the queue has room, so the
    // kernel (and behind it the sender) holds back.
    short ttyEvents = 0;
    if (!m_gone) {
        if (m_size < kQueueSize)
            ttyEvents |= POLLIN;
        if (m_write)
            ttyEvents |= POLLOUT;
    }
    if (ttyEvents)
        fds.push_back(pollfd{m_tty.get(), ttyEvents, 0});
    return fds.size() - before;
}

void Port::Serve(const pollfd* fds, size_t count, int wake)
{
    std::lock_guard lock(m_mutex);
    ServeLocked(fds, count, wake);
}

void Port::ServeLocked(const pollfd* fds, size_t count, int wake)
{
    if (auto it = std::find(m_waiters.begin(), m_waiters.end(), wake); it != m_waiters.end())
        m_waiters.erase(it);
    // Once closing, the numbers may already name other descriptors.
    if (m_closing)
        return;
    bool woke = false;
    for (size_t i = 0; i < count; ++i) {
        const pollfd& fd = fds[i];
        if (!fd.revents)
            continue;
        woke = true;
        if (fd.fd == m_timer.get()) {
            std::uint64_t expirations;
            while (::read(m_timer.get(), &expirations, sizeof expirations) < 0 && errno == EINTR) {
            }
            m_armed.reset();
            ExpireDeadlines();
        } else if (fd.fd == m_tty.get() && !m_gone) {
            ReadDevice(fd.revents);
            if ((fd.revents & POLLOUT) && m_write && !m_gone)
                ContinueWrite();
        }
    }
    if (woke) {
        faults::CountPortWakeup();
        ArmTimer();
    }
}

void Port::TakeIn()
{
    if (m_closing || m_gone || m_size == kQueueSize)
        return;
    ReadDevice(POLLIN);
    ArmTimer(); // a pending read may have a byte, and so a new deadline
}

void Port::ReadDevice(short revents)
{
    if (!(revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)))
        return;
    const CommSnapshot before = Snapshot();
    std::optional<DWORD> gone;
    while (m_size < kQueueSize) {
        const size_t tail = (m_head + m_size) % kQueueSize;
        const size_t room = std::min(kQueueSize - m_size, kQueueSize - tail);
        const ssize_t n = ::read(m_tty.get(), &m_ring[tail], room);
        if (n > 0) {
            m_size += static_cast<size_t>(n);
            m_seen.received += static_cast<std::uint64_t>(n);
            m_seen.flagChars += static_cast<std::uint64_t>(
                std::count(m_ring.begin() + tail, m_ring.begin() + tail + n, static_cast<BYTE>(m_dcb.EvtChar)));
            if (static_cast<size_t>(n) < room)
                break; // the device had no more
            continue;
        }
        if (n == 0) {
            gone = ERROR_DEVICE_NOT_CONNECTED; // hang-up: the other end is gone
            break;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN) {
            if (revents & (POLLHUP | POLLERR | POLLNVAL))
                gone = ERROR_DEVICE_NOT_CONNECTED;
            break;
        }
        gone = ErrorFromErrno(errno);
        break;
    }
    FeedPendingRead();
    RaiseEvents(before);
    if (gone)
        MarkGone(*gone);
}

void Port::ContinueWrite()
{
    PendingTransfer& w = *m_write;
    while (w.done < w.length) {
        const ssize_t n = ::write(m_tty.get(), w.data + w.done, w.length - w.done);
        if (n > 0) {
            w.done += static_cast<DWORD>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return;
        const DWORD error = n < 0 ? ErrorFromErrno(errno) : ERROR_GEN_FAILURE;
        if (error == ERROR_DEVICE_NOT_CONNECTED)
            MarkGone(error); // completes the write as well
        else
            Finish(m_write, error);
        return;
    }
    Finish(m_write, ERROR_SUCCESS);
}

void Port::ExpireDeadlines()
{
    const Clock::time_point now = Clock::now();
    auto due = [now](const std::optional<Clock::time_point>& t) { return t && *t <= now; };
    // A timed-out transfer succeeds with what it moved, as on Windows.
    if (m_read && (due(m_read->total) || due(m_read->nextByte)))
        Finish(m_read, ERROR_SUCCESS);
    if (m_write && due(m_write->total))
        Finish(m_write, ERROR_SUCCESS);
}

void Port::ArmTimer()
{
    std::optional<Clock::time_point> next;
    auto consider = [&next](const std::optional<Clock::time_point>& t) {
        if (t && (!next || *t < *next))
            next = t;
    };
    if (m_read) {
        consider(m_read->total);
        consider(m_read->nextByte);
    }
    if (m_write)
        consider(m_write->total);
    if (next == m_armed)
        return;
    itimerspec spec{};
    if (next) {
        // steady_clock is CLOCK_MONOTONIC. Zero would disarm the timer, so a
        // time at or before the clock's start becomes its first nanosecond.
        long long since = std::chrono::duration_cast<std::chrono::nanoseconds>(next->time_since_epoch()).count();
        since = std::max(since, 1LL);
        spec.it_value.tv_sec = static_cast<time_t>(since / 1000000000);
        spec.it_value.tv_nsec = static_cast<long>(since % 1000000000);
    }
    if (::timerfd_settime(m_timer.get(), TFD_TIMER_ABSTIME, &spec, nullptr) == 0)
        m_armed = next;
    else
        MarkGone(ErrorFromErrno(errno)); // deadlines could no longer be kept
}

void Port::WakeWaiters()
{
    if (m_waiters.empty())
        return;
    const int self = ThreadWakeFd();
    const std::uint64_t one = 1;
    for (const int wake : m_waiters) {
        if (wake == self)
            continue;
        // EAGAIN means the counter is full, so that thread is due to wake anyway.
        while (::write(wake, &one, sizeof one) < 0 && errno == EINTR) {
        }
    }
}

void Port::Pending(LPOVERLAPPED ov)
{
    PrepareEventHandle(ov->hEvent, weak_from_this());
}

void Port::FeedPendingRead()
{
    const size_t queued = m_size + AheadCount();
    if (!m_read || queued == 0)
        return;
    PendingTransfer& r = *m_read;
    r.done += static_cast<DWORD>(Pop(r.data + r.done, std::min<size_t>(queued, r.length - r.done)));
    if (r.done == r.length || r.anyByte) {
        Finish(m_read, ERROR_SUCCESS);
        return;
    }
    if (r.interval)
        r.nextByte = Clock::now() + std::chrono::milliseconds(r.interval);
}

void Port::RaiseEvents(const CommSnapshot& before)
{
    m_history |= CommEventsBetween(before, Snapshot(), m_mask);
    if (m_wait && m_history)
        FinishWait(ERROR_SUCCESS, std::exchange(m_history, 0));
}

void Port::MarkGone(DWORD error)
{
    if (m_gone)
        return;
    const CommSnapshot before = Snapshot();
    m_gone = true;
    m_goneError = error;
    m_seen.errors |= CE_IOE;
    RaiseEvents(before);
    // What is still outstanding cannot finish any more.
    if (m_wait)
        FinishWait(error, 0);
    if (m_read)
        Finish(m_read, m_read->done ? ERROR_SUCCESS : error);
    if (m_write)
        Finish(m_write, error);
}

void Port::Finish(std::optional<PendingTransfer>& slot, DWORD error)
{
    const PendingTransfer transfer = *slot;
    slot.reset();
    Complete(transfer.ov, error, transfer.done);
}

void Port::FinishWait(DWORD error, DWORD events)
{
    const PendingWait wait = *m_wait;
    m_wait.reset();
    *wait.events = events;
    Complete(wait.ov, error, error == ERROR_SUCCESS ? sizeof(DWORD) : 0);
}

void Port::Complete(LPOVERLAPPED ov, DWORD error, DWORD count)
{
    ov->InternalHigh = count;
    ov->Internal = error;
    SignalEventHandle(ov->hEvent);
    // A thread in GetOverlappedResult may wait for it with no event.
    WakeWaiters();
}

CommSnapshot Port::Snapshot() const
{
    return m_seen;
}

BOOL Port::Usable() const
{
    if (m_closing)
        return Fail(ERROR_INVALID_HANDLE);
    if (m_gone)
        return Fail(m_goneError);
    return TRUE;
}

namespace {

// The read-ahead's state word: generation, head and end.
constexpr std::uint64_t AheadState(std::uint32_t generation, std::uint32_t head, std::uint32_t end)
{
    return static_cast<std::uint64_t>(generation) << 32 | head << 16 | end;
}
constexpr std::uint32_t AheadGeneration(std::uint64_t state) { return static_cast<std::uint32_t>(state >> 32); }
constexpr std::uint32_t AheadHead(std::uint64_t state) { return static_cast<std::uint32_t>(state >> 16) & 0xFFFF; }
constexpr std::uint32_t AheadEnd(std::uint64_t state) { return static_cast<std::uint32_t>(state) & 0xFFFF; }

} // namespace

size_t Port::TakeAhead(BYTE* out, size_t count, bool whole)
{
    std::uint64_t state = m_aheadState.load(std::memory_order_acquire);
    for (;;) {
        const std::uint32_t head = AheadHead(state);
        const size_t held = AheadEnd(state) - head;
        const size_t n = std::min(count, held);
        if (n == 0 || (whole && n < count))
            return 0;
        for (size_t i = 0; i < n; ++i)
            out[i] = m_ahead[head + i].load(std::memory_order_relaxed);
        const std::uint64_t taken =
            AheadState(AheadGeneration(state), head + static_cast<std::uint32_t>(n), AheadEnd(state));
        // Failing means another reader took bytes, or a refill or discard
        // came: look again.
        if (m_aheadState.compare_exchange_weak(state, taken, std::memory_order_acq_rel, std::memory_order_acquire))
            return n;
    }
}

size_t Port::AheadCount() const
{
    const std::uint64_t state = m_aheadState.load(std::memory_order_acquire);
    return AheadEnd(state) - AheadHead(state);
}

void Port::RefillAhead()
{
    // Readers without the lock only take, and an empty read-ahead gives them
    // nothing to take: the state changes under this lock alone now.
    const std::uint64_t state = m_aheadState.load(std::memory_order_acquire);
    if (m_size == 0 || AheadHead(state) != AheadEnd(state))
        return;
    BYTE bytes[kAheadSize];
    const size_t n = PopRing(bytes, kAheadSize);
    for (size_t i = 0; i < n; ++i)
        m_ahead[i].store(bytes[i], std::memory_order_relaxed);
    m_aheadState.store(AheadState(AheadGeneration(state) + 1, 0, static_cast<std::uint32_t>(n)),
                       std::memory_order_release);
}

void Port::DiscardAhead()
{
    // A reader that took bytes before this read them before the discard.
    const std::uint64_t state = m_aheadState.load(std::memory_order_acquire);
    m_aheadState.store(AheadState(AheadGeneration(state) + 1, 0, 0), std::memory_order_release);
}

size_t Port::Pop(BYTE* out, size_t count)
{
    size_t got = TakeAhead(out, count, false);
    got += PopRing(out + got, count - got);
    RefillAhead();
    return got;
}

size_t Port::PopRing(BYTE* out, size_t count)
{
    count = std::min(count, m_size);
    const size_t first = std::min(count, kQueueSize - m_head);
    std::memcpy(out, &m_ring[m_head], first);
    std::memcpy(out + first, &m_ring[0], count - first);
    // A full queue was not read from the device; now it may be.
    if (m_size == kQueueSize && count > 0)
        WakeWaiters();
    m_head = (m_head + count) % kQueueSize;
    m_size -= count;
    return count;
}

bool Port::ReadAhead(BYTE* data, DWORD length, LPDWORD done, LPOVERLAPPED ov)
{
    // All of it or nothing: a read the read-ahead cannot fill goes the way
    // that takes the lock. Copied out here first, so that the caller's
    // buffer gets only bytes that were taken.
    BYTE taken[kAheadSize];
    if (length == 0 || length > kAheadSize || TakeAhead(taken, length, true) != length)
        return false;
    std::memcpy(data, taken, length);
    if (done)
        *done = length;
    ov->InternalHigh = length;
    ov->Internal = ERROR_SUCCESS;
    // Completed at once: no thread waits for this operation.
    SignalEventHandle(ov->hEvent);
    return true;
}

BOOL Port::DeviceFailed(int error)
{
    const DWORD code = ErrorFromErrno(error);
    if (code == ERROR_DEVICE_NOT_CONNECTED)
        MarkGone(code);
    return Fail(code);
}

BOOL Port::SetTimeouts(const COMMTIMEOUTS& timeouts)
{
    if (timeouts.ReadIntervalTimeout == MAXDWORD && timeouts.ReadTotalTimeoutMultiplier == MAXDWORD
        && timeouts.ReadTotalTimeoutConstant == MAXDWORD)
        return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard lock(m_mutex);
    if (!Usable())
        return FALSE;
    m_timeouts = timeouts;
    return TRUE;
}

BOOL Port::SetMask(DWORD mask)
{
    if (mask & ~DWORD{0x1FFF})
        return Fail(ERROR_INVALID_PARAMETER);
    if (mask & ~kSupportedEvents)
        return Fail(ERROR_NOT_SUPPORTED);
    std::lock_guard lock(m_mutex);
    if (!Usable())
        return FALSE;
    m_mask = mask;
    m_history = 0;
    if (m_wait)
        FinishWait(ERROR_SUCCESS, 0);
    return TRUE;
}

BOOL Port::GetMask(LPDWORD mask)
{
    if (!mask)
        return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard lock(m_mutex);
    // Still answered once the device is gone, so that what was queued before
    // can be read out.
    if (m_closing)
        return Fail(ERROR_INVALID_HANDLE);
    *mask = m_mask;
    return TRUE;
}

BOOL Port::GetState(LPDCB dcb)
{
    if (!dcb)
        return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard lock(m_mutex);
    if (!Usable())
        return FALSE;
    termios t;
    if (::tcgetattr(m_tty.get(), &t) != 0)
        return DeviceFailed(errno);
    *dcb = m_dcb;
    DcbFromTermios(t, m_hasLine, dcb);
    return TRUE;
}

BOOL Port::SetState(const DCB& dcb)
{
    std::lock_guard lock(m_mutex);
    if (!Usable())
        return FALSE;
    termios before;
    if (::tcgetattr(m_tty.get(), &before) != 0)
        return DeviceFailed(errno);
    termios wanted;
    if (const DWORD error = TermiosFromDcb(dcb, m_hasLine, before, &wanted))
        return Fail(error);
    int linesBefore = 0;
    if (m_hasLine && ::ioctl(m_tty.get(), TIOCMGET, &linesBefore) != 0)
        return DeviceFailed(errno);

    // One tcsetattr for the whole setting, then read back: Linux reports
    // success when any part of a setting took.
    termios got;
    if (SetAttrRetrying(m_tty.get(), wanted) != 0 || ::tcgetattr(m_tty.get(), &got) != 0) {
        const int error = errno;
        SetAttrRetrying(m_tty.get(), before);
        return DeviceFailed(error);
    }
    if (!HoldsSettings(wanted, got)) {
        SetAttrRetrying(m_tty.get(), before);
        return Fail(ERROR_NOT_SUPPORTED);
    }
    if (m_hasLine) {
        int raise, drop;
        ModemLinesFromDcb(dcb, &raise, &drop);
        if ((raise && ::ioctl(m_tty.get(), TIOCMBIS, &raise) != 0)
            || (drop && ::ioctl(m_tty.get(), TIOCMBIC, &drop) != 0)) {
            const int error = errno;
            ::ioctl(m_tty.get(), TIOCMSET, &linesBefore);
            SetAttrRetrying(m_tty.get(), before);
            return DeviceFailed(error);
        }
    }
    m_dcb = dcb;
    return TRUE;
}

BOOL Port::WaitEvent(LPDWORD events, LPOVERLAPPED ov)
{
    if (!events || !ov)
        return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard lock(m_mutex);
    if (m_closing)
        return Fail(ERROR_INVALID_HANDLE);
    // Checked before the OVERLAPPED is touched: it may be the outstanding
    // wait's own.
    if (m_wait || m_mask == 0)
        return Fail(ERROR_INVALID_PARAMETER);
    ov->InternalHigh = 0;
    TakeIn();
    if (m_history) {
        *events = std::exchange(m_history, 0);
        Complete(ov, ERROR_SUCCESS, sizeof(DWORD));
        return TRUE;
    }
    if (m_gone) {
        ResetEventHandle(ov->hEvent);
        ov->Internal = m_goneError;
        return Fail(m_goneError);
    }
    Pending(ov);
    ov->Internal = STATUS_PENDING;
    *events = 0;
    m_wait = PendingWait{events, ov};
    return Fail(ERROR_IO_PENDING);
}

BOOL Port::ClearError(LPDWORD errors, LPCOMSTAT stat)
{
    std::lock_guard lock(m_mutex);
    // Answered once the device is gone too: the queue may still hold bytes.
    if (m_closing)
        return Fail(ERROR_INVALID_HANDLE);
    TakeIn();
    if (errors)
        *errors = std::exchange(m_seen.errors, 0);
    if (stat) {
        *stat = COMSTAT{};
        stat->cbInQue = static_cast<DWORD>(m_size + AheadCount());
        stat->cbOutQue = m_write ? m_write->length - m_write->done : 0;
    }
    return TRUE;
}

BOOL Port::Read(LPVOID buffer, DWORD length, LPDWORD done, LPOVERLAPPED ov)
{
    if (!ov || (!buffer && length))
        return Fail(ERROR_INVALID_PARAMETER);
    if (ReadAhead(static_cast<BYTE*>(buffer), length, done, ov))
        return TRUE;
    std::lock_guard lock(m_mutex);
    if (m_closing)
        return Fail(ERROR_INVALID_HANDLE);
    if (m_read)
        return Fail(ERROR_BUSY);
    BYTE* data = static_cast<BYTE*>(buffer);
    if (m_size + AheadCount() < length)
        TakeIn();
    const DWORD got = static_cast<DWORD>(Pop(data, length));
    const COMMTIMEOUTS& t = m_timeouts;
    const bool atOnce = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0
        && t.ReadTotalTimeoutConstant == 0;
    const bool anyByte = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD
        && t.ReadTotalTimeoutConstant > 0 && t.ReadTotalTimeoutConstant < MAXDWORD;
    if (got == length || atOnce || (anyByte && got > 0) || (m_gone && got > 0)) {
        if (done)
            *done = got;
        Complete(ov, ERROR_SUCCESS, got);
        return TRUE;
    }
    if (m_gone) {
        ResetEventHandle(ov->hEvent);
        ov->Internal = m_goneError;
        ov->InternalHigh = 0;
        return Fail(m_goneError);
    }
    Pending(ov);
    PendingTransfer r{data, length, got, ov, std::nullopt, 0, std::nullopt, anyByte};
    const Clock::time_point now = Clock::now();
    const std::uint64_t totalMs = anyByte ? t.ReadTotalTimeoutConstant
                                          : std::uint64_t{t.ReadTotalTimeoutMultiplier} * length
            + t.ReadTotalTimeoutConstant;
    if (totalMs)
        r.total = now + std::chrono::milliseconds(totalMs);
    if (!anyByte && t.ReadIntervalTimeout != MAXDWORD)
        r.interval = t.ReadIntervalTimeout;
    if (r.interval && got)
        r.nextByte = now + std::chrono::milliseconds(r.interval);
    ov->Internal = STATUS_PENDING;
    ov->InternalHigh = 0;
    m_read = r;
    if (done)
        *done = 0;
    ArmTimer();
    WakeWaiters();
    return Fail(ERROR_IO_PENDING);
}

BOOL Port::Write(LPCVOID buffer, DWORD length, LPDWORD done, LPOVERLAPPED ov)
{
    if (!ov || (!buffer && length))
        return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard lock(m_mutex);
    if (m_closing)
        return Fail(ERROR_INVALID_HANDLE);
    if (m_write)
        return Fail(ERROR_BUSY);
    if (!Usable())
        return FALSE;
    // The buffer stays the caller's until the write completes, as on Windows.
    const BYTE* data = static_cast<const BYTE*>(buffer);
    DWORD written = 0;
    while (written < length) {
        const ssize_t n = ::write(m_tty.get(), data + written, length - written);
        if (n > 0) {
            written += static_cast<DWORD>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            break;
        } else {
            const int error = n < 0 ? errno : EIO;
            ResetEventHandle(ov->hEvent);
            ov->Internal = ErrorFromErrno(error);
            ov->InternalHigh = written;
            return DeviceFailed(error);
        }
    }
    if (written == length) {
        if (done)
            *done = written;
        Complete(ov, ERROR_SUCCESS, written);
        return TRUE;
    }
    Pending(ov);
    const std::uint64_t totalMs = std::uint64_t{m_timeouts.WriteTotalTimeoutMultiplier} * length
        + m_timeouts.WriteTotalTimeoutConstant;
    PendingTransfer w{const_cast<BYTE*>(data), length, written, ov, std::nullopt, 0, std::nullopt, false};
    if (totalMs)
        w.total = Clock::now() + std::chrono::milliseconds(totalMs);
    ov->Internal = STATUS_PENDING;
    ov->InternalHigh = 0;
    m_write = w;
    if (done)
        *done = 0;
    ArmTimer();
    WakeWaiters(); // a thread in poll() watches for room on the device
    return Fail(ERROR_IO_PENDING);
}

BOOL Port::Result(LPOVERLAPPED ov, LPDWORD transferred, BOOL wait)
{
    if (!ov)
        return Fail(ERROR_INVALID_PARAMETER);
    std::unique_lock lock(m_mutex);
    if (ov->Internal == STATUS_PENDING) {
        // This thread does the port's work until the operation is done; a
        // look without waiting does the work that is ready now, once.
        const int wake = ThreadWakeFd();
        if (wake < 0)
            return FailWithErrno(errno);
        std::vector<pollfd> fds;
        while (ov->Internal == STATUS_PENDING) {
            fds.assign(1, pollfd{wake, POLLIN, 0});
            const size_t count = WatchLocked(fds, wake);
            lock.unlock();
            const int ready = ::poll(fds.data(), fds.size(), wait ? -1 : 0);
            const int error = errno;
            lock.lock();
            ServeLocked(fds.data() + 1, count, wake);
            if (ready < 0 && error != EINTR)
                return FailWithErrno(error);
            if (ready > 0 && (fds[0].revents & POLLIN))
                DrainWakeFd(wake);
            if (!wait)
                break;
        }
    }
    if (ov->Internal == STATUS_PENDING)
        return Fail(ERROR_IO_INCOMPLETE);
    if (transferred)
        *transferred = static_cast<DWORD>(ov->InternalHigh);
    if (ov->Internal != ERROR_SUCCESS)
        return Fail(static_cast<DWORD>(ov->Internal));
    return TRUE;
}

BOOL Port::Purge(DWORD flags)
{
    if (flags & ~DWORD{PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR})
        return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard lock(m_mutex);
    if (!Usable())
        return FALSE;
    // The device's buffers first: it is the part that can fail, and a failure
    // leaves the queue and the outstanding transfers as they were.
    const bool in = flags & PURGE_RXCLEAR;
    const bool out = flags & PURGE_TXCLEAR;
    if ((in || out) && ::tcflush(m_tty.get(), in && out ? TCIOFLUSH : in ? TCIFLUSH : TCOFLUSH) != 0)
        return DeviceFailed(errno);
    if ((flags & PURGE_TXABORT) && m_write)
        Finish(m_write, ERROR_OPERATION_ABORTED);
    if ((flags & PURGE_RXABORT) && m_read)
        Finish(m_read, ERROR_OPERATION_ABORTED);
    if (in) {
        // A full queue was not read from the device; now it may be.
        if (m_size == kQueueSize)
            WakeWaiters();
        m_head = m_size = 0;
        DiscardAhead();
    }
    ArmTimer();
    return TRUE;
}

} // namespace platform
