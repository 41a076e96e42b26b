#include "framework/accessible.h"

#include <QAccessible>
#include <QAccessibleWidget>

#include <algorithm>
#include <functional>
#include <utility>

#include "framework/afxqt.h"
#include "framework/textedit.h"

namespace {

std::function<void(QAccessibleEvent*)>& listener()
{
    static std::function<void(QAccessibleEvent*)> instance;
    return instance;
}

QString slice(const std::u16string& chars, int from, int count)
{
    return QString(reinterpret_cast<const QChar*>(chars.data()) + from, count);
}

// The multi-line edit as an editable text: the characters it shows, '\n'
// between lines, with its caret and selection. A line is a line as shown,
// wrapped; what a tool types or deletes goes in as the user's typing would.
class TextEditAccessible : public QAccessibleWidget,
                           public QAccessibleTextInterface,
                           public QAccessibleEditableTextInterface {
public:
    explicit TextEditAccessible(TextEditWidget* edit) : QAccessibleWidget(edit, QAccessible::EditableText) {}

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        if (type == QAccessible::EditableTextInterface)
            return static_cast<QAccessibleEditableTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.multiLine = true;
        state.selectableText = true;
        state.readOnly = edit()->isReadOnly();
        state.editable = !state.readOnly;
        return state;
    }

    QString text(QAccessible::Text type) const override
    {
        return type == QAccessible::Value ? edit()->text() : QAccessibleWidget::text(type);
    }

    // --- Selection and caret.
    void selection(int index, int* start, int* end) const override
    {
        const bool any = index == 0 && selectionCount() == 1;
        *start = any ? edit()->selectionStart() : 0;
        *end = any ? edit()->selectionEnd() : 0;
    }
    int selectionCount() const override { return edit()->selectionStart() != edit()->selectionEnd() ? 1 : 0; }
    // There is one selection: adding one replaces it.
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int index) override
    {
        if (index == 0)
            edit()->setSelection(edit()->caretPosition(), edit()->caretPosition());
    }
    void setSelection(int index, int start, int end) override
    {
        if (index == 0)
            edit()->setSelection(start, end);
    }
    int cursorPosition() const override { return edit()->caretPosition(); }
    void setCursorPosition(int position) override
    {
        edit()->setSelection(position, position);
        edit()->scrollToCaret();
    }

    // --- Text.
    QString text(int start, int end) const override
    {
        const int size = edit()->length();
        start = std::clamp(start, 0, size);
        end = std::clamp(end, start, size);
        return slice(edit()->model().chars(), start, end - start);
    }
    int characterCount() const override { return edit()->length(); }

    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType type, int* start, int* end) const override
    {
        if (type != QAccessible::LineBoundary)
            return QAccessibleTextInterface::textBeforeOffset(offset, type, start, end);
        return line(lineOf(offset) - 1, start, end);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType type, int* start, int* end) const override
    {
        if (type != QAccessible::LineBoundary)
            return QAccessibleTextInterface::textAfterOffset(offset, type, start, end);
        return line(lineOf(offset) + 1, start, end);
    }
    QString textAtOffset(int offset, QAccessible::TextBoundaryType type, int* start, int* end) const override
    {
        if (type != QAccessible::LineBoundary)
            return QAccessibleTextInterface::textAtOffset(offset, type, start, end);
        return line(lineOf(offset), start, end);
    }

    // --- Geometry, in screen coordinates.
    QRect characterRect(int offset) const override
    {
        const QRect rect = edit()->characterRect(offset);
        return QRect(edit()->viewport()->mapToGlobal(rect.topLeft()), rect.size());
    }
    int offsetAtPoint(const QPoint& point) const override
    {
        const QPoint local = edit()->viewport()->mapFromGlobal(point);
        return edit()->viewport()->rect().contains(local) ? edit()->positionAt(local) : -1;
    }
    // Brings the line of `start` to the top of the view; the caret stays.
    void scrollToSubstring(int start, int) override { edit()->scrollLines(lineOf(start) - edit()->firstVisibleLine()); }
    QString attributes(int, int* start, int* end) const override
    {
        *start = 0;
        *end = edit()->length();
        return QString();
    }

    // --- Editing, as the user.
    void deleteText(int start, int end) override { edit()->editText(start, end, QString()); }
    void insertText(int offset, const QString& text) override { edit()->editText(offset, offset, text); }
    void replaceText(int start, int end, const QString& text) override { edit()->editText(start, end, text); }

