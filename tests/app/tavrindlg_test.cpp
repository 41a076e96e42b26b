// The main dialog as the user meets it before any port is open: its start-up
// state, what the settings lists mean, how the dialog ends and does not end,
// the system menu and its about box, the help dialog, and the minimised icon.
// The real dialog runs modally on the offscreen platform.
#include <QDir>
#include <QTest>
#include <QWidget>

#include <cstdlib>
#include <string>
#include <vector>

#include "console/tavrindlg.h"
#include "framework/afxqt.h"
#include "res/resource.h"
#include "tests/app/app_support.h"

using namespace apptest;

namespace {

HICON ProgramIcon(UINT nID)
{
    return LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCE(nID));
}

CComboBox* List(HWND hDlg, int id)
{
    return static_cast<CComboBox*>(CWnd::FromHandle(GetDlgItem(hDlg, id)));
}

std::vector<std::string> ListItems(HWND hDlg, int id)
{
    std::vector<std::string> items;
    CComboBox* list = List(hDlg, id);
    for (int i = 0; i < list->GetCount(); ++i) {
        CString text;
        list->GetLBText(i, text);
        items.push_back(text.bytes());
    }
    return items;
}

std::string SelectedItem(HWND hDlg, int id)
{
    CComboBox* list = List(hDlg, id);
    CString text;
    list->GetLBText(list->GetCurSel(), text);
    return text.bytes();
}

// The status bar is the dialog's child with id 0.
CStatusBarCtrl* StatusBar(HWND hDlg)
{
    return static_cast<CStatusBarCtrl*>(CWnd::FromHandle(GetDlgItem(hDlg, 0)));
}

std::string StatusText(HWND hDlg, int part)
{
    return StatusBar(hDlg)->GetText(part).bytes();
}

bool Checked(HWND hDlg, int id)
{
    return SendMessageA(GetDlgItem(hDlg, id), BM_GETCHECK, 0, 0) != BST_UNCHECKED;
}

HICON Lamp(HWND hDlg)
{
    return reinterpret_cast<HICON>(SendMessageA(GetDlgItem(hDlg, IDC_PORT_LAMP), STM_GETICON, 0, 0));
}

void Click(HWND hDlg, int id)
{
    QWidget* button = AfxWidgetFromHandle(GetDlgItem(hDlg, id));
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
}

void SendCommand(HWND hDlg, int id)
{
    SendMessageA(hDlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(hDlg, id)));
}

struct MenuItem {
    UINT id;  // (UINT)-1 for a separator
    std::string text;
};

std::vector<MenuItem> SystemMenu(HWND hDlg)
{
    std::vector<MenuItem> items;
    const HMENU hMenu = GetSystemMenu(hDlg, FALSE);
    if (!hMenu)
        return items;
    for (int pos = 0; pos < GetMenuItemCount(hMenu); ++pos) {
        char text[128] = {};
        GetMenuStringA(hMenu, static_cast<UINT>(pos), text, sizeof text, MF_BYPOSITION);
        items.push_back({GetMenuItemID(hMenu, pos), text});
    }
    return items;
}

using MainDialogTest = DialogTest;

}  // namespace

