// The seam through which tests make the layer fail in ways a pseudo-terminal
// cannot, and observe what it does when nothing should happen.
#pragma once

#include <cstdint>

#include "platform/wintypes.h"

namespace platform::faults {

// From now on the call named (its Windows name, e.g. "SetCommState") fails
// with `error` before doing anything, `times` times (-1: until cleared).
void Inject(const char* call, DWORD error, int times = -1);
void ClearAll();

// Used by the calls themselves: when a failure is due for `call`, sets the
// last error and returns true.
bool Due(const char* call);

// How many times a thread waiting in poll() woke to do a port's work, all
// ports together: a port that is idle or whose device is gone must not add
// to it.
std::uint64_t PortWakeups();
void CountPortWakeup();

} // namespace platform::faults
