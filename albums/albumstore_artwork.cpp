// The artwork operations of the album store. The picture is copied on the store's file thread.

#include "albumstore.h"

#include "importfiles.h"
#include "workerfuture.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QThreadPool>

namespace calmcove {

QCoro::Task<> AlbumStore::setArtwork(QString picturePath, QString albumID)
{
    QPointer<AlbumStore> self(this);
    const SerialTurns::Turn turn = co_await m_turns.next();
    clearMessages();
    if (!findImportedAlbum(albumID))
        co_return;
    struct Copied
    {
        std::optional<QString> stored;
        bool cancelled = false;
    };
    auto copying = runOnWorker(*m_fileThread, [root = m_root, cancelled = m_cancelled,
                                               folder = albumFolder(albumID), picturePath] {
        ImportFiles files(root, cancelled.get());
        QDir().mkpath(folder);
        const Copied copied{files.copyArtworkFile(picturePath, folder), files.isCancelled()};
        if (copied.cancelled)
            files.discardWork();
        return copied;
    });
    const Copied copied = co_await std::move(copying);
    if (!self || copied.cancelled || !findImportedAlbum(albumID))
        co_return;
    if (!copied.stored) {
        setErrorMessage(QStringLiteral("Choose a JPG, PNG, or WebP image."));
        co_return;
    }
    QList<CalmAlbum> albums = m_importedAlbums;
    for (CalmAlbum& album : albums) {
        if (album.id == albumID)
            album.artwork = FileArtwork{*copied.stored};
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

} // namespace calmcove
