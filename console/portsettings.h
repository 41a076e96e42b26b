// The line settings chosen in the five settings lists and their settings
// text. Window-free: the dialog reads the lists, what they mean is decided here.
#pragma once

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
