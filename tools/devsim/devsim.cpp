#include "tools/devsim/devsim.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <system_error>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <termios.h>
#include <unistd.h>

namespace devsim {

namespace {

constexpr std::size_t kChunk = 16;         // a stream goes out in UART-FIFO-sized pieces
constexpr std::size_t kFloodChunk = 4096;  // a flood keeps this much queued ahead
constexpr std::size_t kReadSize = 4096;
constexpr std::int64_t kNsPerSecond = 1000000000;
constexpr std::int64_t kNsPerMs = 1000000;

std::string SystemError(const char* what, int error)
{
    return std::string(what) + ": " + std::strerror(error);
}

std::int64_t MonotonicNow()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * kNsPerSecond + ts.tv_nsec;
}

// Nanoseconds that count bytes take at rate bytes per second, without
// overflowing for long streams.
std::int64_t BytesToNs(std::uint64_t count, std::uint64_t rate)
{
    const std::uint64_t seconds = count / rate;
    const std::uint64_t rest = count % rate;
    return static_cast<std::int64_t>(seconds) * kNsPerSecond +
           static_cast<std::int64_t>(rest * kNsPerSecond / rate);
}

void CloseFd(int& fd)
{
    if (fd >= 0) {
        // Linux releases the descriptor even when close reports EINTR, so
        // it is not retried.
        ::close(fd);
        fd = -1;
    }
}

// Wakes the simulator's thread; the counter's value does not matter.
void Signal(int eventFd)
{
    const std::uint64_t one = 1;
    while (::write(eventFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

// Empties a non-blocking eventfd or timerfd.
void Drain(int fd)
{
    std::uint64_t value;
    while (::read(fd, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

bool ArmTimer(int timerFd, std::int64_t deadline)
{
    itimerspec spec{};
    if (deadline >= 0) {
        // A deadline already past fires at once; 0 would disarm instead.
        const std::int64_t at = std::max<std::int64_t>(deadline, 1);
        spec.it_value.tv_sec = static_cast<time_t>(at / kNsPerSecond);
        spec.it_value.tv_nsec = static_cast<long>(at % kNsPerSecond);
    }
    return timerfd_settime(timerFd, TFD_TIMER_ABSTIME, &spec, nullptr) == 0;
}

} // namespace

PayloadSource::PayloadSource(Payload kind, std::uint32_t seed) : m_kind(kind), m_random(seed) {}

std::string PayloadSource::next(std::size_t count)
{
    std::string out;
    out.reserve(count);
    switch (m_kind) {
    case Payload::Pattern:
        for (std::size_t i = 0; i < count; ++i)
            out += static_cast<char>((m_position + i) & 0xFF);
        break;
    case Payload::Random:
        for (std::size_t i = 0; i < count; ++i)
            out += static_cast<char>(m_random() & 0xFF);
        break;
    case Payload::Text:
        while (out.size() < count) {
            if (m_lineOffset == m_line.size()) {
                char line[80];
                std::snprintf(line, sizeof line, "line %llu the quick brown fox jumps over the lazy dog\r\n",
                              static_cast<unsigned long long>(++m_lineNumber));
                m_line = line;
                m_lineOffset = 0;
            }
            const std::size_t take = std::min(count - out.size(), m_line.size() - m_lineOffset);
            out.append(m_line, m_lineOffset, take);
            m_lineOffset += take;
        }
        break;
    }
    m_position += count;
    return out;
}

std::string expandLine(std::string_view pattern, std::uint64_t number)
{
    std::string line(pattern);
    const std::string digits = std::to_string(number);
    for (std::size_t at = line.find("{n}"); at != std::string::npos; at = line.find("{n}", at + digits.size()))
        line.replace(at, 3, digits);
    return line + "\r\n";
}

DeviceSimulator::~DeviceSimulator()
{
    stop();
}

bool DeviceSimulator::start(const Options& options, std::string* err)
{
    std::string ignored;
    std::string& error = err ? *err : ignored;
    if (m_thread.joinable() || m_master >= 0) {
        error = "the simulator is already running";
        return false;
    }
    if (options.streamBytes > 0 && options.floodBytes > 0) {
        error = "a stream and a flood cannot run together";
        return false;
    }
    if (options.streamBytes > 0 && options.rateBytesPerSecond == 0) {
        error = "a stream needs a rate above 0 bytes per second";
        return false;
    }
    m_options = options;
    {
        std::lock_guard lock(m_mutex);
        m_status = Status{};
        m_receivedBytes.clear();
        m_inbox.clear();
        m_hangUpRequested = false;
        m_stopRequested = false;
    }
    if (!openPty(&error) || !makeLink(&error)) {
        closePty();
        return false;
    }
    try {
        m_thread = std::thread(&DeviceSimulator::run, this);
    } catch (const std::system_error& e) {
        error = std::string("cannot start the simulator thread: ") + e.what();
        closePty();
        removeLink();
        return false;
    }
    return true;
}

bool DeviceSimulator::openPty(std::string* err)
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0) {
        *err = SystemError("posix_openpt", errno);
        return false;
    }
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        *err = SystemError("granting the pty", errno);
        return false;
    }
    const int flags = fcntl(m_master, F_GETFL);
    if (flags < 0 || fcntl(m_master, F_SETFL, flags | O_NONBLOCK) < 0) {
        *err = SystemError("making the pty master non-blocking", errno);
        return false;
    }
    char name[128];
    if (const int rc = ptsname_r(m_master, name, sizeof name); rc != 0) {
        *err = SystemError("ptsname_r", rc);
        return false;
    }
    m_slavePath = name;

    do {
        m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    } while (m_slave < 0 && errno == EINTR);
    if (m_slave < 0) {
        *err = SystemError("opening the pty slave", errno);
        return false;
    }
    termios tio{};
    if (tcgetattr(m_slave, &tio) != 0) {
        *err = SystemError("reading the slave's line settings", errno);
        return false;
    }
    cfmakeraw(&tio);
    if (tcsetattr(m_slave, TCSANOW, &tio) != 0) {
        *err = SystemError("setting the slave raw", errno);
        return false;
    }

    // Added after the simulator's own open, so only other opens are seen.
    // Closes are watched too, though nothing acts on them: inotify merges
    // identical events that follow each other unread, so a close and a quick
    // reopen would otherwise count as one open.
    m_inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_inotify < 0 || inotify_add_watch(m_inotify, name, IN_OPEN | IN_CLOSE) < 0) {
        *err = SystemError("watching the slave for opens", errno);
        return false;
    }
    m_timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_timer < 0) {
        *err = SystemError("timerfd_create", errno);
        return false;
    }
    m_wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wake < 0) {
        *err = SystemError("eventfd", errno);
        return false;
    }
    return true;
}

