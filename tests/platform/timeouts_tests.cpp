// Read timeouts over a real pseudo-terminal. Each rule is given a case that
// only that rule can end in time: the other limits are minutes long or off,
// and the test gives up long before them, so a rule that is not applied fails
// the test instead of merely taking longer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/winbase.h"
#include "pty.h"

namespace {

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

class ReadTimeouts : public PortOnLine, public testing::WithParamInterface<Case> {};

TEST_P(ReadTimeouts, EndTheReadByTheirRule)
{
    const Case& c = GetParam();
    if (!c.queued.empty()) {
        m_line.Send(c.queued);
        ASSERT_TRUE(AwaitQueued(m_port, static_cast<DWORD>(c.queued.size())));
    }
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

TEST_F(ReadTimeouts, AnyByteWithoutAnEndIsRefused)
{
    COMMTIMEOUTS invalid{MAXDWORD, MAXDWORD, MAXDWORD, 0, 0};
    EXPECT_FALSE(SetCommTimeouts(m_port, &invalid));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
