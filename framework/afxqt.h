// The Qt side of framework windows, for tests that drive the real widgets
// (clicks, keys, geometry) and for code that must reach Qt directly.
#pragma once

#include "framework/afxwin.h"

class QIcon;
class QWidget;

// The widget of a live window, or nullptr.
QWidget* AfxWidgetFromHandle(HWND hWnd);
// The window a widget is, or nullptr when it is none of the framework's.
HWND AfxHandleFromWidget(const QWidget* widget);
// The icon behind an icon handle, or nullptr.
const QIcon* AfxIconFromHandle(HICON hIcon);
