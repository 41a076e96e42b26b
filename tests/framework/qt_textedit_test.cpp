// The multi-line edit's widget: wrapping at its width and font, selection,
// keys, clipboard, signals, and a display that paints at display rate and
// only what changed. Real widgets, offscreen; fonts are set by pixel size so
// wrapping does not depend on the screen.
#include "framework/frameclock.h"
#include "framework/textedit.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QInputMethodEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QPaintEvent>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>


namespace {

QFont pixelFont(const char* family, int pixels)
{
    QFont font{QString::fromLatin1(family)};
    font.setPixelSize(pixels);
    return font;
}

// The dialog's font: 6 pixels for a Latin character, 12 for a Chinese one.
QFont songFont()
{
    return pixelFont("AR PL UMing CN", 12);
}

// Appends one character at a time with the receive path's calls.
void receive(TextEditWidget& edit, const QString& text)
{
    for (QChar c : text) {
        (void)edit.lineCount();
        const int length = edit.length();
        edit.setSelection(length, length);
        edit.scrollToCaret();
        edit.replaceSelection(QString(c));
    }
}

} // namespace

TEST(TextEditWrap, FollowsWidthAndFontBeforeAndAfterBeingShown)
{
    TextEditWidget edit;
    edit.setFont(songFont());
    edit.resize(300, 200);
    edit.setText(QString(100, u'x'));
    const int wide = edit.lineCount();
    edit.resize(150, 200);  // hidden: no resize event arrives
    const int perLine = edit.wrapWidth() / 6;
    EXPECT_EQ(edit.lineCount(), (100 + perLine - 1) / perLine);
    EXPECT_GT(edit.lineCount(), wide);

    const int hidden = edit.lineCount();
    edit.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&edit));
    EXPECT_EQ(edit.lineCount(), hidden);
    EXPECT_LE(edit.wrapWidth(), edit.viewport()->width());
    EXPECT_GT(edit.wrapWidth(), edit.viewport()->width() - 8);

    edit.setFont(pixelFont("AR PL UMing CN", 24));
    const int bigPerLine = edit.wrapWidth() / 12;
    EXPECT_EQ(edit.lineCount(), (100 + bigPerLine - 1) / bigPerLine);
}

TEST(TextEditSelection, ClampsAndReplaces)
{
    TextEditWidget edit;
    edit.setFont(songFont());
    edit.resize(300, 200);
    edit.setText(QStringLiteral("hello world"));
    EXPECT_EQ(edit.selectionStart(), 0) << "setting the text puts the caret at the start";

    edit.setSelection(-3, 99);
    EXPECT_EQ(edit.selectionStart(), 0);
    EXPECT_EQ(edit.selectionEnd(), 11);
    EXPECT_EQ(edit.selectedText(), QStringLiteral("hello world"));

    edit.setSelection(8, 2);
    EXPECT_EQ(edit.selectionStart(), 2);
    EXPECT_EQ(edit.selectionEnd(), 8);
    edit.replaceSelection(QStringLiteral("XY"));
    EXPECT_EQ(edit.text(), QStringLiteral("heXYrld"));
    EXPECT_EQ(edit.selectionStart(), 4);
    EXPECT_EQ(edit.selectionEnd(), 4);

    edit.replaceSelection(QStringLiteral("\n"));
    EXPECT_EQ(edit.text(), QStringLiteral("heXY\nrld"));
    EXPECT_EQ(edit.lineCount(), 2);
    EXPECT_EQ(edit.lineStart(1), 5);

    edit.setSelection(edit.length(), edit.length());
    edit.replaceSelection(QStringLiteral("!"));
    EXPECT_EQ(edit.text(), QStringLiteral("heXY\nrld!"));

    edit.setReadOnly(true);
    edit.setSelection(0, 5);
    edit.replaceSelection(QString());
    EXPECT_EQ(edit.text(), QStringLiteral("rld!")) << "read-only stops the user, not the program";
}

