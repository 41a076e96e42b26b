#include "framework/textedit.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleHints>

#include <algorithm>
#include <cmath>

namespace {

// Space between the frame and the text, in pixels.
constexpr int kMarginLeft = 2;
constexpr int kMarginRight = 2;
constexpr int kMarginTop = 1;

// Display refreshes are gathered so that a burst of changes paints once; 30
// frames a second is plenty for a terminal, and each frame costs a repaint.
constexpr int kRefreshMs = 30;

constexpr int kFixedOne = 64;

int toFixed(qreal pixels)
{
    return static_cast<int>(std::lround(pixels * kFixedOne));
}

qreal toPixels(int fixed)
{
    return static_cast<qreal>(fixed) / kFixedOne;
}

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

// Characters drawn as nothing: a glyph for them would be the font's guess.
bool isInvisible(QChar c)
{
    return c.category() == QChar::Other_Control;
}

// Classes for word moves and double-click selection.
int charClass(QChar c)
{
    if (c == u'\n')
        return 3;
    if (isBlank(c))
        return 0;
    if (c.isLetterOrNumber() || c == u'_' || c.isSurrogate())
        return 1;
    return 2;
}

QString normaliseLineBreaks(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

} // namespace

TextEditWidget::TextEditWidget(QWidget* parent)
    : QAbstractScrollArea(parent)
{
    m_paras.emplace_back();
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The bar paints every pixel it covers; saying so spares the group box
    // and dialog behind it a repaint on every frame while bytes arrive.
    verticalScrollBar()->setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);

    m_refreshTimer.setSingleShot(true);
    m_refreshTimer.setInterval(kRefreshMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, &TextEditWidget::refresh);
    connect(&m_blinkTimer, &QTimer::timeout, this, [this] {
        m_caretShown = !m_caretShown;
        viewport()->update(caretRect());
    });
    ensureLayout();
}

TextEditWidget::~TextEditWidget() = default;

// ---------------------------------------------------------------------------
// Layout

bool TextEditWidget::updateLayoutInputs()
{
    const Geometry geometry{width(), frameWidth(), verticalScrollBarPolicy()};
    if (geometry == m_geometry && !m_fontDirty)
        return false;
    const bool fontChanged = m_fontDirty;
    if (m_fontDirty) {
        m_layoutFont = font();
        // Drawn lines must be exactly as wide as their characters added up.
        m_layoutFont.setKerning(false);
        m_metrics = QFontMetricsF(m_layoutFont);
        m_advance.assign(0x10000, -1);
        m_lineHeight = std::max(1, static_cast<int>(std::ceil(m_metrics.height())));
        m_ascent = static_cast<int>(std::ceil(m_metrics.ascent()));
        // Tab stops every eight average characters, as the classic control has.
        m_tabWidth = std::max(kFixedOne, toFixed(8 * m_metrics.averageCharWidth()));
        m_fontDirty = false;
    }
    m_geometry = geometry;

    int scrollBar = 0;
    if (geometry.policy != Qt::ScrollBarAlwaysOff) {
        // An as-needed bar is reserved too, so wrapping never depends on the
        // line count.
        scrollBar = verticalScrollBar()->sizeHint().width();
        if (style()->styleHint(QStyle::SH_ScrollView_FrameOnlyAroundContents, nullptr, this))
            scrollBar += style()->pixelMetric(QStyle::PM_ScrollView_ScrollBarSpacing, nullptr, this);
    }
    const int pixels = geometry.width - 2 * geometry.frameWidth - scrollBar - kMarginLeft - kMarginRight;
    const Fixed wrapWidth = std::max(0, pixels) * kFixedOne;
    if (wrapWidth == m_wrapWidth && !fontChanged)
        return false;
    m_wrapWidth = wrapWidth;
    return true;
}

void TextEditWidget::ensureLayout()
{
    // A hidden widget gets no resize events, yet its lines must be counted
    // at its current width: compare the inputs on every use instead.
    if (updateLayoutInputs())
        relayoutAll();
}

void TextEditWidget::relayoutAll()
{
    m_paras.clear();
    const QChar* text = m_text.constData();
    const int size = length();
    int start = 0;
    int line = 0;
    for (;;) {
        const int end = static_cast<int>(std::find(text + start, text + size, u'\n') - text);
        Paragraph& para = m_paras.emplace_back();
        para.start = start;
        para.length = end - start;
        para.firstLine = line;
        layoutParagraph(para);
        line += para.lineCount();
        if (end == size)
            break;
        start = end + 1;
    }
    m_lineCount = line;
    scheduleRefresh();
}

