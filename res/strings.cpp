// The string table and the menus, and the module that gathers every table.
// Compiled with a code page 936 execution character set, as dialogs.cpp is.
#include <iterator>

#include "res/resource.h"
#include "res/tables.h"

namespace {

const AfxStringResource kStrings[] = {
    {IDS_ABOUTBOX, "关于Tavrin..."},
    // The system menu's standard entries, which the framework shows.
    {AFX_IDS_SCRESTORE, "还原(&R)"},
    {AFX_IDS_SCMINIMIZE, "最小化(&N)"},
    {AFX_IDS_SCCLOSE, "关闭(&C)\tAlt+F4"},
};

// Loaded by no window; the main dialog still routes its command.
const AfxMenuItemResource kAboutMenuItems[] = {
    {"关于", ID_APP_ABOUT_MENU},
};

const AfxMenuResource kMenus[] = {
    {IDR_ABOUT_MENU, kAboutMenuItems, static_cast<int>(std::size(kAboutMenuItems))},
};

}  // namespace

const AfxResourceModule g_tavrinResources = {
    g_tavrinDialogs, kTavrinDialogCount,
    g_tavrinIcons, kTavrinIconCount,
    kStrings, static_cast<int>(std::size(kStrings)),
    kMenus, static_cast<int>(std::size(kMenus)),
};
