// The controls of dialog templates and the status bar, each answering the
// messages the program sends it, and the wrapper classes' members.
#include <QAccessible>
#include <QAccessibleWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <qdrawutil.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "framework/accessible.h"
#include "framework/afxqt.h"
#include "framework/frameclock.h"
#include "framework/qtext.h"
#include "framework/textedit.h"
#include "framework/textmodel.h"
#include "framework/wndimpl.h"

namespace afx {

namespace {

QRect dialogRect(const AfxDlgItemTemplate& item, int baseX, int baseY)
{
    return QRect(MulDiv(item.x, baseX, 4), MulDiv(item.y, baseY, 8), MulDiv(item.cx, baseX, 4),
                 MulDiv(item.cy, baseY, 8));
}

// Copies a text into a buffer the caller sized from the text's length, as
// CB_GETLBTEXT and SB_GETTEXT do.
LRESULT copyText(const std::string& bytes, LPARAM buffer)
{
    char* out = reinterpret_cast<char*>(buffer);
    if (!out)
        return 0;
    std::memcpy(out, bytes.data(), bytes.size());
    out[bytes.size()] = '\0';
    return static_cast<LRESULT>(bytes.size());
}

// --- Buttons, group boxes, labels ---------------------------------------------

// A control whose text is a caption: the caption's bytes are kept as given.
// A label or a group box also names, for assistive tools, the controls it
// stands for (see nameControlsByLabels), and renames them when it changes.
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

// --- Drop-down lists -------------------------------------------------------------

class ComboImpl : public WndImpl {
public:
    ComboImpl(QComboBox* combo, WndImpl* parent, int id) : WndImpl(combo, parent, id), m_combo(combo) {}

    LRESULT classProc(UINT msg, WPARAM wParam, LPARAM lParam) override
    {
        const int count = static_cast<int>(m_items.size());
        const int index = static_cast<int>(wParam);
        switch (msg) {
        case CB_GETCOUNT:
            return count;
        case CB_GETCURSEL:
            return m_combo->currentIndex() >= 0 ? m_combo->currentIndex() : CB_ERR;
        case CB_SETCURSEL:
            if (index < 0 || index >= count) {
                m_combo->setCurrentIndex(-1);
                return CB_ERR;
            }
            m_combo->setCurrentIndex(index);
            return index;
        case CB_INSERTSTRING: {
            const int at = index == -1 ? count : index;
            if (at < 0 || at > count)
                return CB_ERR;
            const std::string bytes = lParam ? reinterpret_cast<const char*>(lParam) : "";
            m_items.insert(m_items.begin() + at, bytes);
            m_combo->insertItem(at, AfxQStringFromBytes(bytes));
            // The toolkit selects the first item of an empty list; the
            // platform's list stays without a selection until told.
            if (count == 0)
                m_combo->setCurrentIndex(-1);
            return at;
        }
        case CB_GETLBTEXTLEN:
            return index >= 0 && index < count ? static_cast<LRESULT>(m_items[static_cast<size_t>(index)].size())
                                               : CB_ERR;
        case CB_GETLBTEXT:
            if (index < 0 || index >= count || !lParam)
                return CB_ERR;
            return copyText(m_items[static_cast<size_t>(index)], lParam);
        default:
            return WndImpl::classProc(msg, wParam, lParam);
        }
    }
    CWnd* makeWrapper() const override { return new CComboBox; }

    std::string text() const override
    {
        const int i = m_combo->currentIndex();
        return i >= 0 && i < static_cast<int>(m_items.size()) ? m_items[static_cast<size_t>(i)] : std::string();
    }
    void setText(const std::string&) override {}  // a drop-down list has no text of its own

private:
    QComboBox* m_combo;
    std::vector<std::string> m_items;
};

// --- Edits -----------------------------------------------------------------------

// The edit messages, in byte positions of the program's code page 936 text.
class EditImpl : public WndImpl {
public:
    EditImpl(QWidget* widget, WndImpl* parent, int id, bool multiline)
        : WndImpl(widget, parent, id), m_multiline(multiline) {}