TextEditWidget::Fixed TextEditWidget::charWidth(const QChar* paragraph, int offset, Fixed x) const
{
    const QChar c = paragraph[offset];
    if (c == u'\t')
        return m_tabWidth - x % m_tabWidth;
    if (c.isHighSurrogate())
        return 0;  // the pair's width goes to its low half
    if (c.isLowSurrogate()) {
        if (offset > 0 && paragraph[offset - 1].isHighSurrogate())
            return toFixed(m_metrics.horizontalAdvance(QString(paragraph + offset - 1, 2)));
        return toFixed(m_metrics.horizontalAdvance(QChar(QChar::ReplacementCharacter)));
    }
    Fixed& advance = m_advance[c.unicode()];
    if (advance < 0)
        advance = toFixed(m_metrics.horizontalAdvance(c));
    return advance;
}

TextEditWidget::Fixed TextEditWidget::textWidth(const QChar* paragraph, int from, int to) const
{
    Fixed x = 0;
    for (int i = from; i < to; ++i)
        x += charWidth(paragraph, i, x);
    return x;
}

// Where a line broken inside a word starts: at `offset`, unless that would
// split a surrogate pair.
int TextEditWidget::breakBefore(const QChar* paragraph, int lineStart, int offset) const
{
    if (offset - 1 > lineStart && paragraph[offset].isLowSurrogate()
        && paragraph[offset - 1].isHighSurrogate())
        return offset - 1;
    return offset;
}

// Lays out a whole paragraph, word by word. Appending goes through
// appendToLastParagraph() instead, character by character; both must agree.
void TextEditWidget::layoutParagraph(Paragraph& para) const
{
    const QChar* p = m_text.constData() + para.start;
    const int n = para.length;
    const Fixed width = m_wrapWidth;
    para.lineStarts.assign(1, 0);
    int lineStart = 0;
    Fixed x = 0;
    int breakAfter = -1;
    Fixed widthAtBreak = 0;
    int i = 0;
    while (i < n) {
        if (isBlank(p[i])) {
            // Blanks never wrap: they hang past the edge.
            x += charWidth(p, i, x);
            breakAfter = ++i;
            widthAtBreak = x;
            continue;
        }
        int j = i;
        Fixed wordWidth = 0;
        for (; j < n && !isBlank(p[j]); ++j)
            wordWidth += charWidth(p, j, 0);
        if (x + wordWidth <= width) {
            x += wordWidth;
            i = j;
            continue;
        }
        if (i > lineStart) {
            lineStart = i;
            para.lineStarts.push_back(lineStart);
            x = 0;
            breakAfter = -1;
        }
        // The word is wider than the rest of the line: break it where it overflows.
        for (int k = i; k < j; ++k) {
            const Fixed w = charWidth(p, k, x);
            if (x + w > width && k > lineStart) {
                lineStart = breakBefore(p, lineStart, k);
                para.lineStarts.push_back(lineStart);
                x = textWidth(p, lineStart, k);
            }
            x += w;
        }
        i = j;
    }
    para.lastWidth = x;
    para.breakAfter = breakAfter;
    para.widthAtBreak = widthAtBreak;
}

// Lays out `count` characters just appended to the last paragraph, going on
// from the state its last line was left in.
void TextEditWidget::appendToLastParagraph(int count)
{
    Paragraph& para = m_paras.back();
    const QChar* p = m_text.constData() + para.start;
    const Fixed width = m_wrapWidth;
    const int linesBefore = para.lineCount();
    int lineStart = para.lineStarts.back();
    Fixed x = para.lastWidth;
    int breakAfter = para.breakAfter;
    Fixed widthAtBreak = para.widthAtBreak;
    const int end = para.length + count;
    for (int i = para.length; i < end; ++i) {
        const Fixed w = charWidth(p, i, x);
        if (isBlank(p[i])) {
            x += w;
            breakAfter = i + 1;
            widthAtBreak = x;
            continue;
        }
        if (x + w > width && i > lineStart) {
            if (breakAfter > lineStart) {
                // Move the word begun after the last blank to a new line.
                lineStart = breakAfter;
                para.lineStarts.push_back(lineStart);
                x -= widthAtBreak;
                breakAfter = -1;
            }
            if (x + w > width && i > lineStart) {
                lineStart = breakBefore(p, lineStart, i);
                para.lineStarts.push_back(lineStart);
                x = textWidth(p, lineStart, i);
            }
        }
        x += w;
    }
    para.length = end;
    para.lastWidth = x;
    para.breakAfter = breakAfter;
    para.widthAtBreak = widthAtBreak;
    m_lineCount += para.lineCount() - linesBefore;
}

void TextEditWidget::renumberFrom(size_t index)
{
    int line = index == 0 ? 0 : m_paras[index - 1].firstLine + m_paras[index - 1].lineCount();
    for (size_t i = index; i < m_paras.size(); ++i) {
        m_paras[i].firstLine = line;
        line += m_paras[i].lineCount();
    }
    m_lineCount = line;
}

