// Message maps, default processing, messages sent from other threads and the
// wait that serves them.
#define FIXTURE_MESSAGE_MAP
#include "qt_fixture.h"

#include <QTest>

#include <atomic>
#include <cstdio>
#include <thread>

#include "tests/support/text.h"

using namespace fixture;
using testsupport::WindowText;

namespace {

HWND Item(CTestDlg& dlg, int id) { return ::GetDlgItem(dlg.m_hWnd, id); }

TEST(MessageMap, RoutesByMessageCodeAndId)
{
    CTestDlg dlg;
    dlg.Run([](CTestDlg& d) {
        // A click of the button and of the check box: code BN_CLICKED, their ids.
        QTest::mouseClick(AfxWidgetFromHandle(Item(d, IDC_GO)), Qt::LeftButton);
        d.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_CHECK, BN_CLICKED), 0);
        // The right id with another code reaches no handler.
        d.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_GO, EN_CHANGE), 0);
        // A mapped user message carries its parameters and its result back.
        EXPECT_EQ(::SendMessageA(d.m_hWnd, WM_TEST_BYTE, 255, 3), 256);
        // A message nobody maps gets the default processing: nothing, 0.
        EXPECT_EQ(::SendMessageA(d.m_hWnd, WM_USER + 8, 1, 3), 0);
        // Typing in an edit is EN_CHANGE with the edit's id.
        QTest::keyClicks(AfxWidgetFromHandle(Item(d, IDC_LINE)), QStringLiteral("x"));
        QTest::keyClicks(AfxWidgetFromHandle(Item(d, IDC_TYPED)), QStringLiteral("y"));
    });
    const std::vector<std::string> expected{"init",        "go",           "check:0", "byte:255,3",
                                            "line-change", "typed-change", "destroy"};
    EXPECT_EQ(dlg.m_log, expected);
}

TEST(MessageMap, DialogKeysAndCloseBoxGiveTheDialogCommands)
{
    CTestDlg dlg;
    dlg.Run([](CTestDlg& d) {
        QWidget* window = AfxWidgetFromHandle(d.m_hWnd);
        // Enter on a push button clicks it.
        QWidget* go = AfxWidgetFromHandle(Item(d, IDC_GO));
        go->setFocus();
        QTest::keyClick(go, Qt::Key_Return);
        // Enter in a single-line edit gives IDOK, which this dialog ignores.
        QWidget* line = AfxWidgetFromHandle(Item(d, IDC_LINE));
        line->setFocus();
        QTest::keyClick(line, Qt::Key_Return);
        // Enter in a multi-line edit that wants it is a line break, not IDOK.
        QWidget* typed = AfxWidgetFromHandle(Item(d, IDC_TYPED));
        typed->setFocus();
        QTest::keyClick(typed, Qt::Key_Return);
        EXPECT_EQ(::GetWindowTextLengthA(Item(d, IDC_TYPED)), 2);  // CR LF
        // The close box: SC_CLOSE through OnSysCommand, whose default gives IDCANCEL.
        d.m_log.push_back("close-box");
        window->close();
        EXPECT_FALSE(d.IsWindowVisible()) << "IDCANCEL ended the dialog";
    });
    const std::vector<std::string> expected{"init",      "go",     "ok",     "typed-change",
                                            "close-box", "syscommand:" + std::to_string(SC_CLOSE),
                                            "cancel",    "destroy"};
    EXPECT_EQ(dlg.m_log, expected);
}

TEST(MessageMap, EscapeCancelsAndSystemCommandsCanBeTakenOver)
{
    CTestDlg dlg;
    dlg.m_bCallDefaultForSysCommand = FALSE;
    const INT_PTR result = dlg.Run([](CTestDlg& d) {
        // Without the default processing, SC_CLOSE closes nothing.
        d.SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
        EXPECT_NE(d.m_hWnd, nullptr);
        QTest::keyClick(AfxWidgetFromHandle(Item(d, IDC_LINE)), Qt::Key_Escape);
    });
    EXPECT_EQ(result, IDCANCEL);
    const std::vector<std::string> expected{"init", "syscommand:" + std::to_string(SC_CLOSE), "cancel", "destroy"};
    EXPECT_EQ(dlg.m_log, expected);
}

