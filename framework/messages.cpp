// The handle table, message dispatch, messages sent across threads and the
// wait that keeps serving them.
//
// A message sent from another thread goes into one queue served by the GUI
// thread; a series of messages (AfxSendMessageSeries) is one record there, so
// a burst costs one hand-off. A plain sleep/wake hand-off costs tens of
// microseconds here, so a
// flood of messages is served without sleeping on either side: after serving
// a message the GUI thread polls the queue briefly for the next one, and a
// sender that finds it polling spins for its result instead of sleeping. The
// poll adapts to the traffic (it shrinks while it finds nothing, so on a slow
// line it adds next to nothing to the cost of waking), and when a sender had to be
// woken from sleep the GUI thread now and then polls long enough for that
// sender to come back, which is how a flood that starts on a quiet line gets
// into step. The GUI thread goes back to its event loop at least every few
// milliseconds so that painting and input still get through.
#include <QCoreApplication>
#include <QEvent>
#include <QFont>
#include <QPointer>
#include <QThread>
#include <QWindow>

#include <sched.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <unordered_map>
#include <utility>

#include "framework/afxqt.h"
#include "framework/wndimpl.h"

namespace afx {

namespace {

using Clock = std::chrono::steady_clock;

// Spin budgets in nanoseconds.
constexpr long kMinPollNs = 2000;     // the GUI thread's poll for the next message
constexpr long kMaxPollNs = 20000;
constexpr long kProbePollNs = 50000;  // long enough for a woken sender to send again
constexpr int kMaxProbeInterval = 1024;
constexpr long kSenderSpinNs = 20000; // a sender whose message the GUI thread polled for
constexpr long kPureSpinNs = 2000;    // then spins yield the processor
// The longest the GUI thread serves sent messages without returning to its
// event loop.
constexpr auto kMaxDrain = std::chrono::milliseconds(8);

inline void cpuRelax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__) || defined(__arm__)
    asm volatile("yield");
#endif
}

// Spins until ready() or the budget is spent; true when ready. After the
// first microseconds it yields between looks, so that on a busy machine the
// thread it waits for can have the processor.
template <typename Ready>
bool spinFor(long budgetNs, Ready ready)
{
    if (ready())
        return true;
    const auto begin = Clock::now();
    const auto yieldFrom = begin + std::chrono::nanoseconds(std::min(budgetNs, kPureSpinNs));
    const auto deadline = begin + std::chrono::nanoseconds(budgetNs);
    for (;;) {
        for (int i = 0; i < 16; ++i) {
            cpuRelax();
            if (ready())
                return true;
        }
        const auto now = Clock::now();
        if (now >= deadline)
            return ready();
        if (now >= yieldFrom)
            sched_yield();
    }
}

// --- Handle table --------------------------------------------------------

// Written on the GUI thread only, under the mutex; the GUI thread reads it
// without the lock, other threads with it.
std::mutex g_tableMutex;
std::unordered_map<std::uintptr_t, WndImpl*> g_windows;
std::unordered_map<const QWidget*, WndImpl*> g_widgets;
std::uintptr_t g_lastHandle = 0x1000;

// --- Messages sent from other threads ------------------------------------

enum : int { kPending, kSleeping, kDone };

struct SentMessage {
    HWND hwnd;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    // A series: count messages with these wParams, in order (the sender's
    // array, alive while it waits); next is the first not yet delivered.
    const WPARAM* wParams = nullptr;
    size_t count = 0;
    size_t next = 0;
    LRESULT result = 0;
    std::atomic<int> state{kPending};
};

// Dispatches what is left of m, while its window lives. False when the time
// ran out part-way through a series: the rest is served later. A series'
// result is the number of messages delivered.
bool serve(SentMessage& m, Clock::time_point until)
{
    if (!m.wParams) {
        WndImpl* wnd = lookup(m.hwnd);
        m.result = wnd ? dispatch(wnd, m.msg, m.wParam, m.lParam) : 0;
        return true;
    }
    while (m.next < m.count) {
        // Looked up for each message: a handler may destroy the window.
        WndImpl* wnd = lookup(m.hwnd);
        if (!wnd)
            break;
        dispatch(wnd, m.msg, m.wParams[m.next], m.lParam);
        ++m.next;
        if (m.next < m.count && Clock::now() > until)
            return false;
    }
    m.result = static_cast<LRESULT>(m.next);
    return true;
}

