// The ends of a session under traffic: the dialog closed while a stream
// arrives, the device unplugged while the port is open, and a device that
// does not read while a long send is under way. A step that hangs fails the
// suite by its time limit.
#include <QTest>

#include "tests/e2e/e2e_support.h"
#include "tests/platform/pty.h"

namespace {

using namespace e2e;

class LifecycleTest : public E2ETest {};

// Closing the program while the monitor thread is handing bytes over must end:
// the window goes, the engine's stop is seen, the thread's pending sends to the
// dead window fail, and the engine's destruction waits for the thread's end.
// So must closing the port first and then the dialog, with Escape, while the
// last bytes may still be handed over; once the monitor thread has ended, no
// byte comes any more.
TEST_F(LifecycleTest, ClosingDuringAStreamEnds)
{
    const struct {
        devsim::Payload payload;
        bool closePortFirst;
        INT_PTR result;
    } rows[] = {{devsim::Payload::Pattern, false, IDOK}, {devsim::Payload::Text, true, IDCANCEL}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.closePortFirst ? "the port, then Escape" : "the close button");
        // Far more bytes than the test waits for.
        const devsim::Options flood{
            .floodBytes = 1ull << 32, .payload = row.payload, .startOn = devsim::StartOn::FirstByte};
        const INT_PTR result = RunOpen(flood, [&](CTavrinDlg& dlg, Ui& ui, devsim::DeviceSimulator& device) {
            StartTraffic(ui, device);
            E2E_WAIT(dlg.RecvCount() > 5000, "the flood to be under way");
            if (!row.closePortFirst) {
                ui.click(IDC_EXIT_BUTTON);
                return;
            }
            ClosePort(ui);
            E2E_WAIT(!dlg.Port().m_bMonitorRunning && dlg.Port().m_hPort.load() == nullptr,
                     "the monitor thread to close the port and end");
            const long long counted = dlg.RecvCount();
            QCoreApplication::processEvents();
            EXPECT_EQ(dlg.RecvCount(), counted) << "bytes were delivered after the monitor thread ended";
            QTest::keyClick(ui.widget(IDC_PORT_COMBO), Qt::Key_Escape);
        });
        EXPECT_EQ(result, row.result);
    }
}

// The device goes away while the port is open: the engine reports it (that
// it then waits quietly is the engine suite's to check); the window keeps
// answering, closing works, and a new device opens and receives.
TEST_F(LifecycleTest, AnUnpluggedDeviceIsReportedAndAReopenWorks)
{
    RunOpen({}, [&](CTavrinDlg& dlg, Ui& ui, devsim::DeviceSimulator& first) {
        first.send("before\r\n");
        E2E_WAIT(dlg.RecvCount() == 8, "the bytes sent before the unplug");

        first.hangUp();
        // The report, ownerless, in its words, is the engine suite's to check.
        E2E_WAIT(m_boxes->boxes().size() >= 1, "a report of the failing port");
        ClosePort(ui);
        E2E_WAIT(dlg.Port().m_hPort.load() == nullptr, "the engine to let go of the dead port");
        m_boxes->clear();
        devsim::DeviceSimulator* second = StartDevice({});
        ASSERT_NE(second, nullptr);
        OpenPort(ui);
        EXPECT_EQ(ui.text(IDC_PORT_STATE_TEXT), "Com1.9600.N.8.1");
        second->send("after\r\n");
        E2E_WAIT(dlg.RecvCount() == 8 + 7, "the bytes of the new device");
        EXPECT_EQ(ui.status(2), RecvCount(8 + 7));
        EXPECT_EQ(ui.text(IDC_RECV_EDIT), "before\r\nafter\r\n");
    });
}

// Sends 200,000 bytes that a device that does not read leaves under way.
void SendBlocked(Ui& ui, const CTavrinDlg& dlg)
{
    ui.setText(IDC_SEND_EDIT, Pattern(200000));
    ui.click(IDC_SEND_BUTTON);
    COMSTAT stat{};
    E2E_WAIT(ClearCommError(dlg.Port().m_hPort, nullptr, &stat) && stat.cbOutQue > 0,
             "the device to stop taking the send");
}

// A device that does not read holds nothing up: closing the port lets go of
// the line, opening again right after a close goes ahead, and closing the
// program ends, each while a long send is under way; the abort of that send
// is no failure, so no box comes up.
TEST_F(LifecycleTest, ASendTheDeviceDoesNotTakeHoldsUpNeitherCloseNorReopenNorExit)
{
    std::string line;
    RunOpen({.stalled = true}, [&](CTavrinDlg& dlg, Ui& ui, devsim::DeviceSimulator& device) {
        line = device.slavePath();
        SendBlocked(ui, dlg);
        ClosePort(ui);
        E2E_WAIT(!dlg.Port().m_bMonitorRunning, "the engine to let go of the port");
        EXPECT_FALSE(LineLocked(line)) << "a new Tavrin could not open the port";

        OpenPort(ui);
        SendBlocked(ui, dlg);
        // Closed and opened again at once: the opening waits for the thread
        // that is still writing.
        ClosePort(ui);
        OpenPort(ui);
        EXPECT_EQ(ui.text(IDC_PORT_STATE_TEXT), "Com1.9600.N.8.1");
        SendBlocked(ui, dlg);
        EXPECT_EQ(dlg.SendCount(), 3 * 200000);
    });
    EXPECT_FALSE(LineLocked(line)) << "the line outlived the program";
}

} // namespace
