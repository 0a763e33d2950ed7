#include "smallfilesystem.h"

#include <QProcess>
#include <unistd.h>

namespace calmcove::test {

SmallFileSystem::SmallFileSystem(int mebibytes)
{
    if (::geteuid() != 0) {
        m_skipReason = QStringLiteral("mounting a small tmpfs needs root");
        return;
    }
    QProcess mount;
    mount.start(QStringLiteral("mount"),
                {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                 QStringLiteral("size=%1m").arg(mebibytes), QStringLiteral("tmpfs"),
                 m_folder.path()});
    m_mounted = mount.waitForFinished(20000) && mount.exitStatus() == QProcess::NormalExit &&
                mount.exitCode() == 0;
    if (!m_mounted)
        m_skipReason = QStringLiteral("mount -t tmpfs failed: ") +
                       QString::fromLocal8Bit(mount.readAllStandardError()).trimmed();
}

SmallFileSystem::~SmallFileSystem()
{
    if (m_mounted)
        QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), m_folder.path()});
}

} // namespace calmcove::test
