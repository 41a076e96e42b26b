// Sends typed into the real dialog, as the bytes a simulated device receives,
// by hand and periodically.
#include <QString>

#include <string>

#include "console/texts.h"
#include "res/resource.h"
#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

class SendTest : public E2ETest {
protected:
    void SetUp() override
    {
        E2ETest::SetUp();
        devsim::Options options;
        options.keepReceived = true;
        m_device = StartDevice(options);
    }

    // Types the text, sets the hexadecimal box, presses send and waits until
    // the device has `expected` more bytes; they must be exactly those.
    void SendAndExpect(Ui& ui, const std::string& text, bool hex, const std::string& expected)
    {
        if (ui.checked(IDC_HEX_SEND_CHECK) != hex)
            ui.click(IDC_HEX_SEND_CHECK);
        ASSERT_EQ(ui.checked(IDC_HEX_SEND_CHECK), hex);
        ui.setText(IDC_SEND_EDIT, text);
        const std::string before = m_device->receivedBytes();
        ui.click(IDC_SEND_BUTTON);
        m_sent += static_cast<long long>(expected.size());
        EXPECT_EQ(ui.status(1), SendCount(m_sent)) << "after sending " << text;
        if (expected.empty()) {
            // A send with nothing in it still wakes the engine; give it a
            // moment, then nothing must have arrived.
            ProcessEventsFor(100);
        } else {
            E2E_WAIT(m_device->received() >= before.size() + expected.size(),
                     "the device to receive " << expected.size() << " bytes of " << text);
        }
        EXPECT_EQ(m_device->receivedBytes(), before + expected) << "sending " << text;
    }

    devsim::DeviceSimulator* m_device = nullptr;
    long long m_sent = 0;
};

TEST_F(SendTest, TextAndHexadecimalSendsReachTheDeviceAsTheirBytes)
{
    ASSERT_NE(m_device, nullptr);
    CTavrinDlg dlg;
    RunDialog(dlg, [&](Ui& ui) {
        ui.openPort();
        ASSERT_TRUE(dlg.IsPortOpen());
        EXPECT_EQ(ui.status(1), SendCount(0));

        SendAndExpect(ui, "AB\r\n", false, "AB\r\n");
        SendAndExpect(ui, "01 02 0A", true, std::string("\x01\x02\x0a", 3));
        SendAndExpect(ui, "abc", true, "\xab");
        SendAndExpect(ui, "12 G0 34", true, "\x12");
        SendAndExpect(ui, "aB Ab", true, "\xab\xab");
        SendAndExpect(ui, "12\r\n34", true, "\x12");
        SendAndExpect(ui, "1 2", true, "");
        // Chinese text goes out as its code page 936 bytes, line breaks as CR LF.
        const std::string chinese = Gbk(QString::fromUtf8("温度 25 度\n湿度"));
        ASSERT_EQ(chinese.size(), 16u);
        SendAndExpect(ui, chinese, false, chinese);
        ASSERT_FALSE(HasFatalFailure());

        // More than the 512 bytes of the engine's buffer goes out whole.
        std::string longText;
        for (int i = 0; longText.size() < 1500; ++i)
            longText += "line " + std::to_string(i) + "\r\n";
        SendAndExpect(ui, longText, false, longText);
        std::string pairs;
        std::string bytes;
        for (int i = 0; i < 700; ++i) {
            const int value = (i * 37) & 0xff;
            char pair[4];
            std::snprintf(pair, sizeof pair, "%02x ", value);
            pairs += pair;
            bytes += static_cast<char>(value);
        }
        SendAndExpect(ui, pairs, true, bytes);
        ASSERT_FALSE(HasFatalFailure());

        ui.click(IDC_RESET_SENT_BUTTON);
        EXPECT_EQ(ui.status(1), SendCount(0));
    });
    EXPECT_EQ(m_boxes->count(), 0u);
}

TEST_F(SendTest, SendingWithThePortClosedShowsTheNoticeAndSendsNothing)
{
    ASSERT_NE(m_device, nullptr);
    CTavrinDlg dlg;
    RunDialog(dlg, [&](Ui& ui) {
        ui.setText(IDC_SEND_EDIT, "data");
        ui.click(IDC_SEND_BUTTON);
        ASSERT_EQ(m_boxes->count(), 1u);
        const Box box = m_boxes->boxes().front();
        EXPECT_EQ(box.owner, ui.dialog());
        EXPECT_EQ(box.text, kTextPortNotOpen);
        EXPECT_EQ(box.caption, kTextMessageCaption);
        EXPECT_EQ(box.style, static_cast<UINT>(MB_ICONEXCLAMATION));
        EXPECT_EQ(ui.status(1), SendCount(0));

        // Checking the automatic send with the port closed undoes the check.
        ui.click(IDC_AUTO_SEND_CHECK);
        EXPECT_FALSE(ui.checked(IDC_AUTO_SEND_CHECK));
        EXPECT_EQ(m_boxes->count(), 2u);
        ProcessEventsFor(100);
        EXPECT_EQ(m_boxes->count(), 2u) << "no timer may run";
    });
    EXPECT_EQ(m_device->received(), 0u);
}

TEST_F(SendTest, PeriodicSendingTicksAndStopsWhenThePortCloses)
{
    ASSERT_NE(m_device, nullptr);
    CTavrinDlg dlg;
    RunDialog(dlg, [&](Ui& ui) {
        ui.openPort();
        ui.setText(IDC_SEND_EDIT, "T");
        ui.setText(IDC_PERIOD_EDIT, "20");
        ui.click(IDC_AUTO_SEND_CHECK);
        ASSERT_TRUE(ui.checked(IDC_AUTO_SEND_CHECK));
        E2E_WAIT(m_device->received() >= 3, "three ticks of a 20 ms period");
        // Each write purges what the device has not read yet, so a tick may
        // be lost on a busy machine, but nothing but whole sends arrives.
        EXPECT_EQ(m_device->receivedBytes(), std::string(m_device->received(), 'T'));
        EXPECT_GE(dlg.SendCount(), 3);

        // The send text is read afresh at every tick.
        ui.setText(IDC_SEND_EDIT, "U");
        const std::uint64_t before = m_device->received();
        E2E_WAIT(m_device->receivedBytes().find('U', before) != std::string::npos, "a tick with the new text");

        ui.closePort();
        EXPECT_FALSE(ui.checked(IDC_AUTO_SEND_CHECK));
        ProcessEventsFor(50);
        const long long sent = dlg.SendCount();
        const std::string shown = ui.status(1);
        ProcessEventsFor(200);
        EXPECT_EQ(dlg.SendCount(), sent) << "ticks went on after the port was closed";
        EXPECT_EQ(ui.status(1), shown);
        EXPECT_EQ(ui.status(1), SendCount(sent));
    });
    EXPECT_EQ(m_boxes->count(), 0u);
}

} // namespace
} // namespace e2e
