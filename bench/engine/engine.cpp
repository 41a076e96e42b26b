// The port engine alone, with a real owner window (offscreen) whose handler
// does nothing, and a pseudo-terminal as the device. Prints:
//   (a) bytes per second delivered to the owner for a flood (1 MiB by default);
//   (b) wake-ups per second of the engine's threads (the monitor thread and
//       the port's reader) over 10 s with the port open and no traffic, from
//       their context switches in /proc/self/task/*/status, and the reader's
//       own count of its wake-ups;
//   (c) CPU time per received byte during (a), for the whole process less the
//       thread that plays the device.
// Usage: bench_engine [flood-bytes [idle-seconds]]
#include <QApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <pty.h>
#include <set>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>

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

double CpuSeconds(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

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

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const size_t floodBytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1024 * 1024;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 10;
    QApplication app(argc, argv);

    static const AfxDlgTemplate owner = {IDD_BENCH_OWNER, "Owner", WS_POPUP | WS_CAPTION, 0, false, 0, 0, 100, 50,
                                         "MS Shell Dlg", 8, nullptr, 0};
    static const AfxResourceModule module = {&owner, 1, nullptr, 0, nullptr, 0, nullptr, 0};
    AfxSetResources(&module);

    int master = -1, slave = -1;
    char name[128];
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    termios t;
    tcgetattr(master, &t);
    cfmakeraw(&t);
    tcsetattr(master, TCSANOW, &t);
    close(slave);
    setenv("TAVRIN_COM1", name, 1);

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

        // (b) idle: the engine's threads are those the opening started.
        std::set<std::string> engine;
        for (const std::string& task : Tasks())
            if (!before.count(task))
                engine.insert(task);
        std::this_thread::sleep_for(std::chrono::milliseconds(200)); // let start-up settle
        long switchesBefore = 0;
        for (const std::string& task : engine)
            switchesBefore += Switches(task);
        const auto readerBefore = platform::faults::ReaderWakeups();
        std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
        long switchesAfter = 0;
        for (const std::string& task : engine)
            switchesAfter += Switches(task);
        const auto readerAfter = platform::faults::ReaderWakeups();

        // (a) and (c): a flood.
        const std::string flood(floodBytes, 'x');
        double deviceCpu = 0;
        const double cpuBefore = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        const auto start = std::chrono::steady_clock::now();
        std::thread device([&] {
            WriteAll(master, flood.data(), flood.size());
            deviceCpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        });
        AfxWaitServingMessages([&] { return d.m_nReceived >= floodBytes; });
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        device.join();
        const double cpu = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuBefore - deviceCpu;

        std::printf("engine threads: %zu\n", engine.size());
        std::printf("(a) flood of %zu bytes to an empty handler: %.0f bytes/s (%.3f s)\n", floodBytes,
                    static_cast<double>(floodBytes) / seconds, seconds);
        std::printf("(b) idle for %d s: %.2f wake-ups/s of the engine's threads (%ld context switches), "
                    "%llu reader wake-ups\n",
                    idleSeconds, static_cast<double>(switchesAfter - switchesBefore) / idleSeconds,
                    switchesAfter - switchesBefore, static_cast<unsigned long long>(readerAfter - readerBefore));
        std::printf("(c) CPU per received byte: %.2f us (%.3f s of CPU for the flood, device excluded)\n",
                    cpu / static_cast<double>(floodBytes) * 1e6, cpu);
    };
    dlg.DoModal();
    close(master);
    return status;
}
