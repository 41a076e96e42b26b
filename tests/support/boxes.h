// Message boxes recorded instead of shown, for the windowed tests.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "framework/afxwin.h"

namespace testsupport {

// One message box the program raised, as the hook saw it.
struct Box {
    HWND owner;
    std::string text;
    std::string caption;
    UINT style;
};

// From construction on, records every message box and answers it at once with
// IDOK, so no box blocks; the boxes may come from any thread. Each box also
// wakes AfxWaitServingMessages, since a test may be waiting for it there.
// `atEachBox` runs on the box's thread before the box is recorded.
class BoxRecorder {
public:
    explicit BoxRecorder(std::function<void()> atEachBox = {});
    ~BoxRecorder();
    BoxRecorder(const BoxRecorder&) = delete;
    BoxRecorder& operator=(const BoxRecorder&) = delete;

    std::vector<Box> boxes() const;
    std::vector<std::string> texts() const;
    void clear();

private:
    mutable std::mutex m_mutex;
    std::vector<Box> m_boxes;
    std::function<void()> m_atEachBox;
};

} // namespace testsupport
