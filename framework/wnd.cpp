// Windows: the record behind each handle, CWnd and the platform's window
// functions, timers and data exchange.
#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#include "framework/afxqt.h"
#include "framework/handoff.h"
#include "framework/qtext.h"
#include "framework/wndimpl.h"

namespace afx {

WndImpl::WndImpl(QWidget* widget, WndImpl* parent, int id) : m_widget(widget), m_parent(parent), m_id(id)
{
    registerWindow(this);
}

WndImpl::~WndImpl()
{
    // Children first, then the widget (a child widget that is gone already
    // has cleared its pointer).
    m_children.clear();
    delete m_widget.data();
}

LRESULT WndImpl::classProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_SETTEXT:
        setText(lParam ? reinterpret_cast<const char*>(lParam) : "");
        return TRUE;
    case WM_GETTEXT: {
        const int size = static_cast<int>(wParam);
        char* buffer = reinterpret_cast<char*>(lParam);
        if (size <= 0 || !buffer)
            return 0;
        const std::string bytes = text();
        const int n = std::min(static_cast<int>(bytes.size()), size - 1);
        std::memcpy(buffer, bytes.data(), static_cast<size_t>(n));
        buffer[n] = '\0';
        return n;
    }
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(text().size());
    case WM_SETICON: {
        const int which = wParam == ICON_BIG ? ICON_BIG : ICON_SMALL;
        HICON previous = m_icons[which];
        m_icons[which] = reinterpret_cast<HICON>(lParam);
        if (m_widget && m_widget->isWindow()) {
            // The toolkit keeps one icon of several sizes: both icons go in.
            QIcon icon;
            for (HICON h : m_icons)
                if (const QIcon* part = AfxIconFromHandle(h))
                    for (const QSize& size : part->availableSizes())
                        icon.addPixmap(part->pixmap(size));
            m_widget->setWindowIcon(icon);
        }
        return reinterpret_cast<LRESULT>(previous);
    }
    default:
        return 0;
    }
}

std::string WndImpl::text() const
{
    return m_widget ? AfxBytesFromQString(m_widget->windowTitle()) : std::string();
}

void WndImpl::setText(const std::string& bytes)
{
    if (m_widget)
        m_widget->setWindowTitle(AfxQStringFromBytes(bytes));
}

WndImpl* WndImpl::child(int id) const
{
    for (const auto& c : m_children)
        if (c->id() == id)
            return c.get();
    return nullptr;
}

WndImpl* WndImpl::adopt(std::unique_ptr<WndImpl> child)
{
    m_children.push_back(std::move(child));
    return m_children.back().get();
}

CWnd* WndImpl::wrapper()
{
    if (m_permanent)
        return m_permanent;
    if (!m_temporary) {
        m_temporary.reset(makeWrapper());
        m_temporary->m_hWnd = m_hwnd;
    }
    return m_temporary.get();
}

void WndImpl::detach()
{
    for (auto& c : m_children)
        c->detach();
    m_timers.clear();
    if (m_sysMenu) {
        destroyMenu(m_sysMenu);
        m_sysMenu = nullptr;
    }
    unregisterWindow(this);
    failSentMessagesTo(m_hwnd);
    if (m_permanent) {
        if (CWinApp* app = AfxGetApp(); app && app->m_pMainWnd == m_permanent)
            app->m_pMainWnd = nullptr;
        m_permanent->m_hWnd = nullptr;
        m_permanent = nullptr;
    }
    if (m_temporary)
        m_temporary->m_hWnd = nullptr;
}

LRESULT copyText(const std::string& bytes, LPARAM buffer)
{
    char* out = reinterpret_cast<char*>(buffer);
    if (!out)
        return 0;
    std::memcpy(out, bytes.data(), bytes.size());
    out[bytes.size()] = '\0';
    return static_cast<LRESULT>(bytes.size());
}

namespace {
void sendDestroy(WndImpl* wnd)
{
    const HWND hwnd = wnd->hwnd();
    dispatch(wnd, WM_DESTROY, 0, 0);
    if (lookup(hwnd) != wnd)
        return;
    for (const auto& c : wnd->children())
        sendDestroy(c.get());
}
}  // namespace

