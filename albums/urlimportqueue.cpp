#include "urlimportqueue.h"

#include "downloader/fasturldownloader.h"
#include "importnaming.h"
#include "media/audiofile.h"
#include "model/notifyonchange.h"
#include "platform/userdefaults.h"
#include "urlimporterror.h"
#include "workerfuture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QPointer>
#include <QScopeGuard>
#include <QThreadPool>
#include <QUrl>

namespace calmcove {

namespace {

QString byteCount(qint64 bytes)
{
    return QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
}

// The audio file extension of a download: the link's own, else the server's media type.
std::optional<QString> audioExtension(const QUrl& url, const QString& mimeType,
                                      const QSet<QString>& supported)
{
    const QString fromPath = QFileInfo(url.path()).suffix().toLower();
    if (supported.contains(fromPath))
        return fromPath;
    static const QHash<QString, QString> byMimeType = {
        {QStringLiteral("audio/aac"), QStringLiteral("aac")},
        {QStringLiteral("audio/aacp"), QStringLiteral("aac")},
        {QStringLiteral("audio/aiff"), QStringLiteral("aiff")},
        {QStringLiteral("audio/x-aiff"), QStringLiteral("aiff")},
        {QStringLiteral("audio/flac"), QStringLiteral("flac")},
        {QStringLiteral("audio/x-flac"), QStringLiteral("flac")},
        {QStringLiteral("audio/m4a"), QStringLiteral("m4a")},
        {QStringLiteral("audio/mp4"), QStringLiteral("m4a")},
        {QStringLiteral("audio/x-m4a"), QStringLiteral("m4a")},
        {QStringLiteral("video/mp4"), QStringLiteral("m4a")},
        {QStringLiteral("audio/mpeg"), QStringLiteral("mp3")},
        {QStringLiteral("audio/mp3"), QStringLiteral("mp3")},
        {QStringLiteral("audio/wav"), QStringLiteral("wav")},
        {QStringLiteral("audio/wave"), QStringLiteral("wav")},
        {QStringLiteral("audio/x-wav"), QStringLiteral("wav")},
    };
    const QString extension = byMimeType.value(mimeType.toLower());
    if (extension.isEmpty() || !supported.contains(extension))
        return std::nullopt;
    return extension;
}

// The job's message for a download that failed: the downloader's own failures as the
// import names them, transfer and file errors as their system texts.
QString urlImportMessage(const DownloadError& error, qint64 maximumBytes)
{
    struct Describe
    {
        qint64 maximumBytes;
        QString operator()(DownloadFailure failure) const
        {
            switch (failure) {
            case DownloadFailure::fileTooLarge:
                return QStringLiteral("The file is larger than the URL import limit of %1.")
                    .arg(byteCount(maximumBytes));
            case DownloadFailure::notEnoughDiskSpace:
                return QStringLiteral("There is not enough free disk space to import this file; "
                                      "what was downloaded has been deleted.");
            case DownloadFailure::invalidURL:
                return errorDescription(URLImportError::invalidURL);
            case DownloadFailure::downloadFailed:
                return errorDescription(URLImportError::downloadFailed);
            case DownloadFailure::probeFailed:
                return errorDescription(URLImportError::downloadProbeFailed);
            case DownloadFailure::parallelDownloadUnsupported:
                return errorDescription(URLImportError::parallelDownloadUnsupported);
            }
            return errorDescription(URLImportError::downloadFailed);
        }
        QString operator()(const TransferError& e) const { return e.message; }
        QString operator()(const FileSystemError& e) const { return e.message; }
    };
    return std::visit(Describe{maximumBytes}, error);
}

} // namespace

QString URLImportQueue::partialFolder(const QString& rootDirectory)
{
    return rootDirectory + QStringLiteral("/.partial");
}

URLImportQueue::URLImportQueue(UserDefaults& defaults, Destination destination,
                               NetworkPathMonitor* networkMonitor, QObject* parent)
    : QObject(parent), m_defaults(defaults), m_destination(std::move(destination)),
      m_networkMonitor(networkMonitor)
{}

URLImportQueue::~URLImportQueue() = default;

qint64 URLImportQueue::maximumBytes() const
{
    const std::optional<double> stored = m_defaults.number(maximumBytesKey);
    return stored && *stored >= 1 && *stored < 9.0e18 ? qint64(*stored) : defaultMaximumBytes;
}

void URLImportQueue::enqueue(const QString& link, const std::optional<QString>& targetAlbumID)
{
    const QString trimmed = link.trimmed();
    if (trimmed.isEmpty())
        return;
    resetProgress();
    m_jobs.append(URLImportJob{QUuid::createUuid(), trimmed, targetAlbumID,
                               URLImportJob::State::queued, QStringLiteral("Queued"), std::nullopt,
                               std::nullopt});
    Q_EMIT jobsChanged();
    startIfNeeded();
}

void URLImportQueue::clearFinishedJobs()
{
    const auto removed = m_jobs.removeIf([](const URLImportJob& job) {
        return job.state == URLImportJob::State::finished ||
               job.state == URLImportJob::State::failed;
    });
    if (removed > 0)
        Q_EMIT jobsChanged();
}

void URLImportQueue::resetProgress(const std::optional<QUuid>& jobID)
{
    if (jobID) {
        updateJob(*jobID, [](URLImportJob& job) {
            job.progress.reset();
            job.progressText.reset();
        });
        return;
    }
    if (!m_progress && m_progressText.isNull())
        return;
    m_progress.reset();
    m_progressText = QString();
    Q_EMIT progressChanged();
}

void URLImportQueue::startIfNeeded()
{
    if (m_isProcessing)
        return;
    if (!m_downloader)
        m_downloader =
            std::make_unique<FastURLDownloader>(FastURLDownloader::Timeouts{}, m_networkMonitor);
    setProcessing(true);
    run();
}

QCoro::Task<> URLImportQueue::run()
{
    QPointer<URLImportQueue> self(this);
    while (self) {
        const auto next = std::find_if(m_jobs.cbegin(), m_jobs.cend(), [](const URLImportJob& job) {
            return job.state == URLImportJob::State::queued;
        });
        if (next == m_jobs.cend())
            break;
        const URLImportJob job = *next;
        // Started in a statement of its own: GCC 12 destroys temporaries of a co_await
        // expression twice.
        auto imported = perform(job.urlString, job.targetAlbumID, job.id);
        const std::optional<QString> failure = co_await std::move(imported);
        if (!self)
            co_return;
        if (failure) {
            updateJob(job.id, [&failure](URLImportJob& failed) {
                failed.state = URLImportJob::State::failed;
                failed.message = *failure;
                failed.progress.reset();
                failed.progressText.reset();
            });
        }
    }
    if (self)
        setProcessing(false);
}

QCoro::Task<std::optional<QString>>
URLImportQueue::perform(QString link, std::optional<QString> targetAlbumID, QUuid jobID)
{
    const QUrl url(link, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        co_return errorDescription(URLImportError::invalidURL);
    updateJob(jobID, [](URLImportJob& job) {
        job.state = URLImportJob::State::importing;
        job.message = QStringLiteral("Starting...");
        job.progress.reset();
        job.progressText.reset();
    });

    setJobStatus(QStringLiteral("Downloading audio URL..."), jobID, std::nullopt);
    resetProgress(jobID);
    QPointer<URLImportQueue> self(this);
    FastURLDownloader::ProgressHandler progress = [self, jobID](qint64 written, qint64 expected) {
        if (self)
            self->updateJobProgress(written, expected, jobID);
    };
    // Written beside the album folders, on their file system, so that a verified file is
    // renamed into place and never copied into its final name.
    const qint64 maximum = maximumBytes();
    DownloadLimits limits{.folder = partialFolder(m_destination.rootDirectory),
                          .maximumBytes = maximum,
                          .reservedFolders = {m_destination.rootDirectory, QDir::tempPath()},
                          .reserve = {}};
    auto download = m_downloader->download(url, std::move(progress), std::move(limits));
    auto downloaded = co_await std::move(download);
    if (!self)
        co_return std::nullopt;
    if (!downloaded)
        co_return urlImportMessage(downloaded.error(), maximum);
    const QString temporaryPath = downloaded->path();
    // The temporary download is ours to remove once it has been moved or refused.
    const auto removeTemporary = qScopeGuard([&temporaryPath] { QFile::remove(temporaryPath); });

    // A plain download keeps whatever the server answered; an error page is not a track.
    if (!downloaded->response.isSuccess())
        co_return errorDescription(URLImportError::downloadFailed);
    const auto extension =
        audioExtension(url, downloaded->response.mimeType, m_destination.audioExtensions);
    if (!extension)
        co_return errorDescription(URLImportError::unsupportedAudioURL);
    // Whatever the server called it, only a file that decodes as audio becomes a track.
    // Probing a hostile file may take a while: not on the main thread.
    auto checking = runOnWorker(*QThreadPool::globalInstance(),
                                [path = temporaryPath] { return decodesAsAudio(path); });
    const bool isAudio = co_await std::move(checking);
    if (!self)
        co_return std::nullopt;
    if (!isAudio)
        co_return errorDescription(URLImportError::downloadFailed);

    const QString host = url.host(QUrl::FullyDecoded);
    DownloadedAudio audio{
        .path = temporaryPath,
        .extension = *extension,
        .title = trackTitle(QFileInfo(url.path()).fileName()),
        .artist = host.isEmpty() ? QStringLiteral("URL") : host,
        .targetAlbumID = targetAlbumID,
    };
    auto adding = m_destination.addTrack(std::move(audio));
    const URLImportOutcome outcome = co_await std::move(adding);
    if (!self)
        co_return std::nullopt;
    if (outcome.state == URLImportJob::State::failed)
        co_return outcome.message;
    setJobStatus(outcome.message, jobID, URLImportJob::State::finished);
    co_return std::nullopt;
}

URLImportJob* URLImportQueue::findJob(const QUuid& id)
{
    for (URLImportJob& job : m_jobs) {
        if (job.id == id)
            return &job;
    }
    return nullptr;
}

void URLImportQueue::updateJob(const QUuid& id, const std::function<void(URLImportJob&)>& change)
{
    URLImportJob* job = findJob(id);
    if (!job)
        return;
    const URLImportJob before = *job;
    change(*job);
    if (*job != before)
        Q_EMIT jobsChanged();
}

void URLImportQueue::setJobStatus(const QString& message, const QUuid& jobID,
                                  std::optional<URLImportJob::State> finalState)
{
    updateJob(jobID, [&](URLImportJob& job) {
        if (finalState)
            job.state = *finalState;
        job.message = message;
        if (finalState == URLImportJob::State::finished) {
            job.progress = 1.0;
            job.progressText = QStringLiteral("Done");
        }
    });
}

void URLImportQueue::updateJobProgress(qint64 written, qint64 expected, const QUuid& jobID)
{
    updateJob(jobID, [&](URLImportJob& job) {
        if (expected >= 1) {
            const double fraction = std::clamp(double(written) / double(expected), 0.0, 1.0);
            job.progress = fraction;
            job.progressText = QStringLiteral("%1% - %2 of %3")
                                   .arg(qRound(fraction * 100))
                                   .arg(byteCount(written), byteCount(expected));
        } else {
            job.progress.reset();
            job.progressText = byteCount(written) + QStringLiteral(" downloaded");
        }
    });
}

void URLImportQueue::setProcessing(bool processing)
{
    assignAndNotify(this, m_isProcessing, processing, &URLImportQueue::isProcessingChanged);
}

} // namespace calmcove
