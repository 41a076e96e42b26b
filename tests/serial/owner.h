// An owner window for the engine: the framework suite's test dialog, also
// recording every WM_PORT_* message it gets, with a way to run test steps
// inside its modal loop and to wait for the monitor thread while serving its
// messages.
#pragma once

#include <atomic>

#include "framework/afxtest.h"
#include "serial/commport.h"
#include "tests/framework/qt_fixture.h"
#include "tests/support/boxes.h"

namespace owner {

struct Message {
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};

using testsupport::Box;
using testsupport::ServeUntil;

// Records message boxes as the other windowed suites do, and notes whether
// the watched port's lock was held while a box was up: tried from another
// thread, since the lock's holder may take it again.
class BoxRecorder : public testsupport::BoxRecorder {
public:
    BoxRecorder() : testsupport::BoxRecorder([this] { NoteLock(); }) {}
    void Watch(CCommPort* port) { m_port = port; }
    bool heldAtABox() const { return m_heldAtABox; }

private:
    void NoteLock();
    std::atomic<CCommPort*> m_port{nullptr};
    std::atomic<bool> m_heldAtABox{false};
};

// Its handlers come before the test dialog's (whose test byte has the
// number of WM_PORT_RXCHAR).
class COwnerDlg : public fixture::CTestDlg {
public:
    // Runs body once the dialog is up, then ends the dialog.
    void Run(const std::function<void(COwnerDlg&)>& body)
    {
        CTestDlg::Run([&](CTestDlg&) { body(*this); });
    }

    // Received bytes, in order, and everything in arrival order.
    std::string Bytes() const;
    std::vector<Message> m_messages;
    // Runs inside each handler, on this thread, while the monitor thread
    // waits for the handler to return.
    std::function<void(const Message&)> m_onMessage;

protected:
    afx_msg LRESULT OnRxChar(WPARAM wParam, LPARAM lParam) { return Record(WM_PORT_RXCHAR, wParam, lParam); }
    afx_msg LRESULT OnRxFlag(WPARAM wParam, LPARAM lParam) { return Record(WM_PORT_RXFLAG, wParam, lParam); }
    afx_msg LRESULT OnErr(WPARAM wParam, LPARAM lParam) { return Record(WM_PORT_ERR, wParam, lParam); }

    DECLARE_MESSAGE_MAP()

private:
    LRESULT Record(UINT msg, WPARAM wParam, LPARAM lParam);
};

// What ReportError shows for an operation and an error code.
std::string ReportText(const char* operation, DWORD error, int port);

} // namespace owner
