#pragma once

// Fetches one remote file over HTTP(S) into the temporary directory as fast as the server
// allows: a HEAD probe, then 2 MiB byte ranges fetched at most six at a time into part
// files that are joined in order, and one plain download whenever ranges cannot be used
// or fail. Network and disk work run on the downloader's own worker thread; the caller's
// coroutine and its progress callback stay on the thread that owns the downloader.

#include "albums/downloadresult.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <QCoro/QCoroTask>
#include <QList>
#include <QObject>
#include <QThread>
#include <QUrl>

namespace calmcove {

class DownloadEngine;

struct FastURLDownloaderTimeouts
{
    // Longest silence of a HEAD probe, and of any other request, before it fails.
    std::chrono::milliseconds probe{15000};
    std::chrono::milliseconds request{90000};
    // Longest time one request may take in all, waiting for connectivity included.
    std::chrono::milliseconds resource{600000};
};

class FastURLDownloader : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 chunkSize = 2097152;
    static constexpr int maxParallelChunks = 6;

    using Timeouts = FastURLDownloaderTimeouts;

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
    using ProgressHandler = std::function<void(qint64 bytesWritten, qint64 bytesExpected)>;

    explicit FastURLDownloader(QObject* parent = nullptr);
    explicit FastURLDownloader(Timeouts timeouts, QObject* parent = nullptr);
    // Aborts every download still running; their callers resume later, from the event
    // loop, with an OperationCanceledError. Blocks until the worker thread has ended.
    ~FastURLDownloader() override;

    // Fetches `url`. Call it, and await it, on the downloader's thread. `progressHandler`
    // runs on that thread too, as queued calls in order, all of them before the result
    // arrives; calls that would pile up are merged into the latest figures. Ranges report
    // once per finished range; the plain download as bytes arrive; a fallback to the plain
    // download starts again from zero. Errors: invalidURL for anything but http(s); else
    // the plain download's: transport errors as Qt names them (OperationCanceledError once
    // the downloader is gone), file-system errors, downloadFailed for a body shorter than
    // its Content-Length. Parallel-path errors never reach the caller.
    QCoro::Task<DownloadResult<DownloadedFile>> download(QUrl url,
                                                         ProgressHandler progressHandler = {});

    // Whether the system knows the network to be down. While it is, a request that fails
    // for want of connectivity is tried again every second until the resource time-out.
    // Follows QNetworkInformation by itself once a backend has been loaded; tests set it.
    void setNetworkUnavailable(bool unavailable) { m_offline->store(unavailable); }

    // The ranges of a file of `totalBytes`: [0, C-1], [C, 2C-1], ... with C = chunkSize,
    // the last one ending at totalBytes - 1; none below 1 byte.
    static QList<ByteRange> chunkRanges(qint64 totalBytes);

private:
    void followReachability();

    QThread m_thread;
    DownloadEngine* m_engine = nullptr;
    // Set from the main thread's network information, read by the worker.
    std::shared_ptr<std::atomic<bool>> m_offline;
    bool m_followsReachability = false;
};

} // namespace calmcove
