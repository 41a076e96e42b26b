#include "framework/resources.h"

#include "framework/cstring.h"

namespace {
const AfxResourceModule* g_module = nullptr;

template <typename T>
const T* findById(const T* table, int count, UINT id)
{
    for (int i = 0; table && i < count; ++i)
        if (table[i].id == id)
            return &table[i];
    return nullptr;
}
}  // namespace

void AfxSetResources(const AfxResourceModule* module) { g_module = module; }
const AfxResourceModule* AfxGetResources() { return g_module; }

const AfxDlgTemplate* AfxFindDialogResource(UINT id)
{
    return g_module ? findById(g_module->dialogs, g_module->dialogCount, id) : nullptr;
}

const AfxIconResource* AfxFindIconResource(UINT id)
{
    return g_module ? findById(g_module->icons, g_module->iconCount, id) : nullptr;
}

const AfxMenuResource* AfxFindMenuResource(UINT id)
{
    return g_module ? findById(g_module->menus, g_module->menuCount, id) : nullptr;
}

const char* AfxFindStringResource(UINT id)
{
    const AfxStringResource* s = g_module ? findById(g_module->strings, g_module->stringCount, id) : nullptr;
    return s ? s->text : nullptr;
}
