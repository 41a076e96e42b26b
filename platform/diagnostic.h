// What the layer has to tell a person that no Windows call can carry: a line
// on standard error, as a driver writes to the system log.
#pragma once

#include <string_view>

namespace platform {

// Writes "<program>: <text>" and a line feed to standard error in one write,
// so that lines from two threads never interleave.
void Diagnose(std::string_view text);

// The system's text for an errno value, in the user's language.
std::string_view SystemReason(int error, char (&buffer)[256]);

} // namespace platform