void TextEditWidget::replaceRange(int start, int end, const QString& text)
{
    ensureLayout();
    const int size = length();
    if (start == size && end == size) {
        // Appending, the common case: only the last line is laid out.
        m_text.append(text);
        const QChar* chars = text.constData();
        const int count = static_cast<int>(text.size());
        int from = 0;
        for (int i = 0; i <= count; ++i) {
            if (i < count && chars[i] != u'\n')
                continue;
            if (i > from)
                appendToLastParagraph(i - from);
            if (i < count) {
                const int firstLine = m_paras.back().firstLine + m_paras.back().lineCount();
                Paragraph& next = m_paras.emplace_back();
                next.start = size + i + 1;
                next.firstLine = firstLine;
                ++m_lineCount;
            }
            from = i + 1;
        }
        return;
    }

    const size_t first = paragraphAt(start);
    const size_t last = paragraphAt(end);
    const int from = m_paras[first].start;
    const int delta = static_cast<int>(text.size()) - (end - start);
    const int to = m_paras[last].start + m_paras[last].length + delta;
    m_text.replace(start, end - start, text);

    std::vector<Paragraph> fresh;
    const QChar* chars = m_text.constData();
    int pos = from;
    for (;;) {
        const int stop = static_cast<int>(std::find(chars + pos, chars + to, u'\n') - chars);
        Paragraph& para = fresh.emplace_back();
        para.start = pos;
        para.length = stop - pos;
        layoutParagraph(para);
        if (stop == to)
            break;
        pos = stop + 1;
    }
    const size_t freshCount = fresh.size();
    m_paras.erase(m_paras.begin() + static_cast<std::ptrdiff_t>(first),
                  m_paras.begin() + static_cast<std::ptrdiff_t>(last) + 1);
    m_paras.insert(m_paras.begin() + static_cast<std::ptrdiff_t>(first),
                   std::make_move_iterator(fresh.begin()), std::make_move_iterator(fresh.end()));
    for (size_t i = first + freshCount; i < m_paras.size(); ++i)
        m_paras[i].start += delta;
    renumberFrom(first);
}

// ---------------------------------------------------------------------------
// Positions and lines

size_t TextEditWidget::paragraphAt(int pos) const
{
    const auto it = std::upper_bound(m_paras.begin(), m_paras.end(), pos,
                                     [](int p, const Paragraph& para) { return p < para.start; });
    return static_cast<size_t>(it - m_paras.begin()) - 1;
}

size_t TextEditWidget::paragraphOfLine(int line) const
{
    const auto it = std::upper_bound(m_paras.begin(), m_paras.end(), line,
                                     [](int l, const Paragraph& para) { return l < para.firstLine; });
    return static_cast<size_t>(it - m_paras.begin()) - 1;
}

// The line showing `pos`. A position where a line wraps belongs to the next
// line, unless `atLineEnd` asks for the end of the previous one.
int TextEditWidget::lineOf(int pos, bool atLineEnd) const
{
    const Paragraph& para = m_paras[paragraphAt(pos)];
    const int offset = pos - para.start;
    int index = static_cast<int>(std::upper_bound(para.lineStarts.begin(), para.lineStarts.end(), offset)
                                 - para.lineStarts.begin()) - 1;
    if (atLineEnd && index > 0 && para.lineStarts[static_cast<size_t>(index)] == offset)
        --index;
    return para.firstLine + index;
}

int TextEditWidget::lineStartPos(int line) const
{
    const Paragraph& para = m_paras[paragraphOfLine(line)];
    return para.start + para.lineStarts[static_cast<size_t>(line - para.firstLine)];
}

int TextEditWidget::lineEndPos(int line) const
{
    const Paragraph& para = m_paras[paragraphOfLine(line)];
    const size_t next = static_cast<size_t>(line - para.firstLine) + 1;
    return para.start + (next < para.lineStarts.size() ? para.lineStarts[next] : para.length);
}

TextEditWidget::Fixed TextEditWidget::xOf(int pos, bool atLineEnd) const
{
    const Paragraph& para = m_paras[paragraphAt(pos)];
    const int lineStart = lineStartPos(lineOf(pos, atLineEnd));
    return textWidth(m_text.constData() + para.start, lineStart - para.start, pos - para.start);
}

int TextEditWidget::posAtX(int line, Fixed x) const
{
    const Paragraph& para = m_paras[paragraphOfLine(line)];
    const QChar* p = m_text.constData() + para.start;
    const int from = lineStartPos(line) - para.start;
    const int to = lineEndPos(line) - para.start;
    Fixed left = 0;
    for (int i = from; i < to; ++i) {
        const Fixed w = charWidth(p, i, left);
        if (x < left + w / 2) {
            if (i > from && p[i].isLowSurrogate() && p[i - 1].isHighSurrogate())
                --i;
            return para.start + i;
        }
        left += w;
    }
    return para.start + to;
}

int TextEditWidget::posAtPoint(const QPoint& point, bool* atLineEnd) const
{
    const int row = static_cast<int>(std::floor(static_cast<double>(point.y() - kMarginTop) / m_lineHeight));
    const int line = std::clamp(m_topLine + row, 0, m_lineCount - 1);
    const int pos = posAtX(line, toFixed(point.x() - kMarginLeft));
    // Past the end of a wrapped line the caret stays on that line.
    *atLineEnd = pos == lineEndPos(line) && line + 1 < m_lineCount && lineStartPos(line + 1) == pos;
    return pos;
}

