// A series of messages handed to a window in one go (AfxSendMessageSeries):
// one message each, in order, through the message map, with the guarantees of
// SendMessageA.
#include "qt_fixture.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <numeric>
#include <thread>

using namespace fixture;

namespace {

constexpr UINT WM_SERIES = WM_USER + 20;
constexpr UINT WM_UNMAPPED = WM_USER + 21;

// The test dialog with a handler for the series that can run a step of the
// test inside it.
class CSeriesDlg : public CTestDlg {
public:
    std::vector<WPARAM> m_values;
    std::vector<LPARAM> m_params;
    std::function<void(CSeriesDlg&, WPARAM)> m_inHandler;

protected:
    afx_msg LRESULT OnSeries(WPARAM wParam, LPARAM lParam)
    {
        m_values.push_back(wParam);
        m_params.push_back(lParam);
        m_log.push_back("series:" + std::to_string(wParam));
        if (m_inHandler)
            m_inHandler(*this, wParam);
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CSeriesDlg, CTestDlg)
    ON_MESSAGE(WM_SERIES, &CSeriesDlg::OnSeries)
END_MESSAGE_MAP()

class CSeriesBar : public CStatusBarCtrl {
public:
    std::vector<WPARAM> m_values;

protected:
    afx_msg LRESULT OnSeries(WPARAM wParam, LPARAM)
    {
        m_values.push_back(wParam);
        if (wParam == 6)
            DestroyWindow();
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CSeriesBar, CStatusBarCtrl)
    ON_MESSAGE(WM_SERIES, &CSeriesBar::OnSeries)
END_MESSAGE_MAP()

std::vector<WPARAM> Values(size_t count)
{
    std::vector<WPARAM> values(count);
    std::iota(values.begin(), values.end(), WPARAM(0));
    return values;
}

// Makes a wait for more events on the window thread return. A plain event,
// which Qt both delivers and deletes: a queued functor would be allocated
// here and freed on the window thread behind Qt's own lock, a hand-over
// the thread checker cannot see.
void WakeEventLoop()
{
    QCoreApplication::postEvent(QCoreApplication::instance(), new QEvent(QEvent::None));
}

// The log entries from the first "series:" on.
std::vector<std::string> FromSeries(const std::vector<std::string>& log)
{
    auto it = std::find_if(log.begin(), log.end(), [](const std::string& e) { return e.rfind("series:", 0) == 0; });
    return {it, log.end()};
}

TEST(MessageSeries, FromAnotherThreadEachMessageIsHandledInOrderBeforeTheSenderGoesOn)
{
    CSeriesDlg dlg;
    const std::vector<WPARAM> values = Values(300);
    std::atomic<bool> returned{false};
    std::atomic<LRESULT> result{-1};
    std::atomic<LRESULT> unmapped{-1};
    bool handledAfterReturn = false;
    dlg.m_inHandler = [&](CSeriesDlg&, WPARAM) { handledAfterReturn |= returned.load(); };
    dlg.Run([&](CTestDlg& d) {
        std::thread sender([&, hwnd = d.m_hWnd] {
            result = AfxSendMessageSeries(hwnd, WM_SERIES, values.data(), values.size(), 9);
            returned = true;
            // A message nobody maps gets the default processing, and counts
            // as delivered.
            unmapped = AfxSendMessageSeries(hwnd, WM_UNMAPPED, values.data(), 3, 9);
            WakeEventLoop();
        });
        // Served from the event loop.
        while (unmapped.load() == -1)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        sender.join();
    });
    EXPECT_EQ(result.load(), 300);
    EXPECT_EQ(unmapped.load(), 3);
    EXPECT_EQ(dlg.m_values, values);
    EXPECT_EQ(dlg.m_params, std::vector<LPARAM>(300, 9));
    EXPECT_FALSE(handledAfterReturn) << "the sender went on before the last handler had run";
}

TEST(MessageSeries, FromTheWindowsOwnThreadRunsAtOnceAndToNoWindowDeliversNothing)
{
    CSeriesDlg dlg;
    HWND gone = nullptr;
    dlg.Run([&](CTestDlg& d) {
        gone = d.m_hWnd;
        const std::vector<WPARAM> values = Values(5);
        EXPECT_EQ(AfxSendMessageSeries(d.m_hWnd, WM_SERIES, values.data(), values.size(), 2), 5);
        EXPECT_EQ(dlg.m_values, values);
        EXPECT_EQ(AfxSendMessageSeries(d.m_hWnd, WM_SERIES, values.data(), 0, 2), 0);
        EXPECT_EQ(dlg.m_values.size(), 5u);
    });
    const std::vector<WPARAM> values = Values(4);
    EXPECT_EQ(AfxSendMessageSeries(gone, WM_SERIES, values.data(), values.size(), 1), 0);
    LRESULT fromThread = -1;
    std::thread([&] { fromThread = AfxSendMessageSeries(gone, WM_SERIES, values.data(), values.size(), 1); }).join();
    EXPECT_EQ(fromThread, 0);
    EXPECT_EQ(dlg.m_values.size(), 5u);
}

TEST(MessageSeries, IsServedWhileTheWindowThreadWaitsAndAHandlerMayWaitInTurn)
{
    CSeriesDlg dlg;
    const std::vector<WPARAM> values = Values(40);
    std::thread other;
    std::atomic<bool> otherDone{false};
    // Part-way through the series a handler waits for another thread's
    // message: the window thread must serve it although a series is open.
    dlg.m_inHandler = [&](CSeriesDlg& d, WPARAM value) {
        if (value != 10)
            return;
        other = std::thread([&, hwnd = d.m_hWnd] {
            ::SendMessageA(hwnd, WM_TEST_BYTE, 77, 1);
            otherDone = true;
            AfxWakeWaiters();
        });
        AfxWaitServingMessages([&] { return otherDone.load(); });
    };
    dlg.Run([&](CTestDlg& d) {
        std::atomic<bool> finished{false};
        std::thread sender([&, hwnd = d.m_hWnd] {
            AfxSendMessageSeries(hwnd, WM_SERIES, values.data(), values.size(), 3);
            finished = true;
            AfxWakeWaiters();
        });
        AfxWaitServingMessages([&] { return finished.load(); });
        sender.join();
        other.join();
    });
    std::vector<std::string> expected;
    for (WPARAM v : values) {
        expected.push_back("series:" + std::to_string(v));
        if (v == 10)
            expected.push_back("byte:77,1");
    }
    expected.push_back("destroy");
    EXPECT_EQ(FromSeries(dlg.m_log), expected);
}

TEST(MessageSeries, ALongSeriesLetsTheEventLoopRunBetweenItsMessagesInOrder)
{
    CSeriesDlg dlg;
    const std::vector<WPARAM> values = Values(20);
    QObject context;
    // Handlers that take milliseconds each; the first one posts an event,
    // which the window thread gets to before the series is through.
    dlg.m_inHandler = [&](CSeriesDlg& d, WPARAM value) {
        if (value == 0)
            QMetaObject::invokeMethod(&context, [&d] { d.m_log.push_back("event"); }, Qt::QueuedConnection);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
    dlg.Run([&](CTestDlg& d) {
        std::atomic<LRESULT> result{-1};
        std::thread sender([&, hwnd = d.m_hWnd] {
            result = AfxSendMessageSeries(hwnd, WM_SERIES, values.data(), values.size(), 4);
            WakeEventLoop();
        });
        while (result.load() == -1)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        sender.join();
        EXPECT_EQ(result.load(), 20);
    });
    EXPECT_EQ(dlg.m_values, values);
    const std::vector<std::string> log = FromSeries(dlg.m_log);
    const auto event = std::find(log.begin(), log.end(), "event");
    ASSERT_NE(event, log.end());
    EXPECT_LT(event - log.begin(), 20) << "the event loop did not run until the series was through";
}

TEST(MessageSeries, AWindowThatDiesPartWayGetsNoneOfTheRest)
{
    // A status bar whose seventh handler destroys it.
    CSeriesBar bar;
    const std::vector<WPARAM> values = Values(50);
    std::atomic<LRESULT> result{-1};
    CTestDlg dlg;
    dlg.Run([&](CTestDlg& d) {
        ASSERT_TRUE(bar.Create(WS_CHILD | WS_VISIBLE, RECT{}, &d, 40));
        std::thread sender([&, hwnd = bar.m_hWnd] {
            result = AfxSendMessageSeries(hwnd, WM_SERIES, values.data(), values.size(), 6);
            WakeEventLoop();
        });
        while (result.load() == -1)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        sender.join();
        EXPECT_EQ(::GetDlgItem(d.m_hWnd, 40), nullptr);
    });
    EXPECT_EQ(result.load(), 7);
    EXPECT_EQ(bar.m_values, Values(7));
}

}  // namespace
