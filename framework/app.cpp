// The application object and the program's start.
#include <QApplication>
#include <QFileInfo>

#include "framework/handoff.h"
#include "framework/qtext.h"
#include "framework/wndimpl.h"

namespace {
CWinApp* g_app = nullptr;
}

void afx::ensureGuiInitialised()
{
    static bool done = false;
    if (done || !isGuiThread())
        return;
    done = true;
    startHandoff();
    startServingWait();
}

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
    ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

CWinApp::CWinApp(LPCSTR lpszAppName)
{
    g_app = this;
    if (lpszAppName) {
        m_strAppName = lpszAppName;
        m_pszAppName = m_strAppName;
    }
}

CWinApp::~CWinApp()
{
    if (g_app == this)
        g_app = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }
int CWinApp::ExitInstance() { return 0; }

int CWinApp::Run()
{
    const int code = QApplication::exec();
    const int exitCode = ExitInstance();
    return code != 0 ? code : exitCode;
}

HICON CWinApp::LoadIcon(UINT nIDResource) const { return afx::loadIcon(nIDResource); }

HICON CWinApp::LoadIcon(LPCSTR lpszResourceName) const
{
    return IS_INTRESOURCE(lpszResourceName)
               ? afx::loadIcon(static_cast<UINT>(reinterpret_cast<ULONG_PTR>(lpszResourceName)))
               : nullptr;
}

void CWinApp::OnHelp() {}

CWinApp* AfxGetApp() { return g_app; }

CWnd* AfxGetMainWnd() { return g_app ? g_app->m_pMainWnd : nullptr; }

int AfxWinMain(int argc, char** argv, const AfxResourceModule* resources)
{
    QApplication app(argc, argv);
    AfxSetResources(resources);
    afx::ensureGuiInitialised();
    CWinApp* theApp = AfxGetApp();
    if (!theApp) {
        qCritical("The program has no application object");
        return 1;
    }
    if (!theApp->m_pszAppName) {
        theApp->m_strAppName = AfxCString(QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
        theApp->m_pszAppName = theApp->m_strAppName;
    }
    theApp->m_hInstance = AfxGetInstanceHandle();
    theApp->m_nThreadID = AfxGetCurrentThreadId();
    if (!theApp->InitInstance()) {
        // A dialog program has run its dialog inside InitInstance: no loop.
        if (theApp->m_pMainWnd)
            theApp->m_pMainWnd->DestroyWindow();
        return theApp->ExitInstance();
    }
    return theApp->Run();
}
