// A long run of the real dialog on a real X server (an Xvfb of its own), as a
// user at a bench would leave it: a device (the devsim program, a process of
// its own, so that the figures are this program's alone) streams 16-byte
// bursts at 3,840 bytes/s (38400 baud running full); the dialog sends a line
// every 100 ms by itself; the display is switched between text and
// hexadecimal every minute and cleared now and then (at 2:30, then every five
// minutes). Every minute it prints the program's resident memory, its CPU and
// Xvfb's over that minute, its open descriptors and threads, and the dialog's
// two counts against what the device had sent and received by then. At the
// end it stops sending, lets the last bytes arrive, and checks both counts
// against the device's; then it sums up the run against its goals (memory,
// CPU drift, descriptors and threads flat, counts exact).
//
// Usage: bench_soak [MINUTES]     MINUTES defaults to 60
#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench/support/boxes.h"
#include "bench/support/devsim.h"
#include "bench/support/process.h"
#include "bench/support/xvfb.h"
#include "console/tavrindlg.h"
#include "console/texts.h"
#include "framework/afxtest.h"
#include "res/resource.h"
#include "tests/support/dialog.h"

namespace {

const char kUsage[] = "usage: %s [MINUTES]   (default 60)\n";

constexpr int kRate = 3840;                  // bytes/s from the device
constexpr const char kSendText[] = "AT\r\n";  // what the dialog sends every 100 ms
constexpr int kStepSeconds = 30;             // the run's clock: a step every half minute

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// Runs the event loop until `deadline` without waking it by itself: the
// program's CPU must not include a wait of ours that polls.
void IdleUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return;
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(left), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

struct DeviceCounts {
    std::uint64_t received = 0;
    std::uint64_t sent = 0;
};

// The devsim program streaming `bytes` once it receives its first byte;
// asked for its counts on its standard input.
class Device {
public:
    explicit Device(std::uint64_t bytes) : m_bytes(bytes) {}

    // Starts it and points COM1 at it; false, said on standard error, when it
    // did not come up.
    bool start()
    {
        return m_devsim.start({"--stream", QString::number(m_bytes), "--rate", QString::number(kRate), "--stdin"});
    }

    std::uint64_t streamBytes() const { return m_bytes; }

    // What it has read from the line and written to it so far; nullopt when
    // it does not answer.
    std::optional<DeviceCounts> counts()
    {
        m_devsim.process().write("counts\n");
        const std::optional<std::string> line = m_devsim.readLine();
        DeviceCounts counts;
        unsigned long long received = 0;
        unsigned long long sent = 0;
        if (!line || std::sscanf(line->c_str(), "received %llu sent %llu", &received, &sent) != 2) {
            std::fprintf(stderr, "devsim answered no counts%s%s\n", line ? ": " : "", line ? line->c_str() : "");
            return std::nullopt;
        }
        counts.received = received;
        counts.sent = sent;
        return counts;
    }

private:
    std::uint64_t m_bytes;
    benchsupport::DevsimProcess m_devsim;
};

// One minute's figures.
struct Minute {
    long rssKiB = 0;
    double cpuPercent = 0;
    double xvfbPercent = 0;
    int descriptors = 0;
    int threads = 0;
};

double MeanCpu(const std::vector<Minute>& minutes, size_t from, size_t count)
{
    double sum = 0;
    for (size_t i = from; i < from + count; ++i)
        sum += minutes[i].cpuPercent;
    return sum / static_cast<double>(count);
}

class Soak {
public:
    Soak(CTavrinDlg& dlg, testsupport::Ui& ui, Device& device, pid_t xvfb, int minutes)
        : m_dlg(dlg), m_ui(ui), m_device(device), m_xvfb(xvfb), m_minutes(minutes)
    {
    }

