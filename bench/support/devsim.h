// The devsim program as a process of a benchmark's own, on a link under
// $TMPDIR that COM1 is pointed at; it sends the text payload from the first
// byte it receives. Its CPU is its own, so a benchmark's figures are the
// program's alone. It ends with the object.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <optional>
#include <string>

namespace benchsupport {

class DevsimProcess {
public:
    DevsimProcess();
    ~DevsimProcess();
    DevsimProcess(const DevsimProcess&) = delete;
    DevsimProcess& operator=(const DevsimProcess&) = delete;

    // Starts it with `arguments` beside the link's and points COM1 at it;
    // false, said on standard error, when it did not come up.
    bool start(const QStringList& arguments);

    // The next line of its output, waited for with the event loop running
    // (a dialog keeps serving its port meanwhile); nullopt when none comes
    // within 10 s or it ends.
    std::optional<std::string> readLine();

    QProcess& process() { return m_process; }

private:
    QString m_dir;
    QProcess m_process;
};

} // namespace benchsupport
