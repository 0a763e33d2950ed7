#include "partfiles.h"

#include <algorithm>
#include <QDir>
#include <QFile>
#include <QUuid>
#include <vector>

namespace calmcove {

namespace {

constexpr qint64 joinBlockSize = 1048576;

FileSystemError fileError(const QString& action, const QFile& file)
{
    return {QStringLiteral("Could not %1 %2: %3").arg(action, file.fileName(), file.errorString())};
}

} // namespace

QString temporaryDownloadPath(const QString& suffix)
{
    return QDir::tempPath() + QStringLiteral("/Calmcove-") +
           QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + suffix;
}

DownloadResult<QString> createWorkingFolder()
{
    const QString path = temporaryDownloadPath();
    if (!QDir().mkpath(path))
        return FileSystemError{QStringLiteral("Could not create the folder %1.").arg(path)};
    return path;
}

QString partFileName(int index)
{
    return QString::asprintf("%04d.part", index);
}

DownloadResult<QString> joinPartFiles(QList<FastURLDownloader::DownloadChunk> chunks)
{
    std::sort(chunks.begin(), chunks.end(),
              [](const auto& a, const auto& b) { return a.index < b.index; });

    QFile target(temporaryDownloadPath(QStringLiteral(".download")));
    if (!target.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return fileError(QStringLiteral("create"), target);
    const auto fail = [&target](DownloadError error) -> DownloadResult<QString> {
        target.close();
        target.remove();
        return error;
    };

    std::vector<char> block(joinBlockSize);
    for (const FastURLDownloader::DownloadChunk& chunk : chunks) {
        QFile part(chunk.fileURL.toLocalFile());
        if (!part.open(QIODevice::ReadOnly))
            return fail(fileError(QStringLiteral("open"), part));
        qint64 copied = 0;
        for (;;) {
            const qint64 count = part.read(block.data(), joinBlockSize);
            if (count < 0)
                return fail(fileError(QStringLiteral("read"), part));
            if (count == 0)
                break;
            if (target.write(block.data(), count) != count)
                return fail(fileError(QStringLiteral("write"), target));
            copied += count;
        }
        if (copied != chunk.range.count())
            return fail(URLImportError::downloadFailed);
    }
    if (!target.flush())
        return fail(fileError(QStringLiteral("write"), target));
    target.close();
    return target.fileName();
}

} // namespace calmcove
