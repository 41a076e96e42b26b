// The multi-line edit's widget: keys, clipboard, a display
// that paints at display rate and only what changed, and what assistive tools
// read and are told. Real widgets, offscreen; fonts are set by pixel size so
// wrapping does not depend on the screen.
#include "framework/frameclock.h"
#include "framework/textedit.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QFontMetricsF>
#include <QPaintEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "tests/support/accessible.h"
#include "tests/support/gbk.h"
#include "tests/support/wait.h"

namespace {

// The dialog's font: 6 pixels for a Latin character, 12 for a Chinese one.
QFont songFont()
{
    QFont font{QStringLiteral("AR PL UMing CN")};
    font.setPixelSize(12);
    return font;
}

// Appends one byte at a time with the receive path's calls.
void receive(TextEditWidget& edit, const std::string& bytes)
{
    for (char byte : bytes) {
        (void)edit.lineCount();
        edit.setByteSelection(edit.byteLength(), edit.byteLength());
        edit.scrollToCaret();
        edit.replaceByteSelection(std::string(1, byte));
    }
}

void waitForFrame()
{
    ASSERT_TRUE(testsupport::WaitUntil([] { return !FrameClock::instance().pending(); }));
}

// Shows an edit of 300 by 200 pixels in the dialog's font, without a
// blinking caret, scrolled to the end of the text.
void showAtEnd(TextEditWidget& edit, const QString& text)
{
    edit.setFocusPolicy(Qt::NoFocus);
    edit.setFont(songFont());
    edit.resize(300, 200);
    edit.setText(text);
    edit.setSelection(edit.length(), edit.length());
    edit.scrollToCaret();
    edit.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&edit));
}

} // namespace

TEST(TextEditKeys, MoveSelectEditAndTheClipboard)
{
    const auto Ctrl = Qt::ControlModifier;
    const auto Shift = Qt::ShiftModifier;
    QClipboard* clipboard = QGuiApplication::clipboard();
    const struct {
        int anchor, caret;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int start, end, to;  // the selection and the caret after
        const char* text;    // after, when changed
        bool readOnly = false;  // stops the user, not the program; the user still copies
    } rows[] = {
        {2, 2, Qt::Key_Right, {}, 3, 3, 3, nullptr}, {2, 2, Qt::Key_Right, Shift, 2, 3, 3, nullptr},
        {1, 4, Qt::Key_Left, {}, 1, 1, 1, nullptr}, {4, 1, Qt::Key_Right, {}, 4, 4, 4, nullptr},
        {0, 0, Qt::Key_Right, Ctrl, 6, 6, 6, nullptr}, {8, 8, Qt::Key_Left, Ctrl | Shift, 6, 8, 6, nullptr},
        {8, 8, Qt::Key_Home, {}, 0, 0, 0, nullptr}, {2, 2, Qt::Key_End, Shift, 2, 10, 10, nullptr},
        {2, 2, Qt::Key_Down, {}, 13, 13, 13, nullptr}, {13, 13, Qt::Key_Up, Shift, 2, 13, 2, nullptr},
        {2, 2, Qt::Key_PageDown, {}, 19, 19, 19, nullptr}, {13, 13, Qt::Key_Home, Ctrl, 0, 0, 0, nullptr},
        {2, 2, Qt::Key_End, Ctrl | Shift, 2, 22, 22, nullptr}, {5, 5, Qt::Key_A, Ctrl, 0, 22, 22, nullptr},
        {0, 0, Qt::Key_Delete, {}, 0, 0, 0, "lpha beta\ngamma\ndelta"},
        {6, 6, Qt::Key_Delete, Ctrl, 6, 6, 6, "alpha \ngamma\ndelta"},
        {8, 8, Qt::Key_Backspace, Ctrl, 6, 6, 6, "alpha ta\ngamma\ndelta"},
        {8, 6, Qt::Key_Backspace, Shift, 6, 6, 6, "alpha ta\ngamma\ndelta"},
        {5, 0, Qt::Key_X, {}, 1, 1, 1, "x beta\ngamma\ndelta"},
        {0, 6, Qt::Key_X, Ctrl, 0, 0, 0, "beta\ngamma\ndelta"},
        {11, 11, Qt::Key_V, Ctrl, 14, 14, 14, "alpha beta\nc\ndgamma\ndelta"},
        {0, 0, Qt::Key_X, {}, 0, 0, 0, nullptr, true}, {8, 8, Qt::Key_Backspace, {}, 8, 8, 8, nullptr, true},
        {11, 11, Qt::Key_V, Ctrl, 11, 11, 11, nullptr, true}, {0, 6, Qt::Key_C, Ctrl, 0, 6, 6, nullptr, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.anchor << "-" << row.caret << " key " << row.key);
        TextEditWidget edit;
        edit.setFont(songFont());  // Up and Down keep a column in pixels
        const QString text = QStringLiteral("alpha beta\ngamma\ndelta");
        edit.setText(text);
        edit.setReadOnly(row.readOnly);
        edit.setSelection(row.anchor, row.caret);
        clipboard->setText(QStringLiteral("c\r\nd"));  // pasted line breaks become '\n'
        QTest::keyClick(&edit, row.key, row.modifiers);
        EXPECT_EQ(std::vector<int>({edit.selectionStart(), edit.selectionEnd(), edit.caretPosition()}),
                  std::vector<int>({row.start, row.end, row.to}));
        EXPECT_EQ(edit.text(), row.text ? QString::fromLatin1(row.text) : text);
        const bool copies = row.modifiers == Ctrl && (row.key == Qt::Key_X || row.key == Qt::Key_C);
        EXPECT_EQ(clipboard->text(), copies ? QStringLiteral("alpha ") : QStringLiteral("c\r\nd"));
    }
}

