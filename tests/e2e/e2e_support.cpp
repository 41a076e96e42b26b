#include "tests/e2e/e2e_support.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <condition_variable>
#include <mutex>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <unistd.h>

#include "console/recvdisplay.h"
#include "console/sendlogic.h"
#include "console/texts.h"
#include "framework/afxqt.h"
#include "res/resource.h"

namespace e2e {

HWND Ui::item(int id) const
{
    return ::GetDlgItem(m_hDlg, id);
}

std::string Ui::text(int id) const
{
    return testsupport::WindowText(item(id));
}

void Ui::setText(int id, const std::string& bytes)
{
    ::SetWindowTextA(item(id), bytes.c_str());
}

void Ui::click(int id)
{
    auto* button = qobject_cast<QAbstractButton*>(AfxWidgetFromHandle(item(id)));
    ASSERT_NE(button, nullptr) << "control " << id << " is no button";
    ASSERT_TRUE(button->isEnabled()) << "control " << id << " is disabled";
    QPoint at = button->rect().center();
    if (qobject_cast<QCheckBox*>(button)) {
        QStyleOptionButton option;
        option.initFrom(button);
        at = button->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, button).center();
    }
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, at);
}

bool Ui::checked(int id) const
{
    return ::SendMessageA(item(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

std::string Ui::status(int part) const
{
    // The status bar is the dialog's child with id 0.
    const HWND bar = item(0);
    const int length = LOWORD(::SendMessageA(bar, SB_GETTEXTLENGTHA, static_cast<WPARAM>(part), 0));
    std::string bytes(static_cast<size_t>(length) + 1, '\0');
    ::SendMessageA(bar, SB_GETTEXTA, static_cast<WPARAM>(part), reinterpret_cast<LPARAM>(bytes.data()));
    bytes.resize(static_cast<size_t>(length));
    return bytes;
}

HICON Ui::lamp() const
{
    return reinterpret_cast<HICON>(::SendMessageA(item(IDC_PORT_LAMP), STM_GETICON, 0, 0));
}

int Ui::recvLineCount() const
{
    return static_cast<int>(::SendMessageA(item(IDC_RECV_EDIT), EM_GETLINECOUNT, 0, 0));
}

void Ui::openPort()
{
    ASSERT_EQ(text(IDC_OPEN_BUTTON), std::string(kTextOpenPort)) << "the port is open already";
    click(IDC_OPEN_BUTTON);
}

void Ui::closePort()
{
    ASSERT_EQ(text(IDC_OPEN_BUTTON), std::string(kTextClosePort)) << "the port is not open";
    click(IDC_OPEN_BUTTON);
}

struct Watchdog::State {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    std::thread thread;
};

Watchdog::Watchdog(const char* what, int seconds) : m_state(std::make_shared<State>())
{
    m_state->thread = std::thread([state = m_state, what = std::string(what), seconds] {
        std::unique_lock lock(state->mutex);
        if (!state->cv.wait_for(lock, std::chrono::seconds(seconds), [&] { return state->done; })) {
            std::fprintf(stderr, "watchdog: %s did not end within %d s; the program hangs\n", what.c_str(),
                         seconds);
            std::fflush(stderr);
            std::_Exit(3);
        }
    });
}

Watchdog::~Watchdog()
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->done = true;
    }
    m_state->cv.notify_all();
    m_state->thread.join();
}

INT_PTR RunDialog(CTavrinDlg& dlg, const std::function<void(Ui&)>& body)
{
    // Timers die with this object, so none fires after DoModal has returned.
    QObject context;
    bool ran = false;
    std::function<void()> step = [&] {
        const HWND h = dlg.GetSafeHwnd();
        if (!::IsWindow(h) || !::IsWindowVisible(h)) {
            QTimer::singleShot(1, &context, step);
            return;
        }
        ran = true;
        Ui ui(h);
        body(ui);
        // A dialog the body ended is hidden until its modal loop returns.
        if (::IsWindow(dlg.GetSafeHwnd()) && ::IsWindowVisible(dlg.GetSafeHwnd()))
            dlg.EndDialog(IDCANCEL);
    };
    QTimer::singleShot(0, &context, step);
    const INT_PTR result = dlg.DoModal();
    EXPECT_TRUE(ran) << "the dialog did not come up (DoModal gave " << result << ")";
    return result;
}

void E2ETest::SetUp()
{
    AfxSetResources(&g_tavrinResources);
    ::unsetenv("TAVRIN_COM1");
    m_boxes = std::make_unique<BoxRecorder>();
}

void E2ETest::TearDown()
{
    m_boxes.reset();
    for (auto& device : m_devices)
        device->stop();
    m_devices.clear();
    ::unsetenv("TAVRIN_COM1");
    if (!m_missingDir.empty())
        QDir(QString::fromStdString(m_missingDir)).removeRecursively();
}

devsim::DeviceSimulator* E2ETest::StartDevice(const devsim::Options& options)
{
    auto device = std::make_unique<devsim::DeviceSimulator>();
    std::string error;
    if (!device->start(options, &error)) {
        ADD_FAILURE() << "the device simulator did not start: " << error;
        return nullptr;
    }
    ::setenv("TAVRIN_COM1", device->slavePath().c_str(), 1);
    m_devices.push_back(std::move(device));
    return m_devices.back().get();
}

void E2ETest::PointCom1AtNothing()
{
    std::string pattern = QDir::tempPath().toStdString() + "/tavrin-e2e-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr) << "cannot make a temporary directory";
    m_missingDir = pattern;
    ::setenv("TAVRIN_COM1", (m_missingDir + "/no-such-device").c_str(), 1);
}

void E2ETest::SyncLine(Ui& ui, devsim::DeviceSimulator& device)
{
    const bool hex = ui.checked(IDC_HEX_SEND_CHECK);
    if (hex)
        ui.click(IDC_HEX_SEND_CHECK);
    const std::uint64_t before = device.received();
    ui.setText(IDC_SEND_EDIT, "~");
    ui.click(IDC_SEND_BUTTON);
    E2E_WAIT(device.received() > before, "the device to receive the synchronising byte");
    ui.setText(IDC_SEND_EDIT, "");
    ui.click(IDC_RESET_SENT_BUTTON);
    if (hex)
        ui.click(IDC_HEX_SEND_CHECK);
}

void E2ETest::RunOpen(const devsim::Options& options, const OpenBody& body)
{
    devsim::DeviceSimulator* device = StartDevice(options);
    ASSERT_NE(device, nullptr);
    CTavrinDlg dlg;
    RunDialog(dlg, [&](Ui& ui) {
        ui.openPort();
        ASSERT_TRUE(dlg.IsPortOpen());
        SyncLine(ui, *device);
        ASSERT_FALSE(HasFatalFailure());
        body(dlg, ui, *device);
    });
}

std::string E2ETest::RecvCount(long long n)
{
    return RecvCountText(n).bytes();
}

std::string E2ETest::SendCount(long long n)
{
    return SendCountText(n).bytes();
}

} // namespace e2e
