// The text model and its layout under appends, inserts, deletes and
// replacements of random bytes (split double-byte characters, CR, LF, CR LF,
// control and invalid bytes), and changes of width. After each step:
//   - the model holds the bytes asked for, and shows and maps them as a model
//     made afresh from those bytes does; the change it reports, applied to
//     the characters before, gives the characters after;
//   - byte and character positions agree both ways, and each character is
//     what decoding the bytes at its start gives;
//   - the layout starts its lines where a layout made afresh does, and the
//     lines outside its damage show what they showed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>
#include <vector>

#include "framework/textlayout.h"
#include "framework/textmodel.h"
#include "fuzz/check.h"

namespace {

// A character from U+0100 on is twice as wide as one below, or as wide,
// as the input chooses; tabs stop every few widths.
class FixedMetric : public TextMetric {
public:
    FixedMetric(int wide, int tab) : m_wide(wide), m_tab(tab) {}
    int advance(char16_t c) const override { return c < 0x100 ? 1 : m_wide; }
    int tabStop() const override { return m_tab; }

private:
    int m_wide;
    int m_tab;
};

// Bytes that decide decoding and wrapping, more often than random bytes
// would bring them.
constexpr char kTelling[] = {'\r', '\n', ' ', '\t', '\x81', '\xFE', '\x40', '\x7F',
                             '\x80', '\xFF', '\0', '\xB0', '\xA1', '\x1B', 'W', '\xD7'};

std::string Bytes(FuzzedDataProvider& input)
{
    std::string bytes = input.ConsumeRandomLengthString(24);
    for (char& b : bytes)
        if (static_cast<unsigned char>(b) >= 0xF0)
            b = kTelling[static_cast<unsigned char>(b) & 15];
    return bytes;
}

std::vector<int> LinesOf(const TextLayout& layout)
{
    std::vector<int> starts;
    for (int line = 0; line < layout.lineCount(); ++line)
        starts.push_back(layout.lineStart(line));
    return starts;
}

// The characters of a line, its line break included.
std::u16string LineText(const std::u16string& text, const std::vector<int>& starts, size_t line)
{
    const size_t from = static_cast<size_t>(starts[line]);
    const size_t to = line + 1 < starts.size() ? static_cast<size_t>(starts[line + 1]) : text.size();
    return text.substr(from, to - from);
}

void CheckModel(const TextModel& model, const std::string& expected)
{
    FUZZ_CHECK(model.bytes() == expected, "the model holds other bytes than were given");
    TextModel fresh;
    fresh.setBytes(expected);
    FUZZ_CHECK(model.chars() == fresh.chars(), "the model shows otherwise than a fresh one");
    const std::string_view bytes = model.bytes();
    const int length = model.length();
    for (int pos = 0; pos < length; ++pos) {
        const size_t start = model.byteAt(pos);
        FUZZ_CHECK(start == fresh.byteAt(pos), "character %d starts at byte %zu, afresh at %zu", pos, start,
                   fresh.byteAt(pos));
        FUZZ_CHECK(model.charAt(start) == pos, "byte %zu maps to character %d, not %d", start, model.charAt(start), pos);
        char16_t c = 0;
        const size_t n = AfxDecodeChar(bytes.substr(start), false, &c);
        FUZZ_CHECK(n > 0 && c == model.chars()[static_cast<size_t>(pos)], "character %d is not its bytes' one", pos);
        const size_t next = pos + 1 < length ? model.byteAt(pos + 1) : start + n;
        FUZZ_CHECK(start + n == next, "character %d takes %zu bytes but the next starts %zu on", pos, n, next - start);
        for (size_t inside = start + 1; inside < next; ++inside)
            FUZZ_CHECK(model.charAt(inside) == pos, "byte %zu inside character %d maps elsewhere", inside, pos);
    }
    // What follows the last character waits for more bytes.
    const size_t shownEnd = length ? model.byteAt(length - 1) : 0;
    char16_t c = 0;
    const size_t pendingAt = length ? shownEnd + AfxDecodeChar(bytes.substr(shownEnd), false, &c) : 0;
    FUZZ_CHECK(AfxDecodeChar(bytes.substr(pendingAt), false, &c) == 0 && bytes.size() - pendingAt <= 1,
               "%zu bytes after the last character are not shown", bytes.size() - pendingAt);
    for (size_t byte = pendingAt; byte <= bytes.size() + 1; ++byte)
        FUZZ_CHECK(model.charAt(byte) == length, "byte %zu not yet shown maps to %d", byte, model.charAt(byte));
    FUZZ_CHECK(model.byteAt(-1) == 0 && model.byteAt(length) == bytes.size() && model.byteAt(length + 1) == bytes.size(),
               "positions outside the text map inside it");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const FixedMetric metric(input.ConsumeIntegralInRange(1, 2), input.ConsumeIntegralInRange(1, 8));
    int width = input.ConsumeIntegralInRange(1, 40);
    TextModel model;
    TextLayout layout;
    layout.reset(model.chars(), metric, width);
    std::string expected;
    while (input.remaining_bytes() > 0) {
        const std::u16string before = model.chars();
        const std::vector<int> linesBefore = LinesOf(layout);
        const int op = input.ConsumeIntegralInRange(0, 7);
        if (op == 7) {
            width = input.ConsumeIntegralInRange(1, 40);
            layout.reset(model.chars(), metric, width);
            continue;
        }
        // Mostly appends, as bytes arrive; positions may lie past the end.
        size_t from = expected.size();
        size_t to = expected.size();
        if (op >= 4) {
            from = input.ConsumeIntegralInRange<size_t>(0, expected.size() + 2);
            to = op == 4 ? from : input.ConsumeIntegralInRange<size_t>(0, expected.size() + 2);
        }
        const std::string bytes = op == 6 ? std::string() : Bytes(input);
        const TextModel::Change change = model.replace(from, to, bytes);
        const size_t first = std::min(from, expected.size());
        expected.replace(first, std::clamp(to, first, expected.size()) - first, bytes);

        CheckModel(model, expected);
        const std::u16string& after = model.chars();
        FUZZ_CHECK(change.from >= 0 && change.removed >= 0 && change.inserted >= 0
                       && static_cast<size_t>(change.from + change.removed) <= before.size()
                       && static_cast<size_t>(change.from + change.inserted) <= after.size(),
                   "change %d -%d +%d out of the text", change.from, change.removed, change.inserted);
        const size_t at = static_cast<size_t>(change.from);
        FUZZ_CHECK(before.substr(0, at) + after.substr(at, static_cast<size_t>(change.inserted))
                           + before.substr(at + static_cast<size_t>(change.removed)) == after,
                   "the change reported is not the change made");

        const TextLayout::Damage damage = layout.update(after, metric, change);
        TextLayout fresh;
        fresh.reset(after, metric, width);
        const std::vector<int> lines = LinesOf(layout);
        FUZZ_CHECK(lines == LinesOf(fresh), "%zu lines, afresh %d, at width %d", lines.size(), fresh.lineCount(), width);
        for (int line = 0; line < damage.first; ++line)
            FUZZ_CHECK(LineText(after, lines, static_cast<size_t>(line))
                           == LineText(before, linesBefore, static_cast<size_t>(line)),
                       "line %d before the damage changed", line);
        if (!damage.toEnd) {
            FUZZ_CHECK(lines.size() == linesBefore.size(), "the number of lines changed within the damage");
            for (size_t line = static_cast<size_t>(damage.last) + 1; line < lines.size(); ++line)
                FUZZ_CHECK(LineText(after, lines, line) == LineText(before, linesBefore, line),
                           "line %zu after the damage changed", line);
        }
        for (int line = 0; line < layout.lineCount(); ++line)
            FUZZ_CHECK(layout.lineOf(layout.lineStart(line)) == line, "line %d's start is on another line", line);
    }
    return 0;
}
