// The URL import of the album store: a queue of direct audio links worked off one at a
// time on the main thread, each downloaded, recognised and added to its album.

#include "albumstore.h"

#include "downloader/fasturldownloader.h"
#include "importnaming.h"
#include "media/audiofile.h"
#include "model/notifyonchange.h"
#include "platform/atomicfile.h"
#include "platform/userdefaults.h"
#include "urlimporterror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QPointer>
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

double fileDuration(const QString& path)
{
    QString error;
    const auto file = AudioFile::open(path, &error);
    return file && file->sampleRate() > 0 ? file->duration() : 0.0;
}

} // namespace

qint64 AlbumStore::urlImportMaximumBytes() const
{
    const std::optional<double> stored = m_defaults.number(urlImportMaximumBytesKey);
    return stored && *stored >= 1 && *stored < 9.0e18 ? qint64(*stored)
                                                      : defaultURLImportMaximumBytes;
}

void AlbumStore::setPendingURLImportAlbumID(const QString& id)
{
    assignAndNotify(this, m_pendingURLImportAlbumID, id,
                    &AlbumStore::pendingURLImportAlbumIDChanged);
}

void AlbumStore::enqueueURLImport(const QString& link, const std::optional<QString>& targetAlbumID)
{
    const QString trimmed = link.trimmed();
    if (trimmed.isEmpty())
        return;
    clearMessages();
    resetURLImportProgress();
    m_urlImportJobs.append(URLImportJob{QUuid::createUuid(), trimmed, targetAlbumID,
                                        URLImportJob::State::queued, QStringLiteral("Queued"),
                                        std::nullopt, std::nullopt});
    Q_EMIT urlImportJobsChanged();
    startURLImportQueueIfNeeded();
}

void AlbumStore::clearFinishedURLImportJobs()
{
    const auto removed = m_urlImportJobs.removeIf([](const URLImportJob& job) {
        return job.state == URLImportJob::State::finished ||
               job.state == URLImportJob::State::failed;
    });
    if (removed > 0)
        Q_EMIT urlImportJobsChanged();
}

void AlbumStore::resetURLImportProgress(const std::optional<QUuid>& jobID)
{
    if (jobID) {
        updateJob(*jobID, [](URLImportJob& job) {
            job.progress.reset();
            job.progressText.reset();
        });
        return;
    }
    if (!m_urlImportProgress && m_urlImportProgressText.isNull())
        return;
    m_urlImportProgress.reset();
    m_urlImportProgressText = QString();
    Q_EMIT urlImportProgressChanged();
}

void AlbumStore::startURLImportQueueIfNeeded()
{
    if (m_isProcessingURLImportQueue)
        return;
    if (!m_urlDownloader)
        m_urlDownloader =
            std::make_unique<FastURLDownloader>(FastURLDownloader::Timeouts{}, m_networkMonitor);
    setProcessingURLImportQueue(true);
    runURLImportQueue();
}

QCoro::Task<> AlbumStore::runURLImportQueue()
{
    QPointer<AlbumStore> self(this);
    while (self) {
        const auto next = std::find_if(
            m_urlImportJobs.cbegin(), m_urlImportJobs.cend(),
            [](const URLImportJob& job) { return job.state == URLImportJob::State::queued; });
        if (next == m_urlImportJobs.cend())
            break;
        const URLImportJob job = *next;
        // Started in a statement of its own: GCC 12 destroys temporaries of a co_await
        // expression twice.
        auto imported = performURLImport(job.urlString, job.targetAlbumID, job.id);
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
        setProcessingURLImportQueue(false);
}

QCoro::Task<std::optional<QString>>
AlbumStore::performURLImport(QString link, std::optional<QString> targetAlbumID, QUuid jobID)
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

    setURLImportStatus(QStringLiteral("Downloading audio URL..."), jobID, std::nullopt);
    resetURLImportProgress(jobID);
    QPointer<AlbumStore> self(this);
    FastURLDownloader::ProgressHandler progress = [self, jobID](qint64 written, qint64 expected) {
        if (self)
            self->updateURLImportProgress(written, expected, jobID);
    };
    // Written beside the album folders, on their file system, so that a verified file is
    // renamed into place and never copied into its final name.
    const qint64 maximumBytes = urlImportMaximumBytes();
    DownloadLimits limits{.folder = partialFolder(),
                          .maximumBytes = maximumBytes,
                          .reservedFolders = {m_root, QDir::tempPath()},
                          .reserve = {}};
    auto download = m_urlDownloader->download(url, std::move(progress), std::move(limits));
    auto downloaded = co_await std::move(download);
    if (!self)
        co_return std::nullopt;
    if (!downloaded)
        co_return urlImportMessage(downloaded.error(), maximumBytes);
    const QString temporaryPath = downloaded->path();
    // The temporary download is ours to remove once it has been copied or refused.
    const auto removeTemporary = qScopeGuard([&temporaryPath] { QFile::remove(temporaryPath); });

    // A plain download keeps whatever the server answered; an error page is not a track.
    if (!downloaded->response.isSuccess())
        co_return errorDescription(URLImportError::downloadFailed);
    const auto extension =
        audioExtension(url, downloaded->response.mimeType, supportedAudioExtensions);
    if (!extension)
        co_return errorDescription(URLImportError::unsupportedAudioURL);
    // Whatever the server called it, only a file that decodes as audio becomes a track.
    if (!decodesAsAudio(temporaryPath))
        co_return errorDescription(URLImportError::downloadFailed);

    const QString title = trackTitle(QFileInfo(url.path()).fileName());
    const QString host = url.host(QUrl::FullyDecoded);
    const QString artist = host.isEmpty() ? QStringLiteral("URL") : host;
    co_return appendDownloadedTrack(temporaryPath, *extension, title, artist, targetAlbumID, jobID);
}

