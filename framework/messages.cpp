// The handle table, message dispatch and default processing (CWnd::Default).
#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "framework/afxqt.h"
#include "framework/wndimpl.h"

namespace afx {

namespace {

// A handle names a slot of the table and the slot's generation: a lookup is
// an index and a comparison. A slot freed by a window's end counts its
// generation up before it is used again, so a stale handle never names the
// window that comes after it (a generation wraps after 2^32 windows in one
// slot). Written on the GUI thread only, under the mutex; the GUI thread
// reads it without the lock, other threads with it. Never destroyed: a
// detached thread may still look a handle up while static destructors run.
struct HandleTable {
    std::mutex mutex;
    std::vector<std::uint32_t> free;  // slots without a window, the last freed last
    std::unordered_map<const QWidget*, WndImpl*> widgets;
};
HandleTable& g_table = *new HandleTable;

HWND handleOf(std::uint32_t index, std::uint32_t generation)
{
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(generation) << detail::kGenerationShift | index);
}

const detail::WindowSlot* slotOf(HWND hwnd)
{
    WndImpl* wnd = detail::windowInSlot(hwnd);
    return wnd ? &detail::g_windowSlots[static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(hwnd))] : nullptr;
}

}  // namespace

// --- Handle table ----------------------------------------------------------

HWND registerWindow(WndImpl* wnd)
{
    std::lock_guard lock(g_table.mutex);
    auto& table = detail::g_windowSlots;
    std::uint32_t index;
    if (g_table.free.empty()) {
        index = static_cast<std::uint32_t>(table.size());
        table.emplace_back();
    } else {
        index = g_table.free.back();
        g_table.free.pop_back();
    }
    detail::WindowSlot& slot = table[index];
    slot.wnd = wnd;
    if (wnd->widget())
        g_table.widgets.emplace(wnd->widget(), wnd);
    wnd->m_registeredWidget = wnd->widget();
    wnd->m_hwnd = handleOf(index, slot.generation);
    return wnd->m_hwnd;
}

void unregisterWindow(WndImpl* wnd)
{
    std::lock_guard lock(g_table.mutex);
    const auto index = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(wnd->hwnd()));
    if (const detail::WindowSlot* slot = slotOf(wnd->hwnd()); slot && slot->wnd == wnd) {
        detail::WindowSlot& freed = detail::g_windowSlots[index];
        freed.wnd = nullptr;
        // 0 is no generation: a handle of value 0 is no window.
        if (++freed.generation == 0)
            freed.generation = 1;
        g_table.free.push_back(index);
    }
    if (auto it = g_table.widgets.find(wnd->m_registeredWidget); it != g_table.widgets.end() && it->second == wnd)
        g_table.widgets.erase(it);
    wnd->m_registeredWidget = nullptr;
}

bool isLiveHandle(HWND hwnd)
{
    if (!hwnd)
        return false;
    std::lock_guard lock(g_table.mutex);
    return slotOf(hwnd) != nullptr;
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
// The message a handler is running for, innermost first: what CWnd::Default
// processes. Each frame lives on the stack of the dispatch that made it.
struct HandlerFrame {
    HWND hwnd;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    const HandlerFrame* outer;
};
thread_local const HandlerFrame* t_handlerFrame = nullptr;

class EnterHandler {
public:
    EnterHandler(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
        : m_frame{hwnd, msg, wParam, lParam, t_handlerFrame}
    {
        t_handlerFrame = &m_frame;
    }
    ~EnterHandler() { t_handlerFrame = m_frame.outer; }
    EnterHandler(const EnterHandler&) = delete;
    EnterHandler& operator=(const EnterHandler&) = delete;

private:
    HandlerFrame m_frame;
};
}  // namespace

LRESULT dispatchToWrapper(WndImpl* wnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    const EnterHandler frame(wnd->hwnd(), msg, wParam, lParam);
    return wnd->m_permanent->WindowProc(msg, wParam, lParam);
}

LRESULT defaultForCurrent(CWnd* wnd)
{
    const HandlerFrame* frame = t_handlerFrame;
    if (!frame || frame->hwnd != wnd->m_hWnd)
        return 0;  // not inside a handler of this window
    return wnd->DefWindowProc(frame->msg, frame->wParam, frame->lParam);
}

void notifyParent(WndImpl* control, UINT code)
{
    WndImpl* parent = control->parent();
    if (!parent)
        return;
    dispatch(parent, WM_COMMAND, MAKEWPARAM(control->id(), code), reinterpret_cast<LPARAM>(control->hwnd()));
}

namespace detail {
// Never destroyed, as the rest of the table.
std::vector<WindowSlot>& g_windowSlots = *new std::vector<WindowSlot>;
thread_local constinit const char t_threadMark = 0;
std::atomic<const char*> g_guiMark{nullptr};
}  // namespace detail

namespace {
void forgetGuiThread()
{
    detail::g_guiMark.store(nullptr, std::memory_order_relaxed);
}
}  // namespace

bool detail::recogniseGuiThread()
{
    // Other threads (and the GUI thread until it is first asked) look at
    // the application; an application's thread never changes.
    const QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread())
        return false;
    if (g_guiMark.exchange(&t_threadMark, std::memory_order_relaxed) != &t_threadMark)
        qAddPostRoutine(forgetGuiThread);  // run as the application goes
    return true;
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
