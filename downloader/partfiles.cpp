#include "partfiles.h"

#include "platform/apppaths.h"

#include <algorithm>
#include <QDir>
#include <QFile>
#include <QUuid>
#include <vector>

namespace calmcove {

namespace {

constexpr qint64 joinBlockSize = 1048576;
// How many bytes are written between two looks at the free space.
constexpr qint64 spaceCheckInterval = qint64(4) * 1048576;

FileSystemError fileError(const QString& action, const QFile& file)
{
    return {QStringLiteral("Could not %1 %2: %3").arg(action, file.fileName(), file.errorString())};
}

} // namespace

QString downloadFolder(const DownloadLimits& limits)
{
    return limits.folder.isEmpty() ? AppPaths::temporaryDirectory() : limits.folder;
}

QString temporaryDownloadPath(const QString& folder, const QString& suffix)
{
    return folder + QStringLiteral("/Calmcove-") +
           QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + suffix;
}

DownloadResult<QString> createWorkingFolder(const QString& folder)
{
    const QString path = temporaryDownloadPath(folder);
    if (!QDir().mkpath(path))
        return FileSystemError{QStringLiteral("Could not create the folder %1.").arg(path)};
    return path;
}

QString partFileName(int index)
{
    return QString::asprintf("%04d.part", index);
}

WriteBudget::WriteBudget(DownloadLimits limits, QString workingFolder)
    : m_limits(std::move(limits)), m_folders(m_limits.reservedFolders)
{
    m_folders.append(std::move(workingFolder));
}

std::optional<DownloadError> WriteBudget::admit(qint64 declaredLength) const
{
    if (m_limits.maximumBytes >= 0 && declaredLength > m_limits.maximumBytes)
        return DownloadFailure::fileTooLarge;
    if (!roomFor(std::max<qint64>(declaredLength, 0), m_folders, m_limits.reserve))
        return DownloadFailure::notEnoughDiskSpace;
    return std::nullopt;
}

std::optional<DownloadError> WriteBudget::spend(qint64 size, qint64 fileBytes, bool copy)
{
    if (!copy && m_limits.maximumBytes >= 0 && fileBytes + size > m_limits.maximumBytes)
        return DownloadFailure::fileTooLarge;
    m_sinceCheck += size;
    if (m_sinceCheck >= spaceCheckInterval) {
        m_sinceCheck = 0;
        if (!roomFor(spaceCheckInterval, m_folders, m_limits.reserve))
            return DownloadFailure::notEnoughDiskSpace;
    }
    return std::nullopt;
}

void removeDownloadFiles(const QString& folder)
{
    const QFileInfoList entries =
        QDir(folder).entryInfoList({QStringLiteral("Calmcove-*")}, QDir::AllEntries | QDir::Hidden);
    for (const QFileInfo& entry : entries) {
        if (entry.isDir() && !entry.isSymLink())
            QDir(entry.filePath()).removeRecursively();
        else
            QFile::remove(entry.filePath());
    }
}

PartFileJoiner::PartFileJoiner(const QString& folder, WriteBudget* budget)
    : m_target(temporaryDownloadPath(folder, QStringLiteral(".download"))), m_budget(budget)
{}

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
        if (auto refused = m_budget->spend(count, m_joined, true))
            return refused;
        if (m_target.write(m_block.data(), count) != count)
            return fileError(QStringLiteral("write"), m_target);
        copied += count;
        m_joined += count;
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
