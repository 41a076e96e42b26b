#include "framework/textedit.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMetaMethod>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleHints>
#include <QStyleOptionSlider>
#include <QTextLayout>

#include <algorithm>
#include <climits>
#include <cmath>

#include "framework/qtext.h"

namespace {

// Space between the frame and the text, in pixels.
constexpr int kMarginLeft = 2;
constexpr int kMarginRight = 2;
constexpr int kMarginTop = 1;

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

// Classes for word moves and double-click selection.
int charClass(QChar c)
{
    if (c == u'\n')
        return 3;
    if (isBlank(c))
        return 0;
    if (c.isLetterOrNumber() || c == u'_')
        return 1;
    return 2;
}

QString normaliseLineBreaks(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

// A scroll bar that repaints only what changes in it, and, while the text
// grows, twice a second at most: appending moves its range and value many
// times a second, and each repaint of a styled bar costs as much as the lines
// themselves. What the user does to it shows at once.
class QuietScrollBar : public QScrollBar {
public:
    explicit QuietScrollBar(QWidget* parent) : QScrollBar(Qt::Vertical, parent)
    {
        m_later.setSingleShot(true);
        connect(&m_later, &QTimer::timeout, this, [this] { repaintChange(); });
    }

    // Set while the edit brings the bar up to date with its text.
    bool following = false;

protected:
    void sliderChange(SliderChange change) override
    {
        if (change != SliderValueChange && change != SliderRangeChange) {
            QScrollBar::sliderChange(change);
            return;
        }
        const qint64 since = m_sincePaint.isValid() ? m_sincePaint.elapsed() : kFollowMs;
        if (following && since < kFollowMs) {
            if (!m_later.isActive() && currentLook() != m_painted)
                m_later.start(static_cast<int>(kFollowMs - since));
            return;
        }
        repaintChange();
    }
    void paintEvent(QPaintEvent* event) override
    {
        m_painted = currentLook();
        m_sincePaint.start();
        m_later.stop();
        QScrollBar::paintEvent(event);
    }

private:
    static constexpr qint64 kFollowMs = 500;

    // A slider that moved repaints where it was and where it is; the arrows
    // only when one end is reached or left.
    void repaintChange()
    {
        const Look look = currentLook();
        if (look == m_painted)
            return;
        if (look.atMinimum == m_painted.atMinimum && look.atMaximum == m_painted.atMaximum)
            update(look.slider.united(m_painted.slider));
        else
            update();
    }

    // What the style draws from the range and value: the slider, and the
    // arrows that may be drawn disabled at either end.
    struct Look {
        QRect slider;
        bool atMinimum = false;
        bool atMaximum = false;
        bool operator==(const Look&) const = default;
    };
    Look currentLook() const
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
                value() == minimum(), value() == maximum()};
    }

    Look m_painted;
    QElapsedTimer m_sincePaint;
    QTimer m_later{this};
};

} // namespace

// ---------------------------------------------------------------------------
// Metric

void TextEditWidget::FontMetric::setFont(const QFont& font)
{
    m_metrics = QFontMetricsF(font);
    m_raw = QRawFont::fromFont(font);
    m_advance.assign(0x10000, -1);
    m_glyphs.assign(0x10000, 0);
    // Tab stops every eight average characters, as the classic control has.
    m_tabStop = std::max(kFixedOne, toFixed(8 * m_metrics.averageCharWidth()));
}

quint32 TextEditWidget::FontMetric::glyph(char16_t c) const
{
    quint32& glyph = m_glyphs[c];
    if (glyph == 0) {
        const QChar ch(c);
        int count = 1;
        quint32 index = 0;
        const bool found = m_raw.isValid() && m_raw.supportsCharacter(ch)
            && m_raw.glyphIndexesForChars(&ch, 1, &index, &count) && count == 1 && index != 0;
        glyph = found ? index : kNoGlyph;
    }
    return glyph;
}

int TextEditWidget::FontMetric::advance(char16_t c) const
{
    int& advance = m_advance[c];
    if (advance < 0)
        advance = toFixed(m_metrics.horizontalAdvance(QChar(c)));
    return advance;
}

// ---------------------------------------------------------------------------

