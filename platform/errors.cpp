// Last error, the errno mapping and the system's texts for the codes the
// layer produces.
#include "platform/errors.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/winbase.h"

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;
thread_local int t_lastErrno = 0;

struct ErrnoCode {
    int error;
    DWORD code;
};

// EAGAIN that reaches this table means a resource the system ran short of:
// where it means "would block" the caller waits instead and never reports
// it, and a lock held elsewhere (flock) is turned into EBUSY where it
// happens.
constexpr ErrnoCode kErrnoCodes[] = {
    {ENOENT, ERROR_FILE_NOT_FOUND},
    {ENOTDIR, ERROR_FILE_NOT_FOUND},
    {ENAMETOOLONG, ERROR_FILE_NOT_FOUND},
    {EACCES, ERROR_ACCESS_DENIED},
    {EPERM, ERROR_ACCESS_DENIED},
    {EBUSY, ERROR_ACCESS_DENIED}, // held by another open (flock, TIOCEXCL)
    {EROFS, ERROR_ACCESS_DENIED},
    {EBADF, ERROR_INVALID_HANDLE},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {EAGAIN, ERROR_NO_SYSTEM_RESOURCES},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
    {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
    {EINVAL, ERROR_INVALID_PARAMETER},
    {ENOTTY, ERROR_INVALID_FUNCTION},
    // A terminal whose device is gone answers EIO; a node without hardware
    // behind it ENXIO or ENODEV.
    {EIO, ERROR_DEVICE_NOT_CONNECTED},
    {ENXIO, ERROR_DEVICE_NOT_CONNECTED},
    {ENODEV, ERROR_DEVICE_NOT_CONNECTED},
    {ENOSYS, ERROR_NOT_SUPPORTED},
    {EOPNOTSUPP, ERROR_NOT_SUPPORTED},
    {ETIMEDOUT, ERROR_SEM_TIMEOUT},
    {ECANCELED, ERROR_OPERATION_ABORTED},
};

struct CodeText {
    DWORD code;
    const char* text;
};

// Windows's own wording, so a report reads as it would there.
constexpr CodeText kTexts[] = {
    {ERROR_SUCCESS, "The operation completed successfully."},
    {ERROR_INVALID_FUNCTION, "Incorrect function."},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
    {ERROR_TOO_MANY_OPEN_FILES, "The system cannot open the file."},
    {ERROR_ACCESS_DENIED, "Access is denied."},
    {ERROR_INVALID_HANDLE, "The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command."},
    {ERROR_GEN_FAILURE, "A device attached to the system is not functioning."},
    {ERROR_NOT_SUPPORTED, "The request is not supported."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
    {ERROR_SEM_TIMEOUT, "The semaphore timeout period has expired."},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small."},
    {ERROR_BUSY, "The requested resource is in use."},
    {ERROR_MR_MID_NOT_FOUND,
     "The system cannot find message text for message number 0x%1 in the message file for %2."},
    {ERROR_OPERATION_ABORTED,
     "The I/O operation has been aborted because of either a thread exit or an application request."},
    {ERROR_IO_INCOMPLETE, "Overlapped I/O event is not in a signaled state."},
    {ERROR_IO_PENDING, "Overlapped I/O operation is in progress."},
    {ERROR_DEVICE_NOT_CONNECTED, "The device is not connected."},
    {ERROR_NO_SYSTEM_RESOURCES, "Insufficient system resources exist to complete the requested service."},
    {ERROR_RESOURCE_LANG_NOT_FOUND,
     "The specified resource language ID cannot be found in the image file."},
};

const char* TextOf(DWORD code)
{
    for (const CodeText& entry : kTexts)
        if (entry.code == code)
            return entry.text;
    return nullptr;
}

bool LanguageWeHave(DWORD language)
{
    return language == 0 || language == MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT)
        || language == MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
}

} // namespace

namespace platform {

DWORD ErrorFromErrno(int error)
{
    for (const ErrnoCode& entry : kErrnoCodes)
        if (entry.error == error)
            return entry.code;
    return ERROR_GEN_FAILURE;
}

BOOL FailWithErrno(int error)
{
    t_lastError = ErrorFromErrno(error);
    t_lastErrno = error;
    return FALSE;
}

BOOL Fail(DWORD error)
{
    t_lastError = error;
    t_lastErrno = 0;
    return FALSE;
}

int LastErrno()
{
    return t_lastErrno;
}

} // namespace platform

DWORD GetLastError()
{
    return t_lastError;
}

void SetLastError(DWORD dwErrCode)
{
    t_lastError = dwErrCode;
    t_lastErrno = 0;
}

DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                     LPSTR lpBuffer, DWORD nSize, va_list* Arguments)
{
    (void)lpSource; // only used by the message-table and string sources, which are not implemented
    (void)Arguments; // the texts here have no inserts
    const DWORD known = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
    if (!(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) || (dwFlags & ~known) || !lpBuffer) {
        platform::Fail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!LanguageWeHave(dwLanguageId)) {
        platform::Fail(ERROR_RESOURCE_LANG_NOT_FOUND);
        return 0;
    }
    const char* text = TextOf(dwMessageId);
    if (!text) {
        platform::Fail(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    const size_t length = std::strlen(text) + 2; // with the CR LF system texts end with
    if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        // The buffer argument is where the address of the allocated text goes.
        char* allocated = static_cast<char*>(std::malloc(std::max<size_t>(length + 1, nSize)));
        if (!allocated) {
            platform::Fail(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        std::memcpy(allocated, text, length - 2);
        std::memcpy(allocated + length - 2, "\r\n", 3);
        *reinterpret_cast<char**>(lpBuffer) = allocated;
    } else {
        if (nSize < length + 1) {
            platform::Fail(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        std::memcpy(lpBuffer, text, length - 2);
        std::memcpy(lpBuffer + length - 2, "\r\n", 3);
    }
    return static_cast<DWORD>(length);
}

HLOCAL LocalFree(HLOCAL hMem)
{
    std::free(hMem);
    return nullptr;
}
