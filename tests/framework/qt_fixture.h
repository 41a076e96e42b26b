// Shared by the framework's dialog tests, with the headers they all use: a
// small resource module with one dialog of every control kind, and a dialog
// that records what reaches its handlers and runs test steps inside its modal
// loop as the other windowed suites do.
#pragma once

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "framework/afxqt.h"
#include "framework/afxwin.h"
#include "tests/support/dialog.h"
#include "tests/support/wait.h"

namespace fixture {

// IDC_TYPED is a multi-line edit where Enter inserts a line break; the
// icon IDI_TEST is not among the resources.
enum : int {
    IDD_TEST = 900, IDI_TEST = 7,
    IDC_GO = 1001, IDC_CHECK, IDC_LINE, IDC_MULTI, IDC_LIST, IDC_LABEL, IDC_ICON, IDC_TYPED
};
inline constexpr UINT WM_TEST_BYTE = WM_USER + 7;

inline const std::string kLabel = Gbk("标签");
inline const std::string kSong = Gbk("宋体");

inline void InstallResources()
{
    static const AfxDlgItemTemplate items[] = {
        {"BUTTON", IDC_GO, "Go", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON | WS_TABSTOP, 0, 10, 10, 40, 14, 0},
        {"BUTTON", IDC_CHECK, "Check", WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX | WS_TABSTOP, 0, 10, 30, 60, 12, 0},
        {"EDIT", IDC_LINE, "", WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP, 0, 10, 50, 60, 12, 0},
        {"EDIT", IDC_MULTI, "", WS_CHILD | WS_VISIBLE | ES_MULTILINE | WS_VSCROLL, WS_EX_CLIENTEDGE, 80, 10, 110, 60,
         0},
        {"COMBOBOX", IDC_LIST, "", WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST | CBS_SORT | WS_TABSTOP, 0, 10, 70, 50, 60, 0},
        {"BUTTON", IDC_STATIC, "Group", WS_CHILD | WS_VISIBLE | BS_GROUPBOX, 0, 4, 2, 72, 90, 0},
        {"STATIC", IDC_LABEL, kLabel.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT | WS_GROUP, 0, 80, 80, 40, 10, 0},
        {"STATIC", IDC_ICON, "", WS_CHILD | WS_VISIBLE | SS_ICON, 0, 130, 80, 20, 20, IDI_TEST},
        {"EDIT", IDC_TYPED, "", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_WANTRETURN | WS_BORDER | WS_TABSTOP, 0,
         80, 95, 110, 20, 0},
    };
    static const AfxDlgTemplate dialogs[] = {
        {IDD_TEST, "Test", WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME, 0, true, 0, 0, 200,
         120, kSong.c_str(), 9, items, static_cast<int>(std::size(items))},
    };
    static const AfxStringResource strings[] = {
        {AFX_IDS_SCRESTORE, "Restore"}, {AFX_IDS_SCMINIMIZE, "Minimise"}, {AFX_IDS_SCCLOSE, "Close\tAlt+F4"}};
    static const AfxResourceModule module = {dialogs, 1, nullptr, 0, strings, 3, nullptr, 0};
    AfxSetResources(&module);
}

// Records what reaches its handlers; runs a test body inside its modal loop.
class CTestDlg : public CDialog {
public:
    CTestDlg() : CDialog(IDD_TEST) { InstallResources(); }

    // Runs body once the dialog is up, then ends it unless the body ended it;
    // returns DoModal's result.
    INT_PTR Run(const std::function<void(CTestDlg&)>& body)
    {
        return testsupport::RunDialog(*this, [&](testsupport::Ui&) { body(*this); });
    }

    HWND Item(int id) const { return ::GetDlgItem(m_hWnd, id); }
    QWidget* Widget(int id) const { return AfxWidgetFromHandle(Item(id)); }

    std::vector<std::string> m_log;
    std::map<LPARAM, std::vector<WPARAM>> m_bytes;  // the WM_TEST_BYTE wParams by lParam
    // Runs inside each WM_TEST_BYTE handler.
    std::function<void(CTestDlg&, WPARAM)> m_inHandler;
    CString m_strMulti;
    BOOL m_bCallDefaultForSysCommand = TRUE;

    void DoDataExchange(CDataExchange* pDX) override { DDX_Text(pDX, IDC_MULTI, m_strMulti); }

    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        m_log.push_back("init");
        return TRUE;
    }

    void OnOK() override { m_log.push_back("ok"); }  // ends nothing
    void OnCancel() override
    {
        m_log.push_back("cancel");
        CDialog::OnCancel();
    }

protected:
    afx_msg void OnGo() { m_log.push_back("go"); }
    afx_msg void OnTypedChange() { m_log.push_back("typed-change"); }
    afx_msg void OnTimer(UINT_PTR nIDEvent) { m_log.push_back("timer:" + std::to_string(nIDEvent)); }
    afx_msg void OnSysCommand(UINT nID, LPARAM lParam)
    {
        m_log.push_back("syscommand:" + std::to_string(nID));
        if (m_bCallDefaultForSysCommand)
            CDialog::OnSysCommand(nID, lParam);
    }
    afx_msg LRESULT OnTestByte(WPARAM wParam, LPARAM lParam)
    {
        m_log.push_back("byte:" + std::to_string(wParam) + "," + std::to_string(lParam));
        m_bytes[lParam].push_back(wParam);
        if (m_inHandler)
            m_inHandler(*this, wParam);
        return static_cast<LRESULT>(wParam) + 1;
    }

    DECLARE_MESSAGE_MAP()
};

}  // namespace fixture

// The map is defined once, by the test file that defines FIXTURE_MESSAGE_MAP.
#ifdef FIXTURE_MESSAGE_MAP
BEGIN_MESSAGE_MAP(fixture::CTestDlg, CDialog)
    ON_WM_SYSCOMMAND()
    ON_BN_CLICKED(IDC_GO, &fixture::CTestDlg::OnGo)
    ON_EN_CHANGE(IDC_TYPED, &fixture::CTestDlg::OnTypedChange)
    ON_WM_TIMER()
    ON_MESSAGE(fixture::WM_TEST_BYTE, &fixture::CTestDlg::OnTestByte)
END_MESSAGE_MAP()
#endif
