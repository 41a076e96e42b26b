// Windows communication, synchronisation and error calls, with their Windows
// names, types and documented behaviour, over POSIX (termios, poll, eventfd,
// pthreads). Only the calls in use are here, each as far as it is used.
//
// Conventions shared by every call:
// - A failing call returns FALSE (or INVALID_HANDLE_VALUE, WAIT_FAILED, 0) and
//   leaves a Windows error code for GetLastError on the calling thread. A
//   succeeding call leaves the last error alone, except where noted.
// - A failing call changes nothing it was given, except where noted.
// - HANDLEs are entries of one table. A closed or made-up handle is refused
//   with ERROR_INVALID_HANDLE; it is never followed.
// - Nothing polls: every wait blocks on file descriptors, without a time
//   limit unless the caller gives one.
//
// Ports (CreateFileA "COMn"):
// - COMn opens the device named by the environment variable TAVRIN_COMn, else
//   the one the ports file names, else /dev/ttyS{n-1} (portnames.h). A device
//   that cannot be opened is also reported on standard error, with the
//   device's path and the system's reason (portopen.h).
// - The device is held exclusively: flock stops a second open by this or any
//   program that locks (root included), TIOCEXCL stops programs that do not
//   lock. Only overlapped access for reading and writing is implemented.
// - The port keeps its own input queue. A port has no thread of its own: a
//   thread waiting for one of its operations to complete (in
//   WaitForMultipleObjects on the operation's event, or GetOverlappedResult)
//   reads and writes the device and keeps the deadlines from that wait's own
//   poll(), completing whatever is outstanding on the port, its own operation
//   or not; ClearCommError, ReadFile and WaitCommEvent take in what the device
//   holds. So an outstanding operation goes on while some thread waits on the
//   port; a completion wakes only the thread that waits for it. Bytes are
//   never dropped by the queue: when it is full the device is not read until
//   the queue drains, so the kernel (and behind it the sender) holds back.
// - A device that goes away (an adapter pulled, a pseudo-terminal's master
//   closed) raises EV_ERR with CE_IOE for a waiter whose mask has EV_ERR; a
//   pending event wait whose mask lacks it completes with
//   ERROR_DEVICE_NOT_CONNECTED. Bytes already queued can still be read
//   (ClearCommError, GetCommMask and ReadFile go on answering); the other
//   calls on the port then fail with ERROR_DEVICE_NOT_CONNECTED.
// - A device without a line (a pseudo-terminal: no UART, no modem lines)
//   cannot hold data bits, parity or flow control. SetCommState records what
//   was asked for it and GetCommState gives it back, while the baud rate and
//   stop bits, which such a device does hold, are read from the device. On a
//   device with a line a setting it refuses is a failure.
// - Events raised: EV_RXCHAR (bytes arrived), EV_RXFLAG (EvtChar arrived) and
//   EV_ERR (the device went away). SetCommMask refuses the other bits with
//   ERROR_NOT_SUPPORTED, rather than accept a wait for what never comes.
// - Overlapped operations: the event of the OVERLAPPED is set when the
//   operation completes, at once or later. It is reset when the operation
//   goes pending, and when ReadFile or WaitCommEvent finds the device gone or
//   the device fails a write. A call refused before it begins (a bad
//   argument, another operation of its kind outstanding, a closed handle, a
//   write to a device already gone) leaves the OVERLAPPED as it was. (An
//   operation that completes at once sets the event without resetting it
//   first: whoever waits for the operation after starting it cannot tell the
//   difference, and a reader that takes one byte at a time saves two system
//   calls on each.) Internal holds STATUS_PENDING while the
//   operation runs and then its Windows error code (0 for success);
//   InternalHigh the bytes transferred. One event wait, one read and one
//   write may be outstanding on a port at a time.
#pragma once

#include <cstdarg>
#include <pthread.h>

#include "platform/wintypes.h"

typedef void* PVOID;
typedef void* HLOCAL;

#define MAXDWORD 0xFFFFFFFFu

// Error codes (the numbers are Windows's).
#define ERROR_SUCCESS              0u
#define ERROR_INVALID_FUNCTION     1u
#define ERROR_FILE_NOT_FOUND       2u
#define ERROR_TOO_MANY_OPEN_FILES  4u
#define ERROR_ACCESS_DENIED        5u
#define ERROR_INVALID_HANDLE       6u
#define ERROR_NOT_ENOUGH_MEMORY    8u
#define ERROR_GEN_FAILURE          31u
#define ERROR_NOT_SUPPORTED        50u
#define ERROR_INVALID_PARAMETER    87u
#define ERROR_SEM_TIMEOUT          121u
#define ERROR_INSUFFICIENT_BUFFER  122u
#define ERROR_BUSY                 170u
#define ERROR_MR_MID_NOT_FOUND     317u
#define ERROR_OPERATION_ABORTED    995u
#define ERROR_IO_INCOMPLETE        996u
#define ERROR_IO_PENDING           997u
#define ERROR_DEVICE_NOT_CONNECTED 1167u
#define ERROR_NO_SYSTEM_RESOURCES  1450u
#define ERROR_RESOURCE_LANG_NOT_FOUND 1815u

