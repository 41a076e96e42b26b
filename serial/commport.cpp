#include "serial/commport.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
constexpr DWORD kTimeoutMs = 1000;
constexpr UINT kMonitorExitCode = 100;
// The most bytes handed to the owner at once: a stop waits for at most this
// many handlers.
constexpr DWORD kMaxBurst = 256;

// Holds a flag for the length of a scope.
class ScopedFlag {
public:
    explicit ScopedFlag(bool& flag) : m_flag(flag) { m_flag = true; }
    ~ScopedFlag() { m_flag = false; }
    ScopedFlag(const ScopedFlag&) = delete;
    ScopedFlag& operator=(const ScopedFlag&) = delete;

private:
    bool& m_flag;
};

} // namespace

CCommPort::CCommPort()
    : m_nWriteLen(1), m_hPort(nullptr), m_pMonitorThread(nullptr), m_bMonitorRunning(FALSE), m_hWriteEvent(nullptr),
      m_hStopEvent(nullptr), m_hWaitHandles{}, m_ovIo{}, m_timeouts{}, m_dcb{}, m_pOwnerWnd(nullptr),
      m_nPortNumber(0), m_pWriteBuf(nullptr), m_dwEventMask(0), m_nWriteBufSize(0), m_hOwnerWnd(nullptr),
      m_ovRead{}, m_ovWrite{}, m_bWriting(false), m_bOpening(false)
{
    // The locks live as long as the object: initialising a lock again at each
    // Open, while it exists, is not something a pthread mutex allows.
    InitializeCriticalSection(&m_csPortSync);
    InitializeCriticalSection(&m_csWriteSlot);
}

CCommPort::~CCommPort()
{
    StopMonitor();
    if (HANDLE port = m_hPort.exchange(nullptr))
        CloseHandle(port);
    for (HANDLE* event : {&m_hStopEvent, &m_ovIo.hEvent, &m_hWriteEvent, &m_ovRead.hEvent, &m_ovWrite.hEvent}) {
        if (*event)
            CloseHandle(*event);
        *event = nullptr;
    }
    delete[] m_pWriteBuf;
    m_pWriteBuf = nullptr;
    DeleteCriticalSection(&m_csWriteSlot);
    DeleteCriticalSection(&m_csPortSync);
}

void CCommPort::StopMonitor()
{
    // The monitor thread may be inside a synchronous send to the owner window
    // or showing a report box; both need this thread to keep serving messages
    // until the thread has seen the stop event.
    while (m_bMonitorRunning) {
        SetEvent(m_hStopEvent);
        AfxWaitServingMessages([this] { return !m_bMonitorRunning; });
    }
}

