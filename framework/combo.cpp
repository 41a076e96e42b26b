// Drop-down lists: the items' code page 936 bytes kept as given, in the
// positions they were inserted at.
#include <QComboBox>

#include "framework/qtext.h"
#include "framework/wndimpl.h"

namespace afx {

namespace {

class ComboImpl : public WndImpl {
public:
    ComboImpl(QComboBox* combo, WndImpl* parent, int id) : WndImpl(combo, parent, id), m_combo(combo) {}

    LRESULT classProc(UINT msg, WPARAM wParam, LPARAM lParam) override
    {
        const int count = static_cast<int>(m_items.size());
        const int index = static_cast<int>(wParam);
        switch (msg) {
        case CB_GETCOUNT:
            return count;
        case CB_GETCURSEL:
            return m_combo->currentIndex() >= 0 ? m_combo->currentIndex() : CB_ERR;
        case CB_SETCURSEL:
            if (index < 0 || index >= count) {
                m_combo->setCurrentIndex(-1);
                return CB_ERR;
            }
            m_combo->setCurrentIndex(index);
            return index;
        case CB_INSERTSTRING: {
            const int at = index == -1 ? count : index;
            if (at < 0 || at > count)
                return CB_ERR;
            const std::string bytes = lParam ? reinterpret_cast<const char*>(lParam) : "";
            m_items.insert(m_items.begin() + at, bytes);
            m_combo->insertItem(at, AfxQStringFromBytes(bytes));
            // The toolkit selects the first item of an empty list; the
            // platform's list stays without a selection until told.
            if (count == 0)
                m_combo->setCurrentIndex(-1);
            return at;
        }
        case CB_GETLBTEXTLEN:
            return index >= 0 && index < count ? static_cast<LRESULT>(m_items[static_cast<size_t>(index)].size())
                                               : CB_ERR;
        case CB_GETLBTEXT:
            if (index < 0 || index >= count || !lParam)
                return CB_ERR;
            return copyText(m_items[static_cast<size_t>(index)], lParam);
        default:
            return WndImpl::classProc(msg, wParam, lParam);
        }
    }
    CWnd* makeWrapper() const override { return new CComboBox; }

    std::string text() const override
    {
        const int i = m_combo->currentIndex();
        return i >= 0 && i < static_cast<int>(m_items.size()) ? m_items[static_cast<size_t>(i)] : std::string();
    }
    void setText(const std::string&) override {}  // a drop-down list has no text of its own

private:
    QComboBox* m_combo;
    std::vector<std::string> m_items;
};

}  // namespace

std::unique_ptr<WndImpl> makeComboBox(QComboBox* combo, WndImpl* parent, int id)
{
    return std::make_unique<ComboImpl>(combo, parent, id);
}

}  // namespace afx

int CComboBox::GetCount() const { return static_cast<int>(SendMessage(CB_GETCOUNT)); }
int CComboBox::GetCurSel() const { return static_cast<int>(SendMessage(CB_GETCURSEL)); }
int CComboBox::SetCurSel(int nSelect) { return static_cast<int>(SendMessage(CB_SETCURSEL, static_cast<WPARAM>(nSelect))); }
int CComboBox::InsertString(int nIndex, LPCSTR text)
{
    return static_cast<int>(SendMessage(CB_INSERTSTRING, static_cast<WPARAM>(nIndex), reinterpret_cast<LPARAM>(text)));
}
int CComboBox::GetLBTextLen(int nIndex) const { return static_cast<int>(SendMessage(CB_GETLBTEXTLEN, static_cast<WPARAM>(nIndex))); }
int CComboBox::GetLBText(int nIndex, LPSTR buffer) const
{
    return static_cast<int>(SendMessage(CB_GETLBTEXT, static_cast<WPARAM>(nIndex), reinterpret_cast<LPARAM>(buffer)));
}
void CComboBox::GetLBText(int nIndex, CString& text) const
{
    const int length = GetLBTextLen(nIndex);
    if (length == CB_ERR) {
        text.Empty();
        return;
    }
    std::string bytes(static_cast<size_t>(length) + 1, '\0');
    const int n = GetLBText(nIndex, bytes.data());
    bytes.resize(static_cast<size_t>(std::max(n, 0)));
    text = CString(std::move(bytes));
}
