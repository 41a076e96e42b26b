// TextLayout: where the lines of a text start when it is wrapped at a width,
// as the classic edit control wraps: a line breaks after a blank (space or
// tab); blanks at the end of a line hang past the right edge instead of
// wrapping; a word wider than the line breaks between characters; '\n' ends
// a line. Widths come from a TextMetric, in whatever fixed unit it chooses.
//
// One greedy rule makes every line, from the start of the line before it.
// A line start depends only on the text from the line before it onward, so
// after a change the lines are made again from just before the change until
// one starts where an old line started on unchanged text. Appending goes on
// with the last line's scan where it stopped: its cost is that of the new
// characters (and of a word that moves down whole), whatever the text's size.
// No Qt here.
#pragma once

#include <string>
#include <vector>

#include "framework/textmodel.h"

class TextMetric {
public:
    virtual ~TextMetric() = default;
    // The width of a character other than '\t' and '\n'.
    virtual int advance(char16_t c) const = 0;
    // Tabs stop at multiples of this width from the line's start (> 0).
    virtual int tabStop() const = 0;

    // The width of `c` drawn at `x` from the line's start.
    int widthAt(char16_t c, int x) const
    {
        if (c == u'\t')
            return tabStop() - x % tabStop();
        return c == u'\n' ? 0 : advance(c);
    }
};

class TextLayout {
public:
    // The lines whose text changed, numbered after the change; `toEnd` when
    // every line from `first` on may have changed or moved.
    struct Damage {
        int first = 0;
        int last = -1;
        bool toEnd = false;
        // Where on `first` the change begins: what is left of it stands.
        int firstFromX = 0;
    };

    // Lays out the whole text.
    void reset(const std::u16string& text, const TextMetric& metric, int width);
    // Follows a change of the text (its characters are already changed).
    Damage update(const std::u16string& text, const TextMetric& metric, const TextModel::Change& change);

    int width() const { return m_width; }
    // Lines shown, each wrapped line counted; 1 for an empty text, and a text
    // ending in '\n' has an empty last line.
    int lineCount() const { return static_cast<int>(m_starts.size()); }
    int lineStart(int line) const { return m_starts[static_cast<size_t>(line)]; }
    // Where the line's characters end: before its '\n', if it has one.
    int lineEnd(const std::u16string& text, int line) const;
    // The line showing `pos`. A position where a line wraps belongs to the
    // next line, unless `atLineEnd` asks for the end of the previous one.
    int lineOf(int pos, bool atLineEnd = false) const;

private:
    // A line's scan so far: the line's start, the next character to look at,
    // the width up to it and where the last word began, and at what width.
    // Once the line ends, breakX is the width of what stays on it.
    struct Scan {
        int start = 0;
        int pos = 0;
        int x = 0;
        int wordStart = 0;
        int wordX = 0;
        int breakX = 0;
    };
    // Goes on with a line's scan; the start of the next line, or -1 when the
    // line runs to the end of the text (`at` then stands at the end).
    int scan(const std::u16string& text, const TextMetric& metric, Scan& at) const;
    // Where the line after the one starting at `start` starts; -1 when that
    // line runs to the end of the text.
    int nextLine(const std::u16string& text, const TextMetric& metric, int start) const;
    // Lays out from the start of `line`, taken as the last line, to the end.
    void layOutTail(const std::u16string& text, const TextMetric& metric, int line);
    // Follows `inserted` characters added at the end of the text.
    Damage append(const std::u16string& text, const TextMetric& metric, int inserted);

    std::vector<int> m_starts{0};
    // The last line's scan, standing at the end of the text, while valid.
    Scan m_tail;
    bool m_tailValid = false;
    int m_width = 0;
    std::vector<int> m_fresh;  // lines made by an update, kept to spare an allocation
};
