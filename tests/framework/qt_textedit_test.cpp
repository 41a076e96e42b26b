// The multi-line edit: wrapped lines counted incrementally agree with a full
// layout, the wrapping rules, selection, keys, clipboard, signals and the
// deferred display. Real widgets, offscreen; fonts are set by pixel size so
// wrapping does not depend on the screen.
#include "framework/textedit.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QFontInfo>
#include <QHBoxLayout>
#include <QInputMethodEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <random>

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

// Every line of `edit` starts where a full layout of the same text starts it.
void expectSameLines(const TextEditWidget& edit, TextEditWidget& full, const char* when)
{
    full.setText(edit.text());
    ASSERT_EQ(edit.lineCount(), full.lineCount()) << when;
    for (int line = 0; line < full.lineCount(); ++line)
        ASSERT_EQ(edit.lineStart(line), full.lineStart(line)) << when << ", line " << line;
}

QString randomText(std::mt19937& random, int size, const QString& alphabet, int maxWord)
{
    QString text;
    while (text.size() < size) {
        const int word = std::uniform_int_distribution<int>(1, maxWord)(random);
        for (int i = 0; i < word; ++i)
            text += alphabet.at(std::uniform_int_distribution<int>(0, int(alphabet.size()) - 1)(random));
        const int gap = std::uniform_int_distribution<int>(0, 9)(random);
        text += gap == 0 ? QStringLiteral("  ") : gap == 1 ? QStringLiteral("\t") : QStringLiteral(" ");
    }
    return text.left(size);
}

QString hexPairs(int count)
{
    QString text;
    for (int i = 0; i < count; ++i)
        text += QStringLiteral("%1 ").arg(i % 256, 2, 16, QLatin1Char('0')).toUpper();
    return text;
}

struct Sample {
    const char* name;
    QString text;
    int checkEvery;  // characters between comparisons with a full layout
};

std::vector<Sample> samples()
{
    std::mt19937 random(20240611);
    const QString latin = QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMWi0123456789.,;");
    QString lines;
    for (int i = 0; i < 40; ++i)
        lines += randomText(random, 80, latin, 12) + u'\n';
    QString cjk;
    for (int i = 0; i < 20; ++i) {
        cjk += randomText(random, 50, QStringLiteral("数据过长影响显示灵敏度已经清空请见量，。"), 30);
        cjk += randomText(random, 20, latin, 6) + u'\n';
    }
    QString breaks = QStringLiteral("\n\nab\n\n\ncd \n \n\t\nlast");
    QString controls;
    for (int i = 0; i < 300; ++i)
        controls += QChar(i % 40 == 39 ? u'\n' : char16_t(i % 5 == 0 ? 1 + i % 31 : 'a' + i % 26));
    QString surrogates;
    for (int i = 0; i < 200; ++i)
        surrogates += i % 40 == 0 ? QStringLiteral(" ") : QString::fromUcs4(U"\U00020000x", 2);
    return {
        {"80-character lines", lines, 53},
        {"one long hexadecimal paragraph", hexPairs(3000), 211},
        {"words longer than a line", randomText(random, 3000, latin, 150), 37},
        {"Chinese mixed with Latin", cjk, 41},
        {"line breaks alone and in runs", breaks, 1},
        {"control characters", controls, 7},
        {"surrogate pairs split across appends", surrogates, 5},
    };
}

} // namespace

TEST(TextEditWrap, AppendingCharacterByCharacterMatchesAFullLayout)
{
    for (const QFont& font : {songFont(), pixelFont("DejaVu Sans", 11)}) {
        for (int width : {414, 150}) {
            for (const Sample& sample : samples()) {
                SCOPED_TRACE(testing::Message() << sample.name << ", " << font.family().toStdString()
                                                << ", width " << width);
                TextEditWidget edit;
                TextEditWidget full;
                for (TextEditWidget* e : {&edit, &full}) {
                    e->setFont(font);
                    e->resize(width, 200);
                }
                for (int i = 0; i < sample.text.size(); i += sample.checkEvery) {
                    receive(edit, sample.text.mid(i, sample.checkEvery));
                    expectSameLines(edit, full, "after an append");
                    if (testing::Test::HasFatalFailure())
                        return;
                }
                EXPECT_EQ(edit.text(), sample.text);
                EXPECT_GT(edit.lineCount(), 1);
            }
        }
    }
}

