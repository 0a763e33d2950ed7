#include "xvfbsession.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QStandardPaths>

namespace calmcove::test {

XvfbSession::XvfbSession(QSize screen)
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()) {
        m_failure = QStringLiteral("Xvfb is not installed");
        return;
    }
    for (int number = 90 + int(QCoreApplication::applicationPid() % 200); number < 400;
         number += 7) {
        if (QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
            continue;
        const QString display = QStringLiteral(":%1").arg(number);
        m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_server.start(QStringLiteral("Xvfb"),
                       {display, QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                        QStringLiteral("-screen"), QStringLiteral("0"),
                        QStringLiteral("%1x%2x24").arg(screen.width()).arg(screen.height())});
        const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(number);
        const QDeadlineTimer deadline(15000);
        while (m_server.state() != QProcess::NotRunning && !QFileInfo::exists(socket) &&
               !deadline.hasExpired()) {
            m_server.waitForFinished(50);
        }
        if (m_server.state() == QProcess::Running && QFileInfo::exists(socket)) {
            m_display = display;
            return;
        }
        m_server.kill();
        m_server.waitForFinished();
    }
    m_failure = QStringLiteral("Xvfb did not start");
}

XvfbSession::~XvfbSession()
{
    if (m_server.state() == QProcess::NotRunning)
        return;
    m_server.terminate();
    if (!m_server.waitForFinished(5000)) {
        m_server.kill();
        m_server.waitForFinished();
    }
}

} // namespace calmcove::test
