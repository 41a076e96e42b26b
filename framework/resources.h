// The program's resources as plain data: dialog templates, icons, strings and
// menus. The program builds one AfxResourceModule (in res/) and hands it to the
// framework at start-up; the framework looks resources up by id.
// Window-free: no Qt here, so res/ can be compiled to code page 936 texts.
#pragma once

#include "platform/wintypes.h"

// One control of a dialog template, as a resource script states it.
struct AfxDlgItemTemplate {
    const char* className;  // "BUTTON", "EDIT", "STATIC", "COMBOBOX"
    int id;                 // control id; -1 for none
    const char* text;       // caption, code page 936 bytes; may be ""
    DWORD style;            // WS_*, BS_*, ES_*, SS_*, CBS_* bits
    DWORD exStyle;          // WS_EX_* bits
    short x, y, cx, cy;     // dialog units
    UINT iconId;            // SS_ICON statics: the icon shown; else 0
};

struct AfxDlgTemplate {
    UINT id;
    const char* caption;    // code page 936 bytes
    DWORD style;            // WS_*, DS_* bits
    DWORD exStyle;          // WS_EX_* bits
    bool extended;          // an extended template (DIALOGEX)
    short x, y, cx, cy;     // dialog units
    const char* fontFace;   // code page 936 bytes, e.g. the Song face name
    int pointSize;
    const AfxDlgItemTemplate* items;
    int itemCount;
};

// An icon as XPM images; either size may be missing (nullptr).
struct AfxIconResource {
    UINT id;
    const char* const* xpm32;  // 32 x 32
    const char* const* xpm16;  // 16 x 16
};

struct AfxStringResource {
    UINT id;
    const char* text;          // code page 936 bytes
};

struct AfxMenuItemResource {
    const char* text;          // code page 936 bytes
    UINT command;
};

struct AfxMenuResource {
    UINT id;
    const AfxMenuItemResource* items;
    int itemCount;
};

struct AfxResourceModule {
    const AfxDlgTemplate* dialogs;
    int dialogCount;
    const AfxIconResource* icons;
    int iconCount;
    const AfxStringResource* strings;
    int stringCount;
    const AfxMenuResource* menus;
    int menuCount;
};

// Strings the framework shows and the program's string table supplies, in
// the program's language: the system menu's standard entries. Ids as the
// platform's framework numbers them, from the command (SC_*) they stand for.
#define AFX_IDS_SCFIRST    0xEF00
#define AFX_IDS_SCMINIMIZE 0xEF02
#define AFX_IDS_SCCLOSE    0xEF06
#define AFX_IDS_SCRESTORE  0xEF12

// Installs the program's resources (nullptr removes them). Call before the
// first lookup; the module must outlive every use.
void AfxSetResources(const AfxResourceModule* module);
const AfxResourceModule* AfxGetResources();

const AfxDlgTemplate* AfxFindDialogResource(UINT id);
const AfxIconResource* AfxFindIconResource(UINT id);
const AfxMenuResource* AfxFindMenuResource(UINT id);
// AfxFindStringResource is declared in cstring.h.
