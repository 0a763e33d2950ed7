#pragma once

// The worker side of FastURLDownloader: the probe, the parallel download of byte ranges,
// the plain download and the fallbacks between them, and the mailbox that carries each
// download's progress and result back to the thread that awaits it. DownloadEngine lives
// on the downloader's worker thread and runs only there.

#include "downloader/downloadtypes.h"

#include <atomic>
#include <functional>
#include <memory>
#include <QCoro/QCoroTask>
#include <QMutex>
#include <QNetworkRequest>
#include <QObject>

namespace calmcove {

class HttpTransfers;
class TransferGroup;
class WriteBudget;

// Hands one download's progress and result to `receiver`'s thread as queued calls, in the
// order they were reported. Progress that arrives while a report is still queued only
// updates the figures that report will show.
class DownloadMailbox : public std::enable_shared_from_this<DownloadMailbox>
{
public:
    using Result = DownloadResult<DownloadedFile>;
    using Completion = std::function<void(Result)>;

    // `progress` and `completion` run on `receiver`'s thread.
    DownloadMailbox(QObject* receiver, DownloadProgressHandler progress, Completion completion);

    // Any thread.
    void reportProgress(qint64 bytesWritten, qint64 bytesExpected);
    void finish(Result result);
    // On `receiver`'s thread: nothing is posted to it after this returns.
    void detach();

private:
    void deliverProgress();

    QMutex m_mutex;
    QObject* m_receiver = nullptr;
    bool m_progressQueued = false;
    qint64 m_bytesWritten = 0;
    qint64 m_bytesExpected = -1;
    DownloadProgressHandler m_progress;
    Completion m_completion;
};

class DownloadEngine : public QObject
{
    Q_OBJECT

public:
    using Progress = std::function<void(qint64 bytesWritten, qint64 bytesExpected)>;

    DownloadEngine(DownloadTimeouts timeouts, std::shared_ptr<const std::atomic<bool>> offline);
    ~DownloadEngine() override;

    // Starts fetching `url` within `limits`; the result goes to `mailbox`.
    void start(QUrl url, DownloadLimits limits, std::shared_ptr<DownloadMailbox> mailbox);
    // Aborts every download (each still posts its result) and ends the thread once the
    // last one has finished.
    void shutDown();

private:
    QCoro::Task<> run(QUrl url, DownloadLimits limits, std::shared_ptr<DownloadMailbox> mailbox);
    QCoro::Task<DownloadResult<DownloadedFile>> download(QUrl url, DownloadLimits limits,
                                                         Progress progress);
    QCoro::Task<DownloadResult<DownloadProbe>> probe(QUrl url);
    QCoro::Task<DownloadResult<DownloadedFile>> downloadInParallel(QUrl url, DownloadProbe probe,
                                                                   QString folder,
                                                                   WriteBudget* budget,
                                                                   Progress progress);
    QCoro::Task<DownloadResult<DownloadChunk>>
    fetchRange(QUrl url, QByteArray ifRange, qint64 totalBytes, int index, ByteRange range,
               QString folder, WriteBudget* budget, std::shared_ptr<TransferGroup> group);
    QCoro::Task<DownloadResult<DownloadedFile>>
    plainDownload(QUrl url, QString folder, WriteBudget* budget, Progress progress);

    QNetworkRequest makeRequest(const QUrl& url, std::chrono::milliseconds timeout) const;
    void endThreadWhenIdle();

    DownloadTimeouts m_timeouts;
    std::unique_ptr<HttpTransfers> m_transfers;
    int m_running = 0;
    bool m_shuttingDown = false;
};

// Whether an answer's "Accept-Ranges" header, lower-cased, contains "bytes".
bool supportsByteRanges(const DownloadResponse& response);

// The validator for "If-Range": the strong ETag, else Last-Modified, else empty.
QByteArray ifRangeValidator(const DownloadResponse& response);

// Whether a 206 answer's "Content-Range" names exactly `range` of a file of `totalBytes`.
bool contentRangeMatches(const QByteArray& contentRange, const ByteRange& range, qint64 totalBytes);

} // namespace calmcove
