// TextEditWidget: the view and input of a multi-line edit control.
//
// The text is a TextModel (the code page 936 bytes the program handed over and
// the characters they show) and its lines a TextLayout at the width of the
// view; the widget draws them and turns keys, mouse and the input method into
// changes of the model. The program speaks in bytes (bytes(), setBytes(),
// the byte selection); the user and the toolkit in characters, '\n' between
// lines (text(), positions, setText()). What the user types goes in as code
// page 936 bytes, a line break as CR LF; what the program handed over stays
// byte for byte.
//
// Widths come from the widget's font (kerning off, so a line is as wide as the
// sum of its characters), and the layout follows the widget's width whether or
// not it has been shown.
//
// Painting follows at display rate, never synchronously with a change, and
// only what changed: the lines a change touched are repainted, scrolling moves
// the pixels already drawn and paints the uncovered strip, and every line is
// shaped once and reused until its text or the font changes.
//
// The vertical scroll bar is shown unless its policy is set to always off;
// its width is kept for it either way. There is no horizontal one. Focus
// arriving by Tab selects the whole text, as a dialog does with its edits.
// Like every widget it lives on the user-interface thread.
#pragma once

#include <QAbstractScrollArea>
#include <QFont>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QRawFont>
#include <QString>
#include <QTimer>

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "framework/accessible.h"
#include "framework/frameclock.h"
#include "framework/textlayout.h"
#include "framework/textmodel.h"

class QPainter;
class QTextLayout;

class TextEditWidget : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit TextEditWidget(QWidget* parent = nullptr);
    ~TextEditWidget() override;

    // --- The program's side: bytes.
    const std::string& bytes() const { return m_model.bytes(); }
    size_t byteLength() const { return m_model.byteLength(); }
    // Replaces the text; the caret goes to the start and the view to the top.
    // textChanged() follows, even when the text is the same.
    void setBytes(std::string_view bytes);
    // The selection in bytes: exactly what was last set, while the user has
    // not moved it (positions inside a character are kept as they were given).
    std::pair<size_t, size_t> byteSelection() const;
    void setByteSelection(size_t start, size_t end);
    // Replaces the selected bytes and leaves the caret after the new ones.
    void replaceByteSelection(std::string_view bytes);

    // --- The user's side: characters, '\n' between lines.
    const TextModel& model() const { return m_model; }
    QString text() const;
    void setText(const QString& text);
    int length() const { return m_model.length(); }

    // Lines shown, each wrapped line counted; 1 for an empty text, and a text
    // ending in a line break has an empty last line. Constant time.
    int lineCount() const;
    // The lines as the edit's line-count message reports them: a CR that
    // ends the text shows its line break at once, but the line it opens is
    // counted once the byte after the CR is known (an LF joins the CR), so a
    // rule applied at every byte, as a line limit is, never falls between
    // the CR and the LF of a pair. Constant time.
    int settledLineCount() const;
    // Position of the first character of a line, -1 when there is no such line.
    int lineStart(int line) const;
    // The width, in pixels, that lines wrap at.
    int wrapWidth() const;

    // The selection runs from the anchor to the caret. Both are clamped to
    // [0, length()]. The view does not move: see scrollToCaret().
    void setSelection(int start, int end);
    int selectionStart() const;
    int selectionEnd() const;
    int caretPosition() const { return m_caret; }
    QString selectedText() const;
    // Replaces the selection with `text` (inserts at the caret when nothing is
    // selected) and leaves the caret, with nothing selected, after it. Works on
    // a read-only control too: read-only only stops the user.
    void replaceSelection(const QString& text);
    // Replaces characters [start, end) with `text` as the user's typing
    // would (for assistive tools that edit): nothing on a read-only control;
    // userEdited() follows, and the caret stands after the new text.
    void editText(int start, int end, const QString& text);

    // Where the character at `pos` is drawn, in viewport coordinates (at the
    // end of a line or of the text: an empty box where the caret would be),
    // and the position nearest to a point of the viewport.
    QRect characterRect(int pos) const;
    int positionAt(const QPoint& point) const;

    // Brings the caret's line into view at the next display refresh (a
    // replacement does so as well, as the classic control does).
    void scrollToCaret();
    // The first line shown, and a vertical scroll by whole lines (negative
    // goes up), clamped to the text.
    int firstVisibleLine() const;
    void scrollLines(int lines);

    bool isReadOnly() const { return m_readOnly; }
    void setReadOnly(bool readOnly);
    // When set, Enter inserts a line break; otherwise Enter is left to the
    // parent (a dialog's default button) and Ctrl+Enter inserts the break.
    bool wantReturn() const { return m_wantReturn; }
    void setWantReturn(bool wantReturn) { m_wantReturn = wantReturn; }

signals:
    // Characters [from, from + removed) became `inserted` characters; every
    // change of the shown text, by the program or the user.
    void textReplaced(int from, int removed, int inserted);
    // Every change of the text, by the program or the user.
    void textChanged();
    // A change made by the user (typing, input method, paste, cut, delete).
    // Emitted just before the textChanged() of the same change, so a handler
    // of textChanged() already knows who made it.
    void userEdited();

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void connectNotify(const QMetaMethod& signal) override;
    void disconnectNotify(const QMetaMethod& signal) override;

