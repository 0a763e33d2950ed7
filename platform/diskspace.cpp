#include "diskspace.h"

#include <algorithm>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/statvfs.h>

namespace calmcove {

std::optional<qint64> bytesAboveReserve(const QString& folder, const DiskReserve& reserve)
{
    QString existing = QFileInfo(folder).absoluteFilePath();
    while (!QFileInfo::exists(existing) && existing != QDir::rootPath())
        existing = QFileInfo(existing).absolutePath();
    struct statvfs info = {};
    if (::statvfs(QFile::encodeName(existing).constData(), &info) != 0)
        return std::nullopt;
    const qint64 total = qint64(info.f_blocks) * qint64(info.f_frsize);
    const qint64 available = qint64(info.f_bavail) * qint64(info.f_frsize);
    const qint64 kept = std::max(reserve.minimumBytes, qint64(double(total) * reserve.fraction));
    return available - kept;
}

bool roomFor(qint64 bytes, const QStringList& folders, const DiskReserve& reserve)
{
    return std::all_of(folders.cbegin(), folders.cend(), [&](const QString& folder) {
        const std::optional<qint64> room = bytesAboveReserve(folder, reserve);
        return !room || *room >= bytes;
    });
}

} // namespace calmcove
