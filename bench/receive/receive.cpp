// The whole receive path under load: device simulator -> pseudo-terminal ->
// port layer -> engine's monitor thread -> WM_PORT_RXCHAR -> the main dialog's
// receive area, with the real dialog offscreen, in character and in
// hexadecimal display. Prints:
//   (a) sustained bytes per second of a flood (1 MiB by default), while a
//       "user" thread asks for a click on the reset-sent-count button every
//       100 ms (a button that leaves the receive area's cost alone): how many
//       clicks the window handled during the flood and the worst delay from
//       asking to the click's end;
//   (b) the program's own CPU per cent while a device streams at 3,840 bytes/s
//       (a 38400-baud line running full); the device runs as the separate
//       devsim program, so the figure is this process alone;
//   (c) resident memory (VmRSS) once the program is warm (after the first
//       flood of (a)) and after 10 MiB more in all: the rest of (a), (b), and
//       a hexadecimal flood of what remains.
// Usage: bench_receive [flood-bytes [cpu-seconds [memory-bytes]]]
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

#include "console/tavrindlg.h"
#include "framework/afxqt.h"
#include "framework/afxtest.h"
#include "res/resource.h"
#include "tools/devsim/devsim.h"

#ifndef DEVSIM_PROGRAM
#error "DEVSIM_PROGRAM must name the devsim program"
#endif

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// Processes events until done() holds or capMs pass; a short pulse keeps the
// wait for more events from outlasting the cap.
bool WaitUntil(const std::function<bool()>& done, int capMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(capMs);
    QTimer pulse;
    pulse.start(2);
    while (!done()) {
        if (Clock::now() > deadline)
            return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Runs the event loop for a while without waking it by itself: the figure of
// (b) must not include a wait of our own that polls.
void IdleFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

long VmRssKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

double CpuSeconds()
{
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) != 0)
        return -1;
    auto sec = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return sec(usage.ru_utime) + sec(usage.ru_stime);
}

class Bench {
public:
    explicit Bench(CTavrinDlg& dlg) : m_dlg(dlg) {}

    // Counts received bytes for (c) from now on.
    void startCounting() { m_totalReceived = 0; }

    HWND item(int id) const { return ::GetDlgItem(m_dlg.GetSafeHwnd(), id); }

    void click(int id)
    {
        auto* button = qobject_cast<QAbstractButton*>(AfxWidgetFromHandle(item(id)));
        if (!button) {
            std::fprintf(stderr, "control %d is no button\n", id);
            std::exit(1);
        }
        button->click();
    }