// OVERLAPPED::Internal while an operation is outstanding.
#define STATUS_PENDING 0x103u

// Waits.
#define WAIT_OBJECT_0 0u
#define WAIT_TIMEOUT 258u
#define WAIT_FAILED 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64u

// CreateFileA.
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define OPEN_EXISTING 3u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_FLAG_OVERLAPPED 0x40000000u

// Comm events.
#define EV_RXCHAR   0x0001u
#define EV_RXFLAG   0x0002u
#define EV_TXEMPTY  0x0004u
#define EV_CTS      0x0008u
#define EV_DSR      0x0010u
#define EV_RLSD     0x0020u
#define EV_BREAK    0x0040u
#define EV_ERR      0x0080u
#define EV_RING     0x0100u
#define EV_PERR     0x0200u
#define EV_RX80FULL 0x0400u
#define EV_EVENT1   0x0800u
#define EV_EVENT2   0x1000u

// Comm errors (ClearCommError).
#define CE_RXOVER   0x0001u
#define CE_OVERRUN  0x0002u
#define CE_RXPARITY 0x0004u
#define CE_FRAME    0x0008u
#define CE_BREAK    0x0010u
#define CE_IOE      0x0400u

// PurgeComm.
#define PURGE_TXABORT 0x0001u
#define PURGE_RXABORT 0x0002u
#define PURGE_TXCLEAR 0x0004u
#define PURGE_RXCLEAR 0x0008u

// DCB values.
#define NOPARITY    0
#define ODDPARITY   1
#define EVENPARITY  2
#define MARKPARITY  3
#define SPACEPARITY 4
#define ONESTOPBIT   0
#define ONE5STOPBITS 1
#define TWOSTOPBITS  2
#define DTR_CONTROL_DISABLE   0
#define DTR_CONTROL_ENABLE    1
#define DTR_CONTROL_HANDSHAKE 2
#define RTS_CONTROL_DISABLE   0
#define RTS_CONTROL_ENABLE    1
#define RTS_CONTROL_HANDSHAKE 2
#define RTS_CONTROL_TOGGLE    3

// FormatMessageA.
#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100u
#define FORMAT_MESSAGE_IGNORE_INSERTS  0x00000200u
#define FORMAT_MESSAGE_FROM_SYSTEM     0x00001000u
#define LANG_NEUTRAL 0x00
#define LANG_ENGLISH 0x09
#define SUBLANG_DEFAULT 0x01
#define SUBLANG_ENGLISH_US 0x01
#define MAKELANGID(p, s) ((static_cast<WORD>(s) << 10) | static_cast<WORD>(p))

typedef struct _OVERLAPPED {
    ULONG_PTR Internal;
    ULONG_PTR InternalHigh;
    union {
        struct {
            DWORD Offset;
            DWORD OffsetHigh;
        };
        PVOID Pointer;
    };
    HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;

typedef struct _COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
} COMMTIMEOUTS, *LPCOMMTIMEOUTS;

typedef struct _COMSTAT {
    DWORD fCtsHold : 1;
    DWORD fDsrHold : 1;
    DWORD fRlsdHold : 1;
    DWORD fXoffHold : 1;
    DWORD fXoffSent : 1;
    DWORD fEof : 1;
    DWORD fTxim : 1;
    DWORD fReserved : 25;
    DWORD cbInQue;
    DWORD cbOutQue;
} COMSTAT, *LPCOMSTAT;

typedef struct _DCB {
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1;
    DWORD fParity : 1;
    DWORD fOutxCtsFlow : 1;
    DWORD fOutxDsrFlow : 1;
    DWORD fDtrControl : 2;
    DWORD fDsrSensitivity : 1;
    DWORD fTXContinueOnXoff : 1;
    DWORD fOutX : 1;
    DWORD fInX : 1;
    DWORD fErrorChar : 1;
    DWORD fNull : 1;
    DWORD fRtsControl : 2;
    DWORD fAbortOnError : 1;
    DWORD fDummy2 : 17;
    WORD wReserved;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    WORD wReserved1;
} DCB, *LPDCB;

