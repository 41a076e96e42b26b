// Ports over real pseudo-terminals.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "platform/event.h"
#include "platform/faults.h"
#include "platform/winbase.h"
#include "pty.h"
#include "tests/support/baud.h"

namespace {

constexpr int kCom = 7;
// How long a test waits for something that should come at once before it
// calls it a hang. Never a measurement.
constexpr DWORD kHang = 10000;

// An OVERLAPPED with an event of its own.
struct Overlapped : OVERLAPPED {
    Overlapped() : OVERLAPPED{} { hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    ~Overlapped() { CloseHandle(hEvent); }
    bool Signalled() const { return WaitForSingleObject(hEvent, 0) == WAIT_OBJECT_0; }
    bool AwaitSignal() const { return WaitForSingleObject(hEvent, kHang) == WAIT_OBJECT_0; }
};

using testsupport::SpeedOf;

// Waits until the thread is blocked in poll(), as its current system call in
// /proc says.
bool AwaitInPoll(const std::atomic<pid_t>& tid)
{
    for (DWORD i = 0; i < kHang; ++i) {
        if (const pid_t id = tid.load()) {
            std::ifstream syscall("/proc/self/task/" + std::to_string(id) + "/syscall");
            long number = -1;
            if (syscall >> number && (number == SYS_poll || number == SYS_ppoll))
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

class Port : public testing::Test {
protected:
    void SetUp() override
    {
        m_line.NameAs(kCom);
        m_port = OpenCom(kCom);
        ASSERT_NE(m_port, INVALID_HANDLE_VALUE) << "error " << GetLastError();
        ASSERT_TRUE(SetCommMask(m_port, EV_RXCHAR));
    }
    void TearDown() override
    {
        platform::faults::ClearAll();
        if (m_port != INVALID_HANDLE_VALUE)
            CloseHandle(m_port);
    }

    DWORD InQueue()
    {
        COMSTAT stat{};
        DWORD errors = 0;
        EXPECT_TRUE(ClearCommError(m_port, &errors, &stat));
        return stat.cbInQue;
    }

    // Waits until at least `count` bytes are queued, through comm events.
    void AwaitQueued(DWORD count)
    {
        while (InQueue() < count) {
            Overlapped ov;
            DWORD events = 0;
            if (!WaitCommEvent(m_port, &events, &ov)) {
                ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
                ASSERT_TRUE(ov.AwaitSignal()) << "no bytes came";
            }
        }
    }

    // Starts a read with no time limits that the queue cannot fill yet.
    void BeginRead(char* buffer, DWORD size, Overlapped& ov)
    {
        COMMTIMEOUTS none{0, 0, 0, 0, 0};
        ASSERT_TRUE(SetCommTimeouts(m_port, &none));
        DWORD done = 0;
        ASSERT_FALSE(ReadFile(m_port, buffer, size, &done, &ov));
        ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    }

    std::string ReadAll(DWORD count)
    {
        std::string got(count, '\0');
        Overlapped ov;
        DWORD done = 0;
        if (!ReadFile(m_port, got.data(), count, &done, &ov)) {
            EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
            EXPECT_TRUE(GetOverlappedResult(m_port, &ov, &done, TRUE));
        }
        got.resize(done);
        return got;
    }

    PtyLine m_line;
    HANDLE m_port = INVALID_HANDLE_VALUE;
};

TEST_F(Port, IsHeldExclusivelyAndReleasedAtClose)
{
    SetLastError(0);
    EXPECT_EQ(OpenCom(kCom), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    ASSERT_TRUE(CloseHandle(m_port));
    m_port = OpenCom(kCom);
    ASSERT_NE(m_port, INVALID_HANDLE_VALUE) << "the device must be free again at once";
}

TEST_F(Port, AnotherProgramHoldingTheLineKeepsUsOut)
{
    ASSERT_TRUE(CloseHandle(m_port));
    m_port = INVALID_HANDLE_VALUE;
    // Another terminal program that locks the device, as well-behaved ones do.
    const int other = open(m_line.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(OpenCom(kCom), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    close(other);
    m_port = OpenCom(kCom);
    EXPECT_NE(m_port, INVALID_HANDLE_VALUE);
}

TEST_F(Port, ProgramsThatDoNotLockAreKeptOutToo)
{
    // Another program, not root and not using locks: a child that gives up
    // root (when it has it) and opens the device as such a program would.
    ASSERT_EQ(chmod(m_line.slavePath().c_str(), 0666), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(2);
        const int fd = open(m_line.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        _exit(fd < 0 && errno == EBUSY ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the open was not refused as busy; 2: could not give up root";
}

TEST(PortOpen, MissingDevicesAndOtherNames)
{
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir = tmp && *tmp ? tmp : "/tmp";
    setenv("TAVRIN_COM8", (dir + "/tavrin-no-such-device").c_str(), 1);
    SetLastError(0);
    EXPECT_EQ(OpenCom(8), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    // A file that is not a terminal.
    std::string pattern = dir + "/tavrin-file-XXXXXX";
    const int fd = mkstemp(pattern.data());
    ASSERT_GE(fd, 0) << pattern;
    setenv("TAVRIN_COM8", pattern.c_str(), 1);
    EXPECT_EQ(OpenCom(8), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
    close(fd);
    unlink(pattern.c_str());
    unsetenv("TAVRIN_COM8");

    for (const char* name : {"LPT1", "COM", "COM0", "COM256", "COM1x", "/dev/ttyS0", ""}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                              nullptr),
                  INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    }
}

TEST(PortOpen, AccessOtherThanOverlappedReadingAndWritingIsRefused)
{
    PtyLine line;
    line.NameAs(kCom);
    const DWORD rw = GENERIC_READ | GENERIC_WRITE;
    EXPECT_EQ(CreateFileA("COM7", rw, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(CreateFileA("COM7", GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(CreateFileA("COM7", rw, 1, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    HANDLE port = CreateFileA("\\\\.\\com7", rw, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    EXPECT_NE(port, INVALID_HANDLE_VALUE);
    CloseHandle(port);
}

TEST_F(Port, SettingsOfTheConsoleListsReadBack)
{
    // What a pseudo-terminal holds (speed, stop bits) is read from the device,
    // through the master as the far end sees it; the rest from the record.
    for (DWORD baud : {300u, 600u, 1200u, 2400u, 4800u, 9600u, 19200u, 38400u})
        for (BYTE parity : {BYTE{NOPARITY}, BYTE{ODDPARITY}, BYTE{EVENPARITY}})
            for (BYTE data : {BYTE{8}, BYTE{7}, BYTE{6}})
                for (BYTE stop : {BYTE{ONESTOPBIT}, BYTE{TWOSTOPBITS}}) {
                    SCOPED_TRACE(testing::Message() << baud << ' ' << int(parity) << ' ' << int(data) << ' '
                                                    << int(stop));
                    DCB dcb{};
                    ASSERT_TRUE(GetCommState(m_port, &dcb));
                    dcb.BaudRate = baud;
                    dcb.Parity = parity;
                    dcb.ByteSize = data;
                    dcb.StopBits = stop;
                    dcb.EvtChar = 'q';
                    ASSERT_TRUE(SetCommState(m_port, &dcb)) << GetLastError();
                    DCB back{};
                    ASSERT_TRUE(GetCommState(m_port, &back));
                    EXPECT_EQ(back.BaudRate, baud);
                    EXPECT_EQ(back.Parity, parity);
                    EXPECT_EQ(back.ByteSize, data);
                    EXPECT_EQ(back.StopBits, stop);
                    EXPECT_EQ(back.EvtChar, 'q');
                    termios t;
                    ASSERT_EQ(tcgetattr(m_line.master(), &t), 0);
                    EXPECT_EQ(cfgetospeed(&t), SpeedOf(baud));
                    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, stop == TWOSTOPBITS);
                    EXPECT_EQ(t.c_lflag & ICANON, 0u) << "raw bytes";
                }
}

TEST_F(Port, RefusedSettingLeavesThePortAsItWas)
{
    DCB before{};
    ASSERT_TRUE(GetCommState(m_port, &before));
    DCB dcb = before;
    dcb.BaudRate = 12345;
    SetLastError(0);
    EXPECT_FALSE(SetCommState(m_port, &dcb));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    dcb = before;
    dcb.BaudRate = 4800;
    dcb.fOutxDsrFlow = 1;
    EXPECT_FALSE(SetCommState(m_port, &dcb));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    DCB after{};
    ASSERT_TRUE(GetCommState(m_port, &after));
    EXPECT_EQ(after.BaudRate, before.BaudRate);
    EXPECT_EQ(after.fOutxDsrFlow, 0u);
}

TEST_F(Port, EventWaitRules)
{
    ASSERT_TRUE(SetCommMask(m_port, EV_RXCHAR | EV_RXFLAG));
    DCB dcb{};
    ASSERT_TRUE(GetCommState(m_port, &dcb));
    dcb.EvtChar = 'q';
    ASSERT_TRUE(SetCommState(m_port, &dcb));

    Overlapped ov;
    DWORD events = 0xdeadbeef;
    SetEvent(ov.hEvent); // a wait that begins clears its event
    EXPECT_FALSE(WaitCommEvent(m_port, &events, &ov));
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    EXPECT_FALSE(ov.Signalled());

    // A second wait is refused and leaves the outstanding one alone.
    DWORD otherEvents = 0;
    EXPECT_FALSE(WaitCommEvent(m_port, &otherEvents, &ov));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    DWORD transferred = 0;
    EXPECT_FALSE(GetOverlappedResult(m_port, &ov, &transferred, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);

    m_line.Send("xq");
    ASSERT_TRUE(ov.AwaitSignal());
    EXPECT_TRUE(GetOverlappedResult(m_port, &ov, &transferred, FALSE));
    // Both bytes may come in one read or two; the event character's must be seen.
    while (!(events & EV_RXFLAG)) {
        ASSERT_EQ(events & ~DWORD{EV_RXCHAR | EV_RXFLAG}, 0u);
        if (!WaitCommEvent(m_port, &events, &ov)) {
            ASSERT_TRUE(ov.AwaitSignal());
        }
    }
    AwaitQueued(2);
    EXPECT_EQ(ReadAll(2), "xq");

    // Bytes that come while no wait is outstanding complete the next at once.
    ASSERT_FALSE(WaitCommEvent(m_port, &events, &ov));
    m_line.Send("a");
    ASSERT_TRUE(ov.AwaitSignal());
    COMMTIMEOUTS none{0, 0, 0, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(m_port, &none));
    char ab[2];
    DWORD done = 0;
    Overlapped readOv;
    if (!ReadFile(m_port, ab, 2, &done, &readOv)) {
        m_line.Send("b");
        ASSERT_TRUE(GetOverlappedResult(m_port, &readOv, &done, TRUE));
    }
    ASSERT_EQ(std::string(ab, done), "ab");
    ASSERT_TRUE(WaitCommEvent(m_port, &events, &ov)) << "the b came with no wait outstanding";
    EXPECT_EQ(events, DWORD{EV_RXCHAR});
    EXPECT_TRUE(ov.Signalled());

    // A new mask ends the outstanding wait with no events.
    ASSERT_FALSE(WaitCommEvent(m_port, &events, &ov));
    ASSERT_TRUE(SetCommMask(m_port, EV_RXCHAR));
    ASSERT_TRUE(ov.Signalled());
    EXPECT_EQ(events, 0u);
    DWORD mask = 0;
    EXPECT_TRUE(GetCommMask(m_port, &mask));
    EXPECT_EQ(mask, DWORD{EV_RXCHAR});

    ASSERT_TRUE(SetCommMask(m_port, 0));
    EXPECT_FALSE(WaitCommEvent(m_port, &events, &ov));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(SetCommMask(m_port, EV_CTS));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_FALSE(SetCommMask(m_port, 0x10000));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(Port, BytesPassBothWaysWhole)
{
    std::string all;
    for (int i = 0; i < 1000; ++i)
        all += static_cast<char>(i % 256);
    m_line.Send(all);
    AwaitQueued(static_cast<DWORD>(all.size()));
    EXPECT_EQ(ReadAll(static_cast<DWORD>(all.size())), all);
    EXPECT_EQ(InQueue(), 0u);

    Overlapped ov;
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(m_port, all.data(), static_cast<DWORD>(all.size()), &written, &ov));
    EXPECT_EQ(written, all.size());
    EXPECT_TRUE(ov.Signalled());
    EXPECT_EQ(m_line.Receive(all.size()), all);

    ASSERT_TRUE(WriteFile(m_port, "", 0, &written, &ov));
    EXPECT_EQ(written, 0u);
}

TEST_F(Port, AFloodLargerThanTheQueueArrivesInOrder)
{
    std::string flood;
    for (int i = 0; i < 300000; ++i)
        flood += static_cast<char>((i * 7) % 251);
    std::thread sender([&] { m_line.Send(flood); });
    // Let the queue fill up (64 KiB), so that the reader has to stop reading
    // the device and start again as the queue drains.
    AwaitQueued(64 * 1024);
    std::string got;
    while (got.size() < flood.size()) {
        AwaitQueued(1);
        got += ReadAll(InQueue());
    }
    sender.join();
    EXPECT_TRUE(got == flood);
}

TEST_F(Port, WriteTheDeviceCannotTakeYetCompletesLater)
{
    // Nobody reads the far end, so the terminal's buffer fills.
    const std::string big(256 * 1024, 'w');
    Overlapped ov;
    DWORD written = 0;
    ASSERT_FALSE(WriteFile(m_port, big.data(), static_cast<DWORD>(big.size()), &written, &ov));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    EXPECT_FALSE(GetOverlappedResult(m_port, &ov, &written, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
    COMSTAT stat{};
    ASSERT_TRUE(ClearCommError(m_port, nullptr, &stat));
    EXPECT_GT(stat.cbOutQue, 0u);
    // A second write while one is outstanding is refused.
    Overlapped other;
    EXPECT_FALSE(WriteFile(m_port, "x", 1, &written, &other));
    EXPECT_EQ(GetLastError(), ERROR_BUSY);

    std::string received;
    std::thread device([&] { received = m_line.Receive(big.size()); });
    EXPECT_TRUE(GetOverlappedResult(m_port, &ov, &written, TRUE));
    EXPECT_EQ(written, big.size());
    device.join();
    EXPECT_TRUE(received == big);
}

// A look that does not wait, such as a worker takes between two pieces of
// work, lets a write go on as far as the device takes it by then.
TEST_F(Port, LooksThatDoNotWaitLetAWriteGoOn)
{
    const std::string big(256 * 1024, 'w');
    using Look = std::function<bool(Overlapped&)>;
    const Look looks[] = {
        [](Overlapped& ov) { return ov.Signalled(); },
        [this](Overlapped& ov) {
            DWORD written = 0;
            return GetOverlappedResult(m_port, &ov, &written, FALSE) != FALSE;
        },
    };
    for (const Look& done : looks) {
        Overlapped ov;
        DWORD written = 0;
        ASSERT_FALSE(WriteFile(m_port, big.data(), static_cast<DWORD>(big.size()), &written, &ov));
        ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
        std::string received;
        std::atomic<bool> deviceDone{false};
        std::thread device([&] {
            received = m_line.Receive(big.size());
            deviceDone = true;
        });
        while (!done(ov) && !deviceDone)
            std::this_thread::yield();
        device.join();
        EXPECT_TRUE(GetOverlappedResult(m_port, &ov, &written, FALSE));
        EXPECT_EQ(written, big.size());
        EXPECT_TRUE(received == big);
    }
}

TEST_F(Port, PurgeEmptiesTheQueueAndAbortsWhatIsOutstanding)
{
    m_line.Send("abcdef");
    AwaitQueued(6);
    ASSERT_TRUE(PurgeComm(m_port, PURGE_RXCLEAR));
    EXPECT_EQ(InQueue(), 0u);

    char buffer[4];
    DWORD done = 0;
    Overlapped ov;
    BeginRead(buffer, sizeof buffer, ov);
    Overlapped second;
    EXPECT_FALSE(ReadFile(m_port, buffer, sizeof buffer, &done, &second));
    EXPECT_EQ(GetLastError(), ERROR_BUSY);
    ASSERT_TRUE(PurgeComm(m_port, PURGE_RXABORT));
    EXPECT_TRUE(ov.Signalled());
    EXPECT_FALSE(GetOverlappedResult(m_port, &ov, &done, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);

    EXPECT_FALSE(PurgeComm(m_port, 0x10));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(PurgeComm(m_port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR));
}

TEST_F(Port, CloseAbortsOutstandingOperations)
{
    ASSERT_TRUE(SetCommMask(m_port, EV_RXCHAR));
    Overlapped ov;
    DWORD events = 0;
    ASSERT_FALSE(WaitCommEvent(m_port, &events, &ov));
    ASSERT_TRUE(CloseHandle(m_port));
    EXPECT_TRUE(ov.Signalled());
    EXPECT_EQ(ov.Internal, ERROR_OPERATION_ABORTED);
    EXPECT_FALSE(ClearCommError(m_port, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    m_port = INVALID_HANDLE_VALUE;
}

TEST_F(Port, IdlePortAndGoneDeviceCostNoWakeUps)
{
    ASSERT_TRUE(SetCommMask(m_port, EV_RXCHAR | EV_ERR));
    Overlapped ov;
    DWORD events = 0;
    ASSERT_FALSE(WaitCommEvent(m_port, &events, &ov));
    // A thread waiting on an idle port sleeps.
    const auto idle = platform::faults::PortWakeups();
    EXPECT_EQ(WaitForSingleObject(ov.hEvent, 100), WAIT_TIMEOUT);
    EXPECT_EQ(platform::faults::PortWakeups(), idle) << "an idle port woke up";

    // Bytes, then the device goes away: the bytes are still delivered, then
    // EV_ERR, then failures.
    m_line.Send("ab");
    ASSERT_TRUE(ov.AwaitSignal());
    EXPECT_EQ(events, DWORD{EV_RXCHAR});
    while (InQueue() < 2) {
        if (!WaitCommEvent(m_port, &events, &ov)) {
            ASSERT_TRUE(ov.AwaitSignal());
        }
    }
    ASSERT_FALSE(WaitCommEvent(m_port, &events, &ov));
    m_line.HangUp();
    ASSERT_TRUE(ov.AwaitSignal());
    EXPECT_EQ(events, DWORD{EV_ERR});
    DWORD errors = 0;
    COMSTAT stat{};
    ASSERT_TRUE(ClearCommError(m_port, &errors, &stat));
    EXPECT_EQ(errors, DWORD{CE_IOE});
    EXPECT_EQ(stat.cbInQue, 2u);
    EXPECT_EQ(ReadAll(2), "ab");

    char byte;
    DWORD done;
    EXPECT_FALSE(ReadFile(m_port, &byte, 1, &done, &ov));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(WaitCommEvent(m_port, &events, &ov));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(ov.Signalled()) << "a failed wait must not look completed";
    EXPECT_FALSE(WriteFile(m_port, "x", 1, &done, &ov));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    DCB dcb{};
    EXPECT_FALSE(GetCommState(m_port, &dcb));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(PurgeComm(m_port, PURGE_RXCLEAR));

    const auto gone = platform::faults::PortWakeups();
    EXPECT_EQ(WaitForSingleObject(ov.hEvent, 100), WAIT_TIMEOUT);
    EXPECT_EQ(platform::faults::PortWakeups(), gone) << "a hung-up device keeps a waiting thread busy";
}

TEST_F(Port, AReadHoldingBytesWhenTheDeviceGoesCompletesWithThem)
{
    char buffer[8];
    Overlapped ov;
    BeginRead(buffer, sizeof buffer, ov);
    Overlapped waitOv;
    DWORD events = 0;
    ASSERT_FALSE(WaitCommEvent(m_port, &events, &waitOv));
    m_line.Send("ab");
    ASSERT_TRUE(waitOv.AwaitSignal()) << "no bytes came";
    m_line.HangUp();
    DWORD done = 0;
    EXPECT_TRUE(GetOverlappedResult(m_port, &ov, &done, TRUE));
    EXPECT_EQ(std::string(buffer, done), "ab");
}

TEST_F(Port, AWriteGoesOnWhileAnotherThreadWaitsOnThePort)
{
    // One thread waits for bytes; another starts a write the device cannot
    // take yet and does not wait for it. The waiting thread sees to the
    // write as the device makes room.
    Overlapped waitOv;
    DWORD events = 0;
    ASSERT_FALSE(WaitCommEvent(m_port, &events, &waitOv));
    DWORD waited = WAIT_FAILED;
    std::atomic<pid_t> waiterId{0};
    std::thread waiter([&] {
        waiterId = gettid();
        waited = WaitForSingleObject(waitOv.hEvent, kHang);
    });
    // The write must begin while the waiter already sleeps in poll().
    ASSERT_TRUE(AwaitInPoll(waiterId));
    const std::string big(256 * 1024, 'w');
    Overlapped writeOv;
    DWORD written = 0;
    ASSERT_FALSE(WriteFile(m_port, big.data(), static_cast<DWORD>(big.size()), &written, &writeOv));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    EXPECT_TRUE(m_line.Receive(big.size()) == big);
    // Watched on its descriptor alone, so that this thread does none of it.
    pollfd done{platform::LookupHandleAs<platform::Event>(writeOv.hEvent)->fd(), POLLIN, 0};
    EXPECT_EQ(poll(&done, 1, kHang), 1) << "the write was not completed";
    m_line.Send("x");
    waiter.join();
    EXPECT_EQ(waited, WAIT_OBJECT_0);
}

TEST_F(Port, DeviceGoneEndsAWaitWithoutErrorEvents)
{
    ASSERT_TRUE(SetCommMask(m_port, EV_RXCHAR | EV_RXFLAG));
    Overlapped ov;
    DWORD events = 0;
    ASSERT_FALSE(WaitCommEvent(m_port, &events, &ov));
    m_line.HangUp();
    ASSERT_TRUE(ov.AwaitSignal());
    DWORD transferred;
    EXPECT_FALSE(GetOverlappedResult(m_port, &ov, &transferred, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_TRUE(CloseHandle(m_port));
    m_port = INVALID_HANDLE_VALUE;
}

TEST_F(Port, InjectedFailures)
{
    DCB dcb{};
    platform::faults::Inject("GetCommState", ERROR_GEN_FAILURE, 1);
    EXPECT_FALSE(GetCommState(m_port, &dcb));
    EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
    EXPECT_TRUE(GetCommState(m_port, &dcb));
    platform::faults::Inject("WriteFile", ERROR_NOT_ENOUGH_MEMORY);
    Overlapped ov;
    DWORD done;
    EXPECT_FALSE(WriteFile(m_port, "x", 1, &done, &ov));
    EXPECT_FALSE(WriteFile(m_port, "x", 1, &done, &ov));
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    platform::faults::ClearAll();
    EXPECT_TRUE(WriteFile(m_port, "x", 1, &done, &ov));
}

} // namespace
