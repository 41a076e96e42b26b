// Dialog templates: the main dialog, the about box and the help dialog.
// Compiled with a code page 936 execution character set: every text here ends
// up as GBK bytes, and the compiler refuses a character GBK cannot hold.
#include <iterator>

#include "framework/winuser.h"
#include "res/resource.h"
#include "res/tables.h"

namespace {

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kPushButton = kChild | BS_PUSHBUTTON | WS_TABSTOP;
constexpr DWORD kCheckBox = kChild | BS_AUTOCHECKBOX | WS_TABSTOP;
constexpr DWORD kGroupBox = kChild | BS_GROUPBOX;
constexpr DWORD kDropList = kChild | CBS_DROPDOWNLIST | CBS_SORT | WS_VSCROLL | WS_TABSTOP;
constexpr DWORD kLabel = kChild | SS_LEFT | WS_GROUP;
constexpr DWORD kIcon = kChild | SS_ICON;
constexpr DWORD kEdge = WS_EX_CLIENTEDGE;

constexpr const char* kFontFace = "宋体";
constexpr int kFontPoints = 9;

// The fault-report sentence and the contacts, shown alike in the about box
// and the help dialog.
#define TAVRIN_BUG_APOLOGY "由于水平不高，所以难免会有Bug，请原谅。"
#define TAVRIN_BUG_CONTACTS " Bug反馈:聊天号:00000000 聊天群:00000000 推荐邮箱:bugs@example.com"

// Template order is tab order.
const AfxDlgItemTemplate kMainItems[] = {
    {"BUTTON", IDC_OPEN_BUTTON, "打开串口", kPushButton, 0, 87, 107, 49, 15, 0},
    {"COMBOBOX", IDC_PORT_COMBO, "", kDropList, 0, 42, 22, 36, 53, 0},
    {"COMBOBOX", IDC_BAUD_COMBO, "", kDropList, 0, 114, 22, 36, 68, 0},
    {"COMBOBOX", IDC_PARITY_COMBO, "", kDropList, 0, 42, 50, 36, 46, 0},
    {"COMBOBOX", IDC_DATABITS_COMBO, "", kDropList, 0, 114, 50, 36, 48, 0},
    {"COMBOBOX", IDC_STOPBITS_COMBO, "", kDropList, 0, 43, 81, 36, 39, 0},
    {"BUTTON", IDC_CLEAR_BUTTON, "清空显示", kPushButton, 0, 87, 151, 49, 15, 0},
    {"BUTTON", IDC_HEX_DISPLAY_CHECK, "16进制显示", kCheckBox, 0, 17, 163, 68, 15, 0},
    {"BUTTON", IDC_SEND_BUTTON, "手动发送", kPushButton, 0, 87, 223, 49, 15, 0},
    {"BUTTON", IDC_HEX_SEND_CHECK, "16进制发送", kCheckBox, 0, 17, 216, 58, 15, 0},
    {"BUTTON", IDC_AUTO_SEND_CHECK, "自动发送", kCheckBox, 0, 17, 233, 51, 15, 0},
    {"EDIT", IDC_PERIOD_EDIT, "", kChild | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 0, 65, 249, 50, 13, 0},
    {"EDIT", IDC_SEND_EDIT, "",
     kChild | ES_MULTILINE | ES_AUTOVSCROLL | WS_VSCROLL | ES_WANTRETURN | WS_BORDER | WS_TABSTOP, 0,
     167, 214, 276, 49, 0},
    {"BUTTON", IDC_RESET_SENT_BUTTON, "发送记数清零", kPushButton, kEdge, 9, 276, 54, 15, 0},
    {"BUTTON", IDC_RESET_RECV_BUTTON, "接收记数清零", kPushButton, kEdge, 73, 276, 54, 15, 0},
    // Save and settings are places kept for later features: shown, never enabled.
    {"BUTTON", IDC_SAVE_BUTTON, "保存显示数据", kPushButton | WS_DISABLED, kEdge, 137, 276, 54, 15, 0},
    {"BUTTON", IDC_SETTINGS_BUTTON, "软件详细设置", kPushButton | WS_DISABLED, kEdge, 201, 276, 54, 15, 0},
    {"BUTTON", IDC_HELP_BUTTON, "帮助", kPushButton, kEdge, 319, 276, 49, 15, 0},
    {"BUTTON", IDC_EXIT_BUTTON, "关闭程序", kPushButton, kEdge, 385, 276, 49, 15, 0},
    {"BUTTON", IDC_STATIC, "串口参数设置", kGroupBox, 0, 5, 4, 151, 130, 0},
    {"BUTTON", IDC_STATIC, "接收数据设置", kGroupBox, 0, 5, 139, 152, 59, 0},
    {"BUTTON", IDC_STATIC, "发送数据设置", kGroupBox, 0, 5, 204, 151, 66, 0},
    {"BUTTON", IDC_STATIC, "接收数据区", kGroupBox, 0, 162, 4, 287, 195, 0},
    {"BUTTON", IDC_STATIC, "发送数据区", kGroupBox, 0, 162, 204, 287, 66, 0},
    // The receive area takes typing but no tab stop; it is filled by the port.
    {"EDIT", IDC_RECV_EDIT, "", kChild | ES_MULTILINE | ES_AUTOVSCROLL | WS_VSCROLL, kEdge, 167, 14, 276, 178, 0},
    {"STATIC", IDC_STATIC, "波特率", kLabel, 0, 84, 25, 24, 14, 0},
    {"STATIC", IDC_STATIC, "串口号", kLabel, 0, 12, 25, 25, 16, 0},
    {"STATIC", IDC_STATIC, "校验位", kLabel, 0, 12, 53, 25, 16, 0},
    {"STATIC", IDC_STATIC, "停止位", kLabel, 0, 12, 85, 25, 16, 0},
    {"STATIC", IDC_STATIC, "数据位", kLabel, 0, 84, 53, 25, 16, 0},
    {"STATIC", IDC_STATIC, "发送周期：", kLabel, 0, 18, 252, 43, 11, 0},
    {"STATIC", IDC_STATIC, "毫秒", kLabel, 0, 128, 252, 18, 9, 0},
    {"STATIC", IDC_PORT_LAMP, "", kIcon, 0, 38, 101, 20, 20, IDI_PORT_CLOSED},
    {"STATIC", IDC_PORT_STATE_TEXT, "端口未打开", kLabel, 0, 84, 83, 63, 10, 0},
    {"BUTTON", IDC_PAUSE_BUTTON, "停止显示", kPushButton, 0, 88, 177, 49, 15, 0},
};

const AfxDlgItemTemplate kAboutItems[] = {
    {"STATIC", IDC_STATIC, "", kIcon, 0, 51, 158, 21, 21, IDI_MAINFRAME},
    {"STATIC", IDC_STATIC, "www.example.com", kLabel, 0, 16, 36, 72, 8, 0},
    {"BUTTON", IDOK, "确定", kChild | BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP, 0, 99, 163, 50, 14, 0},
    {"STATIC", IDC_STATIC, "dev.example.com", kLabel, 0, 107, 36, 71, 8, 0},
    {"STATIC", IDC_STATIC, "[------最新版本请随时关注------]", kLabel, 0, 29, 16, 135, 12, 0},
    {"STATIC", IDC_STATIC,
     "   Tavrin外部测试版本，希望大家把发现的问题能反馈给我，我好进一步完善Tavrin。",
     kLabel, 0, 15, 54, 162, 27, 0},
    {"STATIC", IDC_STATIC,
     "  Tavrin会根据用户需求不断的完善，软件在主界面也预留了后续开发的接口，"
     "您的要求就是我后续开发的标准，您的期望就是我后续开发的动力。",
     kLabel, 0, 14, 85, 165, 32, 0},
    {"STATIC", IDC_STATIC, TAVRIN_BUG_APOLOGY TAVRIN_BUG_CONTACTS, kLabel, 0, 16, 127, 160, 28, 0},
};

const AfxDlgItemTemplate kHelpItems[] = {
    {"BUTTON", IDC_STATIC, "简要帮助--2007.1.21", kGroupBox, 0, 7, 7, 197, 162, 0},
    {"BUTTON", IDCANCEL, "关闭帮助", kPushButton, kEdge, 151, 178, 45, 16, 0},
    {"STATIC", IDC_STATIC,
     "    Tavrin是一个小巧的串口调试工具，"
     "运行时不需要其它任何文件，使用简单方便，适合工程技术人员使用。",
     kLabel, 0, 17, 19, 178, 25, 0},
    {"STATIC", IDC_STATIC, "    " TAVRIN_BUG_APOLOGY TAVRIN_BUG_CONTACTS, kLabel, 0, 13, 137, 176, 25, 0},
    {"STATIC", IDC_STATIC,
     "    当串口成功打开后，您就可以进行串口调试了。在发送区写下您要发送的数据，"
     "按发送按钮就可以将发送区的数据从串口发送出去。如果有接收的数据，"
     "那么在接收区将自动显示出来。您也可以将接收到的数据存储起来，进行数据分析。"
     "可以从状态栏观察到接收或者发送的字节数。",
     kLabel, 0, 16, 49, 179, 48, 0},
    {"STATIC", IDC_STATIC,
     "    本软件为免费软件，可以自由复制、传播和使用。软件按现状提供，不附带任何担保，"
     "作者不承担因使用本软件造成的损失。",
     kLabel, 0, 19, 104, 174, 27, 0},
    {"STATIC", IDC_STATIC, "详细帮助请访问 :  ", kLabel, 0, 7, 181, 65, 13, 0},
    {"STATIC", IDC_STATIC, "dev.example.com", kLabel, 0, 72, 175, 75, 10, 0},
    {"STATIC", IDC_STATIC, "help.example.com", kLabel, 0, 74, 185, 70, 10, 0},
};

#undef TAVRIN_BUG_APOLOGY
#undef TAVRIN_BUG_CONTACTS

}  // namespace

const AfxDlgTemplate g_tavrinDialogs[kTavrinDialogCount] = {
    {IDD_MAIN, "Tavrin - www.example.com www.example.com www.example.com",
     WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME,
     WS_EX_APPWINDOW | WS_EX_CLIENTEDGE | WS_EX_STATICEDGE, true,
     0, 0, 451, 308, kFontFace, kFontPoints, kMainItems, static_cast<int>(std::size(kMainItems))},
    {IDD_ABOUT, "关于Tavrin", WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 0, false,
     0, 0, 189, 195, kFontFace, kFontPoints, kAboutItems, static_cast<int>(std::size(kAboutItems))},
    {IDD_HELP, "Tavrin使用帮助", WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, WS_EX_CLIENTEDGE, true,
     0, 0, 211, 203, kFontFace, kFontPoints, kHelpItems, static_cast<int>(std::size(kHelpItems))},
};
