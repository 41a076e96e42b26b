// Code page 936 texts through the widgets: the conversion point, the edits'
// byte lengths and insertions, and data exchange.
#include "qt_fixture.h"

#include "framework/qtext.h"
#include "framework/textedit.h"

#include <QApplication>
#include <QInputMethodEvent>
#include <QTest>

using namespace fixture;

namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

TEST(Conversion, ChineseTextAndLineBreaksRoundTrip)
{
    const std::string bytes = Gbk("串口\r\n接收：0 字节\r\n");
    EXPECT_EQ(AfxQStringFromBytes(bytes), U("串口\n接收：0 字节\n"));
    EXPECT_EQ(AfxBytesFromQString(U("串口\n接收：0 字节\n")), bytes);
    // A character the code page cannot hold comes back as one '?'.
    EXPECT_EQ(AfxBytesFromQString(U("a\u0E01b\U0001F600c")), "a?b?c");
}

TEST(Conversion, DisplayShowsEveryByteVisibly)
{
    // Lone CR and lone LF are line breaks; control bytes show as symbols; a
    // stray lead byte is one replacement and the byte after it counts again.
    EXPECT_EQ(AfxQStringFromBytes("a\rb\nc\r\nd"), U("a\nb\nc\nd"));
    EXPECT_EQ(AfxQStringFromBytes(std::string("\x01\t\x1B\x7F", 4)), U("\u2401\t\u241B\u2421"));
    EXPECT_EQ(AfxQStringFromBytes("\xB0\r\n"), U("\uFFFD\n"));
    EXPECT_EQ(AfxQStringFromBytes("\xB0"), U("\uFFFD"));
    EXPECT_EQ(AfxQStringFromBytes("\xFF" "A"), U("\uFFFDA"));
    // The symbols of control bytes go back as those bytes.
    EXPECT_EQ(AfxBytesFromQString(U("\u2401\u2421")), "\x01\x7F");
}

// --- Edits ---------------------------------------------------------------------------

// The receive path: for every byte, the line count, the length, the caret to
// the end, into view, and the byte inserted.
void AppendLikeTheReceivePath(HWND edit, const std::string& bytes)
{
    for (char c : bytes) {
        ::SendMessageA(edit, EM_GETLINECOUNT, 0, 0);
        const int length = ::GetWindowTextLengthA(edit);
        ::SendMessageA(edit, EM_SETSEL, static_cast<WPARAM>(length), length);
        ::SendMessageA(edit, EM_SCROLLCARET, 0, 0);
        const char one[2] = {c, '\0'};
        ::SendMessageA(edit, EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(one));
    }
}

TEST(Edit, BytesInsertedOneByOneShowAsTheirCharacters)
{
    CTestDlg dlg;
    dlg.Run([](CTestDlg& d) {
        const HWND edit = ::GetDlgItem(d.m_hWnd, IDC_MULTI);
        auto* widget = static_cast<TextEditWidget*>(AfxWidgetFromHandle(edit));
        const std::string received = Gbk("接收") + "\r\n" + "\xB0" "\r" + "\n" + Gbk("字") + "\n\r" + "\xB0";
        AppendLikeTheReceivePath(edit, received);
        // The last lead byte is pending: counted, not shown yet.
        EXPECT_EQ(::GetWindowTextLengthA(edit), static_cast<int>(received.size()));
        EXPECT_EQ(widget->text(), U("接收\n\uFFFD\n字\n\n"));
        EXPECT_EQ(::SendMessageA(edit, EM_GETLINECOUNT, 0, 0), 5);
        // Its trail byte completes it.
        AppendLikeTheReceivePath(edit, "\xA1");
        EXPECT_EQ(widget->text(), U("接收\n\uFFFD\n字\n\n啊"));
        // A last CR is no line end until the next byte shows it is not CR LF.
        AppendLikeTheReceivePath(edit, "\r");
        EXPECT_EQ(::SendMessageA(edit, EM_GETLINECOUNT, 0, 0), 5);
        AppendLikeTheReceivePath(edit, "\n");
        EXPECT_EQ(::SendMessageA(edit, EM_GETLINECOUNT, 0, 0), 6);
        // The exact bytes come back, a lone CR and LF and the stray lead byte included.
        CString text;
        d.m_editMulti.GetWindowText(text);
        EXPECT_EQ(text.bytes(), received + "\xA1\r\n");
    });
}

