// Inside the framework: the record of one window, the handle table, and the
// calls the framework's files make on each other. Not for the program.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/afxwin.h"

class QAbstractButton;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPainter;
class QPaintEvent;
class QTimer;
class TextEditWidget;

namespace afx {

struct MenuImpl;

// One window: its widget, its place in the window tree, the wrapper objects
// that name it and its class's default processing. Lives on the GUI thread.
class WndImpl {
public:
    WndImpl(QWidget* widget, WndImpl* parent, int id);
    virtual ~WndImpl();
    WndImpl(const WndImpl&) = delete;
    WndImpl& operator=(const WndImpl&) = delete;

    HWND hwnd() const { return m_hwnd; }
    QWidget* widget() const { return m_widget; }
    WndImpl* parent() const { return m_parent; }
    int id() const { return m_id; }

    // The class's default processing of a message (DefWindowProc).
    virtual LRESULT classProc(UINT msg, WPARAM wParam, LPARAM lParam);
    // A fresh wrapper of the kind that fits this window.
    virtual CWnd* makeWrapper() const { return new CWnd; }

    // The window text as code page 936 bytes.
    virtual std::string text() const;
    virtual void setText(const std::string& bytes);

    WndImpl* child(int id) const;
    const std::vector<std::unique_ptr<WndImpl>>& children() const { return m_children; }
    WndImpl* adopt(std::unique_ptr<WndImpl> child);

    // The program's attached wrapper, or the framework's own.
    CWnd* wrapper();
    CWnd* m_permanent = nullptr;
    // Whether the attached wrapper's map has an entry for the message; for
    // WM_COMMAND, whether there is a wrapper (its OnCommand decides).
    bool wrapperHandles(UINT msg);

    // Context of every signal connection of this window: they die with it.
    QObject m_context;

    std::map<UINT_PTR, std::unique_ptr<QTimer>> m_timers;
    MenuImpl* m_sysMenu = nullptr;  // owned by the menu table
    HICON m_icons[2] = {nullptr, nullptr};  // ICON_SMALL, ICON_BIG

    // Set while the widget paints: WM_PAINT's default processing then paints
    // as the toolkit would, and a paint context paints on the widget.
    QPaintEvent* m_paintEvent = nullptr;

private:
    friend void destroyWindow(WndImpl* wnd, bool deleteNow);
    friend HWND registerWindow(WndImpl* wnd);
    friend void unregisterWindow(WndImpl* wnd);
    void detach();