    LRESULT classProc(UINT msg, WPARAM wParam, LPARAM lParam) override
    {
        switch (msg) {
        case WM_SETTEXT:
            setText(lParam ? reinterpret_cast<const char*>(lParam) : "");
            if (!m_multiline)
                notifyParent(this, EN_CHANGE);  // the platform's single-line edits report it
            return TRUE;
        case WM_GETTEXTLENGTH:
            return static_cast<LRESULT>(byteLength());
        case EM_GETLINECOUNT:
            return lineCount();
        case EM_SETSEL:
            setSel(static_cast<int>(static_cast<LONG_PTR>(wParam)), static_cast<int>(lParam));
            return 0;
        case EM_GETSEL: {
            const auto [start, end] = byteSel();
            if (wParam)
                *reinterpret_cast<DWORD*>(wParam) = static_cast<DWORD>(start);
            if (lParam)
                *reinterpret_cast<DWORD*>(lParam) = static_cast<DWORD>(end);
            return start > 0xFFFF || end > 0xFFFF ? -1 : static_cast<LRESULT>(start | end << 16);
        }
        case EM_REPLACESEL:
            replaceByteSel(lParam ? reinterpret_cast<const char*>(lParam) : "");
            notifyParent(this, EN_CHANGE);
            return 0;
        case EM_SCROLLCARET:
            scrollCaret();
            return TRUE;
        case EM_LINESCROLL:
            if (!m_multiline)
                return FALSE;
            scrollLines(static_cast<int>(lParam));
            return TRUE;
        default:
            return WndImpl::classProc(msg, wParam, lParam);
        }
    }
    CWnd* makeWrapper() const override { return new CEdit; }

protected:
    virtual size_t byteLength() const = 0;
    virtual std::pair<size_t, size_t> byteSel() const = 0;
    virtual void setByteSel(size_t start, size_t end) = 0;
    virtual void replaceByteSel(std::string_view bytes) = 0;
    virtual int lineCount() const = 0;
    virtual void scrollCaret() = 0;
    virtual void scrollLines(int lines) = 0;

private:
    void setSel(int start, int end)
    {
        if (start == -1) {
            const size_t caret = byteSel().second;  // deselects; the caret stays
            setByteSel(caret, caret);
            return;
        }
        const size_t length = byteLength();
        setByteSel(start < 0 ? length : std::min(static_cast<size_t>(start), length),
                   end < 0 ? length : std::min(static_cast<size_t>(end), length));
    }

    bool m_multiline;
};

// A single-line edit keeps the bytes it was given until the user edits it;
// then its shown text is the truth, encoded on the next read.
class LineEditImpl : public EditImpl {
public:
    LineEditImpl(QLineEdit* edit, WndImpl* parent, int id) : EditImpl(edit, parent, id, false), m_edit(edit)
    {
        const HWND self = hwnd();
        QObject::connect(edit, &QLineEdit::textEdited, &m_context, [self] {
            if (auto* wnd = static_cast<LineEditImpl*>(lookup(self))) {
                wnd->m_bytesValid = false;
                notifyParent(wnd, EN_CHANGE);
            }
        });
    }

    std::string text() const override
    {
        if (!m_bytesValid) {
            m_bytes = AfxBytesFromQString(m_edit->text());
            m_bytesValid = true;
        }
        return m_bytes;
    }
    void setText(const std::string& bytes) override
    {
        m_bytes = bytes;
        m_bytesValid = true;
        m_edit->setText(AfxQStringFromBytes(bytes));
    }

protected:
    size_t byteLength() const override { return text().size(); }
    std::pair<size_t, size_t> byteSel() const override
    {
        const TextModel model = positions();
        const int caret = m_edit->cursorPosition();
        const int start = m_edit->hasSelectedText() ? m_edit->selectionStart() : caret;
        const int end = m_edit->hasSelectedText() ? m_edit->selectionEnd() : caret;
        return {model.byteAt(start), model.byteAt(end)};
    }
    void setByteSel(size_t start, size_t end) override
    {
        const TextModel model = positions();
        const int from = model.charAt(start);
        const int to = model.charAt(end);
        if (from == to)
            m_edit->setCursorPosition(to);
        else
            m_edit->setSelection(from, to - from);
    }
    void replaceByteSel(std::string_view bytes) override
    {
        const auto [start, end] = byteSel();
        std::string all = text();
        all.replace(start, end - start, bytes);
        setText(all);
        m_edit->setCursorPosition(positions().charAt(start + bytes.size()));
    }
    int lineCount() const override { return 1; }
    void scrollCaret() override {}  // a line edit keeps its caret in view itself
    void scrollLines(int) override {}

private:
    // Byte and character positions of the (short) text.
    TextModel positions() const
    {
        TextModel model;
        model.setBytes(text());
        return model;
    }