TextEditWidget::TextEditWidget(QWidget* parent)
    : QAbstractScrollArea(parent)
{
    setVerticalScrollBar(new QuietScrollBar(this));
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The bar paints every pixel it covers; saying so spares the group box
    // and dialog behind it a repaint on every frame while bytes arrive.
    verticalScrollBar()->setAttribute(Qt::WA_OpaquePaintEvent);
    // So does the text: a repainted line does not repaint what lies behind.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);

    connect(&m_blinkTimer, &QTimer::timeout, this, [this] {
        m_caretShown = !m_caretShown;
        viewport()->update(caretRect());
    });
    ensureLayout();
    AfxInstallTextEditAccessibility();
}

TextEditWidget::~TextEditWidget() = default;

// The signals of a change are emitted only while someone listens: the
// receive area changes with every byte.
void TextEditWidget::connectNotify(const QMetaMethod& signal)
{
    QAbstractScrollArea::connectNotify(signal);
    listenersChanged();
}

void TextEditWidget::disconnectNotify(const QMetaMethod& signal)
{
    QAbstractScrollArea::disconnectNotify(signal);
    listenersChanged();
}

void TextEditWidget::listenersChanged()
{
    m_replacedHeard = isSignalConnected(QMetaMethod::fromSignal(&TextEditWidget::textReplaced));
    m_changedHeard = isSignalConnected(QMetaMethod::fromSignal(&TextEditWidget::textChanged));
}

// ---------------------------------------------------------------------------
// Layout

