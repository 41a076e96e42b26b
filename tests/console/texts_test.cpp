// The console's texts reach the window as code page 936 bytes that read as
// intended: a wrong compiler charset, a stray half-width comma or a lost
// leading blank would all show here. And the counts' texts stay exact where
// a 32-bit count would not.
#include <gtest/gtest.h>

#include <string>

#include "console/recvdisplay.h"
#include "console/sendlogic.h"
#include "console/texts.h"
#include "tests/support/gbk.h"

namespace {

// Bytes equal to the characters' GBK codes: two a character, not UTF-8's three.
TEST(Texts, AreDoubleByteCodePage936)
{
    EXPECT_EQ(kTextOpenPort, Gbk("打开串口"));
    EXPECT_EQ(kTextPortOpenStatus, Gbk(" 串口开启状态  Com"));
    EXPECT_EQ(kTextPortClosedStatus, Gbk(" 串口关闭状态,不能进行串口操作"));
    EXPECT_EQ(kTextLineLimitNotice, Gbk("--------数据过长，影响显示灵敏度，数据已经清空，请见量--------"));
}

TEST(Texts, CountsStayExactPastThe32BitLimits)
{
    const struct {
        ByteCount count;
        const char* digits;
    } rows[] = {
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

} // namespace
