#include "downloadengine.h"

#include "downloader/httptransfer.h"
#include "downloader/partfiles.h"

#include <coroutine>
#include <deque>
#include <optional>
#include <QDir>
#include <QFile>
#include <QMutexLocker>
#include <QThread>

namespace calmcove {

namespace {

FileSystemError fileError(const QString& action, const QFile& file)
{
    return {QStringLiteral("Could not %1 %2: %3").arg(action, file.fileName(), file.errorString())};
}

// Writes one range's body to its part file, refusing anything but a 206 for exactly that
// range of the probed file, and never more bytes than the range holds.
class RangeSink final : public BodySink
{
public:
    RangeSink(QString path, ByteRange range, qint64 totalBytes, WriteBudget* budget)
        : m_file(std::move(path)), m_range(range), m_totalBytes(totalBytes), m_budget(budget)
    {}

    std::optional<DownloadError> begin(const DownloadResponse& response) override
    {
        if (response.statusCode != 206)
            return DownloadFailure::parallelDownloadUnsupported;
        // A different range, or a file of another length, means the file changed since
        // the probe (or the server ignored If-Range): its parts would not fit together.
        if (!contentRangeMatches(response.header("Content-Range"), m_range, m_totalBytes))
            return DownloadFailure::downloadFailed;
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return fileError(QStringLiteral("create"), m_file);
        return std::nullopt;
    }

    std::optional<DownloadError> write(const char* data, qint64 size) override
    {
        if (m_written + size > m_range.count())
            return DownloadFailure::downloadFailed;
        if (auto refused = m_budget->spend(size, m_range.first + m_written))
            return refused;
        if (m_file.write(data, size) != size)
            return fileError(QStringLiteral("write"), m_file);
        m_written += size;
        return std::nullopt;
    }

    // After a transfer without error: the part is whole and on disk.
    std::optional<DownloadError> finish()
    {
        if (!m_file.isOpen() || m_written != m_range.count())
            return DownloadFailure::downloadFailed;
        if (!m_file.flush())
            return fileError(QStringLiteral("write"), m_file);
        m_file.close();
        return std::nullopt;
    }

    QString path() const { return m_file.fileName(); }

private:
    QFile m_file;
    ByteRange m_range;
    qint64 m_totalBytes;
    WriteBudget* m_budget;
    qint64 m_written = 0;
};

// Streams the plain download's body into the result file, reporting every write.
class PlainSink final : public BodySink
{
public:
    PlainSink(QString path, DownloadEngine::Progress progress, WriteBudget* budget)
        : m_file(std::move(path)), m_progress(std::move(progress)), m_budget(budget)
    {}

    std::optional<DownloadError> open()
    {
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return fileError(QStringLiteral("create"), m_file);
        return std::nullopt;
    }

    std::optional<DownloadError> begin(const DownloadResponse& response) override
    {
        m_bytesExpected = response.expectedContentLength;
        // An error page is judged by the caller, whatever its length.
        if (response.isSuccess())
            return m_budget->admit(m_bytesExpected);
        return std::nullopt;
    }

    std::optional<DownloadError> write(const char* data, qint64 size) override
    {
        if (auto refused = m_budget->spend(size, m_written))
            return refused;
        if (m_file.write(data, size) != size)
            return fileError(QStringLiteral("write"), m_file);
        m_written += size;
        m_progress(m_written, m_bytesExpected);
        return std::nullopt;
    }

    std::optional<DownloadError> close()
    {
        // Qt reports a body cut short by a closed connection as a success.
        if (m_bytesExpected >= 0 && m_written != m_bytesExpected)
            return DownloadFailure::downloadFailed;
        if (!m_file.flush())
            return fileError(QStringLiteral("write"), m_file);
        m_file.close();
        return std::nullopt;
    }

    void discard()
    {
        m_file.close();
        m_file.remove();
    }

    QString path() const { return m_file.fileName(); }

private:
    QFile m_file;
    DownloadEngine::Progress m_progress;
    WriteBudget* m_budget;
    qint64 m_bytesExpected = -1;
    qint64 m_written = 0;
};

// The results of the ranges in flight, in the order they finish. The parallel download
// awaits them one at a time; it is resumed from the event loop, never from inside a
// finishing range.
class FinishedRanges
{
public:
    using Result = DownloadResult<DownloadChunk>;