// Ends a record that will not be served (any more).
void abandon(SentMessage& m) { m.result = m.wParams ? static_cast<LRESULT>(m.next) : 0; }

// Releases the sender; m.result is set. True when the sender was asleep and
// had to be woken.
bool complete(SentMessage& m)
{
    if (m.state.exchange(kDone, std::memory_order_acq_rel) != kSleeping)
        return false;
    m.state.notify_one();
    return true;
}

const QEvent::Type kServeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type kWakeWaiterEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class Pump;

std::mutex g_queueMutex;
std::deque<std::shared_ptr<SentMessage>> g_queue;  // under g_queueMutex
bool g_accepting = false;                          // under g_queueMutex: a pump serves the queue
// Posting wakes the GUI thread, which goes for the queue at once: the queue's
// lock is not held meanwhile.
std::mutex g_pumpMutex;
Pump* g_pump = nullptr;                            // under g_pumpMutex
std::atomic<size_t> g_queued{0};
// The GUI thread is polling the queue and will see a new message unwoken.
std::atomic<bool> g_serving{false};
// A serve event is on its way to the pump.
std::atomic<bool> g_servePosted{false};
// GUI thread only: the poll's budget, and how many woken senders to let go
// before the next long poll.
long g_pollNs = kMaxPollNs;
int g_probeInterval = 1;
int g_probeCountdown = 0;

std::shared_ptr<SentMessage> popSent()
{
    if (g_queued.load() == 0)
        return nullptr;
    std::lock_guard lock(g_queueMutex);
    if (g_queue.empty())
        return nullptr;
    std::shared_ptr<SentMessage> m = std::move(g_queue.front());
    g_queue.pop_front();
    g_queued.fetch_sub(1);
    return m;
}

void postToPump(QEvent::Type type);

void drainSentMessages()
{
    const auto start = Clock::now();
    bool senderWasAsleep = false;
    for (;;) {
        std::shared_ptr<SentMessage> m = popSent();
        if (!m) {
            const bool probe = senderWasAsleep && --g_probeCountdown <= 0;
            g_serving.store(true);
            const bool more = spinFor(probe ? kProbePollNs : g_pollNs,
                                      [] { return g_queued.load(std::memory_order_relaxed) > 0; });
            g_serving.store(false);
            if (probe) {
                g_probeInterval = more ? 1 : std::min(g_probeInterval * 2, kMaxProbeInterval);
                g_probeCountdown = g_probeInterval;
                if (more)
                    g_pollNs = kMaxPollNs;
            } else {
                g_pollNs = more ? std::min(g_pollNs * 2, kMaxPollNs) : std::max(g_pollNs / 2, kMinPollNs);
            }
            // Checked again after clearing the flag: a sender that saw it set
            // did not post a serve event.
            if (g_queued.load() > 0) {
                senderWasAsleep = false;
                continue;
            }
            return;
        }
        if (!serve(*m, start + kMaxDrain)) {
            // The rest of the series goes first when the event loop has had
            // its turn.
            {
                std::lock_guard lock(g_queueMutex);
                if (g_accepting) {
                    g_queue.push_front(std::move(m));
                    g_queued.fetch_add(1);
                }
            }
            if (m) {  // no pump any more
                abandon(*m);
                complete(*m);
            } else if (!g_servePosted.exchange(true)) {
                postToPump(kServeEvent);
            }
            return;
        }
        senderWasAsleep = complete(*m);
        if (Clock::now() - start > kMaxDrain) {
            // The sender falls asleep meanwhile; get back into step at once.
            g_probeCountdown = 0;
            if (g_queued.load() > 0 && !g_servePosted.exchange(true))
                postToPump(kServeEvent);
            return;
        }
    }
}

// Lives on the GUI thread as a child of the application object.
class Pump : public QObject {
public:
    Pump() : QObject(QCoreApplication::instance()) {}
    ~Pump() override
    {
        {
            std::lock_guard lock(g_pumpMutex);
            g_pump = nullptr;
        }
        std::deque<std::shared_ptr<SentMessage>> orphans;
        {
            std::lock_guard lock(g_queueMutex);
            g_accepting = false;
            orphans.swap(g_queue);
            g_queued.store(0);
        }
        for (auto& m : orphans) {
            abandon(*m);
            complete(*m);
        }
    }

