// Driving a dialog as a user would, for the windowed suites and the receive
// benchmark: a modal run with the caller's body inside its loop, and the
// controls reached by id and used through their widgets. GUI thread only.
#pragma once

#include <functional>
#include <string>

#include "framework/afxqt.h"
#include "framework/afxwin.h"
#include "tests/support/gbk.h"

namespace testsupport {

// The window text of a control or window, as code page 936 bytes.
std::string WindowText(HWND hWnd);

// DoModal's result when the body left the dialog open and the run ended it.
inline constexpr INT_PTR kLeftOpen = 0x7E57;

// The controls of a live dialog.
class Ui {
public:
    explicit Ui(HWND hDlg) : m_hDlg(hDlg) {}
    HWND dialog() const { return m_hDlg; }
    HWND item(int id) const { return ::GetDlgItem(m_hDlg, id); }
    QWidget* widget(int id) const { return AfxWidgetFromHandle(item(id)); }

    std::string text(int id) const { return WindowText(item(id)); }  // code page 936 bytes
    void setText(int id, const std::string& bytes) { ::SetWindowTextA(item(id), bytes.c_str()); }
    // A left click where a user clicks: a push button in its middle, a check
    // box on its box. Clicking what is no enabled button is a failure.
    void click(int id);
    bool checked(int id) const { return ::SendMessageA(item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    // Selects an item of a drop-down list.
    void select(int id, int index);
    std::string status(int part) const;  // the status bar is the child with id 0
    // What an icon control shows.
    HICON icon(int id) const { return reinterpret_cast<HICON>(::SendMessageA(item(id), STM_GETICON, 0, 0)); }
    // The lines of a multi-line edit.
    int lineCount(int id) const { return static_cast<int>(::SendMessageA(item(id), EM_GETLINECOUNT, 0, 0)); }

private:
    HWND m_hDlg;
};

// Runs the dialog modally; `body` runs inside its modal loop once the window
// is shown, and the dialog is ended with kLeftOpen if the body left it open.
// A dialog that never comes up is a failure. Returns DoModal's result.
INT_PTR RunDialog(CDialog& dlg, const std::function<void(Ui&)>& body);

} // namespace testsupport
