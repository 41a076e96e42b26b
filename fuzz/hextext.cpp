// The hexadecimal send text to bytes. Checked against the rule as a reader
// states it: each byte is a pair of digits of the text, in order, blanks
// allowed only before a pair; what follows the last pair is nothing, one
// character, or a pair that is not two digits. And the bytes written out
// again, in either case and with any blanks between pairs, give the same
// bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "console/sendlogic.h"
#include "fuzz/check.h"

namespace {

bool IsDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int Value(char c)
{
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

std::string Written(const std::vector<BYTE>& bytes, bool upper, std::string_view blanks)
{
    static const char kUpper[] = "0123456789ABCDEF";
    static const char kLower[] = "0123456789abcdef";
    const char* digits = upper ? kUpper : kLower;
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (!blanks.empty())
            text.append(static_cast<size_t>(blanks[i % blanks.size()] & 3), ' ');
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<BYTE> bytes = HexTextToBytes(text);

    size_t pos = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        while (pos < text.size() && text[pos] == ' ')
            ++pos;
        FUZZ_CHECK(pos + 1 < text.size() && IsDigit(text[pos]) && IsDigit(text[pos + 1]),
                   "byte %zu is no pair of digits of the text", i);
        FUZZ_CHECK(bytes[i] == Value(text[pos]) * 16 + Value(text[pos + 1]), "byte %zu is not its pair's value", i);
        pos += 2;
    }
    while (pos < text.size() && text[pos] == ' ')
        ++pos;
    const size_t rest = text.size() - pos;
    FUZZ_CHECK(rest <= 1 || !IsDigit(text[pos]) || !IsDigit(text[pos + 1]),
               "conversion stopped before the pair at %zu", pos);

    for (bool upper : {false, true}) {
        for (std::string_view blanks : {std::string_view(), text.substr(0, 7)}) {
            const std::string again = Written(bytes, upper, blanks);
            FUZZ_CHECK(HexTextToBytes(again) == bytes, "the bytes written out read back otherwise");
        }
    }
    return 0;
}
