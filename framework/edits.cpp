// Edits: the edit messages in byte positions of the program's code page 936
// text, for the single-line edit (a QLineEdit) and the multi-line one (a
// TextEditWidget).
#include <QLineEdit>

#include <algorithm>

#include "framework/qtext.h"
#include "framework/textedit.h"
#include "framework/textmodel.h"
#include "framework/wndimpl.h"

namespace afx {

namespace {

// The edit messages, in byte positions of the program's code page 936 text.
class EditImpl : public WndImpl {
public:
    EditImpl(QWidget* widget, WndImpl* parent, int id, bool multiline)
        : WndImpl(widget, parent, id), m_multiline(multiline) {}

    // Each request is answered out of line, so that the switch, taken by
    // every message the receive area gets, costs a jump and no more.
    LRESULT classProc(UINT msg, WPARAM wParam, LPARAM lParam) override
    {
        switch (msg) {
        case WM_SETTEXT:
            return onSetText(lParam);
        case WM_GETTEXTLENGTH:
            return onGetTextLength();
        case EM_GETLINECOUNT:
            return onGetLineCount();
        case EM_SETSEL:
            return onSetSel(wParam, lParam);
        case EM_GETSEL:
            return onGetSel(wParam, lParam);
        case EM_REPLACESEL:
            return onReplaceSel(lParam);
        case EM_SCROLLCARET:
            return onScrollCaret();
        case EM_LINESCROLL:
            return onLineScroll(lParam);
        default:
            return WndImpl::classProc(msg, wParam, lParam);
        }
    }
    CWnd* makeWrapper() const override { return new CEdit; }

protected:
    virtual size_t byteLength() const = 0;
    virtual std::pair<size_t, size_t> byteSel() const = 0;
    virtual void setByteSel(size_t start, size_t end) = 0;
    virtual void replaceByteSel(std::string_view bytes) = 0;
    virtual int lineCount() const = 0;
    virtual void scrollCaret() = 0;
    virtual void scrollLines(int lines) = 0;

private:
    [[gnu::noinline]] LRESULT onSetText(LPARAM lParam)
    {
        setText(lParam ? reinterpret_cast<const char*>(lParam) : "");
        if (!m_multiline)
            notifyParent(this, EN_CHANGE);  // the platform's single-line edits report it
        return TRUE;
    }
    [[gnu::noinline]] LRESULT onGetTextLength() const { return static_cast<LRESULT>(byteLength()); }
    [[gnu::noinline]] LRESULT onGetLineCount() const { return lineCount(); }
    [[gnu::noinline]] LRESULT onSetSel(WPARAM wParam, LPARAM lParam)
    {
        setSel(static_cast<int>(static_cast<LONG_PTR>(wParam)), static_cast<int>(lParam));
        return 0;
    }
    [[gnu::noinline]] LRESULT onGetSel(WPARAM wParam, LPARAM lParam) const
    {
        const auto [start, end] = byteSel();
        if (wParam)
            *reinterpret_cast<DWORD*>(wParam) = static_cast<DWORD>(start);
        if (lParam)
            *reinterpret_cast<DWORD*>(lParam) = static_cast<DWORD>(end);
        return start > 0xFFFF || end > 0xFFFF ? -1 : static_cast<LRESULT>(start | end << 16);
    }
    [[gnu::noinline]] LRESULT onReplaceSel(LPARAM lParam)
    {
        replaceByteSel(lParam ? reinterpret_cast<const char*>(lParam) : "");
        notifyParent(this, EN_CHANGE);
        return 0;
    }
    [[gnu::noinline]] LRESULT onScrollCaret()
    {
        scrollCaret();
        return TRUE;
    }
    [[gnu::noinline]] LRESULT onLineScroll(LPARAM lParam)
    {
        if (!m_multiline)
            return FALSE;
        scrollLines(static_cast<int>(lParam));
        return TRUE;
    }

    void setSel(int start, int end)
    {
        if (start == -1) {
            const size_t caret = byteSel().second;  // deselects; the caret stays
            setByteSel(caret, caret);
            return;
        }
        const size_t length = byteLength();
        setByteSel(start < 0 ? length : std::min(static_cast<size_t>(start), length),
                   end < 0 ? length : std::min(static_cast<size_t>(end), length));
    }

    bool m_multiline;
};

// A single-line edit keeps the bytes it was given until the user edits it;
// then its shown text is the truth, encoded on the next read.
class LineEditImpl : public EditImpl {
public:
    LineEditImpl(QLineEdit* edit, WndImpl* parent, int id) : EditImpl(edit, parent, id, false), m_edit(edit)
    {
        const HWND self = hwnd();
        QObject::connect(edit, &QLineEdit::textEdited, &m_context, [self] {
            if (auto* wnd = static_cast<LineEditImpl*>(lookup(self))) {
                wnd->m_bytesValid = false;
                notifyParent(wnd, EN_CHANGE);
            }
        });
    }

