#include "apppaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace calmcove::AppPaths {

QString dataDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Calmcove");
}

QString temporaryDirectory()
{
    // In the user's own cache rather than the shared /tmp: nobody else can prepare the
    // folder, each XDG home (and so each single-instance scope) has its own, and large
    // downloads land on the disk of the folders they are renamed into.
    const QString path = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                         QStringLiteral("/Calmcove/temporary");
    if (!QFileInfo(path).isDir()) {
        QDir().mkpath(path);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    return path;
}

void clearTemporaryDirectory()
{
    QDir folder(temporaryDirectory());
    const QFileInfoList entries =
        folder.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        if (entry.isDir() && !entry.isSymLink())
            QDir(entry.filePath()).removeRecursively();
        else
            QFile::remove(entry.filePath());
    }
}

QString resourceDirectory()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                           QStringLiteral("/../share/calmcove"));
}

QString resourcePath(const QString& relativePath)
{
    return resourceDirectory() + QLatin1Char('/') + relativePath;
}

} // namespace calmcove::AppPaths