BOOL CCommPort::Open(CWnd* pOwnerWnd, int nPortNumber, int nBaudRate, char chParity, int nDataBits, int nStopBits,
                     DWORD dwCommEvents, UINT nWriteBufferSize)
{
    // A handler run during the wait below must not start a second opening on
    // the same object.
    if (m_bOpening)
        return FALSE;
    ScopedFlag opening(m_bOpening);

    StopMonitor();

    for (HANDLE* event : {&m_ovIo.hEvent, &m_hWriteEvent, &m_hStopEvent, &m_ovRead.hEvent, &m_ovWrite.hEvent}) {
        if (*event) {
            ResetEvent(*event);
            continue;
        }
        *event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!*event) {
            // Without its events the engine can neither wait nor be stopped.
            m_nPortNumber = nPortNumber; // for the report
            ReportError("CreateEvent()");
            return FALSE;
        }
    }
    m_hWaitHandles[0] = m_hStopEvent;
    m_hWaitHandles[1] = m_ovIo.hEvent;
    m_hWaitHandles[2] = m_hWriteEvent;

    m_pOwnerWnd = pOwnerWnd;
    // The monitor thread sends to the handle, never to the window object,
    // which this thread may destroy while that thread runs.
    m_hOwnerWnd = pOwnerWnd ? pOwnerWnd->GetSafeHwnd() : nullptr;
    EnterCriticalSection(&m_csWriteSlot);
    delete[] m_pWriteBuf;
    m_pWriteBuf = new (std::nothrow) BYTE[nWriteBufferSize];
    m_nWriteBufSize = m_pWriteBuf ? nWriteBufferSize : 0; // Send grows it when it must
    LeaveCriticalSection(&m_csWriteSlot);
    m_nPortNumber = nPortNumber;
    m_dwEventMask = dwCommEvents;

    EnterCriticalSection(&m_csPortSync);
    if (HANDLE port = m_hPort.exchange(nullptr))
        CloseHandle(port);

    char szPort[50];
    char szBaud[50];
    std::snprintf(szPort, sizeof szPort, "COM%d", nPortNumber);
    std::snprintf(szBaud, sizeof szBaud, "baud=%d parity=%c data=%d stop=%d", nBaudRate, chParity, nDataBits,
                  nStopBits);

    HANDLE port = CreateFileA(szPort, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                              nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        LeaveCriticalSection(&m_csPortSync);
        return FALSE;
    }
    m_hPort = port;

    // The first failing step is reported and the rest skipped; the port stays
    // open with what was applied.
    m_timeouts.ReadIntervalTimeout = kTimeoutMs;
    m_timeouts.ReadTotalTimeoutMultiplier = kTimeoutMs;
    m_timeouts.ReadTotalTimeoutConstant = kTimeoutMs;
    m_timeouts.WriteTotalTimeoutMultiplier = kTimeoutMs;
    m_timeouts.WriteTotalTimeoutConstant = kTimeoutMs;
    if (!SetCommTimeouts(port, &m_timeouts)) {
        ReportError("SetCommTimeouts()");
    } else if (!SetCommMask(port, dwCommEvents)) {
        ReportError("SetCommMask()");
    } else if (!GetCommState(port, &m_dcb)) {
        ReportError("GetCommState()");
    } else {
        m_dcb.fRtsControl = RTS_CONTROL_ENABLE;
        m_dcb.EvtChar = 'q';
        if (!BuildCommDCBA(szBaud, &m_dcb))
            ReportError("BuildCommDCB()");
        else if (!SetCommState(port, &m_dcb))
            ReportError("SetCommState()");
    }

    PurgeComm(port, kPurgeAll);
    LeaveCriticalSection(&m_csPortSync);
    return TRUE;
}

BOOL CCommPort::StartMonitor()
{
    // One monitor thread per port.
    if (m_bMonitorRunning)
        return FALSE;
    // Set before the thread exists, so that an Open or the destructor right
    // after this waits for the thread instead of pulling the port from under
    // its first steps.
    m_bMonitorRunning = TRUE;
    m_pMonitorThread = AfxBeginThread(MonitorThreadProc, this, THREAD_PRIORITY_NORMAL, 0, 0, nullptr);
    if (!m_pMonitorThread) {
        m_bMonitorRunning = FALSE;
        return FALSE;
    }
    return TRUE;
}

BOOL CCommPort::SignalStop()
{
    return SetEvent(m_hStopEvent);
}

void CCommPort::ReportError(const char* pszOperation)
{
    const DWORD dwError = GetLastError();
    char* pszSystem = nullptr;
    if (!FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, dwError,
                        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&pszSystem), 0, nullptr))
        pszSystem = nullptr;
    char szCode[32];
    std::snprintf(szCode, sizeof szCode, "Error %lu.\r\n", static_cast<unsigned long>(dwError));
    char szReport[200];
    std::snprintf(szReport, sizeof szReport, "WARNING:  %s Failed with the following error: \n%s\nPort: %d\n",
                  pszOperation, pszSystem ? pszSystem : szCode, m_nPortNumber);
    MessageBoxA(nullptr, szReport, "Application Error", MB_OK | MB_ICONERROR);
    LocalFree(pszSystem);
}

void CCommPort::NotifyOwner(UINT message, WPARAM wParam)
{
    // A window that is gone gets nothing: its handle no longer names it.
    ::SendMessageA(m_hOwnerWnd, message, wParam, static_cast<LPARAM>(m_nPortNumber));
}

