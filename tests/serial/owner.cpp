// The test dialog's message map is defined once in each program that uses it.
#define FIXTURE_MESSAGE_MAP
#include "owner.h"

#include <pthread.h>
#include <thread>

namespace owner {

BEGIN_MESSAGE_MAP(COwnerDlg, fixture::CTestDlg)
    ON_MESSAGE(WM_PORT_RXCHAR, &COwnerDlg::OnRxChar)
    ON_MESSAGE(WM_PORT_RXFLAG, &COwnerDlg::OnRxFlag)
    ON_MESSAGE(WM_PORT_ERR, &COwnerDlg::OnErr)
END_MESSAGE_MAP()

LRESULT COwnerDlg::Record(UINT msg, WPARAM wParam, LPARAM lParam)
{
    m_messages.push_back(Message{msg, wParam, lParam});
    if (m_onMessage)
        m_onMessage(m_messages.back());
    return 0;
}

std::string COwnerDlg::Bytes() const
{
    std::string bytes;
    for (const Message& m : m_messages)
        if (m.msg == WM_PORT_RXCHAR)
            bytes += static_cast<char>(m.wParam);
    return bytes;
}

void BoxRecorder::NoteLock()
{
    if (CCommPort* port = m_port.load()) {
        std::thread([&] {
            if (pthread_mutex_trylock(&port->m_csPortSync.Mutex) == 0)
                pthread_mutex_unlock(&port->m_csPortSync.Mutex);
            else
                m_heldAtABox = true;
        }).join();
    }
}

std::string ReportText(const char* operation, DWORD error, int port)
{
    char* system = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, error, 0,
                   reinterpret_cast<LPSTR>(&system), 0, nullptr);
    const std::string text = std::string("WARNING:  ") + operation + " Failed with the following error: \n"
        + (system ? system : "?") + "\nPort: " + std::to_string(port) + "\n";
    LocalFree(system);
    return text;
}

} // namespace owner
