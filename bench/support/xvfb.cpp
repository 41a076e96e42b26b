#include "bench/support/xvfb.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace benchsupport {

Xvfb::~Xvfb()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
}

bool Xvfb::start()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        std::perror("pipe");
        return false;
    }
    m_pid = ::fork();
    if (m_pid < 0) {
        std::perror("fork");
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    if (m_pid == 0) {
        // Its notes on displays other programs hold are no news here.
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0)
            ::dup2(null, STDERR_FILENO);
        // The write end, kept open across exec, where Xvfb writes its display.
        const int out = ::dup(fds[1]);
        const std::string fd = std::to_string(out);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    // Xvfb writes its display number once it accepts clients; an end of the
    // pipe first means it did not start.
    std::string number;
    char c = 0;
    for (;;) {
        const ssize_t n = ::read(fds[0], &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n != 1 || c == '\n')
            break;
        number += c;
    }
    ::close(fds[0]);
    if (number.empty()) {
        std::fprintf(stderr, "Xvfb did not start (is the xvfb package installed? scripts/setup bench)\n");
        return false;
    }
    ::setenv("DISPLAY", (":" + number).c_str(), 1);
    return true;
}

} // namespace benchsupport
