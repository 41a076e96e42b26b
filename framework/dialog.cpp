// Dialogs built from templates, their keyboard interface and their default
// processing.
#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDialog>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>

#include "framework/afxqt.h"
#include "framework/qtext.h"
#include "framework/wndimpl.h"

namespace afx {

namespace {

class DialogImpl;

// The dialog's widget hands what the user does to the dialog's messages: the
// keys a dialog answers, the close box, painting and the system menu.
class DialogWidget : public QDialog {
public:
    explicit DialogWidget(QWidget* owner) : QDialog(owner) {}

    HWND hwnd = nullptr;

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void reject() override
    {
        // The toolkit's own ways of rejecting end up as the cancel command.
        if (WndImpl* wnd = lookup(hwnd))
            dispatch(wnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }
    void paintEvent(QPaintEvent* e) override
    {
        WndImpl* wnd = lookup(hwnd);
        if (!wnd)
            return;
        QPaintEvent* outer = wnd->m_paintEvent;
        wnd->m_paintEvent = e;
        dispatch(wnd, WM_PAINT, 0, 0);
        if (lookup(hwnd) == wnd)
            wnd->m_paintEvent = outer;
    }
    void contextMenuEvent(QContextMenuEvent* e) override
    {
        // Only the dialog's own background (and the labels and frames drawn
        // on it) opens the system menu.
        QWidget* child = childAt(e->pos());
        if (child && !child->testAttribute(Qt::WA_TransparentForMouseEvents)) {
            e->ignore();
            return;
        }
        if (WndImpl* wnd = lookup(hwnd))
            popupSystemMenu(wnd, e->globalPos());
    }
};

class DialogImpl : public WndImpl {
public:
    DialogImpl(DialogWidget* widget, const AfxDlgTemplate& t) : WndImpl(widget, nullptr, 0), m_template(t)
    {
        widget->hwnd = hwnd();
    }

    LRESULT classProc(UINT msg, WPARAM wParam, LPARAM lParam) override
    {
        switch (msg) {
        case WM_SYSCOMMAND:
            switch (wParam & 0xFFF0) {
            case SC_CLOSE:
                dispatch(this, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
                break;
            case SC_MINIMIZE:
                if (m_template.style & WS_MINIMIZEBOX)
                    widget()->showMinimized();
                break;
            case SC_RESTORE:
                widget()->showNormal();
                break;
            default:
                break;  // moving and sizing belong to the window manager
            }
            return 0;
        case WM_PAINT:
            // The toolkit has filled the background; the controls paint
            // themselves.
            return 0;
        case WM_ICONERASEBKGND:
            if (QPainter* painter = painterOf(reinterpret_cast<HDC>(wParam))) {
                painter->fillRect(QRect(QPoint(0, 0), widget()->size()), widget()->palette().window());
                return TRUE;
            }
            return 0;
        default:
            return WndImpl::classProc(msg, wParam, lParam);
        }
    }

    CWnd* makeWrapper() const override { return new CWnd; }

    const AfxDlgTemplate& m_template;
    int m_defaultId = IDOK;
    bool m_running = false;
    bool m_ended = false;
    int m_result = 0;
};

void DialogWidget::closeEvent(QCloseEvent* e)
{
    // The close box is the system command; a dialog that has ended closes.
    auto* wnd = static_cast<DialogImpl*>(lookup(hwnd));
    if (!wnd || wnd->m_ended) {
        e->accept();
        return;
    }
    e->ignore();
    dispatch(wnd, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void DialogWidget::keyPressEvent(QKeyEvent* e)
{
    auto* wnd = static_cast<DialogImpl*>(lookup(hwnd));
    if (!wnd) {
        QWidget::keyPressEvent(e);
        return;
    }
    const Qt::KeyboardModifiers mods = e->modifiers() & ~Qt::KeypadModifier;
    if (e->key() == Qt::Key_Escape && mods == Qt::NoModifier) {
        HWND cancel = ::GetDlgItem(hwnd, IDCANCEL);
        dispatch(wnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
        return;
    }
    if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && mods == Qt::NoModifier) {
        // A push button with the focus is clicked; anything else gives the
        // default command, as the platform's dialogs do.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            if (button->isEnabled())
                button->click();
            return;
        }
        HWND target = ::GetDlgItem(hwnd, wnd->m_defaultId);
        if (WndImpl* def = lookup(target); def && def->widget() && !def->widget()->isEnabled())
            return;
        dispatch(wnd, WM_COMMAND, MAKEWPARAM(wnd->m_defaultId, BN_CLICKED), reinterpret_cast<LPARAM>(target));
        return;
    }
    QWidget::keyPressEvent(e);
}

QFont templateFont(const AfxDlgTemplate& t)
{
    // The Song face that templates name, by its Chinese and its Latin name,
    // is the free Song-style face installed with the program.
    static const bool songSubstituted = [] {
        const QStringList song{QStringLiteral("AR PL UMing CN")};
        QFont::insertSubstitutions(QStringLiteral("\u5B8B\u4F53"), song);
        QFont::insertSubstitutions(QStringLiteral("SimSun"), song);
        return true;
    }();
    (void)songSubstituted;
    if (!t.fontFace || !*t.fontFace)
        return QApplication::font();
    QFont font;
    font.setFamilies({AfxQStringFromBytes(t.fontFace)});
    // Points at the platform's 96 dots per inch, so a template measures the
    // same on every screen.
    font.setPixelSize(MulDiv(t.pointSize, 96, 72));
    return font;
}

void baseUnits(const QFont& font, int* baseX, int* baseY)
{
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    *baseX = (width + 26) / 52;
    *baseY = metrics.height();
}

}  // namespace

WndImpl* createDialog(const AfxDlgTemplate& t, CDialog* dialog, QWidget* owner)
{
    auto* widget = new DialogWidget(owner);
    auto* wnd = new DialogImpl(widget, t);

    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (t.style & WS_SYSMENU)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (t.style & WS_MINIMIZEBOX)
        flags |= Qt::WindowMinimizeButtonHint;
    widget->setWindowFlags(flags);
    widget->setWindowTitle(AfxQStringFromBytes(t.caption ? t.caption : ""));

    const QFont font = templateFont(t);
    widget->setFont(font);
    int baseX = 0;
    int baseY = 0;
    baseUnits(font, &baseX, &baseY);
    widget->setFixedSize(MulDiv(t.cx, baseX, 4), MulDiv(t.cy, baseY, 8));

    QWidget* previousTabStop = nullptr;
    for (int i = 0; i < t.itemCount; ++i) {
        const AfxDlgItemTemplate& item = t.items[i];
        std::unique_ptr<WndImpl> control = createControl(item, wnd, font, baseX, baseY);
        if (!control) {
            destroyWindow(wnd, true);
            return nullptr;
        }
        QWidget* w = wnd->adopt(std::move(control))->widget();
        if ((item.style & WS_TABSTOP) && w) {
            if (previousTabStop)
                QWidget::setTabOrder(previousTabStop, w);
            previousTabStop = w;
        }
        if (QString::fromLatin1(item.className).compare(QLatin1String("BUTTON"), Qt::CaseInsensitive) == 0 &&
            (item.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON && item.id > 0)
            wnd->m_defaultId = item.id;
    }
    nameControlsByLabels(wnd);

    if (t.style & WS_SYSMENU) {
        wnd->m_sysMenu = createSystemMenu(wnd);
        auto* shortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), widget);
        shortcut->setContext(Qt::WindowShortcut);
        const HWND hwnd = wnd->hwnd();
        QObject::connect(shortcut, &QShortcut::activated, &wnd->m_context, [hwnd] {
            if (WndImpl* target = lookup(hwnd))
                popupSystemMenu(target, target->widget()->mapToGlobal(QPoint(0, 0)));
        });
    }

