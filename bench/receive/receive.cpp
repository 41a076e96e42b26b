// The whole receive path under load: device simulator -> pseudo-terminal ->
// port layer -> engine's monitor thread -> WM_PORT_RXCHAR -> the main dialog's
// receive area, with the real dialog offscreen, in character and in
// hexadecimal display. Prints:
//   (a) sustained bytes per second of a flood (1 MiB by default), while a
//       "user" thread asks for a click on the reset-sent-count button every
//       100 ms (a button that leaves the receive area's cost alone): how many
//       clicks the window handled during the flood and the worst delay from
//       asking to the click's end;
//   (b) the program's own CPU per cent, and its wake-ups, while the port is
//       open on a quiet line, and its CPU while a device streams 16-byte
//       bursts at 960 and at 3,840 bytes/s (9600 and 38400 baud running
//       full); the device runs as the separate devsim program, so the figure
//       is this process alone;
//   (c) resident memory (VmRSS) once the program is warm (after the first
//       flood of (a)) and after 10 MiB more in all: the rest of (a), (b), and
//       a hexadecimal flood of what remains;
//   (d) the dialog's handler alone: text lines sent to it as WM_PORT_RXCHAR
//       on the window thread, in 4 KiB series with the event loop (frames)
//       between them, and the window thread's CPU per byte: what a flood
//       costs without the port, the engine and the device.
// Usage: bench_receive [--paced | --xvfb] [flood-bytes [cpu-seconds [memory-bytes]]]
//   --paced  (b) only, offscreen
//   --xvfb   on a real X server: the bench starts its own Xvfb, runs the
//            dialog on the xcb platform and prints Xvfb's CPU beside the
//            program's (offscreen, painting costs next to nothing; on an X
//            server the pixels really move): a flood of flood-bytes (4 MiB
//            by default here) from the devsim program in each display, with
//            the program's CPU seconds per MiB, then (d) and (b)
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <cstring>
#include <thread>
#include <unistd.h>

#include "bench/support/boxes.h"
#include "bench/support/devsim.h"
#include "bench/support/process.h"
#include "bench/support/xvfb.h"
#include "console/tavrindlg.h"
#include "console/texts.h"
#include "framework/afxtest.h"
#include "res/resource.h"
#include "tests/support/dialog.h"
#include "tests/support/wait.h"
#include "tools/devsim/devsim.h"

namespace {

const char kUsage[] = "usage: %s [--paced | --xvfb] [flood-bytes [cpu-seconds [memory-bytes]]]\n";

using Clock = std::chrono::steady_clock;
using testsupport::ProcessEventsFor;
using testsupport::Ui;
using testsupport::WaitUntil;
using benchsupport::CpuSeconds;
using benchsupport::ProcessCpuSeconds;
using benchsupport::ResidentKiB;
using benchsupport::ThreadCpuSeconds;

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// Runs the event loop for a while without waking it by itself: the figure of
// (b) must not include a wait of our own that polls.
void IdleFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Context switches of all this process's threads: each is a wake-up.
long long ContextSwitches()
{
    long long total = 0;
    QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        std::ifstream status(("/proc/self/task/" + task + "/status").toStdString());
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                total += std::atoll(line.c_str() + line.find(':') + 1);
    }
    return total;
}

class Bench {
public:
    Bench(CTavrinDlg& dlg, Ui& ui, pid_t xvfb) : m_dlg(dlg), m_ui(ui), m_xvfb(xvfb) {}

    // Counts received bytes for (c) from now on.
    void startCounting() { m_totalReceived = 0; }

    // The toggle offers to close while the port is open.
    bool portOpen() const { return m_ui.text(IDC_OPEN_BUTTON) == kTextClosePort; }

    bool openPort()
    {
        if (!portOpen())
            m_ui.click(IDC_OPEN_BUTTON);
        return portOpen();
    }

    void closePort()
    {
        if (portOpen())
            m_ui.click(IDC_OPEN_BUTTON);
    }

    // One byte from the dialog, which starts the device's traffic. The port
    // purged its input when it opened, before the device had this byte, so
    // all that the device sends after it reaches the dialog.
    bool startTraffic(const std::function<std::uint64_t()>& deviceReceived)
    {
        const std::uint64_t before = deviceReceived();
        m_ui.setText(IDC_SEND_EDIT, "~");
        m_ui.click(IDC_SEND_BUTTON);
        return WaitUntil([&] { return deviceReceived() > before; });
    }

