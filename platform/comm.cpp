// The communication calls: each checks its fault seam and its handle, then
// leaves the work to the port.
#include <cstring>

#include "platform/commlogic.h"
#include "platform/errors.h"
#include "platform/faults.h"
#include "platform/port.h"
#include "platform/portopen.h"
#include "platform/winbase.h"

using platform::Fail;
using platform::Port;

namespace {

// "COMn" or "\\.\COMn", n from 1 to 255; 0 for any other name.
int PortNumber(const char* name)
{
    if (!name)
        return 0;
    if (std::strncmp(name, "\\\\.\\", 4) == 0)
        name += 4;
    if (strncasecmp(name, "COM", 3) != 0 || name[3] < '1' || name[3] > '9')
        return 0;
    int number = 0;
    for (const char* p = name + 3; *p; ++p) {
        if (*p < '0' || *p > '9')
            return 0;
        number = number * 10 + (*p - '0');
        if (number > 255)
            return 0;
    }
    return number;
}

std::shared_ptr<Port> PortOf(HANDLE handle)
{
    std::shared_ptr<Port> port = platform::LookupHandleAs<Port>(handle);
    if (!port)
        Fail(ERROR_INVALID_HANDLE);
    return port;
}

// The shape of every call on an open port: the fault seam first, then the
// handle (a wrong one fails with ERROR_INVALID_HANDLE), then the port's work.
template <typename Work>
BOOL OnPort(const char* call, HANDLE handle, Work work)
{
    if (platform::faults::Due(call))
        return FALSE;
    std::shared_ptr<Port> port = PortOf(handle);
    return port ? work(*port) : FALSE;
}

// The same for the calls a reader makes for every byte (the queue's state,
// the byte's read): the port comes from the thread's memory of the handle
// it read last, not from the table. Only readers keep it, so a thread that
// only configures a port does not keep it after it is closed elsewhere.
template <typename Work>
BOOL OnReadPort(const char* call, HANDLE handle, Work work)
{
    if (platform::faults::Due(call))
        return FALSE;
    thread_local platform::LastHandle<Port> t_port;
    Port* port = t_port.Find(handle);
    return port ? work(*port) : Fail(ERROR_INVALID_HANDLE);
}

} // namespace

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile)
{
    if (platform::faults::Due("CreateFileA"))
        return INVALID_HANDLE_VALUE;
    const int number = PortNumber(lpFileName);
    if (!number) {
        Fail(ERROR_FILE_NOT_FOUND); // this layer has devices, not files
        return INVALID_HANDLE_VALUE;
    }
    // A communications device is opened as it exists, unshared, with no template.
    if (dwShareMode != 0 || dwCreationDisposition != OPEN_EXISTING || hTemplateFile) {
        Fail(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const DWORD access = GENERIC_READ | GENERIC_WRITE;
    if (lpSecurityAttributes || (dwDesiredAccess & access) != access || !(dwFlagsAndAttributes & FILE_FLAG_OVERLAPPED)) {
        Fail(ERROR_NOT_SUPPORTED);
        return INVALID_HANDLE_VALUE;
    }
    std::shared_ptr<Port> port = platform::OpenComPort(number);
    if (!port)
        return INVALID_HANDLE_VALUE;
    return platform::InsertHandle(std::move(port));
}

BOOL SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts)
{
    return OnPort("SetCommTimeouts", hFile, [&](Port& port) {
        return lpCommTimeouts ? port.SetTimeouts(*lpCommTimeouts) : Fail(ERROR_INVALID_PARAMETER);
    });
}

BOOL SetCommMask(HANDLE hFile, DWORD dwEvtMask)
{
    return OnPort("SetCommMask", hFile, [&](Port& port) { return port.SetMask(dwEvtMask); });
}

BOOL GetCommMask(HANDLE hFile, LPDWORD lpEvtMask)
{
    return OnPort("GetCommMask", hFile, [&](Port& port) { return port.GetMask(lpEvtMask); });
}

BOOL GetCommState(HANDLE hFile, LPDCB lpDCB)
{
    return OnPort("GetCommState", hFile, [&](Port& port) { return port.GetState(lpDCB); });
}

BOOL SetCommState(HANDLE hFile, LPDCB lpDCB)
{
    return OnPort("SetCommState", hFile, [&](Port& port) {
        return lpDCB ? port.SetState(*lpDCB) : Fail(ERROR_INVALID_PARAMETER);
    });
}

BOOL BuildCommDCBA(LPCSTR lpDef, LPDCB lpDCB)
{
    if (platform::faults::Due("BuildCommDCBA"))
        return FALSE;
    if (!platform::ParseCommDefinition(lpDef, lpDCB))
        return Fail(ERROR_INVALID_PARAMETER);
    return TRUE;
}

BOOL WaitCommEvent(HANDLE hFile, LPDWORD lpEvtMask, LPOVERLAPPED lpOverlapped)
{
    return OnPort("WaitCommEvent", hFile, [&](Port& port) { return port.WaitEvent(lpEvtMask, lpOverlapped); });
}

BOOL ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat)
{
    return OnReadPort("ClearCommError", hFile, [&](Port& port) { return port.ClearError(lpErrors, lpStat); });
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped)
{
    return OnReadPort("ReadFile", hFile, [&](Port& port) {
        return port.Read(lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, lpOverlapped);
    });
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped)
{
    return OnPort("WriteFile", hFile, [&](Port& port) {
        return port.Write(lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten, lpOverlapped);
    });
}

BOOL GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped, LPDWORD lpNumberOfBytesTransferred, BOOL bWait)
{
    return OnPort("GetOverlappedResult", hFile, [&](Port& port) {
        return port.Result(lpOverlapped, lpNumberOfBytesTransferred, bWait);
    });
}

BOOL PurgeComm(HANDLE hFile, DWORD dwFlags)
{
    return OnPort("PurgeComm", hFile, [&](Port& port) { return port.Purge(dwFlags); });
}
