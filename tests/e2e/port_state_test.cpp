// Opening and closing the port through the real dialog, against a simulated
// device and against a path where no device is.
#include <QAccessible>
#include <QComboBox>

#include "console/texts.h"
#include "framework/afxqt.h"
#include "res/resource.h"
#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

class PortStateTest : public E2ETest {};

HICON Icon(UINT id)
{
    return ::LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCE(id));
}

// What the lamp says to assistive tools, in UTF-8.
std::string LampSays(const Ui& ui)
{
    QAccessibleInterface* lamp = QAccessible::queryAccessibleInterface(AfxWidgetFromHandle(ui.item(IDC_PORT_LAMP)));
    return lamp ? lamp->text(QAccessible::Name).toStdString() : "<not readable>";
}

void ExpectClosedByClosing(const Ui& ui)
{
    EXPECT_EQ(ui.lamp(), Icon(IDI_PORT_CLOSED));
    EXPECT_EQ(LampSays(ui), " 串口关闭状态");
    EXPECT_EQ(ui.text(IDC_OPEN_BUTTON), kTextOpenPort);
    EXPECT_EQ(ui.text(IDC_PORT_STATE_TEXT), kTextPortClosed);
    EXPECT_EQ(ui.status(0), kTextPortClosedStatus);
}

TEST_F(PortStateTest, DefaultsOpenCom1AndEveryIndicatorShowsIt)
{
    devsim::DeviceSimulator* device = StartDevice({});
    ASSERT_NE(device, nullptr);
    CTavrinDlg dlg;
    RunDialog(dlg, [&](Ui& ui) {
        ASSERT_NE(Icon(IDI_MAINFRAME), nullptr);
        ASSERT_NE(Icon(IDI_PORT_CLOSED), nullptr);
        EXPECT_EQ(ui.lamp(), Icon(IDI_PORT_CLOSED));
        EXPECT_EQ(LampSays(ui), " 串口关闭状态");
        EXPECT_EQ(ui.status(0), kTextStatusInit);

        ui.openPort();
        EXPECT_TRUE(dlg.IsPortOpen());
        EXPECT_EQ(ui.lamp(), Icon(IDI_MAINFRAME));
        EXPECT_EQ(LampSays(ui), " 串口开启状态  Com1.9600.N.8.1");
        EXPECT_EQ(ui.text(IDC_OPEN_BUTTON), kTextClosePort);
        EXPECT_EQ(ui.text(IDC_PORT_STATE_TEXT), "Com1.9600.N.8.1");
        EXPECT_EQ(ui.status(0), std::string(kTextPortOpenStatus) + "1.9600.N.8.1");
        // The simulator learns of the open from the kernel, a moment later.
        E2E_WAIT(device->status().opens >= 1, "the device to see the open");
        EXPECT_EQ(device->status().opens, 1u) << "COM1 opens the device TAVRIN_COM1 names";

        ui.closePort();
        EXPECT_FALSE(dlg.IsPortOpen());
        ExpectClosedByClosing(ui);
    });
    EXPECT_EQ(m_boxes->count(), 0u) << "a healthy device raises no box";
}

TEST_F(PortStateTest, MissingDeviceShowsFailureWithoutBoxAndNextPressTriesAgain)
{
    PointCom1AtNothing();
    ASSERT_FALSE(HasFatalFailure());
    CTavrinDlg dlg;
    RunDialog(dlg, [&](Ui& ui) {
        ui.click(IDC_OPEN_BUTTON);
        EXPECT_FALSE(dlg.IsPortOpen());
        EXPECT_EQ(ui.lamp(), Icon(IDI_PORT_CLOSED));
        EXPECT_EQ(LampSays(ui), " 串口关闭状态");
        EXPECT_EQ(ui.text(IDC_OPEN_BUTTON), kTextOpenPort);
        EXPECT_EQ(ui.text(IDC_PORT_STATE_TEXT), kTextPortOpenFailed);
        EXPECT_EQ(ui.status(0), kTextPortOpenFailedStatus);
        EXPECT_EQ(m_boxes->count(), 0u) << "a device that cannot be opened is shown in the window only";

        // The device appears: the same button now opens it, with the lists as
        // they are at this press (COM1 at 19200).
        devsim::DeviceSimulator* device = StartDevice({});
        ASSERT_NE(device, nullptr);
        auto* baud = qobject_cast<QComboBox*>(AfxWidgetFromHandle(ui.item(IDC_BAUD_COMBO)));
        ASSERT_NE(baud, nullptr);
        baud->setCurrentIndex(6);
        ui.openPort();
        EXPECT_TRUE(dlg.IsPortOpen());
        EXPECT_EQ(ui.text(IDC_PORT_STATE_TEXT), "Com1.19200.N.8.1");
        EXPECT_EQ(ui.lamp(), Icon(IDI_MAINFRAME));
    });
    EXPECT_EQ(m_boxes->count(), 0u);
}

