#include "console/tavrindlg.h"

#include <cstring>
#include <vector>

#include "console/aboutdlg.h"
#include "console/helpdlg.h"
#include "console/portsettings.h"
#include "console/portview.h"
#include "console/sendlogic.h"
#include "console/texts.h"
#include "res/resource.h"

// The system menu's own commands use the low four bits; the About entry's id
// must leave them free.
static_assert((IDM_ABOUTBOX & 0xFFF0) == IDM_ABOUTBOX);
static_assert(IDM_ABOUTBOX < 0xF000);

namespace {

// Status-bar parts.
constexpr int kPartState = 0;
constexpr int kPartSendCount = 1;
constexpr int kPartRecvCount = 2;
constexpr int kPartCredit = 3;

// The line events the engine is asked to watch: bytes arriving, and the
// event character among them.
constexpr DWORD kWatchedPortEvents = EV_RXCHAR | EV_RXFLAG;

HICON LoadProgramIcon(UINT nID)
{
    return ::LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCE(nID));
}

}  // namespace

CTavrinDlg::CTavrinDlg(CWnd* pParent)
    : CDialog(IDD_MAIN, pParent), m_strRecvData(""), m_strSendData("")
{
    m_hIcon = LoadProgramIcon(IDI_MAINFRAME);
}

// The status bar's window went with the dialog's; its wrapper object is the
// dialog's to free.
CTavrinDlg::~CTavrinDlg()
{
    delete m_pStatusBar;
}

void CTavrinDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_PERIOD_EDIT, m_editPeriod);
    DDX_Control(pDX, IDC_PAUSE_BUTTON, m_btnPause);
    DDX_Control(pDX, IDC_AUTO_SEND_CHECK, m_chkAutoSend);
    DDX_Control(pDX, IDC_HEX_SEND_CHECK, m_chkHexSend);
    DDX_Control(pDX, IDC_HEX_DISPLAY_CHECK, m_chkHexDisplay);
    DDX_Control(pDX, IDC_SEND_BUTTON, m_btnSend);
    DDX_Control(pDX, IDC_SEND_EDIT, m_editSend);
    DDX_Control(pDX, IDC_RECV_EDIT, m_editRecv);
    DDX_Control(pDX, IDC_PORT_STATE_TEXT, m_txtPortState);
    DDX_Control(pDX, IDC_PORT_LAMP, m_icoPortLamp);
    DDX_Control(pDX, IDC_OPEN_BUTTON, m_btnOpen);
    DDX_Text(pDX, IDC_RECV_EDIT, m_strRecvData);
    DDX_Text(pDX, IDC_SEND_EDIT, m_strSendData);
}

BEGIN_MESSAGE_MAP(CTavrinDlg, CDialog)
    ON_WM_SYSCOMMAND()
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_COMMAND(ID_APP_ABOUT_MENU, &CTavrinDlg::OnAboutMenu)
    ON_BN_CLICKED(IDC_EXIT_BUTTON, &CTavrinDlg::OnExit)
    ON_BN_CLICKED(IDC_HELP_BUTTON, &CTavrinDlg::OnHelpButton)
    ON_BN_CLICKED(IDC_OPEN_BUTTON, &CTavrinDlg::OnOpenClosePort)
    ON_WM_DESTROY()
    ON_BN_CLICKED(IDC_SEND_BUTTON, &CTavrinDlg::OnSendData)
    ON_MESSAGE(WM_PORT_RXCHAR, &CTavrinDlg::OnPortRxChar)
    ON_BN_CLICKED(IDC_RESET_SENT_BUTTON, &CTavrinDlg::OnResetSendCount)
    ON_BN_CLICKED(IDC_RESET_RECV_BUTTON, &CTavrinDlg::OnResetRecvCount)
    ON_BN_CLICKED(IDC_CLEAR_BUTTON, &CTavrinDlg::OnClearDisplay)
    ON_BN_CLICKED(IDC_PAUSE_BUTTON, &CTavrinDlg::OnPauseDisplay)
    ON_EN_CHANGE(IDC_SEND_EDIT, &CTavrinDlg::OnSendTextChanged)
    ON_WM_TIMER()
    ON_BN_CLICKED(IDC_AUTO_SEND_CHECK, &CTavrinDlg::OnAutoSend)
