#include "serial/commport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <new>

namespace {

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
constexpr DWORD kTimeoutMs = 1000;
constexpr UINT kMonitorExitCode = 100;
// The most bytes handed to the owner at once: a stop waits for at most this
// many handlers.
constexpr DWORD kMaxBurst = CCommPort::Series::kMaxBytes;
// After a comm event has been taken up, the thread lets this long pass
// before it looks at the line again: a steady trickle is then handed over in
// batches, at most 25 times a second, where each handful of bytes would
// otherwise cost the owner's thread a turn. The owner shows what arrives at
// frames that are as far apart. A stop and the write's turns are served
// meanwhile, and the system holds what arrives.
constexpr DWORD kDeliveryGapMs = 40;
// The gap follows only a delivery from a line that brings less than this
// during a gap (about 100 KB/s, a megabaud line's pace): the system holds
// that much with room to spare (a pseudo-terminal some 14 KB, a serial
// line's driver 64 KB). A faster device (a USB device that ignores the baud
// rate) fills its batches by itself, and a gap would only hold it back.
constexpr size_t kGapHoldBytes = 4096;

// The line events a comm event reports to the owner after the bytes, in this
// order.
constexpr struct {
    DWORD dwEvent;
    UINT message;
} kLineEventMessages[] = {
    {EV_CTS, WM_PORT_CTS}, {EV_BREAK, WM_PORT_BREAK}, {EV_ERR, WM_PORT_ERR}, {EV_RING, WM_PORT_RING},
    {EV_RXFLAG, WM_PORT_RXFLAG},
};
static_assert(std::size(kLineEventMessages) == CCommPort::Series::kMaxLineEvents);

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
      m_hStopEvent(nullptr), m_ovIo{}, m_timeouts{}, m_dcb{}, m_nPortNumber(0), m_pWriteBuf(nullptr),
      m_nWriteBufSize(0), m_hOwnerWnd(nullptr), m_ovRead{}, m_ovWrite{}, m_bWriting(false), m_bOpening(false)
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
    m_nPortNumber = nPortNumber;
    if (!PrepareEvents())
        return FALSE;
    // The monitor thread sends to the handle, never to the window object,
    // which this thread may destroy while that thread runs.
    m_hOwnerWnd = pOwnerWnd ? pOwnerWnd->GetSafeHwnd() : nullptr;
    AllocateWriteBuffer(nWriteBufferSize);

    char szBaud[50];
    std::snprintf(szBaud, sizeof szBaud, "baud=%d parity=%c data=%d stop=%d", nBaudRate, chParity, nDataBits,
                  nStopBits);
    EnterCriticalSection(&m_csPortSync);
    const HANDLE port = OpenDevice(nPortNumber);
    if (port == INVALID_HANDLE_VALUE) {
        LeaveCriticalSection(&m_csPortSync);
        return FALSE;
    }
    // A failed step is reported and the rest skipped; the port stays open
    // with what was applied.
    const Failure failure = Configure(port, szBaud, dwCommEvents);
    LeaveCriticalSection(&m_csPortSync);
    if (failure)
        Report(failure);

    // After the box: what the device sent while it was shown goes too.
    EnterCriticalSection(&m_csPortSync);
    PurgeComm(port, kPurgeAll);
    LeaveCriticalSection(&m_csPortSync);
    return TRUE;
}

BOOL CCommPort::PrepareEvents()
{
    for (HANDLE* event : {&m_ovIo.hEvent, &m_hWriteEvent, &m_hStopEvent, &m_ovRead.hEvent, &m_ovWrite.hEvent}) {
        if (*event) {
            ResetEvent(*event);
            continue;
        }
        *event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!*event) {
            // Without its events the engine can neither wait nor be stopped.
            ReportError("CreateEvent()");
            return FALSE;
        }
    }
    return TRUE;
}

void CCommPort::AllocateWriteBuffer(UINT nSize)
{
    EnterCriticalSection(&m_csWriteSlot);
    delete[] m_pWriteBuf;
    m_pWriteBuf = new (std::nothrow) BYTE[nSize];
    m_nWriteBufSize = m_pWriteBuf ? nSize : 0; // Send grows it when it must
    LeaveCriticalSection(&m_csWriteSlot);
}

