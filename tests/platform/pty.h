// A pseudo-terminal standing in for a serial device (the test holds the
// master, the far end of the line, and names the slave as a COM port), and
// the waits the port and engine tests share. No Qt.
#pragma once

#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <string_view>

#include "platform/winbase.h"

// How long a test waits for something that should come at once before it
// calls it a hang. Never a measurement.
inline constexpr DWORD kHang = 10000;

// Writes all of `bytes` to a descriptor; false on an error.
bool WriteAll(int fd, std::string_view bytes);
// Reads until `count` bytes have come, the end, or nothing for kHang.
std::string ReadFrom(int fd, size_t count);

class PtyLine {
public:
    PtyLine();
    ~PtyLine() { HangUp(); }
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    // Points TAVRIN_COM<number> at the slave.
    void NameAs(int number) const { setenv(("TAVRIN_COM" + std::to_string(number)).c_str(), m_slave.c_str(), 1); }
    const std::string& slavePath() const { return m_slave; }
    int master() const { return m_master; }

    void Send(std::string_view bytes) const;     // from the device to the port
    // What the port wrote, waited for.
    std::string Receive(size_t count) const { return ReadFrom(m_master, count); }
    void HangUp();                               // the device goes away

private:
    int m_master = -1;
    std::string m_slave;
};

// Opens "COM<number>" for overlapped reading and writing, unshared.
HANDLE OpenCom(int number);

// A test with a line named COM<kNumber> and its port open on it.
class PortOnLine : public testing::Test {
public:
    static constexpr int kNumber = 7;

protected:
    void SetUp() override;
    void TearDown() override { CloseHandle(m_port); }  // refused when closed already

    PtyLine m_line;
    HANDLE m_port = INVALID_HANDLE_VALUE;
};

// Whether a program that locks the device, as well-behaved ones do, would be
// kept out of it now.
bool LineLocked(const std::string& path);

// The exit status of `body` run in a child that has given up root (the tests
// run as root, whom neither permissions nor TIOCEXCL stop); 2 when it could
// not give it up.
int ExitStatusAsNobody(const std::function<int()>& body);

// An OVERLAPPED with an event of its own.
struct Overlapped : OVERLAPPED {
    Overlapped() : OVERLAPPED{} { hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    ~Overlapped() { CloseHandle(hEvent); }
    Overlapped(const Overlapped&) = delete;
    Overlapped& operator=(const Overlapped&) = delete;
    bool Signalled() const { return WaitForSingleObject(hEvent, 0) == WAIT_OBJECT_0; }
    bool AwaitSignal() const { return WaitForSingleObject(hEvent, kHang) == WAIT_OBJECT_0; }
};

// Bytes in the port's input queue.
DWORD InQueue(HANDLE port);
// Waits through comm events, EV_RXCHAR among them, until at least `count`
// bytes are queued. False on a hang.
bool AwaitQueued(HANDLE port, DWORD count);
// Reads `count` bytes, waiting for them as the port's timeouts say.
std::string ReadPort(HANDLE port, DWORD count);
// A recognisable run of letters.
std::string Pattern(size_t size);
