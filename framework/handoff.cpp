// Messages sent across threads and requests answered later: the queue that
// hands them to the GUI thread and the sender's sleep until they are done.
// The contract is in handoff.h.
#include "framework/handoff.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <linux/futex.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>

#include "framework/wndimpl.h"

namespace afx {

namespace {

// The slice's clock: the monotonic clock at the kernel's tick, which costs a
// few instructions to read where the precise one costs a good part of a
// byte's handling. A slice ends within a tick (4 ms at most) of its time.
struct Clock {
    using duration = std::chrono::nanoseconds;
    using time_point = std::chrono::time_point<Clock>;
    static time_point now()
    {
        timespec t{};
        // Cannot fail: the clock exists and t is writable.
        ::clock_gettime(CLOCK_MONOTONIC_COARSE, &t);
        return time_point(std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec));
    }
};

// The longest the GUI thread serves records before its event loop gets a
// turn: well under the time between two frames.
constexpr auto kSlice = std::chrono::milliseconds(8);

// What a sender hands over, on its own stack.
struct Record {
    HWND hwnd = nullptr;
    UINT msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    // A series: count messages (the sender's array); next is the first one
    // not yet delivered.
    const AFX_SERIES_MSG* series = nullptr;
    size_t count = 0;
    size_t next = 0;
    // A request answered later: started on the GUI thread with its ticket.
    const std::function<void(Ticket)>* start = nullptr;
    LRESULT result = 0;
    // 0 until the record is completed; result is written before. The sender
    // sleeps on it as a futex word.
    std::atomic<std::uint32_t> done{0};
};

struct Link {
    std::mutex mutex;
    bool accepting = false;
    // Readable wakes the GUI thread's event loop. Never closed, so that a
    // sender may write to it after letting go of the mutex.
    int wakeFd = -1;
    bool wakePending = false;  // written to wakeFd, the queue not looked at since
    std::deque<Record*> queue;
    std::map<Ticket, Record*> awaiting;
    Ticket lastTicket = 0;
};
// Never destroyed: see handoff.h.
Link& g_link = *new Link;

// Under the link's mutex: the descriptor to write to wake the GUI thread,
// or -1 when a wake is on its way already.
int takeWakeLocked()
{
    if (g_link.wakePending || g_link.wakeFd < 0)
        return -1;
    g_link.wakePending = true;
    return g_link.wakeFd;
}

// Adds 1 to the eventfd's counter (wakes the GUI thread) or takes the
// counter (the wake is taken up). EAGAIN is no failure: a full counter is
// readable already, an empty one was taken up by an earlier activation.
void countWake(int fd, bool add)
{
    std::uint64_t value = 1;
    ssize_t n;
    do {
        n = add ? write(fd, &value, sizeof value) : read(fd, &value, sizeof value);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && errno != EAGAIN)
        qWarning("The window thread's wake-up failed: %s", std::strerror(errno));
}

void wakeGui(int fd)
{
    if (fd >= 0)
        countWake(fd, true);
}

long futex(std::atomic<std::uint32_t>* word, int op, std::uint32_t value)
{
    return syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), op, value, nullptr, nullptr, 0);
}

// The sender may return from now on. A condition variable would have to be
// signalled under the mutex (the sender could otherwise be gone with it), and
// the woken sender would then wait for the mutex: two wake-ups instead of
// one. A futex word can be woken after its owner has gone: the kernel only
// matches the address.
void complete(Record& r)
{
    r.done.store(1, std::memory_order_release);
    futex(&r.done, FUTEX_WAKE_PRIVATE, 1);
}

// A record that will not be served (any more).
void abandon(Record& r)
{
    r.result = r.series ? static_cast<LRESULT>(r.next) : 0;
    complete(r);
}

// Queues r and sleeps until it has been completed.
LRESULT handOver(Record& r)
{
    int fd;
    {
        std::lock_guard lock(g_link.mutex);
        if (!g_link.accepting)
            return 0;
        g_link.queue.push_back(&r);
        fd = takeWakeLocked();
    }
    wakeGui(fd);
    while (r.done.load(std::memory_order_acquire) == 0) {
        // EAGAIN: completed meanwhile; EINTR: a signal. Nothing else can
        // fail on a word of this thread's own stack.
        if (futex(&r.done, FUTEX_WAIT_PRIVATE, 0) < 0 && errno != EAGAIN && errno != EINTR)
            qFatal("Cannot wait for the window thread: %s", std::strerror(errno));
    }
    return r.result;
}

// Dispatches what is left of a message or series, while its window lives.
// False when the slice ran out part-way through a series. A series' result
// is the number of messages delivered.
bool serve(Record& r, Clock::time_point until)
{
    if (!r.series) {
        WndImpl* wnd = lookup(r.hwnd);
        r.result = wnd ? dispatch(wnd, r.msg, r.wParam, r.lParam) : 0;
        return true;
    }
    while (r.next < r.count) {
        // Looked up for each message: a handler may destroy the window.
        WndImpl* wnd = lookup(r.hwnd);
        if (!wnd)
            break;
        const AFX_SERIES_MSG& m = r.series[r.next];
        dispatch(wnd, m.message, m.wParam, m.lParam);
        ++r.next;
        if (r.next < r.count && Clock::now() > until)
            return false;
    }
    r.result = static_cast<LRESULT>(r.next);
    return true;
}

