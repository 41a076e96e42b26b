// What the end-to-end tests share: the real main dialog run modally with the
// body of a test inside its modal loop, a device simulator on a pseudo-terminal
// standing behind COM1, waits that keep the window thread serving the engine,
// and the controls read and clicked as a user would.
#pragma once

#include <gtest/gtest.h>

#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "console/tavrindlg.h"
#include "framework/afxtest.h"
#include "framework/afxwin.h"
#include "tests/support/boxes.h"
#include "tests/support/text.h"
#include "tests/support/wait.h"
#include "tools/devsim/devsim.h"

namespace e2e {

using testsupport::Box;
using testsupport::BoxRecorder;
using testsupport::Gbk;
using testsupport::ProcessEventsFor;
using testsupport::WaitUntil;

// A wait that fails the test with a readable reason.
#define E2E_WAIT(condition, what) \
    ASSERT_TRUE(::e2e::WaitUntil([&] { return static_cast<bool>(condition); })) << "timed out waiting: " << what

// The controls of a live main dialog, reached by id and used through their
// widgets, as a user would. GUI thread only.
class Ui {
public:
    explicit Ui(HWND hDlg) : m_hDlg(hDlg) {}
    HWND dialog() const { return m_hDlg; }
    HWND item(int id) const;

    std::string text(int id) const;           // window text, code page 936 bytes
    void setText(int id, const std::string& bytes);
    // A mouse click on a button (on a check box: on its box).
    void click(int id);
    bool checked(int id) const;
    std::string status(int part) const;       // status-bar part
    HICON lamp() const;                       // the icon the lamp shows
    int recvLineCount() const;

    // A press of the port toggle; its handler opens or closes at once. Fails
    // when the toggle does not offer that.
    void openPort();
    void closePort();

private:
    HWND m_hDlg;
};

// Exits the process with a message when a step does not end in time: for the
// steps that would otherwise hang the suite (closing, unplugging).
class Watchdog {
public:
    Watchdog(const char* what, int seconds);
    ~Watchdog();

private:
    struct State;
    std::shared_ptr<State> m_state;
};

// Runs a main dialog modally; `body` runs inside the modal loop once the
// window exists, and the dialog is ended with IDCANCEL afterwards if the body
// left it open. Returns DoModal's result.
INT_PTR RunDialog(CTavrinDlg& dlg, const std::function<void(Ui&)>& body);

// The base of the end-to-end tests: resources installed, boxes recorded, and a
// simulator started on demand with COM1 pointing at it.
class E2ETest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts a simulator and makes COM1 its slave; nullptr (and a failure)
    // when it cannot start.
    devsim::DeviceSimulator* StartDevice(const devsim::Options& options);
    // Points COM1 at a path where no device is.
    void PointCom1AtNothing();

    // Makes sure the monitor thread is past its initial purge, so bytes the
    // device sends from now on reach the dialog: sends one byte from the
    // dialog (the write purges first, then writes) and waits until the device
    // has it. The sent count is reset again afterwards.
    void SyncLine(Ui& ui, devsim::DeviceSimulator& device);

    // Opens COM1 on a fresh device and synchronises with it; the body then
    // runs with the port open and the counts at 0.
    using OpenBody = std::function<void(CTavrinDlg&, Ui&, devsim::DeviceSimulator&)>;
    void RunOpen(const devsim::Options& options, const OpenBody& body);

    // The status-bar texts of a received and a sent count.
    static std::string RecvCount(long long n);
    static std::string SendCount(long long n);

    std::unique_ptr<BoxRecorder> m_boxes;
    std::vector<std::unique_ptr<devsim::DeviceSimulator>> m_devices;
    std::string m_missingDir;
};

} // namespace e2e
