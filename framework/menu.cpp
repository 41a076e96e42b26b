// The window's system menu: the standard entries, the program's own, and the
// popup that sends the chosen entry as WM_SYSCOMMAND.
#include <QAction>
#include <QMenu>

#include <algorithm>
#include <unordered_map>

#include "framework/afxtest.h"
#include "framework/qtext.h"
#include "framework/wndimpl.h"

namespace afx {

struct MenuImpl {
    struct Item {
        bool separator;
        UINT_PTR id;
        std::string text;  // code page 936 bytes
    };
    HWND owner = nullptr;
    CMenu wrapper;
    std::vector<Item> items;
};

namespace {

std::unordered_map<std::uintptr_t, MenuImpl*> g_menus;  // GUI thread only
std::uintptr_t g_lastMenu = 0x2000;

MenuImpl* menuOf(HMENU hMenu)
{
    if (!hMenu || !isGuiThread())
        return nullptr;
    auto it = g_menus.find(reinterpret_cast<std::uintptr_t>(hMenu));
    return it == g_menus.end() ? nullptr : it->second;
}

// A standard entry, in the words of the program's string table.
void addStandardItem(MenuImpl* menu, UINT_PTR command)
{
    const UINT id = AFX_IDS_SCFIRST + static_cast<UINT>((command & 0x0FFF) >> 4);
    const char* text = AfxFindStringResource(id);
    if (!text)
        qWarning("system menu: the program has no string %#x for command %#x", id, static_cast<unsigned>(command));
    menu->items.push_back({false, command, text ? text : ""});
}

}  // namespace

MenuImpl* createSystemMenu(WndImpl* wnd)
{
    auto* menu = new MenuImpl;
    menu->owner = wnd->hwnd();
    const std::uintptr_t handle = ++g_lastMenu;
    menu->wrapper.m_hMenu = reinterpret_cast<HMENU>(handle);
    g_menus.emplace(handle, menu);
    addStandardItem(menu, SC_RESTORE);
    addStandardItem(menu, SC_MINIMIZE);
    menu->items.push_back({true, 0, {}});
    addStandardItem(menu, SC_CLOSE);
    return menu;
}

void destroyMenu(MenuImpl* menu)
{
    g_menus.erase(reinterpret_cast<std::uintptr_t>(menu->wrapper.m_hMenu));
    menu->wrapper.m_hMenu = nullptr;
    delete menu;
}

void popupSystemMenu(WndImpl* wnd, const QPoint& globalPos)
{
    MenuImpl* menu = wnd->m_sysMenu;
    if (!menu)
        return;
    QWidget* widget = wnd->widget();
    const bool minimised = widget->isMinimized();
    QMenu popup(widget);
    for (const MenuImpl::Item& item : menu->items) {
        if (item.separator) {
            popup.addSeparator();
            continue;
        }
        QAction* action = popup.addAction(AfxQStringFromBytes(item.text));
        action->setData(QVariant::fromValue<qulonglong>(item.id));
        if ((item.id == SC_RESTORE && !minimised) || (item.id == SC_MINIMIZE && minimised))
            action->setEnabled(false);
    }
    const HWND hwnd = wnd->hwnd();
    QAction* chosen = popup.exec(globalPos);
    if (!chosen)
        return;
    if (WndImpl* target = lookup(hwnd))
        dispatch(target, WM_SYSCOMMAND, static_cast<WPARAM>(chosen->data().toULongLong()), 0);
}

}  // namespace afx

using namespace afx;

HMENU GetSystemMenu(HWND hWnd, BOOL)
{
    WndImpl* wnd = lookup(hWnd);
    return wnd && wnd->m_sysMenu ? wnd->m_sysMenu->wrapper.m_hMenu : nullptr;
}

BOOL AppendMenuA(HMENU hMenu, UINT flags, UINT_PTR idNewItem, LPCSTR text)
{
    MenuImpl* menu = menuOf(hMenu);
    if (!menu)
        return FALSE;
    if (flags == MF_SEPARATOR) {
        menu->items.push_back({true, 0, {}});
        return TRUE;
    }
    if (flags != MF_STRING || !text)
        return FALSE;  // sub-menus, bitmaps and item states are not provided
    menu->items.push_back({false, idNewItem, text});
    return TRUE;
}

int GetMenuItemCount(HMENU hMenu)
{
    MenuImpl* menu = menuOf(hMenu);
    return menu ? static_cast<int>(menu->items.size()) : -1;
}

UINT GetMenuItemID(HMENU hMenu, int pos)
{
    MenuImpl* menu = menuOf(hMenu);
    if (!menu || pos < 0 || pos >= static_cast<int>(menu->items.size()) || menu->items[static_cast<size_t>(pos)].separator)
        return static_cast<UINT>(-1);
    return static_cast<UINT>(menu->items[static_cast<size_t>(pos)].id);
}

int GetMenuStringA(HMENU hMenu, UINT item, LPSTR buffer, int maxCount, UINT flags)
{
    MenuImpl* menu = menuOf(hMenu);
    if (!menu)
        return 0;
    const MenuImpl::Item* found = nullptr;
    if (flags & MF_BYPOSITION) {
        if (item < menu->items.size())
            found = &menu->items[item];
    } else {
        for (const auto& i : menu->items)
            if (!i.separator && i.id == item) {
                found = &i;
                break;
            }
    }
    if (!found)
        return 0;
    const int n = buffer && maxCount > 0 ? std::min(static_cast<int>(found->text.size()), maxCount - 1)
                                         : static_cast<int>(found->text.size());
    if (buffer && maxCount > 0) {
        std::copy_n(found->text.data(), n, buffer);
        buffer[n] = '\0';
    }
    return n;
}

CMenu* CMenu::FromHandle(HMENU hMenu)
{
    MenuImpl* menu = menuOf(hMenu);
    return menu ? &menu->wrapper : nullptr;
}

BOOL CMenu::AppendMenu(UINT nFlags, UINT_PTR nIDNewItem, LPCSTR text) { return ::AppendMenuA(m_hMenu, nFlags, nIDNewItem, text); }
UINT CMenu::GetMenuItemCount() const { return static_cast<UINT>(::GetMenuItemCount(m_hMenu)); }
UINT CMenu::GetMenuItemID(int nPos) const { return ::GetMenuItemID(m_hMenu, nPos); }

int CMenu::GetMenuString(UINT nIDItem, CString& text, UINT nFlags) const
{
    const int length = ::GetMenuStringA(m_hMenu, nIDItem, nullptr, 0, nFlags);
    std::string bytes(static_cast<size_t>(length) + 1, '\0');
    const int n = ::GetMenuStringA(m_hMenu, nIDItem, bytes.data(), length + 1, nFlags);
    bytes.resize(static_cast<size_t>(n));
    text = CString(std::move(bytes));
    return n;
}

BOOL AfxChooseMenuItem(HMENU hMenu, int nPos)
{
    MenuImpl* menu = menuOf(hMenu);
    const UINT id = ::GetMenuItemID(hMenu, nPos);
    WndImpl* owner = menu ? lookup(menu->owner) : nullptr;
    if (!owner || id == static_cast<UINT>(-1))
        return FALSE;
    dispatch(owner, WM_SYSCOMMAND, id, 0);
    return TRUE;
}