TEST(TextEditMouse, ADragSelectsAcrossLinesAndADoubleClickTakesAWord)
{
    TextEditWidget edit;
    showAtEnd(edit, QStringLiteral("alpha beta\ngamma"));
    auto leftOf = [&edit](int pos) {
        const QRect box = edit.characterRect(pos);
        return QPoint(box.left() + 1, box.center().y());
    };
    QTest::mousePress(edit.viewport(), Qt::LeftButton, {}, leftOf(2));
    QTest::mouseMove(edit.viewport(), leftOf(14));
    QTest::mouseRelease(edit.viewport(), Qt::LeftButton, {}, leftOf(14));
    EXPECT_EQ(edit.selectedText(), QStringLiteral("pha beta\ngam"));
    QTest::mouseDClick(edit.viewport(), Qt::LeftButton, {}, leftOf(7));
    EXPECT_EQ(edit.selectedText(), QStringLiteral("beta"));
}

namespace {

// Records the regions the viewport is asked to paint.
struct PaintRecorder : QObject {
    std::vector<QRegion> regions;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            regions.push_back(static_cast<QPaintEvent*>(event)->region());
        return false;
    }
};

// True when nothing is scheduled that would paint: no frame is due, no timer
// of the edit runs and no update is waiting in the event queue.
bool Quiet(TextEditWidget& edit, PaintRecorder& recorder)
{
    const size_t before = recorder.regions.size();
    QCoreApplication::processEvents();
    const auto timers = edit.findChildren<QTimer*>();
    return recorder.regions.size() == before && !FrameClock::instance().pending()
        && std::none_of(timers.begin(), timers.end(), [](QTimer* t) { return t->isActive(); });
}

} // namespace

