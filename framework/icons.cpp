// Icons from the program's resources, each built once and shared.
#include <QIcon>
#include <QPixmap>

#include <map>
#include <memory>

#include "framework/afxqt.h"
#include "framework/wndimpl.h"

namespace afx {

namespace {
struct IconEntry {
    UINT id;
    QIcon icon;
};
std::map<UINT, std::unique_ptr<IconEntry>> g_icons;  // GUI thread only
char g_module;  // the program's one resource module
}  // namespace

HICON loadIcon(UINT id)
{
    if (!isGuiThread())
        return nullptr;
    if (auto it = g_icons.find(id); it != g_icons.end())
        return reinterpret_cast<HICON>(it->second.get());
    const AfxIconResource* res = AfxFindIconResource(id);
    if (!res)
        return nullptr;
    auto entry = std::make_unique<IconEntry>();
    entry->id = id;
    for (const char* const* xpm : {res->xpm32, res->xpm16}) {
        if (!xpm)
            continue;
        const QPixmap pixmap(xpm);
        if (pixmap.isNull()) {
            qWarning("icon %u: an image of it is not valid XPM", id);
            return nullptr;
        }
        entry->icon.addPixmap(pixmap);
    }
    if (entry->icon.isNull())
        return nullptr;
    HICON handle = reinterpret_cast<HICON>(entry.get());
    g_icons.emplace(id, std::move(entry));
    return handle;
}

}  // namespace afx

using namespace afx;

const QIcon* AfxIconFromHandle(HICON hIcon)
{
    if (!hIcon || !isGuiThread())
        return nullptr;
    for (const auto& [id, entry] : g_icons)
        if (reinterpret_cast<HICON>(entry.get()) == hIcon)
            return &entry->icon;
    return nullptr;
}

HINSTANCE AfxGetInstanceHandle() { return reinterpret_cast<HINSTANCE>(&g_module); }
HINSTANCE AfxGetResourceHandle() { return AfxGetInstanceHandle(); }

HICON LoadIconA(HINSTANCE hInstance, LPCSTR name)
{
    // Only the program's own icons, by number; the system's stock icons are
    // not provided.
    if (hInstance != AfxGetInstanceHandle() || !IS_INTRESOURCE(name))
        return nullptr;
    return loadIcon(static_cast<UINT>(reinterpret_cast<ULONG_PTR>(name)));
}