// ---------------------------------------------------------------------------
// Text and selection

void TextEditWidget::setText(const QString& text)
{
    m_text = text;
    updateLayoutInputs();
    relayoutAll();
    m_anchor = m_caret = 0;
    m_caretAtLineEnd = false;
    m_goalX = -1;
    m_topLine = 0;
    m_scrollToCaret = false;
    emit textChanged();
}

int TextEditWidget::lineCount() const
{
    // The layout is a cache of the text at the current width and font.
    const_cast<TextEditWidget*>(this)->ensureLayout();
    return m_lineCount;
}

int TextEditWidget::lineStart(int line) const
{
    const_cast<TextEditWidget*>(this)->ensureLayout();
    if (line < 0 || line >= m_lineCount)
        return -1;
    return lineStartPos(line);
}

int TextEditWidget::wrapWidth() const
{
    const_cast<TextEditWidget*>(this)->ensureLayout();
    return m_wrapWidth / kFixedOne;
}

void TextEditWidget::setSelection(int start, int end)
{
    const int size = length();
    m_anchor = std::clamp(start, 0, size);
    m_caret = std::clamp(end, 0, size);
    m_caretAtLineEnd = false;
    m_goalX = -1;
    m_caretShown = true;
    scheduleRefresh();
}

int TextEditWidget::selectionStart() const
{
    return std::min(m_anchor, m_caret);
}

int TextEditWidget::selectionEnd() const
{
    return std::max(m_anchor, m_caret);
}

QString TextEditWidget::selectedText() const
{
    return m_text.mid(selectionStart(), selectionEnd() - selectionStart());
}

void TextEditWidget::replaceSelection(const QString& text)
{
    const int start = selectionStart();
    const int end = selectionEnd();
    if (start == end && text.isEmpty())
        return;
    replaceRange(start, end, text);
    m_anchor = m_caret = start + static_cast<int>(text.size());
    m_caretAtLineEnd = false;
    m_goalX = -1;
    m_caretShown = true;
    m_scrollToCaret = true;
    scheduleRefresh();
    emit textChanged();
}

void TextEditWidget::setReadOnly(bool readOnly)
{
    m_readOnly = readOnly;
    setAttribute(Qt::WA_InputMethodEnabled, !readOnly);
    viewport()->update();
}

// ---------------------------------------------------------------------------
// View

int TextEditWidget::visibleLines() const
{
    const int height = this->height() - 2 * frameWidth() - kMarginTop;
    return std::max(1, height / m_lineHeight);
}

int TextEditWidget::maxTopLine() const
{
    return std::max(0, m_lineCount - visibleLines());
}

void TextEditWidget::scrollToCaret()
{
    m_scrollToCaret = true;
    scheduleRefresh();
}

int TextEditWidget::firstVisibleLine() const
{
    // The view is brought up to date lazily; answer as it will be shown.
    const_cast<TextEditWidget*>(this)->applyPendingView();
    return m_topLine;
}

void TextEditWidget::scrollLines(int lines)
{
    applyPendingView();
    m_topLine = std::clamp(m_topLine + lines, 0, maxTopLine());
    applyPendingView();
    viewport()->update();
}

void TextEditWidget::applyPendingView()
{
    ensureLayout();
    const int visible = visibleLines();
    if (m_scrollToCaret) {
        m_scrollToCaret = false;
        const int line = lineOf(m_caret, m_caretAtLineEnd);
        if (line < m_topLine)
            m_topLine = line;
        else if (line >= m_topLine + visible)
            m_topLine = line - visible + 1;
    }
    m_topLine = std::clamp(m_topLine, 0, maxTopLine());

    QScrollBar* bar = verticalScrollBar();
    m_syncingScrollBar = true;
    bar->setRange(0, maxTopLine());
    bar->setPageStep(visible);
    bar->setSingleStep(1);
    bar->setValue(m_topLine);
    m_syncingScrollBar = false;
}

void TextEditWidget::scheduleRefresh()
{
    if (!m_refreshTimer.isActive())
        m_refreshTimer.start();
}

void TextEditWidget::refresh()
{
    applyPendingView();
    viewport()->update();
}

void TextEditWidget::scrollContentsBy(int, int)
{
    // The user moved the scroll bar; the text is repainted, not blitted.
    if (m_syncingScrollBar)
        return;
    m_topLine = verticalScrollBar()->value();
    viewport()->update();
}

QRect TextEditWidget::caretRect() const
{
    const int line = lineOf(m_caret, m_caretAtLineEnd);
    const int x = kMarginLeft + static_cast<int>(toPixels(xOf(m_caret, m_caretAtLineEnd)));
    const int y = kMarginTop + (line - m_topLine) * m_lineHeight;
    return QRect(std::min(x, std::max(0, viewport()->width() - 2)), y, 2, m_lineHeight);
}

