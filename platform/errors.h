// The one translation of POSIX errors into the Windows codes the layer reports.
#pragma once

#include "platform/wintypes.h"

namespace platform {

// errno (or a pthread result) as a Windows error code.
DWORD ErrorFromErrno(int error);

// Sets the calling thread's last error from errno and returns FALSE, for the
// common "a system call failed" exit.
BOOL FailWithErrno(int error);

// Sets the calling thread's last error and returns FALSE.
BOOL Fail(DWORD error);

} // namespace platform
