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
    if (text == m_importURL)
        return;
    m_importURL = text;
    if (m_albumStore && canImport() && !m_albumStore->isImportingURL()) {
        m_albumStore->clearMessages();
        m_albumStore->resetURLImportProgress();
    }
    Q_EMIT importURLChanged();
}

std::optional<QString> URLImportViewModel::importTargetAlbumID() const
{
    if (!m_albumStore)
        return std::nullopt;
    const QString pending = m_albumStore->pendingURLImportAlbumID();
    for (const CalmAlbum& album : m_albumStore->importedAlbums()) {
        if (!pending.isEmpty() && album.id == pending)
            return album.id;
    }
    return std::nullopt;
}

QString URLImportViewModel::targetSummary() const
{
    if (const auto target = importTargetAlbumID()) {
        for (const CalmAlbum& album : m_albumStore->importedAlbums()) {
            if (album.id == *target)
                return QStringLiteral("New audio will save into ") + album.name +
                       QLatin1Char('.');
        }
    }
    return QStringLiteral("Direct audio links save into URL Imports.");
}

void URLImportViewModel::importURLIfNeeded()
{
    const QString trimmed = m_importURL.trimmed();
    if (trimmed.isEmpty() || !m_albumStore)
        return;
    const std::optional<QString> target = importTargetAlbumID();
    // A pasted list: one link per line, each its own job.
    static const QRegularExpression lineBreaks(QStringLiteral("[\\r\\n\\x{2028}\\x{2029}]+"));
    for (const QString& line : trimmed.split(lineBreaks, Qt::SkipEmptyParts)) {
        if (!line.trimmed().isEmpty())
            m_albumStore->enqueueURLImport(line.trimmed(), target);
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
    return m_albumStore && !m_albumStore->urlImportJobs().isEmpty();
}

bool URLImportViewModel::canClearDone() const
{
    if (!m_albumStore)
        return false;
    const QList<URLImportJob>& jobs = m_albumStore->urlImportJobs();
    return std::any_of(jobs.cbegin(), jobs.cend(), [](const URLImportJob& job) {
        return job.state == URLImportJob::State::finished ||
               job.state == URLImportJob::State::failed;
    });
}

void URLImportViewModel::clearDone()
{
    if (m_albumStore)
        m_albumStore->clearFinishedURLImportJobs();
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