UINT CCommPort::MonitorThreadProc(LPVOID pParam)
{
    CCommPort* port = static_cast<CCommPort*>(pParam);
    port->m_bMonitorRunning = TRUE;
    port->m_bWriting = false; // a write an earlier thread left went with its handle
    DWORD dwEvent = 0;
    DWORD dwError = 0;
    COMSTAT comstat{};

    // No purge here: Open has just purged both directions, and bytes that
    // arrived since are the device's first words, which the owner must get.

    // Whether the last event wait is still outstanding (or completed and not
    // yet taken up at the wait below). A new wait then would reset its event
    // and lose the wake-up of bytes that came during a write.
    bool bWaitOutstanding = false;
    for (;;) {
        if (!bWaitOutstanding) {
            if (WaitCommEvent(port->m_hPort, &dwEvent, &port->m_ovIo)) {
                comstat = COMSTAT{};
                ClearCommError(port->m_hPort, &dwError, &comstat);
                if (comstat.cbInQue == 0)
                    continue;
            } else {
                dwError = GetLastError();
                if (dwError == ERROR_IO_PENDING)
                    bWaitOutstanding = true;
                else if (dwError != ERROR_INVALID_PARAMETER)
                    port->ReportError("WaitCommEvent()");
            }
        }

        // While a write is under way its completion takes the write event's
        // place: the thread goes on reading and can be stopped meanwhile, and
        // data handed over meanwhile waits in the slot for the next write.
        const HANDLE handles[3] = {port->m_hStopEvent, port->m_ovIo.hEvent, port->WriteTurnEvent()};
        const DWORD dwWait = WaitForMultipleObjects(3, handles, FALSE, INFINITE);
        switch (dwWait) {
        case WAIT_OBJECT_0: {
            // The outstanding wait and write, and data not yet written, go
            // with the handle.
            CloseHandle(port->m_hPort.exchange(nullptr));
            port->m_bMonitorRunning = FALSE;
            AfxEndThread(kMonitorExitCode, TRUE);
        }
        case WAIT_OBJECT_0 + 1: {
            bWaitOutstanding = false;
            // The mask applied at Open decides what is done, not the events
            // that ended the wait.
            DWORD dwCommEvent = 0;
            GetCommMask(port->m_hPort, &dwCommEvent);
            if (dwCommEvent & EV_RXCHAR)
                ReadAvailable(port);
            if (dwCommEvent & EV_CTS)
                port->NotifyOwner(WM_PORT_CTS, 0);
            if (dwCommEvent & EV_BREAK)
                port->NotifyOwner(WM_PORT_BREAK, 0);
            if (dwCommEvent & EV_ERR)
                port->NotifyOwner(WM_PORT_ERR, 0);
            if (dwCommEvent & EV_RING)
                port->NotifyOwner(WM_PORT_RING, 0);
            if (dwCommEvent & EV_RXFLAG)
                port->NotifyOwner(WM_PORT_RXFLAG, 0);
            break;
        }
        case WAIT_OBJECT_0 + 2:
            ServeWrite(port);
            break;
        default:
            break;
        }
    }
}

void CCommPort::ReadAvailable(CCommPort* port)
{
    COMSTAT comstat{};
    DWORD dwErrors = 0;
    EnterCriticalSection(&port->m_csPortSync);
    ClearCommError(port->m_hPort, &dwErrors, &comstat);
    LeaveCriticalSection(&port->m_csPortSync);

    // The bytes of one burst go to the owner in one hand-off, still one
    // WM_PORT_RXCHAR each; the window's thread wakes once per burst instead
    // of once per byte.
    WPARAM burst[kMaxBurst];
    while (comstat.cbInQue > 0) {
        const DWORD nWanted = std::min<DWORD>(comstat.cbInQue, kMaxBurst);
        size_t nBurst = 0;
        EnterCriticalSection(&port->m_csPortSync);
        for (DWORD i = 0; i < nWanted; ++i) {
            BYTE byte = 0;
            DWORD dwRead = 0;
            BOOL bRead = ReadFile(port->m_hPort, &byte, 1, &dwRead, &port->m_ovRead);
            if (!bRead) {
                if (GetLastError() == ERROR_IO_PENDING) {
                    bRead = GetOverlappedResult(port->m_hPort, &port->m_ovRead, &dwRead, TRUE);
                    if (!bRead)
                        port->ReportError("GetOverlappedResults() in ReadFile()");
                } else {
                    port->ReportError("ReadFile()");
                }
            }
            if (!bRead || dwRead != 1)
                break; // what was read so far goes out before anything else is tried
            burst[nBurst++] = static_cast<WPARAM>(byte);
        }
        LeaveCriticalSection(&port->m_csPortSync);

        if (nBurst > 0)
            AfxSendMessageSeries(port->m_hOwnerWnd, WM_PORT_RXCHAR, burst, nBurst,
                                 static_cast<LPARAM>(port->m_nPortNumber));

        // Under a stream that never pauses the queue never empties and the
        // comm event, signalled again, wins at the thread's wait: a stop ends
        // the reading here, and the write takes its turn here (a look at a
        // write under way lets it go on). The reading goes on after the turn:
        // no event would come for bytes whose arrival was reported already.
        if (WaitForSingleObject(port->m_hStopEvent, 0) == WAIT_OBJECT_0)
            return;
        if (WaitForSingleObject(port->WriteTurnEvent(), 0) == WAIT_OBJECT_0)
            ServeWrite(port);

        comstat = COMSTAT{};
        EnterCriticalSection(&port->m_csPortSync);
        ClearCommError(port->m_hPort, &dwErrors, &comstat);
        LeaveCriticalSection(&port->m_csPortSync);
    }
}