HANDLE CCommPort::OpenDevice(int nPortNumber)
{
    if (HANDLE port = m_hPort.exchange(nullptr))
        CloseHandle(port);
    char szPort[50];
    std::snprintf(szPort, sizeof szPort, "COM%d", nPortNumber);
    const HANDLE port = CreateFileA(szPort, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED, nullptr);
    if (port != INVALID_HANDLE_VALUE)
        m_hPort = port;
    return port;
}

CCommPort::Failure CCommPort::Configure(HANDLE port, const char* pszDefinition, DWORD dwCommEvents)
{
    m_timeouts.ReadIntervalTimeout = kTimeoutMs;
    m_timeouts.ReadTotalTimeoutMultiplier = kTimeoutMs;
    m_timeouts.ReadTotalTimeoutConstant = kTimeoutMs;
    m_timeouts.WriteTotalTimeoutMultiplier = kTimeoutMs;
    m_timeouts.WriteTotalTimeoutConstant = kTimeoutMs;
    if (!SetCommTimeouts(port, &m_timeouts))
        return LastFailure("SetCommTimeouts()");
    if (!SetCommMask(port, dwCommEvents))
        return LastFailure("SetCommMask()");
    if (!GetCommState(port, &m_dcb))
        return LastFailure("GetCommState()");
    m_dcb.fRtsControl = RTS_CONTROL_ENABLE;
    m_dcb.EvtChar = 'q';
    if (!BuildCommDCBA(pszDefinition, &m_dcb))
        return LastFailure("BuildCommDCB()");
    if (!SetCommState(port, &m_dcb))
        return LastFailure("SetCommState()");
    return {};
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

CCommPort::Failure CCommPort::LastFailure(const char* pszOperation)
{
    return Failure{pszOperation, GetLastError()};
}

void CCommPort::Report(const Failure& failure)
{
    SetLastError(failure.dwError);
    ReportError(failure.pszOperation);
}

void CCommPort::Series::Add(UINT message, WPARAM wParam, int nPortNumber)
{
    msgs.push_back(AFX_SERIES_MSG{message, wParam, static_cast<LPARAM>(nPortNumber)});
}

void CCommPort::NotifyOwner(Series& series)
{
    // A window that is gone gets nothing: its handle no longer names it.
    AfxSendMessageSeries(m_hOwnerWnd, series.msgs.data(), series.msgs.size());
    series.msgs.clear();
}

UINT CCommPort::MonitorThreadProc(LPVOID pParam)
{
    CCommPort* port = static_cast<CCommPort*>(pParam);
    port->m_bMonitorRunning = TRUE;
    port->m_bWriting = false; // a write an earlier thread left went with its handle

    // No purge here: Open has just purged both directions, and bytes that
    // arrived since are the device's first words, which the owner must get.

    // An event wait writes the events that ended it here when it completes,
    // however late, so the word lives as long as the thread. OnCommEvent goes
    // by the mask set on the port instead, so nothing reads it.
    DWORD dwEvents = 0;
    // Whether the last event wait is still outstanding (or completed and not
    // yet taken up at the wait below). A new wait then would reset its event
    // and lose the wake-up of bytes that came during a write.
    bool bWaitOutstanding = false;
    // When the last delivery ended: the bytes of the next came since.
    auto lastDelivery = std::chrono::steady_clock::now();
    for (;;) {
        if (!bWaitOutstanding)
            bWaitOutstanding = port->BeginEventWait(&dwEvents);

        // While a write is under way its completion takes the write event's
        // place: the thread goes on reading and can be stopped meanwhile, and
        // data handed over meanwhile waits in the slot for the next write.
        const HANDLE handles[3] = {port->m_hStopEvent, port->m_ovIo.hEvent, port->WriteTurnEvent()};
        switch (WaitForMultipleObjects(3, handles, FALSE, INFINITE)) {
        case WAIT_OBJECT_0:
            port->EndMonitor();
        case WAIT_OBJECT_0 + 1: {
            bWaitOutstanding = false;
            const auto woke = std::chrono::steady_clock::now();
            const size_t nDelivered = port->OnCommEvent();
            const long long nSinceLastMs =
                std::chrono::duration_cast<std::chrono::milliseconds>(woke - lastDelivery).count();
            // The write gets its turn after the wake's bytes, in the gap or,
            // when there is none, before the line is looked at again: a device
            // that answers every byte keeps the comm event signalled.
            if (GapPays(nDelivered, nSinceLastMs))
                port->AwaitDeliveryGap();
            else if (WaitForSingleObject(port->WriteTurnEvent(), 0) == WAIT_OBJECT_0)
                ServeWrite(port);
            lastDelivery = std::chrono::steady_clock::now();
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

bool CCommPort::BeginEventWait(DWORD* pdwEvents)
{
    for (;;) {
        if (WaitCommEvent(m_hPort, pdwEvents, &m_ovIo)) {
            COMSTAT comstat{};
            DWORD dwErrors = 0;
            ClearCommError(m_hPort, &dwErrors, &comstat);
            // A wait that ends at once with nothing queued brings no news.
            if (comstat.cbInQue == 0)
                continue;
            return false;
        }
        const DWORD dwError = GetLastError();
        if (dwError == ERROR_IO_PENDING)
            return true;
        // ERROR_INVALID_PARAMETER is the port's answer when it has no events
        // to watch: the mask given was empty, or Open's SetCommMask failed and
        // was reported there. (A second wait while one is outstanding would
        // get it too; bWaitOutstanding keeps that from happening.) Nothing
        // new to tell, and the thread still serves stop and write.
        if (dwError != ERROR_INVALID_PARAMETER)
            ReportError("WaitCommEvent()");
        return false;
    }
}

void CCommPort::AwaitDeliveryGap()
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDeliveryGapMs);
    for (;;) {
        const auto rest = std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (rest.count() <= 0)
            return;
        const HANDLE handles[2] = {m_hStopEvent, WriteTurnEvent()};
        switch (WaitForMultipleObjects(2, handles, FALSE, static_cast<DWORD>(rest.count()))) {
        case WAIT_OBJECT_0:
            EndMonitor();
        case WAIT_OBJECT_0 + 1:
            ServeWrite(this);
            break;
        default:
            return;  // the gap is over; a failed wait delivers at once
        }
    }
}

bool CCommPort::GapPays(size_t nDelivered, long long nSinceLastMs)
{
    // The line's pace, from what it brought since the last delivery: a gap
    // would make the system hold nDelivered * gap / since bytes.
    return static_cast<long long>(nDelivered) * kDeliveryGapMs
        < static_cast<long long>(kGapHoldBytes) * std::max(nSinceLastMs, 1LL);
}

DWORD CCommPort::QueuedBytes()
{
    COMSTAT comstat{};
    DWORD dwErrors = 0;
    EnterCriticalSection(&m_csPortSync);
    ClearCommError(m_hPort, &dwErrors, &comstat);
    LeaveCriticalSection(&m_csPortSync);
    return comstat.cbInQue;
}

size_t CCommPort::OnCommEvent()
{
    // The mask applied at Open decides what is done, not the events that
    // ended the wait.
    DWORD dwCommEvent = 0;
    GetCommMask(m_hPort, &dwCommEvent);
    // The line events' messages go in one hand-off with the last bytes read,
    // so that a wake costs the owner's thread one turn.
    Series& lineEvents = m_lineEvents;
    for (const auto& line : kLineEventMessages)
        if (dwCommEvent & line.dwEvent)
            lineEvents.Add(line.message, 0, m_nPortNumber);
    const size_t nDelivered = (dwCommEvent & EV_RXCHAR) ? ReadAvailable(this, lineEvents) : 0;
    if (lineEvents.size())
        NotifyOwner(lineEvents);
    return nDelivered;
}

void CCommPort::EndMonitor()
{
    // The outstanding wait and write, and data not yet written, go with the
    // handle.
    CloseHandle(m_hPort.exchange(nullptr));
    m_bMonitorRunning = FALSE;
    AfxEndThread(kMonitorExitCode, TRUE);
}

size_t CCommPort::ReadAvailable(CCommPort* port, Series& after)
{
    // The bytes of one burst go to the owner in one hand-off, still one
    // WM_PORT_RXCHAR each; the window's thread wakes once per burst instead
    // of once per byte.
    size_t nDelivered = 0;
    for (DWORD nQueued = port->QueuedBytes(); nQueued > 0;) {
        Series& burst = port->m_burst;
        const Failure failure = ReadBurst(port, burst, std::min<DWORD>(nQueued, kMaxBurst));
        nDelivered += burst.size();
        if (failure)
            port->Report(failure);
        // Asked before the burst goes: when it empties the queue, what is to
        // follow the bytes goes with them. Bytes that come meanwhile raise
        // the comm event again, and the next wake delivers them.
        nQueued = port->QueuedBytes();
        if (nQueued == 0) {
            burst.msgs.insert(burst.msgs.end(), after.msgs.begin(), after.msgs.end());
            after.msgs.clear();
        }
        // What was read before a failure goes out before anything else is
        // tried.
        port->NotifyOwner(burst);

        // Under a stream that never pauses the queue never empties and the
        // comm event, signalled again, wins at the thread's wait: a stop ends
        // the reading here, and the write takes its turn here (a look at a
        // write under way lets it go on). The reading goes on after the turn:
        // no event would come for bytes whose arrival was reported already.
        if (nQueued == 0 || WaitForSingleObject(port->m_hStopEvent, 0) == WAIT_OBJECT_0)
            return nDelivered;
        if (WaitForSingleObject(port->WriteTurnEvent(), 0) == WAIT_OBJECT_0)
            ServeWrite(port);
    }
    return nDelivered;
}

CCommPort::Failure CCommPort::ReadBurst(CCommPort* port, Series& burst, DWORD nWanted)
{
    Failure failure;
    EnterCriticalSection(&port->m_csPortSync);
    for (DWORD nRead = 0; nRead < nWanted; ++nRead) {
        BYTE byte = 0;
        DWORD dwRead = 0;
        BOOL bRead = ReadFile(port->m_hPort, &byte, 1, &dwRead, &port->m_ovRead);
        if (!bRead) {
            if (GetLastError() != ERROR_IO_PENDING) {
                failure = LastFailure("ReadFile()");
            } else {
                bRead = GetOverlappedResult(port->m_hPort, &port->m_ovRead, &dwRead, TRUE);
                if (!bRead)
                    failure = LastFailure("GetOverlappedResults() in ReadFile()");
            }
        }
        if (!bRead || dwRead != 1)
            break;
        burst.Add(WM_PORT_RXCHAR, static_cast<WPARAM>(byte), port->m_nPortNumber);
    }
    LeaveCriticalSection(&port->m_csPortSync);
    return failure;
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
    Failure failure;
    if (!WriteFile(port->m_hPort, port->m_outBuf.data(), nLength, &dwWritten, &port->m_ovWrite)) {
        // A write the device cannot take yet is finished at the thread's wait
        // (FinishWrite), so that a device that never reads cannot hold up a
        // stop; m_outBuf stays untouched until then.
        if (GetLastError() == ERROR_IO_PENDING)
            port->m_bWriting = true;
        else
            failure = LastFailure("WriteFile()");
    }
    LeaveCriticalSection(&port->m_csPortSync);
    if (failure)
        port->Report(failure);
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
    Failure failure;
    // Failing later is failing all the same: the user must learn that the
    // data did not go out.
    if (!GetOverlappedResult(port->m_hPort, &port->m_ovWrite, &dwWritten, TRUE)
        && GetLastError() != ERROR_OPERATION_ABORTED)
        failure = LastFailure("WriteFile()");
    LeaveCriticalSection(&port->m_csPortSync);
    if (failure)
        port->Report(failure);
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
