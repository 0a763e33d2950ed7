#include "privatesessionbus.h"

#include <csignal>
#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

namespace calmcove::test {

PrivateSessionBus::PrivateSessionBus()
{
    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--session"), QStringLiteral("--fork"),
                  QStringLiteral("--print-address=1"), QStringLiteral("--print-pid=1")});
    if (!daemon.waitForFinished(10000) || daemon.exitCode() != 0)
        return;
    const QStringList lines = QString::fromUtf8(daemon.readAllStandardOutput())
                                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (lines.size() < 2)
        return;
    m_address = lines.at(0).trimmed();
    m_pid = lines.at(1).trimmed().toLongLong();
}

PrivateSessionBus::~PrivateSessionBus()
{
    if (m_pid > 0)
        ::kill(pid_t(m_pid), SIGTERM);
}

QProcessEnvironment PrivateSessionBus::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
    return environment;
}

ClientResult runBusClient(const PrivateSessionBus& bus, const QString& program,
                          const QStringList& arguments, int timeoutMs)
{
    QProcess process;
    process.setProcessEnvironment(bus.environment());
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    process.start(program, arguments);
    if (process.state() != QProcess::NotRunning)
        loop.exec();
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
    }
    QCoreApplication::processEvents();
    ClientResult result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    result.error = QString::fromUtf8(process.readAllStandardError()).trimmed();
    return result;
}

} // namespace calmcove::test
