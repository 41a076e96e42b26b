// Dialogs from templates: geometry in dialog units, the controls through
// their messages, the status bar, the system menu, icons and painting,
// timers.
#include "qt_fixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QContextMenuEvent>
#include <QTest>

using namespace fixture;

namespace {

QWidget* Widget(CTestDlg& d, int id) { return AfxWidgetFromHandle(::GetDlgItem(d.m_hWnd, id)); }

TEST(Template, ControlsStandWhereTheirDialogUnitsSayInTheSongFont)
{
    CTestDlg dlg;
    dlg.Run([](CTestDlg& d) {
        QWidget* window = AfxWidgetFromHandle(d.m_hWnd);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(QFontInfo(window->font()).family(), QStringLiteral("AR PL UMing CN"));
        EXPECT_EQ(window->font().pixelSize(), 12) << "9 points at 96 dots per inch";

        // Base units as the platform takes them from the font.
        QFont song(QStringLiteral("AR PL UMing CN"));
        song.setPixelSize(12);
        const QFontMetrics metrics(song);
        const int alphabet = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
        const double baseX = alphabet / 52.0;
        const double baseY = metrics.height();
        auto px = [](int units, double base, int per) { return static_cast<int>(units * base / per + 0.5); };
        const double bx = static_cast<int>(baseX + 0.5);
        EXPECT_EQ(window->size(), QSize(px(200, bx, 4), px(120, baseY, 8)));
        EXPECT_EQ(Widget(d, IDC_GO)->geometry(), QRect(px(10, bx, 4), px(10, baseY, 8), px(40, bx, 4), px(14, baseY, 8)));
        EXPECT_EQ(Widget(d, IDC_MULTI)->geometry(),
                  QRect(px(80, bx, 4), px(10, baseY, 8), px(110, bx, 4), px(60, baseY, 8)));
        // An icon static takes the icon's size; a drop-down list the height of
        // its closed box, the template's height being that of the open list.
        EXPECT_EQ(Widget(d, IDC_ICON)->size(), QSize(32, 32));
        EXPECT_LT(Widget(d, IDC_LIST)->height(), px(60, baseY, 8));
        // Texts in code page 936 show as their characters.
        EXPECT_EQ(static_cast<QLabel*>(Widget(d, IDC_LABEL))->text(), QString::fromUtf8("标签"));
        CString label;
        CWnd::FromHandle(::GetDlgItem(d.m_hWnd, IDC_LABEL))->GetWindowText(label);
        EXPECT_EQ(label.bytes(), LabelText());
        // A group box is drawn under the controls and lets clicks through.
        QGroupBox* group = window->findChild<QGroupBox*>();
        ASSERT_NE(group, nullptr);
        EXPECT_TRUE(group->testAttribute(Qt::WA_TransparentForMouseEvents));
        EXPECT_EQ(window->childAt(Widget(d, IDC_CHECK)->geometry().center()), Widget(d, IDC_CHECK));
        // Tab stops follow template order; the focus starts on the first.
        EXPECT_EQ(window->focusWidget(), Widget(d, IDC_GO));
        EXPECT_EQ(Widget(d, IDC_GO)->nextInFocusChain(), Widget(d, IDC_CHECK));
    });
}

TEST(Template, AMissingTemplateFailsDoModal)
{
    class CNoTemplate : public CDialog {
    public:
        CNoTemplate() : CDialog(12345) {}
    } dlg;
    InstallResources();
    EXPECT_EQ(dlg.DoModal(), -1);
    EXPECT_EQ(dlg.m_hWnd, nullptr);
}

TEST(Controls, DropDownListKeepsPositionsAndBytes)
{
    CTestDlg dlg;
    dlg.Run([](CTestDlg& d) {
        auto* list = static_cast<CComboBox*>(d.GetDlgItem(IDC_LIST));
        EXPECT_EQ(list->GetCurSel(), CB_ERR);
        const std::string parity = Gbk("偶校验");
        EXPECT_EQ(list->InsertString(0, "8"), 0);
        EXPECT_EQ(list->InsertString(1, "6"), 1);
        EXPECT_EQ(list->InsertString(1, parity.c_str()), 1);
        EXPECT_EQ(list->InsertString(5, "x"), CB_ERR);
        EXPECT_EQ(list->GetCount(), 3);
        EXPECT_EQ(list->GetCurSel(), CB_ERR) << "inserting selects nothing";
        EXPECT_EQ(list->SetCurSel(1), 1);
        CString text;
        list->GetLBText(list->GetCurSel(), text);
        EXPECT_EQ(text.bytes(), parity);
        EXPECT_EQ(list->GetLBTextLen(1), 6);
        EXPECT_EQ(list->GetLBTextLen(7), CB_ERR);
        EXPECT_EQ(static_cast<QComboBox*>(Widget(d, IDC_LIST))->currentText(), QString::fromUtf8("偶校验"));
        // The same through messages, as the program sends them.
        EXPECT_EQ(::SendMessageA(list->m_hWnd, CB_SETCURSEL, 9, 0), CB_ERR);
        EXPECT_EQ(::SendMessageA(list->m_hWnd, CB_GETCURSEL, 0, 0), CB_ERR);
    });
}

TEST(Controls, CheckBoxStateWithAndWithoutClicks)
{
    CTestDlg dlg;
    dlg.Run([](CTestDlg& d) {
        d.m_chkCheck.SetCheck(BST_CHECKED);
        EXPECT_EQ(::SendMessageA(d.m_chkCheck.m_hWnd, BM_GETCHECK, 0, 0), BST_CHECKED);
        ::SendMessageA(d.m_chkCheck.m_hWnd, BM_SETCHECK, BST_UNCHECKED, 0);
        EXPECT_EQ(d.m_chkCheck.GetCheck(), BST_UNCHECKED);
        EXPECT_EQ(d.m_log.back(), "init") << "setting the state is no click";
        // A click on the indicator toggles the box before the handler runs.
        auto* box = static_cast<QCheckBox*>(Widget(d, IDC_CHECK));
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
        EXPECT_EQ(d.m_log.back(), "check:1");
        EXPECT_EQ(d.m_btnGo.GetCheck(), 0) << "a push button has no state";
    });
}

TEST(Controls, StatusBarAddsItsHeightAndKeepsItsParts)
{
    CTestDlg dlg;
    dlg.Run([](CTestDlg& d) {
        QWidget* window = AfxWidgetFromHandle(d.m_hWnd);
        const QSize before = window->size();
        CStatusBarCtrl bar;
        ASSERT_TRUE(bar.Create(WS_CHILD | WS_VISIBLE, CRect(0, 0, 0, 0), &d, 0));
        QWidget* barWidget = AfxWidgetFromHandle(bar.m_hWnd);
        EXPECT_EQ(window->size(), QSize(before.width(), before.height() + barWidget->height()));
        EXPECT_EQ(barWidget->geometry(), QRect(0, before.height(), before.width(), barWidget->height()));

        int edges[] = {200, 360, 520, -1};
        ASSERT_TRUE(::SendMessageA(bar.m_hWnd, SB_SETPARTS, 4, reinterpret_cast<LPARAM>(edges)));
        const std::string count = Gbk(" 接收：0 字节");
        ::SendMessageA(bar.m_hWnd, SB_SETTEXTA, 2, reinterpret_cast<LPARAM>(count.c_str()));
        bar.SetText("left", 0, 0);
        int type = -1;
        EXPECT_EQ(bar.GetText(2, &type).bytes(), count);
        EXPECT_EQ(type, 0);
        EXPECT_EQ(bar.GetText(0).bytes(), "left");
        int read[4] = {};
        EXPECT_EQ(bar.GetParts(4, read), 4);
        EXPECT_EQ(read[2], 520);
        EXPECT_EQ(read[3], -1);
        barWidget->repaint();  // paints without complaint
    });
}

TEST(SystemMenu, CarriesTheProgramsEntryAndSendsSystemCommands)
{
    CTestDlg dlg;
    dlg.Run([](CTestDlg& d) {
        CMenu* menu = d.GetSystemMenu(FALSE);
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(CMenu::FromHandle(menu->m_hMenu), menu);
        const UINT standard = menu->GetMenuItemCount();
        CString about;
        ASSERT_TRUE(about.LoadString(IDS_TEST));
        ASSERT_TRUE(menu->AppendMenu(MF_SEPARATOR));
        ASSERT_TRUE(menu->AppendMenu(MF_STRING, 0x0010, about));
        EXPECT_FALSE(menu->AppendMenu(0x0010 /* a sub-menu */, 5, "x"));
        ASSERT_EQ(menu->GetMenuItemCount(), standard + 2);
        EXPECT_EQ(menu->GetMenuItemID(static_cast<int>(standard)), static_cast<UINT>(-1));
        CString text;
        menu->GetMenuString(0x0010, text, MF_BYCOMMAND);
        EXPECT_EQ(text, about);

        // The program's entry reaches OnSysCommand; its default does nothing.
        ASSERT_TRUE(AfxChooseMenuItem(menu->m_hMenu, static_cast<int>(standard + 1)));
        EXPECT_EQ(d.m_log.back(), "syscommand:16");
        EXPECT_TRUE(d.IsWindowVisible());
        // Minimise and restore are the standard entries' defaults.
        for (int i = 0; i < static_cast<int>(standard); ++i)
            if (menu->GetMenuItemID(i) == SC_MINIMIZE)
                AfxChooseMenuItem(menu->m_hMenu, i);
        EXPECT_TRUE(d.IsIconic());
        d.SendMessage(WM_SYSCOMMAND, SC_RESTORE, 0);
        EXPECT_FALSE(d.IsIconic());
    });
}

TEST(SystemMenu, OpensOnTheBackgroundAndWithAltSpace)
{
    CTestDlg dlg;
    dlg.Run([](CTestDlg& d) {
        QWidget* window = AfxWidgetFromHandle(d.m_hWnd);
        QStringList seen;
        // The user picks Close from each popup.
        auto pickClose = [&seen] {
            auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!popup)
                return;
            const QList<QAction*> actions = popup->actions();
            seen << actions.last()->text();
            popup->setActiveAction(actions.last());
            QTest::keyClick(popup, Qt::Key_Return);
        };
        d.m_bCallDefaultForSysCommand = FALSE;  // keep the dialog open
        QTimer::singleShot(0, pickClose);
        // A right click on a button is the button's, not the menu's.
        const QPoint buttonCentre = Widget(d, IDC_GO)->geometry().center();
        QContextMenuEvent onButton(QContextMenuEvent::Mouse, buttonCentre, window->mapToGlobal(buttonCentre));
        QApplication::sendEvent(window, &onButton);
        const QPoint corner(window->width() - 2, window->height() - 2);
        QContextMenuEvent onBackground(QContextMenuEvent::Mouse, corner, window->mapToGlobal(corner));
        QApplication::sendEvent(window, &onBackground);
        EXPECT_EQ(seen.size(), 1);
        // Alt+Space is a shortcut of the active window.
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        QTimer::singleShot(0, pickClose);
        QTest::keyClick(window, Qt::Key_Space, Qt::AltModifier);
        EXPECT_EQ(seen.size(), 2);
        EXPECT_TRUE(seen.value(0).contains(QStringLiteral("Alt+F4")));
        const std::string close = "syscommand:" + std::to_string(SC_CLOSE);
        EXPECT_EQ(std::count(d.m_log.begin(), d.m_log.end(), close), 2);
    });
}

