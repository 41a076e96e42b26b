// Cost of a message sent from a worker thread to a dialog's window:
// microseconds per message when 100,000 are sent back to back to an empty
// handler, and the CPU the hand-off costs at 3,840 messages a second (38,400
// baud); then the same bytes as the port engine hands them over, in series of
// 16 (one burst each).
//
// Usage: bench_framework_sendmessage [messages] [paced seconds]
#include <QApplication>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "bench/support/process.h"
#include "framework/afxwin.h"

namespace {

constexpr UINT kIddBench = 1;
constexpr UINT WM_BENCH = WM_USER + 7;
constexpr int kBurst = 16;

const AfxDlgTemplate kDialogs[] = {
    {kIddBench, "bench", WS_POPUP | WS_CAPTION, 0, false, 0, 0, 100, 50, nullptr, 0, nullptr, 0},
};
const AfxResourceModule kModule = {kDialogs, 1, nullptr, 0, nullptr, 0, nullptr, 0};

class CBenchDlg : public CDialog {
public:
    CBenchDlg(int messages, int pacedSeconds)
        : CDialog(kIddBench), m_messages(messages), m_pacedSeconds(pacedSeconds) {}

    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        QTimer::singleShot(0, [this] { m_worker = std::thread([this] { Measure(); }); });
        return TRUE;
    }

    void Join()
    {
        if (m_worker.joinable())
            m_worker.join();
    }

protected:
    afx_msg LRESULT OnBench(WPARAM, LPARAM) { return 0; }
    afx_msg LRESULT OnDone(WPARAM, LPARAM)
    {
        EndDialog(IDOK);
        return 0;
    }
    DECLARE_MESSAGE_MAP()

private:
    void Measure()
    {
        using Clock = std::chrono::steady_clock;
        const HWND hwnd = m_hWnd;
        for (int i = 0; i < 1000; ++i)  // warm up
            ::SendMessageA(hwnd, WM_BENCH, 0, 0);
        const auto start = Clock::now();
        for (int i = 0; i < m_messages; ++i)
            ::SendMessageA(hwnd, WM_BENCH, static_cast<WPARAM>(i & 0xFF), 1);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("back to back: %d messages in %.3f s: %.2f us per cross-thread SendMessageA\n", m_messages,
                    seconds, seconds * 1e6 / m_messages);

        AFX_SERIES_MSG burst[kBurst];
        for (int i = 0; i < kBurst; ++i)
            burst[i] = {WM_BENCH, static_cast<WPARAM>(i), 1};
        const auto seriesStart = Clock::now();
        for (int i = 0; i < m_messages / kBurst; ++i)
            AfxSendMessageSeries(hwnd, burst, kBurst);
        const double seriesSeconds = std::chrono::duration<double>(Clock::now() - seriesStart).count();
        std::printf("in series of %d: %.2f us per series, %.2f us per message\n", kBurst,
                    seriesSeconds * 1e6 / (m_messages / kBurst), seriesSeconds * 1e6 / m_messages);

        if (m_pacedSeconds > 0) {
            // One message every 1/3840 s, as a 38,400-baud line delivers bytes.
            Paced(3840, [&](int i) { ::SendMessageA(hwnd, WM_BENCH, static_cast<WPARAM>(i & 0xFF), 1); });
            Paced(3840 / kBurst, [&](int) { AfxSendMessageSeries(hwnd, burst, kBurst); });
        }
        std::fflush(stdout);
        ::SendMessageA(hwnd, WM_BENCH + 1, 0, 0);
    }

    // Calls send rate times a second for the paced time and prints the CPU.
    template <typename Send>
    void Paced(int rate, Send send)
    {
        using Clock = std::chrono::steady_clock;
        const auto period = std::chrono::nanoseconds(1'000'000'000 / rate);
        const int count = rate * m_pacedSeconds;
        const double cpuStart = benchsupport::CpuSeconds();
        const auto pacedStart = Clock::now();
        auto next = pacedStart;
        for (int i = 0; i < count; ++i) {
            next += period;
            std::this_thread::sleep_until(next);
            send(i);
        }
        const double wall = std::chrono::duration<double>(Clock::now() - pacedStart).count();
        const double cpu = benchsupport::CpuSeconds() - cpuStart;
        std::printf("paced: %d hand-offs at %d/s in %.2f s: process CPU %.1f %% of one core\n", count, rate, wall,
                    100.0 * cpu / wall);
    }

    int m_messages;
    int m_pacedSeconds;
    std::thread m_worker;
};

BEGIN_MESSAGE_MAP(CBenchDlg, CDialog)
    ON_MESSAGE(WM_BENCH, &CBenchDlg::OnBench)
    ON_MESSAGE(WM_BENCH + 1, &CBenchDlg::OnDone)
END_MESSAGE_MAP()

}  // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const int messages = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int pacedSeconds = argc > 2 ? std::atoi(argv[2]) : 3;
    QApplication app(argc, argv);
    AfxSetResources(&kModule);
    CBenchDlg dlg(messages > 0 ? messages : 100000, pacedSeconds);
    dlg.DoModal();
    dlg.Join();
    return 0;
}
