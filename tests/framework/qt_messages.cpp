// Message maps and default processing; messages and series of messages sent
// from other threads, the wait that serves them, and message boxes from other
// threads.
#define FIXTURE_MESSAGE_MAP
#include "qt_fixture.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPointer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <numeric>
#include <thread>


using namespace fixture;
using testsupport::ServeUntil;
using testsupport::WaitUntil;

namespace {

TEST(MessageMap, TheDialogsKeysBecomeCommandsUnlessAnEditWantsThem)
{
    CTestDlg dlg;
    const INT_PTR result = dlg.Run([](CTestDlg& d) {
        d.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_GO, EN_CHANGE), 0);  // the right id, another code
        // Enter: on a push button a click, in an edit IDOK, in a multi-line
        // edit that wants it a line break (CR LF); Ctrl+Enter always a line break.
        for (int id : {IDC_GO, IDC_LINE, IDC_MULTI, IDC_TYPED}) {
            d.Widget(id)->setFocus();
            QTest::keyClick(d.Widget(id), Qt::Key_Return);
        }
        QTest::keyClick(d.Widget(IDC_MULTI), Qt::Key_Return, Qt::ControlModifier);
        EXPECT_EQ(::GetWindowTextLengthA(d.Item(IDC_TYPED)), 2);
        EXPECT_EQ(::GetWindowTextLengthA(d.Item(IDC_MULTI)), 2);
        // Tab moves on from a multi-line edit; Escape in it cancels the dialog.
        QTest::keyClick(d.Widget(IDC_TYPED), Qt::Key_Tab);
        EXPECT_NE(QApplication::focusWidget(), d.Widget(IDC_TYPED));
        EXPECT_EQ(::GetWindowTextLengthA(d.Item(IDC_TYPED)), 2);
        QTest::keyClick(d.Widget(IDC_MULTI), Qt::Key_Escape);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(dlg.m_log, (std::vector<std::string>{"init", "go", "ok", "ok", "typed-change", "cancel"}));
}

// Its WM_SETTEXT handler sends a message to a child before it asks for the
// default processing of its own message.
class CRelayDlg : public CTestDlg {
protected:
    afx_msg LRESULT OnSetText(WPARAM, LPARAM)
    {
        ::SetWindowTextA(Item(IDC_LABEL), "child");
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
        EXPECT_EQ(testsupport::WindowText(d.m_hWnd), "caption");
        EXPECT_EQ(testsupport::WindowText(d.Item(IDC_LABEL)), "child");
    });
}

