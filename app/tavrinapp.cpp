#include "app/tavrinapp.h"

#include "console/tavrindlg.h"

BEGIN_MESSAGE_MAP(CTavrinApp, CWinApp)
    ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

CTavrinApp::CTavrinApp() = default;

CTavrinApp::~CTavrinApp() = default;

BOOL CTavrinApp::InitInstance()
{
    AfxEnableControlContainer();
    Enable3dControlsStatic();

    CTavrinDlg dlg;
    m_pMainWnd = &dlg;
    // Both ways of ending the dialog lead to the same shutdown.
    dlg.DoModal();
    // The dialog dies with this frame; nothing may reach it through the
    // application afterwards.
    m_pMainWnd = nullptr;
    return FALSE;
}