    QLineEdit* m_edit;
    mutable std::string m_bytes;
    mutable bool m_bytesValid = true;
};

// The multi-line edit's widget holds the bytes and answers in byte positions.
class MultiEditImpl : public EditImpl {
public:
    MultiEditImpl(TextEditWidget* edit, WndImpl* parent, int id) : EditImpl(edit, parent, id, true), m_edit(edit)
    {
        const HWND self = hwnd();
        QObject::connect(edit, &TextEditWidget::userEdited, &m_context, [self] {
            if (WndImpl* wnd = lookup(self))
                notifyParent(wnd, EN_CHANGE);
        });
    }

    std::string text() const override { return m_edit->bytes(); }
    void setText(const std::string& bytes) override { m_edit->setBytes(bytes); }

protected:
    size_t byteLength() const override { return m_edit->byteLength(); }
    std::pair<size_t, size_t> byteSel() const override { return m_edit->byteSelection(); }
    void setByteSel(size_t start, size_t end) override { m_edit->setByteSelection(start, end); }
    void replaceByteSel(std::string_view bytes) override { m_edit->replaceByteSelection(bytes); }
    int lineCount() const override { return m_edit->lineCount(); }
    void scrollCaret() override { m_edit->scrollToCaret(); }
    void scrollLines(int lines) override { m_edit->scrollLines(lines); }

private:
    TextEditWidget* m_edit;
};

// --- Status bar ------------------------------------------------------------------

class StatusBarWidget : public QWidget {
public:
    explicit StatusBarWidget(QWidget* parent) : QWidget(parent)
    {
        setFixedHeight(fontMetrics().height() + 8);
        parent->installEventFilter(this);
        // The bar paints all of itself, so a change of its texts does not
        // repaint the dialog beneath it too.
        setAttribute(Qt::WA_OpaquePaintEvent);
        static const bool readable = [] {
            QAccessible::installFactory(accessibleFactory);
            return true;
        }();
        (void)readable;
    }

    // Repaints the part (or, with -1, the whole bar) at the next frame.
    // Repaints the part (or, with -1, the whole bar) at a frame. A counter
    // shown here may change with every received byte; the texts change at
    // once, the bar is painted ten times a second at most: enough to read a
    // count by, and each paint of a text costs.
    void scheduleRepaint(int part = -1)
    {
        m_dirty |= part < 0 ? rect() : partRect(static_cast<size_t>(part)).adjusted(-1, -2, 1, 1);
        m_frame.ask();
    }

    // A part's text changed: painted at a frame, and told to assistive tools
    // with the painting.
    void textChanged(int part)
    {
        if (AfxAccessibilityActive()) {
            if (m_renamed.size() <= static_cast<size_t>(part))
                m_renamed.resize(static_cast<size_t>(part) + 1);
            m_renamed[static_cast<size_t>(part)] = true;
        }
        scheduleRepaint(part);
    }

    std::vector<int> rights{-1};
    std::vector<QString> texts;
    std::vector<int> types;

    QRect partRect(size_t i) const
    {
        if (i >= rights.size())
            return QRect();
        const int left = i == 0 ? 0 : std::min(rights[i - 1] < 0 ? width() : rights[i - 1], width());
        const int right = rights[i] < 0 ? width() : std::min(rights[i], width());
        return QRect(left, 2, right - left - 2, height() - 3);
    }