void TextEditWidget::restartBlink()
{
    m_caretShown = true;
    const int interval = QGuiApplication::styleHints()->cursorFlashTime() / 2;
    if (hasFocus() && interval > 0)
        m_blinkTimer.start(interval);
    else
        m_blinkTimer.stop();
}

// ---------------------------------------------------------------------------
// Painting

void TextEditWidget::drawLine(QPainter& painter, int line, int y, const QRect& area) const
{
    const Paragraph& para = m_paras[paragraphOfLine(line)];
    const QChar* p = m_text.constData() + para.start;
    const int from = lineStartPos(line) - para.start;
    const int to = lineEndPos(line) - para.start;
    const qreal baseline = y + m_ascent;

    // Runs of drawable characters at the positions the layout gave them.
    Fixed x = 0;
    int runStart = from;
    Fixed runX = 0;
    auto flush = [&](int runEnd) {
        if (runEnd > runStart)
            painter.drawText(QPointF(kMarginLeft + toPixels(runX), baseline),
                             m_text.mid(para.start + runStart, runEnd - runStart));
    };
    for (int i = from; i < to; ++i) {
        const Fixed w = charWidth(p, i, x);
        if (isInvisible(p[i])) {
            flush(i);
            runStart = i + 1;
            runX = x + w;
        }
        x += w;
        if (kMarginLeft + toPixels(x) > area.right() + 1) {
            flush(i + 1);
            return;
        }
    }
    flush(to);
}

void TextEditWidget::paintEvent(QPaintEvent* event)
{
    applyPendingView();
    QPainter painter(viewport());
    const QRect area = event->rect();
    const QPalette pal = palette();  // in the colour group of the widget's state
    const QPalette::ColorGroup group = pal.currentColorGroup();
    painter.fillRect(area, pal.color(group, m_readOnly ? QPalette::Window : QPalette::Base));
    painter.setFont(m_layoutFont);

    const int firstRow = std::max(0, (area.top() - kMarginTop) / m_lineHeight);
    const int lastRow = (area.bottom() - kMarginTop) / m_lineHeight;
    const int selStart = selectionStart();
    const int selEnd = selectionEnd();
    for (int row = firstRow; row <= lastRow; ++row) {
        const int line = m_topLine + row;
        if (line >= m_lineCount)
            break;
        const int y = kMarginTop + row * m_lineHeight;
        painter.setPen(pal.color(group, QPalette::Text));
        drawLine(painter, line, y, area);

        const int lineStart = lineStartPos(line);
        const int lineEnd = lineEndPos(line);
        const int from = std::max(selStart, lineStart);
        const int to = std::min(selEnd, lineEnd);
        if (from < to) {
            const Paragraph& para = m_paras[paragraphOfLine(line)];
            const QChar* p = m_text.constData() + para.start;
            const Fixed x0 = textWidth(p, lineStart - para.start, from - para.start);
            const Fixed x1 = textWidth(p, lineStart - para.start, to - para.start);
            const QRectF band(kMarginLeft + toPixels(x0), y, toPixels(x1 - x0), m_lineHeight);
            painter.fillRect(band, pal.color(group, QPalette::Highlight));
            painter.save();
            painter.setClipRect(band);
            painter.setPen(pal.color(group, QPalette::HighlightedText));
            drawLine(painter, line, y, area);
            painter.restore();
        }
    }

    if (hasFocus() && !m_preedit.isEmpty()) {
        const QRect caret = caretRect();
        const QRectF box(caret.left(), caret.top(), m_metrics.horizontalAdvance(m_preedit), m_lineHeight);
        painter.fillRect(box, pal.color(group, QPalette::Base));
        painter.setPen(pal.color(group, QPalette::Text));
        painter.drawText(QPointF(box.left(), box.top() + m_ascent), m_preedit);
        painter.drawLine(box.bottomLeft(), box.bottomRight());
    } else if (hasFocus() && m_caretShown) {
        const QRect caret = caretRect();
        if (caret.intersects(area))
            painter.fillRect(caret, pal.color(group, QPalette::Text));
    }
}

// ---------------------------------------------------------------------------
// Events