void destroyWindow(WndImpl* wnd, bool deleteNow)
{
    sendDestroy(wnd);
    wnd->detach();
    if (QWidget* w = wnd->widget()) {
        w->hide();
        if (!deleteNow) {
            // Unhooked from the record now, deleted once off the stack.
            w->setParent(nullptr);
            w->deleteLater();
            wnd->m_widget = nullptr;
        }
    }
    if (WndImpl* parent = wnd->parent()) {
        auto& siblings = parent->m_children;
        siblings.erase(std::remove_if(siblings.begin(), siblings.end(),
                                      [wnd](const std::unique_ptr<WndImpl>& c) { return c.get() == wnd; }),
                       siblings.end());
    } else {
        delete wnd;
    }
}

}  // namespace afx

using namespace afx;

// --- CCmdTarget --------------------------------------------------------------

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap()
{
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, nullptr}};
    static const AFX_MSGMAP map = {nullptr, &entries[0]};
    return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }

namespace {

const AFX_MSGMAP* baseMap(const AFX_MSGMAP* map)
{
    return map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr;
}

const AFX_MSGMAP_ENTRY* searchMessageMaps(const AFX_MSGMAP* map, UINT nMessage, UINT nCode, UINT nID)
{
    for (; map; map = baseMap(map)) {
        for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->pfn; ++e) {
            if (e->nMessage != nMessage)
                continue;
            if (nMessage != WM_COMMAND || (e->nCode == nCode && e->nID == nID))
                return e;
        }
    }
    return nullptr;
}

// What the search found for a class's map and a message, remembered: every
// message a window gets asks for it, and most find nothing. The maps are
// static tables that never change, so an answer never goes stale; the key is
// the map of the most derived class, so a derived class's entry is never
// hidden by its base's answer. Direct-mapped, one per thread.
struct MapCacheEntry {
    const AFX_MSGMAP* map = nullptr;
    UINT message = 0;
    UINT code = 0;
    UINT id = 0;
    const AFX_MSGMAP_ENTRY* entry = nullptr;
};
constexpr size_t kMapCacheSize = 256;  // a power of two
thread_local MapCacheEntry t_mapCache[kMapCacheSize];

size_t mapCacheSlot(const AFX_MSGMAP* map, UINT nMessage, UINT nCode, UINT nID)
{
    const std::uint64_t h = (reinterpret_cast<std::uintptr_t>(map) >> 4 ^ nMessage ^ nCode ^ nID << 3)
        * 0x9E3779B97F4A7C15ull;
    return static_cast<size_t>(h >> 56) & (kMapCacheSize - 1);
}

}  // namespace

std::uint64_t afx::messageMapSummary(const AFX_MSGMAP* map)
{
    std::uint64_t bits = 0;
    for (; map; map = baseMap(map))
        for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->pfn; ++e)
            if (e->nMessage != WM_COMMAND)
                bits |= messageBit(e->nMessage);
    return bits;
}

const AFX_MSGMAP_ENTRY* CCmdTarget::AfxFindMessageEntry(const AFX_MSGMAP* map, UINT nMessage, UINT nCode, UINT nID)
{
    if (nMessage != WM_COMMAND)
        nCode = nID = 0;  // only commands are told apart by code and id
    MapCacheEntry& cached = t_mapCache[mapCacheSlot(map, nMessage, nCode, nID)];
    if (cached.map != map || cached.message != nMessage || cached.code != nCode || cached.id != nID || !map)
        cached = {map, nMessage, nCode, nID, searchMessageMaps(map, nMessage, nCode, nID)};
    return cached.entry;
}

BOOL CCmdTarget::OnCmdMsg(UINT nID, int nCode)
{
    const AFX_MSGMAP_ENTRY* e = FindMessageEntry(WM_COMMAND, static_cast<UINT>(nCode), nID);
    if (!e)
        return FALSE;
    e->pfn(this, 0, 0);
    return TRUE;
}

// --- CWnd ------------------------------------------------------------------------

BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
END_MESSAGE_MAP()

