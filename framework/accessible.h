// Assistive tools (screen readers, UI automation; AT-SPI on Linux) read the
// framework's own widgets through Qt's accessibility interfaces: the
// multi-line edit's text, caret and selection here, the status bar's parts in
// statusbar.cpp. Qt's own widgets (buttons, lists, line edits, labels) bring
// theirs.
//
// Changes are told only while someone listens (QAccessible::isActive(), or a
// test's listener), so that a control changing with every received byte
// costs nothing more otherwise; and they are told at the control's next
// frame, gathered, not once per byte. User-interface thread only.
#pragma once

#include <QString>

#include <vector>

class QAccessibleEvent;
class QObject;

// Whether anyone hears accessibility events.
bool AfxAccessibilityActive();
// Tells the event to the assistive tools and to a test's listener.
void AfxNotifyAccessibility(QAccessibleEvent* event);

// Makes TextEditWidget readable (once per process; every edit calls it).
void AfxInstallTextEditAccessibility();

// The changes of an edit's text not told yet, and the caret and selection
// last told. The edit records each change as it is made (the characters it
// removes are gone afterwards) and tells everything at its next frame.
// Characters appended one after another, as received bytes are, make one
// insertion.
class AccessibleTextChanges {
public:
    void replaced(int from, const QString& removed, const QString& inserted);
    // Tells the changes, then the selection and the caret if they moved; when
    // nobody listens, forgets them.
    void tell(QObject* edit, int caret, int selectionStart, int selectionEnd);

private:
    struct Change {
        int from;
        QString removed;
        QString inserted;
    };
    std::vector<Change> m_changes;
    int m_caret = -1;
    int m_selectionStart = -1;
    int m_selectionEnd = -1;
};