bool TextEditWidget::event(QEvent* event)
{
    if (event->type() == QEvent::Paint) {
        // The frame is the style's; the focus mark on it is ours, as the
        // style marks a focused line edit but not a scroll area.
        const bool done = QAbstractScrollArea::event(event);
        if (hasFocus() && frameWidth() > 0) {
            QPainter painter(this);
            painter.setPen(palette().color(QPalette::Highlight));
            painter.drawRect(rect().adjusted(0, 0, -1, -1));
        }
        return done;
    }
    if (event->type() == QEvent::ShortcutOverride) {
        // Keys the control uses itself are not taken by the window's shortcuts.
        auto* key = static_cast<QKeyEvent*>(event);
        static constexpr QKeySequence::StandardKey kOwnKeys[] = {
            QKeySequence::Copy, QKeySequence::Cut, QKeySequence::Paste, QKeySequence::SelectAll,
            QKeySequence::Delete, QKeySequence::DeleteStartOfWord, QKeySequence::DeleteEndOfWord,
            QKeySequence::MoveToStartOfDocument, QKeySequence::MoveToEndOfDocument,
            QKeySequence::MoveToNextWord, QKeySequence::MoveToPreviousWord,
            QKeySequence::SelectNextWord, QKeySequence::SelectPreviousWord,
            QKeySequence::SelectStartOfDocument, QKeySequence::SelectEndOfDocument,
        };
        for (auto standard : kOwnKeys) {
            if (key->matches(standard)) {
                event->accept();
                return true;
            }
        }
        const QString text = key->text();
        if (!text.isEmpty() && text.at(0).isPrint()
            && !(key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier))) {
            event->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

void TextEditWidget::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    switch (event->type()) {
    case QEvent::FontChange:
    case QEvent::StyleChange:
        m_fontDirty = true;
        ensureLayout();
        break;
    case QEvent::EnabledChange:
    case QEvent::PaletteChange:
        viewport()->update();
        break;
    default:
        break;
    }
}

void TextEditWidget::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    ensureLayout();
    refresh();
}

void TextEditWidget::focusInEvent(QFocusEvent* event)
{
    // Tabbing into an edit selects its text, as a dialog does for edits.
    if (event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason)
        setSelection(0, length());
    restartBlink();
    QAbstractScrollArea::focusInEvent(event);
    update();
    viewport()->update();
}

void TextEditWidget::focusOutEvent(QFocusEvent* event)
{
    m_blinkTimer.stop();
    m_preedit.clear();
    m_dragging = false;
    QAbstractScrollArea::focusOutEvent(event);
    update();
    viewport()->update();
}

void TextEditWidget::moveCaret(int pos, bool select, bool atLineEnd)
{
    pos = std::clamp(pos, 0, length());
    if (!select)
        m_anchor = pos;
    m_caret = pos;
    m_caretAtLineEnd = atLineEnd;
    m_goalX = -1;  // Up and Down set it again after moving
    m_scrollToCaret = true;
    restartBlink();
    scheduleRefresh();
}

int TextEditWidget::wordStart(int pos) const
{
    const QChar* t = m_text.constData();
    while (pos > 0 && isBlank(t[pos - 1]))
        --pos;
    if (pos > 0) {
        const int cls = charClass(t[pos - 1]);
        if (cls == 3)
            return pos - 1;
        while (pos > 0 && charClass(t[pos - 1]) == cls)
            --pos;
    }
    return pos;
}

int TextEditWidget::wordEnd(int pos) const
{
    const QChar* t = m_text.constData();
    const int size = length();
    if (pos < size) {
        const int cls = charClass(t[pos]);
        if (cls == 3)
            return pos + 1;
        while (pos < size && charClass(t[pos]) == cls)
            ++pos;
    }
    while (pos < size && isBlank(t[pos]))
        ++pos;
    return pos;
}

void TextEditWidget::userReplace(const QString& text)
{
    if (m_readOnly)
        return;
    const int start = selectionStart();
    const int end = selectionEnd();
    if (start == end && text.isEmpty())
        return;
    replaceRange(start, end, text);
    m_anchor = m_caret = start + static_cast<int>(text.size());
    m_caretAtLineEnd = false;
    m_goalX = -1;
    m_scrollToCaret = true;
    restartBlink();
    scheduleRefresh();
    emit userEdited();
    emit textChanged();
}

void TextEditWidget::userDelete(bool forward, bool word)
{
    if (m_readOnly)
        return;
    if (m_anchor == m_caret) {
        const QChar* t = m_text.constData();
        int other = m_caret;
        if (forward && m_caret < length()) {
            other = word ? wordEnd(m_caret) : m_caret + 1;
            if (!word && t[m_caret].isHighSurrogate() && other < length() && t[other].isLowSurrogate())
                ++other;
        } else if (!forward && m_caret > 0) {
            other = word ? wordStart(m_caret) : m_caret - 1;
            if (!word && t[other].isLowSurrogate() && other > 0 && t[other - 1].isHighSurrogate())
                --other;
        }
        m_anchor = other;
    }
    userReplace(QString());
}

void TextEditWidget::copy() const
{
    if (m_anchor != m_caret)
        QGuiApplication::clipboard()->setText(selectedText());
}

void TextEditWidget::cut()
{
    if (m_readOnly || m_anchor == m_caret)
        return;
    copy();
    userReplace(QString());
}

void TextEditWidget::paste()
{
    if (m_readOnly)
        return;
    const QString text = normaliseLineBreaks(QGuiApplication::clipboard()->text());
    if (!text.isEmpty())
        userReplace(text);
}