void CCommPort::WritePending(CCommPort* port)
{
    // The event is reset and the slot taken together, so that a Send from
    // now on sets the event again for its own data and nothing goes twice.
    EnterCriticalSection(&port->m_csWriteSlot);
    ResetEvent(port->m_hWriteEvent);
    const DWORD nLength = port->m_pWriteBuf ? std::min<DWORD>(port->m_nWriteLen, port->m_nWriteBufSize) : 0;
    port->m_outBuf.assign(port->m_pWriteBuf, port->m_pWriteBuf + nLength);
    LeaveCriticalSection(&port->m_csWriteSlot);

    EnterCriticalSection(&port->m_csPortSync);
    port->m_ovWrite.Offset = 0;
    port->m_ovWrite.OffsetHigh = 0;
    // No purge here: it would throw away received bytes not yet delivered to
    // the owner and the unsent rest of an earlier write.
    DWORD dwWritten = 0;
    if (!WriteFile(port->m_hPort, port->m_outBuf.data(), nLength, &dwWritten, &port->m_ovWrite)) {
        // A write the device cannot take yet is finished at the thread's wait
        // (FinishWrite), so that a device that never reads cannot hold up a
        // stop; m_outBuf stays untouched until then.
        if (GetLastError() == ERROR_IO_PENDING)
            port->m_bWriting = true;
        else
            port->ReportError("WriteFile()");
    }
    LeaveCriticalSection(&port->m_csPortSync);
}

HANDLE CCommPort::WriteTurnEvent() const
{
    return m_bWriting ? m_ovWrite.hEvent : m_hWriteEvent;
}

void CCommPort::ServeWrite(CCommPort* port)
{
    if (port->m_bWriting)
        FinishWrite(port);
    else
        WritePending(port);
}

void CCommPort::FinishWrite(CCommPort* port)
{
    port->m_bWriting = false;
    EnterCriticalSection(&port->m_csPortSync);
    DWORD dwWritten = 0;
    // Failing later is failing all the same: the user must learn that the
    // data did not go out.
    if (!GetOverlappedResult(port->m_hPort, &port->m_ovWrite, &dwWritten, TRUE)
        && GetLastError() != ERROR_OPERATION_ABORTED)
        port->ReportError("WriteFile()");
    LeaveCriticalSection(&port->m_csPortSync);
}

BOOL CCommPort::Send(const BYTE* pData, DWORD nLength)
{
    EnterCriticalSection(&m_csWriteSlot);
    if (nLength > m_nWriteBufSize || !m_pWriteBuf) {
        BYTE* pBigger = new (std::nothrow) BYTE[nLength];
        if (!pBigger) {
            LeaveCriticalSection(&m_csWriteSlot);
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return FALSE;
        }
        delete[] m_pWriteBuf;
        m_pWriteBuf = pBigger;
        m_nWriteBufSize = nLength;
    }
    if (nLength)
        std::memcpy(m_pWriteBuf, pData, nLength);
    m_nWriteLen = nLength;
    const BOOL bSet = SetEvent(m_hWriteEvent);
    LeaveCriticalSection(&m_csWriteSlot);
    return bSet;
}

BOOL CCommPort::SendString(const char* pszText)
{
    // The terminator is the caller's; the slot holds the bytes that go out.
    return Send(reinterpret_cast<const BYTE*>(pszText), static_cast<DWORD>(std::strlen(pszText)));
}