    bool event(QEvent* e) override
    {
        if (e->type() == kServeEvent) {
            g_servePosted.store(false);
            drainSentMessages();
            return true;
        }
        if (e->type() == kWakeWaiterEvent)
            return true;  // makes a waiting processEvents() return
        return QObject::event(e);
    }
};

void postToPump(QEvent::Type type)
{
    std::lock_guard lock(g_pumpMutex);
    if (g_pump)
        QCoreApplication::postEvent(g_pump, new QEvent(type));
    else if (type == kServeEvent)
        g_servePosted.store(false);
}

// Queues m for the GUI thread and waits until it has been served (or
// abandoned); its result.
LRESULT sendFromOtherThread(const std::shared_ptr<SentMessage>& m)
{
    if (!isLiveHandle(m->hwnd))
        return 0;
    {
        std::lock_guard lock(g_queueMutex);
        if (!g_accepting)
            return 0;
        g_queue.push_back(m);
        g_queued.fetch_add(1);
    }
    // A GUI thread that is polling answers within microseconds: spin. One
    // that must be woken takes longer than sleeping costs: sleep.
    const bool polled = g_serving.load();
    if (!polled && !g_servePosted.exchange(true))
        postToPump(kServeEvent);
    const bool quick =
        polled && spinFor(kSenderSpinNs, [&] { return m->state.load(std::memory_order_acquire) == kDone; });
    if (!quick) {
        int expected = kPending;
        if (m->state.compare_exchange_strong(expected, kSleeping)) {
            while (m->state.load(std::memory_order_acquire) != kDone)
                m->state.wait(kSleeping);
        }
    }
    return m->result;
}

// --- Waiting ---------------------------------------------------------------

std::mutex g_waitMutex;
std::condition_variable g_waitCv;
unsigned long g_waitGeneration = 0;  // under g_waitMutex
std::atomic<int> g_guiWaitDepth{0};

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

    bool eventFilter(QObject* target, QEvent* e) override
    {
        if (g_guiWaitDepth.load() == 0 || !isInput(e->type()))
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

InputHold* g_inputHold = nullptr;  // GUI thread only
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
    while (!done()) {
        drainSentMessages();
        if (done())
            break;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    if (--g_guiWaitDepth == 0)
        releaseHeld();
}

}  // namespace

// --- Handle table ----------------------------------------------------------

HWND registerWindow(WndImpl* wnd)
{
    std::lock_guard lock(g_tableMutex);
    const std::uintptr_t value = ++g_lastHandle;
    g_windows.emplace(value, wnd);
    if (wnd->widget())
        g_widgets.emplace(wnd->widget(), wnd);
    wnd->m_hwnd = reinterpret_cast<HWND>(value);
    return wnd->m_hwnd;
}

void unregisterWindow(WndImpl* wnd)
{
    std::lock_guard lock(g_tableMutex);
    g_windows.erase(reinterpret_cast<std::uintptr_t>(wnd->hwnd()));
    for (auto it = g_widgets.begin(); it != g_widgets.end();) {
        if (it->second == wnd)
            it = g_widgets.erase(it);
        else
            ++it;
    }
}

WndImpl* lookup(HWND hwnd)
{
    if (!hwnd || !isGuiThread())
        return nullptr;
    auto it = g_windows.find(reinterpret_cast<std::uintptr_t>(hwnd));
    return it == g_windows.end() ? nullptr : it->second;
}

bool isLiveHandle(HWND hwnd)
{
    if (!hwnd)
        return false;
    std::lock_guard lock(g_tableMutex);
    return g_windows.count(reinterpret_cast<std::uintptr_t>(hwnd)) != 0;
}

WndImpl* lookupWidget(const QWidget* widget)
{
    if (!widget || !isGuiThread())
        return nullptr;
    auto it = g_widgets.find(widget);
    return it == g_widgets.end() ? nullptr : it->second;
}

void failSentMessagesTo(HWND hwnd)
{
    std::vector<std::shared_ptr<SentMessage>> failed;
    {
        std::lock_guard lock(g_queueMutex);
        for (auto it = g_queue.begin(); it != g_queue.end();) {
            if ((*it)->hwnd == hwnd) {
                failed.push_back(std::move(*it));
                it = g_queue.erase(it);
                g_queued.fetch_sub(1);
            } else {
                ++it;
            }
        }
    }
    for (auto& m : failed) {
        abandon(*m);
        complete(*m);
    }
}

