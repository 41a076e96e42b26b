#include "tests/support/accessible.h"

#include <QAccessible>

#include "framework/afxqt.h"

namespace testsupport {

namespace {

std::string Describe(QAccessibleEvent* event)
{
    // Appended, not " " + to_string(n): GCC 12 at -O3 warns -Wrestrict
    // inside the string's insert that operator+ uses.
    const auto at = [](int n) { return std::string(" ").append(std::to_string(n)).append(" "); };
    const auto text = [](const QString& s) { return s.toStdString(); };
    switch (event->type()) {
    case QAccessible::TextInserted: {
        auto* e = static_cast<QAccessibleTextInsertEvent*>(event);
        return "insert" + at(e->changePosition()) + text(e->textInserted());
    }
    case QAccessible::TextRemoved: {
        auto* e = static_cast<QAccessibleTextRemoveEvent*>(event);
        return "remove" + at(e->changePosition()) + text(e->textRemoved());
    }
    case QAccessible::TextUpdated: {
        auto* e = static_cast<QAccessibleTextUpdateEvent*>(event);
        return "update" + at(e->changePosition()) + text(e->textRemoved()) + ">" + text(e->textInserted());
    }
    case QAccessible::TextCaretMoved:
        return "cursor " + std::to_string(static_cast<QAccessibleTextCursorEvent*>(event)->cursorPosition());
    case QAccessible::TextSelectionChanged: {
        auto* e = static_cast<QAccessibleTextSelectionEvent*>(event);
        return "selection" + at(e->selectionStart()) + std::to_string(e->selectionEnd());
    }
    case QAccessible::NameChanged:
        return "name " + text(event->accessibleInterface()->text(QAccessible::Name));
    default:
        return "event " + std::to_string(event->type());
    }
}

} // namespace

AccessibilityLog::AccessibilityLog()
{
    AfxSetAccessibilityListener([this](QAccessibleEvent* event) { told.push_back(Describe(event)); });
}

AccessibilityLog::~AccessibilityLog()
{
    AfxSetAccessibilityListener(nullptr);
}

} // namespace testsupport