TEST_F(PortStateTest, SettingsChangedWhileOpenApplyAtTheNextOpening)
{
    devsim::DeviceSimulator* device = StartDevice({});
    ASSERT_NE(device, nullptr);
    CTavrinDlg dlg;
    RunDialog(dlg, [&](Ui& ui) {
        ui.openPort();
        auto select = [&](int id, int index) {
            auto* list = qobject_cast<QComboBox*>(AfxWidgetFromHandle(ui.item(id)));
            ASSERT_NE(list, nullptr) << "list " << id;
            list->setCurrentIndex(index);
        };
        select(IDC_BAUD_COMBO, 7);
        select(IDC_PARITY_COMBO, 2);
        select(IDC_DATABITS_COMBO, 1);
        select(IDC_STOPBITS_COMBO, 1);
        EXPECT_EQ(ui.text(IDC_PORT_STATE_TEXT), "Com1.9600.N.8.1");

        ui.closePort();
        ExpectClosedByClosing(ui);
        ui.openPort();
        // A pseudo-terminal refuses parity and 7 data bits; the port layer
        // treats that as not applicable to a line without a UART, so the port
        // opens without a report.
        EXPECT_TRUE(dlg.IsPortOpen());
        EXPECT_EQ(ui.text(IDC_PORT_STATE_TEXT), "Com1.38400.E.7.2");
        EXPECT_EQ(ui.status(0), std::string(kTextPortOpenStatus) + "1.38400.E.7.2");
        E2E_WAIT(device->status().opens >= 2, "the device to see the second open");
        EXPECT_EQ(device->status().opens, 2u);
    });
    EXPECT_EQ(m_boxes->count(), 0u);
}

// Without its monitor thread the engine holds the port but nothing would
// write: sends are refused as with the port closed, and not counted.
TEST_F(PortStateTest, AfterAFailedThreadStartNothingIsSentOrCounted)
{
    devsim::Options options;
    options.keepReceived = true;
    devsim::DeviceSimulator* device = StartDevice(options);
    ASSERT_NE(device, nullptr);
    CTavrinDlg dlg;
    RunDialog(dlg, [&](Ui& ui) {
        AfxSetThreadCreationHook([] { return false; });
        ui.click(IDC_OPEN_BUTTON);
        AfxSetThreadCreationHook(nullptr);
        EXPECT_FALSE(dlg.IsPortOpen());
        EXPECT_EQ(ui.text(IDC_PORT_STATE_TEXT), kTextThreadFailed);

        ui.setText(IDC_SEND_EDIT, "data");
        ui.click(IDC_SEND_BUTTON);
        ui.click(IDC_AUTO_SEND_CHECK);
        EXPECT_FALSE(ui.checked(IDC_AUTO_SEND_CHECK));
        ASSERT_EQ(m_boxes->count(), 2u);
        for (const Box& box : m_boxes->boxes())
            EXPECT_EQ(box.text, kTextPortNotOpen);
        EXPECT_EQ(dlg.SendCount(), 0);
        EXPECT_EQ(ui.status(1), SendCount(0));

        // The next press opens fully, and the same send goes out.
        m_boxes->clear();
        ui.click(IDC_OPEN_BUTTON);
        ASSERT_TRUE(dlg.IsPortOpen());
        ui.click(IDC_SEND_BUTTON);
        EXPECT_EQ(dlg.SendCount(), 4);
        E2E_WAIT(device->receivedBytes() == "data", "the device to receive the send");
    });
    EXPECT_EQ(m_boxes->count(), 0u);
}

} // namespace
} // namespace e2e
