#include <gtest/gtest.h>

#include "console/recvdisplay.h"
#include "console/sendlogic.h"
#include "tests/support/gbk.h"

namespace {

TEST(Counters, StayExactPastThe32BitLimits)
{
    struct Row {
        ByteCount count;
        const char* digits;
    };
    const Row rows[] = {
        {0, "0"},
        {2147483647LL, "2147483647"},
        {2147483648LL, "2147483648"},   // 2^31: a signed 32-bit count turns negative here
        {4294967296LL, "4294967296"},   // 2^32: an unsigned one wraps to 0 here
        {4294967296LL * 1000 + 7, "4294967296007"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.digits);
        EXPECT_EQ(RecvCountText(row.count).bytes(), Gbk(std::string(" 接收：") + row.digits + " 字节"));
        EXPECT_EQ(SendCountText(row.count).bytes(), Gbk(std::string(" 发送：") + row.digits + " 字节"));
    }
}

TEST(ReceiveDisplay, ByteTexts)
{
    struct Row {
        BYTE byte;
        std::string hex;
        std::string character;
    };
    const Row rows[] = {
        {0x00, "00 ", ""},  // the NUL ends the formatted text
        {0x41, "41 ", "A"},
        {0x0D, "0D ", "\r"},
        {0x0A, "0A ", "\n"},
        {0xFF, "FF ", "\xFF"},
        {0xB4, "B4 ", "\xB4"},  // the lead byte of a double-byte character, on its own
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.byte));
        EXPECT_EQ(RecvByteText(row.byte, TRUE).bytes(), row.hex);
        EXPECT_EQ(RecvByteText(row.byte, FALSE).bytes(), row.character);
        EXPECT_EQ(RecvByteText(row.byte, FALSE).GetLength(), row.character.size() ? 1 : 0);
    }
}

TEST(ReceiveDisplay, LineLimitTriggersAboveFourHundredOnly)
{
    EXPECT_FALSE(RecvAreaOverLimit(1));  // an empty area reports one line
    EXPECT_FALSE(RecvAreaOverLimit(399));
    EXPECT_FALSE(RecvAreaOverLimit(400));
    EXPECT_TRUE(RecvAreaOverLimit(401));
    EXPECT_TRUE(RecvAreaOverLimit(100000));
}

TEST(ReceiveDisplay, PauseCaptionNamesTheNextPress)
{
    BOOL paused = FALSE;
    EXPECT_EQ(Utf8FromGbk(PauseButtonCaption(paused)), "停止显示");
    paused = !paused;
    EXPECT_EQ(Utf8FromGbk(PauseButtonCaption(paused)), "继续显示");
    paused = !paused;
    EXPECT_EQ(Utf8FromGbk(PauseButtonCaption(paused)), "停止显示");
}

} // namespace
