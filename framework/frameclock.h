// One clock for the display refreshes of every window: changes are gathered
// and shown at the next frame, and what changed in several windows during a
// frame is painted, and sent to the display, together, once.
// User-interface thread only.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <vector>

class FrameClock : public QObject {
public:
    // Frames are at least 40 ms apart: 25 a second is plenty for text
    // arriving on a line, and each frame costs a paint and a round trip to
    // the display.
    static constexpr int kFrameMs = 40;

    static FrameClock& instance();

    // Calls `refresh` at the next frame, once however often it is asked
    // before then; nothing when `receiver` is gone by then. The next frame
    // is at once when the last one is a frame's time ago.
    void request(QObject* receiver, std::function<void()> refresh);
    // Whether a frame is due: nothing is pending when this is false.
    bool pending() const { return m_timer.isActive(); }

private:
    FrameClock();
    void tick();

    struct Request {
        QPointer<QObject> receiver;
        std::function<void()> refresh;
    };
    std::vector<Request> m_requests;
    QTimer m_timer{this};
    QElapsedTimer m_sinceTick;  // since the last frame; invalid before the first
};

// What a window refreshes at a frame. Asking again before that frame costs
// nothing, so a window may ask at every change.
class FrameRequest {
public:
    FrameRequest(QObject* owner, std::function<void()> refresh) : m_owner(owner), m_refresh(std::move(refresh)) {}
    FrameRequest(const FrameRequest&) = delete;
    FrameRequest& operator=(const FrameRequest&) = delete;

    void ask()
    {
        if (m_asked)
            return;
        m_asked = true;
        FrameClock::instance().request(m_owner, [this] {
            m_asked = false;
            m_refresh();
        });
    }

private:
    QObject* m_owner;
    std::function<void()> m_refresh;
    bool m_asked = false;
};
