// TextEditWidget: a multi-line edit control with a text model of its own.
//
// It wraps words at the width of its view (no horizontal scrolling), counts
// the wrapped lines it shows, and keeps the cost of appending at the end of
// the text independent of the text's size: a terminal appends every received
// byte on its own and asks for the line count each time. Text is one QString
// with '\n' line breaks (no other character ends a line). Positions are QChar
// offsets into it.
//
// Wrapping follows the classic edit control: a line breaks after a blank (space
// or tab); blanks at the end of a line hang past the right edge instead of
// wrapping; a word wider than the line breaks between characters; '\n' ends a
// line. Widths come from the widget's font (kerning off, so a line is as wide
// as the sum of its characters), and the layout follows the widget's width
// whether or not it has been shown.
//
// Appending at the end lays out only the last line, incrementally. Any other
// change lays out the paragraphs it touches; a change of width, font or style
// lays out everything. Painting and the scroll bar follow at display rate,
// never synchronously with a change.
//
// The vertical scroll bar is shown unless its policy is set to always off;
// its width is kept for it either way. There is no horizontal one. Focus
// arriving by Tab selects the whole text, as a dialog does with its edits.
// Like every widget it lives on the user-interface thread.
#pragma once

#include <QAbstractScrollArea>
#include <QFont>
#include <QFontMetricsF>
#include <QString>
#include <QTimer>

#include <vector>

class QPainter;

class TextEditWidget : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit TextEditWidget(QWidget* parent = nullptr);
    ~TextEditWidget() override;

    // The whole text, '\n' between lines. Sharing: no copy of the characters.
    QString text() const { return m_text; }
    // Replaces the text; the caret goes to the start and the view to the top.
    // textChanged() follows, even when the text is the same.
    void setText(const QString& text);
    int length() const { return static_cast<int>(m_text.size()); }

    // Lines shown, each wrapped line counted; 1 for an empty text, and a text
    // ending in '\n' has an empty last line. Constant time.
    int lineCount() const;
    // Position of the first character of a line, -1 when there is no such line.
    int lineStart(int line) const;
    // The width, in pixels, that lines wrap at.
    int wrapWidth() const;

    // The selection runs from the anchor to the caret (the caret is at `end`).
    // Both are clamped to [0, length()]. The view does not move: see
    // scrollToCaret().
    void setSelection(int start, int end);
    int selectionStart() const;
    int selectionEnd() const;
    QString selectedText() const;
    // Replaces the selection with `text` (inserts at the caret when nothing is
    // selected) and leaves the caret, with nothing selected, after it. Works on
    // a read-only control too: read-only only stops the user.
    void replaceSelection(const QString& text);

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

private:
    // Widths are in 1/64 pixel so that incremental and full layouts add up
    // exactly the same way.
    using Fixed = int;

    // A run of text between line breaks, and where its lines start.
    struct Paragraph {
        int start = 0;      // offset of its first character in m_text
        int length = 0;     // without the '\n' that ends it
        int firstLine = 0;  // index of its first line among all lines
        std::vector<int> lineStarts{0};  // offsets within the paragraph
        // State of the last line, so that appending goes on where it stopped:
        Fixed lastWidth = 0;     // width of the last line
        int breakAfter = -1;     // offset after its last blank, -1 if none
        Fixed widthAtBreak = 0;  // width of the last line up to breakAfter
        int lineCount() const { return static_cast<int>(lineStarts.size()); }
    };

    struct Geometry {
        int width = -1;
        int frameWidth = -1;
        Qt::ScrollBarPolicy policy = Qt::ScrollBarAsNeeded;
        bool operator==(const Geometry&) const = default;
    };

    bool updateLayoutInputs();
    void ensureLayout();
    void relayoutAll();
    void layoutParagraph(Paragraph& para) const;
    void appendToLastParagraph(int count);
    void replaceRange(int start, int end, const QString& text);
    void renumberFrom(size_t index);
    Fixed charWidth(const QChar* paragraph, int offset, Fixed x) const;
    Fixed textWidth(const QChar* paragraph, int from, int to) const;
    int breakBefore(const QChar* paragraph, int lineStart, int offset) const;

    size_t paragraphAt(int pos) const;
    size_t paragraphOfLine(int line) const;
    int lineOf(int pos, bool atLineEnd) const;
    int lineStartPos(int line) const;
    int lineEndPos(int line) const;
    int posAtX(int line, Fixed x) const;
    Fixed xOf(int pos, bool atLineEnd) const;
    int posAtPoint(const QPoint& point, bool* atLineEnd) const;

    int visibleLines() const;
    int maxTopLine() const;
    void applyPendingView();
    QRect caretRect() const;
    void scheduleRefresh();
    void refresh();
    void restartBlink();
    void drawLine(QPainter& painter, int line, int y, const QRect& area) const;

    void moveCaret(int pos, bool select, bool atLineEnd = false);
    void userReplace(const QString& text);
    void userDelete(bool forward, bool word);
    bool handleStandardKey(QKeyEvent* event);
    int wordStart(int pos) const;
    int wordEnd(int pos) const;
    void copy() const;
    void cut();
    void paste();

    QString m_text;
    std::vector<Paragraph> m_paras;
    int m_lineCount = 1;
    int m_anchor = 0;
    int m_caret = 0;
    bool m_caretAtLineEnd = false;  // caret at a wrap point shows at the line's end
    Fixed m_goalX = -1;             // column kept by Up/Down, -1 when none

    bool m_readOnly = false;
    bool m_wantReturn = false;

    // Layout inputs.
    Geometry m_geometry;
    bool m_fontDirty = true;
    QFont m_layoutFont;
    QFontMetricsF m_metrics{QFont()};
    Fixed m_wrapWidth = 0;
    Fixed m_tabWidth = 0;
    int m_lineHeight = 1;
    int m_ascent = 0;
    mutable std::vector<Fixed> m_advance;  // per BMP character, -1 until measured

    // View.
    int m_topLine = 0;
    bool m_scrollToCaret = false;
    bool m_syncingScrollBar = false;
    QTimer m_refreshTimer;
    QTimer m_blinkTimer;
    bool m_caretShown = true;
    QString m_preedit;  // input method text being composed
    bool m_dragging = false;
};
