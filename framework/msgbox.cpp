// Message boxes from any thread. The GUI thread shows every box (widgets live
// there); a box raised on another thread is shown without blocking the GUI
// thread, and only the raising thread waits for the answer.
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QWindow>

#include <mutex>

#include "framework/afxqt.h"
#include "framework/afxtest.h"
#include "framework/handoff.h"
#include "framework/qtext.h"
#include "framework/wndimpl.h"

namespace afx {

namespace {

// Never destroyed: a detached thread may raise a box at any time.
struct HookSlot {
    std::mutex mutex;
    AfxMessageBoxHook hook;
};
HookSlot& g_hook = *new HookSlot;

bool configure(QMessageBox& box, const CString& text, const CString& caption, UINT style)
{
    switch (style & 0x0F) {
    case MB_OK:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case MB_OKCANCEL:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case MB_YESNO:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    default:
        return false;  // the other button sets are not provided
    }
    switch (style & 0xF0) {
    case MB_ICONHAND:
        box.setIcon(QMessageBox::Critical);
        break;
    case MB_ICONQUESTION:
        box.setIcon(QMessageBox::Question);
        break;
    case MB_ICONEXCLAMATION:
        box.setIcon(QMessageBox::Warning);
        break;
    case MB_ICONINFORMATION:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        break;
    }
    box.setText(AfxQString(text));
    box.setWindowTitle(AfxQString(caption));
    box.setTextFormat(Qt::PlainText);
    return true;
}

int resultOf(const QMessageBox& box)
{
    QAbstractButton* clicked = box.clickedButton();
    if (!clicked)
        clicked = box.escapeButton();
    switch (clicked ? box.standardButton(clicked) : QMessageBox::NoButton) {
    case QMessageBox::Ok:
        return IDOK;
    case QMessageBox::Cancel:
        return IDCANCEL;
    case QMessageBox::Yes:
        return IDYES;
    case QMessageBox::No:
        return IDNO;
    default:
        return IDCANCEL;
    }
}

// An ownerless box leaves the program's windows usable and stays until it is
// answered, whatever modal dialog comes or goes meanwhile. A modal dialog
// blocks every window but its own and their transient children, so the box
// follows the topmost one as its transient child (stacked above it and
// answerable, but not owned by it, so not closed with it).
class FollowModal : public QObject {
public:
    explicit FollowModal(QWidget* box) : QObject(box), m_window(box->windowHandle())
    {
        m_window->installEventFilter(this);
        follow();
    }

    bool eventFilter(QObject*, QEvent* e) override
    {
        // A modal dialog shown over the box.
        if (e->type() == QEvent::WindowBlocked)
            follow();
        return false;
    }

private:
    void follow()
    {
        QWindow* modal = QGuiApplication::modalWindow();
        if (modal == m_window)
            return;
        m_window->setTransientParent(modal);
        if (m_followed)
            disconnect(m_followed, nullptr, this, nullptr);
        m_followed = modal;
        // Once it has gone, the next one down (if any) is followed.
        if (modal)
            connect(modal, &QWindow::visibleChanged, this, &FollowModal::follow, Qt::QueuedConnection);
    }

    QWindow* m_window;
    QPointer<QWindow> m_followed;
};

// On the GUI thread: shows the box of another thread and returns at once;
// the thread's request is answered when the user closes the box.
void showForOtherThread(Ticket ticket, HWND owner, const CString& text, const CString& caption, UINT style)
{
    QWidget* ownerWidget = AfxWidgetFromHandle(owner);
    auto* box = new QMessageBox(ownerWidget ? ownerWidget->window() : nullptr);
    if (!configure(*box, text, caption, style)) {
        delete box;
        answer(ticket, 0);
        return;
    }
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(ownerWidget ? Qt::WindowModal : Qt::NonModal);
    if (!ownerWidget) {
        box->winId();
        new FollowModal(box);
    }
    registerMessageBoxWindow(box, true);
    QObject::connect(box, &QMessageBox::finished, box, [ticket, box](int) { answer(ticket, resultOf(*box)); });
    // A box that goes with its owner is answered as if dismissed.
    QObject::connect(box, &QObject::destroyed, QApplication::instance(), [ticket, box] {
        registerMessageBoxWindow(box, false);
        answer(ticket, IDCANCEL);
    });
    box->show();
}

}  // namespace

int messageBox(HWND owner, const CString& text, const CString& caption, UINT style)
{
    if (isGuiThread()) {
        QMessageBox box(AfxWidgetFromHandle(owner));
        if (!configure(box, text, caption, style))
            return 0;
        registerMessageBoxWindow(&box, true);
        box.exec();
        registerMessageBoxWindow(&box, false);
        return resultOf(box);
    }
    // The box is shown by the GUI thread; 0 when the application goes away
    // before it is answered.
    return static_cast<int>(
        awaitAnswer([&](Ticket ticket) { showForOtherThread(ticket, owner, text, caption, style); }));
}

}  // namespace afx

int MessageBoxA(HWND hWnd, LPCSTR text, LPCSTR caption, UINT type)
{
    const CString message(text ? text : "");
    const CString title(caption ? caption : "Error");
    afx::ensureGuiInitialised();
    AfxMessageBoxHook hook;
    {
        std::lock_guard lock(afx::g_hook.mutex);
        hook = afx::g_hook.hook;
    }
    if (hook)
        return hook(hWnd, message, title, type);
    return afx::messageBox(hWnd, message, title, type);
}

void AfxSetMessageBoxHook(AfxMessageBoxHook hook)
{
    std::lock_guard lock(afx::g_hook.mutex);
    afx::g_hook.hook = std::move(hook);
}