bool TextEditWidget::handleStandardKey(QKeyEvent* event)
{
    const QChar* t = m_text.constData();
    const int size = length();
    auto next = [&](int pos) {
        if (pos >= size)
            return size;
        return pos + ((t[pos].isHighSurrogate() && pos + 1 < size && t[pos + 1].isLowSurrogate()) ? 2 : 1);
    };
    auto previous = [&](int pos) {
        if (pos <= 0)
            return 0;
        return pos - ((t[pos - 1].isLowSurrogate() && pos >= 2 && t[pos - 2].isHighSurrogate()) ? 2 : 1);
    };
    auto vertical = [&](int lines, bool select) {
        if (m_goalX < 0)
            m_goalX = xOf(m_caret, m_caretAtLineEnd);
        const Fixed goal = m_goalX;
        const int line = std::clamp(lineOf(m_caret, m_caretAtLineEnd) + lines, 0, m_lineCount - 1);
        const int pos = posAtX(line, goal);
        const bool atEnd = pos == lineEndPos(line) && line + 1 < m_lineCount && lineStartPos(line + 1) == pos;
        moveCaret(pos, select, atEnd);
        m_goalX = goal;
    };
    const int line = lineOf(m_caret, m_caretAtLineEnd);
    const int page = std::max(1, visibleLines() - 1);
    const bool hasSelection = m_anchor != m_caret;

    if (event->matches(QKeySequence::MoveToNextChar))
        moveCaret(hasSelection ? selectionEnd() : next(m_caret), false);
    else if (event->matches(QKeySequence::MoveToPreviousChar))
        moveCaret(hasSelection ? selectionStart() : previous(m_caret), false);
    else if (event->matches(QKeySequence::SelectNextChar))
        moveCaret(next(m_caret), true);
    else if (event->matches(QKeySequence::SelectPreviousChar))
        moveCaret(previous(m_caret), true);
    else if (event->matches(QKeySequence::MoveToNextWord))
        moveCaret(wordEnd(m_caret), false);
    else if (event->matches(QKeySequence::MoveToPreviousWord))
        moveCaret(wordStart(m_caret), false);
    else if (event->matches(QKeySequence::SelectNextWord))
        moveCaret(wordEnd(m_caret), true);
    else if (event->matches(QKeySequence::SelectPreviousWord))
        moveCaret(wordStart(m_caret), true);
    else if (event->matches(QKeySequence::MoveToStartOfLine))
        moveCaret(lineStartPos(line), false);
    else if (event->matches(QKeySequence::SelectStartOfLine))
        moveCaret(lineStartPos(line), true);
    else if (event->matches(QKeySequence::MoveToEndOfLine) || event->matches(QKeySequence::SelectEndOfLine)) {
        const int end = lineEndPos(line);
        const bool wrapped = line + 1 < m_lineCount && lineStartPos(line + 1) == end;
        moveCaret(end, event->matches(QKeySequence::SelectEndOfLine), wrapped);
    } else if (event->matches(QKeySequence::MoveToNextLine))
        vertical(1, false);
    else if (event->matches(QKeySequence::MoveToPreviousLine))
        vertical(-1, false);
    else if (event->matches(QKeySequence::SelectNextLine))
        vertical(1, true);
    else if (event->matches(QKeySequence::SelectPreviousLine))
        vertical(-1, true);
    else if (event->matches(QKeySequence::MoveToNextPage))
        vertical(page, false);
    else if (event->matches(QKeySequence::MoveToPreviousPage))
        vertical(-page, false);
    else if (event->matches(QKeySequence::SelectNextPage))
        vertical(page, true);
    else if (event->matches(QKeySequence::SelectPreviousPage))
        vertical(-page, true);
    else if (event->matches(QKeySequence::MoveToStartOfDocument))
        moveCaret(0, false);
    else if (event->matches(QKeySequence::MoveToEndOfDocument))
        moveCaret(size, false);
    else if (event->matches(QKeySequence::SelectStartOfDocument))
        moveCaret(0, true);
    else if (event->matches(QKeySequence::SelectEndOfDocument))
        moveCaret(size, true);
    else if (event->matches(QKeySequence::SelectAll)) {
        m_anchor = 0;
        moveCaret(size, true);
    } else if (event->matches(QKeySequence::Copy))
        copy();
    else if (event->matches(QKeySequence::Cut))
        cut();
    else if (event->matches(QKeySequence::Paste))
        paste();
    else if (event->matches(QKeySequence::Delete))
        userDelete(true, false);
    else if (event->matches(QKeySequence::DeleteEndOfWord))
        userDelete(true, true);
    else if (event->matches(QKeySequence::DeleteStartOfWord))
        userDelete(false, true);
    else
        return false;
    return true;
}

