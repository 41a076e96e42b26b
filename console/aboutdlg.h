// CAboutDlg: the about box, opened from the About entry of the main dialog's
// system menu. Everything it shows is in its template, IDD_ABOUT.
#pragma once

#include "framework/afxwin.h"

class CAboutDlg : public CDialog {
public:
    CAboutDlg();
    ~CAboutDlg() override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;

    DECLARE_MESSAGE_MAP()
};
