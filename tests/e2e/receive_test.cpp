// Bytes from a simulated device through the engine into the receive area:
// what the area shows, what the count says, what assistive tools are told,
// and the display's buttons.
#include <QAccessible>
#include <QTest>
#include <QWidget>

#include <algorithm>

#include "tests/e2e/e2e_support.h"
#include "tests/support/accessible.h"
#include "tools/devsim/gbkline.h"

namespace {

using namespace e2e;

class ReceiveTest : public E2ETest {
protected:
    // Sends bytes from the device and waits until the dialog has counted them.
    static void Receive(CTavrinDlg& dlg, devsim::DeviceSimulator& device, const std::string& bytes)
    {
        const long long target = dlg.RecvCount() + static_cast<long long>(bytes.size());
        device.send(bytes);
        E2E_WAIT(dlg.RecvCount() >= target, "the dialog to count " << target << " bytes, it has " << dlg.RecvCount());
        EXPECT_EQ(dlg.RecvCount(), target);
    }

    static inline const std::string kNotice = Gbk("--------数据过长，影响显示灵敏度，数据已经清空，请见量--------");
};

TEST_F(ReceiveTest, TextGbkAndHexadecimalShowAsReceivedAndAreCounted)
{
    RunOpen({}, [&](CTavrinDlg& dlg, Ui& ui, devsim::DeviceSimulator& device) {
        // A Chinese line in code page 936: every byte arrives on its own, and
        // each double-byte character still shows whole.
        const std::string line = std::string(devsim::kGbkTemperatureLine) + "\r\n";
        Receive(dlg, device, "Hello\r\n" + line);
        EXPECT_EQ(ui.text(IDC_RECV_EDIT), "Hello\r\n" + line);

        // Hexadecimal display applies to bytes from now on; the text shown stays.
        ui.click(IDC_HEX_DISPLAY_CHECK);
        Receive(dlg, device, std::string("\x00\x41\xff\r\n\x7f", 6));
        EXPECT_EQ(ui.text(IDC_RECV_EDIT), "Hello\r\n" + line + "00 41 FF 0D 0A 7F ");

        // Back to characters: the byte 0 is counted and shows nothing.
        ui.click(IDC_HEX_DISPLAY_CHECK);
        Receive(dlg, device, std::string("A\0B", 3));
        EXPECT_EQ(ui.text(IDC_RECV_EDIT), "Hello\r\n" + line + "00 41 FF 0D 0A 7F AB");
        EXPECT_EQ(dlg.RecvData().bytes(), ui.text(IDC_RECV_EDIT));
        EXPECT_EQ(ui.status(2), RecvCount(7 + static_cast<long long>(line.size()) + 6 + 3));
    });
}

// The count in the status bar and the receive area tell assistive tools what
// arrives: the count's new name, and the area's text as insertions.
TEST_F(ReceiveTest, TheCountAndTheAreaTellAssistiveToolsWhatArrives)
{
    RunOpen({}, [&](CTavrinDlg& dlg, Ui& ui, devsim::DeviceSimulator& device) {
        QAccessibleInterface* count = QAccessible::queryAccessibleInterface(ui.widget(0))->child(2);
        QAccessibleTextInterface* text = QAccessible::queryAccessibleInterface(ui.widget(IDC_RECV_EDIT))->textInterface();
        ASSERT_TRUE(count && text);

        testsupport::AccessibilityLog log;
        const std::string bytes = "Hello\r\n" + std::string(devsim::kGbkTemperatureLine) + "\r\n";
        Receive(dlg, device, bytes);
        EXPECT_EQ(Gbk(count->text(QAccessible::Name).toStdString()), RecvCount(static_cast<long long>(bytes.size())));
        const std::string toldCount = "name " + count->text(QAccessible::Name).toStdString();
        E2E_WAIT(std::ranges::find(log.told, toldCount) != log.told.end(), "the count to be told");
        const QString shown = QString::fromUtf8("Hello\n温度 25.0 度\n");
        EXPECT_EQ(text->text(0, text->characterCount()), shown);
        EXPECT_EQ(text->cursorPosition(), shown.size());
        const auto inserted = [&] {
            std::string all;
            for (const std::string& line : log.told)
                all += line.starts_with("insert ") ? line.substr(line.find(' ', 7) + 1) : "";
            return all;
        };
        E2E_WAIT(inserted() == shown.toStdString(), "the insertions to be told; so far: " << inserted());
    });
}

TEST_F(ReceiveTest, PauseContinueClearAndResetCount)
{
    RunOpen({}, [&](CTavrinDlg& dlg, Ui& ui, devsim::DeviceSimulator& device) {
        Receive(dlg, device, "one ");
        ui.click(IDC_PAUSE_BUTTON);
        EXPECT_EQ(ui.text(IDC_PAUSE_BUTTON), Gbk("继续显示"));
        Receive(dlg, device, "hidden ");
        EXPECT_EQ(ui.text(IDC_RECV_EDIT), "one ") << "bytes arriving while paused are only counted";
        EXPECT_EQ(ui.status(2), RecvCount(11));

        ui.click(IDC_PAUSE_BUTTON);
        EXPECT_EQ(ui.text(IDC_PAUSE_BUTTON), Gbk("停止显示"));
        Receive(dlg, device, "two");
        EXPECT_EQ(ui.text(IDC_RECV_EDIT), "one two") << "paused bytes never appear later";

        ui.click(IDC_CLEAR_BUTTON);
        EXPECT_EQ(ui.text(IDC_RECV_EDIT), "");
        EXPECT_EQ(ui.status(2), RecvCount(14)) << "clearing keeps the count";

        Receive(dlg, device, "three");
        ui.click(IDC_RESET_RECV_BUTTON);
        EXPECT_EQ(ui.status(2), RecvCount(0));
        EXPECT_EQ(ui.text(IDC_RECV_EDIT), "three") << "resetting the count keeps the area";
    });
}

// A line end counts once, and only when it is known: a CR is a line end once
// the byte after it shows it is no CR LF. So after the 400th CR LF or LF the
// area holds 401 lines and no notice, and the next byte comes after the
// notice; after the 400th lone CR the area holds 400 lines, the next byte
// opens line 401, and the one after it comes after the notice.
TEST_F(ReceiveTest, LineEndsAtTheLimitCountOnceWhenTheyAreKnown)
{
    RunOpen({}, [&](CTavrinDlg& dlg, Ui& ui, devsim::DeviceSimulator& device) {
        const struct {
            const char* end;
            int lines;                 // after 400 line ends
            std::string beforeNotice;  // shown after them on line 401
        } cases[] = {{"\r\n", 401, ""}, {"\n", 401, ""}, {"\r", 400, "N"}};
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::PrintToString(c.end));
            ui.click(IDC_CLEAR_BUTTON);
            std::string lines;
            for (int i = 0; i < 400; ++i)
                lines += std::string("L") + c.end;
            Receive(dlg, device, lines);
            EXPECT_EQ(ui.lineCount(IDC_RECV_EDIT), c.lines);
            if (!c.beforeNotice.empty()) {
                Receive(dlg, device, c.beforeNotice);
                EXPECT_EQ(ui.lineCount(IDC_RECV_EDIT), 401);
            }
            EXPECT_EQ(dlg.RecvData().bytes(), lines + c.beforeNotice) << "no notice yet";
            Receive(dlg, device, "X");
            EXPECT_EQ(dlg.RecvData().bytes(), kNotice + "X") << "the notice, then the byte, no line break";
            EXPECT_EQ(ui.text(IDC_RECV_EDIT), dlg.RecvData().bytes());
        }
    });
}

