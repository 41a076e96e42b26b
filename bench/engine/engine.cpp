// The port engine alone, with a real owner window (offscreen) whose handler
// does nothing, and a pseudo-terminal as the device. Prints:
//   (a) bytes per second delivered to the owner for a flood (1 MiB by default);
//   (b) wake-ups per second of the engine's threads (those the opening
//       started) over 10 s with the port open and no traffic, from their
//       context switches in /proc/self/task/*/status, and the port layer's own
//       count of wake-ups to serve a port;
//   (c) CPU time per received byte during (a), for the whole process less the
//       thread that plays the device;
//   (d) CPU time and context switches per burst while the device sends
//       16-byte bursts at 960 bytes per second (a UART's FIFO at 9600 baud):
//       the whole process less the device thread, and the engine's threads
//       and the window thread each on their own (CPU from schedstat);
//   (e) how long a stop takes, and the line's lock with it, while a
//       200,000-byte write waits for a device that does not read.
// Usage: bench_engine [flood-bytes [idle-seconds [paced-seconds]]]
#include <QApplication>
#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <pty.h>
#include <sys/file.h>
#include <set>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "bench/support/process.h"
#include "framework/afxwin.h"
#include "platform/faults.h"
#include "serial/commport.h"

namespace {

constexpr UINT IDD_BENCH_OWNER = 960;
constexpr int kCom = 1;

class COwnerDlg : public CDialog {
public:
    COwnerDlg() : CDialog(IDD_BENCH_OWNER) {}
    std::function<void(COwnerDlg&)> m_body;
    unsigned long m_nReceived = 0;

protected:
    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        QTimer::singleShot(0, [this] {
            m_body(*this);
            EndDialog(IDOK);
        });
        return TRUE;
    }
    afx_msg LRESULT OnRxChar(WPARAM, LPARAM)
    {
        ++m_nReceived;
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(COwnerDlg, CDialog)
    ON_MESSAGE(WM_PORT_RXCHAR, &COwnerDlg::OnRxChar)
END_MESSAGE_MAP()

std::set<std::string> Tasks()
{
    std::set<std::string> tasks;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.')
                tasks.insert(entry->d_name);
        closedir(dir);
    }
    return tasks;
}

// Nanoseconds one thread has run.
long long RunNs(const std::string& task)
{
    std::ifstream schedstat("/proc/self/task/" + task + "/schedstat");
    long long ns = 0;
    schedstat >> ns;
    return ns;
}

// Voluntary plus involuntary context switches of one thread.
long Switches(const std::string& task)
{
    std::ifstream status("/proc/self/task/" + task + "/status");
    long total = 0;
    std::string key;
    while (status >> key) {
        long value;
        if ((key == "voluntary_ctxt_switches:" || key == "nonvoluntary_ctxt_switches:") && status >> value)
            total += value;
    }
    return total;
}

void WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            std::perror("device write");
            return;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
}

// Sums of the engine's threads' context switches and run time.
struct ThreadCounts {
    long switches = 0;
    long long ns = 0;
};

ThreadCounts CountsOf(const std::set<std::string>& tasks)
{
    ThreadCounts counts;
    for (const std::string& task : tasks) {
        counts.switches += Switches(task);
        counts.ns += RunNs(task);
    }
    return counts;
}

// A pseudo-terminal as the device behind COM1; the master, or -1.
int OpenDevice(std::string* slaveName)
{
    int master = -1, slave = -1;
    char name[128];
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return -1;
    }
    termios t;
    tcgetattr(master, &t);
    cfmakeraw(&t);
    tcsetattr(master, TCSANOW, &t);
    close(slave);
    setenv("TAVRIN_COM1", name, 1);
    *slaveName = name;
    return master;
}

// (b) The port open with no traffic.
void MeasureIdle(const std::set<std::string>& engine, int idleSeconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // let start-up settle
    const long switchesBefore = CountsOf(engine).switches;
    const auto portBefore = platform::faults::PortWakeups();
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    const long switches = CountsOf(engine).switches - switchesBefore;
    const auto portWakeups = platform::faults::PortWakeups() - portBefore;
    std::printf("engine threads: %zu\n", engine.size());
    std::printf("(b) idle for %d s: %.2f wake-ups/s of the engine's threads (%ld context switches), "
                "%llu port wake-ups\n",
                idleSeconds, static_cast<double>(switches) / idleSeconds, switches,
                static_cast<unsigned long long>(portWakeups));
}

// (a) and (c): a flood.
void MeasureFlood(COwnerDlg& d, int master, size_t floodBytes)
{
    const std::string flood(floodBytes, 'x');
    double deviceCpu = 0;
    const double cpuBefore = benchsupport::CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    std::thread device([&] {
        WriteAll(master, flood.data(), flood.size());
        deviceCpu = benchsupport::ThreadCpuSeconds();
    });
    const unsigned long before = d.m_nReceived;
    AfxWaitServingMessages([&] { return d.m_nReceived >= before + floodBytes; });
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    device.join();
    const double cpu = benchsupport::CpuSeconds() - cpuBefore - deviceCpu;
    std::printf("(a) flood of %zu bytes to an empty handler: %.0f bytes/s (%.3f s)\n", floodBytes,
                static_cast<double>(floodBytes) / seconds, seconds);
    std::printf("(c) CPU per received byte: %.2f us (%.3f s of CPU for the flood, device excluded)\n",
                cpu / static_cast<double>(floodBytes) * 1e6, cpu);
}

