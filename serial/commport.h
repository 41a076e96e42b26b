// CCommPort: the serial port engine. One object drives one port for one owner
// window: Open opens and configures the port, StartMonitor starts the monitor
// thread, which hands every received byte to the owner as a WM_PORT_RXCHAR
// message (the bytes waiting at one time in one hand-off to the window's
// thread, with the wake's line-event messages after the last burst; after a
// delivery from a line slower than about 100 KB/s it lets 40 ms pass before
// it looks at the line again, so a steady stream arrives in batches) and
// writes what Send and SendString leave in the write slot.
//
// Thread safety:
// - The owner's thread (the window thread) calls the constructor, Open,
//   StartMonitor, Send, SendString, SignalStop and the destructor, one at a
//   time; a second Open that begins while one runs (from a handler run during
//   its wait) is refused.
// - The monitor thread runs MonitorThreadProc, ReadAvailable and WritePending,
//   and ReportError when they fail. It is the only thread that reads, writes
//   or waits on the port while it runs, and it closes the port when it stops.
// - The two meet in m_hPort and m_bMonitorRunning (atomic), in the write slot
//   (m_pWriteBuf, m_nWriteLen, under m_csWriteSlot, held only for a copy) and
//   in the three events. Every WM_PORT_* message is sent synchronously: the
//   monitor thread waits until the owner's handler has run on the owner's
//   thread (for a burst of bytes, until the handler has run for the last of
//   them), so a handler must never wait for the monitor thread; Open and the
//   destructor wait for it serving messages meanwhile, and a stop is seen
//   after the burst being delivered.
// - A write the device cannot take at once stays under way while the thread
//   goes on waiting and delivering: a stop ends it, discarding what was not
//   yet written, and bytes that arrive meanwhile are delivered. Data waiting
//   in the slot, and a write under way, get their turn after at most one
//   burst, however long a stream lasts; bytes still queued after the turn
//   are delivered next, whether more arrive or not.
// - m_csPortSync is taken around Open's configuration and purge and around
//   each read and write step of the monitor thread, so that no two of them
//   use the port, its DCB, its timeouts or its I/O records at once. Open
//   first waits for a running monitor thread to end, so today the two never
//   compete for it. No message is sent and no report box shown while it is
//   held: a failure is reported once it is released.
#pragma once

#include <atomic>
#include <vector>

#include "framework/afxwin.h"
#include "platform/winbase.h"

// Messages from the engine to its owner window: lParam is the port number.
#define WM_PORT_BREAK  (WM_USER + 1)
#define WM_PORT_CTS    (WM_USER + 2)
#define WM_PORT_ERR    (WM_USER + 4)
#define WM_PORT_RING   (WM_USER + 5)
#define WM_PORT_RXCHAR (WM_USER + 7) // wParam: the byte, 0 to 255
#define WM_PORT_RXFLAG (WM_USER + 8)

class CCommPort {
public:
    CCommPort();
    virtual ~CCommPort();
    CCommPort(const CCommPort&) = delete;
    CCommPort& operator=(const CCommPort&) = delete;

    // Stops a running monitor thread, then opens "COM<nPortNumber>" and sets
    // it up. FALSE only when the device cannot be opened (no box: the caller
    // reports it) or a second Open began while one runs; a failed setting
    // step is reported in a box and Open still returns TRUE.
    BOOL Open(CWnd* pOwnerWnd, int nPortNumber, int nBaudRate, char chParity, int nDataBits, int nStopBits,
              DWORD dwCommEvents, UINT nWriteBufferSize);
    // Starts the monitor thread for an open port; FALSE when no thread could
    // be made (the port stays open until the next Open or the destructor).
    BOOL StartMonitor();
    // Asks the monitor thread to close the port and end; does not wait.
    BOOL SignalStop();
    // Put data in the write slot for the monitor thread to write; a later
    // call before the thread takes them up replaces them. Data longer than
    // the buffer grow it. The result is that of setting the write event.
    BOOL Send(const BYTE* pData, DWORD nLength);
    BOOL SendString(const char* pszText);

    // Shows the failure of the named platform call with the system's text for
    // the calling thread's last error, in an ownerless box.
    void ReportError(const char* pszOperation);

    // Messages for the owner, handed over at once: a burst of bytes and what
    // follows them. The monitor thread keeps its series from wake to wake, so
    // that a burst allocates nothing once the series has grown to it.
    struct Series {
        // The most bytes handed over at once: what the port's input queue
        // holds. A stop, and the write's turn, wait for at most this many
        // handlers.
        static constexpr size_t kMaxBytes = 64 * 1024;
        static constexpr size_t kMaxLineEvents = 5;
        std::vector<AFX_SERIES_MSG> msgs;
        size_t size() const { return msgs.size(); }
        void Add(UINT message, WPARAM wParam, int nPortNumber);
    };

