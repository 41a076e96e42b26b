// The application object: InitInstance runs the main dialog modally as the
// application's main window and returns FALSE once it ends, leaving no main
// window behind.
#include <gtest/gtest.h>

#include <QTimer>

#include "app/tavrinapp.h"
#include "console/tavrindlg.h"
#include "res/resource.h"
#include "tests/support/boxes.h"
#include "tests/support/dialog.h"

TEST(App, InitInstanceRunsTheMainDialogAndReturnsFalseWhenItEnds)
{
    AfxSetResources(&g_tavrinResources);
    testsupport::BoxRecorder boxes;
    CTavrinApp app;
    ASSERT_EQ(AfxGetApp(), &app);

    bool sawDialog = false;
    QTimer starter;
    starter.callOnTimeout([&] {
        CWnd* main = AfxGetMainWnd();
        if (!main || !IsWindowVisible(main->m_hWnd))
            return;
        starter.stop();
        sawDialog = dynamic_cast<CTavrinDlg*>(main) != nullptr;
        testsupport::Ui(main->m_hWnd).click(IDC_EXIT_BUTTON);
    });
    starter.start(0);

    EXPECT_FALSE(app.InitInstance());
    EXPECT_TRUE(sawDialog);
    // The dialog lived in InitInstance's frame: nothing may still name it.
    EXPECT_EQ(AfxGetMainWnd(), nullptr);
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{});
}
