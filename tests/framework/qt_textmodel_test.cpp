// The multi-line edit's text model and line layout, without widgets: random
// changes made piece by piece give what a fresh decoding and a plain greedy
// wrap of the whole text give; byte and character positions both ways.
#include "framework/qtext.h"
#include "framework/textlayout.h"
#include "framework/textmodel.h"

#include <gtest/gtest.h>

#include <random>

namespace {

QString Shown(const TextModel& model)
{
    return QString(reinterpret_cast<const QChar*>(model.chars().data()), model.length());
}

// Bytes that stress the decoding: line ends, control bytes, lead bytes with
// and without valid trail bytes, bytes that start nothing.
std::string RandomBytes(std::mt19937& random, int size)
{
    static const std::string pieces[] = {
        "a", "b", " ", "\t", "\r", "\n", "\r\n", "\x01", "\x7F", "\x80", "\xFF",
        "\xB0\xA1", "\xD7\xD6", "\xB0", "\xA1", "\x81", "\x40", "W", "WWWW",
    };
    std::string bytes;
    while (static_cast<int>(bytes.size()) < size)
        bytes += pieces[random() % std::size(pieces)];
    bytes.resize(static_cast<size_t>(size));
    return bytes;
}

// Everything a model shows and maps must equal a fresh model of the same bytes.
void ExpectSameAsFresh(const TextModel& model, const char* when)
{
    TextModel fresh;
    fresh.setBytes(model.bytes());
    ASSERT_EQ(Shown(model), Shown(fresh)) << when;
    for (int pos = 0; pos <= model.length(); ++pos) {
        ASSERT_EQ(model.byteAt(pos), fresh.byteAt(pos)) << when << ", character " << pos;
        ASSERT_EQ(model.charAt(model.byteAt(pos)), pos) << when << ", character " << pos;
        // The bytes before a character show exactly the characters before it.
        if (pos < model.length()) {
            ASSERT_EQ(AfxQStringFromBytes(std::string_view(model.bytes()).substr(0, model.byteAt(pos))),
                  Shown(model).left(pos)) << when << ", character " << pos << " of " << testing::PrintToString(model.bytes());
        }
    }
    for (size_t byte = 0; byte <= model.byteLength(); ++byte)
        ASSERT_EQ(model.charAt(byte), fresh.charAt(byte)) << when << ", byte " << byte;
}

// What a reader of the rules writes down for a whole text; the last CR or
// lead byte waits for the byte after it.
TEST(TextModel, ShowsBytesByTheRules)
{
    const struct {
        const char* name;
        std::string bytes;
        const char16_t* shown;
    } cases[] = {
        {"line ends", "a\rb\nc\r\nd", u"a\nb\nc\nd"},
        {"CR CR LF", "a\r\r\nb", u"a\n\nb"},
        {"a last CR waits", "a\r", u"a"},
        {"LF CR", "a\n\r", u"a\n"},
        {"control bytes", std::string("\x01\t\x1B\x7F\x00", 5), u"\u2401\t\u241B\u2421\u2400"},
        {"a character", "\xB0\xA1", u"\u554A"},
        {"a last lead byte waits", "x\xB0", u"x"},
        {"a stray lead byte before CR LF", "\xB0\r\n", u"\uFFFD\n"},
        {"a stray lead byte before DEL", "\xB0\x7F", u"\uFFFD\u2421"},
        {"a byte that starts nothing", "\xFF" "A", u"\uFFFDA"},
    };
    for (const auto& c : cases) {
        TextModel whole;
        whole.setBytes(c.bytes);
        EXPECT_EQ(Shown(whole), QString::fromUtf16(c.shown)) << c.name;
        TextModel pieces;
        for (char byte : c.bytes)
            pieces.replace(pieces.byteLength(), pieces.byteLength(), std::string_view(&byte, 1));
        EXPECT_EQ(Shown(pieces), QString::fromUtf16(c.shown)) << c.name << ", byte by byte";
        EXPECT_EQ(pieces.bytes(), c.bytes) << c.name;
    }
}

TEST(TextModel, RandomChangesMatchAFreshDecoding)
{
    std::mt19937 random(20240611);
    TextModel model;
    std::string expected;
    for (int step = 0; step < 600; ++step) {
        const size_t size = expected.size();
        if (step % 3 != 0) {
            // The receive path: one byte at the end.
            const std::string byte = RandomBytes(random, 1);
            model.replace(size, size, byte);
            expected += byte;
        } else {
            const size_t a = random() % (size + 1);
            const size_t b = random() % (size + 1);
            const std::string insert = RandomBytes(random, static_cast<int>(random() % 6));
            model.replace(std::min(a, b), std::max(a, b), insert);
            expected.replace(std::min(a, b), std::max(a, b) - std::min(a, b), insert);
        }
        ASSERT_EQ(model.bytes(), expected);
        ExpectSameAsFresh(model, "after a change");
        if (testing::Test::HasFatalFailure())
            return;
    }
}

// --- Layout ------------------------------------------------------------------

// A Latin character is 1 wide, a character from U+0100 on is 2, tabs stop every 4.
class FixedMetric : public TextMetric {
public:
    int advance(char16_t c) const override { return c < 0x100 ? 1 : 2; }
    int tabStop() const override { return 4; }
};

// Greedy wrapping done plainly, word by word: a word that does not fit on a
// line that has something moves to the next; a word wider than a line is cut
// where it overflows; blanks hang.
std::vector<int> GreedyLines(const std::u16string& text, const TextMetric& metric, int width)
{
    std::vector<int> starts{0};
    int x = 0;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == u'\n') {
            starts.push_back(static_cast<int>(++i));
            x = 0;
            continue;
        }
        if (text[i] == u' ' || text[i] == u'\t') {
            x += metric.widthAt(text[i++], x);
            continue;
        }
        size_t end = i;
        int wordWidth = 0;
        for (; end < text.size() && text[end] != u' ' && text[end] != u'\t' && text[end] != u'\n'; ++end)
            wordWidth += metric.advance(text[end]);
        if (x + wordWidth > width && static_cast<int>(i) > starts.back()) {
            starts.push_back(static_cast<int>(i));
            x = 0;
        }
        for (; i < end; ++i) {
            const int w = metric.advance(text[i]);
            if (x + w > width && static_cast<int>(i) > starts.back()) {
                starts.push_back(static_cast<int>(i));
                x = 0;
            }
            x += w;
        }
    }
    return starts;
}