TEST(Painting, IconsAndTheMinimisedWindowsServices)
{
    CTestDlg dlg;
    dlg.Run([](CTestDlg& d) {
        const HICON icon = LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCE(IDI_TEST));
        ASSERT_NE(icon, nullptr);
        EXPECT_EQ(LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCE(IDI_TEST)), icon) << "shared";
        EXPECT_EQ(LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCE(99)), nullptr);
        EXPECT_EQ(LoadIconA(nullptr, MAKEINTRESOURCE(IDI_TEST)), nullptr);

        EXPECT_EQ(d.SetIcon(icon, TRUE), nullptr);
        EXPECT_EQ(d.SetIcon(icon, FALSE), nullptr);
        EXPECT_EQ(d.GetIcon(TRUE), icon);
        EXPECT_FALSE(AfxWidgetFromHandle(d.m_hWnd)->windowIcon().isNull());

        auto* lamp = static_cast<CStatic*>(d.GetDlgItem(IDC_ICON));
        EXPECT_EQ(lamp->SetIcon(icon), icon) << "the template's icon was shown";
        EXPECT_EQ(lamp->GetIcon(), icon);

        std::vector<std::pair<int, int>> drawn;
        AfxSetDrawIconHook([&](HDC, int x, int y, HICON) { drawn.emplace_back(x, y); });
        {
            CPaintDC dc(&d);
            ASSERT_NE(dc.m_hDC, nullptr);
            EXPECT_TRUE(d.SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.m_hDC), 0));
            CRect rect;
            d.GetClientRect(&rect);
            const int x = (rect.Width() - GetSystemMetrics(SM_CXICON) + 1) / 2;
            EXPECT_TRUE(dc.DrawIcon(x, 4, icon));
            EXPECT_FALSE(dc.DrawIcon(0, 0, reinterpret_cast<HICON>(&drawn)));
        }
        AfxSetDrawIconHook(nullptr);
        CRect rect;
        d.GetClientRect(&rect);
        ASSERT_EQ(drawn.size(), 1u);
        EXPECT_EQ(drawn[0], std::make_pair((rect.Width() - 31) / 2, 4));
        EXPECT_EQ(GetSystemMetrics(SM_CYICON), 32);
    });
}