// Answers the fixture's byte message with a handler of its own.
class CClaimDlg : public CTestDlg {
protected:
    afx_msg LRESULT OnOwnByte(WPARAM wParam, LPARAM) { return static_cast<LRESULT>(wParam) + 1000; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CClaimDlg, CTestDlg)
    ON_MESSAGE(WM_TEST_BYTE, &CClaimDlg::OnOwnByte)
END_MESSAGE_MAP()

// Each class's answer is its own, whichever class asked first: a derived
// class's entry wins over its base's, and a class without one finds the base's.
TEST(MessageMap, AClassAndItsBasesAnswerTheSameMessageEachWithItsOwnEntry)
{
    CTestDlg dlg;
    dlg.Run([](CTestDlg& base) {
        EXPECT_EQ(base.SendMessage(WM_TEST_BYTE, 1, 0), 2);
        CClaimDlg claim;
        claim.Run([&](CTestDlg& d) {
            EXPECT_EQ(d.SendMessage(WM_TEST_BYTE, 1, 0), 1001);
            EXPECT_EQ(base.SendMessage(WM_TEST_BYTE, 1, 0), 2);
            EXPECT_EQ(d.SendMessage(WM_TEST_BYTE, 2, 0), 1002);
            CRelayDlg relay;  // its own map holds WM_SETTEXT only
            relay.Run([&](CTestDlg& r) { EXPECT_EQ(r.SendMessage(WM_TEST_BYTE, 3, 0), 4); });
        });
        EXPECT_EQ(base.m_bytes[0], (std::vector<WPARAM>{1, 1}));
    });
}

// An edit whose wrapper answers the edit's own replace requests in its map,
// then lets the edit do them.
class CWatchedEdit : public CEdit {
public:
    int m_replaces = 0;

protected:
    afx_msg LRESULT OnReplaceSel(WPARAM, LPARAM)
    {
        ++m_replaces;
        return Default();
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CWatchedEdit, CEdit)
    ON_MESSAGE(EM_REPLACESEL, &CWatchedEdit::OnReplaceSel)
END_MESSAGE_MAP()

class CWatchDlg : public CTestDlg {
public:
    CWatchedEdit m_edit;
    void DoDataExchange(CDataExchange* pDX) override
    {
        CTestDlg::DoDataExchange(pDX);
        DDX_Control(pDX, IDC_MULTI, m_edit);
    }
};

// A control's own requests reach its wrapper's map where the map names them,
// and the control's processing otherwise, with or without such a wrapper.
TEST(MessageMap, AControlsRequestsReachItsWrappersMapOnlyWhereTheMapNamesThem)
{
    CWatchDlg dlg;
    dlg.Run([](CTestDlg& base) {
        CWatchedEdit& edit = static_cast<CWatchDlg&>(base).m_edit;
        edit.ReplaceSel("ab");
        edit.SetSel(0, 1);
        edit.ReplaceSel("x");
        EXPECT_EQ(edit.m_replaces, 2);
        EXPECT_EQ(testsupport::WindowText(edit.m_hWnd), "xb");
        EXPECT_EQ(edit.GetWindowTextLength(), 2);
        int start = -1, end = -1;
        edit.GetSel(start, end);
        EXPECT_EQ(start, 1);
        EXPECT_EQ(end, 1);
        CEdit plain;  // the same requests on an edit without a map of its own
        plain.m_hWnd = base.Item(IDC_LINE);
        plain.ReplaceSel("cd");
        EXPECT_EQ(testsupport::WindowText(plain.m_hWnd), "cd");
        EXPECT_EQ(edit.m_replaces, 2);
        plain.m_hWnd = nullptr;
    });
}

// A handle names its window's slot and the slot's generation: once the window
// is gone, its handle names nothing, even when a new window has its slot.
TEST(WindowHandles, AGoneWindowsHandleNamesNothingWhileNewWindowsTakeItsSlot)
{
    std::vector<HWND> gone;
    {
        CTestDlg first;
        first.Run([&](CTestDlg& d) {
            gone = {d.m_hWnd, d.Item(IDC_GO), d.Item(IDC_MULTI), d.Item(IDC_LABEL)};
        });
    }
    CTestDlg second;
    second.Run([&](CTestDlg& d) {
        const std::vector<HWND> now = {d.m_hWnd, d.Item(IDC_GO), d.Item(IDC_MULTI), d.Item(IDC_LABEL)};
        const auto slot = [](HWND h) { return reinterpret_cast<uintptr_t>(h) & 0xFFFFFFFFu; };
        bool reused = false;
        for (HWND old : gone) {
            EXPECT_FALSE(::IsWindow(old));
            EXPECT_EQ(::SendMessageA(old, WM_GETTEXTLENGTH, 0, 0), 0);
            EXPECT_EQ(AfxWidgetFromHandle(old), nullptr);
            for (HWND h : now) {
                EXPECT_NE(h, old);
                reused = reused || slot(h) == slot(old);
            }
        }
        EXPECT_TRUE(reused) << "no slot was taken again: the test proves nothing";
        EXPECT_TRUE(::SetWindowTextA(now[1], "again"));
        EXPECT_EQ(testsupport::WindowText(now[1]), "again");
    });
}

std::vector<WPARAM> Values(size_t count)
{
    std::vector<WPARAM> values(count);
    std::iota(values.begin(), values.end(), WPARAM(0));
    return values;
}

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
        for (int s = 0; s < kSenders; ++s)
            EXPECT_EQ(d.m_bytes[s], Values(kEach)) << "sender " << s;
    });
}

