// What a worker thread gets when the application goes away under it. Its own
// program: the application object is made and ended by the test.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>

#include "framework/afxwin.h"

namespace {

// Starts a worker that raises an ownerless box, and ends once the worker is
// on its way: the box request is still going to the window thread when the
// application goes (or, rarely, comes too late to be taken).
class CLeavingApp : public CWinApp {
public:
    std::future<int> m_answer;

    BOOL InitInstance() override
    {
        std::promise<void> raising;
        m_answer = std::async(std::launch::async, [&raising] {
            raising.set_value();
            return MessageBoxA(nullptr, "WARNING: failed\n", "Application Error", MB_OK);
        });
        raising.get_future().wait();
        return FALSE;
    }
};

TEST(ApplicationEnd, AWorkerWaitingForItsBoxIsReleased)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    char name[] = "app_end";
    char* argv[] = {name, nullptr};
    CLeavingApp app;
    AfxWinMain(1, argv, nullptr);
    // A cap that only a hang meets.
    ASSERT_EQ(app.m_answer.wait_for(std::chrono::seconds(10)), std::future_status::ready)
        << "the worker still waits for a box no one can show";
    EXPECT_EQ(app.m_answer.get(), 0);
}

}  // namespace