// Out of line: ensureLayout, asked with every change and count, only checks.
[[gnu::noinline]] bool TextEditWidget::updateLayoutInputs()
{
    const Geometry geometry = currentGeometry();
    const bool fontChanged = m_fontDirty;
    if (m_fontDirty) {
        m_layoutFont = font();
        // Drawn lines must be exactly as wide as their characters added up.
        m_layoutFont.setKerning(false);
        m_metric.setFont(m_layoutFont);
        m_lineHeight = std::max(1, static_cast<int>(std::ceil(m_metric.metrics().height())));
        m_ascent = static_cast<int>(std::ceil(m_metric.metrics().ascent()));
        m_shaped.clear();
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
    const int wrapWidth = std::max(0, pixels) * kFixedOne;
    if (wrapWidth == m_wrapWidth && !fontChanged)
        return false;
    m_wrapWidth = wrapWidth;
    return true;
}

void TextEditWidget::ensureLayout()
{
    // A hidden widget gets no resize events, yet its lines must be counted
    // at its current width: compare the inputs on every use instead.
    if (!m_fontDirty && currentGeometry() == m_geometry)
        return;
    if (!updateLayoutInputs())
        return;
    m_layout.reset(m_model.chars(), m_metric, m_wrapWidth);
    markLines(0, INT_MAX);
    scheduleRefresh();
}

// Every change of the text goes through here: the model, then the lines.
void TextEditWidget::replaceBytes(size_t from, size_t to, std::string_view bytes)
{
    ensureLayout();
    // Assistive tools, when one listens, are told the characters a change
    // removed: they are kept from the one the change may start at (decoding
    // restarts at the character before it). Appending keeps at most one.
    const bool told = AfxAccessibilityActive();
    const int keptFrom = told ? std::max(0, m_model.charAt(from) - 1) : 0;
    const std::u16string kept = told ? m_model.chars().substr(static_cast<size_t>(keptFrom)) : std::u16string();

    const TextModel::Change change = m_model.replace(from, to, bytes);
    const TextLayout::Damage damage = m_layout.update(m_model.chars(), m_metric, change);
    if (change.removed != 0 || change.inserted != 0)
        markLines(damage.first, damage.toEnd ? INT_MAX : damage.last, damage.firstFromX);
    m_byteSelection.anchor = -1;
    scheduleRefresh();
    if (change.removed == 0 && change.inserted == 0)
        return;
    if (told) {
        const auto chars = [](const std::u16string& text, int at, int count) {
            return QString(reinterpret_cast<const QChar*>(text.data()) + at, count);
        };
        m_accessible.replaced(change.from, chars(kept, change.from - keptFrom, change.removed),
                              chars(m_model.chars(), change.from, change.inserted));
    }
    if (m_replacedHeard)
        emit textReplaced(change.from, change.removed, change.inserted);
}

int TextEditWidget::textWidth(int from, int to) const
{
    const std::u16string& chars = m_model.chars();
    int x = 0;
    for (int i = from; i < to; ++i)
        x += m_metric.widthAt(chars[static_cast<size_t>(i)], x);
    return x;
}

// ---------------------------------------------------------------------------
// Positions and lines

int TextEditWidget::lineEndPos(int line) const
{
    return m_layout.lineEnd(m_model.chars(), line);
}

int TextEditWidget::xOf(int pos, bool atLineEnd) const
{
    return textWidth(m_layout.lineStart(m_layout.lineOf(pos, atLineEnd)), pos);
}

int TextEditWidget::posAtX(int line, int x) const
{
    const std::u16string& chars = m_model.chars();
    const int from = m_layout.lineStart(line);
    const int to = lineEndPos(line);
    int left = 0;
    for (int i = from; i < to; ++i) {
        const int w = m_metric.widthAt(chars[static_cast<size_t>(i)], left);
        if (x < left + w / 2)
            return i;
        left += w;
    }
    return to;
}

int TextEditWidget::posAtPoint(const QPoint& point, bool* atLineEnd) const
{
    const int row = static_cast<int>(std::floor(static_cast<double>(point.y() - kMarginTop) / m_lineHeight));
    const int count = m_layout.lineCount();
    const int line = std::clamp(m_topLine + row, 0, count - 1);
    const int pos = posAtX(line, toFixed(point.x() - kMarginLeft));
    // Past the end of a wrapped line the caret stays on that line.
    *atLineEnd = pos == lineEndPos(line) && line + 1 < count && m_layout.lineStart(line + 1) == pos;
    return pos;
}

// ---------------------------------------------------------------------------
// Text and selection

void TextEditWidget::setBytes(std::string_view bytes)
{
    replaceBytes(0, m_model.byteLength(), bytes);
    m_anchor = m_caret = 0;
    m_caretAtLineEnd = false;
    m_goalX = -1;
    m_topLine = 0;
    m_scrollToCaret = false;
    showTopLine();
    if (m_changedHeard)
        emit textChanged();
}

QString TextEditWidget::text() const
{
    const std::u16string& chars = m_model.chars();
    return QString(reinterpret_cast<const QChar*>(chars.data()), static_cast<qsizetype>(chars.size()));
}

void TextEditWidget::setText(const QString& text)
{
    setBytes(AfxBytesFromQString(text));
}

std::pair<size_t, size_t> TextEditWidget::byteSelection() const
{
    if (m_byteSelection.anchor == m_anchor && m_byteSelection.caret == m_caret)
        return {m_byteSelection.start, m_byteSelection.end};
    return {m_model.byteAt(selectionStart()), m_model.byteAt(selectionEnd())};
}

void TextEditWidget::setByteSelection(size_t start, size_t end)
{
    start = std::min(start, m_model.byteLength());
    end = std::min(end, m_model.byteLength());
    setSelection(m_model.charAt(start), m_model.charAt(end));
    m_byteSelection = {std::min(start, end), std::max(start, end), m_anchor, m_caret};
}

void TextEditWidget::replaceByteSelection(std::string_view bytes)
{
    const auto [start, end] = byteSelection();
    if (start == end && bytes.empty())
        return;
    replaceBytes(start, end, bytes);
    const size_t caret = start + bytes.size();
    m_anchor = m_caret = m_model.charAt(caret);
    m_byteSelection = {caret, caret, m_anchor, m_caret};
    m_caretAtLineEnd = false;
    m_goalX = -1;
    m_caretShown = true;
    m_scrollToCaret = true;
    scheduleRefresh();
    if (m_changedHeard)
        emit textChanged();
}

int TextEditWidget::lineCount() const
{
    // The layout is a cache of the text at the current width and font.
    const_cast<TextEditWidget*>(this)->ensureLayout();
    return m_layout.lineCount();
}

int TextEditWidget::settledLineCount() const
{
    const std::string& bytes = m_model.bytes();
    return lineCount() - (!bytes.empty() && bytes.back() == '\r' ? 1 : 0);
}

int TextEditWidget::lineStart(int line) const
{
    const_cast<TextEditWidget*>(this)->ensureLayout();
    if (line < 0 || line >= m_layout.lineCount())
        return -1;
    return m_layout.lineStart(line);
}

int TextEditWidget::wrapWidth() const
{
    const_cast<TextEditWidget*>(this)->ensureLayout();
    return m_layout.width() / kFixedOne;
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
    return text().mid(selectionStart(), selectionEnd() - selectionStart());
}

void TextEditWidget::replaceSelection(const QString& text)
{
    const int start = selectionStart();
    const int end = selectionEnd();
    if (start == end && text.isEmpty())
        return;
    const std::string bytes = AfxBytesFromQString(text);
    const size_t from = m_model.byteAt(start);
    replaceBytes(from, m_model.byteAt(end), bytes);
    m_anchor = m_caret = m_model.charAt(from + bytes.size());
    m_caretAtLineEnd = false;
    m_goalX = -1;
    m_caretShown = true;
    m_scrollToCaret = true;
    scheduleRefresh();
    if (m_changedHeard)
        emit textChanged();
}

void TextEditWidget::editText(int start, int end, const QString& text)
{
    if (m_readOnly)
        return;
    m_anchor = std::clamp(start, 0, length());
    m_caret = std::clamp(end, 0, length());
    userReplace(normaliseLineBreaks(text));
}

QRect TextEditWidget::characterRect(int pos) const
{
    const_cast<TextEditWidget*>(this)->applyPendingView();
    pos = std::clamp(pos, 0, length());
    const int line = m_layout.lineOf(pos);
    const int x = textWidth(m_layout.lineStart(line), pos);
    const int width = pos < lineEndPos(line) ? m_metric.widthAt(m_model.chars()[static_cast<size_t>(pos)], x) : 0;
    const int left = kMarginLeft + static_cast<int>(std::floor(toPixels(x)));
    const int right = kMarginLeft + static_cast<int>(std::ceil(toPixels(x + width)));
    return QRect(left, kMarginTop + (line - m_topLine) * m_lineHeight, right - left, m_lineHeight);
}

int TextEditWidget::positionAt(const QPoint& point) const
{
    const_cast<TextEditWidget*>(this)->applyPendingView();
    bool atLineEnd = false;
    return posAtPoint(point, &atLineEnd);
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
    return std::max(0, m_layout.lineCount() - visibleLines());
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
}

void TextEditWidget::applyPendingView()
{
    ensureLayout();
    const int visible = visibleLines();
    if (m_scrollToCaret) {
        m_scrollToCaret = false;
        const int line = m_layout.lineOf(m_caret, m_caretAtLineEnd);
        if (line < m_topLine)
            m_topLine = line;
        else if (line >= m_topLine + visible)
            m_topLine = line - visible + 1;
    }
    m_topLine = std::clamp(m_topLine, 0, maxTopLine());

    auto* bar = static_cast<QuietScrollBar*>(verticalScrollBar());
    m_syncingScrollBar = true;
    bar->following = true;
    bar->setRange(0, maxTopLine());
    bar->setPageStep(visible);
    bar->setSingleStep(1);
    bar->setValue(m_topLine);
    bar->following = false;
    m_syncingScrollBar = false;
    showTopLine();
}

// Brings the viewport's pixels to the top line: the lines still in view move,
// and only the rows they uncover are painted.
void TextEditWidget::showTopLine()
{
    const int rows = m_shownTopLine - m_topLine;
    if (rows == 0)
        return;
    m_shownTopLine = m_topLine;
    m_shownCaret.translate(0, rows * m_lineHeight);
    const bool allRepainted = m_dirtyFirst <= m_topLine && m_dirtyLast == INT_MAX;
    if (std::abs(rows) < visibleLines() && !allRepainted)
        viewport()->scroll(0, rows * m_lineHeight);
    else
        viewport()->update();
}

QRect TextEditWidget::rowsRect(int firstLine, int lastLine) const
{
    const int top = kMarginTop + (firstLine - m_topLine) * m_lineHeight;
    const int bottom = lastLine == INT_MAX ? viewport()->height()
                                           : kMarginTop + (lastLine - m_topLine + 1) * m_lineHeight;
    // Row 0 takes the top margin too.
    return QRect(0, firstLine <= m_topLine ? 0 : top, viewport()->width(),
                 bottom - (firstLine <= m_topLine ? 0 : top));
}

void TextEditWidget::markLines(int first, int last, int firstFromX)
{
    if (m_dirtyLast < m_dirtyFirst || first < m_dirtyFirst) {
        m_dirtyFirstFromX = firstFromX;
    } else if (first == m_dirtyFirst) {
        m_dirtyFirstFromX = std::min(m_dirtyFirstFromX, firstFromX);
    }
    m_dirtyFirst = m_dirtyLast < m_dirtyFirst ? first : std::min(m_dirtyFirst, first);
    m_dirtyLast = std::max(m_dirtyLast, last);
}

// The lines the selection covers, as it would be painted now (the caret is
// painted on its own).
std::pair<int, int> TextEditWidget::selectionLines() const
{
    if (m_layout.lineCount() == 0 || m_anchor == m_caret)
        return {0, -1};
    const int first = m_layout.lineOf(std::min(selectionStart(), length()), false);
    const int last = m_layout.lineOf(std::min(selectionEnd(), length()), m_caretAtLineEnd);
    return {std::max(0, std::min(first, last) - (m_caretAtLineEnd ? 1 : 0)), std::max(first, last)};
}

void TextEditWidget::scheduleRefresh()
{
    // A burst of changes is painted once, at the next frame.
    m_frame.ask();
}

void TextEditWidget::refresh()
{
    applyPendingView();
    QWidget* view = viewport();
    // The selection is repainted where it was shown and where it is now,
    // however often it moved in between. A line keeps its number unless a
    // change marked it (and every line after it, when the count changed).
    const auto [selFirst, selLast] = selectionLines();
    if (m_paintedSelection.second >= m_paintedSelection.first)
        markLines(m_paintedSelection.first, m_paintedSelection.second);
    if (selLast >= selFirst)
        markLines(selFirst, selLast);
    m_paintedSelection = {selFirst, selLast};
    if (m_dirtyLast >= m_dirtyFirst) {
        const int visibleLast = m_topLine + visibleLines();
        const int first = std::max(m_dirtyFirst, m_topLine);
        const int last = std::min(m_dirtyLast, visibleLast);
        if (first <= last) {
            const int lastRow = m_dirtyLast == INT_MAX ? INT_MAX : last;
            if (first == m_dirtyFirst && m_dirtyFirstFromX > 0) {
                // Text added at a line's end: what stands left of it is
                // painted already. A glyph may reach a little left of its
                // place, over the one before, which is drawn again with it.
                QRect row = rowsRect(first, first);
                row.setLeft(std::max(0, kMarginLeft + static_cast<int>(std::floor(toPixels(m_dirtyFirstFromX)))
                                            - m_lineHeight / 2));
                view->update(row);
                if (lastRow > first)
                    view->update(rowsRect(first + 1, lastRow));
            } else {
                view->update(rowsRect(first, lastRow));
            }
        }
    }
    m_dirtyFirst = 0;
    m_dirtyLast = -1;
    m_dirtyFirstFromX = 0;
    m_accessible.tell(this, m_caret, selectionStart(), selectionEnd());
    // The caret where it was drawn, and where it is now.
    if (hasFocus()) {
        const QRect caret = caretRect();
        if (caret != m_shownCaret) {
            view->update(m_shownCaret);
            view->update(caret);
        }
    }
}

void TextEditWidget::scrollContentsBy(int, int)
{
    // The user moved the scroll bar.
    if (m_syncingScrollBar)
        return;
    m_topLine = verticalScrollBar()->value();
    showTopLine();
}

QRect TextEditWidget::caretRect() const
{
    const int line = m_layout.lineOf(m_caret, m_caretAtLineEnd);
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

TextEditWidget::ShapedLine& TextEditWidget::shaped(int line)
{
    const int start = m_layout.lineStart(line);
    const int end = lineEndPos(line);
    const QString text(reinterpret_cast<const QChar*>(m_model.chars().data()) + start, end - start);
    ShapedLine& entry = m_shaped[line];
    if ((entry.layout || !entry.glyphs.isEmpty() || text.isEmpty()) && entry.text == text)
        return entry;
    entry.text = text;
    entry.layout.reset();
    entry.glyphs = QGlyphRun();

    // Glyphs where the layout put the characters: no shaping is needed for
    // characters the font has, and the caret and the selection stand where
    // the glyphs are.
    QList<quint32> indexes;
    QList<QPointF> positions;
    indexes.reserve(text.size());
    positions.reserve(text.size());
    bool complete = true;
    int x = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u != u' ' && u != u'\t') {
            const quint32 glyph = m_metric.glyph(u);
            if (glyph == FontMetric::kNoGlyph) {
                complete = false;
                break;
            }
            indexes.append(glyph);
            positions.append(QPointF(toPixels(x), m_ascent));
        }
        x += m_metric.widthAt(u, x);
    }
    if (complete) {
        entry.glyphs.setRawFont(m_metric.rawFont());
        entry.glyphs.setGlyphIndexes(indexes);
        entry.glyphs.setPositions(positions);
        return entry;
    }

    entry.layout = std::make_unique<QTextLayout>(text, m_layoutFont);
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    option.setTabStopDistance(toPixels(m_metric.tabStop()));
    entry.layout->setTextOption(option);
    entry.layout->setCacheEnabled(true);
    entry.layout->beginLayout();
    QTextLine textLine = entry.layout->createLine();
    if (textLine.isValid()) {
        textLine.setLineWidth(1e6);
        // Every line has the font's baseline, whatever fallback fonts it uses.
        textLine.setPosition(QPointF(0, m_ascent - textLine.ascent()));
    }
    entry.layout->endLayout();
    return entry;
}

