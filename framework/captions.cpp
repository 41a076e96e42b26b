// Buttons, group boxes and labels: the controls whose text is a caption. A
// label or a group box also names, for assistive tools, the lists and edits
// it stands for.
#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>

#include <climits>

#include "framework/afxqt.h"
#include "framework/qtext.h"
#include "framework/wndimpl.h"

namespace afx {

namespace {

// The caption's bytes are kept as given; the controls a label or group box
// names (see nameControlsByLabels) are renamed when it changes.
class CaptionImpl : public WndImpl {
public:
    using WndImpl::WndImpl;
    std::string text() const override { return m_caption; }
    void setText(const std::string& bytes) override
    {
        m_caption = bytes;
        const QString caption = AfxQStringFromBytes(bytes);
        for (const QPointer<QWidget>& control : m_named) {
            if (control)
                control->setAccessibleName(caption);
        }
        show(caption);
    }
    virtual void names(QWidget* control)
    {
        m_named.push_back(control);
        control->setAccessibleName(AfxQStringFromBytes(m_caption));
    }

protected:
    virtual void show(const QString& caption) = 0;
    std::string m_caption;

private:
    std::vector<QPointer<QWidget>> m_named;
};

class ButtonImpl : public CaptionImpl {
public:
    ButtonImpl(QAbstractButton* button, WndImpl* parent, int id, bool checkBox)
        : CaptionImpl(button, parent, id), m_button(button), m_checkBox(checkBox)
    {
        const HWND self = hwnd();
        QObject::connect(button, &QAbstractButton::clicked, &m_context, [self] {
            if (WndImpl* wnd = lookup(self))
                notifyParent(wnd, BN_CLICKED);
        });
    }

    LRESULT classProc(UINT msg, WPARAM wParam, LPARAM lParam) override
    {
        switch (msg) {
        case BM_GETCHECK:
            return m_checkBox && m_button->isChecked() ? BST_CHECKED : BST_UNCHECKED;
        case BM_SETCHECK:
            // No click notification: the toolkit reports clicks only.
            if (m_checkBox)
                m_button->setChecked(wParam != BST_UNCHECKED);
            return 0;
        default:
            return CaptionImpl::classProc(msg, wParam, lParam);
        }
    }
    CWnd* makeWrapper() const override { return new CButton; }

protected:
    void show(const QString& caption) override { m_button->setText(caption); }

private:
    QAbstractButton* m_button;
    bool m_checkBox;
};

class GroupImpl : public CaptionImpl {
public:
    GroupImpl(QGroupBox* box, WndImpl* parent, int id) : CaptionImpl(box, parent, id), m_box(box) {}
    CWnd* makeWrapper() const override { return new CButton; }

protected:
    void show(const QString& caption) override { m_box->setTitle(caption); }

private:
    QGroupBox* m_box;
};

class StaticImpl : public CaptionImpl {
public:
    StaticImpl(QLabel* label, WndImpl* parent, int id, bool icon)
        : CaptionImpl(label, parent, id), m_label(label), m_isIcon(icon) {}

    LRESULT classProc(UINT msg, WPARAM wParam, LPARAM lParam) override
    {
        switch (msg) {
        case STM_SETICON: {
            HICON previous = m_icon;
            setIcon(reinterpret_cast<HICON>(wParam));
            return reinterpret_cast<LRESULT>(previous);
        }
        case STM_GETICON:
            return reinterpret_cast<LRESULT>(m_icon);
        default:
            return CaptionImpl::classProc(msg, wParam, lParam);
        }
    }
    CWnd* makeWrapper() const override { return new CStatic; }
    bool isIcon() const { return m_isIcon; }
    // The toolkit's own tie of a label to its control: tools read the label
    // as the control's (on Linux a list's name is its selected item, and the
    // label comes through this tie).
    void names(QWidget* control) override { m_label->setBuddy(control); }

    void setIcon(HICON icon)
    {
        const QIcon* qicon = AfxIconFromHandle(icon);
        m_icon = qicon ? icon : nullptr;
        const int size = GetSystemMetrics(SM_CXICON);
        m_label->setPixmap(qicon ? qicon->pixmap(size, size) : QPixmap());
    }

protected:
    void show(const QString& caption) override
    {
        if (!m_isIcon)
            m_label->setText(caption);
    }

private:
    QLabel* m_label;
    bool m_isIcon;
    HICON m_icon = nullptr;
};

}  // namespace

std::unique_ptr<WndImpl> makeButton(QAbstractButton* button, WndImpl* parent, int id, bool checkBox)
{
    return std::make_unique<ButtonImpl>(button, parent, id, checkBox);
}

std::unique_ptr<WndImpl> makeGroupBox(QGroupBox* box, WndImpl* parent, int id)
{
    return std::make_unique<GroupImpl>(box, parent, id);
}

std::unique_ptr<WndImpl> makeLabel(QLabel* label, WndImpl* parent, int id, bool icon)
{
    return std::make_unique<StaticImpl>(label, parent, id, icon);
}

// A combo box or an edit has no caption to name it by: the label that stands
// before it on its row names it, as a user reads the dialog, or else the
// group box around it. A label names only controls in its own group box, so
// a label at the end of one group's row does not name the next group's edit.
void nameControlsByLabels(WndImpl* dialog)
{
    std::vector<GroupImpl*> groups;
    std::vector<StaticImpl*> labels;
    for (const auto& child : dialog->children()) {
        if (auto* group = dynamic_cast<GroupImpl*>(child.get()))
            groups.push_back(group);
        else if (auto* label = dynamic_cast<StaticImpl*>(child.get()); label && !label->isIcon())
            labels.push_back(label);
    }
    const auto groupAround = [&](const QRect& rect) {
        GroupImpl* innermost = nullptr;
        int innermostArea = INT_MAX;
        for (GroupImpl* group : groups) {
            const QRect box = group->widget()->geometry();
            if (box.contains(rect) && box.width() * box.height() < innermostArea) {
                innermost = group;
                innermostArea = box.width() * box.height();
            }
        }
        return innermost;
    };
    for (const auto& child : dialog->children()) {
        QWidget* control = child->widget();
        // The controls without a caption of their own: the lists and edits.
        if (!control || !control->accessibleName().isEmpty() || dynamic_cast<CaptionImpl*>(child.get()))
            continue;
        const QRect rect = control->geometry();
        GroupImpl* group = groupAround(rect);
        CaptionImpl* name = group;
        int nearest = INT_MIN;
        for (StaticImpl* label : labels) {
            const QRect at = label->widget()->geometry();
            const bool before = at.right() < rect.left() && at.top() <= rect.bottom() && rect.top() <= at.bottom();
            if (before && at.right() > nearest && groupAround(at) == group) {
                nearest = at.right();
                name = label;
            }
        }
        if (name)
            name->names(control);
    }
}

}  // namespace afx

int CButton::GetCheck() const { return static_cast<int>(SendMessage(BM_GETCHECK)); }
void CButton::SetCheck(int nCheck) { SendMessage(BM_SETCHECK, static_cast<WPARAM>(nCheck)); }

HICON CStatic::SetIcon(HICON hIcon)
{
    return reinterpret_cast<HICON>(SendMessage(STM_SETICON, reinterpret_cast<WPARAM>(hIcon)));
}
HICON CStatic::GetIcon() const { return reinterpret_cast<HICON>(SendMessage(STM_GETICON)); }