// What the user types stays: text typed into the receive area is followed by
// the received bytes at its very end, whatever is selected, and the send text
// typed meanwhile survives the clearing of the receive area, which writes the
// dialog's copy of it back into the send edit.
TEST_F(ReceiveTest, TypedTextStaysAndBytesGoToTheEnd)
{
    RunOpen({}, [&](CTavrinDlg& dlg, Ui& ui, devsim::DeviceSimulator& device) {
        QWidget* recv = ui.widget(IDC_RECV_EDIT);
        QTest::keyClicks(recv, "typed");
        QTest::keyClick(recv, Qt::Key_Home);
        QTest::keyClick(recv, Qt::Key_Right, Qt::ShiftModifier);
        Receive(dlg, device, " rx");
        EXPECT_EQ(ui.text(IDC_RECV_EDIT), "typed rx");

        QTest::keyClicks(ui.widget(IDC_SEND_EDIT), "to go");
        ui.click(IDC_CLEAR_BUTTON);
        Receive(dlg, device, "next");
        EXPECT_EQ(ui.text(IDC_RECV_EDIT), "next");
        EXPECT_EQ(ui.text(IDC_SEND_EDIT), "to go");
    });
}

// A flood of random bytes in character mode: NULs, control bytes and invalid
// double-byte sequences, well past the line limit (which its wrapped lines
// reach: it has too few line ends). Nothing crashes, every byte is counted,
// the area holds the notice and then the stream's latest bytes, and reads back
// as those bytes, stray lead bytes included.
TEST_F(ReceiveTest, RandomFloodIsCountedExactlyAndShowsItsTail)
{
    constexpr std::uint64_t kBytes = 40000;
    const devsim::Options options{
        .floodBytes = kBytes, .payload = devsim::Payload::Random, .seed = 7, .startOn = devsim::StartOn::FirstByte};
    RunOpen(options, [&](CTavrinDlg& dlg, Ui& ui, devsim::DeviceSimulator& device) {
        StartTraffic(ui, device);
        // A generous cap: every byte is a hand-over between two threads, and a
        // loaded machine slows that down a lot.
        const auto arrived = [&] {
            return device.status().trafficDone && dlg.RecvCount() >= static_cast<long long>(kBytes);
        };
        ASSERT_TRUE(WaitUntil(arrived, 60000)) << "timed out waiting for the flood; counted " << dlg.RecvCount();
        EXPECT_EQ(ui.status(2), RecvCount(kBytes));

        std::string shown = devsim::PayloadSource(devsim::Payload::Random, 7).next(kBytes);
        std::erase(shown, '\0');
        const std::string data = dlg.RecvData().bytes();
        ASSERT_EQ(data.compare(0, kNotice.size(), kNotice), 0) << "40000 random bytes pass 400 lines";
        const std::string tail = data.substr(kNotice.size());
        ASSERT_FALSE(tail.empty());
        EXPECT_TRUE(shown.ends_with(tail)) << "the area after the notice is not the end of the stream";
        EXPECT_EQ(ui.text(IDC_RECV_EDIT), data);
        EXPECT_LE(ui.lineCount(IDC_RECV_EDIT), 401);

        // The area keeps working after all that: a plain line still shows.
        ui.click(IDC_CLEAR_BUTTON);
        Receive(dlg, device, "\x81\r\nOK\r\n");
        EXPECT_EQ(ui.text(IDC_RECV_EDIT), "\x81\r\nOK\r\n");
    });
}

} // namespace