// The glyphs of `run` placed from `left` to `right` (pixels from the text's
// left edge); the run itself when that is all of them. The part refers to
// the run's data, which must outlive it.
static QGlyphRun glyphsWithin(const QGlyphRun& run, qreal left, qreal right)
{
    const QList<QPointF> positions = run.positions();
    const auto byX = [](const QPointF& p, qreal x) { return p.x() < x; };
    const auto begin = std::lower_bound(positions.cbegin(), positions.cend(), left, byX);
    const auto end = std::lower_bound(begin, positions.cend(), right, byX);
    if (begin == positions.cbegin() && end == positions.cend())
        return run;
    QGlyphRun part;
    part.setRawFont(run.rawFont());
    const QList<quint32> indexes = run.glyphIndexes();
    const auto at = begin - positions.cbegin();
    part.setRawData(indexes.constData() + at, positions.constData() + at, static_cast<int>(end - begin));
    return part;
}

void TextEditWidget::paintEvent(QPaintEvent* event)
{
    ensureLayout();
    // Painted outside a refresh too (exposed): where the selection may show.
    const auto [selFirst, selLast] = selectionLines();
    if (selLast >= selFirst) {
        m_paintedSelection = m_paintedSelection.second < m_paintedSelection.first
            ? std::pair{selFirst, selLast}
            : std::pair{std::min(m_paintedSelection.first, selFirst), std::max(m_paintedSelection.second, selLast)};
    }
    QPainter painter(viewport());
    const QRegion region = event->region();
    const QPalette pal = palette();  // in the colour group of the widget's state
    const QPalette::ColorGroup group = pal.currentColorGroup();
    const QColor background = pal.color(group, m_readOnly ? QPalette::Window : QPalette::Base);
    for (const QRect& rect : region)
        painter.fillRect(rect, background);
    painter.setPen(pal.color(group, QPalette::Text));

    const QRect area = region.boundingRect();
    const int firstRow = std::max(0, (area.top() - kMarginTop) / m_lineHeight);
    const int lastRow = (area.bottom() - kMarginTop) / m_lineHeight;
    const int selStart = selectionStart();
    const int selEnd = selectionEnd();
    const int count = m_layout.lineCount();
    for (int row = firstRow; row <= lastRow; ++row) {
        const int line = m_topLine + row;
        if (line >= count)
            break;
        const int y = kMarginTop + row * m_lineHeight;
        // What is painted of the row: the glyphs drawn are those that reach
        // into it, as the painter would rasterise every glyph of a run and
        // clip them after.
        const QRect needed = region.intersected(QRect(0, y, viewport()->width(), m_lineHeight)).boundingRect();
        if (needed.isEmpty())
            continue;
        const int lineStart = m_layout.lineStart(line);
        const int from = std::max(selStart, lineStart);
        const int to = std::min(selEnd, lineEndPos(line));
        const ShapedLine& shape = shaped(line);
        if (shape.layout) {
            QList<QTextLayout::FormatRange> selection;
            if (from < to) {
                QTextLayout::FormatRange range;
                range.start = from - lineStart;
                range.length = to - from;
                range.format.setBackground(pal.color(group, QPalette::Highlight));
                range.format.setForeground(pal.color(group, QPalette::HighlightedText));
                selection.append(range);
            }
            shape.layout->draw(&painter, QPointF(kMarginLeft, y), selection);
            continue;
        }
        const QPointF origin(kMarginLeft, y);
        const QGlyphRun glyphs = glyphsWithin(shape.glyphs, needed.left() - kMarginLeft - m_lineHeight,
                                              needed.right() + 1 - kMarginLeft + m_lineHeight);
        if (!glyphs.isEmpty())
            painter.drawGlyphRun(origin, glyphs);
        if (from < to) {
            const int x0 = textWidth(lineStart, from);
            const QRectF band(kMarginLeft + toPixels(x0), y, toPixels(textWidth(lineStart, to) - x0), m_lineHeight);
            painter.save();
            painter.setClipRect(band, Qt::IntersectClip);
            painter.fillRect(band, pal.color(group, QPalette::Highlight));
            painter.setPen(pal.color(group, QPalette::HighlightedText));
            if (!glyphs.isEmpty())
                painter.drawGlyphRun(origin, glyphs);
            painter.restore();
        }
    }
    // Lines far from the view are shaped again when they come back.
    const int keep = visibleLines();
    if (static_cast<int>(m_shaped.size()) > 4 * keep) {
        std::erase_if(m_shaped, [&](const auto& entry) {
            return entry.first < m_topLine - keep || entry.first > m_topLine + 2 * keep;
        });
    }

    m_shownCaret = QRect();
    if (hasFocus() && !m_preedit.isEmpty()) {
        const QRect caret = caretRect();
        const QRectF box(caret.left(), caret.top(), m_metric.metrics().horizontalAdvance(m_preedit), m_lineHeight);
        painter.fillRect(box, pal.color(group, QPalette::Base));
        painter.setPen(pal.color(group, QPalette::Text));
        painter.drawText(QPointF(box.left(), box.top() + m_ascent), m_preedit);
        painter.drawLine(box.bottomLeft(), box.bottomRight());
    } else if (hasFocus()) {
        m_shownCaret = caretRect();
        if (m_caretShown && m_shownCaret.intersects(area))
            painter.fillRect(m_shownCaret, pal.color(group, QPalette::Text));
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
        viewport()->update();
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
    refresh();
}

void TextEditWidget::focusOutEvent(QFocusEvent* event)
{
    m_blinkTimer.stop();
    m_preedit.clear();
    m_dragging = false;
    QAbstractScrollArea::focusOutEvent(event);
    update();
    viewport()->update(m_shownCaret);
    refresh();
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
    const QString t = text();
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
    const QString t = text();
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
    const std::string bytes = AfxBytesFromQString(text);
    const size_t from = m_model.byteAt(start);
    replaceBytes(from, m_model.byteAt(end), bytes);
    m_anchor = m_caret = m_model.charAt(from + bytes.size());
    m_caretAtLineEnd = false;
    m_goalX = -1;
    m_scrollToCaret = true;
    restartBlink();
    scheduleRefresh();
    emit userEdited();
    if (m_changedHeard)
        emit textChanged();
}

void TextEditWidget::userDelete(bool forward, bool word)
{
    if (m_readOnly)
        return;
    if (m_anchor == m_caret) {
        int other = m_caret;
        if (forward && m_caret < length())
            other = word ? wordEnd(m_caret) : m_caret + 1;
        else if (!forward && m_caret > 0)
            other = word ? wordStart(m_caret) : m_caret - 1;
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

void TextEditWidget::moveVertically(int lines, bool select)
{
    if (m_goalX < 0)
        m_goalX = xOf(m_caret, m_caretAtLineEnd);
    const int goal = m_goalX;
    const int count = m_layout.lineCount();
    const int line = std::clamp(m_layout.lineOf(m_caret, m_caretAtLineEnd) + lines, 0, count - 1);
    const int pos = posAtX(line, goal);
    const bool atEnd = pos == lineEndPos(line) && line + 1 < count && m_layout.lineStart(line + 1) == pos;
    moveCaret(pos, select, atEnd);
    m_goalX = goal;
}

void TextEditWidget::moveCaretBy(Motion motion, bool select)
{
    const int size = length();
    const int line = m_layout.lineOf(m_caret, m_caretAtLineEnd);
    const int page = std::max(1, visibleLines() - 1);
    // A move without Shift leaves a selection at its near end.
    const bool collapse = !select && m_anchor != m_caret;
    switch (motion) {
    case Motion::NextChar:
        return moveCaret(collapse ? selectionEnd() : std::min(m_caret + 1, size), select);
    case Motion::PreviousChar:
        return moveCaret(collapse ? selectionStart() : std::max(m_caret - 1, 0), select);
    case Motion::NextWord:
        return moveCaret(wordEnd(m_caret), select);
    case Motion::PreviousWord:
        return moveCaret(wordStart(m_caret), select);
    case Motion::LineStart:
        return moveCaret(m_layout.lineStart(line), select);
    case Motion::LineEnd: {
        const int end = lineEndPos(line);
        const bool wrapped = line + 1 < m_layout.lineCount() && m_layout.lineStart(line + 1) == end;
        return moveCaret(end, select, wrapped);
    }
    case Motion::NextLine:
        return moveVertically(1, select);
    case Motion::PreviousLine:
        return moveVertically(-1, select);
    case Motion::NextPage:
        return moveVertically(page, select);
    case Motion::PreviousPage:
        return moveVertically(-page, select);
    case Motion::DocumentStart:
        return moveCaret(0, select);
    case Motion::DocumentEnd:
        return moveCaret(size, select);
    }
}

bool TextEditWidget::handleStandardKey(QKeyEvent* event)
{
    using K = QKeySequence;
    static constexpr struct {
        K::StandardKey key;
        Motion motion;
        bool select;
    } kMoves[] = {
        {K::MoveToNextChar, Motion::NextChar, false},          {K::MoveToPreviousChar, Motion::PreviousChar, false},
        {K::SelectNextChar, Motion::NextChar, true},           {K::SelectPreviousChar, Motion::PreviousChar, true},
        {K::MoveToNextWord, Motion::NextWord, false},          {K::MoveToPreviousWord, Motion::PreviousWord, false},
        {K::SelectNextWord, Motion::NextWord, true},           {K::SelectPreviousWord, Motion::PreviousWord, true},
        {K::MoveToStartOfLine, Motion::LineStart, false},      {K::SelectStartOfLine, Motion::LineStart, true},
        {K::MoveToEndOfLine, Motion::LineEnd, false},          {K::SelectEndOfLine, Motion::LineEnd, true},
        {K::MoveToNextLine, Motion::NextLine, false},          {K::MoveToPreviousLine, Motion::PreviousLine, false},
        {K::SelectNextLine, Motion::NextLine, true},           {K::SelectPreviousLine, Motion::PreviousLine, true},
        {K::MoveToNextPage, Motion::NextPage, false},          {K::MoveToPreviousPage, Motion::PreviousPage, false},
        {K::SelectNextPage, Motion::NextPage, true},           {K::SelectPreviousPage, Motion::PreviousPage, true},
        {K::MoveToStartOfDocument, Motion::DocumentStart, false}, {K::MoveToEndOfDocument, Motion::DocumentEnd, false},
        {K::SelectStartOfDocument, Motion::DocumentStart, true},  {K::SelectEndOfDocument, Motion::DocumentEnd, true},
    };
    for (const auto& m : kMoves) {
        if (event->matches(m.key)) {
            moveCaretBy(m.motion, m.select);
            return true;
        }
    }
    if (event->matches(K::SelectAll)) {
        m_anchor = 0;
        moveCaret(length(), true);
    } else if (event->matches(K::Copy))
        copy();
    else if (event->matches(K::Cut))
        cut();
    else if (event->matches(K::Paste))
        paste();
    else if (event->matches(K::Delete))
        userDelete(true, false);
    else if (event->matches(K::DeleteEndOfWord))
        userDelete(true, true);
    else if (event->matches(K::DeleteStartOfWord))
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
    if (m_preedit != event->preeditString()) {
        m_preedit = event->preeditString();
        viewport()->update();
    }
    event->accept();
}

QVariant TextEditWidget::inputMethodQuery(Qt::InputMethodQuery query) const
{
    // The input method sees the caret's paragraph.
    const QString all = text();
    const int start = static_cast<int>(all.lastIndexOf(u'\n', std::max(0, m_caret - 1))) + 1;
    const int found = static_cast<int>(all.indexOf(u'\n', m_caret));
    const int end = found < 0 ? length() : found;
    const int paraStart = m_caret > 0 && all[m_caret - 1] == u'\n' ? m_caret : start;
    switch (query) {
    case Qt::ImEnabled:
        return !m_readOnly;
    case Qt::ImCursorRectangle:
        return caretRect().translated(viewport()->pos());
    case Qt::ImFont:
        return m_layoutFont;
    case Qt::ImCursorPosition:
        return m_caret - paraStart;
    case Qt::ImAnchorPosition:
        return std::clamp(m_anchor - paraStart, 0, end - paraStart);
    case Qt::ImSurroundingText:
        return all.mid(paraStart, end - paraStart);
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
    const QString t = text();
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
