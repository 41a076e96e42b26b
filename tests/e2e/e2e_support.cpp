#include "tests/e2e/e2e_support.h"

#include <cstdlib>

namespace e2e {

void E2ETest::SetUp()
{
    AfxSetResources(&g_tavrinResources);
    m_boxes = std::make_unique<testsupport::BoxRecorder>();
}

void E2ETest::TearDown()
{
    EXPECT_EQ(m_boxes->texts(), std::vector<std::string>{}) << "boxes the test did not expect";
    m_boxes.reset();
    m_devices.clear();  // each stops as it goes
    for (int port = 1; port <= 4; ++port)
        ::unsetenv(("TAVRIN_COM" + std::to_string(port)).c_str());
}

devsim::DeviceSimulator* E2ETest::StartDevice(const devsim::Options& options, int port)
{
    auto device = std::make_unique<devsim::DeviceSimulator>();
    std::string error;
    if (!device->start(options, &error)) {
        ADD_FAILURE() << "the device simulator did not start: " << error;
        return nullptr;
    }
    ::setenv(("TAVRIN_COM" + std::to_string(port)).c_str(), device->slavePath().c_str(), 1);
    m_devices.push_back(std::move(device));
    return m_devices.back().get();
}

void E2ETest::PressToggle(Ui& ui, const char* offered)
{
    ASSERT_EQ(ui.text(IDC_OPEN_BUTTON), Gbk(offered)) << "the toggle does not offer it";
    ui.click(IDC_OPEN_BUTTON);
}

void E2ETest::StartTraffic(Ui& ui, devsim::DeviceSimulator& device)
{
    const std::uint64_t before = device.received();
    ui.setText(IDC_SEND_EDIT, "~");
    ui.click(IDC_SEND_BUTTON);
    E2E_WAIT(device.received() > before, "the device to receive the starting byte");
}

INT_PTR E2ETest::RunOpen(const devsim::Options& options, const OpenBody& body)
{
    devsim::DeviceSimulator* device = StartDevice(options);
    if (!device)
        return -1;
    CTavrinDlg dlg;
    return RunDialog(dlg, [&](Ui& ui) {
        OpenPort(ui);
        ASSERT_EQ(ui.text(IDC_OPEN_BUTTON), Gbk("关闭串口")) << "the port did not open";
        body(dlg, ui, *device);
    });
}

} // namespace e2e
