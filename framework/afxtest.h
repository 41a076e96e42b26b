// Seams for tests: they observe and answer what a user would see, and make
// the system fail where a real part cannot be made to. No Qt here.
#pragma once

#include <functional>

#include "framework/afxwin.h"

// Every message box from now on goes to the hook instead of the screen: it is
// called on the thread that raised the box, and its result is the box's
// result. Thread-safe; nullptr restores real boxes.
typedef std::function<int(HWND owner, const CString& text, const CString& caption, UINT style)>
    AfxMessageBoxHook;
void AfxSetMessageBoxHook(AfxMessageBoxHook hook);

// Asked before each AfxBeginThread; false makes it fail as if the system could
// not create the thread. nullptr removes the hook.
void AfxSetThreadCreationHook(std::function<bool()> allow);

// Told of every DrawIcon (the icon is drawn as well). nullptr removes it.
typedef std::function<void(HDC hDC, int x, int y, HICON hIcon)> AfxDrawIconHook;
void AfxSetDrawIconHook(AfxDrawIconHook hook);

// Chooses the item at nPos of a menu as the user would from its popup (for a
// system menu: WM_SYSCOMMAND with the item's id). FALSE for no such item or a
// separator.
BOOL AfxChooseMenuItem(HMENU hMenu, int nPos);
