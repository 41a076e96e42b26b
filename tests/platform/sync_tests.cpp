// Events, waits and critical sections.
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

#include "platform/winbase.h"

namespace {

TEST(Events, ManualStaysSignalledAutoReleasesOneWaitLowestIndexWins)
{
    HANDLE events[3] = {CreateEventA(nullptr, TRUE, FALSE, nullptr), CreateEventA(nullptr, TRUE, FALSE, nullptr),
                        CreateEventA(nullptr, FALSE, TRUE, nullptr)};
    EXPECT_EQ(WaitForSingleObject(events[2], 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(events[2], 0), WAIT_TIMEOUT) << "an auto-reset event releases one wait";
    EXPECT_EQ(WaitForSingleObject(events[0], 0), WAIT_TIMEOUT);
    ASSERT_TRUE(SetEvent(events[1]));
    ASSERT_TRUE(SetEvent(events[1])); // setting twice is still one signalled state
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, INFINITE), WAIT_OBJECT_0 + 1);
    SetEvent(events[0]);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, INFINITE), WAIT_OBJECT_0) << "a manual event stays set";
    ASSERT_TRUE(ResetEvent(events[0]));
    ASSERT_TRUE(ResetEvent(events[1]));
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_TIMEOUT);

    // Another thread wakes a wait without time limit.
    std::atomic<DWORD> result{WAIT_FAILED};
    std::thread waiter([&] { result = WaitForMultipleObjects(2, events, FALSE, INFINITE); });
    SetEvent(events[1]);
    waiter.join();
    EXPECT_EQ(result.load(), WAIT_OBJECT_0 + 1);
    for (HANDLE e : events)
        EXPECT_TRUE(CloseHandle(e));
}

TEST(Events, BadHandlesAndArgumentsAreRefused)
{
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(CloseHandle(event));
    for (HANDLE bad : {event, reinterpret_cast<HANDLE>(0x7777), INVALID_HANDLE_VALUE}) {
        SetLastError(0);
        EXPECT_FALSE(SetEvent(bad));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_EQ(WaitForSingleObject(bad, 0), WAIT_FAILED);
        EXPECT_FALSE(CloseHandle(bad));
    }
    HANDLE live = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(WaitForMultipleObjects(0, &live, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(WaitForMultipleObjects(1, &live, TRUE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    CloseHandle(live);
}

TEST(CriticalSection, HolderMayEnterAgainOthersWait)
{
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs);
    std::atomic<bool> entered{false};
    std::thread other([&] {
        EnterCriticalSection(&cs);
        entered = true;
        LeaveCriticalSection(&cs);
    });
    LeaveCriticalSection(&cs);
    EXPECT_FALSE(entered.load()) << "still held once";
    LeaveCriticalSection(&cs);
    other.join();
    EXPECT_TRUE(entered.load());
    DeleteCriticalSection(&cs);
}

} // namespace
