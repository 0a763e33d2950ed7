// The import operations of the album store: folders and loose files become albums, files
// are added to albums with duplicate detection, and URL downloads become tracks.

#include "albumstore.h"
#include "importnaming.h"
#include "media/audiofile.h"
#include "platform/atomicfile.h"
#include "platform/diskspace.h"
#include "platform/unixsignalwatcher.h"

#include <filesystem>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

namespace calmcove {

namespace {

const QString importedArtist = QStringLiteral("Imported");
const QString looseTracksAlbumName = QStringLiteral("Imported Tracks");

// Seconds of decodable audio; 0 when the file cannot be read as audio.
double audioDuration(const QString& path)
{
    QString error;
    const auto file = AudioFile::open(path, &error);
    return file && file->sampleRate() > 0 ? file->duration() : 0.0;
}

QString newUUID()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

CalmTrack importedTrack(QString id, const QString& albumID, QString title, double duration,
                        const QString& path)
{
    return CalmTrack{
        .id = std::move(id),
        .albumID = albumID,
        .title = std::move(title),
        .artist = importedArtist,
        .duration = duration,
        .moods = everyMood(),
        .kind = CalmKind::all,
        .source = FileAudio{path},
    };
}

QString countText(qsizetype count, const char* singular, const char* plural)
{
    return count == 1 ? QStringLiteral("1 %1").arg(QLatin1String(singular))
                      : QStringLiteral("%1 %2").arg(count).arg(QLatin1String(plural));
}

} // namespace

bool AlbumStore::isSupportedAudioFile(const QString& path) const
{
    return supportedAudioExtensions.contains(QFileInfo(path).suffix().toLower());
}

void AlbumStore::importExternalURLs(const QStringList& filePaths)
{
    importSelection(filePaths);
}

void AlbumStore::importSelection(const QStringList& paths)
{
    clearMessages();
    QStringList folders;
    QStringList looseFiles;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (info.isDir())
            folders.append(path);
        else if (isSupportedAudioFile(path))
            looseFiles.append(path);
    }

    QList<CalmAlbum> made;
    for (const QString& folder : folders) {
        const QStringList files = audioFiles(folder);
        if (files.isEmpty())
            continue;
        if (auto album = createAlbumFromFiles(withoutControlCharacters(QDir(folder).dirName()),
                                              files, folder))
            made.append(std::move(*album));
    }
    if (!looseFiles.isEmpty()) {
        if (auto album =
                createAlbumFromFiles(defaultLooseTracksAlbumName(), looseFiles, std::nullopt))
            made.append(std::move(*album));
    }

    if (!made.isEmpty()) {
        const QString lastID = made.last().id;
        setImportedAlbums(m_importedAlbums + made);
        setSelectedAlbumID(lastID);
    }
    finishImport(int(made.size()));
}

QStringList AlbumStore::audioFiles(const QString& folder) const
{
    QStringList files;
    // Hidden files are skipped and hidden folders are not entered.
    QDirIterator walk(folder, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        const QString path = walk.next();
        if (isSupportedAudioFile(path))
            files.append(path);
    }
    return files;
}

std::optional<CalmAlbum>
AlbumStore::createAlbumFromFiles(const QString& name, QStringList sourceFiles,
                                 const std::optional<QString>& artworkSearchFolder)
{
    const QString id = newUUID();
    const QString folder = albumFolder(id);
    std::error_code error;
    std::filesystem::create_directories(QFile::encodeName(folder).toStdString(), error);
    if (error) {
        setErrorMessage(QStringLiteral("Could not create album folder: ") +
                        QString::fromStdString(error.message()));
        return std::nullopt;
    }
    const AlbumArtwork artwork = copyArtwork(artworkSearchFolder, folder);

    sortByFileName(sourceFiles);
    QList<CalmTrack> tracks;
    for (qsizetype position = 0; position < sourceFiles.size(); ++position) {
        const QString& source = sourceFiles[position];
        const auto copy = copyAudioFile(source, folder, int(position + 1));
        if (!copy)
            continue;
        tracks.append(importedTrack(id + QLatin1Char('-') + QFileInfo(*copy).completeBaseName(), id,
                                    trackTitle(QFileInfo(source).fileName()), audioDuration(*copy),
                                    *copy));
    }
    if (tracks.isEmpty()) {
        QDir(folder).removeRecursively();
        setErrorMessage(QStringLiteral("No supported audio files could be imported."));
        return std::nullopt;
    }
    const QString trimmed = name.trimmed();
    return CalmAlbum{
        .id = id,
        .name = trimmed.isEmpty() ? QStringLiteral("Imported Album") : trimmed,
        .tracks = std::move(tracks),
        .artwork = artwork,
        .isBuiltIn = false,
    };
}