    wnd->m_permanent = dialog;
    dialog->m_hWnd = wnd->hwnd();
    return wnd;
}

void endDialog(WndImpl* wnd, int result)
{
    auto* dlg = static_cast<DialogImpl*>(wnd);
    dlg->m_ended = true;
    dlg->m_result = result;
    if (dlg->m_running)
        static_cast<QDialog*>(dlg->widget())->done(result);
}

int runModal(WndImpl* wnd)
{
    auto* dlg = static_cast<DialogImpl*>(wnd);
    if (dlg->m_ended)
        return dlg->m_result;
    auto* widget = static_cast<QDialog*>(dlg->widget());
    widget->setWindowModality(Qt::ApplicationModal);
    dlg->m_running = true;
    widget->exec();
    dlg->m_running = false;
    return dlg->m_result;
}

}  // namespace afx

using namespace afx;

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_MESSAGE(WM_INITDIALOG, &CDialog::HandleInitDialog)
    ON_COMMAND(IDOK, &CDialog::OnOK)
    ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal()
{
    const AfxDlgTemplate* t = AfxFindDialogResource(m_nIDTemplate);
    if (!t || m_hWnd || !isGuiThread()) {
        if (!t)
            qWarning("DoModal: no dialog template %u", m_nIDTemplate);
        return -1;
    }
    ensureGuiInitialised();
    CWnd* owner = m_pParentWnd ? m_pParentWnd : AfxGetMainWnd();
    QWidget* ownerWidget = owner && owner != this ? AfxWidgetFromHandle(owner->m_hWnd) : nullptr;
    WndImpl* wnd = createDialog(*t, this, ownerWidget);
    if (!wnd)
        return -1;
    const HWND hwnd = wnd->hwnd();
    const LRESULT setFocus = dispatch(wnd, WM_INITDIALOG, 0, 0);
    int result = -1;
    if (lookup(hwnd) == wnd) {
        if (setFocus) {
            for (const auto& c : wnd->children()) {
                QWidget* w = c->widget();
                if (w && (w->focusPolicy() & Qt::TabFocus) && w->isEnabled() && !w->isHidden()) {
                    w->setFocus(Qt::TabFocusReason);
                    break;
                }
            }
        }
        result = runModal(wnd);
        if (lookup(hwnd) == wnd)
            destroyWindow(wnd, true);
    }
    return result;
}

LRESULT CDialog::HandleInitDialog(WPARAM, LPARAM) { return OnInitDialog(); }

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK()
{
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::EndDialog(int nResult)
{
    if (WndImpl* wnd = lookup(m_hWnd))
        endDialog(wnd, nResult);
}

BOOL CDialog::OnCmdMsg(UINT nID, int nCode)
{
    if (CWnd::OnCmdMsg(nID, nCode))
        return TRUE;
    // Commands the dialog does not handle go on to the application object.
    CWinApp* app = AfxGetApp();
    return nCode == 0 && app ? app->OnCmdMsg(nID, nCode) : FALSE;
}