    explicit FinishedRanges(QObject* context) : m_context(context) {}

    void add(Result result)
    {
        m_results.push_back(std::move(result));
        if (m_waiter) {
            QMetaObject::invokeMethod(
                m_context, [waiter = std::exchange(m_waiter, {})] { waiter.resume(); },
                Qt::QueuedConnection);
        }
    }

    struct Awaiter
    {
        FinishedRanges* owner;
        bool await_ready() const noexcept { return !owner->m_results.empty(); }
        void await_suspend(std::coroutine_handle<> waiter) noexcept { owner->m_waiter = waiter; }
        Result await_resume() const
        {
            Result result = std::move(owner->m_results.front());
            owner->m_results.pop_front();
            return result;
        }
    };

    Awaiter next() { return Awaiter{this}; }

private:
    QObject* m_context;
    std::deque<Result> m_results;
    std::coroutine_handle<> m_waiter;
};

// One range, from request to result, reported to `finished`. Runs detached.
QCoro::Task<> reportRange(QCoro::Task<FinishedRanges::Result> fetching,
                          std::shared_ptr<FinishedRanges> finished)
{
    finished->add(co_await std::move(fetching));
}

// Failures that the plain download would only meet again.
bool isLimitFailure(const DownloadError& error)
{
    const auto* failure = std::get_if<DownloadFailure>(&error);
    return failure && (*failure == DownloadFailure::fileTooLarge ||
                       *failure == DownloadFailure::notEnoughDiskSpace);
}

std::optional<qint64> decimal(QByteArrayView text)
{
    if (text.isEmpty() || text.size() > 18)
        return std::nullopt;
    qint64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

bool supportsByteRanges(const DownloadResponse& response)
{
    return response.header("Accept-Ranges").toLower().contains("bytes");
}

QByteArray ifRangeValidator(const DownloadResponse& response)
{
    // A weak ETag may not be used with If-Range.
    const QByteArray entityTag = response.header("ETag").trimmed();
    if (!entityTag.isEmpty() && !entityTag.startsWith("W/"))
        return entityTag;
    return response.header("Last-Modified").trimmed();
}

bool contentRangeMatches(const QByteArray& contentRange, const ByteRange& range, qint64 totalBytes)
{
    // "bytes first-last/complete"
    const QByteArray value = contentRange.trimmed();
    if (!value.left(6).toLower().startsWith("bytes "))
        return false;
    const QByteArray spec = value.mid(6).trimmed();
    const qsizetype dash = spec.indexOf('-');
    const qsizetype slash = spec.indexOf('/');
    if (dash <= 0 || slash <= dash)
        return false;
    const auto first = decimal(QByteArrayView(spec).first(dash));
    const auto last = decimal(QByteArrayView(spec).sliced(dash + 1, slash - dash - 1));
    const auto complete = decimal(QByteArrayView(spec).sliced(slash + 1));
    return first == range.first && last == range.last && complete == totalBytes;
}

DownloadMailbox::DownloadMailbox(QObject* receiver, DownloadProgressHandler progress,
                                 Completion completion)
    : m_receiver(receiver), m_progress(std::move(progress)), m_completion(std::move(completion))
{}

void DownloadMailbox::reportProgress(qint64 bytesWritten, qint64 bytesExpected)
{
    QMutexLocker lock(&m_mutex);
    m_bytesWritten = bytesWritten;
    m_bytesExpected = bytesExpected;
    if (!m_receiver || m_progressQueued)
        return;
    m_progressQueued = true;
    QMetaObject::invokeMethod(
        m_receiver, [self = shared_from_this()] { self->deliverProgress(); }, Qt::QueuedConnection);
}

void DownloadMailbox::deliverProgress()
{
    qint64 written = 0;
    qint64 expected = -1;
    {
        QMutexLocker lock(&m_mutex);
        m_progressQueued = false;
        written = m_bytesWritten;
        expected = m_bytesExpected;
    }
    if (m_progress)
        m_progress(written, expected);
}

void DownloadMailbox::finish(Result result)
{
    QMutexLocker lock(&m_mutex);
    if (!m_receiver)
        return;
    QMetaObject::invokeMethod(
        m_receiver,
        [self = shared_from_this(), result = std::move(result)]() mutable {
            if (self->m_completion)
                std::exchange(self->m_completion, {})(std::move(result));
        },
        Qt::QueuedConnection);
}

void DownloadMailbox::detach()
{
    QMutexLocker lock(&m_mutex);
    m_receiver = nullptr;
}

DownloadEngine::DownloadEngine(DownloadTimeouts timeouts,
                               std::shared_ptr<const std::atomic<bool>> offline)
    : m_timeouts(timeouts),
      m_transfers(std::make_unique<HttpTransfers>(timeouts.resource, std::move(offline)))
{}

DownloadEngine::~DownloadEngine() = default;

void DownloadEngine::start(QUrl url, DownloadLimits limits,
                           std::shared_ptr<DownloadMailbox> mailbox)
{
    run(std::move(url), std::move(limits), std::move(mailbox)); // runs on by itself
}

void DownloadEngine::shutDown()
{
    m_shuttingDown = true;
    if (m_transfers)
        m_transfers->shutDown();
    endThreadWhenIdle();
}

void DownloadEngine::endThreadWhenIdle()
{
    if (!m_shuttingDown || m_running > 0)
        return;
    // From the event loop: we may be inside a reply's signal, and the replies belong to
    // the network manager that goes now.
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_transfers.reset();
            thread()->quit();
        },
        Qt::QueuedConnection);
}

QCoro::Task<> DownloadEngine::run(QUrl url, DownloadLimits limits,
                                  std::shared_ptr<DownloadMailbox> mailbox)
{
    ++m_running;
    auto downloading =
        download(std::move(url), std::move(limits), [mailbox](qint64 written, qint64 expected) {
            mailbox->reportProgress(written, expected);
        });
    DownloadResult<DownloadedFile> result = co_await std::move(downloading);
    mailbox->finish(std::move(result));
    --m_running;
    endThreadWhenIdle();
}

QCoro::Task<DownloadResult<DownloadedFile>>
DownloadEngine::download(QUrl url, DownloadLimits limits, Progress progress)
{
    // Never a local file or another scheme, whatever reaches us.
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        co_return DownloadFailure::invalidURL;
    const QString folder = downloadFolder(limits);
    if (!QDir().mkpath(folder))
        co_return FileSystemError{QStringLiteral("Could not create the folder %1.").arg(folder)};
    WriteBudget budget(std::move(limits), folder);
    if (auto refused = budget.admit(-1))
        co_return *refused;

    auto probing = probe(url);
    const DownloadResult<DownloadProbe> probed = co_await std::move(probing);
    if (probed) {
        // A declared length beyond the cap or the free space fails before a byte is written.
        if (auto refused = budget.admit(probed->expectedContentLength))
            co_return *refused;
    }
    if (probed && probed->supportsByteRanges && probed->expectedContentLength > downloadChunkSize) {
        // Ranges go where the probe was redirected to, not through every hop again.
        auto parallel =
            downloadInParallel(probed->response.url, *probed, folder, &budget, progress);
        DownloadResult<DownloadedFile> result = co_await std::move(parallel);
        if (result || isLimitFailure(result.error()))
            co_return result;
    }
    auto plain = plainDownload(url, folder, &budget, progress);
    co_return co_await std::move(plain);
}

QNetworkRequest DownloadEngine::makeRequest(const QUrl& url,
                                            std::chrono::milliseconds timeout) const
{
    QNetworkRequest request(url);
    request.setRawHeader("User-Agent", "Calmcove/1.0 CFNetwork");
    request.setRawHeader("Accept", "*/*");
    request.setRawHeader("Connection", "keep-alive");
    // Lengths and ranges count the file as stored: no transparent decompression.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    // HTTP/2 would carry every range over one connection, which a server that paces each
    // connection keeps as slow as a plain download.
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    request.setTransferTimeout(int(timeout.count()));
    return request;
}

QCoro::Task<DownloadResult<DownloadProbe>> DownloadEngine::probe(QUrl url)
{
    auto sending = m_transfers->send(makeRequest(url, m_timeouts.probe), "HEAD", nullptr);
    const TransferOutcome outcome = co_await std::move(sending);
    if (outcome.error)
        co_return *outcome.error;
    if (!outcome.response.isSuccess())
        co_return DownloadFailure::probeFailed;
    co_return DownloadProbe{outcome.response, outcome.response.expectedContentLength,
                            supportsByteRanges(outcome.response)};
}

QCoro::Task<DownloadResult<DownloadedFile>>
DownloadEngine::downloadInParallel(QUrl url, DownloadProbe probe, QString resultFolder,
                                   WriteBudget* budget, Progress progress)
{
    const QList<ByteRange> ranges = downloadChunkRanges(probe.expectedContentLength);
    const DownloadResult<QString> folder = createWorkingFolder(resultFolder);
    if (!folder)
        co_return folder.error();

    PartFileJoiner joiner(resultFolder, budget);
    if (auto error = joiner.open()) {
        QDir(*folder).removeRecursively();
        co_return *error;
    }

    const QByteArray ifRange = ifRangeValidator(probe.response);
    const auto group = std::make_shared<TransferGroup>();
    const auto finished = std::make_shared<FinishedRanges>(this);
    std::optional<DownloadError> failure;
    qint64 written = 0;
    int started = 0;
    int running = 0;
    const auto startNext = [&] {
        reportRange(fetchRange(url, ifRange, probe.expectedContentLength, started, ranges[started],
                               *folder, budget, group),
                    finished);
        ++started;
        ++running;
    };

    // A sliding window: a new range starts each time one finishes.
    while (started < std::min<qsizetype>(maxParallelDownloadChunks, ranges.size()))
        startNext();
    while (running > 0) {
        FinishedRanges::Result result = co_await finished->next();
        --running;
        if (failure)
            continue; // only waiting for the others to end
        if (result) {
            written += result->range.count();
            progress(written, probe.expectedContentLength);
            // Keep the connections busy while this part is joined.
            if (started < ranges.size())
                startNext();
            if (auto error = joiner.add(*result))
                result = *error;
        }
        if (!result) {
            failure = result.error();
            group->abort();
        }
    }

    // Every range has ended, so no part file is open any more.
    const DownloadResult<QString> joined =
        failure ? DownloadResult<QString>(*failure) : joiner.finish(int(ranges.size()));
    QDir(*folder).removeRecursively();
    if (!joined)
        co_return joined.error();
    co_return DownloadedFile{QUrl::fromLocalFile(*joined), probe.response};
}

QCoro::Task<DownloadResult<DownloadChunk>>
DownloadEngine::fetchRange(QUrl url, QByteArray ifRange, qint64 totalBytes, int index,
                           ByteRange range, QString folder, WriteBudget* budget,
                           std::shared_ptr<TransferGroup> group)
{
    QNetworkRequest request = makeRequest(url, m_timeouts.request);
    request.setRawHeader("Range", "bytes=" + QByteArray::number(range.first) + '-' +
                                      QByteArray::number(range.last));
    if (!ifRange.isEmpty())
        request.setRawHeader("If-Range", ifRange);

    RangeSink sink(folder + QLatin1Char('/') + partFileName(index), range, totalBytes, budget);
    auto sending = m_transfers->send(request, "GET", &sink, std::move(group));
    const TransferOutcome outcome = co_await std::move(sending);
    if (outcome.error)
        co_return *outcome.error;
    if (auto error = sink.finish())
        co_return *error;
    co_return DownloadChunk{index, range, QUrl::fromLocalFile(sink.path())};
}

QCoro::Task<DownloadResult<DownloadedFile>>
DownloadEngine::plainDownload(QUrl url, QString folder, WriteBudget* budget, Progress progress)
{
    PlainSink sink(temporaryDownloadPath(folder, QStringLiteral(".download")), std::move(progress),
                   budget);
    if (auto error = sink.open())
        co_return *error;
    auto sending = m_transfers->send(makeRequest(url, m_timeouts.request), "GET", &sink);
    TransferOutcome outcome = co_await std::move(sending);
    if (!outcome.error)
        outcome.error = sink.close();
    if (outcome.error) {
        sink.discard();
        co_return *outcome.error;
    }
    co_return DownloadedFile{QUrl::fromLocalFile(sink.path()), outcome.response};
}

} // namespace calmcove