bool DeviceSimulator::makeLink(std::string* err)
{
    const std::string& link = m_options.linkPath;
    if (link.empty())
        return true;
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        *err = link + " exists and is not a symbolic link";
        return false;
    }
    // A new link under a temporary name, then renamed over any old one, so
    // the name never points nowhere while it is replaced.
    const std::string temporary = link + ".devsim-" + std::to_string(::getpid()) + "-" +
                                  m_slavePath.substr(m_slavePath.find_last_of('/') + 1);
    ::unlink(temporary.c_str());
    if (::symlink(m_slavePath.c_str(), temporary.c_str()) != 0) {
        *err = SystemError(("linking " + temporary).c_str(), errno);
        return false;
    }
    if (::rename(temporary.c_str(), link.c_str()) != 0) {
        *err = SystemError(("renaming the link to " + link).c_str(), errno);
        ::unlink(temporary.c_str());
        return false;
    }
    m_linkMade = true;
    return true;
}

void DeviceSimulator::closePty()
{
    CloseFd(m_master);
    CloseFd(m_slave);
    CloseFd(m_inotify);
    CloseFd(m_timer);
    CloseFd(m_wake);
}

void DeviceSimulator::stop()
{
    if (m_thread.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_stopRequested = true;
        }
        Signal(m_wake);
        m_thread.join();
    }
    closePty();
    removeLink();
}

void DeviceSimulator::removeLink()
{
    if (!m_linkMade)
        return;
    // Only a link that still names this simulator's slave is removed.
    char target[256];
    const ssize_t n = ::readlink(m_options.linkPath.c_str(), target, sizeof target - 1);
    if (n >= 0 && std::string_view(target, static_cast<std::size_t>(n)) == m_slavePath)
        ::unlink(m_options.linkPath.c_str());
    m_linkMade = false;
}

