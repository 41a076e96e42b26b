// The dialog framework the program is written against: application object,
// windows, dialogs built from templates, controls, data exchange, message
// maps, timers, message boxes, icons and threads, implemented over Qt 6
// Widgets. This header has no Qt in it (nor <chrono>, <thread>, <mutex>), so
// files that hold code page 936 texts can include it.
//
// Every window is named by an HWND from the framework's handle table; a handle
// whose window is gone is refused (messages to it return 0 and do nothing).
// Wrapper objects (CWnd and its kinds) only carry m_hWnd: every member is a
// message to the window, so the members and SendMessageA reach the same code.
// Texts are CStrings of code page 936 bytes; lengths are in bytes.
//
// Windows live on the GUI thread. Other threads may call SendMessageA (and
// so the wrappers' members, which are messages), MessageBoxA and IsWindow;
// the other functions here act on the GUI thread only and fail elsewhere
// (0, FALSE or nullptr).
#pragma once

#include <functional>

#include "framework/afxmsg.h"
#include "framework/afxthread.h"
#include "framework/cstring.h"
#include "framework/resources.h"
#include "framework/winuser.h"

typedef struct HINSTANCE__* HINSTANCE;

#define MAKEINTRESOURCE(i) (reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))
#define MAKEINTRESOURCEA(i) MAKEINTRESOURCE(i)
#define IS_INTRESOURCE(p) ((reinterpret_cast<ULONG_PTR>(p) >> 16) == 0)

// Values of the platform's headers that winuser.h does not carry.
#ifndef ID_HELP
#define ID_HELP 0xE146
#endif
#ifndef EM_LINESCROLL
#define EM_LINESCROLL 0x00B6
#endif
#ifndef MF_BYCOMMAND
#define MF_BYCOMMAND 0x0000
#endif
#ifndef MF_BYPOSITION
#define MF_BYPOSITION 0x0400
#endif
#ifndef SBT_NOBORDERS
#define SBT_NOBORDERS 0x0100
#endif
#ifndef SBT_POPOUT
#define SBT_POPOUT 0x0200
#endif
#ifndef USER_TIMER_MINIMUM
#define USER_TIMER_MINIMUM 0x0000000Au
#endif
#ifndef USER_TIMER_MAXIMUM
#define USER_TIMER_MAXIMUM 0x7FFFFFFFu
#endif
#ifndef SW_HIDE
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5
#define SW_MINIMIZE 6
#define SW_RESTORE 9
#endif

struct POINT {
    LONG x;
    LONG y;
};

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
typedef RECT* LPRECT;
typedef const RECT* LPCRECT;

class CRect : public RECT {
public:
    CRect() : RECT{0, 0, 0, 0} {}
    CRect(int l, int t, int r, int b) : RECT{l, t, r, b} {}
    CRect(const RECT& r) : RECT(r) {}
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    BOOL IsRectEmpty() const { return right <= left || bottom <= top; }
    operator LPRECT() { return this; }
    operator LPCRECT() const { return this; }
    friend bool operator==(const CRect& a, const CRect& b)
    {
        return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
    }
};

struct PAINTSTRUCT {
    HDC hdc;
    BOOL fErase;
    RECT rcPaint;
};

typedef void (*TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

// ---------------------------------------------------------------------------
// The platform's window functions, as far as the program calls them.

// Runs the window's handler for the message and returns its result. From a
// thread other than the GUI thread the caller blocks until the handler has
// run there. 0 for a window that does not exist (or dies meanwhile).
LRESULT SendMessageA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);