std::optional<QString>
AlbumStore::appendDownloadedTrack(const QString& downloadedPath, const QString& extension,
                                  const QString& title, const QString& artist,
                                  const std::optional<QString>& targetAlbumID, const QUuid& jobID)
{
    const CalmAlbum* existing = targetAlbumID ? findImportedAlbum(*targetAlbumID) : nullptr;
    if (!existing) {
        const auto named =
            std::find_if(m_importedAlbums.cbegin(), m_importedAlbums.cend(),
                         [](const CalmAlbum& album) { return album.name == urlAlbumName; });
        if (named != m_importedAlbums.cend())
            existing = &*named;
    }
    const bool isNew = !existing;
    CalmAlbum album = existing
                          ? *existing
                          : CalmAlbum{QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(),
                                      urlAlbumName,
                                      {},
                                      NoArtwork{},
                                      false};
    const QString folder = albumFolder(album.id);
    if (!QDir().mkpath(folder))
        return QStringLiteral("Could not create the album folder.");

    const double duration = fileDuration(downloadedPath);
    const std::optional<qsizetype> duplicate = duplicateTrackIndex(album.tracks, title, duration);
    if (duplicate) {
        switch (confirmDuplicateImport(1, title, album.name)) {
        case DuplicateResolution::cancel:
            setURLImportStatus(QStringLiteral("Import canceled."), jobID,
                               URLImportJob::State::finished);
            return std::nullopt;
        case DuplicateResolution::skip:
            setURLImportStatus(QStringLiteral("Skipped duplicate track."), jobID,
                               URLImportJob::State::finished);
            return std::nullopt;
        case DuplicateResolution::replace:
            break;
        }
    }

    const int number = int(duplicate ? *duplicate + 1 : album.tracks.size() + 1);
    const QString target =
        folder + QLatin1Char('/') + copiedFileName(title + QLatin1Char('.') + extension, number);
    // On disk first, then renamed over the final name (a replaced duplicate included).
    QString placementError;
    if (!syncFile(downloadedPath, &placementError) ||
        !renameOnto(downloadedPath, target, &placementError))
        return QStringLiteral("Could not add the track to the album: ") + placementError;

    CalmTrack track{
        .id = album.id + QLatin1Char('-') + QFileInfo(target).completeBaseName() +
              QLatin1Char('-') + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(),
        .albumID = album.id,
        .title = title,
        .artist = artist,
        .duration = duration > 0 ? duration : fileDuration(target),
        .moods = everyMood(),
        .kind = CalmKind::all,
        .source = FileAudio{target},
    };
    if (duplicate) {
        if (const auto* file = std::get_if<FileAudio>(&album.tracks[*duplicate].source);
            file && file->path != target)
            QFile::remove(file->path);
        album.tracks[*duplicate] = track;
    } else {
        album.tracks.append(track);
    }

    QList<CalmAlbum> albums = m_importedAlbums;
    if (isNew) {
        albums.append(album);
    } else {
        for (CalmAlbum& candidate : albums) {
            if (candidate.id == album.id)
                candidate = album;
        }
    }
    setImportedAlbums(std::move(albums));
    setSelectedAlbumID(album.id);
    setURLImportStatus(duplicate ? QStringLiteral("Replaced %1 in %2.").arg(title, album.name)
                                 : QStringLiteral("Imported %1 to %2.").arg(title, album.name),
                       jobID, URLImportJob::State::finished);
    save();
    return std::nullopt;
}

URLImportJob* AlbumStore::findJob(const QUuid& id)
{
    for (URLImportJob& job : m_urlImportJobs) {
        if (job.id == id)
            return &job;
    }
    return nullptr;
}

void AlbumStore::updateJob(const QUuid& id, const std::function<void(URLImportJob&)>& change)
{
    URLImportJob* job = findJob(id);
    if (!job)
        return;
    const URLImportJob before = *job;
    change(*job);
    if (*job != before)
        Q_EMIT urlImportJobsChanged();
}

void AlbumStore::setURLImportStatus(const QString& message, const QUuid& jobID,
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

void AlbumStore::updateURLImportProgress(qint64 written, qint64 expected, const QUuid& jobID)
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

void AlbumStore::setProcessingURLImportQueue(bool processing)
{
    assignAndNotify(this, m_isProcessingURLImportQueue, processing,
                    &AlbumStore::isProcessingURLImportQueueChanged);
    assignAndNotify(this, m_isImportingURL, processing, &AlbumStore::isImportingURLChanged);
}

} // namespace calmcove
