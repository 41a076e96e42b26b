// The main dialog as the user meets it before any port is open: its start-up
// state (as assistive tools read it too), how the dialog ends and does not end, the system menu and its about
// box, and the help dialog. The real dialog runs modally on the offscreen
// platform; the port's look in each phase is the end-to-end suite's to check.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

#include "console/tavrindlg.h"
#include "framework/afxqt.h"
#include "framework/afxtest.h"
#include "res/resource.h"
#include "tests/support/boxes.h"
#include "tests/support/dialog.h"
#include "tests/support/wait.h"

using testsupport::kLeftOpen;
using testsupport::RunDialog;
using testsupport::Ui;
using testsupport::WaitUntil;

namespace {

void SendCommand(const Ui& ui, int id)
{
    SendMessageA(ui.dialog(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(ui.item(id)));
}

// While it lives, closes every framework dialog other than `main` that shows
// up with the given command, as its buttons do, and notes its caption.
class DialogCloser {
public:
    DialogCloser(HWND main, int nCommand)
    {
        m_timer.callOnTimeout([this, main, nCommand] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                const HWND hWnd = AfxHandleFromWidget(widget);
                if (hWnd && hWnd != main && widget->isVisible()) {
                    captions.push_back(testsupport::WindowText(hWnd));
                    SendMessageA(hWnd, WM_COMMAND, MAKEWPARAM(nCommand, BN_CLICKED), 0);
                    return;
                }
            }
        });
        m_timer.start(5);
    }
    std::vector<std::string> captions;

private:
    QTimer m_timer;
};

class MainDialogTest : public ::testing::Test {
protected:
    void SetUp() override { AfxSetResources(&g_tavrinResources); }

    testsupport::BoxRecorder m_boxes;
};

}  // namespace

TEST_F(MainDialogTest, EveryControlShowsItsStartUpState)
{
    CTavrinDlg dlg;
    RunDialog(dlg, [&](Ui& ui) {
        const HWND h = ui.dialog();
        // What the lists hold and select shows in the settings text of an
        // opening (the end-to-end suite's port states).
        EXPECT_EQ(ui.text(IDC_PERIOD_EDIT), "1000");
        EXPECT_EQ(ui.text(IDC_PAUSE_BUTTON), Gbk("停止显示"));
        EXPECT_EQ(ui.text(IDC_RECV_EDIT) + ui.text(IDC_SEND_EDIT), "");
        for (int id : {IDC_HEX_DISPLAY_CHECK, IDC_HEX_SEND_CHECK, IDC_AUTO_SEND_CHECK})
            EXPECT_FALSE(ui.checked(id)) << id;
        // Kept for later features: shown, but disabled.
        for (int id : {IDC_SAVE_BUTTON, IDC_SETTINGS_BUTTON})
            EXPECT_TRUE(IsWindowVisible(ui.item(id)) && !IsWindowEnabled(ui.item(id))) << id;

        // The status bar's parts, as shown and as assistive tools read them.
        const char* const parts[] = {"   Tavrin初始化成功", " 发送：0 字节", " 接收：0 字节", "     程序编写:Dorvan"};
        QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(ui.widget(0));
        ASSERT_NE(bar, nullptr);
        EXPECT_EQ(bar->role(), QAccessible::StatusBar);
        ASSERT_EQ(bar->childCount(), 4);
        for (int part = 0; part < 4; ++part) {
            EXPECT_EQ(ui.status(part), Gbk(parts[part])) << part;
            QAccessibleInterface* child = bar->child(part);
            EXPECT_EQ(child->text(QAccessible::Name).toStdString(), parts[part]) << part;
            EXPECT_EQ(bar->indexOfChild(child), part);
            EXPECT_EQ(bar->childAt(child->rect().center().x(), child->rect().center().y()), child) << part;
        }
        // A screen reader reads the label a list or edit is labelled by, else its name.
        const std::pair<int, const char*> labels[] = {
            {IDC_PORT_COMBO, "串口号"},     {IDC_BAUD_COMBO, "波特率"},    {IDC_PARITY_COMBO, "校验位"},
            {IDC_DATABITS_COMBO, "数据位"}, {IDC_STOPBITS_COMBO, "停止位"}, {IDC_PERIOD_EDIT, "发送周期："},
            {IDC_SEND_EDIT, "发送数据区"},  {IDC_RECV_EDIT, "接收数据区"},
        };
        for (const auto& [id, label] : labels) {
            QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(ui.widget(id));
            ASSERT_NE(iface, nullptr) << id;
            const auto relations = iface->relations(QAccessible::Label);
            EXPECT_EQ((relations.isEmpty() ? iface : relations.first().first)->text(QAccessible::Name).toStdString(),
                      label)
                << id;
        }

        // The focus shows once the window is active.
        AfxWidgetFromHandle(h)->activateWindow();
        EXPECT_TRUE(WaitUntil([&] { return GetFocus() != nullptr; }));
        EXPECT_EQ(GetFocus(), ui.item(IDC_OPEN_BUTTON));

        const HICON icon = LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCE(IDI_MAINFRAME));
        EXPECT_EQ(dlg.GetIcon(TRUE), icon);
        EXPECT_EQ(dlg.GetIcon(FALSE), icon);
        EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(h, WM_QUERYDRAGICON, 0, 0)), icon);

        // The system menu: the standard entries in the words of the program's
        // strings, then a separator and the About entry (the next test opens it).
        const HMENU hMenu = GetSystemMenu(h, FALSE);
        std::vector<std::string> entries;
        for (int i = 0; i < GetMenuItemCount(hMenu); ++i) {
            char text[64] = {};
            GetMenuStringA(hMenu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
            entries.push_back(GetMenuItemID(hMenu, i) == static_cast<UINT>(-1) ? "-" : text);
        }
        const std::vector<std::string> wanted = {Gbk("还原(&R)"), Gbk("最小化(&N)"), "-",
                                                 Gbk("关闭(&C)\tAlt+F4"), "-", Gbk("关于Tavrin...")};
        EXPECT_EQ(entries, wanted);
    });
    EXPECT_EQ(m_boxes.texts(), std::vector<std::string>{});
}

