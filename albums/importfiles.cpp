#include "importfiles.h"

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
const QStringList coverBaseNames = {QStringLiteral("cover"), QStringLiteral("folder"),
                                    QStringLiteral("front"), QStringLiteral("artwork"),
                                    QStringLiteral("album")};

} // namespace

ImportFiles::ImportFiles(QString rootDirectory, const std::atomic<bool>* cancelled)
    : m_root(std::move(rootDirectory)), m_cancelled(cancelled)
{}

bool ImportFiles::isCancelled() const
{
    return (m_cancelled && m_cancelled->load()) || terminationFlag().load();
}

bool ImportFiles::isSupportedAudioFile(const QString& path)
{
    return AlbumStore::supportedAudioExtensions.contains(QFileInfo(path).suffix().toLower());
}

QStringList ImportFiles::audioFiles(const QString& folder)
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

std::optional<QString> ImportFiles::artworkFile(const QString& folder)
{
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Unsorted);
    for (const QFileInfo& entry : entries) {
        if (AlbumStore::supportedArtworkExtensions.contains(entry.suffix().toLower()) &&
            coverBaseNames.contains(entry.completeBaseName().toLower()))
            return entry.filePath();
    }
    return std::nullopt;
}

double ImportFiles::audioDuration(const QString& path)
{
    QString error;
    const auto file = AudioFile::open(path, &error);
    return file && file->sampleRate() > 0 ? file->duration() : 0.0;
}

QList<ImportFiles::Candidate> ImportFiles::trackCandidates(const QStringList& paths) const
{
    QStringList supported;
    for (const QString& path : paths) {
        if (isSupportedAudioFile(path) && !QFileInfo(path).isDir())
            supported.append(path);
    }
    sortByFileName(supported);
    QList<Candidate> candidates;
    for (const QString& path : supported) {
        if (isCancelled())
            break;
        if (decodesAsAudio(path))
            candidates.append({path, trackTitle(QFileInfo(path).fileName()), audioDuration(path)});
    }
    return candidates;
}

QString ImportFiles::newUUID()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

CalmTrack ImportFiles::importedTrack(QString id, const QString& albumID, QString title,
                                     double duration, const QString& path)
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

QList<ImportFiles::MadeAlbum> ImportFiles::importSelection(const QStringList& paths)
{
    QStringList folders;
    QStringList looseFiles;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (info.isDir())
            folders.append(path);
        else if (isSupportedAudioFile(path))
            looseFiles.append(path);
    }

    QList<MadeAlbum> made;
    for (const QString& folder : folders) {
        const QStringList files = audioFiles(folder);
        if (files.isEmpty())
            continue;
        if (auto album = createAlbumFromFiles(withoutControlCharacters(QDir(folder).dirName()),
                                              files, folder))
            made.append({std::move(*album), false});
    }
    if (!looseFiles.isEmpty()) {
        if (auto album = createAlbumFromFiles(QString(), looseFiles, std::nullopt))
            made.append({std::move(*album), true});
    }
    return made;
}

