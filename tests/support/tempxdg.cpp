#include "tempxdg.h"

#include <cstdlib>
#include <QDir>

namespace calmcove::test {

namespace {
QString g_root;
}

QString temporaryXdgRoot()
{
    return g_root;
}

TemporaryXdgDirectories::TemporaryXdgDirectories()
    : m_root(QDir::tempPath() + QStringLiteral("/calmcove-test-XXXXXX"))
{
    g_root = m_root.path();
    const auto point = [](const char* variable, const char* folder) {
        const QString path = g_root + QLatin1Char('/') + QLatin1String(folder);
        QDir().mkpath(path);
        ::setenv(variable, QFile::encodeName(path).constData(), 1);
    };
    point("XDG_DATA_HOME", "data");
    point("XDG_CONFIG_HOME", "config");
    point("XDG_CACHE_HOME", "cache");
    point("TMPDIR", "tmp");
    // The runtime directory holds the single-instance socket: never reach the user's own.
    point("XDG_RUNTIME_DIR", "runtime");
    // The session bus is the user's too: tests that want one start their own.
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    QFile::setPermissions(g_root + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TemporaryXdgDirectories::~TemporaryXdgDirectories()
{
    g_root.clear();
}

} // namespace calmcove::test
