// Window message numbers, notification codes and style bits, with the values
// the Windows API gives them. Window-free, so resource scripts and window-free
// logic can use them.
#pragma once

#include "platform/wintypes.h"

// Window handles name live windows through the framework's handle table; a
// handle whose window is gone is refused, never followed.
typedef struct HWND__* HWND;
typedef struct HICON__* HICON;
typedef struct HMENU__* HMENU;
typedef struct HDC__* HDC;
typedef HICON HCURSOR;

// Messages.
#define WM_NULL           0x0000
#define WM_CREATE         0x0001
#define WM_DESTROY        0x0002
#define WM_SETTEXT        0x000C
#define WM_GETTEXT        0x000D
#define WM_GETTEXTLENGTH  0x000E
#define WM_PAINT          0x000F
#define WM_CLOSE          0x0010
#define WM_ICONERASEBKGND 0x0027
#define WM_QUERYDRAGICON  0x0037
#define WM_SETICON        0x0080
#define WM_INITDIALOG     0x0110
#define WM_COMMAND        0x0111
#define WM_SYSCOMMAND     0x0112
#define WM_TIMER          0x0113
#define WM_USER           0x0400

// Button messages, notifications and states.
#define BM_GETCHECK       0x00F0
#define BM_SETCHECK       0x00F1
#define BN_CLICKED        0
#define BST_UNCHECKED     0x0000
#define BST_CHECKED       0x0001
#define BST_INDETERMINATE 0x0002

// Edit messages and notifications.
#define EM_GETSEL         0x00B0
#define EM_SETSEL         0x00B1
#define EM_SCROLLCARET    0x00B7
#define EM_GETLINECOUNT   0x00BA
#define EM_REPLACESEL     0x00C2
#define EN_CHANGE         0x0300

// Combo box messages.
#define CB_GETCOUNT       0x0146
#define CB_GETCURSEL      0x0147
#define CB_GETLBTEXT      0x0148
#define CB_GETLBTEXTLEN   0x0149
#define CB_INSERTSTRING   0x014A
#define CB_SETCURSEL      0x014E
#define CB_ERR            (-1)

// Static control messages.
#define STM_SETICON       0x0170
#define STM_GETICON       0x0171

// Status bar messages.
#define SB_SETTEXTA       (WM_USER + 1)
#define SB_GETTEXTA       (WM_USER + 2)
#define SB_GETTEXTLENGTHA (WM_USER + 3)
#define SB_SETPARTS       (WM_USER + 4)
#define SB_GETPARTS       (WM_USER + 6)

// System commands (WM_SYSCOMMAND wParam, low four bits reserved).
#define SC_SIZE           0xF000
#define SC_MOVE           0xF010
#define SC_MINIMIZE       0xF020
#define SC_MAXIMIZE       0xF030
#define SC_CLOSE          0xF060
#define SC_RESTORE        0xF120

// Window icons.
#define ICON_SMALL        0
#define ICON_BIG          1

// System metrics.
#define SM_CXICON         11
#define SM_CYICON         12

// Menu item flags.
#define MF_STRING         0x0000
#define MF_SEPARATOR      0x0800

// Dialog command ids.
#define IDOK              1
#define IDCANCEL          2
#define IDC_STATIC        (-1)

// Message box styles and results.
#define MB_OK             0x00000000
#define MB_OKCANCEL       0x00000001
#define MB_YESNO          0x00000004
#define MB_ICONERROR      0x00000010
#define MB_ICONHAND       0x00000010
#define MB_ICONQUESTION   0x00000020
#define MB_ICONEXCLAMATION 0x00000030
#define MB_ICONWARNING    0x00000030
#define MB_ICONINFORMATION 0x00000040
#define IDYES             6
#define IDNO              7

// Window styles.
#define WS_OVERLAPPED     0x00000000
#define WS_POPUP          0x80000000
#define WS_CHILD          0x40000000
#define WS_MINIMIZE       0x20000000
#define WS_VISIBLE        0x10000000
#define WS_DISABLED       0x08000000
#define WS_CAPTION        0x00C00000
#define WS_BORDER         0x00800000
#define WS_DLGFRAME       0x00400000
#define WS_VSCROLL        0x00200000
#define WS_HSCROLL        0x00100000
#define WS_SYSMENU        0x00080000
#define WS_THICKFRAME     0x00040000
#define WS_GROUP          0x00020000
#define WS_TABSTOP        0x00010000
#define WS_MINIMIZEBOX    0x00020000
#define WS_MAXIMIZEBOX    0x00010000

#define WS_EX_DLGMODALFRAME 0x00000001
#define WS_EX_CLIENTEDGE  0x00000200
#define WS_EX_STATICEDGE  0x00020000
#define WS_EX_APPWINDOW   0x00040000

// Dialog styles.
#define DS_SETFONT        0x00000040
#define DS_MODALFRAME     0x00000080
#define DS_CENTER         0x00000800

// Button styles.
#define BS_PUSHBUTTON     0x00000000
#define BS_DEFPUSHBUTTON  0x00000001
#define BS_CHECKBOX       0x00000002
#define BS_AUTOCHECKBOX   0x00000003
#define BS_GROUPBOX       0x00000007
#define BS_TYPEMASK       0x0000000F

// Edit styles.
#define ES_LEFT           0x0000
#define ES_MULTILINE      0x0004
#define ES_AUTOVSCROLL    0x0040
#define ES_AUTOHSCROLL    0x0080
#define ES_READONLY       0x0800
#define ES_WANTRETURN     0x1000

// Static styles.
#define SS_LEFT           0x00000000
#define SS_ICON           0x00000003
#define SS_TYPEMASK       0x0000001F

// Combo box styles.
#define CBS_DROPDOWNLIST  0x0003
#define CBS_SORT          0x0100

#define MAKEWPARAM(l, h)  (static_cast<WPARAM>((static_cast<DWORD>(static_cast<WORD>(l))) | (static_cast<DWORD>(static_cast<WORD>(h)) << 16)))
#define LOWORD(v)         (static_cast<WORD>(static_cast<DWORD_PTR>(v) & 0xFFFF))
#define HIWORD(v)         (static_cast<WORD>((static_cast<DWORD_PTR>(v) >> 16) & 0xFFFF))
