// TextLayout: where the lines of a text start when it is wrapped at a width,
// as the classic edit control wraps: a line breaks after a blank (space or
// tab); blanks at the end of a line hang past the right edge instead of
// wrapping; a word wider than the line breaks between characters; '\n' ends
// a line. Widths come from a TextMetric, in whatever fixed unit it chooses.
//
// One greedy rule makes every line, from the start of the line before it.
// A line start depends only on the text from the line before it onward, so
// after a change the lines are made again from just before the change until
// one starts where an old line started on unchanged text: appending to a text
// of any size costs one or two lines. No Qt here.
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
    // Where the line after the one starting at `start` starts; -1 when that
    // line runs to the end of the text.
    int nextLine(const std::u16string& text, const TextMetric& metric, int start) const;

    std::vector<int> m_starts{0};
    int m_width = 0;
    std::vector<int> m_fresh;  // lines made by an update, kept to spare an allocation
};
