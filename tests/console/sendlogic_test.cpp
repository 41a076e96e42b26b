#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <string>
#include <vector>

#include "console/sendlogic.h"
#include "tests/support/gbk.h"

namespace {

std::vector<BYTE> Bytes(std::initializer_list<int> values)
{
    std::vector<BYTE> out;
    for (int v : values)
        out.push_back(static_cast<BYTE>(v));
    return out;
}

TEST(HexDigitValue, EveryByte)
{
    for (int b = 0; b < 256; ++b) {
        SCOPED_TRACE(b);
        const char byte = static_cast<char>(b);
        int expected = 16;
        if (b >= '0' && b <= '9')
            expected = b - '0';
        else if (b >= 'A' && b <= 'F')
            expected = b - 'A' + 10;
        else if (b >= 'a' && b <= 'f')
            expected = b - 'a' + 10;
        EXPECT_EQ(HexDigitValue(byte), expected);
    }
    EXPECT_EQ(HexDigitValue('\xB0'), 16);  // would be '0' if only the low 7 bits were looked at
}

TEST(HexTextToBytes, WorkedExamples)
{
    struct Row {
        const char* name;
        std::string text;
        std::vector<BYTE> bytes;
    };
    const Row rows[] = {
        {"single_blanks", "01 02 0A", Bytes({0x01, 0x02, 0x0A})},
        {"no_separators", "010203", Bytes({0x01, 0x02, 0x03})},
        {"blanks_around", "  7f  80 ", Bytes({0x7F, 0x80})},
        {"lone_last_dropped", "abc", Bytes({0xAB})},
        {"blank_inside_pair", "1 2", {}},
        {"not_a_digit", "0G", {}},
        {"split_pair_stops", "12 3 45", Bytes({0x12})},
        {"second_line_ignored", "12\r\n34", Bytes({0x12})},
        {"empty", "", {}},
        {"mixed_case", "aB Ab", Bytes({0xAB, 0xAB})},
        {"g_stops", "12 G0 34", Bytes({0x12})},
        {"at_sign_stops", "12@0", Bytes({0x12})},
        {"grave_stops", "12`0", Bytes({0x12})},
        {"small_g_stops", "120g", Bytes({0x12})},
        {"tab_not_skipped", "\t12", {}},
        {"gbk_character_stops", "41\xB4\xF2" "42", Bytes({0x41})},
        {"only_blanks", "   ", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(HexTextToBytes(row.text), row.bytes);
    }
}

TEST(HexTextToBytes, ConvertsSendsLongerThanFiveHundredTwelveBytesWhole)
{
    std::string text;
    for (int i = 0; i < 1500; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02x ", i & 0xFF);
        text += pair;
    }
    const std::vector<BYTE> bytes = HexTextToBytes(text);
    ASSERT_EQ(bytes.size(), 1500u);
    for (size_t i = 0; i < bytes.size(); ++i)
        ASSERT_EQ(bytes[i], static_cast<BYTE>(i & 0xFF)) << i;
}

// A second, independent reading of the conversion: a scanner that is either
// between pairs (blanks allowed) or holding a high digit.
std::vector<BYTE> ReferenceHexToBytes(const std::string& text)
{
    std::vector<BYTE> out;
    bool haveHigh = false;
    int high = 0;
    for (unsigned char c : text) {
        const bool digit = c < 0x80 && std::isxdigit(c);
        const int value = digit ? std::stoi(std::string(1, static_cast<char>(c)), nullptr, 16) : 0;
        if (!haveHigh) {
            if (c == ' ')
                continue;
            if (!digit)
                break;
            high = value;
            haveHigh = true;
        } else {
            if (!digit)
                break;
            out.push_back(static_cast<BYTE>(high * 16 + value));
            haveHigh = false;
        }
    }
    return out;
}

TEST(HexTextToBytes, AgreesWithAReferenceOnRandomTexts)
{
    // Mostly digits and blanks so that texts run long before a stop.
    const std::string alphabet = "0123456789abcdefABCDEF0123456789    \r\nG\xB4\xF2\x80\xFF";
    std::mt19937 random(20240601);
    std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<int> length(0, 40);
    for (int i = 0; i < 5000; ++i) {
        std::string text;
        for (int n = length(random); n > 0; --n)
            text += alphabet[pick(random)];
        ASSERT_EQ(HexTextToBytes(text), ReferenceHexToBytes(text)) << "text: " << text;
    }
}

TEST(AutoSendPeriod, TextsToIntervals)
{
    struct Row {
        const char* text;
        UINT interval;
    };
    const Row rows[] = {
        {"1000", 1000},
        {" 250", 250},
        {"250ms", 250},
        {"+250", 250},
        {"\t\n250", 250},
        {"ms", 0},
        {"0", 0},
        {"-1", 0xFFFFFFFFu},  // a negative period goes on as a huge interval
        {"- 5", 0},
        {"99999999999", 2147483647u},  // saturates instead of atoi's undefined overflow
        {"-99999999999", 0x80000000u},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const AutoSendPeriod period = AutoSendPeriodFromText(row.text);
        EXPECT_EQ(period.nInterval, row.interval);
        EXPECT_FALSE(period.bRefillDefault);
    }
    const AutoSendPeriod empty = AutoSendPeriodFromText("");
    EXPECT_EQ(empty.nInterval, 1000u);
    EXPECT_TRUE(empty.bRefillDefault);
}

TEST(SendCount, StartUpTextForZero)
{
    EXPECT_EQ(Utf8FromGbk(SendCountText(0).bytes()), " 发送：0 字节");
}

} // namespace
