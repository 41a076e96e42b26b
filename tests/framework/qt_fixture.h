// Shared by the framework's widget tests: a small resource module with one
// dialog of every control kind, a dialog class that records what reaches its
// handlers, and a way to run test steps inside its modal loop.
#pragma once

#include <QApplication>
#include <QTimer>
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <iconv.h>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "framework/afxqt.h"
#include "framework/afxtest.h"
#include "framework/afxwin.h"

namespace fixture {

// Code page 936 bytes of a UTF-8 text, through glibc's iconv: independent of
// the framework's own conversion.
inline std::string Gbk(std::string_view utf8)
{
    iconv_t cd = iconv_open("GBK", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return "<no iconv>";
    std::string out(utf8.size() * 2 + 4, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    const size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1))
        return "<not GBK>";
    out.resize(out.size() - outLeft);
    return out;
}

enum : int {
    IDD_TEST = 900,
    IDC_GO = 1001,
    IDC_CHECK = 1002,
    IDC_LINE = 1003,
    IDC_MULTI = 1004,
    IDC_LIST = 1005,
    IDC_LABEL = 1006,
    IDC_ICON = 1007,
    IDC_TYPED = 1008,  // multi-line, Enter inserts a line break
    IDI_TEST = 7,
    IDS_TEST = 8,
};

inline const char* const kXpm32[] = {
    "32 32 2 1", ". c None", "# c #00A000",
    "################################", "#..............................#", "#..............................#",
    "#..............................#", "#..............................#", "#..............................#",
    "#..............................#", "#..............................#", "#..............................#",
    "#..............................#", "#..............................#", "#..............................#",
    "#..............................#", "#..............................#", "#..............................#",
    "#..............................#", "#..............................#", "#..............................#",
    "#..............................#", "#..............................#", "#..............................#",
    "#..............................#", "#..............................#", "#..............................#",
    "#..............................#", "#..............................#", "#..............................#",
    "#..............................#", "#..............................#", "#..............................#",
    "#..............................#", "################################",
};

inline const char* const kXpm16[] = {
    "16 16 2 1", ". c None", "# c #00A000",
    "################", "#..............#", "#..............#", "#..............#", "#..............#",
    "#..............#", "#..............#", "#..............#", "#..............#", "#..............#",
    "#..............#", "#..............#", "#..............#", "#..............#", "#..............#",
    "################",
};

inline const std::string& SongFace()
{
    static const std::string face = Gbk("宋体");
    return face;
}

inline const std::string& LabelText()
{
    static const std::string text = Gbk("标签");
    return text;
}

inline const AfxDlgItemTemplate kItems[] = {
    {"BUTTON", IDC_GO, "Go", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON | WS_TABSTOP, 0, 10, 10, 40, 14, 0},
    {"BUTTON", IDC_CHECK, "Check", WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX | WS_TABSTOP, 0, 10, 30, 60, 12, 0},
    {"EDIT", IDC_LINE, "", WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP, 0, 10, 50, 60, 12, 0},
    {"EDIT", IDC_MULTI, "", WS_CHILD | WS_VISIBLE | ES_MULTILINE | WS_VSCROLL, WS_EX_CLIENTEDGE, 80, 10, 110, 60, 0},
    {"COMBOBOX", IDC_LIST, "", WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST | CBS_SORT | WS_TABSTOP, 0, 10, 70, 50, 60, 0},
    {"BUTTON", IDC_STATIC, "Group", WS_CHILD | WS_VISIBLE | BS_GROUPBOX, 0, 4, 2, 72, 90, 0},
    {"STATIC", IDC_LABEL, nullptr, WS_CHILD | WS_VISIBLE | SS_LEFT | WS_GROUP, 0, 80, 80, 40, 10, 0},
    {"STATIC", IDC_ICON, "", WS_CHILD | WS_VISIBLE | SS_ICON, 0, 130, 80, 20, 20, IDI_TEST},
    {"EDIT", IDC_TYPED, "", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_WANTRETURN | WS_BORDER | WS_TABSTOP, 0,
     80, 95, 110, 20, 0},
};

inline const AfxDlgTemplate* Dialogs()
{
    static std::vector<AfxDlgItemTemplate> items(std::begin(kItems), std::end(kItems));
    items[6].text = LabelText().c_str();
    static const AfxDlgTemplate dialogs[] = {
        {IDD_TEST, "Test", WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME, 0, true, 0, 0, 200,
         120, SongFace().c_str(), 9, items.data(), static_cast<int>(items.size())},
    };
    return dialogs;
}

inline void InstallResources()
{
    static const AfxIconResource icons[] = {{IDI_TEST, kXpm32, kXpm16}};
    static const std::string about = Gbk("关于测试...");
    static const AfxStringResource strings[] = {{IDS_TEST, about.c_str()},
                                                {AFX_IDS_SCRESTORE, "Restore"},
                                                {AFX_IDS_SCMINIMIZE, "Minimise"},
                                                {AFX_IDS_SCCLOSE, "Close\tAlt+F4"}};
    static const AfxResourceModule module = {Dialogs(), 1, icons, 1, strings, 4, nullptr, 0};
    AfxSetResources(&module);
}

// Records what reaches its handlers; runs a test body inside its modal loop.
class CTestDlg : public CDialog {
public:
    CTestDlg() : CDialog(IDD_TEST) { InstallResources(); }