CWnd::~CWnd()
{
    if (CWinApp* app = AfxGetApp(); app && app->m_pMainWnd == this)
        app->m_pMainWnd = nullptr;
    // An attached object that goes first takes its window with it, as on the
    // platform; a wrapper of the framework's own only lets go.
    if (WndImpl* wnd = lookup(m_hWnd); wnd && wnd->m_permanent == this) {
        wnd->m_permanent = nullptr;
        m_hWnd = nullptr;
        destroyWindow(wnd, false);
    }
}

CWnd* CWnd::FromHandle(HWND hWnd)
{
    WndImpl* wnd = lookup(hWnd);
    return wnd ? wnd->wrapper() : nullptr;
}

void CWnd::SetWindowText(LPCSTR text) { ::SetWindowTextA(m_hWnd, text); }

void CWnd::GetWindowText(CString& text) const
{
    const int length = GetWindowTextLength();
    std::string bytes(static_cast<size_t>(length) + 1, '\0');
    const int n = ::GetWindowTextA(m_hWnd, bytes.data(), length + 1);
    bytes.resize(static_cast<size_t>(std::max(n, 0)));
    text = CString(std::move(bytes));
}

int CWnd::GetWindowText(LPSTR buffer, int maxCount) const { return ::GetWindowTextA(m_hWnd, buffer, maxCount); }
int CWnd::GetWindowTextLength() const { return ::GetWindowTextLengthA(m_hWnd); }
CWnd* CWnd::GetDlgItem(int id) const { return FromHandle(::GetDlgItem(m_hWnd, id)); }
int CWnd::GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
CWnd* CWnd::GetParent() const { return FromHandle(::GetParent(m_hWnd)); }
BOOL CWnd::EnableWindow(BOOL enable) { return ::EnableWindow(m_hWnd, enable); }
BOOL CWnd::IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
BOOL CWnd::ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }
BOOL CWnd::IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
BOOL CWnd::IsIconic() const { return ::IsIconic(m_hWnd); }
void CWnd::GetClientRect(LPRECT rect) const { ::GetClientRect(m_hWnd, rect); }
CWnd* CWnd::SetFocus() { return FromHandle(::SetFocus(m_hWnd)); }
BOOL CWnd::SetAccessibleName(LPCSTR name) { return ::AfxSetAccessibleName(m_hWnd, name); }

CMenu* CWnd::GetSystemMenu(BOOL bRevert) const { return CMenu::FromHandle(::GetSystemMenu(m_hWnd, bRevert)); }

HICON CWnd::SetIcon(HICON hIcon, BOOL bBigIcon)
{
    return reinterpret_cast<HICON>(SendMessage(WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(hIcon)));
}

HICON CWnd::GetIcon(BOOL bBigIcon) const
{
    WndImpl* wnd = lookup(m_hWnd);
    return wnd ? wnd->m_icons[bBigIcon ? ICON_BIG : ICON_SMALL] : nullptr;
}

int CWnd::MessageBox(LPCSTR text, LPCSTR caption, UINT type)
{
    if (!caption) {
        CWinApp* app = AfxGetApp();
        caption = app && app->m_pszAppName ? app->m_pszAppName : nullptr;
    }
    return ::MessageBoxA(m_hWnd, text, caption, type);
}

UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapse, TIMERPROC proc) { return ::SetTimer(m_hWnd, id, elapse, proc); }
BOOL CWnd::KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }

BOOL CWnd::UpdateData(BOOL bSaveAndValidate)
{
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

void CWnd::DoDataExchange(CDataExchange*) {}

BOOL CWnd::DestroyWindow()
{
    WndImpl* wnd = lookup(m_hWnd);
    if (!wnd)
        return FALSE;
    destroyWindow(wnd, false);
    return TRUE;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result))
        result = DefWindowProc(message, wParam, lParam);
    return result;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    if (message == WM_COMMAND) {
        if (!OnCommand(wParam, lParam))
            return FALSE;
        *pResult = 0;
        return TRUE;
    }
    const AFX_MSGMAP_ENTRY* e = FindMessageEntry(message);
    if (!e)
        return FALSE;
    *pResult = e->pfn(this, wParam, lParam);
    return TRUE;
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM)
{
    return OnCmdMsg(LOWORD(wParam), HIWORD(wParam));
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    WndImpl* wnd = lookup(m_hWnd);
    return wnd ? wnd->classProc(message, wParam, lParam) : 0;
}