// One message of a series: what SendMessageA takes besides the window.
struct AFX_SERIES_MSG {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// Sends count messages to one window in order, each handled as SendMessageA
// would handle it, and returns the number that were delivered. From another
// thread the whole series is handed to the window's thread at once and the
// caller blocks until the last handler has run; the window's thread runs them
// from the same places it serves SendMessageA, and may let its event loop run
// between two of them when a series takes long. A window that dies part-way
// gets none of the rest (the result then falls short of count); 0 for a
// window that does not exist.
LRESULT AfxSendMessageSeries(HWND hWnd, const AFX_SERIES_MSG* msgs, size_t count);

BOOL IsWindow(HWND hWnd);
BOOL SetWindowTextA(HWND hWnd, LPCSTR text);
int GetWindowTextA(HWND hWnd, LPSTR buffer, int maxCount);
int GetWindowTextLengthA(HWND hWnd);
HWND GetDlgItem(HWND hDlg, int id);
int GetDlgCtrlID(HWND hWnd);
HWND GetParent(HWND hWnd);
BOOL EnableWindow(HWND hWnd, BOOL enable);
BOOL IsWindowEnabled(HWND hWnd);
BOOL ShowWindow(HWND hWnd, int nCmdShow);
BOOL IsWindowVisible(HWND hWnd);
BOOL IsIconic(HWND hWnd);
BOOL GetClientRect(HWND hWnd, LPRECT rect);
HWND SetFocus(HWND hWnd);
HWND GetFocus();

// Message boxes: from any thread, blocking only the calling thread. On the
// GUI thread a box is modal to the whole program. From another thread an
// owned box is modal to its owner's window, and an ownerless one leaves the
// program's windows usable: it is a transient child of the topmost modal
// window (kept above it and answerable, say over an about box), not owned by
// it, so it is not closed with it and then follows the next one down.
// Styles: MB_OK, MB_OKCANCEL, MB_YESNO with the MB_ICON* values.
int MessageBoxA(HWND hWnd, LPCSTR text, LPCSTR caption, UINT type);

// Timers deliver WM_TIMER (wParam the id) to the window on the GUI thread.
// The interval is clamped to [USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM] as the
// platform does; setting an id that runs restarts it with the new interval.
// Timers die with their window. Callback procedures are not supported (0 is
// returned). Only the GUI thread may set or kill timers.
UINT_PTR SetTimer(HWND hWnd, UINT_PTR id, UINT elapse, TIMERPROC proc);
BOOL KillTimer(HWND hWnd, UINT_PTR id);

// Icons of the program's resources (AfxGetInstanceHandle()). Handles are
// shared and never destroyed.
HICON LoadIconA(HINSTANCE hInstance, LPCSTR name);
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();

// The window's system menu (Alt+Space or a right click on its background);
// its items send WM_SYSCOMMAND with their id. nullptr for a window without one.
HMENU GetSystemMenu(HWND hWnd, BOOL revert);
BOOL AppendMenuA(HMENU hMenu, UINT flags, UINT_PTR idNewItem, LPCSTR text);
int GetMenuItemCount(HMENU hMenu);
UINT GetMenuItemID(HMENU hMenu, int pos);  // (UINT)-1 for a separator or no item
int GetMenuStringA(HMENU hMenu, UINT item, LPSTR buffer, int maxCount, UINT flags);

// Painting. A paint context is valid between BeginPaint and EndPaint.
HDC BeginPaint(HWND hWnd, PAINTSTRUCT* ps);
BOOL EndPaint(HWND hWnd, const PAINTSTRUCT* ps);
BOOL DrawIcon(HDC hDC, int x, int y, HICON hIcon);
int GetSystemMetrics(int index);  // SM_CXICON and SM_CYICON: 32

// a * b / c rounded half away from zero; -1 when c is 0 or the result does
// not fit.
int MulDiv(int a, int b, int c);

// What assistive tools (screen readers) call a window, for a control whose
// look says what its text does not, such as an icon; the text is code page
// 936. A combo box or an edit needs none: when its dialog is made, it is
// labelled by the label before it on its row, or else named after the group
// box around it, and follows that label's or box's text. GUI thread only;
// FALSE for no such window.
BOOL AfxSetAccessibleName(HWND hWnd, LPCSTR name);

// Dialogs may host ActiveX controls on the platform this API comes from; the
// templates here have none, so there is nothing to enable.
void AfxEnableControlContainer();

class CMenu;
class CDataExchange;

// ---------------------------------------------------------------------------
// Windows.

class CWnd : public CCmdTarget {
public:
    CWnd() = default;
    // A wrapper attached to its window detaches; the window stays.
    ~CWnd() override;

    HWND m_hWnd = nullptr;

    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return GetSafeHwnd(); }

    // The wrapper of a window: the program's attached object when there is
    // one, else one the framework keeps while the window lives (of the kind
    // that fits the control). nullptr for a dead handle.
    static CWnd* FromHandle(HWND hWnd);