    // An empty receive area in the display asked for, and the port open on
    // what TAVRIN_COM1 names now; `where` tells which device in the failure.
    void openClean(bool hex, const char* where)
    {
        cleanArea(hex);
        if (!openPort()) {
            std::fprintf(stderr, "the port did not open%s\n", where);
            std::exit(1);
        }
    }

    // An empty receive area and count, in the display asked for.
    void cleanArea(bool hex)
    {
        m_ui.click(IDC_CLEAR_BUTTON);
        m_ui.click(IDC_RESET_RECV_BUTTON);
        if (m_ui.checked(IDC_HEX_DISPLAY_CHECK) != hex)
            m_ui.click(IDC_HEX_DISPLAY_CHECK);
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
                    m_ui.click(IDC_RESET_SENT_BUTTON);
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
        ProcessEventsFor(100);
        device.stop();
    }

    // The devsim program with `arguments` (bench/support/devsim.h); the
    // bench cannot go on without it.
    static void StartDevsim(benchsupport::DevsimProcess& devsim, const QStringList& arguments)
    {
        if (!devsim.start(arguments))
            std::exit(1);
    }

    // (a) on a real display: a flood of `bytes` from the devsim program,
    // from the byte that starts it until the dialog has counted them all.
    void floodFromDevsim(bool hex, std::uint64_t bytes)
    {
        benchsupport::DevsimProcess devsim;
        StartDevsim(devsim, {"--flood", QString::number(bytes)});
        openClean(hex, " on devsim");
        IdleFor(500);
        const double cpuBefore = CpuSeconds();
        const double xvfbBefore = m_xvfb > 0 ? ProcessCpuSeconds(m_xvfb) : 0;
        const auto start = Clock::now();
        m_ui.setText(IDC_SEND_EDIT, "~");
        m_ui.click(IDC_SEND_BUTTON);
        const bool done = WaitUntil([&] { return m_dlg.RecvCount() >= static_cast<long long>(bytes); }, 600000);
        const double wall = Seconds(Clock::now() - start);
        const double cpu = CpuSeconds() - cpuBefore;
        const double xvfb = m_xvfb > 0 ? ProcessCpuSeconds(m_xvfb) - xvfbBefore : 0;
        const double mib = static_cast<double>(m_dlg.RecvCount()) / (1 << 20);
        m_totalReceived += m_dlg.RecvCount();
        std::printf("(a) %-11s flood %llu bytes from devsim: %s in %.2f s = %.0f bytes/s; program CPU %.2f s "
                    "(%.3f s per MiB)",
                    hex ? "hexadecimal" : "character", static_cast<unsigned long long>(bytes),
                    done ? "received" : "NOT all received", wall, m_dlg.RecvCount() / wall, cpu, cpu / mib);
        if (m_xvfb > 0)
            std::printf(", Xvfb CPU %.2f s", xvfb);
        std::printf("\n");
        std::fflush(stdout);
        closePort();
        ProcessEventsFor(100);
    }

