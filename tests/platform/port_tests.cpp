// Ports over real pseudo-terminals: exclusive opening, settings that roll
// back, the event-wait rules, purge and close aborts, a device that goes,
// read timeouts.
#include <fcntl.h>
#include <sys/stat.h>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>
#include <unistd.h>

#include "platform/faults.h"
#include "pty.h"

namespace {

class Port : public PortOnLine {
protected:
    void SetUp() override
    {
        PortOnLine::SetUp();
        ASSERT_TRUE(SetCommMask(m_port, EV_RXCHAR));
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
};

TEST_F(Port, IsHeldExclusivelyAgainstUsAndOtherProgramsAndReleasedAtClose)
{
    SetLastError(0);
    EXPECT_EQ(OpenCom(kNumber), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    ASSERT_TRUE(CloseHandle(m_port));
    m_port = OpenCom(kNumber);
    ASSERT_NE(m_port, INVALID_HANDLE_VALUE) << "the device must be free again at once";

    // Another program that does not lock is refused as busy. (One that locks
    // the device keeps us out: PortNames.WhyADeviceDidNotOpen.)
    ASSERT_EQ(chmod(m_line.slavePath().c_str(), 0666), 0);
    EXPECT_EQ(ExitStatusAsNobody([&] {
                  const int fd = open(m_line.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
                  return fd < 0 && errno == EBUSY ? 0 : 1;
              }),
              0) << "1: not refused as busy; 2: still root";
}

TEST_F(Port, RefusedSettingsLeaveThePortAsItWas)
{
    DCB before{};
    ASSERT_TRUE(GetCommState(m_port, &before));
    // The second is refused after a speed the port can do.
    const struct {
        DWORD baud, dsrFlow, error;
    } refused[] = {{12345, 0, ERROR_INVALID_PARAMETER}, {4800, 1, ERROR_NOT_SUPPORTED}};
    for (const auto& r : refused) {
        DCB dcb = before;
        dcb.BaudRate = r.baud;
        dcb.fOutxDsrFlow = r.dsrFlow;
        SetLastError(0);
        EXPECT_FALSE(SetCommState(m_port, &dcb));
        EXPECT_EQ(GetLastError(), r.error);
        DCB after{};
        ASSERT_TRUE(GetCommState(m_port, &after));
        EXPECT_TRUE(after.BaudRate == before.BaudRate && !after.fOutxDsrFlow) << after.BaudRate;
    }
    // A read that returns on any byte needs an end.
    COMMTIMEOUTS anyByteWithoutAnEnd{MAXDWORD, MAXDWORD, MAXDWORD, 0, 0};
    EXPECT_FALSE(SetCommTimeouts(m_port, &anyByteWithoutAnEnd));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
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
    // Both bytes may come in one read or two; the event character's must be seen.
    while (!(events & EV_RXFLAG)) {
        ASSERT_EQ(events & ~DWORD{EV_RXCHAR | EV_RXFLAG}, 0u);
        if (!WaitCommEvent(m_port, &events, &ov)) {
            ASSERT_TRUE(ov.AwaitSignal());
        }
    }
    ASSERT_TRUE(AwaitQueued(m_port, 2));
    EXPECT_EQ(ReadPort(m_port, 2), "xq");

    // Bytes that come while no wait is outstanding complete the next at once.
    ASSERT_FALSE(WaitCommEvent(m_port, &events, &ov));
    m_line.Send("a");
    ASSERT_TRUE(ov.AwaitSignal());
    char ab[2];
    Overlapped readOv;
    BeginRead(ab, 2, readOv);
    m_line.Send("b");
    DWORD done = 0;
    ASSERT_TRUE(GetOverlappedResult(m_port, &readOv, &done, TRUE));
    ASSERT_EQ(std::string(ab, done), "ab");
    ASSERT_TRUE(WaitCommEvent(m_port, &events, &ov)) << "the b came with no wait outstanding";
    EXPECT_EQ(events, DWORD{EV_RXCHAR});

    // A new mask ends the outstanding wait with no events.
    ASSERT_FALSE(WaitCommEvent(m_port, &events, &ov));
    ASSERT_TRUE(SetCommMask(m_port, EV_RXCHAR));
    ASSERT_TRUE(ov.Signalled());
    EXPECT_EQ(events, 0u);

    ASSERT_TRUE(SetCommMask(m_port, 0));
    EXPECT_FALSE(WaitCommEvent(m_port, &events, &ov));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(SetCommMask(m_port, EV_CTS));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
}

TEST_F(Port, AFloodLargerThanTheQueueArrivesInOrder)
{
    std::string flood;
    for (int i = 0; i < 300000; ++i)
        flood += static_cast<char>((i * 7) % 251);
    std::thread sender([&] { m_line.Send(flood); });
    // The queue (64 KiB) fills up, so that the device is left unread until
    // the queue drains, and then read again.
    ASSERT_TRUE(AwaitQueued(m_port, 64 * 1024));
    std::string got;
    while (got.size() < flood.size() && AwaitQueued(m_port, 1))
        got += ReadPort(m_port, InQueue(m_port));
    sender.join();
    EXPECT_TRUE(got == flood);
}

TEST_F(Port, PurgeEmptiesTheQueueAndAbortsWhatIsOutstanding)
{
    m_line.Send("abcdef");
    ASSERT_TRUE(AwaitQueued(m_port, 6));
    ASSERT_TRUE(PurgeComm(m_port, PURGE_RXCLEAR));
    EXPECT_EQ(InQueue(m_port), 0u);

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
}

// A read of one byte leaves the bytes after it ready for the next reads:
// they are counted as queued, come in order, and go with a purge made from
// another thread.
TEST_F(Port, BytesReadyAfterAReadAreCountedKeptInOrderAndPurged)
{
    const std::string bytes = Pattern(600);
    m_line.Send(bytes);
    ASSERT_TRUE(AwaitQueued(m_port, 600));
    std::string got = ReadPort(m_port, 1);
    EXPECT_EQ(InQueue(m_port), 599u);
    for (int i = 0; i < 20; ++i)
        got += ReadPort(m_port, 1);
    got += ReadPort(m_port, 5);
    EXPECT_EQ(got, bytes.substr(0, 26));
    std::thread([&] { EXPECT_TRUE(PurgeComm(m_port, PURGE_RXCLEAR)); }).join();
    EXPECT_EQ(InQueue(m_port), 0u);
    m_line.Send("xyz");
    ASSERT_TRUE(AwaitQueued(m_port, 3));
    std::string after = ReadPort(m_port, 1);
    after += ReadPort(m_port, 2);
    EXPECT_EQ(after, "xyz") << "a purged byte came back";
}

// Two readers at once, each a byte at a time from what is queued, get every
// byte once between them.
TEST_F(Port, TwoReadersAtOnceTakeEachByteOnce)
{
    COMMTIMEOUTS now{MAXDWORD, 0, 0, 0, 0};  // a read returns at once with what is queued
    ASSERT_TRUE(SetCommTimeouts(m_port, &now));
    std::string many;
    for (int i = 0; i < 20000; ++i)
        many += static_cast<char>(i % 200);
    std::thread sender([&] { m_line.Send(many); });  // more than the line holds
    const bool queued = AwaitQueued(m_port, static_cast<DWORD>(many.size()));
    sender.join();
    ASSERT_TRUE(queued);
    std::atomic<size_t> total{0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);  // a lost byte
    auto reader = [&](std::vector<int>& counts) {
        counts.assign(200, 0);
        while (total.load() < many.size() && std::chrono::steady_clock::now() < deadline) {
            char c = 0;
            DWORD done = 0;
            Overlapped ov;
            if (ReadFile(m_port, &c, 1, &done, &ov) && done == 1) {
                ++counts[static_cast<unsigned char>(c)];
                ++total;
            }
        }
    };
    std::vector<int> first, second;
    std::thread other(reader, std::ref(second));
    reader(first);
    other.join();
    EXPECT_EQ(total.load(), many.size());
    for (int c = 0; c < 200; ++c)
        EXPECT_EQ(first[c] + second[c], 100) << "byte " << c;
}

TEST_F(Port, CloseAbortsOutstandingOperations)
{
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
    // A thread waiting on an idle port sleeps: a window in which nothing may
    // happen, not a measurement.
    const auto idle = platform::faults::PortWakeups();
    EXPECT_EQ(WaitForSingleObject(ov.hEvent, 100), WAIT_TIMEOUT);
    EXPECT_EQ(platform::faults::PortWakeups(), idle) << "an idle port woke up";

    // Bytes, then the device goes away: the bytes are still delivered, then
    // EV_ERR, then failures.
    m_line.Send("ab");
    ASSERT_TRUE(ov.AwaitSignal());
    ASSERT_TRUE(AwaitQueued(m_port, 2));
    ASSERT_FALSE(WaitCommEvent(m_port, &events, &ov));
    m_line.HangUp();
    ASSERT_TRUE(ov.AwaitSignal());
    EXPECT_EQ(events, DWORD{EV_ERR});
    DWORD errors = 0;
    COMSTAT stat{};
    ASSERT_TRUE(ClearCommError(m_port, &errors, &stat));
    EXPECT_EQ(errors, DWORD{CE_IOE});
    EXPECT_EQ(ReadPort(m_port, 2), "ab");

    EXPECT_FALSE(WaitCommEvent(m_port, &events, &ov));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(ov.Signalled()) << "a failed wait must not look completed";

    const auto gone = platform::faults::PortWakeups();
    EXPECT_EQ(WaitForSingleObject(ov.hEvent, 100), WAIT_TIMEOUT);
    EXPECT_EQ(platform::faults::PortWakeups(), gone) << "a hung-up device keeps a waiting thread busy";
}

// Without EV_ERR in the mask, as the console sets it, the engine learns of an
// unplug only by its event wait's failure.
TEST_F(Port, WhenTheDeviceGoesAReadCompletesWithItsBytesAndAWaitFails)
{
    char buffer[8];
    Overlapped ov;
    BeginRead(buffer, sizeof buffer, ov);
    Overlapped waitOv;
    DWORD events = 0;
    ASSERT_FALSE(WaitCommEvent(m_port, &events, &waitOv));
    m_line.Send("ab");
    ASSERT_TRUE(waitOv.AwaitSignal()) << "no bytes came";
    while (WaitCommEvent(m_port, &events, &waitOv)) {
        // the b came on its own
    }
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    m_line.HangUp();
    DWORD done = 0;
    EXPECT_TRUE(GetOverlappedResult(m_port, &ov, &done, TRUE));
    EXPECT_EQ(std::string(buffer, done), "ab");
    EXPECT_FALSE(GetOverlappedResult(m_port, &waitOv, &done, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
}

// Read timeouts. Each rule is given a case that only that rule can end in
// time: the other limits are minutes long or off, and the test gives up long
// before them, so a rule that is not applied fails the test instead of merely
// taking longer.

// Far beyond kHang, the guard against a hang.
constexpr DWORD kMinutes = 10 * 60 * 1000;

struct Case {
    const char* name;
    COMMTIMEOUTS timeouts;
    DWORD length;                  // bytes asked for
    std::string queued;            // there before the read starts
    std::vector<std::string> sent; // sent while it is pending
    bool atOnce;                   // ReadFile completes before it returns
    std::string result;
};

const Case kCases[] = {
    // MAXDWORD and no totals: at once, with whatever is queued.
    {"at_once_empty", {MAXDWORD, 0, 0, 0, 0}, 8, "", {}, true, ""},
    {"at_once_queued", {MAXDWORD, 0, 0, 0, 0}, 8, "y", {}, true, "y"},
    // MAXDWORD with both MAXDWORD and a constant: as soon as any byte is there.
    {"any_byte_queued", {MAXDWORD, MAXDWORD, kMinutes, 0, 0}, 8, "y", {}, true, "y"},
    {"any_byte_arriving", {MAXDWORD, MAXDWORD, kMinutes, 0, 0}, 8, "", {"z"}, false, "z"},
    // A total limit ends an empty read with success and nothing read.
    {"total", {0, 0, 20, 0, 0}, 8, "", {}, false, ""},
    // The interval between bytes ends a read that has some.
    {"interval_under_a_long_total", {20, 0, kMinutes, 0, 0}, 8, "", {"ab"}, false, "ab"},
    // No limits: the read waits for all its bytes.
    {"none", {0, 0, 0, 0, 0}, 3, "", {"ab", "c"}, false, "abc"},
};

class ReadTimeouts : public Port, public testing::WithParamInterface<Case> {};

TEST_P(ReadTimeouts, EndTheReadByTheirRule)
{
    const Case& c = GetParam();
    m_line.Send(c.queued);
    ASSERT_TRUE(AwaitQueued(m_port, static_cast<DWORD>(c.queued.size())));
    COMMTIMEOUTS timeouts = c.timeouts;
    ASSERT_TRUE(SetCommTimeouts(m_port, &timeouts));
    char buffer[8] = {};
    DWORD done = 99;
    Overlapped ov;
    if (ReadFile(m_port, buffer, c.length, &done, &ov)) {
        EXPECT_TRUE(c.atOnce) << "completed before its bytes came";
    } else {
        ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
        EXPECT_FALSE(c.atOnce) << "should have completed at once";
        for (const std::string& bytes : c.sent)
            m_line.Send(bytes);
        ASSERT_EQ(WaitForSingleObject(ov.hEvent, kHang), WAIT_OBJECT_0) << "the read did not end by its rule";
        ASSERT_TRUE(GetOverlappedResult(m_port, &ov, &done, FALSE));
    }
    EXPECT_EQ(std::string(buffer, done), c.result);
}

INSTANTIATE_TEST_SUITE_P(Rules, ReadTimeouts, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
