// The artwork operations of the album store.

#include "albumstore.h"

#include "platform/atomicfile.h"
#include "platform/unixsignalwatcher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace calmcove {

namespace {

const QStringList coverBaseNames = {QStringLiteral("cover"), QStringLiteral("folder"),
                                    QStringLiteral("front"), QStringLiteral("artwork"),
                                    QStringLiteral("album")};

} // namespace

void AlbumStore::setArtwork(const QString& picturePath, const QString& albumID)
{
    clearMessages();
    if (!findImportedAlbum(albumID))
        return;
    const QString folder = albumFolder(albumID);
    QDir().mkpath(folder);
    const std::optional<QString> stored = copyArtworkFile(picturePath, folder);
    if (!stored) {
        setErrorMessage(QStringLiteral("Choose a JPG, PNG, or WebP image."));
        return;
    }
    QList<CalmAlbum> albums = m_importedAlbums;
    for (CalmAlbum& album : albums) {
        if (album.id == albumID)
            album.artwork = FileArtwork{*stored};
    }
    setImportedAlbums(std::move(albums));
    setStatusMessage(QStringLiteral("Updated artwork."));
    save();
}

void AlbumStore::removeArtwork(const QString& albumID)
{
    if (!findImportedAlbum(albumID))
        return;
    QList<CalmAlbum> albums = m_importedAlbums;
    for (CalmAlbum& album : albums) {
        if (album.id != albumID)
            continue;
        if (const auto* file = std::get_if<FileArtwork>(&album.artwork))
            QFile::remove(file->path);
        album.artwork = NoArtwork{};
    }
    setImportedAlbums(std::move(albums));
    setStatusMessage(QStringLiteral("Removed artwork."));
    save();
}

std::optional<QString> AlbumStore::copyArtworkFile(const QString& sourcePath,
                                                   const QString& albumFolder)
{
    const QString extension = QFileInfo(sourcePath).suffix().toLower();
    if (!supportedArtworkExtensions.contains(extension))
        return std::nullopt;
    const QString target = albumFolder + QStringLiteral("/cover.") + extension;
    QString reason;
    if (!copyFileAtomically(sourcePath, target, &reason, &terminationFlag())) {
        setErrorMessage(QStringLiteral("Could not update artwork: ") + reason);
        return std::nullopt;
    }
    return target;
}

std::optional<QString> AlbumStore::artworkFile(const QString& folder) const
{
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Unsorted);
    for (const QFileInfo& entry : entries) {
        if (supportedArtworkExtensions.contains(entry.suffix().toLower()) &&
            coverBaseNames.contains(entry.completeBaseName().toLower()))
            return entry.filePath();
    }
    return std::nullopt;
}

AlbumArtwork AlbumStore::copyArtwork(const std::optional<QString>& searchFolder,
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

} // namespace calmcove
