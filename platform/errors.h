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

// The errno behind the calling thread's last error, when FailWithErrno set
// it; 0 when the layer chose the code itself. A diagnostic that names the
// system's reason reads it; the Windows code alone would lose it (EACCES and
// EBUSY both become ERROR_ACCESS_DENIED).
int LastErrno();

} // namespace platform
