// Waits of the windowed tests. Each keeps the window thread serving while a
// condition is awaited, and gives up after a cap long enough that only a hang
// meets it: the caps are guards, never measurements.
#pragma once

#include <functional>

namespace testsupport {

inline constexpr int kHangMs = 10000;

// Processes every event (input, timers, messages sent from other threads)
// until `done` holds; false once capMs have passed without it.
bool WaitUntil(const std::function<bool()>& done, int capMs = kHangMs);

// Processes events for about this long: for checking that nothing happens.
void ProcessEventsFor(int ms);

// Waits as the program's own waits do, in AfxWaitServingMessages: messages
// from other threads are served, user input is held back, and `done` is looked
// at again when a framework thread ends or AfxWakeWaiters() is called. False
// when it does not hold after capMs.
bool ServeUntil(const std::function<bool()>& done, int capMs = kHangMs);

} // namespace testsupport