// --- Dispatch ----------------------------------------------------------------

namespace {
struct CurrentMessage {
    HWND hwnd = nullptr;
    UINT msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};
thread_local CurrentMessage t_current;
}  // namespace

LRESULT dispatch(WndImpl* wnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    const CurrentMessage saved = t_current;
    t_current = {wnd->hwnd(), msg, wParam, lParam};
    const LRESULT result = wnd->m_permanent ? wnd->m_permanent->WindowProc(msg, wParam, lParam)
                                            : wnd->classProc(msg, wParam, lParam);
    t_current = saved;
    return result;
}

LRESULT defaultForCurrent(CWnd* wnd)
{
    if (t_current.hwnd != wnd->m_hWnd)
        return 0;  // not inside a handler of this window
    return wnd->DefWindowProc(t_current.msg, t_current.wParam, t_current.lParam);
}

void notifyParent(WndImpl* control, UINT code)
{
    WndImpl* parent = control->parent();
    if (!parent)
        return;
    dispatch(parent, WM_COMMAND, MAKEWPARAM(control->id(), code), reinterpret_cast<LPARAM>(control->hwnd()));
}

bool isGuiThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void ensureGuiInitialised()
{
    static bool done = false;
    if (done || !isGuiThread())
        return;
    done = true;
    auto* pump = new Pump;
    {
        std::lock_guard lock(g_pumpMutex);
        g_pump = pump;
    }
    {
        std::lock_guard lock(g_queueMutex);
        g_accepting = true;
    }
    g_inputHold = new InputHold;
    g_inputHold->setParent(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(g_inputHold);
    // The Song face of the templates, by its Chinese and its Latin name.
    const QStringList song{QStringLiteral("AR PL UMing CN")};
    QFont::insertSubstitutions(QStringLiteral("\u5B8B\u4F53"), song);
    QFont::insertSubstitutions(QStringLiteral("SimSun"), song);
}

bool guiWaitActive() { return g_guiWaitDepth.load() > 0; }

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

void wakeWaitersOnGuiThread()
{
    if (g_guiWaitDepth.load() == 0)
        return;
    postToPump(kWakeWaiterEvent);
}

}  // namespace afx

using namespace afx;

LRESULT SendMessageA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (isGuiThread()) {
        WndImpl* wnd = lookup(hWnd);
        return wnd ? dispatch(wnd, msg, wParam, lParam) : 0;
    }
    auto m = std::make_shared<SentMessage>();
    m->hwnd = hWnd;
    m->msg = msg;
    m->wParam = wParam;
    m->lParam = lParam;
    return sendFromOtherThread(m);
}

LRESULT AfxSendMessageSeries(HWND hWnd, UINT Msg, const WPARAM* wParams, size_t count, LPARAM lParam)
{
    if (count == 0 || !wParams)
        return 0;
    auto m = std::make_shared<SentMessage>();
    m->hwnd = hWnd;
    m->msg = Msg;
    m->wParam = 0;
    m->lParam = lParam;
    m->wParams = wParams;
    m->count = count;
    if (isGuiThread()) {
        serve(*m, Clock::time_point::max());
        return m->result;
    }
    return sendFromOtherThread(m);
}

BOOL IsWindow(HWND hWnd) { return isLiveHandle(hWnd) ? TRUE : FALSE; }

void AfxWaitServingMessages(const std::function<bool()>& done)
{
    if (isGuiThread()) {
        ensureGuiInitialised();
        guiWait(done);
        return;
    }
    std::unique_lock lock(g_waitMutex);
    while (!done()) {
        const unsigned long generation = g_waitGeneration;
        g_waitCv.wait(lock, [&] { return g_waitGeneration != generation; });
    }
}

void AfxWakeWaiters()
{
    {
        std::lock_guard lock(g_waitMutex);
        ++g_waitGeneration;
    }
    g_waitCv.notify_all();
    wakeWaitersOnGuiThread();
}

QWidget* AfxWidgetFromHandle(HWND hWnd)
{
    WndImpl* wnd = lookup(hWnd);
    return wnd ? wnd->widget() : nullptr;
}

HWND AfxHandleFromWidget(const QWidget* widget)
{
    WndImpl* wnd = lookupWidget(widget);
    return wnd ? wnd->hwnd() : nullptr;
}