std::optional<QString> AlbumStore::copyAudioFile(const QString& sourcePath,
                                                 const QString& albumFolder, int number)
{
    if (!isSupportedAudioFile(sourcePath))
        return std::nullopt;
    const QString target =
        albumFolder + QLatin1Char('/') + copiedFileName(QFileInfo(sourcePath).fileName(), number);
    const QString sourceName = withoutControlCharacters(QFileInfo(sourcePath).fileName());
    // Once the program is asked to quit, the remaining files are left for another time.
    if (terminationFlag().load())
        return std::nullopt;
    // A file that does not decode as audio is skipped like any unsupported file.
    if (!decodesAsAudio(sourcePath))
        return std::nullopt;
    if (!roomFor(QFileInfo(sourcePath).size(), {albumFolder}, DiskReserve{})) {
        setErrorMessage(QStringLiteral("Could not import %1: there is not enough free disk space.")
                            .arg(sourceName));
        return std::nullopt;
    }
    // Whole or not at all under the final name, replacing a file of that name in one step;
    // a quit request stops the copy between blocks.
    QString reason;
    if (!copyFileAtomically(sourcePath, target, &reason, &terminationFlag())) {
        setErrorMessage(QStringLiteral("Could not import %1: %2").arg(sourceName, reason));
        return std::nullopt;
    }
    return target;
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

void AlbumStore::addTracks(const QStringList& paths, const QString& albumID)
{
    clearMessages();
    const CalmAlbum* found = findImportedAlbum(albumID);
    if (!found)
        return;
    CalmAlbum album = *found;
    const QString folder = albumFolder(albumID);
    QDir().mkpath(folder);

    struct Candidate
    {
        QString path;
        QString title;
        double duration;
    };
    QStringList supported;
    for (const QString& path : paths) {
        if (isSupportedAudioFile(path) && !QFileInfo(path).isDir())
            supported.append(path);
    }
    sortByFileName(supported);
    QList<Candidate> candidates;
    for (const QString& path : supported) {
        if (decodesAsAudio(path))
            candidates.append({path, trackTitle(QFileInfo(path).fileName()), audioDuration(path)});
    }

    QList<const Candidate*> duplicates;
    for (const Candidate& candidate : candidates) {
        if (duplicateTrackIndex(album.tracks, candidate.title, candidate.duration))
            duplicates.append(&candidate);
    }
    // Asked only when the album already holds one of the files.
    std::optional<DuplicateResolution> resolution;
    if (!duplicates.isEmpty()) {
        resolution =
            confirmDuplicateImport(int(duplicates.size()), duplicates.first()->title, album.name);
        if (resolution == DuplicateResolution::cancel) {
            setStatusMessage(QStringLiteral("Import canceled."));
            return;
        }
    }

    int added = 0;
    int skipped = 0;
    for (const Candidate& candidate : candidates) {
        const auto makeTrack = [&](const QString& copy) {
            const double duration =
                candidate.duration > 0 ? candidate.duration : audioDuration(copy);
            return importedTrack(albumID + QLatin1Char('-') + QFileInfo(copy).completeBaseName() +
                                     QLatin1Char('-') + newUUID(),
                                 albumID, candidate.title, duration, copy);
        };
        const auto duplicate =
            duplicateTrackIndex(album.tracks, candidate.title, candidate.duration);
        if (duplicate && resolution == DuplicateResolution::skip) {
            ++skipped;
            continue;
        }
        if (duplicate && resolution == DuplicateResolution::replace) {
            const auto copy = copyAudioFile(candidate.path, folder, int(*duplicate + 1));
            if (!copy)
                continue;
            const CalmTrack& old = album.tracks[*duplicate];
            if (const auto* file = std::get_if<FileAudio>(&old.source); file && file->path != *copy)
                QFile::remove(file->path);
            album.tracks[*duplicate] = makeTrack(*copy);
            ++added;
            continue;
        }
        const auto copy = copyAudioFile(candidate.path, folder, int(album.tracks.size() + 1));
        if (!copy)
            continue;
        album.tracks.append(makeTrack(*copy));
        ++added;
    }

    QList<CalmAlbum> albums = m_importedAlbums;
    for (CalmAlbum& candidate : albums) {
        if (candidate.id == albumID)
            candidate = album;
    }
    setImportedAlbums(std::move(albums));
    setSelectedAlbumID(albumID);

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

URLImportOutcome AlbumStore::addDownloadedTrack(const DownloadedAudio& download)
{
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
    CalmAlbum album =
        existing ? *existing : CalmAlbum{newUUID(), urlAlbumName, {}, NoArtwork{}, false};
    const QString folder = albumFolder(album.id);
    if (!QDir().mkpath(folder))
        return {URLImportJob::State::failed, QStringLiteral("Could not create the album folder.")};

    const QString& title = download.title;
    const double duration = audioDuration(download.path);
    const std::optional<qsizetype> duplicate = duplicateTrackIndex(album.tracks, title, duration);
    if (duplicate) {
        switch (confirmDuplicateImport(1, title, album.name)) {
        case DuplicateResolution::cancel:
            return {URLImportJob::State::finished, QStringLiteral("Import canceled.")};
        case DuplicateResolution::skip:
            return {URLImportJob::State::finished, QStringLiteral("Skipped duplicate track.")};
        case DuplicateResolution::replace:
            break;
        }
    }

    const int number = int(duplicate ? *duplicate + 1 : album.tracks.size() + 1);
    const QString target = folder + QLatin1Char('/') +
                           copiedFileName(title + QLatin1Char('.') + download.extension, number);
    // On disk first, then renamed over the final name (a replaced duplicate included).
    QString placementError;
    if (!syncFile(download.path, &placementError) ||
        !renameOnto(download.path, target, &placementError))
        return {URLImportJob::State::failed,
                QStringLiteral("Could not add the track to the album: ") + placementError};

    CalmTrack track{
        .id = album.id + QLatin1Char('-') + QFileInfo(target).completeBaseName() +
              QLatin1Char('-') + newUUID(),
        .albumID = album.id,
        .title = title,
        .artist = download.artist,
        .duration = duration > 0 ? duration : audioDuration(target),
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
    return {URLImportJob::State::finished,
            duplicate ? QStringLiteral("Replaced %1 in %2.").arg(title, album.name)
                      : QStringLiteral("Imported %1 to %2.").arg(title, album.name)};
}

} // namespace calmcove