TEST(TextEditSignals, TellProgramChangesFromUserChanges)
{
    TextEditWidget edit;
    QSignalSpy changed(&edit, &TextEditWidget::textChanged);
    QSignalSpy edited(&edit, &TextEditWidget::userEdited);
    bool userEditPending = false;
    int changesSeenAsUserEdits = 0;
    QObject::connect(&edit, &TextEditWidget::userEdited, [&] { userEditPending = true; });
    QObject::connect(&edit, &TextEditWidget::textChanged, [&] {
        changesSeenAsUserEdits += userEditPending;
        userEditPending = false;
    });

    edit.setText(QStringLiteral("abc"));
    edit.setSelection(3, 3);
    edit.replaceSelection(QStringLiteral("d"));
    edit.replaceSelection(QString());  // nothing replaced by nothing: no change
    EXPECT_EQ(changed.count(), 2);
    EXPECT_EQ(edited.count(), 0);

    QTest::keyClicks(&edit, QStringLiteral("ef"));
    QTest::keyClick(&edit, Qt::Key_Backspace);
    QTest::keyClick(&edit, Qt::Key_Left);  // moving changes nothing
    EXPECT_EQ(edit.text(), QStringLiteral("abcde"));
    EXPECT_EQ(changed.count(), 5);
    EXPECT_EQ(edited.count(), 3);
    EXPECT_EQ(changesSeenAsUserEdits, 3) << "userEdited() comes before the textChanged() of the same change";
}

