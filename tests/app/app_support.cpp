#include "tests/app/app_support.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include "framework/afxqt.h"
#include "res/resource.h"

namespace apptest {

INT_PTR RunDialog(CDialog& dlg, const std::function<void()>& body)
{
    // Ends the run when the body left the dialog open. Started after the body
    // and fired by the modal loop's next round, which does not come when the
    // body ended the dialog: then the loop returns first and this timer dies
    // with this frame. So the result tells which of the two ended the run.
    QTimer ender;
    ender.setSingleShot(true);
    QObject::connect(&ender, &QTimer::timeout, [&] {
        if (IsWindow(dlg.m_hWnd))
            dlg.EndDialog(kLeftOpen);
    });

    bool ran = false;
    QTimer starter;
    starter.setInterval(0);
    QObject::connect(&starter, &QTimer::timeout, [&] {
        if (ran || !IsWindow(dlg.m_hWnd))
            return;
        ran = true;
        starter.stop();
        body();
        ender.start(0);
    });
    starter.start();

    // Generous: only a hung run ever meets it.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        ADD_FAILURE() << "the modal run did not end";
        if (IsWindow(dlg.m_hWnd))
            dlg.EndDialog(-2);
    });
    watchdog.start(120000);

    const INT_PTR result = dlg.DoModal();
    EXPECT_TRUE(ran) << "the dialog's window never existed";
    return result;
}

struct DialogCloser::Impl {
    QTimer timer;
};

DialogCloser::DialogCloser(HWND main, int nCommand) : m_impl(new Impl)
{
    m_impl->timer.setInterval(5);
    QObject::connect(&m_impl->timer, &QTimer::timeout, [this, main, nCommand] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            const HWND hWnd = AfxHandleFromWidget(widget);
            if (!hWnd || hWnd == main || !widget->isVisible())
                continue;
            m_captions.push_back(WindowText(hWnd));
            SendMessageA(hWnd, WM_COMMAND, MAKEWPARAM(nCommand, BN_CLICKED), 0);
            return;
        }
    });
    m_impl->timer.start();
}

DialogCloser::~DialogCloser()
{
    delete m_impl;
}

std::string ItemText(HWND hDlg, int id)
{
    return WindowText(GetDlgItem(hDlg, id));
}

void DialogTest::SetUp()
{
    AfxSetResources(&g_tavrinResources);
    m_boxes = std::make_unique<BoxRecorder>();
}

void DialogTest::TearDown()
{
    m_boxes.reset();
}

}  // namespace apptest
