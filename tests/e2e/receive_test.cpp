// Bytes from a simulated device through the engine into the receive area:
// what the area shows, what the count says, and the display's buttons.
#include <QString>
#include <QTest>
#include <QWidget>

#include <cstdio>
#include <random>
#include <string>

#include "console/texts.h"
#include "framework/afxqt.h"
#include "res/resource.h"
#include "tests/e2e/e2e_support.h"
#include "tools/devsim/gbkline.h"

namespace e2e {
namespace {

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
};

std::string Hex(const std::string& bytes)
{
    std::string text;
    char pair[4];
    for (unsigned char byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02X ", byte);
        text += pair;
    }
    return text;
}

TEST_F(ReceiveTest, TextGbkAndHexadecimalShowAsReceivedAndAreCounted)
{
    RunOpen({}, [&](CTavrinDlg& dlg, Ui& ui, devsim::DeviceSimulator& device) {
        EXPECT_EQ(ui.status(2), RecvCount(0));
        EXPECT_EQ(ui.text(IDC_RECV_EDIT), "");

        Receive(dlg, device, "Hello\r\n");
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_EQ(ui.text(IDC_RECV_EDIT), "Hello\r\n");
        EXPECT_EQ(ui.status(2), RecvCount(7));

        // A Chinese line in code page 936: every byte arrives on its own, and
        // each double-byte character still shows whole.
        const std::string line = std::string(devsim::kGbkTemperatureLine) + "\r\n";
        Receive(dlg, device, line);
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_EQ(ui.text(IDC_RECV_EDIT), "Hello\r\n" + line);
        EXPECT_EQ(ui.text(IDC_RECV_EDIT), "Hello\r\n" + Gbk(QString::fromUtf8("温度 25.0 度\n")));
        EXPECT_EQ(ui.status(2), RecvCount(7 + static_cast<long long>(line.size())));

        // Hexadecimal display applies to bytes from now on; the text shown
        // stays.
        ui.click(IDC_HEX_DISPLAY_CHECK);
        ASSERT_TRUE(ui.checked(IDC_HEX_DISPLAY_CHECK));
        const std::string bytes("\x00\x41\xff\r\n\x7f", 6);
        Receive(dlg, device, bytes);
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_EQ(ui.text(IDC_RECV_EDIT), "Hello\r\n" + line + "00 41 FF 0D 0A 7F ");
        EXPECT_EQ(dlg.RecvData().bytes(), "Hello\r\n" + line + "00 41 FF 0D 0A 7F ");

        // Back to characters: the byte 0 is counted and shows nothing.
        ui.click(IDC_HEX_DISPLAY_CHECK);
        Receive(dlg, device, std::string("A\0B", 3));
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_EQ(ui.text(IDC_RECV_EDIT), "Hello\r\n" + line + "00 41 FF 0D 0A 7F AB");
        EXPECT_EQ(ui.status(2), RecvCount(7 + static_cast<long long>(line.size()) + 6 + 3));
    });
}

TEST_F(ReceiveTest, PauseContinueClearAndResetCount)
{
    RunOpen({}, [&](CTavrinDlg& dlg, Ui& ui, devsim::DeviceSimulator& device) {
        EXPECT_EQ(ui.text(IDC_PAUSE_BUTTON), kTextStopDisplay);
        Receive(dlg, device, "one ");
        ASSERT_FALSE(HasFatalFailure());

        ui.click(IDC_PAUSE_BUTTON);
        EXPECT_EQ(ui.text(IDC_PAUSE_BUTTON), kTextContinueDisplay);
        Receive(dlg, device, "hidden ");
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_EQ(ui.text(IDC_RECV_EDIT), "one ") << "bytes arriving while paused are only counted";
        EXPECT_EQ(ui.status(2), RecvCount(11));

        ui.click(IDC_PAUSE_BUTTON);
        EXPECT_EQ(ui.text(IDC_PAUSE_BUTTON), kTextStopDisplay);
        Receive(dlg, device, "two");
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_EQ(ui.text(IDC_RECV_EDIT), "one two") << "paused bytes never appear later";

        ui.click(IDC_CLEAR_BUTTON);
        EXPECT_EQ(ui.text(IDC_RECV_EDIT), "");
        EXPECT_EQ(ui.status(2), RecvCount(14)) << "clearing keeps the count";

        Receive(dlg, device, "three");
        ASSERT_FALSE(HasFatalFailure());
        ui.click(IDC_RESET_RECV_BUTTON);
        EXPECT_EQ(ui.status(2), RecvCount(0));
        EXPECT_EQ(ui.text(IDC_RECV_EDIT), "three") << "resetting the count keeps the area";
        Receive(dlg, device, "!");
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_EQ(ui.status(2), RecvCount(1));

        // The count and the display go on across closing and reopening.
        ui.closePort();
        ui.openPort();
        SyncLine(ui, device);
        ASSERT_FALSE(HasFatalFailure());
        Receive(dlg, device, "?");
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_EQ(ui.status(2), RecvCount(2));
        EXPECT_EQ(ui.text(IDC_RECV_EDIT), "three!?");
    });
}

TEST_F(ReceiveTest, AreaOfMoreThan400LinesIsReplacedByTheNotice)
{
    RunOpen({}, [&](CTavrinDlg& dlg, Ui& ui, devsim::DeviceSimulator& device) {
        std::string lines;
        for (int i = 0; i < 399; ++i)
            lines += "L\r\n";
        Receive(dlg, device, lines);
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_EQ(ui.recvLineCount(), 400);

        // Exactly 400 lines: the next byte is shown as usual.
        Receive(dlg, device, "M");
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_EQ(ui.text(IDC_RECV_EDIT), lines + "M");
        ASSERT_EQ(ui.recvLineCount(), 400);

        // The last line grows until it wraps into line 401; the byte after the
        // one that started it is shown right after the notice, and the rest
        // follow.
        const std::string run(2000, 'x');
        Receive(dlg, device, run);
        ASSERT_FALSE(HasFatalFailure());
        const std::string notice = kTextLineLimitNotice;
        const std::string data = dlg.RecvData().bytes();
        ASSERT_EQ(data.compare(0, notice.size(), notice), 0) << "the area passed 400 lines without the notice";
        const std::string after = data.substr(notice.size());
        EXPECT_FALSE(after.empty());
        EXPECT_LT(after.size(), run.size());
        EXPECT_EQ(after, std::string(after.size(), 'x'));
        EXPECT_EQ(ui.text(IDC_RECV_EDIT), data);
        EXPECT_EQ(ui.status(2), RecvCount(static_cast<long long>(lines.size() + 1 + run.size())));
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
        const std::string notice = kTextLineLimitNotice;
        const struct {
            const char* name;
            std::string end;
            int lines;              // after 400 line ends
            std::string beforeNotice;  // shown after them on line 401
        } cases[] = {
            {"CR LF", "\r\n", 401, ""},
            {"LF", "\n", 401, ""},
            {"lone CR", "\r", 400, "N"},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            ui.click(IDC_CLEAR_BUTTON);
            std::string lines;
            for (int i = 0; i < 400; ++i)
                lines += "L" + c.end;
            Receive(dlg, device, lines);
            ASSERT_FALSE(HasFatalFailure());
            EXPECT_EQ(ui.recvLineCount(), c.lines);
            EXPECT_EQ(dlg.RecvData().bytes(), lines) << "no notice yet";
            if (!c.beforeNotice.empty()) {
                Receive(dlg, device, c.beforeNotice);
                ASSERT_FALSE(HasFatalFailure());
                EXPECT_EQ(dlg.RecvData().bytes(), lines + c.beforeNotice);
                EXPECT_EQ(ui.recvLineCount(), 401);
            }
            Receive(dlg, device, "X");
            ASSERT_FALSE(HasFatalFailure());
            EXPECT_EQ(dlg.RecvData().bytes(), notice + "X") << "the notice, then the byte, no line break";
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
        QWidget* recv = AfxWidgetFromHandle(ui.item(IDC_RECV_EDIT));
        QWidget* send = AfxWidgetFromHandle(ui.item(IDC_SEND_EDIT));
        ASSERT_NE(recv, nullptr);
        ASSERT_NE(send, nullptr);
        QTest::keyClicks(recv, "typed");
        QTest::keyClick(recv, Qt::Key_Home);
        QTest::keyClick(recv, Qt::Key_Right, Qt::ShiftModifier);
        Receive(dlg, device, " rx");
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_EQ(ui.text(IDC_RECV_EDIT), "typed rx");

        QTest::keyClicks(send, "to go");
        EXPECT_EQ(ui.text(IDC_SEND_EDIT), "to go");
        ui.click(IDC_CLEAR_BUTTON);
        EXPECT_EQ(ui.text(IDC_RECV_EDIT), "");
        EXPECT_EQ(ui.text(IDC_SEND_EDIT), "to go");
        Receive(dlg, device, "next");
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_EQ(ui.text(IDC_RECV_EDIT), "next");
        EXPECT_EQ(ui.text(IDC_SEND_EDIT), "to go");
    });
}

// Random chunks, with the display mode and the pause changed at random between
// them; the area must hold exactly what a reader of the rules would write down.
TEST_F(ReceiveTest, RandomChunksInBothModesShowExactly)
{
    RunOpen({}, [&](CTavrinDlg& dlg, Ui& ui, devsim::DeviceSimulator& device) {
        std::mt19937 random(20240611);
        std::string expected;
        long long total = 0;
        bool hex = false;
        bool paused = false;
        for (int chunk = 0; chunk < 24; ++chunk) {
            if (random() % 3 == 0) {
                ui.click(IDC_HEX_DISPLAY_CHECK);
                hex = !hex;
            }
            if (random() % 5 == 0) {
                ui.click(IDC_PAUSE_BUTTON);
                paused = !paused;
            }
            std::string bytes(1 + random() % 90, '\0');
            for (char& byte : bytes)
                byte = static_cast<char>(random() % 256);
            Receive(dlg, device, bytes);
            ASSERT_FALSE(HasFatalFailure());
            total += static_cast<long long>(bytes.size());
            if (paused)
                continue;
            if (hex) {
                expected += Hex(bytes);
            } else {
                for (char byte : bytes)
                    if (byte != '\0')
                        expected += byte;
            }
        }
        ASSERT_LE(ui.recvLineCount(), 400) << "the data must stay under the line limit for an exact comparison";
        EXPECT_EQ(ui.status(2), RecvCount(total));
        EXPECT_EQ(dlg.RecvData().bytes(), expected);
        // What the area holds, read back through the dialog's data exchange,
        // is the same bytes, stray lead bytes and control bytes included.
        dlg.UpdateData(TRUE);
        EXPECT_EQ(dlg.RecvData().bytes(), expected);
    });
}

// A flood of random bytes in character mode: NULs, control bytes and invalid
// double-byte sequences, well past the line limit. Nothing crashes, every byte
// is counted, and the area holds the notice and then the stream's latest bytes.
TEST_F(ReceiveTest, RandomFloodIsCountedExactlyAndShowsItsTail)
{
    constexpr std::uint64_t kBytes = 40000;
    devsim::Options options;
    options.floodBytes = kBytes;
    options.payload = devsim::Payload::Random;
    options.seed = 7;
    options.startOn = devsim::StartOn::FirstByte;
    RunOpen(options, [&](CTavrinDlg& dlg, Ui& ui, devsim::DeviceSimulator& device) {
        // A generous cap: every byte is a hand-over between two threads, and a
        // loaded machine slows that down a lot.
        const auto arrived = [&] {
            return device.status().trafficDone && dlg.RecvCount() >= static_cast<long long>(kBytes);
        };
        ASSERT_TRUE(WaitUntil(arrived, 60000))
            << "timed out waiting for the flood; counted " << dlg.RecvCount();
        EXPECT_EQ(dlg.RecvCount(), static_cast<long long>(kBytes));
        EXPECT_EQ(ui.status(2), RecvCount(kBytes));

        devsim::PayloadSource source(devsim::Payload::Random, 7);
        std::string shown;
        for (char byte : source.next(kBytes))
            if (byte != '\0')
                shown += byte;
        const std::string data = dlg.RecvData().bytes();
        const std::string notice = kTextLineLimitNotice;
        ASSERT_EQ(data.compare(0, notice.size(), notice), 0) << "40000 random bytes pass 400 lines";
        const std::string tail = data.substr(notice.size());
        ASSERT_FALSE(tail.empty());
        EXPECT_TRUE(shown.ends_with(tail)) << "the area after the notice is not the end of the stream";
        EXPECT_LE(ui.recvLineCount(), 401);

        // The area keeps working after all that: a plain line still shows.
        ui.click(IDC_CLEAR_BUTTON);
        Receive(dlg, device, "\x81\r\nOK\r\n");
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_EQ(dlg.RecvData().bytes(), "\x81\r\nOK\r\n");
    });
}

} // namespace
} // namespace e2e