// GUI thread: serves the queue for one slice.
void serveQueue()
{
    const auto until = Clock::now() + kSlice;
    for (;;) {
        Record* r = nullptr;
        Ticket ticket = 0;
        {
            std::lock_guard lock(g_link.mutex);
            // Looked at now: a record queued from here on needs a new wake.
            g_link.wakePending = false;
            if (g_link.queue.empty())
                return;
            r = g_link.queue.front();
            g_link.queue.pop_front();
            if (r->start) {
                ticket = ++g_link.lastTicket;
                g_link.awaiting.emplace(ticket, r);
            }
        }
        if (ticket) {
            // May answer at once: r is not touched again here.
            (*r->start)(ticket);
        } else if (serve(*r, until)) {
            complete(*r);
        } else {
            // The rest goes first once the event loop has had its turn.
            int fd;
            {
                std::lock_guard lock(g_link.mutex);
                g_link.queue.push_front(r);
                fd = takeWakeLocked();
            }
            wakeGui(fd);
            return;
        }
        if (Clock::now() > until) {
            int fd = -1;
            {
                std::lock_guard lock(g_link.mutex);
                if (!g_link.queue.empty())
                    fd = takeWakeLocked();
            }
            wakeGui(fd);
            return;
        }
    }
}

// Lives on the GUI thread as a child of the application object; its end
// closes the link.
class Pump : public QObject {
public:
    explicit Pump(int fd) : QObject(QCoreApplication::instance()), m_notifier(fd, QSocketNotifier::Read)
    {
        QObject::connect(&m_notifier, &QSocketNotifier::activated, this, [fd] {
            countWake(fd, false);
            serveQueue();
        });
    }

    ~Pump() override
    {
        m_notifier.setEnabled(false);
        std::lock_guard lock(g_link.mutex);
        g_link.accepting = false;
        g_link.wakeFd = -1;
        for (Record* r : g_link.queue)
            abandon(*r);
        g_link.queue.clear();
        for (auto& [ticket, r] : g_link.awaiting)
            abandon(*r);
        g_link.awaiting.clear();
    }

private:
    QSocketNotifier m_notifier;
};

}  // namespace

void startHandoff()
{
    const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) {
        qWarning("Cannot make the window thread's wake-up: %s", std::strerror(errno));
        return;
    }
    new Pump(fd);
    {
        std::lock_guard lock(g_link.mutex);
        g_link.wakeFd = fd;
        g_link.accepting = true;
    }
}

LRESULT awaitAnswer(const std::function<void(Ticket)>& start)
{
    Record r{.start = &start};
    return handOver(r);
}

void answer(Ticket ticket, LRESULT value)
{
    std::lock_guard lock(g_link.mutex);
    auto it = g_link.awaiting.find(ticket);
    if (it == g_link.awaiting.end())
        return;
    it->second->result = value;
    complete(*it->second);
    g_link.awaiting.erase(it);
}

void failSentMessagesTo(HWND hwnd)
{
    std::lock_guard lock(g_link.mutex);
    auto& queue = g_link.queue;
    for (auto it = queue.begin(); it != queue.end();) {
        if ((*it)->hwnd == hwnd) {
            abandon(**it);
            it = queue.erase(it);
        } else {
            ++it;
        }
    }
}

void wakeGuiThread()
{
    int fd;
    {
        std::lock_guard lock(g_link.mutex);
        fd = takeWakeLocked();
    }
    wakeGui(fd);
}

}  // namespace afx

using namespace afx;

namespace {
// Kept apart so that the GUI thread's path, taken by every message a
// handler sends, needs no room for a record.
[[gnu::noinline]] LRESULT sendFromOtherThread(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (!isLiveHandle(hWnd))
        return 0;
    Record r{.hwnd = hWnd, .msg = msg, .wParam = wParam, .lParam = lParam};
    return handOver(r);
}
}  // namespace

LRESULT SendMessageA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (!isGuiThread())
        return sendFromOtherThread(hWnd, msg, wParam, lParam);
    WndImpl* wnd = detail::windowInSlot(hWnd);
    return wnd ? dispatch(wnd, msg, wParam, lParam) : 0;
}

LRESULT AfxSendMessageSeries(HWND hWnd, const AFX_SERIES_MSG* msgs, size_t count)
{
    if (count == 0 || !msgs)
        return 0;
    Record r{.hwnd = hWnd, .series = msgs, .count = count};
    if (isGuiThread()) {
        serve(r, Clock::time_point::max());
        return r.result;
    }
    return isLiveHandle(hWnd) ? handOver(r) : 0;
}
