// CHelpDlg: the help dialog, opened by the main dialog's help button.
// Everything it shows is in its template, IDD_HELP; its close button is
// IDCANCEL.
#pragma once

#include "framework/afxwin.h"

class CHelpDlg : public CDialog {
public:
    explicit CHelpDlg(CWnd* pParent = nullptr);
    ~CHelpDlg() override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;

    DECLARE_MESSAGE_MAP()
};
