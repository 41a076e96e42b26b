#include "bench/support/devsim.h"

#include <QDir>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#ifndef DEVSIM_PROGRAM
#error "DEVSIM_PROGRAM must name the devsim program"
#endif

namespace benchsupport {

DevsimProcess::DevsimProcess() : m_dir(QDir::tempPath() + "/tavrin-devsim-" + QString::number(::getpid())) {}

DevsimProcess::~DevsimProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.closeWriteChannel();  // one reading its input ends with it
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
    }
    QDir(m_dir).removeRecursively();
}

bool DevsimProcess::start(const QStringList& arguments)
{
    if (!QDir().mkpath(m_dir)) {
        std::fprintf(stderr, "cannot make %s\n", qPrintable(m_dir));
        return false;
    }
    const QString link = m_dir + "/com1";
    m_process.setProgram(QString::fromUtf8(DEVSIM_PROGRAM));
    m_process.setArguments(QStringList{"--link", link, "--payload", "text", "--start", "byte"} + arguments);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start();
    // Its first line is the slave's path; the link names it.
    if (!m_process.waitForStarted(10000) || !readLine()) {
        std::fprintf(stderr, "devsim did not start\n");
        return false;
    }
    ::setenv("TAVRIN_COM1", link.toLocal8Bit().constData(), 1);
    return true;
}

std::optional<std::string> DevsimProcess::readLine()
{
    QEventLoop loop;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &loop, &QEventLoop::quit);
    QObject::connect(&m_process, &QProcess::finished, &loop, &QEventLoop::quit);
    guard.start(10000);
    while (!m_process.canReadLine() && guard.isActive() && m_process.state() == QProcess::Running)
        loop.exec();
    if (!m_process.canReadLine())
        return std::nullopt;
    return m_process.readLine().trimmed().toStdString();
}

} // namespace benchsupport
