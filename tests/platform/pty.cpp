#include "pty.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/file.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

PtyLine::PtyLine()
{
    int slave = -1;
    char name[128];
    if (openpty(&m_master, &slave, name, nullptr, nullptr) != 0) {
        ADD_FAILURE() << "openpty: " << std::strerror(errno);
        return;
    }
    m_slave = name;
    // The far end sees raw bytes, as a device would.
    termios t;
    tcgetattr(m_master, &t);
    cfmakeraw(&t);
    tcsetattr(m_master, TCSANOW, &t);
    // Only the port under test holds the slave.
    close(slave);
}

void PtyLine::Send(std::string_view bytes) const
{
    ASSERT_TRUE(WriteAll(m_master, bytes)) << std::strerror(errno);
}

void PtyLine::HangUp()
{
    if (m_master >= 0)
        close(std::exchange(m_master, -1));
}

HANDLE OpenCom(int number)
{
    return CreateFileA(("COM" + std::to_string(number)).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

void PortOnLine::SetUp()
{
    m_line.NameAs(kNumber);
    m_port = OpenCom(kNumber);
    ASSERT_NE(m_port, INVALID_HANDLE_VALUE) << "error " << GetLastError();
}

bool LineLocked(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const bool locked = fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0;
    if (fd >= 0)
        close(fd);
    return locked;
}

int ExitStatusAsNobody(const std::function<int()>& body)
{
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(2);
        _exit(body());
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::string ReadFrom(int fd, size_t count)
{
    std::string got;
    char buffer[4096];
    for (pollfd p{fd, POLLIN, 0}; got.size() < count && poll(&p, 1, kHang) == 1;) {
        const ssize_t n = read(fd, buffer, std::min(sizeof buffer, count - got.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got.append(buffer, static_cast<size_t>(n));
    }
    return got;
}

DWORD InQueue(HANDLE port)
{
    COMSTAT stat{};
    return ClearCommError(port, nullptr, &stat) ? stat.cbInQue : 0;
}

bool AwaitQueued(HANDLE port, DWORD count)
{
    while (InQueue(port) < count) {
        Overlapped ov;
        DWORD events = 0;
        if (!WaitCommEvent(port, &events, &ov) && (GetLastError() != ERROR_IO_PENDING || !ov.AwaitSignal()))
            return false;
    }
    return true;
}

std::string ReadPort(HANDLE port, DWORD count)
{
    std::string got(count, '\0');
    Overlapped ov;
    DWORD done = 0;
    if (!ReadFile(port, got.data(), count, &done, &ov)) {
        EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
        EXPECT_TRUE(GetOverlappedResult(port, &ov, &done, TRUE));
    }
    got.resize(done);
    return got;
}

std::string Pattern(size_t size)
{
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>('a' + i % 26);
    return s;
}
