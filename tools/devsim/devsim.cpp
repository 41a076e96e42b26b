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

std::int64_t StartDelay(const Options& opt)
{
    return static_cast<std::int64_t>(opt.startDelayMs) * kNsPerMs;
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
    if (!openPty(&error) || !openWakeUps(&error) || !makeLink(&error)) {
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
    return true;
}

bool DeviceSimulator::openWakeUps(std::string* err)
{
    // Added after the simulator's own open, so only other opens are seen.
    // Closes are watched too, though nothing acts on them: inotify merges
    // identical events that follow each other unread, so a close and a quick
    // reopen would otherwise count as one open.
    m_inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_inotify < 0 || inotify_add_watch(m_inotify, m_slavePath.c_str(), IN_OPEN | IN_CLOSE) < 0) {
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

// The thread's own state: bytes waiting for the pty and when traffic is due.
struct DeviceSimulator::Loop {
    explicit Loop(const Options& opt)
        : payload(opt.payload, opt.seed), streamLeft(opt.streamBytes), floodLeft(opt.floodBytes)
    {
    }

    // Bytes the pty has not taken yet. Past kFloodChunk nobody is reading.
    std::size_t queued() const { return pending.size() - pendingStart; }

    PayloadSource payload;
    std::string pending;          // bytes waiting for room in the pty
    std::size_t pendingStart = 0;
    std::uint64_t lineNumber = 0;
    std::uint64_t streamLeft;
    std::uint64_t streamed = 0;
    std::uint64_t floodLeft;
    std::uint64_t sentNow = 0;    // written in this round, not yet in the status

    // Deadlines on the monotonic clock in nanoseconds; -1: none.
    std::int64_t beginAt = -1;
    std::int64_t nextLine = -1;
    std::int64_t streamAnchor = -1;
    std::int64_t nextChunk = -1;
    std::int64_t hangUpAt = -1;
    bool begun = false;
    bool hangUp = false;
};

void DeviceSimulator::run()
{
    Loop loop(m_options);
    if (m_options.startOn == StartOn::Now)
        loop.beginAt = MonotonicNow() + StartDelay(m_options);
    for (;;) {
        if (!takeRequests(loop))
            return;
        const std::int64_t now = MonotonicNow();
        beginIfDue(loop, now);
        if (loop.hangUpAt >= 0 && now >= loop.hangUpAt)
            loop.hangUp = true;
        if (loop.hangUp)
            break;
        queueTraffic(loop, now);
        if (!writePending(loop))
            return;
        publish(loop);
        if (!waitAndServe(loop))
            return;
    }
    unplug();
}

// Takes what the owner asked for since the last round; false when asked to stop.
bool DeviceSimulator::takeRequests(Loop& loop)
{
    std::lock_guard lock(m_mutex);
    if (m_stopRequested)
        return false;
    loop.hangUp = loop.hangUp || m_hangUpRequested;
    loop.pending += m_inbox;
    m_inbox.clear();
    return true;
}

void DeviceSimulator::beginIfDue(Loop& loop, std::int64_t now) const
{
    if (loop.begun || loop.beginAt < 0 || now < loop.beginAt)
        return;
    loop.begun = true;
    if (m_options.periodMs > 0)
        loop.nextLine = now;
    if (loop.streamLeft > 0)
        loop.streamAnchor = loop.nextChunk = now;
    if (m_options.hangUpAfterMs >= 0)
        loop.hangUpAt = now + static_cast<std::int64_t>(m_options.hangUpAfterMs) * kNsPerMs;
}

// Queues the periodic line and the stream's next chunk when they are due. When
// nobody reads, a periodic line is lost, as on a line nobody listens to, and a
// stream waits for room instead of piling up in memory.
void DeviceSimulator::queueTraffic(Loop& loop, std::int64_t now) const
{
    const Options& opt = m_options;
    const bool backedUp = loop.queued() >= kFloodChunk;
    if (loop.nextLine >= 0 && now >= loop.nextLine) {
        ++loop.lineNumber;
        if (!backedUp)
            loop.pending += expandLine(opt.line, loop.lineNumber);
        const std::int64_t period = static_cast<std::int64_t>(opt.periodMs) * kNsPerMs;
        loop.nextLine += period;
        if (loop.nextLine <= now)  // fell behind: go on from now, no burst of lines
            loop.nextLine = now + period;
    }
    if (loop.nextChunk < 0 || now < loop.nextChunk || backedUp)
        return;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, loop.streamLeft));
    loop.pending += loop.payload.next(n);
    loop.streamLeft -= n;
    loop.streamed += n;
    if (loop.streamLeft == 0) {
        loop.nextChunk = -1;
        return;
    }
    // Deadlines count from the anchor, so rounding never drifts; after a stall
    // longer than a chunk the anchor moves, so the rate is never exceeded to
    // catch up.
    loop.nextChunk = loop.streamAnchor + BytesToNs(loop.streamed, opt.rateBytesPerSecond);
    if (now - loop.nextChunk > BytesToNs(kChunk, opt.rateBytesPerSecond)) {
        loop.streamAnchor = now - BytesToNs(loop.streamed, opt.rateBytesPerSecond);
        loop.nextChunk = now;
    }
}

