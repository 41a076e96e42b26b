// Messages sent across threads, requests answered later, and the wait that
// keeps the GUI thread serving them. The contract is in handoff.h.
#include "framework/handoff.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QSocketNotifier>
#include <QWidget>
#include <QWindow>

#include <linux/futex.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "framework/wndimpl.h"

namespace afx {

namespace {

using Clock = std::chrono::steady_clock;

// The longest the GUI thread serves records before its event loop gets a
// turn: well under the time between two frames.
constexpr auto kSlice = std::chrono::milliseconds(8);

// What a sender hands over, on its own stack.
struct Record {
    HWND hwnd = nullptr;
    UINT msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    // A series: count messages with these wParams (the sender's array); next
    // is the first one not yet delivered.
    const WPARAM* wParams = nullptr;
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
    unsigned long waitGeneration = 0;  // AfxWakeWaiters calls so far
    std::condition_variable waiters;
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
    r.result = r.wParams ? static_cast<LRESULT>(r.next) : 0;
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
    if (!r.wParams) {
        WndImpl* wnd = lookup(r.hwnd);
        r.result = wnd ? dispatch(wnd, r.msg, r.wParam, r.lParam) : 0;
        return true;
    }
    while (r.next < r.count) {
        // Looked up for each message: a handler may destroy the window.
        WndImpl* wnd = lookup(r.hwnd);
        if (!wnd)
            break;
        dispatch(wnd, r.msg, r.wParams[r.next], r.lParam);
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

// --- The serving wait ------------------------------------------------------

int g_guiWaitDepth = 0;  // GUI thread only, as everything below

// Holds back user input to every window but the message boxes while the GUI
// thread waits; the events are delivered in order when the wait ends.
class InputHold : public QObject {
public:
    std::set<const QWidget*> boxes;
    std::vector<std::pair<QPointer<QObject>, QEvent*>> held;

    static bool isInput(QEvent::Type t)
    {
        switch (t) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::InputMethod:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::Close:
            return true;
        default:
            return false;
        }
    }

    bool isBox(QObject* target) const
    {
        if (target->isWindowType()) {
            for (const QWidget* box : boxes)
                if (box->windowHandle() == target)
                    return true;
            return false;
        }
        // A widget, or an object of one (a shortcut): judged by its window.
        for (QObject* o = target; o; o = o->parent())
            if (o->isWidgetType())
                return boxes.count(static_cast<QWidget*>(o)->window()) != 0;
        return false;
    }

    // Application event filters see only the GUI thread's objects.
    bool eventFilter(QObject* target, QEvent* e) override
    {
        if (g_guiWaitDepth == 0 || !isInput(e->type()))
            return false;
        if (isBox(target))
            return false;
        held.emplace_back(target, e->clone());
        return true;
    }

    void release()
    {
        auto events = std::move(held);
        held.clear();
        for (auto& [target, e] : events) {
            if (target)
                QCoreApplication::postEvent(target, e);
            else
                delete e;
        }
    }
};

InputHold* g_inputHold = nullptr;
std::vector<std::pair<HWND, UINT_PTR>> g_deferredTimers;

void releaseHeld()
{
    if (g_inputHold)
        g_inputHold->release();
    auto timers = std::move(g_deferredTimers);
    g_deferredTimers.clear();
    for (auto [hwnd, id] : timers) {
        WndImpl* wnd = lookup(hwnd);
        if (wnd && wnd->m_timers.count(id))
            dispatch(wnd, WM_TIMER, id, 0);
    }
}

void guiWait(const std::function<bool()>& done)
{
    ++g_guiWaitDepth;
    // Records and wake-ups come through the event loop.
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if (--g_guiWaitDepth == 0)
        releaseHeld();
}

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
    g_inputHold = new InputHold;
    g_inputHold->setParent(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(g_inputHold);
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

bool guiWaitActive() { return g_guiWaitDepth > 0; }

void registerMessageBoxWindow(QWidget* box, bool add)
{
    if (!g_inputHold)
        return;
    if (add)
        g_inputHold->boxes.insert(box);
    else
        g_inputHold->boxes.erase(box);
}

void deferTimer(HWND hwnd, UINT_PTR id)
{
    for (auto& t : g_deferredTimers)
        if (t.first == hwnd && t.second == id)
            return;  // ticks do not pile up
    g_deferredTimers.emplace_back(hwnd, id);
}

}  // namespace afx

using namespace afx;

LRESULT SendMessageA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (isGuiThread()) {
        WndImpl* wnd = lookup(hWnd);
        return wnd ? dispatch(wnd, msg, wParam, lParam) : 0;
    }
    if (!isLiveHandle(hWnd))
        return 0;
    Record r{.hwnd = hWnd, .msg = msg, .wParam = wParam, .lParam = lParam};
    return handOver(r);
}

LRESULT AfxSendMessageSeries(HWND hWnd, UINT Msg, const WPARAM* wParams, size_t count, LPARAM lParam)
{
    if (count == 0 || !wParams)
        return 0;
    Record r{.hwnd = hWnd, .msg = Msg, .lParam = lParam, .wParams = wParams, .count = count};
    if (isGuiThread()) {
        serve(r, Clock::time_point::max());
        return r.result;
    }
    return isLiveHandle(hWnd) ? handOver(r) : 0;
}

void AfxWaitServingMessages(const std::function<bool()>& done)
{
    if (isGuiThread()) {
        ensureGuiInitialised();
        guiWait(done);
        return;
    }
    // The generation is taken before done() is looked at, so a wake that
    // comes in between is not lost; done() itself runs without the lock.
    for (;;) {
        unsigned long generation;
        {
            std::lock_guard lock(g_link.mutex);
            generation = g_link.waitGeneration;
        }
        if (done())
            return;
        std::unique_lock lock(g_link.mutex);
        g_link.waiters.wait(lock, [&] { return g_link.waitGeneration != generation; });
    }
}

void AfxWakeWaiters()
{
    int fd;
    {
        std::lock_guard lock(g_link.mutex);
        ++g_link.waitGeneration;
        g_link.waiters.notify_all();
        fd = takeWakeLocked();
    }
    // The GUI thread's wait looks at its predicate when its event loop wakes.
    wakeGui(fd);
}
