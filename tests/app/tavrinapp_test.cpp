// The application object: InitInstance runs the main dialog modally as the
// application's main window and returns FALSE once it ends, leaving no main
// window behind.
#include <QTest>
#include <QTimer>
#include <QWidget>

#include "app/tavrinapp.h"
#include "console/tavrindlg.h"
#include "framework/afxqt.h"
#include "res/resource.h"
#include "tests/app/app_support.h"

using namespace apptest;

namespace {

using AppTest = DialogTest;


}  // namespace

TEST_F(AppTest, InitInstanceRunsTheMainDialogAndReturnsFalseWhenItEnds)
{
    CTavrinApp app;
    ASSERT_EQ(AfxGetApp(), &app);

    bool sawDialog = false;
    QTimer starter;
    starter.setInterval(0);
    QObject::connect(&starter, &QTimer::timeout, [&] {
        CWnd* main = AfxGetMainWnd();
        if (!main || !IsWindow(main->m_hWnd))
            return;
        starter.stop();
        sawDialog = dynamic_cast<CTavrinDlg*>(main) != nullptr;
        EXPECT_EQ(ItemText(main->m_hWnd, IDC_OPEN_BUTTON), Gbk("打开串口"));
        QTest::mouseClick(AfxWidgetFromHandle(GetDlgItem(main->m_hWnd, IDC_EXIT_BUTTON)), Qt::LeftButton);
    });
    starter.start();
    // Only a hung run meets it: Escape would end the dialog as well.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        ADD_FAILURE() << "the main dialog did not end";
        if (CWnd* main = AfxGetMainWnd())
            static_cast<CDialog*>(main)->EndDialog(IDCANCEL);
    });
    watchdog.start(120000);

    EXPECT_FALSE(app.InitInstance());
    EXPECT_TRUE(sawDialog);
    // The dialog lived in InitInstance's frame: nothing may still name it.
    EXPECT_EQ(AfxGetMainWnd(), nullptr);
}