    LRESULT SendMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::SendMessageA(m_hWnd, msg, wParam, lParam);
    }

    void SetWindowText(LPCSTR text);
    void GetWindowText(CString& text) const;
    int GetWindowText(LPSTR buffer, int maxCount) const;
    int GetWindowTextLength() const;

    // A wrapper used at once, never kept (see FromHandle).
    CWnd* GetDlgItem(int id) const;
    int GetDlgCtrlID() const;
    CWnd* GetParent() const;

    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const;
    BOOL ShowWindow(int nCmdShow);
    BOOL IsWindowVisible() const;
    BOOL IsIconic() const;
    void GetClientRect(LPRECT rect) const;
    CWnd* SetFocus();

    // The window's system menu, or nullptr. bRevert is not supported (the
    // program's entries stay).
    CMenu* GetSystemMenu(BOOL bRevert) const;
    HICON SetIcon(HICON hIcon, BOOL bBigIcon);
    HICON GetIcon(BOOL bBigIcon) const;
    BOOL SetAccessibleName(LPCSTR name);

    // A box owned by this window; caption nullptr gives the application's name.
    int MessageBox(LPCSTR text, LPCSTR caption = nullptr, UINT type = MB_OK);

    UINT_PTR SetTimer(UINT_PTR id, UINT elapse, TIMERPROC proc = nullptr);
    BOOL KillTimer(UINT_PTR id);

    // Runs DoDataExchange toward the members (TRUE) or the controls (FALSE).
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
    virtual void DoDataExchange(CDataExchange* pDX);

    BOOL DestroyWindow();

    // Message processing: the message map first, then DefWindowProc, the
    // window's default processing. A class changes what its window does
    // through its map and OnCommand, not by replacing these: a message the
    // map does not name goes to the default processing directly.
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Default processing of the message being handled.
    LRESULT Default();

    // Default handlers, for derived classes' maps to call on.
    afx_msg void OnSysCommand(UINT nID, LPARAM lParam);
    afx_msg void OnPaint();
    afx_msg HCURSOR OnQueryDragIcon();
    afx_msg void OnDestroy();
    afx_msg void OnTimer(UINT_PTR nIDEvent);

    DECLARE_MESSAGE_MAP()
};

class CDialog : public CWnd {
public:
    // pParentWnd nullptr: the application's main window owns the dialog, when
    // there is one (and it is not this dialog).
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    ~CDialog() override;

    // Builds the dialog from its template, runs WM_INITDIALOG (OnInitDialog),
    // shows it modally until EndDialog, destroys the window and returns the
    // value given to EndDialog; -1 when the dialog cannot be created.
    virtual INT_PTR DoModal();
    // The first data exchange, toward the controls; TRUE puts the focus on the
    // first tab stop.
    virtual BOOL OnInitDialog();
    // UpdateData(TRUE), then EndDialog(IDOK) when it succeeded.
    virtual void OnOK();
    virtual void OnCancel();
    void EndDialog(int nResult);

protected:
    LRESULT HandleInitDialog(WPARAM wParam, LPARAM lParam);
    BOOL OnCmdMsg(UINT nID, int nCode) override;

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

    DECLARE_MESSAGE_MAP()
};

// ---------------------------------------------------------------------------
// Controls.

class CButton : public CWnd {
public:
    // BST_CHECKED or BST_UNCHECKED; 0 for a push button.
    int GetCheck() const;
    // Sets the state without a click notification.
    void SetCheck(int nCheck);
};

class CStatic : public CWnd {
public:
    // STM_SETICON: shows the icon; the previous icon is returned.
    HICON SetIcon(HICON hIcon);
    HICON GetIcon() const;
};

// A single-line edit, or with ES_MULTILINE a multi-line one. Positions are
// byte offsets into the text, clamped to its end.
class CEdit : public CWnd {
public:
    int GetLineCount() const;  // wrapped lines counted; 1 for an empty edit
    void SetSel(int nStartChar, int nEndChar, BOOL bNoScroll = FALSE);
    void GetSel(int& nStartChar, int& nEndChar) const;
    // Replaces the selection. There is no undo, so bCanUndo has no effect.
    void ReplaceSel(LPCSTR text, BOOL bCanUndo = FALSE);
    void LineScroll(int nLines, int nChars = 0);
};

// A drop-down list. Items keep the positions they are inserted at.
class CComboBox : public CWnd {
public:
    int GetCount() const;
    int GetCurSel() const;
    int SetCurSel(int nSelect);  // -1 clears the selection
    int InsertString(int nIndex, LPCSTR text);  // nIndex -1 appends
    int GetLBTextLen(int nIndex) const;
    int GetLBText(int nIndex, LPSTR buffer) const;  // buffer of GetLBTextLen + 1
    void GetLBText(int nIndex, CString& text) const;
};

