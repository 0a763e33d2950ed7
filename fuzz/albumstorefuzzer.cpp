// albums.json as the album store loads it: never crashes, every album it keeps has a
// unique plain id, every file it refers to lies inside its album's folder, and a save
// keeps the original beside it when records were skipped.

#include "albums/albumstore.h"
#include "model/pathcomponent.h"
#include "platform/userdefaults.h"

#include <cstdlib>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

namespace {

bool inside(const QString& path, const QString& folder)
{
    return QFileInfo(path).absolutePath() == QFileInfo(folder).absoluteFilePath();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir folder;
    static calmcove::UserDefaults defaults(folder.path() + QStringLiteral("/settings.conf"));
    const QString root = folder.path() + QStringLiteral("/albums");
    QDir(root).removeRecursively();
    QDir().mkpath(root + QStringLiteral("/A"));
    QFile(root + QStringLiteral("/A/01-a.mp3")).open(QIODevice::WriteOnly);
    QFile index(root + QStringLiteral("/albums.json"));
    if (!index.open(QIODevice::WriteOnly))
        return 0;
    index.write(reinterpret_cast<const char*>(data), qint64(size));
    index.close();

    calmcove::AlbumStore store(defaults, root);
    QSet<QString> ids;
    for (const calmcove::CalmAlbum& album : store.importedAlbums()) {
        if (!calmcove::isSafePathComponent(album.id) || ids.contains(album.id))
            std::abort();
        ids.insert(album.id);
        const QString albumFolder = root + QLatin1Char('/') + album.id;
        for (const calmcove::CalmTrack& track : album.tracks) {
            const auto* file = std::get_if<calmcove::FileAudio>(&track.source);
            if (!file || !inside(file->path, albumFolder))
                std::abort();
        }
        if (const auto* artwork = std::get_if<calmcove::FileArtwork>(&album.artwork);
            artwork && !inside(artwork->path, albumFolder))
            std::abort();
    }
    if (!store.importedAlbums().isEmpty())
        store.renameAlbum(store.importedAlbums().first().id, QStringLiteral("Renamed"));
    return 0;
}