    // The whole run; false when it could not be made.
    bool run()
    {
        m_ui.click(IDC_OPEN_BUTTON);
        if (m_ui.text(IDC_OPEN_BUTTON) != kTextClosePort) {
            std::fprintf(stderr, "the port did not open on devsim\n");
            return false;
        }
        m_ui.setText(IDC_SEND_EDIT, kSendText);
        m_ui.setText(IDC_PERIOD_EDIT, "100");
        m_ui.click(IDC_AUTO_SEND_CHECK);  // its first line starts the device's stream
        if (!m_ui.checked(IDC_AUTO_SEND_CHECK)) {
            std::fprintf(stderr, "auto-send did not start\n");
            return false;
        }
        std::printf("%6s %9s %7s %7s %4s %7s  %-34s  %s\n", "minute", "RSS KiB", "CPU %", "Xvfb %", "fds", "threads",
                    "received / device sent (on the way)", "sent / device received (on the way)");
        std::fflush(stdout);

        const auto start = Clock::now();
        auto last = start;
        double cpuBefore = benchsupport::CpuSeconds();
        double xvfbBefore = benchsupport::ProcessCpuSeconds(m_xvfb);
        for (int step = 1; step <= 2 * m_minutes; ++step) {
            IdleUntil(start + std::chrono::seconds(step * kStepSeconds));
            if (step % 10 == 5)
                m_ui.click(IDC_CLEAR_BUTTON);
            if (step % 2 != 0)
                continue;
            const auto now = Clock::now();
            const double wall = Seconds(now - last);
            const double cpu = benchsupport::CpuSeconds();
            const double xvfb = benchsupport::ProcessCpuSeconds(m_xvfb);
            Minute minute;
            minute.rssKiB = benchsupport::ResidentKiB();
            minute.cpuPercent = 100.0 * (cpu - cpuBefore) / wall;
            minute.xvfbPercent = 100.0 * (xvfb - xvfbBefore) / wall;
            minute.descriptors = benchsupport::OpenDescriptors();
            minute.threads = benchsupport::Threads();
            m_rows.push_back(minute);
            last = now;
            cpuBefore = cpu;
            xvfbBefore = xvfb;
            // The dialog's received count before the device's sent one, its
            // sent count after the device's received one: what is on the way
            // is then never below zero.
            const long long received = m_dlg.RecvCount();
            const std::optional<DeviceCounts> device = m_device.counts();
            const long long sent = m_dlg.SendCount();
            if (!device)
                return false;
            std::printf("%6zu %9ld %7.2f %7.2f %4d %7d  %12lld / %-12llu (%4lld)   %9lld / %-9llu (%4lld)\n",
                        m_rows.size(), minute.rssKiB, minute.cpuPercent, minute.xvfbPercent, minute.descriptors,
                        minute.threads, received, static_cast<unsigned long long>(device->sent),
                        static_cast<long long>(device->sent) - received, sent,
                        static_cast<unsigned long long>(device->received),
                        sent - static_cast<long long>(device->received));
            std::fflush(stdout);
            if (step < 2 * m_minutes)
                m_ui.click(IDC_HEX_DISPLAY_CHECK);
        }
        return finish();
    }

private:
    // Stops sending, lets the last bytes arrive, and sums up.
    bool finish()
    {
        m_ui.click(IDC_AUTO_SEND_CHECK);
        // The stream ends on its own once all its bytes are out; then both
        // counts must meet the device's exactly.
        std::optional<DeviceCounts> device;
        const auto cap = Clock::now() + std::chrono::seconds(60);
        bool exact = false;
        while (Clock::now() < cap) {
            IdleUntil(Clock::now() + std::chrono::milliseconds(200));
            if (!(device = m_device.counts()))
                return false;
            exact = device->sent == m_device.streamBytes()
                && static_cast<std::uint64_t>(m_dlg.RecvCount()) == device->sent
                && static_cast<std::uint64_t>(m_dlg.SendCount()) == device->received;
            if (exact)
                break;
        }
        m_ui.click(IDC_OPEN_BUTTON);

        const Minute& first = m_rows.front();
        long rssMax = 0;
        int fdsMin = first.descriptors, fdsMax = first.descriptors;
        int threadsMin = first.threads, threadsMax = first.threads;
        for (const Minute& m : m_rows) {
            rssMax = std::max(rssMax, m.rssKiB);
            fdsMin = std::min(fdsMin, m.descriptors);
            fdsMax = std::max(fdsMax, m.descriptors);
            threadsMin = std::min(threadsMin, m.threads);
            threadsMax = std::max(threadsMax, m.threads);
        }
        // The first and last ten minutes, or halves of a shorter run.
        const size_t window = std::max<size_t>(1, std::min<size_t>(10, m_rows.size() / 2));
        const double cpuFirst = MeanCpu(m_rows, 0, window);
        const double cpuLast = MeanCpu(m_rows, m_rows.size() - window, window);
        const double rssGrowth = static_cast<double>(m_rows.back().rssKiB - first.rssKiB) / 1024.0;
        const double rssPeak = static_cast<double>(rssMax - first.rssKiB) / 1024.0;
        const double drift = cpuFirst > 0 ? 100.0 * (cpuLast - cpuFirst) / cpuFirst : 0;
        std::printf("after %d minutes:\n", m_minutes);
        std::printf("  RSS after the first minute: grew %.2f MiB by the end, at most %.2f MiB (goal < 1 MiB): %s\n",
                    rssGrowth, rssPeak, rssPeak < 1.0 ? "met" : "NOT met");
        std::printf("  CPU: first %zu minutes %.2f %%, last %zu %.2f %%, %+.1f %% (goal within 20 %%): %s\n", window,
                    cpuFirst, window, cpuLast, drift, std::abs(drift) <= 20.0 ? "met" : "NOT met");
        std::printf("  descriptors %d to %d, threads %d to %d (goal flat): %s\n", fdsMin, fdsMax, threadsMin,
                    threadsMax, fdsMin == fdsMax && threadsMin == threadsMax ? "met" : "NOT met");
        std::printf("  received %lld of the %llu the device sent (its stream: %llu); sent %lld, the device received "
                    "%llu: %s\n",
                    m_dlg.RecvCount(), static_cast<unsigned long long>(device ? device->sent : 0),
                    static_cast<unsigned long long>(m_device.streamBytes()), m_dlg.SendCount(),
                    static_cast<unsigned long long>(device ? device->received : 0),
                    exact ? "exact" : "NOT exact");
        std::fflush(stdout);
        return true;
    }

