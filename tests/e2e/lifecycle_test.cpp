// The ends of a session under traffic: the dialog closed while a stream
// arrives, and the device unplugged while the port is open.
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

#include "console/texts.h"
#include "platform/faults.h"
#include "res/resource.h"
#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

class LifecycleTest : public E2ETest {};

// Closing the program while the monitor thread is handing bytes over must end:
// the window goes, the engine's stop is seen, the thread's pending sends to the
// dead window fail, and the engine's destruction waits for the thread's end.
TEST_F(LifecycleTest, ClosingTheDialogWhileAStreamArrivesEnds)
{
    devsim::Options options;
    options.floodBytes = 1ull << 32;  // far more than the test waits for
    options.payload = devsim::Payload::Pattern;
    options.startOn = devsim::StartOn::FirstByte;
    devsim::DeviceSimulator* device = StartDevice(options);
    ASSERT_NE(device, nullptr);
    Watchdog watchdog("closing the dialog during a flood", 60);
    INT_PTR result = 0;
    {
        CTavrinDlg dlg;
        result = RunDialog(dlg, [&](Ui& ui) {
            ui.openPort();
            SyncLine(ui, *device);
            ASSERT_FALSE(HasFatalFailure());
            E2E_WAIT(dlg.RecvCount() > 5000, "the flood to be under way");
            ui.click(IDC_EXIT_BUTTON);
        });
    }
    EXPECT_EQ(result, IDOK) << "the close button ends the dialog with IDOK";
    EXPECT_EQ(m_boxes->count(), 0u);
}

// The same with the port toggled closed first and the dialog closed with
// Escape's IDCANCEL while the last bytes may still be handed over.
TEST_F(LifecycleTest, ClosingThePortAndThenTheDialogDuringAStreamEnds)
{
    devsim::Options options;
    options.floodBytes = 1ull << 32;
    options.payload = devsim::Payload::Text;
    options.startOn = devsim::StartOn::FirstByte;
    devsim::DeviceSimulator* device = StartDevice(options);
    ASSERT_NE(device, nullptr);
    Watchdog watchdog("closing the port and the dialog during a flood", 60);
    {
        CTavrinDlg dlg;
        const INT_PTR result = RunDialog(dlg, [&](Ui& ui) {
            ui.openPort();
            SyncLine(ui, *device);
            ASSERT_FALSE(HasFatalFailure());
            E2E_WAIT(dlg.RecvCount() > 2000, "the flood to be under way");
            ui.closePort();
            EXPECT_EQ(ui.text(IDC_OPEN_BUTTON), kTextOpenPort);
            // The monitor thread ends by itself and lets go of the handle.
            E2E_WAIT(dlg.Port().m_hPort.load() == nullptr, "the engine to close the port after the stop");
            const long long counted = dlg.RecvCount();
            ProcessEventsFor(100);
            EXPECT_EQ(dlg.RecvCount(), counted) << "bytes were delivered after the monitor thread ended";
        });
        EXPECT_EQ(result, IDCANCEL);
    }
    EXPECT_EQ(m_boxes->count(), 0u);
}

