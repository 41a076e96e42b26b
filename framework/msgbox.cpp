// Message boxes from any thread. The GUI thread shows every box (widgets live
// there); a box raised on another thread is shown without blocking the GUI
// thread, and only the raising thread waits for the answer.
#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>

#include <condition_variable>
#include <memory>
#include <mutex>

#include "framework/afxqt.h"
#include "framework/afxtest.h"
#include "framework/qtext.h"
#include "framework/wndimpl.h"

namespace afx {

namespace {

std::mutex g_hookMutex;
AfxMessageBoxHook g_hook;

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

struct Request {
    std::mutex mutex;
    std::condition_variable answered;
    bool done = false;
    int result = 0;

    void finish(int value)
    {
        {
            std::lock_guard lock(mutex);
            if (done)
                return;
            done = true;
            result = value;
        }
        answered.notify_all();
    }
};

// On the GUI thread: shows the box and returns at once; the request is
// answered when the user closes it.
void showForOtherThread(const std::shared_ptr<Request>& request, HWND owner, const CString& text,
                        const CString& caption, UINT style)
{
    QWidget* ownerWidget = AfxWidgetFromHandle(owner);
    // An ownerless box leaves the program's windows usable; under a modal
    // dialog it becomes that dialog's child so that the dialog does not
    // block it.
    QWidget* parent = ownerWidget ? ownerWidget->window() : QApplication::activeModalWidget();
    auto* box = new QMessageBox(parent);
    if (!configure(*box, text, caption, style)) {
        delete box;
        request->finish(0);
        return;
    }
    box->setWindowModality(ownerWidget ? Qt::WindowModal : Qt::NonModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    registerMessageBoxWindow(box, true);
    QObject::connect(box, &QMessageBox::finished, box, [request, box](int) { request->finish(resultOf(*box)); });
    // A box that goes with its parent dialog is answered as if dismissed.
    QObject::connect(box, &QObject::destroyed, QApplication::instance(), [request, box] {
        registerMessageBoxWindow(box, false);
        request->finish(IDCANCEL);
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
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return 0;
    auto request = std::make_shared<Request>();
    QMetaObject::invokeMethod(
        app, [request, owner, text, caption, style] { showForOtherThread(request, owner, text, caption, style); },
        Qt::QueuedConnection);
    std::unique_lock lock(request->mutex);
    request->answered.wait(lock, [&] { return request->done; });
    return request->result;
}

}  // namespace afx

int MessageBoxA(HWND hWnd, LPCSTR text, LPCSTR caption, UINT type)
{
    const CString message(text ? text : "");
    const CString title(caption ? caption : "Error");
    afx::ensureGuiInitialised();
    AfxMessageBoxHook hook;
    {
        std::lock_guard lock(afx::g_hookMutex);
        hook = afx::g_hook;
    }
    if (hook)
        return hook(hWnd, message, title, type);
    return afx::messageBox(hWnd, message, title, type);
}

void AfxSetMessageBoxHook(AfxMessageBoxHook hook)
{
    std::lock_guard lock(afx::g_hookMutex);
    afx::g_hook = std::move(hook);
}
