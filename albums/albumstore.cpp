#include "albumstore.h"

#include "albumindex.h"
#include "importfiles.h"
#include "model/notifyonchange.h"
#include "model/pathcomponent.h"
#include "model/tracklibrary.h"
#include "platform/apppaths.h"
#include "platform/atomicfile.h"
#include "platform/unixsignalwatcher.h"
#include "platform/userdefaults.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QThreadPool>
#include <QUuid>
#include <sys/stat.h>

namespace calmcove {

namespace {

const QString untitled = QStringLiteral("Untitled");

QString trimmedOr(const QString& text, const QString& fallback)
{
    const QString trimmed = text.trimmed();
    return trimmed.isEmpty() ? fallback : trimmed;
}

CalmTrack trackFromRecord(const ImportedTrackRecord& record, const QString& albumID,
                          const QString& folder)
{
    return CalmTrack{
        .id = record.id,
        .albumID = albumID,
        .title = record.title,
        .artist = record.artist,
        .duration = record.duration,
        .moods = everyMood(),
        .kind = CalmKind::all,
        .source = FileAudio{folder + QLatin1Char('/') + record.fileName},
    };
}

// The size and modification time of the index, or none when there is no index.
std::optional<std::pair<qint64, qint64>> indexStamp(const QString& path)
{
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return std::pair<qint64, qint64>(
        qint64(info.st_size), qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec);
}

ImportedAlbumRecord recordFromAlbum(const CalmAlbum& album)
{
    ImportedAlbumRecord record{album.id, album.name, std::nullopt, {}};
    if (const auto* artwork = std::get_if<FileArtwork>(&album.artwork))
        record.artworkFileName = QFileInfo(artwork->path).fileName();
    for (const CalmTrack& track : album.tracks) {
        const auto* file = std::get_if<FileAudio>(&track.source);
        if (!file)
            continue;
        record.tracks.append(ImportedTrackRecord{track.id, track.title, track.artist,
                                                 track.duration, QFileInfo(file->path).fileName()});
    }
    return record;
}

} // namespace

QString AlbumStore::defaultRootDirectory()
{
    return AppPaths::dataDirectory() + QStringLiteral("/Imported Albums");
}

AlbumStore::AlbumStore(UserDefaults& defaults, const QString& rootDirectory,
                       NetworkPathMonitor* networkMonitor, QObject* parent)
    : QObject(parent), m_defaults(defaults), m_root(rootDirectory),
      m_selectedAlbumID(defaults.string(selectedAlbumIDKey).value_or(builtInAlbumID)),
      m_builtInAlbum(TrackLibrary::builtInAlbum()), m_fileThread(std::make_unique<QThreadPool>())
{
    m_fileThread->setMaxThreadCount(1);
    m_urlImports =
        std::make_unique<URLImportQueue>(defaults,
                                         URLImportQueue::Destination{
                                             .rootDirectory = m_root,
                                             .audioExtensions = supportedAudioExtensions,
                                             .addTrack =
                                                 [this](DownloadedAudio download) {
                                                     return addDownloadedTrack(std::move(download));
                                                 },
                                         },
                                         networkMonitor);
    connect(m_urlImports.get(), &URLImportQueue::jobsChanged, this,
            &AlbumStore::urlImportJobsChanged);
    connect(m_urlImports.get(), &URLImportQueue::progressChanged, this,
            &AlbumStore::urlImportProgressChanged);
    connect(m_urlImports.get(), &URLImportQueue::isProcessingChanged, this, [this] {
        Q_EMIT isProcessingURLImportQueueChanged();
        Q_EMIT isImportingURLChanged();
    });
    load();
    selectDefaultAlbumIfSelectionIsGone();
}

AlbumStore::~AlbumStore()
{
    m_cancelled->store(true);
    m_fileThread->waitForDone();
}

void AlbumStore::setSelectedAlbumID(const QString& id)
{
    m_defaults.setValue(selectedAlbumIDKey, id);
    assignAndNotify(this, m_selectedAlbumID, id, &AlbumStore::selectedAlbumIDChanged);
}

QList<CalmAlbum> AlbumStore::albums() const
{
    QList<CalmAlbum> result;
    result.reserve(m_importedAlbums.size() + 1);
    result.append(m_builtInAlbum);
    result.append(m_importedAlbums);
    return result;
}

CalmAlbum AlbumStore::selectedAlbum() const
{
    if (m_selectedAlbumID == m_builtInAlbum.id)
        return m_builtInAlbum;
    for (const CalmAlbum& album : m_importedAlbums) {
        if (album.id == m_selectedAlbumID)
            return album;
    }
    return m_builtInAlbum;
}

std::optional<CalmAlbum> AlbumStore::createAlbum(const QString& name,
                                                 const std::optional<QString>& artworkPath)
{
    clearMessages();
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const QString folder = albumFolder(id);
    QDir().mkpath(folder);

    CalmAlbum album{
        .id = id,
        .name = trimmedOr(name, untitled + QStringLiteral(" Album")),
        .tracks = {},
        .artwork = NoArtwork{},
        .isBuiltIn = false,
    };
    if (artworkPath) {
        // The picture just chosen in the dialog, which waits for the album: copied here, on
        // the main thread, so the signal handler's flag is what can stop it.
        ImportFiles files(m_root, &terminationFlag());
        if (const auto stored = files.copyArtworkFile(*artworkPath, folder))
            album.artwork = FileArtwork{*stored};
        else if (!files.errorMessage().isNull())
            setErrorMessage(files.errorMessage());
    }

    QList<CalmAlbum> albums = m_importedAlbums;
    albums.append(album);
    setImportedAlbums(std::move(albums));
    setSelectedAlbumID(id);
    setStatusMessage(QStringLiteral("Created %1.").arg(album.name));
    save();
    return album;
}

void AlbumStore::renameAlbum(const QString& id, const QString& name)
{
    if (!findImportedAlbum(id))
        return;
    QList<CalmAlbum> albums = m_importedAlbums;
    for (CalmAlbum& album : albums) {
        if (album.id == id)
            album.name = trimmedOr(name, untitled + QStringLiteral(" Album"));
    }
    setImportedAlbums(std::move(albums));
    save();
}

void AlbumStore::deleteAlbum(const QString& id)
{
    if (!findImportedAlbum(id))
        return;
    QList<CalmAlbum> albums = m_importedAlbums;
    albums.removeIf([&id](const CalmAlbum& album) { return album.id == id; });
    setImportedAlbums(std::move(albums));
    QDir(albumFolder(id)).removeRecursively();
    if (m_selectedAlbumID == id)
        setSelectedAlbumID(builtInAlbumID);
    save();
}

void AlbumStore::renameTrack(const QString& trackID, const QString& albumID, const QString& title)
{
    const CalmAlbum* album = findImportedAlbum(albumID);
    if (!album || std::none_of(album->tracks.cbegin(), album->tracks.cend(),
                               [&](const CalmTrack& track) { return track.id == trackID; }))
        return;
    QList<CalmAlbum> albums = m_importedAlbums;
    for (CalmAlbum& candidate : albums) {
        if (candidate.id != albumID)
            continue;
        for (CalmTrack& track : candidate.tracks) {
            if (track.id == trackID)
                track.title = trimmedOr(title, untitled + QStringLiteral(" Track"));
        }
    }
    setImportedAlbums(std::move(albums));
    save();
}

void AlbumStore::deleteTracks(const QSet<QString>& trackIDs, const QString& albumID)
{
    const CalmAlbum* album = findImportedAlbum(albumID);
    if (!album)
        return;
    const auto matches = [&trackIDs](const CalmTrack& track) {
        return trackIDs.contains(track.id);
    };
    const auto removed = std::count_if(album->tracks.cbegin(), album->tracks.cend(), matches);
    if (removed == 0)
        return;

    for (const CalmTrack& track : album->tracks) {
        if (const auto* file = std::get_if<FileAudio>(&track.source); file && matches(track))
            QFile::remove(file->path);
    }
    QList<CalmAlbum> albums = m_importedAlbums;
    for (CalmAlbum& candidate : albums) {
        if (candidate.id == albumID)
            candidate.tracks.removeIf(matches);
    }
    setImportedAlbums(std::move(albums));
    setStatusMessage(removed == 1 ? QStringLiteral("Deleted 1 track.")
                                  : QStringLiteral("Deleted %1 tracks.").arg(removed));
    save();
}

void AlbumStore::enqueueURLImport(const QString& link, const std::optional<QString>& targetAlbumID)
{
    if (link.trimmed().isEmpty())
        return;
    clearMessages();
    m_urlImports->enqueue(link, targetAlbumID);
}

void AlbumStore::setPendingURLImportAlbumID(const QString& id)
{
    assignAndNotify(this, m_pendingURLImportAlbumID, id,
                    &AlbumStore::pendingURLImportAlbumIDChanged);
}

void AlbumStore::updateBuiltInTracks(const QList<CalmTrack>& tracks)
{
    const QList<CalmTrack>& replacement = tracks.isEmpty() ? TrackLibrary::tracks() : tracks;
    if (m_builtInAlbum.tracks != replacement) {
        m_builtInAlbum.tracks = replacement;
        Q_EMIT builtInAlbumChanged();
    }
    selectDefaultAlbumIfSelectionIsGone();
}

QString AlbumStore::albumFolder(const QString& albumID) const
{
    return m_root + QLatin1Char('/') + albumID;
}

CalmAlbum* AlbumStore::findImportedAlbum(const QString& id)
{
    for (CalmAlbum& album : m_importedAlbums) {
        if (album.id == id)
            return &album;
    }
    return nullptr;
}

void AlbumStore::load()
{
    // Downloads and copies a killed run left half done; nothing refers to them.
    QDir(URLImportQueue::partialFolder(m_root)).removeRecursively();
    const QString indexPath = m_root + QLatin1Char('/') + manifestFileName;
    QFile file(indexPath);
    if (!file.exists()) {
        setImportedAlbums({});
        return;
    }
    std::optional<QList<ImportedAlbumRecord>> records;
    m_indexStamp = indexStamp(indexPath);
    if (file.open(QIODevice::ReadOnly))
        records = decodeAlbumIndex(file.readAll());
    if (!records) {
        // Every album record is still in that file: it must not be overwritten unseen.
        m_indexIsUnreadable = true;
        setImportedAlbums({});
        return;
    }

    QList<CalmAlbum> albums;
    QSet<QString> ids;
    for (const ImportedAlbumRecord& record : *records) {
        // Ids and file names become paths the store deletes later: only plain names pass.
        // A second album of one id would share the first one's folder: deleting either
        // would delete both albums' files.
        if (!isSafePathComponent(record.id) || ids.contains(record.id) ||
            (record.artworkFileName && !isSafePathComponent(*record.artworkFileName))) {
            m_indexHasSkippedRecords = true;
            continue;
        }
        ids.insert(record.id);
        const QString folder = albumFolder(record.id);
        removePartialFiles(folder);
        CalmAlbum album{
            .id = record.id,
            .name = record.name,
            .tracks = {},
            .artwork = NoArtwork{},
            .isBuiltIn = false,
        };
        if (record.artworkFileName)
            album.artwork = FileArtwork{folder + QLatin1Char('/') + *record.artworkFileName};
        for (const ImportedTrackRecord& track : record.tracks) {
            if (!isSafePathComponent(track.fileName)) {
                m_indexHasSkippedRecords = true;
                continue;
            }
            if (!QFileInfo::exists(folder + QLatin1Char('/') + track.fileName))
                continue;
            album.tracks.append(trackFromRecord(track, record.id, folder));
        }
        albums.append(std::move(album));
    }
    setImportedAlbums(std::move(albums));
}

QString AlbumStore::keptIndexPath(const QString& kind) const
{
    const QString keptName =
        manifestFileName + QLatin1Char('.') + kind + QLatin1Char('-') +
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    QString keptPath = m_root + QLatin1Char('/') + keptName;
    for (int suffix = 2; QFileInfo::exists(keptPath); ++suffix)
        keptPath =
            m_root + QLatin1Char('/') + keptName + QLatin1Char('-') + QString::number(suffix);
    return keptPath;
}

bool AlbumStore::keepUnreadableIndex()
{
    const QString indexPath = m_root + QLatin1Char('/') + manifestFileName;
    const QString keptPath = keptIndexPath(QStringLiteral("unreadable"));
    if (QFileInfo::exists(indexPath) && !QFile::rename(indexPath, keptPath)) {
        setErrorMessage(QStringLiteral("Could not save albums: albums.json could not be read and "
                                       "could not be set aside, so it was left unchanged."));
        return false;
    }
    m_indexIsUnreadable = false;
    m_indexStamp.reset();
    setErrorMessage(QStringLiteral("albums.json could not be read; it was kept as %1.")
                        .arg(QFileInfo(keptPath).fileName()));
    return true;
}

bool AlbumStore::keepIndexWithSkippedRecords()
{
    const QString indexPath = m_root + QLatin1Char('/') + manifestFileName;
    const QString keptPath = keptIndexPath(QStringLiteral("skipped"));
    if (QFileInfo::exists(indexPath) && !QFile::copy(indexPath, keptPath)) {
        setErrorMessage(QStringLiteral("Could not save albums: albums.json holds records that "
                                       "could not be used and could not be copied aside, so it "
                                       "was left unchanged."));
        return false;
    }
    m_indexHasSkippedRecords = false;
    return true;
}

void AlbumStore::save()
{
    QDir().mkpath(m_root);
    const QString indexPath = m_root + QLatin1Char('/') + manifestFileName;
    // Another writer's albums are not to be lost under ours.
    if (!m_indexIsUnreadable && indexStamp(indexPath) != m_indexStamp) {
        setErrorMessage(QStringLiteral("Could not save albums: albums.json was changed by another "
                                       "program since Calmcove read it, so it was left "
                                       "unchanged."));
        return;
    }
    if (m_indexIsUnreadable && !keepUnreadableIndex())
        return;
    if (m_indexHasSkippedRecords && !keepIndexWithSkippedRecords())
        return;

    QList<ImportedAlbumRecord> records;
    records.reserve(m_importedAlbums.size());
    for (const CalmAlbum& album : m_importedAlbums)
        records.append(recordFromAlbum(album));
    const std::optional<QByteArray> json = encodeAlbumIndex(records);
    if (!json) {
        setErrorMessage(QStringLiteral(
            "Could not save albums: a track duration is not a number JSON can hold."));
        return;
    }

    QSaveFile file(indexPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(*json) != json->size() || !file.commit()) {
        setErrorMessage(QStringLiteral("Could not save albums: ") + file.errorString());
        return;
    }
    m_indexStamp = indexStamp(indexPath);
}

void AlbumStore::setImportedAlbums(QList<CalmAlbum> albums)
{
    assignAndNotify(this, m_importedAlbums, std::move(albums), &AlbumStore::importedAlbumsChanged);
}

void AlbumStore::setStatusMessage(const QString& message)
{
    assignAndNotify(this, m_statusMessage, message, &AlbumStore::statusMessageChanged);
}

void AlbumStore::setErrorMessage(const QString& message)
{
    assignAndNotify(this, m_errorMessage, message, &AlbumStore::errorMessageChanged);
}

void AlbumStore::clearMessages()
{
    setErrorMessage(QString());
    setStatusMessage(QString());
}

void AlbumStore::selectDefaultAlbumIfSelectionIsGone()
{
    const QList<CalmAlbum> all = albums();
    if (std::none_of(all.cbegin(), all.cend(),
                     [this](const CalmAlbum& album) { return album.id == m_selectedAlbumID; }))
        setSelectedAlbumID(builtInAlbumID);
}

} // namespace calmcove
