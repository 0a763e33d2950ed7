#include "tempxdg.h"

#include <cstdlib>
#include <QDir>
#include <QTemporaryDir>

namespace calmcove::test {

namespace {
QTemporaryDir* g_root = nullptr;
}

QString temporaryXdgRoot()
{
    return g_root ? g_root->path() : QString();
}

void useTemporaryXdgDirectories()
{
    g_root = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/calmcove-test-XXXXXX"));
    const QString root = g_root->path();
    const auto point = [&root](const char* variable, const char* folder) {
        const QString path = root + QLatin1Char('/') + QLatin1String(folder);
        QDir().mkpath(path);
        ::setenv(variable, QFile::encodeName(path).constData(), 1);
    };
    point("XDG_DATA_HOME", "data");
    point("XDG_CONFIG_HOME", "config");
    point("XDG_CACHE_HOME", "cache");
    point("TMPDIR", "tmp");
    // The runtime directory holds the single-instance socket: never reach the user's own.
    point("XDG_RUNTIME_DIR", "runtime");
    QFile::setPermissions(root + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

} // namespace calmcove::test