    CTavrinDlg& m_dlg;
    testsupport::Ui& m_ui;
    Device& m_device;
    pid_t m_xvfb;
    int m_minutes;
    std::vector<Minute> m_rows;
};

std::optional<int> ParseMinutes(int argc, char** argv)
{
    if (argc == 1)
        return 60;
    char* end = nullptr;
    const long minutes = argc == 2 ? std::strtol(argv[1], &end, 10) : 0;
    if (argc != 2 || end == argv[1] || *end != '\0' || minutes < 1 || minutes > 100000)
        return std::nullopt;
    return static_cast<int>(minutes);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::printf(kUsage, argv[0]);
        return 0;
    }
    const std::optional<int> minutes = ParseMinutes(argc, argv);
    if (!minutes) {
        std::fprintf(stderr, kUsage, argv[0]);
        return 2;
    }

    benchsupport::Xvfb server;
    if (!server.start())
        return 1;
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    QApplication app(argc, argv);
    AfxSetResources(&g_tavrinResources);
    const benchsupport::BoxAnswerer boxes;

    Device device(static_cast<std::uint64_t>(kRate) * 60 * static_cast<std::uint64_t>(*minutes));
    if (!device.start())
        return 1;
    std::printf("soak: %d minutes, the dialog on the %s platform under Xvfb, Qt %s; the device streams %d bytes/s "
                "in 16-byte bursts, the dialog sends %zu bytes every 100 ms\n",
                *minutes, qPrintable(QGuiApplication::platformName()), qVersion(), kRate, std::strlen(kSendText));
    std::fflush(stdout);

    bool done = false;
    CTavrinDlg dlg;
    testsupport::RunDialog(dlg, [&](testsupport::Ui& ui) {
        Soak soak(dlg, ui, device, server.pid(), *minutes);
        done = soak.run();
    });
    return done ? 0 : 1;
}