std::vector<int> LinesOf(const TextLayout& layout)
{
    std::vector<int> starts;
    for (int line = 0; line < layout.lineCount(); ++line)
        starts.push_back(layout.lineStart(line));
    return starts;
}

TEST(TextLayout, WrapsByTheEditControlRules)
{
    const FixedMetric metric;
    const struct {
        const char* name;
        const char16_t* text;
        std::vector<int> starts;
    } cases[] = {
        {"empty", u"", {0}},
        {"a line break", u"\n", {0, 1}},
        {"empty lines", u"a\n\nb", {0, 2, 3}},
        {"a full line", u"aaaaaaaaaa", {0}},
        {"a word longer than a line breaks where it overflows", u"aaaaaaaaaaaa", {0, 10}},
        {"the word that overflows moves whole", u"ab cccccccc", {0, 3}},
        {"and then breaks", u"ab cccccccccccc", {0, 3, 13}},
        {"blanks hang past the edge", u"aaaaaaaaaa     \t\t", {0}},
        {"after hanging blanks", u"aaaaaaaaaa     b", {0, 15}},
        {"tabs stop every 4", u"a\tb\tc\tdd e", {0, 6}},
        {"wide characters", u"\u6570\u6570\u6570\u6570\u6570\u636E", {0, 5}},
        {"a wide character that does not fit", u"aaaaaaaaa\u636E", {0, 9}},
    };
    for (const auto& c : cases) {
        TextLayout layout;
        layout.reset(c.text, metric, 10);
        EXPECT_EQ(LinesOf(layout), c.starts) << c.name;
        EXPECT_EQ(GreedyLines(c.text, metric, 10), c.starts) << c.name << " (the reference)";
    }
}

TEST(TextLayout, FollowsRandomChangesAsAWholeLayoutWould)
{
    const FixedMetric metric;
    std::mt19937 random(7);
    const std::u16string alphabet = u"abcdefghij  \t\n\u6570\u636EWWWWWWWWWWWWWWWWWWWW";
    auto randomText = [&](int size) {
        std::u16string text;
        for (int i = 0; i < size; ++i)
            text += alphabet[random() % alphabet.size()];
        return text;
    };
    for (int width : {1, 7, 16}) {
        std::u16string text = randomText(200);
        TextLayout layout;
        layout.reset(text, metric, width);
        for (int step = 0; step < 400; ++step) {
            TextModel::Change change;
            if (step % 2 == 0) {
                change = {static_cast<int>(text.size()), 0, 1};  // appending
                text += randomText(1);
            } else {
                const int a = static_cast<int>(random() % (text.size() + 1));
                const int b = static_cast<int>(random() % (text.size() + 1));
                change = {std::min(a, b), std::abs(a - b), static_cast<int>(random() % 5)};
                text.replace(static_cast<size_t>(change.from), static_cast<size_t>(change.removed),
                             randomText(change.inserted));
            }
            const std::vector<int> before = LinesOf(layout);
            const TextLayout::Damage damage = layout.update(text, metric, change);
            const std::vector<int> after = GreedyLines(text, metric, width);
            ASSERT_EQ(LinesOf(layout), after) << "width " << width << ", step " << step;
            // Lines outside the damage show the same text as before.
            if (!damage.toEnd) {
                ASSERT_EQ(before.size(), after.size());
                for (int line = damage.last + 1; line < static_cast<int>(after.size()); ++line)
                    ASSERT_EQ(after[static_cast<size_t>(line)] - before[static_cast<size_t>(line)],
                              change.inserted - change.removed) << "line " << line;
            }
            for (int line = 0; line < damage.first; ++line)
                ASSERT_EQ(after[static_cast<size_t>(line)], before[static_cast<size_t>(line)]);
        }
    }
}

TEST(TextLayout, LinesOfPositions)
{
    const FixedMetric metric;
    const std::u16string text = u"aaaaaaaaaaaa\nb";
    TextLayout layout;
    layout.reset(text, metric, 10);
    ASSERT_EQ(LinesOf(layout), (std::vector<int>{0, 10, 13}));
    EXPECT_EQ(layout.lineOf(9), 0);
    EXPECT_EQ(layout.lineOf(10), 1) << "a wrap point belongs to the next line";
    EXPECT_EQ(layout.lineOf(10, true), 0) << "unless the end of the line is asked for";
    EXPECT_EQ(layout.lineOf(12), 1);
    EXPECT_EQ(layout.lineEnd(text, 1), 12) << "a line ends before its line break";
    EXPECT_EQ(layout.lineOf(14), 2);
}

} // namespace
