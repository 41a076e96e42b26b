#include "framework/textlayout.h"

#include <algorithm>

namespace {

bool isBlank(char16_t c)
{
    return c == u' ' || c == u'\t';
}

} // namespace

int TextLayout::scan(const std::u16string& text, const TextMetric& metric, Scan& at) const
{
    const int size = static_cast<int>(text.size());
    for (; at.pos < size; ++at.pos) {
        const int i = at.pos;
        const char16_t c = text[static_cast<size_t>(i)];
        if (c == u'\n') {
            at.breakX = at.x;
            return i + 1;
        }
        const int w = metric.widthAt(c, at.x);
        if (isBlank(c)) {
            // Blanks never wrap: they hang past the edge.
            at.x += w;
            at.wordStart = i + 1;
            at.wordX = at.x;
            continue;
        }
        if (at.x + w > m_width && i > at.start) {
            // The word moves down whole, or breaks here.
            const bool wholeWord = at.wordStart > at.start;
            at.breakX = wholeWord ? at.wordX : at.x;
            return wholeWord ? at.wordStart : i;
        }
        at.x += w;
    }
    return -1;
}

int TextLayout::nextLine(const std::u16string& text, const TextMetric& metric, int start) const
{
    Scan at{start, start, 0, start};
    return scan(text, metric, at);
}

void TextLayout::layOutTail(const std::u16string& text, const TextMetric& metric, int line)
{
    // Where the last line starts is known; the scan goes on from there.
    m_tail = Scan{m_starts[static_cast<size_t>(line)], m_starts[static_cast<size_t>(line)], 0,
                  m_starts[static_cast<size_t>(line)]};
    for (int start; (start = scan(text, metric, m_tail)) >= 0;) {
        m_starts.push_back(start);
        m_tail = Scan{start, start, 0, start};
    }
    m_tailValid = true;
}

void TextLayout::reset(const std::u16string& text, const TextMetric& metric, int width)
{
    m_width = width;
    m_starts.assign(1, 0);
    layOutTail(text, metric, 0);
}

TextLayout::Damage TextLayout::append(const std::u16string& text, const TextMetric& metric, int inserted)
{
    // The last line's scan goes on over the new characters: what it decided
    // before them stands, as the lines before it stand.
    const int last = lineCount() - 1;
    if (!m_tailValid || m_tail.pos != static_cast<int>(text.size()) - inserted) {
        layOutTail(text, metric, last);  // once after an edit elsewhere
        return {last, lineCount() - 1, lineCount() - 1 != last};
    }
    // What the last line showed stands up to where the new characters go,
    // or where it now breaks, if that is before.
    int fromX = m_tail.x;
    for (int start; (start = scan(text, metric, m_tail)) >= 0;) {
        if (static_cast<int>(m_starts.size()) - 1 == last)
            fromX = std::min(fromX, m_tail.breakX);
        m_starts.push_back(start);
        m_tail = Scan{start, start, 0, start};
    }
    // New lines move nothing: there is nothing after them.
    return {last, lineCount() - 1, lineCount() - 1 != last, fromX};
}

TextLayout::Damage TextLayout::update(const std::u16string& text, const TextMetric& metric,
                                      const TextModel::Change& change)
{
    if (change.removed == 0 && change.inserted == 0)
        return {};
    if (change.removed == 0 && change.from + change.inserted == static_cast<int>(text.size()))
        return append(text, metric, change.inserted);
    m_tailValid = false;
    const int from = change.from;
    const int delta = change.inserted - change.removed;
    const int changeEnd = from + change.inserted;  // in the new text

    // The first line that can change. A word that only grows leaves the
    // lines before it as they were, and so do a blank or a line break that
    // split no word; a split or shortened word can move up, to the line
    // before the one it begins. A change right at a line start can change
    // where the line before broke.
    auto inWord = [&](int i) {
        return i >= 0 && i < static_cast<int>(text.size()) && !isBlank(text[static_cast<size_t>(i)])
            && text[static_cast<size_t>(i)] != u'\n';
    };
    bool growsWord = change.removed == 0;
    for (int i = from; growsWord && i < changeEnd; ++i)
        growsWord = inWord(i);
    const bool splitsWord = change.removed == 0 && !growsWord && inWord(from - 1) && inWord(changeEnd);
    int anchor = from;
    if (change.removed > 0 || splitsWord) {
        while (inWord(anchor - 1))
            --anchor;
    }
    int line = lineOf(anchor);
    if (line > 0 && m_starts[static_cast<size_t>(line)] == anchor)
        --line;

    // Lines again from there, until one starts where an old one started on
    // text the change did not touch: the rest is as it was, moved by delta.
    std::vector<int>& fresh = m_fresh;
    fresh.clear();
    auto old = m_starts.begin() + line + 1;
    bool resumed = false;
    for (int start = m_starts[static_cast<size_t>(line)]; (start = nextLine(text, metric, start)) >= 0;) {
        if (start >= changeEnd) {
            old = std::lower_bound(old, m_starts.end(), start - delta);
            if (old != m_starts.end() && *old == start - delta) {
                resumed = true;
                break;
            }
        }
        fresh.push_back(start);
    }
    if (!resumed)
        old = m_starts.end();
    const auto first = m_starts.begin() + line + 1;
    const int replaced = static_cast<int>(old - first);
    const int added = static_cast<int>(fresh.size());
    const auto next = m_starts.erase(first, old);
    const auto tail = m_starts.insert(next, fresh.begin(), fresh.end()) + added;
    if (delta != 0)
        std::for_each(tail, m_starts.end(), [delta](int& start) { start += delta; });

    // Same number of lines: those after the last new one show what they did.
    if (resumed && replaced == added)
        return {line, line + added, false};
    return {line, lineCount() - 1, true};
}

int TextLayout::lineEnd(const std::u16string& text, int line) const
{
    if (line + 1 >= lineCount())
        return static_cast<int>(text.size());
    const int next = m_starts[static_cast<size_t>(line) + 1];
    return text[static_cast<size_t>(next) - 1] == u'\n' ? next - 1 : next;
}

int TextLayout::lineOf(int pos, bool atLineEnd) const
{
    // The end of the text, where the caret of an appending edit stands.
    if (pos > m_starts.back())
        return lineCount() - 1;
    int line = static_cast<int>(std::upper_bound(m_starts.begin(), m_starts.end(), pos) - m_starts.begin()) - 1;
    if (atLineEnd && line > 0 && m_starts[static_cast<size_t>(line)] == pos)
        --line;
    return std::max(line, 0);
}