private:
    TextEditWidget* edit() const { return static_cast<TextEditWidget*>(widget()); }

    // The shown line holding the character at `offset`.
    int lineOf(int offset) const
    {
        int low = 0;
        int high = edit()->lineCount() - 1;
        while (low < high) {
            const int middle = (low + high + 1) / 2;
            if (edit()->lineStart(middle) <= offset)
                low = middle;
            else
                high = middle - 1;
        }
        return low;
    }
    // A shown line with the line break that ends it, if any.
    QString line(int index, int* start, int* end) const
    {
        if (index < 0 || index >= edit()->lineCount()) {
            *start = *end = -1;
            return QString();
        }
        *start = edit()->lineStart(index);
        *end = index + 1 < edit()->lineCount() ? edit()->lineStart(index + 1) : edit()->length();
        return text(*start, *end);
    }
};

QAccessibleInterface* textEditFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("TextEditWidget") && object && object->isWidgetType())
        return new TextEditAccessible(static_cast<TextEditWidget*>(object));
    return nullptr;
}

} // namespace

void AfxSetAccessibilityListener(std::function<void(QAccessibleEvent*)> hear)
{
    listener() = std::move(hear);
}

bool AfxAccessibilityActive()
{
    return listener() || QAccessible::isActive();
}

void AfxNotifyAccessibility(QAccessibleEvent* event)
{
    if (listener())
        listener()(event);
    QAccessible::updateAccessibility(event);
}

void AfxInstallTextEditAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(textEditFactory);
        return true;
    }();
    (void)installed;
}

void AccessibleTextChanges::replaced(int from, const QString& removed, const QString& inserted)
{
    if (removed.isEmpty() && !m_changes.empty()) {
        Change& last = m_changes.back();
        if (from == last.from + last.inserted.size()) {
            last.inserted += inserted;
            return;
        }
    }
    m_changes.push_back({from, removed, inserted});
}

void AccessibleTextChanges::tell(QObject* edit, int caret, int selectionStart, int selectionEnd)
{
    if (!AfxAccessibilityActive()) {
        *this = AccessibleTextChanges();
        return;
    }
    for (const Change& change : m_changes) {
        if (change.removed.isEmpty()) {
            QAccessibleTextInsertEvent event(edit, change.from, change.inserted);
            AfxNotifyAccessibility(&event);
        } else if (change.inserted.isEmpty()) {
            QAccessibleTextRemoveEvent event(edit, change.from, change.removed);
            AfxNotifyAccessibility(&event);
        } else {
            QAccessibleTextUpdateEvent event(edit, change.from, change.removed, change.inserted);
            AfxNotifyAccessibility(&event);
        }
    }
    m_changes.clear();
    const bool hadSelection = m_selectionStart != m_selectionEnd;
    if ((selectionStart != selectionEnd || hadSelection)
        && (selectionStart != m_selectionStart || selectionEnd != m_selectionEnd)) {
        QAccessibleTextSelectionEvent event(edit, selectionStart, selectionEnd);
        event.setCursorPosition(caret);
        AfxNotifyAccessibility(&event);
    }
    m_selectionStart = selectionStart;
    m_selectionEnd = selectionEnd;
    if (caret != m_caret) {
        QAccessibleTextCursorEvent event(edit, caret);
        AfxNotifyAccessibility(&event);
        m_caret = caret;
    }
}