END_MESSAGE_MAP()

// ---------------------------------------------------------------------------
// Start-up and the window.

BOOL CTavrinDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    // A dialog object run a second time makes a new bar for its new window.
    delete m_pStatusBar;
    m_pStatusBar = new CStatusBarCtrl;
    m_pStatusBar->Create(WS_CHILD | WS_VISIBLE, CRect(0, 0, 0, 0), this, 0);
    int rightEdges[4] = {200, 360, 520, -1};
    m_pStatusBar->SetParts(4, rightEdges);
    m_pStatusBar->SetText(SendCountText(0), kPartSendCount, 0);
    m_pStatusBar->SetText(m_recvCountText.For(0), kPartRecvCount, 0);
    m_pStatusBar->SetText(kTextStatusCredit, kPartCredit, 0);

    m_hIconOpen = LoadProgramIcon(IDI_MAINFRAME);
    m_hIconClosed = LoadProgramIcon(IDI_PORT_CLOSED);
    ApplyPortView(PortPhase::ClosedAtStartUp);

    FillSettingsList(IDC_PORT_COMBO, kPortItems, kPortItemCount, kDefaultPortIndex);
    FillSettingsList(IDC_BAUD_COMBO, kBaudItems, kBaudItemCount, kDefaultBaudIndex);
    FillSettingsList(IDC_PARITY_COMBO, kParityItems, kParityItemCount, kDefaultParityIndex);
    FillSettingsList(IDC_DATABITS_COMBO, kDataBitsItems, kDataBitsItemCount, kDefaultDataBitsIndex);
    FillSettingsList(IDC_STOPBITS_COMBO, kStopBitsItems, kStopBitsItemCount, kDefaultStopBitsIndex);

    GetDlgItem(IDC_PERIOD_EDIT)->SetWindowText(kTextDefaultPeriod);

    m_nSendCount = 0;
    m_nRecvCount = 0;
    m_bDisplayPaused = FALSE;

    if (CMenu* pSysMenu = GetSystemMenu(FALSE)) {
        CString strAboutMenu;
        strAboutMenu.LoadString(IDS_ABOUTBOX);
        if (!strAboutMenu.IsEmpty()) {
            pSysMenu->AppendMenu(MF_SEPARATOR);
            pSysMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, strAboutMenu);
        }
    }

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);
    return TRUE;
}

void CTavrinDlg::OnOK()
{
}

void CTavrinDlg::OnPaint()
{
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    const int cxIcon = GetSystemMetrics(SM_CXICON);
    const int cyIcon = GetSystemMetrics(SM_CYICON);
    CRect rect;
    GetClientRect(&rect);
    const int x = (rect.Width() - cxIcon + 1) / 2;
    const int y = (rect.Height() - cyIcon + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
}

HCURSOR CTavrinDlg::OnQueryDragIcon()
{
    return m_hIcon;
}

void CTavrinDlg::OnSysCommand(UINT nID, LPARAM lParam)
{
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout;
        dlgAbout.DoModal();
    } else {
        CDialog::OnSysCommand(nID, lParam);
    }
}

void CTavrinDlg::OnAboutMenu()
{
    CAboutDlg dlgAbout;
    dlgAbout.DoModal();
}

void CTavrinDlg::OnHelpButton()
{
    CHelpDlg dlgHelp(nullptr);
    dlgHelp.DoModal();
}

// The base class's OnOK, not this dialog's empty one: the data exchange runs
// and the modal run ends with IDOK.
void CTavrinDlg::OnExit()
{
    CDialog::OnOK();
}