TEST(TextEditKeys, TypingSelectingAndTheClipboard)
{
    TextEditWidget edit;
    QClipboard* clipboard = QGuiApplication::clipboard();
    QTest::keyClicks(&edit, QStringLiteral("hello world"));
    EXPECT_EQ(edit.text(), QStringLiteral("hello world"));
    for (int i = 0; i < 5; ++i)
        QTest::keyClick(&edit, Qt::Key_Backspace);
    QTest::keyClick(&edit, Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClick(&edit, Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClicks(&edit, QStringLiteral("X"));
    EXPECT_EQ(edit.text(), QStringLiteral("hellX"));

    QTest::keyClick(&edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&edit, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard->text(), QStringLiteral("hellX"));
    QTest::keyClick(&edit, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(edit.text(), QString());
    clipboard->setText(QStringLiteral("a\r\nb\rc"));
    QTest::keyClick(&edit, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(&edit, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(edit.text(), QStringLiteral("a\nb\nca\nb\nc")) << "pasted line breaks become '\\n'";
    EXPECT_EQ(edit.lineCount(), 5);

    QTest::keyClick(&edit, Qt::Key_Home, Qt::ControlModifier);
    QTest::keyClick(&edit, Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(&edit, Qt::Key_End, Qt::ShiftModifier);
    EXPECT_EQ(edit.selectedText(), QStringLiteral("a\nb"));
    QTest::keyClick(&edit, Qt::Key_Delete);
    EXPECT_EQ(edit.text(), QStringLiteral("\nca\nb\nc"));

    QInputMethodEvent composing(QStringLiteral("shuju"), {});
    QApplication::sendEvent(&edit, &composing);
    EXPECT_EQ(edit.text(), QStringLiteral("\nca\nb\nc")) << "text being composed is not text yet";
    QInputMethodEvent compose;
    compose.setCommitString(QStringLiteral("数据"));
    QApplication::sendEvent(&edit, &compose);
    EXPECT_EQ(edit.text(), QStringLiteral("数据\nca\nb\nc"));

    edit.setReadOnly(true);
    QTest::keyClicks(&edit, QStringLiteral("zz"));
    QTest::keyClick(&edit, Qt::Key_Backspace);
    QTest::keyClick(&edit, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(edit.text(), QStringLiteral("数据\nca\nb\nc"));
    QTest::keyClick(&edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&edit, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard->text(), edit.text()) << "a read-only edit still copies";
}

TEST(TextEditKeys, EnterEscapeAndTabBelongToTheDialogUnlessWanted)
{
    QDialog dialog;
    auto* edit = new TextEditWidget(&dialog);
    auto* ok = new QPushButton(QStringLiteral("OK"), &dialog);
    auto* layout = new QHBoxLayout(&dialog);
    layout->addWidget(edit);
    layout->addWidget(ok);
    ok->setDefault(true);
    QSignalSpy clicked(ok, &QPushButton::clicked);
    QSignalSpy rejected(&dialog, &QDialog::rejected);
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    edit->setFocus();

    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClick(edit, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(edit->text(), QString());
    EXPECT_EQ(clicked.count(), 2) << "Enter presses the default button";

    QTest::keyClick(edit, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(edit->text(), QStringLiteral("\n"));
    edit->setWantReturn(true);
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(edit->text(), QStringLiteral("\n\n"));
    EXPECT_EQ(clicked.count(), 2);

    QTest::keyClick(edit, Qt::Key_Tab);
    EXPECT_EQ(edit->text(), QStringLiteral("\n\n"));
    EXPECT_TRUE(ok->hasFocus()) << "Tab moves the focus on";

    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_EQ(rejected.count(), 1);
}

TEST(TextEditMouse, ClickDragAndDoubleClickSelect)
{
    TextEditWidget edit;
    edit.setFont(songFont());
    edit.resize(300, 200);
    edit.setText(QStringLiteral("alpha beta gamma\nsecond"));
    edit.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&edit));
    QWidget* view = edit.viewport();

    // Inside "beta", whose characters span 36 to 60 pixels after the margin.
    QTest::mouseDClick(view, Qt::LeftButton, {}, QPoint(51, 5));
    EXPECT_EQ(edit.selectedText(), QStringLiteral("beta"));

    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(0, 5));
    EXPECT_EQ(edit.selectionStart(), 0);
    EXPECT_EQ(edit.selectionEnd(), 0);
    QMouseEvent drag(QEvent::MouseMove, QPointF(view->width() - 1, 5 + 12), view->mapToGlobal(QPointF(0, 0)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &drag);
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(view->width() - 1, 5 + 12));
    EXPECT_EQ(edit.selectedText(), QStringLiteral("alpha beta gamma\nsecond"));
}

TEST(TextEditDisplay, PaintsAtDisplayRateAndFollowsTheCaret)
{
    TextEditWidget edit;
    edit.setFont(songFont());
    edit.resize(300, 200);
    edit.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&edit));

    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* event) override
        {
            paints += event->type() == QEvent::Paint;
            return false;
        }
    } counter;
    QCoreApplication::processEvents();
    edit.viewport()->installEventFilter(&counter);

    for (int i = 0; i < 100; ++i)
        receive(edit, QStringLiteral("line %1\n").arg(i));
    EXPECT_EQ(counter.paints, 0) << "no painting while the text changes";
    ASSERT_TRUE(QTest::qWaitFor([&] { return counter.paints > 0; }));
    QCoreApplication::processEvents();
    EXPECT_LE(counter.paints, 2) << "a burst of changes is painted once";

    const int caretLine = edit.lineCount() - 1;
    const int first = edit.firstVisibleLine();
    EXPECT_GT(first, 0);
    EXPECT_LE(first, caretLine);
    EXPECT_LT(caretLine - first, edit.viewport()->height() / 12) << "the caret's line is in view";
    EXPECT_EQ(edit.verticalScrollBar()->value(), first);

    edit.scrollLines(-5);
    EXPECT_EQ(edit.firstVisibleLine(), first - 5);
    edit.scrollLines(-1000);
    EXPECT_EQ(edit.firstVisibleLine(), 0);
    edit.verticalScrollBar()->setValue(3);
    EXPECT_EQ(edit.firstVisibleLine(), 3);

    // A selection is painted in the highlight colour, text in the text colour.
    edit.setText(QStringLiteral("XXXXXXXX"));
    auto pixelsOf = [&](QPalette::ColorRole role) {
        edit.firstVisibleLine();  // brings the view up to date
        const QImage image = edit.viewport()->grab().toImage();
        const QRgb colour = edit.palette().color(role).rgb();
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                count += image.pixel(x, y) == colour;
        return count;
    };
    EXPECT_GT(pixelsOf(QPalette::Text), 0);
    EXPECT_EQ(pixelsOf(QPalette::Highlight), 0);
    edit.setSelection(0, 4);
    EXPECT_GT(pixelsOf(QPalette::Highlight), 4 * 6 * 12 / 3) << "a third of the band at least, around the glyphs";
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

TEST(TextEditDisplay, RepaintsOnlyTheLinesAChangeTouchedAndNothingWhileNothingChanges)
{
    TextEditWidget edit;
    edit.setFocusPolicy(Qt::NoFocus);  // no blinking caret
    edit.setFont(songFont());
    edit.resize(300, 200);
    QString lines;
    for (int i = 0; i < 400; ++i)
        lines += QStringLiteral("line %1\n").arg(i);
    edit.setText(lines);
    edit.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&edit));
    PaintRecorder recorder;
    edit.viewport()->installEventFilter(&recorder);
    receive(edit, QStringLiteral("x"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Quiet(edit, recorder) && !recorder.regions.empty(); }));
    const int lineHeight = static_cast<int>(std::ceil(QFontMetricsF(songFont()).height()));
    const int rows = (edit.viewport()->height() - 1) / lineHeight;
    ASSERT_EQ(edit.firstVisibleLine(), edit.lineCount() - rows) << "the view follows the end";

    const struct {
        const char* name;
        QString bytes;
        int paintedRows;  // at most
    } cases[] = {
        {"a byte on the last line", QStringLiteral("y"), 1},
        {"a line break: the lines move up", QStringLiteral("\nz"), 2},
        {"a wrapped paragraph grows by a line", QStringLiteral("0D ").repeated(20), 2},
    };
    const int bottom = 1 + rows * lineHeight;  // of the last whole row
    for (const auto& c : cases) {
        recorder.regions.clear();
        receive(edit, c.bytes);
        ASSERT_TRUE(QTest::qWaitFor([&] { return Quiet(edit, recorder) && !recorder.regions.empty(); })) << c.name;
        QRegion painted;
        for (const QRegion& region : recorder.regions)
            painted += region;
        const QRect box = painted.boundingRect();
        // The last lines, and the blank below them, and nothing else.
        EXPECT_GE(box.top(), bottom - c.paintedRows * lineHeight) << c.name;
        EXPECT_GE(box.bottom(), bottom - lineHeight) << c.name << ": the last line is painted";
        EXPECT_EQ(edit.firstVisibleLine(), edit.lineCount() - rows) << c.name;
    }

    // The pixels on screen after all that, moved and painted, are those of
    // the same text painted afresh.
    TextEditWidget fresh;
    fresh.setFocusPolicy(Qt::NoFocus);
    fresh.setFont(songFont());
    fresh.resize(300, 200);
    fresh.setText(edit.text());
    fresh.setSelection(fresh.length(), fresh.length());
    fresh.scrollToCaret();
    fresh.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&fresh));
    PaintRecorder freshRecorder;
    fresh.viewport()->installEventFilter(&freshRecorder);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Quiet(fresh, freshRecorder); }));
    ASSERT_EQ(fresh.firstVisibleLine(), edit.firstVisibleLine());
    auto onScreen = [](TextEditWidget& w) { return w.screen()->grabWindow(w.winId()).toImage(); };
    EXPECT_EQ(onScreen(edit), onScreen(fresh));
}
