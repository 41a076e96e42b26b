#include "tests/support/wait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include "framework/afxthread.h"

namespace testsupport {

bool WaitUntil(const std::function<bool()>& done, int capMs)
{
    const QDeadlineTimer deadline(capMs);
    // Wakes the event loop now and then, so a wait for more events never
    // outlasts the cap and the condition is seen soon after it comes true.
    QTimer pulse;
    pulse.start(2);
    while (!done()) {
        if (deadline.hasExpired())
            return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void ProcessEventsFor(int ms)
{
    WaitUntil([] { return false; }, ms);
}

bool ServeUntil(const std::function<bool()>& done, int capMs)
{
    bool hung = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&hung] {
        hung = true;
        AfxWakeWaiters();
    });
    guard.start(capMs);
    AfxWaitServingMessages([&] { return hung || done(); });
    return done();
}

} // namespace testsupport