    void place()
    {
        QWidget* p = parentWidget();
        setGeometry(0, p->height() - height(), p->width(), height());
    }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (watched == parentWidget() && e->type() == QEvent::Resize)
            place();
        return false;
    }

    void paintEvent(QPaintEvent* e) override
    {
        QPainter painter(this);
        painter.fillRect(e->rect(), palette().window());
        for (size_t i = 0; i < rights.size(); ++i) {
            const QRect part = partRect(i);
            if (part.width() <= 0 || !part.intersects(e->rect()))
                continue;
            const int type = i < types.size() ? types[i] : 0;
            if (!(type & SBT_NOBORDERS))
                qDrawShadePanel(&painter, part, palette(), !(type & SBT_POPOUT), 1);
            if (i < texts.size()) {
                // A text longer than its part is cut at the part's edge. One
                // line drawn at a point needs no text layout, which the count
                // changing every frame would otherwise pay for each time.
                const QRect inner = part.adjusted(3, 0, -3, 0);
                const QFontMetrics metrics = fontMetrics();
                const int baseline = inner.top() + (inner.height() + metrics.ascent() - metrics.descent()) / 2;
                painter.save();
                painter.setClipRect(inner, Qt::IntersectClip);
                painter.drawText(QPoint(inner.left(), baseline), texts[i]);
                painter.restore();
            }
        }
    }

private:
    static QAccessibleInterface* accessibleFactory(const QString& className, QObject* object);

    void repaintDue()
    {
        if (m_sincePaint.isValid() && m_sincePaint.elapsed() < kRepaintMs) {
            m_frame.ask();
            return;
        }
        m_sincePaint.start();
        update(m_dirty);
        m_dirty = QRect();
        tellRenamed();
    }

    void tellRenamed();

    static constexpr int kRepaintMs = 100;
    QElapsedTimer m_sincePaint;
    FrameRequest m_frame{this, [this] { repaintDue(); }};
    QRect m_dirty;  // what the next repaint paints
    std::vector<bool> m_renamed;  // parts whose new text assistive tools are not told yet
};

// One part of the status bar, for assistive tools: a text whose name is what
// the part shows.
class StatusPartAccessible : public QAccessibleInterface {
public:
    StatusPartAccessible(StatusBarWidget* bar, int part) : m_bar(bar), m_part(part) {}

    bool isValid() const override { return bar() && static_cast<size_t>(m_part) < bar()->rights.size(); }
    QObject* object() const override { return nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(m_bar); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessible::Role role() const override { return QAccessible::StaticText; }
    void setText(QAccessible::Text, const QString&) override {}
    QString text(QAccessible::Text type) const override
    {
        const size_t i = static_cast<size_t>(m_part);
        return type == QAccessible::Name && isValid() && i < bar()->texts.size() ? bar()->texts[i] : QString();
    }
    QRect rect() const override
    {
        if (!isValid())
            return QRect();
        const QRect part = bar()->partRect(static_cast<size_t>(m_part));
        return QRect(bar()->mapToGlobal(part.topLeft()), part.size());
    }
    QAccessible::State state() const override
    {
        QAccessible::State state;
        state.readOnly = true;
        state.invisible = !isValid() || !bar()->isVisible();
        return state;
    }

private:
    StatusBarWidget* bar() const { return static_cast<StatusBarWidget*>(m_bar.data()); }

    QPointer<QWidget> m_bar;
    int m_part;
};

// The bar, whose children are its parts.
class StatusBarAccessible : public QAccessibleWidget {
public:
    explicit StatusBarAccessible(StatusBarWidget* bar) : QAccessibleWidget(bar, QAccessible::StatusBar) {}
    ~StatusBarAccessible() override
    {
        for (QAccessible::Id id : m_parts) {
            if (id != 0)
                QAccessible::deleteAccessibleInterface(id);
        }
    }

