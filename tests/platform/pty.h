// A pseudo-terminal standing in for a serial device: the test holds the
// master (the far end of the line) and names the slave as a COM port.
#pragma once

#include <string>
#include <string_view>

#include "platform/winbase.h"

class PtyLine {
public:
    PtyLine();
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    // Points TAVRIN_COM<number> at the slave.
    void NameAs(int number) const;
    const std::string& slavePath() const { return m_slave; }
    int master() const { return m_master; }

    void Send(std::string_view bytes) const;     // from the device to the port
    std::string Receive(size_t count) const;     // what the port wrote, blocking
    void HangUp();                               // the device goes away

private:
    int m_master = -1;
    std::string m_slave;
};

// Opens "COM<number>" for overlapped reading and writing, unshared.
HANDLE OpenCom(int number);