    HWND m_hwnd = nullptr;
    // The widget the table knows the window by: the widget may be gone first.
    const QWidget* m_registeredWidget = nullptr;
    QPointer<QWidget> m_widget;
    WndImpl* m_parent;
    int m_id;
    std::unique_ptr<CWnd> m_temporary;
    std::vector<std::unique_ptr<WndImpl>> m_children;
    // The summary (messageMapSummary) of the wrapper's map, and of which map.
    const AFX_MSGMAP* m_summarisedMap = nullptr;
    std::uint64_t m_mapSummary = 0;
};

// Which messages other than WM_COMMAND a map and its bases may name: one bit
// of 64 per message number. A message whose bit is clear has no entry, so the
// many messages a control gets for its own requests (a selection, a text, a
// check) are answered without a search. A map never changes.
inline std::uint64_t messageBit(UINT msg)
{
    return std::uint64_t{1} << (static_cast<std::uint32_t>(msg * 0x9E3779B1u) >> 26);
}
std::uint64_t messageMapSummary(const AFX_MSGMAP* map);  // wnd.cpp, beside the search

inline bool WndImpl::wrapperHandles(UINT msg)
{
    if (!m_permanent)
        return false;
    if (msg == WM_COMMAND)
        return true;
    const AFX_MSGMAP* map = m_permanent->MessageMap();
    if (map != m_summarisedMap) {
        m_mapSummary = messageMapSummary(map);
        m_summarisedMap = map;
    }
    return (m_mapSummary & messageBit(msg)) && m_permanent->FindMessageEntry(msg);
}

// The thread that owns every window: the QApplication's. Asked with every
// message; for the GUI thread it is one comparison (messages.cpp).
namespace detail {
// The address of the GUI thread's own t_threadMark, once it is recognised;
// nullptr once its application has gone.
extern std::atomic<const char*> g_guiMark;
extern thread_local constinit const char t_threadMark;
bool recogniseGuiThread();
}  // namespace detail
inline bool isGuiThread()
{
    return detail::g_guiMark.load(std::memory_order_relaxed) == &detail::t_threadMark || detail::recogniseGuiThread();
}

// The handle table (messages.cpp). A handle names a slot and its
// generation, and is not reused while the generation lasts, so a stale one
// is refused; a lookup is an index and a comparison.
namespace detail {
struct WindowSlot {
    std::uint32_t generation = 1;
    WndImpl* wnd = nullptr;
};
inline constexpr int kGenerationShift = 32;
// Written on the GUI thread only, under the table's lock.
extern std::vector<WindowSlot>& g_windowSlots;
// The live window a handle names; GUI thread, or under the table's lock.
inline WndImpl* windowInSlot(HWND hwnd)
{
    const auto value = reinterpret_cast<std::uintptr_t>(hwnd);
    const auto index = static_cast<std::uint32_t>(value);
    if (index >= g_windowSlots.size())
        return nullptr;
    const WindowSlot& slot = g_windowSlots[index];
    return slot.generation == static_cast<std::uint32_t>(value >> kGenerationShift) ? slot.wnd : nullptr;
}
}  // namespace detail
HWND registerWindow(WndImpl* wnd);
void unregisterWindow(WndImpl* wnd);
// The live window of a handle, or nullptr. GUI thread only.
inline WndImpl* lookup(HWND hwnd)
{
    return hwnd && isGuiThread() ? detail::windowInSlot(hwnd) : nullptr;
}
bool isLiveHandle(HWND hwnd);  // any thread
WndImpl* lookupWidget(const QWidget* widget);

// Sends WM_DESTROY to the window and then to its children, kills their
// timers, detaches their wrappers, drops their handles and deletes the
// widgets: at once when deleteNow, else when the event loop next runs (the
// widget may be on the stack).
void destroyWindow(WndImpl* wnd, bool deleteNow);

// Runs a message through the window's wrapper (message map, then default
// processing) on the GUI thread. A message the wrapper does not handle goes
// to the class's processing directly, as CWnd::WindowProc would send it.
LRESULT dispatchToWrapper(WndImpl* wnd, UINT msg, WPARAM wParam, LPARAM lParam);
inline LRESULT dispatch(WndImpl* wnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return wnd->wrapperHandles(msg) ? dispatchToWrapper(wnd, msg, wParam, lParam)
                                    : wnd->classProc(msg, wParam, lParam);
}
// A control's notification to its parent: WM_COMMAND with the id and code.
void notifyParent(WndImpl* control, UINT code);
// CWnd::Default: the default processing of the message the window is handling.
LRESULT defaultForCurrent(CWnd* wnd);

// Once per process on the GUI thread (app.cpp): the hand-off that serves
// messages sent from other threads, and the serving wait.
void ensureGuiInitialised();

// Dialog creation from a template (dialog.cpp).
WndImpl* createDialog(const AfxDlgTemplate& dlgTemplate, CDialog* dialog, QWidget* owner);
void endDialog(WndImpl* wnd, int result);
int runModal(WndImpl* wnd);  // exec; returns the EndDialog value

// The controls of a template (controlfactory.cpp); nullptr for a class or
// style that is not provided.
std::unique_ptr<WndImpl> createControl(const AfxDlgItemTemplate& item, WndImpl* parent, const QFont& font,
                                      int baseX, int baseY);
// Each kind of control over the widget the factory has made and styled:
// captions.cpp, combo.cpp, edits.cpp.
std::unique_ptr<WndImpl> makeButton(QAbstractButton* button, WndImpl* parent, int id, bool checkBox);
std::unique_ptr<WndImpl> makeGroupBox(QGroupBox* box, WndImpl* parent, int id);
std::unique_ptr<WndImpl> makeLabel(QLabel* label, WndImpl* parent, int id, bool icon);
std::unique_ptr<WndImpl> makeComboBox(QComboBox* combo, WndImpl* parent, int id);
std::unique_ptr<WndImpl> makeLineEdit(QLineEdit* edit, WndImpl* parent, int id);
std::unique_ptr<WndImpl> makeMultiLineEdit(TextEditWidget* edit, WndImpl* parent, int id);
// Names each combo box and edit of a made dialog after its label or group box.
void nameControlsByLabels(WndImpl* dialog);
// The status bar (statusbar.cpp).
WndImpl* createStatusBar(WndImpl* parent, int id, DWORD style);
// Copies a text and its NUL into a buffer the caller sized from the text's
// length, as CB_GETLBTEXT and SB_GETTEXT do; 0 for no buffer.
LRESULT copyText(const std::string& bytes, LPARAM buffer);

// Menus (menu.cpp).
MenuImpl* createSystemMenu(WndImpl* wnd);
void destroyMenu(MenuImpl* menu);
void popupSystemMenu(WndImpl* wnd, const QPoint& globalPos);

// Painting (paint.cpp): the painter of a live paint context, or nullptr.
QPainter* painterOf(HDC hdc);

// Icons (icons.cpp).
HICON loadIcon(UINT id);

// Message boxes (msgbox.cpp).
int messageBox(HWND owner, const CString& text, const CString& caption, UINT style);

}  // namespace afx
