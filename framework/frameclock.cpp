#include "framework/frameclock.h"

#include <algorithm>

FrameClock& FrameClock::instance()
{
    static FrameClock* clock = new FrameClock;  // lives as long as the program
    return *clock;
}

FrameClock::FrameClock()
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &FrameClock::tick);
}

void FrameClock::request(QObject* receiver, std::function<void()> refresh)
{
    const bool asked = std::any_of(m_requests.begin(), m_requests.end(),
                                   [receiver](const Request& r) { return r.receiver == receiver; });
    if (!asked)
        m_requests.push_back({receiver, std::move(refresh)});
    if (m_timer.isActive())
        return;
    // A change after a quiet spell is shown at once, in the same turn of the
    // event loop (its data often came with the wake that brought it); only
    // changes coming closer together than a frame wait for the next one.
    const qint64 since = m_sinceTick.isValid() ? m_sinceTick.elapsed() : kFrameMs;
    m_timer.start(static_cast<int>(std::max<qint64>(0, kFrameMs - since)));
}

void FrameClock::tick()
{
    m_sinceTick.start();
    // A refresh may ask for the next frame.
    std::vector<Request> due;
    due.swap(m_requests);
    for (const Request& r : due) {
        if (r.receiver)
            r.refresh();
    }
}