TEST(Edit, TheShownTextIsWhatTheBytesSayWhereverTheyChange)
{
    CTestDlg dlg;
    dlg.Run([](CTestDlg& d) {
        const HWND edit = ::GetDlgItem(d.m_hWnd, IDC_MULTI);
        auto* widget = static_cast<TextEditWidget*>(AfxWidgetFromHandle(edit));
        AppendLikeTheReceivePath(edit, "ab\xB0");
        EXPECT_EQ(widget->text(), U("ab"));
        // Moving the selection changes nothing shown.
        d.m_editMulti.SetSel(0, 0);
        EXPECT_EQ(widget->text(), U("ab"));
        // A lead byte put before "a" takes it as its trail byte.
        d.m_editMulti.ReplaceSel("\xB0");
        EXPECT_EQ(widget->text(), AfxQStringFromBytes("\xB0" "a") + U("b"));
        EXPECT_EQ(d.m_editMulti.GetWindowTextLength(), 4);
        int start = -1;
        int end = -1;
        d.m_editMulti.GetSel(start, end);
        EXPECT_EQ(start, 1) << "the byte position given is kept, inside a character too";
        EXPECT_EQ(end, 1);
        // Removing it gives "a" back.
        d.m_editMulti.SetSel(0, 1);
        d.m_editMulti.ReplaceSel("");
        EXPECT_EQ(widget->text(), U("ab"));
        // Positions past the end are clamped to it.
        d.m_editMulti.SetSel(100, 200);
        d.m_editMulti.GetSel(start, end);
        EXPECT_EQ(start, 3);
        EXPECT_EQ(end, 3);
    });
}

TEST(Edit, UserTypingKeepsTheBytesAroundIt)
{
    CTestDlg dlg;
    dlg.Run([](CTestDlg& d) {
        const HWND edit = ::GetDlgItem(d.m_hWnd, IDC_MULTI);
        auto* widget = static_cast<TextEditWidget*>(AfxWidgetFromHandle(edit));
        AppendLikeTheReceivePath(edit, std::string("a\nb\x01", 4));
        widget->setFocus();
        widget->setSelection(widget->length(), widget->length());
        QTest::keyClicks(widget, QStringLiteral("z"));
        QInputMethodEvent compose;
        compose.setCommitString(U("字"));
        QApplication::sendEvent(widget, &compose);
        // The lone LF stays as it came; what the user typed is code page 936.
        CString text;
        d.m_editMulti.GetWindowText(text);
        EXPECT_EQ(text.bytes(), std::string("a\nb\x01z", 5) + Gbk("字"));
        EXPECT_EQ(d.m_editMulti.GetWindowTextLength(), 7);
    });
}

// --- Data exchange -------------------------------------------------------------

TEST(DataExchange, AttachesOnceAndMovesTextsBothWays)
{
    CTestDlg dlg;
    dlg.Run([](CTestDlg& d) {
        // The first exchange (in OnInitDialog) attached the members.
        EXPECT_EQ(d.m_editLine.m_hWnd, ::GetDlgItem(d.m_hWnd, IDC_LINE));
        EXPECT_EQ(CWnd::FromHandle(d.m_editLine.m_hWnd), &d.m_editLine);
        const HWND before = d.m_btnGo.m_hWnd;
        d.UpdateData(TRUE);
        EXPECT_EQ(d.m_btnGo.m_hWnd, before);

        // Loading sets the text; saving copies the whole text back.
        d.m_strMulti = Gbk("第一行\r\n第二行").c_str();
        d.UpdateData(FALSE);
        EXPECT_EQ(static_cast<TextEditWidget*>(AfxWidgetFromHandle(d.m_editMulti.m_hWnd))->text(),
                  U("第一行\n第二行"));
        d.m_strMulti.Empty();
        d.UpdateData(TRUE);
        EXPECT_EQ(d.m_strMulti.bytes(), Gbk("第一行\r\n第二行"));
        EXPECT_EQ(d.m_strMulti.GetLength(), 14);
    });
}

TEST(DataExchange, LoadingSetsTheTextOnlyWhenItDiffersBelow256Bytes)
{
    CTestDlg dlg;
    dlg.Run([](CTestDlg& d) {
        auto* widget = static_cast<TextEditWidget*>(AfxWidgetFromHandle(d.m_editMulti.m_hWnd));
        d.m_strMulti = "same";
        d.UpdateData(FALSE);
        // A setting of the text puts the caret at the start; an exchange that
        // changes nothing leaves it where it is.
        widget->setSelection(2, 2);
        d.UpdateData(FALSE);
        EXPECT_EQ(widget->selectionEnd(), 2);
        d.m_strMulti = CString(std::string(256, 'x'));
        d.UpdateData(FALSE);
        widget->setSelection(5, 5);
        d.UpdateData(FALSE);
        EXPECT_EQ(widget->selectionEnd(), 0) << "256 bytes or more are always set";
    });
}

TEST(DataExchange, BytesWithoutAUnicodeFormSurviveAnExchange)
{
    CTestDlg dlg;
    dlg.Run([](CTestDlg& d) {
        // A received text with a lone CR, a control byte and a stray lead byte.
        const std::string received("x\ry\x02\xB0z", 6);
        d.m_strMulti = CString(received);
        d.UpdateData(FALSE);
        d.m_strMulti.Empty();
        d.UpdateData(TRUE);
        EXPECT_EQ(d.m_strMulti.bytes(), received);
        // The single-line edit alike.
        ::SetWindowTextA(d.m_editLine.m_hWnd, "\x81\x30");
        d.UpdateData(TRUE);
        EXPECT_EQ(d.m_strLine.bytes(), "\x81\x30");
    });
}

}  // namespace
