#include "urlimportviewmodel.h"

#include "albums/albumstore.h"

#include <QRegularExpression>
#include <QTimer>
#include <QUrl>

namespace calmcove {

URLImportViewModel::URLImportViewModel(AlbumStore* albumStore, QObject* parent)
    : QObject(parent), m_albumStore(albumStore)
{
    if (!albumStore)
        return;
    connect(albumStore, &AlbumStore::pendingURLImportAlbumIDChanged, this,
            &URLImportViewModel::targetSummaryChanged);
    connect(albumStore, &AlbumStore::importedAlbumsChanged, this,
            &URLImportViewModel::targetSummaryChanged);
    connect(albumStore, &AlbumStore::urlImportJobsChanged, this, &URLImportViewModel::jobsChanged);
}

void URLImportViewModel::setImportURL(const QString& text)
{
    AlbumStore* const store = m_albumStore;
    if (text == m_importURL)
        return;
    m_importURL = text;
    if (store && canImport() && !store->isImportingURL()) {
        store->clearMessages();
        store->resetURLImportProgress();
    }
    Q_EMIT importURLChanged();
}

std::optional<QString> URLImportViewModel::importTargetAlbumID() const
{
    AlbumStore* const store = m_albumStore;
    if (!store)
        return std::nullopt;
    const QString pending = store->pendingURLImportAlbumID();
    for (const CalmAlbum& album : store->importedAlbums()) {
        if (!pending.isEmpty() && album.id == pending)
            return album.id;
    }
    return std::nullopt;
}

QString URLImportViewModel::targetSummary() const
{
    AlbumStore* const store = m_albumStore;
    if (const auto target = importTargetAlbumID()) {
        for (const CalmAlbum& album : store->importedAlbums()) {
            if (album.id == *target)
                return QStringLiteral("New audio will save into ") + album.name + QLatin1Char('.');
        }
    }
    return QStringLiteral("Direct audio links save into URL Imports.");
}

void URLImportViewModel::importURLIfNeeded()
{
    AlbumStore* const store = m_albumStore;
    const QString trimmed = m_importURL.trimmed();
    if (trimmed.isEmpty() || !store)
        return;
    const std::optional<QString> target = importTargetAlbumID();
    // A pasted list: one link per line, each its own job.
    static const QRegularExpression lineBreaks(QStringLiteral("[\\r\\n\\x{2028}\\x{2029}]+"));
    for (const QString& line : trimmed.split(lineBreaks, Qt::SkipEmptyParts)) {
        if (!line.trimmed().isEmpty())
            store->enqueueURLImport(line.trimmed(), target);
    }
    m_importURL.clear();
    Q_EMIT importURLChanged();
    focusURLField();
}

void URLImportViewModel::focusURLField()
{
    QTimer::singleShot(0, this, &URLImportViewModel::focusRequested);
}

bool URLImportViewModel::hasJobs() const
{
    AlbumStore* const store = m_albumStore;
    return store && !store->urlImportJobs().isEmpty();
}

bool URLImportViewModel::canClearDone() const
{
    AlbumStore* const store = m_albumStore;
    if (!store)
        return false;
    const QList<URLImportJob>& jobs = store->urlImportJobs();
    return std::any_of(jobs.cbegin(), jobs.cend(), [](const URLImportJob& job) {
        return job.state == URLImportJob::State::finished ||
               job.state == URLImportJob::State::failed;
    });
}

void URLImportViewModel::clearDone()
{
    AlbumStore* const store = m_albumStore;
    if (store)
        store->clearFinishedURLImportJobs();
}

QString URLImportViewModel::jobTitle(const QString& urlString)
{
    const QUrl url(urlString, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return urlString;
    const QStringList components =
        url.path(QUrl::FullyDecoded).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const QString last = components.isEmpty() ? QString() : components.last().trimmed();
    if (last.isEmpty() || last == QLatin1String("/"))
        return url.host();
    return url.host() + QStringLiteral(" / ") + last;
}

} // namespace calmcove
