// What the main-dialog and application tests share: the program's resources
// installed, message boxes recorded instead of shown, a modal run with the body
// of a test inside its loop, and the dialogs a command opens found and closed
// as a user would close them.
#pragma once

#include <gtest/gtest.h>

#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/afxtest.h"
#include "framework/afxwin.h"
#include "tests/support/boxes.h"
#include "tests/support/text.h"
#include "tests/support/wait.h"

namespace apptest {

using testsupport::Box;
using testsupport::BoxRecorder;
using testsupport::Gbk;
using testsupport::WaitUntil;
using testsupport::WindowText;

// What RunDialog's result is when the body left the dialog open.
inline constexpr int kLeftOpen = 0x7E57;

// Runs a dialog modally; `body` runs inside the modal loop once the window
// exists. The dialog is ended with kLeftOpen afterwards if the body left it
// open, and by a watchdog if the run hangs. Returns DoModal's result.
INT_PTR RunDialog(CDialog& dlg, const std::function<void()>& body);

// While it lives, watches for a framework dialog other than `main` to appear,
// records its caption and closes it with the given command (IDOK, IDCANCEL),
// sent as a WM_COMMAND, as its buttons do.
class DialogCloser {
public:
    DialogCloser(HWND main, int nCommand);
    ~DialogCloser();
    const std::vector<std::string>& captions() const { return m_captions; }

private:
    struct Impl;
    Impl* m_impl;
    std::vector<std::string> m_captions;
};

// The window text of a dialog's control, as code page 936 bytes.
std::string ItemText(HWND hDlg, int id);

// Base of the tests: the program's resources and the box recorder.
class DialogTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::unique_ptr<BoxRecorder> m_boxes;
};

}  // namespace apptest
