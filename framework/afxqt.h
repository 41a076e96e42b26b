// The Qt side of framework windows, for tests that drive the real widgets
// (clicks, keys, geometry) and for code that must reach Qt directly.
#pragma once

#include <functional>

#include "framework/afxwin.h"

class QAccessibleEvent;
class QIcon;
class QWidget;

// The widget of a live window, or nullptr.
QWidget* AfxWidgetFromHandle(HWND hWnd);
// The window a widget is, or nullptr when it is none of the framework's.
HWND AfxHandleFromWidget(const QWidget* widget);
// The icon behind an icon handle, or nullptr.
const QIcon* AfxIconFromHandle(HICON hIcon);

// Every accessibility event the framework's own controls send (text, caret
// and selection of the multi-line edit, texts of the status bar's parts) goes
// to the listener too, and is sent while one listens even when no assistive
// tool is active (the offscreen platform has none). nullptr removes it. GUI
// thread only.
void AfxSetAccessibilityListener(std::function<void(QAccessibleEvent*)> listener);