void TextEditWidget::keyPressEvent(QKeyEvent* event)
{
    ensureLayout();
    applyPendingView();
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Without wantReturn, Enter belongs to the dialog (its default button).
        if (m_wantReturn || (event->modifiers() & Qt::ControlModifier)) {
            userReplace(QStringLiteral("\n"));
            event->accept();
        } else {
            event->ignore();
        }
        return;
    case Qt::Key_Escape:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        event->ignore();
        return;
    default:
        break;
    }
    // Backspace with Shift still deletes, as in the classic control.
    if (event->key() == Qt::Key_Backspace && !(event->modifiers() & Qt::ControlModifier)) {
        userDelete(false, false);
        event->accept();
        return;
    }
    if (handleStandardKey(event)) {
        event->accept();
        return;
    }
    const QString text = event->text();
    const bool typed = !text.isEmpty()
        && std::none_of(text.begin(), text.end(), [](QChar c) { return c.category() == QChar::Other_Control; })
        && !(event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier));
    if (typed) {
        userReplace(text);
        event->accept();
        return;
    }
    event->ignore();
}

void TextEditWidget::inputMethodEvent(QInputMethodEvent* event)
{
    if (m_readOnly) {
        event->ignore();
        return;
    }
    if (event->replacementLength() > 0) {
        const int from = std::clamp(m_caret + event->replacementStart(), 0, length());
        m_anchor = from;
        m_caret = std::clamp(from + event->replacementLength(), 0, length());
    }
    if (!event->commitString().isEmpty() || event->replacementLength() > 0)
        userReplace(event->commitString());
    // Text being composed shows at the caret but is not part of the text yet.
    m_preedit = event->preeditString();
    viewport()->update();
    event->accept();
}

QVariant TextEditWidget::inputMethodQuery(Qt::InputMethodQuery query) const
{
    const Paragraph& para = m_paras[paragraphAt(m_caret)];
    switch (query) {
    case Qt::ImEnabled:
        return !m_readOnly;
    case Qt::ImCursorRectangle:
        return caretRect().translated(viewport()->pos());
    case Qt::ImFont:
        return m_layoutFont;
    case Qt::ImCursorPosition:
        return m_caret - para.start;
    case Qt::ImAnchorPosition:
        return std::clamp(m_anchor - para.start, 0, para.length);
    case Qt::ImSurroundingText:
        return m_text.mid(para.start, para.length);
    case Qt::ImCurrentSelection:
        return selectedText();
    case Qt::ImHints:
        return static_cast<int>(Qt::ImhMultiLine);
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

void TextEditWidget::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    ensureLayout();
    applyPendingView();
    bool atLineEnd = false;
    const int pos = posAtPoint(event->position().toPoint(), &atLineEnd);
    moveCaret(pos, event->modifiers().testFlag(Qt::ShiftModifier), atLineEnd);
    m_dragging = true;
    event->accept();
}

void TextEditWidget::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_dragging || !(event->buttons() & Qt::LeftButton)) {
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    // Above or below the view the row lies outside it, which scrolls.
    bool atLineEnd = false;
    const int pos = posAtPoint(event->position().toPoint(), &atLineEnd);
    moveCaret(pos, true, atLineEnd);
    event->accept();
}

void TextEditWidget::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_dragging) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    m_dragging = false;
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard->supportsSelection() && m_anchor != m_caret)
        clipboard->setText(selectedText(), QClipboard::Selection);
    event->accept();
}

void TextEditWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseDoubleClickEvent(event);
        return;
    }
    bool atLineEnd = false;
    const int pos = posAtPoint(event->position().toPoint(), &atLineEnd);
    const QChar* t = m_text.constData();
    int start = pos;
    int end = pos;
    const int size = length();
    const int cls = pos < size ? charClass(t[pos]) : (pos > 0 ? charClass(t[pos - 1]) : 0);
    if (cls != 3) {
        while (start > 0 && charClass(t[start - 1]) == cls)
            --start;
        while (end < size && charClass(t[end]) == cls)
            ++end;
    }
    m_anchor = start;
    moveCaret(end, true);
    m_dragging = false;
    event->accept();
}

void TextEditWidget::contextMenuEvent(QContextMenuEvent* event)
{
    const bool hasSelection = m_anchor != m_caret;
    QMenu menu(this);
    menu.addAction(tr("Cu&t"), this, &TextEditWidget::cut)->setEnabled(hasSelection && !m_readOnly);
    menu.addAction(tr("&Copy"), this, &TextEditWidget::copy)->setEnabled(hasSelection);
    menu.addAction(tr("&Paste"), this, &TextEditWidget::paste)
        ->setEnabled(!m_readOnly && !QGuiApplication::clipboard()->text().isEmpty());
    menu.addAction(tr("&Delete"), this, [this] { userReplace(QString()); })
        ->setEnabled(hasSelection && !m_readOnly);
    menu.addSeparator();
    menu.addAction(tr("Select &All"), this, [this] {
        m_anchor = 0;
        moveCaret(length(), true);
    })->setEnabled(length() > 0);
    menu.exec(event->globalPos());
    event->accept();
}