private:
    // Character widths of the font in 1/64 pixel, and the font's own glyph
    // of each character, each looked up once.
    class FontMetric : public TextMetric {
    public:
        static constexpr quint32 kNoGlyph = 0xFFFFFFFF;  // the font lacks it

        void setFont(const QFont& font);
        int advance(char16_t c) const override;
        int tabStop() const override { return m_tabStop; }
        const QFontMetricsF& metrics() const { return m_metrics; }
        const QRawFont& rawFont() const { return m_raw; }
        quint32 glyph(char16_t c) const;

    private:
        QFontMetricsF m_metrics{QFont()};
        QRawFont m_raw;
        int m_tabStop = 64;
        mutable std::vector<int> m_advance;     // per character, -1 until measured
        mutable std::vector<quint32> m_glyphs;  // per character, 0 until looked up
    };

    struct Geometry {
        int width = -1;
        int frameWidth = -1;
        Qt::ScrollBarPolicy policy = Qt::ScrollBarAsNeeded;
        bool operator==(const Geometry&) const = default;
    };
    Geometry currentGeometry() const { return {width(), frameWidth(), verticalScrollBarPolicy()}; }

    // A line ready to draw, kept while its text stays the same: the font's
    // glyphs at the layout's positions, or, when the font lacks a character,
    // a text layout that finds it in another font.
    struct ShapedLine {
        QString text;
        QGlyphRun glyphs;
        std::unique_ptr<QTextLayout> layout;
    };

    void listenersChanged();
    bool updateLayoutInputs();
    void ensureLayout();
    void replaceBytes(size_t from, size_t to, std::string_view bytes);
    int textWidth(int from, int to) const;  // on one line, from its start

    int lineEndPos(int line) const;
    int posAtX(int line, int x) const;
    int xOf(int pos, bool atLineEnd) const;
    int posAtPoint(const QPoint& point, bool* atLineEnd) const;

    int visibleLines() const;
    int maxTopLine() const;
    void applyPendingView();
    void showTopLine();
    QRect caretRect() const;
    QRect rowsRect(int firstLine, int lastLine) const;
    // Lines to repaint at the next refresh; `first` only from `firstFromX`
    // (in 1/64 pixel) on.
    void markLines(int first, int last, int firstFromX = 0);
    std::pair<int, int> selectionLines() const;
    void scheduleRefresh();
    void refresh();
    void restartBlink();
    ShapedLine& shaped(int line);

    void moveCaret(int pos, bool select, bool atLineEnd = false);
    void userReplace(const QString& text);
    void userDelete(bool forward, bool word);
    enum class Motion {
        NextChar, PreviousChar, NextWord, PreviousWord, LineStart, LineEnd,
        NextLine, PreviousLine, NextPage, PreviousPage, DocumentStart, DocumentEnd,
    };
    void moveCaretBy(Motion motion, bool select);
    void moveVertically(int lines, bool select);
    // The platform's standard keys for moving, selecting, the clipboard and
    // deleting; false for any other key.
    bool handleStandardKey(QKeyEvent* event);
    int wordStart(int pos) const;
    int wordEnd(int pos) const;
    void copy() const;
    void cut();
    void paste();

    TextModel m_model;
    TextLayout m_layout;
    int m_anchor = 0;
    int m_caret = 0;
    bool m_caretAtLineEnd = false;  // caret at a wrap point shows at the line's end
    int m_goalX = -1;               // column kept by Up/Down, -1 when none
    // The byte selection last set by the program, while the characters it
    // gave are still the selection.
    struct ByteSelection {
        size_t start = 0;
        size_t end = 0;
        int anchor = -1;
        int caret = -1;
    } m_byteSelection;

    bool m_readOnly = false;
    bool m_wantReturn = false;

    // Layout inputs.
    Geometry m_geometry;
    bool m_fontDirty = true;
    QFont m_layoutFont;
    FontMetric m_metric;
    int m_wrapWidth = -1;  // in 1/64 pixel
    int m_lineHeight = 1;
    int m_ascent = 0;

    // View.
    int m_topLine = 0;
    int m_shownTopLine = 0;  // the first line the viewport's pixels show
    bool m_scrollToCaret = false;
    bool m_syncingScrollBar = false;
    int m_dirtyFirst = 0;    // lines to repaint at the next refresh
    int m_dirtyLast = -1;
    int m_dirtyFirstFromX = 0;
    std::pair<int, int> m_paintedSelection{0, -1};  // lines the selection may show on
    QRect m_shownCaret;      // where the caret was drawn
    FrameRequest m_frame{this, [this] { refresh(); }};
    QTimer m_blinkTimer{this};
    bool m_caretShown = true;
    QString m_preedit;  // input method text being composed
    bool m_dragging = false;
    std::unordered_map<int, ShapedLine> m_shaped;
    AccessibleTextChanges m_accessible;  // told at the next refresh
    // Whether textReplaced() and textChanged() have receivers.
    bool m_replacedHeard = false;
    bool m_changedHeard = false;
};
