// A benchmark's answer to every message box the program raises: OK at once,
// with the text on standard error, so that a run never waits for a click.
// Counted, so that the figures can say a box came between them.
#pragma once

#include <atomic>
#include <cstdio>

#include "framework/afxtest.h"

namespace benchsupport {

class BoxAnswerer {
public:
    BoxAnswerer()
    {
        AfxSetMessageBoxHook([this](HWND, const CString& text, const CString&, UINT) {
            std::fprintf(stderr, "message box: %s\n", text.GetString());
            ++m_boxes;
            return IDOK;
        });
    }
    ~BoxAnswerer()
    {
        AfxSetMessageBoxHook(nullptr);
        if (m_boxes > 0)
            std::printf("%d message boxes were raised (see above)\n", m_boxes.load());
    }
    BoxAnswerer(const BoxAnswerer&) = delete;
    BoxAnswerer& operator=(const BoxAnswerer&) = delete;

private:
    std::atomic<int> m_boxes{0};
};

} // namespace benchsupport