std::optional<CalmAlbum>
ImportFiles::createAlbumFromFiles(const QString& name, QStringList sourceFiles,
                                  const std::optional<QString>& artworkSearchFolder)
{
    if (isCancelled())
        return std::nullopt;
    const QString id = newUUID();
    const QString folder = m_root + QLatin1Char('/') + id;
    std::error_code error;
    std::filesystem::create_directories(QFile::encodeName(folder).toStdString(), error);
    if (error) {
        m_errorMessage = QStringLiteral("Could not create album folder: ") +
                         QString::fromStdString(error.message());
        return std::nullopt;
    }
    m_createdFolders.append(folder);
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
        m_createdFolders.removeAll(folder);
        if (!isCancelled())
            m_errorMessage = QStringLiteral("No supported audio files could be imported.");
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

ImportFiles::AddedTracks ImportFiles::addTracks(const CalmAlbum& album, const QString& albumFolder,
                                                const QList<Candidate>& candidates,
                                                std::optional<DuplicateResolution> resolution)
{
    QDir().mkpath(albumFolder);
    // The album as it grows, so that a later file can match one added before it.
    QList<CalmTrack> tracks = album.tracks;
    AddedTracks result;
    for (const Candidate& candidate : candidates) {
        const auto makeTrack = [&](const QString& copy) {
            const double duration =
                candidate.duration > 0 ? candidate.duration : audioDuration(copy);
            return importedTrack(album.id + QLatin1Char('-') + QFileInfo(copy).completeBaseName() +
                                     QLatin1Char('-') + newUUID(),
                                 album.id, candidate.title, duration, copy);
        };
        const auto duplicate = duplicateTrackIndex(tracks, candidate.title, candidate.duration);
        if (duplicate && resolution == DuplicateResolution::skip) {
            ++result.skipped;
            continue;
        }
        if (duplicate && resolution == DuplicateResolution::replace) {
            const auto copy = copyAudioFile(candidate.path, albumFolder, int(*duplicate + 1));
            if (!copy)
                continue;
            const CalmTrack track = makeTrack(*copy);
            result.changes.append({tracks[*duplicate].id, track});
            tracks[*duplicate] = track;
            ++result.added;
            continue;
        }
        const auto copy = copyAudioFile(candidate.path, albumFolder, int(tracks.size() + 1));
        if (!copy)
            continue;
        const CalmTrack track = makeTrack(*copy);
        result.changes.append({std::nullopt, track});
        tracks.append(track);
        ++result.added;
    }
    return result;
}

std::optional<QString> ImportFiles::copyAudioFile(const QString& sourcePath,
                                                  const QString& albumFolder, int number)
{
    if (!isSupportedAudioFile(sourcePath))
        return std::nullopt;
    const QString target =
        albumFolder + QLatin1Char('/') + copiedFileName(QFileInfo(sourcePath).fileName(), number);
    const QString sourceName = withoutControlCharacters(QFileInfo(sourcePath).fileName());
    // Once the operation is abandoned, the remaining files are left for another time.
    if (isCancelled())
        return std::nullopt;
    // A file that does not decode as audio is skipped like any unsupported file.
    if (!decodesAsAudio(sourcePath))
        return std::nullopt;
    if (!roomFor(QFileInfo(sourcePath).size(), {albumFolder}, DiskReserve{})) {
        m_errorMessage = QStringLiteral("Could not import %1: there is not enough free disk space.")
                             .arg(sourceName);
        return std::nullopt;
    }
    // Whole or not at all under the final name, replacing a file of that name in one step;
    // cancelling stops the copy between blocks.
    const bool replaces = QFileInfo::exists(target);
    QString reason;
    if (!copyFileAtomically(sourcePath, target, &reason, m_cancelled)) {
        if (!isCancelled())
            m_errorMessage = QStringLiteral("Could not import %1: %2").arg(sourceName, reason);
        return std::nullopt;
    }
    if (!replaces)
        m_newFiles.append(target);
    return target;
}

std::optional<QString> ImportFiles::copyArtworkFile(const QString& sourcePath,
                                                    const QString& albumFolder)
{
    const QString extension = QFileInfo(sourcePath).suffix().toLower();
    if (!AlbumStore::supportedArtworkExtensions.contains(extension))
        return std::nullopt;
    const QString target = albumFolder + QStringLiteral("/cover.") + extension;
    const bool replaces = QFileInfo::exists(target);
    QString reason;
    if (!copyFileAtomically(sourcePath, target, &reason, m_cancelled)) {
        m_errorMessage = QStringLiteral("Could not update artwork: ") + reason;
        return std::nullopt;
    }
    if (!replaces)
        m_newFiles.append(target);
    return target;
}

AlbumArtwork ImportFiles::copyArtwork(const std::optional<QString>& searchFolder,
                                      const QString& albumFolder)
{
    if (!searchFolder)
        return NoArtwork{};
    const std::optional<QString> picture = artworkFile(*searchFolder);
    if (!picture)
        return NoArtwork{};
    if (const auto stored = copyArtworkFile(*picture, albumFolder))
        return FileArtwork{*stored};
    return NoArtwork{};
}

void ImportFiles::discardWork()
{
    for (const QString& file : std::as_const(m_newFiles))
        QFile::remove(file);
    for (const QString& folder : std::as_const(m_createdFolders))
        QDir(folder).removeRecursively();
    m_newFiles.clear();
    m_createdFolders.clear();
}

} // namespace calmcove