    int childCount() const override { return static_cast<int>(bar()->rights.size()); }
    QAccessibleInterface* child(int index) const override
    {
        if (index < 0 || index >= childCount())
            return nullptr;
        const size_t i = static_cast<size_t>(index);
        if (m_parts.size() <= i)
            m_parts.resize(i + 1, 0);
        if (m_parts[i] == 0)
            m_parts[i] = QAccessible::registerAccessibleInterface(new StatusPartAccessible(bar(), index));
        return QAccessible::accessibleInterface(m_parts[i]);
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        for (size_t i = 0; i < m_parts.size(); ++i) {
            if (m_parts[i] != 0 && QAccessible::accessibleInterface(m_parts[i]) == child)
                return static_cast<int>(i);
        }
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        const QPoint at = bar()->mapFromGlobal(QPoint(x, y));
        for (int i = 0; i < childCount(); ++i) {
            if (bar()->partRect(static_cast<size_t>(i)).contains(at))
                return child(i);
        }
        return nullptr;
    }

private:
    StatusBarWidget* bar() const { return static_cast<StatusBarWidget*>(widget()); }

    mutable std::vector<QAccessible::Id> m_parts;  // 0 until asked for
};

QAccessibleInterface* StatusBarWidget::accessibleFactory(const QString& className, QObject* object)
{
    // The bar has no meta-object of its own: it is asked for as a QWidget.
    if (className != QLatin1String("QWidget") || !object || !object->isWidgetType())
        return nullptr;
    auto* bar = dynamic_cast<StatusBarWidget*>(static_cast<QWidget*>(object));
    return bar ? new StatusBarAccessible(bar) : nullptr;
}

void StatusBarWidget::tellRenamed()
{
    std::vector<bool> renamed;
    renamed.swap(m_renamed);
    if (renamed.empty() || !AfxAccessibilityActive())
        return;
    QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(this);
    for (size_t i = 0; i < renamed.size(); ++i) {
        QAccessibleInterface* part = renamed[i] && bar ? bar->child(static_cast<int>(i)) : nullptr;
        if (part) {
            QAccessibleEvent event(part, QAccessible::NameChanged);
            AfxNotifyAccessibility(&event);
        }
    }
}

class StatusBarImpl : public WndImpl {
public:
    StatusBarImpl(StatusBarWidget* bar, WndImpl* parent, int id) : WndImpl(bar, parent, id), m_bar(bar) {}

    LRESULT classProc(UINT msg, WPARAM wParam, LPARAM lParam) override
    {
        const int part = static_cast<int>(wParam & 0xFF);
        switch (msg) {
        case SB_SETPARTS: {
            const int n = static_cast<int>(wParam);
            const int* edges = reinterpret_cast<const int*>(lParam);
            if (n <= 0 || n > 256 || !edges)
                return FALSE;
            m_bar->rights.assign(edges, edges + n);
            m_bar->scheduleRepaint();
            return TRUE;
        }
        case SB_GETPARTS: {
            const int n = static_cast<int>(m_bar->rights.size());
            if (int* out = reinterpret_cast<int*>(lParam))
                std::copy_n(m_bar->rights.begin(), std::min(n, static_cast<int>(wParam)), out);
            return n;
        }
        case SB_SETTEXTA: {
            if (part == 0xFF)
                return FALSE;  // the simple mode is not provided
            grow(part);
            const size_t i = static_cast<size_t>(part);
            const char* text = lParam ? reinterpret_cast<const char*>(lParam) : "";
            const int type = static_cast<int>(wParam & 0xFF00);
            if (m_bytes[i] == text && m_bar->types[i] == type)
                return TRUE;  // nothing to paint
            m_bytes[i] = text;
            m_bar->texts[i] = AfxQStringFromBytes(m_bytes[i]);
            m_bar->types[i] = type;
            m_bar->textChanged(part);
            return TRUE;
        }
        case SB_GETTEXTLENGTHA:
        case SB_GETTEXTA: {
            if (part >= static_cast<int>(m_bytes.size()))
                return 0;
            const std::string& bytes = m_bytes[static_cast<size_t>(part)];
            if (msg == SB_GETTEXTA)
                copyText(bytes, lParam);
            return static_cast<LRESULT>(bytes.size() | static_cast<size_t>(m_bar->types[static_cast<size_t>(part)]) << 16);
        }
        default:
            return WndImpl::classProc(msg, wParam, lParam);
        }
    }
    CWnd* makeWrapper() const override { return new CStatusBarCtrl; }
    std::string text() const override { return m_bytes.empty() ? std::string() : m_bytes[0]; }
    void setText(const std::string& bytes) override
    {
        grow(0);
        m_bytes[0] = bytes;
        m_bar->texts[0] = AfxQStringFromBytes(bytes);
        m_bar->textChanged(0);
    }

private:
    void grow(int part)
    {
        const size_t n = static_cast<size_t>(part) + 1;
        if (m_bytes.size() < n) {
            m_bytes.resize(n);
            m_bar->texts.resize(n);
            m_bar->types.resize(n);
        }
    }

