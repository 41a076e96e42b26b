// The termios speed a port should have set on its line for a baud rate. No Qt.
#pragma once

#include <termios.h>

namespace testsupport {

// B0 for a rate the tests do not use.
inline speed_t SpeedOf(unsigned long baud)
{
    switch (baud) {
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    default: return B0;
    }
}

} // namespace testsupport
