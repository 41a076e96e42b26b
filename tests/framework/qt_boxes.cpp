// Message boxes from any thread, and framework threads that cannot start.
#include "qt_fixture.h"
#include "tests/support/wait.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>

#include <atomic>
#include <mutex>
#include <thread>

using namespace fixture;
using testsupport::ServeUntil;
using testsupport::WaitUntil;

namespace {

struct Box {
    HWND owner;
    std::string text;
    std::string caption;
    UINT style;
    bool onGuiThread;
};

TEST(MessageBoxes, TheHookAnswersBoxesFromTwoThreads)
{
    std::mutex mutex;
    std::vector<Box> boxes;
    const std::thread::id gui = std::this_thread::get_id();
    AfxSetMessageBoxHook([&](HWND owner, const CString& text, const CString& caption, UINT style) {
        std::lock_guard lock(mutex);
        boxes.push_back({owner, text.bytes(), caption.bytes(), style, std::this_thread::get_id() == gui});
        return (style & 0x0F) == MB_OKCANCEL ? IDCANCEL : IDOK;
    });
    CTestDlg dlg;
    dlg.Run([&](CTestDlg& d) {
        const std::string notice = Gbk("串口没有开启，请先打开串口");
        int fromWorker = 0;
        std::thread worker([&] {
            fromWorker = MessageBoxA(nullptr, "WARNING: failed\n", "Application Error", MB_OKCANCEL | MB_ICONERROR);
        });
        EXPECT_EQ(d.MessageBox(notice.c_str(), "Tavrin", MB_ICONEXCLAMATION), IDOK);
        worker.join();
        EXPECT_EQ(fromWorker, IDCANCEL);
    });
    AfxSetMessageBoxHook(nullptr);
    ASSERT_EQ(boxes.size(), 2u);
    std::sort(boxes.begin(), boxes.end(), [](const Box& a, const Box& b) { return a.onGuiThread > b.onGuiThread; });
    EXPECT_NE(boxes[0].owner, nullptr);
    EXPECT_EQ(boxes[0].text, Gbk("串口没有开启，请先打开串口"));
    EXPECT_EQ(boxes[0].caption, "Tavrin");
    EXPECT_EQ(boxes[0].style, static_cast<UINT>(MB_ICONEXCLAMATION));
    EXPECT_FALSE(boxes[1].onGuiThread) << "the hook runs on the thread that raised the box";
    EXPECT_EQ(boxes[1].owner, nullptr);
    EXPECT_EQ(boxes[1].caption, "Application Error");
}

QMessageBox* ShownBox()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            return box;
    for (QWidget* w : QApplication::allWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            return box;
    return nullptr;
}

TEST(MessageBoxes, AWorkersBoxIsAnsweredWhileTheWindowThreadWaits)
{
    CTestDlg dlg;
    dlg.Run([](CTestDlg& d) {
        std::atomic<int> answer{0};
        std::thread worker([&] {
            const std::string text = Gbk("打开失败");
            answer = MessageBoxA(nullptr, text.c_str(), "Application Error", MB_OK | MB_ICONERROR);
            AfxWakeWaiters();
        });
        // The user answers the box; the window thread is in the serving wait
        // the whole time and its other windows' input is held back.
        bool clicked = false;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            QMessageBox* box = ShownBox();
            if (!box || clicked)
                return;
            EXPECT_EQ(box->text(), QString::fromUtf8("打开失败"));
            EXPECT_EQ(box->windowModality(), Qt::NonModal) << "an ownerless box leaves the dialog usable";
            // A click on the dialog meanwhile is held back, not lost.
            QTest::mouseClick(AfxWidgetFromHandle(::GetDlgItem(d.m_hWnd, IDC_GO)), Qt::LeftButton);
            EXPECT_EQ(d.m_log.back(), "init");
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
            clicked = true;
        });
        timer.start(5);
        AfxWaitServingMessages([&] { return answer.load() != 0; });
        timer.stop();
        worker.join();
        EXPECT_EQ(answer.load(), IDOK);
        QCoreApplication::processEvents();
        EXPECT_EQ(d.m_log.back(), "go") << "the held-back click arrives after the wait";
    });
}

