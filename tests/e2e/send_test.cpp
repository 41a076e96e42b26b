// Sends typed into the real dialog, as the bytes a simulated device receives,
// by hand and periodically.
#include <cstdio>

#include "tests/e2e/e2e_support.h"

namespace {

using namespace e2e;

class SendTest : public E2ETest {};

TEST_F(SendTest, TextAndHexadecimalSendsReachTheDeviceAsTheirBytes)
{
    // Chinese text goes out as its code page 936 bytes.
    const std::string chinese = Gbk("温度 25 度\r\n湿度");
    ASSERT_EQ(chinese.size(), 16u);
    // More than the 512 bytes of the engine's buffer goes out whole.
    std::string lines;
    std::string pairs;
    std::string pairBytes;
    for (int i = 0; i < 700; ++i) {
        lines += "line " + std::to_string(i) + "\r\n";
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02x ", (i * 37) & 0xff);
        pairs += pair;
        pairBytes += static_cast<char>((i * 37) & 0xff);
    }
    const struct { std::string text; bool hex; std::string bytes; } rows[] = {
        {"AB\r\n", false, "AB\r\n"},
        // How hexadecimal text reads is the console suite's to check.
        {"01 02 0A", true, std::string("\x01\x02\x0a", 3)},
        {"1 2", true, ""},  // a send with nothing in it: what the next row sends comes right after
        {chinese, false, chinese},
        {lines, false, lines},
        {pairs, true, pairBytes},
    };

    RunOpen({.keepReceived = true}, [&](CTavrinDlg&, Ui& ui, devsim::DeviceSimulator& device) {
        std::string sent;
        for (const auto& row : rows) {
            SCOPED_TRACE(row.text.substr(0, 20));
            if (ui.checked(IDC_HEX_SEND_CHECK) != row.hex)
                ui.click(IDC_HEX_SEND_CHECK);
            ui.setText(IDC_SEND_EDIT, row.text);
            ui.click(IDC_SEND_BUTTON);
            sent += row.bytes;
            EXPECT_EQ(ui.status(1), SendCount(static_cast<long long>(sent.size())));
            E2E_WAIT(device.received() >= sent.size(), "the device to receive " << sent.size() << " bytes");
            EXPECT_EQ(device.receivedBytes(), sent);
        }
        ui.click(IDC_RESET_SENT_BUTTON);
        EXPECT_EQ(ui.status(1), SendCount(0));
    });
}

TEST_F(SendTest, PeriodicSendingTicksAndStopsWhenThePortCloses)
{
    RunOpen({.keepReceived = true}, [&](CTavrinDlg& dlg, Ui& ui, devsim::DeviceSimulator& device) {
        ui.setText(IDC_SEND_EDIT, "T");
        ui.setText(IDC_PERIOD_EDIT, "20");
        ui.click(IDC_AUTO_SEND_CHECK);
        E2E_WAIT(device.received() >= 3, "three ticks of a 20 ms period");
        // A tick whose data the engine has not taken up yet when the next
        // comes is replaced by it, so on a busy machine the device may get
        // fewer sends than were counted, but only whole ones.
        EXPECT_EQ(device.receivedBytes(), std::string(device.received(), 'T'));
        EXPECT_GE(dlg.SendCount(), 3);

        // The send text is read afresh at every tick.
        ui.setText(IDC_SEND_EDIT, "U");
        const std::uint64_t before = device.received();
        E2E_WAIT(device.receivedBytes().find('U', before) != std::string::npos, "a tick with the new text");

        ClosePort(ui);
        EXPECT_FALSE(ui.checked(IDC_AUTO_SEND_CHECK));
        EXPECT_FALSE(::KillTimer(ui.dialog(), AUTO_SEND_TIMER_ID)) << "the send timer outlived the port";
    });
}

} // namespace
