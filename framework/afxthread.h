// Worker threads and the wait that keeps a window thread answering while it
// waits for one. Which thread may call what, and how a message crosses from a
// worker to the window thread: framework/handoff.h.
#pragma once

#include <functional>

#include "framework/afxmsg.h"

class CWnd;

typedef UINT (*AFX_THREADPROC)(LPVOID);

#define THREAD_PRIORITY_NORMAL 0

// A thread's framework object. Objects made by AfxBeginThread delete
// themselves when their thread ends (m_bAutoDelete).
class CWinThread : public CCmdTarget {
public:
    CWinThread() = default;
    ~CWinThread() override = default;

    virtual BOOL InitInstance() { return FALSE; }
    virtual int ExitInstance() { return 0; }

    CWnd* m_pMainWnd = nullptr;
    // The framework's own id of the thread (never reused within a process;
    // not the system's thread id).
    DWORD m_nThreadID = 0;
    BOOL m_bAutoDelete = TRUE;
};

// Starts pfnThreadProc(pParam) on a new thread at once. Only normal priority,
// no creation flags and no security attributes are supported: anything else is
// refused with nullptr, as is a thread the system cannot create. nStackSize 0
// is the system's default. The object deletes itself when the thread ends, so
// it may already be gone when this returns to a caller that is slower than
// the thread.
CWinThread* AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam,
                           int nPriority = THREAD_PRIORITY_NORMAL, UINT nStackSize = 0,
                           DWORD dwCreateFlags = 0, LPSECURITY_ATTRIBUTES lpSecurityAttrs = nullptr);

// Ends the calling thread (started by AfxBeginThread) with nExitCode, deleting
// its thread object when bDelete is TRUE. Locals of the thread are destroyed
// on the way out; the exit code is known, and waiters are woken, once they
// are.
[[noreturn]] void AfxEndThread(UINT nExitCode, BOOL bDelete = TRUE);

// The exit code of an ended framework thread; FALSE while it runs or when the
// id is unknown.
BOOL AfxGetThreadExitCode(DWORD threadId, DWORD* exitCode);

// The framework's id of the calling thread (0 when it was not started by
// AfxBeginThread and is not the GUI thread).
DWORD AfxGetCurrentThreadId();

// Blocks the calling window thread until done() is true, serving messages
// sent to its windows from other threads, painting, and letting the user
// answer ownerless message boxes, while user input to the program's other
// windows (and their timers) is held back so no second command re-enters the
// caller; what was held back is delivered once the outermost wait ends.
// done() is re-evaluated whenever a framework thread ends (AfxEndThread) or
// AfxWakeWaiters() is called. On a thread that has no windows it just blocks
// until done().
void AfxWaitServingMessages(const std::function<bool()>& done);
void AfxWakeWaiters();
