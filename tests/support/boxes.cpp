#include "tests/support/boxes.h"

#include "framework/afxtest.h"
#include "framework/afxthread.h"

namespace testsupport {

BoxRecorder::BoxRecorder(std::function<void()> atEachBox) : m_atEachBox(std::move(atEachBox))
{
    AfxSetMessageBoxHook([this](HWND owner, const CString& text, const CString& caption, UINT style) {
        if (m_atEachBox)
            m_atEachBox();
        {
            std::lock_guard lock(m_mutex);
            m_boxes.push_back(Box{owner, text.bytes(), caption.bytes(), style});
        }
        AfxWakeWaiters();
        return IDOK;
    });
}

BoxRecorder::~BoxRecorder()
{
    AfxSetMessageBoxHook(nullptr);
}

std::vector<Box> BoxRecorder::boxes() const
{
    std::lock_guard lock(m_mutex);
    return m_boxes;
}

std::vector<std::string> BoxRecorder::texts() const
{
    std::vector<std::string> texts;
    for (const Box& box : boxes())
        texts.push_back(box.text);
    return texts;
}

void BoxRecorder::clear()
{
    std::lock_guard lock(m_mutex);
    m_boxes.clear();
}

} // namespace testsupport
