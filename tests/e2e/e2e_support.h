// What the end-to-end tests share: the real main dialog driven as a user
// would (tests/support/dialog.h), device simulators on pseudo-terminals
// standing behind the COM ports, and message boxes recorded instead of shown.
// It brings the dialog's ids and the widgets behind its handles.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "console/tavrindlg.h"
#include "framework/afxqt.h"
#include "res/resource.h"
#include "tests/support/boxes.h"
#include "tests/support/dialog.h"
#include "tests/support/wait.h"
#include "tools/devsim/devsim.h"

namespace e2e {

using namespace testsupport;

// A wait that fails the test with a readable reason.
#define E2E_WAIT(condition, what) \
    ASSERT_TRUE(::testsupport::WaitUntil([&] { return static_cast<bool>(condition); })) << "timed out waiting: " << what

class E2ETest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts a simulator and makes COM<port> its slave; nullptr (and a
    // failure) when it cannot start.
    devsim::DeviceSimulator* StartDevice(const devsim::Options& options, int port = 1);

    // A press of the port toggle, which must offer to open (to close) first.
    static void PressToggle(Ui& ui, const char* offered);
    static void OpenPort(Ui& ui) { PressToggle(ui, "打开串口"); }
    static void ClosePort(Ui& ui) { PressToggle(ui, "关闭串口"); }

    // Sends one byte from the dialog and waits until the device has it, so a
    // device whose traffic starts on its first byte is under way.
    static void StartTraffic(Ui& ui, devsim::DeviceSimulator& device);

    // Opens COM1 on a fresh device; the body runs with the port open. Returns
    // how the dialog ended, -1 when the device did not start.
    using OpenBody = std::function<void(CTavrinDlg&, Ui&, devsim::DeviceSimulator&)>;
    INT_PTR RunOpen(const devsim::Options& options, const OpenBody& body);

    // The status-bar texts of a received and a sent count.
    static std::string RecvCount(long long n) { return Gbk(" 接收：" + std::to_string(n) + " 字节"); }
    static std::string SendCount(long long n) { return Gbk(" 发送：" + std::to_string(n) + " 字节"); }

    // Every box a test expects it takes off this record; any other fails it.
    std::unique_ptr<testsupport::BoxRecorder> m_boxes;
    std::vector<std::unique_ptr<devsim::DeviceSimulator>> m_devices;
};

} // namespace e2e
