// The program's texts must reach the window as valid code page 936 bytes that
// read exactly as intended: a wrong compiler charset, a stray half-width comma
// or a lost leading blank would all show here.
#include <gtest/gtest.h>

#include "console/texts.h"
#include "tests/support/gbk.h"

namespace {

struct TextRow {
    const char* name;
    const char* gbk;
    const char* utf8;
};

const TextRow kTexts[] = {
    {"StatusInit", kTextStatusInit, "   Tavrin初始化成功"},
    {"StatusCredit", kTextStatusCredit, "     程序编写:Dorvan"},
    {"SendCountFormat", kTextSendCountFormat, " 发送：%lld 字节"},
    {"RecvCountFormat", kTextRecvCountFormat, " 接收：%lld 字节"},
    {"OpenPort", kTextOpenPort, "打开串口"},
    {"ClosePort", kTextClosePort, "关闭串口"},
    {"PortClosed", kTextPortClosed, " 串口关闭状态"},
    {"PortClosedStatus", kTextPortClosedStatus, " 串口关闭状态,不能进行串口操作"},
    {"PortOpenFailed", kTextPortOpenFailed, " 串口无法开启"},
    {"PortOpenFailedStatus", kTextPortOpenFailedStatus, " 串口无法开启,请检查串口设备状态"},
    {"ThreadFailed", kTextThreadFailed, " 线程启动失败"},
    {"ThreadFailedStatus", kTextThreadFailedStatus, " 线程启动失败,请重新启动本程序"},
    {"PortOpenLabel", kTextPortOpenLabel, "Com"},
    {"PortOpenStatus", kTextPortOpenStatus, " 串口开启状态  Com"},
    {"StopDisplay", kTextStopDisplay, "停止显示"},
    {"ContinueDisplay", kTextContinueDisplay, "继续显示"},
    {"LineLimitNotice", kTextLineLimitNotice,
     "--------数据过长，影响显示灵敏度，数据已经清空，请见量--------"},
    {"PortNotOpen", kTextPortNotOpen, "串口没有开启，请先打开串口"},
    {"MessageCaption", kTextMessageCaption, "Tavrin"},
    {"DefaultPeriod", kTextDefaultPeriod, "1000"},
};

TEST(Texts, AreValidGbkAndReadAsIntended)
{
    for (const TextRow& row : kTexts) {
        SCOPED_TRACE(row.name);
        const std::optional<std::string> decoded = Utf8FromGbk(row.gbk);
        ASSERT_TRUE(decoded.has_value()) << "not valid GBK";
        EXPECT_EQ(*decoded, row.utf8);
    }
}

TEST(Texts, ChineseTextsAreDoubleByteInTheWindowCodePage)
{
    // In UTF-8 each of these characters takes three bytes, in code page 936 two;
    // a file compiled without the GBK charset would still decode above if the
    // bytes happened to be valid GBK, so the length is checked as well.
    EXPECT_EQ(std::string_view(kTextOpenPort).size(), 8u);
    EXPECT_EQ(std::string_view(kTextPortClosed).size(), 13u);
    EXPECT_EQ(static_cast<unsigned char>(kTextOpenPort[0]), 0xB4u);  // 打
}

} // namespace