TEST(TextEditDisplay, RepaintsOnlyTheLinesAChangeTouchedAndShowsWhatAFreshPaintShows)
{
    TextEditWidget edit;
    QString lines;
    for (int i = 0; i < 400; ++i)
        lines += QStringLiteral("line %1\n").arg(i);
    showAtEnd(edit, lines);
    PaintRecorder recorder;
    QCoreApplication::processEvents();
    edit.viewport()->installEventFilter(&recorder);
    const int lineHeight = static_cast<int>(std::ceil(QFontMetricsF(songFont()).height()));
    const int rows = (edit.viewport()->height() - 1) / lineHeight;
    std::string burst;
    for (int i = 0; i < 100; ++i)
        burst += "\nx" + std::to_string(i);

    const struct {
        const char* name;
        std::string bytes;
        int paintedRows;  // at most
        bool endOnly;     // only the end of the last line is painted
    } cases[] = {
        {"a burst of lines", burst, rows + 1, false},
        {"a byte on the last line", "y", 1, true},
        {"a line break: the lines move up", "\nz", 2, false},
        {"a wrapped paragraph grows by a line", QStringLiteral("0D ").repeated(20).toStdString(), 2, false},
        {"bytes added to a wrapped paragraph's last line", "0D 0D ", 1, true},
    };
    const int bottom = 1 + rows * lineHeight;  // of the last whole row
    for (const auto& c : cases) {
        recorder.regions.clear();
        receive(edit, c.bytes);
        EXPECT_TRUE(recorder.regions.empty()) << c.name << ": painted while the text changes";
        ASSERT_TRUE(QTest::qWaitFor([&] { return Quiet(edit, recorder) && !recorder.regions.empty(); })) << c.name;
        EXPECT_LE(recorder.regions.size(), 2u) << c.name << ": painted once, at the next frame";
        QRegion painted;
        for (const QRegion& region : recorder.regions)
            painted += region;
        const QRect box = painted.boundingRect();
        // The last lines, and the blank below them, and nothing else.
        EXPECT_GE(box.top(), bottom - c.paintedRows * lineHeight) << c.name;
        EXPECT_GE(box.bottom(), bottom - lineHeight) << c.name << ": the last line is painted";
        if (c.endOnly) {
            EXPECT_GT(box.left(), 0) << c.name << ": what stands on the line is not painted again";
        }
        EXPECT_EQ(edit.firstVisibleLine(), edit.lineCount() - rows) << c.name << ": the view follows the end";
    }

    // The pixels on screen after all that, moved and painted, are those of
    // the same text painted afresh.
    TextEditWidget fresh;
    showAtEnd(fresh, edit.text());
    PaintRecorder freshRecorder;
    fresh.viewport()->installEventFilter(&freshRecorder);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Quiet(fresh, freshRecorder); }));
    ASSERT_EQ(fresh.firstVisibleLine(), edit.firstVisibleLine());
    auto onScreen = [](TextEditWidget& w) { return w.screen()->grabWindow(w.winId()).toImage(); };
    EXPECT_EQ(onScreen(edit), onScreen(fresh));
    EXPECT_EQ(edit.verticalScrollBar()->value(), edit.firstVisibleLine());

    edit.firstVisibleLine();  // brings the view up to date
    const QImage unselected = edit.viewport()->grab().toImage();
    edit.setSelection(edit.length() - 4, edit.length());
    edit.firstVisibleLine();
    EXPECT_NE(edit.viewport()->grab().toImage(), unselected) << "the selection is painted";

    // A selection shown, then moved twice before the next frame, leaves no
    // trace on the lines it was shown on or passed through.
    edit.setSelection(edit.length() - 40, edit.length() - 30);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Quiet(edit, recorder); }));
    ASSERT_NE(onScreen(edit), onScreen(fresh));
    edit.setSelection(edit.length() - 12, edit.length() - 9);
    edit.setSelection(edit.length(), edit.length());
    ASSERT_TRUE(QTest::qWaitFor([&] { return Quiet(edit, recorder); }));
    EXPECT_EQ(onScreen(edit), onScreen(fresh)) << "the old selections are painted over";
}

// A CR at the end of the received text is a line break on screen at once; an
// LF after it joins it. The count of lines a program asks for names the CR's
// line once the byte after it is known, so CR LF counts once at every moment.
// The line count follows deletions by the user and a clear as a fresh edit
// of the same bytes counts, and the change signals reach a listener that
// comes late.
TEST(TextEditReceive, ALoneCrBreaksTheLineAtOnceAndTheLineCountFollowsEveryChange)
{
    TextEditWidget edit;
    showAtEnd(edit, QString());
    auto linesOf = [](const std::string& bytes) {
        TextEditWidget fresh;
        fresh.setFont(songFont());
        fresh.resize(300, 200);
        fresh.setBytes(bytes);
        return std::pair{fresh.text(), fresh.lineCount()};
    };
    const struct {
        std::string bytes;
        const char* shown;
        int lines, settled;
    } steps[] = {
        {"ab\r", "ab\n", 2, 1},     // quiet device: the break is shown already
        {"\n", "ab\n", 2, 2},       // the LF joins it, in a burst of its own
        {"c\r", "ab\nc\n", 3, 2},
        {"d", "ab\nc\nd", 3, 3},   // a CR alone is a line break too
        {"\r\r\n", "ab\nc\nd\n\n", 5, 5},
    };
    for (const auto& step : steps) {
        receive(edit, step.bytes);
        EXPECT_EQ(edit.text(), QString::fromLatin1(step.shown));
        EXPECT_EQ(edit.lineCount(), step.lines) << step.shown;
        EXPECT_EQ(edit.settledLineCount(), step.settled) << step.shown;
    }
    waitForFrame();
    QCoreApplication::processEvents();
    const QImage shown = edit.viewport()->grab().toImage();
    TextEditWidget fresh;
    showAtEnd(fresh, edit.text());
    EXPECT_EQ(shown, fresh.viewport()->grab().toImage()) << "what is shown is what the text says";

    QSignalSpy changed(&edit, &TextEditWidget::textChanged);
    edit.setSelection(edit.length(), edit.length());
    QTest::keyClick(&edit, Qt::Key_Backspace);  // the last line break, by the user
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(std::pair(edit.text(), edit.lineCount()), linesOf(edit.bytes()));
    edit.editText(0, 3, QString());  // "ab" and its line break
    EXPECT_EQ(std::pair(edit.text(), edit.lineCount()), linesOf(edit.bytes()));
    receive(edit, "e\r");
    EXPECT_EQ(std::pair(edit.text(), edit.lineCount()), linesOf(edit.bytes()));
    edit.setBytes("");
    EXPECT_EQ(edit.lineCount(), 1);
    EXPECT_EQ(edit.settledLineCount(), 1);
    receive(edit, "\r");
    EXPECT_EQ(edit.lineCount(), 2);
    EXPECT_EQ(edit.settledLineCount(), 1);
    EXPECT_GE(changed.count(), 5);
}