    // (b): CPU of this process (and of the X server) while the port is open
    // on a quiet line (measured when `idle`), then while the devsim program
    // streams at `rate`.
    void steadyStream(bool hex, int seconds, int rate, bool idle)
    {
        const char* mode = hex ? "hexadecimal" : "character";
        const unsigned long long streamBytes =
            static_cast<unsigned long long>(rate) * static_cast<unsigned long long>(seconds + 5);
        benchsupport::DevsimProcess devsim;
        StartDevsim(devsim, {"--stream", QString::number(streamBytes), "--rate", QString::number(rate)});

        openClean(hex, " on devsim");
        if (idle) {
            // The port open and the line quiet: nothing should cost anything.
            // For a second or so after a click on a check box, Qt's own timers
            // still wake the program; they are not the quiet line's cost.
            IdleFor(1500);
            const double cpuBefore = CpuSeconds();
            const long long switchesBefore = ContextSwitches();
            const auto idleStart = Clock::now();
            IdleFor(2000);
            const double cpu = CpuSeconds() - cpuBefore;
            // Less the one wake-up of the timer that ends the window.
            const long long switches = std::max(0LL, ContextSwitches() - switchesBefore - 1);
            const double wall = Seconds(Clock::now() - idleStart);
            std::printf("(b) %-11s port open, line quiet: program CPU %.2f %% of one core, %.1f wake-ups/s over %.1f s\n",
                        mode, 100.0 * cpu / wall, switches / wall, wall);
        }

        // devsim starts on the first byte it receives; wait until bytes flow.
        m_ui.setText(IDC_SEND_EDIT, "~");
        m_ui.click(IDC_SEND_BUTTON);
        if (!WaitUntil([&] { return m_dlg.RecvCount() > 0; })) {
            std::fprintf(stderr, "no bytes from devsim\n");
            std::exit(1);
        }
        IdleFor(500);  // settle

        const long long countBefore = m_dlg.RecvCount();
        const double cpuBefore = CpuSeconds();
        const double xvfbBefore = m_xvfb > 0 ? ProcessCpuSeconds(m_xvfb) : 0;
        const auto start = Clock::now();
        IdleFor(seconds * 1000);
        const double cpu = CpuSeconds() - cpuBefore;
        const double xvfb = m_xvfb > 0 ? ProcessCpuSeconds(m_xvfb) - xvfbBefore : 0;
        const double wall = Seconds(Clock::now() - start);
        const long long received = m_dlg.RecvCount() - countBefore;
        m_totalReceived += m_dlg.RecvCount();
        std::printf("(b) %-11s stream at %4d bytes/s: %lld bytes in %.1f s (%.0f bytes/s), program CPU %.2f %% of one "
                    "core",
                    mode, rate, received, wall, received / wall, 100.0 * cpu / wall);
        if (m_xvfb > 0)
            std::printf(", Xvfb CPU %.2f %%", 100.0 * xvfb / wall);
        std::printf("\n");
        std::fflush(stdout);

        closePort();
        ProcessEventsFor(100);
    }

    // (c): resident memory after `total` bytes received in all, against
    // `before`, taken before the first byte.
    void memory(bool hex, std::uint64_t total, long before)
    {
        const std::uint64_t bytes = total > m_totalReceived ? total - m_totalReceived : 0;
        if (bytes == 0) {
            std::printf("(c) VmRSS %ld KiB before, %ld KiB after %llu bytes: growth %.2f MiB\n", before, ResidentKiB(),
                        static_cast<unsigned long long>(m_totalReceived), (ResidentKiB() - before) / 1024.0);
            return;
        }
        devsim::DeviceSimulator device;
        openOnFlood(device, hex, bytes);
        const auto start = Clock::now();
        const bool done = receiveFlood(device, bytes);
        const double seconds = Seconds(Clock::now() - start);
        m_totalReceived += m_dlg.RecvCount();
        ProcessEventsFor(200);
        const long after = ResidentKiB();
        std::printf("(c) %s flood of the remaining %llu bytes %s in %.1f s (%.0f bytes/s)\n",
                    hex ? "hexadecimal" : "character", static_cast<unsigned long long>(bytes),
                    done ? "received" : "NOT all received", seconds, m_dlg.RecvCount() / seconds);
        std::printf("(c) VmRSS %ld KiB after the first flood, %ld KiB after %llu bytes more: growth %.2f MiB\n",
                    before, after, static_cast<unsigned long long>(m_totalReceived), (after - before) / 1024.0);
        std::fflush(stdout);
        closePort();
        ProcessEventsFor(100);
        device.stop();
    }

    // (d): `bytes` of 78-character text lines ending in CR LF handed to the
    // handler as the engine would, without the engine.
    void handlerAlone(bool hex, std::uint64_t bytes)
    {
        cleanArea(hex);
        std::string line;
        for (int i = 0; i < 78; ++i)
            line += static_cast<char>('!' + i % 94);
        line += "\r\n";
        const HWND dialog = m_dlg.GetSafeHwnd();
        const double before = ThreadCpuSeconds();
        std::uint64_t sent = 0;
        while (sent < bytes) {
            for (int i = 0; i < 4096 && sent < bytes; ++i, ++sent)
                ::SendMessageA(dialog, WM_PORT_RXCHAR, static_cast<unsigned char>(line[sent % line.size()]), 1);
            QCoreApplication::processEvents();
        }
        ProcessEventsFor(100);
        const double cpu = ThreadCpuSeconds() - before;
        std::printf("(d) %-11s handler alone, %llu bytes: window thread CPU %.1f ns per byte (%llu counted)\n",
                    hex ? "hexadecimal" : "character", static_cast<unsigned long long>(bytes), cpu * 1e9 / bytes,
                    static_cast<unsigned long long>(m_dlg.RecvCount()));
        std::fflush(stdout);
    }

private:
    CTavrinDlg& m_dlg;
    Ui& m_ui;
    pid_t m_xvfb;
    std::uint64_t m_totalReceived = 0;
};