    // Runs body once the dialog is up, then ends it with EndDialog(IDCANCEL)
    // unless the body ended it; returns DoModal's result.
    INT_PTR Run(std::function<void(CTestDlg&)> body)
    {
        m_body = std::move(body);
        return DoModal();
    }

    std::vector<std::string> m_log;
    CButton m_btnGo;
    CButton m_chkCheck;
    CEdit m_editLine;
    CEdit m_editMulti;
    CString m_strLine;
    CString m_strMulti;
    BOOL m_bCallDefaultForSysCommand = TRUE;
    BOOL m_bHandleOk = FALSE;  // IDOK ends nothing unless asked to

    void DoDataExchange(CDataExchange* pDX) override
    {
        DDX_Control(pDX, IDC_GO, m_btnGo);
        DDX_Control(pDX, IDC_CHECK, m_chkCheck);
        DDX_Control(pDX, IDC_LINE, m_editLine);
        DDX_Control(pDX, IDC_MULTI, m_editMulti);
        DDX_Text(pDX, IDC_LINE, m_strLine);
        DDX_Text(pDX, IDC_MULTI, m_strMulti);
    }

    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        m_log.push_back("init");
        QTimer::singleShot(0, [this] {
            if (m_body)
                m_body(*this);
            if (m_hWnd && IsWindowVisible())  // not ended by the body
                EndDialog(IDCANCEL);
        });
        return TRUE;
    }

    void OnOK() override
    {
        m_log.push_back("ok");
        if (m_bHandleOk)
            CDialog::OnOK();
    }

    void OnCancel() override
    {
        m_log.push_back("cancel");
        CDialog::OnCancel();
    }

protected:
    afx_msg void OnGo() { m_log.push_back("go"); }
    afx_msg void OnCheck() { m_log.push_back("check:" + std::to_string(m_chkCheck.GetCheck())); }
    afx_msg void OnLineChange() { m_log.push_back("line-change"); }
    afx_msg void OnTypedChange() { m_log.push_back("typed-change"); }
    afx_msg void OnTimer(UINT_PTR nIDEvent)
    {
        m_log.push_back("timer:" + std::to_string(nIDEvent));
        CDialog::OnTimer(nIDEvent);
    }
    afx_msg void OnSysCommand(UINT nID, LPARAM lParam)
    {
        m_log.push_back("syscommand:" + std::to_string(nID));
        if (m_bCallDefaultForSysCommand)
            CDialog::OnSysCommand(nID, lParam);
    }
    afx_msg void OnDestroy()
    {
        m_log.push_back("destroy");
        CDialog::OnDestroy();
    }
    afx_msg LRESULT OnPortByte(WPARAM wParam, LPARAM lParam)
    {
        m_log.push_back("byte:" + std::to_string(wParam) + "," + std::to_string(lParam));
        return static_cast<LRESULT>(wParam) + 1;
    }

    DECLARE_MESSAGE_MAP()

private:
    std::function<void(CTestDlg&)> m_body;
};

inline constexpr UINT WM_TEST_BYTE = WM_USER + 7;

}  // namespace fixture

// The map is defined once, by the test file that defines FIXTURE_MESSAGE_MAP.
#ifdef FIXTURE_MESSAGE_MAP
BEGIN_MESSAGE_MAP(fixture::CTestDlg, CDialog)
    ON_WM_SYSCOMMAND()
    ON_WM_DESTROY()
    ON_BN_CLICKED(IDC_GO, &fixture::CTestDlg::OnGo)
    ON_BN_CLICKED(IDC_CHECK, &fixture::CTestDlg::OnCheck)
    ON_EN_CHANGE(IDC_LINE, &fixture::CTestDlg::OnLineChange)
    ON_EN_CHANGE(IDC_TYPED, &fixture::CTestDlg::OnTypedChange)
    ON_WM_TIMER()
    ON_MESSAGE(fixture::WM_TEST_BYTE, &fixture::CTestDlg::OnPortByte)
END_MESSAGE_MAP()
#endif
