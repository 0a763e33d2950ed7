#pragma once

// The values the parallel ranged downloader hands around: its time-outs, the byte ranges
// it splits a file into, what a probe learnt, a finished range and the finished file.
// Shared by the downloader's front (FastURLDownloader) and its worker side.

#include "downloader/downloadresult.h"
#include "platform/diskspace.h"

#include <chrono>
#include <functional>
#include <QList>
#include <QString>
#include <QUrl>

namespace calmcove {

// Size of one range (2 MiB), and how many ranges are fetched at once at most.
constexpr qint64 downloadChunkSize = 2097152;
constexpr int maxParallelDownloadChunks = 6;

struct DownloadTimeouts
{
    // Longest silence of a HEAD probe, and of any other request, before it fails.
    std::chrono::milliseconds probe{15000};
    std::chrono::milliseconds request{90000};
    // Longest time one request may take in all, waiting for connectivity included.
    std::chrono::milliseconds resource{600000};
};

// Where one download writes and how much it may take.
struct DownloadLimits
{
    // The folder of the working files and of the result; Calmcove's temporary folder when
    // empty. Give one on the file system where the file is to stay, so it can be renamed.
    QString folder{};
    // The most bytes the file may have; a longer declared length fails at once, a longer
    // body is cut. -1: no cap.
    qint64 maximumBytes = -1;
    // Folders whose free space must stay above `reserve` before and while writing (the
    // working folder is always checked).
    QStringList reservedFolders{};
    DiskReserve reserve{};

    bool operator==(const DownloadLimits&) const = default;
};

// A closed range of byte offsets, first...last.
struct ByteRange
{
    qint64 first = 0;
    qint64 last = -1;
    qint64 count() const { return last - first + 1; }
    bool operator==(const ByteRange&) const = default;
};

// What the HEAD probe learnt: the answer, the length of the file (-1 when the server
// sends none) and whether the server accepts byte ranges.
struct DownloadProbe
{
    DownloadResponse response;
    qint64 expectedContentLength = -1;
    bool supportsByteRanges = false;
    bool operator==(const DownloadProbe&) const = default;
};

// One finished range: its 0-based position in the file, its bytes and its part file.
struct DownloadChunk
{
    int index = 0;
    ByteRange range;
    QUrl fileURL;
    bool operator==(const DownloadChunk&) const = default;
};

// The finished file, "<temp>/Calmcove-<UUID>.download", which the caller owns and must
// move or delete, and the answer it came with: the probe's on the parallel path, the
// GET's on the plain path. The plain path keeps whatever status the server gave (a 404
// page is a file too): judging it is the caller's.
struct DownloadedFile
{
    QUrl fileURL;
    DownloadResponse response;
    QString path() const { return fileURL.toLocalFile(); }
    bool operator==(const DownloadedFile&) const = default;
};

// Bytes written so far and bytes expected (-1 when unknown).
using DownloadProgressHandler = std::function<void(qint64 bytesWritten, qint64 bytesExpected)>;

// The ranges of a file of `totalBytes`: [0, C-1], [C, 2C-1], ... with C = downloadChunkSize,
// the last one ending at totalBytes - 1; none below 1 byte.
QList<ByteRange> downloadChunkRanges(qint64 totalBytes);

} // namespace calmcove
