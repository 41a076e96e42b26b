// The wait that keeps a window thread serving: AfxWaitServingMessages, with
// the user input and timer ticks it holds back. The contract is in handoff.h.
#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QWidget>
#include <QWindow>

#include <condition_variable>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "framework/handoff.h"
#include "framework/wndimpl.h"

namespace afx {

namespace {

// What a wait on a thread without windows sleeps on. Never destroyed: see
// handoff.h.
struct Waiters {
    std::mutex mutex;
    unsigned long generation = 0;  // AfxWakeWaiters calls so far
    std::condition_variable wake;
};
Waiters& g_waiters = *new Waiters;

int g_guiWaitDepth = 0;  // GUI thread only, as everything below

bool isInput(QEvent::Type t)
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

// Holds back user input to every window but the message boxes while the GUI
// thread waits; the events are delivered in order when the wait ends.
class InputHold : public QObject {
public:
    std::set<const QWidget*> boxes;

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
        if (g_guiWaitDepth == 0 || !isInput(e->type()) || isBox(target))
            return false;
        m_held.emplace_back(target, e->clone());
        return true;
    }

    void release()
    {
        auto events = std::move(m_held);
        m_held.clear();
        for (auto& [target, e] : events) {
            if (target)
                QCoreApplication::postEvent(target, e);
            else
                delete e;
        }
    }

private:
    std::vector<std::pair<QPointer<QObject>, QEvent*>> m_held;
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
    // Sent messages and wake-ups come through the event loop.
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if (--g_guiWaitDepth == 0)
        releaseHeld();
}

}  // namespace

void startServingWait()
{
    g_inputHold = new InputHold;
    g_inputHold->setParent(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(g_inputHold);
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
            std::lock_guard lock(g_waiters.mutex);
            generation = g_waiters.generation;
        }
        if (done())
            return;
        std::unique_lock lock(g_waiters.mutex);
        g_waiters.wake.wait(lock, [&] { return g_waiters.generation != generation; });
    }
}

void AfxWakeWaiters()
{
    {
        std::lock_guard lock(g_waiters.mutex);
        ++g_waiters.generation;
    }
    g_waiters.wake.notify_all();
    // The GUI thread's wait looks at its predicate when its event loop wakes.
    wakeGuiThread();
}
