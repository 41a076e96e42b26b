// Compiled with -fexec-charset=GBK: every literal here becomes code page 936
// bytes, and the compiler refuses a character that code page cannot hold. So
// this file includes neither Qt nor <chrono>.
#include "console/texts.h"

const char kTextStatusInit[] = "   Tavrin初始化成功";
const char kTextStatusCredit[] = "     程序编写:Dorvan";

const char kTextSendCountFormat[] = " 发送：%lld 字节";
const char kTextRecvCountFormat[] = " 接收：%lld 字节";

const char kTextOpenPort[] = "打开串口";
const char kTextClosePort[] = "关闭串口";
const char kTextPortClosed[] = " 串口关闭状态";
const char kTextPortClosedStatus[] = " 串口关闭状态,不能进行串口操作";
const char kTextPortOpenFailed[] = " 串口无法开启";
const char kTextPortOpenFailedStatus[] = " 串口无法开启,请检查串口设备状态";
const char kTextThreadFailed[] = " 线程启动失败";
const char kTextThreadFailedStatus[] = " 线程启动失败,请重新启动本程序";
const char kTextPortOpenLabel[] = "Com";
const char kTextPortOpenStatus[] = " 串口开启状态  Com";

const char kTextStopDisplay[] = "停止显示";
const char kTextContinueDisplay[] = "继续显示";
const char kTextLineLimitNotice[] =
    "--------数据过长，影响显示灵敏度，数据已经清空，请见量--------";

const char kTextPortNotOpen[] = "串口没有开启，请先打开串口";
const char kTextMessageCaption[] = "Tavrin";
const char kTextDefaultPeriod[] = "1000";

const char* const kPortItems[kPortItemCount] = {"COM1", "COM2", "COM3", "COM4"};
const char* const kBaudItems[kBaudItemCount] = {
    "300", "600", "1200", "2400", "4800", "9600", "19200", "38400"};
const char* const kParityItems[kParityItemCount] = {"NONE", "ODD", "EVEN"};
const char* const kDataBitsItems[kDataBitsItemCount] = {"8", "7", "6"};
const char* const kStopBitsItems[kStopBitsItemCount] = {"1", "2"};