    StatusBarWidget* m_bar;
    std::vector<std::string> m_bytes;
};

bool isClass(const char* className, const char* name)
{
    return className && QString::fromLatin1(className).compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
}

}  // namespace

std::unique_ptr<WndImpl> createControl(const AfxDlgItemTemplate& item, WndImpl* parent, const QFont& font,
                                       int baseX, int baseY, bool* ok)
{
    QWidget* host = parent->widget();
    const QRect rect = dialogRect(item, baseX, baseY);
    const bool tabStop = (item.style & WS_TABSTOP) != 0;
    const bool edge = (item.style & WS_BORDER) || (item.exStyle & WS_EX_CLIENTEDGE);
    std::unique_ptr<WndImpl> wnd;
    CaptionImpl* caption = nullptr;
    QWidget* widget = nullptr;
    bool placed = false;  // drop-down lists and icons place themselves

    if (isClass(item.className, "BUTTON")) {
        const DWORD type = item.style & BS_TYPEMASK;
        if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON) {
            auto* button = new QPushButton(host);
            // The dialog decides what Enter does, not the toolkit's default button.
            button->setAutoDefault(false);
            button->setDefault(false);
            widget = button;
            auto impl = std::make_unique<ButtonImpl>(button, parent, item.id, false);
            caption = impl.get();
            wnd = std::move(impl);
        } else if (type == BS_AUTOCHECKBOX) {
            auto* box = new QCheckBox(host);
            widget = box;
            auto impl = std::make_unique<ButtonImpl>(box, parent, item.id, true);
            caption = impl.get();
            wnd = std::move(impl);
        } else if (type == BS_GROUPBOX) {
            auto* box = new QGroupBox(host);
            // A frame drawn under the controls it groups; clicks go through.
            box->setAttribute(Qt::WA_TransparentForMouseEvents);
            box->setFocusPolicy(Qt::NoFocus);
            widget = box;
            auto impl = std::make_unique<GroupImpl>(box, parent, item.id);
            caption = impl.get();
            wnd = std::move(impl);
        }
    } else if (isClass(item.className, "STATIC")) {
        const DWORD type = item.style & SS_TYPEMASK;
        if (type == SS_LEFT || type == SS_ICON) {
            auto* label = new QLabel(host);
            label->setAttribute(Qt::WA_TransparentForMouseEvents);
            label->setTextFormat(Qt::PlainText);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setWordWrap(type == SS_LEFT);
            widget = label;
            auto impl = std::make_unique<StaticImpl>(label, parent, item.id, type == SS_ICON);
            if (type == SS_ICON) {
                impl->setIcon(loadIcon(item.iconId));
                const int size = GetSystemMetrics(SM_CXICON);
                label->setGeometry(rect.x(), rect.y(), size, size);  // an icon static takes the icon's size
                placed = true;
            }
            caption = impl.get();
            wnd = std::move(impl);
        }
    } else if (isClass(item.className, "EDIT")) {
        if (item.style & ES_MULTILINE) {
            auto* edit = new TextEditWidget(host);
            edit->setFont(font);
            edit->setReadOnly(item.style & ES_READONLY);
            edit->setWantReturn(item.style & ES_WANTRETURN);
            edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            edit->setVerticalScrollBarPolicy((item.style & WS_VSCROLL) ? Qt::ScrollBarAlwaysOn
                                                                       : Qt::ScrollBarAlwaysOff);
            edit->setFrameStyle(edge ? (QFrame::StyledPanel | QFrame::Sunken) : QFrame::NoFrame);
            widget = edit;
            wnd = std::make_unique<MultiEditImpl>(edit, parent, item.id);
        } else {
            auto* edit = new QLineEdit(host);
            edit->setReadOnly(item.style & ES_READONLY);
            edit->setFrame(edge);
            widget = edit;
            wnd = std::make_unique<LineEditImpl>(edit, parent, item.id);
        }
        widget->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
        wnd->setText(item.text ? item.text : "");
    } else if (isClass(item.className, "COMBOBOX")) {
        if ((item.style & 0x3) == CBS_DROPDOWNLIST) {
            auto* combo = new QComboBox(host);
            widget = combo;
            wnd = std::make_unique<ComboImpl>(combo, parent, item.id);
            // The template's height includes the dropped list.
            const int closed = combo->sizeHint().height();
            combo->setGeometry(rect.x(), rect.y(), rect.width(), closed);
            const int itemHeight = std::max(1, QFontMetrics(font).height());
            combo->setMaxVisibleItems(std::max(1, (rect.height() - closed) / itemHeight));
            combo->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
            placed = true;
        }
    }

