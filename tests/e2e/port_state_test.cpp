// Opening and closing the port through the real dialog: what the lamp, the
// toggle, the state label and status-bar part 0 show after each press, against
// simulated devices and a path where no device is.
#include <QAccessible>
#include <QWidget>

#include <tuple>
#include <unistd.h>

#include "framework/afxtest.h"
#include "tests/e2e/e2e_support.h"

namespace {

using namespace e2e;

class PortStateTest : public E2ETest {};

// What the window shows of the port: the lamp's icon, what the lamp says to
// assistive tools, the toggle's caption, the state label and status-bar part 0.
struct Shown {
    UINT lamp;
    std::string says, caption, label, status;
};

Shown Opened(const std::string& settings)
{
    return {IDI_MAINFRAME, " 串口开启状态  Com" + settings, "关闭串口", "Com" + settings, " 串口开启状态  Com" + settings};
}

void ExpectShown(const Ui& ui, const Shown& shown)
{
    EXPECT_EQ(ui.icon(IDC_PORT_LAMP), ::LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCE(shown.lamp)));
    QAccessibleInterface* lamp = QAccessible::queryAccessibleInterface(ui.widget(IDC_PORT_LAMP));
    ASSERT_NE(lamp, nullptr);
    EXPECT_EQ(lamp->text(QAccessible::Name).toStdString(), shown.says);
    EXPECT_EQ(ui.text(IDC_OPEN_BUTTON), Gbk(shown.caption));
    EXPECT_EQ(ui.text(IDC_PORT_STATE_TEXT), Gbk(shown.label));
    EXPECT_EQ(ui.status(0), Gbk(shown.status));
}

// A press that cannot open shows why in the window only (no box), leaves the
// lamp and the toggle as they were, and sends are refused as with the port
// closed: a notice box each, nothing sent or counted, no automatic send. The
// next press opens in full, with the lists as they are at that press. A
// missing device fails the open; without its monitor thread the engine holds
// the port, but nothing would write.
TEST_F(PortStateTest, AFailedPressShowsWhyAndTheNextPressOpens)
{
    const struct { const char* name; bool bDeviceThere; const char* label; const char* status; } rows[] = {
        {"no device", false, " 串口无法开启", " 串口无法开启,请检查串口设备状态"},
        {"no monitor thread", true, " 线程启动失败", " 线程启动失败,请重新启动本程序"},
    };
    const devsim::Options options{.keepReceived = true};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        devsim::DeviceSimulator* device = row.bDeviceThere ? StartDevice(options) : nullptr;
        if (!row.bDeviceThere)
            setenv("TAVRIN_COM1", (testing::TempDir() + "tavrin-no-device-" + std::to_string(getpid())).c_str(), 1);
        CTavrinDlg dlg;
        RunDialog(dlg, [&](Ui& ui) {
            if (row.bDeviceThere)
                AfxSetThreadCreationHook([] { return false; });
            ui.click(IDC_OPEN_BUTTON);
            AfxSetThreadCreationHook(nullptr);
            ExpectShown(ui, {IDI_PORT_CLOSED, " 串口关闭状态", "打开串口", row.label, row.status});

            ui.setText(IDC_SEND_EDIT, "data");
            ui.click(IDC_SEND_BUTTON);
            ui.click(IDC_AUTO_SEND_CHECK);
            EXPECT_FALSE(ui.checked(IDC_AUTO_SEND_CHECK));
            EXPECT_FALSE(::KillTimer(ui.dialog(), AUTO_SEND_TIMER_ID)) << "the send timer runs";
            ASSERT_EQ(m_boxes->boxes().size(), 2u) << "only the two refusals raise a box";
            for (const Box& box : m_boxes->boxes()) {
                EXPECT_EQ(std::tuple(box.owner, box.text, box.caption, box.style),
                          std::tuple(ui.dialog(), Gbk("串口没有开启，请先打开串口"), "Tavrin", UINT(MB_ICONEXCLAMATION)));
            }
            EXPECT_EQ(ui.status(1), SendCount(0));

            m_boxes->clear();
            if (!device)
                device = StartDevice(options);
            ASSERT_NE(device, nullptr);
            ui.select(IDC_BAUD_COMBO, 6);
            OpenPort(ui);
            ExpectShown(ui, Opened("1.19200.N.8.1"));
            ui.click(IDC_SEND_BUTTON);
            EXPECT_EQ(ui.status(1), SendCount(4));
            E2E_WAIT(device->receivedBytes() == "data", "the device to receive the send");
        });
    }
}

// The defaults open COM1, the device TAVRIN_COM1 names. The lists are read at
// each opening and at no other time: the port list by position picks the
// device, the others give the line settings.
TEST_F(PortStateTest, DefaultsOpenCom1AndListsChangedWhileOpenApplyAtTheNextOpening)
{
    devsim::DeviceSimulator* com1 = StartDevice({});
    devsim::DeviceSimulator* com3 = StartDevice({}, 3);
    ASSERT_TRUE(com1 && com3);
    CTavrinDlg dlg;
    RunDialog(dlg, [&](Ui& ui) {
        ExpectShown(ui, {IDI_PORT_CLOSED, " 串口关闭状态", "打开串口", " 串口关闭状态", "   Tavrin初始化成功"});
        OpenPort(ui);
        DWORD mask = 0;
        EXPECT_TRUE(GetCommMask(dlg.Port().m_hPort, &mask));
        EXPECT_EQ(mask, DWORD{EV_RXCHAR | EV_RXFLAG}) << "the port watches for bytes and the event character";
        for (const auto& [id, index] : {std::pair{IDC_PORT_COMBO, 2}, {IDC_BAUD_COMBO, 7}, {IDC_PARITY_COMBO, 2},
                                        {IDC_DATABITS_COMBO, 1}, {IDC_STOPBITS_COMBO, 1}})
            ui.select(id, index);
        ExpectShown(ui, Opened("1.9600.N.8.1"));
        // The simulator learns of an open from the kernel, a moment later.
        E2E_WAIT(com1->status().opens == 1, "the device behind COM1 to see the open");

        ClosePort(ui);
        ExpectShown(ui, {IDI_PORT_CLOSED, " 串口关闭状态", "打开串口", " 串口关闭状态", " 串口关闭状态,不能进行串口操作"});
        OpenPort(ui);
        // A pseudo-terminal cannot hold parity or 7 data bits; the port layer
        // takes them as not applicable there, so the port opens without a report.
        ExpectShown(ui, Opened("3.38400.E.7.2"));
        DCB dcb{};
        ASSERT_TRUE(GetCommState(dlg.Port().m_hPort, &dcb));
        EXPECT_EQ(std::tuple(dcb.BaudRate, dcb.Parity, dcb.ByteSize, dcb.StopBits),
                  std::tuple(DWORD{38400}, BYTE{EVENPARITY}, BYTE{7}, BYTE{TWOSTOPBITS}));
        E2E_WAIT(com3->status().opens == 1, "the device behind COM3 to see the open");
    });
}

} // namespace
