// The multi-line edit's text model and line layout, without widgets: random
// changes made piece by piece give what a fresh decoding and a fresh wrap of
// the whole text give; byte and character positions both ways.
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

// What a reader of the rules writes down for a whole text; a last lead byte
// waits for the byte after it, a last CR is a line break at once.
TEST(TextModel, ShowsBytesByTheRulesWholeAndByteByByte)
{
    const struct { std::string bytes; const char16_t* shown; } cases[] = {
        {"a\rb\nc\r\nd", u"a\nb\nc\nd"}, {"a\r\r\nb", u"a\n\nb"},
        {"a\r", u"a\n"}, {"a\n\r", u"a\n\n"},
        {std::string("\x01\t\x1B\x7F\x00", 5), u"\u2401\t\u241B\u2421\u2400"}, {"\xB0\xA1", u"\u554A"},
        {"x\xB0", u"x"}, {"\xB0\r\n", u"\uFFFD\n"},
        {"\xB0\x7F", u"\uFFFD\u2421"}, {"\xFF" "A", u"\uFFFDA"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        TextModel whole;
        whole.setBytes(c.bytes);
        EXPECT_EQ(Shown(whole), QString::fromUtf16(c.shown));
        TextModel pieces;
        for (char byte : c.bytes)
            pieces.replace(pieces.byteLength(), pieces.byteLength(), std::string_view(&byte, 1));
        EXPECT_EQ(Shown(pieces), QString::fromUtf16(c.shown)) << "byte by byte";
        EXPECT_EQ(pieces.bytes(), c.bytes);
    }
}

// A Latin character is 1 wide, a character from U+0100 on is 2, tabs stop every 4.
class FixedMetric : public TextMetric {
public:
    int advance(char16_t c) const override { return c < 0x100 ? 1 : 2; }
    int tabStop() const override { return 4; }
};

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
    const struct { const char16_t* text; std::vector<int> starts; int width = 10; } cases[] = {
        {u"", {0}}, {u"a\n\nb\n", {0, 2, 3, 5}},
        {u"aaaaaaaaaa", {0}},
        {u"aaaaaaaaaaaa", {0, 10}},  // a word longer than a line breaks where it overflows
        {u"ab cccccccc", {0, 3}},    // the word that overflows moves whole
        {u"ab cccccccccccc", {0, 3, 13}},
        {u" cccccccccccc", {0, 1, 11}},  // after only a blank too
        {u"aaaaaaaaaa     \t\tb", {0, 17}},  // blanks hang past the edge
        {u"a\tb\tc\tdd e", {0, 6}}, {u"\u6570\u6570\u6570\u6570\u6570\u636E", {0, 5}},
        {u"aaaaaaaaa\u636E", {0, 9}},  // a wide character that does not fit
        {u"ab\u636E", {0, 1, 2}, 1},  // a line holds at least one character
    };
    for (const auto& c : cases) {
        TextLayout layout;
        layout.reset(c.text, metric, c.width);
        EXPECT_EQ(LinesOf(layout), c.starts) << testing::PrintToString(std::u16string(c.text).size());
    }
    TextLayout layout;
    layout.reset(u"aaaaaaaaaaaa\nb", metric, 10);
    EXPECT_EQ(layout.lineOf(10), 1) << "a wrap point belongs to the next line";
    EXPECT_EQ(layout.lineOf(10, true), 0) << "unless the end of the line is asked for";
    EXPECT_EQ(layout.lineEnd(u"aaaaaaaaaaaa\nb", 1), 12) << "a line ends before its line break";
}

// Random changes, most of them one byte at the end as the receive path makes
// them, to bytes that stress the decoding (line ends, control bytes, lead
// bytes with and without trail bytes) and the wrapping (long words, blanks,
// wide characters). The model must show and map what a fresh model of the
// same bytes does, and the layout must wrap as a fresh one, with the lines
// outside its damage unchanged.
TEST(TextModelAndLayout, FollowRandomChangesAsAFreshDecodingAndWrapWould)
{
    static const std::string pieces[] = {"a", "b", " ", "\t", "\r", "\n", "\r\n", "\x01", "\x7F", "\x80", "\xFF",
                                         "\xB0\xA1", "\xD7\xD6", "\xB0", "\xA1", "\x81", "\x40", "WWWWWWWWWWWWWWW"};
    const FixedMetric metric;
    std::mt19937 random(20240611);
    auto randomBytes = [&](size_t size) {
        std::string bytes;
        while (bytes.size() < size)
            bytes += pieces[random() % std::size(pieces)];
        return bytes.substr(0, size);
    };
    for (int width : {1, 7, 16}) {
        TextModel model;
        TextLayout layout;
        layout.reset(model.chars(), metric, width);
        for (int step = 0; step < 400; ++step) {
            const size_t size = model.byteLength();
            const size_t a = step % 3 ? size : random() % (size + 1);
            const size_t b = step % 3 ? size : random() % (size + 1);
            const std::vector<int> before = LinesOf(layout);
            const std::u16string charsBefore = model.chars();
            const TextModel::Change change =
                model.replace(std::min(a, b), std::max(a, b), randomBytes(step % 3 ? 1 : random() % 6));
            const TextLayout::Damage damage = layout.update(model.chars(), metric, change);
            SCOPED_TRACE(testing::Message() << "width " << width << ", step " << step << ", "
                                            << testing::PrintToString(model.bytes()));

            TextModel fresh;
            fresh.setBytes(model.bytes());
            ASSERT_EQ(Shown(model), Shown(fresh));
            for (int pos = 0; pos < model.length(); ++pos) {
                ASSERT_EQ(model.byteAt(pos), fresh.byteAt(pos)) << "character " << pos;
                ASSERT_EQ(model.charAt(model.byteAt(pos)), pos) << "character " << pos;
                // The bytes before a character show exactly the characters before it.
                ASSERT_EQ(AfxQStringFromBytes(std::string_view(model.bytes()).substr(0, model.byteAt(pos))),
                          Shown(model).left(pos));
            }
            for (size_t byte = 0; byte <= model.byteLength(); ++byte)
                ASSERT_EQ(model.charAt(byte), fresh.charAt(byte)) << "byte " << byte;

            TextLayout freshLayout;
            freshLayout.reset(model.chars(), metric, width);
            const std::vector<int> after = LinesOf(freshLayout);
            ASSERT_EQ(LinesOf(layout), after);
            for (int line = 0; line < damage.first; ++line)
                ASSERT_EQ(after[static_cast<size_t>(line)], before[static_cast<size_t>(line)]);
            // Left of firstFromX the first damaged line shows what it showed.
            if (damage.firstFromX > 0) {
                const auto first = static_cast<size_t>(damage.first);
                ASSERT_EQ(after[first], before[first]);
                for (int i = after[first], x = 0; x < damage.firstFromX; ++i) {
                    ASSERT_LT(i, static_cast<int>(charsBefore.size()));
                    ASSERT_EQ(model.chars()[static_cast<size_t>(i)], charsBefore[static_cast<size_t>(i)]) << i;
                    x += metric.widthAt(charsBefore[static_cast<size_t>(i)], x);
                }
            }
            if (!damage.toEnd) {
                ASSERT_EQ(before.size(), after.size());
                for (int line = damage.last + 1; line < static_cast<int>(after.size()); ++line)
                    ASSERT_EQ(after[static_cast<size_t>(line)] - before[static_cast<size_t>(line)],
                              change.inserted - change.removed) << "line " << line;
            }
        }
    }
}

} // namespace
