#pragma once

// The downloader's files in the temporary directory: the "Calmcove-<UUID>" working folder
// of a parallel download with its "%04d.part" files, the "Calmcove-<UUID>.download"
// results, and the join of part files into one result. Worker thread.

#include "albums/downloadresult.h"
#include "albums/fasturldownloader.h"

#include <QList>
#include <QString>

namespace calmcove {

// "<temp>/Calmcove-<UPPER-CASE UUID>" followed by `suffix`.
QString temporaryDownloadPath(const QString& suffix = {});

// Creates a fresh working folder; its path.
DownloadResult<QString> createWorkingFolder();

// "0007.part" for index 7.
QString partFileName(int index);

// Copies the chunks' part files, in index order, into a new result file in 1 MiB blocks;
// the result's path. A part whose size is not its range's fails as downloadFailed. No
// result file remains after a failure. The parts are left for the caller to remove.
DownloadResult<QString> joinPartFiles(QList<FastURLDownloader::DownloadChunk> chunks);

} // namespace calmcove