// (d) Paced bursts, on an absolute schedule.
void MeasurePaced(COwnerDlg& d, int master, const std::set<std::string>& engine, int pacedSeconds)
{
    constexpr int kBurst = 16;
    constexpr long kPeriodNs = 1000000000L * kBurst / 960;
    const int bursts = pacedSeconds * 960 / kBurst;
    const unsigned long receivedBefore = d.m_nReceived;
    const ThreadCounts engineBefore = CountsOf(engine);
    const std::set<std::string> window = {std::to_string(gettid())};
    const ThreadCounts windowBefore = CountsOf(window);
    double deviceCpu = 0;
    const double cpuBefore = benchsupport::CpuSeconds();
    std::thread pacer([&] {
        const char burst[kBurst] = {};
        timespec next{};
        clock_gettime(CLOCK_MONOTONIC, &next);
        for (int i = 0; i < bursts; ++i) {
            next.tv_nsec += kPeriodNs;
            next.tv_sec += next.tv_nsec / 1000000000L;
            next.tv_nsec %= 1000000000L;
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
            WriteAll(master, burst, sizeof burst);
        }
        deviceCpu = benchsupport::ThreadCpuSeconds();
    });
    AfxWaitServingMessages(
        [&] { return d.m_nReceived >= receivedBefore + static_cast<unsigned long>(bursts) * kBurst; });
    pacer.join();
    const double cpu = benchsupport::CpuSeconds() - cpuBefore - deviceCpu;
    const ThreadCounts engineAfter = CountsOf(engine);
    const ThreadCounts windowAfter = CountsOf(window);
    std::printf("(d) %d bursts of %d bytes at 960 B/s, per burst: %.1f us of CPU in all (engine's threads "
                "%.1f us, window thread %.1f us), context switches %.2f in the engine's threads, %.2f in the "
                "window thread\n",
                bursts, kBurst, cpu / bursts * 1e6, static_cast<double>(engineAfter.ns - engineBefore.ns) / bursts / 1e3,
                static_cast<double>(windowAfter.ns - windowBefore.ns) / bursts / 1e3,
                static_cast<double>(engineAfter.switches - engineBefore.switches) / bursts,
                static_cast<double>(windowAfter.switches - windowBefore.switches) / bursts);
}

// Serves messages until the monitor thread has ended or 10 s have passed (a
// waker ends the wait then); whether it ended.
bool AwaitMonitorEnd(CCommPort& port)
{
    const auto cap = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::mutex wakerMutex;
    std::condition_variable wakerCv;
    bool waitOver = false;
    std::thread waker([&] {
        std::unique_lock lock(wakerMutex);
        wakerCv.wait_until(lock, cap, [&] { return waitOver; });
        lock.unlock();
        AfxWakeWaiters();
    });
    AfxWaitServingMessages([&] { return !port.m_bMonitorRunning || std::chrono::steady_clock::now() >= cap; });
    {
        std::lock_guard lock(wakerMutex);
        waitOver = true;
    }
    wakerCv.notify_all();
    waker.join();
    return !port.m_bMonitorRunning;
}

// (e) A stop while a write is blocked: nobody reads the master now. False
// when the thread did not end.
bool MeasureStop(CCommPort& port, const std::string& slaveName)
{
    const std::string big(200000, 'w');
    port.Send(reinterpret_cast<const BYTE*>(big.data()), static_cast<DWORD>(big.size()));
    // The thread has begun the write once the device holds back the rest.
    // Its last message of (d) may still wait to be served.
    COMSTAT stat{};
    for (int i = 0; i < 10000 && !(ClearCommError(port.m_hPort, nullptr, &stat) && stat.cbOutQue > 0); ++i) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const auto stopStart = std::chrono::steady_clock::now();
    port.SignalStop();
    const bool stopped = AwaitMonitorEnd(port);
    const double stopMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - stopStart).count();
    const int other = open(slaveName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const bool lineFree = other >= 0 && flock(other, LOCK_EX | LOCK_NB) == 0;
    if (other >= 0)
        close(other);
    std::printf("(e) stop during a blocked 200,000-byte write: %s in %.1f ms, line %s\n",
                stopped ? "ended" : "NOT ended", stopMs, lineFree ? "free" : "still locked");
    return stopped;
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const size_t floodBytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1024 * 1024;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 10;
    const int pacedSeconds = argc > 3 ? std::atoi(argv[3]) : 5;
    QApplication app(argc, argv);

    static const AfxDlgTemplate owner = {IDD_BENCH_OWNER, "Owner", WS_POPUP | WS_CAPTION, 0, false, 0, 0, 100, 50,
                                         "MS Shell Dlg", 8, nullptr, 0};
    static const AfxResourceModule module = {&owner, 1, nullptr, 0, nullptr, 0, nullptr, 0};
    AfxSetResources(&module);

    std::string slaveName;
    const int master = OpenDevice(&slaveName);
    if (master < 0)
        return 1;

    int status = 0;
    COwnerDlg dlg;
    dlg.m_body = [&](COwnerDlg& d) {
        const std::set<std::string> before = Tasks();
        CCommPort port;
        if (!port.Open(&d, kCom, 38400, 'N', 8, 1, EV_RXCHAR | EV_RXFLAG, 512) || !port.StartMonitor()) {
            std::fprintf(stderr, "cannot open the port\n");
            status = 1;
            return;
        }
        // The engine's threads are those the opening started.
        std::set<std::string> engine;
        for (const std::string& task : Tasks())
            if (!before.count(task))
                engine.insert(task);
        MeasureIdle(engine, idleSeconds);
        MeasureFlood(d, master, floodBytes);
        MeasurePaced(d, master, engine, pacedSeconds);
        if (!MeasureStop(port, slaveName)) {
            // The engine cannot be destroyed while its thread is stuck.
            std::fflush(stdout);
            std::_Exit(1);
        }
    };
    dlg.DoModal();
    close(master);
    return status;
}