// A recursive lock: the holder may take it again.
typedef struct _CRITICAL_SECTION {
    pthread_mutex_t Mutex;
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

// Errors.
DWORD GetLastError();
void SetLastError(DWORD dwErrCode);
// Only FORMAT_MESSAGE_FROM_SYSTEM texts (English, ending with CR LF), for
// language 0, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT) or English.
// ERRORS: ERROR_MR_MID_NOT_FOUND (no text for the code),
// ERROR_RESOURCE_LANG_NOT_FOUND, ERROR_INSUFFICIENT_BUFFER, ERROR_INVALID_PARAMETER.
DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                     LPSTR lpBuffer, DWORD nSize, va_list* Arguments);
// Frees what FormatMessageA allocated; returns NULL.
HLOCAL LocalFree(HLOCAL hMem);

// Handles. Closing a port cancels its outstanding operations
// (ERROR_OPERATION_ABORTED) and lets go of the device within a third of a
// second, whatever the device does. Output of completed writes that the
// device still holds (a UART driver's buffer, as TIOCOUTQ counts it; a
// pseudo-terminal holds none) first gets the time the line needs for it at
// its speed and format, at most 300 ms. Then what the device has not sent is
// discarded: at once, without that wait, when a write was under way (the
// device is not taking output), and the aborted write's unsent rest with it.
BOOL CloseHandle(HANDLE hObject);

// Events. Unnamed events only (a name gives ERROR_NOT_SUPPORTED).
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                    LPCSTR lpName);
BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);
// Waits on events for any one (bWaitAll FALSE; TRUE gives ERROR_NOT_SUPPORTED),
// doing meanwhile the work of the ports whose operations will set them. A
// zero time limit does, without waiting, the work that is ready: an
// operation the device has let go on completes as far as it can.
// Returns WAIT_OBJECT_0 + the lowest index signalled, WAIT_TIMEOUT or WAIT_FAILED.
DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds);
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);

// Critical sections.
void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

// Ports.
// ERRORS: ERROR_FILE_NOT_FOUND (not COMn, or no such device),
// ERROR_ACCESS_DENIED (held by another open, or no permission),
// ERROR_DEVICE_NOT_CONNECTED (no hardware behind the device node),
// ERROR_INVALID_FUNCTION (not a terminal device), ERROR_NOT_SUPPORTED
// (access other than overlapped reading and writing), ERROR_INVALID_PARAMETER.
HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
// Applies to operations begun afterwards. A read waits for its bytes at most
// ReadTotalTimeoutMultiplier * bytes + ReadTotalTimeoutConstant ms (0: no
// limit) and, once a byte has come, ReadIntervalTimeout ms between bytes (0:
// no limit); MAXDWORD with both totals 0 returns at once with what is queued;
// MAXDWORD with multiplier MAXDWORD returns as soon as any byte is there, or
// after the constant. A timed-out operation succeeds with the bytes it moved.
BOOL SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts);
// Completes an outstanding WaitCommEvent with no events.
BOOL SetCommMask(HANDLE hFile, DWORD dwEvtMask);
BOOL GetCommMask(HANDLE hFile, LPDWORD lpEvtMask);
BOOL GetCommState(HANDLE hFile, LPDCB lpDCB);
// Builds the whole terminal setting from the DCB and applies it at once; on
// failure the port keeps its previous setting.
// ERRORS: ERROR_INVALID_PARAMETER (values Windows refuses too, a baud rate the
// device has no speed for), ERROR_NOT_SUPPORTED (DSR flow, DTR handshake, RTS
// toggle, abort on error, error and null character replacement, or a setting
// the device took but did not keep), ERROR_DEVICE_NOT_CONNECTED.
BOOL SetCommState(HANDLE hFile, LPDCB lpDCB);
// Parses "baud=9600 parity=N data=8 stop=1" (keys in any order, also xon,
// odsr, octs, dtr, idsr and rts) or "9600,n,8,1[,x|p]", either after an
// optional "COMn:". Baud rates may be abbreviated to two digits ("96"). Sets
// only what the text names, and turns XON/XOFF and hardware flow control off
// unless the text asks for them; 110 baud without stop bits gets two. On an
// invalid text fails with ERROR_INVALID_PARAMETER and leaves the DCB alone.
BOOL BuildCommDCBA(LPCSTR lpDef, LPDCB lpDCB);
// An event wait already outstanding, or an empty event mask, gives
// ERROR_INVALID_PARAMETER and leaves the outstanding wait, and the
// OVERLAPPED, alone. Events that came since the last wait complete the wait
// at once.
BOOL WaitCommEvent(HANDLE hFile, LPDWORD lpEvtMask, LPOVERLAPPED lpOverlapped);
BOOL ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat);
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped);
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped);
// Without bWait, does the port's work that is ready first, as a zero-time
// wait does.
BOOL GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped, LPDWORD lpNumberOfBytesTransferred,
                         BOOL bWait);
// Abort flags complete the outstanding read or write with
// ERROR_OPERATION_ABORTED; clear flags empty the queue and the device's buffer.
BOOL PurgeComm(HANDLE hFile, DWORD dwFlags);