TEST(MessageMap, OnOkExchangesDataAndEndsWithIdok)
{
    CTestDlg dlg;
    dlg.m_bHandleOk = TRUE;
    const INT_PTR result = dlg.Run([](CTestDlg& d) {
        ::SetWindowTextA(Item(d, IDC_LINE), "typed");
        d.SendMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dlg.m_strLine, "typed");
}

// Its WM_SETTEXT handler sends a message to a child before it asks for the
// default processing of its own message.
class CRelayDlg : public CTestDlg {
protected:
    afx_msg LRESULT OnSetText(WPARAM, LPARAM)
    {
        ::SetWindowTextA(Item(*this, IDC_LABEL), "child");
        return Default();
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CRelayDlg, CTestDlg)
    ON_MESSAGE(WM_SETTEXT, &CRelayDlg::OnSetText)
END_MESSAGE_MAP()

TEST(MessageMap, DefaultAfterANestedSendProcessesTheHandlersOwnMessage)
{
    CRelayDlg dlg;
    dlg.Run([](CTestDlg& d) {
        EXPECT_EQ(::SetWindowTextA(d.m_hWnd, "caption"), TRUE);
        EXPECT_EQ(WindowText(d.m_hWnd), "caption");
        EXPECT_EQ(WindowText(Item(d, IDC_LABEL)), "child");
    });
}

// --- Sent messages -----------------------------------------------------------------

TEST(SentMessages, FromSeveralThreadsAtOnceEachIsServedOnceInItsSendersOrderWhileTheWindowThreadWaits)
{
    CTestDlg dlg;
    dlg.Run([](CTestDlg& d) {
        constexpr int kSenders = 4;
        constexpr int kEach = 300;
        std::atomic<int> finished{0};
        std::atomic<int> wrongResults{0};
        std::vector<std::thread> senders;
        for (int s = 0; s < kSenders; ++s) {
            senders.emplace_back([&, s, hwnd = d.m_hWnd] {
                for (int i = 0; i < kEach; ++i)
                    if (::SendMessageA(hwnd, WM_TEST_BYTE, static_cast<WPARAM>(i), s) != i + 1)
                        ++wrongResults;
                ++finished;
                AfxWakeWaiters();
            });
        }
        // The way the port engine waits for its monitor thread: the senders'
        // messages must get through or this never returns.
        AfxWaitServingMessages([&] { return finished.load() == kSenders; });
        for (auto& sender : senders)
            sender.join();
        EXPECT_EQ(wrongResults.load(), 0) << "a sender got another message's result";
        std::vector<int> next(kSenders, 0);
        for (const std::string& entry : d.m_log) {
            int i = 0;
            int s = 0;
            if (std::sscanf(entry.c_str(), "byte:%d,%d", &i, &s) != 2)
                continue;
            ASSERT_TRUE(s >= 0 && s < kSenders) << entry;
            ASSERT_EQ(i, next[static_cast<size_t>(s)]++) << "sender " << s;
        }
        EXPECT_EQ(next, std::vector<int>(kSenders, kEach));
    });
}

UINT SendThenEnd(LPVOID param)
{
    ::SendMessageA(static_cast<HWND>(param), WM_TEST_BYTE, 1, 9);
    return 42;
}

TEST(SentMessages, AFrameworkThreadsEndWakesTheWaitAndKeepsItsExitCode)
{
    CTestDlg dlg;
    dlg.Run([](CTestDlg& d) {
        CWinThread* thread = AfxBeginThread(SendThenEnd, d.m_hWnd);
        ASSERT_NE(thread, nullptr);
        const DWORD id = thread->m_nThreadID;  // read before the thread can end
        DWORD code = 0;
        AfxWaitServingMessages([&] { return AfxGetThreadExitCode(id, &code) != FALSE; });
        EXPECT_EQ(code, 42u);
        EXPECT_EQ(d.m_log.back(), "byte:1,9");
    });
}

TEST(SentMessages, ToAWindowThatIsGoneFailWithoutHanging)
{
    HWND gone = nullptr;
    {
        CTestDlg dlg;
        dlg.Run([&](CTestDlg& d) { gone = d.m_hWnd; });
    }
    ASSERT_NE(gone, nullptr);
    EXPECT_FALSE(IsWindow(gone));
    EXPECT_EQ(::SendMessageA(gone, WM_TEST_BYTE, 1, 1), 0);
    LRESULT fromThread = -1;
    std::thread([&] { fromThread = ::SendMessageA(gone, WM_TEST_BYTE, 1, 1); }).join();
    EXPECT_EQ(fromThread, 0);
}

TEST(SentMessages, ASenderWaitingWhenTheWindowDiesIsReleased)
{
    std::atomic<LRESULT> result{-1};
    std::thread sender;
    {
        CTestDlg dlg;
        dlg.Run([&](CTestDlg& d) {
            // The message is queued while this thread does not serve; the
            // window dies before it is served.
            std::atomic<bool> queued{false};
            sender = std::thread([&, hwnd = d.m_hWnd] {
                queued = true;
                result = ::SendMessageA(hwnd, WM_TEST_BYTE, 5, 5);
            });
            while (!queued.load())
                std::this_thread::yield();
            d.EndDialog(IDCANCEL);
        });
    }
    sender.join();
    // Either served before the window went (6) or failed with it (0); never stuck.
    EXPECT_TRUE(result.load() == 0 || result.load() == 6) << result.load();
}

TEST(SentMessages, TimerTicksWaitWhileTheWindowThreadWaits)
{
    CTestDlg dlg;
    dlg.Run([](CTestDlg& d) {
        d.SetTimer(3, 0);  // clamped to the minimum, not a busy loop
        // A toolkit timer (not held back) ends the wait well after the
        // window's timer has become due.
        bool release = false;
        long ticksDuringWait = -1;
        QTimer::singleShot(50, [&] {
            ticksDuringWait = std::count(d.m_log.begin(), d.m_log.end(), "timer:3");
            release = true;
        });
        AfxWaitServingMessages([&] { return release; });
        EXPECT_EQ(ticksDuringWait, 0);
        // Held back during the wait, the ticks come as one afterwards.
        EXPECT_EQ(std::count(d.m_log.begin(), d.m_log.end(), "timer:3"), 1);
        d.KillTimer(3);
    });
}

}  // namespace