// What the command line asks for; nullopt after a usage message, with the
// exit status in *status.
struct Args {
    bool pacedOnly = false;
    bool xvfb = false;
    std::uint64_t floodBytes = 1u << 20;
    int cpuSeconds = 5;
    std::uint64_t memoryBytes = 10u << 20;
};

std::optional<Args> ParseArgs(int argc, char** argv, int* status)
{
    Args args;
    int arg = 1;
    for (; arg < argc && argv[arg][0] == '-'; ++arg) {
        const bool help = std::strcmp(argv[arg], "--help") == 0;
        if (std::strcmp(argv[arg], "--paced") == 0) {
            args.pacedOnly = true;
        } else if (std::strcmp(argv[arg], "--xvfb") == 0) {
            args.pacedOnly = args.xvfb = true;
            args.floodBytes = 4u << 20;
        } else {
            if (!help)
                std::fprintf(stderr, "unknown option %s\n", argv[arg]);
            std::fprintf(help ? stdout : stderr, kUsage, argv[0]);
            *status = help ? 0 : 2;
            return std::nullopt;
        }
    }
    if (arg < argc)
        args.floodBytes = std::strtoull(argv[arg], nullptr, 10);
    if (arg + 1 < argc)
        args.cpuSeconds = std::atoi(argv[arg + 1]);
    if (arg + 2 < argc)
        args.memoryBytes = std::strtoull(argv[arg + 2], nullptr, 10);
    if (args.floodBytes == 0 || args.cpuSeconds <= 0 || args.memoryBytes == 0) {
        std::fprintf(stderr, kUsage, argv[0]);
        *status = 2;
        return std::nullopt;
    }
    return args;
}

} // namespace

int main(int argc, char** argv)
{
    int status = 0;
    const std::optional<Args> parsed = ParseArgs(argc, argv, &status);
    if (!parsed)
        return status;
    const Args& args = *parsed;

    benchsupport::Xvfb server;
    if (args.xvfb) {
        if (!server.start())
            return 1;
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    } else if (!std::getenv("QT_QPA_PLATFORM")) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }

    QApplication app(argc, argv);
    AfxSetResources(&g_tavrinResources);
    const benchsupport::BoxAnswerer boxes;

    CTavrinDlg dlg;
    testsupport::RunDialog(dlg, [&](Ui& ui) {
        Bench bench(dlg, ui, args.xvfb ? server.pid() : -1);
        std::printf("receive path, dialog on the %s platform%s, Qt %s\n", qPrintable(QGuiApplication::platformName()),
                    args.xvfb ? " under Xvfb" : "", qVersion());
        if (args.pacedOnly) {
            if (args.xvfb) {
                for (bool hex : {false, true})
                    bench.floodFromDevsim(hex, args.floodBytes);
                for (bool hex : {false, true})
                    bench.handlerAlone(hex, args.floodBytes);
            }
            for (bool hex : {false, true})
                for (int rate : {960, 3840})
                    bench.steadyStream(hex, args.cpuSeconds, rate, rate == 960);
            return;
        }
        const long rssAtStart = ResidentKiB();
        bench.flood(false, args.floodBytes);
        const long rssBefore = ResidentKiB();
        bench.startCounting();
        bench.flood(true, args.floodBytes);
        for (bool hex : {false, true})
            for (int rate : {960, 3840})
                bench.steadyStream(hex, args.cpuSeconds, rate, rate == 960);
        bench.memory(true, args.memoryBytes, rssBefore);
        for (bool hex : {false, true})
            bench.handlerAlone(hex, args.floodBytes);
        std::printf("(c) VmRSS %ld KiB at start, before any byte\n", rssAtStart);
    });
    return 0;
}
