// The controls of a dialog template: each item's class and styles made into
// a widget and the control that answers its messages, placed in dialog units.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

#include "framework/textedit.h"
#include "framework/wndimpl.h"

namespace afx {

namespace {

// One template item on its way to a control.
struct Making {
    const AfxDlgItemTemplate& item;
    WndImpl* parent;
    QWidget* host;
    const QFont& font;
    QRect rect;  // in pixels
    Qt::FocusPolicy focus;  // a tab stop takes the focus from the keyboard too
};

struct Made {
    std::unique_ptr<WndImpl> wnd;
    QWidget* widget = nullptr;
    bool placed = false;  // drop-down lists and icons place themselves
};

Made makeButtonItem(const Making& m)
{
    switch (m.item.style & BS_TYPEMASK) {
    case BS_PUSHBUTTON:
    case BS_DEFPUSHBUTTON: {
        auto* button = new QPushButton(m.host);
        // The dialog decides what Enter does, not the toolkit's default button.
        button->setAutoDefault(false);
        button->setDefault(false);
        button->setFocusPolicy(m.focus);
        return {makeButton(button, m.parent, m.item.id, false), button};
    }
    case BS_AUTOCHECKBOX: {
        auto* box = new QCheckBox(m.host);
        box->setFocusPolicy(m.focus);
        return {makeButton(box, m.parent, m.item.id, true), box};
    }
    case BS_GROUPBOX: {
        auto* box = new QGroupBox(m.host);
        // A frame drawn under the controls it groups; clicks go through.
        box->setAttribute(Qt::WA_TransparentForMouseEvents);
        box->setFocusPolicy(Qt::NoFocus);
        box->lower();
        return {makeGroupBox(box, m.parent, m.item.id), box};
    }
    default:
        return {};
    }
}

Made makeStaticItem(const Making& m)
{
    const DWORD type = m.item.style & SS_TYPEMASK;
    if (type != SS_LEFT && type != SS_ICON)
        return {};
    auto* label = new QLabel(m.host);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setWordWrap(type == SS_LEFT);
    Made made{makeLabel(label, m.parent, m.item.id, type == SS_ICON), label};
    if (type == SS_ICON) {
        made.wnd->classProc(STM_SETICON, reinterpret_cast<WPARAM>(loadIcon(m.item.iconId)), 0);
        const int size = GetSystemMetrics(SM_CXICON);
        label->setGeometry(m.rect.x(), m.rect.y(), size, size);  // an icon static takes the icon's size
        made.placed = true;
    }
    return made;
}

Made makeEditItem(const Making& m)
{
    const DWORD style = m.item.style;
    const bool edge = (style & WS_BORDER) || (m.item.exStyle & WS_EX_CLIENTEDGE);
    Made made;
    if (style & ES_MULTILINE) {
        auto* edit = new TextEditWidget(m.host);
        edit->setFont(m.font);
        edit->setReadOnly(style & ES_READONLY);
        edit->setWantReturn(style & ES_WANTRETURN);
        edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        edit->setVerticalScrollBarPolicy((style & WS_VSCROLL) ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
        edit->setFrameStyle(edge ? (QFrame::StyledPanel | QFrame::Sunken) : QFrame::NoFrame);
        made = {makeMultiLineEdit(edit, m.parent, m.item.id), edit};
    } else {
        auto* edit = new QLineEdit(m.host);
        edit->setReadOnly(style & ES_READONLY);
        edit->setFrame(edge);
        made = {makeLineEdit(edit, m.parent, m.item.id), edit};
    }
    made.widget->setFocusPolicy(m.focus);
    return made;
}

Made makeComboItem(const Making& m)
{
    if ((m.item.style & 0x3) != CBS_DROPDOWNLIST)
        return {};
    auto* combo = new QComboBox(m.host);
    // The template's height includes the dropped list.
    const int closed = combo->sizeHint().height();
    combo->setGeometry(m.rect.x(), m.rect.y(), m.rect.width(), closed);
    const int itemHeight = std::max(1, QFontMetrics(m.font).height());
    combo->setMaxVisibleItems(std::max(1, (m.rect.height() - closed) / itemHeight));
    combo->setFocusPolicy(m.focus);
    return {makeComboBox(combo, m.parent, m.item.id), combo, true};
}

bool isClass(const char* className, const char* name)
{
    return className && QString::fromLatin1(className).compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
}

}  // namespace

std::unique_ptr<WndImpl> createControl(const AfxDlgItemTemplate& item, WndImpl* parent, const QFont& font,
                                       int baseX, int baseY)
{
    const QRect rect(MulDiv(item.x, baseX, 4), MulDiv(item.y, baseY, 8), MulDiv(item.cx, baseX, 4),
                     MulDiv(item.cy, baseY, 8));
    const Making making{item, parent, parent->widget(), font, rect,
                        (item.style & WS_TABSTOP) ? Qt::StrongFocus : Qt::ClickFocus};
    Made made;
    if (isClass(item.className, "BUTTON"))
        made = makeButtonItem(making);
    else if (isClass(item.className, "STATIC"))
        made = makeStaticItem(making);
    else if (isClass(item.className, "EDIT"))
        made = makeEditItem(making);
    else if (isClass(item.className, "COMBOBOX"))
        made = makeComboItem(making);
    if (!made.wnd) {
        qWarning("dialog template: control %d of class %s with style 0x%08x is not supported", item.id,
                 item.className ? item.className : "(none)", static_cast<unsigned>(item.style));
        return nullptr;
    }
    made.wnd->setText(item.text ? item.text : "");
    if (!made.placed)
        made.widget->setGeometry(rect);
    made.widget->setEnabled(!(item.style & WS_DISABLED));
    if (!(item.style & WS_VISIBLE))
        made.widget->hide();
    return std::move(made.wnd);
}

}  // namespace afx
