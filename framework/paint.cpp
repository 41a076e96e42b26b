// Paint contexts over a QPainter, for the painting of a minimised window.
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QWidget>

#include <memory>
#include <mutex>
#include <set>

#include "framework/afxqt.h"
#include "framework/afxtest.h"
#include "framework/wndimpl.h"

namespace afx {

namespace {
struct DcImpl {
    QImage scratch;
    std::unique_ptr<QPainter> painter;
};
std::set<DcImpl*> g_dcs;  // GUI thread only

std::mutex g_hookMutex;
AfxDrawIconHook g_drawIconHook;
}  // namespace

QPainter* painterOf(HDC hdc)
{
    auto* dc = reinterpret_cast<DcImpl*>(hdc);
    return isGuiThread() && g_dcs.count(dc) ? dc->painter.get() : nullptr;
}

}  // namespace afx

using namespace afx;

HDC BeginPaint(HWND hWnd, PAINTSTRUCT* ps)
{
    WndImpl* wnd = lookup(hWnd);
    if (!wnd || !wnd->widget() || !ps)
        return nullptr;
    auto* dc = new DcImpl;
    QWidget* widget = wnd->widget();
    if (wnd->m_paintEvent) {
        dc->painter = std::make_unique<QPainter>(widget);
    } else {
        // Not inside the window's own painting: nothing reaches the screen.
        dc->scratch = QImage(widget->size().expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
        dc->painter = std::make_unique<QPainter>(&dc->scratch);
    }
    g_dcs.insert(dc);
    ps->hdc = reinterpret_cast<HDC>(dc);
    ps->fErase = FALSE;
    ps->rcPaint = RECT{0, 0, widget->width(), widget->height()};
    return ps->hdc;
}

BOOL EndPaint(HWND, const PAINTSTRUCT* ps)
{
    if (!ps)
        return FALSE;
    auto* dc = reinterpret_cast<DcImpl*>(ps->hdc);
    if (!g_dcs.erase(dc))
        return FALSE;
    delete dc;
    return TRUE;
}

BOOL DrawIcon(HDC hDC, int x, int y, HICON hIcon)
{
    QPainter* painter = painterOf(hDC);
    const QIcon* icon = AfxIconFromHandle(hIcon);
    if (!painter || !icon)
        return FALSE;
    const int size = GetSystemMetrics(SM_CXICON);
    painter->drawPixmap(x, y, icon->pixmap(size, size));
    AfxDrawIconHook hook;
    {
        std::lock_guard lock(g_hookMutex);
        hook = g_drawIconHook;
    }
    if (hook)
        hook(hDC, x, y, hIcon);
    return TRUE;
}

void AfxSetDrawIconHook(AfxDrawIconHook hook)
{
    std::lock_guard lock(g_hookMutex);
    g_drawIconHook = std::move(hook);
}

CPaintDC::CPaintDC(CWnd* pWnd) : m_hWnd(pWnd ? pWnd->m_hWnd : nullptr)
{
    m_hDC = ::BeginPaint(m_hWnd, &m_ps);
}

CPaintDC::~CPaintDC()
{
    if (m_hDC)
        ::EndPaint(m_hWnd, &m_ps);
}