TEST(TextEditWrap, EditsAnywhereMatchAFullLayout)
{
    std::mt19937 random(7);
    const QString alphabet = QStringLiteral("abcdefghij 数据\n\tWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW");
    TextEditWidget edit;
    TextEditWidget full;
    for (TextEditWidget* e : {&edit, &full}) {
        e->setFont(songFont());
        e->resize(200, 200);
    }
    edit.setText(randomText(random, 400, alphabet, 20));
    QString expected = edit.text();
    for (int step = 0; step < 300; ++step) {
        const int a = std::uniform_int_distribution<int>(0, edit.length())(random);
        const int b = std::uniform_int_distribution<int>(0, edit.length())(random);
        const int size = std::uniform_int_distribution<int>(0, 3)(random) == 0 ? 0 : 12;
        const QString insert = randomText(random, size, alphabet, 20).left(
            std::uniform_int_distribution<int>(0, size)(random));
        edit.setSelection(a, b);
        edit.replaceSelection(insert);
        expected.replace(std::min(a, b), std::abs(a - b), insert);
        ASSERT_EQ(edit.text(), expected);
        ASSERT_EQ(edit.selectionStart(), std::min(a, b) + insert.size());
        ASSERT_EQ(edit.selectionEnd(), edit.selectionStart());
        expectSameLines(edit, full, "after an edit");
        if (HasFatalFailure())
            return;
        if (step % 50 == 0) {
            receive(edit, QStringLiteral("tail text\n"));
            expected += QStringLiteral("tail text\n");
        }
    }
}

// Expected counts follow from the rules with the song font's fixed widths.
TEST(TextEditWrap, FollowsTheEditControlRules)
{
    TextEditWidget edit;
    edit.setFont(songFont());
    ASSERT_EQ(QFontInfo(edit.font()).family(), QStringLiteral("AR PL UMing CN"));
    edit.resize(300, 200);
    edit.resize(300 - edit.wrapWidth() % 6, 200);  // so that a full line fits exactly
    ASSERT_EQ(edit.wrapWidth() % 6, 0);
    const int n = edit.wrapWidth() / 6;  // Latin characters per line
    ASSERT_GT(n, 20);
    const QString a = QString(n, u'a');
    auto linesOf = [&](const QString& text) {
        edit.setText(text);
        return edit.lineCount();
    };

    EXPECT_EQ(linesOf(QString()), 1);
    EXPECT_EQ(linesOf(QStringLiteral("\n")), 2);
    EXPECT_EQ(linesOf(QStringLiteral("a\n\nb")), 3);
    EXPECT_EQ(linesOf(a), 1);
    EXPECT_EQ(linesOf(a + u'a'), 2);
    EXPECT_EQ(edit.lineStart(1), n) << "a word longer than a line breaks where it overflows";
    EXPECT_EQ(linesOf(a + a + a + u'a'), 4);

    EXPECT_EQ(linesOf(QStringLiteral("ab ") + QString(n - 3, u'c')), 1);
    EXPECT_EQ(linesOf(QStringLiteral("ab ") + QString(n - 2, u'c')), 2);
    EXPECT_EQ(edit.lineStart(1), 3) << "the word that overflows moves whole to the next line";
    EXPECT_EQ(linesOf(QStringLiteral("ab ") + QString(2 * n, u'c')), 3);
    EXPECT_EQ(edit.lineStart(2), 3 + n);

    EXPECT_EQ(linesOf(a + QStringLiteral("      \t\t")), 1) << "blanks hang past the edge";
    EXPECT_EQ(linesOf(a + QStringLiteral("     b")), 2);
    EXPECT_EQ(edit.lineStart(1), n + 5);

    const QString hanzi(n / 2, QChar(0x6570));
    EXPECT_EQ(linesOf(hanzi), 1);
    EXPECT_EQ(linesOf(hanzi + QChar(0x636E)), 2) << "Chinese characters are twice as wide";
    EXPECT_EQ(linesOf(QString(n - 1, u'a') + QChar(0x636E)), 2);
    EXPECT_EQ(edit.lineStart(1), n - 1);

    const QString pairs = QString::fromUcs4(U"\U00020000").repeated(n + 5);
    ASSERT_GT(linesOf(pairs), 1);
    for (int line = 1; line < edit.lineCount(); ++line)
        EXPECT_EQ(edit.lineStart(line) % 2, 0) << "line " << line << " starts inside a surrogate pair";

    EXPECT_EQ(edit.lineStart(-1), -1);
    EXPECT_EQ(edit.lineStart(edit.lineCount()), -1);
}

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
