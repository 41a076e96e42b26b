// Opening the device a port name stands for, and saying why when it fails.
#pragma once

#include <memory>

#include "platform/port.h"

namespace platform {

// Opens the device COMn stands for (portnames.h). When it cannot be opened,
// the last error is set and one line goes to standard error naming COMn, the
// device and the system's reason, with how to get access when the reason is
// a permission: the Windows code alone cannot say which device was tried, nor
// tell "no permission" from "in use".
std::shared_ptr<Port> OpenComPort(int number);

} // namespace platform
