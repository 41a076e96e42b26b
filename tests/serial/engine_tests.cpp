// The port engine against real pseudo-terminals, with a real owner window.
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <QSocketNotifier>
#include <poll.h>
#include <string>
#include <termios.h>
#include <thread>
#include <tuple>
#include <utility>
#include <unistd.h>
#include <vector>

#include "../platform/pty.h"
#include "owner.h"
#include "platform/faults.h"

using namespace owner;

namespace {

constexpr int kCom = 5;

// Opens as the console does.
BOOL OpenAsConsole(CCommPort& port, CWnd* owner, int baud = 9600, char parity = 'N', int data = 8, int stop = 1)
{
    return port.Open(owner, kCom, baud, parity, data, stop, EV_RXCHAR | EV_RXFLAG, 512);
}

using Texts = std::vector<std::string>;

class Engine : public testing::Test {
protected:
    void SetUp() override { m_line.NameAs(kCom); }
    void TearDown() override { platform::faults::ClearAll(); }

    // Waits for the monitor thread to end, serving messages, and returns its
    // exit code.
    DWORD AwaitEnd(CCommPort& port, DWORD threadId)
    {
        DWORD code = 0;
        EXPECT_TRUE(ServeUntil([&] { return !port.m_bMonitorRunning && AfxGetThreadExitCode(threadId, &code); }));
        return code;
    }

    // Runs `body` in a real owner dialog with a port opened as the console
    // opens it (unless other events are given) and its monitor thread running.
    void WithMonitor(const std::function<void(COwnerDlg&, CCommPort&)>& body, DWORD events = EV_RXCHAR | EV_RXFLAG)
    {
        COwnerDlg dlg;
        dlg.Run([&](COwnerDlg& d) {
            CCommPort port;
            ASSERT_TRUE(port.Open(&d, kCom, 9600, 'N', 8, 1, events, 512));
            ASSERT_TRUE(port.StartMonitor());
            body(d, port);
        });
    }