    static UINT MonitorThreadProc(LPVOID pParam);
    // Delivers what the queue holds until it is empty or a stop comes; the
    // write takes its turn after each burst. The messages of after go with
    // the burst that empties the queue; they stay in after when none does.
    // Returns how many bytes were delivered.
    static size_t ReadAvailable(CCommPort* port, Series& after);
    // Begins writing the slot's data; a write the device cannot take at once
    // is left under way, for FinishWrite when it completes.
    static void WritePending(CCommPort* port);

    UINT m_nWriteLen;
    std::atomic<HANDLE> m_hPort; // set while a port is open
    CWinThread* m_pMonitorThread;
    CRITICAL_SECTION m_csPortSync;
    std::atomic<BOOL> m_bMonitorRunning;
    HANDLE m_hWriteEvent;
    HANDLE m_hStopEvent;
    OVERLAPPED m_ovIo; // the event waits'
    COMMTIMEOUTS m_timeouts;
    DCB m_dcb;
    int m_nPortNumber;
    BYTE* m_pWriteBuf;
    UINT m_nWriteBufSize;

private:
    // A failed platform call and its error, kept until the port lock is
    // released and then reported.
    struct Failure {
        const char* pszOperation = nullptr;
        DWORD dwError = ERROR_SUCCESS;
        explicit operator bool() const { return pszOperation != nullptr; }
    };
    static Failure LastFailure(const char* pszOperation);
    void Report(const Failure& failure);

    // Open's steps.
    BOOL PrepareEvents();
    void AllocateWriteBuffer(UINT nSize);
    HANDLE OpenDevice(int nPortNumber);
    Failure Configure(HANDLE port, const char* pszDefinition, DWORD dwCommEvents);

    // The monitor thread's steps.
    // Starts an event wait; true when it is left outstanding, false when it
    // completed at once with bytes queued or failed.
    bool BeginEventWait(DWORD* pdwEvents);
    // After a comm event has been taken up: lets the delivery gap pass,
    // taking the write's turns and ending at a stop meanwhile.
    void AwaitDeliveryGap();
    // Whether a gap follows a delivery of nDelivered bytes that the line
    // brought in nSinceLastMs: only a slow line's bytes are batched.
    static bool GapPays(size_t nDelivered, long long nSinceLastMs);
    // What the port's input queue holds now.
    DWORD QueuedBytes();
    // What a comm event asks for, by the mask set on the port; how many bytes
    // it delivered.
    size_t OnCommEvent();
    // Closes the port and ends the thread.
    [[noreturn]] void EndMonitor();
    // Reads up to nWanted queued bytes, one call each, into burst as
    // WM_PORT_RXCHAR messages; stops at the first failure, which it returns.
    static Failure ReadBurst(CCommPort* port, Series& burst, DWORD nWanted);

    // Sends the series to the owner window, if it still exists, and empties
    // it.
    void NotifyOwner(Series& series);
    // Waits for a running monitor thread to end, serving the owner's messages.
    void StopMonitor();
    // What signals the write's turn: the completion of the write under way,
    // else the write event (data in the slot).
    HANDLE WriteTurnEvent() const;
    // Takes the write's turn, once WriteTurnEvent() is signalled.
    static void ServeWrite(CCommPort* port);
    // Takes up the result of the write under way, reporting a failure.
    static void FinishWrite(CCommPort* port);

    // The owner's window handle, taken at Open on the owner's thread.
    HWND m_hOwnerWnd;

    // The monitor thread's series of a burst and of a wake's line events.
    Series m_burst;
    Series m_lineEvents;

    // Reads and writes have I/O records of their own, so that neither touches
    // the outstanding event wait's.
    OVERLAPPED m_ovRead;
    OVERLAPPED m_ovWrite;
    // Guards the write slot (m_pWriteBuf, m_nWriteLen, m_nWriteBufSize) for
    // the moment of a copy in or out, never for a write.
    CRITICAL_SECTION m_csWriteSlot;
    // The monitor thread's copy of the slot, written out while Send may
    // already fill the slot again.
    std::vector<BYTE> m_outBuf;
    // The monitor thread's own: a write of m_outBuf is under way on m_ovWrite.
    bool m_bWriting;
    bool m_bOpening;
};
