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
    m_timer.setInterval(kFrameMs);
    connect(&m_timer, &QTimer::timeout, this, &FrameClock::tick);
}

void FrameClock::request(QObject* receiver, std::function<void()> refresh)
{
    const bool asked = std::any_of(m_requests.begin(), m_requests.end(),
                                   [receiver](const Request& r) { return r.receiver == receiver; });
    if (!asked)
        m_requests.push_back({receiver, std::move(refresh)});
    if (!m_timer.isActive())
        m_timer.start();
}

void FrameClock::tick()
{
    // A refresh may ask for the next frame.
    std::vector<Request> due;
    due.swap(m_requests);
    for (const Request& r : due) {
        if (r.receiver)
            r.refresh();
    }
}