// The device goes away while the port is open: the engine reports what fails
// in its ownerless boxes and then waits quietly; the window keeps answering,
// closing works, and a new device opens and receives.
TEST_F(LifecycleTest, UnpluggedDeviceIsReportedWithoutSpinningAndAReopenWorks)
{
    devsim::DeviceSimulator* first = StartDevice({});
    ASSERT_NE(first, nullptr);
    Watchdog watchdog("unplugging and reopening", 60);
    CTavrinDlg dlg;
    RunDialog(dlg, [&](Ui& ui) {
        ui.openPort();
        SyncLine(ui, *first);
        ASSERT_FALSE(HasFatalFailure());
        first->send("before\r\n");
        E2E_WAIT(dlg.RecvCount() == 8, "the bytes sent before the unplug");

        first->hangUp();
        E2E_WAIT(m_boxes->count() >= 1, "a report of the failing port");
        // Give a spinning monitor thread time to show itself, then demand
        // silence: no further boxes, and the port layer's reader asleep.
        ProcessEventsFor(300);
        const size_t boxes = m_boxes->count();
        const std::uint64_t wakeups = platform::faults::PortWakeups();
        ProcessEventsFor(300);
        EXPECT_EQ(m_boxes->count(), boxes) << "the engine keeps reporting: it loops on the dead device";
        EXPECT_EQ(platform::faults::PortWakeups(), wakeups) << "the port layer keeps waking for a device that is gone";
        for (const Box& box : m_boxes->boxes()) {
            EXPECT_EQ(box.owner, nullptr);
            EXPECT_EQ(box.caption, "Application Error");
            EXPECT_EQ(box.text.rfind("WARNING:  ", 0), 0u) << box.text;
            EXPECT_NE(box.text.find("Port: 1\n"), std::string::npos) << box.text;
            EXPECT_EQ(box.style & MB_ICONERROR, static_cast<UINT>(MB_ICONERROR));
        }
        EXPECT_EQ(dlg.RecvCount(), 8) << "a dead device delivers no bytes";

        // The window still answers.
        ui.click(IDC_PAUSE_BUTTON);
        EXPECT_EQ(ui.text(IDC_PAUSE_BUTTON), kTextContinueDisplay);
        ui.click(IDC_PAUSE_BUTTON);
        EXPECT_EQ(ui.text(IDC_PAUSE_BUTTON), kTextStopDisplay);

        ui.closePort();
        EXPECT_EQ(ui.text(IDC_PORT_STATE_TEXT), kTextPortClosed);
        E2E_WAIT(dlg.Port().m_hPort.load() == nullptr, "the engine to let go of the dead port");

        // A new device on COM1: the port opens again and bytes flow.
        m_boxes->clear();
        devsim::DeviceSimulator* second = StartDevice({});
        ASSERT_NE(second, nullptr);
        ui.openPort();
        ASSERT_TRUE(dlg.IsPortOpen());
        EXPECT_EQ(ui.text(IDC_PORT_STATE_TEXT), "Com1.9600.N.8.1");
        SyncLine(ui, *second);
        ASSERT_FALSE(HasFatalFailure());
        second->send("after\r\n");
        E2E_WAIT(dlg.RecvCount() == 8 + 7, "the bytes of the new device");
        EXPECT_EQ(ui.text(IDC_RECV_EDIT), "before\r\nafter\r\n");
        EXPECT_EQ(m_boxes->count(), 0u);
    });
}

// Sends 200,000 bytes that a device that does not read leaves under way.
void SendBlocked(Ui& ui, const CTavrinDlg& dlg)
{
    std::string text;
    while (text.size() < 200000)
        text += "0123456789abcdefghijklmnopqrstuvwxyz0123456789abcdefghijklmnopqrstuvwxyz01234567\r\n";
    text.resize(200000);
    ui.setText(IDC_SEND_EDIT, text);
    ui.click(IDC_SEND_BUTTON);
    COMSTAT stat{};
    E2E_WAIT(ClearCommError(dlg.Port().m_hPort, nullptr, &stat) && stat.cbOutQue > 0,
             "the device to stop taking the send");
}

// Whether another program could have the line now.
bool LineFree(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const bool free = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (fd >= 0)
        ::close(fd);
    return free;
}

// A device that does not read holds nothing up: closing the port lets go of
// the line, opening again right after a close goes ahead, and closing the
// program ends, each while a long send is under way.
TEST_F(LifecycleTest, ASendTheDeviceDoesNotTakeHoldsUpNeitherCloseNorReopenNorExit)
{
    devsim::Options options;
    options.stalled = true;
    devsim::DeviceSimulator* device = StartDevice(options);
    ASSERT_NE(device, nullptr);
    Watchdog watchdog("closing, reopening and exiting during a blocked send", 60);
    {
        CTavrinDlg dlg;
        RunDialog(dlg, [&](Ui& ui) {
            ui.openPort();
            SendBlocked(ui, dlg);
            ASSERT_FALSE(HasFatalFailure());
            ui.closePort();
            E2E_WAIT(!dlg.Port().m_bMonitorRunning, "the engine to let go of the port");
            EXPECT_TRUE(LineFree(device->slavePath())) << "a new Tavrin could not open the port";

            ui.openPort();
            SendBlocked(ui, dlg);
            ASSERT_FALSE(HasFatalFailure());
            // Closed and opened again at once: the opening waits for the
            // thread that is still writing.
            ui.closePort();
            ui.openPort();
            EXPECT_TRUE(dlg.IsPortOpen());
            EXPECT_EQ(ui.text(IDC_PORT_STATE_TEXT), "Com1.9600.N.8.1");
            SendBlocked(ui, dlg);
            EXPECT_EQ(dlg.SendCount(), 3 * 200000);
        });
    }
    EXPECT_TRUE(LineFree(device->slavePath())) << "the line outlived the program";
    EXPECT_EQ(m_boxes->count(), 0u) << "a stop's abort is no failure";
}

} // namespace
} // namespace e2e
