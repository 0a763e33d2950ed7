// The import operations of the album store: folders and loose files become albums, files
// are added to albums with duplicate detection, and URL downloads become tracks. The file
// work of local imports runs on the store's file thread (ImportFiles); what it made is
// recorded here, on the main thread, in the albums as they are by then.

#include "albumstore.h"
#include "importfiles.h"
#include "importnaming.h"
#include "platform/atomicfile.h"
#include "workerfuture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>

namespace calmcove {

namespace {

const QString looseTracksAlbumName = QStringLiteral("Imported Tracks");

QString countText(qsizetype count, const char* singular, const char* plural)
{
    return count == 1 ? QStringLiteral("1 %1").arg(QLatin1String(singular))
                      : QStringLiteral("%1 %2").arg(count).arg(QLatin1String(plural));
}

// What a file operation made off the main thread, with the last failure's text; nothing of
// a cancelled one is left on disk.
template <typename Made> struct FileWork
{
    Made made;
    QString errorMessage;
    bool cancelled = false;
};

template <typename Made, typename Work>
FileWork<Made> doFileWork(const QString& root, const std::atomic<bool>* cancelled, Work work)
{
    ImportFiles files(root, cancelled);
    FileWork<Made> result{work(files), files.errorMessage(), files.isCancelled()};
    if (result.cancelled)
        files.discardWork();
    return result;
}

} // namespace

QCoro::Task<> AlbumStore::importExternalURLs(QStringList filePaths)
{
    return importSelection(std::move(filePaths));
}

QCoro::Task<> AlbumStore::importSelection(QStringList paths)
{
    QPointer<AlbumStore> self(this);
    const SerialTurns::Turn turn = co_await m_turns.next();
    clearMessages();
    using Made = QList<ImportFiles::MadeAlbum>;
    auto copying = runOnWorker(*m_fileThread, [root = m_root, cancelled = m_cancelled, paths] {
        return doFileWork<Made>(root, cancelled.get(), [&paths](ImportFiles& files) {
            return files.importSelection(paths);
        });
    });
    const FileWork<Made> work = co_await std::move(copying);
    if (!self || work.cancelled)
        co_return;
    if (!work.errorMessage.isNull())
        setErrorMessage(work.errorMessage);

    QList<CalmAlbum> made;
    for (const ImportFiles::MadeAlbum& album : work.made) {
        made.append(album.album);
        if (album.holdsLooseFiles)
            made.last().name = defaultLooseTracksAlbumName();
    }
    if (!made.isEmpty()) {
        const QString lastID = made.last().id;
        setImportedAlbums(m_importedAlbums + made);
        setSelectedAlbumID(lastID);
    }
    finishImport(int(made.size()));
}

QString AlbumStore::defaultLooseTracksAlbumName() const
{
    const auto taken = [this](const QString& name) {
        return std::any_of(m_importedAlbums.cbegin(), m_importedAlbums.cend(),
                           [&name](const CalmAlbum& album) { return album.name == name; });
    };
    if (!taken(looseTracksAlbumName))
        return looseTracksAlbumName;
    for (int number = 2;; ++number) {
        const QString candidate = looseTracksAlbumName + QLatin1Char(' ') + QString::number(number);
        if (!taken(candidate))
            return candidate;
    }
}

void AlbumStore::finishImport(int importedAlbumCount)
{
    if (importedAlbumCount == 0) {
        setErrorMessage(QStringLiteral("No supported audio files found."));
        return;
    }
    setStatusMessage(QStringLiteral("Imported ") +
                     countText(importedAlbumCount, "album", "albums") + QLatin1Char('.'));
    save();
}

DuplicateResolution AlbumStore::confirmDuplicateImport(int count, const QString& sampleTitle,
                                                       const QString& albumName)
{
    if (!m_dialogs)
        return DuplicateResolution::skip;
    return m_dialogs->confirmDuplicateImport(count, sampleTitle, albumName);
}

QCoro::Task<> AlbumStore::addTracks(QStringList paths, QString albumID)
{
    QPointer<AlbumStore> self(this);
    const SerialTurns::Turn turn = co_await m_turns.next();
    clearMessages();
    if (!findImportedAlbum(albumID))
        co_return;
    const QString folder = albumFolder(albumID);
    auto checking =
        runOnWorker(*m_fileThread, [root = m_root, cancelled = m_cancelled, paths, folder] {
            QDir().mkpath(folder);
            return ImportFiles(root, cancelled.get()).trackCandidates(paths);
        });
    const QList<ImportFiles::Candidate> candidates = co_await std::move(checking);
    // The album may have gone or changed while the files were read.
    const CalmAlbum* found = self ? findImportedAlbum(albumID) : nullptr;
    if (!found)
        co_return;
    const CalmAlbum album = *found;

    QList<const ImportFiles::Candidate*> duplicates;
    for (const ImportFiles::Candidate& candidate : candidates) {
        if (duplicateTrackIndex(album.tracks, candidate.title, candidate.duration))
            duplicates.append(&candidate);
    }
    // Asked only when the album already holds one of the files.
    std::optional<DuplicateResolution> resolution;
    if (!duplicates.isEmpty()) {
        resolution =
            confirmDuplicateImport(int(duplicates.size()), duplicates.first()->title, album.name);
        if (!self)
            co_return;
        if (resolution == DuplicateResolution::cancel) {
            setStatusMessage(QStringLiteral("Import canceled."));
            co_return;
        }
    }

    using Made = ImportFiles::AddedTracks;
    auto copying = runOnWorker(*m_fileThread, [root = m_root, cancelled = m_cancelled, album,
                                               folder, candidates, resolution] {
        return doFileWork<Made>(root, cancelled.get(), [&](ImportFiles& files) {
            return files.addTracks(album, folder, candidates, resolution);
        });
    });
    const FileWork<Made> work = co_await std::move(copying);
    if (!self || work.cancelled)
        co_return;
    if (!work.errorMessage.isNull())
        setErrorMessage(work.errorMessage);
    CalmAlbum* current = findImportedAlbum(albumID);
    if (!current) {
        // Deleted during the copy, folder and all.
        for (const ImportFiles::TrackChange& change : work.made.changes)
            QFile::remove(std::get<FileAudio>(change.track.source).path);
        co_return;
    }

    // Into the album as it is now: a track the user renamed or deleted meanwhile stays so.
    CalmAlbum changed = *current;
    for (const ImportFiles::TrackChange& change : work.made.changes) {
        const auto replaced =
            std::find_if(changed.tracks.begin(), changed.tracks.end(), [&](const CalmTrack& track) {
                return change.replacedTrackID && track.id == *change.replacedTrackID;
            });
        if (replaced == changed.tracks.end()) {
            changed.tracks.append(change.track);
            continue;
        }
        const QString& copy = std::get<FileAudio>(change.track.source).path;
        if (const auto* file = std::get_if<FileAudio>(&replaced->source);
            file && file->path != copy)
            QFile::remove(file->path);
        *replaced = change.track;
    }
    QList<CalmAlbum> albums = m_importedAlbums;
    for (CalmAlbum& candidate : albums) {
        if (candidate.id == albumID)
            candidate = changed;
    }
    setImportedAlbums(std::move(albums));
    setSelectedAlbumID(albumID);

    const int added = work.made.added;
    const int skipped = work.made.skipped;
    if (added > 0) {
        QString message =
            QStringLiteral("Added ") + countText(added, "track", "tracks") + QLatin1Char('.');
        if (skipped > 0)
            message += QStringLiteral(" Skipped ") + countText(skipped, "duplicate", "duplicates") +
                       QLatin1Char('.');
        setStatusMessage(message);
    } else if (skipped > 0) {
        setStatusMessage(QStringLiteral("Skipped ") +
                         countText(skipped, "duplicate", "duplicates") + QLatin1Char('.'));
    } else {
        setErrorMessage(QStringLiteral("No supported audio files found."));
    }
    save();
}

QCoro::Task<URLImportOutcome> AlbumStore::addDownloadedTrack(DownloadedAudio download)
{
    QPointer<AlbumStore> self(this);
    const SerialTurns::Turn turn = co_await m_turns.next();
    // The length is read and the bytes flushed to disk off the main thread: a URL import may
    // be gigabytes.
    struct Prepared
    {
        double duration = 0;
        std::optional<QString> syncError;
    };
    auto preparing = runOnWorker(*m_fileThread, [path = download.path] {
        QString error;
        return Prepared{ImportFiles::audioDuration(path),
                        syncFile(path, &error) ? std::nullopt : std::optional(error)};
    });
    const Prepared prepared = co_await std::move(preparing);
    if (!self)
        co_return URLImportOutcome{URLImportJob::State::failed, QString()};

    const CalmAlbum* existing =
        download.targetAlbumID ? findImportedAlbum(*download.targetAlbumID) : nullptr;
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
                          : CalmAlbum{ImportFiles::newUUID(), urlAlbumName, {}, NoArtwork{}, false};
    const QString folder = albumFolder(album.id);
    if (!QDir().mkpath(folder))
        co_return URLImportOutcome{URLImportJob::State::failed,
                                   QStringLiteral("Could not create the album folder.")};

    const QString& title = download.title;
    const double duration = prepared.duration;
    const std::optional<qsizetype> duplicate = duplicateTrackIndex(album.tracks, title, duration);
    if (duplicate) {
        switch (confirmDuplicateImport(1, title, album.name)) {
        case DuplicateResolution::cancel:
            co_return URLImportOutcome{URLImportJob::State::finished,
                                       QStringLiteral("Import canceled.")};
        case DuplicateResolution::skip:
            co_return URLImportOutcome{URLImportJob::State::finished,
                                       QStringLiteral("Skipped duplicate track.")};
        case DuplicateResolution::replace:
            break;
        }
    }

    const int number = int(duplicate ? *duplicate + 1 : album.tracks.size() + 1);
    const QString target = folder + QLatin1Char('/') +
                           copiedFileName(title + QLatin1Char('.') + download.extension, number);
    // On disk first, then renamed over the final name (a replaced duplicate included).
    QString placementError = prepared.syncError.value_or(QString());
    if (prepared.syncError || !renameOnto(download.path, target, &placementError))
        co_return URLImportOutcome{URLImportJob::State::failed,
                                   QStringLiteral("Could not add the track to the album: ") +
                                       placementError};

    CalmTrack track{
        .id = album.id + QLatin1Char('-') + QFileInfo(target).completeBaseName() +
              QLatin1Char('-') + ImportFiles::newUUID(),
        .albumID = album.id,
        .title = title,
        .artist = download.artist,
        .duration = duration,
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
    save();
    co_return URLImportOutcome{URLImportJob::State::finished,
                               duplicate
                                   ? QStringLiteral("Replaced %1 in %2.").arg(title, album.name)
                                   : QStringLiteral("Imported %1 to %2.").arg(title, album.name)};
}

} // namespace calmcove