    PtyLine m_line;
};

TEST_F(Engine, OpensWithEverySettingOfTheListsAndTheyReadBack)
{
    BoxRecorder boxes;
    CCommPort port;
    const std::pair<int, speed_t> bauds[] = {{300, B300},     {600, B600},     {1200, B1200},   {2400, B2400},
                                             {4800, B4800},   {9600, B9600},   {19200, B19200}, {38400, B38400}};
    for (const auto& [baud, speed] : bauds)
        for (char parity : {'N', 'O', 'E'})
            for (int data : {8, 7, 6})
                for (int stop : {1, 2}) {
                    SCOPED_TRACE(testing::Message() << baud << parity << data << stop);
                    ASSERT_TRUE(OpenAsConsole(port, nullptr, baud, parity, data, stop));
                    // What a pseudo-terminal holds, from the far end.
                    termios t;
                    ASSERT_EQ(tcgetattr(m_line.master(), &t), 0);
                    EXPECT_EQ(cfgetospeed(&t), speed);
                    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, stop == 2);
                    // The rest from the port's record.
                    DCB dcb{};
                    ASSERT_TRUE(GetCommState(port.m_hPort, &dcb));
                    const BYTE parityCode = parity == 'N' ? NOPARITY : parity == 'O' ? ODDPARITY : EVENPARITY;
                    EXPECT_EQ(std::tuple(dcb.BaudRate, dcb.Parity, dcb.ByteSize, dcb.StopBits),
                              std::tuple(DWORD(baud), parityCode, BYTE(data), BYTE(stop == 1 ? ONESTOPBIT : TWOSTOPBITS)));
                    EXPECT_EQ(dcb.fRtsControl, DWORD{RTS_CONTROL_ENABLE});
                    EXPECT_EQ(dcb.EvtChar, 'q');
                    EXPECT_EQ(dcb.fOutX | dcb.fInX | dcb.fOutxCtsFlow, 0u) << "flow control off";
                }
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(Engine, ASettingFailureGivesOneBoxWithTheReportAndOpenSucceeds)
{
    const struct { const char* call; const char* text; } steps[] = {
        {"SetCommTimeouts", "SetCommTimeouts()"}, {"SetCommMask", "SetCommMask()"}, {"GetCommState", "GetCommState()"},
        {"BuildCommDCBA", "BuildCommDCB()"},      {"SetCommState", "SetCommState()"},
    };
    for (size_t failing = 0; failing < std::size(steps); ++failing) {
        SCOPED_TRACE(steps[failing].call);
        BoxRecorder boxes;
        // Every step from the failing one on would fail: only the first may
        // be tried, so only it is reported.
        for (size_t i = failing; i < std::size(steps); ++i)
            platform::faults::Inject(steps[i].call, i == failing ? ERROR_ACCESS_DENIED : ERROR_GEN_FAILURE);
        CCommPort port;
        boxes.Watch(&port);
        EXPECT_TRUE(OpenAsConsole(port, nullptr));
        EXPECT_NE(port.m_hPort.load(), nullptr) << "the port stays open";
        EXPECT_FALSE(boxes.heldAtABox()) << "a box came up while the port's lock was held";
        platform::faults::ClearAll();
        const std::vector<Box> shown = boxes.boxes();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(std::tuple(shown[0].owner, shown[0].text, shown[0].caption, shown[0].style),
                  std::tuple(nullptr, owner::ReportText(steps[failing].text, ERROR_ACCESS_DENIED, kCom),
                             "Application Error", UINT(MB_OK | MB_ICONERROR)));
    }
}

TEST_F(Engine, WithoutItsEventsTheEngineDoesNotOpen)
{
    BoxRecorder boxes;
    platform::faults::Inject("CreateEventA", ERROR_NOT_ENOUGH_MEMORY, 1);
    CCommPort port;
    EXPECT_FALSE(OpenAsConsole(port, nullptr));
    EXPECT_EQ(port.m_hPort.load(), nullptr);
    EXPECT_EQ(boxes.texts(), Texts{owner::ReportText("CreateEvent()", ERROR_NOT_ENOUGH_MEMORY, kCom)});
    EXPECT_TRUE(OpenAsConsole(port, nullptr)) << "a later open makes the missing events";
}

TEST_F(Engine, BytesReachTheOwnerOneMessageEachInOrderAndEachWakeEndsWithItsEvents)
{
    // Every byte value, unsigned, four times over: more than the engine hands
    // over at once, so the bursts' edges lose and repeat nothing. lParam is
    // the port number. A wake's bytes come first, then ERR when EV_ERR is in
    // the mask (the device going away is told too), then RXFLAG.
    std::string all;
    for (int i = 0; i < 4 * 256; ++i)
        all += static_cast<char>(i);
    const struct {
        DWORD events;
        std::string wake;  // a run of bytes as one c, ERR as e, RXFLAG as f
    } masks[] = {{EV_RXCHAR | EV_RXFLAG, "cf"}, {EV_RXCHAR | EV_RXFLAG | EV_ERR, "cef"}};
    BoxRecorder boxes;
    for (const auto& mask : masks) {
        WithMonitor([&](COwnerDlg& d, CCommPort&) {
            m_line.Send(all);
            ASSERT_TRUE(ServeUntil(
                [&] { return d.Bytes().size() == all.size() && d.m_messages.back().msg == WM_PORT_RXFLAG; }));
            EXPECT_EQ(d.Bytes(), all);
            std::string wakes;
            for (const Message& m : d.m_messages) {
                EXPECT_EQ(m.lParam, kCom);
                EXPECT_LE(m.wParam, 255u);
                const char letter = m.msg == WM_PORT_RXCHAR ? 'c' : m.msg == WM_PORT_ERR ? 'e' : 'f';
                if (letter != 'c' || !wakes.ends_with('c'))
                    wakes += letter;
            }
            std::string expected;
            while (expected.size() < wakes.size())
                expected += mask.wake;
            EXPECT_EQ(wakes, expected);
        }, mask.events);
    }
}

TEST_F(Engine, TwoSendsBeforeTheThreadWakesWriteTheSecondOnce)
{
    WithMonitor([&](COwnerDlg& d, CCommPort& port) {
        // While the handler runs, the monitor thread waits for it.
        d.m_onMessage = [&](const Message& m) {
            if (m.msg == WM_PORT_RXCHAR) {
                port.SendString("first");
                port.SendString("second");
            }
        };
        m_line.Send("!");
        ASSERT_TRUE(ServeUntil([&] { return d.m_messages.size() >= 2; }));
        d.m_onMessage = nullptr;
        EXPECT_EQ(m_line.Receive(6), "second");
        // Nothing else was written: the next send is next on the line.
        const BYTE end[] = {'e', 'n', 'd'};
        port.Send(end, 3);
        EXPECT_EQ(m_line.Receive(3), "end");
    });
}

TEST_F(Engine, StopAndWriteTogetherWriteNothingAndTheThreadEndsWith100)
{
    WithMonitor([&](COwnerDlg& d, CCommPort& port) {
        const DWORD threadId = port.m_pMonitorThread->m_nThreadID;
        d.m_onMessage = [&](const Message& m) {
            if (m.msg == WM_PORT_RXCHAR) {
                port.SendString("never");
                port.SignalStop();
            }
        };
        m_line.Send("!");
        EXPECT_EQ(AwaitEnd(port, threadId), 100u);
        EXPECT_EQ(port.m_hPort.load(), nullptr);
        // The far end: the port is closed and nothing came before.
        char byte;
        EXPECT_EQ(read(m_line.master(), &byte, 1), -1);
        EXPECT_EQ(errno, EIO);
    });
}

TEST_F(Engine, AStopEndsAWriteTheDeviceDoesNotTakeAndFreesTheLine)
{
    BoxRecorder boxes;
    WithMonitor([&](COwnerDlg& d, CCommPort& port) {
        const DWORD threadId = port.m_pMonitorThread->m_nThreadID;
        const std::string big = Pattern(200000);
        ASSERT_TRUE(port.Send(reinterpret_cast<const BYTE*>(big.data()), static_cast<DWORD>(big.size())));
        pollfd written{m_line.master(), POLLIN, 0};
        ASSERT_EQ(poll(&written, 1, kHang), 1) << "the write did not begin";
        port.SignalStop();
        EXPECT_EQ(AwaitEnd(port, threadId), 100u);
        // Another program can have the line at once, and the unsent rest was
        // thrown away: the device keeps only what its own input buffer held
        // (a pseudo-terminal's 4 KiB), of about three times that the line had
        // taken.
        EXPECT_FALSE(LineLocked(m_line.slavePath())) << "the line is still locked";
        size_t left = 0;
        char buffer[4096];
        for (ssize_t n; (n = read(m_line.master(), buffer, sizeof buffer)) > 0;)
            left += static_cast<size_t>(n);
        EXPECT_EQ(errno, EIO);
        EXPECT_LE(left, 4096u);
        // The same object opens again and writes.
        ASSERT_TRUE(OpenAsConsole(port, &d));
        ASSERT_TRUE(port.StartMonitor());
        ASSERT_TRUE(port.SendString("ok"));
        EXPECT_EQ(m_line.Receive(2), "ok");
    });
    EXPECT_TRUE(boxes.boxes().empty()) << "the abort a stop causes is no failure";
}

TEST_F(Engine, BytesLeftQueuedAtASendsTurnAreDeliveredThoughNothingMoreArrives)
{
    COwnerDlg dlg;
    dlg.Run([&](COwnerDlg& d) {
        CCommPort port;
        ASSERT_TRUE(OpenAsConsole(port, &d));
        // Several bursts' worth is queued, and its arrival reported, before
        // the thread starts; a send waits for its turn after the first burst.
        const std::string all = Pattern(1000);
        m_line.Send(all);
        ASSERT_TRUE(testsupport::WaitUntil([&] { return InQueue(port.m_hPort) == all.size(); }));
        ASSERT_TRUE(port.SendString("x"));
        ASSERT_TRUE(port.StartMonitor());
        EXPECT_TRUE(ServeUntil([&] { return d.Bytes().size() == all.size(); }))
            << d.Bytes().size() << " of " << all.size() << " delivered";
        EXPECT_EQ(d.Bytes(), all);
        EXPECT_EQ(m_line.Receive(1), "x");
    });
}

TEST_F(Engine, ASendGetsItsTurnAfterABurstAndGoesOnWhileAStreamNeverPauses)
{
    WithMonitor([&](COwnerDlg& d, CCommPort& port) {
        // The device answers each byte delivered with a new one until it has
        // the whole send, which is more than the line holds: the port's queue
        // never empties before the write is done.
        const std::string big = Pattern(100 * 1024);
        const int master = m_line.master();
        ASSERT_EQ(fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK), 0);
        constexpr size_t kHandOver = 1000;
        constexpr size_t kQueued = kHandOver + 100;  // one burst: all that is queued
        std::string received;
        bool inTime = false;
        d.m_onMessage = [&](const Message& m) {
            if (m.msg != WM_PORT_RXCHAR)
                return;
            const size_t delivered = d.Bytes().size();
            if (delivered == kHandOver)
                port.Send(reinterpret_cast<const BYTE*>(big.data()), static_cast<DWORD>(big.size()));
            // Once the burst under way at the hand-over has been delivered,
            // the write has begun, before the bytes the device sent back:
            // this handler holds the monitor thread until the device has its
            // first bytes.
            pollfd p{master, POLLIN, 0};
            if (delivered == kQueued + 1)
                inTime = !received.empty() || poll(&p, 1, testsupport::kHangMs) == 1;
            char buffer[4096];
            for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;)
                received.append(buffer, static_cast<size_t>(n));
            if (received.size() < big.size()) {
                EXPECT_EQ(write(master, "s", 1), 1);
            }
        };
        m_line.Send(Pattern(kQueued));
        EXPECT_TRUE(ServeUntil([&] { return received.size() >= big.size(); }))
            << received.size() << " of " << big.size() << " written";
        d.m_onMessage = nullptr;
        EXPECT_TRUE(inTime) << "the send did not reach the device after a burst";
        EXPECT_TRUE(received == big);
    });
}

