// CTavrinDlg: the program's one main window, a fixed-size dialog built from
// template IDD_MAIN. It owns the port engine and joins the window-free rules
// of console/ (settings, the port's view, receive and send rules) to the
// controls: the handlers read controls, ask the rules, and apply what they
// give through the framework's controls.
//
// Everything here runs on the user-interface thread. The engine's monitor
// thread reaches the dialog only through synchronous WM_PORT_RXCHAR messages,
// which the framework runs on this thread.
#pragma once

#include "console/portview.h"
#include "console/recvdisplay.h"
#include "console/texts.h"
#include "framework/afxwin.h"
#include "serial/commport.h"

// The dialog's only timer: periodic sending.
inline constexpr UINT_PTR AUTO_SEND_TIMER_ID = 1;

// The size of the engine's write buffer asked for at every opening. A longer
// send still goes out whole: the engine grows the buffer to fit it.
inline constexpr UINT kPortWriteBufferSize = 512;

class CTavrinDlg : public CDialog {
public:
    explicit CTavrinDlg(CWnd* pParent = nullptr);
    ~CTavrinDlg() override;

    // State that the window does not show in full, read by tests and the
    // receive benchmark: the counts beyond what the status bar says, the
    // dialog's copies of the edits' texts, and the engine.
    ByteCount RecvCount() const { return m_nRecvCount; }
    ByteCount SendCount() const { return m_nSendCount; }
    const CString& RecvData() const { return m_strRecvData; }
    const CString& SendData() const { return m_strSendData; }
    const CCommPort& Port() const { return m_Port; }

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    // The IDOK command (Enter on a settings list or a check box) must not end
    // the dialog; only the close button, Escape and the close box do.
    void OnOK() override;

    // Port settings and open/close.
    int ReadPortSettings();
    afx_msg void OnOpenClosePort();
    // Makes the lamp, the toggle, the state label, status-bar part 0 and the
    // auto-send box show the phase, and sets the open flag by it.
    void ApplyPortView(PortPhase phase);
    afx_msg void OnDestroy();

    // Receive display.
    afx_msg LRESULT OnPortRxChar(WPARAM wParam, LPARAM lParam);
    afx_msg void OnClearDisplay();
    afx_msg void OnPauseDisplay();
    afx_msg void OnResetRecvCount();

    // Sending.
    afx_msg void OnSendData();
    afx_msg void OnAutoSend();
    afx_msg void OnTimer(UINT_PTR nIDEvent);
    afx_msg void OnResetSendCount();
    afx_msg void OnSendTextChanged();

    // Window, about box, help and close.
    afx_msg void OnSysCommand(UINT nID, LPARAM lParam);
    afx_msg void OnPaint();
    afx_msg HCURSOR OnQueryDragIcon();
    afx_msg void OnAboutMenu();
    afx_msg void OnHelpButton();
    afx_msg void OnExit();

    DECLARE_MESSAGE_MAP()

private:
    // The sending rules count the port as open while the engine holds a port
    // handle, not by the dialog's own flag, and has a monitor thread to write
    // what is handed over: after a failed thread start the handle is held
    // but nothing would ever be written, so nothing may be counted as sent.
    bool PortHandleOpen() const;
    void ShowPortNotOpen();
    void FillSettingsList(int nID, const char* const* items, int nCount, int nSelected);
    CString SelectedItemText(int nID) const;
    int SelectedIndex(int nID) const;

    CString m_strPeriod;
    BOOL m_bDisplayPaused = FALSE;
    // 64-bit: a 32-bit count would turn negative after 2 GiB of traffic.
    ByteCount m_nSendCount = 0;
    ByteCount m_nRecvCount = 0;
    // Part 2's text of m_nRecvCount, kept from byte to byte.
    CountTextCache m_recvCountText{kTextRecvCountFormat};
    DWORD m_dwEventMask = 0;
    CCommPort m_Port;
    CString m_strPortSettings;
    int m_nStopBits = 0;
    int m_nDataBits = 0;
    char m_chParity = 0;
    int m_nBaudRate = 0;
    int m_nPortNumber = 0;
    HICON m_hIconClosed = nullptr;
    HICON m_hIconOpen = nullptr;
    BOOL m_bPortOpen = FALSE;
    CStatusBarCtrl* m_pStatusBar = nullptr;
    CEdit m_editPeriod;
    CButton m_btnPause;
    CButton m_chkAutoSend;
    CButton m_chkHexSend;
    CButton m_chkHexDisplay;
    CButton m_btnSend;
    CEdit m_editSend;
    CEdit m_editRecv;
    CStatic m_txtPortState;
    CStatic m_icoPortLamp;
    CButton m_btnOpen;
    CString m_strRecvData;
    CString m_strSendData;
    HICON m_hIcon = nullptr;
};