TEST_F(MainDialogTest, EveryControlShowsItsStartUpState)
{
    CTavrinDlg dlg;
    RunDialog(dlg, [&] {
        const HWND h = dlg.m_hWnd;

        EXPECT_EQ(SelectedItem(h, IDC_PORT_COMBO), "COM1");
        EXPECT_EQ(SelectedItem(h, IDC_BAUD_COMBO), "9600");
        EXPECT_EQ(SelectedItem(h, IDC_PARITY_COMBO), "NONE");
        EXPECT_EQ(SelectedItem(h, IDC_DATABITS_COMBO), "8");
        EXPECT_EQ(SelectedItem(h, IDC_STOPBITS_COMBO), "1");

        EXPECT_EQ(ItemText(h, IDC_PERIOD_EDIT), "1000");
        EXPECT_EQ(ItemText(h, IDC_PORT_STATE_TEXT), Gbk(" 串口关闭状态"));
        EXPECT_EQ(ItemText(h, IDC_OPEN_BUTTON), Gbk("打开串口"));
        EXPECT_EQ(ItemText(h, IDC_PAUSE_BUTTON), Gbk("停止显示"));
        EXPECT_EQ(ItemText(h, IDC_RECV_EDIT), "");
        EXPECT_EQ(ItemText(h, IDC_SEND_EDIT), "");
        EXPECT_EQ(Lamp(h), ProgramIcon(IDI_PORT_CLOSED));
        EXPECT_FALSE(Checked(h, IDC_HEX_DISPLAY_CHECK));
        EXPECT_FALSE(Checked(h, IDC_HEX_SEND_CHECK));
        EXPECT_FALSE(Checked(h, IDC_AUTO_SEND_CHECK));

        // Kept for later features: shown, but disabled.
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(h, IDC_SAVE_BUTTON)));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(h, IDC_SETTINGS_BUTTON)));
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(h, IDC_SAVE_BUTTON)));
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(h, IDC_HELP_BUTTON)));

        ASSERT_NE(StatusBar(h), nullptr);
        EXPECT_EQ(StatusText(h, 0), Gbk("   Tavrin初始化成功"));
        EXPECT_EQ(StatusText(h, 1), Gbk(" 发送：0 字节"));
        EXPECT_EQ(StatusText(h, 2), Gbk(" 接收：0 字节"));
        EXPECT_EQ(StatusText(h, 3), Gbk("     程序编写:Dorvan"));
        int edges[4] = {};
        EXPECT_EQ(StatusBar(h)->GetParts(4, edges), 4);
        EXPECT_EQ(std::vector<int>(edges, edges + 4), (std::vector<int>{200, 360, 520, -1}));

        // The focus shows once the window is active.
        AfxWidgetFromHandle(h)->activateWindow();
        EXPECT_TRUE(WaitUntil([&] { return GetFocus() != nullptr; }));
        EXPECT_EQ(GetFocus(), GetDlgItem(h, IDC_OPEN_BUTTON));

        EXPECT_EQ(dlg.GetIcon(TRUE), ProgramIcon(IDI_MAINFRAME));
        EXPECT_EQ(dlg.GetIcon(FALSE), ProgramIcon(IDI_MAINFRAME));
        EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(h, WM_QUERYDRAGICON, 0, 0)), ProgramIcon(IDI_MAINFRAME));

        const std::vector<MenuItem> menu = SystemMenu(h);
        ASSERT_GE(menu.size(), 2u);
        EXPECT_EQ(menu[menu.size() - 2].id, static_cast<UINT>(-1));
        EXPECT_EQ(menu.back().id, static_cast<UINT>(IDM_ABOUTBOX));
        EXPECT_EQ(menu.back().text, Gbk("关于Tavrin..."));

        EXPECT_EQ(dlg.RecvCount(), 0);
        EXPECT_EQ(dlg.SendCount(), 0);
        EXPECT_FALSE(dlg.IsPortOpen());
        EXPECT_FALSE(dlg.IsDisplayPaused());
    });
    EXPECT_TRUE(m_boxes->boxes().empty());
}