TEST_F(Engine, ReopenDuringAStreamEndsTheThreadAtOnceAndOpensAgain)
{
    WithMonitor([&](COwnerDlg& d, CCommPort& port) {
        // A device that keeps talking (up to a bound, so a fault cannot hang
        // the test for ever).
        std::atomic<bool> quiet{false};
        std::thread device([&] {
            const std::string chunk(256, 'f');
            for (int i = 0; i < 800 && !quiet; ++i)
                m_line.Send(chunk);
        });
        // A handler that tries to open again during the opening's wait is
        // turned away; the opening itself goes ahead. The thread may be
        // between two bursts when an opening begins, so that nothing is
        // delivered during its wait: then open again on a new thread.
        std::vector<BOOL> nested;
        for (int attempt = 0; attempt < 20 && nested.empty(); ++attempt) {
            if (attempt > 0) {
                ASSERT_TRUE(port.StartMonitor());
            }
            const size_t flowing = d.Bytes().size();
            ASSERT_TRUE(ServeUntil([&] { return d.Bytes().size() >= flowing + 100; }));
            d.m_onMessage = [&](const Message&) { nested.push_back(OpenAsConsole(port, &d, 4800)); };
            const DWORD firstThread = port.m_pMonitorThread->m_nThreadID;
            const size_t before = d.Bytes().size();
            ASSERT_TRUE(OpenAsConsole(port, &d, 19200));
            d.m_onMessage = nullptr;
            // The thread saw the stop after the burst it was delivering (what
            // was queued when it began), stream or not.
            EXPECT_LE(d.Bytes().size() - before, CCommPort::Series::kMaxBytes);
            EXPECT_EQ(AwaitEnd(port, firstThread), 100u);
        }
        // The stop event was reset: a new thread runs and delivers. It also
        // takes what the device sent meanwhile, so a device waiting for room
        // on the line can finish.
        quiet = true;
        ASSERT_TRUE(port.StartMonitor());
        device.join();
        ASSERT_FALSE(nested.empty()) << "no message was served during any opening";
        for (BOOL result : nested)
            EXPECT_FALSE(result);
        EXPECT_EQ(port.m_dcb.BaudRate, 19200u);
    });
}

