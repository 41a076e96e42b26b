// The status bar along the bottom of its parent: its parts, their texts
// painted at a frame, and the parts as assistive tools read them.
#include <QAccessible>
#include <QAccessibleWidget>
#include <QElapsedTimer>
#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <qdrawutil.h>

#include <algorithm>

#include "framework/accessible.h"
#include "framework/afxqt.h"
#include "framework/frameclock.h"
#include "framework/qtext.h"
#include "framework/wndimpl.h"

namespace afx {

namespace {

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

    // Repaints the whole bar at a frame. A counter shown here may change
    // with every received byte; the texts change at once, the bar is painted
    // ten times a second at most: enough to read a count by, and each paint
    // of a text costs.
    void scheduleRepaint()
    {
        m_dirty = rect();
        m_frame.ask();
    }

    // A part's text changed: painted at a frame, and told to assistive tools
    // with the painting. Only marked here, as it may change with every byte.
    void textChanged(size_t part)
    {
        if (m_changed.size() <= part)
            m_changed.resize(part + 1);
        m_changed[part] = true;
        m_frame.ask();
    }

    // What a part shows: the code-page bytes the program set, decoded when
    // they are first painted or read.
    struct PartText {
        std::string bytes;
        int type = 0;
        mutable QString shown;
        mutable bool decoded = true;
    };
    const QString& shownText(size_t i) const
    {
        const PartText& t = texts[i];
        if (!t.decoded) {
            t.shown = AfxQStringFromBytes(t.bytes);
            t.decoded = true;
        }
        return t.shown;
    }

    std::vector<int> rights{-1};
    std::vector<PartText> texts;

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
            const int type = i < texts.size() ? texts[i].type : 0;
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
                painter.drawText(QPoint(inner.left(), baseline), shownText(i));
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
        for (size_t i = 0; i < m_changed.size(); ++i) {
            if (m_changed[i])
                m_dirty |= partRect(i).adjusted(-1, -2, 1, 1);
        }
        update(m_dirty);
        m_dirty = QRect();
        std::vector<bool> changed;
        changed.swap(m_changed);
        tellRenamed(changed);
    }

    void tellRenamed(const std::vector<bool>& renamed);

    static constexpr int kRepaintMs = 100;
    QElapsedTimer m_sincePaint;
    FrameRequest m_frame{this, [this] { repaintDue(); }};
    QRect m_dirty;  // what the next repaint paints
    std::vector<bool> m_changed;  // parts whose new text is not painted nor told yet
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
        return type == QAccessible::Name && isValid() && i < bar()->texts.size() ? bar()->shownText(i) : QString();
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

void StatusBarWidget::tellRenamed(const std::vector<bool>& renamed)
{
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
            const char* text = lParam ? reinterpret_cast<const char*>(lParam) : "";
            setPartText(static_cast<size_t>(part), text, static_cast<int>(wParam & 0xFF00));
            return TRUE;
        }
        case SB_GETTEXTLENGTHA:
        case SB_GETTEXTA: {
            if (part >= static_cast<int>(m_bar->texts.size()))
                return 0;
            const auto& t = m_bar->texts[static_cast<size_t>(part)];
            if (msg == SB_GETTEXTA)
                copyText(t.bytes, lParam);
            return static_cast<LRESULT>(t.bytes.size() | static_cast<size_t>(t.type) << 16);
        }
        default:
            return WndImpl::classProc(msg, wParam, lParam);
        }
    }
    CWnd* makeWrapper() const override { return new CStatusBarCtrl; }
    std::string text() const override { return m_bar->texts.empty() ? std::string() : m_bar->texts[0].bytes; }
    void setText(const std::string& bytes) override { setPartText(0, bytes, 0); }

private:
    void setPartText(size_t part, std::string_view bytes, int type)
    {
        auto& texts = m_bar->texts;
        if (texts.size() <= part)
            texts.resize(part + 1);
        auto& t = texts[part];
        if (t.bytes == bytes && t.type == type)
            return;  // nothing to paint
        t.bytes = bytes;
        t.type = type;
        t.decoded = false;
        m_bar->textChanged(part);
    }

    StatusBarWidget* m_bar;
};

}  // namespace

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
