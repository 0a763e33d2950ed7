#pragma once

// The downloader's files in a download's folder: the "Calmcove-<UUID>" working folder of a
// parallel download with its "%04d.part" files, the "Calmcove-<UUID>.download" results, the
// join of part files into one result, and the watch on the size cap and the free space.
// Worker thread only.

#include "downloader/downloadtypes.h"

#include <map>
#include <optional>
#include <QFile>
#include <QString>
#include <vector>

namespace calmcove {

// `limits.folder`, or Calmcove's temporary folder when that is empty.
QString downloadFolder(const DownloadLimits& limits);

// "<folder>/Calmcove-<UPPER-CASE UUID>" followed by `suffix`.
QString temporaryDownloadPath(const QString& folder, const QString& suffix = {});

// Creates a fresh working folder inside `folder`; its path.
DownloadResult<QString> createWorkingFolder(const QString& folder);

// Counts the bytes one download writes, in every file it writes: fails them as
// fileTooLarge past the cap and as notEnoughDiskSpace once a checked folder's free space
// would fall below its reserve (asked again after every few MiB).
class WriteBudget
{
public:
    WriteBudget(DownloadLimits limits, QString workingFolder);

    // Before writing: a declared length (-1: unknown) above the cap, or more than the
    // folders have room for, fails.
    std::optional<DownloadError> admit(qint64 declaredLength) const;
    // Before writing `size` more bytes of the file (`fileBytes` counts the file's bytes so
    // far, `copy` marks bytes that are a second copy, such as a join, which do not count
    // against the cap).
    std::optional<DownloadError> spend(qint64 size, qint64 fileBytes, bool copy = false);

private:
    DownloadLimits m_limits;
    QStringList m_folders;
    qint64 m_sinceCheck = 0;
};

// Removes the files a failed or abandoned download left in `folder`.
void removeDownloadFiles(const QString& folder);

// "0007.part" for index 7.
QString partFileName(int index);

// Joins the part files of one parallel download, in index order and in 1 MiB blocks,
// into a new "Calmcove-<UUID>.download" file. Each part is joined as soon as every part
// before it is in, and removed then, so that the join runs while later ranges are still
// arriving. The result file is removed again unless finish() succeeds.
class PartFileJoiner
{
public:
    // `budget` (not owned, outlives the joiner) is spent on the joined bytes.
    PartFileJoiner(const QString& folder, WriteBudget* budget);
    ~PartFileJoiner();
    PartFileJoiner(const PartFileJoiner&) = delete;
    PartFileJoiner& operator=(const PartFileJoiner&) = delete;

    // Creates the result file.
    std::optional<DownloadError> open();
    // Takes a finished range; joins every part that is next in line. A part whose size is
    // not its range's fails as downloadFailed.
    std::optional<DownloadError> add(DownloadChunk chunk);
    // After the last range: the result's path, once parts 0 to `chunkCount` - 1 are in.
    DownloadResult<QString> finish(int chunkCount);

private:
    std::optional<DownloadError> append(const DownloadChunk& chunk);

    QFile m_target;
    std::map<int, DownloadChunk> m_waiting;
    int m_next = 0;
    bool m_finished = false;
    std::vector<char> m_block;
    WriteBudget* m_budget;
    qint64 m_joined = 0;
};

} // namespace calmcove
