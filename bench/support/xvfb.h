// An X server of a benchmark's own (Xvfb), so that the real window draws real
// pixels without a desktop. It ends with the object.
#pragma once

#include <sys/types.h>

namespace benchsupport {

class Xvfb {
public:
    Xvfb() = default;
    ~Xvfb();
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    // Starts it and sets DISPLAY to it; false, said on standard error, when
    // it did not come up.
    bool start();
    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
};

} // namespace benchsupport