// Each failure is reported once the port's lock is free, and the next byte
// or send goes through.
TEST_F(Engine, ReadAndWriteFailuresAreReportedOutsideTheLockAndTheNextGoesThrough)
{
    BoxRecorder boxes;
    WithMonitor([&](COwnerDlg& d, CCommPort& port) {
        boxes.Watch(&port);
        platform::faults::Inject("ReadFile", ERROR_GEN_FAILURE, 1);
        m_line.Send("xyz");
        ASSERT_TRUE(ServeUntil([&] { return d.Bytes() == "xyz"; }));
        EXPECT_EQ(boxes.texts(), Texts{owner::ReportText("ReadFile()", ERROR_GEN_FAILURE, kCom)});

        boxes.clear();
        platform::faults::Inject("WriteFile", ERROR_GEN_FAILURE, 1);
        port.SendString("lost");
        ASSERT_TRUE(ServeUntil([&] { return !boxes.boxes().empty(); }));
        EXPECT_EQ(boxes.texts(), Texts{owner::ReportText("WriteFile()", ERROR_GEN_FAILURE, kCom)});
        // The window keeps serving while the device waits: anything the
        // engine still has to tell its owner must not hold up the send.
        QSocketNotifier arrived(m_line.master(), QSocketNotifier::Read);
        QObject::connect(&arrived, &QSocketNotifier::activated, [&arrived] {
            arrived.setEnabled(false);
            AfxWakeWaiters();
        });
        port.SendString("next");
        ASSERT_TRUE(ServeUntil([&] { return !arrived.isEnabled(); })) << "nothing arrived at the device";
        EXPECT_EQ(m_line.Receive(4), "next");
        EXPECT_EQ(boxes.texts(), Texts{owner::ReportText("WriteFile()", ERROR_GEN_FAILURE, kCom)});
        EXPECT_FALSE(boxes.heldAtABox()) << "a box came up while the port's lock was held";
    });
}

} // namespace