// A status bar along the bottom of its parent's client area. The parent grows
// by the bar's height when the bar is created, so the bar covers none of the
// parent's controls.
class CStatusBarCtrl : public CWnd {
public:
    virtual BOOL Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID);
    // Right edges in client pixels; -1 runs to the window's right edge.
    BOOL SetParts(int nParts, int* pWidths);
    int GetParts(int nParts, int* pParts) const;
    // nType 0 draws the part sunken, SBT_NOBORDERS flat, SBT_POPOUT raised.
    BOOL SetText(LPCSTR text, int nPane, int nType);
    CString GetText(int nPane, int* pType = nullptr) const;
};

class CMenu {
public:
    CMenu() = default;
    CMenu(const CMenu&) = delete;
    CMenu& operator=(const CMenu&) = delete;

    HMENU m_hMenu = nullptr;

    // The framework's wrapper of a live menu, or nullptr.
    static CMenu* FromHandle(HMENU hMenu);

    BOOL AppendMenu(UINT nFlags, UINT_PTR nIDNewItem = 0, LPCSTR text = nullptr);
    UINT GetMenuItemCount() const;
    UINT GetMenuItemID(int nPos) const;
    int GetMenuString(UINT nIDItem, CString& text, UINT nFlags) const;
};

// ---------------------------------------------------------------------------
// Painting.

class CDC {
public:
    HDC m_hDC = nullptr;
    operator HDC() const { return m_hDC; }
    HDC GetSafeHdc() const { return m_hDC; }
    BOOL DrawIcon(int x, int y, HICON hIcon) { return ::DrawIcon(m_hDC, x, y, hIcon); }
    BOOL DrawIcon(POINT point, HICON hIcon) { return ::DrawIcon(m_hDC, point.x, point.y, hIcon); }
};

// BeginPaint in the constructor, EndPaint in the destructor. Inside the
// window's own painting it paints the window; elsewhere (a WM_PAINT sent by
// hand) it paints into a scratch surface that is thrown away.
class CPaintDC : public CDC {
public:
    explicit CPaintDC(CWnd* pWnd);
    ~CPaintDC();
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;

    PAINTSTRUCT m_ps{};

protected:
    HWND m_hWnd;
};

// ---------------------------------------------------------------------------
// Data exchange.

class CDataExchange {
public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}

    BOOL m_bSaveAndValidate;  // TRUE: controls to members
    CWnd* m_pDlgWnd;

    // The child window with that id, or nullptr.
    HWND PrepareCtrl(int nIDC);
};

// The first exchange attaches rControl to the child window nIDC; later ones
// do nothing.
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);
// Saving copies the whole text. Loading sets the text only when it differs
// from the text shown (at 256 bytes or more: always). Saving from an edit the
// user has not changed since the program last set or appended its text gives
// exactly the bytes the program handed over, also bytes that have no faithful
// Unicode form (invalid double-byte sequences, control bytes, a lone CR).
void DDX_Text(CDataExchange* pDX, int nIDC, CString& value);

// ---------------------------------------------------------------------------
// The application.

class CWinApp : public CWinThread {
public:
    // The one application object of the program; lpszAppName nullptr takes
    // the executable's name at start-up.
    explicit CWinApp(LPCSTR lpszAppName = nullptr);
    ~CWinApp() override;

    BOOL InitInstance() override;
    int ExitInstance() override;
    // The application's message loop, for an InitInstance that returns TRUE.
    virtual int Run();

    HICON LoadIcon(UINT nIDResource) const;
    HICON LoadIcon(LPCSTR lpszResourceName) const;

    // The help command has no help file behind it in this framework; it does
    // nothing.
    afx_msg void OnHelp();

    LPCSTR m_pszAppName = nullptr;
    HINSTANCE m_hInstance = nullptr;

protected:
    // The three-dimensional look of dialogs is the toolkit's style already;
    // nothing to enable. TRUE.
    BOOL Enable3dControlsStatic() { return TRUE; }
    BOOL Enable3dControls() { return TRUE; }

    DECLARE_MESSAGE_MAP()

private:
    CString m_strAppName;
    friend int AfxWinMain(int, char**, const AfxResourceModule*);
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();

// The program's entry: creates the application's GUI, installs the program's
// resources, runs InitInstance of the application object and, when it
// returns TRUE, its message loop. Returns the process's exit code.
int AfxWinMain(int argc, char** argv, const AfxResourceModule* resources);
