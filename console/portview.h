// What the window shows of the port after each press of the open/close toggle
// (and at start-up): the lamp, the toggle's caption, the state label, status-bar
// part 0 and the auto-send box. Window-free: the dialog finds the phase by
// calling the engine and makes the window show the view of it.
#pragma once

#include <optional>

#include "framework/cstring.h"

enum class PortPhase {
    ClosedAtStartUp,
    Open,
    OpenFailed,       // the device could not be opened
    ThreadFailed,     // the device was opened, but no monitor thread started
    ClosedByClosing,
};

struct PortLamp {
    bool bOpen = false;  // the open-port icon, else the closed-port one
    CString strSays;     // what the lamp says to assistive tools
};

struct PortView {
    // Nothing where the window keeps what it shows: a failed press leaves
    // the closed-port look it started from.
    std::optional<PortLamp> lamp;
    std::optional<CString> caption;  // the toggle's
    CString strStateLabel;
    CString strStatus;               // status-bar part 0
    // The auto-send box unchecked (no click follows) and its timer killed.
    bool bStopAutoSend = false;
};

// The view of a phase; strSettings is the settings text of the last opening
// ("1.9600.N.8.1"), which the open port shows.
PortView PortViewOf(PortPhase phase, const CString& strSettings);
