// The engine under load, bounded in time: opens and closes during a stream,
// unplugs while open and while sending, exact counts both ways while sends
// and a stream overlap, and nothing left behind (descriptors, threads).
#include <algorithm>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "owner.h"
#include "platform/faults.h"
#include "tests/support/wait.h"
#include "tools/devsim/devsim.h"

using namespace owner;

namespace {

constexpr int kCom = 6;

size_t Entries(const char* dir)
{
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

class Stress : public testing::Test {
protected:
    void TearDown() override { platform::faults::ClearAll(); }

    // A simulator behind COM6; the test fails when it cannot start.
    devsim::DeviceSimulator* StartDevice(const devsim::Options& options)
    {
        m_device = std::make_unique<devsim::DeviceSimulator>();
        std::string error;
        if (!m_device->start(options, &error)) {
            ADD_FAILURE() << "the device simulator did not start: " << error;
            return nullptr;
        }
        setenv("TAVRIN_COM6", m_device->slavePath().c_str(), 1);
        return m_device.get();
    }

    // Stops the monitor thread and waits for its end.
    void Stop(CCommPort& port)
    {
        port.SignalStop();
        ASSERT_TRUE(ServeUntil([&] { return !port.m_bMonitorRunning; })) << "the monitor thread did not end";
    }

    // Runs body in an owner dialog whose handler checks that the pattern
    // payload (0, 1, ..., 255, 0, ...) arrives without a gap within each
    // opening; Resync() starts a new opening. What arrives after HungUp() is
    // counted but not checked: a pseudo-terminal whose other end closes
    // drops, and now and then repeats, what its line discipline still held.
    struct PatternOwner {
        COwnerDlg* dlg = nullptr;
        bool synced = false;
        bool checked = true;
        int expected = 0;
        std::uint64_t bytes = 0;
        std::uint64_t gaps = 0;
        void Resync() { synced = false; checked = true; }
        void HungUp() { checked = false; }
    };
    void WithPatternOwner(const std::function<void(PatternOwner&)>& body)
    {
        PatternOwner owner;
        COwnerDlg dlg;
        owner.dlg = &dlg;
        dlg.m_onMessage = [&](const Message& m) {
            if (m.msg != WM_PORT_RXCHAR)
                return;
            const int byte = static_cast<int>(m.wParam);
            owner.gaps += owner.checked && owner.synced && byte != owner.expected;
            owner.synced = true;
            owner.expected = (byte + 1) & 0xff;
            ++owner.bytes;
            dlg.m_messages.clear(); // only the counts matter here
        };
        dlg.Run([&](COwnerDlg&) { body(owner); });
    }

    // Opens the port, starts a new opening of the pattern and its thread, and
    // unless told otherwise waits until the stream flows.
    void Open(CCommPort& port, PatternOwner& owner, bool awaitFlow = true)
    {
        ASSERT_TRUE(port.Open(owner.dlg, kCom, 38400, 'N', 8, 1, EV_RXCHAR | EV_RXFLAG, 512));
        owner.Resync();
        ASSERT_TRUE(port.StartMonitor());
        const std::uint64_t at = owner.bytes;
        ASSERT_TRUE(!awaitFlow || ServeUntil([&] { return owner.bytes > at + 100; })) << "no stream";
    }

    std::unique_ptr<devsim::DeviceSimulator> m_device;
};

// A device that sends the pattern payload without end from the start.
devsim::Options Flood()
{
    return {.floodBytes = 1ull << 40, .payload = devsim::Payload::Pattern, .startOn = devsim::StartOn::Now};
}

// Descriptors and threads of the process.
struct Resources {
    size_t fds;
    size_t tasks;
    bool NoMoreThan(const Resources& other) const { return fds <= other.fds && tasks <= other.tasks; }
};

Resources Now()
{
    return {Entries("/proc/self/fd"), Entries("/proc/self/task")};
}

// Waits until the counts are back to `before` at most: threads that were told
// to end go a moment after they said so (and one may still have been going
// when `before` was taken).
::testing::AssertionResult NothingLeft(const Resources& before)
{
    Resources now{};
    if (testsupport::WaitUntil([&] { return (now = Now()).NoMoreThan(before); }))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "descriptors " << before.fds << " -> " << now.fds << ", threads "
                                         << before.tasks << " -> " << now.tasks;
}

TEST_F(Stress, OpenAndCloseDuringAStreamLoseNothingWithinAnOpeningAndLeaveNothing)
{
    ASSERT_NE(StartDevice(Flood()), nullptr);
    WithPatternOwner([&](PatternOwner& owner) {
        CCommPort port;
        // A first opening makes what lives as long as the object (its events).
        ASSERT_NO_FATAL_FAILURE(Open(port, owner));
        Stop(port);
        ASSERT_FALSE(HasFatalFailure());
        const Resources before = Now();
        for (int round = 0; round < 60; ++round) {
            // Every other round reopens without a stop of its own: Open stops
            // the running thread itself.
            if (round % 2 == 0 && port.m_bMonitorRunning) {
                Stop(port);
                ASSERT_FALSE(HasFatalFailure());
            }
            ASSERT_NO_FATAL_FAILURE(Open(port, owner)) << "round " << round;
        }
        Stop(port);
        EXPECT_EQ(owner.gaps, 0u);
        EXPECT_TRUE(NothingLeft(before));
    });
}

TEST_F(Stress, UnplugWhileOpenAndWhileSendingIsReportedAndLeavesNothing)
{
    BoxRecorder boxes;
    WithPatternOwner([&](PatternOwner& owner) {
        Resources before{};
        for (int round = 0; round < 8; ++round) {
            SCOPED_TRACE(round);
            const bool sending = round % 2 == 1;
            devsim::Options options = Flood();
            options.stalled = sending;
            if (round == 2)
                before = Now(); // what the first round of each kind makes once is made
            devsim::DeviceSimulator* device = StartDevice(options);
            ASSERT_NE(device, nullptr);
            boxes.clear();
            CCommPort port;
            boxes.Watch(&port);
            ASSERT_NO_FATAL_FAILURE(Open(port, owner));
            if (sending) {
                // A write the stalled device leaves under way.
                const std::string big(100000, 's');
                ASSERT_TRUE(port.Send(reinterpret_cast<const BYTE*>(big.data()), static_cast<DWORD>(big.size())));
                COMSTAT stat{};
                ASSERT_TRUE(testsupport::WaitUntil(
                    [&] { return ClearCommError(port.m_hPort, nullptr, &stat) && stat.cbOutQue > 0; }));
            }
            owner.HungUp();
            device->hangUp();
            ASSERT_TRUE(ServeUntil([&] { return boxes.boxes().size() >= (sending ? 2u : 1u); }));
            // Each failure is reported, in either order: a write's is taken
            // up between two bursts of what came before the unplug, or at the
            // thread's wait, which then goes round its loop once more and
            // reports the event wait's failure, which lasts, again.
            std::set<std::string> texts;
            for (const auto& box : boxes.boxes()) {
                EXPECT_EQ(box.owner, nullptr) << "the report is ownerless, so the window stays usable";
                texts.insert(box.text);
            }
            std::set<std::string> expected{owner::ReportText("WaitCommEvent()", ERROR_DEVICE_NOT_CONNECTED, kCom)};
            if (sending)
                expected.insert(owner::ReportText("WriteFile()", ERROR_DEVICE_NOT_CONNECTED, kCom));
            EXPECT_EQ(texts, expected);
            EXPECT_FALSE(boxes.heldAtABox()) << "a box came up while the port's lock was held";
            Stop(port);
            boxes.Watch(nullptr);
            ASSERT_FALSE(HasFatalFailure());
            m_device->stop();
        }
        EXPECT_EQ(owner.gaps, 0u);
        EXPECT_TRUE(NothingLeft(before));
    });
}

TEST_F(Stress, SendsAndAStreamOverlappingArriveExactlyBothWays)
{
    // The device floods once it has the first send, so the opening's purge
    // cannot take any of the flood.
    constexpr std::uint64_t kFlood = 512 * 1024;
    devsim::DeviceSimulator* device = StartDevice({.floodBytes = kFlood, .payload = devsim::Payload::Pattern,
                                                   .startOn = devsim::StartOn::FirstByte, .keepReceived = true});
    ASSERT_NE(device, nullptr);
    WithPatternOwner([&](PatternOwner& owner) {
        CCommPort port;
        ASSERT_NO_FATAL_FAILURE(Open(port, owner, false));
        // Sends of every size class, around the buffer's 512 and past the
        // line's room, each handed over once the one before has arrived (a
        // later send replaces one not yet taken up).
        std::string sent;
        for (int round = 0; round < 4; ++round)
            for (size_t size : {1u, 7u, 511u, 512u, 513u, 3000u, 20000u}) {
                std::string data(size, '\0');
                for (size_t i = 0; i < size; ++i)
                    data[i] = static_cast<char>('A' + (sent.size() + i) % 26);
                ASSERT_TRUE(port.Send(reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(size)));
                sent += data;
                ASSERT_TRUE(testsupport::WaitUntil([&] { return device->received() >= sent.size(); }))
                    << sent.size() << " bytes sent";
            }
        // The guard is against a stall, not a measure of speed: on a loaded
        // machine the flood may take long, but it must keep coming.
        while (owner.bytes < kFlood) {
            const std::uint64_t next = std::min(owner.bytes + kFlood / 8, kFlood);
            ASSERT_TRUE(ServeUntil([&] { return owner.bytes >= next; })) << owner.bytes << " of " << kFlood;
        }
        Stop(port);
        EXPECT_EQ(owner.bytes, kFlood);
        EXPECT_EQ(owner.gaps, 0u);
        EXPECT_TRUE(device->receivedBytes() == sent) << device->received() << " bytes arrived of " << sent.size();
    });
}

} // namespace
