// The pure parts of the port driver: definition strings, the translation
// between DCBs and terminal settings, and comm events. No system calls here,
// so each can be tested on its own.
#pragma once

#include <cstdint>
#include <termios.h>

#include "platform/winbase.h"

namespace platform {

// BuildCommDCBA's parser: applies the text to a copy of *dcb and stores it
// only when the whole text is valid.
bool ParseCommDefinition(const char* text, DCB* dcb);

// The speed constant for a baud rate; false when termios has none.
bool SpeedFromBaud(DWORD baud, speed_t* speed);
DWORD BaudFromSpeed(speed_t speed); // 0 when not a speed of the table

// How long closing waits for `queued` bytes of output that the device still
// holds to go out: the time the line needs for them in the format and at the
// speed `t` holds, in whole milliseconds rounded up, at most
// kCloseDrainCapMs; 0 when the speed is none (B0) or not known.
inline constexpr DWORD kCloseDrainCapMs = 300;
DWORD CloseDrainMs(const termios& t, std::uint64_t queued);

// Builds the whole terminal setting for a DCB over `base` (raw bytes, no
// echo, no translation, the receiver on, modem status lines ignored). A device
// without a line gets none of the line format (data bits, parity, hardware
// flow): it cannot hold them. ERROR_SUCCESS, or the error SetCommState gives.
DWORD TermiosFromDcb(const DCB& dcb, bool hasLine, const termios& base, termios* out);

// Whether the device kept what was asked: speeds, the line format and the
// input flags the DCB controls.
bool HoldsSettings(const termios& asked, const termios& got);

// The modem output lines a DCB asks to raise and to drop (TIOCM_ bits).
void ModemLinesFromDcb(const DCB& dcb, int* raise, int* drop);

// Reads what the device holds into *dcb: the baud rate and stop bits always,
// the line format and software flow control when the device has a line. The
// other members keep what *dcb had.
void DcbFromTermios(const termios& t, bool hasLine, DCB* dcb);

// The DCB a port reports before anything was set: what the device holds,
// with the usual defaults for what it cannot tell.
DCB InitialDcb(const termios& t);

// What a port has seen, counted; comm events are the masked difference of two
// such snapshots.
struct CommSnapshot {
    std::uint64_t received = 0;  // bytes
    std::uint64_t flagChars = 0; // bytes equal to EvtChar
    DWORD errors = 0;            // CE_ bits not yet cleared by ClearCommError
};

DWORD CommEventsBetween(const CommSnapshot& before, const CommSnapshot& after, DWORD mask);

// The EV_ bits SetCommMask accepts: those the layer raises.
constexpr DWORD kSupportedEvents = EV_RXCHAR | EV_RXFLAG | EV_ERR;

} // namespace platform
