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

PartFileJoiner::PartFileJoiner() : m_target(temporaryDownloadPath(QStringLiteral(".download"))) {}

PartFileJoiner::~PartFileJoiner()
{
    if (!m_finished && m_target.isOpen()) {
        m_target.close();
        m_target.remove();
    }
}

std::optional<DownloadError> PartFileJoiner::open()
{
    if (!m_target.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return fileError(QStringLiteral("create"), m_target);
    return std::nullopt;
}

std::optional<DownloadError> PartFileJoiner::add(DownloadChunk chunk)
{
    const int index = chunk.index;
    m_waiting.emplace(index, std::move(chunk));
    for (auto next = m_waiting.find(m_next); next != m_waiting.end();
         next = m_waiting.find(m_next)) {
        if (auto error = append(next->second))
            return error;
        QFile::remove(next->second.fileURL.toLocalFile());
        m_waiting.erase(next);
        ++m_next;
    }
    return std::nullopt;
}

std::optional<DownloadError> PartFileJoiner::append(const DownloadChunk& chunk)
{
    if (m_block.empty())
        m_block.resize(joinBlockSize);
    QFile part(chunk.fileURL.toLocalFile());
    if (!part.open(QIODevice::ReadOnly))
        return fileError(QStringLiteral("open"), part);
    qint64 copied = 0;
    for (;;) {
        const qint64 count = part.read(m_block.data(), joinBlockSize);
        if (count < 0)
            return fileError(QStringLiteral("read"), part);
        if (count == 0)
            break;
        if (m_target.write(m_block.data(), count) != count)
            return fileError(QStringLiteral("write"), m_target);
        copied += count;
    }
    if (copied != chunk.range.count())
        return DownloadFailure::downloadFailed;
    return std::nullopt;
}

DownloadResult<QString> PartFileJoiner::finish(int chunkCount)
{
    if (m_next != chunkCount || !m_waiting.empty())
        return DownloadFailure::downloadFailed;
    if (!m_target.flush())
        return fileError(QStringLiteral("write"), m_target);
    m_target.close();
    m_finished = true;
    return m_target.fileName();
}

} // namespace calmcove
