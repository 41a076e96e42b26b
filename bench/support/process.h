// What a benchmark reads of a process from /proc and getrusage: resident
// memory, CPU time, open descriptors, threads. Each returns -1 when the system
// does not tell (no /proc, a process that is gone).
#pragma once

#include <sys/types.h>

namespace benchsupport {

// VmRSS of this process, in KiB.
long ResidentKiB();
// CPU seconds (user and system, all threads) of this process.
double CpuSeconds();
// CPU seconds of the calling thread.
double ThreadCpuSeconds();
// CPU seconds (user and system, all threads) of another process.
double ProcessCpuSeconds(pid_t pid);
// Descriptors this process holds open (the one used to count them left out).
int OpenDescriptors();
// Threads of this process.
int Threads();

} // namespace benchsupport
