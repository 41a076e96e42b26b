// Framework threads: started on pthreads so that a stack size can be given
// and AfxEndThread can end the thread from anywhere in it.
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "framework/afxtest.h"
#include "framework/wndimpl.h"

namespace {

// Never destroyed: a detached thread publishes its exit code on its way out,
// which may be after main has returned.
struct Registry {
    std::mutex mutex;
    std::function<bool()> creationHook;
    std::unordered_map<DWORD, DWORD> exitCodes;
};
Registry& g_registry = *new Registry;
std::atomic<DWORD> g_lastThreadId{0};

thread_local CWinThread* t_thread = nullptr;
thread_local DWORD t_threadId = 0;

// Publishes a framework thread's exit code when the thread is really gone:
// thread-local objects are destroyed after the stack has been unwound.
struct ThreadEnd {
    bool ending = false;
    DWORD code = 0;
    ~ThreadEnd()
    {
        if (!ending)
            return;
        if (t_threadId) {
            std::lock_guard lock(g_registry.mutex);
            g_registry.exitCodes[t_threadId] = code;
        }
        AfxWakeWaiters();
    }
};
thread_local ThreadEnd t_end;

struct StartInfo {
    AFX_THREADPROC proc;
    LPVOID param;
    CWinThread* thread;
};

extern "C" void* threadStart(void* arg)
{
    std::unique_ptr<StartInfo> info(static_cast<StartInfo*>(arg));
    t_thread = info->thread;
    t_threadId = info->thread->m_nThreadID;
    const AFX_THREADPROC proc = info->proc;
    const LPVOID param = info->param;
    info.reset();
    AfxEndThread(proc(param), TRUE);
}

}  // namespace

CWinThread* AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam, int nPriority, UINT nStackSize,
                           DWORD dwCreateFlags, LPSECURITY_ATTRIBUTES lpSecurityAttrs)
{
    if (!pfnThreadProc || nPriority != THREAD_PRIORITY_NORMAL || dwCreateFlags != 0 || lpSecurityAttrs)
        return nullptr;
    {
        std::function<bool()> hook;
        {
            std::lock_guard lock(g_registry.mutex);
            hook = g_registry.creationHook;
        }
        if (hook && !hook())
            return nullptr;
    }
    auto thread = std::make_unique<CWinThread>();
    thread->m_bAutoDelete = TRUE;
    thread->m_nThreadID = ++g_lastThreadId;
    auto info = std::make_unique<StartInfo>(StartInfo{pfnThreadProc, pParam, thread.get()});

    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0)
        return nullptr;
    int rc = pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    if (rc == 0 && nStackSize != 0)
        rc = pthread_attr_setstacksize(&attr, std::max<size_t>(nStackSize, PTHREAD_STACK_MIN));
    pthread_t id;
    if (rc == 0)
        rc = pthread_create(&id, &attr, threadStart, info.get());
    pthread_attr_destroy(&attr);
    if (rc != 0)
        return nullptr;
    info.release();  // the thread owns it now
    return thread.release();
}

void AfxEndThread(UINT nExitCode, BOOL bDelete)
{
    t_end.ending = true;
    t_end.code = nExitCode;
    if (CWinThread* thread = t_thread; thread && bDelete && thread->m_bAutoDelete) {
        t_thread = nullptr;
        delete thread;
    }
    pthread_exit(nullptr);
}

BOOL AfxGetThreadExitCode(DWORD threadId, DWORD* exitCode)
{
    std::lock_guard lock(g_registry.mutex);
    auto it = g_registry.exitCodes.find(threadId);
    if (it == g_registry.exitCodes.end())
        return FALSE;
    if (exitCode)
        *exitCode = it->second;
    return TRUE;
}

DWORD AfxGetCurrentThreadId()
{
    if (t_threadId == 0 && afx::isGuiThread())
        t_threadId = ++g_lastThreadId;
    return t_threadId;
}

void AfxSetThreadCreationHook(std::function<bool()> allow)
{
    std::lock_guard lock(g_registry.mutex);
    g_registry.creationHook = std::move(allow);
}