    if (!wnd) {
        qWarning("dialog template: control %d of class %s with style 0x%08x is not supported", item.id,
                 item.className ? item.className : "(none)", static_cast<unsigned>(item.style));
        *ok = false;
        return nullptr;
    }
    *ok = true;
    if (caption)
        caption->setText(item.text ? item.text : "");
    if (!placed)
        widget->setGeometry(rect);
    if (qobject_cast<QAbstractButton*>(widget))
        widget->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
    if (qobject_cast<QGroupBox*>(widget))
        widget->lower();
    widget->setEnabled(!(item.style & WS_DISABLED));
    if (!(item.style & WS_VISIBLE))
        widget->hide();
    return wnd;
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
        if (!control || !control->accessibleName().isEmpty()
            || (!dynamic_cast<ComboImpl*>(child.get()) && !dynamic_cast<EditImpl*>(child.get())))
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

WndImpl* createStatusBar(WndImpl* parent, int id, DWORD style)
{
    QWidget* host = parent->widget();
    // The dialog grows by the bar's height, so the bar covers none of its
    // controls.
    auto* bar = new StatusBarWidget(host);
    const QSize size(host->width(), host->height() + bar->height());
    if (host->minimumSize() == host->maximumSize())
        host->setFixedSize(size);
    else
        host->resize(size);
    bar->place();
    WndImpl* wnd = parent->adopt(std::make_unique<StatusBarImpl>(bar, parent, id));
    if (!(style & WS_VISIBLE))
        bar->hide();
    else
        bar->show();
    return wnd;
}

}  // namespace afx

using namespace afx;

// --- Wrapper members ---------------------------------------------------------------

int CButton::GetCheck() const { return static_cast<int>(SendMessage(BM_GETCHECK)); }
void CButton::SetCheck(int nCheck) { SendMessage(BM_SETCHECK, static_cast<WPARAM>(nCheck)); }

HICON CStatic::SetIcon(HICON hIcon)
{
    return reinterpret_cast<HICON>(SendMessage(STM_SETICON, reinterpret_cast<WPARAM>(hIcon)));
}
HICON CStatic::GetIcon() const { return reinterpret_cast<HICON>(SendMessage(STM_GETICON)); }

