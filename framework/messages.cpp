// The handle table, message dispatch and default processing (CWnd::Default).
#include <QCoreApplication>
#include <QThread>

#include <mutex>
#include <unordered_map>

#include "framework/afxqt.h"
#include "framework/wndimpl.h"

namespace afx {

namespace {

// Written on the GUI thread only, under the mutex; the GUI thread reads it
// without the lock, other threads with it. Never destroyed: a detached
// thread may still look a handle up while static destructors run.
struct HandleTable {
    std::mutex mutex;
    std::unordered_map<std::uintptr_t, WndImpl*> windows;
    std::unordered_map<const QWidget*, WndImpl*> widgets;
    std::uintptr_t lastHandle = 0x1000;
};
HandleTable& g_table = *new HandleTable;

}  // namespace

// --- Handle table ----------------------------------------------------------

HWND registerWindow(WndImpl* wnd)
{
    std::lock_guard lock(g_table.mutex);
    const std::uintptr_t value = ++g_table.lastHandle;
    g_table.windows.emplace(value, wnd);
    if (wnd->widget())
        g_table.widgets.emplace(wnd->widget(), wnd);
    wnd->m_hwnd = reinterpret_cast<HWND>(value);
    return wnd->m_hwnd;
}

void unregisterWindow(WndImpl* wnd)
{
    std::lock_guard lock(g_table.mutex);
    g_table.windows.erase(reinterpret_cast<std::uintptr_t>(wnd->hwnd()));
    for (auto it = g_table.widgets.begin(); it != g_table.widgets.end();) {
        if (it->second == wnd)
            it = g_table.widgets.erase(it);
        else
            ++it;
    }
}

WndImpl* lookup(HWND hwnd)
{
    if (!hwnd || !isGuiThread())
        return nullptr;
    auto it = g_table.windows.find(reinterpret_cast<std::uintptr_t>(hwnd));
    return it == g_table.windows.end() ? nullptr : it->second;
}

bool isLiveHandle(HWND hwnd)
{
    if (!hwnd)
        return false;
    std::lock_guard lock(g_table.mutex);
    return g_table.windows.count(reinterpret_cast<std::uintptr_t>(hwnd)) != 0;
}

WndImpl* lookupWidget(const QWidget* widget)
{
    if (!widget || !isGuiThread())
        return nullptr;
    auto it = g_table.widgets.find(widget);
    return it == g_table.widgets.end() ? nullptr : it->second;
}

// --- Dispatch ----------------------------------------------------------------

namespace {
struct CurrentMessage {
    HWND hwnd = nullptr;
    UINT msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};
thread_local CurrentMessage t_current;
}  // namespace

LRESULT dispatch(WndImpl* wnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    const CurrentMessage saved = t_current;
    t_current = {wnd->hwnd(), msg, wParam, lParam};
    const LRESULT result = wnd->m_permanent ? wnd->m_permanent->WindowProc(msg, wParam, lParam)
                                            : wnd->classProc(msg, wParam, lParam);
    t_current = saved;
    return result;
}

LRESULT defaultForCurrent(CWnd* wnd)
{
    if (t_current.hwnd != wnd->m_hWnd)
        return 0;  // not inside a handler of this window
    return wnd->DefWindowProc(t_current.msg, t_current.wParam, t_current.lParam);
}

void notifyParent(WndImpl* control, UINT code)
{
    WndImpl* parent = control->parent();
    if (!parent)
        return;
    dispatch(parent, WM_COMMAND, MAKEWPARAM(control->id(), code), reinterpret_cast<LPARAM>(control->hwnd()));
}

bool isGuiThread()
{
    // Asked with every message, so each thread keeps its answer for the
    // application it was given for; an application's thread never changes.
    thread_local const QCoreApplication* t_app = nullptr;
    thread_local bool t_gui = false;
    const QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return false;
    if (app != t_app) {
        t_app = app;
        t_gui = QThread::currentThread() == app->thread();
    }
    return t_gui;
}

}  // namespace afx

using namespace afx;

BOOL IsWindow(HWND hWnd) { return isLiveHandle(hWnd) ? TRUE : FALSE; }

QWidget* AfxWidgetFromHandle(HWND hWnd)
{
    WndImpl* wnd = lookup(hWnd);
    return wnd ? wnd->widget() : nullptr;
}

HWND AfxHandleFromWidget(const QWidget* widget)
{
    WndImpl* wnd = lookupWidget(widget);
    return wnd ? wnd->hwnd() : nullptr;
}
