// Message maps: static tables from (message, notification code, id) to member
// handlers, searched from the most derived class to its bases, then handed to
// the window's default processing.
//
// Each entry carries a small generated function that casts the target to the
// class of the map and calls the handler with the arguments its message
// carries, so the compiler checks every handler's signature and nothing is
// registered at run time. Handler signatures:
//   ON_COMMAND, ON_BN_CLICKED, ON_EN_CHANGE   void OnX()
//   ON_MESSAGE(msg, fn)                       LRESULT fn(WPARAM, LPARAM)
//   ON_WM_SYSCOMMAND                          void OnSysCommand(UINT nID, LPARAM lParam)
//   ON_WM_PAINT, ON_WM_DESTROY                void OnPaint(), void OnDestroy()
//   ON_WM_QUERYDRAGICON                       HCURSOR OnQueryDragIcon()
//   ON_WM_TIMER                               void OnTimer(UINT_PTR nIDEvent)
//
//   BEGIN_MESSAGE_MAP(CMyDlg, CDialog)
//       ON_WM_PAINT()
//       ON_BN_CLICKED(IDC_SEND_BUTTON, &CMyDlg::OnSendData)
//   END_MESSAGE_MAP()
#pragma once

#include "framework/winuser.h"

class CCmdTarget;

// Calls one handler; the result is the message's result.
typedef LRESULT (*AFX_PMSGTHUNK)(CCmdTarget* target, WPARAM wParam, LPARAM lParam);

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;      // window message; WM_COMMAND for commands and notifications
    UINT nCode;         // notification code (WM_COMMAND only): BN_CLICKED, EN_CHANGE
    UINT nID;           // control or command id (WM_COMMAND only)
    AFX_PMSGTHUNK pfn;  // nullptr ends the table
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();  // nullptr at the root
    const AFX_MSGMAP_ENTRY* lpEntries;
};

// The root of every class that has a message map.
class CCmdTarget {
public:
    CCmdTarget() = default;
    CCmdTarget(const CCmdTarget&) = delete;
    CCmdTarget& operator=(const CCmdTarget&) = delete;
    virtual ~CCmdTarget() = default;

    // Runs the handler of command nID with notification nCode, searching this
    // class's map and then its bases'. TRUE when a handler ran.
    virtual BOOL OnCmdMsg(UINT nID, int nCode);

    // The entry for a message (for WM_COMMAND: with its code and id), or nullptr.
    static const AFX_MSGMAP_ENTRY* AfxFindMessageEntry(const AFX_MSGMAP* map, UINT nMessage, UINT nCode, UINT nID);
    // The map of this object's most derived class.
    const AFX_MSGMAP* MessageMap() const { return GetMessageMap(); }
    // The entry for a message in this object's map and its bases', or nullptr.
    const AFX_MSGMAP_ENTRY* FindMessageEntry(UINT nMessage, UINT nCode = 0, UINT nID = 0) const
    {
        return AfxFindMessageEntry(GetMessageMap(), nMessage, nCode, nID);
    }

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
};

#define afx_msg

#define DECLARE_MESSAGE_MAP()                      \
protected:                                         \
    static const AFX_MSGMAP* GetThisMessageMap();  \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                    \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
    const AFX_MSGMAP* theClass::GetThisMessageMap()                               \
    {                                                                             \
        using ThisClass [[maybe_unused]] = theClass;                              \
        using TheBaseClass = baseClass;                                           \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {

#define END_MESSAGE_MAP()                                                         \
            { 0, 0, 0, nullptr }                                                  \
        };                                                                        \
        static const AFX_MSGMAP messageMap = { &TheBaseClass::GetThisMessageMap, &_messageEntries[0] }; \
        return &messageMap;                                                       \
    }

// A command or control notification: WM_COMMAND with this code and id.
#define ON_CONTROL(code, id, memberFxn)                                           \
    { WM_COMMAND, static_cast<UINT>(code), static_cast<UINT>(id),                 \
      [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT {                              \
          void (ThisClass::*pfn)() = memberFxn;                                   \
          (static_cast<ThisClass*>(t)->*pfn)();                                   \
          return 0;                                                               \
      } },

// Menu and accelerator commands arrive with code 0, as button clicks do.
#define ON_COMMAND(id, memberFxn) ON_CONTROL(0, id, memberFxn)
#define ON_BN_CLICKED(id, memberFxn) ON_CONTROL(BN_CLICKED, id, memberFxn)
#define ON_EN_CHANGE(id, memberFxn) ON_CONTROL(EN_CHANGE, id, memberFxn)

#define ON_MESSAGE(message, memberFxn)                                            \
    { static_cast<UINT>(message), 0, 0,                                           \
      [](CCmdTarget* t, WPARAM w, LPARAM l) -> LRESULT {                          \
          LRESULT (ThisClass::*pfn)(WPARAM, LPARAM) = memberFxn;                  \
          return (static_cast<ThisClass*>(t)->*pfn)(w, l);                        \
      } },

#define ON_WM_SYSCOMMAND()                                                        \
    { WM_SYSCOMMAND, 0, 0,                                                        \
      [](CCmdTarget* t, WPARAM w, LPARAM l) -> LRESULT {                          \
          void (ThisClass::*pfn)(UINT, LPARAM) = &ThisClass::OnSysCommand;        \
          (static_cast<ThisClass*>(t)->*pfn)(static_cast<UINT>(w), l);            \
          return 0;                                                               \
      } },

#define ON_WM_PAINT()                                                             \
    { WM_PAINT, 0, 0,                                                             \
      [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT {                              \
          void (ThisClass::*pfn)() = &ThisClass::OnPaint;                         \
          (static_cast<ThisClass*>(t)->*pfn)();                                   \
          return 0;                                                               \
      } },

#define ON_WM_QUERYDRAGICON()                                                     \
    { WM_QUERYDRAGICON, 0, 0,                                                     \
      [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT {                              \
          HCURSOR (ThisClass::*pfn)() = &ThisClass::OnQueryDragIcon;              \
          return reinterpret_cast<LRESULT>((static_cast<ThisClass*>(t)->*pfn)()); \
      } },

#define ON_WM_DESTROY()                                                           \
    { WM_DESTROY, 0, 0,                                                           \
      [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT {                              \
          void (ThisClass::*pfn)() = &ThisClass::OnDestroy;                       \
          (static_cast<ThisClass*>(t)->*pfn)();                                   \
          return 0;                                                               \
      } },

#define ON_WM_TIMER()                                                             \
    { WM_TIMER, 0, 0,                                                             \
      [](CCmdTarget* t, WPARAM w, LPARAM) -> LRESULT {                            \
          void (ThisClass::*pfn)(UINT_PTR) = &ThisClass::OnTimer;                 \
          (static_cast<ThisClass*>(t)->*pfn)(static_cast<UINT_PTR>(w));          \
          return 0;                                                               \
      } },
