// The console's logic without windows: hexadecimal send texts, the send
// period, the settings the lists give, and the counts' texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/portsettings.h"
#include "console/recvdisplay.h"
#include "console/sendlogic.h"
#include "console/texts.h"
#include "tests/support/gbk.h"

namespace {

// Blanks are skipped only where a pair begins; the first pair that is not two
// hexadecimal digits ends the conversion, and a lone last digit is dropped.
TEST(HexTextToBytes, WorkedExamples)
{
    const struct { const char* name; std::string text; std::vector<BYTE> bytes; } rows[] = {
        {"blanks_around", "  7f 80 ", {0x7F, 0x80}},
        {"every_digit_no_separators", "0123456789abcdefABCDEF", {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xAB, 0xCD, 0xEF}},
        {"lone_last_dropped", "abc", {0xAB}},
        {"blank_inside_pair", "1 2", {}},
        {"split_pair_stops", "12 3 45", {0x12}},
        {"second_line_ignored", "12\r\n34", {0x12}},
        {"tab_not_skipped", "\t12", {}},
        {"empty", "", {}},
        // The bytes on either side of each range of digits.
        {"slash_stops", "12/0", {0x12}},
        {"colon_stops", "129:", {0x12}},
        {"at_sign_stops", "12@0", {0x12}},
        {"capital_g_stops", "12 G0 34", {0x12}},
        {"grave_stops", "12`0", {0x12}},
        {"small_g_stops", "120g", {0x12}},
        // 0xB0 and 0xC1 are '0' and 'A' with the high bit set; a GBK character
        // is no digit either.
        {"high_bit_digits_stop", "12\xB0\xC1", {0x12}},
        {"gbk_character_stops", "41\xB4\xF2" "42", {0x41}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(HexTextToBytes(row.text), row.bytes);
    }
}

// The period's leading integer as atoi reads it (beyond int it saturates), a
// negative one passed on as a huge interval; an empty text means 1000 ms and
// refills the edit.
TEST(AutoSendPeriod, TextsToIntervals)
{
    const struct { const char* text; UINT interval; bool refill; } rows[] = {
        {"250ms", 250, false},
        {"+250", 250, false},
        {"\t\n250", 250, false},
        {"ms", 0, false},
        {"0", 0, false},
        {"-1", 0xFFFFFFFFu, false},
        {"- 5", 0, false},
        {"99999999999", 2147483647u, false},
        {"-99999999999", 0x80000000u, false},
        {"", 1000, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        const AutoSendPeriod period = AutoSendPeriodFromText(row.text);
        EXPECT_EQ(period.nInterval, row.interval);
        EXPECT_EQ(period.bRefillDefault, row.refill);
    }
}

// The port number and parity come from an item's position, the numbers from
// the item's text as atoi reads it (beyond int it saturates); a parity
// position outside the list leaves the letter passed in. What the lists give
// by default, and after the end-to-end suite's changes, its port states show.
TEST(PortSettings, ListSelectionsGiveTheSettingsText)
{
    const struct { PortListSelection selection; char chPreviousParity; const char* text; } rows[] = {
        {{3, "300", 1, "6", "1"}, '?', "4.300.O.6.1"},
        {{1, " 19200x", 7, "7 bits", "two"}, 'E', "2.19200.E.7.0"},
        {{0, "99999999999", -1, "", "-2"}, 'O', "1.2147483647.O.0.-2"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(PortSettingsText(PortSettingsFromLists(row.selection, row.chPreviousParity)).bytes(), row.text);
    }
}

// The counts' texts stay exact where a 32-bit count would not.
TEST(CountTexts, StayExactPastThe32BitLimits)
{
    const struct { ByteCount count; const char* digits; } rows[] = {
        {2147483648LL, "2147483648"},  // 2^31: a signed 32-bit count turns negative here
        {4294967296LL, "4294967296"},  // 2^32: an unsigned one wraps to 0 here
        {4294967296LL * 1000 + 7, "4294967296007"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.digits);
        EXPECT_EQ(RecvCountText(row.count).bytes(), Gbk(std::string(" 接收：") + row.digits + " 字节"));
        EXPECT_EQ(SendCountText(row.count).bytes(), Gbk(std::string(" 发送：") + row.digits + " 字节"));
    }
}

// The received count's text kept from byte to byte reads as a fresh one at
// every count: counting up through carries, jumps, a reset and large values.
TEST(CountTexts, AKeptTextReadsAsAFreshOneAtEveryCount)
{
    CountTextCache kept(kTextRecvCountFormat);
    std::vector<ByteCount> counts;
    for (ByteCount n = 0; n <= 1100; ++n)
        counts.push_back(n);
    for (ByteCount n : {99999LL, 100000LL, 100001LL, 0LL, 1LL, 9LL, 10LL, 5LL, 4294967295LL, 4294967296LL,
                        999999999999LL, 1000000000000LL, -1LL, 0LL, 7LL})
        counts.push_back(n);
    for (ByteCount n : counts)
        ASSERT_EQ(std::string(kept.For(n)), RecvCountText(n).bytes()) << n;
}

} // namespace
