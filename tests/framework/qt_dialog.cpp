// Dialogs from templates: geometry in dialog units, the controls through
// their messages, code page 936 texts through them, data exchange, the
// status bar, the system menu, timers.
#include "qt_fixture.h"

#include "framework/qtext.h"
#include "framework/textedit.h"

#include <QContextMenuEvent>
#include <QFontInfo>
#include <QFontMetrics>
#include <QInputMethodEvent>
#include <QLabel>
#include <QMenu>

using namespace fixture;

namespace {

TEST(Template, ControlsStandWhereTheirDialogUnitsSayInTheSongFontAndAStatusBarBelow)
{
    CTestDlg dlg;
    dlg.Run([](CTestDlg& d) {
        QWidget* window = AfxWidgetFromHandle(d.m_hWnd);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(QFontInfo(window->font()).family(), QStringLiteral("AR PL UMing CN"));
        EXPECT_EQ(window->font().pixelSize(), 12) << "9 points at 96 dots per inch";

        // Base units as the platform takes them from the font.
        const QFontMetrics metrics(window->font());
        const int alphabet = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
        const double bx = static_cast<int>(alphabet / 52.0 + 0.5);
        const double by = metrics.height();
        auto px = [](int units, double base, int per) { return static_cast<int>(units * base / per + 0.5); };
        auto rect = [&](int x, int y, int cx, int cy) {
            return QRect(px(x, bx, 4), px(y, by, 8), px(cx, bx, 4), px(cy, by, 8));
        };
        EXPECT_EQ(window->size(), rect(0, 0, 200, 120).size());
        EXPECT_EQ(d.Widget(IDC_GO)->geometry(), rect(10, 10, 40, 14));
        EXPECT_EQ(d.Widget(IDC_MULTI)->geometry(), rect(80, 10, 110, 60));
        // An icon static takes the icon's size; a drop-down list the height of
        // its closed box, the template's height being that of the open list.
        EXPECT_EQ(d.Widget(IDC_ICON)->size(), QSize(32, 32));
        EXPECT_LT(d.Widget(IDC_LIST)->height(), px(60, by, 8));
        // Texts in code page 936 show as their characters.
        EXPECT_EQ(static_cast<QLabel*>(d.Widget(IDC_LABEL))->text(), QString::fromUtf8("标签"));
        // Tab stops follow template order.
        EXPECT_EQ(d.Widget(IDC_GO)->nextInFocusChain(), d.Widget(IDC_CHECK));

        // A status bar adds its height at the bottom.
        const QSize before = window->size();
        CStatusBarCtrl bar;
        ASSERT_TRUE(bar.Create(WS_CHILD | WS_VISIBLE, CRect(0, 0, 0, 0), &d, 0));
        const QRect at = AfxWidgetFromHandle(bar.m_hWnd)->geometry();
        EXPECT_EQ(window->size(), QSize(before.width(), before.height() + at.height()));
        EXPECT_EQ(at, QRect(0, before.height(), before.width(), at.height()));
    });

    CDialog missing(12345);
    EXPECT_EQ(missing.DoModal(), -1);
    EXPECT_EQ(missing.m_hWnd, nullptr);
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
        // A right click on a button is the button's; on the background, and
        // Alt+Space (a shortcut of the active window), open the menu.
        QTimer::singleShot(0, pickClose);
        for (const QPoint at : {d.Widget(IDC_GO)->geometry().center(), QPoint(window->width() - 2, window->height() - 2)}) {
            QContextMenuEvent click(QContextMenuEvent::Mouse, at, window->mapToGlobal(at));
            QApplication::sendEvent(window, &click);
        }
        EXPECT_EQ(seen.size(), 1);
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        QTimer::singleShot(0, pickClose);
        QTest::keyClick(window, Qt::Key_Space, Qt::AltModifier);
        EXPECT_EQ(seen.size(), 2);
        const std::string close = "syscommand:" + std::to_string(SC_CLOSE);
        EXPECT_EQ(std::count(d.m_log.begin(), d.m_log.end(), close), 2);
    });
}