// Writes what the pty takes now; the rest waits for POLLOUT. A flood is topped
// up as it drains, until the pty is full or it is all out. False on a failure.
bool DeviceSimulator::writePending(Loop& loop)
{
    loop.sentNow = 0;
    for (;;) {
        if (loop.pendingStart == loop.pending.size()) {
            loop.pending.clear();
            loop.pendingStart = 0;
        } else if (loop.pendingStart >= kFloodChunk) {
            loop.pending.erase(0, loop.pendingStart);
            loop.pendingStart = 0;
        }
        if (loop.begun && loop.floodLeft > 0 && loop.queued() < kFloodChunk) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kFloodChunk, loop.floodLeft));
            loop.pending += loop.payload.next(n);
            loop.floodLeft -= n;
        }
        if (loop.queued() == 0)
            break;
        const ssize_t n = ::write(m_master, loop.pending.data() + loop.pendingStart, loop.queued());
        if (n > 0) {
            loop.pendingStart += static_cast<std::size_t>(n);
            loop.sentNow += static_cast<std::uint64_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            break;
        } else {
            fail(SystemError("writing to the line", n < 0 ? errno : EIO));
            return false;
        }
    }
    return true;
}

void DeviceSimulator::publish(const Loop& loop)
{
    std::lock_guard lock(m_mutex);
    m_status.sent += loop.sentNow;
    m_status.started = loop.begun;
    m_status.trafficDone = loop.begun && loop.streamLeft == 0 && loop.floodLeft == 0 && loop.pending.empty();
    m_changed.notify_all();
}

// Sleeps until the next deadline, a request, an open of the slave, or the
// line, and serves what woke it. False when the simulator must stop.
bool DeviceSimulator::waitAndServe(Loop& loop)
{
    // A stream held back by a full pty is woken by POLLOUT, not the timer.
    const bool streamWaits = loop.queued() >= kFloodChunk;
    std::int64_t deadline = -1;
    for (const std::int64_t at :
         {loop.begun ? -1 : loop.beginAt, loop.nextLine, streamWaits ? -1 : loop.nextChunk, loop.hangUpAt})
        if (at >= 0 && (deadline < 0 || at < deadline))
            deadline = at;
    if (!ArmTimer(m_timer, deadline)) {
        fail(SystemError("timerfd_settime", errno));
        return false;
    }

    const auto lineEvents = static_cast<short>((m_options.stalled ? 0 : POLLIN) | (loop.pending.empty() ? 0 : POLLOUT));
    pollfd fds[4] = {{m_wake, POLLIN, 0}, {m_timer, POLLIN, 0}, {m_inotify, POLLIN, 0}, {m_master, lineEvents, 0}};
    if (::poll(fds, 4, -1) < 0) {
        if (errno == EINTR)
            return true;
        fail(SystemError("poll", errno));
        return false;
    }
    if (fds[0].revents & POLLIN)
        Drain(m_wake);
    if (fds[1].revents & POLLIN)
        Drain(m_timer);
    if (fds[2].revents & POLLIN)
        takeOpens(loop);
    if (fds[3].revents & POLLIN)
        return readLine(loop);
    if (fds[3].revents & (POLLHUP | POLLERR | POLLNVAL)) {
        fail("the line was hung up");
        return false;
    }
    return true;
}

// Counts the opens of the slave that inotify reports; the first may start traffic.
void DeviceSimulator::takeOpens(Loop& loop)
{
    alignas(inotify_event) char events[4096];
    const ssize_t n = ::read(m_inotify, events, sizeof events);
    for (ssize_t at = 0; n > 0 && at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(events + at);
        if (event->mask & IN_OPEN) {
            std::lock_guard lock(m_mutex);
            ++m_status.opens;
            if (m_options.startOn == StartOn::Open && loop.beginAt < 0)
                loop.beginAt = MonotonicNow() + StartDelay(m_options);
        }
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
}

// Takes what the program wrote to the line; false when the line is gone.
bool DeviceSimulator::readLine(Loop& loop)
{
    char buffer[kReadSize];
    const ssize_t n = ::read(m_master, buffer, sizeof buffer);
    if (n <= 0) {
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return true;
        // The simulator holds the slave open, so this is not a reader going
        // away: the line itself is gone.
        fail(n == 0 ? std::string("the line was hung up") : SystemError("reading from the line", errno));
        return false;
    }
    const std::string_view bytes(buffer, static_cast<std::size_t>(n));
    if (m_options.echo)
        loop.pending.append(bytes);
    if (m_options.startOn == StartOn::FirstByte && loop.beginAt < 0)
        loop.beginAt = MonotonicNow() + StartDelay(m_options);
    std::lock_guard lock(m_mutex);
    m_status.received += static_cast<std::uint64_t>(n);
    if (m_options.keepReceived)
        m_receivedBytes.append(bytes);
    m_changed.notify_all();
    return true;
}

// The adapter is pulled out. Its device name goes with it, as a USB adapter's
// does; the freed pty number may soon name another pty.
void DeviceSimulator::unplug()
{
    CloseFd(m_master);
    CloseFd(m_slave);
    removeLink();
    std::lock_guard lock(m_mutex);
    m_status.hungUp = true;
    m_changed.notify_all();
}

} // namespace devsim