TEST(Timers, TickUntilKilledWithinThePlatformsBounds)
{
    HWND gone = nullptr;
    CTestDlg dlg;
    dlg.Run([&](CTestDlg& d) {
        gone = d.m_hWnd;
        EXPECT_FALSE(d.KillTimer(9)) << "killing a timer that does not run is harmless";
        // 0 is raised to the minimum interval: ticks, but no busy loop.
        ASSERT_NE(d.SetTimer(1, 0), 0u);
        // The largest interval does not wrap around to a short one.
        ASSERT_NE(::SetTimer(d.m_hWnd, 2, 0xFFFFFFFFu, nullptr), 0u);
        QElapsedTimer clock;
        clock.start();
        auto ticks = [&d](const char* which) { return std::count(d.m_log.begin(), d.m_log.end(), which); };
        while (ticks("timer:1") < 3)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const qint64 elapsed = clock.elapsed();
        EXPECT_LE(ticks("timer:1"), elapsed / 10 + 1);
        EXPECT_EQ(ticks("timer:2"), 0);
        EXPECT_TRUE(d.KillTimer(1));
        const auto before = ticks("timer:1");
        QTest::qWait(30);
        EXPECT_EQ(ticks("timer:1"), before);
        EXPECT_EQ(::SetTimer(nullptr, 3, 10, nullptr), 0u);
    });
    // Timers die with their window.
    EXPECT_EQ(::SetTimer(gone, 1, 10, nullptr), 0u);
    EXPECT_FALSE(::KillTimer(gone, 2));
}

}  // namespace