LRESULT CWnd::Default() { return defaultForCurrent(this); }

void CWnd::OnSysCommand(UINT, LPARAM) { Default(); }
void CWnd::OnPaint() { Default(); }
HCURSOR CWnd::OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(Default()); }
void CWnd::OnDestroy() { Default(); }
void CWnd::OnTimer(UINT_PTR) { Default(); }

// --- Window functions ---------------------------------------------------------

BOOL SetWindowTextA(HWND hWnd, LPCSTR text)
{
    return IsWindow(hWnd) ? static_cast<BOOL>(SendMessageA(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text))) : FALSE;
}

int GetWindowTextA(HWND hWnd, LPSTR buffer, int maxCount)
{
    return static_cast<int>(SendMessageA(hWnd, WM_GETTEXT, static_cast<WPARAM>(std::max(maxCount, 0)),
                                         reinterpret_cast<LPARAM>(buffer)));
}

int GetWindowTextLengthA(HWND hWnd) { return static_cast<int>(SendMessageA(hWnd, WM_GETTEXTLENGTH, 0, 0)); }

HWND GetDlgItem(HWND hDlg, int id)
{
    WndImpl* wnd = lookup(hDlg);
    WndImpl* child = wnd ? wnd->child(id) : nullptr;
    return child ? child->hwnd() : nullptr;
}

int GetDlgCtrlID(HWND hWnd)
{
    WndImpl* wnd = lookup(hWnd);
    return wnd && wnd->parent() ? wnd->id() : 0;
}

HWND GetParent(HWND hWnd)
{
    WndImpl* wnd = lookup(hWnd);
    return wnd && wnd->parent() ? wnd->parent()->hwnd() : nullptr;
}

BOOL EnableWindow(HWND hWnd, BOOL enable)
{
    WndImpl* wnd = lookup(hWnd);
    if (!wnd || !wnd->widget())
        return FALSE;
    const BOOL wasDisabled = wnd->widget()->isEnabled() ? FALSE : TRUE;
    wnd->widget()->setEnabled(enable != FALSE);
    return wasDisabled;
}

BOOL IsWindowEnabled(HWND hWnd)
{
    WndImpl* wnd = lookup(hWnd);
    return wnd && wnd->widget() && wnd->widget()->isEnabled() ? TRUE : FALSE;
}

BOOL ShowWindow(HWND hWnd, int nCmdShow)
{
    WndImpl* wnd = lookup(hWnd);
    if (!wnd || !wnd->widget())
        return FALSE;
    QWidget* w = wnd->widget();
    const BOOL wasVisible = w->isVisible() ? TRUE : FALSE;
    switch (nCmdShow) {
    case SW_HIDE:
        w->hide();
        break;
    case SW_MINIMIZE:
        w->showMinimized();
        break;
    case SW_RESTORE:
    case SW_SHOWNORMAL:
        if (w->isWindow())
            w->showNormal();
        else
            w->show();
        break;
    default:
        w->show();
        break;
    }
    return wasVisible;
}

BOOL AfxSetAccessibleName(HWND hWnd, LPCSTR name)
{
    WndImpl* wnd = lookup(hWnd);
    if (!wnd || !wnd->widget())
        return FALSE;
    wnd->widget()->setAccessibleName(AfxQStringFromBytes(name ? name : ""));
    return TRUE;
}

BOOL IsWindowVisible(HWND hWnd)
{
    WndImpl* wnd = lookup(hWnd);
    return wnd && wnd->widget() && wnd->widget()->isVisible() ? TRUE : FALSE;
}

BOOL IsIconic(HWND hWnd)
{
    WndImpl* wnd = lookup(hWnd);
    return wnd && wnd->widget() && wnd->widget()->isMinimized() ? TRUE : FALSE;
}

