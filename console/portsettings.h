// The line settings chosen in the five settings lists, and the open/close
// state of the port as the dialog shows it. Window-free: the dialog reads the
// lists and calls the engine; what the lists mean, the order of the engine
// calls and every indicator change are decided here.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "framework/cstring.h"

struct PortSettings {
    int nPortNumber = 0;  // 1 to 4; the engine opens "COM%d"
    int nBaudRate = 0;
    char chParity = 0;    // 'N', 'O' or 'E'
    int nDataBits = 0;
    int nStopBits = 0;
};

// The selections of the five lists: the port and parity lists by position,
// the other three by the selected item's text.
struct PortListSelection {
    int nPortIndex = 0;
    CString strBaud;
    int nParityIndex = 0;
    CString strDataBits;
    CString strStopBits;
};

// Reads the selections into settings. A parity position other than 0, 1 or 2
// leaves the parity letter as it was before, so the previous letter is passed in.
PortSettings PortSettingsFromLists(const PortListSelection& selection, char chPreviousParity);

// "%d.%d.%c.%d.%d" of port number, baud rate, parity letter, data bits and
// stop bits, e.g. "1.9600.N.8.1".
CString PortSettingsText(const PortSettings& settings);

// The events the engine watches on an open port: EV_RXCHAR | EV_RXFLAG.
inline constexpr DWORD kPortEventMask = 0x0003;

enum class PortEvent {
    ButtonPressed,  // the open/close toggle button
    Destroyed,      // the dialog's window is being destroyed
};

// One change to the dialog's indicators, in the order the dialog applies them.
enum class PortIndicator {
    LampOpen,           // the lamp shows the open-port icon, and says text
    LampClosed,         // the lamp shows the closed-port icon, and says text
    Caption,            // the toggle button's caption becomes text
    StatusText,         // status-bar part 0 becomes text
    StateLabel,         // the state label becomes text
    UncheckAutoSend,    // the auto-send box is unchecked (no click follows)
    KillAutoSendTimer,  // timer 1 is stopped
};

struct PortIndicatorChange {
    PortIndicator what;
    // What the caption, status part or label shows; what the lamp says to
    // assistive tools (its look says it to the eye).
    CString text;
};

// The engine calls an event may make, made in this order: signalStop when
// closing or destroyed; when opening, readSettings (which stores the lists'
// settings and gives their text), then open, then startMonitor only if open
// succeeded.
struct PortEngineCalls {
    std::function<void()> signalStop;
    std::function<CString()> readSettings;
    std::function<BOOL()> open;
    std::function<BOOL()> startMonitor;
};

struct PortEventOutcome {
    BOOL bPortOpen = FALSE;                    // the dialog's open flag afterwards
    std::optional<DWORD> dwEventMask;          // set on every press, before anything else
    std::vector<PortIndicatorChange> changes;  // in order; empty when nothing changes
};

// Runs one event of the open/close state machine: makes the engine calls the
// event needs and gives the new flag and the indicator changes.
PortEventOutcome OnPortEvent(BOOL bPortOpen, PortEvent event, const PortEngineCalls& engine);