void CTavrinDlg::FillSettingsList(int nID, const char* const* items, int nCount, int nSelected)
{
    CComboBox* pList = static_cast<CComboBox*>(GetDlgItem(nID));
    for (int i = 0; i < nCount; ++i)
        pList->InsertString(i, items[i]);
    pList->SetCurSel(nSelected);
}

// ---------------------------------------------------------------------------
// Port settings and open/close.

int CTavrinDlg::SelectedIndex(int nID) const
{
    return static_cast<CComboBox*>(GetDlgItem(nID))->GetCurSel();
}

CString CTavrinDlg::SelectedItemText(int nID) const
{
    const CComboBox* pList = static_cast<CComboBox*>(GetDlgItem(nID));
    CString text;
    const int nIndex = pList->GetCurSel();
    if (nIndex != CB_ERR)
        pList->GetLBText(nIndex, text);
    return text;
}

int CTavrinDlg::ReadPortSettings()
{
    PortListSelection selection;
    selection.nPortIndex = SelectedIndex(IDC_PORT_COMBO);
    selection.strBaud = SelectedItemText(IDC_BAUD_COMBO);
    selection.nParityIndex = SelectedIndex(IDC_PARITY_COMBO);
    selection.strDataBits = SelectedItemText(IDC_DATABITS_COMBO);
    selection.strStopBits = SelectedItemText(IDC_STOPBITS_COMBO);

    const PortSettings settings = PortSettingsFromLists(selection, m_chParity);
    m_nPortNumber = settings.nPortNumber;
    m_nBaudRate = settings.nBaudRate;
    m_chParity = settings.chParity;
    m_nDataBits = settings.nDataBits;
    m_nStopBits = settings.nStopBits;
    m_strPortSettings = ::PortSettingsText(settings);
    return 1;
}

void CTavrinDlg::OnOpenClosePort()
{
    m_dwEventMask = kWatchedPortEvents;
    if (m_bPortOpen) {
        // The monitor thread closes the port; it is not waited for.
        m_Port.SignalStop();
        ApplyPortView(PortPhase::ClosedByClosing);
        return;
    }
    ReadPortSettings();
    PortPhase phase = PortPhase::OpenFailed;
    if (m_Port.Open(this, m_nPortNumber, m_nBaudRate, m_chParity, m_nDataBits, m_nStopBits, m_dwEventMask,
                    kPortWriteBufferSize))
        phase = m_Port.StartMonitor() ? PortPhase::Open : PortPhase::ThreadFailed;
    ApplyPortView(phase);
}

void CTavrinDlg::ApplyPortView(PortPhase phase)
{
    m_bPortOpen = phase == PortPhase::Open;
    const PortView view = PortViewOf(phase, m_strPortSettings);
    if (view.lamp) {
        m_icoPortLamp.SetIcon(view.lamp->bOpen ? m_hIconOpen : m_hIconClosed);
        m_icoPortLamp.SetAccessibleName(view.lamp->strSays);
    }
    if (view.caption)
        m_btnOpen.SetWindowText(*view.caption);
    m_txtPortState.SetWindowText(view.strStateLabel);
    m_pStatusBar->SetText(view.strStatus, kPartState, 0);
    if (view.bStopAutoSend) {
        m_chkAutoSend.SetCheck(BST_UNCHECKED);
        KillTimer(AUTO_SEND_TIMER_ID);
    }
}

// Tells the monitor thread to end and does not wait for it; the engine's
// destructor waits when the dialog object goes.
void CTavrinDlg::OnDestroy()
{
    CDialog::OnDestroy();
    m_Port.SignalStop();
}

// ---------------------------------------------------------------------------
// Receive display.