int CEdit::GetLineCount() const { return static_cast<int>(SendMessage(EM_GETLINECOUNT)); }
void CEdit::SetSel(int nStartChar, int nEndChar, BOOL bNoScroll)
{
    SendMessage(EM_SETSEL, static_cast<WPARAM>(nStartChar), nEndChar);
    if (!bNoScroll)
        SendMessage(EM_SCROLLCARET);
}
void CEdit::GetSel(int& nStartChar, int& nEndChar) const
{
    DWORD start = 0;
    DWORD end = 0;
    SendMessage(EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    nStartChar = static_cast<int>(start);
    nEndChar = static_cast<int>(end);
}
void CEdit::ReplaceSel(LPCSTR text, BOOL bCanUndo)
{
    SendMessage(EM_REPLACESEL, static_cast<WPARAM>(bCanUndo), reinterpret_cast<LPARAM>(text));
}
void CEdit::LineScroll(int nLines, int nChars) { SendMessage(EM_LINESCROLL, static_cast<WPARAM>(nChars), nLines); }

int CComboBox::GetCount() const { return static_cast<int>(SendMessage(CB_GETCOUNT)); }
int CComboBox::GetCurSel() const { return static_cast<int>(SendMessage(CB_GETCURSEL)); }
int CComboBox::SetCurSel(int nSelect) { return static_cast<int>(SendMessage(CB_SETCURSEL, static_cast<WPARAM>(nSelect))); }
int CComboBox::InsertString(int nIndex, LPCSTR text)
{
    return static_cast<int>(SendMessage(CB_INSERTSTRING, static_cast<WPARAM>(nIndex), reinterpret_cast<LPARAM>(text)));
}
int CComboBox::GetLBTextLen(int nIndex) const { return static_cast<int>(SendMessage(CB_GETLBTEXTLEN, static_cast<WPARAM>(nIndex))); }
int CComboBox::GetLBText(int nIndex, LPSTR buffer) const
{
    return static_cast<int>(SendMessage(CB_GETLBTEXT, static_cast<WPARAM>(nIndex), reinterpret_cast<LPARAM>(buffer)));
}
void CComboBox::GetLBText(int nIndex, CString& text) const
{
    const int length = GetLBTextLen(nIndex);
    if (length == CB_ERR) {
        text.Empty();
        return;
    }
    std::string bytes(static_cast<size_t>(length) + 1, '\0');
    const int n = GetLBText(nIndex, bytes.data());
    bytes.resize(static_cast<size_t>(std::max(n, 0)));
    text = CString(std::move(bytes));
}

BOOL CStatusBarCtrl::Create(DWORD dwStyle, const RECT&, CWnd* pParentWnd, UINT nID)
{
    WndImpl* parent = pParentWnd ? lookup(pParentWnd->m_hWnd) : nullptr;
    if (m_hWnd || !parent)
        return FALSE;
    WndImpl* bar = createStatusBar(parent, static_cast<int>(nID), dwStyle);
    bar->m_permanent = this;
    m_hWnd = bar->hwnd();
    return TRUE;
}

BOOL CStatusBarCtrl::SetParts(int nParts, int* pWidths)
{
    return static_cast<BOOL>(SendMessage(SB_SETPARTS, static_cast<WPARAM>(nParts), reinterpret_cast<LPARAM>(pWidths)));
}

int CStatusBarCtrl::GetParts(int nParts, int* pParts) const
{
    return static_cast<int>(SendMessage(SB_GETPARTS, static_cast<WPARAM>(nParts), reinterpret_cast<LPARAM>(pParts)));
}

BOOL CStatusBarCtrl::SetText(LPCSTR text, int nPane, int nType)
{
    return static_cast<BOOL>(SendMessage(SB_SETTEXTA, static_cast<WPARAM>(nPane | nType), reinterpret_cast<LPARAM>(text)));
}

CString CStatusBarCtrl::GetText(int nPane, int* pType) const
{
    const LRESULT info = SendMessage(SB_GETTEXTLENGTHA, static_cast<WPARAM>(nPane));
    std::string bytes(static_cast<size_t>(LOWORD(info)) + 1, '\0');
    SendMessage(SB_GETTEXTA, static_cast<WPARAM>(nPane), reinterpret_cast<LPARAM>(bytes.data()));
    bytes.resize(LOWORD(info));
    if (pType)
        *pType = HIWORD(info);
    return CString(std::move(bytes));
}
