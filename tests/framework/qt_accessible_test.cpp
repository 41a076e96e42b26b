// The multi-line edit as assistive tools read it: its text as shown, caret,
// selection and wrapped lines, edits made through it, and the changes told at
// the frame. Real widgets, offscreen.
#include "framework/frameclock.h"
#include "framework/textedit.h"

#include <QAccessible>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

#include "tests/framework/qt_fixture.h"
#include "tests/support/accessible.h"
#include "tests/support/wait.h"

namespace {

void waitForFrame()
{
    ASSERT_TRUE(testsupport::WaitUntil([] { return !FrameClock::instance().pending(); }));
}

// Appends bytes one at a time, as the receive area gets them.
void receiveBytes(TextEditWidget& edit, const std::string& bytes)
{
    for (char byte : bytes) {
        edit.setByteSelection(edit.byteLength(), edit.byteLength());
        edit.replaceByteSelection(std::string(1, byte));
    }
}

} // namespace

TEST(TextEditAccessible, ReadsTheShownTextCaretSelectionLinesAndPlaces)
{
    TextEditWidget edit;
    QFont font{QStringLiteral("AR PL UMing CN")};
    font.setPixelSize(12);
    edit.setFont(font);
    edit.resize(120, 100);
    edit.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&edit));
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&edit);
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->role(), QAccessible::EditableText);
    QAccessibleTextInterface* text = iface->textInterface();
    ASSERT_NE(text, nullptr);

    // CR LF and a lone CR are line breaks; a double-byte pair is one character.
    edit.setBytes(fixture::Gbk("温度") + "\r\nA\rB");
    EXPECT_EQ(text->text(0, text->characterCount()), QString::fromUtf8("温度\nA\nB"));

    edit.setSelection(1, 4);
    int start = -1;
    int end = -1;
    text->selection(0, &start, &end);
    EXPECT_EQ(std::vector<int>({start, end, text->cursorPosition()}), std::vector<int>({1, 4, 4}));
    text->setSelection(0, 5, 2);
    EXPECT_EQ(edit.selectedText(), QString::fromUtf8("\nA\n"));
    EXPECT_EQ(edit.caretPosition(), 2) << "the selection runs from its anchor to the caret";
    text->removeSelection(0);
    EXPECT_EQ(text->selectionCount(), 0);

    // A line is a line as shown, wrapped, with the break that ends it.
    edit.setText(QString(50, u'x') + QStringLiteral("\nend"));
    ASSERT_GT(edit.lineCount(), 3);
    QString lines;
    for (int line = 0; line < edit.lineCount(); ++line) {
        const int next = line + 1 < edit.lineCount() ? edit.lineStart(line + 1) : edit.length();
        lines += text->textAtOffset(next - 1, QAccessible::LineBoundary, &start, &end);
        EXPECT_EQ(std::vector<int>({start, end}), std::vector<int>({edit.lineStart(line), next}));
    }
    EXPECT_EQ(lines, edit.text());

    // Every character is found again at the middle of its box.
    for (int pos : {0, 7, edit.lineStart(2) + 1, edit.length() - 2}) {
        const QRect box = text->characterRect(pos);
        EXPECT_GT(box.width(), 0) << pos;
        EXPECT_EQ(text->offsetAtPoint(box.center()), pos);
    }
}

TEST(TextEditAccessible, EditsAsTheUserWouldAndNotWhenReadOnly)
{
    const struct {
        const char* name;
        bool readOnly;
        std::function<void(QAccessibleEditableTextInterface*)> edit;
        std::string bytes;
    } rows[] = {
        {"insert a line", false, [](auto* e) { e->insertText(3, QStringLiteral("\nx")); }, "abc\r\nxdef"},
        {"delete", false, [](auto* e) { e->deleteText(1, 3); }, "adef"},
        {"replace", false, [](auto* e) { e->replaceText(0, 6, QString::fromUtf8("温")); }, fixture::Gbk("温")},
        {"read-only", true, [](auto* e) { e->insertText(0, QStringLiteral("x")); }, "abcdef"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TextEditWidget edit;
        edit.setText(QStringLiteral("abcdef"));
        edit.setReadOnly(row.readOnly);
        QSignalSpy edited(&edit, &TextEditWidget::userEdited);
        row.edit(QAccessible::queryAccessibleInterface(&edit)->editableTextInterface());
        EXPECT_EQ(edit.bytes(), row.bytes);
        EXPECT_EQ(edited.count(), row.readOnly ? 0 : 1);
    }
}

TEST(TextEditAccessible, ChangesCaretAndSelectionAreToldAtTheFrame)
{
    const struct {
        const char* name;
        std::function<void(TextEditWidget&)> act;
        std::vector<std::string> told;
    } rows[] = {
        {"appended bytes make one insertion", [](auto& e) { receiveBytes(e, fixture::Gbk("温度")); },
         {"insert 7 温度", "cursor 9"}},
        {"a CR LF is told once both bytes are in", [](auto& e) { receiveBytes(e, "\r\n" + fixture::Gbk("度")); },
         {"insert 7 \n度", "cursor 9"}},
        {"a replaced selection",
         [](auto& e) {
             e.setSelection(0, 3);
             e.replaceSelection(QStringLiteral("1"));
         },
         {"update 0 one>1", "cursor 1"}},
        {"cleared", [](auto& e) { e.setBytes(""); }, {"remove 0 one\ntwo"}},
        {"selected by the user", [](auto& e) { QTest::keyClick(&e, Qt::Key_End, Qt::ShiftModifier); },
         {"selection 0 3", "cursor 3"}},
        {"changes apart, in their order",
         [](auto& e) {
             e.setSelection(7, 7);
             e.replaceSelection(QStringLiteral("!"));
             e.setSelection(0, 1);
             e.replaceSelection(QString());
         },
         {"insert 7 !", "remove 0 o"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TextEditWidget edit;
        edit.setText(QStringLiteral("one\ntwo"));
        testsupport::AccessibilityLog log;
        waitForFrame();
        log.told.clear();
        row.act(edit);
        EXPECT_TRUE(log.told.empty()) << "told before the frame";
        waitForFrame();
        EXPECT_EQ(log.told, row.told);
    }

    // What changed while nobody listened is not told later.
    TextEditWidget edit;
    receiveBytes(edit, "abc");
    testsupport::AccessibilityLog log;
    waitForFrame();
    EXPECT_EQ(log.told, std::vector<std::string>{"cursor 3"});
}
