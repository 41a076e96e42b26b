#include "platform/portopen.h"

#include <cerrno>
#include <pwd.h>
#include <string>
#include <string_view>
#include <unistd.h>

#include "platform/diagnostic.h"
#include "platform/errors.h"
#include "platform/portnames.h"

namespace platform {
namespace {

// The name to put in the advice, so that it can be typed as it stands.
std::string UserName()
{
    passwd entry;
    passwd* found = nullptr;
    char strings[1024];
    if (::getpwuid_r(::getuid(), &entry, strings, sizeof strings, &found) == 0 && found)
        return found->pw_name;
    return "$USER";
}

void SayWhy(int number, const std::string& path, DWORD code, int error)
{
    std::string line = "COM" + std::to_string(number) + ": cannot open " + path + ": ";
    if (error) {
        char reason[256];
        line += SystemReason(error, reason);
    } else {
        // The layer's own refusal (a setting the device cannot take).
        char* text = nullptr;
        if (FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0,
                           reinterpret_cast<LPSTR>(&text), 0, nullptr)) {
            std::string_view shown(text);
            while (!shown.empty() && (shown.back() == '\r' || shown.back() == '\n'))
                shown.remove_suffix(1);
            line += shown;
            LocalFree(text);
        } else {
            line += "error " + std::to_string(code);
        }
    }
    // Debian gives serial devices to the group dialout; a new membership
    // counts from the next login.
    if (error == EACCES || error == EPERM)
        line += "; on Debian, serial devices are open to the group dialout: as root, run \"adduser " + UserName()
            + " dialout\", then log in again";
    Diagnose(line);
}

} // namespace

std::shared_ptr<Port> OpenComPort(int number)
{
    const std::string path = DevicePathOf(number);
    std::shared_ptr<Port> port = Port::Open(path.c_str());
    if (!port) {
        const DWORD code = GetLastError();
        const int error = LastErrno();
        SayWhy(number, path, code, error);
        // The caller reads the error of the opening, not of the report.
        error ? FailWithErrno(error) : Fail(code);
    }
    return port;
}

} // namespace platform
