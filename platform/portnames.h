// Which device a port name stands for.
//
// COMn, n from 1 to 255, is, in this order:
//  1. the device named by the environment variable TAVRIN_COMn, when it is set;
//  2. the device named for COMn in the ports file,
//     $XDG_CONFIG_HOME/tavrin/ports.conf, or ~/.config/tavrin/ports.conf
//     when XDG_CONFIG_HOME is unset, empty or not an absolute path;
//  3. /dev/ttyS{n-1}.
// Both are read afresh at each opening, so an adapter that comes back under
// another name is found without restarting the program.
//
// The ports file holds lines "COMn=DEVICE", DEVICE an absolute path such as
// /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0, a name that
// stays the same whichever USB socket the adapter is in. '#' starts a comment;
// blank lines and blanks around the parts are allowed; a port named twice
// keeps its first line. A missing file is normal. A file that cannot be read
// and a line of another form are reported on standard error, with the file
// (and line), and skipped. A problem is reported when a reading of the file
// finds it and the reading before did not: a mistake left in the file is said
// once, not at every opening, and said again if it is fixed and comes back.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

std::string DevicePathOf(int number);

// What the text of a ports file at `path` holds, as DevicePathOf reads it:
// the device of each port it names, and what is said of each line it skips
// ("<path>:<line>: <why>; line skipped"), in the order of the lines.
struct PortsFileEntries {
    std::map<int, std::string> devices;
    std::vector<std::string> problems;
};
PortsFileEntries ParsePortsFile(const std::string& path, std::string_view text);

} // namespace platform
