#include "tests/support/text.h"

#include "framework/qtext.h"

namespace testsupport {

std::string Gbk(const QString& text)
{
    return AfxBytesFromQString(text);
}

std::string WindowText(HWND hWnd)
{
    const int length = GetWindowTextLengthA(hWnd);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    const int copied = GetWindowTextA(hWnd, text.data(), length + 1);
    text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
    return text;
}

} // namespace testsupport