// The close box (Close of the system menu, which the dialog passes on) ends
// the dialog with IDCANCEL; the close button with IDOK after a data exchange
// from the controls, so what the user typed in both edits is in the dialog's
// strings. Enter on a settings list or a check box, and the IDOK command
// itself, leave it open and change nothing.
TEST_F(MainDialogTest, WhatEndsTheDialogAndWhatDoesNot)
{
    const struct { const char* name; std::function<void(Ui&)> act; INT_PTR result; } rows[] = {
        {"close box", [](Ui& ui) { AfxWidgetFromHandle(ui.dialog())->close(); }, IDCANCEL},
        {"close button",
         [](Ui& ui) {
             QTest::keyClicks(ui.widget(IDC_SEND_EDIT), QStringLiteral("AB"));
             QTest::keyClicks(ui.widget(IDC_RECV_EDIT), QStringLiteral("typed"));
             ui.click(IDC_EXIT_BUTTON);
         },
         IDOK},
        {"enter and IDOK",
         [](Ui& ui) {
             for (int id : {IDC_PORT_COMBO, IDC_HEX_DISPLAY_CHECK, IDC_STOPBITS_COMBO}) {
                 ui.widget(id)->setFocus();
                 QTest::keyClick(ui.widget(id), Qt::Key_Return);
                 QTest::keyClick(ui.widget(id), Qt::Key_Enter);
             }
             SendCommand(ui, IDOK);
             EXPECT_FALSE(ui.checked(IDC_HEX_DISPLAY_CHECK));
             EXPECT_EQ(SendMessageA(ui.item(IDC_PORT_COMBO), CB_GETCURSEL, 0, 0), 0);
             EXPECT_EQ(ui.status(0), Gbk("   Tavrin初始化成功"));
         },
         kLeftOpen},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        CTavrinDlg dlg;
        EXPECT_EQ(RunDialog(dlg, row.act), row.result);
        if (row.result == IDOK) {
            EXPECT_EQ(dlg.SendData().bytes() + "|" + dlg.RecvData().bytes(), "AB|typed") << "no data exchange";
        }
    }
}

// Any system command whose id masked with 0xFFF0 is 0x0010 opens the about
// box (the About entry of the system menu sends 0x0010), as does command 32771; the help
// button opens the help dialog. Other system commands get the default
// processing.
TEST_F(MainDialogTest, TheAboutBoxAndTheHelpDialogOpenFromTheirCommands)
{
    const auto sysCommand = [](UINT nID) {
        return [nID](Ui& ui) { SendMessageA(ui.dialog(), WM_SYSCOMMAND, nID, 0); };
    };
    const std::string about = Gbk("关于Tavrin");
    const struct {
        const char* name;
        std::function<void(Ui&)> act;
        int nClosingCommand;  // the about box's OK, the help dialog's close button
        std::string caption;
    } rows[] = {
        {"0x0013", sysCommand(0x0013), IDOK, about},
        {"0x001F", sysCommand(0x001F), IDOK, about},
        {"about command", [](Ui& ui) { SendCommand(ui, ID_APP_ABOUT_MENU); }, IDOK, about},
        {"system menu entry",
         [](Ui& ui) {
             const HMENU hMenu = GetSystemMenu(ui.dialog(), FALSE);
             EXPECT_TRUE(AfxChooseMenuItem(hMenu, GetMenuItemCount(hMenu) - 1));
         },
         IDCANCEL, about},
        {"help button", [](Ui& ui) { ui.click(IDC_HELP_BUTTON); }, IDCANCEL, Gbk("Tavrin使用帮助")},
    };
    CTavrinDlg dlg;
    const INT_PTR result = RunDialog(dlg, [&](Ui& ui) {
        for (const auto& row : rows) {
            SCOPED_TRACE(row.name);
            DialogCloser closer(ui.dialog(), row.nClosingCommand);
            row.act(ui);
            EXPECT_TRUE(WaitUntil([&] { return !closer.captions.empty(); }));
            EXPECT_EQ(closer.captions, std::vector<std::string>{row.caption});
        }
        const HWND h = ui.dialog();
        DialogCloser closer(h, IDCANCEL);
        // 0x0020 is no command of the window: nothing opens, nothing ends.
        SendMessageA(h, WM_SYSCOMMAND, 0x0020, 0);
        EXPECT_FALSE(IsIconic(h));
        SendMessageA(h, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        EXPECT_TRUE(WaitUntil([&] { return IsIconic(h) != FALSE; }));
        EXPECT_TRUE(closer.captions.empty());
        EXPECT_TRUE(IsWindowEnabled(h));
    });
    EXPECT_EQ(result, kLeftOpen);
}