LRESULT CTavrinDlg::OnPortRxChar(WPARAM wParam, LPARAM /*lParam: the port number*/)
{
    ++m_nRecvCount;
    m_pStatusBar->SetText(m_recvCountText.For(m_nRecvCount), kPartRecvCount, 0);
    if (m_bDisplayPaused)
        return 0;

    if (RecvAreaOverLimit(m_editRecv.GetLineCount())) {
        m_strRecvData = kTextLineLimitNotice;
        UpdateData(FALSE);
    }

    const CString text = RecvByteText(static_cast<BYTE>(wParam), m_chkHexDisplay.GetCheck() != 0);
    // Appended at the very end, whatever the user has selected meanwhile.
    const int nEnd = m_editRecv.GetWindowTextLength();
    m_editRecv.SetSel(nEnd, nEnd);
    m_editRecv.SendMessage(EM_SCROLLCARET);
    m_editRecv.ReplaceSel(text, FALSE);
    m_strRecvData += text;
    return 1;
}

void CTavrinDlg::OnClearDisplay()
{
    m_strRecvData.Empty();
    UpdateData(FALSE);
}

void CTavrinDlg::OnPauseDisplay()
{
    m_bDisplayPaused = !m_bDisplayPaused;
    m_btnPause.SetWindowText(PauseButtonCaption(m_bDisplayPaused));
}

void CTavrinDlg::OnResetRecvCount()
{
    m_nRecvCount = 0;
    m_pStatusBar->SetText(m_recvCountText.For(m_nRecvCount), kPartRecvCount, 0);
}

// ---------------------------------------------------------------------------
// Sending.

bool CTavrinDlg::PortHandleOpen() const
{
    return m_Port.m_hPort != nullptr && m_Port.m_bMonitorRunning;
}

void CTavrinDlg::ShowPortNotOpen()
{
    m_chkAutoSend.SetCheck(BST_UNCHECKED);
    MessageBox(kTextPortNotOpen, kTextMessageCaption, MB_ICONEXCLAMATION);
}

void CTavrinDlg::OnSendData()
{
    if (!PortHandleOpen()) {
        ShowPortNotOpen();
        return;
    }
    UpdateData(TRUE);
    if (m_chkHexSend.GetCheck() != 0) {
        const std::vector<BYTE> bytes = HexTextToBytes(m_strSendData.bytes());
        m_Port.Send(bytes.data(), static_cast<UINT>(bytes.size()));
        m_nSendCount += static_cast<ByteCount>(bytes.size());
    } else {
        m_Port.SendString(m_strSendData);
        // What the engine takes is the text up to its terminator; a NUL pasted
        // into the edit ends it there, and only what goes out is counted.
        m_nSendCount += static_cast<ByteCount>(std::strlen(m_strSendData));
    }
    m_pStatusBar->SetText(SendCountText(m_nSendCount), kPartSendCount, 0);
}

void CTavrinDlg::OnAutoSend()
{
    if (!PortHandleOpen()) {
        ShowPortNotOpen();
        return;
    }
    CWnd* pPeriodEdit = GetDlgItem(IDC_PERIOD_EDIT);
    pPeriodEdit->GetWindowText(m_strPeriod);
    const AutoSendPeriod period = AutoSendPeriodFromText(m_strPeriod);
    if (period.bRefillDefault)
        pPeriodEdit->SetWindowText(kTextDefaultPeriod);

    switch (m_chkAutoSend.GetCheck()) {
    case BST_CHECKED:
        SetTimer(AUTO_SEND_TIMER_ID, period.nInterval, nullptr);
        break;
    case BST_UNCHECKED:
        KillTimer(AUTO_SEND_TIMER_ID);
        break;
    default:
        break;
    }
}

void CTavrinDlg::OnTimer(UINT_PTR nIDEvent)
{
    if (nIDEvent == AUTO_SEND_TIMER_ID)
        OnSendData();
    CDialog::OnTimer(nIDEvent);
}

void CTavrinDlg::OnResetSendCount()
{
    m_nSendCount = 0;
    m_pStatusBar->SetText(SendCountText(m_nSendCount), kPartSendCount, 0);
}

// Keeps m_strSendData equal to the send edit, so that an exchange toward the
// controls (clearing or trimming the receive area) leaves the user's text.
void CTavrinDlg::OnSendTextChanged()
{
    UpdateData(TRUE);
}
