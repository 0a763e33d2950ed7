#include "apppaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

namespace calmcove::AppPaths {

QString dataDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Calmcove");
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