// Handlers that take milliseconds each: the first posts an event, which the
// window thread gets to before the series is through; the eleventh waits for
// another thread's message, which the window thread serves although a series
// is open.
TEST(MessageSeries, IsHandledInOrderWithTheEventLoopAndNestedWaitsBetweenBeforeTheSenderGoesOn)
{
    CTestDlg dlg;
    const std::vector<WPARAM> values = Values(20);
    std::atomic<bool> returned{false};
    bool handledAfterReturn = false;
    QObject context;
    std::thread other;
    std::atomic<bool> otherDone{false};
    dlg.m_inHandler = [&](CTestDlg& d, WPARAM value) {
        handledAfterReturn |= returned.load();
        if (value == 0)
            QMetaObject::invokeMethod(&context, [&d] { d.m_log.push_back("event"); }, Qt::QueuedConnection);
        if (value == 10) {
            other = std::thread([&, hwnd = d.m_hWnd] {
                ::SendMessageA(hwnd, WM_TEST_BYTE, 77, 1);
                otherDone = true;
                AfxWakeWaiters();
            });
            AfxWaitServingMessages([&] { return otherDone.load(); });
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
    // A message nobody maps gets the default processing, and counts as delivered.
    std::vector<AFX_SERIES_MSG> series;
    for (WPARAM value : values)
        series.push_back({WM_TEST_BYTE, value, 4});
    series.insert(series.end(), 3, {WM_USER + 21, 0, 9});
    std::atomic<LRESULT> delivered{-1};
    dlg.Run([&](CTestDlg& d) {
        std::thread sender([&, hwnd = d.m_hWnd] {
            delivered = AfxSendMessageSeries(hwnd, series.data(), series.size());
            returned = true;
        });
        EXPECT_TRUE(WaitUntil([&] { return delivered.load() != -1; }));
        sender.join();
    });
    other.join();
    EXPECT_EQ(delivered.load(), 23);
    EXPECT_EQ(dlg.m_bytes[4], values);
    EXPECT_FALSE(handledAfterReturn) << "the sender went on before the last handler had run";
    const auto at = [&](const char* entry) { return std::find(dlg.m_log.begin(), dlg.m_log.end(), entry); };
    EXPECT_LT(at("event"), at("byte:19,4")) << "the event loop did not run until the series was through";
    EXPECT_EQ(at("byte:77,1"), at("byte:10,4") + 1) << "served inside the handler that waited";
}

// --- Message boxes -------------------------------------------------------------

QMessageBox* ShownBox()
{
    for (QWidget* w : QApplication::allWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            return box;
    return nullptr;
}

// The window thread waits for a worker's box to be answered; its windows'
// input and timer ticks wait too, and come after the wait, the ticks as one.
TEST(MessageBoxes, AWorkersBoxIsAnsweredWhileTheWindowThreadWaitsAndHoldsInputAndTicksBack)
{
    CTestDlg dlg;
    dlg.Run([](CTestDlg& d) {
        d.SetTimer(3, 0);  // clamped to the minimum, not a busy loop
        std::atomic<int> answer{0};
        std::thread worker([&] {
            answer = MessageBoxA(nullptr, Gbk("打开失败").c_str(), "Application Error", MB_OK | MB_ICONERROR);
            AfxWakeWaiters();
        });
        // The user answers the box (well after the window's timer is due).
        int polls = 0;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            QMessageBox* box = ShownBox();
            if (!box || ++polls != 10)
                return;
            EXPECT_EQ(box->text(), QString::fromUtf8("打开失败"));
            EXPECT_EQ(box->windowModality(), Qt::NonModal) << "an ownerless box leaves the dialog usable";
            // A click on the dialog meanwhile is held back, not lost.
            QTest::mouseClick(d.Widget(IDC_GO), Qt::LeftButton);
            EXPECT_EQ(d.m_log.back(), "init");
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        });
        timer.start(5);
        AfxWaitServingMessages([&] { return answer.load() != 0; });
        timer.stop();
        worker.join();
        EXPECT_EQ(answer.load(), IDOK);
        d.KillTimer(3);
        QCoreApplication::processEvents();
        EXPECT_EQ(std::vector<std::string>(d.m_log.end() - 3, d.m_log.end()),
                  (std::vector<std::string>{"init", "timer:3", "go"}))
            << "the held-back tick, once, and click after the wait";
    });
}

TEST(MessageBoxes, AWorkersBoxRaisedOverAModalDialogOutlivesItAndIsNotBlockedByIt)
{
    CTestDlg dlg;
    dlg.Run([](CTestDlg&) {
        std::atomic<int> answer{0};
        std::thread worker;
        QPointer<QMessageBox> box;
        CTestDlg about;  // a second modal dialog, as an about box is
        about.Run([&](CTestDlg&) {
            worker = std::thread([&] {
                answer = MessageBoxA(nullptr, "WARNING: failed\n", "Application Error", MB_OK | MB_ICONERROR);
                AfxWakeWaiters();
            });
            ASSERT_TRUE(WaitUntil([&] { return (box = ShownBox()) != nullptr; }));
        });
        EXPECT_TRUE(box && box->isVisible()) << "the box went with the dialog it was raised over";
        EXPECT_EQ(answer.load(), 0);
        if (box && box->isVisible()) {
            // The user answers it later, through the window system, which drops
            // input to a window that a modal dialog (here the first one) blocks.
            QCoreApplication::processEvents();
            QWidget* ok = box->button(QMessageBox::Ok);
            QTest::mouseClick(box->windowHandle(), Qt::LeftButton, {}, ok->mapTo(box, ok->rect().center()));
            EXPECT_TRUE(ServeUntil([&] { return answer.load() != 0; })) << "the click did not reach the box";
        }
        if (box && answer.load() == 0)
            box->reject();  // lets the worker go after a failure
        worker.join();
        EXPECT_EQ(answer.load(), IDOK);
    });
}

}  // namespace