TEST(Timers, TickUntilKilledNeverWrapAroundAndDieWithTheirWindow)
{
    HWND gone = nullptr;
    CTestDlg dlg;
    dlg.Run([&](CTestDlg& d) {
        gone = d.m_hWnd;
        auto ticks = [&d](int id) { return std::count(d.m_log.begin(), d.m_log.end(), "timer:" + std::to_string(id)); };
        ASSERT_NE(::SetTimer(d.m_hWnd, 2, 0xFFFFFFFFu, nullptr), 0u);  // not a short interval
        ASSERT_NE(d.SetTimer(1, 0), 0u);
        ASSERT_TRUE(testsupport::WaitUntil([&] { return ticks(1) >= 3; }));
        EXPECT_TRUE(d.KillTimer(1));
        EXPECT_FALSE(d.KillTimer(1));
        const auto killed = ticks(1);
        ASSERT_NE(d.SetTimer(3, 0), 0u);  // one of the same interval ticks on meanwhile
        ASSERT_TRUE(testsupport::WaitUntil([&] { return ticks(3) >= 3; }));
        EXPECT_EQ(ticks(1), killed);
        EXPECT_EQ(ticks(2), 0);
    });
    EXPECT_EQ(::SetTimer(gone, 1, 10, nullptr), 0u);
}

TEST(Texts, GoBackToBytesAsCodePage936)
{
    const auto U = [](const char* utf8) { return QString::fromUtf8(utf8); };
    EXPECT_EQ(AfxBytesFromQString(U("串口\n接收")), Gbk("串口\r\n接收"));
    // Symbols of control bytes go back as those bytes; a character the code
    // page cannot hold (a replacement among them) as one '?'.
    EXPECT_EQ(AfxBytesFromQString(U("\u2401\t\u2421|\uFFFD\u0E01\U0001F600")), "\x01\t\x7F|???");
}

// Byte positions are kept as given, inside a character too, and clamped to
// the end; what the user types goes in as code page 936, the bytes around it
// (a stray lead byte, a lone LF, a control byte) stay as they were.
TEST(Texts, AnEditKeepsBytePositionsAndTheBytesAroundAChange)
{
    CTestDlg dlg;
    dlg.Run([](CTestDlg& d) {
        CEdit& edit = *static_cast<CEdit*>(d.GetDlgItem(IDC_MULTI));
        edit.ReplaceSel("ab");
        edit.SetSel(0, 0);
        edit.ReplaceSel("\xB0");  // takes "a" as its trail byte
        int start = -1;
        int end = -1;
        edit.GetSel(start, end);
        EXPECT_EQ(std::make_pair(start, end), std::make_pair(1, 1));
        edit.SetSel(100, 200);
        edit.GetSel(start, end);
        EXPECT_EQ(std::make_pair(start, end), std::make_pair(3, 3));
        edit.ReplaceSel("\n\x01");
        QWidget* widget = d.Widget(IDC_MULTI);
        widget->setFocus();
        QInputMethodEvent composing(QStringLiteral("zi"), {});
        QApplication::sendEvent(widget, &composing);  // not text yet
        QInputMethodEvent compose;
        compose.setCommitString(QString::fromUtf8("字"));
        QApplication::sendEvent(widget, &compose);
        CString text;
        edit.GetWindowText(text);
        EXPECT_EQ(text.bytes(), std::string("\xB0" "ab\n\x01", 5) + Gbk("字"));
    });
}

// Texts of 256 bytes and more are always set; shorter ones only when they
// differ, and a setting puts the caret at the start.
TEST(DataExchange, LoadingSetsTheTextOnlyWhenItDiffersBelow256Bytes)
{
    CTestDlg dlg;
    dlg.Run([](CTestDlg& d) {
        auto* widget = static_cast<TextEditWidget*>(d.Widget(IDC_MULTI));
        for (const std::string& text : {std::string(255, 'x'), std::string(256, 'x')}) {
            d.m_strMulti = CString(text);
            d.UpdateData(FALSE);
            widget->setSelection(5, 5);
            d.UpdateData(FALSE);
            EXPECT_EQ(widget->selectionEnd(), text.size() < 256 ? 5 : 0) << text.size();
        }
    });
}

}  // namespace