// A change after a quiet spell is shown in the same turn of the event loop:
// what a lone received byte or keystroke brings waits for no frame.
TEST(FrameClockTest, AChangeAfterAQuietSpellIsRefreshedAtOnce)
{
    waitForFrame();
    QObject owner;
    int refreshed = 0;
    FrameRequest frame(&owner, [&] { ++refreshed; });
    QTest::qWait(FrameClock::kFrameMs + 10);  // the quiet spell itself
    frame.ask();
    QCoreApplication::processEvents();
    EXPECT_EQ(refreshed, 1);
}

TEST(TextEditAccessible, ReadsTheShownTextCaretSelectionLinesAndPlaces)
{
    TextEditWidget edit;
    showAtEnd(edit, QString());
    QAccessibleTextInterface* text = QAccessible::queryAccessibleInterface(&edit)->textInterface();
    ASSERT_NE(text, nullptr);

    edit.setBytes(Gbk("温度") + "\r\nA\rB");
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
    edit.setText(QString(120, u'x') + QStringLiteral("\nend"));
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

// What the user (at the keyboard or through an assistive tool) and the
// program change is told at the next frame; only the user's edits are
// userEdited(), and a read-only edit takes none of them.
TEST(TextEditAccessible, ChangesCaretAndSelectionAreToldAtTheFrame)
{
    const auto tool = [](TextEditWidget& edit) {
        return QAccessible::queryAccessibleInterface(&edit)->editableTextInterface();
    };
    const struct {
        const char* name;
        std::function<void(TextEditWidget&)> act;
        std::vector<std::string> told;
        std::string bytes;  // after
        int userEdits = 0;
    } rows[] = {
        {"appended bytes make one insertion", [](auto& e) { receive(e, Gbk("温度")); },
         {"insert 7 温度", "cursor 9"}, "one\r\ntwo" + Gbk("温度")},
        {"a CR LF is told once both bytes are in", [](auto& e) { receive(e, "\r\n" + Gbk("度")); },
         {"insert 7 \n度", "cursor 9"}, "one\r\ntwo\r\n" + Gbk("度")},
        {"a replaced selection", [](auto& e) { e.setSelection(0, 3); e.replaceSelection(QStringLiteral("1")); },
         {"update 0 one>1", "cursor 1"}, "1\r\ntwo"},
        {"cleared", [](auto& e) { e.setBytes(""); }, {"remove 0 one\ntwo"}, ""},
        {"selected by the user", [](auto& e) { QTest::keyClick(&e, Qt::Key_End, Qt::ShiftModifier); },
         {"selection 0 3", "cursor 3"}, "one\r\ntwo"},
        {"changes apart, in their order",
         [](auto& e) {
             e.setSelection(7, 7); e.replaceSelection(QStringLiteral("!"));
             e.setSelection(0, 1); e.replaceSelection(QString());
         },
         {"insert 7 !", "remove 0 o"}, "ne\r\ntwo!"},
        {"a tool inserts a line", [&](auto& e) { tool(e)->insertText(3, QStringLiteral("\nx")); },
         {"insert 3 \nx", "cursor 5"}, "one\r\nx\r\ntwo", 1},
        {"a tool deletes", [&](auto& e) { tool(e)->deleteText(1, 3); }, {"remove 1 ne", "cursor 1"}, "o\r\ntwo", 1},
        {"a tool replaces", [&](auto& e) { tool(e)->replaceText(0, 7, QString::fromUtf8("温")); },
         {"update 0 one\ntwo>温", "cursor 1"}, Gbk("温"), 1},
        {"a tool, read-only", [&](auto& e) { e.setReadOnly(true); tool(e)->insertText(0, QStringLiteral("x")); },
         {}, "one\r\ntwo"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TextEditWidget edit;
        edit.setText(QStringLiteral("one\ntwo"));
        QSignalSpy edited(&edit, &TextEditWidget::userEdited);
        testsupport::AccessibilityLog log;
        waitForFrame();
        log.told.clear();
        row.act(edit);
        EXPECT_TRUE(log.told.empty()) << "told before the frame";
        waitForFrame();
        EXPECT_EQ(log.told, row.told);
        EXPECT_EQ(edit.bytes(), row.bytes);
        EXPECT_EQ(edited.count(), row.userEdits);
    }

    // What changed while nobody listened is not told later.
    TextEditWidget edit;
    receive(edit, "abc");
    testsupport::AccessibilityLog log;
    waitForFrame();
    EXPECT_EQ(log.told, std::vector<std::string>{"cursor 3"});
}
