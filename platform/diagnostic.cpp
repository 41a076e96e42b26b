#include "platform/diagnostic.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <unistd.h>

namespace platform {

void Diagnose(std::string_view text)
{
    std::string line = program_invocation_short_name;
    line.append(": ").append(text).append("\n");
    std::string_view rest = line;
    while (!rest.empty()) {
        const ssize_t written = ::write(STDERR_FILENO, rest.data(), rest.size());
        if (written < 0 && errno == EINTR)
            continue;
        // Standard error closed or full: there is nowhere else to say it.
        if (written <= 0)
            return;
        rest.remove_prefix(static_cast<size_t>(written));
    }
}

std::string_view SystemReason(int error, char (&buffer)[256])
{
    return ::strerror_r(error, buffer, sizeof buffer); // the GNU form: returns the text
}

} // namespace platform
