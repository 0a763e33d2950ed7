#pragma once

// The downloader's files in the temporary directory: the "Calmcove-<UUID>" working folder
// of a parallel download with its "%04d.part" files, the "Calmcove-<UUID>.download"
// results, and the join of part files into one result. Worker thread only.

#include "downloader/downloadtypes.h"

#include <map>
#include <optional>
#include <QFile>
#include <QString>
#include <vector>

namespace calmcove {

// "<temp>/Calmcove-<UPPER-CASE UUID>" followed by `suffix`.
QString temporaryDownloadPath(const QString& suffix = {});

// Creates a fresh working folder; its path.
DownloadResult<QString> createWorkingFolder();

// "0007.part" for index 7.
QString partFileName(int index);

// Joins the part files of one parallel download, in index order and in 1 MiB blocks,
// into a new "Calmcove-<UUID>.download" file. Each part is joined as soon as every part
// before it is in, and removed then, so that the join runs while later ranges are still
// arriving. The result file is removed again unless finish() succeeds.
class PartFileJoiner
{
public:
    PartFileJoiner();
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
};

} // namespace calmcove
