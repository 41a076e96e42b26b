// Texts as the windowed tests compare them: code page 936 bytes, as the
// program keeps them.
#pragma once

#include <QString>

#include <string>

#include "framework/afxwin.h"

namespace testsupport {

// The bytes of a text written here in UTF-8, through the program's own
// conversion point.
std::string Gbk(const QString& text);

// The window text of a control or window.
std::string WindowText(HWND hWnd);

} // namespace testsupport