BOOL GetClientRect(HWND hWnd, LPRECT rect)
{
    WndImpl* wnd = lookup(hWnd);
    if (!wnd || !wnd->widget() || !rect)
        return FALSE;
    *rect = RECT{0, 0, wnd->widget()->width(), wnd->widget()->height()};
    return TRUE;
}

HWND SetFocus(HWND hWnd)
{
    HWND previous = GetFocus();
    if (WndImpl* wnd = lookup(hWnd); wnd && wnd->widget())
        wnd->widget()->setFocus(Qt::OtherFocusReason);
    return previous;
}

HWND GetFocus()
{
    return isGuiThread() ? AfxHandleFromWidget(QApplication::focusWidget()) : nullptr;
}

int GetSystemMetrics(int index)
{
    switch (index) {
    case SM_CXICON:
    case SM_CYICON:
        return 32;
    default:
        return 0;
    }
}

int MulDiv(int a, int b, int c)
{
    if (c == 0)
        return -1;
    long long product = static_cast<long long>(a) * b;
    // Round half away from zero, as the platform does.
    const bool negative = (product < 0) != (c < 0);
    long long n = product < 0 ? -product : product;
    const long long d = c < 0 ? -static_cast<long long>(c) : c;
    long long q = (n + d / 2) / d;
    if (negative)
        q = -q;
    if (q > INT_MAX || q < INT_MIN)
        return -1;
    return static_cast<int>(q);
}

void AfxEnableControlContainer() {}

// --- Timers ----------------------------------------------------------------------

UINT_PTR SetTimer(HWND hWnd, UINT_PTR id, UINT elapse, TIMERPROC proc)
{
    WndImpl* wnd = lookup(hWnd);
    if (!wnd || proc)
        return 0;
    elapse = std::clamp(elapse, static_cast<UINT>(USER_TIMER_MINIMUM), static_cast<UINT>(USER_TIMER_MAXIMUM));
    std::unique_ptr<QTimer>& timer = wnd->m_timers[id];
    if (!timer) {
        timer = std::make_unique<QTimer>();
        QObject::connect(timer.get(), &QTimer::timeout, &wnd->m_context, [hWnd, id] {
            WndImpl* target = lookup(hWnd);
            if (!target)
                return;
            if (guiWaitActive())
                deferTimer(hWnd, id);
            else
                dispatch(target, WM_TIMER, id, 0);
        });
    }
    timer->start(static_cast<int>(elapse));
    return id ? id : 1;
}

BOOL KillTimer(HWND hWnd, UINT_PTR id)
{
    WndImpl* wnd = lookup(hWnd);
    return wnd && wnd->m_timers.erase(id) ? TRUE : FALSE;
}

// --- Data exchange ------------------------------------------------------------

HWND CDataExchange::PrepareCtrl(int nIDC) { return ::GetDlgItem(m_pDlgWnd->m_hWnd, nIDC); }

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl)
{
    if (rControl.m_hWnd)
        return;
    WndImpl* wnd = lookup(pDX->PrepareCtrl(nIDC));
    if (!wnd) {
        qWarning("DDX_Control: the dialog has no control %d", nIDC);
        return;
    }
    if (wnd->m_permanent) {
        qWarning("DDX_Control: control %d is attached to another object already", nIDC);
        return;
    }
    wnd->m_permanent = &rControl;
    rControl.m_hWnd = wnd->hwnd();
}

void DDX_Text(CDataExchange* pDX, int nIDC, CString& value)
{
    const HWND hwnd = pDX->PrepareCtrl(nIDC);
    WndImpl* wnd = lookup(hwnd);
    if (!wnd) {
        qWarning("DDX_Text: the dialog has no control %d", nIDC);
        return;
    }
    // An edit hands back the very bytes the program gave it while the user
    // has not changed them, so nothing is lost on the way through Unicode.
    if (pDX->m_bSaveAndValidate) {
        value = CString(wnd->text());
        return;
    }
    if (value.GetLength() >= 256 || wnd->text() != value.bytes())
        ::SetWindowTextA(hwnd, value);
}
