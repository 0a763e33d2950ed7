#pragma once

// Fetches one remote file over HTTP(S) into a folder of the caller's as fast as the server
// allows: a HEAD probe, then 2 MiB byte ranges fetched at most six at a time into part
// files that are joined in order, and one plain download whenever ranges cannot be used
// or fail. Network and disk work run on the downloader's own worker thread; the caller's
// coroutine and its progress callback stay on the thread that owns the downloader.

#include "downloader/downloadtypes.h"
#include "platform/networkpathmonitor.h"

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
class FastURLDownloader : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 chunkSize = downloadChunkSize;
    static constexpr int maxParallelChunks = maxParallelDownloadChunks;

    using Timeouts = DownloadTimeouts;

    using ByteRange = calmcove::ByteRange;
    using DownloadProbe = calmcove::DownloadProbe;
    using DownloadChunk = calmcove::DownloadChunk;
    using DownloadedFile = calmcove::DownloadedFile;
    using ProgressHandler = DownloadProgressHandler;

    explicit FastURLDownloader(QObject* parent = nullptr);
    // `networkMonitor` (not owned, must outlive the downloader; may be null) tells when
    // the system has no network at all.
    explicit FastURLDownloader(Timeouts timeouts, NetworkPathMonitor* networkMonitor = nullptr,
                               QObject* parent = nullptr);
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
    // `limits` name the folder the file is written in (Calmcove's temporary folder when
    // empty), the size cap (fileTooLarge) and the folders whose free space is kept above
    // the reserve (notEnoughDiskSpace); either failure removes what was written and is
    // never retried as a plain download.
    QCoro::Task<DownloadResult<DownloadedFile>>
    download(QUrl url, ProgressHandler progressHandler = {}, DownloadLimits limits = {});

    // Whether the system knows the network to be down. While it is, a request that fails
    // for want of connectivity is tried again every second until the resource time-out.
    // Follows the network monitor when one was given; tests set it by hand.
    void setNetworkUnavailable(bool unavailable) { m_offline->store(unavailable); }

    // The ranges of a file of `totalBytes`: [0, C-1], [C, 2C-1], ... with C = chunkSize,
    // the last one ending at totalBytes - 1; none below 1 byte.
    static QList<ByteRange> chunkRanges(qint64 totalBytes)
    {
        return downloadChunkRanges(totalBytes);
    }

private:
    QThread m_thread;
    DownloadEngine* m_engine = nullptr;
    // Set from the main thread's network information, read by the worker.
    std::shared_ptr<std::atomic<bool>> m_offline;
    NetworkPathMonitor* m_networkMonitor = nullptr;
    NetworkPathMonitor::WatchID m_networkWatch = 0;
};

} // namespace calmcove