// The port number and parity come from an item's position, the numbers from
// the item's text; data bits run 8, 7, 6 from the top. With no device behind
// any port, every press is a failed opening, which shows what was read.
TEST_F(MainDialogTest, SettingsListsAreReadByPositionAndTextAtEveryPress)
{
    const QString missing = QDir::tempPath() + QStringLiteral("/tavrin-app-test-no-device-%1")
                                                   .arg(QCoreApplication::applicationPid());
    for (int n = 1; n <= 4; ++n)
        setenv(("TAVRIN_COM" + std::to_string(n)).c_str(), (missing + QString::number(n)).toLocal8Bit().constData(), 1);

    struct Row {
        int port, baud, parity, dataBits, stopBits;
        const char* settings;
    };
    const Row rows[] = {
        {0, 5, 0, 0, 0, "1.9600.N.8.1"},
        {2, 7, 2, 1, 1, "3.38400.E.7.2"},
        {3, 0, 1, 2, 0, "4.300.O.6.1"},
        {1, 6, 0, 1, 0, "2.19200.N.7.1"},
    };

    CTavrinDlg dlg;
    RunDialog(dlg, [&] {
        const HWND h = dlg.m_hWnd;
        EXPECT_EQ(ListItems(h, IDC_PORT_COMBO), (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4"}));
        EXPECT_EQ(ListItems(h, IDC_BAUD_COMBO),
                  (std::vector<std::string>{"300", "600", "1200", "2400", "4800", "9600", "19200", "38400"}));
        EXPECT_EQ(ListItems(h, IDC_PARITY_COMBO), (std::vector<std::string>{"NONE", "ODD", "EVEN"}));
        EXPECT_EQ(ListItems(h, IDC_DATABITS_COMBO), (std::vector<std::string>{"8", "7", "6"}));
        EXPECT_EQ(ListItems(h, IDC_STOPBITS_COMBO), (std::vector<std::string>{"1", "2"}));

        for (const Row& row : rows) {
            SCOPED_TRACE(row.settings);
            List(h, IDC_PORT_COMBO)->SetCurSel(row.port);
            List(h, IDC_BAUD_COMBO)->SetCurSel(row.baud);
            List(h, IDC_PARITY_COMBO)->SetCurSel(row.parity);
            List(h, IDC_DATABITS_COMBO)->SetCurSel(row.dataBits);
            List(h, IDC_STOPBITS_COMBO)->SetCurSel(row.stopBits);
            Click(h, IDC_OPEN_BUTTON);

            EXPECT_EQ(dlg.SettingsText(), row.settings);
            EXPECT_EQ(dlg.EventMask(), 3u);
            EXPECT_FALSE(dlg.IsPortOpen());
            EXPECT_EQ(ItemText(h, IDC_OPEN_BUTTON), Gbk("打开串口"));
            EXPECT_EQ(Lamp(h), ProgramIcon(IDI_PORT_CLOSED));
            EXPECT_EQ(ItemText(h, IDC_PORT_STATE_TEXT), Gbk(" 串口无法开启"));
            EXPECT_EQ(StatusText(h, 0), Gbk(" 串口无法开启,请检查串口设备状态"));
        }
    });
    // A device that cannot be opened is told in the window only.
    EXPECT_TRUE(m_boxes->boxes().empty());
    for (int n = 1; n <= 4; ++n)
        unsetenv(("TAVRIN_COM" + std::to_string(n)).c_str());
}

// Enter on a settings list or a check box, and the IDOK command itself, leave
// the dialog open and change nothing.
TEST_F(MainDialogTest, EnterAndTheOkCommandDoNotEndTheDialog)
{
    CTavrinDlg dlg;
    const INT_PTR result = RunDialog(dlg, [&] {
        const HWND h = dlg.m_hWnd;
        for (int id : {IDC_PORT_COMBO, IDC_HEX_DISPLAY_CHECK, IDC_STOPBITS_COMBO}) {
            QWidget* control = AfxWidgetFromHandle(GetDlgItem(h, id));
            ASSERT_NE(control, nullptr);
            control->setFocus();
            QTest::keyClick(control, Qt::Key_Return);
            QTest::keyClick(control, Qt::Key_Enter);
        }
        SendCommand(h, IDOK);

        EXPECT_FALSE(Checked(h, IDC_HEX_DISPLAY_CHECK));
        EXPECT_EQ(SelectedItem(h, IDC_PORT_COMBO), "COM1");
        EXPECT_EQ(StatusText(h, 0), Gbk("   Tavrin初始化成功"));
    });
    EXPECT_EQ(result, kLeftOpen);
}

TEST_F(MainDialogTest, EscapeEndsTheDialogWithCancel)
{
    CTavrinDlg dlg;
    const INT_PTR result = RunDialog(dlg, [&] {
        QTest::keyClick(AfxWidgetFromHandle(GetDlgItem(dlg.m_hWnd, IDC_PORT_COMBO)), Qt::Key_Escape);
    });
    EXPECT_EQ(result, IDCANCEL);
}

TEST_F(MainDialogTest, TheCloseBoxAndTheSystemMenuCloseEndTheDialogWithCancel)
{
    {
        CTavrinDlg dlg;
        EXPECT_EQ(RunDialog(dlg, [&] { AfxWidgetFromHandle(dlg.m_hWnd)->close(); }), IDCANCEL);
    }
    {
        CTavrinDlg dlg;
        EXPECT_EQ(RunDialog(dlg, [&] { SendMessageA(dlg.m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0); }), IDCANCEL);
    }
}

// The close button ends the run with IDOK after a data exchange from the
// controls: what the user typed in both edits is in the dialog's strings.
TEST_F(MainDialogTest, TheCloseButtonEndsTheDialogWithOkAfterTheDataExchange)
{
    CTavrinDlg dlg;
    const INT_PTR result = RunDialog(dlg, [&] {
        const HWND h = dlg.m_hWnd;
        QTest::keyClicks(AfxWidgetFromHandle(GetDlgItem(h, IDC_SEND_EDIT)), QStringLiteral("AB"));
        QTest::keyClicks(AfxWidgetFromHandle(GetDlgItem(h, IDC_RECV_EDIT)), QStringLiteral("typed"));
        Click(h, IDC_EXIT_BUTTON);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dlg.SendData().bytes(), "AB");
    EXPECT_EQ(dlg.RecvData().bytes(), "typed");
}

// Any system command whose id masked with 0xFFF0 is 0x0010 opens the about
// box; the others get the default processing.
TEST_F(MainDialogTest, SystemCommandsOpenTheAboutBoxOrGetDefaultProcessing)
{
    CTavrinDlg dlg;
    const INT_PTR result = RunDialog(dlg, [&] {
        const HWND h = dlg.m_hWnd;
        for (UINT nID : {0x0010u, 0x0013u, 0x001Fu}) {
            SCOPED_TRACE(nID);
            DialogCloser closer(h, IDOK);
            SendMessageA(h, WM_SYSCOMMAND, nID, 0);
            EXPECT_EQ(closer.captions(), std::vector<std::string>{Gbk("关于Tavrin")});
        }
        {
            // As the user picks it from the window's menu.
            DialogCloser closer(h, IDCANCEL);
            const HMENU hMenu = GetSystemMenu(h, FALSE);
            ASSERT_NE(hMenu, nullptr);
            EXPECT_TRUE(AfxChooseMenuItem(hMenu, GetMenuItemCount(hMenu) - 1));
            EXPECT_TRUE(WaitUntil([&] { return !closer.captions().empty(); }));
            EXPECT_EQ(closer.captions(), std::vector<std::string>{Gbk("关于Tavrin")});
        }
        {
            // 0x0020 is no command of the window: nothing opens, nothing ends.
            DialogCloser closer(h, IDCANCEL);
            SendMessageA(h, WM_SYSCOMMAND, 0x0020, 0);
            EXPECT_TRUE(closer.captions().empty());
            EXPECT_FALSE(IsIconic(h));
        }
        {
            DialogCloser closer(h, IDCANCEL);
            SendMessageA(h, WM_SYSCOMMAND, SC_MINIMIZE, 0);
            EXPECT_TRUE(closer.captions().empty());
            EXPECT_TRUE(WaitUntil([&] { return IsIconic(h) != FALSE; }));
        }
    });
    EXPECT_EQ(result, kLeftOpen);
}

// The about box also opens from command 32771, and the help dialog from the
// help button; each returns to the main dialog unchanged.
TEST_F(MainDialogTest, TheAboutCommandAndTheHelpButtonOpenTheirDialogs)
{
    CTavrinDlg dlg;
    const INT_PTR result = RunDialog(dlg, [&] {
        const HWND h = dlg.m_hWnd;
        {
            DialogCloser closer(h, IDOK);
            SendCommand(h, ID_APP_ABOUT_MENU);
            EXPECT_EQ(closer.captions(), std::vector<std::string>{Gbk("关于Tavrin")});
        }
        {
            // Its close button is IDCANCEL.
            DialogCloser closer(h, IDCANCEL);
            Click(h, IDC_HELP_BUTTON);
            EXPECT_TRUE(WaitUntil([&] { return !closer.captions().empty(); }));
            EXPECT_EQ(closer.captions(), std::vector<std::string>{Gbk("Tavrin使用帮助")});
        }
        EXPECT_EQ(StatusText(h, 0), Gbk("   Tavrin初始化成功"));
        EXPECT_TRUE(IsWindowEnabled(h));
    });
    EXPECT_EQ(result, kLeftOpen);
}

// Minimised, the window's icon is drawn in the middle of the client area:
// ((width - cx + 1) / 2, (height - cy + 1) / 2), rounding toward zero.
TEST_F(MainDialogTest, TheMinimisedWindowDrawsItsIconInTheMiddle)
{
    struct Drawn {
        int x, y;
        HICON icon;
    };
    std::vector<Drawn> drawn;
    AfxSetDrawIconHook([&](HDC, int x, int y, HICON icon) { drawn.push_back({x, y, icon}); });

    struct Row {
        int width, height, x, y;
    };
    const Row rows[] = {{160, 40, 64, 4}, {161, 41, 65, 5}, {20, 10, -5, -10}};

    CTavrinDlg dlg;
    RunDialog(dlg, [&] {
        const HWND h = dlg.m_hWnd;
        QWidget* window = AfxWidgetFromHandle(h);
        ASSERT_NE(window, nullptr);
        ASSERT_EQ(GetSystemMetrics(SM_CXICON), 32);
        ASSERT_EQ(GetSystemMetrics(SM_CYICON), 32);

        // Not minimised: the dialog paints as usual, without the window icon.
        drawn.clear();
        SendMessageA(h, WM_PAINT, 0, 0);
        for (const Drawn& d : drawn)
            EXPECT_NE(d.icon, ProgramIcon(IDI_MAINFRAME));

        SendMessageA(h, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        ASSERT_TRUE(WaitUntil([&] { return IsIconic(h) != FALSE; }));
        for (const Row& row : rows) {
            SCOPED_TRACE(std::to_string(row.width) + "x" + std::to_string(row.height));
            window->setFixedSize(row.width, row.height);
            RECT client{};
            GetClientRect(h, &client);
            ASSERT_EQ(client.right - client.left, row.width);
            ASSERT_EQ(client.bottom - client.top, row.height);
            drawn.clear();
            SendMessageA(h, WM_PAINT, 0, 0);
            ASSERT_EQ(drawn.size(), 1u);
            EXPECT_EQ(drawn[0].x, row.x);
            EXPECT_EQ(drawn[0].y, row.y);
            EXPECT_EQ(drawn[0].icon, ProgramIcon(IDI_MAINFRAME));
        }
    });
    AfxSetDrawIconHook(nullptr);
}

// An empty string 101 adds neither the separator nor the About entry.
TEST_F(MainDialogTest, AnEmptyAboutStringAddsNoSystemMenuEntry)
{
    std::vector<MenuItem> withText;
    {
        CTavrinDlg dlg;
        RunDialog(dlg, [&] { withText = SystemMenu(dlg.m_hWnd); });
    }

    AfxResourceModule noStrings = g_tavrinResources;
    noStrings.strings = nullptr;
    noStrings.stringCount = 0;
    AfxSetResources(&noStrings);
    std::vector<MenuItem> withoutText;
    {
        CTavrinDlg dlg;
        RunDialog(dlg, [&] { withoutText = SystemMenu(dlg.m_hWnd); });
    }
    AfxSetResources(&g_tavrinResources);

    ASSERT_GE(withText.size(), 2u);
    EXPECT_EQ(withoutText.size(), withText.size() - 2);
    for (const MenuItem& item : withoutText)
        EXPECT_NE(item.id, static_cast<UINT>(IDM_ABOUTBOX));
}