    bool checked(int id) const { return ::SendMessageA(item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

    void setHexDisplay(bool hex)
    {
        if (checked(IDC_HEX_DISPLAY_CHECK) != hex)
            click(IDC_HEX_DISPLAY_CHECK);
    }

    bool openPort()
    {
        if (!m_dlg.IsPortOpen())
            click(IDC_OPEN_BUTTON);
        return m_dlg.IsPortOpen();
    }

    void closePort()
    {
        if (m_dlg.IsPortOpen())
            click(IDC_OPEN_BUTTON);
    }

    // One byte from the dialog: the engine purges before it writes, so after
    // the device has this byte, what it sends reaches the dialog. The device's
    // traffic is set to start on this byte.
    bool startTraffic(const std::function<std::uint64_t()>& deviceReceived)
    {
        const std::uint64_t before = deviceReceived();
        ::SetWindowTextA(item(IDC_SEND_EDIT), "~");
        click(IDC_SEND_BUTTON);
        return WaitUntil([&] { return deviceReceived() > before; }, 10000);
    }

    // An empty receive area in the display asked for, and the port open on
    // what TAVRIN_COM1 names now; `where` tells which device in the failure.
    void openClean(bool hex, const char* where)
    {
        click(IDC_CLEAR_BUTTON);
        click(IDC_RESET_RECV_BUTTON);
        setHexDisplay(hex);
        if (!openPort()) {
            std::fprintf(stderr, "the port did not open%s\n", where);
            std::exit(1);
        }
    }

    // Starts `device` to send `bytes` of text once it receives a byte, and
    // opens the port on it.
    void openOnFlood(devsim::DeviceSimulator& device, bool hex, std::uint64_t bytes)
    {
        devsim::Options options;
        options.floodBytes = bytes;
        options.payload = devsim::Payload::Text;
        options.startOn = devsim::StartOn::FirstByte;
        std::string error;
        if (!device.start(options, &error)) {
            std::fprintf(stderr, "simulator: %s\n", error.c_str());
            std::exit(1);
        }
        ::setenv("TAVRIN_COM1", device.slavePath().c_str(), 1);
        openClean(hex, "");
    }

    // Sets the flood going and waits until the dialog has counted all of it.
    bool receiveFlood(devsim::DeviceSimulator& device, std::uint64_t bytes)
    {
        return startTraffic([&] { return device.received(); }) &&
               WaitUntil([&] { return m_dlg.RecvCount() >= static_cast<long long>(bytes); }, 600000);
    }

    // (a): a flood of `bytes` with clicks asked for every 100 ms.
    void flood(bool hex, std::uint64_t bytes)
    {
        devsim::DeviceSimulator device;
        openOnFlood(device, hex, bytes);

        // The "user": asks the window thread for a click every 100 ms and
        // notes when it was asked; the window notes when the click was done.
        std::mutex mutex;
        int asked = 0;
        int handled = 0;
        double worstMs = 0;
        std::atomic<bool> stop{false};
        QObject receiver;
        std::thread user([&] {
            while (!stop.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                const auto at = Clock::now();
                {
                    std::lock_guard lock(mutex);
                    ++asked;
                }
                QMetaObject::invokeMethod(&receiver, [&, at] {
                    if (stop.load())
                        return;
                    click(IDC_RESET_SENT_BUTTON);
                    const double ms = Seconds(Clock::now() - at) * 1000;
                    std::lock_guard lock(mutex);
                    ++handled;
                    worstMs = std::max(worstMs, ms);
                }, Qt::QueuedConnection);
            }
        });

        const auto start = Clock::now();
        const bool done = receiveFlood(device, bytes);
        const auto end = Clock::now();
        int handledDuringFlood = 0;
        int askedDuringFlood = 0;
        double worst = 0;
        {
            std::lock_guard lock(mutex);
            handledDuringFlood = handled;
            askedDuringFlood = asked;
            worst = worstMs;
        }
        stop = true;
        user.join();
        QCoreApplication::processEvents();

        const double seconds = Seconds(end - start);
        m_totalReceived += m_dlg.RecvCount();
        std::printf("(a) %-11s flood %llu bytes: %s in %.2f s = %.0f bytes/s; clicks handled during the flood %d of "
                    "%d asked, worst click latency %.1f ms\n",
                    hex ? "hexadecimal" : "character", static_cast<unsigned long long>(bytes),
                    done ? "received" : "NOT all received", seconds, m_dlg.RecvCount() / seconds,
                    handledDuringFlood, askedDuringFlood, worst);
        std::fflush(stdout);
        closePort();
        WaitUntil([&] { return false; }, 100);
        device.stop();
    }

    // (b): CPU of this process while the devsim program streams at 3,840 B/s.
    void steadyStream(bool hex, int seconds)
    {
        const QString dir = QDir::tempPath() + "/tavrin-bench-" + QString::number(::getpid());
        QDir().mkpath(dir);
        const QString link = dir + "/com1";
        const unsigned long long streamBytes = 3840ull * static_cast<unsigned long long>(seconds + 5);
        QProcess devsim;
        devsim.setProgram(QString::fromUtf8(DEVSIM_PROGRAM));
        devsim.setArguments({"--link", link, "--stream", QString::number(streamBytes), "--rate", "3840",
                             "--payload", "text", "--start", "byte"});
        devsim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        devsim.start();
        if (!devsim.waitForStarted(10000) || !devsim.waitForReadyRead(10000)) {
            std::fprintf(stderr, "devsim did not start\n");
            std::exit(1);
        }
        devsim.readLine();  // the slave's path; the link names it
        ::setenv("TAVRIN_COM1", link.toLocal8Bit().constData(), 1);

        openClean(hex, " on devsim");
        // The port open and the line quiet: nothing should cost anything.
        IdleFor(300);
        const double idleCpuBefore = CpuSeconds();
        const auto idleStart = Clock::now();
        IdleFor(2000);
        const double idleCpu = CpuSeconds() - idleCpuBefore;
        const double idleWall = Seconds(Clock::now() - idleStart);

        // devsim starts on the first byte it receives; wait until bytes flow.
        ::SetWindowTextA(item(IDC_SEND_EDIT), "~");
        click(IDC_SEND_BUTTON);
        if (!WaitUntil([&] { return m_dlg.RecvCount() > 0; }, 10000)) {
            std::fprintf(stderr, "no bytes from devsim\n");
            std::exit(1);
        }
        IdleFor(500);  // settle

        const long long countBefore = m_dlg.RecvCount();
        const double cpuBefore = CpuSeconds();
        const auto start = Clock::now();
        IdleFor(seconds * 1000);
        const double cpu = CpuSeconds() - cpuBefore;
        const double wall = Seconds(Clock::now() - start);
        const long long received = m_dlg.RecvCount() - countBefore;
        m_totalReceived += m_dlg.RecvCount();
        std::printf("(b) %-11s port open, line quiet: program CPU %.2f %% of one core over %.1f s\n",
                    hex ? "hexadecimal" : "character", 100.0 * idleCpu / idleWall, idleWall);
        std::printf("(b) %-11s stream at 3840 bytes/s: %lld bytes in %.1f s (%.0f bytes/s), program CPU %.2f %% of "
                    "one core\n",
                    hex ? "hexadecimal" : "character", received, wall, received / wall, 100.0 * cpu / wall);
        std::fflush(stdout);

        closePort();
        WaitUntil([&] { return false; }, 100);
        devsim.terminate();
        devsim.waitForFinished(10000);
        QDir(dir).removeRecursively();
    }

    // (c): resident memory after `total` bytes received in all, against
    // `before`, taken before the first byte.
    void memory(bool hex, std::uint64_t total, long before)
    {
        const std::uint64_t bytes = total > m_totalReceived ? total - m_totalReceived : 0;
        if (bytes == 0) {
            std::printf("(c) VmRSS %ld KiB before, %ld KiB after %llu bytes: growth %.2f MiB\n", before, VmRssKiB(),
                        static_cast<unsigned long long>(m_totalReceived), (VmRssKiB() - before) / 1024.0);
            return;
        }
        devsim::DeviceSimulator device;
        openOnFlood(device, hex, bytes);
        const auto start = Clock::now();
        const bool done = receiveFlood(device, bytes);
        const double seconds = Seconds(Clock::now() - start);
        m_totalReceived += m_dlg.RecvCount();
        WaitUntil([&] { return false; }, 200);
        const long after = VmRssKiB();
        std::printf("(c) %s flood of the remaining %llu bytes %s in %.1f s (%.0f bytes/s)\n",
                    hex ? "hexadecimal" : "character", static_cast<unsigned long long>(bytes),
                    done ? "received" : "NOT all received", seconds, m_dlg.RecvCount() / seconds);
        std::printf("(c) VmRSS %ld KiB after the first flood, %ld KiB after %llu bytes more: growth %.2f MiB\n",
                    before, after, static_cast<unsigned long long>(m_totalReceived), (after - before) / 1024.0);
        std::fflush(stdout);
        closePort();
        WaitUntil([&] { return false; }, 100);
        device.stop();
    }

private:
    CTavrinDlg& m_dlg;
    std::uint64_t m_totalReceived = 0;
};

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::uint64_t floodBytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1u << 20;
    const int cpuSeconds = argc > 2 ? std::atoi(argv[2]) : 5;
    const std::uint64_t memoryBytes = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 10u << 20;
    if (floodBytes == 0 || cpuSeconds <= 0 || memoryBytes == 0) {
        std::fprintf(stderr, "usage: %s [flood-bytes [cpu-seconds [memory-bytes]]]\n", argv[0]);
        return 2;
    }

    QApplication app(argc, argv);
    AfxSetResources(&g_tavrinResources);
    std::atomic<int> boxes{0};
    AfxSetMessageBoxHook([&](HWND, const CString& text, const CString&, UINT) {
        std::fprintf(stderr, "message box: %s\n", text.GetString());
        ++boxes;
        return IDOK;
    });

    CTavrinDlg dlg;
    QObject context;
    std::function<void()> body = [&] {
        if (!::IsWindow(dlg.GetSafeHwnd()) || !::IsWindowVisible(dlg.GetSafeHwnd())) {
            QTimer::singleShot(1, &context, body);
            return;
        }
        Bench bench(dlg);
        std::printf("receive path, dialog offscreen, Qt %s\n", qVersion());
        const long rssAtStart = VmRssKiB();
        bench.flood(false, floodBytes);
        const long rssBefore = VmRssKiB();
        bench.startCounting();
        bench.flood(true, floodBytes);
        for (bool hex : {false, true})
            bench.steadyStream(hex, cpuSeconds);
        bench.memory(true, memoryBytes, rssBefore);
        std::printf("(c) VmRSS %ld KiB at start, before any byte\n", rssAtStart);
        dlg.EndDialog(IDCANCEL);
    };
    QTimer::singleShot(0, &context, body);
    dlg.DoModal();
    AfxSetMessageBoxHook(nullptr);
    if (boxes > 0)
        std::printf("%d message boxes were raised (see above)\n", boxes.load());
    return 0;
}
