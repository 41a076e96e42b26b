// CTavrinApp: the application object. It runs the main dialog modally and
// lets the program end when the dialog ends.
#pragma once

#include "framework/afxwin.h"

class CTavrinApp : public CWinApp {
public:
    CTavrinApp();
    ~CTavrinApp() override;

    // Runs the main dialog and returns FALSE, so that the framework ends the
    // process instead of running a message loop of its own.
    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};

// The program's one application object.
extern CTavrinApp theApp;