    std::string text() const override
    {
        if (!m_bytesValid) {
            m_bytes = AfxBytesFromQString(m_edit->text());
            m_bytesValid = true;
        }
        return m_bytes;
    }
    void setText(const std::string& bytes) override
    {
        m_bytes = bytes;
        m_bytesValid = true;
        m_edit->setText(AfxQStringFromBytes(bytes));
    }

protected:
    size_t byteLength() const override { return text().size(); }
    std::pair<size_t, size_t> byteSel() const override
    {
        const TextModel model = positions();
        const int caret = m_edit->cursorPosition();
        const int start = m_edit->hasSelectedText() ? m_edit->selectionStart() : caret;
        const int end = m_edit->hasSelectedText() ? m_edit->selectionEnd() : caret;
        return {model.byteAt(start), model.byteAt(end)};
    }
    void setByteSel(size_t start, size_t end) override
    {
        const TextModel model = positions();
        const int from = model.charAt(start);
        const int to = model.charAt(end);
        if (from == to)
            m_edit->setCursorPosition(to);
        else
            m_edit->setSelection(from, to - from);
    }
    void replaceByteSel(std::string_view bytes) override
    {
        const auto [start, end] = byteSel();
        std::string all = text();
        all.replace(start, end - start, bytes);
        setText(all);
        m_edit->setCursorPosition(positions().charAt(start + bytes.size()));
    }
    int lineCount() const override { return 1; }
    void scrollCaret() override {}  // a line edit keeps its caret in view itself
    void scrollLines(int) override {}

private:
    // Byte and character positions of the (short) text.
    TextModel positions() const
    {
        TextModel model;
        model.setBytes(text());
        return model;
    }

    QLineEdit* m_edit;
    mutable std::string m_bytes;
    mutable bool m_bytesValid = true;
};

// The multi-line edit's widget holds the bytes and answers in byte positions.
class MultiEditImpl : public EditImpl {
public:
    MultiEditImpl(TextEditWidget* edit, WndImpl* parent, int id) : EditImpl(edit, parent, id, true), m_edit(edit)
    {
        const HWND self = hwnd();
        QObject::connect(edit, &TextEditWidget::userEdited, &m_context, [self] {
            if (WndImpl* wnd = lookup(self))
                notifyParent(wnd, EN_CHANGE);
        });
    }

    std::string text() const override { return m_edit->bytes(); }
    void setText(const std::string& bytes) override { m_edit->setBytes(bytes); }

protected:
    size_t byteLength() const override { return m_edit->byteLength(); }
    std::pair<size_t, size_t> byteSel() const override { return m_edit->byteSelection(); }
    void setByteSel(size_t start, size_t end) override { m_edit->setByteSelection(start, end); }
    void replaceByteSel(std::string_view bytes) override { m_edit->replaceByteSelection(bytes); }
    int lineCount() const override { return m_edit->settledLineCount(); }
    void scrollCaret() override { m_edit->scrollToCaret(); }
    void scrollLines(int lines) override { m_edit->scrollLines(lines); }

private:
    TextEditWidget* m_edit;
};

}  // namespace

std::unique_ptr<WndImpl> makeLineEdit(QLineEdit* edit, WndImpl* parent, int id)
{
    return std::make_unique<LineEditImpl>(edit, parent, id);
}

std::unique_ptr<WndImpl> makeMultiLineEdit(TextEditWidget* edit, WndImpl* parent, int id)
{
    return std::make_unique<MultiEditImpl>(edit, parent, id);
}

}  // namespace afx

int CEdit::GetLineCount() const { return static_cast<int>(SendMessage(EM_GETLINECOUNT)); }
void CEdit::SetSel(int nStartChar, int nEndChar, BOOL bNoScroll)
{
    SendMessage(EM_SETSEL, static_cast<WPARAM>(nStartChar), nEndChar);
    if (!bNoScroll)
        SendMessage(EM_SCROLLCARET);
}
void CEdit::GetSel(int& nStartChar, int& nEndChar) const
{
    DWORD start = 0;
    DWORD end = 0;
    SendMessage(EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    nStartChar = static_cast<int>(start);
    nEndChar = static_cast<int>(end);
}
void CEdit::ReplaceSel(LPCSTR text, BOOL bCanUndo)
{
    SendMessage(EM_REPLACESEL, static_cast<WPARAM>(bCanUndo), reinterpret_cast<LPARAM>(text));
}
void CEdit::LineScroll(int nLines, int nChars) { SendMessage(EM_LINESCROLL, static_cast<WPARAM>(nChars), nLines); }