TEST(MessageBoxes, AWorkersBoxRaisedOverAModalDialogOutlivesItAndIsNotBlockedByIt)
{
    CTestDlg dlg;
    dlg.Run([](CTestDlg&) {
        std::atomic<int> answer{0};
        std::thread worker;
        QPointer<QMessageBox> box;
        CTestDlg about;  // a second modal dialog, as the about box is
        about.Run([&](CTestDlg&) {
            worker = std::thread([&] {
                answer = MessageBoxA(nullptr, "WARNING: failed\n", "Application Error", MB_OK | MB_ICONERROR);
                AfxWakeWaiters();
            });
            ASSERT_TRUE(WaitUntil([&] { return (box = ShownBox()) != nullptr; }));
        });
        if (!box || !box->isVisible()) {
            ADD_FAILURE() << "the box went with the dialog it was raised over";
            if (box)
                box->reject();
            worker.join();
            return;
        }
        EXPECT_EQ(answer.load(), 0);
        // The user answers it later, through the window system, which drops
        // input to a window that a modal dialog (here the first one) blocks.
        QCoreApplication::processEvents();
        QWidget* ok = box->button(QMessageBox::Ok);
        QTest::mouseClick(box->windowHandle(), Qt::LeftButton, {}, ok->mapTo(box, ok->rect().center()));
        EXPECT_TRUE(ServeUntil([&] { return answer.load() != 0; })) << "the click did not reach the box";
        if (box && answer.load() == 0)
            box->reject();  // lets the worker go after a failure
        worker.join();
        EXPECT_EQ(answer.load(), IDOK);
    });
}

UINT Idle(LPVOID) { return 0; }

TEST(Threads, StartFailuresAreReportedAsNoThread)
{
    AfxSetThreadCreationHook([] { return false; });
    EXPECT_EQ(AfxBeginThread(Idle, nullptr), nullptr);
    AfxSetThreadCreationHook(nullptr);
    // Only what the program asks for is provided; the rest is refused.
    EXPECT_EQ(AfxBeginThread(Idle, nullptr, 2), nullptr);
    EXPECT_EQ(AfxBeginThread(Idle, nullptr, THREAD_PRIORITY_NORMAL, 0, 4 /* suspended */), nullptr);
    EXPECT_EQ(AfxBeginThread(nullptr, nullptr), nullptr);
    DWORD code = 0;
    EXPECT_FALSE(AfxGetThreadExitCode(0xFFFFFFu, &code));
}

struct Ending {
    std::atomic<DWORD> id{0};
    std::atomic<bool> unwound{false};
};

UINT EndDeepInside(LPVOID param)
{
    // The thread's own object may be gone as soon as it ends: the test takes
    // the id from here.
    auto* ending = static_cast<Ending*>(param);
    ending->id = AfxGetCurrentThreadId();
    struct Flag {
        std::atomic<bool>* set;
        ~Flag() { *set = true; }
    } flag{&ending->unwound};
    AfxEndThread(100);
}

TEST(Threads, EndThreadEndsTheThreadAndRunsItsDestructors)
{
    Ending ending;
    ASSERT_NE(AfxBeginThread(EndDeepInside, &ending, THREAD_PRIORITY_NORMAL, 64 * 1024), nullptr);
    DWORD code = 0;
    // Not a window thread here: a plain wait, woken by the thread's end.
    std::thread([&] {
        AfxWaitServingMessages([&] { return ending.id.load() != 0 && AfxGetThreadExitCode(ending.id, &code) != FALSE; });
    }).join();
    EXPECT_EQ(code, 100u);
    EXPECT_TRUE(ending.unwound.load());
}

}  // namespace