void DeviceSimulator::send(std::string_view bytes)
{
    {
        std::lock_guard lock(m_mutex);
        m_inbox.append(bytes);
    }
    if (m_wake >= 0)
        Signal(m_wake);
}

void DeviceSimulator::hangUp()
{
    {
        std::lock_guard lock(m_mutex);
        m_hangUpRequested = true;
    }
    if (m_wake >= 0)
        Signal(m_wake);
}

std::uint64_t DeviceSimulator::received() const
{
    std::lock_guard lock(m_mutex);
    return m_status.received;
}

std::string DeviceSimulator::receivedBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_receivedBytes;
}

Status DeviceSimulator::status() const
{
    std::lock_guard lock(m_mutex);
    return m_status;
}

bool DeviceSimulator::waitFor(const std::function<bool(const Status&)>& condition,
                              std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return condition(m_status); });
}

void DeviceSimulator::fail(const std::string& what)
{
    std::lock_guard lock(m_mutex);
    m_status.error = what;
    m_changed.notify_all();
}

void DeviceSimulator::run()
{
    const Options& opt = m_options;
    PayloadSource payload(opt.payload, opt.seed);
    std::string pending;          // bytes waiting for room in the pty
    std::size_t pendingStart = 0;
    std::uint64_t lineNumber = 0;
    std::uint64_t streamLeft = opt.streamBytes;
    std::uint64_t streamed = 0;
    std::uint64_t floodLeft = opt.floodBytes;

    // Deadlines on the monotonic clock in nanoseconds; -1: none.
    std::int64_t beginAt = -1;
    std::int64_t nextLine = -1;
    std::int64_t streamAnchor = -1;
    std::int64_t nextChunk = -1;
    std::int64_t hangUpAt = -1;
    const std::int64_t delay = static_cast<std::int64_t>(opt.startDelayMs) * kNsPerMs;
    if (opt.startOn == StartOn::Now)
        beginAt = MonotonicNow() + delay;

    bool begun = false;
    bool hangUpNow = false;
    for (;;) {
        std::uint64_t sentNow = 0;
        {
            std::lock_guard lock(m_mutex);
            if (m_stopRequested)
                return;
            hangUpNow = hangUpNow || m_hangUpRequested;
            pending += m_inbox;
            m_inbox.clear();
        }

        const std::int64_t now = MonotonicNow();
        if (!begun && beginAt >= 0 && now >= beginAt) {
            begun = true;
            if (opt.periodMs > 0)
                nextLine = now;
            if (streamLeft > 0)
                streamAnchor = nextChunk = now;
            if (opt.hangUpAfterMs >= 0)
                hangUpAt = now + static_cast<std::int64_t>(opt.hangUpAfterMs) * kNsPerMs;
        }
        if (hangUpAt >= 0 && now >= hangUpAt)
            hangUpNow = true;
        if (hangUpNow)
            break;
        // Bytes the pty has not taken yet. Past kFloodChunk nobody is reading:
        // a periodic line is then lost, as on a line nobody listens to, and a
        // stream waits for room instead of piling up in memory.
        const bool backedUp = pending.size() - pendingStart >= kFloodChunk;
        if (nextLine >= 0 && now >= nextLine) {
            ++lineNumber;
            if (!backedUp)
                pending += expandLine(opt.line, lineNumber);
            const std::int64_t period = static_cast<std::int64_t>(opt.periodMs) * kNsPerMs;
            nextLine += period;
            if (nextLine <= now)  // fell behind: go on from now, no burst of lines
                nextLine = now + period;
        }
        if (nextChunk >= 0 && now >= nextChunk && !backedUp) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, streamLeft));
            pending += payload.next(n);
            streamLeft -= n;
            streamed += n;
            if (streamLeft == 0) {
                nextChunk = -1;
            } else {
                // Deadlines count from the anchor, so rounding never drifts;
                // after a stall longer than a chunk the anchor moves, so the
                // rate is never exceeded to catch up.
                nextChunk = streamAnchor + BytesToNs(streamed, opt.rateBytesPerSecond);
                if (now - nextChunk > BytesToNs(kChunk, opt.rateBytesPerSecond)) {
                    streamAnchor = now - BytesToNs(streamed, opt.rateBytesPerSecond);
                    nextChunk = now;
                }
            }
        }

        // Write what the pty takes now; the rest waits for POLLOUT. A flood
        // is topped up as it drains, until the pty is full or it is all out.
        for (;;) {
            if (pendingStart == pending.size()) {
                pending.clear();
                pendingStart = 0;
            } else if (pendingStart >= kFloodChunk) {
                pending.erase(0, pendingStart);
                pendingStart = 0;
            }
            if (begun && floodLeft > 0 && pending.size() - pendingStart < kFloodChunk) {
                const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kFloodChunk, floodLeft));
                pending += payload.next(n);
                floodLeft -= n;
            }
            if (pendingStart == pending.size())
                break;
            const ssize_t n = ::write(m_master, pending.data() + pendingStart, pending.size() - pendingStart);
            if (n > 0) {
                pendingStart += static_cast<std::size_t>(n);
                sentNow += static_cast<std::uint64_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && errno == EAGAIN) {
                break;
            } else {
                fail(SystemError("writing to the line", n < 0 ? errno : EIO));
                return;
            }
        }
        if (pendingStart == pending.size()) {
            pending.clear();
            pendingStart = 0;
        }

        {
            std::lock_guard lock(m_mutex);
            m_status.sent += sentNow;
            m_status.started = begun;
            m_status.trafficDone = begun && streamLeft == 0 && floodLeft == 0 && pending.empty();
            m_changed.notify_all();
        }

        // A stream held back by a full pty is woken by POLLOUT, not the timer.
        const bool streamWaits = pending.size() - pendingStart >= kFloodChunk;
        std::int64_t deadline = -1;
        for (const std::int64_t at : {begun ? -1 : beginAt, nextLine, streamWaits ? -1 : nextChunk, hangUpAt})
            if (at >= 0 && (deadline < 0 || at < deadline))
                deadline = at;
        if (!ArmTimer(m_timer, deadline)) {
            fail(SystemError("timerfd_settime", errno));
            return;
        }

        pollfd fds[4] = {
            {m_wake, POLLIN, 0},
            {m_timer, POLLIN, 0},
            {m_inotify, POLLIN, 0},
            {m_master, static_cast<short>((opt.stalled ? 0 : POLLIN) | (pending.empty() ? 0 : POLLOUT)), 0},
        };
        if (::poll(fds, 4, -1) < 0) {
            if (errno == EINTR)
                continue;
            fail(SystemError("poll", errno));
            return;
        }
        if (fds[0].revents & POLLIN)
            Drain(m_wake);
        if (fds[1].revents & POLLIN)
            Drain(m_timer);
        if (fds[2].revents & POLLIN) {
            alignas(inotify_event) char events[4096];
            const ssize_t n = ::read(m_inotify, events, sizeof events);
            for (ssize_t at = 0; n > 0 && at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                if (event->mask & IN_OPEN) {
                    std::lock_guard lock(m_mutex);
                    ++m_status.opens;
                    if (opt.startOn == StartOn::Open && beginAt < 0)
                        beginAt = MonotonicNow() + delay;
                }
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        if (fds[3].revents & POLLIN) {
            char buffer[kReadSize];
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n > 0) {
                const std::string_view bytes(buffer, static_cast<std::size_t>(n));
                if (opt.echo)
                    pending.append(bytes);
                if (opt.startOn == StartOn::FirstByte && beginAt < 0)
                    beginAt = MonotonicNow() + delay;
                std::lock_guard lock(m_mutex);
                m_status.received += static_cast<std::uint64_t>(n);
                if (opt.keepReceived)
                    m_receivedBytes.append(bytes);
                m_changed.notify_all();
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                // The simulator holds the slave open, so this is not a reader
                // going away: the line itself is gone.
                fail(n == 0 ? std::string("the line was hung up") : SystemError("reading from the line", errno));
                return;
            }
        } else if (fds[3].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            fail("the line was hung up");
            return;
        }
    }

    // Hang-up: the adapter is pulled out. Its device name goes with it, as
    // a USB adapter's does; the freed pty number may soon name another pty.
    CloseFd(m_master);
    CloseFd(m_slave);
    removeLink();
    std::lock_guard lock(m_mutex);
    m_status.hungUp = true;
    m_changed.notify_all();
}

} // namespace devsim
